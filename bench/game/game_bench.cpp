#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/emulator/kest.h"
#include "core/base/shared_state.h"

namespace {

constexpr int kFields = 600;  // ten emulated seconds of NTSC fields

// The game disc booted through the built-in BIOS as the application opens
// it, run for ten emulated seconds an iteration; the counter is emulated
// seconds per second of this thread's time. Boot and teardown are not timed.
void BM_GameDiscTenEmulatedSeconds(benchmark::State& state)
{
    char folder[] = "/tmp/kest-bench-game-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    constexpr u32 kCanvasSide = 1024;
    std::vector<u32> canvas(kCanvasSide * kCanvasSide);
    hostCanvas = {canvas.data(), kCanvasSide};
    for (auto _ : state) {
        state.PauseTiming();
        auto kest = std::make_unique<Kest>();
        kest->setDataFolder(folder);
        kest->prepare(nullptr);
        if (!kest->open(KEST_GAME_DISC, 0)) {
            state.SkipWithError("cannot open " KEST_GAME_DISC);
            break;
        }
        kest->start();
        kest->resume();
        kest->update();
        state.ResumeTiming();
        for (int i = 0; i < kFields; ++i)
            kest->update();
        state.PauseTiming();
        kest->stop();
        kest.reset();
        state.ResumeTiming();
    }
    hostCanvas = {};
    std::filesystem::remove_all(folder);
    state.counters["emulated_s_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kFields / 60.0, benchmark::Counter::kIsRate);
    state.SetLabel("one iteration = 600 fields");
}

}  // namespace

BENCHMARK(BM_GameDiscTenEmulatedSeconds)->Unit(benchmark::kMillisecond);
