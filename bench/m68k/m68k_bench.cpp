// A mixed 68000 loop (moves through memory, arithmetic, logic, a shift, a
// bit test, Scc and DBF) run from sound memory through the page map, as the
// machine builds it. Real time needs about 11.4 million clocks a second.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "sound/m68k/m68k.h"

namespace {

constexpr u32 kMemoryBytes = 0x80000;
constexpr u32 kMask = kMemoryBytes - 1;
constexpr u32 kCode = 0x1000;

struct SoundMemory {
    std::vector<u8> bytes = std::vector<u8>(kMemoryBytes);

    static SoundMemory& of(void* o) { return *static_cast<SoundMemory*>(o); }
    static u8 rb(void* o, CPU*, u32 a) { return of(o).bytes[a & kMask]; }
    static u16 rw(void* o, CPU*, u32 a)
    {
        const u32 i = a & kMask;
        auto& m = of(o).bytes;
        return i + 1 < kMemoryBytes ? loadBe16(&m[i]) : static_cast<u16>(m[i] << 8 | m[(i + 1) & kMask]);
    }
    static u32 rl(void* o, CPU* c, u32 a) { return u32{rw(o, c, a)} << 16 | rw(o, c, a + 2); }
    static void wb(void* o, CPU*, u32 a, u8 d) { of(o).bytes[a & kMask] = d; }
    static void ww(void* o, CPU*, u32 a, u16 d)
    {
        const u32 i = a & kMask;
        auto& m = of(o).bytes;
        m[i] = static_cast<u8>(d >> 8);
        m[(i + 1) & kMask] = static_cast<u8>(d);
    }
    static void wl(void* o, CPU* c, u32 a, u32 d)
    {
        ww(o, c, a, static_cast<u16>(d >> 16));
        ww(o, c, a + 2, static_cast<u16>(d));
    }
};

const u16 kLoop[] = {
    0x41F9, 0x0001, 0x0000,  // outer: LEA ($10000).L,A0
    0x43F9, 0x0002, 0x0000,  //        LEA ($20000).L,A1
    0x303C, 0x00FF,          //        MOVE.W #255,D0
    0x2218,                  // inner: MOVE.L (A0)+,D1
    0xD481,                  //        ADD.L D1,D2
    0xB543,                  //        EOR.W D2,D3
    0xE68A,                  //        LSR.L #3,D2
    0x32C3,                  //        MOVE.W D3,(A1)+
    0x5284,                  //        ADDQ.L #1,D4
    0x0804, 0x0000,          //        BTST #0,D4
    0x56C5,                  //        SNE D5
    0xC605,                  //        AND.B D5,D3
    0x51C8, 0xFFEA,          //        DBF D0,inner
    0x60D6,                  //        BRA.S outer
};

struct Rig {
    SoundMemory memory;
    std::unique_ptr<M68K> cpu = std::make_unique<M68K>();
    u64 passInstructions = 0;
    u32 passClocks = 0;

    Rig()
    {
        AccessHandlers h{&memory, SoundMemory::rb, SoundMemory::wb, SoundMemory::rw,
                         SoundMemory::ww, SoundMemory::rl, SoundMemory::wl};
        cpu->mapWindows({MemoryMapWindow{0, kMemoryBytes - 1, h}});
        cpu->mapDirect({DirectMapping{0, kMemoryBytes - 1, memory.bytes.data()}});
        cpu->setPeriod(88);
        u32 a = kCode;
        for (u16 w : kLoop) {
            storeBe16(&memory.bytes[a], w);
            a += 2;
        }
        for (u32 i = 0; i < 0x10000; ++i)
            memory.bytes[0x10000 + i] = static_cast<u8>(i * 37 + 11);
        storeBe32(&memory.bytes[0], 0x7F000);
        storeBe32(&memory.bytes[4], kCode);
        cpu->switchOn();
        // One pass counted instruction by instruction.
        do {
            passClocks += cpu->runUntil(88) / 88;
            ++passInstructions;
        } while (cpu->pc() != kCode && passInstructions < 100000);
    }
};

void BM_MixedLoop(benchmark::State& state)
{
    Rig rig;
    const u32 passes = 40;
    u64 instructions = 0;
    u64 clocks = 0;
    for (auto _ : state) {
        const u32 used = rig.cpu->runUntil(passes * rig.passClocks * 88) / 88;
        clocks += used;
        instructions += passes * rig.passInstructions;
        if (used != passes * rig.passClocks || rig.cpu->pc() != kCode)
            state.SkipWithError("the loop lost its rhythm");
    }
    state.SetItemsProcessed(static_cast<int64_t>(instructions));
    state.counters["MIPS"] = benchmark::Counter(static_cast<double>(instructions) / 1e6, benchmark::Counter::kIsRate);
    state.counters["emulated_s_per_s"] =
        benchmark::Counter(static_cast<double>(clocks) * 88e-9, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixedLoop);

}  // namespace
