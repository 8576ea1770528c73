// Polygons and textured quads: the quad walk with a colour source per kind.
#include <algorithm>
#include <cstring>

#include "video/vdp1/vdp1_raster.h"

namespace {

constexpr int kTexelFraction = 23;
// Colour modes the pixel depth does not allow read the first VRAM word.
constexpr int kFirstWord = 6;

struct Texel {
    u16 colour = 0;
    u8 transparent = 0;
    u8 endCode = 0;
};

// What a sprite command's texels decode with: copied out of the chip so
// the pixel loop holds them in registers (the look-up table stays there).
struct Palette {
    const u8* vram;
    u32 texture;
    u16 bank;
    const u16* clut;
    s32 transparentCode;
    s32 endCode;
    u8 eightBit;
};

// Steps a texture across the quad: v down the rows, u along each slant.
// Each pixel takes the texel under the centre of its share of the row.
template <int kMode>
class SpriteSource {
public:
    static constexpr bool kBuffered = true;
    enum Kind : int { kShrink, kEnlarge, kEqual };

    // shortcuts: slants take their texels straight where no end code can
    // be met (see beginSlant); off, every slant counts them texel by texel.
    SpriteSource(const Palette& palette, s32 width, s32 height, u8 direction, bool hss, bool ecd, u8 eos,
                 bool shortcuts)
        : m_palette(palette), m_width(width), m_height(height), m_direction(direction), m_hss(hss), m_ecd(ecd),
          m_eos(eos), m_shortcuts(shortcuts), m_walks(!hss && !ecd)
    {
        if (shortcuts && palette.endCode >= 0)
            std::memset(m_rowEnds, 0xFF, static_cast<std::size_t>(height) * sizeof(Ends));
        if constexpr (kMode <= 1) {
            for (u32 code = 0; code < 16; ++code)
                m_decoded[code] = decode(palette, code);
        }
    }

    void beginQuad(s32 rows)
    {
        m_vInc = (static_cast<u32>(m_height) << kTexelFraction) / static_cast<u32>(rows);
        m_v = m_vInc >> 1;
        if (m_direction & 2) {
            m_v = (static_cast<u32>(m_height) << kTexelFraction) - (m_vInc >> 1);
            m_vInc = 0u - m_vInc;
        }
        m_rowOffset = (m_v >> kTexelFraction) * static_cast<u32>(m_width);
    }

    void endRow()
    {
        m_v += m_vInc;
        m_rowOffset = (m_v >> kTexelFraction) * static_cast<u32>(m_width);
    }

    void beginSlant(const VDP1::EdgeStep&, s32 length, s32 skipped, bool reversed)
    {
        const u32 full = static_cast<u32>(m_width) << kTexelFraction;
        // Most quads repeat one slant length; keep the division for a new one.
        if (length != m_lastLength) {
            m_lastLength = length;
            m_lastInc = full / static_cast<u32>(length);
        }
        m_uInc = m_lastInc;
        m_u = m_uInc >> 1;
        if (m_direction & 1) {
            m_u = full - (m_uInc >> 1);
            m_uInc = 0u - m_uInc;
        }
        if (reversed) {
            m_u += m_uInc * static_cast<u32>(length - 1);
            m_uInc = 0u - m_uInc;
        } else {
            m_u += m_uInc * static_cast<u32>(skipped);
        }
        m_kind = length < m_width ? kShrink : length > m_width ? kEnlarge : kEqual;
        // From the flags, not the sign: a one-pixel slant of a wide texture
        // has an increment past 2^31.
        m_forward = ((m_direction & 1) != 0) == reversed;
        m_previous = m_forward ? -1 : m_width;
        m_ends = 0;
        // A shrink walks every pixel's texels unless the row says otherwise.
        m_walk = m_kind == kShrink && m_walks;
        m_safe = m_forward ? -1 : 0x7FFF;
        m_plain = false;
        if (!m_shortcuts)
            return;
        ++m_shortcutSlants;
        if (m_palette.endCode < 0) {
            m_walk = false;
            m_plain = true;
            return;
        }
        // Pixels whose column comes before the row's first end code in the
        // walk's direction have none to count, on the way or under them.
        const s32 last = lastColumn(length - skipped);
        const Ends ends = endsOfRow();
        const bool before = m_forward ? last < ends.first : last > ends.last;
        if (m_walk) {
            m_safe = m_forward ? ends.first : ends.last;
            m_walk = !before;
        }
        // High-speed shrink takes neighbouring columns too.
        m_plain = m_kind == kShrink && m_hss ? ends.first == m_width : before;
    }

    // Slants that took their texels by the row's end codes.
    u64 shortcutSlants() const { return m_shortcutSlants; }

    const char* slantName() const
    {
        return m_kind == kShrink ? "draw_slant_a" : m_kind == kEnlarge ? "draw_slant_b" : "draw_slant_c";
    }

    // What the next count pixels take, each as its colour with the Fetch
    // above it; answers how many came before a stop. The kind is settled
    // once a call rather than once a pixel.
    s32 fill(u32* __restrict out, s32 count)
    {
        switch (m_kind) {
        case kShrink:
            return fillAs<kShrink>(out, count);
        case kEnlarge:
            return fillAs<kEnlarge>(out, count);
        default:
            return fillAs<kEqual>(out, count);
        }
    }

    // Whether the slant meets no end code, on the way or under a pixel:
    // then it carries nothing from texel to texel, and eachPlain hands
    // each pixel what fill would, as it goes.
    bool plain() const { return m_plain; }

    template <class Pixel>
    [[gnu::always_inline]] void eachPlain(s32 count, Pixel&& pixel) const
    {
        // Without a transparent code every pixel draws, and the loop has no
        // test to make.
        if (m_palette.transparentCode < 0)
            eachPlainAs<false>(count, pixel);
        else
            eachPlainAs<true>(count, pixel);
    }

    template <bool kTransparent, class Pixel>
    [[gnu::always_inline]] void eachPlainAs(s32 count, Pixel& pixel) const
    {
        // Local copies, which the pixel's stores cannot alias.
        const Palette palette = m_palette;
        const u32 inc = m_uInc, row = m_rowOffset;
        // High-speed shrink takes only even or only odd columns.
        const bool halve = m_kind == kShrink && m_hss;
        const u32 keep = halve ? ~1u : ~0u, eos = halve ? m_eos : 0;
        u32 u = m_u;
        for (s32 i = 0; i < count; ++i, u += inc) {
            const u32 code = rawCode(palette, row + ((u >> kTexelFraction & keep) | eos));
            if constexpr (kMode <= 1) {
                const u32 texel = m_decoded[code];
                pixel(static_cast<u16>(texel), kTransparent ? static_cast<int>(texel >> 16 & 1) : vdp1::kDraw);
            } else {
                // No end code lies under a plain slant's pixels.
                pixel(colourOf(palette, code),
                      kTransparent && static_cast<s32>(code) == palette.transparentCode ? vdp1::kSkip : vdp1::kDraw);
            }
        }
    }

    // A row in plain replace mode: answers its clocks, or -1 when the
    // texture needs the general stepper (a shrink that may meet an end code
    // on the texels it passes over).
    s32 plainRow(u8* buffer, u32 row, s32 x, s32 dir, s32 count, u32 width) const
    {
        if (m_walk)
            return -1;
        const bool halve = m_kind == kShrink && m_hss;
        const bool reuse = m_kind == kEnlarge;
        const s32 transparent = m_palette.transparentCode, endCode = m_palette.endCode;
        u32 u = m_u;
        const u32 inc = m_uInc;
        if (transparent < 0 && endCode < 0 && !halve) {
            // Every texel drawn: nothing to test but the bounds. Local copies,
            // which the stores cannot alias, stay in registers.
            const Palette palette = m_palette;
            const u32 offset = m_rowOffset;
            if (u8* p = vdp1::rowSpan(buffer, row, x, dir, count, width)) {
                if constexpr (kMode <= 1) {
                    if (m_kind == kEqual) {
                        nibbleRow(palette, offset + (u >> kTexelFraction), m_forward, p, 2 * dir, count);
                        return count;
                    }
                }
                for (s32 i = 0; i < count; ++i, p += 2 * dir, u += inc)
                    vdp1::putPixel(p, colourOf(palette, rawCode(palette, offset + (u >> kTexelFraction))));
                return count;
            }
            for (s32 i = 0; i < count; ++i, x += dir, u += inc) {
                const u16 colour = colourOf(m_palette, rawCode(m_palette, m_rowOffset + (u >> kTexelFraction)));
                if (static_cast<u32>(x) < width)
                    vdp1::putPixel(buffer + (((row + static_cast<u32>(x)) << 1) & VDP1::kFrameBufferMask), colour);
            }
            return count;
        }
        s32 previous = m_previous;
        s32 ends = 0;
        for (s32 i = 0; i < count; ++i, x += dir) {
            s32 column = static_cast<s32>(u >> kTexelFraction);
            u += inc;
            if (halve)
                column = (column & ~1) | m_eos;
            const s32 code = static_cast<s32>(rawCode(m_palette, m_rowOffset + static_cast<u32>(column)));
            const bool end = code == endCode;
            if (end && !(reuse && column == previous) && ++ends >= 2)
                return i + 1;
            previous = column;
            if (!end && code != transparent && static_cast<u32>(x) < width)
                vdp1::putPixel(buffer + (((row + static_cast<u32>(x)) << 1) & VDP1::kFrameBufferMask),
                          colourOf(m_palette, static_cast<u32>(code)));
        }
        return count;
    }

private:
    // The first and last columns of the current texture row that hold an
    // end code (the width and -1 when none do), looked for once a command.
    struct Ends {
        s16 first, last;  // first is -1 for a row not looked at yet
    };
    Ends endsOfRow()
    {
        // v stays below the height; the bound keeps a row past it from
        // being read before it is looked at.
        Ends& ends = m_rowEnds[std::min(m_v >> kTexelFraction, static_cast<u32>(m_height - 1))];
        if (ends.first < 0)
            ends = findEnds(m_rowOffset);
        return ends;
    }

    Ends findEnds(u32 t) const
    {
        const Palette& p = m_palette;
        Ends ends{static_cast<s16>(m_width), -1};
        auto look = [&](s32 from, s32 to) {
            for (s32 k = from; k < to; ++k) {
                if (static_cast<s32>(rawCode(p, t + static_cast<u32>(k))) == p.endCode) {
                    ends.first = std::min(ends.first, static_cast<s16>(k));
                    ends.last = static_cast<s16>(k);
                }
            }
        };
        if constexpr (kMode <= 4) {
            // Four bytes at a time where the row does not wrap around VRAM,
            // texel by texel only where they hold one.
            constexpr s32 kTexels = kMode <= 1 ? 8 : 4;
            const u32 from = (p.texture + (kMode <= 1 ? t >> 1 : t)) & VDP1::kVramMask;
            const u32 bytes = static_cast<u32>(m_width * 4 / kTexels);
            if (p.endCode == (kMode <= 1 ? 0xF : 0xFF) && from + bytes <= VDP1::kVramSize) {
                for (u32 i = 0; i < bytes; i += 4) {
                    u32 w;
                    std::memcpy(&w, p.vram + from + i, sizeof w);
                    // A nibble of four ones, or a byte of eight.
                    const u32 found = kMode <= 1 ? w & w >> 1 & w >> 2 & w >> 3 & 0x11111111u
                                                 : (~w - 0x01010101u) & w & 0x80808080u;
                    if (found)
                        look(static_cast<s32>(i) * kTexels / 4, static_cast<s32>(i + 4) * kTexels / 4);
                }
                return ends;
            }
        }
        look(0, m_width);
        return ends;
    }

    // The column of the last of count pixels from the current u on. The
    // pixels split the row evenly, so the columns run inside it, one past
    // the other in the walk's direction.
    s32 lastColumn(s32 count) const
    {
        return static_cast<s32>((m_u + m_uInc * static_cast<u32>(count - 1)) >> kTexelFraction);
    }

    // 16-colour texels drawn 1:1, a byte (two pixels) at a time: texel t
    // first, then on in the texture's direction; step is the pixel step in
    // bytes.
    static void nibbleRow(const Palette& palette, u32 t, bool forward, u8* p, s32 step, s32 count)
    {
        auto byteAt = [&palette](u32 i) { return u32{palette.vram[(palette.texture + (i >> 1)) & VDP1::kVramMask]}; };
        auto put = [&palette](u8* at, u32 code) { vdp1::putPixel(at, colourOf(palette, code)); };
        s32 i = 0;
        if (forward) {
            if (t & 1) {
                put(p, byteAt(t++) & 15);
                p += step;
                ++i;
            }
            for (; i + 2 <= count; i += 2, t += 2, p += 2 * step) {
                const u32 pair = byteAt(t);
                put(p, pair >> 4);
                put(p + step, pair & 15);
            }
            if (i < count)
                put(p, byteAt(t) >> 4);
        } else {
            if (!(t & 1)) {
                put(p, byteAt(t--) >> 4);
                p += step;
                ++i;
            }
            for (; i + 2 <= count; i += 2, t -= 2, p += 2 * step) {
                const u32 pair = byteAt(t);
                put(p, pair & 15);
                put(p + step, pair >> 4);
            }
            if (i < count)
                put(p, byteAt(t) & 15);
        }
    }

    [[gnu::always_inline]] static u32 rawCode(const Palette& p, u32 t)
    {
        if constexpr (kMode == 0 || kMode == 1) {
            // High nibble first; a shift keeps the alternation off the branch predictor.
            const u32 pair = p.vram[(p.texture + (t >> 1)) & VDP1::kVramMask];
            return (pair >> ((~t & 1) << 2)) & 15;
        } else if constexpr (kMode >= 2 && kMode <= 4) {
            return p.vram[(p.texture + t) & VDP1::kVramMask];
        } else if constexpr (kMode == 5) {
            return loadBe16(p.vram + ((p.texture + 2 * t) & (VDP1::kVramMask & ~1u)));
        } else {
            return p.eightBit ? p.vram[0] : loadBe16(p.vram);
        }
    }

    [[gnu::always_inline]] static u16 colourOf(const Palette& p, u32 code)
    {
        if constexpr (kMode == 0)
            return static_cast<u16>(p.bank | code);
        else if constexpr (kMode == 1)
            return p.clut[code];
        else if constexpr (kMode == 2)
            return static_cast<u16>(p.bank | (code & 0x3F));
        else if constexpr (kMode == 3)
            return static_cast<u16>(p.bank | (code & 0x7F));
        else if constexpr (kMode == 4)
            return static_cast<u16>(p.bank | code);
        else if constexpr (kMode == 5)
            return static_cast<u16>((code & 0x8000) || !code ? code : 0xFC00);
        else
            return static_cast<u16>(code);
    }

    template <Kind kKind>
    s32 fillAs(u32* __restrict out, s32 count)
    {
        const Palette& palette = m_palette;
        const u32 inc = m_uInc, row = m_rowOffset;
        const s32 width = m_width, step = m_forward ? 1 : -1;
        const bool hss = m_hss, walk = m_walk, forward = m_forward;
        const s32 safe = m_safe;
        const u32 eos = m_eos;
        u32 u = m_u, last = m_last;
        s32 previous = m_previous, ends = m_ends;
        s32 i = 0;
        for (; i < count; ++i) {
            const s32 column = static_cast<s32>(u >> kTexelFraction);
            u += inc;
            if constexpr (kKind == kShrink) {
                if (hss) {
                    last = take(row + ((static_cast<u32>(column) & ~1u) | eos), ends);
                } else if (walk && (forward ? column >= safe : column <= safe)) {
                    // Texels passed over still count toward the end codes;
                    // only the last one is drawn.
                    s32 k = previous + step;
                    for (; k != column && static_cast<u32>(k) < static_cast<u32>(width); k += step) {
                        if (static_cast<s32>(rawCode(palette, row + static_cast<u32>(k))) == palette.endCode &&
                            ++ends >= 2)
                            break;
                    }
                    if (ends >= 2)
                        break;
                    last = take(row + static_cast<u32>(k), ends);
                } else {
                    last = take(row + static_cast<u32>(column), ends);
                }
            } else if constexpr (kKind == kEnlarge) {
                if (column != previous)
                    last = take(row + static_cast<u32>(column), ends);
            } else {
                last = take(row + static_cast<u32>(column), ends);
            }
            previous = column;
            if (ends >= 2)
                break;
            out[i] = last;
        }
        m_u = u;
        m_last = last;
        m_previous = previous;
        m_ends = ends;
        return i;
    }

    // Texel t as fill hands it on, counting an end code.
    [[gnu::always_inline]] u32 take(u32 t, s32& ends) const
    {
        const u32 code = rawCode(m_palette, t);
        const u32 texel = kMode <= 1 ? m_decoded[code] : decode(m_palette, code);
        ends += static_cast<s32>(texel >> 17);
        return texel & 0x1FFFF;
    }

    // A code as take hands it on, with its end-code flag above.
    [[gnu::always_inline]] static u32 decode(const Palette& p, u32 code)
    {
        const Texel texel = fetch(p, code);
        return texel.colour | static_cast<u32>(texel.transparent | texel.endCode) << 16 |
               static_cast<u32>(texel.endCode) << 17;
    }

    // A code, decoded by the colour mode; codes are tested raw.
    [[gnu::always_inline]] static Texel fetch(const Palette& p, u32 code)
    {
        return {colourOf(p, code), static_cast<u8>(static_cast<s32>(code) == p.transparentCode),
                static_cast<u8>(static_cast<s32>(code) == p.endCode)};
    }

    Palette m_palette;
    s32 m_width, m_height;
    u8 m_direction;
    bool m_hss, m_ecd;
    u8 m_eos;
    bool m_shortcuts;
    bool m_walks;          // shrunk slants count end codes on texels passed over
    bool m_walk = false;   // and this slant may meet one
    s32 m_safe = 0;        // columns before this one in the walk's direction meet none
    bool m_plain = false;  // this slant meets no end code at all
    u64 m_shortcutSlants = 0;
    Ends m_rowEnds[256];
    u32 m_v = 0, m_vInc = 0, m_rowOffset = 0;
    u32 m_u = 0, m_uInc = 0;
    s32 m_lastLength = 0;
    u32 m_lastInc = 0;
    Kind m_kind = kEqual;
    bool m_forward = true;
    s32 m_previous = -1;
    s32 m_ends = 0;
    u32 m_last = 0;  // what the last texel taken gave fill
    u32 m_decoded[16] = {};  // 16-colour codes, decoded once
};

}  // namespace

u32 VDP1::draw_quad(const char*, const Vertex* v)
{
    u16 shades[96];
    vdp1::FlatSource source{m_cmd.colr};
    if (m_gouraudOn && m_calcMode == 4) {
        target().shadeTable(m_cmd.colr, shades);
        source.shades = shades;
    }
    return walkQuad<true>(v, source);
}

template <int kMode>
u32 VDP1::drawTextured(const Vertex* v)
{
    const Palette palette{m_memory, m_texture, m_bank, m_clut, m_transparentCode, m_endCode, m_eightBit};
    SpriteSource<kMode> source(palette, m_cmd.width, m_cmd.height, m_cmd.direction, m_cmd.hss, m_cmd.ecd, m_eos,
                               m_fastPaths);
    const u32 clocks = walkQuad<true>(v, source);
    m_shortcutUses[kVdp1TexelRows] += source.shortcutSlants();
    return clocks;
}

u32 VDP1::draw_sprite(const char*, const Vertex* v)
{
    using Draw = u32 (VDP1::*)(const Vertex*);
    static constexpr Draw kByMode[8] = {&VDP1::drawTextured<0>, &VDP1::drawTextured<1>,
                                        &VDP1::drawTextured<2>, &VDP1::drawTextured<3>,
                                        &VDP1::drawTextured<4>, &VDP1::drawTextured<5>,
                                        &VDP1::drawTextured<kFirstWord>, &VDP1::drawTextured<kFirstWord>};
    // RGB texels have no 8-bit form.
    const u32 mode = m_eightBit && m_cmd.colourMode == 5 ? kFirstWord : m_cmd.colourMode & 7u;
    const u32 clocks = (this->*kByMode[mode])(v);
    m_transparentCode = m_endCode = -1;
    return clocks;
}
