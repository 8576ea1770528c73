// Program and system control: branches, DBcc, Scc, jumps and returns,
// traps, the status-register instructions, STOP, line A and line F.

#include "sound/m68k/m68k_ea.h"

using namespace m68k;

namespace {

constexpr s32 kExceptionClocks = 34;
constexpr u32 kOverflowVector = 7;
constexpr u32 kPrivilegeVector = 8;
constexpr u32 kLineAVector = 10;
constexpr u32 kLineFVector = 11;
constexpr u32 kTrapVectorBase = 32;

inline s32 signedWord(u16 w) { return static_cast<s16>(w); }

// Privileged forms test S before they read anything, so the stacked PC is
// that of the word after the opcode.
inline bool privilegeViolation(M68K& c)
{
    if (c.m_s)
        return false;
    c.enterException(kPrivilegeVector);
    c.charge(kExceptionClocks);
    return true;
}

template <int Cond>
void opBccShort(M68K& c, u16 op)
{
    if (c.condition(Cond)) {
        c.branchTo(c.fetchPc() + static_cast<u32>(static_cast<s32>(static_cast<s8>(op))));
        c.charge(10);
        // A branch to itself (a driver idling until its interrupt) touches
        // no flag, so it is taken again until the slice ends.
        if (static_cast<s8>(op) == -2)
            c.idleTurns(10);
    } else {
        c.charge(8);
    }
}

template <int Cond>
void opBccWord(M68K& c, u16)
{
    const u32 base = c.fetchPc();
    const u32 displacement = static_cast<u32>(signedWord(c.fetchWord()));
    if (c.condition(Cond)) {
        c.branchTo(base + displacement);
        c.charge(10);
    } else {
        c.charge(12);
    }
}

void pushLong(M68K& c, u32 v)
{
    c.m_r[15] -= 4;
    c.writeLong(c.m_r[15], v);
}

void opBsrShort(M68K& c, u16 op)
{
    const u32 base = c.fetchPc();
    pushLong(c, base);
    c.branchTo(base + static_cast<u32>(static_cast<s32>(static_cast<s8>(op))));
    c.charge(18);
}

void opBsrWord(M68K& c, u16)
{
    const u32 base = c.fetchPc();
    const u32 displacement = static_cast<u32>(signedWord(c.fetchWord()));
    pushLong(c, c.fetchPc());
    c.branchTo(base + displacement);
    c.charge(18);
}

template <int Cond>
void opDbcc(M68K& c, u16 op)
{
    const u32 base = c.fetchPc();
    const u32 displacement = static_cast<u32>(signedWord(c.fetchWord()));
    if (c.condition(Cond)) {
        c.charge(12);
        return;
    }
    u32& r = c.m_r[regY(op)];
    const u32 count = (r - 1) & 0xFFFF;
    r = (r & 0xFFFF0000u) | count;
    if (count == 0xFFFF) {
        c.charge(14);
    } else {
        c.branchTo(base + displacement);
        c.charge(10);
    }
}

template <int Cond, int Dst>
void opScc(M68K& c, u16 op)
{
    const bool taken = c.condition(Cond);
    Operand<Dst, 1>::form(c, regY(op)).store(c, taken ? 0xFF : 0);
    if constexpr (Dst == kDn)
        c.charge(taken ? 6 : 4);
    else
        c.charge(taken ? 10 : 8);
}

template <int Mode>
void opJmp(M68K& c, u16 op)
{
    c.jump(eaAddress<Mode, 4>(c, regY(op)));
    c.charge(4);
}

template <int Mode>
void opJsr(M68K& c, u16 op)
{
    const u32 target = eaAddress<Mode, 4>(c, regY(op));
    pushLong(c, c.fetchPc());
    c.jump(target);
    c.charge(12);
}

void opRts(M68K& c, u16)
{
    const u32 target = c.readLong(c.m_r[15]);
    c.m_r[15] += 4;
    c.jump(target);
    c.charge(16);
}

void opRtr(M68K& c, u16)
{
    const u16 ccr = c.readWord(c.m_r[15]);
    c.m_r[15] += 2;
    c.unpackCCR(static_cast<u8>(ccr));
    const u32 target = c.readLong(c.m_r[15]);
    c.m_r[15] += 4;
    c.jump(target);
    c.charge(20);
}

void opRte(M68K& c, u16)
{
    if (privilegeViolation(c))
        return;
    const u16 sr = c.readWord(c.m_r[15]);
    c.m_r[15] += 2;
    const u32 target = c.readLong(c.m_r[15]);
    c.m_r[15] += 4;
    // After both pops, so the stored SSP is the popped one.
    c.unpackSR(sr);
    c.jump(target);
    c.charge(20);
}

void opTrap(M68K& c, u16 op)
{
    c.enterException(kTrapVectorBase + (op & 15));
    c.charge(kExceptionClocks);
}

void opTrapv(M68K& c, u16)
{
    if (c.flagV()) {
        c.enterException(kOverflowVector);
        c.charge(kExceptionClocks);
    } else {
        c.charge(4);
    }
}

void opNop(M68K& c, u16) { c.charge(4); }

// The processor does not wait: the program goes on after the immediate.
void opStop(M68K& c, u16)
{
    if (privilegeViolation(c))
        return;
    c.unpackSR(c.fetchWord());
    c.charge(4);
    c.logError(1, "STOP instruction not implemented!");
}

void opLineA(M68K& c, u16)
{
    c.enterException(kLineAVector);
    c.charge(kExceptionClocks);
}

void opLineF(M68K& c, u16)
{
    c.enterException(kLineFVector);
    c.charge(kExceptionClocks);
}

template <int Src>
void opMoveToCcr(M68K& c, u16 op)
{
    c.unpackCCR(static_cast<u8>(readSource<Src, 2>(c, regY(op))));
    c.charge(12);
}

template <int Src>
void opMoveToSr(M68K& c, u16 op)
{
    if (privilegeViolation(c))
        return;
    c.unpackSR(static_cast<u16>(readSource<Src, 2>(c, regY(op))));
    c.charge(12);
}

template <int Dst>
void opMoveFromSr(M68K& c, u16 op)
{
    if (privilegeViolation(c))
        return;
    Operand<Dst, 2>::form(c, regY(op)).store(c, c.packSR());
    c.charge(Dst == kDn ? 6 : 8);
}

void opMoveToUsp(M68K& c, u16 op)
{
    if (privilegeViolation(c))
        return;
    c.m_sp[0] = c.m_r[8 + regY(op)];
    c.charge(4);
}

void opMoveFromUsp(M68K& c, u16 op)
{
    if (privilegeViolation(c))
        return;
    c.m_r[8 + regY(op)] = c.m_sp[0];
    c.charge(4);
}

enum Logic { kAnd, kOr, kEor };

template <Logic L>
inline u32 combine(u32 a, u32 b)
{
    return L == kAnd ? (a & b) : L == kOr ? (a | b) : (a ^ b);
}

template <Logic L>
void opLogicToCcr(M68K& c, u16)
{
    const u32 imm = c.fetchWord() & 0xFF;
    c.unpackCCR(static_cast<u8>(combine<L>(c.packSR() & 0x1F, imm)));
    c.charge(20);
}

template <Logic L>
void opLogicToSr(M68K& c, u16)
{
    if (privilegeViolation(c))
        return;
    const u32 imm = c.fetchWord();
    c.unpackSR(static_cast<u16>(combine<L>(c.packSR(), imm)));
    c.charge(20);
}

template <int Cond>
void addCondition(std::vector<M68kPattern>& rows)
{
    const u16 cc = static_cast<u16>(Cond << 8);
    if constexpr (Cond >= 2) {
        addRow(rows, static_cast<u16>(0x6000 | cc), 0xFF00, opBccShort<Cond>, "Bcc");
        addRow(rows, static_cast<u16>(0x6000 | cc), 0xFFFF, opBccWord<Cond>, "Bcc");
    }
    addRow(rows, static_cast<u16>(0x50C8 | cc), 0xFFF8, opDbcc<Cond>, "DBcc");
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL>([&](auto m) {
        constexpr int Dst = decltype(m)::value;
        addRow(rows, static_cast<u16>(0x50C0 | cc | eaBits(Dst)), static_cast<u16>(0xFFC0 | eaMask(Dst)),
               opScc<Cond, Dst>, "Scc");
    });
}

template <int... Conds>
void addConditions(std::vector<M68kPattern>& rows)
{
    (addCondition<Conds>(rows), ...);
}

}  // namespace

void addSystemRows(std::vector<M68kPattern>& rows)
{
    addRow(rows, 0xA000, 0xF000, opLineA, "line A");
    addRow(rows, 0xF000, 0xF000, opLineF, "line F");
    addConditions<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>(rows);
    addRow(rows, 0x6000, 0xFF00, opBccShort<0>, "BRA");
    addRow(rows, 0x6000, 0xFFFF, opBccWord<0>, "BRA");
    addRow(rows, 0x6100, 0xFF00, opBsrShort, "BSR");
    addRow(rows, 0x6100, 0xFFFF, opBsrWord, "BSR");
    forModes<kAi, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx>([&](auto m) {
        constexpr int Mode = decltype(m)::value;
        addRow(rows, static_cast<u16>(0x4EC0 | eaBits(Mode)), static_cast<u16>(0xFFC0 | eaMask(Mode)), opJmp<Mode>, "JMP");
        addRow(rows, static_cast<u16>(0x4E80 | eaBits(Mode)), static_cast<u16>(0xFFC0 | eaMask(Mode)), opJsr<Mode>, "JSR");
    });
    addRow(rows, 0x4E75, 0xFFFF, opRts, "RTS");
    addRow(rows, 0x4E77, 0xFFFF, opRtr, "RTR");
    addRow(rows, 0x4E73, 0xFFFF, opRte, "RTE");
    addRow(rows, 0x4E40, 0xFFF0, opTrap, "TRAP");
    addRow(rows, 0x4E76, 0xFFFF, opTrapv, "TRAPV");
    addRow(rows, 0x4E71, 0xFFFF, opNop, "NOP");
    addRow(rows, 0x4E72, 0xFFFF, opStop, "STOP");
    addRow(rows, 0x4E70, 0xFFFF, M68K::incompatible, "RESET");
    addRow(rows, 0x4AFC, 0xFFFF, M68K::illegalInstruction, "ILLEGAL");
    forModes<kDn, kAi, kPi, kPd, kDi, kIx, kAbsW, kAbsL, kPcDi, kPcIx, kImm>([&](auto m) {
        constexpr int Mode = decltype(m)::value;
        const u16 mask = static_cast<u16>(0xFFC0 | eaMask(Mode));
        addRow(rows, static_cast<u16>(0x44C0 | eaBits(Mode)), mask, opMoveToCcr<Mode>, "MOVE to CCR");
        addRow(rows, static_cast<u16>(0x46C0 | eaBits(Mode)), mask, opMoveToSr<Mode>, "MOVE to SR");
        if constexpr (Mode <= kAbsL)
            addRow(rows, static_cast<u16>(0x40C0 | eaBits(Mode)), mask, opMoveFromSr<Mode>, "MOVE from SR");
    });
    addRow(rows, 0x4E60, 0xFFF8, opMoveToUsp, "MOVE USP");
    addRow(rows, 0x4E68, 0xFFF8, opMoveFromUsp, "MOVE USP");
    addRow(rows, 0x023C, 0xFFFF, opLogicToCcr<kAnd>, "ANDI to CCR");
    addRow(rows, 0x003C, 0xFFFF, opLogicToCcr<kOr>, "ORI to CCR");
    addRow(rows, 0x0A3C, 0xFFFF, opLogicToCcr<kEor>, "EORI to CCR");
    addRow(rows, 0x027C, 0xFFFF, opLogicToSr<kAnd>, "ANDI to SR");
    addRow(rows, 0x007C, 0xFFFF, opLogicToSr<kOr>, "ORI to SR");
    addRow(rows, 0x0A7C, 0xFFFF, opLogicToSr<kEor>, "EORI to SR");
}
