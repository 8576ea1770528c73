! Loaded as the BIOS image with a backup cartridge inserted: writes 0x4B
! into the internal backup memory's first cell once, then stores "KE" into
! the cartridge's first two cells without end, so the cartridge changes in
! every field and only the end of the run writes it to its file.
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	internal,r1
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov.l	cart,r1
	mov	#0x45,r2
loop:
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov	r2,r0
	bra	loop
	mov.b	r0,@(3,r1)

	.align	2
internal:	.long	0x00180000
cart:		.long	0x04000000

	bios_image_end
