#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <random>
#include <cstring>
#include <thread>

#include "cd/drive/cd_drive.h"
#include "cd/media/bin.h"
#include "core/base/object.h"
#include "support/files.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void discardLog(void*, const char*, std::size_t) {}

// Runs body in a child process; a child still running after limit has hung
// and is killed, so a hang fails the test instead of stalling ctest.
// Answers how the child ended: "passed", "failed" or "hung".
template <typename Body>
std::string runWatched(std::chrono::milliseconds limit, Body body)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return "fork failed";
    if (child == 0)
        _exit(body() ? 0 : 1);
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return "hung";
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "passed" : "failed";
}

// A guest that seeks into the lead-in and plays from there without pickup,
// three fields at a time, with both threads on one core: the worker's
// reads of the lead-in are instant, so it fills the whole ring while the
// emulation is still waking from its wait.
TEST(CDDriveRaceTest, LeadInPlayOnOneCoreNeverHangs)
{
    TempDir dir;
    {
        std::vector<u8> image(2048 * 400, 0x11);
        std::ofstream out(dir.file("small.iso"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    const std::string path = dir.file("small.iso");
    const std::string outcome = runWatched(8s, [&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0)
            return false;
        logSink().setWriter(discardLog, nullptr);
        CDDrive drive;
        drive.setMedia(std::make_shared<CBin>(path));
        drive.switchOn();
        constexpr u32 kLeadInFad = 10;
        // Sectors a double-speed drive reads in three fields.
        constexpr u32 kSectorsPerPlay = 8;
        const auto end = Clock::now() + 2s;
        u32 round = 0;
        for (; Clock::now() < end; ++round) {
            drive.pause(true);
            drive.read(kLeadInFad, 400);
            SectorBuffer sector;
            for (u32 i = 0; i < kSectorsPerPlay; ++i) {
                if (!drive.waitSector(sector) || sector.fad != kLeadInFad + i)
                    return false;
                drive.nextSector();
            }
        }
        drive.switchOff();
        // Thousands of plays, not one slow one.
        return round >= 1000;
    });
    EXPECT_EQ(outcome, "passed");
}

// Sectors stamped with their FAD and the disc's own mark, at any FAD; each
// read is made late, a little late or instant at random.
class JitteryDisc : public CCd {
public:
    JitteryDisc(u32 mark, u32 seed) : CCd(""), m_mark(mark), m_random(seed)
    {
        TrackInfo track;
        track.startFad = track.pregapStart = 150;
        track.endFad = 150 + 100000;
        track.number = 1;
        track.sectorSize = 2048;
        track.mode = SectorBuffer::kMode1;
        SessionInfo session;
        session.tracks.push_back(track);
        session.leadOut = track.endFad + 1;
        m_sessions.push_back(session);
    }

    u32 readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count) override
    {
        // Only the worker reads, so the generator needs no lock.
        const u32 roll = m_random() % 8;
        if (roll == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(m_random() % 3000));
        else if (roll == 1)
            std::this_thread::yield();
        for (u32 k = 0; k < count; ++k) {
            const u32 stamp[2] = {fad + k, m_mark};
            std::memcpy(destination + std::size_t{k} * 2048, stamp, sizeof stamp);
        }
        mode = SectorBuffer::kMode1;
        size = 2048;
        return count;
    }

    u32 mark() const { return m_mark; }

private:
    u32 m_mark;
    std::mt19937 m_random;
};

// Aborts the process when a step does not finish in time: a hang shows as
// a crash with its stacks instead of stalling the run.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fputs("the drive hung\n", stderr);
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// Plays, seeks, pauses, stops and swaps discs thousands of times against a
// worker that is late or early at random, and checks that every sector
// taken is the next of its range, of the disc in the drive.
TEST(CDDriveRaceTest, RandomRequestsAgainstARandomlyLateWorker)
{
    logSink().setWriter(discardLog, nullptr);
    std::shared_ptr<JitteryDisc> discs[2] = {std::make_shared<JitteryDisc>(0xD15C0001, 1),
                                             std::make_shared<JitteryDisc>(0xD15C0002, 2)};
    CDDrive drive;
    u32 inDrive = 0;
    drive.setMedia(discs[inDrive]);
    drive.switchOn();
    std::mt19937 random(1234);
    // The next FAD each taken sector must have; 0 when a flush left it to the worker.
    u32 expected = 0;
    u32 rangeEnd = 0;
    // Paused by a request rather than by the end of the range.
    bool held = false;
    u32 taken = 0;
    constexpr u32 kRequests = 6000;
    const auto deadline = Clock::now() + 3s;
    Watchdog watchdog(60s);
    u32 requests = 0;
    for (; requests < kRequests && Clock::now() < deadline; ++requests) {
        const u32 op = random() % 16;
        if (op < 6) {
            const u32 fad = 100 + random() % 2000;
            const u32 count = random() % 3 == 0 ? random() % 24 : 1 + random() % 400;
            drive.pause(true);
            drive.read(fad, count);
            expected = fad;
            rangeEnd = fad + count;
            held = false;
        } else if (op < 8) {
            drive.pause(random() % 2 == 0);
            held = drive.getState() == CDDrive::kPaused;
            if (held && random() % 2 == 0) {
                drive.resume();
                held = false;
            }
            expected = 0;
        } else if (op == 8) {
            drive.stop();
            SectorBuffer sector;
            ASSERT_FALSE(drive.waitSector(sector));
            // A pause and a resume take the range up again.
            expected = 0;
        } else if (op == 9) {
            inDrive ^= 1;
            drive.setMedia(discs[inDrive]);
            drive.switchOn();
            expected = 0;
            rangeEnd = 0;
        } else if (op == 10) {
            drive.clearBuffers();
            expected = 0;
        }
        const u32 want = random() % 40;
        SectorBuffer sector;
        for (u32 i = 0; i < want; ++i) {
            if (!drive.waitSector(sector)) {
                // Only a used-up range or a drive that is not reading ends the stream.
                const u32 state = drive.getState();
                ASSERT_TRUE(state != CDDrive::kReading) << "request " << requests;
                if (expected != 0 && !held) {
                    ASSERT_GE(expected, rangeEnd) << "request " << requests;
                }
                break;
            }
            u32 stamp[2];
            std::memcpy(stamp, sector.data, sizeof stamp);
            ASSERT_EQ(stamp[1], discs[inDrive]->mark()) << "request " << requests;
            ASSERT_EQ(stamp[0], sector.fad) << "request " << requests;
            if (expected != 0) {
                ASSERT_EQ(sector.fad, expected) << "request " << requests;
            }
            ASSERT_LT(sector.fad, rangeEnd) << "request " << requests;
            expected = sector.fad + 1;
            drive.nextSector();
            ++taken;
        }
    }
    drive.switchOff();
    EXPECT_GE(requests, 2000u) << "too few requests to shake out a race";
    EXPECT_GT(taken, 20000u);
}

}  // namespace
