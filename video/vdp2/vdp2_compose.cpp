// VDP2 line compositor: priorities, sprite shadows, colour calculation,
// colour offset, and the write into the host canvas.
#include <algorithm>
#include <bit>
#include <cstring>

#include "core/shared_state.h"
#include "video/color_tables.h"
#include "video/vdp2/vdp2.h"

using namespace vdp2;

namespace {

// Rows of the extended-calculation mix: {shift 1, shift 2, shift 3, mask 1, mask 2, mask 3}.
constexpr u32 kMixRows[4][6] = {
    {0, 0, 0, 0xFFFFFF, 0, 0},
    {1, 1, 0, 0x7F7F7F, 0x7F7F7F, 0},
    {1, 2, 0, 0x7F7F7F, 0x3F3F3F, 0},
    {1, 2, 2, 0x7F7F7F, 0x3F3F3F, 0x3F3F3F},
};

u32 halve(u32 c)
{
    return (c >> 1) & 0x7F7F7F;
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
    for (u32 i = 0; i < 16; ++i) {
        const u32 b0 = i & 1, b1 = (i >> 1) & 1, b2 = (i >> 2) & 1;
        m_windowLogic[i] = static_cast<u8>(i < 8 ? 1 - (b0 | b1 | b2) : 1 - (b0 & b1 & b2));
    }
    for (u32 r = 0; r < kRecords; ++r) {
        m_outputs[r].index = r;
        m_outputs[r].kind = r == kSpriteRecord ? 3 : 0;
        m_outputs[r].reset();
    }
    m_windowSpan[0] = m_windowSpan[1] = getSpanMaskTable();
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
    // window bits clip the others.
    fetchSprite();
    for (Layer* layer : m_layers) {
        if (!layer->active)
            continue;
        switch (layer->number) {
        case kRbg0:
        case kRbg1: fetchRotation(*layer); break;
        case kExbg: fetchExternal(*layer); break;
        default: fetchNormal(*layer); break;
        }
    }
    const u8* ccPass = windowPass(m_ccWindow, m_ccPass);
    m_ccPassAll = ccPass == nullptr;

    u32* row = pixels + static_cast<size_t>(hostCanvas.pitch) * y;
    if (m_screenMode >= 6)
        composeHighResolution(x0, end - x0, row, y);
    else
        composeNormal(x0, end - x0, row);
}

u32 VDP2::colorOf(u32 record, u32 x) const
{
    return record < 6 ? m_dots[record].color[x] : m_outputs[record].color;
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
    if (m_ccMode & 1) {
        u32 result = 0;
        for (int shift = 0; shift < 24; shift += 8)
            result |= u32{saturateTable[((top >> shift) & 0xFF) + ((other >> shift) & 0xFF)]} << shift;
        return result;
    }
    const u32 r = m_ccMode == 0 ? ratioOf(topRecord, x) : ratioOf(otherRecord, x);
    const u8* topWeight = m_ratio[31 - r];
    const u8* otherWeight = m_ratio[r + 1];
    u32 result = 0;
    for (int shift = 0; shift < 24; shift += 8)
        result |= u32(topWeight[(top >> shift) & 0xFF] + otherWeight[(other >> shift) & 0xFF]) << shift;
    return result;
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

void VDP2::composeNormal(u32 x0, u32 count, u32* row)
{
    const u8* keys[6];
    u32 layers = 0;
    if (m_sprite.active)
        keys[layers++] = m_dots[kSpriteRecord].key;
    for (const Layer* layer : m_layers) {
        if (layer->active)
            keys[layers++] = m_dots[layer->record].key;
    }
    const u8* ccPass = m_ccPassAll ? nullptr : m_ccPass;
    u32 newer = 0, older = 0;  // gradation history

    for (u32 x = x0; x < x0 + count; ++x) {
        u64 mask = 0;
        for (u32 i = 0; i < layers; ++i)
            mask |= u64{1} << keys[i][x];
        mask &= ~u64{0xFF};
        auto next = [&mask]() -> u32 {
            if (!mask)
                return kBackRecord;
            const u32 bit = 63 - static_cast<u32>(std::countl_zero(mask));
            mask &= ~(u64{1} << bit);
            return bit & 7;
        };
        u32 top = next();
        u32 second = next();
        u32 third = next();

        bool halved = false;
        if (top == kSpriteRecord) {
            switch (m_spriteDots.shadowClass[x]) {
            case 1:
                if (m_outputs[second].shadow) {
                    top = second, second = third, third = next();
                    halved = true;
                }
                break;
            case 2:
                halved = m_shadowSelect && m_outputs[second].shadow;
                top = second, second = third, third = next();
                break;
            case 3:
                halved = true;
                break;
            default:
                break;
            }
        }

        const LayerOutput& out = m_outputs[top];
        u32 color = colorOf(top, x);
        const u8 condition = top < 6 ? m_dots[top].cc[x] : 1;
        const u32 applies = (condition & out.ccEnable & (ccPass ? ccPass[x] : 1)) ? 1 : 0;
        switch (applies + out.effectTarget * 2 + m_effectMode) {
        case 1:
            color = blend(color, top, colorOf(second, x), second, x);
            break;
        case 3:
            color = blend(color, top, lineColorOf(top, x), kLineColorRecord, x);
            break;
        case 5: {
            const u32 rowIndex = m_outputs[second].ccEnable;
            const u32 mixed = mix(rowIndex, colorOf(second, x), colorOf(third, x), 0);
            color = blend(color, top, mixed, second, x);
            break;
        }
        case 7: {
            const u32 rowIndex =
                m_outputs[kLineColorRecord].ccEnable ? (m_outputs[second].ccEnable ? 2 : 1) : 0;
            const u32 lineColor = mix(rowIndex, lineColorOf(top, x), colorOf(second, x), colorOf(third, x));
            color = blend(color, top, lineColor, kLineColorRecord, x);
            break;
        }
        case 8:
        case 10:
            older = newer;
            newer = colorOf(m_gradationTarget, x);
            break;
        case 9:
        case 11: {
            const u32 target = colorOf(m_gradationTarget, x);
            if (top != m_gradationTarget && second != m_gradationTarget) {
                older = newer;
                newer = target;
                color = blend(color, top, colorOf(second, x), second, x);
                break;
            }
            const u32 blurred = halve(target) + ((newer >> 2) & 0x3F3F3F) + ((older >> 2) & 0x3F3F3F);
            older = newer;
            newer = target;
            color = blend(color, top, blurred, kLineColorRecord, x);
            break;
        }
        default:
            break;
        }
        color = applyOffset(color, out);
        row[x] = halved ? halve(color) : color;
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
