#include <benchmark/benchmark.h>

#include <algorithm>

#include "video/vdp2/vdp2_game_scenes.h"
#include "video/vdp2/vdp2_simd.h"

namespace {

// A 320 x 224 field of four cell-mode NBG layers over random characters, the
// sprite layer, ratio colour calculation on NBG0 and the sprite, and window 0
// on NBG1.
void BM_ComposeField(benchmark::State& state)
{
    Vdp2Scene scene;
    // Sprite type 1 dots, a third of them transparent.
    scene.randomMemories(12345);

    scene.reg(VDP2::TVMD, 0x8000);
    scene.reg(VDP2::BGON, 0x000F);
    scene.reg(VDP2::CHCTLA, 0x0010);  // NBG0 256 colours, NBG1 16 colours
    scene.reg(VDP2::CHCTLB, 0x0000);
    for (u32 n = 0; n < 4; ++n) {
        scene.reg(VDP2::PNCN0 + 2 * n, 0x8000);  // one-word names
        scene.reg(VDP2::MPABN0 + 4 * n, static_cast<u16>(0x0101 * (n * 4 + 8)));
        scene.reg(VDP2::MPABN0 + 4 * n + 2, static_cast<u16>(0x0101 * (n * 4 + 9)));
    }
    for (u32 zoom : {VDP2::ZMXIN0, VDP2::ZMYIN0, VDP2::ZMXIN1, VDP2::ZMYIN1})
        scene.reg(zoom, 1);
    scene.reg(VDP2::SCXIN0, 13);
    scene.reg(VDP2::SCYIN1, 7);
    scene.reg(VDP2::SCXN2, 3);
    scene.reg(VDP2::PRINA, 0x0304);
    scene.reg(VDP2::PRINB, 0x0102);
    scene.reg(VDP2::PRISA, 0x0506);
    scene.reg(VDP2::PRISB, 0x0203);
    scene.reg(VDP2::SPCTL, 0x0001);
    scene.reg(VDP2::CCCTL, 0x0041);
    scene.reg(VDP2::CCRNA, 0x000C);
    scene.reg(VDP2::CCRSA, 0x0808);
    scene.reg(VDP2::WPSX0, 80);
    scene.reg(VDP2::WPEX0, 400);
    scene.reg(VDP2::WPSY0, 20);
    scene.reg(VDP2::WPEY0, 180);
    scene.reg(VDP2::WCTLA, 0x0200);
    scene.runField();
    for (auto _ : state)
        scene.runField();
    state.SetLabel("one iteration = one 320x224 field");
}

void BM_ComposeFieldRotation(benchmark::State& state)
{
    Vdp2Scene scene;
    rotationFloor(scene, 0);
    scene.runField();
    for (auto _ : state)
        scene.runField();
    state.SetLabel("one iteration = one 320x224 field");
}

void BM_ComposeFieldRotationPerDot(benchmark::State& state)
{
    Vdp2Scene scene;
    rotationFloor(scene, 0.25);
    scene.runField();
    for (auto _ : state)
        scene.runField();
    state.SetLabel("one iteration = one 320x224 field");
}

// The floor with set B (another turn of the same table) right of window 0,
// drawn by the two-set loop (argument 1) or by the general rotation loop (0).
void BM_ComposeFieldRotationTwoSets(benchmark::State& state)
{
    Vdp2Scene scene;
    rotationFloor(scene, 0);
    std::copy_n(scene.vram() + 0x7FF00, 0x80, scene.vram() + 0x7FF80);
    scene.reg(VDP2::RPMD, 3);
    scene.reg(VDP2::WPSX0, 320);
    scene.reg(VDP2::WPEX0, 639);
    scene.reg(VDP2::WPEY0, 223);
    scene.reg(VDP2::WCTLD, 0x0003);
    for (u32 i = 0; i < 8; ++i)
        scene.reg(VDP2::MPABRB + 2 * i, static_cast<u16>(0x0101 * (17 + 2 * i)));
    scene.setFastPaths({hostHasAvx2(), true, state.range(0) != 0});
    scene.runField();
    for (auto _ : state)
        scene.runField();
    state.SetLabel("one iteration = one 320x224 field");
}


// One field of a scene after another.
void fields(benchmark::State& state, void (*setUp)(Vdp2Scene&), const char* label)
{
    Vdp2Scene scene;
    setUp(scene);
    scene.runField();
    for (auto _ : state)
        scene.runField();
    state.SetLabel(label);
}

void BM_ComposeFieldGame2D(benchmark::State& state)
{
    fields(state, gameField2D, "one iteration = one 320x224 field");
}

// The same with the sprites in a few boxes and no colour offset.
void BM_ComposeFieldGame2DBoxed(benchmark::State& state)
{
    fields(state, gameField2DBoxed, "one iteration = one 320x224 field");
}

void BM_ComposeFieldGameBitmap(benchmark::State& state)
{
    fields(state, gameFieldBitmap, "one iteration = one 320x224 field");
}

void BM_ComposeFieldGame3D(benchmark::State& state)
{
    fields(state, gameField3D, "one iteration = one 352x240 field");
}

// The same with the horizon across the screen.
void BM_ComposeFieldGame3DRolled(benchmark::State& state)
{
    fields(state, gameField3DRolled, "one iteration = one 352x240 field");
}

// The same over tile maps of 16 (argument 16) or 256 colours.
void BM_ComposeFieldGame3DTiled(benchmark::State& state)
{
    Vdp2Scene scene;
    gameField3DTiled(scene, static_cast<u32>(state.range(0)));
    scene.runField();
    for (auto _ : state)
        scene.runField();
    state.SetLabel("one iteration = one 352x240 field");
}

}  // namespace

BENCHMARK(BM_ComposeField)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldRotation)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldRotationPerDot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldGame2D)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldGame2DBoxed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldGame3D)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldGame3DRolled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldGame3DTiled)->Arg(16)->Arg(256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldGameBitmap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldRotationTwoSets)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
