#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "core/base/scheduler.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "video/color_tables.h"

// A machine whose VDP2 is driven straight through its raster events, with a
// host canvas to draw into: for scenes set up by hand rather than by a
// program. VDP1 is left alone, so its display buffer keeps what is put there.
class Vdp2Scene {
public:
    static constexpr u32 kCanvasSide = 1024;

    Vdp2Scene()
    {
        buildVideoTables();
        scheduler().clear();
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        sys->vdp2().setVideoStandard(false);
        regs = sys->vdp2().getAccessHandlers(VDP2::kRegisters);
        hostCanvas = {canvas.data(), kCanvasSide};
    }
    ~Vdp2Scene()
    {
        hostCanvas = {};
        sys.reset();
        scheduler().clear();
    }

    void reg(u32 offset, u16 value) { regs.writeWord(regs.owner, nullptr, 0x25F80000 + offset, value); }
    u8* vram() { return sys->memory().vdp2Vram.get(); }
    // Writes through this pointer bypass the bus, so the VDP2 is told.
    u8* cram()
    {
        sys->vdp2().colorRamChanged();
        return sys->memory().vdp2ColorRam.get();
    }
    // The buffer the sprite layer reads.
    u8* spriteBuffer() { return const_cast<u8*>(sys->vdp1().getDisplayFrameBuffer()->pixels); }

    // Random VRAM and colour RAM, and random 16-bit sprite dots of which a
    // third are transparent.
    void randomMemories(u32 seed)
    {
        auto random = [&seed]() {
            seed = seed * 1103515245 + 12345;
            return seed >> 8;
        };
        for (u32 i = 0; i < VDP2::kVramSize; ++i)
            vram()[i] = static_cast<u8>(random());
        u8* colors = cram();
        for (u32 i = 0; i < VDP2::kColorRamSize; ++i)
            colors[i] = static_cast<u8>(random());
        u8* sprite = spriteBuffer();
        for (u32 i = 0; i < 0x40000; i += 2)
            storeBe16(sprite + i, random() % 3 ? static_cast<u16>(random() & 0x7FFF) : 0);
    }
    u32 pixel(u32 x, u32 y) const { return canvas[y * kCanvasSide + x]; }
    void setFastPaths(const Shortcuts::Vdp2& paths) { sys->vdp2().setFastPaths(paths); }

    // One non-interlaced field: the line counter starts at -1 and steps by
    // two. beforeLine(y) runs in the blanking before display line y (-2 and
    // -1 are the two lines ahead of the display).
    void runField(int lines = 263, const std::function<void(int)>& beforeLine = {})
    {
        VDP2& v = sys->vdp2();
        v.onVBlankOut(1);
        for (int i = 0, line = -1; i < lines; ++i, line += 2) {
            v.onHBlankIn(line);
            if (beforeLine)
                beforeLine(i - 2);
            v.onHBlankOut(line);
        }
        v.onVBlankIn();
    }

    std::unique_ptr<CSystem> sys;
    AccessHandlers regs;
    std::vector<u32> canvas = std::vector<u32>(kCanvasSide * kCanvasSide);
};
