#pragma once
// The high-resolution performance counter and the local wall clock.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <time.h>

// Tests drive the counter by hand: a non-null hook replaces the monotonic clock for every caller,
// nullptr puts the real clock back. The frequency stays 1e9 ticks per second.
using PerformanceCounterHook = int64_t (*)();
void SetPerformanceCounterHook(PerformanceCounterHook hook);

namespace clock_detail {
// Written only by SetPerformanceCounterHook; tests install it from other threads than the readers.
extern std::atomic<PerformanceCounterHook> g_counterHook;
}

// Counter in nanoseconds of CLOCK_MONOTONIC; both always succeed. Inline: the capture worker reads
// the counter twice per octet.
inline bool QueryPerformanceCounter(int64_t* value)
{
    if (!value)
        return false;
    if (PerformanceCounterHook hook = clock_detail::g_counterHook.load(std::memory_order_acquire)) {
        *value = hook();
        return true;
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    *value = static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    return true;
}
bool QueryPerformanceFrequency(int64_t* ticksPerSecond);

// Local broken-down time of "now" (time + localtime_r); tests may replace "now".
void GetLocalTimeNow(struct tm* out);
using WallClockHook = time_t (*)();
void SetWallClockHook(WallClockHook hook);
time_t GetWallClockNow();
