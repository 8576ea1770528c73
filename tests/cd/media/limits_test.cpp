#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "cd/media/bin.h"
#include "cd/media/ccd.h"
#include "cd/media/cue.h"
#include "cd/media/mds.h"
#include "core/base/ini.h"
#include "disc_images.h"
#include "support/log_capture.h"

namespace {

long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::size_t openDescriptors()
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Opens the file as its extension says; true when nothing was loaded.
bool loadsNothing(const std::string& path)
{
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension == ".ini")
        return INI(path, false).sections().empty();
    if (extension == ".ccd")
        return CCcd(path).sessions().empty();
    if (extension == ".mds")
        return CMds(path).sessions().empty();
    if (extension == ".cue")
        return CCue(path).sessions().empty();
    return CBin(path).sessions().empty();
}

class LimitsTest : public disc::IsoTest {};

}  // namespace

// Files far beyond any real description, and special files, are refused
// unread with a message: no FIFO blocks, and the peak memory grows < 32 MB.
TEST_F(LimitsTest, OversizedAndSpecialFilesAreRefusedUnread)
{
    const long before = peakResidentKb();
    ASSERT_EQ(::mkfifo(m_dir.file("pipe.cue").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(m_dir.file("pipe.ini").c_str(), 0600), 0);
    std::filesystem::create_directory(m_dir.file("folder.iso"));
    const struct {
        const char* name;
        const char* message;  // %s: the path
    } cases[] = {
        {"big.ccd", "INI: %s not read: too large [size: 16777216, limit: 1048576]\n"},
        {"big.mds", "MDS: Description is too large [size: 16777216]\n"},
        {"big.cue", "CUE: Sheet is too large [size: 16777216]\n"},
        {"kest.ini", "INI: %s not read: too large [size: 16777216, limit: 1048576]\n"},
        {"pipe.cue", "Disc: %s is not a regular file\n"},
        {"pipe.ini", "INI: %s not read: not a regular file [size: 0, limit: 1048576]\n"},
        {"folder.iso", "Disc: %s is not a regular file\n"},
    };
    for (const auto& c : cases) {
        const std::string path = m_dir.file(c.name);
        if (!std::filesystem::exists(path)) {
            disc::writeText(path, "[Disc]\nTocEntries=1\n");
            std::filesystem::resize_file(path, 16u << 20);
        }
        LogCapture log;
        EXPECT_TRUE(loadsNothing(path)) << c.name;
        char expected[512];
        std::snprintf(expected, sizeof expected, c.message, path.c_str());
        EXPECT_TRUE(log.contains(expected)) << log.text();
    }
    EXPECT_LT(peakResidentKb() - before, 32 * 1024);
}

// Counts are bounded by what a disc can hold before they are followed, and
// a refused sheet keeps no file open.
TEST_F(LimitsTest, CountsAreBoundedByTheTrackLimit)
{
    disc::writeFile(m_dir.file("a.bin"), iso());
    std::string sheet;
    for (int i = 0; i < 16000; ++i)
        sheet += "FILE \"a.bin\" BINARY\n";
    disc::writeText(m_dir.file("many.cue"), sheet);
    const std::size_t descriptors = openDescriptors();
    LogCapture log;
    {
        CCue cue(m_dir.file("many.cue"));
        EXPECT_TRUE(cue.sessions().empty());
        EXPECT_EQ(openDescriptors(), descriptors + 1) << "only the sheet itself";
    }
    EXPECT_TRUE(log.contains("CUE: Too many files [count: 100]\n")) << log.text();

    // 65,535 sessions.
    std::vector<u8> mds(88 + 24, 0);
    std::memcpy(mds.data(), "MEDIA DESCRIPTOR", 16);
    mds[16] = 1;
    mds[20] = mds[21] = 0xFF;
    mds[80] = 88;
    disc::writeFile(m_dir.file("sessions.mds"), mds);
    EXPECT_TRUE(loadsNothing(m_dir.file("sessions.mds")));
    EXPECT_TRUE(log.contains("MDS: Too many sessions [count: 65535]\n")) << log.text();
}
