! Branches of every kind for the disassembly view, in a loop that runs
! until a breakpoint stops it: bf/s to skip is always taken, bt/s never.
! base: 0x06004000
start:
	mov	#5, r3
	mov	#0, r1
loop:
	add	#1, r1
	cmp/eq	#100, r0
	bt	done
	bf/s	skip
	nop
back:
	bra	loop
	nop
skip:
	bt/s	back
	nop
	bsr	sub
	nop
	bra	back
	nop
sub:
	rts
	add	#2, r2
done:
	bra	done
	nop
