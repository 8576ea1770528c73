#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "cd/media/sector_buffer.h"
#include "disc_images.h"

namespace {

std::vector<u8> pattern(std::size_t bytes, u8 seed)
{
    std::vector<u8> out(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<u8>(seed + i * 13 + (i >> 8));
    return out;
}

TEST(SectorBufferTest, UserDataOffsetForEverySizeAndMode)
{
    struct Case {
        s32 size;
        u32 mode;
        u32 offset;
    };
    const Case cases[] = {
        {2352, 0, 0},  {2352, 1, 16}, {2352, 2, 16}, {2352, 3, 16}, {2352, 4, 24}, {2352, 5, 24},
        {2448, 0, 0},  {2448, 1, 16}, {2448, 2, 16}, {2448, 3, 16}, {2448, 4, 24}, {2448, 5, 24},
        {2336, 0, 0},  {2336, 1, 0},  {2336, 2, 0},  {2336, 3, 0},  {2336, 4, 8},  {2336, 5, 8},
        {2048, 0, 0},  {2048, 2, 0},  {2048, 4, 0},  {2048, 5, 0},  {2324, 5, 0},
    };
    SectorBuffer sector;
    for (const Case& c : cases) {
        u8* data = sector.set(c.mode, 150, c.size);
        EXPECT_EQ(sector.userData(), data + c.offset) << "size " << c.size << " mode " << c.mode;
    }
    // A record pointing elsewhere measures from there.
    std::vector<u8> outside(2448);
    sector.set(4, 150, 2352, outside.data());
    EXPECT_EQ(sector.userData(), outside.data() + 24);
}

TEST(SectorBufferTest, SyncTestLooksAtAllTwelveBytes)
{
    u8 bytes[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_TRUE(SectorBuffer::hasSync(bytes));
    EXPECT_EQ(std::memcmp(SectorBuffer::syncPattern(), bytes, 12), 0);
    for (int i = 0; i < 12; ++i) {
        u8 broken[12];
        std::memcpy(broken, bytes, 12);
        broken[i] ^= 0x10;
        EXPECT_FALSE(SectorBuffer::hasSync(broken)) << "byte " << i;
    }
}

TEST(SectorBufferTest, DetectsModeOfRawSectors)
{
    const auto user = pattern(2352, 3);
    EXPECT_EQ(SectorBuffer::detectMode(disc::rawSector(150, 0, user.data()).data()), 0u);
    EXPECT_EQ(SectorBuffer::detectMode(disc::rawSector(150, 1, user.data()).data()), 1u);
    EXPECT_EQ(SectorBuffer::detectMode(disc::rawSector(150, 2, user.data()).data()), 2u);
    EXPECT_EQ(SectorBuffer::detectMode(disc::rawSector(150, 4, user.data()).data()), 4u);
    EXPECT_EQ(SectorBuffer::detectMode(disc::rawSector(150, 5, user.data()).data()), 5u);
}

TEST(SectorBufferTest, RawOfCookedMode1SectorHasBcdHeader)
{
    const auto user = pattern(2048, 9);
    SectorBuffer sector;
    std::memcpy(sector.storage(), user.data(), 2048);
    sector.set(2, 150, 2048);
    std::array<u8, 2352> raw;
    raw.fill(0xEE);
    ASSERT_TRUE(sector.toRaw(raw.data()));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(raw[i], 0) << i;
    EXPECT_EQ(raw[12], 0x00);
    EXPECT_EQ(raw[13], 0x02);
    EXPECT_EQ(raw[14], 0x00);
    EXPECT_EQ(raw[15], 0x01);
    EXPECT_EQ(std::memcmp(&raw[16], user.data(), 2048), 0);
    for (std::size_t i = 16 + 2048; i < 2352; ++i)
        ASSERT_EQ(raw[i], 0) << i;

    // 63:59:74 in BCD.
    sector.set(2, 63 * 4500 + 59 * 75 + 74, 2048);
    ASSERT_TRUE(sector.toRaw(raw.data()));
    EXPECT_EQ(raw[12], 0x63);
    EXPECT_EQ(raw[13], 0x59);
    EXPECT_EQ(raw[14], 0x74);
}

// Every size and mode a reader produces comes out as a raw sector whose own
// header and subheader place the user data where it was.
TEST(SectorBufferTest, RawFormKeepsUserDataInPlaceForEveryReaderLayout)
{
    struct Case {
        s32 size;
        u32 mode;
        u32 userBytes;
        u32 expectedMode;
        u32 rawUserAt;
    };
    const Case cases[] = {
        {2048, 2, 2048, 2, 16},  // mode 1
        {2048, 4, 2048, 4, 24},  // form 1: the data follows the subheader
        {2324, 5, 2324, 5, 24},  // form 2
        {2336, 3, 2336, 4, 16},  // formless: everything behind the header
        {2336, 4, 2336, 4, 16},
        {2336, 5, 2336, 4, 16},
    };
    for (const Case& c : cases) {
        const auto user = pattern(static_cast<std::size_t>(c.size), static_cast<u8>(c.mode));
        SectorBuffer sector;
        std::memcpy(sector.storage(), user.data(), static_cast<std::size_t>(c.size));
        sector.set(c.mode, 1000, c.size);
        std::array<u8, 2352> raw{};
        ASSERT_TRUE(sector.toRaw(raw.data())) << c.size << "/" << c.mode;
        EXPECT_EQ(raw[15], c.mode == 2 ? 1 : 2);
        EXPECT_EQ(std::memcmp(&raw[c.rawUserAt], user.data(), c.userBytes), 0) << c.size << "/" << c.mode;
        if (c.size != 2336) {
            u8 withSync[2352];
            std::memcpy(withSync, raw.data(), 2352);
            std::memcpy(withSync, SectorBuffer::syncPattern(), 12);
            EXPECT_EQ(SectorBuffer::detectMode(withSync), c.expectedMode);
        }
    }
}

TEST(SectorBufferTest, RawSectorsAreCopiedAndOthersLeftAlone)
{
    const auto bytes = pattern(2448, 1);
    SectorBuffer sector;
    std::memcpy(sector.storage(), bytes.data(), 2448);
    std::array<u8, 2352> raw{};
    sector.set(0, 150, 2448);
    ASSERT_TRUE(sector.toRaw(raw.data()));
    EXPECT_EQ(std::memcmp(raw.data(), bytes.data(), 2352), 0);

    sector.set(0, 150, 2352);
    raw.fill(0);
    ASSERT_TRUE(sector.toRaw(raw.data()));
    EXPECT_EQ(std::memcmp(raw.data(), bytes.data(), 2352), 0);

    for (u32 mode : {0u, 1u, 3u, 5u}) {
        raw.fill(0xA5);
        sector.set(mode, 150, 2048);
        EXPECT_FALSE(sector.toRaw(raw.data())) << mode;
        for (u8 b : raw)
            ASSERT_EQ(b, 0xA5);
    }
}

}  // namespace
