! First file of the clock-change test disc: counts the rounds of a loop in
! one field, sends CKCHG352 to the SMPC itself (not through SYS_CHGSYSCK),
! and once the change's NMI has brought it back counts a field again.
! State block at 0x06080000: +0 "CKCH" once done, +4 V-BLANK-IN count,
! +8 rounds in a field before the change, +12 rounds after it, +16 the
! clock the BIOS recorded at 0x06000324 (1: 352 dots).
! base: 0x06004000
	.include "saturn.inc"

	first_file 0x06080000

main:
	mov.l	state,r8
	bsr	count_rounds
	nop
	mov.l	r0,@(8,r8)

	mov.l	sf,r1
	wait_smpc_free
	mov	#1,r0
	mov.b	r0,@r1
	mov.l	comreg,r2
	mov	#0x0E,r0		! CKCHG352
	mov.b	r0,@r2
	wait_smpc_free

	mov.l	clock,r0
	mov.l	@r0,r0
	mov.l	r0,@(16,r8)
	bsr	count_rounds		! V-BLANK-IN must reach the program again
	nop
	mov.l	r0,@(12,r8)
	mov.l	magic,r0
	mov.l	r0,@r8
	idle_forever

! Rounds of a memory-polling loop from one V-BLANK-IN to the next, in R0.
! Uses R9 and R10.
count_rounds:
	wait_field
	mov	#0,r10
	mov.l	@(4,r8),r0
	mov	r0,r9
.Lround:
	add	#1,r10
	mov.l	@(4,r8),r0
	cmp/eq	r0,r9
	bt	.Lround
	rts
	mov	r10,r0

	.align	2
state:		.long	0x06080000
magic:		.long	0x434B4348	! "CKCH"
sf:		.long	SMPC_SF
comreg:		.long	SMPC_COMREG
clock:		.long	0x06000324
