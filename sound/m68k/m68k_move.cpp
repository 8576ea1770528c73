// Data movement: MOVE, MOVEA, MOVEQ, MOVEM, MOVEP, LEA, PEA, EXG, SWAP,
// EXT, CLR, LINK and UNLK.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

template <int Dst, int Size>
constexpr s32 moveClocks()
{
    constexpr s32 shortTimes[] = {4, 0, 8, 8, 8, 12, 14, 12, 16};
    constexpr s32 longTimes[] = {4, 0, 12, 12, 12, 16, 18, 16, 20};
    return Size == 4 ? longTimes[Dst] : shortTimes[Dst];
}

template <int Src, int Dst, int Size>
void opMove(M68K& c, u16 op)
{
    u32 value = 0;
    if constexpr (!isMemory(Src)) {
        // Register and immediate sources are taken before the destination
        // changes its register, so MOVE.L A0,-(A0) stores the old A0.
        value = readSource<Src, Size>(c, regY(op));
        const auto dst = Operand<Dst, Size>::form(c, regX(op));
        dst.store(c, value);
    } else {
        const u32 from = eaAddress<Src, Size>(c, regY(op));
        const auto dst = Operand<Dst, Size>::form(c, regX(op));
        value = readMem<Size>(c, from);
        dst.store(c, value);
    }
    setLogicFlags<Size>(c, value);
    c.charge(moveClocks<Dst, Size>());
}

template <int Src, int Size>
void opMovea(M68K& c, u16 op)
{
    u32 v = readSource<Src, Size>(c, regY(op));
    if constexpr (Size == 2)
        v = static_cast<u32>(static_cast<s32>(static_cast<s16>(v)));
    c.m_r[8 + regX(op)] = v;
    c.charge(4);
}

void opMoveq(M68K& c, u16 op)
{
    const u32 v = static_cast<u32>(static_cast<s32>(static_cast<s8>(op)));
    c.m_r[regX(op)] = v;
    setLogicFlags<4>(c, v);
    c.charge(4);
}

template <int Mode, int Size>
void opMovemToMemory(M68K& c, u16 op)
{
    const u32 list = c.fetchWord();
    const u32 reg = regY(op);
    s32 n = 0;
    if constexpr (Mode == kPd) {
        // The list is reversed, and a listed An is stored with its old value.
        u32 a = c.m_r[8 + reg];
        for (u32 i = 0; i < 16; ++i) {
            if (list & (1u << i)) {
                a -= Size;
                writeMem<Size>(c, a, c.m_r[15 - i]);
                ++n;
            }
        }
        c.m_r[8 + reg] = a;
        c.charge(Size == 2 ? 8 + 4 * n : 8 + 8 * n);
    } else {
        u32 a = eaAddress<Mode, Size>(c, reg);
        for (u32 i = 0; i < 16; ++i) {
            if (list & (1u << i)) {
                writeMem<Size>(c, a, c.m_r[i]);
                a += Size;
                ++n;
            }
        }
        c.charge(Size == 2 ? 4 + 4 * n : 8 * n);
    }
}

template <int Mode, int Size>
constexpr s32 movemLoadBase()
{
    if constexpr (Mode == kPi)
        return 12;
    else if constexpr (Mode == kPcDi)
        return 16;
    else if constexpr (Mode == kPcIx)
        return 18;
    else
        return Size == 2 ? 8 : 4;
}

template <int Mode, int Size>
void opMovemToRegisters(M68K& c, u16 op)
{
    const u32 list = c.fetchWord();
    const u32 reg = regY(op);
    u32 a;
    if constexpr (Mode == kPi)
        a = c.m_r[8 + reg];
    else
        a = eaAddress<Mode, Size>(c, reg);
    s32 n = 0;
    for (u32 i = 0; i < 16; ++i) {
        if (list & (1u << i)) {
            u32 v = readMem<Size>(c, a);
            if constexpr (Size == 2)
                v = static_cast<u32>(static_cast<s32>(static_cast<s16>(v)));
            c.m_r[i] = v;
            a += Size;
            ++n;
        }
    }
    // The final address replaces a value loaded into the same An.
    if constexpr (Mode == kPi)
        c.m_r[8 + reg] = a;
    c.charge(movemLoadBase<Mode, Size>() + (Size == 2 ? 4 : 8) * n);
}

u32 movepAddress(M68K& c, u16 op)
{
    return c.m_r[8 + regY(op)] + static_cast<u32>(static_cast<s32>(static_cast<s16>(c.fetchWord())));
}

void opMovepWordFromMemory(M68K& c, u16 op)
{
    const u32 a = movepAddress(c, op);
    const u32 low = c.readByte(a + 2);
    const u32 high = c.readByte(a);
    writeDn<2>(c, regX(op), high << 8 | low);
    c.charge(16);
}

void opMovepLongFromMemory(M68K& c, u16 op)
{
    const u32 a = movepAddress(c, op);
    const u32 b3 = c.readByte(a + 6);
    const u32 b2 = c.readByte(a + 4);
    const u32 b1 = c.readByte(a + 2);
    const u32 b0 = c.readByte(a);
    c.m_r[regX(op)] = b0 << 24 | b1 << 16 | b2 << 8 | b3;
    c.charge(24);
}

void opMovepWordToMemory(M68K& c, u16 op)
{
    const u32 a = movepAddress(c, op);
    const u32 v = c.m_r[regX(op)];
    c.writeByte(a, static_cast<u8>(v >> 8));
    c.writeByte(a + 2, static_cast<u8>(v));
    c.charge(16);
}

void opMovepLongToMemory(M68K& c, u16 op)
{
    const u32 a = movepAddress(c, op);
    const u32 v = c.m_r[regX(op)];
    c.writeByte(a, static_cast<u8>(v >> 24));
    c.writeByte(a + 2, static_cast<u8>(v >> 16));
    c.writeByte(a + 4, static_cast<u8>(v >> 8));
    c.writeByte(a + 6, static_cast<u8>(v));
    c.charge(24);
}

// LEA touches no memory; it charges the manual's address-calculation times.
template <int Mode>
constexpr s32 leaClocks()
{
    return Mode == kAi ? 4 : (Mode == kIx || Mode == kPcIx || Mode == kAbsL) ? 12 : 8;
}

template <int Mode>
void opLea(M68K& c, u16 op)
{
    c.m_r[8 + regX(op)] = eaAddress<Mode, 4>(c, regY(op));
    c.charge(leaClocks<Mode>());
}

template <int Mode>
void opPea(M68K& c, u16 op)
{
    const u32 a = eaAddress<Mode, 4>(c, regY(op));
    c.m_r[15] -= 4;
    c.writeLong(c.m_r[15], a);
    c.charge(6);
}

template <u32 XBase, u32 YBase>
void opExg(M68K& c, u16 op)
{
    const u32 x = XBase + regX(op);
    const u32 y = YBase + regY(op);
    const u32 t = c.m_r[x];
    c.m_r[x] = c.m_r[y];
    c.m_r[y] = t;
    c.charge(6);
}

void opSwap(M68K& c, u16 op)
{
    u32& r = c.m_r[regY(op)];
    r = r >> 16 | r << 16;
    setLogicFlags<4>(c, r);
    c.charge(4);
}

void opExtWord(M68K& c, u16 op)
{
    const u32 v = static_cast<u32>(static_cast<s32>(static_cast<s8>(c.m_r[regY(op)])));
    writeDn<2>(c, regY(op), v);
    setLogicFlags<2>(c, v & 0xFFFF);
    c.charge(4);
}

void opExtLong(M68K& c, u16 op)
{
    const u32 v = static_cast<u32>(static_cast<s32>(static_cast<s16>(c.m_r[regY(op)])));
    c.m_r[regY(op)] = v;
    setLogicFlags<4>(c, v);
    c.charge(4);
}

template <int Mode, int Size>
void opClr(M68K& c, u16 op)
{
    // No read before the write.
    Operand<Mode, Size>::form(c, regY(op)).store(c, 0);
    c.m_n = c.m_v = c.m_c = 0;
    c.m_notZ = 0;
    c.charge(Mode == kDn ? (Size == 4 ? 6 : 4) : (Size == 4 ? 12 : 8));
}

void opLink(M68K& c, u16 op)
{
    const u32 n = 8 + regY(op);
    const u32 displacement = static_cast<u32>(static_cast<s32>(static_cast<s16>(c.fetchWord())));
    c.m_r[15] -= 4;
    c.writeLong(c.m_r[15], c.m_r[n]);
    c.m_r[n] = c.m_r[15];
    c.m_r[15] += displacement;
    c.charge(16);
}

// The 68000 pushes A7 as it was before the push, as for any other An.
void opLinkA7(M68K& c, u16)
{
    const u32 displacement = static_cast<u32>(static_cast<s32>(static_cast<s16>(c.fetchWord())));
    const u32 old = c.m_r[15];
    c.m_r[15] = old - 4;
    c.writeLong(c.m_r[15], old);
    c.m_r[15] += displacement;
    c.charge(16);
}

// For UNLK A7 the loaded value overrides the step of 4.
void opUnlk(M68K& c, u16 op)
{
    const u32 n = 8 + regY(op);
    const u32 frame = c.m_r[n];
    const u32 v = c.readLong(frame);
    c.m_r[15] = frame + 4;
    c.m_r[n] = v;
    c.charge(12);
}

constexpr u16 moveDestinationField(int mode)
{
    return mode <= kIx ? static_cast<u16>(mode << 6) : mode == kAbsW ? 0x1C0 : 0x3C0;
}
constexpr u16 moveDestinationMask(int mode) { return mode <= kIx ? 0x1C0 : 0xFC0; }

template <int Size>
void addMoveSize(std::vector<M68kPattern>& rows, u16 base)
{
    auto perSource = [&](auto s) {
        constexpr int Src = decltype(s)::value;
        if constexpr (!(Size == 1 && Src == kAn)) {
            forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto d) {
                constexpr int Dst = decltype(d)::value;
                const u16 match = static_cast<u16>(base | moveDestinationField(Dst) | eaBits(Src));
                const u16 mask = static_cast<u16>(0xF000 | moveDestinationMask(Dst) | eaMask(Src));
                addRow(rows, match, mask, opMove<Src, Dst, Size>, "MOVE");
                // Byte pushes and pops through A7 step by 2.
                if constexpr (Size == 1 && (Dst == kPi || Dst == kPd))
                    addRow(rows, static_cast<u16>(match | 0xE00), static_cast<u16>(mask | 0xE00), opMove<Src, Dst, Size>, "MOVE");
            });
        }
    };
    forModes<kDn, kAn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm>(perSource);
}

template <int Size>
void addMovea(std::vector<M68kPattern>& rows, u16 base)
{
    forModes<kDn, kAn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm>([&](auto s) {
        constexpr int Src = decltype(s)::value;
        addRow(rows, static_cast<u16>(base | eaBits(Src)), static_cast<u16>(0xF1C0 | eaMask(Src)), opMovea<Src, Size>,
               "MOVEA");
    });
}

template <int Size>
void addMovem(std::vector<M68kPattern>& rows, u16 toMemory, u16 toRegisters)
{
    forModes<kPd, kAi, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Mode = decltype(m)::value;
        addRow(rows, static_cast<u16>(toMemory | eaBits(Mode)), static_cast<u16>(0xFFC0 | eaMask(Mode)),
               opMovemToMemory<Mode, Size>, "MOVEM");
    });
    forModes<kPi, kPcDi, kPcIx, kAi, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Mode = decltype(m)::value;
        addRow(rows, static_cast<u16>(toRegisters | eaBits(Mode)), static_cast<u16>(0xFFC0 | eaMask(Mode)),
               opMovemToRegisters<Mode, Size>, "MOVEM");
    });
}

template <int Size>
void addClr(std::vector<M68kPattern>& rows, u16 base)
{
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Mode = decltype(m)::value;
        addRow(rows, static_cast<u16>(base | eaBits(Mode)), static_cast<u16>(0xFFC0 | eaMask(Mode)), opClr<Mode, Size>,
               "CLR");
    });
}

}  // namespace

void addMoveRows(std::vector<M68kPattern>& rows)
{
    addMoveSize<1>(rows, 0x1000);
    addMoveSize<2>(rows, 0x3000);
    addMoveSize<4>(rows, 0x2000);
    addMovea<2>(rows, 0x3040);
    addMovea<4>(rows, 0x2040);
    addRow(rows, 0x7000, 0xF100, opMoveq, "MOVEQ");
    addMovem<2>(rows, 0x4880, 0x4C80);
    addMovem<4>(rows, 0x48C0, 0x4CC0);
    addRow(rows, 0x0108, 0xF1F8, opMovepWordFromMemory, "MOVEP");
    addRow(rows, 0x0148, 0xF1F8, opMovepLongFromMemory, "MOVEP");
    addRow(rows, 0x0188, 0xF1F8, opMovepWordToMemory, "MOVEP");
    addRow(rows, 0x01C8, 0xF1F8, opMovepLongToMemory, "MOVEP");
    forModes<kAi, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx>([&](auto m) {
        constexpr int Mode = decltype(m)::value;
        addRow(rows, static_cast<u16>(0x41C0 | eaBits(Mode)), static_cast<u16>(0xF1C0 | eaMask(Mode)), opLea<Mode>, "LEA");
        addRow(rows, static_cast<u16>(0x4840 | eaBits(Mode)), static_cast<u16>(0xFFC0 | eaMask(Mode)), opPea<Mode>, "PEA");
    });
    addRow(rows, 0xC140, 0xF1F8, opExg<0, 0>, "EXG");
    addRow(rows, 0xC148, 0xF1F8, opExg<8, 8>, "EXG");
    addRow(rows, 0xC188, 0xF1F8, opExg<0, 8>, "EXG");
    addRow(rows, 0x4840, 0xFFF8, opSwap, "SWAP");
    addRow(rows, 0x4880, 0xFFF8, opExtWord, "EXT");
    addRow(rows, 0x48C0, 0xFFF8, opExtLong, "EXT");
    addClr<1>(rows, 0x4200);
    addClr<2>(rows, 0x4240);
    addClr<4>(rows, 0x4280);
    addRow(rows, 0x4E50, 0xFFF8, opLink, "LINK");
    addRow(rows, 0x4E57, 0xFFFF, opLinkA7, "LINK");
    addRow(rows, 0x4E58, 0xFFF8, opUnlk, "UNLK");
    addRow(rows, 0x4E5F, 0xFFFF, opUnlk, "UNLK");
}
