#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/machine/machine.h"
#include "sound/m68k/m68k.h"
#include "sound/scsp/scsp.h"

namespace {

// All 32 slots loop a 16-bit sine at different pitches with both LFOs on,
// every other one also sending to the DSP; one iteration runs the sample
// event for one emulated second.
void BM_ThirtyTwoSlotsOneEmulatedSecond(benchmark::State& state)
{
    CMachine machine("BENCH");
    std::vector<u8> ram(SCSP::kSoundRamSize);
    auto m68k = std::make_unique<M68K>();
    SCSP chip(&machine, ram.data(), m68k.get(), nullptr, nullptr);
    chip.setup(0);
    chip.switchOn();
    for (u32 i = 0; i < 64; ++i)
        storeBe16(&ram[0x1000 + 2 * i], static_cast<u16>(static_cast<s16>(12000 * std::sin(2 * M_PI * i / 64))));
    chip.writeWord(nullptr, 0x400, 0x020F);
    for (u32 n = 0; n < SCSP::kSlots; ++n) {
        const u32 base = n * 0x20;
        chip.writeWord(nullptr, base + 0x02, 0x1000);
        chip.writeWord(nullptr, base + 0x04, 0);
        chip.writeWord(nullptr, base + 0x06, 63);
        chip.writeWord(nullptr, base + 0x0A, 0x0000);
        chip.writeWord(nullptr, base + 0x08, 0x001F);
        chip.writeWord(nullptr, base + 0x0C, 0x0010);
        chip.writeWord(nullptr, base + 0x10, static_cast<u16>(n * 29));
        chip.writeWord(nullptr, base + 0x12, 0x5000 | 1 << 8 | 2 << 5 | 2 << 3 | 3);
        chip.writeWord(nullptr, base + 0x14, static_cast<u16>(n & 1 ? (n & 15) << 3 | 5 : 0));
        chip.writeWord(nullptr, base + 0x16, static_cast<u16>(0xA000 | (n & 31) << 8 | 4 << 5 | (~n & 31)));
        chip.writeWord(nullptr, base + 0x00, 0x0820);
    }
    chip.writeWord(nullptr, 0x000, 0x1820);
    for (auto _ : state) {
        for (u32 i = 0; i < SCSP::kOutputRateHz; ++i)
            chip.sampleEvent();
        machine.takeSamples(nullptr, SampleBuffer::kPairs);
    }
    int playing = 0;
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        playing += !chip.slot(n).ended;
    state.counters["slots playing"] = playing;
    state.SetLabel("one iteration = one emulated second");
    chip.switchOff();
}

}  // namespace

BENCHMARK(BM_ThirtyTwoSlotsOneEmulatedSecond)->Unit(benchmark::kMillisecond);
