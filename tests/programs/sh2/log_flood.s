! Loaded as the BIOS image: a program running wild. It reads SCU registers
! a byte at a time, each at another address, so no two log lines in a row
! are the same, and it never stops.
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	scu,r4
	mov	#0,r2
loop:
	mov	r2,r0
	and	#0xFC,r0		! offsets 0, 4 ... 0xFC
	mov.b	@(r0,r4),r1		! logged as a bad byte read
	bra	loop
	add	#4,r2

	.align	2
scu:	.long	0x25FE0000

	bios_image_end
