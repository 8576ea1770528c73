// Registers, frame-buffer changes, the walker and the clock charges.
#include "core/base/shared_state.h"
#include "support/log_capture.h"
#include "vdp1_fixture.h"

namespace {

using Vdp1Test = Vdp1Fixture;

u16 rw(VDP1& v, u32 offset)
{
    const AccessHandlers h = v.getAccessHandlers(VDP1::kRegisters);
    return h.readWord(h.owner, nullptr, 0x05D00000 + offset);
}

void ww(VDP1& v, u32 offset, u16 d)
{
    const AccessHandlers h = v.getAccessHandlers(VDP1::kRegisters);
    h.writeWord(h.owner, nullptr, 0x05D00000 + offset, d);
}

TEST_F(Vdp1Test, RegisterFileReadsThroughItsMasks)
{
    EXPECT_EQ(rw(vdp, VDP1::kMODR), 0x1000);
    ww(vdp, VDP1::kTVMR, 0x000B);
    ww(vdp, VDP1::kFBCR, 0x001C);
    ww(vdp, VDP1::kPTMR, 2);
    EXPECT_EQ(rw(vdp, VDP1::kMODR), 0x11EB);
    const AccessHandlers h = vdp.getAccessHandlers(VDP1::kRegisters);
    ww(vdp, VDP1::kENDR, 0);  // forced end: EDSR bit 1 even while idle
    EXPECT_EQ(h.readLong(h.owner, nullptr, 0x05D00010), 0x00020000u);
    EXPECT_EQ(h.readByte(h.owner, nullptr, 0x05D00016), 0x11);
    LogCapture log;
    h.writeByte(h.owner, nullptr, 0x05D00004, 1);
    EXPECT_TRUE(log.contains("Bad WB [A: 05D00004, D: 01], prohibited!"));
    EXPECT_EQ(rw(vdp, VDP1::kTVMR), 0);
    EXPECT_TRUE(log.contains("Bad RW [A: 05D00000]"));
}

TEST_F(Vdp1Test, ChangeModesEraseAndSwapAtTheirEvents)
{
    ww(vdp, VDP1::kEWDR, 0x1234);
    ww(vdp, VDP1::kEWRR, 0x50FF);  // whole 320 x 256
    storeBe16(vdp.displayBuffer() + 2 * (100 * 512 + 5), 0x7777);
    u8* first = vdp.displayBuffer();
    // One-cycle mode: the shown buffer is erased, then becomes the draw buffer.
    vdp.onVBlankOut();
    EXPECT_EQ(loadBe16(first + 2 * (100 * 512 + 5)), 0x1234);
    EXPECT_EQ(loadBe16(first + 2 * (100 * 512 + 320)), 0);
    vdp.onHBlankIn(0);
    EXPECT_EQ(vdp.drawBuffer(), first);
    EXPECT_EQ(vdp.getDisplayFrameBuffer()->pixels, first + VDP1::kFrameBufferSize);
    // Mode 1 is invalid: nothing happens.
    ww(vdp, VDP1::kFBCR, 1);
    vdp.onHBlankIn(0);
    EXPECT_EQ(vdp.drawBuffer(), first);
    // Mode 7: erase every field, change once per FBCR write.
    ww(vdp, VDP1::kTVMR, 8);
    ww(vdp, VDP1::kFBCR, 3);
    vdp.onHBlankIn(0);
    vdp.onHBlankIn(-1);
    EXPECT_EQ(vdp.displayBuffer(), first);
    storeBe16(first, 0x5555);
    vdp.onVBlankOut();
    EXPECT_EQ(loadBe16(first), 0x1234);
}

TEST_F(Vdp1Test, KeptFrameSizesStayInsideTheBufferHalf)
{
    ww(vdp, VDP1::kTVMR, 3);  // 512 x 512, 8-bit
    ww(vdp, VDP1::kTVMR, 6);  // 16-bit, size kept
    const FrameBufferInfo* info = vdp.getDisplayFrameBuffer();
    EXPECT_EQ(info->eightBit, 0);
    EXPECT_EQ(info->rotation, 1);
    EXPECT_EQ(info->width * info->height * 2, static_cast<s32>(VDP1::kFrameBufferSize));
    draw({Table{.ctrl = 9, .xy = {0, 0, 0, 0, 511, 511}}});
    const std::vector<u8> drawHalf(vdp.drawBuffer(), vdp.drawBuffer() + VDP1::kFrameBufferSize);
    ww(vdp, VDP1::kEWDR, 0xAAAA);
    ww(vdp, VDP1::kEWRR, 0xFFFF);
    vdp.erase();
    EXPECT_EQ(std::vector<u8>(vdp.drawBuffer(), vdp.drawBuffer() + VDP1::kFrameBufferSize), drawHalf);
    EXPECT_EQ(loadBe16(vdp.displayBuffer() + VDP1::kFrameBufferSize - 2), 0xAAAA);
    // A polygon over the whole kept frame stays in the draw half too.
    draw({Table{.ctrl = 9, .xy = {0, 0, 0, 0, 511, 511}},
          Table{.ctrl = 4, .colr = 0x8421, .xy = {0, 0, 511, 0, 511, 511, 0, 511}}});
    EXPECT_EQ(loadBe16(vdp.displayBuffer()), 0xAAAA);
}

TEST_F(Vdp1Test, ResetPointsTheBuffersAtTheDisplayIndex)
{
    u8* first = vdp.displayBuffer();
    vdp.swapFrameBuffers();
    EXPECT_EQ(vdp.displayIndex(), 1);
    vdp.reset();
    EXPECT_EQ(vdp.displayIndex(), 0);
    EXPECT_EQ(vdp.displayBuffer(), first);
    EXPECT_EQ(vdp.getDisplayFrameBuffer()->pixels, first);
}

TEST_F(Vdp1Test, ClockChargesOfLinesAndQuads)
{
    draw({Table{.ctrl = 4, .colr = 0x8001, .xy = {0, 0, 9, 0, 9, 9, 0, 9}}});
    EXPECT_EQ(vdp.lastCommandClocks(), 100u);
    draw({Table{.ctrl = 4, .pmod = 0xC3, .colr = 0x8001, .xy = {0, 0, 9, 0, 9, 9, 0, 9}}});
    EXPECT_EQ(vdp.lastCommandClocks(), 700u);
    EXPECT_EQ(pixel(9, 9), 0x8000);  // half of 0x8001 plus half of itself
    // SCLIP to 320 wide, then a line from -10 to 10, with and without PCLP.
    for (u16 pclp : {0, 0x800}) {
        draw({Table{.ctrl = 9, .xy = {0, 0, 0, 0, 319, 223}},
              Table{.ctrl = 6, .pmod = static_cast<u16>(0xC0 | pclp), .colr = 0x8003, .xy = {-10, 50, 10, 50}}});
        EXPECT_EQ(vdp.lastCommandClocks(), 11u);
        EXPECT_EQ(pixel(0, 50), 0x8003);
        EXPECT_EQ(pixel(10, 50), 0x8003);
        setPixel(0, 50, 0);
        setPixel(10, 50, 0);
    }
    // Single points: inside one pixel, outside nothing; one clock each.
    draw({Table{.ctrl = 6, .colr = 0x8005, .xy = {0, 0, 0, 0}}});
    EXPECT_EQ(vdp.lastCommandClocks(), 1u);
    EXPECT_EQ(pixel(0, 0), 0x8005);
    draw({Table{.ctrl = 6, .colr = 0x8005, .xy = {-1, 0, -1, 0}}});
    EXPECT_EQ(vdp.lastCommandClocks(), 1u);
}

TEST_F(Vdp1Test, SpriteCodesShrinkPlacementAndEightBitWrites)
{
    // Row 1 F 2 F 3 ...: 1 drawn, F skipped, 2 drawn, the second F stops.
    vram()[0x1000] = 0x1F;
    vram()[0x1001] = 0x2F;
    vram()[0x1002] = 0x34;
    draw({Table{.ctrl = 0, .pmod = 0, .colr = 0x0100, .srca = 0x1000 / 8, .size = 0x0101, .xy = {0, 0}}});
    EXPECT_EQ(pixel(0, 0), 0x0101);
    EXPECT_EQ(pixel(1, 0), 0);
    EXPECT_EQ(pixel(2, 0), 0x0102);
    EXPECT_EQ(pixel(4, 0), 0);
    // 16 texels into 8 pixels with HSS: even texels, or odd ones with EOS.
    for (u32 i = 0; i < 16; ++i)
        vram()[0x2000 + i] = static_cast<u8>(i);
    for (u16 eos : {0, 1}) {
        ww(vdp, VDP1::kFBCR, static_cast<u16>(eos << 4));
        draw({Table{.ctrl = 1, .pmod = 0x10C0 | 4 << 3, .srca = 0x2000 / 8, .size = 0x0201, .xy = {0, 4, 0, 0, 7, 4}}});
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(pixel(x, 4), 2 * x + eos);
    }
    // 256 texels shrunk into one pixel are walked from texel 0: two end
    // codes before the pixel's texel 128 leave it undrawn.
    for (u32 i = 0; i < 256; ++i)
        vram()[0x3000 + i] = static_cast<u8>(i == 10 || i == 20 ? 0xFF : 0x42);
    draw({Table{.ctrl = 1, .pmod = 0x40 | 4 << 3, .srca = 0x3000 / 8, .size = 0x2001, .xy = {30, 30, 0, 0, 30, 30}}});
    EXPECT_EQ(pixel(30, 30), 0);
    vram()[0x3000 + 20] = 0x42;
    draw({Table{.ctrl = 1, .pmod = 0x40 | 4 << 3, .srca = 0x3000 / 8, .size = 0x2001, .xy = {30, 30, 0, 0, 30, 30}}});
    EXPECT_EQ(pixel(30, 30), 0x42);
    // An RGB texture in the last VRAM bytes wraps to table 0, placed by the
    // zoom point around (20, 10): 8 texels over 9 pixels.
    put(0x20, Table{.ctrl = 0x8000});
    put(0x00, Table{.ctrl = 0x0A01, .link = 0x8022, .pmod = 0xC0 | 5 << 3, .srca = 0xFFFF, .size = 0x0101,
                    .xy = {20, 10, 8, 0}});
    word(0x7FFF8, 0x8011);
    word(0x7FFFE, 0x8044);
    storeBe16(memory.data() + VDP1::kVramSize, 0x8033);  // what an unmasked read would find
    run(1000);
    EXPECT_EQ(pixel(15, 10), 0);
    EXPECT_EQ(pixel(16, 10), 0x8011);
    EXPECT_EQ(pixel(20, 10), 0x8044);
    EXPECT_EQ(pixel(21, 10), 0xFC00);  // table 0's CMDCTRL: MSB clear
    EXPECT_EQ(pixel(22, 10), 0x8022);  // its CMDLINK
    ww(vdp, VDP1::kTVMR, 1);
    draw({Table{.ctrl = 6, .colr = 0x1234, .xy = {3, 2, 3, 2}}});
    EXPECT_EQ(vdp.drawBuffer()[2 * 1024 + 3], 0x34);
}

TEST_F(Vdp1Test, WalkerJumpsCallsAndStops)
{
    LogCapture log;
    vdp.setThreshold(2);
    // 0: CALL 0x100 (skipped command); 0x100: CALL again (warned) to 0x140;
    // 0x140: RETURN to 0x20; 0x20: RETURN with none pending; 0x40: END.
    put(0x000, Table{.ctrl = 0x6000, .link = 0x100 / 8});
    put(0x100, Table{.ctrl = 0x6000, .link = 0x140 / 8});
    put(0x140, Table{.ctrl = 0x7000});
    put(0x020, Table{.ctrl = 0x7000});
    put(0x040, Table{.ctrl = 0xC000});
    run(1000);
    EXPECT_TRUE(log.contains("SPRITE_N: Already in a subroutine"));
    EXPECT_TRUE(log.contains("SPRITE_N: Not in a subroutine"));
    EXPECT_FALSE(vdp.drawing());
    EXPECT_EQ(vdp.registers().EDSR & 2, 2);
    EXPECT_EQ(vdp.registers().COPR, 0x40 / 8);
    // An invalid code stops the walk without the end flag.
    vdp.onHBlankIn(0);
    vdp.onHBlankIn(0);
    put(0x000, Table{.ctrl = 0x000C});
    run(1000);
    EXPECT_FALSE(vdp.drawing());
    EXPECT_EQ(vdp.registers().EDSR & 2, 0);
    EXPECT_TRUE(log.contains("COMMAND<INVALID> [ramptr: 00000000, CMDCTRL: 000C]"));
}

TEST_F(Vdp1Test, TableReadsWrapInsideVram)
{
    // A LINE in the last table: its words past the end wrap to the start of
    // VRAM (where table 0 sits), not into the frame buffers behind it.
    put(0x7FFF8, Table{.ctrl = 0x0006, .pmod = 0xC0, .colr = 0x8007});
    const u16 head[6] = {0x5000, 0xFFFF, 5, 6, 5, 6};  // skip, ASSIGN 0x7FFF8; XA YA XB YB
    for (u32 i = 0; i < 6; ++i)
        word(2 * i, head[i]);
    word(0x18, 0x8000);
    memory[VDP1::kVramSize + 4] = 0x01;  // what an unmasked read would find
    run(1000);
    EXPECT_EQ(pixel(5, 6), 0x8007);
    EXPECT_FALSE(vdp.drawing());
    // A CALL from the last table returns to table 0, which is a real address.
    LogCapture log;
    put(0x000, Table{.ctrl = 0x5000, .link = 0x7FFE0 / 8});
    put(0x7FFE0, Table{.ctrl = 0x6000, .link = 0x100 / 8});
    put(0x100, Table{.ctrl = 0x7000});
    run(200);
    EXPECT_TRUE(vdp.drawing());  // the loop is cut by the budget
    EXPECT_FALSE(log.contains("Not in a subroutine"));
    // A table that jumps to itself ends the slice too.
    put(0x000, Table{.ctrl = 0x5000, .link = 0});
    run(500);
    EXPECT_TRUE(vdp.drawing());
    EXPECT_EQ(vdp.budget() - vdp.clocksLeft(), 500);
}

TEST_F(Vdp1Test, SpriteSwitchOffWalksTheListWithoutDrawing)
{
    layerDebugSwitches[kSpriteLayerSwitch] = 0;
    draw({Table{.ctrl = 4, .colr = 0x8001, .xy = {0, 0, 9, 0, 9, 9, 0, 9}}});
    layerDebugSwitches[kSpriteLayerSwitch] = 1;
    EXPECT_EQ(pixel(0, 0), 0);
    EXPECT_FALSE(vdp.drawing());
    EXPECT_EQ(vdp.registers().EDSR & 2, 2);
}

}  // namespace
