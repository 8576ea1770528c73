#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "board/sh2/sh2.h"
#include "support/files.h"

// A flat memory behind one handler set; every access is masked to its size.
struct TestMemory {
    std::vector<u8> bytes;
    u32 mask;

    explicit TestMemory(u32 size) : bytes(size), mask(size - 1) {}

    static TestMemory& of(void* owner) { return *static_cast<TestMemory*>(owner); }
    static u8 rb(void* o, CPU*, u32 a) { auto& m = of(o); return m.bytes[a & m.mask]; }
    static u16 rw(void* o, CPU*, u32 a) { auto& m = of(o); return loadBe16(&m.bytes[a & m.mask & ~1u]); }
    static u32 rl(void* o, CPU*, u32 a) { auto& m = of(o); return loadBe32(&m.bytes[a & m.mask & ~3u]); }
    static void wb(void* o, CPU*, u32 a, u8 d) { auto& m = of(o); m.bytes[a & m.mask] = d; }
    static void ww(void* o, CPU*, u32 a, u16 d) { auto& m = of(o); storeBe16(&m.bytes[a & m.mask & ~1u], d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { auto& m = of(o); storeBe32(&m.bytes[a & m.mask & ~3u], d); }
    AccessHandlers handlers() { return {this, rb, wb, rw, ww, rl, wl}; }
    // The same memory named as plain, so the processor reaches it without
    // the handlers, as it does the machine's work RAM.
    AccessHandlers plainHandlers()
    {
        AccessHandlers h = handlers();
        h.ram = bytes.data();
        h.ramMask = mask;
        return h;
    }

    u32 long_(u32 a) const { return loadBe32(&bytes[a & mask & ~3u]); }
    u16 word(u32 a) const { return loadBe16(&bytes[a & mask & ~1u]); }
    void setLong(u32 a, u32 v) { storeBe32(&bytes[a & mask & ~3u], v); }
    void setWord(u32 a, u16 v) { storeBe16(&bytes[a & mask & ~1u], v); }
};

// One SH-2 with 1 MB of work RAM at 0x06000000 (plain memory) and 64 KB of
// vector memory at 0 (through handlers), both also reached by direct fetch.
struct Sh2Machine {
    static constexpr u32 kRamBase = 0x06000000;
    static constexpr u32 kRamSize = 0x100000;
    static constexpr u32 kRamEnd = kRamBase + kRamSize - 1;
    static constexpr u32 kProgramBase = 0x06004000;
    static constexpr u32 kStackTop = 0x06100000;

    TestMemory ram{kRamSize};
    TestMemory low{0x10000};
    std::unique_ptr<SH2> cpu = std::make_unique<SH2>();

    Sh2Machine()
    {
        cpu->mapWindows({{0, 0xFFFF, low.handlers()}, {kRamBase, kRamEnd, ram.plainHandlers()}});
        cpu->mapDirect({{0, 0xFFFF, low.bytes.data()}, {kRamBase, kRamEnd, ram.bytes.data()}});
        cpu->setPeriod(1);
    }

    // Power-on reset through the vectors at 0.
    void boot(u32 pc, u32 sp = kStackTop)
    {
        low.setLong(0, pc);
        low.setLong(4, sp);
        cpu->switchOn();
    }

    void loadAt(u32 address, const std::vector<u8>& bytes)
    {
        std::memcpy(&ram.bytes[address - kRamBase], bytes.data(), bytes.size());
    }

    // Loads tests/programs/sh2/<name>.s at its base and boots it.
    bool loadAndBoot(const std::string& name)
    {
        const std::vector<u8> program = loadProgram("sh2", name);
        if (program.empty())
            return false;
        loadAt(kProgramBase, program);
        boot(kProgramBase);
        return true;
    }

    void code(u32 address, std::initializer_list<u16> opcodes)
    {
        for (u16 op : opcodes) {
            ram.setWord(address, op);
            address += 2;
        }
    }

    // One slice of the given clocks; answers the clocks used.
    u32 run(u32 clocks)
    {
        cpu->setLocalTime(0);
        return cpu->runUntil(clocks);
    }

    u32 ramLong(u32 address) const { return ram.long_(address); }
};
