#pragma once

#include "core/device.h"

class CMachine;

// Placeholder awaiting the booting issue: the built-in BIOS hook answers no
// call, so the processor takes its address-error exception.
class BIOS : public Hook {
public:
    explicit BIOS(CMachine* machine) : Hook("BIOS"), m_machine(machine) {}
    bool onHook(Device*) override { return false; }

private:
    CMachine* m_machine;
};
