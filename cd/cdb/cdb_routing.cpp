// Sector routing: connectors, filters, buffer partitions and the sector pool.
#include <cstdio>
#include <cstring>
#include <string>

#include "cd/cdb/cdb.h"
#include "core/base/helpers.h"

namespace {

constexpr u32 kCopyPeriodNs = 10000;
constexpr u32 kCopyBatch = 16;
constexpr u8 kCopyRunning = 255;

// The record mode of a stored raw sector, from its header and subheader.
u32 rawMode(const u8* raw)
{
    if (raw[15] == 2)
        return (raw[18] & 0x20) ? SectorBuffer::kForm2 : SectorBuffer::kForm1;
    return SectorBuffer::kMode1;
}

std::string joinNames(u32 bits, std::initializer_list<std::pair<u32, const char*>> names)
{
    std::string text;
    for (const auto& [bit, name] : names) {
        if (bits & bit)
            text += name;
    }
    if (text.size() >= 2)
        text.resize(text.size() - 2);
    return text;
}

}  // namespace

u32 CDB::rawFad(const u8* raw)
{
    auto bcd = [](u8 v) { return static_cast<u32>((v >> 4) & 0x0F) * 10 + (v & 0x0F); };
    return msfToSector(bcd(raw[12]), bcd(raw[13]), bcd(raw[14]));
}

// ---------------------------------------------------------------------------
// Connectors

void CDB::Connector::connect(Connector* peer)
{
    if (!peer)
        return;
    if (m_many) {
        for (u32 i = 0; i < m_count; ++i) {
            if (m_peers[i] == peer)
                return;
        }
        if (m_count >= m_peers.size())
            return;
        m_peers[m_count++] = peer;
        peer->connect(this);
        return;
    }
    if (m_peer)
        return;
    m_peer = peer;
    peer->connect(this);
}

void CDB::Connector::detach(Connector* peer)
{
    if (!m_many) {
        m_peer = nullptr;
        return;
    }
    for (u32 i = 0; i < m_count; ++i) {
        if (m_peers[i] == peer) {
            m_peers[i] = m_peers[--m_count];
            return;
        }
    }
}

void CDB::Connector::disconnect()
{
    if (m_many) {
        for (u32 i = 0; i < m_count; ++i)
            m_peers[i]->detach(this);
        m_count = 0;
        return;
    }
    if (Connector* q = m_peer) {
        m_peer = nullptr;
        q->detach(this);
    }
}

// A link is made by freeing the single-peer ends first.
void CDB::join(Connector& a, Connector& b)
{
    a.disconnect();
    b.disconnect();
    a.connect(&b);
}

// ---------------------------------------------------------------------------
// Filters

CDB::Filter::Filter(u32 n) : Component("", n)
{
    char name[24];
    std::snprintf(name, sizeof name, "CDB.FILTER%02d", n);
    setName(name);
}

void CDB::Filter::clearConditions()
{
    fadStart = fadCount = 0;
    mode = fileNumber = channel = submodeMask = submodeValue = codingMask = codingValue = 0;
}

bool CDB::Filter::match(u32 sectorMode, u32 fad, const u8* raw, bool subheaderFilter) const
{
    if ((mode & kRange) && (fad < fadStart || u64{fad} >= u64{fadStart} + fadCount))
        return false;
    if (!subheaderFilter || (sectorMode != SectorBuffer::kForm1 && sectorMode != SectorBuffer::kForm2))
        return true;
    bool r = true;
    if (mode & kFileNumber)
        r = r && raw[16] == fileNumber;
    if (mode & kChannel)
        r = r && raw[17] == channel;
    if (mode & kSubmode)
        r = r && (raw[18] & submodeMask) == submodeValue;
    if (mode & kCoding)
        r = r && (raw[19] & codingMask) == codingValue;
    return (mode & kReverse) ? !r : r;
}

// ---------------------------------------------------------------------------
// Partitions and the pool

CDB::Buffer::Buffer(CDB& cdb, u32 n) : Component("", 0x40 | n), m_cdb(cdb)
{
    char name[24];
    std::snprintf(name, sizeof name, "CDB.BUFFER%02d", n);
    setName(name);
}

void CDB::relinkPool()
{
    for (u32 i = 0; i < kPoolSectors; ++i)
        m_next[i] = static_cast<u8>(i + 1 < kPoolSectors ? i + 1 : kNone);
    m_freeHead = 0;
    m_freeCount = kPoolSectors;
}

s32 CDB::takeSlot()
{
    if (m_freeHead == kNone)
        return -1;
    const u8 slot = static_cast<u8>(m_freeHead);
    m_freeHead = m_next[slot];
    --m_freeCount;
    return slot;
}

void CDB::returnSlot(u8 slot)
{
    m_next[slot] = static_cast<u8>(m_freeHead);
    m_freeHead = slot;
    ++m_freeCount;
}

bool CDB::Buffer::put(u32 mode, const u8* raw)
{
    // Read as mode 1 wherever it is used.
    if (mode != SectorBuffer::kAudio && raw[15] != 1 && raw[15] != 2)
        logError(1, "Bad mode [mode: %d]", raw[15]);
    const s32 slot = m_cdb.takeSlot();
    if (slot < 0) {
        m_cdb.logError(1, "No free partition available");
        return false;
    }
    if (m_cdb.m_freeCount == 0)
        m_cdb.setHirq(kBful);
    m_slots[m_count++] = static_cast<u8>(slot);
    std::memcpy(m_cdb.slotData(static_cast<u32>(slot)), raw, kRawBytes);
    m_cdb.setHirq(kCsct);
    m_cdb.m_lastBuffer = number();
    return true;
}

void CDB::Buffer::remove(u32 position, u32 n)
{
    if (n < 1 || position >= m_count)
        return;
    if (n > m_count - position)
        n = m_count - position;
    for (u32 i = position; i < position + n; ++i)
        m_cdb.returnSlot(m_slots[i]);
    std::memmove(&m_slots[position], &m_slots[position + n], m_count - position - n);
    m_count -= n;
    m_cdb.m_hirqReq.set(m_cdb.m_hirqReq.bits() & static_cast<u16>(~kBful));
    if (m_cdb.m_lastBuffer >= position && m_cdb.m_lastBuffer < position + n)
        m_cdb.m_lastBuffer = kNone;
}

void CDB::Buffer::clear()
{
    for (u32 i = 0; i < m_count; ++i)
        m_cdb.returnSlot(m_slots[i]);
    m_count = 0;
    m_cdb.m_hirqReq.set(m_cdb.m_hirqReq.bits() & static_cast<u16>(~kBful));
    m_cdb.m_lastBuffer = kNone;
}

u8* CDB::Buffer::sectorAt(u32 position) const
{
    return position < m_count ? m_cdb.slotData(m_slots[position]) : nullptr;
}

// ---------------------------------------------------------------------------
// Routing

bool CDB::routeSector(Connector* start, const SectorBuffer& sector)
{
    if (!start)
        return false;
    u32 mode = sector.mode;
    const u8* raw;
    if (sector.size == static_cast<s32>(kRawBytes) || sector.size == SectorBuffer::kRawSubcodeSize) {
        raw = sector.data;
        if (mode != SectorBuffer::kAudio)
            mode = SectorBuffer::detectMode(raw);
    } else {
        if (!sector.toRaw(m_routeRaw))
            return false;
        raw = m_routeRaw;
        if (sector.size == SectorBuffer::kMode2Size)
            mode = rawMode(raw);
    }
    return routeRaw(start, mode, sector.fad, raw);
}

bool CDB::routeRaw(Connector* start, u32 mode, u32 fad, const u8* raw)
{
    Connector* input = start;
    for (u32 visited = 0; input && visited < kFilters; ++visited) {
        const Component* owner = input->owner();
        if (owner->id() >= kFilters)
            return false;
        const Filter& f = *m_filters[owner->id()];
        if (f.match(mode, fad, raw, m_m2sb)) {
            const Connector* target = f.trueEnd.peer();
            if (!target) {
                logWarning(1, "True connector of the filter is disconnected");
                return false;
            }
            const u32 id = target->owner()->id();
            if ((id & 0xC0) != 0x40)
                return false;
            return m_buffers[id & 0x3F]->put(mode, raw);
        }
        input = f.falseEnd.peer();
    }
    return false;
}

bool CDB::resolveRange(const Buffer& b, u32& spos, u32& snum) const
{
    const u32 count = b.count();
    if (count == 0)
        return false;
    if (spos == 0xFFFF)
        spos = count - 1;
    if (spos >= count)
        return false;
    if (snum == 0xFFFF)
        snum = count - spos;
    return snum <= count - spos;
}

// ---------------------------------------------------------------------------
// Selector commands

void CDB::SetFiltRange()
{
    Filter* f = filterAt(hi(2));
    if (!f) {
        reject("[filtno: %d, fad: %d, fasnum: %d]", hi(2), cr1Cr2(), cr3Cr4());
        return;
    }
    f->fadStart = cr1Cr2();
    f->fadCount = cr3Cr4();
    reportStatus(0);
    setHirq(kEsel);
    logDebug(1, "%s [filtno: %d, fad: %d, fasnum: %d]", commandName(), hi(2), f->fadStart, f->fadCount);
}

void CDB::GetFiltRange()
{
    const Filter* f = filterAt(hi(2));
    if (!f) {
        reject("[filtno: %d]", hi(2));
        return;
    }
    answer(static_cast<u16>(statusWord() | ((f->fadStart >> 16) & 0xFF)), static_cast<u16>(f->fadStart),
           static_cast<u16>((f->fadCount >> 16) & 0xFF), static_cast<u16>(f->fadCount));
}

void CDB::SetFiltSubh()
{
    Filter* f = filterAt(hi(2));
    if (!f) {
        reject("[filtno: %d, fn: %02X, cn: %02X, smmsk: %02X, smval: %02X, cimsk: %02X, cival: %02X]",
               hi(2), lo(2), lo(0), hi(1), hi(3), lo(1), lo(3));
        return;
    }
    f->fileNumber = lo(2);
    f->channel = lo(0);
    f->submodeMask = hi(1);
    f->submodeValue = hi(3);
    f->codingMask = lo(1);
    f->codingValue = lo(3);
    reportStatus(0);
    setHirq(kEsel);
}

void CDB::GetFiltSubh()
{
    const Filter* f = filterAt(hi(2));
    if (!f) {
        reject("[filtno: %d]", hi(2));
        return;
    }
    answer(static_cast<u16>(statusWord() | f->channel), static_cast<u16>(f->submodeMask << 8 | f->codingMask),
           f->fileNumber, static_cast<u16>(f->submodeValue << 8 | f->codingValue));
}

void CDB::SetFiltMode()
{
    Filter* f = filterAt(hi(2));
    const u8 m = lo(0);
    if (!f) {
        reject("[filtno: %d, fmode: %02X]", hi(2), m);
        return;
    }
    if (m & Filter::kClear)
        f->clearConditions();
    else
        f->mode = m & 0x5F;
    reportStatus(0);
    setHirq(kEsel);
    const std::string names = joinNames(f->mode, {{0x40, "RANGE, "}, {0x10, "REVERSE, "}, {0x01, "FN, "},
                                                  {0x02, "CN, "}, {0x04, "SM, "}, {0x08, "CI, "}});
    logDebug(1, "%s [filtno: %d, fmode: %02X%s]", commandName(), hi(2), m,
             names.empty() ? "" : ("(" + names + ")").c_str());
}

void CDB::GetFiltMode()
{
    const Filter* f = filterAt(hi(2));
    if (!f) {
        reject("[filtno: %d]", hi(2));
        return;
    }
    answer(static_cast<u16>(statusWord() | f->mode), 0, 0, 0);
}

void CDB::SetFiltCon()
{
    const u8 c = lo(0);
    const u32 b = hi(1);
    const u32 x = lo(1);
    Filter* f = filterAt(hi(2));
    if (!f || (b >= kBuffers && b != kNone) || (x >= kFilters && x != kNone)) {
        reject("[filtno: %d, cflag: %02X, bufno: %d, flnout: %d]", hi(2), c, b, x);
        return;
    }
    if (c & 0x02) {
        f->falseEnd.disconnect();
        if (x < kFilters)
            join(f->falseEnd, m_filters[x]->input);
    }
    if (c & 0x01) {
        f->trueEnd.disconnect();
        if (b < kBuffers)
            f->trueEnd.connect(&m_buffers[b]->input);
    }
    if (c & 0x03)
        setHirq(kEsel);
    reportStatus(0);
    char bufText[16];
    char nextText[16];
    std::snprintf(bufText, sizeof bufText, "%d", b);
    std::snprintf(nextText, sizeof nextText, "%d", x);
    const std::string flags = joinNames(c, {{0x01, "T, "}, {0x02, "F, "}});
    logDebug(1, "%s [filtno: %d, cflag: %02X%s, bufno: %s, flnout: %s]", commandName(), hi(2), c,
             flags.empty() ? "" : ("(" + flags + ")").c_str(), b == kNone ? "DISCONNECTED" : bufText,
             x == kNone ? "DISCONNECTED" : nextText);
}

void CDB::GetFiltCon()
{
    const Filter* f = filterAt(hi(2));
    if (!f) {
        reject("[filtno: %d]", hi(2));
        return;
    }
    const Connector* t = f->trueEnd.peer();
    const Connector* n = f->falseEnd.peer();
    const u32 b = t ? t->owner()->id() & 0x3F : kNone;
    const u32 x = n ? n->owner()->id() : kNone;
    answer(statusWord(), static_cast<u16>(b << 8 | (x & 0xFF)), 0, 0);
}

// ResetSelector's resets, flags 0x04 to 0x80, in the order the block makes them.
void CDB::resetSelectors(u8 r)
{
    if (r & 0x04) {
        for (auto& b : m_buffers)
            b->clear();
    }
    if (r & 0x08) {
        for (auto& b : m_buffers)
            b->output.disconnect();
    }
    if (r & 0x10) {
        for (auto& f : m_filters)
            f->clearConditions();
    }
    if (r & 0x20) {
        for (auto& f : m_filters)
            f->input.disconnect();
    }
    if (r & 0x40) {
        for (u32 n = 0; n < kFilters; ++n) {
            m_filters[n]->trueEnd.disconnect();
            m_filters[n]->trueEnd.connect(&m_buffers[n]->input);
        }
    }
    if (r & 0x80) {
        for (auto& f : m_filters)
            f->falseEnd.disconnect();
    }
}

void CDB::ResetSelector()
{
    const u8 r = lo(0);
    if (!(r & 0xFC)) {
        Buffer* b = bufferAt(hi(2));
        if (!b) {
            reject("[bufno: %d]", hi(2));
            return;
        }
        b->clear();
    } else {
        resetSelectors(r);
        pauseDrive(false);
        const std::string names = joinNames(r, {{0x04, "BP, "}, {0x08, "BO, "}, {0x10, "FC, "}, {0x20, "FI, "},
                                                {0x40, "FT, "}, {0x80, "FF, "}});
        logDebug(1, "%s [rflag: %02X(%s)]", commandName(), r, names.c_str());
    }
    reportStatus(0);
    setHirq(kEsel);
}

// ---------------------------------------------------------------------------
// Buffer commands

void CDB::GetBufSiz()
{
    answer(statusWord(), static_cast<u16>(m_freeCount), 0x1800, kPoolSectors);
    logDebug(1, "%s [totalsiz: %d, bufnum: %d, freesiz: %d]", commandName(), kPoolSectors, kBuffers, m_freeCount);
}

void CDB::GetSctNum()
{
    const Buffer* b = bufferAt(hi(2));
    if (!b) {
        reject("[bufno: %d]", hi(2));
        return;
    }
    answer(statusWord(), 0, 0, static_cast<u16>(b->count()));
    logDebug(1, "%s [bufno: %d, snum: %d]", commandName(), hi(2), b->count());
}

void CDB::CalActSiz()
{
    Buffer* b = bufferAt(hi(2));
    u32 spos = word(1);
    u32 snum = word(3);
    if (!b) {
        reject("[bufno: %d, spos: %d, snum: %d]", hi(2), spos, snum);
        return;
    }
    if (resolveRange(*b, spos, snum)) {
        u32 bytes = 0;
        for (u32 i = spos; i < spos + snum; ++i)
            bytes += getLength(b->sectorAt(i));
        m_actualSize = bytes / 2;
    } else {
        m_actualSize = 0xFFFFFF;
    }
    b->output.disconnect();
    reportStatus(0);
    setHirq(kEsel);
}

void CDB::GetActSiz()
{
    answer(static_cast<u16>(statusWord() | ((m_actualSize >> 16) & 0xFF)), static_cast<u16>(m_actualSize), 0, 0);
}

void CDB::GetSctInfo()
{
    const Buffer* b = bufferAt(hi(2));
    u32 spos = word(1);
    if (!b) {
        reject("[bufno: %d, spos: %d]", hi(2), spos);
        return;
    }
    if (spos == 0xFFFF && b->count() > 0)
        spos = b->count() - 1;
    if (spos >= b->count()) {
        wait("[bufno: %d, spos: %d]", hi(2), spos);
        return;
    }
    const u8* raw = b->sectorAt(spos);
    const u32 fad = rawFad(raw);
    const bool mode2 = raw[15] == 2;
    answer(static_cast<u16>(statusWord() | ((fad >> 16) & 0xFF)), static_cast<u16>(fad),
           mode2 ? static_cast<u16>(raw[16] << 8 | raw[17]) : 0, mode2 ? static_cast<u16>(raw[18] << 8 | raw[19]) : 0);
}

void CDB::ExeFadSearch()
{
    Buffer* b = bufferAt(hi(2));
    u32 spos = word(1);
    const u32 wanted = cr3Cr4();
    if (!b) {
        reject("[bufno: %d, spos: %d, fad: %d]", hi(2), spos, wanted);
        return;
    }
    if (spos == 0xFFFF && b->count() > 0)
        spos = b->count() - 1;
    m_fadSearch = {b->number(), 0xFFFF, 0xFFFFFF};
    if (spos < b->count()) {
        b->output.disconnect();
        m_fadSearch.fad = wanted;
        bool below = false;
        for (u32 i = spos; i < b->count(); ++i) {
            const u32 fad = rawFad(b->sectorAt(i));
            if (fad == wanted) {
                m_fadSearch.position = i;
                m_fadSearch.fad = fad;
                below = true;
                break;
            }
            if (fad < wanted && (!below || fad > m_fadSearch.fad)) {
                m_fadSearch.position = i;
                m_fadSearch.fad = fad;
                below = true;
            }
        }
        if (!below)
            m_fadSearch.fad = wanted;
    }
    reportStatus(0);
    setHirq(kEsel);
}

void CDB::GetFadSearch()
{
    answer(statusWord(), static_cast<u16>(m_fadSearch.position),
           static_cast<u16>(m_fadSearch.buffer << 8 | ((m_fadSearch.fad >> 16) & 0xFF)),
           static_cast<u16>(m_fadSearch.fad));
}

// The partition and range a sector command names (CR3.hi, CR2, CR4); null
// once REJECT or WAIT has answered.
CDB::Buffer* CDB::sectorRange(u32& spos, u32& snum)
{
    Buffer* b = bufferAt(hi(2));
    spos = word(1);
    snum = word(3);
    if (!b) {
        reject("[bufno: %d, spos: %d, snum: %d]", hi(2), spos, snum);
        return nullptr;
    }
    if (!resolveRange(*b, spos, snum)) {
        wait("[bufno: %d, size: %d, spos: %d, snum: %d]", hi(2), b->count(), word(1), word(3));
        return nullptr;
    }
    return b;
}

void CDB::DelSctData()
{
    u32 spos, snum;
    Buffer* b = sectorRange(spos, snum);
    if (!b)
        return;
    b->remove(spos, snum);
    reportStatus(0);
    setHirq(kEhst);
}

// ---------------------------------------------------------------------------
// Copy and move

template <bool move>
void CDB::copySectorData()
{
    const u32 source = hi(2);
    u32 spos = word(1);
    u32 snum = word(3);
    const u32 destination = lo(0);
    if (m_copy.state == kCopyRunning) {
        wait("<BUSY> [srcbn: %d, spos: %d, snum: %d, dstfln: %d]", source, spos, snum, destination);
        return;
    }
    Buffer* b = bufferAt(source);
    Filter* f = filterAt(destination);
    if (!b || !f) {
        reject("[srcbn: %d, spos: %d, snum: %d, dstfln: %d]", source, spos, snum, destination);
        return;
    }
    if (!resolveRange(*b, spos, snum)) {
        wait("[srcbn: %d, spos: %d, snum: %d, dstfln: %d]", source, word(1), word(3), destination);
        return;
    }
    join(b->output, f->input);
    m_copy.state = kCopyRunning;
    m_copy.source = source;
    m_copy.destination = destination;
    m_copy.start = spos;
    m_copy.count = snum;
    m_copy.done = 0;
    m_copy.move = move;
    cancelEvent(m_copyEvent);
    m_copyEvent = schedule(kCopyPeriodNs, onCopyEvent, Scheduler::kForever, kCopyPeriodNs, 0);
    reportStatus(0);
    logDebug(1, "%s<BEGIN> [srcbn: %d, spos: %d, snum: %d, dstfln: %d]", commandName(), source, spos, snum,
             destination);
}
template void CDB::copySectorData<false>();
template void CDB::copySectorData<true>();

void CDB::onCopyEvent(void* owner, u32)
{
    static_cast<CDB*>(owner)->endCopyMove();
}

void CDB::endCopyMove()
{
    auto finish = [this] {
        cancelEvent(m_copyEvent);
        m_copyEvent = {};
        setHirq(kEcpy);
    };
    if (m_hirqReq.bits() & kEcpy) {
        cancelEvent(m_copyEvent);
        m_copyEvent = {};
        return;
    }
    if (m_copy.state != kCopyRunning) {
        finish();
        return;
    }
    const s32 result = copyMoveSectors(kCopyBatch);
    if (result < 0) {
        m_copy.state = 1;
        finish();
    } else if (m_copy.done >= m_copy.count) {
        m_copy.state = 0;
        finish();
        logDebug(1, "%s<END>", m_copy.move ? "MoveSctData" : "CopySctData");
    }
}

s32 CDB::copyMoveSectors(u32 most)
{
    Buffer& source = *m_buffers[m_copy.source % kBuffers];
    const Connector* peer = source.output.peer();
    if (!peer) {
        logError(1, "Connection is separated during copy process");
        return -1;
    }
    const u32 id = peer->owner()->id();
    if ((id & 0xC0) != 0) {
        logError(1, "The buffer partition is connected to a non-filter device [ID: %02X]", id);
        return -2;
    }
    if (id != m_copy.destination) {
        logError(1, "The buffer partition is connected to a different filter [filtno: %d, dstfln: %d]", id,
                 m_copy.destination);
        return -3;
    }
    const u32 n = std::min(most, m_copy.count - m_copy.done);
    for (u32 i = 0; i < n; ++i) {
        if (m_freeCount == 0) {
            logError(1, "No more free space [snum: %d, count: %d]", m_copy.done, m_copy.count);
            return -4;
        }
        const u32 position = m_copy.move ? m_copy.start : m_copy.start + m_copy.done;
        const u8* raw = source.sectorAt(position);
        if (!raw) {
            logError(1, "Connection is separated during copy process");
            return -1;
        }
        std::memcpy(m_routeRaw, raw, kRawBytes);
        const u32 mode = rawMode(m_routeRaw);
        const u32 fad = rawFad(m_routeRaw);
        if (m_copy.move)
            source.remove(position, 1);
        if (!routeRaw(&m_filters[m_copy.destination]->input, mode, fad, m_routeRaw)) {
            logError(1, "Copy/Move: streaming failed");
            return -5;
        }
        ++m_copy.done;
    }
    return 0;
}

void CDB::GetCopyErr()
{
    const u8 state = static_cast<u8>(m_copy.state);
    answer(static_cast<u16>(statusWord() | state), 0, 0, 0);
    logDebug(1, "%s [cpyerr: %s]", commandName(), state == 0 ? "OK" : state == 1 ? "NG" : "BUSY");
}
