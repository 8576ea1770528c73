! Loaded as the BIOS image: polls VDP2's TVSTAT and VCNT and appends every
! change of the pair to a log in work RAM-H, as (TVSTAT << 16) | VCNT.
!   0x06000000  number of entries     0x06000010...  the entries
! A pair counts only when TVSTAT reads the same before and after VCNT, so an
! event between the two reads cannot log a mixed pair.
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	tvstat,r1
	mov.l	vcnt,r2
	mov.l	log,r8
	mov	r8,r3
	add	#16,r3			! next entry
	mov.l	limit,r4
	mov	#-1,r5			! last pair logged
	mov	#0,r6			! entries
	mov.l	r6,@r8
poll:
	mov.w	@r1,r0
	mov.w	@r2,r7
	mov.w	@r1,r9
	cmp/eq	r0,r9
	bf	poll
	extu.w	r0,r0
	extu.w	r7,r7
	shll16	r0
	or	r7,r0
	cmp/eq	r0,r5
	bt	poll
	mov	r0,r5
	mov.l	r0,@r3
	add	#4,r3
	add	#1,r6
	mov.l	r6,@r8
	cmp/hs	r4,r3
	bf	poll
	idle_forever			! the log is full

	.align	2
tvstat:	.long	0x25F80004
vcnt:	.long	0x25F8000A
log:	.long	0x06000000
limit:	.long	0x060F0000
