#include "ui/app/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "board/periph/peripheral.h"
#include "board/smpc/smpc.h"
#include "cd/media/ioctl.h"
#include "core/base/helpers.h"
#include "core/base/ini.h"
#include "core/base/host_pad.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "core/base/save_file.h"
#include "platform/canvas_view.h"
#include "platform/host_time.h"
#include "platform/key_codes.h"
#include "platform/sg_transport.h"
#include "ui/app/dialogs.h"
#include "ui/debugger/dasm_dlg.h"
#include "ui/debugger/memory_dlg.h"

namespace {

constexpr std::size_t kStatusBytes = 512;
constexpr const char* kDebugModeNames[] = {"", "VDP2_JIT", "NO_GFX"};
constexpr const char* kDiscFilter = "Saturn CD Images (*.cue *.ccd *.mds *.iso);;All Files (*)";
constexpr const char* kArcadeFilter = "ST-V ROMs (*.zip)";

// The menu bar, left to right, with each title's key in the language
// files' [Menu] section.
struct TopMenu {
    const char* text;
    const char* key;
};
constexpr TopMenu kTopMenus[] = {
    {"&File", "File"}, {"&Emulation", "Emulation"}, {"&Debug", "Debug"}, {"&Tools", "Tool"}, {"&Help", "Help"},
};
enum : int { kFileMenu, kEmulationMenu, kDebugMenu, kToolsMenu, kHelpMenu, kNoMenu = -1 };

enum class RowKind { Command, Separator, LanguageMenu };

constexpr int shortcut(QKeyCombination keys)
{
    return keys.toCombined();
}

// One row per menu entry, in menu order: its command, its English text,
// its key in the language files ([Menu], or [Language] for the submenu)
// and its shortcuts. Rows without a menu are shortcuts of the window only.
struct MenuRow {
    int menu;
    RowKind kind;
    int id = 0;
    const char* text = nullptr;
    const char* key = nullptr;
    int keys[3] = {};
    bool alsoInDebugger = false;
    // Language files written before the entry existed keep it in English.
    bool englishWhenMissing = false;
};
using C = CMainFrame;
const MenuRow kMenuRows[] = {
    {kFileMenu, RowKind::Command, C::kFileOpen, "&Open\tCtrl/Shift+O", "Open",
     {shortcut(Qt::CTRL | Qt::Key_O), shortcut(Qt::SHIFT | Qt::Key_O), shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_O)}},
    {kFileMenu, RowKind::Command, C::kFileBoot, "&Boot\tCtrl/Shift+B", "Boot",
     {shortcut(Qt::CTRL | Qt::Key_B), shortcut(Qt::SHIFT | Qt::Key_B)}},
    {kFileMenu, RowKind::Command, C::kFileClose, "&Close\tCtrl+C", "Close", {shortcut(Qt::CTRL | Qt::Key_C)}},
    {kFileMenu, RowKind::Separator},
    {kFileMenu, RowKind::LanguageMenu, C::kLanguagePlaceholder, "Language", "Language"},
    {kFileMenu, RowKind::Separator},
    {kFileMenu, RowKind::Command, C::kFileExit, "E&xit\tCtrl+X", "Exit", {shortcut(Qt::CTRL | Qt::Key_X)}},
    {kEmulationMenu, RowKind::Command, C::kEmulationPause, "&Pause\tPause", "Pause", {Qt::Key_Pause}},
    {kEmulationMenu, RowKind::Command, C::kEmulationReset, "&Reset\tCtrl/Shift+R", "Reset",
     {shortcut(Qt::CTRL | Qt::Key_R), shortcut(Qt::SHIFT | Qt::Key_R)}},
    {kDebugMenu, RowKind::Command, C::kDebugRun, "Run\tF9", nullptr, {Qt::Key_F9}, true},
    {kDebugMenu, RowKind::Command, C::kDebugStepInto, "Step Into\tF7", nullptr, {Qt::Key_F7}, true},
    {kDebugMenu, RowKind::Command, C::kDebugStepOver, "Step Over\tF8", nullptr, {Qt::Key_F8}, true},
    {kDebugMenu, RowKind::Command, C::kDebugStepOut, "Step Out\tCtrl+F9", nullptr, {shortcut(Qt::CTRL | Qt::Key_F9)},
     true},
    {kNoMenu, RowKind::Command, C::kShowDebugger, "Debugger", nullptr, {Qt::Key_F12}, true},
    {kToolsMenu, RowKind::Command, C::kToolsMemory, "&Memory...", "Memory"},
    {kToolsMenu, RowKind::Command, C::kToolsLog, "&Log", "Log", {}, false, true},
    {kHelpMenu, RowKind::Command, C::kHelpAbout, "&About Kest...", "About"},
    {kNoMenu, RowKind::Command, C::kFullscreen, "Fullscreen", nullptr,
     {shortcut(Qt::ALT | Qt::Key_Return), shortcut(Qt::ALT | Qt::Key_Enter)}},
};
// The debugger window opens this much above the screen's centre.
constexpr int kDebuggerRaise = 200;
// A path in a message box; longer ones lose their middle.
constexpr std::size_t kBoxPathChars = 160;
// The status line shortens a path no further: it would no longer name a file.
constexpr std::size_t kShortestStatusPath = 16;
constexpr const char* kPointerHint = "Ctrl+Alt+G frees the mouse";

// The window whose open is under way, for the emulator's stop check.
CMainFrame* gOpeningFrame = nullptr;
QString boxPath(const std::string& path)
{
    return QString::fromStdString(shortenPath(path, kBoxPathChars));
}

bool isPointerReleaseKey(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::AltModifier;
    return key.key() == Qt::Key_G && (key.modifiers() & both) == both;
}

}  // namespace

std::string commandLinePath(const std::string& line)
{
    constexpr const char* kBlanks = " \t\n\v\f\r";
    if (line.size() < 2 || line.front() != '"' || line.back() != '"')
        return line;
    const std::string inside = line.substr(1, line.size() - 2);
    const std::size_t first = inside.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return line;
    return inside.substr(first, inside.find_last_not_of(kBlanks) - first + 1);
}

std::string localPath(const QString& path)
{
    std::string bytes = path.startsWith(QLatin1Char('/')) ? "/" : "";
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const std::string folder = bytes.empty() ? "." : bytes;
        std::string entry = QFile::encodeName(name).toStdString();
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::path(folder) / entry, error)) {
            int matches = 0;
            std::string found;
            std::filesystem::directory_iterator it(folder, error), end;
            for (; !error && it != end; it.increment(error)) {
                const std::string raw = it->path().filename().string();
                if (QFile::decodeName(raw.c_str()) == name && ++matches == 1)
                    found = raw;
            }
            if (matches == 1)
                entry = found;
        }
        if (!bytes.empty() && bytes.back() != '/')
            bytes += '/';
        bytes += entry;
    }
    return bytes;
}

CMainFrame::CMainFrame(std::string dataFolder, Dialogs& dialogs)
    : m_dialogs(dialogs), m_logWindow(QStringLiteral("Kest log")), m_console(true),
      m_kest(std::make_unique<KestDelegate>(&m_input)), m_sound(std::make_unique<DSound>(m_kest->getSystem())),
      m_emuX(m_kest.get()), m_graphic(&m_video), m_soundOut(m_sound.get()), m_inputOut(&m_input)
{
    m_console.attach(m_logWindow);
    if (!dataFolder.empty())
        m_kest->setDataFolder(std::move(dataFolder));
    setWindowTitle(QStringLiteral("Kest"));
    m_view = new CanvasView(this);
    m_view->setMinimumSize(kMinClientWidth, kMinClientHeight);
    m_view->setMouseTracking(true);
    m_view->setBackground(QImage(QStringLiteral(":/kest/background.png")));
    m_view->installEventFilter(this);
    installEventFilter(this);
    setCentralWidget(m_view);
    setWindowIcon(QIcon(QStringLiteral(":/kest/icon.png")));
    m_debugger = std::make_unique<DasmDlg>(m_kest->getSystem());
    m_debugger->installEventFilter(this);
    buildMenus();
}

CMainFrame::~CMainFrame()
{
    m_view->removeEventFilter(this);
    removeEventFilter(this);
    if (windowHandle())
        windowHandle()->removeEventFilter(this);
    m_debugger->removeEventFilter(this);
    if (m_memory)
        m_memory->removeEventFilter(this);
    if (opened())
        stop();
    saveLanguage(false);
}

void CMainFrame::saveLanguage(bool sayInWindow)
{
    // Only a choice of this run is written: another window's, or the
    // user's edit, stays.
    if (!m_created || m_languageSaved || !m_languageChosen)
        return;
    m_languageSaved = true;
    std::string why;
    if (writeBackLanguage(why))
        return;
    const std::string path = settingsPath();
    logSink().write(kLogError, "INI", "Settings not written back to %s: %s", path.c_str(), why.c_str());
    std::fprintf(stderr, "Kest: the language choice was not saved: %s: %s\n", path.c_str(), why.c_str());
    // Started from a desktop, the program has no terminal to be read. An
    // end by a signal waits for no answer.
    if (sayInWindow && !(m_endCheck && m_endCheck()))
        m_dialogs.message(this, QStringLiteral("The language choice was not saved: %1: %2")
                                    .arg(boxPath(path), QString::fromLocal8Bit(why.c_str())));
}

bool CMainFrame::writeBackLanguage(std::string& why) const
{
    const std::string path = settingsPath();
    // Gone since the start: the defaults again, rather than an empty file.
    if (!fileExists(path) && !language::writeDefaultSettings(path)) {
        why = std::strerror(errno);
        return false;
    }
    INI settings("", true);
    if (!settings.load(path)) {
        why = "it could not be read whole";
        return false;
    }
    // A file the user made read-only stays as it is.
    if (::access(path.c_str(), W_OK) != 0) {
        why = std::strerror(errno);
        return false;
    }
    settings.set("Language", "lang_code", m_languageCode);
    const std::string text = settings.save();
    if (!replaceFile(path, text.data(), text.size())) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

std::string CMainFrame::settingsPath() const
{
    return m_kest->dataPath("kest.ini");
}

void CMainFrame::setMedia(CEmuX* emulator, CGraphic* video, CSound* sound, CInput* input)
{
    m_emuX = emulator;
    m_graphic = video;
    m_soundOut = sound;
    m_inputOut = input;
}

QAction* CMainFrame::action(int id) const
{
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

QAction* CMainFrame::addCommand(QMenu* menu, int id, const QString& text, const QList<QKeySequence>& shortcuts)
{
    QAction* item = menu ? menu->addAction(text) : new QAction(text, this);
    if (!menu)
        addAction(item);
    item->setShortcuts(shortcuts);
    connect(item, &QAction::triggered, this, [this, id] { command(id, QGuiApplication::keyboardModifiers()); });
    m_actions[id] = item;
    return item;
}

void CMainFrame::buildMenus()
{
    QMenuBar* bar = menuBar();
    for (const TopMenu& top : kTopMenus)
        m_menus.push_back(bar->addMenu(QString::fromUtf8(top.text)));
    for (const MenuRow& row : kMenuRows) {
        QMenu* menu = row.menu == kNoMenu ? nullptr : m_menus[static_cast<std::size_t>(row.menu)];
        switch (row.kind) {
        case RowKind::Separator: menu->addSeparator(); break;
        case RowKind::LanguageMenu:
            m_languageMenu = menu->addMenu(QString::fromUtf8(row.text));
            m_languageGroup = new QActionGroup(this);
            addCommand(m_languageMenu, row.id, QStringLiteral("English"));
            break;
        case RowKind::Command: {
            QList<QKeySequence> shortcuts;
            for (int combined : row.keys) {
                if (combined != 0)
                    shortcuts << QKeySequence(combined);
            }
            QAction* item = addCommand(menu, row.id, QString::fromUtf8(row.text), shortcuts);
            // The Debug menu stays disabled; its keys work in the main window
            // and in the debugger window all the same.
            if (row.alsoInDebugger) {
                if (menu)
                    addAction(item);
                m_debugger->addAction(item);
            }
            break;
        }
        }
    }
    // The emulation holds still while a menu is open, and the picture takes
    // the keyboard back once the last one has closed: the menu bar would
    // keep it after Escape, reading the next letter as a menu's.
    for (QMenu* menu : m_menus) {
        connect(menu, &QMenu::aboutToShow, this, [this] {
            releaseHeldInput();
            pause();
        });
        connect(menu, &QMenu::aboutToHide, this, [this] {
            resume();
            QTimer::singleShot(0, m_view, [view = m_view] {
                if (!QApplication::activePopupWidget())
                    view->setFocus(Qt::OtherFocusReason);
            });
        });
    }
}

void CMainFrame::setGameMenuState(bool gameOpen)
{
    action(kFileOpen)->setEnabled(!gameOpen);
    action(kFileBoot)->setEnabled(!gameOpen);
    action(kFileClose)->setEnabled(gameOpen);
    action(kEmulationPause)->setEnabled(gameOpen);
    action(kEmulationReset)->setEnabled(gameOpen);
    m_menus[kDebugMenu]->setEnabled(false);
}

bool CMainFrame::create()
{
    // The log opens with the main window and stays for the whole run, below
    // it. The main window's own window is made first, so whatever looks the
    // program's windows up by title finds that one before any other.
    winId();
    m_logWindow.show();
    m_logWindow.lower();
    if (!init(this)) {
        showLogThenSay(QStringLiteral("Initialization failed!"));
        m_quit = true;
        return false;
    }
    m_created = true;
    setAcceptDrops(true);
    // While a save box asks from inside the window's close, Qt would let a
    // second close from the window system through and take the window away.
    windowHandle()->installEventFilter(this);
    return true;
}

bool CMainFrame::init(void*)
{
    const struct {
        CMedia* media;
        const char* name;
        void* window;
    } parts[] = {{m_graphic, "Graphic", m_view}, {m_soundOut, "Sound", this}, {m_inputOut, "Input", this},
                 {m_emuX, "EmuX", this}};
    for (const auto& part : parts) {
        if (!part.media->init(part.window)) {
            logSink().write(kLogError, "INIT", "%s", part.name);
            return false;
        }
    }

    // 800 x 600 of picture under the menu bar, centred on the screen.
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    // The debugger window, hidden until F12, is placed above the centre,
    // but never with its top off the screen.
    m_debugger->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const int centred = area.y() + (area.height() - m_debugger->height()) / 2;
        m_debugger->move(area.x() + (area.width() - m_debugger->width()) / 2,
                         std::max(area.y(), centred - kDebuggerRaise));
    }
    setGameMenuState(false);

    const std::string settings = settingsPath();
    if (!fileExists(settings))
        language::writeDefaultSettings(settings);
    {
        INI ini(settings, true);
        m_languageCode = ini.findSection("Language").findKey("lang_code").value;
    }
    buildLanguageMenu();
    setupLanguage();

    m_kest->prepare(std::make_shared<CIoctl>(std::make_unique<SgTransport>()));
    m_kest->setStopCheck(&CMainFrame::openInterrupted);
    return true;
}

void CMainFrame::start()
{
    setGameMenuState(true);
    m_emuX->start();
    m_graphic->start();
    m_soundOut->start();
    m_inputOut->start();
    CMedia::start();
    m_shownStatus.clear();
}

void CMainFrame::stop()
{
    m_emuX->stop();
    m_graphic->stop();
    m_soundOut->stop();
    m_inputOut->stop();
    CMedia::stop();
    updatePointerCapture();
    setGameMenuState(false);
}

bool CMainFrame::resume()
{
    if (!CMedia::resume())
        return false;
    m_fps.beginTimerPeriod();
    m_emuX->resume();
    m_graphic->resume();
    m_soundOut->resume();
    return true;
}

bool CMainFrame::pause()
{
    if (!CMedia::pause())
        return false;
    m_fps.endTimerPeriod();
    m_emuX->pause();
    m_graphic->pause();
    m_soundOut->pause();
    m_inputOut->pause();
    return true;
}

bool CMainFrame::update()
{
    if (!opened() || !running()) {
        host::sleepMs(1);
        return false;
    }
    m_inputOut->update();
    hostDisplaySize = m_kest->getSystem().getDisplaySize();
    // Held, the machine runs nothing this tick and so draws nothing: the
    // tick's exact end shows nowhere.
    const bool held = debugBreak != 0;
    m_fps.tick(true, !held);
    char status[kStatusBytes];
    // A save that could not be written stays in view until it is.
    char trouble[kStatusBytes / 2];
    fitSaveTrouble(trouble, sizeof trouble);
    std::snprintf(status, sizeof status, "FPS: %.0f/%.0f(%.0f%%) CPU: %d%% %dx%d %s %s\n", m_fps.getRate(false),
                  m_fps.getTargetRate(), m_fps.getRate(true), measureCpuUsage(),
                  static_cast<int>(hostDisplaySize.width), static_cast<int>(hostDisplaySize.height),
                  kDebugModeNames[videoDebugMode % 3], trouble[0] ? trouble : m_pointerCaptured ? kPointerHint : "");
    m_graphic->setText(status);
    // A save the game lost to another program is said as its open's are.
    if (saveNoticeCount() != m_saveNotices)
        QTimer::singleShot(0, this, [this] { sayInUseSaves(); });
    // A stop already pending is the pause command's, not the machine's.
    const bool stoppedBefore = debugStopped != 0;
    m_emuX->update();
    // Only the machine draws into the canvas, and the status line names the
    // picture's size: a held picture under the same text is on screen
    // already, and an expose repaints it from the canvas.
    const bool redraw = !held || m_graphic->text() != m_shownStatus;
    if (redraw)
        m_graphic->update();
    m_soundOut->update();
    if (debugStopped) {
        // A breakpoint would stop the game unseen: the debugger comes up at
        // its line, and the hold is the debugger's. A pause or a step's end
        // only refreshes it.
        if (!stoppedBefore && atBreakpoint()) {
            m_paused = false;
            showDebugger();
        } else {
            m_debugger->refresh();
        }
        debugStopped = 0;
    }
    if (redraw) {
        m_graphic->present();
        m_shownStatus = m_graphic->text();
    }
    return true;
}

void CMainFrame::fitSaveTrouble(char* out, std::size_t size)
{
    // On a line of its own: after the figures it would not fit the picture.
    out[0] = '\n';
    char* line = out + 1;
    const std::size_t room = size - 1;
    if (copySaveTrouble(line, room) == 0) {
        out[0] = '\0';
        return;
    }
    const QFontMetrics metrics(CanvasView::statusFont());
    const auto fits = [&] { return metrics.horizontalAdvance(QString::fromUtf8(line)) <= m_view->width(); };
    if (!m_view->isVisible() || fits())
        return;
    // The longest path that leaves the reason after it in view.
    std::size_t shortest = kShortestStatusPath;
    std::size_t longest = room;
    while (shortest + 1 < longest) {
        const std::size_t middle = (shortest + longest) / 2;
        copySaveTrouble(line, room, middle);
        (fits() ? shortest : longest) = middle;
    }
    copySaveTrouble(line, room, shortest);
}

bool CMainFrame::atBreakpoint()
{
    CPU& cpu = *m_kest->getSystem().getCpu(0);
    const Breakpoint* stop = cpu.findBreakpoint(cpu.getPC());
    return stop && stop->enabled;
}

void CMainFrame::showDebugger()
{
    m_debugger->refresh();
    m_debugger->show();
    m_debugger->raise();
    m_debugger->activateWindow();
}

void CMainFrame::openFile(const std::string& path, int mode)
{
    // One open at a time: a drop let through while one runs is dropped,
    // as is one that comes after Exit or while a save box asks.
    if (m_opening || m_quit || m_asking)
        return;
    const auto refuse = [&] {
        // The box says why; the log window, brought forward, says the rest.
        const QString reason = QString::fromStdString(m_kest->openError());
        const QString what = path.empty() ? QStringLiteral("Nothing to boot")
                                          : QStringLiteral("Cannot start %1").arg(boxPath(path));
        showLogThenSay(reason.isEmpty() ? what + QStringLiteral(": see kest.ini and the log.")
                                        : what + QStringLiteral(":\n\n") + reason);
    };
    // Whether the file can start is known before the running game is touched.
    m_opening = true;
    m_openCancel = OpenCancel::kNone;
    gOpeningFrame = this;
    action(kFileClose)->setEnabled(true);
    const bool ready = m_kest->prepareOpen(path, mode);
    gOpeningFrame = nullptr;
    m_opening = false;
    setGameMenuState(opened());
    switch (std::exchange(m_openCancel, OpenCancel::kNone)) {
    case OpenCancel::kExit: command(kFileExit, Qt::NoModifier); return;
    case OpenCancel::kClose:
        if (opened())
            onFileClose();
        return;
    case OpenCancel::kNone: break;
    }
    if (!ready) {
        // Cut short because the program ends: there is nothing to explain.
        if (!m_kest->openStopped())
            refuse();
        return;
    }
    if (!writeSavesBeforeLettingGo(false)) {
        m_kest->dropOpen();
        return;
    }
    m_filePath = QFile::decodeName(path.c_str());
    // The running game stops, and writes its files, before another loads.
    if (opened()) {
        pause();
        stop();
    }
    debugBreak = 0;
    if (!m_kest->finishOpen()) {
        refuse();
        return;
    }
    start();
    m_fps.setRate(m_kest->getSystem().pal ? 50.0 : 60.0);
    resume();
    updatePointerCapture();
    sayInUseSaves();
}

void CMainFrame::sayInUseSaves()
{
    // Said once the box has answered: the next tick brings it.
    if (m_asking)
        return;
    m_saveNotices = saveNoticeCount();
    const auto unsaid = [this](const std::vector<std::string>& paths, const char* kind) {
        QString list;
        for (const std::string& path : paths) {
            const std::string key = kind + path;
            if (std::find(m_saidInUse.begin(), m_saidInUse.end(), key) != m_saidInUse.end())
                continue;
            m_saidInUse.push_back(key);
            list += QStringLiteral("\n") + boxPath(path);
        }
        return list;
    };
    const QString inUse = unsaid(savesInUse(), "in use:");
    const QString unlocked = unsaid(savesWithoutLocks(), "no locks:");
    if (m_quit)
        return;
    QString text;
    if (!inUse.isEmpty())
        text = QStringLiteral("Another running Kest uses these save files. This one leaves them as they are: what "
                              "its game saves in them is written only where the other has let go of them unchanged "
                              "by the time this game is let go. Closing this game and opening it again then takes "
                              "the files over.\n") + inUse;
    if (!unlocked.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n\n")) +
                QStringLiteral("These save files are on a file system that takes no locks, so a second running Kest "
                               "is not kept out of them. A save file changed by another program is still not "
                               "written over.\n") + unlocked;
    if (text.isEmpty())
        return;
    m_dialogs.message(this, text);
    takeKeyboardBack();
}

namespace {

// A lost save for a box: its path shortened, never its reason.
QString boxLine(LostSave lost)
{
    lost.path = shortenPath(lost.path, kBoxPathChars);
    return QStringLiteral("\n") + QString::fromStdString(describeLost(lost));
}

}  // namespace

bool CMainFrame::writeSavesBeforeLettingGo(bool exiting)
{
    // An end by a signal waits for no answer.
    const auto ending = [this] { return m_endCheck && m_endCheck(); };
    if (!opened())
        return true;
    m_earlierLosses.clear();
    for (const LostSave& lost : lostSaves()) {
        if (!lost.current)
            m_earlierLosses.push_back(lost.path);
    }
    if (ending())
        return true;
    // Held still, so the box and the files see the same memory.
    const bool wasRunning = running();
    pause();
    const QString without = exiting ? QStringLiteral("&Quit without saving") : QStringLiteral("&Close without saving");
    for (;;) {
        m_kest->writeSaves();
        // An earlier game's are gone with it: no try could end.
        std::vector<LostSave> failing = lostSaves();
        std::erase_if(failing, [](const LostSave& lost) { return !lost.current; });
        if (failing.empty())
            return true;
        QString list;
        bool fixable = false;
        for (const LostSave& lost : failing) {
            list += boxLine(lost);
            if (!lost.fixable)
                list += QStringLiteral("; cannot be written while this game runs");
            fixable = fixable || lost.fixable;
        }
        QStringList answers = {without, QStringLiteral("Cancel")};
        if (fixable)
            answers.prepend(QStringLiteral("&Try again"));
        const QString loses = exiting ? QStringLiteral("quitting without saving loses what the game saved in them.")
                                      : QStringLiteral("closing without saving loses what the game saved in them.");
        const QString advice = fixable ? QStringLiteral("Put right what stops them, then try again; ") + loses
                                       : loses.at(0).toUpper() + loses.mid(1);
        m_asking = true;
        const int answer = m_dialogs.choose(
            this, QStringLiteral("These saves could not be written:\n") + list + QStringLiteral("\n\n") + advice,
            answers);
        m_asking = false;
        takeKeyboardBack();
        if (ending() || answers.value(answer) == without) {
            for (const LostSave& lost : failing)
                m_quitWithout.push_back(lost.path);
            // The signal's Exit came while the box asked, and was dropped.
            if (ending() && !exiting) {
                command(kFileExit, Qt::NoModifier);
                return false;
            }
            return true;
        }
        if (answer == answers.size() - 1) {
            if (wasRunning)
                resume();
            return false;
        }
    }
}

void CMainFrame::sayUnwrittenSaves(bool sayInWindow)
{
    const std::vector<LostSave> lost = lostSaves();
    if (lost.empty())
        return;
    m_exitStatus = 1;
    QString last, earlier;
    for (const LostSave& save : lost) {
        const std::string line = describeLost(save);
        logSink().write(kLogError, "KEST", "Save not written at the end: %s", line.c_str());
        std::fprintf(stderr, "Kest: save not written: %s\n", line.c_str());
        // Named once: the box the user quit from named these already.
        if (std::find(m_quitWithout.begin(), m_quitWithout.end(), save.path) != m_quitWithout.end())
            continue;
        // After a Try again that worked, an earlier game's loss must not read as the fix's failure.
        const bool before = std::ranges::find(m_earlierLosses, save.path) != m_earlierLosses.end();
        (before ? earlier : last) += boxLine(save);
    }
    QString text;
    if (!last.isEmpty())
        text = QStringLiteral("These saves were not written: what the game saved in them is lost.\n") + last;
    if (!earlier.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n\n")) +
                QStringLiteral("These saves of an earlier game were not written: what it saved in them is lost.\n") +
                earlier;
    if (sayInWindow && !text.isEmpty() && !(m_endCheck && m_endCheck()))
        m_dialogs.message(this, text);
}

void CMainFrame::saveBeforeExit()
{
    if (opened())
        m_kest->writeSaves();
    sayUnwrittenSaves(false);
    saveLanguage(false);
}

bool CMainFrame::openInterrupted()
{
    CMainFrame* frame = gOpeningFrame;
    if (!frame)
        return false;
    if (frame->m_endCheck && frame->m_endCheck())
        return true;
    // The window stays answerable: command takes Exit and Close and drops
    // the rest until the open ends.
    QCoreApplication::processEvents();
    return frame->m_openCancel != OpenCancel::kNone;
}

void CMainFrame::command(int id, Qt::KeyboardModifiers modifiers)
{
    if (m_opening) {
        if (id == kFileExit)
            m_openCancel = OpenCancel::kExit;
        else if (id == kFileClose && m_openCancel == OpenCancel::kNone)
            m_openCancel = OpenCancel::kClose;
        return;
    }
    // The box is answered first; a signal's Exit is taken once it has been.
    if (m_asking)
        return;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    if (id >= language::kFirstCommand && id <= language::kLastCommand) {
        onLanguage(id - language::kFirstCommand);
        return;
    }
    CSystem& machine = m_kest->getSystem();
    switch (id) {
    case kFileOpen: onFileOpen(modifiers); break;
    case kFileBoot: openFile(QString(), shift ? 1 : 0); break;
    case kFileClose: onFileClose(); break;
    case kFileExit:
        m_quit = true;
        close();
        break;
    case kEmulationPause: onEmulationPause(); break;
    case kEmulationReset:
        if (shift)
            m_kest->softReset();
        else
            m_emuX->reset();
        break;
    case kDebugRun: onDebugRun(modifiers); break;
    case kDebugStepInto: machine.debugStepInto(machine.getCpu(0)); break;
    case kDebugStepOver: machine.debugStepOver(machine.getCpu(0)); break;
    case kDebugStepOut: machine.debugStepOut(machine.getCpu(0)); break;
    case kHelpAbout:
        m_dialogs.about(this, QString::fromStdString(m_kest->getInfo(0)), QString::fromStdString(m_kest->getInfo(1)),
                        language::credits(language::filePath(m_kest->dataPath("lang"), m_languageCode)));
        takeKeyboardBack();
        break;
    case kFullscreen:
        m_dialogs.message(this, QStringLiteral("Fullscreen"));
        takeKeyboardBack();
        break;
    case kToolsMemory: onToolsMemory(); break;
    case kToolsLog: showLog(); break;
    case kShowDebugger: showDebugger(); break;
    default: break;
    }
}

void CMainFrame::onFileOpen(Qt::KeyboardModifiers modifiers)
{
    QString path;
    if (modifiers.testFlag(Qt::ShiftModifier) && modifiers.testFlag(Qt::ControlModifier)) {
        QStringList drives;
        for (const std::string& drive : listCdDrives())
            drives << QString::fromStdString(drive);
        if (drives.isEmpty()) {
            m_dialogs.message(this, QStringLiteral("No CD drive found."));
            takeKeyboardBack();
            return;
        }
        path = m_dialogs.chooseDrive(this, drives);
    } else {
        path = m_dialogs.openFile(this, QString::fromUtf8(modifiers.testFlag(Qt::ShiftModifier) ? kArcadeFilter
                                                                                               : kDiscFilter));
    }
    takeKeyboardBack();
    if (!path.isEmpty())
        openFile(path, 0);
}

void CMainFrame::onFileClose()
{
    if (!writeSavesBeforeLettingGo(false))
        return;
    pause();
    stop();
    m_view->setShowCanvas(false);
}

void CMainFrame::showLog()
{
    // Never activated: the game pauses when its window loses the keyboard.
    m_logWindow.flush();
    m_logWindow.show();
    m_logWindow.raise();
}

void CMainFrame::showLogThenSay(const QString& text)
{
    showLog();
    m_dialogs.message(this, text);
    takeKeyboardBack();
}

void CMainFrame::takeKeyboardBack()
{
    // The window system hands the keyboard on when a dialog closes; without
    // a window manager it hands it to no window at all.
    const QWidget* active = QApplication::activeWindow();
    if (isVisible() && (!active || !active->isVisible()))
        activateWindow();
}

void CMainFrame::releaseHeldInput()
{
    for (const HeldKey& held : std::exchange(m_heldKeys, {})) {
        m_input.keyEvent(held.hostKey, false);
        onKey(held.key, Qt::NoModifier, false);
    }
    for (int button = 0; button < CDInput8::kMouseButtons; ++button)
        m_input.mouseButton(button, false);
}

void CMainFrame::onEmulationPause()
{
    if (!debugBreak) {
        m_paused = true;
        debugBreak = 1;
        debugStopped = 1;
        m_soundOut->stop();
        logSink().write(kLogDebug, "", "PAUSE2");
    } else {
        m_paused = false;
        debugBreak = 0;
        m_soundOut->start();
        m_soundOut->resume();
        logSink().write(kLogError, "", "PAUSE1");
    }
}

void CMainFrame::onDebugRun(Qt::KeyboardModifiers modifiers)
{
    CSystem& machine = m_kest->getSystem();
    if (machine.runState() == kOff) {
        // Armed once the boot is done, so a boot that fails leaves no stop
        // behind for the next disc; no instruction runs in between.
        openFile(QString(), modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0);
        if (machine.runState() != kOff)
            machine.getCpu(0)->runTo(kDebugRunStop);
    }
    machine.debugRun();
}

void CMainFrame::onDebuggerClosed()
{
    // Held by a breakpoint (or a step from one), the game would stand still
    // with nothing in view to say why: it runs on. A pause made with
    // Emulation > Pause stays until Pause again, steps or not.
    if (opened() && debugBreak && !m_paused)
        m_kest->getSystem().debugRun();
    takeKeyboardBack();
}

void CMainFrame::onToolsMemory()
{
    if (!m_memory) {
        m_memory = std::make_unique<MemoryDlg>(m_kest->getSystem());
        m_memory->installEventFilter(this);
    }
    m_memory->show();
    m_memory->raise();
    m_memory->activateWindow();
}

void CMainFrame::followActivation()
{
    // The debugger and memory windows count as the program's own: the
    // machine keeps running, and stepping, while one of them is in front.
    const QWidget* active = QApplication::activeWindow();
    if (active == this || (active && (active == m_debugger.get() || active == m_memory.get())))
        resume();
    else
        pause();
    if (!isActiveWindow()) {
        m_pointerReleased = false;  // leaving forgets the release key: back in front, it is held again
        releaseHeldInput();
    }
    updatePointerCapture();
}

bool CMainFrame::mouseAttached()
{
    SMPC& smpc = m_kest->getSystem().smpc();
    for (int port = 0; port < 2; ++port) {
        if (dynamic_cast<const Mouse*>(smpc.getPort(port).peripheral().get()))
            return true;
    }
    return false;
}

void CMainFrame::updatePointerCapture()
{
    const bool wanted = opened() && isActiveWindow() && !m_pointerReleased && mouseAttached();
    if (wanted == m_pointerCaptured)
        return;
    m_pointerCaptured = wanted;
    // Merged motion events would hide the moves made before a warp was
    // seen, so each one is delivered while the pointer is held.
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, !wanted && m_compressMoves);
    if (wanted) {
        m_view->setCursor(Qt::BlankCursor);
        m_view->grabMouse();
        m_lastPointer = m_view->mapFromGlobal(QCursor::pos());
        centrePointer();
    } else {
        m_view->releaseMouse();
        m_view->unsetCursor();
    }
}

void CMainFrame::centrePointer()
{
    m_warpPending = true;
    QCursor::setPos(m_view->mapToGlobal(m_view->rect().center()));
}

void CMainFrame::buildLanguageMenu()
{
    bool anyFile = false;
    m_languages = language::find(m_kest->dataPath("lang"), &anyFile);
    // The placeholder goes once any language file is there, even when
    // none of them names a valid language.
    if (!anyFile)
        return;
    for (std::size_t i = 0; i < m_languages.size(); ++i) {
        QAction* item = addCommand(m_languageMenu, m_languages[i].command, m_languages[i].label);
        item->setCheckable(true);
        m_languageGroup->addAction(item);
    }
    QAction* placeholder = action(kLanguagePlaceholder);
    m_languageMenu->removeAction(placeholder);
    m_actions.erase(kLanguagePlaceholder);
    delete placeholder;
}

bool CMainFrame::applyLanguage(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_languages.size())
        return false;
    const std::string& code = m_languages[static_cast<std::size_t>(index)].code;
    const std::string path = language::filePath(m_kest->dataPath("lang"), code);
    if (!fileExists(path))
        return false;
    m_languageCode = code;
    INI ini(path, true);
    const auto text = [&](const char* section, const char* key) {
        return QString::fromUtf8(ini.findSection(section).findKey(key).value);
    };
    for (std::size_t i = 0; i < m_menus.size(); ++i)
        m_menus[i]->setTitle(text("Menu", kTopMenus[i].key));
    for (const MenuRow& row : kMenuRows) {
        if (!row.key)
            continue;
        if (row.kind == RowKind::LanguageMenu) {
            m_languageMenu->menuAction()->setText(text("Language", row.key));
        } else {
            const bool missing = ini.findSection("Menu").findKey(row.key).key.empty();
            action(row.id)->setText(missing && row.englishWhenMissing ? QString::fromUtf8(row.text)
                                                                      : text("Menu", row.key));
        }
    }
    // The states follow the game, which a language change leaves running.
    setGameMenuState(opened());
    return true;
}

void CMainFrame::setupLanguage()
{
    for (std::size_t i = 0; i < m_languages.size(); ++i) {
        if (m_languages[i].code == m_languageCode && applyLanguage(static_cast<int>(i))) {
            action(m_languages[i].command)->setChecked(true);
            m_selectedLanguage = static_cast<int>(i);
        }
    }
}

void CMainFrame::onLanguage(int index)
{
    if (m_languages.empty() || index == m_selectedLanguage)
        return;
    if (applyLanguage(index)) {
        m_selectedLanguage = index;
        m_languageChosen = true;
    }
    // The group checked what was clicked; the check follows the language in force.
    if (m_selectedLanguage >= 0)
        action(m_languages[static_cast<std::size_t>(m_selectedLanguage)].command)->setChecked(true);
    else if (QAction* checked = m_languageGroup->checkedAction())
        checked->setChecked(false);
}

void CMainFrame::onKey(int key, Qt::KeyboardModifiers modifiers, bool down)
{
    // A release always gets through: a key let go after File > Close must
    // not stay pressed for the next game.
    if (!opened() && down)
        return;
    // The keypad's digits are other keys than the main row's.
    const bool digitRow = !modifiers.testFlag(Qt::KeypadModifier);
    if (down && digitRow && key >= Qt::Key_1 && key <= Qt::Key_9) {
        layerDebugSwitches[key - Qt::Key_1] ^= 1;
        return;
    }
    if (down && digitRow && key == Qt::Key_0) {
        videoDebugMode = static_cast<u8>((videoDebugMode + 1) % 3);
        return;
    }
    if (key == Qt::Key_M) {
        soundTestInterrupt = down ? 1 : 0;
        return;
    }
    // Letter keys: Qt's code of a letter key is its capital's code.
    static_assert(Qt::Key_A == 'A' && Qt::Key_Z == 'Z');
    if (const HostPadButton* button = hostPadButtonOfKey(key))
        setHostPadButton(*button, down);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle()) {
        if (event->type() != QEvent::Close || !m_asking)
            return false;
        event->ignore();
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->raise();
            box->activateWindow();
        }
        return true;
    }
    if (watched == m_debugger.get() || (m_memory && watched == m_memory.get())) {
        if (event->type() == QEvent::ActivationChange)
            followActivation();
        else if (watched == m_debugger.get() && event->type() == QEvent::Hide)
            onDebuggerClosed();
        return false;
    }
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (m_pointerCaptured && event->type() == QEvent::KeyPress && isPointerReleaseKey(*key)) {
            m_pointerReleased = true;
            updatePointerCapture();
            return true;
        }
        if (!key->isAutoRepeat()) {
            const bool down = event->type() == QEvent::KeyPress;
            const u8 hostKey = hostKeyOf(*key);
            std::erase_if(m_heldKeys, [&](const HeldKey& held) { return held.key == key->key(); });
            if (down)
                m_heldKeys.push_back({key->key(), hostKey});
            m_input.keyEvent(hostKey, down);
            onKey(key->key(), key->modifiers(), down);
        }
        return true;
    }
    case QEvent::FocusOut:
        // A menu, the menu bar or another window has the keyboard now.
        if (watched == m_view)
            releaseHeldInput();
        return false;
    case QEvent::MouseMove: {
        if (watched != m_view)
            return false;
        // The pointer goes back to the centre after every move, so the
        // motion is the mouse's own, not bounded by the window. Moves made
        // before the warp took effect count from the last position; the
        // warp's own arrival at the centre counts nothing.
        if (!m_pointerCaptured)
            return false;
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        const QPoint centre = m_view->rect().center();
        if (m_warpPending && at == centre) {
            m_warpPending = false;
        } else if (at != m_lastPointer) {
            m_input.mouseMove(at.x() - m_lastPointer.x(), at.y() - m_lastPointer.y());
            if (at != centre)
                centrePointer();
        }
        m_lastPointer = at;
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        if (watched != m_view)
            return false;
        // With the pointer let go, a click on the picture takes it again.
        if (!m_pointerCaptured && m_pointerReleased && event->type() == QEvent::MouseButtonPress) {
            m_pointerReleased = false;
            updatePointerCapture();
            if (m_pointerCaptured)
                return true;  // that click is not the game's
        }
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        const int index = button == Qt::LeftButton ? 0 : button == Qt::RightButton ? 1 : button == Qt::MiddleButton ? 2 : -1;
        m_input.mouseButton(index, event->type() == QEvent::MouseButtonPress);
        return false;
    }
    case QEvent::Wheel:
        m_input.mouseWheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

void CMainFrame::changeEvent(QEvent* event)
{
    // The emulation holds still while the window is not the active one.
    if (event->type() == QEvent::ActivationChange)
        followActivation();
    QMainWindow::changeEvent(event);
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_view->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Asked while a file opens: the open ends first, then the window.
    if (m_opening) {
        m_openCancel = OpenCancel::kExit;
        event->ignore();
        return;
    }
    if (!writeSavesBeforeLettingGo(true)) {
        m_quit = false;
        event->ignore();
        return;
    }
    m_quit = true;
    if (opened())
        stop();
    sayUnwrittenSaves(true);
    saveLanguage(true);
    m_logWindow.flush();
    m_logWindow.close();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    // Opened once the drop is over: the window system is still inside its
    // drop while this runs, and an Exit taken during the open, or during
    // the box refusing the file, would take the window from under it.
    // By its bytes: a name that is not UTF-8 stays percent-encoded in the URL.
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        const QByteArray path = QByteArray::fromPercentEncoding(urls.first().path(QUrl::FullyEncoded).toLatin1());
        QTimer::singleShot(0, this, [this, path = path.toStdString()] { openFile(path, 0); });
    }
}
