// End to end: a BIOS image of our own plays a Video CD's MPEG track through
// the MPEG card; kest-headless writes what the sound chip heard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/base/helpers.h"
#include "sound/scsp/scsp_testbench.h"
#include "support/files.h"

namespace {

constexpr u32 kBiosSize = 0x80000;
constexpr std::size_t kWindow = 4096;

}  // namespace

TEST(VideoCdHeadless, TrackTwoAudioReachesTheWav)
{
    std::vector<u8> image = loadProgram("sh2", "vcd_player");
    ASSERT_FALSE(image.empty());
    image.resize(kBiosSize);
    TempDir dir;
    ASSERT_TRUE(saveFile(dir.file("player.bin"), image.data(), kBiosSize));
    const std::string ini = "[Path]\r\nsat_bios = " + dir.file("player.bin") + "\r\n[General]\r\nkest_bios = 0\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless --data " + dir.path().string() +
                                " --fields 240 --wav " + dir.file("out.wav") + " " + KEST_VCD_CUE + " > " +
                                dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);

    // The disc's left channel holds 440 Hz and its right 660 Hz.
    const Wav wav = readWav(readBytes(dir.file("out.wav")));
    const std::vector<s16>& left = wav.left;
    const std::vector<s16>& right = wav.right;
    std::size_t start = 0;
    while (start < left.size() && left[start] == 0 && right[start] == 0)
        ++start;
    const std::vector<u8> logBytes = readBytes(dir.file("log.txt"));
    ASSERT_GE(left.size(), start + kWindow) << "no audio\n" << std::string(logBytes.begin(), logBytes.end());
    EXPECT_NEAR(dominantHz(left, start, kWindow), 440, 440 * 0.02);
    EXPECT_NEAR(dominantHz(right, start, kWindow), 660, 660 * 0.02);
    EXPECT_GT(rms(left, start, start + kWindow), 3000);
    // The disc holds one second of sound. The card can fall behind and
    // leave the ring dry for a while; what it hears then is silence, never
    // the newest frame again.
    const auto heard = std::count_if(left.begin(), left.end(), [&](const s16& l) {
        return l != 0 || right[&l - left.data()] != 0;
    });
    EXPECT_NEAR(static_cast<double>(heard), 44100, 44100 * 0.05);
}
