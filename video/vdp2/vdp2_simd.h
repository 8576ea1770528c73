#pragma once

// Fast paths of the line loops. Each gives the same dots as the plain code
// beside it: AVX2 where the host has it, and a compositor for the common
// line. Tests switch them off to compare the pictures.

#include "core/base/types.h"

#if defined(__x86_64__) || defined(__i386__)
#define KEST_X86 1
#include <immintrin.h>
#else
#define KEST_X86 0
#endif

namespace vdp2 {

struct FastPaths {
    bool avx2;  // from the processor
    bool packedCompositor = true;
};
extern FastPaths fastPaths;

// out[i] = palette[index[i]]; every index must be inside the palette.
void gatherColors(const u16* index, u32 count, const u32* palette, u32* out);

}  // namespace vdp2
