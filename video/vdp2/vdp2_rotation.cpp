// VDP2 rotation layers RBG0 and RBG1: parameter tables, coefficient tables,
// the per-dot transform and the screen-over modes.
#include <algorithm>
#include <cstring>

#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_fetch.h"

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
    // asks for a re-read on every line.
    auto follow = [&](s32& line, s32& last, s32 value, s32 step, u8 reread) {
        if (reread || first)
            line = value;
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

void VDP2::fetchRotation(Layer& layer)
{
    const u32 mode = layer.colorMode;
    if (mode > 4 || (layer.number == kRbg1 && mode > 3) || m_screenMode >= 4) {
        std::memset(m_dots[layer.record].key, 0, kMaxLineDots);
        return;
    }
    const u8* pass = windowPass(layer.window, m_passScratch);
    switch (mode) {
    case 0: fetchRotationLine<0>(layer, pass); break;
    case 1: fetchRotationLine<1>(layer, pass); break;
    case 2: fetchRotationLine<2>(layer, pass); break;
    case 3: fetchRotationLine<3>(layer, pass); break;
    default: fetchRotationLine<4>(layer, pass); break;
    }
}

template <int Mode>
void VDP2::fetchRotationLine(Layer& layer, const u8* pass)
{
    LineDots& out = m_dots[layer.record];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u32 lineColorSlot = layer.number == kRbg0 ? 0 : 1;
    u32* lineColors = m_coefficientLineColor[lineColorSlot];
    m_coefficientLineColorUsed[lineColorSlot] = 0;

    // Which parameter sets the line uses.
    decodeRotationSet(0, layer);
    decodeRotationSet(1, layer);
    // Decided on this line's coefficient switch, not the previous line's.
    u32 parameterMode = layer.number == kRbg1 ? 1 : reg(RPMD) & 3;
    if (parameterMode == 2 && !m_rotation[0].coefficients) {
        layer.logWarning(1, "rpMode is 2, but ktEnable of Rotation Parameter A is 0");
        parameterMode = 0;
    }
    if (parameterMode == 3) {
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

    const u8* vram = m_vram;
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const u32 vramMask = m_vramMask;
    const u32 charMask = layer.charSize16 ? 15 : 7;
    const u8 record = static_cast<u8>(layer.record);
    const u8* table = m_specialTables[layer.specialSelect];
    const u32 ccMode = m_outputs[layer.record].specialMode;
    const u16* mosaic = layer.mosaic ? m_mosaic[m_mosaicX] : nullptr;
    const u32 lineColorBase = m_outputs[kLineColorRecord].lineColor & 0x780;
    u32 cached[2] = {~0u, ~0u};
    PatternName names[2];

    for (u32 x = 0; x < width; ++x) {
        out.key[x] = 0;
        out.cc[x] = 0;
        // Coefficients of both sets for this dot.
        s32 coefficient[2] = {0, 0};
        u8 transparent[2] = {0, 0};
        u8 lineCode[2] = {0, 0};
        for (int set = 0; set < 2; ++set) {
            const RotationParams& p = m_rotation[set];
            if (!p.coefficients)
                continue;
            const u32 ka = p.kaLine + static_cast<u32>(p.dkax) * x;
            const u32 index = ka >> 10;
            u32 data;
            if (p.coefficientsInColorRam) {
                const u32 at = 0x800 + ((index << (p.coefficientWord ? 1 : 2)) & 0x7FF);
                data = p.coefficientWord ? loadBe16(m_colorRam + (at & kColorRamMask & ~1u))
                                         : loadBe32(m_colorRam + (at & kColorRamMask & ~3u));
            } else {
                const u32 at = p.coefficientBase + (index << (p.coefficientWord ? 1 : 2));
                data = p.coefficientWord ? loadBe16(vram + (at & vramMask & ~1u)) : loadBe32(vram + (at & vramMask & ~3u));
            }
            if (p.coefficientWord) {
                transparent[set] = (data >> 15) & 1;
                coefficient[set] = static_cast<s32>(data << 17) >> p.coefficientShift;
            } else {
                transparent[set] = (data >> 31) & 1;
                lineCode[set] = (data >> 24) & 0x7F;
                coefficient[set] = static_cast<s32>(data << 8) >> p.coefficientShift;
            }
        }

        int set;
        switch (parameterMode) {
        case 0: set = 0; break;
        case 1: set = 1; break;
        case 2: set = transparent[0] ? 1 : 0; break;
        default: set = m_rotationSetB[x]; break;
        }
        const RotationParams& p = m_rotation[set];
        if (p.coefficients && transparent[set])
            continue;

        s64 kx = p.kx, ky = p.ky, xp = p.xp, yp = p.yp;
        if (p.coefficients) {
            switch (p.coefficientMode) {
            case 0: kx = ky = coefficient[set]; break;
            case 1: kx = coefficient[set]; break;
            case 2: ky = coefficient[set]; break;
            default: xp = coefficient[set]; break;
            }
            if (p.coefficientLineColor) {
                u8 msb;
                lineColors[x] = colors.lookup(lineColorBase | lineCode[set], msb);
                m_coefficientLineColorUsed[lineColorSlot] = 1;
            }
        }
        const s64 sx = add(mul(add(mul(s64{x}, p.stepX), p.xsp), kx), shl(xp, 26)) >> 36;
        const s64 sy = add(mul(add(mul(s64{x}, p.stepY), p.ysp), ky), shl(yp, 26)) >> 36;

        const MapGeometry& map = p.map;
        const u32 widthMask = layer.bitmap ? layer.bitmapWidthMask : map.widthMask;
        const u32 heightMask = layer.bitmap ? layer.bitmapHeightMask : map.heightMask;
        u32 overMode = p.overMode;
        if (overMode == 1 && layer.bitmap)
            overMode = 2;
        const bool outside = sx < 0 || sy < 0 || sx > widthMask || sy > heightMask;
        u32 col, row;
        bool overCharacter = false;
        switch (overMode) {
        case 0:
            col = static_cast<u32>(sx) & widthMask;
            row = static_cast<u32>(sy) & heightMask;
            break;
        case 1:
            col = static_cast<u32>(sx) & charMask;
            row = static_cast<u32>(sy) & charMask;
            overCharacter = outside;
            if (!outside)
                col = static_cast<u32>(sx), row = static_cast<u32>(sy);
            break;
        case 2:
            if (outside)
                continue;
            col = static_cast<u32>(sx);
            row = static_cast<u32>(sy);
            break;
        default:
            if (static_cast<u64>(sx) > 511 || static_cast<u64>(sy) > 511)
                continue;
            col = static_cast<u32>(sx);
            row = static_cast<u32>(sy) & heightMask;
            break;
        }
        if (mosaic)
            col = mosaic[col & 4095];

        u32 raw;
        PatternName name;
        if (layer.bitmap) {
            const u32 rowAddress = p.bitmapBase + (row << kRowShift<Mode>);
            raw = rowDot<Mode>(vram, vramMask, rowAddress, col & widthMask);
            name.palette = layer.bitmapPalette;
            name.specialPriority = layer.bitmapSpecialPriority;
            name.specialCc = layer.bitmapSpecialCc;
        } else {
            if (overCharacter) {
                // The over pattern name is a one-word name held in a register.
                name = decodeNameValue(layer, p.overName, false);
            } else {
                const u32 address = nameAddress(map, layer, col, row);
                if (address != cached[set]) {
                    names[set] = decodeName(layer, address);
                    cached[set] = address;
                }
                name = names[set];
            }
            const u32 dx = (col & charMask) ^ (name.hflip ? charMask : 0);
            const u32 dy = (row & charMask) ^ (name.vflip ? charMask : 0);
            raw = charDot<Mode>(vram, vramMask, name.charAddress, dx, dy);
        }
        const DotColor dot = resolveDot<Mode>(raw, name.palette, layer.cramOffset, layer.transparentShown, colors);
        const u32 priority = dotPriority(layer.specialPriorityMode, layer.priority, name.specialPriority, table, dot.code);
        const bool visible = dot.opaque & (priority != 0) & pass[x];
        out.color[x] = dot.color;
        out.key[x] = visible ? static_cast<u8>((priority << 3) | record) : 0;
        out.cc[x] = dotCcCondition(ccMode, name.specialCc, table, dot.code, dot.msb);
    }
}
