#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/base/helpers.h"
#include "support/files.h"
#include "support/process.h"
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
        // What the zip is comes before the BIOS it would need.
        {"[Path]\r\n", database, folder.dir.file("other.zip"),
         "Data for other not found [database: " + data + ", no such entry; a set is the entry of \"TITAN\" named as "
         "its zip file without .zip]: not a known arcade set; a disc image opens unzipped\n"},
        {"[Path]\r\n", "", "kestarc.zip", "missing]: not a known arcade set; a disc image opens unzipped\n"},
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

namespace {

void makeHostileZips(const std::string& jobs)
{
    ASSERT_EQ(std::system(("python3 " KEST_SOURCE_DIR "/tests/tools/make_hostile_zip.py " + jobs).c_str()), 0);
}

bool hasRawControls(const std::string& text)
{
    return text.find_first_of("\x1B\x07") != std::string::npos;
}

}  // namespace

// Sets a database or an archive makes impossible are refused before the
// machine runs, the reason naming the member and the field, with what
// libzip says for a damaged archive, and a name's control characters shown
// escaped in the log and the closing line alike.
TEST(HeadlessArcade, ImpossibleSetsAreRefusedNamingTheMemberAndTheField)
{
    ArcadeFolder folder;
    const std::string good = readText(kArcade + "/data.json");
    auto edited = [&](const std::function<void(nlohmann::json&)>& edit) {
        nlohmann::json data = nlohmann::json::parse(good);
        edit(data["TITAN"]["kestarc"]["kestarc_dat.ic3"]);
        return data.dump();
    };
    auto field = [&](const char* key, nlohmann::json value) {
        return edited([=](nlohmann::json& member) { member[key] = value; });
    };
    auto one = [](const std::string& game, const std::string& member, const std::string& size) {
        return R"({"TITAN": {")" + game + R"(": {")" + member + R"(": {"size": ")" + size +
               R"(", "crc": "0", "offset": "200000", "pattern": "OE"}}}})";
    };
    makeHostileZips("zeros " + folder.dir.file("huge.zip") + " 0xFFFFF000 m01 m02 m03");
    const std::string dat = "Bad data.json entry [F: kestarc_dat.ic3]: ";
    const struct {
        std::string database, set, reason;
    } cases[] = {
        {"{\"TITAN\": {\"kestarc\":\n oops}}", "",
         "Data for kestarc not found [database: " + folder.dir.file("data.json") +
             ", does not parse at line 2, column 2: syntax error"},
        {field("crc", "4185D7BG"), "", dat + R"("crc" is not hexadecimal ("4185D7BG"))"},
        {field("size", "100000100"), "", dat + R"("size" is more than 8 hexadecimal digits ("100000100"))"},
        {field("size", 256), "", dat + R"("size" is a number, not a string)"},
        {edited([](nlohmann::json& m) { m.erase("offset"); }), "", dat + R"("offset" is missing)"},
        {edited([](nlohmann::json& m) { m = "x"; }), "", dat + "its entry is not an object"},
        {field("size", "200"), "",
         "Member shorter than its data.json entry [F: kestarc_dat.ic3, size: 100, entry: 200]"},
        {R"({"TITAN": {"kestarc": {}}})", "", "Data for kestarc lists no ROM files"},
        {R"({"TITAN": {"kestarc": 5}})", "", "Data for kestarc not found [database: " + folder.dir.file("data.json") +
                                                 ", its entry is not an object]"},
        {one("huge", "m01", "4000"), "huge.zip",
         "Member larger than its data.json entry [F: m01, size: FFFFF000, entry: 4000]"},
        {one("kestarc", R"(m\u001B[31m\u0007)", "4000"), "",
         "zip_stat failed [F: m\\x1B[31m\\x07, not in the archive]"},
        // The archive holds kestarc_prg.ic13, which is not this name.
        {one("kestarc", R"(kestarc_prg.ic13\u0000.bak)", "4000"), "",
         "kestarc_prg.ic13\\x00.bak of kestarc.zip: zip_stat failed [F: kestarc_prg.ic13\\x00.bak, the name holds "
         "a NUL byte, which no member name does]"},
    };
    for (const auto& c : cases) {
        folder.write("data.json", c.database);
        const std::string set = c.set.empty() ? kArcade + "/kestarc.zip" : folder.dir.file(c.set);
        const auto [run, result] = folder.run("--fields 2", set);
        EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
        EXPECT_TRUE(result.empty()) << "the machine ran: " << c.reason;
        EXPECT_NE(run.output.find("kest-headless: the arcade game cannot run: "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << c.reason << "\n" << run.output;
        EXPECT_FALSE(hasRawControls(run.output)) << run.output;
    }

    // A database past its bound is not read (a sparse file: no time to make).
    std::filesystem::resize_file(folder.dir.file("data.json"), 17 << 20);
    const auto [run, result] = folder.run("--fields 2");
    EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
    EXPECT_NE(run.output.find(", too large [size: 17825792, limit: 16777216]]"), std::string::npos) << run.output;
}

// A set of two hundred 48 MB names in a small archive would inflate for
// half a minute: it is refused before a byte of it is.
TEST(HeadlessArcade, AHugeSetIsRefusedBeforeItInflates)
{
    ArcadeFolder folder;
    makeHostileZips("set " + folder.dir.path().string() + " slow 200 0x3000000");
    const auto [run, result] = folder.run("--fields 2 --verbose", folder.dir.file("slow.zip"));
    EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
    EXPECT_TRUE(result.empty()) << "the machine ran";
    EXPECT_NE(run.output.find("kest-headless: the arcade game cannot run: Data for slow asks for more than the "
                              "cartridge holds [database: " + folder.dir.file("data.json") +
                              ", total: 258000000, cartridge: 3000000]\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Extract"), std::string::npos) << run.output;
}

// The game writes EEPROM word 0 in its first fields: the file holds it while
// the run goes on, so a run ended by SIGTERM or killed outright keeps it.
TEST(HeadlessArcade, EepromReachesItsFileWhileTheGameRuns)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        ArcadeFolder folder;
        folder.write("data.json", readText(kArcade + "/data.json"));
        const std::string eeprom = folder.dir.file("saves/stv_eeprom.sav");
        const pid_t pid = spawn({KEST_BINARY_DIR "/tools/kest-headless", "--data", folder.dir.path().string(),
                                 "--fields", "1000000", kArcade + "/kestarc.zip"},
                                "", folder.dir.file("log.txt"));
        ASSERT_GT(pid, 0);
        std::vector<u8> seen;
        for (int i = 0; i < 1000 && (seen.size() < 2 || seen[0] == 0xFF); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen = readBytes(eeprom);
        }
        kill(pid, signal);
        int status = 0;
        ASSERT_TRUE(waitFor(pid, std::chrono::seconds(20), &status));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        const std::vector<u8> saved = readBytes(eeprom);
        ASSERT_EQ(saved.size(), 128u) << signal;
        EXPECT_EQ(saved[0], 0xC3) << signal;
        EXPECT_EQ(saved[1], 0x5A) << signal;
    }
    // A folder in the file's place takes none of it, and the run fails.
    ArcadeFolder folder;
    folder.write("data.json", readText(kArcade + "/data.json"));
    const std::string eeprom = folder.dir.file("saves/stv_eeprom.sav");
    std::filesystem::create_directories(eeprom);
    // Two fields: the game's write is left to the end of the run.
    const HeadlessRun run = folder.run("--fields 2").first;
    EXPECT_EQ(run.status, 1 << 8) << run.output;
    EXPECT_NE(run.output.find("save not written: '" + eeprom + "': not a regular file\n"), std::string::npos)
        << run.output;
    EXPECT_TRUE(std::filesystem::is_empty(eeprom));
}
