! Loaded as the BIOS image with a VDP2 scene placed at 0x1000: records of
! (destination, byte count, data) copied with word writes, each record
! padded to four bytes; a count of zero ends the list. Then it idles, so
! the fields that follow show the scene.
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	scene,r1
next:
	mov.l	@r1+,r2			! destination
	mov.l	@r1+,r3			! byte count
	tst	r3,r3
	bt	done
copy:
	mov.w	@r1+,r0
	mov.w	r0,@r2
	add	#2,r2
	add	#-2,r3
	tst	r3,r3
	bf	copy
	mov	r1,r0
	tst	#2,r0
	bt	next
	bra	next
	add	#2,r1
done:
	idle_forever

	.align	2
scene:	.long	0x20001000
