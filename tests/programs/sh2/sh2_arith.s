! 64-bit chains of addc, subc and negc and the 64-bit products, over records
! {a high, a low, b high, b low} at 0x06010004 (count at 0x06010000).
! Per record, 13 longs at 0x06020000: a+b (high, low, carry), a-b (high,
! low, borrow), -a (high, low, T), dmuls.l and dmulu.l of the low words
! (MACH, MACL each).
! base: 0x06004000
	.include "saturn.inc"
	.macro	store reg
	mov.l	\reg, @r10
	add	#4, r10
	.endm
start:
	mov.l	table, r8
	mov.l	@r8+, r9
	mov.l	results, r10
loop:
	mov.l	@r8+, r1
	mov.l	@r8+, r2
	mov.l	@r8+, r3
	mov.l	@r8+, r4
	mov	r1, r5
	mov	r2, r6
	clrt
	addc	r4, r6
	addc	r3, r5
	movt	r7
	store	r5
	store	r6
	store	r7
	mov	r1, r5
	mov	r2, r6
	clrt
	subc	r4, r6
	subc	r3, r5
	movt	r7
	store	r5
	store	r6
	store	r7
	clrt
	negc	r2, r6
	negc	r1, r5
	movt	r7
	store	r5
	store	r6
	store	r7
	dmuls.l	r4, r2
	sts	mach, r5
	sts	macl, r6
	store	r5
	store	r6
	dmulu.l	r4, r2
	sts	mach, r5
	sts	macl, r6
	store	r5
	store	r6
	dt	r9
	bf	loop
	report_done done
	.align	2
table:	.long	PROGRAM_TABLE
results:	.long	PROGRAM_RESULTS
done:	.long	PROGRAM_DONE
