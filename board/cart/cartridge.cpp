#include "board/cart/cartridge.h"

namespace {

const Cartridge& cart(void* owner) { return *static_cast<const Cartridge*>(owner); }
CartBUP& bup(void* owner) { return *static_cast<CartBUP*>(owner); }
CartRAM& ram(void* owner) { return *static_cast<CartRAM*>(owner); }
CartROM& rom(void* owner) { return *static_cast<CartROM*>(owner); }

constexpr u32 kPageBytes = 1u << PageMap::kPageShift;
// Addresses as the debugger passes them: the low 28 bits.
constexpr u32 kAreaMask = 0x0FFFFFFF;

}  // namespace

u8 Cartridge::badRead8(void* owner, CPU*, u32 a)
{
    cart(owner).logWarning(1, "Bad RB [A: %08X]", a);
    return 0;
}

u16 Cartridge::badRead16(void* owner, CPU*, u32 a)
{
    cart(owner).logWarning(1, "Bad RW [A: %08X]", a);
    return 0;
}

u32 Cartridge::badRead32(void* owner, CPU*, u32 a)
{
    cart(owner).logWarning(1, "Bad RL [A: %08X]", a);
    return 0;
}

void Cartridge::badWrite8(void* owner, CPU*, u32 a, u8 d)
{
    cart(owner).logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d);
}

void Cartridge::badWrite16(void* owner, CPU*, u32 a, u16 d)
{
    cart(owner).logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d);
}

void Cartridge::badWrite32(void* owner, CPU*, u32 a, u32 d)
{
    cart(owner).logWarning(1, "Bad WL [A: %08X, D: %08X]", a, d);
}

CartSaturn::CartSaturn(std::string name, u8 id, u32 size)
    : Cartridge(std::move(name)), m_data(std::make_unique<u8[]>(size)), m_size(size), m_id(id)
{
}

// ---- Backup memory ----

CartBUP::CartBUP(std::string name, u8 id, u32 size) : CartSaturn(std::move(name), id, size), m_addressMask(2 * size - 1)
{
    m_windows = {{kBase, kBase + m_addressMask, {this, read8, write8, read16, write16, read32, write32}}};
}

void CartBUP::reset()
{
    m_writeBack.settle();
}

bool CartBUP::pollWriteBack()
{
    return m_writeBack.poll();
}

u8 CartBUP::read8(void* o, CPU*, u32 a)
{
    const CartBUP& c = bup(o);
    return (a & 1) ? c.m_data[c.index(a)] : 0xFF;
}

u16 CartBUP::read16(void* o, CPU*, u32 a)
{
    const CartBUP& c = bup(o);
    return static_cast<u16>(0xFF00 | c.m_data[c.index(a)]);
}

u32 CartBUP::read32(void* o, CPU*, u32 a)
{
    const CartBUP& c = bup(o);
    const u32 i = c.index(a);
    // The second cell wraps inside the data like the first.
    return 0xFF00FF00u | u32{c.m_data[i]} << 16 | c.m_data[(i + 1) & (c.m_size - 1)];
}

void CartBUP::write8(void* o, CPU*, u32 a, u8 d)
{
    CartBUP& c = bup(o);
    c.m_data[c.index(a)] = d;
    c.m_writeBack.touch();
}

// The word write is the byte write of its low byte.
void CartBUP::write16(void* o, CPU* cpu, u32 a, u16 d)
{
    write8(o, cpu, a, static_cast<u8>(d));
}

void CartBUP::write32(void* o, CPU*, u32 a, u32 d)
{
    CartBUP& c = bup(o);
    const u32 i = c.index(a);
    c.m_data[i] = static_cast<u8>(d >> 16);
    c.m_data[(i + 1) & (c.m_size - 1)] = static_cast<u8>(d);
    c.m_writeBack.touch();
}

u8 CartBUP::peek(u32 address) const
{
    const u32 a = address & kAreaMask;
    if (!inWindow(a) || !(a & 1))
        return 0xFF;
    return m_data[index(a)];
}

void CartBUP::poke(u32 address, u8 value)
{
    const u32 a = address & kAreaMask;
    if (inWindow(a) && (a & 1))
        m_data[index(a)] = value;
}

// ---- DRAM ----

CartRAM::CartRAM(std::string name, u8 id, u32 size, u32 mask, u32 shift)
    : CartSaturn(std::move(name), id, size), m_mask(mask), m_shift(shift)
{
    m_windows = {
        {kInitRegister, kInitRegister + 1, {this, badRead8, badWrite8, badRead16, writeInit16, badRead32, badWrite32}},
        {kBase, kEnd, {this, read8, write8, read16, write16, read32, write32}},
    };
}

std::vector<DirectMapping> CartRAM::fetchPages() const
{
    // Each 64 KB page lies whole inside one bank repetition.
    std::vector<DirectMapping> pages;
    for (u32 page = kBase; page < kEnd; page += kPageBytes)
        pages.push_back({page, page + kPageBytes - 1, m_data.get() + offset(page)});
    return pages;
}

u8 CartRAM::read8(void* o, CPU*, u32 a)
{
    const CartRAM& c = ram(o);
    return c.m_data[c.offset(a)];
}

u16 CartRAM::read16(void* o, CPU*, u32 a)
{
    const CartRAM& c = ram(o);
    return loadBe16(c.m_data.get() + c.offset(a & ~1u));
}

u32 CartRAM::read32(void* o, CPU*, u32 a)
{
    const CartRAM& c = ram(o);
    return loadBe32(c.m_data.get() + c.offset(a & ~3u));
}

void CartRAM::write8(void* o, CPU*, u32 a, u8 d)
{
    CartRAM& c = ram(o);
    c.m_data[c.offset(a)] = d;
}

void CartRAM::write16(void* o, CPU*, u32 a, u16 d)
{
    CartRAM& c = ram(o);
    storeBe16(c.m_data.get() + c.offset(a & ~1u), d);
}

void CartRAM::write32(void* o, CPU*, u32 a, u32 d)
{
    CartRAM& c = ram(o);
    storeBe32(c.m_data.get() + c.offset(a & ~3u), d);
}

void CartRAM::writeInit16(void* o, CPU*, u32 a, u16 d)
{
    const CartRAM& c = ram(o);
    if ((a & 0x0FFFFFFF) != kInitRegister)
        c.logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d);
    else if (d != 1)
        c.logWarning(1, "Initialize RAM cartridge with illegal value [D: %04X]", d);
    else
        c.logInfo(1, "Initialize RAM cartridge");
}

u8 CartRAM::peek(u32 address) const
{
    const u32 a = address & kAreaMask;
    return (a >= kBase && a <= kEnd) ? m_data[offset(a)] : 0xFF;
}

void CartRAM::poke(u32 address, u8 value)
{
    const u32 a = address & kAreaMask;
    if (a >= kBase && a <= kEnd)
        m_data[offset(a)] = value;
}

// ---- ROM ----

CartROM::CartROM() : CartSaturn("CartROM", 0xC0, kSize)
{
    m_windows = {{kBase, kBase + kSize - 1, {this, read8, badWrite8, read16, write16, read32, write32}}};
}

std::vector<DirectMapping> CartROM::fetchPages() const
{
    return {{kBase, kBase + kSize - 1, m_data.get()}};
}

u8 CartROM::read8(void* o, CPU*, u32 a)
{
    return rom(o).m_data[a & (kSize - 1)];
}

u16 CartROM::read16(void* o, CPU*, u32 a)
{
    return loadBe16(rom(o).m_data.get() + (a & (kSize - 2)));
}

u32 CartROM::read32(void* o, CPU*, u32 a)
{
    return loadBe32(rom(o).m_data.get() + (a & (kSize - 4)));
}

void CartROM::write16(void* o, CPU*, u32 a, u16 d)
{
    rom(o).logWarning(1, "Bad area WW [A: %08X, D: %04X]", a, d);
}

void CartROM::write32(void* o, CPU*, u32 a, u32 d)
{
    rom(o).logWarning(1, "Bad area WL [A: %08X, D: %08X]", a, d);
}

u8 CartROM::peek(u32 address) const
{
    const u32 a = address & kAreaMask;
    return (a >= kBase && a - kBase < kSize) ? m_data[a - kBase] : 0xFF;
}

// The debugger may patch the image; the bus never can.
void CartROM::poke(u32 address, u8 value)
{
    const u32 a = address & kAreaMask;
    if (a >= kBase && a - kBase < kSize)
        m_data[a - kBase] = value;
}
