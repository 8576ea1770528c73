// The sample step keeps what depends only on registers from the writes, and
// lets a silent slot's LFO run uncounted until something looks at it. A run
// that rewrites every slot register and reads every slot before each sample
// leaves neither shortcut anything to skip; it must match a plain run.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <tuple>

#include "scsp_testbench.h"
#include "support/log_capture.h"

namespace {

auto slotState(SCSP& chip, u32 n)
{
    const SCSP::Slot& s = chip.slot(n);
    return std::tuple(s.keyOn, s.ended, s.envState, s.offPhase, s.offFlag, s.fullOutput, s.loopReached, s.endReached,
                      s.level, s.phase, s.advance, s.position, s.offset, s.sample, s.gain, s.output, s.lfoPosition);
}

}  // namespace

TEST(ScspShortcuts, PlainRunMatchesAMusicMixWithDriverTraffic)
{
    LogCapture log;  // the DMA reports itself
    auto a = std::make_unique<ScspBench>(), b = std::make_unique<ScspBench>();
    u32 seed = 2024;
    auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 8; };
    auto both = [&](const std::function<void(ScspBench&)>& f) { f(*a), f(*b); };
    auto w = [&](u32 offset, u32 value) { both([=](ScspBench& c) { c.w(offset, static_cast<u16>(value)); }); };
    for (u32 i = 0; i < 0x30000; ++i) {
        const double v = 9000 * std::sin(2 * M_PI * i / 90.0) + static_cast<s32>(i * 2654435761u >> 21) - 1024;
        both([=](ScspBench& c) { c.poke16(0x10000 + 2 * i, static_cast<u16>(static_cast<s16>(v))); });
    }
    // A voice as a driver sets one up: a looping or one-shot sample, an
    // envelope, sometimes an LFO and a send to the DSP, then key-on.
    auto voice = [&](u32 base) {
        const u32 start = 0x10000 + (next() & 0x3FFFE), loopStart = next() % 2000;
        w(base + 0x02, start);
        w(base + 0x04, next() % 8 ? loopStart : 0);
        w(base + 0x06, loopStart + (next() % 8 ? next() % 3000 : 0));
        for (u32 word = 0x08; word <= 0x16; word += 2) {
            const u32 v = next();
            w(base + word, word == 0x0C ? v & (v % 4 ? 0x3F : 0x3FF) : word == 0x12 || word == 0x14 ? v % 3 * v : v);
        }
        w(base, 0x1800 | (next() & 0x0370) | start >> 16);
    };
    for (u32 n = 0; n < SCSP::kSlots; n += 1 + n % 2)
        voice(n * 0x20);
    for (u32 i = 0; i < 24000; ++i) {
        for (u32 n = 0; n < SCSP::kSlots; ++n) {
            for (u32 off = 0; off < 0x18; off += 2)
                b->slot(n, off, b->r(n * 0x20 + off));
            b->chip.slot(n);
        }
        both([](ScspBench& c) { c.run(1); });
        if (i % 40 != 0)
            continue;
        const u32 n = next() % SCSP::kSlots, base = n * 0x20, r = next();
        switch (next() % 8) {
        case 0: w(base, (a->r(base) & ~0x0800) | 0x1000); break;  // key off
        case 1: voice(base); break;
        case 2: both([=](ScspBench& c) { c.chip.writeByte(nullptr, base + r % 0x18, static_cast<u8>(r)); }); break;
        case 3: both([=](ScspBench& c) { c.chip.setSlotEnabled(n, r % 3 != 0); }); break;
        case 4:  // a DMA from sound memory into one slot's words
            w(0x412, 2 * (r & 0x3FFF));
            w(0x414, 0x1000 | base);
            w(0x416, 0x1000 | 12 << 1);
            break;
        case 5: {  // the loop moved under a playing voice, one end at a time
            const u32 p = a->chip.slot(n).position;
            w(base + 0x04 + 2 * (r % 2), r % 2 ? p + r % 500 : p / 2);
            break;
        }
        default: w(base + 2 * (r % 12), next()); break;  // pitch, LFO and the rest
        }
        if (i % 960 == 0) {
            for (u32 s = 0; s < SCSP::kSlots; ++s)
                ASSERT_TRUE(slotState(a->chip, s) == slotState(b->chip, s)) << "slot " << s << " at sample " << i;
        }
    }
    EXPECT_TRUE(a->left == b->left && a->right == b->right);
    EXPECT_GT(rms(a->left, 0, a->left.size()), 500) << "the mix is heard";
    for (u32 off = 0x600; off < 0x680; off += 2)
        EXPECT_EQ(a->r(off), b->r(off)) << "stack word " << (off - 0x600) / 2;
    for (u32 off = 0xE80; off < 0xEC0; off += 2)
        EXPECT_EQ(a->r(off), b->r(off)) << "mix input word " << (off - 0xE80) / 2;

    // Disabled slots fall silent where they stand and play on once enabled.
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        a->chip.setSlotEnabled(n, false);
    a->run(100);
    EXPECT_EQ(rms(a->left, 24000, 24100), 0);
    for (u32 n = 0; n < SCSP::kSlots; ++n)
        a->chip.setSlotEnabled(n, true);
    a->run(100);
    EXPECT_GT(rms(a->left, 24100, 24200), 100);
}

// The stack index steps once a position from 58 after a reset, so slot n's
// sample lands at word 58 + 32 * sample + (n + 6) % 32; slots 26 to 31
// store theirs early in the next sample.
TEST(ScspShortcuts, EachSlotWritesTheStackWordOfItsPosition)
{
    for (const u32 n : {0u, 25u, 26u, 31u}) {
        auto b = std::make_unique<ScspBench>();
        for (u32 i = 0; i < 64; ++i)
            b->poke16(0x1000 + 2 * i, 0x1234);
        b->slot(n, 0x02, 0x1000);
        b->slot(n, 0x06, 63);
        b->slot(n, 0x00, 0x1820);
        for (u32 k = 0; k < 5; ++k) {
            for (u32 off = 0x600; off < 0x680; off += 2)
                b->w(off, 0);
            b->run(1);
            const u32 word = (58 + 32 * k + ((n + 6) & 31)) & 63;
            for (u32 i = 0; i < 64 && k > 0; ++i)
                EXPECT_EQ(b->r(0x600 + 2 * i), i == word ? 0x1234 : 0) << "slot " << n << " sample " << k << " word " << i;
        }
    }
}
