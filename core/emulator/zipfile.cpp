#include "core/emulator/zipfile.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/base/object.h"
#include "core/base/save_file.h"

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
    if (!m_archive)
        return fail("zip_open failed");
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(m_archive, name.c_str(), 0, &stat) != 0)
        return fail("zip_stat failed [F: " + name + ", not in the archive]");
    if (crc != 0 && (!(stat.valid & ZIP_STAT_CRC) || stat.crc != crc))
        return failCrc(name, (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0, crc);
    zip_file_t* file = zip_fopen(m_archive, name.c_str(), 0);
    if (!file)
        return fail("zip_fopen failed");
    // The directory's CRC says nothing of the data: the bytes read are
    // checked too, read to the member's end so that libzip makes its own check.
    const u64 recorded = (stat.valid & ZIP_STAT_SIZE) ? stat.size : size;
    std::vector<u8> data(std::min<u64>(recorded, size));
    zip_int64_t got = zip_fread(file, data.data(), data.size());
    uLong sum = crc32(0, data.data(), static_cast<uInt>(std::max<zip_int64_t>(got, 0)));
    u8 rest[0x4000];
    for (zip_int64_t more = got; more > 0 && got >= 0;) {
        more = zip_fread(file, rest, sizeof rest);
        if (more < 0)
            got = -1;
        else
            sum = crc32(sum, rest, static_cast<uInt>(more));
    }
    const int closed = zip_fclose(file);
    if (got < 0)
        return fail("zip_fread failed");
    if (closed != 0)
        return fail("zip_fclose failed");
    if (crc != 0 && sum != crc)
        return failCrc(name, static_cast<u32>(sum), crc);
    std::memcpy(destination, data.data(), static_cast<std::size_t>(got));
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
        // Zero first: a short file must not spread stale bytes.
        std::vector<u8> file(size, 0);
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
