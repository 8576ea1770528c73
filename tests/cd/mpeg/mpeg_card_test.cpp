// The MPEG card driven through the CD block's registers, on discs of
// generated MPEG packets.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "cd/drive/mp2_decoder.h"
#include "cd/media/bin.h"
#include "cd/media/disc_images.h"
#include "core/base/bus.h"
#include "core/machine/system.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#include "support/log_capture.h"
#pragma GCC diagnostic pop

namespace {

constexpr u32 kRegs = 0x25890000;
constexpr u32 kForm2Bytes = 2324;
// A Video CD audio packet as ffmpeg and vcdimager lay it out: pack header,
// packet start code, length 2286 and a time stamp, then 2281 bytes of the
// stream and 20 bytes of padding.
constexpr u32 kPayloadStart = 23;
constexpr u32 kPayloadBytes = 2281;

std::vector<u8> audioPacket(u32 fad, const u8* payload)
{
    std::vector<u8> data(kForm2Bytes, 0);
    const u8 header[kPayloadStart] = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x1B, 0xC7, 0x80, 0x1B, 0x91,
                                      0x00, 0x00, 0x01, 0xC0, 0x08, 0xEE, 0x21, 0x00, 0x03, 0x45, 0x2B};
    std::copy(header, header + kPayloadStart, data.begin());
    std::copy(payload, payload + kPayloadBytes, data.begin() + kPayloadStart);
    return disc::rawSector(fad, 5, data.data());
}

std::vector<u8> formTwo(u32 fad, u8 fill)
{
    const std::vector<u8> data(kForm2Bytes, fill);
    return disc::rawSector(fad, 5, data.data());
}

class MpegCardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        sys = std::make_unique<CSystem>();
        sys->setup(0);
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
    }

    CDB& cdb() { return sys->cdb(); }

    // A disc of the given raw sectors from FAD 150, with the CD block set
    // up as a player sets it: the drive into filter 0, 2324-byte form 2 data.
    void insert(const std::vector<std::vector<u8>>& sectors)
    {
        std::vector<u8> image;
        for (const auto& s : sectors)
            disc::append(image, s);
        disc::writeFile(dir.file("disc.bin"), image);
        sys->setMedia(std::make_shared<CBin>(dir.file("disc.bin")));
        sys->drive().switchOn();
        cdb().switchOn();
        pumpUntil([&] { return log.text().find("readTOC<END>") != std::string::npos; });
        command(0x0401);
        command(0x6000);
        command(0x3000);
    }
    void pump()
    {
        u32 slice = 0;
        scheduler().run(slice);
        scheduler().advance();
    }
    // Runs until done, waiting for the drive's worker while the block plays.
    template <typename Predicate>
    bool pumpUntil(Predicate done)
    {
        for (int i = 0; i < 2000000 && !done(); ++i) {
            SectorBuffer ready;
            if (cdb().driveState() == CDB::kPlaying && !sys->drive().peekSector(ready))
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            pump();
        }
        return done();
    }
    u16 hirq() { return cdb().readRegister(nullptr, kRegs + 0x08); }
    u16 command(u16 cr1, u16 cr2 = 0, u16 cr3 = 0, u16 cr4 = 0)
    {
        cdb().writeRegister(nullptr, kRegs + 0x08, 0);
        for (u32 i = 0; i < 4; ++i)
            cdb().writeRegister(nullptr, kRegs + 0x18 + 4 * i, std::array<u16, 4>{cr1, cr2, cr3, cr4}[i]);
        EXPECT_TRUE(pumpUntil([&] { return hirq() & 1; })) << std::hex << cr1;
        return cdb().cr(0);
    }

    TempDir dir;
    std::unique_ptr<CSystem> sys;
    LogCapture log;
};

TEST_F(MpegCardTest, CommandsAnswerInTheCardsShape)
{
    insert({formTwo(150, 0)});
    command(0x9500);  // MpPlay
    EXPECT_EQ(command(0x9000) & 0xFF, 0x33);
    EXPECT_EQ(cdb().cr(1), static_cast<u16>(cdb().frames()));
    EXPECT_EQ(cdb().cr(2), 0x00C0);
    EXPECT_EQ(cdb().cr(3), 0x0102);

    // MpInit off answers the empty report and raises only the end bit.
    EXPECT_EQ(command(0x9300, 0x0000) & 0xFF, 0xFF);
    EXPECT_EQ(cdb().cr(1), 0xFFFF);
    EXPECT_EQ(cdb().cr(3), 0xFFFF);
    EXPECT_EQ(hirq() & 0x1801, 0x0801);
    command(0x9300, 0x0001);
    EXPECT_EQ(hirq() & 0x1801, 0x1801);

    // The decoder reset through the control register sets the status
    // register's bit 14; switch bit 1 skips the read, bit 0 the write.
    command(0xAF00, 0x0006, 0, 0x0000);
    command(0xAE00, 0x0006);
    EXPECT_EQ(cdb().cr(3), 0x0000);
    command(0xAF00, 0x001A, 0, 0x0000);
    EXPECT_EQ(cdb().cr(3), 0xFFFF) << "the control register's old value";
    command(0xAF03, 0x0006, 0, 0x1234);
    EXPECT_EQ(cdb().cr(3), 0x0000);
    command(0xAE00, 0x0006);
    EXPECT_EQ(cdb().cr(3), 0x4000);

    // Connections read back as set; a partition number past the 24 stays
    // a number only.
    command(0x9A03, 0x0105, 0x0004, 0x021E);
    EXPECT_EQ(command(0x9B00) & 0xFF, 0x03);
    EXPECT_EQ(cdb().cr(1), 0x0105);
    EXPECT_EQ(cdb().cr(2), 0x0004);
    EXPECT_EQ(cdb().cr(3), 0x021E);

    // Commands without parameters: MpGetTc answers the status alone,
    // MpReadSct the MPEG report and the end bit.
    command(0x9800);
    EXPECT_EQ(cdb().cr(0) & 0xFF, 0);
    EXPECT_EQ(cdb().cr(2), 0);
    EXPECT_EQ(command(0xA900) & 0xFF, 0x33);
    EXPECT_EQ(hirq() & 0x0800, 0x0800);

    EXPECT_EQ(command(0xE200, 0, 0x1E00, 1) & 0xFF, 0xFF) << "ReadMpRom with no such filter";
    command(0xE200, 0, 0x0000, 1);
    EXPECT_EQ(hirq() & 0x0804, 0x0804);
}

TEST_F(MpegCardTest, VideoSectorsBecomeTheGreyPicture)
{
    insert({formTwo(150, 0xFE), formTwo(151, 0), formTwo(152, 0)});
    command(0x9A03, 0x00FF, 0x0003, 0x0000);  // video from partition 0
    command(0x9500);
    command(0x1080, 150, 0x0080, 3);
    CDB::FrameBuffer frame{};
    ASSERT_TRUE(cdb().readExternalInput(&frame, 1));
    ASSERT_EQ(frame.width * frame.height, 131072u);
    const u8* bytes = reinterpret_cast<const u8*>(frame.pixels);
    ASSERT_TRUE(pumpUntil([&] { return loadBe32(bytes) != 0; }));
    // The 2324 data bytes, halved, repeat every 2352 pixels.
    for (u32 k : {0u, 2323u, 2352u, 131071u - 28u})
        EXPECT_EQ(loadBe32(bytes + 4 * k), 0x807F7F7Fu) << k;
    EXPECT_EQ(loadBe32(bytes + 4 * 2324), 0x80000000u);
    EXPECT_EQ(command(0x9000) & 0x0F, 0x04);
    EXPECT_EQ(cdb().cr(3) & 1, 1);
}

TEST_F(MpegCardTest, AudioPacketsPlayThroughTheCdAudioRing)
{
    // A 192 kbit/s stream cut into two packets: the seven frames that lie
    // wholly in them play without a gap, the one cut in two included.
    std::ifstream in(std::filesystem::path(KEST_MP2_STREAMS_DIR) / "ffstereo44.bit", std::ios::binary);
    const std::vector<u8> stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(stream.size(), 2 * kPayloadBytes);
    Mp2Decoder reference;
    mp2Init(reference);
    std::vector<s16> expected;
    std::vector<s16> pcm(2 * kMp2FrameSamples);
    for (std::size_t at = 0;;) {
        const s32 length = mp2DecodeFrame(&reference, stream.data() + at, 2 * kPayloadBytes - at, pcm.data());
        if (length <= 0)
            break;
        expected.insert(expected.end(), pcm.begin(), pcm.end());
        at += static_cast<std::size_t>(length);
    }
    ASSERT_EQ(expected.size(), 7 * 2 * kMp2FrameSamples);
    insert({audioPacket(150, stream.data()), audioPacket(151, stream.data() + kPayloadBytes), formTwo(152, 0),
            formTwo(153, 0)});
    cdb().setThreshold(2);
    command(0x9A03, 0x0000, 0x0003, 0x00FF);  // audio from partition 0
    command(0x9500);
    command(0x1080, 150, 0x0080, 4);
    ASSERT_TRUE(pumpUntil([&] { return log.text().find("fad: 151]") != std::string::npos; }));
    EXPECT_NE(log.text().find("MP2 audio length [i: 23, len: 2281, fad: 150]"), std::string::npos);

    std::vector<s16> heard;
    for (u32 k = 0; k < 7 * kMp2FrameSamples; ++k) {
        u8 pair[4];
        cdb().readExternalInput(pair, 0);
        heard.push_back(static_cast<s16>(pair[0] | pair[1] << 8));
        heard.push_back(static_cast<s16>(pair[2] | pair[3] << 8));
    }
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(command(0x9000) & 0xF0, 0x40);
    EXPECT_EQ(cdb().cr(2) & 1, 1);
}

}  // namespace
