#!/usr/bin/env python3
"""VDP2 test scenes with their expected pictures, made without the renderer.

Source pictures are drawn with PIL, cut into characters, pattern-name tables
and palettes (or bitmaps), and the expected 320 x 224 screen is computed from
the pictures with numpy: scrolling is indexing, zoom and mosaic are index
arithmetic, and priorities, colour calculation, colour offset and windows
follow the hardware manual's rules.

Usage: make_scenes.py OUTDIR. For every scene it writes NAME.scene, records
for the SH-2 loader (destination, byte count, big-endian data), and NAME.rgb,
the expected picture as little-endian 0x00RRGGBB words.
"""
import os
import struct
import sys

import numpy as np
from PIL import Image, ImageDraw

W, H = 320, 224
VRAM, CRAM, REGS = 0x25E00000, 0x25F00000, 0x25F80000

TVMD, RAMCTL, BGON, MZCTL = 0x000, 0x00E, 0x020, 0x022
CHCTLA, CHCTLB, BMPNA = 0x028, 0x02A, 0x02C
PNCN0, PNCR, PLSZ, MPOFN, MPOFR = 0x030, 0x038, 0x03A, 0x03C, 0x03E
MPABN0, MPABRA = 0x040, 0x050
SCXIN0, SCYIN0, ZMXIN0, ZMXDN0, ZMYIN0, ZMYDN0 = 0x070, 0x074, 0x078, 0x07A, 0x07C, 0x07E
SCXN2, ZMCTL, SCRCTL, LSTA0U = 0x090, 0x098, 0x09A, 0x0A0
BKTAU, BKTAL, RPMD, RPTAU, RPTAL = 0x0AC, 0x0AE, 0x0B0, 0x0BC, 0x0BE
WPSX0, WCTLA, WCTLB, LWTA0U = 0x0C0, 0x0D0, 0x0D2, 0x0D8
CRAOFA, CCCTL, PRINA, PRINB, PRIR = 0x0E4, 0x0EC, 0x0F8, 0x0FA, 0x0FC
CCRNA, CCRNB, CLOFEN, CLOFSL, COAR, COBR = 0x108, 0x10A, 0x110, 0x112, 0x114, 0x11A


def rgb555(c):
    """Console colour words to host 0x00RRGGBB."""
    c = np.asarray(c, dtype=np.uint32)
    return ((c & 0x1F) << 19) | (((c >> 5) & 0x1F) << 11) | (((c >> 10) & 0x1F) << 3)


class Scene:
    def __init__(self, seed):
        self.vram = bytearray(0x80000)
        self.cram = bytearray(0x1000)
        self.regs = {}
        self.ranges = []
        self.others = []  # (address, data) records after VDP2's
        self.top = 0
        self.rng = np.random.default_rng(seed)

    def reg(self, offset, value):
        self.regs[offset] = value & 0xFFFF

    def alloc(self, size, align):
        self.top = (self.top + align - 1) // align * align
        at = self.top
        self.top += size
        assert self.top <= len(self.vram)
        return at

    def put(self, data, align=32):
        at = self.alloc(len(data), align)
        self.vram[at:at + len(data)] = data
        self.ranges.append((at, len(data)))
        return at

    def palette(self, first, count):
        """Random colours for codes first .. first + count - 1 (mode 0 and 1 words)."""
        words = self.rng.integers(0, 0x8000, count, dtype=np.uint32)
        for i, w in enumerate(words):
            struct.pack_into(">H", self.cram, 2 * (first + i), int(w))

    def colors(self, codes, mode=0):
        """Host colours of colour codes by the colour RAM mode."""
        mask = 0x7FF if mode == 1 else 0x3FF
        words = np.frombuffer(bytes(self.cram), dtype=">u2").astype(np.uint32)
        return rgb555(words[np.asarray(codes) & mask])

    def blob(self):
        records = [(REGS + RAMCTL, struct.pack(">H", self.regs.get(RAMCTL, 0)))]
        # In colour RAM mode 0 a write lands in both halves: only the first is written.
        cram_size = 0x800 if (self.regs.get(RAMCTL, 0) >> 12) & 3 == 0 else 0x1000
        records.append((CRAM, bytes(self.cram[:cram_size])))
        for at, size in self.ranges:
            records.append((VRAM + at, bytes(self.vram[at:at + size])))
        for offset in sorted(self.regs):
            if offset not in (TVMD, RAMCTL):
                records.append((REGS + offset, struct.pack(">H", self.regs[offset])))
        records.append((REGS + TVMD, struct.pack(">H", self.regs.get(TVMD, 0x8000))))
        records += self.others
        out = bytearray()
        for dest, data in records:
            out += struct.pack(">II", dest, len(data)) + data
            out += bytes(-len(out) % 4)
        return bytes(out + struct.pack(">II", 0, 0))


def picture(rng, size, colors, clear=0.4):
    """A size x size index picture: shapes in colours 1 .. colors - 1 over 0."""
    img = Image.new("I", (size, size), 0)
    draw = ImageDraw.Draw(img)
    for _ in range(12):
        x0, y0 = rng.integers(-size // 4, size, 2)
        w, h = rng.integers(size // 8, size // 2, 2)
        c = int(rng.integers(1, colors))
        box = [int(x0), int(y0), int(x0 + w), int(y0 + h)]
        (draw.ellipse if rng.integers(0, 2) else draw.rectangle)(box, fill=c)
    for i in range(0, size, 9):
        draw.line([0, i, size, (i * 3) % size], fill=int(rng.integers(1, colors)))
    pic = np.array(img).astype(np.uint32)
    holes = rng.random((size // 8, size // 8)) < clear
    pic[np.kron(holes, np.ones((8, 8), dtype=bool))] = 0
    return pic


def char_bytes(dots, bpp):
    """A character's dots (8 x 8 or 16 x 16) as stored: cells TL, TR, BL, BR."""
    n = dots.shape[0]
    out = bytearray()
    for cy in range(0, n, 8):
        for cx in range(0, n, 8):
            cell = dots[cy:cy + 8, cx:cx + 8]
            for row in cell:
                if bpp == 4:
                    out += bytes(int(row[i] << 4 | row[i + 1]) for i in range(0, 8, 2))
                elif bpp == 8:
                    out += bytes(int(v) for v in row)
                elif bpp == 16:
                    out += b"".join(struct.pack(">H", int(v)) for v in row)
                else:
                    out += b"".join(struct.pack(">I", int(v)) for v in row)
    return out


class CellLayer:
    """A cell-mode map of one page repeated, showing a periodic picture.

    values: the picture's dot values (indices, or direct colours); palettes:
    per-character palette numbers. Names and characters are written to VRAM
    and the screen model is kept for the expected picture."""

    def __init__(self, scene, values, char, bpp, two_word=False, supplement=0, flips=False, palettes=None):
        self.char, self.bpp, self.two_word, self.supplement = char, bpp, two_word, supplement
        size = values.shape[0]
        per = size // char
        rng = scene.rng
        palettes = np.zeros((per, per), dtype=np.uint32) if palettes is None else palettes
        hf = rng.integers(0, 2, (per, per)) if flips else np.zeros((per, per), dtype=int)
        vf = rng.integers(0, 2, (per, per)) if flips else np.zeros((per, per), dtype=int)
        data = bytearray()
        for cy in range(per):
            for cx in range(per):
                dots = values[cy * char:(cy + 1) * char, cx * char:(cx + 1) * char]
                if hf[cy, cx]:
                    dots = dots[:, ::-1]
                if vf[cy, cx]:
                    dots = dots[::-1, :]
                data += char_bytes(dots, bpp)
        # Aligned to its size, so one supplement serves every character.
        first = scene.put(data, max(0x2000, 1 << (len(data) - 1).bit_length())) // 32
        self.first, self.per, self.hf, self.vf, self.palettes = first, per, hf, vf, palettes
        self.pncn = 0x0000 if two_word else 0x8000 | (supplement << 14)
        self.plane = self.page(scene, 0, 0)
        # Screen model: dot value and colour-code base at every map position.
        self.values = values
        self.palette_base = np.kron(palettes, np.ones((char, char), dtype=np.uint32))

    def page(self, scene, dy, dx):
        """Writes a page of names showing the picture moved by (dy, dx)
        characters, and answers its plane number."""
        char, bpp, two_word, supplement, per = self.char, self.bpp, self.two_word, self.supplement, self.per
        hf, vf, palettes = self.hf, self.vf, self.palettes
        step = (8 * bpp // 8 * 8 * (char // 8) ** 2) // 32
        names_per_row = 512 // char
        page = bytearray(names_per_row * names_per_row * (4 if two_word else 2))
        extras = set()
        for ny in range(names_per_row):
            for nx in range(names_per_row):
                cy, cx = (ny + dy) % per, (nx + dx) % per
                number = self.first + (cy * per + cx) * step
                p = int(palettes[cy, cx])
                if two_word:
                    v = number | p << 16 | int(hf[cy, cx]) << 30 | int(vf[cy, cx]) << 31
                    struct.pack_into(">I", page, (ny * names_per_row + nx) * 4, v)
                    continue
                if supplement == 0:
                    low = (number >> 2) & 0x3FF if char == 16 else number & 0x3FF
                    v = low | int(hf[cy, cx]) << 10 | int(vf[cy, cx]) << 11
                    extra = (number >> 12) << 2 if char == 16 else number >> 10
                else:
                    low = (number >> 2) & 0xFFF if char == 16 else number & 0xFFF
                    v = low
                    extra = (number >> 14) << 4 if char == 16 else (number >> 12) << 2
                extras.add(extra)
                self.pncn |= extra
                v |= (p << 12) if bpp == 4 else ((p & 7) << 12)
                struct.pack_into(">H", page, (ny * names_per_row + nx) * 2, v)
        assert len(extras) <= 1 and all(e < 32 for e in extras)
        page_shift = {(8, False): 13, (8, True): 14, (16, False): 11, (16, True): 12}[(char, two_word)]
        plane = scene.put(page, 1 << page_shift) >> page_shift
        assert plane < 64
        return plane

    def map_words(self):
        return (self.plane | self.plane << 8, self.plane | self.plane << 8)

    def codes(self, rows, cols, bpp_mode):
        """Colour codes and opacity of the map dots at (rows, cols)."""
        size = self.values.shape[0]
        v = self.values[rows % size, cols % size]
        p = self.palette_base[rows % size, cols % size]
        if bpp_mode == 0:
            return v | p << 4, v != 0
        if bpp_mode == 1:
            return v | (p & 7) << 8, v != 0
        return v & 0x7FF, (v & 0x7FF) != 0


def show_normal(scene, n, layer, mode, char16, priority):
    """Registers that put a CellLayer on NBGn."""
    if n == 0:
        scene.reg(CHCTLA, (scene.regs.get(CHCTLA, 0) & 0xFF00) | mode << 4 | char16)
    elif n == 1:
        scene.reg(CHCTLA, (scene.regs.get(CHCTLA, 0) & 0x00FF) | (mode << 12 | char16 << 8))
    else:
        shift = 4 * (n - 2)
        scene.reg(CHCTLB, scene.regs.get(CHCTLB, 0) | (mode << 1 | char16) << shift)
    scene.reg(PNCN0 + 2 * n, layer.pncn)
    ab, cd = layer.map_words()
    scene.reg(MPABN0 + 4 * n, ab)
    scene.reg(MPABN0 + 4 * n + 2, cd)
    scene.reg(BGON, scene.regs.get(BGON, 0) | 1 << n)
    prio = PRINA if n < 2 else PRINB
    scene.reg(prio, scene.regs.get(prio, 0) | priority << (8 * (n & 1)))
    if n < 2:
        scene.reg(ZMXIN0 + 0x10 * n, 1)
        scene.reg(ZMYIN0 + 0x10 * n, 1)


def back_screen(scene, color):
    at = scene.put(struct.pack(">H", color), 2)
    scene.reg(BKTAU, at >> 17)
    scene.reg(BKTAL, (at >> 1) & 0xFFFF)
    return np.full((H, W), int(rgb555(color)), dtype=np.uint32)


def grid():
    return np.mgrid[0:H, 0:W]


def compose(back, layers):
    """layers: (colour, visible, priority) from the highest output record
    down, so ties go to the earlier one. Returns the top colour, the second
    colour and the index of the top layer (-1 for the back screen)."""
    best = np.zeros((H, W), dtype=np.int64)
    top = np.full((H, W), -1)
    second_key = np.zeros((H, W), dtype=np.int64)
    keys = []
    for i, (color, visible, priority) in enumerate(layers):
        key = np.where(visible & (priority > 0), priority * 8 + (7 - i), 0)
        keys.append(key)
    keys.append(np.zeros((H, W), dtype=np.int64))
    stack = np.stack(keys)
    order = np.argsort(-stack, axis=0, kind="stable")
    first = np.take_along_axis(stack, order[0:1], 0)[0]
    second = np.take_along_axis(stack, order[1:2], 0)[0]
    colors = np.stack([c for c, _, _ in layers] + [back])
    top_color = np.where(first > 0, np.take_along_axis(colors, order[0:1], 0)[0], back)
    second_color = np.where(second > 0, np.take_along_axis(colors, order[1:2], 0)[0], back)
    top = np.where(first > 0, order[0], -1)
    second_color = np.where(first > 0, second_color, back)
    return top_color, second_color, top


def weigh(c, w):
    c = c.astype(np.int64)
    out = np.zeros_like(c)
    for s in (0, 8, 16):
        out |= (((c >> s) & 0xFF) * w >> 5) << s
    return out.astype(np.uint32)


def add_saturated(a, b):
    a, b = a.astype(np.int64), b.astype(np.int64)
    out = np.zeros_like(a)
    for s in (0, 8, 16):
        out |= np.minimum(((a >> s) & 0xFF) + ((b >> s) & 0xFF), 255) << s
    return out.astype(np.uint32)


def offset(c, rgb):
    out = np.zeros_like(c)
    for s, o in zip((16, 8, 0), rgb):
        out |= np.clip(((c >> s) & 0xFF).astype(np.int64) + o, 0, 255).astype(np.uint32) << s
    return out


# Scenes ---------------------------------------------------------------------

def scene_cells():
    """Every palette mode and character size with both name forms."""
    sc = Scene(1)
    sc.palette(0, 1024)
    y, x = grid()
    pics = [picture(sc.rng, 128, 16), picture(sc.rng, 128, 256), picture(sc.rng, 128, 256), picture(sc.rng, 128, 16)]
    pal0 = sc.rng.integers(0, 4, (16, 16)).astype(np.uint32)
    pal1 = sc.rng.integers(0, 2, (8, 8)).astype(np.uint32)
    pal3 = sc.rng.integers(0, 16, (8, 8)).astype(np.uint32)
    l0 = CellLayer(sc, pics[0], 8, 4, two_word=True, flips=True, palettes=pal0)
    l1 = CellLayer(sc, pics[1], 16, 8, flips=True, palettes=pal1)
    l2 = CellLayer(sc, pics[2], 8, 8, supplement=1)
    l3 = CellLayer(sc, pics[3], 16, 4, flips=True, palettes=pal3)
    show_normal(sc, 0, l0, 0, 0, 5)
    show_normal(sc, 1, l1, 1, 1, 4)
    show_normal(sc, 2, l2, 1, 0, 4)
    show_normal(sc, 3, l3, 0, 1, 2)
    sc.reg(CRAOFA, 0x0010)  # NBG1's colours 256 further on
    # NBG1 scrolled by 3, so its whole 16 x 16 characters start at a right half.
    sc.reg(SCXIN0 + 0x10, 3)
    back = back_screen(sc, 0x1234)
    layers = []
    for layer, mode, offs, prio, dx in ((l0, 0, 0, 5, 0), (l1, 1, 256, 4, 3), (l2, 1, 0, 4, 0), (l3, 0, 0, 2, 0)):
        codes, opaque = layer.codes(y, x + dx, mode)
        layers.append((sc.colors(codes + offs), opaque, prio))
    top, _, _ = compose(back, layers)
    return sc, top


def scene_direct():
    """2,048 colours in colour RAM mode 1 and 15-bit direct colour."""
    sc = Scene(2)
    sc.reg(RAMCTL, 0x1000)
    sc.palette(0, 2048)
    y, x = grid()
    codes0 = picture(sc.rng, 128, 2048)
    rgb = sc.rng.integers(0, 0x8000, (128, 128), dtype=np.uint32) | 0x8000
    rgb[picture(sc.rng, 128, 2) == 0] = 0
    l0 = CellLayer(sc, codes0, 16, 16, two_word=True, flips=True)
    l1 = CellLayer(sc, rgb, 8, 16)
    show_normal(sc, 0, l0, 2, 1, 3)
    show_normal(sc, 1, l1, 3, 0, 3)
    sc.reg(SCXIN0 + 0x10, 21)
    back = back_screen(sc, 0x7C00)
    c0, o0 = l0.codes(y, x, 2)
    v1 = rgb[y % 128, (x + 21) % 128]
    top, _, _ = compose(back, [(sc.colors(c0, 1), o0, 3), (rgb555(v1), v1 >> 15 == 1, 3)])
    return sc, top


def scene_rgb32():
    """32-bit direct colour in 16 x 16 characters."""
    sc = Scene(3)
    y, x = grid()
    rgb = sc.rng.integers(0, 1 << 24, (64, 64), dtype=np.uint32) | 0x80000000
    rgb[picture(sc.rng, 64, 2) == 0] = 0x00123456
    l0 = CellLayer(sc, rgb, 16, 32)
    show_normal(sc, 0, l0, 4, 1, 1)
    sc.reg(SCYIN0, 7)
    back = back_screen(sc, 0x03E0)
    v = rgb[(y + 7) % 64, x % 64]
    host = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF)
    top, _, _ = compose(back, [(host, (v >> 31) == 1, 1)])
    return sc, top


def scene_bitmap():
    """Bitmaps: 16 colours 1,024 x 256 with a palette number, 256 colours 512 x 512 scrolled."""
    sc = Scene(4)
    sc.palette(0, 1024)
    y, x = grid()
    b0 = np.tile(picture(sc.rng, 256, 16), (1, 4))
    b1 = np.tile(picture(sc.rng, 256, 256), (2, 2))
    data0 = bytes(int(b0[r, c] << 4 | b0[r, c + 1]) for r in range(256) for c in range(0, 1024, 2))
    data1 = bytes(int(v) for v in b1.flatten())
    sc.put(data0, 0x20000)   # map offset 0
    sc.ranges.append((0x40000, len(data1)))
    sc.vram[0x40000:0x40000 + len(data1)] = data1
    sc.reg(CHCTLA, 0x0002 | 2 << 2 | 0 << 4 | 0x0200 | 1 << 10 | 1 << 12)
    sc.reg(MPOFN, 0x0020)
    sc.reg(BMPNA, 0x0003)    # NBG0 palette 3
    sc.reg(BGON, 0x0003)
    sc.reg(PRINA, 0x0206)
    for r in (ZMXIN0, ZMYIN0, ZMXIN0 + 0x10, ZMYIN0 + 0x10):
        sc.reg(r, 1)
    sc.reg(SCXIN0 + 0x10, 100)
    sc.reg(SCYIN0 + 0x10, 300)
    back = back_screen(sc, 0x0000)
    v0 = b0[y % 256, x % 1024]
    v1 = b1[(y + 300) % 512, (x + 100) % 512]
    top, _, _ = compose(back, [(sc.colors(v0 | 3 << 8), v0 != 0, 6), (sc.colors(v1), v1 != 0, 2)])
    return sc, top


def scene_scroll():
    """Scroll, x2 reduction, x0.5 zoom with line scroll, and mosaic."""
    sc = Scene(5)
    sc.palette(0, 1024)
    y, x = grid()
    pics = [picture(sc.rng, 128, 16) for _ in range(4)]
    layers = [CellLayer(sc, p, 8, 4) for p in pics]
    # NBG3's right-hand planes (B and D) show its picture moved by 5 x 3
    # characters.
    right = layers[3].page(sc, 5, 3)
    for n, prio in zip(range(4), (6, 5, 4, 3)):
        show_normal(sc, n, layers[n], 0, 0, prio)
    planes = layers[3].plane | right << 8
    sc.reg(MPABN0 + 12, planes)
    sc.reg(MPABN0 + 14, planes)
    # NBG0: step 2.0 both ways, reduction to 1/2 allowed, scrolled.
    sc.reg(ZMXIN0, 2)
    sc.reg(ZMYIN0, 2)
    sc.reg(ZMCTL, 0x0001)
    sc.reg(SCXIN0, 37)
    sc.reg(SCYIN0, 11)
    # NBG1: step 0.5 (x2 zoom) and a line-scroll X table, one entry a line.
    sc.reg(ZMXIN0 + 0x10, 0)
    sc.reg(ZMXDN0 + 0x10, 0x8000)
    sc.reg(ZMYIN0 + 0x10, 0)
    sc.reg(ZMYDN0 + 0x10, 0x8000)
    shifts = (np.round(12 * np.sin(np.arange(H) / 9.0))).astype(int)
    table = b"".join(struct.pack(">I", (int(s) & 0x7FF) << 16) for s in shifts)
    at = sc.put(table, 4)
    sc.reg(LSTA0U + 4, at >> 17)
    sc.reg(LSTA0U + 6, (at >> 1) & 0xFFFE)
    sc.reg(SCRCTL, 0x0200)
    # NBG2: scroll and a 4 x 3 mosaic; NBG3: plain scroll.
    sc.reg(SCXN2, 5)
    sc.reg(SCXN2 + 2, 9)
    sc.reg(MZCTL, 0x2304 | 0)
    sc.reg(SCXN2 + 4, 0x7EC)  # -20
    sc.reg(SCXN2 + 6, 100)
    back = back_screen(sc, 0x4210)
    out = []
    c, o = layers[0].codes(11 + 2 * y, 37 + 2 * x, 0)
    out.append((sc.colors(c), o, 6))
    c, o = layers[1].codes(y // 2, (shifts[:, None] * 2 + x) // 2, 0)
    out.append((sc.colors(c), o, 5))
    r, q = 9 + y, 5 + x
    c, o = layers[2].codes(r - r % 3, q - q % 4, 0)
    out.append((sc.colors(c), o, 4))
    # The map is 1,024 dots wide: the first 20 columns wrap into plane B.
    cols = (x - 20) % 1024
    c, o = layers[3].codes(100 + y, cols, 0)
    cb, ob = layers[3].codes(100 + y + 5 * 8, cols + 3 * 8, 0)
    c, o = np.where(cols >= 512, cb, c), np.where(cols >= 512, ob, o)
    out.append((sc.colors(c), o, 3))
    top, _, _ = compose(back, out)
    return sc, top


def scene_effects(additive):
    """Priorities, ratio or additive colour calculation, colour offset and
    a rectangle window with a line window under AND and OR logic."""
    sc = Scene(6 + additive)
    sc.palette(0, 1024)
    y, x = grid()
    pics = [picture(sc.rng, 128, 16), picture(sc.rng, 128, 16, clear=0.0), picture(sc.rng, 128, 16)]
    pics[1][pics[1] == 0] = 1
    layers = [CellLayer(sc, p, 8, 4) for p in pics]
    for n, prio in zip(range(3), (6, 4, 5)):
        show_normal(sc, n, layers[n], 0, 0, prio)
    sc.reg(CCCTL, 0x0005 | (0x0100 if additive else 0))  # NBG0 and NBG2
    sc.reg(CCRNA, 10)
    sc.reg(CCRNB, 25)
    sc.reg(CLOFEN, 0x0022)   # NBG1 and the back screen
    sc.reg(CLOFSL, 0x0020)   # the back screen takes B
    for i, v in enumerate((40, -30, 300)):
        sc.reg(COAR + 2 * i, max(-256, min(255, v)) & 0x1FF)
    for i, v in enumerate((-40, 20, -256)):
        sc.reg(COBR + 2 * i, v & 0x1FF)
    # Window 0: x 40-119, y 30-99 (X registers count half dots here).
    for i, v in enumerate((80, 30, 239, 99)):
        sc.reg(WPSX0 + 2 * i, v)
    # Window 1: a line window, a band that slides to the right.
    starts = 60 + np.arange(H) // 2
    ends = starts + 90
    table = b"".join(struct.pack(">HH", int(s) * 2, int(e) * 2) for s, e in zip(starts, ends))
    at = sc.put(table, 4)
    sc.reg(LWTA0U + 4, 0x8000 | at >> 17)
    sc.reg(LWTA0U + 6, (at >> 1) & 0xFFFE)
    sc.reg(WPSX0 + 8 + 6, 0x1FF)  # window 1 covers every line
    sc.reg(WCTLA, 0x008E)    # NBG0: inside W0 AND outside W1 hidden
    sc.reg(WCTLB, 0x0003)    # NBG2: outside W0 hidden (OR)
    back = back_screen(sc, 0x5294)
    in0 = (x >= 40) & (x <= 119) & (y >= 30) & (y <= 99)
    in1 = (x >= starts[:, None]) & (x <= ends[:, None])
    c0, o0 = layers[0].codes(y, x, 0)
    c1, o1 = layers[1].codes(y, x, 0)
    c2, o2 = layers[2].codes(y, x, 0)
    o0 &= ~(in0 & ~in1)
    o2 &= in0
    top, second, index = compose(back, [(sc.colors(c0), o0, 6), (sc.colors(c1), o1, 4), (sc.colors(c2), o2, 5)])
    ratio = np.select([index == 0, index == 2], [10, 25], 0)
    if additive:
        # VDP1 draws a rectangle and a slanted polygon every field in double
        # interlace, which the sprites' priority 0 keeps off the screen.
        words = [0x0009] + [0] * 9 + [W - 1, H - 1, 0, 0, 0, 0]  # the system clip
        words += [0x0004, 0, 0x00C0, 0x801F, 0, 0, 20, 20, 100, 20, 100, 60, 20, 60, 0, 0]
        words += [0x0004, 0, 0x00C0, 0x83E0, 0, 0, 160, 80, 220, 100, 180, 160, 120, 140, 0, 0]
        words += [0x8000] + [0] * 15
        sc.others += [(0x25C00000, struct.pack(">64H", *words)), (0x25D00002, struct.pack(">H", 0x0008)),
                      (0x25D00004, struct.pack(">H", 0x0002))]  # FBCR: double interlace; PTMR: every field
        blended = add_saturated(top, second)
    else:
        blended = weigh(top, 31 - ratio) + weigh(second, ratio + 1)
    result = np.where((index == 0) | (index == 2), blended, top)
    result = np.where(index == 1, offset(result, (40, -30, 255)), result)
    result = np.where(index == -1, offset(result, (-40, 20, -256)), result)
    return sc, result


def fixed(value, bits, frac, shift):
    raw = int(round(value * (1 << frac))) & ((1 << bits) - 1)
    return raw << shift


def scene_rotation(kind):
    """RBG0 with the identity, a quarter turn (A = 0, B = -1) or kx = 0.5."""
    sc = Scene(9)
    sc.palette(0, 1024)
    y, x = grid()
    pic = picture(sc.rng, 128, 16)
    layer = CellLayer(sc, pic, 8, 4)
    a, b, d, e, kx = 1, 0, 0, 1, 1.0
    if kind == "quarter":
        a, b, d, e = 0, -1, 1, 0
    if kind == "half":
        kx = 0.5
    table = bytearray(0x80)
    struct.pack_into(">I", table, 0x10, fixed(1.0, 13, 10, 6))   # DYst
    struct.pack_into(">I", table, 0x14, fixed(1.0, 13, 10, 6))   # DX
    for i, v in enumerate((a, b, 0, d, e, 0)):
        struct.pack_into(">I", table, 0x1C + 4 * i, fixed(v, 14, 10, 6))
    struct.pack_into(">I", table, 0x4C, fixed(kx, 24, 16, 0))
    struct.pack_into(">I", table, 0x50, fixed(1.0, 24, 16, 0))
    at = sc.put(bytes(table), 0x100)
    sc.reg(RPTAU, at >> 17)
    sc.reg(RPTAL, (at >> 1) & 0xFFBE)
    sc.reg(BGON, 0x0010)
    sc.reg(PNCR, layer.pncn)
    for i in range(8):
        sc.reg(MPABRA + 2 * i, layer.plane | layer.plane << 8)
    sc.reg(PRIR, 3)
    back = back_screen(sc, 0x0421)
    if kind == "quarter":
        rows, cols = x, -y
    elif kind == "half":
        rows, cols = y, x // 2
    else:
        rows, cols = y, x
    c, o = layer.codes(rows % 2048, cols % 2048, 0)
    top, _, _ = compose(back, [(sc.colors(c), o, 3)])
    return sc, top


SCENES = {
    "cells": scene_cells,
    "direct": scene_direct,
    "rgb32": scene_rgb32,
    "bitmap": scene_bitmap,
    "scroll": scene_scroll,
    "ratio": lambda: scene_effects(0),
    "additive": lambda: scene_effects(1),
    "rotation_identity": lambda: scene_rotation("identity"),
    "rotation_quarter": lambda: scene_rotation("quarter"),
    "rotation_half": lambda: scene_rotation("half"),
}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, make in SCENES.items():
        scene, expected = make()
        with open(os.path.join(out, name + ".scene"), "wb") as f:
            f.write(scene.blob())
        with open(os.path.join(out, name + ".rgb"), "wb") as f:
            f.write(expected.astype("<u4").tobytes())


if __name__ == "__main__":
    main()
