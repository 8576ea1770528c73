// The chip's output measured as a listener would: pitch by FFT, levels and
// pan by RMS, loop order from a ramp, envelope and LFO from the waveform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "scsp_testbench.h"

namespace {

constexpr u32 kSample = 0x1000;  // where the test samples sit in sound memory

struct Voice {
    u16 word0 = 0x0020, loopStart = 0, loopEnd = 63;  // normal loop, 16-bit
    u16 rates = 0x001F, scale = 0x3C00;  // attack 31 at key rate scale 15: full at once
    u16 level = 0, pitch = 0, lfo = 0, mix = 0xE000;  // direct level 7, centre
};

void key(ScspBench& b, u32 n, const Voice& v, u32 start = kSample)
{
    b.slot(n, 0x02, static_cast<u16>(start));
    b.slot(n, 0x04, v.loopStart);
    b.slot(n, 0x06, v.loopEnd);
    b.slot(n, 0x0A, v.scale);  // the rates take the scale in force when written
    b.slot(n, 0x08, v.rates);
    b.slot(n, 0x0C, v.level);
    b.slot(n, 0x10, v.pitch);
    b.slot(n, 0x12, v.lfo);
    b.slot(n, 0x16, v.mix);
    b.slot(n, 0x00, static_cast<u16>(0x1800 | v.word0 | (start >> 16)));
}

// One period of a sine, 64 samples, 16-bit at kSample and 8-bit after it.
void writeSine(ScspBench& b, double amplitude = 16000)
{
    for (u32 i = 0; i < 64; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * i / 64.0);
        b.poke16(kSample + 2 * i, static_cast<u16>(static_cast<s16>(v)));
        b.ram[kSample + 0x100 + i] = static_cast<u8>(static_cast<s8>(v / 256));
    }
}

double toneRms(const Voice& v, bool leftChannel = true)
{
    ScspBench b;
    writeSine(b);
    key(b, 0, v);
    b.run(4096);
    return rms(leftChannel ? b.left : b.right, 1024, 4096);
}

}  // namespace

TEST(ScspSound, PitchFollowsOctaveAndFrequencyNumber)
{
    const struct { u16 pitch; bool pcm8; } cases[] = {
        {0x0000, false}, {0x0A00, false}, {0x7100, false}, {0x0155, true}, {0x1000, false},
    };
    for (const auto& c : cases) {
        ScspBench b;
        writeSine(b);
        Voice v;
        v.pitch = c.pitch;
        if (c.pcm8)
            v.word0 |= 0x10;
        key(b, 0, v, c.pcm8 ? kSample + 0x100 : kSample);
        b.run(20000);
        const int oct = static_cast<s8>(static_cast<u8>(c.pitch >> 7)) >> 4;  // signed 4-bit
        const double expected = 44100.0 * std::pow(2.0, oct) * (1024 + (c.pitch & 0x3FF)) / 1024 / 64;
        EXPECT_NEAR(dominantHz(b.left, 2048, 16384), expected, expected * 0.003) << std::hex << c.pitch;
        EXPECT_NEAR(dominantHz(b.right, 2048, 16384), expected, expected * 0.003) << std::hex << c.pitch;
    }
}

TEST(ScspSound, TotalLevelSendLevelAndPanScaleTheOutput)
{
    const double full = toneRms(Voice{});
    EXPECT_NEAR(full, 16000 / std::sqrt(2.0), 100);
    Voice v;
    v.level = 16;  // 6 dB a step of 16
    EXPECT_NEAR(toneRms(v) / full, 0.5, 0.01);
    v.level = 48;
    EXPECT_NEAR(toneRms(v) / full, 0.125, 0.005);
    v = Voice{};
    v.mix = 0xC000;  // direct level 6: -6 dB
    EXPECT_NEAR(toneRms(v) / full, 0.501, 0.01);
    // Pan 4 cuts the right channel by 12 dB, pan 0x14 the left; 0x0F silences the right.
    v.mix = 0xE400;
    EXPECT_NEAR(toneRms(v, true) / full, 1.0, 0.01);
    EXPECT_NEAR(toneRms(v, false) / full, 0.251, 0.01);
    v.mix = 0xF400;
    EXPECT_NEAR(toneRms(v, true) / full, 0.251, 0.01);
    EXPECT_NEAR(toneRms(v, false) / full, 1.0, 0.01);
    v.mix = 0xEF00;
    EXPECT_EQ(toneRms(v, false), 0.0);
    // Direct level 0 is silence.
    v.mix = 0x0000;
    EXPECT_EQ(toneRms(v), 0.0);
}

namespace {

// Plays a ramp (offset k holds (k + 1) x 1000) at one sample per output
// sample and answers the offsets heard, from the first non-silent output.
std::vector<int> playedOffsets(u16 loopMode, u32 count)
{
    ScspBench b;
    for (u32 k = 0; k < 16; ++k)
        b.poke16(kSample + 2 * k, static_cast<u16>((k + 1) * 1000));
    Voice v;
    v.word0 = static_cast<u16>(loopMode << 5);
    v.loopStart = 4;
    v.loopEnd = 11;
    key(b, 0, v);
    b.run(count + 16);
    std::vector<int> heard;
    auto first = std::find_if(b.left.begin(), b.left.end(), [](s16 s) { return s != 0; });
    for (auto it = first; it != b.left.end() && heard.size() < count; ++it)
        heard.push_back(*it / 1000 - 1);
    return heard;
}

}  // namespace

TEST(ScspSound, LoopModesOnARamp)
{
    // Off: through to the loop end once, then silence.
    const std::vector<int> off = playedOffsets(0, 20);
    const std::vector<int> once = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_GE(off.size(), once.size());
    EXPECT_TRUE(std::equal(once.begin(), once.end(), off.begin()));
    EXPECT_TRUE(std::all_of(off.begin() + 12, off.end(), [](int k) { return k == -1; }));
    EXPECT_EQ(playedOffsets(1, 22), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 4, 5, 6, 7, 8, 9, 10,
                                                      11, 4, 5}));
    EXPECT_EQ(playedOffsets(2, 22), (std::vector<int>{0, 1, 2, 3, 11, 10, 9, 8, 7, 6, 5, 4, 11, 10, 9, 8, 7, 6, 5,
                                                      4, 11, 10}));
    EXPECT_EQ(playedOffsets(3, 24), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 10, 9, 8, 7, 6, 5,
                                                      4, 4, 5, 6, 7}));
}

namespace {

// A constant sample, so the output follows the envelope alone.
void writeLevel(ScspBench& b, u32 count = 64)
{
    for (u32 k = 0; k < count; ++k)
        b.poke16(kSample + 2 * k, 16000);
}

// Index of the first output sample from `from` on that is at least (or,
// falling, at most) v; the size when there is none.
std::size_t first(const std::vector<s16>& s, std::size_t from, double v, bool rising)
{
    for (std::size_t i = from; i < s.size(); ++i) {
        if (rising ? s[i] >= v : s[i] <= v)
            return i;
    }
    return s.size();
}

double samples(double ms)
{
    return ms * 44.1;
}

}  // namespace

// The chip's attack times: from key-on to full level, the effective rate
// being twice the field plus the key rate scale and pitch (scale 15: none).
TEST(ScspSound, EnvelopeAttackAndReleaseTimes)
{
    const struct { u16 rates, scale, pitch; double ms; } attacks[] = {
        {31, 0x3C00, 0, 0},           // full level at once
        {20, 0x3C00, 0, 12},          // rate 40
        {8, 0x3C00, 0, 760},          // rate 16
        {10, 0x0400, 0x1200, 110},    // 20 + 2 x (1 + 2) + 1 = 27
        {12, 0x0000, 0x7000, 380},    // 24 + 2 x (0 - 2) = 20
    };
    for (const auto& c : attacks) {
        // On the heap: the machine's sample buffer is large for a stack frame.
        const auto bench = std::make_unique<ScspBench>();
        ScspBench& b = *bench;
        writeLevel(b);
        key(b, 0, {.rates = c.rates, .scale = c.scale, .pitch = c.pitch});
        b.run(static_cast<u32>(samples(c.ms) * 1.1) + 64);
        const double reached = static_cast<double>(first(b.left, 0, 16000, true));
        EXPECT_NEAR(reached, samples(c.ms), std::max(1.0, samples(c.ms) * 0.05)) << c.rates << " " << c.scale;
    }
    // Decays and releases cross the 96 dB in the table's time, evenly in dB:
    // timed between two levels below full.
    const struct { u16 rates, scale, pitch; bool release; double fromDb, toDb, ms; } decays[] = {
        {31 << 6 | 31, 0x3C00 | 31 << 5, 0, false, 12, 60, 3.6},   // decay 1, rate 62
        {16 << 6 | 31, 0x3C00 | 31 << 5, 0, false, 12, 60, 690},   // rate 32
        {8 << 6 | 31, 0x3C00 | 31 << 5, 0, false, 3, 15, 11100},   // rate 16
        {16 << 11 | 31, 0x3C00, 0, false, 12, 60, 690},            // decay level 0: decay 2 at once
        {31, 0x3C00 | 16, 0, true, 12, 60, 690},                   // release
        {31, 0x0000 | 20, 0x0A00, true, 12, 60, 98},               // 40 + 2 x (0 + 1) + 1 = 43
    };
    for (const auto& c : decays) {
        const auto bench = std::make_unique<ScspBench>();
        ScspBench& b = *bench;
        writeLevel(b);
        key(b, 0, {.rates = c.rates, .scale = c.scale, .pitch = c.pitch});
        const double full = 16000;  // the sample at unity gain
        b.run(2);
        if (c.release)
            b.slot(0, 0x00, 0x1020);
        b.run(static_cast<u32>(samples(c.ms) * c.toDb / 96 * 1.1) + 64);
        const std::size_t heard = first(b.left, 0, 1, true);
        const std::size_t from = first(b.left, heard, full * std::pow(10, -c.fromDb / 20), false);
        const std::size_t to = first(b.left, from, full * std::pow(10, -c.toDb / 20), false);
        const double expected = samples(c.ms) * (c.toDb - c.fromDb) / 96;
        EXPECT_NEAR(static_cast<double>(to - from), expected, std::max(2.0, expected * 0.05))
            << c.rates << " " << c.scale;
    }
}

// What sound drivers key: attack 31, decay-1 rate 0, release 31, key rate
// scale 0, here at octave -3. Full level within 1 ms, held, and silence
// within 1 ms of the key-off.
TEST(ScspSound, DriverVoiceIsFullAtOnceAndSilentAtOnce)
{
    ScspBench b;
    writeLevel(b);
    key(b, 0, {.rates = 0x001F, .scale = 0x001F, .pitch = 0x6800});
    b.run(8820);
    EXPECT_LE(first(b.left, 0, 15900, true), 44u);
    EXPECT_TRUE(std::all_of(b.left.begin() + 44, b.left.end(), [](s16 v) { return v > 15900; }));
    b.left.clear();
    b.slot(0, 0x00, 0x1020);
    b.run(441);
    EXPECT_TRUE(std::all_of(b.left.begin() + 44, b.left.end(), [](s16 v) { return v == 0; }));
    EXPECT_TRUE(b.chip.slot(0).ended);
}

// Slot 5 through attack (rate 28, 95 ms), decay 1 to decay level 4 (-12 dB),
// decay 2 and release, read as a driver reads it: phase in bits 5-6, the
// attenuation's top five bits in 0-4 (31 silent).
TEST(ScspSound, MonitorFollowsOneSlotThroughItsPhases)
{
    ScspBench b;
    writeLevel(b);
    b.w(0x408, 5 << 11);
    EXPECT_EQ(b.r(0x408), 0x007F) << "a slot never keyed: released, silent";
    key(b, 5, {.rates = 12 << 11 | 16 << 6 | 14, .scale = 0x3C00 | 4 << 5 | 20});
    std::vector<std::pair<int, int>> seen;  // phase, attenuation, whenever either changes
    auto watch = [&](u32 n) {
        for (u32 i = 0; i < n; i += 50) {
            b.run(50);
            const u16 m = b.r(0x408);
            ASSERT_EQ(b.chip.readByte(nullptr, 0x409), m & 0xFF);
            if (seen.empty() || seen.back() != std::pair{(m >> 5) & 3, m & 31})
                seen.emplace_back((m >> 5) & 3, m & 31);
        }
    };
    watch(22050);
    b.slot(5, 0x00, 0x1020);
    watch(22050);
    ASSERT_GE(seen.size(), 8u);
    EXPECT_EQ(seen.front().first, 0);
    EXPECT_EQ(seen.back(), (std::pair{3, 31}));
    for (std::size_t i = 1; i < seen.size(); ++i) {
        const auto [was, wasLevel] = seen[i - 1];
        const auto [phase, level] = seen[i];
        ASSERT_TRUE(phase == was || phase == was + 1) << i;
        if (phase == 0) {
            EXPECT_LT(level, wasLevel) << "the attack only rises";
        } else if (phase == was) {
            EXPECT_GT(level, wasLevel) << "decays and the release only fall";
        }
    }
    auto reached = [&](int phase) {
        return std::find_if(seen.begin(), seen.end(), [&](auto p) { return p.first == phase; });
    };
    ASSERT_NE(reached(2), seen.end());
    EXPECT_EQ(reached(1)->second, 0) << "decay 1 starts at full level";
    EXPECT_EQ(reached(2)->second, 4) << "decay 2 starts at the decay level";
    EXPECT_LT(reached(3)->second, 31) << "the release starts where decay 2 stood";

    // Silent in decay 2 until the key-off; a sample played to its end is free.
    key(b, 5, {.rates = 31 << 11 | 31, .scale = 0x3C00});
    b.run(200);
    EXPECT_EQ(b.r(0x408), 0x005F);
    b.slot(5, 0x00, 0x1000);
    EXPECT_EQ(b.r(0x408), 0x007F);
    key(b, 5, {.word0 = 0, .rates = 31, .scale = 0x3C00});
    b.run(32);
    EXPECT_EQ(b.r(0x408), 0x0040);
    b.run(40);
    EXPECT_EQ(b.r(0x408), 0x007F);
}

// With the loop-start link the attack (rate 40, 12 ms) holds at full level
// until the position reaches the loop start, 2000 samples in; only then
// does decay 1 begin.
TEST(ScspSound, LoopStartLinkHoldsTheAttackUntilTheLoopStart)
{
    ScspBench b;
    writeLevel(b, 2064);
    b.w(0x408, 0);
    key(b, 0, {.loopStart = 2000, .loopEnd = 2063, .rates = 31 << 6 | 20, .scale = 0x7C00 | 31 << 5});
    b.run(1990);
    EXPECT_EQ(b.r(0x408), 0x0000) << "attack phase, full level";
    EXPECT_GT(b.left.back(), 15900);
    b.run(20);
    EXPECT_EQ(b.r(0x408) & 0x60, 0x20) << "decay 1";
    b.run(200);
    EXPECT_LT(b.left.back(), 16000 / 100) << "decay 1 at rate 62 is past -40 dB";
}

// A triangle amplitude LFO at setting 31 (172.3 Hz) and depth 7 (24 dB)
// on a constant sample: one dip every 256 samples, never above the level
// without modulation, down to 24 dB below it.
TEST(ScspSound, AmplitudeLfoCutsAtItsFrequency)
{
    ScspBench b;
    for (u32 k = 0; k < 64; ++k)
        b.poke16(kSample + 2 * k, 16000);
    Voice v;
    v.lfo = 31 << 10 | 2 << 3 | 7;
    key(b, 0, v);
    b.run(4096);
    const auto [lo, hi] = std::minmax_element(b.left.begin() + 512, b.left.end());
    EXPECT_LE(*hi, 16000);
    EXPECT_GT(*hi, 15500);
    EXPECT_NEAR(20 * std::log10(*lo / 16000.0), -24, 0.5);
    std::vector<std::size_t> dips;
    for (std::size_t i = 513; i + 1 < b.left.size(); ++i) {
        if (b.left[i] <= b.left[i - 1] && b.left[i] < b.left[i + 1] && b.left[i] < 2000)
            dips.push_back(i);
    }
    ASSERT_GE(dips.size(), 10u);
    const double period = double(dips.back() - dips.front()) / double(dips.size() - 1);
    EXPECT_NEAR(period, 44100 / 172.3, 1.0);
}

// Octave -8 steps 1/256 of a sample; a deep square pitch LFO subtracts
// more than that. The phase holds at 0 instead of wrapping to a huge
// advance, which would move the slot backwards and off its start.
TEST(ScspSound, DeepPitchLfoAtTheLowestOctaveDoesNotRunAway)
{
    ScspBench b;
    writeSine(b);
    Voice v;
    v.word0 = 0;  // no loop: running past the end would end the slot
    v.loopEnd = 60;
    v.pitch = 0x4000;
    v.lfo = 31 << 10 | 1 << 8 | 7 << 5;
    key(b, 0, v);
    u32 last = 0;
    for (int i = 0; i < 3000; ++i) {
        b.run(1);
        ASSERT_GE(b.chip.slot(0).position, last) << "sample " << i;
        last = b.chip.slot(0).position;
    }
    EXPECT_FALSE(b.chip.slot(0).ended);
    EXPECT_GT(last, 10u);
}

namespace {

// Stands in for the CD block: one stereo pair per output sample.
struct FakeCdAudio : Device {
    FakeCdAudio() : Device("CDB") {}
    bool readExternalInput(void* out, int kind) override
    {
        static_cast<s16*>(out)[0] = left;
        static_cast<s16*>(out)[1] = right;
        return kind == 0;
    }
    s16 left = 1234, right = -4321;
};

}  // namespace

// The disc's left sample reaches the left channel; the pair is also kept,
// big-endian, in the DSP's external inputs. Loud slots with it clamp.
TEST(ScspSound, CdAudioKeepsLeftAndRightAndClamps)
{
    FakeCdAudio cd;
    ScspBench b(&cd);
    b.run(3);
    EXPECT_EQ(b.left, (std::vector<s16>{1234, 1234, 1234}));
    EXPECT_EQ(b.right, (std::vector<s16>{-4321, -4321, -4321}));
    EXPECT_EQ(b.r(0xEE0), 1234);
    EXPECT_EQ(b.r(0xEE2), static_cast<u16>(-4321));

    for (u32 k = 0; k < 64; ++k)
        b.poke16(kSample + 2 * k, 30000);
    cd.left = 30000;
    cd.right = -30000;
    key(b, 0, Voice{});
    b.left.clear();
    b.right.clear();
    b.run(50);
    EXPECT_EQ(b.left.back(), 32767);
    EXPECT_EQ(b.right.back(), 0);  // 30000 - 30000
}

// Each slot passes its stages over seven positions, and those of slots 26
// to 31 run on into the next sample: every slot alone must sound the same,
// reach the sound stack, and as a one-shot fall silent for good.
TEST(ScspSound, EverySlotAloneSoundsTheSameAndStopsAtItsEnd)
{
    double reference = 0;
    for (const u32 n : {0u, 1u, 7u, 25u, 26u, 30u, 31u}) {
        for (const u16 word0 : {0x0020, 0x0000}) {
            auto bench = std::make_unique<ScspBench>();  // too big for the stack
            ScspBench& b = *bench;
            writeSine(b);
            key(b, n, {.word0 = word0});
            b.run(1024);
            bool stacked = false;
            for (u32 a = 0x600; a < 0x680; a += 2)
                stacked |= b.r(a) != 0;
            EXPECT_TRUE(stacked) << n;
            if (word0 == 0x0000) {
                EXPECT_GT(rms(b.left, 0, 64), 1000) << n;
                EXPECT_TRUE(std::all_of(b.left.begin() + 80, b.left.end(), [](s16 v) { return v == 0; })) << n;
                continue;
            }
            reference = n == 0 ? rms(b.left, 512, 1024) : reference;
            EXPECT_GT(reference, 5000);
            EXPECT_NEAR(rms(b.left, 512, 1024), reference, reference * 0.002) << n;
        }
    }
}

// The LFO runs in every enabled slot, sounding or not.
TEST(ScspSound, LfoMovesInSilentSlotsToo)
{
    ScspBench b;
    b.slot(3, 0x12, 0x5000);
    key(b, 9, {.lfo = 0x6000});
    const u32 step3 = b.chip.slot(3).lfoStep, step9 = b.chip.slot(9).lfoStep;
    ASSERT_NE(step3, step9);
    b.run(1000);
    EXPECT_EQ(b.chip.slot(3).lfoPosition, step3 * 1000);
    EXPECT_EQ(b.chip.slot(9).lfoPosition, step9 * 1000);
}

// Two slots sending to one DSP mix input: the higher slot writes it later
// in each sample, so its value is the one left there.
TEST(ScspSound, LaterSlotOwnsASharedMixInput)
{
    auto mixInput = [](bool low, bool high) {
        auto b = std::make_unique<ScspBench>();
        writeSine(*b);
        if (low)
            key(*b, 4, {.pitch = 0x0800});
        if (high)
            key(*b, 21, {.pitch = 0x0A00});
        b->slot(4, 0x14, 5 << 3 | 7);
        b->slot(21, 0x14, 5 << 3 | 1);
        std::vector<u32> seen;
        for (int i = 0; i < 300; ++i) {
            b->chip.makeSample();
            seen.push_back(u32{b->r(0xE94)} << 16 | b->r(0xE96));
        }
        return seen;
    };
    const std::vector<u32> high = mixInput(false, true);
    EXPECT_EQ(mixInput(true, true), high);
    EXPECT_NE(mixInput(true, false), high);
}
