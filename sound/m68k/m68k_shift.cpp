// Shifts and rotates: ASL, ASR, LSL, LSR, ROL, ROR, ROXL, ROXR.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

enum ShiftKind { kArithmetic = 0, kLogical = 1, kRotateExtend = 2, kRotate = 3 };

// The count is 0-63; a 64-bit intermediate covers counts past the size.
template <ShiftKind K, bool Left, int Size>
u32 shift(M68K& c, u32 v, u32 n)
{
    constexpr u32 bits = Size * 8;
    constexpr u32 mask = sizeMask<Size>();
    u32 r = v;
    if constexpr (K == kArithmetic || K == kLogical) {
        c.m_v = 0;
        if (n == 0) {
            c.m_c = 0;
        } else if constexpr (Left) {
            const u64 w = u64{v} << n;
            r = static_cast<u32>(w) & mask;
            c.m_c = c.m_x = static_cast<u32>((w >> bits) & 1) << 8;
            if constexpr (K == kArithmetic) {
                // V: the sign changed at some step.
                if (n >= bits) {
                    c.m_v = v ? 0x80 : 0;
                } else {
                    const u32 top = (mask << (bits - n - 1)) & mask;
                    const u32 t = v & top;
                    c.m_v = (t != 0 && t != top) ? 0x80 : 0;
                }
            }
        } else if constexpr (K == kArithmetic) {
            const s64 sv = static_cast<s64>(static_cast<u64>(v) << (64 - bits)) >> (64 - bits);
            r = static_cast<u32>(sv >> n) & mask;
            c.m_c = c.m_x = static_cast<u32>((sv >> (n - 1)) & 1) << 8;
        } else {
            r = static_cast<u32>(u64{v} >> n) & mask;
            c.m_c = c.m_x = static_cast<u32>((u64{v} >> (n - 1)) & 1) << 8;
        }
    } else if constexpr (K == kRotate) {
        c.m_v = 0;
        if (n == 0) {
            c.m_c = 0;
        } else {
            const u32 k = n & (bits - 1);
            if (k)
                r = Left ? ((v << k) | (v >> (bits - k))) & mask : ((v >> k) | (v << (bits - k))) & mask;
            c.m_c = Left ? (r & 1) << 8 : (r >> (bits - 1)) << 8;
        }
    } else {
        c.m_v = 0;
        const u32 k = M68K::roxCounts(Size)[n & 63];
        if (k == 0) {
            c.m_c = c.flagX() << 8;
        } else {
            // X sits above the operand's top bit in a ring of size + 1 bits.
            const u64 ring = u64{c.flagX()} << bits | v;
            const u32 left = Left ? k : bits + 1 - k;
            const u64 ringMask = (u64{1} << (bits + 1)) - 1;
            const u64 turned = ((ring << left) | (ring >> (bits + 1 - left))) & ringMask;
            r = static_cast<u32>(turned) & mask;
            c.m_c = c.m_x = static_cast<u32>((turned >> bits) & 1) << 8;
        }
    }
    setNZ<Size>(c, r);
    return r;
}

template <ShiftKind K, bool Left, int Size>
void opShiftImmediate(M68K& c, u16 op)
{
    const u32 q = regX(op);
    const u32 n = q ? q : 8;
    const u32 reg = regY(op);
    writeDn<Size>(c, reg, shift<K, Left, Size>(c, c.m_r[reg] & sizeMask<Size>(), n));
    c.charge(Size == 4 ? 8 : 6);
}

template <ShiftKind K, bool Left, int Size>
void opShiftRegister(M68K& c, u16 op)
{
    const u32 n = c.m_r[regX(op)] & 63;
    const u32 reg = regY(op);
    writeDn<Size>(c, reg, shift<K, Left, Size>(c, c.m_r[reg] & sizeMask<Size>(), n));
    c.charge((Size == 4 ? 8 : 6) + 2 * static_cast<s32>(n));
}

template <ShiftKind K, bool Left, int Dst>
void opShiftMemory(M68K& c, u16 op)
{
    const u32 a = eaAddress<Dst, 2>(c, regY(op));
    c.writeWord(a, static_cast<u16>(shift<K, Left, 2>(c, c.readWord(a), 1)));
    c.charge(8);
}

template <ShiftKind K, bool Left>
void addKind(std::vector<M68kPattern>& rows, const char* name)
{
    const u16 dir = Left ? 0x100 : 0;
    auto sizes = [&](auto s) {
        constexpr int Size = decltype(s)::value;
        const u16 base = static_cast<u16>(0xE000 | dir | (Size == 1 ? 0 : Size == 2 ? 0x40 : 0x80) | K << 3);
        addRow(rows, base, 0xF1F8, opShiftImmediate<K, Left, Size>, name);
        addRow(rows, static_cast<u16>(base | 0x20), 0xF1F8, opShiftRegister<K, Left, Size>, name);
    };
    forModes<1, 2, 4>(sizes);
    forModes<kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        addRow(rows, static_cast<u16>(0xE0C0 | K << 9 | dir | eaBits(Dst)), static_cast<u16>(0xFFC0 | eaMask(Dst)),
               opShiftMemory<K, Left, Dst>, name);
    });
}

}  // namespace

void addShiftRows(std::vector<M68kPattern>& rows)
{
    addKind<kArithmetic, false>(rows, "ASR");
    addKind<kArithmetic, true>(rows, "ASL");
    addKind<kLogical, false>(rows, "LSR");
    addKind<kLogical, true>(rows, "LSL");
    addKind<kRotateExtend, false>(rows, "ROXR");
    addKind<kRotateExtend, true>(rows, "ROXL");
    addKind<kRotate, false>(rows, "ROR");
    addKind<kRotate, true>(rows, "ROL");
}
