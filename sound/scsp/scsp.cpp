#include "sound/scsp/scsp.h"

#include "core/base/cpu.h"
#include "sound/scsp/scsp_tables.h"

namespace {

SCSP& chip(void* owner)
{
    return *static_cast<SCSP*>(owner);
}

// Sound memory as the processors see it: masked to the size the chip is set
// to; longs are two words, each masked on its own.
struct SoundRam {
    static u8* at(void* o, u32 a) { return chip(o).soundRam() + (a & chip(o).memoryMask()); }
    static u8 rb(void* o, CPU*, u32 a) { return *at(o, a); }
    static u16 rw(void* o, CPU*, u32 a) { return loadBe16(at(o, a & ~1u)); }
    static u32 rl(void* o, CPU* c, u32 a) { return u32{rw(o, c, a)} << 16 | rw(o, c, a + 2); }
    static void wb(void* o, CPU*, u32 a, u8 d) { *at(o, a) = d; }
    static void ww(void* o, CPU*, u32 a, u16 d) { storeBe16(at(o, a & ~1u), d); }
    static void wl(void* o, CPU* c, u32 a, u32 d)
    {
        ww(o, c, a, static_cast<u16>(d >> 16));
        ww(o, c, a + 2, static_cast<u16>(d));
    }
};

// The register window: longs are two words, the word at the address the
// high half; reads take the low half first.
struct Registers {
    static u8 rb(void* o, CPU* c, u32 a) { return chip(o).readByte(c, a); }
    static u16 rw(void* o, CPU* c, u32 a) { return chip(o).readWord(c, a); }
    static u32 rl(void* o, CPU* c, u32 a)
    {
        const u16 low = chip(o).readWord(c, a + 2);
        return u32{chip(o).readWord(c, a)} << 16 | low;
    }
    static void wb(void* o, CPU* c, u32 a, u8 d) { chip(o).writeByte(c, a, d); }
    static void ww(void* o, CPU* c, u32 a, u16 d) { chip(o).writeWord(c, a, d); }
    static void wl(void* o, CPU* c, u32 a, u32 d)
    {
        chip(o).writeWord(c, a, static_cast<u16>(d >> 16));
        chip(o).writeWord(c, a + 2, static_cast<u16>(d));
    }
};

}  // namespace

SCSP::SCSP(SampleSink* machine, u8* soundRam, M68K* m68k, SCU* scu, Device* cdAudio)
    : Device("SCSP"), m_machine(machine), m_soundRam(soundRam), m_m68k(m68k), m_scu(scu), m_cdAudio(cdAudio),
      m_intc(*this), m_midi(*this)
{
    m_master = scspTables().master[0];
    for (Slot& s : m_slots) {
        for (u32 w = 0; w < 12; ++w)
            decodeSlotWord(s, w);
    }
    m_midi.reset();
}

SCSP::~SCSP()
{
    cancelEvent(m_event);
}

bool SCSP::setup(u32)
{
    scspTables();
    return true;
}

void SCSP::powerOn()
{
    reset();
    // The sample clock starts afresh with the chip.
    m_sampleCount = 0;
    cancelEvent(m_event);
    // The first sample comes one period in: at time 0 it would share the
    // field start's pass, which the machine keeps free of other events.
    m_event = schedule(m_localTime + kSampleNs, onSampleEvent, Scheduler::kForever, kSampleNs, 0);
}

void SCSP::powerOff()
{
    cancelEvent(m_event);
    m_event = {};
}

void SCSP::reset()
{
    for (u16& w : m_common)
        w = 0;
    m_master = scspTables().master[0];
    m_ringLength = 8192;
    m_ringPosition = 0;
    m_monitorSlot = 0;
    for (Slot& s : m_slots) {
        const u8 enabled = s.enabled;
        s = Slot{};
        s.enabled = enabled;
        s.lfoTick = m_lfoTick;
        for (u32 w = 0; w < 12; ++w)
            decodeSlotWord(s, w);
    }
    m_live = 0;
    m_stackIndex = kStackWords - 6;
    m_midi.reset();
    for (Timer& t : m_timers)
        t = Timer{};
}

AccessHandlers SCSP::getAccessHandlers(int area)
{
    switch (area) {
    case kRegisters:
        return {this, Registers::rb, Registers::wb, Registers::rw, Registers::ww, Registers::rl, Registers::wl};
    case kSoundRam:
        return {this, SoundRam::rb, SoundRam::wb, SoundRam::rw, SoundRam::ww, SoundRam::rl, SoundRam::wl};
    default:
        return {};
    }
}

const char* SCSP::accessorName(CPU* cpu) const
{
    return cpu ? cpu->name().c_str() : name().c_str();
}
