#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "core/machine/machine.h"
#include "platform/host_time.h"
#include "support/files.h"
#include "support/process.h"
#include "ui/host/host_sound.h"

// SDL's disk driver writes what the device plays to a raw file at about
// the device's pace. The left channel carries a 1 kHz tone, the right a
// frame counter, so order and repeats show in the file.
TEST(HostSound, ToneArrivesInOrderThroughTheDiskDriverAndUnderrunIsSilent)
{
    TempDir dir;
    const std::string raw = dir.file("out.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);

    CMachine machine("MACHINE");
    DSound sound(machine);
    ASSERT_TRUE(sound.init(nullptr));
    ASSERT_EQ(sound.output().driver(), "disk");
    sound.start();
    ASSERT_TRUE(sound.resume());

    constexpr u32 kFrames = 22050;  // half a second
    const u64 start = host::steadyNs();
    u32 pushed = 0;
    while (pushed < kFrames) {
        const u64 due = (host::steadyNs() - start) * 44100 / 1000000000;
        for (; pushed < kFrames && pushed < due; ++pushed) {
            const s16 tone = static_cast<s16>(8000 * std::sin(2 * M_PI * 1000.0 * pushed / 44100.0));
            const s16 pair[2] = {static_cast<s16>(pushed + 1), tone};  // stored swapped: tone left
            machine.pushSample(pair);
        }
        host::sleepMs(2);
    }
    host::sleepMs(400);  // the machine sends nothing more: an underrun
    sound.stop();
    sound.close();
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");

    const std::vector<u8> bytes = readBytes(raw);
    ASSERT_GT(bytes.size(), kFrames * 4u);
    const auto* frames = reinterpret_cast<const s16*>(bytes.data());
    const std::size_t count = bytes.size() / 4;
    std::vector<s16> tone;
    s32 last = 0;
    std::size_t lastAt = 0, steps = 0, ones = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const s32 counter = frames[2 * i + 1];
        if (counter == 0) {
            EXPECT_EQ(frames[2 * i], 0) << "frame " << i;  // silence, not old sound
            continue;
        }
        ASSERT_GT(counter, last) << "frame " << i << " repeats or reorders";
        ones += counter == last + 1;
        ++steps;
        last = counter;
        lastAt = i;
        tone.push_back(frames[2 * i]);
    }
    EXPECT_GT(ones * 10, steps * 9);
    EXPECT_GT(last, static_cast<s32>(kFrames * 9 / 10));
    EXPECT_GT(count - lastAt, 44100u / 10);  // the underrun's silence reached the file

    const std::string left = dir.file("tone.raw");
    std::ofstream(left, std::ios::binary)
        .write(reinterpret_cast<const char*>(tone.data()), static_cast<std::streamsize>(tone.size() * 2));
    const std::string stat = runCommand("sox -t raw -r 44100 -e signed -b 16 -c 1 " + left + " -n stat 2>&1");
    const std::size_t at = stat.find("Rough   frequency:");
    ASSERT_NE(at, std::string::npos) << stat;
    const double frequency = std::atof(stat.c_str() + at + 18);
    EXPECT_NEAR(frequency, 1000.0, 50.0) << stat;
}
