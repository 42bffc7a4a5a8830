#include "platform/clock.h"

#include <atomic>
#include <time.h>

namespace {
std::atomic<PerformanceCounterHook> g_counterHook{nullptr};
std::atomic<WallClockHook> g_wallHook{nullptr};
}

bool QueryPerformanceCounter(int64_t* value)
{
    if (!value)
        return false;
    if (PerformanceCounterHook hook = g_counterHook.load(std::memory_order_acquire)) {
        *value = hook();
        return true;
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    *value = static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    return true;
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
    g_counterHook.store(hook, std::memory_order_release);
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
