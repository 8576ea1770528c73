| A minimal sound driver, started by SNDON from sound memory address 0.
| It builds a 32-word ramp, plays it on slot 0 in a normal loop at octave -1,
| frequency number 0x100, and counts timer A interrupts (level 5) at 0x7000.
| The slot runs at full level in the centre; timer A fires every 256 samples.
| base: 0x0
	.equ	SCSP, 0x100000
	.equ	COUNT, 0x7000
	.equ	RAMP, 0x8000

	.org	0
	.long	0x7F000			| supervisor stack
	.long	start
	.org	29 * 4			| autovector of level 5
	.long	timer_a

	.org	0x400
start:
	clr.l	COUNT
	lea	RAMP,%a0
	move.w	#-32768,%d0
	moveq	#31,%d1
ramp:	move.w	%d0,(%a0)+
	addi.w	#2048,%d0
	dbra	%d1,ramp

	lea	SCSP,%a0
	move.w	#0x020F,0x400(%a0)	| 512 KB of sound memory, master volume 15
	move.w	#RAMP,0x02(%a0)		| slot 0: start address
	clr.w	0x04(%a0)		| loop start 0
	move.w	#31,0x06(%a0)		| loop end 31
	move.w	#0x3C00,0x0A(%a0)	| key rate scale 15 before the rates
	move.w	#0x001F,0x08(%a0)	| attack 31: full level at once
	clr.w	0x0C(%a0)		| total level 0
	move.w	#0x7900,0x10(%a0)	| octave -1, frequency number 0x100
	clr.w	0x12(%a0)
	move.w	#0xE000,0x16(%a0)	| direct level 7, centre
	move.w	#0x1820,(%a0)		| key on, normal loop, 16-bit

	move.w	#0x0040,0x424(%a0)	| timer A: level 5 (bits 0 and 2)
	clr.w	0x426(%a0)
	move.w	#0x0040,0x428(%a0)
	clr.w	0x418(%a0)		| prescale 0, start 0
	move.w	#0x0040,0x422(%a0)	| nothing stale pending
	move.w	#0x0040,0x41E(%a0)	| enable timer A
	move.w	#0x2000,%sr
idle:	bra.s	idle

timer_a:
	addq.l	#1,COUNT
	move.w	#0x0040,SCSP+0x422	| clear the pending bit
	rte
