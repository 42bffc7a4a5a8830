// Frames per second through the frame monitor, with its open, write and close of both raw frame
// logs for every frame, into a report folder on disk.
//
//   bench_frame_monitor [frames] [parent folder]     (defaults: 200000 frames, the current folder)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "mstp/mstp_stack.h"
#include "reports/capture_clock.h"
#include "reports/frame_monitor.h"
#include "reports/statistics.h"
#include "support/mstp_frames.h"

namespace {

struct Delivered {
    mstpgen::Octets octets;
    BYTE source, destination;
    int valid, errorKind;
};

// A busy three-master ring with two slaves: mostly Tokens, some polls, requests and answers of
// 4 to 60 data octets, broadcasts, and a few frames with a bad data CRC.
std::vector<Delivered> Mix(size_t count)
{
    const BYTE masters[] = {1, 3, 7};
    const BYTE slaves[] = {20, 21};
    std::mt19937 rng(7);
    std::vector<Delivered> frames;
    frames.reserve(count);
    auto data = [&](size_t n) {
        mstpgen::Octets d(n);
        for (auto& o : d)
            o = static_cast<uint8_t>(rng());
        return d;
    };
    size_t m = 0;
    while (frames.size() < count) {
        BYTE holder = masters[m % 3];
        BYTE next = masters[(m + 1) % 3];
        unsigned roll = rng() % 100;
        if (roll < 20) {
            BYTE to = slaves[rng() % 2];
            frames.push_back({mstpgen::Frame(5, to, holder, data(4 + rng() % 57)), holder, to, 1, 0});
            frames.push_back({mstpgen::Frame(6, holder, to, data(4 + rng() % 57)), to, holder, 1, 0});
        } else if (roll < 24) {
            frames.push_back({mstpgen::Frame(6, 255, holder, data(8 + rng() % 20)), holder, 255, 1, 0});
        } else if (roll < 26) {
            mstpgen::Octets bad = mstpgen::Frame(6, 20, holder, data(12));
            bad.back() ^= 0x10;
            frames.push_back({bad, holder, 20, 0, 4});
        } else if (roll < 34) {
            BYTE polled = static_cast<BYTE>(8 + rng() % 120);
            frames.push_back({mstpgen::Frame(1, polled, holder), holder, polled, 1, 0});
        }
        frames.push_back({mstpgen::Frame(0, next, holder), holder, next, 1, 0});
        ++m;
    }
    frames.resize(count);
    return frames;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    std::string parent = argc > 2 ? argv[2] : ".";
    std::string folderPattern = parent + "/bench-frame-monitor-XXXXXX";
    std::vector<char> buffer(folderPattern.begin(), folderPattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    g_strReportPath = buffer.data();

    std::vector<Delivered> frames = Mix(count);
    size_t octets = 0;
    for (const Delivered& f : frames)
        octets += f.octets.size();

    AllocateDeviceTable();
    g_NetworkStatistics.Reset();
    StartCaptureClock();
    g_MstpStack.m_nAverageDim = 100;
    g_MstpStack.m_bNewCapture = 1;
    if (!WriteRawLogStart()) {
        std::fprintf(stderr, "cannot write into %s\n", g_strReportPath.c_str());
        return 1;
    }

    auto begin = std::chrono::steady_clock::now();
    for (Delivered& f : frames)
        OnMonitoredFrame(f.octets.data(), static_cast<unsigned>(f.octets.size()), f.source, f.destination, f.valid,
                         f.errorKind);
    auto end = std::chrono::steady_clock::now();
    WriteRawLogStop();

    double seconds = std::chrono::duration<double>(end - begin).count();
    struct stat text {};
    stat((g_strReportPath + "/" + RAW_LOG_TEXT_FILE).c_str(), &text);
    std::printf("frames: %zu (%zu octets, %.1f octets per frame)\n", count, octets,
                static_cast<double>(octets) / static_cast<double>(count));
    std::printf("time: %.3f s\n", seconds);
    std::printf("frames per second: %.0f\n", static_cast<double>(count) / seconds);
    std::printf("octets per second: %.0f (a line at 115200 baud carries 11520)\n",
                static_cast<double>(octets) / seconds);
    std::printf("Raw_mstp_frames.txt: %lld bytes in %s\n", static_cast<long long>(text.st_size),
                g_strReportPath.c_str());
    FreeDeviceTable();
    std::string command = "rm -rf '" + g_strReportPath + "'";
    return std::system(command.c_str()) == 0 ? 0 : 1;
}
