// End to end: BIOS images of our own start a 68000 sound driver or play a
// disc's CD audio; kest-headless writes the WAV.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/base/bus.h"
#include "core/base/helpers.h"
#include "scsp_testbench.h"
#include "support/files.h"

namespace {

constexpr u32 kBiosSize = 0x80000;
constexpr u32 kDriverInImage = 0x40000;

constexpr u32 kPairsPerSector = 588;
constexpr u32 kDiscSectors = 150;

// A 68000 driver of tests/programs/m68k run for some fields, started by
// the loader image's SNDON; its results are dumped from sound memory 0x7000.
struct DriverRun {
    std::string log;
    Wav wav;
    std::vector<u8> results;
};

DriverRun runDriver(const std::string& name, u32 fields, u32 resultBytes)
{
    DriverRun run;
    std::vector<u8> image = loadProgram("sh2", "sound_loader");
    const std::vector<u8> driver = loadProgram("m68k", name);
    EXPECT_FALSE(image.empty());
    EXPECT_FALSE(driver.empty());
    if (image.empty() || driver.empty() || driver.size() > 0x2000u)
        return run;
    image.resize(kBiosSize);
    std::copy(driver.begin(), driver.end(), image.begin() + kDriverInImage);

    TempDir dir;
    EXPECT_TRUE(saveFile(dir.file("loader.bin"), image.data(), kBiosSize));
    const std::string ini =
        "[Path]\r\nsat_bios = " + dir.file("loader.bin") + "\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\n";
    EXPECT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless --data " + dir.path().string() +
                                " --fields " + std::to_string(fields) + " --wav " + dir.file("out.wav") +
                                " --dump 0x05A07000:" + std::to_string(resultBytes) + ":" + dir.file("results.bin") +
                                " > " + dir.file("log.txt") + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::vector<u8> logBytes = readBytes(dir.file("log.txt"));
    run.log.assign(logBytes.begin(), logBytes.end());
    run.wav = readWav(readBytes(dir.file("out.wav")));
    run.results = readBytes(dir.file("results.bin"));
    return run;
}

}  // namespace

TEST(ScspHeadless, SoundDriverStartedBySndonPlaysItsToneAndCountsTimerInterrupts)
{
    const DriverRun run = runDriver("sound_driver", 60, 4);
    const std::string& log = run.log;
    EXPECT_NE(log.find("SMPC: SNDON\n"), std::string::npos) << log.substr(0, 2000);
    EXPECT_EQ(log.find("Bad "), std::string::npos) << log.substr(0, 2000);

    const Wav& wav = run.wav;
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
    const std::vector<u8>& count = run.results;
    ASSERT_EQ(count.size(), 4u);
    const double interrupts = loadBe32(count.data());
    EXPECT_LE(interrupts, wav.left.size() / 256.0);
    EXPECT_GE(interrupts, wav.left.size() / 256.0 - 8);
}

// The voice-sharing driver finds its free voices through the slot monitor:
// every note gets a voice, and a voice comes back only after its release
// has been heard falling to silence.
TEST(ScspHeadless, DriverFreesVoicesByPollingTheSlotMonitor)
{
    const DriverRun run = runDriver("voice_driver", 60, 0x300);
    ASSERT_EQ(run.results.size(), 0x300u) << run.log.substr(0, 2000);
    EXPECT_EQ(run.log.find("Bad "), std::string::npos) << run.log.substr(0, 2000);
    const u8* r = run.results.data();
    const u32 ticks = loadBe32(r);
    ASSERT_GT(ticks, 150u);
    EXPECT_EQ(loadBe16(r + 4), (ticks + 7) / 8) << "notes started";
    EXPECT_EQ(loadBe16(r + 6), 0) << "notes without a voice";
    EXPECT_GE(loadBe16(r + 8), loadBe16(r + 4) - 4) << "voices freed";

    // Voice 0 tick by tick: held at full level in decay 2, then the release
    // (phase 3) rising through the attenuations to 31, then the next note.
    int releases = 0, falling = 0, reuses = 0;
    u16 was = 0x007F;
    for (u32 t = 0; t < std::min(ticks, 256u); ++t) {
        const u16 m = loadBe16(r + 0x100 + 2 * t) & 0x7F;
        if (m == 0x40 && was == 0x7F)
            ++reuses;
        else if ((m & 0x60) == 0x60 && (m & 31) > 0 && (m & 31) < 31)
            ++falling;
        else if (m == 0x7F && was != 0x7F)
            ++releases;
        ASSERT_TRUE(m == 0x40 || (m & 0x60) == 0x60) << "tick " << t << ": " << std::hex << m;
        was = m;
    }
    EXPECT_GE(reuses, 5);
    EXPECT_GE(releases, 5);
    EXPECT_GE(falling, 5 * releases) << "a release lasts 85 ms, about 14 ticks";
}

// A disc of one audio track, 440 Hz on the left and 880 Hz on the right,
// played by a BIOS image of our own through the CD block.
TEST(ScspHeadless, CdAudioTrackPlaysInOrderLeftAndRightThenFallsSilent)
{
    constexpr u32 kPairs = kDiscSectors * kPairsPerSector;
    std::vector<s16> discLeft(kPairs), discRight(kPairs);
    std::vector<u8> bin(kPairs * 4);
    for (u32 n = 0; n < kPairs; ++n) {
        // Offset phases keep (0, 0) out of the disc, so it can only mean silence.
        discLeft[n] = static_cast<s16>(std::lround(12000 * std::sin(2 * M_PI * 440 * n / 44100.0 + 0.5)));
        discRight[n] = static_cast<s16>(std::lround(9000 * std::sin(2 * M_PI * 880 * n / 44100.0 + 1.0)));
        const u16 l = static_cast<u16>(discLeft[n]), r = static_cast<u16>(discRight[n]);
        bin[4 * n] = static_cast<u8>(l), bin[4 * n + 1] = static_cast<u8>(l >> 8);
        bin[4 * n + 2] = static_cast<u8>(r), bin[4 * n + 3] = static_cast<u8>(r >> 8);
    }
    std::vector<u8> image = loadProgram("sh2", "cd_audio_player");
    ASSERT_EQ(image.size(), kBiosSize);
    TempDir dir;
    const std::string cue = "FILE \"tone.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
    const std::string ini = "[Path]\r\nsat_bios = " + dir.file("player.bin") + "\r\n[General]\r\nkest_bios = 0\r\n";
    ASSERT_TRUE(saveFile(dir.file("tone.bin"), bin.data(), static_cast<u32>(bin.size())));
    ASSERT_TRUE(saveFile(dir.file("tone.cue"), cue.data(), static_cast<u32>(cue.size())));
    ASSERT_TRUE(saveFile(dir.file("player.bin"), image.data(), kBiosSize));
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless --data " + dir.path().string() +
                                " --fields 200 --wav " + dir.file("out.wav") + " " + dir.file("tone.cue") + " > " +
                                dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<u8> logBytes = readBytes(dir.file("log.txt"));
    const std::string log(logBytes.begin(), logBytes.end());
    ASSERT_NE(log.find("CdPlay<END>"), std::string::npos) << log.substr(0, 3000);

    const Wav wav = readWav(readBytes(dir.file("out.wav")));
    std::size_t at = 0;
    while (at < wav.left.size() && wav.left[at] == 0 && wav.right[at] == 0)
        ++at;
    ASSERT_GT(wav.left.size(), at + 8192) << "no audio";
    const std::size_t start = at;
    EXPECT_NEAR(dominantHz(wav.left, start + 4096, 8192), 440, 440 * 0.005);
    EXPECT_NEAR(dominantHz(wav.right, start + 4096, 8192), 880, 880 * 0.005);

    // At full master volume the sound chip passes the disc's samples through
    // unchanged: heard in order, none twice. Where the sound chip catches up
    // with the drive (it reads 3.4 pairs a second faster) or the drive thread
    // falls behind, it hears silence.
    u32 next = 0;
    u32 gaps = 0;
    u32 pending = 0;
    for (; at < wav.left.size() && next < kPairs; ++at) {
        if (wav.left[at] == discLeft[next] && wav.right[at] == discRight[next]) {
            ++next;
            gaps += pending;
            pending = 0;
        } else if (wav.left[at] == 0 && wav.right[at] == 0) {
            ++pending;
        } else {
            break;
        }
    }
    const std::string heard = "heard " + std::to_string(next) + " pairs in order, " + std::to_string(gaps) + " silent";
    // The end of the track pauses the drive, which drops the last sector.
    EXPECT_GE(next, (kDiscSectors - 1) * kPairsPerSector - 8) << heard;
    // After the track nothing is heard again.
    std::size_t loud = 0;
    for (; at < wav.left.size(); ++at)
        loud += wav.left[at] != 0 || wav.right[at] != 0;
    EXPECT_EQ(loud, 0u) << heard;
}
