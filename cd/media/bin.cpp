#include "cd/media/bin.h"

#include <array>

#include "core/base/helpers.h"
#include "core/base/object.h"

namespace {

constexpr const char* kTag = "BIN";
// Two raw sectors of the larger kind can tell the kinds apart by where the
// second sync pattern sits.
constexpr std::size_t kProbeBytes = 2464;

}  // namespace

CBin::CBin(const std::string& path) : CCd(path)
{
    if (!probe())
        fail(kTag);
}

std::istream* CBin::locate(u32 fad, u32& sectorsLeft, u64& offset)
{
    position(fad, sectorsLeft, offset);
    return &m_file;
}

bool CBin::readHead(u8* buffer, std::size_t bytes)
{
    m_file.clear();
    m_file.seekg(0);
    m_file.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(bytes));
    const bool ok = static_cast<std::size_t>(m_file.gcount()) == bytes;
    m_file.clear();
    return ok;
}

bool CBin::probe()
{
    const s64 s = m_size;
    if (s < 1)
        return false;

    constexpr s32 kSizes[] = {SectorBuffer::kCookedSize, SectorBuffer::kMode2Size, SectorBuffer::kRawSize,
                              SectorBuffer::kRawSubcodeSize};
    s32 divisor = 0;
    int divisors = 0;
    for (s32 size : kSizes) {
        if (s % size == 0) {
            divisor = size;
            ++divisors;
        }
    }

    std::array<u8, kProbeBytes> head{};
    s32 sectorSize;
    if (divisors == 1) {
        if (divisor == SectorBuffer::kMode2Size) {
            logSink().write(kLogError, kTag, "Doesn't support MODE0 [size: %d]", static_cast<s32>(s));
            return false;
        }
        if (divisor != SectorBuffer::kCookedSize && !readHead(head.data(), static_cast<std::size_t>(divisor)))
            return false;
        sectorSize = divisor;
    } else if (s < SectorBuffer::kCookedSize) {
        return false;
    } else if (s < SectorBuffer::kMode2Size) {
        sectorSize = SectorBuffer::kCookedSize;
    } else if (s < SectorBuffer::kRawSize) {
        sectorSize = SectorBuffer::kMode2Size;
    } else if (s < SectorBuffer::kRawSubcodeSize) {
        sectorSize = SectorBuffer::kRawSize;
    } else if (s < static_cast<s64>(kProbeBytes)) {
        if (!readHead(head.data(), SectorBuffer::kRawSubcodeSize))
            return false;
        sectorSize = SectorBuffer::hasSync(&head[SectorBuffer::kRawSize]) ? SectorBuffer::kRawSize
                                                                            : SectorBuffer::kRawSubcodeSize;
    } else {
        if (!readHead(head.data(), kProbeBytes))
            return false;
        if (SectorBuffer::hasSync(&head[SectorBuffer::kRawSize]))
            sectorSize = SectorBuffer::kRawSize;
        else if (SectorBuffer::hasSync(&head[SectorBuffer::kRawSubcodeSize]))
            sectorSize = SectorBuffer::kRawSubcodeSize;
        else
            sectorSize = SectorBuffer::kCookedSize;
    }

    const s64 sectors = s / sectorSize;
    if (sectors < 1 || sectors + kLeadInFrames > static_cast<s64>(kMaxFad))
        return false;
    const u32 end = static_cast<u32>(sectors) + kLeadInFrames;

    TrackInfo track;
    track.indexPoints.push_back({1, 0, 0, 0});
    track.controlAdr = TrackInfo::kDataTrack;
    track.pregapStart = kLeadInFrames;
    track.startFad = kLeadInFrames;
    track.endFad = end - 1;
    track.pregapEnd = track.endFad;
    track.fileOffset = 0;
    track.number = 1;
    track.sectorSize = sectorSize;
    track.userDataSize = SectorBuffer::kCookedSize;
    track.mode = SectorBuffer::kMode1;

    SessionInfo session;
    session.first = 0;
    session.leadOut = end;
    session.tracks.push_back(track);
    m_sessions.push_back(std::move(session));
    return true;
}
