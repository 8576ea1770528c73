// The on-chip register window and the modules behind it, driven through
// the processor's own bus as a program would.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "sh2_machine.h"
// GCC 12 at -O3 reports a false -Wrestrict inside the capture's string
// concatenation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#include "support/log_capture.h"
#pragma GCC diagnostic pop

namespace {

constexpr u32 kBase = 0xFFFFFE00;

struct Sh2OnChip : ::testing::Test {
    Sh2Machine m;
    LogCapture log;
    SH2& cpu = *m.cpu;
    void SetUp() override
    {
        cpu.setThreshold(1);
        m.boot(0x06004000);
        log.clear();
    }
    u8 rb(u32 o) { return cpu.readByte(kBase + o); }
    u16 rw(u32 o) { return cpu.readWord(kBase + o); }
    u32 rl(u32 o) { return cpu.readLong(kBase + o); }
    void wb(u32 o, u8 d) { cpu.writeByte(kBase + o, d); }
    void ww(u32 o, u16 d) { cpu.writeWord(kBase + o, d); }
    void wl(u32 o, u32 d) { cpu.writeLong(kBase + o, d); }
};

// Every offset and width of the window: served ones are silent, the rest
// give the exact refusal text and read 0.
TEST_F(Sh2OnChip, WindowServesExactlyTheMappedRegisters)
{
    const std::set<u32> bytes = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
                                 0x19, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x71, 0x72, 0x80,
                                 0x81, 0x82, 0x91, 0x92, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5};
    const std::set<u32> words = {0x60,  0x62,  0x64,  0x66,  0x68,  0x92,  0xE0,  0xE2,  0xE4,  0x18C, 0x18E,
                                 0x190, 0x192, 0x1E0, 0x1E2, 0x1E6, 0x1EA, 0x1EE, 0x1F2, 0x1F6, 0x1FA};
    // The divider answers at 0x100-0x11F and again at 0x120-0x13F.
    const std::set<u32> longs = {0x100, 0x104, 0x108, 0x10C, 0x110, 0x114, 0x118, 0x11C, 0x120, 0x124,
                                 0x128, 0x12C, 0x130, 0x134, 0x138, 0x13C, 0x180, 0x184, 0x188, 0x18C,
                                 0x190, 0x194, 0x198, 0x19C, 0x1A0, 0x1A8, 0x1B0, 0x1B8, 0x1E0, 0x1E4,
                                 0x1E8, 0x1EC, 0x1F0, 0x1F4, 0x1F8};
    char text[64];
    for (u32 o = 0; o < 0x200; ++o) {
        log.clear();
        const u8 b = rb(o);
        std::snprintf(text, sizeof text, "ONCHIP: Bad RB [A: %08X]", kBase + o);
        EXPECT_EQ(log.contains(text), bytes.count(o) == 0) << std::hex << o;
        if (!bytes.count(o)) {
            EXPECT_EQ(b, 0);
        }
        if (o % 2 == 0) {
            log.clear();
            rw(o);
            std::snprintf(text, sizeof text, "ONCHIP: Bad RW [A: %08X]", kBase + o);
            EXPECT_EQ(log.contains(text), words.count(o) == 0) << std::hex << o;
        }
        if (o % 4 == 0) {
            log.clear();
            rl(o);
            std::snprintf(text, sizeof text, "ONCHIP: Bad RL [A: %08X]", kBase + o);
            EXPECT_EQ(log.contains(text), longs.count(o) == 0) << std::hex << o;
        }
    }
    // Writes outside the map, at each width.
    log.clear();
    wb(0x1A, 0x12);
    ww(0x70, 0x1234);
    wl(0x140, 0x12345678);
    wb(0x18, 0x34);
    EXPECT_TRUE(log.contains("ONCHIP: Bad WB [A: FFFFFE1A, D: 12]"));
    EXPECT_TRUE(log.contains("ONCHIP: Bad WW [A: FFFFFE70, D: 1234]"));
    EXPECT_TRUE(log.contains("ONCHIP: Bad WL [A: FFFFFF40, D: 12345678]"));
    EXPECT_TRUE(log.contains("ONCHIP: Bad WB [A: FFFFFE18, D: 34]"));
    // The ranges below the registers belong to other areas.
    log.clear();
    cpu.readByte(0xFFFF0000);
    cpu.readByte(0xFFFFC000);
    cpu.readLong(0xFFFF8000);
    EXPECT_TRUE(log.contains("RESERVED5: Bad RB [A: FFFF0000]"));
    EXPECT_TRUE(log.contains("RESERVED6: Bad RB [A: FFFFC000]"));
    EXPECT_TRUE(log.contains("SDMU: Bad RL [A: FFFF8000]"));
}

TEST_F(Sh2OnChip, InterruptPrioritiesAndVectors)
{
    ww(0xE2, 0x1234);
    EXPECT_EQ(rw(0xE2), 0x1230);
    wb(0xE3, 0xFF);
    EXPECT_EQ(rw(0xE2), 0x12F0);
    ww(0x60, 0xABCD);
    EXPECT_EQ(rw(0x60), 0xAB00);
    wb(0x61, 0x55);
    EXPECT_EQ(rb(0x61), 0);
    ww(0x62, 0xFFFF);
    EXPECT_EQ(rw(0x62), 0x7F7F);
    wb(0x67, 0xFF);
    EXPECT_EQ(rb(0x67), 0x7F);
    ww(0x68, 0xFFFF);
    EXPECT_EQ(rw(0x68), 0x7F00);
    ww(0xE0, 0xFFFF);
    EXPECT_EQ(rw(0xE0), 0x0101);

    // The FRT overflow takes VCRD's vector and IPRB's level.
    ww(0x60, 0x0500);
    ww(0x68, 0x4300);
    wb(0x10, 0x02);
    cpu.frt.frc = 0xFFFF;
    cpu.frt.step(8);
    ASSERT_TRUE(cpu.hasPendingInterrupt());
    EXPECT_EQ(cpu.topInterrupt().vector, 0x43);
    EXPECT_EQ(cpu.topInterrupt().level, 5);
}

TEST_F(Sh2OnChip, KeyedBusStateWrites)
{
    wl(0x1E4, 0x0000000F);
    EXPECT_EQ(rl(0x1E4), 0xFCu);
    wl(0x1E4, 0xA55A000F);
    EXPECT_EQ(rl(0x1E4), 0x0Cu);
    EXPECT_EQ(rw(0x1E6), 0x0C);
    wl(0x1E8, 0xA55A1234);
    EXPECT_EQ(rl(0x1E8), 0x1234u);
    EXPECT_EQ(rw(0x1E0), 0);
    EXPECT_EQ(rw(0x1E2), 0x03F0);

    log.clear();
    ww(0x1E2, 0x0001);
    ww(0x1FA, 0x0002);
    EXPECT_TRUE(log.contains("ONCHIP: Bad WW to BSC BCR1 [A: FFFFFFE2, D: 0001]"));
    EXPECT_TRUE(log.contains("ONCHIP: Bad WW to BSC RTCOR [A: FFFFFFFA, D: 0002]"));

    // The slave's master/slave bit survives keyed writes and resets.
    cpu.setSlave(true);
    wl(0x1E0, 0xA55A0000);
    EXPECT_EQ(rl(0x1E0) & 0x8000, 0x8000u);
    cpu.doReset(false);
    EXPECT_EQ(rl(0x1E0), 0x83F0u);
}

TEST_F(Sh2OnChip, CacheControlAndArrays)
{
    cpu.writeLong(0x60000404, 0x30);
    EXPECT_EQ(cpu.readLong(0x60000400), 0x00000434u);
    // Another way holds its own tag.
    wb(0x92, 0x40);
    EXPECT_EQ(cpu.readLong(0x60000400), 0u);

    cpu.writeLong(0xC0000010, 0x11223344);
    EXPECT_EQ(cpu.readByte(0xC0000010), 0x11);
    EXPECT_EQ(cpu.readByte(0xC0000013), 0x44);
    EXPECT_EQ(cpu.readWord(0xC0000012), 0x3344);
    // A purge with bit 4 set keeps the data; with it clear the arrays empty.
    wb(0x92, 0x10);
    EXPECT_EQ(rb(0x92), 0x00);
    EXPECT_EQ(cpu.readLong(0xC0000010), 0x11223344u);
    wb(0x92, 0x01);
    EXPECT_EQ(rb(0x92), 0x01);
    EXPECT_EQ(cpu.readLong(0xC0000010), 0u);

    // Associative purge: the matching way's line is cleared.
    wb(0x92, 0x00);
    cpu.writeLong(0x60000424, 0);
    cpu.writeLong(0xC0000020, 0xAABBCCDD);
    cpu.writeLong(0x40000420, 0);
    EXPECT_EQ(cpu.readLong(0xC0000020), 0u);
    EXPECT_EQ(cpu.readByte(0x40000001), 0x12);
    EXPECT_EQ(cpu.readByte(0x40000000), 0x23);
    EXPECT_EQ(cpu.readLong(0x40000000), 0x23122312u);

    log.clear();
    EXPECT_EQ(cpu.readLong(0xC0002000), 0xFFFFFFFFu);
    EXPECT_EQ(cpu.readLong(0x24000000), 0u);
    EXPECT_TRUE(log.contains("CS2: cache-through area RL [A: 24000000]"));
    cpu.readWord(0x60000000);
    EXPECT_TRUE(log.contains("CACHE(A): Bad RW [A: 60000000]"));
}

TEST_F(Sh2OnChip, DividerMatchesHostDivision)
{
    const s32 values[] = {7, -7, 3, -3, 1, -1, 0x7FFFFFFF, INT32_MIN, 12345678, -98765};
    for (s32 divisor : values) {
        for (s32 dividend : values) {
            wl(0x100, static_cast<u32>(divisor));
            wl(0x104, static_cast<u32>(dividend));
            if (dividend == INT32_MIN && divisor == -1) {
                EXPECT_EQ(rl(0x108) & 1, 1u);
                wl(0x108, 0);
                continue;
            }
            EXPECT_EQ(static_cast<s32>(rl(0x104)), dividend / divisor) << dividend << " / " << divisor;
            EXPECT_EQ(static_cast<s32>(rl(0x110)), dividend % divisor) << dividend << " % " << divisor;
            EXPECT_EQ(rl(0x108) & 1, 0u);
        }
    }
    const s64 wide[] = {7, -7, 0x123456789LL, -0x123456789LL, 0x7FFFFFFFLL * 3, INT64_MIN, INT64_MAX, -0x80000000LL};
    for (s32 divisor : values) {
        for (s64 dividend : wide) {
            wl(0x108, 0);
            wl(0x100, static_cast<u32>(divisor));
            wl(0x110, static_cast<u32>(static_cast<u64>(dividend) >> 32));
            wl(0x114, static_cast<u32>(dividend));
            const bool trap = dividend == INT64_MIN && divisor == -1;
            const s64 q = trap ? 0 : dividend / divisor;
            if (trap || q > INT32_MAX || q < INT32_MIN) {
                EXPECT_EQ(rl(0x108) & 1, 1u) << dividend << " / " << divisor;
                EXPECT_EQ(rl(0x110), 0xFFFFFFFEu);
                continue;
            }
            EXPECT_EQ(static_cast<s32>(rl(0x114)), q) << dividend << " / " << divisor;
            EXPECT_EQ(static_cast<s32>(rl(0x110)), dividend % divisor) << dividend << " % " << divisor;
            EXPECT_EQ(rl(0x108) & 1, 0u);
        }
    }

    // Division by zero, and the overflow interrupt when enabled.
    wl(0x108, 2);
    wl(0x10C, 0x55);
    ww(0xE2, 0x9000);
    wl(0x100, 0);
    wl(0x104, 0x40000000);
    EXPECT_EQ(rl(0x104), 0x7FFFFFFFu);
    EXPECT_EQ(rl(0x110), 2u);
    EXPECT_EQ(rl(0x108), 3u);
    ASSERT_TRUE(cpu.hasPendingInterrupt());
    EXPECT_EQ(cpu.topInterrupt().vector, 0x55);
    EXPECT_EQ(cpu.topInterrupt().level, 9);
    wl(0x104, static_cast<u32>(-0x40000000));
    EXPECT_EQ(rl(0x104), 0x80000000u);
    EXPECT_EQ(rl(0x110), 0xFFFFFFFEu);
    wl(0x110, 0xFFFFFFFF);
    wl(0x114, 5);
    EXPECT_EQ(rl(0x114), 0x80000000u);
    EXPECT_EQ(rl(0x110), 0xFFFFFFF8u);

    // 0x120-0x13F is the same divider: its DVDNT and DVDNTL start divisions
    // and its reads give the results (64/32 here: -0x300000005 / 7).
    wl(0x108, 0);
    wl(0x120, 7);
    wl(0x124, 100);
    EXPECT_EQ(rl(0x134), 14u);
    EXPECT_EQ(rl(0x118), 2u);
    wl(0x138, 0xFFFFFFFC);
    wl(0x13C, 0xFFFFFFFB);
    EXPECT_EQ(rl(0x104), static_cast<u32>(-0x300000005LL / 7));
    EXPECT_EQ(rl(0x130), static_cast<u32>(-0x300000005LL % 7));
    EXPECT_EQ(rl(0x128), 0u);
    EXPECT_EQ(rl(0x120), 7u);
}

TEST_F(Sh2OnChip, FreeRunningTimer)
{
    // TCR 0: one count per 8 clocks, the remainder carried.
    cpu.frt.step(13);
    EXPECT_EQ(cpu.frt.frc, 1);
    cpu.frt.step(3);
    EXPECT_EQ(cpu.frt.frc, 2);
    wb(0x16, 3);
    cpu.frt.step(5);
    EXPECT_EQ(cpu.frt.frc, 7);
    // TCR 1 and 2: one count per 32 and per 128 clocks, remainder carried.
    wb(0x16, 1);
    cpu.frt.step(31 + 32 * 5 + 20);
    EXPECT_EQ(cpu.frt.frc, 13);
    wb(0x16, 2);
    cpu.frt.step(128 - 19);
    EXPECT_EQ(cpu.frt.frc, 14);
    EXPECT_EQ(cpu.frt.remainder, 0u);
    wb(0x16, 3);

    // Reading high then low gives one consistent value.
    cpu.frt.frc = 0x12FF;
    const u8 high = rb(0x12);
    cpu.frt.step(1);
    EXPECT_EQ(high << 8 | rb(0x13), 0x12FF);
    wb(0x12, 0x00);
    wb(0x13, 0xF0);
    EXPECT_EQ(cpu.frt.frc, 0x00F0);

    // Compare A with counter clear, and its interrupt from VCRC and IPRB.
    wb(0x10, 0x08);
    ww(0x60, 0x0200);
    ww(0x66, 0x0062);
    wb(0x14, 0x01);
    wb(0x15, 0x00);
    EXPECT_EQ(cpu.frt.ocra, 0x0100);
    wb(0x11, 0x01);
    cpu.frt.step(0x30);
    EXPECT_EQ(rb(0x11) & 0x08, 0x08);
    EXPECT_EQ(cpu.frt.frc, 0);
    ASSERT_TRUE(cpu.hasPendingInterrupt());
    EXPECT_EQ(cpu.topInterrupt().vector, 0x62);
    EXPECT_EQ(cpu.topInterrupt().level, 2);
    cpu.clearInterrupts();
    // Flags clear by writing 0 after a read.
    wb(0x11, 0x00);
    EXPECT_EQ(rb(0x11), 0x00);

    // Both compares at 0xFFFF and overflow in one step.
    cpu.frt.ocra = 0xFFFF;
    cpu.frt.frc = 0xFFF0;
    cpu.frt.step(0x20);
    EXPECT_EQ(rb(0x11) & 0x0E, 0x0E);
    EXPECT_EQ(cpu.frt.frc, 0x0010);

    // Input capture copies the counter and raises its interrupt.
    wb(0x10, 0x80);
    ww(0x60, 0x0300);
    ww(0x66, 0x6162);
    SH2::onInputCapture(&cpu, 0);
    EXPECT_EQ(rb(0x11) & 0x80, 0x80);
    EXPECT_EQ(rb(0x18) << 8 | rb(0x19), 0x0010);
    ASSERT_TRUE(cpu.hasPendingInterrupt());
    EXPECT_EQ(cpu.topInterrupt().vector, 0x61);
}

// The step after a slice passes the count on alone until it reaches a
// compare value or wraps: one clock short of each sets nothing, the clock
// that reaches it sets its flag, and a compare behind the count stays quiet.
TEST_F(Sh2OnChip, FreeRunningTimerFlagsAtTheExactCount)
{
    wb(0x16, 0);  // one count per 8 clocks
    cpu.frt.ocra = 0x0040;
    cpu.frt.ocrb = 0x0080;
    cpu.frt.frc = 0x0030;
    cpu.frt.step(0x10 * 8 - 1);
    EXPECT_EQ(cpu.frt.frc, 0x003F);
    EXPECT_EQ(cpu.frt.ftcsr, 0);
    cpu.frt.step(1);
    EXPECT_EQ(cpu.frt.frc, 0x0040);
    EXPECT_EQ(cpu.frt.ftcsr, 0x08);
    cpu.frt.ftcsr = 0;
    cpu.frt.step(0x3F * 8);
    EXPECT_EQ(cpu.frt.ftcsr, 0);
    cpu.frt.step(8);
    EXPECT_EQ(cpu.frt.frc, 0x0080);
    EXPECT_EQ(cpu.frt.ftcsr, 0x04);
    cpu.frt.ftcsr = 0;
    cpu.frt.frc = 0xFFFE;
    cpu.frt.step(8);
    EXPECT_EQ(cpu.frt.frc, 0xFFFF);
    EXPECT_EQ(cpu.frt.ftcsr, 0);
    cpu.frt.step(8);
    EXPECT_EQ(cpu.frt.frc, 0x0000);
    EXPECT_EQ(cpu.frt.ftcsr, 0x02);
}

TEST_F(Sh2OnChip, WatchdogIntervalAndReset)
{
    ww(0xE4, 0x4400);
    ww(0xE2, 0x0070);
    ww(0x80, 0xA520);  // interval mode, enabled, clock shift 1
    cpu.wdt.step(600);
    EXPECT_EQ(rb(0x81), 0x2C);
    EXPECT_EQ(cpu.wdt.wtcsr & 0x80, 0x80);
    EXPECT_TRUE(log.contains("WDT Interrupt"));
    ASSERT_TRUE(cpu.hasPendingInterrupt());
    EXPECT_EQ(cpu.topInterrupt().vector, 0x44);
    EXPECT_EQ(cpu.topInterrupt().level, 7);
    cpu.wdt.step(600);
    EXPECT_EQ(rb(0x81), 0x2C);  // stopped while the flag is set

    // The flag clears only after WTCSR has been read.
    cpu.wdt.csrRead = false;
    ww(0x80, 0xA520);
    EXPECT_EQ(cpu.wdt.wtcsr & 0x80, 0x80);
    rb(0x80);
    ww(0x80, 0xA520);
    EXPECT_EQ(cpu.wdt.wtcsr & 0x80, 0);
    ww(0x80, 0x5A10);
    EXPECT_EQ(rb(0x81), 0x10);

    log.clear();
    ww(0x80, 0x1234);
    ww(0x82, 0x1234);
    EXPECT_TRUE(log.contains("WDT: Bad WW to [A: FFFFFE80, D: 1234]"));
    EXPECT_TRUE(log.contains("WDT: Bad WW to RSTCSR [A: FFFFFE82, D: 1234]"));

    // Watchdog mode with reset enabled: a power-on reset.
    m.low.setLong(0, 0x06006000);
    ww(0x82, 0x5A40);
    ww(0x80, 0x5A00);
    ww(0x80, 0xA560);
    cpu.setPC(0x06004000);
    cpu.wdt.step(600);
    EXPECT_EQ(cpu.getPC(), 0x06006000u);
    EXPECT_EQ(cpu.wdt.wtcsr, 0x18);  // the units were reset
}

TEST_F(Sh2OnChip, DmaBlockCopyAndEndInterrupt)
{
    for (u32 i = 0; i < 16; ++i)
        m.ram.setWord(0x06010000 + i * 2, static_cast<u16>(0x1000 + i));
    wl(0x180, 0x06010000);
    wl(0x184, 0x06020000);
    wl(0x188, 16);
    wl(0x1B0, 1);
    wl(0x18C, 0x5401);  // destination and source increment, words
    for (u32 i = 0; i < 16; ++i)
        EXPECT_EQ(m.ram.word(0x06020000 + i * 2), 0x1000 + i);
    EXPECT_EQ(rl(0x188), 0u);
    EXPECT_EQ(rl(0x18C), 0x5403u);
    EXPECT_EQ(rl(0x180), 0x06010000u);
    EXPECT_FALSE(cpu.hasPendingInterrupt());

    // Fixed destination gets the last word; a second start copies nothing.
    wl(0x188, 4);
    wl(0x18C, 0x1401);
    EXPECT_EQ(m.ram.word(0x06020000), 0x1003);
    EXPECT_EQ(m.ram.word(0x06020002), 0x1001);
    wl(0x188, 4);
    wl(0x1B0, 1);
    EXPECT_EQ(rl(0x188), 4u);

    // Blocked by the address-error flag until DMAOR is cleared; end
    // interrupt from VCRDMA1 and IPRA.
    ww(0xE2, 0x0A00);
    wl(0x1A8, 0x71);
    wl(0x190, 0x06010000);
    wl(0x194, 0x06030000);
    wl(0x198, 2);
    cpu.dmac.dmaor = 0x5;  // an address error was flagged
    wl(0x19C, 0x5805);  // longs, interrupt enabled
    EXPECT_EQ(m.ramLong(0x06030000), 0u);
    wl(0x1B0, 0x1);
    EXPECT_EQ(m.ramLong(0x06030004), 0x10021003u);
    ASSERT_TRUE(cpu.hasPendingInterrupt());
    EXPECT_EQ(cpu.topInterrupt().vector, 0x71);
    EXPECT_EQ(cpu.topInterrupt().level, 10);
}

TEST_F(Sh2OnChip, SerialTransmitAndStandbyBits)
{
    wb(0x03, 0x41);
    EXPECT_EQ(rb(0x03), 0x41);
    EXPECT_EQ(rb(0x04) & 0x80, 0);
    wb(0x02, 0x20);
    wb(0x03, 0x42);
    EXPECT_EQ(rb(0x03), 0x00);
    EXPECT_EQ(rb(0x04) & 0x80, 0x80);
    EXPECT_EQ(cpu.sci.shiftByte, 0);
    wb(0x00, 0x02);
    EXPECT_EQ(cpu.sci.divisor, 64u);

    wb(0x91, 0xFF);
    EXPECT_EQ(rb(0x91), 0xDF);

    // SDRAM mode words are chosen by the address alone.
    cpu.setThreshold(2);
    cpu.writeWord(0xFFFF8446, 0);
    EXPECT_EQ(cpu.sdmu.casLatency, 2u);
    EXPECT_EQ(cpu.sdmu.burstLength, 4u);
    EXPECT_TRUE(log.contains("SDMU: Select CAS latency 2, burst length of 4"));
    cpu.writeWord(0xFFFF8888, 0);
    EXPECT_EQ(cpu.sdmu.burstLength, 8u);
    cpu.writeWord(0xFFFF8000, 0x1234);
    EXPECT_TRUE(log.contains("SDMU: Bad WW [A: FFFF8000, D: 1234]"));
    EXPECT_EQ(cpu.sdmu.casLatency, 2u);
}

}  // namespace
