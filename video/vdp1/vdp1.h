#pragma once

#include "core/device.h"

class SCU;

// What the background processor's sprite layer reads: the display frame
// buffer (big-endian rows of 1 << rowShift bytes) and its geometry.
struct FrameBufferInfo {
    u8 rotation = 0;
    u8 eightBit = 0;
    const u8* pixels = nullptr;
    u8 reserved = 0;
    s32 width = 512;
    s32 height = 256;
};

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
    // The display frame buffer, refreshed on every call.
    const FrameBufferInfo* getDisplayFrameBuffer();

private:
    SCU* m_scu;
    u8* m_memory;
    FrameBufferInfo m_frameBufferInfo;
};
