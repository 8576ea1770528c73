#include <gtest/gtest.h>

#include "core/base/device.h"

namespace {

// Consumes its clocks one at a time so a cut lands between "instructions".
class Stepper : public Device {
public:
    using Device::Device;
    u32 execute(u32) override
    {
        while (m_clocksLeft > 0) {
            --m_clocksLeft;
            ++steps;
            if (steps == cutAt)
                limitBudget(cutOffset);
            if (steps == scheduleAt)
                handle = scheduleIn(scheduleOffset, nullptr, nullptr, 1, Scheduler::kOneShot, 0);
        }
        return clocksUsed();
    }
    u32 steps = 0;
    u32 cutAt = 0, cutOffset = 0;
    u32 scheduleAt = 0, scheduleOffset = 0;
    EventHandle handle;
};

class DeviceTest : public ::testing::Test {
protected:
    // The first event of an empty list becomes the head whatever its time,
    // so a periodic event stands for the rest of the machine.
    void SetUp() override
    {
        scheduler().clear();
        scheduler().schedule(0, nullptr, nullptr, Scheduler::kForever, 1000000, 0);
    }
    void TearDown() override { scheduler().clear(); }
};

}  // namespace

TEST_F(DeviceTest, PeriodsAreTruncatedNanoseconds)
{
    Device d("D");
    d.setFrequency(53693181);
    EXPECT_EQ(d.period(), 18u);
    d.setFrequency(13500000);
    EXPECT_EQ(d.period(), 74u);
    d.setFrequency(57272727);
    EXPECT_EQ(d.period(), 17u);
    d.setFrequency(28636363);
    EXPECT_EQ(d.period(), 34u);
}

TEST_F(DeviceTest, RunUntilRoundsClocksUp)
{
    Stepper d("D");
    d.setPeriod(18);
    EXPECT_EQ(d.runUntil(100), 108u);
    EXPECT_EQ(d.steps, 6u);
    d.steps = 0;
    d.setLocalTime(90);
    EXPECT_EQ(d.runUntil(108), 18u);
    EXPECT_EQ(d.steps, 1u);
}

// Records the budget it is given and uses none of it.
struct BudgetProbe : Device {
    using Device::Device;
    u32 execute(u32 clocks) override { return given = clocks, 0; }
    u32 given = 0;
};

TEST_F(DeviceTest, RunUntilBudgetsMatchTheDivisionForEveryPeriodAndSpan)
{
    // The chips' periods, both ends of the range and powers of two with
    // their neighbours, each new one taking effect at once; spans on both
    // sides of multiples up to 2^32 - 1.
    BudgetProbe d("D");
    for (const u32 period : {0u, 1u, 2u, 3u, 17u, 34u, 88u, 127u, 128u, 129u, 3779u, 1000003u, 0x7FFFFFFFu,
                             0x80000000u, 0xFFFFFFFFu}) {
        d.setPeriod(period);
        const u64 divisor = period ? period : 1;
        for (const u64 k : {u64{0}, u64{1}, u64{113}, u64{0xFFFFFFFF} / divisor}) {
            for (const u64 span : {k * divisor, k * divisor + 1, k * divisor + divisor - 1, k * divisor - 1}) {
                if (span > 0xFFFFFFFF)
                    continue;
                d.runUntil(static_cast<u32>(span));
                EXPECT_EQ(d.given, static_cast<u32>((span + divisor - 1) / divisor)) << period << " " << span;
            }
        }
    }
}

TEST_F(DeviceTest, LimitBudgetInsideExecute)
{
    Stepper d("D");
    d.setPeriod(10);
    d.cutAt = 3;
    d.cutOffset = 0;  // stop after the present instruction
    EXPECT_EQ(d.runUntil(1000), 30u);
    EXPECT_EQ(d.steps, 3u);

    Stepper e("E");
    e.setPeriod(10);
    e.cutAt = 3;
    e.cutOffset = 25;  // three more clocks
    EXPECT_EQ(e.runUntil(1000), 60u);
    EXPECT_EQ(e.steps, 6u);
}

TEST_F(DeviceTest, ScheduleInCutsTheOwnBudgetOnlyInsideTheSlice)
{
    Stepper d("D");
    d.setPeriod(10);
    d.setLocalTime(5);
    d.scheduleAt = 2;
    d.scheduleOffset = 40;
    EXPECT_EQ(d.runUntil(505), 60u);  // 2 clocks, then 4 more up to the event
    EXPECT_EQ(scheduler().timeOf(d.handle), 5 + 20 + 40u);

    Stepper e("E");
    e.setPeriod(10);
    e.scheduleAt = 2;
    e.scheduleOffset = 1000;  // past the slice: no cut
    EXPECT_EQ(e.runUntil(100), 100u);
    EXPECT_EQ(e.steps, 10u);
}

TEST_F(DeviceTest, OutsideExecuteThePositionIsTheLocalTime)
{
    Stepper d("D");
    d.setPeriod(10);
    d.runUntil(1000);
    d.setLocalTime(30);
    const EventHandle h = d.scheduleIn(100, nullptr, nullptr, 1, Scheduler::kOneShot, 0);
    // No stale count from the last slice moves the event.
    EXPECT_EQ(scheduler().timeOf(h), 130u);
}

TEST_F(DeviceTest, LifeCycleHelpers)
{
    struct Counting : Device {
        using Device::Device;
        void powerOn() override { ++on; }
        void powerOff() override { ++off; }
        void reset() override { ++resets; }
        int on = 0, off = 0, resets = 0;
    } d("D");
    d.setLocalTime(77);
    d.switchOn();
    EXPECT_EQ(d.localTime(), 0u);
    EXPECT_EQ(d.runState(), kRunning);
    d.halt();
    EXPECT_EQ(d.runState(), kHalted);
    d.resume();
    EXPECT_EQ(d.runState(), kRunning);
    d.setLocalTime(9);
    d.restart();
    EXPECT_EQ(d.localTime(), 0u);
    d.switchOff();
    EXPECT_EQ(d.runState(), kOff);
    EXPECT_EQ(d.on + d.off + d.resets, 3);
}

TEST_F(DeviceTest, CallHooksCallsEveryHook)
{
    struct Counter : Hook {
        Counter(bool answer) : Hook("H"), answer(answer) {}
        bool onHook(Device*) override { ++calls; return answer; }
        bool answer;
        int calls = 0;
    };
    Device d("D");
    Counter yes1(true), yes2(true), no(false);
    EXPECT_FALSE(d.callHooks(&d));
    d.attachHook(&yes1);
    d.attachHook(nullptr);
    d.attachHook(&yes2);
    EXPECT_TRUE(d.callHooks(&d));
    EXPECT_EQ(yes1.calls + yes2.calls, 2);
    Device e("E");
    e.attachHook(&no);
    EXPECT_FALSE(e.callHooks(&e));
}

