#!/usr/bin/env python3
"""Builds the arcade test set from the assembled test programs: the BIOS
image with its 16-bit words byte-swapped (the byte order of the board's ROM
dumps, which the loader swaps back), the ROM set kestarc.zip and the
data.json entry that places its members in the cartridge data.

    make_arcade_set.py OUTDIR BIOS.bin GAME.bin SOUND.bin

Members (the game checks each at its offset):
  kestarc_prg.ic13  "OE" at 0x200000: the game header, the game's program
                    after it, "PRG!" in its last four bytes
  kestarc_snd.ic2   "OE" at 0x400000: the 68000's program, "SND!" last
  kestarc_dat.ic3   "_O" at 0x1000000: 256 bytes 0x35 + 0x1D * i (mod 256)
"""
import json
import os
import struct
import subprocess
import sys
import zlib

BIOS_SIZE = 0x80000
PRG_SIZE = 0x4000
SND_SIZE = 0x1000
DAT_SIZE = 0x100
LOAD_ADDRESS = 0x06004000
MASTER_STACK = 0x06100000


def swapped(data):
    out = bytearray(data)
    out[0::2], out[1::2] = data[1::2], data[0::2]
    return bytes(out)


def header(program_size):
    h = bytearray(b' ' * 0x100)

    def put(offset, text):
        h[offset:offset + len(text)] = text
    put(0x00, b'SEGA ST-V')
    put(0x10, b'SEGA TP KEST')
    put(0x20, b'KEST-0001')
    put(0x2A, b'V1.000')
    put(0x30, b'20261207')
    put(0x38, b'ROM-1/1')
    put(0x40, b'JUE')
    put(0x60, b'KEST ARCADE TEST')
    struct.pack_into('>IIIII', h, 0xE0, program_size, 0, MASTER_STACK, 0, LOAD_ADDRESS)
    struct.pack_into('>I', h, 0xF4, program_size)
    return bytes(h)


def member(body, size, tag):
    if len(body) > size - len(tag):
        raise SystemExit(f'make_arcade_set: {len(body)} bytes do not fit a {size:#x}-byte member')
    return body + bytes(size - len(tag) - len(body)) + tag


def main():
    out, bios_path, game_path, sound_path = sys.argv[1:5]
    os.makedirs(out, exist_ok=True)
    bios = open(bios_path, 'rb').read()
    if len(bios) != BIOS_SIZE:
        raise SystemExit(f'make_arcade_set: {bios_path} is {len(bios)} bytes, not {BIOS_SIZE}')
    with open(os.path.join(out, 'stv_bios.bin'), 'wb') as f:
        f.write(swapped(bios))

    game = open(game_path, 'rb').read()
    game += bytes(-len(game) % 4)
    sound = open(sound_path, 'rb').read()
    members = {
        'kestarc_prg.ic13': (swapped(member(header(len(game)) + game, PRG_SIZE, b'PRG!')), 0x200000, 'OE'),
        'kestarc_snd.ic2': (swapped(member(sound, SND_SIZE, b'SND!')), 0x400000, 'OE'),
        'kestarc_dat.ic3': (bytes((0x35 + 0x1D * i) & 0xFF for i in range(DAT_SIZE)), 0x1000000, '_O'),
    }
    entry = {}
    for name, (data, offset, pattern) in members.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
        entry[name] = {'size': f'{len(data):X}', 'crc': f'{zlib.crc32(data):08X}', 'offset': f'{offset:X}',
                       'pattern': pattern}
    zip_path = os.path.join(out, 'kestarc.zip')
    if os.path.exists(zip_path):
        os.remove(zip_path)
    subprocess.run(['zip', '-q', '-X', 'kestarc.zip'] + sorted(members), cwd=out, check=True)
    for name in members:
        os.remove(os.path.join(out, name))
    with open(os.path.join(out, 'data.json'), 'w') as f:
        json.dump({'TITAN': {'kestarc': entry}}, f, indent=4)
        f.write('\n')


if __name__ == '__main__':
    main()
