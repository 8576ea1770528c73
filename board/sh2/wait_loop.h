#pragma once

#include "core/base/types.h"

class SH2;

namespace sh2 {

// The waiting-loop skip. A program that polls memory or a register runs
// the same pass of a short loop again and again until something outside
// the processor changes. Inside a processor's slice only that processor
// changes state: the other devices run between slices, and the reads a
// pass may make are of plain memory or of registers whose steady read
// says they change only between slices. So once a pass is known to repeat,
// the rest of the slice can be run at once, leaving the processor where
// running it would.
//
// The loop is looked at where a short backward BT or BF is taken, or a
// BT/S, BF/S or BRA to itself before its slot (the pass's branch), in
// three phases:
// - watching: a pass from the branch back to it that leaves the state as
//   it found it, or changes one register alone (a counter), is recorded
//   next;
// - recording: that pass is noted instruction by instruction: the opcodes
//   fetched, every data access and the value it found (for a store, the
//   memory before it), the state before each dispatch, and the counter's
//   one step and one compare;
// - settled: the recorded pass came back in the same clocks to the same
//   state (the counter stepped once), and all it read is found unchanged.
//   From then on, while the state and every value the pass found stay the
//   same, a slice that reaches the branch, or starts where the last one
//   ended on a dispatch of the pass, is run to its end at once: whole
//   passes skipped, the counter moved by as many steps, and the state left
//   as the recorded pass had it at the first dispatch the budget does not
//   reach. Where the counter's compare would end the loop within the slice,
//   only the passes before that one are skipped.
// A branch is turned away for the rest of the slice when its pass changes
// more than one register (or R0 or R15), does not repeat within a few
// passes, walks a pointer through memory, is taken up afresh too often (a
// loop nested with another, taking turns at the branch), or does what a
// pass may not: take an exception, write SR, sleep, store outside plain
// memory, read a register that is not steady, name its counter other than
// in one step and one compare, or outgrow the record. What an instruction
// reads and stores comes from its row of the instruction table; one whose
// accesses the table does not state is turned away.
class WaitLoop {
public:
    explicit WaitLoop(SH2& cpu) : m_cpu(cpu) {}

    // Off, every pass is run; an armed breakpoint turns the skip off too.
    void setEnabled(bool on)
    {
        m_enabled = on;
        if (!on)
            m_phase = kWatching;
    }
    bool skips(bool breakpoints) const { return m_enabled && !breakpoints; }

    bool settled() const { return m_phase == kSettled; }
    bool recording() const { return m_phase == kRecording; }
    // After atBranch or finishSlice: the slice was run to its end, at endPc.
    bool finished() const { return m_finished; }
    u32 endPc() const { return m_endPc; }
    // Slices run out at once since the processor was made.
    u64 slicesRunOut() const { return m_slicesRunOut; }

    // At the start of the interpreter's slice: only a settled loop carries
    // over, the others' clocks count in this slice's budget.
    void beginSlice(bool skips)
    {
        if (m_phase != kSettled || !skips) {
            m_phase = kWatching;
            m_branch = ~0u;
            m_resumable = m_finished = false;
        }
        for (u32 slot = 0; slot < kSlots; ++slot)
            m_rejected[slot] = m_takenUp[slot] = ~0u;
    }
    // At the start of a slice on a settled loop: runs the slice out from
    // where the last one left the processor, when the pass there finds
    // what it found; false when the interpreter must run it.
    bool finishSlice();
    // Where the interpreter's slice ends, the next may take the loop up.
    void endSlice(u32 pc)
    {
        if (m_phase == kSettled)
            noteEnd(pc);
    }

    bool rejected(u32 branch) const { return m_rejected[slotOf(branch)] == branch; }
    // At the pass's branch, with the clocks left: answers the clocks left
    // after it; when finished(), the processor stands at endPc.
    s32 atBranch(u32 branch, u32 target, s32 clocks, bool delayed);

    // While recording: the dispatch about to run, and the instruction it
    // runs (pc, the address it sees as its own); false when it may not sit
    // in a waiting loop.
    void noteDispatch(u32 pc, s32 clocks);
    bool noteStep(u32 word, u32 at, u32 pc);
    void stopRecording();

private:
    enum Phase : u8 { kWatching, kRecording, kSettled };
    static constexpr u32 kMaxInstructions = 96;
    static constexpr u32 kMaxAccesses = 48;
    static constexpr u32 kMaxCodeRuns = 16;
    static constexpr u32 kSlots = 8;

    // What a pass must leave as it found it.
    struct State {
        u32 r[16];
        u32 gbr, vbr, pr, mach, macl, m, q, i, s, t;
        // Whether all but the general registers are alike.
        bool sameControl(const State& o) const
        {
            return ((gbr ^ o.gbr) | (vbr ^ o.vbr) | (pr ^ o.pr) | (mach ^ o.mach) | (macl ^ o.macl) | (m ^ o.m) |
                    (q ^ o.q) | (i ^ o.i) | (s ^ o.s) | (t ^ o.t)) == 0;
        }
    };
    // Fields of a State as bits: the general registers by number, and all
    // the others as one.
    static constexpr u32 kControlFields = 1u << 16;
    static u32 differingFields(const State& a, const State& b);

    // A data access of the recorded pass and what it found.
    struct Access {
        enum Kind : u8 { kMemory, kSteady };
        u32 address;
        u32 value;
        u8 width;
        u8 kind;
    };
    // Opcodes the recorded pass fetched in a row from one page.
    struct CodeRun {
        u32 address;
        u16 firstByte;  // in m_opcodes
        u16 bytes;
    };

    static u32 slotOf(u32 branch) { return (branch >> 1) & (kSlots - 1); }
    void reject(u32 branch) { m_rejected[slotOf(branch)] = branch; }

    void capture(State& s) const;
    void restore(const State& s, u32 fields);
    bool matches(const State& s, int except) const;
    u32 endDispatch(u32 rest, u32 from) const;
    s32 runOut(s32 atBranch, u32 counterAtBranch);
    void noteEnd(u32 pc);
    u32 counterPasses(u32 atBranch, u32 most) const;
    bool inRecordedCode(u32 address) const;
    bool walksMemory(u32 target, u32 branch) const;
    bool noteSlot(u32 branch, u32 target);
    bool noteCounter(u8 index, u32 word);
    bool noteFetch(u32 address);
    bool noteAccess(bool store, u32 address, u32 width);
    bool valueOf(u8 kind, u32 address, u32 width, u32& value) const;
    bool passUnchanged() const;

    SH2& m_cpu;
    u32 m_branch = ~0u;
    Phase m_phase = kWatching;
    u8 m_unsettledPasses = 0;  // watched or recorded passes that did not repeat
    s32 m_clocksAtBranch = 0;  // left at the last pass's branch
    s32 m_passClocks = 0;
    // Once settled, the fields that differ between the recorded pass's
    // dispatches and its branch: where a slice ends within a pass, the
    // rest of the state is as the pass found it.
    u32 m_varyingFields = 0;
    // The counter: the one register a pass steps, by how much, and the
    // compare that tests it (kCmpEq .. kDt, 0 for none), with the other
    // operand, the counter's value at the compare less its value at the
    // pass's start, and the T it gave.
    int m_counter = -1;
    u32 m_counterStep = 0;
    bool m_counterStepped = false;
    u8 m_compare = 0;
    bool m_counterIsRn = false;
    u32 m_compareLimit = 0;
    u32 m_compareOffset = 0;
    u32 m_compareT = 0;
    // The slice was run to its end, at dispatch m_endDispatch; the last
    // slice ended there, with that dispatch's state and the counter at
    // m_endCounter.
    bool m_finished = false, m_resumable = false;
    u32 m_endDispatch = 0, m_endPc = 0, m_endCounter = 0;
    // How much the recorded pass holds: dispatches, instructions (with the
    // slots), data accesses and runs of code.
    u32 m_dispatches = 0, m_instructions = 0, m_accessCount = 0, m_codeRunCount = 0;
    CodeRun m_codeRuns[kMaxCodeRuns];
    u8 m_opcodes[2 * kMaxInstructions];
    Access m_accesses[kMaxAccesses];
    // Once settled, endDispatch by the clocks left, for passes of up to
    // kListedClocks, where a search would stop at a different place in
    // every slice: 1.9% of compiled.iso's instructions (callgrind, 300
    // fields).
    static constexpr u32 kListedClocks = 255;
    static_assert(kMaxInstructions < 256);
    u8 m_endDispatchByClocks[kListedClocks + 1];
    // The dispatches of the recorded pass: their PCs, their clocks from the
    // pass's branch and the state before each.
    u32 m_dispatchPc[kMaxInstructions];
    s32 m_dispatchClocks[kMaxInstructions];
    State m_passStart;  // at the last branch; once settled, at the recorded pass's
    State m_dispatchState[kMaxInstructions];
    // Branches turned away for the slice, and how often a branch was taken
    // up afresh, by slot.
    u32 m_rejected[kSlots] = {};
    u32 m_takenUp[kSlots] = {};
    u8 m_takeUps[kSlots] = {};
    bool m_enabled = true;
    u64 m_slicesRunOut = 0;
};

}  // namespace sh2
