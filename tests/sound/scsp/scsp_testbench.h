#pragma once

#include <complex>
#include <memory>
#include <vector>

#include "core/machine/machine.h"
#include "sound/m68k/m68k.h"
#include "sound/scsp/scsp.h"

// A sound chip with its own sound memory and 68000, writing into a bare
// machine's sample buffer; cdAudio may stand in for the CD block.
struct ScspBench {
    explicit ScspBench(Device* cdAudio = nullptr)
        : ram(SCSP::kSoundRamSize), chip(&machine, ram.data(), &m68k, nullptr, cdAudio)
    {
        chip.setup(0);
        chip.reset();
        w(0x400, 0x020F);  // 512 KB, full master volume
    }

    void w(u32 offset, u16 value) { chip.writeWord(nullptr, offset, value); }
    u16 r(u32 offset) { return chip.readWord(nullptr, offset); }
    void slot(u32 n, u32 word, u16 value) { w(n * 0x20 + word, value); }
    void poke16(u32 a, u16 v)
    {
        ram[a] = static_cast<u8>(v >> 8);
        ram[a + 1] = static_cast<u8>(v);
    }

    // Runs n output samples; left and right as the machine's buffer holds them.
    void run(u32 n)
    {
        s16 pairs[2 * SampleBuffer::kPairs];
        while (n) {
            const u32 batch = n < 1024 ? n : 1024;
            for (u32 i = 0; i < batch; ++i)
                chip.makeSample();
            const u32 got = machine.takeSamples(pairs, SampleBuffer::kPairs);
            for (u32 i = 0; i < got; ++i) {
                left.push_back(pairs[2 * i]);
                right.push_back(pairs[2 * i + 1]);
            }
            n -= batch;
        }
    }

    CMachine machine{"TEST"};
    std::vector<u8> ram;
    M68K m68k;
    SCSP chip;
    std::vector<s16> left, right;
};

// Measurements taken on the output alone.
double rms(const std::vector<s16>& s, std::size_t from, std::size_t to);
// Frequency of the strongest component, in Hz at 44100 samples a second.
double dominantHz(const std::vector<s16>& s, std::size_t from, std::size_t n);

struct Wav {
    u32 channels = 0, rate = 0, bits = 0;
    std::vector<s16> left, right;
};

// A canonical 44-byte header, then interleaved little-endian pairs; an
// unreadable file gives an empty Wav.
Wav readWav(const std::vector<u8>& file);
