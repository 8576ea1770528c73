// The command table and the drive, status and information commands.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "cd/cdb/cdb.h"
#include "cd/cdb/mpeg_card.h"
#include "cd/drive/cd_drive.h"
#include "core/base/disc_header.h"

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

// ResetSelector's flags for every partition and filter reset.
constexpr u8 kEverySelector = 0xFC;

// The block answers most commands within 10 us; these take longer.
constexpr u32 kQuickNs = 10000;
constexpr u32 kRoutingNs = 30000;
constexpr u32 kFadSearchNs = 50000;
constexpr u32 kSelectorResetNs = 70000;
// Authentication: the pickup seeks to the disc's security area and reads
// it; the card answers in the same time.
constexpr u32 kAuthNs = 50000000;

}  // namespace

const CDB::CommandInfo& CDB::commandInfo(u8 code)
{
    // A code the block does not know is answered as quickly, by no handler.
    static constexpr CommandInfo kUnknown = {0, "", nullptr, kQuickNs};
    static constexpr CommandInfo kCommands[] = {
        {0x00, "GetCurStat", &CDB::GetCurStat, kQuickNs},
        {0x01, "GetHwInfo", &CDB::GetHwInfo, kQuickNs},
        {0x02, "TgetToc", &CDB::TgetToc, kQuickNs},
        {0x03, "GetSes", &CDB::GetSes, kQuickNs},
        {0x04, "CdInit", &CDB::CdInit, kQuickNs},
        {0x05, "CdOpen", &CDB::CdOpen, kQuickNs},
        {0x06, "DataEnd", &CDB::DataEnd, kQuickNs},
        {0x10, "CdPlay", &CDB::CdPlay, kQuickNs},
        {0x11, "CdSeek", &CDB::CdSeek, kQuickNs},
        {0x12, "CdScan", &CDB::CdScan, kQuickNs},
        {0x20, "TgetScd", &CDB::TgetScd, kQuickNs},
        {0x21, "Command21", &CDB::undocumentedCommand, kQuickNs},
        {0x22, "Command22", &CDB::undocumentedCommand, kQuickNs},
        {0x23, "Command23", &CDB::undocumentedCommand, kQuickNs},
        {0x24, "Command24", &CDB::undocumentedCommand, kQuickNs},
        {0x30, "CdSetCon", &CDB::CdSetCon, kRoutingNs},
        {0x31, "CdGetCon", &CDB::CdGetCon, kQuickNs},
        {0x32, "CdGetLastBuf", &CDB::CdGetLastBuf, kQuickNs},
        {0x40, "SetFiltRange", &CDB::SetFiltRange, kQuickNs},
        {0x41, "GetFiltRange", &CDB::GetFiltRange, kQuickNs},
        {0x42, "SetFiltSubh", &CDB::SetFiltSubh, kQuickNs},
        {0x43, "GetFiltSubh", &CDB::GetFiltSubh, kQuickNs},
        {0x44, "SetFiltMode", &CDB::SetFiltMode, kQuickNs},
        {0x45, "GetFiltMode", &CDB::GetFiltMode, kQuickNs},
        {0x46, "SetFiltCon", &CDB::SetFiltCon, kRoutingNs},
        {0x47, "GetFiltCon", &CDB::GetFiltCon, kQuickNs},
        {0x48, "ResetSelector", &CDB::ResetSelector, kSelectorResetNs},
        {0x50, "GetBufSiz", &CDB::GetBufSiz, kQuickNs},
        {0x51, "GetSctNum", &CDB::GetSctNum, kQuickNs},
        {0x52, "CalActSiz", &CDB::CalActSiz, kRoutingNs},
        {0x53, "GetActSiz", &CDB::GetActSiz, kQuickNs},
        {0x54, "GetSctInfo", &CDB::GetSctInfo, kQuickNs},
        {0x55, "ExeFadSearch", &CDB::ExeFadSearch, kFadSearchNs},
        {0x56, "GetFadSearch", &CDB::GetFadSearch, kQuickNs},
        {0x60, "SetSctLen", &CDB::SetSctLen, kQuickNs},
        {0x61, "GetSctData", &CDB::getSectorData<false>, kRoutingNs},
        {0x62, "DelSctData", &CDB::DelSctData, kRoutingNs},
        {0x63, "GetdelSctData", &CDB::getSectorData<true>, kRoutingNs},
        {0x64, "PutSctData", &CDB::PutSctData, kRoutingNs},
        {0x65, "CopySctData", &CDB::copySectorData<false>, kQuickNs},
        {0x66, "MoveSctData", &CDB::copySectorData<true>, kQuickNs},
        {0x67, "GetCopyErr", &CDB::GetCopyErr, kQuickNs},
        {0x70, "ChgDir", &CDB::ChgDir, kQuickNs},
        {0x71, "ReadDir", &CDB::ReadDir, kQuickNs},
        {0x72, "GetFileScope", &CDB::GetFileScope, kQuickNs},
        {0x73, "TgetFileInfo", &CDB::TgetFileInfo, kQuickNs},
        {0x74, "ReadFile", &CDB::ReadFile, kQuickNs},
        {0x75, "AbortFile", &CDB::AbortFile, kQuickNs},
        {0x90, "MpGetCurStat", &CDB::mpegHandler<&MpegCard::MpGetCurStat>, kQuickNs},
        {0x91, "MpGetInt", &CDB::mpegCommand, kQuickNs},
        {0x92, "MpSetIntMsk", &CDB::mpegCommand, kQuickNs},
        {0x93, "MpInit", &CDB::mpegHandler<&MpegCard::MpInit>, kQuickNs},
        {0x94, "MpSetMode", &CDB::mpegHandler<&MpegCard::MpSetMode>, kQuickNs},
        {0x95, "MpPlay", &CDB::mpegHandler<&MpegCard::MpPlay>, kQuickNs},
        {0x96, "MpSetDec", &CDB::mpegCommand, kQuickNs},
        {0x97, "MpOutDsync", &CDB::mpegCommand, kQuickNs},
        {0x98, "MpGetTc", &CDB::mpegCommand, kQuickNs},
        {0x99, "MpGetPts", &CDB::mpegCommand, kQuickNs},
        {0x9A, "MpSetCon", &CDB::mpegHandler<&MpegCard::MpSetCon>, kQuickNs},
        {0x9B, "MpGetCon", &CDB::mpegHandler<&MpegCard::MpGetCon>, kQuickNs},
        {0x9C, "MpChgCon", &CDB::mpegCommand, kQuickNs},
        {0x9D, "MpSetStm", &CDB::mpegCommand, kQuickNs},
        {0x9E, "MpGetStm", &CDB::mpegCommand, kQuickNs},
        {0x9F, "MpGetPictSiz", &CDB::mpegCommand, kQuickNs},
        {0xA0, "MpDisp", &CDB::mpegCommand, kQuickNs},
        {0xA1, "MpSetWin", &CDB::mpegHandler<&MpegCard::MpSetWin>, kQuickNs},
        {0xA2, "MpSetBcolor", &CDB::mpegCommand, kQuickNs},
        {0xA3, "MpSetFade", &CDB::mpegCommand, kQuickNs},
        {0xA4, "MpSetVeff", &CDB::mpegHandler<&MpegCard::MpSetVeff>, kQuickNs},
        {0xA5, "MpGetImg", &CDB::mpegCommand, kQuickNs},
        {0xA6, "MpSetImg", &CDB::mpegCommand, kQuickNs},
        {0xA7, "MpReadImg", &CDB::mpegCommand, kQuickNs},
        {0xA8, "MpWriteImg", &CDB::mpegCommand, kQuickNs},
        {0xA9, "MpReadSct", &CDB::mpegCommand, kQuickNs},
        {0xAA, "MpWriteSct", &CDB::mpegCommand, kQuickNs},
        {0xAE, "MpGetLsi", &CDB::mpegHandler<&MpegCard::MpGetLsi>, kQuickNs},
        {0xAF, "MpSetLsi", &CDB::mpegHandler<&MpegCard::MpSetLsi>, kQuickNs},
        {0xE0, "AuthDevice", &CDB::AuthDevice, kQuickNs},
        {0xE1, "GetAuthStatus", &CDB::GetAuthStatus, kQuickNs},
        {0xE2, "ReadMpRom", &CDB::mpegHandler<&MpegCard::ReadMpRom>, kQuickNs},
    };
    static_assert(std::size(kCommands) == 80, "one row per command code");
    static const std::array<u8, 256> rowOf = [] {
        std::array<u8, 256> rows;
        rows.fill(kNone);
        for (u8 i = 0; i < std::size(kCommands); ++i)
            rows[kCommands[i].code] = i;
        return rows;
    }();
    return rowOf[code] == kNone ? kUnknown : kCommands[rowOf[code]];
}

void CDB::GetCurStat()
{
    reportStatus(0);
}

void CDB::GetHwInfo()
{
    const u8 flags = m_mpegCard ? 0x02 : 0x00;
    answer(statusWord(), static_cast<u16>(flags << 8 | 1), m_mpegCard ? 1 : 0, 0x0400);
    logDebug(1, "%s", commandName());
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
    logDebug(1, "%s", commandName());
}

void CDB::GetSes()
{
    const u32 n = lo(0);
    if (m_status == kTrayOpen || m_status == kNoDisc) {
        wait("[sesno: %d]", n);
        return;
    }
    if (n > 99) {
        reject("[sesno: %d]", n);
        return;
    }
    answer(statusWord(), 0, 0xFFFF, 0xFFFF);
    const u32 sessions = m_tracks.empty() ? 0 : 1;
    if (n == 0) {
        m_cr[2] = static_cast<u16>(sessions << 8 | ((m_leadOut >> 16) & 0xFF));
        m_cr[3] = static_cast<u16>(m_leadOut);
        logInfo(1, "%s<TOTAL> [total: %d, leadout: %d]", commandName(), sessions, m_leadOut);
    } else if (n > sessions) {
        logInfo(1, "%s<EXCEED> [sesno: %d, total: %d]", commandName(), n, sessions);
    } else {
        // The session's own first value, not its first track's start: the
        // libraries find the volume descriptor at this value + 166.
        const Track& first = m_tracks.front();
        m_cr[2] = static_cast<u16>((first.number & 0xFF) << 8 | ((m_sessionFirst >> 16) & 0xFF));
        m_cr[3] = static_cast<u16>(m_sessionFirst);
        logInfo(1, "%s [sesno: %d, tno: %d, start: %d]", commandName(), n, first.number, m_sessionFirst);
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
    resetSelectors(kEverySelector);
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
        logInfo(1, "%s<RESET> [iflag: %02X, stnby: %04X, ecc: %02X, retry: %02X]", commandName(), f, t, e, r);
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
        logError(1, "%s: Invalid ECC Frequency settings", commandName());
    m_retryFrequency = r >= 0x80 ? 255 : r & 0x0F;
    if (r == 0x80)
        m_retryFrequency = 255;
    else if (r <= 15 || (r >= 0x41 && r <= 0x4F))
        m_retryFrequency = r;
    else if (r != 0x40 && r != 0xFF)
        logError(1, "%s: Invalid Retry Frequency settings", commandName());
    reportStatus(0);
    char flags[64];
    std::snprintf(flags, sizeof flags, "RW: %s, M2SB: %s, F2: %s, SPD: %s", yesNo(m_rw), yesNo(m_m2sb), yesNo(m_f2),
                  m_doubleSpeed ? "2X" : "1X");
    if (f & 0x80)
        logDebug(1, "%s [iflag: NOCHG(%s), stnby: %04X, ecc: %02X, retry: %02X]", commandName(), flags, t, e, r);
    else
        logDebug(1, "%s [iflag: %02X(%s), stnby: %04X, ecc: %02X, retry: %02X]", commandName(), f, flags, t, e, r);
}

void CDB::CdOpen()
{
    openTray();
    reportStatus(0);
    setHirq(kEfls | kDchg);
    logDebug(1, "%s", commandName());
}

void CDB::DataEnd()
{
    const u32 n = m_infoIndex;
    m_infoIndex = m_infoCount = 0;
    if (n == 0)
        answer(static_cast<u16>(statusWord() | 0xFF), 0xFFFF, 0, 0);
    else
        answer(static_cast<u16>(statusWord() | ((n >> 16) & 0xFF)), static_cast<u16>(n), 0, 0);
    logDebug(1, "%s [cdwnum: %d]", commandName(), n);
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

bool CDB::resolvePlay(u32 p1, u32 p2, char* text, std::size_t textSize, u32& pastEnd)
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
    pastEnd = 0;
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
        if (!m_tracks.empty() && fad > lastEnd)
            pastEnd = fad;
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
        if (!m_tracks.empty() && count > 0 && last > lastEnd && !pastEnd)
            pastEnd = std::max(start.fad, lastEnd + 1);
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
    u32 pastEnd = 0;
    if (!resolvePlay(p1, p2, positions, sizeof positions, pastEnd)) {
        reject("[pos1: %08X, pos2: %08X, mode: %02X]", p1, p2, m);
        return;
    }
    if (p1 == kNoChange && p2 == kNoChange && m == 0xFF) {
        if (m_targetFad >= m_start.fad && m_targetFad <= m_end.fad) {
            resumeDrive();
            logInfo(1, "%s<RESUME>", commandName());
        } else {
            logDebug(1, "%s<OUT> [start: %d, end: %d, target: %d]", commandName(), m_start.fad, m_end.fad, m_targetFad);
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
        logWarning(1, "%s invalid repeat count [repeat: %02X]", commandName(), repeat);
        reject("[pos1: %08X, pos2: %08X, mode: %02X]", p1, p2, m);
        return;
    }
    m_repeatCount = 0;
    const bool pickup = !(m & 0x80);
    if (pickup)
        m_targetFad = m_start.fad;
    const u32 count = m_end.fad + 1 > m_targetFad ? m_end.fad + 1 - m_targetFad : 0;
    playDrive(kPlainPlay, count);
    logInfo(1, "%s<BEGIN> [%s, pickup: %s, repeat: %s]", commandName(), positions, pickup ? "YES" : "NO", repeatText);
    if (pastEnd && m_drive && m_drive->getMedia())
        m_drive->getMedia()->notePastEnd(pastEnd);
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
        logDebug(1, "%s<STOP>", commandName());
        break;
    case kFad:
        m_targetFad = p & 0x7FFFFF;
        if (m_drive)
            m_drive->seek(m_targetFad);
        seekTo(kPaused);
        logDebug(1, "%s [FAD: %d]", commandName(), m_targetFad);
        break;
    case kTrackIndex: {
        u32 t, index;
        m_targetFad = resolveStartTrack(p, t, index);
        if (m_drive)
            m_drive->seek(m_targetFad);
        seekTo(kPaused);
        logDebug(1, "%s [TNO: %d:%d(%d:%d, %d)]", commandName(), (p >> 8) & 0xFF, p & 0xFF, t, index, m_targetFad);
        break;
    }
    case kNoChg:
        pauseDrive(false);
        logDebug(1, "%s<PAUSE>", commandName());
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
    logDebug(1, "%s [scandir: %s]", commandName(), m_scanDirection == 0 ? "FWD" : m_scanDirection == 1 ? "RVS" : "");
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
        wait("[EMPTY]");
        return;
    }
    reject("[type: %02X]", type);
}

// Codes 0x21 to 0x24 do nothing but say what they were given.
void CDB::undocumentedCommand()
{
    logWarning(1, "%s [CR1: %04X, CR2: %04X, CR3: %04X, CR4: %04X, HIRQREQ: %04X, HIRQMSK: %04X]", commandName(),
               word(0), word(1), word(2), word(3), m_hirqReq.bits(), m_hirqMask);
    reportStatus(0);
}

void CDB::CdSetCon()
{
    const u32 f = hi(2);
    if (f < kFilters) {
        pauseDrive(true);
        m_cdrom.output.disconnect();
        join(m_cdrom.output, m_filters[f]->input);
        logDebug(1, "%s [filtno: %d]", commandName(), f);
    } else if (f == kNone) {
        pauseDrive(true);
        m_cdrom.output.disconnect();
        logDebug(1, "%s<DISCONNECT>", commandName());
    } else {
        reject("[filtno: %d]", f);
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
    logDebug(1, "%s [filtno: %d]", commandName(), f);
}

void CDB::CdGetLastBuf()
{
    answer(statusWord(), 0, static_cast<u16>(m_lastBuffer << 8), 0);
    logDebug(1, "%s [bufno: %d]", commandName(), m_lastBuffer);
}

bool CDB::discInDrive() const
{
    if (!m_drive || !m_drive->getMedia())
        return false;
    const u32 state = m_drive->getState();
    return state != CDDrive::kSwitchedOff && state != CDDrive::kTrayOpen && state != CDDrive::kNoDisc;
}

// The answer comes at once; the end of the authentication raises EFLS for
// the disc, MPED for the MPEG card.
void CDB::AuthDevice()
{
    const u16 device = word(1);
    if (device != kAuthDisc && device != kAuthMpeg) {
        reject("[device: %04X]", device);
        return;
    }
    EventHandle& event = device == kAuthDisc ? m_discAuthEvent : m_mpegAuthEvent;
    cancelEvent(event);
    if (device == kAuthDisc && discInDrive()) {
        // The pickup leaves for the security area: a play stops, and the
        // block reports a seek until it is back, paused.
        cancelEvent(m_seekEvent);
        m_seekEvent = {};
        pauseDrive(true);
        m_driveState = kSeeking;
        m_seekTarget = kPaused;
    }
    event = schedule(kAuthNs, onAuthDone, 1, Scheduler::kOneShot, device);
    reportStatus(0);
    logInfo(1, "%s<BEGIN> [device: %s]", commandName(), device == kAuthDisc ? "CD" : "MPEG");
}

void CDB::onAuthDone(void* owner, u32 device)
{
    CDB& cdb = *static_cast<CDB*>(owner);
    if (device == kAuthMpeg) {
        cdb.m_mpegAuthEvent = {};
        cdb.m_mpegAuth = cdb.m_mpegCard ? kAuthMpegCard : kAuthNone;
        cdb.setHirq(kMpend);
        cdb.logInfo(1, "%s<END> [device: MPEG, result: %d]", "AuthDevice", cdb.m_mpegAuth);
        return;
    }
    cdb.m_discAuthEvent = {};
    cdb.m_discAuth = cdb.authenticateDisc();
    // Back where the block's position says; a play or seek asked for
    // meanwhile takes over from here.
    if (cdb.m_driveState == kSeeking && !scheduler().isPending(cdb.m_seekEvent)) {
        cdb.m_current.fad = cdb.m_targetFad;
        cdb.m_driveState = cdb.m_seekTarget;
    }
    cdb.setHirq(kEfls);
    cdb.logInfo(1, "%s<END> [device: CD, result: %d]", "AuthDevice", cdb.m_discAuth);
}

CDB::AuthResult CDB::authenticateDisc()
{
    if (!discInDrive())
        return kAuthNone;
    const SessionInfo* session = m_drive->getSession(0);
    if (!session || session->tracks.empty())
        return kAuthNone;
    const bool data = std::any_of(session->tracks.begin(), session->tracks.end(),
                                  [](const TrackInfo& t) { return t.controlAdr & 0x40; });
    if (!data)
        return kAuthAudio;
    // An image carries no security ring to tell a copy from a pressed
    // disc: its system area decides.
    SectorBuffer sector;
    if (!m_drive->readSectorNow(kLeadInFrames, sector) || sector.mode == SectorBuffer::kAudio ||
        SectorBuffer::userDataSize(sector.mode) < DiscHeader::kSize)
        return kAuthOtherData;
    return readDiscHeader(sector.userData()).hardwareId == "SEGA SEGASATURN" ? kAuthOriginal : kAuthOtherData;
}

void CDB::GetAuthStatus()
{
    const u16 device = word(1);
    if (device != kAuthDisc && device != kAuthMpeg) {
        reject("[device: %04X]", device);
        return;
    }
    const u8 result = device == kAuthDisc ? m_discAuth : m_mpegAuth;
    answer(statusWord(), result, 0, 0);
    logDebug(1, "%s [device: %s, result: %d]", commandName(), device == kAuthDisc ? "CD" : "MPEG", result);
}
