#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/base/shared_state.h"
#include "core/machine/system.h"
// GCC 12 at -O3 reports a false -Wrestrict inside the capture's string
// concatenation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#include "support/log_capture.h"
#pragma GCC diagnostic pop

// A machine with the built-in BIOS installed and powered on: the master
// stands at the reset entry with the BIOS's stack.
class BiosTest : public ::testing::Test {
protected:
    static constexpr u32 kCaller = 0x06004000;  // where services return to: a spin loop
    static constexpr u16 kSelfLoop = 0xAFFE;    // bra .
    static constexpr u16 kNop = 0x0009;

    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        bios().setThreshold(2);
        ASSERT_TRUE(bios().install());
        sys->powerOn();
        code(kCaller, {kSelfLoop, kNop});
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
    }

    BIOS& bios() { return sys->biosHook(); }
    SH2& master() { return sys->master(); }
    SH2& slave() { return sys->slave(); }
    u8* ram() { return sys->memory().workRamHigh.get(); }

    u32 ramLong(u32 address) { return loadBe32(ram() + (address & 0xFFFFC)); }
    void setRamLong(u32 address, u32 value) { storeBe32(ram() + (address & 0xFFFFC), value); }
    void code(u32 address, std::vector<u16> words)
    {
        for (u16 w : words) {
            storeBe16(ram() + (address & 0xFFFFE), w);
            address += 2;
        }
    }

    // Runs the processor for a budget of clocks; answers the clocks it used.
    static u32 run(SH2& cpu, u32 clocks)
    {
        cpu.setLocalTime(0);
        const u32 used = cpu.runUntil(clocks * cpu.period()) / cpu.period();
        return used;
    }
    // Calls the service at entry as a subroutine called from kCaller - 4.
    u32 call(SH2& cpu, u32 entry, u32 clocks = 1)
    {
        cpu.setPr(kCaller);
        cpu.setPC(entry);
        return run(cpu, clocks);
    }
    // The master after SYS_INIT, spinning at the program entry.
    void bootMaster()
    {
        code(BIOS::kProgramEntry, {kSelfLoop, kNop});
        run(master(), 1);
        ASSERT_EQ(master().getPC(), BIOS::kProgramEntry);
    }

    std::unique_ptr<CSystem> sys;
    LogCapture log;
};
