#include "core/emulator/path_parts.h"

#include <cctype>

#include "core/base/helpers.h"

PathParts::PathParts(const std::string& whole) : path(whole)
{
    const std::size_t slash = whole.find_last_of("\\/");
    const std::size_t dot = whole.rfind('.');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    directory = whole.substr(0, nameStart);
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        name = whole.substr(nameStart, dot - nameStart);
        extension = whole.substr(dot + 1);
    } else {
        name = whole.substr(nameStart);
    }
}

namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A drive letter: "D", "D:", "D:\" or "D:/", with blanks around.
bool isDriveLetter(const std::string& path)
{
    std::size_t i = 0;
    const std::size_t n = path.size();
    while (i < n && isBlank(path[i]))
        ++i;
    if (i >= n || path[i] < 'A' || path[i] > 'Z')
        return false;
    ++i;
    if (i < n && path[i] == ':') {
        ++i;
        if (i < n && (path[i] == '/' || path[i] == '\\'))
            ++i;
    }
    while (i < n && isBlank(path[i]))
        ++i;
    return i == n;
}

}  // namespace

FileKind classifyPath(const std::string& path)
{
    if (isDriveLetter(path))
        return FileKind::kDrive;
    std::string ext = PathParts(path).extension;
    toLower(ext);
    static const struct { const char* ext; FileKind kind; } kKinds[] = {
        {"cue", FileKind::kCue}, {"mds", FileKind::kMds}, {"ccd", FileKind::kCcd}, {"chd", FileKind::kChd},
        {"nrg", FileKind::kNrg}, {"cdz", FileKind::kCdz}, {"cso", FileKind::kCso}, {"bin", FileKind::kImage},
        {"mdf", FileKind::kImage}, {"img", FileKind::kImage}, {"iso", FileKind::kImage}, {"zip", FileKind::kZip},
        {"7z", FileKind::k7z}, {"rar", FileKind::kRar},
    };
    for (const auto& k : kKinds) {
        if (ext == k.ext)
            return k.kind;
    }
    return FileKind::kUnknown;
}

s32 machineKindOf(FileKind kind)
{
    switch (kind) {
    case FileKind::kZip:
        return 1;
    case FileKind::kCue:
    case FileKind::kImage:
    case FileKind::kMds:
    case FileKind::kCcd:
    case FileKind::kDrive:
        return 0;
    default:
        return -1;
    }
}
