#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/base/bus.h"
#include "video/color_tables.h"
#include "video/vdp1/vdp1.h"

namespace {

constexpr u32 kTexture = 0x40000;
constexpr u32 kLut = 0x41000;
constexpr u32 kGouraud = 0x42000;

struct Scene {
    std::vector<u8> memory = std::vector<u8>(0x100000);
    VDP1 vdp{nullptr, memory.data()};

    void word(u32 at, u16 v) { storeBe16(memory.data() + at, v); }
    void table(u32 at, const u16 (&w)[15])
    {
        for (u32 i = 0; i < 15; ++i)
            word(at + 2 * i, w[i]);
    }

    // 500 textured 32x32 sprites (16 colours through a look-up table) and
    // 200 Gouraud-shaded quads turned at assorted angles, over 320 x 224.
    Scene()
    {
        buildVideoTables();
        vdp.setup(0);
        vdp.powerOn();
        for (u32 i = 0; i < 32 * 32 / 2; ++i)
            memory[kTexture + i] = static_cast<u8>(i * 37 + 11);
        for (u32 i = 0; i < 16; ++i)
            word(kLut + 2 * i, static_cast<u16>(0x8000 | i * 0x0842));
        for (u32 i = 0; i < 4; ++i)
            word(kGouraud + 2 * i, static_cast<u16>(0x4210 + i * 0x0C63));
        u32 at = 0;
        table(at, {0x0009, 0, 0, 0, 0, 0, 0, 0, 0, 0, 319, 223, 0, 0, 0});
        at += 32;
        for (u32 i = 0; i < 500; ++i, at += 32) {
            const u16 x = static_cast<u16>((i * 53) % 290), y = static_cast<u16>((i * 29) % 194);
            table(at, {0x0000, 0, 0x00C8, kLut / 8, kTexture / 8, 0x0420, x, y, 0, 0, 0, 0, 0, 0, 0});
        }
        for (u32 i = 0; i < 200; ++i, at += 32) {
            const double a = i * 0.37, cx = 20 + (i * 41) % 280, cy = 20 + (i * 23) % 184;
            u16 xy[8];
            for (int k = 0; k < 4; ++k) {
                xy[2 * k] = static_cast<u16>(std::lround(cx + 16 * std::cos(a + k * M_PI / 2)));
                xy[2 * k + 1] = static_cast<u16>(std::lround(cy + 16 * std::sin(a + k * M_PI / 2)));
            }
            table(at, {0x0004, 0, 0x00C4, 0x801F, 0, 0, xy[0], xy[1], xy[2], xy[3], xy[4], xy[5], xy[6], xy[7],
                       kGouraud / 8});
        }
        word(at, 0x8000);
    }
};

void BM_Vdp1SpritesAndGouraudPolygons(benchmark::State& state)
{
    Scene scene;
    for (auto _ : state) {
        scene.vdp.writePTMR(1);
        scene.vdp.setClocksLeft(1 << 30);
        scene.vdp.runCommands();
        benchmark::DoNotOptimize(scene.vdp.drawBuffer()[0]);
        if (scene.vdp.drawing())
            state.SkipWithError("the list did not end");
    }
}
BENCHMARK(BM_Vdp1SpritesAndGouraudPolygons)->Unit(benchmark::kMillisecond);

}  // namespace
