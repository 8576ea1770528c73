#pragma once

#include <array>
#include <memory>

#include "core/base/types.h"

class CPU;

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

using ReadByteHandler = u8 (*)(void* owner, CPU* cpu, u32 address);
using ReadWordHandler = u16 (*)(void* owner, CPU* cpu, u32 address);
using ReadLongHandler = u32 (*)(void* owner, CPU* cpu, u32 address);
using WriteByteHandler = void (*)(void* owner, CPU* cpu, u32 address, u8 data);
using WriteWordHandler = void (*)(void* owner, CPU* cpu, u32 address, u16 data);
using WriteLongHandler = void (*)(void* owner, CPU* cpu, u32 address, u32 data);
// Answers, without any side effect, a value that changes whenever a read of
// that width by that processor would answer differently or leave the device
// otherwise; false unless the register changes only between slices (from
// scheduled events or in other devices' slices) or through accesses that
// are not steady themselves.
using SteadyReadHandler = bool (*)(void* owner, const CPU* cpu, u32 address, u32 width, u32& value);

// One address area's handler set.
struct AccessHandlers {
    void* owner = nullptr;
    ReadByteHandler readByte = nullptr;
    WriteByteHandler writeByte = nullptr;
    ReadWordHandler readWord = nullptr;
    WriteWordHandler writeWord = nullptr;
    ReadLongHandler readLong = nullptr;
    WriteLongHandler writeLong = nullptr;
    // Plain memory behind the handlers (no side effect on any access, the
    // machine's byte order, mirrored by ramMask, which spans whole pages):
    // the page map then reads and writes it without a call.
    u8* ram = nullptr;
    u32 ramMask = 0;
    // Registers a processor waiting on them may count as memory.
    SteadyReadHandler steadyRead = nullptr;
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

    static constexpr u32 kPageMask = (1u << kPageShift) - 1;

    void mapRange(u32 start, u32 end, const AccessHandlers& handlers)
    {
        // A mask narrower than a page would let a page offset run past it.
        const bool plain = handlers.ram && (handlers.ramMask & kPageMask) == kPageMask;
        for (u32 page = start >> kPageShift; page <= (end >> kPageShift); ++page) {
            m_pages[page] = handlers;
            m_ram[page] = plain ? handlers.ram + ((page << kPageShift) & handlers.ramMask) : nullptr;
            if (page == kPages - 1)
                break;
        }
    }

    const AccessHandlers& page(u32 address) const { return m_pages[address >> kPageShift]; }

    // Host memory of each page that holds plain memory, else null; an access
    // adds the address's offset in its page, aligned to the access width.
    u8* const* ramPages() const { return m_ram.data(); }

    u8 readByte(CPU* cpu, u32 a) const
    {
        if (const u8* ram = m_ram[a >> kPageShift])
            return ram[a & kPageMask];
        const auto& p = page(a);
        return p.readByte(p.owner, cpu, a);
    }
    u16 readWord(CPU* cpu, u32 a) const
    {
        if (const u8* ram = m_ram[a >> kPageShift])
            return loadBe16(ram + (a & (kPageMask - 1)));
        const auto& p = page(a);
        return p.readWord(p.owner, cpu, a);
    }
    u32 readLong(CPU* cpu, u32 a) const
    {
        if (const u8* ram = m_ram[a >> kPageShift])
            return loadBe32(ram + (a & (kPageMask - 3)));
        const auto& p = page(a);
        return p.readLong(p.owner, cpu, a);
    }
    void writeByte(CPU* cpu, u32 a, u8 d) const
    {
        if (u8* ram = m_ram[a >> kPageShift]) {
            ram[a & kPageMask] = d;
            return;
        }
        const auto& p = page(a);
        p.writeByte(p.owner, cpu, a, d);
    }
    void writeWord(CPU* cpu, u32 a, u16 d) const
    {
        if (u8* ram = m_ram[a >> kPageShift]) {
            storeBe16(ram + (a & (kPageMask - 1)), d);
            return;
        }
        const auto& p = page(a);
        p.writeWord(p.owner, cpu, a, d);
    }
    void writeLong(CPU* cpu, u32 a, u32 d) const
    {
        if (u8* ram = m_ram[a >> kPageShift]) {
            storeBe32(ram + (a & (kPageMask - 3)), d);
            return;
        }
        const auto& p = page(a);
        p.writeLong(p.owner, cpu, a, d);
    }

private:
    std::array<AccessHandlers, kPages> m_pages{};
    std::array<u8*, kPages> m_ram{};
};
