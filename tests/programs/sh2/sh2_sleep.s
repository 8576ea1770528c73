! SLEEP woken by an interrupt (vector 0x40). The handler counts its entries
! at 0x06020000 and returns to the SLEEP, except on the second entry, when
! it moves the saved PC past it; the program then marks 0x06020004.
! base: 0x06004000
start:
	mova	vectors, r0
	ldc	r0, vbr
	mov.l	results, r10
	mov	#0, r0
	ldc	r0, sr
wait:
	sleep
	mov	#1, r1
	mov.l	r1, @(4,r10)
end:
	bra	end
	nop

handler:
	mov.l	@r10, r1
	add	#1, r1
	mov.l	r1, @r10
	mov.l	@r15, r2
	mov.l	r2, @(8,r10)
	mov	r1, r0
	cmp/eq	#2, r0
	bf	back
	add	#2, r2
	mov.l	r2, @r15
back:
	rte
	nop

	.align	2
results:	.long	0x06020000
vectors:
	.rept	0x40
	.long	0
	.endr
	.long	handler
