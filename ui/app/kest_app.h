#pragma once

#include <string>

class CMainFrame;

// The application: its main loop dispatches what the window system has
// waiting and, whenever nothing waits, lets the window run one tick, which
// emulates and shows one field (or sleeps 1 ms with no game running).
// Modal dialogs run their own loops, so no tick runs inside them.
class CKestApp {
public:
    // Moves into folder, the executable's, named by its bytes: a name that
    // is not UTF-8 would not survive a QString.
    static bool setWorkingDirectory(const std::string& folder);
    // The command line's path, by its bytes, from the arguments after the
    // program's name; a relative one is made absolute against startFolder,
    // the folder the user started the program in (before
    // setWorkingDirectory moved it).
    static std::string commandLine(int argc, char** argv, const std::string& startFolder);
    static int run(CMainFrame& frame);
    // SIGTERM, SIGINT and SIGHUP end the program as File > Exit does:
    // caught from the start, answered once the window's event loop runs.
    static bool catchEndSignals();
    static void endOnSignals(CMainFrame& frame);
    // The window system ends the program with exit() when its display goes
    // away; frame's saves and language are then written on the way out.
    // Null once the window has ended the usual way.
    static void saveAtExit(CMainFrame* frame);
};
