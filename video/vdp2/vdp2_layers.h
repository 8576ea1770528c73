#pragma once

#include "core/base/object.h"
#include "core/base/types.h"

// What the background processor's layers hand the line compositor. Each
// layer fills its dots for a whole line into a LineDots buffer before the
// compositor walks the line, so every fetch loop is tight and branch-poor.

namespace vdp2 {

// Widest line: the 704-dot high-resolution and exclusive modes.
constexpr u32 kMaxLineDots = 704;

// Output records: 0 NBG3, 1 NBG2, 2 NBG1/EXBG, 3 NBG0/RBG1, 4 RBG0, 5 sprite,
// 6 line colour and gradation, 7 back screen.
constexpr u32 kRecords = 8;
constexpr u32 kSpriteRecord = 5;
constexpr u32 kLineColorRecord = 6;
constexpr u32 kBackRecord = 7;
constexpr u32 kNoSource = 11;

enum LayerNumber : u32 { kNbg0, kNbg1, kNbg2, kNbg3, kRbg0, kRbg1, kExbg, kSprite, kLncl, kGrad, kBack, kLayers };
constexpr u32 kRecordOfLayer[kLayers] = {3, 2, 1, 0, 4, 3, 2, 5, 6, 6, 7};

// Per-line attributes of one record: what the compositor needs besides the
// dots themselves.
struct LayerOutput {
    u32 index = 0;
    u8 kind = 0;  // 3 for the sprite record: it carries shadows
    u32 source = kNoSource;
    u8 priority = 0;
    u32 color = 0;  // the record's colour when it has no dots (line colour, back screen)
    u32 specialMode = 0;
    u8 ccEnable = 0;
    u8 specialBit = 0;
    const u8* specialTable = nullptr;
    u32 ratio = 0;  // 5-bit ratio r of the layer
    s32 offset[3] = {};  // red, green, blue: 9-bit signed, shifted left by 8
    u8 shadow = 0;
    u8 rgb = 0;
    u8 effectTarget = 0;
    u32 lineColor = 0;

    void reset()
    {
        const u32 keepIndex = index;
        const u8 keepKind = kind;
        *this = LayerOutput{};
        index = keepIndex;
        kind = keepKind;
    }
};

// One line of one record's dots. key is (priority << 3) | record for a
// visible dot and 0 for a hidden one; cc is the dot's colour-calculation
// condition (special mode already applied).
struct LineDots {
    u32 color[kMaxLineDots];
    u8 key[kMaxLineDots];
    u8 cc[kMaxLineDots];
};

// Per-dot extras of the sprite record.
struct SpriteDots {
    u8 shadowClass[kMaxLineDots];  // 0 normal, 1 normal shadow, 2 transparent shadow, 3 shadowed dot
    u8 ratio[kMaxLineDots];
    u8 window[kMaxLineDots];  // sprite-window bit
};

// Where a map's pattern names are: the plane addresses and the geometry that
// turns a map coordinate into a name address (normal layers: 2 x 2 planes,
// rotation parameter sets: 4 x 4).
struct MapGeometry {
    u32 plane[16] = {};
    u32 planeShiftX = 9;  // log2 of a plane's width in dots
    u32 planeShiftY = 9;
    u32 planesAcrossShift = 1;  // log2 of planes per map row (1 or 2)
    u32 planesMask = 1;
    u32 pagesAcrossShift = 0;  // log2 of pages per plane row
    u32 widthMask = 1023;
    u32 heightMask = 1023;
};

// A decoded pattern name.
struct PatternName {
    u32 charAddress = 0;  // bytes
    u32 palette = 0;      // colour-code base
    u8 hflip = 0;
    u8 vflip = 0;
    u8 specialPriority = 0;
    u8 specialCc = 0;
};

// Window control of one layer: three (mask, xor) pairs and the logic bit.
struct WindowControl {
    u8 mask[3] = {};
    u8 flip[3] = {};
    u8 logic = 0;
    u8 any = 0;  // some window is enabled; without one no window applies

    void decode(u32 byte);
};

// The VRAM banks (A0, A1, B0, B1) that RAMCTL gives to RBG0's data while
// RBG0 is on: only RBG0 reads them then, so a normal layer's read there
// gets nothing and its dot is transparent. A cell row never straddles two
// banks, so one look per row does.
struct RotationBanks {
    u32 reserved = 0;  // a bit per bank
    u32 shift = 17;    // log2 of a bank's bytes

    // All ones where a normal layer may read at address, else 0; V is u32
    // or eight lanes.
    template <class V>
    [[gnu::always_inline]] V openMask(V address) const
    {
        return ((V(reserved) >> ((address >> shift) & 3u)) & 1u) - 1u;
    }
    u8 open(u32 address) const { return static_cast<u8>(openMask(address)); }
};

}  // namespace vdp2
