#include "core/base/png_writer.h"

#include <zlib.h>

#include <fstream>
#include <vector>

namespace {

void put32(std::vector<u8>& out, u32 v)
{
    out.push_back(static_cast<u8>(v >> 24));
    out.push_back(static_cast<u8>(v >> 16));
    out.push_back(static_cast<u8>(v >> 8));
    out.push_back(static_cast<u8>(v));
}

void chunk(std::vector<u8>& out, const char* type, const std::vector<u8>& data)
{
    put32(out, static_cast<u32>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    put32(out, static_cast<u32>(crc));
}

}  // namespace

bool encodePng(std::vector<u8>& file, const u32* pixels, u32 width, u32 height, u32 pitch)
{
    if (!pixels || width == 0 || height == 0)
        return false;
    // Each row: filter byte 0, then red, green, blue.
    std::vector<u8> raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * width));
    for (u32 y = 0; y < height; ++y) {
        raw.push_back(0);
        const u32* row = pixels + static_cast<size_t>(pitch) * y;
        for (u32 x = 0; x < width; ++x) {
            raw.push_back(static_cast<u8>(row[x] >> 16));
            raw.push_back(static_cast<u8>(row[x] >> 8));
            raw.push_back(static_cast<u8>(row[x]));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<u8> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        return false;
    packed.resize(packedSize);

    file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<u8> header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
    chunk(file, "IHDR", header);
    chunk(file, "IDAT", packed);
    chunk(file, "IEND", {});
    return true;
}

bool writePng(const std::string& path, const u32* pixels, u32 width, u32 height, u32 pitch)
{
    std::vector<u8> file;
    if (!encodePng(file, pixels, width, height, pitch))
        return false;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return out.good();
}
