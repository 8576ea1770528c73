// Kest, the desktop program: the main window on the emulator.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "ui/app/dialogs.h"
#include "ui/app/kest_app.h"
#include "ui/app/main_frame.h"

namespace {

constexpr const char* kNoDisplay =
    "Kest: no display found, so there is no window to open (DISPLAY and WAYLAND_DISPLAY name none that answers).\n"
    "./kest.sh headless runs the emulator without one.\n";

bool set(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

// Qt's only answer to a display it cannot reach is to abort; while the
// application starts, that becomes a plain message and status 1.
void onStartMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    std::fputs(kNoDisplay, stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    CKestApp::catchEndSignals();
    const QtMessageHandler previous = qInstallMessageHandler(onStartMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("Kest"));
    const QString startFolder = QDir::currentPath();
    std::error_code noFolder;
    const std::string startBytes = std::filesystem::current_path(noFolder).string();
    QtDialogs dialogs(startFolder);
    // On the heap, so an exit handler that reached it after its end would
    // be a use after free that the sanitizers name. Its data folder is the
    // program's own.
    auto frame = std::make_unique<CMainFrame>(std::string(), dialogs);
    CKestApp::setWorkingDirectory(frame->emulator().dataFolder());
    if (!frame->create())
        return 1;
    frame->show();
    CKestApp::endOnSignals(*frame);
    CKestApp::saveAtExit(frame.get());
    // Qt took its own options out of argv.
    const std::string path = CKestApp::commandLine(argc, argv, startBytes);
    if (!path.empty())
        frame->openFile(path, 0);
    const int status = CKestApp::run(*frame);
    CKestApp::saveAtExit(nullptr);
    frame.reset();
    return status;
}
