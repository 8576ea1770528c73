#include "core/base/helpers.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "core/base/file_io.h"

u32 toBcd(u32 value, bool packed)
{
    const u32 width = packed ? 4 : 8;
    u32 result = 0;
    for (u32 shift = 0; value != 0 && shift < 32; shift += width) {
        result |= (value % 10) << shift;
        value /= 10;
    }
    return result;
}

void sectorToMsf(u32 sector, u32& minute, u32& second, u32& frame)
{
    minute = sector / kFramesPerMinute;
    second = sector % kFramesPerMinute / kFramesPerSecond;
    frame = sector % kFramesPerSecond;
}

void zeroFill(void* data, s32 length)
{
    if (data && length > 0)
        std::memset(data, 0, static_cast<std::size_t>(length));
}

u64 fileSize(std::istream* stream)
{
    if (!stream)
        return 0;
    stream->seekg(0, std::ios::end);
    auto position = stream->tellg();
    return position < 0 ? 0 : static_cast<u64>(position);
}

bool fileExists(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return file.is_open();
}

bool createEmptyFile(const std::string& path)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    return !file.bad();
}

bool saveFile(const std::string& path, const void* data, u32 size)
{
    return replaceFile(path, data, size);
}

std::string shortenPath(std::string_view path, std::size_t length)
{
    constexpr std::string_view kEllipsis = "...";
    if (path.size() <= length)
        return std::string(path);
    if (length <= kEllipsis.size())
        return std::string(kEllipsis.substr(0, length));
    const std::size_t room = length - kEllipsis.size();
    // The file name says which file; the start says where. A short name
    // leaves half the room to the folders before it, and a text that is no
    // path keeps as much of its start as of its end.
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string_view::npos ? room - room / 2 : path.size() - slash;
    std::size_t head = room - std::clamp(name, room / 2, room - room / 4);
    std::size_t tail = path.size() - (room - head);
    const auto continues = [&](std::size_t at) { return (static_cast<u8>(path[at]) & 0xC0) == 0x80; };
    while (head > 0 && continues(head))
        --head;
    while (tail < path.size() && continues(tail))
        ++tail;
    std::string out(path.substr(0, head));
    out += kEllipsis;
    out += path.substr(tail);
    return out;
}

std::string& toLower(std::string& text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string& toUpper(std::string& text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

const char* toTrueFalse(bool value) { return value ? "TRUE" : "FALSE"; }
const char* toOnOff(bool value) { return value ? "ON" : "OFF"; }
const char* yesText() { return "YES"; }
const char* noText() { return "NO"; }
