#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "board/smpc/smpc_harness.h"
#include "support/log_capture.h"

using namespace smpctest;

namespace {

// A pad whose host side reports two fixed bytes and counts its polls.
class FixedPad : public Pad {
public:
    FixedPad(u8 b0, u8 b1) : Pad("PAD"), m_bytes{b0, b1} {}
    void poll() override
    {
        ++polls;
        getData()[0] = m_bytes[0];
        getData()[1] = m_bytes[1];
    }
    int polls = 0;

private:
    u8 m_bytes[2];
};

class SmpcCommands : public RunnerTest {
protected:
    void reopenMask() { op(6); }
    void spin(u8 times64) { op(7, 0, times64); }
    // Status only; the script goes on once the reply has reached the
    // interrupt handler, which is the count-th interrupt.
    void status(u8 count)
    {
        command(kIntback, {0x01, 0x00});
        waitInterrupts(count);
    }

    std::vector<u8> expectedStatus(u8 oreg10, u8 oreg11 = 0, u8 oreg0 = 0) const
    {
        const u8 head[] = {oreg0, 0x19, 0x93, 0x5C, 0x31, 0x12, 0x59, 0x59, 0x01, 0x00, oreg10, oreg11};
        std::vector<u8> v(34, 0);
        std::copy(std::begin(head), std::end(head), v.begin());
        v[31] = 0x10;  // OREG31: the command
        v[32] = 0x40;  // SR; SF stays 0
        return v;
    }
};

// The peripheral phase clears all 32 output registers, OREG31 included.
std::vector<u8> periphReply(std::vector<u8> head, u8 sr)
{
    head.resize(32, 0);
    head.push_back(sr);
    head.push_back(0x00);
    return head;
}

}  // namespace

TEST_F(SmpcCommands, StatusOnlyIntbackReportsTheUnsetClockOnce)
{
    smpc().setAreaCode(4);
    command(kIntback, {0x01, 0x00});
    ASSERT_TRUE(run(20, 3));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(interrupts(), 1u);
    std::vector<u8> expected = expectedStatus(0x34);
    expected[9] = 0x04;  // the area code
    EXPECT_EQ(slot(0), expected);

    // Opening the folder left a fresh battery file behind.
    std::vector<u8> fresh(32, 0);
    std::memcpy(fresh.data(), "KEST BATTERY", 12);
    EXPECT_EQ(battery(), fresh);
}

TEST_F(SmpcCommands, StatusThenPeripheralDataWithAPad)
{
    auto pad = std::make_shared<FixedPad>(0x7E, 0xBF);
    pad->poll();  // as the host did at the last V-BLANK-OUT
    ASSERT_TRUE(smpc().getPort(0).attach(pad));
    // Port 1 in mode 1, port 2 in mode 2.
    command(kIntback, {0x01, 0x98});
    waitInterrupts(2);
    ASSERT_TRUE(run(20, 2));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(interrupts(), 2u);
    std::vector<u8> status = expectedStatus(0x34);
    status[33] = 0x01;  // SF stays set until the peripheral data are in
    EXPECT_EQ(slot(0), status);
    EXPECT_EQ(slot(1), periphReply({0xF1, 0x02, 0x7E, 0xBF, 0xF0, 0xFF, 0xFF, 0xFF}, 0xC9));
    EXPECT_GT(pad->polls, 1) << "polled at V-BLANK-OUT";
}

TEST_F(SmpcCommands, PeripheralOnlyIntbackAndAnEmptyMachine)
{
    command(kIntback, {0x00, 0x08});
    waitInterrupts(1);
    ASSERT_TRUE(run(20, 2));
    EXPECT_EQ(interrupts(), 1u);
    // Nothing attached: port 1 still reports its power-on status.
    EXPECT_EQ(slot(0), periphReply({0xF1, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF}, 0xC0));
}

TEST_F(SmpcCommands, BreakAfterTheStatusDropsThePeripheralPhase)
{
    smpc().getPort(0).attach(std::make_shared<FixedPad>(0xFF, 0xFF));
    command(kIntback, {0x01, 0x08}, false);
    waitInterrupts(1);
    write(kIreg0, 0x41);  // BREAK: bit 6 set, bit 7 unchanged
    waitSf();
    read(kSf);
    command(kNmireq);  // the SMPC takes commands again
    ASSERT_TRUE(run(20, 3));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(reads(1), std::vector<u8>{0x00});
    EXPECT_EQ(interrupts(), 1u);
    EXPECT_EQ(nmis(), 1u);
    EXPECT_EQ(slot(0)[32], 0x40);
}

TEST_F(SmpcCommands, ContinueAfterTheStatusFetchesThePeripheralData)
{
    auto pad = std::make_shared<FixedPad>(0xEF, 0xF7);
    pad->poll();
    smpc().getPort(0).attach(pad);
    command(kIntback, {0x01, 0x08}, false);
    waitInterrupts(1);
    write(kIreg0, 0x81);  // CONTINUE: bit 7 toggled, bit 6 clear
    waitInterrupts(2);
    waitSf();
    ASSERT_TRUE(run(20, 3));
    EXPECT_EQ(timeouts(), 0u);
    // The automatic phase that was due later finds nothing to do.
    EXPECT_EQ(interrupts(), 2u);
    EXPECT_EQ(slot(1), periphReply({0xF1, 0x02, 0xEF, 0xF7, 0xF0, 0xFF, 0xFF, 0xFF}, 0xC0));
}

TEST_F(SmpcCommands, IntbackWithNothingToGetHoldsTheSmpcUntilVBlank)
{
    LogCapture log;
    command(kIntback, {0x00, 0x00});
    command(kNmireq);  // dropped; SF clears only at the next V-BLANK-IN
    command(kNmireq);
    ASSERT_TRUE(run(20, 2));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(nmis(), 1u);
    EXPECT_EQ(interrupts(), 0u);
    EXPECT_TRUE(log.contains("SMPC: Command is executing!, INTBACK: 0\n")) << log.text();
}

TEST_F(SmpcCommands, SlaveStartsAtItsVectorAndStopsAgain)
{
    LogCapture log;
    command(kSshon);
    waitVBlank();
    waitVBlank();
    command(kSshoff);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(timeouts(), 0u);
    const u32 entry = ram(0x250);
    ASSERT_NE(entry, 0u);
    char line[64];
    std::snprintf(line, sizeof line, "SH2(S): reset [PC: %08X, SP: 06001000]\n", entry);
    EXPECT_TRUE(log.contains(line)) << log.text().substr(0, 2000);
    EXPECT_EQ(sys->slave().runState(), kOff);
    const u32 counted = slaveCounter();
    EXPECT_GT(counted, 1000u);
    sys->runFrame();
    EXPECT_EQ(slaveCounter(), counted);
}

TEST_F(SmpcCommands, SoundAndCdPowerShowInTheStatus)
{
    command(kSndon);
    command(kCdon);
    status(1);
    command(kSndoff);
    command(kCdoff);
    status(2);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(slot(0), expectedStatus(0x35, 0x40));
    EXPECT_EQ(slot(1), expectedStatus(0x34, 0x00));
    EXPECT_EQ(sys->m68k().runState(), kOff);
}

TEST_F(SmpcCommands, SystemResetStopsTheSlaveAndInterruptsTheMaster)
{
    command(kSshon);
    waitVBlank();
    command(kSysres);
    status(1);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(systemResets(), 1u);
    EXPECT_EQ(slot(0), expectedStatus(0x3E));
    // Its processor is stopped while its run state stays.
    const u32 counted = slaveCounter();
    EXPECT_GT(counted, 0u);
    sys->runFrame();
    EXPECT_EQ(slaveCounter(), counted);
}

TEST_F(SmpcCommands, ClockChangesSetEveryClockAndClearVideoMemory)
{
    SystemMemory& mem = sys->memory();
    mem.vdp1Memory[0] = mem.vdp1Memory[0x7FFFF] = 0x55;
    // The frame buffers stay; VDP1's own erase at each field clears only
    // the first word of a buffer row under the power-on erase window.
    mem.vdp1Memory[0x80100] = 0x66;
    mem.vdp2Vram[0] = mem.vdp2Vram[0x7FFFF] = 0x77;
    command(kSshon);
    command(kCkchg352);
    reopenMask();
    status(1);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(timeouts(), 0u);
    EXPECT_EQ(nmis(), 1u);
    EXPECT_EQ(slot(0), expectedStatus(0x74));
    EXPECT_EQ(sys->period(), 17u);
    EXPECT_EQ(sys->master().period(), 34u);
    EXPECT_EQ(sys->slave().period(), 34u);
    EXPECT_EQ(sys->scu().period(), 68u);
    EXPECT_EQ(mem.vdp1Memory[0], 0);
    EXPECT_EQ(mem.vdp1Memory[0x7FFFF], 0);
    EXPECT_EQ(mem.vdp1Memory[0x80100], 0x66);
    EXPECT_EQ(mem.vdp2Vram[0], 0);
    EXPECT_EQ(mem.vdp2Vram[0x7FFFF], 0);
    const u32 counted = slaveCounter();
    sys->runFrame();
    EXPECT_EQ(slaveCounter(), counted) << "the slave keeps running";

    script.clear();
    command(kCkchg320);
    reopenMask();
    status(2);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(nmis(), 2u);
    EXPECT_EQ(slot(1), expectedStatus(0x34));
    EXPECT_EQ(sys->period(), 18u);
    EXPECT_EQ(sys->master().period(), 36u);
    EXPECT_EQ(sys->scu().period(), 72u);
    EXPECT_EQ(sys->scu().dsp().period(), 72u);
}

TEST_F(SmpcCommands, SetTimeAndSetSmemReachTheStatusAndTheBatteryFile)
{
    ScopedTimeZone utc("UTC");
    // 2024-03-04 05:06:07, given with a wrong weekday (0) in IREG2.
    command(kSettime, {0x20, 0x24, 0x03, 0x04, 0x05, 0x06, 0x07});
    command(kSetsmem, {0xA1, 0xB2, 0xC3, 0xD4});
    command(kResdisa);
    status(1);
    command(kResenab);
    status(2);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(timeouts(), 0u);
    std::vector<u8> expected = {0xC0, 0x20, 0x24, 0x13, 0x04, 0x05, 0x06, 0x07, 0x01, 0x00, 0x34, 0x00,
                                0xA1, 0xB2, 0xC3, 0xD4};
    expected.resize(31, 0);
    expected.insert(expected.end(), {0x10, 0x40, 0x00});
    EXPECT_EQ(slot(0), expected);
    expected[0] = 0x80;
    EXPECT_EQ(slot(1), expected);

    // Set 3 days 5:06:07 after the host's clock.
    const std::vector<u8> file = battery();
    ASSERT_EQ(file.size(), 32u);
    EXPECT_EQ(std::vector<u8>(file.begin() + 16, file.end()),
              (std::vector<u8>{1, 0, 0, 0, 0xA1, 0xB2, 0xC3, 0xD4, 0, 0, 0, 0, 0, 0x04, 0x3C, 0x3F}));
}

// An unknown code leaves SF set until the next V-BLANK-IN ends it.
TEST_F(SmpcCommands, AnInvalidCommandLeavesSfSet)
{
    LogCapture log;
    command(0x05, {}, false);
    spin(100);
    read(kSf);
    read(kComreg);
    read(kOreg0 + 2 * 31);
    command(kNmireq);
    ASSERT_TRUE(run(20, 1));
    EXPECT_EQ(reads(3), (std::vector<u8>{0x01, 0x05, 0x05}));
    EXPECT_EQ(nmis(), 1u);
    // One invalid command: the one with code 05.
    EXPECT_EQ(log.text().find("Invalid command!"), log.text().rfind("Invalid command! [COMREG: 05]\n"));
}

TEST_F(SmpcCommands, DirectModeReadsTheHostPad)
{
    // Right and Start pressed on byte 0; X and L on byte 1.
    hostPadState[0] = 0xFF & ~0x80 & ~0x08;
    hostPadState[1] = 0xFF & ~0x40 & ~0x08;
    write(kIosel, 0x03);
    write(kDdr1, 0x60);  // TH and TR driven by the SH-2
    auto writeRead = [&](u8 offset, u8 value, u8 port) {
        write(offset, value);
        read(port);
    };
    for (u8 select : {0x00, 0x20, 0x40, 0x60, 0x80, 0xE0})
        writeRead(kPdr1, select, kPdr1);
    write(kDdr1, 0x40);  // TH only
    writeRead(kPdr1, 0x00, kPdr1);
    writeRead(kPdr1, 0x40, kPdr1);
    writeRead(kDdr1, 0x20, kPdr1);  // a mode that reads nothing
    write(kDdr2, 0x60);
    writeRead(kPdr2, 0x20, kPdr2);  // port 2 sees the same pad
    writeRead(kIosel, 0x01, kPdr2);  // port 2 back in SMPC control
    ASSERT_TRUE(run(20, 1));
    const std::vector<u8> expected = {
        0x1B,  // TH 0 TR 0: R X Y Z       = 1 0 1 1
        0x17,  // TH 0 TR 1: Right Left Down Up = 0 1 1 1
        0x17,  // TH 1 TR 0: Start A C B   = 0 1 1 1
        0x14,  // TH 1 TR 1: L 1 0 0       = 0 1 0 0
        0x9B,  // the SH-2's own bit 7 reads back
        0x94,
        0x37,  // TH 0: Right Left Down Up
        0x74,  // TH 1: L and bit 2 of byte 1
        0x00,
        0x17,
        0x00,
    };
    EXPECT_EQ(reads(expected.size()), expected);
}
