#include <cstring>
#include <filesystem>

#include "board/smpc/smpc.h"

namespace {

constexpr char kMagic[] = "KEST BATTERY";
constexpr u32 kMagicChars = 12;
constexpr u32 kTimeSetAt = 16;
constexpr u32 kSmemAt = 20;
constexpr u32 kOffsetAt = 24;

constexpr u32 fromBcd(u8 value)
{
    return (value >> 4) * 10u + (value & 0x0Fu);
}

}  // namespace

s64 SMPC::systemTime()
{
    return static_cast<s64>(std::time(nullptr));
}

void SMPC::setSaveFolder(const std::string& folder)
{
    closeBattery();
    m_saveFolder = folder;
    if (!m_saveFolder.empty() && m_saveFolder.back() != '/')
        m_saveFolder += '/';
}

void SMPC::closeBattery()
{
    m_battery.forget();
    m_batteryOpened = false;
}

void SMPC::openBatteryIfNeeded()
{
    if (!m_batteryOpened)
        openBattery();
}

void SMPC::openBattery()
{
    m_batteryOpened = true;
    m_timeSet = false;
    m_clockOffset = 0;
    m_smem.fill(0);

    std::error_code ignored;
    if (!m_saveFolder.empty())
        std::filesystem::create_directories(m_saveFolder, ignored);
    u8 record[kBatteryBytes] = {};
    // An absent file is made holding an unset clock.
    std::memcpy(record, kMagic, kMagicChars);
    switch (m_battery.load(name().c_str(), m_saveFolder + kBatteryFile, record, kBatteryBytes,
                           SaveFile::Absent::kCreate)) {
    case SaveFile::State::kLoaded:
    case SaveFile::State::kInUse:  // read, never written
        break;
    default:
        return;
    }
    if (!readBatteryRecord(record, m_timeSet, m_smem, m_clockOffset)) {
        logError(1, "Not a Kest battery file!");
        m_battery.refuse("not a Kest battery file");
    }
}

bool SMPC::readBatteryRecord(const u8* record, bool& timeSet, std::array<u8, 4>& smem, s64& clockOffset)
{
    if (std::memcmp(record, kMagic, kMagicChars) != 0)
        return false;
    timeSet = record[kTimeSetAt] != 0;
    std::memcpy(smem.data(), &record[kSmemAt], smem.size());
    u64 offset = 0;
    for (u32 k = 0; k < 8; ++k)
        offset = offset << 8 | record[kOffsetAt + k];
    clockOffset = static_cast<s64>(offset);
    return true;
}

void SMPC::saveBattery()
{
    openBatteryIfNeeded();
    u8 record[kBatteryBytes] = {};
    std::memcpy(record, kMagic, kMagicChars);
    // The flag is a 32-bit word in the host's order, which the file fixes
    // as little-endian.
    record[kTimeSetAt] = m_timeSet ? 1 : 0;
    std::memcpy(&record[kSmemAt], m_smem.data(), m_smem.size());
    const u64 offset = static_cast<u64>(m_clockOffset);
    for (u32 k = 0; k < 8; ++k)
        record[kOffsetAt + k] = static_cast<u8>(offset >> (56 - 8 * k));
    if (m_battery.save(record, kBatteryBytes))
        logDebug(1, "Save SMPC information to disk");
}

SMPC::Clock SMPC::currentTime()
{
    openBatteryIfNeeded();
    if (!m_timeSet)
        return Clock{};
    // The offset may come from a damaged file: a sum past the range of
    // time_t, or a date the C library cannot break down, reads as unset.
    s64 seconds = 0;
    if (__builtin_add_overflow(m_hostClock(), m_clockOffset, &seconds))
        return Clock{};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return Clock{};
    Clock clock;
    // Four BCD digits hold the year.
    clock.year = static_cast<int>(((static_cast<long long>(tm.tm_year) + 1900) % 10000 + 10000) % 10000);
    clock.month = tm.tm_mon + 1;
    clock.day = tm.tm_mday;
    clock.hour = tm.tm_hour;
    clock.minute = tm.tm_min;
    clock.second = tm.tm_sec;
    clock.weekday = tm.tm_wday;
    return clock;
}

void SMPC::setClockFromIregs()
{
    openBatteryIfNeeded();
    const auto& in = m_commandIreg;
    std::tm tm{};
    tm.tm_year = static_cast<int>(100 * fromBcd(in[0]) + fromBcd(in[1])) - 1900;
    // The weekday nibble of IREG2 is the game's claim; the date decides.
    tm.tm_mon = (in[2] & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(fromBcd(in[3]));
    tm.tm_hour = static_cast<int>(fromBcd(in[4]));
    tm.tm_min = static_cast<int>(fromBcd(in[5]));
    tm.tm_sec = static_cast<int>(fromBcd(in[6]));
    // Whether summer time applies is the C library's to decide, so a time
    // set in summer reads back unchanged.
    tm.tm_isdst = -1;
    const s64 set = static_cast<s64>(std::mktime(&tm));
    m_clockOffset = static_cast<s64>(static_cast<u64>(set) - static_cast<u64>(m_hostClock()));
    m_timeSet = true;
    saveBattery();
}
