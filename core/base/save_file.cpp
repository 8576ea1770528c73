#include "core/base/save_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
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

namespace {

// Whether the file at path holds data already.
bool holds(const std::string& path, const void* data, u32 size)
{
    std::vector<u8> bytes(size);
    u64 found = 0;
    return readRegularFile(path, bytes.data(), size, true, found) == FileCheck::kRead &&
           std::memcmp(bytes.data(), data, size) == 0;
}

}  // namespace

SaveSet::~SaveSet()
{
    for (SaveFile* member : m_members)
        member->m_set = nullptr;
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
        const Placed placed =
            file_io::writeTarget(path, target) ? writeSave(target, buffer, size, nullptr, written) : Placed::kFailed;
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
        } else
            logSink().write(kLogError, tag, "Save file %s not created: %s", path.c_str(), std::strerror(errno));
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
    // Two saves of one game writing one file would each undo the other.
    const SaveFile* first = nullptr;
    {
        std::lock_guard guard(troubleMutex);
        for (const SaveFile* other : liveSaves)
            first = other != this && other->m_set == m_set && sameFile(other->m_file, m_file) ? other : first;
    }
    FileCheck check = opened.check;
    if (check == FileCheck::kRead && first) {
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
        yield(State::kRefused, describe(check));
        logSink().write(kLogError, m_tag.c_str(), "Save file %s left untouched: %s [size: %llu, need: %u]", path,
                        m_why.c_str(),
                        static_cast<unsigned long long>(opened.check == FileCheck::kRead ? m_file.size : 0), size);
        return m_state;
    }
    if (opened.lock == Lock::kTaken)
        m_lock = file.release();
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
    troubles.push_back({m_use, m_path, reason, true});
}

void SaveFile::adopt(WrittenSave& written)
{
    unlock();
    m_lock = written.lock;
    m_file = written.identity;
    if (written.state == Lock::kNoLocks)
        noteNoLocks();
}

bool SaveFile::save(const void* data, u32 size)
{
    if (!writable()) {
        // The memory now holds what its file will never have.
        if (m_state == State::kRefused || m_state == State::kInUse)
            fail(m_why);
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
                fail(kChanged);
                return false;
            }
            // Kept as the person left it; nothing is lost while it holds
            // what the memory does.
            if (madeReadOnly(now)) {
                if (!holds(m_path, data, size)) {
                    fail(kReadOnly);
                    return false;
                }
                mended();
                return true;
            }
            expected = &m_file;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            fail(std::strerror(errno));
            return false;
        }
    }
    std::string target;
    WrittenSave written;
    const Placed placed =
        file_io::writeTarget(m_path, target) ? writeSave(target, data, size, expected, written) : Placed::kFailed;
    if (placed == Placed::kTaken && !m_file.known) {
        // Another program created it meanwhile: its saves are there.
        yield(State::kInUse, kInUse);
        fail(kInUse);
        return false;
    }
    if (placed == Placed::kTaken || placed == Placed::kForeign) {
        yield(State::kRefused, kChanged);
        fail(kChanged);
        return false;
    }
    if (placed == Placed::kFailed) {
        fail(std::strerror(errno));
        return false;
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
