// The hook path: a processor parked at the idle entry visits the BIOS every
// 3 clocks, so a field of idling is some 150,000 dispatches; and an SCU
// interrupt's trip through the entry, the default handler and the return.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "board/cart/cartridge.h"
#include "core/machine/system.h"

namespace {

std::unique_ptr<CSystem> bootedMachine()
{
    scheduler().clear();
    auto sys = std::make_unique<CSystem>();
    sys->setup(0);
    sys->biosHook().install();
    sys->powerOn();
    // SYS_INIT: the vector base and the mask copy as a program finds them.
    sys->master().runUntil(sys->master().period());
    return sys;
}

void IdleEntryField(benchmark::State& state)
{
    auto sys = bootedMachine();
    SH2& master = sys->master();
    constexpr u32 kFieldClocks = 447000;  // about one NTSC field of the master
    for (auto _ : state) {
        master.setLocalTime(0);
        master.setPC(BIOS::kIdle);
        benchmark::DoNotOptimize(master.runUntil(kFieldClocks * master.period()));
    }
    state.SetItemsProcessed(state.iterations() * (kFieldClocks / 3));
}
BENCHMARK(IdleEntryField);

void ScuInterruptRoundTrip(benchmark::State& state)
{
    auto sys = bootedMachine();
    SH2& master = sys->master();
    // The interrupted code: bra . with its slot.
    storeBe16(sys->memory().workRamHigh.get() + 0x4000, 0xAFFE);
    storeBe16(sys->memory().workRamHigh.get() + 0x4002, 0x0009);
    master.setR(15, 0x06002000);
    for (auto _ : state) {
        master.setStatus(0);
        master.setPC(0x06004000);
        master.requestInterrupt(0x41, 14);
        for (int leg = 0; leg < 3; ++leg) {
            master.setLocalTime(0);
            master.runUntil(master.period());
        }
        // The mask writes leave events behind; drop them between rounds.
        state.PauseTiming();
        scheduler().clear();
        state.ResumeTiming();
    }
}
BENCHMARK(ScuInterruptRoundTrip);

// One backup service called as a subroutine from 0x06004000.
void callService(CSystem& sys, u32 entry, u32 r4, u32 r5, u32 r6, u32 r7)
{
    SH2& master = sys.master();
    master.setR(4, r4);
    master.setR(5, r5);
    master.setR(6, r6);
    master.setR(7, r7);
    master.setPr(0x06004004);
    master.setPC(entry);
    master.setLocalTime(0);
    master.runUntil(master.period());
}

// BUP_Stat walks every block of the device; on a 4 MB backup cartridge
// holding 200 saves of 10 KB that is the largest walk a game can ask for.
void BackupStatOnAFullCartridge(benchmark::State& state)
{
    scheduler().clear();
    auto sys = std::make_unique<CSystem>();
    sys->setup(0);
    sys->insertCartridge(std::make_shared<CartBUP4M>());
    sys->cartridgeId = 0x24;
    sys->biosHook().install();
    sys->biosHook().setThreshold(0);
    sys->powerOn();
    sys->master().runUntil(sys->master().period());
    constexpr u32 kEntry = 0x06010000;
    constexpr u32 kFormat = 0x06000768, kStat = 0x0600076C, kWrite = 0x06000770;
    // The caller: bra . with its slot.
    storeBe16(sys->memory().workRamHigh.get() + 0x4004, 0xAFFE);
    storeBe16(sys->memory().workRamHigh.get() + 0x4006, 0x0009);
    callService(*sys, kFormat, 1, 0, 0, 0);
    u8* entry = sys->memory().workRamHigh.get() + (kEntry & 0xFFFFF);
    for (u32 k = 0; k < 200; ++k) {
        std::snprintf(reinterpret_cast<char*>(entry), 12, "SAVE%03u", k);
        storeBe32(entry + 28, 10 * 1024);
        callService(*sys, kWrite, 1, kEntry, 0x06020000, 1);
    }
    for (auto _ : state)
        callService(*sys, kStat, 1, 10 * 1024, 0x06011000, 0);
    state.counters["free_blocks"] = static_cast<double>(loadBe32(sys->memory().workRamHigh.get() + 0x11010));
}
BENCHMARK(BackupStatOnAFullCartridge);

}  // namespace
