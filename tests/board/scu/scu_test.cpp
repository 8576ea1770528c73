#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "board/scu/scu.h"
#include "board/sh2/sh2.h"
#include "core/machine/machine.h"
#include "core/base/shared_state.h"
#include "support/log_capture.h"

namespace {

// The SCU with a real master SH-2 that never runs, and the scheduler
// stepped by hand with absolute time kept in the test.
class ScuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        master = std::make_unique<SH2>();
        slave = std::make_unique<SH2>();
        master->setSlave(false);
        slave->setSlave(true);
        scu = std::make_unique<SCU>(nullptr, master.get());
        scu->setClock(72);
        scu->powerOn();
        // Something always pending, like the machine's field events.
        scheduler().schedule(0, nullptr, nullptr, Scheduler::kForever, 1000000, 0);
    }
    void TearDown() override { scheduler().clear(); }

    // Runs an action at an absolute time (a scheduler event).
    void at(u64 time, std::function<void()> action)
    {
        actions.push_back(std::move(action));
        scheduler().schedule(static_cast<u32>(time - now), &ScuTest::fire, this, 1, Scheduler::kOneShot,
                             static_cast<u32>(actions.size() - 1));
    }
    static void fire(void* owner, u32 index) { static_cast<ScuTest*>(owner)->actions[index](); }

    void runTo(u64 end)
    {
        while (now < end) {
            u32 slice = 0;
            scheduler().run(slice);
            scheduler().advance();
            now += slice;
        }
    }

    void runFor(u64 duration) { runTo(now + duration); }

    bool masterHas(int vector) const
    {
        for (const auto& p : master->pendingInterrupts()) {
            if (p.vector == vector)
                return true;
        }
        return false;
    }

    u32 readLong(u32 a, CPU* cpu = nullptr) { return SCU::read32(scu.get(), cpu ? cpu : master.get(), a); }
    void writeLong(u32 a, u32 v, CPU* cpu = nullptr) { SCU::write32(scu.get(), cpu, a, v); }

    std::unique_ptr<SH2> master, slave;
    std::unique_ptr<SCU> scu;
    std::vector<std::function<void()>> actions;
    u64 now = 0;
};

}  // namespace

TEST_F(ScuTest, ResetMasksEverythingAndIstRecordsEveryRequest)
{
    EXPECT_EQ(scu->mask(), 0xBFFFu);
    EXPECT_EQ(scu->ist(), 0u);
    scu->irqVBlankIn();
    scu->irqTimer1();
    scu->irqExternal(15);
    EXPECT_EQ(scu->ist(), 1u << 0 | 1u << 4 | 1u << 31);
    EXPECT_EQ(scu->intc().held().size(), 3u);
    runTo(50000);
    EXPECT_TRUE(master->pendingInterrupts().empty());
}

TEST_F(ScuTest, UnmaskedRequestReachesTheMasterTenMicrosecondsIntoTheSlice)
{
    scu->intc().onMaskWrite(0);
    at(20000, [&] { scu->irqVBlankOut(); });
    at(29999, [&] { EXPECT_FALSE(masterHas(0x41)); });
    at(30001, [&] { EXPECT_TRUE(masterHas(0x41)); });
    runTo(40000);
    EXPECT_TRUE(masterHas(0x41));
    EXPECT_EQ(master->topInterrupt().level, 14);
    EXPECT_TRUE(slave->pendingInterrupts().empty());
    // IST stays set after delivery.
    EXPECT_EQ(scu->ist(), 2u);
}

TEST_F(ScuTest, RequestLateInASliceIsDueAtTheNextCheck)
{
    scu->intc().onMaskWrite(0);
    u32 slice = 0;
    scheduler().run(slice);  // a slice of 1000000 ns begins
    ASSERT_EQ(slice, 1000000u);
    scu->irqSmpc();          // raised by a device 30000 ns or more into it
    scheduler().advance();
    EXPECT_FALSE(masterHas(0x47));
    scheduler().run(slice);
    EXPECT_TRUE(masterHas(0x47));
}

TEST_F(ScuTest, MaskedRequestsWaitAndOpenOnceWithTheLatestLevel)
{
    scu->irqExternal(2);
    scu->irqExternal(2);
    scu->irqSpriteDrawEnd();
    ASSERT_EQ(scu->intc().held().size(), 2u);
    // Opening bit 13 only: the sprite request goes, the external waits behind bit 15.
    writeLong(0x25FE00A0, 0xBFFF & ~(1u << 13));
    runFor(20000);
    EXPECT_TRUE(masterHas(0x4D));
    EXPECT_FALSE(masterHas(0x52));
    EXPECT_EQ(scu->intc().held().size(), 1u);
    // Bits 16 to 31 of the mask have no effect; bit 15 holds all externals.
    writeLong(0x25FE00A0, 0xFFFF0000u | (0xBFFF & ~(1u << 13)));
    runFor(20000);
    EXPECT_FALSE(masterHas(0x52));
    writeLong(0x25FE00A0, 0x7FFF);
    runFor(20000);
    EXPECT_TRUE(masterHas(0x52));
    EXPECT_EQ(scu->mask(), 0x3FFFu);  // bit 14 is never stored
    EXPECT_TRUE(scu->intc().held().empty());
}

TEST_F(ScuTest, ExternalInterruptLevels)
{
    scu->intc().onMaskWrite(0);
    scu->irqExternal(3);
    scu->irqExternal(4);
    scu->irqExternal(8);
    scu->irqExternal(15);
    runTo(50000);
    std::vector<std::pair<int, int>> got;
    for (const auto& p : master->pendingInterrupts())
        got.push_back({p.vector, p.level});
    EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{0x53, 7}, {0x54, 4}, {0x58, 1}, {0x5F, 1}}));
}

TEST_F(ScuTest, OpeningTheMaskWithTheEventPoolFullLosesNothing)
{
    for (int n = 0; n < 16; ++n)
        scu->irqExternal(n);
    scu->irqVBlankIn();
    scu->irqHBlankIn();
    // Fill the pool with far-away events.
    std::vector<EventHandle> fillers;
    while (scheduler().freeCount() > 0)
        fillers.push_back(scheduler().schedule(900000, nullptr, nullptr, 1, Scheduler::kOneShot, 0));
    scu->intc().onMaskWrite(0);
    EXPECT_TRUE(scu->intc().held().empty());
    for (const EventHandle& h : fillers)
        scheduler().cancel(h);
    // The next entry point retries what could not be scheduled.
    scu->onHBlankOut();
    scu->irqTimer0();
    runTo(100000);
    for (int v : {0x40, 0x42, 0x43})
        EXPECT_TRUE(masterHas(v)) << v;
    for (int n = 0; n < 16; ++n)
        EXPECT_TRUE(masterHas(0x50 + n)) << n;
}

TEST_F(ScuTest, RegisterWindow)
{
    LogCapture log;
    scu->irqVBlankIn();
    scu->irqTimer0();
    scu->irqDmaIllegal();
    writeLong(0x25FE00A4, 0);  // clears all
    EXPECT_EQ(scu->ist(), 0u);
    for (int n = 0; n < 16; ++n)
        scu->irqExternal(n);
    scu->irqVBlankIn();
    scu->requestInterrupt(0x4E, 1);
    scu->requestInterrupt(0x4F, 1);
    EXPECT_EQ(scu->ist(), 0xFFFFC001u);
    EXPECT_EQ(readLong(0x25FE00A4), 0xFFFF0001u);
    EXPECT_EQ(readLong(0x25FE00A4) & 0xC000u, 0u);
    EXPECT_EQ(readLong(0x25FE01A4), readLong(0x25FE00A4));
    EXPECT_EQ(SCU::read8(scu.get(), master.get(), 0x25FE00A7), 0x01);
    SCU::write8(scu.get(), master.get(), 0x25FE00A7, 0xFE);
    EXPECT_EQ(scu->ist() & 0xFF, 0u);
    writeLong(0x25FE00A4, 0xFFFFFFFF);
    EXPECT_EQ(scu->ist() & 0xC000u, 0u);
    EXPECT_EQ(scu->ist() & 0xFFFF0000u, 0xFFFF0000u);
    log.clear();

    // The cached view is refused.
    EXPECT_EQ(readLong(0x05FE00A4), 0u);
    writeLong(0x05FE0090, 7);
    EXPECT_EQ(scu->reg(SCU::kT0C), 0u);
    EXPECT_EQ(log.text(),
              "SCU: Address is not a cache-though address [A: 05FE00A4], prohibited!\n"
              "SCU: Address is not a cache-though address [A: 05FE0090], prohibited!\n");
    log.clear();

    // Stored masks and read masks.
    writeLong(0x25FE0000, 0xFFFFFFFF);
    EXPECT_EQ(readLong(0x25FE0000), 0x7FFFFFFu);
    writeLong(0x25FE0008, 0xFFFFFFFF);
    EXPECT_EQ(scu->reg(0x08), 0xFFFFFu);
    writeLong(0x25FE0028, 0xFFFFFFFF);
    EXPECT_EQ(scu->reg(0x28), 0xFFFu);
    writeLong(0x25FE000C, 0xFFFFFFFF);
    EXPECT_EQ(scu->reg(0x0C), 0x107u);
    writeLong(0x25FE0014, 0xFFFFFFFF);
    EXPECT_EQ(scu->reg(0x14), 0x1010107u);
    writeLong(0x25FE0090, 0xFFFF);
    writeLong(0x25FE0094, 0xFFFF);
    writeLong(0x25FE0098, 0xFFFF);
    EXPECT_EQ(scu->reg(SCU::kT0C), 0x3FFu);
    EXPECT_EQ(scu->reg(SCU::kT1S), 0x1FFu);
    EXPECT_EQ(scu->reg(SCU::kT1MD), 0x101u);
    EXPECT_EQ(readLong(0x25FE00C8), 0u);
    EXPECT_EQ(log.text(), "");

    EXPECT_EQ(readLong(0x25FE0008), 0u);
    EXPECT_EQ(readLong(0x25FE0060), 0u);
    writeLong(0x25FE0070, 1);
    writeLong(0x25FE007C, 2);
    writeLong(0x25FE00B0, 0x80000000);
    EXPECT_EQ(readLong(0x25FE00AC), 0u);
    EXPECT_EQ(readLong(0x25FE00D0), 0u);
    writeLong(0x25FE00CC, 3);
    EXPECT_EQ(SCU::read16(scu.get(), master.get(), 0x25FE00A4), 0);
    SCU::write16(scu.get(), master.get(), 0x25FE00A4, 0x1234);
    EXPECT_EQ(SCU::read8(scu.get(), master.get(), 0x25FE00A6), 0);
    EXPECT_EQ(log.text(),
              "SCU: Bad RL [D0C: 000FFFFF], D0C is write-only!\n"
              "SCU: Bad RL [DSTP: 00000000], DSTP is write-only!\n"
              "SCU: Bad WL, DSR is read-only!\n"
              "SCU: Bad WL [DSTA, D: 00000002], DSTA is read-only!\n"
              "SCU: Bad WL [A: 25FE00B0, D: 80000000], setting preread significant bit of ASR0 is prohibited!\n"
              "SCU: Bad RL [A: 25FE00AC], especially prohibited!\n"
              "SCU: Bad RL [A: 25FE00D0]\n"
              "SCU: Bad WL [A: 25FE00CC, D: 00000003]\n"
              "SCU: Bad RW [A: 25FE00A4]\n"
              "SCU: Bad WW [A: 25FE00A4, D: 1234]\n"
              "SCU: Bad RB [A: 25FE00A6]\n");
    EXPECT_EQ(scu->reg(SCU::kASR0), 0u);
}

TEST_F(ScuTest, SlaveAccessesAreReportedAndStillServed)
{
    LogCapture log;
    writeLong(0x25FE0090, 9, slave.get());
    EXPECT_EQ(scu->reg(SCU::kT0C), 9u);
    EXPECT_EQ(SCU::read32(scu.get(), slave.get(), 0x25FE0090), 0u);  // not a readable register
    SCU::read32(scu.get(), slave.get(), 0x25FE007C);
    SCU::read8(scu.get(), slave.get(), 0x25FE00A7);
    SCU::write16(scu.get(), slave.get(), 0x25FE0000, 0xAB);
    EXPECT_EQ(log.text(),
              "SCU: Slave SH2: RL [A:25FE0090]\n"
              "SCU: Bad RL [A: 25FE0090]\n"
              "SCU: Slave SH2: RB [A:25FE00A7]\n"
              "SCU: Slave SH2: WW [A:25FE0000, D: 00AB]\n"
              "SCU: Bad WW [A: 25FE0000, D: 00AB]\n");
}

TEST_F(ScuTest, Timer0ComparesAgainstTheVisibleLineIndex)
{
    writeLong(0x25FE0090, 5);
    scu->onVBlankOut();
    std::vector<int> hits;
    for (int line = 0; line < 242; ++line) {
        writeLong(0x25FE00A4, ~(1u << 3));
        scu->onHBlankIn(line * 2);
        if (scu->ist() & (1u << 3))
            hits.push_back(line);
    }
    EXPECT_EQ(hits, std::vector<int>{5});
    // Beyond the visible lines it never matches in a field.
    writeLong(0x25FE0090, 300);
    scu->onVBlankOut();
    writeLong(0x25FE00A4, 0);
    for (int line = 0; line < 242; ++line)
        scu->onHBlankIn(line * 2);
    EXPECT_EQ(scu->ist() & (1u << 3), 0u);
}

TEST_F(ScuTest, Timer1IsDueItsSetValueInScuClocksAfterHBlankIn)
{
    writeLong(0x25FE0094, 100);
    writeLong(0x25FE0098, 1);
    at(50000, [&] { scu->onHBlankIn(0); });
    at(50000 + 7199, [&] { EXPECT_EQ(scu->ist() & (1u << 4), 0u); });
    at(50000 + 7201, [&] { EXPECT_NE(scu->ist() & (1u << 4), 0u); });
    runTo(60000);
    EXPECT_NE(scu->ist() & (1u << 4), 0u);

    // After a clock change only the SCU's own period counts.
    scu->setPeriod(68);
    writeLong(0x25FE00A4, 0);
    at(100000, [&] { scu->onHBlankIn(2); });
    at(100000 + 6799, [&] { EXPECT_EQ(scu->ist() & (1u << 4), 0u); });
    at(100000 + 6801, [&] { EXPECT_NE(scu->ist() & (1u << 4), 0u); });
    runTo(110000);

    // A set value of 0 fires at once.
    writeLong(0x25FE0094, 0);
    writeLong(0x25FE00A4, 0);
    scu->onHBlankIn(4);
    EXPECT_NE(scu->ist() & (1u << 4), 0u);

    // Mode 0x101 starts timer 1 only on a timer 0 match.
    writeLong(0x25FE0098, 0x101);
    writeLong(0x25FE0090, 1000);
    writeLong(0x25FE00A4, 0);
    scu->onHBlankIn(6);
    EXPECT_EQ(scu->ist() & (1u << 4), 0u);
}
