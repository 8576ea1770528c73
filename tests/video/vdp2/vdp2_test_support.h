#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "video/vdp2/vdp2.h"

// A VDP2 on its own memories, reached through its own handler sets the way
// the SH-2's page map reaches it.
class Vdp2Test : public ::testing::Test {
protected:
    static constexpr u32 kRegs = 0x25F80000;
    static constexpr u32 kColor = 0x25F00000;
    static constexpr u32 kVideo = 0x25E00000;

    void SetUp() override
    {
        vdp.setup(0);
        regs = vdp.getAccessHandlers(VDP2::kRegisters);
        color = vdp.getAccessHandlers(VDP2::kColorRam);
        video = vdp.getAccessHandlers(VDP2::kVram);
    }

    u8 rb(u32 a) { return regs.readByte(regs.owner, nullptr, a); }
    u16 rw(u32 a) { return regs.readWord(regs.owner, nullptr, a); }
    u32 rl(u32 a) { return regs.readLong(regs.owner, nullptr, a); }
    void wb(u32 a, u8 d) { regs.writeByte(regs.owner, nullptr, a, d); }
    void ww(u32 a, u16 d) { regs.writeWord(regs.owner, nullptr, a, d); }
    void wl(u32 a, u32 d) { regs.writeLong(regs.owner, nullptr, a, d); }

    // One field as the machine sends it: the line counter starts at 0 in an
    // even field and at -1 in an odd one and steps by two.
    void runLines(u8 field, int lines)
    {
        vdp.onVBlankIn();
        vdp.onVBlankOut(field);
        int line = field ? -1 : 0;
        for (int i = 0; i < lines; ++i, line += 2) {
            vdp.onHBlankIn(line);
            vdp.onHBlankOut(line);
        }
    }

    std::vector<u8> vram = std::vector<u8>(VDP2::kVramSize);
    std::vector<u8> cram = std::vector<u8>(VDP2::kColorRamSize);
    VDP2 vdp{nullptr, nullptr, nullptr, vram.data(), cram.data()};
    AccessHandlers regs;
    AccessHandlers color;
    AccessHandlers video;
};
