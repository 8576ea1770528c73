#include "video/color_tables.h"

#include <cstring>

u32 colorTable[kColorTableSize];
u8 nibbleTable[kNibbleTableSize];
u8 saturateTable[kSaturateTableSize];
u8 opaqueTable[kOpaqueTableSize];
u8 spanMaskTable[kSpanMaskTableSize];

namespace {

// Row r holds r + 1 ones followed by zeros; the zeros that precede a row's
// ones are the tail of the row before it, or these leading zeros for row 0.
constexpr u32 kSpanMaskLead = kSpanMaskWidth;
static_assert(kSpanMaskLead + kSpanMaskWidth * kSpanMaskRowBytes <= kSpanMaskTableSize);

void buildColorTable()
{
    for (u32 c = 0; c < kColorTableSize; ++c) {
        u32 red = (c & 0x1F) << 3;
        u32 green = ((c >> 5) & 0x1F) << 3;
        u32 blue = ((c >> 10) & 0x1F) << 3;
        colorTable[c] = red << 16 | green << 8 | blue;
    }
}

void buildSpanMaskTable()
{
    std::memset(spanMaskTable, 0, sizeof spanMaskTable);
    for (u32 row = 0; row < kSpanMaskWidth; ++row)
        std::memset(spanMaskTable + kSpanMaskLead + row * kSpanMaskRowBytes, 1, row + 1);
}

}  // namespace

void buildVideoTables()
{
    for (u32 i = 0; i < 256; ++i) {
        nibbleTable[i] = static_cast<u8>(i >> 4);
        nibbleTable[256 + i] = static_cast<u8>(i & 15);
    }
    for (u32 i = 0; i < kSaturateTableSize; ++i)
        saturateTable[i] = static_cast<u8>(i < 255 ? i : 255);
    buildColorTable();
    for (u32 i = 0; i < kOpaqueTableSize; ++i)
        opaqueTable[i] = i != 0;
    buildSpanMaskTable();
}

const u8* getSpanMaskTable()
{
    return spanMaskTable;
}

// Row (last - first) moved back by first bytes: its ones start at x = first.
// Every x from 0 to 1,023 stays inside the table for valid spans. A span the
// callers should have caught still gets a mask inside the table: a pointer
// computed from it could reach far outside.
const u8* getSpanMask(u32 first, u32 last)
{
    if (first > last || first >= kSpanMaskWidth)
        return spanMaskTable;
    if (last >= kSpanMaskWidth)
        last = kSpanMaskWidth - 1;
    return spanMaskTable + kSpanMaskLead + last * kSpanMaskRowBytes - first * (kSpanMaskRowBytes + 1);
}
