#include "board/smpc/smpc.h"

#include <cstring>

#include "board/cart/eeprom.h"
#include "core/base/cpu.h"
#include "core/base/helpers.h"
#include "core/base/shared_state.h"

namespace {

// Delays of the command protocol.
constexpr u32 kCommandDelayNs = 1000;
constexpr u32 kStatusOnlyDelayNs = 5000;
constexpr u32 kStatusFirstDelayNs = 1000;
constexpr u32 kPeriphDelayNs = 10000;
constexpr u32 kPeriphShortDelayNs = 5000;
constexpr u32 kPeriphAfterStatusNs = 150000;
constexpr u32 kVBlankPulseNs = 300000;


// Register offsets (address & 0x7F).
enum : u32 {
    kIreg0 = 0x01, kIreg6 = 0x0D, kComreg = 0x1F, kOreg0 = 0x21, kOreg3 = 0x27, kOreg31 = 0x5F, kSr = 0x61, kSf = 0x63,
    kPdr1 = 0x75, kPdr2 = 0x77, kDdr1 = 0x79, kDdr2 = 0x7B, kIosel = 0x7D, kExle = 0x7F,
};

enum Command : u8 {
    kMshon = 0x00, kSshon = 0x02, kSshoff = 0x03, kSndon = 0x06, kSndoff = 0x07, kCdon = 0x08, kCdoff = 0x09,
    kNetlinkon = 0x0A, kNetlinkoff = 0x0B, kSysres = 0x0D, kCkchg352 = 0x0E, kCkchg320 = 0x0F, kIntback = 0x10,
    kSettime = 0x16, kSetsmem = 0x17, kNmireq = 0x18, kResenab = 0x19, kResdisa = 0x1A,
};

bool isSlave(const CPU* cpu)
{
    return cpu && (cpu->index() & 1);
}

}  // namespace

SMPC::SMPC(SmpcMachine* machine)
    : Device("SMPC"), m_machine(machine), m_ports{Port("SMPC.PORT1"), Port("SMPC.PORT2")}
{
    hostPadState[0] = hostPadState[1] = 0xFF;
}

SMPC::~SMPC()
{
    for (EventHandle handle : m_events)
        cancelEvent(handle);
}

void SMPC::track(EventHandle handle)
{
    if (!handle)
        return;
    for (EventHandle& slot : m_events) {
        if (!scheduler().isPending(slot)) {
            slot = handle;
            return;
        }
    }
}

void SMPC::powerOn()
{
    reset();
    for (Port& port : m_ports) {
        port.status = Port::kDirect;
        port.mode = 0;
    }
    m_ports[1].status = Port::kEmpty;
}

void SMPC::reset()
{
    m_soundHold = 0;
    m_cartSelect = 0;
    m_busy = m_intback = m_periphRequested = m_vblankPulse = false;
    m_resetButton = m_moreData = false;
    m_operation = 0;
    m_resetDisabled = m_clock352 = m_clockChangeNmi = false;
    m_systemReset[0] = m_systemReset[1] = false;
    m_soundOn = m_cdOn = false;
}

bool SMPC::readExternalInput(void* out, int)
{
    if (out)
        std::memset(out, 0, 2 * sizeof(u16));
    return true;
}

AccessHandlers SMPC::getAccessHandlers(int area)
{
    if (area != 0)
        return {};
    AccessHandlers h{this, read8, write8, read16, write16, read32, write32};
    h.steadyRead = steadyRead;
    return h;
}

u8 SMPC::read8(void* owner, CPU* cpu, u32 a)
{
    return static_cast<SMPC*>(owner)->readByte(cpu, a);
}

u16 SMPC::read16(void* owner, CPU* cpu, u32 a)
{
    return static_cast<u16>(read8(owner, cpu, a) << 8 | read8(owner, cpu, a + 1));
}

u32 SMPC::read32(void* owner, CPU* cpu, u32 a)
{
    return static_cast<u32>(read16(owner, cpu, a)) << 16 | read16(owner, cpu, a + 2);
}

void SMPC::write8(void* owner, CPU* cpu, u32 a, u8 d)
{
    static_cast<SMPC*>(owner)->writeByte(cpu, a, d);
}

void SMPC::write16(void* owner, CPU* cpu, u32 a, u16 d)
{
    write8(owner, cpu, a, static_cast<u8>(d >> 8));
    write8(owner, cpu, a + 1, static_cast<u8>(d));
}

void SMPC::write32(void* owner, CPU* cpu, u32 a, u32 d)
{
    write16(owner, cpu, a, static_cast<u16>(d >> 16));
    write16(owner, cpu, a + 2, static_cast<u16>(d));
}

// SF, SR, the OREGs and the rest change only in the SMPC's events and
// through writes. Reads change nothing, but the slave's and OREG3's are
// logged, and the ports follow the host's pad and the arcade board's lines.
bool SMPC::steadyRead(void* owner, const CPU* cpu, u32 a, u32 width, u32& value)
{
    const auto* smpc = static_cast<const SMPC*>(owner);
    if (isSlave(cpu))
        return false;
    value = 0;
    for (u32 i = 0; i < width; ++i) {
        u8 byte = 0;
        if (!smpc->peekByte((a + i) & 0x7F, byte))
            return false;
        value = value << 8 | byte;
    }
    return true;
}

u8 SMPC::readByte(CPU* cpu, u32 a)
{
    if (isSlave(cpu))
        logError(1, "Slave SH2: RB [A:%08X]", a);
    const u32 offset = a & 0x7F;
    u8 value = 0;
    if (peekByte(offset, value))
        return value;
    if (offset == kOreg3) {
        logWarning(2, "Read OREG3, scanline: %d", currentScanline);
        return m_oreg[3];
    }
    switch (offset) {
    case kPdr1: return readPort(0);
    case kPdr2:
        if (m_machine->kind() == kConsole)
            return readPort(1);
        if (m_machine->kind() == kArcade) {
            const u32 out = boardEeprom().getDO();
            return out == EEPROM::kNotDriving ? 0xFF : static_cast<u8>(out << 5 | 0xDF);
        }
        return 0xFF;
    default: return 0xFF;
    }
}

// A byte read that changes nothing and logs nothing, as read; false for
// OREG3 and the ports.
bool SMPC::peekByte(u32 offset, u8& value) const
{
    if (offset == kComreg) {
        value = m_comreg;
        return true;
    }
    if (offset >= kOreg0 && offset <= kOreg31 && (offset & 1)) {
        value = m_oreg[(offset - kOreg0) >> 1];
        return offset != kOreg3;
    }
    switch (offset) {
    case kSr: value = m_sr; return true;
    case kSf: value = m_sf; return true;
    case kPdr1: case kPdr2: return false;
    default: value = 0xFF; return true;
    }
}

void SMPC::writeByte(CPU* cpu, u32 a, u8 d)
{
    if (isSlave(cpu))
        logError(1, "Slave SH2: WB [A:%08X, D: %02X]", a, d);
    const u32 offset = a & 0x7F;
    if (offset >= kIreg0 && offset <= kIreg6 && (offset & 1)) {
        const u32 n = offset >> 1;
        if (n == 0 && m_intback)
            writeIreg0(d);
        else
            m_ireg[n] = d;
        return;
    }
    switch (offset) {
    case kComreg: writeCommand(cpu, d); return;
    case kSf:
        if (d & 1)
            m_sf = 1;
        return;
    case kPdr1:
        if (m_machine->kind() == kConsole)
            m_pdr[0] = d;
        else if (m_machine->kind() == kArcade)
            writeArcadeLines(d);
        return;
    case kPdr2:
        if (m_machine->kind() == kConsole)
            m_pdr[1] = d;
        else if (m_machine->kind() == kArcade)
            writeSoundLine(d);
        return;
    case kDdr1: m_ddr[0] = d & 0x7F; return;
    case kDdr2: m_ddr[1] = d & 0x7F; return;
    case kIosel: m_iosel = d & 3; return;
    case kExle: m_exle = d & 3; return;
    default: logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d); return;
    }
}

// Direct mode: the SH-2 drives the port's select lines and reads the pad
// nibble they choose, straight from the host's pad state.
u8 SMPC::readPort(int port) const
{
    if (!(m_iosel & (1u << port)))
        return 0x00;
    const u8 b0 = hostPadState[0];
    const u8 b1 = hostPadState[1];
    const u8 pdr = m_pdr[port];
    switch ((m_ddr[port] >> 5) & 3) {
    case 0:
        logError(1, "Unknown control mode 0");
        return 0x00;
    case 1: return 0x00;
    case 2: return (pdr & 0x40) ? static_cast<u8>((b1 & 0x0C) | 0x70) : static_cast<u8>((b0 >> 4) | 0x30);
    default: {
        const u8 p = pdr & 0x80;
        switch ((pdr >> 5) & 3) {
        case 0: return static_cast<u8>((b1 >> 4) | p | 0x10);
        case 1: return static_cast<u8>((b0 >> 4) | p | 0x10);
        case 2: return static_cast<u8>((b0 & 0x0F) | p | 0x10);
        default: return static_cast<u8>((b1 & 0x08) | p | 0x14);
        }
    }
    }
}

void SMPC::writeArcadeLines(u8 d)
{
    EEPROM& eeprom = boardEeprom();
    eeprom.setCS((d >> 2) & 1);
    eeprom.setSK((d >> 3) & 1);
    eeprom.setDI((d >> 4) & 1);
    const u8 select = d & 3;
    if (select != m_cartSelect) {
        logError(2, "Select cart #%d", select + 1);
        m_cartSelect = select;
    }
}

void SMPC::writeSoundLine(u8 d)
{
    const u8 line = (d >> 4) & 1;
    if (line && !m_soundHold) {
        logDebug(1, "SNDOFF");
        switchSound(false);
    } else if (!line && m_soundHold) {
        logDebug(1, "SNDON");
        switchSound(true);
    }
    m_soundHold = line;
}

void SMPC::switchSound(bool on)
{
    if (on)
        m_machine->soundCpu().switchOn();
    else
        m_machine->soundCpu().switchOff();
    m_soundOn = on;
    m_sf = 0;
}

void SMPC::writeCommand(CPU* cpu, u8 code)
{
    m_sr &= 0x10;
    m_comreg = code;
    if (m_busy) {
        logWarning(1, "Command is executing!, INTBACK: %d", m_intback ? 1 : 0);
        return;
    }
    m_command = code;
    m_commandIreg = m_ireg;
    m_oreg[31] = code;
    m_busy = true;
    m_requesterSlave = isSlave(cpu);
    m_requester = &m_machine->sh2(m_requesterSlave);
    if (code == kIntback) {
        startIntback();
        return;
    }
    track(m_requester->scheduleIn(kCommandDelayNs, &SMPC::onCommand, this, 1, Scheduler::kOneShot, code));
}

void SMPC::writeIreg0(u8 value)
{
    const u32 mode = (((m_ireg[0] ^ value) & 0x80) ? 2u : 0u) | ((value & 0x40) ? 1u : 0u);
    m_ireg[0] = value;
    switch (mode) {
    case 1:
        logInfo(2, "Break, scanlineY: %d", currentScanline);
        endCommand();
        break;
    case 2:
        m_periphRequested = true;
        if (!m_inVBlank)
            logWarning(2, "Continue to get peripheral data out of V-BLANK, [ope: %d, scanline: %d]", m_operation,
                       currentScanline);
        schedulePhase(m_operation ? kPeriphShortDelayNs : kPeriphDelayNs, &SMPC::onPeriph);
        break;
    case 3: logWarning(1, "Prohibited BREAK/CONTINUE mode"); break;
    default: break;
    }
}

// The phases count from the start of the slice: the SMPC's own position
// never moves from 0.
void SMPC::schedulePhase(u32 delay, EventCallback callback)
{
    track(scheduleIn(delay, callback, this, 1, Scheduler::kOneShot, 0));
}

void SMPC::startIntback()
{
    if (m_requesterSlave) {
        logError(1, "Slave SH2 can't execute INTBACK");
        endCommand();
        return;
    }
    const u8 ireg0 = m_commandIreg[0];
    const u8 ireg1 = m_commandIreg[1];
    m_ports[0].mode = (ireg1 >> 4) & 3;
    m_ports[1].mode = (ireg1 >> 6) & 3;
    switch (((ireg1 & 0x08) ? 2 : 0) | (ireg0 & 1)) {
    case 1:
        m_intback = false;
        schedulePhase(kStatusOnlyDelayNs, &SMPC::onStatus);
        break;
    case 2:
        logInfo(2, "Only peripheral, SF: %d, scanline: %d", m_sf, currentScanline);
        m_intback = true;
        m_periphRequested = true;
        if (!m_inVBlank)
            logError(2, "Get peripheral data out of V-BLANK [ope: %d, scanline: %d]", m_operation, currentScanline);
        schedulePhase(m_operation ? kPeriphShortDelayNs : kPeriphDelayNs, &SMPC::onPeriph);
        break;
    case 3:
        logInfo(2, "Get status first then get peripheral data, scanline: %d", currentScanline);
        m_periphRequested = true;
        if (!m_inVBlank)
            logError(2, "Get peripheral data out of V-BLANK [ope: %d, scanline: %d]", m_operation, currentScanline);
        m_intback = true;
        schedulePhase(kStatusFirstDelayNs, &SMPC::onStatus);
        break;
    default:
        // Nothing asked for: the command stays busy until the next V-BLANK-IN.
        logError(2, "INTBACK: Nothing to get");
        m_sf = 0;
        break;
    }
}

void SMPC::endCommand()
{
    m_busy = false;
    m_sf = 0;
    m_intback = false;
    m_periphRequested = false;
}

void SMPC::onCommand(void* owner, u32)
{
    auto* self = static_cast<SMPC*>(owner);
    self->runCommand(self->m_command);
}

void SMPC::onStatus(void* owner, u32)
{
    static_cast<SMPC*>(owner)->statusPhase();
}

void SMPC::onPeriph(void* owner, u32)
{
    static_cast<SMPC*>(owner)->periphPhase();
}

void SMPC::onVBlankPulseEnd(void* owner, u32)
{
    static_cast<SMPC*>(owner)->m_vblankPulse = false;
}

bool SMPC::slaveRefuses(const char* command)
{
    if (!m_requesterSlave)
        return false;
    logError(1, "Slave SH2 can't execute %s", command);
    return true;
}

void SMPC::changeClock(u32 hz, bool fast)
{
    m_machine->changeClock(hz);
    m_clock352 = fast;
    m_clockChangeNmi = true;
    m_sf = 0;
}

void SMPC::runCommand(u8 code)
{
    m_oreg[31] = code;
    switch (code) {
    case kMshon:
        logDebug(1, "MSHON");
        m_machine->sh2(false).switchOn();
        m_sf = 0;
        break;
    case kSshon:
        logDebug(1, "SSHON");
        if (slaveRefuses("SSHON"))
            break;
        m_machine->sh2(true).switchOn();
        m_sf = 0;
        break;
    case kSshoff:
        logDebug(1, "SSHOFF");
        if (slaveRefuses("SSHOFF"))
            break;
        m_machine->sh2(true).switchOff();
        m_sf = 0;
        break;
    case kSndon:
        logDebug(1, "SNDON");
        switchSound(true);
        break;
    case kSndoff:
        logDebug(1, "SNDOFF");
        switchSound(false);
        break;
    case kCdon:
        logDebug(1, "CDON");
        m_machine->cdBlock().powerOn();
        m_cdOn = true;
        m_sf = 0;
        break;
    case kCdoff:
        logTrace(1, "CDOFF");
        m_machine->cdBlock().powerOff();
        m_cdOn = false;
        m_sf = 0;
        break;
    // The modem's switch: with none attached it ends at once, as on the
    // console, where programs send it at boot and wait for SF.
    case kNetlinkon:
        logDebug(1, "NETLINKON");
        m_sf = 0;
        break;
    case kNetlinkoff:
        logDebug(1, "NETLINKOFF");
        m_sf = 0;
        break;
    case kSysres:
        logDebug(1, "SYSRES");
        m_machine->systemReset();
        m_systemReset[0] = m_systemReset[1] = true;
        m_sf = 0;
        break;
    case kCkchg352:
        logDebug(1, "CKCHG352");
        if (!slaveRefuses("CKCHG352"))
            changeClock(kFastSystemClockHz, true);
        break;
    case kCkchg320:
        logDebug(1, "CKCHG320");
        if (!slaveRefuses("CKCHG320"))
            changeClock(kSystemClockHz, false);
        break;
    case kIntback:
        // Only reached if a snapshot held INTBACK; the write starts it at once.
        startIntback();
        return;
    case kSettime:
        logDebug(1, "SETTIME");
        setClockFromIregs();
        m_sf = 0;
        break;
    case kSetsmem:
        logDebug(1, "SETSMEM");
        openBatteryIfNeeded();
        std::memcpy(m_smem.data(), m_commandIreg.data(), m_smem.size());
        m_sf = 0;
        saveBattery();
        break;
    case kNmireq:
        logDebug(1, "NMIREQ");
        m_machine->requestNmi();
        m_sf = 0;
        break;
    case kResenab:
        logDebug(2, "RESENAB");
        m_resetDisabled = false;
        m_sf = 0;
        break;
    case kResdisa:
        logDebug(2, "RESDISA");
        m_resetDisabled = true;
        m_sf = 0;
        break;
    default: logDebug(1, "Invalid command! [COMREG: %02X]", code); break;
    }
    m_busy = false;
}

void SMPC::statusPhase()
{
    m_sr = static_cast<u8>(0x40 | m_moreData << 5 | m_resetButton << 4);
    openBatteryIfNeeded();
    m_oreg[0] = static_cast<u8>(m_timeSet << 7 | m_resetDisabled << 6);
    const Clock now = currentTime();
    const u32 year = toBcd(static_cast<u32>(now.year), true);
    m_oreg[1] = static_cast<u8>(year >> 8);
    m_oreg[2] = static_cast<u8>(year);
    m_oreg[3] = static_cast<u8>(now.weekday << 4 | now.month);
    m_oreg[4] = static_cast<u8>(toBcd(static_cast<u32>(now.day), true));
    m_oreg[5] = static_cast<u8>(toBcd(static_cast<u32>(now.hour), true));
    m_oreg[6] = static_cast<u8>(toBcd(static_cast<u32>(now.minute), true));
    m_oreg[7] = static_cast<u8>(toBcd(static_cast<u32>(now.second), true));
    m_oreg[8] = 0x01;
    m_oreg[9] = m_areaCode;
    m_oreg[10] = static_cast<u8>(m_clock352 << 6 | 0x34 | m_systemReset[0] << 3 | m_systemReset[1] << 1 | m_soundOn);
    m_oreg[11] = static_cast<u8>(m_cdOn << 6);
    std::memcpy(&m_oreg[12], m_smem.data(), m_smem.size());
    std::memset(&m_oreg[16], 0, 15);
    m_machine->smpcInterrupt();
    if (m_periphRequested)
        schedulePhase(kPeriphAfterStatusNs, &SMPC::onPeriph);
    else
        endCommand();
    logWarning(2, "tcbStatus, scanline: %d", currentScanline);
}

void SMPC::periphPhase()
{
    if (!m_periphRequested)
        return;
    m_oreg.fill(0);
    // Port 1 reports its data; port 2 only its status and ID, followed by
    // the two bytes a released pad would give. At most 2 + 15 + 4 bytes.
    u32 at = 0;
    const Port& first = m_ports[0];
    m_oreg[at++] = first.status;
    m_oreg[at++] = first.readId();
    u32 count = 0;
    const u8* data = first.readData(count);
    for (u32 k = 0; k < count; ++k)
        m_oreg[at++] = data[k];
    m_oreg[at++] = m_ports[1].status;
    m_oreg[at++] = m_ports[1].readId();
    m_oreg[at++] = 0xFF;
    m_oreg[at++] = 0xFF;
    m_sr = static_cast<u8>(0xC0 | m_moreData << 5 | m_resetButton << 4 | m_ports[1].mode << 2 | m_ports[0].mode);
    m_machine->smpcInterrupt();
    if (!m_moreData)
        endCommand();
    m_periphRequested = false;
    logError(2, "tcbPeriph, scanline: %d", currentScanline);
}

void SMPC::onVBlankIn()
{
    currentScanline = -11;
    logInfo(2, "VBlankIn");
    m_inVBlank = true;
    endCommand();
    m_vblankPulse = true;
    track(schedule(kVBlankPulseNs, &SMPC::onVBlankPulseEnd, 1, Scheduler::kOneShot, 0));
}

void SMPC::onVBlankOut()
{
    currentScanline = -12;
    logInfo(2, "VblankOut");
    m_inVBlank = false;
    m_ports[0].poll();
    m_ports[1].poll();
}

void SMPC::onHBlankOut(int line)
{
    if (line == 7 || line == 8)
        logError(2, "scanline: %d", line);
}
