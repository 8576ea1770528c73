#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/base/save_io.h"
#include "core/base/types.h"

// Copies into out (cut to size, always terminated) what the last save that
// failed and is still not written said, "Save not written: path: reason",
// for a host's status line; only saves still in use count, so a game's
// failure leaves the line with its game (an earlier failure shows again
// when a later one is mended first). The path loses its middle to fit
// pathChars, and to leave the reason room in size. Answers the characters
// copied.
std::size_t copySaveTrouble(char* out, std::size_t size, std::size_t pathChars = SIZE_MAX);

// A file that lacks what a game saved in it: its last write failed, or its
// changes have no file to go to. One per path, in the order first lost.
struct LostSave {
    std::string path;
    std::string reason;    // the latest
    unsigned games = 1;    // the loads of a game it was lost in
    bool current = false;  // lost in the game loaded now, so a write may yet reach it
    // Something the person can do lets a second try write it; false for a
    // file refused at its load (its size, its kind, its contents).
    bool fixable = true;
};
// A save is no longer among them once it is written, by itself: another
// save of the same path does not count.
std::vector<LostSave> lostSaves();
// "'path': reason", with " (in N games)" where it was lost in more than one.
std::string describeLost(const LostSave& lost);
// Every lost save, described.
std::vector<std::string> savesNotWritten();
// Forgets the lost saves of games already let go, so a program starts
// over as if it had just begun.
void forgetLostSaves();

// The saves loaded now that another running program holds (see SaveFile).
std::vector<std::string> savesInUse();
// The saves loaded now whose file system takes no locks, so a second
// running program is not kept out of them.
std::vector<std::string> savesWithoutLocks();
// Bumped whenever a save joins either list, so a host can say so again.
unsigned saveNoticeCount();

class SaveFile;

// The saves of one game, taken as one: where another running program holds
// any of them, this one writes none, so one program has them all and the
// other none rather than each a part.
class SaveSet {
public:
    SaveSet() = default;
    ~SaveSet();
    SaveSet(const SaveSet&) = delete;
    SaveSet& operator=(const SaveSet&) = delete;

    // Another program holds one of them.
    bool yielded() const { return m_yielded; }
    // The next game's saves start free.
    void clear() { m_yielded = false; }
    // Looks again at the saves not written: those another program held are
    // taken back once it has let go of all of them (but one it changed
    // meanwhile, which stays its own), and one whose path is free again is
    // made there.
    void lookAgain();

private:
    friend class SaveFile;
    void yieldAll(const SaveFile* finder);

    std::vector<SaveFile*> m_members;
    bool m_yielded = false;
};

// A file the machine keeps a memory in (backup memory, backup cartridge,
// EEPROM, battery). It is written back only when it was absent or was loaded
// whole: a file of another size, a folder, a special file, one its owner
// did not recognise, or one another save of this program already uses
// stays as the user left it, and the run goes on with blank memory.
//
// Two programs on one save would each write back their own image over the
// other's saves, so a loaded file is held under an exclusive lock (flock) for
// as long as it is in use; a file another program holds is read, but never
// written. A write replaces only the file this save read or wrote last, and
// creates an absent one only where the path is still free: a file that
// stands there in its place is another program's. Where the file system
// takes no locks, the file's identity (device, inode, size and modification
// time) is what tells. A file the person made read-only is read, never
// written. Changes that cannot reach their file are listed among the saves
// not written.
class SaveFile {
public:
    enum class State { kNone, kAbsent, kLoaded, kRefused, kInUse };
    // What load does where the path names nothing.
    enum class Absent { kLeave, kCreate };

    // what names the memory in messages ("backup memory").
    explicit SaveFile(const char* what = "save") : m_what(what) {}
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Makes this save one of set's, for good.
    void join(SaveSet& set);

    // Loads path into buffer when it is a regular file of exactly size bytes.
    // Anything else but an absent file is refused, with one error line under
    // tag naming the file, the reason and both sizes; a file another program
    // holds is loaded, and kInUse. An absent file is created from buffer
    // when asked (kLoaded); where another program creates it first, that
    // one is loaded instead. An empty path is kNone. What a killed run's
    // write left beside the file is removed first.
    State load(const char* tag, const std::string& path, void* buffer, u32 size, Absent absent = Absent::kLeave);
    // The owner found the loaded contents foreign and said so: keep them on disk.
    void refuse(const char* why);
    // Lets go of the file: nothing more is written to it, and its failure
    // leaves the status line (it stays listed as not written).
    void forget();

    bool writable() const { return m_state == State::kAbsent || m_state == State::kLoaded; }
    // Writes data when writable; a written absent file counts as loaded.
    // A failure is logged with its reason, once until the reason changes,
    // and so is the next success. A file that is not written (refused, in
    // use) is listed as not written once its owner asks for a save: the
    // memory holds changes it lacks.
    bool save(const void* data, u32 size);

    State state() const { return m_state; }
    // The last write failed: the file lacks what the memory holds.
    bool failing() const { return m_failing; }
    const std::string& path() const { return m_path; }
    const char* what() const { return m_what; }
    // No lock keeps a second program out: its file system takes none, or
    // another program would not let go of the file this one made.
    bool noLocks() const { return m_noLocks; }

private:
    friend class SaveSet;

    void release();
    void unlock();
    // Logged once per reason and listed until this save is written.
    void fail(const std::string& reason);
    // The file is not this save's to write: state says whose it is.
    void yield(State state, const std::string& why);
    void noteNoLocks(const char* why);
    // The file holds what the memory does: off the list.
    void mended();
    // data has no file to go to: listed with reason, unless the file at the
    // path holds it already. Answers whether it does.
    bool lose(const std::string& reason, const void* data, u32 size);
    // Takes what a write left: its lock and its file.
    void adopt(WrittenSave& written);
    // Whether the file at the path holds data already.
    bool holds(const void* data, u32 size) const;
    // Makes the save's folder where it was absent at the load; false, with
    // m_folderError, where it cannot be made.
    bool makeFolder();
    // Another program let go of the file (opened: what is there now).
    void retake(OpenedSave& opened);
    // A file that stood in the way has gone: the save is made there.
    void freeAgain();
    // Reads the regular file load found open, or says why not.
    State loadOpened(OpenedSave& opened, void* buffer, u32 size);

    const char* m_what;
    SaveSet* m_set = nullptr;
    std::string m_path;
    std::string m_tag;
    // Why a refused or held file is not written.
    std::string m_why;
    // The reason the last failure was said with.
    std::string m_said;
    // Why the save's folder, absent at the load, could not be made.
    std::string m_folderError;
    State m_state = State::kNone;
    bool m_failing = false;
    // Refused at the load: nothing done during the game makes it writable.
    bool m_final = false;
    // Its folder was absent at the load, so a write may make it.
    bool m_makeFolder = false;
    // The lock could not be taken: the file system takes none.
    bool m_noLocks = false;
    // Holds the lock of the file at m_path; -1 where none was taken.
    int m_lock = -1;
    FileIdentity m_file;
    // This load's number, which its failures are listed under.
    u64 m_use = 0;
};
