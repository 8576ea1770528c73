#pragma once

#include <array>
#include <memory>

#include "core/base/types.h"

class CPU;

using ReadByteHandler = u8 (*)(void* owner, CPU* cpu, u32 address);
using ReadWordHandler = u16 (*)(void* owner, CPU* cpu, u32 address);
using ReadLongHandler = u32 (*)(void* owner, CPU* cpu, u32 address);
using WriteByteHandler = void (*)(void* owner, CPU* cpu, u32 address, u8 data);
using WriteWordHandler = void (*)(void* owner, CPU* cpu, u32 address, u16 data);
using WriteLongHandler = void (*)(void* owner, CPU* cpu, u32 address, u32 data);

// One address area's handler set.
struct AccessHandlers {
    void* owner = nullptr;
    ReadByteHandler readByte = nullptr;
    WriteByteHandler writeByte = nullptr;
    ReadWordHandler readWord = nullptr;
    WriteWordHandler writeWord = nullptr;
    ReadLongHandler readLong = nullptr;
    WriteLongHandler writeLong = nullptr;
};

// Inclusive address range; installed page by page (64 KB), later windows
// over earlier ones.
struct MemoryMapWindow {
    u32 start = 0;
    u32 end = 0;
    AccessHandlers handlers;
};

// The page tables of one 32-bit bus: one handler set per 64 KB page.
class PageMap {
public:
    static constexpr u32 kPageShift = 16;
    static constexpr u32 kPages = 1u << 16;

    void mapRange(u32 start, u32 end, const AccessHandlers& handlers)
    {
        for (u32 page = start >> kPageShift; page <= (end >> kPageShift); ++page) {
            m_pages[page] = handlers;
            if (page == kPages - 1)
                break;
        }
    }

    const AccessHandlers& page(u32 address) const { return m_pages[address >> kPageShift]; }

    u8 readByte(CPU* cpu, u32 a) const { const auto& p = page(a); return p.readByte(p.owner, cpu, a); }
    u16 readWord(CPU* cpu, u32 a) const { const auto& p = page(a); return p.readWord(p.owner, cpu, a); }
    u32 readLong(CPU* cpu, u32 a) const { const auto& p = page(a); return p.readLong(p.owner, cpu, a); }
    void writeByte(CPU* cpu, u32 a, u8 d) const { const auto& p = page(a); p.writeByte(p.owner, cpu, a, d); }
    void writeWord(CPU* cpu, u32 a, u16 d) const { const auto& p = page(a); p.writeWord(p.owner, cpu, a, d); }
    void writeLong(CPU* cpu, u32 a, u32 d) const { const auto& p = page(a); p.writeLong(p.owner, cpu, a, d); }

private:
    std::array<AccessHandlers, kPages> m_pages{};
};

// Big-endian accessors for emulated memories held in the machine's byte
// order. Callers pass an address already masked to the memory.
inline u16 loadBe16(const u8* p) { return static_cast<u16>(p[0] << 8 | p[1]); }
inline u32 loadBe32(const u8* p) { return u32{p[0]} << 24 | u32{p[1]} << 16 | u32{p[2]} << 8 | p[3]; }
inline void storeBe16(u8* p, u16 v) { p[0] = static_cast<u8>(v >> 8); p[1] = static_cast<u8>(v); }
inline void storeBe32(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v >> 24);
    p[1] = static_cast<u8>(v >> 16);
    p[2] = static_cast<u8>(v >> 8);
    p[3] = static_cast<u8>(v);
}
