#pragma once

#include "core/base/types.h"

// One disc sector as it travels through the system: either in its own
// storage or pointing into a buffer elsewhere (a read-ahead buffer of the
// drive), with its FAD and how its bytes are laid out.
class SectorBuffer {
public:
    enum Mode : u32 {
        kAudio = 0,
        kRaw = 1,    // mode 0 header
        kMode1 = 2,
        kMode2 = 3,  // formless
        kForm1 = 4,
        kForm2 = 5,
    };

    static constexpr s32 kCookedSize = 2048;
    static constexpr s32 kForm2Size = 2324;
    static constexpr s32 kMode2Size = 2336;
    static constexpr s32 kRawSize = 2352;
    static constexpr s32 kRawSubcodeSize = 2448;
    static constexpr s32 kMaxSize = kRawSubcodeSize;
    static constexpr u32 kSyncBytes = 12;
    static constexpr u32 kHeaderBytes = 16;
    static constexpr u32 kSubheaderBytes = 8;

    SectorBuffer() = default;

    // A fresh record: a zeroed raw sector of mode 1 in its own storage.
    void init();
    u8* set(u32 mode, u32 fad, s32 size, u8* data = nullptr);
    u8* storage() { return m_storage; }
    u8* userData() const { return data + userDataOffset(size, mode); }

    // Builds the 2352-byte raw form of the sector. False, with the
    // destination untouched, for a size and mode that have no raw form.
    bool toRaw(u8* destination) const;

    static u32 userDataOffset(s32 size, u32 mode);
    // User bytes per sector of a track of that mode.
    static u32 userDataSize(u32 mode);
    static bool isValidSize(s32 size);
    static const u8* syncPattern();
    static bool hasSync(const u8* bytes);
    // The mode of a raw sector from its sync, header and subheader.
    static u32 detectMode(const u8* rawSector);
    // The 16-byte header of a raw sector at fad: sync left zero, the
    // address in BCD and the header mode byte.
    static void writeHeader(u8* destination, u32 fad, u8 headerMode);

    s32 size = 0;
    u8* data = m_storage;
    u32 fad = 0;
    u32 mode = 0;
    u8 header[kHeaderBytes] = {};

private:
    u8 m_storage[kMaxSize];
};
