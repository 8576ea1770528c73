// The SH-2 bus map of the machine and the handlers of the areas the
// machine serves itself.
#include <cstdio>

#include "board/cart/cartridge.h"
#include "core/base/host_pad.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"

namespace {

constexpr const char* kAreaNames[] = {
    "BIOS", "BACKUP", "WRAM-L", "WRAM-H", "DUMMY0", "DUMMY1", "DUMMY2", "DUMMY3", "DUMMY4", "DUMMY5",
    "MINIT", "SINIT", "CS0", "CS1", "CS2", "UNKREG", nullptr, "RS232C", "SERIAL", nullptr,
};

CSystem& sys(void* owner) { return *static_cast<CSystem*>(owner); }

char widthLetter(int width) { return width == 1 ? 'B' : width == 2 ? 'W' : 'L'; }

}  // namespace

void CSystem::badAccess(const char* area, char op, int width, u32 a, u32 d) const
{
    if (!logs(1))
        return;
    char message[96];
    if (op == 'R')
        std::snprintf(message, sizeof message, "Bad R%c [A: %08X]", widthLetter(width), a);
    else
        std::snprintf(message, sizeof message, "Bad W%c [A: %08X, D: %0*X]", widthLetter(width), a, width * 2, d);
    if (area)
        logWarning(1, "%s: %s", area, message);
    else
        logWarning(1, "%s", message);
}

// Areas where nothing answers: a line with the area's name, and 0.
template <CSystem::Area A>
struct CSystem::Handlers {
    static constexpr const char* kName = kAreaNames[A];
    static u8 rb(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 1, a); return 0; }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 2, a); return 0; }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 4, a); return 0; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(kName, 'W', 1, a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(kName, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
};

template <>
struct CSystem::Handlers<CSystem::kBiosRom> : CSystem::Handlers<CSystem::kDummy0> {
    static u8 rb(void* o, CPU*, u32 a) { return sys(o).bios[a & (kBiosSize - 1)]; }
    static u16 rw(void* o, CPU*, u32 a) { return loadBe16(&sys(o).bios[a & (kBiosSize - 2)]); }
    static u32 rl(void* o, CPU*, u32 a) { return loadBe32(&sys(o).bios[a & (kBiosSize - 4)]); }
    static void wb(void* o, CPU*, u32 a, u8 d) { if (sys(o).logs(2)) sys(o).logWarning(2, "BIOS: Bad WB [A: %08X, D: %02X]", a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { if (sys(o).logs(2)) sys(o).logWarning(2, "BIOS: Bad WW [A: %08X, D: %04X]", a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { if (sys(o).logs(2)) sys(o).logWarning(2, "BIOS: Bad WL [A: %08X, D: %08X]", a, d); }
};

// The backup memory sits on the odd addresses of its window.
template <>
struct CSystem::Handlers<CSystem::kBackup> {
    static u8 cell(CSystem& s, u32 i) { return s.backup[i & (s.m_backupMask >> 1)]; }
    static u8 rb(void* o, CPU*, u32 a) { return (a & 1) ? cell(sys(o), sys(o).backupIndex(a)) : 0xFF; }
    static u16 rw(void* o, CPU*, u32 a) { return static_cast<u16>(0xFF00 | cell(sys(o), sys(o).backupIndex(a))); }
    static u32 rl(void* o, CPU*, u32 a)
    {
        CSystem& s = sys(o);
        const u32 i = s.backupIndex(a);
        // The second cell wraps inside the memory like the first.
        return 0xFF00FF00u | u32{cell(s, i)} << 16 | cell(s, i + 1);
    }
    static void set(CSystem& s, u32 i, u8 d)
    {
        s.backup[i & (s.m_backupMask >> 1)] = d;
        s.markBackupChanged();
    }
    static void wb(void* o, CPU*, u32 a, u8 d) { set(sys(o), sys(o).backupIndex(a), d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { set(sys(o), sys(o).backupIndex(a), static_cast<u8>(d)); }
    static void wl(void* o, CPU*, u32 a, u32 d)
    {
        CSystem& s = sys(o);
        const u32 i = s.backupIndex(a);
        set(s, i, static_cast<u8>(d >> 16));
        set(s, i + 1, static_cast<u8>(d));
    }
};

template <CSystem::Area A>
struct WorkRam {
    static u8* ram(void* o)
    {
        SystemMemory& m = sys(o).memory();
        return A == CSystem::kWorkRamLow ? m.workRamLow.get() : m.workRamHigh.get();
    }
    static constexpr u32 kMask = SystemMemory::kWorkRamSize - 1;
    static u8 rb(void* o, CPU*, u32 a) { return ram(o)[a & kMask]; }
    static u16 rw(void* o, CPU*, u32 a) { return loadBe16(ram(o) + (a & (kMask - 1))); }
    static u32 rl(void* o, CPU*, u32 a) { return loadBe32(ram(o) + (a & (kMask - 3))); }
    static void wb(void* o, CPU*, u32 a, u8 d) { ram(o)[a & kMask] = d; }
    static void ww(void* o, CPU*, u32 a, u16 d) { storeBe16(ram(o) + (a & (kMask - 1)), d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { storeBe32(ram(o) + (a & (kMask - 3)), d); }
};

template <>
struct CSystem::Handlers<CSystem::kWorkRamLow> : WorkRam<CSystem::kWorkRamLow> {};
template <>
struct CSystem::Handlers<CSystem::kWorkRamHigh> : WorkRam<CSystem::kWorkRamHigh> {};

template <>
struct CSystem::Handlers<CSystem::kDummy2> : CSystem::Handlers<CSystem::kDummy0> {
    static constexpr const char* kName = "DUMMY2";
    static u8 rb(void*, CPU*, u32 a) { return (a & 1) ? static_cast<u8>((a & 0xF) >> 1) : 0; }
    static u16 rw(void*, CPU*, u32 a) { return static_cast<u16>((a >> 1) & 7); }
    static u32 rl(void*, CPU*, u32 a) { const u32 v = (a >> 1) & 7; return v * 0x10000 + v + 1; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(kName, 'W', 1, a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(kName, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
};

template <>
struct CSystem::Handlers<CSystem::kDummy4> : CSystem::Handlers<CSystem::kDummy0> {
    static constexpr const char* kName = "DUMMY4";
    static u8 rb(void* o, CPU*, u32 a) { sys(o).logWarning(1, "DUMMY4: Bad RB [A: %08X], Lockup", a); return 0; }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).logWarning(1, "DUMMY4: Bad RW [A: %08X], Lockup", a); return 0; }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).logWarning(1, "DUMMY4: Bad RL [A: %08X], Lockup", a); return 0; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(kName, 'W', 1, a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(kName, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
};

template <>
struct CSystem::Handlers<CSystem::kDummy5> : CSystem::Handlers<CSystem::kDummy0> {
    static constexpr const char* kName = "DUMMY5";
    static u8 rb(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 1, a); return (a & 3) == 1 ? 0x0E : 0; }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 2, a); return (a & 2) ? 0 : 0x000E; }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 4, a); return 0x000E0000; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(kName, 'W', 1, a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(kName, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
};

// A word write to MINIT (SINIT) pulses the slave's (master's) input-capture
// line. It ends the writer's slice there, so the capture lands before the
// writer runs on.
template <CSystem::Area A>
struct InitLine {
    static constexpr const char* kName = A == CSystem::kMinit ? "MINIT" : "SINIT";
    static u8 rb(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 1, a); return 0xFF; }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 2, a); return 0xFFFF; }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 4, a); return 0xFFFFFFFF; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(kName, 'W', 1, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
    static void ww(void* o, CPU* cpu, u32 a, u16 d)
    {
        CSystem& s = sys(o);
        SH2* target = A == CSystem::kMinit ? &s.slave() : &s.master();
        if (!cpu || !cpu->scheduleIn(0, SH2::onInputCapture, target, 1, Scheduler::kOneShot, 0))
            SH2::onInputCapture(target, 0);
        if (A == CSystem::kMinit)
            s.logInfo(2, "MINIT: WW [A: %08X, D: %04X]", a, d);
        else
            s.logError(2, "SINIT: WW [A: %08X, D: %04X]", a, d);
    }
};

template <>
struct CSystem::Handlers<CSystem::kMinit> : InitLine<CSystem::kMinit> {};
template <>
struct CSystem::Handlers<CSystem::kSinit> : InitLine<CSystem::kSinit> {};

u8 CSystem::unkregReadByte(u32 a)
{
    const u8 value = m_unkreg[a & 0xFF];
    badAccess("UNKREG", 'R', 1, a);
    return value;
}

void CSystem::unkregWriteByte(u32 a, u8 d)
{
    badAccess("UNKREG", 'W', 1, a, d);
    m_unkreg[a & 0xFF] = d;
}

template <>
struct CSystem::Handlers<CSystem::kUnkreg> {
    static u8 rb(void* o, CPU*, u32 a) { return sys(o).unkregReadByte(a); }
    static u16 rw(void* o, CPU*, u32 a)
    {
        CSystem& s = sys(o);
        const u8 low = s.unkregReadByte(a + 1);
        const u8 high = s.unkregReadByte(a);
        s.badAccess("UNKREG", 'R', 2, a);
        return static_cast<u16>(high << 8 | low);
    }
    static u32 rl(void* o, CPU* cpu, u32 a)
    {
        const u16 low = rw(o, cpu, a + 2);
        const u16 high = rw(o, cpu, a);
        sys(o).badAccess("UNKREG", 'R', 4, a);
        return u32{high} << 16 | low;
    }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).unkregWriteByte(a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d)
    {
        CSystem& s = sys(o);
        s.badAccess("UNKREG", 'W', 2, a, d);
        s.unkregWriteByte(a, static_cast<u8>(d >> 8));
        s.unkregWriteByte(a + 1, static_cast<u8>(d));
    }
    static void wl(void* o, CPU* cpu, u32 a, u32 d)
    {
        sys(o).badAccess("UNKREG", 'W', 4, a, d);
        ww(o, cpu, a, static_cast<u16>(d >> 16));
        ww(o, cpu, a + 2, static_cast<u16>(d));
    }
};

u8 CSystem::arcadeIoRead(u32 a)
{
    switch (a & 0xFF) {
    case 1:
    case 3: return arcadeInputPort(kArcadePlayerPort);
    case 5: return arcadeInputPort(kArcadeSystemPort);
    case 7: return m_ioLatch[0];
    case 9: case 11: case 13: return m_ioLatch[1];
    case 23: return m_ioLatch[2];
    case 25: return m_ioLatch[3];
    case 27: return 0;
    case 31: return m_ioSequence[m_ioIndex++ & 7];
    default:
        badAccess(nullptr, 'R', 1, a);
        return 0xFF;
    }
}

void CSystem::arcadeIoWrite(u32 a, u8 d)
{
    switch (a & 0xFF) {
    case 7: m_ioLatch[0] = d; return;
    case 9: case 11: case 13: m_ioLatch[1] = d; return;
    case 19: m_ioLatch[2] = d; return;
    case 21: m_ioLatch[3] = d; return;
    case 31: m_ioIndex = d; return;
    default: badAccess(nullptr, 'W', 1, a, d); return;
    }
}

template <>
struct CSystem::Handlers<CSystem::kArcadeIo> {
    static u8 rb(void* o, CPU*, u32 a) { return sys(o).arcadeIoRead(a); }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).badAccess(nullptr, 'R', 2, a); return 0xFFFF; }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).badAccess(nullptr, 'R', 4, a); return 0xFFFFFFFF; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).arcadeIoWrite(a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(nullptr, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(nullptr, 'W', 4, a, d); }
};

template <>
struct CSystem::Handlers<CSystem::kRs232c> : CSystem::Handlers<CSystem::kDummy0> {
    static constexpr const char* kName = "RS232C";
    static u8 rb(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 1, a); return 0; }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 2, a); return 0; }
    static u32 rl(void* o, CPU*, u32 a)
    {
        if ((a & 0xFFFF) != 0)
            sys(o).badAccess(kName, 'R', 4, a);
        return 0;
    }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(kName, 'W', 1, a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(kName, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
};

template <>
struct CSystem::Handlers<CSystem::kSerial> {
    static constexpr const char* kName = "SERIAL";
    static u8 rb(void* o, CPU*, u32 a)
    {
        if ((a & 0xFFFF) != 0xFF20)
            sys(o).badAccess(kName, 'R', 1, a);
        return 0;
    }
    static u16 rw(void* o, CPU*, u32 a)
    {
        if ((a & 0xFFFF) != 0xFF48)
            sys(o).badAccess(kName, 'R', 2, a);
        return 0;
    }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).badAccess(kName, 'R', 4, a); return 0; }
    static void wb(void* o, CPU*, u32 a, u8 d)
    {
        switch (a & 0xFFFF) {
        case 0xFF09: case 0xFF1D: case 0xFF20: case 0xFF21: case 0xFF24: case 0xFF25: case 0xFF28:
        case 0xFF29: case 0xFF2C: case 0xFF2D: case 0xFF30: case 0xFF31: case 0xFF34:
            return;
        default:
            sys(o).badAccess(kName, 'W', 1, a, d);
        }
    }
    static void ww(void* o, CPU*, u32 a, u16 d)
    {
        const u32 p = a & 0xFFFF;
        if (p != 0xFF48 && p != 0xFF4C && p != 0xFF58)
            sys(o).badAccess(kName, 'W', 2, a, d);
    }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(kName, 'W', 4, a, d); }
};

// The cartridge's identifier byte at 0x04FFFFFF; the rest of the window
// answers all ones with the plain messages.
template <>
struct CSystem::Handlers<CSystem::kCartridgeId> {
    static u8 rb(void* o, CPU*, u32 a)
    {
        if ((a & 0xFFFF) == 0xFFFF)
            return sys(o).cartridgeId;
        sys(o).badAccess(nullptr, 'R', 1, a);
        return 0xFF;
    }
    static u16 rw(void* o, CPU*, u32 a) { sys(o).badAccess(nullptr, 'R', 2, a); return 0xFFFF; }
    static u32 rl(void* o, CPU*, u32 a) { sys(o).badAccess(nullptr, 'R', 4, a); return 0xFFFFFFFF; }
    static void wb(void* o, CPU*, u32 a, u8 d) { sys(o).badAccess(nullptr, 'W', 1, a, d); }
    static void ww(void* o, CPU*, u32 a, u16 d) { sys(o).badAccess(nullptr, 'W', 2, a, d); }
    static void wl(void* o, CPU*, u32 a, u32 d) { sys(o).badAccess(nullptr, 'W', 4, a, d); }
};

AccessHandlers CSystem::areaHandlers(Area area)
{
    auto make = [this]<Area A>() {
        using H = Handlers<A>;
        return AccessHandlers{this, H::rb, H::wb, H::rw, H::ww, H::rl, H::wl};
    };
    switch (area) {
    case kBiosRom: return make.operator()<kBiosRom>();
    case kBackup: return make.operator()<kBackup>();
    case kWorkRamLow: {
        AccessHandlers h = make.operator()<kWorkRamLow>();
        h.ram = memory().workRamLow.get();
        h.ramMask = SystemMemory::kWorkRamSize - 1;
        return h;
    }
    case kWorkRamHigh: {
        AccessHandlers h = make.operator()<kWorkRamHigh>();
        h.ram = memory().workRamHigh.get();
        h.ramMask = SystemMemory::kWorkRamSize - 1;
        return h;
    }
    case kDummy0: return make.operator()<kDummy0>();
    case kDummy1: return make.operator()<kDummy1>();
    case kDummy2: return make.operator()<kDummy2>();
    case kDummy3: return make.operator()<kDummy3>();
    case kDummy4: return make.operator()<kDummy4>();
    case kDummy5: return make.operator()<kDummy5>();
    case kMinit: return make.operator()<kMinit>();
    case kSinit: return make.operator()<kSinit>();
    case kCs0: return make.operator()<kCs0>();
    case kCs1: return make.operator()<kCs1>();
    case kCs2: return make.operator()<kCs2>();
    case kUnkreg: return make.operator()<kUnkreg>();
    case kArcadeIo: return make.operator()<kArcadeIo>();
    case kRs232c: return make.operator()<kRs232c>();
    case kSerial: return make.operator()<kSerial>();
    case kCartridgeId: return make.operator()<kCartridgeId>();
    default: return {};
    }
}

void CSystem::applyMemoryMap(const std::vector<MemoryMapWindow>& list)
{
    m_master.mapWindows(list);
    m_slave.mapWindows(list);
}

void CSystem::buildMemoryMap()
{
    m_baseMap = {
        {0x00000000, 0x000FFFFF, areaHandlers(kBiosRom)},
        {0x00100000, 0x0017FFFF, m_smpc.getAccessHandlers(0)},
        {0x00180000, 0x001FFFFF, areaHandlers(kBackup)},
        {0x00200000, 0x002FFFFF, areaHandlers(kWorkRamLow)},
        {0x00300000, 0x003FFFFF, areaHandlers(kDummy0)},
        {0x00400000, 0x007FFFFF, areaHandlers(kDummy1)},
        {0x00800000, 0x00FFFFFF, areaHandlers(kDummy2)},
        {0x01000000, 0x017FFFFF, areaHandlers(kMinit)},
        {0x01800000, 0x01FFFFFF, areaHandlers(kSinit)},
        {0x02000000, 0x03FFFFFF, areaHandlers(kCs0)},
        {0x04000000, 0x04FFFFFF, areaHandlers(kCs1)},
        {0x05000000, 0x057FFFFF, areaHandlers(kDummy3)},
        {0x05800000, 0x0580FFFF, areaHandlers(kCs2)},
        {0x05810000, 0x0581FFFF, m_cdb.getAccessHandlers(CDB::kData)},
        {0x05880000, 0x0588FFFF, areaHandlers(kCs2)},
        {0x05890000, 0x0589FFFF, m_cdb.getAccessHandlers(CDB::kRegisters)},
        {0x058A0000, 0x058FFFFF, areaHandlers(kCs2)},
        {0x05900000, 0x059FFFFF, areaHandlers(kDummy4)},
        {0x05A00000, 0x05AFFFFF, m_scsp.getAccessHandlers(SCSP::kSoundRam)},
        {0x05B00000, 0x05BFFFFF, m_scsp.getAccessHandlers(SCSP::kRegisters)},
        {0x05C00000, 0x05C7FFFF, m_vdp1.getAccessHandlers(VDP1::kVram)},
        {0x05C80000, 0x05CFFFFF, m_vdp1.getAccessHandlers(VDP1::kFrameBuffer)},
        {0x05D00000, 0x05DFFFFF, m_vdp1.getAccessHandlers(VDP1::kRegisters)},
        {0x05E00000, 0x05EFFFFF, m_vdp2.getAccessHandlers(VDP2::kVram)},
        {0x05F00000, 0x05F7FFFF, m_vdp2.getAccessHandlers(VDP2::kColorRam)},
        {0x05F80000, 0x05FBFFFF, m_vdp2.getAccessHandlers(VDP2::kRegisters)},
        {0x05FC0000, 0x05FDFFFF, areaHandlers(kDummy5)},
        {0x05FE0000, 0x05FEFFFF, m_scu.registerHandlers()},
        {0x05FF0000, 0x05FFFFFF, areaHandlers(kUnkreg)},
        {0x06000000, 0x07FFFFFF, areaHandlers(kWorkRamHigh)},
    };
    applyMemoryMap(m_baseMap);

    m_master.setSlave(false);
    m_slave.setSlave(true);
    m_master.setLongName("SH2(MASTER) IC1");
    m_slave.setLongName("SH2(SLAVE) IC2");
    m_master.attachHook(&m_biosHook);
    m_slave.attachHook(&m_biosHook);

    // The cartridge pages keep the dummy fetch page until a cartridge brings
    // memory there.
    const std::vector<DirectMapping> direct = {
        {0x00000000, 0x0007FFFF, bios.get()},
        {0x00200000, 0x002FFFFF, workRamLow.get()},
        {0x05C00000, 0x05C7FFFF, vdp1Memory.get()},
        {0x06000000, 0x060FFFFF, workRamHigh.get()},
    };
    m_master.mapDirect(direct);
    m_slave.mapDirect(direct);
    // A cartridge held across a rebuild stays in its slot.
    if (m_cartridge) {
        applyMemoryMap(m_cartridge->getWindows());
        m_master.mapDirect(m_cartridge->fetchPages());
        m_slave.mapDirect(m_cartridge->fetchPages());
    }
    m_master.setPeriod(2 * period());
    m_slave.setPeriod(2 * period());
}

void CSystem::buildSoundMap()
{
    m_m68k.mapWindows({{0x000000, 0x07FFFF, m_scsp.getAccessHandlers(SCSP::kSoundRam)},
                       {0x100000, 0x100EE3, m_scsp.getAccessHandlers(SCSP::kRegisters)}});
    m_m68k.mapDirect({{0x000000, 0x07FFFF, soundRam.get()}});
    m_m68k.setPeriod(kM68kPeriodNs);
    m_m68k.addResetDevice(&m_scsp);
}

void CSystem::insertCartridge(std::shared_ptr<Cartridge> cartridge)
{
    ejectCartridge();
    if (!cartridge)
        return;
    m_cartridge = std::move(cartridge);
    applyMemoryMap(m_cartridge->getWindows());
    const std::vector<DirectMapping> fetch = m_cartridge->fetchPages();
    m_master.mapDirect(fetch);
    m_slave.mapDirect(fetch);
}

void CSystem::ejectCartridge()
{
    if (!m_cartridge)
        return;
    const void* owner = m_cartridge.get();
    // Page by page, so a window that was laid over the cartridge afterwards
    // (the cartridge-identifier byte) stays where it is.
    for (const MemoryMapWindow& w : m_cartridge->getWindows()) {
        for (u32 page = w.start >> PageMap::kPageShift; page <= (w.end >> PageMap::kPageShift); ++page) {
            const u32 start = page << PageMap::kPageShift;
            for (SH2* cpu : {&m_master, &m_slave}) {
                if (cpu->pageMap()->page(start).owner != owner)
                    continue;
                for (const MemoryMapWindow& base : m_baseMap) {
                    if (start >= base.start && start <= base.end)
                        cpu->mapWindows({{start, start + 0xFFFF, base.handlers}});
                }
            }
        }
    }
    for (SH2* cpu : {&m_master, &m_slave}) {
        std::vector<DirectMapping> dummy;
        for (const DirectMapping& m : m_cartridge->fetchPages()) {
            for (u32 page = m.start >> PageMap::kPageShift; page <= (m.end >> PageMap::kPageShift); ++page)
                dummy.push_back({page << PageMap::kPageShift, (page << PageMap::kPageShift) + 0xFFFF, cpu->dummyPage()});
        }
        cpu->mapDirect(dummy);
    }
    m_cartridge.reset();
}

std::vector<MemoryMapWindow> CSystem::arcadeWindows()
{
    return {{0x00400000, 0x0040FFFF, areaHandlers(kArcadeIo)},
            {0x05200000, 0x0520FFFF, areaHandlers(kRs232c)},
            {0x05880000, 0x0588FFFF, areaHandlers(kSerial)}};
}

MemoryMapWindow CSystem::cartridgeIdWindow()
{
    return {0x04FF0000, 0x04FFFFFF, areaHandlers(kCartridgeId)};
}

Region CSystem::findRegion(u32 address)
{
    static constexpr Region kRegions[] = {
        {0x00000000, 0x80000}, {0x00100000, 0x80}, {0x00180000, 0x10000}, {0x00200000, 0x100000},
        {0x01000000, 4}, {0x01800000, 4}, {0x02000000, 0x2000000}, {0x04000000, 0x1000000},
        {0x05800000, 0x100000}, {0x05A00000, 0x80000}, {0x05B00000, 0xEE4}, {0x05C00000, 0x80000},
        {0x05C80000, 0x40000}, {0x05D00000, 0x18}, {0x05E00000, 0x100000}, {0x05F00000, 0x1000},
        {0x05F80000, 0x120}, {0x05FE0000, 0xD0}, {0x06000000, 0x100000},
    };
    for (const Region& r : kRegions) {
        if (address >= r.base && address - r.base < r.size)
            return r;
    }
    return {};
}

void CSystem::checkDmaRange(u32 source, u32 destination, u32 count)
{
    auto inside = [](u32 start, u32 count) {
        const Region r = findRegion(start);
        const u64 end = u64{start} + count;
        return start >= r.base && start < u64{r.base} + r.size && end >= r.base && end <= u64{r.base} + r.size;
    };
    if (!inside(source, count))
        logError(1, "Read access exceeded! [S: %08X, D: %08X, C: %08X]", source, destination, count);
    else if (!inside(destination, count))
        logError(1, "Write access exceeded! [S: %08X, D: %08X, C: %08X]", source, destination, count);
}
