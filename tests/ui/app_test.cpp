#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWindow>
#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "core/base/ini.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "core/base/save_file.h"
#include "platform/host_time.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "ui/app/dialogs.h"
#include "ui/app/kest_app.h"
#include "platform/canvas_view.h"
#include "ui/app/main_frame.h"

namespace {

class FakeDialogs : public Dialogs {
public:
    QStringList messages;
    QString nextFile;
    // Answers each choice box; without it, or asked without end, a box
    // fails the test and is answered as Escape would.
    std::function<int(const QString&)> answer;
    QStringList questions;
    QList<QStringList> offered;
    void message(QWidget*, const QString& text) override { messages << text; }
    int choose(QWidget*, const QString& text, const QStringList& answers) override
    {
        questions << text;
        offered << answers;
        if (answer && questions.size() < 10)
            return answer(text);
        ADD_FAILURE() << "a box the test did not expect: " << text.toStdString();
        return static_cast<int>(answers.size()) - 1;
    }
    QString openFile(QWidget*, const QString&) override { return nextFile; }
    QString chooseDrive(QWidget*, const QStringList& drives) override { return drives.value(0); }
    void about(QWidget*, const QString&, const QString&, const QString&) override {}
};

// While set, every lock fails as on a file system that takes none.
bool noLocks = false;

}  // namespace

extern "C" int flock(int fd, int operation)
{
    static const auto real = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "flock"));
    return noLocks ? (errno = ENOLCK, -1) : real(fd, operation);
}

namespace {

// Outputs that write what is done to them into one shared journal.
std::vector<std::string> journal;

template <typename Base>
class Recording : public Base {
public:
    explicit Recording(std::string name, bool initOk = true) : m_name(std::move(name)), m_initOk(initOk) {}
    bool init(void*) override { return m_initOk; }
    void start() override
    {
        journal.push_back(m_name + ".start");
        Base::start();
    }
    void stop() override
    {
        journal.push_back(m_name + ".stop");
        Base::stop();
    }
    bool update() override
    {
        journal.push_back(m_name + ".update");
        return Base::update();
    }

protected:
    std::string m_name;
    bool m_initOk;
};

class FakeGraphic : public Recording<CGraphic> {
public:
    using Recording::Recording;
    void setText(const std::string& text) override
    {
        journal.push_back("video.setText");
        CGraphic::setText(text);
    }
    void present() override { journal.push_back("video.present"); }
};

class FakeEmulator : public Recording<CEmuX> {
public:
    using Recording::Recording;
};

using FakeSound = Recording<CSound>;
using FakeInput = Recording<CInput>;

// The four outputs a window drives, all recording; the real emulator can
// stay in place of the fake one.
struct FakeOutputs {
    explicit FakeOutputs(bool soundStarts = true) : sound("sound", soundStarts) {}
    void install(CMainFrame& frame, bool realEmulator = false)
    {
        frame.setMedia(realEmulator ? static_cast<CEmuX*>(&frame.emulator()) : &emulator, &video, &sound, &input);
    }
    FakeEmulator emulator{"emu"};
    FakeGraphic video{"video"};
    FakeSound sound;
    FakeInput input{"input"};
};

// A data folder with the two language files the program ships.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.path() / "lang");
        for (const char* code : {"en_US", "ja_JP"})
            std::filesystem::copy_file(std::string(KEST_SOURCE_DIR "/ui/app/lang/") + code + ".ini",
                                       m_dir.path() / "lang" / (std::string(code) + ".ini"));
        debugBreak = 0;
        forgetLostSaves();
    }
    std::string folder() const { return m_dir.path().string(); }
    // The test BIOS that saves without end (save_busy.s) and a backup
    // cartridge: only an end writes what the game last saved.
    void useBusySaves()
    {
        std::filesystem::create_directory(m_dir.path() / "saves");
        std::ofstream(m_card, std::ios::binary) << std::string(0x80000, '\0');
        std::ofstream(m_dir.file("kest.ini"), std::ios::binary)
            << "[Path]\nsat_bios = " KEST_PROGRAMS_DIR "/sh2/save_busy.bin\nsat_memcard = saves/card.bup\n"
               "[General]\nkest_bios = 0\ncartridge = 4\n";
    }
    // Opens the boot disc and runs it on past the game's first save.
    bool play(CMainFrame& frame)
    {
        frame.openFile(QString::fromLatin1(KEST_BINARY_DIR "/testdata/boot.iso"), 0);
        for (int field = 0; field < 30; ++field)
            frame.update();
        return readBytes(m_memory).size() > 1 && readBytes(m_memory)[0] == 0x4B;
    }
    void moveSaves(bool away)
    {
        std::filesystem::rename(m_dir.path() / (away ? "saves" : "away"), m_dir.path() / (away ? "away" : "saves"));
    }

    TempDir m_dir;
    FakeDialogs m_dialogs;
    const std::string m_card = m_dir.file("saves/card.bup"), m_memory = m_dir.file("saves/sat_primary_01.bup");
};

void expectGameMenus(CMainFrame& frame, bool gameOpen)
{
    EXPECT_EQ(frame.action(CMainFrame::kFileOpen)->isEnabled(), !gameOpen);
    EXPECT_EQ(frame.action(CMainFrame::kFileBoot)->isEnabled(), !gameOpen);
    EXPECT_EQ(frame.action(CMainFrame::kFileClose)->isEnabled(), gameOpen);
    EXPECT_EQ(frame.action(CMainFrame::kEmulationPause)->isEnabled(), gameOpen);
    EXPECT_EQ(frame.action(CMainFrame::kEmulationReset)->isEnabled(), gameOpen);
    EXPECT_FALSE(frame.topMenu(2)->isEnabled());
}

}  // namespace

TEST_F(AppTest, OneTickRunsItsStepsInOrder)
{
    FakeOutputs fakes;
    auto& [emulator, video, sound, input] = fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame);
    ASSERT_TRUE(frame.create());
    journal.clear();
    EXPECT_FALSE(frame.update());  // no game: a 1 ms sleep and nothing else
    EXPECT_TRUE(journal.empty());

    frame.start();
    ASSERT_TRUE(frame.resume());
    EXPECT_FALSE(frame.resume());  // once only
    const std::vector<std::string> starts = {"emu.start", "video.start", "sound.start", "input.start"};
    EXPECT_EQ(journal, starts);
    journal.clear();
    ASSERT_TRUE(frame.update());
    const std::vector<std::string> order = {"input.update", "video.setText", "emu.update",
                                            "video.update", "sound.update",  "video.present"};
    EXPECT_EQ(journal, order);
    EXPECT_TRUE(video.text().starts_with("FPS: 0/60(0%) CPU: ")) << video.text();
    EXPECT_TRUE(emulator.running() && sound.running() && video.running());
    EXPECT_FALSE(input.running());  // the input is started, never resumed

    ASSERT_TRUE(frame.pause());
    EXPECT_FALSE(emulator.running() || sound.running() || video.running());
    journal.clear();
    EXPECT_FALSE(frame.update());
    EXPECT_TRUE(journal.empty());
}

// A save that could not be written stays in the status line until it is.
// Saves lost to another program during a game bring a box at the next
// tick, not only at the open: one another program created meanwhile (in
// use, and what takes it over), one on a file system without locks (and
// what still guards it).
TEST_F(AppTest, AFailedSaveShowsInTheStatusLineAndOneLostToAnotherProgramInABox)
{
    FakeOutputs fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame);
    ASSERT_TRUE(frame.create());
    frame.start();
    ASSERT_TRUE(frame.resume());
    const std::string path = m_dir.file("gone/memory.bup");
    u8 data[16] = {};
    SaveFile file;
    ASSERT_EQ(file.load("KEST", path, data, sizeof data), SaveFile::State::kAbsent);
    ASSERT_FALSE(file.save(data, sizeof data));
    ASSERT_TRUE(frame.update());
    EXPECT_TRUE(fakes.video.text().find("Save not written: " + path + ": No such file or directory") !=
                std::string::npos)
        << fakes.video.text();
    std::filesystem::create_directory(m_dir.path() / "gone");
    ASSERT_TRUE(file.save(data, sizeof data));
    ASSERT_TRUE(frame.update());
    EXPECT_EQ(fakes.video.text().find("Save not written"), std::string::npos) << fakes.video.text();

    const std::string taken = m_dir.file("taken.bup"), unlocked = m_dir.file("unlocked.bup");
    SaveFile takenFile, unlockedFile;
    ASSERT_EQ(takenFile.load("KEST", taken, data, sizeof data), SaveFile::State::kAbsent);
    std::ofstream(taken, std::ios::binary) << std::string(sizeof data, 'x');  // not what the game holds
    EXPECT_FALSE(takenFile.save(data, sizeof data));
    // Each at a tick of its own: one notice would bring the box for both.
    const auto said = [&](qsizetype boxes) {
        EXPECT_TRUE(frame.update());
        QApplication::processEvents();
        return m_dialogs.messages.size() == boxes ? m_dialogs.messages.last().toStdString() : std::string();
    };
    std::string box = said(1);
    for (const std::string& part : {taken, std::string("Closing this game and opening it again then takes the files")})
        EXPECT_NE(box.find(part), std::string::npos) << box;
    std::ofstream(unlocked, std::ios::binary) << std::string(sizeof data, '\0');
    noLocks = true;
    EXPECT_EQ(unlockedFile.load("KEST", unlocked, data, sizeof data), SaveFile::State::kLoaded);
    noLocks = false;
    box = said(2);
    for (const std::string& part : {unlocked, std::string("A save file changed by another program is still not")})
        EXPECT_NE(box.find(part), std::string::npos) << box;
}

TEST_F(AppTest, StartUpFailureNamesThePartAndSaysSo)
{
    FakeOutputs fakes(false);
    LogCapture log;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame);
    EXPECT_FALSE(frame.create());
    EXPECT_TRUE(frame.quitRequested());
    EXPECT_EQ(m_dialogs.messages, QStringList{QStringLiteral("Initialization failed!")});
    EXPECT_TRUE(log.contains("INIT: Sound\n"));
    EXPECT_FALSE(log.contains("INIT: Input"));
}

TEST_F(AppTest, MenusFollowTheGameAndTheLanguage)
{
    CMainFrame frame(folder(), m_dialogs);
    ASSERT_TRUE(frame.create());
    EXPECT_TRUE(std::filesystem::exists(frame.settingsPath()));
    EXPECT_EQ(frame.languageCode(), "en_US");
    ASSERT_NE(frame.action(33001), nullptr);
    EXPECT_EQ(frame.action(CMainFrame::kLanguagePlaceholder), nullptr);
    EXPECT_TRUE(frame.action(33000)->isChecked());
    expectGameMenus(frame, false);

    frame.start();
    expectGameMenus(frame, true);
    frame.action(33001)->trigger();  // Japanese while the game runs
    EXPECT_EQ(frame.languageCode(), "ja_JP");
    EXPECT_EQ(frame.topMenu(0)->title(), QString::fromUtf8("ファイル(&F)"));
    EXPECT_EQ(frame.action(CMainFrame::kFileOpen)->text(), QString::fromUtf8("開く(&O)\tCtrl/Shift+O"));
    EXPECT_EQ(frame.action(CMainFrame::kToolsLog)->text(), QString::fromUtf8("ログ(&L)"));
    EXPECT_TRUE(frame.action(33001)->isChecked());
    EXPECT_FALSE(frame.action(33000)->isChecked());
    expectGameMenus(frame, true);
    frame.stop();
    expectGameMenus(frame, false);

    // A language file from before Tools > Log leaves that entry in English.
    std::ofstream(m_dir.path() / "lang" / "en_US.ini") << "[Menu]\n";
    frame.action(33000)->trigger();
    EXPECT_EQ(frame.action(CMainFrame::kToolsLog)->text(), QStringLiteral("&Log"));
    frame.action(33001)->trigger();

    // A language file that went away leaves everything as it was.
    std::filesystem::remove(m_dir.path() / "lang" / "en_US.ini");
    frame.action(33000)->trigger();
    EXPECT_EQ(frame.languageCode(), "ja_JP");
    EXPECT_TRUE(frame.action(33001)->isChecked());
}

TEST_F(AppTest, TheChosenLanguageIsRememberedInTheSettings)
{
    {
        CMainFrame frame(folder(), m_dialogs);
        ASSERT_TRUE(frame.create());
        frame.command(33001, Qt::NoModifier);
    }
    CMainFrame again(folder(), m_dialogs);
    ASSERT_TRUE(again.create());
    EXPECT_EQ(again.languageCode(), "ja_JP");
    EXPECT_TRUE(again.action(33001)->isChecked());
}

// A kest.ini written by hand, without [Language] or its lang_code, gains
// what it lacks at exit, after the comments that closed the file.
TEST_F(AppTest, TheChosenLanguageIsKeptWhereTheSettingsLackedIt)
{
    for (const auto& [before, after] : {std::pair<std::string, std::string>{
             "[Path]\na = 1\n# end\n", "[Path]\r\na = 1\r\n\r\n# end\r\n[Language]\r\nlang_code = ja_JP\r\n"},
             {"[Language]\n[Path]\n", "[Language]\r\nlang_code = ja_JP\r\n\r\n[Path]\r\n"}}) {
        std::ofstream(m_dir.file("kest.ini"), std::ios::binary) << before;
        {
            CMainFrame frame(folder(), m_dialogs);
            ASSERT_TRUE(frame.create());
            frame.command(33001, Qt::NoModifier);
        }
        EXPECT_EQ(readText(m_dir.file("kest.ini")), after);
    }
}

// A kest.ini that cannot take the language chosen says so at the end, in
// the log and on standard error.
TEST_F(AppTest, SettingsThatCannotBeWrittenBackSaySo)
{
    LogCapture log;
    testing::internal::CaptureStderr();
    {
        CMainFrame frame(folder(), m_dialogs);
        ASSERT_TRUE(frame.create());
        frame.command(33001, Qt::NoModifier);
        // Where the file was, a link into a folder that is not there.
        std::filesystem::remove(frame.settingsPath());
        std::filesystem::create_symlink(m_dir.file("gone/kest.ini"), frame.settingsPath());
        frame.setEndCheck([] { return true; });  // ended by a signal: no box waits for an answer
        frame.command(CMainFrame::kFileExit, Qt::NoModifier);
    }
    EXPECT_TRUE(m_dialogs.messages.isEmpty()) << m_dialogs.messages.join(QLatin1Char('|')).toStdString();
    const std::string stderrText = testing::internal::GetCapturedStderr();
    const std::string settings = m_dir.file("kest.ini");
    EXPECT_TRUE(log.contains("INI: Settings not written back to " + settings + ": No such file or directory\n"))
        << log.text();
    EXPECT_NE(stderrText.find("Kest: the language choice was not saved: " + settings + ": No such file or directory\n"),
              std::string::npos)
        << stderrText;
}

TEST_F(AppTest, DropOpensAFileAndADropWhileRunningReplacesTheGame)
{
    const std::string disc = KEST_BINARY_DIR "/testdata/boot.iso";
    FakeOutputs fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame, true);
    ASSERT_TRUE(frame.create());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(disc))});
    const auto dropDisc = [&] {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &drop);
        QApplication::processEvents();  // the open, once the drop is over
    };
    debugBreak = 1;  // a pause left from the last game
    dropDisc();
    EXPECT_EQ(frame.filePath(), QString::fromStdString(disc));
    EXPECT_TRUE(frame.opened() && frame.running());
    EXPECT_EQ(debugBreak, 0);
    EXPECT_EQ(frame.emulator().header().title, "KEST BIOS BOOT TEST");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(frame.update());
    const u32 fields = frame.emulator().getSystem().frameCounter();
    EXPECT_GT(fields, 0u);

    // Another drop stops the first game before it runs the new one.
    journal.clear();
    dropDisc();
    EXPECT_TRUE(frame.opened() && frame.running());
    const std::vector<std::string> restart = {"video.stop",  "sound.stop",  "input.stop",
                                              "video.start", "sound.start", "input.start"};
    EXPECT_EQ(journal, restart);
    EXPECT_TRUE(frame.update());
    expectGameMenus(frame, true);

    // A file the emulator cannot start says so and leaves the game running.
    const std::string text = m_dir.file("notes.txt");
    std::ofstream(text) << "not a disc";
    journal.clear();
    frame.openFile(QString::fromStdString(text), 0);
    EXPECT_TRUE(frame.opened() && frame.running());
    EXPECT_TRUE(journal.empty());
    ASSERT_EQ(m_dialogs.messages.size(), 1);
    EXPECT_TRUE(m_dialogs.messages[0].startsWith(QStringLiteral("Cannot start")));
    EXPECT_EQ(frame.filePath(), QString::fromStdString(disc));
    expectGameMenus(frame, true);
    EXPECT_TRUE(frame.update());
}

TEST_F(AppTest, FocusAndMenusPauseTheGameAndEmulationPauseHoldsTheMachine)
{
    FakeOutputs fakes;
    auto& [emulator, video, sound, input] = fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame);
    ASSERT_TRUE(frame.create());
    frame.show();
    QApplication::setActiveWindow(&frame);
    QApplication::processEvents();
    EXPECT_FALSE(frame.pause());  // without a game nothing changes
    frame.start();
    frame.resume();

    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QApplication::processEvents();
    EXPECT_FALSE(frame.running());
    EXPECT_FALSE(emulator.running());
    QApplication::setActiveWindow(&frame);
    QApplication::processEvents();
    EXPECT_TRUE(frame.running());

    // A menu takes the pointer too: a button it held is let go.
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(frame.view(), &click);
    QMetaObject::invokeMethod(frame.topMenu(1), "aboutToShow", Qt::DirectConnection);
    EXPECT_FALSE(frame.running());
    EXPECT_EQ(frame.input().readState().buttons[0], 0);
    QMetaObject::invokeMethod(frame.topMenu(1), "aboutToHide", Qt::DirectConnection);
    EXPECT_TRUE(frame.running());

    // Emulation > Pause: the ticks go on, the machine and the sound stop.
    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
    EXPECT_EQ(debugBreak, 1);
    EXPECT_FALSE(sound.opened());
    // Held, a tick draws only when the status text changed, which is when
    // the rate (every 30th tick) or the CPU share (every 60th) is measured
    // anew: at most 3 a second of 60 paced ticks. And it sleeps once to its
    // deadline rather than in 1 ms steps. A loaded machine only makes ticks
    // fewer and later, never more.
    constexpr int kHeldTicks = 120;
    journal.clear();
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const u64 start = host::steadyNs();
    for (int i = 0; i < kHeldTicks; ++i)
        ASSERT_TRUE(frame.update());
    const double seconds = static_cast<double>(host::steadyNs() - start) / 1e9;
    getrusage(RUSAGE_THREAD, &after);
    const auto times = [](const char* entry) { return std::count(journal.begin(), journal.end(), entry); };
    EXPECT_LE(kHeldTicks, 2 + 60 * seconds);
    EXPECT_LE(times("video.update"), 4 + 3 * seconds) << kHeldTicks << " ticks in " << seconds << " s";
    EXPECT_EQ(times("video.present"), times("video.update"));
    EXPECT_LE(after.ru_nvcsw - before.ru_nvcsw, 2 * kHeldTicks);
    frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
    EXPECT_EQ(debugBreak, 0);
    EXPECT_TRUE(sound.running());
}

TEST(CommandLine, QuotedPathsLoseTheirBlanksAndOthersStayWhole)
{
    EXPECT_EQ(commandLinePath("\"  /games/my disc.cue  \""), "/games/my disc.cue");
    EXPECT_EQ(commandLinePath(" /games/my disc.cue"), " /games/my disc.cue");
    EXPECT_EQ(commandLinePath(""), "");
}

TEST_F(AppTest, KeyReleasesReachThePadWithoutAGameAndKeypadDigitsToggleNothing)
{
    FakeOutputs fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame);
    ASSERT_TRUE(frame.create());
    const auto key = [&](QEvent::Type type, int code, Qt::KeyboardModifiers modifiers = {}) {
        QKeyEvent event(type, code, modifiers);
        QApplication::sendEvent(&frame, &event);
    };
    frame.start();
    key(QEvent::KeyPress, Qt::Key_W);
    frame.command(CMainFrame::kFileClose, Qt::NoModifier);
    key(QEvent::KeyRelease, Qt::Key_W);
    EXPECT_EQ(hostPadState[0], 0xFF);
    frame.start();
    const u8 layer = layerDebugSwitches[2], mode = videoDebugMode;
    key(QEvent::KeyPress, Qt::Key_3, Qt::KeypadModifier);
    key(QEvent::KeyPress, Qt::Key_0, Qt::KeypadModifier);
    EXPECT_EQ(layerDebugSwitches[2], layer);
    EXPECT_EQ(videoDebugMode, mode);

    // With the mouse on a port: held while the window is in front, let go by
    // Ctrl+Alt+G, which the status line names.
    frame.stop();
    INI(frame.settingsPath(), false).findSection("General").findKey("direct_1").value = "4";
    fakes.install(frame, true);
    frame.show();
    QApplication::setActiveWindow(&frame);
    frame.openFile(QString::fromLatin1(KEST_BINARY_DIR "/testdata/boot.iso"), 0);
    ASSERT_TRUE(frame.pointerCaptured());
    ASSERT_TRUE(frame.update());
    EXPECT_NE(fakes.video.text().find("Ctrl+Alt+G frees the mouse"), std::string::npos) << fakes.video.text();
    key(QEvent::KeyPress, Qt::Key_G, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(frame.pointerCaptured());
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(frame.view(), &click);
    EXPECT_TRUE(frame.pointerCaptured());
    EXPECT_EQ(frame.input().readState().buttons[0], 0);  // that click is not the game's
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    EXPECT_FALSE(frame.pointerCaptured());
}

TEST_F(AppTest, DebugRunArmsItsStopOnlyWhenTheBootStartsAndInvalidLanguagesDropThePlaceholder)
{
    std::filesystem::remove(m_dir.path() / "lang" / "en_US.ini");
    std::filesystem::rename(m_dir.path() / "lang" / "ja_JP.ini", m_dir.path() / "lang" / "readme.ini");
    FakeOutputs fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame, true);
    ASSERT_TRUE(frame.create());
    EXPECT_TRUE(frame.languageMenu()->actions().isEmpty());

    CPU& master = *frame.emulator().getSystem().getCpu(0);
    frame.command(CMainFrame::kDebugRun, Qt::ShiftModifier);  // no arcade BIOS: no boot
    ASSERT_FALSE(frame.opened());
    EXPECT_FALSE(master.stepPending());
    INI(frame.settingsPath(), false).findSection("Path").findKey("sat_cd").value = KEST_BINARY_DIR "/testdata/boot.iso";
    frame.command(CMainFrame::kDebugRun, Qt::NoModifier);
    EXPECT_TRUE(frame.opened() && master.stepPending());
    EXPECT_EQ(master.stepTarget(), CMainFrame::kDebugRunStop);
}

// Exit with the saves' folder gone asks while the game is still loaded,
// naming each save once, and how many games lost it. Cancel goes back to
// the game; Try again asks again while they fail. Quit without saving, or
// a signal that closes the box, ends at once with status 1: the saves go to
// standard error, and no second box names them.
TEST_F(AppTest, ExitAsksToTryAgainWhileTheGamesSavesFail)
{
    useBusySaves();
    for (const bool signal : {false, true}) {
        FakeDialogs dialogs;
        FakeOutputs fakes;
        CMainFrame frame(folder(), dialogs);
        fakes.install(frame, true);
        ASSERT_TRUE(frame.create());
        ASSERT_TRUE(play(frame));
        moveSaves(true);
        if (!signal) {
            // The game before lost them too, closed without saving.
            dialogs.answer = [](const QString&) { return 1; };
            frame.command(CMainFrame::kFileClose, Qt::NoModifier);
            ASSERT_EQ(dialogs.questions.size(), 1);
            dialogs.questions.clear();
            moveSaves(false);
            ASSERT_TRUE(play(frame));
            moveSaves(true);
        }
        dialogs.answer = [](const QString&) { return 2; };
        frame.command(CMainFrame::kFileExit, Qt::NoModifier);
        ASSERT_EQ(dialogs.questions.size(), 1);
        const std::string asked = dialogs.questions[0].toStdString();
        for (const std::string& save : {m_card, m_memory}) {
            const std::string line = "'" + save + "': No such file or directory" + (signal ? "" : " (in 2 games)");
            EXPECT_NE(asked.find(line), std::string::npos) << asked;
            EXPECT_EQ(asked.find(save), asked.rfind(save)) << asked;
        }
        EXPECT_TRUE(!frame.quitRequested() && frame.opened() && frame.running() && frame.update());

        dialogs.answer = [&](const QString&) {
            if (dialogs.questions.size() < 3)
                return 0;
            if (signal)
                frame.setEndCheck([] { return true; });
            return signal ? 2 : 1;
        };
        testing::internal::CaptureStderr();
        frame.command(CMainFrame::kFileExit, Qt::NoModifier);
        const std::string stderrText = testing::internal::GetCapturedStderr();
        EXPECT_EQ(dialogs.questions.size(), 3);
        EXPECT_TRUE(frame.quitRequested() && !frame.opened() && frame.exitStatus() == 1) << signal;
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(QLatin1Char('|')).toStdString();
        EXPECT_NE(stderrText.find("Kest: save not written: '" + m_card + "': No such file or directory"),
                  std::string::npos) << stderrText;
        moveSaves(false);
    }
}

// Close, an open over the game and Exit each write the game's saves first
// and, while they fail, ask as Exit does; a save lost in an earlier game is
// never asked about (no try could end), and the end box names it as that
// game's. Cancel keeps the game running in its window: a close, a command
// or an open that comes while the box asks is dropped, and the disc an
// open read is let go of. Try again, once the folder is back, writes them.
TEST_F(AppTest, EveryWayOutOfAGameAsksWhileItsSavesFail)
{
    useBusySaves();
    const std::string disc = KEST_BINARY_DIR "/testdata/boot.iso", earlier = m_dir.file("gone/earlier.bup");
    {
        u8 data[16] = {};
        SaveFile file;
        ASSERT_EQ(file.load("KEST", earlier, data, sizeof data), SaveFile::State::kAbsent);
        ASSERT_FALSE(file.save(data, sizeof data));
    }
    for (const int way : {CMainFrame::kFileClose, CMainFrame::kFileOpen, CMainFrame::kFileExit}) {
        FakeDialogs dialogs;
        FakeOutputs fakes;
        CMainFrame frame(folder(), dialogs);
        fakes.install(frame, true);
        ASSERT_TRUE(frame.create());
        frame.show();
        ASSERT_TRUE(play(frame));
        moveSaves(true);
        const auto letGo = [&] {
            if (way == CMainFrame::kFileOpen)
                frame.openFile(disc, 0);
            else
                frame.command(way, Qt::NoModifier);
        };
        bool refused = false;
        dialogs.answer = [&](const QString&) {
            QCloseEvent close;  // as the window system sends it
            QApplication::sendEvent(frame.windowHandle(), &close);
            refused = !close.isAccepted();
            frame.command(CMainFrame::kFileExit, Qt::NoModifier);
            frame.command(CMainFrame::kFileClose, Qt::NoModifier);
            frame.openFile(disc, 0);
            return 2;
        };
        // The disc an open read before its box is let go of at Cancel.
        const auto discOpen = [&] {
            int count = 0;
            for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                count += std::filesystem::read_symlink(fd.path(), error) == disc;
            }
            return count;
        };
        const int discs = discOpen();
        journal.clear();
        letGo();
        EXPECT_EQ(discOpen(), discs);
        ASSERT_EQ(dialogs.questions.size(), 1) << way;
        const QString without = way == CMainFrame::kFileExit ? "&Quit without saving" : "&Close without saving";
        EXPECT_EQ(dialogs.offered[0], (QStringList{"&Try again", without, "Cancel"}));
        EXPECT_TRUE(refused && frame.opened() && frame.running() && !frame.quitRequested() && journal.empty()) << way;
        EXPECT_TRUE(frame.isVisible() && frame.windowHandle()->handle()) << way;

        dialogs.answer = [&](const QString&) {
            moveSaves(false);
            return 0;
        };
        letGo();
        EXPECT_EQ(dialogs.questions.size(), 2);
        EXPECT_TRUE(readBytes(m_card)[1] == 'E' && readBytes(m_memory)[1] == 0x4B) << way;
        EXPECT_EQ(frame.opened(), way == CMainFrame::kFileOpen);
        EXPECT_EQ(frame.exitStatus(), way == CMainFrame::kFileExit ? 1 : 0);
        const std::string end = "These saves of an earlier game were not written: what it saved in them is lost.\n\n'" +
                                earlier + "': No such file or directory";
        EXPECT_EQ(dialogs.messages.join(QLatin1Char('|')).toStdString(), way == CMainFrame::kFileExit ? end : "");
    }

    // A card refused at its load takes no write while its game runs: no Try again.
    std::ofstream(m_card, std::ios::binary) << "short";
    FakeOutputs fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame, true);
    ASSERT_TRUE(frame.create());
    ASSERT_TRUE(play(frame));
    m_dialogs.answer = [](const QString&) { return 0; };
    frame.command(CMainFrame::kFileExit, Qt::NoModifier);
    ASSERT_EQ(m_dialogs.questions.size(), 1);
    EXPECT_EQ(m_dialogs.offered[0], (QStringList{"&Quit without saving", "Cancel"}));
    const std::string asked = m_dialogs.questions[0].toStdString();
    EXPECT_NE(asked.find("\n'" + m_card + "': "), std::string::npos) << asked;
    EXPECT_TRUE(asked.ends_with("; cannot be written while this game runs\n\nQuitting without saving loses what the "
                                "game saved in them.")) << asked;
    EXPECT_TRUE(frame.quitRequested() && frame.exitStatus() == 1);
}

// A disc in a folder whose name is not UTF-8 (Latin-1 "é") opens by its
// bytes: from the command line, relative and absolute, from a drop, and
// from the Open chooser, whose answer has lost the byte.
TEST_F(AppTest, ADiscInAFolderNamedInLatin1OpensFromEverySource)
{
    const std::string disc = m_dir.file("discs-\xE9/boot.iso");
    std::filesystem::create_directory(m_dir.path() / "discs-\xE9");
    std::filesystem::copy_file(KEST_BINARY_DIR "/testdata/boot.iso", disc);
    FakeOutputs fakes;
    CMainFrame frame(folder(), m_dialogs);
    fakes.install(frame, true);
    ASSERT_TRUE(frame.create());
    QMimeData data;
    data.setUrls({QUrl::fromEncoded("file://" + QByteArray::fromStdString(disc).toPercentEncoding("/"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    m_dialogs.nextFile = QFile::decodeName(disc.c_str());
    for (int source = 0; source < 4; ++source) {
        frame.command(CMainFrame::kFileClose, Qt::NoModifier);
        std::string program = "kest", argument = source == 0 ? "discs-\xE9/boot.iso" : disc;
        char* argv[] = {program.data(), argument.data()};
        if (source < 2) {
            frame.openFile(CKestApp::commandLine(2, argv, folder()), 0);
        } else if (source == 2) {
            QApplication::sendEvent(&frame, &enter);
            QApplication::sendEvent(&frame, &drop);
            QApplication::processEvents();  // the open, once the drop is over
        } else {
            frame.command(CMainFrame::kFileOpen, Qt::NoModifier);
        }
        EXPECT_TRUE(frame.opened() && frame.emulator().discPath() == disc) << source;
    }
    EXPECT_TRUE(m_dialogs.messages.isEmpty()) << m_dialogs.messages.join(QLatin1Char('|')).toStdString();
}
