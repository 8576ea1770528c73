// The register window, key-on, timers, interrupts, MIDI and DMA.
#include <gtest/gtest.h>

#include "scsp_testbench.h"
#include "support/log_capture.h"

namespace {

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(ScspRegisters, KeyOnStartsEverySlotWithItsBitAndLeavesPlayingOnesAlone)
{
    ScspBench b;
    b.slot(3, 0x06, 0xFFFF);
    b.slot(5, 0x06, 0xFFFF);
    b.slot(5, 0x00, 0x0800);  // key-on bit only: nothing runs yet
    EXPECT_TRUE(b.chip.slot(5).ended);
    b.slot(3, 0x00, 0x1800);
    EXPECT_FALSE(b.chip.slot(3).ended);
    EXPECT_FALSE(b.chip.slot(5).ended) << "every slot with its bit starts";
    EXPECT_EQ(b.r(0x60), 0x0800) << "the execute bit is not kept";
    b.run(100);
    const u32 position = b.chip.slot(3).position;
    EXPECT_GT(position, 50u);
    b.slot(3, 0x00, 0x1800);
    EXPECT_EQ(b.chip.slot(3).position, position) << "a playing slot is not restarted";
    // The high byte of word 0 runs the execute from its bit 4.
    b.chip.writeByte(nullptr, 0xA0, 0x08);
    b.chip.writeByte(nullptr, 0x60, 0x10);
    EXPECT_EQ(b.chip.slot(3).keyOn, 0);
    b.run(1);
    EXPECT_EQ(b.chip.slot(3).envState, SCSP::kRelease) << "from the next sample";
    EXPECT_EQ(b.chip.slot(5).keyOn, 1);
}

TEST(ScspRegisters, KeptBitsReadBackAndLongsAreTwoWords)
{
    ScspBench b;
    LogCapture log;
    b.slot(0, 0x10, 0xFFFF);
    b.slot(0, 0x0C, 0xFFFF);
    b.slot(0, 0x14, 0xFFFF);
    EXPECT_EQ(b.r(0x10), 0x7BFF);
    EXPECT_EQ(b.r(0x0C), 0x03FF);
    EXPECT_EQ(b.r(0x14), 0x007F);
    b.slot(1, 0x10, 0x0000);
    EXPECT_EQ(b.chip.slot(1).phaseStep, 0x40000u);
    b.slot(1, 0x10, 0x7800);
    EXPECT_EQ(b.chip.slot(1).phaseStep, 0x20000u);
    b.w(0x408, 0xFFFF);
    EXPECT_EQ(b.chip.common(0x408), 0xF800);
    EXPECT_EQ(b.r(0x408), 0);
    EXPECT_EQ(b.r(0x1A), 0);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(b.r(0x01), 0);
    EXPECT_EQ(log.text(), "SCSPSLOT: Bad RW from SCR [A: 01]\n");
    log.clear();

    const AccessHandlers regs = b.chip.getAccessHandlers(SCSP::kRegisters);
    regs.writeLong(regs.owner, nullptr, 0x100044, 0x12345678);
    EXPECT_EQ(b.r(0x44), 0x1234);
    EXPECT_EQ(b.r(0x46), 0x5678);
    EXPECT_EQ(regs.readLong(regs.owner, nullptr, 0x100044), 0x12345678u);

    // The oscillator takes its fields from the high byte's write only;
    // word 0x14's high byte is ignored.
    b.chip.writeByte(nullptr, 0x33, 0x00);
    b.chip.writeByte(nullptr, 0x32, 0x7C);
    const u32 step = b.chip.slot(1).lfoStep;
    b.chip.writeByte(nullptr, 0x32, 0x00);
    EXPECT_LT(b.chip.slot(1).lfoStep, step);
    b.chip.writeByte(nullptr, 0x34, 0xFF);
    EXPECT_EQ(b.r(0x34), 0);

    b.chip.writeByte(nullptr, 0x409, 0xFF);
    b.chip.writeByte(nullptr, 0x405, 0x12);
    b.w(0x40A, 0x1234);
    EXPECT_EQ(b.r(0x42A), 0);
    EXPECT_EQ(log.text(), "SCSP: SCSP, Bad WB to CCR [A: 00000405, D: 12]\n"
                          "SCSP: Bad WW to CCR [A: 0000040A, D: 1234]\n"
                          "SCSP: SCSP: Bad RW [A: 0000042A]\n");
}

TEST(ScspRegisters, SoundMemorySizeAndAccessesStayInside)
{
    ScspBench b;
    const AccessHandlers ram = b.chip.getAccessHandlers(SCSP::kSoundRam);
    ram.writeLong(ram.owner, nullptr, 0x7FFFE, 0xAABBCCDD);
    EXPECT_EQ(b.ram[0x7FFFE], 0xAA);
    EXPECT_EQ(b.ram[0x00000], 0xCC) << "the second word wraps to the start";
    EXPECT_EQ(ram.readWord(ram.owner, nullptr, 0xFFFFF), 0xAABB);
    LogCapture log;
    b.w(0x400, 0x0000);
    EXPECT_EQ(log.text(), "SCSP: Set to 1MB RAM!\n");
    ram.writeByte(ram.owner, nullptr, 0x20001, 0x5A);
    EXPECT_EQ(b.ram[0x00001], 0x5A);
    EXPECT_EQ(b.chip.memoryMask(), 0x1FFFFu);
}

TEST(ScspRegisters, TimersAndTheirInterruptLevels)
{
    ScspBench b;
    b.w(0x418, 0x0000);  // timer A: prescale 0, start 0
    b.w(0x424, 0x0040);
    b.w(0x428, 0x0040);
    b.run(254);
    EXPECT_EQ(b.r(0x420) & 0x40, 0);
    b.run(1);
    EXPECT_EQ(b.r(0x420) & 0x40, 0x40) << "after 255 samples";
    EXPECT_FALSE(b.m68k.hasPendingInterrupt()) << "not enabled yet";
    // Enabling a pending bit delivers it at once: level 5, autovector 29.
    b.w(0x41E, 0x0040);
    ASSERT_TRUE(b.m68k.hasPendingInterrupt());
    EXPECT_EQ(b.m68k.topInterrupt().level, 5);
    EXPECT_EQ(b.m68k.topInterrupt().vector, 29);
    b.m68k.clearInterrupts();
    b.w(0x422, 0x0040);
    b.run(255);
    EXPECT_EQ(b.r(0x420) & 0x40, 0);
    b.run(1);
    EXPECT_EQ(b.r(0x420) & 0x40, 0x40) << "then every 256";
    // Prescale 2 counts a quarter as fast; a high-byte write leaves the counter.
    b.m68k.clearInterrupts();
    b.w(0x422, 0x07FF);
    b.chip.writeByte(nullptr, 0x41A, 0x02);
    b.chip.writeByte(nullptr, 0x41B, 0xF0);
    b.run(4 * 15 - 1);
    EXPECT_EQ(b.r(0x420) & 0x80, 0);
    b.run(1);
    EXPECT_EQ(b.r(0x420) & 0x80, 0x80);
    // Bits 7 to 10 share bit 7's level bits: the sample bit with level word 0 = 0x80.
    b.w(0x424, 0x0080);
    b.w(0x428, 0x0000);
    b.w(0x41E, 0x0400);
    b.m68k.clearInterrupts();
    b.run(1);
    ASSERT_TRUE(b.m68k.hasPendingInterrupt());
    EXPECT_EQ(b.m68k.topInterrupt().level, 1);
}

TEST(ScspRegisters, CpuRequestsReachOneSideEach)
{
    ScspBench b;
    LogCapture log;
    b.chip.intc().setThreshold(2);
    b.w(0x42A, 0x0020);
    b.w(0x41E, 0x0020);
    b.w(0x420, 0x0020);
    EXPECT_EQ(log.text(), "SCSP INTC: Send interrupt to the sound CPU, [Level: 0]\n");
    EXPECT_EQ(b.chip.common(0x42C), 0);
    log.clear();
    b.w(0x42C, 0x0020);
    EXPECT_EQ(log.text(), "SCSP INTC: Send interrupt to the main CPU\n");
    b.w(0x42E, 0x0020);
    b.w(0x422, 0x0020);
    EXPECT_EQ(b.chip.common(0x42C), 0);
    EXPECT_EQ(b.r(0x420), 0);
}

TEST(ScspRegisters, MidiOutputHoldsFourBytesWhateverTheFlags)
{
    ScspBench b;
    LogCapture log;
    for (u8 d = 1; d <= 5; ++d)
        b.chip.writeByte(nullptr, 0x407, d);
    EXPECT_EQ(log.text(), "SCSP.MIDI: MIDI: MOBUF overflow!\n");
    EXPECT_EQ(b.chip.readByte(nullptr, 0x404), 0x11);
    // A CPU may clear the full flag; the buffer still has no fifth place.
    b.chip.writeByte(nullptr, 0x404, 0x01);
    b.chip.writeByte(nullptr, 0x407, 6);
    EXPECT_EQ(b.chip.midi().outputCount(), 4u);
    EXPECT_EQ(b.chip.midi().outputBuffer()[3], 4);
    EXPECT_EQ(occurrences(log.text(), "MOBUF overflow"), 2u);
}

TEST(ScspRegisters, DmaMovesWordsThroughTheRegistersWithTheirSideEffects)
{
    ScspBench b;
    LogCapture log;
    b.poke16(0x2000, 0x0040);  // 0x41E: sound enable bit 6
    b.poke16(0x2002, 0x0000);
    b.poke16(0x2004, 0x0000);
    b.poke16(0x2006, 0x0040);  // 0x424: level bit 6
    b.w(0x412, 0x2000);
    b.w(0x414, 0x041E);
    b.w(0x416, 0x1000 | 4 << 1);
    EXPECT_EQ(b.chip.common(0x41E), 0x0040);
    EXPECT_EQ(b.chip.common(0x424), 0x0040);
    EXPECT_EQ(b.r(0x416) & 0x1000, 0);
    EXPECT_EQ(b.r(0x420) & 0x10, 0x10) << "DMA end";
    EXPECT_EQ(log.text(), "SCSP: SCSP DMA [S: 00002000, D: 0000041E, C: 00000008, CCR09: 2000, CCR0A: 041E, "
                          "CCR0B: 1008]\n");
    log.clear();

    // A transfer that writes the start bit into its own control word does
    // not start again; one that runs off the end of sound memory wraps.
    b.poke16(0x7FFFC, 0x0000);
    b.poke16(0x7FFFE, 0x0000);
    b.poke16(0x0000, 0x1000 | 3 << 1);
    b.w(0x412, 0xFFFC);
    b.w(0x414, 0x7412);
    b.w(0x416, 0x1000 | 3 << 1);
    EXPECT_EQ(occurrences(log.text(), " DMA ["), 1u) << log.text();
    EXPECT_EQ(b.r(0x416), 0x0006);

    // Registers to memory, and clearing memory, wrap the same way.
    b.slot(0, 0x02, 0xBEEF);
    b.w(0x412, 0xFFFE);
    b.w(0x414, 0x7002);
    b.w(0x416, 0x3000 | 2 << 1);
    EXPECT_EQ(loadBe16(&b.ram[0x7FFFE]), 0xBEEF);
    b.w(0x416, 0x7000 | 2 << 1);
    EXPECT_EQ(loadBe16(&b.ram[0x7FFFE]), 0);
    EXPECT_NE(log.text().find("SCSP: Clear memory [DMEA: 0007FFFE, C: 00000004]\n"), std::string::npos);
}
