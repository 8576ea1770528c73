#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "cd/drive/cd_drive.h"
#include "cd/media/ioctl.h"
#include "core/base/helpers.h"
#include "core/emulator/kest.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

using Bytes = std::vector<u8>;

// READ TOC (format 0, MSF) as a drive answers it for a disc of one data
// track at 00:02:00 and audio tracks at 00:04:00 and 00:06:00, lead-out
// at 00:08:00.
const Bytes kToc = {
    0x00, 0x22, 0x01, 0x03,                          // length 34, tracks 1-3
    0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,  // ADR 1, control 4 (data)
    0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00,
    0x00, 0x10, 0x03, 0x00, 0x00, 0x00, 0x06, 0x00,
    0x00, 0x14, 0xAA, 0x00, 0x00, 0x00, 0x08, 0x00,  // lead-out
};

// A drive that keeps every command block it is sent and answers from a
// script: the INQUIRY device type, the TOC, sectors filled from their LBA.
struct FakeDrive : ScsiTransport {
    std::vector<Bytes>* commands;
    bool opens = true;
    u8 deviceType = 0x05;
    Bytes toc = kToc;
    u32 tocLimit = 0xFFFFFFFF;  // bytes the drive actually sends
    bool readsFail = false;
    u8 mediaStatus = 2;
    bool open_ = false;

    explicit FakeDrive(std::vector<Bytes>* log) : commands(log) {}
    bool open(const std::string&) override { return open_ = opens; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    std::string lastError() const override { return "SCSI status 02, sense 2/3A/00"; }

    bool execute(const u8* cdb, u32 cdbLength, u8* data, u32 length, u32, u32& transferred) override
    {
        commands->emplace_back(cdb, cdb + cdbLength);
        transferred = 0;
        switch (cdb[0]) {
        case 0x12:
            data[0] = deviceType;
            transferred = length;
            return true;
        case 0x43:
            transferred = std::min<u32>({length, static_cast<u32>(toc.size()), tocLimit});
            std::memcpy(data, toc.data(), transferred);
            return true;
        case 0xBE: {
            if (readsFail)
                return false;
            const u32 lba = u32{cdb[2]} << 24 | u32{cdb[3]} << 16 | u32{cdb[4]} << 8 | cdb[5];
            const u32 count = u32{cdb[6]} << 16 | u32{cdb[7]} << 8 | cdb[8];
            for (u32 k = 0; k < count; ++k) {
                u8* sector = data + k * 2352;
                std::memset(sector, static_cast<int>((lba + k) & 0xFF), 2352);
                if (lba + k < 150) {  // the data track: sync and a mode 1 header
                    std::memcpy(sector, SectorBuffer::syncPattern(), 12);
                    sector[15] = 1;
                }
            }
            transferred = count * 2352;
            return true;
        }
        case 0x4A:
            if (mediaStatus == 0xFF)
                return false;
            data[5] = mediaStatus;
            transferred = 8;
            return true;
        default:
            return false;
        }
    }
};

Bytes readCd(u32 lba, u32 count)
{
    return {0xBE, 0, static_cast<u8>(lba >> 24), static_cast<u8>(lba >> 16), static_cast<u8>(lba >> 8),
            static_cast<u8>(lba), static_cast<u8>(count >> 16), static_cast<u8>(count >> 8), static_cast<u8>(count),
            0xF8, 0, 0};
}

}  // namespace

TEST(RealDrive, OpensWithExactCommandsAndBuildsTheTracks)
{
    std::vector<Bytes> commands;
    CIoctl drive(std::make_unique<FakeDrive>(&commands));
    ASSERT_TRUE(drive.open("/dev/sr0"));
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[0], (Bytes{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(commands[1], (Bytes{0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0}));
    EXPECT_EQ(commands[2], readCd(0, 1));
    EXPECT_EQ(commands[3], readCd(150, 1));
    EXPECT_EQ(commands[4], readCd(300, 1));

    const SessionInfo* session = drive.getSession(0);
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(session->tracks.size(), 3u);
    EXPECT_EQ(session->leadOut, 600u);
    EXPECT_EQ(session->first, 0u);
    const u32 starts[] = {150, 300, 450}, ends[] = {299, 449, 599};
    for (u32 i = 0; i < 3; ++i) {
        EXPECT_EQ(session->tracks[i].number, i + 1);
        EXPECT_EQ(session->tracks[i].startFad, starts[i]);
        EXPECT_EQ(session->tracks[i].endFad, ends[i]);
        EXPECT_EQ(session->tracks[i].controlAdr, i == 0 ? 0x41 : 0x01);
        EXPECT_EQ(session->tracks[i].mode, i == 0 ? SectorBuffer::kMode1 : SectorBuffer::kAudio);
    }

    commands.clear();
    EXPECT_EQ(drive.getMediaStatus(), CDD::kMediumPresent);
    EXPECT_EQ(commands.at(0), (Bytes{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}));
}

TEST(RealDrive, FeedsTheReadAheadThreadOneTrackAtATime)
{
    std::vector<Bytes> commands;
    auto disc = std::make_shared<CIoctl>(std::make_unique<FakeDrive>(&commands));
    ASSERT_TRUE(disc->open("/dev/sr0"));
    commands.clear();
    CDDrive mechanism;
    mechanism.setMedia(disc);
    mechanism.switchOn();
    mechanism.read(290, 20);  // across the end of the data track at 299
    std::vector<u32> fads;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fads.size() < 20 && std::chrono::steady_clock::now() < until) {
        SectorBuffer sector;
        if (!mechanism.peekSector(sector)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        EXPECT_EQ(sector.size, 2352);
        EXPECT_EQ(sector.data[100], static_cast<u8>(fadToLba(sector.fad)));
        EXPECT_EQ(sector.mode, sector.fad < 300 ? SectorBuffer::kMode1 : SectorBuffer::kAudio);
        fads.push_back(sector.fad);
        mechanism.nextSector();
    }
    mechanism.switchOff();
    ASSERT_EQ(fads.size(), 20u);
    for (u32 i = 0; i < 20; ++i)
        EXPECT_EQ(fads[i], 290 + i);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], readCd(140, 10));  // the data track's last ten
    EXPECT_EQ(commands[1], readCd(150, 10));
}

TEST(RealDrive, RefusesAbsentWrongEmptyOrLyingDrivesWithAMessage)
{
    LogCapture log;
    std::vector<Bytes> commands;
    const auto attempt = [&](auto configure) {
        auto transport = std::make_unique<FakeDrive>(&commands);
        configure(*transport);
        CIoctl drive(std::move(transport));
        const bool opened = drive.open("/dev/sr0");
        EXPECT_TRUE(drive.sessions().empty());
        return opened;
    };
    EXPECT_FALSE(attempt([](FakeDrive& d) { d.opens = false; }));
    EXPECT_TRUE(log.contains("Cannot open the drive [/dev/sr0, reason: ")) << log.text();
    EXPECT_FALSE(attempt([](FakeDrive& d) { d.deviceType = 0x00; }));
    EXPECT_TRUE(log.contains("IOCTL: Not a CD drive"));
    // The length field promises more than was sent.
    EXPECT_FALSE(attempt([](FakeDrive& d) { d.tocLimit = 20; }));
    EXPECT_FALSE(attempt([](FakeDrive& d) { d.toc[3] = 99; }));
    EXPECT_FALSE(attempt([](FakeDrive& d) { d.toc[30] = 0x04; }));  // no lead-out after the tracks
    EXPECT_FALSE(attempt([](FakeDrive& d) { d.toc = {0x00, 0x02, 0x01, 0x01}; }));
    EXPECT_TRUE(log.contains("No readable disc in the drive"));

    auto failing = std::make_unique<FakeDrive>(&commands);
    FakeDrive* fake = failing.get();
    CIoctl drive(std::move(failing));
    ASSERT_TRUE(drive.open("/dev/sr0"));
    fake->readsFail = true;
    u8 buffer[2448];
    u32 mode = 0;
    s32 size = 0;
    EXPECT_EQ(drive.readSectors(buffer, 150, mode, size, 1), 0u);
    EXPECT_TRUE(log.contains("IOCTL: Failed to read sector"));
    fake->mediaStatus = 0xFF;
    EXPECT_EQ(drive.getMediaStatus(), CDD::kUnknown);
    EXPECT_TRUE(log.contains("IOCTL: SCSI status 02, sense 2/3A/00"));
}

TEST(RealDrive, KestStartsNothingFromADriveThatFails)
{
    TempDir data;
    std::vector<Bytes> commands;
    auto transport = std::make_unique<FakeDrive>(&commands);
    transport->opens = false;
    auto kest = std::make_unique<Kest>();
    kest->setDataFolder(data.path().string());
    kest->prepare(std::make_shared<CIoctl>(std::move(transport)));
    EXPECT_FALSE(kest->open("/dev/sr0", 0));
    EXPECT_EQ(kest->getSystem().drive().getMedia(), nullptr);
}

// A FAD in no track reads as from an image: silence, logged once, and the
// drive mechanism moves on rather than asking for it again on every step.
TEST(RealDrive, FadsOutsideEveryTrackReadAsSilenceOnce)
{
    LogCapture log;
    std::vector<Bytes> commands;
    auto disc = std::make_shared<CIoctl>(std::make_unique<FakeDrive>(&commands));
    ASSERT_TRUE(disc->open("/dev/sr0"));
    CDDrive mechanism;
    mechanism.setMedia(disc);
    mechanism.switchOn();
    mechanism.read(598, 4);  // across the lead-out at 600
    std::vector<u32> fads;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fads.size() < 4 && std::chrono::steady_clock::now() < until) {
        SectorBuffer sector;
        if (!mechanism.peekSector(sector)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        EXPECT_EQ(sector.data[100], sector.fad < 600 ? static_cast<u8>(fadToLba(sector.fad)) : 0) << sector.fad;
        fads.push_back(sector.fad);
        mechanism.nextSector();
    }
    mechanism.switchOff();
    EXPECT_EQ(fads, (std::vector<u32>{598, 599, 600, 601}));
    const std::string line = "FAD is out of range! [FAD: 600]";
    const std::size_t at = log.text().find(line);
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(log.text().find(line, at + 1), std::string::npos) << "logged once";
}
