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
	.include "cdb_script.inc"

	.align	2
scsp_mvol:	.long	0x25B00400
	.align	2
script:
	.word	0x0401, 0x0000, 0x0000, 0x0000	! CdInit with a software reset
	.word	0x6000, 0x0000, 0x0000, 0x0000	! SetSctLen: 2324-byte form 2 data
	.word	0x3000, 0x0000, 0x0000, 0x0000	! CdSetCon: the drive into filter 0
	.word	0x9A03, 0x0000, 0x0003, 0x00FF	! MpSetCon: audio from partition 0
	.word	0x9500, 0x0000, 0x0000, 0x0000	! MpPlay
	.word	0x1000, 0x0201, 0x0000, 0x0000	! CdPlay from track 2 index 1 to the end
	.word	0x0000
