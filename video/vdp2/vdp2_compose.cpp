// VDP2 line compositor: priorities, sprite shadows, colour calculation,
// colour offset, and the write into the host canvas.
#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

#include "core/base/shared_state.h"
#include "video/color_tables.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_simd.h"

namespace vdp2 {

// What both compositors read of a line's records, worked out once before
// its dots.
struct LineRules {
    u32 ratios[kRecords];
    u32 lineColors[kRecords];
    u32 takesShadow[kRecords];                       // all ones where the record's layer does
    u32 plus[kRecords] = {}, minus[kRecords] = {};  // colour offset, split by sign
    // Rotation coefficients may give a layer's dots line colours of their own.
    const u32* dotLineColors[2];
    u32 dotLineColorRecords[2];
    u32 dotLineColorCount;
    const u8* spriteRatios;
    u32 shadowSelect;   // all ones with the select bit
    bool additive;
    bool ratioOfOther;  // the ratio of the dot the top is calculated with, not the top's
    bool offset;
};

// What the fast compositor needs besides.
struct PackedLine : LineRules {
    const LineDots* layers[kRecords];  // folded in this order
    u32 ccEnable[kRecords];            // 0 or 1, a layer's
    u32 layerCount;
    u32 backWord;
    bool calc;
    u32 insertions;  // records that take the line colour, a bit each; 0 without calculation
    bool shadows;
    const u8* ccPass;  // by screen dot, as the dots below
    const u8* shadowClasses;
    u32 (*places)[kMaxLineDots];  // the plain loop's three highest words of each dot
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

// Kinds of colour calculation on a line of the fast compositor.
constexpr u32 kCalcNone = 0, kCalcAdd = 1, kCalcRatio = 2;

s32 signExtend9(u32 v)
{
    return static_cast<s32>((v & 0x1FF) << 23) >> 23;
}

// The rules of both compositors are written once over a dot type V: u32 for
// one dot, Lanes8 for eight. A mask is all ones or all zeros in each lane.

[[gnu::always_inline]] inline u32 maxOf(u32 a, u32 b) { return a > b ? a : b; }
[[gnu::always_inline]] inline u32 minOf(u32 a, u32 b) { return a < b ? a : b; }
[[gnu::always_inline]] inline u32 equalMask(u32 a, u32 b) { return 0u - static_cast<u32>(a == b); }
// b where mask is set, else a.
[[gnu::always_inline]] inline u32 pick(u32 mask, u32 a, u32 b) { return mask ? b : a; }

// Per-component sum, saturated at 255. The top byte is no colour: the
// eight-lane form saturates it too, and callers mask it.
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

template <class V> V loadWords(const u32* p);
template <class V> V loadBytes(const u8* p);
template <class V> bool anyByte(const u8* p);  // of those loadBytes takes
template <> [[gnu::always_inline]] inline u32 loadWords<u32>(const u32* p) { return *p; }
template <> [[gnu::always_inline]] inline u32 loadBytes<u32>(const u8* p) { return *p; }
template <> [[gnu::always_inline]] inline bool anyByte<u32>(const u8* p) { return *p != 0; }
[[gnu::always_inline]] inline void storeWords(u32* p, u32 v) { *p = v; }

// Eight words by record.
template <class V> struct Table8;
template <> struct Table8<u32> {
    const u32* words;
    explicit Table8(const u32* table) : words(table) {}
    u32 operator[](u32 record) const { return words[record]; }
};

#if KEST_X86
KEST_AVX2 inline Lanes8 maxOf(Lanes8 a, Lanes8 b) { return _mm256_max_epu32(a.v, b.v); }
KEST_AVX2 inline Lanes8 minOf(Lanes8 a, Lanes8 b) { return _mm256_min_epu32(a.v, b.v); }
KEST_AVX2 inline Lanes8 equalMask(Lanes8 a, Lanes8 b) { return _mm256_cmpeq_epi32(a.v, b.v); }
KEST_AVX2 inline Lanes8 pick(Lanes8 mask, Lanes8 a, Lanes8 b) { return _mm256_blendv_epi8(a.v, b.v, mask.v); }
KEST_AVX2 inline Lanes8 addSaturated(Lanes8 a, Lanes8 b) { return _mm256_adds_epu8(a.v, b.v); }
KEST_AVX2 inline Lanes8 subtractSaturated(Lanes8 a, Lanes8 b) { return _mm256_subs_epu8(a.v, b.v); }
template <> KEST_AVX2 inline Lanes8 loadWords<Lanes8>(const u32* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
template <> KEST_AVX2 inline Lanes8 loadBytes<Lanes8>(const u8* p)
{
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
template <> [[gnu::always_inline]] inline bool anyByte<Lanes8>(const u8* p)
{
    u64 eight;
    std::memcpy(&eight, p, 8);
    return eight != 0;
}
KEST_AVX2 inline void storeWords(u32* p, Lanes8 v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v.v); }

template <> struct Table8<Lanes8> {
    __m256i words;
    KEST_AVX2 explicit Table8(const u32* table) : words(loadWords<Lanes8>(table).v) {}
    KEST_AVX2 Lanes8 operator[](Lanes8 record) const { return _mm256_permutevar8x32_epi32(words, record.v); }
};
#endif

// The fast compositor keeps each dot as one word: its key in bits 30-25
// (its record in 27-25), its colour-calculation condition in bit 24 and its
// colour below, so the two highest dots of a pixel are the two largest
// words. Bit 31 marks a dot a shadow halves.
constexpr u32 kWordKeyShift = 25;
constexpr u32 kWordConditionShift = 24;
constexpr u32 kWordColorMask = 0xFFFFFF;
constexpr u32 kWordHalvedShift = 31;
constexpr u32 kWordHalved = 1u << kWordHalvedShift;
// A line colour standing in for the dot below takes the line colour screen's ratio.
constexpr u32 kLineColorWord = kLineColorRecord << kWordKeyShift;

template <class V>
[[gnu::always_inline]] inline V packWord(V key, V condition, V color)
{
    return (key << kWordKeyShift) | (condition << kWordConditionShift) | (color & kWordColorMask);
}

template <class V>
[[gnu::always_inline]] inline V recordOf(V word)
{
    return (word >> kWordKeyShift) & 7u;
}

template <class V>
[[gnu::always_inline]] inline V conditionOf(V word)
{
    return (word >> kWordConditionShift) & 1u;
}

template <class V>
[[gnu::always_inline]] inline V colorOf(V word)
{
    return word & kWordColorMask;
}

// All ones where a shadow halves the dot.
template <class V>
[[gnu::always_inline]] inline V halvedMask(V word)
{
    return V(0u) - (word >> kWordHalvedShift);
}

// Per-component (c * w) >> 5 for w <= 32, the three components at once:
// red and blue share one multiply with 16 bits between them.
template <class V>
[[gnu::always_inline]] inline V weigh(V c, V w)
{
    return ((((c & 0xFF00FFu) * w) >> 5u) & 0xFF00FFu) | ((((c & 0x00FF00u) * w) >> 5u) & 0x00FF00u);
}

template <class V>
[[gnu::always_inline]] inline V halve(V c)
{
    return (c >> 1u) & 0x7F7F7Fu;
}

// Folds a layer's word w into the three highest words of a dot; the third
// is kept only where shadows may move the others up.
template <bool Third, class V>
[[gnu::always_inline]] inline void foldWord(V& f, V& s, V& third, V w)
{
    if constexpr (Third)
        third = maxOf(third, minOf(s, w));
    s = maxOf(s, minOf(f, w));
    f = maxOf(f, w);
}

// A line's rules as V takes them, its tables by dot from x0 on.
template <class V>
struct Tables {
    Table8<V> ratios, lineColors, takesShadow, plus, minus;
    const u8* spriteRatios;
    const u32* dotLineColors[2];
    u32 dotLineColorRecords[2];
    u32 dotLineColorCount;
    bool ratioOfOther;

    [[gnu::always_inline]] Tables(const LineRules& line, u32 x0)
        : ratios(line.ratios), lineColors(line.lineColors), takesShadow(line.takesShadow), plus(line.plus),
          minus(line.minus), spriteRatios(line.spriteRatios + x0),
          dotLineColors{line.dotLineColors[0] + x0, line.dotLineColors[1] + x0},
          dotLineColorRecords{line.dotLineColorRecords[0], line.dotLineColorRecords[1]},
          dotLineColorCount(line.dotLineColorCount), ratioOfOther(line.ratioOfOther)
    {
    }
};

// Whose ratio a calculation takes, of the records of the top dot and the
// one it is calculated with: the top's, or with ratioOfOther the other's.
template <class V>
[[gnu::always_inline]] inline V ratioSource(const Tables<V>& t, V top, V other)
{
    V source = top;
    if (t.ratioOfOther)
        source = other;
    return source;
}

// Colour calculation of the top dot with another: their sum, saturated,
// or each weighed on its own by the ratio of record, as the hardware does;
// a sprite dot's ratio is its own. Where apply is clear the top stays as
// it is.
template <class V>
[[gnu::always_inline]] inline V calculate(const Tables<V>& t, bool additive, V top, V other, V record, V apply,
                                          u32 x)
{
    if (additive)
        return colorOf(addSaturated(top, other & apply));
    const V ratio = pick(equalMask(record, V(kSpriteRecord)), t.ratios[record], loadBytes<V>(t.spriteRatios + x));
    const V w = (ratio + 1u) & apply;
    return weigh(top, V(32u) - w) + weigh(other, w);
}

// The line colour a record's dot is calculated with.
template <class V>
[[gnu::always_inline]] inline V lineColorOf(const Tables<V>& t, V record, u32 x)
{
    V color = t.lineColors[record];
    for (u32 i = 0; i < t.dotLineColorCount; ++i)
        color = pick(equalMask(record, V(t.dotLineColorRecords[i])), color, loadWords<V>(t.dotLineColors[i] + x));
    return color;
}

// Colour offset by the record: each component plus its offset, clamped, as
// the positive part added and the negative part taken away.
template <class V>
[[gnu::always_inline]] inline V offsetOf(const Tables<V>& t, V color, V record)
{
    return subtractSaturated(addSaturated(color, t.plus[record]), t.minus[record]);
}

// A sprite shadow on top of a dot (class 1 a normal shadow, 2 a
// transparent one, 3 a sprite dot drawn in shadow): over a layer that takes
// shadows (under) a normal shadow shows the dot below halved; a transparent
// one always shows the dot below, halved where that layer takes shadows
// and the select bit is set; the third kind is itself halved.
template <class V>
struct Shadow {
    V moves, halved;
};

template <class V>
[[gnu::always_inline]] inline Shadow<V> shadowOf(V shadowClass, V under, V select)
{
    const V normal = equalMask(shadowClass, V(1u)), transparent = equalMask(shadowClass, V(2u));
    const V normalUnder = normal & under;
    return {normalUnder | transparent, normalUnder | (transparent & under & select) | ~(normal | transparent)};
}

// The fast compositor's dots from x0 on, one (u32) or eight (Lanes8) at a
// time: the layers' words, and from the three highest words of a dot its
// colour through shadows, line-colour insertion, calculation, colour offset
// and halving.
template <class V, bool Shadows, u32 Calc>
struct PackedDots {
    Tables<V> t;
    const u8* keys[kRecords];
    const u8* conditions[kRecords];
    const u32* colors[kRecords];
    V enables[kRecords];
    u32 layers;
    V backWord, select, insertions;
    bool insert, offset;
    const u8* ccPass;
    const u8* classes;

    [[gnu::always_inline]] PackedDots(const PackedLine& line, u32 x0)
        : t(line, x0), layers(line.layerCount), backWord(line.backWord), select(line.shadowSelect),
          insertions(line.insertions), insert(line.insertions != 0), offset(line.offset), ccPass(line.ccPass + x0),
          classes(line.shadowClasses + x0)
    {
        for (u32 i = 0; i < layers; ++i) {
            keys[i] = line.layers[i]->key + x0;
            conditions[i] = line.layers[i]->cc + x0;
            colors[i] = line.layers[i]->color + x0;
            enables[i] = V(line.ccEnable[i]);
        }
    }

    // Layer i's word at x.
    [[gnu::always_inline]] V word(u32 i, u32 x) const
    {
        return packWord(loadBytes<V>(keys[i] + x), loadBytes<V>(conditions[i] + x) & enables[i],
                        loadWords<V>(colors[i] + x));
    }

    // The colour at x from the three highest words there; without Whole,
    // before colour offset and halving, which f then shows.
    template <bool Whole>
    [[gnu::always_inline]] V finish(V& f, V s, V third, u32 x) const
    {
        // Most dots of a line with shadows have none.
        bool shadowed = false;
        if constexpr (Shadows) {
            shadowed = anyByte<V>(classes + x);
            if (shadowed) {
                const V shadowClass = loadBytes<V>(classes + x);
                const V onSprite = ~equalMask(shadowClass, V(0u)) & equalMask(recordOf(f), V(kSpriteRecord));
                const Shadow<V> shadow = shadowOf(shadowClass, t.takesShadow[recordOf(s)], select);
                const V moves = shadow.moves & onSprite;
                const V top = pick(moves, f, s);
                s = pick(moves, s, third);
                f = top | (shadow.halved & onSprite & kWordHalved);
            }
        }
        const V top = recordOf(f);
        V color = colorOf(f);
        if constexpr (Calc != kCalcNone) {
            if (insert) {
                const V takes = V(0u) - ((insertions >> top) & 1u);
                s = pick(takes, s, lineColorOf(t, top, x) | kLineColorWord);
            }
            const V apply = V(0u) - (conditionOf(f) & loadBytes<V>(ccPass + x));
            color = calculate(t, Calc == kCalcAdd, f, s, ratioSource(t, top, recordOf(s)), apply, x);
        }
        if (Whole && offset)
            color = offsetOf(t, color, top);
        if (Whole && shadowed)
            color = pick(halvedMask(f), color, halve(color));
        return color;
    }
};

// A layer's words folded into a line's places, a pass the compiler vectorises.
template <bool Third>
void foldLayer(const LineDots& layer, u32 x0, u32 enable, u32 count, u32* __restrict f, u32* __restrict s,
               u32* __restrict third)
{
    const u8* __restrict key = layer.key + x0;
    const u8* __restrict cc = layer.cc + x0;
    const u32* __restrict color = layer.color + x0;
    for (u32 x = 0; x < count; ++x)
        foldWord<Third>(f[x], s[x], third[x], packWord<u32>(key[x], cc[x] & enable, color[x]));
}

// Dots x0 .. x0 + count - 1 of a line into out; returns how many it did.
template <class V, bool Shadows, u32 Calc>
[[gnu::always_inline]] inline u32 composeRun(const PackedLine& line, u32 x0, u32 count, u32* out)
{
    const PackedDots<V, Shadows, Calc> dots(line, x0);
    if constexpr (std::is_same_v<V, u32>) {
        // A dot at a time, the layers folded beforehand a pass each.
        u32* f = line.places[0];
        u32* s = line.places[1];
        u32* third = line.places[2];
        for (u32* words : {f, s, third})
            std::fill_n(words, count, line.backWord);
        for (u32 i = 0; i < line.layerCount; ++i)
            foldLayer<Shadows>(*line.layers[i], x0, line.ccEnable[i], count, f, s, third);
        for (u32 x = 0; x < count; ++x)
            out[x] = dots.template finish<false>(f[x], s[x], third[x], x);
        // The rest a pass each, which the compiler vectorises.
        if (line.offset) {
            for (u32 x = 0; x < count; ++x)
                out[x] = offsetOf(dots.t, out[x], recordOf(f[x]));
        }
        if constexpr (Shadows) {
            for (u32 x = 0; x < count; ++x)
                out[x] = pick(halvedMask(f[x]), out[x], halve(out[x]));
        }
        return count;
    } else {
        // Eight at a time, their words in registers from the fold to the colour.
        u32 x = 0;
        for (; x + 8 <= count; x += 8) {
            V f = dots.backWord, s = dots.backWord, third = dots.backWord;
            for (u32 i = 0; i < dots.layers; ++i)
                foldWord<Shadows>(f, s, third, dots.word(i, x));
            storeWords(out + x, dots.template finish<true>(f, s, third, x));
        }
        return x;
    }
}

// The same by the loop made for the line's kind.
template <class V>
[[gnu::always_inline]] inline u32 composeRuns(const PackedLine& line, u32 x0, u32 count, u32* out)
{
    const u32 calc = !line.calc ? kCalcNone : line.additive ? kCalcAdd : kCalcRatio;
    if (line.shadows)
        return calc == kCalcNone ? composeRun<V, true, kCalcNone>(line, x0, count, out)
             : calc == kCalcAdd  ? composeRun<V, true, kCalcAdd>(line, x0, count, out)
                                 : composeRun<V, true, kCalcRatio>(line, x0, count, out);
    return calc == kCalcNone ? composeRun<V, false, kCalcNone>(line, x0, count, out)
         : calc == kCalcAdd  ? composeRun<V, false, kCalcAdd>(line, x0, count, out)
                             : composeRun<V, false, kCalcRatio>(line, x0, count, out);
}

void composePackedPlain(const PackedLine& line, u32 x0, u32 count, u32* out)
{
    composeRuns<u32>(line, x0, count, out);
}

#if KEST_X86
KEST_AVX2 u32 composePackedAvx2(const PackedLine& line, u32 x0, u32 count, u32* out)
{
    return composeRuns<Lanes8>(line, x0, count, out);
}
#endif

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

// taken counts the lines the AVX2 loop takes.
void countCover(bool avx2, u64& taken, u8* count, const u8* const* nearer, u32 layers, u8 key, u8 depth, u32 width)
{
#if KEST_X86
    if (avx2) {
        ++taken;
        return countCoverAvx2(count, nearer, layers, key, depth, width);
    }
#endif
    countCoverPlain(count, nearer, layers, key, depth, width);
}

}  // namespace

void VDP2::buildTables()
{
    for (u32 m = 0; m < 16; ++m) {
        for (u32 i = 0; i < 4096; ++i)
            m_mosaic[m][i] = static_cast<u16>(i - i % (m + 1));
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
            ++m_shortcutUses[pass ? kHiddenLines : kHiddenLayers];
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
    if (!m_fastPaths.coveredGroups || !m_coverDepth || m_fetchedCount < m_coverDepth || layer.specialPriorityMode ||
        (m_gradation && m_gradationTarget == layer.record))
        return nullptr;
    ++m_shortcutUses[kCoveredGroups];
    const u8 key = static_cast<u8>(nearestKey(layer));
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    // Counted down from the depth: a dot is needed while its count is above 0.
    countCover(m_fastPaths.avx2, m_shortcutUses[kAvx2CoverCounts], m_needed, m_fetched, m_fetchedCount, key,
               m_coverDepth, width);
    return m_needed;
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

// What both compositors read of the line's records; inlined into both, as
// it runs before every line.
[[gnu::always_inline]] inline void VDP2::lineRules(LineRules& rules) const
{
    bool anyOffset = false;
    for (u32 r = 0; r < kRecords; ++r) {
        const LayerOutput& out = m_outputs[r];
        anyOffset |= (out.offset[0] | out.offset[1] | out.offset[2]) != 0;
        rules.ratios[r] = out.ratio;
        rules.lineColors[r] = out.lineColor;
        rules.takesShadow[r] = out.shadow ? ~0u : 0;
    }
    for (u32 r = 0; anyOffset && r < kRecords; ++r) {
        u32 plus = 0, minus = 0;
        for (u32 c = 0; c < 3; ++c) {
            // The 9-bit offset: -256 takes any component to 0, as 255 does.
            const s32 o = signExtend9(static_cast<u32>(m_outputs[r].offset[c]) >> 8);
            plus |= static_cast<u32>(o > 0 ? o : 0) << (16 - 8 * c);
            minus |= static_cast<u32>(o < 0 ? std::min(-o, 255) : 0) << (16 - 8 * c);
        }
        rules.plus[r] = plus;
        rules.minus[r] = minus;
    }
    rules.offset = anyOffset;
    rules.dotLineColors[0] = m_coefficientLineColor[0];
    rules.dotLineColors[1] = m_coefficientLineColor[1];
    rules.dotLineColorCount = 0;
    for (u32 slot = 0; slot < 2; ++slot) {
        const Layer& layer = slot ? m_rbg1 : m_rbg0;
        if (layer.active && m_coefficientLineColorUsed[slot]) {
            rules.dotLineColors[rules.dotLineColorCount] = m_coefficientLineColor[slot];
            rules.dotLineColorRecords[rules.dotLineColorCount++] = layer.record;
        }
    }
    rules.spriteRatios = m_spriteDots.ratio;
    rules.shadowSelect = m_shadowSelect ? ~0u : 0;
    rules.additive = m_ccMode & 1;
    rules.ratioOfOther = m_ccMode != 0;
}

// The common line: no extended calculation or gradation. False when the
// line needs the general compositor.
bool VDP2::composePacked(u32 x0, u32 count, u32* row)
{
    if (m_effectMode != 0 || !m_fastPaths.packedCompositor)
        return false;
    ++m_shortcutUses[kPackedCompositor];
    PackedLine line;
    lineRules(line);
    bool anyCc = false;
    u32 insertions = 0;
    for (u32 r = 0; r < kRecords; ++r) {
        insertions |= (m_outputs[r].effectTarget ? 1u : 0u) << r;
        anyCc |= m_outputs[r].ccEnable != 0;
    }
    line.calc = anyCc;
    // Line-colour insertion: a top that takes it is calculated with its line
    // colour instead of the dot below.
    line.insertions = anyCc ? insertions : 0;
    // Sprite shadows may move the places below the top up one: the third
    // is kept.
    line.shadows = m_spriteShadows;
    const LayerOutput& back = m_outputs[kBackRecord];
    line.backWord = packWord<u32>(kBackRecord, back.ccEnable ? 1 : 0, back.color);
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
    line.shadowClasses = m_spriteDots.shadowClass;
    line.places = m_packedPlaces;

    u32* out = row + x0;
    u32 done = 0;
#if KEST_X86
    if (m_fastPaths.avx2) {
        ++m_shortcutUses[kAvx2Compositor];
        done = composePackedAvx2(line, x0, count, out);
    }
#endif
    if (done < count)
        composePackedPlain(line, x0 + done, count - done, out + done);
    return true;
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
    // Colour offset by table: one look-up a component is quicker here.
    const u8* offsets[kRecords][3];
    for (u32 r = 0; r < kRecords; ++r) {
        ccEnable[r] = m_outputs[r].ccEnable;
        for (int c = 0; c < 3; ++c)
            offsets[r][c] = &m_offsetTable[0][0] + m_outputs[r].offset[c];
    }
    LineRules rules;
    lineRules(rules);
    const Tables<u32> tables(rules, 0);
    const bool additive = rules.additive, anyOffset = rules.offset;
    const u32 select = rules.shadowSelect;
    const u8* __restrict top = m_top;
    const u8* __restrict second = m_second;
    u32* __restrict pixels = row;

    const u8* __restrict shadowClass = m_spriteDots.shadowClass;
    u32 newer = 0, older = 0;  // gradation history
    auto blend = [&](u32 color, u32 t, u32 other, u32 otherRecord, u32 x) {
        return calculate<u32>(tables, additive, color, other, ratioSource(tables, t, otherRecord), ~0u, x);
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
        // The sprite's shadows move the top down a place; the third and
        // fourth places then come into play.
        if (t == kSpriteRecord && shadowClass[x]) {
            const Shadow<u32> shadow = shadowOf<u32>(shadowClass[x], tables.takesShadow[s], select);
            if (shadow.moves)
                t = s, s = third, third = m_fourth[x] & 7;
            halved = shadow.halved != 0;
        }
        u32 color = colors[t][x];
        const u32 applies = conditions[t][x] & ccEnable[t] & ccPass[x];
        switch (applies + m_outputs[t].effectTarget * 2 + m_effectMode) {
        case 1:
            color = blend(color, t, colors[s][x], s, x);
            break;
        case 3:
            color = blend(color, t, lineColorOf(tables, t, x), kLineColorRecord, x);
            break;
        case 5: {
            const u32 mixed = mix(m_outputs[s].ccEnable, colors[s][x], colors[third][x], 0);
            color = blend(color, t, mixed, s, x);
            break;
        }
        case 7: {
            const u32 rowIndex = m_outputs[kLineColorRecord].ccEnable ? (m_outputs[s].ccEnable ? 2 : 1) : 0;
            const u32 lineColor = mix(rowIndex, lineColorOf(tables, t, x), colors[s][x], colors[third][x]);
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
