#include "board/scu/scu.h"

#include <algorithm>

#include "board/sh2/sh2.h"
#include "core/base/shared_state.h"

namespace {

constexpr u32 kMaskStored = 0xBFFF;  // bit 14 is never stored
constexpr u32 kIstReadable = ~0xC000u;
constexpr u32 kDstaReadable = 0x733333;

bool isSlave(const CPU* cpu) { return cpu && (cpu->getIndex() & 1); }
// The registers answer in the cache-through area only; elsewhere an access warns.
bool cacheThrough(u32 a) { return (a >> 28) == 2; }

}  // namespace

SCU::INTC::INTC(SCU* scu) : Device("SCU.INTC"), m_scu(scu)
{
    m_held.reserve(32);
    m_outgoing.reserve(32);
}

void SCU::INTC::reset()
{
    m_held.clear();
}

void SCU::INTC::request(u32 vector, u32 level)
{
    const u32 bit = 1u << (vector & 31);
    m_scu->regRef(kIST) |= bit;
    const u32 maskBit = bit < 0x10000 ? bit : 0x8000;
    if (!(m_scu->mask() & maskBit)) {
        deliverLater(vector, level);
        return;
    }
    for (Pending& p : m_held) {
        if (p.vector == vector) {
            p.level = level;
            return;
        }
    }
    m_held.push_back({vector, level});
}

void SCU::INTC::deliverLater(u32 vector, u32 level)
{
    // The controller never runs, so the event lands 10000 ns into the
    // current slice and no processor's budget is cut.
    if (!scheduleIn(kDeliveryDelayNs, onDeliverInterrupt, this, 1, Scheduler::kOneShot, vector << 8 | level))
        m_outgoing.push_back({vector, level});  // the pool is full: retried at the next entry point
}

void SCU::INTC::flush()
{
    if (m_outgoing.empty())
        return;
    std::vector<Pending> waiting;
    waiting.swap(m_outgoing);
    for (const Pending& p : waiting)
        deliverLater(p.vector, p.level);
}

void SCU::INTC::onDeliverInterrupt(void* owner, u32 argument)
{
    auto* intc = static_cast<INTC*>(owner);
    intc->m_scu->master()->requestInterrupt(static_cast<u8>(argument >> 8), static_cast<u8>(argument & 0xFF));
}

void SCU::INTC::onMaskWrite(u32 value)
{
    const u32 m = value & kMaskStored;
    auto opened = [m](const Pending& p) {
        const u32 bit = 1u << (p.vector & 31);
        return !(m & (bit < 0x10000 ? bit : 0x8000));
    };
    for (const Pending& p : m_held) {
        if (opened(p))
            deliverLater(p.vector, p.level);
    }
    m_held.erase(std::remove_if(m_held.begin(), m_held.end(), opened), m_held.end());
    m_scu->regRef(kIMS) = m;
}

SCU::SCU(Device* machine, SH2* master)
    : Device("SCU"), m_machine(machine), m_master(master), m_intc(this), m_dsp(this, &m_dmac), m_dmac(this)
{
}

void SCU::setClock(u32 period)
{
    setPeriod(period);
    m_dsp.setPeriod(period);
    m_dmac.setPeriod(period >> 3);
}

void SCU::commonReset()
{
    m_intc.reset();
    m_dsp.reset();
    m_dmac.reset();
    for (u32 level = 0; level < 3; ++level) {
        regRef(kD0AD + level * 0x20) = 0x101;
        regRef(kD0EN + level * 0x20) = 0;
        regRef(kD0MD + level * 0x20) = 7;
    }
    for (u32 r : {kDSTP, kDSR, kDSW, kDSC, kT1MD, kIST, kAIACK, kASR0, kASR1, kRSEL, kVER})
        regRef(r) = 0;
    regRef(kIMS) = kMaskStored;
    regRef(kAREF) = 1;
    m_lineCounter = 0;
}

void SCU::powerOn()
{
    commonReset();
}

void SCU::reset()
{
    commonReset();
    regRef(kRSEL) = 1;
}

void SCU::requestInterrupt(u32 vector, u32 level)
{
    m_intc.flush();
    m_intc.request(vector, level);
}

void SCU::irqExternal(int n)
{
    n &= 15;
    requestInterrupt(0x50 + n, n < 4 ? 7 : n < 8 ? 4 : 1);
}

void SCU::onVBlankIn()
{
    irqVBlankIn();
    triggerDma(0);
    logError(2, "V-BLANK-IN");
}

void SCU::onVBlankOut()
{
    logWarning(2, "V-BLANK-OUT");
    irqVBlankOut();
    m_lineCounter = 0;
    triggerDma(1);
    logAbusSettings();
}

void SCU::onHBlankIn(int line)
{
    logInfo(2, "H-BLANK-IN: %d", line);
    irqHBlankIn();
    const bool match = m_lineCounter == reg(kT0C);
    if (match) {
        irqTimer0();
        logInfo(2, "Timer 0 interrupt");
        triggerDma(3);
    }
    m_lineCounter = (m_lineCounter + 1) & 0x3FF;
    const u32 mode = reg(kT1MD);
    if ((mode & 1) && (!(mode & 0x100) || match)) {
        const u32 delay = period() * reg(kT1S);
        // Measured from the master's present position, which outside its
        // execute is its local time: never a slice late.
        if (delay == 0 || !m_master->scheduleIn(delay, onTimer1, this, 1, Scheduler::kOneShot, 0))
            onTimer1(this, 0);
    }
    triggerDma(2);
}

void SCU::onTimer1(void* owner, u32)
{
    auto* scu = static_cast<SCU*>(owner);
    scu->irqTimer1();
    scu->logWarning(2, "TIMER1: generate IRQ!");
    scu->triggerDma(4);
}

void SCU::spriteDrawEnd()
{
    irqSpriteDrawEnd();
    triggerDma(6);
}

void SCU::soundRequest()
{
    requestInterrupt(0x46, 9);
    triggerDma(5);
}

void SCU::logAbusSettings() const
{
    if (!logs(2))
        return;
    static const char* const kFields[] = {"PRD", "WPC", "RPC", "EWT", "BW", "NW", "LN", "SZ"};
    auto area = [](std::string& out, int n, u32 half) {
        const u32 values[] = {half >> 15 & 1, half >> 14 & 1, half >> 13 & 1, half >> 12 & 1,
                              half >> 8 & 0xF, half >> 4 & 0xF, half >> 2 & 3, half & 1};
        for (int i = 0; i < 8; ++i) {
            if (i)
                out += ", ";
            out += "A" + std::to_string(n) + kFields[i] + ": " + std::to_string(values[i]);
        }
        out += '\n';
    };
    std::string text;
    area(text, 0, reg(kASR0) >> 16);
    area(text, 1, reg(kASR0) & 0xFFFF);
    area(text, 2, reg(kASR1) >> 16);
    area(text, 3, reg(kASR1) & 0xFFFF);
    const u32 refresh = reg(kAREF);
    text += "ARFEN: " + std::to_string(refresh >> 4 & 1) + ", ARWT: " + std::to_string(refresh & 0xF);
    logError(2, "%s", text.c_str());
}

bool SCU::accessAllowed(CPU* cpu, u32 a, const char* slaveFormat, u32 data, bool isWrite)
{
    if (slaveFormat && isSlave(cpu)) {
        if (isWrite)
            logError(1, slaveFormat, a, data);
        else
            logError(1, slaveFormat, a);
    }
    if (!cacheThrough(a)) {
        logWarning(1, "Address is not a cache-though address [A: %08X], prohibited!", a);
        return false;
    }
    return true;
}

// The slave's reads are logged, DSTA's and PPAF's long reads aside.
bool SCU::slaveLogs(u32 a, u32 width)
{
    const u32 offset = a & 0xFF;
    return !(width == 4 && (offset == kDSTA || offset == kPPAF));
}

// The registers whose reads change nothing and log nothing once the access
// is allowed, as read; false for the others.
bool SCU::peekRegister(u32 a, u32 width, u32& value) const
{
    const u32 offset = a & 0xFF;
    if (width == 1 && offset == kIST + 3) {
        value = ist() & 0xFF;
        return true;
    }
    if (width != 4)
        return false;
    switch (offset) {
    case 0x00: case 0x20: case 0x40:
    case 0x04: case 0x24: case 0x44:
        value = reg(offset) & 0x7FFFFFF;
        return true;
    case kDSTA: value = reg(kDSTA) & kDstaReadable; return true;
    case kIST: value = ist() & kIstReadable; return true;
    case kVER: value = reg(kVER) & 0xF; return true;
    default: return false;
    }
}

// What a read answers where it changes nothing and logs nothing: the
// registers peekRegister answers, inside the cache-through area, and not
// for the slave where its reads are logged.
bool SCU::peek(const CPU* cpu, u32 a, u32 width, u32& value) const
{
    return cacheThrough(a) && !(isSlave(cpu) && slaveLogs(a, width)) && peekRegister(a, width, value);
}

u8 SCU::read8(void* owner, CPU* cpu, u32 a)
{
    auto* scu = static_cast<SCU*>(owner);
    if (!scu->accessAllowed(cpu, a, "Slave SH2: RB [A:%08X]", 0, false))
        return 0;
    u32 value;
    if (scu->peekRegister(a, 1, value))
        return static_cast<u8>(value);
    scu->logWarning(1, "Bad RB [A: %08X]", a);
    return 0;
}

u16 SCU::read16(void* owner, CPU* cpu, u32 a)
{
    auto* scu = static_cast<SCU*>(owner);
    if (scu->accessAllowed(cpu, a, "Slave SH2: RW [A:%08X]", 0, false))
        scu->logWarning(1, "Bad RW [A: %08X]", a);
    return 0;
}

u32 SCU::read32(void* owner, CPU* cpu, u32 a)
{
    auto* scu = static_cast<SCU*>(owner);
    if (!scu->accessAllowed(cpu, a, slaveLogs(a, 4) ? "Slave SH2: RL [A:%08X]" : nullptr, 0, false))
        return 0;
    return scu->readLong(a);
}

u32 SCU::readLong(u32 a)
{
    u32 value;
    if (peekRegister(a, 4, value))
        return value;
    const u32 offset = a & 0xFF;
    switch (offset) {
    case 0x08: case 0x28: case 0x48: {
        const int level = static_cast<int>(offset >> 5);
        logWarning(1, "Bad RL [D%dC: %08X], D%dC is write-only!", level, reg(offset), level);
        return 0;
    }
    case kDSTP:
        logWarning(1, "Bad RL [DSTP: %08X], DSTP is write-only!", reg(kDSTP));
        return 0;
    case kDSR:
        logWarning(1, "RL [DSR: %08X]", reg(kDSR));
        return reg(kDSR);
    case kDSW:
        logWarning(1, "RL [DSW: %08X]", reg(kDSW));
        return reg(kDSW);
    case kDSC:
        logWarning(1, "RL [DSC: %08X]", reg(kDSC));
        return reg(kDSC);
    case kPPAF:
        return m_dsp.readStatus();
    case kPDD:
        return m_dsp.readData();
    case 0xAC:
        logWarning(1, "Bad RL [A: 25FE00AC], especially prohibited!");
        return 0;
    default:
        logWarning(1, "Bad RL [A: %08X]", a);
        return 0;
    }
}

void SCU::write8(void* owner, CPU* cpu, u32 a, u8 d)
{
    auto* scu = static_cast<SCU*>(owner);
    if (!scu->accessAllowed(cpu, a, "Slave SH2: WB [A:%08X, D: %02X]", d, true))
        return;
    if ((a & 0xFF) == kIST + 3) {
        scu->regRef(kIST) &= 0xFFFFFF00u | d;
        return;
    }
    scu->logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d);
}

void SCU::write16(void* owner, CPU* cpu, u32 a, u16 d)
{
    auto* scu = static_cast<SCU*>(owner);
    if (scu->accessAllowed(cpu, a, "Slave SH2: WW [A:%08X, D: %04X]", d, true))
        scu->logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d);
}

void SCU::write32(void* owner, CPU* cpu, u32 a, u32 d)
{
    auto* scu = static_cast<SCU*>(owner);
    if (scu->accessAllowed(cpu, a, nullptr, d, true))
        scu->writeLong(cpu, a, d);
}

void SCU::scheduleAtWriter(CPU* cpu, EventCallback callback, u32 argument)
{
    // Offset 0 on the writer ends its slice there, so the effect is seen
    // before it runs on. Without a writer or a free event it happens now.
    if (!cpu || !cpu->scheduleIn(0, callback, this, 1, Scheduler::kOneShot, argument))
        callback(this, argument);
}

void SCU::writeLong(CPU* cpu, u32 a, u32 v)
{
    const u32 offset = a & 0xFF;
    switch (offset) {
    case 0x00: case 0x20: case 0x40:
    case 0x04: case 0x24: case 0x44:
        regRef(offset) = v & 0x7FFFFFF;
        return;
    case kD0C:
        regRef(offset) = v & 0xFFFFF;
        return;
    case 0x28: case 0x48:
        regRef(offset) = v & 0xFFF;
        return;
    case 0x0C: case 0x2C: case 0x4C:
        regRef(offset) = v & 0x107;
        return;
    case 0x10: case 0x30: case 0x50:
        regRef(offset) = v & 0x101;
        if (reg(offset))
            scheduleAtWriter(cpu, onStartBit, offset >> 5);
        return;
    case 0x14: case 0x34: case 0x54:
        regRef(offset) = v & 0x1010107;
        return;
    case kDSTP:
        logWarning(2, "WL [DSTP, D: %08X]", v);
        scheduleAtWriter(cpu, onForcedStop, v);
        return;
    case kDSR:
        logWarning(1, "Bad WL, DSR is read-only!");
        return;
    case kDSW:
        logWarning(1, "Bad WL, DSW is read-only!");
        return;
    case kDSC:
        logWarning(1, "Bad WL, DSC is read-only!");
        return;
    case kDSTA:
        logWarning(1, "Bad WL [DSTA, D: %08X], DSTA is read-only!", v);
        return;
    case kPPAF:
        m_dsp.writeControlPort(v);
        return;
    case kPPD:
        m_dsp.writeProgram(v);
        return;
    case kPDA:
        m_dsp.writeDataAddress(v);
        return;
    case kPDD:
        m_dsp.writeData(v);
        return;
    case kT0C:
        regRef(offset) = v & 0x3FF;
        return;
    case kT1S:
        regRef(offset) = v & 0x1FF;
        return;
    case kT1MD:
        regRef(offset) = v & 0x101;
        return;
    case kIMS:
        if (!(v & 0x20))
            logError(2, "DSP end interrupt is enabled");
        scheduleAtWriter(cpu, onMaskChanged, v);
        return;
    case kIST:
        regRef(kIST) &= v & kIstReadable;
        logWarning(2, "Bad WL [A: 25FE00A4, D: %08X], writing IST is prohibited!", v & kIstReadable);
        return;
    case kAIACK:
        regRef(offset) = v & 1;
        return;
    case 0xAC:
        logWarning(1, "Bad WL [A: 25FE00AC, D: %08X], especially prohibited!", v);
        return;
    case kASR0:
        if (v & 0x80008000)
            logWarning(1, "Bad WL [A: 25FE00B0, D: %08X], setting preread significant bit of ASR0 is prohibited!", v);
        regRef(offset) = v & 0x7FFD7FFD;
        return;
    case kASR1:
        if (v & 0x80008000)
            logWarning(1, "Bad WL [A: 25FE00B4, D: %08X], setting preread significant bit of ASR1 is prohibited!", v);
        regRef(offset) = v & 0x700D7FFD;
        return;
    case kAREF:
        regRef(offset) = v & 0x1F;
        return;
    case kRSEL:
        regRef(offset) = v & 1;
        return;
    default:
        logWarning(1, "Bad WL [A: %08X, D: %08X]", a, v);
        return;
    }
}

void SCU::onMaskChanged(void* owner, u32 value)
{
    static_cast<SCU*>(owner)->m_intc.onMaskWrite(value);
}

void SCU::onStartBit(void* owner, u32 level)
{
    static_cast<SCU*>(owner)->m_dmac.triggerLevel(level, kDmaStartBit);
}

void SCU::onForcedStop(void* owner, u32 value)
{
    static_cast<SCU*>(owner)->m_dmac.onDstpWrite(value);
}

// The registers change in the SCU's events, in the DMA controller's slice
// and through writes, never in a processor's slice by another's hand.
bool SCU::steadyRead(void* owner, const CPU* cpu, u32 a, u32 width, u32& value)
{
    return static_cast<const SCU*>(owner)->peek(cpu, a, width, value);
}

AccessHandlers SCU::registerHandlers()
{
    AccessHandlers h{this, read8, write8, read16, write16, read32, write32};
    h.steadyRead = steadyRead;
    return h;
}
