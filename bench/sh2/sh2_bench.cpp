// Interpreter speed on a mixed loop: ALU work, loads and stores to work RAM
// and a taken branch with a delay slot.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "board/sh2/sh2.h"

namespace {

constexpr u32 kRamBase = 0x06000000;
constexpr u32 kRamSize = 0x100000;
constexpr u32 kCode = 0x06004000;
constexpr u32 kData = 0x06010000;

struct Ram {
    std::vector<u8> bytes = std::vector<u8>(kRamSize);
    static Ram& of(void* o) { return *static_cast<Ram*>(o); }
    static u8 rb(void* o, CPU*, u32 a) { return of(o).bytes[a & (kRamSize - 1)]; }
    static u16 rw(void* o, CPU*, u32 a) { return loadBe16(&of(o).bytes[a & (kRamSize - 2)]); }
    static u32 rl(void* o, CPU*, u32 a) { return loadBe32(&of(o).bytes[a & (kRamSize - 4)]); }
    static void wb(void* o, CPU*, u32 a, u8 d) { of(o).bytes[a & (kRamSize - 1)] = d; }
    static void ww(void* o, CPU*, u32 a, u16 d) { storeBe16(&of(o).bytes[a & (kRamSize - 2)], d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { storeBe32(&of(o).bytes[a & (kRamSize - 4)], d); }
};

// Nine instructions and ten clocks a pass.
constexpr u16 kLoop[] = {
    0x6212,  // mov.l @r1,r2
    0x332C,  // add r2,r3
    0x1131,  // mov.l r3,@(4,r1)
    0x243A,  // xor r3,r4
    0x4400,  // shll r4
    0x4510,  // dt r5
    0x7601,  // add #1,r6
    0xAFF7,  // bra loop
    0x3768,  // sub r6,r7 (slot)
};
constexpr u32 kInstructionsPerPass = 9;
constexpr u32 kClocksPerPass = 10;

// Work RAM as the machine maps it: plain pages read and written in place,
// or, for the handler path that device memory takes, behind its handlers.
void runMixedLoop(benchmark::State& state, bool plain)
{
    auto ram = std::make_unique<Ram>();
    auto cpu = std::make_unique<SH2>();
    cpu->setThreshold(0);
    AccessHandlers h{ram.get(), Ram::rb, Ram::wb, Ram::rw, Ram::ww, Ram::rl, Ram::wl};
    AccessHandlers work = h;
    if (plain) {
        work.ram = ram->bytes.data();
        work.ramMask = kRamSize - 1;
    }
    cpu->mapWindows({{0, 0xFFFF, h}, {kRamBase, kRamBase + kRamSize - 1, work}});
    cpu->mapDirect({{kRamBase, kRamBase + kRamSize - 1, ram->bytes.data()}});
    for (u32 i = 0; i < sizeof kLoop / sizeof kLoop[0]; ++i)
        storeBe16(&ram->bytes[kCode - kRamBase + i * 2], kLoop[i]);
    storeBe32(&ram->bytes[0], kCode);
    storeBe32(&ram->bytes[4], kRamBase + kRamSize);
    cpu->setPeriod(1);
    cpu->switchOn();
    cpu->setR(1, kData);
    cpu->setR(5, 0xFFFFFFFF);
    constexpr u32 kSliceClocks = 100000;
    u64 clocks = 0;
    for (auto _ : state) {
        cpu->setLocalTime(0);
        clocks += cpu->runUntil(kSliceClocks);
    }
    benchmark::DoNotOptimize(cpu->r(7));
    // r6 counts passes: a wrong branch target would show here, and the
    // store must have reached the RAM either way.
    if (cpu->r(6) < clocks / kClocksPerPass - 1 || cpu->r(6) > clocks / kClocksPerPass + 1 ||
        loadBe32(&ram->bytes[kData + 4 - kRamBase]) != cpu->r(3))
        state.SkipWithError("the loop did not run as written");
    state.SetItemsProcessed(static_cast<int64_t>(clocks / kClocksPerPass * kInstructionsPerPass));
    state.counters["MIPS"] = benchmark::Counter(static_cast<double>(clocks) / kClocksPerPass * kInstructionsPerPass / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_Sh2MixedLoop(benchmark::State& state) { runMixedLoop(state, true); }
BENCHMARK(BM_Sh2MixedLoop);

void BM_Sh2MixedLoopThroughHandlers(benchmark::State& state) { runMixedLoop(state, false); }
BENCHMARK(BM_Sh2MixedLoopThroughHandlers);

}  // namespace
