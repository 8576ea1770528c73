#include <gtest/gtest.h>

#include "core/base/scheduler.h"
#include "core/emulator/media.h"
#include "core/machine/machine.h"

namespace {

// As in the device tests: a periodic event stands for the rest of the machine.
class MediaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        scheduler().schedule(0, nullptr, nullptr, Scheduler::kForever, 1000000, 0);
    }
    void TearDown() override { scheduler().clear(); }
};

TEST_F(MediaTest, MediaFlags)
{
    struct Media : CMedia {} m;
    EXPECT_FALSE(m.resume());
    EXPECT_FALSE(m.update());
    m.start();
    EXPECT_FALSE(m.update());
    EXPECT_TRUE(m.resume());
    EXPECT_FALSE(m.resume());
    EXPECT_TRUE(m.update());
    EXPECT_TRUE(m.pause());
    EXPECT_FALSE(m.pause());
    EXPECT_TRUE(m.resume());
    m.stop();
    EXPECT_EQ(m.opened() + m.running(), 0);
    m.start();
    EXPECT_EQ(m.running(), 0);
}

TEST_F(MediaTest, EmuXUpdateRunsOneFieldWhenRunning)
{
    struct Emu : CEmuX {
        explicit Emu(CMachine* machine) { m_machine = machine; }
    };
    CMachine machine("SYSTEM");
    Emu emu(&machine);
    EXPECT_EQ(emu.getInfo(0), "v0.0.0");
    EXPECT_FALSE(emu.update());
    EXPECT_EQ(machine.frameCounter(), 0u);
    emu.start();
    emu.resume();
    EXPECT_TRUE(emu.update());
    EXPECT_TRUE(emu.update());
    EXPECT_EQ(machine.frameCounter(), 2u);
}

}  // namespace
