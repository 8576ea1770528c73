#pragma once

#include "core/base/device.h"

class SCU;
class ScuDmac;

// The SCU's fixed-point signal processor: 256 words of program, four banks
// of 64 data words, one instruction per DSP clock. The main processor
// loads and starts it through the register window.
class ScuDsp : public Device {
public:
    static constexpr u32 kProgramWords = 256;
    static constexpr u32 kBankWords = 64;
    // A DMA count taken from data RAM is bounded by the largest memory a
    // transfer can cover (work RAM-H, in long words).
    static constexpr u32 kDmaWordLimit = 0x40000;

    ScuDsp(SCU* scu, ScuDmac* dmac);

    void reset() override;
    u32 execute(u32 clocks) override;

    // The ports of the register window.
    u32 readStatus();
    void writeControlPort(u32 value);
    void writeProgram(u32 value);
    void writeDataAddress(u32 value);
    void writeData(u32 value);
    u32 readData();

    void step();
    void signalEnd();

    // Introspection for the debugger and the tests.
    u8 pc() const { return m_pc; }
    bool executing() const { return m_ex; }
    bool paused() const { return m_paused; }
    u32 program(u32 index) const { return m_program[index & 0xFF]; }
    u32 data(u32 bank, u32 index) const { return m_data[bank & 3][index & 63]; }
    u8 counter(u32 bank) const { return m_ct[bank & 3]; }
    u32 lop() const { return m_lop; }

private:
    void setRun(u8 ex, u8 paused);

    enum Class : u8 { kOperation, kIllegal, kMvi, kDma, kJump, kBtm, kLps, kEnd, kEndi };

    // Runs the instruction at PC; true when it left the execute loop.
    bool runInstruction();
    void operation(u32 op);
    void alu(u32 op);
    void moveImmediate(u32 op);
    void jump(u32 op);
    void loopBottom(u32 op);
    void loopStart(u32 op);
    void end(u32 op, bool interrupt);
    void dma(u32 op);
    bool condition(u32 field);
    void takeJump(u8 target);
    void warnDelaySlot(const char* what, u32 op);

    u32& ramAt(u32 bank) { return m_data[bank & 3][m_ct[bank & 3]]; }
    void storeData(u32 bank, u32 value);
    void setSZ(u32 value);

    static void onSignalEnd(void* owner, u32 argument);

    SCU* m_scu;
    ScuDmac* m_dmac;

    u32 m_program[kProgramWords] = {};
    u32 m_data[4][kBankWords] = {};
    u8 m_ct[4] = {};

    u32 m_acl = 0, m_ach = 0;
    u32 m_pl = 0, m_ph = 0;
    u32 m_alu = 0, m_aluh = 0;
    u32 m_rx = 0, m_ry = 0;
    u32 m_ra0 = 0, m_wa0 = 0;
    u32 m_lop = 0;
    u8 m_top = 0;

    u8 m_s = 0, m_z = 0, m_c = 0, m_v = 0, m_e = 0, m_t0 = 0;
    // Changed only through setRun: the DSP is idle exactly while stopped or paused.
    u8 m_ex = 0, m_paused = 0, m_es = 0;

    u8 m_portBank = 0;
    u8 m_portAddress = 0;

    u8 m_pc = 0;
    u8 m_next = 0;
    u8 m_delaySlot = 0;
    // Set by a taken jump or loop whose delay slot runs without a clock.
    u8 m_jumped = 0;
    u8 m_stop = 0;

    static const Class kClasses[32];
};
