#pragma once
#include <cstdint>

// Interval timer on the high-resolution performance counter. Each Tick reads the counter once: that
// reading closes one lap and opens the next, so consecutive laps join without a gap and a lap is
// the time between the readings of two Ticks.
class CHiResTimer {
public:
    CHiResTimer();
    void Reset();
    void Tick();
    float GetLapSeconds();
    float GetElapsedSeconds();
    float GetRate();

    int m_nCount;
    float m_fFrequency;
    float m_fLastLap;
    float m_fOverhead;
    float m_fRate;
    float m_fAccumulated;
    int64_t m_liRateStart;
    int64_t m_liLapStart;
    int64_t m_liNow;
};

extern CHiResTimer g_HiResTimer;
