#include <gtest/gtest.h>

#include <cstdlib>

#include "cd/media/cue.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

using disc::kRaw;

class CueWaveTest : public disc::IsoTest {
protected:
    // A tone made by sox, as a WAVE file and as the bare samples sox writes
    // for the same sound (signed 16-bit little-endian), the oracle.
    bool makeTone(const std::string& name, const std::string& seconds)
    {
        const std::string wav = m_dir.file(name + ".wav");
        const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + seconds +
                                    " sine 300-900 sine 500 >/dev/null 2>&1 && sox '" + wav +
                                    "' -t raw -e signed -b 16 -L '" + m_dir.file(name + ".raw") + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    std::vector<u8> raw(const std::string& name) const { return readBytes(m_dir.file(name + ".raw")); }

    // A WAVE file written by hand: the chunks in order, each padded.
    void writeRiff(const std::string& name, const std::vector<std::pair<std::string, std::vector<u8>>>& chunks,
                   u32 dataSizeBonus = 0)
    {
        std::vector<u8> file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
        for (const auto& [id, body] : chunks) {
            file.insert(file.end(), id.begin(), id.end());
            const u32 size = static_cast<u32>(body.size()) + (id == "data" ? dataSizeBonus : 0);
            for (int i = 0; i < 4; ++i)
                file.push_back(static_cast<u8>(size >> (8 * i)));
            disc::append(file, body);
            if (body.size() & 1)
                file.push_back(0);
        }
        disc::writeFile(m_dir.file(name), file);
    }

    static std::vector<u8> format(u16 tag, u16 channels, u32 rate, u16 bits)
    {
        const u32 frame = channels * bits / 8u;
        const u32 byteRate = rate * frame;
        return {static_cast<u8>(tag), static_cast<u8>(tag >> 8), static_cast<u8>(channels), 0,
                static_cast<u8>(rate), static_cast<u8>(rate >> 8), static_cast<u8>(rate >> 16), 0,
                static_cast<u8>(byteRate), static_cast<u8>(byteRate >> 8), static_cast<u8>(byteRate >> 16), 0,
                static_cast<u8>(frame), 0, static_cast<u8>(bits), 0};
    }

    std::string sheet(const std::string& waveLines)
    {
        disc::writeFile(m_dir.file("data.bin"), disc::rawFromCooked(iso(), 150));
        disc::writeText(m_dir.file("game.cue"),
                        "FILE \"data.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n" + waveLines);
        return m_dir.file("game.cue");
    }
};

// A data track and two songs in WAVE files: each track plays its file's
// samples from its index 1, and a last sector cut short ends in silence.
TEST_F(CueWaveTest, WaveTracksPlayTheirSamples)
{
    // 2.5 s is 187.5 sectors.
    ASSERT_TRUE(makeTone("song1", "3"));
    ASSERT_TRUE(makeTone("song2", "2.5"));
    LogCapture log;
    CCue cue(sheet("FILE \"song1.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:00:30\r\n"
                   "FILE \"SONG2.WAV\" WAVE\r\n  TRACK 03 AUDIO\r\n    PREGAP 00:02:00\r\n    INDEX 01 00:00:00\r\n"));
    ASSERT_NE(cue.getSession(0), nullptr) << log.text();
    const auto& tracks = cue.getSession(0)->tracks;
    ASSERT_EQ(tracks.size(), 3u);
    const u32 dataEnd = 150 + isoSectors();
    EXPECT_EQ(tracks[1].pregapStart, dataEnd);
    EXPECT_EQ(tracks[1].startFad, dataEnd + 30);
    EXPECT_EQ(tracks[1].endFad, dataEnd + 225 - 1);
    EXPECT_EQ(tracks[1].controlAdr, 0x01);
    EXPECT_EQ(tracks[2].startFad, dataEnd + 225 + 150);
    EXPECT_EQ(tracks[2].endFad, tracks[2].startFad + 188 - 1);
    EXPECT_EQ(cue.getSession(0)->leadOut, tracks[2].endFad + 1);
    EXPECT_EQ(tracks[2].mode, SectorBuffer::kAudio);

    const std::vector<u8> song1 = raw("song1");
    ASSERT_EQ(song1.size(), 225 * kRaw);
    EXPECT_EQ(disc::sectors(cue, tracks[1].startFad, 195),
              std::vector<u8>(song1.begin() + 30 * kRaw, song1.end()));
    std::vector<u8> song2 = raw("song2");
    ASSERT_EQ(song2.size(), 187 * kRaw + kRaw / 2);
    song2.resize(188 * kRaw, 0);
    EXPECT_EQ(disc::sectors(cue, tracks[2].startFad, 188), song2);

    // A run of sectors reads the same, and stops at the track's end.
    std::vector<u8> run(16 * 2448, 0xAA);
    u32 mode = 9;
    s32 size = 0;
    EXPECT_EQ(cue.readSectors(run.data(), tracks[2].endFad - 2, mode, size, 16), 3u);
    EXPECT_EQ(size, 2352);
    EXPECT_TRUE(std::equal(run.begin(), run.begin() + 3 * kRaw, song2.end() - 3 * kRaw));
}

// Chunks are found by walking them, odd sizes padded, and what follows the
// samples is never played.
TEST_F(CueWaveTest, ChunksAroundTheSamplesAreSkipped)
{
    std::vector<u8> samples = disc::audio(3, 9);
    samples.resize(samples.size() - 4 * 100 - 2);
    writeRiff("odd.wav", {{"junk", {1, 2, 3}}, {"fmt ", format(1, 2, 44100, 16)}, {"data", samples},
                          {"LIST", std::vector<u8>(kRaw, 0x77)}});
    LogCapture log;
    CCue cue(sheet("FILE \"odd.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"));
    ASSERT_NE(cue.getSession(0), nullptr) << log.text();
    const TrackInfo& song = cue.getSession(0)->tracks[1];
    EXPECT_EQ(song.endFad - song.startFad + 1, 3u);
    samples.resize(3 * kRaw, 0);
    EXPECT_EQ(disc::sectors(cue, song.startFad, 3), samples);
}

// A WAVE file that does not hold CD audio refuses the whole disc, naming
// the file and the reason; other formats stop the sheet as before.
TEST_F(CueWaveTest, WaveFilesOfAnotherKindRefuseTheDisc)
{
    ASSERT_TRUE(makeTone("tone", "0.2"));
    const std::string lower = "sox '" + m_dir.file("tone.wav") + "' -c 1 -r 22050 '" + m_dir.file("low.wav") + "'";
    ASSERT_EQ(std::system(lower.c_str()), 0);
    const std::vector<u8> samples = disc::audio(2, 3);
    writeRiff("bytes.wav", {{"fmt ", format(1, 2, 44100, 8)}, {"data", samples}});
    writeRiff("float.wav", {{"fmt ", format(3, 2, 44100, 16)}, {"data", samples}});
    writeRiff("late.wav", {{"data", samples}, {"fmt ", format(1, 2, 44100, 16)}});
    writeRiff("none.wav", {{"fmt ", format(1, 2, 44100, 16)}});
    writeRiff("short.wav", {{"fmt ", format(1, 2, 44100, 16)}, {"data", samples}}, 1);
    writeRiff("huge.wav", {{"fmt ", format(1, 2, 44100, 16)}, {"JUNK", {}}, {"data", samples}}, 0xFFFFFFFF - 2 * kRaw);
    disc::writeText(m_dir.file("text.wav"), "FILE \"x.bin\" BINARY\n");
    writeRiff("cut.wav", {{"fmt ", format(1, 2, 44100, 16)}});
    {
        std::ofstream more(m_dir.file("cut.wav"), std::ios::binary | std::ios::app);
        more.write("data\x10\x00", 6);
    }
    const std::pair<const char*, const char*> cases[] = {
        {"low.wav", "format 1, 1 channels, 22050 Hz, 16 bits; only 16-bit stereo PCM at 44100 Hz plays"},
        {"bytes.wav", "format 1, 2 channels, 44100 Hz, 8 bits;"},
        {"float.wav", "format 3, 2 channels, 44100 Hz, 16 bits;"},
        {"late.wav", "data chunk before the fmt chunk"},
        {"none.wav", "no data chunk"},
        {"short.wav", "chunk runs past the end of the file"},
        {"huge.wav", "chunk runs past the end of the file"},
        {"text.wav", "not a RIFF WAVE file"},
        {"cut.wav", "chunk header cut off"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(file);
        LogCapture log;
        CCue cue(sheet(std::string("FILE \"") + file + "\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"));
        EXPECT_TRUE(log.contains(std::string("CUE: Unsupported WAVE file ") + m_dir.file(file) + "! [reason: " + reason))
            << log.text();
        EXPECT_TRUE(cue.sessions().empty());
    }
    LogCapture log;
    CCue cue(sheet("FILE \"song.flac\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"));
    EXPECT_TRUE(log.contains("CUE: File format FLAC not implemented!\n")) << log.text();
    ASSERT_NE(cue.getSession(0), nullptr);
    EXPECT_EQ(cue.getSession(0)->tracks.size(), 1u);
}

}  // namespace
