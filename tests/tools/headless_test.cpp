#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/bus.h"
#include "support/files.h"

namespace {

struct HeadlessRun {
    int status = -1;
    std::string output;
};

HeadlessRun runHeadless(const std::string& arguments)
{
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless " + arguments + " 2>&1";
    HeadlessRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    run.status = pclose(pipe);
    return run;
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

}  // namespace

TEST(Headless, HelpAndBadArguments)
{
    HeadlessRun help = runHeadless("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--fields N"), std::string::npos);
    HeadlessRun bad = runHeadless("--fields x");
    EXPECT_NE(bad.status, 0);
    HeadlessRun missing = runHeadless("--bios /nonexistent/bios.bin --fields 1");
    EXPECT_NE(missing.status, 0);
}

// A BIOS image that unmasks the SCU's V-BLANK-IN and timer 0 interrupts and
// counts them in work RAM. Field k's V-BLANK-IN starts pass k + 1, and timer 0
// matches on visible line 5 of every field, so 13 passes count 13 of each;
// the first V-BLANK-IN arrives before the program has opened its mask and
// is held until it does.
TEST(Headless, BiosImageCountsScuInterruptsAndSavesBackupMemory)
{
    TempDir dir;
    const std::string bios = std::string(KEST_PROGRAMS_DIR) + "/sh2/board_interrupts.bin";
    const std::string backup = dir.file("backup.bup");
    const std::string dump = dir.file("counters.bin");
    HeadlessRun run = runHeadless("--bios " + bios + " --backup " + backup + " --fields 13 --dump 0x06000000:12:" + dump);
    ASSERT_EQ(run.status, 0) << run.output;

    const std::vector<u8> counters = readBytes(dump);
    ASSERT_EQ(counters.size(), 12u);
    EXPECT_EQ(loadBe32(&counters[0]), 13u) << "V-BLANK-IN";
    EXPECT_EQ(loadBe32(&counters[4]), 13u) << "timer 0";
    EXPECT_EQ(loadBe32(&counters[8]), 1u) << "backup written";

    // Written at the tenth V-BLANK-IN, on disk two V-BLANK-INs later.
    const std::vector<u8> image = readBytes(backup);
    ASSERT_EQ(image.size(), 0x8000u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "KEST");
    EXPECT_EQ(occurrences(run.output, "SYSTEM: Save backup RAM to disk\n"), 1u) << run.output;
    EXPECT_EQ(occurrences(run.output, "SH2(M): reset [PC: 00000100, SP: 06100000]\n"), 1u);
    EXPECT_EQ(run.output.find("Address error"), std::string::npos) << run.output.substr(0, 2000);
    EXPECT_EQ(run.output.find("Bad "), std::string::npos) << run.output.substr(0, 2000);
    EXPECT_NE(run.output.find("SYSTEM: Ran 13 fields [T: NTSC, NS: 216666450]"), std::string::npos);
}
