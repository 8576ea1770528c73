! Booted through the built-in BIOS at the program entry: calls the services
! the test lists in work RAM and records R0 after each call.
!   0x06030000  the calls, five longs each: the address of the long that
!               holds the service's entry (0 ends the list), R4, R5, R6, R7
!   0x06031000  R0 of each call, in order
!   0x0603FFF0  1 once the list has run
! base: 0x06002E00
	.include "saturn.inc"
start:
	mov.l	calls,r8
	mov.l	results,r9
next:
	mov.l	@r8+,r1
	tst	r1,r1
	bt	finish
	mov.l	@r8+,r4
	mov.l	@r8+,r5
	mov.l	@r8+,r6
	mov.l	@r8+,r7
	mov.l	@r1,r1
	jsr	@r1
	nop
	mov.l	r0,@r9
	bra	next
	add	#4,r9
finish:
	report_done done

	.align	2
calls:		.long	0x06030000
results:	.long	0x06031000
done:		.long	0x0603FFF0
