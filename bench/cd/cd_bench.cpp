#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "cd/drive/cd_drive.h"
#include "cd/media/bin.h"

namespace {

// A cooked image of 4096 sectors in a file of its own.
class Image {
public:
    Image()
    {
        m_path = "/tmp/kest-bench-cd-" + std::to_string(::getpid()) + ".iso";
        std::vector<char> bytes(std::size_t{4096} * 2048, 0x21);
        std::ofstream(m_path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~Image() { std::remove(m_path.c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Sixteen-sector runs from a single image: what the worker does per step.
void BM_ReadSectorsRun(benchmark::State& state)
{
    Image image;
    CBin bin(image.path());
    std::vector<u8> buffer(16 * SectorBuffer::kMaxSize);
    u32 fad = 150;
    u32 mode = 0;
    s32 size = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bin.readSectors(buffer.data(), fad, mode, size, 16));
        fad = fad + 16 >= 150 + 4096 ? 150 : fad + 16;
    }
    state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_ReadSectorsRun);

// The emulation thread's side: peek and next over a full ring of 256 sectors.
void BM_PeekNextFullRing(benchmark::State& state)
{
    Image image;
    CDDrive drive;
    drive.setMedia(std::make_shared<CBin>(image.path()));
    drive.switchOn();
    SectorBuffer sector;
    u64 sum = 0;
    for (auto _ : state) {
        state.PauseTiming();
        drive.stop();
        drive.read(150, 256);
        while (drive.getState() != CDDrive::kPaused)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        state.ResumeTiming();
        for (int i = 0; i < 256; ++i) {
            drive.peekSector(sector);
            sum += sector.fad;
            drive.nextSector();
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * 256);
    drive.switchOff();
}
// The refill is paced at one buffer a millisecond, so the count is fixed.
BENCHMARK(BM_PeekNextFullRing)->Iterations(50);

}  // namespace
