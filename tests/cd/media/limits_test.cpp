#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "cd/media/bin.h"
#include "cd/media/ccd.h"
#include "cd/media/cue.h"
#include "cd/media/mds.h"
#include "core/ini.h"
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

class LimitsTest : public disc::IsoTest {};

}  // namespace

// Description files far beyond any real one fail at once with a message,
// and reading them costs no more than 32 MB of memory at the peak.
TEST_F(LimitsTest, OversizedDescriptionsFailFastInBoundedMemory)
{
    constexpr std::uintmax_t kBytes = 16u << 20;
    const long before = peakResidentKb();
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"big.ccd", "INI: %s not read: too large [size: 16777216, limit: 1048576]\n"},
        {"big.mds", "MDS: Description is too large [size: 16777216]\n"},
        {"big.cue", "CUE: Sheet is too large [size: 16777216]\n"},
        {"kest.ini", "INI: %s not read: too large [size: 16777216, limit: 1048576]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.file(c.name);
        disc::writeText(path, "[Disc]\nTocEntries=1\n");
        std::filesystem::resize_file(path, kBytes);
        LogCapture log;
        const std::string extension = std::filesystem::path(path).extension().string();
        std::unique_ptr<CCd> disc;
        bool empty = true;
        if (extension == ".ccd") {
            disc = std::make_unique<CCcd>(path);
        } else if (extension == ".mds") {
            disc = std::make_unique<CMds>(path);
        } else if (extension == ".cue") {
            disc = std::make_unique<CCue>(path);
        } else {
            empty = INI(path, false).sections().empty();
        }
        if (disc)
            empty = disc->sessions().empty();
        EXPECT_TRUE(empty);
        char expected[512];
        std::snprintf(expected, sizeof expected, c.message, path.c_str());
        EXPECT_TRUE(log.contains(expected)) << log.text();
        EXPECT_EQ(std::filesystem::file_size(path), kBytes);
    }
    EXPECT_LT(peakResidentKb() - before, 32 * 1024);
}

// Counts in small files are bounded by what a disc can hold before they
// are followed, and a refused sheet keeps no file open.
TEST_F(LimitsTest, CountsAreBoundedByTheTrackLimit)
{
    disc::writeFile(m_dir.file("a.bin"), iso());
    std::string sheet;
    for (int i = 0; i < 16000; ++i)
        sheet += "FILE \"a.bin\" BINARY\n";
    disc::writeText(m_dir.file("many.cue"), sheet);
    const std::size_t descriptors = openDescriptors();
    {
        LogCapture log;
        CCue cue(m_dir.file("many.cue"));
        EXPECT_TRUE(log.contains("CUE: Too many files [count: 100]\n")) << log.text();
        EXPECT_TRUE(cue.sessions().empty());
        EXPECT_EQ(openDescriptors(), descriptors + 1) << "only the sheet itself";
    }

    // 65,535 sessions that all point at one block list.
    std::vector<u8> mds(88 + 24, 0);
    std::memcpy(mds.data(), "MEDIA DESCRIPTOR", 16);
    mds[16] = 1;
    mds[20] = mds[21] = 0xFF;
    mds[80] = 88;
    disc::writeFile(m_dir.file("sessions.mds"), mds);
    LogCapture log;
    CMds sessions(m_dir.file("sessions.mds"));
    EXPECT_TRUE(log.contains("MDS: Too many sessions [count: 65535]\n")) << log.text();
    EXPECT_TRUE(sessions.sessions().empty());
}

// A FIFO or a folder given as a disc is refused before it is opened, so
// nothing waits for a writer.
TEST_F(LimitsTest, SpecialFilesAreRefusedUnopened)
{
    ASSERT_EQ(::mkfifo(m_dir.file("pipe.cue").c_str(), 0600), 0);
    std::filesystem::create_directory(m_dir.file("folder.iso"));
    LogCapture log;
    CCue pipe(m_dir.file("pipe.cue"));
    CBin folder(m_dir.file("folder.iso"));
    EXPECT_TRUE(pipe.sessions().empty());
    EXPECT_TRUE(folder.sessions().empty());
    EXPECT_TRUE(log.contains("Disc: " + m_dir.file("pipe.cue") + " is not a regular file\n")) << log.text();
    EXPECT_TRUE(log.contains("Disc: " + m_dir.file("folder.iso") + " is not a regular file\n")) << log.text();
}
