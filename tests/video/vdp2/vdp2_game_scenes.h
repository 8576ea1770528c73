#pragma once

#include <algorithm>
#include <cmath>

#include "video/vdp2/vdp2_scene.h"

// Fields set up like real programs', shared by the benchmarks and the tests
// that hold the fast paths to the plain code.

// A 320 x 224 field like a racing game's: RBG0 as a perspective floor (a
// turned, tilted view, kx and ky from a per-line coefficient table, or with
// dkax a new coefficient every few dots) under two cell-mode scroll layers
// and the sprite layer.
inline void rotationFloor(Vdp2Scene& scene, double dkax)
{
    scene.randomMemories(4242);
    u8* vram = scene.vram();

    auto fixed = [](double value, int fraction, int width, int shift) {
        const s64 raw = std::llround(value * static_cast<double>(1 << fraction));
        return static_cast<u32>((raw & ((s64{1} << width) - 1)) << shift);
    };
    constexpr u32 kTable = 0x7FF00;
    const double c = std::cos(0.6), s = std::sin(0.6);
    std::fill(vram + kTable, vram + kTable + 0x80, 0);
    storeBe32(vram + kTable + 0x10, fixed(1.0, 10, 13, 6));  // DYst
    storeBe32(vram + kTable + 0x14, fixed(1.0, 10, 13, 6));  // DX
    const double matrix[6] = {c, -s, 0.4, s, c, -0.4};
    for (int i = 0; i < 6; ++i)
        storeBe32(vram + kTable + 0x1C + 4 * i, fixed(matrix[i], 10, 14, 6));
    storeBe16(vram + kTable + 0x34, 160);
    storeBe16(vram + kTable + 0x36, 112);
    storeBe16(vram + kTable + 0x38, 200);
    storeBe16(vram + kTable + 0x3C, 160);
    storeBe16(vram + kTable + 0x3E, 112);
    storeBe32(vram + kTable + 0x4C, fixed(1.0, 16, 24, 0));
    storeBe32(vram + kTable + 0x50, fixed(1.0, 16, 24, 0));
    storeBe32(vram + kTable + 0x58, fixed(1.0, 10, 20, 6));  // DKAst: a coefficient a line
    storeBe32(vram + kTable + 0x5C, fixed(dkax, 10, 20, 6));
    // Two-word coefficients at 0x40000: sky above line 24, then the floor;
    // more of them when the index moves along the line.
    for (u32 i = 0; i < (dkax != 0 ? 512u : 256u); ++i) {
        const u32 k = fixed(0.25 + 48.0 / (i + 8.0), 16, 24, 0);
        storeBe32(vram + 0x40000 + 4 * i, i < 24 ? 0x80000000u : k);
    }

    scene.reg(VDP2::TVMD, 0x8000);
    scene.reg(VDP2::BGON, 0x0013);  // NBG0, NBG1, RBG0
    scene.reg(VDP2::CHCTLA, 0x0010);  // NBG0 256 colours, NBG1 16 colours
    scene.reg(VDP2::CHCTLB, 0x1000);  // RBG0 256 colours
    scene.reg(VDP2::PNCN0, 0x8000);
    scene.reg(VDP2::PNCN1, 0x8000);
    scene.reg(VDP2::PNCR, 0x8000);
    scene.reg(VDP2::MPABN0, 0x0909);
    scene.reg(VDP2::MPABN0 + 2, 0x0909);
    scene.reg(VDP2::MPABN0 + 4, 0x0D0D);
    scene.reg(VDP2::MPABN0 + 6, 0x0D0D);
    for (u32 i = 0; i < 8; ++i)
        scene.reg(VDP2::MPABRA + 2 * i, static_cast<u16>(0x0101 * (16 + 2 * i)));
    scene.reg(VDP2::PLSZ, 0x0000);
    scene.reg(VDP2::RPTAU, kTable >> 17);
    scene.reg(VDP2::RPTAL, static_cast<u16>((kTable >> 1) & 0xFFBE));
    scene.reg(VDP2::KTCTL, 0x0001);  // set A: two-word coefficients, kx and ky
    scene.reg(VDP2::KTAOF, 0x0001);
    for (u32 zoom : {VDP2::ZMXIN0, VDP2::ZMYIN0, VDP2::ZMXIN1, VDP2::ZMYIN1})
        scene.reg(zoom, 1);
    scene.reg(VDP2::SCXIN0, 13);
    scene.reg(VDP2::SCYIN1, 7);
    scene.reg(VDP2::PRINA, 0x0305);
    scene.reg(VDP2::PRIR, 0x0002);
    scene.reg(VDP2::PRISA, 0x0606);
    scene.reg(VDP2::SPCTL, 0x0001);
}

// Sprite dots as a game's VDP1 leaves them in mixed colour mode: mostly
// transparent, the rest split between palette dots (priority and ratio
// register bits of type 1), direct colours and a few normal-shadow dots.
inline void gameSprites(Vdp2Scene& scene, u32 seed, u32 transparentOf16)
{
    u8* sprite = scene.spriteBuffer();
    for (u32 i = 0; i < 0x40000; i += 2) {
        seed = seed * 1103515245 + 12345;
        const u32 r = seed >> 8;
        const u32 kind = r & 15;
        u16 dot = 0;
        if (kind < transparentOf16)
            dot = 0;
        else if (kind < 13)
            dot = static_cast<u16>(0x8000 | ((r >> 4) & 0x7FFF));
        else if (kind < 15)
            dot = static_cast<u16>((r >> 4) & 0x7FF);
        else
            dot = static_cast<u16>(((r >> 4) & 0x7800) | 0x07FE);
        storeBe16(sprite + i, dot);
    }
}

// Names of one-word NBG maps that point at a blank character (0) three
// times in four, as a cloud or HUD layer's do.
inline void sparseNames(Vdp2Scene& scene, u32 planeAddress, u32 bytes)
{
    u8* vram = scene.vram();
    for (u32 i = 0; i < 32; ++i)
        vram[i] = 0;
    for (u32 i = 0; i < bytes; i += 2) {
        if ((i >> 1) % 4 != 0)
            storeBe16(vram + planeAddress + i, 0);
    }
}

// A 320 x 224 field like a 2D game's: four cell-mode NBG layers (NBG1 a
// mostly empty, translucent cloud layer; NBG3 enabled at priority 0), the
// sprite layer in mixed colour mode with priorities, ratios and shadows,
// NBG0 taking the line colour screen, a per-line back screen, a faded
// colour offset on every layer, and window 0 cutting a HUD box out of NBG2.
inline void gameField2D(Vdp2Scene& scene)
{
    scene.randomMemories(777);
    gameSprites(scene, 99, 9);
    for (u32 n = 0; n < 4; ++n) {
        scene.reg(VDP2::PNCN0 + 2 * n, 0x8000);
        scene.reg(VDP2::MPABN0 + 4 * n, static_cast<u16>(0x0101 * (n * 4 + 8)));
        scene.reg(VDP2::MPABN0 + 4 * n + 2, static_cast<u16>(0x0101 * (n * 4 + 9)));
    }
    sparseNames(scene, 12 * 0x2000, 4 * 0x2000);
    // Per-line back screen and line colour tables.
    scene.reg(VDP2::BKTAU, 0x8003);
    scene.reg(VDP2::BKTAL, 0x8000);
    scene.reg(VDP2::LCTAU, 0x8003);
    scene.reg(VDP2::LCTAL, 0x9000);

    scene.reg(VDP2::TVMD, 0x8000);
    scene.reg(VDP2::BGON, 0x000F);
    scene.reg(VDP2::CHCTLA, 0x0010);  // NBG0 256 colours, NBG1 16 colours
    scene.reg(VDP2::CHCTLB, 0x0000);
    for (u32 zoom : {VDP2::ZMXIN0, VDP2::ZMYIN0, VDP2::ZMXIN1, VDP2::ZMYIN1})
        scene.reg(zoom, 1);
    scene.reg(VDP2::SCXIN0, 21);
    scene.reg(VDP2::SCYIN0, 5);
    scene.reg(VDP2::SCXIN1, 3);
    scene.reg(VDP2::SCXN2, 11);
    scene.reg(VDP2::PRINA, 0x0504);  // NBG0 4, NBG1 5
    scene.reg(VDP2::PRINB, 0x0002);  // NBG2 2, NBG3 0
    scene.reg(VDP2::PRISA, 0x0306);
    scene.reg(VDP2::PRISB, 0x0504);
    scene.reg(VDP2::PRISC, 0x0603);
    scene.reg(VDP2::PRISD, 0x0705);
    scene.reg(VDP2::SPCTL, 0x2221);  // type 1, mixed colour, cc at priority 2 and up
    scene.reg(VDP2::SDCTL, 0x0007);
    scene.reg(VDP2::CCCTL, 0x0063);  // NBG0, NBG1, line colour, sprite
    scene.reg(VDP2::CCRNA, 0x0A04);
    scene.reg(VDP2::CCRSA, 0x100C);
    scene.reg(VDP2::CCRSB, 0x0804);
    scene.reg(VDP2::CCRLB, 0x0010);
    scene.reg(VDP2::LNCLEN, 0x0001);
    scene.reg(VDP2::CLOFEN, 0x007F);
    scene.reg(VDP2::COAR, 0x01E0);
    scene.reg(VDP2::COAG, 0x01E0);
    scene.reg(VDP2::COAB, 0x01F0);
    scene.reg(VDP2::WPSX0, 2 * 8);
    scene.reg(VDP2::WPEX0, 2 * 120);
    scene.reg(VDP2::WPSY0, 8);
    scene.reg(VDP2::WPEY0, 40);
    scene.reg(VDP2::WCTLB, 0x0002);  // NBG2 hidden inside window 0
}

// Sprites as VDP1 leaves them over a frame it erased: a few boxes of dots
// (the player, enemies, a score) and transparent dots everywhere else.
inline void boxedSprites(Vdp2Scene& scene)
{
    constexpr u32 kBoxes[][4] = {{8, 8, 96, 16}, {40, 150, 32, 48}, {200, 60, 48, 32}, {261, 121, 24, 24}};
    u8* sprite = scene.spriteBuffer();
    for (u32 y = 0; y < 256; ++y) {
        for (u32 x = 0; x < 512; ++x) {
            bool inside = false;
            for (const auto& [left, top, width, height] : kBoxes)
                inside |= x >= left && x < left + width && y >= top && y < top + height;
            if (!inside)
                storeBe16(sprite + 2 * (y * 512 + x), 0);
        }
    }
}

// The 2D field as most of a game's fields are: its sprites in a few boxes
// and no colour offset.
inline void gameField2DBoxed(Vdp2Scene& scene)
{
    gameField2D(scene);
    boxedSprites(scene);
    scene.reg(VDP2::CLOFEN, 0);
}

// A 352 x 240 field like a 3D game's: RBG0 switching per line between a
// floor (set A, kx and ky from a per-line coefficient table) and the sky
// (set B where set A's coefficient is transparent), a mostly empty HUD on
// NBG0 inside window 0, sprite polygons in mixed colour mode with a
// half-transparent priority, and a colour offset on every layer.
inline void gameField3D(Vdp2Scene& scene)
{
    rotationFloor(scene, 0);
    gameSprites(scene, 31, 8);
    std::copy_n(scene.vram() + 0x7FF00, 0x80, scene.vram() + 0x7FF80);
    // The sky down to line 80.
    for (u32 i = 0; i < 80; ++i)
        storeBe32(scene.vram() + 0x40000 + 4 * i, 0x80000000u);
    // Set B: no coefficients, a plain turn of its own map.
    for (u32 i = 0; i < 8; ++i)
        scene.reg(VDP2::MPABRB + 2 * i, static_cast<u16>(0x0101 * (17 + 2 * i)));
    sparseNames(scene, 0x12000, 0x4000);
    scene.reg(VDP2::TVMD, 0x8011);
    scene.reg(VDP2::BGON, 0x0011);  // NBG0 HUD, RBG0
    scene.reg(VDP2::RPMD, 2);
    scene.reg(VDP2::MPABN0, 0x0909);
    scene.reg(VDP2::MPABN0 + 2, 0x0909);
    scene.reg(VDP2::CHCTLA, 0x0000);  // NBG0 16 colours
    scene.reg(VDP2::PRINA, 0x0007);
    scene.reg(VDP2::PRIR, 0x0003);
    scene.reg(VDP2::PRISA, 0x0504);
    scene.reg(VDP2::PRISB, 0x0605);
    scene.reg(VDP2::PRISC, 0x0405);
    scene.reg(VDP2::PRISD, 0x0606);
    scene.reg(VDP2::SPCTL, 0x1621);  // type 1, mixed colour, cc at priority 6 only
    scene.reg(VDP2::CCCTL, 0x0040);
    scene.reg(VDP2::CCRSA, 0x0F0F);
    scene.reg(VDP2::CCRSB, 0x0F0F);
    scene.reg(VDP2::BKTAU, 0x8003);
    scene.reg(VDP2::BKTAL, 0x8000);
    scene.reg(VDP2::CLOFEN, 0x007F);
    scene.reg(VDP2::COAR, 0x0010);
    scene.reg(VDP2::COAG, 0x0008);
    scene.reg(VDP2::COAB, 0x01F8);
    scene.reg(VDP2::WPSX0, 2 * 16);
    scene.reg(VDP2::WPEX0, 2 * 336);
    scene.reg(VDP2::WPSY0, 200);
    scene.reg(VDP2::WPEY0, 232);
    scene.reg(VDP2::WCTLA, 0x0003);  // the HUD shows only inside window 0
}

// The 3D field with RBG0's maps as a game's tile maps are: the names of a
// few characters in one palette rather than of any, 16 or 256 colours.
inline void gameField3DTiled(Vdp2Scene& scene, u32 colors)
{
    gameField3D(scene);
    // Sixteen characters from 0x8000; a 256-colour cell takes two units of 32 bytes.
    const u32 unit = colors == 16 ? 1 : 2;
    for (u32 i = 0; i < 0x10000; ++i) {
        const u32 col = i & 63, row = (i >> 6) & 63;
        const u32 tile = (col * 7 + row * 3 + (col >> 2) * (row >> 2)) % 16;
        storeBe16(scene.vram() + 0x20000 + 2 * i, static_cast<u16>(0x1000 | (0x400 + tile * unit)));
    }
    scene.reg(VDP2::CHCTLB, colors == 16 ? 0x0000 : 0x1000);
}

// The 3D field rolled: the coefficient entry moves on along each line as
// well, so the horizon runs across the screen and lines switch from sky to
// floor part-way.
inline void gameField3DRolled(Vdp2Scene& scene)
{
    gameField3D(scene);
    u8* vram = scene.vram();
    storeBe32(vram + 0x7FF00 + 0x5C, 0x40u << 6);  // DKAx: a quarter of an entry a dot
    for (u32 i = 0; i < 512; ++i) {
        const u32 k = static_cast<u32>(std::llround((0.25 + 48.0 / (i + 8.0)) * 65536.0)) & 0xFFFFFF;
        storeBe32(vram + 0x40000 + 4 * i, i < 80 ? 0x80000000u : k);
    }
}

// A 320 x 224 field like a small engine's: a 512 x 256 bitmap of 32,768
// colours on NBG1 as the background, scrolled, under a mostly empty
// 16-colour text layer on NBG0 and mixed-colour sprites whose upper
// priority is half-transparent.
inline void gameFieldBitmap(Vdp2Scene& scene)
{
    scene.randomMemories(555);
    gameSprites(scene, 77, 10);
    sparseNames(scene, 0x60000, 0x2000);
    scene.reg(VDP2::TVMD, 0x8000);
    scene.reg(VDP2::BGON, 0x0003);
    scene.reg(VDP2::CHCTLA, 0x3200);  // NBG0 16-colour cells, NBG1 a 512 x 256 bitmap of 32,768 colours
    scene.reg(VDP2::MPOFN, 0x0010);   // the bitmap at 0x20000
    scene.reg(VDP2::PNCN0, 0x8000);
    scene.reg(VDP2::MPABN0, 0x3030);
    scene.reg(VDP2::MPABN0 + 2, 0x3030);
    for (u32 zoom : {VDP2::ZMXIN0, VDP2::ZMYIN0, VDP2::ZMXIN1, VDP2::ZMYIN1})
        scene.reg(zoom, 1);
    scene.reg(VDP2::SCXIN1, 400);  // the row wraps on the screen
    scene.reg(VDP2::SCYIN1, 9);
    scene.reg(VDP2::PRINA, 0x0107);
    scene.reg(VDP2::PRISA, 0x0303);
    scene.reg(VDP2::PRISB, 0x0505);
    scene.reg(VDP2::SPCTL, 0x2521);  // type 1, mixed colour, cc at priority 5 and up
    scene.reg(VDP2::CCCTL, 0x0040);
    scene.reg(VDP2::CCRSA, 0x0F0F);
    scene.reg(VDP2::CCRSB, 0x0F0F);
}
