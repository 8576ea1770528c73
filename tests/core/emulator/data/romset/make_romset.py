#!/usr/bin/env python3
"""Writes the arcade test files: a BIOS image (words byte-swapped, as the
board's ROM dumps are) and a zipped ROM set whose members data.json places
in the cartridge data.

    make_romset.py OUTDIR
"""
import os
import random
import subprocess
import sys


def swapped(data):
    out = bytearray(data)
    for i in range(0, len(out) - 1, 2):
        out[i], out[i + 1] = out[i + 1], out[i]
    return bytes(out)


def header():
    h = bytearray(b' ' * 256)
    def put(offset, text):
        h[offset:offset + len(text)] = text
    put(0x00, b'SEGA ST-V       ')
    put(0x30, b'19970101')
    put(0x40, b'JUE       ')
    put(0x60, b'KEST ARCADE TEST GAME')
    return bytes(h)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(1995)

    bios = bytearray(rng.getrandbits(8) for _ in range(0x80000))
    bios[0x808] = ord('E')  # the region byte, as the machine sees it
    with open(os.path.join(out, 'stv_bios.bin'), 'wb') as f:
        f.write(swapped(bios))

    # ic1 holds the game header at its start (the cartridge's 2 MB point).
    ic1 = bytearray(rng.getrandbits(8) for _ in range(0x40000))
    ic1[0:256] = header()
    members = {
        'ic1.bin': swapped(ic1),
        'ic2.bin': bytes(rng.getrandbits(8) for _ in range(0x20000)),
        'ic3.bin': bytes(rng.getrandbits(8) for _ in range(0x1000)),
        'ic5.bin': bytes(rng.getrandbits(8) for _ in range(0x100)),
        'ic6.bin': bytes(rng.getrandbits(8) for _ in range(0x1000)),
        'ic7.bin': bytes(rng.getrandbits(8) for _ in range(0x3000)),
    }
    for name, data in members.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
    zip_path = os.path.join(out, 'kestgame.zip')
    if os.path.exists(zip_path):
        os.remove(zip_path)
    subprocess.run(['zip', '-q', '-X', 'kestgame.zip'] + sorted(members), cwd=out, check=True)


if __name__ == '__main__':
    main()
