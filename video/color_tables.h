#pragma once

#include "core/base/types.h"

// Lookup tables shared by both video processors. buildVideoTables fills them
// once, before any machine runs; after that they are only read.

constexpr u32 kColorTableSize = 65536;
constexpr u32 kNibbleTableSize = 512;
constexpr u32 kSaturateTableSize = 512;
constexpr u32 kOpaqueTableSize = 65536;

// Span masks cover x from 0 to kSpanMaskWidth - 1.
constexpr u32 kSpanMaskWidth = 1024;
constexpr u32 kSpanMaskRowBytes = 2 * kSpanMaskWidth - 1;
constexpr u32 kSpanMaskTableSize = 2 * 1024 * 1024;

// Console colour word (bit 15 ignored, 5-5-5 blue-green-red) to host 0x00RRGGBB.
extern u32 colorTable[kColorTableSize];
// 0-255: the byte's high nibble; 256-511: the low nibble of (index - 256).
extern u8 nibbleTable[kNibbleTableSize];
// A sum of two 8-bit values, clamped at 255.
extern u8 saturateTable[kSaturateTableSize];
// 0 for code 0, 1 for every other code.
extern u8 opaqueTable[kOpaqueTableSize];
extern u8 spanMaskTable[kSpanMaskTableSize];

void buildVideoTables();

// The empty mask: zero for every x in 0 to 1,023.
const u8* getSpanMaskTable();

// A mask p with p[x] = 1 for first <= x <= last, else 0, for x in 0 to
// 1,023. Meant for 0 <= first <= last <= 1,023; an inverted span or one that
// starts past 1,023 gives the empty mask, and a last past 1,023 counts as 1,023.
const u8* getSpanMask(u32 first, u32 last);
