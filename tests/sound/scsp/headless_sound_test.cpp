// End to end: a BIOS image copies a 68000 sound driver into sound memory
// and starts it with the SMPC's SNDON; kest-headless writes the WAV.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/bus.h"
#include "core/helpers.h"
#include "scsp_testbench.h"
#include "support/files.h"

namespace {

constexpr u32 kBiosSize = 0x80000;
constexpr u32 kDriverInImage = 0x40000;

struct Wav {
    u32 channels = 0, rate = 0, bits = 0;
    std::vector<s16> left, right;
};

// A canonical 44-byte header, then interleaved little-endian pairs.
Wav readWav(const std::vector<u8>& f)
{
    Wav w;
    if (f.size() < 44 || std::string(f.begin() + 8, f.begin() + 16) != "WAVEfmt " ||
        loadBe32(&f[36]) != 0x64617461 /* "data" */ || static_cast<std::size_t>(f[40] | f[41] << 8 | f[42] << 16) != f.size() - 44)
        return w;
    w.channels = f[22];
    w.rate = f[24] | f[25] << 8 | f[26] << 16;
    w.bits = f[34];
    for (std::size_t at = 44; at + 4 <= f.size(); at += 4) {
        w.left.push_back(static_cast<s16>(f[at] | f[at + 1] << 8));
        w.right.push_back(static_cast<s16>(f[at + 2] | f[at + 3] << 8));
    }
    return w;
}

}  // namespace

TEST(ScspHeadless, SoundDriverStartedBySndonPlaysItsToneAndCountsTimerInterrupts)
{
    std::vector<u8> image = loadProgram("sh2", "sound_loader");
    const std::vector<u8> driver = loadProgram("m68k", "sound_driver");
    ASSERT_FALSE(image.empty());
    ASSERT_FALSE(driver.empty());
    ASSERT_LE(driver.size(), 0x2000u);
    image.resize(kBiosSize);
    std::copy(driver.begin(), driver.end(), image.begin() + kDriverInImage);

    TempDir dir;
    ASSERT_TRUE(saveFile(dir.file("loader.bin"), image.data(), kBiosSize));
    const std::string ini =
        "[Path]\r\nsat_bios = " + dir.file("loader.bin") + "\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless --data " + dir.path().string() +
                                " --fields 60 --wav " + dir.file("out.wav") + " --dump 0x05A07000:4:" +
                                dir.file("count.bin") + " > " + dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<u8> logBytes = readBytes(dir.file("log.txt"));
    const std::string log(logBytes.begin(), logBytes.end());
    EXPECT_NE(log.find("SMPC: SNDON\n"), std::string::npos) << log.substr(0, 2000);
    EXPECT_EQ(log.find("Bad "), std::string::npos) << log.substr(0, 2000);

    const Wav wav = readWav(readBytes(dir.file("out.wav")));
    EXPECT_EQ(wav.rate, 44100u);
    EXPECT_EQ(wav.channels, 2u);
    EXPECT_EQ(wav.bits, 16u);
    // 60 fields of 16.67 ms (the first pass only starts one) at one sample every 22674 ns.
    ASSERT_NEAR(static_cast<double>(wav.left.size()), 60 * 16666650.0 / 22674, 2);
    // A 32-sample ramp at half speed times 1.25: 861.3 Hz, in both channels.
    const double expected = 44100 * 0.5 * 1.25 / 32;
    const std::size_t from = wav.left.size() - 16384;
    EXPECT_NEAR(dominantHz(wav.left, from, 16384), expected, expected * 0.003);
    EXPECT_NEAR(dominantHz(wav.right, from, 16384), expected, expected * 0.003);
    EXPECT_NEAR(rms(wav.left, from, wav.left.size()), 18900, 500);

    // Timer A fires every 256 samples once the driver has enabled it.
    const std::vector<u8> count = readBytes(dir.file("count.bin"));
    ASSERT_EQ(count.size(), 4u);
    const double interrupts = loadBe32(count.data());
    EXPECT_LE(interrupts, wav.left.size() / 256.0);
    EXPECT_GE(interrupts, wav.left.size() / 256.0 - 8);
}
