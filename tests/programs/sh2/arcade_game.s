! The arcade test game, started by the arcade test BIOS from its ROM set
! (tests/tools/make_arcade_set.py builds the set). It shows in an NBG0
! bitmap, one 16 x 16 box per result:
!   row y 20   the ROM layout: the program member's tag, the sound member's
!              tag, the "_O" member in the odd bytes, the even bytes left
!              zero, its copies at +2 MB and +3 MB (green right, red wrong)
!   row y 48   player 1 port, bits 7-0 (white pressed, grey released)
!   row y 72   system port, bits 7-0
!   rows 100, 124  EEPROM word 0 as read at start, bits 15-0 (yellow 1)
!   row y 148  the EEPROM word written and read back (grey: not written,
!              the word was not blank), the 68000 started by SNDON
! Results at 0x06080000: +0 "ARC1" once set up, +4..+9 the six ROM checks
! (1 right), +12 the player byte, +13 the system byte (latest reads),
! +16 EEPROM word 0 at start, +20 write verified, +21 68000 marker seen.
! base: 0x06004000
	.equ	PRG_SIZE, 0x4000
	.equ	SND_SIZE, 0x1000
	.equ	EE_PATTERN, 0xC35A

	.org	0
main:
	mov.l	state,r14
	mov.l	register_list,r1	! VDP2 registers and colours: address, word
	mov	#14,r3
setup:
	mov.l	@r1+,r2
	mov.l	@r1+,r0
	dt	r3
	bf/s	setup
	mov.w	r0,@r2

	mov.l	vram,r1			! the background, colour 1
	mov.l	bitmap_longs,r2
	mov.l	colour1,r3
fill:
	mov.l	r3,@r1
	dt	r2
	bf/s	fill
	add	#4,r1

	! The ROM layout, one member at a time.
	mov.l	prg_tag_at,r1
	mov.l	@r1,r0
	mov.l	prg_tag,r1
	cmp/eq	r0,r1
	movt	r0
	mov.b	r0,@(4,r14)
	mov	#32,r4
	bsr	verdict
	mov	#20,r5

	mov.l	snd_tag_at,r1
	mov.l	@r1,r0
	mov.l	snd_tag,r1
	cmp/eq	r0,r1
	movt	r0
	mov.b	r0,@(5,r14)
	mov	#52,r4
	bsr	verdict
	mov	#20,r5

	mov.l	dat_at,r1		! odd bytes: the file
	add	#1,r1
	mov	#2,r2
	bsr	check_data
	mov	#0x1D,r9
	movt	r0
	mov.b	r0,@(6,r14)
	mov	#72,r4
	bsr	verdict
	mov	#20,r5

	mov.l	dat_at,r1		! even bytes: untouched
	mov	#2,r2
	bsr	check_data
	mov	#0,r9
	movt	r0
	mov.b	r0,@(7,r14)
	mov	#92,r4
	bsr	verdict
	mov	#20,r5

	mov.l	dat_copy2,r1		! the file whole at +2 MB
	mov	#1,r2
	bsr	check_data
	mov	#0x1D,r9
	movt	r0
	mov.b	r0,@(8,r14)
	mov	#112,r4
	bsr	verdict
	mov	#20,r5

	mov.l	dat_copy3,r1		! and at +3 MB
	mov	#1,r2
	bsr	check_data
	mov	#0x1D,r9
	movt	r0
	mov.b	r0,@(9,r14)
	mov	#33,r4
	shll2	r4			! 132
	bsr	verdict
	mov	#20,r5

	! EEPROM word 0: shown as read; a blank word is written and read back.
	bsr	ee_read0
	nop
	mov	r0,r10
	mov.l	r0,@(16,r14)
	mov	r10,r4
	shlr8	r4
	mov	#100,r5
	mov	#6,r6
	bsr	bits8
	mov	#7,r7
	mov	r10,r4
	mov	#124,r5
	mov	#6,r6
	bsr	bits8
	mov	#7,r7
	mov.l	blank,r1
	cmp/eq	r1,r10
	bf	not_blank
	bsr	ee_write0
	nop
	bsr	ee_read0
	nop
	mov	#32,r4
	mov	#74,r5
	shll	r5			! 148
	mov.l	pattern,r1
	cmp/eq	r1,r0
	movt	r0
	mov	r14,r13
	add	#16,r13
	mov.b	r0,@(4,r13)
	bsr	verdict
	nop
	bra	sound
	nop
not_blank:
	mov	#32,r4
	mov	#74,r5
	shll	r5
	bsr	box
	mov	#5,r6

	! The 68000: its program from the sound member, started by SNDON.
sound:
	mov.l	snd_rom,r1
	mov.l	sound_ram,r2
	mov.l	snd_words,r3
copy_sound:
	mov.w	@r1+,r0
	mov.w	r0,@r2
	dt	r3
	bf/s	copy_sound
	add	#2,r2
	mov.l	marker_at,r2
	mov	#0,r0
	mov.l	r0,@r2
	mov.l	pdr2,r1			! the sound line: high holds the 68000, low lets it run
	mov	#0x10,r0
	mov.b	r0,@r1
	mov	#0,r0
	mov.b	r0,@r1
	mov	#74,r5
	shll	r5			! 148
	mov.l	wait_loops,r3
	mov.l	marker,r4
wait_68k:
	mov.l	@r2,r0
	cmp/eq	r0,r4
	bt	seen_68k
	dt	r3
	bf	wait_68k
	clrt
seen_68k:
	movt	r0
	mov	r14,r13
	add	#16,r13
	mov.b	r0,@(5,r13)
	mov	#52,r4
	bsr	verdict
	nop

	mov.l	tvmd,r1			! display on
	mov.l	display_on,r0
	mov.w	r0,@r1
	mov.l	magic,r0
	mov.l	r0,@r14

	! The inputs, read over and over.
inputs:
	mov.l	io_player,r1
	mov.b	@r1,r0
	mov.b	r0,@(12,r14)
	extu.b	r0,r4
	mov	#48,r5
	mov	#5,r6
	bsr	bits8
	mov	#4,r7
	mov.l	io_system,r1
	mov.b	@r1,r0
	mov.b	r0,@(13,r14)
	extu.b	r0,r4
	mov	#72,r5
	mov	#5,r6
	bsr	bits8
	mov	#4,r7
	bra	inputs
	nop

	.align	2
state:		.long	0x06080000
magic:		.ascii	"ARC1"
register_list:	.long	registers
vram:		.long	0x25E00000
bitmap_longs:	.long	512 * 224 / 4
colour1:	.long	0x01010101
prg_tag_at:	.long	0x22200000 + PRG_SIZE - 4
prg_tag:	.ascii	"PRG!"
snd_tag_at:	.long	0x22400000 + SND_SIZE - 4
snd_tag:	.ascii	"SND!"
dat_at:		.long	0x23000000
dat_copy2:	.long	0x23200000
dat_copy3:	.long	0x23300000
blank:		.long	0xFFFF
pattern:	.long	EE_PATTERN
snd_rom:	.long	0x22400000
sound_ram:	.long	0x25A00000
snd_words:	.long	0x100
marker_at:	.long	0x25A00700
marker:		.ascii	"K68K"
wait_loops:	.long	0x20000
pdr2:		.long	0x20100077
tvmd:		.long	0x25F80000
display_on:	.long	0x8000
io_player:	.long	0x20400001
io_system:	.long	0x20400005

! check_data: r1 first byte, r2 stride, r9 step; the 256 bytes must read
! 0x35, 0x35 + step, ... (mod 256), the "_O" member's contents, or all
! zero with step 0. T = 1 when they do. Uses r0, r3, r6, r7.
check_data:
	mov	#0,r6
	tst	r9,r9
	bt	1f
	mov	#0x35,r6
1:	mov	#1,r3
	shll8	r3			! 256
2:	mov.b	@r1,r0
	extu.b	r0,r0
	extu.b	r6,r7
	cmp/eq	r0,r7
	bf	3f
	add	r9,r6
	add	r2,r1
	dt	r3
	bf	2b
	rts
	sett
3:	rts
	clrt

! verdict: a box at (r4, r5), green when T is set, else red.
verdict:
	mov	#3,r6
	bf	box
	bra	box
	mov	#2,r6

! box: 16 x 16 dots of colour r6 at (r4, r5); r4 a multiple of 4.
! Uses r0 to r3.
box:
	extu.b	r6,r0
	mov	r0,r1
	shll8	r1
	or	r1,r0
	mov	r0,r1
	shll16	r1
	or	r1,r0
	mov.l	box_vram,r1
	mov	r5,r2
	shll8	r2
	shll	r2
	add	r2,r1
	add	r4,r1
	mov	#2,r3
	shll8	r3			! 512 bytes a line
	mov	#16,r2
1:	mov.l	r0,@r1
	mov.l	r0,@(4,r1)
	mov.l	r0,@(8,r1)
	mov.l	r0,@(12,r1)
	dt	r2
	bf/s	1b
	add	r3,r1
	rts
	nop

! bits8: eight boxes on row r5 for bits 7-0 of r4, colour r6 for a 1 and
! r7 for a 0.
bits8:
	sts.l	pr,@-r15
	mov.l	r8,@-r15
	mov.l	r9,@-r15
	mov.l	r10,@-r15
	mov.l	r11,@-r15
	mov	r4,r8
	mov	#32,r9
	mov	#8,r10
	mov	r6,r11
1:	mov	r9,r4
	mov	r11,r6
	mov	r8,r0
	tst	#0x80,r0
	bf	2f
	mov	r7,r6
2:	bsr	box
	nop
	shll	r8
	dt	r10
	bf/s	1b
	add	#20,r9
	mov.l	@r15+,r11
	mov.l	@r15+,r10
	mov.l	@r15+,r9
	mov.l	@r15+,r8
	lds.l	@r15+,pr
	rts
	nop

! The EEPROM's lines on the arcade board: SMPC port 1's data register
! carries chip select (bit 2), clock (bit 3) and data in (bit 4); port 2's
! bit 5 is data out. A bit goes in on the clock's rising edge and comes
! out on its falling edge.
ee_select:				! a new command
	mov.l	pdr1,r1
	mov	#0,r0
	mov.b	r0,@r1
	mov	#4,r0
	rts
	mov.b	r0,@r1

ee_deselect:
	mov.l	pdr1,r1
	mov	#0,r0
	rts
	mov.b	r0,@r1

ee_send:				! r3 bits of r2, from bit 31 down
	mov.l	pdr1,r1
1:	shll	r2
	movt	r0
	shll2	r0
	shll2	r0
	or	#4,r0
	mov.b	r0,@r1
	or	#8,r0
	dt	r3
	bf/s	1b
	mov.b	r0,@r1
	rts
	nop

ee_receive:				! r4 := 16 bits, first out highest
	mov.l	pdr1,r1
	mov.l	ee_pdr2,r2
	mov	#16,r3
	mov	#0,r4
1:	mov	#4,r0
	mov.b	r0,@r1
	mov.b	@r2,r0
	shll	r4
	tst	#0x20,r0
	bt	2f
	add	#1,r4
2:	mov	#12,r0
	mov.b	r0,@r1
	dt	r3
	bf	1b
	rts
	nop

ee_read0:				! r0 := word 0
	sts.l	pr,@-r15
	bsr	ee_select
	nop
	mov.l	cmd_read0,r2
	bsr	ee_send
	mov	#9,r3
	bsr	ee_receive
	nop
	bsr	ee_deselect
	nop
	mov	r4,r0
	lds.l	@r15+,pr
	rts
	nop

ee_write0:				! word 0 := EE_PATTERN
	sts.l	pr,@-r15
	bsr	ee_select
	nop
	mov.l	cmd_ewen,r2
	bsr	ee_send
	mov	#9,r3
	bsr	ee_select
	nop
	mov.l	cmd_write0,r2
	bsr	ee_send
	mov	#25,r3
	bsr	ee_select
	nop
	mov.l	cmd_ewds,r2
	bsr	ee_send
	mov	#9,r3
	bsr	ee_deselect
	nop
	lds.l	@r15+,pr
	rts
	nop

	.align	2
box_vram:	.long	0x25E00000
pdr1:		.long	0x20100075
ee_pdr2:	.long	0x20100077
! Start bit, opcode and address, left-aligned: READ 10, WRITE 01 and then
! the data, EWEN 00 11, EWDS 00 00.
cmd_read0:	.long	0x180 << 23
cmd_write0:	.long	(0x140 << 23) | (EE_PATTERN << 7)
cmd_ewen:	.long	0x130 << 23
cmd_ewds:	.long	0x100 << 23

! VDP2: NBG0 a 512 x 256 bitmap of 256 colours at video RAM 0, zoom 1,
! priority 7; colours 1 to 7 (RGB 5:5:5).
registers:
	.long	0x25F80028, 0x0012	! CHCTLA
	.long	0x25F8003C, 0x0000	! MPOFN
	.long	0x25F80078, 0x0001	! ZMXIN0
	.long	0x25F8007C, 0x0001	! ZMYIN0
	.long	0x25F800F8, 0x0007	! PRINA
	.long	0x25F80020, 0x0001	! BGON
	.long	0x25F00000, 0x0000	! 0 black
	.long	0x25F00002, 0x2000	! 1 background, dark blue
	.long	0x25F00004, 0x03E0	! 2 right, green
	.long	0x25F00006, 0x001F	! 3 wrong, red
	.long	0x25F00008, 0x7FFF	! 4 pressed, white
	.long	0x25F0000A, 0x2108	! 5 released, grey
	.long	0x25F0000C, 0x03FF	! 6 a 1 bit, yellow
	.long	0x25F0000E, 0x1084	! 7 a 0 bit, dark grey
