! Loaded as the BIOS image with a backup-memory cartridge inserted: writes
! "KEST" into the cartridge's first four cells (its odd bytes) with byte,
! word and long stores, then idles, so the data is quiet from the next field on.
!   0x06000000  1 once the writes are done
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	results,r8
	mov	#0,r0
	mov.l	r0,@r8
	mov.l	cart,r1
	mov	#0x4B,r0		! 'K' through a byte store at the odd address
	mov.b	r0,@(1,r1)
	mov	#0x45,r0		! 'E' through a word store (its low byte counts)
	mov.w	r0,@(2,r1)
	mov.l	st,r0			! 'S', 'T' through one long store
	mov.l	r0,@(4,r1)
	mov	#1,r0
	mov.l	r0,@r8
	idle_forever

	.align	2
results:	.long	0x06000000
cart:		.long	0x04000000
st:		.long	0x00530054
