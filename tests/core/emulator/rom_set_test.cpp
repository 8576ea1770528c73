#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

TEST(GameDatabase, MissingOversizedOrMalformedReadsAsEmptySayingWhy)
{
    TempDir dir;
    LogCapture log;
    const GameDatabase missing = GameDatabase::load(dir.file("data.json"));
    EXPECT_TRUE(log.contains("DATA: Failed to open"));
    EXPECT_EQ(missing.error(), "missing");
    DiscHeader h;
    EXPECT_EQ(missing.chooseCartridge(h), 0x24);
    ASSERT_TRUE(saveFile(dir.file("data.json"), "{\"TITAN\":\n [1, 2", 16));
    log.clear();
    const GameDatabase broken = GameDatabase::load(dir.file("data.json"));
    // Where it breaks, as a JSON reader counts lines and columns.
    EXPECT_TRUE(log.contains("DATA: Failed to parse " + dir.file("data.json") + " [does not parse at line 2, column "))
        << log.text();
    EXPECT_TRUE(broken.error().starts_with("does not parse at line 2, column 7: ")) << broken.error();
    EXPECT_FALSE(broken.findTitanGame("x"));
    EXPECT_EQ(GameDatabase::parse("[1]", "list").error(), "holds no JSON object");
    // Lists of the wrong shape list nothing.
    const GameDatabase odd = GameDatabase::parse(R"({"RAM1M": [1], "TITAN": {"g": 5}})", "odd");
    h.productNumber = "1";
    EXPECT_EQ(odd.chooseCartridge(h), 0x24);
    EXPECT_EQ(odd.titanEntry("g"), GameDatabase::Entry::kNotAnObject);
    EXPECT_EQ(odd.titanEntry("h"), GameDatabase::Entry::kAbsent);

    // Past the bound it is not read at all (a sparse file: no time to make).
    std::filesystem::resize_file(dir.file("data.json"), GameDatabase::kMaxBytes + 1);
    log.clear();
    EXPECT_EQ(GameDatabase::load(dir.file("data.json")).error(), "too large [size: 16777217, limit: 16777216]");
    EXPECT_TRUE(log.contains(" not read: too large [size: 16777217, limit: 16777216]\n")) << log.text();
}

// A file near the bound that is all nesting and empty values takes little
// more memory than its text: no tree of it is built.
TEST(GameDatabase, ParseMemoryStaysNearTheFileSize)
{
    std::string text = R"({"RAM1M": {"T-1": "ONE"}, "junk": [)";
    while (text.size() < GameDatabase::kMaxBytes - 64)
        text += "[],{},";
    text += R"([]], "TITAN": {"g": {"m": {"size": "10", "crc": "0", "offset": "0", "pattern": "OE"}}}})";
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const GameDatabase db = GameDatabase::parse(text, "big");
    getrusage(RUSAGE_SELF, &after);
    ASSERT_EQ(db.error(), "");
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes";
    DiscHeader h;
    h.productNumber = "T-1";
    h.title = "ONE";
    EXPECT_EQ(db.chooseCartridge(h), 0x5A);
    ASSERT_EQ(db.titanFiles("g").size(), 1u);
    EXPECT_EQ(db.titanFiles("g")[0].size, 0x10u);

    // An entry of more members than a set has keeps no more than the bound.
    std::string flood = R"({"TITAN": {"g": {)";
    for (u32 i = 0; flood.size() < GameDatabase::kMaxBytes - 64; ++i)
        flood += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
    flood += "}}}";
    getrusage(RUSAGE_SELF, &before);
    const GameDatabase flooded = GameDatabase::parse(flood, "flood", GameDatabase::Wanted::game("g"));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes";
    EXPECT_EQ(flooded.titanEntry("g"), GameDatabase::Entry::kOverfull);
    EXPECT_EQ(flooded.titanFiles("g").size(), GameDatabase::kMaxMembers);

    // A boot keeps only the entry it needs.
    const GameDatabase one = GameDatabase::parse(R"({"TITAN": {"a": {}, "b": {}}, "RAM1M": {"T-1": "ONE"}})", "x",
                                                 GameDatabase::Wanted::game("b"));
    EXPECT_EQ(one.titanEntry("a"), GameDatabase::Entry::kAbsent);
    EXPECT_EQ(one.titanEntry("b"), GameDatabase::Entry::kListed);
    EXPECT_EQ(one.chooseCartridge(h), 0x24);
    const GameDatabase disc =
        GameDatabase::parse(R"({"TITAN": {"a": {}}, "RAM1M": {"T-1": "ONE", "T-2": "TWO"}})", "x",
                            GameDatabase::Wanted::disc("T-1"));
    EXPECT_EQ(disc.chooseCartridge(h), 0x5A);
    EXPECT_EQ(disc.titanEntry("a"), GameDatabase::Entry::kAbsent);
}

TEST(GameDatabase, TitanFilesInNameOrderWithHexNumbers)
{
    const GameDatabase db = GameDatabase::parse(R"({"TITAN": {"game": {
        "b.ic2": {"size": "0x100000", "crc": "1234ABCD", "offset": "200000", "pattern": "OE"},
        "a.ic1": {"size": " 80000 ", "crc": "0", "offset": "0", "pattern": "_O"},
        "c.ic3": {"size": "FFFFFFFF", "crc": "00000000DEADBEEF", "offset": "0X10", "pattern": "OE"}
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
    EXPECT_EQ(files[2].size, 0xFFFFFFFFu);
    EXPECT_EQ(files[2].crc, 0xDEADBEEFu);
    EXPECT_EQ(files[2].offset, 0x10u);
    for (const auto& file : files)
        EXPECT_EQ(file.fault, "") << file.name;
}

// Each entry that cannot be right names its field; none wraps or reads as 0.
TEST(GameDatabase, EntriesThatCannotBeRightNameTheirField)
{
    const std::string good = R"("size": "100", "crc": "0", "offset": "0", "pattern": "OE")";
    const struct {
        std::string entry, fault;
    } cases[] = {
        // "%x" would take 0x12 and -1.
        {R"("size": "12xyz", "crc": "0", "offset": "0", "pattern": "OE")", R"("size" is not hexadecimal ("12xyz"))"},
        {R"("size": "100", "crc": "-1", "offset": "0", "pattern": "OE")", R"("crc" is not hexadecimal ("-1"))"},
        {R"("size": "100", "crc": "0", "offset": "0x", "pattern": "OE")", R"("offset" is not hexadecimal ("0x"))"},
        {R"("size": "100", "crc": "0", "offset": "1000000000", "pattern": "OE")",
         R"("offset" is more than 8 hexadecimal digits ("1000000000"))"},
        {R"("size": 256, "crc": "0", "offset": "0", "pattern": "OE")", R"("size" is a number, not a string)"},
        {R"("size": "100", "offset": "0", "pattern": "OE")", R"("crc" is missing)"},
        {R"("size": "100", "crc": "0", "offset": [], "pattern": "OE")", R"("offset" is an array, not a string)"},
        {R"("size": "0", "crc": "0", "offset": "0", "pattern": "OE")", R"("size" is 0)"},
        // A key given twice keeps its last value, as any JSON reader does.
        {R"("size": "100", "size": "zz", "crc": "0", "offset": "0", "pattern": "OE")",
         R"("size" is not hexadecimal ("zz"))"},
    };
    for (const auto& c : cases) {
        const GameDatabase db =
            GameDatabase::parse(R"({"TITAN": {"g": {"bad": {)" + c.entry + R"(}, "good": {)" + good + "}}}}", "x");
        const auto files = db.titanFiles("g");
        ASSERT_EQ(files.size(), 2u) << c.entry;
        EXPECT_EQ(files[0].fault, c.fault) << c.entry;
        EXPECT_EQ(files[1].fault, "") << "one bad member leaves the others as they are";
    }
    const auto files = GameDatabase::parse(R"({"TITAN": {"g": {"a": "x", "b": [1]}, "e": {}}})", "x").titanFiles("g");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].fault, "its entry is not an object");
    EXPECT_EQ(files[1].fault, "its entry is not an object");
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

TEST_F(ZipTest, ReadChecksTheRecordedCrcAndSize)
{
    zipfile archive(m_dir.file("game.zip"));
    ASSERT_TRUE(archive.isOpen());
    std::vector<u8> out(0x900, 0xEE);
    LogCapture log;
    const u32 crc = crc32Of({m_even, m_even + sizeof m_even});
    EXPECT_TRUE(archive.read("even.ic1", out.data(), sizeof m_even, crc));
    EXPECT_EQ(std::memcmp(out.data(), m_even, sizeof m_even), 0);
    EXPECT_EQ(out[0x801], 0xEE);  // past the file: untouched
    EXPECT_EQ(log.text(), "");

    // A member of another size than its entry is another file: neither cut
    // nor padded.
    std::vector<u8> untouched(0x900, 0xEE);
    EXPECT_FALSE(archive.read("even.ic1", untouched.data(), 0x900, 0));
    EXPECT_FALSE(archive.read("even.ic1", untouched.data(), 0x10, 0));
    EXPECT_FALSE(archive.read("even.ic1", untouched.data(), sizeof m_even, 0x12345678));
    EXPECT_EQ(untouched[0], 0xEE);
    EXPECT_FALSE(archive.read("missing.ic9", untouched.data(), 0x900, 0));
    zipfile none(m_dir.file("none.zip"));
    EXPECT_FALSE(none.isOpen());
    EXPECT_FALSE(none.read("even.ic1", untouched.data(), 0x900, 0));
    // The member's name and both sums, so the set can be mended.
    char crcLine[128];
    std::snprintf(crcLine, sizeof crcLine, "ZIP: CRC check failed [F: even.ic1, CRC: %08X, expected: 12345678]\n", crc);
    EXPECT_EQ(log.text(), "ZIP: Member shorter than its data.json entry [F: even.ic1, size: 801, entry: 900]\n"
                          "ZIP: Member larger than its data.json entry [F: even.ic1, size: 801, entry: 10]\n" +
                              std::string(crcLine) + "ZIP: zip_stat failed [F: missing.ic9, not in the archive]\n"
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
    EXPECT_FALSE(damaged.read("even.ic1", untouched.data(), sizeof m_even, crc));
    EXPECT_EQ(untouched[0], 0xEE);
    EXPECT_EQ(log.text(), "ZIP: zip_fread failed [F: even.ic1, reason: CRC error]\n");
}

// Archives built to lie: each failure says what libzip says, a member far
// larger than its entry is refused before it is inflated, and a stop
// request ends a read without a complaint of its own.
TEST_F(ZipTest, HostileArchivesSayWhyAndInflateNoMoreThanTheEntry)
{
    const struct {
        std::string kind, arguments, failure;
    } cases[] = {
        {"encrypted", "m.ic1 0x4000",
         "zip_fopen failed [F: m.ic1, reason: the member is encrypted: No password provided]"},
        {"badcrc", "m.ic1 0x4000", "zip_fread failed [F: m.ic1, reason: CRC error]"},
        {"wildoffset", "m.ic1 0x4000", "zip_fopen failed [F: m.ic1, reason: "},
        {"garbage", "m.ic1 0x4000", "zip_fread failed [F: m.ic1, reason: Zlib error: "},
        // The directory says 16 KB; the data would inflate to 64 MB.
        {"lying", "m.ic1 0x4000 0x4000000",
         "zip_fread failed [F: m.ic1, reason: the member holds more than the archive records]"},
        // Four gigabytes in four megabytes, named twice: never inflated.
        {"zeros", "0xFFFFF000 m.ic1 m.ic2",
         "Member larger than its data.json entry [F: m.ic1, size: FFFFF000, entry: 4000]"},
    };
    std::string jobs;
    for (const auto& c : cases)
        jobs += " " + c.kind + " " + m_dir.file(c.kind + ".zip") + " " + c.arguments + " ,";
    const std::string stopZip = m_dir.file("stop.zip");
    ASSERT_EQ(std::system(("python3 " KEST_SOURCE_DIR "/tests/tools/make_hostile_zip.py" + jobs + " zeros " + stopZip +
                           " 0x400000 m")
                              .c_str()),
              0);
    for (const auto& c : cases) {
        zipfile archive(m_dir.file(c.kind + ".zip"));
        ASSERT_TRUE(archive.isOpen()) << c.kind;
        std::vector<u8> out(0x4000, 0xEE);
        LogCapture log;
        EXPECT_FALSE(archive.read("m.ic1", out.data(), 0x4000, 0)) << c.kind;
        EXPECT_TRUE(archive.failure().starts_with(c.failure)) << archive.failure();
        EXPECT_TRUE(archive.failure().ends_with("]")) << archive.failure();
        EXPECT_EQ(log.text(), "ZIP: " + archive.failure() + "\n");
        EXPECT_EQ(out[0], 0xEE) << c.kind;
    }

    zipfile archive(stopZip);
    std::vector<u8> out(0x400000, 0xEE);
    EXPECT_TRUE(archive.read("m", out.data(), 0x400000, 0));
    EXPECT_EQ(out[0x3FFFFF], 0);
    out[0] = 0xEE;
    archive.setStopCheck([] { return true; });
    LogCapture log;
    EXPECT_FALSE(archive.read("m", out.data(), 0x400000, 0));
    EXPECT_EQ(archive.failure(), "stopped");
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(out[0], 0xEE);
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

    std::vector<u8> rom(0x400000, 0x55);
    ASSERT_TRUE(extractRom(kest, archive, "odd.ic2", "_O", rom.data(), 0x1000, 0));
    for (u32 i = 0; i < 0x1000; ++i) {
        ASSERT_EQ(rom[2 * i], 0x55) << i;
        ASSERT_EQ(rom[2 * i + 1], m_odd[i]) << i;
        ASSERT_EQ(rom[0x200000 + i], m_odd[i]) << i;
        ASSERT_EQ(rom[0x300000 + i], m_odd[i]) << i;
    }
    EXPECT_EQ(rom[0x200000 + 0x1000], 0x55);
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
