! First file of the lead-in disc. Every third field it seeks to FAD 10, in
! the lead-in before the first track, and plays from there without pickup,
! so the drive starts each read in the lead-in; it keeps that up. Nothing
! is connected to the drive: the sectors go nowhere.
!
! State block at 0x06080000:
!   +0 "KEST" after the first seek and play    +4 V-BLANK-IN count
!   +8 the number of seek and play pairs issued
! base: 0x06004000
	.include "saturn.inc"

	first_file 0x06080000

main:
	mov.l	state,r8
	mov.l	cr1_addr,r11
	mov.l	regs_addr,r13
	mov.l	magic,r10
toc_wait:				! GetSes(0) until it counts a session
	mov.w	w_0300,r1
	bsr	command
	mov	#0,r2
	mov.w	@(8,r11),r0
	shlr8	r0
	tst	#0xFF,r0
	bt	toc_wait
round:
	mov.w	w_1180,r1		! CdSeek FAD 10
	bsr	command
	mov	#10,r2
	mov.w	w_1000,r1		! CdPlay to the default end, no pickup
	bsr	command
	mov	#0,r2
	mov.l	r10,@r8
	mov.l	@(8,r8),r0
	add	#1,r0
	mov.l	r0,@(8,r8)
	wait_field
	wait_field
	wait_field
	bra	round
	nop

! Issues CR1 = R1, CR2 = R2, CR3 = 0x8000 (CdPlay's no pickup, default
! end), CR4 = 0 and waits for its end; the other commands ignore CR3-CR4.
command:
	mov	#0,r0
	cdb_clear_hirq
	mov	r1,r0
	mov.w	r0,@r11
	mov	r2,r0
	mov.w	r0,@(4,r11)
	mov.w	w_8000,r0
	mov.w	r0,@(8,r11)
	mov	#0,r0
	mov.w	r0,@(12,r11)
	cdb_wait_cmok
	rts
	nop

	.align	2
state:		.long	0x06080000
regs_addr:	.long	CDB_REGS
cr1_addr:	.long	CDB_CR1
magic:		.long	0x4B455354
w_0300:		.word	0x0300
w_1180:		.word	0x1180
w_1000:		.word	0x1000
w_8000:		.word	0x8000
