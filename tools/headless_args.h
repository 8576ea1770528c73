#pragma once

#include <string>
#include <string_view>

#include "core/base/types.h"

// The numbers of kest-headless's command line: decimal, or hexadecimal
// after "0x"; no sign, no blanks, nothing after the digits.
constexpr u64 kMaxFields = 1'000'000'000;  // some 190 days of emulated time
constexpr u64 kMaxDumpBytes = 0x10000000;
constexpr u64 kAddressSpaceBytes = 0x100000000;

// A number from min to max; on failure why says what is wrong.
bool parseNumber(std::string_view text, u64 min, u64 max, u64& value, std::string& why);

// --dump ADDR:LENGTH:FILE: LENGTH bytes at ADDR, all inside the 32-bit
// address space.
struct Dump {
    u32 address = 0;
    u32 length = 0;
    std::string path;
};

bool parseDump(std::string_view text, Dump& dump, std::string& why);
