#include <benchmark/benchmark.h>

#include <memory>

#include "board/scu/dsp_encoder.h"
#include "core/machine/system.h"

namespace {

constexpr u32 kScu = 0x25FE0000;
constexpr u32 kMegabyte = 0x100000;

std::unique_ptr<CSystem> makeSystem()
{
    scheduler().clear();
    auto sys = std::make_unique<CSystem>();
    sys->setup(0);
    sys->powerOn();
    for (u32 i = 0; i < kMegabyte; ++i)
        sys->memory().workRamHigh[i] = static_cast<u8>(i * 7);
    return sys;
}

// Level 0 with count 0 moves 1 MB from work RAM-H to VDP2 VRAM (wrapping
// it), two words per DMA clock: 262144 clocks of 9 ns, 2.36 ms emulated.
void BM_DmaWorkRamToVdp2(benchmark::State& state)
{
    auto sys = makeSystem();
    ScuDmac& dmac = sys->scu().dmac();
    dmac.setThreshold(0);
    PageMap& bus = *sys->master().pageMap();
    bus.writeLong(nullptr, kScu + 0x00, 0x06000000);
    bus.writeLong(nullptr, kScu + 0x04, 0x05E00000);
    bus.writeLong(nullptr, kScu + 0x08, 0);
    bus.writeLong(nullptr, kScu + 0x0C, 0x101);
    bus.writeLong(nullptr, kScu + 0x14, 7);
    const u32 clocks = kMegabyte / 4;
    for (auto _ : state) {
        dmac.requestDma(0, kDmaStartBit);
        // The engine as the slice loop drives it, a slice of 100 us at a time.
        for (u32 done = 0; done < clocks; done += 11112)
            dmac.execute(11112);
        benchmark::DoNotOptimize(sys->memory().vdp2Vram[0x7FFFF]);
        state.PauseTiming();
        dmac.forceStop();
        scheduler().clear();
        state.ResumeTiming();
    }
    const double emulatedNs = double{clocks} * dmac.period();
    state.counters["emulated_ns"] = emulatedNs;
    state.counters["speed_x"] = benchmark::Counter(emulatedNs * 1e-9 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMegabyte);
}
BENCHMARK(BM_DmaWorkRamToVdp2)->Unit(benchmark::kMicrosecond);

// The same megabyte to sound RAM with DA 4 on the B-bus: no block copy,
// every word through the bus handlers.
void BM_DmaWordByWord(benchmark::State& state)
{
    auto sys = makeSystem();
    ScuDmac& dmac = sys->scu().dmac();
    dmac.setThreshold(0);
    PageMap& bus = *sys->master().pageMap();
    bus.writeLong(nullptr, kScu + 0x00, 0x06000000);
    bus.writeLong(nullptr, kScu + 0x04, 0x05A00000);
    bus.writeLong(nullptr, kScu + 0x08, 0x40000);
    bus.writeLong(nullptr, kScu + 0x0C, 0x102);
    bus.writeLong(nullptr, kScu + 0x14, 7);
    const u32 clocks = 0x40000 / 4;
    for (auto _ : state) {
        dmac.requestDma(0, kDmaStartBit);
        dmac.execute(clocks);
        state.PauseTiming();
        dmac.forceStop();
        scheduler().clear();
        state.ResumeTiming();
    }
    const double emulatedNs = double{clocks} * dmac.period();
    state.counters["speed_x"] = benchmark::Counter(emulatedNs * 1e-9 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DmaWordByWord)->Unit(benchmark::kMicrosecond);

// A multiply-accumulate loop: one DSP instruction per 72 ns clock.
void BM_DspMacLoop(benchmark::State& state)
{
    using namespace dspasm;
    auto sys = makeSystem();
    ScuDsp& dsp = sys->scu().dsp();
    const Program program = {op(d1Imm(0, kCt0) | yClrA()),
                             op(d1Imm(0, kCt1)),
                             mvi(4000, kLop),
                             lps(),
                             op(alu(kAd2) | yMovAluA() | xMulP() | xMovX(kMc0) | yMovY(kMc1)),
                             jmp(0),
                             nop()};
    dsp.writeControlPort(0x8000);
    for (u32 word : program)
        dsp.writeProgram(word);
    dsp.writeControlPort(0x8000);
    dsp.writeControlPort(0x10000);
    const u32 clocks = 100000;
    for (auto _ : state)
        dsp.runUntil(clocks * dsp.period());
    state.counters["speed_x"] = benchmark::Counter(double{clocks} * dsp.period() * 1e-9 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DspMacLoop)->Unit(benchmark::kMicrosecond);

}  // namespace
