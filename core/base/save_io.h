#pragma once

#include <cstddef>
#include <string>

#include "core/base/file_io.h"
#include "core/base/types.h"

struct stat;

// What a save knows of the file it read or wrote last.
struct FileIdentity {
    u64 device = 0;
    u64 inode = 0;
    u64 size = 0;
    s64 modified = 0;  // nanoseconds
    bool known = false;
};

FileIdentity identityOf(const struct stat& info);
// One file, whatever has been done to it.
bool sameFile(const FileIdentity& a, const FileIdentity& b);
// That file as it was: a number freed by a replaced file may come back,
// and a copy made in place keeps its number, so the size and time tell.
bool unchanged(const FileIdentity& now, const FileIdentity& before);

enum class Lock {
    kTaken,
    kHeld,     // by another program
    kNoLocks,  // the file system takes none
    kNone,     // not taken, said by nothing: a descriptor open only for reading, where the file allows no more
};

// Takes an exclusive lock without waiting.
Lock takeLock(int fd, bool readOnly);

// What a look at a save's path found, the file held open (and locked
// where it could be).
struct OpenedSave {
    FileCheck check = FileCheck::kAbsent;  // kRead: a regular file, not read yet
    Lock lock = Lock::kNone;
    int fd = -1;  // open on the regular file, holding its lock when taken
    FileIdentity identity;
};

// Opens and locks (unless lock is false) the regular file at path; it is
// read later through the same descriptor, so what is read is the file
// locked.
OpenedSave openSave(const std::string& path, bool lock = true);

// Whether the file at path is read-only to this program: nobody may write it
// by its mode bits (which root too goes by), or this user may not.
bool readOnly(const std::string& path, const struct stat& info);

enum class Placed {
    kWritten,
    kTaken,    // the path was to be free and is not
    kForeign,   // the path no longer names the file expected, which stays
    kReadOnly,  // the file expected was made read-only meanwhile, and stays
    kFailed,    // errno says why
};

// The new file a written save leaves: locked where the file system allows.
struct WrittenSave {
    int lock = -1;  // holds the lock where state is kTaken
    Lock state = Lock::kNone;  // kHeld: another program would not let go of it
    FileIdentity identity;
    // Where a file another program put at the path during the write was
    // moved aside, when it could not be given its name back.
    std::string kept;
};

// Writes data to a new file beside target, locked before it takes the path
// so a save is never without its lock. Without expected it takes the path
// only where the path is free; with it, only in place of that file.
Placed writeSave(const std::string& target, const void* data, std::size_t size, const FileIdentity* expected,
                 WrittenSave& written);
