#include "cd/media/cd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/base/helpers.h"
#include "core/base/object.h"
#include "core/base/file_io.h"

namespace {

constexpr const char* kTag = "Sector";

thread_local ReadNoteCollector* t_collector = nullptr;

}  // namespace

void ReadNote::write() const
{
    logSink().write(kind, tag, format, values[0], values[1], values[2]);
}

ReadNoteCollector::ReadNoteCollector(ReadNote* notes, u32 capacity)
    : m_notes(notes), m_capacity(capacity), m_outer(t_collector)
{
    t_collector = this;
}

ReadNoteCollector::~ReadNoteCollector()
{
    t_collector = m_outer;
}

void ReadNoteCollector::note(const ReadNote& note)
{
    ReadNoteCollector* collector = t_collector;
    if (collector && collector->m_count < collector->m_capacity)
        collector->m_notes[collector->m_count++] = note;
    else
        note.write();
}

CiFile::CiFile(const std::string& path) : m_path(path)
{
    const auto separator = path.find_last_of("\\/");
    const std::size_t nameAt = separator == std::string::npos ? 0 : separator + 1;
    m_directory = path.substr(0, nameAt);
    const auto dot = path.find_last_of('.');
    if (dot != std::string::npos && dot >= nameAt) {
        m_fileName = path.substr(nameAt, dot - nameAt);
        m_extension = path.substr(dot + 1);
    } else {
        m_fileName = path.substr(nameAt);
    }
    if (path.empty())
        return;
    // A FIFO would block the open, and a folder or a device is no image.
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (type != std::filesystem::file_type::regular) {
        m_openError = whyNotOpened(path);
        if (type != std::filesystem::file_type::not_found)
            logSink().write(kLogError, "Disc", "%s is not a regular file", path.c_str());
        return;
    }
    // Text and binary are the same on this host; sheets strip their own CR.
    errno = 0;
    m_file.open(path, std::ios::in | std::ios::binary);
    if (!m_file.is_open()) {
        m_openError = whyNotOpened(path);
        return;
    }
    m_size = static_cast<s64>(fileSize(&m_file));
    m_file.clear();
    m_file.seekg(0);
}

CCd::CCd(const std::string& path) : CiFile(path) {}

const SessionInfo* CCd::getSession(s32 index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_sessions.size())
        return nullptr;
    return &m_sessions[static_cast<std::size_t>(index)];
}

void CCd::notePastEnd(u32 fad)
{
    // A drive's disc has no path, and is never cut short.
    if (m_path.empty() || m_pastEndSaid)
        return;
    m_pastEndSaid = true;
    logSink().write(kLogWarning, "Disc",
                    "Sector past the end of the image [FAD: %u, path: %s]: the image may be cut short", fad,
                    m_path.c_str());
}

const TrackInfo* CCd::findTrack(u32 fad) const
{
    for (const SessionInfo& session : m_sessions) {
        for (const TrackInfo& track : session.tracks) {
            if (track.startFad <= fad && fad <= track.endFad)
                return &track;
        }
    }
    return nullptr;
}

const TrackInfo* CCd::servingTrack(u32 fad) const
{
    const TrackInfo* found = findTrack(fad);
    if (!found || m_sessions.empty())
        return nullptr;
    // The number comes from the description: it must name a track of the
    // list, and that track must reach the FAD, or the offsets would run
    // outside it.
    const auto& tracks = m_sessions.front().tracks;
    const u32 n = found->number;
    if (n == TrackInfo::kNoData || n < 1 || n > tracks.size())
        return nullptr;
    const TrackInfo* serving = &tracks[n - 1];
    if (fad < serving->startFad || fad > serving->endFad)
        return nullptr;
    return serving;
}

bool CCd::position(u32 fad, u32& sectorsLeft, u64& offset) const
{
    const TrackInfo* track = servingTrack(fad);
    if (!track)
        return false;
    sectorsLeft = track->endFad - fad + 1;
    offset = u64{fad - track->startFad} * static_cast<u64>(track->sectorSize) + track->fileOffset;
    return true;
}

std::istream* CCd::locate(u32 fad, u32& sectorsLeft, u64& offset)
{
    position(fad, sectorsLeft, offset);
    return nullptr;
}

u32 CCd::readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count)
{
    const TrackInfo* track = servingTrack(fad);
    if (!track) {
        // No data here: silence shaped like the track that comes next (or
        // the last one), then that track's own sectors for the rest of the
        // run, so the requested count holds real data wherever data exists.
        const TrackInfo* next = nullptr;
        const TrackInfo* last = nullptr;
        for (const SessionInfo& session : m_sessions) {
            for (const TrackInfo& t : session.tracks) {
                last = &t;
                if (t.startFad > fad && (!next || t.startFad < next->startFad))
                    next = &t;
            }
        }
        const TrackInfo* like = next ? next : last;
        mode = like ? like->mode : SectorBuffer::kAudio;
        size = like && SectorBuffer::isValidSize(like->sectorSize) ? like->sectorSize : SectorBuffer::kRawSize;
        const u32 gap = next ? std::min(count, next->startFad - fad) : count;
        // One line per sector, so the log names each FAD the drive hands out.
        for (u32 k = 0; k < gap; ++k) {
            const s32 at = static_cast<s32>(fad + k);
            ReadNoteCollector::note({fad + k, kLogWarning, kTag, "FAD is out of range! [FAD: %d]", {at}});
        }
        std::memset(destination, 0, std::size_t{count} * static_cast<std::size_t>(size));
        if (gap < count && next->sectorSize == size) {
            u32 nextMode = 0;
            s32 nextSize = 0;
            readSectors(destination + std::size_t{gap} * static_cast<std::size_t>(size), next->startFad, nextMode,
                        nextSize, count - gap);
        }
        return count;
    }

    mode = track->mode;
    size = track->sectorSize;
    u32 sectorsLeft = 0;
    u64 offset = 0;
    std::istream* stream = locate(fad, sectorsLeft, offset);
    count = std::min(count, sectorsLeft);
    if (!SectorBuffer::isValidSize(size)) {
        ReadNoteCollector::note({fad, kLogError, kTag, "Bad block size [size: %d, fad: %d, tno: %d]",
                                 {size, static_cast<s32>(fad), static_cast<s32>(track->number)}});
        size = SectorBuffer::kRawSize;
        std::memset(destination, 0, std::size_t{count} * static_cast<std::size_t>(size));
        return count;
    }

    const std::size_t bytes = std::size_t{count} * static_cast<std::size_t>(size);
    std::size_t got = 0;
    if (stream) {
        // A short read earlier leaves the stream failed; every read seeks afresh.
        stream->clear();
        if (stream->seekg(static_cast<std::streamoff>(offset))) {
            stream->read(reinterpret_cast<char*>(destination), static_cast<std::streamsize>(bytes));
            got = static_cast<std::size_t>(stream->gcount());
        }
        stream->clear();
    }
    // A truncated or missing data file gives zeros, never the previous contents.
    if (got < bytes)
        std::memset(destination + got, 0, bytes - got);
    return count;
}

u8* CCd::readSector(u32 fad, SectorBuffer& buffer)
{
    u32 mode = SectorBuffer::kRaw;
    s32 size = 0;
    if (readSectors(buffer.storage(), fad, mode, size, 1) == 0) {
        mode = SectorBuffer::kRaw;
        size = 0;
    }
    return buffer.set(mode, fad, size);
}

void CCd::detectRawModes()
{
    u8 sector[SectorBuffer::kMaxSize];
    for (SessionInfo& session : m_sessions) {
        for (TrackInfo& track : session.tracks) {
            if (track.sectorSize != SectorBuffer::kRawSize && track.sectorSize != SectorBuffer::kRawSubcodeSize)
                continue;
            u32 mode = 0;
            s32 size = 0;
            std::memset(sector, 0, sizeof(sector));
            readSectors(sector, track.startFad, mode, size, 1);
            track.mode = SectorBuffer::detectMode(sector);
            track.controlAdr = track.mode > SectorBuffer::kAudio ? TrackInfo::kDataTrack : TrackInfo::kAudioTrack;
            track.userDataSize = SectorBuffer::userDataSize(track.mode);
        }
    }
}

bool CCd::chainTrackEnds(SessionInfo& session)
{
    auto& tracks = session.tracks;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const u32 next = i + 1 < tracks.size() ? tracks[i + 1].startFad : session.leadOut;
        if (next <= tracks[i].startFad)
            return false;
        tracks[i].endFad = next - 1;
        tracks[i].pregapEnd = tracks[i].endFad;
    }
    return true;
}

bool CCd::isSane(const SessionInfo& session)
{
    if (session.tracks.empty() || session.tracks.size() > kMaxTrack)
        return false;
    u32 previousEnd = 0;
    bool firstTrack = true;
    for (const TrackInfo& track : session.tracks) {
        if (track.pregapStart > track.startFad || track.startFad > track.endFad || track.endFad > kMaxFad)
            return false;
        if (!firstTrack && track.startFad <= previousEnd)
            return false;
        previousEnd = track.endFad;
        firstTrack = false;
    }
    return session.leadOut > previousEnd && session.leadOut <= kMaxFad + 1;
}

void CCd::fail(const char* tag)
{
    logSink().write(kLogError, tag, "Failed to load! [path: %s, reason: %s]", m_path.c_str(),
                    m_openError.empty() ? "not a disc image of this kind" : m_openError.c_str());
    m_sessions.clear();
}
