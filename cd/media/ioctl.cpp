#include "cd/media/ioctl.h"

#include <algorithm>
#include <cstring>

#include "core/base/helpers.h"
#include "core/base/object.h"

namespace {

constexpr const char* kTag = "IOCTL";

constexpr u8 kInquiry = 0x12;
constexpr u8 kReadToc = 0x43;
constexpr u8 kGetEventStatus = 0x4A;
constexpr u8 kReadCd = 0xBE;
constexpr u8 kCdDeviceType = 0x05;
constexpr u8 kLeadOutTrack = 0xAA;
constexpr u32 kInquiryTimeoutSeconds = 10;
constexpr u32 kTocTimeoutSeconds = 30;
// Sync, all headers, user data and error correction: the full 2352 bytes.
constexpr u8 kReadCdAllBytes = 0xF8;

void putBigEndian(u8* at, u32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        at[i] = static_cast<u8>(value);
}

}  // namespace

CIoctl::CIoctl(std::unique_ptr<ScsiTransport> transport) : m_transport(std::move(transport)) {}

CIoctl::~CIoctl()
{
    close();
}

bool CIoctl::open(const std::string& device)
{
    close();
    m_sessions.clear();
    if (!m_transport || !m_transport->open(device)) {
        const std::string why = m_transport ? m_transport->lastError() : "no way to reach drives";
        logSink().write(kLogError, kTag, "Cannot open the drive [%s, reason: %s]", device.c_str(),
                        why.empty() ? "unknown" : why.c_str());
        return false;
    }
    if (!isCdDrive()) {
        logSink().write(kLogError, kTag, "Not a CD drive");
        close();
        return false;
    }
    if (!readToc()) {
        logSink().write(kLogError, kTag, "No readable disc in the drive [%s]", device.c_str());
        close();
        return false;
    }
    detectRawModes();
    return true;
}

void CIoctl::close()
{
    std::lock_guard lock(m_mutex);
    if (m_transport && m_transport->isOpen())
        m_transport->close();
}

bool CIoctl::isCdDrive()
{
    u8 cdb[6] = {kInquiry, 0, 0, 0, kInquiryBytes, 0};
    u8 reply[kInquiryBytes] = {};
    u32 got = 0;
    std::lock_guard lock(m_mutex);
    return m_transport->execute(cdb, sizeof cdb, reply, sizeof reply, kInquiryTimeoutSeconds, got) && got >= 1 &&
           (reply[0] & 0x1F) == kCdDeviceType;
}

bool CIoctl::readToc()
{
    // Format 0 with MSF addresses, from the first track on.
    u8 cdb[10] = {kReadToc, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
    putBigEndian(cdb + 7, kTocBytes, 2);
    u8 toc[kTocBytes] = {};
    u32 got = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_transport->execute(cdb, sizeof cdb, toc, sizeof toc, kTocTimeoutSeconds, got))
            return false;
    }
    return parseToc(toc, std::min(got, kTocBytes));
}

bool CIoctl::parseToc(const u8* toc, u32 length)
{
    m_sessions.clear();
    if (length < 4)
        return false;
    // The drive's own length field counts the bytes after itself; only
    // what was both promised and received is read.
    const u32 claimed = (u32{toc[0]} << 8 | toc[1]) + 2;
    length = std::min(length, claimed);
    const u32 first = toc[2];
    const u32 last = toc[3];
    if (first < 1 || last < first || last > kMaxTrack)
        return false;
    const u32 tracks = last - first + 1;
    // Every track's entry and the lead-out's after them.
    if (4 + (tracks + 1) * kTocEntryBytes > length)
        return false;
    const auto fadOf = [](const u8* entry) { return msfToSector(entry[5], entry[6], entry[7]); };
    SessionInfo session;
    for (u32 i = 0; i < tracks; ++i) {
        const u8* entry = toc + 4 + i * kTocEntryBytes;
        TrackInfo track;
        // READ TOC gives ADR high and control low; tracks keep control high.
        track.controlAdr = static_cast<u8>(entry[1] << 4 | entry[1] >> 4);
        track.number = entry[2];
        track.startFad = fadOf(entry);
        track.pregapStart = track.startFad;
        track.sectorSize = SectorBuffer::kRawSize;
        track.mode = SectorBuffer::kMode1;
        track.userDataSize = SectorBuffer::userDataSize(track.mode);
        session.tracks.push_back(track);
    }
    const u8* leadOut = toc + 4 + tracks * kTocEntryBytes;
    if (leadOut[2] != kLeadOutTrack)
        return false;
    session.leadOut = fadOf(leadOut);
    session.first = session.tracks[0].startFad - kLeadInFrames;
    if (!chainTrackEnds(session) || !isSane(session))
        return false;
    m_sessions.push_back(std::move(session));
    return true;
}

u32 CIoctl::readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count)
{
    size = SectorBuffer::kRawSize;
    const TrackInfo* track = findTrack(fad);
    if (!track) {
        // Silence, as from an image: answering nothing would have the drive
        // ask for the same FAD again on every step.
        return CCd::readSectors(destination, fad, mode, size, count);
    }
    mode = track->mode;
    // One track at a time: the sectors of the next may be of another kind.
    count = std::min(count, track->endFad - fad + 1);
    u8 cdb[12] = {kReadCd, 0, 0, 0, 0, 0, 0, 0, 0, kReadCdAllBytes, 0, 0};
    putBigEndian(cdb + 2, fadToLba(fad), 4);
    putBigEndian(cdb + 6, count, 3);
    const u32 bytes = count * SectorBuffer::kRawSize;
    u32 got = 0;
    std::lock_guard lock(m_mutex);
    if (!m_transport->isOpen() ||
        !m_transport->execute(cdb, sizeof cdb, destination, bytes, kReadTimeoutSeconds, got) || got < bytes) {
        ReadNoteCollector::note({fad, kLogError, kTag, "Failed to read sector", {}});
        return 0;
    }
    return count;
}

u32 CIoctl::getMediaStatus()
{
    // Polled, media event class, 8 bytes.
    u8 cdb[10] = {kGetEventStatus, 0x01, 0, 0, 0x10, 0, 0, 0, kEventBytes, 0};
    u8 reply[kEventBytes] = {};
    u32 got = 0;
    std::lock_guard lock(m_mutex);
    if (!m_transport->isOpen() || !m_transport->execute(cdb, sizeof cdb, reply, sizeof reply, kEventTimeoutSeconds, got)) {
        logSink().write(kLogError, kTag, "%s", m_transport->lastError().c_str());
        return kUnknown;
    }
    if (got < 6)
        return kUnknown;
    switch (reply[5]) {
    case 0: return kNoMedium;
    case 1: return kTrayOpen;
    case 2: return kMediumPresent;
    default: return kUnknown;
    }
}
