#include <gtest/gtest.h>

#include <fstream>

#include "core/helpers.h"
#include "support/files.h"

TEST(Helpers, BcdPackedAndUnpacked)
{
    EXPECT_EQ(toBcd(1234, true), 0x1234u);
    EXPECT_EQ(toBcd(59, false), 0x0509u);
    EXPECT_EQ(toBcd(0, true), 0u);
    EXPECT_EQ(toBcd(99, true), 0x99u);
    EXPECT_EQ(toBcd(74, true), 0x74u);
    EXPECT_EQ(toBcd(12345678, true), 0x12345678u);
}

// Red Book: 75 frames a second, and the program area starts at 00:02:00.
TEST(Helpers, RedBookAddresses)
{
    u32 m, s, f;
    sectorToMsf(150, m, s, f);
    EXPECT_EQ((std::vector<u32>{m, s, f}), (std::vector<u32>{0, 2, 0}));
    sectorToMsf(4650, m, s, f);
    EXPECT_EQ((std::vector<u32>{m, s, f}), (std::vector<u32>{1, 2, 0}));
    sectorToMsf(74 * 4500 + 59 * 75 + 74, m, s, f);
    EXPECT_EQ((std::vector<u32>{m, s, f}), (std::vector<u32>{74, 59, 74}));
    EXPECT_EQ(msfToSector(0, 2, 0), 150u);
    EXPECT_EQ(msfToSector(1, 0, 0), 4500u);
    EXPECT_EQ(fadToLba(150), 0u);
    EXPECT_EQ(lbaToFad(16), 166u);
    for (u32 sector = 0; sector < 80 * 4500; sector += 997) {
        sectorToMsf(sector, m, s, f);
        EXPECT_LT(s, 60u);
        EXPECT_LT(f, 75u);
        EXPECT_EQ(msfToSector(m, s, f), sector);
    }
}

TEST(Helpers, CaseAndTexts)
{
    std::string s = "Sat_Bios.BIN";
    EXPECT_EQ(toUpper(s), "SAT_BIOS.BIN");
    EXPECT_EQ(toLower(s), "sat_bios.bin");
    EXPECT_STREQ(toTrueFalse(true), "TRUE");
    EXPECT_STREQ(toOnOff(false), "OFF");
    EXPECT_STREQ(yesText(), "YES");
    EXPECT_STREQ(noText(), "NO");
}

TEST(Helpers, LoadFileFallsBackThenCreates)
{
    TempDir dir;
    u8 buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    // Neither exists: the fallback is created from the buffer.
    EXPECT_TRUE(loadFile(dir.file("missing.bup"), buffer, 8, dir.file("default.bup"), true));
    EXPECT_EQ(readBytes(dir.file("default.bup")), (std::vector<u8>{1, 2, 3, 4, 5, 6, 7, 8}));

    // The fallback is read when the path is missing; a short file leaves the tail.
    ASSERT_TRUE(saveFile(dir.file("default.bup"), "\x09\x0A", 2));
    EXPECT_TRUE(loadFile(dir.file("missing.bup"), buffer, 8, dir.file("default.bup"), true));
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[1], 10);
    EXPECT_EQ(buffer[2], 3);

    // The path wins over the fallback.
    ASSERT_TRUE(saveFile(dir.file("own.bup"), "\x20", 1));
    EXPECT_TRUE(loadFile(dir.file("own.bup"), buffer, 8, dir.file("default.bup"), false));
    EXPECT_EQ(buffer[0], 0x20);

    EXPECT_FALSE(loadFile(dir.file("a"), buffer, 8, dir.file("b"), false));
    // A fallback in a folder that does not exist cannot be created, yet the answer is true.
    EXPECT_TRUE(loadFile(dir.file("a"), buffer, 8, dir.file("no/such/dir/b"), true));
    EXPECT_FALSE(fileExists(dir.file("no/such/dir/b")));
}

TEST(Helpers, FileSizeAndExists)
{
    TempDir dir;
    EXPECT_FALSE(fileExists(dir.file("x")));
    ASSERT_TRUE(saveFile(dir.file("x"), "hello", 5));
    EXPECT_TRUE(fileExists(dir.file("x")));
    std::ifstream in(dir.file("x"), std::ios::binary);
    EXPECT_EQ(fileSize(&in), 5u);
    EXPECT_EQ(fileSize(nullptr), 0u);
    ASSERT_TRUE(createEmptyFile(dir.file("x")));
    EXPECT_TRUE(readBytes(dir.file("x")).empty());
}
