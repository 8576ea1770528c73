! First file of the volume-descriptor test disc. It finds the ISO volume
! descriptor as the console's libraries do, on a CD block left as the BIOS
! hands it over (no CdInit, no SetFiltCon): once the block has read the disc, the table
! of contents, then
! GetSes(1), whose start + 166 is the descriptor's FAD; CdPlay of that one
! sector through filter 0 into partition 0; the sector read once through
! the 32-bit data port and once through the 16-bit transfer register. Then
! it plays 100 sectors from FAD 150 and notes, at each of 40 V-BLANK-INs,
! how many sectors partition 0 holds, so a run that lost a drive step would
! show it.
!
! State block at 0x06080000:
!   +0 "KEST" once done    +4 V-BLANK-IN count     +8 GetSes(1) CR3
!   +12 GetSes(1) CR4      +16 the computed FAD    +20 V-BLANK-IN count when done
!   +0x100 the table of contents (204 words, through the 16-bit register)
!   +0x400 the sector counts (40 longs)
! The sector through the 32-bit port at 0x06060000, through the 16-bit
! register at 0x06061000.
! base: 0x06004000
	.org	0
	bra	main
	nop

! Called by the BIOS's SCU entry as a subroutine; R0 to R7 are saved there.
	.org	0x100
handler:
	mov.l	h_state,r1
	mov.l	@(4,r1),r2
	add	#1,r2
	rts
	mov.l	r2,@(4,r1)

	.align	2
h_state:	.long	0x06080000

main:
	mov.l	state,r8
	mov.l	cr1_addr,r11
	mov.l	regs_addr,r13

	! Wait for the block to have read the disc's table: GetSes(0) counts
	! its sessions.
toc_wait:
	mov.l	w_0300,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#0,r5
	mov.w	@(8,r11),r0
	shlr8	r0
	and	#0xFF,r0
	cmp/eq	#0,r0
	bt	toc_wait

	! Table of contents: TgetToc, then 204 words of info data.
	mov.l	w_0200,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#2,r5			! DRDY
	mov.l	toc_dest,r2
	mov.l	toc_words,r1
toc_loop:
	mov.w	@r13,r0			! the 16-bit transfer register
	mov.w	r0,@r2
	dt	r1
	bf/s	toc_loop
	add	#2,r2
	bsr	data_end
	nop

	! GetSes(1): the session's start, + 166.
	mov.l	w_0301,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#0,r5
	mov.w	@(8,r11),r0
	extu.w	r0,r6
	mov.l	r6,@(8,r8)
	mov.w	@(12,r11),r0
	extu.w	r0,r7
	mov.l	r7,@(12,r8)
	mov	r6,r0
	and	#0xFF,r0
	shll16	r0
	or	r7,r0
	mov.l	vd_offset,r1
	add	r1,r0
	mov.l	r0,@(16,r8)
	mov	r0,r9			! the descriptor's FAD

	! CdSetCon: the drive into filter 0.
	mov.l	w_3000,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#0,r5

	! CdPlay of one sector at that FAD.
	mov	r9,r0
	shlr16	r0
	and	#0x7F,r0
	mov.l	w_1080,r1
	or	r0,r1
	extu.w	r9,r2
	mov	#0x80,r3
	extu.b	r3,r3
	mov	#1,r4
	bsr	command
	mov	#0,r5
	bsr	wait_sectors
	mov	#1,r4

	! GetSctData: the 32-bit port.
	mov.l	w_6100,r1
	mov	#0,r2
	mov	#0,r3
	mov	#1,r4
	bsr	command
	mov	#2,r5
	mov.l	port32,r3
	mov.l	dest32,r2
	mov.l	longs,r1
rd32:
	mov.l	@r3,r0
	mov.l	r0,@r2
	dt	r1
	bf/s	rd32
	add	#4,r2
	bsr	data_end
	nop

	! GetdelSctData: the 16-bit register; the sector leaves the partition.
	mov.l	w_6300,r1
	mov	#0,r2
	mov	#0,r3
	mov	#1,r4
	bsr	command
	mov	#2,r5
	mov.l	dest16,r2
	mov.l	words,r1
rd16:
	mov.w	@r13,r0
	mov.w	r0,@r2
	dt	r1
	bf/s	rd16
	add	#2,r2
	bsr	data_end
	nop

	! A longer play, sampled at every V-BLANK-IN.
	mov.l	w_1080,r1
	mov	#150,r2
	extu.b	r2,r2
	mov	#0x80,r3
	extu.b	r3,r3
	mov	#100,r4
	bsr	command
	mov	#0,r5
	mov.l	counts,r10
	mov	#40,r12
sample:
	mov.l	@(4,r8),r0
	mov	r0,r9
vwait:
	mov.l	@(4,r8),r0
	cmp/eq	r0,r9
	bt	vwait
	mov.l	w_5100,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#0,r5
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
idle:
	bra	idle
	nop

! GetSctNum of partition 0 until it holds R4 sectors.
wait_sectors:
	sts.l	pr,@-r15
	mov	r4,r14
ws_again:
	mov.l	w_5100,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#0,r5
	mov.w	@(12,r11),r0
	extu.w	r0,r0
	cmp/hs	r14,r0
	bf	ws_again
	lds.l	@r15+,pr
	rts
	nop

! EndDataTransfer.
data_end:
	sts.l	pr,@-r15
	mov.l	w_0600,r1
	mov	#0,r2
	mov	#0,r3
	mov	#0,r4
	bsr	command
	mov	#0,r5
	lds.l	@r15+,pr
	rts
	nop

! Issues the command in R1-R4 (CR1-CR4) and waits for its end and then for
! the HIRQ bits in R5.
command:
	mov	r5,r0
	or	#1,r0
	not	r0,r0
	mov.w	r0,@(8,r13)		! HIRQREQ: clear them
	mov	r1,r0
	mov.w	r0,@r11
	mov	r2,r0
	mov.w	r0,@(4,r11)
	mov	r3,r0
	mov.w	r0,@(8,r11)
	mov	r4,r0
	mov.w	r0,@(12,r11)
wait_cmok:
	mov.w	@(8,r13),r0
	tst	#1,r0
	bt	wait_cmok
	tst	r5,r5
	bt	cmd_done
wait_bits:
	mov.w	@(8,r13),r0
	and	r5,r0
	cmp/eq	r5,r0
	bf	wait_bits
cmd_done:
	rts
	nop

	.align	2
state:		.long	0x06080000
regs_addr:	.long	0x25890000
cr1_addr:	.long	0x25890018
port32:		.long	0x25818000
toc_dest:	.long	0x06080100
toc_words:	.long	204
counts:		.long	0x06080400
dest32:		.long	0x06060000
dest16:		.long	0x06061000
longs:		.long	512
words:		.long	1024
vd_offset:	.long	166
magic:		.long	0x4B455354
w_0200:		.long	0x0200
w_0300:		.long	0x0300
w_0301:		.long	0x0301
w_0600:		.long	0x0600
w_1080:		.long	0x1080
w_3000:		.long	0x3000
w_5100:		.long	0x5100
w_6100:		.long	0x6100
w_6300:		.long	0x6300
