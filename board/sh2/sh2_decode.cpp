#include "board/sh2/sh2.h"

void SH2::fillOpcodePattern(u16 pattern, u16 mask, u8 index)
{
    // Every value of the operand bits, counted through as a subset of them.
    const u16 operands = static_cast<u16>(~mask);
    u16 v = 0;
    do {
        m_table[sh2::tableIndex(static_cast<u16>(pattern | v))] = index;
        v = static_cast<u16>((v - operands) & operands);
    } while (v != 0);
}

void SH2::buildOpcodeTable()
{
    std::memset(m_table, sh2::kUndefined, sizeof m_table);
    m_table[sh2::tableIndex(0x0000)] = sh2::kHookTrap;
    m_table[sh2::tableIndex(0xFFFF)] = sh2::kHookTrap;
#define KEST_SH2_FILL(name, pattern, mask, ...) fillOpcodePattern(pattern, mask, sh2::k##name);
    KEST_SH2_INSNS(KEST_SH2_FILL)
#undef KEST_SH2_FILL
}

int sh2::dataAccesses(u8 index, u32 word, const u32* r, u32 gbr, u32 pc, DataAccess out[2])
{
    if (index >= kInsnCount)
        return -1;
    const auto [data, width] = kData[index];
    // The fields of the word as loaded, as the interpreter takes them.
    const u32 fieldN = word & 15;
    const u32 fieldM = (word >> 12) & 15;
    const u32 rn = r[fieldN];
    const u32 rm = r[fieldM];
    const u32 imm = (word >> 8) & 0xFF;
    const u32 disp = (imm & 15) * width;
    const auto one = [&](u32 address, bool store) {
        out[0] = {address, width, store};
        return 1;
    };
    const auto two = [&](u32 first, bool store, u32 second) {
        out[0] = {first, width, false};
        out[1] = {second, width, store};
        return 2;
    };
    constexpr bool kRead = false;
    constexpr bool kStore = true;
    switch (data) {
    case Data::None: return 0;
    case Data::LoadRm: case Data::PopRm: return one(rm, kRead);
    case Data::LoadR0Rm: return one(r[0] + rm, kRead);
    case Data::LoadDispRm: return one(rm + disp, kRead);
    case Data::LoadGbr: return one(gbr + imm * width, kRead);
    case Data::LoadR0Gbr: return one(gbr + r[0], kRead);
    case Data::LoadPc: return one((width == 4 ? (pc + 4) & ~3u : pc + 4) + imm * width, kRead);
    case Data::PopRn: return one(rn, kRead);
    // Rn has stepped when @Rm is read.
    case Data::PopRnRm: return two(rn, kRead, rm + (fieldM == fieldN ? width : 0));
    case Data::StoreRn: return one(rn, kStore);
    case Data::StoreR0Rn: return one(r[0] + rn, kStore);
    case Data::StoreDispRm: return one(rm + disp, kStore);
    case Data::StoreDispRn: return one(rn + disp, kStore);
    case Data::StoreGbr: return one(gbr + imm * width, kStore);
    case Data::PushRn: return one(rn - width, kStore);
    case Data::ModifyRn: return two(rn, kStore, rn);
    case Data::ModifyR0Gbr: return two(gbr + r[0], kStore, gbr + r[0]);
    case Data::Frame: return -1;
    }
    return -1;
}
