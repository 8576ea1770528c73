#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "cd/media/bin.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

using disc::kCooked;

class BinTest : public disc::IsoTest {};

void expectSingleTrack(const CCd& cd, s32 sectorSize, u32 sectors)
{
    const SessionInfo* session = cd.getSession(0);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(cd.getSession(1), nullptr);
    EXPECT_EQ(cd.getSession(-1), nullptr);
    ASSERT_EQ(session->tracks.size(), 1u);
    const TrackInfo& t = session->tracks[0];
    EXPECT_EQ(t.startFad, 150u);
    EXPECT_EQ(t.endFad, 150 + sectors - 1);
    EXPECT_EQ(session->leadOut, 150 + sectors);
    EXPECT_EQ(session->first, 0u);
    EXPECT_EQ(t.sectorSize, sectorSize);
    EXPECT_EQ(t.controlAdr, 0x41);
    EXPECT_EQ(t.mode, 2u);
    EXPECT_EQ(t.number, 1u);
    EXPECT_EQ(t.userDataSize, 2048u);
}

TEST_F(BinTest, IsoOpensAsCookedSectorsFromFad150)
{
    const std::string path = m_dir.file("game.iso");
    disc::writeFile(path, iso());
    CBin bin(path);
    expectSingleTrack(bin, 2048, isoSectors());

    // The primary volume descriptor sits 16 sectors in.
    SectorBuffer sector;
    const u8* data = bin.readSector(166, sector);
    EXPECT_EQ(sector.fad, 166u);
    EXPECT_EQ(sector.size, 2048);
    EXPECT_EQ(std::memcmp(data, "\x01" "CD001", 6), 0);
    EXPECT_EQ(disc::userData(bin, 150, isoSectors()), iso());
}

TEST_F(BinTest, RawImagesGiveTheSameUserDataAsTheIso)
{
    for (bool subcode : {false, true}) {
        const std::string path = m_dir.file(subcode ? "game2448.bin" : "game2352.bin");
        disc::writeFile(path, disc::rawFromCooked(iso(), 150, subcode));
        CBin bin(path);
        expectSingleTrack(bin, subcode ? 2448 : 2352, isoSectors());
        EXPECT_EQ(disc::userData(bin, 150, isoSectors()), iso()) << (subcode ? 2448 : 2352);
    }
}

TEST_F(BinTest, RunsStopAtTheEndOfTheTrack)
{
    const std::string path = m_dir.file("game.iso");
    disc::writeFile(path, iso());
    CBin bin(path);
    const u32 end = 150 + isoSectors() - 1;
    std::vector<u8> buffer(16 * 2448);
    u32 mode = 99;
    s32 size = 0;
    EXPECT_EQ(bin.readSectors(buffer.data(), end - 2, mode, size, 16), 3u);
    EXPECT_EQ(mode, 2u);
    EXPECT_EQ(size, 2048);
    EXPECT_EQ(std::memcmp(buffer.data(), &iso()[(end - 2 - 150) * std::size_t{kCooked}], 3 * kCooked), 0);
    EXPECT_EQ(bin.readSectors(buffer.data(), 150, mode, size, 16), 16u);
}

TEST_F(BinTest, SectorSizeFromTheLengthAlone)
{
    struct Case {
        std::size_t bytes;
        s32 size;
        u32 sectors;
    };
    const Case cases[] = {
        {2048 * 1000, 2048, 1000},
        {2352 * 300, 2352, 300},
        {2448 * 10, 2448, 10},
        {2100, 2048, 1},  // no size divides a short file
        {2340, 2336, 1},
        {2400, 2352, 1},
    };
    for (const Case& c : cases) {
        const std::string path = m_dir.file("size.bin");
        disc::writeFile(path, std::vector<u8>(c.bytes, 0));
        CBin bin(path);
        SCOPED_TRACE(c.bytes);
        expectSingleTrack(bin, c.size, c.sectors);
    }
}

// 2048 x 2352 x 3 bytes divides by both; where the second sync stands decides.
TEST_F(BinTest, AmbiguousLengthIsDecidedBySyncPosition)
{
    const std::size_t bytes = std::size_t{2048} * 2352 * 3;
    for (s32 at : {2352, 2448, 0}) {
        std::vector<u8> image(bytes, 0);
        if (at)
            std::memcpy(&image[static_cast<std::size_t>(at)], SectorBuffer::syncPattern(), 12);
        const std::string path = m_dir.file("both.bin");
        disc::writeFile(path, image);
        CBin bin(path);
        const s32 expected = at ? at : 2048;
        SCOPED_TRACE(at);
        expectSingleTrack(bin, expected, static_cast<u32>(bytes / static_cast<std::size_t>(expected)));
    }
}

TEST_F(BinTest, RefusedImagesLeaveAnEmptyTableOfContents)
{
    struct Case {
        std::size_t bytes;
        const char* message;
    };
    const Case cases[] = {
        {2336 * 7, "BIN: Doesn't support MODE0 [size: 16352]\n"},
        {100, "BIN: Failed to load! [path: %s, reason: not a disc image of this kind]\n"},
        {0, "BIN: Failed to load! [path: %s, reason: not a disc image of this kind]\n"},
    };
    for (const Case& c : cases) {
        const std::string path = m_dir.file("refused.bin");
        disc::writeFile(path, std::vector<u8>(c.bytes, 0x11));
        LogCapture log;
        CBin bin(path);
        char expected[512];
        std::snprintf(expected, sizeof expected, c.message, path.c_str());
        EXPECT_TRUE(log.contains(expected)) << log.text();
        EXPECT_TRUE(log.contains("BIN: Failed to load! [path: " + path + ", reason: not a disc image of this kind]\n"))
            << log.text();
        EXPECT_TRUE(bin.sessions().empty());

        // Reading such a disc warns and hands out silence, not old bytes.
        std::vector<u8> buffer(4 * 2448, 0xAA);
        u32 mode = 77;
        s32 size = 0;
        EXPECT_EQ(bin.readSectors(buffer.data(), 150, mode, size, 4), 4u);
        EXPECT_TRUE(log.contains("Sector: FAD is out of range! [FAD: 150]\n"));
        EXPECT_EQ(size, 2352);
        for (std::size_t i = 0; i < 4 * 2352; ++i)
            ASSERT_EQ(buffer[i], 0) << i;
    }
    LogCapture log;
    CBin missing(m_dir.file("no-such.iso"));
    EXPECT_TRUE(log.contains("BIN: Failed to load! [path: " + m_dir.file("no-such.iso") + ", reason: no such file]\n"))
        << log.text();
    EXPECT_TRUE(missing.sessions().empty());
}

TEST_F(BinTest, FadBeforeTheFirstTrackIsSilenceThenTheTrack)
{
    const std::string path = m_dir.file("game.iso");
    disc::writeFile(path, iso());
    CBin bin(path);
    std::vector<u8> buffer(16 * 2448, 0xAA);
    u32 mode = 0;
    s32 size = 0;
    LogCapture log;
    EXPECT_EQ(bin.readSectors(buffer.data(), 149, mode, size, 16), 16u);
    EXPECT_TRUE(log.contains("Sector: FAD is out of range! [FAD: 149]\n"));
    EXPECT_EQ(size, 2048);
    for (std::size_t i = 0; i < 2048; ++i)
        ASSERT_EQ(buffer[i], 0);
    EXPECT_EQ(std::memcmp(buffer.data() + 2048, iso().data(), 15 * 2048), 0);
    // Past the lead-out nothing follows: the whole run is silence.
    EXPECT_EQ(bin.readSectors(buffer.data(), 150 + isoSectors(), mode, size, 16), 16u);
}

TEST_F(BinTest, ShortReadZeroFillsTheTail)
{
    const std::string path = m_dir.file("shrinking.iso");
    disc::writeFile(path, iso());
    CBin bin(path);
    // The file loses its last two and a half sectors after opening.
    std::filesystem::resize_file(path, iso().size() - 2 * kCooked - kCooked / 2);
    const u32 last = 150 + isoSectors() - 1;
    std::vector<u8> buffer(4 * 2448, 0xAA);
    u32 mode = 0;
    s32 size = 0;
    EXPECT_EQ(bin.readSectors(buffer.data(), last - 3, mode, size, 4), 4u);
    const std::size_t kept = kCooked + kCooked / 2;
    EXPECT_EQ(std::memcmp(buffer.data(), &iso()[(last - 3 - 150) * std::size_t{kCooked}], kept), 0);
    for (std::size_t i = kept; i < 4 * kCooked; ++i)
        ASSERT_EQ(buffer[i], 0) << i;
    // The stream recovers for the next read.
    EXPECT_EQ(bin.readSectors(buffer.data(), 150, mode, size, 1), 1u);
    EXPECT_EQ(std::memcmp(buffer.data(), iso().data(), kCooked), 0);
}

}  // namespace
