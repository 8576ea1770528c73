// Golden pictures: scenes made by make_scenes.py from source pictures, loaded
// into VRAM, colour RAM and the registers by an SH-2 program, and compared
// dot for dot with the picture the script computed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/base/helpers.h"
#include "support/files.h"
#include "support/png_reader.h"
#include "core/base/png_writer.h"
#include "video/vdp2/vdp2_scene.h"

namespace {

constexpr u32 kSceneOffset = 0x1000;
constexpr u32 kWidth = 320;
constexpr u32 kHeight = 224;

// The expected picture of a scene, as 0x00RRGGBB.
std::vector<u32> expectedPicture(const std::string& base)
{
    const std::vector<u8> bytes = readBytes(base + ".rgb");
    std::vector<u32> picture(bytes.size() / 4);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = u32{bytes[4 * i]} | u32{bytes[4 * i + 1]} << 8 | u32{bytes[4 * i + 2]} << 16;
    return picture;
}

class Vdp2GoldenTest : public ::testing::TestWithParam<const char*> {};

TEST_P(Vdp2GoldenTest, MatchesThePictureComputedFromTheSources)
{
    const std::string base = std::string(KEST_VDP2_SCENES) + "/" + GetParam();
    const std::vector<u8> program = loadProgram("sh2", "vdp2_scene");
    const std::vector<u8> scene = readBytes(base + ".scene");
    const std::vector<u32> expected = expectedPicture(base);
    ASSERT_FALSE(program.empty());
    ASSERT_FALSE(scene.empty());
    ASSERT_EQ(expected.size(), kWidth * kHeight);
    ASSERT_LE(program.size(), kSceneOffset);
    ASSERT_LE(kSceneOffset + scene.size(), SystemMemory::kBiosSize);

    Vdp2Scene machine;
    CSystem& sys = *machine.sys;
    std::memcpy(sys.memory().bios.get(), program.data(), program.size());
    std::memcpy(sys.memory().bios.get() + kSceneOffset, scene.data(), scene.size());
    sys.setVideoMode(CRaster::kNtsc);
    sys.powerOn();
    // The program copies while the first fields run; the last one shows the scene.
    for (int i = 0; i < 6; ++i)
        sys.runFrame();
    ASSERT_EQ(sys.getDisplaySize().width, kWidth);
    ASSERT_EQ(sys.getDisplaySize().height, kHeight);

    u32 wrong = 0;
    u32 firstX = 0, firstY = 0, got = 0, want = 0;
    for (u32 y = 0; y < kHeight; ++y) {
        for (u32 x = 0; x < kWidth; ++x) {
            const u32 value = expected[y * kWidth + x];
            if (machine.pixel(x, y) != value && wrong++ == 0)
                firstX = x, firstY = y, got = machine.pixel(x, y), want = value;
        }
    }
    if (wrong) {
        // Both pictures, to look at.
        writePng(::testing::TempDir() + GetParam() + "_got.png", machine.canvas.data(), kWidth, kHeight,
                 Vdp2Scene::kCanvasSide);
        writePng(::testing::TempDir() + GetParam() + "_want.png", expected.data(), kWidth, kHeight, kWidth);
    }
    EXPECT_EQ(wrong, 0u) << "first at (" << firstX << ", " << firstY << "): " << std::hex << got << " instead of "
                         << want;
}

INSTANTIATE_TEST_SUITE_P(Scenes, Vdp2GoldenTest,
                         ::testing::Values("cells", "direct", "rgb32", "bitmap", "scroll", "ratio", "additive",
                                           "rotation_identity", "rotation_quarter", "rotation_half"));

// The same scene through kest-headless as the console BIOS: --png writes
// the displayed area of the canvas after the last field.
TEST(Vdp2Headless, PngHoldsTheDisplayedPicture)
{
    TempDir dir;
    const std::string base = std::string(KEST_VDP2_SCENES) + "/scroll";
    std::vector<u8> bios = loadProgram("sh2", "vdp2_scene");
    const std::vector<u8> scene = readBytes(base + ".scene");
    ASSERT_FALSE(bios.empty());
    ASSERT_FALSE(scene.empty());
    bios.resize(kSceneOffset);
    bios.insert(bios.end(), scene.begin(), scene.end());
    ASSERT_LE(bios.size(), 0x80000u);
    bios.resize(0x80000);  // a BIOS image is 512 KB
    ASSERT_TRUE(saveFile(dir.file("scene.bin"), bios.data(), static_cast<u32>(bios.size())));
    const std::string ini = "[Path]\r\nsat_bios = " + dir.file("scene.bin") + "\r\n[General]\r\nkest_bios = 0\r\n" +
                            "cartridge = 1\r\n";
    ASSERT_TRUE(saveFile(dir.file("kest.ini"), ini.data(), static_cast<u32>(ini.size())));
    const std::string png = dir.file("out.png");
    const std::string command = std::string(KEST_BINARY_DIR) + "/tools/kest-headless --data " + dir.path().string() +
                                " --fields 6 --png " + png + " > " + dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);

    u32 width = 0, height = 0;
    std::vector<u32> pixels;
    ASSERT_TRUE(readPng(png, width, height, pixels));
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    EXPECT_TRUE(pixels == expectedPicture(base));
}

}  // namespace
