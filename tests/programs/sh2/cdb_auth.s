! First file of the authentication test disc. It learns the drive's kind as
! the homebrew libraries do at start-up: AuthDevice (0xE0) for the disc,
! with CR3 and CR4 as one such library leaves them, waits for the command's
! end and then for EFLS, then asks GetAuthStatus (0xE1). It notes the status
! while the disc is proved and after.
!
! State block at 0x06080000:
!   +0 "KEST" once done          +4 V-BLANK-IN count
!   +8 GetAuthStatus CR2 before AuthDevice (the boot proved the disc)
!   +12 AuthDevice's CR1         +16 GetCurStat's CR1 just after it
!   +20 fields until EFLS        +24 GetCurStat's CR1 after EFLS
!   +28 to +40 GetAuthStatus CR1 to CR4
! base: 0x06004000
	.include "saturn.inc"

! A command with constant words CR1-CR4; waits for its end and then for
! the HIRQ bits given. R13 holds the register window, R11 CR1's address.
	.macro	cmd cr1, cr2, cr3, cr4, bits
	mov.l	1f,r1
	mov.l	2f,r2
	mov.l	3f,r3
	mov.l	4f,r4
	mov.l	5f,r5
	bsr	command
	nop
	bra	6f
	nop
	.align	2
1:	.long	\cr1
2:	.long	\cr2
3:	.long	\cr3
4:	.long	\cr4
5:	.long	\bits
6:
	.endm

! The answer word at \from (0-12) of CR1 into the state block at \to.
	.macro	keep from, to
	mov.w	@(\from,r11),r0
	extu.w	r0,r0
	mov.l	r0,@(\to,r8)
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

	cmd	0xE100, 0, 0, 0, 0	! as the boot left it
	keep	4, 8

	mov.w	w_efls,r0		! EFLS as the BIOS left it, cleared
	cdb_clear_hirq
	mov.l	@(4,r8),r0		! AuthDevice: the disc
	mov	r0,r10
	cmd	0xE000, 0, 0x00C1, 0x05E7, 0
	keep	0, 12
	cmd	0x0000, 0, 0, 0, 0	! GetCurStat while it runs
	keep	0, 16
	mov.w	w_efls,r5
	cdb_wait_hirq r5
	mov.l	@(4,r8),r0
	sub	r10,r0
	mov.l	r0,@(20,r8)
	cmd	0x0000, 0, 0, 0, 0
	keep	0, 24

	cmd	0xE100, 0, 0, 0, 0	! GetAuthStatus
	keep	0, 28
	keep	4, 32
	keep	8, 36
	keep	12, 40

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
magic:		.long	0x4B455354
w_efls:		.word	0x0200
