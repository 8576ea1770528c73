#include "board/scu/scu_dmac.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "board/scu/scu.h"
#include "board/sh2/sh2.h"
#include "core/base/shared_state.h"

namespace {

constexpr const char* kFactorNames[8] = {"V-BLANK-IN", "V-BLANK-OUT", "H-BLANK-IN", "TIMER0",
                                         "TIMER1",     "SNDREQ",      "DRAW-END",   "START-BIT"};

// Register offsets within a level's block of 0x20 bytes.
constexpr u32 kReadAddress = 0x00;
constexpr u32 kWriteAddress = 0x04;
constexpr u32 kCount = 0x08;
constexpr u32 kAdd = 0x0C;
constexpr u32 kEnable = 0x10;
constexpr u32 kMode = 0x14;

constexpr u32 kDstaAbus = 0x100000;
constexpr u32 kDstaBbus = 0x200000;
constexpr u32 kEndCode = 0x80000000;
constexpr u32 kWorkRamHighStart = 0x06000000;
constexpr u32 kWorkRamHighEnd = 0x06100000;  // exclusive

u8 classOf(u32 a)
{
    if (a >= 0x02000000 && a < 0x05000000)
        return kPageAbusExternal;
    if (a >= 0x05000000 && a < 0x05800000)
        return kPageAbusOther;
    if (a >= 0x05810000 && a < 0x05820000)
        return kPageAbusDataTrns;
    if (a >= 0x05890000 && a < 0x058A0000)
        return kPageAbusIo;
    if ((a >= 0x05800000 && a < 0x05810000) || (a >= 0x05880000 && a < 0x05890000) ||
        (a >= 0x058A0000 && a < 0x05900000))
        return kPageAbusExternal;
    if (a >= 0x05A00000 && a < 0x05B00000)
        return kPageSoundRam;
    if (a >= 0x05B00000 && a < 0x05C00000)
        return kPageSoundRegisters;
    if (a >= 0x05C00000 && a < 0x05C80000)
        return kPageVdp1Vram;
    if (a >= 0x05C80000 && a < 0x05E00000)
        return kPageVdp1Other;
    if (a >= 0x05E00000 && a < 0x05F00000)
        return kPageVdp2Vram;
    if (a >= 0x05F00000 && a < 0x05FC0000)
        return kPageVdp2Other;
    if (a >= 0x05FC0000 && a < 0x05FE0000)
        return kPageBbusOther;
    if (a >= 0x06000000 && a < 0x08000000)
        return kPageWorkRamHigh;
    return kPageInvalid;
}

}  // namespace

ScuDmac::ScuDmac(SCU* scu) : Device("SCU.DMAC"), m_scu(scu), m_d0(this)
{
    std::memset(m_pageClass, kPageInvalid, sizeof m_pageClass);
    for (u32 page = 0; page < 0x800; ++page) {
        const u8 c = classOf(page << 16);
        m_pageClass[page] = c;
        m_pageClass[page + 0x2000] = c;  // the cache-through view
    }
    for (u32 n = 0; n < 3; ++n)
        m_levels[n].index = n;
}

CPU* ScuDmac::busMaster() const
{
    return m_scu->master();
}

const PageMap& ScuDmac::bus() const
{
    return *m_scu->master()->pageMap();
}

u32 ScuDmac::dsta() const
{
    return m_scu->reg(SCU::kDSTA);
}

void ScuDmac::setDsta(u32 status)
{
    m_scu->regRef(SCU::kDSTA) = status;
    m_idle = !(status & (operatingBit(0) | operatingBit(1) | operatingBit(2)));
}

u32 ScuDmac::regOf(u32 level, u32 offset) const
{
    return m_scu->reg(level * 0x20 + offset);
}

void ScuDmac::setReg(u32 level, u32 offset, u32 value)
{
    m_scu->regRef(level * 0x20 + offset) = value;
}

bool ScuDmac::operating(u32 n) { return dsta() & operatingBit(n); }
bool ScuDmac::standby(u32 n) { return dsta() & standbyBit(n); }
bool ScuDmac::paused(u32 n) { return dsta() & pausedBit(n); }

bool ScuDmac::busy(u32 n)
{
    return (dsta() & (operatingBit(n) | standbyBit(n) | pausedBit(n))) || !m_levels[n].queue.empty();
}

void ScuDmac::reset()
{
    for (Level& l : m_levels) {
        const u32 index = l.index;
        const u32 generation = l.endGeneration + 1;  // ends already placed find nothing to end
        l = Level{};
        l.index = index;
        l.endGeneration = generation;
    }
    setDsta(0);
}

void ScuDmac::addPlainMemory(u32 start, u32 end, u8* host, u32 size)
{
    const AccessHandlers& h = bus().page(start);
    std::erase_if(m_plain, [start](const Plain& p) { return p.firstPage == start >> 16; });
    m_plain.push_back({start >> 16, end >> 16, host, size - 1, h.owner, h.readLong, h.writeLong, h.writeWord});
}

void ScuDmac::trigger(u32 factor)
{
    for (u32 n = 0; n < 3; ++n)
        triggerLevel(n, factor);
}

void ScuDmac::triggerLevel(u32 level, u32 factor)
{
    if (factor != kDmaStartBit && !(regOf(level, kEnable) & 0x100))
        return;
    if ((regOf(level, kMode) & 7) == factor)
        requestDma(level, factor);
}

void ScuDmac::requestDma(u32 level, u32 factor)
{
    Request r;
    const u32 add = regOf(level, kAdd);
    const u32 mode = regOf(level, kMode);
    const u32 countMask = level == 0 ? 0xFFFFF : 0xFFF;
    r.s = regOf(level, kReadAddress) & 0x7FFFFFFF;
    r.d = regOf(level, kWriteAddress) & 0x7FFFFFFF;
    r.n = regOf(level, kCount) & countMask;
    if (r.n == 0)
        r.n = countMask + 1;
    r.sa = (add & 0x100) ? 4 : 0;
    r.da = (add & 7) ? 1u << (add & 7) : 0;
    r.du = (mode >> 8) & 1;
    r.su = (mode >> 16) & 1;
    r.direct = !(mode & 0x1000000);
    r.factor = factor;
    const bool ok = r.direct ? checkDirect(r.s, r.d, r.n, r.sa, r.da, r.su, r.du) : checkIndirect(r);
    if (!ok) {
        reportIllegal(level, r);
        // The controller does not check addresses: it still runs the level
        // for its count and raises the end, so a program waiting for the
        // end goes on. What it would read there is undefined; nothing moves.
        r.illegal = 1;
        r.direct = 1;
    }
    request(level, r);
}

void ScuDmac::reportIllegal(u32 level, const Request& r)
{
    m_scu->irqDmaIllegal();
    logWarning(1, "Level %d illegal [S: %08X, D: %08X, C: %08X, SA: %d, DA: %d, SU: %d, DU: %d, F: %s]", level, r.s,
               r.d, r.n, r.sa, r.da, r.su, r.du, kFactorNames[r.factor & 7]);
}

void ScuDmac::request(u32 n, const Request& r)
{
    logWarning(2, "Request level%d [S: %08X, D: %08X, C: %08X]", n, r.s, r.d, r.n);
    Level& l = m_levels[n];
    // A factor that comes faster than the level's transfers would grow
    // the queue without end.
    if (l.queue.size() >= kQueueLimit) {
        logWarning(1, "Level %d request queue is full, request dropped", n);
        return;
    }
    const bool wasBusy = busy(n);
    int busyCount = 0;
    for (u32 i = 0; i < 3; ++i)
        busyCount += busy(i);
    if (busyCount >= 2) {
        logWarning(1, "There are more than 2 channels are in operation, priority order is ignored!");
        if (!wasBusy)
            standbyLevel(n);
        l.queue.push_back(r);
        return;
    }
    l.queue.push_back(r);
    if (wasBusy)
        return;
    switch (n) {
    case 0:
        if (busy(2) || busy(1)) {
            standbyLevel(0);
        } else {
            latch(0, true);
            startLevel(0);
        }
        return;
    case 1:
        if (busy(2)) {
            standbyLevel(1);
        } else if (operating(0)) {
            latch(1, true);
            standbyLevel(1);
            scheduleDisplacement(0, 1);
        } else {
            latch(1, true);
            startLevel(1);
        }
        return;
    default:
        if (operating(1)) {
            latch(2, true);
            standbyLevel(2);
            scheduleDisplacement(1, 2);
        } else if (!operating(0)) {
            latch(2, true);
            startLevel(2);
        } else {
            latch(2, true);
            standbyLevel(2);
            scheduleDisplacement(0, 2);
        }
        return;
    }
}

void ScuDmac::scheduleDisplacement(u32 lower, u32 higher)
{
    if (!schedule(kPriorityDelayClocks * period(), onDisplace, 1, Scheduler::kOneShot, lower << 4 | higher))
        onDisplace(this, lower << 4 | higher);
}

void ScuDmac::onDisplace(void* owner, u32 argument)
{
    auto* self = static_cast<ScuDmac*>(owner);
    const u32 higher = argument & 3;
    // The waiting level may have been started meanwhile, when the running
    // one ended first; then there is nothing to displace.
    if (!self->standby(higher) || !self->m_levels[higher].latched)
        return;
    for (u32 n = 0; n < higher; ++n) {
        if (self->operating(n))
            self->pauseLevel(n);
    }
    self->startLevel(higher);
}

void ScuDmac::readEntry(u32 table, u32& s, u32& d, u32& count)
{
    count = bus().readLong(busMaster(), table) & 0xFFFFF;
    if (count == 0)
        count = 0x100000;
    d = bus().readLong(busMaster(), table + 4) & 0x7FFFFFFF;
    s = bus().readLong(busMaster(), table + 8) & 0x7FFFFFFF;
}

void ScuDmac::latch(u32 n, bool fromQueue)
{
    Level& l = m_levels[n];
    if (fromQueue) {
        const Request r = l.queue.front();
        l.queue.pop_front();
        l.sa = r.sa;
        l.da = r.da;
        l.su = r.su;
        l.du = r.du;
        l.direct = r.direct;
        l.illegal = r.illegal;
        if (l.direct) {
            l.s = r.s;
            l.d = r.d;
            l.n = r.n;
        } else {
            l.table = r.d;
            readEntry(l.table, l.s, l.d, l.n);
            checkDirect(l.s, l.d, l.n, l.sa, l.da, l.su, l.du);
        }
    } else {
        readEntry(l.table, l.s, l.d, l.n);
        checkDirect(l.s, l.d, l.n, l.sa, l.da, l.su, l.du);
    }
    setupEngine(l);
    l.latched = 1;
}

void ScuDmac::setupEngine(Level& l)
{
    l.buffer = 0;
    l.buffered = 0;
    l.srcClass = pageClass(l.s);
    l.dstClass = pageClass(l.d);
    l.srcA = isAbusPage(l.srcClass);
    l.dstA = isAbusPage(l.dstClass);
    l.srcB = isBbusPage(l.srcClass);
    l.dstB = isBbusPage(l.dstClass);
    // The B-bus moves whole words: a transfer there that would end inside
    // a word ends at its end, taking one more byte from the source.
    const u32 roundUp = l.dstB ? ((l.d + l.n) & 1) : 0;
    l.leftRead = l.leftWrite = static_cast<s32>(l.n + roundUp);
    l.srcContinuous = l.srcB ? l.sa == 2 : l.sa == 4;
    l.dstContinuous = l.dstB ? l.da == 2 : l.da == 4;
    if ((l.s & (l.srcB ? 1 : 3)) && !l.srcContinuous)
        logWarning(1, "Source address is not aligned when the transfer is not continuous, [S: %08X, SA: %d]", l.s, l.sa);
    if ((l.d & (l.dstB ? 1 : 3)) && !l.dstContinuous)
        logWarning(1, "Destination address is not aligned when the transfer is not continuous, [D: %08X, DA: %d]", l.d,
                   l.da);
}

void ScuDmac::setBusBits(const Level& l)
{
    u32 status = dsta() & ~(kDstaAbus | kDstaBbus);
    if (l.srcA || l.dstA)
        status |= kDstaAbus;
    if (l.srcB || l.dstB)
        status |= kDstaBbus;
    setDsta(status);
}

void ScuDmac::startLevel(u32 n)
{
    setDsta((dsta() | operatingBit(n)) & ~(standbyBit(n) | pausedBit(n)));
    m_levels[n].latched = 0;
    logWarning(2, "Level %d start, scanline: %d", n, currentScanline);
    scheduleEnd(n, true);
    setBusBits(m_levels[n]);
}

void ScuDmac::standbyLevel(u32 n)
{
    setDsta((dsta() | standbyBit(n)) & ~(operatingBit(n) | pausedBit(n)));
    logInfo(2, "Level %d standby, scanline: %d", n, currentScanline);
}

void ScuDmac::pauseLevel(u32 n)
{
    if (n < 2)
        setDsta((dsta() | pausedBit(n)) & ~(operatingBit(n) | standbyBit(n)));
    logInfo(2, "Level %d pause, scanline: %d", n, currentScanline);
}

void ScuDmac::resumeLevel(u32 n)
{
    setDsta((dsta() | operatingBit(n)) & ~(standbyBit(n) | pausedBit(n)));
    scheduleEnd(n, false);
    setBusBits(m_levels[n]);
    logInfo(2, "Level %d resume, scanline: %d", n, currentScanline);
}

void ScuDmac::scheduleEnd(u32 n, bool withMessage)
{
    Level& l = m_levels[n];
    const s32 left = l.leftWrite;
    const s32 cycles = left - ((left - static_cast<s32>(l.d & 3)) / 4) * 3;
    const u32 time = period() * static_cast<u32>(std::max(cycles, 0));
    if (withMessage) {
        if (l.direct)
            logDebug(2, "Level %d DIRECT [S: %08X, D: %08X, C: %08X, SA: %d, DA: %d, SU: %d, DU: %d, cycles: %d(%dns)]",
                     n, l.s, l.d, l.n, l.sa, l.da, l.su, l.du, cycles, time);
        else
            logDebug(2, "Level %d INDIRECT %08X [S: %08X, D: %08X, C: %08X, SA: %d, DA: %d, DU: %d, cycles: %d(%dns)]",
                     n, l.table, l.s, l.d, l.n, l.sa, l.da, l.du, cycles, time);
    }
    // A paused level's earlier end event must not end the resumed transfer:
    // each end carries the generation it belongs to.
    ++l.endGeneration;
    l.endEvent = schedule(time, onEnd, 1, Scheduler::kOneShot, n | l.endGeneration << 2);
    if (!l.endEvent)
        onEnd(this, n | l.endGeneration << 2);  // no free event: the transfer completes now
}

void ScuDmac::onEnd(void* owner, u32 argument)
{
    auto* self = static_cast<ScuDmac*>(owner);
    const u32 n = argument & 3;
    Level& l = self->m_levels[n];
    if ((argument >> 2) != (l.endGeneration & 0x3FFFFFFF) || !self->operating(n))
        return;
    l.endEvent = {};
    // A transfer started late in a slice has its end placed in the past,
    // before the engine ran; what it has not moved is moved now.
    if (!l.illegal)
        self->run(l, INT32_MAX);
    if (self->endLevel(n))
        self->startNext();
}

bool ScuDmac::endLevel(u32 n)
{
    Level& l = m_levels[n];
    if (l.direct) {
        if (l.su)
            setReg(n, kReadAddress, l.s & kAddressMask);
        if (l.du)
            setReg(n, kWriteAddress, l.d & kAddressMask);
    } else {
        const u32 finished = bus().readLong(busMaster(), l.table + 8);
        l.table += 12;
        if (!(finished & kEndCode)) {
            latch(n, false);
            l.latched = 0;
            scheduleEnd(n, true);
            setBusBits(l);
            return false;
        }
        if (l.du)
            setReg(n, kWriteAddress, l.table & kAddressMask);
    }
    setDsta(dsta() & ~(operatingBit(n) | standbyBit(n) | pausedBit(n) | kDstaAbus | kDstaBbus));
    switch (n) {
    case 0: m_scu->irqDmaLevel0End(); break;
    case 1: m_scu->irqDmaLevel1End(); break;
    default: m_scu->irqDmaLevel2End(); break;
    }
    m_scu->regRef(SCU::kDSR) = l.s;
    m_scu->regRef(SCU::kDSW) = l.d;
    m_scu->regRef(SCU::kDSC) = static_cast<u32>(l.leftRead);
    logInfo(2, "Level %d end, DSTA: %08X, scanline: %d", n, dsta(), currentScanline);
    return true;
}

void ScuDmac::startNext()
{
    for (u32 n = 3; n-- > 0;) {
        Level& l = m_levels[n];
        if (paused(n)) {
            resumeLevel(n);
            return;
        }
        if (!standby(n) && l.queue.empty())
            continue;
        // A level latched for a displacement that never came starts with
        // what it took; otherwise the next request of its queue.
        if (!l.latched) {
            if (l.queue.empty()) {
                setDsta(dsta() & ~standbyBit(n));
                continue;
            }
            latch(n, true);
        }
        startLevel(n);
        return;
    }
}

void ScuDmac::onDstpWrite(u32 value)
{
    if (value & 1) {
        m_scu->regRef(SCU::kDSTP) = 1;
        if (!schedule(kPriorityDelayClocks * period(), onForceStop, 1, Scheduler::kOneShot, 0))
            forceStop();
    } else {
        m_scu->regRef(SCU::kDSTP) = 0;
    }
}

void ScuDmac::onForceStop(void* owner, u32)
{
    static_cast<ScuDmac*>(owner)->forceStop();
}

void ScuDmac::forceStop()
{
    for (Level& l : m_levels)
        l.latched = 0;
    setDsta(0);
    logError(1, "Transfers have been forcibly stopped!");
}

u32 ScuDmac::execute(u32 clocks)
{
    Level* l = nullptr;
    for (u32 n = 3; n-- > 0;) {
        if (operating(n)) {
            l = &m_levels[n];
            break;
        }
    }
    if (!l)
        return clocks;
    if (l->leftWrite < 1 || l->illegal)
        return clocks;
    const s32 left = run(*l, static_cast<s32>(clocks));
    if (left > 0)
        logWarning(2, "Left cycles when transfer ends, [Left cycles: %d, total cycles: %d]", left, clocks);
    return clocks;
}

const ScuDmac::Plain* ScuDmac::plainAt(u32 address) const
{
    const u32 page = address >> 16;
    for (const Plain& p : m_plain) {
        if (page < p.firstPage || page > p.lastPage)
            continue;
        const AccessHandlers& h = bus().page(address);
        if (h.owner == p.owner && h.readLong == p.readLong && h.writeLong == p.writeLong && h.writeWord == p.writeWord)
            return &p;
        return nullptr;
    }
    return nullptr;
}

u32 ScuDmac::blockRun(const Level& l, const u8*& src, u8*& dst) const
{
    const Plain* from = plainAt(l.s);
    const Plain* to = plainAt(l.d);
    // Within one memory the byte-wise order of reads and writes matters.
    if (!from || !to || from->host == to->host)
        return 0;
    const u32 so = l.s & from->mask;
    const u32 doff = l.d & to->mask;
    // Stop at the end of a page (its handlers may differ) and of a memory
    // (its window mirrors it).
    u32 room = std::min(0x10000 - (l.s & 0xFFFF), from->mask + 1 - so);
    room = std::min(room, std::min(0x10000 - (l.d & 0xFFFF), to->mask + 1 - doff));
    src = from->host + so;
    dst = to->host + doff;
    return room;
}

void ScuDmac::fill(Level& l, s32 needed)
{
    while (l.buffered < needed && l.leftRead > 0) {
        if (!(l.s & 3) && l.leftRead >= 4) {
            if (!l.srcB) {
                l.buffer = l.buffer << 32 | bus().readLong(busMaster(), l.s);
                l.buffered += 4;
                l.leftRead -= 4;
                l.s += l.sa;
            } else {
                // A long read as two word accesses; SA steps the long, so
                // SA 4 reads the B-bus memory through without gaps.
                l.buffer = l.buffer << 16 | bus().readWord(busMaster(), l.s);
                l.buffer = l.buffer << 16 | bus().readWord(busMaster(), l.s + 2);
                l.buffered += 4;
                l.leftRead -= 4;
                l.s += l.sa;
            }
        } else if (l.srcB) {
            // The B-bus is 16 bits wide: a word, or a single byte taken
            // out of the word that holds it.
            const u16 word = bus().readWord(busMaster(), l.s & ~1u);
            if (!(l.s & 1) && l.leftRead >= 2) {
                l.buffer = l.buffer << 16 | word;
                l.buffered += 2;
                l.leftRead -= 2;
                if (l.sa)
                    l.s += 2;
            } else {
                l.buffer = l.buffer << 8 | ((l.s & 1) ? word & 0xFF : word >> 8);
                l.buffered += 1;
                l.leftRead -= 1;
                if (l.sa)
                    l.s += 1;
            }
        } else {
            l.buffer = l.buffer << 8 | bus().readByte(busMaster(), l.s);
            l.buffered += 1;
            l.leftRead -= 1;
            if (l.sa)
                l.s += 1;
        }
    }
}

s32 ScuDmac::run(Level& l, s32 budget)
{
    const PageMap& map = bus();
    CPU* cpu = busMaster();
    while (l.leftWrite > 0) {
        if (budget < 1)
            break;
        if (m_blockCopies && l.buffered == 0 && !((l.s | l.d) & 3) && l.leftWrite >= 4 && l.sa == 4 &&
            l.dstContinuous) {
            // Aligned and continuous on both sides between plain memories:
            // the same bytes a step at a time would move, in one copy.
            const u8* src = nullptr;
            u8* dst = nullptr;
            u32 bytes = blockRun(l, src, dst);
            if (bytes >= 4) {
                bytes = static_cast<u32>(std::min<u64>({bytes, static_cast<u64>(l.leftWrite) & ~3ull,
                                                        static_cast<u64>(budget) * 4}));
                std::memcpy(dst, src, bytes);
                ++m_blocksCopied;
                l.s += bytes;
                l.d += bytes;
                l.leftRead -= static_cast<s32>(bytes);
                l.leftWrite -= static_cast<s32>(bytes);
                budget -= static_cast<s32>(bytes / 4);
                continue;
            }
        }
        if (l.dstB && !(l.d & 1) && (l.leftWrite < 4 || (l.d & 2))) {
            // The B-bus takes words: a transfer to a word that is not part
            // of an aligned long moves it alone.
            fill(l, 2);
            if (l.buffered < 2)
                break;
            map.writeWord(cpu, l.d, static_cast<u16>(l.buffer >> (8 * (l.buffered - 2))));
            l.buffered -= 2;
            l.leftWrite -= 2;
            l.d += l.da;
        } else if (l.leftWrite < 4 || (l.d & 3)) {
            fill(l, 1);
            if (l.buffered < 1)
                break;
            const u8 byte = static_cast<u8>(l.buffer >> (8 * (l.buffered - 1)));
            map.writeByte(cpu, l.d, byte);
            l.buffered -= 1;
            l.leftWrite -= 1;
            if (l.da)
                l.d += 1;
        } else {
            fill(l, 4);
            if (l.buffered < 4)
                break;
            const u32 value = static_cast<u32>(l.buffer >> (8 * (l.buffered - 4)));
            if (!l.dstB) {
                map.writeLong(cpu, l.d, value);
                l.d += l.da;
            } else {
                // Two word writes make one step.
                map.writeWord(cpu, l.d, static_cast<u16>(value >> 16));
                l.d += l.da;
                map.writeWord(cpu, l.d, static_cast<u16>(value));
                l.d += l.da;
            }
            l.buffered -= 4;
            l.leftWrite -= 4;
        }
        --budget;
    }
    return budget;
}

bool ScuDmac::D0::setup(u32 address, u32 add, bool out, bool hold)
{
    m_address = address;
    m_out = out;
    m_hold = hold;
    m_class = m_dmac->pageClass(address);
    if (m_class == kPageInvalid) {
        logWarning(1, "Invalid DMA area [A: %08X, OUT: %d]", address, out ? 1 : 0);
        return false;
    }
    m_bbus = isBbusPage(m_class);
    const bool abus = isAbusPage(m_class);
    m_step = (abus ? 4u : 2u) * (add ? 1u << (add - 1) : 0u);
    if (m_class == kPageAbusDataTrns || m_class == kPageAbusIo) {
        if (add != 0)
            logWarning(1, "Add value is not 0 when access external area 4 [A: %08X, ADD: %d]", address, add);
    } else if (abus) {
        if (add != 1)
            logWarning(1, "Add value is not 1 when access external area 1~3 [A: %08X, ADD: %d]", address, add);
    } else if (m_class == kPageWorkRamHigh) {
        if (add != 2)
            logWarning(1, "Add value is not 2 when access WORK-H [A: %08X, ADD: %d]", address, add);
    } else if (out) {
        if (add != 1)
            logWarning(1, "Add value is not 1 when transfer to B-BUS [A: %08X, ADD: %d]", address, add);
    } else if (add != 2) {
        m_step = 4;
        logWarning(1, "Add value is not 2 when transfer from B-BUS [A: %08X, ADD: %d]", address, add);
    }
    return true;
}

u32 ScuDmac::D0::readWord()
{
    const PageMap& map = m_dmac->bus();
    CPU* cpu = m_dmac->busMaster();
    u32 value;
    if (!m_bbus) {
        value = map.readLong(cpu, m_address);
    } else {
        value = u32{map.readWord(cpu, m_address)} << 16;
        value |= map.readWord(cpu, m_address + 2);
    }
    m_address += m_step;
    return value;
}

void ScuDmac::D0::writeWord(u32 value)
{
    const PageMap& map = m_dmac->bus();
    CPU* cpu = m_dmac->busMaster();
    if (!m_bbus) {
        map.writeLong(cpu, m_address, value);
        m_address += m_step;
        return;
    }
    map.writeWord(cpu, m_address, static_cast<u16>(value >> 16));
    m_address += m_step;
    map.writeWord(cpu, m_address, static_cast<u16>(value));
    m_address += m_step;
}

namespace {

// Last byte address a side touches; the bus moves u bytes per add step.
u32 endAddress(u32 a, u32 n, u32 add, bool bbus)
{
    if (add == 0)
        return (a - 1) & ScuDmac::kAddressMask;
    if (n < add)
        return (a + n - 1) & ScuDmac::kAddressMask;
    const u32 u = bbus ? 2 : 4;
    return (a + (n / u) * add - 1 + n % u) & ScuDmac::kAddressMask;
}

}  // namespace

bool ScuDmac::checkDirect(u32 s, u32 d, u32 n, u32 sa, u32 da, u32 su, u32 du)
{
    const u8 sc = pageClass(s);
    const u8 dc = pageClass(d);
    if (sc == kPageInvalid) {
        logWarning(1, "Source address is invalid, [A: %08X]", s);
        return false;
    }
    if (dc == kPageInvalid) {
        logWarning(1, "Destination address is invalid, [A: %08X]", d);
        return false;
    }
    const u32 s1 = s & kAddressMask;
    const u32 d1 = d & kAddressMask;
    const bool srcB = isBbusPage(sc);
    const bool dstB = isBbusPage(dc);
    const u32 srcEnd = endAddress(s1, n, sa, srcB);
    const u32 dstEnd = endAddress(d1, n, da, dstB);

    if (isAbusPage(sc)) {
        if (isAbusPage(dc)) {
            logWarning(1, "Transfer from A-BUS to A-BUS, [S: %08X, D: %08X]", s, d);
            return false;
        }
        if (s1 < 0x02000000 || srcEnd >= 0x05A00000)
            return false;
    } else if (srcB) {
        logWarning(2, "Transfer from B-BUS, [S: %08X, D: %08X, C: %08X, SA: %d, DA: %d]", s, d, n, sa, da);
        if (dstB) {
            logWarning(1, "Transfer from B-BUS to B-BUS, [S: %08X, D: %08X, C: %08X, SA: %d, DA: %d]", s, d, n, sa, da);
            return false;
        }
        if (s1 < 0x05A00000 || srcEnd > 0x05FBFFFF)
            return false;
        if (s1 >= 0x05E00000) {
            logWarning(1, "Read by SCU-DMA from the VDP2 area cannot be used, [S: %08X]", s);
            return false;
        }
    } else {
        if (dc == kPageWorkRamHigh) {
            logWarning(1, "Transfer from C-BUS to C-BUS, [S: %08X, D: %08X]", s, d);
            return false;
        }
        if (s1 < kWorkRamHighStart || srcEnd > 0x060FFFFF)
            return false;
    }

    if (isAbusPage(dc)) {
        logWarning(1, "DMA transfer data to A-BUS is prohibited [D: %08X]", d);
    } else if (dstB) {
        if (d1 < 0x05A00000 || dstEnd >= 0x05FC0000)
            return false;
    } else {
        if (d1 < kWorkRamHighStart || dstEnd > 0x060FFFFF)
            return false;
        if (da == 2)
            logWarning(1, "Write to C-BUS when DA is 2, [D: %08X]", d);
    }

    if (sc == kPageAbusIo) {
        if (sa != 0 && sa != 4) {
            logWarning(1, "SA must be 0 or 4 when access A-BUS I/O area [SA: %d]", sa);
            return false;
        }
    } else if (sc == kPageAbusDataTrns) {
        if (sa != 0) {
            logWarning(1, "SA must be 0 when access DATATRNS register [SA: %d]", sa);
            return false;
        }
    } else if (sc == kPageAbusExternal) {
        if (sa != 4) {
            logWarning(1, "SA must be 4 when access external area 1-3 [SA: %d]", sa);
            return false;
        }
    }

    if (su && sa != 4) {
        logWarning(1, "SA must be 4 when SU is 1 [SA: %d]", sa);
        return false;
    }

    if (dc == kPageWorkRamHigh) {
        if (da != 4)
            logWarning(1, "DA must be 4 when access external WORK-H, [DA: %d]", da);
    } else if (dc == kPageAbusDataTrns || dc == kPageAbusIo) {
        if (da != 0 && da != 4) {
            logWarning(1, "DA must be 0 or 4 when access external area 4, [DA: %d]", da);
            return false;
        }
    } else if (isAbusPage(dc)) {
        if (da != 4) {
            logWarning(1, "DA must be 4 when access external area 1~3, [DA: %d]", da);
            return false;
        }
    }

    if (du) {
        if (isAbusPage(dc)) {
            if (da != 4) {
                logWarning(1, "DA must be 4 when access A-BUS area and DU is 1, [DA: %d]", da);
                return false;
            }
        } else if (dstB) {
            if (da != 2)
                logWarning(1, "DA must be 2 when access B-BUS area and DU is 1, [DA: %d]", da);
        } else if (da != 4) {
            logWarning(1, "DA must be 4 when access WORK-H and DU is 1, [DA: %d]", da);
            return false;
        }
    }

    if (sa == 0 && (s & 3))
        logWarning(1, "Source address is not 4-byte aligned when SA is 0, [S: %08X]", s);
    if (da == 2 && !dstB)
        logWarning(1, "DA is 2 when destination address is not B-BUS, [D: %08X, DA: %d]", d, da);
    if (da == 0 && (d & 3))
        logWarning(1, "Destination address is not 4-byte aligned when DA is 0, [D: %08X]", d);
    return true;
}

bool ScuDmac::checkIndirect(const Request& r)
{
    const u32 t = r.d;
    if (t & 31) {
        logWarning(1, "Table address is not at a proper boundary, [A: %08X]", t);
        return false;
    }
    const u32 t1 = t & kAddressMask;
    const bool inWorkRam = t1 >= kWorkRamHighStart && t1 < kWorkRamHighEnd;
    if (!inWorkRam)
        logWarning(1, "Table address is not located in WORK RAM-H, [A: %08X]", t);
    // The scan stays inside WORK RAM-H: a table elsewhere is refused
    // without reading, and a table without an end code is refused too.
    u32 size = 0;
    bool found = false;
    if (inWorkRam) {
        for (u32 entry = t1; entry + 8 < kWorkRamHighEnd + 8; entry += 12) {
            const u32 source = bus().readLong(busMaster(), entry + 8);
            if (source & kEndCode) {
                size = entry - t1 + 12;
                found = true;
                break;
            }
        }
    }
    if (!found) {
        logWarning(1, "Cant' find end code in the table [A: %08X]", t);
        logWarning(1, "Table without an end code, [A: %08X]", t);
        return false;
    }
    u32 boundary = 32;
    while (boundary <= size)
        boundary <<= 1;
    if (t & (boundary - 1)) {
        logWarning(1, "Table address is not at a proper boundary, [A: %08X, B: %08X, size: %d]", t, boundary, size);
        return false;
    }
    u32 s = 0, d = 0, n = 0;
    readEntry(t1, s, d, n);
    return checkDirect(s, d, n, r.sa, r.da, r.su, r.du);
}
