#include "tools/headless_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

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

void noteStop(int signal)
{
    if (!gStop) {
        gStop = signal;
        return;
    }
    if (signal == SIGPIPE)
        return;
    // A second signal waits for the saves, which take milliseconds, so a
    // Ctrl+C forwarded on top of a SIGTERM loses no game; a third does not.
    gAgain = gAgain + 1;
    if (gOwesSaves && gAgain < 2)
        return;
    ::signal(signal, SIG_DFL);
    ::raise(signal);
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
    for (const auto& s : kStopSignals)
        ::sigaction(s.signal, &action, nullptr);
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
    const char* why = "stopped by a signal";
    for (const auto& s : kStopSignals) {
        if (s.signal == signal)
            why = s.why;
    }
    std::fprintf(stderr, "kest-headless: %s; unfinished outputs were removed\n", why);
    ::signal(signal, SIG_DFL);
    holdStopSignals(false);
    ::raise(signal);
    ::_exit(128 + signal);
}
