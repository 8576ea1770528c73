| Encodings checked byte by byte against the 68000 programmer's reference.
| base: 0x1000
start:
	moveq	#1,%d0		| 7001
	move.w	%d0,%d1		| 3200
	rts			| 4E75
	bra.s	start		| 60F8
	.long	start		| 00001000
