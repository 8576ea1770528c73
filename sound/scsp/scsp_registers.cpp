// The register window: slot words, the common block, the sound stack, and
// the routing of the DSP areas.
#include <algorithm>

#include "sound/scsp/scsp.h"
#include "sound/scsp/scsp_tables.h"

namespace {

// Bits kept for read-back, by slot word.
constexpr u16 kSlotMask[12] = {0x0FFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x7FFF,
                               0x03FF, 0xFFFF, 0x7BFF, 0xFFFF, 0x007F, 0xFFFF};
constexpr u32 kSlotWords = 0x18;  // 0x18-0x1F of each slot hold nothing
constexpr u32 kCommonEnd = 0x600;
constexpr u32 kStackEnd = 0x680;
constexpr u32 kDspStart = 0x700;

constexpr u16 kKeyOnExecute = 0x1000;
constexpr u16 kKeyOnBit = 0x0800;

u16 merge(u16 word, u32 a, u8 d)
{
    return (a & 1) ? static_cast<u16>((word & 0xFF00) | d) : static_cast<u16>((word & 0x00FF) | d << 8);
}

// Pan values 0-15 cut the first channel, 16-31 the second.
void setPan(s32* pan, u32 value)
{
    const s32 cut = scspTables().pan[value & 15];
    pan[0] = value & 16 ? SCSP::kUnity : cut;
    pan[1] = value & 16 ? cut : SCSP::kUnity;
}

}  // namespace

// --- slots -----------------------------------------------------------------

void SCSP::decodeOscillator(Slot& s)
{
    const ScspTables& t = scspTables();
    const u16 w = s.regs[9];
    catchUpLfo(s);
    if (w & 0x8000) {
        s.lfoPosition = 0;
        s.lfoStep = 0;
        s.ampWave = t.ampWave[ScspTables::kZeroWave];
        s.pitchWave = t.pitchWave[ScspTables::kZeroWave];
        s.ampDepth = t.ampDepth[0];
        s.pitchShift = 0;
        return;
    }
    s.lfoStep = t.lfoStep[(w >> 10) & 31];
    s.pitchWave = t.pitchWave[(w >> 8) & 3];
    s.pitchShift = (w >> 5) & 7;
    s.ampWave = t.ampWave[(w >> 3) & 3];
    s.ampDepth = t.ampDepth[w & 7];
}

// The effective rate of a 5-bit rate field: twice the field, raised by the
// key rate scale and the pitch; scale 15 adds nothing. The chip's manual
// leaves the weights open: we count two a scale step or an octave and one
// more in the upper half of an octave (bit 9 of the frequency number), so
// the rate rises evenly with the pitch. A field of 0 stays 0 whatever the
// scale, so a zero rate always holds the level.
static int effectiveRate(u32 field, u16 scaleWord, u16 pitchWord)
{
    if (field == 0)
        return 0;
    int rate = static_cast<int>(2 * field);
    const int scale = (scaleWord >> 10) & 15;
    if (scale != 15) {
        const int octave = static_cast<int>(((pitchWord >> 11) & 15) ^ 8) - 8;
        rate += 2 * (scale + octave) + ((pitchWord >> 9) & 1);
    }
    return std::clamp(rate, 0, ScspTables::kRates - 1);
}

void SCSP::decodeEnvelope(Slot& s)
{
    // Attack 31 is full at once and release 31 silent at once, whatever
    // the scaling (the release table's top rates alone would take 3 ms).
    static constexpr u32 kAtOnce = 31;
    const ScspTables& t = scspTables();
    const u16 rates = s.regs[4], scale = s.regs[5], pitch = s.regs[8];
    const u32 attack = rates & 31, release = scale & 31;
    s.attackFactor = attack == kAtOnce ? ScspTables::kAttackAtOnce
                                       : t.attackFactor[effectiveRate(attack, scale, pitch)];
    s.decay1Step = t.decayStep[effectiveRate((rates >> 6) & 31, scale, pitch)];
    s.decay2Step = t.decayStep[effectiveRate((rates >> 11) & 31, scale, pitch)];
    s.releaseStep = release == kAtOnce ? kEnvelopeMax + kEnvelopeOne
                                       : t.decayStep[effectiveRate(release, scale, pitch)];
    s.hold = (rates >> 5) & 1;
    s.loopLink = (scale >> 14) & 1;
    // Decay 1 ends once the attenuation's top five bits reach the decay level.
    s.decayLevel = 1023 - 32 * ((scale >> 5) & 31);
}

void SCSP::decodeSlotWord(Slot& s, u32 word)
{
    static constexpr u16 kXor16[4] = {0x0000, 0x7FFF, 0x8000, 0xFFFF};
    const ScspTables& t = scspTables();
    const u16 w = s.regs[word];
    switch (word) {
    case 0:
        s.xor16 = kXor16[(w >> 9) & 3];
        s.xor8 = static_cast<u8>(s.xor16 >> 8);
        s.pcm8 = (w >> 4) & 1;
        s.loopMode = (w >> 5) & 3;
        s.start = ((w & 0xFu) << 16 | s.regs[1]) & 0x7FFFF;
        [[fallthrough]];
    case 2:
    case 3:
        s.loopLength = s.regs[3] - s.regs[2] + 1u;
        s.loopCycle = s.loopMode == 3 ? u64{s.loopLength} * 2 : s.loopLength;
        break;
    case 1:
        s.start = ((s.regs[0] & 0xFu) << 16 | s.regs[1]) & 0x7FFFF;
        break;
    case 4:
    case 5:
        decodeEnvelope(s);
        break;
    case 6:
        s.totalLevel = t.totalLevel[w & 0xFF];
        break;
    case 8:
        s.phaseStep = u64{(w & 0x3FFu) + 1024} << (((w >> 11) & 15) ^ 8);
        decodeEnvelope(s);  // the key rate scale follows the pitch
        break;
    case 9:
        decodeOscillator(s);
        break;
    case 10:
        s.inputLevel = t.sendLevel[w & 7];
        s.inputNumber = (w >> 3) & 15;
        break;
    case 11:
        s.directLevel = t.sendLevel[(w >> 13) & 7];
        setPan(s.directPan, (w >> 8) & 31);
        s.effectLevel = t.sendLevel[(w >> 5) & 7];
        setPan(s.effectPan, w & 31);
        break;
    default:
        break;
    }
}

void SCSP::keyOnExecute()
{
    for (u32 n = 0; n < kSlots; ++n) {
        Slot& s = m_slots[n];
        catchUpLfo(s);
        if (!(s.regs[0] & kKeyOnBit)) {
            s.keyOn = 0;
            if (s.envState == kEnvelopeOff)
                s.offPhase = kRelease;  // a voice silent in decay 2 is released all the same
        } else if (!s.keyOn) {
            s.keyOn = 1;
            s.ended = 0;
            s.phase = 0;
            s.loopReached = s.endReached = 0;
            s.position = 0;
            s.envState = kAttack;
            s.level = 0;
            s.offFlag = s.fullOutput = 0;
            updateLive(n);
        }
    }
}

void SCSP::setSlotEnabled(u32 n, bool on)
{
    Slot& s = m_slots[n & (kSlots - 1)];
    catchUpLfo(s);
    s.enabled = on;
    updateLive(n & (kSlots - 1));
}

void SCSP::updateLive(u32 n)
{
    const Slot& s = m_slots[n];
    m_live = (m_live & ~(1u << n)) | u32{s.enabled && !s.ended} << n;
}

u16 SCSP::readSlotWord(u32 a)
{
    const u32 off = a & 0x1F;
    if (off >= kSlotWords)
        return 0;
    if (off & 1) {
        m_slotLog.logWarning(1, "Bad RW from SCR [A: %02X]", off);
        return 0;
    }
    return m_slots[(a >> 5) & 31].regs[off >> 1];
}

void SCSP::writeSlotWord(u32 a, u16 d)
{
    const u32 off = a & 0x1F;
    if (off >= kSlotWords)
        return;
    if (off & 1) {
        m_slotLog.logWarning(1, "Bad WW to SCR [A: %08X, D: %04X]", off, d);
        return;
    }
    Slot& s = m_slots[(a >> 5) & 31];
    const u32 word = off >> 1;
    s.regs[word] = d & kSlotMask[word];
    decodeSlotWord(s, word);
    if (word == 0 && (d & kKeyOnExecute))
        keyOnExecute();
}

void SCSP::writeSlotByte(u32 a, u8 d)
{
    const u32 off = a & 0x1F;
    if (off >= kSlotWords)
        return;
    Slot& s = m_slots[(a >> 5) & 31];
    const u32 word = off >> 1;
    const bool high = !(off & 1);
    if (word == 0 && high) {
        s.regs[0] = static_cast<u16>((s.regs[0] & 0xFF) | (d & 0x0F) << 8);
        decodeSlotWord(s, 0);
        if (d & (kKeyOnExecute >> 8))
            keyOnExecute();
        return;
    }
    if (word == 10 && high)
        return;
    s.regs[word] = merge(s.regs[word], off, d) & kSlotMask[word];
    // The oscillator takes its fields when the high byte is written.
    if (word != 9 || high)
        decodeSlotWord(s, word);
}

// --- common block ----------------------------------------------------------

void SCSP::writeTimer(u32 n, u16 word, bool prescale, bool start)
{
    commonWord(0x418 + 2 * n) = word & 0x7FF;
    Timer& t = m_timers[n];
    if (prescale)
        t.step = static_cast<u16>(1u << (8 - ((word >> 8) & 7)));
    if (start)
        t.counter = static_cast<u16>((word & 0xFF) << 8);
}

// Bits 7-10 the call address (kept up by the sample step), 5-6 the
// envelope phase, 0-4 the top bits of the attenuation: 31 is silent.
u16 SCSP::monitorWord() const
{
    const Slot& s = m_slots[m_monitorSlot & (kSlots - 1)];
    const u32 phase = s.envState == kEnvelopeOff ? s.offPhase : s.envState;
    const u32 level = s.fullOutput ? 1023 : static_cast<u32>(s.level >> kEnvelopeShift) & 1023;
    return static_cast<u16>((common(0x408) & 0x780) | phase << 5 | (1023 - level) >> 5);
}

u16 SCSP::readCommonWord(CPU* cpu, u32 a)
{
    const u32 off = a & 0xFFF;
    switch (off) {
    case 0x408:
        return monitorWord();
    case 0x416:
        return commonWord(0x416);
    case 0x418:
    case 0x41A:
    case 0x41C:  // the prescale with the running count
        return static_cast<u16>((commonWord(off) & 0x700) | m_timers[(off - 0x418) >> 1].counter >> 8);
    case 0x41E:
    case 0x420:
    case 0x42A:
    case 0x42C:  // enable and pending words of both sides, bits 0-10
        return commonWord(off) & 0x7FF;
    case 0x424:
    case 0x426:
    case 0x428:  // bits 7-10 share bit 7's level, so the words are 8 bits wide
        return commonWord(off) & 0xFF;
    case 0x422:
    case 0x42E:  // the reset words are write-only
        return 0;
    default:
        logWarning(1, "%s: Bad RW [A: %08X]", accessorName(cpu), a);
        return 0;
    }
}

void SCSP::writeCommonWord(CPU* cpu, u32 a, u16 d)
{
    const u32 off = a & 0xFFF;
    u16& w = commonWord(off);
    switch (off) {
    case 0x400:
        w = d & 0x30F;
        if (d & 0x200) {
            m_memoryMask = kSoundRamSize - 1;
        } else {
            m_memoryMask = 0x1FFFF;
            logWarning(1, "Set to 1MB RAM!");
        }
        m_master = scspTables().master[d & 15];
        break;
    case 0x402:
        w = d & 0x1FF;
        m_ringLength = 8192u << ((w >> 7) & 3);
        m_ringPosition = (w & 0x7Fu) * 8192;
        break;
    case 0x404: w = d & 0x1FFF; break;
    case 0x406: w = d & 0xFF; break;
    case 0x408:
        w = static_cast<u16>((w & 0x7FF) | (d & 0xF800));
        m_monitorSlot = d >> 11;
        break;
    case 0x412:
    case 0x414: w = d & 0xFFFE; break;
    case 0x416:
        w = d & 0x7FFE;
        if (d & 0x1000)
            startDma(cpu);
        break;
    case 0x418:
    case 0x41A:
    case 0x41C: writeTimer((off - 0x418) >> 1, d, true, true); break;
    case 0x41E:
        w = d & 0x7FF;
        for (u32 b = 0; b <= kIrqSample; ++b)
            m_intc.sendToSoundCpu(b);
        break;
    case 0x420:
        if (d & (1u << kIrqCpu)) {
            w |= 1u << kIrqCpu;
            m_intc.sendToSoundCpu(kIrqCpu);
        }
        break;
    case 0x422: commonWord(0x420) &= ~(d & 0x7FF); break;
    case 0x424:
    case 0x426:
    case 0x428: w = d; break;
    case 0x42A:
        w = d & 0x7FF;
        for (u32 b = 0; b <= kIrqSample; ++b)
            m_intc.sendToMainCpu(b);
        break;
    case 0x42C:
        if (d & (1u << kIrqCpu)) {
            w |= 1u << kIrqCpu;
            m_intc.sendToMainCpu(kIrqCpu);
        }
        break;
    case 0x42E: commonWord(0x42C) &= ~(d & 0x7FF); break;
    default:
        logWarning(1, "Bad WW to CCR [A: %08X, D: %04X]", off, d);
        break;
    }
}

u8 SCSP::readCommonByte(CPU* cpu, u32 a)
{
    const u32 off = a & 0xFFF;
    switch (off) {
    case 0x404: return m_midi.readFlags();
    case 0x405: return m_midi.readInput();
    case 0x407: return static_cast<u8>(commonWord(0x406));
    case 0x408: return (monitorWord() >> 8) & 7;
    case 0x409: return static_cast<u8>(monitorWord());
    default:
        break;
    }
    if (off >= 0x418 && off <= 0x42F) {
        const u16 w = readCommonWord(cpu, a & ~1u);
        return (off & 1) ? static_cast<u8>(w) : static_cast<u8>(w >> 8);
    }
    logWarning(1, "%s: Bad RB [A: %08X]", accessorName(cpu), a);
    return 0;
}

void SCSP::writeCommonByte(CPU* cpu, u32 a, u8 d)
{
    const u32 off = a & 0xFFF;
    switch (off) {
    case 0x404: m_midi.writeFlags(d); return;
    case 0x407: m_midi.writeOutput(d); return;
    case 0x409:
    case 0x420:
    case 0x424:
    case 0x426:
    case 0x428:
    case 0x42C: return;
    case 0x418: case 0x419: case 0x41A: case 0x41B: case 0x41C: case 0x41D: {
        const u32 n = (off - 0x418) >> 1;
        writeTimer(n, merge(commonWord(off), off, d), !(off & 1), off & 1);
        return;
    }
    default:
        break;
    }
    const bool merged = off <= 0x403 || off == 0x408 || (off >= 0x412 && off <= 0x417) || (off >= 0x41E && off <= 0x42F);
    if (!merged) {
        logWarning(1, "%s, Bad WB to CCR [A: %08X, D: %02X]", accessorName(cpu), a, d);
        return;
    }
    writeCommonWord(cpu, off & ~1u, merge(commonWord(off), off, d));
}

// --- the window ------------------------------------------------------------

u16 SCSP::readWord(CPU* cpu, u32 a)
{
    const u32 off = a & 0xFFF;
    if (off < 0x400)
        return readSlotWord(off);
    if (off < kCommonEnd)
        return readCommonWord(cpu, a);
    if (off < kStackEnd)
        return loadBe16(&m_stack[(off - 0x600) & 0x7E]);
    if (off < kDspStart) {
        logWarning(1, "%s: Bad RW [A: %08X]", accessorName(cpu), a);
        return 0;
    }
    return m_dsp.readWord(accessorName(cpu), a);
}

void SCSP::writeWord(CPU* cpu, u32 a, u16 d)
{
    const u32 off = a & 0xFFF;
    if (off < 0x400)
        writeSlotWord(off, d);
    else if (off < kCommonEnd)
        writeCommonWord(cpu, a, d);
    else if (off < kStackEnd)
        storeBe16(&m_stack[(off - 0x600) & 0x7E], d);
    else if (off < kDspStart)
        logWarning(1, "%s: Bad WW [A: %08X, D: %04X]", accessorName(cpu), a, d);
    else
        m_dsp.writeWord(accessorName(cpu), a, d);
}

u8 SCSP::readByte(CPU* cpu, u32 a)
{
    const u32 off = a & 0xFFF;
    if (off < 0x400) {
        const u16 w = readSlotWord(off & ~1u);
        return (off & 1) ? static_cast<u8>(w) : static_cast<u8>(w >> 8);
    }
    if (off < kCommonEnd)
        return readCommonByte(cpu, a);
    if (off < kStackEnd)
        return m_stack[off - 0x600];
    if (off < kDspStart) {
        logWarning(1, "%s: Bad RB [A: %08X]", accessorName(cpu), a);
        return 0;
    }
    return m_dsp.readByte(accessorName(cpu), a);
}

void SCSP::writeByte(CPU* cpu, u32 a, u8 d)
{
    const u32 off = a & 0xFFF;
    if (off < 0x400)
        writeSlotByte(off, d);
    else if (off < kCommonEnd)
        writeCommonByte(cpu, a, d);
    else if (off < kStackEnd)
        m_stack[off - 0x600] = d;
    else if (off < kDspStart)
        logWarning(1, "%s: Bad WB [A: %08X, D: %02X]", accessorName(cpu), a, d);
    else
        m_dsp.writeByte(accessorName(cpu), a, d);
}
