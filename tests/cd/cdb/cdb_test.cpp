// The CD block driven through its registers on generated discs, with only
// its own events and the drive's worker running.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "cd/media/bin.h"
#include "cd/media/cue.h"
#include "cd/media/disc_images.h"
#include "core/machine/system.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#include "support/log_capture.h"
#pragma GCC diagnostic pop

namespace {

constexpr u32 kRegs = 0x25890000;
constexpr u32 kPort = 0x25818000;

struct Subheader {
    u8 file, channel, submode, coding;
};

// A raw mode-2 sector with the given subheader; its user data holds the FAD.
std::vector<u8> xaSector(u32 fad, Subheader h)
{
    std::vector<u8> user(2336, static_cast<u8>(fad));
    auto s = disc::rawSector(fad, 3, user.data());
    s[16] = s[20] = h.file;
    s[17] = s[21] = h.channel;
    s[18] = s[22] = h.submode;
    s[19] = s[23] = h.coding;
    return s;
}

class CdbTest : public ::testing::Test {
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

    // A raw single-track disc of the given sectors, from FAD 150.
    void insertRaw(const std::vector<std::vector<u8>>& sectors)
    {
        std::vector<u8> image;
        for (const auto& s : sectors)
            disc::append(image, s);
        disc::writeFile(dir.file("disc.bin"), image);
        insert(std::make_shared<CBin>(dir.file("disc.bin")));
    }
    // Mode 1 sectors whose user data holds the low byte of their FAD.
    void insertMode1(u32 count)
    {
        std::vector<std::vector<u8>> sectors;
        for (u32 i = 0; i < count; ++i) {
            std::vector<u8> user(2048, static_cast<u8>(150 + i));
            sectors.push_back(disc::rawSector(150 + i, 2, user.data()));
        }
        insertRaw(sectors);
    }
    // Emulated milliseconds since the disc went in, from an event of our own.
    u32 clock() const { return m_milliseconds; }
    static void tick(void* owner, u32) { ++static_cast<CdbTest*>(owner)->m_milliseconds; }
    void insert(std::shared_ptr<CCd> disc)
    {
        scheduler().schedule(1000000, tick, this, Scheduler::kForever, 1000000, 0);
        sys->setMedia(std::move(disc));
        sys->drive().switchOn();
        cdb().switchOn();
        pumpFor(20);  // the table of contents
    }

    // One slice of the scheduler with nothing else running; its length.
    u32 pump()
    {
        u32 slice = 0;
        scheduler().run(slice);
        scheduler().advance();
        elapsed += slice;
        return slice;
    }
    void pumpFor(u32 ms)
    {
        for (const u32 end = clock() + ms; clock() < end;)
            pump();
    }
    // The drive's worker runs in real time: while it reads and has nothing
    // ready, emulated time waits for it (half a second at most).
    void waitForDrive()
    {
        SectorBuffer ready;
        for (int i = 0; i < 5000 && sys->drive().getState() == CDDrive::kReading && !sys->drive().peekSector(ready);
             ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    template <typename Predicate>
    bool pumpUntil(Predicate done, u32 limitMs = 5000)
    {
        for (const u32 end = clock() + limitMs; clock() < end;) {
            if (done())
                return true;
            if (cdb().driveState() == CDB::kPlaying)
                waitForDrive();
            pump();
        }
        return done();
    }

    u16 reg(u32 offset) { return cdb().readRegister(nullptr, kRegs + offset); }
    void setReg(u32 offset, u16 value) { cdb().writeRegister(nullptr, kRegs + offset, value); }
    // Issues a command and runs it; answers CR1.
    u16 command(u16 cr1, u16 cr2 = 0, u16 cr3 = 0, u16 cr4 = 0)
    {
        setReg(0x08, static_cast<u16>(~0x0001));
        setReg(0x18, cr1);
        setReg(0x1C, cr2);
        setReg(0x20, cr3);
        setReg(0x24, cr4);
        EXPECT_TRUE(pumpUntil([&] { return reg(0x08) & 1; })) << std::hex << cr1;
        return cdb().cr(0);
    }
    // CdInit's reset, 2048-byte transfers, the drive into filter 0.
    void initialise()
    {
        command(0x0401);
        command(0x6000, 0x0000);
        command(0x3000, 0, 0x0000);
    }
    // A system manager command through its command register.
    void smpcCommand(u8 code)
    {
        const AccessHandlers h = sys->smpc().getAccessHandlers(0);
        h.writeByte(h.owner, &sys->master(), 0x2010001F, code);
        pumpFor(1);
    }
    u32 sectors(u32 buffer) { return cdb().buffer(buffer).count(); }

    TempDir dir;
    std::unique_ptr<CSystem> sys;
    LogCapture log;
    u64 elapsed = 0;
    u32 m_milliseconds = 0;
};

TEST_F(CdbTest, ResetSignatureQueueTimingAndInfoPort)
{
    insertMode1(4);
    EXPECT_EQ(reg(0x18), 0x0043);
    EXPECT_EQ(reg(0x1C), 0x4442);
    EXPECT_EQ(reg(0x20), 0x4C4F);
    EXPECT_EQ(reg(0x24), 0x434B);
    EXPECT_EQ(reg(0x08), 0x0BC1);

    // Each command ends its delay after the CR4 write: the next event.
    const std::pair<u16, u32> delays[] = {{0x4800, 70000}, {0x5500, 50000}, {0x3000, 30000}, {0x6100, 30000},
                                          {0x6400, 30000}, {0x0000, 10000}, {0x5000, 10000}};
    for (auto [cr1, ns] : delays) {
        setReg(0x08, 0);
        setReg(0x18, cr1);
        setReg(0x24, 0);
        const u64 written = elapsed;
        u64 answered = 0;
        while (!(reg(0x08) & 1) && elapsed < written + 1000000) {
            answered = elapsed;
            pump();
        }
        EXPECT_EQ(answered - written, ns) << std::hex << cr1;
    }

    // Info data: TgetToc prepares 204 words, then 0xFFFF.
    command(0x0200);
    EXPECT_EQ(cdb().cr(1), 204);
    EXPECT_EQ(reg(0x8000), 0x4100) << "control/ADR of the data track";
    EXPECT_EQ(reg(0x8000), 150);
    for (int i = 2; i < 204; ++i)
        reg(0x8000);
    EXPECT_EQ(reg(0x8000), 0xFFFF);
    EXPECT_EQ(reg(0x8000), 0xFFFF);

    // The periodic report stops with HIRQREQ bit 0 written clear, and a CR4
    // read starts it again.
    setReg(0x08, 0xFFFE);
    command(0x0100);
    setReg(0x08, 0xFFFE);
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0400; })) << "a drive event";
    EXPECT_EQ(reg(0x18) & 0x2000, 0) << "no report yet";
    reg(0x24);
    EXPECT_TRUE(pumpUntil([&] { return reg(0x18) & 0x2000; }, 40)) << "periodic report";

    // A command written while one waits only queues; the next CR4 starts it
    // (and from then on the queue runs one command behind).
    setReg(0x08, 0);
    setReg(0x18, 0x0100);  // GetHwInfo
    setReg(0x24, 0);
    setReg(0x18, 0x5000);  // GetBufSiz, queued behind it
    setReg(0x24, 0);
    pumpFor(1);
    EXPECT_EQ(cdb().cr(3), 0x0400) << "GetHwInfo answered";
    setReg(0x08, 0);
    setReg(0x18, 0x0000);
    setReg(0x24, 0);
    pumpFor(1);
    EXPECT_EQ(cdb().cr(3), 200) << "GetBufSiz ran on the next write";

}

TEST_F(CdbTest, StatusAndInformationAnswers)
{
    insertMode1(100);
    command(0x0100);
    EXPECT_EQ(cdb().cr(1), 0x0201) << "MPEG card present";
    EXPECT_EQ(cdb().cr(3), 0x0400);
    cdb().setMpegCard(0);
    command(0x0100);
    EXPECT_EQ(cdb().cr(1), 0x0001);

    command(0x0300);  // GetSes 0: sessions and lead-out
    EXPECT_EQ(cdb().cr(2), 0x0100);
    EXPECT_EQ(cdb().cr(3), 250);
    EXPECT_EQ(command(0x0364) & 0xFF, 0xFF) << "session 100 rejected";
    command(0x0302);
    EXPECT_EQ(cdb().cr(2), 0xFFFF) << "past the one session";
    EXPECT_EQ(cdb().cr(3), 0xFFFF);

    EXPECT_EQ(command(0x6004), 0xFFFF) << "get length 4 rejected";
    EXPECT_EQ(command(0x10FF, 0xFFFF, 0x20FF, 0xFFFF) & 0xFF, 0xFF) << "repeat 0x20 rejected";
    EXPECT_EQ(command(0x3000, 0, 0x1800) & 0xFF, 0xFF) << "filter 24 rejected";

    // A play positioned by track: track 1 runs from 150 to the end.
    command(0x1000, 0x0101, 0x0000, 0x0163);
    ASSERT_TRUE(pumpUntil([&] { return cdb().driveState() == CDB::kPlaying; }));
    command(0x0000);
    EXPECT_EQ(cdb().cr(1), 0x4101) << "data track 1";
    EXPECT_EQ(cdb().cr(0) & 0x80, 0x80) << "a data track's position";
    // Seek to 0 stops the drive: standby once the seek is done.
    command(0x1100, 0);
    pumpFor(20);
    command(0x0000);
    EXPECT_EQ(cdb().cr(0) >> 8, CDB::kStandby);
    EXPECT_EQ(cdb().cr(0) & 0xFF, 0xFF) << "target 0: no position";
}

// GetAuthStatus (0xE1) tells the kind of disc AuthDevice (0xE0) found, once
// EFLS ends it; CR2 selects the MPEG card, whose end is MPED.
TEST_F(CdbTest, AuthenticationTellsTheDiscKind)
{
    // Authenticates device 0 or 1 and waits for its flag; GetAuthStatus's CR2.
    auto authenticate = [&](u16 device = 0) {
        const u16 flag = device ? 0x0800 : 0x0200;
        setReg(0x08, static_cast<u16>(~flag));
        command(0xE000, device);
        EXPECT_TRUE(pumpUntil([&] { return reg(0x08) & flag; }, 200));
        command(0xE100, device);
        return cdb().cr(1);
    };
    std::vector<u8> header(2048, 0);
    std::memcpy(header.data(), "SEGA SEGASATURN ", 16);
    disc::writeFile(dir.file("audio.bin"), disc::audio(4, 1));
    disc::writeText(dir.file("audio.cue"), "FILE \"audio.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    const struct {
        std::vector<u8> first;  // user data at FAD 150; none: an audio CD
        u16 kind;
    } discs[] = {{{}, 1}, {header, 4}, {std::vector<u8>(2048, 0x41), 2}};
    for (const auto& d : discs) {
        TearDown();
        SetUp();
        m_milliseconds = 0;
        if (d.first.empty())
            insert(std::make_shared<CCue>(dir.file("audio.cue")));
        else
            insertRaw({disc::rawSector(150, 2, d.first.data()), disc::rawSector(151, 2, d.first.data())});
        EXPECT_EQ(command(0xE100, 0), 0x0100) << "paused";
        EXPECT_EQ(cdb().cr(1), 0) << "nothing proved yet";
        EXPECT_EQ(authenticate(), d.kind);
    }
    EXPECT_TRUE(log.contains("AuthDevice<END> [device: CD, result: 4]")) << log.text();
    // Forgotten when the disc may change: the tray opens, the block restarts.
    command(0x0500);
    command(0xE100);
    EXPECT_EQ(cdb().cr(1), 0);
    authenticate();
    smpcCommand(0x09);  // CDOFF, CDON
    smpcCommand(0x08);
    command(0xE100);
    EXPECT_EQ(cdb().cr(1), 0);

    // A play asked for while the disc is proved starts once it is over.
    initialise();
    setReg(0x08, static_cast<u16>(~0x0200));
    command(0xE000);
    command(0x1000, 0, 0x0080, 1);
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0200; }, 200));
    EXPECT_TRUE(pumpUntil([&] { return sectors(0) == 1; }));

    EXPECT_EQ(authenticate(1), 2) << "the MPEG card";
    cdb().setMpegCard(0);
    EXPECT_EQ(authenticate(1), 0);
    EXPECT_EQ(command(0xE000, 2), 0xFFFF) << "no third device";
    EXPECT_EQ(command(0xE100, 2), 0xFFFF);

    TearDown();
    SetUp();
    insert(nullptr);
    EXPECT_EQ(authenticate(), 0) << "no disc: the end comes all the same";
}

// A code the block does not know is refused: REJECT in every answer word,
// CMOK raised, and the drive goes on as it was.
TEST_F(CdbTest, UnknownCommandsAreAnsweredAsRefused)
{
    insertMode1(300);
    initialise();
    command(0x1080, 150, 0x0080, 300);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) >= 2; }));
    for (const u16 code : {0x0700, 0xE300, 0xFE12}) {
        EXPECT_EQ(command(code, 0x1234, 0x5678, 0x9ABC), 0xFFFF) << std::hex << code;
        EXPECT_EQ(cdb().cr(1) & cdb().cr(2) & cdb().cr(3), 0xFFFF);
    }
    EXPECT_EQ(cdb().driveState(), CDB::kPlaying) << "the play goes on";
}

TEST_F(CdbTest, EveryHirqBitRaisesTheOneExternalInterrupt)
{
    insertMode1(4);
    SCU& scu = sys->scu();
    auto requests = [&] { return scu.ist() >> 16 & 0xFFFF; };
    setReg(0x0C, 0);
    command(0x0000);
    EXPECT_EQ(requests(), 0u) << "masked: no request, though HIRQREQ bit 0 is set";
    EXPECT_EQ(reg(0x08) & 1, 1);

    setReg(0x0C, 0x0001);
    command(0x0000);
    EXPECT_EQ(requests(), 0x0001u) << "external interrupt 0";
    // The drive event's bit 10 (SCDQ) also arrives on line 0, not line 10.
    scu.write32(&scu, nullptr, 0x25FE00A4, 0);
    setReg(0x0C, 0x0400);
    setReg(0x08, static_cast<u16>(~0x0400));
    pumpUntil([&] { return reg(0x08) & 0x0400; });
    EXPECT_EQ(requests(), 0x0001u);
}

// A processor waiting on HIRQREQ may count its word reads as memory: they
// change nothing, and what they answer tells every change of it apart. Byte
// reads log, a CR4 read turns the report on and traced reads log, so none
// of them is steady.
TEST_F(CdbTest, HirqreqWordReadsAreSteady)
{
    insertMode1(4);
    constexpr u32 kHirq = 0x25890008;
    const AccessHandlers& h = sys->master().pageMap()->page(kHirq);
    ASSERT_TRUE(h.steadyRead);
    u32 before = 0, after = 0, value = 0;
    ASSERT_TRUE(h.steadyRead(h.owner, &sys->master(), kHirq, 2, before));
    EXPECT_EQ(before & 0xFFFF, reg(0x08));
    setReg(0x08, 0xFFFF);  // clears nothing, yet counts as a change
    ASSERT_TRUE(h.steadyRead(h.owner, &sys->master(), kHirq, 2, after));
    EXPECT_NE(after, before);
    command(0x0000);
    ASSERT_TRUE(h.steadyRead(h.owner, &sys->master(), kHirq, 2, before));
    EXPECT_NE(after, before) << "the command's end";
    EXPECT_FALSE(h.steadyRead(h.owner, &sys->master(), kHirq, 1, value));
    EXPECT_FALSE(h.steadyRead(h.owner, &sys->master(), 0x25890024, 2, value));
    cdb().setThreshold(4);
    EXPECT_FALSE(h.steadyRead(h.owner, &sys->master(), kHirq, 2, value));
}

TEST_F(CdbTest, FiltersSendXaSectorsToTheirPartitions)
{
    // FAD 150: file 1 channel 0 form 1; 151: file 1 channel 1 form 2;
    // 152: file 2 channel 1 form 1; 153: file 3 channel 5 form 1.
    insertRaw({xaSector(150, {1, 0, 0x08, 0}), xaSector(151, {1, 1, 0x24, 0x01}), xaSector(152, {2, 1, 0x08, 0}),
               xaSector(153, {3, 5, 0x08, 0})});
    initialise();
    command(0x4201, 0x0000, 0x0001, 0x0000);  // filter 0: file number 1
    command(0x4400 | 0x01, 0, 0x0000);        // mode FN
    command(0x4602, 0x0001, 0x0000);          // false -> filter 1
    command(0x4202, 0x0000, 0x0100, 0x0000);  // filter 1: channel 2...
    command(0x4212, 0, 0x0100);               // ... reverse
    command(0x4602, 0x0002, 0x0100);          // false -> filter 2 (mode 0: takes all)
    command(0x1080, 150, 0x0080, 4);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) + sectors(1) + sectors(2) == 4; }));
    EXPECT_EQ(sectors(0), 2u) << "file 1, both forms";
    EXPECT_EQ(sectors(1), 2u) << "not channel 2: both the others";
    EXPECT_EQ(sectors(2), 0u);

    // GetSctInfo reports the subheader of the form 2 sector.
    command(0x5400, 1, 0x0000);
    EXPECT_EQ(cdb().cr(1), 151);
    EXPECT_EQ(cdb().cr(2), 0x0101);
    EXPECT_EQ(cdb().cr(3), 0x2401);

    // With M2SB off (CdInit flag bit 2) subheaders are not looked at.
    command(0x0404);
    command(0x4800 | 0x04);  // clear every partition
    command(0x1080, 150, 0x0080, 4);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 4; }));
}

TEST_F(CdbTest, FullPoolStopsIntakeUntilSectorsReturn)
{
    insertMode1(206);
    initialise();
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0400; })) << "the drive events run";
    command(0x1080, 150, 0x0080, 206);
    const u32 start = clock();
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 200; }));
    // Double speed: a sector every 6,666,666 ns, after a 10 ms seek.
    EXPECT_NEAR(clock() - start, 10 + 200 * 6.666666, 17);
    EXPECT_EQ(reg(0x08) & 0x000C, 0x000C) << "sector stored and pool full";
    EXPECT_EQ(cdb().freeSectors(), 0u);
    // The game clearing the full bit does not make room.
    setReg(0x08, static_cast<u16>(~0x0008));
    pumpFor(100);
    EXPECT_EQ(sectors(0), 200u);
    EXPECT_FALSE(log.contains("No free partition available"));
    command(0x6200, 0, 0x0000, 6);  // DelSctData of the first six
    EXPECT_EQ(reg(0x08) & 0x0008, 0);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 200 && cdb().freeSectors() == 0 && reg(0x08) & 0x10; }));
    command(0x5400, 0xFFFF, 0x0000);
    EXPECT_EQ(cdb().cr(1), 150 + 205) << "the last sector of the range arrived";
}

TEST_F(CdbTest, DataPortMovesExactLongWordCounts)
{
    std::vector<u8> form2(2324);
    for (u32 i = 0; i < form2.size(); ++i)
        form2[i] = static_cast<u8>(i * 3);
    std::vector<u8> mode1(2048, 0x11);
    insertRaw({disc::rawSector(150, 5, form2.data()), disc::rawSector(151, 2, mode1.data()),
               disc::rawSector(152, 2, mode1.data()), disc::rawSector(153, 2, mode1.data())});
    initialise();
    command(0x1080, 150, 0x0080, 4);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 4; }));

    // A form 2 sector at setting 0 is 2324 bytes: 581 long reads.
    command(0x6100, 0, 0x0000, 1);
    EXPECT_EQ(reg(0x08) & 0x0082, 0x0082);
    for (u32 i = 0; i < 581; ++i)
        ASSERT_EQ(cdb().readDataPort(kPort), loadBe32(&form2[4 * i])) << i;
    log.clear();
    EXPECT_EQ(cdb().readDataPort(kPort), 0u);
    EXPECT_TRUE(log.contains("Input connector is disconnected"));
    command(0x0600);  // DataEnd
    EXPECT_EQ(cdb().cr(1), 1162);

    // DataEnd after one 2048-byte sector.
    command(0x6100, 1, 0x0000, 1);
    for (u32 i = 0; i < 512; ++i)
        cdb().readDataPort(kPort);
    command(0x0600);
    EXPECT_EQ(cdb().cr(1), 1024);

    // A word read takes the upper half of a whole long.
    const AccessHandlers port = cdb().getAccessHandlers(CDB::kData);
    command(0x6100, 0, 0x0000, 1);  // the form 2 sector again
    EXPECT_EQ(port.readWord(port.owner, nullptr, kPort), loadBe16(&form2[0]));
    EXPECT_EQ(port.readWord(port.owner, nullptr, kPort), loadBe16(&form2[4]));


    // GetdelSctData frees the sectors as their last word is read.
    command(0x6300, 1, 0x0000, 3);
    for (u32 i = 0; i < 3 * 512; ++i)
        cdb().readDataPort(kPort);
    EXPECT_EQ(sectors(0), 1u);
    EXPECT_EQ(cdb().freeSectors(), 199u);

    // Guest numbers are checked: partition 24, a position past the end, a
    // count past the end.
    EXPECT_EQ(command(0x6100, 0, 0x1800, 1) & 0xFF, 0xFF) << "REJECT";
    EXPECT_EQ(command(0x6100, 5, 0x0000, 1) >> 8 & 0x80, 0x80) << "WAIT";
    EXPECT_EQ(command(0x6100, 0, 0x0000, 2) >> 8 & 0x80, 0x80) << "WAIT";

    // A put of two raw sectors: 1176 long writes, the 1177th has no transfer.
    command(0x6000, 0x0300);
    command(0x6400, 0, 0x0300, 2);  // into filter 3
    for (u32 s = 0; s < 2; ++s) {
        auto raw = disc::rawSector(0, 2, mode1.data());
        raw[16] = static_cast<u8>(0xA0 + s);
        for (u32 i = 0; i < 588; ++i)
            cdb().writeDataPort(kPort, loadBe32(&raw[4 * i]));
    }
    EXPECT_EQ(sectors(3), 2u);
    log.clear();
    cdb().writeDataPort(kPort, 0);
    EXPECT_TRUE(log.contains("Output connector is disconnected"));
    command(0x6000, 0x0000);
    command(0x6100, 1, 0x0300, 1);
    EXPECT_EQ(cdb().readDataPort(kPort) >> 24, 0xA1u);
}

// As the console's BIOS hands the block over, each filter's true output is
// joined to its partition, so CdSetCon and CdPlay alone deliver sectors.
// The 16-bit transfer register at offset 0 moves the same transfer as the
// 32-bit port, a half at a time, high half first, for gets and puts. (The
// volume disc's headless run reads GetSes and the table of contents so.)
TEST_F(CdbTest, BlockAsHandedOverAndTheSixteenBitTransferRegister)
{
    std::vector<u8> user(2048);
    for (u32 i = 0; i < user.size(); ++i)
        user[i] = static_cast<u8>(i * 7 + (i >> 8));
    insertRaw({disc::rawSector(150, 2, user.data()), disc::rawSector(151, 2, user.data())});
    command(0x3000, 0, 0x0000);  // CdSetCon: the drive into filter 0
    command(0x1080, 150, 0x0080, 2);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 2; })) << log.text();

    // Halves and longs interleaved, one transfer: hi, lo, long, hi, lo ...
    command(0x6100, 0, 0x0000, 1);
    for (u32 i = 0; i < 512; i += 2) {
        ASSERT_EQ(reg(0x0000), loadBe16(&user[4 * i])) << i;
        ASSERT_EQ(reg(0x0000), loadBe16(&user[4 * i + 2])) << i;
        ASSERT_EQ(cdb().readDataPort(kPort), loadBe32(&user[4 * i + 4])) << i;
    }
    log.clear();
    reg(0x0000);
    EXPECT_TRUE(log.contains("Input connector is disconnected")) << "the transfer ended with the sector";
    command(0x0600);

    // A new transfer starts at a high half even after an odd number of reads.
    command(0x6100, 1, 0x0000, 1);
    reg(0x0000);
    command(0x6100, 1, 0x0000, 1);
    EXPECT_EQ(reg(0x0000), loadBe16(&user[0]));
    command(0x0600);

    // Info data waiting does not split the transfer's last word, and
    // DataEnd counts the halves read, one word each.
    command(0x6100, 1, 0x0000, 1);
    for (u32 i = 0; i < 1020; ++i)
        reg(0x0000);
    command(0x0200);  // TgetToc: 204 info words wait
    for (u32 at = 2040; at < 2048; at += 2)
        EXPECT_EQ(reg(0x0000), loadBe16(&user[at])) << at;
    command(0x0600);
    EXPECT_EQ(cdb().cr(1), 4);
    command(0x6100, 1, 0x0000, 1);
    for (u32 i = 0; i < 1023; ++i)
        reg(0x0000);
    command(0x0600);
    EXPECT_EQ(cdb().cr(1), 1023) << "the last low half unread";

    // A put of one raw sector written a half at a time: 1176 words.
    command(0x6000, 0x0300);
    command(0x6400, 0, 0x0300, 1);  // into filter 3
    auto raw = disc::rawSector(0, 2, user.data());
    for (u32 i = 0; i < 1176; ++i)
        setReg(0x0000, loadBe16(&raw[2 * i]));
    EXPECT_EQ(sectors(3), 1u);
    command(0x6000, 0x0000);
    command(0x6100, 0, 0x0300, 1);
    EXPECT_EQ(cdb().readDataPort(kPort), loadBe32(&user[0]));
    EXPECT_EQ(cdb().readDataPort(kPort), loadBe32(&user[4]));
}

// A disc image whose reads take a while in real time, as on a loaded host.
class SlowBin : public CBin {
public:
    using CBin::CBin;
    u32 readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return CBin::readSectors(destination, fad, mode, size, count);
    }
};

// However late the drive's thread is in real time, an image's sectors
// reach the partition at the drive's emulated pace: 8 sectors at double
// speed, one per 1/150 s, all in within 80 emulated milliseconds, none
// early. Emulated time runs here far faster than the thread reads.
TEST_F(CdbTest, LateReadAheadThreadDoesNotShiftAnImagesSectors)
{
    std::vector<u8> image;
    for (u32 i = 0; i < 8; ++i)
        disc::append(image, disc::rawSector(150 + i, 2, std::vector<u8>(2048, static_cast<u8>(i)).data()));
    disc::writeFile(dir.file("slow.bin"), image);
    insert(std::make_shared<SlowBin>(dir.file("slow.bin")));
    initialise();
    pumpFor(1000);  // the drive's events start a second after power-on
    command(0x1080, 150, 0x0080, 8);  // answered before the drive plays: nothing waits for it
    std::vector<u32> arrivals;
    for (u32 ms = 0; ms < 80; ++ms) {
        pumpFor(1);
        while (arrivals.size() < sectors(0))
            arrivals.push_back(ms);
    }
    ASSERT_EQ(arrivals.size(), 8u) << log.text().substr(0, 2000);
    for (u32 i = 1; i < arrivals.size(); ++i)
        EXPECT_NEAR(arrivals[i] - arrivals[i - 1], 7, 1) << "sector " << i;
}

TEST_F(CdbTest, PlaysFromTheFirstTrackAndRestartsTheDriveForNewRanges)
{
    insertMode1(60);
    initialise();
    // Default start: FAD 150, two sectors.
    command(0x1000, 0, 0x0080, 2);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 2; }));
    command(0x5400, 0, 0x0000);
    EXPECT_EQ(cdb().cr(1), 150);

    // A new play while the drive streams a long range reads the new range.
    command(0x1080, 150, 0x0080, 50);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) >= 4; }));
    setReg(0x08, 0);
    command(0x1080, 200, 0x0080, 3);
    const u32 before = sectors(0);
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x10; }));
    pumpFor(100);
    ASSERT_EQ(sectors(0), before + 3);
    for (u16 i = 0; i < 3; ++i) {
        command(0x5400, static_cast<u16>(before + i), 0x0000);
        EXPECT_EQ(cdb().cr(1), 200 + i);
    }
}

TEST_F(CdbTest, CdAudioRepeatsAndPlaysSectorsInOrderWithSilenceWhenCaughtUp)
{
    std::vector<u8> samples(3 * 2352);
    for (u32 i = 0; i < samples.size() / 2; ++i)
        storeBe16(&samples[2 * i], static_cast<u16>(i));
    disc::writeFile(dir.file("audio.bin"), samples);
    disc::writeText(dir.file("audio.cue"), "FILE \"audio.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    insert(std::make_shared<CCue>(dir.file("audio.cue")));
    initialise();
    auto arrived = [&] {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log.text().find("CdPlay<AUDIO>", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0400; })) << "the drive events run";
    // Three sectors, repeated once: six sectors reach the ring. The sound
    // chip reads `perArrival` pairs each time one arrives.
    std::size_t arrivals = 0;
    auto play = [&](u32 perArrival) {
        setReg(0x08, static_cast<u16>(~0x10u));
        command(0x1080, 150, 0x0180, 3);
        const u32 start = clock();
        const std::size_t before = arrivals;
        std::vector<u8> heard;
        EXPECT_TRUE(pumpUntil([&] {
            const bool ended = reg(0x08) & 0x10;
            for (; arrivals < arrived(); ++arrivals) {
                // A line between arrivals keeps the log from folding them into a count.
                logSink().write(kLogDebug, "TEST", "heard");
                // The end of the range pauses the drive, which clears the ring.
                for (u32 p = 0; p < perArrival && !ended; ++p) {
                    u8 pair[4];
                    cdb().readExternalInput(pair, 0);
                    heard.insert(heard.end(), pair, pair + 4);
                }
            }
            return ended;
        }, 3000)) << "a repeat reads the range again, so the play ends";
        EXPECT_EQ(arrivals - before, 6u);
        // Audio sectors come every 13,333,333 ns.
        EXPECT_NEAR(clock() - start, 10 + 6 * 13.333333, 17);
        return heard;
    };
    std::vector<u8> stream;
    for (u32 k = 0; k < 6; ++k)
        stream.insert(stream.end(), samples.begin() + (k % 3) * 2352, samples.begin() + (k % 3 + 1) * 2352);
    // A little slower than the drive: the stream of sectors in order, never
    // a sector entered mid-way.
    const std::vector<u8> slow = play(580);
    ASSERT_EQ(slow.size(), 5u * 580 * 4);
    EXPECT_TRUE(std::equal(slow.begin(), slow.end(), stream.begin()));
    // Faster: each sector once, then silence until the next; the newest
    // sector is never heard again.
    const std::vector<u8> fast = play(600);
    ASSERT_EQ(fast.size(), 5u * 600 * 4);
    for (u32 k = 0; k < 5; ++k) {
        const auto heard = fast.begin() + k * 2400;
        EXPECT_TRUE(std::equal(heard, heard + 2352, stream.begin() + k * 2352)) << "sector " << k;
        EXPECT_TRUE(std::all_of(heard + 2352, heard + 2400, [](u8 b) { return b == 0; })) << "after sector " << k;
    }
}

TEST_F(CdbTest, PowerCyclesAndResetsLeaveNoOrphanEvents)
{
    insertMode1(8);
    initialise();
    // CDOFF then CDON: the block comes back with its events.
    smpcCommand(0x09);  // CDOFF
    EXPECT_FALSE(cdb().eventsScheduled());
    const int idle = scheduler().pendingCount();
    smpcCommand(0x08);  // CDON
    EXPECT_TRUE(cdb().eventsScheduled());
    EXPECT_EQ(scheduler().pendingCount(), idle + 3) << "drive event, standby timer, readTOC";
    setReg(0x08, 0);
    EXPECT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0400; }, 2000)) << "drive events again";

    // A reset during a copy cancels the copy event.
    initialise();
    command(0x1080, 150, 0x0080, 4);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 4; }));
    setReg(0x08, 0);
    command(0x6501, 0, 0x0000, 4);  // CopySctData partition 0 -> filter 1
    EXPECT_TRUE(cdb().copyEventPending());
    cdb().reset();
    EXPECT_FALSE(cdb().copyEventPending());
    pumpFor(1);
    EXPECT_EQ(sectors(1), 0u);

    // A copy that runs to its end stores the sectors through the filter.
    initialise();
    command(0x1080, 150, 0x0080, 4);
    ASSERT_TRUE(pumpUntil([&] { return sectors(0) == 4; }));
    setReg(0x08, 0);
    command(0x6501, 0, 0x0000, 4);
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0100; }));
    EXPECT_EQ(sectors(1), 4u);
    EXPECT_EQ(command(0x6700) & 0xFF, 0) << "GetCopyErr OK";
    EXPECT_FALSE(cdb().copyEventPending());
}

// An ISO 9660 directory record; xa adds the 14-byte XA system use field.
std::vector<u8> record(u32 extent, u32 size, const std::string& name, u8 flags, int fileNumber = -1)
{
    const u32 n = static_cast<u32>(name.size());
    const u32 start = 33 + n + (n % 2 ? 0 : 1);
    std::vector<u8> r(start + (fileNumber >= 0 ? 14 : 0), 0);
    r[0] = static_cast<u8>(r.size());
    storeBe32(&r[6], extent);
    storeBe32(&r[14], size);
    r[25] = flags;
    r[32] = static_cast<u8>(n);
    std::memcpy(&r[33], name.data(), n);
    if (fileNumber >= 0) {
        r[start + 4] = 0x08;  // XA form 1 attribute bits
        r[start + 6] = 'X';
        r[start + 7] = 'A';
        r[start + 8] = static_cast<u8>(fileNumber);
    }
    return r;
}

TEST_F(CdbTest, DamagedVolumeEndsTheDirectoryChangeWithAnError)
{
    // No volume descriptor at FAD 166: ChgDir to the root ends, with ERROR.
    insertMode1(40);
    initialise();
    setReg(0x08, 0);
    command(0x7000, 0, 0x00FF, 0xFFFF);
    ASSERT_TRUE(pumpUntil([&] { return reg(0x08) & 0x0200; }));
    EXPECT_EQ(cdb().cr(0), 0x0900);
    EXPECT_TRUE(log.contains("ChgDir: Invalid Volume Descriptor"));
    EXPECT_EQ(command(0x7100, 0, 0x0000, 2) & 0xFF, 0xFF) << "no directory to read";
}

TEST_F(CdbTest, DirectoryRecordsAreCheckedAgainstTheSector)
{
    std::vector<u8> sector;
    for (const auto& r : {record(20, 2048, std::string(1, '\0'), 2), record(18, 2048, std::string(1, '\1'), 2),
                          record(30, 10, "A", 0), record(31, 11, ".", 0), record(32, 5000, "LONG_FILE_NAME_X.BIN;1", 0),
                          record(33, 12, "XA.STR;1", 0, 7)})
        disc::append(sector, r);
    const std::size_t good = sector.size();
    sector.resize(2048, 0);
    CDB& c = cdb();
    c.clearFiles(2);
    c.walkDirectorySector(sector.data(), 2048);
    EXPECT_EQ(c.filesStored(), 4u);
    EXPECT_STREQ(c.file(0).name, ".");
    EXPECT_STREQ(c.file(1).name, "..");
    EXPECT_EQ(c.file(0).fad, 170u);
    EXPECT_STREQ(c.file(2).name, "A");
    EXPECT_STREQ(c.file(3).name, "__unknown__");
    EXPECT_STREQ(c.file(4).name, "LONG_FILE_NAME_") << "15 characters";
    EXPECT_EQ(c.file(4).size, 5000u);
    EXPECT_STREQ(c.file(5).name, "XA.STR");
    EXPECT_EQ(c.file(5).fileNumber, 7);
    EXPECT_EQ(c.file(5).attribute, 0x08);
    // From scope start 5 only the last record is kept.
    c.clearFiles(5);
    c.walkDirectorySector(sector.data(), 2048);
    EXPECT_EQ(c.filesStored(), 1u);
    EXPECT_STREQ(c.file(2).name, "XA.STR");

    // Damaged records: a name longer than its record, then a record that
    // runs past the sector. The walk stops at each; nothing past the
    // sector is read (the sanitizer watches the buffer's end).
    std::vector<u8> bad(sector.begin(), sector.begin() + good);
    auto longName = record(34, 1, "B.BIN;1", 0);
    longName[32] = 200;
    disc::append(bad, longName);
    disc::append(bad, record(35, 1, "C.BIN;1", 0));
    bad.resize(2048, 0);
    c.clearFiles(2);
    c.walkDirectorySector(bad.data(), 2048);
    EXPECT_EQ(c.filesStored(), 4u);
    EXPECT_TRUE(log.contains("Bad director record"));
    // Records that fill the sector up to its last 8 bytes, where one more
    // claims 40.
    std::vector<u8> full(sector.begin(), sector.begin() + good);
    u32 fillers = 0;
    while (full.size() < 2040) {
        const u32 rest = 2040 - static_cast<u32>(full.size());
        const u32 length = rest <= 200 ? rest : rest - 200 < 34 ? rest - 34 : 200;
        auto filler = record(37, 1, "F", 0);
        filler.resize(length, 0);
        filler[0] = static_cast<u8>(length);
        disc::append(full, filler);
        ++fillers;
    }
    ASSERT_EQ(full.size(), 2040u);
    full.resize(2048, 0);
    full[2040] = 40;
    full[2040 + 32] = 1;
    c.clearFiles(2);
    c.walkDirectorySector(full.data(), 2048);
    EXPECT_EQ(c.filesStored(), 4 + fillers) << "every record before the last";
    std::vector<u8> edge(2048 - 20, 0);
    edge[0] = 40;  // claims 40 bytes, 20 remain before the block ends
    CDB::File entry;
    EXPECT_FALSE(c.parseDirectoryRecord(entry, edge.data() + edge.size() - 20, 20));
}

}  // namespace

namespace {

// A directory of "." at FAD dot, "..", the file "A" and the folder "SUB",
// taken in as read from a disc.
void walkDirectory(CDB& c, u32 dot)
{
    std::vector<u8> sector;
    for (const auto& r : {record(dot - 150, 2048, std::string(1, '\0'), 2), record(18, 2048, std::string(1, '\1'), 2),
                          record(30, 10, "A", 0), record(25, 2048, "SUB", 2)})
        disc::append(sector, r);
    sector.resize(2048, 0);
    c.clearFiles(2);
    c.walkDirectorySector(sector.data(), 2048);
}

}  // namespace

TEST_F(CdbTest, FileCommandsRefuseFilesAsFoldersAndFadsOffTheDisc)
{
    insertMode1(40);  // FADs 150-189
    initialise();
    CDB& c = cdb();
    walkDirectory(c, 170);
    ASSERT_EQ(c.filesStored(), 2u);
    // ChgDir to the file (id 2) is refused and leaves the table alone.
    EXPECT_EQ(command(0x7000, 0, 0x0000, 2), 0xFFFF);
    EXPECT_TRUE(log.contains("ChgDir<REJECT> (A) [filtno: 0, fid: 2]")) << log.text();
    EXPECT_EQ(c.filesStored(), 2u);
    EXPECT_STREQ(c.file(2).name, "A");

    // ReadDir from a "." past the lead-out is refused; one on the disc runs.
    walkDirectory(c, 5000);
    EXPECT_EQ(command(0x7100, 0, 0x0000, 2), 0xFFFF);
    EXPECT_TRUE(log.contains("ReadDir<REJECT> [filtno: 0, fid: 2]"));
    EXPECT_FALSE(log.contains("ReadDir<BEGIN>"));
    walkDirectory(c, 170);
    command(0x7100, 0, 0x0000, 2);
    EXPECT_TRUE(log.contains("ReadDir<BEGIN> [filtno: 0, fid: 2, fad: 170]"));

    // Setting up the read joined filter 0 to partition 0 and left another
    // filter that feeds partition 0 where it was.
    command(0x4601, 0x00FF, 0x0500);  // SetFiltCon: filter 5 true -> partition 0
    command(0x7000, 0, 0x00FF, 0xFFFF);  // ChgDir to the root on filter 0
    for (const u16 filter : {0x0500, 0x0000}) {
        command(0x4700, 0, filter);  // GetFiltCon
        EXPECT_EQ(cdb().cr(1), 0x00FF) << filter;
    }
}

// CdPlay to a track past the last plays up to the lead-out, the disc's
// last sector included and nothing after it; sectors whose mode byte is
// neither 1 nor 2 are stored and logged.
TEST_F(CdbTest, PlayToATrackPastTheLastEndsAtTheLeadOut)
{
    std::vector<std::vector<u8>> disc;
    for (u32 i = 0; i < 8; ++i)
        disc.push_back(disc::rawSector(150 + i, 2, std::vector<u8>(2048, static_cast<u8>(i)).data()));
    disc[2][15] = 3;
    insertRaw(disc);
    initialise();
    command(0x1000, 0x0101, 0x0000, 0x6301);  // track 1:1 to track 99:1
    EXPECT_TRUE(log.contains("TNO: 1:1(1:1, 150), TNO: 99:1(1:99, 157)")) << log.text();
    ASSERT_TRUE(pumpUntil([&] { return log.contains("CdPlay<END>"); }));
    EXPECT_EQ(sectors(0), 8u);
    EXPECT_FALSE(log.contains("out of range")) << log.text();
    EXPECT_TRUE(log.contains("Bad mode [mode: 3]"));
    // A NOCHG start with a track end gives the short form.
    command(0x10FF, 0xFFFF, 0x0000, 0x0201);
    EXPECT_TRUE(log.contains("NOCHG: 150, TNO: 2:1, pickup")) << log.text();
}
