#pragma once

#include "core/base/bus.h"
#include "core/base/object.h"

// Handler sets for a register window whose chip is not emulated yet: every
// access is logged under the owner's name and reads as 0.
AccessHandlers loggedRegisterHandlers(Object* owner);

// Plain big-endian memory behind a window, address masked to its size (a
// power of two). Longs are two words, each masked on its own: the 68000
// reads longs at any even address, and the last one wraps to the start.
template <u32 Mask>
struct MemoryHandlers {
    static u8 rb(void* o, CPU*, u32 a) { return static_cast<u8*>(o)[a & Mask]; }
    static u16 rw(void* o, CPU*, u32 a) { return loadBe16(static_cast<u8*>(o) + (a & Mask & ~1u)); }
    static u32 rl(void* o, CPU* c, u32 a) { return u32{rw(o, c, a)} << 16 | rw(o, c, a + 2); }
    static void wb(void* o, CPU*, u32 a, u8 d) { static_cast<u8*>(o)[a & Mask] = d; }
    static void ww(void* o, CPU*, u32 a, u16 d) { storeBe16(static_cast<u8*>(o) + (a & Mask & ~1u), d); }
    static void wl(void* o, CPU* c, u32 a, u32 d)
    {
        ww(o, c, a, static_cast<u16>(d >> 16));
        ww(o, c, a + 2, static_cast<u16>(d));
    }
    static AccessHandlers of(u8* memory) { return {memory, rb, wb, rw, ww, rl, wl}; }
};
