#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/base/helpers.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

class SystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        hostPadState[0] = hostPadState[1] = 0xFF;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
        hostPadState[0] = hostPadState[1] = 0xFF;
    }

    PageMap& bus() { return *sys->master().pageMap(); }
    CPU* m() { return &sys->master(); }

    std::unique_ptr<CSystem> sys;
};

}  // namespace

TEST_F(SystemTest, ClockPeriodsAfterSetupAndAClockChange)
{
    EXPECT_EQ(sys->period(), 18u);
    EXPECT_EQ(sys->master().period(), 36u);
    EXPECT_EQ(sys->slave().period(), 36u);
    EXPECT_EQ(sys->scu().period(), 72u);
    EXPECT_EQ(sys->scu().dsp().period(), 72u);
    EXPECT_EQ(sys->scu().dmac().period(), 9u);
    EXPECT_EQ(sys->vdp1().period(), 36u);
    EXPECT_EQ(sys->m68k().period(), 88u);

    sys->setClock(CSystem::kFastSystemClockHz);
    EXPECT_EQ(sys->period(), 17u);
    EXPECT_EQ(sys->master().period(), 34u);
    EXPECT_EQ(sys->slave().period(), 34u);
    EXPECT_EQ(sys->scu().period(), 68u);
    EXPECT_EQ(sys->scu().dsp().period(), 72u);
    EXPECT_EQ(sys->scu().dmac().period(), 9u);
    EXPECT_EQ(sys->vdp1().period(), 36u);
    EXPECT_EQ(sys->m68k().period(), 88u);
    sys->setClock(CSystem::kSystemClockHz);
    EXPECT_EQ(sys->master().period(), 36u);

    // The clock a game chose outlives neither a reset nor the game.
    sys->powerOn();
    for (bool powerCycle : {false, true}) {
        sys->setClock(CSystem::kFastSystemClockHz);
        if (powerCycle) {
            sys->powerOff();
            sys->powerOn();
        } else {
            sys->reset();
        }
        EXPECT_EQ(sys->period(), 18u) << powerCycle;
        EXPECT_EQ(sys->master().period(), 36u) << powerCycle;
        EXPECT_EQ(sys->slave().period(), 36u) << powerCycle;
        EXPECT_EQ(sys->scu().period(), 72u) << powerCycle;
    }
}

TEST_F(SystemTest, DeviceListsAndPower)
{
    const std::vector<Device*> all = {&sys->master(), &sys->scu(), &sys->smpc(), &sys->vdp1(),
                                      &sys->vdp2(), &sys->scsp(), &sys->cdb(), &sys->drive()};
    const std::vector<Device*> sliced = {&sys->master(), &sys->slave(), &sys->scu().dmac(),
                                         &sys->scu().dsp(), &sys->vdp1(), &sys->m68k()};
    EXPECT_EQ(sys->devices(), all);
    EXPECT_EQ(sys->slicedDevices(), sliced);

    sys->powerOn();
    EXPECT_EQ(sys->master().runState(), kRunning);
    EXPECT_EQ(sys->slave().runState(), kOff);
    EXPECT_EQ(sys->m68k().runState(), kOff);
    EXPECT_EQ(sys->scu().dsp().runState(), kRunning);

    sys->slave().switchOn();
    sys->memory().workRamHigh[0x1234] = 0x77;
    sys->memory().workRamLow[0x10] = 0x66;
    sys->memory().vdp1Memory[0x100] = 0x55;
    sys->memory().vdp1Memory[0xFFFFF] = 0x55;
    sys->memory().vdp2Vram[0x7FFFF] = 0x44;
    sys->memory().vdp2ColorRam[0xFFF] = 0x33;
    sys->reset();
    EXPECT_EQ(sys->slave().runState(), kOff);
    EXPECT_EQ(sys->memory().workRamHigh[0x1234], 0x77);
    EXPECT_EQ(sys->memory().workRamLow[0x10], 0x66);
    EXPECT_EQ(sys->memory().vdp1Memory[0x100], 0);
    EXPECT_EQ(sys->memory().vdp1Memory[0xFFFFF], 0);
    EXPECT_EQ(sys->memory().vdp2Vram[0x7FFFF], 0);
    EXPECT_EQ(sys->memory().vdp2ColorRam[0xFFF], 0);

    sys->powerOff();
    EXPECT_EQ(sys->master().runState(), kOff);
    EXPECT_EQ(sys->runState(), kOff);
}

namespace {

enum Op { kRead, kWrite };

struct Access {
    Op op;
    int width;
    u32 address;
    u32 data;      // written, or expected when read
    const char* log;  // the exact lines, "" for none
};

}  // namespace

// Every window the machine serves itself, at every width, as the master sees it.
TEST_F(SystemTest, MemoryMapAnswersAndLogLines)
{
    SystemMemory& mem = sys->memory();
    mem.bios[0] = 0x12;
    mem.bios[1] = 0x34;
    mem.bios[2] = 0x56;
    mem.bios[3] = 0x78;
    mem.bios[0x7FFFF] = 0x9A;

    const Access table[] = {
        // BIOS ROM, seen twice; writes dropped quietly at level 1.
        {kRead, 1, 0x00000000, 0x12, ""},
        {kRead, 2, 0x00080000, 0x1234, ""},
        {kRead, 4, 0x00000000, 0x12345678, ""},
        {kRead, 1, 0x000FFFFF, 0x9A, ""},
        {kWrite, 1, 0x00000000, 0xFF, ""},
        {kWrite, 4, 0x00000000, 0xFFFFFFFF, ""},
        {kRead, 4, 0x00000000, 0x12345678, ""},
        // Work RAM low and high, with the high one seen 32 times.
        {kWrite, 4, 0x00200010, 0xCAFEBABE, ""},
        {kRead, 2, 0x00200012, 0xBABE, ""},
        {kRead, 1, 0x00300010, 0, "SYSTEM: DUMMY0: Bad RB [A: 00300010]\n"},
        {kWrite, 2, 0x06000020, 0xBEEF, ""},
        {kRead, 4, 0x07F00020, 0xBEEF0000, ""},
        {kRead, 1, 0x06000021, 0xEF, ""},
        // Areas without function.
        {kWrite, 2, 0x00400000, 0x1234, "SYSTEM: DUMMY1: Bad WW [A: 00400000, D: 1234]\n"},
        {kRead, 4, 0x02000000, 0, "SYSTEM: CS0: Bad RL [A: 02000000]\n"},
        {kWrite, 1, 0x04000001, 0xAB, "SYSTEM: CS1: Bad WB [A: 04000001, D: AB]\n"},
        {kRead, 2, 0x05000000, 0, "SYSTEM: DUMMY3: Bad RW [A: 05000000]\n"},
        {kRead, 2, 0x05800000, 0, "SYSTEM: CS2: Bad RW [A: 05800000]\n"},
        {kRead, 2, 0x05880000, 0, "SYSTEM: CS2: Bad RW [A: 05880000]\n"},
        {kWrite, 4, 0x058A0000, 1, "SYSTEM: CS2: Bad WL [A: 058A0000, D: 00000001]\n"},
        // DUMMY2 answers from its address without a line.
        {kRead, 1, 0x00800003, 1, ""},
        {kRead, 1, 0x0080000F, 7, ""},
        {kRead, 1, 0x00800002, 0, ""},
        {kRead, 2, 0x00800006, 3, ""},
        {kRead, 4, 0x0080000C, 6 * 0x10000 + 7, ""},
        {kWrite, 1, 0x00800000, 5, "SYSTEM: DUMMY2: Bad WB [A: 00800000, D: 05]\n"},
        // DUMMY4 would lock the real machine up.
        {kRead, 1, 0x05900000, 0, "SYSTEM: DUMMY4: Bad RB [A: 05900000], Lockup\n"},
        {kRead, 4, 0x05900004, 0, "SYSTEM: DUMMY4: Bad RL [A: 05900004], Lockup\n"},
        {kWrite, 2, 0x05900000, 9, "SYSTEM: DUMMY4: Bad WW [A: 05900000, D: 0009]\n"},
        // DUMMY5's fixed answers.
        {kRead, 1, 0x05FC0001, 0x0E, "SYSTEM: DUMMY5: Bad RB [A: 05FC0001]\n"},
        {kRead, 1, 0x05FC0002, 0, "SYSTEM: DUMMY5: Bad RB [A: 05FC0002]\n"},
        {kRead, 2, 0x05FC0000, 0x0E, "SYSTEM: DUMMY5: Bad RW [A: 05FC0000]\n"},
        {kRead, 2, 0x05FC0002, 0, "SYSTEM: DUMMY5: Bad RW [A: 05FC0002]\n"},
        {kRead, 4, 0x05FC0000, 0x000E0000, "SYSTEM: DUMMY5: Bad RL [A: 05FC0000]\n"},
        // MINIT and SINIT read all ones.
        {kRead, 1, 0x01000000, 0xFF, "SYSTEM: MINIT: Bad RB [A: 01000000]\n"},
        {kRead, 4, 0x01800000, 0xFFFFFFFF, "SYSTEM: SINIT: Bad RL [A: 01800000]\n"},
        {kWrite, 1, 0x01800000, 1, "SYSTEM: SINIT: Bad WB [A: 01800000, D: 01]\n"},
        // UNKREG: a register file behind a line per byte.
        {kWrite, 1, 0x05FF0010, 0x5A, "SYSTEM: UNKREG: Bad WB [A: 05FF0010, D: 5A]\n"},
        {kRead, 1, 0x05FF0010, 0x5A, "SYSTEM: UNKREG: Bad RB [A: 05FF0010]\n"},
        {kWrite, 2, 0x05FF0020, 0xA1B2,
         "SYSTEM: UNKREG: Bad WW [A: 05FF0020, D: A1B2]\n"
         "SYSTEM: UNKREG: Bad WB [A: 05FF0020, D: A1]\n"
         "SYSTEM: UNKREG: Bad WB [A: 05FF0021, D: B2]\n"},
        {kRead, 2, 0x05FF0020, 0xA1B2,
         "SYSTEM: UNKREG: Bad RB [A: 05FF0021]\n"
         "SYSTEM: UNKREG: Bad RB [A: 05FF0020]\n"
         "SYSTEM: UNKREG: Bad RW [A: 05FF0020]\n"},
        {kRead, 4, 0x05FF001E, 0x0000A1B2,
         "SYSTEM: UNKREG: Bad RB [A: 05FF0021]\n"
         "SYSTEM: UNKREG: Bad RB [A: 05FF0020]\n"
         "SYSTEM: UNKREG: Bad RW [A: 05FF0020]\n"
         "SYSTEM: UNKREG: Bad RB [A: 05FF001F]\n"
         "SYSTEM: UNKREG: Bad RB [A: 05FF001E]\n"
         "SYSTEM: UNKREG: Bad RW [A: 05FF001E]\n"
         "SYSTEM: UNKREG: Bad RL [A: 05FF001E]\n"},
    };

    for (const Access& t : table) {
        LogCapture log;
        u32 value = 0;
        for (u32 mirror : {0u, 0x20000000u}) {
            const u32 a = t.address + mirror;
            if (t.op == kWrite) {
                if (mirror)
                    continue;
                if (t.width == 1)
                    bus().writeByte(m(), a, static_cast<u8>(t.data));
                else if (t.width == 2)
                    bus().writeWord(m(), a, static_cast<u16>(t.data));
                else
                    bus().writeLong(m(), a, t.data);
                continue;
            }
            LogCapture quiet;
            value = t.width == 1 ? bus().readByte(m(), a) : t.width == 2 ? bus().readWord(m(), a) : bus().readLong(m(), a);
            EXPECT_EQ(value, t.data) << std::hex << "read " << t.width << " at " << a;
            if (!mirror) {
                EXPECT_EQ(quiet.text(), t.log) << std::hex << "at " << a;
            }
        }
        if (t.op == kWrite) {
            EXPECT_EQ(log.text(), t.log) << std::hex << "write at " << t.address;
        }
    }
}

TEST_F(SystemTest, BiosWritesAreLoggedAtLevelTwo)
{
    sys->setThreshold(2);
    LogCapture log;
    bus().writeWord(m(), 0x00000010, 0xABCD);
    EXPECT_EQ(log.text(), "SYSTEM: BIOS: Bad WW [A: 00000010, D: ABCD]\n");
}

TEST_F(SystemTest, BackupMemoryOnOddBytes)
{
    SystemMemory& mem = sys->memory();
    mem.backup[0] = 0x12;
    mem.backup[1] = 0x34;
    EXPECT_EQ(bus().readLong(m(), 0x00180000), 0xFF12FF34u);
    EXPECT_EQ(bus().readByte(m(), 0x00180000), 0xFF);
    EXPECT_EQ(bus().readByte(m(), 0x00180001), 0x12);
    EXPECT_EQ(bus().readWord(m(), 0x00180002), 0xFF34);

    bus().writeByte(m(), 0x00180005, 0xA1);
    bus().writeWord(m(), 0x00180006, 0x12B2);
    bus().writeLong(m(), 0x00180008, 0x00C300D4);
    EXPECT_EQ(mem.backup[2], 0xA1);
    EXPECT_EQ(mem.backup[3], 0xB2);
    EXPECT_EQ(mem.backup[4], 0xC3);
    EXPECT_EQ(mem.backup[5], 0xD4);
    // The console's 32 KB fill the 64 KB window.
    EXPECT_EQ(bus().readByte(m(), 0x00190001), 0x12);

    // A long at the last cell takes its second byte from the first cell.
    mem.backup[0x7FFF] = 0x99;
    EXPECT_EQ(bus().readLong(m(), 0x0018FFFE), 0xFF99FF12u);
    bus().writeLong(m(), 0x0018FFFE, 0x00770066);
    EXPECT_EQ(mem.backup[0x7FFF], 0x77);
    EXPECT_EQ(mem.backup[0], 0x66);

    // The arcade board's 8 KB repeat every 16 KB of address.
    sys->setBackupSize(0x2000, 0x3FFF);
    mem.backup[0x10] = 0x42;
    EXPECT_EQ(bus().readByte(m(), 0x00180021), 0x42);
    EXPECT_EQ(bus().readByte(m(), 0x00184021), 0x42);
    EXPECT_EQ(bus().readByte(m(), 0x0018C021), 0x42);
}

TEST_F(SystemTest, ArcadeInputsFollowThePadWordBitForBit)
{
    sys->applyMemoryMap(sys->arcadeWindows());
    LogCapture log;
    // All released: every input bit reads 1.
    EXPECT_EQ(bus().readByte(m(), 0x00400001), 0xFF);
    EXPECT_EQ(bus().readByte(m(), 0x00400005), 0xFF);
    // Press one pad bit at a time and see where it lands (active low).
    const struct { int bit; u8 player; u8 system; } map[] = {
        {0, 0xFD, 0xFF}, {1, 0xFB, 0xFF}, {2, 0xFE, 0xFF}, {3, 0xFF, 0xEF}, {4, 0xDF, 0xFF}, {5, 0xEF, 0xFF},
        {6, 0x7F, 0xFF}, {7, 0xBF, 0xFF}, {11, 0xFF, 0xFE}, {12, 0xFF, 0xF7}, {13, 0xFF, 0xFB},
        {14, 0xF7, 0xFF}, {15, 0xFF, 0xBF}, {8, 0xFF, 0xFF}, {10, 0xFF, 0xFF},
    };
    for (const auto& e : map) {
        const u16 word = static_cast<u16>(~(1u << e.bit));
        hostPadState[0] = static_cast<u8>(word);
        hostPadState[1] = static_cast<u8>(word >> 8);
        EXPECT_EQ(bus().readByte(m(), 0x00400001), e.player) << "bit " << e.bit;
        EXPECT_EQ(bus().readByte(m(), 0x00400003), e.player) << "bit " << e.bit;
        EXPECT_EQ(bus().readByte(m(), 0x00400005), e.system) << "bit " << e.bit;
    }
    EXPECT_EQ(log.text(), "");

    // Output latches.
    bus().writeByte(m(), 0x00400007, 0x11);
    bus().writeByte(m(), 0x00400009, 0x22);
    bus().writeByte(m(), 0x00400013, 0x33);
    bus().writeByte(m(), 0x00400015, 0x44);
    EXPECT_EQ(bus().readByte(m(), 0x00400007), 0x11);
    EXPECT_EQ(bus().readByte(m(), 0x0040000D), 0x22);
    EXPECT_EQ(bus().readByte(m(), 0x00400017), 0x33);
    EXPECT_EQ(bus().readByte(m(), 0x00400019), 0x44);
    EXPECT_EQ(bus().readByte(m(), 0x0040001B), 0);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(bus().readByte(m(), 0x00400002), 0xFF);
    EXPECT_EQ(bus().readWord(m(), 0x00400000), 0xFFFF);
    bus().writeLong(m(), 0x00400000, 5);
    EXPECT_EQ(log.text(),
              "SYSTEM: Bad RB [A: 00400002]\n"
              "SYSTEM: Bad RW [A: 00400000]\n"
              "SYSTEM: Bad WL [A: 00400000, D: 00000005]\n");
}

TEST_F(SystemTest, ArcadeSequenceWrapsAndRestarts)
{
    sys->applyMemoryMap(sys->arcadeWindows());
    const u8 ramp[] = {0xCC, 0xB2, 0x99, 0x7F, 0x66, 0x4C, 0x33, 0x19};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(bus().readByte(m(), 0x0040001F), ramp[i & 7]) << i;
    bus().writeByte(m(), 0x0040001F, 3);
    EXPECT_EQ(bus().readByte(m(), 0x0040001F), 0x7F);
}

TEST_F(SystemTest, SerialAndRs232cSilentAddresses)
{
    sys->applyMemoryMap(sys->arcadeWindows());
    LogCapture log;
    EXPECT_EQ(bus().readLong(m(), 0x05200000), 0u);
    EXPECT_EQ(bus().readByte(m(), 0x0588FF20), 0);
    EXPECT_EQ(bus().readWord(m(), 0x0588FF48), 0);
    for (u32 p : {0xFF09u, 0xFF1Du, 0xFF20u, 0xFF21u, 0xFF24u, 0xFF25u, 0xFF28u, 0xFF29u, 0xFF2Cu, 0xFF2Du,
                  0xFF30u, 0xFF31u, 0xFF34u})
        bus().writeByte(m(), 0x05880000 | p, 1);
    for (u32 p : {0xFF48u, 0xFF4Cu, 0xFF58u})
        bus().writeWord(m(), 0x05880000 | p, 1);
    EXPECT_EQ(log.text(), "");
    bus().readLong(m(), 0x05200004);
    bus().readByte(m(), 0x0588FF21);
    bus().writeByte(m(), 0x0588FF22, 7);
    bus().writeWord(m(), 0x0588FF4A, 7);
    EXPECT_EQ(log.text(),
              "SYSTEM: RS232C: Bad RL [A: 05200004]\n"
              "SYSTEM: SERIAL: Bad RB [A: 0588FF21]\n"
              "SYSTEM: SERIAL: Bad WB [A: 0588FF22, D: 07]\n"
              "SYSTEM: SERIAL: Bad WW [A: 0588FF4A, D: 0007]\n");
}

TEST_F(SystemTest, CartridgeIdentifierByte)
{
    sys->applyMemoryMap({sys->cartridgeIdWindow()});
    EXPECT_EQ(bus().readByte(m(), 0x04FFFFFF), 255);
    sys->cartridgeId = 0x5C;
    EXPECT_EQ(bus().readByte(m(), 0x24FFFFFF), 0x5C);
    // Everything else answers all ones with the window's plain lines.
    const struct { int width; u32 address; u32 value; const char* line; } reads[] = {
        {1, 0x04FFFFFE, 0xFF, "SYSTEM: Bad RB [A: 04FFFFFE]\n"},
        {2, 0x04FFFFFE, 0xFFFF, "SYSTEM: Bad RW [A: 04FFFFFE]\n"},
        {4, 0x04FFFFFC, 0xFFFFFFFF, "SYSTEM: Bad RL [A: 04FFFFFC]\n"},
        {4, 0x04FF0000, 0xFFFFFFFF, "SYSTEM: Bad RL [A: 04FF0000]\n"},
    };
    for (const auto& r : reads) {
        LogCapture log;
        const u32 value = r.width == 1   ? bus().readByte(m(), r.address)
                          : r.width == 2 ? bus().readWord(m(), r.address)
                                         : bus().readLong(m(), r.address);
        EXPECT_EQ(value, r.value) << r.width;
        EXPECT_EQ(log.text(), r.line);
    }
    LogCapture log;
    bus().writeByte(m(), 0x04FFFFFF, 0x12);
    bus().writeWord(m(), 0x04FFFFFE, 0x1234);
    bus().writeLong(m(), 0x04FFFFFC, 0x12345678);
    EXPECT_EQ(log.text(), "SYSTEM: Bad WB [A: 04FFFFFF, D: 12]\n"
                          "SYSTEM: Bad WW [A: 04FFFFFE, D: 1234]\n"
                          "SYSTEM: Bad WL [A: 04FFFFFC, D: 12345678]\n");
    EXPECT_EQ(bus().readByte(m(), 0x04FFFFFF), 0x5C);
}

TEST_F(SystemTest, DmaRangeCheck)
{
    LogCapture log;
    sys->checkDmaRange(0x06000000, 0x05C00000, 0x10);
    EXPECT_EQ(log.text(), "");
    sys->checkDmaRange(0x060FFFF8, 0x05C00000, 0x10);
    EXPECT_EQ(log.text(), "SYSTEM: Read access exceeded! [S: 060FFFF8, D: 05C00000, C: 00000010]\n");
    log.clear();
    sys->checkDmaRange(0x06000000, 0x05C7FFF0, 0x20);
    EXPECT_EQ(log.text(), "SYSTEM: Write access exceeded! [S: 06000000, D: 05C7FFF0, C: 00000020]\n");
    log.clear();
    sys->checkDmaRange(0x05FD0000, 0x06000000, 4);  // no region at all
    EXPECT_EQ(log.text(), "SYSTEM: Read access exceeded! [S: 05FD0000, D: 06000000, C: 00000004]\n");
    EXPECT_EQ(CSystem::findRegion(0x05F8011F).base, 0x05F80000u);
    EXPECT_EQ(CSystem::findRegion(0x05F80120).size, 0u);
}

TEST_F(SystemTest, ValidAddresses)
{
    const struct { u32 first, last; } ranges[] = {
        {0x0000000, 0x007FFFF}, {0x0100000, 0x010007F}, {0x0180000, 0x018FFFF}, {0x0200000, 0x02FFFFF},
        {0x2000000, 0x4FFFFFF}, {0x5800000, 0x58FFFFF}, {0x5A00000, 0x5A7FFFF}, {0x5B00000, 0x5B00EE3},
        {0x5C00000, 0x5D00017}, {0x5E00000, 0x5F00FFF}, {0x5F80000, 0x5F8011F}, {0x5FE0000, 0x5FE00CF},
        {0x6000000, 0x60FFFFF},
    };
    for (const auto& r : ranges) {
        for (u32 top : {0x00000000u, 0x20000000u}) {
            EXPECT_TRUE(CSystem::isValidAddress(top | r.first)) << std::hex << r.first;
            EXPECT_TRUE(CSystem::isValidAddress(top | r.last)) << std::hex << r.last;
            EXPECT_FALSE(CSystem::isValidAddress(top | (r.last + 1))) << std::hex << r.last + 1;
            if (r.first) {
                EXPECT_FALSE(CSystem::isValidAddress(top | (r.first - 1))) << std::hex << r.first - 1;
            }
        }
        EXPECT_FALSE(CSystem::isValidAddress(0x40000000 | r.first));
    }
    EXPECT_TRUE(CSystem::isValidAddress(0x26000000));
    EXPECT_FALSE(CSystem::isValidAddress(0x46000000));
    EXPECT_FALSE(CSystem::isValidAddress(0x01000000));
    EXPECT_FALSE(CSystem::isValidAddress(0x01800000));
}

TEST_F(SystemTest, PeekAndPokeTouchOnlyMemory)
{
    SystemMemory& mem = sys->memory();
    const struct { u32 address; u8* cell; } memories[] = {
        {0x00200000, &mem.workRamLow[0]},       {0x060FFFFF, &mem.workRamHigh[0xFFFFF]},
        {0x05A7FFFF, &mem.soundRam[0x7FFFF]},   {0x05CFFFFF, &mem.vdp1Memory[0xFFFFF]},
        {0x05E80001, &mem.vdp2Vram[1]},         {0x05F00FFF, &mem.vdp2ColorRam[0xFFF]},
        {0x00180003, &mem.backup[1]},
    };
    for (const auto& e : memories) {
        sys->pokeByte(0x20000000 | e.address, 0xA5);
        EXPECT_EQ(*e.cell, 0xA5) << std::hex << e.address;
        EXPECT_EQ(sys->peekByte(e.address), 0xA5) << std::hex << e.address;
        *e.cell = 0;
    }
    EXPECT_EQ(sys->peekByte(0x00180002), 0xFF);
    sys->pokeByte(0x00180002, 0x11);
    EXPECT_EQ(mem.backup[1], 0);
    mem.bios[5] = 0x3C;
    sys->pokeByte(5, 0);
    EXPECT_EQ(sys->peekByte(0x20000005), 0x3C);
    sys->powerOn();
    LogCapture log;
    EXPECT_EQ(sys->peekByte(0x05F80000), 0);
    EXPECT_EQ(sys->peekByte(0x25FE00A4), 0);
    EXPECT_EQ(sys->peekByte(0x01000000), 0);
    sys->pokeByte(0x25FE00A0, 0);
    EXPECT_EQ(sys->scu().mask(), 0xBFFFu);
    EXPECT_EQ(log.text(), "");
}

TEST_F(SystemTest, DebugServices)
{
    EXPECT_EQ(sys->getCpu(0), &sys->master());
    EXPECT_EQ(sys->getCpu(1), &sys->slave());
    EXPECT_EQ(sys->getCpu(2), &sys->m68k());
    EXPECT_EQ(sys->getCpu(3), nullptr);
    EXPECT_EQ(sys->getCpu(-1), nullptr);
    sys->master().setEnabled(0);
    debugBreak = 1;
    sys->debugRun();
    EXPECT_EQ(sys->master().enabled(), 1);
    EXPECT_EQ(debugBreak, 0);
    debugBreak = 1;
    sys->debugStepOut(&sys->master());
    EXPECT_EQ(debugBreak, 0);
    EXPECT_EQ(sys->master().debugSwitch(), 1);
}

namespace {

// Halts both processors so fields run with only the chips' events.
class QuietSystemTest : public SystemTest {
protected:
    void SetUp() override
    {
        SystemTest::SetUp();
        sys->powerOn();
        sys->master().halt();
        sys->runFrame();  // starts field 0
    }
};

struct VBlankProbe : Hook {
    VBlankProbe(CSystem* s) : Hook("PROBE"), sys(s) {}
    bool onHook(Device*) override
    {
        // The chips have seen this V-BLANK-IN before the hooks run.
        scuSawIt = (sys->scu().ist() & 1) != 0;
        cdbFrames = sys->cdb().frames();
        ++calls;
        return true;
    }
    CSystem* sys;
    bool scuSawIt = false;
    u32 cdbFrames = 0;
    int calls = 0;
};

}  // namespace

TEST_F(QuietSystemTest, VBlankInReachesTheChipsBeforeTheHooks)
{
    VBlankProbe probe(sys.get());
    sys->attachHook(&probe);
    sys->runFrame();
    EXPECT_EQ(probe.calls, 1);
    EXPECT_TRUE(probe.scuSawIt);
    EXPECT_EQ(probe.cdbFrames, 1u);
    // 242 visible lines: the last H-BLANK-IN of an odd-numbered pass is line 481.
    EXPECT_EQ(currentScanline, 481);
    EXPECT_EQ(sys->scu().lineCounter(), 242u);
}

TEST_F(QuietSystemTest, BackupImageIsWrittenOnceItHasSettledForAField)
{
    TempDir dir;
    const std::string path = dir.file("backup.bup");
    ASSERT_EQ(sys->backupFile().load("T", path, sys->memory().backup.get(), SystemMemory::kBackupSize),
              SaveFile::State::kAbsent);
    LogCapture log;
    for (int field = 0; field < 3; ++field) {
        bus().writeByte(m(), 0x00180001 + 2 * field, static_cast<u8>(0x41 + field));
        sys->runFrame();
        EXPECT_FALSE(fileExists(path)) << field;
    }
    // The V-BLANK-IN that ended the last written field saw the change; the
    // next one finds the memory settled.
    sys->runFrame();
    const std::vector<u8> image = readBytes(path);
    ASSERT_EQ(image.size(), SystemMemory::kBackupSize);
    EXPECT_EQ(image[0], 0x41);
    EXPECT_EQ(image[2], 0x43);
    EXPECT_EQ(log.text(), "SYSTEM: Save backup RAM to disk\n");
    std::filesystem::remove(path);
    sys->runFrame();
    sys->runFrame();
    EXPECT_FALSE(fileExists(path));  // written once only
}

TEST_F(QuietSystemTest, UnmaskedInterruptReachesTheMasterTenMicrosecondsIntoItsSlice)
{
    sys->scsp().switchOff();  // its sample steps would cut the slice first
    // Open the V-BLANK-IN mask; the field's V-BLANK-IN is due now.
    sys->scu().intc().onMaskWrite(0xBFFE);
    u32 slice = 0;
    ASSERT_FALSE(scheduler().run(slice));  // V-BLANK-IN fires
    EXPECT_EQ(slice, 10000u);              // the delivery cuts the slice
    scheduler().advance();
    EXPECT_FALSE(sys->master().hasPendingInterrupt());
    scheduler().run(slice);
    ASSERT_TRUE(sys->master().hasPendingInterrupt());
    EXPECT_EQ(sys->master().topInterrupt().vector, 0x40);
    EXPECT_FALSE(sys->slave().hasPendingInterrupt());
}

TEST_F(SystemTest, MinitEndsTheWritersSliceBeforeTheSlavesCapture)
{
    // mov.l @(disp,pc),r1 ; mov.w r0,@r1 ; then nops
    const u16 program[] = {0xD101, 0x2101, 0x0009, 0x0009, 0x0100, 0x0000, 0x0009, 0x0009};
    for (u32 i = 0; i < 8; ++i)
        storeBe16(&sys->memory().workRamHigh[0x4000 + 2 * i], program[i]);
    sys->powerOn();
    sys->slave().switchOn();
    sys->master().setPC(0x06004000);
    ASSERT_EQ(sys->slave().frt.ftcsr & 0x80, 0);
    const u32 used = sys->master().runUntil(100000);
    EXPECT_LT(used, 1000u);  // stopped right after the write
    EXPECT_EQ(sys->slave().frt.ftcsr & 0x80, 0);
    for (int i = 0; i < 4 && !(sys->slave().frt.ftcsr & 0x80); ++i) {
        u32 slice = 0;
        scheduler().run(slice);
        scheduler().advance();
    }
    EXPECT_NE(sys->slave().frt.ftcsr & 0x80, 0);
}

// Areas without a function answer every width with their own name.
TEST_F(SystemTest, UnservedAreasAtEveryWidth)
{
    const struct { const char* name; u32 address; } areas[] = {
        {"DUMMY0", 0x00300000}, {"DUMMY1", 0x00400000}, {"DUMMY3", 0x05000000},
        {"CS0", 0x02000000},    {"CS1", 0x04000000},    {"CS2", 0x05800000},
    };
    for (const auto& area : areas) {
        for (u32 mirror : {0u, 0x20000000u}) {
            const u32 a = area.address + mirror + 0x100;
            const std::string n = area.name;
            char hex[9];
            std::snprintf(hex, sizeof hex, "%08X", a);
            LogCapture log;
            EXPECT_EQ(bus().readByte(m(), a), 0);
            EXPECT_EQ(bus().readWord(m(), a), 0);
            EXPECT_EQ(bus().readLong(m(), a), 0u);
            bus().writeByte(m(), a, 0x12);
            bus().writeWord(m(), a, 0x1234);
            bus().writeLong(m(), a, 0x12345678);
            const std::string p = "SYSTEM: " + n + ": Bad ";
            const std::string at = std::string("[A: ") + hex;
            EXPECT_EQ(log.text(), p + "RB " + at + "]\n" + p + "RW " + at + "]\n" + p + "RL " + at + "]\n" + p + "WB " +
                                      at + ", D: 12]\n" + p + "WW " + at + ", D: 1234]\n" + p + "WL " + at +
                                      ", D: 12345678]\n");
        }
    }
    // The processors fetch 0xFFFF from the cartridge area until a cartridge
    // brings memory there, and the debugger sees the same open bus.
    EXPECT_EQ(sys->peekByte(0x02000010), 0xFF);
    EXPECT_EQ(*reinterpret_cast<const u8*>(sys->master().directBase(0x02000010) + 0x02000010), 0xFF);
}

TEST_F(SystemTest, DebuggerStepsTheRealProcessor)
{
    // 06004000 mov #1,r0 ; bsr 0600400C ; nop ; mov #2,r1 ; bra . ; nop
    // 0600400C rts ; mov #3,r2
    const u16 program[] = {0xE001, 0xB003, 0x0009, 0xE102, 0xAFFE, 0x0009, 0x000B, 0xE203};
    for (u32 i = 0; i < 8; ++i)
        storeBe16(&sys->memory().workRamHigh[0x4000 + 2 * i], program[i]);
    sys->powerOn();
    sys->master().setPC(0x06004000);
    sys->runFrame();
    debugBreak = 1;  // paused

    sys->debugStepInto(&sys->master());
    sys->runFrame();
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(sys->master().getPC(), 0x06004002u);
    EXPECT_EQ(sys->master().getRegister(0), 1u);

    sys->debugStepOver(&sys->master());  // over the call and its delay slot
    sys->runFrame();
    EXPECT_EQ(sys->master().getPC(), 0x06004006u);
    EXPECT_EQ(sys->master().getRegister(2), 3u);
    EXPECT_EQ(sys->master().getRegister(1), 0u);

    sys->debugRun();
    sys->runFrame();
    EXPECT_EQ(debugBreak, 0);
    EXPECT_EQ(sys->master().getRegister(1), 2u);
}
