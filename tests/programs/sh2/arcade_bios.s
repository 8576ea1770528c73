! The arcade test BIOS: the arcade board's BIOS image (the build stores it
! with its 16-bit words byte-swapped, as the board's ROM dumps are). As the
! board's own BIOS does, it reads the game header at cartridge +2 MB: when
! it names "SEGA ST-V", the game's program (first-read size bytes after the
! 256-byte header) is copied to the first-read address and started there
! with the header's master stack. Anything else: the BIOS stays idle.
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	header,r1
	mova	hardware,r0
	mov	r0,r2
	mov	#9,r3
check:
	mov.b	@r1+,r4
	mov.b	@r2+,r5
	cmp/eq	r4,r5
	bf	no_game
	dt	r3
	bf	check

	mov.l	first_read,r1
	mov.l	@r1,r5			! where the program goes
	mov.l	@(4,r1),r6		! its size in bytes
	mov.l	stack,r1
	mov.l	@r1,r15
	mov.l	program,r1
	mov	r5,r2
copy:
	mov.l	@r1+,r0
	mov.l	r0,@r2
	add	#-4,r6
	cmp/pl	r6
	bt/s	copy
	add	#4,r2
	jmp	@r5
	nop

no_game:
	bra	no_game
	nop

	.align	2
header:		.long	0x22200000
first_read:	.long	0x222000F0
stack:		.long	0x222000E8
program:	.long	0x22200100
hardware:	.ascii	"SEGA ST-V"

! The board's area letter, read at 0x808 of the image as the machine sees it.
	.org	0x800
	.ascii	"KEST STV"
	.ascii	"U"

! A BIOS image is 512 KB.
	.org	0x80000 - 4
	.long	0
