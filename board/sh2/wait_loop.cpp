#include "board/sh2/wait_loop.h"

#include <algorithm>

#include "board/sh2/sh2.h"

namespace sh2 {

namespace {

// Watched or recorded passes that do not repeat before a loop is given up
// for the slice.
constexpr u8 kPasses = 4;

constexpr int kNoRegister = -1;
constexpr int kManyRegisters = 16;

// The one general register two states differ in, kNoRegister when none
// does, kManyRegisters when more does. R0 and R15 are named implicitly by
// too many instructions to serve as a counter.
template <typename State>
int changedRegister(const State& a, const State& b)
{
    if (!a.sameControl(b))
        return kManyRegisters;
    int changed = kNoRegister;
    for (int n = 0; n < 16; ++n) {
        if (a.r[n] == b.r[n])
            continue;
        if (changed != kNoRegister || n == 0 || n == 15)
            return kManyRegisters;
        changed = n;
    }
    return changed;
}

// Whether an instruction's n field (bits 8-11) and m field (bits 4-7) name
// registers.
constexpr bool namesN(Operands o)
{
    switch (o) {
    case Operands::RegMN: case Operands::RegN: case Operands::SImmN: case Operands::BranchReg:
    case Operands::StoreR0: case Operands::LoadR0: case Operands::PcWord: case Operands::PcLong:
    case Operands::DispLongStore: case Operands::DispLongLoad:
        return true;
    default:
        return false;
    }
}

constexpr bool namesM(Operands o)
{
    switch (o) {
    case Operands::RegMN: case Operands::StoreR0: case Operands::LoadR0: case Operands::DispByte:
    case Operands::DispWord: case Operands::DispLongStore: case Operands::DispLongLoad:
        return true;
    default:
        return false;
    }
}

// The T a compare of the counter's value v gives.
u32 compareGives(u8 compare, bool counterIsRn, u32 v, u32 limit)
{
    const u32 n = counterIsRn ? v : limit;
    const u32 m = counterIsRn ? limit : v;
    switch (compare) {
    case kCmpEq: return n == m;
    case kCmpGe: return static_cast<s32>(n) >= static_cast<s32>(m);
    case kCmpGt: return static_cast<s32>(n) > static_cast<s32>(m);
    case kCmpHi: return n > m;
    case kCmpHs: return n >= m;
    case kCmpPl: return static_cast<s32>(v) > 0;
    case kCmpPz: return static_cast<s32>(v) >= 0;
    default: return v == 0;  // DT
    }
}

// Whether a run of opcodes (an even number of bytes, two at least) is as
// saved. Runs are short: a few loads that may overlap beat a call to
// memcmp by 3% of boot.iso's instructions and 1.7% of compiled.iso's
// (callgrind, 300 fields).
bool sameOpcodes(const u8* host, const u8* saved, u32 bytes)
{
    const auto differ = [&]<typename T>(T, u32 at) {
        T a, b;
        std::memcpy(&a, host + at, sizeof a);
        std::memcpy(&b, saved + at, sizeof b);
        return a ^ b;
    };
    if (bytes < 4)
        return differ(u16{}, 0) == 0;
    if (bytes < 8)
        return (differ(u32{}, 0) | differ(u32{}, bytes - 4)) == 0;
    u64 d = differ(u64{}, bytes - 8);
    for (u32 at = 0; at + 8 < bytes; at += 8)
        d |= differ(u64{}, at);
    return d == 0;
}

// By except + 1, the registers that matches compares: all, or all but one.
constexpr auto kKeepRegisters = [] {
    std::array<std::array<u32, 16>, 17> keep{};
    for (int except = -1; except < 16; ++except) {
        for (int n = 0; n < 16; ++n)
            keep[except + 1][n] = n == except ? 0 : ~0u;
    }
    return keep;
}();

}  // namespace

void WaitLoop::capture(State& s) const
{
    const SH2& c = m_cpu;
    for (int n = 0; n < 16; ++n)
        s.r[n] = c.m_r[n];
    s.gbr = c.m_gbr, s.vbr = c.m_vbr, s.pr = c.m_pr, s.mach = c.mach(), s.macl = c.macl();
    s.m = c.m_fm, s.q = c.m_fq, s.i = c.m_fi, s.s = c.m_fs, s.t = c.m_ft;
}

// Sets the fields named of the processor's state to s's.
void WaitLoop::restore(const State& s, u32 fields)
{
    SH2& c = m_cpu;
    for (u32 f = fields & 0xFFFF; f; f &= f - 1) {
        const int n = std::countr_zero(f);
        c.m_r[n] = s.r[n];
    }
    if (fields & kControlFields) {
        c.m_gbr = s.gbr, c.m_vbr = s.vbr, c.m_pr = s.pr, c.m_mac = u64{s.mach} << 32 | s.macl;
        c.m_fm = s.m, c.m_fq = s.q, c.m_fi = s.i, c.m_fs = s.s, c.m_ft = s.t;
    }
}

u32 WaitLoop::differingFields(const State& a, const State& b)
{
    u32 fields = a.sameControl(b) ? 0 : kControlFields;
    for (int n = 0; n < 16; ++n)
        fields |= a.r[n] != b.r[n] ? 1u << n : 0;
    return fields;
}

// Whether the processor's state is s, or s but for register `except` when
// one. This runs in every slice of a wait: compared in place rather than
// captured and compared whole, it saves 2% of boot.iso's instructions and
// 1.7% of compiled.iso's (callgrind, 300 fields).
bool WaitLoop::matches(const State& s, int except) const
{
    const SH2& c = m_cpu;
    // A mask per register rather than a test keeps the loop in vectors: 5%
    // of boot.iso's instructions, 3.6% of compiled.iso's.
    const u32* const keep = kKeepRegisters[except + 1].data();
    u32 differ = 0;
    for (int n = 0; n < 16; ++n)
        differ |= (c.m_r[n] ^ s.r[n]) & keep[n];
    differ |= (c.m_gbr ^ s.gbr) | (c.m_vbr ^ s.vbr) | (c.m_pr ^ s.pr) | (c.mach() ^ s.mach) | (c.macl() ^ s.macl);
    differ |= (c.m_fm ^ s.m) | (c.m_fq ^ s.q) | (c.m_fi ^ s.i) | (c.m_fs ^ s.s) | (c.m_ft ^ s.t);
    return differ == 0;
}

s32 WaitLoop::atBranch(u32 branch, u32 target, s32 clocks, bool delayed)
{
    State now;
    capture(now);
    if (branch != m_branch) {
        // A loop inside the recorded pass belongs to it.
        if (m_phase == kRecording || (m_phase == kSettled && inRecordedCode(branch)))
            return clocks;
        // A loop that walks a pointer never comes back to where it was; a
        // branch taken up afresh again and again belongs to a loop nested
        // with another, which takes turns with it here.
        if (walksMemory(target, branch)) {
            reject(branch);
            return clocks;
        }
        const u32 slot = slotOf(branch);
        if (m_takenUp[slot] != branch) {
            m_takenUp[slot] = branch;
            m_takeUps[slot] = 0;
        }
        if (++m_takeUps[slot] > kPasses) {
            reject(branch);
            return clocks;
        }
        m_branch = branch;
        m_phase = kWatching;
        m_unsettledPasses = 0;
        m_passStart = now;
        m_clocksAtBranch = clocks;
        return clocks;
    }
    const auto retry = [&] {
        m_phase = kWatching;
        if (++m_unsettledPasses >= kPasses) {
            reject(branch);
            m_branch = ~0u;
        }
        m_passStart = now;
        m_clocksAtBranch = clocks;
        return clocks;
    };
    const auto skip = [&] {
        if (clocks <= 0)
            return clocks;
        const u32 counter = m_counter != kNoRegister ? m_cpu.m_r[m_counter] : 0;
        const s32 left = runOut(clocks, counter);
        if (m_finished)
            return left;
        // Only a counter's end stops the run: the passes before it go.
        const u32 passes = counterPasses(counter, static_cast<u32>(clocks - 1) / static_cast<u32>(m_passClocks));
        if (m_counter != kNoRegister)
            m_cpu.m_r[m_counter] += passes * m_counterStep;
        return clocks - static_cast<s32>(passes * static_cast<u32>(m_passClocks));
    };
    switch (m_phase) {
    case kWatching: {
        // Registers still settling leave the loop to the next slice, which
        // finds them settled; a loop that works on them does so at once.
        const int changed = changedRegister(m_passStart, now);
        if (changed == kManyRegisters) {
            reject(branch);
            m_branch = ~0u;
            return clocks;
        }
        m_phase = kRecording;
        m_passClocks = m_clocksAtBranch - clocks;
        m_counter = changed;
        m_counterStepped = false;
        m_compare = 0;
        m_instructions = m_accessCount = m_codeRunCount = m_dispatches = 0;
        m_passStart = now;
        m_clocksAtBranch = clocks;
        // The slot after this branch begins the recorded pass.
        if (delayed && !noteSlot(branch, target))
            stopRecording();
        return clocks;
    }
    case kRecording: {
        State expected = m_passStart;
        if (m_counter != kNoRegister)
            expected.r[m_counter] += m_counterStep;
        const bool stepped = m_counter == kNoRegister || m_counterStepped;
        if (m_clocksAtBranch - clocks != m_passClocks || !stepped || changedRegister(expected, now) != kNoRegister ||
            !passUnchanged())
            return retry();
        m_phase = kSettled;
        m_varyingFields = 0;
        for (u32 i = 0; i < m_dispatches; ++i)
            m_varyingFields |= differingFields(m_passStart, m_dispatchState[i]);
        for (u32 rest = 1, end = 0; rest <= static_cast<u32>(m_passClocks) && rest <= kListedClocks; ++rest)
            m_endDispatchByClocks[rest] = static_cast<u8>(end = endDispatch(rest, end));
        return skip();
    }
    case kSettled: {
        // Apart from the counter, as the recorded pass began.
        const int changed = changedRegister(m_passStart, now);
        if ((changed != kNoRegister && changed != m_counter) || !passUnchanged()) {
            m_unsettledPasses = 0;
            return retry();
        }
        return skip();
    }
    }
    return clocks;
}

// The first dispatch from `from` on that a slice ending with `rest` clocks
// of a pass left does not reach.
u32 WaitLoop::endDispatch(u32 rest, u32 from) const
{
    while (from < m_dispatches && static_cast<u32>(m_dispatchClocks[from]) < rest)
        ++from;
    return from;
}

// Runs the slice to its end from a point atBranch clocks before the branch
// of a pass of the settled loop, with the counter then at counterAtBranch:
// the end is the first dispatch the budget does not reach, and the state is
// that of the recorded pass there. Answers the clocks left then; leaves the
// state alone when the counter's compare would end the loop first.
s32 WaitLoop::runOut(s32 atBranch, u32 counterAtBranch)
{
    const u32 cost = static_cast<u32>(m_passClocks);
    u32 passes = static_cast<u32>(atBranch - 1) / cost;
    const u32 rest = static_cast<u32>(atBranch) - passes * cost;
    u32 end = rest <= kListedClocks ? m_endDispatchByClocks[rest] : endDispatch(rest, 0);
    // Past the last dispatch is the first of the next pass. Which one it
    // is changes from slice to slice: worked out without a branch, it
    // saves 4% of compiled.iso's run time and 2.5% of boot.iso's (least
    // task-clock of 15 to 25 runs).
    const u32 wraps = end == m_dispatches;
    end = wraps ? 0 : end;
    passes += wraps;
    if (m_counter != kNoRegister && counterPasses(counterAtBranch, passes + 1) <= passes)
        return atBranch;
    const State& state = m_dispatchState[end];
    restore(state, m_varyingFields);
    if (m_counter != kNoRegister)
        m_cpu.m_r[m_counter] =
            counterAtBranch + passes * m_counterStep + (state.r[m_counter] - m_passStart.r[m_counter]);
    m_finished = true;
    ++m_slicesRunOut;
    m_endDispatch = end;
    m_endPc = m_dispatchPc[end];
    return atBranch - static_cast<s32>(passes * cost) - m_dispatchClocks[end];
}

// The processor stands where the last slice left it on a settled loop, and
// the pass finds what it found: the slice is run to its end from that
// dispatch.
bool WaitLoop::finishSlice()
{
    SH2& c = m_cpu;
    m_finished = false;
    const u32 at = m_endDispatch;
    const State& state = m_dispatchState[at];
    const s32 clocks = c.m_clocksLeft;
    const bool resume = m_resumable && clocks > 0 && c.m_pc == m_dispatchPc[at] && matches(state, m_counter) &&
                        (m_counter == kNoRegister || c.m_r[m_counter] == m_endCounter) && passUnchanged();
    m_resumable = false;
    if (!resume)
        return false;
    u32 counter = 0;
    if (m_counter != kNoRegister)
        counter = c.m_r[m_counter] - (state.r[m_counter] - m_passStart.r[m_counter]);
    const s32 left = runOut(clocks + m_dispatchClocks[at], counter);
    if (!m_finished)
        return false;
    c.m_pc = m_endPc;
    c.m_clocksLeft = left;
    noteEnd(c.m_pc);
    return true;
}

// Where a slice ends on a settled loop, the next may take it up: at the
// dispatch it was run to, or at the one of the recorded pass that the
// processor stands on with the same state (apart from the counter). Either
// way the state is that dispatch's with the counter where it stands.
void WaitLoop::noteEnd(u32 pc)
{
    m_resumable = m_finished;
    for (u32 i = 0; !m_resumable && i < m_dispatches; ++i) {
        if (m_dispatchPc[i] == pc && matches(m_dispatchState[i], m_counter)) {
            m_resumable = true;
            m_endDispatch = i;
        }
    }
    if (m_resumable && m_counter != kNoRegister)
        m_endCounter = m_cpu.m_r[m_counter];
}

void WaitLoop::noteDispatch(u32 pc, s32 clocks)
{
    if (m_dispatches < kMaxInstructions) {
        m_dispatchPc[m_dispatches] = pc;
        m_dispatchClocks[m_dispatches] = m_clocksAtBranch - clocks;
        capture(m_dispatchState[m_dispatches]);
        ++m_dispatches;
    }
}

bool WaitLoop::inRecordedCode(u32 address) const
{
    for (u32 i = 0; i < m_codeRunCount; ++i) {
        if (address - m_codeRuns[i].address < m_codeRuns[i].bytes)
            return true;
    }
    return false;
}

// Whether the body from target to branch steps a pointer other than the
// stack's through memory, as a copy or a sum does.
bool WaitLoop::walksMemory(u32 target, u32 branch) const
{
    const uintptr_t* const direct = m_cpu.m_direct.get();
    for (u32 at = target; at < branch; at += 2) {
        const u16 word = fetchAt(direct, at);
        const u8 index = m_cpu.m_table[word];
        const u32 n = word & 15;
        const u32 m = (word >> 12) & 15;
        switch (index < kInsnCount ? kData[index].data : Data::None) {
        case Data::PopRnRm: return true;
        case Data::PopRm:
            if (m != 15)
                return true;
            break;
        case Data::PopRn: case Data::PushRn:
            if (n != 15)
                return true;
            break;
        default: break;
        }
    }
    return false;
}

void WaitLoop::stopRecording()
{
    reject(m_branch);
    m_phase = kWatching;
    m_branch = ~0u;
}

// Passes from a branch where the counter stands at atBranch, up to most,
// whose compare gives the T the recorded pass's did. The counter moves in a
// line: an equality meets its limit in one pass at most, and an order holds
// for a run of passes from the first or up to the last unless the counter
// wraps on the way.
u32 WaitLoop::counterPasses(u32 atBranch, u32 most) const
{
    if (!m_compare || most == 0)
        return most;
    const u32 first = atBranch + m_compareOffset;
    const auto holds = [&](u32 pass) {
        return compareGives(m_compare, m_counterIsRn, first + pass * m_counterStep, m_compareLimit) == m_compareT;
    };
    const bool unitStep = m_counterStep == 1 || m_counterStep == ~0u;
    if ((m_compare == kCmpEq || m_compare == kDt) && unitStep) {
        // The pass whose value is the limit (DT tests for 0); a unit step is
        // its own inverse.
        const u32 meets = ((m_compare == kDt ? 0 : m_compareLimit) - first) * m_counterStep;
        if (!m_compareT)
            return std::min(meets, most);
        return meets == 0 ? std::min(most, 1u) : 0;
    }
    const s64 span = static_cast<s64>(most - 1) * static_cast<s32>(m_counterStep);
    const bool isSigned = m_compare == kCmpGe || m_compare == kCmpGt || m_compare == kCmpPl || m_compare == kCmpPz;
    const s64 last = (isSigned ? s64{static_cast<s32>(first)} : s64{first}) + span;
    const bool wraps = isSigned ? last < INT32_MIN || last > INT32_MAX : last < 0 || last > 0xFFFFFFFFll;
    if (m_compare != kCmpEq && !wraps) {
        if (!holds(0))
            return 0;
        if (holds(most - 1))
            return most;
        // True from the first pass, false at the last: find where it turns.
        u32 low = 0, high = most - 1;
        while (high - low > 1) {
            const u32 mid = low + (high - low) / 2;
            (holds(mid) ? low : high) = mid;
        }
        return high;
    }
    for (u32 pass = 0; pass < most; ++pass) {
        if (!holds(pass))
            return pass;
    }
    return most;
}

// Notes the instruction about to run in a recorded pass: its fetch and
// the accesses its row states, and what it does to the counter; false when
// it may not sit in a waiting loop. pc is the address it sees as its own.
bool WaitLoop::noteStep(u32 word, u32 at, u32 pc)
{
    if (++m_instructions > kMaxInstructions || !noteFetch(at))
        return false;
    const u8 index = m_cpu.m_table[word];
    if (m_counter != kNoRegister && !noteCounter(index, word))
        return false;
    // Exceptions are turned away: no row states their accesses.
    DataAccess accesses[2];
    const int count = dataAccesses(index, word, m_cpu.m_r, m_cpu.m_gbr, pc, accesses);
    if (count < 0)
        return false;
    for (int i = 0; i < count; ++i) {
        if (!noteAccess(accesses[i].store, accesses[i].address, accesses[i].width))
            return false;
    }
    // So are SR writes (which may end the slice) and sleep.
    if (flowOf(index) == Flow::Other)
        return index != kLdcSr && index != kLdcLSr && index != kSleep;
    const u32 rn = m_cpu.m_r[word & 15];
    const u32 disp8 = sext8(word >> 8) * 2;
    // The closing branch's slot was noted as the pass began.
    const auto slot = [&](u32 to) { return at == m_branch || noteSlot(at, to); };
    switch (index) {
    case kBt: case kBf: return true;
    case kBra: case kBsr: return slot(pc + 4 + sext12(static_cast<u16>(word << 8 | word >> 8)) * 2);
    case kBraf: case kBsrf: return slot(pc + 4 + rn);
    case kJmp: case kJsr: return slot(rn);
    case kRts: return slot(m_cpu.m_pr);
    case kBts: return !m_cpu.m_ft || slot(pc + 4 + disp8);
    case kBfs: return m_cpu.m_ft || slot(pc + 4 + disp8);
    default: return false;  // a transfer not followed here
    }
}

// Notes the slot of a taken branch at branch, which sees its PC as target - 2.
bool WaitLoop::noteSlot(u32 branch, u32 target)
{
    const u16 word = fetchAt(m_cpu.m_direct.get(), branch + 2);
    return !isSlotIllegal(m_cpu.m_table[word]) && noteStep(word, branch + 2, target - 2);
}

// The counter may be named by one step (ADD #imm, or DT, which also
// compares) and one compare, and by nothing else: then no other instruction
// sees it, and every pass whose compare gives the same T runs as the
// recorded one did.
bool WaitLoop::noteCounter(u8 index, u32 word)
{
    if (index >= kInsnCount)
        return true;
    const int rc = m_counter;
    const Operands o = kOperands[index];
    const bool inN = namesN(o) && static_cast<int>(word & 15) == rc;
    const bool inM = namesM(o) && static_cast<int>((word >> 12) & 15) == rc;
    if (!inN && !inM)
        return true;
    const u32 v = m_cpu.m_r[rc];
    const auto compare = [&](u8 kind, bool counterIsRn, u32 value, u32 limit) {
        m_compare = kind;
        m_counterIsRn = counterIsRn;
        m_compareLimit = limit;
        m_compareOffset = value - m_passStart.r[rc];
        m_compareT = compareGives(kind, counterIsRn, value, limit);
        return true;
    };
    if (index == kAddImm && !m_counterStepped) {
        m_counterStepped = true;
        m_counterStep = sext8(word >> 8);
        return true;
    }
    if (index == kDt && !m_counterStepped && !m_compare) {
        m_counterStepped = true;
        m_counterStep = ~0u;
        return compare(kDt, true, v - 1, 0);
    }
    if (m_compare || (inN && inM))
        return false;
    switch (index) {
    case kCmpEq: case kCmpGe: case kCmpGt: case kCmpHi: case kCmpHs:
        return compare(index, inN, v, m_cpu.m_r[inN ? (word >> 12) & 15 : word & 15]);
    case kCmpPl: case kCmpPz: return compare(index, true, v, 0);
    default: return false;
    }
}

// Plain memory answers through its page; a register only when steady.
bool WaitLoop::valueOf(u8 kind, u32 address, u32 width, u32& value) const
{
    const PageMap& map = *m_cpu.m_map;
    if (kind == Access::kSteady) {
        const AccessHandlers& h = map.page(address);
        return h.steadyRead && h.steadyRead(h.owner, &m_cpu, address, width, value);
    }
    const u8* const page = map.ramPages()[address >> PageMap::kPageShift];
    if (!page)
        return false;
    constexpr u32 kPageMask = PageMap::kPageMask;
    value = width == 1   ? page[address & kPageMask]
            : width == 2 ? loadBe16(page + (address & (kPageMask - 1)))
                         : loadBe32(page + (address & (kPageMask - 3)));
    return true;
}

// Inlined into noteStep: a call of its own costs 0.16% of waits.iso's
// instructions (callgrind, 300 fields).
[[gnu::always_inline]] inline bool WaitLoop::noteFetch(u32 address)
{
    const u16 word = fetchAt(m_cpu.m_direct.get(), address);
    CodeRun* run = m_codeRunCount ? &m_codeRuns[m_codeRunCount - 1] : nullptr;
    // A run stays in its page, where one direct entry reaches all of it.
    const bool extends = run && run->address + run->bytes == (address & ~1u) && (address & PageMap::kPageMask) != 0;
    if (!extends) {
        if (m_codeRunCount == kMaxCodeRuns)
            return false;
        run = &m_codeRuns[m_codeRunCount++];
        run->address = address & ~1u;
        run->firstByte = static_cast<u16>((m_instructions - 1) * 2);
        run->bytes = 0;
    }
    // Instructions are counted before the fetch, so a run never outgrows
    // the room.
    std::memcpy(&m_opcodes[run->firstByte + run->bytes], &word, 2);
    run->bytes += 2;
    return true;
}

bool WaitLoop::noteAccess(bool store, u32 address, u32 width)
{
    // A store must land in plain memory; a read elsewhere must be steady.
    const bool memory = m_cpu.m_map->ramPages()[address >> PageMap::kPageShift] != nullptr;
    if (store && !memory)
        return false;
    const u8 kind = memory ? Access::kMemory : Access::kSteady;
    u32 value;
    if (!valueOf(kind, address, width, value))
        return false;
    const Access access{address, value, static_cast<u8>(width), kind};
    // A pop finds what the push before it left: one check serves both.
    for (u32 i = 0; i < m_accessCount; ++i) {
        const Access& a = m_accesses[i];
        if (a.address == address && a.width == width && a.kind == kind && a.value == value)
            return true;
    }
    if (m_accessCount == kMaxAccesses)
        return false;
    m_accesses[m_accessCount++] = access;
    return true;
}

// Whether the recorded pass would run as it did: the same opcodes, and
// every access finding what it found (for a store, the memory before it,
// so that the store changes nothing).
bool WaitLoop::passUnchanged() const
{
    const uintptr_t* const direct = m_cpu.m_direct.get();
    for (u32 i = 0; i < m_codeRunCount; ++i) {
        const CodeRun& c = m_codeRuns[i];
        const u8* host = reinterpret_cast<const u8*>(direct[c.address >> PageMap::kPageShift] + c.address);
        if (!sameOpcodes(host, &m_opcodes[c.firstByte], c.bytes))
            return false;
    }
    for (u32 i = 0; i < m_accessCount; ++i) {
        const Access& a = m_accesses[i];
        u32 value;
        if (!valueOf(a.kind, a.address, a.width, value) || value != a.value)
            return false;
    }
    return true;
}

}  // namespace sh2
