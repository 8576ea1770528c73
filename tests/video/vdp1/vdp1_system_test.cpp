// End to end: an SH-2 program draws through VDP1 and waits for the
// draw-end interrupt; the shown buffer must equal the computed scene.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/png_reader.h"
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

// Idle between draws, VDP1 skips its slices: the run must equal one that
// steps it through every slice.
TEST(Vdp1SystemTest, SkippingTheIdleSlicesChangesNothing)
{
    buildVideoTables();
    const std::vector<u8> program = loadProgram("sh2", "vdp1_scene");
    ASSERT_FALSE(program.empty());
    auto run = [&](bool skip) {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        auto sys = std::make_unique<CSystem>();
        sys->setup(0);
        Shortcuts shortcuts;
        shortcuts.idleUnits = skip;
        sys->setShortcuts(shortcuts);
        std::memcpy(sys->memory().bios.get(), program.data(), program.size());
        sys->powerOn();
        std::string state;
        for (int i = 0; i < 6; ++i) {
            sys->runFrame();
            for (const Device* device : sys->slicedDevices())
                state += std::to_string(device->localTime()) + ' ';
            state += std::to_string(sys->vdp1().idle()) + '\n';
        }
        const u8* ram = sys->memory().workRamHigh.get();
        state.append(reinterpret_cast<const char*>(ram), 0x100000);
        state.append(reinterpret_cast<const char*>(sys->vdp1().getDisplayFrameBuffer()->pixels),
                     VDP1::kFrameBufferSize);
        sys.reset();
        scheduler().clear();
        return state;
    };
    const std::string on = run(true);
    // The draw ended, so the skip was taken.
    EXPECT_NE(on.find("1\n"), std::string::npos);
    EXPECT_TRUE(on == run(false));
}

// The same program as the console BIOS of kest-headless: VDP2 shows the
// drawn buffer as its sprite layer over the back screen, and --png must
// equal the picture computed from the scene's words.
TEST(Vdp1SystemTest, HeadlessPngShowsTheComposedScene)
{
    TempDir dir;
    const std::string ini = "[Path]\r\nsat_bios = " + std::string(KEST_PROGRAMS_DIR) +
                            "/sh2/vdp1_scene.bin\r\n[General]\r\nkest_bios = 0\r\ncartridge = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string png = dir.file("scene.png");
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless --data " + dir.path().string() +
                                " --fields 6 --png " + png + " > " + dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<u8> bytes = readBytes(std::string(KEST_VDP1_PICTURES) + "/composed.rgb");
    u32 width = 0, height = 0;
    std::vector<u32> pixels;
    ASSERT_TRUE(readPng(png, width, height, pixels));
    ASSERT_EQ(width, 320u);
    ASSERT_EQ(height, 224u);
    ASSERT_EQ(bytes.size(), 4 * pixels.size());
    int wrong = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const u8* want = &bytes[4 * i];
        wrong += pixels[i] != (u32{want[0]} | u32{want[1]} << 8 | u32{want[2]} << 16);
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
