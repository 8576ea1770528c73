#pragma once

// Fast paths of the line loops. Each gives the same dots as the plain code
// beside it: AVX2 where the host has it, and a compositor for the common
// line. The machine's shortcuts switch them; tests switch them off to
// compare the pictures.

#include <cstring>

#include "core/base/shortcuts.h"
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
    KEST_AVX2 friend Lanes8 operator*(Lanes8 a, Lanes8 b) { return _mm256_mullo_epi32(a.v, b.v); }
    KEST_AVX2 friend Lanes8 operator~(Lanes8 a) { return _mm256_xor_si256(a.v, _mm256_set1_epi32(-1)); }
    KEST_AVX2 friend Lanes8 operator<<(Lanes8 a, u32 n) { return _mm256_sll_epi32(a.v, _mm_cvtsi32_si128(static_cast<int>(n))); }
    KEST_AVX2 friend Lanes8 operator>>(Lanes8 a, u32 n) { return _mm256_srl_epi32(a.v, _mm_cvtsi32_si128(static_cast<int>(n))); }
    KEST_AVX2 friend Lanes8 operator<<(Lanes8 a, Lanes8 n) { return _mm256_sllv_epi32(a.v, n.v); }
    KEST_AVX2 friend Lanes8 operator>>(Lanes8 a, Lanes8 n) { return _mm256_srlv_epi32(a.v, n.v); }
};

// The eight 32-bit words at base + index * Scale bytes (index unsigned), as
// _mm256_i32gather_epi32 reads them: eight plain loads, which many hosts run
// in well under half the time of their gather instruction.
template <int Scale>
KEST_AVX2 [[gnu::always_inline]] inline __m256i gather8(const void* base, __m256i index)
{
    const u8* bytes = static_cast<const u8*>(base);
    auto at = [bytes](u64 i) {
        s32 word;
        std::memcpy(&word, bytes + i * Scale, 4);
        return word;
    };
    const __m128i low = _mm256_castsi256_si128(index), high = _mm256_extracti128_si256(index, 1);
    const u64 i01 = static_cast<u64>(_mm_cvtsi128_si64(low)), i23 = static_cast<u64>(_mm_extract_epi64(low, 1));
    const u64 i45 = static_cast<u64>(_mm_cvtsi128_si64(high)), i67 = static_cast<u64>(_mm_extract_epi64(high, 1));
    __m128i a = _mm_cvtsi32_si128(at(static_cast<u32>(i01)));
    a = _mm_insert_epi32(a, at(i01 >> 32), 1);
    a = _mm_insert_epi32(a, at(static_cast<u32>(i23)), 2);
    a = _mm_insert_epi32(a, at(i23 >> 32), 3);
    __m128i b = _mm_cvtsi32_si128(at(static_cast<u32>(i45)));
    b = _mm_insert_epi32(b, at(i45 >> 32), 1);
    b = _mm_insert_epi32(b, at(static_cast<u32>(i67)), 2);
    b = _mm_insert_epi32(b, at(i67 >> 32), 3);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}
#endif

using FastPaths = Shortcuts::Vdp2;

// out[i] = palette[index[i]]; every index must be inside the palette.
void gatherColors(bool avx2, const u16* index, u32 count, const u32* palette, u32* out);

}  // namespace vdp2
