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
