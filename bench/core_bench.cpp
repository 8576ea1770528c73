#include <benchmark/benchmark.h>

#include <array>

#include "core/machine/machine.h"
#include "core/base/object.h"

namespace {

// Stands for a chip that uses every clock it is given.
class Busy : public Device {
public:
    explicit Busy(u32 period) : Device("BUSY") { setPeriod(period); }
    u32 execute(u32 clocks) override
    {
        m_clocksLeft = 0;
        return clocks;
    }
};

void soundClock(void* owner, u32)
{
    ++*static_cast<u64*>(owner);
}

// The slice loop as the machine drives it: the six time-sliced devices, the
// video timing and the sound chip's 3779 ns sample clock, about 265,000
// slices per emulated second.
void BM_SliceLoopOneEmulatedSecond(benchmark::State& state)
{
    scheduler().clear();
    CMachine machine("SYSTEM");
    std::array<Busy, 6> devices{Busy(36), Busy(36), Busy(9), Busy(72), Busy(36), Busy(88)};
    for (Busy& d : devices) {
        machine.addSlicedDevice(&d);
        d.switchOn();
    }
    u64 samples = 0;
    scheduler().schedule(0, soundClock, &samples, Scheduler::kForever, 3779, 0);
    machine.powerOn();
    machine.runFrame();

    const double fieldsPerSecond = machine.raster().fieldRate();
    const int fields = static_cast<int>(fieldsPerSecond + 0.5);
    for (auto _ : state) {
        for (int i = 0; i < fields; ++i)
            machine.runFrame();
    }
    // Every sample-clock event ends a slice; the line events add a few more.
    state.counters["sample events/emulated s"] =
        static_cast<double>(samples) / (static_cast<double>(state.iterations()) * fields / fieldsPerSecond);
    state.SetLabel("one iteration = one emulated second (60 fields)");
    scheduler().clear();
}

}  // namespace

BENCHMARK(BM_SliceLoopOneEmulatedSecond)->Unit(benchmark::kMillisecond);

void discard(void*, const char*, std::size_t) {}

// A log line as a guest's error path writes it: distinct lines (the address
// changes) and a run of one repeated line, which the sink collapses.
void BM_LogLine(benchmark::State& state)
{
    const bool repeated = state.range(0) != 0;
    logSink().setWriter(discard, nullptr);
    Object cpu("SH2(M)");
    u32 address = 0x06004000;
    for (auto _ : state) {
        cpu.logError(1, "Address error [PC: %08X, title: %s]", address, "KEST TEST DISC");
        if (!repeated)
            address += 2;
    }
    logSink().setWriter(nullptr, nullptr);
}
BENCHMARK(BM_LogLine)->Arg(0)->Arg(1);
