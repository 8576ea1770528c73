#include "board/cart/cart_titan.h"

namespace {

CartTitan& titan(void* owner) { return *static_cast<CartTitan*>(owner); }

}  // namespace

CartTitan::CartTitan() : Cartridge("CartTitan"), m_data(std::make_unique<u8[]>(kSize))
{
    m_windows = {{kBase, kBase + kSize - 1, {this, read8, write8, read16, write16, read32, write32}}};
}

bool CartTitan::addRomWindow(u32 offset, u32 size)
{
    if (size == 0 || offset >= kSize || size > kSize - offset) {
        logError(1, "ROM window outside the cartridge [O: %08X, S: %08X]", offset, size);
        return false;
    }
    m_windows.push_back({kBase + offset, kBase + offset + size - 1,
                         {this, read8, badWrite8, read16, badWrite16, read32, badWrite32}});
    return true;
}

std::vector<DirectMapping> CartTitan::fetchPages() const
{
    return {{kBase, kBase + kSize - 1, m_data.get()}};
}

// Every window lies inside the data, but an address is still checked once
// here so a page beyond it can never index past the buffer.
u8 CartTitan::read8(void* o, CPU*, u32 a)
{
    const u32 i = offset(a);
    return i < kSize ? titan(o).m_data[i] : 0;
}

u16 CartTitan::read16(void* o, CPU*, u32 a)
{
    const u32 i = offset(a & ~1u);
    return i < kSize ? loadBe16(titan(o).m_data.get() + i) : 0;
}

u32 CartTitan::read32(void* o, CPU*, u32 a)
{
    const u32 i = offset(a & ~3u);
    return i < kSize ? loadBe32(titan(o).m_data.get() + i) : 0;
}

void CartTitan::write8(void* o, CPU*, u32 a, u8 d)
{
    const u32 i = offset(a);
    if (i < kSize)
        titan(o).m_data[i] = d;
}

void CartTitan::write16(void* o, CPU*, u32 a, u16 d)
{
    const u32 i = offset(a & ~1u);
    if (i < kSize)
        storeBe16(titan(o).m_data.get() + i, d);
}

void CartTitan::write32(void* o, CPU*, u32 a, u32 d)
{
    const u32 i = offset(a & ~3u);
    if (i < kSize)
        storeBe32(titan(o).m_data.get() + i, d);
}

u8 CartTitan::peek(u32 address) const
{
    const u32 i = offset(address);
    return i < kSize ? m_data[i] : 0xFF;
}

void CartTitan::poke(u32 address, u8 value)
{
    const u32 i = offset(address);
    if (i < kSize)
        m_data[i] = value;
}
