! First file of the CD block test disc: runs a script of CD block commands
! that the test leaves in work RAM-H, and records every answer.
!
! Script at 0x06070000, 32 bytes an entry:
!   +0 op  +4 CR1  +8 CR2  +12 CR3  +16 CR4
!   +20 HIRQ bits to clear before the command and wait for after it
!   +24 count  +28 destination
! Ops: 0 end; 1 command; 2 command, then read count longs from the data
! port to the destination; 3 repeat the command (GetSctNum) until its CR4
! reaches count; 4 command, then read count words of info data.
!
! Results: 0x06078000 + 8 x entry: CR1 << 16 | CR2, CR3 << 16 | CR4.
! Header at 0x06077F00: +0 "KEST" once the script ended, +8 entries done.
! base: 0x06004000
	.include "saturn.inc"

	.org	0
start:
	mov.l	script_addr,r9
	mov.l	results_addr,r10
	mov.l	cr1_addr,r11
	mov.l	header_addr,r12
	mov.l	regs_addr,r13
loop:
	mov.l	@r9,r0
	cmp/eq	#0,r0
	bt	finish
	cmp/eq	#3,r0
	bt	op_waitsect
	bsr	command
	nop
	mov.l	@r9,r0
	cmp/eq	#2,r0
	bt	op_readdata
	cmp/eq	#4,r0
	bt	op_readinfo
	bra	next
	nop

op_readdata:
	mov.l	@(24,r9),r1
	mov.l	@(28,r9),r2
	mov.l	data_addr,r3
rd_loop:
	tst	r1,r1
	bt	next
	mov.l	@r3,r0
	mov.l	r0,@r2
	add	#4,r2
	bra	rd_loop
	add	#-1,r1

op_readinfo:
	mov.l	@(24,r9),r1
	mov.l	@(28,r9),r2
	mov.l	info_addr,r3
ri_loop:
	tst	r1,r1
	bt	next
	mov.w	@r3,r0
	mov.w	r0,@r2
	add	#2,r2
	bra	ri_loop
	add	#-1,r1

op_waitsect:
	bsr	command
	nop
	mov.w	@(12,r11),r0
	extu.w	r0,r0
	mov.l	@(24,r9),r1
	cmp/hs	r1,r0
	bt	next
	mov.l	spin_count,r1		! let the drive work before asking again
ws_spin:
	dt	r1
	bf	ws_spin
	bra	op_waitsect
	nop

next:
	add	#32,r9
	add	#8,r10
	mov.l	@(8,r12),r0
	add	#1,r0
	mov.l	r0,@(8,r12)
	bra	loop
	nop

finish:
	mov.l	magic,r0
	mov.l	r0,@r12
	idle_forever

! Issues the entry's command and waits for its end and the entry's bits.
command:
	mov.l	@(20,r9),r0
	cdb_clear_hirq
	mov.l	@(4,r9),r0
	mov.w	r0,@r11
	mov.l	@(8,r9),r0
	mov.w	r0,@(4,r11)
	mov.l	@(12,r9),r0
	mov.w	r0,@(8,r11)
	mov.l	@(16,r9),r0
	mov.w	r0,@(12,r11)
	cdb_wait_cmok
	mov.w	@r11,r0
	extu.w	r0,r1
	shll16	r1
	mov.w	@(4,r11),r0
	extu.w	r0,r0
	or	r0,r1
	mov.l	r1,@r10
	mov.w	@(8,r11),r0
	extu.w	r0,r1
	shll16	r1
	mov.w	@(12,r11),r0
	extu.w	r0,r0
	or	r0,r1
	mov.l	r1,@(4,r10)
	mov.l	@(20,r9),r1
	tst	r1,r1
	bt	cmd_done
	cdb_wait_hirq r1
cmd_done:
	rts
	nop

	.align	2
script_addr:	.long	0x06070000
results_addr:	.long	0x06078000
header_addr:	.long	0x06077F00
regs_addr:	.long	CDB_REGS
cr1_addr:	.long	CDB_CR1
info_addr:	.long	0x25898000
data_addr:	.long	CDB_DATA
spin_count:	.long	20000
magic:		.long	0x4B455354

! The initial program hands V-BLANK-IN here.
	.org	0x100
handler:
	rts
	nop
