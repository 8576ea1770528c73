#include "core/base/save_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

using file_io::Descriptor;

FileIdentity identityOf(const struct stat& info)
{
    return {static_cast<u64>(info.st_dev), static_cast<u64>(info.st_ino), static_cast<u64>(info.st_size),
            static_cast<s64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, true};
}

bool sameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

bool unchanged(const FileIdentity& now, const FileIdentity& before)
{
    return sameFile(now, before) && now.size == before.size && now.modified == before.modified;
}

Lock takeLock(int fd, bool readOnly)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::kTaken;
    if (errno == EWOULDBLOCK)
        return Lock::kHeld;
    // Where locks are byte ranges underneath (NFS), an exclusive one needs
    // a descriptor open for writing: the file system did not refuse it.
    if (readOnly && errno == EBADF)
        return Lock::kNone;
    return Lock::kNoLocks;
}

OpenedSave openSave(const std::string& path, bool lock)
{
    OpenedSave opened;
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
        // Opened again for writing, now that it is known to be a regular
        // file, so the lock holds where locks need that; read-only where
        // the file or its file system allows nothing else.
        const int writer =
            lock ? ::open(("/proc/self/fd/" + std::to_string(file.get())).c_str(), O_RDWR | O_CLOEXEC) : -1;
        if (writer >= 0)
            file.reset(writer);
        opened.lock = lock ? takeLock(file.get(), writer < 0) : Lock::kNone;
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

bool readOnly(const std::string& path, const struct stat& info)
{
    if ((info.st_mode & 0222) == 0)
        return true;
    // Another user's file in a folder this one may write could be replaced
    // by a rename all the same: it is still not this user's to write.
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

namespace {

// The file system has no such renameat2 flag.
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Whether path names the file open on fd.
bool names(const std::string& path, int fd)
{
    struct stat named, open;
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
           named.st_ino == open.st_ino;
}

// Makes the save at target in place, opened by its name, so its lock and
// its number are the path's own. A crash leaves it short, which the next
// load refuses for its size; no older contents exist to lose.
Placed createInPlace(const std::string& target, const void* data, std::size_t size, Descriptor& fd,
                     WrittenSave& written)
{
    fd.reset(::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        return errno == EEXIST ? Placed::kTaken : Placed::kFailed;
    // A program that lost the race to make it may hold it for the moment
    // it takes to see it short and let go; one that holds on longer leaves
    // it unguarded, which is said.
    for (int tries = 0; (written.state = takeLock(fd.get(), false)) == Lock::kHeld && tries < 100; ++tries)
        ::usleep(10000);
    struct stat info;
    const bool whole =
        file_io::writeAll(fd.get(), data, size) && ::fsync(fd.get()) == 0 && ::fstat(fd.get(), &info) == 0;
    // Only the file this save made is its own: one that took the path
    // meanwhile is another program's, and stays.
    const int reason = errno;
    const bool ours = names(target, fd.get());
    if (!whole) {
        if (ours)
            ::unlink(target.c_str());
        errno = reason;
        return Placed::kFailed;
    }
    if (!ours)
        return Placed::kTaken;
    written.identity = identityOf(info);
    return Placed::kWritten;
}

// Puts the new file at target only where no file has that name. fd is the
// new file's, and becomes the one made in place where that is the way.
Placed createWhereFree(const std::string& temporary, const std::string& target, const void* data, std::size_t size,
                       Descriptor& fd, WrittenSave& written)
{
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return Placed::kWritten;
    if (errno == EEXIST)
        return Placed::kTaken;
    if (!unsupported(errno))
        return Placed::kFailed;
    // Without the flag (shared folders, many FUSE file systems).
    ::unlink(temporary.c_str());
    return createInPlace(target, data, size, fd, written);
}

// Moves the file at temporary, another program's, to a name beside it that
// no sweep of leftovers removes, and says where.
void keepAside(const std::string& temporary, WrittenSave& written)
{
    std::string kept = temporary.substr(0, temporary.size() - 4) + ".kept";
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, kept.c_str(), RENAME_NOREPLACE) != 0)
        kept = temporary;
    written.kept = kept;
}

// The exchange brought out a file that is not to be replaced: it goes back.
// A third file put at the path between the two exchanges, or one that the
// path no longer has room for, is never removed: it is kept aside. Answers
// refused, or kWritten where this write's file keeps the path after all.
Placed swapBack(const std::string& temporary, const std::string& target, int fd, WrittenSave& written,
                Placed refused)
{
    const int reason = errno;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        if (names(temporary, fd))
            ::unlink(temporary.c_str());
        else
            keepAside(temporary, written);
        errno = reason;
        return refused;
    }
    // The path is gone (its name back, where it is still free), or the
    // exchange failed with this write's file in its place.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
        keepAside(temporary, written);
    errno = reason;
    return names(target, fd) ? Placed::kWritten : refused;
}

// Puts the new file at target in place of the file expected, and of no
// other: the two are exchanged, then what came out is looked at.
Placed replaceKnown(const std::string& temporary, const std::string& target, const FileIdentity& expected,
                    const void* data, std::size_t size, Descriptor& fd, WrittenSave& written)
{
    struct stat out;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        const bool same = ::lstat(temporary.c_str(), &out) == 0 && unchanged(identityOf(out), expected);
        // Made read-only during the write, it stays as the person left it.
        if (same && !readOnly(temporary, out)) {
            ::unlink(temporary.c_str());
            return Placed::kWritten;
        }
        return swapBack(temporary, target, fd.get(), written, same ? Placed::kReadOnly : Placed::kForeign);
    }
    // Gone since the last look: a new one only where none came meanwhile.
    if (errno == ENOENT)
        return createWhereFree(temporary, target, data, size, fd, written);
    if (!unsupported(errno))
        return Placed::kFailed;
    // Without the exchange, the look comes as late as it can.
    if (::lstat(target.c_str(), &out) != 0)
        return errno == ENOENT ? createWhereFree(temporary, target, data, size, fd, written) : Placed::kFailed;
    if (!unchanged(identityOf(out), expected))
        return Placed::kForeign;
    if (readOnly(target, out))
        return Placed::kReadOnly;
    return ::rename(temporary.c_str(), target.c_str()) == 0 ? Placed::kWritten : Placed::kFailed;
}

}  // namespace

Placed writeSave(const std::string& target, const void* data, std::size_t size, const FileIdentity* expected,
                 WrittenSave& written)
{
    written = {};
    std::string temporary;
    Descriptor fd(file_io::writeTemporary(target, data, size, temporary));
    if (fd.get() < 0)
        return Placed::kFailed;
    struct stat info;
    Placed placed = Placed::kFailed;
    if (::fstat(fd.get(), &info) == 0) {
        written.state = takeLock(fd.get(), false);
        written.identity = identityOf(info);
        placed = expected ? replaceKnown(temporary, target, *expected, data, size, fd, written)
                          : createWhereFree(temporary, target, data, size, fd, written);
    }
    if (placed == Placed::kWritten) {
        written.lock = fd.release();
        return placed;
    }
    // What is left under the temporary name is this write's, unless a
    // file of another program was kept there.
    const int reason = errno;
    if (names(temporary, fd.get()))
        ::unlink(temporary.c_str());
    const std::string kept = std::move(written.kept);
    written = {};
    written.kept = kept;
    errno = reason;
    return placed;
}
