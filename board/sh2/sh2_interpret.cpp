#include <bit>

#include "board/sh2/sh2.h"

using namespace sh2;

// Opcodes are fetched by a native load and looked up with their bytes
// swapped, which is what a little-endian host reads from big-endian memory.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr u32 kSrMask = 0x3F3;
constexpr u32 kIllegalVector = 4;
constexpr u32 kSlotIllegalVector = 6;
constexpr u32 kIllegalClocks = 6;

inline u32 sext8(u32 v) { return static_cast<u32>(static_cast<s32>(static_cast<s8>(v))); }
inline u32 sext16(u32 v) { return static_cast<u32>(static_cast<s32>(static_cast<s16>(v))); }
inline u32 sext12(u32 v) { return (v & 0x800) ? (v | 0xFFFFF000u) : (v & 0xFFF); }

// Instructions that change the PC: placed in a delay slot they are slot
// illegal, which also keeps slots from nesting.
constexpr bool isSlotIllegal(u8 index)
{
    switch (index) {
    case kBf: case kBfs: case kBra: case kBraf: case kBsr: case kBsrf: case kBt: case kBts: case kJmp:
    case kJsr: case kRte: case kRts: case kTrapa:
        return true;
    default:
        return false;
    }
}

}  // namespace

void SH2::interpret(bool breakpoints)
{
    if (m_clocksLeft <= 0)
        return;
    do {
        if (breakpoints && checkBreakpoint(m_pc))
            return;
        m_inSlot = 0;
        dispatch(fetch(m_pc));
    } while (m_clocksLeft > 0);
}

void SH2::writeSR(u32 value)
{
    unpackSR(value & kSrMask);
    checkPendingLevel();
}

void SH2::delaySlot(u32 target)
{
    const u32 branch = m_pc;
    const u16 raw = fetch(branch + 2);
    m_slotBranch = branch;
    if (isSlotIllegal(m_table[raw])) {
        m_inSlot = 1;
        illegalInstruction(static_cast<u16>(raw << 8 | raw >> 8));
        m_inSlot = 0;
        return;
    }
    // The slot sees the PC as target - 2, so its own advance lands on the
    // target and PC-relative operands are formed from target + 2.
    m_pc = target - 2;
    m_inSlot = 1;
    dispatch(raw);
}

void SH2::illegalInstruction(u16 opcode)
{
    // A slot-illegal exception saves the address of the branch that owns
    // the slot, so the handler sees the instruction pair as a whole.
    const bool slot = m_inSlot != 0;
    const u32 pc = slot ? m_slotBranch : m_pc;
    m_r[15] -= 4;
    writeLong(m_r[15], packSR());
    m_r[15] -= 4;
    writeLong(m_r[15], pc);
    m_pc = readLong(m_vbr + (slot ? kSlotIllegalVector : kIllegalVector) * 4);
    m_clocksLeft -= kIllegalClocks;
    logWarning(1, "Illegal instruction, [CA: %08X, PC: %08X, OP: %04X, DS: %d]", m_pr - 4, pc, opcode, slot ? 1 : 0);
}

void SH2::sleep()
{
    if (m_state == kCpuRunning) {
        m_clocksLeft -= 3;
        if (pmu.sbycr & 0x80) {
            intc.standby();
            bsc.reset();
            cache.reset();
            dmac.reset();
            divu.reset();
            frt.reset();
            wdt.standby();
            sci.reset();
            m_state = kCpuStandby;
            logDebug(1, "SLEEP<STANDBY> [PC: %08X]", m_pc);
        } else {
            m_state = kCpuSleep;
            logDebug(1, "SLEEP<SLEEP> [PC: %08X]", m_pc);
        }
    }
    if (m_clocksLeft > 0)
        m_clocksLeft = 0;
}

void SH2::div1(u32 m, u32 n)
{
    const u32 oldQ = m_fq;
    const u32 q = m_r[n] >> 31;
    const u32 before = (m_r[n] << 1) | m_ft;
    // Rm is read after the shift, so div1 Rn,Rn divides by the shifted value.
    m_r[n] = before;
    const u32 divisor = m_r[m];
    u32 carry;
    if (oldQ == m_fm) {
        m_r[n] = before - divisor;
        carry = m_r[n] > before;
    } else {
        m_r[n] = before + divisor;
        carry = m_r[n] < before;
    }
    m_fq = q ^ carry ^ m_fm;
    m_ft = m_fq == m_fm;
}

void SH2::macL(u32 m, u32 n)
{
    const s32 a = static_cast<s32>(readLong(m_r[n]));
    m_r[n] += 4;
    const s32 b = static_cast<s32>(readLong(m_r[m]));
    m_r[m] += 4;
    const s64 product = s64{a} * s64{b};
    const u64 mac = u64{m_mach} << 32 | m_macl;
    if (!m_fs) {
        const u64 sum = mac + static_cast<u64>(product);
        m_mach = static_cast<u32>(sum >> 32);
        m_macl = static_cast<u32>(sum);
        return;
    }
    // Saturating mode keeps a 48-bit accumulator: MACH's upper half is the
    // sign of bit 47, not data.
    constexpr s64 kMin48 = -(s64{1} << 47);
    constexpr s64 kMax48 = (s64{1} << 47) - 1;
    const s64 acc = static_cast<s64>(mac << 16) >> 16;
    s64 sum = acc + product;
    if (sum < kMin48)
        sum = kMin48;
    else if (sum > kMax48)
        sum = kMax48;
    m_mach = static_cast<u32>(static_cast<u64>(sum) >> 32);
    m_macl = static_cast<u32>(sum);
}

void SH2::macW(u32 m, u32 n)
{
    const s16 a = static_cast<s16>(readWord(m_r[n]));
    m_r[n] += 2;
    const s16 b = static_cast<s16>(readWord(m_r[m]));
    m_r[m] += 2;
    const s32 product = s32{a} * s32{b};
    if (!m_fs) {
        const u64 sum = (u64{m_mach} << 32 | m_macl) + static_cast<u64>(s64{product});
        m_mach = static_cast<u32>(sum >> 32);
        m_macl = static_cast<u32>(sum);
        return;
    }
    s64 sum = s64{static_cast<s32>(m_macl)} + product;
    if (sum < INT32_MIN)
        sum = INT32_MIN;
    else if (sum > INT32_MAX)
        sum = INT32_MAX;
    m_macl = static_cast<u32>(sum);
}

void SH2::dispatch(u16 raw)
{
    const u32 op = static_cast<u16>(raw << 8 | raw >> 8);
    const u32 n = (op >> 8) & 15;
    const u32 m = (op >> 4) & 15;
    u32* R = m_r;

#define NEXT(c)          \
    do {                 \
        m_pc += 2;       \
        m_clocksLeft -= (c); \
    } while (0)

    switch (m_table[raw]) {
    case kAdd: R[n] += R[m]; NEXT(1); break;
    case kAddImm: R[n] += sext8(op); NEXT(1); break;
    case kAddc: {
        const u32 a = R[n];
        const u32 s = a + R[m];
        R[n] = s + m_ft;
        m_ft = (a > s) || (s > R[n]);
        NEXT(1);
        break;
    }
    case kAddv: {
        s32 r;
        m_ft = __builtin_add_overflow(static_cast<s32>(R[n]), static_cast<s32>(R[m]), &r);
        R[n] = static_cast<u32>(r);
        NEXT(1);
        break;
    }
    case kAnd: R[n] &= R[m]; NEXT(1); break;
    case kAndImm: R[0] &= op & 0xFF; NEXT(1); break;
    case kAndB: {
        const u32 a = m_gbr + R[0];
        writeByte(a, static_cast<u8>(readByte(a) & op));
        NEXT(3);
        break;
    }
    case kBf:
        if (!m_ft) {
            m_pc += 4 + sext8(op) * 2;
            m_clocksLeft -= 3;
        } else {
            NEXT(1);
        }
        break;
    case kBt:
        if (m_ft) {
            m_pc += 4 + sext8(op) * 2;
            m_clocksLeft -= 3;
        } else {
            NEXT(1);
        }
        break;
    case kBfs:
        if (!m_ft) {
            m_clocksLeft -= 2;
            delaySlot(m_pc + 4 + sext8(op) * 2);
        } else {
            NEXT(1);
        }
        break;
    case kBts:
        if (m_ft) {
            m_clocksLeft -= 2;
            delaySlot(m_pc + 4 + sext8(op) * 2);
        } else {
            NEXT(1);
        }
        break;
    case kBra: m_clocksLeft -= 2; delaySlot(m_pc + 4 + sext12(op) * 2); break;
    case kBraf: m_clocksLeft -= 2; delaySlot(m_pc + 4 + R[n]); break;
    case kBsr: m_pr = m_pc + 4; m_clocksLeft -= 2; delaySlot(m_pc + 4 + sext12(op) * 2); break;
    case kBsrf: {
        const u32 target = m_pc + 4 + R[n];
        m_pr = m_pc + 4;
        m_clocksLeft -= 2;
        delaySlot(target);
        break;
    }
    case kClrmac: m_mach = m_macl = 0; NEXT(1); break;
    case kClrt: m_ft = 0; NEXT(1); break;
    case kCmpEq: m_ft = R[n] == R[m]; NEXT(1); break;
    case kCmpGe: m_ft = static_cast<s32>(R[n]) >= static_cast<s32>(R[m]); NEXT(1); break;
    case kCmpGt: m_ft = static_cast<s32>(R[n]) > static_cast<s32>(R[m]); NEXT(1); break;
    case kCmpHi: m_ft = R[n] > R[m]; NEXT(1); break;
    case kCmpHs: m_ft = R[n] >= R[m]; NEXT(1); break;
    case kCmpPl: m_ft = static_cast<s32>(R[n]) > 0; NEXT(1); break;
    case kCmpPz: m_ft = static_cast<s32>(R[n]) >= 0; NEXT(1); break;
    case kCmpStr: {
        const u32 x = R[n] ^ R[m];
        m_ft = !(x & 0xFF000000) || !(x & 0x00FF0000) || !(x & 0x0000FF00) || !(x & 0x000000FF);
        NEXT(1);
        break;
    }
    case kCmpEqImm: m_ft = R[0] == sext8(op); NEXT(1); break;
    case kDiv0s:
        m_fq = R[n] >> 31;
        m_fm = R[m] >> 31;
        m_ft = m_fq != m_fm;
        NEXT(1);
        break;
    case kDiv0u: m_fm = m_fq = m_ft = 0; NEXT(1); break;
    case kDiv1: div1(m, n); NEXT(1); break;
    case kDmulsL: {
        const s64 p = s64{static_cast<s32>(R[n])} * s64{static_cast<s32>(R[m])};
        m_mach = static_cast<u32>(static_cast<u64>(p) >> 32);
        m_macl = static_cast<u32>(p);
        NEXT(2);
        break;
    }
    case kDmuluL: {
        const u64 p = u64{R[n]} * R[m];
        m_mach = static_cast<u32>(p >> 32);
        m_macl = static_cast<u32>(p);
        NEXT(2);
        break;
    }
    case kDt: m_ft = --R[n] == 0; NEXT(1); break;
    case kExtsB: R[n] = sext8(R[m]); NEXT(1); break;
    case kExtsW: R[n] = sext16(R[m]); NEXT(1); break;
    case kExtuB: R[n] = R[m] & 0xFF; NEXT(1); break;
    case kExtuW: R[n] = R[m] & 0xFFFF; NEXT(1); break;
    case kJmp: m_clocksLeft -= 2; delaySlot(R[n]); break;
    case kJsr: {
        const u32 target = R[n];
        m_pr = m_pc + 4;
        m_clocksLeft -= 2;
        delaySlot(target);
        break;
    }
    case kLdcSr: NEXT(1); writeSR(R[n]); break;
    case kLdcGbr: m_gbr = R[n]; NEXT(1); break;
    case kLdcVbr: m_vbr = R[n]; NEXT(1); break;
    case kLdcLSr: {
        const u32 v = readLong(R[n]);
        R[n] += 4;
        NEXT(3);
        writeSR(v);
        break;
    }
    case kLdcLGbr: m_gbr = readLong(R[n]); R[n] += 4; NEXT(3); break;
    case kLdcLVbr: m_vbr = readLong(R[n]); R[n] += 4; NEXT(3); break;
    case kLdsMach: m_mach = R[n]; NEXT(1); break;
    case kLdsMacl: m_macl = R[n]; NEXT(1); break;
    case kLdsPr: m_pr = R[n]; NEXT(1); break;
    case kLdsLMach: m_mach = readLong(R[n]); R[n] += 4; NEXT(1); break;
    case kLdsLMacl: m_macl = readLong(R[n]); R[n] += 4; NEXT(1); break;
    case kLdsLPr: m_pr = readLong(R[n]); R[n] += 4; NEXT(1); break;
    case kMacL: macL(m, n); NEXT(3); break;
    case kMacW: macW(m, n); NEXT(3); break;
    case kMov: R[n] = R[m]; NEXT(1); break;
    case kMovBStore: writeByte(R[n], static_cast<u8>(R[m])); NEXT(1); break;
    case kMovWStore: writeWord(R[n], static_cast<u16>(R[m])); NEXT(1); break;
    case kMovLStore: writeLong(R[n], R[m]); NEXT(1); break;
    case kMovBLoad: R[n] = sext8(readByte(R[m])); NEXT(1); break;
    case kMovWLoad: R[n] = sext16(readWord(R[m])); NEXT(1); break;
    case kMovLLoad: R[n] = readLong(R[m]); NEXT(1); break;
    case kMovBPush: {
        const u32 v = R[m];
        writeByte(R[n] - 1, static_cast<u8>(v));
        R[n] -= 1;
        NEXT(1);
        break;
    }
    case kMovWPush: {
        const u32 v = R[m];
        writeWord(R[n] - 2, static_cast<u16>(v));
        R[n] -= 2;
        NEXT(1);
        break;
    }
    case kMovLPush: {
        const u32 v = R[m];
        writeLong(R[n] - 4, v);
        R[n] -= 4;
        NEXT(1);
        break;
    }
    case kMovBPop: {
        const u32 v = sext8(readByte(R[m]));
        if (n != m)
            R[m] += 1;
        R[n] = v;
        NEXT(1);
        break;
    }
    case kMovWPop: {
        const u32 v = sext16(readWord(R[m]));
        if (n != m)
            R[m] += 2;
        R[n] = v;
        NEXT(1);
        break;
    }
    case kMovLPop: {
        const u32 v = readLong(R[m]);
        if (n != m)
            R[m] += 4;
        R[n] = v;
        NEXT(1);
        break;
    }
    case kMovBStoreR0: writeByte(R[0] + R[n], static_cast<u8>(R[m])); NEXT(1); break;
    case kMovWStoreR0: writeWord(R[0] + R[n], static_cast<u16>(R[m])); NEXT(1); break;
    case kMovLStoreR0: writeLong(R[0] + R[n], R[m]); NEXT(1); break;
    case kMovBLoadR0: R[n] = sext8(readByte(R[0] + R[m])); NEXT(1); break;
    case kMovWLoadR0: R[n] = sext16(readWord(R[0] + R[m])); NEXT(1); break;
    case kMovLLoadR0: R[n] = readLong(R[0] + R[m]); NEXT(1); break;
    case kMovImm: R[n] = sext8(op); NEXT(1); break;
    case kMovWPc: R[n] = sext16(readWord(m_pc + 4 + (op & 0xFF) * 2)); NEXT(1); break;
    case kMovLPc: R[n] = readLong(((m_pc + 4) & ~3u) + (op & 0xFF) * 4); NEXT(1); break;
    case kMovBLoadGbr: R[0] = sext8(readByte(m_gbr + (op & 0xFF))); NEXT(1); break;
    case kMovWLoadGbr: R[0] = sext16(readWord(m_gbr + (op & 0xFF) * 2)); NEXT(1); break;
    case kMovLLoadGbr: R[0] = readLong(m_gbr + (op & 0xFF) * 4); NEXT(1); break;
    case kMovBStoreGbr: writeByte(m_gbr + (op & 0xFF), static_cast<u8>(R[0])); NEXT(1); break;
    case kMovWStoreGbr: writeWord(m_gbr + (op & 0xFF) * 2, static_cast<u16>(R[0])); NEXT(1); break;
    case kMovLStoreGbr: writeLong(m_gbr + (op & 0xFF) * 4, R[0]); NEXT(1); break;
    case kMovBStoreDisp: writeByte(R[m] + (op & 15), static_cast<u8>(R[0])); NEXT(1); break;
    case kMovWStoreDisp: writeWord(R[m] + (op & 15) * 2, static_cast<u16>(R[0])); NEXT(1); break;
    case kMovLStoreDisp: writeLong(R[n] + (op & 15) * 4, R[m]); NEXT(1); break;
    case kMovBLoadDisp: R[0] = sext8(readByte(R[m] + (op & 15))); NEXT(1); break;
    case kMovWLoadDisp: R[0] = sext16(readWord(R[m] + (op & 15) * 2)); NEXT(1); break;
    case kMovLLoadDisp: R[n] = readLong(R[m] + (op & 15) * 4); NEXT(1); break;
    case kMova: R[0] = ((m_pc + 4) & ~3u) + (op & 0xFF) * 4; NEXT(1); break;
    case kMovt: R[n] = m_ft; NEXT(1); break;
    case kMulL: m_macl = R[n] * R[m]; NEXT(2); break;
    case kMulsW:
        m_macl = static_cast<u32>(s32{static_cast<s16>(R[n])} * s32{static_cast<s16>(R[m])});
        NEXT(1);
        break;
    case kMuluW: m_macl = (R[n] & 0xFFFF) * (R[m] & 0xFFFF); NEXT(1); break;
    case kNeg: R[n] = 0u - R[m]; NEXT(1); break;
    case kNegc: {
        const u32 t = 0u - R[m];
        R[n] = t - m_ft;
        m_ft = (0 < t) || (t < R[n]);
        NEXT(1);
        break;
    }
    case kNop: NEXT(1); break;
    case kNot: R[n] = ~R[m]; NEXT(1); break;
    case kOr: R[n] |= R[m]; NEXT(1); break;
    case kOrImm: R[0] |= op & 0xFF; NEXT(1); break;
    case kOrB: {
        const u32 a = m_gbr + R[0];
        writeByte(a, static_cast<u8>(readByte(a) | op));
        NEXT(3);
        break;
    }
    case kRotcl: {
        const u32 t = R[n] >> 31;
        R[n] = (R[n] << 1) | m_ft;
        m_ft = t;
        NEXT(1);
        break;
    }
    case kRotcr: {
        const u32 t = R[n] & 1;
        R[n] = (R[n] >> 1) | (m_ft << 31);
        m_ft = t;
        NEXT(1);
        break;
    }
    case kRotl: m_ft = R[n] >> 31; R[n] = (R[n] << 1) | m_ft; NEXT(1); break;
    case kRotr: m_ft = R[n] & 1; R[n] = (R[n] >> 1) | (m_ft << 31); NEXT(1); break;
    case kRte: {
        const u32 target = pop();
        const u32 sr = pop();
        unpackSR(sr & kSrMask);
        checkPendingLevel();
        m_clocksLeft -= 4;
        delaySlot(target);
        break;
    }
    case kRts: m_clocksLeft -= 2; delaySlot(m_pr); break;
    case kSett: m_ft = 1; NEXT(1); break;
    case kShal:
    case kShll: m_ft = R[n] >> 31; R[n] <<= 1; NEXT(1); break;
    case kShar: m_ft = R[n] & 1; R[n] = static_cast<u32>(static_cast<s32>(R[n]) >> 1); NEXT(1); break;
    case kShll2: R[n] <<= 2; NEXT(1); break;
    case kShll8: R[n] <<= 8; NEXT(1); break;
    case kShll16: R[n] <<= 16; NEXT(1); break;
    case kShlr: m_ft = R[n] & 1; R[n] >>= 1; NEXT(1); break;
    case kShlr2: R[n] >>= 2; NEXT(1); break;
    case kShlr8: R[n] >>= 8; NEXT(1); break;
    case kShlr16: R[n] >>= 16; NEXT(1); break;
    case kSleep: sleep(); break;
    case kStcSr: R[n] = packSR(); NEXT(1); break;
    case kStcGbr: R[n] = m_gbr; NEXT(1); break;
    case kStcVbr: R[n] = m_vbr; NEXT(1); break;
    case kStcLSr: R[n] -= 4; writeLong(R[n], packSR()); NEXT(2); break;
    case kStcLGbr: R[n] -= 4; writeLong(R[n], m_gbr); NEXT(2); break;
    case kStcLVbr: R[n] -= 4; writeLong(R[n], m_vbr); NEXT(2); break;
    case kStsMach: R[n] = m_mach; NEXT(1); break;
    case kStsMacl: R[n] = m_macl; NEXT(1); break;
    case kStsPr: R[n] = m_pr; NEXT(1); break;
    case kStsLMach: R[n] -= 4; writeLong(R[n], m_mach); NEXT(1); break;
    case kStsLMacl: R[n] -= 4; writeLong(R[n], m_macl); NEXT(1); break;
    case kStsLPr: R[n] -= 4; writeLong(R[n], m_pr); NEXT(1); break;
    case kSub: R[n] -= R[m]; NEXT(1); break;
    case kSubc: {
        const u32 a = R[n];
        const u32 d = a - R[m];
        R[n] = d - m_ft;
        m_ft = (a < d) || (d < R[n]);
        NEXT(1);
        break;
    }
    case kSubv: {
        s32 r;
        m_ft = __builtin_sub_overflow(static_cast<s32>(R[n]), static_cast<s32>(R[m]), &r);
        R[n] = static_cast<u32>(r);
        NEXT(1);
        break;
    }
    case kSwapB: R[n] = (R[m] & 0xFFFF0000) | ((R[m] & 0xFF) << 8) | ((R[m] >> 8) & 0xFF); NEXT(1); break;
    case kSwapW: R[n] = (R[m] << 16) | (R[m] >> 16); NEXT(1); break;
    case kTasB: {
        const u32 a = R[n];
        const u8 v = readByte(a);
        m_ft = v == 0;
        writeByte(a, static_cast<u8>(v | 0x80));
        NEXT(4);
        break;
    }
    case kTrapa:
        m_r[15] -= 4;
        writeLong(m_r[15], packSR());
        m_r[15] -= 4;
        writeLong(m_r[15], m_pc + 2);
        m_pc = readLong(m_vbr + (op & 0xFF) * 4);
        m_clocksLeft -= 8;
        break;
    case kTst: m_ft = (R[n] & R[m]) == 0; NEXT(1); break;
    case kTstImm: m_ft = (R[0] & op & 0xFF) == 0; NEXT(1); break;
    case kTstB: m_ft = (readByte(m_gbr + R[0]) & op & 0xFF) == 0; NEXT(3); break;
    case kXor: R[n] ^= R[m]; NEXT(1); break;
    case kXorImm: R[0] ^= op & 0xFF; NEXT(1); break;
    case kXorB: {
        const u32 a = m_gbr + R[0];
        writeByte(a, static_cast<u8>(readByte(a) ^ op));
        NEXT(3);
        break;
    }
    case kXtrct: R[n] = (R[n] >> 16) | (R[m] << 16); NEXT(1); break;
    case kHookTrap: addressError(); break;
    default: illegalInstruction(static_cast<u16>(op)); break;
    }
#undef NEXT
}
