// Interpreter speed on a mixed loop (ALU work, loads and stores to work RAM
// and a taken branch with a delay slot), on a long run of varied code, and
// on code as a C compiler lays it out, the compiled disc's object mover:
// calls through literal pools, PR on the stack, MAC.L rows, the divide unit.

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "board/sh2/sh2.h"

namespace {

constexpr u32 kRamBase = 0x06000000;
constexpr u32 kRamSize = 0x100000;
constexpr u32 kCode = 0x06004000;
constexpr u32 kData = 0x06010000;

struct Ram {
    std::vector<u8> bytes = std::vector<u8>(kRamSize);
    static Ram& of(void* o) { return *static_cast<Ram*>(o); }
    static u8 rb(void* o, CPU*, u32 a) { return of(o).bytes[a & (kRamSize - 1)]; }
    static u16 rw(void* o, CPU*, u32 a) { return loadBe16(&of(o).bytes[a & (kRamSize - 2)]); }
    static u32 rl(void* o, CPU*, u32 a) { return loadBe32(&of(o).bytes[a & (kRamSize - 4)]); }
    static void wb(void* o, CPU*, u32 a, u8 d) { of(o).bytes[a & (kRamSize - 1)] = d; }
    static void ww(void* o, CPU*, u32 a, u16 d) { storeBe16(&of(o).bytes[a & (kRamSize - 2)], d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { storeBe32(&of(o).bytes[a & (kRamSize - 4)], d); }
};

// An SH-2 over the RAM, which also holds its vectors, reset to entry. Work
// RAM as the machine maps it: plain pages read and written in place, or,
// for the handler path that device memory takes, behind its handlers.
std::unique_ptr<SH2> bootSh2(Ram& ram, u32 entry, bool plain = true)
{
    auto cpu = std::make_unique<SH2>();
    cpu->setThreshold(0);
    AccessHandlers h{&ram, Ram::rb, Ram::wb, Ram::rw, Ram::ww, Ram::rl, Ram::wl};
    AccessHandlers work = h;
    if (plain) {
        work.ram = ram.bytes.data();
        work.ramMask = kRamSize - 1;
    }
    cpu->mapWindows({{0, 0xFFFF, h}, {kRamBase, kRamBase + kRamSize - 1, work}});
    cpu->mapDirect({{kRamBase, kRamBase + kRamSize - 1, ram.bytes.data()}});
    storeBe32(&ram.bytes[0], entry);
    storeBe32(&ram.bytes[4], kRamBase + kRamSize);
    cpu->setPeriod(1);
    cpu->switchOn();
    return cpu;
}

// A hundred slices of about the length a busy machine gives, an iteration;
// answers the clocks run.
u64 runSlices(benchmark::State& state, SH2& cpu)
{
    constexpr u32 kSliceClocks = 1000;
    u64 clocks = 0;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) {
            cpu.setLocalTime(0);
            clocks += cpu.runUntil(kSliceClocks);
        }
    }
    state.counters["emulated_MHz"] = benchmark::Counter(static_cast<double>(clocks) / 1e6, benchmark::Counter::kIsRate);
    return clocks;
}

// Nine instructions and ten clocks a pass.
constexpr u16 kLoop[] = {
    0x6212,  // mov.l @r1,r2
    0x332C,  // add r2,r3
    0x1131,  // mov.l r3,@(4,r1)
    0x243A,  // xor r3,r4
    0x4400,  // shll r4
    0x4510,  // dt r5
    0x7601,  // add #1,r6
    0xAFF7,  // bra loop
    0x3768,  // sub r6,r7 (slot)
};
constexpr u32 kInstructionsPerPass = 9;
constexpr u32 kClocksPerPass = 10;

void runMixedLoop(benchmark::State& state, bool plain)
{
    auto ram = std::make_unique<Ram>();
    for (u32 i = 0; i < sizeof kLoop / sizeof kLoop[0]; ++i)
        storeBe16(&ram->bytes[kCode - kRamBase + i * 2], kLoop[i]);
    auto cpu = bootSh2(*ram, kCode, plain);
    cpu->setR(1, kData);
    cpu->setR(5, 0xFFFFFFFF);
    constexpr u32 kSliceClocks = 100000;
    u64 clocks = 0;
    for (auto _ : state) {
        cpu->setLocalTime(0);
        clocks += cpu->runUntil(kSliceClocks);
    }
    benchmark::DoNotOptimize(cpu->r(7));
    // r6 counts passes: a wrong branch target would show here, and the
    // store must have reached the RAM either way.
    if (cpu->r(6) < clocks / kClocksPerPass - 1 || cpu->r(6) > clocks / kClocksPerPass + 1 ||
        loadBe32(&ram->bytes[kData + 4 - kRamBase]) != cpu->r(3))
        state.SkipWithError("the loop did not run as written");
    state.SetItemsProcessed(static_cast<int64_t>(clocks / kClocksPerPass * kInstructionsPerPass));
    state.counters["MIPS"] = benchmark::Counter(static_cast<double>(clocks) / kClocksPerPass * kInstructionsPerPass / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_Sh2MixedLoop(benchmark::State& state) { runMixedLoop(state, true); }
BENCHMARK(BM_Sh2MixedLoop);

void BM_Sh2MixedLoopThroughHandlers(benchmark::State& state) { runMixedLoop(state, false); }
BENCHMARK(BM_Sh2MixedLoopThroughHandlers);

// A long run of code, as a game's is, rather than a short loop: every
// instruction different, as registers, displacements and immediates vary,
// so the interpreter's tables are reached all over. ALU work on R0-R7,
// loads and stores through R8-R11 into a data block, and a jump back.
constexpr u32 kLongCode = 0x06020000;
constexpr u32 kLongData = 0x06010000;
constexpr u32 kLongInstructions = 16384;

std::vector<u16> longCode()
{
    std::vector<u16> code;
    u32 seed = 12345;
    const auto next = [&](u32 range) {
        seed = seed * 1103515245 + 12345;
        return (seed >> 16) % range;
    };
    while (code.size() < kLongInstructions - 6) {
        const u16 n = static_cast<u16>(next(8));
        const u16 m = static_cast<u16>(next(8));
        const u16 base = static_cast<u16>(8 + next(4));
        switch (next(12)) {
        case 0: code.push_back(static_cast<u16>(0x300C | n << 8 | m << 4)); break;        // add rm,rn
        case 1: code.push_back(static_cast<u16>(0x7000 | n << 8 | next(256))); break;     // add #imm,rn
        case 2: code.push_back(static_cast<u16>(0xE000 | n << 8 | next(256))); break;     // mov #imm,rn
        case 3: code.push_back(static_cast<u16>(0x6003 | n << 8 | m << 4)); break;        // mov rm,rn
        case 4: code.push_back(static_cast<u16>(0x5000 | n << 8 | base << 4 | next(16))); break;  // mov.l @(d,rb),rn
        case 5: code.push_back(static_cast<u16>(0x1000 | base << 8 | m << 4 | next(16))); break;  // mov.l rm,@(d,rb)
        case 6: code.push_back(static_cast<u16>(0x4008 | n << 8 | (next(2) ? 0x0000 : 0x0001))); break;  // shll2, shlr2
        case 7: code.push_back(static_cast<u16>(0x600C | n << 8 | m << 4 | next(4))); break;  // extu, exts
        case 8: code.push_back(static_cast<u16>(0x2009 | n << 8 | m << 4 | next(3))); break;  // and, xor, or
        case 9: code.push_back(static_cast<u16>(0x3000 | n << 8 | m << 4 | (next(2) ? 7 : 3))); break;  // cmp/gt, cmp/ge
        case 10: code.push_back(static_cast<u16>(0x6001 | n << 8 | base << 4)); break;    // mov.w @rb,rn
        default: code.push_back(static_cast<u16>((next(2) ? 0x4018 : 0x4028) | n << 8)); break;  // shll8, shll16
        }
    }
    // mov.l @(4,pc),r12 ; jmp @r12 ; nop ; (pad) ; the start as a long
    if (code.size() % 2)
        code.push_back(0x0009);
    for (u16 word : {u16{0xDC01}, u16{0x4C2B}, u16{0x0009}, u16{0x0009}, static_cast<u16>(kLongCode >> 16),
                     static_cast<u16>(kLongCode)})
        code.push_back(word);
    return code;
}

void BM_Sh2LongCode(benchmark::State& state)
{
    auto ram = std::make_unique<Ram>();
    const std::vector<u16> code = longCode();
    for (u32 i = 0; i < code.size(); ++i)
        storeBe16(&ram->bytes[kLongCode - kRamBase + i * 2], code[i]);
    auto cpu = bootSh2(*ram, kLongCode);
    for (int n = 8; n < 12; ++n)
        cpu->setR(n, kLongData + static_cast<u32>(n - 8) * 0x100);
    runSlices(state, *cpu);
    if (cpu->r(8) != kLongData || cpu->getPC() - kLongCode >= kLongInstructions * 2)
        state.SkipWithError("the code did not run as written");
}
BENCHMARK(BM_Sh2LongCode);

// The compiled disc's program at its base; its benchmark entry sets up the
// objects and calls move_objects(0, 48) for ever, counting the rounds.
constexpr u32 kProgramBase = 0x06004000;
constexpr u32 kBenchEntry = kProgramBase + 0x140;
constexpr u32 kRounds = 0x06080020;

void BM_Sh2CompiledCode(benchmark::State& state)
{
    std::ifstream file(KEST_COMPILED_PROGRAM, std::ios::binary);
    const std::vector<u8> program{std::istreambuf_iterator<char>(file), {}};
    if (program.empty() || program.size() > kRamSize - (kProgramBase - kRamBase)) {
        state.SkipWithError("no program at " KEST_COMPILED_PROGRAM);
        return;
    }
    auto ram = std::make_unique<Ram>();
    std::copy(program.begin(), program.end(), ram->bytes.begin() + (kProgramBase - kRamBase));
    auto cpu = bootSh2(*ram, kBenchEntry);
    const u64 clocks = runSlices(state, *cpu);
    const u32 rounds = loadBe32(&ram->bytes[kRounds - kRamBase]);
    // A round is about 6,250 clocks; far fewer means the program went astray.
    if (rounds < clocks / 7000)
        state.SkipWithError("the objects were not moved as often as they should be");
    state.counters["rounds"] = static_cast<double>(rounds);
}
BENCHMARK(BM_Sh2CompiledCode);

}  // namespace
