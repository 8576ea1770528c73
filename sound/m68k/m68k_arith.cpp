// Add, subtract, compare, negate and test.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

template <int Size>
inline u32 doAdd(M68K& c, u32 s, u32 d, u32 carryIn)
{
    const u32 r = (d + s + carryIn) & sizeMask<Size>();
    c.m_c = c.m_x = topToBit8<Size>((s & d) | (~r & (s | d)));
    c.m_v = topToBit7<Size>((s ^ r) & (d ^ r));
    c.m_n = topToBit7<Size>(r);
    return r;
}

template <int Size>
inline u32 doSub(M68K& c, u32 s, u32 d, u32 borrowIn)
{
    const u32 r = (d - s - borrowIn) & sizeMask<Size>();
    c.m_c = topToBit8<Size>((s & ~d) | (r & ~d) | (s & r));
    c.m_v = topToBit7<Size>((s ^ d) & (r ^ d));
    c.m_n = topToBit7<Size>(r);
    return r;
}

enum Kind { kAdd, kSub };

template <Kind K, int Size>
inline u32 arith(M68K& c, u32 s, u32 d)
{
    const u32 r = K == kAdd ? doAdd<Size>(c, s, d, 0) : doSub<Size>(c, s, d, 0);
    c.m_x = c.m_c;
    c.m_notZ = r;
    return r;
}

// ADD/SUB <ea>,Dn
template <Kind K, int Src, int Size>
void opToRegister(M68K& c, u16 op)
{
    const u32 s = readSource<Src, Size>(c, regY(op));
    const u32 n = regX(op);
    writeDn<Size>(c, n, arith<K, Size>(c, s, c.m_r[n] & sizeMask<Size>()));
    c.charge(Size == 4 ? 6 : 4);
}

// ADD/SUB Dn,<ea>
template <Kind K, int Dst, int Size>
void opToMemory(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    const u32 s = c.m_r[regX(op)] & sizeMask<Size>();
    dst.store(c, arith<K, Size>(c, s, dst.load(c)));
    c.charge(Size == 4 ? 12 : 8);
}

template <Kind K, int Src, int Size>
void opAddressArith(M68K& c, u16 op)
{
    u32 s = readSource<Src, Size>(c, regY(op));
    if constexpr (Size == 2)
        s = static_cast<u32>(static_cast<s32>(static_cast<s16>(s)));
    u32& a = c.m_r[8 + regX(op)];
    a = K == kAdd ? a + s : a - s;
    c.charge(Size == 2 ? 8 : 6);
}

template <Kind K, int Dst, int Size>
void opImmediate(M68K& c, u16 op)
{
    const u32 s = fetchImmediate<Size>(c);
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    dst.store(c, arith<K, Size>(c, s, dst.load(c)));
    if constexpr (Dst == kDn)
        c.charge(Size == 4 ? 16 : 8);
    else
        c.charge(Size == 4 ? 20 : 12);
}

inline u32 quickData(u16 op)
{
    const u32 q = regX(op);
    return q ? q : 8;
}

template <Kind K, int Dst, int Size>
void opQuick(M68K& c, u16 op)
{
    const u32 s = quickData(op);
    if constexpr (Dst == kAn) {
        // Whole register, no flags.
        u32& a = c.m_r[8 + regY(op)];
        a = K == kAdd ? a + s : a - s;
        c.charge(8);
    } else {
        const auto dst = Operand<Dst, Size>::form(c, regY(op));
        dst.store(c, arith<K, Size>(c, s, dst.load(c)));
        if constexpr (Dst == kDn)
            c.charge(Size == 4 ? 8 : 4);
        else
            c.charge(Size == 4 ? 12 : 8);
    }
}

// ADDX/SUBX: Z only ever cleared, so a chain over a long number keeps Z
// only when every part was zero.
template <Kind K, int Size>
inline u32 extended(M68K& c, u32 s, u32 d)
{
    const u32 x = c.flagX();
    const u32 r = K == kAdd ? doAdd<Size>(c, s, d, x) : doSub<Size>(c, s, d, x);
    c.m_x = c.m_c;
    c.m_notZ |= r;
    return r;
}

template <Kind K, int Size>
void opExtendedRegister(M68K& c, u16 op)
{
    const u32 x = regX(op);
    writeDn<Size>(c, x, extended<K, Size>(c, c.m_r[regY(op)] & sizeMask<Size>(), c.m_r[x] & sizeMask<Size>()));
    c.charge(Size == 4 ? 8 : 4);
}

template <Kind K, int Size>
void opExtendedMemory(M68K& c, u16 op)
{
    const u32 from = eaAddress<kPd, Size>(c, regY(op));
    const u32 to = eaAddress<kPd, Size>(c, regX(op));
    const u32 s = readMem<Size>(c, from);
    const u32 d = readMem<Size>(c, to);
    writeMem<Size>(c, to, extended<K, Size>(c, s, d));
    c.charge(Size == 4 ? 30 : 18);
}

template <int Size>
inline void compare(M68K& c, u32 s, u32 d)
{
    c.m_notZ = doSub<Size>(c, s, d, 0);
}

template <int Src, int Size>
void opCmp(M68K& c, u16 op)
{
    const u32 s = readSource<Src, Size>(c, regY(op));
    compare<Size>(c, s, c.m_r[regX(op)] & sizeMask<Size>());
    c.charge(Size == 4 ? 6 : 4);
}

template <int Src, int Size>
void opCmpa(M68K& c, u16 op)
{
    u32 s = readSource<Src, Size>(c, regY(op));
    if constexpr (Size == 2)
        s = static_cast<u32>(static_cast<s32>(static_cast<s16>(s)));
    compare<4>(c, s, c.m_r[8 + regX(op)]);
    c.charge(6);
}

template <int Dst, int Size>
void opCmpi(M68K& c, u16 op)
{
    const u32 s = fetchImmediate<Size>(c);
    const u32 d = readSource<Dst, Size>(c, regY(op));
    compare<Size>(c, s, d);
    if constexpr (Dst == kDn)
        c.charge(Size == 4 ? 14 : 8);
    else
        c.charge(Size == 4 ? 12 : 8);
}

template <int Size>
void opCmpm(M68K& c, u16 op)
{
    const u32 from = eaAddress<kPi, Size>(c, regY(op));
    const u32 to = eaAddress<kPi, Size>(c, regX(op));
    const u32 s = readMem<Size>(c, from);
    const u32 d = readMem<Size>(c, to);
    compare<Size>(c, s, d);
    c.charge(Size == 4 ? 20 : 12);
}

template <int Dst, int Size>
void opNeg(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    dst.store(c, arith<kSub, Size>(c, dst.load(c), 0));
    c.charge(Dst == kDn ? (Size == 4 ? 6 : 4) : (Size == 4 ? 12 : 8));
}

template <int Dst, int Size>
void opNegx(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    dst.store(c, extended<kSub, Size>(c, dst.load(c), 0));
    c.charge(Dst == kDn ? (Size == 4 ? 6 : 4) : (Size == 4 ? 12 : 8));
}

template <int Src, int Size>
void opTst(M68K& c, u16 op)
{
    setLogicFlags<Size>(c, readSource<Src, Size>(c, regY(op)));
    c.charge(4);
}

constexpr u16 sizeBits(int size) { return size == 1 ? 0x00 : size == 2 ? 0x40 : 0x80; }

#define KEST_ALL_SOURCES kDn, kAn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm
#define KEST_ALTERABLE_MEMORY kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL
#define KEST_DATA_ALTERABLE kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL

template <Kind K, int Size>
void addAddSubSize(std::vector<M68kPattern>& rows, u16 base, const char* name, const char* nameA, const char* nameI,
                   const char* nameQ, const char* nameX)
{
    const u16 sz = sizeBits(Size);
    forModes<KEST_ALL_SOURCES>([&](auto m) {
        constexpr int Src = decltype(m)::value;
        if constexpr (!(Size == 1 && Src == kAn))
            addRow(rows, static_cast<u16>(base | sz | eaBits(Src)), static_cast<u16>(0xF1C0 | eaMask(Src)),
                   opToRegister<K, Src, Size>, name);
    });
    forModes<KEST_ALTERABLE_MEMORY>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        addRow(rows, static_cast<u16>(base | 0x100 | sz | eaBits(Dst)), static_cast<u16>(0xF1C0 | eaMask(Dst)),
               opToMemory<K, Dst, Size>, name);
    });
    if constexpr (Size != 1) {
        const u16 a = Size == 2 ? 0x00C0 : 0x01C0;
        forModes<KEST_ALL_SOURCES>([&](auto m) {
            constexpr int Src = decltype(m)::value;
            addRow(rows, static_cast<u16>(base | a | eaBits(Src)), static_cast<u16>(0xF1C0 | eaMask(Src)),
                   opAddressArith<K, Src, Size>, nameA);
        });
    }
    const u16 immediateBase = K == kAdd ? 0x0600 : 0x0400;
    const u16 quickBase = K == kAdd ? 0x5000 : 0x5100;
    forModes<KEST_DATA_ALTERABLE>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        addRow(rows, static_cast<u16>(immediateBase | sz | eaBits(Dst)), static_cast<u16>(0xFFC0 | eaMask(Dst)),
               opImmediate<K, Dst, Size>, nameI);
    });
    forModes<kDn, kAn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        if constexpr (!(Size == 1 && Dst == kAn))
            addRow(rows, static_cast<u16>(quickBase | sz | eaBits(Dst)), static_cast<u16>(0xF1C0 | eaMask(Dst)),
                   opQuick<K, Dst, Size>, nameQ);
    });
    addRow(rows, static_cast<u16>(base | 0x100 | sz), 0xF1F8, opExtendedRegister<K, Size>, nameX);
    addRow(rows, static_cast<u16>(base | 0x108 | sz), 0xF1F8, opExtendedMemory<K, Size>, nameX);
    if constexpr (Size == 1) {
        // A7 in either field: same body, the byte step of 2 is in the address.
        addRow(rows, static_cast<u16>(base | 0xF08), 0xFFF8, opExtendedMemory<K, Size>, nameX);
        addRow(rows, static_cast<u16>(base | 0x10F), 0xF1FF, opExtendedMemory<K, Size>, nameX);
        addRow(rows, static_cast<u16>(base | 0xF0F), 0xFFFF, opExtendedMemory<K, Size>, nameX);
    }
}

template <int Size>
void addCompareSize(std::vector<M68kPattern>& rows)
{
    const u16 sz = sizeBits(Size);
    forModes<KEST_ALL_SOURCES>([&](auto m) {
        constexpr int Src = decltype(m)::value;
        if constexpr (!(Size == 1 && Src == kAn))
            addRow(rows, static_cast<u16>(0xB000 | sz | eaBits(Src)), static_cast<u16>(0xF1C0 | eaMask(Src)),
                   opCmp<Src, Size>, "CMP");
        if constexpr (Size != 1)
            addRow(rows, static_cast<u16>((Size == 2 ? 0xB0C0 : 0xB1C0) | eaBits(Src)),
                   static_cast<u16>(0xF1C0 | eaMask(Src)), opCmpa<Src, Size>, "CMPA");
    });
    forModes<KEST_DATA_ALTERABLE>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        const u16 mask = static_cast<u16>(0xFFC0 | eaMask(Dst));
        addRow(rows, static_cast<u16>(0x0C00 | sz | eaBits(Dst)), mask, opCmpi<Dst, Size>, "CMPI");
        addRow(rows, static_cast<u16>(0x4400 | sz | eaBits(Dst)), mask, opNeg<Dst, Size>, "NEG");
        addRow(rows, static_cast<u16>(0x4000 | sz | eaBits(Dst)), mask, opNegx<Dst, Size>, "NEGX");
        addRow(rows, static_cast<u16>(0x4A00 | sz | eaBits(Dst)), mask, opTst<Dst, Size>, "TST");
    });
    addRow(rows, static_cast<u16>(0xB108 | sz), 0xF1F8, opCmpm<Size>, "CMPM");
    if constexpr (Size == 1) {
        addRow(rows, 0xBF08, 0xFFF8, opCmpm<Size>, "CMPM");
        addRow(rows, 0xB10F, 0xF1FF, opCmpm<Size>, "CMPM");
        addRow(rows, 0xBF0F, 0xFFFF, opCmpm<Size>, "CMPM");
    }
}

}  // namespace

void addArithRows(std::vector<M68kPattern>& rows)
{
    addAddSubSize<kAdd, 1>(rows, 0xD000, "ADD", "ADDA", "ADDI", "ADDQ", "ADDX");
    addAddSubSize<kAdd, 2>(rows, 0xD000, "ADD", "ADDA", "ADDI", "ADDQ", "ADDX");
    addAddSubSize<kAdd, 4>(rows, 0xD000, "ADD", "ADDA", "ADDI", "ADDQ", "ADDX");
    addAddSubSize<kSub, 1>(rows, 0x9000, "SUB", "SUBA", "SUBI", "SUBQ", "SUBX");
    addAddSubSize<kSub, 2>(rows, 0x9000, "SUB", "SUBA", "SUBI", "SUBQ", "SUBX");
    addAddSubSize<kSub, 4>(rows, 0x9000, "SUB", "SUBA", "SUBI", "SUBQ", "SUBX");
    addCompareSize<1>(rows);
    addCompareSize<2>(rows);
    addCompareSize<4>(rows);
}
