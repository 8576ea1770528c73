#pragma once

#include <cstddef>
#include <string>

#include "core/base/types.h"

// What a look at a file found before any of it was used.
enum class FileCheck {
    kRead,        // read whole into the buffer
    kAbsent,      // nothing of that name
    kNotRegular,  // a folder, a FIFO, a device: never opened for reading
    kWrongSize,
    kUnreadable,
};

// Why a check failed, for the log.
const char* describe(FileCheck check);

// Reads a regular file into buffer: exactly size bytes when exact is set,
// else up to size bytes (found says how many). Special files are refused
// before they are opened, so a FIFO cannot block the program. The buffer is
// touched only when the answer is kRead.
FileCheck readRegularFile(const std::string& path, void* buffer, u32 size, bool exact, u64& found);

// Real disc descriptions and settings files are a few kilobytes; a larger
// one (an image opened by mistake, a hostile file) is refused unread.
constexpr u64 kMaxDescriptionBytes = 1 << 20;

// Whether path names a regular file, or a link to one.
bool isRegularFile(const std::string& path);

// Why path could not be opened, for the log: a missing file, something
// that is not a regular file, or the system's reason (errno, as the failed
// open left it).
std::string whyNotOpened(const std::string& path);

// Replaces the contents of path through a new file in the same folder and a
// rename, so the old contents survive a crash or a full disk. A link is
// followed: its target is replaced.
bool replaceFile(const std::string& path, const void* data, std::size_t size);

// Removes what a write through a new file left beside path when a run was
// killed during it: "NAME.kest~PID-N.tmp" of a process no longer running,
// no larger than maxBytes and untouched for a minute; nothing else. Answers
// how many.
std::size_t removeLeftoverTemporaries(const std::string& path, u64 maxBytes);

// The pieces the writes through a new file share.
namespace file_io {

// Reads or writes size bytes whole, through interruptions; a short read
// clears what it read.
bool readAll(int fd, void* buffer, u64 size);
bool writeAll(int fd, const void* data, std::size_t size);

// The file a write replaces: a link's target, so the link stays.
bool writeTarget(const std::string& path, std::string& target);

// A new file beside target, "NAME.kest~PID-N.tmp", holding data on disk
// (written and synced) with the permissions of the file at target where
// there is one, open for reading and writing; -1, with errno, when it
// cannot be made whole (what was begun is removed). name receives its path.
int writeTemporary(const std::string& target, const void* data, std::size_t size, std::string& name);

// Closes the descriptor on every road out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd;
};

}  // namespace file_io
