// Instruction behaviour where this 68000 fixes what the real chip leaves
// open, or where the single-step vectors do not look: the fixed undefined
// flags, the flags a CHK trap stacks, divide-by-zero details and the byte
// step of A7 in every operand position. Everything else is proven against
// the vectors.

#include <gtest/gtest.h>

#include "m68k_testbench.h"

namespace {

constexpr u32 kCode = 0x1000;
constexpr u32 kStack = 0x7F000;
constexpr u16 kX = 0x10, kN = 0x08, kZ = 0x04, kV = 0x02, kC = 0x01;

struct M68kFamily : ::testing::Test {
    M68kTestBench b;
    M68K& cpu = *b.cpu;

    void SetUp() override
    {
        for (u32 n = 2; n < 48; ++n)
            b.poke32(n * 4, 0x4000 + 0x10 * n);
    }
    // Loads the words at kCode, sets the CCR, runs one instruction.
    u32 run(std::initializer_list<u16> words, u16 ccr = 0)
    {
        b.code(kCode, words);
        b.start(kCode, kStack, static_cast<u16>(0x2700 | ccr));
        return b.step();
    }
    u16 ccr() const { return cpu.sr() & 0x1F; }
};

}  // namespace

TEST_F(M68kFamily, DecimalArithmeticFlagsIncludingTheFixedOnes)
{
    struct Case {
        u16 op;  // register form, D1 (source) into D0
        u8 d, s;
        u16 ccrIn;
        u8 result;
        u16 ccrOut;
    };
    const Case cases[] = {
        {0xC101, 0x45, 0x38, 0, 0x83, kN | kV},                 // ABCD: 45 + 38 = 83
        {0xC101, 0x99, 0x01, kZ, 0x00, kX | kZ | kC},           // carry out, Z kept
        {0xC101, 0x99, 0x99, kX, 0x99, kX | kN | kV | kC},      // 99 + 99 + 1
        {0x8101, 0x00, 0x01, 0, 0x99, kX | kN | kC},            // SBCD: 0 - 1
        {0x8101, 0x10, 0x01, 0, 0x09, 0},                       // 10 - 1
        {0x8101, 0x00, 0x00, kX | kZ, 0x99, kX | kN | kC},      // 0 - 0 - 1
    };
    for (const Case& c : cases) {
        cpu.setD(0, 0xABCDEF00 | c.d);
        cpu.setD(1, c.s);
        EXPECT_EQ(run({c.op}, c.ccrIn), 6u);
        EXPECT_EQ(cpu.d(0), 0xABCDEF00u | c.result) << std::hex << c.op << " " << int{c.d} << " " << int{c.s};
        EXPECT_EQ(ccr(), c.ccrOut) << std::hex << c.op << " " << int{c.d} << " " << int{c.s};
    }
    // NBCD D0
    const struct {
        u8 d;
        u16 ccrIn;
        u8 result;
        u16 ccrOut;
    } negations[] = {{0x00, kZ, 0x00, kZ}, {0x01, 0, 0x99, kX | kN | kC}, {0x50, 0, 0x50, kX | kV | kC}};
    for (const auto& n : negations) {
        cpu.setD(0, n.d);
        EXPECT_EQ(run({0x4800}, n.ccrIn), 6u);
        EXPECT_EQ(cpu.d(0) & 0xFF, n.result);
        EXPECT_EQ(ccr(), n.ccrOut) << std::hex << int{n.d};
    }
}

TEST_F(M68kFamily, DecimalChainKeepsZOnlyWhenEveryByteIsZero)
{
    // ABCD -(A0),-(A1) twice over two-byte numbers 0x0000 + 0x0000, then
    // 0x0100 + 0x0000.
    b.poke16(0x5000, 0x0000);
    b.poke16(0x5100, 0x0000);
    b.code(kCode, {0xC308, 0xC308});
    cpu.setA(0, 0x5002);
    cpu.setA(1, 0x5102);
    b.start(kCode, kStack, 0x2704);
    EXPECT_EQ(b.step(), 18u);
    b.step();
    EXPECT_TRUE(cpu.flagZ());
    b.poke16(0x5000, 0x0100);
    cpu.setA(0, 0x5002);
    cpu.setA(1, 0x5102);
    b.start(kCode, kStack, 0x2704);
    b.step();
    b.step();
    EXPECT_FALSE(cpu.flagZ());
    EXPECT_EQ(b.peek16(0x5100), 0x0100);
}

TEST_F(M68kFamily, ChkFlagsAndTheFlagsItStacks)
{
    // CHK D1,D0
    cpu.setD(0, 0);
    cpu.setD(1, 0);
    EXPECT_EQ(run({0x4181}, kN | kV | kC | kX), 10u);
    EXPECT_EQ(ccr(), kX | kZ);
    EXPECT_EQ(cpu.pc(), kCode + 2);

    const struct {
        u16 value, bound;
        u16 ccrOut;
    } traps[] = {{0x8000, 10, kN}, {5, 4, kZ}, {0, 0xFFFF, kZ}};
    for (const auto& t : traps) {
        cpu.setD(0, t.value);
        cpu.setD(1, t.bound);
        EXPECT_EQ(run({0x4181}, kV | kC), 40u);
        EXPECT_EQ(cpu.pc(), 0x4000u + 0x10 * 6);
        EXPECT_EQ(ccr(), t.ccrOut) << std::hex << t.value;
        EXPECT_EQ(b.peek16(kStack - 6), 0x2700 | kV | kC);  // the flags from before
        EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
    }
}

TEST_F(M68kFamily, DivisionOverflowAndDivideByZero)
{
    // DIVU D1,D0: 0x10000 / 1 overflows; N and Z stay as they were.
    cpu.setD(0, 0x00010000);
    cpu.setD(1, 1);
    EXPECT_EQ(run({0x80C1}, kN | kZ | kC | kX), 140u);
    EXPECT_EQ(cpu.d(0), 0x00010000u);
    EXPECT_EQ(ccr(), kX | kN | kZ | kV);

    // DIVS D1,D0: 0x80000000 / -1 overflows without a host fault.
    cpu.setD(0, 0x80000000);
    cpu.setD(1, 0xFFFF);
    EXPECT_EQ(run({0x81C1}), 158u);
    EXPECT_EQ(cpu.d(0), 0x80000000u);
    EXPECT_EQ(ccr(), kV);

    // DIVS: -7 / 2 = -3 remainder -1.
    cpu.setD(0, static_cast<u32>(-7));
    cpu.setD(1, 2);
    EXPECT_EQ(run({0x81C1}, kV | kC), 158u);
    EXPECT_EQ(cpu.d(0), 0xFFFFFFFDu);
    EXPECT_EQ(ccr(), kN);

    // DIVU (A0)+,D0 by zero: A0 already stepped, flags kept, the next
    // instruction's address stacked, and a zero vector used as it is.
    b.poke16(0x5000, 0);
    b.poke32(5 * 4, 0);
    cpu.setA(0, 0x5000);
    cpu.setD(0, 1234);
    EXPECT_EQ(run({0x80D8}, kN | kC), 38u);
    EXPECT_EQ(cpu.a(0), 0x5002u);
    EXPECT_EQ(cpu.d(0), 1234u);
    EXPECT_EQ(ccr(), kN | kC);
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
    EXPECT_EQ(cpu.pc(), 0u);

    // DIVS #0 with an extension word: the stacked PC is past it.
    b.poke32(5 * 4, 0x4050);
    EXPECT_EQ(run({0x81FC, 0x0000}), 38u);
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 4);
    EXPECT_EQ(cpu.pc(), 0x4050u);
}

TEST_F(M68kFamily, BytesThroughA7StepByTwoInEveryPosition)
{
    const struct {
        const char* name;
        std::initializer_list<u16> words;
        s32 delta;
    } cases[] = {
        {"MOVE.B D0,-(A7)", {0x1F00}, -2},
        {"MOVE.B (A7)+,D0", {0x101F}, 2},
        {"MOVE.B (A7)+,-(A7)", {0x1F1F}, 0},
        {"ADD.B (A7)+,D0", {0xD01F}, 2},
        {"CMP.B -(A7),D0", {0xB027}, -2},
        {"ADDX.B -(A7),-(A7)", {0xDF0F}, -4},
        {"CMPM.B (A7)+,(A7)+", {0xBF0F}, 4},
        {"ABCD -(A7),-(A7)", {0xCF0F}, -4},
        {"SBCD -(A0),-(A7)", {0x8F08}, -2},
        {"NBCD (A7)+", {0x481F}, 2},
        {"CLR.B -(A7)", {0x4227}, -2},
        {"NEG.B (A7)+", {0x441F}, 2},
        {"TST.B -(A7)", {0x4A27}, -2},
        {"TAS (A7)+", {0x4ADF}, 2},
        {"ORI.B #1,-(A7)", {0x0027, 0x0001}, -2},
        {"CMPI.B #1,(A7)+", {0x0C1F, 0x0001}, 2},
        {"AND.B D0,(A7)+", {0xC11F}, 2},
        {"EOR.B D0,-(A7)", {0xB127}, -2},
        {"NOT.B (A7)+", {0x461F}, 2},
        {"BTST D0,-(A7)", {0x0127}, -2},
        {"BCLR #0,(A7)+", {0x089F, 0x0000}, 2},
        {"SEQ -(A7)", {0x57E7}, -2},
        {"ADDQ.B #1,(A7)+", {0x521F}, 2},
        {"SUBI.B #1,-(A7)", {0x0427, 0x0001}, -2},
    };
    for (const auto& c : cases) {
        cpu.setA(0, 0x6000);
        run(c.words);
        EXPECT_EQ(cpu.a(7), kStack + static_cast<u32>(c.delta)) << c.name;
    }
    // A word pair through a byte push and pop balances and returns the byte.
    cpu.setD(0, 0x5A);
    cpu.setD(1, 0);
    b.code(kCode, {0x1F00, 0x121F});  // MOVE.B D0,-(A7); MOVE.B (A7)+,D1
    b.start(kCode, kStack);
    b.step();
    EXPECT_EQ(b.peek8(kStack - 2), 0x5A);
    b.step();
    EXPECT_EQ(cpu.a(7), kStack);
    EXPECT_EQ(cpu.d(1), 0x5Au);
}
