! Loaded as the BIOS image: counts SCU V-BLANK-IN and timer 0 interrupts in
! work RAM-H and, at the tenth V-BLANK-IN, writes "KEST" to backup memory.
!   0x06000000  V-BLANK-IN count     0x06000004  timer 0 count
!   0x06000008  1 once backup memory was written
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	vbr_value,r0
	ldc	r0,vbr
	mov.l	counters,r8
	mov	#0,r0
	mov.l	r0,@r8
	mov.l	r0,@(4,r8)
	mov.l	r0,@(8,r8)
	mov.l	t0c,r1			! timer 0 fires on visible line 5
	mov	#5,r0
	mov.l	r0,@r1
	enable_interrupts ims, mask	! V-BLANK-IN (bit 0) and timer 0 (bit 3)
wait:
	mov.l	@r8,r0
	mov	#10,r1
	cmp/hs	r1,r0
	bf	wait
	mov.l	backup,r1		! odd bytes of backup memory
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov	#0x45,r0
	mov.b	r0,@(3,r1)
	mov	#0x53,r0
	mov.b	r0,@(5,r1)
	mov	#0x54,r0
	mov.b	r0,@(7,r1)
	mov	#1,r0
	mov.l	r0,@(8,r8)
	idle_forever

vblank_in:
	count_interrupt counters, 0

timer0:
	count_interrupt counters, 4

	.align	2
vbr_value:	.long	vectors
counters:	.long	0x06000000
t0c:		.long	0x25FE0090
ims:		.long	SCU_IMS
mask:		.long	0x0000BFF6
backup:		.long	0x00180000

	.org	0x800
vectors:
	.org	0x800 + 0x40 * 4
	.long	vblank_in
	.org	0x800 + 0x43 * 4
	.long	timer0
	bios_image_end
