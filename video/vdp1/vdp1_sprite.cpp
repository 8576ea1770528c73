// Polygons and textured quads: the quad walk with a colour source per kind.
#include "video/vdp1/vdp1_raster.h"

namespace {

constexpr int kTexelFraction = 23;

// Steps a texture across the quad: v down the rows, u along each slant.
// Each pixel takes the texel under the centre of its share of the row.
class SpriteSource {
public:
    enum Kind : int { kShrink, kEnlarge, kEqual };

    SpriteSource(VDP1& vdp, s32 width, s32 height, u8 direction, bool hss, bool ecd, u8 eos,
                 VDP1::Texel (VDP1::*fetch)(u32) const)
        : m_vdp(vdp), m_width(width), m_height(height), m_direction(direction), m_hss(hss), m_ecd(ecd), m_eos(eos),
          m_fetch(fetch)
    {
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
        m_uInc = full / static_cast<u32>(length);
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
        m_forward = static_cast<s32>(m_uInc) >= 0;
        m_previous = m_forward ? -1 : m_width;
        m_ends = 0;
    }

    int next(u16& colour)
    {
        s32 column = static_cast<s32>(m_u >> kTexelFraction);
        m_u += m_uInc;
        switch (m_kind) {
        case kShrink:
            if (m_hss) {
                column = (column & ~1) | m_eos;
                take(column);
            } else if (!m_ecd) {
                // Texels passed over still count toward the end codes.
                const s32 step = m_forward ? 1 : -1;
                for (s32 k = m_previous + step;; k += step) {
                    take(k);
                    if (m_ends >= 2 || k == column)
                        break;
                }
            } else {
                take(column);
            }
            break;
        case kEnlarge:
            if (column != m_previous)
                take(column);
            break;
        default:
            take(column);
            break;
        }
        m_previous = column;
        if (m_ends >= 2)
            return vdp1::kStop;
        if (m_texel.transparent || m_texel.endCode)
            return vdp1::kSkip;
        colour = m_texel.colour;
        return vdp1::kDraw;
    }

private:
    void take(s32 column)
    {
        m_texel = (m_vdp.*m_fetch)(m_rowOffset + static_cast<u32>(column));
        m_ends += m_texel.endCode;
    }

    VDP1& m_vdp;
    s32 m_width, m_height;
    u8 m_direction;
    bool m_hss, m_ecd;
    u8 m_eos;
    VDP1::Texel (VDP1::*m_fetch)(u32) const;
    u32 m_v = 0, m_vInc = 0, m_rowOffset = 0;
    u32 m_u = 0, m_uInc = 0;
    Kind m_kind = kEqual;
    bool m_forward = true;
    s32 m_previous = -1;
    s32 m_ends = 0;
    VDP1::Texel m_texel;
};

}  // namespace

VDP1::Texel VDP1::fetchTexel(u32 t) const
{
    const u8* vram = m_memory;
    u32 code;
    u16 colour;
    switch (m_cmd.colourMode) {
    case 0:
    case 1: {
        const u8 pair = vram[(m_texture + (t >> 1)) & kVramMask];
        code = (t & 1) ? pair & 15 : pair >> 4;
        colour = m_cmd.colourMode ? m_clut[code] : static_cast<u16>(m_bank | code);
        break;
    }
    case 2:
        code = vram[(m_texture + t) & kVramMask];
        colour = static_cast<u16>(m_bank | (code & 0x3F));
        break;
    case 3:
        code = vram[(m_texture + t) & kVramMask];
        colour = static_cast<u16>(m_bank | (code & 0x7F));
        break;
    case 4:
        code = vram[(m_texture + t) & kVramMask];
        colour = static_cast<u16>(m_bank | code);
        break;
    case 5:
        if (!m_eightBit) {
            code = loadBe16(vram + ((m_texture + 2 * t) & (kVramMask & ~1u)));
            colour = static_cast<u16>((code & 0x8000) || !code ? code : 0xFC00);
            break;
        }
        [[fallthrough]];
    default:
        // Modes the pixel depth does not allow read the first VRAM word.
        code = m_eightBit ? vram[0] : loadBe16(vram);
        colour = static_cast<u16>(code);
        break;
    }
    return {colour, static_cast<u8>(static_cast<s32>(code) == m_transparentCode),
            static_cast<u8>(static_cast<s32>(code) == m_endCode)};
}

u32 VDP1::draw_quad(const char*, const Vertex* v)
{
    vdp1::FlatSource source{m_cmd.colr};
    return walkQuad<true>(v, source);
}

u32 VDP1::draw_sprite(const char*, const Vertex* v)
{
    SpriteSource source(*this, m_cmd.width, m_cmd.height, m_cmd.direction, m_cmd.hss, m_cmd.ecd, m_eos,
                        &VDP1::fetchTexel);
    const u32 clocks = walkQuad<true>(v, source);
    m_transparentCode = m_endCode = -1;
    return clocks;
}
