// kest-headless against hostile output paths, failing outputs, discs the
// built-in BIOS refuses and a guest that floods the log.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/base/bus.h"
#include "core/base/helpers.h"
#include "support/files.h"
#include "support/process.h"
#include "tools/headless_output.h"
#include "headless_run.h"

namespace {

struct Outcome {
    int status = -1;  // the exit status
    int raw = -1;     // as waitpid answers it
    std::string output;
};

Outcome headless(const std::string& arguments, const std::string& prefix = "")
{
    HeadlessRun run = runHeadless(arguments, prefix);
    return {WEXITSTATUS(run.status), run.status, std::move(run.output)};
}

u32 le32(const u8* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24; }

bool contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// A folder whose settings boot through the built-in BIOS, with a copy of
// the boot disc and a cue sheet whose data file is that copy.
struct Workspace {
    TempDir dir;
    std::string disc = dir.file("disc.iso");
    std::string cue = dir.file("disc.cue");

    Workspace()
    {
        std::filesystem::copy_file(KEST_BOOT_DISC, disc);
        const std::string ini = "[General]\r\nkest_bios = 1\r\ncartridge = 1\r\n";
        saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size()));
        const std::string sheet = "FILE \"disc.iso\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n";
        saveFile(cue, sheet.data(), static_cast<u32>(sheet.size()));
    }
    std::string data() const { return "--data " + dir.path().string() + " --fields 2 "; }
};

// Settings that run save_busy (or another) as the BIOS image, or with none
// the built-in BIOS on the boot disc, with a blank 512 KB backup cartridge
// at saves/card.bup unless card is false.
void busySaves(const TempDir& dir, bool card = true, const std::string& bios = KEST_PROGRAMS_DIR "/sh2/save_busy.bin")
{
    const std::string ini = (bios.empty() ? "[Path]\nsat_cd = " KEST_BOOT_DISC "\n" : "[Path]\nsat_bios = " + bios + "\n") +
                            "sat_memcard = saves/card.bup\n[General]\nkest_bios = " + (bios.empty() ? "1" : "0") +
                            "\ncartridge = 4\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    std::filesystem::create_directory(dir.path() / "saves");
    EXPECT_TRUE(!card || saveFile(dir.file("saves/card.bup"), std::vector<u8>(0x80000).data(), 0x80000));
}

// save_busy has made its first writes and set SMEM, whose battery file is
// written at once.
bool busyInLoop(const TempDir& dir)
{
    const std::vector<u8> bytes = readBytes(dir.file("saves/sat_battery.sav"));
    return bytes.size() > 20 && bytes[20] == 0x2B;
}

// A run of the settings busySaves made, its log and standard error going
// to output, on a file system that lacks what fileSystem lists, with one
// call held ("FSYNC=TEXT" or "FLOCK=TEXT": see file_systems.cpp), as
// another user than the test's where asked (as root: nobody).
pid_t busyRun(const TempDir& dir, const std::string& output, const std::string& fileSystem, const std::string& hold,
              const char* fields = "20", bool anotherUser = false)
{
    std::vector<std::string> command =
        preloaded({KEST_BINARY_DIR "/tools/kest-headless", "--data", dir.path().string(), "--fields", fields},
                  KEST_FILE_SYSTEMS, {"KEST_FILE_SYSTEM=" + fileSystem, "KEST_HOLD_" + hold + ":" + dir.path().string()});
    if (anotherUser && ::geteuid() == 0)
        command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return spawn(command, "", dir.file(output));
}

ino_t inode(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

template <typename Seen>
bool waitUntil(Seen seen)
{
    for (int i = 0; i < 3000 && !seen(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return seen();
}

// Waits until every run is held (see busyRun).
bool held(const TempDir& dir, std::initializer_list<pid_t> runs)
{
    return waitUntil([&] {
        return std::all_of(runs.begin(), runs.end(), [&](pid_t run) {
            return std::filesystem::exists(dir.file("held." + std::to_string(run)));
        });
    });
}

void expectNoTemporaries(const TempDir& dir, const std::string& folder = "")
{
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / folder))
        EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
}

}  // namespace

// An output that is one of the run's inputs, by name, through a link or a
// hard link, is refused before anything runs, and the input stays whole.
TEST(HeadlessOutputs, AnInputIsNeverAnOutput)
{
    Workspace w;
    const std::vector<u8> original = readBytes(w.disc);
    std::filesystem::create_symlink(w.disc, w.dir.file("link.iso"));
    std::filesystem::create_hard_link(w.disc, w.dir.file("hard.iso"));
    const std::string bup = w.dir.file("saves/sat_primary_01.bup");
    const std::string battery = w.dir.file("saves/sat_battery.sav");
    const struct {
        std::string arguments;
        std::string input;
    } cases[] = {
        {"--png " + w.disc + " " + w.disc, w.disc},
        {"--wav " + w.dir.file("link.iso") + " " + w.disc, w.disc},
        {"--vdp2 " + w.dir.file("hard.iso") + " " + w.disc, w.disc},
        {"--dump 0x06000000:16:" + w.disc + " " + w.cue, w.disc},  // the sheet's data file
        {"--png " + w.cue + " " + w.cue, w.cue},
        {"--vdp2 " + w.dir.file("kest.ini") + " " + w.disc, w.dir.file("kest.ini")},
        {"--shortcut-uses " + w.dir.file("kest.ini") + " " + w.disc, w.dir.file("kest.ini")},
        {"--png " + bup + " " + w.disc, bup},
        {"--png " + battery + " " + w.disc, battery},
    };
    for (const auto& c : cases) {
        const Outcome run = headless(w.data() + c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments << "\n" << run.output;
        EXPECT_TRUE(contains(run.output, "kest-headless: will not write '")) << run.output;
        EXPECT_TRUE(contains(run.output, "it is the run's input file '" + c.input)) << run.output;
        EXPECT_FALSE(contains(run.output, "SYSTEM: Ran ")) << "nothing runs";
    }
    EXPECT_EQ(readBytes(w.disc), original);
    EXPECT_TRUE(std::filesystem::is_symlink(w.dir.file("link.iso")));
}

// Outputs elsewhere go ahead, each through a new file and a rename: a hard
// link to the old output keeps the old bytes, the mode stays, no temporary
// is left, and the streamed WAV file's header gives its true length.
TEST(HeadlessOutputs, OutputsReplaceTheirFileWhole)
{
    Workspace w;
    const std::string state = w.dir.file("vdp2.txt");
    const std::string wav = w.dir.file("run.wav");
    saveFile(state, "old", 3);
    ::chmod(state.c_str(), 0640);
    std::filesystem::create_hard_link(state, w.dir.file("old.txt"));
    const Outcome run = headless(w.data() + "--vdp2 " + state + " --wav " + wav + " " + w.cue);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<u8> text = readBytes(state);
    EXPECT_TRUE(std::string(text.begin(), text.end()).starts_with("TVMD: "));
    EXPECT_EQ(readBytes(w.dir.file("old.txt")), std::vector<u8>({'o', 'l', 'd'}));
    EXPECT_EQ(std::filesystem::status(state).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640));
    const std::vector<u8> file = readBytes(wav);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(le32(&file[40]), file.size() - 44);
    expectNoTemporaries(w.dir);
}

// A failed output names its path and reason and fails the run, even when
// the bytes were small enough to wait in a buffer until the file closed.
TEST(HeadlessOutputs, FailedOutputsSayWhyAndFail)
{
    Workspace w;
    const std::string missing = w.dir.file("no/such/folder/out.png");
    const std::string full = "kest-headless: cannot write '/dev/full': No space left on device\n";
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"--png /dev/full", full},
        {"--vdp2 /dev/full", full},
        {"--shortcut-uses /dev/full", full},
        {"--dump 0x06000000:4:/dev/full", full},
        {"--fields 0 --wav /dev/full", full},
        {"--png " + missing, "kest-headless: cannot write '" + missing + "': No such file or directory\n"},
        {"--vdp2 " + w.dir.path().string(),
         "kest-headless: cannot write '" + w.dir.path().string() + "': is a folder\n"},
    };
    for (const auto& c : cases) {
        const Outcome run = headless(w.data() + c.arguments + " " + w.disc);
        EXPECT_EQ(run.status, 1) << c.arguments << "\n" << run.output;
        EXPECT_TRUE(contains(run.output, c.message)) << c.arguments << "\n" << run.output;
    }
    // A device is written in place, never renamed over.
    ASSERT_EQ(headless(w.data() + "--png /dev/null --wav /dev/null " + w.disc).status, 0);
    for (const char* device : {"/dev/full", "/dev/null"}) {
        struct stat info;
        EXPECT_TRUE(::stat(device, &info) == 0 && S_ISCHR(info.st_mode)) << device;
    }

    // A disc that fills part way (here a file size limit) leaves the old
    // file whole and no new one beside it.
    const std::string dump = w.dir.file("dump.bin");
    saveFile(dump, "old", 3);
    const Outcome part =
        headless(w.data() + "--dump 0x06000000:65536:" + dump + " " + w.disc, "trap '' XFSZ; ulimit -f 2; ");
    EXPECT_EQ(part.status, 1) << part.output;
    EXPECT_TRUE(contains(part.output, "kest-headless: cannot write '" + dump + "': File too large\n")) << part.output;
    EXPECT_EQ(readBytes(dump), std::vector<u8>({'o', 'l', 'd'}));
    expectNoTemporaries(w.dir);
}

// Sound goes to its file as it is made; the file ends where the format's
// 32-bit sizes do, and the run says what was left out.
TEST(HeadlessOutputs, WavFilesStopAtTheFormatsLimit)
{
    TempDir dir;
    const std::string path = dir.file("sound.wav");
    WavOutput wav(path, 4 * 1000 + 2);
    ASSERT_TRUE(wav.open()) << wav.error();
    s16 samples[2 * 600];
    for (int i = 0; i < 1200; ++i)
        samples[i] = static_cast<s16>(i * 37 - 20000);
    ASSERT_TRUE(wav.append(samples, 600));
    std::string growing;  // written as it comes, into the file that becomes the WAV file
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        growing = entry.path().string();
    EXPECT_TRUE(growing.ends_with(".tmp")) << growing;
    EXPECT_EQ(readBytes(growing).size(), 44u + 2400u);
    ASSERT_TRUE(wav.append(samples, 600));
    EXPECT_EQ(wav.droppedPairs(), 200u);
    EXPECT_FALSE(wav.commit());
    EXPECT_TRUE(contains(wav.error(), "'" + path + "': a WAV file holds at most 4000 bytes")) << wav.error();
    EXPECT_TRUE(contains(wav.error(), "the last 200 samples were left out")) << wav.error();

    const std::vector<u8> file = readBytes(path);
    ASSERT_EQ(file.size(), 44u + 4000u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le32(&file[4]), 36u + 4000u);
    EXPECT_EQ(le32(&file[40]), 4000u);
    EXPECT_EQ(static_cast<s16>(file[44 + 2400] | file[45 + 2400] << 8), samples[0]) << "the second block follows";
    EXPECT_EQ(WavOutput::kFormatLimitBytes, 0xFFFFFFD8u) << "36 + data fits 32 bits";
}

// A console disc the built-in BIOS cannot load does not run: the run ends
// with status 3 and the BIOS's reason.
TEST(HeadlessBoot, RefusedDiscDoesNotRun)
{
    Workspace w;
    std::vector<u8> image = readBytes(w.disc);
    ASSERT_GT(image.size(), 0x100u);
    storeBe32(&image[0xE0], 0x000FE001);
    const std::string big = w.dir.file("big_ip.iso");
    saveFile(big, image.data(), static_cast<u32>(image.size()));
    const Outcome run = headless(w.data() + big);
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_TRUE(contains(run.output,
                         "kest-headless: the disc does not boot: IP does not fit in work RAM [IPS: 000FE001]\n"))
        << run.output;
    EXPECT_FALSE(contains(run.output, "SYSTEM: Ran ")) << run.output;
    EXPECT_FALSE(contains(run.output, "BIOS: SYS_INIT")) << "the program never ran";
}

// A program running wild logs a line per access, each different: each
// message shows at most 100 lines an emulated second, the rest counted in
// one line, and the whole log stays far under a megabyte a second.
TEST(HeadlessLog, FloodIsFoldedPerMessageAndSecond)
{
    TempDir dir;
    const std::string ini = "[Path]\r\nsat_bios = " + std::string(KEST_PROGRAMS_DIR) +
                            "/sh2/log_flood.bin\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\n";
    saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size()));
    const Outcome run = headless("--data " + dir.path().string() + " --fields 90");
    ASSERT_EQ(run.status, 0) << run.output.substr(0, 2000);
    // Two seconds begun: 100 lines in each, the first closed by its count.
    EXPECT_EQ(occurrences(run.output, "SCU: Bad RB [A: "), 200u);
    const std::size_t fold = run.output.find("SCU: (");
    ASSERT_NE(fold, std::string::npos) << run.output.substr(0, 2000);
    EXPECT_GT(std::stoul(run.output.substr(fold + 6)), 10000u) << "lines folded";
    EXPECT_LT(run.output.size(), 100000u);
    // The same run logs the same way: the folding follows emulated time.
    EXPECT_EQ(headless("--data " + dir.path().string() + " --fields 90").output, run.output);

    // Each line reaches the pipe as it is made: a run killed part way (here
    // by a limit of 2 s of processor time) has shown what it logged.
    const Outcome killed =
        headless("--data " + dir.path().string() + " --fields 1000000", "ulimit -c 0; ulimit -t 2; ");
    EXPECT_TRUE(WIFSIGNALED(killed.raw)) << killed.raw;
    EXPECT_FALSE(contains(killed.output, "SYSTEM: Ran ")) << "the run was to be cut short";
    EXPECT_TRUE(contains(killed.output, "SCU: Bad RB [A: 25FE0000]\n")) << killed.output;
    // Whole lines only: a buffer cut off at the kill would end anywhere.
    EXPECT_TRUE(killed.output.ends_with("\n")) << killed.output.substr(killed.output.size() - 200);
    EXPECT_EQ(killed.output.substr(0, 400), run.output.substr(0, 400));
}

// A run stopped by a signal removes the WAV it streams and says why; a
// file-size limit is a failed write instead.
TEST(HeadlessSignals, AStoppedRunRemovesWhatItWasWritingAndSaysWhy)
{
    TempDir dir;
    const std::string ini = "[Path]\r\nsat_bios = " + std::string(KEST_PROGRAMS_DIR) +
                            "/sh2/log_flood.bin\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\n";
    saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size()));
    const std::string wav = dir.file("long.wav");
    // The shell becomes the run; signalled once its WAV file is begun.
    const std::string watch = "(i=0; until ls " + dir.path().string() + "/.*.tmp >/dev/null 2>&1 || [ $i = 2000 ]; " +
                              "do sleep 0.01; i=$((i+1)); done; kill -TERM $$) & ";
    const Outcome run = headless("--data " + dir.path().string() + " --fields 1000000 --wav " + wav, watch);
    EXPECT_TRUE(WIFSIGNALED(run.raw) && WTERMSIG(run.raw) == SIGTERM) << run.raw;
    EXPECT_TRUE(run.output.ends_with("kest-headless: terminated (SIGTERM); unfinished outputs were removed\n"));
    expectNoTemporaries(dir);

    Workspace w;
    const std::string limitedWav = w.dir.file("limited.wav");
    const Outcome limited = headless(w.data() + "--fields 300 --wav " + limitedWav + " " + w.disc, "ulimit -f 64; ");
    EXPECT_TRUE(WIFEXITED(limited.raw) && limited.status == 1) << limited.raw;
    EXPECT_FALSE(std::filesystem::exists(limitedWav));
}

// A game that writes its backup memory and cartridge in every field never lets the
// field-by-field write-back catch up, so a SIGTERM or SIGINT always lands
// in a field of a write: the run's end must write both itself. A second
// signal right behind the first (a Ctrl+C a wrapper forwards) waits for them.
// Ones ignored from the start (nohup) stay ignored; three sent to the stopped
// run, so taken back to back (lowest first), end it at once by the first.
TEST(HeadlessSignals, ASignalInAFieldOfAWriteStillSavesIt)
{
    const struct { std::vector<int> sent; int signal; const char* prefix; bool held; } cases[] = {
        {{SIGTERM}, SIGTERM, "", false}, {{SIGINT}, SIGINT, "", false}, {{SIGTERM, SIGINT}, SIGTERM, "", false},
        {{SIGTERM, SIGTERM}, SIGTERM, "", false}, {{SIGHUP, SIGINT, SIGTERM}, SIGTERM, "trap '' HUP INT; ", false},
        {{SIGTERM, SIGINT, SIGHUP}, SIGHUP, "", true}};
    for (const auto& [sent, signal, prefix, held] : cases) {
        TempDir dir;
        busySaves(dir);
        const std::string card = dir.file("saves/card.bup");
        const std::vector<u8> blank(0x80000, 0);
        const pid_t pid = spawn({"sh", "-c", prefix + ("exec " KEST_BINARY_DIR "/tools/kest-headless --data " +
                                                        dir.path().string() + " --fields 1000000")},
                                "", dir.file("log.txt"));
        ASSERT_GT(pid, 0);
        // The game's SETSMEM, written at once, follows its first writes of both.
        const std::string internal = dir.file("saves/sat_primary_01.bup");
        const auto written = [&] {
            const std::vector<u8> bytes = readBytes(dir.file("saves/sat_battery.sav"));
            return bytes.size() > 20 && bytes[20] == 0x2B;
        };
        for (int i = 0; i < 1000 && !written(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(written()) << readText(dir.file("log.txt")).substr(0, 3000);
        EXPECT_EQ(readBytes(card), blank) << "the cartridge reached its file while the game wrote it";
        int status = 0;
        if (held) {
            ASSERT_TRUE(kill(pid, SIGSTOP) == 0 && waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status));
        }
        for (const int each : sent) {
            // Each one taken (or dropped) before the next, or two alike would merge.
            for (int i = 0; !held && i < 1000 && !contains(readText("/proc/" + std::to_string(pid) + "/status"),
                                                           "ShdPnd:\t0000000000000000\n");
                 ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            kill(pid, each);
        }
        if (held)
            kill(pid, SIGCONT);
        ASSERT_TRUE(waitFor(pid, std::chrono::seconds(20), &status));
        const std::string log = readText(dir.file("log.txt"));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status << " " << sent.size();
        expectNoTemporaries(dir, "saves");
        if (held) {
            EXPECT_TRUE(contains(log, "kest-headless: hung up (SIGHUP), then stopped at once by another signal; the "
                                      "game's saves were not written\n")) << log;
            continue;
        }
        const std::vector<u8> saved = readBytes(card);
        ASSERT_EQ(saved.size(), blank.size()) << signal;
        EXPECT_EQ(saved[0], 'K') << signal << " " << sent.size() << "\n" << log.substr(0, 3000);
        EXPECT_EQ(saved[1], 'E') << signal;
        EXPECT_EQ(readBytes(internal).at(1), 0x4B) << signal << " " << sent.size();
    }
}

// The last field's save reaches its file past temporary names others hold;
// one that cannot be written, or has no file to go to, fails the run,
// naming it.
TEST(HeadlessSaves, TheLastFieldsSaveTakesAFreeTemporaryNameOrFailsTheRun)
{
    TempDir dir;
    busySaves(dir, false);
    const std::string internal = dir.file("saves/sat_primary_01.bup");
    // The shell's number is the run's: exec keeps it.
    const Outcome run = headless("--data " + dir.path().string() + " --fields 10",
                                 "for n in 0 1 2 3; do echo >" + internal + ".kest~$$-$n.tmp; done; ");
    EXPECT_EQ(run.raw, 0) << run.output;
    EXPECT_EQ(readBytes(internal).at(1), 0x4B);
    // 16 KB at most per file: the 32 KB memory never reaches its own, which
    // lacks what the game writes.
    ASSERT_TRUE(saveFile(internal, std::vector<u8>(0x8000).data(), 0x8000));
    const Outcome limited = headless("--data " + dir.path().string() + " --fields 10", "ulimit -f 32; ");
    EXPECT_EQ(limited.raw, 1 << 8) << limited.output;
    EXPECT_TRUE(limited.output.ends_with(": save not written: '" + internal + "': File too large\n")) << limited.output;

    // A folder where the save goes takes none of the game's saves: the run
    // fails as for a lost save, and the folder stays as it was.
    const std::string card = dir.file("saves/card.bup");
    std::filesystem::remove(internal);
    std::filesystem::create_directory(internal);
    std::filesystem::create_directory(card);
    const Outcome folder = headless("--data " + dir.path().string() + " --fields 10");
    EXPECT_EQ(folder.raw, 1 << 8) << folder.output;
    for (const std::string& save : {internal, card}) {
        EXPECT_TRUE(contains(folder.output, ": save not written: '" + save + "': not a regular file\n"))
            << folder.output;
        EXPECT_TRUE(std::filesystem::is_empty(save));
    }
}

// Where the file system takes no locks (a stand-in for flock fails as one
// does), two runs on one folder each say so once per file, at the open and
// in the log. The first's end then finds the saves the second's game (not
// the same) wrote since and does not go back over them: it names them as
// not written.
TEST(HeadlessSaves, WithoutLocksNoRunWritesOverAnothersNewerSaves)
{
    TempDir dir;
    busySaves(dir);
    const std::string memory = dir.file("saves/sat_primary_01.bup"), card = dir.file("saves/card.bup");
    const auto start = [&](const char* fields, const char* output) {
        return spawn(withoutLocks({KEST_BINARY_DIR "/tools/kest-headless", "--data", dir.path().string(), "--fields",
                                   fields}), "", dir.file(output));
    };
    const pid_t first = start("1000000", "first.txt");
    ASSERT_GT(first, 0);
    // Its game's last write to a file before its end: the SMPC's memory.
    const std::string battery = dir.file("saves/sat_battery.sav");
    for (int i = 0; i < 1000 && !(readBytes(battery).size() > 20 && readBytes(battery)[20] == 0x2B); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int status = -1;
    busySaves(dir, false, KEST_PROGRAMS_DIR "/sh2/save_other.bin");
    ASSERT_TRUE(waitFor(start("20", "second.txt"), std::chrono::seconds(60), &status));
    EXPECT_EQ(status, 0);
    const std::string second = readText(dir.file("second.txt"));
    for (const std::string& save : {memory, card, battery}) {
        EXPECT_EQ(occurrences(second, save + "' is on a file system that takes no locks"), 1u) << second;
        EXPECT_EQ(occurrences(second, "Save file " + save + " is on a file system that takes no locks"), 1u);
    }
    kill(first, SIGTERM);
    ASSERT_TRUE(waitFor(first, std::chrono::seconds(20), &status));
    const std::string said = readText(dir.file("first.txt"));
    for (const std::string& save : {memory, card})
        EXPECT_TRUE(contains(said, "save not written: '" + save + "': changed by another program while this run "
                                   "used it\n")) << said.substr(said.size() > 3000 ? said.size() - 3000 : 0);
}

// A file another program puts where the card is while the card's last
// write waits in its fsync stays, and the run names the card as not
// written: where renameat2 exchanges, where it takes no flags, and where
// the card was removed during the game, so its write makes a new one. One
// removed during the write itself, with nothing put there, is made anew.
TEST(HeadlessSaves, AFilePutInPlaceOfASaveDuringItsWriteStays)
{
    const std::vector<u8> theirs(0x80000, 0x55);
    enum Removed { kNever, kBefore, kDuring };
    const struct { const char* fileSystem; Removed removed; bool put; } cases[] = {
        {"", kNever, true}, {"no-flags", kNever, true}, {"", kBefore, true}, {"", kDuring, false}};
    for (const auto& [fileSystem, removed, put] : cases) {
        SCOPED_TRACE(std::string(fileSystem) + " " + std::to_string(removed));
        TempDir dir;
        busySaves(dir);
        const std::string card = dir.file("saves/card.bup"), other = dir.file("other.bup");
        ASSERT_TRUE(saveFile(other, theirs.data(), 0x80000));
        const pid_t run = busyRun(dir, "log.txt", fileSystem, "FSYNC=card.bup.kest~", "1000000");
        ASSERT_TRUE(waitUntil([&] { return busyInLoop(dir); }));
        if (removed == kBefore)
            std::filesystem::remove(card);
        kill(run, SIGTERM);
        ASSERT_TRUE(held(dir, {run}));
        if (removed == kDuring)
            std::filesystem::remove(card);
        if (put)
            std::filesystem::rename(other, card);
        ASSERT_TRUE(saveFile(dir.file("go"), "", 0));
        ASSERT_TRUE(waitFor(run, std::chrono::seconds(20)));
        const std::string log = readText(dir.file("log.txt"));
        EXPECT_EQ(contains(log, "save not written: '" + card + "': changed by another program while this run used "
                                "it\n"), put) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
        EXPECT_EQ(readBytes(card).at(0), put ? 0x55 : 'K');
        expectNoTemporaries(dir, "saves");
    }
}

// Two runs start at once on an empty folder, each held as it makes the
// backup memory: one makes it and the other reads it as in use, with the
// game's other saves. Where their games change the saves as the other's
// do (the built-in BIOS formats the blank memory) both end well; where
// they change them otherwise, one writes the saves and the other names the
// memory as not written: on NFS (whose exclusive locks need a
// descriptor open for writing) where renameat2 takes no flags, so saves
// are made in place, and where a file opened again for writing refuses it
// too. None says "no locks".
TEST(HeadlessSaves, TwoRunsMakingOneSaveTogetherLoseNothingUnchanged)
{
    const struct { bool changes; const char* fileSystem; } cases[] = {
        {false, "nfs no-flags"}, {true, "nfs no-flags"}, {true, "no-flags read-only"}};
    for (const auto& [changes, fileSystem] : cases) {
        SCOPED_TRACE(std::string(fileSystem) + (changes ? " changes" : ""));
        TempDir dir;
        busySaves(dir, true, changes ? KEST_PROGRAMS_DIR "/sh2/save_busy.bin" : "");
        // Formatting, the maker writes a field on: the other ends long after.
        const char* fields = changes ? "20" : "240";
        const pid_t first = busyRun(dir, "a.txt", fileSystem, "FSYNC=sat_primary_01.bup.kest~", fields);
        ASSERT_TRUE(held(dir, {first}));
        // The second's game formats the memory the first's writes otherwise.
        if (changes)
            busySaves(dir, false, "");
        const pid_t runs[] = {first, busyRun(dir, "b.txt", fileSystem, "FSYNC=sat_primary_01.bup.kest~", fields)};
        ASSERT_TRUE(held(dir, {runs[1]}));
        ASSERT_TRUE(saveFile(dir.file("go"), "", 0));
        int statuses[2] = {-1, -1};
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(waitFor(runs[i], std::chrono::seconds(60), &statuses[i]));
        const std::string both = readText(dir.file("a.txt")) + readText(dir.file("b.txt"));
        EXPECT_EQ(occurrences(both, "in use by another running Kest; this run leaves it as it is"), 3u) << both;
        EXPECT_EQ((statuses[0] == 0) + (statuses[1] == 0), changes ? 1 : 2) << both;
        EXPECT_EQ(occurrences(both, "save not written: '" + dir.file("saves/sat_primary_01.bup") + "'"),
                  changes ? 1u : 0u) << both;
        EXPECT_FALSE(contains(both, "no locks"));
    }
}

// Run as another user than the files' owner (nobody, as root). Saves of
// another user, mode 0644, in a folder any user may write are read and
// never written; only what the game changed is named, and a lock NFS
// refuses to a descriptor open only for reading is no "no locks". A fresh
// data folder that cannot take saves/ says why its saves are lost.
TEST(HeadlessSaves, WhatThisUserMayNotWriteIsReadAndOnlyChangesAreLost)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user to run as needs root";
    enum class Kind { kTheirs, kTheirsOnNfs, kNoFolder };
    for (const Kind kind : {Kind::kTheirs, Kind::kTheirsOnNfs, Kind::kNoFolder}) {
        SCOPED_TRACE(static_cast<int>(kind));
        TempDir dir;
        const std::string memory = dir.file("saves/sat_primary_01.bup"), card = dir.file("saves/card.bup");
        busySaves(dir, kind != Kind::kNoFolder);
        ASSERT_TRUE(saveFile(memory, std::vector<u8>(0x8000).data(), 0x8000));
        if (kind == Kind::kNoFolder)
            std::filesystem::remove_all(dir.path() / "saves");
        else
            std::filesystem::permissions(dir.path() / "saves", std::filesystem::perms::all);
        const ino_t inodes[] = {inode(memory), inode(card)};
        int status = -1;
        ASSERT_TRUE(waitFor(busyRun(dir, "log.txt", kind == Kind::kTheirsOnNfs ? "nfs" : "", "FSYNC=", "20", true),
                            std::chrono::seconds(60), &status));
        const std::string said = readText(dir.file("log.txt"));
        EXPECT_EQ(status, 1 << 8) << said;
        EXPECT_FALSE(contains(said, "no locks")) << said;
        const std::vector<std::string> lost = kind == Kind::kNoFolder ? std::vector{memory} : std::vector{memory, card};
        for (const std::string& save : lost)
            EXPECT_TRUE(contains(said, "save not written: '" + save + "': " +
                                           (kind == Kind::kNoFolder ? "its folder cannot be made: Permission denied\n"
                                                                    : "the file is read-only\n"))) << said;
        EXPECT_TRUE(kind == Kind::kNoFolder || (inode(memory) == inodes[0] && inode(card) == inodes[1]));
    }
}

// Without rename flags a save is made in place, short until its maker has
// locked and written it. A run that loses the race to make it then finds it
// short and free, and must take it as the maker's: in use, with the game's
// other saves, which the maker then takes whole.
TEST(HeadlessSaves, ASaveMadeInPlaceIsItsMakersWhileShort)
{
    TempDir dir;
    busySaves(dir);
    const pid_t late = busyRun(dir, "late.txt", "no-flags", "FSYNC=sat_primary_01.bup.kest~");
    ASSERT_TRUE(held(dir, {late}));
    const pid_t maker = busyRun(dir, "maker.txt", "no-flags", "FLOCK=saves/sat_primary_01.bup");
    ASSERT_TRUE(held(dir, {maker}) && saveFile(dir.file("go"), "", 0));
    int status = -1;
    ASSERT_TRUE(waitFor(late, std::chrono::seconds(60), &status));
    const std::string said = readText(dir.file("late.txt"));
    EXPECT_TRUE(contains(said, "save '" + dir.file("saves/sat_primary_01.bup") + "' is in use")) << said;
    ASSERT_TRUE(saveFile(dir.file("go.flock"), "", 0) && waitFor(maker, std::chrono::seconds(60), &status));
    EXPECT_EQ(status, 0) << readText(dir.file("maker.txt"));
}

// An output where the log goes (its pipe, or the file the shell sends it
// to) is refused before the run with status 2, as an input is; the null
// device may take both. A link to nothing is refused, not replaced.
TEST(HeadlessOutputs, TheLogsStreamAndLinksToNothingAreNoOutputs)
{
    Workspace w;
    const std::string log = w.dir.file("run.log");
    for (const auto& [output, streams] : {std::pair<std::string, std::string>{"--wav /dev/stdout", "2>&1"},
                                          {"--png " + log, "> " + log + " 2>&1"}}) {
        const HeadlessRun run = runHeadless(w.data() + output + " " + w.disc, "", streams);
        const std::string said = run.output.empty() ? readText(log) : run.output;
        EXPECT_EQ(WEXITSTATUS(run.status), 2) << output;
        EXPECT_TRUE(said.starts_with("kest-headless: will not write --")) << said;
        EXPECT_TRUE(said.ends_with("': the log goes there\n")) << said;
    }
    EXPECT_EQ(WEXITSTATUS(runHeadless(w.data() + "--png /dev/null " + w.disc, "", "> /dev/null 2>&1").status), 0);

    const std::string link = w.dir.file("dangling.png");
    std::filesystem::create_symlink(w.dir.file("gone/picture.png"), link);
    const Outcome run = headless(w.data() + "--png " + link + " " + w.disc);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_TRUE(contains(run.output, "'" + link + "': a link to a file or folder that does not exist\n")) << run.output;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
}

// Two outputs that are one file are refused before the run; a device may
// take several, and a longest name is still written.
TEST(HeadlessOutputs, TwoOutputsToOneFileAreRefused)
{
    Workspace w;
    const std::string out = w.dir.file("out.bin");
    const std::string inFolder = "cd " + w.dir.path().string() + "; ";
    const Outcome run = headless(w.data() + "--png out.bin --wav " + w.dir.file("./out.bin") + " " + w.disc, inFolder);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.output.starts_with("kest-headless: will not write ")) << run.output;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(headless(w.data() + "--vdp2 /dev/null --dump 0:4:/dev/null " + w.disc).status, 0);
    // A name as long as a folder allows still gets a temporary that fits.
    const std::string longName = w.dir.file(std::string(255, 'v'));
    EXPECT_EQ(headless(w.data() + "--vdp2 " + longName + " " + w.disc).status, 0);
    EXPECT_TRUE(readText(longName).starts_with("TVMD: "));
}

// Names of one file, however spelt, are one output: relative or absolute,
// with "." and "..", through a linked folder, a link or a hard link, whether
// the file exists yet or not. Devices are written in place and may repeat.
TEST(HeadlessOutputs, OneFileUnderAnyNameIsOneOutput)
{
    TempDir dir;
    struct Cwd {
        std::filesystem::path was = std::filesystem::current_path();
        ~Cwd() { std::filesystem::current_path(was); }
    } cwd;
    std::filesystem::current_path(dir.path());
    std::filesystem::create_directory("sub");
    std::filesystem::create_directory_symlink("sub", "linked");
    saveFile("old", "x", 1);
    std::filesystem::create_symlink("old", "link");
    std::filesystem::create_hard_link("old", "hard");
    const std::string here = dir.path().string();
    const struct {
        std::string a, b;
        bool one;
    } cases[] = {
        {"Y", "./Y", true},          {"Z", here + "/Z", true},     {"sub/../Y", here + "//Y", true},
        {"sub/Y", "linked/Y", true}, {"old", "link", true},         {"hard", here + "/./old", true},
        {"Y", "Z", false},           {"sub/Y", "Y", false},         {"/dev/null", "/dev/null", false},
    };
    for (const auto& c : cases) {
        const std::string why = sharedOutput({{"--png", c.a}, {"--vdp2", "unrelated"}, {"--wav", c.b}});
        EXPECT_EQ(why.empty(), !c.one) << c.a << " and " << c.b << ": " << why;
    }
}

// Every number on the command line is whole, unsigned and in range, or the
// run ends before it starts with status 2.
TEST(HeadlessArguments, MalformedNumbersAreRefused)
{
    const std::string cases[] = {"--fields 99999999999999999999", "--fields -1", "--fields 0x",
                                 "--dump 0xFFFFFFFF:2:f", "--dump 0:-4:f", "--press 1-0x:a"};
    for (const std::string& arguments : cases) {
        const HeadlessRun run = runHeadless(arguments);
        EXPECT_EQ(WEXITSTATUS(run.status), 2) << arguments;
        EXPECT_TRUE(run.output.starts_with("kest-headless: bad ")) << arguments << "\n" << run.output;
    }
}

// A log that cannot be written fails the run.
TEST(HeadlessLog, ALogThatCannotBeWrittenFailsTheRun)
{
    Workspace w;
    const HeadlessRun run = runHeadless(w.data() + "--verbose " + w.disc, "", "2>&1 >/dev/full");
    EXPECT_EQ(run.status, 1 << 8);
    EXPECT_EQ(run.output, "kest-headless: cannot write the log: No space left on device\n");
}

// A disc kest.ini names that is no disc image fails as a missing one does.
TEST(HeadlessBoot, ADiscKestIniNamesThatIsNoDiscFails)
{
    Workspace w;
    for (const std::string& setting : {w.dir.path().string(), w.dir.file("kest.ini")}) {
        const std::string ini = "[Path]\r\nsat_cd = " + setting + "\r\n[General]\r\nkest_bios = 1\r\ncartridge = 1\r\n";
        saveFile(w.dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size()));
        const Outcome run = headless(w.data());
        EXPECT_EQ(run.status, 3) << setting;
        EXPECT_TRUE(contains(run.output, "kest-headless: cannot open disc '" + setting + "': ")) << run.output;
    }
}

// A guest that seeks into the lead-in and plays from there every third
// field, with the CD block's read-ahead thread and the emulation pinned to
// one core: the lead-in's reads fail at once, which once left the two
// threads passing the lock back and forth for good (the CPU limit ends
// that). Two runs give the same log.
TEST(HeadlessGuest, LeadInPlaysOnOneCoreEndAndRepeat)
{
    const std::string pin = "taskset -cp " + std::to_string(sched_getcpu()) + " $$ >/dev/null && ulimit -t 60; ";
    Workspace w[2];  // each its own, so the first run's saves do not meet the second
    std::string logs[2];
    for (int i = 0; i < 2; ++i) {
        const std::string folder = w[i].dir.path().string();
        const Outcome run = headless("--data " + folder + " --fields 2400 " + KEST_LEAD_IN_DISC, pin);
        ASSERT_EQ(run.raw, 0) << run.output.substr(0, 4000);
        logs[i] = run.output;
        for (std::size_t at = logs[i].find(folder); at != std::string::npos; at = logs[i].find(folder))
            logs[i].replace(at, folder.size(), "DATA");
    }
    EXPECT_GE(occurrences(logs[0], "CdSeek [FAD: 10]"), 790u) << logs[0].substr(0, 4000);
    EXPECT_TRUE(logs[1] == logs[0]) << "the logs differ";
}
