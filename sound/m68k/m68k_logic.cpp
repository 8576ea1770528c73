// AND, OR, EOR, NOT, their immediate forms on data operands, and TAS.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

enum Logic { kAnd, kOr, kEor };

template <Logic L>
inline u32 combine(u32 a, u32 b)
{
    if constexpr (L == kAnd)
        return a & b;
    else if constexpr (L == kOr)
        return a | b;
    else
        return a ^ b;
}

template <Logic L, int Src, int Size>
void opToRegister(M68K& c, u16 op)
{
    const u32 s = readSource<Src, Size>(c, regY(op));
    const u32 n = regX(op);
    const u32 r = combine<L>(s, c.m_r[n]) & sizeMask<Size>();
    writeDn<Size>(c, n, r);
    setLogicFlags<Size>(c, r);
    c.charge(Size == 4 ? 6 : 4);
}

template <Logic L, int Dst, int Size>
void opToEa(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    const u32 r = combine<L>(c.m_r[regX(op)], dst.load(c)) & sizeMask<Size>();
    dst.store(c, r);
    setLogicFlags<Size>(c, r);
    if constexpr (Dst == kDn)
        c.charge(Size == 4 ? 8 : 4);
    else
        c.charge(Size == 4 ? 12 : 8);
}

template <Logic L, int Dst, int Size>
void opImmediate(M68K& c, u16 op)
{
    const u32 s = fetchImmediate<Size>(c);
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    const u32 r = combine<L>(s, dst.load(c)) & sizeMask<Size>();
    dst.store(c, r);
    setLogicFlags<Size>(c, r);
    if constexpr (Dst == kDn)
        c.charge(Size == 4 ? (L == kAnd ? 14 : 16) : 8);
    else
        c.charge(Size == 4 ? 20 : 12);
}

template <int Dst, int Size>
void opNot(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, Size>::form(c, regY(op));
    const u32 r = ~dst.load(c) & sizeMask<Size>();
    dst.store(c, r);
    setLogicFlags<Size>(c, r);
    c.charge(Dst == kDn ? (Size == 4 ? 6 : 4) : (Size == 4 ? 12 : 8));
}

// No bus lock: an ordinary read and an ordinary write.
template <int Dst>
void opTas(M68K& c, u16 op)
{
    const auto dst = Operand<Dst, 1>::form(c, regY(op));
    const u32 v = dst.load(c);
    setLogicFlags<1>(c, v);
    dst.store(c, v | 0x80);
    c.charge(Dst == kDn ? 4 : 14);
}

constexpr u16 sizeBits(int size) { return size == 1 ? 0x00 : size == 2 ? 0x40 : 0x80; }

template <int Size>
void addSize(std::vector<M68kPattern>& rows)
{
    const u16 sz = sizeBits(Size);
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm>([&](auto m) {
        constexpr int Src = decltype(m)::value;
        const u16 mask = static_cast<u16>(0xF1C0 | eaMask(Src));
        addRow(rows, static_cast<u16>(0xC000 | sz | eaBits(Src)), mask, opToRegister<kAnd, Src, Size>, "AND");
        addRow(rows, static_cast<u16>(0x8000 | sz | eaBits(Src)), mask, opToRegister<kOr, Src, Size>, "OR");
    });
    forModes<kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        const u16 mask = static_cast<u16>(0xF1C0 | eaMask(Dst));
        addRow(rows, static_cast<u16>(0xC100 | sz | eaBits(Dst)), mask, opToEa<kAnd, Dst, Size>, "AND");
        addRow(rows, static_cast<u16>(0x8100 | sz | eaBits(Dst)), mask, opToEa<kOr, Dst, Size>, "OR");
    });
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        const u16 ea = eaBits(Dst);
        addRow(rows, static_cast<u16>(0xB100 | sz | ea), static_cast<u16>(0xF1C0 | eaMask(Dst)),
               opToEa<kEor, Dst, Size>, "EOR");
        const u16 mask = static_cast<u16>(0xFFC0 | eaMask(Dst));
        addRow(rows, static_cast<u16>(0x0200 | sz | ea), mask, opImmediate<kAnd, Dst, Size>, "ANDI");
        addRow(rows, static_cast<u16>(0x0000 | sz | ea), mask, opImmediate<kOr, Dst, Size>, "ORI");
        addRow(rows, static_cast<u16>(0x0A00 | sz | ea), mask, opImmediate<kEor, Dst, Size>, "EORI");
        addRow(rows, static_cast<u16>(0x4600 | sz | ea), mask, opNot<Dst, Size>, "NOT");
        if constexpr (Size == 1)
            addRow(rows, static_cast<u16>(0x4AC0 | ea), mask, opTas<Dst>, "TAS");
    });
}

}  // namespace

void addLogicRows(std::vector<M68kPattern>& rows)
{
    addSize<1>(rows);
    addSize<2>(rows);
    addSize<4>(rows);
}
