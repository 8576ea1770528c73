! Loaded as the BIOS image: runs a script of SMPC register operations that
! the test leaves in work RAM-H, and records what the SMPC answers.
!
! Script at 0x26010000, four bytes an entry: op, register offset, value, 0.
!   0 end                  3 wait until the SMPC interrupt count >= value
!   1 write value          4 read the register, append the byte to the reads
!   2 wait until SF = 0    5 wait for the next V-BLANK-IN
!   6 open the SCU mask again (a clock change resets the SCU)
!   7 spin value x 64 times
! A wait gives up after about 200000 polls and counts a timeout.
!
! Results (cache-through addresses):
!   0x26000000  SMPC interrupts       0x26000004  NMIs
!   0x26000008  vector 0 (SYSRES)     0x2600000C  1 once the script ended
!   0x26000010  timeouts              0x26000018  V-BLANK-INs
!   0x26000100  the slave's loop counter (SSHON starts it at slave_entry)
!   0x26020000  one 64-byte slot per SMPC interrupt: OREG0-31, SR, SF
!   0x26030000  the bytes of the read ops, in order
! base: 0x00000000
	.include "saturn.inc"

	bios_vectors start
start:
	mov.l	vbr_value,r0
	ldc	r0,vbr
	mov.l	slave_vector,r1		! where SSHON takes the slave's PC from
	mov.l	slave_entry_addr,r0
	mov.l	r0,@r1
	enable_interrupts ims, mask	! V-BLANK-IN (bit 0) and SMPC (bit 7)
	mov.l	counters,r8
	mov.l	script,r9
	mov.l	smpc,r10
	mov.l	reads,r11

next:
	mov.b	@(1,r9),r0
	extu.b	r0,r1			! register offset
	mov.b	@(2,r9),r0
	extu.b	r0,r2			! value
	mov.b	@r9,r0
	extu.b	r0,r0			! op
	add	#4,r9
	cmp/eq	#0,r0
	bt	finish
	cmp/eq	#1,r0
	bt	op_write
	cmp/eq	#2,r0
	bt	op_wait_sf
	cmp/eq	#3,r0
	bt	op_wait_irq
	cmp/eq	#4,r0
	bt	op_read
	cmp/eq	#5,r0
	bt	op_wait_vblank
	cmp/eq	#6,r0
	bt	op_open_mask
	cmp/eq	#7,r0
	bt	op_spin
	bra	next
	nop

op_open_mask:
	mov.l	ims,r1
	mov.l	mask,r0
	bra	next
	mov.l	r0,@r1

op_spin:
	tst	r2,r2
	bt	next
	shll2	r2
	shll2	r2
	shll2	r2
1:	dt	r2
	bf	1b
	bra	next
	nop

op_write:
	mov	r1,r0
	bra	next
	mov.b	r2,@(r0,r10)

op_read:
	mov	r1,r0
	mov.b	@(r0,r10),r0
	mov.b	r0,@r11
	bra	next
	add	#1,r11

op_wait_sf:
	mov.l	timeout,r3
1:	mov	#0x63,r0
	mov.b	@(r0,r10),r0
	tst	#1,r0
	bt	next
	dt	r3
	bf	1b
	bra	timed_out
	nop

op_wait_irq:
	mov.l	timeout,r3
1:	mov.l	@r8,r0
	cmp/hs	r2,r0
	bt	next
	dt	r3
	bf	1b
	bra	timed_out
	nop

op_wait_vblank:
	mov.l	@(0x18,r8),r4
	mov.l	timeout,r3
1:	mov.l	@(0x18,r8),r0
	cmp/eq	r4,r0
	bf	next
	dt	r3
	bf	1b
	bra	timed_out
	nop

timed_out:
	mov.l	@(0x10,r8),r0
	add	#1,r0
	mov.l	r0,@(0x10,r8)
	bra	next
	nop

! Raises the done flag and waits for the test to clear it with a new script.
finish:
	mov	#1,r0
	mov.l	r0,@(0x0C,r8)
1:	mov.l	@(0x0C,r8),r0
	tst	r0,r0
	bf	1b
	mov.l	script,r9
	bra	next
	nop

! Copies OREG0-31, SR and SF into the slot of this interrupt.
smpc_irq:
	mov.l	r0,@-r15
	mov.l	r1,@-r15
	mov.l	r2,@-r15
	mov.l	r3,@-r15
	mov.l	r4,@-r15
	mov.l	r5,@-r15
	mov.l	counters,r1
	mov.l	@r1,r2
	mov	r2,r0
	and	#63,r0
	shll2	r0
	shll2	r0
	shll2	r0
	mov.l	slots,r3
	add	r0,r3
	mov.l	smpc,r4
	add	#0x21,r4
	mov	#32,r5
2:	mov.b	@r4,r0
	mov.b	r0,@r3
	add	#2,r4
	add	#1,r3
	dt	r5
	bf	2b
	mov.b	@r4,r0			! SR
	mov.b	r0,@r3
	mov.b	@(2,r4),r0		! SF
	mov.b	r0,@(1,r3)
	add	#1,r2
	mov.l	r2,@r1
	mov.l	@r15+,r5
	mov.l	@r15+,r4
	mov.l	@r15+,r3
	mov.l	@r15+,r2
	mov.l	@r15+,r1
	mov.l	@r15+,r0
	rte
	nop

nmi:
	count_interrupt counters, 4

system_reset:
	count_interrupt counters, 8

vblank_in:
	count_interrupt counters, 0x18

slave_entry:
	mov.l	slave_counter,r1
1:	mov.l	@r1,r0
	add	#1,r0
	bra	1b
	mov.l	r0,@r1

	.align	2
vbr_value:	.long	vectors
slave_vector:	.long	0x26000250
slave_entry_addr: .long	slave_entry
ims:		.long	SCU_IMS
mask:		.long	0x0000BF7E
counters:	.long	0x26000000
script:		.long	0x26010000
smpc:		.long	0x20100000
reads:		.long	0x26030000
slots:		.long	0x26020000
timeout:	.long	200000
slave_counter:	.long	0x26000100

	.org	0x800
vectors:
	.long	system_reset
	.org	0x800 + 11 * 4
	.long	nmi
	.org	0x800 + 0x40 * 4
	.long	vblank_in
	.org	0x800 + 0x47 * 4
	.long	smpc_irq
	.org	0x1000 - 4
	.long	0
