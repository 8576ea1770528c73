#pragma once

#include <istream>
#include <string>
#include <string_view>

#include "core/base/types.h"

// Decimal digits of value, least significant first: four bits each when
// packed, else a byte each.
u32 toBcd(u32 value, bool packed);

// Disc addresses: 75 frames a second, and the first data sector (LBA 0)
// sits behind the two-second lead-in gap at FAD 150.
constexpr u32 kFramesPerSecond = 75;
constexpr u32 kFramesPerMinute = 60 * kFramesPerSecond;
constexpr u32 kLeadInFrames = 150;

constexpr u32 fadToLba(u32 fad) { return fad - kLeadInFrames; }
constexpr u32 lbaToFad(u32 lba) { return lba + kLeadInFrames; }
void sectorToMsf(u32 sector, u32& minute, u32& second, u32& frame);
constexpr u32 msfToSector(u32 minute, u32 second, u32 frame)
{
    return (minute * 60 + second) * kFramesPerSecond + frame;
}

void zeroFill(void* data, s32 length);

u64 fileSize(std::istream* stream);
bool fileExists(const std::string& path);
bool createEmptyFile(const std::string& path);
// Replaces the file whole; the old contents survive a failed write.
bool saveFile(const std::string& path, const void* data, u32 size);

// A path of at most length bytes: its start and its end (the file name,
// whole when it leaves room for the start) with "..." between, cut only
// between UTF-8 characters. A path that fits is answered whole; a text
// without '/' loses its middle.
std::string shortenPath(std::string_view path, std::size_t length);

std::string& toLower(std::string& text);
std::string& toUpper(std::string& text);
const char* toTrueFalse(bool value);
const char* toOnOff(bool value);
const char* yesText();
const char* noText();
