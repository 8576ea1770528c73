#pragma once

#include "cd/media/cd.h"

// A single image (bin, iso, img or mdf opened alone): one data track whose
// sector size is guessed from the file's length and contents.
class CBin : public CCd {
public:
    explicit CBin(const std::string& path);

    std::istream* locate(u32 fad, u32& sectorsLeft, u64& offset) override;

private:
    bool probe();
    bool readHead(u8* buffer, std::size_t bytes);
};
