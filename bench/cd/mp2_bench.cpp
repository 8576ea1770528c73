#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "cd/drive/mp2_decoder.h"

namespace {

// One second of 44.1 kHz joint stereo at 224 kbit/s (39 frames), encoded at
// build time by twolame. The rate counter is seconds of audio per second:
// its inverse is the share of real time the decoder needs.
void BM_Mp2DecodeOneSecond(benchmark::State& state)
{
    std::ifstream in(KEST_MP2_BENCH_STREAM, std::ios::binary);
    const std::vector<u8> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<s16> pcm(2 * kMp2FrameSamples);
    Mp2Decoder decoder;
    mp2Init(decoder);
    u32 frames = 0;
    for (auto _ : state) {
        frames = 0;
        for (std::size_t position = 0; position < bytes.size(); ++frames) {
            const s32 length = mp2DecodeFrame(&decoder, bytes.data() + position, bytes.size() - position, pcm.data());
            if (length <= 0) {
                state.SkipWithError("stream does not decode");
                return;
            }
            position += static_cast<std::size_t>(length);
        }
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["audio_s"] = benchmark::Counter(frames * kMp2FrameSamples / 44100.0,
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Mp2DecodeOneSecond);

} // namespace
