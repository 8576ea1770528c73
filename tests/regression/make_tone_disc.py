#!/usr/bin/env python3
"""Writes tone.bin and tone.cue into the folder given: one audio track of two
seconds, 440 Hz on the left and 880 Hz on the right, for the CD-audio case."""

import math
import pathlib
import struct
import sys

SECTORS = 150
PAIRS_PER_SECTOR = 588


def main():
    folder = pathlib.Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    samples = bytearray()
    for n in range(SECTORS * PAIRS_PER_SECTOR):
        left = round(12000 * math.sin(2 * math.pi * 440 * n / 44100 + 0.5))
        right = round(9000 * math.sin(2 * math.pi * 880 * n / 44100 + 1.0))
        samples += struct.pack("<hh", left, right)
    (folder / "tone.bin").write_bytes(bytes(samples))
    (folder / "tone.cue").write_text('FILE "tone.bin" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n')


if __name__ == "__main__":
    main()
