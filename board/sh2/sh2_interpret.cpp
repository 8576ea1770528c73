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

// Instructions that change the PC: placed in a delay slot they are slot
// illegal, which also keeps slots from nesting. An undefined opcode in a
// slot raises the same exception.
constexpr bool isSlotIllegal(u8 index)
{
    return flowOf(index) != Flow::Other || index == kTrapa || index == kUndefined;
}

// What may sit in a loop that waits for memory to change: loads, register
// moves and tests. None writes memory or reaches beyond the registers and
// T, so once an iteration that touched only plain memory leaves them as it
// found them, every later iteration in the same slice does the same.
constexpr bool isWaitStep(u8 index)
{
    switch (index) {
    case kMovBLoad: case kMovWLoad: case kMovLLoad: case kMovBLoadR0: case kMovWLoadR0: case kMovLLoadR0:
    case kMovBLoadGbr: case kMovWLoadGbr: case kMovLLoadGbr: case kMovBLoadDisp: case kMovWLoadDisp:
    case kMovLLoadDisp: case kMovWPc: case kMovLPc: case kMov: case kMovImm: case kCmpEq: case kCmpGe:
    case kCmpGt: case kCmpHi: case kCmpHs: case kCmpPl: case kCmpPz: case kCmpStr: case kCmpEqImm: case kTst:
    case kTstImm: case kTstB: case kAnd: case kAndImm: case kOr: case kOrImm: case kXor: case kXorImm:
    case kExtsB: case kExtsW: case kExtuB: case kExtuW: case kShlr: case kShlr2: case kShlr8: case kShlr16:
    case kShll: case kShll2: case kShll8: case kShll16: case kSwapB: case kSwapW: case kNop:
        return true;
    default:
        return false;
    }
}

// The longest waiting loop looked for, in bytes before its branch.
constexpr u32 kWaitLoopBytes = 12;

constexpr bool isCall(u8 index) { return index == kJsr || index == kBsr || index == kBsrf; }

// Clocks of a waiting step as the handlers below charge them.
constexpr s32 waitStepClocks(u8 index) { return index == kTstB ? 3 : 1; }
constexpr s32 kCallClocks = 2;

// The handlers of the interpreter: one per row of the instruction set, in
// its order, then the undefined opcode and the hook trap.
#define KEST_SH2_HANDLERS(X) KEST_SH2_INSNS(X) X(Undefined) X(HookTrap)

// The handler of a decode table value in a list in the order above.
const void* handlerOf(const void* const* handlers, u8 index)
{
    return handlers[index < kInsnCount ? index : kInsnCount + (index - kUndefined)];
}

// Host fetch through the direct entry of the address's own page, so the
// pointer can never leave the page it was made for. An odd PC fetches the
// word it sits in.
inline u16 fetchAt(const uintptr_t* direct, u32 pc)
{
    const u32 even = pc & ~1u;
    u16 raw;
    std::memcpy(&raw, reinterpret_cast<const void*>(direct[even >> PageMap::kPageShift] + even), 2);
    return raw;
}

constexpr u32 kOpcodeWords = 0x10000;

// Handler addresses by opcode word as loaded, so a dispatch is one table
// load away from the fetch.
std::unique_ptr<const void*[]> threadedTable(const u8* indexes, const void* const* handlers)
{
    auto table = std::make_unique<const void*[]>(kOpcodeWords);
    for (u32 word = 0; word < kOpcodeWords; ++word)
        table[word] = handlerOf(handlers, indexes[word]);
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

// Called when the branch of a short loop is taken back to target. The body
// from target to the branch runs straight through, so an iteration that
// took exactly its own cost ran nothing else; if it also called no handler
// that may answer differently and left the registers and T as it found
// them, the loop waits on memory nothing can change before the slice ends
// (the on-chip timers and flags move only between slices). The iterations
// that end with clocks to spare are then skipped whole, which leaves the PC
// and the count where running them would. The body may call one routine
// that only returns (rts with a waiting step in its slot): each pass writes
// the same PR, and the callee is known from the last call made.
s32 SH2::skipWaiting(u32 branch, u32 target, s32 clocks)
{
    WaitLoop& w = m_wait;
    if (branch == w.branch && m_callee == w.callee) {
        if (w.clocks - clocks == w.cost && m_handlerCalls == w.calls && m_ft == w.t && clocks > 0) {
            if (std::memcmp(w.values, m_r, sizeof w.values) == 0)
                clocks -= (clocks - 1) / w.cost * w.cost;
        }
    } else {
        w.branch = ~0u;
        const s32 cost = waitLoopCost(target, branch);
        if (cost == 0) {
            w.rejected = branch;
            return clocks;
        }
        w.branch = branch;
        w.callee = m_callee;
        w.cost = cost;
    }
    w.clocks = clocks;
    w.calls = m_handlerCalls;
    w.t = m_ft;
    std::memcpy(w.values, m_r, sizeof w.values);
    return clocks;
}

// The clocks of one pass of the body from target to a backward BT or BF at
// branch, or 0 when it holds more than waiting steps and one call of a
// routine that only returns.
s32 SH2::waitLoopCost(u32 target, u32 branch) const
{
    const uintptr_t* const direct = m_direct.get();
    s32 cost = 3;
    bool called = false;
    for (u32 at = target; at < branch; at += 2) {
        const u8 index = m_table[fetchAt(direct, at)];
        if (isCall(index) && !called && at + 2 < branch) {
            const u8 slot = m_table[fetchAt(direct, at + 2)];
            const u8 back = m_table[fetchAt(direct, m_callee + 2)];
            if (m_table[fetchAt(direct, m_callee)] != kRts || !isWaitStep(slot) || !isWaitStep(back))
                return 0;
            cost += 2 * kCallClocks + waitStepClocks(slot) + waitStepClocks(back);
            called = true;
            at += 2;
        } else if (isWaitStep(index)) {
            cost += waitStepClocks(index);
        } else {
            return 0;
        }
    }
    return cost;
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
    static const void* const kHandlers[] = {KEST_SH2_HANDLERS(KEST_SH2_LABEL)};
    // A delay slot dispatches through its own table, where what may not
    // sit in a slot leads to the slot-illegal exception.
    static const void* const kSlotList[] = {KEST_SH2_HANDLERS(KEST_SH2_SLOT)};
    static const std::array<const void*, 256> kSlotHandlers = indexTable(kSlotList);
    // Every processor decodes alike, so one table serves them all.
    static const std::unique_ptr<const void*[]> kThreaded = threadedTable(m_table, kHandlers);
    const void* const* handlers = kThreaded.get();
    if (breakpoints) {
        // Every word passes the check first; otherwise the hot path does not
        // test for it at all.
        static const void* const kDebugHandlers[] = {KEST_SH2_HANDLERS(KEST_SH2_DEBUG)};
        static const std::unique_ptr<const void*[]> kDebugThreaded = threadedTable(m_table, kDebugHandlers);
        handlers = kDebugThreaded.get();
    }
#undef KEST_SH2_DEBUG
#undef KEST_SH2_SLOT
#undef KEST_SH2_LABEL

    u32* const R = m_r;
    const uintptr_t* const direct = m_direct.get();
    u32 pc = m_pc;
    s32 clocks = m_clocksLeft;
    u32 word = 0;
    u32 target = 0;
    u32 branch = 0;
    m_wait.branch = m_wait.rejected = ~0u;

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
#define DISPATCH()                        \
    do {                                  \
        if (clocks <= 0) [[unlikely]]     \
            goto leave;                   \
        word = fetchAt(direct, pc);       \
        goto* handlers[word];             \
    } while (0)
#define NEXT(c)        \
    do {               \
        pc += 2;       \
        clocks -= (c); \
        DISPATCH();    \
    } while (0)
#define BRANCH(c, to)  \
    do {               \
        target = (to); \
        clocks -= (c); \
        goto slot;     \
    } while (0)

    // Plain memory is read and written in place; anything else goes to its
    // handler with the state written back, since a handler may look at it.
    // Reads are counted for the waiting loops; those never store.
    u8* const* const ram = m_map->ramPages();
    constexpr u32 kPageMask = PageMap::kPageMask;
    const auto load8 = [&](u32 a) __attribute__((always_inline)) {
        if (const u8* p = ram[a >> PageMap::kPageShift]) [[likely]]
            return p[a & kPageMask];
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        m_handlerCalls += h.readByte != readOnChip8;
        const u8 v = h.readByte(h.owner, this, a);
        clocks = m_clocksLeft;
        return v;
    };
    const auto load16 = [&](u32 a) __attribute__((always_inline)) {
        if (const u8* p = ram[a >> PageMap::kPageShift]) [[likely]]
            return loadBe16(p + (a & (kPageMask - 1)));
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        m_handlerCalls += h.readWord != readOnChip16;
        const u16 v = h.readWord(h.owner, this, a);
        clocks = m_clocksLeft;
        return v;
    };
    const auto load32 = [&](u32 a) __attribute__((always_inline)) {
        if (const u8* p = ram[a >> PageMap::kPageShift]) [[likely]]
            return loadBe32(p + (a & (kPageMask - 3)));
        STORE_STATE();
        const AccessHandlers& h = m_map->page(a);
        m_handlerCalls += h.readLong != readOnChip32;
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
    word = fetchAt(direct, pc + 2);
    pc = target - 2;
    goto* kSlotHandlers[m_table[word]];

slotIllegal:
    pc = branch;
    STORE_STATE();
    illegalInstruction(OPCODE, true);
    LOAD_STATE();
    DISPATCH();

leave:
    STORE_STATE();
    return;

backward:
    if (!breakpoints && branch != m_wait.rejected && branch - pc <= kWaitLoopBytes)
        clocks = skipWaiting(branch, pc, clocks);
    DISPATCH();

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
        DISPATCH();
    }
    NEXT(1);
opBt:
    if (m_ft) {
        branch = pc;
        pc += 4 + SIMM * 2;
        clocks -= 3;
        if (pc < branch)
            goto backward;
        DISPATCH();
    }
    NEXT(1);
opBfs:
    if (!m_ft)
        BRANCH(2, pc + 4 + SIMM * 2);
    NEXT(1);
opBts:
    if (m_ft)
        BRANCH(2, pc + 4 + SIMM * 2);
    NEXT(1);
opBra: BRANCH(2, pc + 4 + DISP12 * 2);
opBraf: BRANCH(2, pc + 4 + RN);
opBsr: m_pr = pc + 4; m_callee = pc + 4 + DISP12 * 2; BRANCH(2, m_callee);
opBsrf: m_callee = pc + 4 + RN; m_pr = pc + 4; BRANCH(2, m_callee);
opJmp: BRANCH(2, RN);
opJsr: m_callee = RN; m_pr = pc + 4; BRANCH(2, m_callee);
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
opClrmac: m_mach = m_macl = 0; NEXT(1);
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
    m_mach = static_cast<u32>(static_cast<u64>(p) >> 32);
    m_macl = static_cast<u32>(p);
    NEXT(2);
}
opDmuluL: {
    const u64 p = u64{RN} * RM;
    m_mach = static_cast<u32>(p >> 32);
    m_macl = static_cast<u32>(p);
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
opLdsMach: m_mach = RN; NEXT(1);
opLdsMacl: m_macl = RN; NEXT(1);
opLdsPr: m_pr = RN; NEXT(1);
opLdsLMach: m_mach = load32(RN); RN += 4; NEXT(1);
opLdsLMacl: m_macl = load32(RN); RN += 4; NEXT(1);
opLdsLPr: m_pr = load32(RN); RN += 4; NEXT(1);
opMacL:
    STORE_STATE();
    macL(REG_M, REG_N);
    clocks = m_clocksLeft;
    NEXT(3);
opMacW:
    STORE_STATE();
    macW(REG_M, REG_N);
    clocks = m_clocksLeft;
    NEXT(3);
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
opMulL: m_macl = RN * RM; NEXT(2);
opMulsW: m_macl = static_cast<u32>(s32{static_cast<s16>(RN)} * s32{static_cast<s16>(RM)}); NEXT(1);
opMuluW: m_macl = (RN & 0xFFFF) * (RM & 0xFFFF); NEXT(1);
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
opStsMach: RN = m_mach; NEXT(1);
opStsMacl: RN = m_macl; NEXT(1);
opStsPr: RN = m_pr; NEXT(1);
opStsLMach: RN -= 4; store32(RN, m_mach); NEXT(1);
opStsLMacl: RN -= 4; store32(RN, m_macl); NEXT(1);
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
