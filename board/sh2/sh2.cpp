#include "board/sh2/sh2.h"

namespace {

// Where the default areas sit, in id order; the SDMU and RESERVED6 areas are
// reached only through the on-chip window.
struct AreaRange {
    u32 start;
    u32 end;
};

constexpr AreaRange kAreaRanges[] = {
    {0x00000000, 0x01FFFFFF}, {0x02000000, 0x03FFFFFF}, {0x04000000, 0x05FFFFFF}, {0x06000000, 0x07FFFFFF},
    {0x08000000, 0x1FFFFFFF}, {0x20000000, 0x21FFFFFF}, {0x22000000, 0x23FFFFFF}, {0x24000000, 0x25FFFFFF},
    {0x26000000, 0x27FFFFFF}, {0x28000000, 0x3FFFFFFF}, {0x40000000, 0x47FFFFFF}, {0x48000000, 0x5FFFFFFF},
    {0x60000000, 0x7FFFFFFF}, {0x80000000, 0xBFFFFFFF}, {0xC0000000, 0xC000FFFF}, {0xC0010000, 0xDFFFFFFF},
    {0xE0000000, 0xE000FFFF}, {0xE0010000, 0xFFFEFFFF},
};

constexpr u32 kCacheThroughOffset = 0x20000000;
constexpr u32 kSlaveVbr = 0x06000400;
constexpr u32 kSlavePcVector = 0x06000250;
constexpr u32 kSlaveSpVector = 0x060002AC;
constexpr u32 kSlaveDefaultSp = 0x06001000;
constexpr u32 kAddressErrorVector = 9;
constexpr u32 kAddressErrorClocks = 6;

}  // namespace

SH2::SH2() : CPU("SH2", tables.get())
{
    std::vector<MemoryMapWindow> windows;
    for (int id = 0; id <= kReserved5; ++id)
        windows.push_back({kAreaRanges[id].start, kAreaRanges[id].end, getAccessHandlers(id)});
    windows.push_back({0xFFFF0000, 0xFFFFFFFF, getAccessHandlers(kOnChip)});
    CPU::mapWindows(windows);
    buildOpcodeTable();
    // A fetch from a page with no host memory reads 0xFFFF, the hook trap.
    std::memset(m_dummy.get(), 0xFF, kDummyPageSize);
}

SH2::~SH2() = default;

void SH2::setSlave(bool slave)
{
    if (slave) {
        setName("SH2(S)");
        setIndex(1);
        bsc.bcr1 |= 0x8000;
    } else {
        setName("SH2(M)");
        sci.setName(name() + ".SCI");
        setIndex(0);
        bsc.bcr1 &= 0x7FFF;
    }
}

void SH2::powerOn()
{
    switch (m_state) {
    case kCpuStopped:
        reset();
        break;
    case kCpuSleep:
    case kCpuStandby:
        leaveStandby();
        logInfo(1, "Cancel Standby mode Power on reset");
        break;
    default:
        break;
    }
}

void SH2::powerOff()
{
    m_state = kCpuStopped;
}

void SH2::reset()
{
    doReset(false);
}

void SH2::doReset(bool manual)
{
    m_vbr = 0;
    m_fi = 15;
    m_state = kCpuRunning;
    if (manual) {
        m_pc = readLong(0x00000008);
        m_r[15] = readLong(0x0000000C);
    } else if (isSlave()) {
        m_vbr = kSlaveVbr;
        m_pc = readLong(kSlavePcVector);
        m_r[15] = readLong(kSlaveSpVector);
        if (m_r[15] == 0)
            m_r[15] = kSlaveDefaultSp;
    } else {
        m_pc = readLong(0x00000000);
        m_r[15] = readLong(0x00000004);
    }
    if (!manual) {
        intc.reset();
        bsc.reset();
        cache.reset();
        dmac.reset();
        divu.reset();
        frt.reset();
        wdt.reset();
        sci.reset();
        pmu.reset();
        sdmu.reset();
    }
    logDebug(1, "reset [PC: %08X, SP: %08X]", m_pc, m_r[15]);
}

u32 SH2::execute(u32 clocks)
{
    if (m_state == kCpuStopped) {
        m_clocksLeft = 0;
        return clocks;
    }
    if (hasPendingInterrupt())
        checkInterrupts();
    // A settled waiting loop that the processor stands on runs the slice
    // out without entering the interpreter.
    const bool breakpoints = m_debug != 0;
    if (m_wait.phase != WaitLoop::kSettled || breakpoints || !finishSettled())
        interpret(breakpoints);
    m_sr = packSR();
    const u32 used = static_cast<u32>(m_budget - m_clocksLeft);
    if (m_state == kCpuRunning || m_state == kCpuSleep) {
        frt.step(used);
        wdt.step(used);
    }
    return used;
}

void SH2::checkInterrupts()
{
    if (!hasPendingInterrupt())
        return;
    const PendingInterrupt top = topInterrupt();
    if (!acceptInterrupt(top.vector, top.level))
        return;
    popInterrupt();
    enterException(static_cast<u32>(top.vector), static_cast<u32>(top.level));
}

bool SH2::acceptInterrupt(int vector, int level)
{
    if (level <= static_cast<int>(m_fi))
        return false;
    if (m_state == kCpuSleep) {
        leaveStandby();
        if (vector == static_cast<int>(kNmiVector))
            logInfo(1, "Cancel Standby mode by NMI");
        else
            logInfo(1, "Cancel Standby mode by interrupt [vector: %02X, level: %02X]", vector, level);
    } else if (m_state == kCpuStandby && vector == static_cast<int>(kNmiVector)) {
        leaveStandby();
        logInfo(1, "Cancel Standby mode by NMI");
    }
    return true;
}

void SH2::enterException(u32 vector, u32 level)
{
    m_r[15] -= 4;
    writeLong(m_r[15], packSR());
    m_r[15] -= 4;
    writeLong(m_r[15], m_pc);
    m_fi = level > 15 ? 15 : level;
    m_pc = readLong(m_vbr + vector * 4);
}

void SH2::leaveStandby()
{
    // Only the standby values of the units mark a standby exit; the modules
    // hold no further state that leaving it would change.
    m_state = kCpuRunning;
}

void SH2::requestInterrupt(u8 vector, u8 level)
{
    CPU::requestInterrupt(vector, level);
    checkPendingLevel();
}

void SH2::requestNmi()
{
    if (runState() == kOff)
        return;
    intc.icr |= 0x8000;
    requestInterrupt(kNmiVector, kNmiLevel);
}

void SH2::checkPendingLevel()
{
    // The request is taken at the next slice start, so the running slice
    // ends after the present instruction.
    if (hasPendingInterrupt() && topInterrupt().level > static_cast<int>(m_fi))
        limitBudget(0);
}

void SH2::addressError()
{
    const u32 pc = m_pc;
    if (callHooks(this))
        return;
    m_r[15] -= 4;
    writeLong(m_r[15], packSR());
    m_r[15] -= 4;
    writeLong(m_r[15], pc);
    m_pc = readLong(m_vbr + kAddressErrorVector * 4);
    m_clocksLeft -= kAddressErrorClocks;
    logWarning(1, "Address error, [PC: %08X]", pc);
}

void SH2::mapWindows(const std::vector<MemoryMapWindow>& list)
{
    for (const MemoryMapWindow& w : list) {
        m_map->mapRange(w.start, w.end, w.handlers);
        // A mirror that would wrap past the top of the bus has no meaning.
        if (w.end <= ~kCacheThroughOffset)
            m_map->mapRange(w.start + kCacheThroughOffset, w.end + kCacheThroughOffset, w.handlers);
    }
}

void SH2::mapDirect(const std::vector<DirectMapping>& list)
{
    std::vector<DirectMapping> both;
    for (const DirectMapping& m : list) {
        // Fetch pointers are trusted for whole 64 KB pages; a range that
        // does not cover its pages would let a fetch run past its memory.
        if ((m.start & 0xFFFF) != 0 || (m.end & 0xFFFF) != 0xFFFF || m.end < m.start) {
            logWarning(1, "Direct range not page aligned [S: %08X, E: %08X]", m.start, m.end);
            continue;
        }
        both.push_back(m);
        if (m.end <= ~kCacheThroughOffset)
            both.push_back({m.start + kCacheThroughOffset, m.end + kCacheThroughOffset, m.host});
    }
    CPU::mapDirect(both);
}

void SH2::push(u32 value)
{
    m_r[15] -= 4;
    writeLong(m_r[15], value);
}

u32 SH2::pop()
{
    const u32 value = readLong(m_r[15]);
    m_r[15] += 4;
    return value;
}

void SH2::unpackSR(u32 value)
{
    m_ft = value & 1;
    m_fs = (value >> 1) & 1;
    m_fi = (value >> 4) & 15;
    m_fq = (value >> 8) & 1;
    m_fm = (value >> 9) & 1;
}

void SH2::onInputCapture(void* owner, u32)
{
    auto* cpu = static_cast<SH2*>(owner);
    if (cpu->runState() != kOff)
        cpu->frt.inputCapture();
}
