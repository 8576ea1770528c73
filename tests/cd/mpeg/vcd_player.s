! Loaded as the BIOS image: plays track 2 of a Video CD through the MPEG
! card as a player does, with the sound chip's master volume up, then idles.
! base: 0x00000000
	.org	0
	.long	start			! power-on PC
	.long	0x06100000		! power-on SP

	.org	0x100
start:
	mov.l	scsp_mvol,r1
	mov	#15,r0
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
cdb_hirq:	.long	0x25890008
cdb_cr1:	.long	0x25890018
clear_cmok:	.word	0xFFFE
	.align	2
script:
	.word	0x0401, 0x0000, 0x0000, 0x0000	! CdInit with a software reset
	.word	0x6000, 0x0000, 0x0000, 0x0000	! SetSctLen: 2324-byte form 2 data
	.word	0x3000, 0x0000, 0x0000, 0x0000	! CdSetCon: the drive into filter 0
	.word	0x9A03, 0x0000, 0x0003, 0x00FF	! MpSetCon: audio from partition 0
	.word	0x9500, 0x0000, 0x0000, 0x0000	! MpPlay
	.word	0x1000, 0x0201, 0x0000, 0x0000	! CdPlay from track 2 index 1 to the end
	.word	0x0000
