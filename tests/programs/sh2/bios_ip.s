! The code part of the test disc's initial program, reached from SYS_INIT.
! It hands the V-BLANK-IN interrupt to the first file's handler and opens
! the SCU mask through the BIOS services, then jumps to the first file.
! base: 0x06002E00
	.org	0
start:
	mov.l	setuint,r0		! SYS_SETUINT(0x40, handler)
	mov.l	@r0,r0
	mov	#0x40,r4
	mov.l	handler,r5
	jsr	@r0
	nop
	mov.l	setscuim,r0		! SYS_SETSCUIM: only V-BLANK-IN open
	mov.l	@r0,r0
	mov	#-2,r4
	jsr	@r0
	nop
	mov	#0,r0			! interrupt level 0
	ldc	r0,sr
	mov.l	first,r0
	jmp	@r0
	nop

	.align	2
setuint:	.long	0x06000300
setscuim:	.long	0x06000340
handler:	.long	0x06004100
first:		.long	0x06004000
