#pragma once

#include "core/device.h"

class SCU;

// Placeholder awaiting the VDP1 issue: its memory windows serve VRAM and the
// draw buffer, its registers are logged and read 0, and it draws nothing.
class VDP1 : public Device {
public:
    static constexpr u32 kVramSize = 0x80000;
    static constexpr u32 kFrameBufferSize = 0x40000;

    enum Area : int { kVram = 0, kFrameBuffer = 1, kRegisters = 2 };

    VDP1(SCU* scu, u8* memory);

    u32 execute(u32 clocks) override;
    AccessHandlers getAccessHandlers(int area) override;

    void onHBlankIn(int) {}
    void onVBlankIn() {}
    void onVBlankOut() {}
    // Whether drawing ended on this line; the machine then tells the SCU.
    bool drawEndedOnLine() const { return false; }

private:
    SCU* m_scu;
    u8* m_memory;
};
