// VDP2 sprite layer (VDP1's display frame buffer) and external layer (the
// MPEG card's frame buffer).
#include <algorithm>
#include <cstring>

#include "video/vdp1/vdp1.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_fetch.h"

using namespace vdp2;

namespace {

constexpr u32 kFrameBufferMask = 0x3FFFF;  // one 256 KB VDP1 buffer

struct SpriteDot {
    u32 code;
    u8 priority;  // priority register number
    u8 ratio;     // ratio register number
    u8 shadowClass;
};

// Splits a dot by sprite type. Types 0-7 are 16-bit dots, 8-15 bytes.
template <u32 Type>
constexpr SpriteDot decodeSpriteDot(u32 d)
{
    SpriteDot s{0, 0, 0, 0};
    u32 shadowCode;
    switch (Type) {
    case 0: s.priority = (d >> 14) & 3, s.ratio = (d >> 11) & 7, s.code = d & 0x7FF, shadowCode = 0x7FE; break;
    case 1: s.priority = (d >> 13) & 7, s.ratio = (d >> 11) & 3, s.code = d & 0x7FF, shadowCode = 0x7FE; break;
    case 2: s.priority = (d >> 14) & 1, s.ratio = (d >> 11) & 7, s.code = d & 0x7FF, shadowCode = 0x7FE; break;
    case 3: s.priority = (d >> 13) & 3, s.ratio = (d >> 11) & 3, s.code = d & 0x7FF, shadowCode = 0x7FE; break;
    case 4: s.priority = (d >> 13) & 3, s.ratio = (d >> 10) & 7, s.code = d & 0x3FF, shadowCode = 0x3FE; break;
    case 5: s.priority = (d >> 12) & 7, s.ratio = (d >> 11) & 1, s.code = d & 0x7FF, shadowCode = 0x7FE; break;
    case 6: s.priority = (d >> 12) & 7, s.ratio = (d >> 10) & 3, s.code = d & 0x3FF, shadowCode = 0x3FE; break;
    case 7: s.priority = (d >> 12) & 7, s.ratio = (d >> 9) & 7, s.code = d & 0x1FF, shadowCode = 0x1FE; break;
    case 8: s.priority = (d >> 7) & 1, s.code = d & 0x7F, shadowCode = 0x7E; break;
    case 9: s.priority = (d >> 7) & 1, s.ratio = (d >> 6) & 1, s.code = d & 0x3F, shadowCode = 0x3E; break;
    case 10: s.priority = (d >> 6) & 3, s.code = d & 0x3F, shadowCode = 0x3E; break;
    case 11: s.ratio = (d >> 6) & 3, s.code = d & 0x3F, shadowCode = 0x3E; break;
    case 12: s.priority = (d >> 7) & 1, s.code = d & 0xFF, shadowCode = 0xFE; break;
    case 13: s.priority = (d >> 7) & 1, s.ratio = (d >> 6) & 1, s.code = d & 0xFF, shadowCode = 0xFE; break;
    case 14: s.priority = (d >> 6) & 3, s.code = d & 0xFF, shadowCode = 0xFE; break;
    default: s.ratio = (d >> 6) & 3, s.code = d & 0xFF, shadowCode = 0xFE; break;
    }
    // Types 2-7: a set MSB marks a shadowed dot, 0x8000 alone a transparent shadow.
    u8 msbClass = 0;
    if constexpr (Type >= 2 && Type <= 7)
        msbClass = (d & 0x8000) ? (d == 0x8000 ? 2 : 3) : 0;
    s.shadowClass = s.code == shadowCode ? 1 : msbClass;
    return s;
}

}  // namespace

void VDP2::fetchSprite()
{
    LineDots& out = m_dots[kSpriteRecord];
    SpriteDots& extra = m_spriteDots;
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    std::memset(extra.window, 0, sizeof extra.window);
    std::memset(extra.shadowClass, 0, sizeof extra.shadowClass);
    m_spriteShadows = false;
    const FrameBufferInfo* frame = nullptr;
    if (m_sprite.active)
        frame = m_spriteFrame ? m_spriteFrame : m_vdp1 ? m_vdp1->getDisplayFrameBuffer() : nullptr;
    if (!frame || !frame->pixels) {
        std::memset(out.key, 0, sizeof out.key);
        return;
    }
    const SpriteLayer& s = m_sprite;
    const bool eightBit = frame->eightBit;
    if (eightBit != (s.type >= 8))
        m_sprite.logWarning(2, "Sprite data size doesn't match sprite type [size: %d, type: %d]", eightBit ? 8 : 16,
                            s.type);
    if (s.mixed && eightBit)
        m_sprite.logWarning(2, "Mixed color mode when data is 8-bit");
    const s32 frameWidth = frame->width;
    const s32 frameHeight = frame->height;
    const u32 rowShift = (frameWidth >= 1024 ? 10 : 9) + (eightBit ? 0 : 1);
    const u32 dotMask = s.type < 8 ? 0xFFFF : 0xFF;
    const u32 exponent = (frameWidth >= 1024 ? 1 : 0) + 1 - ((m_screenMode >> 1) & 1);

    // Positions are 16.16 and may be negative in VDP1's rotation mode.
    s64 x, y, stepX, stepY;
    if (!frame->rotation) {
        x = 0;
        y = static_cast<s64>(m_interlace == 3 ? m_lineV >> 1 : m_lineV) << 16;
        stepX = s64{0x8000} << exponent;
        stepY = 0;
    } else {
        const RotationParams& a = m_rotation[0];
        x = s64{a.xLine} << 6;
        y = s64{a.yLine} << 6;
        stepX = s64{a.dx} << (5 + exponent);
        stepY = s64{a.dy} << (5 + exponent);
    }

    SpriteLine line{frame->pixels, x, y, stepX, stepY, frameWidth, frameHeight, rowShift, dotMask, eightBit};
    readSpriteDots(line);
    switch (s.type) {
    case 0: fetchSpriteLine<0>(); break;
    case 1: fetchSpriteLine<1>(); break;
    case 2: fetchSpriteLine<2>(); break;
    case 3: fetchSpriteLine<3>(); break;
    case 4: fetchSpriteLine<4>(); break;
    case 5: fetchSpriteLine<5>(); break;
    case 6: fetchSpriteLine<6>(); break;
    case 7: fetchSpriteLine<7>(); break;
    case 8: fetchSpriteLine<8>(); break;
    case 9: fetchSpriteLine<9>(); break;
    case 10: fetchSpriteLine<10>(); break;
    case 11: fetchSpriteLine<11>(); break;
    case 12: fetchSpriteLine<12>(); break;
    case 13: fetchSpriteLine<13>(); break;
    case 14: fetchSpriteLine<14>(); break;
    default: fetchSpriteLine<15>(); break;
    }
    const u8* pass = windowPass(s.window, m_passScratch);
    for (u32 i = 0; i < width; ++i)
        out.key[i] &= static_cast<u8>(-pass[i]);
}

// The dots under the line, 0 where the position falls outside the frame
// buffer (also at negative rotated positions).
void VDP2::readSpriteDots(const SpriteLine& line)
{
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    u16* __restrict raw = m_spriteRaw;
    if (line.stepY == 0 && line.stepX == 0x10000 && line.x == 0) {
        // Unrotated at one dot per dot: a straight run of one row.
        const s64 sy = line.y >> 16;
        u32 inside = sy < line.height ? std::min<u32>(width, static_cast<u32>(line.width)) : 0;
        const u32 offset = static_cast<u32>(sy) << line.rowShift;
        if (line.eightBit) {
            const u8* from = line.pixels + (offset & kFrameBufferMask);
            inside = std::min<u32>(inside, kFrameBufferMask + 1 - (offset & kFrameBufferMask));
            for (u32 i = 0; i < inside; ++i)
                raw[i] = static_cast<u16>(from[i] & line.dotMask);
        } else {
            const u8* from = line.pixels + (offset & kFrameBufferMask & ~1u);
            inside = std::min<u32>(inside, (kFrameBufferMask + 1 - (offset & kFrameBufferMask)) / 2);
            for (u32 i = 0; i < inside; ++i)
                raw[i] = static_cast<u16>(loadBe16(from + 2 * i) & line.dotMask);
        }
        std::fill(raw + inside, raw + width, u16{0});
        return;
    }
    s64 x = line.x, y = line.y;
    for (u32 i = 0; i < width; ++i, x += line.stepX, y += line.stepY) {
        const s64 sx = x >> 16;
        const s64 sy = y >> 16;
        const bool inside = sx >= 0 && sy >= 0 && sx < line.width && sy < line.height;
        const u32 offset =
            (static_cast<u32>(sy) << line.rowShift) + (line.eightBit ? static_cast<u32>(sx) : static_cast<u32>(sx) * 2);
        const u32 d = line.eightBit ? line.pixels[offset & kFrameBufferMask]
                                    : loadBe16(line.pixels + (offset & kFrameBufferMask & ~1u));
        raw[i] = static_cast<u16>(inside ? d & line.dotMask : 0);
    }
}

template <u32 Type>
void VDP2::fetchSpriteLine()
{
    LineDots& out = m_dots[kSpriteRecord];
    SpriteDots& extra = m_spriteDots;
    const SpriteLayer& s = m_sprite;
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u32* palette = m_palette;
    const u8* msbs = m_paletteMsb;
    const u32 paletteMask = m_paletteMask;
    const bool msbCc = m_outputs[kSpriteRecord].specialMode == 3;
    const bool windowBits = s.windowEnable && Type >= 2 && Type <= 7;
    const u32 mixed = s.mixed ? 0x8000 : 0;
    const u32 cramOffset = s.cramOffset;

    // A dot's priority, ratio and colour-calculation bits sit above its
    // colour code, so the line's settings make a table over those bits:
    // key, ratio, condition and whether the dot is a direct colour.
    constexpr u32 kShift = Type < 8 ? 9 : 6;
    constexpr u32 kEntries = (Type < 8 ? 0x10000 : 0x100) >> kShift;
    static_assert(kEntries <= sizeof m_spriteAttributes / sizeof m_spriteAttributes[0]);
    constexpr u32 kCodeMask = decodeSpriteDot<Type>(0xFFFF).code;
    constexpr u32 kShadowCode = kCodeMask - 1;
    // Rebuilt whenever the sprite settings were decoded again.
    u32* attributes = m_spriteAttributes;
    const bool rebuild = m_spriteTableStale;
    m_spriteTableStale = false;
    for (u32 h = 0; rebuild && h < kEntries; ++h) {
        const u32 d = h << kShift;
        const SpriteDot dot = decodeSpriteDot<Type>(d);
        const bool direct = (d & mixed) != 0;
        const u8 flags = s.priorities[direct ? 0 : dot.priority];
        const u32 key = (flags >> 1) ? ((flags >> 1) << 3) | kSpriteRecord : 0;
        attributes[h] = key | u32{s.ratios[direct ? 0 : dot.ratio]} << 8 | u32(flags & 1) << 16 | u32{direct} << 24;
    }

    u16* __restrict raw = m_spriteRaw;
    u32* __restrict found = m_spriteFound;
    u32* __restrict colorOut = out.color;
    u8* __restrict keyOut = out.key;
    u8* __restrict ccOut = out.cc;
    u8* __restrict ratioOut = extra.ratio;
    u8* __restrict classOut = extra.shadowClass;
    u8* __restrict windowOut = extra.window;
    // First the lookups, a loop for each combination of mixed colour and MSB
    // condition so it carries neither: the colour, and the attributes with
    // the dot's own condition. Then the per-dot bits in a loop that
    // vectorises.
    auto lookUp = [&]<bool Mixed, bool MsbCc>() {
        for (u32 i = 0; i < width; ++i) {
            u32 d = raw[i];
            if (windowBits) {
                windowOut[i] = static_cast<u8>(d >> 15);
                d &= 0x7FFF;
                raw[i] = static_cast<u16>(d);
            }
            u32 e = attributes[(d >> kShift) & (kEntries - 1)];
            const u32 direct = Mixed ? e >> 24 : 0;
            const u32 index = ((d & kCodeMask) + cramOffset) & paletteMask;
            const u32 fromPalette = palette[index];
            colorOut[i] = Mixed && direct ? rgb555(d) : fromPalette;
            if constexpr (MsbCc)
                e = (e & ~0xFF0000u) | (msbs[index] | direct) << 16;
            found[i] = e;
        }
    };
    if (mixed)
        msbCc ? lookUp.template operator()<true, true>() : lookUp.template operator()<true, false>();
    else
        msbCc ? lookUp.template operator()<false, true>() : lookUp.template operator()<false, false>();
    u8 shadows = 0;
    for (u32 i = 0; i < width; ++i) {
        const u32 d = raw[i];
        const u32 e = found[i];
        const u32 code = d & kCodeMask;
        // Types 2-7: a set MSB marks a shadowed dot, 0x8000 alone a transparent shadow.
        u32 msbClass = 0;
        if constexpr (Type >= 2 && Type <= 7)
            msbClass = (d >> 15) * (3 - (d == 0x8000));
        // Direct-colour dots have no shadow class.
        const u8 shadowClass = static_cast<u8>((code == kShadowCode ? 1 : msbClass) & ((e >> 24) - 1));
        classOut[i] = shadowClass;
        shadows |= shadowClass;
        ratioOut[i] = static_cast<u8>(e >> 8);
        ccOut[i] = static_cast<u8>((e >> 16) & 1);
        keyOut[i] = static_cast<u8>(e) & static_cast<u8>(-static_cast<u8>(d != 0));
    }
    m_spriteShadows = shadows != 0;
}

void VDP2::fetchExternal(Layer& layer)
{
    LineDots& out = m_dots[layer.record];
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    // The MPEG frame is 512 x 256: rows past its height show nothing.
    if (layer.externalRow >= layer.externalHeight || !layer.externalPixels) {
        std::memset(out.key, 0, sizeof out.key);
        return;
    }
    const u8* pass = windowPass(layer.window, m_passScratch);
    const u32 m = layer.colorMode == 4 ? 3 : layer.colorMode;
    const u32 rowAddress = layer.externalRow << (8 + m);
    u32 mask = 1;
    while (mask * 2 <= layer.externalBytes)
        mask *= 2;
    mask -= 1;
    const u8* pixels = layer.externalPixels;
    const Palette colors{m_palette, m_paletteMsb, m_paletteMask};
    const u8 record = static_cast<u8>(layer.record);
    const u32 ccMode = m_outputs[layer.record].specialMode;
    const u8* table = m_specialTables[layer.specialSelect];
    for (u32 x = 0; x < width; ++x) {
        out.key[x] = 0;
        if (x >= 512)
            continue;
        DotColor dot;
        switch (m) {
        case 0: dot = resolveDot<0>(rowDot<0>(pixels, mask, rowAddress, x), 0, layer.cramOffset, layer.transparentShown, colors); break;
        case 1: dot = resolveDot<1>(rowDot<1>(pixels, mask, rowAddress, x), 0, layer.cramOffset, layer.transparentShown, colors); break;
        case 2: dot = resolveDot<2>(rowDot<2>(pixels, mask, rowAddress, x), 0, layer.cramOffset, layer.transparentShown, colors); break;
        default: {
            u32 raw;
            std::memcpy(&raw, pixels + ((rowAddress + x * 4) & mask & ~3u), 4);
            dot = resolveDot<4>(raw, 0, 0, layer.transparentShown, colors);
            break;
        }
        }
        out.color[x] = dot.color;
        out.cc[x] = dotCcCondition(ccMode, 0, table, dot.code, dot.msb);
        const bool visible = dot.opaque & (layer.priority != 0) & pass[x];
        out.key[x] = visible ? static_cast<u8>((layer.priority << 3) | record) : 0;
    }
}
