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

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
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

// A frame monitor that records, and holds the worker at a frame's end once it is armed: the line
// goes on meanwhile, as when the monitor is slowed by a busy machine.
std::atomic<bool> g_holdArmed{false}, g_holding{false}, g_holdOpen{false};

void HoldingMonitor(BYTE* frame, unsigned length, BYTE source, BYTE destination, int valid, int errorKind)
{
    RecordFrame(frame, length, source, destination, valid, errorKind);
    if (!g_holdArmed.exchange(false))
        return;
    g_holding.store(true);
    while (!g_holdOpen.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_holdOpen.store(false);
    g_holding.store(false);
}

// The driver's loss counters, as the test sets them.
std::atomic<unsigned long> g_fakeLossCount{0};

bool FakeLossCounter(int, unsigned long* count)
{
    *count = g_fakeLossCount.load();
    return true;
}

class BehindTheLine : public SerialCapture {
protected:
    void SetUp() override
    {
        SerialCapture::SetUp();
        m_stack->SetFrameCallback(HoldingMonitor);
        g_holdArmed = g_holding = g_holdOpen = false;
    }
    void TearDown() override
    {
        g_holdOpen = true; // a failed test never leaves the worker held
        SerialCapture::TearDown();
        SetSerialLossCounterHook(nullptr);
    }
    size_t LogCount(const char* what) const { return Occurrences(ReadText(Path("Debuglog.txt")), what); }
    static constexpr const char* kTooMany = "MSTP.Error #110 - Too many bytes in the buffer ";
    static constexpr const char* kResources = "MSTP.FYI #35 - Not enough resources available, close down some other "
                                              "applications for better performance.\n";
};

// More than 510 octets queued is no loss: every octet is worked off one per turn, the port is not
// restarted, and the two lines are written once each time the queue passes 510 (after having been
// worked off).
TEST_F(BehindTheLine, LongQueueIsWorkedOffAndSaidOncePerRise)
{
    ASSERT_EQ(Connect(), 1);
    testing::internal::CaptureStdout();
    const Octets data = mstpgen::Frame(6, 5, 0x11, {1, 0});
    for (int rise = 1; rise <= 2; ++rise) {
        SCOPED_TRACE(rise);
        g_holdArmed = true;
        m_pty.Write(mstpgen::Frame(0, 8, 7));
        ASSERT_TRUE(WaitUntil([] { return g_holding.load(); }));
        // Octets that start no frame, then a frame: all of it waits while the worker is held.
        const Octets backlog = Cat({Octets(2000, 0x00), data});
        m_pty.Write(backlog);
        ASSERT_TRUE(WaitUntil([&] { return m_pty.Queued() >= static_cast<int>(backlog.size()); }));
        g_holdOpen = true;
        ExpectReports({Valid(mstpgen::Frame(0, 8, 7), 7, 8), Valid(data, 0x11, 5)}, Exchange({}));
        EXPECT_EQ(LogCount(kTooMany), static_cast<size_t>(rise));
        EXPECT_EQ(LogCount(kResources), static_cast<size_t>(rise));
    }
    fflush(stdout);
    EXPECT_EQ(Occurrences(testing::internal::GetCapturedStdout(), kResources), 2u);
    EXPECT_EQ(m_stack->m_nRestartCount.load(), 0);
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 0);
    EXPECT_EQ(m_stack->m_bConnected.load(), 1);
    EXPECT_EQ(m_stack->m_bListenOnly, 1);
}

// The worker held for a second at 115200 baud while the far end goes on at line speed: every frame
// on the line is reported, whole and valid, nothing is invented and nothing is restarted.
TEST_F(BehindTheLine, OneSecondStallAt115200LosesNoFrame)
{
    ASSERT_EQ(m_stack->Connect(NoDataIndication, m_pty.port, 115200, THIS_STATION, 0, 1), 1);
    mstpgen::NetworkSpec network;
    network.outOfTurnTalker = 30;
    const mstpgen::Traffic traffic = mstpgen::Generate(network, 3 * 11520); // three seconds of line time
    std::thread line([&] {
        // The line's pace: 11520 octets a second, written every 5 ms.
        const auto start = std::chrono::steady_clock::now();
        size_t sent = 0;
        for (int tick = 1; sent < traffic.octets.size(); ++tick) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(5 * tick));
            const size_t due = std::min(traffic.octets.size(), static_cast<size_t>(tick) * 576 / 10);
            m_pty.Write(Octets(traffic.octets.begin() + static_cast<long>(sent),
                               traffic.octets.begin() + static_cast<long>(due)));
            sent = due;
        }
    });
    std::thread stall([&] {
        WaitUntil([] { return ReportCount() >= 20; });
        g_holdArmed = true;
        WaitUntil([] { return g_holding.load(); });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        g_holdOpen = true;
    });
    line.join();
    stall.join();
    std::vector<Report> reports = Exchange({});

    Octets received;
    size_t damaged = 0;
    for (const Report& r : reports) {
        damaged += r.valid ? 0 : 1;
        mstpgen::Append(received, r.octets);
    }
    EXPECT_EQ(reports.size(), traffic.frames);
    EXPECT_EQ(damaged, 0u);
    EXPECT_TRUE(received == traffic.octets) << "every octet of the line, in order";
    EXPECT_EQ(m_stack->m_nRestartCount.load(), 0);
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 0);
    EXPECT_GE(LogCount(kTooMany), 1u) << "the stall put more than 510 octets in the queue";
    EXPECT_EQ(LogCount(kTooMany), LogCount(kResources));
}

// Octets lost where the driver says so: the loss is counted, the port restarted (the frame in
// progress is dropped, not reported damaged) and the capture goes on; a new capture counts afresh.
TEST_F(BehindTheLine, LossSaidByTheDriverIsCountedAndRecovered)
{
    g_fakeLossCount = 5; // counters that stood before the capture are no loss
    SetSerialLossCounterHook(FakeLossCounter);
    ASSERT_EQ(Connect(), 1);
    const Octets token = mstpgen::Frame(0, 8, 7);
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 0);

    // Half a frame is read, then the driver counts an overrun.
    m_pty.Write(Slice(token, 0, 4));
    ASSERT_TRUE(WaitUntil([&] { return m_pty.Queued() == 0; }));
    g_fakeLossCount += 2;
    ASSERT_TRUE(WaitUntil([&] { return m_stack->m_nRestartCount.load() == 1; }));
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 1);
    const Octets data = mstpgen::Frame(6, 5, 0x11, {1, 0});
    ExpectReports({Valid(data, 0x11, 5)}, Exchange(Cat({Slice(token, 4), data})));

    g_fakeLossCount += 1;
    ASSERT_TRUE(WaitUntil([&] { return m_stack->m_nRestartCount.load() == 2; }));
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 2) << "the restart's reconnect keeps the count";
    EXPECT_EQ(m_stack->m_bConnected.load(), 1);
    EXPECT_EQ(m_stack->m_bListenOnly, 1);
    EXPECT_EQ(m_stack->m_pfnFrameMonitor.load(), &HoldingMonitor);

    m_stack->Disconnect();
    ASSERT_EQ(Connect(), 1);
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 0);
    ExpectReports({Valid(token, 7, 8)}, Exchange(token));
    EXPECT_EQ(m_stack->m_nOctetLossCount.load(), 0);
}

// A pseudo-terminal keeps no loss counters: the port never says it lost octets.
TEST_F(BehindTheLine, PseudoTerminalHasNoLossCounters)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(m_pty.port, 9600, 'N', 8, 1));
    m_pty.Write(Octets(100, 0x55));
    EXPECT_FALSE(port.OctetsLost());
    EXPECT_FALSE(port.OctetsLost());
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
