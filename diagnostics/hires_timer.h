#pragma once
#include <cstdint>

#include "platform/clock.h"

// Interval timer on the high-resolution performance counter. Each Tick reads the counter once: that
// reading closes one lap and opens the next, so consecutive laps join without a gap and a lap is
// the time between the readings of two Ticks.
class CHiResTimer {
public:
    CHiResTimer();
    void Reset();
    // Inline with the counter read: the capture worker ticks twice per octet.
    void Tick()
    {
        ++m_nCount;
        QueryPerformanceCounter(&m_liNow);
        m_fLastLap = static_cast<float>(m_liNow - m_liLapStart);
        // One reading closes this lap and opens the next: a second read per Tick would cost as
        // much again only to be calibrated away.
        m_liLapStart = m_liNow;
    }
    float GetLapSeconds() { return (m_fLastLap - m_fOverhead) / m_fFrequency; }
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
