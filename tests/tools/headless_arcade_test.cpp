#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/base/helpers.h"
#include "support/files.h"
#include "headless_run.h"

// The arcade test set (make_arcade_set.py): the test BIOS starts the test
// game, which writes at 0x06080000 "ARC1", its six ROM-layout checks, then
// the player and system port bytes as it last read them, EEPROM word 0 as
// found, whether its write read back and whether the 68000 answered.
namespace {

const std::string kArcade = KEST_ARCADE_DIR;

struct ArcadeRun {
    HeadlessRun run;
    std::vector<u8> result;
};

class ArcadeFolder {
public:
    ArcadeFolder() { settings("[Path]\r\nstv_bios = " + kArcade + "/stv_bios.bin\r\n"); }

    void settings(const std::string& text)
    {
        ASSERT_TRUE(saveFile(dir.file("kest.ini"), text.data(), static_cast<u32>(text.size())));
    }
    void database(const std::string& text)
    {
        ASSERT_TRUE(saveFile(dir.file("data.json"), text.data(), static_cast<u32>(text.size())));
    }
    ArcadeRun run(const std::string& arguments, const std::string& set = kArcade + "/kestarc.zip")
    {
        const std::string dump = dir.file("result.bin");
        std::filesystem::remove(dump);
        ArcadeRun r;
        r.run = runHeadless("--data " + dir.path().string() + " --dump 0x06080000:24:" + dump + " " + arguments +
                            " " + set);
        r.result = readBytes(dump);
        return r;
    }

    TempDir dir;
};

std::string setDatabase()
{
    const std::vector<u8> bytes = readBytes(kArcade + "/data.json");
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// Presses reach the arcade board's ports as the window's keys do: the pad
// names and the arcade ones (coin, test, service) land on the bits the
// board's player and system ports give them, active low.
TEST(HeadlessArcade, PressesReachThePlayerAndSystemPorts)
{
    const struct { const char* press; u8 player; u8 system; } cases[] = {
        {"0-5:left+a", 0x7E, 0xFF},
        {"0-5:right+up+down+x+c+b", 0x81, 0xFF},
        {"0-5:coin+test+service+start", 0xFF, 0xE2},
        {"0-5:l+y+z+r", 0xFF, 0xB2},
        {"0-1:coin+left", 0xFF, 0xFF},  // let go before the last field
    };
    ArcadeFolder folder;
    folder.database(setDatabase());
    for (const auto& c : cases) {
        ArcadeRun r = folder.run(std::string("--fields 6 --press ") + c.press);
        ASSERT_EQ(r.run.status, 0) << r.run.output;
        ASSERT_EQ(r.result.size(), 24u) << c.press;
        ASSERT_EQ(std::string(r.result.begin(), r.result.begin() + 4), "ARC1") << c.press;
        EXPECT_EQ(r.result[12], c.player) << c.press;
        EXPECT_EQ(r.result[13], c.system) << c.press;
    }
    // The set itself is whole: the six layout checks pass, the 68000 answers.
    ArcadeRun r = folder.run("--fields 6");
    ASSERT_EQ(r.result.size(), 24u);
    EXPECT_EQ(std::vector<u8>(r.result.begin() + 4, r.result.begin() + 10), std::vector<u8>(6, 1));
    EXPECT_EQ(r.result[21], 1) << "68000";

    HeadlessRun help = runHeadless("--help");
    EXPECT_NE(help.output.find("l coin      Y    coin\n"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("start       H    start\n"), std::string::npos);
    HeadlessRun bad = runHeadless("--press 0-1:credit");
    EXPECT_EQ(WEXITSTATUS(bad.status), 2);
    EXPECT_NE(bad.output.find("unknown button 'credit' (right left down up start a c b r x y z l test service coin)"),
              std::string::npos)
        << bad.output;
}

// Every way a set fails to run ends the run with status 3 and a reason that
// says what to mend, and the log carries the same.
TEST(HeadlessArcade, ASetThatCannotRunSaysWhyAndEndsTheRun)
{
    ArcadeFolder folder;
    const std::string data = folder.dir.file("data.json");
    nlohmann::json damaged = nlohmann::json::parse(setDatabase());
    const std::string datCrc = damaged["TITAN"]["kestarc"]["kestarc_dat.ic3"]["crc"].get<std::string>();
    damaged["TITAN"]["kestarc"]["kestarc_dat.ic3"]["crc"] = "12345678";
    // The BIOS image in the byte order of the machine, not of the dumps.
    std::vector<u8> unswapped = readBytes(kArcade + "/stv_bios.bin");
    ASSERT_EQ(unswapped.size(), 0x80000u);
    for (std::size_t i = 0; i + 1 < unswapped.size(); i += 2)
        std::swap(unswapped[i], unswapped[i + 1]);
    ASSERT_TRUE(saveFile(folder.dir.file("unswapped.bin"), unswapped.data(), 0x80000));
    std::filesystem::copy_file(kArcade + "/kestarc.zip", folder.dir.file("other.zip"));

    const std::string biosLine = "[Path]\r\nstv_bios = " + kArcade + "/stv_bios.bin\r\n";
    const struct {
        std::string settings;
        std::string database;  // empty: none
        std::string set;
        std::string reason;
    } cases[] = {
        {"[Path]\r\n", setDatabase(), "kestarc.zip",
         "No arcade BIOS: name its 512 KB image as stv_bios in [Path] of kest.ini (for example stv_bios = "
         "bios/stv_bios.bin, in the folder of kest.ini)"},
        {"[Path]\r\nstv_bios = bios/none.bin\r\n", setDatabase(), "kestarc.zip",
         "Arcade BIOS not loaded [path: " + folder.dir.file("bios/none.bin") +
             ", reason: no such file]: stv_bios in [Path] of kest.ini names a 512 KB image"},
        {"[Path]\r\nstv_bios = unswapped.bin\r\n", setDatabase(), "kestarc.zip",
         "Arcade BIOS area byte is not a letter [path: " + folder.dir.file("unswapped.bin") +
             ", offset: 808, byte: 00]: the image may be in the other byte order"},
        {biosLine, "", "kestarc.zip",
         "Data for kestarc not found [database: " + data +
             ", missing; a set is the entry of \"TITAN\" named as its zip file without .zip]"},
        {biosLine, setDatabase(), folder.dir.file("other.zip"),
         "Data for other not found [database: " + data +
             ", no such entry; a set is the entry of \"TITAN\" named as its zip file without .zip]"},
        {biosLine, setDatabase(), folder.dir.file("missing.zip"),
         "Failed to open missing.zip [path: " + folder.dir.file("missing.zip") + ", reason: no such file]"},
        {biosLine, damaged.dump(), "kestarc.zip",
         "kestarc_dat.ic3 of kestarc.zip: CRC check failed [F: kestarc_dat.ic3, CRC: " + datCrc +
             ", expected: 12345678]"},
    };
    for (const auto& c : cases) {
        folder.settings(c.settings);
        std::filesystem::remove(data);
        if (!c.database.empty())
            folder.database(c.database);
        const std::string set = c.set.find('/') == std::string::npos ? kArcade + "/" + c.set : c.set;
        ArcadeRun r = folder.run("--fields 2", set);
        EXPECT_EQ(WEXITSTATUS(r.run.status), 3) << r.run.output;
        EXPECT_NE(r.run.output.find("kest-headless: the arcade game cannot run: " + c.reason), std::string::npos)
            << r.run.output;
        EXPECT_TRUE(r.result.empty()) << "the machine ran";
        // The reason is the log's line, after the log's own tag.
        const std::string line = c.reason.starts_with("kestarc_dat") ? "ZIP: CRC check failed [F: kestarc_dat.ic3"
                                                                     : "KEST: " + c.reason;
        EXPECT_NE(r.run.output.find(line), std::string::npos) << r.run.output;
    }
}
