! A known instruction mix; the long behind the first branch is the address
! where it ends. From start to end: 3 for the first branch, 31 from main.
! base: 0x06004000
start:
	bra	main
	nop
	.long	end
main:
	mov	#5, r1		! 1
	add	r1, r2		! 1
	mul.l	r1, r2		! 2
	dmuls.l	r1, r2		! 2
	mov.l	r2, @-r15	! 1
	mov.l	@r15+, r3	! 1
	tst	r1, r1		! 1
	bt	main		! 1, not taken
	bf	target		! 3, taken
	nop
target:
	bra	next		! 2
	nop			! 1
next:
	stc.l	sr, @-r15	! 2
	ldc.l	@r15+, sr	! 3
	mov.l	sub_addr, r5	! 1
	jsr	@r5		! 2
	nop			! 1
	bra	end		! 2
	nop			! 1
end:
	bra	end
	nop
sub:
	rts			! 2
	nop			! 1
	.align	2
sub_addr:	.long	sub
