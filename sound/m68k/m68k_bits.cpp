// BTST, BCHG, BCLR and BSET with the bit number in a register or immediate.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

enum BitOp { kTest = 0, kChange = 1, kClear = 2, kSet = 3 };

template <BitOp B>
inline u32 apply(u32 v, u32 bit)
{
    if constexpr (B == kChange)
        return v ^ bit;
    else if constexpr (B == kClear)
        return v & ~bit;
    else
        return v | bit;
}

// Charges: Dn,Dn / #n,Dn / Dn,memory / #n,memory.
constexpr s32 kBitClocks[4][4] = {{6, 10, 4, 8}, {8, 12, 8, 12}, {10, 14, 8, 12}, {8, 12, 8, 12}};

template <BitOp B, bool Immediate, int Dst>
void opBit(M68K& c, u16 op)
{
    const u32 number = Immediate ? (c.fetchWord() & 0xFF) : c.m_r[regX(op)];
    if constexpr (Dst == kDn) {
        u32& r = c.m_r[regY(op)];
        const u32 bit = 1u << (number & 31);
        c.m_notZ = r & bit;
        if constexpr (B != kTest)
            r = apply<B>(r, bit);
        c.charge(kBitClocks[B][Immediate ? 1 : 0]);
    } else {
        const u32 bit = 1u << (number & 7);
        if constexpr (Dst == kImm) {
            c.m_notZ = c.fetchWord() & bit;
        } else {
            const u32 a = eaAddress<Dst, 1>(c, regY(op));
            const u32 v = c.readByte(a);
            c.m_notZ = v & bit;
            // Written back even when the bit already had its new value.
            if constexpr (B != kTest)
                c.writeByte(a, static_cast<u8>(apply<B>(v, bit)));
        }
        c.charge(kBitClocks[B][Immediate ? 3 : 2]);
    }
}

template <BitOp B>
void addOp(std::vector<M68kPattern>& rows, const char* name)
{
    const u16 op = static_cast<u16>(B << 6);
    auto add = [&](auto m) {
        constexpr int Dst = decltype(m)::value;
        const u16 ea = eaBits(Dst);
        addRow(rows, static_cast<u16>(0x0100 | op | ea), static_cast<u16>(0xF1C0 | eaMask(Dst)), opBit<B, false, Dst>,
               name);
        if constexpr (Dst != kImm)
            addRow(rows, static_cast<u16>(0x0800 | op | ea), static_cast<u16>(0xFFC0 | eaMask(Dst)),
                   opBit<B, true, Dst>, name);
    };
    if constexpr (B == kTest)
        forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm>(add);
    else
        forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>(add);
}

}  // namespace

void addBitRows(std::vector<M68kPattern>& rows)
{
    addOp<kTest>(rows, "BTST");
    addOp<kChange>(rows, "BCHG");
    addOp<kClear>(rows, "BCLR");
    addOp<kSet>(rows, "BSET");
}
