#include "video/vdp2/vdp2_simd.h"

namespace {

void gatherColorsPlain(const u16* __restrict index, u32 count, const u32* __restrict palette, u32* __restrict out)
{
#pragma GCC unroll 8
    for (u32 i = 0; i < count; ++i)
        out[i] = palette[index[i]];
}

#if KEST_X86
__attribute__((target("avx2"))) void gatherColorsAvx2(const u16* __restrict index, u32 count,
                                                      const u32* __restrict palette, u32* __restrict out)
{
    u32 i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i at = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(index + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            vdp2::gather8<4>(palette, at));
    }
    gatherColorsPlain(index + i, count - i, palette, out + i);
}
#endif

}  // namespace

namespace vdp2 {

void gatherColors(bool avx2, const u16* index, u32 count, const u32* palette, u32* out)
{
#if KEST_X86
    if (avx2)
        return gatherColorsAvx2(index, count, palette, out);
#endif
    gatherColorsPlain(index, count, palette, out);
}

}  // namespace vdp2
