#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "cd/media/cue.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

using disc::kRaw;

std::string msf(u32 frames)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%02u:%02u:%02u", frames / 4500, frames / 75 % 60, frames % 75);
    return text;
}

struct CdInfoTrack {
    int number;
    long lsn;
    std::string type;
};

// The track list as libcdio's cue reader sees it. It takes the image
// named like the sheet for the first file, and places the tracks of later
// files from the start of their own file.
std::vector<CdInfoTrack> cdInfo(const std::string& cue)
{
    const std::string command = "cd-info --no-header --no-device-info --no-disc-mode --no-analyze --no-ioctl "
                                "--cue-file='" + cue + "' 2>/dev/null";
    std::vector<CdInfoTrack> tracks;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return tracks;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe)) {
        int number;
        long lsn;
        char type[16];
        if (std::sscanf(line, " %d: %*d:%*d:%*d %ld %15s", &number, &lsn, type) == 3)
            tracks.push_back({number, lsn, type});
    }
    pclose(pipe);
    return tracks;
}

class CueTest : public disc::IsoTest {
protected:
    void SetUp() override
    {
        disc::IsoTest::SetUp();
        m_data = disc::rawFromCooked(iso(), 150);
        m_songA = disc::audio(200, 1);
        m_songB = disc::audio(150, 2);
    }

    static u32 n() { return isoSectors(); }

    // Data track, then a song with a two-second index 0 area, then a song.
    std::string writeOneFileDisc(const std::string& name)
    {
        std::vector<u8> image = m_data;
        disc::append(image, m_songA);
        disc::append(image, m_songB);
        disc::writeFile(m_dir.file(name + ".bin"), image);
        const std::string sheet = "FILE \"" + name + ".bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                  "  TRACK 02 AUDIO\n    INDEX 00 " + msf(n()) + "\n    INDEX 01 " + msf(n() + 150) +
                                  "\n  TRACK 03 AUDIO\n    INDEX 01 " + msf(n() + 200) + "\n";
        disc::writeText(m_dir.file(name + ".cue"), sheet);
        return m_dir.file(name + ".cue");
    }

    std::string writeFilePerTrackDisc()
    {
        disc::writeFile(m_dir.file("Track 01.bin"), m_data);
        disc::writeFile(m_dir.file("Track 02.bin"), m_songA);
        disc::writeFile(m_dir.file("Track 03.bin"), m_songB);
        disc::writeText(m_dir.file("Track 01.cue"),
                        "FILE \"Track 01.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                        "FILE \"Track 02.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n"
                        "FILE \"Track 03.bin\" BINARY\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n");
        return m_dir.file("Track 01.cue");
    }

    std::vector<u8> m_data;
    std::vector<u8> m_songA;
    std::vector<u8> m_songB;
};

void expectMatchesCdInfo(const CCd& cue, const std::vector<CdInfoTrack>& oracle, bool oneFile)
{
    const SessionInfo* session = cue.getSession(0);
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(oracle.size(), session->tracks.size() + 1) << "cd-info listed something else";
    for (std::size_t i = 0; i < session->tracks.size(); ++i) {
        const TrackInfo& t = session->tracks[i];
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(oracle[i].number, static_cast<int>(t.number));
        EXPECT_EQ(oracle[i].type == "audio", t.controlAdr == 0x01) << oracle[i].type;
        if (oneFile) {
            EXPECT_EQ(oracle[i].lsn, static_cast<long>(t.startFad) - 150);
        }
        if (t.sectorSize == static_cast<s32>(kRaw)) {
            EXPECT_EQ(oracle[i].lsn, static_cast<long>(t.fileOffset / kRaw));
        }
    }
    if (oneFile) {
        EXPECT_EQ(oracle.back().type, "leadout");
        EXPECT_EQ(oracle.back().lsn, static_cast<long>(session->leadOut) - 150);
    }
}

TEST_F(CueTest, OneFileSheetMatchesCdInfo)
{
    const std::string sheet = writeOneFileDisc("disc");
    const auto oracle = cdInfo(sheet);
    if (oracle.empty())
        GTEST_SKIP() << "cd-info is not available";
    CCue cue(sheet);
    expectMatchesCdInfo(cue, oracle, true);

    const SessionInfo& s = *cue.getSession(0);
    ASSERT_EQ(s.tracks.size(), 3u);
    // The index 0 area of track 2 is read through track 1.
    EXPECT_EQ(s.tracks[0].endFad, 150 + n() + 150 - 1);
    EXPECT_EQ(s.tracks[1].pregapStart, 150 + n());
    EXPECT_EQ(s.tracks[1].startFad, 150 + n() + 150);
    EXPECT_EQ(s.tracks[0].mode, 2u);
    EXPECT_EQ(s.tracks[1].mode, 0u);
    EXPECT_EQ(disc::userData(cue, 150, n()), iso());
    EXPECT_EQ(disc::sectors(cue, 150 + n(), 200), m_songA);
    EXPECT_EQ(disc::userData(cue, 150 + n() + 200, 150, kRaw), m_songB);
}

TEST_F(CueTest, FilePerTrackSheetMatchesCdInfo)
{
    const std::string sheet = writeFilePerTrackDisc();
    const auto oracle = cdInfo(sheet);
    if (oracle.empty())
        GTEST_SKIP() << "cd-info is not available";
    CCue cue(sheet);
    expectMatchesCdInfo(cue, oracle, false);

    const SessionInfo& s = *cue.getSession(0);
    ASSERT_EQ(s.tracks.size(), 3u);
    EXPECT_EQ(s.tracks[0].endFad, 150 + n() - 1);
    EXPECT_EQ(s.tracks[1].pregapStart, 150 + n());
    EXPECT_EQ(s.tracks[1].startFad, 150 + n() + 150);
    EXPECT_EQ(s.tracks[1].endFad, 150 + n() + 199);
    EXPECT_EQ(s.tracks[2].startFad, 150 + n() + 200);
    EXPECT_EQ(s.leadOut, 150 + n() + 350);
    EXPECT_EQ(s.tracks[1].fileNumber, 1u);
    EXPECT_EQ(s.tracks[2].fileNumber, 2u);
    EXPECT_EQ(disc::userData(cue, 150, n()), iso());
    const std::vector<u8> heard(m_songA.begin() + 150 * kRaw, m_songA.end());
    EXPECT_EQ(disc::userData(cue, 150 + n() + 150, 50, kRaw), heard);
    EXPECT_EQ(disc::userData(cue, 150 + n() + 200, 150, kRaw), m_songB);
}

// The index 0 area of a track in its own file belongs to no track: it is
// silence, and a run through it continues with the track's own sectors.
TEST_F(CueTest, ReadingTheIndexZeroAreaOfALaterFileGivesSilence)
{
    CCue cue(writeFilePerTrackDisc());
    std::vector<u8> buffer(16 * 2448, 0xAA);
    u32 mode = 99;
    s32 size = 0;
    const u32 gap = 150 + n();
    LogCapture log;
    EXPECT_EQ(cue.readSectors(buffer.data(), gap + 140, mode, size, 16), 16u);
    EXPECT_TRUE(log.contains("Sector: FAD is out of range! [FAD: " + std::to_string(gap + 140) + "]\n"));
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(size, 2352);
    for (std::size_t i = 0; i < 10 * kRaw; ++i)
        ASSERT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(std::memcmp(&buffer[10 * kRaw], &m_songA[150 * kRaw], 6 * kRaw), 0);
    EXPECT_EQ(cue.readSectors(buffer.data(), gap + 150, mode, size, 16), 16u);
    EXPECT_EQ(std::memcmp(buffer.data(), &m_songA[150 * kRaw], 16 * kRaw), 0);
}

TEST_F(CueTest, EveryTrackTypeMatchesCdInfo)
{
    // 75 sectors of each kind, stored at its own size, then a song.
    std::vector<u8> image;
    std::vector<std::size_t> starts;
    const std::vector<u8> user = disc::audio(1, 0x40);
    auto cooked = [&](std::size_t bytes, u8 seed) {
        starts.push_back(image.size());
        for (u32 i = 0; i < 75; ++i)
            for (std::size_t b = 0; b < bytes; ++b)
                image.push_back(static_cast<u8>(seed + i + b * 3));
    };
    auto raw = [&](u32 mode, u32 firstFrame) {
        starts.push_back(image.size());
        for (u32 i = 0; i < 75; ++i)
            disc::append(image, disc::rawSector(150 + firstFrame + i, mode, user.data()));
    };
    cooked(2048, 1);
    raw(2, 75);
    cooked(2336, 3);
    cooked(2048, 4);
    cooked(2324, 5);
    raw(5, 375);
    starts.push_back(image.size());
    disc::append(image, m_songA);
    disc::writeFile(m_dir.file("types.bin"), image);
    disc::writeText(m_dir.file("types.cue"),
                    "FILE \"types.bin\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n"
                    "  TRACK 02 MODE1/2352\r\n    INDEX 01 00:01:00\r\n  TRACK 03 MODE2/2336\r\n    INDEX 01 00:02:00\r\n"
                    "  TRACK 04 MODE2/2048\r\n    INDEX 01 00:03:00\r\n  TRACK 05 MODE2/2324\r\n    INDEX 01 00:04:00\r\n"
                    "  TRACK 06 MODE2/2352\r\n    INDEX 01 00:05:00\r\n  TRACK 07 AUDIO\r\n    INDEX 00 00:06:00\r\n"
                    "    INDEX 01 00:06:10\r\n");
    LogCapture log;
    CCue cue(m_dir.file("types.cue"));
    EXPECT_TRUE(log.contains("CUE: MODE2/2336\n"));
    EXPECT_TRUE(log.contains("CUE: MODE2/2048\n"));
    EXPECT_TRUE(log.contains("CUE: MODE2/2324\n"));
    ASSERT_NE(cue.getSession(0), nullptr) << log.text();
    const auto& tracks = cue.getSession(0)->tracks;
    ASSERT_EQ(tracks.size(), 7u);

    struct Expect {
        s32 size;
        u32 mode;
        u32 userBytes;
    };
    const Expect expect[] = {{2048, 2, 2048}, {2352, 2, 2048}, {2336, 3, 2336}, {2048, 4, 2048},
                             {2324, 5, 2324}, {2352, 5, 2324}, {2352, 0, 2352}};
    for (std::size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(tracks[i].sectorSize, expect[i].size);
        EXPECT_EQ(tracks[i].mode, expect[i].mode);
        EXPECT_EQ(tracks[i].userDataSize, expect[i].userBytes);
        EXPECT_EQ(tracks[i].controlAdr, i == 6 ? 0x01 : 0x41);
        // The first sector of each track is found where it was written.
        SectorBuffer sector;
        cue.readSector(tracks[i].startFad, sector);
        const std::size_t at = starts[i] + (i == 6 ? 10 * kRaw : 0);
        EXPECT_EQ(std::memcmp(sector.data, &image[at], static_cast<std::size_t>(expect[i].size)), 0);
    }
    EXPECT_EQ(tracks[6].pregapStart, 150u + 450);
    EXPECT_EQ(tracks[6].startFad, 150u + 460);

    const auto oracle = cdInfo(m_dir.file("types.cue"));
    if (oracle.empty())
        GTEST_SKIP() << "cd-info is not available";
    ASSERT_EQ(oracle.size(), 8u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(oracle[i].lsn, static_cast<long>(tracks[i].startFad) - 150) << i + 1;
        EXPECT_EQ(oracle[i].type == "audio", tracks[i].controlAdr == 0x01) << i + 1;
    }
}

// One BINARY file: TRACK 01 MODE1/2352 at 00:00:00, TRACK 02 AUDIO with
// INDEX 00 at 10:00:00 and INDEX 01 at 10:02:00.
TEST_F(CueTest, WorkedExampleOfTheIndexZeroLayout)
{
    const std::string bin = m_dir.file("long.bin");
    {
        std::vector<u8> first = disc::rawSector(150, 2, iso().data());
        disc::writeFile(bin, first);
        std::filesystem::resize_file(bin, std::uintmax_t{45150 + 400} * kRaw);
        std::fstream patch(bin, std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(std::streamoff{45050} * kRaw);
        patch.write("MARK", 4);
    }
    disc::writeText(m_dir.file("long.cue"), "FILE \"long.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                            "  TRACK 02 AUDIO\n    INDEX 00 10:00:00\n    INDEX 01 10:02:00\n");
    CCue cue(m_dir.file("long.cue"));
    ASSERT_NE(cue.getSession(0), nullptr);
    const auto& t = cue.getSession(0)->tracks;
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].startFad, 150u);
    EXPECT_EQ(t[0].endFad, 45299u);
    EXPECT_EQ(t[1].pregapStart, 45150u);
    EXPECT_EQ(t[1].startFad, 45300u);
    EXPECT_EQ(t[1].fileOffset, u64{45150} * kRaw);
    EXPECT_EQ(cue.getSession(0)->leadOut, 150u + 45150 + 400);
    SectorBuffer sector;
    cue.readSector(45200, sector);
    EXPECT_EQ(std::memcmp(sector.data, "MARK", 4), 0);
    EXPECT_EQ(sector.mode, 2u);
}

TEST_F(CueTest, PregapAndPostgapAddFramesWithoutData)
{
    std::vector<u8> image = m_data;
    disc::append(image, m_songA);
    disc::append(image, m_songB);
    disc::writeFile(m_dir.file("gaps.bin"), image);
    disc::writeText(m_dir.file("gaps.cue"), "FILE \"gaps.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                            "  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 " + msf(n()) +
                                            "\n    POSTGAP 00:01:00\n  TRACK 03 AUDIO\n    INDEX 01 " +
                                            msf(n() + 200) + "\n    POSTGAP 00:00:30\n");
    CCue cue(m_dir.file("gaps.cue"));
    ASSERT_NE(cue.getSession(0), nullptr);
    const SessionInfo& s = *cue.getSession(0);
    ASSERT_EQ(s.tracks.size(), 3u);
    EXPECT_EQ(s.tracks[0].endFad, 150 + n() - 1);
    EXPECT_EQ(s.tracks[1].pregapLength, 150u);
    EXPECT_EQ(s.tracks[1].startFad, 150 + n() + 150);
    EXPECT_EQ(s.tracks[1].endFad, 150 + n() + 150 + 199);
    EXPECT_EQ(s.tracks[2].startFad, 150 + n() + 150 + 200 + 75);
    EXPECT_EQ(s.leadOut, s.tracks[2].endFad + 1 + 30);
    EXPECT_EQ(disc::userData(cue, s.tracks[1].startFad, 200, kRaw), m_songA);
    EXPECT_EQ(disc::userData(cue, s.tracks[2].startFad, 150, kRaw), m_songB);

    std::vector<u8> buffer(16 * 2448, 0xAA);
    u32 mode = 0;
    s32 size = 0;
    LogCapture log;
    EXPECT_EQ(cue.readSectors(buffer.data(), s.tracks[2].startFad - 75, mode, size, 16), 16u);
    EXPECT_TRUE(log.contains("FAD is out of range!"));
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(CueTest, FileNamesResolveInTheSheetFolderWhateverTheirCase)
{
    std::filesystem::create_directories(m_dir.path() / "Rips" / "Disc One");
    disc::writeFile((m_dir.path() / "Rips" / "Disc One" / "Game (Track 1).BIN").string(), m_data);
    disc::writeText(m_dir.file("sheet.cue"),
                    "FILE \"rips\\DISC ONE\\game (track 1).bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n");
    {
        CCue cue(m_dir.file("sheet.cue"));
        ASSERT_NE(cue.getSession(0), nullptr);
        EXPECT_EQ(disc::userData(cue, 150, n()), iso());
    }
    // A path from the machine the rip was made on: only its name counts.
    disc::writeFile(m_dir.file("GAME.bin"), m_data);
    disc::writeText(m_dir.file("foreign.cue"),
                    "FILE \"D:\\Backups\\Saturn\\game.BIN\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n");
    CCue cue(m_dir.file("foreign.cue"));
    ASSERT_NE(cue.getSession(0), nullptr);
    EXPECT_EQ(disc::userData(cue, 150, 20), std::vector<u8>(iso().begin(), iso().begin() + 20 * 2048));
}

TEST_F(CueTest, FlagsSetControlBits)
{
    disc::writeFile(m_dir.file("f.iso"), iso());
    const char* cases[][2] = {{"DCP PRE", "\x61"}, {"PRE", "\x51"}, {"4CH", "\xC1"}, {"NONSENSE", "\x41"}};
    for (auto& c : cases) {
        disc::writeText(m_dir.file("f.cue"), std::string("FILE \"f.iso\" BINARY\n  TRACK 01 MODE1/2048\n    FLAGS ") +
                                                 c[0] + "\n    INDEX 01 00:00:00\n");
        CCue cue(m_dir.file("f.cue"));
        ASSERT_NE(cue.getSession(0), nullptr) << c[0];
        EXPECT_EQ(cue.getSession(0)->tracks[0].controlAdr, static_cast<u8>(c[1][0])) << c[0];
    }
}

TEST_F(CueTest, FailingLineStopsReadingAndKeepsEarlierTracks)
{
    disc::writeFile(m_dir.file("a.bin"), m_data);
    disc::writeFile(m_dir.file("b.bin"), m_songA);
    const std::string head = "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    struct Case {
        const char* name;
        std::string tail;
        const char* message;
    };
    const Case cases[] = {
        {"title", "TITLE \"x\"\nFILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         "CUE: Command TITLE not implemented!\n"},
        {"lower case", "file \"b.bin\" binary\n", "CUE: Command  not implemented!\n"},
        {"index 100", "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 100 00:00:00\n",
         "CUE: Invalid INDEX number: [100]!\n"},
        {"other format", "FILE \"b.mp3\" WAVE\n", "CUE: File format MP3 not implemented!\n"},
        {"scms", "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    FLAGS SCMS\n", "CUE: FLAGS value SCMS not implemented!\n"},
        {"unknown type", "FILE \"b.bin\" BINARY\n  TRACK 02 CDG\n", "CUE: TRACK: CDG not implemented!\n"},
        {"huge track number", "FILE \"b.bin\" BINARY\n  TRACK 4000000000 AUDIO\n",
         "CUE: Invalid TRACK number: [4000000000]!\n"},
        {"skipped number", "FILE \"b.bin\" BINARY\n  TRACK 07 AUDIO\n", "CUE: Invalid TRACK number: [07]!\n"},
        {"index time overflow", "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 99999999:00:00\n",
         "CUE: Invalid INDEX line!\n"},
        {"track without index", "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n", "CUE: TRACK 2 has no INDEX!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        disc::writeText(m_dir.file("stop.cue"), head + c.tail);
        LogCapture log;
        CCue cue(m_dir.file("stop.cue"));
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        ASSERT_NE(cue.getSession(0), nullptr);
        ASSERT_EQ(cue.getSession(0)->tracks.size(), 1u);
        EXPECT_EQ(cue.getSession(0)->tracks[0].endFad, 150 + n() - 1);
        EXPECT_EQ(disc::userData(cue, 150, 4), std::vector<u8>(iso().begin(), iso().begin() + 4 * 2048));
    }
}

// A file the sheet names that cannot be read refuses the whole disc, with
// the file and the real reason; a FIFO is never opened, so nothing blocks.
TEST_F(CueTest, FilesThatCannotBeReadRefuseTheDisc)
{
    namespace fs = std::filesystem;
    disc::writeFile(m_dir.file("a.bin"), m_data);
    fs::create_directory(m_dir.file("folder.wav"));
    ASSERT_EQ(::mkfifo(m_dir.file("fifo.bin").c_str(), 0600), 0);
    fs::create_symlink("loop2.bin", m_dir.file("loop1.bin"));
    fs::create_symlink("loop1.bin", m_dir.file("loop2.bin"));
    const std::string head = "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    std::string many = head;
    for (int i = 2; i <= 100; ++i)
        many += "FILE \"a.bin\" BINARY\n  TRACK " + std::to_string(i) + " MODE1/2352\n    INDEX 01 00:00:00\n";
    const struct {
        std::string sheet;
        const char* file;
        const char* reason;
    } cases[] = {
        {head + "FILE \"gone.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", "gone.wav", "no such file"},
        {head + "FILE \"folder.wav\" WAVE\n", "folder.wav", "is a directory"},
        {head + "FILE \"FIFO.BIN\" BINARY\n", "FIFO.BIN", "not a regular file"},
        {head + "FILE \"loop1.bin\" BINARY\n", "loop1.bin", "too many levels of symbolic links"},
        {many, "a.bin", "too many files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        disc::writeText(m_dir.file("refused.cue"), c.sheet);
        LogCapture log;
        CCue cue(m_dir.file("refused.cue"));
        EXPECT_TRUE(cue.sessions().empty());
        const std::string file = m_dir.file(c.file);
        EXPECT_TRUE(log.contains("CUE: Failed to load! [path: " + m_dir.file("refused.cue") + ", reason: " + file +
                                 ": " + c.reason + "]\n"))
            << log.text();
        const std::string line = std::string(c.reason) == "too many files" ? "CUE: Too many files [count: 100]\n"
                                 : "CUE: Failed to open file " + file + "! [reason: " + c.reason + "]\n";
        EXPECT_TRUE(log.contains(line)) << log.text();
    }
}

TEST_F(CueTest, SheetsWithoutUsableTracksLoadNothing)
{
    disc::writeFile(m_dir.file("a.bin"), m_data);
    std::string garbage(3000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(i * 37 + 11);
    struct Case {
        const char* name;
        std::string sheet;
        const char* message;
    };
    const Case cases[] = {
        {"garbage", garbage, "CUE: Failed to load! [path: "},
        {"empty", "", "CUE: Failed to load! [path: "},
        {"comments only", "REM GENRE Game\r\nCATALOG 0000000000000\r\n", "CUE: Failed to load! [path: "},
        {"track before file", "TRACK 01 MODE1/2352\nFILE \"a.bin\" BINARY\n", "CUE: Failed to load! [path: "},
        {"missing file", "FILE \"absent.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
         "CUE: Failed to open file "},
        {"index past the end of the file",
         "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 " +
             msf(n() + 5) + "\n",
         "CUE: TRACK 2 does not fit its file!\n"},
        {"index 0 after index 1", "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 00 00:00:10\n"
                                  "    INDEX 01 00:00:00\n",
         "CUE: Bad table of contents\n"},
        {"track too far out", "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2352\n    PREGAP 238000:00:00\n"
                              "    INDEX 01 238000:00:00\n",
         "CUE: TRACK 1 is out of range!\n"},
        {"long line", "FILE \"" + std::string(5000, 'a') + ".bin\" BINARY\n", "CUE: Line is too long [length: 5018]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        disc::writeText(m_dir.file("bad.cue"), c.sheet);
        LogCapture log;
        CCue cue(m_dir.file("bad.cue"));
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_TRUE(log.contains("CUE: Failed to load! [path: "));
        EXPECT_TRUE(cue.sessions().empty());
    }
}

}  // namespace
