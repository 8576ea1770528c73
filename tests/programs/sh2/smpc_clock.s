! First file of the clock test disc: sets the SMPC's clock to 2026-01-01
! 00:00:00 (SETTIME), lets 300 V-BLANK-INs (five emulated seconds) pass,
! then reads the clock back through INTBACK's status reply.
! State block at 0x06080000: +0 "CLOK" once done, +4 V-BLANK-IN count,
! +8 OREG0-7 of the status reply.
! base: 0x06004000
	.include "saturn.inc"

	first_file 0x06080000

main:
	mov.l	state,r8
	mov.l	sf,r1
	bsr	smpc_free
	nop
	mov.l	ireg0,r2		! IREG0-6: 2026, Thursday January, 1st, 00:00:00
	mov.l	time_hi,r0
	mov.b	r0,@r2
	shlr8	r0
	mov.b	r0,@(2,r2)
	shlr8	r0
	mov.b	r0,@(4,r2)
	shlr8	r0
	mov.b	r0,@(6,r2)
	mov	#0,r0
	mov.b	r0,@(8,r2)
	mov.b	r0,@(10,r2)
	mov.b	r0,@(12,r2)
	mov	#0x16,r0		! SETTIME
	bsr	smpc_command
	nop

	mov.l	@(4,r8),r0		! five seconds of fields
	mov.l	fields,r3
	add	r0,r3
wait:
	mov.l	@(4,r8),r0
	cmp/hs	r3,r0
	bf	wait

	mov.l	ireg0,r2		! INTBACK: status only
	mov	#1,r0
	mov.b	r0,@r2
	mov	#0,r0
	mov.b	r0,@(2,r2)
	mov	#-16,r0
	mov.b	r0,@(4,r2)
	mov	#0x10,r0
	bsr	smpc_command
	nop
	mov.l	oreg0,r2		! OREG0-7 to +8
	mov	r8,r3
	add	#8,r3
	mov	#8,r4
copy:
	mov.b	@r2,r0
	mov.b	r0,@r3
	add	#2,r2
	dt	r4
	bf/s	copy
	add	#1,r3

	mov.l	magic,r0
	mov.l	r0,@r8
	idle_forever

! Waits until SF (R1) is clear.
smpc_free:
	wait_smpc_free
	rts
	nop

! Sets SF, writes the command in R0 to COMREG and waits for SF to clear.
smpc_command:
	mov	r0,r4
	mov	#1,r0
	mov.b	r0,@r1
	mov.l	comreg,r2
	mov	r4,r0
	mov.b	r0,@r2
	wait_smpc_free
	rts
	nop

	.align	2
state:		.long	0x06080000
magic:		.long	0x434C4F4B	! "CLOK"
sf:		.long	SMPC_SF
ireg0:		.long	SMPC_IREG0
oreg0:		.long	SMPC_OREG0
comreg:		.long	SMPC_COMREG
fields:		.long	300
time_hi:	.long	0x01412620	! IREG3, IREG2, IREG1, IREG0 from the low byte
