#pragma once
// The high-resolution performance counter and the local wall clock.
#include <cstdint>
#include <ctime>

// Counter in nanoseconds of CLOCK_MONOTONIC; both always succeed.
bool QueryPerformanceCounter(int64_t* value);
bool QueryPerformanceFrequency(int64_t* ticksPerSecond);

// Tests drive the counter by hand: a non-null hook replaces the monotonic clock for every caller,
// nullptr puts the real clock back. The frequency stays 1e9 ticks per second.
using PerformanceCounterHook = int64_t (*)();
void SetPerformanceCounterHook(PerformanceCounterHook hook);

// Local broken-down time of "now" (time + localtime_r); tests may replace "now".
void GetLocalTimeNow(struct tm* out);
using WallClockHook = time_t (*)();
void SetWallClockHook(WallClockHook hook);
time_t GetWallClockNow();
