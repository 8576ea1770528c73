// End to end: a disc booted by the built-in BIOS proves itself through the
// CD block as the homebrew libraries do at start-up; kest-headless dumps
// what the program saw.
#include <gtest/gtest.h>

#include <string>

#include "core/base/bus.h"
#include "core/base/helpers.h"
#include "support/files.h"
#include "tools/headless_run.h"

TEST(CdbAuthHeadless, ProgramProvesTheDisc)
{
    TempDir dir;
    const std::string ini = "[General]\r\nkest_bios = 1\r\ncartridge = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string state = dir.file("state.bin");
    const HeadlessRun run = runHeadless("--data " + dir.path().string() + " --fields 90 --dump 0x06080000:44:" +
                                        state + " " + KEST_AUTH_DISC);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> s = readBytes(state);
    ASSERT_EQ(s.size(), 44u);
    ASSERT_EQ(std::string(s.begin(), s.begin() + 4), "KEST") << run.output.substr(0, 4000);
    auto at = [&](u32 offset) { return loadBe32(&s[offset]); };
    EXPECT_EQ(at(8), 4u) << "the boot proved the disc, as the console's BIOS does";
    // The status: paused when asked, a seek while the disc is proved, paused after.
    EXPECT_EQ(at(12) >> 8, 0x01u);
    EXPECT_EQ(at(16) >> 8, 0x04u);
    EXPECT_EQ(at(24) >> 8, 0x01u);
    EXPECT_GE(at(20), 2u) << "EFLS some 50 ms later";
    EXPECT_LE(at(20), 4u);
    EXPECT_EQ(at(28) >> 8, 0x01u);
    EXPECT_EQ(at(32), 4u) << "a disc of this console";
    EXPECT_EQ(at(36) | at(40), 0u);
}
