! Carries out a command list that the test leaves in work RAM-H, counts
! every SCU interrupt and records reads, so a test can drive the SCU's DMA
! and DSP through the real bus.
!   0x06010000  commands, pairs (address, value): address 0 ends the list;
!               1 waits until vector (value) has been taken at least once;
!               2 appends the long at address (value) to the results;
!               3 spins (value) times; any other address is written value
!   0x06011000  one count per vector 0x40 to 0x5F
!   0x06011FFC  1 once the list is done
!   0x06012000  results
! base: 0x06004000
	.include "saturn.inc"
start:
	mov.l	stack, r15
	mova	vectors, r0
	ldc	r0, vbr
	mov.l	commands, r8
	mov.l	results, r9
	mov.l	counts, r10
	mov	#0, r0
	ldc	r0, sr
next:
	mov.l	@r8+, r1
	mov.l	@r8+, r0
	tst	r1, r1
	bt	done
	mov	#1, r2
	cmp/eq	r2, r1
	bt	wait_irq
	mov	#2, r2
	cmp/eq	r2, r1
	bt	record
	mov	#3, r2
	cmp/eq	r2, r1
	bt	spin
	mov.l	r0, @r1
	bra	next
	nop
wait_irq:
	add	#-64, r0
	shll2	r0
1:	mov.l	@(r0,r10), r3
	tst	r3, r3
	bt	1b
	bra	next
	nop
record:
	mov.l	@r0, r3
	mov.l	r3, @r9
	add	#4, r9
	bra	next
	nop
spin:
	dt	r0
	bf	spin
	bra	next
	nop
done:
	report_done done_flag

	.macro	stub n
	mov.l	r0, @-r15
	mov	#\n, r0
	bra	count
	nop
	.endm
stubs:
	.irp	n,0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
	stub	\n
	.endr

count:
	mov.l	r1, @-r15
	mov.l	r2, @-r15
	shll2	r0
	mov.l	counts_c, r1
	mov.l	@(r0,r1), r2
	add	#1, r2
	mov.l	r2, @(r0,r1)
	mov.l	@r15+, r2
	mov.l	@r15+, r1
	mov.l	@r15+, r0
	rte
	nop

	.align	2
stack:		.long	0x06100000
commands:	.long	0x26010000
results:	.long	0x26012000
counts:		.long	0x26011000
counts_c:	.long	0x26011000
done_flag:	.long	0x26011FFC
vectors:
	.rept	0x40
	.long	0
	.endr
	.irp	n,0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
	.long	stubs + \n * 8
	.endr
