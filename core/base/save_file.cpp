#include "core/base/save_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/base/helpers.h"
#include "core/base/object.h"

namespace {

// Closes the descriptor on every road out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool readAll(int fd, u8* buffer, u64 size)
{
    u64 done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            std::memset(buffer, 0, done);
            return false;
        }
        done += static_cast<u64>(got);
    }
    return true;
}

bool writeAll(int fd, const u8* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

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
    if (!readAll(fd.get(), static_cast<u8*>(buffer), bytes))
        return FileCheck::kUnreadable;
    found = bytes;
    return FileCheck::kRead;
}

namespace {

// The file a write replaces: a link's target, so the link stays.
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

// Whether name is a temporary replaceFile could have made for the file
// named base, by a process numbered below pids; pid receives that number.
// The earlier "NAME.PID-N.tmp" is not taken: a person's dated copy can
// have that form.
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

// Whether path names the file open at fd; a path that names nothing
// answers gone.
bool namesFile(const std::string& path, int fd, bool gone)
{
    struct stat opened, named;
    if (::stat(path.c_str(), &named) != 0)
        return gone;
    return ::fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

enum class Lock { kTaken, kHeld, kNone };

// Takes the exclusive lock of the regular file at path into fd. kHeld when
// another program holds it; kNone where there is nothing to lock, or the
// file system takes no locks.
Lock lockFile(const std::string& path, int& fd)
{
    fd = -1;
    // A file replaced between the open and the lock is another's newer
    // one: that one is tried.
    for (int tries = 0; tries < 8; ++tries) {
        Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat opened;
        if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
            return Lock::kNone;
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? Lock::kHeld : Lock::kNone;
        if (namesFile(path, file.get(), false)) {
            fd = file.release();
            return Lock::kTaken;
        }
    }
    return Lock::kHeld;
}

}  // namespace

std::size_t removeLeftoverTemporaries(const std::string& path, u64 maxBytes)
{
    std::string target;
    if (path.empty() || !writeTarget(path, target))
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

bool replaceFile(const std::string& path, const void* data, std::size_t size, int* lock)
{
    if (path.empty())
        return false;
    std::string target;
    if (!writeTarget(path, target))
        return false;
    // A name already taken (not by this write: a file someone left there)
    // passes to the next number.
    static std::atomic<u32> counter{0};
    std::string temporary;
    int opened = -1;
    for (u32 tries = 1; opened < 0; ++tries) {
        temporary = temporaryName(target, counter.fetch_add(1));
        opened = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (opened < 0 && (errno != EEXIST || tries == kTemporaryTries))
            return false;
    }
    Descriptor fd(opened);
    // The new file keeps the permissions the user gave the old one.
    struct stat old;
    bool ok = true;
    if (::stat(target.c_str(), &old) == 0)
        ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    ok = ok && writeAll(fd.get(), static_cast<const u8*>(data), size) && ::fsync(fd.get()) == 0;
    // Locked before it takes the path, so the save is never without its lock.
    const bool locked = ok && lock && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
    if (!locked)
        ok = ::close(fd.release()) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int reason = errno;
        ::close(fd.release());
        ::unlink(temporary.c_str());
        errno = reason;
        return false;
    }
    if (lock) {
        if (*lock >= 0)
            ::close(*lock);
        *lock = locked ? fd.release() : -1;
    }
    return true;
}

namespace {

// The saves whose last write failed, the latest last: a host's status line
// shows that one until its file is written again.
struct Trouble {
    std::string path;
    std::string reason;
};
std::mutex troubleMutex;
std::vector<Trouble> troubles;
std::vector<const SaveFile*> filesInUse;

void forgetTrouble(const std::string& path)
{
    std::erase_if(troubles, [&](const Trouble& trouble) { return trouble.path == path; });
}

constexpr const char* kInUse = "in use by another running Kest";

}  // namespace

std::size_t copySaveTrouble(char* out, std::size_t size, std::size_t pathChars)
{
    constexpr std::string_view kLead = "Save not written: ";
    std::lock_guard lock(troubleMutex);
    if (size == 0)
        return 0;
    std::string trouble;
    if (!troubles.empty()) {
        const Trouble& last = troubles.back();
        // The path gives way, so the reason after it still fits.
        const std::size_t fixed = kLead.size() + 2 + last.reason.size();
        const std::size_t room = size - 1 > fixed ? size - 1 - fixed : 0;
        trouble.append(kLead).append(shortenPath(last.path, std::min(pathChars, room)));
        trouble.append(": ").append(last.reason);
    }
    const std::size_t n = std::min(trouble.size(), size - 1);
    std::memcpy(out, trouble.data(), n);
    out[n] = '\0';
    return n;
}

std::vector<std::string> savesNotWritten()
{
    std::lock_guard lock(troubleMutex);
    std::vector<std::string> lines;
    for (const Trouble& trouble : troubles)
        lines.push_back("'" + trouble.path + "': " + trouble.reason);
    return lines;
}

std::vector<std::string> savesInUse()
{
    std::lock_guard lock(troubleMutex);
    std::vector<std::string> paths;
    for (const SaveFile* file : filesInUse)
        paths.push_back(file->path());
    return paths;
}

SaveFile::~SaveFile()
{
    release();
}

SaveFile::State SaveFile::load(const char* tag, const std::string& path, void* buffer, u32 size)
{
    release();
    m_state = State::kNone;
    m_tag = tag ? tag : "";
    m_failing = false;
    m_path = path;
    m_why.clear();
    if (path.empty())
        return m_state = State::kNone;
    if (const std::size_t removed = removeLeftoverTemporaries(path, size))
        logSink().write(kLogInfo, tag, "Removed %zu temporary file(s) of %s left by a run that ended during a save",
                        removed, path.c_str());
    // Locked first: what is read is then what stays on disk while this run writes.
    const Lock lock = lockFile(path, m_lock);
    u64 found = 0;
    const FileCheck check = readRegularFile(path, buffer, size, true, found);
    if (check == FileCheck::kRead && lock != Lock::kHeld)
        return m_state = State::kLoaded;
    release();
    if (check == FileCheck::kAbsent)
        return m_state = State::kAbsent;
    if (check == FileCheck::kRead) {
        m_why = kInUse;
        logSink().write(kLogError, tag, "Save file %s %s: this run leaves it as it is", path.c_str(), kInUse);
        std::lock_guard guard(troubleMutex);
        filesInUse.push_back(this);
        return m_state = State::kInUse;
    }
    m_why = describe(check);
    logSink().write(kLogError, tag, "Save file %s left untouched: %s [size: %llu, need: %u]", path.c_str(),
                    describe(check), static_cast<unsigned long long>(found), size);
    return m_state = State::kRefused;
}

void SaveFile::refuse(const char* why)
{
    release();
    m_why = why;
    m_state = State::kRefused;
}

void SaveFile::release()
{
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
    if (m_state == State::kInUse) {
        std::lock_guard guard(troubleMutex);
        std::erase(filesInUse, this);
        m_state = State::kNone;
    }
}

void SaveFile::forget()
{
    release();
    m_path.clear();
    m_state = State::kNone;
}

void SaveFile::fail(const char* reason)
{
    // Said once: a guest may save every field while the folder stays read-only.
    if (!m_failing) {
        logSink().write(kLogError, m_tag.c_str(), "Save file %s not written: %s", m_path.c_str(), reason);
        std::lock_guard lock(troubleMutex);
        forgetTrouble(m_path);
        troubles.push_back({m_path, reason});
    }
    m_failing = true;
}

bool SaveFile::save(const void* data, u32 size)
{
    if (!writable()) {
        // The memory now holds what its file will never have.
        if (m_state == State::kRefused || m_state == State::kInUse)
            fail(m_why.c_str());
        return false;
    }
    // Another file where this run's stood holds another program's saves;
    // one removed meanwhile held none.
    if (m_lock >= 0 && !namesFile(m_path, m_lock, true)) {
        fail("replaced by another program while this run used it");
        return false;
    }
    if (!replaceFile(m_path, data, size, &m_lock)) {
        fail(std::strerror(errno));
        return false;
    }
    if (m_failing)
        logSink().write(kLogInfo, m_tag.c_str(), "Save file %s written again", m_path.c_str());
    m_failing = false;
    {
        // Also when an earlier run of this file (another game's) failed.
        std::lock_guard lock(troubleMutex);
        forgetTrouble(m_path);
    }
    m_state = State::kLoaded;
    return true;
}
