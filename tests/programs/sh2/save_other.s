! Loaded as the BIOS image with a backup cartridge inserted: another game
! than save_busy's, writing 0x4F into the internal backup memory's first
! two cells and "OT" into the cartridge's, then idling.
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	internal,r3
	mov.l	cart,r1
	mov	#0x4F,r0
	mov.b	r0,@(1,r3)
	mov.b	r0,@(3,r3)
	mov.b	r0,@(1,r1)
	mov	#0x54,r0
	mov.b	r0,@(3,r1)
idle:
	bra	idle
	nop

	.align	2
internal:	.long	0x00180000
cart:		.long	0x04000000

	bios_image_end
