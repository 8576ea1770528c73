#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/base/cpu.h"

class SH2;

namespace sh2 {

// Instruction indexes: the order of the decode patterns and of the
// disassembler's formats.
enum Insn : u8 {
    kAdd = 0, kAddImm, kAddc, kAddv, kAnd, kAndImm, kAndB, kBf, kBfs, kBra, kBraf, kBsr, kBsrf, kBt, kBts,
    kClrmac, kClrt, kCmpEq, kCmpGe, kCmpGt, kCmpHi, kCmpHs, kCmpPl, kCmpPz, kCmpStr, kCmpEqImm, kDiv0s,
    kDiv0u, kDiv1, kDmulsL, kDmuluL, kDt, kExtsB, kExtsW, kExtuB, kExtuW, kJmp, kJsr, kLdcSr, kLdcGbr,
    kLdcVbr, kLdcLSr, kLdcLGbr, kLdcLVbr, kLdsMach, kLdsMacl, kLdsPr, kLdsLMach, kLdsLMacl, kLdsLPr, kMacL,
    kMacW, kMov, kMovBStore, kMovWStore, kMovLStore, kMovBLoad, kMovWLoad, kMovLLoad, kMovBPush, kMovWPush,
    kMovLPush, kMovBPop, kMovWPop, kMovLPop, kMovBStoreR0, kMovWStoreR0, kMovLStoreR0, kMovBLoadR0,
    kMovWLoadR0, kMovLLoadR0, kMovImm, kMovWPc, kMovLPc, kMovBLoadGbr, kMovWLoadGbr, kMovLLoadGbr,
    kMovBStoreGbr, kMovWStoreGbr, kMovLStoreGbr, kMovBStoreDisp, kMovWStoreDisp, kMovLStoreDisp,
    kMovBLoadDisp, kMovWLoadDisp, kMovLLoadDisp, kMova, kMovt, kMulL, kMulsW, kMuluW, kNeg, kNegc, kNop,
    kNot, kOr, kOrImm, kOrB, kRotcl, kRotcr, kRotl, kRotr, kRte, kRts, kSett, kShal, kShar, kShll, kShll2,
    kShll8, kShll16, kShlr, kShlr2, kShlr8, kShlr16, kSleep, kStcSr, kStcGbr, kStcVbr, kStcLSr, kStcLGbr,
    kStcLVbr, kStsMach, kStsMacl, kStsPr, kStsLMach, kStsLMacl, kStsLPr, kSub, kSubc, kSubv, kSwapB, kSwapW,
    kTasB, kTrapa, kTst, kTstImm, kTstB, kXor, kXorImm, kXorB, kXtrct,
    kInsnCount,
    kUndefined = 0xFE,
    kHookTrap = 0xFF,
};

struct Pattern {
    u16 base;
    u32 shift;
    u32 width;
};

extern const Pattern kPatterns[kInsnCount];

// The decode table's index of an opcode: its bytes swapped, as a native
// little-endian load of big-endian guest memory yields it.
inline u16 tableIndex(u16 opcode) { return static_cast<u16>(opcode << 8 | opcode >> 8); }

}  // namespace sh2

// Holds the processor's page tables so that they exist before the CPU base
// installs its default handlers in them.
struct SH2PageTables {
    std::unique_ptr<PageMap> tables = std::make_unique<PageMap>();
};

// One of the Hitachi SH-2 processors: interpreter, exceptions, the on-chip
// modules and the processor's own address areas.
class SH2 : private SH2PageTables, public CPU {
public:
    enum CpuState : u32 { kCpuStopped = 0, kCpuRunning = 1, kCpuSleep = 2, kCpuStandby = 3 };

    // Area ids of getAccessHandlers.
    enum Area : int {
        kCs0Cache = 0, kCs1Cache, kCs2Cache, kCs3Cache, kReserved0, kCs0Through, kCs1Through, kCs2Through,
        kCs3Through, kReserved1, kPurge, kReserved2, kCacheAddress, kReserved3, kCacheData, kReserved4,
        kUndefinedArea, kReserved5, kSdmuArea, kReserved6, kOnChip, kAreaCount
    };

    static constexpr u32 kNmiVector = 11;
    static constexpr u32 kNmiLevel = 16;

    // The on-chip modules. Their registers are plain fields so that the
    // register window and the tests read them directly.
    class Unit : public Object {
    public:
        Unit(std::string name, SH2* cpu) : Object(std::move(name)), m_cpu(cpu) {}

    protected:
        SH2* m_cpu;
    };

    class INTC : public Unit {
    public:
        using Unit::Unit;
        void reset() { iprb = vcra = vcrb = vcrc = vcrd = ipra = vcrwdt = icr = 0; }
        void standby() { const u16 keep = icr; reset(); icr = keep; }
        u16 iprb = 0, vcra = 0, vcrb = 0, vcrc = 0, vcrd = 0, ipra = 0, vcrwdt = 0, icr = 0;
    };

    class UBC : public Unit {
    public:
        using Unit::Unit;
    };

    class BSC : public Unit {
    public:
        using Unit::Unit;
        void reset();
        u16 bcr1 = 0, bcr2 = 0, wcr = 0, mcr = 0, rtcsr = 0, rtcnt = 0, rtcor = 0;
    };

    class Cache : public Unit {
    public:
        static constexpr int kWays = 4;
        static constexpr int kEntries = 64;
        static constexpr int kLineBytes = 16;
        using Unit::Unit;
        void reset() { ccr = 0; way = 0; }
        void writeCcr(u8 value);
        u32 readAddress(u32 a) const;
        void writeAddress(u32 a, u32 d);
        void purge(u32 a);
        u8* line(u32 a) { return data[(a >> 10) & 3][(a >> 4) & 63]; }
        u8 ccr = 0;
        u8 way = 0;
        u32 tag[kWays][kEntries] = {};
        u8 valid[kWays][kEntries] = {};
        u8 data[kWays][kEntries][kLineBytes] = {};
        u8 lru[kEntries] = {};
    };

    class DMAC : public Unit {
    public:
        using Unit::Unit;
        void reset();
        void writeChcr(int n, u32 value);
        void writeDmaor(u32 value);
        void start(int n);
        void transfer(int n);
        u32 sar[2] = {}, dar[2] = {}, tcr[2] = {}, chcr[2] = {}, vcrdma[2] = {};
        u8 drcr[2] = {};
        u32 dmaor = 0;
        u8 roundRobin = 0;
    };

    class DIVU : public Unit {
    public:
        using Unit::Unit;
        void reset() { dvcr = 0; }
        void divide32(u32 dividend);
        void divide64(u32 low);
        u32 dvsr = 0, dvdnth = 0, dvdntl = 0, dvcr = 0, vcrdiv = 0;

    private:
        void overflow();
    };

    class FRT : public Unit {
    public:
        using Unit::Unit;
        void reset();
        void step(u32 clocks);
        u8 read(u32 offset);
        void write(u32 offset, u8 value);
        void inputCapture();
        u8 tier = 0x01, ftcsr = 0, tcr = 0, tocr = 0xE0;
        u16 frc = 0, ocra = 0xFFFF, ocrb = 0xFFFF, ficr = 0;
        u8 temp = 0;
        u32 divisor = 8;
        u32 shift = 3;  // log2 of divisor
        u32 remainder = 0;
    };

    class WDT : public Unit {
    public:
        using Unit::Unit;
        void reset();
        void standby() { const u8 keep = wtcnt; reset(); wtcnt = keep; }
        void step(u32 clocks);
        u8 read(u32 offset);
        void writeWord(u32 offset, u16 value);
        u8 wtcnt = 0, wtcsr = 0x18, rstcsr = 0x1F;
        u32 shift = 1;
        u32 remainder = 0;
        bool csrRead = false, rstRead = false;
    };

    class SCI : public Unit {
    public:
        using Unit::Unit;
        void reset();
        u8 read(u32 offset);
        void write(u32 offset, u8 value);
        void transmit();
        u8 smr = 0, brr = 0xFF, scr = 0, tdr = 0xFF, ssr = 0x84, rdr = 0;
        u8 shiftByte = 0;
        u32 divisor = 4;
    };

    class PMU : public Unit {
    public:
        using Unit::Unit;
        void reset() { sbycr = 0; }
        u8 sbycr = 0;
    };

    class SDMU : public Unit {
    public:
        using Unit::Unit;
        void reset() { mode = 0; casLatency = 0; burstLength = 4; }
        void writeMode(u32 address, u16 data);
        u16 mode = 0;
        u32 casLatency = 0;
        u32 burstLength = 4;
    };

    SH2();
    ~SH2() override;

    void setSlave(bool slave);
    bool isSlave() const { return (bsc.bcr1 & 0x8000) != 0; }

    // Device
    void powerOn() override;
    void powerOff() override;
    void reset() override;
    u32 execute(u32 clocks) override;
    AccessHandlers getAccessHandlers(int id) override;

    // CPU: the debugger's view
    u8 getFlag(int number) override;
    void setFlag(int number, u8 value) override;
    u32 getRegister(int number) override;
    void setRegister(int number, u32 value) override;
    u32 getStatus() override { return m_sr; }
    void setStatus(u32 value) override;
    u32 getPC() override { return m_pc; }
    void setPC(u32 pc) override { m_pc = pc; }
    bool isBranchTaken(u32 address) override;
    std::string disassemble(u32 address) override;
    const u8* getOpcodeBytes(u32 address, u32& length) override;
    int getInstructionType(u32 address) override;
    u32 getBranchTarget(u32 address) override { return getNextAddress(address); }
    bool hasDelaySlot(u32 address) override;
    u32 getNextAddress(u32 address);

    void mapDirect(const std::vector<DirectMapping>& list) override;
    void mapWindows(const std::vector<MemoryMapWindow>& list) override;
    bool acceptInterrupt(int vector, int level) override;

    void doReset(bool manual);
    void requestInterrupt(u8 vector, u8 level);
    void requestNmi();
    void checkPendingLevel();
    void push(u32 value);
    u32 pop();
    void leaveStandby();

    // The instruction index of an opcode (sh2::Insn, kUndefined or kHookTrap).
    u8 decode(u16 opcode) const { return m_table[sh2::tableIndex(opcode)]; }

    // Registers.
    u32 r(int n) const { return m_r[n & 15]; }
    void setR(int n, u32 value) { m_r[n & 15] = value; }
    u32 gbr() const { return m_gbr; }
    u32 vbr() const { return m_vbr; }
    u32 pr() const { return m_pr; }
    u32 mach() const { return m_mach; }
    u32 macl() const { return m_macl; }
    void setGbr(u32 v) { m_gbr = v; }
    void setVbr(u32 v) { m_vbr = v; }
    void setPr(u32 v) { m_pr = v; }
    void setMach(u32 v) { m_mach = v; }
    void setMacl(u32 v) { m_macl = v; }
    u32 packSR() const { return m_fm << 9 | m_fq << 8 | m_fi << 4 | m_fs << 1 | m_ft; }
    void unpackSR(u32 value);
    u32 cpuState() const { return m_state; }

    // Bus accesses through the processor's own page map.
    u8 readByte(u32 a) { return m_map->readByte(this, a); }
    u16 readWord(u32 a) { return m_map->readWord(this, a); }
    u32 readLong(u32 a) { return m_map->readLong(this, a); }
    void writeByte(u32 a, u8 d) { m_map->writeByte(this, a, d); }
    void writeWord(u32 a, u16 d) { m_map->writeWord(this, a, d); }
    void writeLong(u32 a, u32 d) { m_map->writeLong(this, a, d); }

    // FRT input capture, scheduled by the machine when the peer processor
    // writes its MINIT or SINIT register.
    static void onInputCapture(void* owner, u32 argument);

    // The on-chip register window.
    static u8 readOnChip8(void* owner, CPU* cpu, u32 a);
    static u16 readOnChip16(void* owner, CPU* cpu, u32 a);
    static u32 readOnChip32(void* owner, CPU* cpu, u32 a);
    static void writeOnChip8(void* owner, CPU* cpu, u32 a, u8 d);
    static void writeOnChip16(void* owner, CPU* cpu, u32 a, u16 d);
    static void writeOnChip32(void* owner, CPU* cpu, u32 a, u32 d);

    INTC intc{"SH2.INTC", this};
    UBC ubc{"SH2.UBC", this};
    BSC bsc{"SH2.BSC", this};
    Cache cache{"SH2.CACHE", this};
    DMAC dmac{"SH2.DMAC", this};
    DIVU divu{"SH2.DIVU", this};
    FRT frt{"SH2.FRT", this};
    WDT wdt{"SH2.WDT", this};
    SCI sci{"SH2.SCI", this};
    PMU pmu{"SH2.PMU", this};
    SDMU sdmu{"SH2.SDMU", this};

private:
    void buildOpcodeTable();
    void fillOpcodePattern(u16 base, u32 shift, u32 width, u8 index);
    void checkInterrupts();
    void enterException(u32 vector, u32 level);
    void addressError();
    void illegalInstruction(u16 opcode, bool slot);
    void interpret(bool breakpoints);
    void sleep();
    void writeSR(u32 value);
    void div1(u32 m, u32 n);
    void macL(u32 m, u32 n);
    void macW(u32 m, u32 n);
    s32 skipWaiting(u32 branch, u32 target, s32 clocks);
    s32 waitLoopCost(u32 target, u32 branch) const;
    // The debugger's reads go through the fetch table: they see memory as
    // the fetch does and never reach a device whose reads have side effects.
    u16 readOpcode(u32 address) const { return peekWord(address); }
    u16 peekWord(u32 address) const
    {
        return loadBe16(reinterpret_cast<const u8*>(directBase(address) + (address & ~1u)));
    }
    u32 peekLong(u32 address) const
    {
        return loadBe32(reinterpret_cast<const u8*>(directBase(address) + (address & ~3u)));
    }

    u32 m_r[16] = {};
    u32 m_gbr = 0, m_vbr = 0, m_pr = 0;
    u32 m_sr = 0;
    u32 m_fm = 0, m_fq = 0, m_fi = 0, m_fs = 0, m_ft = 0;
    u32 m_macl = 0, m_mach = 0;
    u32 m_state = kCpuStopped;
    u8 m_table[65536];

    // The waiting loop the interpreter watches in the present slice (a
    // backward BT or BF over loads and tests): the state the last time its
    // branch was taken. Handler calls are counted, as a handler may answer
    // differently each time; reads of the processor's own registers count
    // only where they log or hand over to another area, since the units
    // change only between slices.
    struct WaitLoop {
        u32 branch = ~0u;
        u32 rejected = ~0u;
        u32 callee = ~0u;
        s32 cost = 0;
        s32 clocks = 0;
        u32 calls = 0;
        u32 t = 0;
        u32 values[16] = {};
    };
    WaitLoop m_wait;
    u32 m_handlerCalls = 0;
    u32 m_callee = 0;  // target of the last JSR, BSR or BSRF
};
