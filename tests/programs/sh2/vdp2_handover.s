! First file of the handover test disc: a program that relies on VDP2 as
! the BIOS leaves it. It writes its palette, two cells and NBG0's names,
! and of VDP2's registers sets only BGON, CHCTLA, the map and TVMD; NBG0's
! priority and zoom are the BIOS's. Cells: 8 x 8, 16 colours, character 1
! all colour 1 (red), character 2 all colour 2 (green), in a checker of
! two-word names.
! State block at 0x06080000: +0 "HAND" once set up.
! base: 0x06004000
	.include "saturn.inc"

	.org	0
	bra	main
	nop

	.org	0x100
handler:
	rts
	nop

main:
	mov.l	cram,r1			! palette 0: colour 1 red, colour 2 green
	mov.l	red,r0
	mov.w	r0,@(2,r1)
	mov.l	green,r0
	mov.w	r0,@(4,r1)

	mov.l	cells,r1		! characters 1 and 2, 32 bytes each
	mov.l	ones,r0
	mov	#8,r3
c1:	mov.l	r0,@r1
	dt	r3
	bf/s	c1
	add	#4,r1
	mov.l	twos,r0
	mov	#8,r3
c2:	mov.l	r0,@r1
	dt	r3
	bf/s	c2
	add	#4,r1

	! 64 x 64 two-word names: palette 0, character 1 or 2 in a checker.
	mov.l	names,r2
	mov	#0,r6			! cell row
rows:
	mov	#0,r5			! cell column
columns:
	mov	#0,r0
	mov.w	r0,@r2
	mov	r5,r0
	xor	r6,r0
	and	#1,r0
	add	#1,r0
	mov.w	r0,@(2,r2)
	add	#4,r2
	add	#1,r5
	mov	#64,r0
	cmp/eq	r0,r5
	bf	columns
	add	#1,r6
	cmp/eq	r0,r6
	bf	rows

	mov.l	registers,r1		! (address, word) pairs
	mov	#5,r3
	write_words

	mov.l	state,r1
	mov.l	magic,r0
	mov.l	r0,@r1
	idle_forever

	.align	2
state:		.long	0x06080000
magic:		.long	0x48414E44	! "HAND"
cram:		.long	0x25F00000
red:		.long	0x001F
green:		.long	0x03E0
cells:		.long	0x25E00020
ones:		.long	0x11111111
twos:		.long	0x22222222
names:		.long	0x25E10000
registers:	.long	register_list

register_list:
	.long	0x25F80028, 0x0000	! CHCTLA: NBG0 16 colours, 8 x 8 cells
	.long	0x25F80040, 0x0404	! MPABN0, MPCDN0: plane at 0x10000
	.long	0x25F80042, 0x0404
	.long	0x25F80020, 0x0001	! BGON: NBG0
	.long	0x25F80000, 0x8000	! TVMD: display on, 320 x 224
