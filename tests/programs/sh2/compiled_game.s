! The compiled disc's first file: a game's busy and idle shapes as a C
! compiler lays them out. Both processors move 48 objects through small
! functions (literal pools, calls that save PR on the stack, 16.16
! products through MACH and MACL, matrix rows with MAC.L, quotients from
! the divide unit) and the master draws them as VDP1 polygons. Between
! fields the master asks the CD block for its status and polls HIRQ
! through a chain of calls with a timeout count, waits for the drive's
! report with the count inline, and waits for V-BLANK-IN through two
! calls. The slave idles on its free-running timer's input-capture flag
! with a delayed branch until the master pulses MINIT.
! State block at 0x26080000:
!   +0  "BUSY" once set up   +4  V-BLANK-IN count   +8  frames begun
!   +12 the slave's last frame   +16 CD status timeouts   +20 last status
!   +24 report waits that timed out   +28 report waits that saw it
!   +0x100 objects: x, y, z (16.16) and a pad, 16 bytes each
!   +0x400 screen points: x and y words
! base: 0x06004000
	.include "saturn.inc"
	.equ	STATE, 0x26080000
	.equ	OBJECTS, STATE + 0x100
	.equ	POINTS, STATE + 0x400
	.equ	COUNT, 48
	.equ	POLYGONS, 0x25C00040	! after the system clip and local origin

	first_file STATE

! At +0x140, for the SH-2 benchmark: the objects set up, then moved again
! and again, the rounds counted at +32 of the state block.
	.org	0x140
bench:
	mov.l	b_copy,r1
	mov	#1,r4
	copy_blocks
1:	mov	#0,r4
	mov.l	b_move_objects,r0
	jsr	@r0
	mov	#COUNT,r5
	mov.l	b_rounds,r1
	mov.l	@r1,r0
	add	#1,r0
	bra	1b
	mov.l	r0,@r1

	.align	2
b_copy:		.long	blocks_list + 12
b_move_objects:	.long	move_objects
b_rounds:	.long	STATE + 32

main:
	mov.l	state,r8
	mov	#0,r0
	mov	#6,r1
1:	mov.l	r0,@(8,r8)		! +8 .. +28
	dt	r1
	bf/s	1b
	add	#4,r8
	mov.l	state,r8

	mov.l	register_list,r1	! VDP1, VDP2 and colour RAM words
	mov.l	register_words,r3
	write_words

	mov.l	copy_list,r1		! blocks: source, destination, longs
	mov	#2,r4
	copy_blocks

	start_slave slave_pc, slave_sp, slave_entry, slave_stack, sf, comreg

	vdp2_display_on tvmd, display_on	! last
	mov.l	magic,r0
	mov.l	r0,@r8

frame:
	mov.l	@(8,r8),r0
	add	#1,r0
	mov.l	r0,@(8,r8)
	mov.l	f_cd_status,r0
	jsr	@r0
	nop
	mov.l	minit,r1		! the slave's half begins
	mov.w	r0,@r1
	mov	#0,r4
	mov.l	f_move_objects,r0
	jsr	@r0
	mov	#COUNT / 2,r5
	mov.l	@(8,r8),r1		! the slave's answer
2:	mov.l	@(12,r8),r0
	cmp/eq	r0,r1
	bf	2b
	mov.l	f_draw_objects,r0
	jsr	@r0
	nop
	mov.l	f_wait_report,r0
	jsr	@r0
	nop
	mov.l	f_sync,r0
	jsr	@r0
	nop
	bra	frame
	nop

	.align	2
state:		.long	STATE
magic:		.long	0x42555359	! "BUSY"
register_list:	.long	registers
register_words:	.long	(registers_end - registers) / 8
copy_list:	.long	blocks_list
tvmd:		.long	VDP2_TVMD
display_on:	.long	TVMD_DISPLAY_ON
slave_pc:	.long	0x06000250
slave_sp:	.long	0x060002AC
slave_entry:	.long	slave_main
slave_stack:	.long	0x0607F000
sf:		.long	SMPC_SF
comreg:		.long	SMPC_COMREG
minit:		.long	0x21000000
f_cd_status:	.long	cd_status
f_move_objects:	.long	move_objects
f_draw_objects:	.long	draw_objects
f_wait_report:	.long	wait_report
f_sync:		.long	sync

! The slave: waits for the input-capture flag, clears it, moves the second
! half and answers with the frame number.
slave_main:
	mov.l	s_ftcsr,r10
	mov.l	s_state,r8
1:	mov.b	@r10,r0
	and	#128,r0
	tst	r0,r0
	bt/s	1b
	mov	#0,r1
	mov.b	@r10,r0
	and	#0x7F,r0
	mov.b	r0,@r10
	mov	#COUNT / 2,r4
	mov.l	s_move_objects,r0
	jsr	@r0
	mov	#COUNT,r5
	mov.l	@(8,r8),r0
	bra	1b
	mov.l	r0,@(12,r8)

	.align	2
s_ftcsr:	.long	0xFFFFFE11
s_state:	.long	STATE
s_move_objects:	.long	move_objects

! FIXED mul_fx(FIXED a, FIXED b)
mul_fx:
	dmuls.l	r4,r5
	sts	mach,r1
	sts	macl,r0
	rts
	xtrct	r1,r0

! FIXED div_fx(FIXED a, FIXED b): a / b by the divide unit
div_fx:
	mov.l	d_dvsr,r1
	mov.l	r5,@r1
	mov	r4,r0
	shlr16	r0
	exts.w	r0,r0
	mov.l	r0,@(16,r1)		! DVDNTH
	shll16	r4
	mov.l	r4,@(20,r1)		! DVDNTL: divides
	rts
	mov.l	@(20,r1),r0

	.align	2
d_dvsr:		.long	0xFFFFFF00

! FIXED sin_fx(int angle), 256 steps a turn
sin_fx:
	mov.l	n_sines,r1
	extu.b	r4,r0
	shll2	r0
	rts
	mov.l	@(r0,r1),r0

cos_fx:
	sts.l	pr,@-r15
	bsr	sin_fx
	add	#64,r4
	lds.l	@r15+,pr
	rts
	nop

	.align	2
n_sines:	.long	sines

! void make_rotation(FIXED *m, int angle): a turn about Y, scaled by a
! zoom that breathes with the angle
make_rotation:
	mov.l	r8,@-r15
	mov.l	r9,@-r15
	mov.l	r10,@-r15
	mov.l	r11,@-r15
	sts.l	pr,@-r15
	mov	r4,r8
	mov	r5,r4
	shll	r4
	bsr	sin_fx			! zoom = 1 + sin(2a) / 8
	mov	r5,r9
	shar	r0
	shar	r0
	shar	r0
	mov.l	r_one,r1
	add	r1,r0
	mov	r0,r11
	bsr	sin_fx
	mov	r9,r4
	mov	r0,r4
	bsr	mul_fx
	mov	r11,r5
	mov	r0,r10			! s
	bsr	cos_fx
	mov	r9,r4
	mov	r0,r4
	bsr	mul_fx
	mov	r11,r5			! c
	mov.l	r0,@r8
	mov	#0,r1
	mov.l	r1,@(4,r8)
	mov.l	r10,@(8,r8)
	mov.l	r1,@(12,r8)
	mov.l	r11,@(16,r8)
	mov.l	r1,@(20,r8)
	neg	r10,r10
	mov.l	r10,@(24,r8)
	mov.l	r1,@(28,r8)
	mov.l	r0,@(32,r8)
	lds.l	@r15+,pr
	mov.l	@r15+,r11
	mov.l	@r15+,r10
	mov.l	@r15+,r9
	rts
	mov.l	@r15+,r8

	.align	2
r_one:		.long	0x10000

! void mat_vec(const FIXED *m, const FIXED *v, FIXED *out)
mat_vec:
	mov	#3,r7
1:	mov	r5,r1
	clrmac
	mac.l	@r1+,@r4+
	mac.l	@r1+,@r4+
	mac.l	@r1+,@r4+
	sts	mach,r2
	sts	macl,r0
	xtrct	r2,r0
	mov.l	r0,@r6
	dt	r7
	bf/s	1b
	add	#4,r6
	rts
	nop

! void move_objects(int first, int last): turns objects first .. last - 1
! by the frame's angle and projects them to the screen
move_objects:
	mov.l	r8,@-r15
	mov.l	r9,@-r15
	mov.l	r10,@-r15
	mov.l	r11,@-r15
	mov.l	r12,@-r15
	mov.l	r13,@-r15
	mov.l	r14,@-r15
	sts.l	pr,@-r15
	add	#-48,r15		! the matrix, then the turned vertex
	mov	r4,r8
	mov	r5,r9
	mov.l	o_state,r1
	mov.l	@(8,r1),r5		! angle = frame * 3
	mov	r5,r0
	shll	r5
	add	r0,r5
	mov.l	o_make_rotation,r0
	jsr	@r0
	mov	r15,r4
	mov.l	o_objects,r10
	mov	r8,r0
	shll2	r0
	shll2	r0
	add	r0,r10
	mov.l	o_points,r11
	mov	r8,r0
	shll2	r0
	add	r0,r11
	mov	r15,r12
	add	#36,r12
	mov.l	o_mul_fx,r13
	mov.l	o_div_fx,r14
2:	mov	r15,r4
	mov	r10,r5
	mov.l	o_mat_vec,r0
	jsr	@r0
	mov	r12,r6
	mov.l	@(8,r12),r0		! pushed away from the camera
	mov.l	o_camera,r1
	add	r1,r0
	mov.l	r0,@(8,r12)
	mov.l	o_focus,r5
	jsr	@r13
	mov.l	@r12,r4
	mov	r0,r4
	jsr	@r14
	mov.l	@(8,r12),r5
	shlr16	r0
	exts.w	r0,r0
	mov.w	o_centre_x,r1
	add	r1,r0
	mov.w	r0,@r11
	mov.l	o_focus,r5
	jsr	@r13
	mov.l	@(4,r12),r4
	mov	r0,r4
	jsr	@r14
	mov.l	@(8,r12),r5
	shlr16	r0
	exts.w	r0,r0
	add	#112,r0
	mov.w	r0,@(2,r11)
	add	#16,r10
	add	#1,r8
	cmp/ge	r9,r8
	bf/s	2b
	add	#4,r11
	add	#48,r15
	lds.l	@r15+,pr
	mov.l	@r15+,r14
	mov.l	@r15+,r13
	mov.l	@r15+,r12
	mov.l	@r15+,r11
	mov.l	@r15+,r10
	mov.l	@r15+,r9
	rts
	mov.l	@r15+,r8

	.align	2
o_state:	.long	STATE
o_objects:	.long	OBJECTS
o_points:	.long	POINTS
o_make_rotation: .long	make_rotation
o_mat_vec:	.long	mat_vec
o_mul_fx:	.long	mul_fx
o_div_fx:	.long	div_fx
o_camera:	.long	320 << 16
o_focus:	.long	192 << 16
o_centre_x:	.word	160

! void draw_objects(void): an 8 x 8 polygon round each screen point
	.align	2
draw_objects:
	mov.l	w_points,r4
	mov.l	w_polygons,r5
	mov	#COUNT,r6
1:	mov.w	@r4+,r1
	mov.w	@r4+,r2
	mov	r5,r7
	add	#12,r7			! XA
	mov	r1,r0
	add	#-4,r0
	mov	r1,r3
	add	#4,r3
	mov	r2,r1
	add	#-4,r1
	add	#4,r2
	mov.w	r0,@r7
	add	#2,r7
	mov.w	r1,@r7
	add	#2,r7
	mov.w	r3,@r7
	add	#2,r7
	mov.w	r1,@r7
	add	#2,r7
	mov.w	r3,@r7
	add	#2,r7
	mov.w	r2,@r7
	add	#2,r7
	mov.w	r0,@r7
	add	#2,r7
	mov.w	r2,@r7
	dt	r6
	bf/s	1b
	add	#32,r5
	rts
	nop

	.align	2
w_points:	.long	POINTS
w_polygons:	.long	POLYGONS

! Uint16 hirq(void): the CD block's interrupt flags
hirq:
	mov.l	h_hirq,r1
	mov.w	@r1,r0
	rts
	extu.w	r0,r0

! int hirq_test(int bits): whether one of bits is raised
hirq_test:
	mov.l	r14,@-r15
	sts.l	pr,@-r15
	bsr	hirq
	mov	r4,r14
	and	r14,r0
	tst	r0,r0
	movt	r0
	xor	#1,r0
	lds.l	@r15+,pr
	rts
	mov.l	@r15+,r14

! int cd_wait(int bits): 0 once one of bits is raised, -1 at the limit
cd_wait:
	mov.l	r8,@-r15
	mov.l	r9,@-r15
	mov.l	r10,@-r15
	mov.l	r11,@-r15
	sts.l	pr,@-r15
	mov	r4,r9
	mov.l	h_limit,r10
	mov.l	h_hirq_test,r11
	mov	#0,r8
1:	jsr	@r11
	mov	r9,r4
	tst	r0,r0
	bf	2f
	add	#1,r8
	cmp/gt	r10,r8
	bf	1b
	bra	3f
	mov	#-1,r0
2:	mov	#0,r0
3:	lds.l	@r15+,pr
	mov.l	@r15+,r11
	mov.l	@r15+,r10
	mov.l	@r15+,r9
	rts
	mov.l	@r15+,r8

! void cd_status(void): GetStatus; the status byte to +20, or a timeout
! counted at +16
cd_status:
	mov.l	r8,@-r15
	sts.l	pr,@-r15
	mov.l	c_state,r8
	mov.l	h_regs,r1
	mov.w	h_not_cmok,r0
	mov.w	r0,@(8,r1)		! HIRQREQ: CMOK clear
	mov	#0,r0
	mov.w	r0,@(24,r1)		! CR1: GetStatus
	mov.w	r0,@(28,r1)		! CR2
	mov	r1,r2
	add	#32,r2
	mov.w	r0,@r2			! CR3
	mov.w	r0,@(4,r2)		! CR4: the command goes
	bsr	cd_wait
	mov	#1,r4
	cmp/pz	r0
	bt	1f
	mov.l	@(16,r8),r0
	add	#1,r0
	bra	2f
	mov.l	r0,@(16,r8)
1:	mov.l	h_regs,r1
	mov.w	@(24,r1),r0
	shlr8	r0
	extu.b	r0,r0
	mov.l	r0,@(20,r8)
2:	lds.l	@r15+,pr
	rts
	mov.l	@r15+,r8

! void wait_report(void): clears SCDQ and waits for the drive's next
! report, counting up to a limit in the loop itself; the limit is cut
! short on odd frames
wait_report:
	mov.l	h_regs,r6
	mov.w	h_not_scdq,r0
	mov.w	r0,@(8,r6)
	add	#8,r6
	mov.w	h_scdq,r5
	mov.l	c_state,r1		! a short limit on odd frames
	mov.l	@(8,r1),r0
	mov.l	h_report_limit,r7
	tst	#1,r0
	bt	0f
	shlr8	r7
0:	mov	#0,r3
1:	mov.w	@r6,r1
	tst	r5,r1
	bf	2f
	add	#1,r3
	cmp/gt	r7,r3
	bf	1b
	mov.l	c_state,r1
	mov.l	@(24,r1),r0
	add	#1,r0
	rts
	mov.l	r0,@(24,r1)
2:	mov.l	c_state,r1
	mov.l	@(28,r1),r0
	add	#1,r0
	rts
	mov.l	r0,@(28,r1)

	.align	2
h_hirq:		.long	CDB_REGS + 8
h_regs:		.long	CDB_REGS
c_state:	.long	STATE
h_limit:	.long	2000
h_report_limit:	.long	80000
h_hirq_test:	.long	hirq_test
h_not_cmok:	.word	0xFFFE
h_not_scdq:	.word	0xFBFF
h_scdq:		.word	0x0400

! int frame_count(void)
	.align	2
frame_count:
	mov.l	v_state,r1
	rts
	mov.l	@(4,r1),r0

! int field_passed(int since): whether V-BLANK-IN came since the count
field_passed:
	mov.l	r14,@-r15
	sts.l	pr,@-r15
	bsr	frame_count
	mov	r4,r14
	cmp/eq	r0,r14
	movt	r0
	xor	#1,r0
	lds.l	@r15+,pr
	rts
	mov.l	@r15+,r14

! void sync(void): waits for the next V-BLANK-IN
sync:
	mov.l	r8,@-r15
	sts.l	pr,@-r15
	bsr	frame_count
	nop
	mov	r0,r8
1:	bsr	field_passed
	mov	r8,r4
	tst	r0,r0
	bt	1b
	lds.l	@r15+,pr
	rts
	mov.l	@r15+,r8

	.align	2
v_state:	.long	STATE

! (address, word) pairs.
registers:
	.long	0x25D00000, 0x0000	! TVMR: 512 x 256, 16-bit
	.long	0x25D00002, 0x0000	! FBCR: change and erase every field
	.long	0x25D00006, 0x0000	! EWDR: erase to transparent
	.long	0x25D00008, 0x0000	! EWLR
	.long	0x25D0000A, 0x50E0	! EWRR: 320 x 224
	.long	0x25E7FFFE, 0x0841	! back screen: dark grey
	.long	0x25F800AC, 0x0003
	.long	0x25F800AE, 0xFFFF
	.long	0x25F800E0, 0x0020	! SPCTL: type 0, palette and RGB mixed
	.long	0x25F800F0, 0x0505	! PRISA: sprite priority 5
	.long	0x25D00004, 0x0002	! PTMR: draw at every frame change
registers_end:

blocks_list:
	.long	commands, 0x25C00000, (commands_end - commands) / 4
	.long	objects, OBJECTS, COUNT * 4

! The system clip, the local origin, a polygon per object in a colour of
! its own, and the end.
	.align	2
commands:
	.word	0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223, 0, 0, 0, 0
	.word	0x000A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
	.set	i, 0
	.rept	COUNT
	.word	0x0004, 0, 0x00C0, 0x8000 | ((i * 5) & 31) << 10 | ((i * 11) & 31) << 5 | (31 - (i & 15))
	.word	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
	.set	i, i + 1
	.endr
	.word	0x8000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
commands_end:

! Eight columns and six rows of objects, each row at its own depth.
objects:
	.set	i, 0
	.rept	COUNT
	.long	((i & 7) * 40 - 140) << 16, ((i / 8) * 32 - 80) << 16, (((i * 37) & 63) - 32) << 16, 0
	.set	i, i + 1
	.endr

! sin(i * 2 pi / 256) with 1.0 = 0x10000, from Bhaskara's approximation
! (within 0.2 %), 256 longs.
sines:
	.set	i, 0
	.rept	256
	.if	i < 128
	.set	t, i * (128 - i)
	.long	(16 * t * 16384) / (81920 - 4 * t) * 4
	.else
	.set	t, (i - 128) * (256 - i)
	.long	-((16 * t * 16384) / (81920 - 4 * t) * 4)
	.endif
	.set	i, i + 1
	.endr
