#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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
    {"saves/stv_eeprom.sav", EEPROM::kBytes, [](Kest& k) { k.loadEeprom(), boardEeprom().data()[0] = 0x5E; }, 0x5E},
    {"saves/sat_battery.sav", 32, [](Kest& k) { k.getSystem().smpc().saveBattery(); }, -1},
};

// A console run of a BIOS that spins ("bra ." at 0x100), with a 512 KB
// backup cartridge, in which the kind's memory is written and the machine stopped.
void runWriting(const TempDir& dir, const SaveKind& kind,
                const std::string& paths = "sat_bup = saves/bup.bup\r\nsat_memcard = saves/card.bup\r\n")
{
    std::vector<u8> bios(SystemMemory::kBiosSize, 0);
    const u8 start[] = {0, 0, 1, 0, 6, 0x10, 0, 0};
    std::copy(std::begin(start), std::end(start), bios.begin());
    bios[0x100] = 0xAF, bios[0x101] = 0xFE, bios[0x103] = 0x09;
    ASSERT_TRUE(saveFile(dir.file("bios.bin"), bios.data(), SystemMemory::kBiosSize));
    const std::string settings = "[Path]\r\nsat_bios = bios.bin\r\n" + paths + "[General]\r\ncartridge = 4\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), settings.data(), static_cast<u32>(settings.size())));
    Kest kest;
    kest.setDataFolder(dir.path().string());
    ASSERT_TRUE(kest.prepare(nullptr));
    ASSERT_TRUE(kest.open("", 0));
    kest.start();
    kest.resume();
    kest.update();
    kind.write(kest);
    kest.stop();
}

bool listedNotWritten(const std::string& path, const std::string& reason)
{
    const std::vector<std::string> lost = savesNotWritten();
    return std::find(lost.begin(), lost.end(), "'" + path + "': " + reason) != lost.end();
}

}  // namespace

// A whole file round-trips; whatever else stands at a save file's path is
// left byte for byte as it was after a run that writes the memory.
TEST(SaveFiles, OnlyWholeFilesAreWrittenBack)
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
            const std::string refusal = found == Found::kForeign ? "SMPC: Not a Kest battery file!\n"
                                        : found == Found::kShort ? " left untouched: wrong size [size: " +
                                                                       std::to_string(before.size()) + ", need: " +
                                                                       std::to_string(kind.size) + "]\n"
                                                                 : "Save file " + path + " left untouched: ";
            EXPECT_EQ(log.contains(refusal), found != Found::kWhole) << log.text();
            EXPECT_EQ(log.contains("Save SMPC information to disk"), battery && found == Found::kWhole);
            for (const auto& entry : std::filesystem::directory_iterator(dir.file("saves")))
                EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
        }
    }
    std::copy(eeprom.begin(), eeprom.end(), boardEeprom().data());
}

// The stop writes every change its file lacks: one made after the last
// field's look at the memory, and one whose write failed (the battery's
// too), once the folder is back. Saves that fail are each named.
TEST(SaveFiles, TheStopWritesEveryChangeItsFileLacksAndNamesEachThatFails)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("saves"));
    const std::string memory = dir.file("saves/bup.bup"), card = dir.file("saves/card.bup");
    const std::string gone = "No such file or directory";
    ASSERT_TRUE(saveFile(card, std::vector<u8>(0x80000).data(), 0x80000));
    ASSERT_TRUE(saveFile(memory, std::vector<u8>(0x8000).data(), 0x8000));
    runWriting(dir, {"", 0, [](Kest& k) { busWrite(k, 0x00180001, 0x21); }, 0});
    EXPECT_EQ(readBytes(memory).at(0), 0x21);
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
TEST(SaveFiles, TwoSavesNamingOneFileLeaveItAndBothLossesListed)
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
// once more when the same file is written again.
TEST(SaveFiles, AFailedSaveIsToldOnceAndSoIsItsRecovery)
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
}

// A run killed during a save leaves its "NAME.kest~PID-N.tmp" beside the
// file; the next load of that save removes it once it is a minute old, and
// nothing else: not a live process's write in progress, not a write just
// begun (another PID namespace's live run looks dead), not a user's file
// that looks alike or is larger than the save can be.
TEST(SaveFiles, TemporariesOfAKilledSaveAreRemovedAtTheNextLoad)
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
TEST(SaveFiles, ASaveReplacesOnlyItsOwnFileAndCreatesOneOnlyWhereThePathIsFree)
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
TEST(SaveFiles, ProgramsStartingTogetherTakeAGamesSavesWhole)
{
    TempDir dir;
    const std::string first = dir.file("first.bup"), second = dir.file("second.bup");
    u8 a[2][64] = {{1}, {1}}, b[2][64] = {{2}, {2}};
    SaveSet setA, setB;
    SaveFile a1, a2, b1, b2;
    a1.join(setA), a2.join(setA), b1.join(setB), b2.join(setB);
    using State = SaveFile::State;
    constexpr auto create = SaveFile::Absent::kCreate;
    ASSERT_EQ(a1.load("A", first, a[0], 64, create), State::kLoaded);
    ASSERT_EQ(b2.load("B", second, b[1], 64, create), State::kLoaded);
    EXPECT_EQ(b1.load("B", first, b[0], 64, create), State::kInUse);
    EXPECT_EQ(b2.state(), State::kInUse);
    EXPECT_EQ(a2.load("A", second, a[1], 64, create), State::kLoaded);
    EXPECT_TRUE(lostSaves().empty());
    EXPECT_TRUE(a1.save(a[0], 64) && a2.save(a[1], 64));
    EXPECT_FALSE(b1.save(b[0], 64) || b2.save(b[1], 64));
    EXPECT_TRUE(listedNotWritten(second, "in use by another running Kest"));
    // Held, a file is the other program's whatever its size: it may be making it.
    std::filesystem::resize_file(first, 0);
    SaveFile late;
    EXPECT_EQ(late.load("C", first, b[0], 64), State::kInUse);
}

// A save the person made read-only is read and never written: the game's
// changes are listed, with the latest reason where the file is then
// replaced too. Root goes by the mode bits.
TEST(SaveFiles, AReadOnlySaveIsReadButNeverWritten)
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
