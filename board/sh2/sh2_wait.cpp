// Waiting loops: a program that polls memory or a register in a loop runs
// the same pass again and again until something outside it changes, and
// outside a processor's own accesses nothing changes before the slice
// ends. Such a slice is run to its end at once, where running it would
// leave the processor.

#include <algorithm>

#include "board/sh2/sh2.h"

using namespace sh2;

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
u32 compareGives(u8 compare, bool counterFirst, u32 v, u32 limit)
{
    const u32 n = counterFirst ? v : limit;
    const u32 m = counterFirst ? limit : v;
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
// saved. Runs are short: a few loads that may overlap beat a call.
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

}  // namespace

// Called when a backward BT or BF is taken, or a BT/S, BF/S or a BRA to
// itself before its slot. A pass that left the state as it found it, or stepped one register
// alone, is recorded next; a recorded pass that touched only plain memory
// and steady registers, found them unchanged at its end and came back in
// the same clocks settles the loop. A settled loop runs the slice to its
// end at once for as long as the state it left and every value its pass
// found stay the same; a counter advances by the passes skipped. When the
// counter's compare would end the loop within the slice, the passes before
// that one are skipped and the rest is run.
s32 SH2::skipWaiting(u32 branch, u32 target, s32 clocks, bool delayed)
{
    WaitLoop& w = m_wait;
    WaitState now;
    captureWait(now);
    if (branch != w.branch) {
        // A loop inside the recorded pass belongs to it.
        if (w.phase == WaitLoop::kRecording || (w.phase == WaitLoop::kSettled && inRecordedCode(branch)))
            return clocks;
        // A loop that walks a pointer never comes back to where it was; a
        // branch taken up afresh again and again belongs to a loop nested
        // with another, which takes turns with it here.
        if (walksMemory(target, branch)) {
            rejectWaiting(branch);
            return clocks;
        }
        const u32 slot = (branch >> 1) & (kRejectedSlots - 1);
        if (m_watched[slot] != branch) {
            m_watched[slot] = branch;
            m_watches[slot] = 0;
        }
        if (++m_watches[slot] > kPasses) {
            rejectWaiting(branch);
            return clocks;
        }
        w.branch = branch;
        w.phase = WaitLoop::kWatching;
        w.passes = 0;
        w.state = now;
        w.clocks = clocks;
        return clocks;
    }
    const auto retry = [&] {
        w.phase = WaitLoop::kWatching;
        if (++w.passes >= kPasses) {
            rejectWaiting(branch);
            w.branch = ~0u;
        }
        w.state = now;
        w.clocks = clocks;
        return clocks;
    };
    const auto skip = [&] {
        if (clocks <= 0)
            return clocks;
        const u32 counter = w.counter != kNoRegister ? m_r[w.counter] : 0;
        const s32 left = finishWaiting(clocks, counter);
        if (w.finished)
            return left;
        // Only a counter's end stops the run: the passes before it go.
        const u32 passes = counterPasses(counter, passesIn(static_cast<u32>(clocks - 1)));
        if (w.counter != kNoRegister)
            m_r[w.counter] += passes * w.step;
        return clocks - static_cast<s32>(passes * static_cast<u32>(w.cost));
    };
    switch (w.phase) {
    case WaitLoop::kWatching: {
        // Registers still settling leave the loop to the next slice, which
        // finds them settled; a loop that works on them does so at once.
        const int changed = changedRegister(w.state, now);
        if (changed == kManyRegisters) {
            rejectWaiting(branch);
            w.branch = ~0u;
            return clocks;
        }
        w.phase = WaitLoop::kRecording;
        w.cost = w.clocks - clocks;
        w.counter = changed;
        w.stepped = false;
        w.compare = 0;
        w.steps = w.count = w.runs = w.points = 0;
        w.state = now;
        w.clocks = clocks;
        // The slot after this branch begins the recorded pass.
        if (delayed && !recordSlot(branch, target))
            stopRecording();
        return clocks;
    }
    case WaitLoop::kRecording: {
        WaitState expected = w.state;
        if (w.counter != kNoRegister)
            expected.r[w.counter] += w.step;
        const bool stepped = w.counter == kNoRegister || w.stepped;
        if (w.clocks - clocks != w.cost || !stepped || changedRegister(expected, now) != kNoRegister || !passUnchanged())
            return retry();
        w.phase = WaitLoop::kSettled;
        w.varying = 0;
        for (u32 i = 0; i < w.points; ++i)
            w.varying |= differingFields(w.state, w.pointState[i]);
        w.costReciprocal = w.cost == 1 ? 0 : ~u64{0} / static_cast<u32>(w.cost) + 1;
        for (u32 rest = 1, end = 0; rest <= static_cast<u32>(w.cost) && rest <= WaitLoop::kListedClocks; ++rest) {
            while (end < w.points && static_cast<u32>(w.pointOffset[end]) < rest)
                ++end;
            w.endAt[rest] = static_cast<u8>(end);
        }
        return skip();
    }
    case WaitLoop::kSettled: {
        // Apart from the counter, as the recorded pass began.
        const int changed = changedRegister(w.state, now);
        if ((changed != kNoRegister && changed != w.counter) || !passUnchanged()) {
            w.passes = 0;
            return retry();
        }
        return skip();
    }
    }
    return clocks;
}

// Runs the slice to its end from a point atBranch clocks before the branch
// of a pass of the settled loop, with the counter then at counterAtBranch:
// the end is the first dispatch the budget does not reach, and the state is
// that of the recorded pass there. Answers the clocks left then; leaves the
// state alone when the counter's compare would end the loop first.
s32 SH2::finishWaiting(s32 atBranch, u32 counterAtBranch)
{
    WaitLoop& w = m_wait;
    const u32 cost = static_cast<u32>(w.cost);
    u32 passes = passesIn(static_cast<u32>(atBranch - 1));
    const u32 rest = static_cast<u32>(atBranch) - passes * cost;
    u32 end = 0;
    if (rest <= WaitLoop::kListedClocks) {
        end = w.endAt[rest];
    } else {
        while (end < w.points && static_cast<u32>(w.pointOffset[end]) < rest)
            ++end;
    }
    // Past the last dispatch is the first of the next pass; which one it
    // is changes from slice to slice, so it is worked out without a branch.
    const u32 wraps = end == w.points;
    end = wraps ? 0 : end;
    passes += wraps;
    if (w.counter != kNoRegister && counterPasses(counterAtBranch, passes + 1) <= passes)
        return atBranch;
    const WaitState& state = w.pointState[end];
    restoreWait(state, w.varying);
    if (w.counter != kNoRegister)
        m_r[w.counter] = counterAtBranch + passes * w.step + (state.r[w.counter] - w.state.r[w.counter]);
    w.finished = true;
    w.endIndex = end;
    w.endPc = w.pointPc[end];
    return atBranch - static_cast<s32>(passes * cost) - w.pointOffset[end];
}

// At the start of a slice: the processor stands where the last one left it
// on a settled loop, and the pass finds what it found, so the slice is run
// to its end from that dispatch.
s32 SH2::resumeWaiting(u32 pc, s32 clocks)
{
    WaitLoop& w = m_wait;
    w.finished = false;
    const u32 at = w.endIndex;
    const WaitState& state = w.pointState[at];
    const bool resume = w.resumable && clocks > 0 && pc == w.pointPc[at] && matchesWait(state, w.counter) &&
                        (w.counter == kNoRegister || m_r[w.counter] == w.endCounter) && passUnchanged();
    w.resumable = false;
    if (!resume)
        return clocks;
    u32 counter = 0;
    if (w.counter != kNoRegister)
        counter = m_r[w.counter] - (state.r[w.counter] - w.state.r[w.counter]);
    const s32 left = finishWaiting(clocks + w.pointOffset[at], counter);
    return w.finished ? left : clocks;
}

// At the start of a slice on a settled loop: runs the slice out from where
// the last one left the processor, as resumeWaiting finds it may.
bool SH2::finishSettled()
{
    const s32 clocks = resumeWaiting(m_pc, m_clocksLeft);
    if (!m_wait.finished)
        return false;
    m_pc = m_wait.endPc;
    m_clocksLeft = clocks;
    endWaiting(m_pc);
    return true;
}

// Where a slice ends on a settled loop, the next may take it up: at the
// dispatch it was run to, or at the one of the recorded pass that the
// processor stands on with the same state (apart from the counter). Either
// way the state is that dispatch's with the counter where it stands.
void SH2::endWaiting(u32 pc)
{
    WaitLoop& w = m_wait;
    w.resumable = w.finished;
    for (u32 i = 0; !w.resumable && i < w.points; ++i) {
        if (w.pointPc[i] == pc && matchesWait(w.pointState[i], w.counter)) {
            w.resumable = true;
            w.endIndex = i;
        }
    }
    if (w.resumable && w.counter != kNoRegister)
        w.endCounter = m_r[w.counter];
}

void SH2::recordPoint(u32 pc, s32 clocks)
{
    WaitLoop& w = m_wait;
    if (w.points < WaitLoop::kSteps) {
        w.pointPc[w.points] = pc;
        w.pointOffset[w.points] = w.clocks - clocks;
        captureWait(w.pointState[w.points]);
        ++w.points;
    }
}

bool SH2::inRecordedCode(u32 address) const
{
    for (u32 i = 0; i < m_wait.runs; ++i) {
        if (address - m_wait.code[i].address < m_wait.code[i].bytes)
            return true;
    }
    return false;
}

// Whether the body from target to branch steps a pointer other than the
// stack's through memory, as a copy or a sum does.
bool SH2::walksMemory(u32 target, u32 branch) const
{
    const uintptr_t* const direct = m_direct.get();
    for (u32 at = target; at < branch; at += 2) {
        const u16 word = fetchAt(direct, at);
        const u32 n = word & 15;
        const u32 m = (word >> 12) & 15;
        switch (m_table[word]) {
        case kMacL: case kMacW: return true;
        case kMovBPop: case kMovWPop: case kMovLPop:
            if (m != 15)
                return true;
            break;
        case kMovBPush: case kMovWPush: case kMovLPush:
            if (n != 15)
                return true;
            break;
        default: break;
        }
    }
    return false;
}

void SH2::stopRecording()
{
    rejectWaiting(m_wait.branch);
    m_wait.phase = WaitLoop::kWatching;
    m_wait.branch = ~0u;
}

// Passes from a branch where the counter stands at atBranch, up to most,
// whose compare gives the T the recorded pass's did. The counter moves in a line: an equality meets its limit in
// one pass at most, and an order holds for a run of passes from the first
// or up to the last unless the counter wraps on the way.
u32 SH2::counterPasses(u32 atBranch, u32 most) const
{
    const WaitLoop& w = m_wait;
    if (!w.compare || most == 0)
        return most;
    const u32 first = atBranch + w.offset;
    const auto holds = [&](u32 pass) {
        return compareGives(w.compare, w.counterFirst, first + pass * w.step, w.limit) == w.compareT;
    };
    const bool unitStep = w.step == 1 || w.step == ~0u;
    if ((w.compare == kCmpEq || w.compare == kDt) && unitStep) {
        // The pass whose value is the limit (DT tests for 0); a unit step is
        // its own inverse.
        const u32 meets = ((w.compare == kDt ? 0 : w.limit) - first) * w.step;
        if (!w.compareT)
            return std::min(meets, most);
        return meets == 0 ? std::min(most, 1u) : 0;
    }
    const s64 span = static_cast<s64>(most - 1) * static_cast<s32>(w.step);
    const bool isSigned = w.compare == kCmpGe || w.compare == kCmpGt || w.compare == kCmpPl || w.compare == kCmpPz;
    const s64 last = (isSigned ? s64{static_cast<s32>(first)} : s64{first}) + span;
    const bool wraps = isSigned ? last < INT32_MIN || last > INT32_MAX : last < 0 || last > 0xFFFFFFFFll;
    if (w.compare != kCmpEq && !wraps) {
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
// the accesses it makes, and what it does to the counter; false when it
// may not sit in a waiting loop. pc is the address it sees as its own.
bool SH2::recordStep(u32 word, u32 at, u32 pc)
{
    WaitLoop& w = m_wait;
    if (++w.steps > WaitLoop::kSteps || !recordFetch(at))
        return false;
    const u8 index = m_table[word];
    if (w.counter != kNoRegister && !recordCounter(index, word))
        return false;
    const u32* const R = m_r;
    const u32 n = word & 15;
    const u32 m = (word >> 12) & 15;
    const u32 imm = word >> 8;
    const u32 disp = imm & 15;
    const u16 opcode = static_cast<u16>(word << 8 | word >> 8);
    constexpr bool kRead = false;
    constexpr bool kStore = true;
    // The closing branch's slot was noted as the pass began.
    const auto slot = [&](u32 to) { return at == w.branch || recordSlot(at, to); };
    switch (index) {
    case kMovBLoad: case kMovBPop: return recordAccess(kRead, R[m], 1);
    case kMovWLoad: case kMovWPop: return recordAccess(kRead, R[m], 2);
    case kMovLLoad: case kMovLPop: return recordAccess(kRead, R[m], 4);
    case kMovBLoadR0: return recordAccess(kRead, R[0] + R[m], 1);
    case kMovWLoadR0: return recordAccess(kRead, R[0] + R[m], 2);
    case kMovLLoadR0: return recordAccess(kRead, R[0] + R[m], 4);
    case kMovWPc: return recordAccess(kRead, pc + 4 + imm * 2, 2);
    case kMovLPc: return recordAccess(kRead, ((pc + 4) & ~3u) + imm * 4, 4);
    case kMovBLoadGbr: return recordAccess(kRead, m_gbr + imm, 1);
    case kMovWLoadGbr: return recordAccess(kRead, m_gbr + imm * 2, 2);
    case kMovLLoadGbr: return recordAccess(kRead, m_gbr + imm * 4, 4);
    case kMovBLoadDisp: return recordAccess(kRead, R[m] + disp, 1);
    case kMovWLoadDisp: return recordAccess(kRead, R[m] + disp * 2, 2);
    case kMovLLoadDisp: return recordAccess(kRead, R[m] + disp * 4, 4);
    case kLdcLGbr: case kLdcLVbr: case kLdsLMach: case kLdsLMacl: case kLdsLPr: return recordAccess(kRead, R[n], 4);
    case kMacL: return recordAccess(kRead, R[n], 4) && recordAccess(kRead, R[m] + (m == n ? 4 : 0), 4);
    case kMacW: return recordAccess(kRead, R[n], 2) && recordAccess(kRead, R[m] + (m == n ? 2 : 0), 2);
    case kTstB: return recordAccess(kRead, m_gbr + R[0], 1);
    case kAndB: case kOrB: case kXorB:
        return recordAccess(kRead, m_gbr + R[0], 1) && recordAccess(kStore, m_gbr + R[0], 1);
    case kTasB: return recordAccess(kRead, R[n], 1) && recordAccess(kStore, R[n], 1);
    case kMovBStore: return recordAccess(kStore, R[n], 1);
    case kMovWStore: return recordAccess(kStore, R[n], 2);
    case kMovLStore: return recordAccess(kStore, R[n], 4);
    case kMovBPush: return recordAccess(kStore, R[n] - 1, 1);
    case kMovWPush: return recordAccess(kStore, R[n] - 2, 2);
    case kMovLPush: return recordAccess(kStore, R[n] - 4, 4);
    case kMovBStoreR0: return recordAccess(kStore, R[0] + R[n], 1);
    case kMovWStoreR0: return recordAccess(kStore, R[0] + R[n], 2);
    case kMovLStoreR0: return recordAccess(kStore, R[0] + R[n], 4);
    case kMovBStoreGbr: return recordAccess(kStore, m_gbr + imm, 1);
    case kMovWStoreGbr: return recordAccess(kStore, m_gbr + imm * 2, 2);
    case kMovLStoreGbr: return recordAccess(kStore, m_gbr + imm * 4, 4);
    case kMovBStoreDisp: return recordAccess(kStore, R[m] + disp, 1);
    case kMovWStoreDisp: return recordAccess(kStore, R[m] + disp * 2, 2);
    case kMovLStoreDisp: return recordAccess(kStore, R[n] + disp * 4, 4);
    case kStcLSr: case kStcLGbr: case kStcLVbr: case kStsLMach: case kStsLMacl: case kStsLPr:
        return recordAccess(kStore, R[n] - 4, 4);
    case kBra: case kBsr: return slot(pc + 4 + sext12(opcode) * 2);
    case kBraf: case kBsrf: return slot(pc + 4 + R[n]);
    case kJmp: case kJsr: return slot(R[n]);
    case kRts: return slot(m_pr);
    case kBts: return !m_ft || slot(pc + 4 + sext8(imm) * 2);
    case kBfs: return m_ft || slot(pc + 4 + sext8(imm) * 2);
    // Exceptions, SR writes (which may end the slice) and sleep.
    case kRte: case kTrapa: case kSleep: case kLdcSr: case kLdcLSr: case kUndefined: case kHookTrap: return false;
    default: return true;
    }
}

// Notes the slot of a taken branch at branch, which sees its PC as target - 2.
bool SH2::recordSlot(u32 branch, u32 target)
{
    const u16 word = fetchAt(m_direct.get(), branch + 2);
    return !isSlotIllegal(m_table[word]) && recordStep(word, branch + 2, target - 2);
}

// The counter may be named by one step (ADD #imm, or DT, which also
// compares) and one compare, and by nothing else: then no other instruction
// sees it, and every pass whose compare gives the same T runs as the
// recorded one did.
bool SH2::recordCounter(u8 index, u32 word)
{
    WaitLoop& w = m_wait;
    if (index >= kInsnCount)
        return true;
    const int rc = w.counter;
    const Operands o = kOperands[index];
    const bool inN = namesN(o) && static_cast<int>(word & 15) == rc;
    const bool inM = namesM(o) && static_cast<int>((word >> 12) & 15) == rc;
    if (!inN && !inM)
        return true;
    const u32 v = m_r[rc];
    const auto compare = [&](u8 kind, bool first, u32 value, u32 limit) {
        w.compare = kind;
        w.counterFirst = first;
        w.limit = limit;
        w.offset = value - w.state.r[rc];
        w.compareT = compareGives(kind, first, value, limit);
        return true;
    };
    if (index == kAddImm && !w.stepped) {
        w.stepped = true;
        w.step = sext8(word >> 8);
        return true;
    }
    if (index == kDt && !w.stepped && !w.compare) {
        w.stepped = true;
        w.step = ~0u;
        return compare(kDt, true, v - 1, 0);
    }
    if (w.compare || (inN && inM))
        return false;
    switch (index) {
    case kCmpEq: case kCmpGe: case kCmpGt: case kCmpHi: case kCmpHs:
        return compare(index, inN, v, m_r[inN ? (word >> 12) & 15 : word & 15]);
    case kCmpPl: case kCmpPz: return compare(index, true, v, 0);
    default: return false;
    }
}

// Plain memory answers through its page; a register only when steady.
bool SH2::accessValue(u8 kind, u32 address, u32 width, u32& value) const
{
    if (kind == WaitAccess::kSteady) {
        const AccessHandlers& h = m_map->page(address);
        return h.steadyRead && h.steadyRead(h.owner, this, address, width, value);
    }
    const u8* const page = m_map->ramPages()[address >> PageMap::kPageShift];
    if (!page)
        return false;
    constexpr u32 kPageMask = PageMap::kPageMask;
    value = width == 1   ? page[address & kPageMask]
            : width == 2 ? loadBe16(page + (address & (kPageMask - 1)))
                         : loadBe32(page + (address & (kPageMask - 3)));
    return true;
}

bool SH2::recordFetch(u32 address)
{
    WaitLoop& w = m_wait;
    const u16 word = fetchAt(m_direct.get(), address);
    WaitCode* run = w.runs ? &w.code[w.runs - 1] : nullptr;
    // A run stays in its page, where one direct entry reaches all of it.
    const bool extends = run && run->address + run->bytes == (address & ~1u) && (address & PageMap::kPageMask) != 0;
    if (!extends) {
        if (w.runs == WaitLoop::kRuns)
            return false;
        run = &w.code[w.runs++];
        run->address = address & ~1u;
        run->offset = static_cast<u16>((w.steps - 1) * 2);
        run->bytes = 0;
    }
    // Steps are counted before the fetch, so a run never outgrows the room.
    std::memcpy(&w.opcodes[run->offset + run->bytes], &word, 2);
    run->bytes += 2;
    return true;
}

bool SH2::recordAccess(bool store, u32 address, u32 width)
{
    WaitLoop& w = m_wait;
    // A store must land in plain memory; a read elsewhere must be steady.
    const bool memory = m_map->ramPages()[address >> PageMap::kPageShift] != nullptr;
    if (store && !memory)
        return false;
    const u8 kind = memory ? WaitAccess::kMemory : WaitAccess::kSteady;
    u32 value;
    if (!accessValue(kind, address, width, value))
        return false;
    const WaitAccess access{address, value, static_cast<u8>(width), kind};
    // A pop finds what the push before it left: one check serves both.
    for (u32 i = 0; i < w.count; ++i) {
        const WaitAccess& a = w.accesses[i];
        if (a.address == address && a.width == width && a.kind == kind && a.value == value)
            return true;
    }
    if (w.count == WaitLoop::kAccesses)
        return false;
    w.accesses[w.count++] = access;
    return true;
}

// Whether the recorded pass would run as it did: the same opcodes, and
// every access finding what it found (for a store, the memory before it,
// so that the store changes nothing).
bool SH2::passUnchanged() const
{
    const WaitLoop& w = m_wait;
    const uintptr_t* const direct = m_direct.get();
    for (u32 i = 0; i < w.runs; ++i) {
        const WaitCode& c = w.code[i];
        const u8* host = reinterpret_cast<const u8*>(direct[c.address >> PageMap::kPageShift] + c.address);
        if (!sameOpcodes(host, &w.opcodes[c.offset], c.bytes))
            return false;
    }
    const u8* const* const ram = m_map->ramPages();
    constexpr u32 kPageMask = PageMap::kPageMask;
    for (u32 i = 0; i < w.count; ++i) {
        const WaitAccess& a = w.accesses[i];
        u32 value;
        const u8* const page = ram[a.address >> PageMap::kPageShift];
        if (a.kind == WaitAccess::kMemory && page) {
            value = a.width == 1   ? page[a.address & kPageMask]
                    : a.width == 2 ? loadBe16(page + (a.address & (kPageMask - 1)))
                                   : loadBe32(page + (a.address & (kPageMask - 3)));
        } else if (!accessValue(a.kind, a.address, a.width, value)) {
            return false;
        }
        if (value != a.value)
            return false;
    }
    return true;
}
