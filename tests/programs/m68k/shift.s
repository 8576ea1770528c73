| Shifts and rotates.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	move.l	#0x12345681,%d0
	lsl.b	#8,%d0
	flags	0x15, 1			| X Z C from the old bit 0
	same	%d0, 0x12345600, 2
	move.l	#0x81,%d1
	asr.b	#1,%d1
	flags	0x19, 3			| X N C
	same	%d1, 0xC0, 4
	move.l	#0xC0,%d2
	asl.b	#1,%d2
	flags	0x19, 5			| X N C, no V
	moveq	#0x40,%d3
	asl.b	#2,%d3
	flags	0x17, 6			| X Z V C
	move.l	#0x80000001,%d4
	ror.l	#1,%d4
	flags	0x09, 7			| N C: C is the bit carried round
	same	%d4, 0xC0000000, 8
	move.l	#0x80000000,%d5
	rol.l	#1,%d5
	same	%d5, 1, 9
	| ROXL through X: a 64-bit shift left by one over two registers
	move.l	#0x80000001,%d6
	move.l	#0x00000001,%d7
	lsl.l	#1,%d6
	roxl.l	#1,%d7
	same	%d6, 2, 10
	same	%d7, 3, 11
	| memory form, one bit
	lea	0x5000,%a0
	move.w	#0x8001,(%a0)
	lsr.w	(%a0)
	flags	0x11, 12
	move.w	(%a0),%d0
	andi.l	#0xFFFF,%d0
	same	%d0, 0x4000, 13
	moveq	#20,%d1
	move.w	#0x8000,%d2
	asr.w	%d1,%d2
	flags	0x19, 14
	finish
