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

#if KEST_X86
#define KEST_AVX2 __attribute__((target("avx2")))

// Eight 32-bit lanes with the few operators the dot decoders use, so that a
// decoder written once over u32 also runs eight dots at a time: the AVX2
// loops call the same field functions as the plain ones. A u32 operand
// stands for all eight lanes; a shift by Lanes8 shifts each lane by its own.
struct Lanes8 {
    __m256i v;

    Lanes8() = default;
    KEST_AVX2 Lanes8(__m256i lanes) : v(lanes) {}
    KEST_AVX2 Lanes8(u32 all) : v(_mm256_set1_epi32(static_cast<int>(all))) {}

    KEST_AVX2 friend Lanes8 operator&(Lanes8 a, Lanes8 b) { return _mm256_and_si256(a.v, b.v); }
    KEST_AVX2 friend Lanes8 operator|(Lanes8 a, Lanes8 b) { return _mm256_or_si256(a.v, b.v); }
    KEST_AVX2 friend Lanes8 operator^(Lanes8 a, Lanes8 b) { return _mm256_xor_si256(a.v, b.v); }
    KEST_AVX2 friend Lanes8 operator+(Lanes8 a, Lanes8 b) { return _mm256_add_epi32(a.v, b.v); }
    KEST_AVX2 friend Lanes8 operator-(Lanes8 a, Lanes8 b) { return _mm256_sub_epi32(a.v, b.v); }
    KEST_AVX2 friend Lanes8 operator<<(Lanes8 a, u32 n) { return _mm256_sll_epi32(a.v, _mm_cvtsi32_si128(static_cast<int>(n))); }
    KEST_AVX2 friend Lanes8 operator>>(Lanes8 a, u32 n) { return _mm256_srl_epi32(a.v, _mm_cvtsi32_si128(static_cast<int>(n))); }
    KEST_AVX2 friend Lanes8 operator<<(Lanes8 a, Lanes8 n) { return _mm256_sllv_epi32(a.v, n.v); }
    KEST_AVX2 friend Lanes8 operator>>(Lanes8 a, Lanes8 n) { return _mm256_srlv_epi32(a.v, n.v); }
};
#endif

struct FastPaths {
    bool avx2;  // from the processor
    bool packedCompositor = true;
    bool rotationLines = true;  // the one-set and two-set loops of rotation lines over wrapping cell maps
    bool hiddenLayers = true;   // layers whose every dot has priority 0 or is outside the window go unfetched
    bool bitmapRows = true;     // bitmap lines at 1:1 read as runs along their row
};
extern FastPaths fastPaths;

// out[i] = palette[index[i]]; every index must be inside the palette.
void gatherColors(const u16* index, u32 count, const u32* palette, u32* out);

}  // namespace vdp2
