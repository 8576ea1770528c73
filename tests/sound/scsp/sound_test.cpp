// The chip's output measured as a listener would: pitch by FFT, levels and
// pan by RMS, loop order from a ramp, envelope and LFO from the waveform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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

// RMS of consecutive 441-sample blocks (10 ms).
std::vector<double> blocks(const std::vector<s16>& s)
{
    std::vector<double> out;
    for (std::size_t at = 0; at + 441 <= s.size(); at += 441)
        out.push_back(rms(s, at, at + 441));
    return out;
}

}  // namespace

// Attack 20 and release 20 at key rate scale 0 move the level by 20 << 6
// a sample: 1023 steps of 1 << 15 take 26189 samples (594 ms). The 10-bit
// level spans 96 dB, so a quarter of the way up is still below -70 dB.
TEST(ScspSound, EnvelopeAttackAndReleaseTimes)
{
    ScspBench b;
    writeSine(b);
    Voice v;
    v.rates = 20;
    v.scale = 20;  // release rate 20, decay level 0, key rate scale 0
    key(b, 0, v);
    b.run(30000);
    const double full = 16000 / std::sqrt(2.0);
    const std::vector<double> up = blocks(b.left);
    EXPECT_LT(up[14] / full, 0.001) << "a quarter into the attack";
    EXPECT_NEAR(20 * std::log10(up[29] / full), -48, 3) << "halfway";
    const auto reached = std::find_if(up.begin(), up.end(), [&](double r) { return r > 0.99 * full; });
    EXPECT_NEAR((reached - up.begin()) * 441.0, 26189, 441 + 100);

    b.left.clear();
    b.slot(0, 0x00, 0x1020);  // key-on bit clear: release
    b.run(30000);
    const std::vector<double> down = blocks(b.left);
    // 60 dB down after 640 of the 1023 steps; silent once the level is 0.
    const auto quiet = std::find_if(down.begin(), down.end(), [&](double r) { return r < full / 1000; });
    EXPECT_NEAR((quiet - down.begin()) * 441.0, 16384, 441 + 300);
    EXPECT_TRUE(std::all_of(b.left.begin() + 26300, b.left.end(), [](s16 s) { return s == 0; }));
    EXPECT_TRUE(b.chip.slot(0).ended);
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
