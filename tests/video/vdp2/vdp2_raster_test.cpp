#include <gtest/gtest.h>

#include <algorithm>

#include "support/log_capture.h"
#include "vdp2_test_support.h"

TEST_F(Vdp2Test, VcntByInterlaceAndScreenMode)
{
    auto vcntAt = [&](u16 tvmd, u8 field, int line) {
        ww(kRegs + VDP2::TVMD, tvmd);
        runLines(field, 1);  // brings in DISP and LSMD
        vdp.onHBlankOut(line);
        return vdp.reg(VDP2::VCNT);
    };
    // Display line 5.
    EXPECT_EQ(vcntAt(0x8000, 0, 13), 10);
    EXPECT_EQ(vcntAt(0x80C0, 0, 6), 11);
    EXPECT_EQ(vcntAt(0x80C0, 1, 5), 8) << "display line 4 of the odd field";
    EXPECT_EQ(vcntAt(0x8080, 0, 6), 10) << "single-density interlace has no field bit";
    EXPECT_EQ(vcntAt(0x8040, 0, 13), 0) << "LSMD 1 counts every line as line 0";

    // Lines before the display and past its height leave the counter alone.
    EXPECT_EQ(vcntAt(0x8000, 0, 13), 10);
    vdp.onHBlankOut(2);  // y = -1
    EXPECT_EQ(vdp.reg(VDP2::VCNT), 10);
    vdp.onHBlankOut(3 + 2 * 223);
    EXPECT_EQ(vdp.reg(VDP2::VCNT), 446);
    vdp.onHBlankOut(3 + 2 * 224);
    EXPECT_EQ(vdp.reg(VDP2::VCNT), 446);

    // The 480-line modes count display lines one by one, once the frame
    // start has taken the mode.
    ww(kRegs + VDP2::TVMD, 0x8005);
    runLines(0, 3);  // the third line is display line 0
    EXPECT_EQ(vdp.screenMode(), 5u);
    vdp.onHBlankOut(3 + 2 * 300);
    EXPECT_EQ(vdp.reg(VDP2::VCNT), 300);
    EXPECT_EQ(rw(kRegs + VDP2::VCNT), 300);
}

TEST_F(Vdp2Test, DisplaySizeIsTakenAtTheFrameStart)
{
    struct Case {
        u16 tvmd;
        bool pal;
        u32 width;
        u32 height;
    };
    const Case cases[] = {
        {0x8000, false, 320, 224}, {0x8011, false, 352, 240}, {0x8023, true, 704, 256},
        {0x8023, false, 704, 224}, {0x8032, false, 640, 240}, {0x8032, true, 640, 256},
        {0x80E3, true, 704, 512},  {0x80A1, false, 352, 448}, {0x8050, false, 320, 240},
        {0x8004, false, 640, 480}, {0x80F5, true, 704, 480},
    };
    for (const Case& c : cases) {
        vdp.setVideoStandard(c.pal);
        ww(kRegs + VDP2::TVMD, c.tvmd);
        // Interlaced display line 0 comes only in the odd field.
        runLines(1, 4);
        EXPECT_EQ(vdp.getDisplaySize().width, c.width) << std::hex << c.tvmd;
        EXPECT_EQ(vdp.getDisplaySize().height, c.height) << std::hex << c.tvmd;
    }

    // A mode written during the frame waits for the next frame start.
    vdp.setVideoStandard(false);
    ww(kRegs + VDP2::TVMD, 0x8000);
    runLines(0, 4);
    ww(kRegs + VDP2::TVMD, 0x8013);
    for (int line = 8; line < 480; line += 2)
        vdp.onHBlankOut(line);
    EXPECT_EQ(vdp.getDisplaySize().width, 320u);
    EXPECT_EQ(vdp.getDisplaySize().height, 224u);
    runLines(0, 4);
    EXPECT_EQ(vdp.getDisplaySize().width, 704u);
    EXPECT_EQ(vdp.getDisplaySize().height, 240u);

    // With the display off no frame starts, so the size stays.
    ww(kRegs + VDP2::TVMD, 0x0000);
    runLines(1, 4);
    EXPECT_EQ(vdp.getDisplaySize().width, 704u);
    EXPECT_EQ(vdp.screenMode(), 3u);

    // The standard alone resets the size to the plain 320-dot picture.
    vdp.setVideoStandard(true);
    EXPECT_EQ(vdp.getDisplaySize().width, 320u);
    EXPECT_EQ(vdp.getDisplaySize().height, 256u);
}

TEST_F(Vdp2Test, FrameLogLines)
{
    LogCapture log;
    ww(kRegs + VDP2::TVMD, 0x8006);
    runLines(0, 242);
    runLines(1, 242);
    const std::string special = "VDP2: Special High-Resolution Graphics Mode, need more work!\n";
    EXPECT_EQ(log.text(), special + special) << "once per frame";
    EXPECT_EQ(vdp.getDisplaySize().width, 640u);

    // The extended colour calculation line shows only at level 2, and only
    // for drawn lines.
    log.clear();
    ww(kRegs + VDP2::TVMD, 0x8000);
    ww(kRegs + VDP2::CCCTL, 0x8400);
    ww(kRegs + VDP2::LNCLEN, 0x0021);
    runLines(0, 8);
    EXPECT_EQ(log.text(), "");
    vdp.setThreshold(2);
    runLines(0, 3);
    // After the three frame-start dumps.
    const std::string text = log.text();
    const std::string line = "VDP2: CCCTL: 8400, LNCLEN: 0021, y: 4\n";
    ASSERT_GE(text.size(), line.size());
    EXPECT_EQ(text.substr(text.size() - line.size()), line);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    EXPECT_EQ(text.find("VDP2: TVMD: 8000, BGON: 0000, RPRCTL: 0000"), text.find('\n', text.find("spPri0")) + 1);
    log.clear();
    ww(kRegs + VDP2::TVMD, 0x0000);
    runLines(0, 8);
    EXPECT_EQ(log.text(), "");
    vdp.setThreshold(1);
}
