| Clock charges, one instruction per entry. "t n" before an instruction
| expects n clocks; "u" marks an untimed set-up step; "x n" marks an
| instruction that enters an exception, whose handler's RTE follows as an
| untimed step. The test steps the entries in order, so every taken branch
| lands on the next entry.
| base: 0x1000
	.long	code, table, table_end

	.macro	t clocks
	.pushsection .data
	.word	\clocks
	.popsection
	.endm
	.macro	x clocks
	.pushsection .data
	.word	\clocks, 0
	.popsection
	.endm
	.macro	u
	.pushsection .data
	.word	0
	.popsection
	.endm

	.data
table:
	.text
code:
	u
	lea	0x6000,%a0
	u
	lea	0x6100,%a1
	u
	lea	0x6200,%a2
	u
	moveq	#3,%d0
	u
	moveq	#2,%d1
	| MOVE: the destination alone decides
	t 4
	move.b	%d0,%d1
	t 4
	move.w	(%a1),%d1
	t 4
	move.l	0x10(%a1),%d1
	t 8
	move.b	%d0,(%a0)
	t 8
	move.w	#5,(%a0)+
	t 8
	move.b	(%a1),-(%a0)
	t 12
	move.w	%d0,4(%a0)
	t 14
	move.b	%d0,2(%a0,%d1.w)
	t 12
	move.w	%d0,(0x6010).w
	t 16
	move.b	%d0,(0x6010).l
	t 4
	move.l	%d0,%d2
	t 12
	move.l	%d0,(%a0)
	t 12
	move.l	(%a1),(%a0)+
	t 12
	move.l	%d0,-(%a0)
	t 16
	move.l	#1,4(%a0)
	t 18
	move.l	%d0,2(%a0,%d1.l)
	t 16
	move.l	%d0,(0x6010).w
	t 20
	move.l	0x10(%a1),(0x6010).l
	t 4
	movea.w	#0x6000,%a3
	t 4
	movea.l	(%a1),%a4
	t 4
	moveq	#-1,%d3
	| CLR, EXT, SWAP, EXG, LEA, PEA, LINK, UNLK, MOVEP
	t 4
	clr.b	%d3
	t 4
	clr.w	%d3
	t 6
	clr.l	%d3
	t 8
	clr.w	(%a0)
	t 12
	clr.l	4(%a0)
	t 4
	ext.w	%d0
	t 4
	ext.l	%d0
	t 4
	swap	%d0
	t 6
	exg	%d0,%d1
	t 6
	exg	%a3,%a4
	t 6
	exg	%d0,%a3
	t 4
	lea	(%a1),%a3
	t 8
	lea	4(%a1),%a3
	t 12
	lea	4(%a1,%d1.w),%a3
	t 6
	pea	(%a1)
	t 6
	pea	(0x6000).w
	u
	addq.l	#8,%sp
	t 16
	link	%a6,#-8
	t 12
	unlk	%a6
	t 16
	movep.w	%d0,0(%a0)
	t 24
	movep.l	%d0,0(%a0)
	t 16
	movep.w	0(%a0),%d0
	t 24
	movep.l	0(%a0),%d0
	| MOVEM, n registers
	t 20
	movem.w	%d0-%d2,-(%sp)
	t 24
	movem.w	(%sp)+,%d0-%d2
	t 32
	movem.l	%d0-%d2,-(%sp)
	t 36
	movem.l	(%sp)+,%d0-%d2
	t 16
	movem.w	%d0-%d2,(%a0)
	t 24
	movem.l	%d0-%d2,(%a0)
	t 20
	movem.w	(%a0),%d0-%d2
	t 28
	movem.l	(%a0),%d0-%d2
	t 24
	movem.w	code(%pc),%d0-%d1
	t 34
	movem.l	17f(%pc,%d1.w),%d0-%d1
17:
	| add, subtract, compare
	u
	moveq	#3,%d0
	u
	moveq	#2,%d1
	t 4
	add.b	%d0,%d1
	t 4
	add.w	(%a1),%d1
	t 6
	add.l	%d0,%d1
	t 6
	.word	0xD2BC, 0, 5		| add.l #5,%d1 (the assembler would pick ADDQ)
	t 8
	add.w	%d0,(%a0)
	t 12
	add.l	%d0,(%a0)+
	t 8
	adda.w	%d0,%a3
	t 6
	adda.l	(%a1),%a3
	t 8
	addi.w	#1,%d0
	t 16
	addi.l	#1,%d0
	t 12
	addi.b	#1,(%a0)
	t 20
	addi.l	#1,(%a0)
	t 4
	addq.w	#1,%d0
	t 8
	addq.l	#1,%d0
	t 8
	addq.w	#1,%a3
	t 8
	addq.l	#1,%a3
	t 8
	addq.b	#1,(%a0)
	t 12
	addq.l	#1,(%a0)
	t 4
	addx.b	%d0,%d1
	t 8
	addx.l	%d0,%d1
	t 18
	addx.w	-(%a0),-(%a1)
	t 30
	addx.l	-(%a0),-(%a1)
	t 4
	sub.w	%d0,%d1
	t 12
	sub.l	%d0,(%a0)
	t 8
	suba.w	%d0,%a3
	t 6
	suba.l	%d0,%a3
	t 20
	subi.l	#1,(%a0)
	t 8
	subq.l	#1,%d0
	t 18
	subx.b	-(%a0),-(%a1)
	t 4
	cmp.b	%d0,%d1
	t 6
	cmp.l	(%a1),%d1
	t 6
	cmpa.w	%d0,%a3
	t 6
	cmpa.l	%d0,%a3
	t 8
	cmpi.w	#1,%d0
	t 14
	cmpi.l	#1,%d0
	t 8
	cmpi.b	#1,(%a0)
	t 12
	cmpi.l	#1,(%a0)
	t 12
	cmpm.w	(%a0)+,(%a1)+
	t 20
	cmpm.l	(%a0)+,(%a1)+
	t 4
	neg.w	%d0
	t 6
	negx.l	%d0
	t 8
	neg.b	(%a0)
	t 12
	negx.l	(%a0)
	t 4
	tst.b	%d0
	t 4
	tst.l	(%a0)
	| multiply, divide, decimal, bounds
	u
	move.l	#handler,0x14
	u
	move.l	#handler,0x18
	u
	moveq	#100,%d0
	u
	moveq	#7,%d1
	t 54
	mulu.w	%d1,%d0
	t 54
	muls.w	#-3,%d0
	t 140
	divu.w	%d1,%d0
	t 158
	divs.w	#3,%d0
	u
	move.l	#0x10000,%d0
	t 140
	divu.w	#1,%d0
	u
	moveq	#0,%d2
	x 38
	divu.w	%d2,%d0
	t 10
	chk.w	#100,%d1
	x 40
	chk.w	#3,%d1
	t 6
	abcd	%d0,%d1
	t 18
	abcd	-(%a0),-(%a1)
	t 6
	sbcd	%d0,%d1
	t 18
	sbcd	-(%a0),-(%a1)
	t 6
	nbcd	%d0
	t 8
	nbcd	(%a0)
	| logical
	t 4
	and.b	%d0,%d1
	t 4
	.word	0xC27C, 3		| and.w #3,%d1 (not ANDI)
	t 6
	and.l	%d0,%d1
	t 6
	.word	0x82BC, 0, 3		| or.l #3,%d1 (not ORI)
	t 8
	and.w	%d0,(%a0)
	t 12
	or.l	%d0,(%a0)
	t 4
	eor.w	%d0,%d1
	t 8
	eor.l	%d0,%d1
	t 12
	eor.l	%d0,(%a0)
	t 8
	andi.b	#1,%d0
	t 14
	andi.l	#1,%d0
	t 16
	ori.l	#1,%d0
	t 16
	eori.l	#1,%d0
	t 12
	ori.w	#1,(%a0)
	t 20
	eori.l	#1,(%a0)
	t 4
	not.b	%d0
	t 6
	not.l	%d0
	t 12
	not.l	(%a0)
	t 4
	tas	%d0
	t 14
	tas	(%a0)
	| bits
	t 6
	btst	%d1,%d0
	t 10
	btst	#1,%d0
	t 4
	btst	%d1,(%a0)
	t 8
	btst	#1,(%a0)
	t 4
	btst	%d1,#3
	t 8
	bchg	%d1,%d0
	t 12
	bchg	#1,%d0
	t 10
	bclr	%d1,%d0
	t 14
	bclr	#1,%d0
	t 8
	bset	%d1,(%a0)
	t 12
	bset	#1,(%a0)
	| shifts and rotates
	u
	moveq	#5,%d1
	t 6
	lsl.b	#3,%d0
	t 8
	asr.l	#8,%d0
	t 16
	lsl.w	%d1,%d0
	t 18
	roxr.l	%d1,%d0
	t 8
	rol.w	(%a0)
	t 8
	asl.w	4(%a0)
	u
	moveq	#33,%d1
	t 74
	lsr.l	%d1,%d0
	u
	moveq	#64,%d1
	t 8
	lsr.l	%d1,%d0
	| program control
	u
	moveq	#0,%d0
	t 10
	bra.s	1f
	nop
1:	t 10
	bra.w	2f
2:	t 10
	beq.s	3f
	nop
3:	t 8
	bne.s	4f
	t 4
	nop
4:	t 10
	beq.w	5f
5:	t 12
	bne.w	6f
6:	t 18
	bsr.s	7f
	nop
7:	u
	addq.l	#4,%sp
	t 18
	bsr.w	8f
8:	u
	addq.l	#4,%sp
	u
	moveq	#1,%d2
	t 10
	dbf	%d2,9f
9:	t 14
	dbf	%d2,10f
10:	t 12
	dbt	%d2,11f
11:	t 6
	st	%d0
	t 4
	sf	%d0
	t 8
	seq	(%a0)
	t 10
	sne	(%a0)
	t 4
	jmp	12f(%pc)
12:	t 12
	jsr	13f
13:	u
	addq.l	#4,%sp
	u
	pea	14f(%pc)
	t 16
	rts
14:	u
	pea	15f(%pc)
	u
	move.w	#0x1f,-(%sp)
	t 20
	rtr
15:	u
	pea	16f(%pc)
	u
	move.w	#0x2700,-(%sp)
	t 20
	rte
16:	t 4
	nop
	t 4
	trapv
	u
	move.l	#handler,0x1c
	u
	move.w	#2,%ccr
	x 34
	trapv
	u
	move.l	#handler,0x80
	x 34
	trap	#0
	u
	move.l	#handler,0x10
	x 34
	illegal
	u
	move.l	#handler,0x28
	x 34
	.word 0xa000
	t 12
	move.w	#0,%ccr
	t 12
	move.w	(%a0),%ccr
	t 12
	move.w	#0x2700,%sr
	t 6
	move.w	%sr,%d0
	t 8
	move.w	%sr,(%a0)
	t 20
	andi.b	#0x1f,%ccr
	t 20
	ori.b	#0,%ccr
	t 20
	eori.b	#0,%ccr
	t 20
	andi.w	#0x2700,%sr
	t 20
	ori.w	#0x0700,%sr
	t 20
	eori.w	#0,%sr
	t 4
	move.l	%a0,%usp
	t 4
	move.l	%usp,%a3
	t 4
	stop	#0x2700
	| privilege violation from user mode
	u
	move.l	#handler,0x20
	u
	move.l	#0x6800,%a3
	u
	move.l	%a3,%usp
	u
	andi.w	#0xdfff,%sr
	x 34
	move.l	%a0,%usp
	bra.s	.

| Exception entries return to the next entry.
handler:
	rte

	.data
table_end:
