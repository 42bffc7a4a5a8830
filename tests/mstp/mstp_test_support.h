#pragma once
// Shared pieces of the capture-engine tests: a frame recorder installed as the frame monitor, a
// fresh working directory per test, and a log-file capture run through the real worker.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "mstp/mstp_stack.h"
#include "support/mstp_frames.h"

namespace mstptest {

using mstpgen::Octets;

struct Report {
    Octets octets;
    int source;
    int destination;
    int valid;
    int errorKind;
};

inline std::mutex g_reportLock;
inline std::vector<Report> g_reports;

inline void RecordFrame(BYTE* frame, unsigned length, BYTE source, BYTE destination, int valid, int errorKind)
{
    std::lock_guard<std::mutex> lock(g_reportLock);
    g_reports.push_back({Octets(frame, frame + length), source, destination, valid, errorKind});
}

inline void NoDataIndication(BYTE*, unsigned short, BYTE) {}

inline std::vector<Report> TakeReports()
{
    std::lock_guard<std::mutex> lock(g_reportLock);
    std::vector<Report> out;
    out.swap(g_reports);
    return out;
}

inline size_t ReportCount()
{
    std::lock_guard<std::mutex> lock(g_reportLock);
    return g_reports.size();
}

// Polls cond every millisecond; gives up after a minute so a broken engine fails instead of hanging.
template <class Cond> bool WaitUntil(Cond cond)
{
    for (int i = 0; i < 60000; ++i) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

// Every test works in a fresh temporary directory (the stack and the logs write to the current one).
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/mstp-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ASSERT_EQ(chdir(m_dir.c_str()), 0);
        ResetLogPathsForTest(); // the diagnostic logs of this test go to its own directory
        TakeReports();
    }
    void TearDown() override
    {
        if (chdir("/tmp") == 0) {
            std::string cmd = "rm -rf '" + m_dir + "'";
            (void)!system(cmd.c_str());
        }
    }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::string m_dir;
};

struct LogRun {
    std::unique_ptr<CMstpStack> stack;
    std::vector<Report> reports;
    int finalState = -1;
};

// Writes text as a log file, reads it with the real worker until the reader stops, joins the worker.
// sizeLimit < 0 measures the file as Browse would.
inline LogRun RunLogCapture(const std::string& path, const std::string& text, bool withMonitor = true,
                            long sizeLimit = -1)
{
    LogRun run;
    run.stack = std::make_unique<CMstpStack>();
    CMstpStack& s = *run.stack;
    EXPECT_TRUE(mstpgen::WriteFile(path, text));
    TakeReports();
    s.m_cSource = SOURCE_LOG_FILE;
    s.m_pLogFile = fopen(path.c_str(), "r");
    s.m_lLogFileSize = sizeLimit >= 0 ? sizeLimit : static_cast<int64_t>(text.size());
    if (withMonitor)
        s.SetFrameCallback(RecordFrame);
    EXPECT_EQ(s.Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    EXPECT_TRUE(WaitUntil([&] { return s.m_nLogReadState.load() != LOG_READ_NORMAL; }));
    s.Disconnect();
    s.WaitForWorker();
    run.finalState = s.m_nLogReadState.load();
    run.reports = TakeReports();
    return run;
}

inline std::string Hex(const Octets& octets)
{
    return mstpgen::ToHexLog(octets, 0);
}

} // namespace mstptest
