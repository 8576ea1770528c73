#include "cd/media/mds.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/base/helpers.h"
#include "core/base/object.h"
#include "core/base/file_io.h"

namespace {

constexpr const char* kTag = "MDS";
constexpr char kSignature[] = "MEDIA DESCRIPTOR";
constexpr std::size_t kSignatureBytes = 16;
constexpr std::size_t kHeaderBytes = 88;
constexpr std::size_t kSessionBytes = 24;
constexpr std::size_t kDataBlockBytes = 80;
constexpr u8 kMediumRefused = 0x10;

u16 le16(const u8* p) { return static_cast<u16>(p[0] | p[1] << 8); }
u32 le32(const u8* p) { return u32{p[0]} | u32{p[1]} << 8 | u32{p[2]} << 16 | u32{p[3]} << 24; }

// The record of that size at offset, if the description holds it whole.
const u8* recordAt(const std::vector<u8>& file, u64 offset, std::size_t bytes)
{
    return offset <= file.size() && bytes <= file.size() - offset ? file.data() + offset : nullptr;
}

// A sector number of the description as a FAD, if it is one.
bool toFad(s32 sector, u32& fad)
{
    const s64 value = s64{sector} + kLeadInFrames;
    if (value < 0 || value > static_cast<s64>(CCd::kMaxFad))
        return false;
    fad = static_cast<u32>(value);
    return true;
}

bool applyMode(u8 code, TrackInfo& track)
{
    switch (code) {
    case 0xA9: case 0xE9: track.mode = SectorBuffer::kAudio; break;
    case 0xAA: case 0xEA: track.mode = SectorBuffer::kMode1; break;
    case 0xAB: case 0xEB: track.mode = SectorBuffer::kMode2; break;
    case 0xAC: case 0xEC: track.mode = SectorBuffer::kForm1; break;
    case 0xAD: case 0xED: track.mode = SectorBuffer::kForm2; break;
    default:
        logSink().write(kLogError, kTag, "Unknown mode [mode: %02X]", code);
        track.userDataSize = 0;
        return false;
    }
    track.userDataSize = SectorBuffer::userDataSize(track.mode);
    return true;
}

}  // namespace

CMds::CMds(const std::string& path) : CCd(path)
{
    if (!load())
        fail(kTag);
}

std::istream* CMds::locate(u32 fad, u32& sectorsLeft, u64& offset)
{
    position(fad, sectorsLeft, offset);
    return &m_data;
}

bool CMds::load()
{
    if (m_size < 0)
        return false;
    if (m_size > static_cast<s64>(kMaxDescriptionBytes)) {
        logSink().write(kLogError, kTag, "Description is too large [size: %lld]", static_cast<long long>(m_size));
        return false;
    }
    // Small enough to be read whole, which spares a seek per record.
    std::vector<u8> file(static_cast<std::size_t>(m_size));
    m_file.read(reinterpret_cast<char*>(file.data()), m_size);
    if (m_file.gcount() != m_size)
        return false;
    const u8* header = recordAt(file, 0, kHeaderBytes);
    if (!header || std::memcmp(header, kSignature, kSignatureBytes) != 0 || header[16] > 1 ||
        (header[18] & kMediumRefused))
        return false;

    // Every session holds at least one track, so no disc has more sessions
    // than tracks.
    const u32 sessions = le16(header + 20);
    if (sessions > kMaxTrack) {
        logSink().write(kLogError, kTag, "Too many sessions [count: %u]", sessions);
        return false;
    }
    const u64 sessionsAt = le32(header + 80);
    SessionInfo out;
    for (u32 i = 0; i < sessions; ++i) {
        const u8* block = recordAt(file, sessionsAt + u64{kSessionBytes} * i, kSessionBytes);
        if (!block)
            return false;
        const u32 blocks = block[10];
        const u8 firstTrack = block[12];
        const u8 endTrack = static_cast<u8>(block[14] + 1);
        const u64 blocksAt = le32(block + 20);
        for (u32 j = 0; j < blocks; ++j) {
            const u8* data = recordAt(file, blocksAt + u64{kDataBlockBytes} * j, kDataBlockBytes);
            if (!data)
                return false;
            const u8 point = data[4];
            if (point < firstTrack || point >= endTrack)
                continue;
            if (out.tracks.size() >= kMaxTrack) {
                logSink().write(kLogError, kTag, "Too many tracks [count: %u]", static_cast<u32>(out.tracks.size()) + 1);
                return false;
            }
            TrackInfo track;
            track.mode = SectorBuffer::kRaw;
            applyMode(data[0], track);
            track.controlAdr = static_cast<u8>(data[2] << 4 | data[2] >> 4);
            track.number = point;
            track.sectorSize = le16(data + 16);
            if (!toFad(static_cast<s32>(le32(data + 36)), track.startFad)) {
                logSink().write(kLogError, kTag, "Bad track start [track: %d]", point);
                return false;
            }
            track.pregapStart = track.startFad;
            track.fileOffset = le32(data + 40);
            track.indexPoints.push_back({1, 0, 0, 0});
            out.tracks.push_back(std::move(track));
        }
        if (!toFad(static_cast<s32>(le32(block)), out.first) || !toFad(static_cast<s32>(le32(block + 4)), out.leadOut)) {
            logSink().write(kLogError, kTag, "Bad session bounds [session: %u]", i + 1);
            return false;
        }
    }
    if (!chainTrackEnds(out) || !isSane(out)) {
        logSink().write(kLogError, kTag, "Bad table of contents");
        return false;
    }

    const std::string dataPath = m_directory + m_fileName + ".mdf";
    errno = 0;
    if (isRegularFile(dataPath))
        m_data.open(dataPath, std::ios::in | std::ios::binary);
    if (!m_data.is_open()) {
        logSink().write(kLogError, kTag, "Failed to open file %s! [reason: %s]", dataPath.c_str(),
                        whyNotOpened(dataPath).c_str());
        return false;
    }
    const u64 have = fileSize(&m_data);
    for (const TrackInfo& track : out.tracks) {
        if (!SectorBuffer::isValidSize(track.sectorSize))
            continue;  // refused with its own message when read
        const u64 need = track.fileOffset + u64{track.endFad - track.startFad + 1} * static_cast<u64>(track.sectorSize);
        if (have < need) {
            logSink().write(kLogError, kTag, "Data file is too short [size: %llu, need: %llu]",
                            static_cast<unsigned long long>(have), static_cast<unsigned long long>(need));
            return false;
        }
    }

    m_sessions.push_back(std::move(out));
    detectRawModes();
    return true;
}
