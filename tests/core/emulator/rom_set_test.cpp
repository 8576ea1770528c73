#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/base/bus.h"
#include "core/base/disc_header.h"
#include "core/emulator/game_database.h"
#include "core/base/helpers.h"
#include "core/base/object.h"
#include "core/emulator/path_parts.h"
#include "core/emulator/zipfile.h"
#include "support/files.h"
#include "support/log_capture.h"

TEST(PathParts, SplitsAtTheLastSeparatorAndDot)
{
    PathParts a("C:\\games\\x.tar.cue");
    EXPECT_EQ(a.directory, "C:\\games\\");
    EXPECT_EQ(a.name, "x.tar");
    EXPECT_EQ(a.extension, "cue");
    PathParts b("old.dir/file");
    EXPECT_EQ(b.directory, "old.dir/");
    EXPECT_EQ(b.name, "file");
    EXPECT_EQ(b.extension, "");
    PathParts c("roms/Game.ZIP");
    EXPECT_EQ(c.name, "Game");
    EXPECT_EQ(c.extension, "ZIP");
    PathParts d("a/b\\c.d/e.f");
    EXPECT_EQ(d.directory, "a/b\\c.d/");
    EXPECT_EQ(d.name, "e");
}

TEST(PathParts, ClassifiesByExtensionOrDriveLetter)
{
    EXPECT_EQ(classifyPath("D:"), FileKind::kDrive);
    EXPECT_EQ(classifyPath("D:\\"), FileKind::kDrive);
    EXPECT_EQ(classifyPath(" D:/ "), FileKind::kDrive);
    EXPECT_EQ(classifyPath("D"), FileKind::kDrive);
    EXPECT_EQ(classifyPath("d:"), FileKind::kUnknown);
    EXPECT_EQ(classifyPath("D:x"), FileKind::kUnknown);
    EXPECT_EQ(classifyPath("C:\\games\\x.tar.cue"), FileKind::kCue);
    EXPECT_EQ(classifyPath("FILE.ISO"), FileKind::kImage);
    EXPECT_EQ(classifyPath("a.bin"), FileKind::kImage);
    EXPECT_EQ(classifyPath("a.mdf"), FileKind::kImage);
    EXPECT_EQ(classifyPath("a.img"), FileKind::kImage);
    EXPECT_EQ(classifyPath("a.binx"), FileKind::kUnknown);
    EXPECT_EQ(classifyPath("game.mds"), FileKind::kMds);
    EXPECT_EQ(classifyPath("game.ccd"), FileKind::kCcd);
    EXPECT_EQ(classifyPath("game.Zip"), FileKind::kZip);
    EXPECT_EQ(classifyPath("game.7z"), FileKind::k7z);
    EXPECT_EQ(classifyPath("game.chd"), FileKind::kChd);
    EXPECT_EQ(classifyPath("old.dir/file"), FileKind::kUnknown);
    EXPECT_EQ(classifyPath("file"), FileKind::kUnknown);
    EXPECT_EQ(machineKindOf(FileKind::kZip), 1);
    EXPECT_EQ(machineKindOf(FileKind::kDrive), 0);
    EXPECT_EQ(machineKindOf(FileKind::kChd), -1);
}

TEST(DiscHeader, FieldsAreTrimmedToTheirWordCharacters)
{
    u8 raw[256];
    std::memset(raw, ' ', sizeof raw);
    auto put = [&](u32 at, const char* text) { std::memcpy(raw + at, text, std::strlen(text)); };
    put(0x00, " SEGA SEGASATURN");
    put(0x10, "SEGA TP T-999   ");
    put(0x20, "T-12345G  ");
    put(0x2A, "V1.000");
    put(0x30, "19961123");
    put(0x38, "CD-1/1  ");
    put(0x40, "JTUE      ");
    put(0x50, "(X)ABC ");
    put(0x60, "KEST TEST DISC");
    storeBe32(raw + 0xE0, 0x1800);
    storeBe32(raw + 0xE8, 0x06002000);
    storeBe32(raw + 0xEC, 0x06001000);
    storeBe32(raw + 0xF0, 0x06004000);
    storeBe32(raw + 0xF4, 0x1234);
    const DiscHeader h = readDiscHeader(raw);
    EXPECT_EQ(h.hardwareId, "SEGA SEGASATURN");
    EXPECT_EQ(h.makerId, "SEGA TP T-999");
    EXPECT_EQ(h.productNumber, "T-12345G");
    EXPECT_EQ(h.version, "V1.000");
    EXPECT_EQ(h.deviceInfo, "CD-1/1");
    EXPECT_EQ(h.areaSymbols, "JTUE");
    EXPECT_EQ(h.peripherals, "X)ABC");
    EXPECT_EQ(h.title, "KEST TEST DISC");
    EXPECT_EQ(h.ipSize, 0x1800u);
    EXPECT_EQ(h.masterStack, 0x06002000u);
    EXPECT_EQ(h.slaveStack, 0x06001000u);
    EXPECT_EQ(h.firstReadAddress, 0x06004000u);
    EXPECT_EQ(h.firstReadSize, 0x1234u);

    const u8 empty[8] = {' ', '-', '.', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(trimField(empty, 0, 8), "");
    const u8 zeros[8] = {'A', 'B', 0, 'C', 0, 0, 0, 0};
    EXPECT_EQ(trimField(zeros, 0, 8), "AB");
    const u8 lines[8] = {'A', 'B', '\n', 'C', 'D', ' ', ' ', ' '};
    EXPECT_EQ(trimField(lines, 0, 8), "AB");
}

TEST(DiscHeader, AreaLetters)
{
    const std::string letters = "JTUBKAEL";
    const u8 codes[] = {1, 2, 4, 5, 6, 10, 12, 13};
    for (std::size_t i = 0; i < letters.size(); ++i) {
        EXPECT_EQ(areaCodeToRegion(letters[i]), codes[i]) << letters[i];
        EXPECT_EQ(isPalArea(letters[i]), i >= 5) << letters[i];
    }
    EXPECT_EQ(areaCodeToRegion('e'), 1);
    EXPECT_EQ(areaCodeToRegion('X'), 1);
    EXPECT_FALSE(isPalArea('e'));
}

TEST(GameDatabase, ConsoleListsNeedNumberAndTitle)
{
    const GameDatabase db = GameDatabase::parse(R"({
        "RAM1M": {"T-1": "ONE", "T-9": "BOTH"},
        "RAM4M": {"T-4": "FOUR", "T-9": "BOTH"},
        "ROM": {"T-R": "ROMGAME"},
        "TITAN": {}
    })", "data.json");
    DiscHeader h;
    h.productNumber = "T-1";
    h.title = "ONE";
    EXPECT_EQ(db.chooseCartridge(h), 0x5A);
    h.productNumber = "T-4";
    h.title = "FOUR";
    EXPECT_EQ(db.chooseCartridge(h), 0x5C);
    h.title = "ANOTHER";
    EXPECT_EQ(db.chooseCartridge(h), 0x24);
    h.productNumber = "T-9";
    h.title = "BOTH";
    EXPECT_EQ(db.chooseCartridge(h), 0x5A);
    h.productNumber = "T-R";
    h.title = "ROMGAME";
    EXPECT_EQ(db.chooseCartridge(h), 0xC0);
}

TEST(GameDatabase, MissingOrMalformedReadsAsEmpty)
{
    TempDir dir;
    LogCapture log;
    const GameDatabase missing = GameDatabase::load(dir.file("data.json"));
    EXPECT_TRUE(log.contains("DATA: Failed to open"));
    DiscHeader h;
    EXPECT_EQ(missing.chooseCartridge(h), 0x24);
    ASSERT_TRUE(saveFile(dir.file("data.json"), "{\"TITAN\": [1, 2", 15));
    log.clear();
    const GameDatabase broken = GameDatabase::load(dir.file("data.json"));
    EXPECT_TRUE(log.contains("DATA: Failed to parse"));
    EXPECT_FALSE(broken.findTitanGame("x"));
    // Lists of the wrong shape list nothing.
    const GameDatabase odd = GameDatabase::parse(R"({"RAM1M": [1], "TITAN": {"g": 5}})", "odd");
    h.productNumber = "1";
    EXPECT_EQ(odd.chooseCartridge(h), 0x24);
    EXPECT_FALSE(odd.findTitanGame("g"));
}

TEST(GameDatabase, TitanFilesInNameOrderWithHexNumbers)
{
    const GameDatabase db = GameDatabase::parse(R"({"TITAN": {"game": {
        "b.ic2": {"size": "0x100000", "crc": "1234ABCD", "offset": "200000", "pattern": "OE"},
        "a.ic1": {"size": "80000", "crc": "0", "offset": "0", "pattern": "_O"},
        "c.ic3": {"size": "zz", "offset": "10"}
    }}})", "data.json");
    ASSERT_TRUE(db.findTitanGame("game"));
    EXPECT_FALSE(db.findTitanGame("Game"));
    const auto files = db.titanFiles("game");
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "a.ic1");
    EXPECT_EQ(files[0].size, 0x80000u);
    EXPECT_EQ(files[0].pattern, "_O");
    EXPECT_EQ(files[1].size, 0x100000u);
    EXPECT_EQ(files[1].crc, 0x1234ABCDu);
    EXPECT_EQ(files[1].offset, 0x200000u);
    EXPECT_EQ(files[2].size, 0u);
    EXPECT_EQ(files[2].crc, 0u);
    EXPECT_EQ(files[2].offset, 0x10u);
    EXPECT_EQ(files[2].pattern, "");
}

namespace {

u32 crc32Of(const std::vector<u8>& data)
{
    u32 crc = 0xFFFFFFFF;
    for (u8 b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

class ZipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(7);
        for (std::size_t i = 0; i < sizeof(m_even); ++i)
            m_even[i] = static_cast<u8>(rng());
        m_odd.resize(0x1000);
        for (u8& b : m_odd)
            b = static_cast<u8>(rng());
        ASSERT_TRUE(saveFile(m_dir.file("even.ic1"), m_even, sizeof m_even));
        ASSERT_TRUE(saveFile(m_dir.file("odd.ic2"), m_odd.data(), static_cast<u32>(m_odd.size())));
        const std::string command = "cd '" + m_dir.path().string() + "' && zip -q game.zip even.ic1 odd.ic2";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    TempDir m_dir;
    u8 m_even[0x801];
    std::vector<u8> m_odd;
};

}  // namespace

TEST_F(ZipTest, ReadChecksTheRecordedCrc)
{
    zipfile archive(m_dir.file("game.zip"));
    ASSERT_TRUE(archive.isOpen());
    std::vector<u8> out(0x900, 0xEE);
    LogCapture log;
    EXPECT_TRUE(archive.read("even.ic1", out.data(), 0x900, crc32Of({m_even, m_even + sizeof m_even})));
    EXPECT_EQ(std::memcmp(out.data(), m_even, sizeof m_even), 0);
    EXPECT_EQ(out[0x801], 0xEE);  // past the file: untouched
    std::vector<u8> cut(0x10, 0xEE);
    EXPECT_TRUE(archive.read("even.ic1", cut.data(), 0x10, 0));
    EXPECT_EQ(std::memcmp(cut.data(), m_even, 0x10), 0);
    EXPECT_EQ(log.text(), "");

    std::vector<u8> untouched(0x900, 0xEE);
    EXPECT_FALSE(archive.read("even.ic1", untouched.data(), 0x900, 0x12345678));
    EXPECT_EQ(untouched[0], 0xEE);
    EXPECT_FALSE(archive.read("missing.ic9", untouched.data(), 0x900, 0));
    zipfile none(m_dir.file("none.zip"));
    EXPECT_FALSE(none.isOpen());
    EXPECT_FALSE(none.read("even.ic1", untouched.data(), 0x900, 0));
    // The member's name and both sums, so the set can be mended.
    char crcLine[128];
    std::snprintf(crcLine, sizeof crcLine, "ZIP: CRC check failed [F: even.ic1, CRC: %08X, expected: 12345678]\n",
                  crc32Of({m_even, m_even + sizeof m_even}));
    EXPECT_EQ(log.text(), std::string(crcLine) + "ZIP: zip_stat failed [F: missing.ic9, not in the archive]\n"
                                                 "ZIP: zip_open failed\n");
    EXPECT_EQ(none.failure(), "zip_open failed");

    // Data damaged after zipping still matches the directory's CRC; the
    // bytes read do not, and nothing of them is used.
    const std::string command = "cd '" + m_dir.path().string() + "' && zip -q -0 stored.zip even.ic1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<u8> stored = readBytes(m_dir.file("stored.zip"));
    const auto at = std::search(stored.begin(), stored.end(), m_even, m_even + 64);
    ASSERT_NE(at, stored.end());
    at[40] ^= 0x01;
    ASSERT_TRUE(saveFile(m_dir.file("stored.zip"), stored.data(), static_cast<u32>(stored.size())));
    zipfile damaged(m_dir.file("stored.zip"));
    log.clear();
    EXPECT_FALSE(damaged.read("even.ic1", untouched.data(), 0x900, crc32Of({m_even, m_even + sizeof m_even})));
    EXPECT_FALSE(damaged.read("even.ic1", untouched.data(), 0x10, crc32Of({m_even, m_even + sizeof m_even})))
        << "read to the end even when only the start is wanted";
    EXPECT_EQ(untouched[0], 0xEE);
    EXPECT_FALSE(log.text().empty());
}

TEST_F(ZipTest, PatternsPlaceTheBytes)
{
    zipfile archive(m_dir.file("game.zip"));
    std::vector<u8> cart(0x400000, 0x55);
    Object kest("KEST");
    kest.setThreshold(2);
    LogCapture log;
    ASSERT_TRUE(extractRom(kest, archive, "even.ic1", "OE", cart.data() + 0x10, 0x801, 0));
    for (u32 i = 0; i + 1 < 0x801; i += 2) {
        ASSERT_EQ(cart[0x10 + i], m_even[i + 1]) << i;
        ASSERT_EQ(cart[0x10 + i + 1], m_even[i]) << i;
    }
    EXPECT_EQ(cart[0x10 + 0x800], m_even[0x800]);

    // "_O" asks for more than the file holds: the rest reads as zeros.
    std::vector<u8> rom(0x400000, 0x55);
    ASSERT_TRUE(extractRom(kest, archive, "odd.ic2", "_O", rom.data(), 0x1800, 0));
    for (u32 i = 0; i < 0x1800; ++i) {
        const u8 expected = i < m_odd.size() ? m_odd[i] : 0;
        ASSERT_EQ(rom[2 * i], 0x55) << i;
        ASSERT_EQ(rom[2 * i + 1], expected) << i;
        ASSERT_EQ(rom[0x200000 + i], expected) << i;
        ASSERT_EQ(rom[0x300000 + i], expected) << i;
    }
    EXPECT_EQ(rom[0x200000 + 0x1800], 0x55);
    EXPECT_EQ(extentOfPattern("_O", 0x1800), 0x301800u);
    EXPECT_EQ(extentOfPattern("_O", 0x200000), 0x500000u);
    EXPECT_EQ(extentOfPattern("OE", 0x1800), 0x1800u);
    EXPECT_TRUE(log.contains("KEST: Extract even.ic1 [CRC: 00000000]\n"));

    log.clear();
    EXPECT_FALSE(extractRom(kest, archive, "odd.ic2", "XX", rom.data(), 0x10, 0));
    EXPECT_EQ(log.text(), "KEST: Extract odd.ic2 [CRC: 00000000]\nKEST: Unknown pattern (odd.ic2) [P: XX]\n");
}

TEST(SwapWords, OddLastByteStays)
{
    u8 data[5] = {1, 2, 3, 4, 5};
    swapWords16(data, 5);
    EXPECT_EQ(std::vector<u8>(data, data + 5), (std::vector<u8>{2, 1, 4, 3, 5}));
}
