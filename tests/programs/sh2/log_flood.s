! Loaded as the BIOS image: a program running wild. It reads SCU registers
! a byte at a time, each at another address, so no two log lines in a row
! are the same, and it never stops.
	.org	0
	.long	start			! power-on PC
	.long	0x06100000		! power-on SP

	.org	0x100
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

	.org	0x80000 - 4		! a whole BIOS image
	.long	0
