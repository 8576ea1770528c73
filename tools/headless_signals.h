#pragma once

// Signals that end a run early (interrupt, termination, hang-up, a closed
// pipe) are noted, not acted on at once: the run stops between fields,
// removes the outputs it had not finished, says why and ends by the same
// signal, so its caller sees the usual status. A second interrupt,
// termination or hang-up ends it at once, unless the run still owes the
// game's saves: then it waits until they are written, and only a third
// ends it at once, saying so, by the first signal. One ignored at the start
// stays ignored. A file-size limit raises no signal: the write that passes
// it fails with its own reason.
void catchStopSignals();
// Held back in the calling thread, and so in the threads it starts, which
// then leave them to it.
void holdStopSignals(bool hold);
// The signal that asked the run to stop, or 0.
int stopSignal();
// From the machine's start until its saves are written.
void owesSaves(bool owes);
// Says why the run stopped and ends the process by that signal.
[[noreturn]] void endBySignal(int signal);
