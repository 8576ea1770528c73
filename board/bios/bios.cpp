// The built-in BIOS: its memory image, the disc boot and the dispatch of
// the service area.
#include "board/bios/bios.h"

#include "board/bios/bios_bup.h"

#include <cstdio>
#include <cstring>

#include "cd/media/cd.h"
#include "core/base/helpers.h"

namespace {

constexpr u32 kSectorBytes = 2048;
constexpr u32 kIpFad = 150;
constexpr u32 kPvdFad = 166;
constexpr u32 kFadOffset = 150;
constexpr u32 kMinRecordBytes = 34;  // fixed part of a directory record and one name byte

constexpr u32 kVectorIllegal = 4;
constexpr u32 kVectorSlotIllegal = 6;
constexpr u32 kVectorAddressError = 9;
constexpr u32 kVectorDmaAddressError = 10;
constexpr u32 kVectorNmi = 11;
constexpr u32 kScuEntries = 0x06000850;
constexpr u32 kSlaveVectors = 0x06000400;
constexpr u32 kNmiEntry = 0x060008DC;

// Service table: where each long sits and the entry it holds.
constexpr u32 kServiceTable[] = {
    0x0600026C, 0x06000274, 0x06000280, 0x060002C8, 0x060002CC, 0x060002D4, 0x06000300, 0x06000304,
    0x06000310, 0x06000314, 0x06000320, 0x06000330, 0x06000334, 0x06000340, 0x06000344, 0x06000358,
    0x060003C0, 0x060003C4, 0x060003C8, 0x060003CC, 0x060003D0, 0x060003D4, 0x060003D8, 0x060003DC,
};
constexpr u32 kServiceTableToEntry = 0x400;

}  // namespace

BIOS::BIOS(BiosMachine* machine) : Hook("BIOS"), m_machine(machine)
{
    m_bup[0] = std::make_unique<BUP>(*this, 0, 0x00180000, 32768, 64, 1);
    m_bup[1] = std::make_unique<BUP>(*this, 1, 0x04000000, 0, 1, 0);
    m_bup[2] = std::make_unique<BUP>(*this, 2, 0x00000000, 0, 1, 0);
}

BIOS::~BIOS() = default;

u8 BIOS::read8(u32 address)
{
    SH2& master = m_machine->masterSh2();
    const AccessHandlers& page = master.pageMap()->page(address);
    return page.readByte(page.owner, &master, address);
}

u32 BIOS::read32(u32 address)
{
    SH2& master = m_machine->masterSh2();
    const AccessHandlers& page = master.pageMap()->page(address);
    return page.readLong(page.owner, &master, address);
}

void BIOS::write8(u32 address, u8 value)
{
    SH2& master = m_machine->masterSh2();
    const AccessHandlers& page = master.pageMap()->page(address);
    page.writeByte(page.owner, &master, address, value);
}

void BIOS::write16(u32 address, u16 value)
{
    SH2& master = m_machine->masterSh2();
    const AccessHandlers& page = master.pageMap()->page(address);
    page.writeWord(page.owner, &master, address, value);
}

void BIOS::write32(u32 address, u32 value)
{
    SH2& master = m_machine->masterSh2();
    const AccessHandlers& page = master.pageMap()->page(address);
    page.writeLong(page.owner, &master, address, value);
}

bool BIOS::install()
{
    // The ROM window drops bus writes, so the reset vectors go straight
    // into the ROM array, in the machine's big-endian order.
    u8* rom = m_machine->biosRom();
    std::memset(rom, 0, BiosMachine::kBiosRomBytes);
    storeBe32(rom + 0x0, kServiceStart);
    storeBe32(rom + 0x4, kStackTop);
    storeBe32(rom + 0x8, kServiceStart);
    storeBe32(rom + 0xC, kStackTop);

    for (u32 i = 0; i < 16; ++i)
        write8(0x06000200 + i, static_cast<u8>(kVersion[i]));
    // Words left here by a previous program would be executed instead of
    // reaching the hook.
    for (u32 a = kServiceStart; a < kServiceEnd; a += 4)
        write32(a, 0);
    m_reported.reset();
    m_clockChange = ClockChange::kNone;
    installVectors();
    installServiceTable();
    return true;
}

void BIOS::installVectors()
{
    for (u32 v = 0; v < 0x80; ++v) {
        u32 entry = kDummyInt;
        if (v == kVectorIllegal || v == kVectorSlotIllegal || v == kVectorAddressError || v == kVectorDmaAddressError)
            entry = kWaitNmi;
        else if (v == kVectorNmi)
            entry = kNmiEntry;
        else if ((v >= 0x40 && v <= 0x4D) || (v >= 0x50 && v <= 0x5F))
            entry = kScuEntries + 4 * (v - 0x40);
        write32(m_vectorBase + 4 * v, entry);
    }
    write32(0x06000260, 0x06000D00);
    write32(kMaskCopy, 0xFFFFFFFF);
    for (u32 v = 0; v < 0x80; ++v) {
        const bool fault =
            v == kVectorIllegal || v == kVectorSlotIllegal || v == kVectorAddressError || v == kVectorDmaAddressError;
        write32(kSlaveVectors + 4 * v, fault ? kWaitNmi : kDummyInt);
    }

    // SR level (high half) and extra SCU mask bits (low half) per vector.
    static constexpr u32 kMasks[] = {0x00F0FFFF, 0x00E0FFFE, 0x00D0FFFC, 0x00C0FFF8, 0x00B0FFF0,
                                     0x00A0FFE0, 0x0090FFC0, 0x0080FF80, 0x0080FF80};
    for (u32 v = 0x40; v < 0x60; ++v) {
        write32(kUserHandlers + 4 * v, kDummyFunc);
        const u32 k = v - 0x40;
        write32(kMaskTable + 4 * v, k < std::size(kMasks) ? kMasks[k] : 0x0070FE00);
    }
}

void BIOS::installServiceTable()
{
    for (u32 slot : kServiceTable)
        write32(slot, slot + kServiceTableToEntry);
}

u32 BIOS::sectorsLeftInTrack(u32 fad) const
{
    const std::shared_ptr<CCd>& disc = bootSource();
    if (!disc)
        return 0;
    for (const SessionInfo& session : disc->sessions()) {
        for (const TrackInfo& track : session.tracks) {
            if ((track.controlAdr & 0x40) && fad >= track.startFad && fad <= track.endFad)
                return track.endFad - fad + 1;
        }
    }
    return 0;
}

const u8* BIOS::readUserData(u32 fad)
{
    const std::shared_ptr<CCd>& disc = bootSource();
    if (disc && sectorsLeftInTrack(fad) > 0) {
        disc->readSector(fad, m_sector);
        if ((m_sector.mode == SectorBuffer::kMode1 || m_sector.mode == SectorBuffer::kForm1) &&
            m_sector.size >= SectorBuffer::kCookedSize)
            return m_sector.userData();
    }
    logFirstError(m_refusal, "Can't read sector [FAD: %u]", fad);
    return nullptr;
}

bool BIOS::copySectors(u32 fad, u32 size, u32 destination)
{
    for (u32 i = 0; size > 0; ++i) {
        const u8* data = readUserData(fad + i);
        if (!data)
            return false;
        const u32 n = size < kSectorBytes ? size : kSectorBytes;
        for (u32 k = 0; k < n && !m_trial; ++k)
            write8(destination + i * kSectorBytes + k, data[k]);
        size -= n;
    }
    return true;
}

namespace {

// Whether [address, address + size) lies inside one of the work RAMs, in
// the cached or the cache-through view.
bool insideWorkRam(u32 address, u32 size)
{
    const u32 top = address >> 28;
    if (top != 0 && top != 2)
        return false;
    const u64 a = address & 0x0FFFFFFF;
    const u64 end = a + size;
    auto within = [&](u64 base) { return a >= base && end <= base + BiosMachine::kWorkRamBytes; };
    return within(0x06000000) || within(0x00200000);
}

u32 sectorsFor(u32 bytes) { return static_cast<u32>((u64{bytes} + kSectorBytes - 1) / kSectorBytes); }

}  // namespace

bool BIOS::bootDisc(const DiscHeader& header)
{
    const bool booted = loadDisc(header);
    // A disc that did not load whole must not run what did: the reset that
    // follows leaves the master SH-2 idling in the BIOS instead.
    const u32 entry = booted ? kServiceStart : kIdle;
    storeBe32(m_machine->biosRom() + 0x0, entry);  // power-on
    storeBe32(m_machine->biosRom() + 0x8, entry);  // manual reset
    return booted;
}

bool BIOS::canBoot(const std::shared_ptr<CCd>& disc, const DiscHeader& header)
{
    m_trial = &disc;
    const bool booted = loadDisc(header);
    m_trial = nullptr;
    return booted;
}

bool BIOS::loadDisc(const DiscHeader& header)
{
    m_refusal.clear();
    if (!bootSource()) {
        logFirstError(m_refusal, "No disc to boot");
        return false;
    }
    bool ok = true;
    const u32 size = header.ipSize;
    if (!insideWorkRam(kIpAddress, size)) {
        logFirstError(m_refusal, "IP does not fit in work RAM [IPS: %08X]", size);
        ok = false;
    } else if (size > 0 && sectorsLeftInTrack(kIpFad) < sectorsFor(size)) {
        logFirstError(m_refusal, "IP runs past the data track [IPS: %08X]", size);
        ok = false;
    } else if (!copySectors(kIpFad, size, kIpAddress)) {
        ok = false;
    }
    return loadFirstFile(header) && ok;
}

bool BIOS::loadFirstFile(const DiscHeader& header)
{
    const u8* pvd = readUserData(kPvdFad);
    if (!pvd)
        return false;
    if (pvd[0] != 0x01 || std::memcmp(pvd + 1, "CD001", 5) != 0) {
        logFirstError(m_refusal, "Can't find PVD");
        return false;
    }
    const u64 rootFad = u64{loadBe32(pvd + 162)} + kFadOffset;
    if (rootFad > CCd::kMaxFad) {
        logFirstError(m_refusal, "Root directory out of range [FAD: %llu]", static_cast<unsigned long long>(rootFad));
        return false;
    }
    const u8* dir = readUserData(static_cast<u32>(rootFad));
    if (!dir)
        return false;

    // Skip "." and "..": the third record is the first file.
    u32 offset = 0;
    for (int i = 0; i < 2; ++i) {
        const u32 length = dir[offset];
        if (length < kMinRecordBytes || offset + length > kSectorBytes) {
            logFirstError(m_refusal, "Bad directory record [FAD: %u, OFS: %u, LEN: %u]", static_cast<u32>(rootFad), offset, length);
            return false;
        }
        offset += length;
    }
    const u32 length = offset < kSectorBytes ? dir[offset] : 0;
    if (length < kMinRecordBytes || offset + length > kSectorBytes) {
        logFirstError(m_refusal, "Bad directory record [FAD: %u, OFS: %u, LEN: %u]", static_cast<u32>(rootFad), offset, length);
        return false;
    }
    const u64 fileFad = u64{loadBe32(dir + offset + 6)} + kFadOffset;
    const u32 size = loadBe32(dir + offset + 14);
    const u32 destination = header.firstReadAddress;
    if (fileFad > CCd::kMaxFad || sectorsLeftInTrack(static_cast<u32>(fileFad)) < sectorsFor(size)) {
        logFirstError(m_refusal, "First file runs past the data track [FAD: %llu, S: %08X]",
                 static_cast<unsigned long long>(fileFad), size);
        return false;
    }
    if (!insideWorkRam(destination, size)) {
        logFirstError(m_refusal, "First file does not fit in work RAM [RA: %08X, S: %08X]", destination, size);
        return false;
    }
    return copySectors(static_cast<u32>(fileFad), size, destination);
}

bool BIOS::onHook(Device* device)
{
    auto* cpu = static_cast<SH2*>(device);
    const u32 pc = cpu->getPC();
    if (pc < kServiceStart || pc >= kServiceEnd)
        return false;
    dispatch(*cpu, pc);
    return true;
}

void BIOS::returnToCaller(SH2& cpu)
{
    cpu.setPC(cpu.pr());
}

void BIOS::charge(SH2& cpu, u32 clocks)
{
    cpu.charge(clocks);
}

bool BIOS::fromSlave(const SH2& cpu) const
{
    return (cpu.getIndex() & 1) != 0;
}

void BIOS::dispatch(SH2& cpu, u32 pc)
{
    switch (pc) {
    case 0x06000600: sysInit(cpu); return;
    case kIdle: charge(cpu, 3); return;
    case 0x0600066C: sysExecDmp(cpu); return;
    case 0x06000674: notImplemented(cpu, "SYS_CHKMPEG"); return;
    case 0x06000680: sysChguipr(cpu); return;
    case 0x060006C8: notImplemented(cpu, "SYS_UNKOWN"); return;
    case 0x060006CC: notImplemented(cpu, "SYS_LOADIP"); return;
    case 0x060006D4: notImplemented(cpu, "SYS_RD1STF"); return;
    case 0x06000700: sysSetuint(cpu); return;
    case 0x06000704: sysGetuint(cpu); return;
    case 0x06000710: sysSetsint(cpu); return;
    case 0x06000714: sysGetsint(cpu); return;
    case 0x06000720: sysChgsysck(cpu); return;
    case 0x06000730: notImplemented(cpu, "SYS_TASSEM"); return;
    case 0x06000734: notImplemented(cpu, "SYS_CLRSEM"); return;
    case 0x06000740: sysSetscuim(cpu); return;
    case 0x06000744: sysChgscuim(cpu); return;
    case 0x06000758: bupInit(cpu); return;
    case 0x06000764: bupSelPart(cpu); return;
    case 0x06000768: bupFormat(cpu); return;
    case 0x0600076C: bupStat(cpu); return;
    case 0x06000770: bupWrite(cpu); return;
    case 0x06000774: bupRead(cpu); return;
    case 0x06000778: bupDelete(cpu); return;
    case 0x0600077C: bupDir(cpu); return;
    case 0x06000780: bupVerify(cpu); return;
    case 0x06000784: bupGetDate(cpu); return;
    case 0x06000788: bupSetDate(cpu); return;
    case 0x060007C0: case 0x060007C4: case 0x060007C8: case 0x060007CC: case 0x060007D0: case 0x060007D4:
    case 0x060007D8: case 0x060007DC:
        gfsd(cpu, pc);
        return;
    case kDummyFunc: sysDummyFunc(cpu); return;
    case kScuIntReturn: scuIntReturn(cpu); return;
    case kDummyInt: sysDummyInt(cpu); return;
    case kWaitNmi: sysWaitNmi(cpu); return;
    case kNmiEntry: sysNmi(cpu); return;
    default: break;
    }
    if (pc >= kScuEntries && pc < kScuIntReturn && (pc & 3) == 0 && !(pc >= 0x06000888 && pc < 0x06000890)) {
        scuInterrupt(cpu, pc);
        return;
    }
    unknownEntry(cpu, pc);
}

void BIOS::unknownEntry(SH2& cpu, u32 pc)
{
    // Parked here like the idle entry: the PC stays and the slice runs out.
    const std::size_t slot = (pc - kServiceStart) / 4;
    if (!m_reported.test(slot)) {
        m_reported.set(slot);
        logError(1, "%s: Function stored at [CA: %08X, INDEX: %03X] is not implemented!", cpu.name().c_str(),
                 cpu.pr() - 4, pc - 0x06000400);
    }
    charge(cpu, 3);
}
