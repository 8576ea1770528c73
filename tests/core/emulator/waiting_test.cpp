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
#include <unordered_map>
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

// By slot (processor, address and width): what its steady read answered and
// what a read gave, at the last sweep.
using SteadyAnswers = std::unordered_map<u64, std::pair<u32, u32>>;

// A slot's key, or a page's without a width.
std::string slotName(u64 key)
{
    char text[40];
    std::snprintf(text, sizeof text, "%s %08X", key >> 40 ? "slave" : "master", static_cast<u32>(key >> 3));
    return key & 7 ? text + (" width " + std::to_string(key & 7)) : text;
}

// What a read may change: the devices that answer steady reads, both
// processors (their pending interrupts) and the events.
const std::string& machineBytes(CSystem& sys, const void* owner, std::string& bytes)
{
    const std::pair<const void*, size_t> parts[] = {{&sys.smpc(), sizeof(SMPC)}, {&sys.vdp1(), sizeof(VDP1)},
        {&sys.vdp2(), sizeof(VDP2)}, {&sys.cdb(), sizeof(CDB)}, {&sys.scu(), sizeof(SCU)},
        {&sys.master(), sizeof(SH2)}, {&sys.slave(), sizeof(SH2)}, {&scheduler(), sizeof(Scheduler)}};
    EXPECT_TRUE(std::any_of(parts, parts + 7, [owner](auto& p) { return p.first == owner; })) << "an unknown device";
    bytes.clear();
    for (const auto& [part, size] : parts)
        bytes.append(static_cast<const char*>(part), size);
    return bytes;
}

// The steady ones among a page's first slots (three a byte, for widths 1,
// 2 and 4), each read between two steady reads: it logs nothing, and where
// it leaves its steady value as it was, it leaves the machine so. That is
// checked once for the page, or around each read where some read moved its
// own steady value (a timer keeps a byte for the next read, and shows it).
void readSlots(CSystem& sys, SH2* cpu, const AccessHandlers& h, u32 base, u32 slots, SteadyAnswers& answers)
{
    std::string before, own, after;
    for (const bool each : {false, true}) {
        machineBytes(sys, h.owner, before);
        bool moved = false;
        LogCapture log;
        for (u32 slot = 0; slot < slots; ++slot) {
            const u32 address = base + slot / 3, width = 1u << slot % 3;
            const u64 key = u64{cpu == &sys.slave()} << 40 | u64{address} << 3 | width;
            u32 found = 0, left = 0;
            if (!h.steadyRead(h.owner, cpu, address, width, found))
                continue;
            if (each)
                machineBytes(sys, h.owner, own);
            const u32 read = width == 1   ? h.readByte(h.owner, cpu, address)
                             : width == 2 ? h.readWord(h.owner, cpu, address)
                                          : h.readLong(h.owner, cpu, address);
            ASSERT_TRUE(h.steadyRead(h.owner, cpu, address, width, left)) << slotName(key) << " after a read";
            moved |= left != found;
            if (each && left == found) {
                EXPECT_TRUE(own == machineBytes(sys, h.owner, after)) << slotName(key) << " changed, unseen";
            }
            auto [last, fresh] = answers.try_emplace(key, found, read);
            if (!fresh && last->second.first == found) {
                EXPECT_EQ(last->second.second, read) << slotName(key) << ": one steady value, two answers";
            }
            last->second = {found, read};
        }
        const std::string page = "page of " + slotName(u64{cpu == &sys.slave()} << 40 | u64{base} << 3);
        logSink().flush();
        EXPECT_EQ(log.text(), "") << page;
        if (!moved) {
            EXPECT_TRUE(before == machineBytes(sys, h.owner, after)) << page;
            return;
        }
    }
}

// Every page that answers steady reads, every offset, widths 1, 2 and 4, as
// both processors. A page whose steady answers repeat an earlier one of the
// same device is its mirror, and a block repeated along a page is read once.
// The steady value tells apart what a read answers (HIRQREQ's and the
// timers' carry more), so a slot's steady value keeps one answer from field
// to field.
void sweepSteadyReads(CSystem& sys, SteadyAnswers& answers)
{
    logSink().flush();
    logSink().setBounded(false);
    std::vector<std::pair<Object*, s32>> loud = {{&sys, 0}, {&sys.slave(), 0}};
    for (Device* device : sys.devices())
        loud.emplace_back(device, 0);
    for (auto& [object, threshold] : loud) {
        threshold = object->threshold();
        object->setThreshold(3);  // short of the CD block's trace
    }
    for (SH2* cpu : {&sys.master(), &sys.slave()}) {
        std::vector<std::pair<const void*, std::vector<u64>>> seen;
        std::vector<u64> steady(3 << PageMap::kPageShift);
        for (u32 page = 0; page < PageMap::kPages; ++page) {
            const u32 base = page << PageMap::kPageShift;
            const AccessHandlers& h = cpu->pageMap()->page(base);
            if (!h.steadyRead)
                continue;
            for (u32 offset = 0, slot = 0, value = 0; offset <= PageMap::kPageMask; ++offset) {
                for (u32 width = 1; width <= 4; width *= 2, ++slot) {
                    const bool yes = h.steadyRead(h.owner, cpu, base + offset, width, value);
                    steady[slot] = yes ? u64{1} << 32 | value : 0;
                }
            }
            if (std::any_of(seen.begin(), seen.end(), [&](auto& p) { return p.first == h.owner && p.second == steady; }))
                continue;
            u32 block = 3;
            while (block < steady.size() && !std::equal(steady.begin() + block, steady.end(), steady.begin()))
                block *= 2;
            readSlots(sys, cpu, h, base, block, answers);
            seen.emplace_back(h.owner, steady);
        }
    }
    for (auto& [object, threshold] : loud)
        object->setThreshold(threshold);
    logSink().setBounded(true);
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
// disc, as its waits leave the devices, for a hand list and by a sweep.
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
    SteadyAnswers swept;
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
        sweepSteadyReads(sys, swept);
    });
    EXPECT_EQ(checked, kChecks * steadyReads);
    EXPECT_GT(swept.size(), 0u);
}
