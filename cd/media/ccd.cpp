#include "cd/media/ccd.h"

#include <cerrno>
#include <cstdio>

#include "core/base/helpers.h"
#include "core/base/ini.h"
#include "core/base/object.h"
#include "core/base/file_io.h"

namespace {

constexpr const char* kTag = "CCD";
// A session has at most 99 tracks and three extra points; far more
// entries than any disc can have mean a broken description.
constexpr s32 kMaxEntries = 1024;
constexpr s32 kFirstTocPoint = 0xA0;
constexpr s32 kLastTocPoint = 0xA1;
constexpr s32 kLeadOutPoint = 0xA2;

}  // namespace

CCcd::CCcd(const std::string& path) : CCd(path)
{
    if (!load())
        fail(kTag);
}

std::istream* CCcd::locate(u32 fad, u32& sectorsLeft, u64& offset)
{
    position(fad, sectorsLeft, offset);
    return &m_data;
}

bool CCcd::load()
{
    if (m_size < 0)
        return false;

    SessionInfo session;
    bool leadOutSeen = false;
    {
        INI ini(m_path, true);
        const s32 entries = ini.findSection("Disc").findKey("TocEntries").getInt();
        if (entries < 0 || entries > kMaxEntries) {
            logSink().write(kLogError, kTag, "Bad TocEntries [count: %d]", entries);
            return false;
        }
        char name[32];
        for (s32 i = 0; i < entries; ++i) {
            std::snprintf(name, sizeof(name), "Entry %d", i);
            IniSection& entry = ini.findSection(name);
            const s32 point = entry.findKey("Point").getInt();
            if (point == kFirstTocPoint || point == kLastTocPoint)
                continue;
            const s64 plba = entry.findKey("PLBA").getInt();
            if (point == kLeadOutPoint) {
                if (plba < 0 || plba + kLeadInFrames > kMaxFad) {
                    logSink().write(kLogError, kTag, "Bad lead-out [PLBA: %lld]", static_cast<long long>(plba));
                    return false;
                }
                session.leadOut = static_cast<u32>(plba + kLeadInFrames);
                leadOutSeen = true;
                continue;
            }
            if (point < 1 || point > static_cast<s32>(kMaxTrack))
                continue;
            if (plba < 0 || plba + kLeadInFrames > kMaxFad) {
                logSink().write(kLogError, kTag, "Bad track start [track: %d, PLBA: %lld]", point,
                                static_cast<long long>(plba));
                return false;
            }
            TrackInfo track;
            const s32 adr = entry.findKey("ADR").getInt();
            const s32 control = entry.findKey("Control").getInt();
            track.controlAdr = static_cast<u8>((control << 4) + (adr & 15));
            track.number = static_cast<u32>(point);
            track.startFad = static_cast<u32>(plba + kLeadInFrames);
            track.pregapStart = track.startFad;
            track.sectorSize = SectorBuffer::kRawSize;
            track.fileOffset = static_cast<u64>(plba) * SectorBuffer::kRawSize;
            track.mode = SectorBuffer::kRaw;
            track.indexPoints.push_back({1, 0, 0, 0});
            session.tracks.push_back(std::move(track));
        }
    }
    session.first = 0;
    if (!leadOutSeen || !chainTrackEnds(session) || !isSane(session)) {
        logSink().write(kLogError, kTag, "Bad table of contents");
        return false;
    }

    const std::string dataPath = m_directory + m_fileName + ".img";
    errno = 0;
    if (isRegularFile(dataPath))
        m_data.open(dataPath, std::ios::in | std::ios::binary);
    if (!m_data.is_open()) {
        logSink().write(kLogError, kTag, "Failed to open file %s! [reason: %s]", dataPath.c_str(),
                        whyNotOpened(dataPath).c_str());
        return false;
    }
    const u64 have = fileSize(&m_data);
    const u64 need = u64{session.leadOut - kLeadInFrames} * SectorBuffer::kRawSize;
    if (have < need) {
        logSink().write(kLogError, kTag, "Data file is too short [size: %llu, need: %llu]",
                        static_cast<unsigned long long>(have), static_cast<unsigned long long>(need));
        return false;
    }

    m_sessions.push_back(std::move(session));
    detectRawModes();
    return true;
}
