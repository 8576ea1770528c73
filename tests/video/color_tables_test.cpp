#include "video/color_tables.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class VideoTables : public testing::Test {
protected:
    static void SetUpTestSuite() { buildVideoTables(); }
};

// A 5-bit component widened to 8 bits by a left shift of three.
u32 widen(u32 component)
{
    return component * 8;
}

}  // namespace

TEST_F(VideoTables, ColorTableFollowsTheFiveFiveFiveFormat)
{
    for (u32 c = 0; c < 65536; ++c) {
        u32 red = c % 32;
        u32 green = c / 32 % 32;
        u32 blue = c / 1024 % 32;
        u32 expected = widen(red) * 65536 + widen(green) * 256 + widen(blue);
        ASSERT_EQ(colorTable[c], expected) << std::hex << "colour " << c;
    }
    EXPECT_EQ(colorTable[0x7FFF], 0x00F8F8F8u);
    EXPECT_EQ(colorTable[0xFFFF], 0x00F8F8F8u);
    EXPECT_EQ(colorTable[0x001F], 0x00F80000u);
    EXPECT_EQ(colorTable[0x03E0], 0x0000F800u);
    EXPECT_EQ(colorTable[0x7C00], 0x000000F8u);
    EXPECT_EQ(colorTable[0x8000], 0u);
}

TEST_F(VideoTables, ByteTables)
{
    for (u32 i = 0; i < 256; ++i) {
        ASSERT_EQ(nibbleTable[i], i / 16) << i;
        ASSERT_EQ(nibbleTable[256 + i], i % 16) << i;
    }
    EXPECT_EQ(nibbleTable[0xAB], 0x0A);
    EXPECT_EQ(nibbleTable[256 + 0xAB], 0x0B);

    for (u32 a = 0; a < 256; ++a) {
        for (u32 b = 0; b < 256; ++b)
            ASSERT_EQ(saturateTable[a + b], a + b > 255 ? 255u : a + b) << a << " + " << b;
    }
    EXPECT_EQ(saturateTable[300], 255);
    EXPECT_EQ(saturateTable[17], 17);

    EXPECT_EQ(opaqueTable[0], 0);
    for (u32 code = 1; code < 65536; ++code)
        ASSERT_EQ(opaqueTable[code], 1) << code;
}

TEST_F(VideoTables, SpanMasksMatchANaiveLoop)
{
    const u8* empty = getSpanMaskTable();
    for (u32 x = 0; x < 1024; ++x)
        ASSERT_EQ(empty[x], 0) << x;

    const u8* tableEnd = spanMaskTable + sizeof spanMaskTable;
    u8 naive[1024];
    for (u32 first = 0; first < 1024; ++first) {
        std::memset(naive, 0, sizeof naive);
        for (u32 last = first; last < 1024; ++last) {
            naive[last] = 1;
            const u8* mask = getSpanMask(first, last);
            ASSERT_GE(mask, spanMaskTable);
            ASSERT_LE(mask + 1024, tableEnd);
            ASSERT_EQ(std::memcmp(mask, naive, sizeof naive), 0) << "span " << first << "-" << last;
        }
    }
}

TEST_F(VideoTables, SpansOutsideTheScreenStayInsideTheTable)
{
    EXPECT_EQ(getSpanMask(10, 9), getSpanMaskTable());
    EXPECT_EQ(getSpanMask(1024, 2000), getSpanMaskTable());
    EXPECT_EQ(getSpanMask(0xFFFFFFFFu, 0xFFFFFFFFu), getSpanMaskTable());
    EXPECT_EQ(getSpanMask(1000, 5000), getSpanMask(1000, 1023));
}

TEST_F(VideoTables, RebuildingGivesTheSameTables)
{
    colorTable[0x1234] = 0;
    nibbleTable[3] = 9;
    saturateTable[400] = 0;
    opaqueTable[7] = 0;
    std::memset(spanMaskTable, 1, 4096);
    spanMaskTable[sizeof spanMaskTable - 1] = 7;
    buildVideoTables();
    EXPECT_EQ(colorTable[0x1234], 0x00A08820u);
    EXPECT_EQ(nibbleTable[3], 0);
    EXPECT_EQ(saturateTable[400], 255);
    EXPECT_EQ(opaqueTable[7], 1);
    EXPECT_EQ(getSpanMaskTable()[100], 0);
    EXPECT_EQ(getSpanMask(1023, 1023)[0], 0);
    EXPECT_EQ(getSpanMask(1023, 1023)[1023], 1);
    EXPECT_EQ(spanMaskTable[sizeof spanMaskTable - 1], 0);
}
