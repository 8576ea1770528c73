#include <gtest/gtest.h>

#include <memory>

#include "board/scu/dsp_encoder.h"
#include "core/machine/system.h"
#include "support/log_capture.h"

using namespace dspasm;

namespace {

// The DSP in a whole machine (for its bus), loaded and read through the
// SCU's register window, and run clock by clock.
class DspTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        sys->powerOn();
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
    }

    SCU& scu() { return sys->scu(); }
    ScuDsp& dsp() { return sys->scu().dsp(); }
    void port(u32 offset, u32 v) { SCU::write32(&scu(), &sys->master(), 0x25FE0000 | offset, v); }
    u32 readPort(u32 offset) { return SCU::read32(&scu(), &sys->master(), 0x25FE0000 | offset); }

    void load(const Program& program)
    {
        port(0x80, 0x8000);
        for (u32 word : program)
            port(0x84, word);
        port(0x80, 0x8000);
    }
    void setData(u32 bank, u32 index, std::initializer_list<u32> values)
    {
        port(0x88, bank << 6 | index);
        for (u32 v : values)
            port(0x8C, v);
    }
    u32 data(u32 bank, u32 index)
    {
        port(0x88, bank << 6 | index);
        return readPort(0x8C);
    }
    void start() { port(0x80, 0x10000); }
    // Clocks used.
    u32 run(u32 clocks) { return dsp().runUntil(clocks * dsp().period()) / dsp().period(); }
    // Fires the events that are due, such as the end interrupt.
    void settle()
    {
        for (int i = 0; i < 4; ++i) {
            u32 slice = 0;
            scheduler().run(slice);
            scheduler().advance();
        }
    }

    u8* wram() { return sys->memory().workRamHigh.get(); }

    std::unique_ptr<CSystem> sys;
};


constexpr u32 kFlagS = 1u << 22, kFlagZ = 1u << 21, kFlagC = 1u << 20, kFlagV = 1u << 19, kFlagE = 1u << 18,
              kFlagEx = 1u << 16;

}  // namespace

TEST_F(DspTest, ArraySumWithLpsRunsTheLoopBodyLopPlusOneTimes)
{
    const u32 values[16] = {1, 0xFFFFFFFF, 0x80000000, 12345, 0x7FFFFFFF, 99, 0xDEADBEEF, 3,
                            0, 0x10000, 42, 0xFFFF0000, 7, 0x13572468, 100000, 5};
    port(0x88, 0);
    u32 expected = 0;
    for (u32 v : values) {
        port(0x8C, v);
        expected += v;
    }
    load({op(d1Imm(0, kCt0)),
          op(yClrA() | d1Imm(15, kLop)),
          op(d1Imm(0, kPl)),
          lps(),
          op(alu(kAdd) | xMovP(kMc0) | yMovAluA()),
          op(alu(kAdd) | yMovAluA() | d1Mov(kAll, kToMc1)),
          end()});
    start();
    // Three set-up clocks, 15 LPS pairs, the last LPS and the last pass,
    // the final add; END costs nothing.
    EXPECT_EQ(run(1000), 3u + 17u + 1u);
    EXPECT_FALSE(dsp().executing());
    EXPECT_EQ(data(1, 0), expected);
    EXPECT_EQ(dsp().counter(0), 16u);
    EXPECT_EQ(readPort(0x80) & 0xFF, 7u);  // PC past the END
}

namespace {

struct Mac {
    std::vector<s32> x, y;
    s64 sum() const
    {
        s64 s = 0;
        for (size_t i = 0; i < x.size(); ++i)
            s += s64{x[i]} * y[i];
        return s;
    }
};

Mac macInput()
{
    Mac m;
    u32 seed = 12345;
    for (int i = 0; i < 20; ++i) {
        seed = seed * 1103515245 + 12345;
        m.x.push_back(static_cast<s32>(seed >> 8) % (1 << 20));
        seed = seed * 1103515245 + 12345;
        m.y.push_back(-static_cast<s32>(seed >> 9) % (1 << 20));
    }
    return m;
}

}  // namespace

TEST_F(DspTest, MultiplyAccumulateWithLpsAndWithBtm)
{
    const Mac m = macInput();
    const u32 n = static_cast<u32>(m.x.size());
    const u64 wide = static_cast<u64>(m.sum()) & ((u64{1} << 48) - 1);
    auto loadInput = [&] {
        for (u32 i = 0; i < n; ++i) {
            setData(0, i, {static_cast<u32>(m.x[i])});
            setData(1, i, {static_cast<u32>(m.y[i])});
        }
        port(0x88, 2 << 6);
        port(0x8C, 0);
        port(0x8C, 0);
    };

    loadInput();
    load({op(xMovX(kMc0) | yMovY(kMc1) | d1Imm(static_cast<s32>(n - 2), kLop)),
          op(xMulP() | xMovX(kMc0) | yMovY(kMc1) | yClrA()),
          lps(),
          op(alu(kAd2) | yMovAluA() | xMulP() | xMovX(kMc0) | yMovY(kMc1)),
          op(alu(kAd2) | yMovAluA() | d1Mov(kAll, kToMc2)),
          op(d1Mov(kAlh, kToMc2)),
          end()});
    start();
    EXPECT_EQ(run(1000), 2u + (n - 2) + 2 + 2);
    EXPECT_EQ(data(2, 0), static_cast<u32>(wide));
    EXPECT_EQ(data(2, 1), static_cast<u32>(wide >> 16));

    // The same loop closed by BTM, whose delay slot runs on every pass.
    dsp().reset();
    loadInput();
    load({op(xMovX(kMc0) | yMovY(kMc1) | d1Imm(3, kTop)),
          op(xMulP() | xMovX(kMc0) | yMovY(kMc1) | yClrA()),
          mvi(static_cast<s32>(n - 2), kLop),
          op(alu(kAd2) | yMovAluA() | xMulP() | xMovX(kMc0) | yMovY(kMc1)),
          btm(),
          op(d1Imm(1, kToMc3)),
          op(alu(kAd2) | yMovAluA() | d1Mov(kAll, kToMc2)),
          op(d1Mov(kAlh, kToMc2)),
          end()});
    start();
    run(1000);
    EXPECT_EQ(data(2, 0), static_cast<u32>(wide));
    EXPECT_EQ(data(2, 1), static_cast<u32>(wide >> 16));
    EXPECT_EQ(dsp().counter(3), n - 1);  // the delay slot: n - 2 taken passes and the fall-through
    EXPECT_EQ(dsp().lop(), 0u);
}

TEST_F(DspTest, Ad2OverflowAndMultiplierOverflow)
{
    // 10610063 x 13264529 = 2^47 - 1: A := 0x7FFF:FFFFFFFF, then + 1.
    setData(0, 0, {10610063, 1});
    setData(1, 0, {13264529});
    load({op(xMovX(kMc0) | yMovY(kMc1)),
          op(xMulP() | yClrA()),
          op(alu(kAd2) | yMovAluA()),
          op(xMovP(kMc0)),
          op(alu(kAd2) | d1Mov(kAll, kToMc2)),
          op(d1Mov(kAlh, kToMc2)),
          end()});
    start();
    run(100);
    EXPECT_EQ(data(2, 0), 0u);
    EXPECT_EQ(data(2, 1), 0x80000000u);  // ALUH 0x8000
    const u32 status = readPort(0x80);
    EXPECT_EQ(status & (kFlagS | kFlagZ | kFlagC | kFlagV), kFlagS | kFlagV);
    EXPECT_EQ(readPort(0x80) & kFlagV, 0u);  // a read clears V

    // 0x01000000 x 0x01000001 is beyond 48 bits: reported, and P still loaded.
    dsp().reset();
    setData(0, 0, {0x01000000});
    setData(1, 0, {0x01000001});
    load({op(xMovX(kM0) | yMovY(kM1)),
          op(xMulP() | yClrA()),
          op(alu(kAd2) | d1Mov(kAll, kToMc2)),
          op(d1Mov(kAlh, kToMc2)),
          end()});
    LogCapture log;
    start();
    run(100);
    EXPECT_TRUE(log.contains("SCU.DSP: MULTIPLIER overflow [RX: 01000000, RY: 01000001, product: 0001000001000000]"));
    EXPECT_EQ(data(2, 0), 0x01000000u);  // PL
    EXPECT_EQ(data(2, 1), 0x00000100u);  // PH's low half is 0
}

TEST_F(DspTest, AluCodesResultsAndFlags)
{
    // Expected results worked out by hand; flags are S, Z, C and, for ADD
    // and SUB, V.
    struct Case {
        Alu code;
        u32 a, p, result, flags;
    };
    const Case cases[] = {
        {kAnd, 0xF0F0FF00, 0x0FF0F0F0, 0x00F0F000, 0},
        {kOr, 0x80000000, 0x00000001, 0x80000001, kFlagS},
        {kXor, 0x12345678, 0x12345678, 0, kFlagZ},
        {kAdd, 0xFFFFFFFF, 0x00000001, 0, kFlagZ | kFlagC},
        {kAdd, 0x7FFFFFFF, 0x00000001, 0x80000000, kFlagS | kFlagV},
        {kAdd, 0x80000000, 0x80000000, 0, kFlagZ | kFlagC | kFlagV},
        {kSub, 0x00000001, 0x00000002, 0xFFFFFFFF, kFlagS | kFlagC},
        {kSub, 0x80000000, 0x00000001, 0x7FFFFFFF, kFlagV},
        {kSub, 5, 5, 0, kFlagZ},
        {kSr, 0x80000003, 0, 0xC0000001, kFlagS | kFlagC},
        {kRr, 0x00000001, 0, 0x80000000, kFlagS | kFlagC},
        {kSl, 0xC0000000, 0, 0x80000000, kFlagS | kFlagC},
        {kRl, 0x80000001, 0, 0x00000003, kFlagC},
        {kRl8, 0x12345678, 0, 0x34567812, 0},
        {kRl8, 0x01000000, 0, 0x00000001, kFlagC},
    };
    for (const Case& c : cases) {
        dsp().reset();
        setData(0, 0, {c.a});
        setData(1, 0, {c.p});
        load({op(yMovA(kM0) | xMovP(kM1)), op(alu(c.code) | d1Mov(kAll, kToMc2)), end()});
        start();
        run(10);
        SCOPED_TRACE(testing::Message() << "code " << c.code << " a " << std::hex << c.a << " p " << c.p);
        EXPECT_EQ(data(2, 0), c.result);
        const u32 mask = kFlagS | kFlagZ | kFlagC | (c.code == kAdd || c.code == kSub ? kFlagV : 0);
        EXPECT_EQ(readPort(0x80) & mask, c.flags);
    }
}

TEST_F(DspTest, ConditionalMviAndJumps)
{
    auto program = [&](u32 a, u32 p) {
        dsp().reset();
        setData(0, 0, {a});
        setData(1, 0, {p});
        load({op(yMovA(kM0) | xMovP(kM1)),
              op(alu(kSub)),
              mviIf(kZ, 111, kToMc2),
              mviIf(kNz, -222, kToMc2),
              jmpIf(kS, 7),
              nop(),
              mvi(333, kToMc3),
              end()});
        start();
        run(100);
    };
    program(5, 5);
    EXPECT_EQ(data(2, 0), 111u);
    EXPECT_EQ(data(2, 1), 0u);
    EXPECT_EQ(data(3, 0), 333u);
    program(3, 5);
    EXPECT_EQ(data(2, 0), static_cast<u32>(-222));
    EXPECT_EQ(data(3, 0), 0u);  // jumped over
}

TEST_F(DspTest, ATakenJumpAndItsDelaySlotCostOneClock)
{
    load({jmp(3), mvi(1, kToMc0), mvi(2, kToMc0), mvi(3, kToMc1), end()});
    start();
    EXPECT_EQ(run(1), 1u);
    EXPECT_EQ(dsp().pc(), 3u);
    EXPECT_EQ(dsp().data(0, 0), 1u);
    run(10);
    EXPECT_EQ(data(1, 0), 3u);
    EXPECT_EQ(data(0, 1), 0u);  // skipped
}

TEST_F(DspTest, JumpsChainedThroughDelaySlotsStillLetExecuteReturn)
{
    Program all(256, jmp(0));
    load(all);
    dsp().setThreshold(0);
    start();
    EXPECT_EQ(run(500), 500u);
    EXPECT_TRUE(dsp().executing());
}

TEST_F(DspTest, CountersAndD1Moves)
{
    // MC writes step the counter; MOV to CT sets it; M reads do not step.
    load({op(d1Imm(-3, kToMc0)),
          op(d1Imm(62, kCt1)),
          op(d1Imm(7, kToMc1)),
          op(d1Imm(8, kToMc1)),  // wraps to word 0
          op(d1Imm(0, kCt0)),
          op(d1Mov(kM0, kToMc2)),
          op(d1Mov(kMc0, kToMc2)),
          op(d1Mov(kMc0, kToMc2)),
          end()});
    start();
    run(100);
    EXPECT_EQ(data(0, 0), static_cast<u32>(-3));
    EXPECT_EQ(data(1, 62), 7u);
    EXPECT_EQ(data(1, 63), 8u);
    EXPECT_EQ(dsp().counter(1), 0u);
    EXPECT_EQ(data(2, 0), static_cast<u32>(-3));
    EXPECT_EQ(data(2, 1), static_cast<u32>(-3));
    EXPECT_EQ(data(2, 2), 0u);
    EXPECT_EQ(dsp().counter(0), 2u);

    // A negative immediate to LOP is taken unsigned and reported.
    dsp().reset();
    load({op(d1Imm(-1, kLop)), end()});
    LogCapture log;
    start();
    run(10);
    EXPECT_EQ(dsp().lop(), 0xFFu);
    EXPECT_TRUE(log.contains("i_movid, write to LOP when simm is negative [OP: 00001AFF, SIMM: FFFFFFFF]"));
}

TEST_F(DspTest, DmaInAndOut)
{
    for (u32 i = 0; i < 80; ++i)
        storeBe32(wram() + 0x40000 + 4 * i, 0xA0000000 + i);
    // 64 words in with CT0 at 10: bank 0 from word 10 round to 9, CT0 back at 10.
    load({mvi(0x06040000 >> 2, kRa0),
          op(d1Imm(10, kCt0)),
          dmaIn(0, 64),
          dmaIn(1, 4),           // RA0 moved on: words 64 to 67
          mvi(0x05C01000 >> 2, kWa0),
          dmaOut(0, 8, 1),       // to VDP1 VRAM, B-bus, from bank 0 at CT0
          mvi(0x06050000 >> 2, kWa0),
          op(d1Imm(0, kCt1)),
          dmaOut(1, 2, 2, true),  // held: WA0 stays
          dmaOut(1, 1, 2),
          mvi(0x05C01000 >> 2, kRa0),
          dmaIn(2, 4, 1),         // from the B-bus the step is a long whatever ADD says
          end()});
    LogCapture log;
    start();
    run(200);
    EXPECT_EQ(log.text(), "SCU.DMAC.D0: Add value is not 2 when transfer from B-BUS [A: 05C01000, ADD: 1]\n");
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(dsp().data(2, i), 0xA0000000 + i);
    for (u32 i = 0; i < 64; ++i)
        EXPECT_EQ(dsp().data(0, (10 + i) & 63), 0xA0000000 + i) << i;
    EXPECT_EQ(dsp().counter(0), 18u);  // 10, and 8 words out
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(dsp().data(1, i), 0xA0000040 + i);
    const u8* vdp1 = sys->memory().vdp1Memory.get();
    for (u32 i = 0; i < 8; ++i)
        EXPECT_EQ(loadBe32(vdp1 + 0x1000 + 4 * i), 0xA0000000 + i) << i;
    // The held transfer wrote words 0 and 1 of bank 1; the next one wrote
    // word 2 over the first, at the same address.
    EXPECT_EQ(loadBe32(wram() + 0x50000), 0xA0000042u);
    EXPECT_EQ(loadBe32(wram() + 0x50004), 0xA0000041u);
    EXPECT_EQ(loadBe32(wram() + 0x50008), 0u);
}

TEST_F(DspTest, DmaCountFromDataRamAndInvalidAreas)
{
    for (u32 i = 0; i < 8; ++i)
        storeBe32(wram() + 0x40000 + 4 * i, 0xB0000000 + i);
    setData(3, 0, {5, 0xFFFFFFFF});
    load({mvi(0x06040000 >> 2, kRa0), dmaInCount(2, kMc3, 2, true), end()});
    start();
    run(100);
    for (u32 i = 0; i < 5; ++i)
        EXPECT_EQ(dsp().data(2, i), 0xB0000000 + i);
    EXPECT_EQ(dsp().data(2, 5), 0u);
    EXPECT_EQ(dsp().counter(3), 1u);

    // A count of 2^32 - 1 is reported and bounded: execute comes back.
    load({mvi(0x06040000 >> 2, kRa0), dmaInCount(2, kM3), end()});
    LogCapture log;
    start();
    EXPECT_GE(run(100), ScuDsp::kDmaWordLimit / 4);
    run(10);
    EXPECT_FALSE(dsp().executing());
    EXPECT_TRUE(log.contains("SCU.DSP: Invalid transfer count [C: FFFFFFFF]"));
    log.clear();

    // The BIOS is no DMA area: nothing moves.
    load({mvi(0, kRa0), dmaIn(0, 4), end()});
    start();
    run(100);
    EXPECT_EQ(log.text(), "SCU.DMAC.D0: Invalid DMA area [A: 00000000, OUT: 0]\n");
    EXPECT_EQ(dsp().data(0, 0), 0u);
}

TEST_F(DspTest, StartPausedStepAndStop)
{
    load({op(d1Imm(1, kToMc0)), op(d1Imm(2, kToMc0)), op(d1Imm(3, kToMc0)), end()});
    // EX with EP starts paused: nothing runs until EX with PR.
    port(0x80, 0x10000 | 1u << 25);
    EXPECT_TRUE(dsp().executing());
    EXPECT_EQ(run(10), 10u);
    EXPECT_EQ(dsp().pc(), 0u);
    port(0x80, 0x10000 | 1u << 26);
    EXPECT_EQ(run(1), 1u);
    EXPECT_EQ(dsp().pc(), 1u);

    // Loading is refused while it runs; the status shows EX.
    LogCapture log;
    port(0x84, 0x12345678);
    port(0x8C, 5);
    EXPECT_EQ(log.text(), "SCU.DSP: Write PPD while executing [D: 12345678]\n"
                          "SCU.DSP: Write PDD while executing [D: 00000005]\n");
    EXPECT_EQ(dsp().program(1), op(d1Imm(2, kToMc0)));
    EXPECT_NE(readPort(0x80) & kFlagEx, 0u);

    // Stop, then one step by ES.
    port(0x80, 0);
    EXPECT_FALSE(dsp().executing());
    EXPECT_EQ(run(10), 10u);
    EXPECT_EQ(dsp().pc(), 1u);
    port(0x80, 1u << 17);
    EXPECT_EQ(dsp().pc(), 2u);
    EXPECT_EQ(data(0, 1), 2u);
    EXPECT_EQ(data(0, 2), 0u);
}

TEST_F(DspTest, EndiRaisesTheEndInterruptOnlyWhileEIsClear)
{
    load({endi()});
    start();
    run(10);
    EXPECT_FALSE(dsp().executing());
    settle();
    EXPECT_NE(scu().ist() & (1u << 5), 0u);

    // E is still set (nobody read PPAF): no second interrupt.
    SCU::write32(&scu(), &sys->master(), 0x25FE00A4, 0);
    load({endi()});
    LogCapture log;
    start();
    run(10);
    settle();
    EXPECT_EQ(scu().ist() & (1u << 5), 0u);
    EXPECT_TRUE(log.contains("SCU.DSP: End interrupt will not be triggered when E is 1\n"));

    // Reading PPAF shows E and clears it; the next ENDI interrupts again.
    EXPECT_NE(readPort(0x80) & kFlagE, 0u);
    EXPECT_EQ(readPort(0x80) & kFlagE, 0u);
    load({endi()});
    start();
    run(10);
    settle();
    EXPECT_NE(scu().ist() & (1u << 5), 0u);
}

TEST_F(DspTest, DataPortReadsBackAndAdvances)
{
    setData(2, 62, {0x11111111, 0x22222222, 0x33333333});
    port(0x88, 2 << 6 | 62);
    EXPECT_EQ(readPort(0x8C), 0x11111111u);
    EXPECT_EQ(readPort(0x8C), 0x22222222u);
    EXPECT_EQ(readPort(0x8C), 0x33333333u);  // wrapped to word 0
    // The program port stays write-only.
    LogCapture log;
    EXPECT_EQ(readPort(0x84), 0u);
    EXPECT_EQ(log.text(), "SCU: Bad RL [A: 25FE0084]\n");
}
