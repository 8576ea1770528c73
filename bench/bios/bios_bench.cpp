// The hook path: a processor parked at the idle entry visits the BIOS every
// 3 clocks, so a field of idling is some 150,000 dispatches; and an SCU
// interrupt's trip through the entry, the default handler and the return.

#include <benchmark/benchmark.h>

#include <memory>

#include "core/system.h"

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

}  // namespace
