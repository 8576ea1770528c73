#include "core/base/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

namespace file_io {

void Descriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool readAll(int fd, void* buffer, u64 size)
{
    u8* bytes = static_cast<u8*>(buffer);
    u64 done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, bytes + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            std::memset(bytes, 0, done);
            return false;
        }
        done += static_cast<u64>(got);
    }
    return true;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const u8* bytes = static_cast<const u8*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, bytes + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool writeTarget(const std::string& path, std::string& target)
{
    std::error_code error;
    target = path;
    if (std::filesystem::is_symlink(path, error)) {
        const std::filesystem::path resolved = std::filesystem::canonical(path, error);
        if (error) {
            errno = error.value();
            return false;
        }
        target = resolved.string();
    }
    return true;
}

}  // namespace file_io

using file_io::Descriptor;

std::string whyNotOpened(const std::string& path)
{
    const int saved = errno;
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (path.empty() || type == std::filesystem::file_type::not_found)
        return "no such file";
    if (type != std::filesystem::file_type::regular)
        return "not a regular file";
    return saved ? std::strerror(saved) : "cannot be read";
}

const char* describe(FileCheck check)
{
    switch (check) {
    case FileCheck::kRead: return "read";
    case FileCheck::kAbsent: return "no such file";
    case FileCheck::kNotRegular: return "not a regular file";
    case FileCheck::kWrongSize: return "wrong size";
    case FileCheck::kUnreadable: return "cannot be read";
    }
    return "?";
}

bool isRegularFile(const std::string& path)
{
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

FileCheck readRegularFile(const std::string& path, void* buffer, u32 size, bool exact, u64& found)
{
    found = 0;
    if (path.empty())
        return FileCheck::kAbsent;
    // Opening without blocking lets a FIFO be seen for what it is.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileCheck::kAbsent : FileCheck::kUnreadable;
    struct stat info;
    if (::fstat(fd.get(), &info) != 0)
        return FileCheck::kUnreadable;
    if (!S_ISREG(info.st_mode))
        return FileCheck::kNotRegular;
    found = static_cast<u64>(info.st_size);
    if (exact && found != size)
        return FileCheck::kWrongSize;
    const u64 bytes = found < size ? found : size;
    if (!file_io::readAll(fd.get(), buffer, bytes))
        return FileCheck::kUnreadable;
    found = bytes;
    return FileCheck::kRead;
}

namespace {

constexpr std::string_view kTemporaryMarker = ".kest~";
constexpr std::string_view kTemporarySuffix = ".tmp";
// Far longer than a save takes to write. A younger temporary may be a write
// in progress by a run this process cannot see (another PID namespace
// sharing the folder), whatever its number says.
constexpr time_t kLeftoverSeconds = 60;
// Names a write tries before it gives up on a folder full of look-alikes.
constexpr u32 kTemporaryTries = 1000;
// The kernel's ceiling on process numbers, where pid_max cannot be read.
constexpr u64 kPidLimit = 1 << 22;

// "NAME.kest~PID-N.tmp" beside the target: unique per process and write.
std::string temporaryName(const std::string& target, u32 n)
{
    return target + std::string(kTemporaryMarker) + std::to_string(::getpid()) + "-" + std::to_string(n) +
           std::string(kTemporarySuffix);
}

// A number as to_string writes it: digits only, no leading zero, at most max.
bool readNumber(std::string_view text, u64 max, u64& value)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<u64>(c - '0');
    }
    return value <= max;
}

u64 pidLimit()
{
    u64 limit = 0;
    if (FILE* file = std::fopen("/proc/sys/kernel/pid_max", "r")) {
        unsigned long long read = 0;
        if (std::fscanf(file, "%llu", &read) == 1)
            limit = read;
        std::fclose(file);
    }
    return limit > 1 && limit <= kPidLimit ? limit : kPidLimit;
}

// Whether name is a temporary a write could have made for the file named
// base, by a process numbered below pids; pid receives that number. The
// earlier "NAME.PID-N.tmp" is not taken: a person's dated copy can have
// that form.
bool isTemporaryOf(std::string_view name, std::string_view base, u64 pids, u64& pid)
{
    const std::size_t frame = base.size() + kTemporaryMarker.size() + kTemporarySuffix.size();
    if (name.size() <= frame || !name.starts_with(base) || !name.substr(base.size()).starts_with(kTemporaryMarker) ||
        !name.ends_with(kTemporarySuffix))
        return false;
    const std::string_view middle = name.substr(base.size() + kTemporaryMarker.size(), name.size() - frame);
    const std::size_t dash = middle.find('-');
    u64 write = 0;
    return dash != std::string_view::npos && readNumber(middle.substr(0, dash), pids - 1, pid) && pid > 0 &&
           readNumber(middle.substr(dash + 1), 0xFFFFFFFF, write);
}

}  // namespace

namespace {

int createTemporary(const std::string& target, std::string& name)
{
    // A name already taken (not by this write: a file someone left there)
    // passes to the next number.
    static std::atomic<u32> counter{0};
    for (u32 tries = 1;; ++tries) {
        name = temporaryName(target, counter.fetch_add(1));
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST || tries == kTemporaryTries)
            return fd;
    }
}

}  // namespace

int file_io::writeTemporary(const std::string& target, const void* data, std::size_t size, std::string& name)
{
    Descriptor fd(createTemporary(target, name));
    if (fd.get() < 0)
        return -1;
    // The new file keeps the permissions the user gave the old one.
    struct stat old;
    if ((::stat(target.c_str(), &old) != 0 || ::fchmod(fd.get(), old.st_mode & 07777) == 0) &&
        writeAll(fd.get(), data, size) && ::fsync(fd.get()) == 0)
        return fd.release();
    const int reason = errno;
    ::unlink(name.c_str());
    errno = reason;
    return -1;
}

std::size_t removeLeftoverTemporaries(const std::string& path, u64 maxBytes)
{
    std::string target;
    if (path.empty() || !file_io::writeTarget(path, target))
        return 0;
    const std::filesystem::path file(target);
    const std::string base = file.filename().string();
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const time_t now = ::time(nullptr);
    const u64 pids = pidLimit();
    std::size_t removed = 0;
    std::error_code error;
    const std::filesystem::directory_iterator end;
    for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != end; it.increment(error)) {
        u64 pid = 0;
        if (!isTemporaryOf(it->path().filename().string(), base, pids, pid))
            continue;
        // A live process of that number may be another run writing the same
        // save right now; its file is left alone.
        if (pid != static_cast<u64>(::getpid()) && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            continue;
        // Links and what no write of this save could have made stay too.
        struct stat info;
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            static_cast<u64>(info.st_size) > maxBytes || now - info.st_mtime < kLeftoverSeconds)
            continue;
        if (::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool replaceFile(const std::string& path, const void* data, std::size_t size)
{
    std::string target, temporary;
    if (path.empty() || !file_io::writeTarget(path, target))
        return false;
    const int fd = file_io::writeTemporary(target, data, size, temporary);
    if (fd < 0)
        return false;
    if (::close(fd) == 0 && ::rename(temporary.c_str(), target.c_str()) == 0)
        return true;
    const int reason = errno;
    ::unlink(temporary.c_str());
    errno = reason;
    return false;
}
