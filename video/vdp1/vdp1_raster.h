#pragma once

// The pixel loop shared by lines, polygons and sprites. Private to the
// rasteriser sources.

#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/base/bus.h"
#include "video/vdp1/vdp1.h"

namespace vdp1 {

// A big-endian pixel as one 16-bit store; written byte by byte it may be
// split into two stores, one of them from a high-byte register.
inline void putPixel(u8* p, u16 v)
{
    if constexpr (std::endian::native == std::endian::little)
        v = static_cast<u16>(v << 8 | v >> 8);
    std::memcpy(p, &v, sizeof v);
}

// What a colour source says about the pixel it was asked for.
enum Fetch : int { kDraw = 0, kSkip = 1, kStop = 2 };

// Extra pixel that closes the gap a diagonal step leaves, by the step's
// direction ((dx & 3) << 2 | (dy & 3)) for dx, dy of +1 or -1.
struct Offset {
    s8 x, y;
};
constexpr Offset kAntiAlias[16] = {
    {0, 0}, {0, 0}, {0, 0}, {0, 0},  //
    {0, 0}, {0, -1}, {0, 0}, {-1, 0},  // dx = +1
    {0, 0}, {0, 0}, {0, 0}, {0, 0},  //
    {0, 0}, {1, 0}, {0, 0}, {0, 1},  // dx = -1
};

// The first pixel of a row when all count pixels from x in steps of dir
// lie inside the clip width and the buffer half, so that a pointer can
// walk them; null when they do not.
inline u8* rowSpan(u8* buffer, u32 row, s32 x, s32 dir, s32 count, u32 width)
{
    const s32 last = x + dir * (count - 1);
    if (static_cast<u32>(x) >= width || static_cast<u32>(last) >= width)
        return nullptr;
    if (row + static_cast<u32>(x > last ? x : last) >= VDP1::kFrameBufferSize / 2)
        return nullptr;
    return buffer + ((row + static_cast<u32>(x)) << 1);
}

inline s32 absolute(s32 v)
{
    return v < 0 ? -v : v;
}

// d / n truncated toward zero, as a signed division does.
inline s32 divide(s64 d, s32 n)
{
    return static_cast<s32>(d / n);
}

// The same for n > 0 and |d| below 2^63 by the reciprocal ~0 / n: the
// product falls short of the quotient by at most one, which the check adds
// back.
inline s32 divide(s64 d, u32 n, u64 reciprocal)
{
    const u64 a = static_cast<u64>(d < 0 ? -d : d);
    u64 q = static_cast<u64>((static_cast<unsigned __int128>(a) * reciprocal) >> 64);
    q += (q + 1) * n <= a;
    return static_cast<s32>(d < 0 ? -static_cast<s64>(q) : static_cast<s64>(q));
}

// A single colour for every pixel: lines and polygons.
struct FlatSource {
    static constexpr bool kBuffered = false;
    u16 colour;
    // The colour's Gouraud shades (see shadeTable) when the mode shades.
    const u16* shades = nullptr;
    // What Target::shade makes of the colour, the MSB included.
    [[gnu::always_inline]] u16 shade(const VDP1::EdgeStep& c) const
    {
        return static_cast<u16>(shades[(c.r.val >> 26) & 31] | shades[32 + ((c.g.val >> 26) & 31)] |
                                shades[64 + ((c.b.val >> 26) & 31)]);
    }
    void beginQuad(s32) {}
    void beginSlant(const VDP1::EdgeStep&, s32, s32, bool) {}
    void endRow() {}
    const char* slantName() const { return "draw_slant_c"; }
    [[gnu::always_inline]] int next(u16& out) const
    {
        out = colour;
        return kDraw;
    }
    s32 plainRow(u8* buffer, u32 row, s32 x, s32 dir, s32 count, u32 width) const
    {
        if (u8* p = rowSpan(buffer, row, x, dir, count, width)) {
            for (s32 i = 0; i < count; ++i, p += 2 * dir)
                putPixel(p, colour);
            return count;
        }
        for (s32 i = 0; i < count; ++i, x += dir) {
            if (static_cast<u32>(x) < width)
                putPixel(buffer + (((row + static_cast<u32>(x)) << 1) & VDP1::kFrameBufferMask), colour);
        }
        return count;
    }
};

// The Gouraud shades of a 5-bit channel c by a value g (16 leaves it), each
// in its channel's place in the colour: red's at [g << 5 | c], green's at
// [c << 5 | g] (its field of the colour as it lies), blue's at [g << 5 | c].
struct ShadeTables {
    u16 red[1024], green[1024], blue[1024];
};
inline constexpr ShadeTables kShades = [] {
    ShadeTables t{};
    for (s32 g = 0; g < 32; ++g) {
        for (s32 c = 0; c < 32; ++c) {
            const s32 v = c + g - 16 < 0 ? 0 : c + g - 16 > 31 ? 31 : c + g - 16;
            t.red[g << 5 | c] = static_cast<u16>(v);
            t.green[c << 5 | g] = static_cast<u16>(v << 5);
            t.blue[g << 5 | c] = static_cast<u16>(v << 10);
        }
    }
    return t;
}();

// How much of the pixel write a loop can settle in advance: any mode; a
// 16-bit store of the colour, or of its Gouraud shade, or of its blend with
// the pixel under it (half-transparency); an 8-bit store.
enum Kind : int { kAnyWrite, kPlainWrite, kShadedWrite, kBlendWrite, kByteWrite };

// The pixel tests and colour write of one command, copied out of the chip
// so that the loops keep them in registers: writes through the frame
// buffer's byte pointer would otherwise force every member to be reloaded.
struct Target {
    const VDP1* chip;
    u8* buffer;
    const u8* maskX;
    const u8* maskY;
    const u8* gouraudTable;
    s32 clipWidth, clipHeight;
    s32 rowShift;
    s32 calcMode;
    s32 writeCost;
    u32 limit;  // pixels in the buffer half
    u8 clipOn, clipValue, mesh, die, dil, eightBit;

    bool inBounds(s32 x, s32 y) const
    {
        return static_cast<u32>(x) < static_cast<u32>(clipWidth) && static_cast<u32>(y) < static_cast<u32>(clipHeight);
    }

    // The pixel tests.
    [[gnu::always_inline]] bool passes(s32 x, s32 y) const
    {
        if (!inBounds(x, y))
            return false;
        if (mesh && ((x ^ y) & 1))
            return false;
        if (((maskX[x] & maskY[y] & clipOn) ^ clipValue) != 1)
            return false;
        return !die || (y & 1) == dil;
    }

    // The Kind of write the command's mode allows.
    int kind() const
    {
        if (mesh)
            return kAnyWrite;
        if (eightBit)
            return kByteWrite;
        return calcMode == 0 ? kPlainWrite : calcMode == 3 ? kBlendWrite : calcMode == 4 ? kShadedWrite : kAnyWrite;
    }

    [[gnu::always_inline]] static u16 shade(u16 colour, const VDP1::EdgeStep& c)
    {
        const u32 r = kShades.red[(colour & 31) | ((c.r.val >> 21) & 0x3E0)];
        const u32 g = kShades.green[(colour & 0x3E0) | ((c.g.val >> 26) & 31)];
        const u32 b = kShades.blue[((colour >> 10) & 31) | ((c.b.val >> 21) & 0x3E0)];
        return static_cast<u16>(r | g | b);
    }

    // A colour's shades by Gouraud value: red's 32 with the colour's MSB,
    // then green's and blue's in place, so that a shade of a single colour
    // is three loads.
    void shadeTable(u16 colour, u16* out) const
    {
        for (u32 g = 0; g < 32; ++g) {
            out[g] = static_cast<u16>(gouraudTable[(colour & 31) | g << 5] | (colour & 0x8000));
            out[32 + g] = static_cast<u16>(gouraudTable[((colour >> 5) & 31) | g << 5] << 5);
            out[64 + g] = static_cast<u16>(gouraudTable[((colour >> 10) & 31) | g << 5] << 10);
        }
    }

    static u16 half(u32 v, u32 mask) { return static_cast<u16>((static_cast<s16>(v) >> 1) & mask); }

    // The part of the colour that does not depend on the frame buffer, made
    // once per step: the step's pixel and its gap pixel share it.
    [[gnu::always_inline]] u16 prepare(u16 colour, const VDP1::EdgeStep& c) const
    {
        switch (calcMode) {
        case 2:
            return half(colour, 0xBDEF);
        case 4:
        case 7:
            return shade(colour, c) | (colour & 0x8000);
        case 6:
            return half(shade(colour, c), 0x3DEF) | (colour & 0x8000);
        case 5:
            return 0;
        default:
            return colour;
        }
    }

    // A frame size kept across a mode change can put a pixel inside the
    // clip past the buffer half; it is not written.
    bool outside(u32 index, s32 x, s32 y) const
    {
        if (index < limit)
            return false;
        chip->logError(1, "Out of range [x: %d, y: %d]", x, y);
        return true;
    }

    // Pixel (x, y) at index (y >> die) << rowShift | x; value is what
    // prepare made of colour. False when it lies past the buffer half.
    template <int kKind = kAnyWrite>
    [[gnu::always_inline]] bool store(s32 x, s32 y, u32 index, u16 value) const
    {
        if (outside(index, x, y))
            return false;
        write<kKind>(index, value);
        return true;
    }

    // The write alone, at an index known to lie in the buffer half, of
    // the Kind of write (see below) the loop settled.
    template <int kKind>
    [[gnu::always_inline]] void write(u32 index, u16 value) const
    {
        if constexpr (kKind == kPlainWrite || kKind == kShadedWrite) {
            putPixel(buffer + (index << 1), value);
            return;
        } else if constexpr (kKind == kBlendWrite) {
            u8* p = buffer + (index << 1);
            const u16 old = loadBe16(p);
            putPixel(p, (old & 0x8000) ? static_cast<u16>(half(old, 0xBDEF) + half(value, 0x3DEF)) : value);
            return;
        } else if constexpr (kKind == kByteWrite) {
            buffer[index] = static_cast<u8>(value);
            return;
        }
        if (eightBit) {
            buffer[index] = static_cast<u8>(value);
            return;
        }
        u8* p = buffer + (index << 1);
        switch (calcMode) {
        case 1: {
            const u16 old = loadBe16(p);
            if (old & 0x8000)
                putPixel(p, half(old, 0xBDEF));
            return;
        }
        case 3: {
            const u16 old = loadBe16(p);
            putPixel(p, (old & 0x8000) ? static_cast<u16>(half(old, 0xBDEF) + half(value, 0x3DEF)) : value);
            return;
        }
        case 7: {
            const u16 old = loadBe16(p);
            putPixel(p, (old & 0x8000) ? static_cast<u16>(half(value, 0x3DEF) + half(old, 0xBDEF)) : value);
            return;
        }
        case 8:  // MSB on rewrites the high byte only
            p[0] |= 0x80;
            return;
        default:
            putPixel(p, value);
            return;
        }
    }

    // Whether every pixel the slant can touch (its own, and with gaps the
    // pixels that close them) lies inside the clip and the buffer half and
    // passes the user clip, so that the stepper can leave out every test
    // but the mesh. Interlaced drawing tests each row's parity, so never.
    [[gnu::always_inline]] bool clear(const VDP1::EdgeStep& c, s32 count, bool gaps) const
    {
        if (die || count <= 0)
            return false;
        const s64 lastX = s64{c.x.val} + s64{c.x.inc} * (count - 1);
        const s64 lastY = s64{c.y.val} + s64{c.y.inc} * (count - 1);
        if (lastX != static_cast<s32>(lastX) || lastY != static_cast<s32>(lastY))
            return false;
        s32 x0 = c.x.val >> 19, x1 = static_cast<s32>(lastX) >> 19;
        s32 y0 = c.y.val >> 20, y1 = static_cast<s32>(lastY) >> 20;
        if (x0 > x1)
            std::swap(x0, x1);
        if (y0 > y1)
            std::swap(y0, y1);
        if (gaps) {
            const Offset gap = gapOf(c);
            (gap.x < 0 ? x0 : x1) += gap.x;
            (gap.y < 0 ? y0 : y1) += gap.y;
        }
        return clearBox(x0, y0, x1, y1);
    }

    // Whether the box from (x0, y0) to (x1, y1) lies inside the clip and the
    // buffer half and passes the user clip, drawn without interlace.
    bool clearBox(s32 x0, s32 y0, s32 x1, s32 y1) const
    {
        if (die || x0 < 0 || y0 < 0 || x1 >= clipWidth || y1 >= clipHeight)
            return false;
        if ((static_cast<u32>(y1) << rowShift) + static_cast<u32>(x1) >= limit)
            return false;
        return !clipOn || (clipValue == 0 && (maskX[x0] & maskX[x1] & maskY[y0] & maskY[y1]));
    }

    // Whether every pixel of row y from x0 to x1 lies inside the clip width
    // and passes the user clip. Drawing outside the user clip is not
    // settled by the ends.
    bool rowInside(s32 x0, s32 x1, s32 y) const
    {
        if (x0 > x1)
            std::swap(x0, x1);
        if (x0 < 0 || x1 >= clipWidth)
            return false;
        return !clipOn || (clipValue == 0 && (maskX[x0] & maskX[x1] & maskY[y]));
    }

    // Each coordinate moves by at most one pixel a step, in the direction of
    // its increment, so every diagonal step of a slant takes the same gap pixel.
    static Offset gapOf(const VDP1::EdgeStep& c)
    {
        return kAntiAlias[(c.x.inc > 0 ? 1 : 3) << 2 | (c.y.inc > 0 ? 1 : 3)];
    }

    template <int kKind = kAnyWrite>
    [[gnu::always_inline]] bool plot(s32 x, s32 y, u16 value) const
    {
        if (!passes(x, y))
            return false;
        return store<kKind>(x, y, (static_cast<u32>(y >> die) << rowShift) + static_cast<u32>(x), value);
    }
};

// Texels a sprite's slant decodes ahead of its pixel loop at a time.
constexpr s32 kTexelChunk = 256;

// Hands each of count pixels in turn what its colour source answers, as
// pixel(colour, fetched); false when the source stopped the slant first.
// Sprites decode their texels a chunk ahead (see fill), so that neither
// loop has to hold the other's state, unless there is none to hold.
template <class Source, class Pixel>
[[gnu::always_inline]] inline bool eachTexel(Source& source, s32 count, Pixel&& pixel)
{
    if constexpr (Source::kBuffered) {
        if (source.plain()) {
            source.eachPlain(count, pixel);
            return true;
        }
        u32 texels[kTexelChunk];
        for (s32 from = 0; from < count; from += kTexelChunk) {
            const s32 chunk = count - from < kTexelChunk ? count - from : kTexelChunk;
            const s32 ready = source.fill(texels, chunk);
            for (s32 i = 0; i < ready; ++i)
                pixel(static_cast<u16>(texels[i]), static_cast<int>(texels[i] >> 16));
            if (ready < chunk)
                return false;
        }
    } else {
        for (s32 i = 0; i < count; ++i) {
            u16 colour;
            const int fetched = source.next(colour);
            if (fetched == kStop)
                return false;
            pixel(colour, fetched);
        }
    }
    return true;
}

// What a slant loop works on: a copy of a plain source, which it can keep in
// registers (stores through the frame buffer's byte pointer would otherwise
// reload it), or the shared one, which decodes ahead into locals of its own.
template <class Source>
using Local = std::conditional_t<Source::kBuffered, Source&, Source>;

// A slant that is not a row (or a row that needs every test), pixel by
// pixel. Quads add the pixel that closes each diagonal step's gap. kChecked
// tests every pixel; without it the slant is clear (see Target::clear) and
// only the mesh is tested. The write is of the Kind the mode allows.
template <bool kQuad, int kKind, bool kChecked, class Source>
u32 stepPixels(const Target& target, const VDP1::EdgeStep& start, s32 count, bool general, Source& shared)
{
    // Copies the loop can keep in registers.
    const Target t = target;
    VDP1::EdgeStep c = start;
    Local<Source> source = shared;
    const bool antiAlias = kQuad && general;
    // Only kAnyWrite meets the mesh (see Target::kind) or a write cost the
    // mode does not settle.
    const bool mesh = kKind == kAnyWrite && t.mesh;
    const s32 cost = kKind == kAnyWrite || kKind == kBlendWrite ? t.writeCost : 1;
    const Offset gap = Target::gapOf(c);
    // The gap pixel's offset from its pixel in the buffer.
    const u32 gapIndex = static_cast<u32>(gap.y * (1 << t.rowShift) + gap.x);
    // Writes that leave the pixel as they would leave it written once.
    constexpr bool kOverwrite = kKind == kPlainWrite || kKind == kShadedWrite || kKind == kByteWrite;
    s32 px = (c.x.val - c.x.inc) >> 19;
    s32 py = (c.y.val - c.y.inc) >> 20;
    u32 clocks = 0;
    const bool whole = eachTexel(source, count, [&](u16 colour, int fetched) __attribute__((always_inline)) {
        const s32 x = c.x.val >> 19;
        const s32 y = c.y.val >> 20;
        if (fetched == kSkip) {
            // The texel is read all the same. At no cost, a looping list of
            // transparent sprites would step pixels forever without using
            // up the budget.
            clocks += 1;
        } else {
            u16 value = colour;
            if constexpr (kKind == kShadedWrite && !Source::kBuffered)
                value = source.shade(c);
            else if constexpr (kKind == kShadedWrite)
                value = t.shade(colour, c) | (colour & 0x8000);
            else if constexpr (kKind == kAnyWrite)
                value = t.prepare(colour, c);
            if constexpr (kChecked) {
                if (antiAlias) {
                    const bool extra = x != px && y != py && t.plot<kKind>(x + gap.x, y + gap.y, value);
                    clocks += extra ? t.writeCost : 1;
                }
                const bool written = t.plot<kKind>(x, y, value);
                clocks += kQuad && written ? t.writeCost : 1;
            } else {
                const u32 index = (static_cast<u32>(y) << t.rowShift) + static_cast<u32>(x);
                if constexpr (kOverwrite) {
                    // Where a step closes no gap, the pixel itself takes
                    // the extra write, which the next one repeats. Plain
                    // and 8-bit writes pick the address by a mask, as a
                    // branch mispredicts on small shapes' uneven diagonal
                    // steps; shaded ones measured quicker with the choice
                    // left to the compiler.
                    if (antiAlias) {
                        if constexpr (kKind == kShadedWrite) {
                            t.write<kKind>(x != px && y != py ? index + gapIndex : index, value);
                        } else {
                            const u32 diagonal = static_cast<u32>(x != px) & static_cast<u32>(y != py);
                            t.write<kKind>(index + (gapIndex & (0u - diagonal)), value);
                        }
                        clocks += 1;
                    }
                    t.write<kKind>(index, value);
                    clocks += 1;
                } else {
                    if (antiAlias) {
                        // The gap pixel's parity is the pixel's flipped.
                        const bool extra = x != px && y != py && !(mesh && !((x ^ y) & 1));
                        if (extra)
                            t.write<kKind>(index + gapIndex, value);
                        clocks += extra ? cost : 1;
                    }
                    const bool written = !(mesh && ((x ^ y) & 1));
                    if (written)
                        t.write<kKind>(index, value);
                    clocks += kQuad && written ? cost : 1;
                }
            }
        }
        px = x;
        py = y;
        // Only kAnyWrite and kShadedWrite read the Gouraud components.
        if constexpr (kKind != kAnyWrite && kKind != kShadedWrite) {
            c.x.val = VDP1::EdgeStep::add(c.x.val, c.x.inc);
            c.y.val = VDP1::EdgeStep::add(c.y.val, c.y.inc);
        } else {
            c.step();
        }
    });
    return whole ? clocks : clocks + 1;
}

}  // namespace vdp1

inline vdp1::Target VDP1::target() const
{
    // 8-bit pixels take the colour's low byte with no calculation.
    return {this, m_drawBuffer, m_uclipMaskX, m_uclipMaskY, m_gouraudTable, m_sclip_x, m_sclip_y, m_rowShift,
            m_eightBit ? 0 : m_calcMode,
            m_writeCost, kFrameBufferSize >> (m_eightBit ? 0 : 1), m_clipOn, m_clipValue, m_meshOn, m_die, m_dil,
            m_eightBit};
}

// A slant from c0 to c1 uncut: its length, shape and steps.
inline void VDP1::setUpSlant(const EdgeStep& c0, const EdgeStep& c1, bool gouraud, Slant& s)
{
    using vdp1::absolute;
    const s32 x0 = c0.x.val >> 19, x1 = c1.x.val >> 19;
    const s32 y0 = c0.y.val >> 20, y1 = c1.y.val >> 20;
    const bool row = y0 == y1;
    const bool column = !row && x0 == x1;
    const s32 n = row ? absolute(x1 - x0) : column ? absolute(y1 - y0) : std::max(absolute(x1 - x0), absolute(y1 - y0));
    s.length = s.count = n + 1;
    s.skipped = 0;
    s.reversed = false;
    s.general = !row && !column;
    // Field by field: a cursor just stepped a field at a time and then
    // copied whole would wait for its stores to drain.
    s.c.x = {c0.x.val, 0};
    s.c.y = {c0.y.val, 0};
    s.c.r = {c0.r.val, 0};
    s.c.g = {c0.g.val, 0};
    s.c.b = {c0.b.val, 0};
    if (n <= 0)
        return;
    auto steps = [&](auto slope) {
        if (!column)
            s.c.x.inc = slope(c0.x.val, c1.x.val);
        if (!row)
            s.c.y.inc = slope(c0.y.val, c1.y.val);
        if (gouraud) {
            s.c.r.inc = slope(c0.r.val, c1.r.val);
            s.c.g.inc = slope(c0.g.val, c1.g.val);
            s.c.b.inc = slope(c0.b.val, c1.b.val);
        }
    };
    if (!gouraud) {
        steps([n](s32 from, s32 to) { return vdp1::divide(s64{to} - from, n); });
        return;
    }
    // Five steps to divide: by a reciprocal, which quads, repeating lengths
    // from slant to slant, mostly keep from the slant before.
    if (n != s.divisor) {
        s.divisor = n;
        s.reciprocal = ~u64{0} / static_cast<u32>(n);
    }
    const u64 reciprocal = s.reciprocal;
    steps([n, reciprocal](s32 from, s32 to) { return vdp1::divide(s64{to} - from, static_cast<u32>(n), reciprocal); });
}

namespace vdp1 {

// step.template operator()<kKind>() for the Kind of write the mode allows.
template <class Step>
[[gnu::always_inline]] inline u32 byKind(const Target& t, Step&& step)
{
    switch (t.kind()) {
    case kPlainWrite:
        return step.template operator()<kPlainWrite>();
    case kShadedWrite:
        return step.template operator()<kShadedWrite>();
    case kBlendWrite:
        return step.template operator()<kBlendWrite>();
    case kByteWrite:
        return step.template operator()<kByteWrite>();
    default:
        return step.template operator()<kAnyWrite>();
    }
}

// A clear slant (see Target::clear), by the Kind of write the mode allows.
template <bool kQuad, class Source>
u32 stepClear(const Target& t, const VDP1::EdgeStep& c, s32 count, bool general, Source& source)
{
    return byKind(t, [&]<int kKind>() { return stepPixels<kQuad, kKind, false>(t, c, count, general, source); });
}

// A clear row: plain replace takes the source's own row loop, which every
// source but a shrink that walks texels for end codes has; the rest takes
// the general stepper, on a cursor that moves x by exactly one pixel a step.
template <bool kQuad, int kKind, class Source>
[[gnu::always_inline]] inline u32 stepClearRow(const Target& t, const VDP1::EdgeStep& c, s32 count, Source& source)
{
    const s32 x = c.x.val >> 19;
    const s32 dir = c.x.inc < 0 ? -1 : 1;
    if constexpr (kKind == kPlainWrite) {
        const u32 row = static_cast<u32>(c.y.val >> 20) << t.rowShift;
        if (row + static_cast<u32>(t.clipWidth) <= t.limit) {
            // Every step costs one clock.
            const s32 clocks = source.plainRow(t.buffer, row, x, dir, count, static_cast<u32>(t.clipWidth));
            if (clocks >= 0)
                return static_cast<u32>(clocks);
        }
    }
    VDP1::EdgeStep unit = c;
    unit.x = {static_cast<s32>(static_cast<u32>(x) << 19 | 1u << 18), dir * (1 << 19)};
    return stepPixels<kQuad, kKind, false>(t, unit, count, false, source);
}

}  // namespace vdp1

// Steps a clipped slant. Lines charge one clock per stepped pixel; quads
// charge their write cost per written pixel, and in the general shape a
// second slot per step for the pixel that closes diagonal gaps.
template <bool kQuad, class Source>
u32 VDP1::stepSlant(const vdp1::Target& t, Slant& s, Source& shared, bool clear)
{
    using namespace vdp1;
    const EdgeStep& c = s.c;
    u32 clocks = 0;
    if (!s.general && c.y.inc == 0) {
        // A row: the clip has already checked y and its parity, and x moves
        // by exactly one pixel a step.
        const s32 y = c.y.val >> 20;
        const s32 dir = c.x.inc < 0 ? -1 : 1;
        const u8 rowMask = t.maskY[y] & t.clipOn;
        const u32 row = static_cast<u32>(y >> t.die) << t.rowShift;
        const bool shaded = m_gouraudOn;
        s32 x = c.x.val >> 19;
        const s32 last = x + dir * (s.count - 1);
        clear = m_fastPaths && (clear || (!t.die && t.rowInside(x, last, y) &&
                                          row + static_cast<u32>(std::max(x, last)) < t.limit));
        if (clear) {
            ++m_shortcutUses[kVdp1RowsClear];
            return byKind(t, [&]<int kKind>() { return stepClearRow<kQuad, kKind>(t, c, s.count, shared); });
        }
        if (m_fastPaths && !t.mesh && !t.eightBit && t.calcMode == 0 &&
            row + static_cast<u32>(t.clipWidth) <= t.limit && !t.clipOn) {
            // Plain replace, the common case: every step costs one clock.
            const s32 clocks = shared.plainRow(t.buffer, row, x, dir, s.count, static_cast<u32>(t.clipWidth));
            if (clocks >= 0) {
                ++m_shortcutUses[kVdp1RowsPlain];
                return static_cast<u32>(clocks);
            }
        }
        Local<Source> source = shared;
        EdgeStep shade = c;
        const bool whole = eachTexel(source, s.count, [&](u16 colour, int fetched) __attribute__((always_inline)) {
            if (fetched == kDraw && static_cast<u32>(x) < static_cast<u32>(t.clipWidth) &&
                !(t.mesh && ((x ^ y) & 1)) && ((t.maskX[x] & rowMask) ^ t.clipValue) == 1) {
                const bool written = t.store(x, y, row + static_cast<u32>(x), t.prepare(colour, shade));
                clocks += kQuad && written ? t.writeCost : 1;
            } else {
                clocks += 1;
            }
            if (shaded)
                shade.step();
            x += dir;
        });
        return whole ? clocks : clocks + 1;
    }
    noteCutStart(t, c, shared);
    if (!m_fastPaths)
        return stepPixels<kQuad, kAnyWrite, true>(t, c, s.count, s.general, shared);
    if (!clear && !t.clear(c, s.count, kQuad && s.general)) {
        ++m_shortcutUses[kVdp1SlantsByKind];
        return byKind(t, [&]<int kKind>() { return stepPixels<kQuad, kKind, true>(t, c, s.count, s.general, shared); });
    }
    ++m_shortcutUses[kVdp1SlantsClear];
    return stepClear<kQuad>(t, c, s.count, s.general, shared);
}

// Names a slant cut at its start: the point before its first pixel.
template <class Source>
void VDP1::noteCutStart(const vdp1::Target& t, const EdgeStep& c, const Source& source)
{
    if (logs(2)) {
        const s32 ox = (c.x.val - c.x.inc) >> 19, oy = (c.y.val - c.y.inc) >> 20;
        if (!t.inBounds(ox, oy))
            logWarning(2, "%s [ox: %d, oy: %d]", source.slantName(), ox, oy);
    }
}

// A quad clear of every clip (see walkQuad), with the Kind of write the
// mode allows settled once for all its slants: what stepSlant does with
// each, without the cut, the tests or the choices.
template <int kKind, class Source>
[[gnu::noinline, gnu::flatten]] u32 VDP1::walkClear(const vdp1::Target& t, EdgeStep l, EdgeStep r, s32 n, Source& source)
{
    using namespace vdp1;
    // Only these Kinds read the Gouraud components.
    constexpr bool kShades = kKind == kShadedWrite || kKind == kAnyWrite;
    const bool gouraud = m_gouraudOn;
    u32 clocks = 0;
    Slant s;
    for (s32 i = 0; i <= n; ++i) {
        setUpSlant(l, r, gouraud, s);
        source.beginSlant(s.c, s.length, 0, false);
        if (!s.general && s.c.y.inc == 0) {
            clocks += stepClearRow<true, kKind>(t, s.c, s.count, source);
        } else {
            noteCutStart(t, s.c, source);
            clocks += stepPixels<true, kKind, false>(t, s.c, s.count, s.general, source);
        }
        if constexpr (kShades) {
            l.step();
            r.step();
        } else {
            l.x.val = EdgeStep::add(l.x.val, l.x.inc);
            l.y.val = EdgeStep::add(l.y.val, l.y.inc);
            r.x.val = EdgeStep::add(r.x.val, r.x.inc);
            r.y.val = EdgeStep::add(r.y.val, r.y.inc);
        }
        source.endRow();
    }
    return clocks;
}

// Fills a quad slant by slant from edge A-D to edge B-C.
template <bool kQuad, class Source>
u32 VDP1::walkQuad(const Vertex* v, Source& source)
{
    EdgeStep l = EdgeStep::at(v[0]);
    EdgeStep r = EdgeStep::at(v[1]);
    const s32 dxL = v[3].x - v[0].x, dyL = v[3].y - v[0].y;
    const s32 dxR = v[2].x - v[1].x, dyR = v[2].y - v[1].y;
    auto abs = [](s32 a) { return a < 0 ? -a : a; };
    s32 n = abs(dxL);
    for (s32 d : {abs(dyL), abs(dxR), abs(dyR)})
        n = d > n ? d : n;
    if (n > 0) {
        l.x.inc = static_cast<s32>((s64{dxL} << 19) / n);
        l.y.inc = static_cast<s32>((s64{dyL} << 20) / n);
        r.x.inc = static_cast<s32>((s64{dxR} << 19) / n);
        r.y.inc = static_cast<s32>((s64{dyR} << 20) / n);
        l.r.inc = static_cast<s32>((s64{v[3].r - v[0].r} << 26) / n);
        l.g.inc = static_cast<s32>((s64{v[3].g - v[0].g} << 26) / n);
        l.b.inc = static_cast<s32>((s64{v[3].b - v[0].b} << 26) / n);
        r.r.inc = static_cast<s32>((s64{v[2].r - v[1].r} << 26) / n);
        r.g.inc = static_cast<s32>((s64{v[2].g - v[1].g} << 26) / n);
        r.b.inc = static_cast<s32>((s64{v[2].b - v[1].b} << 26) / n);
    }
    source.beginQuad(n + 1);
    const vdp1::Target t = target();
    // The edges never step past their corners, so a quad whose corners lie
    // inside the system clip has no slant to cut, and one whose corners lie
    // clear of every clip, a pixel beyond them included for the gaps, has
    // no pixel to test.
    s32 x0 = v[0].x, x1 = v[0].x, y0 = v[0].y, y1 = v[0].y;
    for (int k = 1; k < 4; ++k) {
        x0 = std::min(x0, v[k].x);
        x1 = std::max(x1, v[k].x);
        y0 = std::min(y0, v[k].y);
        y1 = std::max(y1, v[k].y);
    }
    const bool inside = m_fastPaths && t.inBounds(x0, y0) && t.inBounds(x1, y1);
    m_shortcutUses[kVdp1QuadsInside] += inside;
    const bool clear = inside && t.clearBox(x0 - 1, y0 - 1, x1 + 1, y1 + 1);
    if (kQuad && clear) {
        ++m_shortcutUses[kVdp1QuadsClear];
        return byKind(t, [&]<int kKind>() { return walkClear<kKind>(t, l, r, n, source); });
    }
    u32 clocks = 0;
    Slant s;
    for (s32 i = 0; i <= n; ++i) {
        bool drawn;
        if (inside) {
            // What clipSlant makes of a slant with both ends inside.
            setUpSlant(l, r, m_gouraudOn, s);
            const s32 y = l.y.val >> 20;
            drawn = y != r.y.val >> 20 || !m_die || m_dil == (y & 1);
        } else {
            drawn = clipSlant(l, r, m_gouraudOn, s);
        }
        if (!drawn) {
            clocks += 1;
        } else if (s.count > 0) {
            source.beginSlant(s.c, s.length, s.skipped, s.reversed);
            clocks += stepSlant<kQuad>(t, s, source, clear);
        }
        l.step();
        r.step();
        source.endRow();
    }
    return clocks;
}
