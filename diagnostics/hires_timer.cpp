#include "diagnostics/hires_timer.h"

#include "platform/clock.h"

CHiResTimer g_HiResTimer;

CHiResTimer::CHiResTimer()
    : m_nCount(0), m_fFrequency(0), m_fLastLap(0), m_fOverhead(0), m_fRate(0), m_fAccumulated(0),
      m_liRateStart(0), m_liLapStart(0), m_liNow(0)
{
    int64_t frequency = 0;
    QueryPerformanceFrequency(&frequency);
    m_fFrequency = static_cast<float>(frequency);
    Reset();
    Tick();
    // Tick opens the next lap with the very reading that closed the last one, so no read falls
    // between two laps and this comes to 0: there is no read cost to add back.
    m_fOverhead = static_cast<float>(m_liNow - m_liLapStart);
}

void CHiResTimer::Reset()
{
    QueryPerformanceCounter(&m_liLapStart);
    QueryPerformanceCounter(&m_liRateStart);
    Tick();
}

float CHiResTimer::GetElapsedSeconds()
{
    QueryPerformanceCounter(&m_liNow);
    return (static_cast<float>(m_liNow - m_liLapStart) - m_fOverhead) / m_fFrequency;
}

float CHiResTimer::GetRate()
{
    if (m_fAccumulated <= 1.0f) {
        m_fAccumulated += GetLapSeconds();
        return m_fRate;
    }
    QueryPerformanceCounter(&m_liNow);
    float t = (static_cast<float>(m_liNow - m_liRateStart) - m_fOverhead) / m_fFrequency;
    m_fRate = static_cast<float>(m_nCount) * t;
    m_nCount = 0;
    m_fAccumulated = 0;
    QueryPerformanceCounter(&m_liRateStart);
    return m_fRate;
}
