#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/scu/dsp_encoder.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

constexpr u32 kScu = 0x25FE0000;
constexpr u32 kWait = 1, kRecord = 2, kSpin = 3;

// Level register block offsets.
constexpr u32 kR = 0x00, kW = 0x04, kC = 0x08, kAd = 0x0C, kEn = 0x10, kMd = 0x14;

// A machine running tests/programs/sh2/scu_driver.s: the test writes a
// command list, runs fields, and reads memories, counts and results.
class DmaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        const std::vector<u8> program = loadProgram("sh2", "scu_driver");
        ASSERT_FALSE(program.empty());
        std::copy(program.begin(), program.end(), wram() + 0x4000);
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
    }

    u8* wram() { return sys->memory().workRamHigh.get(); }
    u8* vdp1() { return sys->memory().vdp1Memory.get(); }
    u8* vdp2() { return sys->memory().vdp2Vram.get(); }
    u8* sound() { return sys->memory().soundRam.get(); }

    void command(u32 address, u32 value)
    {
        storeBe32(wram() + 0x10000 + m_commands * 8, address);
        storeBe32(wram() + 0x10000 + m_commands * 8 + 4, value);
        ++m_commands;
    }
    void scu(u32 offset, u32 value) { command(kScu + offset, value); }
    // A level's registers, the enable last.
    void level(u32 n, u32 s, u32 d, u32 count, u32 add, u32 mode, u32 enable = 0x101)
    {
        const u32 base = n * 0x20;
        scu(base + kR, s);
        scu(base + kW, d);
        scu(base + kC, count);
        scu(base + kAd, add);
        scu(base + kMd, mode);
        scu(base + kEn, enable);
    }
    void waitFor(u32 vector) { command(kWait, vector); }
    // Levels 0-2 in turn, each waited for at its end vector, then three fields.
    struct Transfer {
        u32 s, d, count, add, vector;
    };
    void runLevels(const std::vector<Transfer>& transfers)
    {
        for (u32 n = 0; n < transfers.size(); ++n) {
            const Transfer& t = transfers[n];
            level(n, t.s, t.d, t.count, t.add, 7);
            waitFor(t.vector);
        }
        start();
        runFields(3);
        ASSERT_TRUE(done());
    }
    void record(u32 address) { command(kRecord, address); }
    void unmask(u32 bits) { scu(0xA0, 0xBFFF & ~bits); }

    void start()
    {
        command(0, 0);
        sys->powerOn();
        sys->master().setPC(0x06004000);
    }
    void runFields(int n)
    {
        for (int i = 0; i < n; ++i)
            sys->runFrame();
    }
    bool done() { return loadBe32(wram() + 0x11FFC) == 1; }
    u32 count(u32 vector) { return loadBe32(wram() + 0x11000 + (vector - 0x40) * 4); }
    u32 result(u32 i) { return loadBe32(wram() + 0x12000 + 4 * i); }

    // A recognisable pattern in work RAM-H.
    void pattern(u32 offset, u32 bytes, u32 seed)
    {
        for (u32 i = 0; i < bytes; ++i)
            wram()[offset + i] = static_cast<u8>((i * 7 + seed) ^ (i >> 8));
    }
    static bool same(const u8* a, const u8* b, u32 bytes) { return std::equal(a, a + bytes, b); }

    std::unique_ptr<CSystem> sys;
    u32 m_commands = 0;
};

}  // namespace

TEST_F(DmaTest, DirectTransfersBetweenTheMemories)
{
    pattern(0x20000, 0x2000, 1);
    unmask(1u << 11 | 1u << 10 | 1u << 9);
    // Work RAM-H to VDP2 VRAM, VDP1 VRAM (odd count: the B-bus takes the
    // last byte with the next as a whole word) and sound RAM, one level each.
    // An unaligned source (level 2) goes word by word.
    runLevels({{0x06020000, 0x05E01000, 0x400, 0x101, 0x4B}, {0x06020400, 0x05C02000, 0x123, 0x101, 0x4A},
               {0x06020801, 0x05A00100, 0x200, 0x101, 0x49}});
    EXPECT_TRUE(same(vdp2() + 0x1000, wram() + 0x20000, 0x400));
    EXPECT_TRUE(same(vdp1() + 0x2000, wram() + 0x20400, 0x123));
    EXPECT_EQ(vdp1()[0x2123], wram()[0x20523]);
    EXPECT_EQ(vdp1()[0x2124], 0);
    EXPECT_TRUE(same(sound() + 0x100, wram() + 0x20801, 0x200));
    EXPECT_EQ(count(0x4B), 1u);
    EXPECT_EQ(count(0x4A), 1u);
    EXPECT_EQ(count(0x49), 1u);
}

TEST_F(DmaTest, TransfersBackIntoWorkRamAndTheVdp2ReadRefusal)
{
    for (u32 i = 0; i < 0x300; ++i) {
        vdp1()[0x3000 + i] = static_cast<u8>(i * 13 + 5);
        sound()[0x4000 + i] = static_cast<u8>(i * 11 + 3);
        vdp2()[0x100 + i] = 0x5A;
    }
    unmask(1u << 11 | 1u << 10 | 1u << 12);
    // An unaligned destination keeps the bytes in the engine's buffer, so
    // every source long is read as two B-bus words.
    LogCapture log;
    runLevels({{0x05C03000, 0x06030002, 0x300, 0x102, 0x4B}, {0x05A04000, 0x06031000, 0x2FE, 0x102, 0x4A},
               {0x05E00100, 0x06032000, 0x100, 0x102, 0x4C}});
    EXPECT_TRUE(same(wram() + 0x30002, vdp1() + 0x3000, 0x300));
    EXPECT_TRUE(same(wram() + 0x31000, sound() + 0x4000, 0x2FE));
    EXPECT_EQ(wram()[0x312FE], 0);
    EXPECT_EQ(wram()[0x32000], 0);
    EXPECT_TRUE(log.contains("SCU.DMAC: Read by SCU-DMA from the VDP2 area cannot be used, [S: 05E00100]\n"));
    EXPECT_TRUE(log.contains("SCU.DMAC: Level 2 illegal [S: 05E00100, D: 06032000, C: 00000100, SA: 4, DA: 4, SU: 0, "
                             "DU: 0, F: START-BIT]\n"));
}

// A library turns VDP2's display on with a 2-byte transfer to TVMD and
// sets RAMCTL on with one starting at the second word of a long; VDP2's
// registers take words only. A B-bus source gives odd bytes out of words.
TEST_F(DmaTest, BbusRegistersAndOddBytesMoveAsWords)
{
    storeBe32(wram() + 0x20000, 0x80001300);
    storeBe32(wram() + 0x20004, 0x13011302);
    storeBe32(sound() + 0x6000, 0xA0A1A2A3);
    storeBe32(sound() + 0x6004, 0xA4A5A6A7);
    unmask(1u << 11 | 1u << 10 | 1u << 9);
    LogCapture log;
    runLevels({{0x06020000, 0x05F80000, 2, 0x101, 0x4B}, {0x06020002, 0x05F8000E, 6, 0x101, 0x4A},
               {0x05A06001, 0x06030001, 5, 0x102, 0x49}});
    EXPECT_EQ(sys->vdp2().reg(VDP2::TVMD), 0x8000);
    EXPECT_EQ(sys->vdp2().reg(0x12), 0x1302);
    EXPECT_FALSE(log.contains("Bad WB")) << log.text();
    EXPECT_TRUE(same(wram() + 0x30001, sound() + 0x6001, 5));
    EXPECT_EQ(wram()[0x30006], 0);
}

TEST_F(DmaTest, IndirectChainEndsAtTheEndBitAndWritesBackTheTableAddress)
{
    pattern(0x20000, 0x1000, 9);
    // Three entries (count, destination, source), the last with bit 31.
    const u32 table = 0x06030040;
    const u32 entries[3][3] = {{0x100, 0x05E02000, 0x06020000},
                               {0x0FE, 0x05C04000, 0x06020100},
                               {0x080, 0x05A08000, 0x86020200}};
    for (u32 e = 0; e < 3; ++e)
        for (u32 w = 0; w < 3; ++w)
            storeBe32(wram() + (table & 0xFFFFF) + 12 * e + 4 * w, entries[e][w]);
    unmask(1u << 10);
    // Mode: indirect, DU, start bit.
    level(1, 0, table, 0, 0x101, 1u << 24 | 1u << 8 | 7);
    waitFor(0x4A);
    record(kScu + 0x24);
    record(kScu + 0x70);
    record(kScu + 0x74);
    record(kScu + 0x78);
    record(kScu + 0x7C);
    start();
    runFields(3);
    ASSERT_TRUE(done());
    EXPECT_TRUE(same(vdp2() + 0x2000, wram() + 0x20000, 0x100));
    EXPECT_TRUE(same(vdp1() + 0x4000, wram() + 0x20100, 0xFE));
    EXPECT_EQ(vdp1()[0x40FE], 0);
    EXPECT_TRUE(same(sound() + 0x8000, wram() + 0x20200, 0x80));
    EXPECT_EQ(count(0x4A), 1u);
    EXPECT_EQ(result(0), table + 36);  // the write address register
    EXPECT_EQ(result(1), 0x06020280u);  // DSR: the last entry's source, advanced
    EXPECT_EQ(result(2), 0x05A08080u);  // DSW
    EXPECT_EQ(result(3), 0u);           // DSC: nothing left to read
    EXPECT_EQ(result(4), 0u);           // DSTA idle
}

TEST_F(DmaTest, AddressWriteBackWithSuAndDuAndStatusWhileRunning)
{
    pattern(0x20000, 0x10000, 3);
    unmask(1u << 11 | 1u << 10);
    // SU and DU: the registers end past the moved data.
    level(0, 0x06020000, 0x05E00000, 0x10000, 0x101, 1u << 16 | 1u << 8 | 7);
    record(kScu + 0x7C);  // operating, B-bus in use
    waitFor(0x4B);
    record(kScu + 0x00);
    record(kScu + 0x04);
    record(kScu + 0x7C);
    // Without SU and DU they keep their values.
    level(1, 0x06030000, 0x05C00000, 0x10, 0x101, 7);
    waitFor(0x4A);
    record(kScu + 0x20);
    record(kScu + 0x24);
    start();
    runFields(3);
    ASSERT_TRUE(done());
    EXPECT_EQ(result(0), 0x200010u);
    EXPECT_EQ(result(1), 0x06030000u);
    EXPECT_EQ(result(2), 0x05E10000u);
    EXPECT_EQ(result(3), 0u);
    EXPECT_EQ(result(4), 0x06030000u);
    EXPECT_EQ(result(5), 0x05C00000u);
    EXPECT_TRUE(same(vdp2(), wram() + 0x20000, 0x10000));
}

TEST_F(DmaTest, CountZeroMeansTheMaximum)
{
    for (u32 i = 0; i < 0x100000; i += 4)
        storeBe32(wram() + i, i * 2654435761u);
    const std::vector<u8> program = loadProgram("sh2", "scu_driver");
    std::copy(program.begin(), program.end(), wram() + 0x4000);
    // Level 1 with count 0 moves 0x1000 bytes.
    level(1, 0x06080000, 0x05C10000, 0, 0x101, 7);
    // Level 0 with count 0 moves the whole megabyte, wrapping VDP2 VRAM.
    level(0, 0x06000000, 0x05E00000, 0, 0x101, 7);
    start();
    runFields(2);
    ASSERT_TRUE(done());
    EXPECT_TRUE(same(vdp1() + 0x10000, wram() + 0x80000, 0x1000));
    EXPECT_EQ(vdp1()[0x11000], 0);
    EXPECT_NE(sys->scu().ist() & (1u << 11), 0u);
    // The second half of work RAM-H was written last (the first holds the
    // driver's changing counters and results).
    EXPECT_TRUE(same(vdp2(), wram() + 0x80000, 0x80000));
}

TEST_F(DmaTest, EachStartFactorStartsItsLevel)
{
    pattern(0x20000, 0x800, 5);
    start();
    struct Case {
        u32 factor;
        const char* name;
    };
    for (const Case& c : {Case{0, "V-BLANK-IN"}, Case{1, "V-BLANK-OUT"}, Case{2, "H-BLANK-IN"}, Case{3, "TIMER0"},
                          Case{4, "TIMER1"}, Case{5, "SNDREQ"}, Case{6, "DRAW-END"}}) {
        SCOPED_TRACE(c.name);
        std::fill(vdp2(), vdp2() + 0x100, 0);
        // Set up by the test between fields, enabled for the factor.
        PageMap& bus = *sys->master().pageMap();
        CPU* m = &sys->master();
        bus.writeLong(m, kScu + 0x90, 3);      // timer 0 on line 3
        bus.writeLong(m, kScu + 0x94, 10);     // timer 1 ten SCU clocks after H-BLANK-IN
        bus.writeLong(m, kScu + 0x98, 1);
        bus.writeLong(m, kScu + 0x00, 0x06020000 + c.factor * 0x100);
        bus.writeLong(m, kScu + 0x04, 0x05E00000);
        bus.writeLong(m, kScu + 0x08, 0x100);
        bus.writeLong(m, kScu + 0x0C, 0x101);
        bus.writeLong(m, kScu + 0x14, c.factor);
        // The start bit alone does not start a level waiting for a factor.
        bus.writeLong(m, kScu + 0x10, 1);
        runFields(1);
        EXPECT_EQ(vdp2()[0], 0);
        bus.writeLong(m, kScu + 0x10, 0x100);
        runFields(2);
        if (c.factor == 5)
            sys->scu().soundRequest();
        if (c.factor == 6)
            sys->scu().spriteDrawEnd();
        if (c.factor >= 5) {
            EXPECT_EQ(vdp2()[0], 0);  // not yet moved, nothing has raised it
            runFields(1);
        }
        EXPECT_TRUE(same(vdp2(), wram() + 0x20000 + c.factor * 0x100, 0x100));
        bus.writeLong(m, kScu + 0x10, 0);
        runFields(1);
    }
}

TEST_F(DmaTest, ForcedStopLeavesTheRestUnmoved)
{
    pattern(0x20000, 0x20000, 7);
    level(0, 0x06020000, 0x05E00000, 0x20000, 0x101, 7);
    command(kSpin, 20);
    scu(0x60, 1);
    record(kScu + 0x7C);
    start();
    LogCapture log;
    runFields(3);
    ASSERT_TRUE(done());
    EXPECT_TRUE(log.contains("SCU.DMAC: Transfers have been forcibly stopped!\n"));
    EXPECT_EQ(result(0), 0u);
    EXPECT_EQ(sys->scu().ist() & (1u << 11), 0u);
    EXPECT_TRUE(same(vdp2(), wram() + 0x20000, 0x100));    // the start was moved
    EXPECT_FALSE(same(vdp2() + 0x1F000, wram() + 0x3F000, 0x1000));  // the end was not
}

TEST_F(DmaTest, AHigherLevelDisplacesALowerOneAfterSixteenClocks)
{
    pattern(0x20000, 0x8000, 11);
    // Both on V-BLANK-IN: level 0 is requested first and starts, level 1
    // waits 16 DMA clocks, pauses it, runs, and level 0 resumes.
    level(0, 0x06020000, 0x05E00000, 0x4000, 0x101, 0, 0x100);
    level(1, 0x06024000, 0x05C00000, 0x1000, 0x101, 0, 0x100);
    sys->scu().dmac().setThreshold(2);
    LogCapture log;
    // Both are disabled again right after their first V-BLANK-IN.
    struct Off : Hook {
        Off() : Hook("test") {}
        bool onHook(Device* d) override
        {
            auto* s = static_cast<CSystem*>(d);
            if (!(s->scu().reg(0x10) & 0x100))
                return false;
            PageMap& bus = *s->master().pageMap();
            bus.writeLong(&s->master(), kScu + 0x10, 0);
            bus.writeLong(&s->master(), kScu + 0x30, 0);
            return true;
        }
    } off;
    sys->attachHook(&off);
    start();
    runFields(3);
    std::vector<std::string> states;
    size_t at = 0;
    for (;;) {
        const size_t line = log.text().find('\n', at);
        if (line == std::string::npos)
            break;
        const std::string text = log.text().substr(at, line - at);
        at = line + 1;
        for (const char* word : {" start,", " standby,", " pause,", " resume,", " end,"}) {
            if (text.find(word) != std::string::npos)
                states.push_back(text.substr(text.find("Level"), text.find(',') - text.find("Level")));
        }
    }
    EXPECT_EQ(states, (std::vector<std::string>{"Level 0 start", "Level 1 standby", "Level 0 pause", "Level 1 start",
                                                "Level 1 end", "Level 0 resume", "Level 0 end"}));
    EXPECT_TRUE(same(vdp2(), wram() + 0x20000, 0x4000));
    EXPECT_TRUE(same(vdp1(), wram() + 0x24000, 0x1000));
}

TEST_F(DmaTest, IllegalSetUpsRaiseTheIllegalInterrupt)
{
    struct Case {
        u32 s, d, count, add, mode;
        const char* message;
    };
    pattern(0x30000, 0x100, 1);
    // A table at 0x06000020 with three entries must sit on 64 bytes.
    for (u32 e = 0; e < 3; ++e) {
        storeBe32(wram() + 0x20 + 12 * e, 0x10);
        storeBe32(wram() + 0x24 + 12 * e, 0x05E00000);
        storeBe32(wram() + 0x28 + 12 * e, 0x06030000 | (e == 2 ? 0x80000000 : 0));
    }
    const Case cases[] = {
        {0x05C00000, 0x05E00000, 0x10, 0x102, 7,
         "Transfer from B-BUS to B-BUS, [S: 05C00000, D: 05E00000, C: 00000010, SA: 4, DA: 4]"},
        {0x06030000, 0x06040000, 0x10, 0x102, 7, "Transfer from C-BUS to C-BUS, [S: 06030000, D: 06040000]"},
        {0x00000000, 0x05E00000, 0x10, 0x101, 7, "Source address is invalid, [A: 00000000]"},
        {0x06030000, 0x05E00000, 0x10, 0x001, 1u << 16 | 7, "SA must be 4 when SU is 1 [SA: 0]"},
        {0, 0x06000010, 0, 0x101, 1u << 24 | 7, "Table address is not at a proper boundary, [A: 06000010]"},
        {0, 0x06000020, 0, 0x101, 1u << 24 | 7,
         "Table address is not at a proper boundary, [A: 06000020, B: 00000040, size: 36]"},
        // No end code anywhere in work RAM-H.
        {0, 0x06080000, 0, 0x101, 1u << 24 | 7, "Table without an end code, [A: 06080000]"},
        // Outside work RAM-H: refused without a scan.
        {0, 0x00200000, 0, 0x101, 1u << 24 | 7, "Table address is not located in WORK RAM-H, [A: 00200000]"},
    };
    start();
    runFields(1);
    PageMap& bus = *sys->master().pageMap();
    CPU* m = &sys->master();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        LogCapture log;
        bus.writeLong(m, kScu + 0xA4, 0);
        bus.writeLong(m, kScu + 0x20, c.s);
        bus.writeLong(m, kScu + 0x24, c.d);
        bus.writeLong(m, kScu + 0x28, c.count);
        bus.writeLong(m, kScu + 0x2C, c.add);
        bus.writeLong(m, kScu + 0x34, c.mode);
        bus.writeLong(m, kScu + 0x30, 0x101);
        runFields(1);
        EXPECT_TRUE(log.contains(std::string("SCU.DMAC: ") + c.message + "\n")) << log.text();
        EXPECT_TRUE(log.contains("SCU.DMAC: Level 1 illegal ["));
        // The level still runs its count and ends, moving nothing.
        EXPECT_NE(sys->scu().ist() & (1u << 12), 0u);
        EXPECT_NE(sys->scu().ist() & (1u << 10), 0u);
        EXPECT_EQ(sys->scu().reg(SCU::kDSTA) & 0x300u, 0u);
    }
    EXPECT_EQ(vdp2()[0], 0);
}

TEST_F(DmaTest, DirectChecksRunInTheirOrder)
{
    LogCapture log;
    ScuDmac& dmac = sys->scu().dmac();
    // A destination on the A-bus is only warned about.
    EXPECT_TRUE(dmac.checkDirect(0x05A00000, 0x02000000, 0x10, 0, 4, 0, 0));
    EXPECT_EQ(log.text(), "SCU.DMAC: DMA transfer data to A-BUS is prohibited [D: 02000000]\n");
    log.clear();
    EXPECT_FALSE(dmac.checkDirect(0x02000000, 0x06000000, 0x10, 0, 4, 0, 0));
    EXPECT_EQ(log.text(), "SCU.DMAC: SA must be 4 when access external area 1-3 [SA: 0]\n");
    log.clear();
    // Warnings only: a B-bus destination with DU and DA 4, unaligned with DA 0.
    EXPECT_TRUE(dmac.checkDirect(0x06000000, 0x05C00000, 0x10, 4, 4, 0, 1));
    EXPECT_EQ(log.text(), "SCU.DMAC: DA must be 2 when access B-BUS area and DU is 1, [DA: 4]\n");
    log.clear();
    EXPECT_TRUE(dmac.checkDirect(0x06000000, 0x05C00002, 0x10, 4, 0, 0, 0));
    EXPECT_EQ(log.text(), "SCU.DMAC: Destination address is not 4-byte aligned when DA is 0, [D: 05C00002]\n");
    log.clear();
    // Beyond the end of work RAM-H.
    EXPECT_FALSE(dmac.checkDirect(0x060FFF00, 0x05C00000, 0x200, 4, 2, 0, 0));
    EXPECT_FALSE(dmac.checkDirect(0x06000000, 0x05FBFF00, 0x200, 4, 2, 0, 0));
    EXPECT_TRUE(dmac.checkDirect(0x06000000, 0x05FBFE00, 0x200, 4, 2, 0, 0));
}

namespace {

// Raises the sound request from inside its slice, after the DMA
// controller has already run that slice. The sound chip's sample steps
// keep slices under 3779 ns.
class LateRaiser : public Device {
public:
    explicit LateRaiser(SCU* scu) : Device("LATE"), m_scu(scu) { setPeriod(100); }
    u32 execute(u32 clocks) override
    {
        if (armed && clocks > 20) {
            armed = false;
            m_scu->soundRequest();
        }
        return clocks;
    }
    bool armed = false;

private:
    SCU* m_scu;
};

}  // namespace

TEST_F(DmaTest, AFactorRaisedLateInTheSliceStillMovesEverything)
{
    pattern(0x20000, 0x400, 13);
    LateRaiser late(&sys->scu());
    sys->addSlicedDevice(&late);
    level(2, 0x06020000, 0x05E03000, 0x400, 0x101, 5, 0x100);
    start();
    late.switchOn();
    // The first pass only starts a field; the driver programs the level in
    // the second, before the raiser is armed.
    runFields(2);
    late.armed = true;
    runFields(2);
    EXPECT_FALSE(late.armed);
    EXPECT_NE(sys->scu().ist() & (1u << 9), 0u);
    EXPECT_TRUE(same(vdp2() + 0x3000, wram() + 0x20000, 0x400));
}

TEST_F(DmaTest, EndEstimateAndEngineClocks)
{
    // Event times are measured from a head that stays at time 0.
    auto clearEvents = [] {
        scheduler().clear();
        scheduler().schedule(0, nullptr, nullptr, Scheduler::kForever, 1000000, 0);
    };
    sys->powerOn();
    pattern(0x20000, 0x200, 17);
    ScuDmac& dmac = sys->scu().dmac();
    PageMap& bus = *sys->master().pageMap();
    auto setLevel0 = [&](u32 s, u32 d, u32 n, u32 add) {
        bus.writeLong(nullptr, kScu + 0x00, s);
        bus.writeLong(nullptr, kScu + 0x04, d);
        bus.writeLong(nullptr, kScu + 0x08, n);
        bus.writeLong(nullptr, kScu + 0x0C, add);
        bus.writeLong(nullptr, kScu + 0x14, 7);
    };
    // 0x100 bytes, SA 4, DA 4: 64 cycles of 9 ns.
    setLevel0(0x06020000, 0x05C00000, 0x100, 0x102);
    dmac.requestDma(0, 7);
    EXPECT_EQ(scheduler().timeOf(dmac.level(0).endEvent), 576u);
    dmac.forceStop();

    // To VDP2 with DA 2: each clock writes two words.
    clearEvents();
    setLevel0(0x06020000, 0x05E00000, 0x100, 0x101);
    dmac.requestDma(0, 7);
    EXPECT_EQ(dmac.execute(10), 10u);
    EXPECT_TRUE(same(vdp2(), wram() + 0x20000, 40));
    EXPECT_EQ(vdp2()[40], 0);
    EXPECT_EQ(dmac.level(0).leftWrite, 0x100 - 40);
    dmac.forceStop();

    // Five bytes to the second word of a long on the B-bus: rounded up to
    // three words, the first alone, then two as one step.
    clearEvents();
    setLevel0(0x06020001, 0x05E01002, 5, 0x101);
    dmac.requestDma(0, 7);
    EXPECT_EQ(scheduler().timeOf(dmac.level(0).endEvent), 3u * 9);
    dmac.execute(1);
    EXPECT_EQ(dmac.level(0).leftWrite, 4);
    dmac.execute(1);
    EXPECT_EQ(dmac.level(0).leftWrite, 0);
    EXPECT_TRUE(same(vdp2() + 0x1002, wram() + 0x20001, 6));
    EXPECT_EQ(vdp2()[0x1001], 0);
    EXPECT_EQ(vdp2()[0x1008], 0);

    // Requests for a busy level queue up to a bound.
    LogCapture log;
    for (int i = 0; i < 70; ++i)
        dmac.requestDma(0, 7);
    EXPECT_EQ(dmac.level(0).queue.size(), ScuDmac::kQueueLimit);
    EXPECT_TRUE(log.contains("SCU.DMAC: Level 0 request queue is full, request dropped\n"));
}

// Sum of squares of eight words from the DSP's DMA, left in bank 1.
static dspasm::Program sumOfSquares()
{
    using namespace dspasm;
    return {mvi(0x06030000 >> 2, kRa0),
            dmaIn(0, 8),
            op(d1Imm(0, kCt0) | yClrA()),
            op(xMovX(kMc0) | yMovY(kM0) | d1Imm(6, kLop)),
            op(xMulP() | xMovX(kMc0) | yMovY(kM0)),
            lps(),
            op(alu(kAd2) | yMovAluA() | xMulP() | xMovX(kMc0) | yMovY(kM0)),
            op(alu(kAd2) | d1Mov(kAll, kToMc1)),
            endi()};
}

TEST_F(DmaTest, DspProgramLoadedAndRunByTheSh2)
{
    const dspasm::Program program = sumOfSquares();
    u32 expected = 0;
    for (u32 i = 0; i < 8; ++i) {
        storeBe32(wram() + 0x30000 + 4 * i, 1000 + 37 * i);
        expected += (1000 + 37 * i) * (1000 + 37 * i);
    }
    scu(0xA0, 0xBFFF & ~(1u << 5));
    scu(0x80, 0x8000);
    for (u32 word : program)
        scu(0x84, word);
    scu(0x88, 1 << 6);
    scu(0x8C, 0xFFFFFFFF);
    scu(0x80, 0x10000);
    waitFor(0x45);
    scu(0x88, 1 << 6);
    record(kScu + 0x8C);
    record(kScu + 0x8C);
    record(kScu + 0x80);
    start();
    runFields(2);
    ASSERT_TRUE(done());
    EXPECT_EQ(count(0x45), 1u);
    EXPECT_EQ(result(0), expected);
    EXPECT_EQ(result(1), 0u);
    EXPECT_EQ(result(2) & 0x10000, 0u);
    EXPECT_EQ(result(2) & 0xFF, program.size());
}

TEST_F(DmaTest, IdleUnitsSkipTheirSlicesExactly)
{
    // The DSP's program from the test above, started, paused and resumed
    // between DMA levels started by the bit and by a field's start.
    const dspasm::Program program = sumOfSquares();
    struct Run {
        std::string times;
        std::string log;
        std::vector<u8> wram, vdp2;
        bool done = false, dmacIdle = false, dspIdle = false;
    };
    auto run = [&](bool skip) {
        TearDown();
        m_commands = 0;
        SetUp();
        Shortcuts shortcuts;
        shortcuts.idleUnits = skip;
        sys->setShortcuts(shortcuts);
        pattern(0x20000, 0x800, 29);
        for (u32 i = 0; i < 8; ++i)
            storeBe32(wram() + 0x30000 + 4 * i, 500 + 11 * i);
        unmask(1u << 5 | 1u << 9 | 1u << 10 | 1u << 11);
        scu(0x80, 0x8000);
        for (u32 word : program)
            scu(0x84, word);
        // Long enough to span slices: the reads see it part done.
        pattern(0x40000, 0x10000, 31);
        level(0, 0x06040000, 0x05E10000, 0x10000, 0x101, 7);
        for (int i = 0; i < 4; ++i) {
            command(kSpin, 400);
            record(0x25E10000 + 0x3000 * i);
        }
        waitFor(0x4B);
        command(kSpin, 3000);
        scu(0x80, 0x10000);
        scu(0x80, 0x10000 | 1u << 25);
        command(kSpin, 500);
        scu(0x80, 0x10000 | 1u << 26);
        waitFor(0x45);
        level(1, 0x06020400, 0x05E05000, 0x200, 0x101, 0, 0x100);
        waitFor(0x4A);
        command(kSpin, 2000);
        level(2, 0x06020600, 0x05C01000, 0x100, 0x101, 7);
        waitFor(0x49);
        record(kScu + 0x8C);
        Run r;
        LogCapture log;
        start();
        for (int field = 0; field < 6; ++field) {
            sys->runFrame();
            for (const Device* device : sys->slicedDevices())
                r.times += std::to_string(device->localTime()) + ' ';
            r.times += std::to_string(sys->scu().dsp().pc()) + '\n';
        }
        r.log = log.text();
        r.wram.assign(wram(), wram() + 0x100000);
        r.vdp2.assign(vdp2(), vdp2() + 0x10000);
        r.done = done();
        r.dmacIdle = sys->scu().dmac().idle();
        r.dspIdle = sys->scu().dsp().idle();
        return r;
    };
    const Run on = run(true);
    const Run off = run(false);
    // A start the skip missed would leave the list waiting for ever.
    ASSERT_TRUE(on.done);
    EXPECT_TRUE(on.dmacIdle);
    EXPECT_TRUE(on.dspIdle);
    EXPECT_EQ(on.times, off.times);
    EXPECT_EQ(on.log, off.log);
    EXPECT_TRUE(on.wram == off.wram);
    EXPECT_TRUE(on.vdp2 == off.vdp2);
    EXPECT_TRUE(same(vdp2() + 0x10000, wram() + 0x40000, 0x10000));
    EXPECT_NE(result(1), 0u);
}

// Each level in turn moves 64 KB from one table entry, alone, read part way
// through with idle units skipped: while any level operates the controller
// is not idle, or its slices would be skipped and the data left unmoved.
TEST_F(DmaTest, IdleUnitsLeaveEveryLevelItsSlices)
{
    pattern(0x40000, 0x10000, 13);
    unmask(1u << 9 | 1u << 10 | 1u << 11);
    for (u32 n = 0; n < 3; ++n) {
        const u32 table = 0x50000 + 0x20 * n;
        storeBe32(wram() + table, 0x10000);
        storeBe32(wram() + table + 4, 0x05E00000 + 0x10000 * n);
        storeBe32(wram() + table + 8, 0x86040000);
        level(n, 0, 0x06000000 + table, 0, 0x101, 1u << 24 | 7);
        for (u32 i = 0; i < 4; ++i) {
            command(kSpin, 150);
            record(0x25E00000 + 0x10000 * n + 0x4000 * i);
        }
        waitFor(0x4B - n);
    }
    start();
    runFields(3);
    ASSERT_TRUE(done());
    // The first read finds the level's data moved, the last its place empty.
    for (u32 n = 0; n < 3; ++n) {
        EXPECT_EQ(result(4 * n), loadBe32(wram() + 0x40000)) << "level " << n;
        EXPECT_EQ(result(4 * n + 3), 0u) << "level " << n;
    }
}
