#pragma once

#include "core/base/types.h"

// Factor tables of the sound chip, each factor with 20 fraction bits. Built
// once and shared by every chip.
struct ScspTables {
    static constexpr int kZeroWave = 4;  // what an oscillator reset points at

    s32 master[16];
    s32 totalLevel[256];
    s32 sendLevel[8];
    s32 pan[16];
    s32 envelope[1024];
    u32 lfoStep[32];
    u8 ampWave[5][256];
    s8 pitchWave[5][256];
    s32 ampDepth[8][256];
};

const ScspTables& scspTables();
