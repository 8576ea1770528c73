#pragma once

#include <string>

#include "core/base/types.h"

// A path kept whole and split at the last separator ("\" or "/") and the
// last dot.
struct PathParts {
    explicit PathParts(const std::string& path);

    std::string path;
    std::string directory;  // up to and including the separator
    std::string name;       // without the extension
    std::string extension;  // without the dot
};

enum class FileKind : int {
    kUnknown = 0,
    k7z = 1,
    kZip = 2,
    kRar = 3,
    kCue = 4,
    kImage = 5,
    kMds = 7,
    kNrg = 9,
    kCcd = 10,
    kChd = 12,
    kCso = 13,
    kCdz = 14,
    kDrive = 15,
};

FileKind classifyPath(const std::string& path);
// The machine kind a file kind leads to: 0 console, 1 arcade, -1 none.
s32 machineKindOf(FileKind kind);
