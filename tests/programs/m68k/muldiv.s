| Multiply, divide, decimal, bounds.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	move.l	#0xFFFF,%d0
	mulu.w	%d0,%d0
	flags	0x08, 1
	same	%d0, 0xFFFE0001, 2
	move.w	#0x8000,%d1
	muls.w	%d1,%d1
	flags	0x00, 3
	same	%d1, 0x40000000, 4
	move.w	#0x100,%d2
	mulu.w	#0x100,%d2
	flags	0x00, 5			| low word 0 but the long is not
	move.l	#100003,%d3
	divu.w	#10,%d3
	same	%d3, 0x00032710, 6	| remainder 3, quotient 10000
	moveq	#-7,%d4
	divs.w	#2,%d4
	flags	0x08, 7
	same	%d4, 0xFFFFFFFD, 8
	move.l	#0x10000,%d5
	divu.w	#1,%d5
	flags	0x02, 9			| overflow: V, and nothing else changes
	same	%d5, 0x10000, 10
	| BCD: 45 + 38 = 83, then a three-byte sum 129999 + 870001 = 1000000
	moveq	#0x45,%d0
	moveq	#0x38,%d1
	move.w	#0,%ccr
	abcd	%d1,%d0
	same	%d0, 0x83, 11
	lea	0x5004,%a0
	lea	0x5014,%a1
	move.l	#0x00129999,0x5000
	move.l	#0x00870001,0x5010
	move.w	#4,%ccr
	abcd	-(%a0),-(%a1)
	abcd	-(%a0),-(%a1)
	abcd	-(%a0),-(%a1)
	abcd	-(%a0),-(%a1)
	flags	0x00, 12		| no carry out; Z cleared by a nonzero byte
	move.l	0x5010,%d2
	same	%d2, 0x01000000, 13
	| SBCD and NBCD
	moveq	#0x10,%d3
	moveq	#0x01,%d4
	move.w	#0,%ccr
	sbcd	%d4,%d3
	same	%d3, 0x09, 14
	moveq	#1,%d5
	move.w	#0,%ccr
	nbcd	%d5
	same	%d5, 0x99, 15
	| CHK within bounds: no trap
	moveq	#5,%d6
	chk.w	#10,%d6
	same	%d6, 5, 16
	finish
