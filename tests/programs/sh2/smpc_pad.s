! Loaded as the BIOS image: reads the controllers through INTBACK
! (peripheral data only) over and over, as a game polls its pad.
!   0x06000000  replies received
!   0x06000010  OREG0-7 of the last reply
! base: 0x00000000
	.include "saturn.inc"
	.include "smpc_intback.inc"

	bios_vectors start
start:
	mov.l	result,r10
	mov	#0,r0
	mov.l	r0,@r10
	mov.l	sf,r1
again:
	intback_peripherals again, ireg0, comreg, sr_reg
	mov.l	oreg0,r3
	mov	r10,r4
	add	#0x10,r4
	mov.b	@(0,r3),r0
	mov.b	r0,@(0,r4)
	mov.b	@(2,r3),r0
	mov.b	r0,@(1,r4)
	mov.b	@(4,r3),r0
	mov.b	r0,@(2,r4)
	mov.b	@(6,r3),r0
	mov.b	r0,@(3,r4)
	mov.b	@(8,r3),r0
	mov.b	r0,@(4,r4)
	mov.b	@(10,r3),r0
	mov.b	r0,@(5,r4)
	mov.b	@(12,r3),r0
	mov.b	r0,@(6,r4)
	mov.b	@(14,r3),r0
	mov.b	r0,@(7,r4)
	mov.l	@r10,r0
	add	#1,r0
	bra	again
	mov.l	r0,@r10

	.align	2
result:		.long	0x06000000
sf:		.long	SMPC_SF
ireg0:		.long	SMPC_IREG0
comreg:		.long	SMPC_COMREG
sr_reg:		.long	SMPC_SR
oreg0:		.long	SMPC_OREG0

	bios_image_end
