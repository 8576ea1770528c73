#pragma once

// Effective addresses and flag helpers shared by the handler families. Every
// mode and size is a template argument, so a handler decodes nothing but
// register numbers while it runs.

#include <type_traits>
#include <vector>

#include "sound/m68k/m68k.h"

namespace m68k {

enum Mode : int {
    kDn = 0,
    kAn,
    kAi,    // (An)
    kPi,    // (An)+
    kPd,    // -(An)
    kDi,    // d16(An)
    kIx,    // d8(An,Xn)
    kAbsW,
    kAbsL,
    kPcDi,  // d16(PC)
    kPcIx,  // d8(PC,Xn)
    kImm,
};

// The six-bit effective-address field of a mode and its mask bits.
constexpr u16 eaBits(int mode)
{
    return mode <= kIx ? static_cast<u16>(mode << 3) : static_cast<u16>(0x38 + (mode - kAbsW));
}
constexpr u16 eaMask(int mode) { return mode <= kIx ? 0x38 : 0x3F; }
constexpr bool isMemory(int mode) { return mode >= kAi && mode <= kPcIx; }

template <int Size>
constexpr u32 sizeMask()
{
    return Size == 1 ? 0xFFu : Size == 2 ? 0xFFFFu : 0xFFFFFFFFu;
}

template <int Size>
constexpr u32 msb(u32 v)
{
    return (v >> (Size * 8 - 1)) & 1;
}

// Flag words from a value whose top bit (at the operand size) is the flag.
template <int Size>
inline u32 topToBit8(u32 v)
{
    if constexpr (Size == 1)
        return v << 1;
    else if constexpr (Size == 2)
        return v >> 7;
    else
        return v >> 23;
}
template <int Size>
inline u32 topToBit7(u32 v)
{
    if constexpr (Size == 1)
        return v;
    else if constexpr (Size == 2)
        return v >> 8;
    else
        return v >> 24;
}

template <int Size>
inline void setNZ(M68K& c, u32 r)
{
    c.m_n = topToBit7<Size>(r);
    c.m_notZ = r & sizeMask<Size>();
}

// N and Z from the result, V and C cleared, X kept: the logical rule.
template <int Size>
inline void setLogicFlags(M68K& c, u32 r)
{
    setNZ<Size>(c, r);
    c.m_v = 0;
    c.m_c = 0;
}

template <int Size>
inline void writeDn(M68K& c, u32 reg, u32 v)
{
    if constexpr (Size == 1)
        c.m_r[reg] = (c.m_r[reg] & 0xFFFFFF00u) | (v & 0xFF);
    else if constexpr (Size == 2)
        c.m_r[reg] = (c.m_r[reg] & 0xFFFF0000u) | (v & 0xFFFF);
    else
        c.m_r[reg] = v;
}

template <int Size>
inline u32 readMem(M68K& c, u32 a)
{
    if constexpr (Size == 1)
        return c.readByte(a);
    else if constexpr (Size == 2)
        return c.readWord(a);
    else
        return c.readLong(a);
}

template <int Size>
inline void writeMem(M68K& c, u32 a, u32 v)
{
    if constexpr (Size == 1)
        c.writeByte(a, static_cast<u8>(v));
    else if constexpr (Size == 2)
        c.writeWord(a, static_cast<u16>(v));
    else
        c.writeLong(a, v);
}

// (An)+ and -(An) step: a byte through A7 keeps the stack pointer even.
template <int Size>
inline u32 step(u32 reg)
{
    if constexpr (Size == 1)
        return reg == 15 ? 2 : 1;
    else
        return Size;
}

inline u32 indexed(M68K& c, u32 base)
{
    const u16 ext = c.fetchWord();
    u32 index = c.m_r[ext >> 12];
    if (!(ext & 0x800))
        index = static_cast<u32>(static_cast<s32>(static_cast<s16>(index)));
    return base + index + static_cast<u32>(static_cast<s32>(static_cast<s8>(ext)));
}

// The address of a memory operand, with the register update applied. reg is
// the register field 0-7.
template <int Mode, int Size>
inline u32 eaAddress(M68K& c, u32 reg)
{
    static_assert(isMemory(Mode));
    if constexpr (Mode == kAi) {
        return c.m_r[8 + reg];
    } else if constexpr (Mode == kPi) {
        const u32 a = c.m_r[8 + reg];
        c.m_r[8 + reg] = a + step<Size>(8 + reg);
        return a;
    } else if constexpr (Mode == kPd) {
        return c.m_r[8 + reg] -= step<Size>(8 + reg);
    } else if constexpr (Mode == kDi) {
        return c.m_r[8 + reg] + static_cast<u32>(static_cast<s32>(static_cast<s16>(c.fetchWord())));
    } else if constexpr (Mode == kIx) {
        return indexed(c, c.m_r[8 + reg]);
    } else if constexpr (Mode == kAbsW) {
        return static_cast<u32>(static_cast<s32>(static_cast<s16>(c.fetchWord())));
    } else if constexpr (Mode == kAbsL) {
        return c.fetchLong();
    } else if constexpr (Mode == kPcDi) {
        const u32 base = c.fetchPc();
        return base + static_cast<u32>(static_cast<s32>(static_cast<s16>(c.fetchWord())));
    } else {
        return indexed(c, c.fetchPc());
    }
}

template <int Size>
inline u32 fetchImmediate(M68K& c)
{
    if constexpr (Size == 1)
        return c.fetchWord() & 0xFF;
    else if constexpr (Size == 2)
        return c.fetchWord();
    else
        return c.fetchLong();
}

// A source operand, at the operand size, zero-extended.
template <int Mode, int Size>
inline u32 readSource(M68K& c, u32 reg)
{
    if constexpr (Mode == kDn)
        return c.m_r[reg] & sizeMask<Size>();
    else if constexpr (Mode == kAn)
        return c.m_r[8 + reg] & sizeMask<Size>();
    else if constexpr (Mode == kImm)
        return fetchImmediate<Size>(c);
    else
        return readMem<Size>(c, eaAddress<Mode, Size>(c, reg));
}

// A destination operand: a data register or a memory address formed once,
// read and written at the same place.
template <int Mode, int Size>
struct Operand {
    u32 where;  // register index or address

    static Operand form(M68K& c, u32 reg)
    {
        if constexpr (Mode == kDn)
            return {reg};
        else
            return {eaAddress<Mode, Size>(c, reg)};
    }
    u32 load(M68K& c) const
    {
        if constexpr (Mode == kDn)
            return c.m_r[where] & sizeMask<Size>();
        else
            return readMem<Size>(c, where);
    }
    void store(M68K& c, u32 v) const
    {
        if constexpr (Mode == kDn)
            writeDn<Size>(c, where, v);
        else
            writeMem<Size>(c, where, v);
    }
};

inline u32 regY(u16 op) { return op & 7; }
inline u32 regX(u16 op) { return (op >> 9) & 7; }

// Calls fn once per listed mode, with the mode as a compile-time constant.
template <int... Modes, class Fn>
inline void forModes(Fn&& fn)
{
    (fn(std::integral_constant<int, Modes>{}), ...);
}

// Row helpers: register fields free, mode bits fixed.
inline void addRow(std::vector<M68kPattern>& rows, u16 match, u16 mask, M68kHandler h, const char* group)
{
    rows.push_back(M68kPattern{match, mask, h, group});
}

}  // namespace m68k
