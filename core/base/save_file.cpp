#include "core/base/save_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/base/helpers.h"
#include "core/base/object.h"

using file_io::Descriptor;

namespace {

// The saves whose last write failed, the latest last: a host's status line
// shows the last of those still in use until it is written again.
struct Trouble {
    u64 use;
    std::string path;
    std::string reason;
    bool open;  // its save is still in use
    bool fixable;
};
std::mutex troubleMutex;
std::vector<Trouble> troubles;
// Every save loaded and not yet let go, for the lists and to find two
// saves of one file.
std::vector<const SaveFile*> liveSaves;
std::atomic<u64> uses{0};
std::atomic<unsigned> notices{0};

constexpr const char* kInUse = "in use by another running Kest";
constexpr const char* kChanged = "changed by another program while this run used it";
constexpr const char* kReadOnly = "the file is read-only";
constexpr const char* kNoLocksThere = "is on a file system that takes no locks";
constexpr const char* kHeldOn = "is held by another program that does not let go of it";

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
            lost.push_back({trouble.path, trouble.reason, 1, trouble.open, trouble.fixable});
            continue;
        }
        // Later in the list is later in time.
        same->reason = trouble.reason;
        ++same->games;
        same->current = same->current || trouble.open;
        same->fixable = trouble.fixable;
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

void forgetLostSaves()
{
    std::lock_guard lock(troubleMutex);
    std::erase_if(troubles, [](const Trouble& trouble) { return !trouble.open; });
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

SaveSet::~SaveSet()
{
    for (SaveFile* member : m_members)
        member->m_set = nullptr;
}

void SaveSet::lookAgain()
{
    // Taken back whole or not at all: while another program holds any of
    // them, it has them all.
    std::vector<std::pair<SaveFile*, OpenedSave>> held;
    bool free = true;
    for (SaveFile* member : m_members) {
        if (free && member->state() == SaveFile::State::kInUse) {
            held.emplace_back(member, openSave(member->path()));
            free = held.back().second.lock != Lock::kHeld;
        }
    }
    for (auto& [member, opened] : held) {
        if (free)
            member->retake(opened);
        else
            Descriptor unused(opened.fd);
    }
    m_yielded = m_yielded && !free;
    for (SaveFile* member : m_members)
        member->freeAgain();
}

void SaveFile::retake(OpenedSave& opened)
{
    Descriptor file(opened.fd);
    // Where the path is free, the save is made there.
    if (opened.check == FileCheck::kAbsent) {
        m_file = {};
        m_state = State::kAbsent;
        return;
    }
    // Only the file this run read is taken: one written since holds the
    // other program's saves.
    if (opened.check != FileCheck::kRead || !unchanged(opened.identity, m_file)) {
        yield(State::kRefused, kChanged);
        return;
    }
    if (opened.lock == Lock::kTaken)
        m_lock = file.release();
    if (opened.lock == Lock::kNoLocks)
        noteNoLocks(kNoLocksThere);
    m_state = State::kLoaded;
}

void SaveFile::freeAgain()
{
    // A save refused for another program's file is made where that file has gone.
    struct stat info;
    if (m_state == State::kRefused && !m_final && ::stat(m_path.c_str(), &info) != 0 && errno == ENOENT) {
        m_file = {};
        m_state = State::kAbsent;
    }
}

void SaveSet::yieldAll(const SaveFile* finder)
{
    m_yielded = true;
    for (SaveFile* member : m_members) {
        if (member != finder && member->writable())
            member->yield(SaveFile::State::kInUse, kInUse);
    }
}

SaveFile::~SaveFile()
{
    release();
    if (m_set)
        std::erase(m_set->m_members, this);
}

void SaveFile::join(SaveSet& set)
{
    if (m_set)
        std::erase(m_set->m_members, this);
    m_set = &set;
    set.m_members.push_back(this);
}

SaveFile::State SaveFile::load(const char* tag, const std::string& path, void* buffer, u32 size, Absent absent)
{
    release();
    m_state = State::kNone;
    m_tag = tag ? tag : "";
    m_failing = false;
    m_final = false;
    m_makeFolder = false;
    m_folderError.clear();
    m_said.clear();
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
    // Locked first: what is read is then what stays on disk while this run
    // writes. A game whose saves another program holds takes no lock even
    // for a moment: that program could find it held and let go of its own.
    const bool yielded = m_set && m_set->yielded();
    OpenedSave opened = openSave(path, !yielded);
    if (opened.check == FileCheck::kAbsent && absent == Absent::kCreate) {
        // The program that holds the game's other saves makes it.
        if (yielded) {
            yield(State::kInUse, kInUse);
            return m_state;
        }
        std::string target;
        WrittenSave written;
        const Placed placed = makeFolder() && file_io::writeTarget(path, target)
                                  ? writeSave(target, buffer, size, nullptr, written)
                                  : Placed::kFailed;
        if (placed == Placed::kWritten) {
            adopt(written);
            return m_state = State::kLoaded;
        }
        // Another program made it first: its file is the one to read. Short,
        // it is still being made in place, and is that program's all the same.
        if (placed == Placed::kTaken) {
            opened = openSave(path);
            if (opened.check == FileCheck::kRead && opened.identity.size != size)
                opened.lock = Lock::kHeld;
        } else {
            logSink().write(kLogError, tag, "Save file %s not created: %s", path.c_str(),
                            m_folderError.empty() ? std::strerror(errno) : m_folderError.c_str());
        }
    }
    return loadOpened(opened, buffer, size);
}

SaveFile::State SaveFile::loadOpened(OpenedSave& opened, void* buffer, u32 size)
{
    Descriptor file(opened.fd);
    m_file = opened.identity;
    if (opened.check == FileCheck::kAbsent)
        return m_state = State::kAbsent;
    const char* path = m_path.c_str();
    // Two saves of one game writing one file would each undo the other. The
    // other's path is looked at now: the number of a file it knew may have
    // gone to a new one since.
    const SaveFile* first = nullptr;
    {
        std::lock_guard guard(troubleMutex);
        for (const SaveFile* other : liveSaves) {
            struct stat there;
            if (other != this && other->m_set == m_set && ::stat(other->m_path.c_str(), &there) == 0 &&
                sameFile(identityOf(there), m_file))
                first = other;
        }
    }
    FileCheck check = opened.check;
    if (check == FileCheck::kRead && first) {
        m_final = true;
        yield(State::kRefused, std::string("the same file as the ") + first->m_what + "'s");
        logSink().write(kLogError, m_tag.c_str(), "Save file %s left untouched: %s", path, m_why.c_str());
        return m_state;
    }
    // Another program's (it holds the file, or the game's other saves),
    // which may still be making it: read when whole.
    if (opened.lock == Lock::kHeld || (m_set && m_set->yielded())) {
        if (check == FileCheck::kRead && m_file.size == size)
            file_io::readAll(file.get(), buffer, size);
        yield(State::kInUse, kInUse);
        if (m_set)
            m_set->yieldAll(this);
        return m_state;
    }
    if (check == FileCheck::kRead && m_file.size != size)
        check = FileCheck::kWrongSize;
    if (check == FileCheck::kRead && !file_io::readAll(file.get(), buffer, size))
        check = FileCheck::kUnreadable;
    if (check != FileCheck::kRead) {
        m_final = true;
        yield(State::kRefused, describe(check));
        const u64 found = opened.check == FileCheck::kRead ? m_file.size : 0;
        logSink().write(kLogError, m_tag.c_str(), "Save file %s left untouched: %s [size: %llu, need: %u]%s", path,
                        m_why.c_str(), static_cast<unsigned long long>(found), size,
                        check == FileCheck::kWrongSize && found < size
                            ? ": a save cut short (by a run that ended while making it) stays refused until "
                              "it is removed"
                            : "");
        return m_state;
    }
    if (opened.lock == Lock::kTaken)
        m_lock = file.release();
    if (opened.lock == Lock::kNoLocks)
        noteNoLocks(kNoLocksThere);
    return m_state = State::kLoaded;
}

void SaveFile::refuse(const char* why)
{
    unlock();
    m_final = true;
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

void SaveFile::noteNoLocks(const char* why)
{
    if (m_noLocks)
        return;
    m_noLocks = true;
    logSink().write(kLogError, m_tag.c_str(), "Save file %s %s: a second running Kest is not kept out of it",
                    m_path.c_str(), why);
    ++notices;
}

void SaveFile::fail(const std::string& reason)
{
    m_failing = true;
    // Said once: a guest may save every field while the folder stays
    // read-only. A new reason replaces the old in the list.
    if (reason == m_said)
        return;
    m_said = reason;
    logSink().write(kLogError, m_tag.c_str(), "Save file %s not written: %s", m_path.c_str(), reason.c_str());
    std::lock_guard lock(troubleMutex);
    std::erase_if(troubles, [&](const Trouble& trouble) { return trouble.use == m_use; });
    troubles.push_back({m_use, m_path, reason, true, !m_final});
}

bool SaveFile::lose(const std::string& reason, const void* data, u32 size)
{
    if (holds(data, size)) {
        mended();
        return true;
    }
    fail(reason);
    return false;
}

bool SaveFile::holds(const void* data, u32 size) const
{
    // Read through the descriptor that holds the lock where that is the
    // file: closing another would let go of a lock made of byte ranges (NFS).
    struct stat named, held;
    const bool own = m_lock >= 0 && ::stat(m_path.c_str(), &named) == 0 && ::fstat(m_lock, &held) == 0 &&
                     sameFile(identityOf(named), identityOf(held));
    Descriptor other(own ? -1 : ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const int fd = own ? m_lock : other.get();
    struct stat info;
    std::vector<u8> bytes(size);
    return fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<u64>(info.st_size) == size &&
           ::lseek(fd, 0, SEEK_SET) == 0 && file_io::readAll(fd, bytes.data(), size) &&
           std::memcmp(bytes.data(), data, size) == 0;
}

bool SaveFile::makeFolder()
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return true;
    m_makeFolder = true;
    std::filesystem::create_directories(folder, error);
    m_folderError = error ? "its folder cannot be made: " + error.message() : "";
    return !error;
}

void SaveFile::adopt(WrittenSave& written)
{
    unlock();
    // A descriptor holds a lock only where one was taken.
    if (written.state == Lock::kTaken)
        m_lock = written.lock;
    else if (written.lock >= 0)
        ::close(written.lock);
    written.lock = -1;
    m_file = written.identity;
    if (written.state == Lock::kNoLocks)
        noteNoLocks(kNoLocksThere);
    if (written.state == Lock::kHeld)
        noteNoLocks(kHeldOn);
}

bool SaveFile::save(const void* data, u32 size)
{
    if (!writable()) {
        // The memory may now hold what its file will never have.
        if (m_state == State::kRefused || m_state == State::kInUse)
            return lose(m_why, data, size);
        return false;
    }
    // Only the file this save read or wrote last is replaced; where the
    // path names nothing, a file is created only while it still does.
    const FileIdentity* expected = nullptr;
    if (m_file.known) {
        struct stat now;
        if (::stat(m_path.c_str(), &now) == 0) {
            if (!unchanged(identityOf(now), m_file)) {
                yield(State::kRefused, kChanged);
                return lose(kChanged, data, size);
            }
            // Kept as the person left it.
            if (readOnly(m_path, now))
                return lose(kReadOnly, data, size);
            expected = &m_file;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return lose(std::strerror(errno), data, size);
        }
    }
    // A folder that was never there is made; one taken away meanwhile is not.
    if (m_makeFolder && !makeFolder())
        return lose(m_folderError, data, size);
    std::string target;
    WrittenSave written;
    const Placed placed =
        file_io::writeTarget(m_path, target) ? writeSave(target, data, size, expected, written) : Placed::kFailed;
    const std::string reason = std::strerror(errno);
    std::string kept;
    if (!written.kept.empty()) {
        kept = " (a file another program put there meanwhile is kept as " + written.kept + ")";
        logSink().write(kLogError, m_tag.c_str(), "Save file %s: a file another program put there during the write "
                        "is kept as %s", m_path.c_str(), written.kept.c_str());
    }
    switch (placed) {
    case Placed::kWritten: break;
    case Placed::kTaken:
        // Another program created it meanwhile: its saves are there.
        if (!m_file.known) {
            yield(State::kInUse, kInUse);
            return lose(kInUse, data, size);
        }
        [[fallthrough]];
    case Placed::kForeign:
        yield(State::kRefused, kChanged);
        return lose(kChanged + kept, data, size);
    case Placed::kReadOnly: return lose(kReadOnly + kept, data, size);
    case Placed::kFailed: return lose(reason, data, size);
    }
    adopt(written);
    if (m_failing)
        logSink().write(kLogInfo, m_tag.c_str(), "Save file %s written again", m_path.c_str());
    mended();
    m_state = State::kLoaded;
    return true;
}

void SaveFile::mended()
{
    m_failing = false;
    m_said.clear();
    std::lock_guard lock(troubleMutex);
    std::erase_if(troubles, [&](const Trouble& trouble) { return trouble.use == m_use; });
}
