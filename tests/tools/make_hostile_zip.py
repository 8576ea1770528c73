#!/usr/bin/env python3
"""Writes zip archives that lie or hurt, built by hand so that each field
says what the test wants:

    make_hostile_zip.py zeros OUT.zip SIZE NAME...   one deflated member of SIZE
                                                     zero bytes, every NAME a
                                                     directory entry of it
    make_hostile_zip.py lying OUT.zip NAME RECORDED SIZE
                                                     the directory records
                                                     RECORDED bytes, the data
                                                     inflates to SIZE
    make_hostile_zip.py encrypted|badcrc|wildoffset|garbage OUT.zip NAME SIZE
    make_hostile_zip.py set DIR GAME COUNT SIZE      DIR/GAME.zip of COUNT names of
                                                     SIZE zero bytes, and the
                                                     DIR/data.json that lists them

Several archives are made in one run when their arguments are separated by
",". Sizes are decimal or 0x hexadecimal. Deflated zeros are a repeated
full-flush block, so gigabytes take a few megabytes and no time to make.
"""
import json
import os
import random
import struct
import sys
import zlib

CHUNK = 1 << 20


def deflated_zeros(size):
    unit = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = unit.compress(bytes(CHUNK)) + unit.flush(zlib.Z_FULL_FLUSH)
    tail = zlib.compressobj(9, zlib.DEFLATED, -15)
    return block * (size // CHUNK) + tail.compress(bytes(size % CHUNK)) + tail.flush()


def crc_of_zeros(size):
    crc = zlib.crc32(bytes(size % CHUNK))
    zero = bytes(CHUNK)
    for _ in range(size // CHUNK):
        crc = zlib.crc32(zero, crc)
    return crc


def archive(path, local_name, data, method, crc, size, names, flags=0, offset=None):
    """One local member and a central directory entry for each of names."""
    local = struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags, method, 0, 0x21, crc, len(data), size,
                        len(local_name), 0) + local_name + data
    central = b''
    for name in names:
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, flags, method, 0, 0x21, crc, len(data),
                               size, len(name), 0, 0, 0, 0, 0, 0 if offset is None else offset) + name
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(names), len(names), len(central), len(local), 0)
    with open(path, 'wb') as f:
        f.write(local + central + end)


def make(kind, out, *rest):
    number = lambda text: int(text, 0)
    if kind == 'zeros':
        size = number(rest[0])
        names = [n.encode() for n in rest[1:]]
        crc = crc_of_zeros(size) if size <= 256 * CHUNK else 0
        archive(out, names[0], deflated_zeros(size), 8, crc, size, names)
        return
    if kind == 'set':
        folder, game, count, size = out, rest[0], number(rest[1]), number(rest[2])
        names = ['m%04d' % i for i in range(count)]
        make('zeros', os.path.join(folder, game + '.zip'), str(size), *names)
        entry = {'size': '%X' % size, 'crc': '0', 'offset': '0', 'pattern': 'OE'}
        with open(os.path.join(folder, 'data.json'), 'w') as f:
            json.dump({'TITAN': {game: {n: entry for n in names}}}, f)
        return
    name = rest[0].encode()
    if kind == 'lying':
        recorded, size = number(rest[1]), number(rest[2])
        archive(out, name, deflated_zeros(size), 8, crc_of_zeros(recorded), recorded, [name])
        return
    size = number(rest[1])
    data = bytes((i * 7 + 1) & 0xFF for i in range(size))
    crc = zlib.crc32(data)
    if kind == 'encrypted':
        # Traditional encryption: a 12-byte header before data nobody can read.
        archive(out, name, bytes(12) + data, 0, crc, size, [name], flags=1)
    elif kind == 'badcrc':
        archive(out, name, data, 0, crc ^ 0x5A5A5A5A, size, [name])
    elif kind == 'wildoffset':
        archive(out, name, data, 0, crc, size, [name], offset=0x7FFF0000)
    elif kind == 'garbage':
        noise = bytes(random.Random(5).getrandbits(8) for _ in range(size // 2))
        archive(out, name, noise, 8, crc, size, [name])
    else:
        raise SystemExit('make_hostile_zip: unknown kind ' + kind)


def main():
    job = []
    for argument in sys.argv[1:] + [',']:
        if argument != ',':
            job.append(argument)
        elif job:
            make(*job)
            job = []


if __name__ == '__main__':
    main()
