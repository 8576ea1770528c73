// Loops that wait on memory: the iterations skipped within a slice must
// leave the processor exactly where running them does. An armed breakpoint
// the program never reaches turns the skip off and gives the reference.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <ostream>
#include <vector>

#include "sh2_machine.h"

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
    return o;
}

void expectSameAsReference(std::initializer_list<u16> program, const std::function<void(Sh2Machine&)>& setup,
                           const std::function<void(Sh2Machine&, size_t)>& between = {})
{
    // Every place within an iteration where a slice can end, short and long.
    std::vector<std::vector<u32>> runs;
    for (u32 budget = 1; budget <= 24; ++budget)
        runs.push_back({budget});
    for (u32 budget = 995; budget <= 1007; ++budget)
        runs.push_back({budget, budget + 3, 40});
    runs.push_back({100000, 7});
    for (const auto& slices : runs) {
        const Outcome want = runSlices(true, program, slices, setup, between);
        EXPECT_EQ(runSlices(false, program, slices, setup, between), want) << "first slice " << slices[0];
    }
}

u32 calls;  // made to the device of expectSameDeviceCalls

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
