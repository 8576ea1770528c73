#pragma once

// The pixel loop shared by lines, polygons and sprites. Private to the
// rasteriser sources.

#include <bit>
#include <cstring>

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

// A single colour for every pixel: lines and polygons.
struct FlatSource {
    u16 colour;
    void beginQuad(s32) {}
    void beginSlant(const VDP1::EdgeStep&, s32, s32, bool) {}
    void endRow() {}
    const char* slantName() const { return "draw_slant_c"; }
    int next(u16& out) const
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

    // The pixel tests; kSimple (see simple()) leaves the bounds.
    template <bool kSimple = false>
    bool passes(s32 x, s32 y) const
    {
        if (static_cast<u32>(x) >= static_cast<u32>(clipWidth) || static_cast<u32>(y) >= static_cast<u32>(clipHeight))
            return false;
        if constexpr (kSimple)
            return true;
        if (mesh && ((x ^ y) & 1))
            return false;
        if (((maskX[x] & maskY[y] & clipOn) ^ clipValue) != 1)
            return false;
        return !die || (y & 1) == dil;
    }
    // No pixel test beyond the bounds, and a 16-bit store that does not
    // read the frame buffer.
    bool simple() const
    {
        return !mesh && !clipOn && !die && !eightBit && calcMode != 1 && calcMode != 3 && calcMode != 7 &&
               calcMode != 8;
    }

    u16 shade(u16 colour, const VDP1::EdgeStep& c) const
    {
        const u32 r = gouraudTable[(colour & 31) | ((c.r.val >> 26) & 31) << 5];
        const u32 g = gouraudTable[((colour >> 5) & 31) | ((c.g.val >> 26) & 31) << 5];
        const u32 b = gouraudTable[((colour >> 10) & 31) | ((c.b.val >> 26) & 31) << 5];
        return static_cast<u16>(r | g << 5 | b << 10);
    }

    static u16 half(u32 v, u32 mask) { return static_cast<u16>((static_cast<s16>(v) >> 1) & mask); }

    // The part of the colour that does not depend on the frame buffer, made
    // once per step: the step's pixel and its gap pixel share it.
    u16 prepare(u16 colour, const VDP1::EdgeStep& c) const
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
    bool store(s32 x, s32 y, u32 index, u16 value) const
    {
        if (outside(index, x, y))
            return false;
        if (eightBit) {
            buffer[index] = static_cast<u8>(value);
            return true;
        }
        u8* p = buffer + (index << 1);
        switch (calcMode) {
        case 1: {
            const u16 old = loadBe16(p);
            if (old & 0x8000)
                putPixel(p, half(old, 0xBDEF));
            return true;
        }
        case 3: {
            const u16 old = loadBe16(p);
            putPixel(p, (old & 0x8000) ? static_cast<u16>(half(old, 0xBDEF) + half(value, 0x3DEF)) : value);
            return true;
        }
        case 7: {
            const u16 old = loadBe16(p);
            putPixel(p, (old & 0x8000) ? static_cast<u16>(half(value, 0x3DEF) + half(old, 0xBDEF)) : value);
            return true;
        }
        case 8:  // MSB on rewrites the high byte only
            p[0] |= 0x80;
            return true;
        default:
            putPixel(p, value);
            return true;
        }
    }

    template <bool kSimple = false>
    bool plot(s32 x, s32 y, u16 value) const
    {
        if (!passes<kSimple>(x, y))
            return false;
        if constexpr (kSimple) {
            const u32 index = (static_cast<u32>(y) << rowShift) + static_cast<u32>(x);
            if (outside(index, x, y))
                return false;
            putPixel(buffer + (index << 1), value);
            return true;
        } else {
            return store(x, y, (static_cast<u32>(y >> die) << rowShift) + static_cast<u32>(x), value);
        }
    }
};

// A slant that is not a row (or a row that needs every test), pixel by
// pixel. Quads add the pixel that closes each diagonal step's gap.
// How much of the pixel write a loop can settle in advance.
enum Kind : int { kAnyWrite, kPlainWrite, kShadedWrite };

template <bool kQuad, int kKind, class Source>
u32 stepPixels(const Target& t, VDP1::EdgeStep c, s32 count, bool general, Source& source)
{
    constexpr bool kSimple = kKind != kAnyWrite;
    const bool antiAlias = kQuad && general;
    // Each coordinate moves by at most one pixel a step, in the direction of
    // its increment, so every diagonal step of a slant takes the same gap pixel.
    const Offset gap = kAntiAlias[(c.x.inc > 0 ? 1 : 3) << 2 | (c.y.inc > 0 ? 1 : 3)];
    s32 px = (c.x.val - c.x.inc) >> 19;
    s32 py = (c.y.val - c.y.inc) >> 20;
    u32 clocks = 0;
    for (s32 i = 0; i < count; ++i, c.step()) {
        const s32 x = c.x.val >> 19;
        const s32 y = c.y.val >> 20;
        u16 colour;
        const int fetched = source.next(colour);
        if (fetched == kStop)
            return clocks + 1;
        if (fetched == kSkip) {
            // The texel is read all the same. At no cost, a looping list of
            // transparent sprites would step pixels forever without using
            // up the budget.
            clocks += 1;
        } else {
            u16 value = colour;
            if constexpr (kKind == kShadedWrite)
                value = t.shade(colour, c) | (colour & 0x8000);
            else if constexpr (kKind == kAnyWrite)
                value = t.prepare(colour, c);
            else if (t.calcMode != 0)
                value = t.prepare(colour, c);
            if (antiAlias) {
                const bool extra = x != px && y != py && t.plot<kSimple>(x + gap.x, y + gap.y, value);
                clocks += extra ? t.writeCost : 1;
            }
            const bool written = t.plot<kSimple>(x, y, value);
            clocks += kQuad && written ? t.writeCost : 1;
        }
        px = x;
        py = y;
    }
    return clocks;
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

// Steps a clipped slant. Lines charge one clock per stepped pixel; quads
// charge their write cost per written pixel, and in the general shape a
// second slot per step for the pixel that closes diagonal gaps.
template <bool kQuad, class Source>
u32 VDP1::stepSlant(const vdp1::Target& t, Slant& s, Source& shared)
{
    using namespace vdp1;
    EdgeStep c = s.c;
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
        if (!t.mesh && !t.clipOn && !t.eightBit && t.calcMode == 0 &&
            row + static_cast<u32>(t.clipWidth) <= t.limit) {
            // Plain replace, the common case: every step costs one clock.
            const s32 clocks = shared.plainRow(t.buffer, row, x, dir, s.count, static_cast<u32>(t.clipWidth));
            if (clocks >= 0)
                return static_cast<u32>(clocks);
        }
        // A copy the loop can keep in registers.
        Source source = shared;
        for (s32 i = 0; i < s.count; ++i, x += dir) {
            u16 colour;
            const int fetched = source.next(colour);
            if (fetched == kStop)
                return clocks + 1;
            if (fetched == kDraw && static_cast<u32>(x) < static_cast<u32>(t.clipWidth) &&
                !(t.mesh && ((x ^ y) & 1)) && ((t.maskX[x] & rowMask) ^ t.clipValue) == 1) {
                const bool written = t.store(x, y, row + static_cast<u32>(x), t.prepare(colour, c));
                clocks += kQuad && written ? t.writeCost : 1;
            } else {
                clocks += 1;
            }
            if (shaded)
                c.step();
        }
        return clocks;
    }
    if (logs(2)) {
        // Names a slant cut at its start: the point before its first pixel.
        const s32 ox = (c.x.val - c.x.inc) >> 19, oy = (c.y.val - c.y.inc) >> 20;
        if (!t.passes<true>(ox, oy))
            logWarning(2, "%s [ox: %d, oy: %d]", shared.slantName(), ox, oy);
    }
    Source source = shared;
    if (!t.simple())
        return stepPixels<kQuad, kAnyWrite>(t, c, s.count, s.general, source);
    if (t.calcMode == 4)
        return stepPixels<kQuad, kShadedWrite>(t, c, s.count, s.general, source);
    return stepPixels<kQuad, kPlainWrite>(t, c, s.count, s.general, source);
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
    u32 clocks = 0;
    Slant s;
    for (s32 i = 0; i <= n; ++i) {
        if (!clipSlant(l, r, m_gouraudOn, s)) {
            clocks += 1;
        } else if (s.count > 0) {
            source.beginSlant(s.c, s.length, s.skipped, s.reversed);
            clocks += stepSlant<kQuad>(t, s, source);
        }
        l.step();
        r.step();
        source.endRow();
    }
    return clocks;
}
