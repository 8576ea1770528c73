#include "core/base/cpu.h"

#include <algorithm>

#include "core/base/shared_state.h"

namespace {

const Object& ownerOf(void* owner) { return *static_cast<Object*>(owner); }

u8 badReadByte(void* owner, CPU*, u32 a)
{
    ownerOf(owner).logWarning(1, "Bad RB [A: %08X]", a);
    return 0;
}

u16 badReadWord(void* owner, CPU*, u32 a)
{
    ownerOf(owner).logWarning(1, "Bad RW [A: %08X]", a);
    return 0;
}

u32 badReadLong(void* owner, CPU*, u32 a)
{
    ownerOf(owner).logWarning(1, "Bad RL [A: %08X]", a);
    return 0;
}

void badWriteByte(void* owner, CPU*, u32 a, u8 d)
{
    ownerOf(owner).logWarning(1, "Bad WB [A: %08X, D: %02X]", a, d);
}

void badWriteWord(void* owner, CPU*, u32 a, u16 d)
{
    ownerOf(owner).logWarning(1, "Bad WW [A: %08X, D: %04X]", a, d);
}

void badWriteLong(void* owner, CPU*, u32 a, u32 d)
{
    ownerOf(owner).logWarning(1, "Bad WL [A: %08X, D: %08X]", a, d);
}

}  // namespace

AccessHandlers unmappedHandlers(Object* owner)
{
    return {owner, badReadByte, badWriteByte, badReadWord, badWriteWord, badReadLong, badWriteLong};
}

CPU::CPU(std::string name, PageMap* map)
    : Device(std::move(name)),
      m_map(map),
      m_dummy(std::make_unique<u8[]>(kDummyPageSize)),
      m_direct(std::make_unique<uintptr_t[]>(PageMap::kPages))
{
    m_interrupts.reserve(64);
    unmapRange(0, 0xFFFFFFFF);
    const uintptr_t dummy = reinterpret_cast<uintptr_t>(m_dummy.get());
    for (u32 page = 0; page < PageMap::kPages; ++page)
        m_direct[page] = dummy - (uintptr_t{page} << PageMap::kPageShift);
}

CPU::CPU(std::string name, std::unique_ptr<PageMap> map) : CPU(std::move(name), map.get())
{
    m_ownedMap = std::move(map);
}

void CPU::unmapRange(u32 first, u32 last)
{
    if (!m_map)
        return;
    m_map->mapRange(first, last, unmappedHandlers(this));
}

void CPU::mapDirect(const std::vector<DirectMapping>& list)
{
    for (const DirectMapping& m : list) {
        // Integer arithmetic: host - start need not point into any object.
        const uintptr_t base = reinterpret_cast<uintptr_t>(m.host) - m.start;
        for (u32 page = m.start >> PageMap::kPageShift; page <= (m.end >> PageMap::kPageShift); ++page) {
            m_direct[page] = base;
            if (page == PageMap::kPages - 1)
                break;
        }
    }
}

void CPU::mapWindows(const std::vector<MemoryMapWindow>& list)
{
    if (!m_map)
        return;
    for (const MemoryMapWindow& w : list)
        m_map->mapRange(w.start, w.end, w.handlers);
}

bool CPU::requestInterrupt(int vector, int level)
{
    for (const PendingInterrupt& p : m_interrupts) {
        if (p.vector == vector)
            return false;
    }
    auto at = std::find_if(m_interrupts.begin(), m_interrupts.end(),
                           [level](const PendingInterrupt& p) { return p.level < level; });
    m_interrupts.insert(at, PendingInterrupt{vector, level});
    return true;
}

void CPU::updateDebugSwitch()
{
    m_debug = !m_breakpoints.empty() || m_stepPending || m_stepOut;
}

void CPU::setBreakpoint(u32 pc, s32 hitCount, std::string condition)
{
    m_breakpoints[pc] = Breakpoint{std::move(condition), hitCount, true};
    updateDebugSwitch();
}

void CPU::removeBreakpoint(u32 pc)
{
    m_breakpoints.erase(pc);
    updateDebugSwitch();
}

Breakpoint* CPU::findBreakpoint(u32 pc)
{
    auto it = m_breakpoints.find(pc);
    return it == m_breakpoints.end() ? nullptr : &it->second;
}

void CPU::stepInto()
{
    const u32 pc = getPC();
    const int kind = getInstructionType(pc);
    if (kind == kOther)
        m_stepTarget = pc + 2;
    else if (kind >= kJump && kind <= kReturnFromException)
        m_stepTarget = isBranchTaken(pc) ? getBranchTarget(pc) : pc + 2;
    else
        m_stepTarget = pc;
    m_stepPending = true;
    updateDebugSwitch();
}

void CPU::stepOver()
{
    const u32 pc = getPC();
    if (getInstructionType(pc) == kCall) {
        m_stepTarget = pc + 2 + (hasDelaySlot(pc) ? 2 : 0);
        m_stepPending = true;
        updateDebugSwitch();
        return;
    }
    stepInto();
}

void CPU::stepOut()
{
    m_stepOutDepth = 0;
    m_stepOut = true;
    updateDebugSwitch();
}

bool CPU::isBreakpoint(u32 pc)
{
    if (m_stepOut) {
        const int kind = getInstructionType(pc);
        if (kind == kCall) {
            ++m_stepOutDepth;
        } else if (kind == kReturn) {
            if (m_stepOutDepth > 0) {
                --m_stepOutDepth;
            } else {
                m_stepTarget = getBranchTarget(pc);
                m_stepPending = true;
                m_stepOut = false;
            }
        }
    }
    if (m_stepPending && pc == m_stepTarget) {
        m_stepPending = false;
        updateDebugSwitch();
        return true;
    }
    auto it = m_breakpoints.find(pc);
    if (it == m_breakpoints.end() || !it->second.enabled)
        return false;
    if (--it->second.hitCount > 0)
        return false;
    // Resuming at a breakpoint must not stop again before one clock has run.
    return m_budget != m_clocksLeft;
}

bool CPU::checkBreakpoint(u32 pc)
{
    if (!isBreakpoint(pc))
        return false;
    debugBreak = 1;
    return true;
}
