#!/usr/bin/env python3
"""make_backup.py OUT: an internal backup memory (32 KB, 64-byte blocks)
of saves "S<size>" holding byte i = (i * 7 + size) & 0xFF, in the console's
layout: the list runs on from byte 34, the data starts at byte c of block
first + b by the console's count or, where that would put the data over the
list, by the smallest count that fits."""
import struct
import sys

B = 64
SIZE = 32768
SIZES = [28, 840, 841, 898, 2000, 2580]


def console_count(size):
    p = B - 4
    full = ((B - 36) // 2) * p
    if size <= full:
        n = size // p
        if size % p > B - (2 * n + 36):
            n += 1
        return n, 0, 2 * n + 36
    m = full // p
    if full % p > B - (2 * m + 36):
        m += 1
    rest = size - full
    q, r, h = rest // p, rest % p, p // 2
    x = (h + q) // h
    y = (q + 1) % h
    z = 2 * (h - y) if y > 0 else 0
    if r > z:
        q += 1
        if y == 0:
            y = 1
            x += 1
    return q + m, x, 2 * y + 4


def list_end(a):
    block, at = 0, 34
    for _ in range(a + 1):
        if at == B:
            block, at = block + 1, 4
        at += 2
    return block, at


def layout(size):
    a, b, c = console_count(size)
    fits = lambda a, b, c: (B - c if c < B else 0) + a * (B - 4) >= size
    if list_end(a) <= (b, c) and fits(a, b, c):
        return a, b, c
    return next((a,) + list_end(a) for a in range(size + 1) if fits(a, *list_end(a)))


def main():
    image = bytearray(SIZE)
    image[0:B] = (b"BackUpRam Format" * (B // 16))
    block = 2
    for size in SIZES:
        a, b, c = layout(size)
        first = block
        data_blocks = list(range(first + b + 1, first + b + 1 + a))
        block = first + b + 1 + a
        at = first * B
        image[at:at + 4] = struct.pack(">I", 0x80000000)
        name = b"S%d" % size
        image[at + 4:at + 15] = name.ljust(11, b"\0")
        image[at + 15] = 0
        image[at + 16:at + 26] = b"PY".ljust(10, b"\0")
        struct.pack_into(">II", image, at + 26, 1000 + size, size)
        p = at + 34
        for entry in data_blocks + [0]:
            if p % B == 0:
                p += 4
            struct.pack_into(">H", image, p, entry)
            p += 2
        data = bytes((i * 7 + size) & 0xFF for i in range(size))
        places = list(range((first + b) * B + c, (first + b + 1) * B))
        for n in data_blocks:
            places += range(n * B + 4, (n + 1) * B)
        assert len(places) >= size
        for i, d in enumerate(data):
            image[places[i]] = d
    with open(sys.argv[1], "wb") as out:
        out.write(image)


if __name__ == "__main__":
    main()
