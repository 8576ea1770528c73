#pragma once

#include <string>

#include "core/base/types.h"

// The 256-byte system header of a console disc (user data of FAD 150) or of
// an arcade game (2 MB into its cartridge data).
struct DiscHeader {
    static constexpr u32 kSize = 256;

    std::string hardwareId;  // "SEGA SEGASATURN" on a console disc
    std::string makerId;
    std::string productNumber;
    std::string version;
    std::string releaseDate;
    std::string deviceInfo;
    std::string areaSymbols;
    std::string peripherals;
    std::string title;
    u32 ipSize = 0;
    u32 masterStack = 0;
    u32 slaveStack = 0;
    u32 firstReadAddress = 0;
    u32 firstReadSize = 0;
};

DiscHeader readDiscHeader(const u8* raw);
// The field from its first to its last word character (letter, digit or
// "_"), as the search "\b(.+)\b" finds it; cut at a zero byte.
std::string trimField(const u8* raw, u32 offset, u32 length);
// SMPC area number of an area letter; 1 for any letter outside the table.
u8 areaCodeToRegion(char letter);
bool isPalArea(char letter);
