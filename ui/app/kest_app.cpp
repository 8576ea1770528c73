#include "ui/app/kest_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "ui/app/main_frame.h"

bool CKestApp::setWorkingDirectory(const std::string& folder)
{
    return ::chdir(folder.c_str()) == 0;
}

std::string CKestApp::commandLine(int argc, char** argv, const std::string& startFolder)
{
    std::string line;
    for (int i = 1; i < argc; ++i)
        line += (i > 1 ? " " : "") + std::string(argv[i]);
    const std::string path = commandLinePath(line);
    if (path.empty() || path.front() == '/')
        return path;
    return (std::filesystem::path(startFolder) / path).lexically_normal().string();
}

namespace {

// The pipe the handler wakes the event loop through.
volatile sig_atomic_t signalWriter = -1;
int signalReader = -1;
// Seen by an open that runs long, while the event loop waits for it.
volatile sig_atomic_t endRequested = 0;

bool endIsRequested()
{
    return endRequested != 0;
}

void onEndSignal(int)
{
    endRequested = 1;
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a byte that wakes the loop.
    if (signalWriter >= 0 && ::write(signalWriter, &byte, 1) < 0)
        errno = saved;
    errno = saved;
}

}  // namespace

bool CKestApp::catchEndSignals()
{
    // A handler may do almost nothing: it writes a byte, and the event loop
    // does the rest as File > Exit would, saves included. Caught before the
    // window is made: the sound library would otherwise take the signals
    // for itself, and one sent meanwhile would be lost.
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return false;
    signalReader = fds[0];
    signalWriter = fds[1];
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal hangs up; the log written to it, or to a pipe whose
    // reader has gone, fails quietly instead of ending the program.
    ::signal(SIGPIPE, SIG_IGN);
    // One ignored at the start stays so (nohup, a script's background job);
    // the sound library leaves it alone too, as it is not the default.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction was = {};
        if (::sigaction(signal, nullptr, &was) != 0)
            return false;
        if (was.sa_handler != SIG_IGN && ::sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    return true;
}

namespace {

CMainFrame* frameAtExit = nullptr;

void writeSavesAtExit()
{
    if (frameAtExit)
        frameAtExit->saveBeforeExit();
}

}  // namespace

void CKestApp::saveAtExit(CMainFrame* frame)
{
    static const bool registered = std::atexit(writeSavesAtExit) == 0;
    (void)registered;
    frameAtExit = frame;
}

void CKestApp::endOnSignals(CMainFrame& frame)
{
    if (signalReader < 0)
        return;
    frame.setEndCheck(&endIsRequested);
    // A signal already caught has left its byte: the notifier fires at once.
    auto* notifier = new QSocketNotifier(signalReader, QSocketNotifier::Read, &frame);
    QObject::connect(notifier, &QSocketNotifier::activated, &frame, [&frame, fd = signalReader] {
        char bytes[16];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
        // A message box waiting for an answer would hold the exit back.
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        frame.command(CMainFrame::kFileExit, Qt::NoModifier);
    });
}

int CKestApp::run(CMainFrame& frame)
{
    while (!frame.quitRequested()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Only an event loop of Qt's own would delete what asked for it.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (frame.quitRequested())
            break;
        frame.update();
    }
    return frame.exitStatus();
}
