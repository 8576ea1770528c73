#include <array>
#include <bit>
#include <memory>

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

inline u32 sext16(u32 v) { return static_cast<u32>(static_cast<s32>(static_cast<s16>(v))); }

// The longest waiting loop looked for, in bytes from its start to its
// branch; what it calls may be longer.
constexpr u32 kWaitLoopBytes = 32;

// The handlers of the interpreter: one per row of the instruction set, in
// its order, then the undefined opcode and the hook trap.
#define KEST_SH2_HANDLERS(X) KEST_SH2_INSNS(X) X(Undefined) X(HookTrap)

// The handler of a decode table value in a list in the order above.
const void* handlerOf(const void* const* handlers, u8 index)
{
    return handlers[index < kInsnCount ? index : kInsnCount + (index - kUndefined)];
}

constexpr u32 kOpcodeWords = 0x10000;
// The bits of two PCs that must agree for one page base to fetch at both.
constexpr u32 kPageAndParity = ~PageMap::kPageMask | 1;
constexpr u16 kBraSelf = 0xAFFE;  // bra .

// Handler addresses by opcode word as loaded, so a dispatch is one table
// load away from the fetch; BRA to itself may have a handler of its own.
std::unique_ptr<const void*[]> threadedTable(const u8* indexes, const void* const* handlers,
                                             const void* braSelf = nullptr)
{
    auto table = std::make_unique<const void*[]>(kOpcodeWords);
    for (u32 word = 0; word < kOpcodeWords; ++word)
        table[word] = handlerOf(handlers, indexes[word]);
    if (braSelf)
        table[tableIndex(kBraSelf)] = braSelf;
    return table;
}

// Handler addresses by decode table value.
std::array<const void*, 256> indexTable(const void* const* handlers)
{
    std::array<const void*, 256> table{};
    for (u32 index = 0; index < kInsnCount; ++index)
        table[index] = handlers[index];
    table[kUndefined] = handlerOf(handlers, kUndefined);
    table[kHookTrap] = handlerOf(handlers, kHookTrap);
    return table;
}

}  // namespace

void SH2::writeSR(u32 value)
{
    unpackSR(value & kSrMask);
    checkPendingLevel();
}

void SH2::illegalInstruction(u16 opcode, bool slot)
{
    // A slot-illegal exception saves the address of the branch that owns
    // the slot, so the handler sees the instruction pair as a whole.
    const u32 pc = m_pc;
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

void SH2::macL(s32 a, s32 b)
{
    const s64 product = s64{a} * s64{b};
    const u64 mac = m_mac;
    if (!m_fs) {
        m_mac = mac + static_cast<u64>(product);
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
    m_mac = static_cast<u64>(sum);
}

void SH2::macW(s16 a, s16 b)
{
    const s32 product = s32{a} * s32{b};
    if (!m_fs) {
        m_mac += static_cast<u64>(s64{product});
        return;
    }
    s64 sum = s64{static_cast<s32>(macl())} + product;
    if (sum < INT32_MIN)
        sum = INT32_MIN;
    else if (sum > INT32_MAX)
        sum = INT32_MAX;
    setMacl(static_cast<u32>(sum));
}

// One function with a handler per instruction and a dispatch at the end of
// each, so the PC and the clock count stay in host registers. They are
// written back before anything that can look at them from outside: a bus
// access may schedule an event, cut the budget or raise an interrupt, and
// the count is read back after it.
void SH2::interpret(bool breakpoints)
{
#define KEST_SH2_LABEL(name, ...) &&op##name,
#define KEST_SH2_SLOT(name, ...) isSlotIllegal(k##name) ? &&slotIllegal : &&op##name,
#define KEST_SH2_DEBUG(name, ...) &&debug,
#define KEST_SH2_RECORD(name, ...) &&record,
    static const void* const kHandlers[] = {KEST_SH2_HANDLERS(KEST_SH2_LABEL)};
    // A delay slot dispatches through its own table, where what may not
    // sit in a slot leads to the slot-illegal exception.
    static const void* const kSlotList[] = {KEST_SH2_HANDLERS(KEST_SH2_SLOT)};
    static const std::array<const void*, 256> kSlotHandlers = indexTable(kSlotList);
    // Every processor decodes alike, so one table serves them all.
    static const std::unique_ptr<const void*[]> kThreaded = threadedTable(m_table, kHandlers, &&opBraSelf);
    // While a waiting loop's pass is recorded, every word is noted first.
    static const void* const kRecordHandlers[] = {KEST_SH2_HANDLERS(KEST_SH2_RECORD)};
    static const std::unique_ptr<const void*[]> kRecordThreaded = threadedTable(m_table, kRecordHandlers);
    const void* const* handlers = kThreaded.get();
    if (breakpoints) {
        // Every word passes the check first; otherwise the hot path does not
        // test for it at all.
        static const void* const kDebugHandlers[] = {KEST_SH2_HANDLERS(KEST_SH2_DEBUG)};
        static const std::unique_ptr<const void*[]> kDebugThreaded = threadedTable(m_table, kDebugHandlers);
        handlers = kDebugThreaded.get();
    }
#undef KEST_SH2_RECORD
#undef KEST_SH2_DEBUG
#undef KEST_SH2_SLOT
#undef KEST_SH2_LABEL

    u32* const R = m_r;
    const uintptr_t* const direct = m_direct.get();
    u32 pc = m_pc;
    s32 clocks = m_clocksLeft;
    u32 word = 0;
    u16 fetched = 0;
    uintptr_t page = 0;
    u32 target = 0;
    u32 branch = 0;
    // Only a settled loop carries over: the others' clocks count in this
    // slice's budget.
    const bool skip = !breakpoints && m_skipWaitLoops;
    if (m_wait.phase != WaitLoop::kSettled || !skip) {
        m_wait.phase = WaitLoop::kWatching;
        m_wait.branch = ~0u;
        m_wait.resumable = m_wait.finished = false;
    }
    std::fill_n(m_rejected, kRejectedSlots, ~0u);
    m_lastRejected = ~0u;
    std::fill_n(m_watched, kRejectedSlots, ~0u);

    // The opcode's fields, taken from the word as loaded: the opcode with
    // its bytes swapped, so word bits 0-3 are the opcode's n (bits 8-11),
    // bits 4-7 its top nibble, bits 8-15 its low byte (imm, disp; bits
    // 8-11 the 4-bit disp) and bits 12-15 its m (bits 4-7).
#define REG_N (word & 15)
#define REG_M ((word >> 12) & 15)
#define RN R[REG_N]
#define RM R[REG_M]
#define IMM (word >> 8)
#define SIMM sext8(word >> 8)
#define DISP ((word >> 8) & 15)
#define DISP12 sext12(OPCODE)
#define OPCODE static_cast<u16>(word << 8 | word >> 8)
#define STORE_STATE() (m_pc = pc, m_clocksLeft = clocks)
#define LOAD_STATE() (pc = m_pc, clocks = m_clocksLeft)
// A PC set anew looks its page up; the next in line keeps the page until
// it crosses into another.
#define DISPATCH()                    \
    do {                              \
        page = pageBase(direct, pc);  \
        FETCH();                      \
    } while (0)
#define FETCH()                                                      \
    do {                                                             \
        if (clocks <= 0) [[unlikely]]                                \
            goto leave;                                              \
        std::memcpy(&fetched, reinterpret_cast<const void*>(page + pc), 2); \
        word = fetched;                                              \
        goto* handlers[word];                                        \
    } while (0)
// A branch keeps the page when it lands in the same page at the same
// parity.
#define JUMP(from)                                                    \
    do {                                                              \
        if (((pc ^ (from)) & kPageAndParity) != 0) [[unlikely]]       \
            page = pageBase(direct, pc);                              \
        FETCH();                                                      \
    } while (0)
#define NEXT(c)                                              \
    do {                                                     \
        pc += 2;                                             \
        clocks -= (c);                                       \
        if ((pc & (PageMap::kPageMask - 1)) == 0) [[unlikely]] \
            page = pageBase(direct, pc);                     \
        FETCH();                                             \
    } while (0)
#define BRANCH(c, to)  \
    do {               \
        target = (to); \
        clocks -= (c); \
        goto slot;     \
    } while (0)

    // Plain memory is read and written in place; anything else goes to its
    // handler with the state written back, since a handler may look at it.
    u8* const* const ram = m_map->ramPages();
    constexpr u32 kPageMask = PageMap::kPageMask;
    const auto load8 = [&](u32 a) __attribute__((always_inline)) {
        if (const u8* p = ram[a >> PageMap::kPageShift]) [[likely]]
            return p[a & kPageMask];
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        const u8 v = h.readByte(h.owner, this, a);
        clocks = m_clocksLeft;
        return v;
    };
    const auto load16 = [&](u32 a) __attribute__((always_inline)) {
        if (const u8* p = ram[a >> PageMap::kPageShift]) [[likely]]
            return loadBe16(p + (a & (kPageMask - 1)));
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        const u16 v = h.readWord(h.owner, this, a);
        clocks = m_clocksLeft;
        return v;
    };
    const auto load32 = [&](u32 a) __attribute__((always_inline)) {
        if (const u8* p = ram[a >> PageMap::kPageShift]) [[likely]]
            return loadBe32(p + (a & (kPageMask - 3)));
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        const u32 v = h.readLong(h.owner, this, a);
        clocks = m_clocksLeft;
        return v;
    };
    const auto store8 = [&](u32 a, u32 d) __attribute__((always_inline)) {
        if (u8* p = ram[a >> PageMap::kPageShift]) [[likely]] {
            p[a & kPageMask] = static_cast<u8>(d);
            return;
        }
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        h.writeByte(h.owner, this, a, static_cast<u8>(d));
        clocks = m_clocksLeft;
    };
    const auto store16 = [&](u32 a, u32 d) __attribute__((always_inline)) {
        if (u8* p = ram[a >> PageMap::kPageShift]) [[likely]] {
            storeBe16(p + (a & (kPageMask - 1)), static_cast<u16>(d));
            return;
        }
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        h.writeWord(h.owner, this, a, static_cast<u16>(d));
        clocks = m_clocksLeft;
    };
    const auto store32 = [&](u32 a, u32 d) __attribute__((always_inline)) {
        if (u8* p = ram[a >> PageMap::kPageShift]) [[likely]] {
            storeBe32(p + (a & (kPageMask - 3)), d);
            return;
        }
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        h.writeLong(h.owner, this, a, d);
        clocks = m_clocksLeft;
    };

    DISPATCH();

debug:
    STORE_STATE();
    if (checkBreakpoint(pc))
        return;
    clocks = m_clocksLeft;
    goto* kThreaded[word];

slot:
    // The slot runs with the branch, whatever is left of the budget. It
    // sees the PC as target - 2, so its own advance lands on the target and
    // PC-relative operands are formed from target + 2.
    branch = pc;
    if (((pc + 2) & (kPageMask - 1)) == 0) [[unlikely]]
        page = pageBase(direct, pc + 2);
    std::memcpy(&fetched, reinterpret_cast<const void*>(page + pc + 2), 2);
    word = fetched;
    pc = target - 2;
    if (((target ^ (branch + 2)) & kPageAndParity) != 0) [[unlikely]]
        page = pageBase(direct, target);
    goto* kSlotHandlers[m_table[word]];

slotIllegal:
    pc = branch;
    STORE_STATE();
    illegalInstruction(OPCODE, true);
    LOAD_STATE();
    DISPATCH();

leave:
    STORE_STATE();
    if (m_wait.phase == WaitLoop::kSettled)
        endWaiting(pc);
    return;

backward:
    if (skip && branch - pc <= kWaitLoopBytes && !waitingRejected(branch)) {
        clocks = skipWaiting(branch, pc, clocks, false);
        if (m_wait.finished) {
            pc = m_wait.endPc;
            goto leave;
        }
        handlers = m_wait.phase == WaitLoop::kRecording ? kRecordThreaded.get() : kThreaded.get();
    }
    JUMP(branch);

backwardSlot:
    // A backward BT/S or BF/S, or a BRA to itself: the pass is looked at
    // before the slot, which begins the next.
    if (skip && pc - target <= kWaitLoopBytes && !waitingRejected(pc)) {
        clocks = skipWaiting(pc, target, clocks, true);
        if (m_wait.finished) {
            pc = m_wait.endPc;
            goto leave;
        }
        handlers = m_wait.phase == WaitLoop::kRecording ? kRecordThreaded.get() : kThreaded.get();
    }
    goto slot;

record:
    recordPoint(pc, clocks);
    if (!recordStep(word, pc, pc)) {
        stopRecording();
        handlers = kThreaded.get();
    }
    goto* kThreaded[word];

opAdd: RN += RM; NEXT(1);
opAddImm: RN += SIMM; NEXT(1);
opAddc: {
    const u32 a = RN;
    const u32 s = a + RM;
    RN = s + m_ft;
    m_ft = (a > s) || (s > RN);
    NEXT(1);
}
opAddv: {
    s32 r;
    m_ft = __builtin_add_overflow(static_cast<s32>(RN), static_cast<s32>(RM), &r);
    RN = static_cast<u32>(r);
    NEXT(1);
}
opAnd: RN &= RM; NEXT(1);
opAndImm: R[0] &= IMM; NEXT(1);
opAndB: {
    const u32 a = m_gbr + R[0];
    store8(a, load8(a) & IMM);
    NEXT(3);
}
opBf:
    if (!m_ft) {
        branch = pc;
        pc += 4 + SIMM * 2;
        clocks -= 3;
        if (pc < branch)
            goto backward;
        JUMP(branch);
    }
    NEXT(1);
opBt:
    if (m_ft) {
        branch = pc;
        pc += 4 + SIMM * 2;
        clocks -= 3;
        if (pc < branch)
            goto backward;
        JUMP(branch);
    }
    NEXT(1);
opBfs:
    if (!m_ft) {
        target = pc + 4 + SIMM * 2;
        clocks -= 2;
        if (target <= pc)
            goto backwardSlot;
        goto slot;
    }
    NEXT(1);
opBts:
    if (m_ft) {
        target = pc + 4 + SIMM * 2;
        clocks -= 2;
        if (target <= pc)
            goto backwardSlot;
        goto slot;
    }
    NEXT(1);
opBra: BRANCH(2, pc + 4 + DISP12 * 2);
// BRA to itself, an idle loop, has a handler of its own so that no other
// BRA pays for the look at it. Compiled loops close with a test, so only
// this BRA waits.
opBraSelf:
    target = pc;
    clocks -= 2;
    goto backwardSlot;
opBraf: BRANCH(2, pc + 4 + RN);
opBsr: m_pr = pc + 4; BRANCH(2, pc + 4 + DISP12 * 2);
opBsrf: target = pc + 4 + RN; m_pr = pc + 4; BRANCH(2, target);
opJmp: BRANCH(2, RN);
opJsr: target = RN; m_pr = pc + 4; BRANCH(2, target);
opRts: BRANCH(2, m_pr);
opRte: {
    STORE_STATE();
    const u32 to = pop();
    const u32 sr = pop();
    unpackSR(sr & kSrMask);
    checkPendingLevel();
    clocks = m_clocksLeft;
    BRANCH(4, to);
}
opClrmac: m_mac = 0; NEXT(1);
opClrt: m_ft = 0; NEXT(1);
opCmpEq: m_ft = RN == RM; NEXT(1);
opCmpGe: m_ft = static_cast<s32>(RN) >= static_cast<s32>(RM); NEXT(1);
opCmpGt: m_ft = static_cast<s32>(RN) > static_cast<s32>(RM); NEXT(1);
opCmpHi: m_ft = RN > RM; NEXT(1);
opCmpHs: m_ft = RN >= RM; NEXT(1);
opCmpPl: m_ft = static_cast<s32>(RN) > 0; NEXT(1);
opCmpPz: m_ft = static_cast<s32>(RN) >= 0; NEXT(1);
opCmpStr: {
    const u32 x = RN ^ RM;
    m_ft = !(x & 0xFF000000) || !(x & 0x00FF0000) || !(x & 0x0000FF00) || !(x & 0x000000FF);
    NEXT(1);
}
opCmpEqImm: m_ft = R[0] == SIMM; NEXT(1);
opDiv0s:
    m_fq = RN >> 31;
    m_fm = RM >> 31;
    m_ft = m_fq != m_fm;
    NEXT(1);
opDiv0u: m_fm = m_fq = m_ft = 0; NEXT(1);
opDiv1: div1(REG_M, REG_N); NEXT(1);
opDmulsL: {
    const s64 p = s64{static_cast<s32>(RN)} * s64{static_cast<s32>(RM)};
    m_mac = static_cast<u64>(p);
    NEXT(2);
}
opDmuluL: {
    const u64 p = u64{RN} * RM;
    m_mac = p;
    NEXT(2);
}
opDt: m_ft = --RN == 0; NEXT(1);
opExtsB: RN = sext8(RM); NEXT(1);
opExtsW: RN = sext16(RM); NEXT(1);
opExtuB: RN = RM & 0xFF; NEXT(1);
opExtuW: RN = RM & 0xFFFF; NEXT(1);
opLdcSr:
    pc += 2;
    clocks -= 1;
    STORE_STATE();
    writeSR(RN);
    clocks = m_clocksLeft;
    DISPATCH();
opLdcGbr: m_gbr = RN; NEXT(1);
opLdcVbr: m_vbr = RN; NEXT(1);
opLdcLSr: {
    const u32 v = load32(RN);
    RN += 4;
    pc += 2;
    clocks -= 3;
    STORE_STATE();
    writeSR(v);
    clocks = m_clocksLeft;
    DISPATCH();
}
opLdcLGbr: m_gbr = load32(RN); RN += 4; NEXT(3);
opLdcLVbr: m_vbr = load32(RN); RN += 4; NEXT(3);
opLdsMach: setMach(RN); NEXT(1);
opLdsMacl: setMacl(RN); NEXT(1);
opLdsPr: m_pr = RN; NEXT(1);
opLdsLMach: setMach(load32(RN)); RN += 4; NEXT(1);
opLdsLMacl: setMacl(load32(RN)); RN += 4; NEXT(1);
opLdsLPr: m_pr = load32(RN); RN += 4; NEXT(1);
// @Rn is read first, and Rn steps before @Rm is read.
opMacL: {
    const s32 a = static_cast<s32>(load32(RN));
    RN += 4;
    const s32 b = static_cast<s32>(load32(RM));
    RM += 4;
    macL(a, b);
    NEXT(3);
}
opMacW: {
    const s16 a = static_cast<s16>(load16(RN));
    RN += 2;
    const s16 b = static_cast<s16>(load16(RM));
    RM += 2;
    macW(a, b);
    NEXT(3);
}
opMov: RN = RM; NEXT(1);
opMovBStore: store8(RN, RM); NEXT(1);
opMovWStore: store16(RN, RM); NEXT(1);
opMovLStore: store32(RN, RM); NEXT(1);
opMovBLoad: RN = sext8(load8(RM)); NEXT(1);
opMovWLoad: RN = sext16(load16(RM)); NEXT(1);
opMovLLoad: RN = load32(RM); NEXT(1);
opMovBPush: store8(RN - 1, RM); RN -= 1; NEXT(1);
opMovWPush: store16(RN - 2, RM); RN -= 2; NEXT(1);
opMovLPush: store32(RN - 4, RM); RN -= 4; NEXT(1);
// A pop into its own address register keeps the loaded value.
opMovBPop: {
    const u32 v = sext8(load8(RM));
    RM += REG_N != REG_M;
    RN = v;
    NEXT(1);
}
opMovWPop: {
    const u32 v = sext16(load16(RM));
    RM += REG_N != REG_M ? 2 : 0;
    RN = v;
    NEXT(1);
}
opMovLPop: {
    const u32 v = load32(RM);
    RM += REG_N != REG_M ? 4 : 0;
    RN = v;
    NEXT(1);
}
opMovBStoreR0: store8(R[0] + RN, RM); NEXT(1);
opMovWStoreR0: store16(R[0] + RN, RM); NEXT(1);
opMovLStoreR0: store32(R[0] + RN, RM); NEXT(1);
opMovBLoadR0: RN = sext8(load8(R[0] + RM)); NEXT(1);
opMovWLoadR0: RN = sext16(load16(R[0] + RM)); NEXT(1);
opMovLLoadR0: RN = load32(R[0] + RM); NEXT(1);
opMovImm: RN = SIMM; NEXT(1);
opMovWPc: RN = sext16(load16(pc + 4 + IMM * 2)); NEXT(1);
opMovLPc: RN = load32(((pc + 4) & ~3u) + IMM * 4); NEXT(1);
opMovBLoadGbr: R[0] = sext8(load8(m_gbr + IMM)); NEXT(1);
opMovWLoadGbr: R[0] = sext16(load16(m_gbr + IMM * 2)); NEXT(1);
opMovLLoadGbr: R[0] = load32(m_gbr + IMM * 4); NEXT(1);
opMovBStoreGbr: store8(m_gbr + IMM, R[0]); NEXT(1);
opMovWStoreGbr: store16(m_gbr + IMM * 2, R[0]); NEXT(1);
opMovLStoreGbr: store32(m_gbr + IMM * 4, R[0]); NEXT(1);
opMovBStoreDisp: store8(RM + DISP, R[0]); NEXT(1);
opMovWStoreDisp: store16(RM + DISP * 2, R[0]); NEXT(1);
opMovLStoreDisp: store32(RN + DISP * 4, RM); NEXT(1);
opMovBLoadDisp: R[0] = sext8(load8(RM + DISP)); NEXT(1);
opMovWLoadDisp: R[0] = sext16(load16(RM + DISP * 2)); NEXT(1);
opMovLLoadDisp: RN = load32(RM + DISP * 4); NEXT(1);
opMova: R[0] = ((pc + 4) & ~3u) + IMM * 4; NEXT(1);
opMovt: RN = m_ft; NEXT(1);
opMulL: setMacl(RN * RM); NEXT(2);
opMulsW: setMacl(static_cast<u32>(s32{static_cast<s16>(RN)} * s32{static_cast<s16>(RM)})); NEXT(1);
opMuluW: setMacl((RN & 0xFFFF) * (RM & 0xFFFF)); NEXT(1);
opNeg: RN = 0u - RM; NEXT(1);
opNegc: {
    const u32 t = 0u - RM;
    RN = t - m_ft;
    m_ft = (0 < t) || (t < RN);
    NEXT(1);
}
opNop: NEXT(1);
opNot: RN = ~RM; NEXT(1);
opOr: RN |= RM; NEXT(1);
opOrImm: R[0] |= IMM; NEXT(1);
opOrB: {
    const u32 a = m_gbr + R[0];
    store8(a, load8(a) | IMM);
    NEXT(3);
}
opRotcl: {
    const u32 t = RN >> 31;
    RN = (RN << 1) | m_ft;
    m_ft = t;
    NEXT(1);
}
opRotcr: {
    const u32 t = RN & 1;
    RN = (RN >> 1) | (m_ft << 31);
    m_ft = t;
    NEXT(1);
}
opRotl: m_ft = RN >> 31; RN = (RN << 1) | m_ft; NEXT(1);
opRotr: m_ft = RN & 1; RN = (RN >> 1) | (m_ft << 31); NEXT(1);
opSett: m_ft = 1; NEXT(1);
opShal:
opShll: m_ft = RN >> 31; RN <<= 1; NEXT(1);
opShar: m_ft = RN & 1; RN = static_cast<u32>(static_cast<s32>(RN) >> 1); NEXT(1);
opShll2: RN <<= 2; NEXT(1);
opShll8: RN <<= 8; NEXT(1);
opShll16: RN <<= 16; NEXT(1);
opShlr: m_ft = RN & 1; RN >>= 1; NEXT(1);
opShlr2: RN >>= 2; NEXT(1);
opShlr8: RN >>= 8; NEXT(1);
opShlr16: RN >>= 16; NEXT(1);
opSleep:
    STORE_STATE();
    sleep();
    clocks = m_clocksLeft;
    DISPATCH();
opStcSr: RN = packSR(); NEXT(1);
opStcGbr: RN = m_gbr; NEXT(1);
opStcVbr: RN = m_vbr; NEXT(1);
opStcLSr: RN -= 4; store32(RN, packSR()); NEXT(2);
opStcLGbr: RN -= 4; store32(RN, m_gbr); NEXT(2);
opStcLVbr: RN -= 4; store32(RN, m_vbr); NEXT(2);
opStsMach: RN = mach(); NEXT(1);
opStsMacl: RN = macl(); NEXT(1);
opStsPr: RN = m_pr; NEXT(1);
opStsLMach: RN -= 4; store32(RN, mach()); NEXT(1);
opStsLMacl: RN -= 4; store32(RN, macl()); NEXT(1);
opStsLPr: RN -= 4; store32(RN, m_pr); NEXT(1);
opSub: RN -= RM; NEXT(1);
opSubc: {
    const u32 a = RN;
    const u32 d = a - RM;
    RN = d - m_ft;
    m_ft = (a < d) || (d < RN);
    NEXT(1);
}
opSubv: {
    s32 r;
    m_ft = __builtin_sub_overflow(static_cast<s32>(RN), static_cast<s32>(RM), &r);
    RN = static_cast<u32>(r);
    NEXT(1);
}
opSwapB: RN = (RM & 0xFFFF0000) | ((RM & 0xFF) << 8) | ((RM >> 8) & 0xFF); NEXT(1);
opSwapW: RN = (RM << 16) | (RM >> 16); NEXT(1);
opTasB: {
    const u32 a = RN;
    const u8 v = load8(a);
    m_ft = v == 0;
    store8(a, v | 0x80);
    NEXT(4);
}
opTrapa:
    R[15] -= 4;
    store32(R[15], packSR());
    R[15] -= 4;
    store32(R[15], pc + 2);
    pc = load32(m_vbr + IMM * 4);
    clocks -= 8;
    DISPATCH();
opTst: m_ft = (RN & RM) == 0; NEXT(1);
opTstImm: m_ft = (R[0] & IMM) == 0; NEXT(1);
opTstB: m_ft = (load8(m_gbr + R[0]) & IMM) == 0; NEXT(3);
opXor: RN ^= RM; NEXT(1);
opXorImm: R[0] ^= IMM; NEXT(1);
opXorB: {
    const u32 a = m_gbr + R[0];
    store8(a, load8(a) ^ IMM);
    NEXT(3);
}
opXtrct: RN = (RN >> 16) | (RM << 16); NEXT(1);
opHookTrap:
    STORE_STATE();
    addressError();
    LOAD_STATE();
    DISPATCH();
opUndefined:
    STORE_STATE();
    illegalInstruction(OPCODE, false);
    LOAD_STATE();
    DISPATCH();

#undef REG_N
#undef REG_M
#undef RN
#undef RM
#undef IMM
#undef SIMM
#undef DISP
#undef DISP12
#undef OPCODE
#undef STORE_STATE
#undef LOAD_STATE
#undef DISPATCH
#undef NEXT
#undef BRANCH
}
