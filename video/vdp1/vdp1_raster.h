#pragma once

// The pixel loop shared by lines, polygons and sprites. Private to the
// rasteriser sources.

#include "core/bus.h"
#include "video/vdp1/vdp1.h"

namespace vdp1 {

// What a colour source says about the pixel it was asked for.
enum Fetch : int { kDraw = 0, kSkip = 1, kStop = 2 };

// Extra pixel that closes the gap a diagonal step leaves, by the step's
// direction ((dx & 3) << 2 | (dy & 3)).
struct Offset {
    s8 x, y;
};
constexpr Offset kAntiAlias[16] = {
    {0, 0}, {0, 0}, {0, 0}, {0, 0},  //
    {0, 0}, {0, -1}, {0, 0}, {-1, 0},  // dx = +1
    {0, 0}, {0, 0}, {0, 0}, {0, 0},  //
    {0, 0}, {1, 0}, {0, 0}, {0, 1},  // dx = -1
};

// A single colour for every pixel: lines and polygons.
struct FlatSource {
    u16 colour;
    void beginQuad(s32) {}
    void beginSlant(const VDP1::EdgeStep&, s32, s32, bool) {}
    void endRow() {}
    int next(u16& out) const
    {
        out = colour;
        return kDraw;
    }
};

}  // namespace vdp1

inline bool VDP1::pixelPasses(s32 x, s32 y) const
{
    if (m_meshOn && ((x ^ y) & 1))
        return false;
    if (((m_uclipMaskX[x] & m_uclipMaskY[y] & m_clipOn) ^ m_clipValue) != 1)
        return false;
    return !m_die || (y & 1) == m_dil;
}

inline u16 VDP1::gouraud(u16 colour, const EdgeStep& c) const
{
    const u32 r = m_gouraudTable[(colour & 31) | ((c.r.val >> 26) & 31) << 5];
    const u32 g = m_gouraudTable[((colour >> 5) & 31) | ((c.g.val >> 26) & 31) << 5];
    const u32 b = m_gouraudTable[((colour >> 10) & 31) | ((c.b.val >> 26) & 31) << 5];
    return static_cast<u16>(r | g << 5 | b << 10);
}

// Writes one pixel through the tests and the colour calculation; answers
// whether it was written.
inline bool VDP1::plot(s32 x, s32 y, u16 colour, const EdgeStep& c)
{
    if (static_cast<u32>(x) >= static_cast<u32>(m_sclip_x) || static_cast<u32>(y) >= static_cast<u32>(m_sclip_y))
        return false;
    if (!pixelPasses(x, y))
        return false;
    const u32 index = (static_cast<u32>(y >> m_die) << m_rowShift) + static_cast<u32>(x);
    if (m_eightBit) {
        m_drawBuffer[index & kFrameBufferMask] = static_cast<u8>(colour);
        return true;
    }
    u8* p = m_drawBuffer + ((index << 1) & kFrameBufferMask);
    auto half = [](u32 v, u32 mask) { return static_cast<u16>((static_cast<s16>(v) >> 1) & mask); };
    u16 out;
    switch (m_calcMode) {
    case 0:
        out = colour;
        break;
    case 1: {
        const u16 old = loadBe16(p);
        if (!(old & 0x8000))
            return true;
        out = half(old, 0xBDEF);
        break;
    }
    case 2:
        out = half(colour, 0xBDEF);
        break;
    case 3: {
        const u16 old = loadBe16(p);
        out = (old & 0x8000) ? static_cast<u16>(half(old, 0xBDEF) + half(colour, 0x3DEF)) : colour;
        break;
    }
    case 4:
        out = gouraud(colour, c) | (colour & 0x8000);
        break;
    case 6:
        out = half(gouraud(colour, c), 0x3DEF) | (colour & 0x8000);
        break;
    case 7: {
        const u16 shaded = gouraud(colour, c) | (colour & 0x8000);
        const u16 old = loadBe16(p);
        out = (old & 0x8000) ? static_cast<u16>(half(shaded, 0x3DEF) + half(old, 0xBDEF)) : shaded;
        break;
    }
    case 8:
        p[0] |= 0x80;
        return true;
    default:
        out = 0;
        break;
    }
    storeBe16(p, out);
    return true;
}

// Steps a clipped slant. Lines charge one clock per stepped pixel; quads
// charge their write cost per written pixel, and in the general shape a
// second slot per step for the pixel that closes diagonal gaps.
template <bool kQuad, class Source>
u32 VDP1::stepSlant(Slant& s, Source& source)
{
    using namespace vdp1;
    EdgeStep c = s.c;
    const bool antiAlias = kQuad && s.general;
    s32 px = (c.x.val - c.x.inc) >> 19;
    s32 py = (c.y.val - c.y.inc) >> 20;
    u32 clocks = 0;
    for (s32 i = 0; i < s.count; ++i, c.step()) {
        const s32 x = c.x.val >> 19;
        const s32 y = c.y.val >> 20;
        u16 colour;
        const int fetched = source.next(colour);
        if (fetched == kStop)
            return clocks + 1;
        if (fetched == kSkip) {
            clocks += antiAlias ? 0 : 1;
        } else {
            if (antiAlias) {
                const s32 dx = x - px, dy = y - py;
                bool extra = false;
                if (dx && dy) {
                    const Offset o = kAntiAlias[(dx & 3) << 2 | (dy & 3)];
                    if (o.x || o.y)
                        extra = plot(x + o.x, y + o.y, colour, c);
                }
                clocks += extra ? m_writeCost : 1;
            }
            const bool written = plot(x, y, colour, c);
            clocks += kQuad && written ? m_writeCost : 1;
        }
        px = x;
        py = y;
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
    u32 clocks = 0;
    Slant s;
    for (s32 i = 0; i <= n; ++i) {
        if (!clipSlant(l, r, m_gouraudOn, s)) {
            clocks += 1;
        } else if (s.count > 0) {
            source.beginSlant(s.c, s.length, s.skipped, s.reversed);
            clocks += stepSlant<kQuad>(s, source);
        }
        l.step();
        r.step();
        source.endRow();
    }
    return clocks;
}
