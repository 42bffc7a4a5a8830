#include "platform/clock.h"

#include <atomic>
#include <time.h>

std::atomic<PerformanceCounterHook> clock_detail::g_counterHook{nullptr};

namespace {
std::atomic<WallClockHook> g_wallHook{nullptr};
}

bool QueryPerformanceFrequency(int64_t* ticksPerSecond)
{
    if (!ticksPerSecond)
        return false;
    *ticksPerSecond = 1000000000LL;
    return true;
}

void SetPerformanceCounterHook(PerformanceCounterHook hook)
{
    clock_detail::g_counterHook.store(hook, std::memory_order_release);
}

void SetWallClockHook(WallClockHook hook)
{
    g_wallHook.store(hook, std::memory_order_release);
}

time_t GetWallClockNow()
{
    if (WallClockHook hook = g_wallHook.load(std::memory_order_acquire))
        return hook();
    return time(nullptr);
}

void GetLocalTimeNow(struct tm* out)
{
    time_t now = GetWallClockNow();
    localtime_r(&now, out);
}
