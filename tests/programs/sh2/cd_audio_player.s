! Loaded as the BIOS image: plays the disc's first track as CD audio, with
! the sound chip's CD inputs sent hard left and hard right at full level and
! the master volume up, as a game's sound setup does; then idles.
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
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
	.include "cdb_script.inc"

	.align	2
scsp_mvol:	.long	0x25B00400
scsp_efs16:	.long	0x25B00216	! slot 16's EFSDL/EFPAN word
efs_left:	.word	0x00EF
efs_right:	.word	0x00FF
	.align	2
script:
	.word	0x0401, 0x0000, 0x0000, 0x0000	! CdInit with a software reset
	.word	0x1000, 0x0101, 0x0000, 0x0000	! CdPlay from track 1 index 1 to the end
	.word	0x0000

	bios_image_end
