#include "reports/capture_clock.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "reports/statistics.h"

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's civil algorithms).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (m <= 2));
    *month = m;
    *day = d;
}

} // namespace

void UpdateCaptureClock()
{
    CNetworkStatistics& st = g_NetworkStatistics;
    int64_t now = 0;
    QueryPerformanceCounter(&now);
    st.m_liNowCount = now;

    int64_t frequency = st.m_liFrequency > 0 ? st.m_liFrequency : 1;
    int64_t counts = now - st.m_liStartCount;
    if (counts < 0)
        counts = 0;
    st.m_fElapsedSeconds = static_cast<float>(static_cast<double>(counts) / static_cast<double>(frequency));

    // Whole seconds and milliseconds come from the same integer count, so that a rounded
    // single-precision value can never put the second ahead of its milliseconds.
    const int64_t wholeSeconds = counts / frequency;
    const int64_t remainder = counts % frequency;
    st.m_nMillisecond = static_cast<int>(static_cast<__int128>(remainder) * 1000 / frequency);

    // Start wall clock plus elapsed time on the calendar, past midnight and month ends.
    const int64_t startDays = DaysFromCivil(st.m_nStartYear, st.m_nStartMonth, st.m_nStartDay);
    const int64_t startSecondOfDay =
        static_cast<int64_t>(st.m_nStartHour) * 3600 + st.m_nStartMinute * 60 + st.m_nStartSecond;
    const int64_t total = startDays * 86400 + startSecondOfDay + wholeSeconds;
    int64_t days = total / 86400;
    int64_t secondOfDay = total % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    CivilFromDays(days, &st.m_nYear, &st.m_nMonth, &st.m_nDay);
    st.m_nHour = static_cast<int>(secondOfDay / 3600);
    st.m_nMinute = static_cast<int>(secondOfDay / 60 % 60);
    st.m_nSecond = static_cast<int>(secondOfDay % 60);
}

void StartCaptureClock()
{
    CNetworkStatistics& st = g_NetworkStatistics;
    const time_t wall = GetWallClockNow();
    QueryPerformanceCounter(&st.m_liStartCount);
    QueryPerformanceFrequency(&st.m_liFrequency);
    struct tm t {};
    localtime_r(&wall, &t);
    st.m_nStartHour = t.tm_hour;
    st.m_nStartMinute = t.tm_min;
    st.m_nStartSecond = t.tm_sec;
    st.m_nStartMillisecond = 0;
    st.m_nStartYear = t.tm_year + 1900;
    st.m_nStartMonth = t.tm_mon + 1;
    st.m_nStartDay = t.tm_mday;
}

void FormatTimestamp(char* out, int forFileName)
{
    struct tm t {};
    GetLocalTimeNow(&t);
    // Formatted wide first: out has room for 23 characters, which any real date fills exactly.
    char text[96];
    std::snprintf(text, sizeof text, forFileName ? " [%02d-%02d-%02d %02d-%02d-%02d]" : "[%02d-%02d-%02d %02d:%02d:%02d]",
                  t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    const size_t n = std::min<size_t>(std::strlen(text), 22);
    std::memcpy(out, text, n);
    out[n] = '\0';
}
