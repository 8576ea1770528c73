#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/machine/machine.h"
#include "sound/m68k/m68k.h"
#include "sound/scsp/scsp.h"

namespace {

// A sound chip switched on, with its own memory and a bare machine's buffer.
struct Rig {
    CMachine machine{"BENCH"};
    std::vector<u8> ram = std::vector<u8>(SCSP::kSoundRamSize);
    std::unique_ptr<M68K> m68k = std::make_unique<M68K>();
    SCSP chip{&machine, ram.data(), m68k.get(), nullptr, nullptr};

    Rig()
    {
        chip.setup(0);
        chip.switchOn();
    }
    ~Rig() { chip.switchOff(); }
};

// All 32 slots loop a 16-bit sine at different pitches with both LFOs on,
// every other one also sending to the DSP; one iteration runs the sample
// event for one emulated second.
void BM_ThirtyTwoSlotsOneEmulatedSecond(benchmark::State& state)
{
    Rig rig;
    SCSP& chip = rig.chip;
    std::vector<u8>& ram = rig.ram;
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
        rig.machine.takeSamples(nullptr, SampleBuffer::kPairs);
    }
    int playing = 0;
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        playing += !chip.slot(n).ended;
    state.counters["slots playing"] = playing;
    state.SetLabel("one iteration = one emulated second");
}

// What a music driver leaves running: 20 voices over 16- and 8-bit
// samples in all three loop modes, with envelopes in every phase, vibrato
// and tremolo on some, a few sending to the DSP (its program loaded, the
// ring buffer set), a drum one-shot retriggered, and once a field the
// driver keys voices off and on and bends a pitch. One iteration is one
// emulated second.
void BM_MusicDriverMix(benchmark::State& state)
{
    Rig rig;
    SCSP& chip = rig.chip;
    std::vector<u8>& ram = rig.ram;
    u32 seed = 12345;
    for (u32 i = 0; i < 0x4000; ++i) {
        seed = seed * 1103515245 + 12345;
        const double tone = 9000 * std::sin(2 * M_PI * i / 100) + static_cast<s32>(seed >> 20) - 2048;
        storeBe16(&ram[0x10000 + 2 * i], static_cast<u16>(static_cast<s16>(tone)));
        ram[0x20000 + i] = static_cast<u8>(static_cast<s8>(tone / 300));
    }
    chip.writeWord(nullptr, 0x400, 0x020F);
    chip.writeWord(nullptr, 0x402, 0x0130);  // ring buffer of 16K words
    for (u32 i = 0; i < 64; ++i) {           // a reverb-like program, stored
        chip.writeWord(nullptr, 0x700 + 2 * i, static_cast<u16>(i * 0x1F1));
        for (u32 w = 0; w < 4; ++w)
            chip.writeWord(nullptr, 0x800 + 8 * i + 2 * w, static_cast<u16>(i * 0x2345 + w * 0x111));
    }
    constexpr u32 kVoices = 20;
    auto setUp = [&](u32 n) {
        const u32 base = n * 0x20;
        const bool pcm8 = n % 5 == 3;
        const u32 start = pcm8 ? 0x20000 + n * 0x100 : 0x10000 + n * 0x200;
        chip.writeWord(nullptr, base + 0x02, static_cast<u16>(start));
        chip.writeWord(nullptr, base + 0x04, static_cast<u16>(100 + 13 * n));
        chip.writeWord(nullptr, base + 0x06, static_cast<u16>(1200 + 97 * n));
        chip.writeWord(nullptr, base + 0x0A, static_cast<u16>(0x0000 | (n % 4) << 10 | (6 + n % 8) << 5 | 14));
        chip.writeWord(nullptr, base + 0x08, static_cast<u16>((3 + n % 5) << 11 | (9 + n % 6) << 6 | (18 + n % 10)));
        chip.writeWord(nullptr, base + 0x0C, static_cast<u16>(n * 5 & 0x3F));
        chip.writeWord(nullptr, base + 0x10, static_cast<u16>(((n % 5) ^ 8 ^ 15) << 11 | (n * 41 & 0x3FF)));
        u16 lfo = 0;
        if (n % 4 == 1)
            lfo = static_cast<u16>((16 + n % 8) << 10 | 2 << 8 | 3 << 5);  // vibrato
        else if (n % 6 == 2)
            lfo = static_cast<u16>((12 + n % 8) << 10 | 2 << 3 | 4);  // tremolo
        chip.writeWord(nullptr, base + 0x12, lfo);
        chip.writeWord(nullptr, base + 0x14, static_cast<u16>(n % 4 == 0 ? (n / 4) << 3 | 4 : 0));
        chip.writeWord(nullptr, base + 0x16, static_cast<u16>(0xC000 | (n * 7 & 31) << 8 | (n % 4 == 0 ? 5 << 5 : 0)));
        const u16 loop = n == kVoices - 1 ? 0 : static_cast<u16>(1 + n % 3);
        chip.writeWord(nullptr, base + 0x00, static_cast<u16>(0x0800 | loop << 5 | pcm8 << 4 | start >> 16));
    };
    for (u32 n = 0; n < kVoices; ++n)
        setUp(n);
    chip.writeWord(nullptr, 0x000, static_cast<u16>(chip.readWord(nullptr, 0x000) | 0x1000));
    u32 tick = 0;
    for (auto _ : state) {
        for (u32 field = 0; field < 60; ++field) {
            for (u32 i = 0; i < SCSP::kOutputRateHz / 60; ++i)
                chip.sampleEvent();
            ++tick;
            const u32 off = tick * 7 % (kVoices - 1), on = (tick * 7 + 11) % (kVoices - 1);
            chip.writeWord(nullptr, off * 0x20, static_cast<u16>(chip.readWord(nullptr, off * 0x20) & ~0x0800));
            setUp(on);
            setUp(kVoices - 1);
            chip.writeWord(nullptr, 0x20 * 5 + 0x10, static_cast<u16>(0x7000 | (tick * 37 & 0x3FF)));
            chip.writeWord(nullptr, 0x000, static_cast<u16>(chip.readWord(nullptr, 0x000) | 0x1000));
        }
        rig.machine.takeSamples(nullptr, SampleBuffer::kPairs);
    }
    int playing = 0;
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        playing += !chip.slot(n).ended;
    state.counters["slots playing"] = playing;
    state.counters["per sample"] = benchmark::Counter(static_cast<double>(SCSP::kOutputRateHz),
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
    state.SetLabel("one iteration = one emulated second");
}

}  // namespace

BENCHMARK(BM_ThirtyTwoSlotsOneEmulatedSecond)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MusicDriverMix)->Unit(benchmark::kMillisecond);
