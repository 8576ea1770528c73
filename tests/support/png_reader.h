#pragma once

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/base/bus.h"
#include "support/files.h"

// Decodes the PNGs kest-headless writes (8-bit RGB, rows with filter 0) into
// 0x00RRGGBB pixels; false for anything else.
inline bool readPng(const std::string& path, u32& width, u32& height, std::vector<u32>& pixels)
{
    const std::vector<u8> file = readBytes(path);
    if (file.size() < 8 || std::memcmp(file.data(), "\x89PNG\r\n\x1A\n", 8) != 0)
        return false;
    std::vector<u8> packed;
    bool rgb = false;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const u32 length = loadBe32(&file[at]);
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        if (at + 12 + length > file.size())
            return false;
        const u8* data = &file[at + 8];
        if (type == "IHDR") {
            width = loadBe32(data);
            height = loadBe32(data + 4);
            rgb = data[8] == 8 && data[9] == 2;
        } else if (type == "IDAT") {
            packed.insert(packed.end(), data, data + length);
        }
        at += 12 + length;
    }
    std::vector<u8> raw(static_cast<std::size_t>(height) * (1 + 3 * width));
    uLongf size = static_cast<uLongf>(raw.size());
    if (!rgb || uncompress(raw.data(), &size, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
        size != raw.size())
        return false;
    pixels.resize(static_cast<std::size_t>(width) * height);
    for (u32 y = 0; y < height; ++y) {
        const u8* row = &raw[y * (1 + 3 * width)];
        if (row[0] != 0)
            return false;
        for (u32 x = 0; x < width; ++x)
            pixels[y * width + x] = u32{row[1 + 3 * x]} << 16 | u32{row[2 + 3 * x]} << 8 | row[3 + 3 * x];
    }
    return true;
}
