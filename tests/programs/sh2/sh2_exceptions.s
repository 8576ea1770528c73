! trapa and rte, the general illegal instruction and the slot illegal
! instruction, with the vector table in work RAM. Results at 0x06020000;
! the label table behind the first branch lets the test find the addresses.
! base: 0x06004000
	.equ	RESULTS, 0x06020000
start:
	bra	main
	nop
	.long	after_trap
	.long	illegal_op
	.long	slot_branch
main:
	mova	vectors, r0
	ldc	r0, vbr
	mov.l	results, r10
	mov	#0, r0
	ldc	r0, sr
	sett
	trapa	#0x20
after_trap:
	movt	r1
	mov.l	r1, @(8,r10)
	stc	sr, r1
	mov.l	r1, @(12,r10)
illegal_op:
	.word	0xF000
	mov	#0x5A, r1
	mov.l	r1, @(20,r10)
slot_branch:
	bra	main
	.word	0xFFFD
resume_slot:
	mov	#0x66, r1
	mov.l	r1, @(32,r10)
	mov	#1, r1
	mov.l	r1, @(36,r10)
end:
	bra	end
	nop

trap_handler:
	mov.l	@r15, r1
	mov.l	r1, @(0,r10)
	mov.l	@(4,r15), r1
	mov.l	r1, @(4,r10)
	stc	sr, r1
	mov.l	r1, @(24,r10)
	rte
	nop

illegal_handler:
	mov.l	@r15, r1
	mov.l	r1, @(16,r10)
	add	#2, r1
	mov.l	r1, @r15
	rte
	nop

slot_handler:
	mov.l	@r15, r1
	mov.l	r1, @(28,r10)
	mov.l	resume, r1
	mov.l	r1, @r15
	rte
	nop

	.align	2
results:	.long	RESULTS
resume:	.long	resume_slot
vectors:
	.long	0, 0, 0, 0
	.long	illegal_handler
	.long	0
	.long	slot_handler
	.rept	25
	.long	0
	.endr
	.long	trap_handler
