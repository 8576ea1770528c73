// The compiled disc waits on both processors in every shape the SH-2 skips
// (delayed branches, chains of calls, counts with a limit, steady device
// registers) while the CD block, the timers and V-BLANK-IN move on between
// slices; the register-wait disc waits on TVSTAT, VCNT, EDSR, IST, DSTA
// and SF as the libraries do, and on a register the slave may not read
// quietly. With a breakpoint armed that the program never reaches, nothing
// is skipped: both runs must leave the machine in the same state after
// every field, and log the same lines.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/base/shared_state.h"
#include "core/emulator/kest.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

constexpr int kFields = 60;
constexpr u32 kNowhere = 0x01000000;

struct Run {
    std::vector<u64> digests;  // per field: both work RAMs, both SH-2s
    std::string log;
};

// The disc booted as the application opens it; `inspect` sees the machine
// after every field.
template <typename Inspect>
Run runDisc(const char* disc, bool reference, const std::string& folder, int fields, Inspect inspect)
{
    scheduler().clear();
    debugBreak = sliceResume = debugStopped = 0;
    Run run;
    logSink().flush();
    LogCapture log;
    auto kest = std::make_unique<Kest>();
    kest->setDataFolder(folder);
    if (!kest->prepare(nullptr) || !kest->open(disc, 0))
        return run;
    kest->start();
    kest->resume();
    CSystem& sys = kest->getSystem();
    if (reference) {
        sys.master().setBreakpoint(kNowhere);
        sys.slave().setBreakpoint(kNowhere);
    }
    for (int field = 0; field < fields; ++field) {
        kest->update();
        u64 digest = 1469598103934665603ull;
        const auto add = [&digest](u32 v) { digest = (digest ^ v) * 1099511628211ull; };
        for (const u8* ram : {sys.memory().workRamHigh.get(), sys.memory().workRamLow.get()}) {
            for (u32 i = 0; i < SystemMemory::kWorkRamSize; i += 4)
                add(loadBe32(ram + i));
        }
        for (SH2* cpu : {&sys.master(), &sys.slave()}) {
            for (int n = 0; n <= 22; ++n)
                add(cpu->getRegister(n));
            add(cpu->frt.frc);
            add(cpu->frt.ftcsr);
        }
        run.digests.push_back(digest);
        inspect(sys);
    }
    kest->stop();
    kest.reset();
    scheduler().clear();
    logSink().flush();
    run.log = log.text();
    for (size_t at; (at = run.log.find(folder)) != std::string::npos;)
        run.log.replace(at, folder.size(), "DATA");
    return run;
}

void expectSkippingLeavesTheMachineAsRunningDoes(const char* disc)
{
    // Each from a data folder of its own, so both format the backup memory.
    TempDir skippedDir, runDir;
    const auto nothing = [](CSystem&) {};
    const Run skipped = runDisc(disc, false, skippedDir.path().string(), kFields, nothing);
    const Run run = runDisc(disc, true, runDir.path().string(), kFields, nothing);
    ASSERT_EQ(run.digests.size(), static_cast<size_t>(kFields));
    for (int field = 0; field < kFields; ++field)
        ASSERT_EQ(skipped.digests[field], run.digests[field]) << "first differs after field " << field;
    EXPECT_EQ(skipped.log, run.log);
}

}  // namespace

TEST(WaitingLoops, SkippingLeavesTheMachineAsRunningDoes)
{
    expectSkippingLeavesTheMachineAsRunningDoes(KEST_BINARY_DIR "/testdata/compiled.iso");
}

TEST(WaitingLoops, WaitsOnDeviceRegistersLeaveTheMachineAsRunningDoes)
{
    expectSkippingLeavesTheMachineAsRunningDoes(KEST_BINARY_DIR "/testdata/waits.iso");
}

// A register counts as memory only while a read answers what its steady
// read does and changes nothing; reads that are logged (the slave's, OREG3,
// a window outside the cache-through area) or that follow the host (the
// pad ports) are never steady. Checked after fields of the register-wait
// disc, as its waits leave the devices.
TEST(WaitingLoops, SteadyDeviceReadsAnswerWhatReadsDo)
{
    struct Register {
        u32 address;
        u32 width;
        bool master;  // steady for the master
        bool slave;   // steady for the slave
    };
    const Register registers[] = {
        {0x25F80004, 2, true, false},   // TVSTAT
        {0x25F8000A, 2, true, false},   // VCNT
        {0x25F80000, 4, true, false},   // TVMD and EXTEN
        {0x25F80006, 2, true, false},   // VRSIZE
        {0x25F80010, 2, false, false},  // write-only
        {0x25D00010, 2, true, true},    // EDSR
        {0x25D00014, 2, true, false},   // COPR
        {0x25D00010, 4, true, false},   // EDSR and LOPR
        {0x25D00017, 1, true, false},   // MODR's low byte
        {0x25D00002, 2, false, false},  // FBCR, write-only
        {0x25FE00A4, 4, true, false},   // IST
        {0x25FE00A7, 1, true, false},   // IST's low byte
        {0x25FE007C, 4, true, true},    // DSTA
        {0x05FE007C, 4, false, false},  // DSTA outside the cache-through area
        {0x25FE0090, 4, false, false},  // T0C, write-only
        {0x20100063, 1, true, false},   // SF
        {0x20100061, 1, true, false},   // SR
        {0x20100060, 4, true, false},   // SR and SF in a long
        {0x20100021, 1, true, false},   // OREG0
        {0x20100027, 1, false, false},  // OREG3, whose reads are logged
        {0x20100075, 1, false, false},  // PDR1
    };
    u32 steadyReads = 0;
    for (const Register& r : registers)
        steadyReads += r.master + r.slave;
    constexpr int kChecks = 8;
    TempDir dir;
    u32 checked = 0;
    runDisc(KEST_BINARY_DIR "/testdata/waits.iso", false, dir.path().string(), kChecks, [&](CSystem& sys) {
        for (const Register& r : registers) {
            for (SH2* cpu : {&sys.master(), &sys.slave()}) {
                const bool steady = cpu == &sys.master() ? r.master : r.slave;
                const AccessHandlers& h = cpu->pageMap()->page(r.address);
                u32 value = 0;
                ASSERT_TRUE(h.steadyRead) << std::hex << r.address;
                ASSERT_EQ(h.steadyRead(h.owner, cpu, r.address, r.width, value), steady) << std::hex << r.address;
                if (!steady)
                    continue;
                logSink().flush();
                LogCapture log;
                const u32 read = r.width == 1   ? h.readByte(h.owner, cpu, r.address)
                                 : r.width == 2 ? h.readWord(h.owner, cpu, r.address)
                                                : h.readLong(h.owner, cpu, r.address);
                logSink().flush();
                EXPECT_EQ(value, read) << std::hex << r.address;
                EXPECT_EQ(log.text(), "") << std::hex << r.address;
                ++checked;
            }
        }
    });
    EXPECT_EQ(checked, kChecks * steadyReads);
}
