// Multiply, divide, decimal arithmetic and CHK.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

constexpr s32 kMultiplyClocks = 54;
constexpr s32 kDivuClocks = 140;
constexpr s32 kDivsClocks = 158;
constexpr s32 kDivideByZeroClocks = 38;
constexpr s32 kChkClocks = 10;
constexpr s32 kChkTrapClocks = 40;
constexpr u32 kDivideByZeroVector = 5;
constexpr u32 kChkVector = 6;

template <int Src>
void opMulu(M68K& c, u16 op)
{
    const u32 s = readSource<Src, 2>(c, regY(op));
    const u32 n = regX(op);
    const u32 r = (c.m_r[n] & 0xFFFF) * s;
    c.m_r[n] = r;
    setLogicFlags<4>(c, r);
    c.charge(kMultiplyClocks);
}

template <int Src>
void opMuls(M68K& c, u16 op)
{
    const s32 s = static_cast<s16>(readSource<Src, 2>(c, regY(op)));
    const u32 n = regX(op);
    const u32 r = static_cast<u32>(static_cast<s32>(static_cast<s16>(c.m_r[n])) * s);
    c.m_r[n] = r;
    setLogicFlags<4>(c, r);
    c.charge(kMultiplyClocks);
}

template <int Src>
void opDivu(M68K& c, u16 op)
{
    // The address and its side effects come first, also when it traps.
    const u32 divisor = readSource<Src, 2>(c, regY(op));
    if (divisor == 0) {
        c.enterException(kDivideByZeroVector);
        c.charge(kDivideByZeroClocks);
        return;
    }
    const u32 n = regX(op);
    const u32 dividend = c.m_r[n];
    const u32 quotient = dividend / divisor;
    if (quotient > 0xFFFF) {
        c.m_v = 0x80;
        c.m_c = 0;
    } else {
        const u32 remainder = dividend % divisor;
        c.m_r[n] = remainder << 16 | quotient;
        setLogicFlags<2>(c, quotient);
    }
    c.charge(kDivuClocks);
}

template <int Src>
void opDivs(M68K& c, u16 op)
{
    const s64 divisor = static_cast<s16>(readSource<Src, 2>(c, regY(op)));
    if (divisor == 0) {
        c.enterException(kDivideByZeroVector);
        c.charge(kDivideByZeroClocks);
        return;
    }
    const u32 n = regX(op);
    // 64-bit: 0x80000000 / -1 is an ordinary overflow, not a host fault.
    const s64 dividend = static_cast<s32>(c.m_r[n]);
    const s64 quotient = dividend / divisor;
    if (static_cast<u64>(quotient + 0x8000) > 0xFFFF) {
        c.m_v = 0x80;
        c.m_c = 0;
    } else {
        const s64 remainder = dividend - quotient * divisor;
        const u32 q = static_cast<u32>(quotient) & 0xFFFF;
        c.m_r[n] = (static_cast<u32>(remainder) & 0xFFFF) << 16 | q;
        setLogicFlags<2>(c, q);
    }
    c.charge(kDivsClocks);
}

template <int Src>
void opChk(M68K& c, u16 op)
{
    const s32 bound = static_cast<s16>(readSource<Src, 2>(c, regY(op)));
    const s32 value = static_cast<s16>(c.m_r[regX(op)]);
    if (value >= 0 && value <= bound) {
        c.m_n = 0;
        c.m_notZ = 0;
        c.m_v = c.m_c = 0;
        c.charge(kChkClocks);
        return;
    }
    // The frame holds the flags from before; the handler sees the new ones.
    c.enterException(kChkVector);
    c.m_n = value < 0 ? 0x80 : 0;
    c.m_notZ = value < 0 ? 1 : 0;
    c.m_v = c.m_c = 0;
    c.charge(kChkTrapClocks);
}

u32 decimalAdd(M68K& c, u32 s, u32 d)
{
    const u32 x = c.flagX();
    const u32 sum = d + s + x;
    const u32 carries = ((d | s) & ~sum) | (d & s);
    const u32 adjust = ((((sum + 0x66) ^ sum) >> 1) | carries) & 0x88;
    const u32 result = sum + adjust - (adjust >> 2);
    c.m_c = c.m_x = (((sum & ~result) | carries) & 0x80) << 1;
    c.m_n = result & 0x80;
    c.m_v = ~sum & result & 0x80;
    c.m_notZ |= result & 0xFF;
    return result & 0xFF;
}

u32 decimalSubtract(M68K& c, u32 borrows, u32 diff)
{
    const u32 result = diff - borrows + (borrows >> 2);
    c.m_c = c.m_x = ((borrows | (~diff & result)) & 0x80) << 1;
    c.m_n = result & 0x80;
    c.m_v = ~result & diff & 0x80;
    c.m_notZ |= result & 0xFF;
    return result & 0xFF;
}

u32 decimalSub(M68K& c, u32 s, u32 d)
{
    const u32 diff = d - s - c.flagX();
    const u32 borrows = (((diff | s) & ~d) | (diff & s)) & 0x88;
    return decimalSubtract(c, borrows, diff);
}

template <bool Add>
void opDecimalRegister(M68K& c, u16 op)
{
    const u32 s = c.m_r[regY(op)] & 0xFF;
    const u32 x = regX(op);
    const u32 d = c.m_r[x] & 0xFF;
    writeDn<1>(c, x, Add ? decimalAdd(c, s, d) : decimalSub(c, s, d));
    c.charge(6);
}

template <bool Add>
void opDecimalMemory(M68K& c, u16 op)
{
    const u32 from = eaAddress<kPd, 1>(c, regY(op));
    const u32 to = eaAddress<kPd, 1>(c, regX(op));
    const u32 s = c.readByte(from);
    const u32 d = c.readByte(to);
    c.writeByte(to, static_cast<u8>(Add ? decimalAdd(c, s, d) : decimalSub(c, s, d)));
    c.charge(18);
}

template <int Dst>
void opNbcd(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, 1>::form(c, regY(op));
    const u32 d = dst.load(c);
    const u32 diff = 0 - d - c.flagX();
    const u32 borrows = (diff | d) & 0x88;
    dst.store(c, decimalSubtract(c, borrows, diff));
    c.charge(Dst == kDn ? 6 : 8);
}

}  // namespace

void addMulDivRows(std::vector<M68kPattern>& rows)
{
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm>([&](auto m) {
        constexpr int Src = decltype(m)::value;
        const u16 ea = eaBits(Src);
        const u16 mask = static_cast<u16>(0xF1C0 | eaMask(Src));
        addRow(rows, static_cast<u16>(0xC0C0 | ea), mask, opMulu<Src>, "MULU");
        addRow(rows, static_cast<u16>(0xC1C0 | ea), mask, opMuls<Src>, "MULS");
        addRow(rows, static_cast<u16>(0x80C0 | ea), mask, opDivu<Src>, "DIVU");
        addRow(rows, static_cast<u16>(0x81C0 | ea), mask, opDivs<Src>, "DIVS");
        addRow(rows, static_cast<u16>(0x4180 | ea), mask, opChk<Src>, "CHK");
    });
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        addRow(rows, static_cast<u16>(0x4800 | eaBits(Dst)), static_cast<u16>(0xFFC0 | eaMask(Dst)), opNbcd<Dst>,
               "NBCD");
    });
    const struct {
        u16 base;
        bool add;
        const char* name;
    } decimal[] = {{0xC100, true, "ABCD"}, {0x8100, false, "SBCD"}};
    for (const auto& d : decimal) {
        const M68kHandler reg = d.add ? opDecimalRegister<true> : opDecimalRegister<false>;
        const M68kHandler mem = d.add ? opDecimalMemory<true> : opDecimalMemory<false>;
        addRow(rows, d.base, 0xF1F8, reg, d.name);
        addRow(rows, static_cast<u16>(d.base | 0x08), 0xF1F8, mem, d.name);
        addRow(rows, static_cast<u16>(d.base | 0xE08), 0xFFF8, mem, d.name);
        addRow(rows, static_cast<u16>(d.base | 0x0F), 0xF1FF, mem, d.name);
        addRow(rows, static_cast<u16>(d.base | 0xE0F), 0xFFFF, mem, d.name);
    }
}
