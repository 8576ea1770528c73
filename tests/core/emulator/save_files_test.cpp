#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "board/cart/eeprom.h"
#include "core/base/helpers.h"
#include "core/emulator/kest.h"
#include "core/base/shared_state.h"
#include "support/eeprom_writer.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

// What stands at a save file's path before the run.
enum class Found { kWhole, kShort, kFolder, kFifo, kForeign };

struct SaveKind {
    const char* file;  // under the data folder
    u32 size;
    // Changes the memory as a game would and makes the machine save it.
    std::function<void(Kest&)> write;
    // The byte the write puts first in the file; -1: the battery, rewritten as loaded.
    int written;
};

void busWrite(Kest& kest, u32 address, u8 value)
{
    kest.getSystem().master().pageMap()->writeByte(nullptr, address, value);
}

const SaveKind kKinds[] = {
    {"saves/bup.bup", 0x8000, [](Kest& k) { busWrite(k, 0x00180001, 0x21), k.update(), k.update(); }, 0x21},
    {"saves/card.bup", 0x80000, [](Kest& k) { busWrite(k, 0x04000001, 0x77); }, 0x77},
    {"saves/stv_eeprom.sav", EEPROM::kBytes, [](Kest& k) { k.loadEeprom(), writeEepromWord(boardEeprom(), 0, 0x5E08); }, 0x5E},
    {"saves/sat_battery.sav", 32, [](Kest& k) { k.getSystem().smpc().saveBattery(); }, -1},
};

// A console run of a BIOS that spins ("bra ." at 0x100), with a 512 KB
// backup cartridge, in which the kind's memory is written and the machine stopped.
void prepareRun(const TempDir& dir, Kest& kest,
                const std::string& paths = "sat_bup = saves/bup.bup\r\nsat_memcard = saves/card.bup\r\n")
{
    std::vector<u8> bios(SystemMemory::kBiosSize, 0);
    const u8 start[] = {0, 0, 1, 0, 6, 0x10, 0, 0};
    std::copy(std::begin(start), std::end(start), bios.begin());
    bios[0x100] = 0xAF, bios[0x101] = 0xFE, bios[0x103] = 0x09;
    ASSERT_TRUE(saveFile(dir.file("bios.bin"), bios.data(), SystemMemory::kBiosSize));
    const std::string settings = "[Path]\r\nsat_bios = bios.bin\r\n" + paths + "[General]\r\ncartridge = 4\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), settings.data(), static_cast<u32>(settings.size())));
    kest.setDataFolder(dir.path().string());
    ASSERT_TRUE(kest.prepare(nullptr));
}

void play(Kest& kest, const std::function<void(Kest&)>& write)
{
    ASSERT_TRUE(kest.open("", 0));
    kest.start();
    kest.resume();
    kest.update();
    write(kest);
    kest.stop();
}

void runWriting(const TempDir& dir, const SaveKind& kind,
                const std::string& paths = "sat_bup = saves/bup.bup\r\nsat_memcard = saves/card.bup\r\n")
{
    Kest kest;
    prepareRun(dir, kest, paths);
    play(kest, kind.write);
}

bool listedNotWritten(const std::string& path, const std::string& reason)
{
    const std::vector<std::string> lost = savesNotWritten();
    return std::find(lost.begin(), lost.end(), "'" + path + "': " + reason) != lost.end();
}

// Why path is listed as not written; empty where it is not.
std::string lostReason(const std::string& path)
{
    for (const LostSave& lost : lostSaves()) {
        if (lost.path == path)
            return lost.reason;
    }
    return {};
}

// Stand-ins for calls a save's write makes: a test acts there as another
// program would in that very moment, or answers in the call's place (a
// nonzero answer, with errno, is the call's).
struct Moments {
    std::function<int(unsigned flags)> rename;  // renameat2
    std::function<int(int fd)> fsync;
    std::function<int(int fd, int operation)> flock;
};
Moments moments;

// Another program's file put at path by a rename, as a copy made elsewhere is.
void putForeign(const std::string& path, u8 byte)
{
    const std::string side = path + ".theirs";
    std::ofstream(side, std::ios::binary) << std::string(64, static_cast<char>(byte));
    std::filesystem::rename(side, path);
}

std::vector<std::string> filesEndingWith(const TempDir& dir, const std::string& end)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().string().ends_with(end))
            found.push_back(entry.path().string());
    }
    return found;
}

}  // namespace

extern "C" int renameat2(int from, const char* old, int to, const char* name, unsigned flags)
{
    if (const int answer = moments.rename ? moments.rename(flags) : 0)
        return answer;
    return static_cast<int>(::syscall(SYS_renameat2, from, old, to, name, flags));
}

extern "C" int fsync(int fd)
{
    if (const int answer = moments.fsync ? moments.fsync(fd) : 0)
        return answer;
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int flock(int fd, int operation)
{
    if (const int answer = moments.flock ? moments.flock(fd, operation) : 0)
        return answer;
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

namespace {

// Two programs, A and B, each with a game of two saves.
struct TwoPrograms {
    SaveSet setA, setB;
    SaveFile a1, a2, b1, b2;
    TwoPrograms() { a1.join(setA), a2.join(setA), b1.join(setB), b2.join(setB); }
};

}  // namespace

// Every test starts with no lost saves of earlier ones, and no stand-in.
class SaveFiles : public ::testing::Test {
protected:
    void SetUp() override { forgetLostSaves(); }
    void TearDown() override { moments = {}; }
};

// A whole file round-trips; whatever else stands at a save file's path is
// left byte for byte as it was after a run that writes the memory.
TEST_F(SaveFiles, OnlyWholeFilesAreWrittenBack)
{
    const std::vector<u8> eeprom(boardEeprom().data(), boardEeprom().data() + EEPROM::kBytes);
    for (const SaveKind& kind : kKinds) {
        const bool battery = kind.written < 0;
        for (Found found : {Found::kWhole, Found::kShort, Found::kFolder, Found::kFifo, Found::kForeign}) {
            if (found == Found::kForeign && !battery)
                continue;  // only the battery recognises its contents
            SCOPED_TRACE(std::string(kind.file) + " case " + std::to_string(static_cast<int>(found)));
            scheduler().clear();
            TempDir dir;
            std::filesystem::create_directories(dir.file("saves"));
            const std::string path = dir.file(kind.file);
            std::vector<u8> before(found == Found::kShort ? kind.size / 2 : kind.size);
            for (std::size_t i = 0; i < before.size(); ++i)
                before[i] = static_cast<u8>(i * 7 + 1);
            // A whole battery record holds only the values the machine writes back.
            if (battery && found != Found::kForeign)
                std::copy_n("KEST BATTERY\0\0\0\0\1\0\0\0", std::min<std::size_t>(20, before.size()), before.begin());
            if (found == Found::kFolder)
                std::filesystem::create_directory(path);
            else if (found == Found::kFifo)
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            else
                ASSERT_TRUE(saveFile(path, before.data(), static_cast<u32>(before.size())));

            LogCapture log;
            runWriting(dir, kind);
            std::vector<u8> after = before;
            if (found == Found::kWhole && !battery)
                after[0] = static_cast<u8>(kind.written);
            if (found == Found::kFolder)
                EXPECT_TRUE(std::filesystem::is_empty(path));
            else if (found == Found::kFifo)
                EXPECT_TRUE(std::filesystem::is_fifo(path));
            else
                EXPECT_EQ(readBytes(path), after);
            const std::string refusal =
                found == Found::kForeign ? "SMPC: Not a Kest battery file!\n"
                : found == Found::kShort ? " left untouched: wrong size [size: " + std::to_string(before.size()) +
                                               ", need: " + std::to_string(kind.size) +
                                               "]: a save cut short (by a run that ended while making it) stays "
                                               "refused until it is removed\n"
                                         : "Save file " + path + " left untouched: ";
            EXPECT_EQ(log.contains(refusal), found != Found::kWhole) << log.text();
            EXPECT_EQ(log.contains("Save SMPC information to disk"), battery && found == Found::kWhole);
            for (const auto& entry : std::filesystem::directory_iterator(dir.file("saves")))
                EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
        }
    }
    std::copy(eeprom.begin(), eeprom.end(), boardEeprom().data());
}

// The stop writes every change its file lacks, and nothing more: one made
// after the last field's look at the memory, and one whose write failed
// (the battery's too), once the folder is back. Saves that fail are each
// named.
TEST_F(SaveFiles, TheStopWritesEveryChangeItsFileLacksAndNamesEachThatFails)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("saves"));
    const std::string memory = dir.file("saves/bup.bup"), card = dir.file("saves/card.bup");
    const std::string gone = "No such file or directory";
    ASSERT_TRUE(saveFile(card, std::vector<u8>(0x80000).data(), 0x80000));
    ASSERT_TRUE(saveFile(memory, std::vector<u8>(0x8000).data(), 0x8000));
    struct stat card0;
    ASSERT_EQ(::stat(card.c_str(), &card0), 0);
    runWriting(dir, {"", 0, [](Kest& k) { busWrite(k, 0x00180001, 0x21); }, 0});
    EXPECT_EQ(readBytes(memory).at(0), 0x21);
    // A save the game did not change is not written again.
    struct stat card1;
    ASSERT_EQ(::stat(card.c_str(), &card1), 0);
    EXPECT_EQ(card1.st_ino, card0.st_ino);
    const std::string battery = dir.file("saves/sat_battery.sav");
    runWriting(dir, {"", 0, [&](Kest& k) {
        std::filesystem::rename(dir.file("saves"), dir.file("away"));
        busWrite(k, 0x00180001, 0x42), busWrite(k, 0x04000001, 0x43);
        busWrite(k, 0x20100001, 0x2B), busWrite(k, 0x2010001F, 0x17);  // SETSMEM
        for (int i = 0; i < 3; ++i)
            k.update();
        EXPECT_TRUE(listedNotWritten(memory, gone) && listedNotWritten(card, gone) && listedNotWritten(battery, gone));
        std::filesystem::rename(dir.file("away"), dir.file("saves"));
    }, 0});
    EXPECT_EQ(readBytes(memory).at(0), 0x42);
    EXPECT_EQ(readBytes(card).at(0), 0x43);
    EXPECT_EQ(readBytes(battery).at(20), 0x2B);
    EXPECT_FALSE(listedNotWritten(memory, gone) || listedNotWritten(card, gone) || listedNotWritten(battery, gone));
}

// The backup memory and the cartridge named as one file: the memory
// refuses it by its size, the cartridge as the memory's, and neither
// write takes the other's loss off the list.
TEST_F(SaveFiles, TwoSavesNamingOneFileLeaveItAndBothLossesListed)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("saves"));
    const std::string card = dir.file("saves/card.bup");
    const std::vector<u8> before(0x80000, 0x11);
    ASSERT_TRUE(saveFile(card, before.data(), 0x80000));
    LogCapture log;
    runWriting(dir, {"", 0, [](Kest& k) { busWrite(k, 0x00180001, 0x42), busWrite(k, 0x04000001, 0x43); }, 0},
               "sat_bup = saves/card.bup\r\nsat_memcard = saves/../saves/card.bup\r\n");
    EXPECT_EQ(readBytes(card), before);
    EXPECT_TRUE(listedNotWritten(card, "wrong size"));
    EXPECT_TRUE(listedNotWritten(dir.file("saves/../saves/card.bup"), "the same file as the backup memory's"))
        << log.text();
}

// A save that cannot be written says so once, with its path and reason, and
// once more when the same file is written again; a failure is a loss only
// where the file lacks what the memory holds.
TEST_F(SaveFiles, AFailedSaveIsToldOnceAndSoIsItsRecovery)
{
    TempDir dir;
    const std::filesystem::path folder = dir.path() / "saves";
    std::filesystem::create_directory(folder);
    const std::string path = (folder / "memory.bup").string();
    LogCapture log;
    u8 data[64] = {};
    SaveFile file;
    ASSERT_EQ(file.load("KEST", path, data, sizeof data), SaveFile::State::kAbsent);
    std::filesystem::remove_all(folder);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(file.save(data, sizeof data));
    const std::string failed = "KEST: Save file " + path + " not written: No such file or directory\n";
    EXPECT_EQ(log.text(), failed);
    char cut[8];  // what the status line shows, cut to its buffer (the window test reads it whole)
    EXPECT_EQ(copySaveTrouble(cut, sizeof cut), 7u);
    EXPECT_STREQ(cut, "Save no");
    const std::vector<std::string> lost = savesNotWritten();
    EXPECT_EQ(std::count(lost.begin(), lost.end(), "'" + path + "': No such file or directory"), 1);

    std::filesystem::create_directory(folder);
    data[0] = 0x5A;
    EXPECT_TRUE(file.save(data, sizeof data));
    EXPECT_TRUE(file.save(data, sizeof data));
    EXPECT_EQ(log.text(), failed + "KEST: Save file " + path + " written again\n");
    EXPECT_FALSE(listedNotWritten(path, "No such file or directory"));
    const std::vector<u8> saved = readBytes(path);
    ASSERT_EQ(saved.size(), sizeof data);
    EXPECT_EQ(saved[0], 0x5A);

    // A write that fails loses nothing the file holds already.
    moments.fsync = [](int) { return errno = EIO, -1; };
    EXPECT_TRUE(file.save(data, sizeof data));
    data[1] = 1;
    EXPECT_FALSE(file.save(data, sizeof data));
    EXPECT_TRUE(listedNotWritten(path, "Input/output error"));
}

// A run killed during a save leaves its "NAME.kest~PID-N.tmp" beside the
// file; the next load of that save removes it once it is a minute old, and
// nothing else: not a live process's write in progress, not a write just
// begun (another PID namespace's live run looks dead), not a user's file
// that looks alike or is larger than the save can be.
TEST_F(SaveFiles, TemporariesOfAKilledSaveAreRemovedAtTheNextLoad)
{
    TempDir dir;
    const std::string path = dir.file("memory.bup");
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const std::string deadPid = std::to_string(dead), livePid = std::to_string(getppid());
    const std::string own = "memory.bup.kest~" + deadPid;
    unsigned long long pidMax = 0;
    ASSERT_TRUE(std::ifstream("/proc/sys/kernel/pid_max") >> pidMax);
    const std::vector<std::string> stale = {own + "-0.tmp", own + "-17.tmp", own + "-4294967295.tmp",
                                            "memory.bup.kest~" + std::to_string(getpid()) + "-3.tmp",
                                            "memory.bup.kest~" + std::to_string(pidMax - 1) + "-0.tmp"};
    const std::vector<std::string> kept = {
        "memory.bup.kest~" + livePid + "-0.tmp", "memory.bup.backup.tmp", own + "-x.tmp", own + ".tmp",
        "memory.bup" + deadPid + "-0.tmp", "other.bup.kest~" + deadPid + "-0.tmp", own + "-0.tmp.old", "memory.bup",
        // The earlier form, and a person's dated copies in it.
        "memory.bup." + deadPid + "-0.tmp", "memory.bup.2024-01.tmp", "memory.bup.2024-1.tmp",
        // Numbers the program never writes.
        "memory.bup.kest~0-0.tmp", "memory.bup.kest~0" + deadPid + "-0.tmp", own + "-01.tmp",
        own + "-4294967296.tmp", "memory.bup.kest~" + std::to_string(pidMax) + "-0.tmp", own + "--1.tmp",
        own + "-+1.tmp", "memory.bup.kest~-0.tmp", "memory.bup.kest~.tmp"};
    const auto make = [&](const std::string& name, std::size_t size, bool old) {
        const std::string bytes(size, 'x');
        ASSERT_TRUE(saveFile(dir.file(name), bytes.data(), static_cast<u32>(size)));
        if (old)
            std::filesystem::last_write_time(dir.file(name), std::filesystem::file_time_type::clock::now() -
                                                                 std::chrono::seconds(61));
    };
    for (const std::string& name : stale)
        make(name, 1, true);
    for (const std::string& name : kept)
        make(name, 1, true);
    // Larger than the save, or written in the last minute.
    make(own + "-1.tmp", 2, true);
    make(own + "-2.tmp", 1, false);
    // A link of the form is not the program's own file either.
    std::filesystem::create_symlink(dir.file("memory.bup.backup.tmp"), dir.file(own + "-9.tmp"));
    std::filesystem::last_write_time(dir.file("memory.bup.backup.tmp"),
                                     std::filesystem::file_time_type::clock::now() - std::chrono::seconds(61));

    LogCapture log;
    u8 data[1] = {};
    SaveFile file;
    EXPECT_EQ(file.load("KEST", path, data, sizeof data), SaveFile::State::kLoaded);
    for (const std::string& name : stale)
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
    EXPECT_TRUE(std::filesystem::exists(dir.file(own + "-1.tmp")));
    EXPECT_TRUE(std::filesystem::exists(dir.file(own + "-2.tmp")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file(own + "-9.tmp")));
    EXPECT_EQ(log.text(), "KEST: Removed 5 temporary file(s) of " + path + " left by a run that ended during a save\n");

    // Beside a link's target, where the writes go; the save's own writes
    // use the form that is removed.
    std::filesystem::create_directory(dir.file("real"));
    ASSERT_TRUE(saveFile(dir.file("real/target.bup"), "x", 1));
    make("real/target.bup.kest~" + deadPid + "-1.tmp", 1, true);
    std::filesystem::create_symlink(dir.file("real/target.bup"), dir.file("link.bup"));
    EXPECT_EQ(removeLeftoverTemporaries(dir.file("link.bup"), 1), 1u);
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.file("real").c_str(), IN_CREATE), 0);
    ASSERT_TRUE(saveFile(dir.file("link.bup"), "y", 1));
    alignas(inotify_event) char events[4096];
    const ssize_t got = read(watch, events, sizeof events);
    close(watch);
    ASSERT_GT(got, static_cast<ssize_t>(sizeof(inotify_event)));
    const std::string made = reinterpret_cast<const inotify_event*>(events)->name;
    EXPECT_TRUE(made.starts_with("target.bup.kest~" + std::to_string(getpid()) + "-") && made.ends_with(".tmp"))
        << made;
}

// Two programs find a save absent and create it: the second's write comes
// later and must not go over the first's file, which it did not read
// (two objects here hold their locks as two programs do). A save written
// often keeps one descriptor, and another file put in its place stays. A
// lost save leaves the status line with its game, yet stays listed until
// that same save is written, whatever else writes its path.
TEST_F(SaveFiles, ASaveReplacesOnlyItsOwnFileAndCreatesOneOnlyWhereThePathIsFree)
{
    TempDir dir;
    const std::string path = dir.file("memory.bup");
    u8 first[64] = {1}, second[64] = {2};
    char line[256];
    SaveFile a, b;
    ASSERT_EQ(a.load("A", path, first, sizeof first), SaveFile::State::kAbsent);
    ASSERT_EQ(b.load("B", path, second, sizeof second), SaveFile::State::kAbsent);
    EXPECT_TRUE(a.save(first, sizeof first));
    EXPECT_FALSE(b.save(second, sizeof second));
    EXPECT_EQ(readBytes(path).at(0), 1);
    EXPECT_GT(copySaveTrouble(line, sizeof line), 0u);
    b.forget();
    EXPECT_EQ(copySaveTrouble(line, sizeof line), 0u) << line;

    const auto descriptors = [] {
        const std::filesystem::directory_iterator fds("/proc/self/fd");
        return std::distance(fds, std::filesystem::directory_iterator());
    };
    const auto before = descriptors();
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(a.save(first, sizeof first));
    EXPECT_EQ(descriptors(), before);

    ASSERT_TRUE(saveFile(path, second, sizeof second));
    EXPECT_FALSE(a.save(first, sizeof first));
    EXPECT_EQ(readBytes(path).at(0), 2);
    a.forget();
    ASSERT_EQ(b.load("B", path, second, sizeof second), SaveFile::State::kLoaded);
    EXPECT_TRUE(b.save(second, sizeof second));
    // Two loads' losses of one path are one line, with the latest reason.
    EXPECT_TRUE(listedNotWritten(path, "changed by another program while this run used it (in 2 games)"));

    // A backup copied over the held file keeps its number: its time tells.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    ASSERT_EQ(b.load("B", path, second, sizeof second), SaveFile::State::kLoaded);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(first), sizeof first);
    EXPECT_FALSE(b.save(second, sizeof second));
    EXPECT_EQ(readBytes(path).at(0), 1);
}

// Two programs start a game at once on an empty folder: the first to make a
// save takes it and the other reads it as in use, which is no loss until
// its game changes it. A program that finds one of a game's saves held lets
// go of those it took, so one has them all and the other none (two sets of
// files here stand for the two programs).
TEST_F(SaveFiles, ProgramsStartingTogetherTakeAGamesSavesWhole)
{
    TempDir dir;
    const std::string first = dir.file("first.bup"), second = dir.file("second.bup");
    u8 a[2][64] = {{1}, {1}}, b[2][64] = {{2}, {2}};
    TwoPrograms programs;
    auto& [setA, setB, a1, a2, b1, b2] = programs;
    using State = SaveFile::State;
    constexpr auto create = SaveFile::Absent::kCreate;
    ASSERT_EQ(a1.load("A", first, a[0], 64, create), State::kLoaded);
    ASSERT_EQ(b2.load("B", second, b[1], 64, create), State::kLoaded);
    EXPECT_EQ(b1.load("B", first, b[0], 64, create), State::kInUse);
    EXPECT_EQ(b2.state(), State::kInUse);
    EXPECT_EQ(a2.load("A", second, a[1], 64, create), State::kLoaded);
    EXPECT_TRUE(lostSaves().empty());
    // What the files hold already is no loss; what B's game changes is.
    EXPECT_TRUE(b2.save(b[1], 64));
    b[0][1] = b[1][1] = 3;
    EXPECT_TRUE(a1.save(a[0], 64) && a2.save(a[1], 64));
    EXPECT_FALSE(b1.save(b[0], 64) || b2.save(b[1], 64));
    EXPECT_TRUE(listedNotWritten(second, "in use by another running Kest"));
    // Nor does B lock its game's next file for a moment: A, loading it then,
    // would find it held and let go of all its saves.
    const std::string third = dir.file("third.bup");
    ASSERT_TRUE(saveFile(third, a[0], 64));
    SaveFile a3, b3;
    a3.join(setA), b3.join(setB);
    bool meanwhile = false;
    moments.flock = [&](int fd, int operation) {
        if ((operation & LOCK_EX) && !std::exchange(meanwhile, true)) {
            ::syscall(SYS_flock, fd, operation);
            a3.load("A", third, a[0], 64);
        }
        return 0;
    };
    EXPECT_EQ(b3.load("B", third, b[0], 64), State::kInUse);
    moments = {};
    if (!meanwhile)
        a3.load("A", third, a[0], 64);
    EXPECT_EQ(a3.state(), State::kLoaded);
    // Held, a file is the other program's whatever its size: it may be making it.
    std::filesystem::resize_file(first, 0);
    SaveFile late;
    EXPECT_EQ(late.load("C", first, b[0], 64), State::kInUse);
}

// A save the person made read-only is read and never written: the game's
// changes are listed, with the latest reason where the file is then
// replaced too. Root goes by the mode bits.
TEST_F(SaveFiles, AReadOnlySaveIsReadButNeverWritten)
{
    TempDir dir;
    const std::string path = dir.file("memory.bup");
    u8 data[64] = {7};
    ASSERT_TRUE(saveFile(path, data, sizeof data));
    using std::filesystem::perms;
    std::filesystem::permissions(path, perms::owner_read | perms::group_read | perms::others_read);
    SaveFile file;
    ASSERT_EQ(file.load("KEST", path, data, sizeof data), SaveFile::State::kLoaded);
    EXPECT_TRUE(file.save(data, sizeof data)) << "nothing to lose";
    data[0] = 8;
    EXPECT_FALSE(file.save(data, sizeof data));
    EXPECT_TRUE(listedNotWritten(path, "the file is read-only"));
    EXPECT_EQ(readBytes(path).at(0), 7);
    const u8 theirs[64] = {3};
    ASSERT_TRUE(saveFile(path, theirs, sizeof theirs));
    EXPECT_FALSE(file.save(data, sizeof data));
    EXPECT_TRUE(listedNotWritten(path, "changed by another program while this run used it"));

}

// Another program acts in the moments of a write: whatever file it leaves
// is never removed or written over, and a save is said not written only
// where it is not. Between the exchange of the new file for the old and the
// look at what came out: a file put there, a third one before the swap
// back, a swap back that fails or finds the path gone, a path gone then
// taken, a file made read-only (also where renameat2 takes no flags) or
// copied over in place (the same number). Without the flags a save is made
// in place, the only file it removes or calls its own: one that takes the
// path at its sync stays, and one another program holds on to past a moment
// is said to be unguarded.
TEST_F(SaveFiles, WhatAnotherProgramDoesInTheMomentsOfAWriteStays)
{
    const std::string changed = "changed by another program while this run used it", readOnly = "the file is read-only";
    enum Act { kThird, kSwapBackFails, kGone, kGoneThenTaken, kReadOnly, kReadOnlyNoFlags, kCopied, kSynced,
               kSyncFails, kHeldOn };
    const struct {
        Act act;
        bool written;
        int atPath;  // the byte the file at the path holds after
        int kept;    // that of the file kept aside, -1 for none
        std::string reason;
    } cases[] = {{kThird, false, 0xF1, 0xF3, changed}, {kSwapBackFails, true, 1, 0xF1, ""},
                 {kGone, false, 0xF1, -1, changed},    {kGoneThenTaken, false, 0xF2, -1, changed},
                 {kReadOnly, false, 0, -1, readOnly},  {kReadOnlyNoFlags, false, 0, -1, readOnly},
                 {kCopied, false, 0xC0, -1, changed},  {kSynced, false, 0xF1, -1, "in use by another running Kest"},
                 {kSyncFails, false, 0xF1, -1, "Input/output error"}, {kHeldOn, true, 1, -1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.act);
        forgetLostSaves();
        TempDir dir;
        const std::string path = dir.file("memory.bup");
        const bool inPlace = c.act >= kSynced;
        u8 data[64] = {};
        SaveFile file;
        file.load("KEST", path, data, sizeof data, inPlace ? SaveFile::Absent::kLeave : SaveFile::Absent::kCreate);
        data[0] = 1;
        int exchanges = 0;
        moments.rename = [&](unsigned flags) {
            const bool first = flags == RENAME_EXCHANGE && ++exchanges == 1;
            const bool second = flags == RENAME_EXCHANGE && exchanges == 2;
            if (first && (c.act == kReadOnly || c.act == kReadOnlyNoFlags))
                ::chmod(path.c_str(), 0444);
            if (inPlace || (first && c.act == kReadOnlyNoFlags))
                return errno = EINVAL, -1;
            if (first && c.act == kGoneThenTaken)
                std::filesystem::remove(path);
            else if (first && c.act == kCopied) {
                std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(64, '\xC0');
                // A copy's time is now; the clock's grain could match the last write's.
                const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
                ::utimensat(AT_FDCWD, path.c_str(), old, 0);
            } else if (first && c.act != kReadOnly)
                putForeign(path, 0xF1);
            else if (second && c.act == kThird)
                putForeign(path, 0xF3);
            else if (second && c.act == kGone)
                std::filesystem::remove(path);
            else if (second && c.act == kSwapBackFails)
                return errno = EIO, -1;
            else if (flags == RENAME_NOREPLACE && c.act == kGoneThenTaken)
                putForeign(path, 0xF2);
            return 0;
        };
        moments.fsync = [&](int fd) {
            std::error_code error;
            if (!inPlace || c.act == kHeldOn || !std::filesystem::equivalent(path, "/proc/self/fd/" + std::to_string(fd),
                                                                             error))
                return 0;
            putForeign(path, 0xF1);
            return c.act == kSyncFails ? (errno = EIO, -1) : 0;
        };
        moments.flock = [&](int, int operation) {
            return c.act == kHeldOn && (operation & LOCK_EX) ? (errno = EWOULDBLOCK, -1) : 0;
        };
        EXPECT_EQ(file.save(data, sizeof data), c.written);
        moments = {};
        EXPECT_EQ(readBytes(path).at(0), c.atPath);
        const std::vector<std::string> kept = filesEndingWith(dir, ".kept");
        ASSERT_EQ(kept.size(), c.kept < 0 ? 0u : 1u);
        EXPECT_TRUE(c.kept < 0 || readBytes(kept[0]).at(0) == c.kept);
        EXPECT_TRUE(lostReason(path).starts_with(c.reason)) << lostReason(path);
        EXPECT_EQ(file.noLocks(), c.act == kHeldOn);
    }
}

// A save another running program held is written once that program lets
// go, where the file is still the one this run read, at the next look (a
// stop, or a second try); one the other program wrote meanwhile is left,
// until the person moves it away.
TEST_F(SaveFiles, ASaveAnotherProgramHeldIsWrittenOnceItLetsGo)
{
    TempDir dir;
    const std::string memory = dir.file("memory.bup"), card = dir.file("card.bup");
    u8 a[2][64] = {}, b[2][64] = {};
    TwoPrograms programs;
    auto& [setA, setB, a1, a2, b1, b2] = programs;
    using State = SaveFile::State;
    constexpr auto create = SaveFile::Absent::kCreate;
    ASSERT_EQ(a1.load("A", memory, a[0], 64, create), State::kLoaded);
    ASSERT_EQ(a2.load("A", card, a[1], 64, create), State::kLoaded);
    ASSERT_EQ(b1.load("B", memory, b[0], 64, create), State::kInUse);
    ASSERT_EQ(b2.load("B", card, b[1], 64, create), State::kInUse);
    b[0][0] = b[1][0] = 0xB0;
    EXPECT_FALSE(b1.save(b[0], 64) || b2.save(b[1], 64));
    setB.lookAgain();
    EXPECT_EQ(b1.state(), State::kInUse);
    a[1][0] = 0xA0;
    ASSERT_TRUE(a2.save(a[1], 64));
    a1.forget(), a2.forget();

    setB.lookAgain();
    EXPECT_TRUE(b1.save(b[0], 64));
    EXPECT_FALSE(b2.save(b[1], 64));
    EXPECT_EQ(readBytes(memory).at(0), 0xB0);
    EXPECT_EQ(readBytes(card).at(0), 0xA0);
    std::filesystem::rename(card, card + ".old");
    setB.lookAgain();
    EXPECT_TRUE(b2.save(b[1], 64));
    EXPECT_EQ(readBytes(card).at(0), 0xB0);
    EXPECT_TRUE(lostSaves().empty());
}

// A game closed while another running program held its saves lets go of
// them all: opened again once that program has ended, it takes them.
TEST_F(SaveFiles, AGameOpenedAgainAfterTheOtherProgramEndedTakesItsSaves)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("saves"));
    const std::string memory = dir.file("saves/bup.bup");
    ASSERT_TRUE(saveFile(memory, std::vector<u8>(0x8000).data(), 0x8000));
    file_io::Descriptor other(::open(memory.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    Kest kest;
    prepareRun(dir, kest);
    play(kest, [](Kest& k) { busWrite(k, 0x00180001, 0x21), k.update(), k.update(); });
    EXPECT_EQ(readBytes(memory).at(0), 0);
    other.reset();
    play(kest, [](Kest& k) {
        EXPECT_EQ(k.getSystem().backupFile().state(), SaveFile::State::kLoaded);
        busWrite(k, 0x00180001, 0x42), k.update(), k.update();
    });
    EXPECT_EQ(readBytes(memory).at(0), 0x42);
}
