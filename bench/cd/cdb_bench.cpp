// The CD block streaming a double-speed data track: each sector goes
// through filter 0 into partition 0 at a drive event, and the game takes
// it with GetdelSctData and 512 long reads of the data port. The counter
// realtime_pct is the share of real time this costs (150 sectors a second),
// in percent, though the library prints it with an "s"; misses counts drive
// events that stored nothing (during the seeks).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "cd/media/bin.h"
#include "core/machine/system.h"

namespace {

constexpr u32 kRegs = 0x25890000;
constexpr u32 kPort = 0x25818000;
constexpr u32 kSectors = 4096;

class Streamer {
public:
    Streamer() : m_path("/tmp/kest-bench-cdb-" + std::to_string(::getpid()) + ".iso")
    {
        std::vector<char> bytes(std::size_t{kSectors} * 2048, 0x21);
        std::ofstream(m_path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        scheduler().clear();
        m_sys = std::make_unique<CSystem>();
        m_sys->setup(0);
        m_sys->cdb().setThreshold(0);
        m_sys->setMedia(std::make_shared<CBin>(m_path));
        m_sys->drive().switchOn();
        m_sys->cdb().switchOn();
        pumpUntilIdle(20000000);
        command(0x0401, 0, 0, 0);
        command(0x6000, 0, 0, 0);
        command(0x3000, 0, 0, 0);
    }
    ~Streamer()
    {
        m_sys.reset();
        scheduler().clear();
        std::remove(m_path.c_str());
    }

    void play() { command(0x1080, 150, 0x0080, kSectors - 1); }
    CDB& cdb() { return m_sys->cdb(); }
    CDDrive& drive() { return m_sys->drive(); }

    void command(u16 cr1, u16 cr2, u16 cr3, u16 cr4)
    {
        CDB& c = cdb();
        c.writeRegister(nullptr, kRegs + 0x08, static_cast<u16>(~1));
        c.writeRegister(nullptr, kRegs + 0x18, cr1);
        c.writeRegister(nullptr, kRegs + 0x1C, cr2);
        c.writeRegister(nullptr, kRegs + 0x20, cr3);
        c.writeRegister(nullptr, kRegs + 0x24, cr4);
        while (!(c.hirqReq() & 1))
            pump();
    }
    void pump()
    {
        u32 slice = 0;
        scheduler().run(slice);
        scheduler().advance();
    }
    void pumpUntilIdle(u64 ns)
    {
        for (u64 t = 0; t < ns;) {
            u32 slice = 0;
            scheduler().run(slice);
            scheduler().advance();
            t += slice ? slice : 1;
        }
    }

private:
    std::string m_path;
    std::unique_ptr<CSystem> m_sys;
};

void BM_StreamDataTrack2x(benchmark::State& state)
{
    Streamer s;
    s.play();
    // The seek to the start.
    s.pumpUntilIdle(20000000);
    SectorBuffer peek;
    u64 sectors = 0;
    u64 misses = 0;
    for (auto _ : state) {
        if (!s.drive().peekSector(peek)) {
            // The drive's worker reads ahead in real time; its wait is not ours.
            state.PauseTiming();
            if (s.cdb().driveState() == CDB::kPaused)
                s.play();
            s.pumpUntilIdle(1000000);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            state.ResumeTiming();
            continue;
        }
        s.cdb().runDriveEvent();
        if (s.cdb().buffer(0).count() == 0) {
            ++misses;
            s.pump();
            continue;
        }
        s.command(0x6300, 0, 0x0000, 1);
        u32 sum = 0;
        for (int i = 0; i < 512; ++i)
            sum += s.cdb().readDataPort(kPort);
        benchmark::DoNotOptimize(sum);
        ++sectors;
    }
    state.counters["misses"] = static_cast<double>(misses);
    state.SetItemsProcessed(static_cast<s64>(sectors));
    // Seconds spent per second of a 2x stream, in percent.
    state.counters["realtime_pct"] =
        benchmark::Counter(static_cast<double>(sectors) / 15000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StreamDataTrack2x)->Unit(benchmark::kMicrosecond);

}  // namespace
