#include "core/base/disc_header.h"

#include <cctype>

#include "core/base/bus.h"

namespace {

bool isWord(u8 c) { return std::isalnum(c) || c == '_'; }
bool isLineEnd(u8 c) { return c == '\n' || c == '\r'; }

}  // namespace

std::string trimField(const u8* raw, u32 offset, u32 length)
{
    const u8* f = raw + offset;
    auto wordAt = [&](u32 i) { return i < length && isWord(f[i]); };
    // The leftmost boundary is where the first word character starts.
    u32 start = 0;
    while (start < length && !isWord(f[start]))
        ++start;
    if (start == length)
        return {};
    // ".+" cannot cross a line end; the match ends at the last boundary
    // before one.
    u32 segmentEnd = start;
    while (segmentEnd < length && !isLineEnd(f[segmentEnd]))
        ++segmentEnd;
    u32 end = start + 1;
    for (u32 i = start + 1; i <= segmentEnd; ++i) {
        if (wordAt(i - 1) != wordAt(i))
            end = i;
    }
    std::string text(reinterpret_cast<const char*>(f + start), end - start);
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

DiscHeader readDiscHeader(const u8* raw)
{
    DiscHeader h;
    h.hardwareId = trimField(raw, 0x00, 16);
    h.makerId = trimField(raw, 0x10, 16);
    h.productNumber = trimField(raw, 0x20, 10);
    h.version = trimField(raw, 0x2A, 6);
    h.releaseDate = trimField(raw, 0x30, 8);
    h.deviceInfo = trimField(raw, 0x38, 8);
    h.areaSymbols = trimField(raw, 0x40, 10);
    h.peripherals = trimField(raw, 0x50, 16);
    h.title = trimField(raw, 0x60, 112);
    h.ipSize = loadBe32(raw + 0xE0);
    h.masterStack = loadBe32(raw + 0xE8);
    h.slaveStack = loadBe32(raw + 0xEC);
    h.firstReadAddress = loadBe32(raw + 0xF0);
    h.firstReadSize = loadBe32(raw + 0xF4);
    return h;
}

u8 areaCodeToRegion(char letter)
{
    switch (letter) {
    case 'J': return 1;
    case 'T': return 2;
    case 'U': return 4;
    case 'B': return 5;
    case 'K': return 6;
    case 'A': return 10;
    case 'E': return 12;
    case 'L': return 13;
    default: return 1;
    }
}

bool isPalArea(char letter)
{
    return letter == 'A' || letter == 'E' || letter == 'L';
}
