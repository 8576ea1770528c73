#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/helpers.h"
#include "core/save_file.h"
#include "support/files.h"
#include "support/log_capture.h"

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

// A save file is loaded only whole and written back only when it was
// loaded or absent; whatever else stands at its path is left as it was.
TEST(Helpers, SaveFileLoadsOnlyWholeRegularFiles)
{
    TempDir dir;
    LogCapture log;
    u8 buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SaveFile file;
    EXPECT_EQ(file.load("T", "", buffer, 8), SaveFile::State::kNone);
    EXPECT_FALSE(file.save(buffer, 8));

    EXPECT_EQ(file.load("T", dir.file("new.sav"), buffer, 8), SaveFile::State::kAbsent);
    EXPECT_TRUE(file.save(buffer, 8));
    EXPECT_EQ(file.state(), SaveFile::State::kLoaded);
    u8 back[8] = {};
    EXPECT_EQ(file.load("T", dir.file("new.sav"), back, 8), SaveFile::State::kLoaded);
    EXPECT_TRUE(std::equal(back, back + 8, buffer));
    EXPECT_EQ(log.text(), "");

    ASSERT_TRUE(saveFile(dir.file("short.sav"), "abc", 3));
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("folder.sav")));
    ASSERT_EQ(::mkfifo(dir.file("fifo.sav").c_str(), 0600), 0);
    for (const char* name : {"short.sav", "folder.sav", "fifo.sav"}) {
        log.clear();
        EXPECT_EQ(file.load("T", dir.file(name), back, 8), SaveFile::State::kRefused) << name;
        EXPECT_FALSE(file.save(buffer, 8)) << name;
        EXPECT_TRUE(std::equal(back, back + 8, buffer)) << "untouched: " << name;
        EXPECT_TRUE(log.contains("T: Save file " + dir.file(name) + " left untouched: ")) << log.text();
    }
    EXPECT_EQ(log.text().find("\n"), log.text().size() - 1) << "one line each";
    EXPECT_TRUE(log.contains("not a regular file [size: 0, need: 8]")) << log.text();
    log.clear();
    file.load("T", dir.file("short.sav"), back, 8);
    EXPECT_EQ(log.text(), "T: Save file " + dir.file("short.sav") + " left untouched: wrong size [size: 3, need: 8]\n");
    EXPECT_EQ(readBytes(dir.file("short.sav")), (std::vector<u8>{'a', 'b', 'c'}));
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo.sav")));
}

// Replacing goes through a new file: the user's permissions and links stay,
// a failed write leaves the old contents, and nothing is left beside the file.
TEST(Helpers, ReplaceFileKeepsModeAndLinks)
{
    TempDir dir;
    ASSERT_TRUE(saveFile(dir.file("real.sav"), "old", 3));
    std::filesystem::permissions(dir.file("real.sav"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_write);
    std::filesystem::create_symlink("real.sav", dir.file("link.sav"));
    ASSERT_TRUE(replaceFile(dir.file("link.sav"), "newer", 5));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.sav")));
    EXPECT_EQ(readBytes(dir.file("real.sav")), (std::vector<u8>{'n', 'e', 'w', 'e', 'r'}));
    EXPECT_EQ(std::filesystem::status(dir.file("real.sav")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(replaceFile(dir.file("no/such/dir/x"), "x", 1));

    // A disk that fills up during the write: the old contents stay.
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
