#include "platform/host_time.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace host {

namespace {

constexpr u64 kNsPerSecond = 1000000000;
constexpr u64 kFineSlackNs = 1000;

u64 toNs(const timeval& t)
{
    return static_cast<u64>(t.tv_sec) * kNsPerSecond + static_cast<u64>(t.tv_usec) * 1000;
}

// The fourth figure of the "cpu" line of /proc/stat, in clock ticks.
bool readSystemIdle(u64& idleNs)
{
    std::FILE* stat = std::fopen("/proc/stat", "r");
    if (!stat)
        return false;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0;
    const int fields = std::fscanf(stat, "cpu %llu %llu %llu %llu", &user, &nice, &system, &idle);
    std::fclose(stat);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (fields != 4 || ticksPerSecond <= 0)
        return false;
    idleNs = idle * (kNsPerSecond / static_cast<u64>(ticksPerSecond));
    return true;
}

}  // namespace

u64 steadyNs()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<u64>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

void sleepMs(u32 ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void sleepNs(u64 ns)
{
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

bool readCpuTimes(CpuTimes& times)
{
    bool ok = readSystemIdle(times.systemIdle);
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) {
        times.processKernel = toNs(usage.ru_stime);
        times.processUser = toNs(usage.ru_utime);
    } else {
        ok = false;
    }
    return ok;
}

u64 beginFineSleeps()
{
    const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (previous < 0 || prctl(PR_SET_TIMERSLACK, kFineSlackNs, 0, 0, 0) != 0)
        return 0;
    return static_cast<u64>(previous);
}

void endFineSleeps(u64 previousSlackNs)
{
    if (previousSlackNs != 0)
        prctl(PR_SET_TIMERSLACK, previousSlackNs, 0, 0, 0);
}

}  // namespace host
