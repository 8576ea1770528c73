#pragma once

#include <vector>

#include "core/base/bus.h"
#include "core/base/cpu.h"

class M68K;

// One handler per opcode form; the form fixes size and addressing modes, so
// a handler only takes register numbers from the opcode.
using M68kHandler = void (*)(M68K& cpu, u16 opcode);

// A pattern row: the opcodes with (opcode & mask) == match run its handler.
struct M68kPattern {
    u16 match = 0;
    u16 mask = 0;
    M68kHandler handler = nullptr;
    const char* group = "";  // mnemonic group, for the table's own checks
};

// Holds the page map so that it exists before the CPU base installs its
// defaults into it.
struct M68kBusHolder {
    PageMap m_pageMap;
};

// The sound processor: an MC68000 interpreter with a 24-bit address bus.
class M68K : private M68kBusHolder, public CPU {
public:
    static constexpr u32 kAddressMask = 0xFFFFFF;
    static constexpr u32 kResumeDelayNs = 100000000;  // the RESET opcode's pause

    M68K();
    ~M68K() override;

    void powerOn() override { reset(); }
    void reset() override;
    u32 execute(u32 clocks) override;
    bool acceptInterrupt(int vector, int level) override;
    void mapDirect(const std::vector<DirectMapping>& list) override;

    // The sound chip's interrupt input.
    void raiseInterrupt(u32 level);
    // Ends the slice when the first pending request is above the mask.
    void onStatusChanged();
    void addResetDevice(Device* device) { m_resetDevices.push_back(device); }

    // The shared opcode table, built once.
    static const std::vector<M68kPattern>& patterns();
    static const M68kHandler* handlerTable();
    // Pattern row chosen for each opcode; 0xFFFF where no row matches.
    static const u16* rowTable();

    // Bus, 24-bit: the top byte of every address is dropped.
    u8 readByte(u32 a) { a &= kAddressMask; const auto& p = m_pageMap.page(a); return p.readByte(p.owner, this, a); }
    u16 readWord(u32 a) { a &= kAddressMask; const auto& p = m_pageMap.page(a); return p.readWord(p.owner, this, a); }
    u32 readLong(u32 a) { a &= kAddressMask; const auto& p = m_pageMap.page(a); return p.readLong(p.owner, this, a); }
    void writeByte(u32 a, u8 d) { a &= kAddressMask; const auto& p = m_pageMap.page(a); p.writeByte(p.owner, this, a, d); }
    void writeWord(u32 a, u16 d) { a &= kAddressMask; const auto& p = m_pageMap.page(a); p.writeWord(p.owner, this, a, d); }
    void writeLong(u32 a, u32 d) { a &= kAddressMask; const auto& p = m_pageMap.page(a); p.writeLong(p.owner, this, a, d); }

    // Instruction stream. The execute loop guarantees that the longest
    // instruction (ten bytes) lies inside the fetch window before dispatch.
    u16 fetchWord()
    {
        const u16 w = loadBe16(reinterpret_cast<const u8*>(m_fetchBase + m_fetchPc));
        m_fetchPc += 2;
        return w;
    }
    u32 fetchLong()
    {
        const u32 hi = fetchWord();
        return hi << 16 | fetchWord();
    }
    // Address of the next instruction word.
    u32 fetchPc() const { return m_fetchPc; }
    // Relative branches move the fetch address only; the loop re-forms the
    // window when it has left the block.
    void branchTo(u32 address) { m_fetchPc = address; }
    void jump(u32 address);

    u16 packSR() const;
    void unpackSR(u16 value);
    void unpackCCR(u8 value);
    void enterException(u32 vector, int level = -1);
    void charge(s32 clocks) { m_clocksLeft -= clocks; }
    // What is left of the slice in whole turns of a loop that changes
    // nothing: the count ends where running the turns leaves it. Off, the
    // turns are run one by one.
    void idleTurns(s32 clocks)
    {
        if (m_clocksLeft > 0 && m_skipIdleLoops) {
            m_clocksLeft -= (m_clocksLeft + clocks - 1) / clocks * clocks;
            ++m_idleSkips;
        }
    }
    void setSkipIdleLoops(bool on) { m_skipIdleLoops = on; }
    u64 idleSkips() const { return m_idleSkips; }

    // Flag accessors: 0 or 1.
    u32 flagC() const { return (m_c >> 8) & 1; }
    u32 flagX() const { return (m_x >> 8) & 1; }
    u32 flagV() const { return (m_v >> 7) & 1; }
    u32 flagN() const { return (m_n >> 7) & 1; }
    u32 flagZ() const { return m_notZ == 0; }
    bool condition(u32 code) const;

    // Test and machine access to the register file.
    u32 d(int n) const { return m_r[n & 7]; }
    u32 a(int n) const { return m_r[8 + (n & 7)]; }
    void setD(int n, u32 v) { m_r[n & 7] = v; }
    void setA(int n, u32 v) { m_r[8 + (n & 7)] = v; }
    u32 usp() const { return m_s ? m_sp[0] : m_r[15]; }
    u32 ssp() const { return m_s ? m_r[15] : m_sp[1]; }
    void setUsp(u32 v) { if (m_s) m_sp[0] = v; else m_r[15] = v; }
    void setSsp(u32 v) { if (m_s) m_r[15] = v; else m_sp[1] = v; }
    u32 pc() const { return m_pc; }
    void setPc(u32 v) { m_pc = v; }
    u16 sr() const { return packSR(); }
    // Loads SR without the status check, for tests and state set-up.
    void setSR(u16 v);

    // Register file. Public for the handler families; D0-D7 then A0-A7 so a
    // register number 0-15 indexes it directly.
    u32 m_r[16] = {};
    u32 m_sp[2] = {};  // USP, SSP; the active one is stale, A7 is live
    u32 m_t = 0, m_s = 0, m_ipm = 0;
    // Condition words: C and X at bit 8, V and N at bit 7, Z set when notZ is 0.
    u32 m_c = 0, m_x = 0, m_v = 0, m_n = 0, m_notZ = 1;

    // Shared handlers the table builder needs by name.
    static void illegalInstruction(M68K& cpu, u16 opcode);
    static void incompatible(M68K& cpu, u16 opcode);

    // Rotation amounts of ROXL/ROXR register counts: i mod 9, 17, 33.
    static const u8* roxCounts(int size);

private:
    static void badWrite8(void* owner, CPU* cpu, u32 address, u8 data);
    static void badWrite16(void* owner, CPU* cpu, u32 address, u16 data);
    static void badWrite32(void* owner, CPU* cpu, u32 address, u32 data);
    static void onResumeEvent(void* owner, u32 argument);

    void checkInterrupts();
    void formWindow();

    const M68kHandler* m_handlers;
    // Kept for the RESET opcode, which leaves these devices alone.
    std::vector<Device*> m_resetDevices;
    std::vector<DirectMapping> m_directList;

    // Fetch state: host address = m_fetchBase + address. Dispatch is direct
    // while m_fetchPc - m_windowStart <= m_windowSafe.
    u32 m_fetchPc = 0;
    bool m_skipIdleLoops = true;  // in the padding, so the fetch state keeps its place
    uintptr_t m_fetchBase = 0;
    u32 m_windowStart = 1;
    u32 m_windowSafe = 0;
    // An instruction that straddles the end of a block runs from a copy.
    u8 m_stage[16] = {};
    u64 m_idleSkips = 0;
};

// Row registration, one function per family file.
void addMoveRows(std::vector<M68kPattern>& rows);
void addArithRows(std::vector<M68kPattern>& rows);
void addMulDivRows(std::vector<M68kPattern>& rows);
void addLogicRows(std::vector<M68kPattern>& rows);
void addBitRows(std::vector<M68kPattern>& rows);
void addShiftRows(std::vector<M68kPattern>& rows);
void addSystemRows(std::vector<M68kPattern>& rows);
