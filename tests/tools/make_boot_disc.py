#!/usr/bin/env python3
"""Builds the console boot test disc: an ISO 9660 image made by xorriso from
a folder of files plus the first file, with an initial program in its system
area whose 256-byte system header is written here from the header layout.

    make_boot_disc.py OUT.iso IP_CODE.bin FIRST.bin FOLDER [TITLE VOLUME [OFFSET EXTRA.bin]]

With OFFSET and EXTRA.bin the first file is FIRST.bin padded with zeros to
OFFSET and followed by EXTRA.bin (the game disc's sound driver).
"""
import os
import struct
import subprocess
import sys
import tempfile

IP_CODE_OFFSET = 0xE00
FIRST_READ = 0x06004000


def text(field, length):
    return field.encode('ascii').ljust(length, b' ')


def main():
    out, ip_code_path, first_path, folder = sys.argv[1:5]
    title, volume = sys.argv[5:7] if len(sys.argv) > 6 else ('KEST BIOS BOOT TEST', 'KEST_BOOT')
    extra = sys.argv[7:9] if len(sys.argv) > 8 else None
    with open(ip_code_path, 'rb') as f:
        code = f.read()
    ip_size = IP_CODE_OFFSET + len(code)
    header = (text('SEGA SEGASATURN', 16) + text('SEGA TP KEST', 16) + text('T-99901G', 10) +
              text('V1.000', 6) + text('20261207', 8) + text('CD-1/1', 8) + text('JTUE', 10) +
              b' ' * 6 + text('J', 16) + text(title, 112) + b' ' * 16 +
              struct.pack('>IIIIII', ip_size, 0, 0, 0, FIRST_READ, 0) + b'\0' * 8)
    assert len(header) == 256
    ip = bytearray(0x1800)
    ip[0:256] = header
    ip[IP_CODE_OFFSET:IP_CODE_OFFSET + len(code)] = code
    with tempfile.TemporaryDirectory() as work:
        ip_path = os.path.join(work, 'ip.bin')
        with open(ip_path, 'wb') as f:
            f.write(ip)
        if extra:
            with open(first_path, 'rb') as f:
                first = f.read()
            offset = int(extra[0], 0)
            if len(first) > offset:
                sys.exit(f'{first_path} is {len(first)} bytes, past the extra file at {offset:#x}')
            with open(extra[1], 'rb') as f:
                first = first.ljust(offset, b'\0') + f.read()
            first_path = os.path.join(work, 'first.bin')
            with open(first_path, 'wb') as f:
                f.write(first)
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(['xorriso', '-as', 'mkisofs', '-quiet', '-V', volume, '-o', out, '-G', ip_path,
                        '-graft-points', '/=' + folder, '/0PROGRAM.BIN=' + first_path], check=True)


if __name__ == '__main__':
    main()
