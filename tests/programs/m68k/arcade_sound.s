| The arcade test game's sound program: the game copies it from its ROM to
| sound memory address 0 and starts it through the SMPC's sound line
| (SNDON). It leaves "K68K" at 0x700 for the game to read back, then idles.
| base: 0x0
	.org	0
	.long	0x7F000			| supervisor stack
	.long	start

	.org	0x100
start:
	move.l	#0x4B36384B,0x700
idle:
	bra.s	idle
