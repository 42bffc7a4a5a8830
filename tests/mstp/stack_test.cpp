// Connection, the worker and its lifetime, on the log-file source.
#include "mstp_test_support.h"

using namespace mstptest;

class Stack : public TempDirTest {
protected:
    FILE* OpenLog(const std::string& name, const std::string& text, CMstpStack& s)
    {
        EXPECT_TRUE(mstpgen::WriteFile(Path(name), text));
        if (s.m_cSource != SOURCE_LOG_FILE) // the worker reads it: written only before the first capture
            s.m_cSource = SOURCE_LOG_FILE;
        s.m_pLogFile = fopen(Path(name).c_str(), "r");
        s.m_lLogFileSize = static_cast<int32_t>(text.size());
        return s.m_pLogFile;
    }
    static std::string Tokens(int n)
    {
        std::string text;
        for (int i = 0; i < n; ++i)
            text += Hex(mstpgen::Frame(0, 8, 7));
        return text;
    }
};

TEST_F(Stack, ConnectWithoutDataCallbackFailsAndStillResets)
{
    auto s = std::make_unique<CMstpStack>();
    s->m_cSource = SOURCE_LOG_FILE;
    s->m_nReceiveState = RECEIVE_STATE_DATA;
    s->m_SendQueue[3].m_nLength = 5;
    s->TokenCount = 0;
    EXPECT_EQ(s->Connect(nullptr, 0, 9600, THIS_STATION, 0, 1), 0);
    EXPECT_EQ(s->m_bConnected.load(), 0);
    EXPECT_EQ(s->m_pfnDataIndication, nullptr);
    EXPECT_EQ(g_bWorkerRunning.load(), 0);
    EXPECT_EQ(s->m_nReceiveState, RECEIVE_STATE_IDLE);
    EXPECT_EQ(s->m_SendQueue[3].m_nLength, 0);
    EXPECT_EQ(s->TokenCount, 50u);
}

TEST_F(Stack, ConnectSetsUpStationAndCounters)
{
    auto s = std::make_unique<CMstpStack>();
    OpenLog("c.txt", "", *s);
    ASSERT_EQ(s->Connect(NoDataIndication, 4, 38400, THIS_STATION, 0, 1), 1);
    s->Disconnect();
    s->WaitForWorker();
    EXPECT_EQ(s->TS, THIS_STATION);
    EXPECT_EQ(s->NS, THIS_STATION);
    EXPECT_EQ(s->PS, THIS_STATION);
    EXPECT_EQ(s->TokenCount, s->Npoll);
    EXPECT_EQ(s->m_nComPort, 4);
    EXPECT_EQ(s->m_nBaudRate, 38400);
    EXPECT_EQ(s->m_bListenOnly, 1);
    EXPECT_EQ(s->NextFrame, 255);
    EXPECT_EQ(s->m_nBytesWaiting.load(), 0u);
    EXPECT_EQ(s->m_nRestartCount.load(), 0); // never on the log-file source
}

// The frame monitor is installed before Connect, so the first frames are never lost, and it stays
// through Disconnect and the next Connect.
TEST_F(Stack, CallbackInstalledBeforeConnectStays)
{
    auto s = std::make_unique<CMstpStack>();
    s->SetFrameCallback(RecordFrame);
    for (int capture = 0; capture < 2; ++capture) {
        OpenLog("cb.txt", Tokens(3), *s);
        ASSERT_EQ(s->Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
        ASSERT_TRUE(WaitUntil([&] { return s->m_nLogReadState.load() == LOG_READ_COMPLETED; }));
        s->Disconnect();
        s->WaitForWorker();
        EXPECT_EQ(s->m_pfnFrameMonitor.load(), &RecordFrame);
        EXPECT_EQ(TakeReports().size(), 3u) << "capture " << capture;
    }
}

// A second Connect while a worker runs, or one right after Disconnect, leaves exactly one worker,
// and the new capture starts from a clean machine.
TEST_F(Stack, ReconnectLeavesExactlyOneWorker)
{
    auto s = std::make_unique<CMstpStack>();
    s->SetFrameCallback(RecordFrame);
    OpenLog("a.txt", Tokens(50000), *s);
    ASSERT_EQ(s->Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    ASSERT_TRUE(WaitUntil([] { return ReportCount() > 10; }));

    const Octets data = mstpgen::Frame(6, 5, 0x11, {1, 0});
    OpenLog("b.txt", Hex(data), *s);
    ASSERT_EQ(s->Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    EXPECT_EQ(s->m_bConnected.load(), 1);
    ASSERT_TRUE(WaitUntil([&] { return s->m_nLogReadState.load() == LOG_READ_COMPLETED; }));
    s->Disconnect();

    OpenLog("c.txt", Hex(data), *s);
    ASSERT_EQ(s->Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return s->m_nLogReadState.load() == LOG_READ_COMPLETED; }));
    EXPECT_EQ(g_bWorkerRunning.load(), 1);
    s->Disconnect();
    s->WaitForWorker();
    EXPECT_EQ(g_bWorkerRunning.load(), 0);

    std::vector<Report> reports = TakeReports();
    size_t dataFrames = 0;
    for (const Report& r : reports) {
        EXPECT_EQ(r.valid, 1) << Hex(r.octets);
        if (r.source == 0x11) {
            ++dataFrames;
            EXPECT_EQ(Hex(r.octets), Hex(data));
        }
    }
    EXPECT_EQ(dataFrames, 2u);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().source, 0x11);
}

TEST_F(Stack, WaitForWorkerWithoutWorkerIsHarmless)
{
    auto s = std::make_unique<CMstpStack>();
    s->WaitForWorker();
    s->Disconnect();
    s->WaitForWorker();
    EXPECT_EQ(s->m_bConnected.load(), 0);
}

// Destroying a connected stack stops and joins its worker.
TEST_F(Stack, DestructorJoinsRunningWorker)
{
    auto s = std::make_unique<CMstpStack>();
    s->SetFrameCallback(RecordFrame);
    OpenLog("d.txt", Tokens(20000), *s);
    ASSERT_EQ(s->Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    ASSERT_TRUE(WaitUntil([] { return ReportCount() > 0; }));
    s.reset();
    EXPECT_EQ(g_bWorkerRunning.load(), 0);
}
