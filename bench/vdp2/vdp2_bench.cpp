#include <benchmark/benchmark.h>

#include "video/vdp2/vdp2_scene.h"

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

}  // namespace

BENCHMARK(BM_ComposeField)->Unit(benchmark::kMicrosecond);
