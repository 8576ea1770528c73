! Loaded as the BIOS image with a backup cartridge inserted: writes 0x4B
! into the internal backup memory's first cell once, then, some fields
! later, "KE" into the cartridge's first two cells and "D" into the internal
! memory's second without end, so only the run's end writes them to disk.
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	internal,r1
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov.l	delay,r3
wait:
	dt	r3
	bf	wait
	mov.l	cart,r3
	mov	#0x45,r2
loop:
	mov	#0x4B,r0
	mov.b	r0,@(1,r3)
	mov	#0x44,r0
	mov.b	r0,@(3,r1)
	mov	r2,r0
	bra	loop
	mov.b	r0,@(3,r3)

	.align	2
internal:	.long	0x00180000
cart:		.long	0x04000000
delay:		.long	0x60000		! three fields or so

	bios_image_end
