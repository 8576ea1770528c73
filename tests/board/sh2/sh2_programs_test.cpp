// Assembled programs run on the test machine; each records its results in
// work RAM and the test checks them against host arithmetic.

#include <gtest/gtest.h>

#include <random>

#include "core/base/shared_state.h"
#include "sh2_machine.h"

namespace {

constexpr u32 kTable = 0x06010000;
constexpr u32 kResults = 0x06020000;
constexpr u32 kDone = 0x0601FFF0;

struct Sh2Programs : ::testing::Test {
    Sh2Machine m;
    void SetUp() override { m.cpu->setThreshold(0); }
    void load(const char* name) { ASSERT_TRUE(m.loadAndBoot(name)) << name; }
    // Runs slices until the program marks itself done.
    void runToDone(u32 maxSlices = 2000)
    {
        for (u32 i = 0; i < maxSlices && m.ramLong(kDone) == 0; ++i)
            m.run(1000);
        ASSERT_EQ(m.ramLong(kDone), 1u);
    }
    u32 result(u32 index) const { return m.ramLong(kResults + index * 4); }
};

TEST_F(Sh2Programs, StepDivisionMatchesHostDivision)
{
    load("sh2_div");
    std::mt19937 rng(12345);
    std::vector<std::pair<u32, u32>> pairs = {
        {100, 7}, {0xFFFFFFFF, 1}, {0xFFFFFFFF, 0xFFFFFFFF}, {static_cast<u32>(-100), 7}, {100, static_cast<u32>(-7)},
        {static_cast<u32>(-100), static_cast<u32>(-7)}, {0x80000000, 2}, {0x7FFFFFFF, 0x80000000}, {0, 5}, {5, 6},
    };
    while (pairs.size() < 400) {
        u32 a = rng(), b = rng() >> (rng() % 32);
        if (b == 0 || (a == 0x80000000 && b == 0xFFFFFFFF))
            continue;
        pairs.push_back({a, b});
    }
    m.ram.setLong(kTable, static_cast<u32>(pairs.size()));
    for (size_t i = 0; i < pairs.size(); ++i) {
        m.ram.setLong(kTable + 4 + i * 8, pairs[i].first);
        m.ram.setLong(kTable + 8 + i * 8, pairs[i].second);
    }
    runToDone();
    for (size_t i = 0; i < pairs.size(); ++i) {
        const auto [a, b] = pairs[i];
        EXPECT_EQ(result(i * 2), a / b) << std::hex << a << " / " << b;
        EXPECT_EQ(static_cast<s32>(result(i * 2 + 1)), static_cast<s32>(a) / static_cast<s32>(b))
            << std::hex << a << " / " << b;
    }
}

TEST_F(Sh2Programs, CarryChainsAndLongProductsMatchHost)
{
    load("sh2_arith");
    std::mt19937_64 rng(777);
    std::vector<std::pair<u64, u64>> pairs = {
        {0, 0}, {~0ull, 1}, {1, ~0ull}, {0x8000000000000000ull, 0x8000000000000000ull}, {0, 1}, {1, 0},
        {0xFFFFFFFFull, 1}, {0x100000000ull, 1}, {0x7FFFFFFF80000000ull, 0x80000000FFFFFFFFull},
    };
    while (pairs.size() < 300)
        pairs.push_back({rng(), rng()});
    m.ram.setLong(kTable, static_cast<u32>(pairs.size()));
    for (size_t i = 0; i < pairs.size(); ++i) {
        const u32 at = kTable + 4 + static_cast<u32>(i) * 16;
        m.ram.setLong(at, static_cast<u32>(pairs[i].first >> 32));
        m.ram.setLong(at + 4, static_cast<u32>(pairs[i].first));
        m.ram.setLong(at + 8, static_cast<u32>(pairs[i].second >> 32));
        m.ram.setLong(at + 12, static_cast<u32>(pairs[i].second));
    }
    runToDone();
    auto wide = [&](u32 index) { return u64{result(index)} << 32 | result(index + 1); };
    for (size_t i = 0; i < pairs.size(); ++i) {
        const auto [a, b] = pairs[i];
        const u32 r = static_cast<u32>(i) * 13;
        EXPECT_EQ(wide(r), a + b);
        EXPECT_EQ(result(r + 2), (a + b) < a ? 1u : 0u);
        EXPECT_EQ(wide(r + 3), a - b);
        EXPECT_EQ(result(r + 5), a < b ? 1u : 0u);
        EXPECT_EQ(wide(r + 6), 0 - a);
        EXPECT_EQ(result(r + 8), a != 0 ? 1u : 0u);
        const s64 signedProduct = s64{static_cast<s32>(a)} * s64{static_cast<s32>(b)};
        EXPECT_EQ(wide(r + 9), static_cast<u64>(signedProduct));
        EXPECT_EQ(wide(r + 11), u64{static_cast<u32>(a)} * u64{static_cast<u32>(b)});
    }
}

TEST_F(Sh2Programs, MacSaturationBoundaries)
{
    load("sh2_mac");
    struct Case {
        u32 mach, macl;
        bool s;
        bool longForm;
        s32 a, b;
        u32 wantMach, wantMacl;
    };
    const Case cases[] = {
        // mac.w without S: a plain 64-bit sum.
        {0x00000000, 0x7FFFFFFF, false, false, 2, 3, 0x00000000, 0x80000005},
        {0xFFFFFFFF, 0xFFFFFFFF, false, false, -1, 1, 0xFFFFFFFF, 0xFFFFFFFE},
        // mac.w with S: MACL saturates at 32 bits, MACH stays.
        {0x12345678, 0x7FFFFFF0, true, false, 0x10, 0x10, 0x12345678, 0x7FFFFFFF},
        {0x12345678, 0x7FFFFFEF, true, false, 0x10, 0x1, 0x12345678, 0x7FFFFFFF},
        {0x12345678, 0x7FFFFFEE, true, false, 0x10, 0x1, 0x12345678, 0x7FFFFFFE},
        {0x00000000, 0x80000010, true, false, -0x10, 0x10, 0x00000000, 0x80000000},
        {0x00000000, 0x80000010, true, false, -0x10, 0x1, 0x00000000, 0x80000000},
        {0x00000000, 0x80000011, true, false, -0x10, 0x1, 0x00000000, 0x80000001},
        {0x00000000, 0x3FFFFFFF, true, false, -32768, -32768, 0x00000000, 0x7FFFFFFF},
        {0x00000000, 0x40000000, true, false, -32768, -32768, 0x00000000, 0x7FFFFFFF},
        // mac.l without S: a plain 64-bit sum that may wrap.
        {0x7FFFFFFF, 0xFFFFFFFF, false, true, 1, 1, 0x80000000, 0x00000000},
        {0x00000000, 0x00000000, false, true, 0x7FFFFFFF, 0x7FFFFFFF, 0x3FFFFFFF, 0x00000001},
        // mac.l with S: the 48-bit range.
        {0x00007FFF, 0xFFFFFFF0, true, true, 0xF, 1, 0x00007FFF, 0xFFFFFFFF},
        {0x00007FFF, 0xFFFFFFF0, true, true, 0x10, 1, 0x00007FFF, 0xFFFFFFFF},
        {0x00007FFF, 0xFFFFFFF0, true, true, 0x7FFFFFFF, 0x7FFFFFFF, 0x00007FFF, 0xFFFFFFFF},
        {0xFFFF8000, 0x00000010, true, true, -0x10, 1, 0xFFFF8000, 0x00000000},
        {0xFFFF8000, 0x00000010, true, true, -0x11, 1, 0xFFFF8000, 0x00000000},
        {0xFFFF8000, 0x00000010, true, true, -0xF, 1, 0xFFFF8000, 0x00000001},
        // A negative running sum stays negative.
        {0xFFFFFFFF, 0xFFFFFFFF, true, true, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF},
        {0xFFFFFFFF, 0xFFFFFFF0, true, true, 2, 4, 0xFFFFFFFF, 0xFFFFFFF8},
    };
    constexpr u32 kCount = sizeof cases / sizeof cases[0];
    m.ram.setLong(kTable, kCount);
    for (u32 i = 0; i < kCount; ++i) {
        const Case& c = cases[i];
        const u32 at = kTable + 4 + i * 24;
        m.ram.setLong(at, c.mach);
        m.ram.setLong(at + 4, c.macl);
        m.ram.setLong(at + 8, c.s ? 2 : 0);
        m.ram.setLong(at + 12, c.longForm ? 1 : 0);
        if (c.longForm) {
            m.ram.setLong(at + 16, static_cast<u32>(c.a));
            m.ram.setLong(at + 20, static_cast<u32>(c.b));
        } else {
            m.ram.setWord(at + 16, static_cast<u16>(c.a));
            m.ram.setWord(at + 20, static_cast<u16>(c.b));
        }
    }
    runToDone();
    for (u32 i = 0; i < kCount; ++i) {
        EXPECT_EQ(result(i * 2), cases[i].wantMach) << "case " << i;
        EXPECT_EQ(result(i * 2 + 1), cases[i].wantMacl) << "case " << i;
    }
}

TEST_F(Sh2Programs, ExceptionsAndRte)
{
    load("sh2_exceptions");
    const u32 afterTrap = m.ramLong(Sh2Machine::kProgramBase + 4);
    const u32 illegalOp = m.ramLong(Sh2Machine::kProgramBase + 8);
    const u32 slotBranch = m.ramLong(Sh2Machine::kProgramBase + 12);
    for (int i = 0; i < 20 && result(9) == 0; ++i)
        m.run(100);
    ASSERT_EQ(result(9), 1u);
    EXPECT_EQ(result(0), afterTrap);  // trapa saves the address after it
    EXPECT_EQ(result(1), 0x001u);     // the SR of the moment: T set, I = 0
    EXPECT_EQ(result(6), 0x001u);     // trapa leaves I alone
    EXPECT_EQ(result(2), 1u);         // rte restored T
    EXPECT_EQ(result(3), 0x001u);
    EXPECT_EQ(result(4), illegalOp);
    EXPECT_EQ(result(5), 0x5Au);
    EXPECT_EQ(result(7), slotBranch);
    EXPECT_EQ(result(8), 0x66u);
}

TEST_F(Sh2Programs, SleepWokenByAnInterrupt)
{
    load("sh2_sleep");
    m.run(100);
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuSleep);
    const u32 sleepAt = m.cpu->getPC();
    EXPECT_EQ(m.run(100), 100u);
    EXPECT_EQ(result(0), 0u);

    m.cpu->requestInterrupt(0x40, 8);
    m.run(100);
    EXPECT_EQ(result(0), 1u);
    EXPECT_EQ(result(2), sleepAt);  // the saved PC is the SLEEP itself
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuSleep);
    EXPECT_EQ(m.cpu->getPC(), sleepAt);
    EXPECT_EQ(result(1), 0u);

    m.cpu->requestInterrupt(0x40, 8);
    m.run(100);
    EXPECT_EQ(result(0), 2u);
    EXPECT_EQ(result(1), 1u);
    EXPECT_EQ(m.cpu->cpuState(), SH2::kCpuRunning);
}

TEST_F(Sh2Programs, ClocksOfAKnownMix)
{
    load("sh2_clocks");
    const u32 end = m.ramLong(Sh2Machine::kProgramBase + 4);
    m.cpu->setBreakpoint(end);
    debugBreak = 0;
    EXPECT_EQ(m.run(1000), 34u);
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(m.cpu->getPC(), end);
    debugBreak = 0;
    m.cpu->removeBreakpoint(end);

    // The FRT counted the same clocks: one tick per 8.
    EXPECT_EQ(m.cpu->frt.frc, 34 / 8);
    EXPECT_EQ(m.cpu->frt.remainder, 34u % 8);
}

TEST_F(Sh2Programs, DebuggerSteps)
{
    load("sh2_steps");
    u32 label[8];
    for (int i = 0; i < 8; ++i)
        label[i] = m.ramLong(Sh2Machine::kProgramBase + 4 + i * 4);
    const u32 main = label[0], call1 = label[1], after1 = label[2], sub = label[3], call2 = label[4],
              after2 = label[5], sub2 = label[6], ret1 = label[7];
    SH2& cpu = *m.cpu;
    auto step = [&](void (CPU::*how)()) {
        (cpu.*how)();
        EXPECT_TRUE(cpu.debugSwitch());
        debugBreak = 0;
        m.run(1000);
        EXPECT_EQ(debugBreak, 1);
        debugBreak = 0;
        return cpu.getPC();
    };
    EXPECT_EQ(step(&CPU::stepInto), main);  // over the first bra
    EXPECT_EQ(step(&CPU::stepInto), call1);
    EXPECT_EQ(cpu.getInstructionType(call1), CPU::kCall);
    EXPECT_EQ(cpu.getBranchTarget(call1), sub);
    EXPECT_TRUE(cpu.hasDelaySlot(call1));
    EXPECT_EQ(step(&CPU::stepInto), sub);
    EXPECT_EQ(step(&CPU::stepInto), sub + 2);
    EXPECT_EQ(step(&CPU::stepInto), call2);
    EXPECT_EQ(step(&CPU::stepInto), sub2);
    // Out of sub2 to its caller, then out of sub to main.
    EXPECT_EQ(step(&CPU::stepOut), after2);
    EXPECT_EQ(cpu.r(2), 4u);
    EXPECT_EQ(cpu.getInstructionType(ret1), CPU::kReturn);
    EXPECT_EQ(step(&CPU::stepOut), after1);
    EXPECT_EQ(cpu.r(3), 0u);
    EXPECT_FALSE(cpu.debugSwitch());

    // Step over runs the whole nested call and stops behind its slot.
    m.cpu->setR(2, 0);
    m.cpu->setPC(main);
    cpu.setBreakpoint(call2);
    debugBreak = 0;
    m.run(1000);
    ASSERT_EQ(cpu.getPC(), call2);
    cpu.removeBreakpoint(call2);
    EXPECT_EQ(step(&CPU::stepOver), after2);
    EXPECT_EQ(cpu.r(2), 4u);
    EXPECT_EQ(step(&CPU::stepInto), ret1);
    EXPECT_EQ(cpu.getBranchTarget(ret1), after1);
}

}  // namespace

// TOCR bit 4 moves offsets 0x14/0x15 to OCRB, so setting compare B leaves
// compare A's value alone and both compares match at their own counts.
TEST_F(Sh2Programs, TocrSelectsTheSecondCompareRegister)
{
    load("sh2_frt_tocr");
    runToDone();
    EXPECT_EQ(result(0), 0xF3u) << "select and output levels kept, bits 7-5 read as ones";
    EXPECT_EQ(result(1), 0x0040u) << "OCRB";
    EXPECT_EQ(result(2), 0xE0u);
    EXPECT_EQ(result(3), 0x0100u) << "OCRA kept its value";
    EXPECT_EQ(result(4) & 0x0C, 0x04u) << "compare B before compare A";
    EXPECT_GE(result(5), 0x0040u);
    EXPECT_LT(result(5), 0x0100u);
    EXPECT_EQ(result(6) & 0x0C, 0x0Cu);
    EXPECT_EQ(m.cpu->frt.ocra, 0x0100);
    EXPECT_EQ(m.cpu->frt.ocrb, 0x0040);
}
