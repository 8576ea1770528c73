#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "board/cart/cart_titan.h"
#include "board/cart/cartridge.h"
#include "board/cart/eeprom.h"
#include "core/base/bus.h"
#include "core/base/helpers.h"
#include "core/emulator/kest.h"
#include "core/base/shared_state.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

// A cooked 2048-byte image whose first sector carries a system header.
std::vector<u8> discImage(const std::string& product, const std::string& title, const std::string& area,
                          const std::string& hardware = "SEGA SEGASATURN")
{
    std::vector<u8> image(20 * 2048, 0);
    auto put = [&](u32 at, u32 length, const std::string& text) {
        for (u32 i = 0; i < length; ++i)
            image[at + i] = i < text.size() ? static_cast<u8>(text[i]) : ' ';
    };
    put(0x00, 16, hardware);
    put(0x10, 16, "SEGA TP KEST");
    put(0x20, 10, product);
    put(0x2A, 6, "V1.000");
    put(0x30, 8, "20261207");
    put(0x38, 8, "CD-1/1");
    put(0x40, 10, area);
    put(0x50, 16, "J");
    put(0x60, 112, title);
    storeBe32(&image[0xE0], 0x1000);
    storeBe32(&image[0xF0], 0x06004000);
    // A volume descriptor and a root directory whose third record is a
    // 16-byte first file, so the built-in BIOS boots the disc.
    u8* pvd = &image[16 * 2048];
    pvd[0] = 1;
    std::memcpy(pvd + 1, "CD001", 5);
    storeBe32(pvd + 162, 17);
    u8* root = &image[17 * 2048];
    for (u32 record = 0; record < 3; ++record)
        root[record * 34] = 34;
    storeBe32(root + 2 * 34 + 6, 18);
    storeBe32(root + 2 * 34 + 14, 16);
    return image;
}

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        hostPadState[0] = hostPadState[1] = 0xFF;
        kest = std::make_unique<Kest>();
        kest->setDataFolder(dir.path().string());
        kest->prepare(nullptr);
    }
    void TearDown() override
    {
        kest.reset();
        scheduler().clear();
    }

    void settings(const std::string& text)
    {
        ASSERT_TRUE(saveFile(dir.file("kest.ini"), text.data(), static_cast<u32>(text.size())));
    }
    std::string writeDisc(const std::vector<u8>& image, const std::string& name = "game.iso")
    {
        const std::string path = dir.file(name);
        EXPECT_TRUE(saveFile(path, image.data(), static_cast<u32>(image.size())));
        return path;
    }
    void useDatabase()
    {
        std::filesystem::copy_file(std::string(KEST_DATA_DIR) + "/romset/data.json", dir.file("data.json"));
    }
    CSystem& sys() { return kest->getSystem(); }

    TempDir dir;
    std::unique_ptr<Kest> kest;
};

}  // namespace

TEST_F(OpenTest, RegionSettingChoosesTheAreaAndTheTiming)
{
    const struct { int region; char letter; u8 area; bool pal; } cases[] = {
        {1, 'J', 1, false}, {2, 'T', 2, false}, {3, 'U', 4, false}, {4, 'B', 5, false},
        {5, 'K', 6, false}, {6, 'A', 10, true}, {7, 'E', 12, true}, {8, 'L', 13, true}, {0, 'J', 1, false},
    };
    const std::string disc = writeDisc(discImage("T-1", "REGION", "J"));
    for (const auto& c : cases) {
        settings("[General]\r\nkest_bios = 1\r\nregion = " + std::to_string(c.region) + "\r\n");
        LogCapture log;
        EXPECT_TRUE(kest->open(disc, 0));
        EXPECT_EQ(kest->areaLetter(), c.letter);
        EXPECT_EQ(sys().smpc().areaCode(), c.area);
        EXPECT_EQ(sys().pal, c.pal ? 1 : 0);
        EXPECT_EQ(sys().raster().fieldNs(), c.pal ? 19980000u : 16666650u);
        EXPECT_EQ(sys().getDisplaySize().height, c.pal ? 256u : 224u);
        const std::string line = std::string("KEST: Mode: <SATURN> [A: ") + c.letter + ", V: " + (c.pal ? "PAL" : "NTSC") + "]\n";
        EXPECT_TRUE(log.contains(line)) << log.text();
    }
}

TEST_F(OpenTest, AutomaticRegionTakesTheDiscsFirstAreaSymbol)
{
    settings("[General]\r\nkest_bios = 1\r\nregion = 0\r\ncartridge = 1\r\n");
    const std::string disc = writeDisc(discImage("T-12345G", "KEST REGION", "ETJ"));
    LogCapture log;
    EXPECT_TRUE(kest->open(disc, 0));
    EXPECT_TRUE(log.contains("KEST: Start (KEST REGION) [ID: T-12345G, D: 20261207, A: ETJ, P: J, IPS: 00001000, "
                             "RA: 06004000]\n"))
        << log.text();
    EXPECT_TRUE(log.contains("KEST: Mode: <SATURN> [A: E, V: PAL]\n"));
    EXPECT_EQ(kest->header().title, "KEST REGION");
    // A set region wins over the disc.
    settings("[General]\r\nkest_bios = 1\r\nregion = 3\r\ncartridge = 1\r\n");
    EXPECT_TRUE(kest->open(disc, 0));
    EXPECT_EQ(kest->areaLetter(), 'U');
}

TEST_F(OpenTest, MissingBiosImageFallsBackToTheBuiltInOne)
{
    settings("[Path]\r\nsat_bios = bios/none.bin\r\n[General]\r\nkest_bios = 0\r\n");
    LogCapture log;
    EXPECT_TRUE(kest->open(writeDisc(discImage("T-1", "BUILT IN", "J")), 0));
    EXPECT_TRUE(kest->builtinBios());
    EXPECT_TRUE(log.contains(
        "KEST: Failed to load BIOS file, use Kest BIOS instead [path: bios/none.bin, reason: no such file]\n"));
    // The built-in BIOS put its reset vectors in the ROM.
    EXPECT_NE(loadBe32(&sys().memory().bios[0]), 0u);
    // The backup memory came from the default file, created empty.
    EXPECT_EQ(readBytes(dir.file("saves/sat_primary_01.bup")).size(), 0x8000u);
}

TEST_F(OpenTest, CartridgeFromTheSettings)
{
    // With the built-in BIOS only a console disc gets its cartridge.
    settings("[General]\r\nkest_bios = 1\r\ncartridge = 2\r\n");
    EXPECT_FALSE(kest->open("", 0));
    EXPECT_EQ(kest->cartridge(), nullptr);
    const std::string console = writeDisc(discImage("T-2", "CONSOLE", "J"), "console.iso");
    EXPECT_TRUE(kest->open(console, 0));
    EXPECT_EQ(sys().cartridgeId, 0x5A);
    ASSERT_NE(kest->cartridge(), nullptr);
    EXPECT_EQ(sys().master().pageMap()->readByte(&sys().master(), 0x24FFFFFF), 0x5A);

    // A backup cartridge needs its file; without it there is none.
    settings("[Path]\r\nsat_memcard = saves/card.bup\r\n[General]\r\nkest_bios = 1\r\ncartridge = 7\r\n");
    EXPECT_TRUE(kest->open(console, 0));
    EXPECT_EQ(sys().cartridgeId, 0xFF);
    EXPECT_EQ(kest->cartridge(), nullptr);
    std::vector<u8> card(0x400000, 0);
    card[0] = 0x42;
    ASSERT_TRUE(saveFile(dir.file("saves/card.bup"), card.data(), static_cast<u32>(card.size())));
    EXPECT_TRUE(kest->open(console, 0));
    EXPECT_EQ(sys().cartridgeId, 0x24);
    ASSERT_NE(kest->cartridge(), nullptr);
    EXPECT_EQ(sys().master().pageMap()->readByte(&sys().master(), 0x04000001), 0x42);

    // The ROM cartridge keeps its ID without a disc, and gives it up with one.
    // A BIOS image is in use here, so no disc is needed for the cartridge;
    // a fresh emulator holds no disc from before.
    kest = std::make_unique<Kest>();
    kest->setDataFolder(dir.path().string());
    kest->prepare(nullptr);
    std::vector<u8> rom(0x200000, 0x11);
    ASSERT_TRUE(saveFile(dir.file("rom.bin"), rom.data(), static_cast<u32>(rom.size())));
    std::vector<u8> bios(0x80000, 0);
    ASSERT_TRUE(saveFile(dir.file("bios.bin"), bios.data(), static_cast<u32>(bios.size())));
    settings("[Path]\r\nsat_rom = rom.bin\r\nsat_bios = bios.bin\r\n[General]\r\nkest_bios = 0\r\ncartridge = 8\r\n");
    EXPECT_TRUE(kest->open("", 0));
    EXPECT_EQ(sys().cartridgeId, 0xC0);
    EXPECT_NE(kest->cartridge(), nullptr);
    EXPECT_TRUE(kest->open(console, 0));
    EXPECT_EQ(sys().cartridgeId, 0xFF);
    EXPECT_NE(kest->cartridge(), nullptr);
}

TEST_F(OpenTest, AutomaticCartridgeFromTheGameDatabase)
{
    useDatabase();
    std::vector<u8> card(0x400000, 0);
    ASSERT_TRUE(saveFile(dir.file("card.bup"), card.data(), static_cast<u32>(card.size())));
    settings("[Path]\r\nsat_memcard = card.bup\r\n[General]\r\nkest_bios = 1\r\ncartridge = 0\r\n");
    const struct { const char* product; const char* title; u8 id; } cases[] = {
        {"T-00001G", "KEST RAM ONE", 0x5A},
        {"T-00004G", "KEST RAM FOUR", 0x5C},
        {"T-00004G", "ANOTHER TITLE", 0x24},
        {"T-99999G", "KEST RAM ONE", 0x24},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(kest->open(writeDisc(discImage(c.product, c.title, "J")), 0));
        EXPECT_EQ(sys().cartridgeId, c.id) << c.product << " " << c.title;
    }
    // Under a BIOS image a disc that is not a console disc gets the backup
    // cartridge.
    LogCapture log;
    std::vector<u8> bios(0x80000, 0);
    ASSERT_TRUE(saveFile(dir.file("bios.bin"), bios.data(), static_cast<u32>(bios.size())));
    settings("[Path]\r\nsat_memcard = card.bup\r\nsat_bios = bios.bin\r\n[General]\r\ncartridge = 0\r\n");
    const std::string other = writeDisc(discImage("T-00001G", "KEST RAM ONE", "J", "SEGA SEGADREAM"), "other.iso");
    EXPECT_TRUE(kest->open(other, 0));
    EXPECT_TRUE(log.contains("KEST: Load game [path: " + other + "]\n"));
    EXPECT_EQ(sys().cartridgeId, 0x24);
}

// An open that cannot start answers false, sets no mode, and keeps its
// first error line as the reason; a non-fatal error before it (a BIOS image
// of the wrong size) is not that reason.
TEST_F(OpenTest, FilesThatCannotStartAreRefusedWithTheirReason)
{
    std::vector<u8> bios(0x80000, 0);
    ASSERT_TRUE(saveFile(dir.file("bios.bin"), bios.data(), static_cast<u32>(bios.size())));
    ASSERT_TRUE(saveFile(dir.file("short.bin"), bios.data(), 100));
    const std::string notes = dir.file("notes.txt");
    ASSERT_TRUE(saveFile(notes, "not a disc", 10));
    std::vector<u8> image = discImage("T-1", "CUT SHORT", "J");
    image.resize(10 * 2048);
    const std::string cut = writeDisc(image, "cut.iso");
    const std::string other = writeDisc(discImage("T-1", "OTHER", "J", "SEGA SEGADREAM"), "other.iso");
    std::vector<u8> bigIp = discImage("T-1", "BIG IP", "J");
    storeBe32(&bigIp[0xE0], 0x000FE001);
    const std::string big = writeDisc(bigIp, "big.iso");
    const std::string kinds = "]: Kest opens disc images (cue, bin, mdf, img, iso, mds, ccd), arcade ROM sets (zip) "
                              "and CD drives";
    const std::string imageBios = "[Path]\r\nsat_bios = bios.bin\r\n";
    const std::string builtIn = "[General]\r\nkest_bios = 1\r\n";
    const struct {
        std::string settings, path, reason;
    } cases[] = {
        {"", notes, "KEST: Not a disc image or ROM set [path: " + notes + kinds},
        {"", dir.file("game.chd"), "KEST: Not a disc image or ROM set [path: " + dir.file("game.chd") + kinds},
        {imageBios, cut, "KEST: Disc system area cannot be read [path: " + cut + ", FAD: 160]: "},
        {builtIn, "", "KEST: No disc to boot: the built-in BIOS starts a disc named as sat_cd in [Path] of kest.ini"},
        {builtIn, other, "KEST: Not a Saturn disc [path: " + other + "]: the built-in BIOS starts Saturn discs only"},
        {builtIn, big, "BIOS: IP does not fit in work RAM [IPS: 000FE001]"},
        {"[Path]\r\nsat_bios = short.bin\r\n", dir.file("none.iso"),
         "BIN: Failed to load! [path: " + dir.file("none.iso") + ", reason: no such file]"},
    };
    for (const auto& c : cases) {
        settings(c.settings);
        LogCapture log;
        EXPECT_FALSE(kest->open(c.path, 0)) << c.path;
        EXPECT_TRUE(kest->openError().starts_with(c.reason)) << kest->openError();
        EXPECT_FALSE(log.contains("KEST: Mode:")) << log.text();
    }
    // Under a BIOS image Boot without a disc is that BIOS's menu, and a
    // disc that is no console disc is the BIOS's to handle.
    settings(imageBios);
    EXPECT_TRUE(kest->open("", 0));
    EXPECT_EQ(kest->openError(), "");
    EXPECT_TRUE(kest->open(other, 0));
}

// Only arcade sets need data.json: a console disc without it logs no error.
TEST_F(OpenTest, ConsoleDiscWithoutTheDatabaseLogsNoError)
{
    settings("[General]\r\nkest_bios = 1\r\ncartridge = 0\r\n");
    LogCapture log;
    EXPECT_TRUE(kest->open(writeDisc(discImage("T-1", "NO DATABASE", "J")), 0));
    EXPECT_EQ(sys().cartridgeId, 0xFF);  // the 4 MB backup cartridge, whose file is missing
    EXPECT_FALSE(log.contains("DATA:")) << log.text();
    EXPECT_TRUE(log.contains("KEST: No game database [path: " + dir.file("data.json") +
                             "]: the automatic cartridge is the 4 MB backup memory\n"))
        << log.text();
}

namespace {

class ArcadeTest : public OpenTest {
protected:
    void SetUp() override
    {
        OpenTest::SetUp();
        useDatabase();
        std::filesystem::copy_file(std::string(KEST_ROMSET_DIR) + "/stv_bios.bin", dir.file("stv_bios.bin"));
        zip = std::string(KEST_ROMSET_DIR) + "/kestgame.zip";
    }
    std::vector<u8> member(const std::string& name) { return readBytes(std::string(KEST_ROMSET_DIR) + "/" + name); }
    // The database without the set's broken members, with which it starts.
    void dropBrokenMembers()
    {
        std::string database = readText(dir.file("data.json"));
        for (const char* broken : {"ic3", "ic4", "ic5", "ic6"}) {
            const std::size_t at = database.find(std::string("\"") + broken + ".bin\"");
            ASSERT_NE(at, std::string::npos) << broken;
            database.erase(at, database.find('\n', at) + 1 - at);
        }
        ASSERT_TRUE(saveFile(dir.file("data.json"), database.data(), static_cast<u32>(database.size())));
    }

    std::string zip;
};

}  // namespace

// The cartridge data computed from the pattern rules alone, from the files
// the archive was made of. Broken members refuse the set, each one named.
TEST_F(ArcadeTest, RomSetFillsTheCartridgeAsItsPatternsSay)
{
    settings("[Path]\r\nstv_bios = stv_bios.bin\r\n");
    LogCapture log;
    EXPECT_FALSE(kest->open(zip, 0));
    EXPECT_TRUE(log.contains("ZIP: CRC check failed [F: ic3.bin, CRC: "));
    EXPECT_TRUE(log.contains("ZIP: zip_stat failed [F: ic4.bin, not in the archive]\n"));
    // The set's first broken member is the fault reported.
    EXPECT_TRUE(kest->arcadeFault().starts_with("ic3.bin of kestgame.zip: CRC check failed [F: ic3.bin, CRC: "))
        << kest->arcadeFault();
    EXPECT_EQ(kest->openError(), kest->arcadeFault());
    EXPECT_TRUE(log.contains("KEST: Unknown pattern (ic5.bin) [P: XX]\n"));
    EXPECT_TRUE(log.contains("KEST: ROM file outside the cartridge data [F: ic6.bin, O: 02FFFF00, S: 00001000]\n"));
    EXPECT_FALSE(log.contains("KEST: Mode:")) << log.text();
    EXPECT_EQ(kest->cartridge(), nullptr);

    dropBrokenMembers();
    log.clear();
    EXPECT_TRUE(kest->open(zip, 0));  // a zip takes the arcade road whatever the mode
    EXPECT_EQ(sys().machineKind, kArcade);
    EXPECT_EQ(kest->arcadeFault(), "");

    std::vector<u8> expected(CartTitan::kSize, 0);
    const std::vector<u8> ic1 = member("ic1.bin");
    for (std::size_t i = 0; i < ic1.size(); ++i)
        expected[0x200000 + (i ^ 1)] = ic1[i];
    auto spread = [&](u32 offset, const std::vector<u8>& file, u32 size) {
        for (u32 i = 0; i < size; ++i) {
            const u8 b = i < file.size() ? file[i] : 0;
            expected[offset + 1 + 2 * i] = b;
            expected[offset + 0x200000 + i] = b;
            expected[offset + 0x300000 + i] = b;
        }
    };
    spread(0x400000, member("ic2.bin"), 0x20000);
    spread(0x1300000, member("ic7.bin"), 0x3000);

    auto* cart = dynamic_cast<CartTitan*>(kest->cartridge());
    ASSERT_NE(cart, nullptr);
    ASSERT_EQ(std::memcmp(cart->data(), expected.data(), expected.size()), 0);

    EXPECT_TRUE(log.contains("KEST: Start (KEST ARCADE TEST) [D: 19970101, A: JUE]\n")) << log.text();
    // The BIOS was byte-swapped; its byte at 0x808 is the area letter.
    EXPECT_TRUE(log.contains("KEST: Mode: <TITAN> [A: E, V: PAL]\n"));
    const std::vector<u8> raw = member("stv_bios.bin");
    EXPECT_EQ(sys().memory().bios[0x808], raw[0x809]);
    EXPECT_EQ(sys().memory().bios[0x809], raw[0x808]);
    // The board's files were made.
    EXPECT_EQ(readBytes(dir.file("saves/stv_eeprom.sav")).size(), 128u);
    EXPECT_EQ(readBytes(dir.file("saves/stv_primary_01.bup")).size(), 0x2000u);
    // The cartridge is seen at 0x02000000 through its windows.
    EXPECT_EQ(sys().master().pageMap()->readByte(&sys().master(), 0x02200000), expected[0x200000]);
}

TEST_F(ArcadeTest, MissingBiosOrGameIsReported)
{
    settings("[Path]\r\nstv_bios = none.bin\r\n");
    LogCapture log;
    EXPECT_FALSE(kest->open(zip, 1));
    EXPECT_TRUE(kest->openError().starts_with("Arcade BIOS not loaded [path: ")) << kest->openError();
    EXPECT_FALSE(log.contains("KEST: Mode:")) << log.text();
    // An empty BIOS file is as good as none: there is nothing to fall back on.
    ASSERT_TRUE(saveFile(dir.file("empty.bin"), "", 0));
    settings("[Path]\r\nstv_bios = empty.bin\r\n");
    log.clear();
    EXPECT_FALSE(kest->open(zip, 1));
    EXPECT_TRUE(log.contains("KEST: BIOS file " + dir.file("empty.bin") +
                             " not used: wrong size [size: 0, need: 524288]\n"))
        << log.text();

    settings("[Path]\r\nstv_bios = stv_bios.bin\r\n");
    log.clear();
    std::filesystem::copy_file(zip, dir.file("Other.zip"));
    EXPECT_FALSE(kest->open(dir.file("Other.zip"), 1));
    EXPECT_TRUE(log.contains("KEST: Data for Other not found [database: " + dir.file("data.json") +
                             ", no such entry; a set is the entry of \"TITAN\" named as its zip file without .zip]: "
                             "not a known arcade set; a disc image opens unzipped\n"))
        << log.text();
    EXPECT_EQ(kest->cartridge(), nullptr);
    log.clear();
    EXPECT_FALSE(kest->open(dir.file("missing.zip"), 1));
    EXPECT_TRUE(log.contains("KEST: Failed to open missing.zip [path: " + dir.file("missing.zip") +
                             ", reason: no such file]\n"))
        << log.text();

    // A malformed database is empty, never an exception, and says where it breaks.
    ASSERT_TRUE(saveFile(dir.file("data.json"), "{ nope", 6));
    log.clear();
    EXPECT_FALSE(kest->open(zip, 1));
    EXPECT_TRUE(log.contains("KEST: Data for kestgame not found [database: " + dir.file("data.json") +
                             ", does not parse at line 1, column "))
        << log.text();
}

// An entry of many bad members is refused in one line, before a byte is
// inflated, and one of more members than a set has in another.
TEST_F(ArcadeTest, HostileEntriesAreRefusedBeforeInflatingAndSaidOnce)
{
    settings("[Path]\r\nstv_bios = stv_bios.bin\r\n");
    kest->setThreshold(2);
    const auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    const auto members = [](int n) {
        std::string entry = R"({"TITAN": {"kestgame": {)";
        for (int i = 0; i < n; ++i)
            entry += (i ? ", \"m" : "\"m") + std::to_string(i) + "\": 0";
        return entry + "}}}";
    };
    for (const int n : {200, 300}) {
        const std::string database = members(n);
        ASSERT_TRUE(saveFile(dir.file("data.json"), database.data(), static_cast<u32>(database.size())));
        LogCapture log;
        EXPECT_FALSE(kest->open(zip, 0));
        EXPECT_EQ(count(log.text(), "Bad data.json entry"), n == 200 ? 1u : 0u) << n;
        EXPECT_EQ(count(log.text(), "lists more than 256 ROM files"), n == 200 ? 0u : 1u) << log.text();
        EXPECT_EQ(count(log.text(), "Extract"), 0u);
    }

}

// Interleaved members count by their own sizes (a pair shares one range):
// sizes that fill the cartridge exactly open, a byte more is refused unread.
TEST_F(ArcadeTest, InterleavedMembersCountByTheirOwnSizes)
{
    settings("[Path]\r\nstv_bios = stv_bios.bin\r\n");
    ASSERT_EQ(std::system(("python3 " KEST_SOURCE_DIR "/tests/tools/make_hostile_zip.py zeros " + dir.file("full.zip") +
                           " 0x800000 m0 m1 m2 m3 m4 m5").c_str()), 0);
    for (const std::string size : {"800000", "800001"}) {
        const std::string json = R"({"TITAN": {"full": {
            "m0": {"size": "800000", "crc": "0", "offset": "0", "pattern": "_O"},
            "m1": {"size": "800000", "crc": "0", "offset": "1", "pattern": "_O"},
            "m2": {"size": "800000", "crc": "0", "offset": "1000000", "pattern": "_O"},
            "m3": {"size": ")" + size + R"(", "crc": "0", "offset": "1000001", "pattern": "_O"},
            "m4": {"size": "800000", "crc": "0", "offset": "2000000", "pattern": "OE"},
            "m5": {"size": "800000", "crc": "0", "offset": "2800000", "pattern": "OE"}}}})";
        ASSERT_TRUE(saveFile(dir.file("data.json"), json.data(), static_cast<u32>(json.size())));
        LogCapture log;
        EXPECT_EQ(kest->open(dir.file("full.zip"), 0), size == "800000") << log.text();
        EXPECT_EQ(log.contains(", total: 3000001, cartridge: 3000000]"), size != "800000") << log.text();
    }
    // 200 names of one 24 MB interleaved member, refused before a byte inflates.
    std::string names, members;
    for (int i = 0; i < 200; ++i) {
        names += " n" + std::to_string(i);
        members += (i ? ",\"n" : "\"n") + std::to_string(i) + R"(": {"size": "1800000", "crc": "0", "offset": "0", "pattern": "_O"})";
    }
    ASSERT_EQ(std::system(("python3 " KEST_SOURCE_DIR "/tests/tools/make_hostile_zip.py zeros " + dir.file("full.zip") +
                           " 0x1800000" + names).c_str()), 0);
    const std::string json = R"({"TITAN": {"full": {)" + members + "}}}";
    ASSERT_TRUE(saveFile(dir.file("data.json"), json.data(), static_cast<u32>(json.size())));
    LogCapture log;
    EXPECT_FALSE(kest->open(dir.file("full.zip"), 0));
    EXPECT_FALSE(log.contains("Extract")) << log.text();
}

// A stop request while a member inflates ends the open: nothing starts,
// and the stop is no fault of the set.
TEST_F(ArcadeTest, AStopRequestWhileASetIsReadEndsTheOpen)
{
    settings("[Path]\r\nstv_bios = stv_bios.bin\r\n");
    static int asked;
    asked = 0;
    kest->setStopCheck([] { return ++asked > 1; });  // once the first member is being read
    LogCapture log;
    EXPECT_FALSE(kest->open(zip, 0));
    EXPECT_TRUE(kest->openStopped());
    EXPECT_EQ(kest->arcadeFault(), "");
    EXPECT_TRUE(log.contains("KEST: Opening kestgame.zip stopped\n")) << log.text();
    EXPECT_FALSE(log.contains("ZIP:")) << log.text();
    EXPECT_FALSE(log.contains("KEST: Mode:"));
}

TEST_F(ArcadeTest, BootWithoutAPathOpensTheConfiguredGame)
{
    settings("[Path]\r\nstv_bios = stv_bios.bin\r\nstv_game1 = " + zip + "\r\n");
    dropBrokenMembers();
    EXPECT_TRUE(kest->open("", 1));
    EXPECT_NE(dynamic_cast<CartTitan*>(kest->cartridge()), nullptr);
}

TEST_F(OpenTest, OpeningWhileAGameRunsStopsItFirst)
{
    settings("[General]\r\nkest_bios = 1\r\ncartridge = 2\r\n");
    const std::string disc = writeDisc(discImage("T-1", "RUNNING", "J"));
    ASSERT_TRUE(kest->open(disc, 0));
    kest->start();
    kest->resume();
    kest->update();
    EXPECT_TRUE(kest->opened());
    settings("[General]\r\nkest_bios = 1\r\ncartridge = 1\r\n");
    EXPECT_TRUE(kest->open(disc, 0));
    EXPECT_FALSE(kest->opened());
    EXPECT_EQ(kest->cartridge(), nullptr);
    EXPECT_EQ(sys().master().runState(), kOff);
    // Boot while it runs reads the held disc once the game has stopped.
    kest->start();
    EXPECT_TRUE(kest->open("", 0));
    EXPECT_FALSE(kest->opened());
    EXPECT_EQ(kest->header().title, "RUNNING");
}

// A game's save files are free for another program once it stops, and so
// are those of an open that fails after loading them (here the disc loses
// its first file between the check and the start).
TEST_F(OpenTest, AStoppedGameAndAFailedOpenLetGoOfTheirSaves)
{
    settings("[Path]\r\nsat_memcard = saves/card.bup\r\n[General]\r\nkest_bios = 1\r\ncartridge = 4\r\n");
    std::filesystem::create_directories(dir.file("saves"));
    ASSERT_TRUE(saveFile(dir.file("saves/card.bup"), std::vector<u8>(0x80000).data(), 0x80000));
    const std::vector<u8> image = discImage("T-1", "SAVES", "J");
    const std::string disc = writeDisc(image);
    const auto allFree = [&] {
        std::vector<u8> memory(0x80000);
        SaveFile other;
        bool free = true;
        for (const auto& [name, size] : {std::pair{"sat_primary_01.bup", 0x8000u}, {"card.bup", 0x80000u},
                                         {"sat_battery.sav", SMPC::kBatteryBytes}})
            free = free && other.load("TEST", dir.file("saves/") + name, memory.data(), size) == SaveFile::State::kLoaded;
        return free;
    };
    for (const bool fails : {false, true}) {
        ASSERT_TRUE(kest->prepareOpen(disc, 0));
        if (fails)
            std::filesystem::resize_file(disc, 17 * 2048);
        ASSERT_EQ(kest->finishOpen(), !fails);
        if (!fails) {
            EXPECT_FALSE(allFree());
            kest->start();
            kest->stop();
        }
        EXPECT_TRUE(allFree()) << fails;
        ASSERT_TRUE(saveFile(disc, image.data(), static_cast<u32>(image.size())));
    }
}
