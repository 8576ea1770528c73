#pragma once

#include <string>
#include <vector>

#include "core/base/types.h"

// Writes width x height pixels 0x00RRGGBB (rows pitch pixels apart) as an
// opaque 8-bit RGB PNG. False when the file cannot be written.
// The same file's bytes, into out; false when the pixels cannot be encoded.
bool encodePng(std::vector<u8>& out, const u32* pixels, u32 width, u32 height, u32 pitch);
bool writePng(const std::string& path, const u32* pixels, u32 width, u32 height, u32 pitch);
