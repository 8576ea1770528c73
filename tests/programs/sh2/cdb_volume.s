! First file of the volume-descriptor test disc. It finds the ISO volume
! descriptor as the console's libraries do, on a CD block left as the BIOS
! hands it over (no CdInit, no SetFiltCon): once the block has read the
! disc, the table of contents, then GetSes(1), whose start + 166 is the
! descriptor's FAD; CdPlay of that one sector through filter 0 into
! partition 0; the sector read once through the 32-bit data port and once
! through the 16-bit transfer register. Then it plays 100 sectors from FAD
! 150 and notes, at each of 40 V-BLANK-INs, how many sectors partition 0
! holds, so a run that lost a drive step would show it.
!
! State block at 0x06080000:
!   +0 "KEST" once done    +4 V-BLANK-IN count     +8 GetSes(1) CR3
!   +12 GetSes(1) CR4      +16 the computed FAD    +20 V-BLANK-IN count when done
!   +0x100 the table of contents (204 words, through the 16-bit register)
!   +0x400 the sector counts (40 longs)
! The sector through the 32-bit port at 0x06060000, through the 16-bit
! register at 0x06061000.
! base: 0x06004000
	.include "saturn.inc"

! A command with constant words CR1-CR4; waits for its end and the HIRQ
! bits given. R13 holds the register window, R11 CR1's address.
	.macro	cmd cr1, cr2, cr3, cr4, bits
	mov.l	1f,r1
	mov.l	2f,r2
	mov.l	3f,r3
	mov.l	4f,r4
	bsr	command
	mov	#\bits,r5
	bra	5f
	nop
	.align	2
1:	.long	\cr1
2:	.long	\cr2
3:	.long	\cr3
4:	.long	\cr4
5:
	.endm

	first_file 0x06080000

main:
	mov.l	state,r8
	mov.l	cr1_addr,r11
	mov.l	regs_addr,r13
toc_wait:				! GetSes(0) until it counts a session
	cmd	0x0300, 0, 0, 0, 0
	mov.w	@(8,r11),r0
	shlr8	r0
	tst	#0xFF,r0
	bt	toc_wait

	cmd	0x0200, 0, 0, 0, 2	! TgetToc, 204 words of info data
	mov.l	toc_dest,r2
	mov.l	toc_words,r1
toc_loop:
	mov.w	@r13,r0			! the 16-bit transfer register
	mov.w	r0,@r2
	dt	r1
	bf/s	toc_loop
	add	#2,r2
	cmd	0x0600, 0, 0, 0, 0	! EndDataTransfer

	cmd	0x0301, 0, 0, 0, 0	! GetSes(1): the session's start, + 166
	mov.w	@(8,r11),r0
	extu.w	r0,r6
	mov.l	r6,@(8,r8)
	mov.w	@(12,r11),r0
	extu.w	r0,r9
	mov.l	r9,@(12,r8)
	mov	r6,r0
	and	#0xFF,r0
	shll16	r0
	or	r0,r9
	mov.l	vd_offset,r1
	add	r1,r9
	mov.l	r9,@(16,r8)

	cmd	0x3000, 0, 0, 0, 0	! CdSetCon: the drive into filter 0
	mov	r9,r0			! CdPlay of one sector at that FAD
	shlr16	r0
	and	#0x7F,r0
	mov.l	w_1080,r1
	or	r0,r1
	extu.w	r9,r2
	mov.l	w_0080,r3
	mov	#1,r4
	bsr	command
	mov	#0,r5
sector_wait:				! GetSctNum until partition 0 holds it
	cmd	0x5100, 0, 0, 0, 0
	mov.w	@(12,r11),r0
	tst	r0,r0
	bt	sector_wait

	cmd	0x6100, 0, 0, 1, 2	! GetSctData: the 32-bit port
	mov.l	port32,r3
	mov.l	dest32,r2
	mov.l	longs,r1
rd32:
	mov.l	@r3,r0
	mov.l	r0,@r2
	dt	r1
	bf/s	rd32
	add	#4,r2
	cmd	0x0600, 0, 0, 0, 0

	cmd	0x6300, 0, 0, 1, 2	! GetdelSctData: the 16-bit register
	mov.l	dest16,r2
	mov.l	words,r1
rd16:
	mov.w	@r13,r0
	mov.w	r0,@r2
	dt	r1
	bf/s	rd16
	add	#2,r2
	cmd	0x0600, 0, 0, 0, 0

	cmd	0x1080, 150, 0x0080, 100, 0	! a longer play, sampled each field
	mov.l	counts,r10
	mov	#40,r12
sample:
	wait_field
	cmd	0x5100, 0, 0, 0, 0
	mov.w	@(12,r11),r0
	extu.w	r0,r0
	mov.l	r0,@r10
	dt	r12
	bf/s	sample
	add	#4,r10

	mov.l	@(4,r8),r0
	mov.l	r0,@(20,r8)
	mov.l	magic,r0
	mov.l	r0,@r8
	idle_forever

! Issues the command in R1-R4 (CR1-CR4) and waits for its end and then for
! the HIRQ bits in R5.
command:
	cdb_command_body

	.align	2
state:		.long	0x06080000
regs_addr:	.long	CDB_REGS
cr1_addr:	.long	CDB_CR1
port32:		.long	CDB_DATA
toc_dest:	.long	0x06080100
toc_words:	.long	204
counts:		.long	0x06080400
dest32:		.long	0x06060000
dest16:		.long	0x06061000
longs:		.long	512
words:		.long	1024
vd_offset:	.long	166
magic:		.long	0x4B455354
w_0080:		.long	0x0080
w_1080:		.long	0x1080
