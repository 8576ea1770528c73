#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "board/smpc/smpc_harness.h"
#include "core/base/helpers.h"
#include "support/log_capture.h"

using namespace smpctest;
using namespace std::chrono;

namespace {

struct DateTime {
    int year, month, day, hour, minute, second;
};

u8 bcd(int value)
{
    return static_cast<u8>(toBcd(static_cast<u32>(value), true));
}

// Seconds since 1970 of a UTC date, by the standard calendar.
s64 utcSeconds(const DateTime& t)
{
    const sys_days day = year{t.year} / t.month / t.day;
    return (day + hours{t.hour} + minutes{t.minute} + seconds{t.second}).time_since_epoch().count();
}

unsigned weekdayOf(const DateTime& t)
{
    return weekday{sys_days{year{t.year} / t.month / t.day}}.c_encoding();
}

std::vector<u8> record(u32 flag, std::vector<u8> smem, s64 offset, const char* magic = "KEST BATTERY")
{
    std::vector<u8> r(32, 0);
    std::memcpy(r.data(), magic, std::strlen(magic));
    r[16] = static_cast<u8>(flag);
    std::copy(smem.begin(), smem.end(), r.begin() + 20);
    for (int k = 0; k < 8; ++k)
        r[24 + k] = static_cast<u8>(static_cast<u64>(offset) >> (56 - 8 * k));
    return r;
}

class SmpcBattery : public TimedTest {
protected:
    void setTime(const DateTime& t, u8 weekdayClaim = 0)
    {
        run(kSettime, {bcd(t.year / 100), bcd(t.year % 100), static_cast<u8>(weekdayClaim << 4 | t.month), bcd(t.day),
                       bcd(t.hour), bcd(t.minute), bcd(t.second)});
    }
    // OREG0-7 of a status reply.
    std::vector<u8> status()
    {
        run(kIntback, {0x01, 0x00});
        const std::vector<u8> o = oregs();
        return {o.begin(), o.begin() + 8};
    }
    static std::vector<u8> expected(const DateTime& t, unsigned wday)
    {
        return {0x80, bcd(t.year / 100), bcd(t.year % 100), static_cast<u8>(wday << 4 | t.month), bcd(t.day),
                bcd(t.hour), bcd(t.minute), bcd(t.second)};
    }
    // A second folder with a battery file of the given bytes, opened.
    void openFile(const std::vector<u8>& bytes)
    {
        const std::string folder = dir.file("other");
        std::filesystem::create_directories(folder);
        saveFile(folder + "/sat_battery.sav", bytes.data(), static_cast<u32>(bytes.size()));
        smpc().setSaveFolder(folder);
    }
};

}  // namespace

TEST_F(SmpcBattery, LayoutAfterSetTimeAndSetSmem)
{
    ScopedTimeZone utc("UTC");
    LogCapture log;
    const DateTime past{1999, 12, 31, 23, 59, 58};
    setTime(past);
    const s64 offset = utcSeconds(past) - fixedHostTime;
    ASSERT_LT(offset, 0);
    EXPECT_EQ(battery(), record(1, {0, 0, 0, 0}, offset));
    EXPECT_EQ(smpc().clockOffset(), offset);
    EXPECT_TRUE(log.contains("SMPC: Save SMPC information to disk\n"));

    run(kSetsmem, {0x12, 0x34, 0x56, 0x78, 0x9A});
    EXPECT_EQ(battery(), record(1, {0x12, 0x34, 0x56, 0x78}, offset));

    // A second machine reads it all back.
    sys.reset();
    scheduler().clear();
    sys = std::make_unique<CSystem>();
    sys->setup(0);
    smpc().setHostClock(&fixedClock);
    smpc().setSaveFolder(saves());
    smpc().switchOn();
    scheduler().schedule(0, nullptr, nullptr, Scheduler::kForever, 1000000, 0);
    now = 0;
    at(kStart, [] {});
    runTo(kStart);
    run(kIntback, {0x01, 0x00});
    const std::vector<u8> o = oregs();
    EXPECT_EQ(std::vector<u8>(o.begin(), o.begin() + 8), expected(past, weekdayOf(past)));
    EXPECT_EQ(std::vector<u8>(o.begin() + 12, o.begin() + 16), (std::vector<u8>{0x12, 0x34, 0x56, 0x78}));
}

TEST_F(SmpcBattery, TheClockRunsWithTheHostClock)
{
    ScopedTimeZone utc("UTC");
    const DateTime set{2024, 2, 27, 23, 59, 30};
    setTime(set);
    fixedHostTime += 86400 + 45;  // a day and 45 seconds later: a leap day
    EXPECT_EQ(status(), expected({2024, 2, 29, 0, 0, 15}, 4));
}

// The weekday comes from the date, whatever the game claims, and every
// date and time reads back as it was set, summer time or not.
TEST_F(SmpcBattery, WeekdaysAndReadBackInTwoTimeZones)
{
    const std::vector<DateTime> dates = {
        {1993, 12, 31, 12, 59, 59}, {1999, 12, 31, 23, 59, 59}, {2000, 2, 29, 0, 0, 0},  {2000, 3, 1, 1, 2, 3},
        {2024, 7, 15, 13, 45, 30},  {2024, 10, 27, 12, 0, 0},   {2024, 3, 31, 4, 0, 0},  {2038, 1, 19, 3, 14, 8},
        {2099, 12, 31, 23, 0, 0},   {2100, 3, 1, 12, 0, 0},     {1970, 1, 1, 0, 0, 0},   {1980, 6, 15, 18, 30, 0},
    };
    for (const char* zone : {"UTC", "Europe/Berlin"}) {
        ScopedTimeZone tz(zone);
        for (const DateTime& t : dates) {
            setTime(t, 7);
            EXPECT_EQ(status(), expected(t, weekdayOf(t))) << zone << " " << t.year << "-" << t.month << "-" << t.day;
        }
    }
}

// Berlin keeps CET (UTC+1) in winter and CEST (UTC+2) in summer: the offset
// the file keeps is the true distance to the host's clock.
TEST_F(SmpcBattery, SummerTimeIsTheCLibrarysChoice)
{
    ScopedTimeZone berlin("Europe/Berlin");
    const DateTime summer{2024, 7, 15, 13, 45, 30};
    setTime(summer);
    EXPECT_EQ(smpc().clockOffset(), utcSeconds(summer) - 2 * 3600 - fixedHostTime);
    const DateTime winter{2024, 1, 15, 13, 45, 30};
    setTime(winter);
    EXPECT_EQ(smpc().clockOffset(), utcSeconds(winter) - 3600 - fixedHostTime);
}

// A file that is not a battery record, or not a whole one, is the user's:
// the clock runs unset and no save touches the file.
TEST_F(SmpcBattery, ForeignAndShortFilesAreRefusedAndKept)
{
    std::vector<u8> shortRecord = record(1, {5, 6, 7, 8}, 0);
    shortRecord.resize(22);
    for (const std::vector<u8>& bytes : {record(1, {9, 9, 9, 9}, 1000, "KEST BATTERX"), shortRecord}) {
        LogCapture log;
        openFile(bytes);
        EXPECT_FALSE(smpc().timeSet());
        EXPECT_EQ(status(), (std::vector<u8>{0x00, 0x19, 0x93, 0x5C, 0x31, 0x12, 0x59, 0x59}));
        EXPECT_EQ(oregs()[12], 0);
        run(kSetsmem, {1, 2, 3, 4});
        EXPECT_EQ(readBytes(dir.file("other/sat_battery.sav")), bytes);
        EXPECT_FALSE(log.contains("Save SMPC information to disk"));
        EXPECT_TRUE(log.contains(bytes.size() == 32 ? "SMPC: Not a Kest battery file!\n"
                                                    : "[size: 22, need: 32]: a save cut short"))
            << log.text();
    }
}

// A battery another running program holds is read, clock and SMEM, and
// never written. The lock is held through a description of its own, as
// another program's is.
TEST_F(SmpcBattery, ABatteryAnotherProgramHoldsIsReadButNeverWritten)
{
    const std::vector<u8> held = record(1, {9, 8, 7, 6}, 0);
    const std::string folder = dir.file("held"), path = folder + "/sat_battery.sav";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(saveFile(path, held.data(), static_cast<u32>(held.size())));
    const int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    smpc().setSaveFolder(folder);
    EXPECT_TRUE(smpc().timeSet());
    EXPECT_EQ(smpc().smem()[0], 9);
    run(kSetsmem, {1, 2, 3, 4});
    EXPECT_EQ(readBytes(path), held);
    ::close(holder);
}

// An offset from a damaged file that no calendar can hold reads as the
// unset clock instead of overflowing.
TEST_F(SmpcBattery, AnOffsetOutOfRangeReadsAsTheUnsetClock)
{
    for (s64 offset : {s64{0x7FFFFFFFFFFFFFFF}, s64{1} << 60, -(s64{1} << 62)}) {
        openFile(record(1, {}, offset));
        EXPECT_EQ(status(), (std::vector<u8>{0x80, 0x19, 0x93, 0x5C, 0x31, 0x12, 0x59, 0x59})) << offset;
    }
}

TEST_F(SmpcBattery, AFolderThatCannotHoldTheFileMakesSavesVanish)
{
    const std::string blocker = dir.file("blocker");
    saveFile(blocker, "x", 1);
    LogCapture log;
    smpc().setSaveFolder(blocker);
    run(kSetsmem, {1, 2, 3, 4});
    EXPECT_EQ(smpc().smem()[0], 1);
    EXPECT_FALSE(log.contains("Save SMPC information to disk")) << log.text();
    EXPECT_EQ(readBytes(blocker), std::vector<u8>{'x'});
}
