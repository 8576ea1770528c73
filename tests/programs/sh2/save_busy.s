! Loaded as the BIOS image with a backup cartridge inserted: writes 0x4B
! into the internal backup memory's first cell once, then, a few fields on,
! "KE" into the cartridge's first two cells and 0x4B into the memory's second
! without end, so only the end of the run writes them to their files. After
! the first of those, SETSMEM puts 0x2B in the SMPC's memory, whose battery
! file is written at once: a run seen to have it owes the others.
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	internal,r3
	mov	#0x4B,r0
	mov.b	r0,@(1,r3)
	mov.l	delay,r1
wait:
	dt	r1
	bf	wait
	mov.l	cart,r1
	mov	#0x45,r2
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov.b	r0,@(3,r3)
	mov	r2,r0
	mov.b	r0,@(3,r1)
	mov.l	ireg0,r4
	mov	#0x2B,r0
	mov.b	r0,@r4
	mov.l	comreg,r4
	mov	#0x17,r0		! SETSMEM
	mov.b	r0,@r4
loop:
	mov	#0x4B,r0
	mov.b	r0,@(1,r1)
	mov.b	r0,@(3,r3)
	mov	r2,r0
	bra	loop
	mov.b	r0,@(3,r1)

	.align	2
internal:	.long	0x00180000
cart:		.long	0x04000000
delay:		.long	0x60000		! three fields or so
ireg0:		.long	SMPC_IREG0
comreg:		.long	SMPC_COMREG

	bios_image_end
