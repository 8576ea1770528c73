#pragma once

#include "core/base/types.h"

// Clocks and process times of the host.
namespace host {

// Monotonic time in nanoseconds.
u64 steadyNs();
void sleepMs(u32 ms);
void sleepNs(u64 ns);

// Processor times in nanoseconds: idle time of the whole system (all
// processors), and this process's kernel and user time.
struct CpuTimes {
    u64 systemIdle = 0;
    u64 processKernel = 0;
    u64 processUser = 0;
};
// False when a reading failed; the fields then hold what could be read.
bool readCpuTimes(CpuTimes& times);

// Shortens the kernel's timer slack for this thread so 1 ms sleeps end
// close to 1 ms, and puts the previous slack back. Answers the previous
// slack in nanoseconds, 0 when it could not be changed.
u64 beginFineSleeps();
void endFineSleeps(u64 previousSlackNs);

}  // namespace host
