// The built-in BIOS's system services and the interrupt entries. Arguments
// arrive in R4 to R7, results leave in R0, and PR holds the return address.
#include "board/bios/bios.h"

#include "board/bios/bios_bup.h"

#include "core/base/helpers.h"

namespace {

constexpr u32 kScuMask = 0x25FE00A0;
constexpr u32 kScuStatus = 0x25FE00A4;
constexpr u32 kAbusAck = 0x25FE00A8;
constexpr u32 kSrLevel15 = 0xF0;
constexpr u32 kWaitClocks = 3;  // a visit to an entry that waits, as the idle entry

// SYS_CHGSYSCK's clock: 0 for 320 dots (26 MHz), 1 for 352 (28 MHz).
constexpr u32 kSystemClock = 0x06000324;
constexpr u32 kSmpcComreg = 0x2010001F;
constexpr u32 kSmpcSf = 0x20100063;
constexpr u32 kSmpcOreg31 = 0x2010005F;  // the code of the last command the SMPC took
constexpr u8 kSmpcCkchg352 = 0x0E;
constexpr u8 kSmpcCkchg320 = 0x0F;

// VDP2's registers as the console's BIOS leaves them after its boot screen,
// which programs rely on without setting them: NBG0 and NBG1 at priority 1
// and at zoom 1.0 (integer part 1, fraction 0).
constexpr u32 kVdp2Registers = 0x25F80000;
constexpr struct {
    u32 offset;
    u16 value;
} kVdp2Handover[] = {
    {0x078, 1}, {0x07C, 1},  // ZMXIN0, ZMYIN0
    {0x088, 1}, {0x08C, 1},  // ZMXIN1, ZMYIN1
    {0x0F8, 0x0101},         // PRINA
};

u32 signExtend16(u32 value) { return static_cast<u32>(static_cast<s32>(static_cast<s16>(value))); }

}  // namespace

void BIOS::notImplemented(SH2& cpu, const char* service)
{
    logError(1, "%s: %s is not implemented [CA: %08X]", cpu.name().c_str(), service, cpu.pr() - 4);
    returnToCaller(cpu);
}

void BIOS::gfsd(SH2& cpu, u32 pc)
{
    static constexpr const char* kNames[] = {"GFSD_Init", "GFSD_GetFileNum", "GFSD_GetFileInfo", "GFSD_Read",
                                             "GFSD_Term", "GFSD_Open", "GFSD_Close", "GFSD_GetBuf"};
    logWarning(1, "%s", kNames[((pc - 0x060007C0) / 4) & 7]);
    // Nothing serves the file system: fail the call instead of leaving the
    // processor on the entry.
    cpu.setR(0, 0xFFFFFFFF);
    returnToCaller(cpu);
}

void BIOS::sysInit(SH2& cpu)
{
    SH2& master = m_machine->masterSh2();
    for (int n = 0; n < 15; ++n)
        master.setR(n, 0);
    master.setMach(0);
    master.setMacl(0);
    master.setPr(0);
    master.setGbr(0);
    master.setVbr(kVectorBase);
    master.setStatus(0);
    master.setPC(kProgramEntry);
    m_machine->setCdInterruptRequest(0x0BC1);
    m_machine->authenticateCd();
    for (const auto& r : kVdp2Handover)
        write16(kVdp2Registers + r.offset, r.value);
    write32(kMaskCopy, 0xFFFFFFFF);
    m_bup[1]->configure(m_machine->insertedCartridgeId(), m_machine->backupCartridgeBytes());
    formatClearedInternalMemory();
    m_clockChange = ClockChange::kNone;
    charge(cpu, 100);
    if (fromSlave(cpu))
        logWarning(1, "SYS_INIT is called via slave SH2");
    else
        logDebug(1, "SYS_INIT");
    // The mask is open now: a waiting request is taken at the next slice.
    master.checkPendingLevel();
}

// The console's boot formats an internal memory it finds cleared, so a
// program's first BUP_Stat on a new machine answers SUCCESS. Only a memory
// holding nothing is formatted: any other content may be saves in a layout
// of elsewhere, and formatting would write over them in their file.
void BIOS::formatClearedInternalMemory()
{
    BUP& internal = *m_bup[0];
    if (internal.formatted())
        return;
    const u8 fill = internal.byte(0);
    for (u32 i = 1; i < internal.size; ++i) {
        if (internal.byte(i) != fill) {
            logWarning(1, "Internal backup memory is not formatted and holds data: left as it is");
            return;
        }
    }
    internal.format();
    logInfo(1, "Format internal backup memory");
}

void BIOS::sysExecDmp(SH2& cpu)
{
    if (fromSlave(cpu))
        logWarning(1, "SYS_EXECDMP is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
    else
        logInfo(1, "SYS_EXECDMP [CA: %08X]", cpu.pr() - 4);
    cpu.setPC(kIdle);
    charge(cpu, 30);
}

// R4 = 0 selects the 320-dot clock (26 MHz), any other value the 352-dot
// one (28 MHz). The SMPC's clock change resets VDP1, VDP2, the SCU and the
// sound chip, stops the slave and ends with an NMI to the master, which the
// BIOS takes itself; the processor stays on the entry meanwhile.
void BIOS::sysChgsysck(SH2& cpu)
{
    if (fromSlave(cpu)) {
        // The SMPC takes clock changes from the master only.
        logWarning(1, "SYS_CHGSYSCK is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
        returnToCaller(cpu);
        return;
    }
    switch (m_clockChange) {
    case ClockChange::kNone:
        m_clockFast = cpu.r(4) != 0;
        m_clockChange = ClockChange::kWaitSmpc;
        [[fallthrough]];
    case ClockChange::kWaitSmpc:
        // A command still running holds SF; the new one waits for it.
        if (!(read8(kSmpcSf) & 1)) {
            write8(kSmpcSf, 1);
            write8(kSmpcComreg, m_clockFast ? kSmpcCkchg352 : kSmpcCkchg320);
            m_clockChange = ClockChange::kWaitNmi;
        }
        charge(cpu, kWaitClocks);
        return;
    case ClockChange::kWaitNmi: charge(cpu, kWaitClocks); return;
    case ClockChange::kDone: break;
    }
    m_clockChange = ClockChange::kNone;
    finishClockChange(m_clockFast);
    logDebug(1, "%s: SYS_CHGSYSCK [CA: %08X, clock: %d]", cpu.name().c_str(), cpu.pr() - 4, m_clockFast ? 352 : 320);
    returnToCaller(cpu);
}

// The clock is recorded, and the program's SCU mask, which the SCU's reset
// closed, comes back.
void BIOS::finishClockChange(bool fast)
{
    write32(kSystemClock, fast ? 1 : 0);
    write32(kScuMask, read32(kMaskCopy));
}

void BIOS::sysChguipr(SH2& cpu)
{
    const u32 sr = cpu.packSR();
    const u32 table = cpu.r(4);
    for (u32 i = 0; i < 32; ++i)
        write32(kMaskTable + 4 * 0x40 + 4 * i, read32(table + 4 * i));
    if (fromSlave(cpu))
        logWarning(1, "SYS_CHGUIPR is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
    else
        logInfo(1, "%s: SYS_CHGUIPR [CA: %08X, SR: %08X, IprTab: %08X]", cpu.name().c_str(), cpu.pr() - 4, sr, table);
    returnToCaller(cpu);
}

void BIOS::sysSetuint(SH2& cpu)
{
    const u32 n = cpu.r(4);
    const u32 handler = cpu.r(5);
    write32(kUserHandlers + 4 * n, handler ? handler : kDummyFunc);
    charge(cpu, 8);
    if (fromSlave(cpu))
        logWarning(1, "SYS_SETUINT is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
    else
        logDebug(2, "SYS_SETUINT [CA: %08X, Num: %03X, Hdr: %08X, dummy: %08X]", cpu.pr() - 4, n, handler, kDummyFunc);
    returnToCaller(cpu);
}

void BIOS::sysGetuint(SH2& cpu)
{
    const u32 n = cpu.r(4);
    cpu.setR(4, 4 * n);
    cpu.setR(0, read32(kUserHandlers + 4 * n));
    if (fromSlave(cpu))
        logWarning(1, "SYS_GETUINT is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
    else
        logDebug(2, "SYS_GETUINT [CA: %08X, Num: %03X, Hdr: %08X]", cpu.pr() - 4, n, cpu.r(0));
    returnToCaller(cpu);
}

void BIOS::sysSetsint(SH2& cpu)
{
    const u32 n = cpu.r(4);
    const u32 handler = cpu.r(5);
    const u32 fallback = read32(kVectorBase + 4 * n);
    write32(cpu.vbr() + 4 * n, handler ? handler : fallback);
    charge(cpu, 9);
    logDebug(2, "%s: SYS_SETSINT [CA: %08X, Num: %03X, Hdr: %08X, dummy: %08X]", cpu.name().c_str(), cpu.pr() - 4, n,
             handler, fallback);
    returnToCaller(cpu);
}

void BIOS::sysGetsint(SH2& cpu)
{
    const u32 n = cpu.r(4);
    cpu.setR(4, 4 * n);
    cpu.setR(0, read32(cpu.vbr() + 4 * n));
    logDebug(2, "%s: SYS_GETSINT [CA: %08X, Num: %03X, Hdr: %08X]", cpu.name().c_str(), cpu.pr() - 4, n, cpu.r(0));
    returnToCaller(cpu);
}

void BIOS::sysSetscuim(SH2& cpu)
{
    const u32 sr = cpu.packSR();
    const u32 mask = cpu.r(4);
    write32(kMaskCopy, mask);
    // The SCU's own mask follows the copy, or a program that opens its
    // interrupts through this service would never receive them.
    write32(kScuMask, mask);
    write32(kScuStatus, signExtend16(mask));
    if (!(mask & 0x8000))
        write32(kAbusAck, 1);
    charge(cpu, 18);
    if (fromSlave(cpu))
        logWarning(1, "SYS_SETSCUIM is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
    else
        logDebug(1, "SYS_SETSCUIM [CA: %08X, SR: %08X, MaskPat: %08X]", cpu.pr() - 4, sr, mask);
    returnToCaller(cpu);
}

void BIOS::sysChgscuim(SH2& cpu)
{
    const u32 sr = cpu.packSR();
    const u32 andMask = cpu.r(4);
    const u32 orMask = cpu.r(5);
    const u32 old = read32(kMaskCopy);
    const u32 mask = (old & andMask) | orMask;
    write32(kMaskCopy, mask);
    write32(kScuMask, mask);
    const u32 status = signExtend16(orMask) | signExtend16(andMask);
    write32(kScuStatus, status);
    if (!(status & 0x80000000))
        write32(kAbusAck, 1);
    charge(cpu, 20);
    if (fromSlave(cpu))
        logWarning(1, "SYS_CHGSCUIM is called via slave SH2 [CA: %08X]", cpu.pr() - 4);
    else
        logDebug(2, "SYS_CHGSCUIM [CA: %08X, SR: %08X, oldMask: %08X, AndMask: %08X, OrMask: %08X, MaskPat: %08X]",
                 cpu.pr() - 4, sr, old, andMask, orMask, mask);
    returnToCaller(cpu);
}

void BIOS::sysDummyFunc(SH2& cpu)
{
    charge(cpu, 3);
    logDebug(2, "%s: SYS_DUMMYFUNC [CA: %08X]", cpu.name().c_str(), cpu.pr() - 4);
    returnToCaller(cpu);
}

// The steps follow the register use of the console's own entry code, so a
// handler sees the registers it would see there.
void BIOS::scuInterrupt(SH2& cpu, u32 pc)
{
    cpu.push(cpu.r(0));
    const u32 n = ((pc & 0xFFF) - 0x750) / 4;
    cpu.setR(0, n);
    cpu.push(cpu.r(1));
    cpu.setR(1, kMaskCopy);
    cpu.push(cpu.r(2));
    const u32 oldMask = read32(kMaskCopy);
    cpu.setR(2, oldMask);
    cpu.push(cpu.r(3));
    cpu.push(oldMask);
    cpu.push(cpu.r(4));
    cpu.push(cpu.r(5));
    cpu.setR(3, kMaskTable);

    cpu.setR(0, 4 * n);
    const u32 entry = read32(kMaskTable + 4 * n);
    cpu.setR(4, entry);
    cpu.setR(5, kScuMask);
    cpu.setR(3, entry >> 16);
    cpu.setStatus(entry >> 16);

    cpu.setR(4, signExtend16(entry));
    const u32 mask = oldMask | cpu.r(4);
    cpu.setR(2, mask);
    write32(kMaskCopy, mask);
    write32(kScuMask, mask);

    cpu.push(cpu.r(6));
    cpu.setR(3, kUserHandlers);
    const u32 handler = read32(kUserHandlers + 4 * n);
    cpu.setR(6, handler);

    cpu.push(cpu.r(7));
    cpu.push(cpu.pr());
    cpu.setPC(handler);
    cpu.push(cpu.gbr());

    charge(cpu, n == 0x42 ? 29 : 31);
    logDebug(2, "%s: SYS_SCUINT [CA: %08X, Num: %03X, Hdr: %08X, oldMask: %08X]", cpu.name().c_str(), cpu.pr() - 4, n,
             handler, oldMask);
    cpu.setPr(kScuIntReturn);
    cpu.checkPendingLevel();
}

void BIOS::scuIntReturn(SH2& cpu)
{
    cpu.setGbr(cpu.pop());
    cpu.setPr(cpu.pop());
    cpu.setR(7, cpu.pop());
    cpu.setR(0, kSrLevel15);
    cpu.setR(6, cpu.pop());
    cpu.setR(3, kMaskCopy);
    cpu.setR(5, cpu.pop());
    cpu.setR(1, kScuMask);
    cpu.setR(4, cpu.pop());
    const u32 oldMask = cpu.pop();
    cpu.setR(2, oldMask);

    cpu.setStatus(kSrLevel15);
    write32(kMaskCopy, oldMask);
    cpu.setR(3, cpu.pop());
    write32(kScuMask, oldMask);
    cpu.setR(2, cpu.pop());
    cpu.setR(1, cpu.pop());
    cpu.setR(0, cpu.pop());

    returnFromException(cpu);
    charge(cpu, 22);
}

void BIOS::returnFromException(SH2& cpu)
{
    cpu.setPC(cpu.pop());
    cpu.setStatus(cpu.pop());
    cpu.checkPendingLevel();
}

void BIOS::sysDummyInt(SH2& cpu)
{
    returnFromException(cpu);
    charge(cpu, 5);
    logDebug(1, "%s: SYS_DUMMYINT [PC: %08X, SP: %08X, SR: %08X]", cpu.name().c_str(), cpu.getPC(), cpu.r(15),
             cpu.packSR());
}

void BIOS::sysWaitNmi(SH2& cpu)
{
    cpu.setR(0, kSrLevel15);
    cpu.setStatus(kSrLevel15);
    logDebug(1, "%s: SYS_WAITNMI [CA: %08X]", cpu.name().c_str(), cpu.pr() - 4);
    cpu.setPC(kIdle);
}

void BIOS::sysNmi(SH2& cpu)
{
    // OREG31 keeps the last command long after it ran: only the SMPC knows
    // whether this NMI is the one its clock change raised.
    const bool clockChanged = !fromSlave(cpu) && m_machine->takeClockChangeNmi();
    if (m_clockChange == ClockChange::kWaitNmi && !fromSlave(cpu)) {
        // The end of SYS_CHGSYSCK's clock change: back to the waiting entry.
        m_clockChange = ClockChange::kDone;
        returnFromException(cpu);
        charge(cpu, kWaitClocks);
        return;
    }
    charge(cpu, 100);
    // A clock change the program sent the SMPC itself ends in this NMI too;
    // the program goes on where it was, as after SYS_CHGSYSCK.
    const u8 command = clockChanged ? read8(kSmpcOreg31) : 0;
    if (command == kSmpcCkchg352 || command == kSmpcCkchg320) {
        returnFromException(cpu);
        finishClockChange(command == kSmpcCkchg352);
        logDebug(1, "%s: SYS_NMI after a clock change [PC: %08X, clock: %d]", cpu.name().c_str(), cpu.getPC(),
                 command == kSmpcCkchg352 ? 352 : 320);
        return;
    }
    logError(1, "%s: SYS_NMI is not implemented [PC: %08X, SP: %08X, SR: %08X]", cpu.name().c_str(), cpu.getPC(),
             cpu.r(15), cpu.packSR());
    cpu.setPC(kIdle);
}
