// The sample step keeps what depends only on registers from the writes, and
// lets a silent slot's LFO run uncounted until something looks at it. A run
// that rewrites every slot register and reads every slot before each sample
// leaves neither shortcut anything to skip; it must match a plain run.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "scsp_testbench.h"
#include "support/log_capture.h"

namespace {

struct Driver {
    ScspBench a, b;
    u32 seed = 2024;

    u32 next()
    {
        seed = seed * 1103515245 + 12345;
        return seed >> 8;
    }
    void w(u32 offset, u16 value)
    {
        a.w(offset, value);
        b.w(offset, value);
    }
    void wb(u32 offset, u8 value)
    {
        a.chip.writeByte(nullptr, offset, value);
        b.chip.writeByte(nullptr, offset, value);
    }
    void enable(u32 n, bool on)
    {
        a.chip.setSlotEnabled(n, on);
        b.chip.setSlotEnabled(n, on);
    }
    // A voice as a driver sets one up: a looping or one-shot sample, an
    // envelope, sometimes an LFO, a send to the DSP, then key-on.
    void voice(u32 n)
    {
        const u32 base = n * 0x20;
        const u32 start = 0x10000 + (next() & 0x3FFFE);
        const u16 loopStart = next() % 2000;
        w(base + 0x02, static_cast<u16>(start));
        w(base + 0x04, next() % 8 ? loopStart : 0);
        w(base + 0x06, static_cast<u16>(loopStart + (next() % 8 ? next() % 3000 : 0)));
        w(base + 0x0A, static_cast<u16>(next()));
        w(base + 0x08, static_cast<u16>(next()));
        w(base + 0x0C, static_cast<u16>(next() & (next() % 4 ? 0x7F : 0x3FF)));
        w(base + 0x10, static_cast<u16>(next() % 2 ? (13 + next() % 4) << 11 | (next() & 0x3FF) : next()));
        w(base + 0x12, static_cast<u16>(next() % 3 ? 0 : next()));
        w(base + 0x14, static_cast<u16>(next() % 4 ? 0 : next()));
        w(base + 0x16, static_cast<u16>(next()));
        w(base, static_cast<u16>(0x1800 | (next() & 0x0370) | start >> 16));
    }
};

void expectSameSlots(ScspBench& a, ScspBench& b, u32 sample)
{
    for (u32 n = 0; n < SCSP::kSlots; ++n) {
        const SCSP::Slot& x = a.chip.slot(n);
        const SCSP::Slot& y = b.chip.slot(n);
        const auto fields = [](const SCSP::Slot& s) {
            return std::tuple(s.keyOn, s.ended, s.envState, s.offPhase, s.offFlag, s.fullOutput, s.loopReached,
                              s.endReached, s.level, s.phase, s.advance, s.position, s.offset, s.sample, s.gain,
                              s.output, s.lfoPosition, s.lfoStep);
        };
        ASSERT_TRUE(fields(x) == fields(y)) << "slot " << n << " at sample " << sample;
    }
}

}  // namespace

TEST(ScspShortcuts, PlainRunMatchesAMusicMixWithDriverTraffic)
{
    LogCapture log;  // the DMA reports itself
    auto d = std::make_unique<Driver>();
    for (ScspBench* c : {&d->a, &d->b}) {
        for (u32 i = 0; i < 0x30000; ++i) {
            const double tone = 9000 * std::sin(2 * M_PI * i / 90.0) + static_cast<s32>(i * 2654435761u >> 21) - 1024;
            c->poke16(0x10000 + 2 * i, static_cast<u16>(static_cast<s16>(tone)));
        }
    }
    for (u32 n = 0; n < SCSP::kSlots; ++n) {
        if (n % 3 != 2)
            d->voice(n);
    }
    for (u32 i = 0; i < 24000; ++i) {
        for (u32 n = 0; n < SCSP::kSlots; ++n) {
            for (u32 word = 0; word < 12; ++word)
                d->b.slot(n, 2 * word, d->b.r(n * 0x20 + 2 * word));
            d->b.chip.slot(n);
        }
        d->a.run(1);
        d->b.run(1);
        if (i % 120 != 0)
            continue;
        const u32 n = d->next() % SCSP::kSlots;
        switch (d->next() % 8) {
        case 0: d->w(n * 0x20, static_cast<u16>((d->a.r(n * 0x20) & ~0x0800) | 0x1000)); break;  // key off
        case 1: d->voice(n); break;
        case 2: d->wb(n * 0x20 + d->next() % 0x18, static_cast<u8>(d->next())); break;
        case 3: d->w(n * 0x20 + 0x12, static_cast<u16>(d->next())); break;  // LFO, maybe its reset
        case 4: d->enable(n, d->next() % 3 != 0); break;
        case 5: d->w(n * 0x20 + 0x10, static_cast<u16>(d->next())); break;  // pitch bend
        case 6:  // a DMA from sound memory into one slot's words
            d->w(0x412, static_cast<u16>(0x10000 + 2 * (d->next() & 0x3FFF)));
            d->w(0x414, static_cast<u16>(0x1000 | n * 0x20));
            d->w(0x416, 0x1000 | 12 << 1);
            break;
        default: d->w(n * 0x20 + 2 * (d->next() % 12), static_cast<u16>(d->next())); break;
        }
        if (i % 960 == 0)
            expectSameSlots(d->a, d->b, i);
    }
    expectSameSlots(d->a, d->b, 24000);
    EXPECT_TRUE(d->a.left == d->b.left);
    EXPECT_TRUE(d->a.right == d->b.right);
    EXPECT_GT(rms(d->a.left, 0, d->a.left.size()), 500) << "the mix is heard";
    for (u32 a = 0x600; a < 0x680; a += 2)
        EXPECT_EQ(d->a.r(a), d->b.r(a)) << "stack word " << (a - 0x600) / 2;
    for (u32 a = 0xE80; a < 0xEC0; a += 2)
        EXPECT_EQ(d->a.r(a), d->b.r(a)) << "mix input word " << (a - 0xE80) / 2;

    // Disabled slots fall silent where they stand and play on once enabled.
    ScspBench& a = d->a;
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        a.chip.setSlotEnabled(n, false);
    const std::size_t from = a.left.size();
    a.run(100);
    EXPECT_EQ(rms(a.left, from, from + 100), 0);
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        a.chip.setSlotEnabled(n, true);
    a.run(100);
    EXPECT_GT(rms(a.left, from + 100, from + 200), 100);
}
