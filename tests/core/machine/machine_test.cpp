#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/machine/machine.h"
#include "support/log_capture.h"

namespace {

// A time-sliced device that records each runUntil call and can stop short
// or raise a break after a given number of clocks.
class Recorder : public Device {
public:
    explicit Recorder(const char* name) : Device(name) { setPeriod(1); }

    struct Call {
        u32 start;
        u32 end;
    };

    u32 execute(u32 clocks) override
    {
        calls.push_back({m_localTime, m_sliceEnd});
        if (stopAfter) {
            const u32 used = std::min(clocks, stopAfter);
            stopAfter = 0;
            m_clocksLeft -= static_cast<s32>(used);
            limitBudget(0);
            if (breakThere)
                debugBreak = 1;
            total += used;
            return clocksUsed();
        }
        if (idle)
            return 0;
        total += clocks;
        m_clocksLeft = 0;
        return clocks;
    }

    std::vector<Call> calls;
    u32 stopAfter = 0;
    bool breakThere = false;
    bool idle = false;
    u64 total = 0;
};

class CountingMachine : public CMachine {
public:
    CountingMachine() : CMachine("SYSTEM") {}
    void onVBlankIn(u32) override { ++vblankIn; }
    void onVBlankOut(u32) override { ++vblankOut; }
    void onHBlankIn(u32) override { ++hblankIn; }
    void onField(u32 a) override
    {
        ++fields;
        CMachine::onField(a);
    }
    int vblankIn = 0, vblankOut = 0, hblankIn = 0, fields = 0;
};

constexpr u32 kNtscVblankNs = 1269840;
constexpr u32 kNtscFieldNs = 16666650;

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        machine = std::make_unique<CountingMachine>();
        for (Recorder* r : {&a, &b, &c}) {
            machine->addSlicedDevice(r);
            r->switchOn();
        }
        machine->powerOn();
    }
    void TearDown() override
    {
        machine.reset();
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
    }

    Recorder a{"A"}, b{"B"}, c{"C"};
    std::unique_ptr<CountingMachine> machine;
};

}  // namespace

TEST_F(MachineTest, FirstPassOfAFieldOnlyFiresTheFieldEvent)
{
    machine->runFrame();
    EXPECT_EQ(machine->fields, 1);
    EXPECT_EQ(machine->vblankIn, 0);
    EXPECT_TRUE(a.calls.empty());
    EXPECT_EQ(machine->frameCounter(), 1u);

    machine->runFrame();
    EXPECT_EQ(machine->vblankIn, 1);
    EXPECT_EQ(machine->vblankOut, 1);
    EXPECT_EQ(machine->hblankIn, 242);
    EXPECT_EQ(machine->fields, 2);
    EXPECT_EQ(a.total, kNtscFieldNs);
    EXPECT_EQ(c.total, kNtscFieldNs);
}

TEST_F(MachineTest, ADeviceCutAtTStopsTheLaterDevicesAtT)
{
    machine->runFrame();
    a.stopAfter = 1000;
    machine->runFrame();
    ASSERT_GE(b.calls.size(), 2u);
    EXPECT_EQ(b.calls[0].end, 1000u);
    EXPECT_EQ(c.calls[0].end, 1000u);
    // The rest of the first slice became a slice of its own, starting at t.
    EXPECT_EQ(a.calls[1].start, 0u);
    EXPECT_EQ(a.calls[1].end, kNtscVblankNs - 1000);
    EXPECT_EQ(b.calls[1].end, kNtscVblankNs - 1000);
    EXPECT_EQ(a.total, kNtscFieldNs);
    EXPECT_EQ(b.total, kNtscFieldNs);
    EXPECT_EQ(machine->vblankOut, 1);
}

TEST_F(MachineTest, BreakLeavesTheSliceResumable)
{
    LogCapture log;
    machine->runFrame();
    b.stopAfter = 500;
    b.breakThere = true;
    machine->runFrame();
    EXPECT_EQ(debugStopped, 1);
    EXPECT_EQ(sliceResume, 1);
    EXPECT_EQ(machine->vblankIn, 1);
    EXPECT_TRUE(c.calls.empty());
    EXPECT_EQ(machine->frameCounter(), 2u);

    // While the break holds, a pass runs nothing but still counts.
    machine->runFrame();
    EXPECT_EQ(machine->frameCounter(), 3u);
    EXPECT_EQ(b.calls.size(), 1u);

    debugBreak = 0;
    machine->runFrame();
    EXPECT_EQ(machine->vblankIn, 1);  // the slice's event did not fire again
    EXPECT_EQ(b.calls[1].start, 500u);
    EXPECT_EQ(b.calls[1].end, kNtscVblankNs);
    EXPECT_EQ(c.calls[0].start, 0u);
    EXPECT_EQ(c.calls[0].end, kNtscVblankNs);
    EXPECT_EQ(a.calls.size(), b.calls.size() - 1);  // A had finished the broken slice
    EXPECT_EQ(a.total, kNtscFieldNs);
    EXPECT_EQ(b.total, kNtscFieldNs);
    EXPECT_EQ(c.total, kNtscFieldNs);
    EXPECT_EQ(machine->vblankOut, 1);
}

TEST_F(MachineTest, ABreakAtTheSliceEndStillStops)
{
    machine->runFrame();
    c.stopAfter = kNtscVblankNs;  // runs its whole slice, then breaks
    c.breakThere = true;
    machine->runFrame();
    EXPECT_EQ(debugStopped, 1);
    EXPECT_EQ(machine->vblankOut, 0);
    debugBreak = 0;
    machine->runFrame();
    EXPECT_EQ(machine->vblankOut, 1);
    EXPECT_EQ(c.total, kNtscFieldNs);
    EXPECT_EQ(a.total, kNtscFieldNs);
}

TEST_F(MachineTest, ADeviceThatUsesNoClockDoesNotFreezeTime)
{
    machine->runFrame();
    a.idle = true;
    machine->runFrame();
    EXPECT_EQ(machine->fields, 2);
    EXPECT_EQ(b.total, kNtscFieldNs);
}

TEST_F(MachineTest, HaltedDevicesOnlyMoveTime)
{
    machine->runFrame();
    b.halt();
    machine->runFrame();
    EXPECT_TRUE(b.calls.empty());
    EXPECT_EQ(b.localTime(), 0u);
    EXPECT_EQ(c.total, kNtscFieldNs);
}

TEST_F(MachineTest, FrameLineAtLevelTwo)
{
    LogCapture log;
    machine->runFrame();
    EXPECT_EQ(log.text(), "");
    machine->setThreshold(2);
    machine->runFrame();
    EXPECT_EQ(log.text(), "SYSTEM: Frame: 1, Field: odd\n");
}

TEST(SampleBuffer, TakeGivesWhatWasWrittenAndEmpties)
{
    SampleBuffer buffer;
    for (s16 i = 0; i < 4; ++i) {
        const s16 pair[2] = {i, static_cast<s16>(-i)};
        buffer.push(pair);
    }
    s16 out[20] = {};
    EXPECT_EQ(buffer.take(out, 10), 4u);
    // Stored as (second, first).
    EXPECT_EQ(out[2], -1);
    EXPECT_EQ(out[3], 1);
    EXPECT_EQ(buffer.take(out, 10), 0u);
}

TEST(SampleBuffer, RingWrapsFullDropsTheNewestAndADropSkipsWhatWasWritten)
{
    SampleBuffer buffer;
    std::vector<s16> out(SampleBuffer::kPairs * 2);
    auto push = [&](u32 i) {
        const s16 pair[2] = {static_cast<s16>(i), static_cast<s16>(~i)};
        buffer.push(pair);
    };
    // Start three quarters in, so the next takes run across the ring's end.
    for (u32 i = 0; i < SampleBuffer::kPairs * 3 / 4; ++i)
        push(i);
    EXPECT_EQ(buffer.take(nullptr, SampleBuffer::kPairs), 0u);
    EXPECT_EQ(buffer.pending(), 0u);
    // A whole ring and ten more: the ten are lost, the ring keeps its order.
    for (u32 i = 0; i < SampleBuffer::kPairs + 10; ++i)
        push(i);
    EXPECT_EQ(buffer.pending(), SampleBuffer::kPairs);
    // Beyond maxPairs the take drops the rest.
    ASSERT_EQ(buffer.take(out.data(), SampleBuffer::kPairs - 1), SampleBuffer::kPairs - 1);
    for (u32 i = 0; i < SampleBuffer::kPairs - 1; ++i) {
        ASSERT_EQ(out[i * 2], static_cast<s16>(~i)) << i;
        ASSERT_EQ(out[i * 2 + 1], static_cast<s16>(i)) << i;
    }
    EXPECT_EQ(buffer.take(out.data(), 10), 0u);
    // The writer's drop: the next take starts after it, once.
    push(1);
    push(2);
    buffer.drop();
    push(3);
    EXPECT_EQ(buffer.pending(), 1u);
    ASSERT_EQ(buffer.take(out.data(), 10), 1u);
    EXPECT_EQ(out[1], 3);
    push(4);
    ASSERT_EQ(buffer.take(out.data(), 10), 1u);
    EXPECT_EQ(out[1], 4);
}

TEST(SampleBuffer, TwoThreadsLoseAndTearNothing)
{
    SampleBuffer buffer;
    constexpr u32 kTotal = 400000;
    std::atomic<bool> done{false};
    std::vector<s16> received;
    received.reserve(kTotal * 2);

    std::thread feeder([&] {
        std::vector<s16> chunk(SampleBuffer::kPairs * 2);
        while (!done.load() || buffer.pending()) {
            const u32 n = buffer.take(chunk.data(), SampleBuffer::kPairs);
            received.insert(received.end(), chunk.begin(), chunk.begin() + n * 2);
            if (n == 0)
                std::this_thread::yield();
        }
    });
    for (u32 i = 0; i < kTotal; ++i) {
        // The emulation side would drop pairs if it ran a whole buffer ahead.
        while (buffer.pending() >= SampleBuffer::kPairs - 1)
            std::this_thread::yield();
        const s16 pair[2] = {static_cast<s16>(i), static_cast<s16>(~i)};
        buffer.push(pair);
    }
    done = true;
    feeder.join();

    ASSERT_EQ(received.size(), kTotal * 2);
    for (u32 i = 0; i < kTotal; ++i) {
        ASSERT_EQ(received[i * 2], static_cast<s16>(~i)) << i;
        ASSERT_EQ(received[i * 2 + 1], static_cast<s16>(i)) << i;
    }
}
