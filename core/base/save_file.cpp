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

using Identity = SaveFile::Identity;

Identity identityOf(const struct stat& info)
{
    return {static_cast<u64>(info.st_dev), static_cast<u64>(info.st_ino), static_cast<u64>(info.st_size),
            static_cast<s64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, true};
}

bool sameFile(const Identity& a, const Identity& b)
{
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

enum class Lock { kTaken, kHeld, kNoLocks };

Lock takeLock(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::kTaken;
    return errno == EWOULDBLOCK ? Lock::kHeld : Lock::kNoLocks;
}

// What load found at a save's path, its lock taken where it could be.
struct Opened {
    FileCheck check = FileCheck::kAbsent;  // kRead: a regular file, not read yet
    Lock lock = Lock::kNoLocks;
    int fd = -1;  // open on the regular file, holding its lock when taken
    Identity identity;
};

// Opens and locks the regular file at path. It is read later through the
// same descriptor, so what is read is the file locked.
Opened openLocked(const std::string& path)
{
    Opened opened;
    // A file replaced between the open and the lock is another's newer
    // one: that one is tried.
    for (int tries = 0; tries < 8; ++tries) {
        Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat info;
        if (file.get() < 0 || ::fstat(file.get(), &info) != 0) {
            opened.check = errno == ENOENT || errno == ENOTDIR ? FileCheck::kAbsent : FileCheck::kUnreadable;
            return opened;
        }
        opened.identity = identityOf(info);
        if (!S_ISREG(info.st_mode)) {
            opened.check = FileCheck::kNotRegular;
            return opened;
        }
        opened.lock = takeLock(file.get());
        struct stat named;
        if (opened.lock == Lock::kTaken &&
            (::stat(path.c_str(), &named) != 0 || !sameFile(identityOf(named), opened.identity)) && tries < 7)
            continue;
        // Written up to the lock: its size and time are those of now.
        if (::fstat(file.get(), &info) != 0) {
            opened.check = FileCheck::kUnreadable;
            return opened;
        }
        opened.identity = identityOf(info);
        opened.check = FileCheck::kRead;
        opened.fd = file.release();
        return opened;
    }
    return opened;
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

namespace {

enum class Placing { kReplace, kCreate };

// Gives the temporary the target's name only where no file has it.
bool placeNew(const std::string& temporary, const std::string& target)
{
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    // A file system without the flag: a second name, which fails where
    // the name is taken, then the temporary's goes.
    if (::link(temporary.c_str(), target.c_str()) != 0)
        return false;
    ::unlink(temporary.c_str());
    return true;
}

// What a save's write left: the new file's lock and what it is.
struct Written {
    int lock = -1;
    bool noLocks = false;
    Identity identity;
};

// Writes data to a new file beside target, which then takes the path: over
// the file there (kReplace), or only where the path is free (kCreate, else
// EEXIST). With written, the new file is locked before it takes the path,
// so a save is never without its lock.
bool writeThrough(const std::string& target, const void* data, std::size_t size, Placing placing,
                  Written* written)
{
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
    if (placing == Placing::kReplace && ::stat(target.c_str(), &old) == 0)
        ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    ok = ok && writeAll(fd.get(), static_cast<const u8*>(data), size) && ::fsync(fd.get()) == 0;
    struct stat info;
    ok = ok && (!written || ::fstat(fd.get(), &info) == 0);
    const Lock lock = ok && written ? takeLock(fd.get()) : Lock::kNoLocks;
    if (lock != Lock::kTaken)
        ok = ::close(fd.release()) == 0 && ok;
    ok = ok && (placing == Placing::kCreate ? placeNew(temporary, target)
                                            : ::rename(temporary.c_str(), target.c_str()) == 0);
    if (!ok) {
        const int reason = errno;
        ::close(fd.release());
        ::unlink(temporary.c_str());
        errno = reason;
        return false;
    }
    if (written) {
        written->lock = fd.release();
        written->noLocks = lock == Lock::kNoLocks;
        written->identity = identityOf(info);
    }
    return true;
}

}  // namespace

bool replaceFile(const std::string& path, const void* data, std::size_t size)
{
    std::string target;
    return !path.empty() && writeTarget(path, target) && writeThrough(target, data, size, Placing::kReplace, nullptr);
}

namespace {

// The saves whose last write failed, the latest last: a host's status line
// shows the last of those still in use until it is written again.
struct Trouble {
    u64 use;
    std::string path;
    std::string reason;
    bool open;  // its save is still in use
};
std::mutex troubleMutex;
std::vector<Trouble> troubles;
// Every save loaded and not yet let go, for the lists and to find two
// saves of one file.
std::vector<const SaveFile*> liveSaves;
std::atomic<u64> uses{0};
std::atomic<unsigned> notices{0};

constexpr const char* kInUse = "in use by another running Kest";

}  // namespace

std::size_t copySaveTrouble(char* out, std::size_t size, std::size_t pathChars)
{
    constexpr std::string_view kLead = "Save not written: ";
    std::lock_guard lock(troubleMutex);
    if (size == 0)
        return 0;
    std::string trouble;
    const auto last = std::find_if(troubles.rbegin(), troubles.rend(), [](const Trouble& t) { return t.open; });
    if (last != troubles.rend()) {
        // The path gives way, so the reason after it still fits.
        const std::size_t fixed = kLead.size() + 2 + last->reason.size();
        const std::size_t room = size - 1 > fixed ? size - 1 - fixed : 0;
        trouble.append(kLead).append(shortenPath(last->path, std::min(pathChars, room)));
        trouble.append(": ").append(last->reason);
    }
    const std::size_t n = std::min(trouble.size(), size - 1);
    std::memcpy(out, trouble.data(), n);
    out[n] = '\0';
    return n;
}

std::vector<LostSave> lostSaves()
{
    std::lock_guard lock(troubleMutex);
    std::vector<LostSave> lost;
    for (const Trouble& trouble : troubles) {
        const auto same = std::find_if(lost.begin(), lost.end(), [&](const LostSave& l) { return l.path == trouble.path; });
        if (same == lost.end()) {
            lost.push_back({trouble.path, trouble.reason, 1, trouble.open});
            continue;
        }
        // Later in the list is later in time.
        same->reason = trouble.reason;
        ++same->games;
        same->current = same->current || trouble.open;
    }
    return lost;
}

std::string describeLost(const LostSave& lost)
{
    std::string line = "'" + lost.path + "': " + lost.reason;
    if (lost.games > 1)
        line += " (in " + std::to_string(lost.games) + " games)";
    return line;
}

std::vector<std::string> savesNotWritten()
{
    std::vector<std::string> lines;
    for (const LostSave& lost : lostSaves())
        lines.push_back(describeLost(lost));
    return lines;
}

std::vector<std::string> savesInUse()
{
    std::lock_guard lock(troubleMutex);
    std::vector<std::string> paths;
    for (const SaveFile* file : liveSaves) {
        if (file->state() == SaveFile::State::kInUse)
            paths.push_back(file->path());
    }
    return paths;
}

std::vector<std::string> savesWithoutLocks()
{
    std::lock_guard lock(troubleMutex);
    std::vector<std::string> paths;
    for (const SaveFile* file : liveSaves) {
        if (file->noLocks())
            paths.push_back(file->path());
    }
    return paths;
}

unsigned saveNoticeCount()
{
    return notices.load();
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
    m_noLocks = false;
    m_file = {};
    m_path = path;
    m_why.clear();
    m_use = ++uses;
    if (path.empty())
        return m_state;
    {
        std::lock_guard guard(troubleMutex);
        liveSaves.push_back(this);
    }
    if (const std::size_t removed = removeLeftoverTemporaries(path, size))
        logSink().write(kLogInfo, tag, "Removed %zu temporary file(s) of %s left by a run that ended during a save",
                        removed, path.c_str());
    // Locked first: what is read is then what stays on disk while this run writes.
    const Opened opened = openLocked(path);
    Descriptor file(opened.fd);
    m_file = opened.identity;
    if (opened.check == FileCheck::kAbsent)
        return m_state = State::kAbsent;
    // Two saves of this program writing one file would each undo the other.
    const SaveFile* first = nullptr;
    {
        std::lock_guard guard(troubleMutex);
        for (const SaveFile* other : liveSaves)
            first = other != this && sameFile(other->m_file, m_file) ? other : first;
    }
    FileCheck check = opened.check;
    if (check == FileCheck::kRead && m_file.size != size)
        check = FileCheck::kWrongSize;
    if (check == FileCheck::kRead && first) {
        yield(State::kRefused, std::string("the same file as the ") + first->m_what + "'s");
        logSink().write(kLogError, tag, "Save file %s left untouched: %s", path.c_str(), m_why.c_str());
        return m_state;
    }
    if (check == FileCheck::kRead && !readAll(file.get(), static_cast<u8*>(buffer), size))
        check = FileCheck::kUnreadable;
    if (check != FileCheck::kRead) {
        yield(State::kRefused, describe(check));
        logSink().write(kLogError, tag, "Save file %s left untouched: %s [size: %llu, need: %u]", path.c_str(),
                        m_why.c_str(), static_cast<unsigned long long>(opened.check == FileCheck::kRead ? m_file.size : 0),
                        size);
        return m_state;
    }
    if (opened.lock == Lock::kTaken)
        m_lock = file.release();
    if (opened.lock == Lock::kHeld) {
        yield(State::kInUse, kInUse);
        return m_state;
    }
    if (opened.lock == Lock::kNoLocks)
        noteNoLocks();
    return m_state = State::kLoaded;
}

void SaveFile::refuse(const char* why)
{
    unlock();
    m_why = why;
    m_state = State::kRefused;
}

void SaveFile::unlock()
{
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
}

void SaveFile::release()
{
    unlock();
    std::lock_guard guard(troubleMutex);
    std::erase(liveSaves, this);
    // Still lost, but no longer this game's.
    for (Trouble& trouble : troubles)
        trouble.open = trouble.open && trouble.use != m_use;
}

void SaveFile::forget()
{
    release();
    m_path.clear();
    m_state = State::kNone;
}

void SaveFile::yield(State state, const std::string& why)
{
    unlock();
    m_why = why;
    m_state = state;
    if (state != State::kInUse)
        return;
    logSink().write(kLogError, m_tag.c_str(), "Save file %s %s: this run leaves it as it is", m_path.c_str(), kInUse);
    ++notices;
}

void SaveFile::noteNoLocks()
{
    if (m_noLocks)
        return;
    m_noLocks = true;
    logSink().write(kLogError, m_tag.c_str(),
                    "Save file %s is on a file system that takes no locks: a second running Kest is not kept out "
                    "of it", m_path.c_str());
    ++notices;
}

void SaveFile::fail(const char* reason)
{
    // Said once: a guest may save every field while the folder stays read-only.
    if (!m_failing) {
        logSink().write(kLogError, m_tag.c_str(), "Save file %s not written: %s", m_path.c_str(), reason);
        std::lock_guard lock(troubleMutex);
        std::erase_if(troubles, [&](const Trouble& trouble) { return trouble.use == m_use; });
        troubles.push_back({m_use, m_path, reason, true});
    }
    m_failing = true;
}

const char* SaveFile::foreignFile(bool& gone) const
{
    struct stat named;
    gone = false;
    if (::stat(m_path.c_str(), &named) != 0) {
        gone = errno == ENOENT || errno == ENOTDIR;
        return nullptr;
    }
    // A number freed by a replaced file may come back: the size and time
    // tell that file from this one.
    const Identity now = identityOf(named);
    if (!sameFile(now, m_file) || now.size != m_file.size || now.modified != m_file.modified)
        return "changed by another program while this run used it";
    return nullptr;
}

bool SaveFile::save(const void* data, u32 size)
{
    if (!writable()) {
        // The memory now holds what its file will never have.
        if (m_state == State::kRefused || m_state == State::kInUse)
            fail(m_why.c_str());
        return false;
    }
    // Only the file this save read or wrote last is replaced; where the
    // path names nothing, a file is created only while it still does.
    Placing placing = Placing::kCreate;
    bool gone = false;
    if (m_file.known) {
        if (const char* why = foreignFile(gone)) {
            yield(State::kRefused, why);
            fail(why);
            return false;
        }
        placing = gone ? Placing::kCreate : Placing::kReplace;
    }
    std::string target;
    Written written;
    if (!writeTarget(m_path, target) || !writeThrough(target, data, size, placing, &written)) {
        if (placing == Placing::kCreate && errno == EEXIST) {
            // Another program created it meanwhile: its saves are there.
            yield(State::kInUse, kInUse);
            fail(kInUse);
            return false;
        }
        fail(std::strerror(errno));
        return false;
    }
    unlock();
    m_lock = written.lock;
    m_file = written.identity;
    if (written.noLocks)
        noteNoLocks();
    if (m_failing)
        logSink().write(kLogInfo, m_tag.c_str(), "Save file %s written again", m_path.c_str());
    m_failing = false;
    {
        std::lock_guard lock(troubleMutex);
        std::erase_if(troubles, [&](const Trouble& trouble) { return trouble.use == m_use; });
    }
    m_state = State::kLoaded;
    return true;
}
