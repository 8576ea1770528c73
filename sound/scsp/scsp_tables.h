#pragma once

#include "core/base/types.h"

// Factor tables of the sound chip, each factor with 20 fraction bits. Built
// once and shared by every chip.
struct ScspTables {
    static constexpr int kZeroWave = 4;  // what an oscillator reset points at
    static constexpr int kRates = 64;    // effective envelope rates
    static constexpr u32 kAttackAtOnce = 0xFFFFFFFF;

    s32 master[16];
    s32 totalLevel[256];
    s32 sendLevel[8];
    s32 pan[16];
    s32 envelope[1024];
    // By effective rate: the attack's factor (kAttackAtOnce at the top
    // rates, 0 where it never moves) and the decay step in level units.
    u32 attackFactor[kRates];
    s32 decayStep[kRates];
    u32 lfoStep[32];
    u8 ampWave[5][256];
    s8 pitchWave[5][256];
    s32 ampDepth[8][256];
};

const ScspTables& scspTables();
