#include <gtest/gtest.h>

#include <cstring>

#include "core/base/shared_state.h"
#include "support/log_capture.h"
#include "vdp2_test_support.h"

namespace {

// What each word of 0x000-0x11E holds after 0xFFFF is written to it, eight
// words a row, from the VDP2 manual's register list.
constexpr u16 kAllOnes[VDP2::kRegisterWords] = {
    0x81F7, 0x0303, 0x0000, 0x800F, 0x0000, 0x0000, 0x0000, 0xB3FF,  // 000 TVMD..RAMCTL
    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,  // 010 cycle patterns
    0x1F3F, 0xFF1F, 0x001F, 0xFFFF, 0x3F7F, 0x7733, 0x3737, 0x0037,  // 020 BGON..BMPNB
    0xC3FF, 0xC3FF, 0xC3FF, 0xC3FF, 0xC3FF, 0xFFFF, 0x7777, 0x0077,  // 030 PNCN0..MPOFR
    0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F,  // 040 map registers
    0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F,  // 050
    0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F, 0x3F3F,  // 060
    0x07FF, 0xFF00, 0x07FF, 0xFF00, 0x0007, 0xFF00, 0x0007, 0xFF00,  // 070 NBG0 scroll, zoom
    0x07FF, 0xFF00, 0x07FF, 0xFF00, 0x0007, 0xFF00, 0x0007, 0xFF00,  // 080 NBG1 scroll, zoom
    0x07FF, 0x07FF, 0x07FF, 0x07FF, 0x0303, 0xFFFF, 0x0007, 0xFFFE,  // 090 SCXN2..VCSTAL
    0x0007, 0xFFFE, 0x0007, 0xFFFE, 0x8007, 0xFFFF, 0x8007, 0xFFFF,  // 0A0 LSTA0U..BKTAL
    0x0003, 0x0707, 0x1F1F, 0x0707, 0xFFFF, 0xFFFF, 0x0007, 0xFFFE,  // 0B0 RPMD..RPTAL
    0x03FF, 0x01FF, 0x03FF, 0x01FF, 0x03FF, 0x01FF, 0x03FF, 0x01FF,  // 0C0 window positions
    0xBFBF, 0xBFBF, 0xBFBF, 0xBF8F, 0x8007, 0xFFFE, 0x8007, 0xFFFE,  // 0D0 WCTLA..LWTA1L
    0x373F, 0x013F, 0x7777, 0x0077, 0x003F, 0x03FF, 0xF77F, 0x03FF,  // 0E0 SPCTL..SFCCMD
    0x0707, 0x0707, 0x0707, 0x0707, 0x0707, 0x0707, 0x0007, 0x0000,  // 0F0 PRISA..reserved
    0x1F1F, 0x1F1F, 0x1F1F, 0x1F1F, 0x1F1F, 0x1F1F, 0x001F, 0x1F1F,  // 100 CCRSA..CCRLB
    0x007F, 0x007F, 0x01FF, 0x01FF, 0x01FF, 0x01FF, 0x01FF, 0x01FF,  // 110 CLOFEN..COBB
};

void snapshot(const VDP2& vdp, u16* out)
{
    for (u32 i = 0; i < VDP2::kRegisterWords; ++i)
        out[i] = vdp.reg(i * 2);
}

}  // namespace

TEST_F(Vdp2Test, WordWritesKeepOnlyTheirRegistersBits)
{
    for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
        ww(kRegs + offset, 0xFFFF);
    for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
        EXPECT_EQ(vdp.reg(offset), kAllOnes[offset / 2]) << std::hex << "offset 0x" << offset;

    // A write replaces the word; it does not merge into it.
    for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
        ww(kRegs + offset, 0x0000);
    for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
        EXPECT_EQ(vdp.reg(offset), 0) << std::hex << "offset 0x" << offset;
}

TEST_F(Vdp2Test, StatusWordsIgnoreWritesAndBadWordWritesChangeNothing)
{
    ww(kRegs + VDP2::TVMD, 0x8000);
    runLines(0, 10);  // VCNT = 14, TVSTAT = ODD
    vdp.onVBlankIn();
    vdp.onHBlankIn(20);
    const u16 tvstat = vdp.reg(VDP2::TVSTAT);
    const u16 vcnt = vdp.reg(VDP2::VCNT);
    ASSERT_EQ(tvstat, VDP2::kTvstatOdd | VDP2::kTvstatVBlank | VDP2::kTvstatHBlank);
    ASSERT_EQ(vcnt, 14);

    LogCapture log;
    ww(kRegs + VDP2::TVSTAT, 0x0000);
    ww(kRegs + VDP2::HCNT, 0x0123);
    wl(kRegs + VDP2::HCNT, 0x01230000);  // HCNT and VCNT
    EXPECT_EQ(vdp.reg(VDP2::TVSTAT), tvstat);
    EXPECT_EQ(vdp.reg(VDP2::HCNT), 0);
    EXPECT_EQ(vdp.reg(VDP2::VCNT), vcnt);
    EXPECT_EQ(log.text(), "");

    u16 before[VDP2::kRegisterWords];
    u16 after[VDP2::kRegisterWords];
    snapshot(vdp, before);
    ww(kRegs + 0x120, 0x1234);
    ww(kRegs + 0x1FE, 0x5678);
    ww(kRegs + 0x021, 0xFFFF);  // odd
    snapshot(vdp, after);
    EXPECT_EQ(std::memcmp(before, after, sizeof before), 0);
    EXPECT_EQ(log.text(),
              "VDP2: Bad WW [A: 25F80120, D: 1234]\n"
              "VDP2: Bad WW [A: 25F801FE, D: 5678]\n"
              "VDP2: Bad WW [A: 25F80021, D: FFFF]\n");

    // The window repeats every 0x200 bytes.
    ww(kRegs + 0x3F220, 0x0013);
    EXPECT_EQ(vdp.reg(VDP2::BGON), 0x0013);
}

TEST_F(Vdp2Test, OnlyTheStatusAndModeWordsReadBack)
{
    for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
        ww(kRegs + offset, 0xFFFF);
    ww(kRegs + VDP2::TVMD, 0x8000);
    vdp.setVideoStandard(true);
    runLines(0, 6);  // last line at y = 3
    vdp.onHBlankIn(10);
    ww(kRegs + VDP2::TVMD, 0xFFFF);

    EXPECT_EQ(rw(kRegs + VDP2::TVMD), 0x81F7);
    EXPECT_EQ(rw(kRegs + VDP2::EXTEN), 0x0303);
    EXPECT_EQ(rw(kRegs + VDP2::TVSTAT), VDP2::kTvstatPal | VDP2::kTvstatOdd | VDP2::kTvstatHBlank);
    EXPECT_EQ(rw(kRegs + VDP2::VRSIZE), 0x800F);
    EXPECT_EQ(rw(kRegs + VDP2::HCNT), 0);
    EXPECT_EQ(rw(kRegs + VDP2::VCNT), 6);
    EXPECT_EQ(rw(kRegs + VDP2::RAMCTL), 0xB3FF);
    EXPECT_EQ(rl(kRegs + VDP2::TVMD), 0x81F70303u);
    EXPECT_EQ(rl(kRegs + VDP2::HCNT), 0x00000006u);

    LogCapture log;
    for (u32 offset = VDP2::CYCA0L; offset <= VDP2::kLastRegister; offset += 2)
        EXPECT_EQ(rw(kRegs + offset), 0) << std::hex << "offset 0x" << offset;
    EXPECT_TRUE(log.contains("VDP2: Bad RW [A: 25F80010]\n"));
    EXPECT_TRUE(log.contains("VDP2: Bad RW [A: 25F8011E]\n"));
    log.clear();
    EXPECT_EQ(rw(kRegs + VDP2::kLastRegister + 2), 0);
    EXPECT_EQ(rw(kRegs + 0x00C), 0);
    EXPECT_EQ(log.text(), "VDP2: Bad RW [A: 25F80120]\nVDP2: Bad RW [A: 25F8000C]\n");

    // Byte reads answer 0 without a word, even on readable registers.
    log.clear();
    EXPECT_EQ(rb(kRegs + VDP2::TVMD), 0);
    EXPECT_EQ(rb(kRegs + VDP2::TVMD + 1), 0);
    EXPECT_EQ(rb(kRegs + VDP2::RAMCTL), 0);
    EXPECT_EQ(log.text(), "");
}

TEST_F(Vdp2Test, LongAndByteWrites)
{
    wl(kRegs + VDP2::PRISA, 0xFFFF0102);
    EXPECT_EQ(vdp.reg(VDP2::PRISA), 0x0707);
    EXPECT_EQ(vdp.reg(VDP2::PRISB), 0x0102);

    // The cycle patterns take single bytes, the even address being the high one.
    wb(kRegs + VDP2::CYCA0L, 0x12);
    wb(kRegs + VDP2::CYCA0L + 1, 0x34);
    wb(kRegs + VDP2::CYCB1U + 1, 0xEE);
    EXPECT_EQ(vdp.reg(VDP2::CYCA0L), 0x1234);
    EXPECT_EQ(vdp.reg(VDP2::CYCB1U), 0x00EE);
    wb(kRegs + VDP2::CYCA0L, 0xAB);
    EXPECT_EQ(vdp.reg(VDP2::CYCA0L), 0xAB34);

    // PRIR's bytes are taken whole, past its word mask.
    wb(kRegs + VDP2::PRIR, 0xF0);
    wb(kRegs + VDP2::PRIR + 1, 0x0F);
    EXPECT_EQ(vdp.reg(VDP2::PRIR), 0xF00F);

    LogCapture log;
    ww(kRegs + VDP2::TVMD, 0x8000);
    wb(kRegs + VDP2::TVMD + 1, 0x03);
    wb(kRegs + VDP2::CYCB1U + 2, 0x55);  // BGON
    EXPECT_EQ(vdp.reg(VDP2::TVMD), 0x8000);
    EXPECT_EQ(vdp.reg(VDP2::BGON), 0);
    EXPECT_EQ(log.text(), "VDP2: Bad WB [A: 25F80001, D: 03]\nVDP2: Bad WB [A: 25F80020, D: 55]\n");

    // The last word's long write spills its low half past the file.
    log.clear();
    wl(kRegs + VDP2::COBB, 0x01FF0001);
    EXPECT_EQ(vdp.reg(VDP2::COBB), 0x01FF);
    EXPECT_EQ(log.text(), "VDP2: Bad WW [A: 25F80120, D: 0001]\n");
}

TEST_F(Vdp2Test, ResetClearsTheFileAndShowsSizeAndVersion)
{
    ww(kRegs + VDP2::BGON, 0x0013);
    ww(kRegs + VDP2::VRSIZE, 0x0000);
    vdp.onVBlankIn();
    vdp.reset();
    EXPECT_EQ(vdp.reg(VDP2::BGON), 0);
    EXPECT_EQ(vdp.reg(VDP2::TVSTAT), 0);
    EXPECT_EQ(rw(kRegs + VDP2::VRSIZE), 0x0001);

    std::vector<u8> bigVram(VDP2::kVramSize);
    VDP2 big(nullptr, nullptr, nullptr, bigVram.data(), cram.data(), 1, 0x13);
    big.setup(0);
    EXPECT_EQ(big.reg(VDP2::VRSIZE), 0x8003);
    // The 1 MB flag cannot widen the layers' reach past the 512 KB array.
    EXPECT_EQ(big.vramAddressMask(), VDP2::kVramSize - 1);
}

TEST_F(Vdp2Test, ConstructionTurnsEveryLayerSwitchOn)
{
    std::memset(layerDebugSwitches, 0, sizeof layerDebugSwitches);
    VDP2 another(nullptr, nullptr, nullptr, vram.data(), cram.data());
    for (int i = 0; i < kLayerSwitches; ++i)
        EXPECT_EQ(layerDebugSwitches[i], 1) << i;
}

TEST_F(Vdp2Test, ColorRamModeZeroMirrorsEveryWriteIntoBothHalves)
{
    auto cw = [&](u32 a, u16 d) { color.writeWord(color.owner, nullptr, a, d); };
    auto cr = [&](u32 a) { return color.readWord(color.owner, nullptr, a); };

    cw(kColor + 0x010, 0x7C1F);
    EXPECT_EQ(cr(kColor + 0x010), 0x7C1F);
    EXPECT_EQ(cr(kColor + 0x810), 0x7C1F);
    // Writing the upper half lands in the lower one too.
    cw(kColor + 0x822, 0x1234);
    EXPECT_EQ(cr(kColor + 0x022), 0x1234);
    color.writeByte(color.owner, nullptr, kColor + 0x031, 0xAB);
    EXPECT_EQ(cram[0x031], 0xAB);
    EXPECT_EQ(cram[0x831], 0xAB);
    color.writeLong(color.owner, nullptr, kColor + 0x7FC, 0x11223344);
    EXPECT_EQ(color.readLong(color.owner, nullptr, kColor + 0x7FC), 0x11223344u);
    EXPECT_EQ(color.readLong(color.owner, nullptr, kColor + 0xFFC), 0x11223344u);

    // Mode 1: one copy, and the halves differ from then on.
    ww(kRegs + VDP2::RAMCTL, 0x1000);
    cw(kColor + 0x010, 0x0001);
    EXPECT_EQ(cr(kColor + 0x010), 0x0001);
    EXPECT_EQ(cr(kColor + 0x810), 0x7C1F);
    color.writeByte(color.owner, nullptr, kColor + 0x831, 0xCD);
    EXPECT_EQ(cram[0x031], 0xAB);
    EXPECT_EQ(cram[0x831], 0xCD);
    color.writeLong(color.owner, nullptr, kColor + 0x7FFFC, 0xA1B2C3D4);  // end of the window
    EXPECT_EQ(cr(kColor + 0xFFC), 0xA1B2);
    EXPECT_EQ(cr(kColor + 0xFFE), 0xC3D4);
    EXPECT_EQ(cr(kColor + 0x7FC), 0x1122);

    ww(kRegs + VDP2::RAMCTL, 0x3000);  // mode 3 (reserved) behaves as mode 1
    cw(kColor + 0x040, 0x5555);
    EXPECT_EQ(cr(kColor + 0x840), 0x0000);

    // Reads see the window every 4 KB whatever the mode.
    EXPECT_EQ(cr(kColor + 0x1040), 0x5555);
    EXPECT_EQ(color.readByte(color.owner, nullptr, kColor + 0x7F831), 0xCD);
}
