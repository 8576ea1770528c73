#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

#include "video/vdp2/vdp2_scene.h"
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

// A 320 x 224 field like a racing game's: RBG0 as a perspective floor (a
// turned, tilted view, kx and ky from a per-line coefficient table, or with
// dkax a new coefficient every few dots) under two cell-mode scroll layers
// and the sprite layer.
void rotationFloor(Vdp2Scene& scene, double dkax)
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
    const vdp2::FastPaths saved = vdp2::fastPaths;
    vdp2::fastPaths.rotationLines = state.range(0) != 0;
    scene.runField();
    for (auto _ : state)
        scene.runField();
    vdp2::fastPaths = saved;
    state.SetLabel("one iteration = one 320x224 field");
}

}  // namespace

BENCHMARK(BM_ComposeField)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldRotation)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldRotationPerDot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeFieldRotationTwoSets)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
