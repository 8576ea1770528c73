// A real window on a virtual X server: the program started from the
// command line with the boot disc, a screenshot of it, and keys typed
// with xdotool reaching the emulated pad. The test starts its own Xvfb.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QDrag>
#include <QDropEvent>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/base/helpers.h"
#include "core/base/ini.h"
#include "core/base/save_file.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/process.h"
#include "support/lsan_suppressions.h"
#include "ui/app/dialogs.h"
#include "platform/canvas_view.h"
#include "ui/app/main_frame.h"
#include "ui/debugger/dasm_ctrl.h"
#include "ui/debugger/dasm_dlg.h"

namespace {

const std::string kBootDisc = KEST_BINARY_DIR "/testdata/boot.iso";
const std::string kDemoDisc = KEST_BINARY_DIR "/testdata/demo.iso";
const std::string kVolumeDisc = KEST_BINARY_DIR "/testdata/volume.iso";
std::string display;

QImage screenshot(const std::string& png)
{
    runCommand("xwd -root -silent -display " + display + " | convert xwd:- " + png);
    return QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_RGB32);
}

struct Census {
    int yellow = 0;      // status text
    int background = 0;  // the picture shown while no game runs
};

Census count(const QImage& image)
{
    Census c;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) < 80)
                ++c.yellow;
            else if (qBlue(p) > 40 && qBlue(p) < 0x80 && qRed(p) < 0x40 && qBlue(p) > qRed(p) + 24 &&
                     qBlue(p) > qGreen(p) + 12)  // not the log's cyan text
                ++c.background;
        }
    }
    return c;
}

struct DemoCensus {
    int red = 0;      // the red polygon
    int blue = 0;     // NBG0's palette 0 cells
    int sprite = 0;   // the pad's magenta sprite
    long spriteX = 0;  // the sum of its dots' x
};

DemoCensus demoCount(const QImage& image)
{
    DemoCensus c;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 40 && qBlue(p) < 40) {
                ++c.red;
            } else if (qRed(p) > 200 && qGreen(p) < 40 && qBlue(p) > 200) {
                ++c.sprite;
                c.spriteX += x;
            } else if (qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) > 80) {
                ++c.blue;
            }
        }
    }
    return c;
}

std::string windowId()
{
    std::string window = runCommand("xdotool search --name '^Kest$' | head -1");
    while (!window.empty() && (window.back() == '\n' || window.back() == ' '))
        window.pop_back();
    return window;
}

// The visible windows titled "Kest" on a display, of one process or of all.
std::vector<std::string> kestWindows(const std::string& on, pid_t pid = 0)
{
    const std::string of = pid ? " --all --pid " + std::to_string(pid) : "";
    std::istringstream ids(runCommand("DISPLAY=" + on + " xdotool search --onlyvisible" + of + " --name '^Kest$'"));
    std::vector<std::string> found;
    for (std::string id; std::getline(ids, id);)
        found.push_back(id);
    return found;
}

// Waits up to 20 seconds for ready. A box of the program's on the display
// on (a second window titled "Kest"), which it would wait on for an answer,
// fails the test at once; no display, no look.
bool waitUnboxed(pid_t kest, const std::function<bool()>& ready, const std::string& on = display)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // A look runs xdotool, which a loaded machine's program would feel.
    for (int round = 0; !ready(); ++round) {
        if (!on.empty() && round % 10 == 9 && kestWindows(on, kest).size() > 1) {
            ADD_FAILURE() << "a box the test did not expect came up";
            return false;
        }
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// How the program ended; one still running after 20 seconds, or showing a
// box (but the one up when boxUp is set, which the end closes), is killed.
int endStatus(pid_t kest, bool boxUp = false)
{
    int status = -1;
    if (!waitUnboxed(kest, [&] { return waitpid(kest, &status, WNOHANG) == kest; }, boxUp ? "" : display)) {
        kill(kest, SIGKILL);
        waitFor(kest, std::chrono::seconds(5));
        ADD_FAILURE() << "the program went on";
    }
    return status;
}

// Language > the entry after the one in force, from the keyboard.
void chooseTheNextLanguage(const std::string& on, pid_t kest);

// A box over window: another window titled "Kest". Empty when none came
// within 10 seconds.
std::string boxOver(const std::string& window)
{
    std::string box;
    for (int i = 0; i < 100 && box.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const std::string& id : kestWindows(display))
            box = id != window ? id : box;
    }
    return box;
}

// Ctrl+X is File > Exit: the program must end with status expected (0 by
// default). With answerABox, a box comes up first, before the window goes,
// and Return answers it once meanwhile has run.
void exitWithCtrlX(pid_t kest, bool answerABox = false, int expected = 0, const std::function<void()>& meanwhile = {})
{
    const std::string window = windowId();
    ASSERT_FALSE(window.empty());
    runCommand("xdotool windowfocus --sync " + window + " key ctrl+x");
    if (answerABox) {
        const std::string box = boxOver(window);
        EXPECT_FALSE(box.empty()) << "no box came up before the window went";
        if (meanwhile)
            meanwhile();
        if (!box.empty())
            runCommand("xdotool windowfocus --sync " + box + " key Return");
        // Gone before the end is awaited: a box after it is one not expected.
        EXPECT_TRUE(QTest::qWaitFor([&] { return std::ranges::count(kestWindows(display), box) == 0; }, 20000));
    }
    const int status = endStatus(kest);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected) << status;
}

// The desktop program in a folder of its own, where it keeps its settings
// and saves: windows of tests that run at once would otherwise share them.
template <class Dir>
std::string programIn(const Dir& folder)
{
    const std::string program = folder.file("kest");
    std::filesystem::create_directories(folder.path());
    std::error_code error;
    std::filesystem::create_hard_link(KEST_BINARY_DIR "/ui/app/kest", program, error);
    if (error)
        std::filesystem::copy_file(KEST_BINARY_DIR "/ui/app/kest", program);
    return program;
}

// The desktop program on a disc given on its command line.
pid_t startProgram(const TempDir& folder, const std::string& disc)
{
    setenv("LSAN_OPTIONS", "suppressions=" KEST_SOURCE_DIR "/tests/ui/desktop.supp", 1);
    return spawn({programIn(folder), disc});
}

// Dialogs for a test that expects none: a box fails it at once, where a
// real one would wait for an answer that never comes.
class NoBoxes : public Dialogs {
public:
    void message(QWidget*, const QString& text) override
    {
        ADD_FAILURE() << "a box the test did not expect: " << text.toStdString();
    }
    int choose(QWidget* parent, const QString& text, const QStringList& answers) override
    {
        NoBoxes::message(parent, text);
        return static_cast<int>(answers.size()) - 1;
    }
    QString openFile(QWidget*, const QString&) override { return {}; }
    QString chooseDrive(QWidget*, const QStringList&) override { return {}; }
    void about(QWidget*, const QString&, const QString&, const QString&) override {}
};

// Screenshots every half second, for up to 30 seconds, until the census
// of one is ready; answers the last.
template <class Count, class Ready>
auto watch(const std::string& png, Count census, Ready ready)
{
    auto seen = census(QImage());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until && !ready(seen)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        seen = census(screenshot(png));
    }
    return seen;
}

}  // namespace

TEST(Window, OpensTheBootDiscFromTheCommandLineAndShowsItsPicture)
{
    TempDir data;
    const pid_t kest = startProgram(data, kBootDisc);
    ASSERT_GT(kest, 0);
    const std::string png = KEST_BINARY_DIR "/kest_window.png";
    const Census seen = watch(png, count, [](const Census& c) { return c.yellow > 200; });
    EXPECT_GT(seen.yellow, 200) << "no status line in " << png;
    EXPECT_LT(seen.background, 1000) << "the background picture still shows in " << png;

    exitWithCtrlX(kest);
}

// The demo disc the README names: its picture shows both video processors,
// and holding the key mapped to Right moves the pad's sprite to the right.
// Paused with Pause the picture stays, and a larger window shows it scaled
// anew.
TEST(Window, DemoDiscShowsItsPictureAndPadOneMovesTheSprite)
{
    TempDir data;
    const pid_t kest = startProgram(data, kDemoDisc);
    ASSERT_GT(kest, 0);
    const std::string png = KEST_BINARY_DIR "/kest_window_demo.png";
    const DemoCensus seen =
        watch(png, demoCount, [](const DemoCensus& c) { return c.red > 500 && c.sprite > 20; });
    EXPECT_GT(seen.red, 500) << "no red polygon in " << png;
    EXPECT_GT(seen.blue, 5000) << "no NBG0 cells in " << png;
    ASSERT_GT(seen.sprite, 20) << "no sprite in " << png;

    const std::string window = windowId();
    ASSERT_FALSE(window.empty());
    const std::string moved = KEST_BINARY_DIR "/kest_window_demo_moved.png";
    // Held until the sprite has gone right: a loaded machine runs the game slower.
    runCommand("xdotool windowfocus --sync " + window + " keydown d");
    watch(moved, demoCount, [&](const DemoCensus& c) {
        return c.sprite > 20 && c.spriteX / c.sprite > seen.spriteX / seen.sprite + 20;
    });
    runCommand("xdotool windowfocus --sync " + window + " keyup d");
    const DemoCensus after = demoCount(screenshot(moved));
    ASSERT_GT(after.sprite, 20) << moved;
    EXPECT_GT(after.spriteX / after.sprite, seen.spriteX / seen.sprite + 20) << png << " then " << moved;
    EXPECT_LT(after.sprite, seen.sprite * 3 / 2) << "the sprite leaves a trail in " << moved;

    runCommand("xdotool windowfocus --sync " + window + " key Pause sleep 0.2");
    runCommand("xdotool windowsize --sync " + window + " 900 680");
    const std::string larger = KEST_BINARY_DIR "/kest_window_demo_larger.png";
    const DemoCensus scaled = watch(larger, demoCount, [&](const DemoCensus& c) { return c.red > after.red * 6 / 5; });
    EXPECT_GT(scaled.red, after.red * 6 / 5) << moved << " then " << larger;
    exitWithCtrlX(kest);
}

// SIGTERM and SIGINT end the program as File > Exit does: status 0, and the
// backup cartridge the game changed (save_busy) written back (through a new
// file: a new time, and a new inode unless a second write brought the first
// back) on the way out. The program runs from a copy beside its own data
// folder, and moves there first, yet opens the disc by its path from where
// it started. So do Exit (0) while a dropped set opens, once the drop is
// over, and a SIGTERM sent as soon as caught, while it starts (-SIGTERM):
// then the game has changed nothing, and nothing is written.
TEST(Window, SignalsAndExitDuringADroppedOpenEndTheProgramAsFileExitDoes)
{
    for (const int signal : {SIGTERM, SIGINT, 0, -SIGTERM}) {
        TempDir data;
        const std::string program = data.file("kest"), output = data.file("output.txt"), set = data.file("big.zip");
        std::filesystem::copy_file(KEST_BINARY_DIR "/ui/app/kest", program);
        const std::string ini = "[Path]\r\nsat_bios = " KEST_PROGRAMS_DIR "/sh2/save_busy.bin\r\nsat_memcard = "
                                "saves/card.bup\r\nstv_bios = " KEST_BINARY_DIR "/testdata/arcade/stv_bios.bin\r\n"
                                "[General]\r\nkest_bios = 0\r\ncartridge = 7\r\n";
        ASSERT_TRUE(saveFile(data.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
        std::filesystem::create_directory(data.path() / "saves");
        std::vector<u8> card(0x400000, 0);
        card[0] = 0x42;
        const std::string cardPath = data.file("saves/card.bup");
        ASSERT_TRUE(saveFile(cardPath, card.data(), static_cast<u32>(card.size())));
        struct stat before, after;
        ASSERT_EQ(::stat(cardPath.c_str(), &before), 0);

        setenv("LSAN_OPTIONS", "suppressions=" KEST_SOURCE_DIR "/tests/ui/desktop.supp", 1);
        const pid_t kest = spawn({program, "testdata/boot.iso"}, KEST_BINARY_DIR, output);
        ASSERT_GT(kest, 0);
        const std::string png = KEST_BINARY_DIR "/kest_window_signal.png";
        const auto caught = [status = "/proc/" + std::to_string(kest) + "/status"] {
            const std::string text = readText(status) + "SigCgt: 0";
            return std::stoull(text.substr(text.find("SigCgt:") + 7), nullptr, 16) >> (SIGTERM - 1) & 1;
        };
        for (int i = 0; i < 20000 && signal < 0 && !caught(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(signal < 0 || watch(png, count, [](const Census& c) { return c.yellow > 200; }).yellow > 200)
            << png;
        // The battery's SMEM follows the game's first change of the card.
        const std::string battery = data.file("saves/sat_battery.sav");
        const auto changed = [&] { return readBytes(battery).size() > 20 && readBytes(battery)[20] == 0x2B; };
        ASSERT_TRUE(signal < 0 || QTest::qWaitFor(changed, 20000));
        if (signal != 0) {
            kill(kest, std::abs(signal));
        } else {  // dragged from a window of the test's own, as from a file manager
            ASSERT_EQ(std::system(("python3 " KEST_SOURCE_DIR "/tests/tools/make_hostile_zip.py set " +
                                   data.path().string() + " big 12 0x400000").c_str()), 0);  // all the cartridge holds
            const std::string window = windowId(), fds = "ls -l /proc/" + std::to_string(kest) + "/fd";
            QWidget source;
            source.setGeometry(0, 0, 100, 100);
            source.show();
            ASSERT_TRUE(QTest::qWaitFor([&] { return source.testAttribute(Qt::WA_Mapped); }));
            runCommand("xdotool mousemove --window " + std::to_string(source.winId()) + " 50 50 mousedown 1 " +
                       "sleep 0.3 mousemove --window " + window + " 400 300 sleep 0.2 mousemove_relative 5 5 " +
                       "sleep 0.3 mouseup 1 >/dev/null &");
            auto* drag = new QDrag(&source);
            drag->setMimeData(new QMimeData);
            drag->mimeData()->setUrls({QUrl::fromLocalFile(QString::fromStdString(set))});
            ASSERT_EQ(drag->exec(Qt::CopyAction), Qt::CopyAction);
            ASSERT_TRUE(QTest::qWaitFor([&] { return runCommand(fds).find(set) != std::string::npos; }, 20000));
            kill(kest, SIGSTOP);  // so Exit comes during the open
            runCommand("xdotool windowfocus --sync " + window + " key ctrl+x");
            kill(kest, SIGCONT);
        }
        int status = -1;
        if (!waitFor(kest, std::chrono::seconds(20), &status)) {
            kill(kest, SIGKILL);
            waitFor(kest, std::chrono::seconds(5));
            FAIL() << "the program went on after signal " << signal;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << signal << ": " << status;
        ASSERT_EQ(::stat(cardPath.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino != before.st_ino || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                      after.st_mtim.tv_nsec != before.st_mtim.tv_nsec,
                  signal >= 0)
            << "the cartridge's write on exit after signal " << signal;
        if (signal >= 0) {
            card[0] = 'K';
            card[1] = 'E';
        }
        EXPECT_EQ(readBytes(cardPath), card);
        EXPECT_TRUE(signal || readText(output).find("Opening big.zip stopped") != std::string::npos);
    }
}

namespace {

// The program started beside its own copy of kest.ini and the languages,
// Japanese chosen, then ended with File > Exit; the copy's text at the end.
std::string settingsAfterARun(const std::string& text, mode_t mode = 0644, bool asOtherUser = false,
                              std::string* said = nullptr)
{
    TempDir data;
    const std::string program = data.file("kest");
    std::filesystem::copy_file(KEST_BINARY_DIR "/ui/app/kest", program);
    const std::string ini = data.file("kest.ini");
    EXPECT_TRUE(saveFile(ini, text.data(), static_cast<u32>(text.size())));
    ::chmod(ini.c_str(), mode);
    std::filesystem::copy(KEST_SOURCE_DIR "/ui/app/lang", data.path() / "lang");
    std::vector<std::string> command = {program};
    std::string suppressions = KEST_SOURCE_DIR "/tests/ui/desktop.supp";
    // Root may write any file; a user whose permissions count, and who may
    // write the folder, meets only the file's mode. That user may not reach
    // the source tree (a clone in a private folder), so the leak checker's
    // list comes along.
    if (asOtherUser && ::geteuid() == 0) {
        suppressions = data.file("desktop.supp");
        std::filesystem::copy_file(KEST_SOURCE_DIR "/tests/ui/desktop.supp", suppressions);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(data.path()))
            EXPECT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
        EXPECT_EQ(::chown(data.path().c_str(), 65534, 65534), 0);
        command = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program};
    }
    setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
    TempDir outputs;
    const pid_t kest = spawn(command, data.path().string(), outputs.file("output.txt"));
    EXPECT_GT(kest, 0);
    // A file it cannot write brings a box.
    if (kest > 0) {
        chooseTheNextLanguage(display, kest);
        exitWithCtrlX(kest, mode == 0444);
    }
    if (said)
        *said = readText(outputs.file("output.txt"));
    return readText(ini);
}

}  // namespace

// kest.ini with CR, LF or CR LF line ends: the window reads every setting
// and section and writes all of them back with the language chosen, in its
// own layout.
TEST(Window, SettingsWithAnyLineEndAreWrittenBackWhole)
{
    const std::string lines[] = {"[Path]", "sat_cd = /games/a.cue", "sat_bios = bios/b.bin", "[Language]",
                                 "lang_code = en_US", "[General]", "kest_bios = 1"};
    for (const std::string ends : {"\r", "\n", "\r\n"}) {
        std::string text;
        for (const std::string& line : lines)
            text += line + ends;
        EXPECT_EQ(settingsAfterARun(text), "[Path]\r\nsat_cd = /games/a.cue\r\nsat_bios = bios/b.bin\r\n\r\n"
                                           "[Language]\r\nlang_code = ja_JP\r\n\r\n[General]\r\nkest_bios = 1\r\n")
            << (ends == "\r" ? "CR" : ends == "\n" ? "LF" : "CR LF");
    }
}

// A kest.ini of mode 0444 stays as it is at exit, and the program says so
// of the language chosen.
TEST(Window, AReadOnlySettingsFileIsLeftAndTheProgramSaysSo)
{
    if (::geteuid() == 0 && runCommand("command -v setpriv").empty())
        GTEST_SKIP() << "running as root without setpriv: no user to whom the file's mode applies";
    const std::string text = "[Language]\nlang_code = en_US\n[General]\nkest_bios = 1\n";
    std::string said;
    EXPECT_EQ(settingsAfterARun(text, 0444, true, &said), text);
    EXPECT_NE(said.find("Kest: the language choice was not saved: "), std::string::npos) << said;
    EXPECT_NE(said.find("kest.ini: Permission denied\n"), std::string::npos) << said;
}

// An arcade set of two hundred 48 MB names is refused at once, before a
// byte of it inflates, and SIGTERM with its box up ends the program with
// status 0.
TEST(Window, AHugeArcadeSetIsRefusedAtOnceAndSigtermStillEndsTheProgram)
{
    TempDir data;
    const std::string program = data.file("kest");
    std::filesystem::copy_file(KEST_BINARY_DIR "/ui/app/kest", program);
    const std::string ini = "[Path]\r\nstv_bios = " KEST_BINARY_DIR "/testdata/arcade/stv_bios.bin\r\n";
    ASSERT_TRUE(saveFile(data.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    ASSERT_EQ(std::system(("python3 " KEST_SOURCE_DIR "/tests/tools/make_hostile_zip.py set " +
                           data.path().string() + " slow 200 0x3000000")
                              .c_str()),
              0);

    setenv("LSAN_OPTIONS", "suppressions=" KEST_SOURCE_DIR "/tests/ui/desktop.supp", 1);
    const std::string output = data.file("output.txt");
    const pid_t kest = spawn({program, data.file("slow.zip")}, KEST_BINARY_DIR, output);
    ASSERT_GT(kest, 0);
    // The box, titled as the window is, comes up long before the set could inflate.
    const auto windows = [] { return runCommand("xdotool search --onlyvisible --name '^Kest$' | wc -l"); };
    for (int i = 0; i < 500 && windows() != "2\n"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(windows(), "2\n") << "no box";
    kill(kest, SIGTERM);
    int status = -1;
    if (!waitFor(kest, std::chrono::seconds(8), &status)) {
        kill(kest, SIGKILL);
        waitFor(kest, std::chrono::seconds(5));
        FAIL() << "the program went on after SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(readText(output).find("Data for slow asks for more than the cartridge holds"), std::string::npos)
        << readText(output);
}

// A disc that cannot start: the box says "see the log", and the log's own
// window, in front beside it, shows the error line in bright red.
TEST(Window, CannotStartBoxPointsToTheLogWindowThatExplainsIt)
{
    TempDir data;
    const pid_t kest = startProgram(data, data.file("missing.iso"));
    ASSERT_GT(kest, 0);
    const std::string png = KEST_BINARY_DIR "/kest_window_log.png";
    auto brightRed = [](const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                n += qRed(p) > 200 && qGreen(p) > 40 && qGreen(p) < 130 && qBlue(p) > 40 && qBlue(p) < 130;
            }
        }
        return n;
    };
    EXPECT_GT(watch(png, brightRed, [](int n) { return n > 100; }), 100) << "no error line in the log window in " << png;
    // The box comes up over it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_GT(brightRed(screenshot(png)), 100) << png;
    EXPECT_NE(runCommand("xdotool search --onlyvisible --name '^Kest log$'"), "") << png;
    kill(kest, SIGTERM);
    int status = -1;
    EXPECT_TRUE(waitFor(kest, std::chrono::seconds(20), &status));
}

// Without a display there is no window: a message that says what runs
// without one, and status 1 rather than Qt's abort.
TEST(Window, WithoutADisplayTheProgramSaysSoAndExitsOne)
{
    const std::string output = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " KEST_BINARY_DIR
                                          "/ui/app/kest 2>&1; echo status=$?");
    EXPECT_NE(output.find("no display found"), std::string::npos) << output;
    EXPECT_NE(output.find("./kest.sh headless"), std::string::npos) << output;
    EXPECT_NE(output.find("status=1\n"), std::string::npos) << output;
    const std::string unreachable = runCommand("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:4711 " KEST_BINARY_DIR
                                               "/ui/app/kest 2>&1; echo status=$?");
    EXPECT_NE(unreachable.find("no display found"), std::string::npos) << unreachable;
    EXPECT_NE(unreachable.find("status=1\n"), std::string::npos) << unreachable;
}

TEST(Window, KeyMappedToUpReachesPadOneAtTheNextPoll)
{
    TempDir data;
    NoBoxes dialogs;
    CMainFrame frame(data.path().string(), dialogs);
    ASSERT_TRUE(frame.create());
    frame.show();
    // No game yet: the background picture fills the window.
    for (int i = 0; i < 50; ++i) {
        QApplication::processEvents();
        frame.update();
    }
    EXPECT_GT(count(screenshot(KEST_BINARY_DIR "/kest_window_idle.png")).background, 200000);
    frame.openFile(QString::fromStdString(kBootDisc), 0);
    ASSERT_TRUE(frame.opened());
    const auto pad = frame.emulator().getSystem().smpc().getPort(0).peripheral();
    ASSERT_NE(pad, nullptr);
    const std::string window = std::to_string(frame.winId());

    const auto typeAndWait = [&](const char* action, bool pressed) {
        runCommand("xdotool windowfocus --sync " + window + " " + action + " w");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        // The window's own key table sees the key as soon as it arrives.
        while (((hostPadState[0] & 0x10) == 0) != pressed && std::chrono::steady_clock::now() < until) {
            QApplication::processEvents();
            frame.update();
        }
        return ((hostPadState[0] & 0x10) == 0) == pressed;
    };
    for (int i = 0; i < 3; ++i)
        frame.update();
    EXPECT_EQ(pad->getData()[0], 0xFF);
    ASSERT_TRUE(typeAndWait("keydown", true));
    ASSERT_TRUE(frame.update());
    EXPECT_EQ(pad->getData()[0], 0xEF);  // Up, active low
    ASSERT_TRUE(typeAndWait("keyup", false));
    ASSERT_TRUE(frame.update());
    EXPECT_EQ(pad->getData()[0], 0xFF);
}

// File > Close, then another disc: it starts as it does in a fresh
// window, nothing of the first game left in the machine.
TEST(Window, ASecondDiscAfterCloseShowsWhatItShowsFirst)
{
    constexpr int kFields = 90;
    const auto picture = [](const std::string& before, const std::string& png) {
        TempDir data;
        NoBoxes dialogs;
        CMainFrame frame(data.path().string(), dialogs);
        EXPECT_TRUE(frame.create());
        frame.show();
        runCommand("xdotool windowfocus --sync " + std::to_string(frame.winId()));
        const auto run = [&](int fields) {
            const u32 until = frame.emulator().getSystem().frameCounter() + static_cast<u32>(fields);
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (frame.emulator().getSystem().frameCounter() < until && std::chrono::steady_clock::now() < limit) {
                QApplication::processEvents();
                frame.update();
            }
        };
        if (!before.empty()) {
            frame.openFile(QString::fromStdString(before), 0);
            run(kFields);
            frame.command(CMainFrame::kFileClose, Qt::NoModifier);
        }
        frame.openFile(QString::fromStdString(kDemoDisc), 0);
        EXPECT_TRUE(frame.opened());
        run(kFields);
        EXPECT_GT(demoCount(screenshot(png)).red, 500) << "no demo picture in " << png;
        const DisplaySize size = frame.emulator().getSystem().getDisplaySize();
        std::vector<u32> shown;
        for (u32 y = 0; y < size.height; ++y) {
            const u32* row = frame.view()->pixels() + y * frame.view()->pitch();
            shown.insert(shown.end(), row, row + size.width);
        }
        return shown;
    };
    const std::vector<u32> fresh = picture("", KEST_BINARY_DIR "/kest_window_second_fresh.png");
    const std::vector<u32> after = picture(KEST_BINARY_DIR "/testdata/volume.iso", KEST_BINARY_DIR "/kest_window_second.png");
    ASSERT_FALSE(fresh.empty());
    EXPECT_TRUE(after == fresh) << "see kest_window_second.png and kest_window_second_fresh.png";
}

TEST(Window, AttachedMouseFollowsTheHostMousePastTheWindowsEdge)
{
    TempDir data;
    language::writeDefaultSettings(data.file("kest.ini"));
    INI(data.file("kest.ini"), false).findSection("General").findKey("direct_1").value = "4";  // the mouse
    NoBoxes dialogs;
    CMainFrame frame(data.path().string(), dialogs);
    ASSERT_TRUE(frame.create());
    frame.show();
    runCommand("xdotool windowfocus --sync " + std::to_string(frame.winId()));
    frame.openFile(QString::fromStdString(kBootDisc), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!frame.pointerCaptured() && std::chrono::steady_clock::now() < until)
        QApplication::processEvents();  // the activation arrives from the server
    ASSERT_TRUE(frame.pointerCaptured());
    // Further right than the screen reaches from the picture's centre, a
    // step at a time: the pointer goes back to the centre after each.
    s64 x = 0, y = 0;
    for (int step = 1; step <= 13; ++step) {
        if (step <= 12)
            runCommand("xdotool mousemove_relative -- 100 0");
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(step <= 12 ? 300 : 5000);
        while (x < 100 * std::min(step, 12) && std::chrono::steady_clock::now() < limit) {
            QApplication::processEvents();
            const CDInput8::MouseState state = frame.input().readState();
            x += state.x;
            y += state.y;
        }
    }
    EXPECT_EQ(x, 1200);
    EXPECT_EQ(y, 0);
}

namespace {

// Boxes answered at once, their texts kept; with shown set, a box is
// really up, modal, for a moment.
class QuietDialogs : public NoBoxes {
public:
    QStringList messages;
    bool shown = false;
    std::function<void()> onMessage;
    void message(QWidget* parent, const QString& text) override
    {
        messages << text;
        if (onMessage)
            onMessage();
        if (!shown)
            return;
        QDialog box(parent);
        QTimer::singleShot(300, &box, &QDialog::accept);
        box.exec();
    }
};

// Runs the window's loop until ready answers true, for up to 20 seconds.
template <class Ready>
bool pumpUntil(CMainFrame& frame, Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ready() && std::chrono::steady_clock::now() < until) {
        QApplication::processEvents();
        frame.update();
    }
    return ready();
}

void xdo(const std::string& arguments)
{
    runCommand("xdotool " + arguments);
}

// Where the menu bar shows the title of that menu, on the screen.
std::string menuTitleAt(CMainFrame& frame, int menu)
{
    const QRect box = frame.menuBar()->actionGeometry(frame.topMenu(menu)->menuAction());
    const QPoint at = frame.menuBar()->mapToGlobal(box.center());
    return std::to_string(at.x()) + " " + std::to_string(at.y());
}

bool held(int byte, int bit)
{
    return ((hostPadState[byte] >> bit) & 1) == 0;
}

// A window of its own, in front, with the boot disc running.
struct RunningWindow {
    TempDir data;
    QuietDialogs dialogs;
    CMainFrame frame{data.path().string(), dialogs};
    std::string id;

    bool start(const std::string& disc)
    {
        if (!frame.create())
            return false;
        frame.show();
        id = std::to_string(frame.winId());
        xdo("windowfocus --sync " + id);
        if (!disc.empty())
            frame.openFile(QString::fromStdString(disc), 0);
        return pumpUntil(frame, [&] { return frame.isActiveWindow(); });
    }
};

}  // namespace

// A key let go while a menu or another window has the keyboard is let go
// for the game too; once a menu closes, even by Escape, the next letter is
// the game's, not a menu's, and the log window never takes the keyboard.
TEST(Window, HeldKeysAreLetGoWhenTheKeyboardGoesAndComeBackAfterAMenu)
{
    RunningWindow w;
    ASSERT_TRUE(w.start(kDemoDisc));
    CMainFrame& frame = w.frame;
    const auto pad = frame.emulator().getSystem().smpc().getPort(0).peripheral();
    ASSERT_NE(pad, nullptr);
    const auto padHolds = [&](int bit) {
        frame.update();
        return ((pad->getData()[0] >> bit) & 1) == 0;
    };

    xdo("keydown a");
    ASSERT_TRUE(pumpUntil(frame, [] { return held(0, 6); }));
    EXPECT_TRUE(padHolds(6));
    xdo("mousemove " + menuTitleAt(frame, 0) + " click 1");
    ASSERT_TRUE(pumpUntil(frame, [] { return QApplication::activePopupWidget() != nullptr; }));
    xdo("keyup a");
    xdo("key Escape");
    ASSERT_TRUE(pumpUntil(frame, [] { return QApplication::activePopupWidget() == nullptr; }));
    EXPECT_FALSE(held(0, 6)) << "Left still held after the menu";
    EXPECT_FALSE(padHolds(6)) << "the pad still holds Left";

    xdo("keydown h");
    EXPECT_TRUE(pumpUntil(frame, [] { return held(0, 3) || QApplication::activePopupWidget(); }));
    EXPECT_TRUE(held(0, 3)) << "H did not reach the game";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "H opened a menu";
    xdo("keyup h");
    EXPECT_TRUE(pumpUntil(frame, [] { return !held(0, 3); }));

    // Another window in front: the key goes up there.
    xdo("keydown d");
    ASSERT_TRUE(pumpUntil(frame, [] { return held(0, 7); }));
    xdo("windowfocus --sync " + std::to_string(frame.logWindow().winId()));
    ASSERT_TRUE(pumpUntil(frame, [&] { return !frame.isActiveWindow(); }));
    xdo("keyup d");
    xdo("windowfocus --sync " + w.id);
    ASSERT_TRUE(pumpUntil(frame, [&] { return frame.isActiveWindow() && frame.running(); }));
    EXPECT_FALSE(held(0, 7)) << "Right still held after another window had the keyboard";
    EXPECT_FALSE(padHolds(7)) << "the pad still holds Right";

    // Closed, the log window comes back from Tools > Log; neither that nor
    // a flood of lines into it takes the keyboard from the game.
    frame.logWindow().close();
    xdo("mousemove " + menuTitleAt(frame, 3) + " click 1");
    ASSERT_TRUE(pumpUntil(frame, [&] { return frame.topMenu(3)->isVisible(); }));
    xdo("key l");
    ASSERT_TRUE(pumpUntil(frame, [&] { return frame.logWindow().isVisible() && !frame.topMenu(3)->isVisible(); }));
    for (int i = 0; i < 2000; ++i)
        logSink().write(kLogError, "TEST", "line %d", i);
    const auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    pumpUntil(frame, [&] { return std::chrono::steady_clock::now() > settle; });
    EXPECT_TRUE(frame.isActiveWindow() && frame.running());
    xdo("keydown w");
    EXPECT_TRUE(pumpUntil(frame, [] { return held(0, 4); })) << "W did not reach the game";
    xdo("keyup w");

    // The picture alone loses the keyboard, to another widget of the same
    // window: no menu opens and the window stays active.
    xdo("keydown s");
    ASSERT_TRUE(pumpUntil(frame, [] { return held(0, 5); }));
    QLineEdit other(&frame);
    other.show();
    other.setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(pumpUntil(frame, [&] { return other.hasFocus(); }));
    EXPECT_TRUE(frame.isActiveWindow());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_FALSE(held(0, 5)) << "Down still held after the picture lost the keyboard";
    EXPECT_FALSE(padHolds(5)) << "the pad still holds Down";
    xdo("keyup s");
}

// A disc cut short is refused with its reason, the game closed before it
// leaves no picture behind, and a file that is no disc says what opens.
TEST(Window, RefusedDiscsSayWhyAndLeaveNoPictureOfTheGameBefore)
{
    RunningWindow w;
    ASSERT_TRUE(w.start(kDemoDisc));
    CMainFrame& frame = w.frame;
    const u32 until = frame.emulator().getSystem().frameCounter() + 30;
    ASSERT_TRUE(pumpUntil(frame, [&] { return frame.emulator().getSystem().frameCounter() >= until; }));
    frame.command(CMainFrame::kFileClose, Qt::NoModifier);

    std::vector<u8> disc = readBytes(kDemoDisc);
    ASSERT_GT(disc.size(), 20u * 1024);
    disc.resize(20 * 1024);
    const std::string cut = w.data.file("cut.iso");
    ASSERT_TRUE(saveFile(cut, disc.data(), static_cast<u32>(disc.size())));
    frame.openFile(QString::fromStdString(cut), 0);
    EXPECT_FALSE(frame.opened());
    ASSERT_EQ(w.dialogs.messages.size(), 1);
    EXPECT_TRUE(w.dialogs.messages[0].startsWith(QString::fromStdString("Cannot start " + cut + ":\n\nKEST: Disc "
                                                                        "system area cannot be read [path: " + cut)))
        << w.dialogs.messages[0].toStdString();
    const std::string png = KEST_BINARY_DIR "/kest_window_refused.png";
    Census shown;
    pumpUntil(frame, [&] {
        shown = count(screenshot(png));
        return shown.background > 200000;
    });
    EXPECT_GT(shown.background, 200000) << "no background picture in " << png;
    EXPECT_LT(demoCount(screenshot(png)).red, 100) << "the closed game still shows in " << png;

    // The box over the window hands the keyboard back when it goes.
    const std::string notes = w.data.file("notes.txt");
    ASSERT_TRUE(saveFile(notes, "not a disc", 10));
    w.dialogs.shown = true;
    frame.openFile(QString::fromStdString(notes), 0);
    ASSERT_EQ(w.dialogs.messages.size(), 2);
    EXPECT_TRUE(w.dialogs.messages[1].endsWith(QStringLiteral("Kest opens disc images (cue, bin, mdf, img, iso, mds, "
                                                              "ccd), arcade ROM sets (zip) and CD drives")))
        << w.dialogs.messages[1].toStdString();
    EXPECT_TRUE(pumpUntil(frame, [&] { return frame.isActiveWindow(); })) << "the keyboard stayed with no window";

    // The next game starts on a black picture, not on the last one.
    frame.openFile(QString::fromStdString(kDemoDisc), 0);
    ASSERT_TRUE(frame.opened());
    const u32* pixels = frame.view()->pixels();
    u32 lit = 0;
    for (u32 y = 0; y < 224; ++y) {
        for (u32 x = 0; x < 320; ++x)
            lit += (pixels[y * frame.view()->pitch() + x] & 0xFFFFFF) != 0;
    }
    EXPECT_EQ(lit, 0u) << "the closed game's picture is still in the canvas";
}

namespace {

// The arcade test set's BIOS named in the window's kest.ini and its
// data.json beside it, the CRC of kestarc_dat.ic3 changed when damaged;
// answers that member's real CRC.
std::string setUpArcade(RunningWindow& w, bool damaged)
{
    INI(w.frame.settingsPath(), false).findSection("Path").findKey("stv_bios").value =
        KEST_BINARY_DIR "/testdata/arcade/stv_bios.bin";
    nlohmann::json database = nlohmann::json::parse(readText(KEST_BINARY_DIR "/testdata/arcade/data.json"));
    auto& crc = database["TITAN"]["kestarc"]["kestarc_dat.ic3"]["crc"];
    const std::string real = crc.get<std::string>();
    if (damaged)
        crc = "12345678";
    const std::string text = database.dump();
    EXPECT_TRUE(saveFile(w.data.file("data.json"), text.data(), static_cast<u32>(text.size())));
    return real;
}

}  // namespace

// A file that cannot start, dropped or opened over the running demo, is
// refused with a box and leaves the demo as it was: paused still when it
// was, then running on, its sprite moving. A zip that is no set says so
// before asking for the arcade BIOS; with the BIOS set up, a set the
// driver refuses is refused with the driver's reason and starts nothing.
TEST(Window, RefusedFilesLeaveTheDemoRunningAndSetsSayWhatTheDriverSays)
{
    RunningWindow w;
    ASSERT_TRUE(w.start(kDemoDisc));
    CMainFrame& frame = w.frame;
    CSystem& machine = frame.emulator().getSystem();
    const auto runFields = [&](u32 fields) {
        const u32 until = machine.frameCounter() + fields;
        return pumpUntil(frame, [&] { return machine.frameCounter() >= until; });
    };
    ASSERT_TRUE(runFields(30));

    const std::string notes = w.data.file("notes.txt"), zipped = w.data.file("demo.zip");
    ASSERT_TRUE(saveFile(notes, "not a disc", 10));
    ASSERT_EQ(std::system(("zip -q -j " + zipped + " " + kDemoDisc).c_str()), 0);
    const auto drop = [&](const std::string& file) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &event);
        QApplication::processEvents();  // the open, once the drop is over
    };
    const auto said = [&](const std::string& file, const std::string& ending) {
        const QString last = w.dialogs.messages.value(w.dialogs.messages.size() - 1);
        return last.startsWith(QString::fromStdString("Cannot start " + file + ":\n\n")) &&
               last.endsWith(QString::fromStdString(ending));
    };
    const std::string unknown = "not a known arcade set; a disc image opens unzipped";

    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
    ASSERT_EQ(debugBreak, 1);
    for (const auto& [file, ending] : {std::pair{notes, std::string("and CD drives")}, {zipped, unknown}}) {
        drop(file);
        EXPECT_TRUE(frame.opened()) << file;
        EXPECT_EQ(debugBreak, 1) << "no longer paused after " << file;
        EXPECT_TRUE(said(file, ending)) << w.dialogs.messages.join(QLatin1Char('|')).toStdString();
    }
    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);

    const std::string crc = setUpArcade(w, true);
    frame.openFile(QString::fromStdString(zipped), 0);
    EXPECT_TRUE(said(zipped, unknown));
    const std::string set = KEST_BINARY_DIR "/testdata/arcade/kestarc.zip";
    frame.openFile(QString::fromStdString(set), 0);
    EXPECT_TRUE(said(set, "kestarc_dat.ic3 of kestarc.zip: CRC check failed [F: kestarc_dat.ic3, CRC: " + crc +
                              ", expected: 12345678]"))
        << w.dialogs.messages.last().toStdString();
    EXPECT_EQ(w.dialogs.messages.size(), 4);
    EXPECT_EQ(machine.machineKind, kConsole);
    ASSERT_TRUE(frame.opened() && frame.running());

    ASSERT_TRUE(runFields(10));
    const std::string png = KEST_BINARY_DIR "/kest_window_refused_demo.png";
    const DemoCensus before = demoCount(screenshot(png));
    ASSERT_GT(before.sprite, 20) << png;
    xdo("keydown d");
    runFields(60);
    xdo("keyup d");
    runFields(5);
    const std::string moved = KEST_BINARY_DIR "/kest_window_refused_demo_moved.png";
    const DemoCensus after = demoCount(screenshot(moved));
    ASSERT_GT(after.sprite, 20) << moved;
    EXPECT_GT(after.spriteX / after.sprite, before.spriteX / before.sprite + 20) << png << " then " << moved;

    // While a set opens Close and Exit are answered, each ending the open at
    // once: nothing of the set starts and no box asks why. Each key waits in
    // the window system's queue until the open takes it.
    setUpArcade(w, false);
    const std::size_t boxes = w.dialogs.messages.size();
    xdo("key ctrl+c");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    frame.openFile(QString::fromStdString(set), 0);
    EXPECT_FALSE(frame.opened());
    EXPECT_EQ(frame.emulator().cartridge(), nullptr);
    EXPECT_FALSE(frame.quitRequested());
    xdo("key ctrl+x");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    frame.openFile(QString::fromStdString(set), 0);
    EXPECT_FALSE(frame.opened());
    EXPECT_TRUE(frame.quitRequested());
    drop(notes);  // nor does a file dropped after Exit open
    EXPECT_EQ(w.dialogs.messages.size(), boxes) << w.dialogs.messages.last().toStdString();
}

// A breakpoint clicked into the debugger's gutter stays when the debugger
// closes; when the game reaches it, the debugger comes back up at its line
// instead of the game standing still unseen. A pause brings nothing up.
// Closing the debugger lets a breakpoint's hold go, but not a pause's.
TEST(Window, ABreakpointThatStopsTheGameShowsTheDebuggerAtItsLine)
{
    RunningWindow w;
    ASSERT_TRUE(w.start(kDemoDisc));
    CMainFrame& frame = w.frame;
    CPU& cpu = *frame.emulator().getSystem().getCpu(0);
    const u32 until = frame.emulator().getSystem().frameCounter() + 30;
    ASSERT_TRUE(pumpUntil(frame, [&] { return frame.emulator().getSystem().frameCounter() >= until; }));
    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
    DasmDlg& debugger = *frame.debugger();
    ASSERT_TRUE(pumpUntil(frame, [] { return debugStopped == 0; }));
    EXPECT_FALSE(debugger.isVisible()) << "a pause brought the debugger up";
    frame.command(CMainFrame::kShowDebugger, Qt::NoModifier);
    ASSERT_TRUE(pumpUntil(frame, [&] { return debugger.isActiveWindow(); }));
    DasmCtrl& view = *debugger.disassembly();
    const u32 pc = cpu.getPC();
    const int y = view.lineHeight() * (view.lineOf(pc) + 1) + view.lineHeight() / 2;
    const QPoint gutter = view.mapToGlobal(QPoint(DasmCtrl::kGutter / 2, y));
    xdo("mousemove " + std::to_string(gutter.x()) + " " + std::to_string(gutter.y()) + " click 1");
    ASSERT_TRUE(pumpUntil(frame, [&] { return cpu.findBreakpoint(pc) != nullptr; }));
    debugger.close();
    xdo("windowfocus --sync " + w.id);
    ASSERT_TRUE(pumpUntil(frame, [&] { return frame.isActiveWindow(); }));
    EXPECT_EQ(debugBreak, 1) << "closing the debugger ended a pause";
    frame.command(CMainFrame::kDebugRun, Qt::NoModifier);
    ASSERT_TRUE(pumpUntil(frame, [&] { return debugger.isVisible(); })) << "the breakpoint stopped the game unseen";
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(cpu.getPC(), pc);
    EXPECT_GE(view.lineOf(pc), 0) << "the debugger is not at the breakpoint's line";
    debugger.close();
    EXPECT_EQ(debugBreak, 0) << "closing the debugger left the game held";

    // A pause once ended leaves a later step's hold the debugger's.
    cpu.removeBreakpoint(pc);
    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
    frame.command(CMainFrame::kDebugStepInto, Qt::NoModifier);
    frame.command(CMainFrame::kShowDebugger, Qt::NoModifier);
    ASSERT_TRUE(pumpUntil(frame, [&] { return debugBreak == 1 && debugger.isVisible(); }));
    debugger.close();
    EXPECT_EQ(debugBreak, 0) << "a step after an ended pause stays held";
}

// Said where a person sees it, whole: a path too long for its message loses
// its middle, not the reason after it, in the box refusing a disc (from the
// log line behind it) and in the status line, which fits the window; an
// image cut short, once its game reads past the end, in the log,
// once for the image; a language choice that cannot be saved at exit, in a
// box before the window goes.
TEST(Window, LongPathsKeepTheirReasonAndCutImagesAndUnsavedLanguagesAreSaid)
{
    RunningWindow w;
    std::filesystem::copy(KEST_SOURCE_DIR "/ui/app/lang", w.data.path() / "lang");
    ASSERT_TRUE(w.start(""));
    CMainFrame& frame = w.frame;
    std::filesystem::path folder = w.data.path();
    for (char letter = 'a'; folder.string().size() < 760; ++letter)
        folder /= std::string(100, letter);
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    const std::string cut = (folder / "cut.iso").string();
    ASSERT_TRUE(saveFile(cut, readBytes(kDemoDisc).data(), 20 * 1024));
    frame.openFile(QString::fromStdString(cut), 0);
    ASSERT_EQ(w.dialogs.messages.size(), 1);
    const std::string box = w.dialogs.messages[0].toStdString();
    EXPECT_TRUE(box.starts_with("Cannot start " + w.data.path().string())) << box;
    EXPECT_LT(box.find("/cut.iso:\n\nKEST: Disc system area cannot be read [path: " + w.data.path().string()), 200u);
    EXPECT_TRUE(box.ends_with("/cut.iso, FAD: 160]: a disc unreadable from its start cannot boot (an image cut short, "
                              "or a damaged disc)")) << box;

    // The volume disc's program plays 100 sectors from FAD 150; reset, again.
    const std::string short40 = w.data.file("short.iso");
    ASSERT_TRUE(saveFile(short40, readBytes(kVolumeDisc).data(), 40 * 2048));
    LogCapture log;
    frame.openFile(QString::fromStdString(short40), 0);
    const std::string warning = "Disc: Sector past the end of the image [FAD: 190, path: " + short40 + "]";
    EXPECT_TRUE(pumpUntil(frame, [&] { return log.contains(warning); })) << log.text();
    const std::string play = "CdPlay<BEGIN> [FAD: 150, fasnum: 100";
    frame.command(CMainFrame::kEmulationReset, Qt::NoModifier);
    ASSERT_TRUE(pumpUntil(frame, [&] { return log.text().find(play) != log.text().rfind(play); }));
    EXPECT_EQ(log.text().find(warning), log.text().rfind(warning)) << log.text();

    const std::string save = (folder / "gone" / std::string(100, 'z') / "card.bup").string();
    u8 data[16] = {};
    SaveFile file;
    ASSERT_EQ(file.load("KEST", save, data, sizeof data), SaveFile::State::kAbsent);
    ASSERT_FALSE(file.save(data, sizeof data));
    // On one line, within the window as it opens.
    ASSERT_TRUE(frame.update());
    const QString trouble = frame.view()->status().section(QLatin1Char('\n'), 1, 1);
    EXPECT_TRUE(trouble.startsWith(QStringLiteral("Save not written: /tmp"))) << trouble.toStdString();
    EXPECT_TRUE(trouble.endsWith(QStringLiteral("/card.bup: No such file or directory"))) << trouble.toStdString();
    EXPECT_LE(QFontMetrics(CanvasView::statusFont()).horizontalAdvance(trouble), frame.view()->width());
    std::filesystem::create_directories(std::filesystem::path(save).parent_path());
    ASSERT_TRUE(file.save(data, sizeof data));  // out of the status line again

    // Where kest.ini was, a link into a folder that is not there.
    frame.command(language::kFirstCommand + 1, Qt::NoModifier);
    std::filesystem::remove(frame.settingsPath());
    std::filesystem::create_symlink(w.data.file("gone/kest.ini"), frame.settingsPath());
    bool withTheWindow = false;
    w.dialogs.onMessage = [&] { withTheWindow = frame.isVisible(); };
    frame.close();
    EXPECT_EQ(w.dialogs.messages.last().toStdString(),
              "The language choice was not saved: " + frame.settingsPath() + ": No such file or directory");
    EXPECT_TRUE(withTheWindow);
}

pid_t startServer(std::string& name);

namespace {

// A folder inside a temporary one, where the program keeps its files.
struct Folder {
    std::filesystem::path where;
    const std::filesystem::path& path() const { return where; }
    std::string file(const std::string& name) const { return (where / name).string(); }
};

// The program, in English with the languages beside it, by default on
// save_busy: its backup memory written once, then its cartridge and memory
// in every field, so only an end writes them whole. The arcade test set
// opens too. Its folder's name is not UTF-8 (Latin-1 "kest-é"): the
// program finds its files there by the name's bytes.
struct BusySaves {
    TempDir temp;
    Folder data{temp.path() / "kest-\xE9"};
    std::string program = programIn(data);
    std::string memory = data.file("saves/sat_primary_01.bup"), card = data.file("saves/card.bup");

    explicit BusySaves(const std::string& ini = "[Path]\r\nsat_bios = " KEST_PROGRAMS_DIR "/sh2/save_busy.bin\r\n"
                                                "sat_memcard = saves/card.bup\r\nstv_bios = " KEST_BINARY_DIR
                                                "/testdata/arcade/stv_bios.bin\r\n[General]\r\nkest_bios = 0\r\n"
                                                "cartridge = 4\r\n")
    {
        std::filesystem::copy_file(KEST_BINARY_DIR "/testdata/arcade/data.json", data.file("data.json"));
        setenv("LSAN_OPTIONS", "suppressions=" KEST_SOURCE_DIR "/tests/ui/desktop.supp", 1);
        std::filesystem::copy(KEST_SOURCE_DIR "/ui/app/lang", data.path() / "lang");
        std::filesystem::create_directory(data.path() / "saves");
        const std::vector<u8> blank(0x80000, 0);
        EXPECT_TRUE(saveFile(card, blank.data(), static_cast<u32>(blank.size())));
        const std::string text = "[Language]\r\nlang_code = en_US\r\n" + ini;
        EXPECT_TRUE(saveFile(data.file("kest.ini"), text.data(), static_cast<u32>(text.size())));
    }
    // The game's first write has reached the memory's file.
    bool started() const { return readBytes(memory).size() > 1 && readBytes(memory)[0] == 0x4B; }
    // What only an end writes: the cartridge's "KE", the memory's second cell.
    bool savedAtTheEnd() const
    {
        const std::vector<u8> c = readBytes(card), m = readBytes(memory);
        return c.size() > 1 && c[0] == 'K' && c[1] == 'E' && m.size() > 1 && m[1] == 0x4B;
    }
    bool japanese() const { return readText(data.file("kest.ini")).find("lang_code = ja_JP") != std::string::npos; }
    void moveSaves(const char* from, const char* to) { std::filesystem::rename(data.path() / from, data.path() / to); }
};

void chooseTheNextLanguage(const std::string& on, pid_t kest)
{
    std::vector<std::string> windows;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(windows = kestWindows(on, kest)).empty(); }, 20000));
    runCommand("DISPLAY=" + on + " xdotool windowfocus --sync " + windows[0] +
               " sleep 0.3 key alt+f sleep 0.5 key l sleep 0.5 key Down sleep 0.3 key Return");
}

ino_t inode(const std::string& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace

// Ends the window did not choose: its display gone, and SIGTERM while a
// language chosen cannot be saved. Each writes the game's latest saves and
// the language, and none waits on a box; a save its game has not changed
// since its last write (the arcade game's EEPROM) is not written again, so
// its folder gone with the display loses nothing.
TEST(Window, EndsNotAskedForStillWriteTheSavesAndTheLanguage)
{
    // An arcade game too: the board's EEPROM, which the end writes, is still there.
    for (const std::string& game : {kBootDisc, std::string(KEST_BINARY_DIR "/testdata/arcade/kestarc.zip")}) {
        BusySaves f;
        std::string other;
        const pid_t server = startServer(other);
        ASSERT_GT(server, 0);
        const pid_t kest = spawn({"env", "DISPLAY=" + other, f.program, game}, "", f.data.file("output.txt"));
        const std::string eeprom = f.data.file("saves/stv_eeprom.sav");
        const bool arcade = game != kBootDisc;
        ASSERT_TRUE(waitUnboxed(
            kest, [&] { return arcade ? readBytes(eeprom).size() == 128 && readBytes(eeprom)[0] == 0xC3 : f.started(); },
            other));
        chooseTheNextLanguage(other, kest);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (arcade)
            f.moveSaves("saves", "away");
        kill(server, SIGTERM);
        waitFor(server, std::chrono::seconds(5));
        EXPECT_TRUE(WIFEXITED(endStatus(kest)));
        const std::string output = readText(f.data.file("output.txt"));
        // The status of exit(1) would hide the sanitizer's.
        EXPECT_EQ(output.find("runtime error"), std::string::npos);
        EXPECT_EQ(output.find("Kest: save not written"), std::string::npos) << output;
        EXPECT_TRUE((arcade || f.savedAtTheEnd()) && f.japanese());
    }
    // A line the program does not understand keeps the file as it is.
    BusySaves f("mine # kept\r\n");
    const pid_t kest = spawn({f.program}, "", f.data.file("output.txt"));
    chooseTheNextLanguage(display, kest);
    ASSERT_TRUE(QTest::qWaitFor([&] { return kestWindows(display, kest).size() == 1; }, 20000));
    kill(kest, SIGTERM);
    EXPECT_EQ(endStatus(kest), 0);
}

// A window started from a terminal, and a second window, then the driver,
// on its folder: they read its saves but never write them, and say so (a
// box at the window's start, a line at the driver's). Closing the terminal then ends the first as File > Exit does, its
// latest saves and its language written.
TEST(Window, ASecondKestLeavesTheSavesAloneAndAClosedTerminalWritesThem)
{
    BusySaves f;
    int terminal = -1;
    const pid_t first = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (first == 0) {
        ::execl(f.program.c_str(), f.program.c_str(), kBootDisc.c_str(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(first, 0);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    // Read as a terminal shows it, or the program's log would fill it.
    const auto shown = [&] {
        char bytes[4096];
        while (::read(terminal, bytes, sizeof bytes) > 0) {
        }
        return true;
    };
    ASSERT_TRUE(waitUnboxed(first, [&] { return shown() && f.started(); }));
    chooseTheNextLanguage(display, first);
    const pid_t second = spawn({f.program, kBootDisc}, "", f.data.file("second.txt"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown() && kestWindows(display, second).size() == 2; }, 20000));
    // From here on only the second, ended with its box up, or the driver could write them.
    kill(first, SIGSTOP);
    const ino_t memory = inode(f.memory), card = inode(f.card);
    // Held by its box, its game changed nothing: nothing is lost.
    kill(second, SIGTERM);
    EXPECT_EQ(endStatus(second, true), 0);
    // The driver's game changes them: each change is a loss, said, and fails the run.
    const std::string driver = runCommand(KEST_BINARY_DIR "/tools/kest-headless --fields 10 --data " +
                                          f.data.path().string() + " 2>&1 >/dev/null; echo status $?");
    EXPECT_NE(driver.find("save '" + f.memory + "' is in use by another running Kest"), std::string::npos) << driver;
    EXPECT_NE(driver.find("save not written: '" + f.card + "': in use by another running Kest\n"), std::string::npos)
        << driver;
    EXPECT_TRUE(driver.ends_with("status 1\n")) << driver;
    EXPECT_TRUE(inode(f.memory) == memory && inode(f.card) == card);

    kill(first, SIGCONT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown() && kestWindows(display, first).size() == 1; }, 20000));
    ::close(terminal);
    EXPECT_EQ(endStatus(first), 0);
    EXPECT_TRUE(f.savedAtTheEnd() && f.japanese());
}

// Under nohup, its log to a pipe whose reader has gone (kest | tee, tee
// ended): the hang-up and the failed writes end nothing, so the window takes
// a language after them, and SIGTERM then ends it as File > Exit does.
TEST(Window, UnderNohupAHangUpAndAClosedPipeLeaveTheWindowRunning)
{
    BusySaves f;
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    // Input from nowhere, or nohup says it ignores it.
    const pid_t kest = spawn({"sh", "-c", "exec nohup \"$0\" \"$1\" </dev/null", f.program, kBootDisc}, "",
                             "/dev/fd/" + std::to_string(ends[1]));
    ::close(ends[1]);
    ASSERT_TRUE(waitUnboxed(kest, [&] { return f.started(); }));
    kill(kest, SIGHUP);
    chooseTheNextLanguage(display, kest);
    ASSERT_TRUE(QTest::qWaitFor([&] { return kestWindows(display, kest).size() == 1; }, 20000));
    kill(kest, SIGTERM);
    EXPECT_EQ(endStatus(kest), 0);
    EXPECT_TRUE(f.savedAtTheEnd() && f.japanese());
}

// An end with the saves' folder gone. Exit asks before the window goes,
// with the game still loaded: Escape is Cancel, and the game goes on in
// its window; Try again, the default, writes the saves once the folder is
// back: status 0. A signal waits on nothing and says them on standard
// error only: status 1. The window chose no language: the one written
// meanwhile stays. The disc, in the program's folder whose name is not
// UTF-8, opens from the command line by its bytes, absolute or relative. On
// a file system that takes no locks a box says so at the open.
TEST(Window, ASaveNotWrittenIsSaidBeforeTheWindowGoesAndAFolderWithoutLocksAtTheOpen)
{
    for (const bool exit : {true, false}) {
        BusySaves f;
        std::filesystem::copy_file(kBootDisc, f.data.file("boot.iso"));
        const std::string disc = exit ? f.data.file("boot.iso") : "kest-\xE9/boot.iso";
        const pid_t kest = spawn({f.program, disc}, f.temp.path().string(), f.data.file("output.txt"));
        ASSERT_TRUE(waitUnboxed(kest, [&] { return f.started(); }));
        f.moveSaves("saves", "away");
        const std::string another = "[Language]\r\nlang_code = ja_JP\r\n";
        ASSERT_TRUE(saveFile(f.data.file("kest.ini"), another.data(), static_cast<u32>(another.size())));
        if (exit) {
            const std::string window = windowId();
            runCommand("xdotool windowfocus --sync " + window + " key ctrl+x");
            const std::string box = boxOver(window);
            ASSERT_FALSE(box.empty()) << "no box came up";
            runCommand("xdotool windowfocus --sync " + box + " key Escape");
            EXPECT_TRUE(QTest::qWaitFor([&] { return kestWindows(display, kest) == std::vector{window}; }, 20000));
            EXPECT_EQ(waitpid(kest, nullptr, WNOHANG), 0) << "Escape ended the program";
            exitWithCtrlX(kest, true, 0, [&] { f.moveSaves("away", "saves"); });
            EXPECT_TRUE(f.savedAtTheEnd());
        } else {
            kill(kest, SIGTERM);
            EXPECT_EQ(endStatus(kest), 1 << 8);
            EXPECT_NE(readText(f.data.file("output.txt")).find("Kest: save not written: '" + f.card + "': No such file"),
                      std::string::npos);
        }
        EXPECT_TRUE(f.japanese());
    }
    BusySaves f;
    const pid_t kest = spawn(withoutLocks({f.program, kBootDisc}), "", f.data.file("output.txt"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return kestWindows(display, kest).size() == 2; }, 20000));
    kill(kest, SIGTERM);
    EXPECT_EQ(endStatus(kest, true), 0);
    EXPECT_NE(readText(f.data.file("output.txt")).find(f.card + " is on a file system that takes no locks"),
              std::string::npos);
}

// Starts an Xvfb of the caller's own, its display named in name: the server
// takes a free display itself and writes its number down a pipe once it
// accepts connections, so tests started at once never share one. -1 when
// no server came up. It ends with the test's process, a crash too, and
// nothing of it holds the test's output open.
pid_t startServer(std::string& name)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    const pid_t server = spawn({"setpriv", "--pdeathsig", "TERM", "Xvfb", "-displayfd", std::to_string(ends[1]),
                                "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, "", "/dev/null", ends[1], true);
    ::close(ends[1]);
    // The number, or the end of the pipe when the server died.
    std::string number;
    pollfd ready = {ends[0], POLLIN, 0};
    char c = 0;
    while (server > 0 && ::poll(&ready, 1, 60000) > 0 && ::read(ends[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(ends[0]);
    if (c != '\n' || number.empty()) {
        if (server > 0) {
            kill(server, SIGTERM);
            waitFor(server, std::chrono::seconds(5));
        }
        return -1;
    }
    name = ":" + number;
    return server;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    const pid_t server = startServer(display);
    if (server <= 0) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 1;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(server, SIGTERM);
    waitFor(server, std::chrono::seconds(5));
    return result;
}
