#pragma once

#include "core/base/machine_kind.h"
#include "core/base/types.h"

class Device;

// The machine as the system manager sees it: the chips its commands switch
// and the machine-wide operations they start. The machine implements it.
class SmpcMachine {
public:
    virtual MachineKind kind() const = 0;
    // The SH-2 that issued a command; its delay is counted on that processor.
    virtual Device& sh2(bool slave) = 0;
    virtual Device& soundCpu() = 0;
    virtual Device& cdBlock() = 0;
    // SYSRES: the slave, the 68000 and the CD block off, the video and
    // sound chips restarted, and the master's reset interrupt.
    virtual void systemReset() = 0;
    // CKCHG352/320: the chips restarted, video memory cleared, the slave
    // off, an NMI on the master, then the new clock.
    virtual void changeClock(u32 hz) = 0;
    virtual void requestNmi() = 0;
    virtual void smpcInterrupt() = 0;

protected:
    ~SmpcMachine() = default;
};
