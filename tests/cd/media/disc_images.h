#pragma once

// Disc images for the reader tests, built from the ECMA-130 sector layout
// (sync, BCD address, mode byte, subheader) independently of the readers.
// EDC and ECC stay zero: no reader checks them.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cd/media/cd.h"
#include "core/base/types.h"
#include "support/files.h"

namespace disc {

constexpr u32 kCooked = 2048;
constexpr u32 kRaw = 2352;
constexpr u32 kSubcode = 2448;

inline u8 bcd(u32 v)
{
    return static_cast<u8>((v / 10) << 4 | (v % 10));
}

// A raw sector of the given mode code; user holds the sector's user data
// (2352 bytes of samples for audio, 2048 for mode 1 and form 1, 2324 for
// form 2, 2336 for formless mode 2). The subheader of form 1 and 2 is
// written by hand, so form 2 sets its submode bit 5.
inline std::vector<u8> rawSector(u32 fad, u32 mode, const u8* user)
{
    std::vector<u8> s(kRaw, 0);
    if (mode == 0) {
        std::memcpy(s.data(), user, kRaw);
        return s;
    }
    s[0] = 0x00;
    for (int i = 1; i <= 10; ++i)
        s[i] = 0xFF;
    s[11] = 0x00;
    s[12] = bcd(fad / 4500);
    s[13] = bcd(fad / 75 % 60);
    s[14] = bcd(fad % 75);
    switch (mode) {
    case 2:
        s[15] = 1;
        std::memcpy(&s[16], user, 2048);
        break;
    case 3:
        s[15] = 2;
        std::memcpy(&s[16], user, 2336);
        break;
    case 4:
        s[15] = 2;
        s[18] = s[22] = 0x08;  // data
        std::memcpy(&s[24], user, 2048);
        break;
    case 5:
        s[15] = 2;
        s[18] = s[22] = 0x20;  // form 2
        std::memcpy(&s[24], user, 2324);
        break;
    default:
        s[15] = 0;
        break;
    }
    return s;
}

// Mode 1 raw sectors carrying a cooked image, with 96 zero subchannel
// bytes after each when subcode is set.
inline std::vector<u8> rawFromCooked(const std::vector<u8>& cooked, u32 firstFad, bool subcode = false)
{
    std::vector<u8> out;
    const u32 sectors = static_cast<u32>(cooked.size() / kCooked);
    out.reserve(std::size_t{sectors} * (subcode ? kSubcode : kRaw));
    for (u32 i = 0; i < sectors; ++i) {
        auto s = rawSector(firstFad + i, 2, &cooked[std::size_t{i} * kCooked]);
        out.insert(out.end(), s.begin(), s.end());
        if (subcode)
            out.insert(out.end(), kSubcode - kRaw, 0);
    }
    return out;
}

// Audio sectors of a recognisable pattern that never forms a sync.
inline std::vector<u8> audio(u32 sectors, u8 seed)
{
    std::vector<u8> out(std::size_t{sectors} * kRaw);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<u8>(seed + i * 7 + (i >> 11));
    return out;
}

inline void writeFile(const std::string& path, const std::vector<u8>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline void append(std::vector<u8>& to, const std::vector<u8>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// An ISO 9660 image of tests/cd/media/data, made by xorriso.
inline std::vector<u8> buildIso(const TempDir& dir)
{
    const std::string out = dir.file("fixture.iso");
    const std::string command = "xorriso -as mkisofs -quiet -V KEST_FIXTURE -o '" + out + "' '" +
                                std::string(KEST_SOURCE_DIR) + "/tests/cd/media/data' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return {};
    return readBytes(out);
}

// User data of count sectors from fad, read one sector at a time through
// the record, as the CD block and the BIOS see it.
inline std::vector<u8> userData(CCd& cd, u32 fad, u32 count, u32 bytesPerSector = kCooked)
{
    std::vector<u8> out;
    SectorBuffer sector;
    for (u32 i = 0; i < count; ++i) {
        cd.readSector(fad + i, sector);
        const u8* user = sector.userData();
        out.insert(out.end(), user, user + bytesPerSector);
    }
    return out;
}

// Whole stored sectors from fad, as the readers keep them.
inline std::vector<u8> sectors(CCd& cd, u32 fad, u32 count)
{
    std::vector<u8> out;
    SectorBuffer sector;
    for (u32 i = 0; i < count; ++i) {
        cd.readSector(fad + i, sector);
        out.insert(out.end(), sector.data, sector.data + sector.size);
    }
    return out;
}

// One ISO built by xorriso for a whole suite; each test gets its own folder.
class IsoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        s_iso = new std::vector<u8>(buildIso(*s_dir));
    }
    static void TearDownTestSuite()
    {
        delete s_iso;
        delete s_dir;
        s_iso = nullptr;
        s_dir = nullptr;
    }
    void SetUp() override { ASSERT_GT(s_iso->size(), 16u * kCooked) << "xorriso did not build the fixture"; }

    static const std::vector<u8>& iso() { return *s_iso; }
    static u32 isoSectors() { return static_cast<u32>(s_iso->size() / kCooked); }

    static inline TempDir* s_dir = nullptr;
    static inline std::vector<u8>* s_iso = nullptr;
    TempDir m_dir;
};

}  // namespace disc
