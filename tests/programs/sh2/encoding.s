! Encodings checked byte by byte against the SH-2 programming manual.
! base: 0x06004000
start:
	mov	#1,r0		! E001
	mov	#-1,r15		! EFFF
	add	r1,r2		! 321C
	mov.l	@r4+,r5		! 6546
	sts.l	pr,@-r15	! 4F22
	rts			! 000B
	nop			! 0009
	bra	start		! AFF7: the target is PC + 4 - 18
	nop			! 0009
	.align	2
	.long	start		! 06004000
