// Instruction behaviour where this 68000 fixes what the real chip leaves
// open, or where the single-step vectors cannot look: the fixed undefined
// flags, the byte step of A7, MOVEM and MOVEP corner cases, traps.

#include <gtest/gtest.h>

#include "m68k_testbench.h"

namespace {

constexpr u32 kCode = 0x1000;
constexpr u32 kStack = 0x7F000;
constexpr u16 kX = 0x10, kN = 0x08, kZ = 0x04, kV = 0x02, kC = 0x01;

struct Family : ::testing::Test {
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

TEST_F(Family, DecimalArithmeticFlagsIncludingTheFixedOnes)
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

TEST_F(Family, DecimalChainKeepsZOnlyWhenEveryByteIsZero)
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

TEST_F(Family, ChkFlagsAndTheFlagsItStacks)
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

TEST_F(Family, DivisionOverflowAndDivideByZero)
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

TEST_F(Family, BytesThroughA7StepByTwoInEveryPosition)
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

TEST_F(Family, MovemCornerCases)
{
    // MOVEM.L D0-D1/A6,-(A7): A6, D1, D0 at descending addresses.
    cpu.setD(0, 0x11111111);
    cpu.setD(1, 0x22222222);
    cpu.setA(6, 0x66666666);
    EXPECT_EQ(run({0x48E7, 0xC002}), 8u + 24u);
    EXPECT_EQ(cpu.a(7), kStack - 12);
    EXPECT_EQ(b.peek32(kStack - 4), 0x66666666u);
    EXPECT_EQ(b.peek32(kStack - 8), 0x22222222u);
    EXPECT_EQ(b.peek32(kStack - 12), 0x11111111u);

    // MOVEM.L A0-A1,-(A0): A0 goes out with its value from before.
    cpu.setA(0, 0x5010);
    cpu.setA(1, 0xABCD);
    run({0x48E0, 0x00C0});
    EXPECT_EQ(cpu.a(0), 0x5008u);
    EXPECT_EQ(b.peek32(0x5008), 0x5010u);
    EXPECT_EQ(b.peek32(0x500C), 0xABCDu);

    // MOVEM.W (A0)+,D0/A0: the final address wins over the loaded word.
    b.poke16(0x5100, 0x8001);
    b.poke16(0x5102, 0x1234);
    cpu.setA(0, 0x5100);
    EXPECT_EQ(run({0x4C98, 0x0101}), 12u + 8u);
    EXPECT_EQ(cpu.d(0), 0xFFFF8001u);  // words are sign-extended into data registers too
    EXPECT_EQ(cpu.a(0), 0x5104u);

    // MOVEM.L 8(A0),D0-D1
    b.poke32(0x5208, 0xAAAA0001);
    b.poke32(0x520C, 0xBBBB0002);
    cpu.setA(0, 0x5200);
    EXPECT_EQ(run({0x4CE8, 0x0003, 0x0008}), 4u + 16u);
    EXPECT_EQ(cpu.d(0), 0xAAAA0001u);
    EXPECT_EQ(cpu.d(1), 0xBBBB0002u);

    // An empty mask moves nothing and leaves the register alone.
    cpu.setA(0, 0x5300);
    EXPECT_EQ(run({0x48A0, 0x0000}), 8u);
    EXPECT_EQ(cpu.a(0), 0x5300u);

    // MOVEM.W D0,-(A7) writes the low word.
    cpu.setD(0, 0x12345678);
    run({0x48A7, 0x8000});
    EXPECT_EQ(b.peek16(kStack - 2), 0x5678);
}

TEST_F(Family, MovepUsesAlternateBytesOnly)
{
    for (u32 a = 0x5000; a < 0x5010; ++a)
        b.ram[a] = 0xEE;
    cpu.setA(0, 0x5000);
    cpu.setD(0, 0x11223344);
    EXPECT_EQ(run({0x01C8, 0x0000}), 24u);  // MOVEP.L D0,0(A0)
    const u8 expected[] = {0x11, 0xEE, 0x22, 0xEE, 0x33, 0xEE, 0x44, 0xEE};
    for (u32 i = 0; i < 8; ++i)
        EXPECT_EQ(b.peek8(0x5000 + i), expected[i]) << i;

    cpu.setD(1, 0xFFFF0000);
    EXPECT_EQ(run({0x0308, 0x0002}), 16u);  // MOVEP.W 2(A0),D1
    EXPECT_EQ(cpu.d(1), 0xFFFF2233u);
}

TEST_F(Family, RotatesThroughExtend)
{
    // ROXL.B D1,D0 with D1 = 9: byte and X unchanged, C takes X.
    cpu.setD(0, 0x1234A5);
    cpu.setD(1, 9);
    EXPECT_EQ(run({0xE330}, kX), 6u + 18u);
    EXPECT_EQ(cpu.d(0), 0x1234A5u);
    EXPECT_EQ(ccr(), kX | kN | kC);

    // ROXL.B D1,D0 with D1 = 5 equals ROXL.B #5,D0.
    cpu.setD(0, 0xA5);
    cpu.setD(1, 5);
    run({0xE330}, kX);
    const u32 viaRegister = cpu.d(0);
    const u16 flagsViaRegister = ccr();
    cpu.setD(0, 0xA5);
    EXPECT_EQ(run({0xEB10}, kX), 6u);
    EXPECT_EQ(cpu.d(0), viaRegister);
    EXPECT_EQ(ccr(), flagsViaRegister);

    // ROXR.L D1,D0 with D1 = 34 equals ROXR.L #1.
    cpu.setD(0, 0x80000001);
    cpu.setD(1, 34);
    run({0xE2B0});
    EXPECT_EQ(cpu.d(0), 0x40000000u);
    EXPECT_EQ(ccr(), kX | kC);

    // ROXL.W (A0) with X clear on 0x8001, ROXR.W (A0) with X set on 0x0001.
    cpu.setA(0, 0x5000);
    b.poke16(0x5000, 0x8001);
    EXPECT_EQ(run({0xE5D0}), 8u);
    EXPECT_EQ(b.peek16(0x5000), 0x0002);
    EXPECT_EQ(ccr(), kX | kC);
    b.poke16(0x5000, 0x0001);
    run({0xE4D0}, kX);
    EXPECT_EQ(b.peek16(0x5000), 0x8000);
    EXPECT_EQ(ccr(), kX | kN | kC);
}

TEST_F(Family, ShiftCountsPastTheSize)
{
    // LSR.L D1,D0 with 33: all gone; with 64: count 0, X kept, C cleared.
    cpu.setD(0, 0xFFFFFFFF);
    cpu.setD(1, 33);
    EXPECT_EQ(run({0xE2A8}, kX | kC), 8u + 66u);
    EXPECT_EQ(cpu.d(0), 0u);
    EXPECT_EQ(ccr(), kZ);
    cpu.setD(0, 0x80000000);
    cpu.setD(1, 64);
    EXPECT_EQ(run({0xE2A8}, kX | kC | kV), 8u);
    EXPECT_EQ(cpu.d(0), 0x80000000u);
    EXPECT_EQ(ccr(), kX | kN);

    // ASL.B #2 on 0x40 loses the sign on the way: V; ASR.W D1,D0 by 20.
    cpu.setD(0, 0x40);
    run({0xE500});
    EXPECT_EQ(cpu.d(0), 0u);
    EXPECT_EQ(ccr(), kX | kZ | kV | kC);
    cpu.setD(0, 0xABCD8000);
    cpu.setD(1, 20);
    EXPECT_EQ(run({0xE260}), 6u + 40u);
    EXPECT_EQ(cpu.d(0), 0xABCDFFFFu);
    EXPECT_EQ(ccr(), kX | kN | kC);

    // ROL.B D1,D0 by 8: unchanged, C = bit 0; by 0: C cleared.
    cpu.setD(0, 0x81);
    cpu.setD(1, 8);
    run({0xE338});
    EXPECT_EQ(cpu.d(0), 0x81u);
    EXPECT_EQ(ccr(), kN | kC);
    cpu.setD(1, 0);
    run({0xE338}, kC | kX);
    EXPECT_EQ(ccr(), kX | kN);
}

TEST_F(Family, LinkAndUnlinkThroughA7)
{
    // LINK A6,#-8 then UNLK A6 restore both.
    cpu.setA(6, 0x12345678);
    b.code(kCode, {0x4E56, 0xFFF8, 0x4E5E});
    b.start(kCode, kStack);
    EXPECT_EQ(b.step(), 16u);
    EXPECT_EQ(cpu.a(6), kStack - 4);
    EXPECT_EQ(cpu.a(7), kStack - 12);
    EXPECT_EQ(b.step(), 12u);
    EXPECT_EQ(cpu.a(6), 0x12345678u);
    EXPECT_EQ(cpu.a(7), kStack);

    // LINK A7,#-4 pushes the stack pointer it had before the push.
    run({0x4E57, 0xFFFC});
    EXPECT_EQ(b.peek32(kStack - 4), kStack);
    EXPECT_EQ(cpu.a(7), kStack - 8);
    // UNLK A7 loads A7 from the long it points at.
    b.poke32(kStack, 0x00012340);
    run({0x4E5F});
    EXPECT_EQ(cpu.a(7), 0x00012340u);
}

TEST_F(Family, ConditionCodeAndStatusLoads)
{
    // MOVE (A0)+,CCR takes the low byte of the word and steps by 2.
    b.poke16(0x5000, 0xFF15);
    cpu.setA(0, 0x5000);
    EXPECT_EQ(run({0x44D8}), 12u);
    EXPECT_EQ(cpu.a(0), 0x5002u);
    EXPECT_EQ(cpu.sr(), 0x2715);
    // EORI #4,CCR toggles Z only; ANDI #0,CCR clears them all.
    EXPECT_EQ(run({0x0A3C, 0x0004}, kX | kC), 20u);
    EXPECT_EQ(ccr(), kX | kZ | kC);
    run({0x023C, 0x0000}, 0x1F);
    EXPECT_EQ(ccr(), 0);
    // RTR loads the five flags only.
    b.poke16(kStack - 6, 0xFFFF);
    b.poke32(kStack - 4, 0x3000);
    b.code(kCode, {0x4E77});
    b.start(kCode, kStack - 6, 0x2300);
    EXPECT_EQ(b.step(), 20u);
    EXPECT_EQ(cpu.sr(), 0x231F);
    EXPECT_EQ(cpu.pc(), 0x3000u);
    EXPECT_EQ(cpu.a(7), kStack);
}

TEST_F(Family, BranchesAndDecrements)
{
    // BRA.S with displacement 0xFF goes to the odd address after the opcode.
    EXPECT_EQ(run({0x60FF}), 10u);
    EXPECT_EQ(cpu.pc(), kCode + 1);
    // BSR.W pushes A + 4, BSR.S A + 2.
    run({0x6100, 0x0010});
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 4);
    EXPECT_EQ(cpu.pc(), kCode + 2 + 0x10);
    run({0x6110});
    EXPECT_EQ(b.peek32(kStack - 4), kCode + 2);
    // DBF: 0 wraps to 0xFFFF and falls through; 0x8000 branches.
    cpu.setD(0, 0xABCD0000);
    EXPECT_EQ(run({0x51C8, 0xFFFE}), 14u);
    EXPECT_EQ(cpu.d(0), 0xABCDFFFFu);
    EXPECT_EQ(cpu.pc(), kCode + 4);
    cpu.setD(0, 0xABCD8000);
    EXPECT_EQ(run({0x51C8, 0xFFFE}), 10u);
    EXPECT_EQ(cpu.d(0), 0xABCD7FFFu);
    EXPECT_EQ(cpu.pc(), kCode);
    // JSR 4(A7) takes A7 from before the push.
    cpu.setA(0, 0);
    run({0x4EAF, 0x0004});
    EXPECT_EQ(cpu.pc(), kStack + 4);
    EXPECT_EQ(cpu.a(7), kStack - 4);
}
