// What carries from line to line: scroll and external layers switched on
// mid-frame, the rotation start of an odd double-density line, settings
// decided on the line they apply to, and the lines logged about them. The
// expected pictures are worked out here from the memories, not by the
// layers' code.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cd/cdb/cdb.h"
#include "support/log_capture.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_scene.h"

namespace {

// A console 16-bit colour as the host shows it: each 5-bit channel in the
// top of its byte.
u32 hostColor16(u32 c)
{
    const u32 r = c & 31, g = (c >> 5) & 31, b = (c >> 10) & 31;
    return (r << 3) << 16 | (g << 3) << 8 | b << 3;
}

// A console 32-bit colour (blue, green, red from the top) as the host shows it.
u32 hostColor32(u32 c)
{
    return (c & 0xFF) << 16 | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

u16 bitmapDot(u32 row, u32 col)
{
    return static_cast<u16>(0x8000 | ((row * 7) & 31) << 10 | ((col * 3) & 31) << 5 | (row + col) % 31);
}

constexpr u16 kBackColor = 0x7C1F;  // magenta
constexpr u32 kBackTable = 0x7FFFE;

void setBack(Vdp2Scene& s)
{
    storeBe16(s.vram() + kBackTable, kBackColor);
    s.reg(VDP2::BKTAU, static_cast<u16>(kBackTable >> 17));
    s.reg(VDP2::BKTAL, static_cast<u16>((kBackTable >> 1) & 0xFFFF));
}

TEST(Vdp2LineState, ScrollLayerSwitchedOnMidFrameShowsTheRowsOfItsLines)
{
    Vdp2Scene s;
    // NBG0: a 512 x 256 bitmap of 16-bit colours, scrolled down by 5 rows.
    for (u32 row = 0; row < 256; ++row)
        for (u32 col = 0; col < 512; ++col)
            storeBe16(s.vram() + (row * 512 + col) * 2, bitmapDot(row, col));
    setBack(s);
    s.reg(VDP2::TVMD, 0x8000);
    s.reg(VDP2::CHCTLA, 0x0032);  // bitmap, 32,768 colours
    s.reg(VDP2::ZMXIN0, 1);
    s.reg(VDP2::ZMYIN0, 1);
    s.reg(VDP2::SCYIN0, 5);
    s.reg(VDP2::PRINA, 3);
    // On at line 100, off again from line 180.
    for (int field = 0; field < 2; ++field) {
        s.reg(VDP2::BGON, 0);
        s.runField(263, [&](int y) {
            if (y == 100)
                s.reg(VDP2::BGON, 1);
            if (y == 180)
                s.reg(VDP2::BGON, 0);
        });
        u32 wrong = 0, firstY = 0;
        for (u32 y = 0; y < 224; ++y) {
            for (u32 x = 0; x < 320; x += 7) {
                const bool shown = y >= 100 && y < 180;
                const u32 want = shown ? hostColor16(bitmapDot((y + 5) & 255, x)) : hostColor16(kBackColor);
                if (s.pixel(x, y) != want && wrong++ == 0)
                    firstY = y;
            }
        }
        EXPECT_EQ(wrong, 0u) << "field " << field << ", first wrong line " << firstY;
    }
}

TEST(Vdp2LineState, ExternalLayerCountsRowsFromTheTopAndReadsBigEndianDots)
{
    Vdp2Scene s;
    CDB::FrameBuffer frame{};
    ASSERT_TRUE(s.sys->cdb().readExternalInput(&frame, 1));
    ASSERT_EQ(frame.width, 512u);
    u8* dots = reinterpret_cast<u8*>(const_cast<u32*>(frame.pixels));
    // Big-endian 32-bit dots; every fifth one has its MSB clear and is not shown.
    auto dot = [](u32 row, u32 col) {
        const u32 opaque = (row + col) % 5 ? 0x80000000u : 0;
        return opaque | (row & 0xFF) << 16 | ((col * 5) & 0xFF) << 8 | ((row ^ col) & 0xFF);
    };
    for (u32 row = 0; row < frame.height; ++row)
        for (u32 col = 0; col < frame.width; ++col)
            storeBe32(dots + (row * 512 + col) * 4, dot(row, col));
    setBack(s);
    s.reg(VDP2::TVMD, 0x8000);
    s.reg(VDP2::CHCTLA, 0x3000);  // 32-bit direct colour
    s.reg(VDP2::PRINA, 0x0400);
    for (int field = 0; field < 2; ++field) {
        s.reg(VDP2::EXTEN, 0);
        s.runField(263, [&](int y) {
            if (y == 100)
                s.reg(VDP2::EXTEN, 1);
        });
        u32 wrong = 0, firstX = 0, firstY = 0;
        for (u32 y = 0; y < 224; ++y) {
            for (u32 x = 0; x < 320; ++x) {
                const u32 d = dot(y, x);
                const bool shown = y >= 100 && (d >> 31);
                const u32 want = shown ? hostColor32(d) : hostColor16(kBackColor);
                if (s.pixel(x, y) != want && wrong++ == 0)
                    firstX = x, firstY = y;
            }
        }
        EXPECT_EQ(wrong, 0u) << "field " << field << ", first at (" << firstX << ", " << firstY << ")";
    }
}

// A rotation parameter set at 'at': the identity view with the given start
// and start increments, scale 1.
void identitySet(u8* vram, u32 at, double xst, double dxst, double dyst)
{
    auto fixed = [](double value) { return static_cast<u32>(static_cast<s32>(value * 1024)) << 6; };
    for (u32 i = 0; i < 0x80; i += 4)
        storeBe32(vram + at + i, 0);
    storeBe32(vram + at + 0x00, fixed(xst) & 0x1FFFFFC0);
    storeBe32(vram + at + 0x0C, fixed(dxst) & 0x7FFC0);
    storeBe32(vram + at + 0x10, fixed(dyst) & 0x7FFC0);
    storeBe32(vram + at + 0x14, fixed(1.0) & 0x7FFC0);  // DX
    storeBe32(vram + at + 0x1C, fixed(1.0) & 0xFFFC0);  // A
    storeBe32(vram + at + 0x2C, fixed(1.0) & 0xFFFC0);  // E
    storeBe32(vram + at + 0x4C, 0x10000);               // kx
    storeBe32(vram + at + 0x50, 0x10000);               // ky
}

TEST(Vdp2LineState, OddDoubleDensityLinesStartTheRotationOneStepIn)
{
    Vdp2Scene s;
    for (u32 row = 0; row < 256; ++row)
        for (u32 col = 0; col < 512; ++col)
            storeBe16(s.vram() + (row * 512 + col) * 2, bitmapDot(row, col));
    constexpr u32 kTable = 0x7FF00;
    identitySet(s.vram(), kTable, 0, 2.0, 1.0);
    s.reg(VDP2::RPTAU, kTable >> 17);
    s.reg(VDP2::RPTAL, (kTable >> 1) & 0xFFBE);
    s.reg(VDP2::TVMD, 0x80C0);  // double-density interlace
    s.reg(VDP2::BGON, 0x0010);
    s.reg(VDP2::CHCTLB, 0x3200);  // RBG0 bitmap, 32,768 colours
    s.reg(VDP2::PRIR, 3);
    // The odd field (display lines 0, 2, 4...) starts the frame; the even
    // field draws lines 1, 3, 5...
    s.runField(263);
    VDP2& vdp = s.sys->vdp2();
    vdp.onVBlankOut(0);
    for (int line = 0; line < 526; line += 2) {
        vdp.onHBlankIn(line);
        vdp.onHBlankOut(line);
    }
    vdp.onVBlankIn();
    // Display line y is the frame's y-th: X starts y steps of DXst in.
    for (u32 y = 1; y < 40; y += 2) {
        for (u32 x = 0; x < 320; x += 11) {
            const u32 col = (x + 2 * y) & 511;
            ASSERT_EQ(s.pixel(x, y), hostColor16(bitmapDot(y, col))) << "line " << y << ", x " << x;
        }
    }
}

TEST(Vdp2LineState, Rbg1DrawsThirtyTwoBitColour)
{
    Vdp2Scene s;
    // Every name, character and parameter word holds the same colour, so
    // every dot RBG1 draws has it whatever the transform.
    for (u32 i = 0; i < VDP2::kVramSize; i += 4)
        storeBe32(s.vram() + i, 0x80123456);
    s.reg(VDP2::TVMD, 0x8000);
    s.reg(VDP2::BGON, 0x0030);
    s.reg(VDP2::CHCTLA, 0x0040);  // RBG1 (NBG0's settings): 32-bit colour
    s.reg(VDP2::PRINA, 7);
    s.reg(VDP2::PRIR, 1);
    s.runField();
    for (u32 y = 0; y < 224; y += 13)
        for (u32 x = 0; x < 320; x += 17)
            ASSERT_EQ(s.pixel(x, y), 0x563412u) << x << ", " << y;
}

TEST(Vdp2LineState, SettingsDecidedAndLoggedOnTheLineTheyApplyTo)
{
    Vdp2Scene s;
    LogCapture log;
    constexpr u32 kTable = 0x7FF00;
    identitySet(s.vram(), kTable, 0, 0, 1.0);
    s.reg(VDP2::RPTAU, kTable >> 17);
    s.reg(VDP2::RPTAL, (kTable >> 1) & 0xFFBE);
    s.reg(VDP2::TVMD, 0x8000);
    s.reg(VDP2::BGON, 0x0010);
    s.reg(VDP2::PRIR, 3);
    s.reg(VDP2::RPMD, 2);
    // Switching by coefficient without set A's table falls back to set A on
    // lines 0-49; from line 50 the table is on.
    s.runField(263, [&](int y) {
        if (y == -2)
            s.reg(VDP2::KTCTL, 0);
        if (y == 50)
            s.reg(VDP2::KTCTL, 1);
    });
    // Lines holding 'what', with the runs the log folds into one count line.
    auto count = [&](const std::string& what) {
        logSink().flush();
        std::istringstream in(log.text());
        std::string line;
        u32 n = 0;
        bool last = false;
        while (std::getline(in, line)) {
            const std::string repeated = "(the line above repeated ";
            const std::size_t at = line.find(repeated);
            if (at != std::string::npos) {
                if (last)
                    n += static_cast<u32>(std::stoul(line.substr(at + repeated.size())));
                continue;
            }
            last = line.find(what) != std::string::npos;
            n += last;
        }
        return n;
    };
    EXPECT_EQ(count("rpMode is 2, but ktEnable of Rotation Parameter A is 0"), 50u);

    // An invalid gradation target is reported at the frame start and on
    // every line, gradation on or not.
    log.clear();
    s.reg(VDP2::KTCTL, 1);
    s.reg(VDP2::CCCTL, 0x3000);
    s.runField();
    EXPECT_EQ(count("Invalid setting [BOKN: 3]"), 225u);
    log.clear();
    s.reg(VDP2::CCCTL, 0xF000);
    s.runField();
    EXPECT_EQ(count("Invalid setting [BOKN: 7]"), 225u);

    // RBG1 without RBG0: at the frame start and on every line.
    log.clear();
    s.reg(VDP2::CCCTL, 0);
    s.reg(VDP2::BGON, 0x0020);
    s.runField();
    EXPECT_EQ(count("RBG1 is enabled but RBG0 is disabled"), 225u);

    // Gradation names its target on line 20, at level 3; the level-2 lines
    // are the frame-start dumps and the line-170 trace.
    log.clear();
    s.reg(VDP2::BGON, 0x0010);
    s.reg(VDP2::CCCTL, 0x9000);
    s.sys->vdp2().setThreshold(3);
    s.runField();
    s.sys->vdp2().setThreshold(1);
    EXPECT_EQ(count("VDP2: Gradation is enabled [ID: RBG0]"), 1u);
    EXPECT_EQ(count("VDP2: KTCTL: 0001, Xst: 00000000"), 1u);
    EXPECT_EQ(count("spPri0: 0"), 1u);
    EXPECT_EQ(count("VDP2: TVMD: 8000, BGON: 0010, RPRCTL: 0000, KTCTL: 0001"), 1u);
    EXPECT_EQ(count("crMode: 0, BGON: 0010"), 2u) << "the frame start and line 170";
}

}  // namespace
