| Add, subtract, compare, negate, multi-precision.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	move.l	#0x7FFFFFFF,%d0
	addq.l	#1,%d0
	flags	0x0A, 2			| N V
	same	%d0, 0x80000000, 1
	move.w	#0xFFFF,%d1
	addq.w	#1,%d1
	flags	0x15, 3			| X Z C
	moveq	#0,%d2
	subq.b	#1,%d2
	flags	0x19, 5			| X N C
	same	%d2, 0x000000FF, 4
	| 64-bit add: 0x00000001_FFFFFFFF + 0x00000000_00000001
	move.l	#1,%d3
	move.l	#0xFFFFFFFF,%d4
	moveq	#0,%d5
	moveq	#1,%d6
	add.l	%d6,%d4
	addx.l	%d5,%d3
	same	%d3, 2, 6
	same	%d4, 0, 7
	| 64-bit subtract back
	sub.l	%d6,%d4
	subx.l	%d5,%d3
	same	%d3, 1, 8
	same	%d4, 0xFFFFFFFF, 9
	| CMPA.W sign-extends its source
	lea	0x10000,%a0
	cmpa.w	#1,%a0
	flags	0x00, 10
	suba.l	%a1,%a1
	subq.l	#1,%a1
	cmpa.w	#0xFFFF,%a1
	flags	0x04, 11
	adda.w	#0xFFFE,%a0
	same	%a0, 0xFFFE, 12
	| NEG and NEGX
	move.l	#0x80,%d0
	neg.b	%d0
	flags	0x1B, 14		| X N V C
	same	%d0, 0x80, 13
	moveq	#0,%d0
	move.w	#0x10,%ccr
	negx.l	%d0
	flags	0x19, 16
	same	%d0, 0xFFFFFFFF, 15
	| CMPM walks two arrays
	lea	0x5000,%a2
	lea	0x5010,%a3
	move.l	#0x01020304,(%a2)
	move.l	#0x01020305,(%a3)
	cmpm.l	(%a2)+,(%a3)+
	flags	0x00, 17
	same	%a2, 0x5004, 18
	| ADDI to memory, SUBI, CMPI
	move.w	#0x1234,0x5020
	addi.w	#0x1111,0x5020
	moveq	#0,%d0
	move.w	0x5020,%d0
	same	%d0, 0x2345, 19
	cmpi.w	#0x2346,%d0
	flags	0x09, 20		| N C; X as the last ADDQ left it
	finish
