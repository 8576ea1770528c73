! The test disc's first file, loaded at its first read address. It waits
! for ten V-BLANK-IN interrupts (counted by the handler the initial program
! installed), then asks the BIOS for the handler back and writes a result
! block at 0x06080000:
!   +0  "KEST" once done          +4  V-BLANK-IN count
!   +8  R0 seen by the handler    +12 mask copy seen by the handler
!   +16 SR seen by the handler    +20 SYS_GETUINT result (R0)
!   +24 SYS_GETUINT's R4          +28 mask copy after the handlers
!   +32 SR after the handlers
! base: 0x06004000
	.include "saturn.inc"

	.org	0
start:
	mov.l	result,r8
wait:
	mov.l	@(4,r8),r0
	mov	#10,r1
	cmp/hs	r1,r0
	bf	wait
	mov.l	getuint,r1		! SYS_GETUINT(0x40)
	mov.l	@r1,r1
	mov	#0x40,r4
	jsr	@r1
	nop
	mov.l	r0,@(20,r8)
	mov.l	r4,@(24,r8)
	mov.l	maskcopy,r1
	mov.l	@r1,r0
	mov.l	r0,@(28,r8)
	stc	sr,r0
	mov.l	r0,@(32,r8)
	mov.l	magic,r0
	mov.l	r0,@r8
	idle_forever

	.align	2
result:		.long	0x06080000
getuint:	.long	0x06000304
maskcopy:	.long	0x06000348
magic:		.long	0x4B455354

! Called by the BIOS's SCU entry as a subroutine; R0 to R7 are saved there.
	.org	0x100
handler:
	mov.l	h_result,r1
	mov.l	r0,@(8,r1)
	mov.l	h_maskcopy,r2
	mov.l	@r2,r2
	mov.l	r2,@(12,r1)
	stc	sr,r2
	mov.l	r2,@(16,r1)
	mov.l	@(4,r1),r2
	add	#1,r2
	rts
	mov.l	r2,@(4,r1)

	.align	2
h_result:	.long	0x06080000
h_maskcopy:	.long	0x06000348
