#pragma once
// What the report writers' tests share: a report folder of their own, and expected files written by
// hand. The page frame (head, foot, text footer) is not these writers' own: the expected files mark
// where it goes and the test fills it in from the page template, with every page time normalised.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "mstp/mstp_stack.h"
#include "reports/page_template.h"
#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

namespace fs = std::filesystem;

namespace report_test {

inline std::string ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

template <class Writer>
inline std::string Rendered(Writer write)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    write(f);
    std::fclose(f);
    std::string text(data, size);
    std::free(data);
    return text;
}

// Fills in @@HEAD:<title>@@ (title with \n escapes), @@FOOT@@ and @@TEXT_FOOTER@@.
inline std::string ExpandFrame(std::string text)
{
    static const std::regex head("@@HEAD:(.*?)@@");
    std::string out;
    std::smatch m;
    while (std::regex_search(text, m, head)) {
        std::string title = std::regex_replace(m[1].str(), std::regex("\\\\n"), "\n");
        out += m.prefix().str();
        out += Rendered([&](FILE* f) { WriteHtmlHead(f, title.c_str()); });
        text = m.suffix().str();
    }
    out += text;
    auto replaceAll = [&](const std::string& marker, const std::string& with) {
        for (size_t at; (at = out.find(marker)) != std::string::npos;)
            out.replace(at, marker.size(), with);
    };
    replaceAll("@@FOOT@@", Rendered([](FILE* f) { WriteHtmlFoot(f); }));
    replaceAll("@@TEXT_FOOTER@@", Rendered([](FILE* f) { WriteTextFooter(f); }));
    return out;
}

// Page times ("[dd-mm-yyyy hh:mm:ss]") differ from run to run; capture stamps carry milliseconds and stay.
inline std::string NormaliseTimes(const std::string& text)
{
    static const std::regex pageTime(R"(\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\])");
    return std::regex_replace(text, pageTime, "[TIME]");
}

inline std::string Expected(const char* fixture)
{
    fs::path path = fs::path(REPORT_FIXTURE_DIR) / fixture;
    EXPECT_TRUE(fs::exists(path)) << path;
    return NormaliseTimes(ExpandFrame(ReadWhole(path)));
}

inline void SetStamp(char (&slot)[CAPTURE_STAMP_SIZE], const char* text)
{
    std::snprintf(slot, sizeof slot, "%s", text);
}

// The four figures of the token time table, and the sums of the open block.
inline void SetTokenTimes(int mac, int longestBetween, int shortestBetween, int longestHold,
                          int shortestHold, int sumBetween = 0, int sumHold = 0)
{
    TokenTiming& t = g_NetworkStatistics.m_TokenTiming[mac];
    t.m_nLongestBetween = longestBetween;
    t.m_nShortestBetween = shortestBetween;
    t.m_nLongestHold = longestHold;
    t.m_nShortestHold = shortestHold;
    t.m_nSumBetween = sumBetween;
    t.m_nSumHold = sumHold;
}

// The writers in the order the end of a capture runs them, and the index page closed off.
inline void WriteAllReportsInStopOrder()
{
    WriteMacAddressReport();
    WriteOperationalReports();
    WriteNotesReport();
    WriteWhoTalksToWhoReport();
    WriteEffectiveMaxMasterReport();
    FinishIndexPage();
}

class ReportFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/report_writers_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_folder = m_root / "noname [05-03-2009 14-07-09]";
        fs::create_directory(m_folder);
        g_strReportPath = m_folder.string();
        AllocateDeviceTable();
        ASSERT_NE(g_pDevices, nullptr);
        g_NetworkStatistics.Reset();
        g_MstpStack.m_nAverageDim = 100;
        TakeUnwrittenReportFiles();
    }

    void TearDown() override
    {
        TakeUnwrittenReportFiles();
        FreeDeviceTable();
        g_pDevices = nullptr;
        fs::remove_all(m_root);
    }

    std::string Actual(const char* file) const
    {
        fs::path path = m_folder / file;
        EXPECT_TRUE(fs::exists(path)) << path;
        return NormaliseTimes(ReadWhole(path));
    }

    void ExpectFile(const char* file, const char* fixture) const
    {
        EXPECT_EQ(Actual(file), Expected(fixture)) << file << " against " << fixture;
    }

    // A file of the folder that cannot be created: a folder stands in its place.
    void Block(const char* file) const { fs::create_directory(m_folder / file); }
    // A file on a full disk: it opens, and every write to it fails as on a full disk.
    void OnFullDisk(const char* file) const { fs::create_symlink("/dev/full", m_folder / file); }

    std::string NotCreated(const char* file) const
    {
        return "FYI: File: " + (m_folder / file).string() + " could not be created\n";
    }

    fs::path m_root;
    fs::path m_folder;
};

} // namespace report_test
