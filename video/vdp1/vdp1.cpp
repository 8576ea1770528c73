#include "video/vdp1/vdp1.h"

#include "core/placeholder.h"

VDP1::VDP1(SCU* scu, u8* memory) : Device("VDP1"), m_scu(scu), m_memory(memory) {}

u32 VDP1::execute(u32 clocks)
{
    m_clocksLeft = 0;
    return clocks;
}

AccessHandlers VDP1::getAccessHandlers(int area)
{
    switch (area) {
    case kVram:
        return MemoryHandlers<kVramSize - 1>::of(m_memory);
    case kFrameBuffer:
        return MemoryHandlers<kFrameBufferSize - 1>::of(m_memory + kVramSize);
    case kRegisters:
        return loggedRegisterHandlers(this);
    default:
        return {};
    }
}

const FrameBufferInfo* VDP1::getDisplayFrameBuffer()
{
    m_frameBufferInfo.pixels = m_memory + kVramSize;
    return &m_frameBufferInfo;
}
