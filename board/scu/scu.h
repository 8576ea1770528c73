#pragma once

#include <string>
#include <vector>

#include "board/scu/scu_dmac.h"
#include "board/scu/scu_dsp.h"
#include "core/base/device.h"

class SH2;

// The system control unit: interrupt controller, DMA controller, DSP, the
// register window at 0x05FE0000 and the two timers driven by line events.
class SCU : public Device {
public:
    // Routes every main-side interrupt: IST records each request, a masked
    // one waits here until its mask opens, an unmasked one reaches the
    // master SH-2 10000 ns into the slice in which it was raised.
    class INTC : public Device {
    public:
        static constexpr u32 kDeliveryDelayNs = 10000;

        explicit INTC(SCU* scu);
        void reset() override;

        void request(u32 vector, u32 level);
        void onMaskWrite(u32 value);
        // Retries deliveries that found the event pool full.
        void flush();

        struct Pending {
            u32 vector;
            u32 level;
        };
        const std::vector<Pending>& held() const { return m_held; }

    private:
        static void onDeliverInterrupt(void* owner, u32 argument);
        void deliverLater(u32 vector, u32 level);

        SCU* m_scu;
        std::vector<Pending> m_held;      // masked requests, one per vector
        std::vector<Pending> m_outgoing;  // due at the delivery event
        EventHandle m_delivery;
    };

    using DMAC = ScuDmac;
    using DSP = ScuDsp;

    enum Register : u32 {
        kD0R = 0x00, kD0W = 0x04, kD0C = 0x08, kD0AD = 0x0C, kD0EN = 0x10, kD0MD = 0x14,
        kDSTP = 0x60, kDSR = 0x70, kDSW = 0x74, kDSC = 0x78, kDSTA = 0x7C,
        kPPAF = 0x80, kPPD = 0x84, kPDA = 0x88, kPDD = 0x8C,
        kT0C = 0x90, kT1S = 0x94, kT1MD = 0x98, kIMS = 0xA0, kIST = 0xA4, kAIACK = 0xA8,
        kASR0 = 0xB0, kASR1 = 0xB4, kAREF = 0xB8, kRSEL = 0xC4, kVER = 0xC8,
    };

    SCU(Device* machine, SH2* master);

    void powerOn() override;
    void reset() override;
    void setClock(u32 period);

    // The central request and its one-line raisers.
    void requestInterrupt(u32 vector, u32 level);
    void irqVBlankIn() { requestInterrupt(0x40, 15); }
    void irqVBlankOut() { requestInterrupt(0x41, 14); }
    void irqHBlankIn() { requestInterrupt(0x42, 13); }
    void irqTimer0() { requestInterrupt(0x43, 12); }
    void irqTimer1() { requestInterrupt(0x44, 11); }
    void irqDspEnd() { requestInterrupt(0x45, 10); }
    void irqSmpc() { requestInterrupt(0x47, 8); }
    void irqDmaLevel2End() { requestInterrupt(0x49, 6); }
    void irqDmaLevel1End() { requestInterrupt(0x4A, 6); }
    void irqDmaLevel0End() { requestInterrupt(0x4B, 5); }
    void irqDmaIllegal() { requestInterrupt(0x4C, 3); }
    void irqSpriteDrawEnd() { requestInterrupt(0x4D, 2); }
    void irqExternal(int n);

    // Entry points of the other chips and the frame events.
    void onVBlankIn();
    void onVBlankOut();
    void onHBlankIn(int line);
    void onHBlankOut() {}
    void spriteDrawEnd();
    void soundRequest();
    void triggerDma(u32 factor) { m_dmac.trigger(factor); }

    // Register window handlers.
    static u8 read8(void* owner, CPU* cpu, u32 a);
    static u16 read16(void* owner, CPU* cpu, u32 a);
    static u32 read32(void* owner, CPU* cpu, u32 a);
    static void write8(void* owner, CPU* cpu, u32 a, u8 d);
    static void write16(void* owner, CPU* cpu, u32 a, u16 d);
    static void write32(void* owner, CPU* cpu, u32 a, u32 d);
    static bool steadyRead(void* owner, const CPU* cpu, u32 a, u32 width, u32& value);
    AccessHandlers registerHandlers();

    static void onTimer1(void* owner, u32 argument);

    u32 reg(u32 offset) const { return m_regs[(offset & 0xFF) >> 2]; }
    u32 ist() const { return reg(kIST); }
    u32 mask() const { return reg(kIMS); }
    u32 lineCounter() const { return m_lineCounter; }
    INTC& intc() { return m_intc; }
    DMAC& dmac() { return m_dmac; }
    const DMAC& dmac() const { return m_dmac; }
    DSP& dsp() { return m_dsp; }
    SH2* master() const { return m_master; }
    Device* machine() const { return m_machine; }

private:
    friend class ScuDmac;
    friend class ScuDsp;

    u32& regRef(u32 offset) { return m_regs[(offset & 0xFF) >> 2]; }
    void commonReset();
    bool accessAllowed(CPU* cpu, u32 a, const char* slaveFormat, u32 data, bool isWrite);
    static bool slaveLogs(u32 a, u32 width);
    bool peekRegister(u32 a, u32 width, u32& value) const;
    bool peek(const CPU* cpu, u32 a, u32 width, u32& value) const;
    u32 readLong(u32 a);
    void writeLong(CPU* cpu, u32 a, u32 v);
    void logAbusSettings() const;
    // At the writer's present position, so its slice stops there.
    void scheduleAtWriter(CPU* cpu, EventCallback callback, u32 argument);

    static void onMaskChanged(void* owner, u32 value);
    static void onStartBit(void* owner, u32 level);
    static void onForcedStop(void* owner, u32 argument);

    u32 m_regs[64] = {};
    u32 m_lineCounter = 0;
    Device* m_machine;
    SH2* m_master;
    INTC m_intc;
    DSP m_dsp;
    DMAC m_dmac;
};
