#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/base/helpers.h"
#include "support/files.h"
#include "headless_run.h"

// The test game of make_arcade_set.py writes at 0x06080000 "ARC1", six
// ROM-layout checks, the player and system port bytes, EEPROM results and
// whether the 68000 answered.
namespace {

const std::string kArcade = KEST_ARCADE_DIR;

struct ArcadeFolder {
    TempDir dir;

    ArcadeFolder() { write("kest.ini", "[Path]\r\nstv_bios = " + kArcade + "/stv_bios.bin\r\n"); }
    void write(const std::string& name, const std::string& text)
    {
        ASSERT_TRUE(saveFile(dir.file(name), text.data(), static_cast<u32>(text.size())));
    }
    // The run's status and output, and the 24 bytes the game wrote (none if it never ran).
    std::pair<HeadlessRun, std::vector<u8>> run(const std::string& arguments,
                                                const std::string& set = kArcade + "/kestarc.zip")
    {
        const std::string dump = dir.file("result.bin");
        std::filesystem::remove(dump);
        HeadlessRun r = runHeadless("--data " + dir.path().string() + " --dump 0x06080000:24:" + dump + " " +
                                    arguments + " " + set);
        return {r, readBytes(dump)};
    }
};

}  // namespace

// Presses, pad and arcade names alike, land on the player and system port
// bits, active low.
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
    folder.write("data.json", readText(kArcade + "/data.json"));
    for (const auto& c : cases) {
        const auto [run, result] = folder.run(std::string("--fields 6 --press ") + c.press);
        ASSERT_EQ(run.status, 0) << run.output;
        ASSERT_EQ(result.size(), 24u) << c.press;
        EXPECT_EQ(std::string(result.begin(), result.begin() + 4), "ARC1");
        EXPECT_EQ(result[12], c.player) << c.press;
        EXPECT_EQ(result[13], c.system) << c.press;
        // The set is whole: six layout checks pass, the 68000 answers.
        EXPECT_EQ(std::vector<u8>(result.begin() + 4, result.begin() + 10), std::vector<u8>(6, 1));
        EXPECT_EQ(result[21], 1) << "68000";
    }
    const std::string help = runHeadless("--help").output;
    EXPECT_NE(help.find("l coin      Y    coin\n"), std::string::npos) << help;
    EXPECT_NE(help.find("start       H    start\n"), std::string::npos);
    HeadlessRun bad = runHeadless("--press 0-1:credit");
    EXPECT_EQ(WEXITSTATUS(bad.status), 2);
    EXPECT_NE(bad.output.find("unknown button 'credit' (right left down up start a c b r x y z l test service coin)"),
              std::string::npos)
        << bad.output;
}

// A set that cannot run ends the run with status 3 and a reason saying what
// to mend, the same as the log's line.
TEST(HeadlessArcade, ASetThatCannotRunSaysWhyAndEndsTheRun)
{
    ArcadeFolder folder;
    const std::string data = folder.dir.file("data.json"), database = readText(kArcade + "/data.json");
    nlohmann::json damaged = nlohmann::json::parse(database);
    auto& crc = damaged["TITAN"]["kestarc"]["kestarc_dat.ic3"]["crc"];
    const std::string datCrc = crc.get<std::string>();
    crc = "12345678";
    // The BIOS image in the machine's byte order, not the dumps'.
    std::vector<u8> unswapped = readBytes(kArcade + "/stv_bios.bin");
    ASSERT_EQ(unswapped.size(), 0x80000u);
    for (std::size_t i = 0; i + 1 < unswapped.size(); i += 2)
        std::swap(unswapped[i], unswapped[i + 1]);
    ASSERT_TRUE(saveFile(folder.dir.file("unswapped.bin"), unswapped.data(), 0x80000));
    std::filesystem::copy_file(kArcade + "/kestarc.zip", folder.dir.file("other.zip"));

    const std::string bios = "[Path]\r\nstv_bios = " + kArcade + "/stv_bios.bin\r\n";
    const std::string entry = "; a set is the entry of \"TITAN\" named as its zip file without .zip]";
    const struct {
        std::string settings, database /* empty: none */, set, reason;
    } cases[] = {
        {"[Path]\r\n", database, "kestarc.zip",
         "No arcade BIOS: name its 512 KB image as stv_bios in [Path] of kest.ini (for example stv_bios = "
         "bios/stv_bios.bin, in the folder of kest.ini)"},
        {"[Path]\r\nstv_bios = bios/none.bin\r\n", database, "kestarc.zip",
         "Arcade BIOS not loaded [path: " + folder.dir.file("bios/none.bin") +
             ", reason: no such file]: stv_bios in [Path] of kest.ini names a 512 KB image"},
        {"[Path]\r\nstv_bios = unswapped.bin\r\n", database, "kestarc.zip",
         "Arcade BIOS area byte is not a letter [path: " + folder.dir.file("unswapped.bin") +
             ", offset: 808, byte: 00]: the image may be in the other byte order"},
        {bios, "", "kestarc.zip", "Data for kestarc not found [database: " + data + ", missing" + entry},
        {bios, database, folder.dir.file("other.zip"),
         "Data for other not found [database: " + data + ", no such entry" + entry},
        {bios, database, folder.dir.file("missing.zip"),
         "Failed to open missing.zip [path: " + folder.dir.file("missing.zip") + ", reason: no such file]"},
        {bios, damaged.dump(), "kestarc.zip",
         "kestarc_dat.ic3 of kestarc.zip: CRC check failed [F: kestarc_dat.ic3, CRC: " + datCrc +
             ", expected: 12345678]"},
    };
    for (const auto& c : cases) {
        folder.write("kest.ini", c.settings);
        std::filesystem::remove(data);
        if (!c.database.empty())
            folder.write("data.json", c.database);
        const std::string set = c.set.find('/') == std::string::npos ? kArcade + "/" + c.set : c.set;
        const auto [run, result] = folder.run("--fields 2", set);
        EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
        EXPECT_TRUE(result.empty()) << "the machine ran";
        const std::string line = c.reason.starts_with("kestarc_dat") ? "ZIP: CRC check failed [F: kestarc_dat.ic3"
                                                                     : "KEST: " + c.reason;
        EXPECT_NE(run.output.find("kest-headless: the arcade game cannot run: " + c.reason), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
    }
}
