#pragma once

#include <QCoreApplication>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/emulator/media.h"
#include "ui/host/delegates.h"
#include "ui/host/frame_pacer.h"
#include "ui/host/host_input.h"
#include "ui/host/host_sound.h"
#include "ui/host/host_video.h"
#include "ui/host/language.h"
#include "ui/host/log_console.h"
#include "platform/console_window.h"

class CanvasView;
class DasmDlg;
class MemoryDlg;
class Dialogs;
class QActionGroup;
class QMenu;

// The path a command line names: the text inside double quotes, without
// the blanks around it, or else the whole line unchanged. Bytes in, bytes out.
std::string commandLinePath(const std::string& line);
// The bytes of a path a QString names, as a chooser answers: a name that is
// not UTF-8 did not survive the QString, so a component not there as
// encoded is the one entry of its folder whose name reads the same.
std::string localPath(const QString& path);

// The main window: it owns the emulator object and the picture, sound and
// input outputs, drives them through CMedia, turns menus, keys, drops and
// the command line into calls on the emulator, and runs one field per
// tick of the main loop.
class CMainFrame : public QMainWindow, public CMedia {
public:
    // Command ids of the menu.
    enum Command : int {
        kFileOpen = 0xE101,
        kFileBoot = 0x8043,
        kFileClose = 0xE102,
        kFileExit = 0xE141,
        kLanguagePlaceholder = 0x8072,
        kEmulationPause = 0x800D,
        kEmulationReset = 0x800F,
        kDebugRun = 0x8065,
        kDebugStepInto = 0x8066,
        kDebugStepOver = 0x8067,
        kDebugStepOut = 0x8068,
        kToolsMemory = 0x8009,
        kToolsLog = 0x800A,
        kHelpAbout = 0xE140,
        kFullscreen = 0x804B,
        kShowDebugger = 0x8069,
    };
    static constexpr int kClientWidth = 800;
    static constexpr int kClientHeight = 600;
    static constexpr int kMinClientWidth = 320;
    static constexpr int kMinClientHeight = 224;
    // The master SH-2 stops here when Debug > Run boots the machine.
    static constexpr u32 kDebugRunStop = 0x06002E00;

    // dataFolder holds kest.ini, lang/, bios/ and saves/; empty, it is the
    // program's own folder, by the bytes the system names it with.
    CMainFrame(std::string dataFolder, Dialogs& dialogs);
    ~CMainFrame() override;

    // Window creation: the four outputs and the emulator, the settings, the
    // languages and the real drive. On failure shows "Initialization
    // failed!" and answers false.
    bool create();

    bool init(void* window) override;
    void start() override;
    void stop() override;
    bool resume() override;
    bool pause() override;
    bool update() override;

    // A file that cannot start is refused with a box, and a game that runs
    // runs on as it was. While the file opens the window answers File >
    // Exit and File > Close, each of which ends the open; every other
    // command, and another open, is dropped. One that can start asks, as
    // Close does, before the running game stops. path is the file's bytes.
    void openFile(const std::string& path, int mode);
    // A path as a chooser gives it (see localPath).
    void openFile(const QString& path, int mode) { openFile(localPath(path), mode); }
    // Asked while a file opens: true when the program is to end (a signal).
    void setEndCheck(bool (*check)()) { m_endCheck = check; }
    // The program ends without the window's close (its display has gone):
    // the game's saves and the language are written, and no window is
    // touched.
    void saveBeforeExit();
    // 1 once the window has closed with a save not written, else 0.
    int exitStatus() const { return m_exitStatus; }
    void command(int id, Qt::KeyboardModifiers modifiers);
    bool quitRequested() const { return m_quit; }
    // While an emulated mouse is attached and the window is active, the
    // pointer is hidden and held at the picture's centre; its motion is
    // the mouse's. Ctrl+Alt+G lets it go until the picture is clicked.
    bool pointerCaptured() const { return m_pointerCaptured; }

    // Tests swap in their own outputs before create().
    void setMedia(CEmuX* emulator, CGraphic* video, CSound* sound, CInput* input);

    KestDelegate& emulator() { return *m_kest; }
    CDInput8& input() { return m_input; }
    CanvasView* view() const { return m_view; }
    DasmDlg* debugger() const { return m_debugger.get(); }
    MemoryDlg* memoryWindow() const { return m_memory.get(); }
    QAction* action(int id) const;
    QMenu* languageMenu() const { return m_languageMenu; }
    QMenu* topMenu(int index) const { return m_menus[static_cast<std::size_t>(index)]; }
    const std::string& languageCode() const { return m_languageCode; }
    const QString& filePath() const { return m_filePath; }
    ConsoleWindow& logWindow() { return m_logWindow; }
    std::string settingsPath() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    QAction* addCommand(QMenu* menu, int id, const QString& text, const QList<QKeySequence>& keys = {});
    void setGameMenuState(bool gameOpen);
    void buildLanguageMenu();
    bool applyLanguage(int index);
    void setupLanguage();
    void onLanguage(int index);
    void onFileOpen(Qt::KeyboardModifiers modifiers);
    void onFileClose();
    // Brings the log window forward without taking the keyboard.
    void showLog();
    // A message box that points to the log brings the log into view first.
    void showLogThenSay(const QString& text);
    // Asks for the keyboard back after a dialog of the window's has closed.
    void takeKeyboardBack();
    // Lets go of every key and mouse button held, as if each were released:
    // once the window has lost the keyboard, their releases never reach it.
    void releaseHeldInput();
    // The language chosen, into kest.ini; false with the reason when the
    // file cannot take it.
    bool writeBackLanguage(std::string& why) const;
    // The emulator's stop check while the window opens a file.
    static bool openInterrupted();
    // Writes the language back once; a failure is logged, and said in a box
    // when sayInWindow is set.
    void saveLanguage(bool sayInWindow);
    // Save files another running program holds, and those on a file
    // system that takes no locks, each said once in a box.
    void sayInUseSaves();
    // Before the game is let go (Exit, Close, another file opened over it),
    // with it held still: its saves are written, and while one fails a box
    // names each and offers Try again (where a try can work), Quit or Close
    // without saving, or Cancel. False for Cancel: the game goes on as it
    // was. A signal that closes the box lets go at once; for a Close or an
    // open it is the program's Exit, and false.
    bool writeSavesBeforeLettingGo(bool exiting);
    // At the end: every save not written, on stderr and in the log, and in
    // a box when sayInWindow is set (but those the user chose to let go
    // without), which tells an earlier game's from the last one's; the
    // program's status becomes 1.
    void sayUnwrittenSaves(bool sayInWindow);
    // The failed save for the status line, on a line of its own, its path
    // shortened until the line fits the picture's width.
    void fitSaveTrouble(char* out, std::size_t size);
    // Whether the master SH-2 stands on one of its enabled breakpoints.
    bool atBreakpoint();
    void showDebugger();
    void onEmulationPause();
    void onDebugRun(Qt::KeyboardModifiers modifiers);
    void onDebuggerClosed();
    void onKey(int qtKey, Qt::KeyboardModifiers modifiers, bool down);
    bool mouseAttached();
    void updatePointerCapture();
    void centrePointer();
    void onToolsMemory();
    void followActivation();
    s32 measureCpuUsage() { return m_cpu.measure(); }

    Dialogs& m_dialogs;
    // Opened first, so start-up failures already show, coloured, in the
    // log's own window and on the terminal the program was started from.
    ConsoleWindow m_logWindow;
    LogConsole m_console;
    CDInput8 m_input;
    std::unique_ptr<KestDelegate> m_kest;
    CFps m_fps;
    CpuMeter m_cpu;
    CD3d9 m_video;
    std::unique_ptr<DSound> m_sound;
    // The four outputs the window drives: emulator, video, sound, input.
    CEmuX* m_emuX;
    CGraphic* m_graphic;
    CSound* m_soundOut;
    CInput* m_inputOut;

    CanvasView* m_view = nullptr;
    // The debugger window exists hidden from the start; F12 shows it.
    std::unique_ptr<DasmDlg> m_debugger;
    std::unique_ptr<MemoryDlg> m_memory;
    std::map<int, QAction*> m_actions;
    std::vector<QMenu*> m_menus;
    QMenu* m_languageMenu = nullptr;
    QActionGroup* m_languageGroup = nullptr;
    std::vector<language::Entry> m_languages;
    std::string m_languageCode;
    int m_selectedLanguage = -1;
    QString m_filePath;
    // Keys pressed and not yet released, by Qt key, with the host key.
    struct HeldKey {
        int key;
        u8 hostKey;
    };
    std::vector<HeldKey> m_heldKeys;
    bool m_pointerCaptured = false;
    bool m_pointerReleased = false;  // by the release key
    bool m_warpPending = false;      // the pointer was sent to the centre
    bool m_compressMoves = QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents);
    QPoint m_lastPointer;
    bool m_quit = false;
    bool m_created = false;
    // A command taken while a file opens, carried out once the open ends.
    enum class OpenCancel { kNone, kClose, kExit };
    bool m_opening = false;
    OpenCancel m_openCancel = OpenCancel::kNone;
    bool (*m_endCheck)() = nullptr;
    bool m_languageSaved = false;
    std::vector<std::string> m_saidInUse;
    // The saves the user chose to quit or close without, already named in a box.
    std::vector<std::string> m_quitWithout;
    // Lost in a game before the one let go last.
    std::vector<std::string> m_earlierLosses;
    // A save box asks: commands, opens and closes that come meanwhile are
    // dropped, and notices wait for its answer.
    bool m_asking = false;
    // The save notices said so far; another one brings the box again.
    unsigned m_saveNotices = 0;
    int m_exitStatus = 0;
    // A language was chosen in this run.
    bool m_languageChosen = false;
    // The hold in force is Emulation > Pause's, not a breakpoint's.
    bool m_paused = false;
    // The status text last drawn; empty until a game's first picture.
    std::string m_shownStatus;
};

