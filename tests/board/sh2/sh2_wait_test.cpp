// Loops that wait on memory: the iterations skipped within a slice must
// leave the processor exactly where running them does. An armed breakpoint
// the program never reaches turns the skip off and gives the reference.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <sstream>
#include <ostream>
#include <utility>
#include <vector>

#include "sh2_machine.h"
#include "support/log_capture.h"

namespace {

constexpr u32 kCode = 0x06004000;
constexpr u32 kFlag = 0x06080000;
constexpr u32 kNowhere = 0x06007000;
constexpr u16 kNop = 0x0009;
constexpr u16 kSelfLoop = 0xAFFE;  // bra . (with the nop after it)

struct Outcome {
    u32 pc = 0;
    std::vector<u32> used;
    std::array<u32, 16> r{};
    u32 t = 0;
    u32 counter = 0;  // the long at kFlag + 8
    u32 pr = 0;
    u32 frc = 0, ftcsr = 0, frtRemainder = 0;
    std::array<u32, 8> stack{};  // the longs under the stack top, where calls push
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << "PC " << std::hex << o.pc << " T " << o.t << " R0 " << o.r[0] << " R1 " << o.r[1] << " R3 " << o.r[3]
        << " counter " << o.counter << " PR " << o.pr << " FRC " << o.frc << " FTCSR " << o.ftcsr << " used";
    for (u32 u : o.used)
        *os << ' ' << std::dec << u;
}

// Runs the program at kCode in slices of the given clocks; `between` runs
// after each slice with its number (another device writing memory).
Outcome runSlices(bool reference, std::initializer_list<u16> program, const std::vector<u32>& slices,
                  const std::function<void(Sh2Machine&)>& setup,
                  const std::function<void(Sh2Machine&, size_t)>& between = {})
{
    Sh2Machine m;
    m.boot(kCode);
    m.code(kCode, program);
    if (setup)
        setup(m);
    if (reference)
        m.cpu->setBreakpoint(kNowhere);
    Outcome o;
    for (size_t i = 0; i < slices.size(); ++i) {
        o.used.push_back(m.run(slices[i]));
        if (between)
            between(m, i);
    }
    o.pc = m.cpu->getPC();
    for (int n = 0; n < 16; ++n)
        o.r[n] = m.cpu->r(n);
    o.t = m.cpu->getFlag(0);
    o.counter = m.ramLong(kFlag + 8);
    o.pr = m.cpu->pr();
    o.frc = m.cpu->frt.frc;
    o.ftcsr = m.cpu->frt.ftcsr;
    o.frtRemainder = m.cpu->frt.remainder;
    for (u32 i = 0; i < o.stack.size(); ++i)
        o.stack[i] = m.ramLong(Sh2Machine::kStackTop - 4 * (i + 1));
    return o;
}

void expectSameAsReference(std::initializer_list<u16> program, const std::function<void(Sh2Machine&)>& setup,
                           const std::function<void(Sh2Machine&, size_t)>& between = {}, bool everyEnd = true)
{
    // Every place within an iteration where a slice can end, short and long.
    std::vector<std::vector<u32>> runs;
    for (u32 budget = 1; everyEnd && budget <= 24; ++budget)
        runs.push_back({budget});
    for (u32 budget = 995; budget <= 1007; ++budget)
        runs.push_back({budget, budget + 3, 40});
    runs.push_back({100000, 7});
    // Many slices, so a settled loop carries over from one to the next.
    runs.push_back({600, 1400, 999, 2500, 31, 4000, 1001, 3, 7000, 500});
    for (const auto& slices : runs) {
        const Outcome want = runSlices(true, program, slices, setup, between);
        EXPECT_EQ(runSlices(false, program, slices, setup, between), want) << "first slice " << slices[0];
    }
}

u32 calls;  // made to the device of expectSameDeviceCalls

// A device register that changes only between slices, as the CD block's
// HIRQREQ does: its word reads are steady, told apart by a count of its
// changes; its byte reads are not. Every read counts in calls.
struct SteadyRegister {
    static inline u16 value = 0;
    static inline u32 changes = 0;
    static void set(u16 v) { value = v, ++changes; }
    static u8 rb(void*, CPU*, u32 a) { return ++calls, static_cast<u8>((a & 1) ? value : value >> 8); }
    static u16 rw(void*, CPU*, u32) { return ++calls, value; }
    static bool steady(void*, const CPU*, u32, u32 width, u32& v)
    {
        v = changes << 16 | value;
        return width == 2;
    }
    static constexpr u32 kAddress = 0x25F00008;
    // Mapped with the value it starts from.
    static void map(Sh2Machine& m, u16 start)
    {
        value = start;
        changes = 0;
        AccessHandlers h{.readByte = rb, .readWord = rw};
        h.steadyRead = steady;
        m.cpu->mapWindows({{0x25F00000, 0x25F0FFFF, h}});
    }
};

// With `device` at R8 after `setup`, the skip changes neither the outcome
// nor the number of device calls, which it returns.
u32 expectSameDeviceCalls(std::initializer_list<u16> program, u32 clocks, const AccessHandlers& device,
                          const std::function<void(Sh2Machine&)>& setup = {})
{
    const auto run = [&](bool reference) {
        calls = 0;
        return runSlices(reference, program, {clocks}, [&](Sh2Machine& m) {
            if (setup)
                setup(m);
            m.cpu->mapWindows({{0x25F00000, 0x25F0FFFF, device}});
            m.cpu->setR(8, 0x25F00000);
        });
    };
    const Outcome want = run(true);
    const u32 wantCalls = calls;
    EXPECT_EQ(run(false), want);
    EXPECT_EQ(calls, wantCalls);
    return calls;
}

}  // namespace

// 1: mov.l @(4,r8),r0 ; cmp/eq r0,r9 ; bt 1b ; add #1,r1 ; bra . ; nop
TEST(Sh2WaitLoop, SkippedIterationsEndWhereRunningThemDoes)
{
    const auto program = {u16{0x5081}, u16{0x3900}, u16{0x89FC}, u16{0x7101}, kSelfLoop, kNop};
    const auto setup = [](Sh2Machine& m) {
        m.cpu->setR(8, kFlag);
        m.ram.setLong(kFlag + 4, 0x1234);
        m.cpu->setR(9, 0x1234);
    };
    expectSameAsReference(program, setup);
    // Memory another device writes between slices ends the wait in the next.
    const auto release = [](Sh2Machine& m, size_t slice) {
        if (slice == 0)
            m.ram.setLong(kFlag + 4, 0x1235);
    };
    expectSameAsReference(program, setup, release);
    const Outcome released = runSlices(false, program, {100000, 7}, setup, release);
    EXPECT_EQ(released.r[1], 1u);
    EXPECT_EQ(released.pc, kCode + 8);
    // So does a register the debugger changes.
    expectSameAsReference(program, setup, [](Sh2Machine& m, size_t slice) {
        if (slice == 1)
            m.cpu->setR(9, 0x1235);
    });
}

// A register that changes stops the skip until it settles: SHLL shifts R3
// out over 32 iterations, and only then does the state repeat.
// 1: shll r3 ; mov.l @r8,r0 ; cmp/eq r0,r9 ; bt 1b
TEST(Sh2WaitLoop, ARegisterThatStillChangesIsRunNotSkipped)
{
    expectSameAsReference({0x4300, 0x6082, 0x3900, 0x89FB, kSelfLoop, kNop}, [](Sh2Machine& m) {
        m.cpu->setR(3, 1);
        m.cpu->setR(8, kFlag);
        m.cpu->setR(9, 0);
    });
}

// Coming back to the branch with the registers it last left there is not a
// period of the loop when the way back ran other code: here a store that
// counts each pass through it.
// 1: shll r3 ; cmp/pl r3 ; bt 1b ; mov.l @r10,r1 ; add #1,r1 ; mov.l r1,@r10 ;
//    mov #0,r1 ; mov r11,r3 ; bra 1b ; nop
TEST(Sh2WaitLoop, AWayBackThroughOtherCodeIsNotAPeriod)
{
    const auto setup = [](Sh2Machine& m) {
        m.cpu->setR(3, 1);
        m.cpu->setR(10, kFlag + 8);
        m.cpu->setR(11, 0x20000000);
    };
    const auto program = {u16{0x4300}, u16{0x4315}, u16{0x89FC}, u16{0x61A2}, u16{0x7101},
                          u16{0x2A12}, u16{0xE100}, u16{0x63B3}, u16{0xAFF6}, kNop};
    expectSameAsReference(program, setup);
    EXPECT_GT(runSlices(false, program, {100000}, setup).counter, 1000u);
}

// TST.B takes three clocks, BF waits on the other sense of T.
// 1: tst.b #0x80,@(r0,gbr) ; bf 1b
TEST(Sh2WaitLoop, ByteTestThroughGbrWaits)
{
    expectSameAsReference({0xCC80, 0x8BFD, 0x7101, kSelfLoop, kNop}, [](Sh2Machine& m) {
        m.cpu->setGbr(kFlag);
        m.cpu->setR(0, 3);
        m.ram.bytes[(kFlag + 3) & m.ram.mask] = 0x80;
    });
}

// A loop polling a device is never skipped: every read reaches its
// handler, as many times as the reference makes.
// 1: mov.l @r8,r0 ; tst r0,r0 ; bt 1b
TEST(Sh2WaitLoop, PollingADeviceCallsItEveryIteration)
{
    const AccessHandlers device{.readLong = [](void*, CPU*, u32) -> u32 { return ++calls, 0u; }};
    EXPECT_EQ(expectSameDeviceCalls({0x6082, 0x2008, 0x89FC}, 1000, device), 200u) << "five clocks an iteration";
}

// A poll of the processor's own timer flags, set by the count, is skipped
// like one of memory and ends where running the loop does.
// 1: mov.b @r1,r0 ; tst #8,r0 ; bt 1b ; add #1,r2 ; bra . ; nop
TEST(Sh2WaitLoop, PollingTheTimerFlagsEndsWhereRunningDoes)
{
    const auto setup = [](Sh2Machine& m) {
        m.cpu->setR(1, 0xFFFFFE11);  // FTCSR
        m.cpu->frt.ocra = 0x0180;
    };
    const auto waitCompare = {u16{0x6010}, u16{0xC808}, u16{0x89FC}, u16{0x7201}, kSelfLoop, kNop};
    expectSameAsReference(waitCompare, setup);
    EXPECT_EQ(runSlices(false, waitCompare, {1000, 3000, 500}, setup).r[2], 1u) << "the compare flag ends the wait";
}

// A wait calling a routine that only returns ends where running it does; a
// callee writing a device is run, never skipped.
// 1: mov.l @(4,gbr),r0 ; jsr @r0 ; mov.b @(19,gbr),r0 ; cmp/pz r0 ; bt 1b ; add #1,r1 ; bra . ; nop
TEST(Sh2WaitLoop, ALoopCallingARoutineThatOnlyReturnsWaits)
{
    constexpr u32 kCallee = kCode + 0x100;
    const auto setup = [](u16 slot) {
        return [slot](Sh2Machine& m) {
            m.cpu->setGbr(kFlag);
            m.ram.setLong(kFlag + 4, kCallee);
            m.code(kCallee, {0x000B, slot});  // rts ; slot
        };
    };
    const auto release = [](Sh2Machine& m, size_t slice) {
        if (slice == 0)
            m.ram.bytes[(kFlag + 19) & m.ram.mask] = 0x80;
    };
    const auto program = {u16{0xC601}, u16{0x400B}, u16{0xC413}, u16{0x4011}, u16{0x89FA}, u16{0x7101}, kSelfLoop,
                          kNop};
    expectSameAsReference(program, setup(kNop), release);
    EXPECT_EQ(runSlices(false, program, {100000, 40}, setup(kNop), release).r[1], 1u);
    const AccessHandlers device{.writeLong = [](void*, CPU*, u32, u32) { ++calls; }};
    EXPECT_GT(expectSameDeviceCalls(program, 100000, device, setup(0x2802)), 5000u);  // mov.l r0,@r8
}

// The slave's idle loop as compiled code has it, closed by a delayed branch
// whose slot clears R1: its first pass sets R1, the later ones repeat. An
// interrupt taken between slices runs its handler and comes back to it;
// the input capture another processor raises between slices ends it.
// handler: mov.l r1,@-r15 ; mov.l @r12,r1 ; add #1,r1 ; mov.l r1,@r12 ;
//          mov.l @r15+,r1 ; rte ; nop
// 1: mov.b @r10,r0 ; and #128,r0 ; tst r0,r0 ; bt/s 1b ; mov #0,r1 ;
//    add #1,r2 ; bra . ; nop
TEST(Sh2WaitLoop, ADelayedBranchPollOfTheTimerFlagsEndsWhereRunningDoes)
{
    const auto program = {u16{0x60A0}, u16{0xC980}, u16{0x2008}, u16{0x8DFB}, u16{0xE100}, u16{0x7201}, kSelfLoop,
                          kNop};
    constexpr u32 kHandler = kCode + 0x200;
    constexpr u8 kVector = 0x40;
    const auto setup = [](Sh2Machine& m) {
        m.cpu->setR(10, 0xFFFFFE11);  // FTCSR
        m.cpu->setR(1, 5);
        m.cpu->setR(12, kFlag + 8);
        m.cpu->setFlag(2, 0);  // I
        m.low.setLong(kVector * 4, kHandler);
        m.code(kHandler, {0x2F16, 0x61C2, 0x7101, 0x2C12, 0x61F6, 0x002B, kNop});
    };
    const auto capture = [](Sh2Machine& m, size_t slice) {
        if (slice == 1)
            m.cpu->requestInterrupt(kVector, 5);
        if (slice == 2)
            m.cpu->frt.inputCapture();
    };
    expectSameAsReference(program, setup);
    expectSameAsReference(program, setup, capture);
    const Outcome released = runSlices(false, program, {3000, 3000, 3000, 100}, setup, capture);
    EXPECT_EQ(released.r[2], 1u);
    EXPECT_EQ(released.r[1], 0u);
    EXPECT_EQ(released.counter, 1u) << "the handler ran once";
    // The slot may be the load itself.
    // mov.l @r8,r0 ; 1: tst r0,r0 ; bt/s 1b ; mov.l @r8,r0 ; add #1,r2 ; bra . ; nop
    const auto loadInSlot = {u16{0x6082}, u16{0x2008}, u16{0x8DFD}, u16{0x6082}, u16{0x7201}, kSelfLoop, kNop};
    expectSameAsReference(
        loadInSlot, [](Sh2Machine& m) { m.cpu->setR(8, kFlag); },
        [](Sh2Machine& m, size_t slice) {
            if (slice == 1)
                m.ram.setLong(kFlag, 1);
        });
}

// A poll of a steady register through a chain of calls, each saving PR on
// the stack: the loop stays settled from slice to slice while the register
// stands still, takes a change that releases nothing, and ends where running
// it does once the waited bit comes. Reads are made each slice, not each pass.
// 1: jsr @r9 ; nop ; tst r0,r0 ; bt 1b ; add #1,r1 ; bra . ; nop
// r9: sts.l pr,@-r15 ; bsr 2f ; nop ; lds.l @r15+,pr ; rts ; and r5,r0
// 2: mov.w @r8,r0 ; rts ; extu.w r0,r0
TEST(Sh2WaitLoop, ASteadyRegisterPolledThroughCallsStaysSettledAcrossSlices)
{
    constexpr u32 kFirst = kCode + 0x100;
    constexpr u32 kSecond = kFirst + 0x20;
    const auto setup = [](Sh2Machine& m) {
        SteadyRegister::map(m, 0);
        m.code(kFirst, {0x4F22, 0xB00D, kNop, 0x4F26, 0x000B, 0x2059});
        m.code(kSecond, {0x6081, 0x000B, 0x600D});
        m.cpu->setR(5, 1);
        m.cpu->setR(8, SteadyRegister::kAddress);
        m.cpu->setR(9, kFirst);
    };
    const auto program = {u16{0x490B}, kNop, u16{0x2008}, u16{0x89FB}, u16{0x7101}, kSelfLoop, kNop};
    const auto events = [](Sh2Machine&, size_t slice) {
        if (slice == 1)
            SteadyRegister::set(2);
        if (slice == 5)
            SteadyRegister::set(3);
    };
    expectSameAsReference(program, setup, events);
    const std::vector<u32> slices(12, 2000);
    calls = 0;
    const Outcome want = runSlices(true, program, slices, setup, events);
    const u32 wantCalls = calls;
    calls = 0;
    EXPECT_EQ(runSlices(false, program, slices, setup, events), want);
    EXPECT_EQ(want.r[1], 1u);
    EXPECT_LT(calls * 10, wantCalls) << "passes were run, not skipped";
}

// Switched off between slices, the skip runs every pass from the next slice
// on, a loop that settled included, and leaves the machine as the
// reference does; switched on again, it skips again.
// 1: mov.w @r8,r0 ; tst r0,r0 ; bt 1b
TEST(Sh2WaitLoop, SwitchedOffItRunsEveryPassFromTheNextSlice)
{
    const auto program = {u16{0x6081}, u16{0x2008}, u16{0x89FC}};
    const auto setup = [](Sh2Machine& m) {
        SteadyRegister::map(m, 0);
        m.cpu->setR(8, SteadyRegister::kAddress);
    };
    std::vector<u32> perSlice;
    const auto switching = [&perSlice](Sh2Machine& m, size_t slice) {
        perSlice.push_back(calls);
        calls = 0;
        if (slice == 3 || slice == 7)
            m.cpu->setSkipWaitLoops(slice == 7);
    };
    const std::vector<u32> slices(12, 2000);
    calls = 0;
    const Outcome want = runSlices(true, program, slices, setup, switching);
    const std::vector<u32> wantPerSlice = std::exchange(perSlice, {});
    calls = 0;
    EXPECT_EQ(runSlices(false, program, slices, setup, switching), want);
    ASSERT_EQ(perSlice.size(), slices.size());
    for (size_t slice = 1; slice < slices.size(); ++slice) {
        if (slice >= 4 && slice <= 7) {
            EXPECT_EQ(perSlice[slice], wantPerSlice[slice]) << "slice " << slice;
        } else if (slice != 8) {
            EXPECT_LT(perSlice[slice] * 10, wantPerSlice[slice]) << "slice " << slice;
        }
    }
}

// A pass of more clocks than the skip lists slice ends for (86 byte tests
// of three clocks in a routine it calls) ends where running it does too.
// 1: jsr @r9 ; nop ; mov.l @r8,r0 ; tst r0,r0 ; bt 1b ; add #1,r1 ; bra . ; nop
// r9: tst.b #0,@(r0,gbr) (86 times) ; rts ; nop
TEST(Sh2WaitLoop, ALongPassEndsWhereRunningItDoes)
{
    constexpr u32 kRoutine = kCode + 0x100;
    const auto program = {u16{0x490B}, kNop, u16{0x6082}, u16{0x2008}, u16{0x89FA}, u16{0x7101}, kSelfLoop, kNop};
    const auto setup = [](Sh2Machine& m) {
        for (u32 i = 0; i < 86; ++i)
            m.code(kRoutine + 2 * i, {0xCC00});
        m.code(kRoutine + 2 * 86, {0x000B, kNop});
        m.cpu->setR(8, kFlag);
        m.cpu->setR(9, kRoutine);
        m.cpu->setGbr(kFlag + 16);
    };
    const auto release = [](Sh2Machine& m, size_t slice) {
        if (slice == 1)
            m.ram.setLong(kFlag, 1);
    };
    expectSameAsReference(program, setup, release, false);
    // Slices that end in the last clocks of a pass: 269 clocks a pass.
    for (u32 budget = 1050; budget <= 1080; ++budget)
        EXPECT_EQ(runSlices(false, program, {budget, 7}, setup), runSlices(true, program, {budget, 7}, setup));
    EXPECT_EQ(runSlices(false, program, {3000, 3000, 3000}, setup, release).r[1], 1u);
}

// A count around a steady read, as a wait with a timeout has it: the passes
// skipped leave the count where running them does, at the limit within a
// slice or at a slice end, or where the register released the wait. The
// count starts below zero and goes through it.
// 1: mov.w @r6,r1 ; tst r5,r1 ; bf 2f ; add #1,r3 ; cmp/gt r7,r3 ; bf 1b ;
//    mov #-1,r2 ; bra . ; nop
// 2: mov #1,r2 ; bra . ; nop
TEST(Sh2WaitLoop, ACountedWaitEndsAtItsLimitOrItsRelease)
{
    const auto program = {u16{0x6161}, u16{0x2158}, u16{0x8B05}, u16{0x7301}, u16{0x3377}, u16{0x8BF9},
                          u16{0xE2FF}, kSelfLoop, kNop, u16{0xE201}, kSelfLoop, kNop};
    const auto setup = [](u32 limit) {
        return [limit](Sh2Machine& m) {
            SteadyRegister::map(m, 0x0400);
            m.cpu->setR(5, 1);
            m.cpu->setR(6, SteadyRegister::kAddress);
            m.cpu->setR(7, limit);
            m.cpu->setR(3, 0xFFFFFFF0);
        };
    };
    const auto release = [](Sh2Machine&, size_t slice) {
        if (slice == 3)
            SteadyRegister::set(0x0401);
    };
    expectSameAsReference(program, setup(1500));
    // Running out early in the second slice, which starts inside a pass.
    expectSameAsReference(program, setup(110), {}, false);
    expectSameAsReference(program, setup(100000), release);
    const Outcome limited = runSlices(false, program, {100000}, setup(1500), release);
    EXPECT_EQ(limited.r[3], 1501u);
    EXPECT_EQ(limited.r[2], 0xFFFFFFFFu);
    const Outcome released = runSlices(false, program, {2500, 2500, 2500, 2500, 2500}, setup(100000), release);
    EXPECT_EQ(released.r[2], 1u);
    // Other compares: up to the limit exactly (cmp/eq r7,r3), and while the
    // count stays at or above it unsigned, which it leaves by wrapping to
    // zero (cmp/hi r3,r7).
    for (const u16 compare : {u16{0x3370}, u16{0x3736}}) {
        const auto other = {u16{0x6161}, u16{0x2158}, u16{0x8B05}, u16{0x7301}, compare, u16{0x8BF9},
                            u16{0xE2FF}, kSelfLoop, kNop, u16{0xE201}, kSelfLoop, kNop};
        expectSameAsReference(other, setup(1500), {}, false);
    }
    // A delay loop counts its register down to zero: 1: dt r4 ; bf 1b
    expectSameAsReference({0x4410, 0x8BFD, 0x7101, kSelfLoop, kNop}, [](Sh2Machine& m) { m.cpu->setR(4, 3000); });
    // Settled, it stays so from slice to slice: the register is read while
    // the loop settles, not again in every slice.
    calls = 0;
    const std::vector<u32> slices(12, 2000);
    EXPECT_EQ(runSlices(false, program, slices, setup(100000)).r[2], 0u);
    EXPECT_LT(calls, slices.size());
}

// Guards of the skip. A byte poll of a register whose word reads are steady
// reaches the device every pass, and one of an on-chip register that logs
// its reads logs each. A pass that changes memory (a count it
// keeps there) is never a period. A routine the loop calls that another
// device rewrites between slices runs as rewritten, as does one the loop
// finds through memory that changes.
// 1: mov.b @r8,r0 ; tst r0,r0 ; bt 1b
// 1: mov.l @r10,r1 ; add #1,r1 ; mov.l r1,@r10 ; mov #0,r1 ; mov.l @r8,r0 ; tst r0,r0 ; bt 1b
// 1: mov.l @(4,gbr),r0 ; jsr @r0 ; nop ; tst r0,r0 ; bt 1b ; add #1,r1 ; bra . ; nop
TEST(Sh2WaitLoop, WhatAPassMayNotSkip)
{
    SteadyRegister::value = 0;
    AccessHandlers byteDevice{.readByte = SteadyRegister::rb, .readWord = SteadyRegister::rw};
    byteDevice.steadyRead = SteadyRegister::steady;
    EXPECT_EQ(expectSameDeviceCalls({0x6080, 0x2008, 0x89FC}, 1000, byteDevice), 200u) << "five clocks a pass";
    // The lines the reads logged, counting those folded into a repeat line.
    const auto logged = [](bool reference) {
        logSink().flush();
        LogCapture log;
        runSlices(reference, {0x6080, 0x2008, 0x89FC}, {2000}, [](Sh2Machine& m) { m.cpu->setR(8, 0xFFFFFE20); });
        logSink().flush();
        std::istringstream lines(log.text());
        u32 reads = 0;
        bool afterRead = false;
        for (std::string line; std::getline(lines, line);) {
            unsigned long more = 0;
            if (line.find("ONCHIP: Bad RB") != std::string::npos)
                ++reads, afterRead = true;
            else if (afterRead && std::sscanf(line.c_str(), "SH2: (the line above repeated %lu", &more) == 1)
                reads += static_cast<u32>(more);
            else
                afterRead = false;
        }
        return reads;
    };
    EXPECT_EQ(logged(true), 400u) << "five clocks a pass";
    EXPECT_EQ(logged(false), 400u);

    // A pass storing to a register whose reads are steady, or trapping with its vector there (no row
    // states an exception's accesses), makes them every pass.
    // 1: mov.w @r8,r0 ; mov.w r0,@r8 ; tst r0,r0 ; bt 1b
    // 1: trapa #0 ; tst r0,r0 ; bt 1b ; handler: mov.l @r15+,r1 ; jmp @r1 ; add #4,r15
    AccessHandlers device{.readWord = SteadyRegister::rw, .writeWord = [](void*, CPU*, u32, u16) { ++calls; },
                          .readLong = [](void*, CPU*, u32) { return ++calls, kCode + 6; }};
    device.steadyRead = SteadyRegister::steady;
    EXPECT_EQ(expectSameDeviceCalls({0x6081, 0x2801, 0x2008, 0x89FB}, 1000, device), 334u) << "six clocks a pass";
    const auto trapSetup = [](Sh2Machine& m) { m.cpu->setVbr(0x25F00000); };
    EXPECT_EQ(expectSameDeviceCalls({0xC300, 0x2008, 0x89FC, 0x61F6, 0x412B, 0x7F04}, 1000, device, trapSetup), 63u);

    const auto counting = {u16{0x61A2}, u16{0x7101}, u16{0x2A12}, u16{0xE100}, u16{0x6082}, u16{0x2008}, u16{0x89F8}};
    const auto countSetup = [](Sh2Machine& m) {
        m.cpu->setR(8, kFlag);
        m.cpu->setR(10, kFlag + 8);
    };
    expectSameAsReference(counting, countSetup);
    EXPECT_GT(runSlices(false, counting, {100000}, countSetup).counter, 10000u);

    constexpr u32 kWaiting = kCode + 0x100;
    constexpr u32 kReturning = kCode + 0x180;
    const auto program = {u16{0xC601}, u16{0x400B}, kNop, u16{0x2008}, u16{0x89FA}, u16{0x7101}, kSelfLoop, kNop};
    const auto setup = [](Sh2Machine& m) {
        m.cpu->setGbr(kFlag);
        m.ram.setLong(kFlag + 4, kWaiting);
        m.code(kWaiting, {0x000B, 0xE000});    // rts ; mov #0,r0
        m.code(kReturning, {0x000B, 0xE001});  // rts ; mov #1,r0
    };
    const auto rewrite = [](Sh2Machine& m, size_t slice) {
        if (slice == 1)
            m.code(kWaiting + 2, {0xE001});
    };
    const auto redirect = [](Sh2Machine& m, size_t slice) {
        if (slice == 1)
            m.ram.setLong(kFlag + 4, kReturning);
    };
    expectSameAsReference(program, setup, rewrite);
    expectSameAsReference(program, setup, redirect);
    EXPECT_EQ(runSlices(false, program, {3000, 3000, 3000}, setup, rewrite).r[1], 1u);

    // The loop's own last word rewritten: bt 1b becomes bf 1b, which lets
    // it go, in loops of three words and of five.
    // 1: mov.l @r8,r0 ; tst r0,r0 ; bt 1b ; add #1,r1 ; bra . ; nop
    // 1: mov.l @r8,r0 ; nop ; nop ; tst r0,r0 ; bt 1b ; add #1,r1 ; bra . ; nop
    const auto ownSetup = [](Sh2Machine& m) { m.cpu->setR(8, kFlag); };
    const auto turnAt = [](u32 branch) {
        return [branch](Sh2Machine& m, size_t slice) {
            if (slice == 1)
                m.code(branch, {static_cast<u16>(0x8B00 | (m.ram.word(branch) & 0xFF))});
        };
    };
    const auto shortLoop = {u16{0x6082}, u16{0x2008}, u16{0x89FC}, u16{0x7101}, kSelfLoop, kNop};
    const auto longLoop = {u16{0x6082}, kNop, kNop, u16{0x2008}, u16{0x89FA}, u16{0x7101}, kSelfLoop, kNop};
    expectSameAsReference(shortLoop, ownSetup, turnAt(kCode + 4));
    expectSameAsReference(longLoop, ownSetup, turnAt(kCode + 8));
    EXPECT_EQ(runSlices(false, shortLoop, {3000, 3000, 3000}, ownSetup, turnAt(kCode + 4)).r[1], 1u);
    EXPECT_EQ(runSlices(false, longLoop, {3000, 3000, 3000}, ownSetup, turnAt(kCode + 8)).r[1], 1u);
}

// The skip takes a pass's accesses from the instruction table: every opcode makes those its row states,
// in order, and one stating none (an exception, no instruction) makes some. Registers point apart.
TEST(Sh2WaitLoop, EveryOpcodeMakesTheAccessesItsRowStates)
{
    static std::vector<sh2::DataAccess> seen;
    const auto read = []<typename T>(void*, CPU*, u32 a) -> T { return seen.push_back({a, sizeof(T), false}), T{}; };
    const auto store = [](void*, CPU*, u32 a, auto d) { seen.push_back({a, sizeof(d), true}); };
    Sh2Machine m;
    m.cpu->setThreshold(-1);
    m.boot(0xE000);
    m.cpu->mapWindows({{0, 0xFFFF, {nullptr, read, store, read, store, read, store}}});
    u32 r[16];
    for (u32 i = 0x1C; i <= 0x1001B; ++i) {  // SLEEP (0x001B) last: the processor sleeps after it
        const u16 op = static_cast<u16>(i);
        for (int n = 0; n < 16; ++n)
            m.cpu->setR(n, r[n] = n ? 0x1000 + n * 0x400 : 0x100);
        m.cpu->setGbr(0x8000);
        m.cpu->setPC(0xE000);
        m.low.setLong(0xE000, op << 16 | kNop);
        seen.clear();
        m.run(1);
        sh2::DataAccess stated[2];
        const int count = sh2::dataAccesses(m.cpu->decode(op), sh2::tableIndex(op), r, 0x8000, 0xE000, stated);
        ASSERT_TRUE(count < 0 ? !seen.empty() : seen == std::vector(stated, stated + count)) << std::hex << op;
    }
}
