// VDP2 sprite layer (VDP1's display frame buffer) and external layer (the
// MPEG card's frame buffer).
#include <algorithm>
#include <cstring>

#include "video/vdp1/vdp1.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_fetch.h"
#include "video/vdp2/vdp2_simd.h"

using namespace vdp2;

namespace {

constexpr u32 kFrameBufferMask = 0x3FFFF;  // one 256 KB VDP1 buffer

// Where each sprite type keeps a dot's priority and ratio register numbers
// (a field of no bits selects register 0) and how wide its colour code is.
// Types 0-7 are 16-bit dots, 8-15 bytes.
struct SpriteLayout {
    u32 priorityShift, priorityBits, ratioShift, ratioBits, codeBits;
};
constexpr SpriteLayout kSpriteLayouts[16] = {
    {14, 2, 11, 3, 11}, {13, 3, 11, 2, 11}, {14, 1, 11, 3, 11}, {13, 2, 11, 2, 11},
    {13, 2, 10, 3, 10}, {12, 3, 11, 1, 11}, {12, 3, 10, 2, 10}, {12, 3, 9, 3, 9},
    {7, 1, 0, 0, 7},    {7, 1, 6, 1, 6},    {6, 2, 0, 0, 6},    {0, 0, 6, 2, 6},
    {7, 1, 0, 0, 8},    {7, 1, 6, 1, 8},    {6, 2, 0, 0, 8},    {0, 0, 6, 2, 8},
};

// What the split of a line's sprite dots reads and writes.
struct SpriteSplit {
    const u8* raw;  // the line's dots, upper byte first
    u32 width;
    const u8* keyCc;  // the 8 priority registers as key, and condition in bit 7
    const u8* ratios;
    u16 cramOffset, paletteMask;
    u8 directCc;  // the condition of a direct-colour dot in mixed colour mode
    u16* index;
    u8 *keyOut, *ccOut, *ratioOut, *classOut;
};

// Where a type keeps its fields, worked out at compile time.
template <u32 Type>
struct SpriteFields {
    static constexpr SpriteLayout kLayout = kSpriteLayouts[Type];
    // The register numbers sit in a 16-bit dot's upper byte.
    static constexpr u32 kFieldShift = Type < 8 ? 8 : 0;
    static constexpr u32 kPriorityShift = kLayout.priorityBits ? kLayout.priorityShift - kFieldShift : 0;
    static constexpr u32 kRatioShift = kLayout.ratioBits ? kLayout.ratioShift - kFieldShift : 0;
    static constexpr u32 kPriorities = 1u << kLayout.priorityBits;
    static constexpr u32 kRatios = 1u << kLayout.ratioBits;
    static constexpr u32 kCodeMask = (1u << kLayout.codeBits) - 1;
    static constexpr u32 kShadowCode = kCodeMask - 1;
    // Types 2-7 give the MSB to shadows or to the sprite window.
    static constexpr bool kMsbBits = Type >= 2 && Type <= 7;
};

#if KEST_X86
// A byte field: a 16-bit shift, masked.
template <u32 Shift, u32 Mask>
__attribute__((target("avx2"))) inline __m256i byteField(__m256i v)
{
    return _mm256_and_si256(_mm256_srli_epi16(v, Shift), _mm256_set1_epi8(static_cast<char>(Mask)));
}

// 16-bit colour codes to colour RAM entries.
__attribute__((target("avx2"))) inline __m256i colorIndex(__m256i code, __m256i codeMask, __m256i offset, __m256i mask)
{
    return _mm256_and_si256(_mm256_add_epi16(_mm256_and_si256(code, codeMask), offset), mask);
}

// The split without sprite-window bits 32 dots at a time, for lines of
// whole blocks (every display width is): the register tables are byte
// shuffles. In mixed colour mode a dot with its MSB set is a direct colour:
// registers 0, no shadow.
template <u32 Type, bool Mixed>
__attribute__((target("avx2"))) u8 splitSpriteAvx2(const SpriteSplit& p)
{
    using F = SpriteFields<Type>;
    const __m256i deinterleave =
        _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9,
                         11, 13, 15);
    __m128i table;
    std::memcpy(&table, p.keyCc, 8);
    const __m256i keyCc = _mm256_broadcastsi128_si256(_mm_unpacklo_epi64(_mm_loadl_epi64(&table), _mm_setzero_si128()));
    std::memcpy(&table, p.ratios, 8);
    const __m256i ratios = _mm256_broadcastsi128_si256(_mm_unpacklo_epi64(_mm_loadl_epi64(&table), _mm_setzero_si128()));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(1);
    const __m256i codeMask = _mm256_set1_epi16(static_cast<short>(F::kCodeMask));
    const __m256i cramOffset = _mm256_set1_epi16(static_cast<short>(p.cramOffset));
    const __m256i paletteMask = _mm256_set1_epi16(static_cast<short>(p.paletteMask));
    __m256i shadows = zero;
    // What 32 transparent dots (all bits 0) give: the registers of field 0.
    const __m256i blankKc = _mm256_shuffle_epi8(keyCc, zero);
    const __m256i blankCc = byteField<7, 1>(blankKc);
    const __m256i blankRatio = _mm256_shuffle_epi8(ratios, zero);
    const __m256i blankIndex = colorIndex(zero, codeMask, cramOffset, paletteMask);
    for (u32 i = 0; i < p.width; i += 32) {
        const u8* raw = p.raw + 2 * i;
        const __m256i rawA = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(raw));
        const __m256i rawB = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(raw + 32));
        if (_mm256_testz_si256(_mm256_or_si256(rawA, rawB), _mm256_or_si256(rawA, rawB))) {
            // Most of a frame VDP1 erased is such dots.
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.classOut + i), zero);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.keyOut + i), zero);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.ccOut + i), blankCc);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.ratioOut + i), blankRatio);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.index + i), blankIndex);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.index + i + 16), blankIndex);
            continue;
        }
        const __m256i a = _mm256_shuffle_epi8(rawA, deinterleave);
        const __m256i b = _mm256_shuffle_epi8(rawB, deinterleave);
        // Upper and lower bytes of dots 0-31, in order.
        __m256i h = _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(a, b), 0xD8);
        const __m256i l = _mm256_permute4x64_epi64(_mm256_unpackhi_epi64(a, b), 0xD8);
        if constexpr (Type >= 8)
            h = zero;
        const __m256i direct = Mixed ? _mm256_cmpgt_epi8(zero, h) : zero;
        const __m256i fields = _mm256_andnot_si256(direct, Type < 8 ? h : l);
        const __m256i kc = _mm256_shuffle_epi8(keyCc, byteField<F::kPriorityShift, F::kPriorities - 1>(fields));
        const __m256i ratio = _mm256_shuffle_epi8(ratios, byteField<F::kRatioShift, F::kRatios - 1>(fields));
        const __m256i shadow =
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(h, _mm256_set1_epi8(static_cast<char>(F::kCodeMask >> 8))),
                                               _mm256_set1_epi8(static_cast<char>(F::kShadowCode >> 8))),
                             _mm256_cmpeq_epi8(_mm256_and_si256(l, _mm256_set1_epi8(static_cast<char>(F::kCodeMask & 0xFF))),
                                               _mm256_set1_epi8(static_cast<char>(F::kShadowCode & 0xFF))));
        __m256i shadowClass = _mm256_and_si256(shadow, ones);
        if constexpr (F::kMsbBits) {
            // A set MSB marks a shadowed dot (3), 0x8000 alone a transparent shadow (2).
            const __m256i msb = _mm256_cmpgt_epi8(zero, h);
            const __m256i alone = _mm256_and_si256(_mm256_cmpeq_epi8(h, _mm256_set1_epi8(static_cast<char>(0x80))),
                                                   _mm256_cmpeq_epi8(l, zero));
            const __m256i msbClass = _mm256_and_si256(
                msb, _mm256_blendv_epi8(_mm256_set1_epi8(3), _mm256_set1_epi8(2), alone));
            shadowClass = _mm256_blendv_epi8(msbClass, ones, shadow);
        }
        shadowClass = _mm256_andnot_si256(direct, shadowClass);
        shadows = _mm256_or_si256(shadows, shadowClass);
        const __m256i visible = _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_or_si256(h, l), zero), _mm256_set1_epi8(-1));
        const __m256i key = _mm256_and_si256(_mm256_and_si256(kc, _mm256_set1_epi8(0x7F)), visible);
        const __m256i directCc = _mm256_and_si256(direct, _mm256_set1_epi8(static_cast<char>(p.directCc)));
        const __m256i cc = _mm256_or_si256(byteField<7, 1>(kc), directCc);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.classOut + i), shadowClass);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.keyOut + i), key);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.ccOut + i), cc);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.ratioOut + i), ratio);
        // The colour codes as 16-bit dots, in order.
        const __m256i low = _mm256_unpacklo_epi8(l, h);
        const __m256i high = _mm256_unpackhi_epi8(l, h);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.index + i),
                            colorIndex(_mm256_permute2x128_si256(low, high, 0x20), codeMask, cramOffset, paletteMask));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.index + i + 16),
                            colorIndex(_mm256_permute2x128_si256(low, high, 0x31), codeMask, cramOffset, paletteMask));
    }
    const __m128i folded = _mm_or_si128(_mm256_castsi256_si128(shadows), _mm256_extracti128_si256(shadows, 1));
    return _mm_testz_si128(folded, folded) ? 0 : 1;
}
#endif

// Mixed colour mode: the dots with their MSB set are direct colours.
[[gnu::always_inline]] inline void directColorsBody(const u8* __restrict raw, u32 width, u32* __restrict colorOut)
{
    for (u32 i = 0; i < width; ++i) {
        const u32 dot = u32{raw[2 * i]} << 8 | raw[2 * i + 1];
        const u32 direct = 0u - (dot >> 15);
        colorOut[i] = (rgb555(dot) & direct) | (colorOut[i] & ~direct);
    }
}

#if KEST_X86
__attribute__((target("avx2"))) void directColorsAvx2(const u8* raw, u32 width, u32* colorOut)
{
    const __m128i swapBytes = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    u32 i = 0;
    for (; i + 8 <= width; i += 8) {
        const Lanes8 dot(_mm256_cvtepu16_epi32(
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + 2 * i)), swapBytes)));
        const __m256i direct = _mm256_srai_epi32(_mm256_slli_epi32(dot.v, 16), 31);
        __m256i* out = reinterpret_cast<__m256i*>(colorOut + i);
        _mm256_storeu_si256(out, _mm256_blendv_epi8(_mm256_loadu_si256(out), rgb555(dot).v, direct));
    }
    directColorsBody(raw + 2 * i, width - i, colorOut + i);
}
#endif

#if KEST_X86
// A line's palette colours and, with raw (mixed colour), its direct ones in
// one pass, eight dots at a time; with shown, groups whose eight keys are
// all 0 are left as they were, since no place takes such dots.
__attribute__((target("avx2"))) void spriteColorsAvx2(const u16* index, const u8* raw, const u8* shown, u32 width,
                                                      const u32* palette, u32* colorOut)
{
    const __m128i swapBytes = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    u32 i = 0;
    for (; i + 8 <= width; i += 8) {
        if (shown) {
            u64 keys;
            std::memcpy(&keys, shown + i, 8);
            if (!keys)
                continue;
        }
        __m256i colors =
            gather8<4>(palette, _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(index + i))));
        if (raw) {
            const Lanes8 dot(_mm256_cvtepu16_epi32(
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + 2 * i)), swapBytes)));
            colors = _mm256_blendv_epi8(colors, rgb555(dot).v, _mm256_srai_epi32(_mm256_slli_epi32(dot.v, 16), 31));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(colorOut + i), colors);
    }
    if (i < width) {
        gatherColors(true, index + i, width - i, palette, colorOut + i);
        if (raw)
            directColorsBody(raw + 2 * i, width - i, colorOut + i);
    }
}
#endif

// taken counts the lines the AVX2 loop takes.
void directColors(bool avx2, u64& taken, const u8* raw, u32 width, u32* colorOut)
{
#if KEST_X86
    if (avx2) {
        ++taken;
        return directColorsAvx2(raw, width, colorOut);
    }
#endif
    directColorsBody(raw, width, colorOut);
}

}  // namespace

// Splits the line's dots by the sprite type in plain byte operations that
// vectorise, then looks their colours up.
template <u32 Type>
void VDP2::fetchSpriteLine(const u8* __restrict raw)
{
    using F = SpriteFields<Type>;
    constexpr u32 kPriorityShift = F::kPriorityShift, kRatioShift = F::kRatioShift;
    constexpr u32 kPriorities = F::kPriorities, kRatios = F::kRatios;
    constexpr u32 kCodeMask = F::kCodeMask, kShadowCode = F::kShadowCode;
    constexpr bool kMsbBits = F::kMsbBits;
    LineDots& out = m_dots[kSpriteRecord];
    SpriteDots& extra = m_spriteDots;
    const SpriteLayer& s = m_sprite;
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const bool msbCc = m_outputs[kSpriteRecord].specialMode == 3;
    const bool windowBits = kMsbBits && s.windowEnable;
    // Mixed colour: a 16-bit dot with the MSB set is a direct colour; it
    // takes registers 0 and is no shadow.
    const bool mixed = Type < 8 && s.mixed && !windowBits;
    const u16 cramOffset = static_cast<u16>(s.cramOffset);
    const u16 paletteMask = static_cast<u16>(m_paletteMask);

    // The priority registers as key and condition (bit 7; under the MSB
    // condition the colour's MSB gives it, and a direct colour's is 1).
    u8 keyCc[8], ratios[8];
    const u32 ccAllowed = msbCc ? 0 : 1;
    for (u32 j = 0; j < 8; ++j) {
        const u32 priority = s.priorities[j] >> 1;
        const u32 key = priority ? priority << 3 | kSpriteRecord : 0;
        keyCc[j] = static_cast<u8>(key | (s.priorities[j] & ccAllowed) << 7);
        ratios[j] = s.ratios[j];
    }
    const u8 directCc = msbCc ? 1 : 0;

    u16* __restrict index = m_spriteIndex;
    u8* __restrict keyOut = out.key;
    u8* __restrict ccOut = out.cc;
    u8* __restrict ratioOut = extra.ratio;
    u8* __restrict classOut = extra.shadowClass;
    u8* __restrict windowOut = extra.window;
    u8 shadows = 0;
    auto split = [&]<bool Mixed, bool Window>() {
        for (u32 i = 0; i < width; ++i) {
            // A byte type leaves the upper byte of a 16-bit dot out.
            const u8 h = Type >= 8 ? 0 : Window ? raw[2 * i] & 0x7F : raw[2 * i];
            const u8 l = raw[2 * i + 1];
            const u8 field = Type < 8 ? h : l;
            const u8 direct = Mixed ? h >> 7 : 0;
            const u8 keep = static_cast<u8>(direct - 1);
            const u8 p = static_cast<u8>((field >> kPriorityShift) & (kPriorities - 1) & keep);
            const u8 r = static_cast<u8>((field >> kRatioShift) & (kRatios - 1) & keep);
            // Register lookups as masks, which vectorise where a load by
            // index would not.
            u8 kc = 0, ratio = 0;
#pragma GCC unroll 8
            for (u32 j = 0; j < kPriorities; ++j)
                kc |= keyCc[j] & static_cast<u8>(-(p == j));
#pragma GCC unroll 8
            for (u32 j = 0; j < kRatios; ++j)
                ratio |= ratios[j] & static_cast<u8>(-(r == j));
            const u8 codeHigh = h & (kCodeMask >> 8);
            const u8 codeLow = l & kCodeMask;
            // A set MSB marks a shadowed dot, 0x8000 alone a transparent shadow.
            u8 msbClass = 0;
            if constexpr (kMsbBits)
                msbClass = static_cast<u8>((h >> 7) * (3 - ((h == 0x80) & (l == 0))));
            const u8 shadow = (codeHigh == (kShadowCode >> 8)) & (codeLow == (kShadowCode & 0xFF));
            const u8 shadowClass = static_cast<u8>((shadow ? 1 : msbClass) & keep);
            classOut[i] = shadowClass;
            shadows |= shadowClass;
            keyOut[i] = static_cast<u8>(kc & 0x7F & -((h | l) != 0));
            ccOut[i] = static_cast<u8>((kc >> 7) | (direct & directCc));
            ratioOut[i] = ratio;
            const u16 code = static_cast<u16>((h << 8 | l) & kCodeMask);
            index[i] = static_cast<u16>((code + cramOffset) & paletteMask);
            if constexpr (Window)
                windowOut[i] = raw[2 * i] >> 7;
        }
    };
#if KEST_X86
    if (m_fastPaths.avx2 && !windowBits && width % 32 == 0) {
        ++m_shortcutUses[kAvx2SpriteSplit];
        const SpriteSplit p{raw, width, keyCc, ratios, cramOffset, paletteMask, directCc, index,
                            keyOut, ccOut, ratioOut, classOut};
        shadows = mixed ? splitSpriteAvx2<Type, true>(p) : splitSpriteAvx2<Type, false>(p);
    } else
#endif
    if constexpr (kMsbBits) {
        if (windowBits)
            split.template operator()<false, true>();
        else if (mixed)
            split.template operator()<true, false>();
        else
            split.template operator()<false, false>();
    } else if (mixed) {
        split.template operator()<true, false>();
    } else {
        split.template operator()<false, false>();
    }
    m_spriteShadows = shadows != 0;
    if (windowBits)
        m_spriteWindowClear = false;
    else
        clearSpriteWindow();

    // The colours: a load by index for each dot, then the direct colours.
    const u32* __restrict palette = m_palette;
    u32* __restrict colorOut = out.color;
    if (msbCc) {
        const u8* __restrict msbs = m_paletteMsb;
        for (u32 i = 0; i < width; ++i) {
            colorOut[i] = palette[index[i]];
            ccOut[i] |= msbs[index[i]];
        }
    } else {
#if KEST_X86
        if (m_fastPaths.avx2) {
            // Colours of dots no place takes are read only by gradation.
            const bool skip = m_fastPaths.hiddenLayers && !(m_gradation && m_gradationTarget == kSpriteRecord);
            ++m_shortcutUses[kAvx2SpriteColors];
            m_shortcutUses[kHiddenSpriteColors] += skip;
            spriteColorsAvx2(index, mixed ? raw : nullptr, skip ? keyOut : nullptr, width, palette, colorOut);
            return;
        }
#endif
        // The loop above takes every such line with AVX2.
        gatherColors(false, index, width, palette, colorOut);
    }
    if (mixed)
        directColors(m_fastPaths.avx2, m_shortcutUses[kAvx2DirectColors], raw, width, colorOut);
}

void VDP2::fetchSprite()
{
    LineDots& out = m_dots[kSpriteRecord];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    m_spriteShadows = false;
    const FrameBufferInfo* frame = nullptr;
    if (m_sprite.active)
        frame = m_spriteFrame ? m_spriteFrame : m_vdp1 ? m_vdp1->getDisplayFrameBuffer() : nullptr;
    if (!frame || !frame->pixels) {
        std::memset(out.key, 0, sizeof out.key);
        clearSpriteWindow();
        return;
    }
    const SpriteLayer& s = m_sprite;
    const bool eightBit = frame->eightBit;
    if (eightBit != (s.type >= 8))
        m_sprite.logWarning(2, "Sprite data size doesn't match sprite type [size: %d, type: %d]", eightBit ? 8 : 16,
                            s.type);
    if (s.mixed && eightBit)
        m_sprite.logWarning(2, "Mixed color mode when data is 8-bit");
    const s32 frameWidth = frame->width;
    const s32 frameHeight = frame->height;
    const u32 rowShift = (frameWidth >= 1024 ? 10 : 9) + (eightBit ? 0 : 1);
    const u32 exponent = (frameWidth >= 1024 ? 1 : 0) + 1 - ((m_screenMode >> 1) & 1);

    // Positions are 16.16 and may be negative in VDP1's rotation mode.
    s64 x, y, stepX, stepY;
    if (!frame->rotation) {
        x = 0;
        y = static_cast<s64>(m_interlace == 3 ? m_lineV >> 1 : m_lineV) << 16;
        stepX = s64{0x8000} << exponent;
        stepY = 0;
    } else {
        const RotationParams& a = m_rotation[0];
        x = s64{a.xLine} << 6;
        y = s64{a.yLine} << 6;
        stepX = s64{a.dx} << (5 + exponent);
        stepY = s64{a.dy} << (5 + exponent);
    }

    SpriteLine line{frame->pixels, x, y, stepX, stepY, frameWidth, frameHeight, rowShift, eightBit};
    const u8* dots = readSpriteDots(line);
    switch (s.type) {
    case 0: fetchSpriteLine<0>(dots); break;
    case 1: fetchSpriteLine<1>(dots); break;
    case 2: fetchSpriteLine<2>(dots); break;
    case 3: fetchSpriteLine<3>(dots); break;
    case 4: fetchSpriteLine<4>(dots); break;
    case 5: fetchSpriteLine<5>(dots); break;
    case 6: fetchSpriteLine<6>(dots); break;
    case 7: fetchSpriteLine<7>(dots); break;
    case 8: fetchSpriteLine<8>(dots); break;
    case 9: fetchSpriteLine<9>(dots); break;
    case 10: fetchSpriteLine<10>(dots); break;
    case 11: fetchSpriteLine<11>(dots); break;
    case 12: fetchSpriteLine<12>(dots); break;
    case 13: fetchSpriteLine<13>(dots); break;
    case 14: fetchSpriteLine<14>(dots); break;
    default: fetchSpriteLine<15>(dots); break;
    }
    // The sprite's own window may take the sprite-window bits just read.
    const u8* pass = windowPass(s.window, m_passScratch);
    if (pass != m_passAll) {
        for (u32 i = 0; i < width; ++i)
            out.key[i] &= static_cast<u8>(-pass[i]);
    }
}

// The other layers' windows read the sprite-window bits: none without them.
void VDP2::clearSpriteWindow()
{
    if (!m_spriteWindowClear)
        std::memset(m_spriteDots.window, 0, sizeof m_spriteDots.window);
    m_spriteWindowClear = true;
}

// The dots under the line as the frame buffer keeps them, upper byte first
// (a byte dot is all lower byte), 0 where the position falls outside the
// frame buffer (also at negative rotated positions). An unrotated row of
// 16-bit dots inside the buffer is read where it is.
const u8* VDP2::readSpriteDots(const SpriteLine& line)
{
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    u8* __restrict raw = m_spriteRaw;
    if (line.stepY == 0 && line.stepX == 0x10000 && line.x == 0) {
        // Unrotated at one dot per dot: a straight run of one row.
        const s64 sy = line.y >> 16;
        u32 inside = sy < line.height ? std::min<u32>(width, static_cast<u32>(line.width)) : 0;
        const u32 offset = static_cast<u32>(sy) << line.rowShift;
        if (line.eightBit) {
            const u8* __restrict from = line.pixels + (offset & kFrameBufferMask);
            inside = std::min<u32>(inside, kFrameBufferMask + 1 - (offset & kFrameBufferMask));
            for (u32 i = 0; i < inside; ++i) {
                raw[2 * i] = 0;
                raw[2 * i + 1] = from[i];
            }
        } else {
            const u8* from = line.pixels + (offset & kFrameBufferMask & ~1u);
            inside = std::min<u32>(inside, (kFrameBufferMask + 1 - (offset & kFrameBufferMask)) / 2);
            if (inside == width)
                return from;
            std::memcpy(raw, from, 2 * inside);
        }
        std::fill(raw + 2 * inside, raw + 2 * width, u8{0});
        return raw;
    }
    s64 x = line.x, y = line.y;
    for (u32 i = 0; i < width; ++i, x += line.stepX, y += line.stepY) {
        const s64 sx = x >> 16;
        const s64 sy = y >> 16;
        const bool inside = sx >= 0 && sy >= 0 && sx < line.width && sy < line.height;
        const u32 offset =
            (static_cast<u32>(sy) << line.rowShift) + (line.eightBit ? static_cast<u32>(sx) : static_cast<u32>(sx) * 2);
        const u32 d = line.eightBit ? line.pixels[offset & kFrameBufferMask]
                                    : loadBe16(line.pixels + (offset & kFrameBufferMask & ~1u));
        raw[2 * i] = static_cast<u8>(inside ? d >> 8 : 0);
        raw[2 * i + 1] = static_cast<u8>(inside ? d : 0);
    }
    return raw;
}

void VDP2::fetchExternal(Layer& layer, const u8* pass)
{
    LineDots& out = m_dots[layer.record];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    // The MPEG frame is 512 x 256: rows past its height show nothing.
    if (layer.externalRow >= layer.externalHeight || !layer.externalPixels) {
        std::memset(out.key, 0, sizeof out.key);
        return;
    }
    const u32 m = layer.colorMode == 4 ? 3 : layer.colorMode;
    const u32 rowAddress = layer.externalRow << (8 + m);
    u32 mask = 1;
    while (mask * 2 <= layer.externalBytes)
        mask *= 2;
    mask -= 1;
    const u8* pixels = layer.externalPixels;
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const u8 record = static_cast<u8>(layer.record);
    const u32 ccMode = m_outputs[layer.record].specialMode;
    const u8* table = m_specialTables[layer.specialSelect];
    for (u32 x = 0; x < width; ++x) {
        out.key[x] = 0;
        if (x >= 512)
            continue;
        DotColor dot;
        switch (m) {
        case 0: dot = resolveDot<0>(rowDot<0>(pixels, mask, rowAddress, x), 0, layer.cramOffset, layer.transparentShown, colors); break;
        case 1: dot = resolveDot<1>(rowDot<1>(pixels, mask, rowAddress, x), 0, layer.cramOffset, layer.transparentShown, colors); break;
        case 2: dot = resolveDot<2>(rowDot<2>(pixels, mask, rowAddress, x), 0, layer.cramOffset, layer.transparentShown, colors); break;
        default: {
            // The card writes its dots big-endian, as the console reads them.
            const u32 raw = loadBe32(pixels + ((rowAddress + x * 4) & mask & ~3u));
            dot = resolveDot<4>(raw, 0, 0, layer.transparentShown, colors);
            break;
        }
        }
        out.color[x] = dot.color;
        out.cc[x] = dotCcCondition(ccMode, 0, table, dot.code, dot.msb);
        const bool visible = dot.opaque & (layer.priority != 0) & pass[x];
        out.key[x] = visible ? layerKey(layer.priority, record) : 0;
    }
}
