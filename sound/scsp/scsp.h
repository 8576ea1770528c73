#pragma once

#include <array>

#include "core/base/device.h"
#include "core/base/sample_sink.h"
#include "core/base/scheduler.h"

class M68K;
class SCU;
class CPU;

// The sound chip: 32 slots that play sound memory with envelope, pitch and
// LFO, three timers, an interrupt controller for both sides, MIDI buffers
// and a DMA between sound memory and its own registers. It is not time
// sliced: it runs in its periodic sample event and in register accesses.
class SCSP : public Device {
public:
    static constexpr u32 kSoundRamSize = 0x80000;
    static constexpr u32 kSlots = 32;
    static constexpr u32 kOutputRateHz = 44100;
    // The chip's clock is counted in steps of 3779 ns, six to an output
    // sample: one sample every 22674 ns. Only the sixth step has work, so
    // the event comes once a sample.
    static constexpr u32 kStepsPerSample = 6;
    static constexpr u32 kStepNs = 1000000000u / (kStepsPerSample * kOutputRateHz);
    static constexpr u32 kSampleNs = kStepsPerSample * kStepNs;
    static constexpr u32 kFraction = 20;  // fixed-point bits of every factor
    static constexpr s32 kUnity = 1 << kFraction;
    // The envelope level: 10 bits of 3/32 dB above 20 fraction bits, so
    // the slowest rates still step by hundreds of units a sample.
    static constexpr u32 kEnvelopeShift = 20;
    static constexpr s32 kEnvelopeOne = 1 << kEnvelopeShift;
    static constexpr s32 kEnvelopeMax = 1023 << kEnvelopeShift;

    enum Area : int { kRegisters = 0, kSoundRam = 1 };

    // Interrupt bits shared by both sides.
    enum Interrupt : u32 {
        kIrqTestSwitch = 3, kIrqDmaEnd = 4, kIrqCpu = 5, kIrqTimerA = 6, kIrqMidiOut = 9, kIrqSample = 10,
    };
    enum EnvelopeState : u8 { kAttack = 0, kDecay1 = 1, kDecay2 = 2, kRelease = 3, kEnvelopeOff = 4 };

    // Turns the interrupt bits into a 68000 level and the SCU's sound request.
    class INTC : public Device {
    public:
        explicit INTC(SCSP& chip) : Device("SCSP INTC"), m_chip(chip) {}
        // Sets bit b in both pending words and offers it to both sides.
        void raise(u32 bit);
        void sendInterrupts(u32 bit);
        void sendToSoundCpu(u32 bit);
        void sendToMainCpu(u32 bit);
        u32 levelOf(u32 bit) const;

    private:
        SCSP& m_chip;
    };

    // Four-byte input and output buffers; nothing outside fills or drains them.
    class MIDI : public Device {
    public:
        static constexpr u32 kBufferBytes = 4;
        enum Flag : u8 { kInEmpty = 1, kInFull = 2, kInOverflow = 4, kOutEmpty = 8, kOutFull = 16 };

        explicit MIDI(SCSP& chip) : Device("SCSP.MIDI"), m_chip(chip) {}
        void reset() override;
        u8 readFlags() const;
        void writeFlags(u8 d);
        u8 readInput();
        void writeOutput(u8 d);
        u32 outputCount() const { return m_outCount; }
        const u8* outputBuffer() const { return m_out; }

    private:
        SCSP& m_chip;
        u8 m_in[kBufferBytes] = {};
        u8 m_out[kBufferBytes] = {};
        u32 m_inCount = 0;
        u32 m_outCount = 0;
        u8 m_flags = 0;
    };

    // The DSP's register areas. They are stored and read back; the program
    // does not run, so its outputs never reach the mix.
    class DSP : public Object {
    public:
        static constexpr u32 kBase = 0x700;   // coefficients start here
        static constexpr u32 kEnd = 0xEE4;    // one past the external inputs
        static constexpr u32 kMixInputs = 0xE80;
        static constexpr u32 kEffectOutputs = 0xEC0;
        static constexpr u32 kExternalInputs = 0xEE0;

        DSP() : Object("SCSPDSP") {}
        u8* at(u32 offset) { return &m_bytes[(offset - kBase) & (sizeof m_bytes - 1)]; }
        // Accesses at offsets kBase to 0xFFF; the chip routes the rest.
        u16 readWord(const char* accessor, u32 a);
        void writeWord(const char* accessor, u32 a, u16 d);
        u8 readByte(const char* accessor, u32 a);
        void writeByte(const char* accessor, u32 a, u8 d);

    private:
        std::array<u8, 0x800> m_bytes{};
    };

    // One slot: its register words as kept and the state the sample step runs on.
    struct Slot {
        u16 regs[12] = {};
        u8 enabled = 1;
        u8 keyOn = 0;
        u8 ended = 1;
        u8 envState = kEnvelopeOff;
        u8 offFlag = 0;
        u8 fullOutput = 0;
        u8 hold = 0;
        u8 loopLink = 0;
        u8 loopMode = 0;
        u8 loopReached = 0;
        u8 endReached = 0;
        u8 pcm8 = 0;
        u8 xor8 = 0;
        u8 inputNumber = 0;
        u16 xor16 = 0;
        u8 offPhase = kRelease;  // the phase the monitor shows once the envelope is off
        s32 level = 0;
        u32 attackFactor = 0;  // share of the distance to full level closed a sample, of 2^32
        s32 decay1Step = 0, decay2Step = 0, releaseStep = 0;  // level units a sample, down
        s32 decayLevel = 0;  // decay 1 ends at or below this level (10-bit)
        u64 phase = 0;
        u64 phaseStep = 0;
        u32 advance = 0;
        u32 position = 0;
        u32 offset = 0;
        u32 start = 0;
        u32 loopLength = 0;  // end - start + 1, in 32 bits as the position counts
        u64 loopCycle = 0;   // one pass, or two for the alternating mode
        s16 sample = 0;
        s32 totalLevel = 0;  // the attenuation's factor
        s64 gain = 0;
        s64 output = 0;
        // An enabled slot that has ended moves its LFO without being
        // visited: lfoTick is the sample count the position is good for.
        mutable u32 lfoPosition = 0;
        mutable u32 lfoTick = 0;
        u32 lfoStep = 0;
        const u8* ampWave = nullptr;
        const s32* ampDepth = nullptr;
        const s8* pitchWave = nullptr;
        u32 pitchShift = 0;
        s32 directLevel = 0, directPan[2] = {}, effectLevel = 0, effectPan[2] = {}, inputLevel = 0;
    };

    SCSP(SampleSink* machine, u8* soundRam, M68K* m68k, SCU* scu, Device* cdAudio);
    ~SCSP() override;

    bool setup(u32 argument) override;
    void powerOn() override;
    void powerOff() override;
    void reset() override;
    AccessHandlers getAccessHandlers(int area) override;

    // The periodic event's work: one output sample.
    void sampleEvent();
    void makeSample();

    // Register window, offsets after & 0xFFF; cpu names the accessor in warnings.
    u16 readWord(CPU* cpu, u32 a);
    void writeWord(CPU* cpu, u32 a, u16 d);
    u8 readByte(CPU* cpu, u32 a);
    void writeByte(CPU* cpu, u32 a, u8 d);

    // A slot as the sample step left it, its LFO brought up to date.
    const Slot& slot(u32 n) const;
    // Common word 0x408 as read: the monitored slot's call address, phase and level.
    u16 monitorWord() const;
    void setSlotEnabled(u32 n, bool on);
    // Off, every silent slot's LFO moves at every sample.
    void setSkipSilentSlots(bool on) { m_skipSilentSlots = on; }
    // Catch-ups of a silent slot's LFO over samples it was left out of.
    u64 silentSlotSkips() const { return m_silentSlotSkips; }
    u16 common(u32 offset) const { return m_common[(offset >> 1) & 0x1F]; }
    u32 memoryMask() const { return m_memoryMask; }
    u8* soundRam() const { return m_soundRam; }
    u32 sampleCount() const { return m_sampleCount; }
    u32 slotOffset(u32 n) const { return m_slots[n & (kSlots - 1)].offset; }
    INTC& intc() { return m_intc; }
    MIDI& midi() { return m_midi; }
    DSP& dsp() { return m_dsp; }

private:
    struct Timer {
        u16 counter = 0;
        u16 step = 256;
    };

    static void onSampleEvent(void* owner, u32);
    const char* accessorName(CPU* cpu) const;
    u16& commonWord(u32 offset) { return m_common[(offset >> 1) & 0x1F]; }

    // Registers.
    u16 readSlotWord(u32 a);
    void writeSlotWord(u32 a, u16 d);
    void writeSlotByte(u32 a, u8 d);
    void decodeSlotWord(Slot& s, u32 word);
    void decodeOscillator(Slot& s);
    void decodeEnvelope(Slot& s);
    void keyOnExecute();
    void catchUpLfo(const Slot& s) const;
    void moveSilentLfos(u32 silent) const;
    void updateLive(u32 n);
    u16 readCommonWord(CPU* cpu, u32 a);
    void writeCommonWord(CPU* cpu, u32 a, u16 d);
    u8 readCommonByte(CPU* cpu, u32 a);
    void writeCommonByte(CPU* cpu, u32 a, u8 d);
    void writeTimer(u32 n, u16 word, bool prescale, bool start);

    // Generation.
    void advancePosition(Slot& s);
    void fetchSample(Slot& s);
    void mixSlot(const Slot& s, s64 output, s64* acc);
    void runStages(Slot& s, u32 position, u32 first, u32 last, u32 stackBase);
    void runEnvelope(Slot& s);
    void stepTimers();

    // DMA between sound memory and the registers.
    void startDma(CPU* cpu);

    SampleSink* m_machine;
    u8* m_soundRam;
    M68K* m_m68k;
    SCU* m_scu;
    Device* m_cdAudio;
    INTC m_intc;
    MIDI m_midi;
    DSP m_dsp;
    Object m_slotLog{"SCSPSLOT"};

    std::array<Slot, kSlots> m_slots{};
    u32 m_live = 0;     // slots enabled and not ended, by bit
    u32 m_lfoTick = 0;  // counts samples for the LFOs of silent slots
    u16 m_common[32] = {};  // 0x400-0x42F; the rest stays 0
    static constexpr u32 kStackWords = 64;
    u8 m_stack[2 * kStackWords] = {};
    u32 m_stackIndex = 0;  // at position 0 of the next sample
    Timer m_timers[3];
    u32 m_memoryMask = kSoundRamSize - 1;
    s32 m_master = kUnity;
    u32 m_ringLength = 8192;
    u32 m_ringPosition = 0;
    u32 m_monitorSlot = 0;
    u32 m_sampleCount = 0;
    bool m_dmaRunning = false;
    bool m_skipSilentSlots = true;
    mutable u64 m_silentSlotSkips = 0;
    EventHandle m_event;
};
