#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/device.h"

struct Breakpoint {
    std::string condition;  // kept for the debugger; not evaluated
    s32 hitCount = 0;
    bool enabled = true;
};

struct DirectMapping {
    u32 start = 0;
    u32 end = 0;
    const void* host = nullptr;
};

// Handlers of an area nothing serves: each access is logged as a warning
// ("Bad RB [A: %08X]" and its kin) under the owner's name; reads answer 0.
AccessHandlers unmappedHandlers(Object* owner);

struct PendingInterrupt {
    int vector = 0;
    int level = 0;
};

// Base of the emulated processors: a program counter, a page map that
// routes every bus access through handlers, direct host pointers per 64 KB
// page for instruction fetch, pending interrupts, breakpoints and the
// debugger's steps.
class CPU : public Device {
public:
    enum InstructionType : int { kOther = 0, kJump = 1, kBranch = 2, kCall = 3, kReturn = 4, kReturnFromException = 5 };

    static constexpr u32 kDummyPageSize = 0x10000;

    // The page map must outlive the processor; a processor that owns its
    // map hands it over (it is 3.5 MB, too big for a member on the stack).
    CPU(std::string name, PageMap* map);
    CPU(std::string name, std::unique_ptr<PageMap> map);

    // Debugger view.
    virtual u8 getFlag(int) { return 0; }
    virtual void setFlag(int, u8) {}
    virtual u32 getRegister(int) { return 0; }
    virtual void setRegister(int, u32) {}
    virtual u32 getStatus() { return 0; }
    virtual void setStatus(u32) {}
    virtual u32 getPC() { return 0; }
    virtual void setPC(u32) {}
    virtual bool isBranchTaken(u32) { return true; }
    virtual void unmapRange(u32 first, u32 last);
    virtual std::string disassemble(u32) { return m_text; }
    virtual const u8* getOpcodeBytes(u32, u32& length) { length = 0; return m_opcode; }
    virtual int getInstructionType(u32) { return kOther; }
    virtual u32 getBranchTarget(u32) { return 0; }
    virtual bool hasDelaySlot(u32) { return false; }
    u16 getPC16() const { return static_cast<u16>(m_pc); }
    u32 getPC32() const { return m_pc; }

    virtual void mapDirect(const std::vector<DirectMapping>& list);
    virtual void mapWindows(const std::vector<MemoryMapWindow>& list);
    virtual bool acceptInterrupt(int, int) { return true; }

    u32 getIndex() const { return m_index; }
    PageMap* pageMap() const { return m_map; }

    // Queued by level, highest first, equal levels in arrival order; a vector
    // already pending is refused.
    bool requestInterrupt(int vector, int level);
    bool hasPendingInterrupt() const { return !m_interrupts.empty(); }
    const PendingInterrupt& topInterrupt() const { return m_interrupts.front(); }
    void popInterrupt() { m_interrupts.erase(m_interrupts.begin()); }
    void clearInterrupts() { m_interrupts.clear(); }
    const std::vector<PendingInterrupt>& pendingInterrupts() const { return m_interrupts; }

    // Breakpoints and steps. The debug switch is on exactly while one of them
    // is armed, so a processor's hot loop tests one byte otherwise.
    void setBreakpoint(u32 pc, s32 hitCount = 0, std::string condition = {});
    void removeBreakpoint(u32 pc);
    Breakpoint* findBreakpoint(u32 pc);
    const std::unordered_map<u32, Breakpoint>& breakpoints() const { return m_breakpoints; }
    void stepInto();
    void stepOver();
    void stepOut();
    // Stops the machine when this processor reaches address.
    void runTo(u32 address)
    {
        m_stepTarget = address;
        m_stepPending = true;
        updateDebugSwitch();
    }
    bool isBreakpoint(u32 pc);
    bool checkBreakpoint(u32 pc);
    bool stepPending() const { return m_stepPending; }
    u32 stepTarget() const { return m_stepTarget; }

    // Host address of a guest address through the direct table, as an
    // integer: valid only inside the mapped page.
    uintptr_t directBase(u32 address) const { return m_direct[address >> PageMap::kPageShift]; }
    const u8* dummyPage() const { return m_dummy.get(); }

protected:
    void updateDebugSwitch();

    std::unique_ptr<PageMap> m_ownedMap;
    PageMap* m_map;
    std::unordered_map<u32, Breakpoint> m_breakpoints;
    std::string m_text;
    u8 m_opcode[16] = {};
    u32 m_stepTarget = 0;
    bool m_stepPending = false;
    std::vector<PendingInterrupt> m_interrupts;
    std::unique_ptr<u8[]> m_dummy;
    u32 m_pc = 0;
    std::unique_ptr<uintptr_t[]> m_direct;
    u32 m_stepOutDepth = 0;
    bool m_stepOut = false;
};
