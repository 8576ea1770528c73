#include <benchmark/benchmark.h>

#include <memory>

#include "core/machine/system.h"

namespace {

// Both SH-2s spin in an ALU loop in work RAM while the real video timing and
// the SCU's line events fire: one iteration is one emulated second.
void BM_TwoSh2sOneEmulatedSecond(benchmark::State& state)
{
    scheduler().clear();
    auto sys = std::make_unique<CSystem>();
    sys->setup(0);
    // loop: add #1,r0 ; xor r0,r1 ; shll r1 ; add r1,r2 ; mov r2,r3 ; or r0,r3 ; bra loop ; nop
    const u16 loop[] = {0x7001, 0x210A, 0x4100, 0x321C, 0x6323, 0x230B, 0xAFF8, 0x0009};
    for (u32 base : {0x4000u, 0x5000u}) {
        for (u32 i = 0; i < 8; ++i)
            storeBe16(&sys->memory().workRamHigh[base + 2 * i], loop[i]);
    }
    sys->powerOn();
    sys->slave().switchOn();
    sys->master().setPC(0x06004000);
    sys->slave().setPC(0x06005000);
    sys->runFrame();
    const int fields = static_cast<int>(sys->raster().fieldRate() + 0.5);
    for (auto _ : state) {
        for (int i = 0; i < fields; ++i)
            sys->runFrame();
    }
    state.SetLabel("one iteration = one emulated second");
    sys->powerOff();
    sys.reset();
    scheduler().clear();
}

}  // namespace

BENCHMARK(BM_TwoSh2sOneEmulatedSecond)->Unit(benchmark::kMillisecond);
