// From octets to reports: a captured log file decoded by the MS/TP stack with the frame monitor
// installed, then every report writer as Stop runs them, against files worked out by hand.
#include <atomic>
#include <chrono>
#include <thread>

#include "mstp/mstp_stack.h"
#include "platform/clock.h"
#include "reports/frame_monitor.h"
#include "reports/report_writers.h"
#include "report_writers/report_fixture.h"
#include "support/mstp_frames.h"

using namespace report_test;

namespace {

constexpr int64_t kStartCount = 7'000'000'000LL;
constexpr int64_t kFrameSpacing = 10'000'000LL; // 10 ms at 1e9 counts per second

// The counter moves only between frames, so frame k is stamped exactly 10 * k ms after Start
// however fast the worker reads.
std::atomic<int64_t> g_counter{kStartCount};

int64_t Counter()
{
    return g_counter.load();
}

void MonitorThenTick(BYTE* pFrame, unsigned int nLength, BYTE source, BYTE destination, int valid, int errorKind)
{
    OnMonitoredFrame(pFrame, nLength, source, destination, valid, errorKind);
    g_counter.fetch_add(kFrameSpacing);
}

// Two masters, 1 and 3, pass the token; slave 20 answers; 22 never answers; 3 once talks while
// 1 holds the token. One data frame has a wrong data CRC and one Token a wrong header CRC.
mstpgen::Octets Capture()
{
    using namespace mstpgen;
    const Octets d6 = {0x01, 0x04, 0x02, 0x75, 0x11, 0x0C};
    const Octets d4 = {0x01, 0x00, 0x30, 0x11};
    Octets badData = Frame(DataExpectingReply, 20, 1, d6);
    badData[9] ^= 0x40;
    Octets badHeader = Frame(Token, 1, 3);
    badHeader[7] ^= 0x01;

    Octets all;
    for (const Octets& f : {
             Frame(Token, 3, 1),                          // k0
             Frame(DataExpectingReply, 20, 3, d6),        // k1
             Frame(DataNotExpectingReply, 3, 20, d4),     // k2: 20 answers
             Frame(PollForMaster, 4, 3),                  // k3
             Frame(Token, 1, 3),                          // k4
             Frame(DataExpectingReply, 22, 1, {0x01, 0x04, 0x00, 0x05, 0x01}), // k5: never answered
             Frame(DataNotExpectingReply, 255, 1, {0x01, 0x20, 0xFF, 0xFF, 0x00, 0xFF, 0x10, 0x08}), // k6
             Frame(Token, 3, 1),                          // k7
             Frame(Token, 1, 3),                          // k8
             Frame(Token, 3, 1),                          // k9: closes block 0 of master 1
             Frame(Token, 1, 3),                          // k10: closes block 0 of master 3
             badData,                                     // k11
             Frame(DataNotExpectingReply, 1, 20, d4),     // k12
             Frame(Token, 3, 1),                          // k13
             badHeader,                                   // k14: not counted
             Frame(Token, 1, 3),                          // k15
             Frame(DataNotExpectingReply, 1, 3, d4),      // k16: out of turn
             Frame(PollForMaster, 2, 1),                  // k17
             Frame(Token, 3, 1),                          // k18: closes block 1 of master 1
         })
        Append(all, f);
    return all;
}

class EndToEnd : public ReportFolderTest {
protected:
    void TearDown() override
    {
        g_MstpStack.SetFrameCallback(nullptr);
        SetPerformanceCounterHook(nullptr);
        ReportFolderTest::TearDown();
    }

    // Start as the main window does it, with the log file as source; returns once the reader has
    // reached the end of the file and the worker has been joined.
    void DecodeCapture(const std::string& hexLog)
    {
        std::string logPath = (m_root / "capture.txt").string();
        ASSERT_TRUE(mstpgen::WriteFile(logPath, hexLog));

        g_counter = kStartCount;
        SetPerformanceCounterHook(Counter);
        CNetworkStatistics& s = g_NetworkStatistics;
        s.m_liStartCount = kStartCount;
        s.m_liFrequency = 1'000'000'000LL;
        s.m_nStartYear = 2009;
        s.m_nStartMonth = 3;
        s.m_nStartDay = 5;
        s.m_nStartHour = 14;
        s.m_nStartMinute = 7;
        s.m_nStartSecond = 9;
        s.m_nStartMillisecond = 0;
        g_MstpStack.m_nAverageDim = 2;
        g_MstpStack.m_bNewCapture = 1;
        g_MstpStack.m_cSource = SOURCE_LOG_FILE;
        g_MstpStack.m_pLogFile = std::fopen(logPath.c_str(), "r");
        ASSERT_NE(g_MstpStack.m_pLogFile, nullptr);
        g_MstpStack.m_lLogFileSize = static_cast<int32_t>(hexLog.size());
        ASSERT_TRUE(WriteRawLogStart());

        // Installed before the worker starts, so that no frame of this short capture is missed.
        g_MstpStack.SetFrameCallback(MonitorThenTick);
        ASSERT_EQ(g_MstpStack.Connect(OnDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
        WriteIndexPage();
        while (g_MstpStack.m_nLogReadState.load() == LOG_READ_NORMAL)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        g_MstpStack.Disconnect();
        g_MstpStack.WaitForWorker();
        ASSERT_EQ(g_MstpStack.m_nLogReadState.load(), LOG_READ_COMPLETED);
    }

    static void WriteReportsAsStopDoes()
    {
        g_MstpStack.m_nAverageDim = 2;
        WriteAllReportsInStopOrder();
        WriteRawLogStop();
    }
};

TEST_F(EndToEnd, ReportsOfADecodedCapture)
{
    DecodeCapture(mstpgen::ToHexLog(Capture()));
    ASSERT_EQ(g_counter.load(), kStartCount + 19 * kFrameSpacing) << "every frame reached the monitor";
    WriteReportsAsStopDoes();

    ExpectFile("Op_Report_MAC_1.txt", "e2e_op_mac1.txt");
    ExpectFile("Op_Report_MAC_1.html", "e2e_op_mac1.html");
    ExpectFile("Op_Report_MAC_3.txt", "e2e_op_mac3.txt");
    ExpectFile("Op_Report_MAC_20.txt", "e2e_op_mac20.txt");
    ExpectFile("MAC_add_report.txt", "e2e_mac.txt");
    ExpectFile("MAC_add_report.html", "e2e_mac.html");
    ExpectFile("Who_talks_to_who_report.txt", "e2e_who.txt");
    ExpectFile("Who_talks_to_who_report.html", "e2e_who.html");
    ExpectFile("Effective_max_master_report.txt", "e2e_emm.txt");
    ExpectFile("Effective_max_master_report.html", "e2e_emm.html");
    ExpectFile("Notes_report.txt", "notes.txt");
    ExpectFile("Notes_report.html", "notes.html");
    ExpectFile("index.html", "index_ring.html");

    // Exactly the reports of the three present stations, beside the fixed files.
    int opReports = 0;
    for (const auto& entry : fs::directory_iterator(m_folder))
        opReports += entry.path().filename().string().starts_with("Op_Report_MAC_");
    EXPECT_EQ(opReports, 6);
}

TEST_F(EndToEnd, ReportsOfAnEmptyLogFile)
{
    DecodeCapture("");
    WriteReportsAsStopDoes();
    ExpectFile("MAC_add_report.txt", "mac_empty.txt");
    ExpectFile("Who_talks_to_who_report.txt", "who_empty.txt");
    ExpectFile("Effective_max_master_report.html", "emm_empty.html");
    ExpectFile("index.html", "index_empty.html");
}

} // namespace
