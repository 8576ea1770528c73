#include "video/vdp2/vdp2.h"

#include "core/placeholder.h"

VDP2::VDP2(VDP1* vdp1, SMPC* smpc, CDB* cdb, u8* vram, u8* colorRam)
    : Device("VDP2"), m_vdp1(vdp1), m_smpc(smpc), m_cdb(cdb), m_vram(vram), m_colorRam(colorRam)
{
}

AccessHandlers VDP2::getAccessHandlers(int area)
{
    switch (area) {
    case kVram:
        return MemoryHandlers<kVramSize - 1>::of(m_vram);
    case kColorRam:
        return MemoryHandlers<kColorRamSize - 1>::of(m_colorRam);
    case kRegisters:
        return loggedRegisterHandlers(this);
    default:
        return {};
    }
}
