! Loaded as the BIOS image: plays the disc's first track as CD audio, with
! the sound chip's CD inputs sent hard left and hard right at full level and
! the master volume up, as a game's sound setup does; then idles.
! base: 0x00000000
	.org	0
	.long	start			! power-on PC
	.long	0x06100000		! power-on SP

	.org	0x100
start:
	mov.l	scsp_mvol,r1
	mov	#15,r0
	mov.w	r0,@r1
	! Slots 16 and 17 carry the left and right CD inputs: EFSDL 7, EFPAN
	! 0x0F for the left, 0x1F for the right.
	mov.l	scsp_efs16,r1
	mov.w	efs_left,r0
	mov.w	r0,@r1
	add	#0x20,r1
	mov.w	efs_right,r0
	mov.w	r0,@r1
	! The drive is paused once the table of contents is in.
wait_toc:
	mov	#0,r4
	mov	#0,r5
	mov	#0,r6
	bsr	command
	mov	#0,r7
	shlr8	r0
	and	#0x0F,r0
	cmp/eq	#1,r0
	bf	wait_toc

	mova	script,r0
	mov	r0,r8
next:
	mov.w	@r8+,r4
	mov.w	@r8+,r5
	mov.w	@r8+,r6
	mov.w	@r8+,r7
	extu.w	r4,r4
	tst	r4,r4
	bt	idle
	bsr	command
	nop
	bra	next
	nop
idle:
	bra	idle
	nop

! Issues CR1-CR4 = r4-r7 and waits for the command's end; returns CR1.
command:
	mov.l	cdb_hirq,r1
	mov.w	clear_cmok,r0
	mov.w	r0,@r1
	mov.l	cdb_cr1,r2
	mov.w	r4,@r2
	mov	r5,r0
	mov.w	r0,@(4,r2)
	mov	r6,r0
	mov.w	r0,@(8,r2)
	mov	r7,r0
	mov.w	r0,@(12,r2)
wait_cmok:
	mov.w	@r1,r0
	tst	#1,r0
	bt	wait_cmok
	mov.w	@r2,r0
	rts
	extu.w	r0,r0

	.align	2
scsp_mvol:	.long	0x25B00400
scsp_efs16:	.long	0x25B00216	! slot 16's EFSDL/EFPAN word
cdb_hirq:	.long	0x25890008
cdb_cr1:	.long	0x25890018
clear_cmok:	.word	0xFFFE
efs_left:	.word	0x00EF
efs_right:	.word	0x00FF
	.align	2
script:
	.word	0x0401, 0x0000, 0x0000, 0x0000	! CdInit with a software reset
	.word	0x1000, 0x0101, 0x0000, 0x0000	! CdPlay from track 1 index 1 to the end
	.word	0x0000

	.org	0x80000 - 4
	.long	0
