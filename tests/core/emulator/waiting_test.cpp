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
#include <memory>
#include <set>
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

// A slot's key (processor, address and width), or a page's without a width.
u64 slotKey(CSystem& sys, const SH2* cpu, u32 address, u32 width)
{
    return u64{cpu == &sys.slave()} << 40 | u64{address} << 3 | width;
}

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

// The registers whose steady value holds more than a read answers, on
// purpose: the read answers the steady value shifted right by `shift`, cut
// to its width. Every other steady value is what a read answers.
struct MoreThanRead {
    bool onChip;  // a processor's own units; otherwise the CD block
    u32 offset;   // in the page
    u32 width;
    u32 shift;
    const char* why;
};
constexpr MoreThanRead kMoreThanRead[] = {
    {true, 0xFE12, 1, 8, "FRC's high byte: the whole count and TEMP, where the read leaves the low byte"},
    {true, 0xFE14, 1, 8, "OCR's high byte: the same"},
    {true, 0xFE18, 1, 8, "FICR's high byte: the same"},
    {true, 0xFE80, 1, 0, "WTCSR: whether its flag was seen, which the read notes for the write that clears it"},
    {true, 0xFE82, 1, 0, "RSTCSR: the same"},
    {false, 0x0008, 2, 0, "HIRQREQ: the count of its changes, so a bit set and cleared between two reads shows"},
};

constexpr s32 kShortOfTrace = 3;  // the CD block's trace makes HIRQREQ unsteady
constexpr s32 kEveryLine = std::numeric_limits<s32>::max();

// Every steady slot, each read where the processor would read it: the
// answer must be what the steady value says, leave that value as it was,
// and log nothing with every object's threshold raised, alternately short
// of the CD block's trace and to every line.
class SteadyCheck {
public:
    explicit SteadyCheck(CSystem& sys) : m_sys(sys) {}

    // Every page that answers steady reads, every offset, widths 1, 2 and
    // 4, as both processors, adding those not found before. A page whose
    // steady answers repeat an earlier one of the same device is its
    // mirror, and a block repeated along a page is read once.
    void findPages();
    // At a field's end: every slot of the pages found, whose reads must
    // also leave the machine as it was, byte for byte.
    void atFieldEnd() { check(true, m_fieldEnds++ % 2 ? kEveryLine : kShortOfTrace); }
    // Inside a field: the slots at the ends of each run of one steady
    // value at a recent field's end (the status bytes of a page that reads
    // 0 elsewhere, say).
    static void atMoment(void* self, u32) { static_cast<SteadyCheck*>(self)->atMoment(); }

    // A register whose steady values at the moments are kept.
    void watch(u32 address, u32 width) { m_watched.push_back({address, width}); }
    // The bits of a watched register's steady value seen both set and clear.
    u32 moved(u32 address, u32 width) const;
    u32 moments() const { return m_moments; }

private:
    struct Page {
        SH2* cpu;
        u32 base;
        u32 slots;  // three a byte, for widths 1, 2 and 4
        std::vector<u32> moments;  // the slots read inside fields
    };
    struct Watched {
        u32 address, width;
        u32 set = 0, clear = 0;  // the bits seen so
    };
    void atMoment();
    void check(bool wholeMachine, s32 floor);
    void readPage(Page& page, bool wholeMachine, bool findMoments);
    bool readSlot(SH2* cpu, const AccessHandlers& h, u32 address, u32 width, u32& found);
    const MoreThanRead* moreThanRead(const AccessHandlers& h, u32 address, u32 width) const;
    // Each slot fails once, so a fault shows as one line a slot.
    void fail(u64 key, const std::string& what)
    {
        if (m_failed.insert(key).second)
            ADD_FAILURE() << slotName(key) << ": " << what;
    }

    CSystem& m_sys;
    std::vector<Page> m_pages;
    std::set<u64> m_failed;
    std::vector<Watched> m_watched;
    u32 m_fieldEnds = 0;
    u32 m_moments = 0;
};

void SteadyCheck::findPages()
{
    const s32 floor = Object::thresholdFloor();
    Object::setThresholdFloor(kShortOfTrace);
    for (SH2* cpu : {&m_sys.master(), &m_sys.slave()}) {
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
            seen.emplace_back(h.owner, steady);
            const auto known = std::find_if(m_pages.begin(), m_pages.end(),
                                            [&](auto& p) { return p.cpu == cpu && p.base == base; });
            if (known == m_pages.end())
                m_pages.push_back({cpu, base, block, {}});
            else
                known->slots = std::max(known->slots, block);
        }
    }
    Object::setThresholdFloor(floor);
}

void SteadyCheck::atMoment()
{
    check(false, m_moments++ % 2 ? kEveryLine : kShortOfTrace);
    for (Watched& w : m_watched) {
        const AccessHandlers& h = m_sys.master().pageMap()->page(w.address);
        u32 value = 0;
        if (h.steadyRead(h.owner, &m_sys.master(), w.address, w.width, value)) {
            w.set |= value;
            w.clear |= ~value;
        }
    }
}

u32 SteadyCheck::moved(u32 address, u32 width) const
{
    for (const Watched& w : m_watched) {
        if (w.address == address && w.width == width)
            return w.set & w.clear;
    }
    return 0;
}

void SteadyCheck::check(bool wholeMachine, s32 floor)
{
    const s32 was = Object::thresholdFloor();
    Object::setThresholdFloor(floor);
    logSink().setBounded(false);
    for (Page& page : m_pages)
        readPage(page, wholeMachine, wholeMachine && floor == kShortOfTrace);
    logSink().setBounded(true);
    Object::setThresholdFloor(was);
}

// Where reads changed the machine unseen, they are read again one at a
// time to name the one that did.
void SteadyCheck::readPage(Page& page, bool wholeMachine, bool findMoments)
{
    const AccessHandlers& h = page.cpu->pageMap()->page(page.base);
    std::string before, after;
    if (wholeMachine)
        machineBytes(m_sys, h.owner, before);
    {
        LogCapture log;
        std::vector<u64> steady(wholeMachine ? page.slots : 0);
        const auto read = [&](u32 slot) {
            u32 value = 0;
            return readSlot(page.cpu, h, page.base + slot / 3, 1u << slot % 3, value) ? u64{1} << 32 | value : 0;
        };
        if (wholeMachine) {
            for (u32 slot = 0; slot < page.slots; ++slot)
                steady[slot] = read(slot);
        } else {
            std::for_each(page.moments.begin(), page.moments.end(), read);
        }
        if (findMoments) {
            page.moments.clear();
            const auto same = [&](u32 slot, u32 other) { return other < page.slots && steady[other] == steady[slot]; };
            for (u32 slot = 0; slot < page.slots; ++slot) {
                if (steady[slot] && !(slot >= 3 && same(slot, slot - 3) && same(slot, slot + 3)))
                    page.moments.push_back(slot);
            }
        }
        logSink().flush();
        if (!log.text().empty())
            fail(slotKey(m_sys, page.cpu, page.base, 0), "reads logged\n" + log.text());
    }
    if (!wholeMachine || before == machineBytes(m_sys, h.owner, after))
        return;
    for (u32 slot = 0; slot < page.slots; ++slot) {
        machineBytes(m_sys, h.owner, before);
        const u32 address = page.base + slot / 3, width = 1u << slot % 3;
        u32 value = 0;
        if (readSlot(page.cpu, h, address, width, value) && before != machineBytes(m_sys, h.owner, after)) {
            fail(slotKey(m_sys, page.cpu, address, width), "a read changed the machine, unseen");
            return;
        }
    }
    fail(slotKey(m_sys, page.cpu, page.base, 0), "reads changed the machine, unseen");
}

const MoreThanRead* SteadyCheck::moreThanRead(const AccessHandlers& h, u32 address, u32 width) const
{
    const bool onChip = h.owner == &m_sys.master() || h.owner == &m_sys.slave();
    if (!onChip && h.owner != &m_sys.cdb())
        return nullptr;
    for (const MoreThanRead& m : kMoreThanRead) {
        if (m.onChip == onChip && m.offset == (address & 0xFFFF) && m.width == width)
            return &m;
    }
    return nullptr;
}

bool SteadyCheck::readSlot(SH2* cpu, const AccessHandlers& h, u32 address, u32 width, u32& found)
{
    u32 left = 0;
    if (!h.steadyRead(h.owner, cpu, address, width, found))
        return false;
    const u64 key = slotKey(m_sys, cpu, address, width);
    const MoreThanRead* more = moreThanRead(h, address, width);
    // What the named reads of the processor's own units note, put back so
    // that checking leaves the run as it was.
    SH2* units = more && more->onChip ? static_cast<SH2*>(h.owner) : nullptr;
    const u8 temp = units ? units->frt.temp : 0;
    const bool csrRead = units && units->wdt.csrRead, rstRead = units && units->wdt.rstRead;
    const u32 read = width == 1   ? h.readByte(h.owner, cpu, address)
                     : width == 2 ? h.readWord(h.owner, cpu, address)
                                  : h.readLong(h.owner, cpu, address);
    if (units) {
        units->frt.temp = temp;
        units->wdt.csrRead = csrRead;
        units->wdt.rstRead = rstRead;
    }
    const u32 answer = more ? found >> more->shift & (width == 4 ? ~0u : (1u << 8 * width) - 1) : found;
    char text[96];
    if (read != answer) {
        std::snprintf(text, sizeof text, "steady value %08X, a read answered %08X", found, read);
        fail(key, text + (more ? std::string(" (") + more->why + ")" : std::string()));
    }
    if (!h.steadyRead(h.owner, cpu, address, width, left) || left != found) {
        std::snprintf(text, sizeof text, "steady value %08X, after a read %08X", found, left);
        fail(key, text);
    }
    return true;
}

// A register the sweep's disc moves, and the bits of its steady value that
// the moments inside fields must see both set and clear.
struct Moving {
    u32 address;
    u32 width;
    u32 bits;
    const char* name;
};

// The sweep over a disc's first fields, after `inspect` at each field's end.
template <typename Inspect>
void sweepDisc(const char* disc, int fields, std::initializer_list<Moving> moving, Inspect inspect)
{
    constexpr u32 kMomentNs = 100'003;  // never in step with the lines
    TempDir dir;
    std::unique_ptr<SteadyCheck> sweep;
    int field = 0;
    runDisc(disc, false, dir.path().string(), fields, [&](CSystem& sys) {
        inspect(sys);
        if (!sweep) {
            sweep = std::make_unique<SteadyCheck>(sys);
            for (const Moving& m : moving)
                sweep->watch(m.address, m.width);
            scheduler().schedule(kMomentNs, SteadyCheck::atMoment, sweep.get(), Scheduler::kForever, kMomentNs, 0);
        }
        // Mirrors are told apart by their answers, at two fields' ends.
        if (field == 0 || field == fields / 2)
            sweep->findPages();
        ++field;
        sweep->atFieldEnd();
    });
    ASSERT_TRUE(sweep);
    EXPECT_GT(sweep->moments(), (fields - 1) * 100u);
    for (const Moving& m : moving)
        EXPECT_EQ(sweep->moved(m.address, m.width) & m.bits, m.bits) << m.name;
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
// follow the host (the pad ports) are never steady. Checked for a hand list
// after fields of the register-wait disc, and by a sweep at those fields'
// ends and at moments inside them, there and on the compiled disc, which
// moves the CD block's registers.
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
    u32 steadyReads = 0;
    for (const Register& r : registers)
        steadyReads += r.master + r.slave;
    constexpr int kChecks = 8;
    u32 checked = 0;
    sweepDisc(KEST_BINARY_DIR "/testdata/waits.iso", kChecks,
              {{0x25FE00A4, 4, 0x2883, "IST: V-BLANK-IN and -OUT, the SMPC's, level 0's end, the draw's end"},
               {0x25FE007C, 4, 0x10, "DSTA: level 0 operating"},
               {0x25F80004, 2, 0x0C, "TVSTAT: V-BLANK and H-BLANK"},
               {0x25F8000A, 2, 0x100, "VCNT"},
               {0x25D00010, 2, 0x02, "EDSR: the draw's end"},
               {0x20100063, 1, 0x01, "SF"},
               {0xFFFFFE12, 1, 0xFF00, "FRC's high byte"}},
              [&](CSystem& sys) {
                  for (const Register& r : registers) {
                      for (SH2* cpu : {&sys.master(), &sys.slave()}) {
                          const bool steady = cpu == &sys.master() ? r.master : r.slave;
                          const AccessHandlers& h = cpu->pageMap()->page(r.address);
                          u32 value = 0;
                          ASSERT_TRUE(h.steadyRead) << std::hex << r.address;
                          ASSERT_EQ(h.steadyRead(h.owner, cpu, r.address, r.width, value), steady)
                              << std::hex << r.address;
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
    // The CD block answers the compiled disc's commands and reports in CR1
    // to CR4, and HIRQREQ counts the bits' changes.
    sweepDisc(KEST_BINARY_DIR "/testdata/compiled.iso", 4,
              {{0x25890008, 2, 0x10000, "HIRQREQ's count"}, {0x25890018, 2, 0x100, "CR1: the status"}},
              [](CSystem&) {});
}
