// The report writers against expected files written by hand from table contents set up here.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/clock.h"
#include "reports/reports_fixture.h"

#include "reports/report_writers.h"
#include "report_writers/report_fixture.h"

using namespace report_test;

namespace {

class ReportWriters : public ReportFolderTest {
protected:
    // Masters 1 and 3 pass the token; 3 also answered as a slave and talked out of turn seven times;
    // 20 is a slave; 22 was addressed and never answered.
    static void BuildRing()
    {
        CNetworkStatistics& s = g_NetworkStatistics;
        DeviceRecord& m1 = g_pDevices[1];
        m1.m_bPresent = m1.m_bMaster = 1;
        int sent1[8] = {29, 50, 0, 0, 0, 21, 0, 0};
        int received1[8] = {2, 0, 0, 0, 0, 0, 1, 0};
        for (int t = 0; t < 8; ++t) {
            m1.m_nFrameCount[t][0] = sent1[t];
            m1.m_nFrameCount[t][1] = received1[t];
        }
        SetTokenTimes(1, 250, 180, 40, 5, 1500, 90);
        g_nBetweenBlockIndex[1] = g_nHoldBlockIndex[1] = 1;
        SetStamp(m1.m_szBlockStamp[0], " [05-03-2009 14:07:09:123]");
        SetStamp(m1.m_szBlockStamp[1], " [05-03-2009 14:08:01:456]");
        s.m_nBetweenAverage[1][0] = 210;
        s.m_nHoldAverage[1][0] = 0;
        s.m_nBetweenCount[1] = s.m_nHoldCount[1] = 7;
        m1.m_nSentTo[3] = 1;
        m1.m_nSentTo[20] = 3;

        DeviceRecord& m3 = g_pDevices[3];
        m3.m_bPresent = m3.m_bMaster = m3.m_bSlave = 1;
        m3.m_nFrameCount[0][0] = 2;
        m3.m_nFrameCount[4][0] = 1;
        SetTokenTimes(3, 120, 90, 15, 3);
        SetStamp(m3.m_szBlockStamp[0], " [05-03-2009 14:07:10:000]");
        m3.m_bBrokeSequence = 1;
        m3.m_nOutOfTurnCount = 7;
        for (int k = 0; k < OUT_OF_TURN_STAMP_COUNT; ++k) {
            char stamp[CAPTURE_STAMP_SIZE];
            std::snprintf(stamp, sizeof stamp, " [05-03-2009 14:09:00:00%d]", 7 - k);
            SetStamp(m3.m_szOutOfTurnStamp[k], stamp);
        }
        m3.m_nReceivedFrom[1] = 1;

        DeviceRecord& s20 = g_pDevices[20];
        s20.m_bPresent = s20.m_bSlave = 1;
        s20.m_nFrameCount[5][1] = 3;

        g_pDevices[22].m_bAwaitingReply = 1;
    }

};

// ---------------------------------------------------------------- operational reports

TEST_F(ReportWriters, OperationalReportsOfARingWithASlave)
{
    BuildRing();
    WriteIndexPage();
    WriteOperationalReports();
    ExpectFile("Op_Report_MAC_1.txt", "op_mac1.txt");
    ExpectFile("Op_Report_MAC_1.html", "op_mac1.html");
    ExpectFile("Op_Report_MAC_3.txt", "op_mac3.txt");
    ExpectFile("Op_Report_MAC_20.txt", "op_mac20.txt");
    EXPECT_FALSE(fs::exists(m_folder / "Op_Report_MAC_22.txt")) << "a missing slave is not present";

    // The open block's averages go back into the tables; a closed hold average of 0 becomes 1.
    EXPECT_EQ(g_NetworkStatistics.m_nHoldAverage[1][0], 1);
    EXPECT_EQ(g_NetworkStatistics.m_nBetweenAverage[1][1], 214);
    EXPECT_EQ(g_NetworkStatistics.m_nHoldAverage[1][1], 12);
    EXPECT_EQ(g_NetworkStatistics.m_nBetweenCount[20], 1);
    EXPECT_EQ(g_NetworkStatistics.m_nHoldAverage[20][0], 1);
}

TEST_F(ReportWriters, OperationalReportAtTheLastBlock)
{
    CNetworkStatistics& s = g_NetworkStatistics;
    DeviceRecord& d = g_pDevices[254];
    d.m_bPresent = d.m_bMaster = 1;
    d.m_nFrameCount[0][0] = 1;
    d.m_nFrameCount[0][1] = 1;
    SetTokenTimes(254, 400, 200, 60, 10, 40 * 305 + 7, 40 * 25 + 39);
    s.m_nBetweenCount[254] = s.m_nHoldCount[254] = 40;
    g_nBetweenBlockIndex[254] = g_nHoldBlockIndex[254] = 9;
    for (int j = 0; j < 9; ++j) {
        char stamp[CAPTURE_STAMP_SIZE];
        std::snprintf(stamp, sizeof stamp, " [05-03-2009 15:0%d:00:000]", j);
        SetStamp(d.m_szBlockStamp[j], stamp);
        s.m_nBetweenAverage[254][j] = 300 + j;
        s.m_nHoldAverage[254][j] = 20 + j;
    }
    SetStamp(d.m_szBlockStamp[9], " [05-03-2009 15:09:30:500]");
    WriteOperationalReports();
    ExpectFile("Op_Report_MAC_254.txt", "op_mac254.txt");
}

// Each read of the wall clock is one second later than the one before.
time_t g_nextWall = 0;
time_t TickingWall()
{
    return g_nextWall++;
}

TEST_F(ReportWriters, OperationalReportsWriteBothHeadsBeforeEitherFoot)
{
    setenv("TZ", "UTC", 1);
    tzset();
    g_nextWall = reports_test::Utc(2009, 3, 5, 14, 7, 9);
    SetWallClockHook(TickingWall);
    g_pDevices[5].m_bPresent = g_pDevices[5].m_bSlave = 1;
    WriteOperationalReports();
    SetWallClockHook(nullptr);

    // The page head reads the clock first, the text footer next; the page foot repeats the head.
    std::string page = ReadWhole(m_folder / "Op_Report_MAC_5.html");
    std::string text = ReadWhole(m_folder / "Op_Report_MAC_5.txt");
    EXPECT_NE(page.find("<br />Created on: [05-03-2009 14:07:09]<br /></div>"), std::string::npos) << page;
    EXPECT_NE(page.find("\t\tCreated on: [05-03-2009 14:07:09]<br />"), std::string::npos) << page;
    EXPECT_TRUE(text.ends_with("\"\n\t[05-03-2009 14:07:10]\n")) << text;
}

// Count, heading number and stamps listed (oldest first) for a station with c out-of-turn frames.
struct OutOfTurnCase {
    int count;
    const char* expectedTail;
};

TEST_F(ReportWriters, OutOfTurnSectionListsAtMostFiveStampsOldestFirst)
{
    const char* intro = "\nDevice Broke a sequence!! \nNote: \"The device talked out of turn, it didn't have the "
                        "token but it\nstill sent messages on the network\"\n";
    const OutOfTurnCase cases[] = {
        {1, "\nOut of turn message count: 1\nTime stamp of last 1 out of turn messages:\n\t [s0]\n"},
        {5, "\nOut of turn message count: 5\nTime stamp of last 5 out of turn messages:\n"
            "\t [s4]\n\t [s3]\n\t [s2]\n\t [s1]\n\t [s0]\n"},
        {7, "\nOut of turn message count: 7\nTime stamp of last 5 out of turn messages:\n"
            "\t [s4]\n\t [s3]\n\t [s2]\n\t [s1]\n\t [s0]\n"},
    };
    for (const OutOfTurnCase& c : cases) {
        SCOPED_TRACE(c.count);
        DeviceRecord& d = g_pDevices[9];
        d.m_bPresent = d.m_bSlave = 1;
        d.m_bBrokeSequence = 1;
        d.m_nOutOfTurnCount = c.count;
        for (int k = 0; k < OUT_OF_TURN_STAMP_COUNT; ++k) {
            char stamp[CAPTURE_STAMP_SIZE];
            std::snprintf(stamp, sizeof stamp, " [s%d]", k);
            SetStamp(d.m_szOutOfTurnStamp[k], stamp);
        }
        WriteOperationalReports();
        std::string text = Actual("Op_Report_MAC_9.txt");
        std::string tail = std::string("Holding time :   1ms\n\n") + intro + c.expectedTail +
                           "-------------------------------------------------------------------------------\n"
                           "\n\n\t";
        EXPECT_NE(text.find(tail), std::string::npos) << text;
    }
}

TEST_F(ReportWriters, SharesAreTruncated)
{
    // 2 of 3 gives 66 and 1 of 3 gives 33; 29 of 100 gives 28 and 57 of 100 gives 56.
    DeviceRecord& d = g_pDevices[4];
    d.m_bPresent = d.m_bMaster = 1;
    d.m_nFrameCount[0][0] = 29;
    d.m_nFrameCount[6][0] = 57;
    d.m_nFrameCount[5][0] = 14;
    d.m_nFrameCount[0][1] = 2;
    d.m_nFrameCount[1][1] = 1;
    WriteOperationalReports();
    std::string text = Actual("Op_Report_MAC_4.txt");
    EXPECT_NE(text.find("\t00 Token sent:\t\t\t\t29         - 28 %\n"), std::string::npos);
    EXPECT_NE(text.find("\t06 Data Not Expecting Reply sent:\t57         - 56 %\n"), std::string::npos);
    EXPECT_NE(text.find("\t05 Data Expecting Reply sent:\t\t14         - 14 %\n"), std::string::npos);
    EXPECT_NE(text.find("\t00 Token received:\t\t\t2          - 66 %\n\n"), std::string::npos);
    EXPECT_NE(text.find("\t01 Poll For Master received:\t\t1          - 33 %\n\n"), std::string::npos);
}

TEST_F(ReportWriters, OpenBlockOfAStationThatNeverPassedTheToken)
{
    g_pDevices[7].m_bPresent = g_pDevices[7].m_bSlave = 1;
    WriteOperationalReports();
    std::string text = Actual("Op_Report_MAC_7.txt");
    EXPECT_NE(text.find("\n\n\nStart at  Received     1 Tokens. The Average receive time is :    0ms. "
                        "Holding time :   1ms\n\n------"),
              std::string::npos)
        << text;
}

TEST_F(ReportWriters, NoStationPresentWritesNoReportAndNoLink)
{
    WriteIndexPage();
    std::string before = ReadWhole(m_folder / "index.html");
    WriteOperationalReports();
    EXPECT_EQ(ReadWhole(m_folder / "index.html"), before);
    for (const auto& entry : fs::directory_iterator(m_folder))
        EXPECT_EQ(entry.path().filename(), "index.html");
}

TEST_F(ReportWriters, TextReportThatCannotBeCreatedStopsAllLaterStations)
{
    BuildRing();
    WriteIndexPage();
    Block("Op_Report_MAC_1.txt");
    testing::internal::CaptureStdout();
    WriteOperationalReports();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), NotCreated("Op_Report_MAC_1.txt"));
    EXPECT_EQ(ReadWhole(m_folder / "Op_Report_MAC_1.html"), "");
    EXPECT_FALSE(fs::exists(m_folder / "Op_Report_MAC_3.txt"));
    EXPECT_FALSE(fs::exists(m_folder / "Op_Report_MAC_3.html"));
    EXPECT_EQ(TakeUnwrittenReportFiles(), (std::vector<std::string>{"Op_Report_MAC_1.txt", "Op_Report_MAC_1.html"}))
        << "the page that opened is left empty";
    std::string index = ReadWhole(m_folder / "index.html");
    EXPECT_TRUE(index.ends_with(
        "Device Operate Report Files<br>    <IMG SRC=\"link_icon.gif\"><A HREF=\"Op_Report_MAC_1.html\">"
        "Op_Report_MAC_1.html</A><br>"))
        << index;
}

TEST_F(ReportWriters, HtmlReportThatCannotBeCreatedLeavesTheTextReportEmpty)
{
    BuildRing();
    Block("Op_Report_MAC_3.html");
    testing::internal::CaptureStdout();
    WriteOperationalReports();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), NotCreated("Op_Report_MAC_3.html"));
    ExpectFile("Op_Report_MAC_1.txt", "op_mac1.txt");
    EXPECT_EQ(ReadWhole(m_folder / "Op_Report_MAC_3.txt"), "");
    EXPECT_FALSE(fs::exists(m_folder / "Op_Report_MAC_20.txt"));
    EXPECT_EQ(TakeUnwrittenReportFiles(), (std::vector<std::string>{"Op_Report_MAC_3.txt", "Op_Report_MAC_3.html"}));
}

TEST_F(ReportWriters, IndexThatCannotBeAppendedToIsNamedAndTheReportsStillWritten)
{
    BuildRing();
    Block("index.html");
    testing::internal::CaptureStdout();
    WriteOperationalReports();
    FinishIndexPage();
    std::string once = NotCreated("index.html");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), once + once + once + once);
    EXPECT_EQ(TakeUnwrittenReportFiles(), std::vector<std::string>{"index.html"});
    ExpectFile("Op_Report_MAC_1.txt", "op_mac1.txt");
    ExpectFile("Op_Report_MAC_20.txt", "op_mac20.txt");
}

TEST_F(ReportWriters, OperationalReportsInAFolderThatDoesNotExist)
{
    BuildRing();
    g_strReportPath = (m_root / "gone").string();
    testing::internal::CaptureStdout();
    WriteOperationalReports();
    std::string folder = g_strReportPath;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FYI: File: " + folder + "/index.html could not be created\n" + "FYI: File: " + folder +
                  "/Op_Report_MAC_1.txt could not be created\n");
    EXPECT_FALSE(fs::exists(m_root / "gone"));
}

// ---------------------------------------------------------------- index page

TEST_F(ReportWriters, IndexPageWhileTheCaptureRuns)
{
    WriteIndexPage();
    ExpectFile("index.html", "index_start.html");
}

TEST_F(ReportWriters, IndexPageAfterAWholeCapture)
{
    BuildRing();
    WriteIndexPage();
    WriteAllReportsInStopOrder();
    ExpectFile("index.html", "index_ring.html");

    // The foot repeats the head time of the last page written at Stop, not the index's own.
    std::string index = ReadWhole(m_folder / "index.html");
    std::string last = ReadWhole(m_folder / "Effective_max_master_report.html");
    std::string createdOn = "Created on: " + std::string(g_szCreatedOn);
    EXPECT_EQ(last.substr(last.find("Created on: "), createdOn.size()), createdOn);
    EXPECT_EQ(index.substr(index.rfind("Created on: "), createdOn.size()), createdOn);
}

TEST_F(ReportWriters, IndexPageOfACaptureWithoutStations)
{
    WriteIndexPage();
    WriteOperationalReports();
    FinishIndexPage();
    ExpectFile("index.html", "index_empty.html");
}

TEST_F(ReportWriters, IndexPageIsEmptiedByANewStart)
{
    BuildRing();
    WriteIndexPage();
    WriteOperationalReports();
    WriteIndexPage();
    ExpectFile("index.html", "index_start.html");
}

// ---------------------------------------------------------------- notes, MAC, who, effective

TEST_F(ReportWriters, NotesReport)
{
    WriteNotesReport();
    ExpectFile("Notes_report.txt", "notes.txt");
    ExpectFile("Notes_report.html", "notes.html");
}

TEST_F(ReportWriters, MacAddressReportOfTheRing)
{
    BuildRing();
    WriteMacAddressReport();
    ExpectFile("MAC_add_report.txt", "mac_ring.txt");
    ExpectFile("MAC_add_report.html", "mac_ring.html");
}

TEST_F(ReportWriters, MacAddressReportOfACaptureWithoutFrames)
{
    WriteMacAddressReport();
    ExpectFile("MAC_add_report.txt", "mac_empty.txt");
    ExpectFile("MAC_add_report.html", "mac_empty.html");
}

// Section 1 and 2 lines of the MAC address report for a few station layouts.
struct SuggestionCase {
    const char* name;
    void (*build)();
    const char* section1;
    const char* section2;
};

std::string SectionLine(const std::string& text, const char* heading)
{
    // The heading's own lines, then the rule line, then the section's first line.
    size_t at = text.find(heading);
    if (at == std::string::npos)
        return "<no heading>";
    at = text.find("-\n", at) + 2;
    return text.substr(at, text.find('\n', at) - at + 1);
}

TEST_F(ReportWriters, MacAddressSuggestions)
{
    const SuggestionCase cases[] = {
        {"masters at 10 and 20, 0 to 8 present",
         [] {
             for (int a = 0; a <= 8; ++a)
                 g_pDevices[a].m_bPresent = 1;
             for (int a : {10, 20})
                 g_pDevices[a].m_bPresent = g_pDevices[a].m_bMaster = 1;
         },
         "\tMAC = 9\n", "\tMAC = 11\n"},
        {"MAC 0 is an active master", [] { g_pDevices[0].m_bPresent = g_pDevices[0].m_bMaster = 1; },
         "\tMAC = None (Note: MAC 0 is an active master)\n", "\tMAC = 1\n"},
        {"every address present",
         [] {
             for (int a = 0; a < MSTP_STATION_COUNT; ++a)
                 g_pDevices[a].m_bPresent = 1;
         },
         "\tMAC = 127 (Note: No active masters found on network)\n",
         "\tMAC = None (Note: No open spot found on Network)\n"},
        {"only 127 is free and no master",
         [] {
             for (int a = 0; a < MSTP_STATION_COUNT; ++a)
                 g_pDevices[a].m_bPresent = a != 127;
         },
         "\tMAC = 127 (Note: No active masters found on network)\n",
         "\tMAC = None (Note: No open spot found on Network)\n"},
    };
    for (const SuggestionCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(g_pDevices, 0, sizeof(DeviceRecord) * MSTP_STATION_COUNT);
        c.build();
        WriteMacAddressReport();
        std::string text = Actual("MAC_add_report.txt");
        EXPECT_EQ(SectionLine(text, "Suggested max Master MAC address: "), c.section1);
        EXPECT_EQ(SectionLine(text, "Suggested next Slave MAC address: "), c.section2);
        EXPECT_EQ(NormaliseTimes(ReadWhole(m_folder / "MAC_add_report.html")).find("MAC = -"), std::string::npos);
    }
}

TEST_F(ReportWriters, MacAddressListsOfEveryPresentStation)
{
    for (int a = 0; a < MSTP_STATION_COUNT; ++a)
        g_pDevices[a].m_bPresent = 1;
    g_pDevices[130].m_bMaster = 1; // a master above 127 is in no list
    WriteMacAddressReport();
    std::string text = Actual("MAC_add_report.txt");
    EXPECT_EQ(SectionLine(text, "List of possible Master/Slave"), "\tNo Open slots.\n");
    EXPECT_EQ(SectionLine(text, "List of posible Slave"), "\tNo Open slots.\n");
    EXPECT_EQ(SectionLine(text, "Active Master MAC addresses: "), "\tNo Active Masters found on network.\n");
}

TEST_F(ReportWriters, WhoTalksToWhoOfTheRing)
{
    BuildRing();
    WriteWhoTalksToWhoReport();
    ExpectFile("Who_talks_to_who_report.txt", "who_ring.txt");
    ExpectFile("Who_talks_to_who_report.html", "who_ring.html");
}

TEST_F(ReportWriters, WhoTalksToWhoWithoutMasters)
{
    g_pDevices[200].m_bMaster = 1; // above 127: not examined
    g_pDevices[200].m_nSentTo[1] = 4;
    WriteWhoTalksToWhoReport();
    ExpectFile("Who_talks_to_who_report.txt", "who_empty.txt");
    ExpectFile("Who_talks_to_who_report.html", "who_empty.html");
}

TEST_F(ReportWriters, WhoTalksToWhoMasterWithoutData)
{
    g_pDevices[5].m_bMaster = 1;
    g_pDevices[1].m_bMaster = 1;
    g_pDevices[1].m_nSentTo[200] = 3;
    g_pDevices[1].m_nReceivedFrom[200] = 2;
    g_pDevices[1].m_nReceivedFrom[254] = 1;
    WriteWhoTalksToWhoReport();
    std::string text = Actual("Who_talks_to_who_report.txt");
    std::string rule = "-------------------------------------------------------------------------------\n";
    EXPECT_NE(text.find(rule + "MAC_1  \n\tMAC_200 - Sent = 3,\tReceived = 2\n\tMAC_254 - Sent = 0,\tReceived = 1\n\n" +
                        rule + "MAC_5  \n\tNone\n\n" + rule + "\n\n\t"),
              std::string::npos)
        << text;
}

struct EffectiveCase {
    const char* fixture;
    int top;
    int effective;
    std::vector<int> polled;
    int abnormal;
};

TEST_F(ReportWriters, EffectiveMaxMasterWarnings)
{
    auto range = [](int from, int to, std::vector<int> except) {
        std::vector<int> out;
        for (int a = from; a <= to; ++a)
            if (std::find(except.begin(), except.end(), a) == except.end())
                out.push_back(a);
        return out;
    };
    const EffectiveCase cases[] = {
        {"emm_empty", 0, 0, {}, 0},
        {"emm_no_warning", 5, 127, range(6, 127, {}), 0},
        {"emm_skip_8", 5, 10, {6, 7, 9, 10}, 1},
        {"emm_skip_8_9", 3, 127, range(4, 127, {8, 9}), 1},
        {"emm_top_polls_nothing_above", 9, 10, {10}, 0},
    };
    for (const EffectiveCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        g_NetworkStatistics.Reset();
        g_NetworkStatistics.m_byTopMaster = static_cast<BYTE>(c.top);
        g_NetworkStatistics.m_byEffectiveMaxMaster = static_cast<BYTE>(c.effective);
        for (int a : c.polled)
            g_NetworkStatistics.m_bPolled[a] = 1;
        WriteEffectiveMaxMasterReport();
        ExpectFile("Effective_max_master_report.txt", (std::string(c.fixture) + ".txt").c_str());
        ExpectFile("Effective_max_master_report.html", (std::string(c.fixture) + ".html").c_str());
        EXPECT_EQ(g_NetworkStatistics.m_bTopMasterAbnormal, c.abnormal);
    }
}

TEST_F(ReportWriters, EffectiveMaxMasterOfTheHighestAddresses)
{
    // 255 is a legal octet for both values; the range stays inside the polled table.
    g_NetworkStatistics.m_byTopMaster = 250;
    g_NetworkStatistics.m_byEffectiveMaxMaster = 255;
    WriteEffectiveMaxMasterReport();
    std::string text = Actual("Effective_max_master_report.txt");
    EXPECT_NE(text.find("in the range 251 to 255 but instead it doesn't poll for devices with MAC address\n"
                        ", 251, 252, 253, 254 in this range.\"\n"),
              std::string::npos)
        << text;
}

// ---------------------------------------------------------------- failure paths of the pair writers

struct PairWriterCase {
    const char* name;
    void (*write)();
    const char* base;
};

const PairWriterCase kPairWriters[] = {
    {"notes", WriteNotesReport, "Notes_report"},
    {"MAC address", WriteMacAddressReport, "MAC_add_report"},
    {"who talks to who", WriteWhoTalksToWhoReport, "Who_talks_to_who_report"},
    {"effective max master", WriteEffectiveMaxMasterReport, "Effective_max_master_report"},
};

TEST_F(ReportWriters, PairWritersInAFolderThatDoesNotExist)
{
    g_strReportPath = (m_root / "gone").string();
    for (const PairWriterCase& c : kPairWriters) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        c.write();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "FYI: File: " + g_strReportPath + "/" + c.base + ".txt could not be created\n");
        EXPECT_EQ(TakeUnwrittenReportFiles(),
                  (std::vector<std::string>{std::string(c.base) + ".txt", std::string(c.base) + ".html"}));
    }
    testing::internal::CaptureStdout();
    WriteIndexPage();
    FinishIndexPage();
    std::string notCreated = "FYI: File: " + g_strReportPath + "/index.html could not be created\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), notCreated + notCreated);
    EXPECT_FALSE(fs::exists(m_root / "gone"));
}

TEST_F(ReportWriters, PairWritersWhosePageCannotBeCreated)
{
    BuildRing();
    for (const PairWriterCase& c : kPairWriters) {
        SCOPED_TRACE(c.name);
        std::string page = std::string(c.base) + ".html";
        Block(page.c_str());
        testing::internal::CaptureStdout();
        c.write();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), NotCreated(page.c_str()));
        std::string text = ReadWhole(m_folder / (std::string(c.base) + ".txt"));
        EXPECT_TRUE(text.starts_with("-----")) << "the text report is written whole first";
        EXPECT_TRUE(text.ends_with("]\n"));
        EXPECT_EQ(TakeUnwrittenReportFiles(), std::vector<std::string>{page});
    }
}

// ---------------------------------------------------------------- a full disk

// Every writer of a capture with some of its files on a full disk: they open, their writes fail.
// Exactly those are named, in the order they were written, and no notice is printed for them: they
// were created.
TEST_F(ReportWriters, FilesOnAFullDiskAreNamedAndTheOthersWrittenWhole)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    BuildRing();
    for (const char* file : {"index.html", "MAC_add_report.txt", "Op_Report_MAC_3.html", "Notes_report.txt",
                             "Who_talks_to_who_report.html", "Effective_max_master_report.txt"})
        OnFullDisk(file);
    testing::internal::CaptureStdout();
    WriteIndexPage();
    WriteAllReportsInStopOrder();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(TakeUnwrittenReportFiles(),
              (std::vector<std::string>{"index.html", "MAC_add_report.txt", "Op_Report_MAC_3.html", "Notes_report.txt",
                                        "Who_talks_to_who_report.html", "Effective_max_master_report.txt"}));
    EXPECT_TRUE(TakeUnwrittenReportFiles().empty()) << "the list is taken once";
    ExpectFile("MAC_add_report.html", "mac_ring.html");
    ExpectFile("Op_Report_MAC_3.txt", "op_mac3.txt");
    ExpectFile("Op_Report_MAC_20.txt", "op_mac20.txt");
    ExpectFile("Notes_report.html", "notes.html");
    ExpectFile("Who_talks_to_who_report.txt", "who_ring.txt");
}

// A stream keeps a short text in its buffer until the close, so the full disk shows only there; a
// long one fails on the way. Both name the file.
TEST_F(ReportWriters, AWriteThatFailsOnTheWayOrOnlyAtTheCloseNamesTheFile)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    OnFullDisk("Short_report.txt");
    OnFullDisk("Long_report.html");
    const std::string longText(200000, 'x');
    EXPECT_TRUE(WriteReportPair(
        "Short_report", [](FILE* f) { std::fputs("a few words", f); }, [](FILE* f) { std::fputs("<p></p>", f); }));
    EXPECT_TRUE(WriteReportPair(
        "Long_report", [](FILE* f) { std::fputs("a few words", f); },
        [&](FILE* f) { std::fputs(longText.c_str(), f); }));
    EXPECT_EQ(TakeUnwrittenReportFiles(), (std::vector<std::string>{"Short_report.txt", "Long_report.html"}));
    EXPECT_EQ(ReadWhole(m_folder / "Short_report.html"), "<p></p>");
    EXPECT_EQ(ReadWhole(m_folder / "Long_report.txt"), "a few words");
}

TEST_F(ReportWriters, WithoutAReportFolderNothingIsWritten)
{
    BuildRing();
    g_strReportPath.clear();
    const fs::path cwd = fs::current_path();
    fs::current_path(m_root);
    testing::internal::CaptureStdout();
    WriteIndexPage();
    WriteAllReportsInStopOrder();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    fs::current_path(cwd);
    for (const char* name : {"index.html", "Op_Report_MAC_1.txt", "Op_Report_MAC_1.html", "MAC_add_report.txt",
                             "Notes_report.txt", "Who_talks_to_who_report.txt", "Effective_max_master_report.txt"}) {
        EXPECT_FALSE(fs::exists(fs::path("/") / name)) << name;
        EXPECT_FALSE(fs::exists(m_root / name)) << name;
    }
}

TEST_F(ReportWriters, WritersOfTheDeviceTableWriteNothingWithoutIt)
{
    FreeDeviceTable();
    WriteIndexPage();
    const std::string index = ReadWhole(m_folder / "index.html");
    testing::internal::CaptureStdout();
    WriteMacAddressReport();
    WriteOperationalReports();
    WriteWhoTalksToWhoReport();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ReadWhole(m_folder / "index.html"), index);
    for (const auto& entry : fs::directory_iterator(m_folder))
        EXPECT_EQ(entry.path().filename(), "index.html");
}

} // namespace
