#pragma once

#include <string>

#include "core/base/types.h"

class Object;
struct zip;

// One arcade ROM-set archive, opened read-only through libzip.
class zipfile {
public:
    explicit zipfile(const std::string& path);
    ~zipfile();
    zipfile(const zipfile&) = delete;
    zipfile& operator=(const zipfile&) = delete;

    bool isOpen() const { return m_archive != nullptr; }
    int error() const { return m_error; }

    // Reads the member, which must hold exactly size bytes, into
    // destination; crc 0 skips the check against the CRC-32 the archive
    // records. The destination is untouched on failure.
    bool read(const std::string& name, u8* destination, u32 size, u32 crc);
    // Asked while a member is read; when it answers true the read fails.
    void setStopCheck(bool (*stopped)()) { m_stopped = stopped; }
    // The last failure of read, as logged.
    const std::string& failure() const { return m_failure; }
    // Whether the last read ended because the stop check answered true.
    bool stopped() const { return m_readStopped; }

private:
    bool fail(const std::string& text);
    bool failCrc(const std::string& name, u32 found, u32 expected);

    zip* m_archive = nullptr;
    int m_error = 0;
    std::string m_failure;
    bool (*m_stopped)() = nullptr;
    bool m_readStopped = false;
};

// Exchanges the bytes of each 16-bit word; an odd last byte stays.
void swapWords16(u8* data, u32 size);

// Places one ROM file in the cartridge data by its pattern: "OE" byte-swapped
// words at the destination, "_O" every second byte from destination + 1 and
// the file whole at + 0x200000 and + 0x300000.
// The caller's object logs the extraction (level 2) and a bad pattern; why,
// when given, receives the reason of a failure.
bool extractRom(const Object& logger, zipfile& archive, const std::string& name, const std::string& pattern,
                u8* destination, u32 size, u32 crc, std::string* why = nullptr);
// The bytes a pattern writes from its offset on, for the bounds check.
u64 extentOfPattern(const std::string& pattern, u32 size);
