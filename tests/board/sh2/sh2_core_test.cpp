// Processor core: reset, slices, interrupts, exceptions, delay slots and
// the safety of instruction fetch.

#include <gtest/gtest.h>

#include "core/machine/machine.h"
#include "core/base/shared_state.h"
#include "sh2_machine.h"
// GCC 12 at -O3 reports a false -Wrestrict inside the capture's string
// concatenation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#include "support/log_capture.h"
#pragma GCC diagnostic pop

namespace {

constexpr u32 kCode = 0x06004000;
constexpr u32 kHandler = 0x06008000;
constexpr u16 kNop = 0x0009;
constexpr u16 kSelfLoop = 0xAFFE;  // bra . (with the nop after it)

struct Sh2Core : ::testing::Test {
    Sh2Machine m;
    LogCapture log;

    void SetUp() override
    {
        m.cpu->setThreshold(2);
        m.boot(kCode);
    }
    void vector(u32 number, u32 address) { m.low.setLong(number * 4, address); }
    // A handler that counts its entries in R10 and then spins.
    void countingHandler(u32 address = kHandler) { m.code(address, {0x7A01, kSelfLoop, kNop}); }
};

TEST_F(Sh2Core, ResetVectors)
{
    EXPECT_EQ(m.cpu->getPC(), kCode);
    EXPECT_EQ(m.cpu->r(15), Sh2Machine::kStackTop);
    EXPECT_EQ(m.cpu->getFlag(2), 15);
    EXPECT_EQ(m.cpu->vbr(), 0u);
    EXPECT_TRUE(log.contains("reset [PC: 06004000, SP: 06100000]"));

    // Manual reset: vectors at 8 and 12, units untouched.
    m.low.setLong(8, 0x06005000);
    m.low.setLong(12, 0x06090000);
    m.cpu->intc.ipra = 0x1230;
    m.cpu->doReset(true);
    EXPECT_EQ(m.cpu->getPC(), 0x06005000u);
    EXPECT_EQ(m.cpu->r(15), 0x06090000u);
    EXPECT_EQ(m.cpu->intc.ipra, 0x1230);

    // The slave starts from work RAM, with a default stack when none is set.
    Sh2Machine s;
    s.cpu->setSlave(false);
    s.cpu->setSlave(true);
    EXPECT_EQ(s.cpu->name(), "SH2(S)");
    EXPECT_EQ(s.cpu->getIndex(), 1u);
    s.ram.setLong(0x06000250, 0x06006000);
    s.cpu->switchOn();
    EXPECT_EQ(s.cpu->getPC(), 0x06006000u);
    EXPECT_EQ(s.cpu->r(15), 0x06001000u);
    EXPECT_EQ(s.cpu->vbr(), 0x06000400u);
    s.ram.setLong(0x060002AC, 0x06002000);
    s.cpu->doReset(false);
    EXPECT_EQ(s.cpu->r(15), 0x06002000u);
    EXPECT_EQ(s.cpu->bsc.bcr1 & 0x8000, 0x8000);
}

TEST_F(Sh2Core, StoppedProcessorConsumesTheSliceAndTimersStand)
{
    m.cpu->powerOff();
    m.code(kCode, {0x7101});
    EXPECT_EQ(m.run(100), 100u);
    EXPECT_EQ(m.cpu->r(1), 0u);
    EXPECT_EQ(m.cpu->frt.frc, 0);
}

TEST_F(Sh2Core, InterruptsAreTakenAtSliceStartAboveTheMask)
{
    vector(0x40, kHandler);
    countingHandler();
    m.code(kCode, {0xE0F0, 0x400E, kSelfLoop, kNop});  // mov #-16,r0 / ldc r0,sr: I = 15
    m.run(2);
    EXPECT_EQ(m.cpu->getFlag(2), 15);

    // Level 15 does not pass I = 15 and stays pending.
    m.cpu->requestInterrupt(0x40, 15);
    m.run(10);
    EXPECT_EQ(m.cpu->r(10), 0u);
    EXPECT_TRUE(m.cpu->hasPendingInterrupt());

    // Lowering I lets it in at the next slice start.
    m.cpu->setStatus(0x00000050);
    EXPECT_EQ(m.cpu->getFlag(2), 5);
    m.run(10);
    EXPECT_EQ(m.cpu->r(10), 1u);
    EXPECT_FALSE(m.cpu->hasPendingInterrupt());
    EXPECT_EQ(m.cpu->getFlag(2), 15);
    // Saved: the interrupted PC, then SR with I = 5.
    const u32 sp = m.cpu->r(15);
    EXPECT_EQ(m.ramLong(sp + 4), 0x50u);
    EXPECT_EQ(m.ramLong(sp), kCode + 4);
}

TEST_F(Sh2Core, NmiPassesAnyMaskAndLeavesIAt15)
{
    vector(SH2::kNmiVector, kHandler);
    countingHandler();
    m.code(kCode, {kSelfLoop, kNop});
    m.cpu->requestNmi();
    EXPECT_EQ(m.cpu->intc.icr & 0x8000, 0x8000);
    m.run(4);
    EXPECT_EQ(m.cpu->r(10), 1u);
    EXPECT_EQ(m.cpu->getFlag(2), 15);
}

TEST_F(Sh2Core, RequestAboveTheMaskCutsTheRunningSlice)
{
    // The divider's overflow interrupt is raised by a store in the middle
    // of the slice.
    m.cpu->setStatus(0);
    m.cpu->divu.dvcr = 2;
    m.cpu->divu.vcrdiv = 0x50;
    m.cpu->intc.ipra = 0x8000;
    vector(0x50, kHandler);
    countingHandler();
    // mov #-1,r1 ; shll8 r1 ; add #4,r1: DVDNT at 0xFFFFFF04, then mov.l r2,@r1.
    m.code(kCode, {0xE1FF, 0x4118, 0x7104, 0x2122, 0x7201, 0x7201, 0x7201, kSelfLoop, kNop});
    const u32 used = m.run(1000);
    EXPECT_EQ(used, 4u);  // the store ends the slice
    EXPECT_EQ(m.cpu->r(2), 0u);
    m.run(10);
    EXPECT_EQ(m.cpu->r(10), 1u);
    EXPECT_EQ(m.cpu->getFlag(2), 8);

    // Masked requests leave the slice whole.
    Sh2Machine q;
    q.boot(kCode);
    q.code(kCode, {kSelfLoop, kNop});
    q.cpu->requestInterrupt(0x41, 3);
    EXPECT_GE(q.run(100), 100u);
}

TEST_F(Sh2Core, LdcThatOpensTheMaskEndsTheSlice)
{
    vector(0x40, kHandler);
    countingHandler();
    m.cpu->requestInterrupt(0x40, 4);
    // mov #0,r0 ; ldc r0,sr ; add #1,r2 ...
    m.code(kCode, {0xE000, 0x400E, 0x7201, 0x7201, kSelfLoop, kNop});
    EXPECT_EQ(m.run(100), 2u);
    EXPECT_EQ(m.cpu->r(2), 0u);
    m.run(5);
    EXPECT_EQ(m.cpu->r(10), 1u);
}

TEST_F(Sh2Core, HookTrapAndAddressError)
{
    struct CountingHook : Hook {
        using Hook::Hook;
        bool onHook(Device* device) override
        {
            ++calls;
            static_cast<SH2*>(device)->setPC(0x06004100);
            return answer;
        }
        int calls = 0;
        bool answer = true;
    } hook("BIOS");
    m.cpu->attachHook(&hook);
    m.code(kCode, {0x0000});
    m.code(0x06004100, {0x7301, kSelfLoop, kNop});
    // The hook costs no clock, so the slice goes on where it left the PC.
    m.run(1);
    EXPECT_EQ(hook.calls, 1);
    EXPECT_EQ(m.cpu->getPC(), 0x06004102u);
    EXPECT_EQ(m.cpu->r(3), 1u);

    // No hook answers: SR and the opcode's address are pushed, vector 9.
    hook.answer = false;
    vector(9, kHandler);
    countingHandler();
    m.code(0x06004200, {0xFFFF});
    m.cpu->setPC(0x06004200);
    const u32 sp = m.cpu->r(15);
    EXPECT_EQ(m.run(1), 6u);
    EXPECT_EQ(m.cpu->getPC(), kHandler);
    EXPECT_EQ(m.cpu->r(15), sp - 8);
    EXPECT_EQ(m.ramLong(sp - 8), 0x06004200u);
    EXPECT_EQ(m.ramLong(sp - 4), m.cpu->getRegister(22));
    EXPECT_TRUE(log.contains("Address error, [PC: 06004200]"));
}

TEST_F(Sh2Core, IllegalInstructionsAndSlotIllegal)
{
    vector(4, kHandler);
    vector(6, 0x06008100);
    countingHandler();
    m.code(0x06008100, {0x7B01, kSelfLoop, kNop});
    m.code(kCode, {0xF000});
    EXPECT_EQ(m.run(1), 6u);
    EXPECT_EQ(m.cpu->getPC(), kHandler);
    EXPECT_EQ(m.ramLong(m.cpu->r(15)), kCode);
    EXPECT_TRUE(log.contains("OP: F000, DS: 0]"));

    // Undefined opcode in a slot: vector 6, the branch's address saved.
    m.code(0x06004300, {0xA010, 0xF000});
    m.cpu->setPC(0x06004300);
    m.run(1);
    EXPECT_EQ(m.cpu->getPC(), 0x06008100u);
    EXPECT_EQ(m.ramLong(m.cpu->r(15)), 0x06004300u);
    EXPECT_TRUE(log.contains("OP: F000, DS: 1]"));

    // A branch in a slot is slot illegal too: no second slot opens.
    m.code(0x06004400, {0xA010, 0xA010, 0x7C01});
    m.cpu->setPC(0x06004400);
    m.run(1);
    EXPECT_EQ(m.cpu->getPC(), 0x06008100u);
    EXPECT_EQ(m.cpu->r(12), 0u);
    EXPECT_EQ(m.ramLong(m.cpu->r(15)), 0x06004400u);
}

TEST_F(Sh2Core, FetchNeverLeavesItsPage)
{
    vector(9, kHandler);
    countingHandler();
    m.cpu->setThreshold(-1);
    // Running off the end of work RAM.
    m.code(Sh2Machine::kRamEnd - 1, {kNop});
    m.cpu->setPC(Sh2Machine::kRamEnd - 1);
    m.run(1);
    EXPECT_EQ(m.cpu->getPC(), Sh2Machine::kRamEnd + 1);
    m.run(1);
    EXPECT_EQ(m.cpu->getPC(), kHandler);
    EXPECT_EQ(m.ramLong(m.cpu->r(15)), Sh2Machine::kRamEnd + 1);

    // Branching backward below its start (bra -0x1000 from the first word).
    m.code(Sh2Machine::kRamBase, {0xA800, kNop});
    m.cpu->setPC(Sh2Machine::kRamBase);
    m.run(3);
    EXPECT_EQ(m.cpu->getPC(), Sh2Machine::kRamBase + 4 - 0x1000);
    m.run(1);
    EXPECT_EQ(m.cpu->getPC(), kHandler);
    EXPECT_EQ(m.ramLong(m.cpu->r(15)), Sh2Machine::kRamBase + 4 - 0x1000);

    // Jumping into a page nothing maps; the slot itself still runs.
    m.cpu->setR(1, 0x07000000);
    m.code(kCode, {0x412B, 0x7D01});
    m.cpu->setPC(kCode);
    m.run(3);
    EXPECT_EQ(m.cpu->getPC(), 0x07000000u);
    m.run(1);
    EXPECT_EQ(m.cpu->r(13), 1u);
    EXPECT_EQ(m.cpu->getPC(), kHandler);
    EXPECT_EQ(m.ramLong(m.cpu->r(15)), 0x07000000u);

    // An odd jump target fetches inside its page.
    m.cpu->setR(1, 0x0600FFFF);
    m.code(0x0600FFFE, {0x7E01});
    m.cpu->setPC(kCode);
    m.run(4);
    EXPECT_EQ(m.cpu->r(14), 1u);
}

// Within one slice, a run that goes on into the next page, a branch that
// lands there and a delay slot that lies there fetch through that page's
// own host memory: here the page after work RAM shows the RAM 128 KB in.
TEST_F(Sh2Core, FetchFollowsThePageItCrossesInto)
{
    constexpr u32 kNext = Sh2Machine::kRamEnd + 1;
    constexpr u32 kShown = 0x06020000;
    m.cpu->mapDirect({{kNext, kNext + 0xFFFF, m.ram.bytes.data() + (kShown - Sh2Machine::kRamBase)}});
    const auto run = [&](u32 pc) {
        m.cpu->setR(1, 0);
        m.cpu->setPC(pc);
        m.run(40);
        return m.cpu->r(1);
    };
    // Straight on: add #1,r1 ; add #1,r1 | add #16,r1 ; bra . ; nop
    m.code(kNext - 4, {0x7101, 0x7101});
    m.code(kShown, {0x7110, kSelfLoop, kNop});
    EXPECT_EQ(run(kNext - 4), 18u);
    EXPECT_EQ(m.cpu->getPC(), kNext + 2);
    // A taken BT: sett ; bt 1f | (at +4) 1: add #32,r1 ; bra . ; nop
    m.code(kNext - 4, {0x0018, 0x8901});
    m.code(kShown + 4, {0x7120, kSelfLoop, kNop});
    EXPECT_EQ(run(kNext - 4), 32u);
    EXPECT_EQ(m.cpu->getPC(), kNext + 6);
    // A slot, and back: (at -16) 1: bra . ; nop ... (at -2) bra 1b | add #64,r1
    m.code(kNext - 16, {kSelfLoop, kNop});
    m.code(kNext - 2, {0xAFF7});
    m.code(kShown, {0x7140});
    EXPECT_EQ(run(kNext - 2), 64u);
    EXPECT_EQ(m.cpu->getPC(), kNext - 16);
}

TEST_F(Sh2Core, StoresIntoTheInstructionStreamRunAsWritten)
{
    // Each mov.w rewrites a later nop: the first the next instruction, the
    // second the delay slot of the bra after it.
    m.cpu->setR(1, 0x7305);  // add #5,r3
    m.cpu->setR(2, kCode + 2);
    m.cpu->setR(5, 0x7407);  // add #7,r4
    m.cpu->setR(6, kCode + 8);
    m.code(kCode, {0x2211, kNop, 0x2651, 0xA000, kNop, kSelfLoop, kNop});
    m.run(20);
    EXPECT_EQ(m.cpu->r(3), 5u);
    EXPECT_EQ(m.cpu->r(4), 7u);
    EXPECT_EQ(m.cpu->getPC(), kCode + 10);
}

TEST_F(Sh2Core, ClocksChargedByABusAccessCountInTheSlice)
{
    // A read that costs five wait clocks on top of the load's own one.
    struct Slow {
        static u32 rl(void* o, CPU* cpu, u32) { cpu->charge(5); return *static_cast<u32*>(o); }
    };
    u32 value = 0x12345678;
    AccessHandlers h{&value};
    h.readLong = Slow::rl;
    m.cpu->mapWindows({{0x05000000, 0x0500FFFF, h}});
    m.cpu->setR(1, 0x05000000);
    m.code(kCode, {0x6012, 0x7201});  // mov.l @r1,r0 ; add #1,r2
    EXPECT_EQ(m.run(6), 6u);
    EXPECT_EQ(m.cpu->r(0), 0x12345678u);
    EXPECT_EQ(m.cpu->r(2), 0u);
}

TEST_F(Sh2Core, DelaySlots)
{
    // bra +4 with mov.l @(disp,pc) in its slot: the slot's base is target + 2.
    const u32 target = kCode + 4 + 4 * 2;  // 0x0600400C
    m.code(kCode, {0xA004, 0xD101});
    m.code(target, {kSelfLoop, kNop});
    m.ram.setLong(((target + 2) & ~3u) + 4, 0x11111111);
    // One clock: the branch empties the budget, the slot still runs.
    EXPECT_EQ(m.run(1), 3u);
    EXPECT_EQ(m.cpu->r(1), 0x11111111u);
    EXPECT_EQ(m.cpu->getPC(), target);

    // bsr sets PR to after the slot; rts comes back there.
    m.code(0x06004100, {0xB00E, 0x7301, 0x7302});
    m.code(0x06004100 + 4 + 0x1C, {0x000B, 0x7304});
    m.cpu->setPC(0x06004100);
    m.cpu->setR(3, 0);
    m.run(2);
    EXPECT_EQ(m.cpu->pr(), 0x06004104u);
    m.run(2);
    EXPECT_EQ(m.cpu->getPC(), 0x06004104u);
    m.run(1);
    EXPECT_EQ(m.cpu->r(3), 7u);
}

TEST_F(Sh2Core, PostIncrementIntoItsOwnRegister)
{
    m.ram.setLong(0x06010000, 0xDEADBEEF);
    m.cpu->setR(3, 0x06010000);
    m.code(kCode, {0x6336});  // mov.l @r3+,r3
    m.run(1);
    EXPECT_EQ(m.cpu->r(3), 0xDEADBEEFu);
}

TEST_F(Sh2Core, SleepAndStandby)
{
    m.code(kCode, {0x001B});
    EXPECT_EQ(m.run(50), 50u);
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuSleep);
    EXPECT_EQ(m.cpu->getPC(), kCode);
    EXPECT_TRUE(log.contains("SLEEP<SLEEP> [PC: 06004000]"));
    EXPECT_EQ(m.run(50), 50u);
    EXPECT_EQ(m.cpu->getPC(), kCode);

    // powerOn of a sleeping processor wakes it without a reset.
    m.cpu->setR(5, 55);
    m.cpu->powerOn();
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuRunning);
    EXPECT_EQ(m.cpu->r(5), 55u);
    EXPECT_TRUE(log.contains("Cancel Standby mode Power on reset"));

    // Standby: only the NMI leaves it; other interrupts are taken inside.
    m.cpu->pmu.sbycr = 0x80;
    m.cpu->setStatus(0);
    vector(0x40, kHandler);
    m.code(kHandler, {0x7A01, 0x002B, kNop});  // add #1,r10 ; rte
    m.run(10);
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuStandby);
    m.cpu->requestInterrupt(0x40, 5);
    m.run(10);
    EXPECT_EQ(m.cpu->r(10), 1u);
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuStandby);
    vector(SH2::kNmiVector, kHandler);
    m.cpu->requestNmi();
    m.run(1);
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuRunning);
    EXPECT_TRUE(log.contains("Cancel Standby mode by NMI"));
}

TEST_F(Sh2Core, DebuggerRegistersAndStatus)
{
    m.cpu->setStatus(0xFFFF);
    EXPECT_EQ(m.cpu->getStatus(), 0x3F3u);
    EXPECT_EQ(m.cpu->getFlag(2), 15);
    EXPECT_EQ(m.cpu->getFlag(4), 1);
    m.cpu->setRegister(22, 0x0001);
    EXPECT_EQ(m.cpu->getFlag(0), 1);
    EXPECT_EQ(m.cpu->getFlag(2), 0);
    EXPECT_EQ(m.cpu->getRegister(23), 0u);
    EXPECT_EQ(m.cpu->getRegister(-1), 0u);
    m.cpu->setFlag(2, 7);
    EXPECT_EQ(m.cpu->getRegister(22), 0x71u);

    // The written SR is what the program then sees.
    m.cpu->setStatus(0x0301);
    m.code(kCode, {0x0002});  // stc sr,r0
    m.run(1);
    EXPECT_EQ(m.cpu->r(0), 0x0301u);

    m.ram.setWord(kCode, 0x000B);
    u32 length = 0;
    const u8* bytes = m.cpu->getOpcodeBytes(kCode, length);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x0B);
    EXPECT_EQ(m.cpu->getInstructionType(kCode), CPU::kReturn);
    m.ram.setWord(kCode, 0x002B);
    EXPECT_EQ(m.cpu->getInstructionType(kCode), CPU::kReturnFromException);
    m.ram.setWord(kCode, 0x8B00);
    EXPECT_FALSE(m.cpu->hasDelaySlot(kCode));
    m.ram.setWord(kCode, 0x8F00);
    EXPECT_TRUE(m.cpu->hasDelaySlot(kCode));
}

TEST_F(Sh2Core, DirectRangesMustCoverWholePages)
{
    // A 4 KB memory cannot back a 64 KB fetch page: it is refused and the
    // page keeps fetching the trap opcode.
    std::vector<u8> small(0x1000, 0x00);
    m.cpu->mapDirect({{0x05000000, 0x05000FFF, small.data()}});
    EXPECT_TRUE(log.contains("Direct range not page aligned [S: 05000000, E: 05000FFF]"));
    vector(9, kHandler);
    countingHandler();
    m.cpu->setPC(0x05000FFE);
    m.run(1);
    EXPECT_EQ(m.cpu->getPC(), kHandler);
}

TEST_F(Sh2Core, WindowsAndDirectPagesAreMirroredInTheCacheThroughArea)
{
    m.ram.setLong(0x06000040, 0x12345678);
    EXPECT_EQ(m.cpu->readLong(0x26000040), 0x12345678u);
    m.code(kCode, {0x7201});
    m.cpu->setPC(0x26004000);
    m.run(1);
    EXPECT_EQ(m.cpu->r(2), 1u);
}

// A breakpoint stops the machine's slice loop, as the debugger uses it.
TEST(Sh2SliceLoop, BreakpointStopsTheMachineAndResumes)
{
    scheduler().clear();
    debugBreak = sliceResume = debugStopped = 0;
    Sh2Machine m;
    m.boot(kCode);
    m.cpu->setFrequency(28636363);
    m.code(kCode, {0x7101, 0xAFFD, kNop});  // add #1,r1 ; bra back
    {
        CMachine machine("SYSTEM");
        machine.addSlicedDevice(m.cpu.get());
        machine.powerOn();
        m.cpu->setBreakpoint(kCode, 1000);
        for (int i = 0; i < 5 && !debugStopped; ++i)
            machine.runFrame();
        EXPECT_EQ(debugStopped, 1);
        EXPECT_EQ(m.cpu->getPC(), kCode);
        EXPECT_GE(m.cpu->r(1), 999u);
        EXPECT_LE(m.cpu->r(1), 1000u);
        const u32 stoppedAt = m.cpu->r(1);
        m.cpu->removeBreakpoint(kCode);
        debugBreak = debugStopped = 0;
        machine.runFrame();
        EXPECT_GT(m.cpu->r(1), stoppedAt);
        // Off again, so the log counts no emulated seconds for the tests after.
        machine.powerOff();
    }
    scheduler().clear();
    debugBreak = sliceResume = debugStopped = 0;
}

}  // namespace
