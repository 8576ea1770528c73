#include <gtest/gtest.h>

#include <QKeyEvent>

#include "platform/audio_loop.h"
#include "platform/host_time.h"
#include "platform/key_codes.h"

// Linux input codes, from <linux/input-event-codes.h>.
constexpr u32 kEvdevW = 17;
constexpr u32 kEvdevKpEnter = 96;
constexpr u32 kEvdevRightAlt = 100;
constexpr u32 kEvdevUp = 103;

TEST(KeyCodes, EvdevAndQtCodesReachTheSameHostKeys)
{
    EXPECT_EQ(hostKeyFromEvdev(1), HostKey::kEscape);
    EXPECT_EQ(hostKeyFromEvdev(kEvdevW), HostKey::kW);
    EXPECT_EQ(hostKeyFromEvdev(kEvdevUp), HostKey::kUp);
    EXPECT_EQ(hostKeyFromEvdev(kEvdevKpEnter), HostKey::kNumpadEnter);
    EXPECT_EQ(hostKeyFromEvdev(kEvdevRightAlt), HostKey::kRMenu);
    EXPECT_EQ(hostKeyFromEvdev(0), 0);
    EXPECT_EQ(hostKeyFromEvdev(250), 0);

    EXPECT_EQ(hostKeyFromQt(Qt::Key_W, false), HostKey::kW);
    EXPECT_EQ(hostKeyFromQt(Qt::Key_Up, false), HostKey::kUp);
    EXPECT_EQ(hostKeyFromQt(Qt::Key_Up, true), HostKey::kNumpad8);
    EXPECT_EQ(hostKeyFromQt(Qt::Key_F12, false), HostKey::kF12);
    EXPECT_EQ(hostKeyFromQt(Qt::Key_Enter, true), HostKey::kNumpadEnter);

    // The offscreen platform gives no scan codes: the Qt key decides.
    const QKeyEvent synthetic(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier);
    EXPECT_EQ(hostKeyOf(synthetic), HostKey::kS);
}

TEST(HostTime, ProcessTimesGrowWithWork)
{
    host::CpuTimes before;
    ASSERT_TRUE(host::readCpuTimes(before));
    volatile u64 sink = 0;
    const u64 start = host::steadyNs();
    while (host::steadyNs() - start < 20000000)
        sink = sink + 1;
    host::CpuTimes after;
    ASSERT_TRUE(host::readCpuTimes(after));
    EXPECT_GT(after.processUser + after.processKernel, before.processUser + before.processKernel);
    EXPECT_GE(after.systemIdle, before.systemIdle);
}

TEST(AudioLoop, FallsBackToTheDummyDriverWithoutADevice)
{
    setenv("SDL_AUDIODRIVER", "nosuchdriver", 1);
    AudioLoop loop;
    ASSERT_TRUE(loop.open(11762));
    EXPECT_EQ(loop.driver(), "dummy");
    EXPECT_EQ(loop.size(), 11760u);
    EXPECT_EQ(loop.playPosition(), 0u);
    unsetenv("SDL_AUDIODRIVER");
}
