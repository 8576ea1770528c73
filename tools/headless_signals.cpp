#include "tools/headless_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

namespace {

const struct {
    int signal;
    const char* why;
} kStopSignals[] = {
    {SIGINT, "interrupted (SIGINT)"},
    {SIGTERM, "terminated (SIGTERM)"},
    {SIGHUP, "hung up (SIGHUP)"},
    {SIGPIPE, "its output pipe was closed (SIGPIPE)"},
};

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gOwesSaves = 0;
// Stop signals past the first, closed pipes aside.
volatile sig_atomic_t gAgain = 0;
volatile sig_atomic_t gEndingAtOnce = 0;

const char* why(int signal)
{
    for (const auto& s : kStopSignals) {
        if (s.signal == signal)
            return s.why;
    }
    return "stopped by a signal";
}

// From the handler: one write(2) of a line built on the stack.
void sayEndingAtOnce()
{
    char line[192];
    std::size_t n = 0;
    const auto add = [&](const char* text) {
        while (*text && n < sizeof line)
            line[n++] = *text++;
    };
    add("kest-headless: ");
    add(why(gStop));
    add(", then stopped at once by another signal");
    add(gOwesSaves ? "; the game's saves were not written\n" : "\n");
    if (::write(STDERR_FILENO, line, n) < 0)
        return;
}

void noteStop(int signal)
{
    if (!gStop) {
        gStop = signal;
        return;
    }
    if (signal == SIGPIPE || gEndingAtOnce)
        return;
    // A second signal waits for the saves, which take milliseconds, so a
    // Ctrl+C forwarded on top of a SIGTERM loses no game; a third does not.
    gAgain = gAgain + 1;
    if (gOwesSaves && gAgain < 2)
        return;
    gEndingAtOnce = 1;
    sayEndingAtOnce();
    // The status is the first signal's, as for a run that stopped between
    // fields; blocked in here, it ends the process as the handler returns.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(gStop, &byDefault, nullptr);
    ::raise(gStop);
}

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const auto& s : kStopSignals)
        sigaddset(&set, s.signal);
    return set;
}

}  // namespace

void catchStopSignals()
{
    // Without SA_RESTART, a write blocked on a pipe nobody reads gives up,
    // and the run gets to look at the note.
    struct sigaction action {};
    action.sa_handler = noteStop;
    // One at a time, so none is miscounted.
    action.sa_mask = stopSet();
    // One ignored at the start stays so: a run under nohup outlives its
    // terminal, a background job of a script ignores Ctrl+C.
    for (const auto& s : kStopSignals) {
        struct sigaction was {};
        if (::sigaction(s.signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN)
            continue;
        ::sigaction(s.signal, &action, nullptr);
    }
    ::signal(SIGXFSZ, SIG_IGN);
}

void holdStopSignals(bool hold)
{
    const sigset_t set = stopSet();
    ::pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

int stopSignal()
{
    return gStop;
}

void owesSaves(bool owes)
{
    gOwesSaves = owes;
}

void endBySignal(int signal)
{
    std::fflush(stdout);
    std::fprintf(stderr, "kest-headless: %s; unfinished outputs were removed\n", why(signal));
    ::signal(signal, SIG_DFL);
    holdStopSignals(false);
    ::raise(signal);
    ::_exit(128 + signal);
}
