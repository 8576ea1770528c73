// The compiled disc waits on both processors in every shape the SH-2 skips
// (delayed branches, chains of calls, counts with a limit, steady device
// registers) while the CD block, the timers and V-BLANK-IN move on between
// slices; the register-wait disc waits on TVSTAT, VCNT, EDSR, IST, DSTA
// and SF as the libraries do, and on a register the slave may not read
// quietly. With a breakpoint armed that the program never reaches, nothing
// is skipped: both runs must leave the machine in the same state after
// every field, and log the same lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

namespace {

// The hand-picked registers a waiting program polls: whether each counts as
// memory for each processor. Reads that are logged (the slave's, OREG3, a
// window outside the cache-through area) or that follow the host (the pad
// ports) are never steady.
struct SteadyRegister {
    u32 address;
    u32 width;
    bool master;  // steady for the master
    bool slave;   // steady for the slave
};
constexpr SteadyRegister kSteadyRegisters[] = {
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
    {0x25FE0080, 4, false, false},  // PPAF, whose reads clear flags
    {0x20100063, 1, true, false},   // SF
    {0x20100061, 1, true, false},   // SR
    {0x20100060, 4, true, false},   // SR and SF in a long
    {0x20100021, 1, true, false},   // OREG0
    {0x20100027, 1, false, false},  // OREG3, whose reads are logged
    {0x20100075, 1, false, false},  // PDR1
    {0x25890008, 2, true, true},    // HIRQREQ
    {0x25890024, 2, false, false},  // CR4, whose reads turn the report on
    {0xFFFFFE92, 1, true, true},    // CCR
    {0xFFFFFE00, 1, false, false},  // SMR, of the serial interface that logs
};

u32 readAs(const AccessHandlers& h, SH2* cpu, u32 address, u32 width)
{
    return width == 1 ? h.readByte(h.owner, cpu, address)
                      : width == 2 ? h.readWord(h.owner, cpu, address) : h.readLong(h.owner, cpu, address);
}

// Every page that answers steady reads, every offset, widths 1, 2 and 4, as
// each processor: where the steady read says yes, a real read logs nothing,
// and a read that leaves the steady value as it was leaves the machine as it
// was. The steady value tells apart what a read answers (HIRQREQ's and the
// timers' carry more than the answer), so across fields one steady value
// must keep one answer. Pages whose steady answers repeat an earlier page
// of the same handlers at every offset are its mirror and read alike, as do
// the copies of a block repeated along a page.
class SteadySweep {
public:
    explicit SteadySweep(CSystem& sys) : m_sys(sys) {}

    // Answers the slots that said yes.
    u32 sweep()
    {
        logSink().flush();
        logSink().setBounded(false);
        std::vector<Object*> loud = {&m_sys, &m_sys.slave()};
        for (Device* device : m_sys.devices())
            loud.push_back(device);
        std::vector<s32> thresholds;
        for (Object* o : loud) {
            thresholds.push_back(o->threshold());
            o->setThreshold(3);  // below the CD block's trace, whose reads are never steady
        }
        std::vector<Answer> answers;
        for (SH2* cpu : {&m_sys.master(), &m_sys.slave()}) {
            std::vector<std::pair<const AccessHandlers*, std::vector<u64>>> seen;
            for (u32 page = 0; page < PageMap::kPages; ++page) {
                const u32 base = page << PageMap::kPageShift;
                const AccessHandlers& h = cpu->pageMap()->page(base);
                if (!h.steadyRead)
                    continue;
                std::vector<u64> steady(3 << PageMap::kPageShift);
                for (u32 slot = 0; slot < steady.size(); ++slot) {
                    u32 value = 0;
                    if (h.steadyRead(h.owner, cpu, base + slot / 3, 1u << slot % 3, value))
                        steady[slot] = u64{1} << 32 | value;
                }
                const bool mirror = std::any_of(seen.begin(), seen.end(), [&](const auto& p) {
                    return sameHandlers(*p.first, h) && p.second == steady;
                });
                // A block repeated along the page is read once.
                u32 block = 3;
                while (block < steady.size() && !std::equal(steady.begin() + block, steady.end(), steady.begin()))
                    block *= 2;
                if (!mirror)
                    readPage(cpu, h, base, steady, block, answers);
                seen.emplace_back(&h, std::move(steady));
            }
        }
        for (size_t i = 0; i < loud.size(); ++i)
            loud[i]->setThreshold(thresholds[i]);
        logSink().setBounded(true);
        // Sweeps run in one order, so slots line up across fields.
        for (size_t i = 0, j = 0; i < answers.size(); ++i) {
            while (j < m_last.size() && m_last[j].key < answers[i].key)
                ++j;
            if (j < m_last.size() && m_last[j].key == answers[i].key && m_last[j].steady == answers[i].steady) {
                EXPECT_EQ(m_last[j].read, answers[i].read) << where(answers[i].key) << ": one steady value, two answers";
            }
        }
        m_last = std::move(answers);
        return static_cast<u32>(m_last.size());
    }

private:
    struct Answer {
        u64 key;  // processor, address and width
        u32 steady;
        u32 read;
    };

    static bool sameHandlers(const AccessHandlers& a, const AccessHandlers& b)
    {
        return a.owner == b.owner && a.readByte == b.readByte && a.readWord == b.readWord &&
               a.readLong == b.readLong && a.steadyRead == b.steadyRead;
    }
    static std::string where(u64 key)
    {
        char text[48];
        std::snprintf(text, sizeof text, "%s %08X width %u", key >> 40 ? "slave" : "master",
                      static_cast<u32>(key >> 3), static_cast<u32>(key & 7));
        return text;
    }

    // The bytes of the devices a read may change: the page's owner, the SCU
    // and both processors (their pending interrupts), and the events.
    std::string state(const void* owner) const
    {
        const std::pair<const void*, size_t> owners[] = {{&m_sys.smpc(), sizeof(SMPC)}, {&m_sys.vdp1(), sizeof(VDP1)},
            {&m_sys.vdp2(), sizeof(VDP2)}, {&m_sys.cdb(), sizeof(CDB)}, {&m_sys.scu(), sizeof(SCU)},
            {&m_sys.master(), sizeof(SH2)}, {&m_sys.slave(), sizeof(SH2)}};
        constexpr size_t kAlways = 4;  // the SCU and the processors
        std::string bytes;
        for (size_t i = 0; i < std::size(owners); ++i) {
            if (owners[i].first == owner || i >= kAlways)
                bytes.append(static_cast<const char*>(owners[i].first), owners[i].second);
        }
        EXPECT_TRUE(std::any_of(std::begin(owners), std::end(owners), [owner](auto& o) { return o.first == owner; }))
            << "a device the sweep does not know answers steady reads";
        bytes.append(reinterpret_cast<const char*>(&scheduler()), sizeof(Scheduler));
        return bytes;
    }

    // The real reads of one page's steady slots, each between two steady
    // reads. The state is compared once for the page, or around each read
    // where some read moved its own steady value (the timers keep a byte for
    // the next read, and their steady values show it).
    void readPage(SH2* cpu, const AccessHandlers& h, u32 base, const std::vector<u64>& steady, u32 slots,
                  std::vector<Answer>& answers)
    {
        for (const bool each : {false, true}) {
            const std::string before = state(h.owner);
            bool moved = false;
            LogCapture log;
            for (u32 slot = 0; slot < slots; ++slot) {
                const u32 address = base + slot / 3, width = 1u << slot % 3;
                u32 found = 0, left = 0;
                if (!steady[slot] || !h.steadyRead(h.owner, cpu, address, width, found))
                    continue;
                const std::string own = each ? state(h.owner) : std::string();
                const u32 read = readAs(h, cpu, address, width);
                const u64 key = u64{cpu == &m_sys.slave()} << 40 | u64{address} << 3 | width;
                ASSERT_TRUE(h.steadyRead(h.owner, cpu, address, width, left)) << where(key) << " after a read";
                moved |= left != found;
                if (each && left == found) {
                    EXPECT_TRUE(own == state(h.owner)) << where(key) << " changed what its steady value hides";
                }
                if (!each)
                    answers.push_back({key, found, read});
            }
            logSink().flush();
            EXPECT_EQ(log.text(), "") << std::hex << "reads of the page at " << base;
            if (!moved) {
                EXPECT_TRUE(before == state(h.owner)) << std::hex << "reads of the page at " << base << " changed it";
                return;
            }
        }
    }

    CSystem& m_sys;
    std::vector<Answer> m_last;
};

}  // namespace

// Checked after each field of the register-wait disc, as its waits leave
// the devices.
TEST(WaitingLoops, SteadyDeviceReadsAnswerWhatReadsDo)
{
    constexpr int kChecks = 8;
    TempDir dir;
    u32 listed = 0, swept = 0;
    std::unique_ptr<SteadySweep> sweep;
    runDisc(KEST_BINARY_DIR "/testdata/waits.iso", false, dir.path().string(), kChecks, [&](CSystem& sys) {
        for (const SteadyRegister& r : kSteadyRegisters) {
            for (SH2* cpu : {&sys.master(), &sys.slave()}) {
                const AccessHandlers& h = cpu->pageMap()->page(r.address);
                u32 value = 0;
                ASSERT_TRUE(h.steadyRead) << std::hex << r.address;
                EXPECT_EQ(h.steadyRead(h.owner, cpu, r.address, r.width, value),
                          cpu == &sys.master() ? r.master : r.slave)
                    << std::hex << r.address;
                ++listed;
            }
        }
        if (!sweep)
            sweep = std::make_unique<SteadySweep>(sys);
        swept += sweep->sweep();
    });
    EXPECT_EQ(listed, kChecks * 2 * std::size(kSteadyRegisters));
    EXPECT_GT(swept, 0u);
}
