// Line set-up and clipping against the system clip, shared by every
// rasteriser, and the LINE and POLYLINE drawing.
#include <algorithm>

#include "video/vdp1/vdp1_raster.h"

namespace {

constexpr s32 kNever = 0x7FFFFFFF;
constexpr s32 kMaxSteps = 2048;

// One coordinate of a cursor against 0 and a limit. Every step formula
// answers the first step on the other side of an edge.
struct Axis {
    s32 limit;
    int shift;

    bool below(s32 v) const { return v < 0; }
    bool above(s32 v) const { return (v >> shift) >= limit; }
    bool inside(s32 v) const { return !below(v) && !above(v); }
    s64 edge() const { return s64{limit} << shift; }

    s32 enterLow(s32 v, s32 inc) const { return static_cast<s32>(1 - (s64{v} + 1) / inc); }
    s32 leaveLow(s32 v, s32 inc) const { return static_cast<s32>(1 - s64{v} / inc); }
    s32 enterHigh(s32 v, s32 inc) const { return static_cast<s32>((edge() - v) / inc + 1); }
    s32 leaveHigh(s32 v, s32 inc) const { return static_cast<s32>((edge() - v - 1) / inc + 1); }

    // From inside: the first step outside.
    s32 leave(s32 v, s32 inc) const { return inc > 0 ? leaveHigh(v, inc) : inc < 0 ? leaveLow(v, inc) : kNever; }
    // From outside, moving in: the first step inside.
    s32 enter(s32 v, s32 inc) const { return below(v) ? enterLow(v, inc) : enterHigh(v, inc); }
};

}  // namespace

bool VDP1::clipSlant(const EdgeStep& c0, const EdgeStep& c1, bool gouraud, Slant& s)
{
    const s32 x0 = c0.x.val >> 19, x1 = c1.x.val >> 19;
    const s32 y0 = c0.y.val >> 20, y1 = c1.y.val >> 20;
    // Every step lies between the ends, so two ends past one edge of the
    // clip leave nothing to draw and need no steps worked out.
    if (m_fastPaths && ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= m_sclip_x && x1 >= m_sclip_x) ||
                        (y0 >= m_sclip_y && y1 >= m_sclip_y))) {
        ++m_shortcutUses[kVdp1SlantsOutside];
        return false;
    }
    setUpSlant(c0, c1, gouraud, s);
    const bool row = y0 == y1;
    const bool column = !row && x0 == x1;
    const s32 n = s.length - 1;
    const Axis ax{m_sclip_x, 19};
    const Axis ay{m_sclip_y, 20};
    auto inside = [this](s32 x, s32 y) {
        return static_cast<u32>(x) < static_cast<u32>(m_sclip_x) && static_cast<u32>(y) < static_cast<u32>(m_sclip_y);
    };
    if (inside(x0, y0) && inside(x1, y1)) {
        // Nothing to cut; a row on the other field's lines is not drawn.
        return !row || !m_die || m_dil == (y0 & 1);
    }

    if (row || column) {
        if (row ? (y0 < 0 || y0 >= m_sclip_y || (m_die && m_dil != (y0 & 1))) : (x0 < 0 || x0 >= m_sclip_x))
            return false;
        const Axis& a = row ? ax : ay;
        EdgeStep::Pair EdgeStep::*const p = row ? &EdgeStep::x : &EdgeStep::y;
        const s32 v0 = (c0.*p).val, v1 = (c1.*p).val, inc = (s.c.*p).inc;
        const bool in0 = a.inside(v0), in1 = a.inside(v1);
        if (n == 0)
            return in0;
        if (in0) {
            if (!in1)
                s.count = a.leave(v0, inc);
        } else if (!in1) {
            if (a.below(v0) == a.below(v1))
                return false;
            const s32 first = a.enter(v0, inc);
            s.count = a.leave(v0, inc) - first;
            s.c.advance(first);
            s.skipped = first;
        } else if (m_pclp) {
            // Drawn from the far end back to the edge.
            const EdgeStep forward = s.c;
            s.c = c1;
            s.c.x.inc = forward.x.inc;
            s.c.y.inc = forward.y.inc;
            s.c.r.inc = forward.r.inc;
            s.c.g.inc = forward.g.inc;
            s.c.b.inc = forward.b.inc;
            s.c.negate();
            s.reversed = true;
            s.count = a.leave(v1, -inc);
        } else {
            const s32 first = a.enter(v0, inc);
            s.c.advance(first);
            s.skipped = first;
            s.count = s.length - first;
        }
    } else {
        const bool in0 = ax.inside(c0.x.val) && ay.inside(c0.y.val);
        const bool in1 = ax.inside(c1.x.val) && ay.inside(c1.y.val);
        const s32 xv = c0.x.val, xi = s.c.x.inc, yv = c0.y.val, yi = s.c.y.inc;
        if (in0) {
            if (!in1)
                s.count = std::min(ax.leave(xv, xi), ay.leave(yv, yi));
        } else {
            s32 steps[4];
            int found = 0;
            // An axis whose step rounded to 0 never moves, so it crosses no
            // edge even with its two ends on opposite sides.
            auto cross = [&](bool crosses, s32 inc, auto step, const Axis& other, s32 val, s32 otherInc) {
                if (!crosses || inc == 0)
                    return;
                const s32 at = step();
                if (!other.inside(static_cast<s32>(val + s64{otherInc} * at)))
                    return;
                if (std::find(steps, steps + found, at) == steps + found)
                    steps[found++] = at;
            };
            cross(ay.below(yv) != ay.below(c1.y.val), yi,
                  [&] { return yi > 0 ? ay.enterLow(yv, yi) : ay.leaveLow(yv, yi); }, ax, xv, xi);
            cross(ax.above(xv) != ax.above(c1.x.val), xi,
                  [&] { return xi < 0 ? ax.enterHigh(xv, xi) : ax.leaveHigh(xv, xi); }, ay, yv, yi);
            cross(ay.above(yv) != ay.above(c1.y.val), yi,
                  [&] { return yi < 0 ? ay.enterHigh(yv, yi) : ay.leaveHigh(yv, yi); }, ax, xv, xi);
            cross(ax.below(xv) != ax.below(c1.x.val), xi,
                  [&] { return xi > 0 ? ax.enterLow(xv, xi) : ax.leaveLow(xv, xi); }, ay, yv, yi);
            if (!found)
                return false;
            const s32 lo = *std::min_element(steps, steps + found);
            const s32 hi = *std::max_element(steps, steps + found);
            if (found > 2)
                logError(1,
                         "Intersections are greater than 2 [n: %d, st0: %d, st1: %d, st2: %d, st3: %d, c0(x.val: "
                         "%08X, y.val: %08X), c1(x.val: %08X, y.val: %08X)]",
                         found, steps[0], steps[1], steps[2], found > 3 ? steps[3] : -1, c0.x.val, c0.y.val, c1.x.val,
                         c1.y.val);
            const s32 first = std::clamp(lo, 0, s.length);
            s.c.advance(first);
            s.skipped = first;
            s.count = in1 ? s.length - first : found >= 2 ? hi - first : 1;
        }
    }
    if (s.count < 0 || s.count >= kMaxSteps)
        logError(1, "step: %d", s.count);
    // Rounding of the steps must never carry a slant past its own length.
    s.skipped = std::clamp(s.skipped, 0, s.length);
    s.count = std::clamp(s.count, 0, s.length - s.skipped);
    return true;
}

u32 VDP1::draw_line(const char*, const Vertex& v0, const Vertex& v1)
{
    Slant s;
    if (!clipSlant(EdgeStep::at(v0), EdgeStep::at(v1), m_gouraudOn, s))
        return 1;
    u16 shades[96];
    vdp1::FlatSource source{m_cmd.colr};
    if (m_gouraudOn && m_calcMode == 4) {
        target().shadeTable(m_cmd.colr, shades);
        source.shades = shades;
    }
    return stepSlant<false>(target(), s, source, false);
}
