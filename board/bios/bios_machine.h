#pragma once

#include <memory>

#include "core/base/types.h"

class CCd;
class SH2;

// The machine as the built-in BIOS sees it. Its services reach emulated
// memory through the master SH-2's bus. The machine implements it.
class BiosMachine {
public:
    static constexpr u32 kBiosRomBytes = 0x80000;
    static constexpr u32 kWorkRamBytes = 0x100000;

    virtual SH2& masterSh2() = 0;
    // kBiosRomBytes, in the machine's big-endian order.
    virtual u8* biosRom() = 0;
    virtual const std::shared_ptr<CCd>& disc() = 0;
    // The CD block's HIRQ request register, set without an interrupt.
    virtual void setCdInterruptRequest(u16 bits) = 0;
    // The CD block's answer to GetAuthStatus as a booted console leaves it.
    virtual void authenticateCd() = 0;
    // The identifier of the inserted cartridge (0xFF when none).
    virtual u8 insertedCartridgeId() const = 0;
    // The data bytes of the inserted backup cartridge; 0 without one.
    virtual u32 backupCartridgeBytes() const = 0;
    // Whether the master's NMI ends a clock change the SMPC carried out;
    // answers true once per change.
    virtual bool takeClockChangeNmi() = 0;

protected:
    ~BiosMachine() = default;
};
