#include <gtest/gtest.h>

#include "cd/media/bin.h"
#include "cd/media/mds.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

struct MdsTrack {
    u8 mode;
    u8 adrControl;  // ADR in the high nibble, as the file stores it
    u8 point;
    u16 sectorSize;
    s32 startSector;
    u32 startOffset;
};

void put16(std::vector<u8>& b, std::size_t at, u16 v)
{
    b[at] = static_cast<u8>(v);
    b[at + 1] = static_cast<u8>(v >> 8);
}

void put32(std::vector<u8>& b, std::size_t at, u32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<u8>(v >> (8 * i));
}

// One session in Alcohol's layout: header, session block, then the three
// table-of-contents points and the tracks as data blocks.
std::vector<u8> mdsFile(const std::vector<MdsTrack>& tracks, s32 leadOutSector, u8 mediumType = 0, u8 major = 1)
{
    const std::size_t sessionAt = 88;
    const std::size_t blocksAt = sessionAt + 24;
    const std::size_t count = tracks.size() + 3;
    std::vector<u8> b(blocksAt + 80 * count, 0);
    std::memcpy(b.data(), "MEDIA DESCRIPTOR", 16);
    b[16] = major;
    b[17] = 5;
    b[18] = mediumType;
    put16(b, 20, 1);
    put32(b, 80, sessionAt);
    put32(b, sessionAt + 0, static_cast<u32>(-150));
    put32(b, sessionAt + 4, static_cast<u32>(leadOutSector));
    b[sessionAt + 10] = static_cast<u8>(count);
    b[sessionAt + 12] = tracks.empty() ? 1 : tracks.front().point;
    b[sessionAt + 14] = tracks.empty() ? 1 : tracks.back().point;
    put32(b, sessionAt + 20, blocksAt);
    std::size_t at = blocksAt;
    for (u8 point : {u8{0xA0}, u8{0xA1}, u8{0xA2}}) {
        b[at + 0] = 0x14;
        b[at + 4] = point;
        at += 80;
    }
    for (const MdsTrack& t : tracks) {
        b[at + 0] = t.mode;
        b[at + 2] = t.adrControl;
        b[at + 4] = t.point;
        put16(b, at + 16, t.sectorSize);
        put32(b, at + 36, static_cast<u32>(t.startSector));
        put32(b, at + 40, t.startOffset);
        at += 80;
    }
    return b;
}

class MdsTest : public disc::IsoTest {};

TEST_F(MdsTest, RawAndCookedDataDiscsMatchTheSingleImageReader)
{
    for (u16 size : {u16{2352}, u16{2048}}) {
        SCOPED_TRACE(size);
        disc::writeFile(m_dir.file("game.mdf"), size == 2352 ? disc::rawFromCooked(iso(), 150) : iso());
        disc::writeFile(m_dir.file("game.mds"), mdsFile({{0xAA, 0x14, 1, size, 0, 0}}, isoSectors()));
        CMds mds(m_dir.file("game.mds"));
        CBin bin(m_dir.file("game.mdf"));
        ASSERT_NE(mds.getSession(0), nullptr);
        ASSERT_NE(bin.getSession(0), nullptr);
        const SessionInfo& a = *mds.getSession(0);
        const SessionInfo& b = *bin.getSession(0);
        EXPECT_EQ(a.leadOut, b.leadOut);
        EXPECT_EQ(a.first, b.first);
        ASSERT_EQ(a.tracks.size(), 1u);
        const TrackInfo& t = a.tracks[0];
        const TrackInfo& u = b.tracks[0];
        EXPECT_EQ(t.startFad, u.startFad);
        EXPECT_EQ(t.endFad, u.endFad);
        EXPECT_EQ(t.controlAdr, u.controlAdr);
        EXPECT_EQ(t.mode, u.mode);
        EXPECT_EQ(t.sectorSize, u.sectorSize);
        EXPECT_EQ(t.userDataSize, u.userDataSize);
        EXPECT_EQ(t.number, u.number);
        EXPECT_EQ(disc::userData(mds, 150, isoSectors()), iso());
    }
}

TEST_F(MdsTest, TracksTakeTheirModesAndOffsets)
{
    std::vector<u8> image = disc::rawFromCooked(iso(), 150);
    const auto music = disc::audio(60, 9);
    const u32 songAt = static_cast<u32>(image.size());
    disc::append(image, music);
    disc::writeFile(m_dir.file("mixed.mdf"), image);
    disc::writeFile(m_dir.file("mixed.mds"), mdsFile({{0xAA, 0x14, 1, 2352, 0, 0},
                                                      {0xA9, 0x10, 2, 2352, static_cast<s32>(isoSectors()), songAt}},
                                                     isoSectors() + 60));
    CMds mds(m_dir.file("mixed.mds"));
    const SessionInfo* session = mds.getSession(0);
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(session->tracks.size(), 2u);
    const TrackInfo& song = session->tracks[1];
    const u32 songStart = 150 + isoSectors();
    EXPECT_EQ(session->tracks[0].endFad, songStart - 1);
    EXPECT_EQ(song.startFad, songStart);
    EXPECT_EQ(song.endFad, songStart + 59);
    EXPECT_EQ(session->leadOut, songStart + 60);
    EXPECT_EQ(song.mode, 0u);
    EXPECT_EQ(song.controlAdr, 0x01);
    EXPECT_EQ(song.fileOffset, songAt);
    EXPECT_EQ(disc::userData(mds, songStart, 60, disc::kRaw), music);
}

TEST_F(MdsTest, CookedTrackModesFollowTheModeByte)
{
    struct Case {
        u8 code;
        u16 size;
        u32 mode;
        u32 userBytes;
    };
    const Case cases[] = {{0xEA, 2048, 2, 2048}, {0xAB, 2336, 3, 2336}, {0xEC, 2048, 4, 2048}, {0xED, 2324, 5, 2324}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        disc::writeFile(m_dir.file("c.mdf"), std::vector<u8>(std::size_t{c.size} * 10, 0x3C));
        disc::writeFile(m_dir.file("c.mds"), mdsFile({{c.code, 0x14, 1, c.size, 0, 0}}, 10));
        CMds mds(m_dir.file("c.mds"));
        ASSERT_NE(mds.getSession(0), nullptr);
        const TrackInfo& t = mds.getSession(0)->tracks[0];
        EXPECT_EQ(t.mode, c.mode);
        EXPECT_EQ(t.userDataSize, c.userBytes);
        EXPECT_EQ(t.sectorSize, c.size);
    }

    disc::writeFile(m_dir.file("c.mdf"), std::vector<u8>(2048 * 10, 0));
    disc::writeFile(m_dir.file("c.mds"), mdsFile({{0x42, 0x14, 1, 2048, 0, 0}}, 10));
    LogCapture log;
    CMds unknown(m_dir.file("c.mds"));
    EXPECT_TRUE(log.contains("MDS: Unknown mode [mode: 42]\n"));
    ASSERT_NE(unknown.getSession(0), nullptr);
    EXPECT_EQ(unknown.getSession(0)->tracks[0].mode, 1u);
    EXPECT_EQ(unknown.getSession(0)->tracks[0].userDataSize, 0u);
}

TEST_F(MdsTest, RefusedDescriptionsLoadNothing)
{
    disc::writeFile(m_dir.file("x.mdf"), iso());
    const s32 n = static_cast<s32>(isoSectors());
    const std::vector<MdsTrack> one = {{0xAA, 0x14, 1, 2048, 0, 0}};
    std::vector<u8> badSignature = mdsFile(one, n);
    badSignature[0] = 'm';
    std::vector<u8> sessionsAway = mdsFile(one, n);
    put32(sessionsAway, 80, 0x7FFFFFF0);
    std::vector<u8> blocksAway = mdsFile(one, n);
    put32(blocksAway, 88 + 20, 0xFFFFFF00);
    std::vector<u8> hundredTracks;
    {
        std::vector<MdsTrack> many;
        for (int i = 0; i < 100; ++i)
            many.push_back({0xAA, 0x14, static_cast<u8>(i + 1), 2048, i, static_cast<u32>(i) * 2048});
        hundredTracks = mdsFile(many, 100);
    }
    struct Case {
        const char* name;
        std::vector<u8> file;
        const char* message;
    };
    const Case cases[] = {
        {"medium type bit 4", mdsFile(one, n, 0x10), "MDS: Failed to load! [path: "},
        {"version 2", mdsFile(one, n, 0, 2), "MDS: Failed to load! [path: "},
        {"signature", badSignature, "MDS: Failed to load! [path: "},
        {"header cut short", std::vector<u8>(badSignature.begin() + 1, badSignature.begin() + 40),
         "MDS: Failed to load! [path: "},
        {"session blocks past the end", sessionsAway, "MDS: Failed to load! [path: "},
        {"data blocks past the end", blocksAway, "MDS: Failed to load! [path: "},
        {"no tracks", mdsFile({}, n), "MDS: Bad table of contents\n"},
        {"lead-out before the track", mdsFile({{0xAA, 0x14, 1, 2048, 10, 0}}, 5), "MDS: Bad table of contents\n"},
        {"absurd start", mdsFile({{0xAA, 0x14, 1, 2048, -1000, 0}}, n), "MDS: Bad track start [track: 1]\n"},
        {"absurd lead-out", mdsFile(one, 0x7FFFFFFF), "MDS: Bad session bounds [session: 1]\n"},
        {"too many tracks", hundredTracks, "MDS: Too many tracks [count: 100]\n"},
        {"data shorter than the disc", mdsFile(one, n + 5), "MDS: Data file is too short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        disc::writeFile(m_dir.file("x.mds"), c.file);
        LogCapture log;
        CMds mds(m_dir.file("x.mds"));
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_TRUE(log.contains("MDS: Failed to load! [path: "));
        EXPECT_TRUE(mds.sessions().empty());
    }

    disc::writeFile(m_dir.file("lonely.mds"), mdsFile(one, n));
    LogCapture log;
    CMds lonely(m_dir.file("lonely.mds"));
    EXPECT_TRUE(log.contains("MDS: Failed to open file " + m_dir.file("lonely.mdf") + "! [reason: no such file]\n"))
        << log.text();
    EXPECT_TRUE(lonely.sessions().empty());
}

// Sizes and numbers taken from the file are checked where they are used.
TEST_F(MdsTest, AbsurdSectorSizeAndTrackNumberAreReadAsNoData)
{
    disc::writeFile(m_dir.file("odd.mdf"), std::vector<u8>(2048 * 20, 0x77));
    disc::writeFile(m_dir.file("odd.mds"), mdsFile({{0xAA, 0x14, 1, 0x7FFF, 0, 0}}, 20));
    CMds odd(m_dir.file("odd.mds"));
    ASSERT_NE(odd.getSession(0), nullptr);
    std::vector<u8> buffer(16 * 2448, 0xAA);
    u32 mode = 0;
    s32 size = 0;
    {
        LogCapture log;
        EXPECT_EQ(odd.readSectors(buffer.data(), 160, mode, size, 16), 10u);
        EXPECT_TRUE(log.contains("Sector: Bad block size [size: 32767, fad: 160, tno: 1]\n")) << log.text();
    }
    EXPECT_EQ(size, 2352);
    for (std::size_t i = 0; i < 10 * 2352; ++i)
        ASSERT_EQ(buffer[i], 0) << i;

    // Point 200 lies in the session's range 200..200 but names no track of the list.
    disc::writeFile(m_dir.file("odd.mds"), mdsFile({{0xAA, 0x14, 200, 2048, 0, 0}}, 20));
    CMds numbered(m_dir.file("odd.mds"));
    ASSERT_NE(numbered.getSession(0), nullptr);
    LogCapture log;
    std::fill(buffer.begin(), buffer.end(), 0xAA);
    EXPECT_EQ(numbered.readSectors(buffer.data(), 150, mode, size, 4), 4u);
    EXPECT_TRUE(log.contains("Sector: FAD is out of range! [FAD: 150]\n"));
    EXPECT_EQ(buffer[5], 0);
}

}  // namespace
