#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "core/base/helpers.h"
#include "core/base/file_io.h"
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

// A path keeps its start and its file name, and whole UTF-8 characters on
// both sides of the "...".
TEST(Helpers, ShortenPathKeepsItsEndsAndWholeCharacters)
{
    EXPECT_EQ(shortenPath("/games/" + std::string(60, 'x') + "/Saturn Game (Disc 1).cue", 40),
              "/games/xxxxx.../Saturn Game (Disc 1).cue");
    std::string accents = "/";
    for (int i = 0; i < 100; ++i)
        accents += "\u00E9";
    for (std::size_t length = 40; length < 44; ++length) {
        const std::string cut = shortenPath(accents + "/x.iso", length);
        const std::size_t dots = cut.find("...");
        // Neither a first byte without its second, nor a second without its first.
        EXPECT_TRUE(cut.size() <= length && static_cast<u8>(cut[dots - 1]) != 0xC3 &&
                    static_cast<u8>(cut[dots + 3]) != 0xA9)
            << cut;
    }
}

// Replacing goes through a new file: the user's permissions and links stay,
// a failed write leaves the old contents, and nothing is left beside the file.
TEST(Helpers, ReplaceFileKeepsModeAndLinks)
{
    TempDir dir;
    ASSERT_TRUE(saveFile(dir.file("real.sav"), "old", 3));
    using std::filesystem::perms;
    std::filesystem::permissions(dir.file("real.sav"), perms::owner_read | perms::owner_write);
    std::filesystem::create_symlink("real.sav", dir.file("link.sav"));
    ASSERT_TRUE(replaceFile(dir.file("link.sav"), "newer", 5));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.sav")));
    EXPECT_EQ(std::filesystem::status(dir.file("real.sav")).permissions(), perms::owner_read | perms::owner_write);

    // A disk that fills up during the write.
    const std::vector<u8> big(4096, 0x42);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool replaced = replaceFile(dir.file("real.sav"), big.data(), big.size());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(readBytes(dir.file("real.sav")), (std::vector<u8>{'n', 'e', 'w', 'e', 'r'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "nothing left beside it";
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
