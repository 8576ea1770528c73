// Sample generation: the slots' pipeline, loop modes, envelope and the mix.
#include <algorithm>
#include <bit>
#include <cmath>

#include "core/base/shared_state.h"
#include "sound/scsp/scsp.h"
#include "sound/scsp/scsp_tables.h"

namespace {

// Word 0x0C: bit 9 keeps the slot's samples off the sound stack; bit 8
// (direct) leaves the output as it stands.
constexpr u16 kStackInhibit = 0x200;
constexpr u16 kDirect = 0x100;
constexpr u32 kPhaseBits = 18;  // fraction bits of the phase
constexpr u64 kPhaseFraction = (u64{1} << kPhaseBits) - 1;

s32 factor(double value)
{
    return static_cast<s32>(value * SCSP::kUnity);
}

// Milliseconds by effective rate; -1 where the envelope never moves.
constexpr double kAttackMs[ScspTables::kRates] = {
    -1,   -1,   8100, 6900, 6000, 4800, 4000, 3400, 3000, 2400, 2000, 1700, 1500, 1200, 1000, 860,
    760,  600,  500,  430,  380,  300,  250,  220,  190,  150,  130,  110,  95,   76,   63,   55,
    47,   38,   31,   27,   24,   19,   15,   13,   12,   9.4,  7.9,  6.8,  6.0,  4.7,  3.8,  3.4,
    3.0,  2.4,  2.0,  1.8,  1.6,  1.3,  1.1,  0.93, 0.85, 0.65, 0.53, 0.44, 0.40, 0.35, 0,    0};
constexpr double kDecayMs[ScspTables::kRates] = {
    -1,   -1,   118200, 101300, 88600, 70900, 59100, 50700, 44300, 35500, 29600, 25300, 22200, 17700, 14800, 12700,
    11100, 8900, 7400,  6300,   5500,  4400,  3700,  3200,  2800,  2200,  1800,  1600,  1400,  1100,  920,   790,
    690,  550,  460,    390,    340,   270,   230,   200,   170,   140,   110,   98,    85,    68,    57,    49,
    43,   34,   28,     25,     22,    18,    14,    12,    11,    8.5,   7.1,   6.1,   5.4,   4.3,   3.6,   3.1};

// The attack closes a fixed share of the distance to full level every
// sample: the chip's curve, fast at first and slowing near the top. The
// manual gives its shape but not the share; we count the distance one
// level past full, so it arrives, and pick the share that brings the
// 1024-level distance down to that one level in the table's time.
u32 attackFactor(double samples)
{
    const double share = 1.0 - std::pow(1024.0, -1.0 / samples);
    return static_cast<u32>(std::min(share * 4294967296.0, 4294967295.0));
}

ScspTables buildTables()
{
    ScspTables t{};
    for (int v = 0; v < 16; ++v)
        t.master[v] = factor(std::pow(2.0, -(15 - v) / 4.0));
    for (int n = 0; n < 256; ++n)
        t.totalLevel[n] = factor(std::pow(2.0, -n / 16.0));
    static constexpr double kSendDb[8] = {0, -36, -30, -24, -18, -12, -6, 0};
    t.sendLevel[0] = 0;
    for (int g = 1; g < 8; ++g)
        t.sendLevel[g] = factor(std::pow(10.0, kSendDb[g] / 20.0));
    for (int k = 0; k < 15; ++k)
        t.pan[k] = factor(std::pow(10.0, -3.0 * k / 20.0));
    t.pan[15] = 0;
    // The envelope's 10 bits span the chip's 96 dB (3/32 dB a step).
    for (int level = 0; level < 1024; ++level)
        t.envelope[level] = factor(std::pow(2.0, -(1023 - level) / 64.0));
    // The chip's times per effective rate: the attack from silence to full
    // level, a decay or release across the whole 96 dB. Rates 0 and 1 never
    // move the envelope.
    for (int r = 0; r < ScspTables::kRates; ++r) {
        const double attackMs = kAttackMs[r], decayMs = kDecayMs[r];
        if (attackMs < 0)
            t.attackFactor[r] = 0;
        else if (attackMs == 0)
            t.attackFactor[r] = ScspTables::kAttackAtOnce;
        else
            t.attackFactor[r] = attackFactor(attackMs * SCSP::kOutputRateHz / 1000);
        t.decayStep[r] = decayMs < 0 ? 0
                                     : static_cast<s32>(std::lround(1024.0 * SCSP::kEnvelopeOne /
                                                                   (decayMs * SCSP::kOutputRateHz / 1000)));
    }
    // One whole waveform (256 entries of the position's top byte) per
    // period of the listed frequency.
    static constexpr double kLfoHz[32] = {0.17, 0.19, 0.23, 0.27, 0.34, 0.39, 0.45, 0.55, 0.68, 0.78, 0.92,
                                          1.1,  1.39, 1.6,  1.87, 2.27, 2.87, 3.31, 3.92, 4.79, 6.15, 7.18,
                                          8.6,  10.8, 14.4, 17.2, 21.5, 28.7, 43.1, 57.4, 86.1, 172.3};
    for (int f = 0; f < 32; ++f)
        t.lfoStep[f] = static_cast<u32>(kLfoHz[f] * 4294967296.0 / SCSP::kOutputRateHz);
    // Noise is a fixed sequence, so runs stay reproducible.
    u32 seed = 0x2545F491;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return static_cast<u8>(seed >> 24);
    };
    for (int i = 0; i < 256; ++i) {
        t.ampWave[0][i] = static_cast<u8>(i);
        t.ampWave[1][i] = i < 128 ? 0 : 255;
        t.ampWave[2][i] = static_cast<u8>(i < 128 ? 2 * i : 511 - 2 * i);
        t.ampWave[3][i] = next();
        t.ampWave[ScspTables::kZeroWave][i] = 0;
        t.pitchWave[0][i] = static_cast<s8>(i < 128 ? i : i - 256);
        t.pitchWave[1][i] = static_cast<s8>(i < 128 ? 127 : -128);
        const int tri = i < 64 ? 2 * i : i < 128 ? 255 - 2 * i : i < 192 ? 256 - 2 * i : 2 * i - 511;
        t.pitchWave[2][i] = static_cast<s8>(tri);
        t.pitchWave[3][i] = static_cast<s8>(128 - next());
        t.pitchWave[ScspTables::kZeroWave][i] = 0;
    }
    // Amplitude modulation attenuates: the deepest point of the wave cuts
    // by the depth's full figure.
    static constexpr double kDepthDb[8] = {0, 0.4, 0.8, 1.5, 3, 6, 12, 24};
    for (int d = 0; d < 8; ++d) {
        for (int w = 0; w < 256; ++w)
            t.ampDepth[d][w] = factor(std::pow(10.0, -kDepthDb[d] * w / 256.0 / 20.0));
    }
    return t;
}

}  // namespace

const ScspTables& scspTables()
{
    static const ScspTables tables = buildTables();
    return tables;
}

const SCSP::Slot& SCSP::slot(u32 n) const
{
    const Slot& s = m_slots[n & (kSlots - 1)];
    catchUpLfo(s);
    return s;
}

// The plain path of the silent slots' LFOs: each moves at every sample.
[[gnu::noinline]] void SCSP::moveSilentLfos(u32 silent) const
{
    for (; silent; silent &= silent - 1)
        catchUpLfo(m_slots[static_cast<u32>(std::countr_zero(silent))]);
}

void SCSP::catchUpLfo(const Slot& s) const
{
    if (s.enabled && s.ended) {
        // The plain path moves it at every sample.
        m_silentSlotSkips += m_lfoTick - s.lfoTick > 1;
        s.lfoPosition += s.lfoStep * (m_lfoTick - s.lfoTick);
    }
    s.lfoTick = m_lfoTick;
}

void SCSP::onSampleEvent(void* owner, u32)
{
    static_cast<SCSP*>(owner)->sampleEvent();
}

void SCSP::sampleEvent()
{
    if (m_runState == kOff)
        return;
    makeSample();
}

[[gnu::always_inline]] inline void SCSP::advancePosition(Slot& s)
{
    const u32 loopStart = s.regs[2];
    u32 p = s.position + s.advance;
    if (s.loopMode == 0) {
        s.loopReached = 0;
        if (p >= s.regs[3])
            s.endReached = 1;
        else if (p >= loopStart)
            s.loopReached = 1;
        s.position = s.offset = p;
        return;
    }
    if (p < loopStart) {
        s.loopReached = 0;
        s.position = s.offset = p;
        return;
    }
    s.loopReached = 1;
    const u32 n = s.loopLength;
    if (n == 0) {
        s.position = s.offset = p;
        return;
    }
    // The position is kept inside the loop's cycle (one pass forward and
    // one back for the alternating mode), so it never wraps.
    const u64 cycle = s.loopCycle;
    u64 inCycle = p - loopStart;
    // The position advances by less than a cycle in all but extreme settings.
    if (inCycle >= cycle)
        inCycle = inCycle - cycle < cycle ? inCycle - cycle : inCycle % cycle;
    p = static_cast<u32>(loopStart + inCycle);
    s.position = p;
    const u32 r = static_cast<u32>(inCycle);
    switch (s.loopMode) {
    case 1: s.offset = p; break;
    case 2: s.offset = loopStart + n - 1 - r; break;
    default: s.offset = r >= n ? loopStart + n - 1 - (r - n) : p; break;  // back on the second pass
    }
}

[[gnu::always_inline]] inline void SCSP::fetchSample(Slot& s)
{
    if (s.pcm8) {
        const u64 a = u64{s.start} + s.offset;
        s.sample = a < kSoundRamSize ? static_cast<s16>(static_cast<s8>(m_soundRam[a] ^ s.xor8) * 256) : 0;
    } else {
        const u64 a = u64{s.start} + u64{s.offset} * 2;
        s.sample = a + 1 < kSoundRamSize ? static_cast<s16>(loadBe16(m_soundRam + a) ^ s.xor16) : 0;
    }
}

[[gnu::always_inline]] inline void SCSP::mixSlot(const Slot& s, s64 output, s64* acc)
{
    const s64 t = (output * s.directLevel) >> kFraction;
    acc[0] += (t * s.directPan[0]) >> kFraction;
    acc[1] += (t * s.directPan[1]) >> kFraction;
    u8* mixInput = m_dsp.at(DSP::kMixInputs + 4 * s.inputNumber);
    // Most slots send nothing to the DSP, and then add nothing more.
    if (s.inputLevel == 0) {
        storeBe32(mixInput, 0);
        return;
    }
    const s64 c = (output * s.inputLevel) >> kFraction;
    storeBe32(mixInput, static_cast<u32>(c >> kFraction));
    const s64 e = (c * s.effectLevel) >> kFraction;
    acc[0] += ((e * s.effectPan[0]) >> kFraction) + c;
    acc[1] += ((e * s.effectPan[1]) >> kFraction) + c;
}

// Reaching silence in any phase ends the slot; the monitor still shows
// the phase it ended in.
[[gnu::always_inline]] inline void SCSP::runEnvelope(Slot& s)
{
    auto off = [&s] {
        s.offPhase = s.envState;
        s.envState = kEnvelopeOff;
        s.level = 0;
        s.offFlag = 1;
    };
    if (!s.keyOn && s.envState < kRelease) {
        // The release steps from the next sample. Whatever the hold flag
        // did, the release is heard falling.
        s.envState = kRelease;
        s.fullOutput = 0;
        return;
    }
    switch (s.envState) {
    case kAttack:
        if (s.attackFactor == ScspTables::kAttackAtOnce) {
            s.level = kEnvelopeMax;
        } else {
            const u64 distance = static_cast<u64>(kEnvelopeMax - s.level) + kEnvelopeOne;
            s.level += static_cast<s32>((distance * s.attackFactor + 0x80000000u) >> 32);
            s.level = std::min(s.level, kEnvelopeMax);
        }
        if (s.level == kEnvelopeMax) {
            if (s.loopLink && !s.loopReached) {
                s.fullOutput = 1;
                break;
            }
        } else if (s.hold) {
            s.fullOutput = 1;
            break;
        } else if (!(s.loopLink && s.loopReached)) {
            break;
        }
        s.envState = kDecay1;
        s.fullOutput = 0;
        [[fallthrough]];
    case kDecay1:
        // Decay level 0 leaves decay 1 as soon as it starts.
        if ((s.level >> kEnvelopeShift) <= s.decayLevel) {
            s.envState = kDecay2;
            break;
        }
        s.level -= s.decay1Step;
        if ((s.level >> kEnvelopeShift) <= s.decayLevel)
            s.envState = kDecay2;
        if (s.level < kEnvelopeOne)
            off();
        break;
    case kDecay2:
        s.level -= s.decay2Step;
        if (s.level < kEnvelopeOne)
            off();
        break;
    case kRelease:
        s.level -= s.releaseStep;
        if (s.level < kEnvelopeOne)
            off();
        break;
    default:
        break;
    }
}

void SCSP::stepTimers()
{
    for (u32 n = 0; n < 3; ++n) {
        Timer& t = m_timers[n];
        t.counter = static_cast<u16>(t.counter + t.step);
        if (t.counter == 0xFF00)
            m_intc.raise(kIrqTimerA + n);
    }
}

// Stages first to last of one sounding slot, whose stage 0 falls at
// position; stackBase is the stack index at position 0. Straight through:
// nearly every call runs all six, and inlined with those constants it
// tests nothing.
[[gnu::always_inline]] inline void SCSP::runStages(Slot& s, u32 position, u32 first, u32 last, u32 stackBase)
{
    const ScspTables& tables = scspTables();
    if (first <= 1 && 1 <= last)
        advancePosition(s);
    if (first <= 2 && 2 <= last)
        fetchSample(s);
    const bool direct = s.regs[6] & kDirect;
    if (first <= 3 && 3 <= last && !direct) {
        if (s.fullOutput) {
            s.gain = kUnity;
        } else {
            const s64 envelope = tables.envelope[(s.level >> kEnvelopeShift) & 1023];
            // Depth 0 scales by exactly one, and most slots have it.
            if (s.ampDepth == tables.ampDepth[0])
                s.gain = envelope;
            else
                s.gain = (envelope * s.ampDepth[s.ampWave[s.lfoPosition >> 24]]) >> kFraction;
        }
    }
    if (first <= 4 && 4 <= last && !direct)
        s.gain = (s.totalLevel * s.gain) >> kFraction;
    if (first <= 5 && 5 <= last && !direct)
        s.output = s.sample * s.gain;
    if (first <= 6 && 6 <= last && !(s.regs[6] & kStackInhibit))
        storeBe16(&m_stack[((stackBase + ((position + 6) & (kSlots - 1))) & (kStackWords - 1)) * 2],
                  static_cast<u16>(s.sample));
}

void SCSP::makeSample()
{
    s64 acc[2] = {0, 0};
    // Each slot passes through seven stages over seven consecutive
    // positions, so at position i the stages work on seven different slots;
    // those of slots 26 to 31 run on into the next sample's first positions.
    // The stages of different slots meet only in the sound stack (one write
    // a position, at that position's stack index), the DSP's mix inputs
    // (one write a position) and the sums. So each sounding slot can run all
    // its stages in one go, provided the stack writes and the mix inputs
    // still come in position order: first the carried-over stages of slots
    // 26 to 31, then the slots in ascending order. The stack index steps
    // once a position and wraps at the stack's end.
    const u32 stackBase = m_stackIndex;
    m_stackIndex = (m_stackIndex + kSlots) & (kStackWords - 1);
    // Slots that sound (enabled, not ended). Nothing here starts a slot, so
    // one silent now stays silent; only its LFO moves, counted by the tick.
    ++m_lfoTick;
    const u32 live = m_live;
    if (!m_skipSilentSlots) [[unlikely]]
        moveSilentLfos(~live);
    for (u32 rest = live & ~0u << (kSlots - 6); rest; rest &= rest - 1) {
        const u32 n = static_cast<u32>(std::countr_zero(rest));
        runStages(m_slots[n], n, kSlots - n, 6, stackBase);
    }
    for (u32 rest = live; rest; rest &= rest - 1) {
        const u32 n = static_cast<u32>(std::countr_zero(rest));
        Slot& s = m_slots[n];
        s.lfoPosition += s.lfoStep;
        s.advance = static_cast<u32>(s.phase >> kPhaseBits);
        // The sums hear the output the last sample left; they are taken
        // last, as the byte store to the mix input would make every field
        // above be read again.
        const s64 heard = s.output;
        const s64 pm = (s64{s.pitchWave[s.lfoPosition >> 24]} << s.pitchShift) >> 2;
        // A low octave under a deep pitch LFO would step backwards; the
        // phase stops at 0 instead of wrapping to a huge advance.
        const s64 phase = static_cast<s64>((s.phase & kPhaseFraction) + s.phaseStep) + pm;
        s.phase = phase < 0 ? 0 : static_cast<u64>(phase);
        runEnvelope(s);
        s.ended = s.endReached | s.offFlag;
        // A sample played to its end is silent: the monitor shows a
        // free voice, as drivers that never key off one-shots expect.
        if (s.endReached && s.envState != kEnvelopeOff) {
            s.offPhase = kRelease;
            s.envState = kEnvelopeOff;
            s.level = 0;
        }
        if (s.ended) {
            s.lfoTick = m_lfoTick;
            m_live &= ~(1u << n);
        } else if (n < kSlots - 6) {
            runStages(s, n, 1, 6, stackBase);
        } else {
            runStages(s, n, 1, kSlots - 1 - n, stackBase);
        }
        mixSlot(s, heard, acc);
    }

    s16 cd[2] = {0, 0};
    if (!m_cdAudio || !m_cdAudio->readExternalInput(cd, 0))
        cd[0] = cd[1] = 0;
    storeBe16(m_dsp.at(DSP::kExternalInputs), static_cast<u16>(cd[0]));
    storeBe16(m_dsp.at(DSP::kExternalInputs + 2), static_cast<u16>(cd[1]));
    // The machine's buffer stores the second accumulator first, and that
    // is the left channel: the disc's left sample goes there.
    acc[1] += s64{cd[0]} << kFraction;
    acc[0] += s64{cd[1]} << kFraction;

    s16 out[2];
    for (int c = 0; c < 2; ++c) {
        // The product may exceed 64 bits only for sums no slot count reaches;
        // clamp the sum first so it cannot.
        const s64 sum = std::clamp<s64>(acc[c], -(s64{1} << 42), s64{1} << 42);
        out[c] = static_cast<s16>(std::clamp<s64>((sum * m_master) >> 40, -32768, 32767));
    }
    if (m_machine)
        m_machine->pushSample(out);

    stepTimers();
    m_intc.raise(kIrqSample);

    const Slot& monitored = m_slots[m_monitorSlot];
    commonWord(0x408) = static_cast<u16>((commonWord(0x408) & ~0x780) | ((monitored.offset >> 12) & 15) << 7);
    if (soundTestInterrupt)
        m_intc.raise(kIrqTestSwitch);
    ++m_sampleCount;
}
