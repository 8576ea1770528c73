// Scenes set up by hand: the sprite layer's shadows and coordinates, windows
// without an enabled window, colour modes a layer cannot show, the external
// layer's height, colour RAM addressing, and writes between two lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "core/base/external_frame.h"
#include "video/vdp1/vdp1.h"
#include "video/vdp2/vdp2_scene.h"
#include "video/vdp2/vdp2_simd.h"

namespace {

constexpr u32 kGreen = 0x03E0;  // console colour words
constexpr u32 kBlue = 0x7C00;
constexpr u32 kRed = 0x001F;
constexpr u32 kWhite = 0x7FFF;

u32 host(u32 word)
{
    return colorTable[word];
}

u32 halved(u32 pixel)
{
    return (pixel >> 1) & 0x7F7F7F;
}

class Vdp2ComposeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s.reg(VDP2::TVMD, 0x8000);
        setColor(0, kRed);
        back(kRed);
    }
    void TearDown() override { s.sys->vdp2().setSpriteFrame(nullptr); }

    void setColor(u32 code, u32 word) { storeBe16(s.cram() + 2 * code, static_cast<u16>(word)); }

    void back(u32 word)
    {
        storeBe16(s.vram() + 0x7FFFE, static_cast<u16>(word));
        s.reg(VDP2::BKTAU, 0x0003);
        s.reg(VDP2::BKTAL, 0xFFFF);
    }

    // NBGn as one colour: every dot of every character is code 'code'.
    void solidLayer(u32 n, u32 code, u32 priority)
    {
        const u32 number = n + 1;
        for (u32 i = 0; i < 32; ++i)
            s.vram()[number * 32 + i] = static_cast<u8>(code << 4 | code);
        const u32 page = 0x10000 + n * 0x2000;
        for (u32 i = 0; i < 0x2000; i += 2)
            storeBe16(s.vram() + page + i, static_cast<u16>(number));
        const u16 plane = static_cast<u16>((page >> 13) * 0x0101);
        s.reg(VDP2::PNCN0 + 2 * n, 0x8000);
        s.reg(VDP2::MPABN0 + 4 * n, plane);
        s.reg(VDP2::MPABN0 + 4 * n + 2, plane);
        bgon |= 1 << n;
        s.reg(VDP2::BGON, bgon);
        if (n < 2) {
            s.reg(VDP2::ZMXIN0 + 0x10 * n, 1);
            s.reg(VDP2::ZMYIN0 + 0x10 * n, 1);
        }
        const u32 reg = n < 2 ? VDP2::PRINA : VDP2::PRINB;
        prin[n >> 1] = static_cast<u16>(prin[n >> 1] | priority << (8 * (n & 1)));
        s.reg(reg, prin[n >> 1]);
    }

    // NBG0 green over NBG1 blue, under a line colour screen of code 3, white.
    void greenOverBlueWhiteLines()
    {
        solidLayer(0, 1, 2);
        solidLayer(1, 2, 1);
        setColor(1, kGreen);
        setColor(2, kBlue);
        setColor(3, kWhite);
        storeBe16(s.vram() + 0x7FFFC, 3);
        s.reg(VDP2::LCTAU, 0x0003);
        s.reg(VDP2::LCTAL, 0xFFFE);
    }

    Vdp2Scene s;
    u16 bgon = 0;
    u16 prin[2] = {};
};

TEST_F(Vdp2ComposeTest, SpriteShadowsPriorityTiesAndRotatedCoordinates)
{
    solidLayer(0, 1, 3);
    setColor(1, kGreen);
    setColor(5, kBlue);
    setColor(0x3FE, kWhite);
    std::vector<u8> buffer(VDP1::kFrameBufferSize);
    const u16 dots[] = {0x0005, 0x07FE, 0x8000, 0x8005, 0x0000};
    for (u32 i = 0; i < 5; ++i)
        storeBe16(&buffer[2 * i], dots[i]);
    FrameBufferInfo frame;
    frame.pixels = buffer.data();
    s.sys->vdp2().setSpriteFrame(&frame);
    s.reg(VDP2::SPCTL, 0x0002);  // type 2: priority bit 14, MSB shadows
    s.reg(VDP2::PRISA, 0x0003);  // priority register 0: as NBG0's
    s.reg(VDP2::SDCTL, 0x0101);  // NBG0 takes shadows, transparent shadow on

    s.runField();
    EXPECT_EQ(s.pixel(0, 0), host(kBlue)) << "a tie goes to the sprite";
    EXPECT_EQ(s.pixel(1, 0), halved(host(kGreen))) << "normal shadow";
    EXPECT_EQ(s.pixel(2, 0), halved(host(kGreen))) << "transparent shadow";
    EXPECT_EQ(s.pixel(3, 0), halved(host(kBlue))) << "shadowed sprite dot";
    EXPECT_EQ(s.pixel(4, 0), host(kGreen));

    s.reg(VDP2::SDCTL, 0x0000);
    s.runField();
    EXPECT_EQ(s.pixel(1, 0), host(kWhite)) << "no shadow enable: the shadow dot shows its own colour";
    EXPECT_EQ(s.pixel(2, 0), host(kGreen)) << "transparent shadow not selected";

    // VDP1's rotation mode: the sprite layer starts at parameter set A's
    // Xst, here 10 dots left of the buffer; the dots before it are outside.
    for (u32 i = 0; i < buffer.size(); i += 2)
        storeBe16(&buffer[i], 0x0005);
    frame.rotation = 1;
    u8* table = s.vram() + 0x60000;
    storeBe32(table + 0x00, static_cast<u32>(-10 * 1024) << 6 & 0x1FFFFFC0);
    storeBe32(table + 0x10, 1024 << 6);  // DYst 1.0
    storeBe32(table + 0x14, 1024 << 6);  // DX 1.0
    s.reg(VDP2::RPTAU, 0x0003);
    s.reg(VDP2::RPTAL, 0x0000);
    s.runField();
    for (u32 x = 0; x < 10; ++x)
        EXPECT_EQ(s.pixel(x, 0), host(kGreen)) << x;
    EXPECT_EQ(s.pixel(10, 0), host(kBlue));
    EXPECT_EQ(s.pixel(319, 100), host(kBlue));
}

TEST_F(Vdp2ComposeTest, ByteSpriteDotsTakeTheirPriorityRegisters)
{
    solidLayer(0, 1, 3);
    setColor(1, kGreen);
    setColor(0x85, kBlue);
    setColor(0xC5, kWhite);
    std::vector<u8> buffer(VDP1::kFrameBufferSize);
    buffer[0] = 0x05, buffer[1] = 0x85, buffer[2] = 0xC5;
    FrameBufferInfo frame;
    frame.pixels = buffer.data();
    frame.eightBit = 1;
    s.sys->vdp2().setSpriteFrame(&frame);
    s.reg(VDP2::SPCTL, 0x000C);  // type 12: priority bit 7
    s.reg(VDP2::PRISA, 0x0500);  // register 0 hidden, register 1 over NBG0
    s.runField();
    EXPECT_EQ(s.pixel(0, 0), host(kGreen));
    EXPECT_EQ(s.pixel(1, 0), host(kBlue));
    EXPECT_EQ(s.pixel(2, 0), host(kWhite));

    s.reg(VDP2::SPCTL, 0x000E);  // type 14: priority bits 6 and 7
    s.reg(VDP2::PRISB, 0x0600);  // register 2 hidden, register 3 over NBG0
    s.runField();
    EXPECT_EQ(s.pixel(0, 0), host(kGreen));
    EXPECT_EQ(s.pixel(1, 0), host(kGreen));
    EXPECT_EQ(s.pixel(2, 0), host(kWhite));
}

// Every sprite type's split of a dot, worked out by hand. Register n holds
// priority n + 1 (register 7: 0, hidden) and ratio n + 16; colour calculation
// where the priority is 4 or more, or by the colour's MSB (condition 3).
// Colour RAM word i is i, with the MSB set where i is odd; the sprite's
// colour RAM offset is 0x100.
TEST_F(Vdp2ComposeTest, EverySpriteTypeSplitsItsDots)
{
    // code: 0x8000 | colour for a direct colour.
    struct Case { u16 spctl; u8 eightBit; u16 dot; u8 key, ratio, cc; u32 code; u8 shadowClass, window; };
    const Case cases[] = {
        {0x2400, 0, 0x5C21, 0x15, 19, 0, 0x421, 0, 0},
        {0x2401, 0, 0xD7FE, 0x3D, 18, 1, 0x7FE, 1, 0},  // normal shadow
        {0x2401, 0, 0xD3FE, 0x3D, 18, 1, 0x3FE, 0, 0},  // only the whole code is a shadow
        {0x2402, 0, 0x8000, 0x0D, 16, 0, 0x000, 2, 0},  // transparent shadow
        {0x2402, 0, 0xC805, 0x15, 17, 0, 0x005, 3, 0},  // shadowed dot
        {0x2403, 0, 0x6ABC, 0x25, 17, 1, 0x2BC, 0, 0},
        {0x2413, 0, 0x8123, 0x0D, 16, 0, 0x123, 0, 1},  // sprite-window bit
        {0x2413, 0, 0x8000, 0x00, 16, 0, 0x000, 0, 1},  // the window bit alone is transparent
        {0x2404, 0, 0x3FFE, 0x15, 23, 0, 0x3FE, 1, 0},
        {0x2405, 0, 0x4801, 0x2D, 17, 1, 0x001, 0, 0},
        {0x2406, 0, 0x2E10, 0x1D, 19, 0, 0x210, 0, 0},
        {0x2407, 0, 0x1B33, 0x15, 21, 0, 0x133, 0, 0},
        {0x2407, 0, 0x7C00, 0x00, 22, 0, 0x000, 0, 0},  // register 7: priority 0
        {0x2408, 1, 0x00C3, 0x15, 16, 0, 0x043, 0, 0},
        {0x2409, 1, 0x00BE, 0x15, 16, 0, 0x03E, 1, 0},
        {0x240A, 1, 0x0081, 0x1D, 16, 0, 0x001, 0, 0},
        {0x240B, 1, 0x00C5, 0x0D, 19, 0, 0x005, 0, 0},
        {0x240C, 1, 0x00FE, 0x15, 16, 0, 0x0FE, 1, 0},
        {0x240C, 0, 0xABFE, 0x15, 16, 0, 0x0FE, 1, 0},  // a byte type takes a word's lower byte
        {0x240D, 1, 0x004A, 0x0D, 17, 0, 0x04A, 0, 0},
        {0x240E, 1, 0x00C0, 0x25, 16, 1, 0x0C0, 0, 0},
        {0x240F, 1, 0x009F, 0x0D, 18, 0, 0x09F, 0, 0},
        {0x2400, 1, 0x009F, 0x0D, 16, 0, 0x09F, 0, 0},  // a word type on byte dots
        {0x2420, 0, 0x8421, 0x0D, 16, 0, 0x8421, 0, 0},  // mixed: direct colour, registers 0
        {0x2422, 0, 0x8000, 0x0D, 16, 0, 0x8000, 0, 0},  // mixed: a direct colour is no shadow
        {0x2420, 0, 0x7FFE, 0x15, 23, 0, 0x7FE, 1, 0},
        {0x3001, 0, 0x2003, 0x15, 16, 1, 0x003, 0, 0},  // MSB condition: an odd entry
        {0x3001, 0, 0x2002, 0x15, 16, 0, 0x002, 0, 0},
        {0x3020, 0, 0x8002, 0x0D, 16, 1, 0x8002, 0, 0},  // MSB condition: direct colours take part
    };
    for (u32 i = 0; i < 0x400; ++i)
        setColor(i, i | (i & 1) << 15);
    s.reg(VDP2::PRISA, 0x0201);
    s.reg(VDP2::PRISB, 0x0403);
    s.reg(VDP2::PRISC, 0x0605);
    s.reg(VDP2::PRISD, 0x0007);
    for (u32 r = 0; r < 4; ++r)
        s.reg(VDP2::CCRSA + 2 * r, static_cast<u16>(0x1110 + 0x0202 * r));
    s.reg(VDP2::CRAOFB, 0x0010);
    std::vector<u8> buffer(VDP1::kFrameBufferSize);
    FrameBufferInfo frame;
    frame.pixels = buffer.data();
    s.sys->vdp2().setSpriteFrame(&frame);
    const VDP2& vdp2 = s.sys->vdp2();
    for (const Case& c : cases) {
        frame.eightBit = c.eightBit;
        for (u32 row = 0; row < 256; ++row) {
            if (c.eightBit)
                buffer[row * 512 + 5] = static_cast<u8>(c.dot);
            else
                storeBe16(&buffer[row * 1024 + 10], c.dot);
        }
        s.reg(VDP2::SPCTL, c.spctl);
        s.runField();
        const u32 color = c.code & 0x8000 ? host(c.code & 0x7FFF) : host((c.code + 0x100) & 0x3FF);
        SCOPED_TRACE(testing::Message() << std::hex << "type " << (c.spctl & 15) << " dot " << c.dot);
        EXPECT_EQ(vdp2.spriteLine().key[5], c.key);
        EXPECT_EQ(vdp2.spriteLine().cc[5], c.cc);
        EXPECT_EQ(vdp2.spriteDots().ratio[5], c.ratio);
        EXPECT_EQ(vdp2.spriteDots().shadowClass[5], c.shadowClass);
        EXPECT_EQ(vdp2.spriteDots().window[5], c.window);
        if (c.key) {
            EXPECT_EQ(vdp2.spriteLine().color[5], color);
        }
        EXPECT_EQ(vdp2.spriteLine().key[4], 0) << "a neighbouring 0 dot is transparent";
    }
}

TEST_F(Vdp2ComposeTest, WindowsHideOnlyWhatAnEnabledWindowCovers)
{
    solidLayer(0, 1, 2);
    setColor(1, kGreen);
    // The AND bit alone, with no window enabled, hides nothing.
    s.reg(VDP2::WCTLA, 0x0080);
    s.runField();
    EXPECT_EQ(s.pixel(0, 0), host(kGreen));
    EXPECT_EQ(s.pixel(200, 100), host(kGreen));

    // Window 0 over x 10-19 (registers count half dots), its inside hidden.
    s.reg(VDP2::WPSX0, 20);
    s.reg(VDP2::WPEX0, 39);
    s.reg(VDP2::WPEY0, 223);
    s.reg(VDP2::WCTLA, 0x0082);
    s.runField();
    EXPECT_EQ(s.pixel(9, 5), host(kGreen));
    EXPECT_EQ(s.pixel(10, 5), host(kRed));
    EXPECT_EQ(s.pixel(19, 5), host(kRed));
    EXPECT_EQ(s.pixel(20, 5), host(kGreen));
    // A window that starts past its end covers nothing.
    s.reg(VDP2::WPSX0, 100);
    s.reg(VDP2::WPEX0, 40);
    s.runField();
    EXPECT_EQ(s.pixel(30, 5), host(kGreen));
}

TEST_F(Vdp2ComposeTest, LineColourInsertionAndSpecialHighResolution)
{
    // NBG0 blends with the line colour screen's colour (code 3) at ratio 16.
    greenOverBlueWhiteLines();
    s.reg(VDP2::LNCLEN, 0x0001);
    s.reg(VDP2::CCCTL, 0x0001);
    s.reg(VDP2::CCRNA, 16);
    s.runField();
    const u32 expected = (((0xF8u * 15) >> 5) << 8) + (((0xF8u * 17) >> 5) * 0x010101);
    EXPECT_EQ(s.pixel(5, 5), expected);

    // Exclusive high resolution: NBG0 on even dots, NBG1 on odd ones.
    s.reg(VDP2::TVMD, 0x8006);
    s.runField(1000);
    EXPECT_EQ(s.pixel(0, 0), host(kGreen));
    EXPECT_EQ(s.pixel(1, 0), host(kBlue));
    EXPECT_EQ(s.pixel(638, 479), host(kGreen));
    EXPECT_EQ(s.pixel(639, 479), host(kBlue));
}

// The ratio a calculation takes, worked by hand, in each compositor: the
// top's (mode 0), the lower dot's (mode 2), where the top takes the line
// colour the line colour screen's in place of the lower dot's, and a sprite
// dot's its own.
TEST_F(Vdp2ComposeTest, CalculationTakesTheRatioItsModeNames)
{
    greenOverBlueWhiteLines();
    s.reg(VDP2::CCRNA, 0x1404);  // NBG0 4, NBG1 20
    s.reg(VDP2::CCRLB, 9);
    // Sprite dots of type 0, priority register 0 (3, over NBG0), ratio
    // register 2 (14), colour 5, calculated at any priority.
    std::vector<u8> sprite(VDP1::kFrameBufferSize);
    FrameBufferInfo frame;
    frame.pixels = sprite.data();
    s.sys->vdp2().setSpriteFrame(&frame);
    s.reg(VDP2::SPCTL, 0x2000);
    s.reg(VDP2::PRISA, 0x0003);
    s.reg(VDP2::CCRSB, 14);
    setColor(5, kRed);
    // Each component: the top's by 31 - ratio, the other's by ratio + 1.
    auto blended = [](u32 top, u32 other, u32 ratio) {
        u32 out = 0;
        for (u32 shift : {0u, 8u, 16u})
            out |= ((((top >> shift) & 0xFF) * (31 - ratio) >> 5) + (((other >> shift) & 0xFF) * (ratio + 1) >> 5))
                   << shift;
        return out;
    };
    const struct {
        u16 ccctl, lnclen, spriteDot;
        u32 expected;
        const char* what;
    } cases[] = {
        {0x0001, 0, 0, blended(host(kGreen), host(kBlue), 4), "the top's ratio"},
        {0x0201, 0, 0, blended(host(kGreen), host(kBlue), 20), "the lower dot's ratio"},
        {0x0201, 0x0001, 0, blended(host(kGreen), host(kWhite), 9), "the line colour screen's ratio"},
        {0x0040, 0, 0x1005, blended(host(kRed), host(kGreen), 14), "the sprite dot's own ratio"},
        {0x0240, 0, 0x1005, blended(host(kRed), host(kGreen), 4), "the ratio of the dot below the sprite"},
    };
    const Shortcuts::Vdp2 all;
    Shortcuts::Vdp2 plain = all, general = all;
    plain.avx2 = false;
    general.packedCompositor = false;
    for (const auto& c : cases) {
        s.reg(VDP2::CCCTL, c.ccctl);
        s.reg(VDP2::LNCLEN, c.lnclen);
        for (u32 i = 0; i < sprite.size(); i += 2)
            storeBe16(&sprite[i], c.spriteDot);
        for (const Shortcuts::Vdp2& paths : {all, plain, general}) {
            s.setFastPaths(paths);
            s.runField();
            EXPECT_EQ(s.pixel(5, 5), c.expected)
                << c.what << (!paths.packedCompositor ? ", general compositor" : paths.avx2 ? ", AVX2" : ", plain");
        }
    }
}

TEST_F(Vdp2ComposeTest, ColourModesALayerCannotShowDrawNothing)
{
    solidLayer(0, 1, 2);
    setColor(1, kGreen);
    s.reg(VDP2::CHCTLA, 0x0050);  // NBG0 mode 5: no such mode
    s.runField();
    EXPECT_EQ(s.pixel(0, 0), host(kRed));
    EXPECT_EQ(s.pixel(160, 100), host(kRed));

    s.reg(VDP2::CHCTLA, 0x0000);
    s.reg(VDP2::BGON, 0x0010);  // RBG0 alone
    s.reg(VDP2::PRIR, 0x0007);
    s.reg(VDP2::CHCTLB, 0x7000);  // RBG0 mode 7
    s.runField();
    EXPECT_EQ(s.pixel(100, 50), host(kRed));
}

// The MPEG frame is 512 x 256. In double-density interlace the external
// layer's row runs past 256 at the lower half of the screen; those rows show
// nothing instead of reading past the frame.
TEST_F(Vdp2ComposeTest, ExternalLayerStopsAtTheFrameHeight)
{
    s.sys->vdp2().setVideoStandard(true);
    s.reg(VDP2::TVMD, 0x80E0 | 0x0020);  // LSMD 3, 256 lines: 512 in all
    s.reg(VDP2::EXTEN, 0x0001);
    s.reg(VDP2::CHCTLA, 0x3000);   // 32-bit direct colour
    s.reg(VDP2::BGON, 0x0200);     // its code 0 shows
    s.reg(VDP2::PRINA, 0x0100);
    s.runField(600);
    ASSERT_EQ(s.sys->vdp2().getDisplaySize().height, 512u);
    EXPECT_EQ(s.pixel(0, 0), 0u);
    EXPECT_EQ(s.pixel(100, 254), 0u);
    EXPECT_EQ(s.pixel(100, 256), host(kRed));
    EXPECT_EQ(s.pixel(100, 510), host(kRed));
}

// The external layer asks whatever device it is given for kind 1, so any
// device that answers with a frame shows through it, and one that answers
// without a frame leaves the back screen.
TEST(Vdp2External, AnyDeviceThatAnswersKindOneFeedsTheLayer)
{
    struct Source : Device {
        Source() : Device("SOURCE") {}
        bool readExternalInput(void* out, int kind) override
        {
            kinds.push_back(kind);
            if (!answer || kind != 1)
                return false;
            *static_cast<ExternalFrame*>(out) = {512, 256, frame.data()};
            return true;
        }
        std::vector<u32> frame = std::vector<u32>(512 * 256, 0);
        std::vector<int> kinds;
        bool answer = true;
    } source;
    // The card writes its dots big-endian.
    for (u32 x = 0; x < 512; ++x)
        storeBe32(reinterpret_cast<u8*>(&source.frame[10 * 512 + x]), 0x00FFFFFF);

    Vdp2Scene s;
    std::vector<u8> vram(VDP2::kVramSize), cram(VDP2::kColorRamSize);
    storeBe16(cram.data(), 0x001F);
    VDP2 vdp(&s.sys->vdp1(), nullptr, &source, vram.data(), cram.data());
    vdp.setup(0);
    vdp.setVideoStandard(false);
    const AccessHandlers regs = vdp.getAccessHandlers(VDP2::kRegisters);
    auto reg = [&](u32 offset, u16 value) { regs.writeWord(regs.owner, nullptr, 0x25F80000 + offset, value); };
    auto field = [&] {
        vdp.onVBlankOut(1);
        for (int i = 0, line = -1; i < 263; ++i, line += 2) {
            vdp.onHBlankIn(line);
            vdp.onHBlankOut(line);
        }
        vdp.onVBlankIn();
    };
    reg(VDP2::TVMD, 0x8000);
    reg(VDP2::BKTAU, 0x0003);
    reg(VDP2::BKTAL, 0xFFFF);
    storeBe16(vram.data() + 0x7FFFE, 0x001F);  // a red back screen
    reg(VDP2::EXTEN, 0x0001);
    reg(VDP2::CHCTLA, 0x3000);  // 32-bit direct colour
    reg(VDP2::BGON, 0x0200);    // its code 0 shows
    reg(VDP2::PRINA, 0x0100);
    field();
    EXPECT_EQ(s.pixel(100, 10), 0xFFFFFFu);
    EXPECT_EQ(s.pixel(100, 11), 0u);
    ASSERT_FALSE(source.kinds.empty());
    EXPECT_EQ(std::count(source.kinds.begin(), source.kinds.end(), 1), static_cast<long>(source.kinds.size()));

    source.answer = false;
    field();
    EXPECT_EQ(s.pixel(100, 10), colorTable[0x001F]);
    EXPECT_EQ(s.pixel(100, 11), colorTable[0x001F]);
}

TEST_F(Vdp2ComposeTest, ColourRamWordsAndLongsStayAligned)
{
    const AccessHandlers color = s.sys->vdp2().getAccessHandlers(VDP2::kColorRam);
    s.reg(VDP2::RAMCTL, 0x1000);
    color.writeLong(color.owner, nullptr, 0x25F00FFE, 0x11223344);
    EXPECT_EQ(loadBe32(s.cram() + 0xFFC), 0x11223344u);
    EXPECT_EQ(color.readLong(color.owner, nullptr, 0x25F00FFF), 0x11223344u);
    EXPECT_EQ(color.readWord(color.owner, nullptr, 0x25F00FFF), 0x3344u);
    EXPECT_EQ(loadBe16(s.cram()), kRed) << "nothing wrapped to the start";
}

}  // namespace

namespace {

// Any register values over any memory contents: every fetch stays inside
// VRAM, colour RAM and the frame buffers (the sanitizers watch), and every
// line of the display gets drawn.
TEST(Vdp2Registers, RandomSettingsReadOnlyInsideTheMemories)
{
    Vdp2Scene s;
    u32 seed = 2026;
    auto random = [&seed]() {
        seed = seed * 1664525 + 1013904223;
        return seed >> 8;
    };
    std::vector<u8> sprite(VDP1::kFrameBufferSize);
    FrameBufferInfo frame;
    frame.pixels = sprite.data();
    s.sys->vdp2().setSpriteFrame(&frame);
    for (int round = 0; round < 40; ++round) {
        for (u32 i = 0; i < VDP2::kVramSize; i += 4)
            storeBe32(s.vram() + i, random() ^ random() << 8);
        for (u32 i = 0; i < VDP2::kColorRamSize; ++i)
            s.cram()[i] = static_cast<u8>(random());
        for (u32 i = 0; i < sprite.size(); ++i)
            sprite[i] = static_cast<u8>(random());
        frame.rotation = random() & 1;
        frame.eightBit = random() & 1;
        frame.width = (random() & 1) ? 1024 : 512;
        frame.height = (random() & 1) ? 512 : 256;
        for (u32 offset = 0; offset <= VDP2::kLastRegister; offset += 2)
            s.reg(offset, static_cast<u16>(random()));
        // Display on, a mode that keeps the run short.
        const u16 tvmd = static_cast<u16>(0x8000 | (random() & 0x01F7));
        s.reg(VDP2::TVMD, tvmd);
        std::fill(s.canvas.begin(), s.canvas.end(), 0xFF000000u);
        s.runField(600);
        const DisplaySize size = s.sys->vdp2().getDisplaySize();
        ASSERT_LE(size.width, 704u);
        ASSERT_LE(size.height, 512u);
        // Non-interlaced fields draw every line; the pixels are 0x00RRGGBB.
        if (((tvmd >> 6) & 3) == 0) {
            for (u32 y = 0; y < size.height; ++y)
                ASSERT_EQ(s.pixel(size.width - 1, y) >> 24, 0u) << std::hex << tvmd << " line " << std::dec << y;
        }
    }
}

// A program may write any register or colour word between two lines; the
// picture must change from the next line on, exactly as if the value had
// been there for the whole field, and not a line later or at the next field.
TEST(Vdp2RasterEffects, WritesBetweenLinesShowFromTheNextLine)
{
    constexpr u32 kWidth = 320, kHeight = 224, kLine = 100;
    Vdp2Scene s;
    s.randomMemories(99);
    // Four NBG layers over random characters, the sprite layer, colour
    // calculation on NBG0 and the sprite, and window 0 on NBG0.
    const std::pair<u32, u16> base[] = {
        {VDP2::TVMD, 0x8000}, {VDP2::BGON, 0x000F}, {VDP2::CHCTLA, 0x0010}, {VDP2::PNCN0, 0x8000},
        {VDP2::PNCN1, 0x8000}, {VDP2::PNCN2, 0x8000}, {VDP2::PNCN3, 0x8000}, {VDP2::MPABN0, 0x0808},
        {VDP2::MPABN0 + 4, 0x0C0C}, {VDP2::MPABN0 + 8, 0x1010}, {VDP2::MPABN0 + 12, 0x1414}, {VDP2::ZMXIN0, 1},
        {VDP2::ZMYIN0, 1}, {VDP2::ZMXIN1, 1}, {VDP2::ZMYIN1, 1}, {VDP2::PRINA, 0x0304}, {VDP2::PRINB, 0x0102},
        {VDP2::PRISA, 0x0506}, {VDP2::PRISB, 0x0203}, {VDP2::SPCTL, 0x2001}, {VDP2::CCCTL, 0x0041},
        {VDP2::CCRNA, 0x000C}, {VDP2::CCRSA, 0x0808}, {VDP2::WPSX0, 80}, {VDP2::WPEX0, 400}, {VDP2::WPEY0, 223},
        {VDP2::WCTLA, 0x0002}, {VDP2::COAR, 0x0080},
    };
    for (const auto& [offset, value] : base)
        s.reg(offset, value);

    std::vector<u32> plain, written, throughout;
    auto field = [&](std::vector<u32>& picture, const std::function<void(int)>& beforeLine) {
        s.runField(263, beforeLine);
        picture.clear();
        for (u32 y = 0; y < kHeight; ++y)
            for (u32 x = 0; x < kWidth; ++x)
                picture.push_back(s.pixel(x, y));
    };
    auto rows = [&](const std::vector<u32>& picture, u32 first, u32 end) {
        return std::vector<u32>(picture.begin() + first * kWidth, picture.begin() + end * kWidth);
    };
    field(plain, {});
    // The write comes in the blanking before line kLine; the next field has
    // the new value throughout.
    auto check = [&](const std::function<void()>& write, u32 what) {
        field(written, [&](int y) {
            if (y == static_cast<int>(kLine))
                write();
        });
        field(throughout, {});
        EXPECT_EQ(rows(written, 0, kLine), rows(plain, 0, kLine)) << std::hex << what;
        EXPECT_EQ(rows(written, kLine, kHeight), rows(throughout, kLine, kHeight)) << std::hex << what;
        EXPECT_NE(rows(throughout, kLine, kHeight), rows(plain, kLine, kHeight)) << std::hex << what;
    };

    // One register of each group the set-up keeps apart, and some that
    // reach every layer.
    const std::pair<u32, u16> changes[] = {
        {VDP2::SCXIN0, 77}, {VDP2::SCXIN1, 5}, {VDP2::SCXN2, 9}, {VDP2::SCXN3, 200}, {VDP2::MPABN0 + 4, 0x2020},
        {VDP2::PNCN2, 0x8011}, {VDP2::PRINA, 0x0403}, {VDP2::PRINB, 0x0702}, {VDP2::CCRNA, 0x001F},
        {VDP2::WPSX0, 300}, {VDP2::WPEY0, 150}, {VDP2::WCTLA, 0x0003}, {VDP2::PRISA, 0x0701}, {VDP2::CCRSA, 0x1F00},
        {VDP2::SPCTL, 0x0005}, {VDP2::CCCTL, 0x0001}, {VDP2::CLOFEN, 0x007F}, {VDP2::BGON, 0x000B},
        {VDP2::MZCTL, 0x3303},
    };
    for (const auto& [offset, value] : changes) {
        const u16 old = s.sys->vdp2().reg(offset);
        check([&] { s.reg(offset, value); }, offset);
        s.reg(offset, old);
    }
    const AccessHandlers color = s.sys->vdp2().getAccessHandlers(VDP2::kColorRam);
    const std::vector<u8> saved(s.cram(), s.cram() + VDP2::kColorRamSize);
    check([&] {
        for (u32 code = 0; code < 256; code += 8)
            color.writeWord(color.owner, nullptr, 0x25F00000 + 2 * code, 0x7FFF);
    }, 0x25F00000);
    // Written around the bus, unannounced: the frame start finds it.
    std::copy(saved.begin(), saved.end(), s.sys->memory().vdp2ColorRam.get());
    field(written, {});
    EXPECT_EQ(written, plain);
}

// A VRAM bank RAMCTL gives to RBG0's data is RBG0's alone while RBG0 is on:
// a normal layer's bitmap dots, names and characters there are transparent.
TEST_F(Vdp2ComposeTest, NormalLayersGetNothingFromRotationBanks)
{
    setColor(1, kGreen);
    // NBG1: a 512 x 256 bitmap of 32K colours in A0 and A1.
    for (u32 i = 0; i < 0x40000; i += 2)
        storeBe16(s.vram() + i, static_cast<u16>(0x8000 | kGreen));
    // NBG0 (cells): names in a B0 page, character 1 in A1 at 0x20020.
    auto cells = [&](bool on) {
        for (u32 i = 0; i < 32; ++i)
            s.vram()[0x20020 + i] = 0x11;
        for (u32 i = 0; i < 0x2000; i += 2)
            storeBe16(s.vram() + 0x40000 + i, 1);
        const std::pair<u32, u16> regs[] = {{VDP2::CHCTLA, on ? 0x0000 : 0x3200}, {VDP2::PRINA, on ? 0x0003 : 0x0300},
            {VDP2::PNCN0, 0x8004}, {VDP2::MPABN0, 0x2020}, {VDP2::MPABN0 + 2, 0x2020}, {VDP2::ZMXIN0, 1},
            {VDP2::ZMYIN0, 1}, {VDP2::ZMXIN1, 1}, {VDP2::ZMYIN1, 1}, {VDP2::SCXIN0, 3}};
        for (const auto& [offset, value] : regs)
            s.reg(offset, value);
    };
    const u32 green = host(kGreen), red = host(kRed);
    struct Case {
        u16 ramctl, bgon;
        u32 top, bottom;  // lines 10 and 200
    } cases[] = {
        {0x1327, 0x0012, red, red},      // bitmap: A0 characters, A1 coefficients, B0 names
        {0x1327, 0x0002, green, green},  // RBG0 off: no bank is held
        {0x0304, 0x0012, green, red},    // A divided, A1 held
        {0x0030, 0x0011, red, red},      // NBG0's names held
        {0x010C, 0x0011, red, red},      // NBG0's character held
        {0x0103, 0x0011, green, green},  // A0 held: neither
    };
    for (const bool avx2 : {false, hostHasAvx2()}) {
        s.setFastPaths({avx2});
        for (const Case& c : cases) {
            cells(c.bgon == 0x0011);
            s.reg(VDP2::RAMCTL, c.ramctl);
            s.reg(VDP2::BGON, c.bgon);
            s.runField();
            for (const u32 x : {2u, 100u}) {
                EXPECT_EQ(s.pixel(x, 10), c.top) << std::hex << c.ramctl << " " << c.bgon;
                EXPECT_EQ(s.pixel(x, 200), c.bottom) << std::hex << c.ramctl << " " << c.bgon;
            }
        }
    }
}

// The same rule on the loops a zoomed layer and a layer with vertical cell
// scroll take, while the line-scroll and vertical-cell-scroll tables are
// read from a held bank as from any other: their offsets still apply.
TEST_F(Vdp2ComposeTest, RotationBanksHideZoomedAndCellScrolledLayers)
{
    setColor(1, kGreen);
    setColor(2, kBlue);
    // NBG0: names in a B0 page, character 1 in A1 at 0x20020, its rows 0-3
    // green and 4-7 blue; both tables in A0 push the rows down by 4.
    for (u32 i = 0; i < 32; ++i)
        s.vram()[0x20020 + i] = i < 16 ? 0x11 : 0x22;
    for (u32 i = 0; i < 0x2000; i += 2)
        storeBe16(s.vram() + 0x40000 + i, 1);
    for (u32 i = 0; i < 0x400; i += 4) {
        storeBe32(s.vram() + 0x10000 + i, 0x00040000);  // vertical cell scroll
        storeBe32(s.vram() + 0x18000 + i, 0x00040000);  // line scroll Y
    }
    const std::pair<u32, u16> regs[] = {{VDP2::PNCN0, 0x8004}, {VDP2::MPABN0, 0x2020}, {VDP2::MPABN0 + 2, 0x2020},
        {VDP2::PRINA, 0x0003}, {VDP2::ZMYIN0, 1}, {VDP2::VCSTAL, 0x8000}, {VDP2::LSTA0L, 0xC000},
        {VDP2::CYCA0L, 0xCFFF}};  // A0's first access: NBG0's cell-scroll table
    for (const auto& [offset, value] : regs)
        s.reg(offset, value);
    const u32 green = host(kGreen), blue = host(kBlue), red = host(kRed);
    struct Case {
        const char* what;
        u16 zoom;  // ZMXDN0, with ZMXIN0 0 when set
        u16 scrctl;
        u16 ramctl, bgon;
        u32 line0, line4;
    } cases[] = {
        {"zoomed, names held", 0x8000, 0, 0x0030, 0x0011, red, red},
        {"zoomed, character held", 0x8000, 0, 0x010C, 0x0011, red, red},
        {"zoomed, A0 held", 0x8000, 0, 0x0103, 0x0011, green, blue},
        {"cell scroll, names held", 0, 1, 0x0030, 0x0011, red, red},
        {"cell scroll, character held", 0, 1, 0x010C, 0x0011, red, red},
        {"cell scroll, its table held", 0, 1, 0x0103, 0x0011, blue, green},
        {"cell scroll, RBG0 off", 0, 1, 0x0030, 0x0001, blue, green},
        {"line scroll, its table held", 0, 4, 0x0103, 0x0011, blue, blue},  // the table's Y on every line
    };
    for (const Case& c : cases) {
        s.reg(VDP2::ZMXIN0, c.zoom ? 0 : 1);
        s.reg(VDP2::ZMXDN0, c.zoom);
        s.reg(VDP2::SCRCTL, c.scrctl);
        s.reg(VDP2::RAMCTL, c.ramctl);
        s.reg(VDP2::BGON, c.bgon);
        s.runField();
        for (const u32 x : {2u, 100u}) {
            EXPECT_EQ(s.pixel(x, 0), c.line0) << c.what;
            EXPECT_EQ(s.pixel(x, 4), c.line4) << c.what;
        }
    }
}

}  // namespace
