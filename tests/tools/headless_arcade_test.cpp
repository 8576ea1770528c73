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
    ArcadeFolder folder;
    folder.write("data.json", readText(kArcade + "/data.json"));
    const auto [run, result] = folder.run("--fields 6 --press 0-5:left+a+coin+test+service+start");
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(result.size(), 24u);
    EXPECT_EQ(std::string(result.begin(), result.begin() + 4), "ARC1");
    EXPECT_EQ(result[12], 0x7E);
    EXPECT_EQ(result[13], 0xE2);
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
    const struct {
        std::string settings, database /* empty: none */, set, reason;
    } cases[] = {
        {"[Path]\r\n", database, "kestarc.zip", "No arcade BIOS: name its 512 KB image as stv_bios"},
        {"[Path]\r\nstv_bios = bios/none.bin\r\n", database, "kestarc.zip", "Arcade BIOS not loaded [path: "},
        {"[Path]\r\nstv_bios = unswapped.bin\r\n", database, "kestarc.zip", "the image may be in the other byte order"},
        {bios, "", "kestarc.zip", "Data for kestarc not found [database: " + data + ", missing"},
        {bios, database, folder.dir.file("other.zip"), "Data for other not found"},
        {bios, database, folder.dir.file("missing.zip"), "Failed to open missing.zip"},
        {bios, damaged.dump(), "kestarc.zip", "CRC check failed [F: kestarc_dat.ic3, CRC: " + datCrc},
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
        EXPECT_NE(run.output.find("kest-headless: the arcade game cannot run: "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
    }
}
