#!/usr/bin/env python3
"""Pictures the VDP1 tests compare against, computed with PIL and numpy from
the geometry alone: textures made from a PNG with the frame buffers their
sprites must give, line and polygon pixel sets, and the colour-calculation
formulas over random words. Everything is written big-endian to OUTDIR."""
import os
import sys

import numpy as np
from PIL import Image, ImageDraw

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = np.random.default_rng(20261207)


def save(name, array, dtype=">u2"):
    np.asarray(array).astype(dtype).tofile(os.path.join(out, name))


def rgb555(rgb):
    rgb = np.asarray(rgb, dtype=np.uint32)
    return 0x8000 | (rgb[..., 2] >> 3) << 10 | (rgb[..., 1] >> 3) << 5 | rgb[..., 0] >> 3


# A 32x16 texture of 16 colours, saved as a PNG and read back from it.
W, H = 32, 16
image = Image.fromarray(rng.integers(0, 16, (H, W)).astype(np.uint8), "P")
image.putpalette(rng.integers(0, 256, 48).tolist())
image.save(os.path.join(out, "texture.png"))
png = Image.open(os.path.join(out, "texture.png"))
index = np.array(png)
lut = rgb555(np.array(png.getpalette()[:48]).reshape(16, 3))

save("tex4.bin", index[:, 0::2] << 4 | index[:, 1::2], ">u1")
save("lut.bin", lut)
save("tex8.bin", index, ">u1")
save("tex16.bin", lut[index])
expected = {
    "plain": png,
    "hflip": png.transpose(Image.Transpose.FLIP_LEFT_RIGHT),
    "vflip": png.transpose(Image.Transpose.FLIP_TOP_BOTTOM),
    "hvflip": png.transpose(Image.Transpose.ROTATE_180),
    "enlarge": png.resize((W * 3, H * 2), Image.Resampling.NEAREST),
}
for name, picture in expected.items():
    save(f"sprite_{name}.bin", np.array(picture))  # colour indices

# Lines along the axes and at 45 degrees, as PIL draws them.
lines = [(5, 7, 300, 7), (300, 9, 5, 9), (40, 20, 40, 200), (42, 200, 42, 20),
         (60, 30, 160, 130), (200, 30, 100, 130), (170, 140, 250, 220), (260, 220, 330, 150)]
canvas = Image.new("1", (512, 256))
draw = ImageDraw.Draw(canvas)
for line in lines:
    draw.line(line, fill=1)
save("lines.bin", np.array(lines), ">i2")
save("lines_mask.bin", np.array(canvas), ">u1")

# A filled square turned by 30 degrees: PIL's fill, shrunk and grown by one
# pixel to leave room for edge rounding.
angle = np.radians(30)
corners = [(200 + 60 * np.cos(angle + k * np.pi / 2), 120 + 60 * np.sin(angle + k * np.pi / 2)) for k in range(4)]
corners = [(int(round(x)), int(round(y))) for x, y in corners]
canvas = Image.new("1", (512, 256))
ImageDraw.Draw(canvas).polygon(corners, fill=1)
filled = np.array(canvas)
inner = filled.copy()
outer = filled.copy()
for dy in (-1, 0, 1):
    for dx in (-1, 0, 1):
        shifted = np.roll(np.roll(filled, dy, 0), dx, 1)
        inner &= shifted
        outer |= shifted
save("square.bin", np.array(corners), ">i2")
save("square_inner.bin", inner, ">u1")
save("square_outer.bin", outer, ">u1")


# Colour calculation over random frame-buffer words p, colours c and
# Gouraud words g, one row per mode 0-4, 6, 7 and MSB on.
def half(v, mask):
    return ((v >> 1) | (v & 0x8000)) & mask


def shade(c, g):
    result = np.zeros_like(c)
    for shift in (0, 5, 10):
        component = np.clip((c >> shift & 31) + (g >> shift & 31) - 16, 0, 31)
        result |= component << shift
    return result


N = 512
p = rng.integers(0, 0x10000, N).astype(np.int64)
c = rng.integers(0, 0x10000, N).astype(np.int64)
g = rng.integers(0, 0x8000, N).astype(np.int64)
shaded = shade(c, g) | (c & 0x8000)
behind = (p & 0x8000) != 0
modes = {
    0: c,
    1: np.where(behind, half(p, 0xBDEF), p),
    2: half(c, 0xBDEF),
    3: np.where(behind, (half(p, 0xBDEF) + half(c, 0x3DEF)) & 0xFFFF, c),
    4: shaded,
    6: half(shade(c, g), 0x3DEF) | (c & 0x8000),
    7: np.where(behind, (half(shaded, 0x3DEF) + half(p, 0xBDEF)) & 0xFFFF, shaded),
    8: p | 0x8000,
}
save("calc_cases.bin", np.stack([p, c, g], 1))
save("calc_expected.bin", np.stack(list(modes.values())))

# A Gouraud-shaded square: its corner pixels take the corner words.
colour = int(rng.integers(0, 0x10000))
corner_words = rng.integers(0, 0x8000, 4).astype(np.int64)
corner_pixels = shade(np.full(4, colour, dtype=np.int64), corner_words) | (colour & 0x8000)
save("gouraud.bin", np.concatenate([[colour], corner_words, corner_pixels]))

# The scene the SH-2 program draws (see vdp1_scene.s): a rectangle, a 1:1
# and a doubled sprite of the texel pattern (x + y) & 15, two lines and a
# rectangle cut by the user clip; nothing beyond the system clip 320x224.
scene = np.zeros((256, 512), dtype=np.int64)
scene[20:50, 20:60] = 0x801F
texture = (np.add.outer(np.arange(16), np.arange(16)) & 15) | 0x0100
scene[30:46, 80:96] = texture
scene[150:182, 280:312] = texture.repeat(2, 0).repeat(2, 1)
canvas = Image.new("I", (512, 256))
draw = ImageDraw.Draw(canvas)
draw.line((100, 100, 200, 100), fill=0x83E0)
draw.line((100, 110, 150, 160), fill=0xFC00)
drawn = np.array(canvas)
scene = np.where(drawn != 0, drawn, scene)
scene[60:100, 220:260] = 0xFFFF
save("scene.bin", scene)

# The same scene as VDP2 shows it (see vdp1_scene.s): 320 x 224 dots of the
# frame buffer as sprite type 0 in mixed mode. A word with its MSB set is an
# RGB555 colour, any other non-zero word a colour RAM code (its low 11 bits),
# and a zero word is transparent and shows the back screen. Each 5-bit
# channel drives the top five bits of the 8-bit output.
def host(words):
    words = np.asarray(words, dtype=np.int64)
    return (words & 31) << 19 | (words >> 5 & 31) << 11 | (words >> 10 & 31) << 3


n = np.arange(16)
cram = np.zeros(0x800, dtype=np.int64)
cram[0x100 + n] = n << 11 | (15 - n) << 6 | (n * 2 + 1)
shown = scene[:224, :320]
composed = np.where(shown & 0x8000, host(shown), host(cram[shown & 0x7FF]))
composed = np.where(shown == 0, host(0x4C66), composed)
composed.astype("<u4").tofile(os.path.join(out, "composed.rgb"))
