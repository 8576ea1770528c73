! The manual's 32-step division, unsigned and signed, over a table of
! operand pairs that the test writes at 0x06010000 (count, then dividend and
! divisor pairs). Quotients go to 0x06020000, unsigned then signed.
! base: 0x06004000
	.include "saturn.inc"
start:
	mov.l	table, r8
	mov.l	@r8+, r9
	mov.l	results, r10
loop:
	mov.l	@r8+, r4
	mov.l	@r8+, r0
	! unsigned: r2:r1 / r0
	mov	r4, r1
	mov	#0, r2
	div0u
	.rept	32
	rotcl	r1
	div1	r0, r2
	.endr
	rotcl	r1
	mov.l	r1, @r10
	add	#4, r10
	! signed: sign-extend into r2, one's complement in, two's complement out
	mov	r4, r1
	mov	r1, r2
	rotcl	r2
	subc	r2, r2
	xor	r3, r3
	subc	r3, r1
	div0s	r0, r2
	.rept	32
	rotcl	r1
	div1	r0, r2
	.endr
	rotcl	r1
	addc	r3, r1
	mov.l	r1, @r10
	add	#4, r10
	dt	r9
	bt	finish
	bra	loop
	nop
finish:
	report_done done
	.align	2
table:	.long	PROGRAM_TABLE
results:	.long	PROGRAM_RESULTS
done:	.long	PROGRAM_DONE
