| Bit instructions.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	moveq	#2,%d0
	btst	#33,%d0			| bit 1
	flags	0x00, 1
	btst	#0,%d0
	flags	0x04, 2
	moveq	#-1,%d1
	moveq	#0,%d2
	bchg	%d1,%d2			| bit 31
	same	%d2, 0x80000000, 3
	lea	0x5000,%a0
	move.b	#0x02,(%a0)
	moveq	#9,%d3
	btst	%d3,(%a0)		| bit 9 mod 8 = 1
	flags	0x00, 4
	bset	#7,(%a0)
	flags	0x04, 5
	bset	#7,(%a0)
	flags	0x00, 6
	moveq	#0,%d4
	move.b	(%a0),%d4
	same	%d4, 0x82, 7
	bclr	#1,(%a0)+
	same	%a0, 0x5001, 8
	moveq	#0,%d4
	move.b	0x5000,%d4
	same	%d4, 0x80, 9
	moveq	#4,%d5
	btst	%d5,#0x12		| bit 4 of 0x12
	flags	0x00, 10
	move.w	#0x1F,%ccr
	bclr	#0,%d4			| only Z changes
	flags	0x1F, 11
	finish
