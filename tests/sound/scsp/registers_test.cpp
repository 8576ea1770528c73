// The register window, key-on, timers, interrupts, MIDI and DMA.
#include <gtest/gtest.h>

#include "scsp_testbench.h"
#include "support/log_capture.h"

TEST(ScspRegisters, KeyOnStartsEverySlotWithItsBitAndLeavesPlayingOnesAlone)
{
    ScspBench b;
    b.slot(3, 0x06, 0xFFFF);
    b.slot(5, 0x00, 0x0800);  // key-on bit only: nothing runs yet
    EXPECT_TRUE(b.chip.slot(5).ended);
    b.slot(3, 0x00, 0x1800);
    EXPECT_FALSE(b.chip.slot(5).ended) << "every slot with its bit starts";
    EXPECT_EQ(b.r(0x60), 0x0800) << "the execute bit is not kept";
    b.run(100);
    const u32 position = b.chip.slot(3).position;
    b.slot(3, 0x00, 0x1800);
    EXPECT_EQ(b.chip.slot(3).position, position) << "a playing slot is not restarted";
    // The high byte of word 0 runs the execute from its bit 4.
    b.chip.writeByte(nullptr, 0x60, 0x10);
    b.run(1);
    EXPECT_EQ(b.chip.slot(3).envState, SCSP::kRelease);
    EXPECT_EQ(b.chip.slot(5).keyOn, 1);
}

TEST(ScspRegisters, KeptBitsWarningsAndAccessWidths)
{
    ScspBench b;
    LogCapture log;
    b.slot(0, 0x10, 0xFFFF);
    EXPECT_EQ(b.r(0x10), 0x7BFF);
    b.w(0x408, 0xFFFF);
    EXPECT_EQ(b.chip.common(0x408), 0xF800);
    EXPECT_EQ(b.r(0x408), 0x007F) << "slot 31 is free: release phase, silent";
    EXPECT_EQ(b.r(0x1A), 0);
    EXPECT_EQ(b.r(0x01), 0);
    b.chip.writeByte(nullptr, 0x405, 0x12);
    b.w(0x40A, 0x1234);
    EXPECT_EQ(b.r(0x410), 0);
    EXPECT_EQ(log.text(), "SCSPSLOT: Bad RW from SCR [A: 01]\n"
                          "SCSP: SCSP, Bad WB to CCR [A: 00000405, D: 12]\n"
                          "SCSP: Bad WW to CCR [A: 0000040A, D: 1234]\n"
                          "SCSP: SCSP: Bad RW [A: 00000410]\n");
    const AccessHandlers regs = b.chip.getAccessHandlers(SCSP::kRegisters);
    regs.writeLong(regs.owner, nullptr, 0x100044, 0x12345678);
    EXPECT_EQ(b.r(0x44), 0x1234);
    EXPECT_EQ(b.r(0x46), 0x5678);

    // Sound memory: the last long wraps to the start; size bit 9 clear masks to 128 KB.
    const AccessHandlers ram = b.chip.getAccessHandlers(SCSP::kSoundRam);
    ram.writeLong(ram.owner, nullptr, 0x7FFFE, 0xAABBCCDD);
    EXPECT_EQ(b.ram[0x00000], 0xCC);
    log.clear();
    b.w(0x400, 0x0000);
    EXPECT_EQ(log.text(), "SCSP: Set to 1MB RAM!\n");
    ram.writeByte(ram.owner, nullptr, 0x20001, 0x5A);
    EXPECT_EQ(b.ram[0x00001], 0x5A);
}

TEST(ScspRegisters, TimerInterruptsReachThe68000AtTheirLevel)
{
    ScspBench b;
    b.w(0x418, 0x0000);  // timer A: prescale 0, start 0
    b.w(0x424, 0x0040);
    b.w(0x428, 0x0040);
    b.run(254);
    EXPECT_EQ(b.r(0x420) & 0x40, 0);
    b.run(1);
    EXPECT_EQ(b.r(0x420) & 0x40, 0x40) << "after 255 samples";
    EXPECT_FALSE(b.m68k.hasPendingInterrupt());
    b.w(0x41E, 0x0040);  // enabling a pending bit delivers it at once
    ASSERT_TRUE(b.m68k.hasPendingInterrupt());
    EXPECT_EQ(b.m68k.topInterrupt().level, 5);
    EXPECT_EQ(b.m68k.topInterrupt().vector, 29);
    b.w(0x422, 0x0040);
    b.run(255);
    EXPECT_EQ(b.r(0x420) & 0x40, 0);
    b.run(1);
    EXPECT_EQ(b.r(0x420) & 0x40, 0x40) << "then every 256";
    // Bits 7 to 10 share bit 7's level bits: the sample bit with level word 0 = 0x80.
    b.w(0x424, 0x0080);
    b.w(0x428, 0x0000);
    b.w(0x41E, 0x0400);
    b.m68k.clearInterrupts();
    b.run(1);
    ASSERT_TRUE(b.m68k.hasPendingInterrupt());
    EXPECT_EQ(b.m68k.topInterrupt().level, 1);
}

// A driver handshake polls these words from either side.
TEST(ScspRegisters, InterruptAndTimerWordsReadBack)
{
    ScspBench b;
    LogCapture log;
    b.w(0x42C, 0xFFFF);  // a CPU sets only the request bit
    b.w(0x41E, 0xF8A0);
    b.w(0x426, 0x1234);
    EXPECT_EQ(b.r(0x42C), 0x0020);
    EXPECT_EQ(b.chip.readByte(nullptr, 0x42D), 0x20);
    EXPECT_EQ(b.r(0x41E), 0x00A0);
    EXPECT_EQ(b.r(0x426), 0x0034) << "bits 7-10 share one level bit";
    b.w(0x42E, 0x0020);
    EXPECT_EQ(b.r(0x42C), 0);
    EXPECT_EQ(b.r(0x42E), 0) << "the reset words are write-only";
    b.w(0x418, 0x02F0);  // prescale 2: the count rises every fourth sample
    b.run(9);
    EXPECT_EQ(b.r(0x418), 0x02F2);
    EXPECT_EQ(log.text(), "");
}

TEST(ScspRegisters, MidiOutputHoldsFourBytesWhateverTheFlags)
{
    ScspBench b;
    LogCapture log;
    for (u8 d = 1; d <= 5; ++d)
        b.chip.writeByte(nullptr, 0x407, d);
    EXPECT_EQ(log.text(), "SCSP.MIDI: MIDI: MOBUF overflow!\n");
    EXPECT_EQ(b.chip.readByte(nullptr, 0x404), 0x11);
    b.chip.writeByte(nullptr, 0x404, 0x01);  // a CPU clears the full flag
    b.chip.writeByte(nullptr, 0x407, 6);
    EXPECT_EQ(b.chip.midi().outputCount(), 4u);
    EXPECT_EQ(b.chip.midi().outputBuffer()[3], 4);
}

TEST(ScspRegisters, DmaRunsThroughTheRegistersOnceAndWrapsInSoundMemory)
{
    ScspBench b;
    LogCapture log;
    b.poke16(0x2000, 0x0040);  // 0x41E: sound enable bit 6
    b.poke16(0x2006, 0x0040);  // 0x424: level bit 6
    b.w(0x412, 0x2000);
    b.w(0x414, 0x041E);
    b.w(0x416, 0x1000 | 4 << 1);
    EXPECT_EQ(b.chip.common(0x41E), 0x0040);
    EXPECT_EQ(b.chip.common(0x424), 0x0040);
    EXPECT_EQ(b.r(0x420) & 0x10, 0x10) << "DMA end";
    EXPECT_EQ(log.text(), "SCSP: SCSP DMA [S: 00002000, D: 0000041E, C: 00000008, CCR09: 2000, CCR0A: 041E, "
                          "CCR0B: 1008]\n");
    // A transfer that writes the start bit into its own control word runs
    // once; memory addresses wrap at the end of sound memory.
    b.poke16(0x0000, 0x1000 | 3 << 1);
    b.w(0x412, 0xFFFC);
    b.w(0x414, 0x7412);
    log.clear();
    b.w(0x416, 0x1000 | 3 << 1);
    EXPECT_EQ(log.text().find(" DMA ["), log.text().rfind(" DMA [")) << log.text();
    EXPECT_EQ(b.r(0x416), 0x0006);
    b.slot(0, 0x02, 0xBEEF);
    b.w(0x412, 0xFFFE);
    b.w(0x414, 0x7002);
    b.w(0x416, 0x3000 | 2 << 1);  // registers to memory
    EXPECT_EQ(loadBe16(&b.ram[0x7FFFE]), 0xBEEF);
    b.w(0x416, 0x7000 | 2 << 1);
    EXPECT_EQ(loadBe16(&b.ram[0x7FFFE]), 0);
    EXPECT_NE(log.text().find("SCSP: Clear memory [DMEA: 0007FFFE, C: 00000004]\n"), std::string::npos);
}
