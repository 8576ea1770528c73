#include <gtest/gtest.h>

#include "board/cart/eeprom.h"
#include "board/smpc/smpc_harness.h"
#include "support/log_capture.h"

using namespace smpctest;

namespace {

class SmpcTimed : public TimedTest {
protected:
    bool masterHas(int vector) const
    {
        for (const auto& p : sys->master().pendingInterrupts()) {
            if (p.vector == vector)
                return true;
        }
        return false;
    }
};

class CountingPad : public Pad {
public:
    explicit CountingPad(std::vector<std::string>* order, std::string name) : Pad(name), m_order(order) {}
    void poll() override { m_order->push_back(name()); }

private:
    std::vector<std::string>* m_order;
};

}  // namespace

// Each command takes effect 1000 ns after the write, by the scheduler's
// clock, and only then frees the SMPC and clears SF; no V-BLANK-IN runs here
// to clear SF for it.
TEST_F(SmpcTimed, EveryCommandRunsOneMicrosecondAfterItsWrite)
{
    struct Case {
        u8 code;
        std::function<bool()> done;
        std::vector<u8> iregs;
        u8 sfAfter;
    };
    SH2& master = sys->master();
    const std::vector<Case> cases = {
        {0x00, [&] { return master.runState() == kRunning; }, {}, 0},
        {kSshon, [&] { return sys->slave().runState() == kRunning; }, {}, 0},
        {kSshoff, [&] { return sys->slave().runState() == kOff; }, {}, 0},
        {kSndon, [&] { return sys->m68k().runState() == kRunning && smpc().soundOn(); }, {}, 0},
        {kSndoff, [&] { return sys->m68k().runState() == kOff && !smpc().soundOn(); }, {}, 0},
        {kCdon, [&] { return smpc().cdOn(); }, {}, 0},
        {kCdoff, [&] { return !smpc().cdOn(); }, {}, 0},
        {kSysres, [&] { return masterHas(0); }, {}, 0},
        {kNmireq, [&] { return masterHas(11); }, {}, 0},
        {kCkchg352, [&] { return sys->period() == 17 && smpc().clock352(); }, {}, 0},
        {kCkchg320, [&] { return sys->period() == 18 && !smpc().clock352(); }, {}, 0},
        {kSettime, [&] { return smpc().timeSet(); }, {0x19, 0x99, 0x12, 0x31, 0x23, 0x59, 0x58}, 0},
        {kSetsmem, [&] { return smpc().smem()[3] == 0x44; }, {0x11, 0x22, 0x33, 0x44}, 0},
        {kResdisa, [&] { return smpc().resetDisabled(); }, {}, 0},
        {kResenab, [&] { return !smpc().resetDisabled(); }, {}, 0},
        // No modem: its switches end at once, or a program waiting for SF at boot would hang.
        {kNetlinkon, [&] { return !smpc().busy(); }, {}, 0},
        {kNetlinkoff, [&] { return !smpc().busy(); }, {}, 0},
        {0x05, [&] { return true; }, {}, 1},
    };
    u64 t = 20000;
    for (const Case& c : cases) {
        at(t, [&] { issue(c.code, c.iregs); });
        at(t + 999, [&] {
            EXPECT_TRUE(smpc().busy()) << int(c.code);
            EXPECT_EQ(smpc().oreg(31), c.code);
            EXPECT_EQ(smpc().sf(), 1);
            if (c.code != 0x05) {
                EXPECT_FALSE(c.done()) << int(c.code);
            }
        });
        at(t + 1001, [&] {
            EXPECT_FALSE(smpc().busy()) << int(c.code);
            EXPECT_TRUE(c.done()) << int(c.code);
            EXPECT_EQ(smpc().sf(), c.sfAfter) << int(c.code);
        });
        t += 50000;
    }
    runTo(t);
}

// The delay counts from the writer's own position in the slice.
TEST_F(SmpcTimed, CommandDelayFollowsTheWritersPosition)
{
    SH2& master = sys->master();
    at(20000, [&] {
        master.setLocalTime(360);  // ten clocks into the slice
        issue(kCdon);
        master.setLocalTime(0);
    });
    at(21359, [&] { EXPECT_FALSE(smpc().cdOn()); });
    at(21361, [&] { EXPECT_TRUE(smpc().cdOn()); });
    runTo(30000);
}

TEST_F(SmpcTimed, IntbackPhasesFollowTheirDelays)
{
    auto pad = std::make_shared<Pad>("PAD");
    pad->getData()[0] = 0x12;
    pad->getData()[1] = 0x34;
    smpc().getPort(0).attach(pad);

    // Status only: 5000 ns, then the SMPC is free.
    at(10000, [&] { issue(kIntback, {0x01, 0x00}); });
    at(10001, [&] { EXPECT_EQ(smpc().sr(), 0x00); });
    at(14999, [&] { EXPECT_EQ(smpc().oreg(8), 0x00); });
    at(15001, [&] {
        EXPECT_EQ(smpc().sr(), 0x40);
        EXPECT_EQ(smpc().oreg(8), 0x01);
        EXPECT_FALSE(smpc().busy());
        EXPECT_EQ(smpc().sf(), 0);
    });

    // Peripheral data only: 10000 ns.
    at(100000, [&] { issue(kIntback, {0x00, 0x08}); });
    at(109999, [&] { EXPECT_EQ(smpc().sr(), 0x00); });
    at(110001, [&] {
        EXPECT_EQ(smpc().sr(), 0xC0);
        EXPECT_EQ(oregs()[2], 0x12);
        EXPECT_FALSE(smpc().busy());
    });

    // Status at 1000 ns, peripheral data 150000 ns after it.
    at(200000, [&] { issue(kIntback, {0x01, 0x08}); });
    at(201001, [&] {
        EXPECT_EQ(smpc().sr(), 0x40);
        EXPECT_TRUE(smpc().busy());
        EXPECT_EQ(smpc().sf(), 1);
    });
    at(350999, [&] { EXPECT_EQ(smpc().sr(), 0x40); });
    at(351001, [&] {
        EXPECT_EQ(smpc().sr(), 0xC0);
        EXPECT_EQ(oregs()[3], 0x34);
        EXPECT_FALSE(smpc().busy());
    });

    // CONTINUE after the status: the data 10000 ns later, and the phase
    // that was due at 150000 ns finds nothing to do.
    at(400000, [&] { issue(kIntback, {0x01, 0x08}); });
    at(405000, [&] { write(kIreg0, 0x81); });
    at(414999, [&] { EXPECT_EQ(smpc().sr(), 0x40); });
    at(415001, [&] {
        EXPECT_EQ(smpc().sr(), 0xC0);
        EXPECT_FALSE(smpc().busy());
        pad->getData()[0] = 0x56;
    });
    at(551001, [&] { EXPECT_EQ(oregs()[2], 0x12) << "a second peripheral phase ran"; });
    runTo(600000);
}

TEST_F(SmpcTimed, BreakContinueEdgeCases)
{
    LogCapture log;
    at(10000, [&] { issue(kIntback, {0x01, 0x08}); });
    at(12000, [&] { write(kIreg0, 0xC1); });  // bit 7 toggled and bit 6 set: refused
    at(13000, [&] {
        write(kIreg0, 0x81);  // bit 7 as before, bit 6 clear: nothing
        write(kIreg0, 0x81);
        EXPECT_TRUE(smpc().busy());
        EXPECT_TRUE(smpc().intbackInProgress());
        write(kIreg0, 0xC1);  // bit 6 set, bit 7 as before: BREAK
        EXPECT_FALSE(smpc().busy());
        EXPECT_FALSE(smpc().intbackInProgress());
        EXPECT_EQ(smpc().sf(), 0);
    });
    at(160000, [&] { EXPECT_EQ(smpc().sr(), 0x40) << "the peripheral phase ran after BREAK"; });
    // Outside an INTBACK, IREG0 is a plain register.
    at(170000, [&] {
        write(kIreg0, 0x40);
        EXPECT_EQ(smpc().ireg(0), 0x40);
    });
    runTo(200000);
    EXPECT_TRUE(log.contains("SMPC: Prohibited BREAK/CONTINUE mode\n")) << log.text();
}

TEST_F(SmpcTimed, VBlankInEndsTheCommandButNotAScheduledExecution)
{
    auto pad = std::make_shared<Pad>("PAD");
    smpc().getPort(0).attach(pad);
    at(10000, [&] { issue(kIntback, {0x01, 0x08}); });
    at(20000, [&] {
        smpc().onVBlankIn();
        EXPECT_FALSE(smpc().busy());
        EXPECT_EQ(smpc().sf(), 0);
        EXPECT_EQ(currentScanline, -11);
        EXPECT_TRUE(smpc().inVBlank());
    });
    at(170000, [&] { EXPECT_EQ(smpc().sr(), 0x40) << "the peripheral phase ran after V-BLANK-IN"; });
    at(200000, [&] {
        issue(kCdon);
        smpc().onVBlankIn();
        EXPECT_FALSE(smpc().busy());
    });
    at(200999, [&] { EXPECT_FALSE(smpc().cdOn()); });
    at(201001, [&] { EXPECT_TRUE(smpc().cdOn()); });
    runTo(300000);
}

TEST_F(SmpcTimed, ACommandWhileBusyIsDropped)
{
    LogCapture log;
    at(10000, [&] { issue(kIntback, {0x01, 0x08}); });
    at(11500, [&] {
        ASSERT_EQ(smpc().sr(), 0x40);
        issue(kCdon);
        EXPECT_EQ(smpc().comreg(), kCdon);
        EXPECT_EQ(smpc().sr(), 0x00);  // masked to the reset-button bit
        EXPECT_EQ(smpc().oreg(31), kIntback);
    });
    runTo(300000);
    EXPECT_FALSE(smpc().cdOn());
    EXPECT_EQ(smpc().oreg(0), 0xF1) << "the INTBACK's data";
    EXPECT_TRUE(log.contains("SMPC: Command is executing!, INTBACK: 1\n")) << log.text();
}

TEST_F(SmpcTimed, SlaveAccessesAreLoggedAndItsCommandsRefused)
{
    SH2& slave = sys->slave();
    LogCapture log;
    issue(kSshon, {}, &slave);
    runFor(2000);
    EXPECT_EQ(slave.runState(), kOff);
    EXPECT_FALSE(smpc().busy());
    EXPECT_EQ(smpc().sf(), 1);
    EXPECT_TRUE(log.contains("SMPC: Slave SH2: WB [A:20100063, D: 01]\n")) << log.text();
    EXPECT_TRUE(log.contains("SMPC: Slave SH2: WB [A:2010001F, D: 02]\n"));
    EXPECT_TRUE(log.contains("SMPC: Slave SH2 can't execute SSHON\n"));

    for (u8 code : {kSshoff, kCkchg352, kCkchg320}) {
        issue(code, {}, &slave);
        runFor(2000);
    }
    EXPECT_EQ(sys->period(), 18u);
    EXPECT_TRUE(log.contains("SMPC: Slave SH2 can't execute SSHOFF\n"));
    EXPECT_TRUE(log.contains("SMPC: Slave SH2 can't execute CKCHG352\n"));
    EXPECT_TRUE(log.contains("SMPC: Slave SH2 can't execute CKCHG320\n"));

    log.clear();
    issue(kIntback, {0x01, 0x00}, &slave);
    EXPECT_FALSE(smpc().busy());
    EXPECT_EQ(smpc().sf(), 0);
    EXPECT_TRUE(log.contains("SMPC: Slave SH2 can't execute INTBACK\n"));
    log.clear();
    EXPECT_EQ(read(kSr, &slave), 0x00);
    EXPECT_EQ(log.text(), "SMPC: Slave SH2: RB [A:20100061]\n");

    // Slave commands that are allowed run as the master's do.
    issue(kNmireq, {}, &slave);
    runFor(2000);
    EXPECT_FALSE(smpc().busy());
}

TEST_F(SmpcTimed, RegisterMapMirrorsAndFoldedAccesses)
{
    LogCapture log;
    PageMap& bus = *sys->master().pageMap();
    CPU* m = &sys->master();
    write(kIreg0 + 2, 0x5A);
    EXPECT_EQ(smpc().ireg(1), 0x5A);
    EXPECT_EQ(read(kIreg0 + 2), 0xFF);
    write(kComreg, 0x05);
    EXPECT_EQ(read(kComreg), 0x05);
    runFor(2000);
    log.clear();
    for (u8 offset : {0x79, 0x7B, 0x7D, 0x7F, 0x00, 0x1E, 0x60, 0x65})
        EXPECT_EQ(read(offset), 0xFF) << int(offset);
    EXPECT_EQ(log.text(), "");

    // SF: a write with bit 0 clear changes nothing.
    write(kSf, 0x01);
    write(kSf, 0x00);
    EXPECT_EQ(read(kSf), 0x01);
    write(kSf, 0xFE);
    EXPECT_EQ(read(kSf), 0x01);

    // The 128-byte block repeats through the window.
    EXPECT_EQ(bus.readByte(m, 0x2017FF80 + kSf), 0x01);
    EXPECT_EQ(bus.readByte(m, 0x00100080 + kComreg), 0x05);

    // Folded widths: high byte first.
    EXPECT_EQ(bus.readWord(m, kSmpc + 0x62), 0xFF01);
    EXPECT_EQ(bus.readLong(m, kSmpc + 0x1C), 0xFFFFFF05u);
    EXPECT_EQ(bus.readLong(m, kSmpc + 0x5C), 0xFF00FF05u);  // OREG30, OREG31 (the last command)
    bus.writeWord(m, kSmpc + 0x02, 0x1234);
    EXPECT_EQ(smpc().ireg(1), 0x34);
    bus.writeLong(m, kSmpc + 0x04, 0xAABBCCDD);
    EXPECT_EQ(smpc().ireg(2), 0xBB);
    EXPECT_EQ(smpc().ireg(3), 0xDD);

    log.clear();
    write(kOreg0, 0x11);
    write(kSr, 0x22);
    write(0x02, 0x33);
    write(0x70, 0x44);
    EXPECT_EQ(log.text(),
              "SMPC: Bad WB [A: 20100021, D: 11]\n"
              "SMPC: Bad WB [A: 20100061, D: 22]\n"
              "SMPC: Bad WB [A: 20100002, D: 33]\n"
              "SMPC: Bad WB [A: 20100070, D: 44]\n");
    EXPECT_EQ(smpc().oreg(0), 0x00);

    // OREG3 tells when it is read, at the higher verbosity.
    smpc().setThreshold(2);
    currentScanline = 77;
    log.clear();
    read(kOreg0 + 6);
    read(kOreg0 + 4);
    EXPECT_EQ(log.text(), "SMPC: Read OREG3, scanline: 77\n");
}

TEST_F(SmpcTimed, ResetKeepsTheBatteryStateAndClearsTheFlags)
{
    smpc().setAreaCode(12);
    for (u8 code : {kCdon, kSndon, kResdisa, kSysres, kCkchg352})
        run(code);
    run(kSettime, {0x20, 0x01, 0x01, 0x02, 0x03, 0x04, 0x05});
    run(kSetsmem, {1, 2, 3, 4});
    run(kIntback, {0x01, 0x00});
    EXPECT_EQ(oregs()[0], 0xC0);
    EXPECT_EQ(oregs()[10], 0x7F);
    EXPECT_EQ(oregs()[11], 0x40);

    smpc().restart();
    run(kIntback, {0x01, 0x00});
    const std::vector<u8> o = oregs();
    EXPECT_EQ(o[0], 0x80);
    EXPECT_EQ(std::vector<u8>(o.begin() + 1, o.begin() + 16),
              (std::vector<u8>{0x20, 0x01, 0x21, 0x02, 0x03, 0x04, 0x05, 0x01, 12, 0x34, 0x00, 1, 2, 3, 4}));
}

TEST_F(SmpcTimed, FrameEventsPollThePortsAndTrackTheScanline)
{
    std::vector<std::string> order;
    smpc().getPort(1).attach(std::make_shared<CountingPad>(&order, "PAD2"));
    smpc().getPort(0).attach(std::make_shared<CountingPad>(&order, "PAD1"));
    LogCapture log;
    smpc().setThreshold(2);
    smpc().onVBlankIn();
    smpc().onVBlankOut();
    EXPECT_EQ(currentScanline, -12);
    EXPECT_FALSE(smpc().inVBlank());
    EXPECT_EQ(order, (std::vector<std::string>{"PAD1", "PAD2"}));
    for (int line : {6, 7, 8, 9})
        smpc().onHBlankOut(line);
    EXPECT_EQ(log.text(), "SMPC: VBlankIn\nSMPC: VblankOut\nSMPC: scanline: 7\nSMPC: scanline: 8\n");
}

namespace {

// The arcade board's EEPROM behind port 1's lines: CS bit 2, SK bit 3,
// DI bit 4; DO comes back in bit 5 of port 2.
class SmpcArcade : public SmpcTimed {
protected:
    void SetUp() override
    {
        SmpcTimed::SetUp();
        sys->machineKind = kArcade;
        std::memcpy(saved, boardEeprom().data(), EEPROM::kBytes);
        sys->m68k().switchOn();
    }
    void TearDown() override
    {
        std::memcpy(boardEeprom().data(), saved, EEPROM::kBytes);
        SmpcTimed::TearDown();
    }
    void clockIn(u32 bit)
    {
        write(kPdr1, static_cast<u8>(0x04 | bit << 4));
        write(kPdr1, static_cast<u8>(0x0C | bit << 4));
    }

    u8 saved[EEPROM::kBytes];
};

}  // namespace

TEST_F(SmpcArcade, EepromReadThroughThePortLines)
{
    boardEeprom().data()[10] = 0x12;  // word 5
    boardEeprom().data()[11] = 0x34;
    write(kPdr1, 0x00);
    write(kPdr1, 0x04);  // chip select
    EXPECT_EQ(read(kPdr2), 0xFF) << "DO is not driven after a chip select";
    for (u32 bit : {1u, 1u, 0u, 0u, 0u, 0u, 1u, 0u, 1u})  // start, READ, address 5
        clockIn(bit);
    EXPECT_EQ(read(kPdr2), 0xDF) << "the dummy 0";
    u32 word = 0;
    for (int k = 0; k < 16; ++k) {
        write(kPdr1, 0x04);  // data changes on the falling clock
        const u8 v = read(kPdr2);
        EXPECT_EQ(v | 0x20, 0xFF);
        word = word << 1 | ((v >> 5) & 1);
        write(kPdr1, 0x0C);
    }
    EXPECT_EQ(word, 0x1234u);
    write(kPdr1, 0x00);
}

TEST_F(SmpcArcade, CartridgeSelectAndSoundHoldLine)
{
    LogCapture log;
    smpc().setThreshold(2);
    write(kPdr1, 0x02);
    write(kPdr1, 0x02);
    write(kPdr1, 0x00);
    EXPECT_EQ(log.text(), "SMPC: Select cart #3\nSMPC: Select cart #1\n");

    log.clear();
    write(kSf, 1);
    write(kPdr2, 0x10);  // hold: the 68000 stops
    EXPECT_EQ(sys->m68k().runState(), kOff);
    EXPECT_FALSE(smpc().soundOn());
    EXPECT_EQ(smpc().sf(), 0);
    write(kPdr2, 0x10);  // no edge
    write(kSf, 1);
    write(kPdr2, 0xEF);  // released: it starts again
    EXPECT_EQ(sys->m68k().runState(), kRunning);
    EXPECT_TRUE(smpc().soundOn());
    EXPECT_EQ(smpc().sf(), 0);
    EXPECT_EQ(log.text(), "SMPC: SNDOFF\nSMPC: SNDON\n");
}

TEST_F(SmpcArcade, OtherMachineKindsIgnoreThePortLines)
{
    sys->machineKind = kUnsupported;
    LogCapture log;
    write(kPdr1, 0x04);
    write(kPdr2, 0x10);
    EXPECT_EQ(read(kPdr2), 0xFF);
    EXPECT_EQ(sys->m68k().runState(), kRunning);
    EXPECT_EQ(log.text(), "");
}
