#include "core/emulator/zipfile.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/base/object.h"
#include "core/base/file_io.h"

namespace {

constexpr const char* kTag = "ZIP";

}  // namespace

bool zipfile::fail(const std::string& text)
{
    m_failure = text;
    logSink().write(kLogError, kTag, "%s", text.c_str());
    return false;
}

bool zipfile::failCrc(const std::string& name, u32 found, u32 expected)
{
    // The user mends a set by the member's name and both sums.
    char text[512];
    std::snprintf(text, sizeof text, "CRC check failed [F: %s, CRC: %08X, expected: %08X]", name.c_str(), found,
                  expected);
    return fail(text);
}

zipfile::zipfile(const std::string& path)
{
    // A FIFO would block the open.
    if (isRegularFile(path))
        m_archive = zip_open(path.c_str(), ZIP_RDONLY, &m_error);
    else
        m_error = ZIP_ER_OPEN;
}

zipfile::~zipfile()
{
    if (m_archive)
        zip_discard(m_archive);
}

bool zipfile::read(const std::string& name, u8* destination, u32 size, u32 crc)
{
    m_readStopped = false;
    if (!m_archive)
        return fail("zip_open failed");
    // libzip takes names up to their first NUL: the member it finds would
    // be another one.
    if (name.find('\0') != std::string::npos)
        return fail("zip_stat failed [F: " + printable(name) +
                    ", the name holds a NUL byte, which no member name does]");
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(m_archive, name.c_str(), 0, &stat) != 0) {
        const bool absent = zip_error_code_zip(zip_get_error(m_archive)) == ZIP_ER_NOENT;
        return fail("zip_stat failed [F: " + name + ", " + (absent ? "not in the archive" : zip_strerror(m_archive)) +
                    "]");
    }
    // A member of another size than its entry is another file. A large one
    // is refused before a byte of it is inflated: a small archive can hold
    // gigabytes.
    if (!(stat.valid & ZIP_STAT_SIZE) || stat.size != size) {
        char text[512];
        std::snprintf(text, sizeof text, "Member %s than its data.json entry [F: %s, size: %llX, entry: %X]",
                      (stat.valid & ZIP_STAT_SIZE) && stat.size < size ? "shorter" : "larger", name.c_str(),
                      static_cast<unsigned long long>(stat.size), size);
        return fail(text);
    }
    if (crc != 0 && (!(stat.valid & ZIP_STAT_CRC) || stat.crc != crc))
        return failCrc(name, (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0, crc);
    zip_file_t* file = zip_fopen(m_archive, name.c_str(), 0);
    if (!file) {
        std::string reason = zip_strerror(m_archive);
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            reason = "the member is encrypted: " + reason;
        return fail("zip_fopen failed [F: " + name + ", reason: " + reason + "]");
    }
    // In chunks, so a stop request is seen while a large member inflates.
    constexpr u64 kChunkBytes = 1 << 20;
    std::vector<u8> data(size);
    std::string trouble;
    bool stopped = false;
    for (u64 done = 0; done < size && trouble.empty();) {
        if (m_stopped && m_stopped()) {
            stopped = true;
            break;
        }
        const zip_int64_t got = zip_fread(file, data.data() + done, std::min<u64>(kChunkBytes, size - done));
        if (got < 0)
            trouble = zip_file_strerror(file);
        else if (got == 0)
            trouble = "the member holds less than the archive records";
        done += static_cast<u64>(std::max<zip_int64_t>(got, 0));
    }
    // libzip checks the CRC once it meets the member's end; data past the
    // size the directory records is a lie, and is not inflated further.
    if (trouble.empty() && !stopped) {
        u8 more;
        const zip_int64_t got = zip_fread(file, &more, 1);
        if (got < 0)
            trouble = zip_file_strerror(file);
        else if (got > 0)
            trouble = "the member holds more than the archive records";
    }
    const int closed = zip_fclose(file);
    // The caller says why it stopped.
    if (stopped) {
        m_failure = "stopped";
        m_readStopped = true;
        return false;
    }
    if (!trouble.empty())
        return fail("zip_fread failed [F: " + name + ", reason: " + trouble + "]");
    if (closed != 0)
        return fail("zip_fclose failed [F: " + name + "]");
    if (crc != 0) {
        const uLong sum = crc32(0, data.data(), static_cast<uInt>(size));
        if (sum != crc)
            return failCrc(name, static_cast<u32>(sum), crc);
    }
    std::memcpy(destination, data.data(), size);
    return true;
}

namespace {

bool failed(const std::string& text, std::string* why)
{
    if (why)
        *why = text;
    return false;
}

}  // namespace

void swapWords16(u8* data, u32 size)
{
    for (u32 i = 0; i + 1 < size; i += 2)
        std::swap(data[i], data[i + 1]);
}

u64 extentOfPattern(const std::string& pattern, u32 size)
{
    if (pattern == "_O")
        return std::max<u64>(u64{2} * size, u64{0x300000} + size);
    return size;
}

bool extractRom(const Object& logger, zipfile& archive, const std::string& name, const std::string& pattern,
                u8* destination, u32 size, u32 crc, std::string* why)
{
    logger.logDebug(2, "Extract %s [CRC: %08X]", name.c_str(), crc);
    if (pattern == "OE") {
        if (!archive.read(name, destination, size, crc))
            return failed(archive.failure(), why);
        swapWords16(destination, size);
        return true;
    }
    if (pattern == "_O") {
        std::vector<u8> file(size);
        if (!archive.read(name, file.data(), size, crc))
            return failed(archive.failure(), why);
        for (u32 i = 0; i < size; ++i)
            destination[1 + 2 * u64{i}] = file[i];
        std::memcpy(destination + 0x200000, file.data(), size);
        std::memcpy(destination + 0x300000, file.data(), size);
        return true;
    }
    logger.logError(1, "Unknown pattern (%s) [P: %s]", name.c_str(), pattern.c_str());
    return failed("unknown pattern \"" + pattern + "\" (OE or _O)", why);
}
