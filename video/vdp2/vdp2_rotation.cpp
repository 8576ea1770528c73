// VDP2 rotation layers RBG0 and RBG1: parameter tables, coefficient tables,
// the per-dot transform and the screen-over modes.
#include <algorithm>
#include <cstring>

#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_fetch.h"
#include "video/vdp2/vdp2_simd.h"

using namespace vdp2;

namespace {

s32 bitField(u32 raw, int high, int low)
{
    // Bits high..low of raw as a signed value.
    return static_cast<s32>(raw << (31 - high)) >> (31 - high + low);
}

s32 signed14(u16 raw)
{
    return static_cast<s32>(static_cast<u32>(raw) << 18) >> 18;
}

// Products wrap instead of overflowing: a program can put any value in the
// table.
s64 mul(s64 a, s64 b)
{
    return static_cast<s64>(static_cast<u64>(a) * static_cast<u64>(b));
}

s64 add(s64 a, s64 b)
{
    return static_cast<s64>(static_cast<u64>(a) + static_cast<u64>(b));
}

s64 shl(s64 a, int n)
{
    return static_cast<s64>(static_cast<u64>(a) << n);
}

}  // namespace

// With 'full' clear only what the line-position rule carries from line to
// line is read: the start coordinates and their increments.
void VDP2::readRotationTable(int set, int v, bool full)
{
    RotationParams& p = m_rotation[set];
    const u32 base = ((((reg(RPTAU) & 7u) << 16) | (reg(RPTAL) & 0xFFBE)) * 2 + (set ? 0x80 : 0)) & m_vramMask;
    auto word32 = [&](u32 offset) { return loadBe32(m_vram + ((base + offset) & m_vramMask & ~3u)); };
    auto word16 = [&](u32 offset) { return loadBe16(m_vram + ((base + offset) & m_vramMask & ~1u)); };

    const s32 xst = bitField(word32(0x00), 28, 6);
    const s32 yst = bitField(word32(0x04), 28, 6);
    p.dxst = bitField(word32(0x0C), 18, 6);
    p.dyst = bitField(word32(0x10), 18, 6);
    const u32 kast = word32(0x54) >> 6;
    p.dkast = bitField(word32(0x58), 25, 6);

    p.rereadMask = static_cast<u8>((reg(RPRCTL) >> (set ? 8 : 0)) & 7);
    const bool first = v == 0 || p.lastLine < 0 || (m_interlace == 3 && v == 1);
    const bool sameLine = v == p.lastLine;
    const int lines = m_interlace == 3 ? 2 : 1;
    // Start coordinates follow the line-position rule unless the program
    // asks for a re-read on every line. Display line 1, where the field of
    // odd lines starts in double density, is the frame's second line.
    const bool secondLine = m_interlace == 3 && v == 1;
    auto follow = [&](s32& line, s32& last, s32 value, s32 step, u8 reread) {
        if (reread)
            line = value;
        else if (first)
            line = secondLine ? static_cast<s32>(static_cast<u32>(value) + static_cast<u32>(step)) : value;
        else if (sameLine)
            return;
        else if (value == last)
            line = static_cast<s32>(static_cast<u32>(line) + static_cast<u32>(step) * lines);
        else
            line = value;
        last = value;
    };
    follow(p.xLine, p.lastXst, xst, p.dxst, p.rereadMask & 1);
    follow(p.yLine, p.lastYst, yst, p.dyst, p.rereadMask & 2);
    p.xst = xst;
    p.yst = yst;
    if ((p.rereadMask & 4) || first)
        p.kaLine = kast;
    else if (!sameLine)
        p.kaLine += static_cast<u32>(p.dkast);
    p.kast = kast;
    p.lastLine = v;
    if (!full)
        return;

    p.zst = bitField(word32(0x08), 28, 6);
    p.dx = bitField(word32(0x14), 18, 6);
    p.dy = bitField(word32(0x18), 18, 6);
    p.a = bitField(word32(0x1C), 19, 6);
    p.b = bitField(word32(0x20), 19, 6);
    p.c = bitField(word32(0x24), 19, 6);
    p.d = bitField(word32(0x28), 19, 6);
    p.e = bitField(word32(0x2C), 19, 6);
    p.f = bitField(word32(0x30), 19, 6);
    p.px = signed14(word16(0x34));
    p.py = signed14(word16(0x36));
    p.pz = signed14(word16(0x38));
    p.cx = signed14(word16(0x3C));
    p.cy = signed14(word16(0x3E));
    p.cz = signed14(word16(0x40));
    p.mx = bitField(word32(0x44), 29, 6);
    p.my = bitField(word32(0x48), 29, 6);
    p.kx = bitField(word32(0x4C), 23, 0);
    p.ky = bitField(word32(0x50), 23, 0);
    p.dkax = bitField(word32(0x5C), 25, 6);
    computeRotation(set);
}

void VDP2::computeRotation(int set)
{
    RotationParams& p = m_rotation[set];
    const s64 xs = s64{p.xLine} - s64{p.px} * 1024;
    const s64 ys = s64{p.yLine} - s64{p.py} * 1024;
    const s64 zs = s64{p.zst} - s64{p.pz} * 1024;
    p.xsp = add(add(mul(p.a, xs), mul(p.b, ys)), mul(p.c, zs));
    p.ysp = add(add(mul(p.d, xs), mul(p.e, ys)), mul(p.f, zs));
    p.xp = s64{p.a} * (p.px - p.cx) + s64{p.b} * (p.py - p.cy) + s64{p.c} * (p.pz - p.cz) + s64{p.cx} * 1024 + p.mx;
    p.yp = s64{p.d} * (p.px - p.cx) + s64{p.e} * (p.py - p.cy) + s64{p.f} * (p.pz - p.cz) + s64{p.cy} * 1024 + p.my;
    p.stepX = s64{p.a} * p.dx + s64{p.b} * p.dy;
    p.stepY = s64{p.d} * p.dx + s64{p.e} * p.dy;
    if (m_screenMode == 2 || m_screenMode == 3) {
        p.stepX /= 2;
        p.stepY /= 2;
    }
}

void VDP2::decodeRotationSet(int set, const Layer& layer)
{
    RotationParams& p = m_rotation[set];
    const u32 shift = set ? 8 : 0;
    const u32 ktctl = (reg(KTCTL) >> shift) & 0x1F;
    p.coefficients = ktctl & 1;
    p.coefficientWord = (ktctl >> 1) & 1;
    p.coefficientMode = (ktctl >> 2) & 3;
    p.coefficientLineColor = ((ktctl >> 4) & 1) && !p.coefficientWord;
    p.coefficientsInColorRam = (reg(RAMCTL) >> 15) & 1;
    const u32 ktaof = (reg(KTAOF) >> shift) & 7;
    p.coefficientBase = p.coefficientWord ? (ktaof & 7) << 17 : (ktaof & 3) << 18;
    if (p.coefficientMode == 3)
        p.coefficientShift = p.coefficientWord ? 17 : 14;
    else
        p.coefficientShift = p.coefficientWord ? 11 : 8;

    const u16 plsz = reg(PLSZ);
    const u32 planeSize = (plsz >> (set ? 12 : 8)) & 3;
    p.overMode = (plsz >> (set ? 14 : 10)) & 3;
    p.overName = reg(set ? OVPNRB : OVPNRA);
    const u32 mapOffset = (reg(MPOFR) >> (set ? 4 : 0)) & 7;
    p.bitmapBase = (mapOffset * 0x20000) & m_vramMask;

    buildMap(p.map, layer, planeSize, mapOffset, set ? MPABRB : MPABRA, 16);
}

namespace {

// A parameter set's coefficients along one line. The table is read again
// only when the dot's table index moves on, which with per-line
// coefficients is once a line.
struct CoefficientLine {
    const u8* memory = nullptr;
    u32 base = 0, indexMask = 0, mask = 0;
    u32 ka = 0, step = 0;
    u32 index = ~0u;
    u8 oneWord = 0, shift = 0;
    // The last read entry.
    s32 value = 0;
    u8 transparent = 0, lineCode = 0;

    // True when the entry at ka differs in index from the last one read.
    [[gnu::always_inline]] bool advance()
    {
        const u32 at = ka >> 10;
        ka += step;
        if (at == index)
            return false;
        index = at;
        if (oneWord) {
            const u32 data = loadBe16(memory + ((base + ((at << 1) & indexMask)) & mask & ~1u));
            transparent = (data >> 15) & 1;
            value = static_cast<s32>(data << 17) >> shift;
        } else {
            const u32 data = loadBe32(memory + ((base + ((at << 2) & indexMask)) & mask & ~3u));
            transparent = (data >> 31) & 1;
            lineCode = (data >> 24) & 0x7F;
            value = static_cast<s32>(data << 8) >> shift;
        }
        return true;
    }
};

CoefficientLine coefficientLine(const VDP2::RotationParams& p, const u8* vram, u32 vramMask, const u8* colorRam)
{
    CoefficientLine c;
    if (p.coefficientsInColorRam) {
        c.memory = colorRam;
        c.base = 0x800;
        c.indexMask = 0x7FF;
        c.mask = kColorRamMask;
    } else {
        c.memory = vram;
        c.base = p.coefficientBase;
        c.indexMask = ~0u;
        c.mask = vramMask;
    }
    c.ka = p.kaLine;
    c.step = static_cast<u32>(p.dkax);
    c.oneWord = p.coefficientWord;
    c.shift = static_cast<u8>(p.coefficientShift);
    return c;
}

// The scale and centre terms of a set at a dot, with its coefficient applied.
struct Scale {
    s64 kx, ky, xp, yp;
};

Scale scaleOf(const VDP2::RotationParams& p, s32 coefficient)
{
    Scale k{p.kx, p.ky, p.xp, p.yp};
    if (p.coefficients) {
        switch (p.coefficientMode) {
        case 0: k.kx = k.ky = coefficient; break;
        case 1: k.kx = coefficient; break;
        case 2: k.ky = coefficient; break;
        default: k.xp = coefficient; break;
        }
    }
    return k;
}

// A set's running map position. The position of dot x is
// ((x * step + start) * k + (centre << 26)) >> 36 in wrapping 64-bit
// arithmetic; while k and the centre stay put it grows by step * k a dot,
// exactly, so it is formed anew only where a coefficient changes them or
// the dot switches parameter sets.
struct RotationSums {
    u64 x = 0, y = 0, stepX = 0, stepY = 0;

    RotationSums() = default;
    RotationSums(const VDP2::RotationParams& p, const Scale& k, u32 dot)
        : x(static_cast<u64>(add(mul(add(mul(s64{dot}, p.stepX), p.xsp), k.kx), shl(k.xp, 26)))),
          y(static_cast<u64>(add(mul(add(mul(s64{dot}, p.stepY), p.ysp), k.ky), shl(k.yp, 26)))),
          stepX(static_cast<u64>(mul(p.stepX, k.kx))), stepY(static_cast<u64>(mul(p.stepY, k.ky)))
    {
    }

    void step(u32 dots = 1)
    {
        x += stepX * dots;
        y += stepY * dots;
    }
    s64 col() const { return static_cast<s64>(x) >> 36; }
    s64 row() const { return static_cast<s64>(y) >> 36; }
};

// The line colour a two-word coefficient names, looked up again only where
// the entry (or the set) changes.
struct CoefficientColor {
    Palette colors;
    u32 base;    // the line colour screen's colour-code bits above the coefficient's
    u32 screen;  // the line colour screen's colour
    u32 color = 0, index = ~0u;
    int set = -1;

    // A dot of a set without line colours in its coefficients takes the
    // line colour screen's, as on a line without coefficients.
    u32 at(const VDP2::RotationParams& p, const CoefficientLine& c, int entrySet)
    {
        return p.coefficients && p.coefficientLineColor ? of(c, entrySet) : screen;
    }

    u32 of(const CoefficientLine& c, int entrySet = 0)
    {
        if (c.index != index || entrySet != set) {
            u8 msb;
            color = colors.lookup(base | c.lineCode, msb);
            index = c.index;
            set = entrySet;
        }
        return color;
    }
};

// Where the pattern name of a map coordinate lies, with the map's shifts
// taken out of the per-dot work.
struct MapLocator {
    const u32* plane;
    u32 shiftX, shiftY, across, planesMask, pagesAcross, charShift, perRow, nameShift, vramMask;

    MapLocator(const MapGeometry& map, u32 charShiftOf, bool twoWord, u32 mask)
        : plane(map.plane), shiftX(map.planeShiftX), shiftY(map.planeShiftY), across(map.planesAcrossShift),
          planesMask(map.planesMask), pagesAcross(map.pagesAcrossShift), charShift(charShiftOf),
          perRow(9 - charShiftOf), nameShift(twoWord ? 2 : 1), vramMask(mask)
    {
    }

    // Which of the sixteen planes, and where in it, for one dot or eight.
    template <class V>
    [[gnu::always_inline]] V planeOf(V col, V row) const
    {
        return (((col >> shiftX) & planesMask) | (((row >> shiftY) & planesMask) << across)) & 15u;
    }
    template <class V>
    [[gnu::always_inline]] V nameOffset(V col, V row) const
    {
        const V px = col & ((1u << shiftX) - 1);
        const V py = row & ((1u << shiftY) - 1);
        const V page = (px >> 9u) | ((py >> 9u) << pagesAcross);
        const V index = (page << (2 * perRow)) | (((py & 511u) >> charShift) << perRow) | ((px & 511u) >> charShift);
        return index << nameShift;
    }

    [[gnu::always_inline]] u32 address(u32 col, u32 row) const
    {
        return (plane[planeOf(col, row)] + nameOffset(col, row)) & vramMask;
    }
};

// What a steady line's dots need, copied out of the layer so that the
// loop keeps it in registers across its byte stores.
struct SteadyLine {
    const u8* vram;
    u32 vramMask;
    Palette colors;
    const u8* table;
    NameDecoder decoder;
    MapLocator locator;
    u32 widthMask, heightMask;
    u32 cramOffset;
    u8 transparentShown, priorityMode, priority;
    u32 ccMode;
    u8 record;
};

SteadyLine steadyLine(const VDP2::Layer& layer, const VDP2::RotationParams& p, const u8* vram, u32 vramMask,
                      const Palette& colors, const u8* table, u32 ccMode)
{
    return {vram,
            vramMask,
            colors,
            table,
            NameDecoder(layer, vramMask),
            MapLocator(p.map, layer.charSize16 ? 4u : 3u, layer.twoWord, vramMask),
            p.map.widthMask,
            p.map.heightMask,
            layer.cramOffset,
            layer.transparentShown,
            layer.specialPriorityMode,
            layer.priority,
            ccMode,
            static_cast<u8>(layer.record)};
}

// The dots of a one-set line at map coordinates, remembering the last dot
// and character. Plain: the layer's own priority and colour calculation on
// every dot.
template <int Mode, bool Plain, bool Char16>
struct SetDots {
    static constexpr u32 kCharShift = Char16 ? 4 : 3;
    static constexpr u32 kCharMask = (1u << kCharShift) - 1;

    SteadyLine l;
    u8 plainKey;  // the layer's key on an opaque dot
    u32 lastDotKey = ~0u, cachedCell = ~0u, cachedAddress = ~0u;
    u32 color = 0;
    u8 key = 0, cc = Plain ? 1 : 0;
    PatternName name;

    explicit SetDots(const SteadyLine& line)
        : l(line),
          plainKey(layerKey(line.priority, line.record))
    {
        // Constant shifts keep the cell and character arithmetic short.
        l.locator.charShift = kCharShift;
        l.locator.perRow = 9 - kCharShift;
    }

    // Sets color, key and cc for the map dot (col, row); inlined, so that
    // the loops keep its state in registers.
    [[gnu::always_inline]] void at(u32 col, u32 row)
    {
        // Magnified parts of the map repeat a dot over several screen dots.
        const u32 dotKey = col << 12 | row;
        if (dotKey == lastDotKey)
            return;
        lastDotKey = dotKey;
        const u32 cell = (col >> kCharShift) << 16 | (row >> kCharShift);
        if (cell != cachedCell) {
            cachedCell = cell;
            const u32 address = l.locator.address(col, row);
            if (address != cachedAddress) {
                name = l.decoder.read(l.vram, address);
                cachedAddress = address;
            }
        }
        const u32 dx = (col & kCharMask) ^ (name.hflip ? kCharMask : 0);
        const u32 dy = (row & kCharMask) ^ (name.vflip ? kCharMask : 0);
        const u32 raw = charDot<Mode>(l.vram, l.vramMask, name.charAddress, dx, dy);
        const DotColor dot = resolveDot<Mode>(raw, name.palette, l.cramOffset, l.transparentShown, l.colors);
        color = dot.color;
        if constexpr (Plain) {
            key = static_cast<u8>(plainKey & -static_cast<u32>(dot.opaque));
        } else {
            const u32 priority = dotPriority(l.priorityMode, l.priority, name.specialPriority, l.table, dot.code);
            key = static_cast<u8>(layerKey(priority, l.record) & -static_cast<u32>(dot.opaque));
            cc = dotCcCondition(l.ccMode, name.specialCc, l.table, dot.code, dot.msb);
        }
    }
};

template <int Mode, bool Plain, bool Char16>
void steadyDots(const SteadyLine& line, RotationSums sums, const u8* pass, u32 first, u32 width, LineDots& out)
{
    SetDots<Mode, Plain, Char16> dots(line);
    const u32 widthMask = line.widthMask, heightMask = line.heightMask;
    u32* colorOut = out.color;
    u8* keyOut = out.key;
    u8* ccOut = out.cc;
    for (u32 x = first; x < width; ++x) {
        dots.at(static_cast<u32>(sums.col()) & widthMask, static_cast<u32>(sums.row()) & heightMask);
        sums.step();
        colorOut[x] = dots.color;
        keyOut[x] = static_cast<u8>(dots.key & -pass[x]);
        ccOut[x] = dots.cc;
    }
}

// A one-set line whose coefficient may change from dot to dot, as far as it
// is drawn: the last dot's entry and sums.
struct CoefficientDots {
    const VDP2::RotationParams& p;
    CoefficientLine c;
    CoefficientColor lineColor;
    u32* lineColors;
    u8& lineColorUsed;
    RotationSums sums;

    // Moves on to dot x, whose sums are formed anew where its entry differs
    // from the last dot's (or where fresh) and stepped on where not. False
    // where the entry hides the dot.
    [[gnu::always_inline]] bool next(u32 x, bool fresh)
    {
        if (c.advance() || fresh)
            sums = RotationSums(p, scaleOf(p, c.value), x);
        else
            sums.step();
        if (c.transparent)
            return false;
        if (p.coefficientLineColor) {
            lineColors[x] = lineColor.of(c);
            lineColorUsed = 1;
        }
        return true;
    }
};

// Dots first .. width - 1 of such a line.
template <int Mode, bool Plain, bool Char16>
void coefficientDots(const SteadyLine& line, CoefficientDots& d, const u8* pass, u32 first, u32 width, LineDots& out)
{
    SetDots<Mode, Plain, Char16> dots(line);
    const u32 widthMask = line.widthMask, heightMask = line.heightMask;
    for (u32 x = first; x < width; ++x) {
        if (!d.next(x, x == first)) {
            out.key[x] = 0;
            out.cc[x] = 0;
            continue;
        }
        dots.at(static_cast<u32>(d.sums.col()) & widthMask, static_cast<u32>(d.sums.row()) & heightMask);
        out.color[x] = dots.color;
        out.key[x] = static_cast<u8>(dots.key & -pass[x]);
        out.cc[x] = dots.cc;
    }
}

// What a two-set line needs besides the sets' steady lines.
struct TwoSetLine {
    const VDP2::RotationParams* params;  // A and B
    CoefficientLine coefficients[2];
    CoefficientColor lineColors[2];
    const u8* setB;  // per dot, 1 for set B; null: set B where A's coefficient is transparent
    u32* lineColorOut;
    u8* lineColorUsed;
};

template <int Mode, bool Plain, bool Char16>
struct TwoSetDots {
    const SteadyLine (&lines)[2];
    TwoSetLine& t;
    const u8* pass;
    u32 width;
    LineDots& out;
    SetDots<Mode, Plain, Char16> dots[2] = {SetDots<Mode, Plain, Char16>(lines[0]),
                                            SetDots<Mode, Plain, Char16>(lines[1])};
    RotationSums sums[2] = {RotationSums(t.params[0], scaleOf(t.params[0], 0), 0),
                            RotationSums(t.params[1], scaleOf(t.params[1], 0), 0)};

    u32 begin = 0;

    // Moves both sets' coefficients on to dot x; returns the set of the dot.
    // Per-line coefficients are read at the first dot only.
    int setAt(u32 x)
    {
        for (int s = 0; s < 2; ++s) {
            const VDP2::RotationParams& p = t.params[s];
            if (p.coefficients && (x == begin || p.dkax != 0) && t.coefficients[s].advance())
                sums[s] = RotationSums(p, scaleOf(p, t.coefficients[s].value), x);
        }
        return t.setB ? t.setB[x] : t.coefficients[0].transparent;
    }

    // Dots of set Set from x on, with its last dot and character held in
    // registers, up to the first dot of the other set.
    template <int Set>
    u32 run(u32 x, int& next)
    {
        SetDots<Mode, Plain, Char16> d = dots[Set];
        const VDP2::RotationParams& p = t.params[Set];
        const CoefficientLine& c = t.coefficients[Set];
        const u32 widthMask = lines[Set].widthMask, heightMask = lines[Set].heightMask;
        for (;;) {
            if (p.coefficients && c.transparent) {
                out.key[x] = 0;
                out.cc[x] = 0;
            } else {
                if (*t.lineColorUsed)
                    t.lineColorOut[x] = t.lineColors[Set].at(p, c, 0);
                d.at(static_cast<u32>(sums[Set].col()) & widthMask, static_cast<u32>(sums[Set].row()) & heightMask);
                out.color[x] = d.color;
                out.key[x] = static_cast<u8>(d.key & -pass[x]);
                out.cc[x] = d.cc;
            }
            sums[0].step();
            sums[1].step();
            if (++x >= width || (next = setAt(x)) != Set)
                break;
        }
        dots[Set] = d;
        return x;
    }

    // Dots first .. width - 1, each set's sums and entry formed anew at first.
    void draw(u32 first)
    {
        begin = first;
        for (int s = 0; s < 2; ++s) {
            sums[s] = RotationSums(t.params[s], scaleOf(t.params[s], 0), first);
            t.coefficients[s].index = ~0u;
        }
        int set = first < width ? setAt(first) : 0;
        for (u32 x = first; x < width;)
            x = set ? run<1>(x, set) : run<0>(x, set);
    }
};

template <int Mode, bool Plain, bool Char16>
void twoSetDots(const SteadyLine (&lines)[2], TwoSetLine& t, const u8* pass, u32 first, u32 width, LineDots& out)
{
    TwoSetDots<Mode, Plain, Char16>{lines, t, pass, width, out}.draw(first);
}

#if KEST_X86
// Four running sums from sum on, every other dot: dots 0, 2, 4 and 6 from
// sum, or 1, 3, 5 and 7 from sum + step.
__attribute__((target("avx2"))) inline __m256i lanes(u64 sum, u64 step)
{
    return _mm256_setr_epi64x(static_cast<long long>(sum), static_cast<long long>(sum + 2 * step),
                              static_cast<long long>(sum + 4 * step), static_cast<long long>(sum + 6 * step));
}

// The map coordinate of eight dots, bits 36 and up of each sum (the even
// dots' sums in evens, the odd ones' in odds), as 28 bits.
__attribute__((target("avx2"))) inline Lanes8 coordinate(__m256i evens, __m256i odds)
{
    return _mm256_srli_epi32(_mm256_blend_epi32(_mm256_srli_epi64(evens, 32), odds, 0xAA), 4);
}

__attribute__((target("avx2"))) inline u32 lane0(Lanes8 v)
{
    return static_cast<u32>(_mm256_cvtsi256_si32(v.v));
}

__attribute__((target("avx2"))) inline u32 lane7(Lanes8 v)
{
    return static_cast<u32>(_mm256_extract_epi32(v.v, 7));
}

// Each lane of b where the top bit of that lane of takeB is set, else of a.
__attribute__((target("avx2"))) inline __m256i pick(__m256i a, __m256i b, __m256i takeB)
{
    return _mm256_castps_si256(
        _mm256_blendv_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _mm256_castsi256_ps(takeB)));
}

// Sixteen words in two registers, by the low four bits of index.
__attribute__((target("avx2"))) inline __m256i pick16(__m256i low, __m256i high, __m256i index)
{
    return pick(_mm256_permutevar8x32_epi32(low, index), _mm256_permutevar8x32_epi32(high, index),
                _mm256_slli_epi32(index, 28));
}

// One 8 x 8 cell of a character, read whole with its flips applied: its
// rows' words and, with 16 colours, its palette's colours.
template <int Mode>
struct CellData {
    static constexpr u32 kRegisters = Mode == 0 ? 1 : 2;
    u32 key = ~0u;       // the cell's place in the map; never a real one at first
    bool whole = false;  // false: the cell wraps at the end of VRAM, and is read dot by dot
    u32 base = 0;        // the colour code of its dot 0
    __m256i words[kRegisters];
    __m256i colors[2];
};

// The dots of a steady line eight at a time, for the palette modes of 16
// and 256 colours. A gather of eight scattered words is the slow step, three
// of them a group (names, character dots, colours). Where no more than map
// dot a screen dot passes, eight dots lie in the four cells of a two by two
// block; those cells are read once, flipped, and kept while the dots stay
// in them (a cell at each place of the block by the parity of its column
// and row), and the lanes pick their dots, and 16-colour colours, from
// registers.
template <int Mode, bool Char16>
struct SteadyAvx2 {
    static constexpr u32 kCharMask = Char16 ? 15 : 7;
    static constexpr u32 kCellBytes = 1u << kCellShift<Mode>;

    MapLocator m;
    NameDecoder d;
    const u8* vram;
    const int* words;
    u32 vramMask, cramOffset;
    const u32* colors;
    u32 colorMask;
    __m256i planeLow, planeHigh;
    CellData<Mode> cells[4];

    __attribute__((target("avx2"))) explicit SteadyAvx2(const SteadyLine& l)
        : m(l.locator), d(l.decoder), vram(l.vram), words(reinterpret_cast<const int*>(l.vram)),
          vramMask(l.vramMask), cramOffset(l.cramOffset), colors(l.colors.colors), colorMask(l.colors.mask),
          planeLow(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.plane))),
          planeHigh(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.plane + 8)))
    {
        // Constant shifts keep the cell and character arithmetic short.
        m.charShift = Char16 ? 4 : 3;
        m.perRow = 9 - m.charShift;
    }

    // Colours and dots of eight map dots (col and row masked to the map); a
    // dot of 16 or 32 bits as its top bit.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void operator()(Lanes8 col, Lanes8 row,
                                                                                   Lanes8& color, Lanes8& dot)
    {
        if constexpr (Mode <= 1) {
            if (fromCells(col, row, color, dot))
                return;
        }
        scattered(col, row, color, dot);
    }

    // Any eight dots, by gathers.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void scattered(Lanes8 col, Lanes8 row,
                                                                                  Lanes8& color, Lanes8& dot) const
    {
        // Where the pattern name lies: the plane by two table permutes.
        const Lanes8 planeBase = pick16(planeLow, planeHigh, m.planeOf(col, row).v);
        const Lanes8 address = (planeBase + m.nameOffset(col, row)) & vramMask;

        // The names, read a word at a time.
        const Lanes8 names = gather8<1>(words, (address & ~3u).v);
        NameFields<Lanes8> name;
        if (d.twoWord) {
            const __m256i swap32 = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0,
                                                    7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
            name = twoWordName(Lanes8(_mm256_shuffle_epi8(names.v, swap32)), vramMask);
        } else {
            const Lanes8 half = names >> ((address & 2u) << 3u);
            name = d.oneWord(((half & 0xFFu) << 8u) | ((half >> 8u) & 0xFFu));
        }

        const Lanes8 dx = (col & kCharMask) ^ ((Lanes8(0u) - name.hflip) & kCharMask);
        const Lanes8 dy = (row & kCharMask) ^ ((Lanes8(0u) - name.vflip) & kCharMask);
        const Lanes8 rowAt = charRow<Mode>(name.charAddress, dx, dy);
        if constexpr (Mode <= 1) {
            // The word of each dot in its character: a 16-colour row is one, a 256-colour one two.
            dot = dotOf(gather8<1>(words, ((rowAt + (Mode == 0 ? Lanes8(0u) : dx & 4u)) & vramMask).v), dx);
            color = gather8<4>(colors, ((dot + paletteBase<Mode>(name.palette) + cramOffset) & colorMask).v);
            return;
        }
        // Dots of 16 and 32 bits; dot gets what says whether each shows.
        const Lanes8 at = (rowAt + ((dx & 7u) << (Mode == 4 ? 2u : 1u))) & vramMask;
        const Lanes8 word = gather8<1>(words, (at & ~3u).v);
        if constexpr (Mode == 4) {
            const Lanes8 raw = _mm256_shuffle_epi8(word.v, _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15,
                                                                            14, 13, 12, 3, 2, 1, 0, 7, 6, 5, 4, 11, 10,
                                                                            9, 8, 15, 14, 13, 12));
            dot = raw >> 31u;
            color = swapRedBlue(raw);
        } else {
            const Lanes8 half = word >> ((at & 2u) << 3u);
            const Lanes8 raw = ((half & 0xFFu) << 8u) | ((half >> 8u) & 0xFFu);
            if constexpr (Mode == 3) {
                dot = raw >> 15u;
                color = rgb555(raw);
            } else {
                dot = raw & 0x7FFu;
                color = gather8<4>(colors, ((dot + cramOffset) & colorMask).v);
            }
        }
    }

    // The dot of each lane out of the word that holds it.
    __attribute__((target("avx2"))) [[gnu::always_inline]] static inline Lanes8 dotOf(Lanes8 word, Lanes8 dx)
    {
        // A 16-colour dot's nibble: the high one of its byte first.
        if constexpr (Mode == 0)
            return (word >> (((dx & 7u) ^ 1u) << 2u)) & 15u;
        return (word >> ((dx & 3u) << 3u)) & 0xFFu;
    }

    // Eight dots in at most two cells, the first dot's and the last one's;
    // false when they are not, or a cell is not whole.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline bool fromCells(Lanes8 col, Lanes8 row,
                                                                                  Lanes8& color, Lanes8& dot)
    {
        const Lanes8 key = ((row >> 3u) << 16u) | (col >> 3u);
        const u32 key0 = lane0(key), key1 = lane7(key);
        const __m256i second = _mm256_cmpeq_epi32(key.v, _mm256_set1_epi32(static_cast<int>(key1)));
        const __m256i first = _mm256_cmpeq_epi32(key.v, _mm256_set1_epi32(static_cast<int>(key0)));
        if (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(first, second))) != 0xFF)
            return false;
        // A cell's place: the parities of its column and row, which differ
        // between neighbours.
        const u32 place0 = (key0 & 1) | ((key0 >> 15) & 2), place1 = (key1 & 1) | ((key1 >> 15) & 2);
        const bool one = key0 == key1;
        if (!one && place0 == place1)
            return false;
        if (!ready(place0, key0))
            return false;
        const CellData<Mode>& a = cells[place0];

        // Flips are in the cells: the dot's own place in its cell reads it.
        const Lanes8 dx = col & 7u, dy = row & 7u;
        if (one) {
            // Magnified maps keep all eight dots in one cell for long runs.
            if constexpr (Mode == 0) {
                dot = dotOf(_mm256_permutevar8x32_epi32(a.words[0], dy.v), dx);
                color = pick16(a.colors[0], a.colors[1], dot.v);
            } else {
                dot = dotOf(pick16(a.words[0], a.words[1], ((dy << 1u) | (dx >> 2u)).v), dx);
                color = gather8<4>(reinterpret_cast<const int*>(colors), ((dot + a.base) & colorMask).v);
            }
            return true;
        }
        if (!ready(place1, key1))
            return false;
        const CellData<Mode>& b = cells[place1];
        if constexpr (Mode == 0) {
            dot = dotOf(pick(_mm256_permutevar8x32_epi32(a.words[0], dy.v),
                             _mm256_permutevar8x32_epi32(b.words[0], dy.v), second),
                        dx);
            color = pick16(a.colors[0], a.colors[1], dot.v);
            if (a.base != b.base)
                color = pick(color.v, pick16(b.colors[0], b.colors[1], dot.v), second);
        } else {
            const __m256i index = ((dy << 1u) | (dx >> 2u)).v;
            dot = dotOf(pick(pick16(a.words[0], a.words[1], index), pick16(b.words[0], b.words[1], index), second),
                        dx);
            const __m256i base = pick(_mm256_set1_epi32(static_cast<int>(a.base)),
                                      _mm256_set1_epi32(static_cast<int>(b.base)), second);
            color = gather8<4>(reinterpret_cast<const int*>(colors), ((dot + base) & colorMask).v);
        }
        return true;
    }

    // Whether the cell at key is held whole at place.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline bool ready(u32 place, u32 key)
    {
        CellData<Mode>& c = cells[place];
        if (c.key != key)
            load(c, key, (key & 0xFFFF) << 3, (key >> 16) << 3);
        return c.whole;
    }

    // The cell at key, which map dot (col, row) lies in.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void load(CellData<Mode>& c, u32 key, u32 col, u32 row) const
    {
        c.key = key;
        const PatternName name = d.read(vram, m.address(col, row));
        u32 cell = name.charAddress;
        if constexpr (Char16) {
            // The quarter of the character, flips applied.
            const u32 right = ((col >> 3) & 1) ^ name.hflip;
            const u32 lower = ((row >> 3) & 1) ^ name.vflip;
            cell += ((lower << 1) | right) << kCellShift<Mode>;
        }
        c.whole = cell + kCellBytes <= vramMask + 1;
        c.base = paletteBase<Mode>(name.palette) + cramOffset;
        if (!c.whole)
            return;
        __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(vram + cell));
        if constexpr (Mode == 0) {
            if (name.vflip)
                low = _mm256_permutevar8x32_epi32(low, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
            if (name.hflip) {
                // The bytes of a row backwards, and the nibbles of each.
                low = _mm256_shuffle_epi8(low, _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                                                3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
                const __m256i nibbles = _mm256_set1_epi8(0x0F);
                low = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(low, 4), nibbles),
                                      _mm256_slli_epi16(_mm256_and_si256(low, nibbles), 4));
            }
            c.words[0] = low;
            // A multiple of 16, so the mask keeps the sixteen together.
            const u32* palette = colors + (c.base & colorMask);
            c.colors[0] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(palette));
            c.colors[1] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(palette + 8));
        } else {
            __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(vram + cell + 32));
            if (name.vflip) {
                // Rows 7 to 4 into the low register, two words each.
                const __m256i rows = _mm256_setr_epi32(6, 7, 4, 5, 2, 3, 0, 1);
                const __m256i flippedLow = _mm256_permutevar8x32_epi32(high, rows);
                high = _mm256_permutevar8x32_epi32(low, rows);
                low = flippedLow;
            }
            if (name.hflip) {
                const __m256i backwards = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                                           5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
                low = _mm256_shuffle_epi8(low, backwards);
                high = _mm256_shuffle_epi8(high, backwards);
            }
            c.words[0] = low;
            c.words[1] = high;
        }
    }
};

// Where eight fetched dots go: colours, and the layer's key on opaque dots
// inside the window, all of whose colours may be calculated.
struct DotStore {
    const u8* pass;
    LineDots& out;
    __m256i shown, key;

    __attribute__((target("avx2"))) DotStore(const SteadyLine& l, const u8* passes, LineDots& dots)
        : pass(passes), out(dots), shown(_mm256_set1_epi32(l.transparentShown ? -1 : 0)),
          key(_mm256_set1_epi32(layerKey(l.priority, l.record)))
    {
    }

    // The keys of dots x .. x + 7, but 0 on the lanes of drop.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void keys(u32 x, Lanes8 dot, __m256i drop) const
    {
        // The key on each lane that shows, narrowed to bytes (it fits one)
        // and masked by the window's pass bytes, negated byte by byte.
        const __m256i hidden = _mm256_andnot_si256(shown, _mm256_cmpeq_epi32(dot.v, _mm256_setzero_si256()));
        const __m256i lanes = _mm256_andnot_si256(drop, _mm256_andnot_si256(hidden, key));
        const __m256i words = _mm256_packus_epi32(lanes, lanes);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const __m128i eight = _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
        const __m128i passed = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pass + x));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out.key + x),
                         _mm_and_si128(eight, _mm_sub_epi8(_mm_setzero_si128(), passed)));
    }

    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void all(u32 x, Lanes8 color, Lanes8 dot) const
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.color + x), color.v);
        keys(x, dot, _mm256_setzero_si256());
        std::memset(out.cc + x, 1, 8);
    }

    // The same where the lanes of drop (all ones) show nothing and keep
    // their colours.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void some(u32 x, Lanes8 color, Lanes8 dot,
                                                                             __m256i drop) const
    {
        u32* colors = out.color + x;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(colors),
                            pick(color.v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(colors)), drop));
        keys(x, dot, drop);
        // A byte of 1 on each shown dot.
        const __m256i shownBytes = _mm256_shuffle_epi8(
            _mm256_andnot_si256(drop, _mm256_set1_epi32(1)),
            _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12, -1, -1, -1, -1,
                             -1, -1, -1, -1, -1, -1, -1, -1));
        const u64 eight = static_cast<u32>(_mm256_cvtsi256_si32(shownBytes)) |
                          u64{static_cast<u32>(_mm_cvtsi128_si32(_mm256_extracti128_si256(shownBytes, 1)))} << 32;
        std::memcpy(out.cc + x, &eight, 8);
    }

    void hidden(u32 x) const
    {
        std::memset(out.key + x, 0, 8);
        std::memset(out.cc + x, 0, 8);
    }
};

// The plain steady loop eight dots at a time for the palette modes of 16 and
// 256 colours, the dots of the layer's own priority and colour calculation,
// from dot begin (where sums are) on. Returns the dot it stopped at; the
// plain loop draws the rest.
template <int Mode, bool Char16>
__attribute__((target("avx2"))) u32 steadyDotsAvx2(const SteadyLine& l, const RotationSums& sums, const u8* pass,
                                                   u32 begin, u32 end, LineDots& out)
{
    const u64 sumX = sums.x, sumY = sums.y, stepX = sums.stepX, stepY = sums.stepY;
    SteadyAvx2<Mode, Char16> fetch(l);
    const DotStore store(l, pass, out);
    const u32 widthMask = l.widthMask, heightMask = l.heightMask;

    __m256i xEven = lanes(sumX, stepX), xOdd = lanes(sumX + stepX, stepX);
    __m256i yEven = lanes(sumY, stepY), yOdd = lanes(sumY + stepY, stepY);
    const __m256i stepX8 = _mm256_set1_epi64x(static_cast<long long>(stepX * 8));
    const __m256i stepY8 = _mm256_set1_epi64x(static_cast<long long>(stepY * 8));

    u32 x = begin;
    for (; x + 8 <= end; x += 8) {
        const Lanes8 col = coordinate(xEven, xOdd) & widthMask;
        const Lanes8 row = coordinate(yEven, yOdd) & heightMask;
        xEven = _mm256_add_epi64(xEven, stepX8);
        xOdd = _mm256_add_epi64(xOdd, stepX8);
        yEven = _mm256_add_epi64(yEven, stepY8);
        yOdd = _mm256_add_epi64(yOdd, stepY8);

        Lanes8 color, dot;
        fetch(col, row, color, dot);
        store.all(x, color, dot);
    }
    return x;
}

// (a * k) mod 2^64 on four lanes: a 64 bits, k a 32-bit value sign-extended
// to 64.
__attribute__((target("avx2"))) inline __m256i multiply64(__m256i a, __m256i k)
{
    const __m256i low = _mm256_mul_epu32(a, k);
    const __m256i cross = _mm256_add_epi32(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), k),
                                           _mm256_mul_epu32(a, _mm256_srli_epi64(k, 32)));
    return _mm256_add_epi64(low, _mm256_slli_epi64(cross, 32));
}

// The even (0, 2, 4, 6) and odd lanes of eight 32-bit values, sign-extended
// to 64 bits.
__attribute__((target("avx2"))) inline void widen(__m256i v, __m256i& evens, __m256i& odds)
{
    const __m256i split = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    evens = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(split));
    odds = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(split, 1));
}

// Four dots' sums: (start + offset) * k + centre.
__attribute__((target("avx2"))) inline __m256i sumLanes(__m256i start, __m256i offset, __m256i k, __m256i centre)
{
    return _mm256_add_epi64(multiply64(_mm256_add_epi64(start, offset), k), centre);
}

// A parameter set's map positions eight dots at a time along a line, from
// dot 0 on, as the plain loops form them: the sums of a dot are those of
// its entry's scale and centre at that dot, which where the entry holds are
// the last dot's stepped on.
struct SetLanes {
    const VDP2::RotationParams& p;
    CoefficientLine c;  // at the next group's first dot
    u32 widthMask, heightMask;
    RotationSums steady;  // without coefficients: at the next group's first dot
    __m256i entrySteps, xEvens, xOdds, yEvens, yOdds;

    __attribute__((target("avx2"))) SetLanes(const VDP2::RotationParams& params, const CoefficientLine& line,
                                             const SteadyLine& l)
        : p(params), c(line), widthMask(l.widthMask), heightMask(l.heightMask),
          steady(params, scaleOf(params, 0), 0),
          entrySteps(_mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                        _mm256_set1_epi32(static_cast<int>(c.step)))),
          // Each lane's start term, less that of the group's first dot.
          xEvens(lanes(0, static_cast<u64>(p.stepX))), xOdds(lanes(static_cast<u64>(p.stepX), static_cast<u64>(p.stepX))),
          yEvens(lanes(0, static_cast<u64>(p.stepY))), yOdds(lanes(static_cast<u64>(p.stepY), static_cast<u64>(p.stepY)))
    {
        // Per-line coefficients come from the line's first entry.
        if (p.coefficients && p.dkax == 0)
            c.advance();
    }

    // Dots x .. x + 7: their map positions, the lanes their entries hide
    // (all ones), and their two-word entries. Returns whether every lane
    // is hidden, when the positions are left out.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline bool at(u32 x, Lanes8& col, Lanes8& row,
                                                                         __m256i& hidden, Lanes8& data)
    {
        if (!p.coefficients) {
            place(steady, col, row);
            steady.step(8);
            hidden = _mm256_setzero_si256();
            data = 0u;
            return false;
        }
        const __m256i entries =
            _mm256_srli_epi32(_mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(c.ka)), entrySteps), 10);
        if (p.dkax == 0 || _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(
                               entries, _mm256_set1_epi32(static_cast<int>(c.ka >> 10))))) == 0xFF) {
            // One entry for the eight dots: a steady run.
            c.advance();
            c.ka += 7 * c.step;
            hidden = _mm256_set1_epi32(-static_cast<int>(c.transparent));
            data = (u32{c.lineCode} << 24);
            if (c.transparent)
                return true;
            place(RotationSums(p, scaleOf(p, c.value), x), col, row);
            return false;
        }
        // The eight entries, as CoefficientLine reads them.
        Lanes8 value, transparent;
        if (c.oneWord) {
            const Lanes8 at = (Lanes8(c.base) + ((Lanes8(entries) << 1u) & c.indexMask)) & (c.mask & ~1u);
            const Lanes8 half = gather8<1>(c.memory, (at & ~3u).v) >> ((at & 2u) << 3u);
            data = ((half & 0xFFu) << 8u) | ((half >> 8u) & 0xFFu);
            transparent = data >> 15u;
            value = _mm256_srai_epi32((data << 17u).v, c.shift);
        } else {
            const Lanes8 at = (Lanes8(c.base) + ((Lanes8(entries) << 2u) & c.indexMask)) & (c.mask & ~3u);
            data = _mm256_shuffle_epi8(gather8<1>(c.memory, at.v),
                                       _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1,
                                                        0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
            transparent = data >> 31u;
            value = _mm256_srai_epi32((data << 8u).v, c.shift);
        }
        // The next group reads its entry anew.
        c.ka += 8 * c.step;
        c.index = ~0u;
        hidden = _mm256_sub_epi32(_mm256_setzero_si256(), transparent.v);
        if (_mm256_movemask_ps(_mm256_castsi256_ps(hidden)) == 0xFF)
            return true;

        // Each lane's scale and centre terms, as scaleOf gives them.
        __m256i kEvens, kOdds;
        widen(value.v, kEvens, kOdds);
        const u32 mode = p.coefficientMode;
        const __m256i kx = _mm256_set1_epi64x(p.kx), ky = _mm256_set1_epi64x(p.ky);
        const __m256i xp = _mm256_set1_epi64x(static_cast<long long>(static_cast<u64>(p.xp) << 26));
        const __m256i yp = _mm256_set1_epi64x(static_cast<long long>(static_cast<u64>(p.yp) << 26));
        const bool scalesX = mode <= 1, scalesY = mode == 0 || mode == 2, moves = mode == 3;
        const __m256i startX = _mm256_set1_epi64x(static_cast<long long>(add(mul(s64{x}, p.stepX), p.xsp)));
        const __m256i startY = _mm256_set1_epi64x(static_cast<long long>(add(mul(s64{x}, p.stepY), p.ysp)));
        col = coordinate(sumLanes(startX, xEvens, scalesX ? kEvens : kx, moves ? _mm256_slli_epi64(kEvens, 26) : xp),
                         sumLanes(startX, xOdds, scalesX ? kOdds : kx, moves ? _mm256_slli_epi64(kOdds, 26) : xp)) &
              widthMask;
        row = coordinate(sumLanes(startY, yEvens, scalesY ? kEvens : ky, yp),
                         sumLanes(startY, yOdds, scalesY ? kOdds : ky, yp)) &
              heightMask;
        return false;
    }

    // The lanes of eight dots from the sums of the first.
    __attribute__((target("avx2"))) [[gnu::always_inline]] inline void place(const RotationSums& sums, Lanes8& col,
                                                                            Lanes8& row) const
    {
        col = coordinate(lanes(sums.x, sums.stepX), lanes(sums.x + sums.stepX, sums.stepX)) & widthMask;
        row = coordinate(lanes(sums.y, sums.stepY), lanes(sums.y + sums.stepY, sums.stepY)) & heightMask;
    }
};

// The line colours eight dots' two-word entries name, where keep is not set.
__attribute__((target("avx2"))) inline void coefficientColors(u32* out, Lanes8 data, const CoefficientColor& lineColor,
                                                              __m256i keep)
{
    const Lanes8 code = (Lanes8(lineColor.base) | ((data >> 24u) & 0x7Fu)) & lineColor.colors.mask;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        pick(gather8<4>(lineColor.colors.colors, code.v),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out)), keep));
}

// A one-set line whose coefficient may change from dot to dot, eight dots at
// a time as steadyDotsAvx2 draws them, from dot 0 on. Returns the dot it
// stopped at.
template <int Mode, bool Char16>
__attribute__((target("avx2"))) u32 coefficientDotsAvx2(const SteadyLine& l, CoefficientDots& d, const u8* pass,
                                                        u32 end, LineDots& out)
{
    SteadyAvx2<Mode, Char16> fetch(l);
    const DotStore store(l, pass, out);
    SetLanes set(d.p, d.c, l);
    u32 x = 0;
    for (; x + 8 <= end; x += 8) {
        Lanes8 col, row, data;
        __m256i hidden;
        if (set.at(x, col, row, hidden, data)) {
            store.hidden(x);
            continue;
        }
        if (d.p.coefficientLineColor) {
            coefficientColors(d.lineColors + x, data, d.lineColor, hidden);
            d.lineColorUsed = 1;
        }
        Lanes8 color, dot;
        fetch(col, row, color, dot);
        store.some(x, color, dot, hidden);
    }
    d.c = set.c;
    return x;
}

// A line of both sets over wrapping cell maps, the set chosen per dot, eight
// dots at a time as steadyDotsAvx2 draws them, from dot 0 on: eight dots of
// one set are fetched from its map, and eight of both from both. Returns
// the dot it stopped at.
template <int Mode, bool Char16>
__attribute__((target("avx2"))) u32 twoSetDotsAvx2(const SteadyLine (&lines)[2], TwoSetLine& t, const u8* pass,
                                                   u32 width, LineDots& out)
{
    SteadyAvx2<Mode, Char16> fetch[2] = {SteadyAvx2<Mode, Char16>(lines[0]), SteadyAvx2<Mode, Char16>(lines[1])};
    const DotStore store(lines[0], pass, out);
    SetLanes sets[2] = {SetLanes(t.params[0], t.coefficients[0], lines[0]),
                        SetLanes(t.params[1], t.coefficients[1], lines[1])};
    const bool lineColors = *t.lineColorUsed;
    u32 x = 0;
    for (; x + 8 <= width; x += 8) {
        Lanes8 col[2] = {0u, 0u}, row[2] = {0u, 0u}, data[2];
        __m256i hidden[2];
        const bool gone[2] = {sets[0].at(x, col[0], row[0], hidden[0], data[0]),
                              sets[1].at(x, col[1], row[1], hidden[1], data[1])};
        // All ones on the dots of set B.
        __m256i setB;
        if (t.setB) {
            u64 bytes;
            std::memcpy(&bytes, t.setB + x, 8);
            setB = _mm256_sub_epi32(_mm256_setzero_si256(),
                                    _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(bytes))));
        } else {
            setB = hidden[0];
        }
        const u32 usesB = static_cast<u32>(_mm256_movemask_ps(_mm256_castsi256_ps(setB)));
        const __m256i drop = pick(hidden[0], hidden[1], setB);
        if (_mm256_movemask_ps(_mm256_castsi256_ps(drop)) == 0xFF) {
            store.hidden(x);
            continue;
        }
        if (lineColors) {
            // Each set's entries' colours, or the screen's for a set without them.
            for (u32 set = 0; set < 2; ++set) {
                const u32 lanes = set ? usesB : ~usesB & 0xFF;
                if (!lanes)
                    continue;
                const __m256i keep = _mm256_or_si256(drop, set ? _mm256_xor_si256(setB, _mm256_set1_epi32(-1)) : setB);
                const VDP2::RotationParams& p = t.params[set];
                if (p.coefficients && p.coefficientLineColor)
                    coefficientColors(t.lineColorOut + x, data[set], t.lineColors[set], keep);
                else
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.lineColorOut + x),
                                        pick(_mm256_set1_epi32(static_cast<int>(t.lineColors[set].screen)),
                                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.lineColorOut + x)),
                                             keep));
            }
        }
        Lanes8 color = 0u, dot = 0u;
        if (usesB != 0xFF && !gone[0])
            fetch[0](col[0], row[0], color, dot);
        if (usesB != 0 && !gone[1]) {
            Lanes8 colorB, dotB;
            fetch[1](col[1], row[1], colorB, dotB);
            color = usesB == 0xFF ? colorB : Lanes8(pick(color.v, colorB.v, setB));
            dot = usesB == 0xFF ? dotB : Lanes8(pick(dot.v, dotB.v, setB));
        }
        store.some(x, color, dot, drop);
    }
    t.coefficients[0] = sets[0].c;
    t.coefficients[1] = sets[1].c;
    return x;
}
#endif

// The set of every dot of a line switched by set A's coefficients, or -1
// when the coefficient may change along the line.
int coefficientLineSet(const VDP2::RotationParams& a, const u8* vram, u32 vramMask, const u8* colorRam)
{
    if (a.dkax != 0)
        return -1;
    CoefficientLine c = coefficientLine(a, vram, vramMask, colorRam);
    c.advance();
    return c.transparent;
}

// The same for a line switched by the rotation window.
int windowLineSet(const u8* setB, u32 width)
{
    for (u32 x = 1; x < width; ++x) {
        if (setB[x] != setB[0])
            return -1;
    }
    return width ? setB[0] : -1;
}

}  // namespace

bool VDP2::coefficientLineColors(u32 sets) const
{
    for (int set = 0; set < 2; ++set) {
        const RotationParams& p = m_rotation[set];
        if (((sets >> set) & 1) && p.coefficients && p.coefficientLineColor)
            return true;
    }
    return false;
}

// pass: the dots the layer's window lets through.
void VDP2::fetchRotation(Layer& layer, const u8* pass)
{
    const u32 mode = layer.colorMode;
    if (mode > 4 || m_screenMode >= 4) {
        std::memset(m_dots[layer.record].key, 0, kMaxLineDots);
        return;
    }
    const u32 lineColorSlot = layer.number == kRbg0 ? 0 : 1;
    m_coefficientLineColorUsed[lineColorSlot] = 0;

    decodeRotationSet(0, layer);
    decodeRotationSet(1, layer);
    // Decided on this line's coefficient switch, not the previous line's.
    u32 parameterMode = layer.number == kRbg1 ? 1 : reg(RPMD) & 3;
    if (parameterMode == 2 && !m_rotation[0].coefficients) {
        layer.logWarning(1, "rpMode is 2, but ktEnable of Rotation Parameter A is 0");
        parameterMode = 0;
    }
    if (parameterMode == 3) {
        const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
        const u8 w = m_rotationWindow;
        const u8 logic = (w >> 7) & 1;
        const u8 enable0 = (w >> 1) & 1, area0 = w & 1;
        const u8 enable1 = (w >> 3) & 1, area1 = (w >> 2) & 1;
        for (u32 x = 0; x < width; ++x) {
            const u8 t0 = (m_windowSpan[0][x] & enable0) ^ (enable0 ? area0 : logic);
            const u8 t1 = (m_windowSpan[1][x] & enable1) ^ (enable1 ? area1 : logic);
            m_rotationSetB[x] = logic ? (t0 & t1) : (t0 | t1);
        }
    }
    const bool bitmap = layer.bitmap;
    const bool single = parameterMode < 2;
    switch (mode) {
    case 0: fetchRotationLine<0>(layer, pass, parameterMode, bitmap, single); break;
    case 1: fetchRotationLine<1>(layer, pass, parameterMode, bitmap, single); break;
    case 2: fetchRotationLine<2>(layer, pass, parameterMode, bitmap, single); break;
    case 3: fetchRotationLine<3>(layer, pass, parameterMode, bitmap, single); break;
    default: fetchRotationLine<4>(layer, pass, parameterMode, bitmap, single); break;
    }
}

template <int Mode>
void VDP2::fetchRotationLine(Layer& layer, const u8* pass, u32 parameterMode, bool bitmap, bool single)
{
    if (bitmap)
        single ? fetchRotationLine<Mode, true, true>(layer, pass, parameterMode)
               : fetchRotationLine<Mode, true, false>(layer, pass, parameterMode);
    else
        single ? fetchRotationLine<Mode, false, true>(layer, pass, parameterMode)
               : fetchRotationLine<Mode, false, false>(layer, pass, parameterMode);
}

// Any line: both sets, screen-over modes, mosaic, bitmaps.
template <int Mode, bool Bitmap, bool Single>
void VDP2::fetchRotationLine(Layer& layer, const u8* pass, u32 parameterMode)
{
    LineDots& out = m_dots[layer.record];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u32 lineColorSlot = layer.number == kRbg0 ? 0 : 1;
    u32* lineColors = m_coefficientLineColor[lineColorSlot];

    const u8* vram = m_vram;
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const u32 vramMask = m_vramMask;
    const u32 charShift = layer.charSize16 ? 4 : 3;
    const u32 charMask = layer.charSize16 ? 15 : 7;
    const u8 record = static_cast<u8>(layer.record);
    const u8* table = m_specialTables[layer.specialSelect];
    const u32 ccMode = m_outputs[layer.record].specialMode;
    // Without special modes every dot has the layer's priority and may be
    // calculated.
    const bool plainPriority = layer.specialPriorityMode == 0;
    const bool plainCc = ccMode == 0;
    const u16* mosaic = layer.mosaic ? m_mosaic[m_mosaicX] : nullptr;
    const u32 lineColorBase = m_outputs[kLineColorRecord].lineColor & 0x780;
    const bool single = Single;
    const int firstSet = parameterMode == 1 ? 1 : 0;
    const bool singleCoefficients = m_rotation[firstSet].coefficients;
    const bool perDotCoefficients = m_rotation[firstSet].dkax != 0;
    if constexpr (!Bitmap) {
        // One set or both over wrapping maps: the common lines.
        if (m_fastPaths.rotationLines && !mosaic && m_rotation[firstSet].overMode == 0 &&
            (Single || m_rotation[1].overMode == 0)) {
            ++m_shortcutUses[kRotationLines];
            Single ? steadyRun<Mode>(layer, pass, firstSet, 0, width)
                   : fetchRotationTwoSets<Mode>(layer, pass, parameterMode);
            return;
        }
    }

    // Per set: coefficients, the screen-over settings and the map.
    CoefficientLine coefficients[2] = {coefficientLine(m_rotation[0], vram, vramMask, m_colorRam),
                                       coefficientLine(m_rotation[1], vram, vramMask, m_colorRam)};
    const bool used[2] = {!single || firstSet == 0, !single || firstSet == 1};
    u32 overModes[2];
    for (int set = 0; set < 2; ++set) {
        overModes[set] = m_rotation[set].overMode;
        if (overModes[set] == 1 && Bitmap)
            overModes[set] = 2;
    }
    const u32 widthMask = Bitmap ? layer.bitmapWidthMask : 0;
    const u32 heightMask = Bitmap ? layer.bitmapHeightMask : 0;
    PatternName overNames[2];
    if constexpr (!Bitmap) {
        for (int set = 0; set < 2; ++set) {
            // The over pattern name is a one-word name held in a register.
            if (used[set] && overModes[set] == 1)
                overNames[set] = NameDecoder(layer, vramMask).name(m_rotation[set].overName, false);
        }
    }

    // The running sums of the set the last dot used.
    int sumSet = -1;
    RotationSums sums;
    CoefficientColor lineColor{colors, lineColorBase, m_outputs[layer.record].lineColor};
    // Where some dot's coefficients give it a line colour, every dot's is kept.
    const bool lineColorsUsed = coefficientLineColors(single ? 1u << firstSet : 3u);
    m_coefficientLineColorUsed[lineColorSlot] = lineColorsUsed;
    // The character the last dot of each set was in.
    u32 cachedCell[2] = {~0u, ~0u};
    const NameDecoder decoder(layer, vramMask);
    const MapLocator locators[2] = {MapLocator(m_rotation[0].map, charShift, layer.twoWord, vramMask),
                                    MapLocator(m_rotation[1].map, charShift, layer.twoWord, vramMask)};
    u32 lastDotKey = ~0u;
    u32 lastColor = 0;
    u8 lastKey = 0, lastCc = 0;
    u32 cachedAddress[2] = {~0u, ~0u};
    PatternName names[2];

    for (u32 x = 0; x < width; ++x) {
        out.key[x] = 0;
        out.cc[x] = 0;
        bool changed[2] = {false, false};
        int set;
        if constexpr (Single) {
            set = firstSet;
            // Per-line coefficients are read at the first dot only.
            if (singleCoefficients && (x == 0 || perDotCoefficients))
                changed[set] = coefficients[set].advance();
        } else {
            for (int s = 0; s < 2; ++s) {
                if (m_rotation[s].coefficients)
                    changed[s] = coefficients[s].advance();
            }
            set = parameterMode == 2 ? coefficients[0].transparent : m_rotationSetB[x];
        }
        const RotationParams& p = m_rotation[set];
        const CoefficientLine& c = coefficients[set];
        if (set != sumSet || changed[set]) {
            sums = RotationSums(p, scaleOf(p, c.value), x);
            sumSet = set;
        } else {
            sums.step();
        }
        if (p.coefficients && c.transparent)
            continue;
        if (lineColorsUsed)
            lineColors[x] = lineColor.at(p, c, set);
        const s64 sx = sums.col();
        const s64 sy = sums.row();

        const u32 mapWidthMask = Bitmap ? widthMask : p.map.widthMask;
        const u32 mapHeightMask = Bitmap ? heightMask : p.map.heightMask;
        auto outside = [&] { return sx < 0 || sy < 0 || sx > mapWidthMask || sy > mapHeightMask; };
        u32 col, row;
        bool overCharacter = false;
        switch (overModes[set]) {
        case 0:
            col = static_cast<u32>(sx) & mapWidthMask;
            row = static_cast<u32>(sy) & mapHeightMask;
            break;
        case 1:
            overCharacter = outside();
            if (overCharacter)
                col = static_cast<u32>(sx) & charMask, row = static_cast<u32>(sy) & charMask;
            else
                col = static_cast<u32>(sx), row = static_cast<u32>(sy);
            break;
        case 2:
            if (outside())
                continue;
            col = static_cast<u32>(sx);
            row = static_cast<u32>(sy);
            break;
        default:
            if (static_cast<u64>(sx) > 511 || static_cast<u64>(sy) > 511)
                continue;
            col = static_cast<u32>(sx);
            row = static_cast<u32>(sy) & mapHeightMask;
            break;
        }
        if (mosaic)
            col = mosaic[col & 4095];

        // Magnified parts of the map repeat a dot over several screen dots.
        const u32 dotKey = col << 12 | row | static_cast<u32>(set) << 24 | static_cast<u32>(overCharacter) << 25;
        if (dotKey != lastDotKey) {
            lastDotKey = dotKey;
            u32 raw;
            const PatternName* name;
            PatternName bitmapName;
            if constexpr (Bitmap) {
                const u32 rowAddress = p.bitmapBase + (row << kRowShift<Mode>);
                raw = rowDot<Mode>(vram, vramMask, rowAddress, col & widthMask);
                bitmapName.palette = layer.bitmapPalette;
                bitmapName.specialPriority = layer.bitmapSpecialPriority;
                bitmapName.specialCc = layer.bitmapSpecialCc;
                name = &bitmapName;
            } else {
                if (overCharacter) {
                    name = &overNames[set];
                } else {
                    // Coordinates below 4,096 name their character by their high bits.
                    const u32 cell = (col >> charShift) << 16 | (row >> charShift);
                    if (cell != cachedCell[set]) {
                        cachedCell[set] = cell;
                        const u32 address = locators[set].address(col, row);
                        if (address != cachedAddress[set]) {
                            names[set] = decoder.read(vram, address);
                            cachedAddress[set] = address;
                        }
                    }
                    name = &names[set];
                }
                const u32 dx = (col & charMask) ^ (name->hflip ? charMask : 0);
                const u32 dy = (row & charMask) ^ (name->vflip ? charMask : 0);
                raw = charDot<Mode>(vram, vramMask, name->charAddress, dx, dy);
            }
            const DotColor dot = resolveDot<Mode>(raw, name->palette, layer.cramOffset, layer.transparentShown, colors);
            const u32 priority = plainPriority ? layer.priority
                                               : dotPriority(layer.specialPriorityMode, layer.priority,
                                                             name->specialPriority, table, dot.code);
            lastColor = dot.color;
            lastKey = static_cast<u8>(layerKey(priority, record) & -static_cast<u32>(dot.opaque));
            lastCc = plainCc ? 1 : dotCcCondition(ccMode, name->specialCc, table, dot.code, dot.msb);
        }
        out.color[x] = lastColor;
        out.key[x] = static_cast<u8>(lastKey & -pass[x]);
        out.cc[x] = lastCc;
    }
}

// A line of both sets over wrapping cell maps, the set chosen per dot by set
// A's coefficient or by the rotation window. Each set keeps its own sums,
// stepped every dot and formed anew where its coefficient changes, and its
// own last dot and character, so a switch of sets costs nothing.
template <int Mode>
void VDP2::fetchRotationTwoSets(Layer& layer, const u8* pass, u32 parameterMode)
{
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    // A sky above a floor switches sets between lines, not along them: such
    // a line is drawn as the one set's.
    const int lineSet = parameterMode == 3 ? windowLineSet(m_rotationSetB, width)
                                           : coefficientLineSet(m_rotation[0], m_vram, m_vramMask, m_colorRam);
    if (lineSet >= 0) {
        steadyRun<Mode>(layer, pass, lineSet, 0, width);
        return;
    }
    const u32 slot = layer.number == kRbg0 ? 0 : 1;
    auto perLine = [](const RotationParams& p) { return !p.coefficients || p.dkax == 0; };
    if (parameterMode == 3 && perLine(m_rotation[0]) && perLine(m_rotation[1])) {
        // The window splits the line into runs of one set each, whose
        // coefficients are read once a line: each run as a steady line's.
        const bool lineColors = coefficientLineColors(3);
        for (u32 x = 0; x < width;) {
            const int set = m_rotationSetB[x];
            u32 end = x + 1;
            while (end < width && m_rotationSetB[end] == set)
                ++end;
            steadyRun<Mode>(layer, pass, set, x, end);
            // A set without coefficient line colours takes the screen's.
            if (lineColors && !coefficientLineColors(1u << set))
                std::fill(m_coefficientLineColor[slot] + x, m_coefficientLineColor[slot] + end,
                          m_outputs[layer.record].lineColor);
            x = end;
        }
        m_coefficientLineColorUsed[slot] = lineColors;
        return;
    }
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const u8* table = m_specialTables[layer.specialSelect];
    const u32 ccMode = m_outputs[layer.record].specialMode;
    const SteadyLine lines[2] = {steadyLine(layer, m_rotation[0], m_vram, m_vramMask, colors, table, ccMode),
                                steadyLine(layer, m_rotation[1], m_vram, m_vramMask, colors, table, ccMode)};
    const u32 base = m_outputs[kLineColorRecord].lineColor & 0x780;
    const u32 screen = m_outputs[layer.record].lineColor;
    TwoSetLine t{m_rotation,
                 {coefficientLine(m_rotation[0], m_vram, m_vramMask, m_colorRam),
                  coefficientLine(m_rotation[1], m_vram, m_vramMask, m_colorRam)},
                 {CoefficientColor{colors, base, screen}, CoefficientColor{colors, base, screen}},
                 parameterMode == 3 ? m_rotationSetB : nullptr,
                 m_coefficientLineColor[slot],
                 &m_coefficientLineColorUsed[slot]};
    m_coefficientLineColorUsed[slot] = coefficientLineColors(3);
    LineDots& out = m_dots[layer.record];
    const bool plain = lines[0].priorityMode == 0 && lines[0].ccMode == 0;
    u32 first = 0;
#if KEST_X86
    if (plain && m_fastPaths.avx2) {
        ++m_shortcutUses[kAvx2TwoSetDots];
        first = layer.charSize16 ? twoSetDotsAvx2<Mode, true>(lines, t, pass, width, out)
                                 : twoSetDotsAvx2<Mode, false>(lines, t, pass, width, out);
    }
#endif
    if (layer.charSize16)
        plain ? twoSetDots<Mode, true, true>(lines, t, pass, first, width, out)
              : twoSetDots<Mode, false, true>(lines, t, pass, first, width, out);
    else
        plain ? twoSetDots<Mode, true, false>(lines, t, pass, first, width, out)
              : twoSetDots<Mode, false, false>(lines, t, pass, first, width, out);
}

// Dots begin .. end - 1 of one set over a wrapping cell map. With per-line
// coefficients (or none) the scale and centre hold for every dot and the
// map position moves by the same step every dot; per-dot coefficients come
// only on a line of one set (begin 0).
template <int Mode>
void VDP2::steadyRun(Layer& layer, const u8* pass, int set, u32 begin, u32 end)
{
    LineDots& out = m_dots[layer.record];
    const RotationParams& p = m_rotation[set];
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const SteadyLine line = steadyLine(layer, p, m_vram, m_vramMask, colors, m_specialTables[layer.specialSelect],
                                       m_outputs[layer.record].specialMode);
    const bool plain = line.priorityMode == 0 && line.ccMode == 0;
    const u32 slot = layer.number == kRbg0 ? 0 : 1;
    const u32 lineColorBase = m_outputs[kLineColorRecord].lineColor & 0x780;

    if (p.coefficients && p.dkax != 0) {
        CoefficientDots d{p,
                          coefficientLine(p, m_vram, m_vramMask, m_colorRam),
                          CoefficientColor{colors, lineColorBase, 0},
                          m_coefficientLineColor[slot],
                          m_coefficientLineColorUsed[slot],
                          {}};
        u32 first = 0;
#if KEST_X86
        if (plain && m_fastPaths.avx2) {
            ++m_shortcutUses[kAvx2CoefficientDots];
            first = layer.charSize16 ? coefficientDotsAvx2<Mode, true>(line, d, pass, end, out)
                                     : coefficientDotsAvx2<Mode, false>(line, d, pass, end, out);
        }
#endif
        if (layer.charSize16)
            plain ? coefficientDots<Mode, true, true>(line, d, pass, first, end, out)
                  : coefficientDots<Mode, false, true>(line, d, pass, first, end, out);
        else
            plain ? coefficientDots<Mode, true, false>(line, d, pass, first, end, out)
                  : coefficientDots<Mode, false, false>(line, d, pass, first, end, out);
        return;
    }

    s32 coefficient = 0;
    if (p.coefficients) {
        CoefficientLine c = coefficientLine(p, m_vram, m_vramMask, m_colorRam);
        c.advance();
        if (c.transparent) {
            // The colours stay as they were; no dot shows.
            std::memset(out.key + begin, 0, end - begin);
            std::memset(out.cc + begin, 0, end - begin);
            return;
        }
        if (p.coefficientLineColor && end > begin) {
            const u32 lineColor = CoefficientColor{colors, lineColorBase, 0}.of(c);
            std::fill(m_coefficientLineColor[slot] + begin, m_coefficientLineColor[slot] + end, lineColor);
            m_coefficientLineColorUsed[slot] = 1;
        }
        coefficient = c.value;
    }
    RotationSums sums(p, scaleOf(p, coefficient), begin);
    u32 first = begin;
#if KEST_X86
    if (plain && m_fastPaths.avx2) {
        ++m_shortcutUses[kAvx2SteadyDots];
        first = layer.charSize16 ? steadyDotsAvx2<Mode, true>(line, sums, pass, begin, end, out)
                                 : steadyDotsAvx2<Mode, false>(line, sums, pass, begin, end, out);
        sums.step(first - begin);
    }
#endif
    if (layer.charSize16)
        plain ? steadyDots<Mode, true, true>(line, sums, pass, first, end, out)
              : steadyDots<Mode, false, true>(line, sums, pass, first, end, out);
    else
        plain ? steadyDots<Mode, true, false>(line, sums, pass, first, end, out)
              : steadyDots<Mode, false, false>(line, sums, pass, first, end, out);
}
