// VDP1's walker and rasterisers on hostile command lists: the input is the
// start of VRAM (tables, corners, clips and textures), drawn in the frame
// mode its first two bytes choose and again after a mode change that keeps
// the frame size. Drawing must end within its budget without a fault.
#include <cstring>
#include <vector>

#include "board/scu/scu.h"
#include "core/base/bus.h"
#include "core/base/object.h"
#include "video/color_tables.h"
#include "video/vdp1/vdp1.h"

// The SCU is not built in: with none set, VDP1 never calls it.
void SCU::spriteDrawEnd() {}

namespace {

void discard(void*, const char*, std::size_t) {}

constexpr s32 kBudget = 1 << 13;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<u8>& memory = *new std::vector<u8>(VDP1::kVramSize + 2 * VDP1::kFrameBufferSize);
    static VDP1& vdp = *[] {
        logSink().setWriter(discard, nullptr);
        buildVideoTables();
        auto* chip = new VDP1(nullptr, memory.data());
        chip->setup(0);
        return chip;
    }();
    if (size < 4)
        return 0;
    // VRAM beyond the input stays zero: clear what the last input wrote.
    static size_t written = 0;
    std::memset(memory.data(), 0, written);
    const size_t tables = std::min<size_t>(size - 4, VDP1::kVramSize - 32);
    std::memcpy(memory.data(), data + 4, tables);
    written = tables + 32;
    // Every table draws or jumps; one END closes the list. Links may still
    // loop, which the budget ends. The header's fourth byte keeps corners
    // and clips to 16, 11, 8 or 5 bits: small quads at the clip's edges
    // are where rounding goes wrong, and quads a few times the clip's size
    // draw thousands of times faster than ones 32,767 wide.
    constexpr int kBits[4] = {16, 11, 8, 5};
    const s32 half = 1 << (kBits[data[3] & 3] - 1);
    const u32 end = static_cast<u32>(tables) & ~31u;
    for (u32 at = 0; at < end; at += 32) {
        memory[at] &= 0x3F;
        for (u32 k = 12; k < 28; k += 2) {
            const s32 v = static_cast<s16>(loadBe16(memory.data() + at + k));
            storeBe16(memory.data() + at + k, static_cast<u16>(((v & (2 * half - 1)) ^ half) - half));
        }
    }
    storeBe16(memory.data() + end, 0x8000);

    vdp.powerOn();
    for (int pass = 0; pass < 2; ++pass) {
        vdp.writeTVMR(data[pass]);
        vdp.writeFBCR(static_cast<u16>(data[2 + pass] & 0x0F));
        vdp.writePTMR(1);
        vdp.setClocksLeft(kBudget);
        vdp.runCommands();
    }
    return 0;
}
