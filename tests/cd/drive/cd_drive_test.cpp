#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "cd/drive/cd_drive.h"
#include "cd/media/bin.h"
#include "core/base/object.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

using namespace std::chrono_literals;

// A disc of 2048-byte sectors, each stamped with its FAD, that records the
// runs asked of it and can hold the worker inside a read.
class FakeDisc : public CCd {
public:
    struct Run {
        u32 fad;
        u32 count;
    };

    explicit FakeDisc(u32 sectors, std::atomic<int>* destroyed = nullptr) : CCd(""), m_destroyed(destroyed)
    {
        TrackInfo track;
        track.startFad = 150;
        track.pregapStart = 150;
        track.endFad = 150 + sectors - 1;
        track.number = 1;
        track.sectorSize = 2048;
        track.mode = SectorBuffer::kMode1;
        track.controlAdr = 0x41;
        SessionInfo session;
        session.tracks.push_back(track);
        session.leadOut = 150 + sectors;
        m_sessions.push_back(session);
    }
    ~FakeDisc() override
    {
        if (m_destroyed)
            m_destroyed->store(1);
    }

    u32 readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count) override
    {
        // The source's stream serves one read at a time.
        if (m_reading.fetch_add(1) != 0)
            m_overlapped = true;
        struct Leave {
            std::atomic<int>& reading;
            ~Leave() { reading.fetch_sub(1); }
        } leave{m_reading};
        std::unique_lock lock(m_mutex);
        if (m_jittery && m_random() % 8 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(m_random() % 3000));
        m_runs.push_back({fad, count});
        m_inside = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_gated; });
        m_inside = false;
        if (m_failures > 0) {
            --m_failures;
            if (m_noteFailures)
                ReadNoteCollector::note({fad, kLogError, "Test", "Read of %d failed", {static_cast<s32>(fad)}});
            return 0;
        }
        const u32 end = m_sessions[0].tracks[0].endFad;
        count = std::min(count, end - fad + 1);
        for (u32 k = 0; k < count; ++k) {
            u8* sector = destination + k * 2048;
            const u32 stamp = fad + k;
            std::memcpy(sector, &stamp, 4);
            std::memset(sector + 4, m_mark ? m_mark : static_cast<int>(stamp & 0xFF), 2044);
        }
        mode = SectorBuffer::kMode1;
        size = 2048;
        return count;
    }

    void closeGate()
    {
        std::lock_guard lock(m_mutex);
        m_gated = true;
    }
    void openGate()
    {
        std::lock_guard lock(m_mutex);
        m_gated = false;
        m_changed.notify_all();
    }
    bool waitInside()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [this] { return m_inside; });
    }
    // Sectors filled with mark after the stamp; reads late or early at random.
    void jitter(u8 mark)
    {
        m_mark = mark;
        m_jittery = true;
        m_random.seed(mark);
    }
    // noted: each failure leaves a line about itself.
    void failNext(int reads, bool noted = false)
    {
        std::lock_guard lock(m_mutex);
        m_noteFailures = noted;
        m_failures = reads;
    }
    bool overlapped() const { return m_overlapped; }
    std::vector<Run> runs()
    {
        std::lock_guard lock(m_mutex);
        return m_runs;
    }

private:
    std::atomic<int>* m_destroyed;
    std::atomic<int> m_reading{0};
    std::atomic<bool> m_overlapped{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_gated = false;
    bool m_inside = false;
    int m_failures = 0;
    bool m_noteFailures = false;
    bool m_jittery = false;
    u8 m_mark = 0;
    std::mt19937 m_random;
    std::vector<Run> m_runs;
};

template <typename Condition>
bool waitFor(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(200us);
    }
    return true;
}

u32 validBuffers(const CDDrive& drive)
{
    u32 n = 0;
    for (u32 i = 0; i < CDDrive::kBuffers; ++i)
        n += drive.buffer(i).valid.load();
    return n;
}

u32 stampOf(const SectorBuffer& sector)
{
    u32 stamp;
    std::memcpy(&stamp, sector.data, 4);
    return stamp;
}

// Takes count sectors the way the CD block does and checks that they come
// in FAD order from first, straight out of the ring.
void consume(CDDrive& drive, u32 first, u32 count)
{
    SectorBuffer sector;
    for (u32 i = 0; i < count; ++i) {
        ASSERT_TRUE(drive.peekSector(sector)) << "sector " << i;
        ASSERT_EQ(sector.fad, first + i);
        ASSERT_EQ(stampOf(sector), first + i);
        const CDDrive::ReadAheadBuffer& buffer = drive.buffer(drive.readIndex());
        ASSERT_EQ(sector.data, buffer.data + 2048 * buffer.next);
        ASSERT_EQ(sector.size, 2048);
        ASSERT_EQ(sector.mode, 2u);
        drive.nextSector();
    }
}

class CDDriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_disc = std::make_shared<FakeDisc>(2000);
        m_drive.setMedia(m_disc);
    }

    CDDrive m_drive;
    std::shared_ptr<FakeDisc> m_disc;
};

TEST(CDDriveNoDiscTest, WithoutADiscNothingReads)
{
    CDDrive drive;
    EXPECT_EQ(drive.getState(), CDDrive::kSwitchedOff);
    drive.read(150, 10);
    EXPECT_EQ(drive.getState(), CDDrive::kSwitchedOff);
    drive.switchOn();
    EXPECT_EQ(drive.getState(), CDDrive::kNoDisc);
    drive.read(150, 10);
    drive.resume();
    drive.stop();
    drive.pause(true);
    EXPECT_EQ(drive.getState(), CDDrive::kNoDisc);
    EXPECT_EQ(drive.getSession(0), nullptr);
    EXPECT_EQ(drive.getState(), CDDrive::kNoDisc);
    SectorBuffer sector;
    EXPECT_FALSE(drive.peekSector(sector));
    drive.switchOff();
    EXPECT_FALSE(drive.workerRunning());
}

TEST_F(CDDriveTest, SessionQueries)
{
    EXPECT_EQ(m_drive.getSession(0), m_disc->getSession(0));
    EXPECT_EQ(m_drive.getSession(1), nullptr);
    m_drive.setMedia(nullptr);
    EXPECT_EQ(m_drive.getSession(0), nullptr);
    EXPECT_EQ(m_drive.getState(), CDDrive::kNoDisc);
}

TEST_F(CDDriveTest, FortySectorsFillSixteenSixteenAndEightThenPause)
{
    m_drive.switchOn();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);
    m_drive.read(150, 40);
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    const auto runs = m_disc->runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].fad, 150u);
    EXPECT_EQ(runs[1].fad, 166u);
    EXPECT_EQ(runs[2].fad, 182u);
    EXPECT_EQ(runs[2].count, 8u);
    const u32 starts[] = {150, 166, 182};
    const u32 counts[] = {16, 16, 8};
    for (u32 i = 0; i < 3; ++i) {
        EXPECT_EQ(m_drive.buffer(i).valid.load(), 1);
        EXPECT_EQ(m_drive.buffer(i).startFad, starts[i]);
        EXPECT_EQ(m_drive.buffer(i).count, counts[i]);
    }
    EXPECT_EQ(validBuffers(m_drive), 3u);
    EXPECT_EQ(m_drive.fillIndex(), 3u);
    EXPECT_EQ(m_drive.nextFad(), 190);

    consume(m_drive, 150, 40);
    SectorBuffer sector;
    EXPECT_FALSE(m_drive.peekSector(sector));
    EXPECT_EQ(m_drive.readIndex(), 3u);
    EXPECT_EQ(validBuffers(m_drive), 0u);
}

TEST_F(CDDriveTest, EmptyRangeEndsWithoutReading)
{
    m_drive.switchOn();
    m_drive.read(150, 0);
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    EXPECT_TRUE(m_disc->runs().empty());
    EXPECT_EQ(validBuffers(m_drive), 0u);
}

TEST_F(CDDriveTest, FullRingWaitsForTheConsumer)
{
    m_drive.switchOn();
    m_drive.read(150, 1000);
    ASSERT_TRUE(waitFor([&] { return validBuffers(m_drive) == CDDrive::kBuffers; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(m_disc->runs().size(), 16u);
    EXPECT_EQ(m_drive.nextFad(), 150 + 256);
    EXPECT_EQ(m_drive.getState(), CDDrive::kReading);
    EXPECT_EQ(m_drive.fillIndex(), 0u);

    // One buffer given back is one buffer read, into the same slot.
    consume(m_drive, 150, 16);
    ASSERT_TRUE(waitFor([&] { return m_drive.buffer(0).valid.load() == 1; }));
    EXPECT_EQ(m_drive.buffer(0).startFad, 406u);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(m_disc->runs().size(), 17u);
    EXPECT_EQ(m_drive.fillIndex(), 1u);
    // The ring wraps: the consumer goes on from buffer 1 to 15 and back to 0.
    consume(m_drive, 166, 256);
}

TEST_F(CDDriveTest, PauseKeepsOrFlushesTheRing)
{
    m_drive.switchOn();
    m_drive.read(150, 1000);
    ASSERT_TRUE(waitFor([&] { return validBuffers(m_drive) == CDDrive::kBuffers; }));
    m_drive.pause(false);
    EXPECT_EQ(m_drive.getState(), CDDrive::kPaused);
    consume(m_drive, 150, 32);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(m_disc->runs().size(), 16u);
    EXPECT_EQ(validBuffers(m_drive), 14u);

    m_drive.resume();
    EXPECT_EQ(m_drive.getState(), CDDrive::kReading);
    ASSERT_TRUE(waitFor([&] { return validBuffers(m_drive) == CDDrive::kBuffers; }));
    EXPECT_EQ(m_drive.buffer(0).startFad, 406u);
    EXPECT_EQ(m_drive.buffer(1).startFad, 422u);
    consume(m_drive, 182, 64);

    m_drive.pause(true);
    EXPECT_EQ(m_drive.getState(), CDDrive::kPaused);
    EXPECT_EQ(validBuffers(m_drive), 0u);
    EXPECT_EQ(m_drive.readIndex(), 0u);
    EXPECT_EQ(m_drive.fillIndex(), 0u);
    // Reading goes on from the first sector not taken, however far ahead
    // the worker had read.
    const s32 resumeAt = m_drive.nextFad();
    EXPECT_EQ(resumeAt, 150 + 32 + 64);
    // A second pause changes nothing.
    m_drive.pause(true);
    EXPECT_EQ(m_drive.getState(), CDDrive::kPaused);

    m_drive.resume();
    ASSERT_TRUE(waitFor([&] { return m_drive.buffer(0).valid.load() == 1; }));
    consume(m_drive, static_cast<u32>(resumeAt), 16);

    // A seek moves the pickup: the resume reads from there.
    m_drive.seek(700);
    EXPECT_EQ(m_drive.getState(), CDDrive::kPaused);
    EXPECT_EQ(validBuffers(m_drive), 0u);
    m_drive.resume();
    ASSERT_TRUE(waitFor([&] { return m_drive.buffer(0).valid.load() == 1; }));
    consume(m_drive, 700, 16);
}

TEST_F(CDDriveTest, StopClearsTheRingOnlyWhileReadingOrPaused)
{
    m_drive.switchOn();
    m_drive.stop();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);
    m_drive.resume();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);

    m_drive.read(150, 1000);
    ASSERT_TRUE(waitFor([&] { return validBuffers(m_drive) >= 2; }));
    m_drive.stop();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(validBuffers(m_drive), 0u);
    SectorBuffer sector;
    EXPECT_FALSE(m_drive.peekSector(sector));

    m_drive.read(300, 20);
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    m_drive.stop();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);
    EXPECT_EQ(validBuffers(m_drive), 0u);

    // A read from the stopped state starts over at its own FAD.
    m_drive.read(700, 5);
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    consume(m_drive, 700, 5);
}

// A request made while the worker is inside a read owns the ring: the
// sectors of the old range must never reach the consumer.
TEST_F(CDDriveTest, RequestDuringAReadDiscardsThatRead)
{
    m_drive.switchOn();
    m_disc->closeGate();
    m_drive.read(150, 100);
    ASSERT_TRUE(m_disc->waitInside());
    m_drive.stop();
    m_drive.read(500, 40);
    m_disc->openGate();
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    EXPECT_EQ(m_drive.buffer(0).startFad, 500u);
    EXPECT_EQ(validBuffers(m_drive), 3u);
    consume(m_drive, 500, 40);

    // Flush and resume during a read: the read is done again, in place.
    m_drive.stop();
    m_disc->closeGate();
    m_drive.read(900, 16);
    ASSERT_TRUE(m_disc->waitInside());
    m_drive.pause(true);
    m_drive.resume();
    m_disc->openGate();
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    consume(m_drive, 900, 16);
    u32 readsOf900 = 0;
    for (const auto& run : m_disc->runs())
        readsOf900 += run.fad == 900;
    EXPECT_EQ(readsOf900, 2u);
}

TEST_F(CDDriveTest, FailedReadsAreRetriedAndNeverPublishedEmpty)
{
    m_drive.switchOn();
    m_disc->failNext(3);
    m_drive.read(150, 20);
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    const auto runs = m_disc->runs();
    ASSERT_EQ(runs.size(), 5u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(runs[static_cast<std::size_t>(i)].fad, 150u);
    EXPECT_EQ(runs[4].fad, 166u);
    EXPECT_EQ(m_drive.buffer(0).count, 16u);
    EXPECT_EQ(m_drive.buffer(1).count, 4u);
    EXPECT_EQ(validBuffers(m_drive), 2u);
    consume(m_drive, 150, 20);
}

// waitSector holds the emulation until the worker has read the sector an
// image is asked for, and answers false, without hanging, when the read
// fails or the range is used up.
TEST_F(CDDriveTest, WaitSectorWaitsForTheWorkerAndGivesUpWhenNothingComes)
{
    m_drive.switchOn();
    m_disc->closeGate();
    m_drive.read(150, 20);
    ASSERT_TRUE(m_disc->waitInside());
    std::thread opener([&] {
        std::this_thread::sleep_for(50ms);
        m_disc->openGate();
    });
    SectorBuffer sector;
    EXPECT_FALSE(m_drive.peekSector(sector)) << "the worker is still inside its read";
    EXPECT_TRUE(m_drive.waitSector(sector));
    opener.join();
    EXPECT_EQ(sector.fad, 150u);
    for (u32 i = 0; i < 20; ++i) {
        ASSERT_TRUE(m_drive.waitSector(sector)) << i;
        EXPECT_EQ(stampOf(sector), 150 + i);
        m_drive.nextSector();
    }
    EXPECT_FALSE(m_drive.waitSector(sector)) << "past the range";

    m_disc->failNext(1000000);
    m_drive.pause(true);
    m_drive.read(300, 4);
    EXPECT_FALSE(m_drive.waitSector(sector)) << "a failed read";
    m_disc->failNext(0);
    EXPECT_TRUE(m_drive.waitSector(sector)) << "the retry succeeded";
    EXPECT_EQ(stampOf(sector), 300u);
}

TEST_F(CDDriveTest, DiscSwappedDuringAReadOutlivesTheRead)
{
    std::atomic<int> destroyed{0};
    auto first = std::make_shared<FakeDisc>(500, &destroyed);
    m_drive.setMedia(first);
    m_drive.switchOn();
    first->closeGate();
    m_drive.read(150, 100);
    ASSERT_TRUE(first->waitInside());

    FakeDisc* raw = first.get();
    first.reset();
    std::thread swapper([&] { m_drive.setMedia(m_disc); });
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(destroyed.load(), 0);
    raw->openGate();
    swapper.join();
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_FALSE(m_drive.workerRunning());
    EXPECT_EQ(m_drive.runState(), kOff);
    EXPECT_EQ(m_drive.getMedia(), m_disc);

    // The machine's next power-on starts the new disc afresh.
    m_drive.switchOn();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);
    EXPECT_EQ(validBuffers(m_drive), 0u);
    m_drive.read(1000, 16);
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    consume(m_drive, 1000, 16);
}

TEST_F(CDDriveTest, PowerCycles)
{
    m_drive.switchOn();
    // A second power-on while the worker runs replaces it.
    m_drive.powerOn();
    EXPECT_TRUE(m_drive.workerRunning());
    m_drive.read(150, 1000);
    ASSERT_TRUE(waitFor([&] { return validBuffers(m_drive) > 0; }));
    m_drive.switchOff();
    EXPECT_FALSE(m_drive.workerRunning());
    EXPECT_EQ(m_drive.getState(), CDDrive::kPaused);
    m_drive.switchOff();

    m_drive.switchOn();
    EXPECT_EQ(m_drive.getState(), CDDrive::kStopped);
    EXPECT_EQ(validBuffers(m_drive), 0u);
    m_drive.read(150, 16);
    // A reset during a read clears the ring and the range.
    m_drive.restart();
    ASSERT_TRUE(waitFor([&] { return m_drive.getState() == CDDrive::kPaused; }));
    EXPECT_EQ(validBuffers(m_drive), 0u);
}

// The worker reads a real image through the disc-source interface.
TEST(CDDriveImageTest, StreamsAnImageInOrder)
{
    TempDir dir;
    std::vector<u8> image(2048 * 50);
    for (u32 i = 0; i < 50; ++i) {
        const u32 stamp = 150 + i;
        std::memcpy(&image[i * 2048], &stamp, 4);
    }
    {
        std::ofstream out(dir.file("stamped.iso"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    CDDrive drive;
    drive.setMedia(std::make_shared<CBin>(dir.file("stamped.iso")));
    drive.switchOn();
    drive.read(150, 50);
    ASSERT_TRUE(waitFor([&] { return drive.getState() == CDDrive::kPaused; }));
    SectorBuffer sector;
    for (u32 i = 0; i < 50; ++i) {
        ASSERT_TRUE(drive.peekSector(sector));
        EXPECT_EQ(stampOf(sector), 150 + i);
        drive.nextSector();
    }
    drive.switchOff();
}

// An image of the given number of blank 2048-byte sectors.
std::string blankImage(TempDir& dir, u32 sectors)
{
    std::ofstream(dir.file("blank.iso"), std::ios::binary) << std::string(2048 * sectors, 'x');
    return dir.file("blank.iso");
}

// Each sector taken past the disc's end is named once, as it is taken, the same every run.
TEST(CDDriveImageTest, LinesAboutReadsArriveAsTheSectorsAreTaken)
{
    TempDir dir;
    const std::string image = blankImage(dir, 20);
    std::string expected;
    for (u32 fad = 160; fad < 200; ++fad)
        expected += (fad >= 170 ? "Sector: FAD is out of range! [FAD: " + std::to_string(fad) + "]\n" : "") +
                    "took " + std::to_string(fad) + "\n";
    for (int run = 0; run < 2; ++run) {
        LogCapture log;
        CDDrive drive;
        drive.setMedia(std::make_shared<CBin>(image));
        drive.switchOn();
        drive.read(160, 60);
        ASSERT_TRUE(waitFor([&] { return drive.getState() == CDDrive::kPaused; })) << "all read ahead";
        SectorBuffer sector;
        for (u32 fad = 160; fad < 200; ++fad) {
            ASSERT_TRUE(drive.waitSector(sector));
            drive.nextSector();
            logSink().write(kLogInfo, nullptr, "took %u", fad);
        }
        drive.switchOff();
        EXPECT_EQ(log.text(), expected) << run;
    }
}

// A failed read's line waits for the emulation to find the sector missing.
TEST_F(CDDriveTest, AFailedReadIsLoggedWhenTheEmulationFindsNothing)
{
    LogCapture log;
    m_drive.switchOn();
    m_disc->failNext(1000000, true);
    m_drive.read(300, 4);
    ASSERT_TRUE(waitFor([&] { return m_disc->runs().size() >= 3; }));
    EXPECT_EQ(log.text(), "");
    SectorBuffer sector;
    EXPECT_FALSE(m_drive.waitSector(sector));
    EXPECT_EQ(log.text(), "Test: Read of 300 failed\n");
    m_disc->failNext(0);
    EXPECT_TRUE(m_drive.waitSector(sector));
    m_drive.switchOff();
    EXPECT_EQ(log.text(), "Test: Read of 300 failed\n");
}

// Runs body in a child killed after limit, so a hang fails instead of stalling ctest.
template <typename Body>
std::string runWatched(std::chrono::seconds limit, Body body)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
        _exit(body() ? 0 : 1);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (child > 0 && waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return "hung";
        }
        std::this_thread::sleep_for(5ms);
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "passed" : "failed";
}

// Random requests, seeks, reads of the emulation's own and disc swaps against
// a randomly late worker: every sector taken is the next of its range or
// seek, from the disc in the drive; the disc serves one read at a time;
// nothing hangs.
TEST(CDDriveRaceTest, RandomRequestsAgainstARandomlyLateWorker)
{
    const std::string outcome = runWatched(60s, [] {
        std::shared_ptr<FakeDisc> discs[2] = {std::make_shared<FakeDisc>(5000), std::make_shared<FakeDisc>(5000)};
        discs[0]->jitter(0xA1);
        discs[1]->jitter(0xB2);
        CDDrive drive;
        u32 inDrive = 0;
        drive.setMedia(discs[inDrive]);
        drive.switchOn();
        std::mt19937 random(1234);
        // expected: next FAD, 0 after a flush; held: paused by request, not by the range's end.
        u32 expected = 0, rangeEnd = 0, taken = 0, requests = 0;
        bool held = false;
        const auto end = std::chrono::steady_clock::now() + 3s;
        for (; requests < 6000 && std::chrono::steady_clock::now() < end; ++requests) {
            const u32 op = random() % 16;
            if (op < 6) {
                expected = 150 + random() % 2000;
                rangeEnd = expected + (random() % 3 == 0 ? random() % 24 : 1 + random() % 400);
                held = false;
                drive.pause(true);
                drive.read(expected, rangeEnd - expected);
            } else if (op < 8) {
                drive.pause(random() % 2 == 0);
                held = random() % 2 == 0 || drive.getState() != CDDrive::kPaused;
                if (!held)
                    drive.resume();
                expected = 0;
            } else if (op == 9) {
                drive.setMedia(discs[inDrive ^= 1]);
                drive.switchOn();
                expected = rangeEnd = 0;
            } else if (op == 8 || op == 10) {
                op == 8 ? drive.stop() : drive.clearBuffers();
                expected = 0;
            } else if (op == 11) {
                // The pickup moves; a resume reads on from there to the range's end.
                expected = 150 + random() % 2000;
                drive.seek(expected);
                held = random() % 2 == 0;
                if (!held)
                    drive.resume();
            } else if (op == 12) {
                // A read of its own, between the worker's, touches nothing of theirs.
                SectorBuffer own;
                const u32 fad = 150 + random() % 4000;
                if (!drive.readSectorNow(fad, own) || stampOf(own) != fad)
                    return false;
            }
            SectorBuffer sector;
            for (u32 i = random() % 40; i > 0; --i) {
                if (!drive.waitSector(sector)) {
                    // Only the range's end or a request may end the stream.
                    if (drive.getState() == CDDrive::kReading || (expected && !held && expected < rangeEnd))
                        return false;
                    break;
                }
                if (stampOf(sector) != sector.fad || sector.data[4] != (inDrive ? 0xB2 : 0xA1) ||
                    (expected && sector.fad != expected) || sector.fad >= rangeEnd)
                    return false;
                expected = sector.fad + 1;
                drive.nextSector();
                ++taken;
            }
        }
        drive.switchOff();
        return requests >= 2000 && taken > 20000 && !discs[0]->overlapped() && !discs[1]->overlapped();
    });
    EXPECT_EQ(outcome, "passed");
}

}  // namespace
