// The data transfer port and the sector-data commands.
#include <cstring>
#include <string>

#include "cd/cdb/cdb.h"

namespace {

constexpr const char* kLengthNames[] = {"2048", "2336", "2340", "2352"};

bool isForm2(const u8* raw)
{
    return raw[15] == 2 && (raw[18] & 0x20);
}

}  // namespace

u32 CDB::getLength(const u8* raw) const
{
    switch (m_getSetting) {
    case 0: return isForm2(raw) ? SectorBuffer::kForm2Size : SectorBuffer::kCookedSize;
    case 1: return SectorBuffer::kMode2Size;
    case 2: return 2340;
    case 3: return kRawBytes;
    default: logError(1, "Bad size [len: %d]", m_getSetting); return 0;
    }
}

u32 CDB::getOffset(const u8* raw) const
{
    switch (m_getSetting) {
    case 0: return raw[15] == 2 ? 24 : 16;
    case 1: return 16;
    case 2: return 12;
    case 3: return 0;
    default: logError(1, "Bad ptr [len: %d]", m_getSetting); return 0;
    }
}

u32 CDB::putLength() const
{
    static constexpr u32 kLengths[] = {2048, 2336, 2340, 2352};
    return m_putSetting < 4 ? kLengths[m_putSetting] : 0;
}

u32 CDB::putOffset() const
{
    static constexpr u32 kOffsets[] = {24, 16, 12, 0};
    return m_putSetting < 4 ? kOffsets[m_putSetting] : 0;
}

// ---------------------------------------------------------------------------
// The transfer unit

void CDB::DTR::reset()
{
    input.disconnect();
    output.disconnect();
    start(0, 0, 0);
    m_halfWord = 0;
    m_halfFetched = false;
}

// A transfer of count sectors from index, no sector at hand.
void CDB::DTR::start(s32 length, s32 index, u32 count)
{
    m_length = length;
    m_index = index;
    m_count = count;
    m_done = 0;
    m_data = nullptr;
    m_first = -1;
    m_delete = false;
    m_lowHalfNext = false;
    m_sector.init();
}

bool CDB::DTR::loadSector(u32 position)
{
    const Connector* peer = input.peer();
    if (!peer || (peer->owner()->id() & 0xC0) != 0x40)
        return false;
    const Buffer& b = *m_cdb.m_buffers[peer->owner()->id() & 0x3F];
    const u8* raw = b.sectorAt(position);
    if (!raw)
        return false;
    m_data = raw + m_cdb.getOffset(raw);
    m_length = static_cast<s32>(m_cdb.getLength(raw));
    return true;
}

void CDB::DTR::beginGet(s32 position, u32 count, bool remove)
{
    if (!input.peer() || position < 0 || !loadSector(static_cast<u32>(position)))
        return;
    m_first = position;
    m_count = count;
    m_index = 0;
    m_done = 0;
    m_delete = remove;
    m_lowHalfNext = false;
}

u32 CDB::DTR::read()
{
    u32 w = 0;
    if (fetch(w))
        m_cdb.m_infoIndex += 2;
    return w;
}

bool CDB::DTR::fetch(u32& w)
{
    if (!input.peer() || !m_data) {
        logWarning(1, "Input connector is disconnected");
        w = 0;
        return false;
    }
    w = loadBe32(m_data + m_index);
    m_index += 4;
    if (m_index < m_length)
        return true;
    ++m_done;
    m_index = 0;
    if (m_delete) {
        const u32 id = input.peer()->owner()->id();
        m_cdb.m_buffers[id & 0x3F]->remove(static_cast<u32>(m_first), 1);
    }
    // Ends at or past the count; a sector that vanished from under the
    // transfer ends it too.
    const u32 next = m_delete ? static_cast<u32>(m_first) : static_cast<u32>(m_first) + m_done;
    if (m_done >= m_count || !loadSector(next)) {
        m_data = nullptr;
        input.disconnect();
    }
    return true;
}

void CDB::DTR::beginPut(u32 count)
{
    if (!output.peer())
        return;
    start(static_cast<s32>(m_cdb.putLength()), static_cast<s32>(m_cdb.putOffset()), count);
    m_sector.mode = SectorBuffer::kMode1;
}

void CDB::DTR::write(u32 value)
{
    Connector* peer = output.peer();
    if (!peer || m_done >= m_count) {
        logWarning(1, "Output connector is disconnected");
        return;
    }
    u8* storage = m_sector.storage();
    storeBe32(storage + m_index, value);
    m_index += 4;
    m_cdb.m_infoIndex += 2;
    const s32 end = static_cast<s32>(m_cdb.putOffset()) + m_length;
    if (m_index < end)
        return;
    u32 mode = SectorBuffer::kRaw;
    if (m_cdb.m_putSetting == 0) {
        mode = SectorBuffer::kForm1;
    } else if (storage[15] == 1) {
        mode = SectorBuffer::kMode1;
    } else if (storage[15] == 2) {
        mode = (storage[18] & 0x20) ? SectorBuffer::kForm2 : SectorBuffer::kForm1;
    } else {
        logWarning(1, "Unknown mode");
    }
    if (m_cdb.m_putSetting == 0) {
        // The header of a cooked put sector is made here; its subheader stays as stored.
        SectorBuffer::writeHeader(storage, 0, 2);
    }
    m_sector.set(mode, 0, static_cast<s32>(kRawBytes));
    if (!m_cdb.routeRaw(peer, mode, 0, storage))
        logWarning(1, "Put failed");
    ++m_done;
    if (m_done >= m_count) {
        output.disconnect();
        return;
    }
    m_length = static_cast<s32>(m_cdb.putLength());
    m_index = static_cast<s32>(m_cdb.putOffset());
}

// Each half counts one word for DataEnd, as it is read.
u16 CDB::DTR::readHalf()
{
    if (m_lowHalfNext) {
        m_lowHalfNext = false;
        m_cdb.m_infoIndex += m_halfFetched ? 1 : 0;
        return static_cast<u16>(m_halfWord);
    }
    m_halfFetched = fetch(m_halfWord);
    m_cdb.m_infoIndex += m_halfFetched ? 1 : 0;
    m_lowHalfNext = true;
    return static_cast<u16>(m_halfWord >> 16);
}

void CDB::DTR::writeHalf(u16 value)
{
    if (!m_lowHalfNext) {
        m_halfWord = u32{value} << 16;
        m_lowHalfNext = true;
        return;
    }
    m_lowHalfNext = false;
    write(m_halfWord | value);
}

// ---------------------------------------------------------------------------
// Commands

void CDB::SetSctLen()
{
    const u32 g = lo(0);
    const u32 p = hi(1);
    if ((g >= 4 && g <= 254) || (p >= 4 && p <= 254)) {
        reject("[getslen: %d, putslen: %d]", g, p);
        return;
    }
    if (g < 255)
        m_getSetting = g;
    if (p < 255)
        m_putSetting = p;
    reportStatus(0);
    setHirq(kEsel);
    std::string text = "[getslen: ";
    text += g < 255 ? kLengthNames[g] : std::string("NOCHG(") + kLengthNames[m_getSetting & 3] + ")";
    text += ", putslen: ";
    text += p < 255 ? kLengthNames[p] : std::string("NOCHG(") + kLengthNames[m_putSetting & 3] + ")";
    text += "]";
    logDebug(1, "%s %s", commandName(), text.c_str());
}

template <bool remove>
void CDB::getSectorData()
{
    u32 spos, snum;
    Buffer* b = sectorRange(spos, snum);
    if (!b)
        return;
    m_dtr.input.disconnect();
    join(b->output, m_dtr.input);
    m_dtr.beginGet(static_cast<s32>(spos), snum, remove);
    reportStatus(0);
    setHirq(kDrdy | kEhst);
}

template void CDB::getSectorData<false>();
template void CDB::getSectorData<true>();

void CDB::PutSctData()
{
    Filter* f = filterAt(hi(2));
    const u32 snum = word(3);
    if (!f) {
        reject("[filtno: %d, snum: %d]", hi(2), snum);
        return;
    }
    if (m_freeCount == 0) {
        reportStatus(0);
        setHirq(kBful | kEhst);
        logWarning(1, "%s<FULL> [filtno: %d, snum %d]", commandName(), hi(2), snum);
        return;
    }
    join(f->input, m_dtr.output);
    m_dtr.beginPut(snum);
    reportStatus(0);
    setHirq(kDrdy | kEhst);
    logDebug(1, "%s [filtno: %d, snum %d]", commandName(), hi(2), snum);
}
