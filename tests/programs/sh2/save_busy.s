! Loaded as the BIOS image with a backup cartridge inserted: writes 0x4B
! into the internal backup memory's first cell once and leaves it alone
! for three fields, so that much reaches its file. Then it stores "DONE"
! into the internal memory's next four cells and "KE" into the cartridge's
! first two without end: both change in every field, so only the end of
! the run writes them to their files.
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	internal,r1
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov.l	tvmd,r3		! the display on, or the blanking lasts the field
	mov.l	display,r0
	mov.w	r0,@r3
	mov.l	tvstat,r3
	mov	#3,r4
field:
	mov.w	@r3,r0			! into V-BLANK...
	tst	#8,r0
	bt	field
out:
	mov.w	@r3,r0			! ...and out of it
	tst	#8,r0
	bf	out
	dt	r4
	bf	field
	mov.l	cart,r5
loop:
	mov	#0x4B,r0
	mov.b	r0,@(1,r5)
	mov	#0x45,r0
	mov.b	r0,@(3,r5)
	mov	#0x44,r0		! D
	mov.b	r0,@(3,r1)
	mov	#0x4F,r0		! O
	mov.b	r0,@(5,r1)
	mov	#0x4E,r0		! N
	mov.b	r0,@(7,r1)
	mov	#0x45,r0		! E
	bra	loop
	mov.b	r0,@(9,r1)

	.align	2
internal:	.long	0x00180000
cart:		.long	0x04000000
tvmd:		.long	VDP2_TVMD
display:	.long	TVMD_DISPLAY_ON
tvstat:		.long	0x25F80004

	bios_image_end
