#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/base/bus.h"
#include "video/color_tables.h"
#include "video/vdp1/vdp1.h"

namespace {

constexpr u32 kTexture = 0x40000;
constexpr u32 kLut = 0x41000;
constexpr u32 kGouraud = 0x42000;

// The chip on its own memory, and the whole list drawn once an iteration.
struct Chip {
    std::vector<u8> memory = std::vector<u8>(0x100000);
    VDP1 vdp{nullptr, memory.data()};

    void word(u32 at, u16 v) { storeBe16(memory.data() + at, v); }
    void table(u32 at, const u16 (&w)[15])
    {
        for (u32 i = 0; i < 15; ++i)
            word(at + 2 * i, w[i]);
    }
    void drawEach(benchmark::State& state)
    {
        for (auto _ : state) {
            vdp.writePTMR(1);
            vdp.setClocksLeft(1 << 30);
            vdp.runCommands();
            benchmark::DoNotOptimize(vdp.drawBuffer()[0]);
            if (vdp.drawing())
                state.SkipWithError("the list did not end");
        }
    }
};

struct Scene : Chip {
    // 500 textured 32x32 sprites (16 colours through a look-up table) and
    // 200 Gouraud-shaded quads turned at assorted angles, over 320 x 224.
    Scene()
    {
        buildVideoTables();
        vdp.setup(0);
        vdp.powerOn();
        for (u32 i = 0; i < 32 * 32 / 2; ++i)
            memory[kTexture + i] = static_cast<u8>(i * 37 + 11);
        for (u32 i = 0; i < 16; ++i)
            word(kLut + 2 * i, static_cast<u16>(0x8000 | i * 0x0842));
        for (u32 i = 0; i < 4; ++i)
            word(kGouraud + 2 * i, static_cast<u16>(0x4210 + i * 0x0C63));
        u32 at = 0;
        table(at, {0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223, 0, 0, 0});
        at += 32;
        for (u32 i = 0; i < 500; ++i, at += 32) {
            const u16 x = static_cast<u16>((i * 53) % 290), y = static_cast<u16>((i * 29) % 194);
            table(at, {0x0000, 0, 0x00C8, kLut / 8, kTexture / 8, 0x0420, x, y, 0, 0, 0, 0, 0, 0, 0});
        }
        for (u32 i = 0; i < 200; ++i, at += 32) {
            const double a = i * 0.37, cx = 20 + (i * 41) % 280, cy = 20 + (i * 23) % 184;
            u16 xy[8];
            for (int k = 0; k < 4; ++k) {
                xy[2 * k] = static_cast<u16>(std::lround(cx + 16 * std::cos(a + k * M_PI / 2)));
                xy[2 * k + 1] = static_cast<u16>(std::lround(cy + 16 * std::sin(a + k * M_PI / 2)));
            }
            table(at, {0x0004, 0, 0x00C4, 0x801F, 0, 0, xy[0], xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7],
                       kGouraud / 8});
        }
        word(at, 0x8000);
    }
};

void BM_Vdp1SpritesAndGouraudPolygons(benchmark::State& state)
{
    Scene().drawEach(state);
}
BENCHMARK(BM_Vdp1SpritesAndGouraudPolygons)->Unit(benchmark::kMillisecond);

// A list made by a fixed generator, so that it is the same from run to run,
// over a 320 x 224 system clip, with look-up tables and Gouraud tables.
struct Generated : Chip {
    static constexpr u32 kLuts = 0x46000;
    static constexpr u32 kShades = 0x47000;

    u32 seed = 12345;

    u32 next(u32 n)
    {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    }
    s32 between(s32 lo, s32 hi) { return lo + static_cast<s32>(next(static_cast<u32>(hi - lo + 1))); }
    // Texels mostly opaque, some transparent, and in some textures end
    // codes padding the right of each row.
    u8 code(u32 column, u32 width, bool padded, u8 end)
    {
        if (padded && column + 3 >= width)
            return end;
        const u32 r = next(16);
        return r == 0 ? 0 : static_cast<u8>(1 + next(end - 1));
    }

    explicit Generated(bool eightBit)
    {
        buildVideoTables();
        vdp.setup(0);
        vdp.powerOn();
        if (eightBit)
            vdp.writeTVMR(1);
    }
    // The corners of a square turned by angle around (cx, cy), each
    // between lo and lo + spread hundredths of size from the centre.
    void corners(s32 cx, s32 cy, s32 size, double angle, u32 lo, u32 spread, u16 (&xy)[8])
    {
        for (int k = 0; k < 4; ++k) {
            const double r = size * (lo / 100.0 + (spread ? next(spread) : 0) / 100.0);
            xy[2 * k] = static_cast<u16>(cx + std::lround(r * std::cos(angle + k * M_PI / 2)));
            xy[2 * k + 1] = static_cast<u16>(cy + std::lround(r * std::sin(angle + k * M_PI / 2)));
        }
    }
    // A polygon of one colour, flat or shaded as pmod says.
    void polygon(u32 at, u16 pmod, const u16 (&xy)[8], u16 grda)
    {
        table(at, {0x0004, 0, static_cast<u16>(pmod | 0x00C0), static_cast<u16>(0x8000 | next(0x8000)), 0, 0, xy[0],
                   xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7], grda});
    }
    // The list's head: the system clip, a user clip, and local coordinates
    // at the centre. Answers where its last table lies.
    u32 head(u16 left, u16 top, u16 right, u16 bottom)
    {
        table(0, {0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223, 0, 0, 0});
        table(32, {0x0008, 0, 0, 0, 0, 0, left, top, 0, 0, right, bottom, 0, 0, 0});
        table(64, {0x000A, 0, 0, 0, 0, 0, 160, 112, 0, 0, 0, 0, 0, 0, 0});
        return 64;
    }
    void tables()
    {
        for (u32 i = 0; i < 4 * 16; ++i)
            word(kLuts + 2 * i, static_cast<u16>(0x8000 | next(0x8000)));
        for (u32 i = 0; i < 64 * 4; ++i)
            word(kShades + 2 * i, static_cast<u16>(next(0x8000)));
    }
};

// What a 3D program built on the usual libraries hands the chip each frame:
// small distorted sprites (16 colours through a bank or a look-up table, or
// 256 colours; transparent pixels, end codes, Gouraud, half-transparency,
// mesh), sprites scaled down, and small flat and Gouraud polygons, nearly
// all under a user clip.
struct MixScene : Generated {
    static constexpr u32 kTextures = 0x40000;  // 4 of 16 x 16 at 4 bits, 4 of 16 x 16 at 8 bits
    static constexpr u32 kWide = 0x44000;      // 2 of 32 x 24 at 4 bits

    explicit MixScene(bool eightBit) : Generated(eightBit)
    {
        for (u32 t = 0; t < 4; ++t) {
            for (u32 i = 0; i < 16 * 16; i += 2) {
                const u8 hi = code(i % 16, 16, t & 1, 15), lo = code(i % 16 + 1, 16, t & 1, 15);
                memory[kTextures + t * 128 + i / 2] = static_cast<u8>(hi << 4 | lo);
            }
            for (u32 i = 0; i < 16 * 16; ++i)
                memory[kTextures + 0x1000 + t * 256 + i] = code(i % 16, 16, t & 1, 255);
        }
        for (u32 t = 0; t < 2; ++t) {
            for (u32 i = 0; i < 32 * 24; i += 2) {
                const u8 hi = code(i % 32, 32, t, 15), lo = code(i % 32 + 1, 32, t, 15);
                memory[kWide + t * 0x200 + i / 2] = static_cast<u8>(hi << 4 | lo);
            }
        }
        tables();

        u32 at = head(8, 8, 311, 215);
        for (u32 i = 0; i < 1200; ++i) {
            const u32 kind = next(100);
            // Nearly all under the user clip; a few reach past the system clip.
            u16 pmod = next(10) < 8 ? 0x0400 : 0;
            const u16 calc = static_cast<u16>(next(10));
            const u16 mode = calc < 5 ? 0 : calc < 8 ? 4 : calc < 9 ? 3 : 2;
            pmod |= eightBit ? 0 : mode;
            if (next(20) == 0)
                pmod |= 0x0100;
            const u16 grda = static_cast<u16>((kShades + 8 * next(64)) / 8);
            const s32 cx = between(-175, 175), cy = between(-125, 125);
            u16 xy[8];
            if (kind < 55 || kind >= 70) {
                // A small quad turned at some angle and bent a little.
                const s32 size = kind < 55 ? between(3, 14) : between(2, 6);
                corners(cx, cy, size, next(628) / 100.0, 80, 40, xy);
            }
            if (kind < 55) {
                const u32 t = next(4);
                const u16 colours = static_cast<u16>(eightBit ? 4 : next(3) == 0 ? 1 : next(4) == 0 ? 4 : 0);
                pmod |= static_cast<u16>(colours << 3 | (next(2) ? 0x80 : 0) | (next(5) == 0 ? 0x40 : 0));
                const u16 colr = colours == 1 ? static_cast<u16>((kLuts + 32 * t) / 8)
                                              : static_cast<u16>(colours == 4 ? 0x4000 : 0x4100 | t << 4);
                const u32 src = colours == 4 ? kTextures + 0x1000 + t * 256 : kTextures + t * 128;
                const u16 dir = static_cast<u16>(next(4) << 4);
                table(at += 32, {static_cast<u16>(0x0002 | dir), 0, pmod, colr, static_cast<u16>(src / 8), 0x0210,
                                 xy[0], xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7], grda});
            } else if (kind < 70) {
                // A 32 x 24 sprite scaled down to about a third.
                const u32 t = next(2);
                pmod |= static_cast<u16>(next(2) ? 0x80 : 0);
                const u16 w = static_cast<u16>(between(6, 24)), h = static_cast<u16>(between(5, 20));
                table(at += 32, {0x0001, 0, pmod, static_cast<u16>(0x4200 | t << 4),
                                 static_cast<u16>((kWide + t * 0x200) / 8), 0x0418, static_cast<u16>(cx),
                                 static_cast<u16>(cy), 0, 0, static_cast<u16>(cx + w), static_cast<u16>(cy + h), 0,
                                 0, grda});
            } else {
                polygon(at += 32, pmod, xy, grda);
            }
        }
        word(at + 32, 0x8000);
    }
};

// The mix above in a 16-bit (0) or an 8-bit (1) frame buffer.
void BM_Vdp1SmallShapeMix(benchmark::State& state)
{
    MixScene(state.range(0) != 0).drawEach(state);
}
BENCHMARK(BM_Vdp1SmallShapeMix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 3D scene seen from further off, in the proportions real programs show:
// distorted sprites whose 32 x 32 textures are drawn at a third to a half
// of their size, end codes mostly left on though the textures hold none, so
// a row reads every texel it passes over; and flat and Gouraud polygons
// about nine pixels across.
struct FarScene : Generated {
    static constexpr u32 kBig = 0x48000;  // 4 of 32 x 32 at 4 bits, 2 of 32 x 32 at 8 bits

    FarScene() : Generated(false)
    {
        for (u32 t = 0; t < 4; ++t) {
            for (u32 i = 0; i < 32 * 32; i += 2) {
                const u8 hi = code(i % 32, 32, false, 15), lo = code(i % 32 + 1, 32, false, 15);
                memory[kBig + t * 0x200 + i / 2] = static_cast<u8>(hi << 4 | lo);
            }
        }
        for (u32 t = 0; t < 2; ++t) {
            for (u32 i = 0; i < 32 * 32; ++i)
                memory[kBig + 0x800 + t * 0x400 + i] = code(i % 32, 32, false, 255);
        }
        tables();
        u32 at = head(0, 0, 319, 223);
        for (u32 i = 0; i < 1500; ++i) {
            const bool sprite = next(100) < 55;
            u16 pmod = next(10) < 9 ? 0x0400 : 0;
            const u16 calc = static_cast<u16>(next(10));
            pmod |= calc < 7 ? 0 : calc < 9 ? 4 : 3;
            const u16 grda = static_cast<u16>((kShades + 8 * next(64)) / 8);
            const s32 cx = between(-170, 170), cy = between(-120, 120);
            const s32 size = sprite ? between(5, 9) : between(4, 7);
            // Some face the viewer square on: their slants are rows.
            const bool square = next(5) < 3;
            u16 xy[8];
            if (square)
                corners(cx, cy, size, M_PI / 4, 100, 0, xy);
            else
                corners(cx, cy, size, next(628) / 100.0, 85, 30, xy);
            if (sprite) {
                const u32 t = next(6);
                const u16 colours = t < 4 ? (next(2) ? 1 : 0) : 4;
                pmod |= static_cast<u16>(colours << 3 | (next(5) == 0 ? 0x80 : 0));
                const u16 colr = colours == 1 ? static_cast<u16>((kLuts + 32 * t) / 8)
                                              : static_cast<u16>(colours == 4 ? 0x4000 : 0x4100 | t << 4);
                const u32 src = t < 4 ? kBig + t * 0x200 : kBig + 0x800 + (t - 4) * 0x400;
                const u16 dir = static_cast<u16>(next(4) << 4);
                table(at += 32, {static_cast<u16>(0x0002 | dir), 0, pmod, colr, static_cast<u16>(src / 8), 0x0420,
                                 xy[0], xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7], grda});
            } else {
                polygon(at += 32, pmod, xy, grda);
            }
        }
        word(at + 32, 0x8000);
    }
};

void BM_Vdp1FarShapes(benchmark::State& state)
{
    FarScene().drawEach(state);
}
BENCHMARK(BM_Vdp1FarShapes)->Unit(benchmark::kMillisecond);

// A turned, waving grid of 16 x 16 quads over the screen, as a 3D program
// draws a landscape: RGB-textured Gouraud distorted sprites and Gouraud
// polygons in a checker, about 20 x 14 pixels each, every slant a slope.
struct GridScene : Generated {
    static constexpr u32 kRgb = 0x48000;  // 16 x 16 RGB texels

    GridScene() : Generated(false)
    {
        for (u32 i = 0; i < 16 * 16; ++i)
            word(kRgb + 2 * i, static_cast<u16>(0x8000 | next(0x8000)));
        tables();
        u32 at = head(0, 0, 319, 223);
        constexpr int kGrid = 17;
        s16 xy[kGrid][kGrid][2];
        const double turn = 0.3;
        for (int r = 0; r < kGrid; ++r) {
            for (int c = 0; c < kGrid; ++c) {
                const double x = (c - 8) * 19.0, y = (r - 8) * 13.0 + 3 * std::sin(c * 0.7);
                xy[r][c][0] = static_cast<s16>(std::lround(x * std::cos(turn) - y * std::sin(turn)));
                xy[r][c][1] = static_cast<s16>(std::lround(x * std::sin(turn) + y * std::cos(turn)));
            }
        }
        for (int r = 0; r < kGrid - 1; ++r) {
            for (int c = 0; c < kGrid - 1; ++c) {
                const u16 grda = static_cast<u16>((kShades + 8 * ((r * 16 + c) & 63)) / 8);
                const u16 q[8] = {static_cast<u16>(xy[r][c][0]),         static_cast<u16>(xy[r][c][1]),
                                  static_cast<u16>(xy[r][c + 1][0]),     static_cast<u16>(xy[r][c + 1][1]),
                                  static_cast<u16>(xy[r + 1][c + 1][0]), static_cast<u16>(xy[r + 1][c + 1][1]),
                                  static_cast<u16>(xy[r + 1][c][0]),     static_cast<u16>(xy[r + 1][c][1])};
                if ((r + c) & 1) {
                    polygon(at += 32, 0x0004, {q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7]}, grda);
                } else {
                    table(at += 32, {0x0002, 0, 0x00AC, 0, kRgb / 8, 0x0210, q[0], q[1], q[2], q[3], q[4], q[5],
                                     q[6], q[7], grda});
                }
            }
        }
        word(at + 32, 0x8000);
    }
};

void BM_Vdp1TurnedGrid(benchmark::State& state)
{
    GridScene().drawEach(state);
}
BENCHMARK(BM_Vdp1TurnedGrid)->Unit(benchmark::kMillisecond);

}  // namespace
