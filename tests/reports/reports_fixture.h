#pragma once
// What the tests of the frame monitor, the statistics and the page frame share: a fresh report
// folder of their own, a hand-driven performance counter and wall clock, and the start of a capture
// as the main window's Start leaves it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "build_config.h"
#include "mstp/mstp_stack.h"
#include "platform/clock.h"
#include "reports/frame_monitor.h"
#include "reports/report_files.h"
#include "reports/statistics.h"

namespace reports_test {

inline int64_t g_fakeCounter = 0;
inline time_t g_fakeWall = 0;

inline int64_t FakeCounter() { return g_fakeCounter; }
inline time_t FakeWall() { return g_fakeWall; }

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// The page frame as written by hand: head with its title and creation time, and the foot.
inline const std::string kSite = std::string("http://") + QUORIX_WEB_HOST + "/";

inline std::string ExpectedHead(const std::string& title, const std::string& createdOn)
{
    return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">"
           "<head>"
           "<title>" + title + "</title>"
           "<link rel=\"StyleSheet\" href=\"style.css\" type=\"text/css\" />"
           "<meta name=\"generator\" content=\"Quorix, v1.1.0\" />"
           "</head>"
           "<body>"
           "\t<div id='heading'>"
           "\t<div id='info'>Created by: <a href='__UTILITY_URL__'>Quorix</a>, v1.1.0<br />Created on: " +
           createdOn + "<br /></div>"
           "\t<a href='" + kSite + "'><img src='logo.gif' alt='Vantrel web site' /></a>"
           "\t</div>"
           "\t<div id='nav'></div>"
           "\t<div id='container'>";
}

inline std::string ExpectedFoot(const std::string& createdOn)
{
    return "\t<div id='footer'>"
           "\t\tCreated by: <a href='__UTILITY_URL__'>Quorix</a>, v1.1.0<br />"
           "\t\tCreated on: " + createdOn + "<br />"
           "\t\t<a href='" + kSite + "'> Vantrel</a><br />"
           "\t\t<a href='" + kSite + "contact'>Conact us</a>"
           "\t</div>\t"
           "</body>"
           "</html>";
}

// A UTC time for the wall clock hook (the tests run with TZ=UTC).
inline time_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

class ReportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        char pattern[] = "/tmp/quorix-reports-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        g_strReportPath = m_dir;
        g_fakeCounter = 5'000'000'000LL;
        g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
        SetPerformanceCounterHook(FakeCounter);
        SetWallClockHook(FakeWall);
        TakeUnwrittenReportFiles();
    }

    void TearDown() override
    {
        TakeUnwrittenReportFiles();
        FreeDeviceTable();
        SetPerformanceCounterHook(nullptr);
        SetWallClockHook(nullptr);
        std::string command = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    // What Start does before the stack runs: table, reset, start clocks, sample count, new capture.
    void BeginCapture(int year, int month, int day, int hour, int minute, int second, int averageDim = 100)
    {
        AllocateDeviceTable();
        ASSERT_NE(g_pDevices, nullptr);
        CNetworkStatistics& st = g_NetworkStatistics;
        st.Reset();
        st.m_liStartCount = g_fakeCounter;
        st.m_liFrequency = 1'000'000'000LL;
        st.m_nStartYear = year;
        st.m_nStartMonth = month;
        st.m_nStartDay = day;
        st.m_nStartHour = hour;
        st.m_nStartMinute = minute;
        st.m_nStartSecond = second;
        st.m_nStartMillisecond = 0;
        g_MstpStack.m_nAverageDim = averageDim;
        g_MstpStack.m_bNewCapture = 1;
    }

    // Moves the counter to the given time after Start.
    void At(int64_t milliseconds) { g_fakeCounter = g_NetworkStatistics.m_liStartCount + milliseconds * 1'000'000LL; }

    std::string Path(const char* name) const { return m_dir + "/" + name; }
    std::string RawText() const { return ReadFile(Path(RAW_LOG_TEXT_FILE)); }
    std::string RawHtml() const { return ReadFile(Path(RAW_LOG_HTML_FILE)); }

    std::string m_dir;
};

} // namespace reports_test
