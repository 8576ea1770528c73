#include "sound/m68k/m68k.h"

#include <cstring>
#include <vector>

namespace {

// The longest instruction: opcode, a long source and a long destination.
constexpr u32 kMaxInstructionBytes = 10;

constexpr s32 kInterruptClocks = 44;
constexpr s32 kExceptionClocks = 34;
constexpr u32 kUninitialisedVector = 15;
constexpr u32 kAutovectorBase = 24;
constexpr u32 kSilentWriteStart = 0xFFF000;  // 0xFFFFF000 and up, seen on 24 lines

}  // namespace

M68K::M68K() : CPU("M68K", &m_pageMap), m_handlers(handlerTable())
{
    // Reads keep the base's bad handlers; writes get the 68000's own.
    CPU::unmapRange(0, 0xFFFFFFFF);
    AccessHandlers defaults = m_pageMap.page(0);
    defaults.writeByte = badWrite8;
    defaults.writeWord = badWrite16;
    defaults.writeLong = badWrite32;
    m_pageMap.mapRange(0, 0xFFFFFFFF, defaults);
    m_sp[0] = m_sp[1] = 0;
}

M68K::~M68K() = default;

void M68K::badWrite8(void* owner, CPU*, u32 a, u8 d)
{
    if (a < kSilentWriteStart)
        static_cast<M68K*>(owner)->logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d);
}

void M68K::badWrite16(void* owner, CPU*, u32 a, u16 d)
{
    if (a < kSilentWriteStart)
        static_cast<M68K*>(owner)->logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d);
}

void M68K::badWrite32(void* owner, CPU*, u32 a, u32 d)
{
    if (a < kSilentWriteStart)
        static_cast<M68K*>(owner)->logWarning(1, "Bad WL [A: %08X, D: %08X]", a, d);
}

void M68K::mapDirect(const std::vector<DirectMapping>& list)
{
    CPU::mapDirect(list);
    for (const DirectMapping& m : list) {
        if (!m.host || m.end < m.start || m.start > kAddressMask)
            continue;
        const DirectMapping mapping{m.start, m.end > kAddressMask ? kAddressMask : m.end, m.host};
        // A map built again replaces its old entries instead of piling up.
        std::erase_if(m_directList, [&](const DirectMapping& old) {
            return old.start >= mapping.start && old.end <= mapping.end;
        });
        m_directList.push_back(mapping);
    }
    m_windowStart = m_fetchPc + 1;  // the window may be stale now
    m_windowSafe = 0;
}

void M68K::reset()
{
    std::memset(m_r, 0, sizeof(m_r));
    m_t = 0;
    m_s = 1;
    m_ipm = 7;
    m_x = m_n = m_v = m_c = 0;
    m_notZ = 1;
    m_r[15] = readLong(0);
    m_pc = readLong(4) & kAddressMask;
    m_sp[0] = 0;
    m_sp[1] = m_r[15];
    m_fetchPc = m_pc;
    m_windowStart = m_fetchPc + 1;
    m_windowSafe = 0;
}

void M68K::jump(u32 address)
{
    m_fetchPc = address & kAddressMask;
}

// Forms the host window around the fetch address: the directly mapped block
// holding it, or the dummy page for an unmapped page. Near a block's end the
// instruction is copied byte by byte, so no fetch reads past the block.
void M68K::formWindow()
{
    m_fetchPc &= kAddressMask;
    const u32 pc = m_fetchPc;
    u32 start = pc & ~0xFFFFu;
    u32 end = start | 0xFFFF;
    uintptr_t base = reinterpret_cast<uintptr_t>(dummyPage()) - start;
    // The latest mapping of an address wins, as in the page table.
    for (auto it = m_directList.rbegin(); it != m_directList.rend(); ++it) {
        const DirectMapping& m = *it;
        if (pc >= m.start && pc <= m.end) {
            start = m.start;
            end = m.end;
            base = reinterpret_cast<uintptr_t>(m.host) - m.start;
            break;
        }
    }
    if (end - pc >= kMaxInstructionBytes - 1) {
        m_fetchBase = base;
        m_windowStart = start;
        m_windowSafe = end - (kMaxInstructionBytes - 1) - start;
        return;
    }
    for (u32 i = 0; i < sizeof(m_stage); ++i) {
        const u32 a = (pc + i) & kAddressMask;
        u8 byte = dummyPage()[a & 0xFFFF];
        for (auto it = m_directList.rbegin(); it != m_directList.rend(); ++it) {
            const DirectMapping& m = *it;
            if (a >= m.start && a <= m.end) {
                byte = static_cast<const u8*>(m.host)[a - m.start];
                break;
            }
        }
        m_stage[i] = byte;
    }
    m_fetchBase = reinterpret_cast<uintptr_t>(m_stage) - pc;
    // A window that never matches: the copy serves this one dispatch.
    m_windowStart = pc + 1;
    m_windowSafe = 0;
}

u16 M68K::packSR() const
{
    return static_cast<u16>(m_t << 15 | m_s << 13 | m_ipm << 8 | ((m_x >> 4) & 0x10) | ((m_n >> 4) & 8) |
                            (m_notZ ? 0 : 4) | ((m_v >> 6) & 2) | ((m_c >> 8) & 1));
}

void M68K::unpackCCR(u8 value)
{
    m_x = (value & 0x10u) << 4;
    m_n = (value & 8u) << 4;
    m_notZ = ~value & 4u;
    m_v = (value & 2u) << 6;
    m_c = (value & 1u) << 8;
}

void M68K::setSR(u16 value)
{
    m_t = (value >> 15) & 1;
    m_sp[m_s] = m_r[15];
    m_s = (value >> 13) & 1;
    m_r[15] = m_sp[m_s];
    m_ipm = (value >> 8) & 7;
    unpackCCR(static_cast<u8>(value));
}

void M68K::unpackSR(u16 value)
{
    setSR(value);
    onStatusChanged();
}

void M68K::onStatusChanged()
{
    if (hasPendingInterrupt() && static_cast<u32>(topInterrupt().level) > m_ipm)
        limitBudget(0);
}

void M68K::raiseInterrupt(u32 level)
{
    requestInterrupt(static_cast<int>(kAutovectorBase + level), static_cast<int>(level));
    onStatusChanged();
}

bool M68K::acceptInterrupt(int, int level)
{
    return static_cast<u32>(level) > m_ipm;
}

bool M68K::condition(u32 code) const
{
    switch (code & 15) {
    case 0: return true;
    case 1: return false;
    case 2: return !flagC() && !flagZ();
    case 3: return flagC() || flagZ();
    case 4: return !flagC();
    case 5: return flagC();
    case 6: return !flagZ();
    case 7: return flagZ();
    case 8: return !flagV();
    case 9: return flagV();
    case 10: return !flagN();
    case 11: return flagN();
    case 12: return flagN() == flagV();
    case 13: return flagN() != flagV();
    case 14: return !flagZ() && flagN() == flagV();
    default: return flagZ() || flagN() != flagV();
    }
}

void M68K::enterException(u32 vector, int level)
{
    const u16 sr = packSR();
    m_sp[m_s] = m_r[15];
    m_t = 0;
    m_s = 1;
    m_r[15] = m_sp[1];
    m_r[15] -= 4;
    writeLong(m_r[15], m_fetchPc & kAddressMask);
    m_r[15] -= 2;
    writeWord(m_r[15], sr);
    u32 target;
    if (level >= 0) {
        m_ipm = static_cast<u32>(level);
        target = readLong(vector * 4);
        if (target == 0)
            target = readLong(kUninitialisedVector * 4);
    } else {
        target = readLong(vector * 4);
    }
    jump(target);
}

void M68K::checkInterrupts()
{
    if (!hasPendingInterrupt())
        return;
    const PendingInterrupt request = topInterrupt();
    if (!acceptInterrupt(request.vector, request.level))
        return;
    popInterrupt();
    enterException(static_cast<u32>(request.vector), request.level);
    m_clocksLeft -= kInterruptClocks;
}

u32 M68K::execute(u32)
{
    jump(m_pc);
    checkInterrupts();
    const M68kHandler* handlers = m_handlers;
    while (m_clocksLeft > 0) {
        if (m_fetchPc - m_windowStart > m_windowSafe)
            formWindow();
        const u16 opcode = loadBe16(reinterpret_cast<const u8*>(m_fetchBase + m_fetchPc));
        m_pc = m_fetchPc;
        m_fetchPc += 2;
        handlers[opcode](*this, opcode);
    }
    m_pc = m_fetchPc & kAddressMask;
    return static_cast<u32>(m_budget - m_clocksLeft);
}

void M68K::illegalInstruction(M68K& c, u16 opcode)
{
    c.logWarning(1, "Illegal instruction, [PC: %08X, OP: %04X]", c.m_fetchPc, opcode);
    c.enterException(4);
    c.charge(kExceptionClocks);
}

void M68K::incompatible(M68K& c, u16 opcode)
{
    c.logWarning(1, "Incompatibility error (%s), [PC: %08X, OP: %04X]", "RESET", c.m_fetchPc, opcode);
    c.switchOff();
    c.scheduleIn(kResumeDelayNs, onResumeEvent, &c, 1, Scheduler::kOneShot, 0);
    c.m_clocksLeft = 0;
}

void M68K::onResumeEvent(void* owner, u32)
{
    static_cast<M68K*>(owner)->switchOn();
}

const u8* M68K::roxCounts(int size)
{
    struct Tables {
        u8 t[3][64];
        Tables()
        {
            for (int i = 0; i < 64; ++i) {
                t[0][i] = static_cast<u8>(i % 9);
                t[1][i] = static_cast<u8>(i % 17);
                t[2][i] = static_cast<u8>(i % 33);
            }
        }
    };
    static const Tables tables;
    return tables.t[size == 1 ? 0 : size == 2 ? 1 : 2];
}
