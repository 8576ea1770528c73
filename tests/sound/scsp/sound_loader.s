! Loaded as the BIOS image: copies the 68000 driver that the test placed at
! 0x40000 in the image into sound memory and starts the 68000 with SNDON.
! base: 0x00000000
	.org	0
	.long	start			! power-on PC
	.long	0x06100000		! power-on SP

	.org	0x100
start:
	mov.l	driver,r1
	mov.l	sound_ram,r2
	mov.l	longs,r3
copy:
	mov.l	@r1+,r0
	mov.l	r0,@r2
	dt	r3
	bf/s	copy
	add	#4,r2
	mov.l	smpc_sf,r1		! SNDON through the SMPC
	mov	#1,r0
	mov.b	r0,@r1
	mov.l	smpc_comreg,r1
	mov	#6,r0
	mov.b	r0,@r1
idle:
	bra	idle
	nop

	.align	2
driver:		.long	0x20040000
sound_ram:	.long	0x25A00000
longs:		.long	0x800		! 8 KB
smpc_sf:	.long	0x20100063
smpc_comreg:	.long	0x2010001F
