| The game disc's sound driver, loaded by the SH-2 at sound memory address 0
| and started by SNDON. Six slots loop a 64-sample wave; timer A (level 5,
| every 256 samples) runs a small sequencer that steps one slot to the next
| note of a table every eight ticks and sweeps another slot's level, as a
| music driver does. Counters at 0x7000 (ticks) and 0x7004 (notes played).
| base: 0x0
	.equ	SCSP, 0x100000
	.equ	TICKS, 0x7000
	.equ	NOTES, 0x7004
	.equ	WAVE, 0x8000
	.equ	SLOTS, 6

	.org	0
	.long	0x7F000			| supervisor stack
	.long	start
	.org	29 * 4			| autovector of level 5
	.long	timer_a

	.org	0x400
start:
	clr.l	TICKS
	clr.l	NOTES
	| A triangle: 32 samples up, 32 down.
	lea	WAVE,%a0
	move.w	#-32768,%d0
	moveq	#31,%d1
up:	move.w	%d0,(%a0)+
	addi.w	#2048,%d0
	dbra	%d1,up
	moveq	#31,%d1
down:	subi.w	#2048,%d0
	move.w	%d0,(%a0)+
	dbra	%d1,down

	lea	SCSP,%a0
	move.w	#0x020F,0x400(%a0)	| 512 KB of sound memory, master volume 15
	lea	notes,%a2
	moveq	#SLOTS-1,%d1
	move.l	%a0,%a1
slot:	move.w	#WAVE,0x02(%a1)		| start address
	clr.w	0x04(%a1)		| loop start 0
	move.w	#63,0x06(%a1)		| loop end 63
	move.w	#0x3C00,0x0A(%a1)	| key rate scale 15 before the rates
	move.w	#0x001F,0x08(%a1)	| attack 31: full level at once
	move.w	#0x0020,0x0C(%a1)	| total level 32
	move.w	(%a2)+,0x10(%a1)	| octave and frequency number
	clr.w	0x12(%a1)
	move.w	%d1,%d0			| direct level 5, panned by slot
	lsl.w	#2,%d0
	addi.w	#0xA000,%d0
	move.w	%d0,0x16(%a1)
	move.w	#0x0820,(%a1)		| key on bit, normal loop, 16-bit
	lea	0x20(%a1),%a1
	dbra	%d1,slot
	move.w	#0x1820,(%a0)		| execute the key-on of every slot

	move.w	#0x0040,0x424(%a0)	| timer A: level 5 (bits 0 and 2)
	clr.w	0x426(%a0)
	move.w	#0x0040,0x428(%a0)
	clr.w	0x418(%a0)		| prescale 0, start 0
	move.w	#0x0040,0x422(%a0)	| nothing stale pending
	move.w	#0x0040,0x41E(%a0)	| enable timer A
	move.w	#0x2000,%sr
idle:	bra.s	idle

timer_a:
	movem.l	%d0-%d2/%a0-%a1,-(%sp)
	lea	SCSP,%a0
	move.l	TICKS,%d0
	addq.l	#1,%d0
	move.l	%d0,TICKS
	| Sweep slot 5's level with the tick count.
	move.w	%d0,%d1
	andi.w	#0x3F,%d1
	move.w	%d1,0x0C+5*0x20(%a0)
	| Every eighth tick the next slot takes the next note.
	move.w	%d0,%d1
	andi.w	#7,%d1
	bne.s	done
	move.l	NOTES,%d1
	addq.l	#1,%d1
	move.l	%d1,NOTES
	move.w	%d1,%d2
	andi.w	#15,%d2
	add.w	%d2,%d2
	lea	notes,%a1
	move.w	(%a1,%d2.w),%d2
	divu.w	#SLOTS,%d1		| slot = notes % 6
	swap	%d1
	mulu.w	#0x20,%d1
	move.w	%d2,0x10(%a0,%d1.w)
done:
	move.w	#0x0040,SCSP+0x422	| clear the pending bit
	movem.l	(%sp)+,%d0-%d2/%a0-%a1
	rte

| Octave (bits 14-11, two's complement) and frequency number of the notes.
notes:
	.word	0x7900, 0x7940, 0x7990, 0x79E0, 0x0000, 0x0080, 0x0100, 0x0180
	.word	0x0800, 0x0840, 0x0890, 0x08E0, 0x7800, 0x7880, 0x7900, 0x7980
