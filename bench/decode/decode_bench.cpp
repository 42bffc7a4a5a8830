// Decoding speed of the capture engine: a generated log file of realistic traffic (tokens, polls,
// data frames of varied length, some damage) read by the real worker from the log-file source, with
// a frame monitor that only counts. Prints octets per second and frames per second.
//
// bench_decode [megabytes of log text, default 12] [directory for the file, default /tmp]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

#include "mstp/mstp_stack.h"
#include "support/mstp_frames.h"

namespace {

std::atomic<unsigned long> g_frames{0};
std::atomic<unsigned long> g_damaged{0};

void CountFrame(BYTE*, unsigned, BYTE, BYTE, int valid, int)
{
    g_frames.fetch_add(1, std::memory_order_relaxed);
    if (!valid)
        g_damaged.fetch_add(1, std::memory_order_relaxed);
}

void NoDataIndication(BYTE*, unsigned short, BYTE) {}

} // namespace

int main(int argc, char** argv)
{
    const double megabytes = argc > 1 ? atof(argv[1]) : 12.0;
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const size_t textBytes = static_cast<size_t>(megabytes * 1024 * 1024);

    mstpgen::NetworkSpec network;
    network.masters = {1, 3, 7, 12, 25, 40};
    network.slaves = {60, 61, 62};
    network.outOfTurnTalker = 61;
    network.damagePerFrame = 0.01;
    network.dataPerToken = 0.4;
    network.seed = 42;
    // Each octet takes three characters of text ("55 ").
    mstpgen::Traffic traffic = mstpgen::Generate(network, textBytes / 3 + 1);
    const std::string text = mstpgen::ToHexLog(traffic.octets, 16);

    const std::string path = dir + "/quorix-bench-decode-" + std::to_string(getpid()) + ".txt";
    if (!mstpgen::WriteFile(path, text)) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    CMstpStack& stack = g_MstpStack;
    stack.m_cSource = SOURCE_LOG_FILE;
    stack.m_pLogFile = fopen(path.c_str(), "r");
    stack.m_lLogFileSize = static_cast<int32_t>(text.size());
    if (!stack.m_pLogFile) {
        fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    stack.SetFrameCallback(CountFrame);

    const auto start = std::chrono::steady_clock::now();
    if (!stack.Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1)) {
        fprintf(stderr, "connect failed\n");
        return 1;
    }
    while (stack.m_nLogReadState.load() == LOG_READ_NORMAL)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto end = std::chrono::steady_clock::now();
    stack.Disconnect();
    stack.WaitForWorker();
    unlink(path.c_str());

    const double seconds = std::chrono::duration<double>(end - start).count();
    const double octets = static_cast<double>(traffic.octets.size());
    printf("log file: %.1f MB of text, %zu octets, %zu frames generated (%zu damaged)\n",
           static_cast<double>(text.size()) / (1024.0 * 1024.0), traffic.octets.size(), traffic.frames,
           traffic.damaged);
    printf("reported: %lu frames (%lu damaged), reader state %d\n", g_frames.load(), g_damaged.load(),
           stack.m_nLogReadState.load());
    printf("decoded in %.3f s: %.0f octets/s, %.0f frames/s\n", seconds, octets / seconds,
           static_cast<double>(g_frames.load()) / seconds);
    return stack.m_nLogReadState.load() == LOG_READ_COMPLETED ? 0 : 1;
}
