// The fast paths (AVX2 loops, the compositor for common lines) against the
// plain code they stand in for: over random memories and registers the
// pictures must match dot for dot.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "core/base/types.h"
#include "video/vdp1/vdp1.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_game_scenes.h"
#include "video/vdp2/vdp2_simd.h"

namespace {

TEST(Vdp2FastPaths, DrawWhatThePlainCodeDraws)
{
    const bool hostAvx2 = hostHasAvx2();
    Vdp2Scene s;
    std::mt19937 random(77);
    std::vector<u8> sprite(VDP1::kFrameBufferSize);
    FrameBufferInfo frame;
    frame.pixels = sprite.data();
    s.sys->vdp2().setSpriteFrame(&frame);

    auto draw = [&](bool avx2, bool packed) {
        s.setFastPaths({avx2 && hostAvx2, packed, true, packed, packed});
        std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
        s.runField();
        return s.canvas;
    };
    for (int round = 0; round < 24; ++round) {
        for (u32 i = 0; i < VDP2::kVramSize; i += 4)
            storeBe32(s.vram() + i, random() ^ random() << 8);
        for (u32 i = 0; i < VDP2::kColorRamSize; ++i)
            s.cram()[i] = static_cast<u8>(random());
        // Sprite dots: some transparent, some shadows (normal, transparent).
        for (u32 i = 0; i < sprite.size(); i += 2) {
            const u32 r = random();
            u16 dot = static_cast<u16>(r >> 4);
            if ((r & 3) == 0)
                dot = 0;
            else if ((r & 12) == 0)
                dot = static_cast<u16>((r >> 8) | 0x7FE);
            else if ((r & 48) == 0)
                dot = 0x8000;
            storeBe16(sprite.data() + i, dot);
        }
        frame.rotation = (round & 3) == 3;
        frame.eightBit = (round & 7) == 5;
        frame.width = 512;
        frame.height = 256;
        for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
            s.reg(offset, static_cast<u16>(random()));
        // Most rounds are lines the fast compositor takes: no gradation or
        // extended calculation, some line-colour insertion.
        // Mostly without the colour-calculation window, which otherwise
        // hides most of the calculation.
        if (round % 4 != 0) {
            s.reg(VDP2::CCCTL, static_cast<u16>(random() & 0x03FF));
            s.reg(VDP2::LNCLEN, static_cast<u16>(random() & 0x003F));
            s.reg(VDP2::WCTLD, static_cast<u16>(random() & 0x00FF));
        }
        // Every sprite type, on dots of either size; the sprite-window bit
        // (which takes the MSB shadows away) in a few rounds.
        s.reg(VDP2::SPCTL, static_cast<u16>(random() & (round % 3 ? 0x3F2F : 0x3F3F)));
        // Every fourth round shadows under colour calculation: MSB sprite
        // types in front, every layer taking shadows and calculation.
        if (round % 4 == 1) {
            s.reg(VDP2::SPCTL, static_cast<u16>(2 + random() % 6));
            s.reg(VDP2::SDCTL, static_cast<u16>(0x003F | (random() & 0x0100)));
            s.reg(VDP2::CCCTL, static_cast<u16>(0x007F | (random() & 0x0300)));
            s.reg(VDP2::SFCCMD, 0);
            s.reg(VDP2::WCTLC, 0);
            for (u32 r : {VDP2::PRISA, VDP2::PRISB, VDP2::PRISC, VDP2::PRISD})
                s.reg(r, static_cast<u16>(0x0707 & random()));
        }
        // Every fourth round stacked cell layers of one-word names, each
        // partly hidden by those in front: the runs that skip hidden dots;
        // NBG0 and NBG1 are bitmaps in some.
        if (round % 4 == 2) {
            s.reg(VDP2::BGON, 0x000F);
            s.reg(VDP2::CHCTLA, static_cast<u16>(random() & 0x3232));
            s.reg(VDP2::CHCTLB, 0);
            s.reg(VDP2::SFPRMD, 0);
            s.reg(VDP2::SFCCMD, 0);
            s.reg(VDP2::PRINA, 0x0607);
            s.reg(VDP2::PRINB, 0x0405);
            for (u32 n = 0; n < 4; ++n)
                s.reg(VDP2::PNCN0 + 2 * n, static_cast<u16>(0x8000 | (random() & 0x43FF)));
            for (u32 n = 0; n < 2; ++n) {
                for (u32 zoom : {VDP2::ZMXIN0, VDP2::ZMXDN0, VDP2::ZMYIN0, VDP2::ZMYDN0})
                    s.reg(zoom + 0x10 * n, zoom == VDP2::ZMXIN0 || zoom == VDP2::ZMYIN0 ? 1 : 0);
            }
            s.reg(VDP2::ZMCTL, 0);
            s.reg(VDP2::SCRCTL, 0);
            s.reg(VDP2::MZCTL, 0);
            for (u32 r : {VDP2::WCTLA, VDP2::WCTLB, VDP2::EXTEN})
                s.reg(r, 0);
            std::fill(sprite.begin(), sprite.end(), u8{0});
        }
        s.reg(VDP2::TVMD, static_cast<u16>(0x8000 | (random() & 0x0001)));
        const std::vector<u32> fast = draw(true, true);
        EXPECT_EQ(draw(true, true), fast) << "round " << round << ": a field drawn twice differs";
        EXPECT_EQ(draw(false, true), fast) << "round " << round << ": AVX2 loops";
        EXPECT_EQ(draw(false, false), fast) << "round " << round << ": fast compositor";
    }
}

// Fields like real programs': line-colour insertion under shadows, colour
// offset, mixed-colour sprites, a layer at priority 0 and rotation lines
// that switch sets between lines, each fast path against its plain code.
// The 2D field also with the ratio of the lower dot, additive, with two-word names
// (their special bits in use) of 16 x 16 characters, some of them and of
// the names in banks RBG0 holds, and in the special high-resolution mode with NBG0 at priority 0
// and NBG1 only inside a window (both read there all the same); the 3D one
// with the sprite's
// colour calculation by the colour's MSB, with set B inside window 0
// while set A's coefficients give the inserted line colours, rolled so
// that lines switch sets part-way (also with coefficient line colours
// under the ratio of the lower dot), and over tile maps; the bitmap
// also of 16 colours calculated by the MSB, and of 32-bit colours with
// transparent dots shown.
TEST(Vdp2FastPaths, GameFieldsDrawWhatThePlainCodeDraws)
{
    const bool hostAvx2 = hostHasAvx2();
    const std::pair<const char*, std::function<void(Vdp2Scene&)>> fields[] = {
        {"2D", gameField2D},
        {"3D", gameField3D},
        {"2D, ratio of the lower dot", [](Vdp2Scene& s) { gameField2D(s), s.reg(VDP2::CCCTL, 0x0263); }},
        {"2D, additive calculation, the shadow select bit set",
         [](Vdp2Scene& s) { gameField2D(s), s.reg(VDP2::CCCTL, 0x0163), s.reg(VDP2::SDCTL, 0x0107); }},
        {"2D, sprites in boxes, no colour offset", gameField2DBoxed},
        {"2D, gradation of the sprite, whose hidden dots it reads",
         [](Vdp2Scene& s) { gameField2D(s), s.reg(VDP2::CCCTL, 0x8063); }},
        {"2D, two-word names of 16 x 16 characters, VRAM-B held by RBG0",
         [](Vdp2Scene& s) {
             gameField2D(s);
             for (u32 n = 0; n < 4; ++n)
                 s.reg(VDP2::PNCN0 + 2 * n, 0x0000);
             // NBG2 in front; NBG1's names in B0.
             const std::pair<u32, u16> regs[] = {{VDP2::CHCTLA, 0x0111}, {VDP2::CHCTLB, 0x0011},
                 {VDP2::PRINB, 0x0006}, {VDP2::SFPRMD, 0x0001}, {VDP2::SFCCMD, 0x0010}, {VDP2::CCCTL, 0x0067},
                 {VDP2::BGON, 0x001F}, {VDP2::RAMCTL, 0x02F0}, {VDP2::MPOFN, 0x0010}};
             for (const auto& [offset, value] : regs)
                 s.reg(offset, value);
         }},
        {"3D, calculation by the MSB", [](Vdp2Scene& s) { gameField3D(s), s.reg(VDP2::SPCTL, 0x3621); }},
        {"3D, sets by the window, line colours from coefficients",
         [](Vdp2Scene& s) {
             gameField3D(s), s.reg(VDP2::RPMD, 3), s.reg(VDP2::WCTLD, 0x0003), s.reg(VDP2::KTCTL, 0x0011);
             s.reg(VDP2::LNCLEN, 0x0010), s.reg(VDP2::CCCTL, 0x0050);
         }},
        {"3D, RBG0 only inside a window whose edges cut groups of eight",
         [](Vdp2Scene& s) {
             gameField3D(s), s.reg(VDP2::WPSX0, 83), s.reg(VDP2::WPEX0, 501), s.reg(VDP2::WPSY0, 30);
             s.reg(VDP2::WPEY0, 180), s.reg(VDP2::WCTLC, 0x0003);
         }},
        {"3D rolled, sky and floor split along lines", gameField3DRolled},
        {"3D rolled, line colours from the coefficients, ratio of the lower dot",
         [](Vdp2Scene& s) {
             gameField3DRolled(s), s.reg(VDP2::KTCTL, 0x0011), s.reg(VDP2::LNCLEN, 0x0010);
             s.reg(VDP2::CCCTL, 0x0250), s.reg(VDP2::CCRLB, 0x0013);
         }},
        {"3D over tile maps of 16 colours", [](Vdp2Scene& s) { gameField3DTiled(s, 16); }},
        {"bitmap", gameFieldBitmap},
        {"bitmap of 16 colours, calculation by the MSB",
         [](Vdp2Scene& s) { gameFieldBitmap(s), s.reg(VDP2::CHCTLA, 0x0200), s.reg(VDP2::SFCCMD, 0x000C); }},
        {"NBG0 bitmap of 32-bit colours, transparent dots shown",
         [](Vdp2Scene& s) { gameFieldBitmap(s), s.reg(VDP2::CHCTLA, 0x0042), s.reg(VDP2::BGON, 0x0103); }},
        {"2D, high resolution",
         [](Vdp2Scene& s) {
             gameField2D(s), s.reg(VDP2::TVMD, 0x8006), s.reg(VDP2::PRINA, 0x0500), s.reg(VDP2::WCTLA, 0x0300);
         }},
    };
    for (const auto& [name, setUp] : fields) {
        Vdp2Scene s;
        setUp(s);
        auto draw = [&](vdp2::FastPaths paths) {
            s.setFastPaths(paths);
            const ShortcutUses before = s.sys->vdp2().shortcutUses();
            std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
            s.runField();
            for (u32 i = kAvx2SpriteSplit; i <= kCoveredGroups; ++i)  // a path switched off is never taken
                EXPECT_TRUE(Shortcuts{.vdp2 = paths}.on(static_cast<ShortcutField>(i)) ||
                            s.sys->vdp2().shortcutUses().count[i] == before.count[i])
                    << ShortcutUses::name(static_cast<ShortcutField>(i));
            return s.canvas;
        };
        const std::vector<u32> fast = draw({hostAvx2, true, true, true, true});
        EXPECT_GT(std::set<u32>(fast.begin(), fast.end()).size(), 1000u) << name;
        EXPECT_EQ(draw({false, true, true, true, true}), fast) << name << ": AVX2 loops";
        EXPECT_EQ(draw({hostAvx2, false, true, true, true}), fast) << name << ": fast compositor";
        EXPECT_EQ(draw({hostAvx2, true, false, true, true}), fast) << name << ": rotation lines";
        EXPECT_EQ(draw({hostAvx2, true, true, false, true}), fast) << name << ": hidden layers";
        EXPECT_EQ(draw({hostAvx2, true, true, true, false}), fast) << name << ": bitmap rows";
        EXPECT_EQ(draw({hostAvx2, true, true, true, true, false}), fast) << name << ": cell rows";
        EXPECT_EQ(draw({hostAvx2, true, true, true, true, true, false}), fast) << name << ": covered groups";
    }
}

// The one-pass compositor and the name runs over every mix of the line
// settings they read ahead of the dots: each kind of colour calculation,
// shadows halved by the select bit or not, colour offset and line-colour
// insertion each on and off, over the 2D field with its sprites everywhere
// or in boxes, and NBG0 and NBG1 scrolled so that their runs end on every
// dot of a group of eight.
TEST(Vdp2FastPaths, LineSettingsDrawWhatThePlainCodeDraws)
{
    const bool hostAvx2 = hostHasAvx2();
    std::set<std::vector<u32>> pictures;
    u32 variant = 0;
    for (const bool boxed : {false, true}) {
        Vdp2Scene s;
        boxed ? gameField2DBoxed(s) : gameField2D(s);
        auto draw = [&](vdp2::FastPaths paths) {
            s.setFastPaths(paths);
            std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
            s.runField();
            return s.canvas;
        };
        // None, additive, the top's ratio, the lower dot's.
        for (const u16 calc : {0x0000, 0x0163, 0x0063, 0x0263}) {
            for (u32 mix = 0; mix < 8; ++mix, ++variant) {
                s.reg(VDP2::CCCTL, calc);
                s.reg(VDP2::SDCTL, (mix & 1) ? 0x0107 : 0x0007);
                s.reg(VDP2::CLOFEN, (mix & 2) ? 0x007F : 0);
                s.reg(VDP2::LNCLEN, (mix & 4) ? 0x0003 : 0);
                s.reg(VDP2::SCXIN0, static_cast<u16>(21 + variant % 8));
                s.reg(VDP2::SCXIN1, static_cast<u16>(3 + variant * 3 % 8));
                const std::vector<u32> fast = draw({hostAvx2, true, true, true, true});
                pictures.insert(fast);
                const std::string what = "variant " + std::to_string(variant);
                EXPECT_EQ(draw({false, true, true, true, true}), fast) << what << ": AVX2 loops";
                EXPECT_EQ(draw({hostAvx2, false, true, true, true}), fast) << what << ": fast compositor";
                EXPECT_EQ(draw({hostAvx2, true, true, true, true, false}), fast) << what << ": cell rows";
            }
        }
    }
    // Each setting shows in the pictures.
    EXPECT_EQ(pictures.size(), 64u);
}

}  // namespace
