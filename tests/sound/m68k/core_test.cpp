// The core: reset, exceptions, interrupts, the RESET and STOP paths, the
// bus's default handlers and the fetch window at the edges of memory.

#include <gtest/gtest.h>

#include "m68k_testbench.h"
#include "support/log_capture.h"

namespace {

constexpr u32 kCode = 0x1000;
constexpr u32 kStack = 0x7F000;

// Vector n points to 0x4000 + 0x10 * n, where a BRA.S * parks the CPU.
void installVectors(M68kTestBench& b)
{
    for (u32 n = 2; n < 64; ++n) {
        b.poke32(n * 4, 0x4000 + 0x10 * n);
        b.poke16(0x4000 + 0x10 * n, 0x60FE);
    }
}

u32 handlerOf(u32 vector) { return 0x4000 + 0x10 * vector; }

struct M68kCore : ::testing::Test {
    M68kTestBench b;
    M68K& cpu = *b.cpu;
    void SetUp() override
    {
        scheduler().clear();
        installVectors(b);
        b.start(kCode, kStack);
    }
    void TearDown() override { scheduler().clear(); }
};

}  // namespace

TEST_F(M68kCore, ResetLoadsStackAndPcFromTheFirstTwoLongs)
{
    b.poke32(0, 0x00070000);
    b.poke32(4, 0x00000400);
    cpu.setD(3, 5);
    cpu.setA(2, 7);
    cpu.setSR(0x0015);
    cpu.switchOn();
    EXPECT_EQ(cpu.sr(), 0x2700);
    EXPECT_EQ(cpu.a(7), 0x00070000u);
    EXPECT_EQ(cpu.pc(), 0x400u);
    EXPECT_EQ(cpu.d(3), 0u);
    EXPECT_EQ(cpu.a(2), 0u);
    EXPECT_EQ(cpu.usp(), 0u);
    EXPECT_EQ(cpu.runState(), u32{kRunning});
}

TEST_F(M68kCore, IllegalOpcodesTakeVectorFourWithTheFollowingWordStacked)
{
    for (u16 op : {u16{0x4AFC}, u16{0x4E74}, u16{0x0E00}}) {
        LogCapture log;
        b.code(kCode, {op});
        b.start(kCode, kStack, 0x2704);
        EXPECT_EQ(b.step(), 34u);
        char line[80];
        std::snprintf(line, sizeof(line), "M68K: Illegal instruction, [PC: %08X, OP: %04X]", kCode + 2, op);
        EXPECT_TRUE(log.contains(line)) << log.text();
        EXPECT_EQ(cpu.pc(), handlerOf(4));
        EXPECT_EQ(cpu.a(7), kStack - 6);
        EXPECT_EQ(b.peek16(kStack - 6), 0x2704);
        EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
    }
}

TEST_F(M68kCore, LineAAndLineFTakeTheirVectorsSilently)
{
    const struct {
        u16 op;
        u32 vector;
    } cases[] = {{0xA123, 10}, {0xF000, 11}};
    for (const auto& c : cases) {
        LogCapture log;
        b.code(kCode, {c.op});
        b.start(kCode, kStack);
        EXPECT_EQ(b.step(), 34u);
        EXPECT_EQ(cpu.pc(), handlerOf(c.vector));
        EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
        EXPECT_EQ(log.text(), "");
    }
}

TEST_F(M68kCore, ExceptionFromUserModeStacksSAndRteReturnsToTheUserStack)
{
    // TRAP #0 in user mode; the handler is RTE.
    b.code(kCode, {0x4E40, 0x4E71});
    b.code(handlerOf(32), {0x4E73});
    cpu.setUsp(0x6000);
    cpu.setSsp(kStack);
    cpu.setSR(0x0011);  // user, X and C
    cpu.setPc(kCode);
    EXPECT_EQ(b.step(), 34u);
    EXPECT_EQ(cpu.sr() & 0x2000, 0x2000);
    EXPECT_EQ(b.peek16(kStack - 6), 0x0011);
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
    EXPECT_EQ(cpu.usp(), 0x6000u);
    EXPECT_EQ(b.step(), 20u);
    EXPECT_EQ(cpu.sr(), 0x0011);
    EXPECT_EQ(cpu.a(7), 0x6000u);
    EXPECT_EQ(cpu.ssp(), kStack);
    EXPECT_EQ(cpu.pc(), kCode + 2);
}

TEST_F(M68kCore, InterruptsAreTakenByLevelAtSliceStartsOnly)
{
    b.code(kCode, {0x4E71, 0x4E71, 0x4E71, 0x4E71});
    b.start(kCode, kStack, 0x2700);
    cpu.raiseInterrupt(7);
    EXPECT_EQ(b.step(), 4u);  // a level-7 request waits while the mask is 7
    EXPECT_TRUE(cpu.hasPendingInterrupt());
    cpu.clearInterrupts();

    b.start(kCode, kStack, 0x2200);
    cpu.raiseInterrupt(3);
    cpu.raiseInterrupt(5);
    cpu.raiseInterrupt(5);  // already pending: not queued twice
    EXPECT_EQ(cpu.pendingInterrupts().size(), 2u);
    EXPECT_EQ(b.step(), 44u);  // the entry spends the budget; nothing else runs
    EXPECT_EQ(cpu.pc(), handlerOf(29));
    EXPECT_EQ(cpu.sr(), 0x2500);
    EXPECT_EQ(b.peek16(kStack - 6), 0x2200);
    EXPECT_EQ(b.peek32(kStack - 4), kCode);
    ASSERT_EQ(cpu.pendingInterrupts().size(), 1u);
    EXPECT_EQ(cpu.topInterrupt().level, 3);
    b.step();
    EXPECT_EQ(cpu.pendingInterrupts().size(), 1u);  // level 3 is below the mask of 5
    cpu.setSR(0x2000);
    b.step();
    EXPECT_EQ(cpu.pc(), handlerOf(27));
    EXPECT_FALSE(cpu.hasPendingInterrupt());
}

// A branch to itself spends the slice in whole taken turns of ten clocks,
// where running them ends; one not taken falls through in eight.
TEST_F(M68kCore, BranchToItselfSpendsTheSliceInWholeTurns)
{
    for (u16 op : {u16{0x60FE}, u16{0x66FE}}) {  // BRA.S *, and BNE.S * with Z clear
        for (u32 budget : {1u, 9u, 10u, 11u, 20u, 995u, 1000u, 1001u}) {
            b.code(kCode, {op});
            b.start(kCode, kStack, 0x2700);
            EXPECT_EQ(b.run(budget), (budget + 9) / 10 * 10) << std::hex << op << std::dec << " " << budget;
            EXPECT_EQ(cpu.pc(), kCode);
        }
    }
    b.code(kCode, {0x67FE, 0x4E71});  // BEQ.S * with Z clear
    b.start(kCode, kStack, 0x2700);
    EXPECT_EQ(b.step(), 8u);
    EXPECT_EQ(cpu.pc(), kCode + 2);
}

TEST_F(M68kCore, InterruptWithoutBudgetIsStillTakenAndNothingRuns)
{
    b.code(kCode, {0x4E71});
    b.start(kCode, kStack, 0x2000);
    cpu.raiseInterrupt(2);
    EXPECT_EQ(b.run(0), 44u);
    EXPECT_EQ(cpu.pc(), handlerOf(26));
}

TEST_F(M68kCore, ZeroAutovectorFallsBackToVectorFifteen)
{
    b.poke32(4 * 28, 0);
    b.code(kCode, {0x4E71});
    b.start(kCode, kStack, 0x2000);
    cpu.raiseInterrupt(4);
    b.run(0);
    EXPECT_EQ(cpu.pc(), handlerOf(15));
    EXPECT_EQ(cpu.sr(), 0x2400);
}

TEST_F(M68kCore, RequestRaisedByAnInstructionEndsTheSlice)
{
    // A register page that raises level 5 when written, like the sound chip.
    AccessHandlers chip = cpu.pageMap()->page(0x100000);
    chip.owner = &cpu;
    chip.writeWord = [](void* owner, CPU*, u32, u16) { static_cast<M68K*>(owner)->raiseInterrupt(5); };
    cpu.mapWindows({MemoryMapWindow{0x100000, 0x10FFFF, chip}});
    // MOVE.W D0,(0x100000).L, then NOPs.
    b.code(kCode, {0x33C0, 0x0010, 0x0000, 0x4E71, 0x4E71, 0x4E71});
    b.start(kCode, kStack, 0x2000);
    EXPECT_EQ(b.run(1000), 16u);
    EXPECT_EQ(cpu.pc(), kCode + 6);
    EXPECT_TRUE(cpu.hasPendingInterrupt());
    b.run(0);
    EXPECT_EQ(cpu.pc(), handlerOf(29));
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 6);
}

TEST_F(M68kCore, LoweringTheMaskEndsTheSliceAndTheRequestFollows)
{
    // ANDI #$F8FF,SR; NOP
    b.code(kCode, {0x027C, 0xF8FF, 0x4E71});
    b.start(kCode, kStack, 0x2700);
    cpu.raiseInterrupt(5);
    EXPECT_EQ(b.run(1000), 20u);
    EXPECT_EQ(cpu.sr(), 0x2000);
    EXPECT_EQ(cpu.pc(), kCode + 4);
    b.run(0);
    EXPECT_EQ(cpu.pc(), handlerOf(29));
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 4);
}

TEST_F(M68kCore, ResetOpcodeSwitchesOffAndRestartsAfterATenthOfASecond)
{
    LogCapture log;
    b.poke32(0, 0x00070000);
    b.poke32(4, 0x00002000);
    b.code(kCode, {0x4E70});
    b.start(kCode, kStack, 0x0000);  // user mode: no privilege violation
    // A cut every millisecond stands in for the machine's own events.
    scheduleCut(0, Scheduler::kForever, 1000000);
    u32 slice = 0;
    scheduler().run(slice);
    b.step();
    scheduler().advance();
    EXPECT_TRUE(log.contains("M68K: Incompatibility error (RESET), [PC: 00001002, OP: 4E70]")) << log.text();
    EXPECT_EQ(cpu.runState(), u32{kOff});
    ASSERT_EQ(scheduler().pendingCount(), 2);

    u64 elapsed = slice;
    for (int i = 0; i < 200 && cpu.runState() == kOff; ++i) {
        scheduler().run(slice);
        if (cpu.runState() != kOff)
            break;
        scheduler().advance();
        elapsed += slice;
    }
    EXPECT_EQ(cpu.runState(), u32{kRunning});
    EXPECT_EQ(elapsed, 100000000u);
    EXPECT_EQ(cpu.pc(), 0x2000u);
    EXPECT_EQ(cpu.a(7), 0x00070000u);
    EXPECT_EQ(cpu.sr(), 0x2700);
}

TEST_F(M68kCore, StopLoadsTheStatusLogsAndGoesOn)
{
    LogCapture log;
    b.code(kCode, {0x4E72, 0x2000, 0x4E71});
    b.start(kCode, kStack, 0x2700);
    EXPECT_EQ(b.step(), 4u);
    EXPECT_EQ(cpu.sr(), 0x2000);
    EXPECT_EQ(cpu.pc(), kCode + 4);
    EXPECT_TRUE(log.contains("M68K: STOP instruction not implemented!"));

    log.clear();
    b.start(kCode, kStack, 0x0000);
    cpu.setUsp(0x6000);
    EXPECT_EQ(b.step(), 34u);
    EXPECT_EQ(cpu.pc(), handlerOf(8));
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
    EXPECT_EQ(log.text(), "");
}

TEST_F(M68kCore, PrivilegedInstructionsTrapInUserModeBeforeReadingAnything)
{
    const std::initializer_list<u16> forms[] = {
        {0x46FC, 0x2700},  // MOVE #$2700,SR
        {0x40C0},          // MOVE SR,D0
        {0x027C, 0x0000},  // ANDI #0,SR
        {0x007C, 0x0700},  // ORI #$700,SR
        {0x0A7C, 0x2000},  // EORI #$2000,SR
        {0x4E60},          // MOVE A0,USP
        {0x4E68},          // MOVE USP,A0
        {0x4E73},          // RTE
    };
    for (const auto& words : forms) {
        b.code(kCode, words);
        cpu.setD(0, 0x12345678);
        cpu.setA(0, 0x1111);
        b.start(kCode, kStack, 0x0000);
        cpu.setUsp(0x6000);
        EXPECT_EQ(b.step(), 34u);
        EXPECT_EQ(cpu.pc(), handlerOf(8));
        EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
        EXPECT_EQ(b.peek16(kStack - 6), 0x0000);
        EXPECT_EQ(cpu.d(0), 0x12345678u);
        EXPECT_EQ(cpu.a(0), 0x1111u);
        EXPECT_EQ(cpu.usp(), 0x6000u);
    }
}

TEST_F(M68kCore, MoveUspAndSrInSupervisorMode)
{
    // MOVE A1,USP; MOVE USP,A2; MOVE SR,D0
    b.code(kCode, {0x4E61, 0x4E6A, 0x40C0});
    cpu.setA(1, 0xABCD0);
    cpu.setD(0, 0xFFFF0000);
    b.start(kCode, kStack, 0x2700);
    EXPECT_EQ(b.step(), 4u);
    EXPECT_EQ(cpu.usp(), 0xABCD0u);
    EXPECT_EQ(cpu.a(7), kStack);
    EXPECT_EQ(b.step(), 4u);
    EXPECT_EQ(cpu.a(2), 0xABCD0u);
    EXPECT_EQ(b.step(), 6u);
    EXPECT_EQ(cpu.d(0), 0xFFFF2700u);
}

TEST_F(M68kCore, UnmappedAccessesLogOrStaySilent)
{
    LogCapture log;
    // MOVE.W D0,($F800).W: 0xFFFFF800 is dropped silently.
    b.code(kCode, {0x31C0, 0xF800});
    b.step();
    EXPECT_EQ(log.text(), "");
    // MOVE.B D1,($00200000).L
    cpu.setD(1, 0x5A);
    b.code(kCode, {0x13C1, 0x0020, 0x0000});
    b.start(kCode, kStack);
    b.step();
    EXPECT_TRUE(log.contains("M68K: Bad WB [A: 00200000, D: 5A]")) << log.text();
    // MOVE.L ($00300000).L,D2
    cpu.setD(2, 0xFFFFFFFF);
    b.code(kCode, {0x2439, 0x0030, 0x0000});
    b.start(kCode, kStack);
    b.step();
    EXPECT_TRUE(log.contains("M68K: Bad RL [A: 00300000]")) << log.text();
    EXPECT_EQ(cpu.d(2), 0u);
}

TEST_F(M68kCore, AddressesUseTwentyFourLines)
{
    // JMP ($FF001100).L, where MOVE.L D0,($01000010).L waits.
    b.code(kCode, {0x4EF9, 0xFF00, 0x1100});
    b.code(0x1100, {0x23C0, 0x0100, 0x0010});
    cpu.setD(0, 0xCAFEF00D);
    b.step();
    EXPECT_EQ(cpu.pc(), 0x1100u);
    b.step();
    EXPECT_EQ(b.peek32(0x10), 0xCAFEF00Du);
}

// The sound memory array is exactly 512 KB; AddressSanitizer sees any read
// past it.
TEST_F(M68kCore, FetchNeverReadsPastTheEndOfMemory)
{
    // MOVE.L #$12345678,D0 with its last word beyond the array: the missing
    // bytes come from the empty page behind it.
    b.code(0x7FFFC, {0x203C, 0x1234});
    b.start(0x7FFFC, kStack);
    b.step();
    EXPECT_EQ(cpu.d(0), 0x12340000u);
    EXPECT_EQ(cpu.pc(), 0x80002u);

    // An instruction that ends on the last byte runs from memory as usual.
    b.code(0x7FFFA, {0x203C, 0xAAAA, 0x5555});
    b.start(0x7FFFA, kStack);
    b.step();
    EXPECT_EQ(cpu.d(0), 0xAAAA5555u);

    // Falling off the end runs the empty page (ORI.B #0,D0) and then wraps
    // at the top of the 24-bit space back into memory.
    b.code(0x7FFFE, {0x4E71});
    b.start(0x7FFFE, kStack);
    b.run(200);
    EXPECT_GT(cpu.pc(), 0x80000u);

    cpu.setD(1, 0);
    b.code(0, {0x5281, 0x60FC});  // ADDQ.L #1,D1; BRA.S back
    b.start(0xFFFFFC, kStack);
    b.run(100);
    EXPECT_LT(cpu.pc(), 0x10u);
    EXPECT_GT(cpu.d(1), 0u);
}

TEST_F(M68kCore, RelativeBranchAcrossTheEndIsSafe)
{
    // BRA.W to 0x80010, outside memory: zeros run there, nothing is read
    // from beyond the array.
    b.code(0x7FFF0, {0x6000, 0x001E});
    b.start(0x7FFF0, kStack);
    b.step();
    EXPECT_EQ(cpu.pc(), 0x80010u);
    b.step();
    EXPECT_EQ(cpu.pc(), 0x80014u);
}

TEST_F(M68kCore, RemappedMemoryIsFetchedFromTheNewBlock)
{
    b.code(kCode, {0x7001});  // MOVEQ #1,D0 in the first block
    b.step();
    EXPECT_EQ(cpu.d(0), 1u);
    std::vector<u8> other(0x80000);
    other[kCode] = 0x70;  // MOVEQ #7,D0
    other[kCode + 1] = 0x07;
    cpu.mapDirect({DirectMapping{0, 0x7FFFF, other.data()}});
    b.start(kCode, kStack);
    b.step();
    EXPECT_EQ(cpu.d(0), 7u);
}
