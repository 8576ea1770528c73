! Loaded as the BIOS image with the 1 MB RAM cartridge inserted. Writes one
! bank, reads it back through a repetition, writes the other bank, knocks on
! the initialisation register through the cache-through mirror, then copies
! a routine into cartridge RAM and calls it there, so the routine runs only
! when instruction fetch reaches the cartridge's memory.
!   0x06000000  long read back at 0x02480000 (0x02400000 written)
!   0x06000004  0x6B once the routine ran from 0x02410000
!   0x06000008  1 when the program reached its end
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	results,r8
	mov	#0,r0
	mov.l	r0,@r8
	mov.l	r0,@(4,r8)
	mov.l	r0,@(8,r8)
	mov.l	bank0,r1
	mov.l	pattern,r0
	mov.l	r0,@r1
	mov.l	repeat,r1
	mov.l	@r1,r0
	mov.l	r0,@r8
	mov.l	bank1,r1
	mov	#0x5A,r0
	mov.b	r0,@r1
	mov.l	init,r1
	mov	#1,r0
	mov.w	r0,@r1
	mova	routine,r0		! copy the routine's two longs
	mov	r0,r3
	mov.l	dest,r4
	mov.l	@r3,r0
	mov.l	r0,@r4
	mov.l	@(4,r3),r0
	mov.l	r0,@(4,r4)
	jsr	@r4
	nop
	mov	#1,r0
	mov.l	r0,@(8,r8)
	idle_forever

	.align	2
routine:
	mov	#0x6B,r0
	mov.l	r0,@(4,r8)
	rts
	nop

	.align	2
results:	.long	0x06000000
bank0:		.long	0x02400000
repeat:		.long	0x02480000
bank1:		.long	0x02600000
init:		.long	0x257EFFFE
pattern:	.long	0x12345678
dest:		.long	0x02410000
