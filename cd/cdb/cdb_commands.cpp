// The command table and the drive, status and information commands.
#include <cstdio>
#include <cstring>

#include "cd/cdb/cdb.h"
#include "cd/drive/cd_drive.h"

namespace {

constexpr u32 kNoChange = 0xFFFFFF;
constexpr u32 kFadFlag = 0x800000;

enum PositionKind { kDefault, kNoChg, kFad, kTrackIndex };

PositionKind kindOf(u32 p)
{
    if (p == 0)
        return kDefault;
    if (p == kNoChange)
        return kNoChg;
    return (p & kFadFlag) ? kFad : kTrackIndex;
}

const char* yesNo(bool on)
{
    return on ? "YES" : "NO";
}

}  // namespace

const std::array<CDB::Handler, 256>& CDB::commandTable()
{
    static const std::array<Handler, 256> table = [] {
        std::array<Handler, 256> t{};
        t[0x00] = &CDB::GetCurStat;
        t[0x01] = &CDB::GetHwInfo;
        t[0x02] = &CDB::TgetToc;
        t[0x03] = &CDB::GetSes;
        t[0x04] = &CDB::CdInit;
        t[0x05] = &CDB::CdOpen;
        t[0x06] = &CDB::DataEnd;
        t[0x10] = &CDB::CdPlay;
        t[0x11] = &CDB::CdSeek;
        t[0x12] = &CDB::CdScan;
        t[0x20] = &CDB::TgetScd;
        t[0x21] = &CDB::Command21;
        t[0x22] = &CDB::Command22;
        t[0x23] = &CDB::Command23;
        t[0x24] = &CDB::Command24;
        t[0x30] = &CDB::CdSetCon;
        t[0x31] = &CDB::CdGetCon;
        t[0x32] = &CDB::CdGetLastBuf;
        t[0x40] = &CDB::SetFiltRange;
        t[0x41] = &CDB::GetFiltRange;
        t[0x42] = &CDB::SetFiltSubh;
        t[0x43] = &CDB::GetFiltSubh;
        t[0x44] = &CDB::SetFiltMode;
        t[0x45] = &CDB::GetFiltMode;
        t[0x46] = &CDB::SetFiltCon;
        t[0x47] = &CDB::GetFiltCon;
        t[0x48] = &CDB::ResetSelector;
        t[0x50] = &CDB::GetBufSiz;
        t[0x51] = &CDB::GetSctNum;
        t[0x52] = &CDB::CalActSiz;
        t[0x53] = &CDB::GetActSiz;
        t[0x54] = &CDB::GetSctInfo;
        t[0x55] = &CDB::ExeFadSearch;
        t[0x56] = &CDB::GetFadSearch;
        t[0x60] = &CDB::SetSctLen;
        t[0x61] = &CDB::GetSctData;
        t[0x62] = &CDB::DelSctData;
        t[0x63] = &CDB::GetdelSctData;
        t[0x64] = &CDB::PutSctData;
        t[0x65] = &CDB::CopySctData;
        t[0x66] = &CDB::MoveSctData;
        t[0x67] = &CDB::GetCopyErr;
        t[0x70] = &CDB::ChgDir;
        t[0x71] = &CDB::ReadDir;
        t[0x72] = &CDB::GetFileScope;
        t[0x73] = &CDB::TgetFileInfo;
        t[0x74] = &CDB::ReadFile;
        t[0x75] = &CDB::AbortFile;
        for (u32 code = 0x90; code <= 0xAA; ++code)
            t[code] = &CDB::mpegCommand;
        t[0xAE] = t[0xAF] = t[0xE2] = &CDB::mpegCommand;
        return t;
    }();
    return table;
}

void CDB::GetCurStat()
{
    reportStatus(0);
}

void CDB::GetHwInfo()
{
    const u8 flags = m_mpegCard ? 0x02 : 0x00;
    answer(statusWord(), static_cast<u16>(flags << 8 | 1), m_mpegCard ? 1 : 0, 0x0400);
    logDebug(1, "GetHwInfo");
}

void CDB::TgetToc()
{
    for (u32 i = 0; i < kTocWords; ++i) {
        m_info[2 * i] = static_cast<u16>(m_toc[i] >> 16);
        m_info[2 * i + 1] = static_cast<u16>(m_toc[i]);
    }
    m_infoIndex = 0;
    m_infoCount = 2 * kTocWords;
    answer(statusWord(), 2 * kTocWords, 0, 0);
    setHirq(kDrdy);
    logDebug(1, "TgetToc");
}

void CDB::GetSes()
{
    const u32 n = lo(0);
    if (m_status == kTrayOpen || m_status == kNoDisc) {
        wait("GetSes", "[sesno: %d]", n);
        return;
    }
    if (n > 99) {
        reject("GetSes", "[sesno: %d]", n);
        return;
    }
    answer(statusWord(), 0, 0xFFFF, 0xFFFF);
    const u32 sessions = m_tracks.empty() ? 0 : 1;
    if (n == 0) {
        m_cr[2] = static_cast<u16>(sessions << 8 | ((m_leadOut >> 16) & 0xFF));
        m_cr[3] = static_cast<u16>(m_leadOut);
        logInfo(1, "%s<TOTAL> [total: %d, leadout: %d]", "GetSes", sessions, m_leadOut);
    } else if (n > sessions) {
        logInfo(1, "%s<EXCEED> [sesno: %d, total: %d]", "GetSes", n, sessions);
    } else {
        // The session's own first value, not its first track's start: the
        // libraries find the volume descriptor at this value + 166.
        const Track& first = m_tracks.front();
        m_cr[2] = static_cast<u16>((first.number & 0xFF) << 8 | ((m_sessionFirst >> 16) & 0xFF));
        m_cr[3] = static_cast<u16>(m_sessionFirst);
        logInfo(1, "%s [sesno: %d, tno: %d, start: %d]", "GetSes", n, first.number, m_sessionFirst);
    }
}

// CdInit's reset: the routing and the directory table start afresh.
void CDB::softReset()
{
    clearSettingsAndRouting();
    setHirq(kEsel);
}

void CDB::clearSettingsAndRouting()
{
    m_dirFilter = -1;
    m_sectorsDone = 0;
    m_fileTotal = 0;
    clearFiles(2);
    m_rw = false;
    m_m2sb = true;
    m_f2 = false;
    m_doubleSpeed = true;
    m_standbyTime = 180;
    m_eccFrequency = 1;
    m_retryFrequency = 0;
    m_repeatMax = m_repeatCount = 0;
    m_start = m_end = {};
    m_cdrom.output.disconnect();
    for (u32 n = 0; n < kFilters; ++n) {
        Filter& f = *m_filters[n];
        f.clearConditions();
        f.input.disconnect();
        f.trueEnd.disconnect();
        f.falseEnd.disconnect();
        join(f.trueEnd, m_buffers[n]->input);
    }
    for (auto& b : m_buffers) {
        b->clear();
        b->output.disconnect();
    }
    m_infoIndex = m_infoCount = 0;
    m_actualSize = 0;
    m_getSetting = m_putSetting = 0;
    m_dtr.reset();
}

void CDB::CdInit()
{
    const u8 f = lo(0);
    const u16 t = word(1);
    const u8 e = hi(3);
    const u8 r = lo(3);
    if (m_drive)
        m_drive->clearBuffers();
    pauseDrive(true);
    if (f & 0x01) {
        softReset();
        logInfo(1, "%s<RESET> [iflag: %02X, stnby: %04X, ecc: %02X, retry: %02X]", "CdInit", f, t, e, r);
        return;
    }
    if (m_status == kNoDisc)
        openTray();
    if (!(f & 0x80)) {
        m_rw = f & 0x02;
        m_m2sb = !(f & 0x04);
        m_f2 = f & 0x08;
        m_doubleSpeed = !(f & 0x10);
    }
    if (t == 0)
        m_standbyTime = 180;
    else if (t != 0xFFFF)
        m_standbyTime = t;
    if (e == 0x80)
        m_eccFrequency = 0;
    else if (e == 0)
        m_eccFrequency = 1;
    else if (e <= 5)
        m_eccFrequency = e + 1u;
    else if (e != 0xFF)
        logError(1, "%s: Invalid ECC Frequency settings", "CdInit");
    m_retryFrequency = r >= 0x80 ? 255 : r & 0x0F;
    if (r == 0x80)
        m_retryFrequency = 255;
    else if (r <= 15 || (r >= 0x41 && r <= 0x4F))
        m_retryFrequency = r;
    else if (r != 0x40 && r != 0xFF)
        logError(1, "%s: Invalid Retry Frequency settings", "CdInit");
    reportStatus(0);
    char flags[64];
    std::snprintf(flags, sizeof flags, "RW: %s, M2SB: %s, F2: %s, SPD: %s", yesNo(m_rw), yesNo(m_m2sb), yesNo(m_f2),
                  m_doubleSpeed ? "2X" : "1X");
    if (f & 0x80)
        logDebug(1, "%s [iflag: NOCHG(%s), stnby: %04X, ecc: %02X, retry: %02X]", "CdInit", flags, t, e, r);
    else
        logDebug(1, "%s [iflag: %02X(%s), stnby: %04X, ecc: %02X, retry: %02X]", "CdInit", f, flags, t, e, r);
}

void CDB::CdOpen()
{
    openTray();
    reportStatus(0);
    setHirq(kEfls | kDchg);
    logDebug(1, "CdOpen");
}

void CDB::DataEnd()
{
    const u32 n = m_infoIndex;
    m_infoIndex = m_infoCount = 0;
    if (n == 0)
        answer(static_cast<u16>(statusWord() | 0xFF), 0xFFFF, 0, 0);
    else
        answer(static_cast<u16>(statusWord() | ((n >> 16) & 0xFF)), static_cast<u16>(n), 0, 0);
    logDebug(1, "DataEnd [cdwnum: %d]", n);
}

// Start of a track/index position: the track is clamped to the disc and an
// index past 99 moves on to the next track.
u32 CDB::resolveStartTrack(u32 value, u32& trackOut, u32& indexOut) const
{
    if (m_tracks.empty()) {
        trackOut = indexOut = 1;
        return kLeadInFrames;
    }
    const u32 first = m_tracks.front().number;
    const u32 last = m_tracks.back().number;
    u32 t = (value >> 8) & 0xFF;
    u32 index = value & 0xFF;
    if (t == 0) {
        t = first;
    } else if (t < first || t > last) {
        t = t < first ? first : last;
        index = 1;
    }
    if (index == 0)
        index = 1;
    if (index >= 100) {
        index = 1;
        if (t < last)
            ++t;
    }
    trackOut = t;
    indexOut = index;
    const Track* info = track(t);
    return info ? info->start : m_tracks.front().start;
}

bool CDB::resolvePlay(u32 p1, u32 p2, char* text, std::size_t textSize)
{
    // Plays start and are clamped at the first track's start, not at the
    // session's first value: that is 0 on an image, whose 150 frames before
    // the first track hold nothing a program could read.
    const u32 firstFad = m_tracks.empty() ? kLeadInFrames : m_tracks.front().start;
    const u32 lastEnd = m_tracks.empty() ? kLeadInFrames : m_tracks.back().end;
    const PositionKind k1 = kindOf(p1);
    const PositionKind k2 = kindOf(p2);
    char startText[64];
    char endText[64];
    PlayPosition start = m_start;
    PlayPosition end = m_end;
    u32 startMode = start.mode;
    switch (k1) {
    case kDefault:
        // A track end gives a default start the track mode.
        startMode = k2 == kTrackIndex ? 1 : 0;
        start.set(startMode, firstFad);
        std::snprintf(startText, sizeof startText, "DFL: 150");
        break;
    case kNoChg: std::snprintf(startText, sizeof startText, "NOCHG: %d", start.fad); break;
    case kFad: {
        u32 fad = p1 & 0x7FFFFF;
        fad = fad < firstFad ? firstFad : fad > lastEnd + 1 ? lastEnd + 1 : fad;
        start.set(0, fad);
        startMode = 0;
        std::snprintf(startText, sizeof startText, "FAD: %d", fad);
        break;
    }
    case kTrackIndex: {
        u32 t, index;
        start.set(1, resolveStartTrack(p1, t, index));
        startMode = 1;
        std::snprintf(startText, sizeof startText, "TNO: %d:%d(%d:%d, %d)", (p1 >> 8) & 0xFF, p1 & 0xFF, t, index,
                      start.fad);
        break;
    }
    }
    switch (k2) {
    case kDefault:
        end.set(startMode, lastEnd);
        std::snprintf(endText, sizeof endText, "DFL: %d", end.fad);
        break;
    case kNoChg:
        if ((k1 == kFad && end.mode != 0) || (k1 == kTrackIndex && end.mode != 1))
            return false;
        std::snprintf(endText, sizeof endText, "NOCHG: %d", end.fad);
        break;
    case kFad: {
        if (!(k1 == kFad || k1 == kDefault || (k1 == kNoChg && start.mode == 0)))
            return false;
        const u32 count = p2 & 0x7FFFFF;
        const u64 last = u64{start.fad} + count - 1;
        end.set(0, static_cast<u32>(last < lastEnd ? last : lastEnd));
        std::snprintf(endText, sizeof endText, "fasnum: %d", count);
        break;
    }
    case kTrackIndex: {
        if (!(k1 == kTrackIndex || k1 == kDefault || (k1 == kNoChg && start.mode == 1)))
            return false;
        u32 t = (p2 >> 8) & 0xFF;
        u32 index = p2 & 0xFF;
        const u32 first = m_tracks.empty() ? 1 : m_tracks.front().number;
        const u32 last = m_tracks.empty() ? 1 : m_tracks.back().number;
        const bool pastLast = t > last;
        if (t == 0) {
            t = last;
        } else if (t < first || t > last) {
            t = t < first ? first : last;
            index = 99;
        }
        if (index < 1 || index > 99)
            index = 99;
        // Past the last track the play runs up to the lead-out, which is
        // not a sector of the disc.
        const Track* info = track(t);
        end.set(1, info && !pastLast ? info->end : m_leadOut > 0 ? m_leadOut - 1 : 0);
        if (k1 == kNoChg)
            std::snprintf(endText, sizeof endText, "TNO: %d:%d", (p2 >> 8) & 0xFF, p2 & 0xFF);
        else
            std::snprintf(endText, sizeof endText, "TNO: %d:%d(%d:%d, %d)", (p2 >> 8) & 0xFF, p2 & 0xFF, t, index,
                          end.fad);
        break;
    }
    }
    m_start = start;
    m_end = end;
    std::snprintf(text, textSize, "%s, %s", startText, endText);
    return true;
}

void CDB::CdPlay()
{
    const u32 p1 = cr1Cr2();
    const u32 p2 = cr3Cr4();
    const u8 m = hi(2);
    if (m_status == kNoDisc)
        openTray();
    char positions[160];
    const PlayPosition oldStart = m_start;
    const PlayPosition oldEnd = m_end;
    if (!resolvePlay(p1, p2, positions, sizeof positions)) {
        reject("CdPlay", "[pos1: %08X, pos2: %08X, mode: %02X]", p1, p2, m);
        return;
    }
    if (p1 == kNoChange && p2 == kNoChange && m == 0xFF) {
        if (m_targetFad >= m_start.fad && m_targetFad <= m_end.fad) {
            resumeDrive();
            logInfo(1, "%s<RESUME>", "CdPlay");
        } else {
            logDebug(1, "%s<OUT> [start: %d, end: %d, target: %d]", "CdPlay", m_start.fad, m_end.fad, m_targetFad);
        }
        reportStatus(0);
        return;
    }
    const u32 repeat = m & 0x7F;
    char repeatText[16];
    if (repeat <= 15) {
        m_repeatMax = repeat;
        std::snprintf(repeatText, sizeof repeatText, "%s", repeat == 15 ? "INFINITE" : repeat == 0 ? "NO" : "");
        if (repeat > 0 && repeat < 15)
            std::snprintf(repeatText, sizeof repeatText, "%d", repeat);
    } else if (repeat == 0x7F) {
        std::snprintf(repeatText, sizeof repeatText, "NOCHG(%d)", m_repeatMax);
    } else {
        m_start = oldStart;
        m_end = oldEnd;
        logWarning(1, "%s invalid repeat count [repeat: %02X]", "CdPlay", repeat);
        reject("CdPlay", "[pos1: %08X, pos2: %08X, mode: %02X]", p1, p2, m);
        return;
    }
    m_repeatCount = 0;
    const bool pickup = !(m & 0x80);
    if (pickup)
        m_targetFad = m_start.fad;
    const u32 count = m_end.fad + 1 > m_targetFad ? m_end.fad + 1 - m_targetFad : 0;
    playDrive(kPlainPlay, count);
    logInfo(1, "%s<BEGIN> [%s, pickup: %s, repeat: %s]", "CdPlay", positions, pickup ? "YES" : "NO", repeatText);
    reportStatus(0);
}

void CDB::CdSeek()
{
    const u32 p = cr1Cr2();
    if (m_status == kNoDisc)
        openTray();
    switch (kindOf(p)) {
    case kDefault:
        m_targetFad = 0;
        if (m_drive)
            m_drive->stop();
        seekTo(kStandby);
        logDebug(1, "%s<STOP>", "CdSeek");
        break;
    case kFad:
        if (m_drive)
            m_drive->pause(true);
        m_targetFad = p & 0x7FFFFF;
        seekTo(kPaused);
        logDebug(1, "%s [FAD: %d]", "CdSeek", m_targetFad);
        break;
    case kTrackIndex: {
        if (m_drive)
            m_drive->pause(true);
        u32 t, index;
        m_targetFad = resolveStartTrack(p, t, index);
        seekTo(kPaused);
        logDebug(1, "%s [TNO: %d:%d(%d:%d, %d)]", "CdSeek", (p >> 8) & 0xFF, p & 0xFF, t, index, m_targetFad);
        break;
    }
    case kNoChg:
        pauseDrive(false);
        logDebug(1, "%s<PAUSE>", "CdSeek");
        break;
    }
    reportStatus(0);
}

void CDB::CdScan()
{
    if (m_status == kNoDisc)
        openTray();
    m_scanDirection = lo(0);
    m_status = kScanning;
    reportStatus(0);
    logDebug(1, "CdScan [scandir: %s]", m_scanDirection == 0 ? "FWD" : m_scanDirection == 1 ? "RVS" : "");
}

void CDB::TgetScd()
{
    const u8 type = lo(0);
    if (type == 0) {
        const auto& q = m_subcodeQ;
        m_info[0] = static_cast<u16>(q.controlAdr << 8 | (q.track & 0xFF));
        m_info[1] = static_cast<u16>((q.index & 0xFF) << 8 | ((q.relative >> 16) & 0xFF));
        m_info[2] = static_cast<u16>(q.relative);
        m_info[3] = static_cast<u16>((q.absolute >> 16) & 0xFF);
        m_info[4] = static_cast<u16>(q.absolute);
        m_infoIndex = 0;
        m_infoCount = 5;
        answer(statusWord(), 5, 0, 0);
        setHirq(kDrdy);
        return;
    }
    if (type == 1) {
        // The drive passes no subcode, so no R-W pack is ever complete.
        wait("TgetScd", "[EMPTY]");
        return;
    }
    reject("TgetScd", "[type: %02X]", type);
}

// Codes 0x21 to 0x24 do nothing but say what they were given.
void CDB::undocumentedCommand(const char* name)
{
    logWarning(1, "%s [CR1: %04X, CR2: %04X, CR3: %04X, CR4: %04X, HIRQREQ: %04X, HIRQMSK: %04X]", name, word(0),
               word(1), word(2), word(3), m_hirqReq, m_hirqMask);
    reportStatus(0);
}

void CDB::Command21()
{
    undocumentedCommand("Command21");
}

void CDB::Command22()
{
    undocumentedCommand("Command22");
}

void CDB::Command23()
{
    undocumentedCommand("Command23");
}

void CDB::Command24()
{
    undocumentedCommand("Command24");
}

void CDB::CdSetCon()
{
    const u32 f = hi(2);
    if (f < kFilters) {
        pauseDrive(true);
        m_cdrom.output.disconnect();
        join(m_cdrom.output, m_filters[f]->input);
        logDebug(1, "%s [filtno: %d]", "CdSetCon", f);
    } else if (f == kNone) {
        pauseDrive(true);
        m_cdrom.output.disconnect();
        logDebug(1, "%s<DISCONNECT>", "CdSetCon");
    } else {
        reject("CdSetCon", "[filtno: %d]", f);
        return;
    }
    reportStatus(0);
    setHirq(kEsel);
}

void CDB::CdGetCon()
{
    const Connector* peer = m_cdrom.output.peer();
    const u32 f = peer ? peer->owner()->id() : kNone;
    answer(statusWord(), 0, static_cast<u16>(f << 8), 0);
    logDebug(1, "CdGetCon [filtno: %d]", f);
}

void CDB::CdGetLastBuf()
{
    answer(statusWord(), 0, static_cast<u16>(m_lastBuffer << 8), 0);
    logDebug(1, "CdGetLastBuf [bufno: %d]", m_lastBuffer);
}
