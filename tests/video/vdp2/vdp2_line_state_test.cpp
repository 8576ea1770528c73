// What carries from line to line: layers switched on mid-frame, the rotation
// start of an odd double-density line, settings decided on the line they
// apply to, and the lines logged about them. Expected pictures are worked
// out here from the memories, not by the layers' code.
#include <gtest/gtest.h>

#include <functional>

#include "cd/cdb/cdb.h"
#include "support/log_capture.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_scene.h"

namespace {

// Console colours as the host shows them: 5-bit channels in the top of
// their bytes; 32-bit colours hold blue, green, red from the top.
u32 host16(u32 c)
{
    return (c & 31) << 19 | ((c >> 5) & 31) << 11 | ((c >> 10) & 31) << 3;
}

u32 host32(u32 c)
{
    return (c & 0xFF) << 16 | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

u16 bitmapDot(u32 row, u32 col)
{
    return static_cast<u16>(0x8000 | ((row * 7) & 31) << 10 | ((col * 3) & 31) << 5 | (row + col) % 31);
}

constexpr u16 kBack = 0x7C1F;

// A 512 x 256 bitmap of 16-bit colours at VRAM 0 and a magenta back screen.
void bitmapAndBack(Vdp2Scene& s)
{
    for (u32 i = 0; i < 512 * 256; ++i)
        storeBe16(s.vram() + 2 * i, bitmapDot(i >> 9, i & 511));
    storeBe16(s.vram() + 0x7FFFE, kBack);
    s.reg(VDP2::BKTAU, 3);
    s.reg(VDP2::BKTAL, 0xFFFF);
}

// Dots of the 320 x 224 picture that differ from want(x, y).
u32 wrongDots(const Vdp2Scene& s, const std::function<u32(u32, u32)>& want)
{
    u32 wrong = 0;
    for (u32 y = 0; y < 224; ++y)
        for (u32 x = 0; x < 320; ++x)
            wrong += s.pixel(x, y) != want(x, y);
    return wrong;
}

TEST(Vdp2LineState, LayersSwitchedOnMidFrameShowTheRowsOfTheirLines)
{
    Vdp2Scene s;
    bitmapAndBack(s);
    // NBG0 scrolled down 5 rows, on from line 100 to 179.
    s.reg(VDP2::TVMD, 0x8000);
    s.reg(VDP2::CHCTLA, 0x0032);  // bitmap, 32,768 colours
    s.reg(VDP2::ZMXIN0, 1);
    s.reg(VDP2::ZMYIN0, 1);
    s.reg(VDP2::SCYIN0, 5);
    s.reg(VDP2::PRINA, 3);
    auto onFrom = [&](u32 offset) {
        s.reg(offset, 0);
        s.runField(263, [&](int y) { s.reg(offset, y >= 100 && y < 180); });
    };
    for (int field = 0; field < 2; ++field) {
        onFrom(VDP2::BGON);
        EXPECT_EQ(wrongDots(s, [](u32 x, u32 y) {
                      return y >= 100 && y < 180 ? host16(bitmapDot((y + 5) & 255, x)) : host16(kBack);
                  }),
                  0u);
    }

    // The external layer: big-endian 32-bit dots, every fifth with its MSB
    // clear and not shown; its rows count from the top of the frame.
    CDB::FrameBuffer frame{};
    ASSERT_TRUE(s.sys->cdb().readExternalInput(&frame, 1));
    u8* dots = reinterpret_cast<u8*>(const_cast<u32*>(frame.pixels));
    auto dot = [](u32 row, u32 col) {
        const u32 msb = (row + col) % 5 ? 0x80000000u : 0;
        return msb | (row & 0xFF) << 16 | ((col * 5) & 0xFF) << 8 | ((row ^ col) & 0xFF);
    };
    for (u32 i = 0; i < frame.width * frame.height; ++i)
        storeBe32(dots + 4 * i, dot(i / frame.width, i % frame.width));
    s.reg(VDP2::CHCTLA, 0x3000);  // 32-bit direct colour
    s.reg(VDP2::PRINA, 0x0400);
    for (int field = 0; field < 2; ++field) {
        onFrom(VDP2::EXTEN);
        EXPECT_EQ(wrongDots(s, [&](u32 x, u32 y) {
                      return y >= 100 && y < 180 && (dot(y, x) >> 31) ? host32(dot(y, x)) : host16(kBack);
                  }),
                  0u);
    }
}

// The identity view at 'at', starting X and Y at 0 and moving them by
// dxst and 1.0 a line.
void identitySet(u8* vram, u32 at, u32 dxst)
{
    for (u32 i = 0; i < 0x80; i += 4)
        storeBe32(vram + at + i, 0);
    storeBe32(vram + at + 0x0C, dxst << 16);
    for (u32 offset : {0x10, 0x14, 0x1C, 0x2C})  // DYst, DX, A, E: 1.0
        storeBe32(vram + at + offset, 0x10000);
    storeBe32(vram + at + 0x4C, 0x10000);  // kx, ky: 1.0
    storeBe32(vram + at + 0x50, 0x10000);
}

void rotationOn(Vdp2Scene& s, u16 tvmd)
{
    s.reg(VDP2::RPTAU, 3);
    s.reg(VDP2::RPTAL, 0xFF80);  // VRAM 0x7FF00
    s.reg(VDP2::TVMD, tvmd);
    s.reg(VDP2::BGON, 0x0010);
    s.reg(VDP2::PRIR, 3);
}

TEST(Vdp2LineState, OddDoubleDensityLinesStartTheRotationOneStepIn)
{
    Vdp2Scene s;
    bitmapAndBack(s);
    identitySet(s.vram(), 0x7FF00, 2);
    rotationOn(s, 0x80C0);        // double-density interlace
    s.reg(VDP2::CHCTLB, 0x3200);  // RBG0 bitmap, 32,768 colours
    // The odd field (display lines 0, 2, 4...) starts the frame, the even
    // field draws lines 1, 3, 5...
    s.runField(263);
    VDP2& vdp = s.sys->vdp2();
    vdp.onVBlankOut(0);
    for (int line = 0; line < 526; line += 2) {
        vdp.onHBlankIn(line);
        vdp.onHBlankOut(line);
    }
    // Display line y is the frame's y-th: X starts y steps of DXst in.
    for (u32 y = 1; y < 40; y += 2)
        for (u32 x = 0; x < 320; x += 11)
            ASSERT_EQ(s.pixel(x, y), host16(bitmapDot(y, (x + 2 * y) & 511))) << x << ", " << y;
}

TEST(Vdp2LineState, Rbg1DrawsThirtyTwoBitColour)
{
    Vdp2Scene s;
    // Names, characters and parameters all hold one colour, so every dot
    // RBG1 draws has it whatever the transform.
    for (u32 i = 0; i < VDP2::kVramSize; i += 4)
        storeBe32(s.vram() + i, 0x80123456);
    s.reg(VDP2::TVMD, 0x8000);
    s.reg(VDP2::BGON, 0x0030);
    s.reg(VDP2::CHCTLA, 0x0040);  // RBG1 (NBG0's settings): 32-bit colour
    s.reg(VDP2::PRINA, 7);
    s.reg(VDP2::PRIR, 1);
    s.runField();
    EXPECT_EQ(wrongDots(s, [](u32, u32) { return 0x563412u; }), 0u);
}

TEST(Vdp2LineState, SettingsDecidedAndLoggedOnTheLineTheyApplyTo)
{
    Vdp2Scene s;
    LogCapture log;
    // The log folds a run of lines into four and a count of the rest.
    auto loggedTimes = [&](const std::string& line, u32 times) {
        logSink().flush();
        const bool shown = log.contains(line);
        const bool counted = log.contains("(the line above repeated " + std::to_string(times - 4) + " more times)");
        log.clear();
        return shown && counted;
    };
    identitySet(s.vram(), 0x7FF00, 0);
    rotationOn(s, 0x8000);
    // Switching by coefficient without set A's table falls back to set A on
    // lines 0-49; from line 50 the table is on.
    s.reg(VDP2::RPMD, 2);
    s.runField(263, [&](int y) { s.reg(VDP2::KTCTL, y >= 50); });
    EXPECT_TRUE(loggedTimes("rpMode is 2, but ktEnable of Rotation Parameter A is 0", 50));

    // At the frame start and on every line: an invalid gradation target,
    // gradation on or not, and RBG1 without RBG0.
    s.reg(VDP2::CCCTL, 0x3000);
    s.runField();
    EXPECT_TRUE(loggedTimes("Invalid setting [BOKN: 3]", 225));
    s.reg(VDP2::CCCTL, 0);
    s.reg(VDP2::BGON, 0x0020);
    s.runField();
    EXPECT_TRUE(loggedTimes("RBG1 is enabled but RBG0 is disabled", 225));

    // Gradation names its target on line 20 at level 3; level 2 adds the
    // three frame-start dumps and the line-170 trace.
    s.reg(VDP2::BGON, 0x0010);
    s.reg(VDP2::CCCTL, 0x9000);
    s.sys->vdp2().setThreshold(3);
    s.runField();
    s.sys->vdp2().setThreshold(1);
    const std::string text = log.text();
    EXPECT_NE(text.find("VDP2: Gradation is enabled [ID: RBG0]\n"), std::string::npos);
    EXPECT_NE(text.find("VDP2: KTCTL: 0001, Xst: 00000000, Yst: 00000000"), std::string::npos);
    EXPECT_NE(text.find("SpType: 0, spclMode: 0, spPri0: 0\n"), std::string::npos);
    EXPECT_NE(text.find("VDP2: TVMD: 8000, BGON: 0010, RPRCTL: 0000, KTCTL: 0001"), std::string::npos);
    EXPECT_NE(text.find("WPEY0: 0000, SpType: 0, spclMode: 0\n"), std::string::npos);
}

}  // namespace
