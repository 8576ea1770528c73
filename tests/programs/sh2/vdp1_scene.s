! Loaded as the BIOS image: copies a VDP1 command list and a 16x16 texture
! into VRAM, starts drawing, waits for the sprite-draw-end interrupt and
! then asks for the drawn buffer to be shown from the next field. VDP2
! shows it as the sprite layer (type 0, palette and RGB mixed) over a
! one-colour back screen, with the texels' 16 colours in colour RAM.
!   0x06000000  draw-end interrupts taken    0x06000004  1 once done
! base: 0x00000000
	.include "saturn.inc"
	.include "vdp1_table.inc"

	bios_vectors start
start:
	mov.l	vbr_value,r0
	ldc	r0,vbr
	mov.l	counters,r8
	mov	#0,r0
	mov.l	r0,@r8
	mov.l	r0,@(4,r8)
	mov.l	list,r1
	mov.l	vram,r2
	mov.l	list_longs,r3
	bsr	copy
	nop
	mov.l	texture,r1
	mov.l	vram_texture,r2
	mov	#32,r3
	bsr	copy
	nop
	mov.l	vdp2_words,r1
	mov	#(vdp2_end - vdp2_table) / 8,r3
	write_words
	mov.l	vdp1,r1
	mov	#0,r0
	mov.w	r0,@(0,r1)		! TVMR: 512 x 256, 16-bit
	mov	#2,r0
	mov.w	r0,@(2,r1)		! FBCR: manual erase, no change yet
	mov.l	ims,r2			! open sprite draw end (bit 13)
	mov.l	mask,r0
	mov.l	r0,@r2
	mov	#0,r0
	ldc	r0,sr
	mov	#1,r0
	mov.w	r0,@(4,r1)		! PTMR: draw now
wait:
	mov.l	@r8,r0
	tst	r0,r0
	bt	wait
	mov	#3,r0
	mov.w	r0,@(2,r1)		! FBCR: manual change at the next field
	mov	#1,r0
	mov.l	r0,@(4,r8)
	idle_forever

! Copies r3 longs from r1 to r2.
copy:
	mov.l	@r1+,r0
	mov.l	r0,@r2
	dt	r3
	bf/s	copy
	add	#4,r2
	rts
	nop

draw_end:
	count_interrupt counters, 0

	.align	2
vbr_value:	.long	vectors
counters:	.long	0x06000000
list:		.long	commands
list_longs:	.long	(commands_end - commands) / 4
vram:		.long	0x25C00000
texture:	.long	texels
vram_texture:	.long	0x25C01000
vdp1:		.long	0x25D00000
ims:		.long	SCU_IMS
mask:		.long	0x00009FFF
vdp2_words:	.long	vdp2_table

! VDP2 words: colour RAM 0x100 + n = blue 2n, green 30 - 2n, red 2n + 1
! for the texels' codes, the back screen colour at the top of VRAM, the
! back screen table address, sprite type 0 mixed, sprite priority 6 and
! the display on (320 x 224).
vdp2_table:
	.set	n, 0
	.rept	16
	.long	0x25F00200 + n * 2, (n << 11) | ((15 - n) << 6) | (n * 2 + 1)
	.set	n, n + 1
	.endr
	.long	0x25E7FFFE, 0x4C66
	.long	0x25F800AC, 0x0003
	.long	0x25F800AE, 0xFFFF
	.long	0x25F800E0, 0x0020
	.long	0x25F800F0, 0x0006
	.long	0x25F80000, 0x8000
vdp2_end:

	.align	2
commands:
	table	0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223	! SCLIP 320 x 224
	table	0x000A, 0, 0, 0, 0, 0, 0			! LOCAL (0, 0)
	table	0x0004, 0x00C0, 0x801F, 0, 0, 20, 20, 59, 20, 59, 49, 20, 49
	table	0x0000, 0x00C0, 0x0100, 0x0200, 0x0210, 80, 30	! 1:1 sprite
	table	0x0001, 0x00C0, 0x0100, 0x0200, 0x0210, 280, 150, 0, 0, 311, 181
	table	0x0006, 0x00C0, 0x83E0, 0, 0, 100, 100, 200, 100
	table	0x0006, 0x00C0, 0xFC00, 0, 0, 100, 110, 150, 160
	table	0x0008, 0, 0, 0, 0, 220, 60, 0, 0, 259, 99	! UCLIP
	table	0x0004, 0x04C0, 0xFFFF, 0, 0, 200, 40, 279, 40, 279, 119, 200, 119
	table	0x8000, 0, 0, 0, 0, 0, 0			! END
commands_end:

! Texel (x, y) = (x + y) & 15, two to a byte.
texels:
	.set	y, 0
	.rept	16
	.set	x, 0
	.rept	8
	.byte	(((x * 2 + y) & 15) << 4) | ((x * 2 + 1 + y) & 15)
	.set	x, x + 1
	.endr
	.set	y, y + 1
	.endr

	.org	0x800
vectors:
	.org	0x800 + 0x4D * 4
	.long	draw_end
	bios_image_end
