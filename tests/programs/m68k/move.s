| Data movement.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	move.l	#0x12345678,%d0
	move.l	#0x0000ABCD,%d1
	move.w	%d1,%d0
	flags	0x08, 2
	same	%d0, 0x1234ABCD, 1
	moveq	#-1,%d2
	same	%d2, 0xFFFFFFFF, 3
	movea.w	#0x8000,%a0
	same	%a0, 0xFFFF8000, 4
	move.l	#0x12340080,%d3
	ext.w	%d3
	same	%d3, 0x1234FF80, 5
	ext.l	%d3
	same	%d3, 0xFFFFFF80, 6
	swap	%d0
	same	%d0, 0xABCD1234, 7
	exg	%d0,%a0
	same	%a0, 0xABCD1234, 8
	same	%d0, 0xFFFF8000, 9
	| MOVE.L (A0)+,(A0)+ copies a long one long further on
	lea	0x5000,%a0
	move.l	#0xCAFEBABE,(%a0)
	move.l	(%a0)+,(%a0)+
	same	%a0, 0x5008, 10
	move.l	0x5004,%d4
	same	%d4, 0xCAFEBABE, 11
	| MOVEM round trip through the stack
	move.l	#1,%d0
	move.l	#2,%d1
	lea	0x3333,%a6
	movem.l	%d0-%d1/%a6,-(%sp)
	same	%sp, STACK-12, 12
	clr.l	%d0
	clr.l	%d1
	suba.l	%a6,%a6
	movem.l	(%sp)+,%d0-%d1/%a6
	same	%sp, STACK, 13
	same	%d1, 2, 14
	same	%a6, 0x3333, 15
	| MOVEP and its byte lanes
	lea	0x5100,%a1
	move.l	#0x11223344,%d5
	movep.l	%d5,1(%a1)
	move.l	0x5100,%d6
	same	%d6, 0x00110022, 16
	movep.w	3(%a1),%d6
	same	%d6, 0x00112233, 17
	| CLR of a word keeps the upper word
	move.l	#-1,%d6
	clr.w	%d6
	flags	0x04, 19
	same	%d6, 0xFFFF0000, 18
	| LINK, UNLK, PEA, LEA
	lea	0x1111,%a5
	link	%a5,#-16
	same	%a5, STACK-4, 20
	same	%sp, STACK-20, 21
	unlk	%a5
	same	%a5, 0x1111, 22
	pea	4(%sp)
	move.l	(%sp)+,%d0
	same	%d0, STACK+4, 23
	lea	-2(%a5,%d5.w),%a4
	same	%a4, 0x1111+0x3344-2, 24
	finish
