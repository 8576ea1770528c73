#pragma once

#include <memory>
#include <vector>

#include "core/base/scheduler.h"
#include "sound/m68k/m68k.h"

// A 68000 with RAM at address 0 (512 KB like sound memory, or the whole
// 16 MB bus), mapped through handlers and the direct fetch table. Word and
// long accesses go byte by byte at the wrap, so none leaves the array.
class M68kTestBench {
public:
    explicit M68kTestBench(u32 size = 0x80000) : ram(size), m_mask(size - 1)
    {
        cpu = std::make_unique<M68K>();
        AccessHandlers h{this, readByte, writeByte, readWord, writeWord, readLong, writeLong};
        cpu->mapWindows({MemoryMapWindow{0, size - 1, h}});
        cpu->mapDirect({DirectMapping{0, size - 1, ram.data()}});
        cpu->setPeriod(1);
    }

    void load(const std::vector<u8>& bytes, u32 at)
    {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            ram[(at + i) & m_mask] = bytes[i];
    }
    void poke16(u32 a, u16 v)
    {
        ram[a & m_mask] = static_cast<u8>(v >> 8);
        ram[(a + 1) & m_mask] = static_cast<u8>(v);
    }
    void poke32(u32 a, u32 v)
    {
        poke16(a, static_cast<u16>(v >> 16));
        poke16(a + 2, static_cast<u16>(v));
    }
    // Words at a, a+2, ...
    void code(u32 a, std::initializer_list<u16> words)
    {
        for (u16 w : words) {
            poke16(a, w);
            a += 2;
        }
    }
    u8 peek8(u32 a) const { return ram[a & m_mask]; }
    u16 peek16(u32 a) const { return static_cast<u16>(ram[a & m_mask] << 8 | ram[(a + 1) & m_mask]); }
    u32 peek32(u32 a) const { return u32{peek16(a)} << 16 | peek16(a + 2); }

    // Supervisor mode, stack and PC as given; the vector table is left alone.
    void start(u32 pc, u32 ssp = 0x7F000, u16 sr = 0x2700)
    {
        cpu->setSR(sr);
        cpu->setSsp(ssp);
        cpu->setPc(pc);
        cpu->setRunState(kRunning);
    }
    // Runs one instruction (and a pending interrupt first); answers the clocks.
    u32 step() { return cpu->runUntil(1); }
    // Runs at least the given clocks.
    u32 run(u32 clocks) { return cpu->runUntil(clocks); }

    std::vector<u8> ram;
    std::unique_ptr<M68K> cpu;
    std::vector<u32> reads;   // byte-granular access log when tracing is on
    std::vector<u32> writes;
    bool tracing = false;

private:
    static M68kTestBench& self(void* o) { return *static_cast<M68kTestBench*>(o); }
    void noteRead(u32 a, u32 n)
    {
        if (tracing)
            for (u32 i = 0; i < n; ++i)
                reads.push_back(a + i);
    }
    void noteWrite(u32 a, u32 n)
    {
        if (tracing)
            for (u32 i = 0; i < n; ++i)
                writes.push_back(a + i);
    }
    static u8 readByte(void* o, CPU*, u32 a)
    {
        self(o).noteRead(a, 1);
        return self(o).ram[a & self(o).m_mask];
    }
    static u16 readWord(void* o, CPU*, u32 a)
    {
        self(o).noteRead(a, 2);
        return self(o).peek16(a);
    }
    static u32 readLong(void* o, CPU*, u32 a)
    {
        self(o).noteRead(a, 4);
        return self(o).peek32(a);
    }
    static void writeByte(void* o, CPU*, u32 a, u8 d)
    {
        self(o).noteWrite(a, 1);
        self(o).ram[a & self(o).m_mask] = d;
    }
    static void writeWord(void* o, CPU*, u32 a, u16 d)
    {
        self(o).noteWrite(a, 2);
        self(o).poke16(a, d);
    }
    static void writeLong(void* o, CPU*, u32 a, u32 d)
    {
        self(o).noteWrite(a, 4);
        self(o).poke32(a, d);
    }

    u32 m_mask;
};
