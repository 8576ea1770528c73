#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cd/media/bin.h"
#include "cd/media/ccd.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

struct CcdEntry {
    std::string point;
    int adr;
    int control;
    long plba;
};

// A description in CloneCD's own layout, CR LF and all.
std::string ccdText(const std::vector<CcdEntry>& entries)
{
    std::ostringstream out;
    out << "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" << entries.size()
        << "\r\nSessions=1\r\nDataTracksScrambled=0\r\nCDTextLength=0\r\n[Session 1]\r\nPreGapMode=1\r\nPreGapSubC=0\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CcdEntry& e = entries[i];
        out << "[Entry " << i << "]\r\nSession=1\r\nPoint=" << e.point << "\r\nADR=0x0" << e.adr << "\r\nControl=0x0"
            << e.control << "\r\nTrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\nPMin=0\r\nPSec=0\r\n"
            << "PFrame=0\r\nPLBA=" << e.plba << "\r\n";
    }
    out << "[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n";
    return out.str();
}

class CcdTest : public disc::IsoTest {};

void expectSameTrack(const TrackInfo& a, const TrackInfo& b)
{
    EXPECT_EQ(a.startFad, b.startFad);
    EXPECT_EQ(a.endFad, b.endFad);
    EXPECT_EQ(a.controlAdr, b.controlAdr);
    EXPECT_EQ(a.mode, b.mode);
    EXPECT_EQ(a.sectorSize, b.sectorSize);
    EXPECT_EQ(a.userDataSize, b.userDataSize);
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.fileOffset, b.fileOffset);
}

TEST_F(CcdTest, DataDiscMatchesTheSingleImageReader)
{
    disc::writeFile(m_dir.file("game.img"), disc::rawFromCooked(iso(), 150));
    disc::writeText(m_dir.file("game.ccd"), ccdText({{"0xa0", 1, 4, 0},
                                                     {"0xa1", 1, 4, 0},
                                                     {"0xa2", 1, 4, isoSectors()},
                                                     {"0x01", 1, 4, 0}}));
    CCcd ccd(m_dir.file("game.ccd"));
    CBin bin(m_dir.file("game.img"));
    ASSERT_NE(ccd.getSession(0), nullptr);
    ASSERT_NE(bin.getSession(0), nullptr);
    const SessionInfo& a = *ccd.getSession(0);
    const SessionInfo& b = *bin.getSession(0);
    EXPECT_EQ(a.leadOut, b.leadOut);
    EXPECT_EQ(a.first, b.first);
    ASSERT_EQ(a.tracks.size(), 1u);
    expectSameTrack(a.tracks[0], b.tracks[0]);
    EXPECT_EQ(disc::userData(ccd, 150, isoSectors()), iso());
}

TEST_F(CcdTest, AudioTrackAfterData)
{
    std::vector<u8> image = disc::rawFromCooked(iso(), 150);
    const auto music = disc::audio(100, 5);
    disc::append(image, music);
    disc::writeFile(m_dir.file("mixed.img"), image);
    // Decimal points read as well as hexadecimal ones, in either case.
    disc::writeText(m_dir.file("mixed.ccd"), ccdText({{"0xA0", 1, 4, 0},
                                                      {"0x01", 1, 4, 0},
                                                      {"2", 1, 0, isoSectors()},
                                                      {"0xa2", 1, 0, isoSectors() + 100}}));
    LogCapture log;
    CCcd ccd(m_dir.file("mixed.ccd"));
    const SessionInfo* session = ccd.getSession(0);
    ASSERT_NE(session, nullptr) << log.text();
    ASSERT_EQ(session->tracks.size(), 2u);
    const TrackInfo& data = session->tracks[0];
    const TrackInfo& song = session->tracks[1];
    const u32 songStart = 150 + isoSectors();
    EXPECT_EQ(data.endFad, songStart - 1);
    EXPECT_EQ(data.mode, 2u);
    EXPECT_EQ(song.startFad, songStart);
    EXPECT_EQ(song.endFad, songStart + 99);
    EXPECT_EQ(session->leadOut, songStart + 100);
    EXPECT_EQ(song.mode, 0u);
    EXPECT_EQ(song.controlAdr, 0x01);
    EXPECT_EQ(song.userDataSize, 2352u);
    EXPECT_EQ(song.number, 2u);
    EXPECT_EQ(disc::userData(ccd, songStart, 100, disc::kRaw), music);

    // A run from inside the data track stops at the song.
    std::vector<u8> buffer(16 * 2448);
    u32 mode = 0;
    s32 size = 0;
    EXPECT_EQ(ccd.readSectors(buffer.data(), songStart - 5, mode, size, 16), 5u);
    EXPECT_EQ(mode, 2u);
}

TEST_F(CcdTest, BrokenDescriptionsLoadNothing)
{
    disc::writeFile(m_dir.file("x.img"), disc::rawFromCooked(iso(), 150));
    const long n = isoSectors();
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"no lead-out", ccdText({{"0x01", 1, 4, 0}}), "CCD: Bad table of contents\n"},
        {"no tracks", ccdText({{"0xa2", 1, 4, n}}), "CCD: Bad table of contents\n"},
        {"garbage", "\x01\x02 not a description\r\n[[[\r\n", "CCD: Failed to load! [path: "},
        {"empty", "", "CCD: Failed to load! [path: "},
        {"absurd entry count", "[Disc]\r\nTocEntries=2000000000\r\n", "CCD: Bad TocEntries [count: 2000000000]\n"},
        {"negative entry count", "[Disc]\r\nTocEntries=-3\r\n", "CCD: Bad TocEntries [count: -3]\n"},
        {"negative start", ccdText({{"0x01", 1, 4, -20}, {"0xa2", 1, 4, n}}), "CCD: Bad track start"},
        {"absurd start", ccdText({{"0x01", 1, 4, 0}, {"0x02", 1, 4, 2000000000}, {"0xa2", 1, 4, n}}),
         "CCD: Bad track start"},
        {"tracks out of order", ccdText({{"0x01", 1, 4, 100}, {"0x02", 1, 4, 10}, {"0xa2", 1, 4, n}}),
         "CCD: Bad table of contents\n"},
        {"lead-out before a track", ccdText({{"0x01", 1, 4, 0}, {"0x02", 1, 4, 50}, {"0xa2", 1, 4, 20}}),
         "CCD: Bad table of contents\n"},
        {"data shorter than the disc", ccdText({{"0x01", 1, 4, 0}, {"0xa2", 1, 4, n + 1}}),
         "CCD: Data file is too short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        disc::writeText(m_dir.file("x.ccd"), c.text);
        LogCapture log;
        CCcd ccd(m_dir.file("x.ccd"));
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_TRUE(log.contains("CCD: Failed to load! [path: "));
        EXPECT_TRUE(ccd.sessions().empty());
        std::vector<u8> buffer(2448, 0xAA);
        u32 mode = 0;
        s32 size = 0;
        EXPECT_EQ(ccd.readSectors(buffer.data(), 150, mode, size, 1), 1u);
        EXPECT_EQ(buffer[100], 0);
    }
}

TEST_F(CcdTest, MissingDataFileIsNamed)
{
    disc::writeText(m_dir.file("alone.ccd"), ccdText({{"0x01", 1, 4, 0}, {"0xa2", 1, 4, 10}}));
    LogCapture log;
    CCcd ccd(m_dir.file("alone.ccd"));
    EXPECT_TRUE(log.contains("CCD: Failed to open file " + m_dir.file("alone.img") + "! [reason: no such file]\n"))
        << log.text();
    EXPECT_TRUE(log.contains("CCD: Failed to load! [path: "));
    EXPECT_TRUE(ccd.sessions().empty());

    log.clear();
    CCcd none(m_dir.file("nothing-here.ccd"));
    EXPECT_TRUE(log.contains("CCD: Failed to load! [path: " + m_dir.file("nothing-here.ccd") +
                             ", reason: no such file]\n"))
        << log.text();
    EXPECT_TRUE(none.sessions().empty());
}

}  // namespace
