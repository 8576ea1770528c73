#pragma once

#include "cd/media/cd.h"

// A CloneCD description: the table of contents in settings-file form, the
// raw sectors in an ".img" file beside it.
class CCcd : public CCd {
public:
    explicit CCcd(const std::string& path);

    std::istream* locate(u32 fad, u32& sectorsLeft, u64& offset) override;

private:
    bool load();

    std::ifstream m_data;
};
