#pragma once

#include "cd/media/cd.h"

// An Alcohol 120% description: a binary table of sessions and tracks, the
// sectors in an ".mdf" file beside it.
class CMds : public CCd {
public:
    explicit CMds(const std::string& path);

    std::istream* locate(u32 fad, u32& sectorsLeft, u64& offset) override;

private:
    bool load();

    std::ifstream m_data;
};
