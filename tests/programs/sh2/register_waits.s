! The register-wait disc's first file: the waits the libraries make on
! device registers rather than on memory. Every field the master waits
! for V-BLANK-OUT on VDP2's TVSTAT, for VDP1's draw end on EDSR through a
! call and on the SCU's IST, for an SCU DMA on DSTA with a limit count,
! for an SMPC command on SF and for its interrupt on IST read as a byte,
! for a line on VCNT and four H-BLANK-INs on TVSTAT, and for V-BLANK-IN
! on IST's low byte. The
! slave waits on memory for the master's field, then on EDSR counting its
! passes in a delayed branch's slot, on DSTA, and on TVSTAT's H-BLANK
! bit, which it may not read quietly.
! State block at 0x26080000:
!   +0  "WAIT" once set up   +4  V-BLANK-IN count   +8  fields begun
!   +12 the slave's last field   +16 DSTA polls of the last DMA
!   +20 H-BLANK-INs counted   +24 the slave's EDSR passes
!   +28 OREG0-2 and OREG4 of the last INTBACK   +32 the slave's H-BLANK waits
!   +36 passes of the last SF wait   +40 of the last V-BLANK-IN wait
! base: 0x06004000
	.include "saturn.inc"
	.equ	STATE, 0x26080000
	.equ	TVSTAT, 0x25F80004
	.equ	VCNT, 0x25F8000A
	.equ	EDSR, 0x25D00010
	.equ	SCU_D0R, 0x25FE0000	! D0W, D0C, D0AD, D0EN, D0MD at +4 .. +20
	.equ	SCU_DSTA, 0x25FE007C
	.equ	SCU_IST, 0x25FE00A4

	first_file STATE

main:
	mov.l	state,r8
	mov	#0,r0
	mov	#9,r1
1:	mov.l	r0,@(8,r8)		! +8 .. +40
	dt	r1
	bf/s	1b
	add	#4,r8
	mov.l	state,r8

	mov.l	register_list,r1	! VDP1, VDP2 and colour RAM words
	mov.l	register_words,r3
	write_words

	mov.l	copy_list,r1
	mov	#1,r4
	copy_blocks

	start_slave slave_pc, slave_sp, slave_entry, slave_stack, sf, comreg

	vdp2_display_on tvmd, display_on	! last
	mov.l	magic,r0
	mov.l	r0,@r8

frame:
	mov.l	@(8,r8),r0
	add	#1,r0
	mov.l	r0,@(8,r8)		! the slave's turn
	mov.l	tvstat,r1
1:	mov.w	@r1,r0			! V-BLANK-OUT
	tst	#8,r0
	bf	1b
	mov.l	ist,r1			! V-BLANK-IN's bit, for the field's end
	mov	#-2,r0
	mov.b	r0,@(3,r1)

	! VDP1 draws from the frame change: its end through a call, then
	! IST's sprite-draw-end bit, cleared once seen.
	mov.l	f_draw_ended,r9
2:	jsr	@r9
	nop
	tst	r0,r0
	bt	2b
	mov.l	ist,r1
	mov.l	sprite_end,r2
3:	mov.l	@r1,r0
	tst	r2,r0
	bt	3b
	not	r2,r0
	mov.l	r0,@r1

	! 64 KB of work RAM into VDP2's VRAM by SCU DMA level 0, started by
	! its enable bit; DSTA polled up to a limit.
	mov.l	dma_regs,r1
	mov.l	dma_source,r0
	mov.l	r0,@r1
	mov.l	dma_target,r0
	mov.l	r0,@(4,r1)
	mov.l	dma_bytes,r0
	mov.l	r0,@(8,r1)
	mov.w	dma_add,r0
	mov.l	r0,@(12,r1)
	mov	#7,r0
	mov.l	r0,@(20,r1)		! D0MD: the enable bit starts it
	mov.w	dma_go,r0
	mov.l	r0,@(16,r1)
	mov.l	dsta,r1
	mov	#0,r3
	mov.l	dma_limit,r7
4:	mov.l	@r1,r0
	tst	#0x10,r0
	bt	5f
	add	#1,r3
	cmp/hi	r7,r3
	bf	4b
5:	mov.l	r3,@(16,r8)

	! INTBACK for the status and the pads, SF set until both are in; then
	! the SMPC's interrupt bit in IST's low byte, cleared with a byte
	! write.
	mov.l	sf,r1
	wait_smpc_free
	mov	#1,r0
	mov.b	r0,@r1
	mov.l	ireg0,r2
	mov.b	r0,@r2			! IREG0: the status
	mov	#8,r0
	mov.b	r0,@(2,r2)		! IREG1: the pads' data too
	mov	#-16,r0
	mov.b	r0,@(4,r2)		! IREG2: 0xF0
	mov.l	comreg,r2
	mov	#0x10,r0
	mov.b	r0,@r2
	mov	#0,r3
0:	mov.b	@r1,r0			! SF, its passes counted
	tst	#1,r0
	bf/s	0b
	add	#1,r3
	mov.l	r3,@(36,r8)
	mov.l	ist,r1
6:	mov.b	@(3,r1),r0
	tst	#0x80,r0
	bt	6b
	mov	#0x7F,r0
	mov.b	r0,@(3,r1)
	mov.l	oreg0,r1		! OREG0-2 and OREG4 into one long
	mov.b	@r1,r0
	extu.b	r0,r2
	mov.b	@(2,r1),r0
	shll8	r2
	extu.b	r0,r0
	or	r0,r2
	mov.b	@(4,r1),r0
	shll8	r2
	extu.b	r0,r0
	or	r0,r2
	mov.b	@(8,r1),r0
	shll8	r2
	extu.b	r0,r0
	or	r0,r2
	mov.l	r2,@(28,r8)

	! The raster: VCNT up to line 150, then four H-BLANK-INs, counted.
	mov.l	vcnt,r1
	mov.w	line,r2
7:	mov.w	@r1,r0
	extu.w	r0,r0
	cmp/hs	r2,r0
	bf	7b
	mov.l	tvstat,r1
	mov	#4,r4
8:	mov.w	@r1,r0			! out of H-BLANK
	tst	#4,r0
	bf	8b
9:	mov.w	@r1,r0			! the next H-BLANK-IN
	tst	#4,r0
	bt	9b
	mov.l	@(20,r8),r0
	add	#1,r0
	dt	r4
	bf/s	8b
	mov.l	r0,@(20,r8)

	mov.l	ist,r1
	mov	#0,r3
10:	mov.b	@(3,r1),r0		! V-BLANK-IN, through IST, counted
	tst	#1,r0
	bt/s	10b
	add	#1,r3
	mov.l	bgon,r1			! the layers for the first field only, as
	mov	#0,r0			! they cost time
	mov.w	r0,@r1
	bra	frame
	mov.l	r3,@(40,r8)

	.align	2
state:		.long	STATE
magic:		.long	0x57414954	! "WAIT"
register_list:	.long	registers
register_words:	.long	(registers_end - registers) / 8
copy_list:	.long	blocks_list
tvmd:		.long	VDP2_TVMD
bgon:		.long	0x25F80020
display_on:	.long	TVMD_DISPLAY_ON
slave_pc:	.long	0x06000250
slave_sp:	.long	0x060002AC
slave_entry:	.long	slave_main
slave_stack:	.long	0x0607F000
sf:		.long	SMPC_SF
comreg:		.long	SMPC_COMREG
ireg0:		.long	SMPC_IREG0
oreg0:		.long	SMPC_OREG0
tvstat:		.long	TVSTAT
vcnt:		.long	VCNT
ist:		.long	SCU_IST
sprite_end:	.long	0x2000
dma_regs:	.long	SCU_D0R
dma_source:	.long	0x06040000
dma_target:	.long	0x25E40000
dma_bytes:	.long	0x10000
dma_limit:	.long	100000
dsta:		.long	SCU_DSTA
f_draw_ended:	.long	draw_ended
dma_add:	.word	0x0101		! read +4, write +2
dma_go:		.word	0x0101
line:		.word	300		! VCNT counts two a line

! int draw_ended(void): EDSR's CEF
	.align	2
draw_ended:
	mov.l	d_edsr,r1
	mov.w	@r1,r0
	rts
	and	#2,r0

	.align	2
d_edsr:		.long	EDSR

! The slave: waits for the master's field, then for VDP1's next frame and
! its draw's end, counting passes in the slot, then for the DMA's end and
! an H-BLANK-IN.
slave_main:
	mov.l	s_state,r8
	mov	#0,r10
	mov	#0,r11
1:	mov.l	@(8,r8),r0
	cmp/eq	r0,r10
	bt	1b
	mov	r0,r10
	mov.l	s_edsr,r1
2:	mov.w	@r1,r0			! the frame change clears CEF
	tst	#2,r0
	bf	2b
3:	mov.w	@r1,r0
	tst	#2,r0
	bt/s	3b
	add	#1,r11
	mov.l	r11,@(24,r8)
	mov.l	s_dsta,r1
4:	mov.l	@r1,r0
	tst	#0x10,r0
	bf	4b
	mov.l	s_tvstat,r1
5:	mov.w	@r1,r0
	tst	#4,r0
	bt	5b
	mov.l	@(32,r8),r0
	add	#1,r0
	mov.l	r0,@(32,r8)
	bra	1b
	mov.l	r10,@(12,r8)

	.align	2
s_state:	.long	STATE
s_edsr:		.long	EDSR
s_dsta:		.long	SCU_DSTA
s_tvstat:	.long	TVSTAT

! (address, word) pairs.
registers:
	.long	0x25D00000, 0x0000	! TVMR: 512 x 256, 16-bit
	.long	0x25D00002, 0x0000	! FBCR: change and erase every field
	.long	0x25D00006, 0x0000	! EWDR: erase to transparent
	.long	0x25D00008, 0x0000	! EWLR
	.long	0x25D0000A, 0x50E0	! EWRR: 320 x 224
	.long	0x25E7FFFE, 0x0421	! back screen
	.long	0x25F800AC, 0x0003
	.long	0x25F800AE, 0xFFFF
	.long	0x25F800E0, 0x3020	! SPCTL: type 0, palette and RGB mixed, condition by the MSB
	.long	0x25F800F0, 0x0505	! PRISA: sprite priority 5
	! Layers that are fetched in the first field and never seen: NBG0 at
	! priority 0, and RBG0's transparent cells at 0 by set A with per-dot
	! coefficients below line 100 and by both sets, split by window 0,
	! above it.
	.long	0x25E3FF5E, 0x0400	! set A's dKAx; its table at 0x3FF00, B's at 0x3FF80
	.long	0x25F800B0, 0x0003	! RPMD: sets by the rotation window
	.long	0x25F800B4, 0x0001	! KTCTL: set A's coefficients on
	.long	0x25F800BC, 0x0001	! RPTAU, RPTAL: parameters at 0x3FF00
	.long	0x25F800BE, 0xFF80
	.long	0x25F800C4, 0x013F	! WPEX0, WPEY0: window 0 over dots 0-159 of lines 0-99
	.long	0x25F800C6, 0x0063
	.long	0x25F800D6, 0x0002	! WCTLD: set B inside window 0
	.long	0x25F800F8, 0x0000	! PRINA: NBG0 0
	.long	0x25F800FC, 0x0001	! PRIR: RBG0 1
	.long	0x25F80020, 0x0011	! BGON: NBG0, RBG0
	.long	0x25D00004, 0x0002	! PTMR: draw at every frame change
registers_end:

blocks_list:
	.long	commands, 0x25C00000, (commands_end - commands) / 4

! The system clip, the local origin, four polygons, a slanted one that
! runs off the clip's bottom edge, and the end.
	.align	2
commands:
	.word	0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223, 0, 0, 0, 0
	.word	0x000A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
	.word	0x0004, 0, 0x00C0, 0xFC00, 0, 0, 20, 20, 140, 20, 140, 100, 20, 100, 0, 0
	.word	0x0004, 0, 0x00C0, 0x83E0, 0, 0, 180, 20, 300, 20, 300, 100, 180, 100, 0, 0
	.word	0x0004, 0, 0x00C0, 0x801F, 0, 0, 20, 120, 140, 120, 140, 200, 20, 200, 0, 0
	.word	0x0004, 0, 0x00C0, 0xFFFF, 0, 0, 180, 120, 300, 120, 300, 200, 180, 200, 0, 0
	.word	0x0004, 0, 0x00C0, 0xFE00, 0, 0, 240, 180, 300, 200, 260, 260, 200, 240, 0, 0
	.word	0x8000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
commands_end:
