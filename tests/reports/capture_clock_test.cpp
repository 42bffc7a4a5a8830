#include <cstdio>
#include <cstring>
#include <string>

#include "reports/capture_clock.h"
#include "reports_fixture.h"

using namespace reports_test;

namespace {

class CaptureClockTest : public ReportsTest {
protected:
    // The frame stamp the raw log prints for the clock now set.
    std::string Stamp() const
    {
        const CNetworkStatistics& st = g_NetworkStatistics;
        char text[64];
        std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d:%03d", st.m_nDay, st.m_nMonth, st.m_nYear,
                      st.m_nHour, st.m_nMinute, st.m_nSecond, st.m_nMillisecond);
        return text;
    }
};

struct ClockCase {
    const char* what;
    int year, month, day, hour, minute, second;
    int64_t elapsedMs;
    const char* stamp;
};

TEST_F(CaptureClockTest, StartPlusElapsedCarriesThroughTheCalendar)
{
    const ClockCase cases[] = {
        {"second carry", 2024, 6, 3, 10, 59, 59, 1250, "03-06-2024 11:00:00:250"},
        {"minutes", 2024, 6, 3, 10, 30, 45, 20 * 60000 + 500, "03-06-2024 10:50:45:500"},
        {"minute carry reaches the hour", 2024, 6, 3, 10, 30, 45, 30 * 60000 + 7, "03-06-2024 11:00:45:007"},
        {"midnight", 2024, 6, 9, 23, 59, 59, 2000, "10-06-2024 00:00:01:000"},
        {"end of a 31-day month", 2024, 1, 31, 23, 59, 59, 2000, "01-02-2024 00:00:01:000"},
        {"end of a 30-day month", 2024, 4, 30, 23, 0, 0, 3600000, "01-05-2024 00:00:00:000"},
        {"leap day", 2024, 2, 28, 12, 0, 0, 86400000, "29-02-2024 12:00:00:000"},
        {"no leap day", 2023, 2, 28, 12, 0, 0, 86400000, "01-03-2023 12:00:00:000"},
        {"end of the year", 2023, 12, 31, 23, 59, 59, 1001, "01-01-2024 00:00:00:001"},
        {"several days", 2024, 6, 3, 8, 0, 0, 3LL * 86400000 + 5 * 3600000 + 999, "06-06-2024 13:00:00:999"},
        {"whole day later is not the same day", 2024, 6, 3, 0, 0, 0, 86400000 + 1, "04-06-2024 00:00:00:001"},
    };
    for (const ClockCase& c : cases) {
        BeginCapture(c.year, c.month, c.day, c.hour, c.minute, c.second);
        At(c.elapsedMs);
        UpdateCaptureClock();
        EXPECT_EQ(Stamp(), c.stamp) << c.what;
        EXPECT_EQ(g_NetworkStatistics.m_liNowCount, g_fakeCounter) << c.what;
    }
}

TEST_F(CaptureClockTest, ElapsedSecondsAreKeptAndStartFieldsUntouched)
{
    BeginCapture(2024, 6, 3, 10, 0, 0);
    At(12'345);
    UpdateCaptureClock();
    EXPECT_FLOAT_EQ(g_NetworkStatistics.m_fElapsedSeconds, 12.345f);
    EXPECT_EQ(g_NetworkStatistics.m_nStartHour, 10);
    EXPECT_EQ(g_NetworkStatistics.m_nStartSecond, 0);
}

// Hours into a capture the elapsed time no longer fits a float to the millisecond; the second must
// still agree with the milliseconds (not be rounded up ahead of them).
TEST_F(CaptureClockTest, LongCaptureKeepsSecondAndMillisecondsTogether)
{
    BeginCapture(2024, 1, 1, 0, 0, 0);
    g_fakeCounter = g_NetworkStatistics.m_liStartCount + 100'000LL * 1'000'000'000LL + 999'600'000LL;
    UpdateCaptureClock();
    // 100000 s is 1 day, 3 h, 46 min, 40 s.
    EXPECT_EQ(Stamp(), "02-01-2024 03:46:40:999");
}

TEST_F(CaptureClockTest, FrequencyOtherThanNanoseconds)
{
    BeginCapture(2024, 6, 3, 10, 0, 0);
    g_NetworkStatistics.m_liFrequency = 3'579'545; // the old ACPI timer rate
    g_fakeCounter = g_NetworkStatistics.m_liStartCount + 3'579'545LL * 61 + (3'579'545LL + 3) / 4;
    UpdateCaptureClock();
    EXPECT_EQ(Stamp(), "03-06-2024 10:01:01:250");
}

TEST_F(CaptureClockTest, FormatTimestampPageAndFolderForms)
{
    g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
    char out[32];
    std::memset(out, 'x', sizeof out);
    FormatTimestamp(out, 0);
    EXPECT_STREQ(out, "[05-03-2009 14:07:09]");
    EXPECT_EQ(std::strlen(out), 21u);
    FormatTimestamp(out, 1);
    EXPECT_STREQ(out, " [05-03-2009 14-07-09]");
    EXPECT_EQ(std::strlen(out), 22u);
}

} // namespace

namespace {

TEST_F(CaptureClockTest, StartReadsWallClockThenCounter)
{
    g_fakeWall = Utc(2009, 3, 5, 23, 59, 58);
    g_fakeCounter = 777'000'000'000LL;
    g_NetworkStatistics.Reset();
    StartCaptureClock();
    const CNetworkStatistics& st = g_NetworkStatistics;
    EXPECT_EQ(st.m_liStartCount, 777'000'000'000LL);
    EXPECT_EQ(st.m_liFrequency, 1'000'000'000LL);
    EXPECT_EQ(st.m_nStartYear, 2009);
    EXPECT_EQ(st.m_nStartMonth, 3);
    EXPECT_EQ(st.m_nStartDay, 5);
    EXPECT_EQ(st.m_nStartHour, 23);
    EXPECT_EQ(st.m_nStartMinute, 59);
    EXPECT_EQ(st.m_nStartSecond, 58);
    EXPECT_EQ(st.m_nStartMillisecond, 0);

    g_fakeCounter += 2'500'000'000LL;
    UpdateCaptureClock();
    EXPECT_EQ(Stamp(), "06-03-2009 00:00:00:500");
}

} // namespace
