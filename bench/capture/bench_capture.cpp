// Speed of the whole capture: a generated log of ten minutes of a busy 20-station network at
// 115200 baud (tokens, polls, data frames of varied length, a station out of turn, some damage) read
// by the real worker from the log-file source, with the frame monitor, both raw frame logs, the
// statistics and every report writer, into a fresh report folder, as Start and Stop drive them.
// The same log is also decoded with a frame monitor that only counts, in the same process, and the
// two are set side by side. Runs alternate; the best run of each is taken, the median shown too.
//
//   bench_capture [--runs N] [--dir PARENT] [--octets N] [--only capture|decode]
//                 (defaults: 5 runs, /tmp, 2640000 octets, both)
//
// The last line, "capture frames/s: N", is what compare.sh reads.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "mstp/mstp_stack.h"
#include "reports/capture_clock.h"
#include "reports/frame_monitor.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"
#include "support/mstp_frames.h"

namespace {

std::atomic<unsigned long> g_countedFrames{0};

void CountFrame(BYTE*, unsigned, BYTE, BYTE, int, int)
{
    g_countedFrames.fetch_add(1, std::memory_order_relaxed);
}

std::string MakeTempFolder(const std::string& parent, const char* name)
{
    std::string pattern = parent + "/" + name + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        return std::string();
    return buffer.data();
}

void RemoveFolder(const std::string& folder)
{
    std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", folder.c_str());
}

using Clock = std::chrono::steady_clock;

// Connects the stack to the log file and waits for the reader to reach its end; the stack is
// left connected, as the run timer of the main window finds it.
bool ReadLogToTheEnd(const std::string& logPath, long logSize)
{
    g_MstpStack.m_cSource = SOURCE_LOG_FILE;
    g_MstpStack.m_pLogFile = std::fopen(logPath.c_str(), "r");
    g_MstpStack.m_lLogFileSize = static_cast<int32_t>(logSize);
    if (!g_MstpStack.m_pLogFile) {
        std::fprintf(stderr, "cannot open %s\n", logPath.c_str());
        return false;
    }
    if (!g_MstpStack.Connect(OnDataIndication, 0, 115200, THIS_STATION, 0, 1)) {
        std::fprintf(stderr, "connect failed\n");
        return false;
    }
    return true;
}

void WaitForTheEnd()
{
    while (g_MstpStack.m_nLogReadState == LOG_READ_NORMAL)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// The log decoded by the real worker, each frame only counted. Seconds, or a negative value.
double DecodeOnly(const std::string& logPath, long logSize, unsigned long& frames)
{
    g_countedFrames = 0;
    g_MstpStack.SetFrameCallback(CountFrame);
    const auto begin = Clock::now();
    if (!ReadLogToTheEnd(logPath, logSize))
        return -1;
    WaitForTheEnd();
    g_MstpStack.Disconnect();
    g_MstpStack.WaitForWorker();
    const auto end = Clock::now();
    g_MstpStack.SetFrameCallback(nullptr);
    frames = g_countedFrames.load();
    return g_MstpStack.m_nLogReadState == LOG_READ_COMPLETED ? std::chrono::duration<double>(end - begin).count()
                                                               : -1;
}

// The whole capture of Start and Stop, without the window, into a fresh folder under parent.
// Seconds, or a negative value; frames is the number of frame lines the raw log got.
double WholeCapture(const std::string& logPath, long logSize, const std::string& parent, unsigned long& frames)
{
    const std::string folder = MakeTempFolder(parent, "bench-capture-report");
    if (folder.empty()) {
        std::perror("mkdtemp");
        return -1;
    }
    const auto begin = Clock::now();
    g_strReportPath = folder;
    AllocateDeviceTable();
    g_NetworkStatistics.Reset();
    StartCaptureClock();
    g_MstpStack.m_nAverageDim = 100;
    g_MstpStack.m_bNewCapture = 1;
    WriteRawLogStart();
    g_MstpStack.SetFrameCallback(OnMonitoredFrame);
    if (!ReadLogToTheEnd(logPath, logSize))
        return -1;
    WriteIndexPage();
    WaitForTheEnd();
    g_MstpStack.Disconnect();
    g_MstpStack.WaitForWorker();
    const bool completed = g_MstpStack.m_nLogReadState == LOG_READ_COMPLETED;
    WriteMacAddressReport();
    WriteOperationalReports();
    WriteNotesReport();
    WriteWhoTalksToWhoReport();
    WriteEffectiveMaxMasterReport();
    FinishIndexPage();
    WriteRawLogStop();
    FreeDeviceTable();
    const auto end = Clock::now();
    g_MstpStack.SetFrameCallback(nullptr);

    // Not timed: count the frame lines the raw log got.
    frames = 0;
    if (FILE* text = std::fopen((folder + "/" + RAW_LOG_TEXT_FILE).c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, text))
            if (std::strncmp(line, "Frame ", 6) == 0 && line[6] >= '0' && line[6] <= '9')
                ++frames;
        std::fclose(text);
    }
    RemoveFolder(folder);
    return completed ? std::chrono::duration<double>(end - begin).count() : -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Usage()
{
    std::fprintf(stderr, "usage: bench_capture [--runs N] [--dir PARENT] [--octets N] [--only capture|decode]\n");
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    std::string parent = "/tmp";
    size_t targetOctets = 2640000;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) {
            Usage();
            return 2;
        }
        const char* value = argv[++i];
        if (arg == "--runs")
            runs = std::max(1, std::atoi(value));
        else if (arg == "--dir")
            parent = value;
        else if (arg == "--octets")
            targetOctets = std::strtoul(value, nullptr, 10);
        else if (arg == "--only" && (std::strcmp(value, "capture") == 0 || std::strcmp(value, "decode") == 0))
            only = value;
        else {
            Usage();
            return 2;
        }
    }

    // Twenty stations: fourteen masters, five slaves, and one station that talks out of turn; a
    // slave that is asked but never answers. Each token holder sends one request (4 to 63 octets of
    // data), mostly answered, now and then a broadcast or a poll for a new master; 1 % of the frames
    // are damaged. About 28 octets a frame: the default 2.64 M octets are some 95 k frames, ten
    // minutes of a line at 115200 baud (11520 octets a second) that is 38 % busy.
    mstpgen::NetworkSpec network;
    network.masters = {0, 1, 2, 4, 6, 9, 11, 14, 18, 22, 27, 33, 41, 48};
    network.slaves = {80, 81, 82, 83, 84};
    network.missingSlave = 85;
    network.outOfTurnTalker = 100;
    network.damagePerFrame = 0.01;
    network.dataPerToken = 1.0;
    network.seed = 20240613;
    const mstpgen::Traffic traffic = mstpgen::Generate(network, targetOctets);
    const std::string text = mstpgen::ToHexLog(traffic.octets, 16);

    const std::string work = MakeTempFolder(parent, "bench-capture");
    if (work.empty()) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string logPath = work + "/network20.log";
    if (!mstpgen::WriteFile(logPath, text)) {
        std::fprintf(stderr, "cannot write %s\n", logPath.c_str());
        return 1;
    }
    const long logSize = static_cast<long>(text.size());
    std::printf("log: %zu octets (%.1f minutes of a line at 115200 baud, 38 %% busy), %zu frames generated "
                "(%zu damaged), %.1f MB of text\n",
                traffic.octets.size(), static_cast<double>(traffic.octets.size()) / 11520.0 / 0.38 / 60.0, traffic.frames,
                traffic.damaged, static_cast<double>(text.size()) / (1024.0 * 1024.0));

    std::vector<double> decodeTimes, captureTimes;
    unsigned long decodeFrames = 0, captureFrames = 0;
    bool ok = true;
    for (int run = 0; run < runs && ok; ++run) {
        if (only != "capture") {
            double s = DecodeOnly(logPath, logSize, decodeFrames);
            ok = ok && s > 0;
            decodeTimes.push_back(s);
        }
        if (only != "decode") {
            double s = WholeCapture(logPath, logSize, work, captureFrames);
            ok = ok && s > 0;
            captureTimes.push_back(s);
        }
        std::printf("run %d:", run + 1);
        if (!decodeTimes.empty())
            std::printf(" decode-only %.3f s", decodeTimes.back());
        if (!captureTimes.empty())
            std::printf(" whole capture %.3f s", captureTimes.back());
        std::printf("\n");
        std::fflush(stdout);
    }
    RemoveFolder(work);
    if (!ok) {
        std::fflush(stdout);
        std::fprintf(stderr, "a run did not read the log to its end\n");
        return 1;
    }
    if (only.empty() && decodeFrames != captureFrames) {
        std::fflush(stdout);
        std::fprintf(stderr, "decode-only saw %lu frames, the raw log holds %lu\n", decodeFrames, captureFrames);
        return 1;
    }

    if (!decodeTimes.empty()) {
        const double best = *std::min_element(decodeTimes.begin(), decodeTimes.end());
        std::printf("decode-only:   %lu frames, best %.3f s, median %.3f s: %.0f frames/s\n", decodeFrames, best,
                    Median(decodeTimes), static_cast<double>(decodeFrames) / best);
    }
    if (!captureTimes.empty()) {
        const double best = *std::min_element(captureTimes.begin(), captureTimes.end());
        std::printf("whole capture: %lu frames, best %.3f s, median %.3f s: %.0f frames/s\n", captureFrames, best,
                    Median(captureTimes), static_cast<double>(captureFrames) / best);
    }
    if (!decodeTimes.empty() && !captureTimes.empty()) {
        const double decodeBest = *std::min_element(decodeTimes.begin(), decodeTimes.end());
        const double captureBest = *std::min_element(captureTimes.begin(), captureTimes.end());
        std::printf("the whole capture takes %.2f times the decode-only time (best runs; median %.2f)\n",
                    captureBest / decodeBest, Median(captureTimes) / Median(decodeTimes));
    }
    if (!captureTimes.empty()) {
        const double best = *std::min_element(captureTimes.begin(), captureTimes.end());
        std::printf("capture frames/s: %.0f\n", static_cast<double>(captureFrames) / best);
    }
    return 0;
}
