#include "cd/media/sector_buffer.h"

#include <cstring>

#include "core/base/helpers.h"

namespace {

constexpr u8 kSync[SectorBuffer::kSyncBytes] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Header mode bytes of a raw sector.
constexpr u8 kHeaderMode1 = 1;
constexpr u8 kHeaderMode2 = 2;
constexpr u32 kHeaderModeOffset = 15;
constexpr u32 kSubmodeOffset = 18;
constexpr u8 kSubmodeForm2 = 0x20;

}  // namespace

void SectorBuffer::init()
{
    size = kRawSize;
    mode = kRaw;
    fad = 0;
    data = m_storage;
    std::memset(header, 0, sizeof(header));
    std::memset(m_storage, 0, sizeof(m_storage));
}

u8* SectorBuffer::set(u32 newMode, u32 newFad, s32 newSize, u8* newData)
{
    mode = newMode;
    fad = newFad;
    size = newSize;
    data = newData ? newData : m_storage;
    return data;
}

u32 SectorBuffer::userDataOffset(s32 size, u32 mode)
{
    const bool form = mode == kForm1 || mode == kForm2;
    switch (size) {
    case kRawSize:
    case kRawSubcodeSize:
        if (mode == kAudio || mode > kForm2)
            return 0;
        return form ? kHeaderBytes + kSubheaderBytes : kHeaderBytes;
    case kMode2Size:
        return form ? kSubheaderBytes : 0;
    default:
        return 0;
    }
}

u32 SectorBuffer::userDataSize(u32 mode)
{
    switch (mode) {
    case kAudio: return kRawSize;
    case kRaw:
    case kMode2: return kMode2Size;
    case kMode1:
    case kForm1: return kCookedSize;
    case kForm2: return kForm2Size;
    default: return 0;
    }
}

bool SectorBuffer::isValidSize(s32 size)
{
    return size == kCookedSize || size == kForm2Size || size == kMode2Size || size == kRawSize ||
           size == kRawSubcodeSize;
}

const u8* SectorBuffer::syncPattern()
{
    return kSync;
}

bool SectorBuffer::hasSync(const u8* bytes)
{
    return std::memcmp(bytes, kSync, kSyncBytes) == 0;
}

u32 SectorBuffer::detectMode(const u8* raw)
{
    if (!hasSync(raw))
        return kAudio;
    switch (raw[kHeaderModeOffset]) {
    case 0: return kRaw;
    case kHeaderMode1: return kMode1;
    case kHeaderMode2: return (raw[kSubmodeOffset] & kSubmodeForm2) ? kForm2 : kForm1;
    default: return kRaw;
    }
}

void SectorBuffer::writeHeader(u8* destination, u32 fad, u8 headerMode)
{
    u32 minute, second, frame;
    sectorToMsf(fad, minute, second, frame);
    std::memset(destination, 0, kSyncBytes);
    destination[12] = static_cast<u8>(toBcd(minute, true));
    destination[13] = static_cast<u8>(toBcd(second, true));
    destination[14] = static_cast<u8>(toBcd(frame, true));
    destination[15] = headerMode;
}

bool SectorBuffer::toRaw(u8* destination) const
{
    if (size == kRawSize || size == kRawSubcodeSize) {
        std::memcpy(destination, data, kRawSize);
        return true;
    }
    // A 2336-byte sector is everything behind the header, subheader and
    // error-correction bytes included, whatever its form.
    if (size == kMode2Size) {
        writeHeader(destination, fad, kHeaderMode2);
        std::memcpy(destination + kHeaderBytes, data, kMode2Size);
        return true;
    }
    u32 dataAt;
    u32 length;
    u8 headerMode;
    u8 submode = 0;
    if (size == kCookedSize && mode == kMode1) {
        dataAt = kHeaderBytes;
        length = kCookedSize;
        headerMode = kHeaderMode1;
    } else if (size == kCookedSize && mode == kForm1) {
        dataAt = kHeaderBytes + kSubheaderBytes;
        length = kCookedSize;
        headerMode = kHeaderMode2;
    } else if (size == kForm2Size && mode == kForm2) {
        dataAt = kHeaderBytes + kSubheaderBytes;
        length = kForm2Size;
        headerMode = kHeaderMode2;
        submode = kSubmodeForm2;
    } else {
        return false;
    }
    // EDC and ECC are left zero: nothing downstream checks them.
    std::memset(destination, 0, kRawSize);
    writeHeader(destination, fad, headerMode);
    // The subheader is stored twice; its form bit tells a reader the layout.
    if (submode) {
        destination[kSubmodeOffset] = submode;
        destination[kSubmodeOffset + 4] = submode;
    }
    std::memcpy(destination + dataAt, data, length);
    return true;
}
