| Program control, exceptions and modes.
| base: 0x1000
	.include "selfcheck.inc"
start:
	begin
	move.l	#trap_handler,0x80	| TRAP #0
	move.l	#chk_handler,0x18
	move.l	#zero_handler,0x14
	move.l	#priv_handler,0x20
	move.l	#illegal_handler,0x10
	| DBF counts down a loop of 10
	moveq	#0,%d0
	moveq	#9,%d1
1:	addq.l	#1,%d0
	dbf	%d1,1b
	same	%d0, 10, 1
	same	%d1, 0x0000FFFF, 2
	| Scc
	moveq	#0,%d2
	cmp.l	%d0,%d2
	slt	%d2			| 0 < 10 signed
	same	%d2, 0xFF, 3
	scs	%d2			| the check's ADDQ left C clear
	same	%d2, 0x00, 4
	| BSR, RTS, JSR through a register
	moveq	#0,%d3
	bsr.w	add_one
	lea	add_one,%a0
	jsr	(%a0)
	same	%d3, 2, 5
	| TRAP #0 returns through RTE with D4 set by the handler
	moveq	#0,%d4
	trap	#0
	same	%d4, 0x1234, 6
	| CHK out of bounds: the handler sees N set for a negative value
	move.w	#-1,%d5
	chk.w	#10,%d5
	same	%d6, 0x08, 7
	| divide by zero
	moveq	#0,%d5
	divu.w	%d5,%d5
	same	%d6, 0x5, 8
	| ILLEGAL: the stacked PC is the word after the opcode
	illegal
after_illegal:
	same	%d6, 0x4, 9
	| user mode: a privileged instruction traps, the handler returns to
	| supervisor mode
	lea	0x6800,%a1
	move.l	%a1,%usp
	andi.w	#0xDFFF,%sr
	move.w	%sr,%d0
	same	%d6, 0x8, 10
	move.w	%sr,%d0
	andi.w	#0x2000,%d0
	same	%d0, 0x2000, 11
	same	%sp, STACK, 12
	finish

add_one:
	addq.l	#1,%d3
	rts

trap_handler:
	move.w	#0x1234,%d4
	rte

| The handler runs with the flags CHK set: N for a negative value.
chk_handler:
	move.w	%sr,%d6
	andi.l	#0x08,%d6
	rte

zero_handler:
	moveq	#5,%d6
	rte

illegal_handler:
	moveq	#4,%d6
	rte

| Drops the user-mode frame and continues in supervisor mode.
priv_handler:
	moveq	#8,%d6
	addq.l	#2,%sp
	rts
