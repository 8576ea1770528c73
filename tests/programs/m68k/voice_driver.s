| A sound driver that shares four voices (slots 0-3) among its notes, the
| way sequence drivers do: on every timer A interrupt (256 samples) it reads
| each busy voice through the slot monitor and frees it once the monitor
| shows the release finished (phase 3, attenuation 31). A note starts every
| 8 ticks on the lowest free voice and is keyed off after 6 ticks; its
| release (rate 22 at key rate scale 0: 85 ms) outlasts the next two notes.
| Results at 0x7000 (ticks, started, dropped, freed) and, for the first 256
| ticks, voice 0's monitor word at the start of each tick.
| base: 0x0
	.equ	SCSP, 0x100000
	.equ	TICKS, 0x7000
	.equ	STARTED, 0x7004
	.equ	DROPPED, 0x7006
	.equ	FREED, 0x7008
	.equ	BUSY, 0x7010
	.equ	AGE, 0x7014
	.equ	TRACE, 0x7100
	.equ	SAMPLE, 0x8000
	.equ	VOICES, 4
	.equ	HOLD_TICKS, 6

	.org	0
	.long	0x7F000			| supervisor stack
	.long	start
	.org	29 * 4			| autovector of level 5
	.long	timer_a

	.org	0x400
start:
	lea	TICKS,%a0
	moveq	#31,%d1
clear:	clr.l	(%a0)+			| results and voice table
	dbra	%d1,clear
	lea	SAMPLE,%a0
	moveq	#31,%d1
level:	move.w	#16000,(%a0)+
	dbra	%d1,level

	lea	SCSP,%a0
	move.w	#0x020F,0x400(%a0)	| 512 KB of sound memory, master volume 15
	move.w	#0x0040,0x424(%a0)	| timer A: level 5 (bits 0 and 2)
	clr.w	0x426(%a0)
	move.w	#0x0040,0x428(%a0)
	clr.w	0x418(%a0)		| prescale 0, start 0
	move.w	#0x0040,0x422(%a0)	| nothing stale pending
	move.w	#0x0040,0x41E(%a0)	| enable timer A
	move.w	#0x2000,%sr
idle:	bra.s	idle

timer_a:
	movem.l	%d0-%d3/%a0-%a3,-(%sp)
	lea	SCSP,%a0
	lea	BUSY,%a1
	lea	AGE,%a2
	move.l	TICKS,%d3
	addq.l	#1,TICKS
	cmpi.l	#256,%d3
	bcc.s	poll_all
	clr.w	0x408(%a0)		| monitor slot 0
	move.l	%d3,%d1
	add.l	%d1,%d1
	lea	TRACE,%a3
	move.w	0x408(%a0),(%a3,%d1.l)

poll_all:
	moveq	#VOICES-1,%d1
poll:	tst.b	(%a1,%d1.w)
	beq.s	next
	move.w	%d1,%d0
	moveq	#11,%d2
	lsl.w	%d2,%d0
	move.w	%d0,0x408(%a0)		| select the voice's slot
	move.w	0x408(%a0),%d0
	andi.w	#0x007F,%d0
	cmpi.w	#0x007F,%d0		| released and silent: free
	bne.s	older
	clr.b	(%a1,%d1.w)
	addq.w	#1,FREED
	bra.s	next
older:	addq.b	#1,(%a2,%d1.w)
	cmpi.b	#HOLD_TICKS,(%a2,%d1.w)
	bne.s	next
	bsr.s	slot_of
	move.w	#0x1020,(%a3)		| key-off: execute with the key bit clear
next:	dbra	%d1,poll

	moveq	#7,%d0
	and.l	%d3,%d0
	bne.s	done
	moveq	#0,%d1
find:	tst.b	(%a1,%d1.w)
	beq.s	found
	addq.w	#1,%d1
	cmpi.w	#VOICES,%d1
	bne.s	find
	addq.w	#1,DROPPED
	bra.s	done
found:	st	(%a1,%d1.w)
	clr.b	(%a2,%d1.w)
	addq.w	#1,STARTED
	bsr.s	slot_of
	move.w	#SAMPLE,0x02(%a3)	| start address
	clr.w	0x04(%a3)		| loop 0-31
	move.w	#31,0x06(%a3)
	move.w	#0x0016,0x0A(%a3)	| key rate scale 0, decay level 0, release 22
	move.w	#0x001F,0x08(%a3)	| attack 31, decay rates 0
	clr.w	0x0C(%a3)
	clr.w	0x10(%a3)
	clr.w	0x12(%a3)
	move.w	#0xE000,0x16(%a3)	| direct level 7, centre
	move.w	#0x1820,(%a3)		| key on, normal loop, 16-bit
done:
	move.w	#0x0040,0x422(%a0)	| clear the pending bit
	movem.l	(%sp)+,%d0-%d3/%a0-%a3
	rte

| %a3 := the registers of voice %d1's slot.
slot_of:
	move.w	%d1,%d2
	lsl.w	#5,%d2
	lea	(%a0,%d2.w),%a3
	rts
