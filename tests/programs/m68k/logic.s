| Logical instructions.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	move.l	#0xFFFF00F0,%d0
	andi.b	#0x0F,%d0
	flags	0x04, 1
	same	%d0, 0xFFFF0000, 2
	move.l	#0x12340000,%d1
	or.w	#0x8000,%d1
	flags	0x08, 3
	same	%d1, 0x12348000, 4
	move.l	#0x5555AAAA,%d2
	eor.l	%d2,%d2
	flags	0x04, 5
	moveq	#-1,%d3
	not.l	%d3
	flags	0x04, 6
	| ANDI.B to (A0)+ reads the immediate first and steps A0 by one
	lea	0x5000,%a0
	move.b	#0xF3,(%a0)
	andi.b	#0x0F,(%a0)+
	same	%a0, 0x5001, 7
	moveq	#0,%d4
	move.b	0x5000,%d4
	same	%d4, 0x03, 8
	| TAS sets bit 7 and reports the byte as it was
	clr.b	0x5002
	tas	0x5002
	flags	0x04, 9
	move.b	0x5002,%d4
	same	%d4, 0x80, 10
	tas	0x5002
	flags	0x08, 11
	| EORI.L to memory with a displacement after the immediate
	lea	0x5010,%a1
	move.l	#0xF0F0F0F0,4(%a1)
	eori.l	#0xFFFF0000,4(%a1)
	flags	0x00, 12
	move.l	4(%a1),%d5
	same	%d5, 0x0F0FF0F0, 13
	| AND keeps X
	move.w	#0x10,%ccr
	and.w	%d5,%d5
	flags	0x18, 14
	finish
