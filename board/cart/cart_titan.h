#pragma once

#include <memory>

#include "board/cart/cartridge.h"

// The arcade board's game cartridge: 48 MB seen from 0x02000000, written
// through its main window and read-only through the windows each ROM file
// adds over it.
class CartTitan : public Cartridge {
public:
    static constexpr u32 kBase = 0x02000000;
    static constexpr u32 kSize = 0x3000000;

    CartTitan();

    u8* data() { return m_data.get(); }
    const u8* data() const { return m_data.get(); }
    u32 size() const { return kSize; }

    // False (and no window) when the range does not lie inside the data.
    bool addRomWindow(u32 offset, u32 size);

    std::vector<DirectMapping> fetchPages() const override;
    u8 peek(u32 address) const override;
    void poke(u32 address, u8 value) override;

    static u8 read8(void* owner, CPU*, u32 a);
    static u16 read16(void* owner, CPU*, u32 a);
    static u32 read32(void* owner, CPU*, u32 a);
    static void write8(void* owner, CPU*, u32 a, u8 d);
    static void write16(void* owner, CPU*, u32 a, u16 d);
    static void write32(void* owner, CPU*, u32 a, u32 d);

private:
    // Offset into the data; kSize for an address outside it.
    static u32 offset(u32 a)
    {
        const u32 o = (a & 0x7FFFFFF) - kBase;
        return o < kSize ? o : kSize;
    }

    std::unique_ptr<u8[]> m_data;
};
