// End to end: an SH-2 program draws through VDP1 and waits for the
// draw-end interrupt; the shown buffer must equal the computed scene.
#include <cstring>
#include <memory>

#include "core/shared_state.h"
#include "core/system.h"
#include "vdp1_fixture.h"

namespace {

TEST(Vdp1SystemTest, ProgramDrawsTheComputedSceneAndTakesTheDrawEndInterrupt)
{
    buildVideoTables();
    scheduler().clear();
    debugBreak = sliceResume = debugStopped = 0;
    auto sys = std::make_unique<CSystem>();
    sys->setup(0);
    const std::vector<u8> program = loadProgram("sh2", "vdp1_scene");
    ASSERT_FALSE(program.empty());
    std::memcpy(sys->memory().bios.get(), program.data(), program.size());
    sys->powerOn();
    for (int i = 0; i < 6; ++i)
        sys->runFrame();
    const u8* ram = sys->memory().workRamHigh.get();
    EXPECT_EQ(loadBe32(ram), 1u);
    EXPECT_EQ(loadBe32(ram + 4), 1u);
    const std::vector<u8> scene = readBytes(std::string(KEST_VDP1_PICTURES) + "/scene.bin");
    ASSERT_EQ(scene.size(), VDP1::kFrameBufferSize);
    const u8* shown = sys->vdp1().getDisplayFrameBuffer()->pixels;
    int wrong = 0;
    for (u32 i = 0; i < VDP1::kFrameBufferSize; i += 2)
        wrong += loadBe16(shown + i) != loadBe16(scene.data() + i);
    EXPECT_EQ(wrong, 0);
    sys.reset();
    scheduler().clear();
}

}  // namespace
