#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/base/cpu.h"
#include "core/base/device.h"
#include "core/base/write_back.h"

// A device in the cartridge slot: its own memory and the windows through
// which the SH-2 bus reaches it.
class Cartridge : public Device {
public:
    using Device::Device;

    const std::vector<MemoryMapWindow>& getWindows() const { return m_windows; }

    // Ranges the processors may fetch from straight out of the buffer; empty
    // when the data is not laid out byte for byte on the bus.
    virtual std::vector<DirectMapping> fetchPages() const { return {}; }

    // The debugger's view, without side effects. The address is the low 28
    // bits of a cartridge-area address; where the cartridge holds nothing the
    // bus floats high.
    virtual u8 peek(u32) const { return 0xFF; }
    virtual void poke(u32, u8) {}

    // Refused accesses: a warning under the cartridge's name, reads give 0.
    static u8 badRead8(void* owner, CPU*, u32 a);
    static u16 badRead16(void* owner, CPU*, u32 a);
    static u32 badRead32(void* owner, CPU*, u32 a);
    static void badWrite8(void* owner, CPU*, u32 a, u8 d);
    static void badWrite16(void* owner, CPU*, u32 a, u16 d);
    static void badWrite32(void* owner, CPU*, u32 a, u32 d);

protected:
    std::vector<MemoryMapWindow> m_windows;
};

// A console cartridge: a data buffer in the bus's byte order and the ID byte
// the game reads at 0x04FFFFFF.
class CartSaturn : public Cartridge {
public:
    CartSaturn(std::string name, u8 id, u32 size);

    u8* data() { return m_data.get(); }
    const u8* data() const { return m_data.get(); }
    u32 size() const { return m_size; }
    u8 getId() const { return m_id; }

protected:
    std::unique_ptr<u8[]> m_data;
    u32 m_size;
    u8 m_id;
};

// Backup memory on the odd bytes of CS1.
class CartBUP : public CartSaturn {
public:
    static constexpr u32 kBase = 0x04000000;

    CartBUP(std::string name, u8 id, u32 size);

    void reset() override;
    // True once the data has been written and then left alone for a whole
    // field; called once per field.
    bool pollWriteBack();
    // Written since its file last was.
    bool unsaved() const { return m_writeBack.unsaved(); }
    // The data matches its file.
    void settle() { m_writeBack.settle(); }

    u8 peek(u32 address) const override;
    void poke(u32 address, u8 value) override;

    static u8 read8(void* owner, CPU*, u32 a);
    static u16 read16(void* owner, CPU*, u32 a);
    static u32 read32(void* owner, CPU*, u32 a);
    static void write8(void* owner, CPU*, u32 a, u8 d);
    static void write16(void* owner, CPU*, u32 a, u16 d);
    static void write32(void* owner, CPU*, u32 a, u32 d);

private:
    u32 index(u32 a) const { return (a >> 1) & (m_size - 1); }
    bool inWindow(u32 a) const { return a >= kBase && a - kBase <= m_addressMask; }

    u32 m_addressMask;
    WriteBack m_writeBack;
};

class CartBUP512K : public CartBUP {
public:
    CartBUP512K() : CartBUP("CartBUP512K", 0x21, 0x80000) {}
};

class CartBUP1M : public CartBUP {
public:
    CartBUP1M() : CartBUP("CartBUP1M", 0x22, 0x100000) {}
};

class CartBUP2M : public CartBUP {
public:
    CartBUP2M() : CartBUP("CartBUP2M", 0x23, 0x200000) {}
};

class CartBUP4M : public CartBUP {
public:
    CartBUP4M() : CartBUP("CartBUP4M", 0x24, 0x400000) {}
};

// DRAM expansion in CS0 at 0x02400000-0x027FFFFF, in two banks.
class CartRAM : public CartSaturn {
public:
    static constexpr u32 kBase = 0x02400000;
    static constexpr u32 kEnd = 0x027FFFFF;
    static constexpr u32 kInitRegister = 0x057EFFFE;

    CartRAM(std::string name, u8 id, u32 size, u32 mask, u32 shift);

    std::vector<DirectMapping> fetchPages() const override;
    u8 peek(u32 address) const override;
    void poke(u32 address, u8 value) override;

    static u8 read8(void* owner, CPU*, u32 a);
    static u16 read16(void* owner, CPU*, u32 a);
    static u32 read32(void* owner, CPU*, u32 a);
    static void write8(void* owner, CPU*, u32 a, u8 d);
    static void write16(void* owner, CPU*, u32 a, u16 d);
    static void write32(void* owner, CPU*, u32 a, u32 d);
    static void writeInit16(void* owner, CPU*, u32 a, u16 d);

    u32 offset(u32 a) const { return ((a & 0x200000) >> m_shift) | (a & m_mask); }

private:
    u32 m_mask;
    u32 m_shift;
};

class CartRAM1M : public CartRAM {
public:
    CartRAM1M() : CartRAM("CartRAM1M", 0x5A, 0x100000, 0x7FFFF, 2) {}
};

class CartRAM4M : public CartRAM {
public:
    CartRAM4M() : CartRAM("CartRAM4M", 0x5C, 0x400000, 0x1FFFFF, 0) {}
};

// Read-only data at 0x02000000-0x021FFFFF.
class CartROM : public CartSaturn {
public:
    static constexpr u32 kBase = 0x02000000;
    static constexpr u32 kSize = 0x200000;

    CartROM();

    std::vector<DirectMapping> fetchPages() const override;
    u8 peek(u32 address) const override;
    void poke(u32 address, u8 value) override;

    static u8 read8(void* owner, CPU*, u32 a);
    static u16 read16(void* owner, CPU*, u32 a);
    static u32 read32(void* owner, CPU*, u32 a);
    static void write16(void* owner, CPU*, u32 a, u16 d);
    static void write32(void* owner, CPU*, u32 a, u32 d);
};
