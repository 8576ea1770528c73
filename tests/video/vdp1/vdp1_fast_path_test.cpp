// The shortcuts (quads clear of every clip, slants clear of every clip,
// plain rows, slants turned away whole, sprite rows with no end code in
// the way) against the cut, the per-pixel tests and the texel walk they
// skip, and the texel walk of shrunk sprites.
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "vdp1_fixture.h"

namespace {

struct Random {
    u32 state;
    u32 below(u32 n)
    {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    }
    s32 between(s32 lo, s32 hi) { return lo + static_cast<s32>(below(static_cast<u32>(hi - lo + 1))); }
};

// A frame mode, a user clip and a list of assorted commands from one seed;
// the pixels they leave, what each command was charged and the log.
struct Outcome {
    std::vector<u8> pixels;
    std::vector<u32> clocks;
    std::string log;
};

Outcome drawScene(u32 seed, bool fast)
{
    LogCapture log;
    std::vector<u8> memory(0x100000);
    VDP1 vdp{nullptr, memory.data()};
    vdp.setup(0);
    vdp.powerOn();
    vdp.setFastPaths(fast);
    Random r{seed};
    const u32 mode = r.below(7);
    vdp.writeTVMR(static_cast<u16>(mode == 1 || mode == 4 ? 1 : mode == 2 ? 3 : 0));
    if (mode == 3)
        vdp.writeFBCR(static_cast<u16>(0x08 | r.below(2) << 2));  // interlaced, either field
    if (mode == 4)
        vdp.writeTVMR(6);  // keeps 1,024 x 256 at 16 bits: the clip reaches past the buffer half
    // Textures full of end codes, transparent and plain texels; or with
    // none, so that sprites take their texels straight; or with end codes
    // only at the end of every 32 bytes, so that shrunk rows take them
    // straight up to there and walk from there on.
    const u32 codes = r.below(3);
    for (u32 i = 0x10000; i < 0x18000; ++i) {
        const u32 k = r.below(12);
        if (codes == 0) {
            memory[i] = static_cast<u8>(k == 0 ? 0 : k == 1 ? 0xFF : k == 2 ? 0xF0 : k == 3 ? 0x0F : r.below(256));
        } else {
            u8 texel = static_cast<u8>(k == 0 ? 0 : r.below(256) & 0xEE);
            if (codes == 2 && i % 32 >= 30)
                texel = static_cast<u8>(k < 4 ? 0xF7 : 0xFF);
            memory[i] = texel;
        }
    }
    for (u32 i = 0; i < VDP1::kFrameBufferSize; ++i)
        vdp.drawBuffer()[i] = static_cast<u8>(r.below(256));
    auto table = [&](const u16 (&w)[15]) {
        for (u32 i = 0; i < 15; ++i)
            storeBe16(memory.data() + 2 * i, w[i]);
        storeBe16(memory.data() + 32, 0x8000);
        vdp.writePTMR(1);
        vdp.setClocksLeft(1 << 24);
        vdp.runCommands();
    };
    // A system clip over the frame, a user clip somewhere inside it, and
    // small shapes around the user clip's edges, a few far out.
    const s32 sw = r.below(2) ? 1024 : r.between(60, 700), sh = r.below(2) ? 512 : r.between(40, 400);
    table({0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<u16>(sw - 1), static_cast<u16>(sh - 1), 0, 0, 0});
    const s32 ux = r.between(0, sw / 2), uy = r.between(0, sh / 2);
    const s32 uw = r.between(20, 300), uh = r.between(20, 200);
    table({0x0008, 0, 0, 0, 0, 0, static_cast<u16>(ux), static_cast<u16>(uy), 0, 0, static_cast<u16>(ux + uw),
           static_cast<u16>(uy + uh), 0, 0, 0});
    table({0x000A, 0, 0, 0, 0, 0, static_cast<u16>(ux), static_cast<u16>(uy), 0, 0, 0, 0, 0, 0, 0});
    Outcome out;
    for (int c = 0; c < 40; ++c) {
        const u32 kind = r.below(10);
        const u16 code = kind < 1 ? 0 : kind < 3 ? 1 : kind < 6 ? 2 : kind < 8 ? 4 : kind < 9 ? 6 : 5;
        u16 pmod = static_cast<u16>(r.below(0x10000) & ~0x8000u);
        if (r.below(8) == 0)
            pmod |= 0x8000;  // MSB on
        if (r.below(3))
            pmod &= ~0x0100;  // mesh now and then
        if (r.below(3))
            pmod |= 0x0400;  // user clip mostly
        const s32 size = r.below(5) == 0 ? r.between(0, 2) : r.between(2, 24);
        const s32 cx = r.between(-20, uw + 40), cy = r.between(-20, uh + 40);
        u16 xy[8];
        for (int k = 0; k < 4; ++k) {
            xy[2 * k] = static_cast<u16>(cx + r.between(-size, size));
            xy[2 * k + 1] = static_cast<u16>(cy + r.between(-size, size));
        }
        if (code == 0 || (code == 1 && r.below(2))) {
            xy[2] = static_cast<u16>(r.between(1, 40));  // a display size for the zoom point
            xy[3] = static_cast<u16>(r.between(1, 40));
        }
        const u16 colr = static_cast<u16>(r.below(2) ? r.below(0x10000) : 0x2000 + r.below(0x800));
        const u16 srca = static_cast<u16>((0x10000 + r.below(0x6000)) / 8);
        // Now and then a wide texture, whose rows are looked at for end
        // codes in many pieces.
        const s32 width = r.below(6) == 0 ? r.between(7, 63) : r.between(1, 6);
        const u16 size16 = static_cast<u16>(width << 8 | r.between(1, 40));
        const u16 ctrl = static_cast<u16>(code | r.below(4) << 4 | r.below(16) << 8);
        table({ctrl, 0, pmod, colr, srca, size16, xy[0], xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7],
               static_cast<u16>((0x10000 + r.below(0x3000)) / 8)});
        out.clocks.push_back(vdp.lastCommandClocks());
    }
    // Turned quads inside both clips, as a 3D program's landscape has
    // them: sprites with no transparent code (RGB or 16 colours), Gouraud
    // or not, and Gouraud polygons, whose slants all step clear.
    for (int c = 0; c < 6; ++c) {
        const s32 x = uw / 2 + r.between(-2, 2), y = uh / 2 + r.between(-2, 2), d = r.between(3, 6);
        const u16 xy[8] = {static_cast<u16>(x - d), static_cast<u16>(y - 2), static_cast<u16>(x + 2),
                           static_cast<u16>(y - d), static_cast<u16>(x + d), static_cast<u16>(y + 1),
                           static_cast<u16>(x - 1), static_cast<u16>(y + d)};
        const u16 gouraud = static_cast<u16>(r.below(2) ? 4 : 0);
        const u16 pmod = static_cast<u16>(c % 3 == 0 ? 0x00E8 | gouraud : c % 3 == 1 ? 0x00C8 | gouraud : 0x00C4);
        table({static_cast<u16>(c % 3 == 2 ? 4 : 2 | r.below(4) << 4), 0, pmod, static_cast<u16>(r.below(0x10000)),
               static_cast<u16>((0x10000 + r.below(0x6000)) / 8), static_cast<u16>(r.between(1, 20) << 8 | r.between(1, 20)),
               xy[0], xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7], static_cast<u16>((0x10000 + r.below(0x3000)) / 8)});
        out.clocks.push_back(vdp.lastCommandClocks());
    }
    if (mode == 4) {
        // A half-transparent quad reaching the last row's right half, which
        // lies past the buffer half: not written there, and charged as such.
        table({0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1023, 255, 0, 0, 0});
        table({0x000A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        table({0x0004, 0, 0x00C3, 0x8421, 0, 0, 500, 235, 540, 245, 530, 255, 490, 250, 0});
        out.clocks.push_back(vdp.lastCommandClocks());
    }
    out.pixels.assign(vdp.drawBuffer(), vdp.drawBuffer() + VDP1::kFrameBufferSize);
    out.log = log.text();
    return out;
}

TEST(Vdp1FastPathTest, ShortcutsDrawAndChargeWhatTheTestedPathsDo)
{
    buildVideoTables();
    for (u32 seed = 1; seed <= 150; ++seed) {
        const Outcome fast = drawScene(seed, true), tested = drawScene(seed, false);
        ASSERT_EQ(fast.clocks, tested.clocks) << "seed " << seed;
        ASSERT_TRUE(fast.pixels == tested.pixels) << "seed " << seed;
        ASSERT_EQ(fast.log, tested.log) << "seed " << seed;
    }
}

class Vdp1ShrinkTest : public Vdp1Fixture {};

// A shrunk row walks every texel it passes over for end codes, from its
// first texel on, in the direction the flip gives; only the texel under
// each pixel is drawn.
TEST_F(Vdp1ShrinkTest, ShrunkRowsCountEndCodesOnTexelsPassedOver)
{
    // 16 texels into 4 pixels: texels 2, 6, 10, 14 (flipped 14, 10, 6, 2).
    constexpr u32 kTexels = 0x4000;
    for (u32 i = 0; i < 16; ++i)
        vram()[kTexels + i] = static_cast<u8>(i == 4 || i == 8 ? 0xFF : 0x40 + i);
    const Table sprite{.ctrl = 1, .pmod = 0x40 | 4 << 3, .srca = kTexels / 8, .size = 0x0201, .xy = {0, 0, 0, 0, 3, 0}};
    draw({sprite});
    EXPECT_EQ(pixel(0, 0), 0x42);
    EXPECT_EQ(pixel(1, 0), 0x46);
    EXPECT_EQ(pixel(2, 0), 0);  // texel 8, the second end code, stops the row
    EXPECT_EQ(vdp.lastCommandClocks(), 3u);
    Table flipped = sprite;
    flipped.ctrl = 1 | 1 << 4;
    flipped.xy[1] = flipped.xy[5] = 2;
    draw({flipped});
    EXPECT_EQ(pixel(0, 2), 0x4E);
    EXPECT_EQ(pixel(1, 2), 0x4A);
    EXPECT_EQ(pixel(2, 2), 0x46);
    EXPECT_EQ(pixel(3, 2), 0);  // texel 4 stops it before texel 2
    EXPECT_EQ(vdp.lastCommandClocks(), 4u);
}

// Pixels whose column comes before a row's first end code, in the walk's
// direction, take their texels straight; from there on the row is walked
// as before. The same with the shortcuts off.
TEST_F(Vdp1ShrinkTest, ShrunkRowsTakeTexelsStraightBeforeTheirFirstEndCode)
{
    // 32 texels into 8 pixels: texels 2, 6, ..., 30 (flipped 30, 26, ..., 2).
    constexpr u32 kTexels = 0x4000;
    struct Case {
        u32 firstEnd, lastEnd;  // the end codes of the row
        bool flip;
        int drawn;  // pixels drawn before the second end code stops the row
        u32 clocks;
    };
    const Case cases[] = {
        {28, 31, false, 7, 8},  // straight up to texel 26; texels 28 and 29 stop the last pixel
        {28, 31, true, 0, 1},   // texels 31 and 30 stop the first pixel
        {0, 1, false, 0, 1},    // texels 0 and 1 stop the first pixel
        {0, 1, true, 8, 8},     // straight all the way down to texel 2
    };
    for (bool fast : {true, false}) {
        vdp.setFastPaths(fast);
        for (const Case& c : cases) {
            for (u32 i = 0; i < 32; ++i)
                vram()[kTexels + i] = static_cast<u8>(i >= c.firstEnd && i <= c.lastEnd ? 0xFF : 0x40 + i);
            for (int x = 0; x < 8; ++x)
                setPixel(x, 0, 0);
            draw({Table{.ctrl = static_cast<u16>(c.flip ? 0x11 : 0x01), .pmod = 0x40 | 4 << 3, .srca = kTexels / 8,
                        .size = 0x0401, .xy = {0, 0, 0, 0, 7, 0}}});
            for (int x = 0; x < 8; ++x) {
                const int texel = c.flip ? 30 - 4 * x : 2 + 4 * x;
                EXPECT_EQ(pixel(x, 0), x < c.drawn ? 0x40 + texel : 0) << fast << " " << c.firstEnd << " " << x;
            }
            EXPECT_EQ(vdp.lastCommandClocks(), c.clocks) << fast << " " << c.firstEnd << " " << c.flip;
        }
    }
}

class Vdp1ClipEdgeTest : public Vdp1Fixture {};

// A slant whose ends both lie past one edge of the system clip draws
// nothing and costs its clock; one across the edge is cut there.
TEST_F(Vdp1ClipEdgeTest, SlantsPastOneEdgeCostAClockEach)
{
    for (bool fast : {true, false}) {
        vdp.setFastPaths(fast);
        const Table sclip{.ctrl = 9, .xy = {0, 0, 0, 0, 319, 223}};
        draw({sclip, Table{.ctrl = 4, .colr = 0x8001, .xy = {-20, 10, -5, 10, -5, 20, -20, 20}}});
        EXPECT_EQ(vdp.lastCommandClocks(), 11u);  // 11 rows left of the clip
        draw({sclip, Table{.ctrl = 4, .colr = 0x8002, .xy = {10, 230, 20, 240, 10, 250, 0, 240}}});
        EXPECT_EQ(vdp.lastCommandClocks(), 11u);  // 11 diagonal slants below it
        draw({sclip, Table{.ctrl = 6, .colr = 0x8003, .xy = {-10, 5, -1, 100}}});
        EXPECT_EQ(vdp.lastCommandClocks(), 1u);
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 24; ++x)
                ASSERT_EQ(pixel(x, y), 0) << fast << " " << x << "," << y;
        }
        // Across the left edge: rows cut to x = 0 to 5, six clocks each.
        draw({sclip, Table{.ctrl = 4, .colr = 0x8004, .xy = {-5, 10, 5, 10, 5, 20, -5, 20}}});
        EXPECT_EQ(vdp.lastCommandClocks(), 66u);
        EXPECT_EQ(pixel(0, 10), 0x8004);
        EXPECT_EQ(pixel(5, 20), 0x8004);
        EXPECT_EQ(pixel(6, 15), 0);
        for (int y = 10; y <= 20; ++y) {
            for (int x = 0; x <= 5; ++x)
                setPixel(x, y, 0);
        }
    }
}

}  // namespace
