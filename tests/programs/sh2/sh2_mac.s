! mac.w and mac.l over records of 24 bytes at 0x06010004 (count at
! 0x06010000): MACH, MACL, S (0 or 2), kind (0 mac.w, 1 mac.l), operand at
! Rn (+16), operand at Rm (+20). MACH and MACL after each go to 0x06020000.
! base: 0x06004000
	.include "saturn.inc"
start:
	mov.l	table, r8
	mov.l	@r8+, r9
	mov.l	results, r10
loop:
	mov.l	@(0,r8), r0
	lds	r0, mach
	mov.l	@(4,r8), r0
	lds	r0, macl
	mov.l	@(8,r8), r3
	stc	sr, r0
	and	#0xFD, r0
	or	r3, r0
	ldc	r0, sr
	mov	r8, r4
	add	#16, r4
	mov	r8, r5
	add	#20, r5
	mov.l	@(12,r8), r0
	cmp/eq	#0, r0
	bf	is_long
	mac.w	@r5+, @r4+
	bra	stored
	nop
is_long:
	mac.l	@r5+, @r4+
stored:
	sts	mach, r0
	mov.l	r0, @r10
	add	#4, r10
	sts	macl, r0
	mov.l	r0, @r10
	add	#4, r10
	add	#24, r8
	dt	r9
	bf	loop
	report_done done
	.align	2
table:	.long	PROGRAM_TABLE
results:	.long	PROGRAM_RESULTS
done:	.long	PROGRAM_DONE
