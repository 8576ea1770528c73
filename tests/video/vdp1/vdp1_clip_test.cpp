// Quads cut by the system clip: shapes whose slants have a step that rounds
// to 0 on one axis, and a seeded sweep of small random quads. Pixels inside
// the clip but past the frame-buffer half.
#include <algorithm>
#include <random>

#include "support/log_capture.h"
#include "vdp1_fixture.h"

namespace {

class Vdp1ClipTest : public Vdp1Fixture {
protected:
    static constexpr int kWindow = 24;
    // The written pixels of the window up to right and bottom, as "x,y ".
    std::string written(int right = kWindow - 1, int bottom = kWindow - 1)
    {
        std::string text;
        for (int y = 0; y <= std::min(bottom, kWindow - 1); ++y) {
            for (int x = 0; x <= std::min(right, kWindow - 1); ++x) {
                if (pixel(x, y) != 0)
                    text += std::to_string(x) + "," + std::to_string(y) + " ";
            }
        }
        return text;
    }
};

TEST_F(Vdp1ClipTest, PolygonWithSlantsThatDoNotMoveOnOneAxisIsDrawn)
{
    // Its slants cut by the clip have an x step that rounds to 0. The list
    // goes on past it to the next polygon.
    draw({Table{.ctrl = 4, .colr = 0x801F, .xy = {0, -5, -2, 4, -1, -2, -3, -1}},
          Table{.ctrl = 4, .colr = 0x83E0, .xy = {10, 10, 11, 10, 11, 11, 10, 11}}});
    EXPECT_FALSE(vdp.drawing());
    EXPECT_EQ(written(), "10,10 11,10 10,11 11,11 ");
}

// Every written pixel lies in the corners' bounding box, or one pixel past
// it where a slant's first step closes the gap to the step before.
TEST_F(Vdp1ClipTest, RandomSmallQuadsStayInTheirBox)
{
    std::mt19937 random(29);
    std::uniform_int_distribution<int> corner(-8, 8);
    // Polygons, and distorted sprites of a 16 x 4 texture of colour 1
    // (16-colour bank 0).
    for (u32 i = 0; i < 16; ++i)
        word(0x4000 + 2 * i, 0x1111);
    for (int seed = 0; seed < 6000; ++seed) {
        const bool sprite = seed & 1;
        Table t = sprite ? Table{.ctrl = 2, .srca = 0x4000 / 8, .size = 2 << 8 | 4} : Table{.ctrl = 4, .colr = 0x801F};
        for (s16& v : t.xy)
            v = static_cast<s16>(corner(random));
        draw({t});
        ASSERT_FALSE(vdp.drawing()) << seed;
        const int right = std::max({t.xy[0], t.xy[2], t.xy[4], t.xy[6]}) + 1;
        const int bottom = std::max({t.xy[1], t.xy[3], t.xy[5], t.xy[7]}) + 1;
        ASSERT_EQ(written(right, bottom), written()) << seed << (sprite ? " sprite" : " polygon");
        for (int i = 0; i < kWindow * kWindow; ++i)
            setPixel(i % kWindow, i / kWindow, 0);
    }
}

// 512 x 512 kept from mode 3 into 16-bit mode 6: rows from 256 on lie past
// the buffer half. They are not written (nor wrapped onto rows 0-255).
TEST_F(Vdp1ClipTest, PixelsPastTheBufferHalfAreNotWritten)
{
    LogCapture log;
    vdp.writeTVMR(3);
    vdp.writeTVMR(6);
    draw({Table{.ctrl = 9, .xy = {0, 0, 0, 0, 511, 511}},                  // SCLIP 512 x 512
          Table{.ctrl = 6, .colr = 0x8001, .xy = {10, 200, 20, 200}},      // line inside the half
          Table{.ctrl = 6, .colr = 0x8002, .xy = {10, 300, 20, 300}},      // line past it
          Table{.ctrl = 4, .colr = 0x8003, .xy = {40, 250, 50, 250, 50, 260, 40, 260}},
          Table{.ctrl = 4, .pmod = 0xC3, .colr = 0x8004, .xy = {60, 250, 70, 250, 70, 260, 60, 260}},
          Table{.ctrl = 6, .colr = 0x8005, .xy = {100, 250, 110, 260}}});
    for (const char* first : {"10, y: 300", "45, y: 256", "65, y: 258", "106, y: 256"})
        EXPECT_TRUE(log.contains("VDP1: Out of range [x: " + std::string(first) + "]\n")) << first << log.text();
    for (int x = 10; x <= 20; ++x)
        EXPECT_EQ(pixel(x, 200), 0x8001) << x;
    for (int x = 40; x <= 50; ++x)
        EXPECT_EQ(pixel(x, 255), 0x8003) << x;
    EXPECT_EQ(pixel(65, 255), 0x8004);
    EXPECT_EQ(pixel(105, 255), 0x8005);
    for (int i = 0; i < 120 * 50; ++i)  // where a wrapped row would land
        ASSERT_EQ(pixel(i % 120, i / 120), 0) << i % 120 << "," << i / 120;
}

}  // namespace

// A distorted sprite of transparent texels steps every pixel all the same,
// so it uses up clocks: at no cost, a list that loops on it would run
// forever within one budget.
TEST_F(Vdp1ClipTest, TransparentTexelsOfASlantedSpriteCostClocks)
{
    // A 16 x 16 texture of code 0 at 0x4000, transparent (SPD clear), over
    // 101 diagonal slants of 101 pixels.
    const Table sprite{.ctrl = 2, .pmod = 0, .srca = 0x4000 / 8, .size = 2 << 8 | 16,
                       .xy = {0, 0, 100, 100, 100, 200, 0, 100}};
    draw({sprite}, 5000);
    EXPECT_TRUE(vdp.drawing()) << "the sprite ended within 5000 clocks";
    draw({sprite}, 1 << 20);
    EXPECT_FALSE(vdp.drawing());
    EXPECT_EQ(written(), "");
}
