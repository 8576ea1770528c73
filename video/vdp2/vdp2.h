#pragma once

#include "core/device.h"
#include "core/machine.h"

class CDB;
class SMPC;
class VDP1;

// Placeholder awaiting the VDP2 issue: VRAM and colour RAM windows serve
// their memory, registers are logged and read 0, nothing is drawn.
class VDP2 : public Device {
public:
    static constexpr u32 kVramSize = 0x80000;
    static constexpr u32 kColorRamSize = 0x1000;

    enum Area : int { kVram = 0, kColorRam = 1, kRegisters = 2 };

    VDP2(VDP1* vdp1, SMPC* smpc, CDB* cdb, u8* vram, u8* colorRam);

    AccessHandlers getAccessHandlers(int area) override;

    void onVBlankIn() {}
    void onVBlankOut(u8) {}
    void onHBlankIn(int) {}
    void onHBlankOut(int) {}
    void setVideoStandard(bool pal) { m_size = {320, pal ? 256u : 224u}; }
    const DisplaySize& getDisplaySize() const { return m_size; }

private:
    VDP1* m_vdp1;
    SMPC* m_smpc;
    CDB* m_cdb;
    u8* m_vram;
    u8* m_colorRam;
    DisplaySize m_size{320, 224};
};
