! The game disc's first file: a load shaped like a 3D game's, for timing
! the whole machine. A 17 x 17 grid of vertices waves and turns; both
! processors transform it every field (matrix rows with MAC.L, the divide
! unit for perspective), the master the top half, the slave the bottom,
! and each writes its 128 quads' corners into VDP1's command list:
! textured Gouraud distorted sprites and Gouraud polygons in a checker,
! drawn into the double-buffered frame. VDP2 shows RBG0 with a per-line
! coefficient table, turned and scrolled every field, under NBG0 and NBG1,
! which scroll. The 68000 runs the sound driver appended to this file at
! +0x8000 (game_sound.s).
! State block at 0x26080000 (the cache-through view of 0x06080000):
!   +0  "GAME" once set up   +4  V-BLANK-IN count   +8  field the master
!   asked for   +12 field the slave finished   +16 angle   +20 slave runs
!   +0x40 the turn matrix, nine longs (1.0 = 0x4000)
! base: 0x06004000
	.include "saturn.inc"
	.equ	STATE, 0x26080000
	.equ	VERTS, 0x26081000	! (x, y) screen words per vertex, 17 a row
	.equ	COMMANDS, 0x25C00000
	.equ	FIRST_QUAD, 2		! after the system clip and local origin
	.equ	GRID, 17
	.equ	CAMERA_Z, 480

	first_file STATE

main:
	mov.l	state,r8
	mov	#0,r0
	mov.l	r0,@(8,r8)
	mov.l	r0,@(12,r8)
	mov.l	r0,@(16,r8)
	mov.l	r0,@(20,r8)

	mov.l	register_list,r1	! VDP1, VDP2 and colour RAM words
	mov.l	register_words,r3
	write_words

	mov.l	copy_list,r1		! blocks: source, destination, longs
	mov	#7,r4
	copy_blocks

	bsr	fill_maps
	nop
	bsr	fill_commands
	nop
	bsr	fill_texture
	nop
	bsr	start_sound
	nop

	! The slave starts at its reset vector in work RAM.
	mov.l	slave_pc,r1
	mov.l	slave_entry,r0
	mov.l	r0,@r1
	mov.l	slave_sp,r1
	mov.l	slave_stack,r0
	mov.l	r0,@r1
	bsr	smpc_command
	mov	#0x02,r4		! SSHON

	vdp2_display_on tvmd, display_on	! last
	mov.l	magic,r0
	mov.l	r0,@r8

frame:
	wait_field

	mov.l	@(16,r8),r0		! the angle moves one step a field
	add	#1,r0
	mov.l	r0,@(16,r8)
	bsr	make_matrix
	nop
	bsr	move_background
	nop
	mov.l	@(8,r8),r0		! the slave's turn
	add	#1,r0
	mov.l	r0,@(8,r8)
	mov	r0,r10

	mov	#0,r4			! vertex rows 0-8, quad rows 0-7
	bsr	transform
	mov	#9,r5
	mov	#0,r4
	bsr	build_quads
	mov	#8,r5

wait_slave:
	mov.l	@(12,r8),r0
	cmp/eq	r0,r10
	bf	wait_slave
	bra	frame
	nop

	.align	2
state:		.long	STATE
magic:		.long	0x47414D45	! "GAME"
register_list:	.long	registers
register_words:	.long	(registers_end - registers) / 8
copy_list:	.long	blocks_list
tvmd:		.long	VDP2_TVMD
display_on:	.long	TVMD_DISPLAY_ON
slave_pc:	.long	0x06000250
slave_sp:	.long	0x060002AC
slave_entry:	.long	slave_main
slave_stack:	.long	0x0607F000

! The slave: waits for the master's field number, does the bottom half,
! and answers with the same number.
slave_main:
	mov.l	s_state,r8
	mov	#1,r0
	mov.l	r0,@(20,r8)
	mov	#0,r10
slave_wait:
	mov.l	@(8,r8),r0
	cmp/eq	r0,r10
	bt	slave_wait
	mov	r0,r10
	mov	#8,r4			! vertex rows 8-16, quad rows 8-15
	bsr	transform
	mov	#17,r5
	mov	#8,r4
	bsr	build_quads
	mov	#16,r5
	bra	slave_wait
	mov.l	r10,@(12,r8)

	.align	2
s_state:	.long	STATE

! The turn matrix for the angle at +16: a turn about Y by the angle after
! a fixed tilt about X. Rows: (c, 0, s), (ts * s, tc, -ts * c),
! (-tc * s, ts, tc * c), every product brought back to 1.0 = 0x4000.
	.macro	q14 reg
	shll2	\reg
	shlr16	\reg
	exts.w	\reg,\reg
	.endm

make_matrix:
	mov.l	m_sines,r1
	mov.l	@(16,r8),r0
	extu.b	r0,r0
	shll2	r0
	mov.l	@(r0,r1),r2		! s
	add	#64,r0
	add	#64,r0
	add	#64,r0
	add	#64,r0
	mov.l	m_mask,r3
	and	r3,r0
	mov.l	@(r0,r1),r3		! c
	mov.l	m_tilt,r0
	mov.l	@(r0,r1),r4		! ts
	add	#64,r0
	add	#64,r0
	add	#64,r0
	add	#64,r0
	mov.l	@(r0,r1),r5		! tc
	mov.l	m_matrix,r6
	mov.l	r3,@(0,r6)
	mov	#0,r0
	mov.l	r0,@(4,r6)
	mov.l	r2,@(8,r6)
	muls.w	r4,r2
	sts	macl,r0
	q14	r0
	mov.l	r0,@(12,r6)
	mov.l	r5,@(16,r6)
	muls.w	r4,r3
	sts	macl,r0
	q14	r0
	neg	r0,r0
	mov.l	r0,@(20,r6)
	muls.w	r5,r2
	sts	macl,r0
	q14	r0
	neg	r0,r0
	mov.l	r0,@(24,r6)
	mov.l	r4,@(28,r6)
	muls.w	r5,r3
	sts	macl,r0
	q14	r0
	rts
	mov.l	r0,@(32,r6)

	.align	2
m_sines:	.long	sines
m_mask:		.long	0x3FC
m_tilt:		.long	20 * 4
m_matrix:	.long	STATE + 0x40

! Vertex rows R4 up to R5 (exclusive): each vertex (x, y, wave) turned by
! the matrix, pushed CAMERA_Z away and projected to the screen.
transform:
	sts.l	pr,@-r15
	mov.l	r8,@-r15
	mov.l	r9,@-r15
	mov.l	r10,@-r15
	mov.l	r11,@-r15
	mov.l	r12,@-r15
	mov.l	r13,@-r15
	mov.l	r14,@-r15
	add	#-12,r15		! the vertex, three longs for MAC.L
	mov.l	@(16,r8),r13		! angle * 4 moves the wave
	shll2	r13
	mov	#-1,r14			! DVSR at 0xFFFFFF00; DVDNT at +4
	shll8	r14
	mov	r4,r11			! row
	mov	r5,r12
t_row:
	mov	#GRID,r0		! this row's first vertex
	mulu.w	r0,r11
	sts	macl,r9
	shll2	r9
	mov.l	t_verts,r0
	add	r0,r9
	mov	#0,r10			! column
t_vertex:
	mov	r10,r0			! x = (column - 8) * 16
	add	#-8,r0
	shll2	r0
	shll2	r0
	mov.l	r0,@r15
	mov	r11,r0			! y = (row - 8) * 16
	add	#-8,r0
	shll2	r0
	shll2	r0
	mov.l	r0,@(4,r15)
	mov	r10,r0			! wave = sin(column * 16 + row * 8 + angle * 4) / 1024
	shll2	r0
	shll2	r0
	mov	r11,r1
	shll2	r1
	shll	r1
	add	r1,r0
	add	r13,r0
	extu.b	r0,r0
	shll2	r0
	mov.l	t_sines,r1
	mov.l	@(r0,r1),r0
	shll2	r0
	shll2	r0
	shll2	r0
	shlr16	r0
	exts.w	r0,r0
	mov.l	r0,@(8,r15)

	mov.l	t_matrix,r1		! x'
	mov	r15,r2
	clrmac
	mac.l	@r1+,@r2+
	mac.l	@r1+,@r2+
	mac.l	@r1+,@r2+
	sts	macl,r4
	q14	r4
	mov	r15,r2			! y'
	clrmac
	mac.l	@r1+,@r2+
	mac.l	@r1+,@r2+
	mac.l	@r1+,@r2+
	sts	macl,r5
	q14	r5
	mov	r15,r2			! z'
	clrmac
	mac.l	@r1+,@r2+
	mac.l	@r1+,@r2+
	mac.l	@r1+,@r2+
	sts	macl,r6
	q14	r6
	mov.w	t_camera,r0
	add	r0,r6

	mov.l	r6,@r14			! f = 0x400000 / z'
	mov.l	t_focus,r0
	mov.l	r0,@(4,r14)
	mov.l	@(4,r14),r7
	muls.w	r7,r4			! screen x = 160 + x' * f / 0x4000
	sts	macl,r4
	q14	r4
	mov.w	t_centre_x,r0
	add	r0,r4
	muls.w	r7,r5			! screen y = 112 + y' * f / 0x4000
	sts	macl,r5
	q14	r5
	add	#112,r5
	shll16	r4
	extu.w	r5,r5
	or	r5,r4
	mov.l	r4,@r9
	add	#4,r9
	add	#1,r10
	mov	#GRID,r0
	cmp/eq	r0,r10
	bf	t_vertex
	add	#1,r11
	cmp/eq	r12,r11
	bf	t_row

	add	#12,r15
	mov.l	@r15+,r14
	mov.l	@r15+,r13
	mov.l	@r15+,r12
	mov.l	@r15+,r11
	mov.l	@r15+,r10
	mov.l	@r15+,r9
	mov.l	@r15+,r8
	lds.l	@r15+,pr
	rts
	nop

	.align	2
t_verts:	.long	VERTS
t_sines:	.long	sines
t_matrix:	.long	STATE + 0x40
t_focus:	.long	0x400000
t_camera:	.word	CAMERA_Z
t_centre_x:	.word	160

! Quad rows R4 up to R5 (exclusive): the four corners of each quad from
! the vertex table into its command's XA .. YD.
	.align	2
build_quads:
	mov	r4,r0			! first command: FIRST_QUAD + row * 16
	shll2	r0
	shll2	r0
	add	#FIRST_QUAD,r0
	shll2	r0
	shll2	r0
	shll	r0
	mov.l	b_commands,r2
	add	r0,r2
	mov	#GRID,r0		! first vertex: row * 17
	mulu.w	r0,r4
	sts	macl,r1
	shll2	r1
	mov.l	b_verts,r0
	add	r0,r1
b_row:
	mov	#16,r3
b_quad:
	mov.l	@r1,r0			! A: (row, column)
	mov.l	r0,@(12,r2)
	mov.l	@(4,r1),r0		! B: (row, column + 1)
	mov.l	r0,@(16,r2)
	mov	r1,r6
	add	#GRID * 4,r6
	mov.l	@(4,r6),r0		! C: (row + 1, column + 1)
	mov.l	r0,@(20,r2)
	mov.l	@r6,r0			! D: (row + 1, column)
	mov.l	r0,@(24,r2)
	add	#4,r1
	add	#32,r2
	dt	r3
	bf	b_quad
	add	#4,r1			! past the row's last vertex
	add	#1,r4
	cmp/eq	r5,r4
	bf	b_row
	rts
	nop

	.align	2
b_commands:	.long	COMMANDS
b_verts:	.long	VERTS

! RBG0 turns by half the angle and drifts; NBG0 and NBG1 scroll apart.
move_background:
	mov.l	@(16,r8),r4
	mov.l	g_scxin0,r1
	mov	r4,r0
	mov.w	r0,@r1			! SCXIN0
	shlr	r0
	mov.w	r0,@(4,r1)		! SCYIN0
	neg	r4,r0
	mov.w	r0,@(20,r1)		! SCYIN1

	mov.l	g_table,r2		! the rotation parameter table
	mov	r2,r3
	add	#0x40,r3
	mov	r4,r0
	shll16	r0
	mov.l	r0,@(4,r3)		! Mx: one dot a field
	mov.l	g_sines,r1
	mov	r4,r0
	shlr	r0
	extu.b	r0,r0
	shll2	r0
	mov.l	@(r0,r1),r5		! s
	add	#64,r0
	add	#64,r0
	add	#64,r0
	add	#64,r0
	mov.l	g_mask,r3
	and	r3,r0
	mov.l	@(r0,r1),r6		! c
	shll2	r5			! 1.0 = 0x10000 in the table
	shll2	r6
	mov.l	r6,@(0x1C,r2)		! A = c
	neg	r5,r0
	mov.l	r0,@(0x20,r2)		! B = -s
	mov.l	r5,@(0x28,r2)		! D = s
	rts
	mov.l	r6,@(0x2C,r2)		! E = c

	.align	2
g_scxin0:	.long	0x25F80070
g_table:	.long	0x25E70000
g_sines:	.long	sines
g_mask:		.long	0x3FC

! Name tables. NBG0 at 0x10000: character 1 on every fourth diagonal.
! NBG1 at 0x14000: character 2 in palette 1 on every fourth row. RBG0 at
! 0x60000: characters 0x1000 and 0x1001 in palette 2 in a checker.
fill_maps:
	mov.l	f_nbg0,r1
	mov.l	f_nbg1,r2
	mov.l	f_rbg0,r3
	mov	#0,r6			! row
f_row:
	mov	#0,r5			! column
f_column:
	mov	r5,r0
	add	r6,r0
	tst	#3,r0
	movt	r0
	mov.w	r0,@r1
	add	#2,r1
	mov	r6,r0
	tst	#3,r0
	bf/s	1f
	mov	#0,r7
	mov.w	f_name1,r7
1:	mov.w	r7,@r2
	add	#2,r2
	mov	r5,r0
	xor	r6,r0
	and	#1,r0
	mov.w	f_name2,r7
	or	r7,r0
	mov.w	r0,@r3
	add	#2,r3
	add	#1,r5
	mov	#64,r0
	cmp/eq	r0,r5
	bf	f_column
	add	#1,r6
	cmp/eq	r0,r6
	bf	f_row
	rts
	nop

	.align	2
f_nbg0:		.long	0x25E10000
f_nbg1:		.long	0x25E14000
f_rbg0:		.long	0x25E60000
f_name1:	.word	0x1002
f_name2:	.word	0x2000

! The fixed part of every quad's command; the corners change each field.
	.align	2
fill_commands:
	mov.l	c_quads,r2
	mov	#0,r3			! quad
c_next:
	mov	r3,r0			! checker by (row + column)
	shlr2	r0
	shlr2	r0
	add	r3,r0
	tst	#1,r0
	bf	c_polygon
	mov	#2,r0			! distorted sprite: RGB texture, Gouraud
	mov.w	r0,@r2
	mov.w	c_sprite_mode,r0
	mov.w	r0,@(4,r2)
	mov	#0,r0
	mov.w	r0,@(6,r2)
	bra	c_shared
	nop
c_polygon:
	mov	#4,r0			! polygon: one colour, Gouraud
	mov.w	r0,@r2
	mov.w	c_polygon_mode,r0
	mov.w	r0,@(4,r2)
	mov	r3,r0			! colour from the quad number
	shll2	r0
	shll2	r0
	mov.w	c_colour_bit,r1
	or	r1,r0
	mov.w	r0,@(6,r2)
c_shared:
	mov	#0,r0
	mov.w	r0,@(2,r2)		! CMDLINK
	mov.w	c_texture,r0
	mov.w	r0,@(8,r2)
	mov.w	c_size,r0
	mov.w	r0,@(10,r2)
	mov	r3,r0			! one of four Gouraud tables
	and	#3,r0
	mov.w	c_gouraud,r1
	add	r1,r0
	mov.w	r0,@(28,r2)
	add	#32,r2
	add	#1,r3
	mov.w	c_count,r0
	cmp/eq	r0,r3
	bf	c_next
	mov.w	c_end,r0		! END after the last quad
	rts
	mov.w	r0,@r2

	.align	2
c_quads:	.long	COMMANDS + FIRST_QUAD * 32
c_sprite_mode:	.word	0x00AC		! RGB, end codes off, Gouraud
c_polygon_mode:	.word	0x00C4		! no transparent, end codes off, Gouraud
c_colour_bit:	.word	0x8000
c_texture:	.word	0x0A00		! 0x5000 / 8
c_size:		.word	0x0210		! 16 x 16
c_gouraud:	.word	0x0800		! 0x4000 / 8
c_count:	.word	256
c_end:		.word	0x8000

! A 16 x 16 RGB texture in a checker of four by four dots.
	.align	2
fill_texture:
	mov.l	x_texels,r1
	mov	#0,r3			! y
x_row:
	mov	#0,r2			! x
x_dot:
	mov	r2,r0
	xor	r3,r0
	tst	#4,r0
	bt	1f
	mov.w	x_light,r0
	bra	2f
	nop
1:	mov.w	x_dark,r0
2:	mov.w	r0,@r1
	add	#2,r1
	add	#1,r2
	mov	#16,r0
	cmp/eq	r0,r2
	bf	x_dot
	add	#1,r3
	cmp/eq	r0,r3
	bf	x_row
	rts
	nop

	.align	2
x_texels:	.long	0x25C05000
x_light:	.word	0xFFFF
x_dark:		.word	0xC210

! SNDOFF, the driver from +0x8000 of this file into sound memory, SNDON.
	.align	2
start_sound:
	sts.l	pr,@-r15
	bsr	smpc_command
	mov	#0x07,r4		! SNDOFF
	mov.l	s_driver,r1
	mov.l	s_memory,r2
	mov.l	s_words,r3
1:	mov.w	@r1+,r0
	mov.w	r0,@r2
	dt	r3
	bf/s	1b
	add	#2,r2
	bsr	smpc_command
	mov	#0x06,r4		! SNDON
	lds.l	@r15+,pr
	rts
	nop

! SMPC command R4: waits until the SMPC is free, issues, waits again.
smpc_command:
	mov.l	s_sf,r1
	wait_smpc_free
	mov	#1,r0
	mov.b	r0,@r1
	mov.l	s_comreg,r2
	mov.b	r4,@r2
	wait_smpc_free
	rts
	nop

	.align	2
s_driver:	.long	0x06004000 + 0x8000
s_memory:	.long	0x25A00000
s_words:	.long	0x1000
s_sf:		.long	SMPC_SF
s_comreg:	.long	SMPC_COMREG

! (address, word) pairs.
	.align	2
registers:
	.long	0x25D00000, 0x0000	! TVMR: 512 x 256, 16-bit
	.long	0x25D00002, 0x0000	! FBCR: change and erase every field
	.long	0x25D00006, 0x0000	! EWDR: erase to transparent
	.long	0x25D00008, 0x0000	! EWLR
	.long	0x25D0000A, 0x50E0	! EWRR: 320 x 224
	.long	0x25F8000E, 0x039C	! RAMCTL: four banks; B0 coefficients, A1 and B1 RBG0
	.long	0x25F80010, 0x0145	! VRAM cycles: NBG0 and NBG1 names and characters
	.long	0x25F80012, 0xFFFF
	.long	0x25F80014, 0xFFFF
	.long	0x25F80016, 0xFFFF
	.long	0x25F80018, 0xFFFF
	.long	0x25F8001A, 0xFFFF
	.long	0x25F8001C, 0xFFFF
	.long	0x25F8001E, 0xFFFF
	.long	0x25F80028, 0x0000	! CHCTLA: NBG0, NBG1 16 colours, 8 x 8 cells
	.long	0x25F8002A, 0x0000	! CHCTLB: RBG0 the same
	.long	0x25F80030, 0x8000	! PNCN0, PNCN1: one-word names
	.long	0x25F80032, 0x8000
	.long	0x25F80038, 0x8004	! PNCR: one-word names from character 0x1000
	.long	0x25F8003A, 0x0000	! PLSZ: 1 x 1 planes
	.long	0x25F80040, 0x0808	! NBG0 plane at 0x10000
	.long	0x25F80042, 0x0808
	.long	0x25F80044, 0x0A0A	! NBG1 plane at 0x14000
	.long	0x25F80046, 0x0A0A
	.long	0x25F80050, 0x3030	! RBG0's sixteen planes at 0x60000
	.long	0x25F80052, 0x3030
	.long	0x25F80054, 0x3030
	.long	0x25F80056, 0x3030
	.long	0x25F80058, 0x3030
	.long	0x25F8005A, 0x3030
	.long	0x25F8005C, 0x3030
	.long	0x25F8005E, 0x3030
	.long	0x25F80078, 0x0001	! one dot a dot on NBG0 and NBG1
	.long	0x25F8007C, 0x0001
	.long	0x25F80088, 0x0001
	.long	0x25F8008C, 0x0001
	.long	0x25F800B4, 0x0001	! KTCTL: coefficients on, two words, kx = ky
	.long	0x25F800B6, 0x0001	! KTAOF: table at 0x40000
	.long	0x25F800BC, 0x0003	! RPTAU, RPTAL: parameters at 0x70000
	.long	0x25F800BE, 0x8000
	.long	0x25F800AC, 0x0003	! back screen at 0x7FFFE: black
	.long	0x25F800AE, 0xFFFF
	.long	0x25F800E0, 0x0020	! SPCTL: type 0, palette and RGB mixed
	.long	0x25F800F0, 0x0606	! PRISA: sprites on top
	.long	0x25F800F8, 0x0304	! PRINA: NBG0 4, NBG1 3
	.long	0x25F800FC, 0x0002	! PRIR: RBG0 2
	.long	0x25F80020, 0x0013	! BGON: NBG0, NBG1, RBG0
	.long	0x25D00004, 0x0002	! PTMR: draw at every frame change
registers_end:

blocks_list:
	.long	characters, 0x25E00000, 3 * 8
	.long	rotation_characters, 0x25E20000, 2 * 8
	.long	coefficients, 0x25E40000, 256
	.long	parameters, 0x25E70000, 0x80 / 4
	.long	palettes, 0x25F00000, 3 * 16 / 2
	.long	gouraud, 0x25C04000, 4 * 2
	.long	header, 0x25C00000, 2 * 8

! NBG characters (4 bits a dot): 0 empty, 1 a frame of colour 1, 2 two
! bars of colours 2 and 3.
characters:
	.rept	8
	.long	0
	.endr
	.long	0x11111111
	.rept	6
	.long	0x10000001
	.endr
	.long	0x11111111
	.rept	2
	.long	0x22222222, 0x33333333, 0, 0
	.endr

! RBG0 characters: colour 1 with a colour 2 corner, and colour 3.
rotation_characters:
	.long	0x22222222
	.rept	7
	.long	0x21111111
	.endr
	.rept	8
	.long	0x33333333
	.endr

! kx = ky = 64 / (line + 24), with 16 fraction bits: near lines large,
! far lines small, like a floor.
coefficients:
	.set	line, 0
	.rept	256
	.long	(64 * 65536) / (line + 24)
	.set	line, line + 1
	.endr

! Rotation parameter table A: Xst, Yst, Zst, DXst, DYst, DX, DY, A .. F,
! Px Py Pz, Cx Cy Cz, Mx, My, kx, ky, KAst, dKAst, dKAx.
parameters:
	.long	0, 0, 0, 0, 0x10000, 0x10000, 0
	.long	0x10000, 0, 0, 0, 0x10000, 0
	.word	160, 112, 0, 0, 160, 112, 0, 0
	.long	0, 0, 0x10000, 0x10000, 0, 0x10000, 0
	.long	0, 0, 0, 0, 0, 0, 0, 0

! Palettes 0 (NBG0), 1 (NBG1) and 2 (RBG0), sixteen colours each.
palettes:
	.word	0, 0x7FE0, 0x03FF, 0x7C1F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
	.word	0, 0x001F, 0x4210, 0x2108, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
	.word	0, 0x1084, 0x6318, 0x2D6B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0

! Four Gouraud tables: corner offsets, 0x10 in each channel leaves it.
gouraud:
	.word	0x4210, 0x7FFF, 0x4210, 0x0000
	.word	0x7C10, 0x4210, 0x021F, 0x4210
	.word	0x4210, 0x03E0, 0x7FFF, 0x4210
	.word	0x0000, 0x4210, 0x4210, 0x7FFF

! SCLIP 320 x 224 and LOCAL (0, 0).
header:
	.word	0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223, 0, 0, 0, 0
	.word	0x000A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0

! sin(i * 2 pi / 256) with 1.0 = 0x4000, from Bhaskara's approximation
! (within 0.2 %), 256 longs.
sines:
	.set	i, 0
	.rept	256
	.if	i < 128
	.set	t, i * (128 - i)
	.long	(16 * t * 16384) / (81920 - 4 * t)
	.else
	.set	t, (i - 128) * (256 - i)
	.long	-((16 * t * 16384) / (81920 - 4 * t))
	.endif
	.set	i, i + 1
	.endr
