! The demo disc's first file, loaded at its first read address after the
! boot disc's initial program (bios_ip.s) has handed it V-BLANK-IN. VDP2
! shows a cell pattern in NBG0 under VDP1's sprite layer; VDP1 draws its
! command list every field (two polygons, a polyline, a line, a scaled
! half-luminance sprite and a 16 x 16 sprite that pad 1's direction keys
! move two dots a field). Every field it reads the pad through INTBACK.
! State block at 0x06080000:
!   +0  "DEMO" once set up   +4  V-BLANK-IN count    +8  sprite X
!   +12 sprite Y             +16 pad data bytes 1-2  +20 INTBACK replies
! base: 0x06004000
	.include "saturn.inc"
	.include "smpc_intback.inc"
	.include "vdp1_table.inc"

	first_file 0x06080000

main:
	mov.l	state,r8
	mov	#0,r0
	mov.l	r0,@(16,r8)
	mov.l	r0,@(20,r8)
	mov	#76,r0			! sprite at (152, 104)
	shll	r0
	mov.l	r0,@(8,r8)
	mov	#104,r0
	mov.l	r0,@(12,r8)

	mov.l	register_list,r1	! VDP1, VDP2 and colour RAM words
	mov.l	register_words,r3
	write_words

	mov.l	copy_list,r1		! blocks: source, destination, longs
	mov	#3,r4
	copy_blocks

	! NBG0's 64 x 64 names: characters 1 and 2 in a checker, palette
	! 0 or 1 by bands of four rows.
	mov.l	names,r2
	mov	#0,r6			! cell row
rows:
	mov	#0,r5			! cell column
columns:
	mov	r5,r0
	xor	r6,r0
	and	#1,r0
	add	#1,r0
	mov	r0,r1
	mov	r6,r0
	shlr2	r0
	and	#1,r0
	shll8	r0
	shll2	r0
	shll2	r0
	or	r1,r0
	mov.w	r0,@r2
	add	#2,r2
	add	#1,r5
	mov	#64,r0
	cmp/eq	r0,r5
	bf	columns
	add	#1,r6
	cmp/eq	r0,r6
	bf	rows

	vdp2_display_on tvmd, display_on	! last
	mov.l	magic,r0
	mov.l	r0,@r8

frame:
	wait_field
	bsr	read_pad
	nop
	mov.l	@(8,r8),r4		! x
	mov.l	@(12,r8),r5		! y
	mov.l	@(16,r8),r0		! active low: Right Left Down Up
	shlr8	r0
	tst	#0x80,r0		! Right
	bf	2f
	add	#2,r4
2:	tst	#0x40,r0		! Left
	bf	3f
	add	#-2,r4
3:	tst	#0x20,r0		! Down
	bf	4f
	add	#2,r5
4:	tst	#0x10,r0		! Up
	bf	5f
	add	#-2,r5
5:
	mov.l	x_limit,r1		! keep the sprite on the screen
	bsr	clamp
	mov	r4,r0
	mov	r0,r4
	mov.l	y_limit,r1
	bsr	clamp
	mov	r5,r0
	mov	r0,r5
	mov.l	r4,@(8,r8)
	mov.l	r5,@(12,r8)
	mov.l	sprite_xy,r1
	mov.w	r4,@r1
	mov	r5,r0
	bra	frame
	mov.w	r0,@(2,r1)

! R0 clamped to 0 .. R1.
clamp:
	cmp/pz	r0
	bt	1f
	mov	#0,r0
1:	cmp/gt	r1,r0
	bf	2f
	mov	r1,r0
2:	rts
	nop

! INTBACK for peripheral data; pad 1's two data bytes go to +16 (as a
! word, in bits 15-0; 0xFFFF when port 1 holds no standard pad) and the
! reply count to +20.
read_pad:
	mov.l	smpc_sf,r1
	intback_peripherals read_pad, smpc_ireg0, smpc_comreg, smpc_sr
	mov.l	smpc_oreg0,r3
	mov	#-1,r2			! no pad: every button released
	extu.w	r2,r2
	mov.b	@(2,r3),r0		! OREG1: a standard pad's ID
	cmp/eq	#2,r0
	bf	3f
	mov.b	@(4,r3),r0		! OREG2 and OREG3: its data
	extu.b	r0,r2
	shll8	r2
	mov.b	@(6,r3),r0
	extu.b	r0,r0
	or	r0,r2
3:	mov.l	r2,@(16,r8)
	mov.l	@(20,r8),r0
	add	#1,r0
	rts
	mov.l	r0,@(20,r8)

	.align	2
state:		.long	0x06080000
magic:		.long	0x44454D4F	! "DEMO"
register_list:	.long	registers
register_words:	.long	(registers_end - registers) / 8
copy_list:	.long	blocks_list
names:		.long	0x25E10000
tvmd:		.long	VDP2_TVMD
display_on:	.long	TVMD_DISPLAY_ON
x_limit:	.long	304
y_limit:	.long	208
sprite_xy:	.long	0x25C000EC	! the moving sprite's XA, YA
smpc_sf:	.long	SMPC_SF
smpc_ireg0:	.long	SMPC_IREG0
smpc_comreg:	.long	SMPC_COMREG
smpc_sr:	.long	SMPC_SR
smpc_oreg0:	.long	SMPC_OREG0

! (address, word) pairs.
registers:
	.long	0x25D00000, 0x0000	! TVMR: 512 x 256, 16-bit
	.long	0x25D00002, 0x0000	! FBCR: change and erase every field
	.long	0x25D00006, 0x0000	! EWDR: erase to transparent
	.long	0x25D00008, 0x0000	! EWLR
	.long	0x25D0000A, 0x50E0	! EWRR: 320 x 224
	.long	0x25F00000, 0x0000	! palette 0: blues
	.long	0x25F00002, 0x3000
	.long	0x25F00004, 0x4843
	.long	0x25F00006, 0x5C85
	.long	0x25F00020, 0x0000	! palette 1: greens
	.long	0x25F00022, 0x00C0
	.long	0x25F00024, 0x1162
	.long	0x25F00026, 0x1A04
	.long	0x25E7FFFE, 0x0000	! back screen: black
	.long	0x25F800AC, 0x0003
	.long	0x25F800AE, 0xFFFF
	.long	0x25F80010, 0x04FF	! VRAM cycles: NBG0 names and characters
	.long	0x25F80012, 0xFFFF
	.long	0x25F80028, 0x0000	! CHCTLA: NBG0 16 colours, 8 x 8 cells
	.long	0x25F80030, 0x8000	! PNCN0: one-word names
	.long	0x25F8003A, 0x0000	! PLSZ: 1 x 1 planes
	.long	0x25F80040, 0x0808	! MPABN0, MPCDN0: plane at 0x10000
	.long	0x25F80042, 0x0808
	.long	0x25F80078, 0x0001	! ZMXIN0, ZMYIN0: one dot a dot
	.long	0x25F8007C, 0x0001
	.long	0x25F800F8, 0x0003	! PRINA: NBG0 priority 3
	.long	0x25F800E0, 0x0020	! SPCTL: type 0, palette and RGB mixed
	.long	0x25F800F0, 0x0505	! PRISA: sprite priority 5
	.long	0x25F80020, 0x0001	! BGON: NBG0
	.long	0x25D00004, 0x0002	! PTMR: draw at every frame change
registers_end:

blocks_list:
	.long	commands, 0x25C00000, (commands_end - commands) / 4
	.long	texels, 0x25C01000, 16 * 16 * 2 / 4
	.long	characters, 0x25E00000, 3 * 32 / 4

	.align	2
commands:
	table	0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223	! SCLIP 320 x 224
	table	0x000A, 0, 0, 0, 0, 0, 0			! LOCAL (0, 0)
	table	0x0004, 0x00C0, 0x801F, 0, 0, 24, 24, 87, 24, 87, 63, 24, 63
	table	0x0004, 0x00C0, 0x83E0, 0, 0, 230, 30, 300, 50, 280, 110, 220, 90
	table	0x0005, 0x00C0, 0xFFFF, 0, 0, 4, 4, 315, 4, 315, 219, 4, 219
	table	0x0006, 0x00C0, 0x83FF, 0, 0, 20, 200, 300, 150
	table	0x0001, 0x00AA, 0, 0x0200, 0x0210, 40, 120, 0, 0, 87, 167
	table	0x0000, 0x00A8, 0, 0x0200, 0x0210, 152, 104	! moved by the pad
	table	0x8000, 0, 0, 0, 0, 0, 0			! END
commands_end:

! A 16 x 16 RGB diamond: magenta where |2x - 15| + |2y - 15| <= 16,
! transparent elsewhere.
texels:
	.set	y, 0
	.rept	16
	.set	x, 0
	.rept	16
	.set	dx, x * 2 - 15
	.set	dy, y * 2 - 15
	.if	dx < 0
	.set	dx, -dx
	.endif
	.if	dy < 0
	.set	dy, -dy
	.endif
	.if	dx + dy <= 16
	.word	0xFC1F
	.else
	.word	0
	.endif
	.set	x, x + 1
	.endr
	.set	y, y + 1
	.endr

! NBG0 characters (4 bits a dot): 0 empty, 1 colour 2 with a colour 1
! top row and left column, 2 colour 3.
characters:
	.rept	8
	.long	0
	.endr
	.long	0x11111111
	.rept	7
	.long	0x12222222
	.endr
	.rept	8
	.long	0x33333333
	.endr
