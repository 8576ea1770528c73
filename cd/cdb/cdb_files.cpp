// ISO 9660 file system access: the directory table and file reads.
#include <cctype>
#include <cstring>

#include "cd/cdb/cdb.h"

namespace {

constexpr u32 kRootId = 0xFFFFFF;
constexpr u32 kPvdFad = 166;
constexpr u32 kRecordFixedBytes = 33;
constexpr u32 kFilesPerScope = 254;

// Where the user data of a stored raw sector starts.
u32 userDataAt(const u8* raw)
{
    return raw[15] == 2 ? 24 : 16;
}

}  // namespace

// Whether a directory's FAD lies between the lead-in and the lead-out (any
// FAD before the table of contents is read).
bool CDB::onDisc(u32 fad) const
{
    return m_tracks.empty() || (fad >= kLeadInFrames && fad < m_leadOut);
}

void CDB::clearFiles(u32 scopeStart)
{
    m_scopeStart = scopeStart;
    m_recordsSeen = 0;
    m_infnum = 0;
    m_dirEnd = 0;
    m_files.fill(File{});
}

void CDB::resetFilter(u32 n)
{
    Filter& f = *m_filters[n];
    join(m_cdrom.output, f.input);
    // The partition's input keeps the other filters that feed it.
    f.trueEnd.disconnect();
    f.trueEnd.connect(&m_buffers[n]->input);
    f.falseEnd.disconnect();
    f.clearConditions();
    f.fadStart = m_targetFad;
    f.fadCount = 1;
    f.mode = Filter::kRange;
    m_dirFilter = static_cast<s32>(n);
    m_sectorsDone = 0;
    m_buffers[n]->clear();
}

void CDB::setFileFilter(u32 n, u32 count, u8 fileNumber)
{
    resetFilter(n);
    Filter& f = *m_filters[n];
    f.fadCount = count;
    f.mode = Filter::kRange | Filter::kFileNumber;
    f.fileNumber = fileNumber;
}

const u8* CDB::newestDirectorySector() const
{
    if (m_dirFilter < 0)
        return nullptr;
    const Buffer& b = *m_buffers[static_cast<u32>(m_dirFilter) % kBuffers];
    if (b.count() == 0)
        return nullptr;
    // The file system is read from the user data whatever length the game
    // set for its own transfers.
    const u8* raw = b.sectorAt(b.count() - 1);
    return raw + userDataAt(raw);
}

// A damaged disc ends the directory operation with an error answer rather
// than leaving the game waiting for the end bit.
void CDB::failDirectory(const char* name, const char* detail)
{
    error(name, "%s", detail);
    setHirq(kEfls);
}

// ---------------------------------------------------------------------------
// Parsing

bool CDB::parseDirectoryRecord(File& entry, const u8* r, u32 available) const
{
    entry = File{};
    if (available < kRecordFixedBytes + 1 || r[0] < kRecordFixedBytes + 1 || r[0] > available)
        return false;
    const u32 length = r[0];
    entry.fad = loadBe32(r + 6) + kLeadInFrames;
    entry.size = loadBe32(r + 14);
    entry.attribute = r[25] & 0x02;
    entry.unitSize = r[26];
    entry.gapSize = r[27];
    const u32 n = r[32];
    if (kRecordFixedBytes + n > length) {
        logError(1, "Bad director record [size: %d, realsize: %d]", length, kRecordFixedBytes + n);
        return false;
    }
    if (n == 1) {
        const u8 c = r[33];
        if (c == 0)
            std::strcpy(entry.name, ".");
        else if (c == 1)
            std::strcpy(entry.name, "..");
        else if (std::isalnum(c) || c == '_')
            entry.name[0] = static_cast<char>(c);
        else
            std::strcpy(entry.name, "__unknown__");
    } else {
        u32 i = 0;
        for (; i < n && i < sizeof entry.name - 1 && r[33 + i] != ';'; ++i)
            entry.name[i] = static_cast<char>(r[33 + i]);
        entry.name[i] = 0;
    }
    const u32 start = kRecordFixedBytes + n + ((n & 1) ? 0 : 1);
    if (length == start)
        return true;
    if (length < start) {
        logError(1, "Bad director record [size: %d, realsize: %d]", length, start);
        return true;
    }
    if (length < start + 9 || r[start + 6] != 'X' || r[start + 7] != 'A') {
        logError(1, "Bad signature(XA)");
        return true;
    }
    entry.attribute |= r[start + 4] & 0xF8;
    entry.fileNumber = r[start + 8];
    return true;
}

void CDB::walkDirectorySector(const u8* data, u32 blockSize)
{
    u32 pos = 0;
    auto next = [&](File& entry) {
        if (pos >= blockSize || data[pos] == 0)
            return false;
        const u32 length = data[pos];
        if (!parseDirectoryRecord(entry, data + pos, blockSize - pos)) {
            logError(1, "Bad director record [size: %d, realsize: %d]", length, blockSize - pos);
            return false;
        }
        pos += length;
        return true;
    };
    if (m_recordsSeen < 2) {
        if (!next(m_files[0]) || !next(m_files[1]))
            return;
        m_recordsSeen = 2;
    }
    File entry;
    while (m_infnum < kFilesPerScope && next(entry)) {
        if (m_recordsSeen >= m_scopeStart)
            m_files[2 + m_infnum++] = entry;
        ++m_recordsSeen;
    }
}

void CDB::readVolumeDescriptors(const u8* data)
{
    if (std::memcmp(data + 1, "CD001", 5) != 0) {
        char id[6] = {};
        for (int i = 0; i < 5; ++i)
            id[i] = std::isprint(data[1 + i]) ? static_cast<char>(data[1 + i]) : '?';
        logError(1, "%s: Invalid Volume Descriptor [id: %s]", "ChgDir", id);
        failDirectory("ChgDir", "Invalid Volume Descriptor");
        return;
    }
    const u8 type = data[0];
    const u8 version = data[6];
    switch (type) {
    case 1: break;
    case 0: logError(1, "%s: Boot Record not implemented [version: %02X]", "ChgDir", version); return;
    case 2:
        logError(1, "%s: Supplementary Volume Descriptor not implemented [version: %02X]", "ChgDir", version);
        return;
    case 3:
        logError(1, "%s: Volume Section Descriptor is not used in a SATURN game disk [version: %02X]", "ChgDir",
                 version);
        return;
    case 255: logDebug(1, "%s: Volume Descriptor Set Terminals [version: %02X]", "ChgDir", version); return;
    default:
        logError(1, "%s: Unknown Volume Descriptor [type: %02X, version: %02X]", "ChgDir", type, version);
        return;
    }
    const u32 blockSize = loadBe16(data + 130);
    if (blockSize != 512 && blockSize != 1024 && blockSize != 2048) {
        failDirectory("ChgDir", "Bad logical block size");
        return;
    }
    m_blockSize = blockSize;
    advanceDrive();
    clearFiles(2);
    const u32 root = loadBe32(data + 162) + kLeadInFrames;
    if (!m_tracks.empty() && (root < kLeadInFrames || root >= m_leadOut)) {
        failDirectory("ChgDir", "Root directory outside the disc");
        return;
    }
    if (m_dirFilter >= 0)
        m_filters[static_cast<u32>(m_dirFilter) % kFilters]->fadStart = root;
    m_targetFad = root;
    playDrive(kChangeDir, 1);
    logDebug(1, "%s<PVD> [root: %d]", "ChgDir", root);
}

void CDB::finishDirectory(u32 kind)
{
    const char* name = kind == kReadDir ? "ReadDir" : "ChgDir";
    const u8* data = newestDirectorySector();
    if (!data)
        return;
    walkDirectorySector(data, m_blockSize);
    const bool full = m_infnum >= kFilesPerScope;
    if (!full) {
        const u64 read = (u64{m_current.fad} + 1 - m_files[0].fad) * m_blockSize;
        m_dirEnd = read >= m_files[0].size ? 1 : 0;
        if (!m_dirEnd) {
            advanceDrive();
            if (!m_tracks.empty() && m_targetFad >= m_leadOut) {
                failDirectory(name, "Directory runs past the disc");
                return;
            }
            if (m_dirFilter >= 0)
                m_filters[static_cast<u32>(m_dirFilter) % kFilters]->fadStart = m_targetFad;
            playDrive(kind, 1);
            return;
        }
    }
    advanceDrive();
    pauseDrive(false);
    setHirq(kEfls);
    if (m_dirFilter >= 0)
        m_buffers[static_cast<u32>(m_dirFilter) % kBuffers]->remove(0, m_sectorsDone);
    logDebug(1, "%s<END> [infnum: %d]", name, m_infnum);
}

// ---------------------------------------------------------------------------
// Commands

void CDB::ChgDir()
{
    const u32 n = hi(2);
    const u32 id = cr3Cr4();
    if (n < kFilters && id != kRootId && inScope(id)) {
        const File& entry = entryOf(id);
        const u32 fad = entry.fad;
        if (!(entry.attribute & 0x02)) {
            // A file's bytes are no directory.
            reject("(%s) [filtno: %d, fid: %d]", entry.name, n, id);
            return;
        }
        if (!onDisc(fad)) {
            reject("[filtno: %d, fid: %d]", n, id);
            return;
        }
        clearFiles(2);
        m_targetFad = fad;
        playDrive(kChangeDir, 1);
        logInfo(1, "%s<BEGIN> [filtno: %d, fid: %d, fad: %d]", commandName(), n, id, fad);
        resetFilter(n);
    } else if (n < kFilters && id == kRootId) {
        m_targetFad = kPvdFad;
        playDrive(kVolume, 1);
        logInfo(1, "%s<ROOT> [filtno: %d]", commandName(), n);
        resetFilter(n);
    } else {
        reject("[filtno: %d, fid: %d]", n, id);
    }
}

void CDB::ReadDir()
{
    const u32 n = hi(2);
    const u32 id = cr3Cr4();
    // Any record of the current directory may start the table, also one
    // past the 254 the table holds: that is how the rest of a large
    // directory is reached.
    const u32 fad = m_files[0].fad;
    if (n >= kFilters || id < 2 || id == kRootId || fad == 0 || !onDisc(fad)) {
        reject("[filtno: %d, fid: %d]", n, id);
        return;
    }
    clearFiles(id);
    m_targetFad = fad;
    playDrive(kReadDir, 1);
    resetFilter(n);
    logInfo(1, "%s<BEGIN> [filtno: %d, fid: %d, fad: %d]", commandName(), n, id, fad);
}

void CDB::GetFileScope()
{
    answer(statusWord(), static_cast<u16>(m_infnum), static_cast<u16>(m_dirEnd << 8 | ((m_scopeStart >> 16) & 0xFF)),
           static_cast<u16>(m_scopeStart));
    setHirq(kEfls);
    logDebug(1, "%s [fid: %d, infnum: %d, drend: %1d]", commandName(), m_scopeStart, m_infnum, m_dirEnd);
}

void CDB::fileInfoWords(const File& f, u16* out) const
{
    out[0] = static_cast<u16>(f.fad >> 16);
    out[1] = static_cast<u16>(f.fad);
    out[2] = static_cast<u16>(f.size >> 16);
    out[3] = static_cast<u16>(f.size);
    out[4] = static_cast<u16>(f.unitSize << 8 | f.gapSize);
    out[5] = static_cast<u16>(f.fileNumber << 8 | f.attribute);
}

void CDB::TgetFileInfo()
{
    const u32 id = cr3Cr4();
    u32 words = 0;
    if (inScope(id)) {
        fileInfoWords(entryOf(id), m_info);
        words = 6;
        logDebug(1, "%s [fid: %d]", commandName(), id);
    } else if (id == kRootId) {
        for (u32 i = 0; i < m_infnum && i < kFilesPerScope; ++i)
            fileInfoWords(m_files[2 + i], m_info + 6 * i);
        words = 6 * std::min(m_infnum, kFilesPerScope);
        logDebug(1, "%s<ALL> [start: %d, infnum: %d]", commandName(), m_scopeStart, m_infnum);
    } else {
        reject("[fid: %d, start: %d, infnum: %d]", id, m_scopeStart, m_infnum);
        return;
    }
    m_infoIndex = 0;
    m_infoCount = words;
    answer(static_cast<u16>(statusWord() | ((words >> 16) & 0xFF)), static_cast<u16>(words), 0, 0);
    setHirq(kDrdy);
}

void CDB::ReadFile()
{
    const u32 n = hi(2);
    const u32 id = cr3Cr4();
    const u32 offset = cr1Cr2();
    if (n >= kFilters || !inScope(id)) {
        reject("[filtno: %d, fid: %d, offset: %d]", n, id, offset);
        return;
    }
    const File& entry = entryOf(id);
    if (entry.attribute & 0x02) {
        reject("(%s) [filtno: %d, fid: %d, offset: %d]", entry.name, n, id, offset);
        return;
    }
    const u32 t = trackAt(entry.fad);
    const Track* info = t >= 1 && t <= 99 ? track(t) : nullptr;
    if (!info || info->userSize == 0) {
        error(commandName(), "[filtno: %d, fid: %d, offset: %d]", n, id, offset);
        return;
    }
    const u64 u = info->userSize;
    const u64 room = (u64{info->end} - entry.fad + 1) * u;
    if (room < entry.size) {
        error(commandName(), "[fad: %d, offset: %d, filesize: %d, usersize: %d, tracksize: %d, psize: %d)]", entry.fad,
              offset, entry.size, static_cast<u32>(u), static_cast<u32>((u64{info->end} - info->start + 1) * u),
              static_cast<u32>(room));
        return;
    }
    const u64 sectors = (entry.size + u - 1) / u;
    const u32 total = sectors > offset ? static_cast<u32>(sectors - offset) : 0;
    m_targetFad = (entry.fad + offset) & 0x7FFFFF;
    m_fileTotal = total;
    if (total == 0) {
        // An empty file, or an offset past its end: nothing to read.
        m_fileOp = kReadFile;
        m_sectorsDone = 0;
        reportStatus(0);
        setHirq(kEfls);
        logInfo(1, "%s<END> [fstotal: %d, fssnum: %d]", commandName(), 0, 0);
        return;
    }
    setFileFilter(n, total, entry.fileNumber);
    playDrive(kReadFile, total);
    reportStatus(0);
    logInfo(1, "%s<BEGIN> (%s) [filtno: %d, fid: %d, offset: %d, fn: %d, fad: %d, fnum: %d, fsize: %d]", commandName(),
            entry.name, n, id, offset, entry.fileNumber, entry.fad, total, entry.size);
}

void CDB::AbortFile()
{
    pauseDrive(true);
    reportStatus(0);
    setHirq(kEfls);
    logDebug(1, "%s", commandName());
}
