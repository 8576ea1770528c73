// Drawing checked against pictures that vdp1_pictures.py computes with PIL
// and numpy.
#include <cstring>

#include "vdp1_fixture.h"
#include "video/vdp1/vdp1_raster.h"

namespace {

constexpr u32 kTexture = 0x10000;
constexpr u32 kLut = 0x20000;
constexpr u32 kGouraud = 0x30000;
constexpr int kW = 32, kH = 16;

class Vdp1RasterTest : public Vdp1Fixture {
protected:
    // Every pixel of the w x h block at (x0, y0) against expected.
    void expectBlock(int x0, int y0, int w, int h, const std::vector<u16>& expected, const char* what)
    {
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                wrong += pixel(x0 + x, y0 + y) != expected[y * w + x];
        }
        EXPECT_EQ(wrong, 0) << what;
    }
    std::vector<u8> drawnMask() const
    {
        std::vector<u8> mask(512 * 256);
        for (int i = 0; i < 512 * 256; ++i)
            mask[i] = pixel(i % 512, i / 512) != 0;
        return mask;
    }
};

TEST_F(Vdp1RasterTest, SpritesReproduceThePngTextureInEveryDepth)
{
    const std::vector<u16> lut = words("lut.bin");
    const std::vector<u8> tex4 = picture("tex4.bin"), tex8 = picture("tex8.bin"), tex16 = picture("tex16.bin");
    std::memcpy(vram() + kLut, picture("lut.bin").data(), 32);
    struct Depth {
        u16 mode, colr;
        const std::vector<u8>* texels;
        bool bank;
    } depths[] = {{1, kLut / 8, &tex4, false}, {4, 0x0100, &tex8, true}, {5, 0, &tex16, false}};
    const char* flips[] = {"sprite_plain.bin", "sprite_hflip.bin", "sprite_vflip.bin", "sprite_hvflip.bin"};
    for (const Depth& d : depths) {
        std::memcpy(vram() + kTexture, d.texels->data(), d.texels->size());
        for (u16 dir = 0; dir < 4; ++dir) {
            const std::vector<u16> index = words(flips[dir]);
            std::vector<u16> expected(index.size());
            for (std::size_t i = 0; i < index.size(); ++i)
                expected[i] = d.bank ? static_cast<u16>(0x0100 | index[i]) : lut[index[i]];
            // Whole, and cut by the left edge at an odd column.
            Table t{.ctrl = static_cast<u16>(dir << 4), .pmod = static_cast<u16>(0xC0 | d.mode << 3), .colr = d.colr,
                    .srca = kTexture / 8, .size = (kW / 8) << 8 | kH, .xy = {10, 20}};
            draw({t, Table{t.ctrl, 0, t.pmod, t.colr, t.srca, t.size, {-3, 60}}});
            expectBlock(10, 20, kW, kH, expected, flips[dir]);
            int wrong = 0;
            for (int y = 0; y < kH; ++y) {
                for (int x = 3; x < kW; ++x)
                    wrong += pixel(x - 3, 60 + y) != expected[y * kW + x];
            }
            EXPECT_EQ(wrong, 0) << flips[dir] << " cut";
        }
    }
}

TEST_F(Vdp1RasterTest, ScaledSpriteEnlargesByNearestNeighbour)
{
    const std::vector<u16> lut = words("lut.bin");
    std::memcpy(vram() + kTexture, picture("tex16.bin").data(), kW * kH * 2);
    draw({Table{.ctrl = 1, .pmod = 0xC0 | 5 << 3, .srca = kTexture / 8, .size = (kW / 8) << 8 | kH,
                .xy = {4, 8, 0, 0, 4 + 3 * kW - 1, 8 + 2 * kH - 1}}});
    const std::vector<u16> index = words("sprite_enlarge.bin");
    std::vector<u16> expected(index.size());
    for (std::size_t i = 0; i < index.size(); ++i)
        expected[i] = lut[index[i]];
    expectBlock(4, 8, 3 * kW, 2 * kH, expected, "enlarged");
}

TEST_F(Vdp1RasterTest, AxisAndDiagonalLinesHaveExactPixelSets)
{
    const std::vector<u16> ends = words("lines.bin");
    std::vector<Table> tables;
    for (std::size_t i = 0; i + 3 < ends.size(); i += 4) {
        Table t{.ctrl = 6, .colr = 0x8001};
        for (int k = 0; k < 4; ++k)
            t.xy[k] = static_cast<s16>(ends[i + k]);
        put(static_cast<u32>(i * 8), t);
    }
    put(static_cast<u32>(ends.size() * 8), Table{.ctrl = 0x8000});
    run(1 << 24);
    EXPECT_EQ(drawnMask(), picture("lines_mask.bin"));
}

TEST_F(Vdp1RasterTest, RotatedSquareIsFilledWithoutHoles)
{
    const std::vector<u16> corners = words("square.bin");
    Table t{.ctrl = 4, .colr = 0x801F};
    for (int k = 0; k < 8; ++k)
        t.xy[k] = static_cast<s16>(corners[k]);
    draw({t});
    const std::vector<u8> drawn = drawnMask(), inner = picture("square_inner.bin"), outer = picture("square_outer.bin");
    int holes = 0, spill = 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        holes += inner[i] && !drawn[i];
        spill += drawn[i] && !outer[i];
    }
    EXPECT_EQ(holes, 0);
    EXPECT_EQ(spill, 0);
}

TEST_F(Vdp1RasterTest, ColourCalculationFollowsTheHardwareFormulas)
{
    const std::vector<u16> cases = words("calc_cases.bin"), expected = words("calc_expected.bin");
    const std::size_t n = cases.size() / 3;
    const u16 modes[] = {0, 1, 2, 3, 4, 6, 7, 0x8000};  // the last is MSB on
    for (std::size_t i = 0; i < n; ++i) {
        word(kGouraud + 8 * static_cast<u32>(i), cases[3 * i + 2]);
        word(kGouraud + 8 * static_cast<u32>(i) + 2, cases[3 * i + 2]);
    }
    for (int m = 0; m < 8; ++m) {
        u32 at = 0;
        for (std::size_t i = 0; i < n; ++i, at += 32) {
            const s16 x = static_cast<s16>(i % 512), y = static_cast<s16>(m);
            put(at, Table{.ctrl = 6, .pmod = static_cast<u16>(0xC0 | modes[m]), .colr = cases[3 * i + 1],
                          .xy = {x, y, x, y}, .grda = static_cast<u16>(kGouraud / 8 + i)});
        }
        put(at, Table{.ctrl = 0x8000});
        vdp.writePTMR(1);
        for (std::size_t i = 0; i < n; ++i)
            setPixel(static_cast<int>(i % 512), m, cases[3 * i]);
        vdp.setClocksLeft(1 << 24);
        vdp.runCommands();
        int wrong = 0;
        for (std::size_t i = 0; i < n; ++i)
            wrong += pixel(static_cast<int>(i % 512), m) != expected[m * n + i];
        EXPECT_EQ(wrong, 0) << "mode row " << m;
    }
}

TEST_F(Vdp1RasterTest, GouraudShadingTakesTheCornerWordsAtTheCorners)
{
    const std::vector<u16> g = words("gouraud.bin");
    for (u32 k = 0; k < 4; ++k)
        word(kGouraud + 2 * k, g[1 + k]);
    draw({Table{.ctrl = 4, .pmod = 0xC4, .colr = g[0], .xy = {10, 10, 41, 10, 41, 41, 10, 41}, .grda = kGouraud / 8}});
    EXPECT_EQ(pixel(10, 10), g[5]);
    EXPECT_EQ(pixel(41, 10), g[6]);
    EXPECT_EQ(pixel(41, 41), g[7]);
    EXPECT_EQ(pixel(10, 41), g[8]);
    // A two-pixel line from Gouraud 0 to 31 steps past 31 after its end.
    word(kGouraud + 8, 0x0000);
    word(kGouraud + 10, 0x7FFF);
    draw({Table{.ctrl = 6, .pmod = 0xC4, .colr = 0xFFFF, .xy = {0, 50, 1, 50}, .grda = kGouraud / 8 + 1}});
    EXPECT_EQ(pixel(0, 50), 0xBDEF);
    EXPECT_EQ(pixel(1, 50), 0xFFFF);
}

// Gouraud slants divide their steps by a reciprocal: every quotient as the
// divider gives it, at the lengths and differences a slant can have, and at
// the divisors and multiples where a short reciprocal would be one out.
TEST(Vdp1SlantSteps, ReciprocalDivisionTruncatesAsTheDividerDoes)
{
    std::vector<s32> lengths = {1, 2, 3, 5, 7, 641, 1023, 1024, 1025, 2047, 4095, 65535, 65537, 0x7FFFFFFF};
    u32 seed = 7;
    for (int i = 0; i < 200; ++i) {
        seed = seed * 1103515245u + 12345u;
        lengths.push_back(static_cast<s32>(1 + (seed >> 8) % (i < 100 ? 2048 : 0x7FFFFFFF)));
    }
    int wrong = 0;
    for (const s32 n : lengths) {
        const u64 reciprocal = ~u64{0} / static_cast<u32>(n);
        const s64 big = s64{1} << 32;
        for (const s64 d : {s64{0}, s64{1}, s64{n} - 1, s64{n}, s64{n} + 1, s64{n} * 31 - 1, s64{n} * 31,
                            (big - 1) / n * n, (big - 1) / n * n - 1, big - 1, s64{0x7C000000}}) {
            wrong += vdp1::divide(d, static_cast<u32>(n), reciprocal) != vdp1::divide(d, n);
            wrong += vdp1::divide(-d, static_cast<u32>(n), reciprocal) != vdp1::divide(-d, n);
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
