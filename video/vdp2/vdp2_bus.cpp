// VDP2 bus handlers: VRAM, colour RAM and the register window.
#include <array>

#include "core/base/cpu.h"
#include "video/vdp2/vdp2.h"

namespace {

constexpr u32 kVramMask = VDP2::kVramSize - 1;
constexpr u32 kColorRamMask = VDP2::kColorRamSize - 1;
constexpr u32 kColorRamHalfMask = VDP2::kColorRamSize / 2 - 1;
constexpr u32 kRegisterMask = 0x1FF;

VDP2& self(void* owner) { return *static_cast<VDP2*>(owner); }

struct MaskRange {
    u32 first;
    u32 last;
    u16 mask;
};

// Bits kept by a word write. Read-only and reserved words keep none; the
// read-only ones are told apart below, since a write there stores nothing.
constexpr MaskRange kMaskRanges[] = {
    {VDP2::TVMD, VDP2::TVMD, 0x81F7},
    {VDP2::EXTEN, VDP2::EXTEN, 0x0303},
    {VDP2::VRSIZE, VDP2::VRSIZE, 0x800F},
    {VDP2::RAMCTL, VDP2::RAMCTL, 0xB3FF},
    {VDP2::CYCA0L, VDP2::CYCB1U, 0xFFFF},
    {VDP2::BGON, VDP2::BGON, 0x1F3F},
    {VDP2::MZCTL, VDP2::MZCTL, 0xFF1F},
    {VDP2::SFSEL, VDP2::SFSEL, 0x001F},
    {VDP2::SFCODE, VDP2::SFCODE, 0xFFFF},
    {VDP2::CHCTLA, VDP2::CHCTLA, 0x3F7F},
    {VDP2::CHCTLB, VDP2::CHCTLB, 0x7733},
    {VDP2::BMPNA, VDP2::BMPNA, 0x3737},
    {VDP2::BMPNB, VDP2::BMPNB, 0x0037},
    {VDP2::PNCN0, VDP2::PNCR, 0xC3FF},
    {VDP2::PLSZ, VDP2::PLSZ, 0xFFFF},
    {VDP2::MPOFN, VDP2::MPOFN, 0x7777},
    {VDP2::MPOFR, VDP2::MPOFR, 0x0077},
    {VDP2::MPABN0, 0x06E, 0x3F3F},
    {VDP2::SCXIN0, VDP2::SCXIN0, 0x07FF},
    {VDP2::SCXDN0, VDP2::SCXDN0, 0xFF00},
    {VDP2::SCYIN0, VDP2::SCYIN0, 0x07FF},
    {VDP2::SCYDN0, VDP2::SCYDN0, 0xFF00},
    {VDP2::ZMXIN0, VDP2::ZMXIN0, 0x0007},
    {VDP2::ZMXDN0, VDP2::ZMXDN0, 0xFF00},
    {VDP2::ZMYIN0, VDP2::ZMYIN0, 0x0007},
    {VDP2::ZMYDN0, VDP2::ZMYDN0, 0xFF00},
    {VDP2::SCXIN1, VDP2::SCXIN1, 0x07FF},
    {VDP2::SCXDN1, VDP2::SCXDN1, 0xFF00},
    {VDP2::SCYIN1, VDP2::SCYIN1, 0x07FF},
    {VDP2::SCYDN1, VDP2::SCYDN1, 0xFF00},
    {VDP2::ZMXIN1, VDP2::ZMXIN1, 0x0007},
    {VDP2::ZMXDN1, VDP2::ZMXDN1, 0xFF00},
    {VDP2::ZMYIN1, VDP2::ZMYIN1, 0x0007},
    {VDP2::ZMYDN1, VDP2::ZMYDN1, 0xFF00},
    {VDP2::SCXN2, VDP2::SCYN3, 0x07FF},
    {VDP2::ZMCTL, VDP2::ZMCTL, 0x0303},
    {VDP2::SCRCTL, VDP2::SCRCTL, 0xFFFF},
    {VDP2::VCSTAU, VDP2::VCSTAU, 0x0007},
    {VDP2::VCSTAL, VDP2::VCSTAL, 0xFFFE},
    {VDP2::LSTA0U, VDP2::LSTA0U, 0x0007},
    {VDP2::LSTA0L, VDP2::LSTA0L, 0xFFFE},
    {VDP2::LSTA1U, VDP2::LSTA1U, 0x0007},
    {VDP2::LSTA1L, VDP2::LSTA1L, 0xFFFE},
    {VDP2::LCTAU, VDP2::LCTAU, 0x8007},
    {VDP2::LCTAL, VDP2::LCTAL, 0xFFFF},
    {VDP2::BKTAU, VDP2::BKTAU, 0x8007},
    {VDP2::BKTAL, VDP2::BKTAL, 0xFFFF},
    {VDP2::RPMD, VDP2::RPMD, 0x0003},
    {VDP2::RPRCTL, VDP2::RPRCTL, 0x0707},
    {VDP2::KTCTL, VDP2::KTCTL, 0x1F1F},
    {VDP2::KTAOF, VDP2::KTAOF, 0x0707},
    {VDP2::OVPNRA, VDP2::OVPNRB, 0xFFFF},
    {VDP2::RPTAU, VDP2::RPTAU, 0x0007},
    {VDP2::RPTAL, VDP2::RPTAL, 0xFFFE},
    {VDP2::WPSX0, VDP2::WPSX0, 0x03FF},
    {VDP2::WPSY0, VDP2::WPSY0, 0x01FF},
    {VDP2::WPEX0, VDP2::WPEX0, 0x03FF},
    {VDP2::WPEY0, VDP2::WPEY0, 0x01FF},
    {VDP2::WPSX1, VDP2::WPSX1, 0x03FF},
    {VDP2::WPSY1, VDP2::WPSY1, 0x01FF},
    {VDP2::WPEX1, VDP2::WPEX1, 0x03FF},
    {VDP2::WPEY1, VDP2::WPEY1, 0x01FF},
    {VDP2::WCTLA, VDP2::WCTLC, 0xBFBF},
    {VDP2::WCTLD, VDP2::WCTLD, 0xBF8F},
    {VDP2::LWTA0U, VDP2::LWTA0U, 0x8007},
    {VDP2::LWTA0L, VDP2::LWTA0L, 0xFFFE},
    {VDP2::LWTA1U, VDP2::LWTA1U, 0x8007},
    {VDP2::LWTA1L, VDP2::LWTA1L, 0xFFFE},
    {VDP2::SPCTL, VDP2::SPCTL, 0x373F},
    {VDP2::SDCTL, VDP2::SDCTL, 0x013F},
    {VDP2::CRAOFA, VDP2::CRAOFA, 0x7777},
    {VDP2::CRAOFB, VDP2::CRAOFB, 0x0077},
    {VDP2::LNCLEN, VDP2::LNCLEN, 0x003F},
    {VDP2::SFPRMD, VDP2::SFPRMD, 0x03FF},
    {VDP2::CCCTL, VDP2::CCCTL, 0xF77F},
    {VDP2::SFCCMD, VDP2::SFCCMD, 0x03FF},
    {VDP2::PRISA, VDP2::PRINB, 0x0707},
    {VDP2::PRIR, VDP2::PRIR, 0x0007},
    {VDP2::CCRSA, VDP2::CCRNB, 0x1F1F},
    {VDP2::CCRR, VDP2::CCRR, 0x001F},
    {VDP2::CCRLB, VDP2::CCRLB, 0x1F1F},
    {VDP2::CLOFEN, VDP2::CLOFSL, 0x007F},
    {VDP2::COAR, VDP2::COBB, 0x01FF},
};

constexpr std::array<u16, VDP2::kRegisterWords> buildMasks()
{
    std::array<u16, VDP2::kRegisterWords> masks{};
    for (const MaskRange& r : kMaskRanges) {
        for (u32 offset = r.first; offset <= r.last; offset += 2)
            masks[offset >> 1] = r.mask;
    }
    return masks;
}

constexpr std::array<u16, VDP2::kRegisterWords> kWriteMasks = buildMasks();

struct UseRange {
    u32 first;
    u32 last;
    u32 users;
};

constexpr u32 layerBit(u32 layer) { return 1u << layer; }
constexpr u32 kNbg01 = layerBit(vdp2::kNbg0) | layerBit(vdp2::kNbg1);
constexpr u32 kNbg23 = layerBit(vdp2::kNbg2) | layerBit(vdp2::kNbg3);
// NBG0's and NBG1's settings that RBG1 and EXBG share.
constexpr u32 kSharedA = kNbg01 | layerBit(vdp2::kRbg1) | layerBit(vdp2::kExbg);

// The cached settings each register feeds, for the registers programs
// change between lines; a write to any other register makes all of them
// stale.
constexpr UseRange kUseRanges[] = {
    {VDP2::CYCA0L, VDP2::CYCB1U, VDP2::kStaleEffects},
    {VDP2::PNCN0, VDP2::PNCN0, layerBit(vdp2::kNbg0) | layerBit(vdp2::kRbg1)},
    {VDP2::PNCN1, VDP2::PNCN1, layerBit(vdp2::kNbg1)},
    {VDP2::PNCN2, VDP2::PNCN2, layerBit(vdp2::kNbg2)},
    {VDP2::PNCN3, VDP2::PNCN3, layerBit(vdp2::kNbg3)},
    {VDP2::PNCR, VDP2::PNCR, layerBit(vdp2::kRbg0)},
    {VDP2::MPABN0, 0x042, layerBit(vdp2::kNbg0)},
    {0x044, 0x046, layerBit(vdp2::kNbg1)},
    {0x048, 0x04A, layerBit(vdp2::kNbg2)},
    {0x04C, 0x04E, layerBit(vdp2::kNbg3)},
    {VDP2::SCXIN0, VDP2::ZMYDN0, layerBit(vdp2::kNbg0)},
    {VDP2::SCXIN1, VDP2::ZMYDN1, layerBit(vdp2::kNbg1)},
    {VDP2::SCXN2, VDP2::SCYN2, layerBit(vdp2::kNbg2)},
    {VDP2::SCXN3, VDP2::SCYN3, layerBit(vdp2::kNbg3)},
    {VDP2::ZMCTL, VDP2::SCRCTL, kNbg01},
    {VDP2::VCSTAU, VDP2::VCSTAL, VDP2::kStaleEffects},
    {VDP2::LSTA0U, VDP2::LSTA0L, layerBit(vdp2::kNbg0)},
    {VDP2::LSTA1U, VDP2::LSTA1L, layerBit(vdp2::kNbg1)},
    {VDP2::WPSX0, VDP2::WPEY1, VDP2::kStaleEffects},
    {VDP2::WCTLA, VDP2::WCTLA, kSharedA},
    {VDP2::WCTLB, VDP2::WCTLB, kNbg23},
    {VDP2::WCTLC, VDP2::WCTLC, layerBit(vdp2::kRbg0) | VDP2::kStaleSprite},
    {VDP2::WCTLD, VDP2::WCTLD, VDP2::kStaleEffects},
    {VDP2::LWTA0U, VDP2::LWTA1L, VDP2::kStaleEffects},
    {VDP2::SPCTL, VDP2::SPCTL, VDP2::kStaleSprite},
    {VDP2::PRISA, VDP2::PRISD, VDP2::kStaleSprite},
    {VDP2::PRINA, VDP2::PRINA, kSharedA},
    {VDP2::PRINB, VDP2::PRINB, kNbg23},
    {VDP2::PRIR, VDP2::PRIR, layerBit(vdp2::kRbg0)},
    {VDP2::CCRSA, VDP2::CCRSD, VDP2::kStaleSprite},
    {VDP2::CCRNA, VDP2::CCRNA, kSharedA},
    {VDP2::CCRNB, VDP2::CCRNB, kNbg23},
    {VDP2::CCRR, VDP2::CCRR, layerBit(vdp2::kRbg0)},
};

constexpr std::array<u16, VDP2::kRegisterWords> buildUsers()
{
    std::array<u16, VDP2::kRegisterWords> users{};
    users.fill(VDP2::kStaleAll);
    for (const UseRange& r : kUseRanges) {
        for (u32 offset = r.first; offset <= r.last; offset += 2)
            users[offset >> 1] = static_cast<u16>(r.users);
    }
    return users;
}

constexpr std::array<u16, VDP2::kRegisterWords> kUsers = buildUsers();

// The colour RAM block (64 bytes) an address falls in.
u64 colorBlock(u32 a)
{
    return u64{1} << ((a & kColorRamMask) >> 6);
}

constexpr bool isReadOnly(u32 offset)
{
    return offset == VDP2::TVSTAT || offset == VDP2::HCNT || offset == VDP2::VCNT;
}

// Only these words can be read back; the rest of the file is write-only.
bool readMask(u32 offset, u16& mask)
{
    switch (offset) {
    case VDP2::TVMD: mask = 0x81F7; return true;
    case VDP2::EXTEN: mask = 0x0303; return true;
    case VDP2::TVSTAT: mask = 0x030F; return true;
    case VDP2::VRSIZE: mask = 0x800F; return true;
    case VDP2::HCNT: mask = 0x03FF; return true;
    case VDP2::VCNT: mask = 0x03FF; return true;
    case VDP2::RAMCTL: mask = 0xB3FF; return true;
    default: return false;
    }
}

}  // namespace

u16 VDP2::writeMask(u32 offset)
{
    return (offset <= kLastRegister && !(offset & 1)) ? kWriteMasks[offset >> 1] : 0;
}

AccessHandlers VDP2::getAccessHandlers(int area)
{
    switch (area) {
    case kVram: {
        AccessHandlers h{this, readVram8, writeVram8, readVram16, writeVram16, readVram32, writeVram32};
        // Nothing watches VRAM between lines: a processor may reach it in
        // place, in both halves of its window.
        h.ram = m_vram;
        h.ramMask = kVramMask;
        return h;
    }
    case kColorRam:
        return {this, readColorRam8, writeColorRam8, readColorRam16, writeColorRam16, readColorRam32,
                writeColorRam32};
    case kRegisters: {
        AccessHandlers h{this, readRegister8, writeRegister8, readRegister16, writeRegister16, readRegister32,
                         writeRegister32};
        h.steadyRead = steadyRegister;
        return h;
    }
    default:
        return {};
    }
}

// VRAM: 512 KB, seen twice in its 1 MB window.

u8 VDP2::readVram8(void* o, CPU*, u32 a) { return self(o).m_vram[a & kVramMask]; }
u16 VDP2::readVram16(void* o, CPU*, u32 a) { return loadBe16(self(o).m_vram + (a & kVramMask & ~1u)); }
u32 VDP2::readVram32(void* o, CPU*, u32 a) { return loadBe32(self(o).m_vram + (a & kVramMask & ~3u)); }
void VDP2::writeVram8(void* o, CPU*, u32 a, u8 d) { self(o).m_vram[a & kVramMask] = d; }
void VDP2::writeVram16(void* o, CPU*, u32 a, u16 d) { storeBe16(self(o).m_vram + (a & kVramMask & ~1u), d); }
void VDP2::writeVram32(void* o, CPU*, u32 a, u32 d) { storeBe32(self(o).m_vram + (a & kVramMask & ~3u), d); }

// Colour RAM: reads never depend on the mode; writes in mode 0 land in both
// halves, so the 1,024 colours of that mode are always seen twice.

u8 VDP2::readColorRam8(void* o, CPU*, u32 a) { return self(o).m_colorRam[a & kColorRamMask]; }
u16 VDP2::readColorRam16(void* o, CPU*, u32 a)
{
    return loadBe16(self(o).m_colorRam + (a & kColorRamMask & ~1u));
}
u32 VDP2::readColorRam32(void* o, CPU*, u32 a)
{
    return loadBe32(self(o).m_colorRam + (a & kColorRamMask & ~3u));
}

void VDP2::writeColorRam8(void* o, CPU*, u32 a, u8 d)
{
    VDP2& v = self(o);
    if ((v.reg(RAMCTL) >> 12) & 3) {
        v.m_colorRam[a & kColorRamMask] = d;
        v.m_colorRamDirty |= colorBlock(a);
        return;
    }
    const u32 low = a & kColorRamHalfMask;
    const u32 high = low | (kColorRamHalfMask + 1);
    v.m_colorRam[low] = d;
    v.m_colorRam[high] = d;
    v.m_colorRamDirty |= colorBlock(low) | colorBlock(high);
}

void VDP2::storeColorWord(u32 a, u16 d)
{
    if ((reg(RAMCTL) >> 12) & 3) {
        storeBe16(m_colorRam + (a & kColorRamMask & ~1u), d);
        m_colorRamDirty |= colorBlock(a);
        return;
    }
    const u32 low = a & kColorRamHalfMask & ~1u;
    const u32 high = low | (kColorRamHalfMask + 1);
    storeBe16(m_colorRam + low, d);
    storeBe16(m_colorRam + high, d);
    m_colorRamDirty |= colorBlock(low) | colorBlock(high);
}

void VDP2::writeColorRam16(void* o, CPU*, u32 a, u16 d) { self(o).storeColorWord(a, d); }

void VDP2::writeColorRam32(void* o, CPU*, u32 a, u32 d)
{
    VDP2& v = self(o);
    const u32 at = a & kColorRamMask & ~3u;
    v.storeColorWord(at, static_cast<u16>(d >> 16));
    v.storeColorWord(at + 2, static_cast<u16>(d));
}

// Register window: 0x120 bytes of words, repeated every 0x200 bytes.

// The slave SH-2 has no business here; its accesses are served but noted.
bool VDP2::fromSlave(const CPU* cpu)
{
    return cpu && (cpu->getIndex() & 1);
}

u16 VDP2::readWord(CPU* cpu, u32 a)
{
    if (fromSlave(cpu))
        logError(1, "Slave SH2: RW [A:%08X]", a);
    u16 value = 0;
    if (!peekWord(a, value))
        logWarning(1, "Bad RW [A: %08X]", a);
    return value;
}

// A word that reads back, as read.
bool VDP2::peekWord(u32 a, u16& value) const
{
    const u32 offset = a & kRegisterMask;
    u16 mask = 0;
    if (!readMask(offset, mask))
        return false;
    value = reg(offset) & mask;
    return true;
}

// The words that read back (TVSTAT and VCNT among them) change only in the
// raster's events and through writes, and reading them changes nothing;
// byte reads answer 0. The slave's reads are logged, so only the master's
// are steady.
bool VDP2::steadyRegister(void* o, const CPU* cpu, u32 a, u32 width, u32& value)
{
    const VDP2& v = self(o);
    if (fromSlave(cpu))
        return false;
    u16 high = 0, low = 0;
    switch (width) {
    case 1: value = 0; return true;
    case 2:
        if (!v.peekWord(a, low))
            return false;
        value = low;
        return true;
    default:
        if (!v.peekWord(a, high) || !v.peekWord(a + 2, low))
            return false;
        value = u32{high} << 16 | low;
        return true;
    }
}

void VDP2::writeWord(CPU* cpu, u32 a, u16 d)
{
    if (fromSlave(cpu))
        logError(1, "Slave SH2: WW [A:%08X, D: %04X]", a, d);
    const u32 offset = a & kRegisterMask;
    if (offset > kLastRegister || (offset & 1)) {
        logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d);
        return;
    }
    if (isReadOnly(offset))
        return;
    storeRegister(offset, static_cast<u16>(d & kWriteMasks[offset >> 1]));
}

void VDP2::storeRegister(u32 offset, u16 value)
{
    u16& word = regRef(offset);
    if (word == value)
        return;
    word = value;
    m_stale |= kUsers[(offset >> 1) % kRegisterWords];
}

u8 VDP2::readRegister8(void* o, CPU* cpu, u32 a)
{
    if (fromSlave(cpu))
        self(o).logError(1, "Slave SH2: RB [A:%08X]", a);
    return 0;
}

u16 VDP2::readRegister16(void* o, CPU* cpu, u32 a) { return self(o).readWord(cpu, a); }

u32 VDP2::readRegister32(void* o, CPU* cpu, u32 a)
{
    VDP2& v = self(o);
    const u32 high = v.readWord(cpu, a);
    return high << 16 | v.readWord(cpu, a + 2);
}

void VDP2::writeRegister8(void* o, CPU* cpu, u32 a, u8 d)
{
    VDP2& v = self(o);
    if (fromSlave(cpu))
        v.logError(1, "Slave SH2: WB [A:%08X, D: %02X]", a, d);
    const u32 offset = a & kRegisterMask;
    // The cycle patterns are set a byte at a time; PRIR's two bytes are
    // taken as written.
    if ((offset >= CYCA0L && offset <= CYCB1U + 1) || offset == PRIR || offset == PRIR + 1) {
        const u16 word = v.reg(offset & ~1u);
        v.storeRegister(offset & ~1u, static_cast<u16>((offset & 1) ? (word & 0xFF00) | d : (word & 0x00FF) | d << 8));
        return;
    }
    v.logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d);
}

void VDP2::writeRegister16(void* o, CPU* cpu, u32 a, u16 d) { self(o).writeWord(cpu, a, d); }

void VDP2::writeRegister32(void* o, CPU* cpu, u32 a, u32 d)
{
    VDP2& v = self(o);
    v.writeWord(cpu, a, static_cast<u16>(d >> 16));
    v.writeWord(cpu, a + 2, static_cast<u16>(d));
}
