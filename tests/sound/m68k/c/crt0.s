| Start-up for the freestanding C programs: a stack, the call, and a marker
| when the program has returned.
	.equ	STACK, 0x7F000
	.equ	RESULTS, 0x60000
	.equ	DONE, 0x5FFFC
	.text
	.globl	_start
_start:
	move.l	#STACK,%sp
	pea	RESULTS
	jsr	program_main
	addq.l	#4,%sp
	move.l	%d0,DONE
	move.w	#0x600D,DONE-2
1:	bra.s	1b
	.section .note.GNU-stack,"",@progbits
