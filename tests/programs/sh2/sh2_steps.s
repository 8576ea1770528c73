! A main line with nested calls for the debugger's step into, over and out.
! The labels behind the first branch: main, call1, after1, sub, call2,
! after2, sub2, ret1.
! base: 0x06004000
start:
	bra	main
	nop
	.long	main, call1, after1, sub, call2, after2, sub2, ret1
main:
	mov	#1, r1
call1:
	bsr	sub
	nop
after1:
	mov	#3, r3
end:
	bra	end
	nop
sub:
	sts.l	pr, @-r15
	mov	#2, r2
call2:
	bsr	sub2
	nop
after2:
	lds.l	@r15+, pr
ret1:
	rts
	nop
sub2:
	add	#1, r2
	rts
	add	#1, r2
