// Whole captures from a live line: a pseudo-terminal written by the test, read by the real worker.
#include <atomic>
#include <fstream>
#include <sstream>

#include "pty_support.h"
#include "receive_cases.h"

using namespace mstptest;

namespace {

const Octets kSentinel = mstpgen::Frame(0, 98, 99);

bool SentinelSeen()
{
    std::lock_guard<std::mutex> lock(g_reportLock);
    return !g_reports.empty() && g_reports.back().valid == 1 && g_reports.back().octets == kSentinel;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

class SerialCapture : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(m_pty.ok());
        m_stack = std::make_unique<CMstpStack>();
        m_stack->m_cSource = SOURCE_SERIAL_PORT;
        m_stack->SetFrameCallback(RecordFrame);
    }
    void TearDown() override
    {
        m_stack->Disconnect();
        m_stack->WaitForWorker();
        m_stack.reset();
        TempDirTest::TearDown();
    }
    BYTE Connect() { return m_stack->Connect(NoDataIndication, m_pty.port, 9600, THIS_STATION, 0, 1); }
    // Sends octets then a sentinel Token and waits until the sentinel has been reported.
    std::vector<Report> Exchange(const Octets& octets)
    {
        m_pty.Write(Cat({octets, kSentinel}));
        EXPECT_TRUE(WaitUntil(SentinelSeen));
        std::vector<Report> reports = TakeReports();
        if (!reports.empty())
            reports.pop_back();
        return reports;
    }
    PtyPair m_pty;
    std::unique_ptr<CMstpStack> m_stack;
};

TEST_F(SerialCapture, ReceiveTableFromLiveLine)
{
    for (const ReceiveCase& c : ReceiveCases()) {
        // One write that cannot overflow the input queue; the longer cases run from the log file.
        if (c.input.size() + kSentinel.size() > static_cast<size_t>(MSTP_FRAME_BUFFER_SIZE))
            continue;
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Connect(), 1); // each case from a freshly connected machine, as from a fresh file
        ExpectReports(c.expected, Exchange(c.input));
    }
    EXPECT_EQ(m_stack->m_nRestartCount.load(), 0);
}

// More than 510 octets queued: the port is reopened (dropping the queue) from inside the worker,
// which keeps running with the same callback and in listen-only mode.
TEST_F(SerialCapture, OverflowRestartKeepsListeningOnly)
{
    ASSERT_EQ(Connect(), 1);
    ExpectReports({Valid(mstpgen::Frame(0, 8, 7), 7, 8)}, Exchange(mstpgen::Frame(0, 8, 7)));

    // Whoever watches the stack during the restart never sees it disconnected.
    std::atomic<bool> watching{true}, sawDown{false};
    std::thread watcher([&] {
        while (watching.load())
            if (m_stack->m_bConnected.load() == 0)
                sawDown.store(true);
    });
    m_pty.Write(Octets(2000, 0x00));
    const bool restarted = WaitUntil([&] { return m_stack->m_nRestartCount.load() >= 1; });
    watching.store(false);
    watcher.join();
    ASSERT_TRUE(restarted);
    EXPECT_FALSE(sawDown.load());
    EXPECT_EQ(m_stack->m_bConnected.load(), 1);
    EXPECT_EQ(g_bWorkerRunning.load(), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_pty.Queued() == 0; }));

    const Octets data = mstpgen::Frame(6, 5, 0x11, {1, 0});
    ExpectReports({Valid(data, 0x11, 5)}, Exchange(data));
    m_stack->Disconnect();
    m_stack->WaitForWorker();
    EXPECT_EQ(m_stack->m_bListenOnly, 1);
    EXPECT_EQ(m_stack->m_pfnFrameMonitor.load(), &RecordFrame);
    EXPECT_EQ(m_stack->TS, THIS_STATION);
    EXPECT_GE(m_stack->m_nRestartCount.load(), 1);
    EXPECT_NE(ReadText(Path("Debuglog.txt")).find("MSTP.Error #110 - Too many bytes in the buffer"), std::string::npos);
}

// A second Connect while running, and a Connect right after Disconnect: one worker, no doubled frames.
TEST_F(SerialCapture, ReconnectKeepsOneWorker)
{
    ASSERT_EQ(Connect(), 1);
    ASSERT_EQ(Connect(), 1);
    const Octets token = mstpgen::Frame(0, 8, 7);
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    m_stack->Disconnect();
    ASSERT_EQ(Connect(), 1);
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    m_stack->Disconnect();
    m_stack->WaitForWorker();
    EXPECT_EQ(g_bWorkerRunning.load(), 0);
    EXPECT_EQ(m_stack->m_SerialPort.m_bOpened, 0);

    // The port is free again for anyone.
    CSerialPort other;
    EXPECT_TRUE(other.Open(m_pty.port, 9600, 'N', 8, 1));
}

// Disconnect lets the port go even when the next capture, started without waiting, reads a log file.
TEST_F(SerialCapture, DisconnectFreesThePortForALogFileCaptureThatFollows)
{
    ASSERT_EQ(Connect(), 1);
    const Octets token = mstpgen::Frame(0, 8, 7);
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    m_stack->Disconnect();

    ASSERT_TRUE(mstpgen::WriteFile(Path("after.txt"), Hex(token)));
    m_stack->m_cSource = SOURCE_LOG_FILE;
    m_stack->m_pLogFile = fopen(Path("after.txt").c_str(), "r");
    m_stack->m_lLogFileSize = static_cast<int32_t>(Hex(token).size());
    ASSERT_EQ(Connect(), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_stack->m_nLogReadState.load() == LOG_READ_COMPLETED; }));
    EXPECT_EQ(m_stack->m_SerialPort.m_bOpened, 0);
    CSerialPort other;
    EXPECT_TRUE(other.Open(m_pty.port, 9600, 'N', 8, 1));
    EXPECT_EQ(TakeReports().size(), 1u);
}

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The adapter is pulled out mid-capture: the worker says so once, lets the port go and ends; the
// frames already decoded stay, and the capture is stopped as usual.
TEST_F(SerialCapture, UnpluggedDeviceEndsTheWorkerOnceAndKeepsWhatWasCaptured)
{
    ASSERT_EQ(Connect(), 1);
    const Octets token = mstpgen::Frame(0, 8, 7);
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    m_pty.Write({0x55, 0xFF, 0x00}); // a frame cut off by the pull
    m_pty.HangUp();

    ASSERT_TRUE(WaitUntil([&] { return m_stack->m_bConnected.load() == 0 && g_bWorkerRunning.load() == 0; }));
    EXPECT_EQ(m_stack->m_SerialPort.m_bOpened, 0);
    EXPECT_TRUE(TakeReports().empty()) << "nothing is invented for the cut frame";
    const std::string log = ReadText(Path("Debuglog.txt"));
    EXPECT_EQ(Occurrences(log, "MSTP.Error #114 - The serial port stopped working"), 1u) << log;
    EXPECT_LE(Occurrences(log, "Programing bug"), 1u) << log;

    m_stack->Disconnect();
    m_stack->WaitForWorker();
    EXPECT_EQ(m_stack->m_pfnFrameMonitor.load(), &RecordFrame);
    // A new capture on the vanished device fails like any port that does not open.
    EXPECT_EQ(Connect(), 0);
    EXPECT_EQ(g_bWorkerRunning.load(), 0);
}

TEST_F(SerialCapture, MissingPortFailsToConnect)
{
    EXPECT_EQ(m_stack->Connect(NoDataIndication, 9999, 9600, THIS_STATION, 0, 1), 0);
    EXPECT_EQ(m_stack->m_bConnected.load(), 0);
    EXPECT_EQ(g_bWorkerRunning.load(), 0);
    EXPECT_NE(ReadText(Path("Debuglog.txt")).find("MSTP.Error #111 - Can not open the serial port "),
              std::string::npos);
}
