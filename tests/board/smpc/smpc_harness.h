#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/time_zone.h"

namespace smpctest {

// SMPC register addresses as the SH-2 sees them (cache-through).
constexpr u32 kSmpc = 0x20100000;
constexpr u8 kIreg0 = 0x01, kIreg1 = 0x03, kComreg = 0x1F, kOreg0 = 0x21, kSr = 0x61, kSf = 0x63;
constexpr u8 kPdr1 = 0x75, kPdr2 = 0x77, kDdr1 = 0x79, kDdr2 = 0x7B, kIosel = 0x7D;

constexpr u8 kSshon = 0x02, kSshoff = 0x03, kSndon = 0x06, kSndoff = 0x07, kCdon = 0x08, kCdoff = 0x09,
             kNetlinkon = 0x0A, kNetlinkoff = 0x0B, kSysres = 0x0D, kCkchg352 = 0x0E, kCkchg320 = 0x0F, kIntback = 0x10, kSettime = 0x16,
             kSetsmem = 0x17, kNmireq = 0x18, kResenab = 0x19, kResdisa = 0x1A;

// The host clock every test machine reads: 2024-03-01 00:00:00 UTC.
inline s64 fixedHostTime = 1709251200;
inline s64 fixedClock() { return fixedHostTime; }

// A heap-allocated machine whose battery file lives in a temporary folder.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        fixedHostTime = 1709251200;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        smpc().setHostClock(&fixedClock);
        smpc().setSaveFolder(saves());
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
        hostPadState[0] = hostPadState[1] = 0xFF;
        currentScanline = 0;
    }

    SMPC& smpc() { return sys->smpc(); }
    std::string saves() const { return dir.file("saves"); }
    std::string batteryPath() const { return dir.file("saves/sat_battery.sav"); }
    std::vector<u8> battery() const { return readBytes(batteryPath()); }
    u32 ram(u32 offset) const { return loadBe32(&sys->memory().workRamHigh[offset & 0xFFFFF]); }

    TempDir dir;
    std::unique_ptr<CSystem> sys;
};

// The machine runs tests/programs/sh2/smpc_runner.s as its BIOS, which
// plays a script of register operations and records the SMPC's replies.
class RunnerTest : public MachineTest {
protected:
    static constexpr u32 kCounters = 0x00000, kScript = 0x10000, kSlots = 0x20000, kReads = 0x30000;

    void SetUp() override
    {
        MachineTest::SetUp();
        const std::vector<u8> program = loadProgram("sh2", "smpc_runner");
        ASSERT_GT(program.size(), 0x800u);
        std::memcpy(sys->memory().bios.get(), program.data(), program.size());
        sys->setVideoMode(CRaster::kNtsc);
    }

    void op(u8 code, u8 offset = 0, u8 value = 0) { script.insert(script.end(), {code, offset, value, 0}); }
    void write(u8 offset, u8 value) { op(1, offset, value); }
    void waitSf() { op(2); }
    void waitInterrupts(u8 count) { op(3, 0, count); }
    void read(u8 offset) { op(4, offset); }
    void waitVBlank() { op(5); }
    // The game's protocol: SF set, parameters, the command, then SF polled.
    void command(u8 code, std::initializer_list<u8> iregs = {}, bool wait = true)
    {
        waitSf();
        write(kSf, 1);
        u8 offset = kIreg0;
        for (u8 value : iregs) {
            write(offset, value);
            offset += 2;
        }
        write(kComreg, code);
        if (wait)
            waitSf();
    }

    // Powers the machine on and runs fields until the script has ended and
    // then extra more; answers whether it ended.
    bool run(int maxFields = 20, int extra = 1)
    {
        script.insert(script.end(), {0, 0, 0, 0});
        std::memcpy(&sys->memory().workRamHigh[kScript], script.data(), script.size());
        if (!powered) {
            sys->powerOn();
            sys->runFrame();  // the first pass starts the first field
            powered = true;
        } else {
            // The program waits for its done flag to clear, then plays the script again.
            storeBe32(&sys->memory().workRamHigh[kCounters + 0x0C], 0);
        }
        for (int i = 0; i < maxFields && !ram(kCounters + 0x0C); ++i)
            sys->runFrame();
        for (int i = 0; i < extra; ++i)
            sys->runFrame();
        return ram(kCounters + 0x0C) == 1;
    }

    u32 interrupts() const { return ram(kCounters); }
    u32 nmis() const { return ram(kCounters + 4); }
    u32 systemResets() const { return ram(kCounters + 8); }
    u32 timeouts() const { return ram(kCounters + 0x10); }
    u32 slaveCounter() const { return ram(0x100); }
    // The SMPC's registers as the interrupt handler copied them: OREG0-31, SR, SF.
    std::vector<u8> slot(u32 n) const
    {
        const u8* at = &sys->memory().workRamHigh[kSlots + 64 * n];
        return {at, at + 34};
    }
    std::vector<u8> reads(u32 count) const
    {
        const u8* at = &sys->memory().workRamHigh[kReads];
        return {at, at + count};
    }

    std::vector<u8> script;
    bool powered = false;
};

// The scheduler stepped by hand with absolute time kept in the test, and
// the registers written through the master's (or slave's) bus at chosen
// moments, so that delays can be measured to the nanosecond.
class TimedTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        smpc().switchOn();
        // Something always pending, like the machine's field events.
        scheduler().schedule(0, nullptr, nullptr, Scheduler::kForever, 1000000, 0);
        // Past the first field's V-BLANK-IN, which the raster raises at 0.
        at(kStart, [] {});
        runTo(kStart);
    }

    static constexpr u64 kStart = 5000;

    void at(u64 time, std::function<void()> action)
    {
        actions.push_back(std::move(action));
        scheduler().schedule(static_cast<u32>(time - now), &TimedTest::fire, this, 1, Scheduler::kOneShot,
                             static_cast<u32>(actions.size() - 1));
    }
    static void fire(void* owner, u32 index) { static_cast<TimedTest*>(owner)->actions[index](); }

    void runTo(u64 end)
    {
        while (now < end) {
            u32 slice = 0;
            scheduler().run(slice);
            scheduler().advance();
            now += slice;
        }
    }
    void runFor(u64 duration) { runTo(now + duration); }

    void write(u8 offset, u8 value, CPU* cpu = nullptr)
    {
        CPU* by = cpu ? cpu : &sys->master();
        by->pageMap()->writeByte(by, kSmpc + offset, value);
    }
    u8 read(u8 offset, CPU* cpu = nullptr)
    {
        CPU* by = cpu ? cpu : &sys->master();
        return by->pageMap()->readByte(by, kSmpc + offset);
    }
    // Writes the parameters and the command now.
    void issue(u8 code, const std::vector<u8>& iregs = {}, CPU* cpu = nullptr)
    {
        write(kSf, 1, cpu);
        u8 offset = kIreg0;
        for (u8 value : iregs) {
            write(offset, value, cpu);
            offset += 2;
        }
        write(kComreg, code, cpu);
    }
    // Issues a command and lets it finish (INTBACK status phase included).
    void run(u8 code, const std::vector<u8>& iregs = {}, CPU* cpu = nullptr)
    {
        issue(code, iregs, cpu);
        runFor(200000);
    }
    std::vector<u8> oregs()
    {
        std::vector<u8> out;
        for (int n = 0; n < 32; ++n)
            out.push_back(smpc().oreg(n));
        return out;
    }

    std::vector<std::function<void()>> actions;
    u64 now = 0;
};

}  // namespace smpctest
