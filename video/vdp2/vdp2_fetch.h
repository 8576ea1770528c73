#pragma once

// Dot-level helpers shared by the scroll, rotation and external layers. Every
// VRAM and colour RAM read masks its address here, so no register value can
// reach outside the arrays.

#include "core/base/types.h"
#include "video/color_tables.h"
#include "video/vdp2/vdp2_layers.h"

namespace vdp2 {

constexpr u32 kColorRamMask = 0xFFF;

// Console 32-bit colour (blue 23-16, green 15-8, red 7-0) to 0x00RRGGBB.
// V is u32 or eight lanes.
template <class V>
[[gnu::always_inline]] inline V swapRedBlue(V c)
{
    return ((c & 0xFFu) << 16u) | (c & 0xFF00u) | ((c >> 16u) & 0xFFu);
}

// A console 16-bit colour as a host pixel; the same as colorTable, without
// a 256 KB table walk in the per-dot loops. V is u32 or eight lanes.
template <class V>
[[gnu::always_inline]] inline V rgb555(V c)
{
    return ((c & 0x1Fu) << 19u) | ((c & 0x3E0u) << 6u) | ((c & 0x7C00u) >> 7u);
}

// The decoded colour RAM (see VDP2::refreshPalette): host colours and the
// entries' MSBs; mask is the code mask of the colour RAM mode.
struct Palette {
    const u32* colors;
    const u8* msbs;
    u32 mask;

    u32 lookup(u32 code, u8& msb) const
    {
        msb = msbs[code & mask];
        return colors[code & mask];
    }
};

// log2 of the bytes of one 8 x 8 cell in colour mode Mode.
template <int Mode>
constexpr u32 kCellShift = Mode == 0 ? 5 : Mode == 1 ? 6 : Mode == 4 ? 8 : 7;

// A dot of a bitmap row (or of any row of dots laid out the same way).
template <int Mode>
inline u32 rowDot(const u8* memory, u32 mask, u32 rowAddress, u32 col)
{
    if constexpr (Mode == 0) {
        const u8 byte = memory[(rowAddress + (col >> 1)) & mask];
        return (col & 1) ? byte & 15 : byte >> 4;
    } else if constexpr (Mode == 1) {
        return memory[(rowAddress + col) & mask];
    } else if constexpr (Mode == 4) {
        return loadBe32(memory + ((rowAddress + col * 4) & mask & ~3u));
    } else {
        return loadBe16(memory + ((rowAddress + col * 2) & mask & ~1u));
    }
}

// The address of the 8-dot cell row that holds dot (dx, dy) of a character
// at charAddress, flips applied by the caller; 16 x 16 characters hold four
// cells TL, TR, BL, BR.
template <int Mode, class V>
[[gnu::always_inline]] inline V charRow(V charAddress, V dx, V dy)
{
    const V cell = ((dy >> 3u) << 1u) | (dx >> 3u);
    return charAddress + (cell << kCellShift<Mode>) + ((dy & 7u) << (kCellShift<Mode> - 3));
}

template <int Mode>
inline u32 charDot(const u8* vram, u32 mask, u32 charAddress, u32 dx, u32 dy)
{
    return rowDot<Mode>(vram, mask, charRow<Mode>(charAddress, dx, dy), dx & 7);
}

// log2 of the bytes of a 512-dot bitmap row.
template <int Mode>
constexpr u32 kRowShift = Mode == 0 ? 8 : Mode == 1 ? 9 : Mode == 4 ? 11 : 10;

// The fields of a pattern name, for one dot (V = u32) or eight at a time
// (V = Lanes8): the plain and the AVX2 loops decode with the same code.
template <class V>
struct NameFields {
    V charAddress;  // bytes
    V palette;      // colour-code base
    V hflip, vflip;
    V specialPriority, specialCc;
};

// The fields of a two-word name.
template <class V>
[[gnu::always_inline]] inline NameFields<V> twoWordName(V raw, u32 vramMask)
{
    return {((raw & 0x7FFFu) << 5u) & vramMask,
            ((raw >> 16u) & 0x7Fu) << 4u,
            (raw >> 30u) & 1u,
            raw >> 31u,
            (raw >> 29u) & 1u,
            (raw >> 28u) & 1u};
}

// One-word pattern names decoded with the layer's constants worked out once
// per line.
struct NameDecoder {
    u32 lowMask;      // character number bits in the name
    u32 numberShift;  // 2 for 16 x 16 characters
    u32 numberOr;     // bits the supplement gives
    u32 flips;        // 1 when bits 10 and 11 are flips
    u32 paletteField;  // the name's palette bits: four (16 colours) or three
    u32 paletteShift;  // where they go in the colour code
    u32 paletteOr;     // supplementary palette (16 colours)
    bool twoWord;
    u32 vramMask;
    u32 specialPriority, specialCc;  // PNCN's special bits

    template <class Layer>
    NameDecoder(const Layer& layer, u32 mask)
    {
        const u32 supplement = layer.pncn & 0x1F;
        twoWord = layer.twoWord;
        vramMask = mask;
        const bool sixteen = layer.colorMode == 0;
        paletteField = sixteen ? 0xF : 7;
        paletteShift = sixteen ? 4 : 8;
        paletteOr = sixteen ? ((layer.pncn >> 5) & 7) << 8 : 0;
        numberShift = layer.charSize16 ? 2 : 0;
        if (!layer.supplementMode) {
            lowMask = 0x3FF;
            flips = 1;
            numberOr = layer.charSize16 ? ((supplement >> 2) << 12) | (supplement & 3) : supplement << 10;
        } else {
            lowMask = 0xFFF;
            flips = 0;
            numberOr = layer.charSize16 ? ((supplement >> 4) << 14) | (supplement & 3) : (supplement >> 2) << 12;
        }
        specialPriority = (layer.pncn >> 9) & 1;
        specialCc = (layer.pncn >> 8) & 1;
    }

    // The fields of a one-word name; its special bits come from PNCN.
    template <class V>
    [[gnu::always_inline]] NameFields<V> oneWord(V raw) const
    {
        const V number = ((raw & lowMask) << numberShift) | numberOr;
        return {((number & 0x7FFFu) << 5u) & vramMask,
                (((raw >> 12u) & paletteField) << paletteShift) | paletteOr,
                (raw >> 10u) & flips,
                (raw >> 11u) & flips,
                V(specialPriority),
                V(specialCc)};
    }

    // A name of the layer's size (or a one-word value, for the over name).
    PatternName name(u32 raw, bool twoWordRaw) const
    {
        const NameFields<u32> f = twoWordRaw ? twoWordName(raw, vramMask) : oneWord(raw);
        return {f.charAddress, f.palette, static_cast<u8>(f.hflip), static_cast<u8>(f.vflip),
                static_cast<u8>(f.specialPriority), static_cast<u8>(f.specialCc)};
    }

    PatternName read(const u8* vram, u32 address) const
    {
        if (twoWord)
            return name(loadBe32(vram + (address & vramMask & ~3u)), true);
        return name(loadBe16(vram + (address & vramMask & ~1u)), false);
    }
};

// The part of a dot's colour code its name gives: 16 colours take the
// whole palette field, 256 colours its top three bits, 2,048 none.
template <int Mode, class V>
[[gnu::always_inline]] inline V paletteBase(V palette)
{
    if constexpr (Mode == 0)
        return palette;
    else if constexpr (Mode == 1)
        return palette & 0x700u;
    else
        return V(0u);
}

// The part a dot gives: its raw bits (2,048 colours keep eleven).
template <int Mode, class V>
[[gnu::always_inline]] inline V dotCode(V raw)
{
    if constexpr (Mode == 2)
        return raw & 0x7FFu;
    else
        return raw;
}

// A dot's key: (priority << 3) | record, or 0 (hidden) at priority 0.
inline u8 layerKey(u32 priority, u32 record)
{
    return priority ? static_cast<u8>((priority << 3) | record) : 0;
}

struct DotColor {
    u32 color;
    u32 code;  // the code the special tables look at
    u8 opaque;
    u8 msb;
};

// Colour of a raw dot: palette modes look colour RAM up, direct modes carry
// their colour. Code 0 (or a clear MSB) is transparent unless shown.
template <int Mode>
inline DotColor resolveDot(u32 raw, u32 palette, u32 cramOffset, u8 transparentShown, const Palette& colors)
{
    DotColor d;
    d.code = raw;
    if constexpr (Mode == 3) {
        d.opaque = static_cast<u8>((raw >> 15) | transparentShown);
        d.msb = 1;
        d.color = rgb555(raw);
    } else if constexpr (Mode == 4) {
        d.opaque = static_cast<u8>((raw >> 31) | transparentShown);
        d.msb = 1;
        d.color = swapRedBlue(raw);
    } else {
        d.code = dotCode<Mode>(raw);
        d.opaque = static_cast<u8>((d.code != 0) | transparentShown);
        d.color = colors.lookup(d.code + paletteBase<Mode>(palette) + cramOffset, d.msb);
    }
    return d;
}

// Per-dot priority by the special priority mode (0 hides the dot).
inline u32 dotPriority(u32 mode, u32 priority, u32 specialBit, const u8* table, u32 code)
{
    switch (mode) {
    case 0: return priority;
    case 1: return (priority & 6) | specialBit;
    case 2: return (priority & 6) | (table[code & 15] & specialBit);
    default: return 0;
    }
}

// Per-dot colour-calculation condition by the special colour-calculation mode.
inline u8 dotCcCondition(u32 mode, u32 specialBit, const u8* table, u32 code, u8 msb)
{
    switch (mode) {
    case 0: return 1;
    case 1: return static_cast<u8>(specialBit);
    case 2: return static_cast<u8>(table[code & 15] & specialBit);
    default: return msb;
    }
}

}  // namespace vdp2
