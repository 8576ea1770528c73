#pragma once

#include <string>

#include "cd/media/cd.h"

// A physical drive of the host as a disc source: opened by name, closed,
// and asked whether a disc is in it.
class CDD : public CCd {
public:
    enum MediaStatus : u32 { kUnknown = 0, kTrayOpen = 1, kMediumPresent = 2, kNoMedium = 3 };

    CDD() : CCd(std::string()) {}

    virtual u32 getMediaStatus() = 0;
    virtual bool open(const std::string& drive) = 0;
    virtual void close() = 0;
};
