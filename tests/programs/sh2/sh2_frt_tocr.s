! The FRT's two compare registers behind TOCR's select bit. OCRA is set
! first, then TOCR selects OCRB and the same two offsets set OCRB; both
! read back, and a counter started from 0 meets compare B before A.
! Results at 0x06020000:
!   +0  TOCR after writing 0x13     +4  OCRB read through the select
!   +8  TOCR after writing 0x00     +12 OCRA read back
!   +16 FTCSR when compare B hit    +20 FRC then
!   +24 FTCSR when compare A hit
! base: 0x06004000
	.include "saturn.inc"
start:
	mov.l	frt,r9
	mov.l	results,r10
	mov	#0x01,r0		! OCRA := 0x0100
	mov.b	r0,@(4,r9)
	mov	#0x00,r0
	mov.b	r0,@(5,r9)
	mov	#0x13,r0		! select OCRB, both output levels 1
	mov.b	r0,@(7,r9)
	mov	#0x00,r0		! OCRB := 0x0040
	mov.b	r0,@(4,r9)
	mov	#0x40,r0
	mov.b	r0,@(5,r9)
	mov.b	@(7,r9),r0
	extu.b	r0,r0
	mov.l	r0,@r10
	bsr	read_ocr
	nop
	mov.l	r0,@(4,r10)
	mov	#0x00,r0		! select OCRA again
	mov.b	r0,@(7,r9)
	mov.b	@(7,r9),r0
	extu.b	r0,r0
	mov.l	r0,@(8,r10)
	bsr	read_ocr
	nop
	mov.l	r0,@(12,r10)
	mov	#0x10,r0		! back to OCRB for the compare run
	mov.b	r0,@(7,r9)
	mov	#0,r0			! clock / 8, flags clear, FRC := 0
	mov.b	r0,@(6,r9)
	mov.b	@(1,r9),r0
	mov	#0,r0
	mov.b	r0,@(1,r9)
	mov.b	r0,@(2,r9)
	mov.b	r0,@(3,r9)
wait_b:
	mov.b	@(1,r9),r0
	tst	#0x04,r0
	bt	wait_b
	extu.b	r0,r0
	mov.l	r0,@(16,r10)
	mov.b	@(2,r9),r0
	extu.b	r0,r1
	shll8	r1
	mov.b	@(3,r9),r0
	extu.b	r0,r0
	or	r1,r0
	mov.l	r0,@(20,r10)
wait_a:
	mov.b	@(1,r9),r0
	tst	#0x08,r0
	bt	wait_a
	extu.b	r0,r0
	mov.l	r0,@(24,r10)
	report_done done

! The compare register TOCR selects, high byte first.
read_ocr:
	mov.b	@(4,r9),r0
	extu.b	r0,r1
	shll8	r1
	mov.b	@(5,r9),r0
	extu.b	r0,r0
	rts
	or	r1,r0

	.align	2
frt:		.long	0xFFFFFE10
results:	.long	PROGRAM_RESULTS
done:		.long	PROGRAM_DONE
