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
#include <limits>
#include <map>
#include <memory>
#include <tuple>
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

// Steady values that hold more than a read answers, on purpose (a read
// answers them shifted right, cut to its width): FRC's, OCR's and FICR's high
// bytes keep the whole count and TEMP, WTCSR and RSTCSR whether their flag was
// seen (for the write that clears it), HIRQREQ the count of its changes.
constexpr struct {
    u32 address, width, shift;
} kMoreThanRead[] = {{0xFFFFFE12, 1, 8}, {0xFFFFFE14, 1, 8}, {0xFFFFFE18, 1, 8}, {0xFFFFFE80, 1, 0},
                     {0xFFFFFE82, 1, 0}, {0x25890008, 2, 0}};

struct SteadySweep {
    struct Page {
        u32 slots = 0;             // three a byte, for widths 1, 2 and 4
        std::vector<u32> moments;  // the slots read inside fields
    };
    struct Watch {
        u32 address, width, bits, set = 0, clear = 0;  // `bits` must be seen both set and clear
    };
    explicit SteadySweep(std::vector<Watch> watch) : watched(std::move(watch)) {}
    std::vector<Watch> watched;
    std::map<std::pair<SH2*, u32>, Page> pages;  // by processor and base
    CSystem* sys = nullptr;
    u32 fieldEnds = 0, moments = 0;
};

// Every steady slot of the pages found, read at a field's end, or inside a
// field at the ends of each run of one steady value there (the status bytes
// of a page that reads 0 elsewhere, say): a read answers what the steady
// value says, leaves that value as it was and logs nothing, every object's
// log threshold raised in turn short of the CD block's trace (which makes
// HIRQREQ unsteady) and to every line; at a field's end, it leaves the
// machine as it was, byte for byte.
void checkSteadyReads(SteadySweep& sweep, bool atFieldEnd)
{
    if (::testing::Test::HasFailure())  // the first failure tells; thousands would bury it
        return;
    CSystem& sys = *sweep.sys;
    const s32 floor = Object::thresholdFloor();
    const bool deep = (atFieldEnd ? sweep.fieldEnds++ : sweep.moments++) % 2;
    Object::setThresholdFloor(deep ? std::numeric_limits<s32>::max() : 3);
    logSink().setBounded(false);
    for (auto& [at, swept] : sweep.pages) {
        const auto [cpu, base] = at;
        const AccessHandlers& h = cpu->pageMap()->page(base);
        std::string before, after;
        if (atFieldEnd)
            machineBytes(sys, h.owner, before);
        LogCapture log;
        std::vector<u64> steady(atFieldEnd ? swept.slots : 0);
        for (u32 i = 0; i < (atFieldEnd ? swept.slots : swept.moments.size()); ++i) {
            const u32 slot = atFieldEnd ? i : swept.moments[i];
            const u32 address = base + slot / 3, width = 1u << slot % 3;
            const u64 key = u64{cpu == &sys.slave()} << 40 | u64{address} << 3 | width;
            u32 found = 0, left = 0;
            if (!h.steadyRead(h.owner, cpu, address, width, found))
                continue;
            u32 answer = found;
            SH2* units = nullptr;  // whose named read notes what it saw: put back, to leave the run alone
            for (const auto& m : kMoreThanRead) {
                if ((address | 0x20000000) == m.address && width == m.width) {
                    answer = found >> m.shift & ((1u << 8 * width) - 1);
                    units = address >= 0xFFFFFE00 ? static_cast<SH2*>(h.owner) : nullptr;
                }
            }
            const auto notes = [units] { return std::tie(units->frt.temp, units->wdt.csrRead, units->wdt.rstRead); };
            std::tuple<u8, bool, bool> kept;
            if (units)
                kept = notes();
            const u32 read = width == 1   ? h.readByte(h.owner, cpu, address)
                             : width == 2 ? h.readWord(h.owner, cpu, address)
                                          : h.readLong(h.owner, cpu, address);
            if (units)
                notes() = kept;
            EXPECT_EQ(read, answer) << slotName(key);
            EXPECT_TRUE(h.steadyRead(h.owner, cpu, address, width, left) && left == found) << slotName(key) << " moved";
            if (atFieldEnd)
                steady[slot] = u64{1} << 32 | found;
        }
        if (atFieldEnd && !deep)
            swept.moments.clear();
        for (u32 n = 0; atFieldEnd && !deep && n < swept.slots; ++n) {
            if (steady[n] && (n < 3 || n + 3 >= swept.slots || steady[n - 3] != steady[n] || steady[n + 3] != steady[n]))
                swept.moments.push_back(n);
        }
        const std::string page = "page of " + slotName(u64{cpu == &sys.slave()} << 40 | u64{base} << 3);
        logSink().flush();
        EXPECT_EQ(log.text(), "") << page;
        if (atFieldEnd) {
            EXPECT_TRUE(before == machineBytes(sys, h.owner, after)) << page;
        }
    }
    logSink().setBounded(true);
    Object::setThresholdFloor(floor);
    for (SteadySweep::Watch& w : sweep.watched) {
        u32 value = 0;
        const AccessHandlers& h = sys.master().pageMap()->page(w.address);
        if (!atFieldEnd && h.steadyRead(h.owner, &sys.master(), w.address, w.width, value))
            std::tie(w.set, w.clear) = std::pair(w.set | value, w.clear | ~value);
    }
}

// Every page that answers steady reads, every offset, widths 1, 2 and 4, as
// both processors. A page whose steady answers repeat an earlier one of the
// same device is its mirror, and a block repeated along a page is read once.
void findPages(CSystem& sys, std::map<std::pair<SH2*, u32>, SteadySweep::Page>& pages)
{
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
            pages[{cpu, base}].slots = std::max(pages[{cpu, base}].slots, block);
            seen.emplace_back(h.owner, steady);
        }
    }
}

// The sweep after each field and, from the first, at moments inside fields.
void sweepSteadyReads(CSystem& sys, SteadySweep& sweep)
{
    constexpr u32 kMomentNs = 100'003;  // never in step with the lines
    if (!sweep.sys) {
        scheduler().schedule(kMomentNs, [](void* s, u32) { checkSteadyReads(*static_cast<SteadySweep*>(s), false); },
                             &sweep, Scheduler::kForever, kMomentNs, 0);
    }
    sweep.sys = &sys;
    // Mirrors are told apart by their answers, at two fields' ends.
    if (sweep.fieldEnds == 0 || sweep.fieldEnds == 2)
        findPages(sys, sweep.pages);
    checkSteadyReads(sweep, true);
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
// the serial interface's, a window outside the cache-through area) or that
// follow the host (the pad ports) are never steady. Which are steady is
// checked for a hand list after fields of the register-wait disc; a sweep
// reads every steady one there and on the compiled disc, which moves the CD
// block's registers.
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
        {0xFFFFFE04, 1, false, false},  // SSR, the serial interface's
    };
    constexpr int kChecks = 8;
    TempDir dir;
    // IST (V-BLANK-IN and -OUT, the SMPC's, level 0's end, the draw's end),
    // DSTA, TVSTAT, VCNT, EDSR, SF and FRC's high byte move at the moments.
    SteadySweep swept({{0x25FE00A4, 4, 0x2883}, {0x25FE007C, 4, 0x10}, {0x25F80004, 2, 0x0C},
        {0x25F8000A, 2, 0x100}, {0x25D00010, 2, 0x02}, {0x20100063, 1, 0x01}, {0xFFFFFE12, 1, 0xFF00}});
    runDisc(KEST_BINARY_DIR "/testdata/waits.iso", false, dir.path().string(), kChecks, [&](CSystem& sys) {
        for (const Register& r : registers) {
            for (SH2* cpu : {&sys.master(), &sys.slave()}) {
                const bool steady = cpu == &sys.master() ? r.master : r.slave;
                const AccessHandlers& h = cpu->pageMap()->page(r.address);
                u32 value = 0;
                ASSERT_TRUE(h.steadyRead) << std::hex << r.address;
                ASSERT_EQ(h.steadyRead(h.owner, cpu, r.address, r.width, value), steady) << std::hex << r.address;
            }
        }
        sweepSteadyReads(sys, swept);
    });
    // The CD block answers the compiled disc's commands: HIRQREQ's count and CR1 move.
    TempDir compiledDir;
    SteadySweep compiled({{0x25890008, 2, 0x10000}, {0x25890018, 2, 0x100}});
    runDisc(KEST_BINARY_DIR "/testdata/compiled.iso", false, compiledDir.path().string(), 4,
            [&](CSystem& sys) { sweepSteadyReads(sys, compiled); });
    if (::testing::Test::HasFailure())
        return;  // the sweep stopped at the first
    for (const SteadySweep* sweep : {&swept, &compiled}) {
        for (const SteadySweep::Watch& w : sweep->watched)
            EXPECT_EQ(w.set & w.clear & w.bits, w.bits) << std::hex << w.address;
    }
}
