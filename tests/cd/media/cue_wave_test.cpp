#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "cd/media/cue.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

using disc::kRaw;

class CueWaveTest : public disc::IsoTest {
protected:
    // A sox tone as WAVE; returns, as the oracle, the bare samples sox writes for it.
    std::vector<u8> tone(const std::string& name, const char* seconds)
    {
        const std::string wav = m_dir.file(name);
        const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + seconds +
                                    " sine 300-900 sine 500 && sox '" + wav + "' -t raw -e signed -b 16 -L '" + wav +
                                    ".raw'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return readBytes(wav + ".raw");
    }

    std::string sheet(const std::string& waveLines)
    {
        disc::writeFile(m_dir.file("data.bin"), disc::rawFromCooked(iso(), 150));
        disc::writeText(m_dir.file("game.cue"),
                        "FILE \"data.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n" + waveLines);
        return m_dir.file("game.cue");
    }
};

// Each WAVE track plays its file's samples from index 1; a short last sector is padded with silence.
TEST_F(CueWaveTest, WaveTracksPlayTheirSamples)
{
    const std::vector<u8> song1 = tone("song1.wav", "3");
    std::vector<u8> song2 = tone("song2.wav", "2.5");
    ASSERT_EQ(song2.size(), 187 * kRaw + kRaw / 2);
    LogCapture log;
    CCue cue(sheet("FILE \"song1.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:00:30\r\n"
                   "FILE \"song2.wav\" WAVE\r\n  TRACK 03 AUDIO\r\n    INDEX 01 00:00:00\r\n"));
    ASSERT_NE(cue.getSession(0), nullptr) << log.text();
    const auto& tracks = cue.getSession(0)->tracks;
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[1].startFad, 150 + isoSectors() + 30);
    EXPECT_EQ(tracks[2].endFad, tracks[2].startFad + 188 - 1);
    EXPECT_EQ(disc::sectors(cue, tracks[1].startFad, 195), std::vector<u8>(song1.begin() + 30 * kRaw, song1.end()));
    song2.resize(188 * kRaw, 0);
    EXPECT_EQ(disc::sectors(cue, tracks[2].startFad, 188), song2);
}

// An odd-sized chunk before the samples is followed by its pad byte, and a
// chunk after them is no sound: the track holds the samples alone, its last
// sector padded with silence.
TEST_F(CueWaveTest, ChunksAroundTheSamplesAreNotPlayed)
{
    std::vector<u8> samples = tone("plain.wav", "0.5");
    ASSERT_EQ(samples.size(), 37 * kRaw + kRaw / 2);
    std::vector<u8> wav = readBytes(m_dir.file("plain.wav"));
    const auto data = std::search(wav.begin(), wav.end(), std::begin("data"), std::end("data") - 1);
    ASSERT_NE(data, wav.end());
    const std::vector<u8> odd = {'j', 'u', 'n', 'k', 3, 0, 0, 0, 1, 2, 3, 0};
    wav.insert(data, odd.begin(), odd.end());
    const u32 after = kRaw;
    disc::append(wav, {'L', 'I', 'S', 'T', static_cast<u8>(after), static_cast<u8>(after >> 8), 0, 0});
    wav.resize(wav.size() + after, 0x77);
    const u32 riff = static_cast<u32>(wav.size() - 8);
    for (int i = 0; i < 4; ++i)
        wav[4 + i] = static_cast<u8>(riff >> (8 * i));
    disc::writeFile(m_dir.file("odd.wav"), wav);

    LogCapture log;
    CCue cue(sheet("FILE \"odd.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:00\r\n"));
    ASSERT_NE(cue.getSession(0), nullptr) << log.text();
    const auto& tracks = cue.getSession(0)->tracks;
    ASSERT_EQ(tracks.size(), 2u) << log.text();
    EXPECT_EQ(tracks[1].endFad - tracks[1].startFad + 1, 38u);
    samples.resize(38 * kRaw, 0);
    EXPECT_EQ(disc::sectors(cue, tracks[1].startFad, 38), samples);
}

// A WAVE file not holding CD audio refuses the disc, naming file and reason.
TEST_F(CueWaveTest, WaveFilesOfAnotherKindRefuseTheDisc)
{
    tone("tone.wav", "0.1");
    ASSERT_EQ(std::system(("sox '" + m_dir.file("tone.wav") + "' -c 1 -r 22050 '" + m_dir.file("low.wav") + "'").c_str()), 0);
    std::filesystem::resize_file(m_dir.file("tone.wav"), 1000);
    disc::writeText(m_dir.file("text.wav"), "FILE \"x.bin\" BINARY\n");
    const std::pair<const char*, const char*> cases[] = {
        {"low.wav", "format 1, 1 channels, 22050 Hz, 16 bits; only 16-bit stereo PCM at 44100 Hz plays"},
        {"tone.wav", "chunk runs past the end of the file"},
        {"text.wav", "not a RIFF WAVE file"},
    };
    for (const auto& [file, reason] : cases) {
        LogCapture log;
        CCue cue(sheet(std::string("FILE \"") + file + "\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"));
        EXPECT_TRUE(log.contains("CUE: Unsupported WAVE file " + m_dir.file(file) + "! [reason: " + reason)) << log.text();
        EXPECT_TRUE(cue.sessions().empty()) << file;
    }
}

}  // namespace
