// VDP2 line compositor: priorities, sprite shadows, colour calculation,
// colour offset, and the write into the host canvas.
#include <algorithm>
#include <bit>
#include <cstring>

#include "core/base/shared_state.h"
#include "video/color_tables.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_simd.h"

namespace vdp2 {

// The places of a line's dots in the fast compositor: the two highest
// words, and the third where sprite shadows may move the others up.
struct PackedPlaces {
    u32* first;
    u32* second;
    u32* third;

    PackedPlaces at(u32 x) const { return {first + x, second + x, third + x}; }
};

// What the fast compositor needs of a line, worked out once before its dots.
struct PackedLine {
    const LineDots* layers[kRecords];  // folded in this order
    u32 ccEnable[kRecords];            // 0 or 1, a layer's
    u32 layerCount;
    u32 backWord;
    u32 calc;          // 0 none, 1 additive, 2 by the top's ratio, 3 by the lower place's
    u32 insertions;    // records that take the line colour, a bit each; 0 without calculation
    bool perDotLineColors;  // rotation coefficients give dots line colours of their own
    bool shadows;
    bool offset;
    bool shadowSelect;
    const u8* ccPass;  // by screen dot, as the places below
    const u8* spriteRatios;
    const u8* shadowClasses;
    u32 ratios[kRecords];
    u32 lineColors[kRecords];
    u32 lineRatio;
    u32 plus[kRecords], minus[kRecords];  // colour offset, split by sign
    u32 takesShadow[kRecords];             // all ones where the record's layer does
};

}  // namespace vdp2

using namespace vdp2;

namespace {

// Rows of the extended-calculation mix: {shift 1, shift 2, shift 3, mask 1, mask 2, mask 3}.
constexpr u32 kMixRows[4][6] = {
    {0, 0, 0, 0xFFFFFF, 0, 0},
    {1, 1, 0, 0x7F7F7F, 0x7F7F7F, 0},
    {1, 2, 0, 0x7F7F7F, 0x3F3F3F, 0},
    {1, 2, 2, 0x7F7F7F, 0x3F3F3F, 0x3F3F3F},
};

// Kinds of colour calculation in the compositor's simple loop.
constexpr u32 kCalcNone = 0, kCalcAdd = 1, kCalcTopRatio = 2, kCalcSecondRatio = 3;

s32 signExtend9(u32 v)
{
    return static_cast<s32>((v & 0x1FF) << 23) >> 23;
}

u32 halve(u32 c)
{
    return (c >> 1) & 0x7F7F7F;
}

// Per-component (c * w) >> 5 for w <= 32, the three components at once:
// red and blue share one multiply with 16 bits between them.
[[gnu::always_inline]] inline u32 weigh(u32 c, u32 w)
{
    return ((((c & 0xFF00FF) * w) >> 5) & 0xFF00FF) | ((((c & 0x00FF00) * w) >> 5) & 0x00FF00);
}

// Per-component sum, saturated at 255.
[[gnu::always_inline]] inline u32 addSaturated(u32 a, u32 b)
{
    u32 rb = (a & 0xFF00FF) + (b & 0xFF00FF);
    u32 g = (a & 0x00FF00) + (b & 0x00FF00);
    rb |= ((rb & 0x01000100) >> 8) * 0xFF;
    g |= ((g & 0x00010000) >> 8) * 0xFF;
    return (rb & 0xFF00FF) | (g & 0x00FF00);
}

// Per-component difference, saturated at 0: a guard bit above each
// component takes the borrow.
[[gnu::always_inline]] inline u32 subtractSaturated(u32 a, u32 b)
{
    const u32 rb = ((a & 0xFF00FF) | 0x01000100) - (b & 0xFF00FF);
    const u32 g = ((a & 0x00FF00) | 0x00010000) - (b & 0x00FF00);
    const u32 keepRb = ((rb & 0x01000100) >> 8) * 0xFF;
    const u32 keepG = ((g & 0x00010000) >> 8) * 0xFF;
    return (rb & keepRb) | (g & keepG & 0x00FF00);
}

// out = max(out, k) over a line of keys.
void raise(u8* __restrict out, const u8* __restrict k, u32 count)
{
    for (u32 x = 0; x < count; ++x)
        out[x] = out[x] > k[x] ? out[x] : k[x];
}

// The same, taking only keys below those of the level above.
void raiseBelow(u8* __restrict out, const u8* __restrict k, const u8* __restrict above, u32 count)
{
    for (u32 x = 0; x < count; ++x) {
        const u8 v = k[x] < above[x] ? k[x] : 0;
        out[x] = out[x] > v ? out[x] : v;
    }
}

// The compositor's fast path keeps each dot as one word: its key in bits
// 30-25 (its record in 27-25), its colour-calculation condition in bit 24
// and its colour below, so the two highest dots of a pixel are the two
// largest words, and the ratio of each is its record's. With AVX2 the
// per-layer loop runs eight dots an instruction.
struct PackedLayer {
    const u8* key;
    const u8* cc;
    const u32* color;
    u32 ccEnable;  // 0 or 1
    // The line's first layer starts from the back screen rather than from
    // what the places hold.
    bool first;
    u32 backWord;
};

inline u32 packDot(u8 key, u8 cc, u32 enable, u32 color)
{
    return (u32{key} << 25) | (u32{static_cast<u8>(cc & enable)} << 24) | (color & 0xFFFFFF);
}

// Folds one layer into the line's two highest words, and with Third into
// the third as well.
template <bool Third>
[[gnu::always_inline]] inline void foldPackedBody(const PackedLayer& layer, u32 count, const PackedPlaces& p)
{
    const u8* __restrict key = layer.key;
    const u8* __restrict cc = layer.cc;
    const u32* __restrict color = layer.color;
    const s32 enable = static_cast<s32>(layer.ccEnable);
    s32* __restrict f = reinterpret_cast<s32*>(p.first);
    s32* __restrict s = reinterpret_cast<s32*>(p.second);
    s32* __restrict t = reinterpret_cast<s32*>(p.third);
    // Signed all through, which SSE2 compares: words stay below 2^31.
    for (u32 x = 0; x < count; ++x) {
        const s32 w = (s32{key[x]} << 25) | ((s32{cc[x]} & enable) << 24) | static_cast<s32>(color[x] & 0xFFFFFF);
        if constexpr (Third) {
            const s32 belowSecond = s[x] < w ? s[x] : w;
            t[x] = t[x] > belowSecond ? t[x] : belowSecond;
        }
        const s32 below = f[x] < w ? f[x] : w;
        s[x] = s[x] > below ? s[x] : below;
        f[x] = f[x] > w ? f[x] : w;
    }
}

// The ratio of each word's layer: the sprite's of its own dot, the others'
// their record's.
[[gnu::always_inline]] inline void ratioPackedBody(u32 count, const u32* __restrict words, const u32* __restrict table,
                                                    const u8* __restrict spriteRatios, u32* __restrict out)
{
    for (u32 x = 0; x < count; ++x) {
        const u32 record = (words[x] >> 25) & 7;
        out[x] = record == kSpriteRecord ? spriteRatios[x] : table[record];
    }
}

// Blends the two highest words of each dot into the line: additive, by the
// ratio each dot's place gave, or not at all (calc 0).
[[gnu::always_inline]] inline void blendPackedBody(u32 count, u32 calc, const u32* __restrict first,
                                                    const u32* __restrict second, const u32* __restrict ratios,
                                                    const u8* __restrict ccPass, u32* __restrict out)
{
    if (calc == 0) {
        for (u32 x = 0; x < count; ++x)
            out[x] = first[x] & 0xFFFFFF;
        return;
    }
    if (calc == 1) {
        for (u32 x = 0; x < count; ++x) {
            const u32 apply = (first[x] >> 24) & ccPass[x] & 1;
            out[x] = addSaturated(first[x], second[x] & (0u - apply));
        }
        return;
    }
    for (u32 x = 0; x < count; ++x) {
        const u32 apply = (first[x] >> 24) & ccPass[x] & 1;
        const u32 w = (ratios[x] + 1) & (0u - apply);
        const u32 f = first[x], s = second[x];
        // Each side weighed on its own, as the hardware does.
        out[x] = weigh(f, 32 - w) + weigh(s, w);
    }
}

// Line-colour insertion: where the top's record takes the line colour, it
// stands in for the second place, with the line colour screen's ratio where
// the lower place's ratios count (ratios not null).
[[gnu::always_inline]] inline void insertPackedBody(u32 count, u32 insertions, const u32* __restrict lineColors,
                                                     u32 lineRatio, const u32* __restrict first,
                                                     u32* __restrict second, u32* __restrict ratios)
{
    for (u32 x = 0; x < count; ++x) {
        const u32 t = (first[x] >> 25) & 7;
        const u32 insert = 0u - ((insertions >> t) & 1);
        second[x] = (lineColors[t] & insert) | (second[x] & ~insert);
    }
    if (!ratios)
        return;
    for (u32 x = 0; x < count; ++x) {
        const u32 insert = 0u - ((insertions >> ((first[x] >> 25) & 7)) & 1);
        ratios[x] = (lineRatio & insert) | (ratios[x] & ~insert);
    }
}

// Colour offset by the top's record: each component plus its offset,
// clamped, as the positive part added and the negative part taken away.
[[gnu::always_inline]] inline void offsetPackedBody(u32 count, const u32* __restrict first, const u32* __restrict plus,
                                                     const u32* __restrict minus, u32* __restrict out)
{
    for (u32 x = 0; x < count; ++x) {
        const u32 t = (first[x] >> 25) & 7;
        out[x] = subtractSaturated(addSaturated(out[x], plus[t]), minus[t]);
    }
}

void insertPackedPlain(u32 count, u32 insertions, const u32* lineColors, u32 lineRatio, const u32* first, u32* second,
                       u32* ratios)
{
    insertPackedBody(count, insertions, lineColors, lineRatio, first, second, ratios);
}

void ratioPackedPlain(u32 count, const u32* words, const u32* table, const u8* spriteRatios, u32* out)
{
    ratioPackedBody(count, words, table, spriteRatios, out);
}

void offsetPackedPlain(u32 count, const u32* first, const u32* plus, const u32* minus, u32* out)
{
    offsetPackedBody(count, first, plus, minus, out);
}

// With third the three highest words are kept.
void foldPackedPlain(const PackedLayer& layer, u32 count, const PackedPlaces& p, bool third)
{
    if (layer.first) {
        for (u32* words : {p.first, p.second, p.third})
            std::fill_n(words, count, layer.backWord);
    }
    third ? foldPackedBody<true>(layer, count, p) : foldPackedBody<false>(layer, count, p);
}

void blendPackedPlain(u32 count, u32 calc, const u32* first, const u32* second, const u32* ratios, const u8* ccPass,
                      u32* out)
{
    blendPackedBody(count, calc, first, second, ratios, ccPass, out);
}

#if KEST_X86
__attribute__((target("avx2"))) inline __m256i loadBytes8(const u8* p)
{
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

__attribute__((target("avx2"))) inline __m256i load8(const u32* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline void store8(u32* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

template <bool First, bool Third>
__attribute__((target("avx2"))) inline u32 foldPackedAvx2Loop(const PackedLayer& layer, u32 count,
                                                              const PackedPlaces& p)
{
    const u8* __restrict keys = layer.key;
    const u8* __restrict conditions = layer.cc;
    const u32* __restrict colors = layer.color;
    u32* __restrict first = p.first;
    u32* __restrict second = p.second;
    u32* __restrict third = p.third;
    const __m256i colorMask = _mm256_set1_epi32(0xFFFFFF);
    const __m256i enable = _mm256_set1_epi32(static_cast<int>(layer.ccEnable));
    const __m256i backWord = _mm256_set1_epi32(static_cast<int>(layer.backWord));
    u32 x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i key = _mm256_slli_epi32(loadBytes8(keys + x), 25);
        const __m256i cc = _mm256_slli_epi32(_mm256_and_si256(loadBytes8(conditions + x), enable), 24);
        const __m256i color = _mm256_and_si256(load8(colors + x), colorMask);
        const __m256i w = _mm256_or_si256(_mm256_or_si256(key, cc), color);
        const __m256i f = First ? backWord : load8(first + x), s = First ? backWord : load8(second + x);
        if constexpr (Third)
            store8(third + x, _mm256_max_epu32(First ? backWord : load8(third + x), _mm256_min_epu32(s, w)));
        store8(second + x, _mm256_max_epu32(s, _mm256_min_epu32(f, w)));
        store8(first + x, _mm256_max_epu32(f, w));
    }
    return x;
}

__attribute__((target("avx2"))) void foldPackedAvx2(const PackedLayer& layer, u32 count, const PackedPlaces& p,
                                                    bool third)
{
    u32 x;
    if (third)
        x = layer.first ? foldPackedAvx2Loop<true, true>(layer, count, p)
                        : foldPackedAvx2Loop<false, true>(layer, count, p);
    else
        x = layer.first ? foldPackedAvx2Loop<true, false>(layer, count, p)
                        : foldPackedAvx2Loop<false, false>(layer, count, p);
    if (x < count) {
        PackedLayer rest = layer;
        rest.key += x, rest.cc += x, rest.color += x;
        foldPackedPlain(rest, count - x, p.at(x), third);
    }
}

// The record of each of eight words: the permute index into a table of eight.
__attribute__((target("avx2"))) inline __m256i recordOf8(const u32* first)
{
    return _mm256_srli_epi32(load8(first), 25);
}

__attribute__((target("avx2"))) void ratioPackedAvx2(u32 count, const u32* words, const u32* table,
                                                     const u8* spriteRatios, u32* out)
{
    const __m256i ratios = load8(table);
    const __m256i sprite = _mm256_set1_epi32(kSpriteRecord);
    u32 x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i record = _mm256_and_si256(recordOf8(words + x), _mm256_set1_epi32(7));
        store8(out + x, _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(ratios, record), loadBytes8(spriteRatios + x),
                                           _mm256_cmpeq_epi32(record, sprite)));
    }
    ratioPackedBody(count - x, words + x, table, spriteRatios + x, out + x);
}

// The eight records' tables sit in one register each.
__attribute__((target("avx2"))) void insertPackedAvx2(u32 count, u32 insertions, const u32* lineColors,
                                                      u32 lineRatio, const u32* first, u32* second, u32* ratios)
{
    const __m256i colors = load8(lineColors);
    const __m256i takes = _mm256_set1_epi32(static_cast<int>(insertions));
    const __m256i ratio = _mm256_set1_epi32(static_cast<int>(lineRatio));
    u32 x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i t = _mm256_and_si256(recordOf8(first + x), _mm256_set1_epi32(7));
        // All ones where the record's bit is set.
        const __m256i insert =
            _mm256_srai_epi32(_mm256_sllv_epi32(takes, _mm256_sub_epi32(_mm256_set1_epi32(31), t)), 31);
        store8(second + x, _mm256_blendv_epi8(load8(second + x), _mm256_permutevar8x32_epi32(colors, t), insert));
        if (ratios)
            store8(ratios + x, _mm256_blendv_epi8(load8(ratios + x), ratio, insert));
    }
    insertPackedBody(count - x, insertions, lineColors, lineRatio, first + x, second + x, ratios ? ratios + x : nullptr);
}

__attribute__((target("avx2"))) void offsetPackedAvx2(u32 count, const u32* first, const u32* plus, const u32* minus,
                                                      u32* out)
{
    const __m256i plusTable = load8(plus), minusTable = load8(minus);
    u32 x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i t = recordOf8(first + x);  // the permute takes the low three bits
        const __m256i added = _mm256_adds_epu8(load8(out + x), _mm256_permutevar8x32_epi32(plusTable, t));
        store8(out + x, _mm256_subs_epu8(added, _mm256_permutevar8x32_epi32(minusTable, t)));
    }
    offsetPackedBody(count - x, first + x, plus, minus, out + x);
}

__attribute__((target("avx2"))) void blendPackedAvx2(u32 count, u32 calc, const u32* first, const u32* second,
                                                     const u32* ratios, const u8* ccPass, u32* out)
{
    blendPackedBody(count, calc, first, second, ratios, ccPass, out);
}

// weigh() on eight words.
__attribute__((target("avx2"))) inline __m256i weigh8(__m256i c, __m256i w)
{
    const __m256i rb = _mm256_and_si256(c, _mm256_set1_epi32(0xFF00FF));
    const __m256i g = _mm256_and_si256(c, _mm256_set1_epi32(0x00FF00));
    return _mm256_or_si256(
        _mm256_and_si256(_mm256_srli_epi32(_mm256_mullo_epi32(rb, w), 5), _mm256_set1_epi32(0xFF00FF)),
        _mm256_and_si256(_mm256_srli_epi32(_mm256_mullo_epi32(g, w), 5), _mm256_set1_epi32(0x00FF00)));
}

// The whole of composePacked's passes eight dots at a time, the places held
// in registers from the fold to the written colour: the layers' words, the
// shadows' moves, the ratios, line-colour insertion, the blend, colour
// offset and the halving. Calc 2 stands for both ratio kinds. Returns the
// dots done, a multiple of eight.
template <bool Shadows, u32 Calc>
__attribute__((target("avx2"))) u32 composePackedLoop(const PackedLine& line, u32 x0, u32 count, u32* out)
{
    const u8* keys[kRecords];
    const u8* conditions[kRecords];
    const u32* colors[kRecords];
    __m256i enables[kRecords];
    const u32 layers = line.layerCount;
    for (u32 i = 0; i < layers; ++i) {
        keys[i] = line.layers[i]->key + x0;
        conditions[i] = line.layers[i]->cc + x0;
        colors[i] = line.layers[i]->color + x0;
        enables[i] = _mm256_set1_epi32(static_cast<int>(line.ccEnable[i]));
    }
    const u8* ccPass = line.ccPass + x0;
    const u8* spriteRatios = line.spriteRatios + x0;
    const u8* classes = line.shadowClasses + x0;
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1), seven = _mm256_set1_epi32(7);
    const __m256i colorMask = _mm256_set1_epi32(0xFFFFFF);
    const __m256i backWord = _mm256_set1_epi32(static_cast<int>(line.backWord));
    const __m256i sprite = _mm256_set1_epi32(kSpriteRecord);
    const __m256i ratioTable = load8(line.ratios), lineColors = load8(line.lineColors);
    // The offset tables are filled only for lines that have an offset.
    const __m256i plusTable = line.offset ? load8(line.plus) : zero;
    const __m256i minusTable = line.offset ? load8(line.minus) : zero;
    const __m256i takesShadow = load8(line.takesShadow);
    const __m256i takesLineColor = _mm256_set1_epi32(static_cast<int>(line.insertions));
    const __m256i lineRatio = _mm256_set1_epi32(static_cast<int>(line.lineRatio));
    const __m256i select = _mm256_set1_epi32(line.shadowSelect ? -1 : 0);
    const bool ratioOfSecond = line.calc == 3;
    u32 x = 0;
    for (; x + 8 <= count; x += 8) {
        __m256i f = backWord, s = backWord, t = backWord;
        for (u32 i = 0; i < layers; ++i) {
            const __m256i key = _mm256_slli_epi32(loadBytes8(keys[i] + x), 25);
            const __m256i cc = _mm256_slli_epi32(_mm256_and_si256(loadBytes8(conditions[i] + x), enables[i]), 24);
            const __m256i w = _mm256_or_si256(_mm256_or_si256(key, cc), _mm256_and_si256(load8(colors[i] + x), colorMask));
            if constexpr (Shadows)
                t = _mm256_max_epu32(t, _mm256_min_epu32(s, w));
            s = _mm256_max_epu32(s, _mm256_min_epu32(f, w));
            f = _mm256_max_epu32(f, w);
        }
        // Most groups of a line with shadows have none.
        u64 classBytes = 0;
        if constexpr (Shadows)
            std::memcpy(&classBytes, classes + x, 8);
        if (classBytes) {
            // As shadowPacked: over a layer that takes shadows a normal
            // shadow moves the places up and halves; a transparent one
            // always moves them, and halves by the select bit; a shadowed
            // dot only halves.
            const __m256i shadowClass = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(classBytes)));
            const __m256i onSprite =
                _mm256_andnot_si256(_mm256_cmpeq_epi32(shadowClass, zero),
                                    _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_srli_epi32(f, 25), seven), sprite));
            const __m256i under = _mm256_permutevar8x32_epi32(takesShadow, _mm256_srli_epi32(s, 25));
            const __m256i normal = _mm256_cmpeq_epi32(shadowClass, one);
            const __m256i transparent = _mm256_cmpeq_epi32(shadowClass, _mm256_set1_epi32(2));
            const __m256i normalUnder = _mm256_and_si256(normal, under);
            const __m256i moves = _mm256_and_si256(onSprite, _mm256_or_si256(normalUnder, transparent));
            const __m256i other = _mm256_andnot_si256(_mm256_or_si256(normal, transparent), _mm256_set1_epi32(-1));
            const __m256i halved = _mm256_and_si256(
                onSprite, _mm256_or_si256(_mm256_or_si256(normalUnder, other),
                                          _mm256_and_si256(transparent, _mm256_and_si256(under, select))));
            const __m256i moved = _mm256_blendv_epi8(f, s, moves);
            s = _mm256_blendv_epi8(s, t, moves);
            f = _mm256_or_si256(moved, _mm256_and_si256(halved, _mm256_set1_epi32(static_cast<int>(0x80000000u))));
        }
        __m256i color;
        if constexpr (Calc == 0) {
            color = _mm256_and_si256(f, colorMask);
        } else {
            const __m256i top = _mm256_and_si256(_mm256_srli_epi32(f, 25), seven);
            __m256i ratio = zero;
            if constexpr (Calc == 2) {
                const __m256i record = _mm256_and_si256(_mm256_srli_epi32(ratioOfSecond ? s : f, 25), seven);
                ratio = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(ratioTable, record),
                                           loadBytes8(spriteRatios + x), _mm256_cmpeq_epi32(record, sprite));
            }
            if (line.insertions) {
                // All ones where the top's record takes the line colour.
                const __m256i insert = _mm256_srai_epi32(
                    _mm256_sllv_epi32(takesLineColor, _mm256_sub_epi32(_mm256_set1_epi32(31), top)), 31);
                s = _mm256_blendv_epi8(s, _mm256_permutevar8x32_epi32(lineColors, top), insert);
                if (Calc == 2 && ratioOfSecond)
                    ratio = _mm256_blendv_epi8(ratio, lineRatio, insert);
            }
            const __m256i apply = _mm256_sub_epi32(
                zero, _mm256_and_si256(_mm256_and_si256(_mm256_srli_epi32(f, 24), loadBytes8(ccPass + x)), one));
            if constexpr (Calc == 1) {
                color = _mm256_and_si256(_mm256_adds_epu8(f, _mm256_and_si256(s, apply)), colorMask);
            } else {
                const __m256i w = _mm256_and_si256(_mm256_add_epi32(ratio, one), apply);
                color = _mm256_add_epi32(weigh8(f, _mm256_sub_epi32(_mm256_set1_epi32(32), w)), weigh8(s, w));
            }
        }
        if (line.offset) {
            const __m256i record = _mm256_srli_epi32(f, 25);  // the permute takes the low three bits
            color = _mm256_subs_epu8(_mm256_adds_epu8(color, _mm256_permutevar8x32_epi32(plusTable, record)),
                                     _mm256_permutevar8x32_epi32(minusTable, record));
        }
        if (classBytes) {
            const __m256i halved = _mm256_and_si256(_mm256_srli_epi32(color, 1), _mm256_set1_epi32(0x7F7F7F));
            color = _mm256_blendv_epi8(color, halved, _mm256_srai_epi32(f, 31));
        }
        store8(out + x, color);
    }
    return x;
}

__attribute__((target("avx2"))) u32 composePackedAvx2(const PackedLine& line, u32 x0, u32 count, u32* out)
{
    const u32 calc = line.calc >= 2 ? 2 : line.calc;
    if (line.shadows)
        return calc == 0 ? composePackedLoop<true, 0>(line, x0, count, out)
             : calc == 1 ? composePackedLoop<true, 1>(line, x0, count, out)
                         : composePackedLoop<true, 2>(line, x0, count, out);
    return calc == 0 ? composePackedLoop<false, 0>(line, x0, count, out)
         : calc == 1 ? composePackedLoop<false, 1>(line, x0, count, out)
                     : composePackedLoop<false, 2>(line, x0, count, out);
}
#endif

// count[x] = depth less the nearer layers whose key at x is above key,
// down to 0.
void countCoverPlain(u8* __restrict count, const u8* const* nearer, u32 layers, u8 key, u8 depth, u32 width)
{
    std::memset(count, depth, width);
    for (u32 i = 0; i < layers; ++i) {
        const u8* __restrict keys = nearer[i];
        for (u32 x = 0; x < width; ++x) {
            const u8 covered = keys[x] > key ? 1 : 0;
            const u8 c = count[x];
            count[x] = static_cast<u8>((c > covered ? c : covered) - covered);
        }
    }
}

#if KEST_X86
// The same over 32 dots at a time, every layer in one pass.
__attribute__((target("avx2"))) void countCoverAvx2(u8* count, const u8* const* nearer, u32 layers, u8 key, u8 depth,
                                                    u32 width)
{
    const __m256i above = _mm256_set1_epi8(static_cast<char>(key + 1));
    const __m256i depths = _mm256_set1_epi8(static_cast<char>(depth));
    u32 x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i covered = _mm256_setzero_si256();
        for (u32 i = 0; i < layers; ++i) {
            const __m256i keys = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(nearer[i] + x));
            // keys > key: the larger of keys and key + 1 is keys.
            covered = _mm256_sub_epi8(covered, _mm256_cmpeq_epi8(_mm256_max_epu8(keys, above), keys));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(count + x), _mm256_subs_epu8(depths, covered));
    }
    if (x < width) {
        const u8* rest[8];
        for (u32 i = 0; i < layers; ++i)
            rest[i] = nearer[i] + x;
        countCoverPlain(count + x, rest, layers, key, depth, width - x);
    }
}
#endif

void countCover(bool avx2, u8* count, const u8* const* nearer, u32 layers, u8 key, u8 depth, u32 width)
{
#if KEST_X86
    if (avx2)
        return countCoverAvx2(count, nearer, layers, key, depth, width);
#endif
    countCoverPlain(count, nearer, layers, key, depth, width);
}

void foldPacked(bool avx2, const PackedLayer& layer, u32 count, const PackedPlaces& p, bool third)
{
#if KEST_X86
    if (avx2)
        return foldPackedAvx2(layer, count, p, third);
#endif
    foldPackedPlain(layer, count, p, third);
}

void ratioPacked(bool avx2, u32 count, const u32* words, const u32* table, const u8* spriteRatios, u32* out)
{
#if KEST_X86
    if (avx2)
        return ratioPackedAvx2(count, words, table, spriteRatios, out);
#endif
    ratioPackedPlain(count, words, table, spriteRatios, out);
}

void insertPacked(bool avx2, u32 count, u32 insertions, const u32* lineColors, u32 lineRatio, const u32* first,
                  u32* second, u32* ratios)
{
#if KEST_X86
    if (avx2)
        return insertPackedAvx2(count, insertions, lineColors, lineRatio, first, second, ratios);
#endif
    insertPackedPlain(count, insertions, lineColors, lineRatio, first, second, ratios);
}

void offsetPacked(bool avx2, u32 count, const u32* first, const u32* plus, const u32* minus, u32* out)
{
#if KEST_X86
    if (avx2)
        return offsetPackedAvx2(count, first, plus, minus, out);
#endif
    offsetPackedPlain(count, first, plus, minus, out);
}

void blendPacked(bool avx2, u32 count, u32 calc, const u32* first, const u32* second, const u32* ratios,
                 const u8* ccPass, u32* out)
{
#if KEST_X86
    if (avx2)
        return blendPackedAvx2(count, calc, first, second, ratios, ccPass, out);
#endif
    blendPackedPlain(count, calc, first, second, ratios, ccPass, out);
}

}  // namespace

void VDP2::buildTables()
{
    for (u32 m = 0; m < 16; ++m) {
        for (u32 i = 0; i < 4096; ++i)
            m_mosaic[m][i] = static_cast<u16>(i - i % (m + 1));
    }
    for (u32 w = 0; w <= 32; ++w) {
        for (u32 c = 0; c < 256; ++c)
            m_ratio[w][c] = static_cast<u8>((c * w) >> 5);
    }
    for (u32 o = 0; o < 512; ++o) {
        const s32 offset = o >= 256 ? static_cast<s32>(o) - 512 : static_cast<s32>(o);
        for (u32 c = 0; c < 256; ++c) {
            const s32 v = static_cast<s32>(c) + offset;
            m_offsetTable[o][c] = static_cast<u8>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
    for (u32 r = 0; r < kRecords; ++r) {
        m_outputs[r].index = r;
        m_outputs[r].kind = r == kSpriteRecord ? 3 : 0;
        m_outputs[r].reset();
    }
    m_windowSpan[0] = m_windowSpan[1] = getSpanMaskTable();
    std::memset(m_passAll, 1, sizeof m_passAll);
    std::memset(m_dots, 0, sizeof m_dots);
    std::memset(&m_spriteDots, 0, sizeof m_spriteDots);
}

void VDP2::drawLine(int y)
{
    composeLine(0, m_size.width, static_cast<u32>(y));
}

void VDP2::composeLine(u32 x0, u32 count, u32 y)
{
    u32* pixels = hostCanvas.pixels;
    if (!pixels)
        return;
    u32 end = x0 + count;
    const u32 limit = std::min<u32>({m_size.width, kMaxLineDots, hostCanvas.pitch});
    if (end > limit)
        end = limit;
    if (x0 >= end)
        return;

    // Every active layer fetches its line; the sprite first, since its
    // window bits clip the others. The others go nearest first, so a scroll
    // layer can leave out the dots that enough nearer ones already hide:
    // the compositor looks two dots deep, four with shadows or extended
    // colour calculation, and high resolution and gradation read a layer's
    // dots whatever is above them.
    fetchSprite();
    m_fetchedCount = 0;
    if (m_sprite.active)
        m_fetched[m_fetchedCount++] = m_dots[kSpriteRecord].key;
    m_coverDepth = m_screenMode >= 6 ? 0 : (m_sprite.active && m_spriteShadows) || m_effectMode == 4 ? 4 : 2;
    Layer* order[7];
    u32 layers = 0;
    for (Layer* layer : m_layers) {
        if (!layer->active)
            continue;
        u32 at = layers++;
        for (; at > 0 && nearestKey(*order[at - 1]) < nearestKey(*layer); --at)
            order[at] = order[at - 1];
        order[at] = layer;
    }
    m_unfetched = 0;
    for (u32 i = 0; i < layers; ++i) {
        Layer& layer = *order[i];
        const u8* pass = neverShown(layer) ? nullptr : windowPass(layer.window, m_passScratch);
        if (!pass || windowHidesLine(pass)) {
            std::memset(m_dots[layer.record].key, 0, kMaxLineDots);
            m_unfetched = static_cast<u8>(m_unfetched | 1u << layer.number);
            continue;
        }
        switch (layer.number) {
        case kRbg0:
        case kRbg1: fetchRotation(layer, pass); break;
        case kExbg: fetchExternal(layer, pass); break;
        default: fetchNormal(layer, pass); break;
        }
        m_fetched[m_fetchedCount++] = m_dots[layer.record].key;
    }
    m_ccPassAll = !m_ccWindow.any;
    windowPass(m_ccWindow, m_ccPass);

    u32* row = pixels + static_cast<size_t>(hostCanvas.pitch) * y;
    if (m_screenMode >= 6)
        composeHighResolution(x0, end - x0, row, y);
    else
        composeNormal(x0, end - x0, row);
}

// Whether every dot of the layer has priority 0 on this line, so that its
// dots need no fetch. Their colours are left as they were: only the
// high-resolution path reads those of hidden dots (gradation keeps them
// for when its target shows, which such a layer never does).
bool VDP2::neverShown(const Layer& layer) const
{
    const bool noPriority =
        layer.specialPriorityMode == 3 || (layer.specialPriorityMode == 0 && layer.priority == 0);
    return m_fastPaths.hiddenLayers && noPriority && m_screenMode < 6;
}

// The same for a layer whose window (pass) hides the whole line, as a
// HUD's window does above and below its box.
bool VDP2::windowHidesLine(const u8* pass) const
{
    if (!m_fastPaths.hiddenLayers || pass == m_passAll || m_screenMode >= 6)
        return false;
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    return std::memchr(pass, 1, width) == nullptr;
}

// The highest key a layer's dots can have.
u32 VDP2::nearestKey(const Layer& layer)
{
    const u32 priority = layer.specialPriorityMode ? layer.priority | 1 : layer.priority;
    return (priority << 3) | layer.record;
}

// The dots of a layer that fewer than the compositor's depth of the layers
// fetched so far cover with nearer dots: not 0 where the layer must be
// fetched. Null when every dot must be.
const u8* VDP2::neededDots(const Layer& layer)
{
    if (!m_coverDepth || m_fetchedCount < m_coverDepth || layer.specialPriorityMode ||
        (m_gradation && m_gradationTarget == layer.record))
        return nullptr;
    const u8 key = static_cast<u8>(nearestKey(layer));
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    // Counted down from the depth: a dot is needed while its count is above 0.
    countCover(m_fastPaths.avx2, m_needed, m_fetched, m_fetchedCount, key, m_coverDepth, width);
    return m_needed;
}

u32 VDP2::ratioOf(u32 record, u32 x) const
{
    return record == kSpriteRecord ? m_spriteDots.ratio[x] : m_outputs[record].ratio;
}

u32 VDP2::lineColorOf(u32 record, u32 x) const
{
    if (record == m_rbg0.record && m_rbg0.active && m_coefficientLineColorUsed[0])
        return m_coefficientLineColor[0][x];
    if (record == m_rbg1.record && m_rbg1.active && m_coefficientLineColorUsed[1])
        return m_coefficientLineColor[1][x];
    return m_outputs[record].lineColor;
}

// Colour calculation of the top dot with another: a ratio blend (mode 0 the
// top's ratio, mode 2 the other's) or a saturating addition.
u32 VDP2::blend(u32 top, u32 topRecord, u32 other, u32 otherRecord, u32 x) const
{
    if (m_ccMode & 1)
        return addSaturated(top, other);
    const u32 r = m_ccMode == 0 ? ratioOf(topRecord, x) : ratioOf(otherRecord, x);
    return weigh(top, 31 - r) + weigh(other, r + 1);
}

u32 VDP2::mix(u32 rowIndex, u32 a, u32 b, u32 c) const
{
    const u32* row = kMixRows[rowIndex & 3];
    const u32 pa = (a >> row[0]) & row[3];
    const u32 pb = (b >> row[1]) & row[4];
    const u32 pc = (c >> row[2]) & row[5];
    u32 result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const u32 sum = ((pa >> shift) & 0xFF) + ((pb >> shift) & 0xFF);
        const u32 first = saturateTable[sum];
        result |= u32{saturateTable[first + ((pc >> shift) & 0xFF)]} << shift;
    }
    return result;
}

u32 VDP2::applyOffset(u32 color, const LayerOutput& out) const
{
    if (!(out.offset[0] | out.offset[1] | out.offset[2]))
        return color;
    const u8* table = &m_offsetTable[0][0];
    const u32 r = table[static_cast<u32>(out.offset[0]) | ((color >> 16) & 0xFF)];
    const u32 g = table[static_cast<u32>(out.offset[1]) | ((color >> 8) & 0xFF)];
    const u32 b = table[static_cast<u32>(out.offset[2]) | (color & 0xFF)];
    return r << 16 | g << 8 | b;
}

// Orders the visible dots of every pixel: the four highest keys, highest
// first. A key is (priority << 3) | record, so equal priorities go to the
// higher record. Every level starts at 7, the back screen's record with no
// priority, which is below every visible dot. Plain byte loops that vectorise.
void VDP2::selectLayers(u32 x0, u32 end)
{
    const u8* keys[6];
    u32 layers = 0;
    if (m_sprite.active)
        keys[layers++] = m_dots[kSpriteRecord].key;
    for (const Layer* layer : m_layers) {
        if (layer->active)
            keys[layers++] = m_dots[layer->record].key;
    }
    u8* levels[4] = {m_top, m_second, m_third, m_fourth};
    // The third and fourth places matter only for shadows and extended
    // colour calculation.
    const u32 depth = (m_sprite.active && m_spriteShadows) || m_effectMode == 4 ? 4 : 2;
    const u32 count = end - x0;
    if (depth == 2) {
        // The two highest in one pass per layer: visible keys differ, since
        // each carries its record.
        u8* __restrict first = m_top + x0;
        u8* __restrict second = m_second + x0;
        std::memset(first, kBackRecord, count);
        std::memset(second, kBackRecord, count);
        for (u32 i = 0; i < layers; ++i) {
            const u8* __restrict k = keys[i] + x0;
            for (u32 x = 0; x < count; ++x) {
                const u8 below = first[x] < k[x] ? first[x] : k[x];
                second[x] = second[x] > below ? second[x] : below;
                first[x] = first[x] > k[x] ? first[x] : k[x];
            }
        }
        std::memset(m_third + x0, kBackRecord, count);
        return;
    }
    for (u32 level = 0; level < depth; ++level) {
        u8* out = levels[level] + x0;
        std::memset(out, kBackRecord, count);
        for (u32 i = 0; i < layers; ++i) {
            if (level == 0)
                raise(out, keys[i] + x0, count);
            else
                raiseBelow(out, keys[i] + x0, levels[level - 1] + x0, count);
        }
    }
}

// The common line: no extended calculation or gradation. False when the
// line needs the general compositor.
bool VDP2::composePacked(u32 x0, u32 count, u32* row)
{
    if (m_effectMode != 0 || !m_fastPaths.packedCompositor)
        return false;
    PackedLine line;
    bool anyCc = false, anyOffset = false;
    u32 insertions = 0;
    for (u32 r = 0; r < kRecords; ++r) {
        const LayerOutput& out = m_outputs[r];
        insertions |= (out.effectTarget ? 1u : 0u) << r;
        anyCc |= out.ccEnable != 0;
        anyOffset |= (out.offset[0] | out.offset[1] | out.offset[2]) != 0;
        line.ratios[r] = out.ratio;
        line.lineColors[r] = out.lineColor;
        line.takesShadow[r] = out.shadow ? ~0u : 0;
    }
    for (u32 r = 0; anyOffset && r < kRecords; ++r) {
        line.plus[r] = line.minus[r] = 0;
        for (u32 c = 0; c < 3; ++c) {
            // The 9-bit offset: -256 takes any component to 0, as 255 does.
            const s32 o = signExtend9(static_cast<u32>(m_outputs[r].offset[c]) >> 8);
            line.plus[r] |= static_cast<u32>(o > 0 ? o : 0) << (16 - 8 * c);
            line.minus[r] |= static_cast<u32>(o < 0 ? std::min(-o, 255) : 0) << (16 - 8 * c);
        }
    }
    line.calc = !anyCc ? 0 : (m_ccMode & 1) ? 1 : m_ccMode == 0 ? 2 : 3;
    // Line-colour insertion: a top that takes it is calculated with its line
    // colour instead of the dot below, by the line colour screen's ratio
    // where the lower one's would be used.
    line.insertions = line.calc != 0 ? insertions : 0;
    line.perDotLineColors = (m_rbg0.active && m_coefficientLineColorUsed[0]) ||
                            (m_rbg1.active && m_coefficientLineColorUsed[1]);
    line.lineRatio = m_outputs[kLineColorRecord].ratio;
    // Sprite shadows may move the places below the top up one: the third
    // is kept.
    line.shadows = m_spriteShadows;
    line.shadowSelect = m_shadowSelect != 0;
    line.offset = anyOffset;
    const LayerOutput& back = m_outputs[kBackRecord];
    line.backWord = packDot(kBackRecord, 1, back.ccEnable ? 1 : 0, back.color);
    line.layerCount = 0;
    auto add = [&](u32 record) {
        line.layers[line.layerCount] = &m_dots[record];
        line.ccEnable[line.layerCount++] = m_outputs[record].ccEnable ? 1u : 0u;
    };
    if (m_sprite.active)
        add(kSpriteRecord);
    for (const Layer* layer : m_layers) {
        if (layer->active && !((m_unfetched >> layer->number) & 1))
            add(layer->record);
    }
    line.ccPass = m_ccPassAll ? m_passAll : m_ccPass;
    line.spriteRatios = m_spriteDots.ratio;
    line.shadowClasses = m_spriteDots.shadowClass;

    u32 done = 0;
#if KEST_X86
    if (m_fastPaths.avx2 && !(line.insertions && line.perDotLineColors))
        done = composePackedAvx2(line, x0, count, row + x0);
#endif
    if (done < count)
        composePackedPasses(line, x0 + done, count - done, row);
    return true;
}

// composePacked's dots x0 .. x0 + count - 1 a pass over them at a time.
void VDP2::composePackedPasses(const PackedLine& line, u32 x0, u32 count, u32* row)
{
    const PackedPlaces places{m_firstWord + x0, m_secondWord + x0, m_thirdWord + x0};
    u32* first = places.first;
    u32* second = places.second;
    for (u32 i = 0; i < line.layerCount; ++i) {
        const LineDots& dots = *line.layers[i];
        const PackedLayer layer{dots.key + x0, dots.cc + x0, dots.color + x0, line.ccEnable[i], i == 0, line.backWord};
        foldPacked(m_fastPaths.avx2, layer, count, places, line.shadows);
    }
    if (line.layerCount == 0) {
        std::fill_n(first, count, line.backWord);
        std::fill_n(second, count, line.backWord);
    }
    if (line.shadows)
        shadowPacked(x0, count, places);
    // The ratios blends take: the top's (calc 2) or the lower place's (3).
    const u32 calc = line.calc;
    u32* ratios = m_blendRatio + x0;
    if (calc >= 2)
        ratioPacked(m_fastPaths.avx2, count, calc == 2 ? first : second, line.ratios, line.spriteRatios + x0, ratios);
    if (line.insertions) {
        if (line.perDotLineColors) {
            for (u32 i = 0; i < count; ++i) {
                const u32 t = (first[i] >> 25) & 7;
                if ((line.insertions >> t) & 1) {
                    second[i] = lineColorOf(t, x0 + i);
                    if (calc == 3)
                        ratios[i] = line.lineRatio;
                }
            }
        } else {
            insertPacked(m_fastPaths.avx2, count, line.insertions, line.lineColors, line.lineRatio, first, second,
                         calc == 3 ? ratios : nullptr);
        }
    }
    u32* out = row + x0;
    blendPacked(m_fastPaths.avx2, count, calc == 0 ? 0 : calc == 1 ? 1 : 2, first, second, ratios, line.ccPass + x0, out);
    if (line.offset)
        offsetPacked(m_fastPaths.avx2, count, first, line.plus, line.minus, out);
    // A shadow's dot at half brightness.
    if (line.shadows) {
        for (u32 i = 0; i < count; ++i)
            out[i] = (first[i] >> 31) ? halve(out[i]) : out[i];
    }
}

// Where a sprite shadow is on top of a dot, on a line composePacked takes:
// over a layer that takes shadows the places below move up one, and the
// dot is halved, which bit 31 of its top word marks.
void VDP2::shadowPacked(u32 x0, u32 count, const PackedPlaces& p) const
{
    u8 takes[kRecords];
    for (u32 r = 0; r < kRecords; ++r)
        takes[r] = m_outputs[r].shadow != 0;
    const u8* classes = m_spriteDots.shadowClass + x0;
    for (u32 i = 0; i < count; ++i) {
        if ((i & 7) == 0 && i + 8 <= count) {
            u64 eight;
            std::memcpy(&eight, classes + i, 8);
            if (!eight) {
                i += 7;
                continue;
            }
        }
        if (!classes[i] || ((p.first[i] >> 25) & 7) != kSpriteRecord)
            continue;
        const bool under = takes[(p.second[i] >> 25) & 7];
        bool moves, halved;
        switch (classes[i]) {
        case 1: moves = halved = under; break;
        case 2: moves = true, halved = m_shadowSelect && under; break;
        default: moves = false, halved = true; break;
        }
        if (moves) {
            p.first[i] = p.second[i];
            p.second[i] = p.third[i];
        }
        if (halved)
            p.first[i] |= 0x80000000u;
    }
}

// Lines composePacked leaves: extended calculation and gradation (and every
// line when the fast path is switched off).
void VDP2::composeNormal(u32 x0, u32 count, u32* row)
{
    if (composePacked(x0, count, row))
        return;
    const u32 end = x0 + count;
    selectLayers(x0, end);
    for (u32 x = x0; x < end; ++x) {
        m_constantColor[0][x] = m_outputs[kLineColorRecord].color;
        m_constantColor[1][x] = m_outputs[kBackRecord].color;
    }
    const u32* colors[kRecords];
    const u8* conditions[kRecords];
    for (u32 r = 0; r < 6; ++r) {
        colors[r] = m_dots[r].color;
        conditions[r] = m_dots[r].cc;
    }
    colors[kLineColorRecord] = m_constantColor[0];
    colors[kBackRecord] = m_constantColor[1];
    conditions[kLineColorRecord] = conditions[kBackRecord] = m_passAll;
    const u8* __restrict ccPass = m_ccPassAll ? m_passAll : m_ccPass;
    u8 ccEnable[kRecords];
    const u8* offsets[kRecords][3];
    bool anyOffset = false;
    for (u32 r = 0; r < kRecords; ++r) {
        const LayerOutput& out = m_outputs[r];
        ccEnable[r] = out.ccEnable;
        for (int c = 0; c < 3; ++c) {
            offsets[r][c] = &m_offsetTable[0][0] + out.offset[c];
            anyOffset |= out.offset[c] != 0;
        }
    }
    const u8* __restrict top = m_top;
    const u8* __restrict second = m_second;
    u32* __restrict pixels = row;

    const u8* __restrict shadowClass = m_spriteDots.shadowClass;
    u32 newer = 0, older = 0;  // gradation history

    // The sprite's shadows move the top down a place; the third and fourth
    // places then come into play.
    auto shadow = [&](u32 x, u32& t, u32& s, u32& third) -> bool {
        switch (shadowClass[x]) {
        case 1:
            if (m_outputs[s].shadow) {
                t = s, s = third, third = m_fourth[x] & 7;
                return true;
            }
            return false;
        case 2: {
            const bool halved = m_shadowSelect && m_outputs[s].shadow;
            t = s, s = third, third = m_fourth[x] & 7;
            return halved;
        }
        default:
            return true;
        }
    };
    auto offset = [&](u32 color, u32 t) -> u32 {
        const u8* const* o = offsets[t];
        return u32{o[0][(color >> 16) & 0xFF]} << 16 | u32{o[1][(color >> 8) & 0xFF]} << 8 | o[2][color & 0xFF];
    };

    for (u32 x = x0; x < end; ++x) {
        u32 t = top[x] & 7;
        u32 s = second[x] & 7;
        u32 third = m_third[x] & 7;
        bool halved = false;
        if (t == kSpriteRecord && shadowClass[x])
            halved = shadow(x, t, s, third);
        u32 color = colors[t][x];
        const u32 applies = conditions[t][x] & ccEnable[t] & ccPass[x];
        switch (applies + m_outputs[t].effectTarget * 2 + m_effectMode) {
        case 1:
            color = blend(color, t, colors[s][x], s, x);
            break;
        case 3:
            color = blend(color, t, lineColorOf(t, x), kLineColorRecord, x);
            break;
        case 5: {
            const u32 mixed = mix(m_outputs[s].ccEnable, colors[s][x], colors[third][x], 0);
            color = blend(color, t, mixed, s, x);
            break;
        }
        case 7: {
            const u32 rowIndex = m_outputs[kLineColorRecord].ccEnable ? (m_outputs[s].ccEnable ? 2 : 1) : 0;
            const u32 lineColor = mix(rowIndex, lineColorOf(t, x), colors[s][x], colors[third][x]);
            color = blend(color, t, lineColor, kLineColorRecord, x);
            break;
        }
        case 8:
        case 10:
            older = newer;
            newer = colors[m_gradationTarget][x];
            break;
        case 9:
        case 11: {
            const u32 target = colors[m_gradationTarget][x];
            if (t != m_gradationTarget && s != m_gradationTarget) {
                older = newer;
                newer = target;
                color = blend(color, t, colors[s][x], s, x);
                break;
            }
            const u32 blurred = halve(target) + ((newer >> 2) & 0x3F3F3F) + ((older >> 2) & 0x3F3F3F);
            older = newer;
            newer = target;
            color = blend(color, t, blurred, kLineColorRecord, x);
            break;
        }
        default:
            break;
        }
        if (anyOffset)
            color = offset(color, t);
        pixels[x] = halved ? halve(color) : color;
    }
}

void VDP2::composeHighResolution(u32 x0, u32 count, u32* row, u32 y)
{
    if (y == 20)
        logWarning(1, "Special High-Resolution Graphics Mode");
    const bool shown[2] = {m_nbg0.active != 0, m_nbg1.active != 0};
    const u32 records[2] = {m_nbg0.record, m_nbg1.record};
    for (u32 x = x0; x < x0 + count; ++x) {
        const u32 which = x & 1;
        const u32 dot = x >> 1;
        if (shown[which])
            m_highResolutionLast[which] = m_dots[records[which]].color[dot];
        row[x] = m_highResolutionLast[which];
    }
}
