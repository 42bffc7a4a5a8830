// A small ring: three master stations, each a stack in its own process, on a simulated shared line
// (pseudo-terminal pairs joined by a relay that copies every octet to every other end), with a
// listen-only monitor, this process's stack, on the same line.
//
// The test must hold on a loaded machine (the whole suite in parallel, sanitizers): it runs until
// it has seen what it checks rather than for a fixed time, the stations run on protocol timers
// stretched by kTimeScale so that a process kept off the processor for a while by others still
// answers within its time-outs, and the relay never hands an end more than a small backlog, so an
// end that falls behind catches up instead of overflowing its input queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include "mstp/mstp_stack.h"
#include "tests/mstp_tx/pty_line.h"
#include "tests/mstp_tx/tx_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct SeenFrame {
    BYTE type;
    BYTE source;
    BYTE destination;
    int valid;
    int errorKind;
    Clock::time_point at;
};

std::mutex g_seenLock;
std::vector<SeenFrame> g_seen;

void MonitorFrame(BYTE* frame, unsigned length, BYTE source, BYTE destination, int valid, int errorKind)
{
    BYTE type = length > 2 ? frame[2] : 0;
    std::lock_guard<std::mutex> lock(g_seenLock);
    g_seen.push_back({type, source, destination, valid, errorKind, Clock::now()});
}

void NoData(BYTE*, unsigned short, BYTE) {}

std::vector<SeenFrame> Seen()
{
    std::lock_guard<std::mutex> lock(g_seenLock);
    return g_seen;
}

constexpr uint32_t kTimeScale = 5;

// The shared line: whatever one end sends reaches every other end, the monitor's included, in the
// order it was sent.
class Relay {
public:
    Relay(std::vector<mstptx::PtyLine*> stations, mstptx::PtyLine* monitor)
    {
        for (mstptx::PtyLine* s : stations)
            m_ends.push_back({s, {}});
        m_ends.push_back({monitor, {}});
        m_stationCount = stations.size();
    }
    ~Relay() { Stop(); }

    void Start()
    {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }
    // Longest quiet stretch on the line between from and to.
    Clock::duration LongestQuiet(Clock::time_point from, Clock::time_point to)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        Clock::duration longest{};
        Clock::time_point last = from;
        for (Clock::time_point t : m_activity) {
            if (t < from || t > to)
                continue;
            longest = std::max(longest, t - last);
            last = t;
        }
        return std::max(longest, to - last);
    }

private:
    struct End {
        mstptx::PtyLine* line;
        mstptx::Octets pending; // sent on the line, not yet handed to this end
    };

    // Well below the 510 queued octets at which a stack drops its input and restarts.
    static constexpr int kBacklog = 128;

    static void Deliver(End& end)
    {
        if (end.pending.empty())
            return;
        int queued = std::max(end.line->QueuedAtStack(), 0);
        if (queued >= kBacklog)
            return;
        size_t room = std::min(end.pending.size(), static_cast<size_t>(kBacklog - queued));
        ssize_t n = write(end.line->MasterFd(), end.pending.data(), room);
        if (n > 0)
            end.pending.erase(end.pending.begin(), end.pending.begin() + n);
    }

    void Run()
    {
        std::vector<pollfd> fds;
        for (size_t i = 0; i < m_stationCount; ++i)
            fds.push_back({m_ends[i].line->MasterFd(), POLLIN, 0});
        while (!m_stop.load()) {
            bool backlog = false;
            for (const End& end : m_ends)
                backlog = backlog || !end.pending.empty();
            if (poll(fds.data(), fds.size(), backlog ? 1 : 20) > 0) {
                for (size_t i = 0; i < fds.size(); ++i) {
                    if (!(fds[i].revents & POLLIN))
                        continue;
                    uint8_t buf[512];
                    ssize_t got = read(fds[i].fd, buf, sizeof buf);
                    if (got <= 0)
                        continue;
                    {
                        std::lock_guard<std::mutex> lock(m_lock);
                        m_activity.push_back(Clock::now());
                    }
                    for (size_t j = 0; j < m_ends.size(); ++j)
                        if (j != i)
                            m_ends[j].pending.insert(m_ends[j].pending.end(), buf, buf + got);
                }
            }
            for (End& end : m_ends)
                Deliver(end);
        }
    }

    std::vector<End> m_ends; // the stations, then the monitor
    size_t m_stationCount = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<Clock::time_point> m_activity;
};

struct Station {
    BYTE address;
    BYTE next;
    mstptx::PtyLine line;
    pid_t pid = -1;
    int input = -1;  // closing it ends the station
    int output = -1; // its report
};

bool Spawn(Station& s, int maxMaster)
{
    // Close-on-exec, so that no other station holds this one's input open.
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string address = std::to_string(s.address), next = std::to_string(s.next),
                max = std::to_string(maxMaster), scale = std::to_string(kTimeScale);
    std::string program = MSTP_RING_STATION;
    char* argv[] = {program.data(), const_cast<char*>(s.line.Path().c_str()), address.data(), max.data(),
                    next.data(), scale.data(), nullptr};
    int rc = posix_spawn(&s.pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    s.input = in[1];
    s.output = out[0];
    return rc == 0;
}

// Ends the station and returns its report; exit status in *status.
std::string Finish(Station& s, int* status)
{
    close(s.input);
    std::string report;
    char buf[256];
    ssize_t n;
    while ((n = read(s.output, buf, sizeof buf)) > 0)
        report.append(buf, static_cast<size_t>(n));
    close(s.output);
    waitpid(s.pid, status, 0);
    s.pid = -1;
    return report;
}

TEST(MstpRing, ThreeStationsCirculateTheTokenWatchedByAListenOnlyMonitor)
{
    mstptx::ScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    // A small network: masters up to 7, so the gaps are polled in well under a second.
    constexpr int kMaxMaster = 7;
    Station stations[3];
    const BYTE addresses[3] = {3, 5, 6};
    std::vector<mstptx::PtyLine*> lines;
    for (int i = 0; i < 3; ++i) {
        stations[i].address = addresses[i];
        stations[i].next = addresses[(i + 1) % 3];
        ASSERT_TRUE(stations[i].line.Open());
        lines.push_back(&stations[i].line);
    }
    mstptx::PtyLine monitorLine;
    ASSERT_TRUE(monitorLine.Open());

    g_MstpStack.m_cSource = SOURCE_SERIAL_PORT;
    ASSERT_EQ(g_MstpStack.Connect(&NoData, monitorLine.Port(), 38400, THIS_STATION, 0, 1), 1);
    g_MstpStack.SetFrameCallback(&MonitorFrame);

    Relay relay(lines, &monitorLine);
    relay.Start();
    for (Station& s : stations)
        ASSERT_TRUE(Spawn(s, kMaxMaster));

    // The ring has formed once every pass of it has been seen.
    const std::set<std::pair<int, int>> ring = {{3, 5}, {5, 6}, {6, 3}};
    auto tokenPasses = [](const std::vector<SeenFrame>& frames, Clock::time_point from) {
        std::map<std::pair<int, int>, int> passes;
        for (const SeenFrame& f : frames)
            if (f.at >= from && f.valid && f.type == FRAME_TYPE_TOKEN)
                ++passes[{f.source, f.destination}];
        return passes;
    };
    auto fewestPasses = [&](Clock::time_point from) {
        auto passes = tokenPasses(Seen(), from);
        int fewest = -1;
        for (const auto& pass : ring)
            fewest = fewest < 0 ? passes[pass] : std::min(fewest, passes[pass]);
        return fewest;
    };
    // The ring then runs for a few seconds and at least until each pass has been seen often; the
    // bound only ends a broken run.
    constexpr int kPassesWanted = 21;
    const auto kRunFor = std::chrono::seconds(3);
    const auto kBound = std::chrono::seconds(120);
    Clock::time_point formed{};
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < kBound) {
        if (fewestPasses(start) > 0) {
            formed = Clock::now();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool ringFormed = formed != Clock::time_point{};
    while (ringFormed && (Clock::now() - formed < kRunFor || fewestPasses(formed) < kPassesWanted) &&
           Clock::now() - formed < kBound)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Clock::time_point end = Clock::now();

    std::string reports[3];
    int statuses[3];
    for (int i = 0; i < 3; ++i)
        reports[i] = Finish(stations[i], &statuses[i]);
    relay.Stop();
    g_MstpStack.WaitForWorker();
    g_MstpStack.SetFrameCallback(nullptr);

    ASSERT_TRUE(ringFormed) << "the token never went round all three stations";
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(int(addresses[i]));
        EXPECT_TRUE(WIFEXITED(statuses[i]) && WEXITSTATUS(statuses[i]) == 0) << reports[i];
        int indications = 0;
        EXPECT_EQ(sscanf(reports[i].c_str(), "indications=%d", &indications), 1) << reports[i];
        EXPECT_GT(indications, 0) << "data from the previous station arrived";
    }

    std::vector<SeenFrame> frames = Seen();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(g_MstpStack.m_nRestartCount.load(), 0) << "the monitor dropped octets";
    size_t damaged = 0;
    for (const SeenFrame& f : frames)
        damaged += !(f.valid == 1 && f.errorKind == 0);
    EXPECT_EQ(damaged, 0u) << "of " << frames.size() << " frames: no two stations ever talked at once";

    // While the ring ran, the token went only round it, and round all of it.
    auto passes = tokenPasses(frames, formed);
    for (const auto& [pass, count] : passes) {
        EXPECT_TRUE(ring.count(pass)) << "token from " << pass.first << " to " << pass.second;
    }
    for (const auto& pass : ring)
        EXPECT_GE(passes[pass], kPassesWanted) << "token from " << pass.first << " to " << pass.second;

    // A lost token needs Tno_token of silence on the line.
    auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(relay.LongestQuiet(formed, end));
    EXPECT_LT(quiet.count(), g_MstpStack.Tno_token * kTimeScale) << "the line fell silent long enough to lose the token";

    // Every request expecting a reply was answered at once with a postponement.
    size_t requests = 0;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        const SeenFrame& f = frames[i];
        if (f.at < formed || f.type != FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY)
            continue;
        ++requests;
        const SeenFrame& answer = frames[i + 1];
        EXPECT_EQ(answer.type, FRAME_TYPE_REPLY_POSTPONED);
        EXPECT_EQ(answer.source, f.destination);
        EXPECT_EQ(answer.destination, f.source);
    }
    EXPECT_GT(requests, 0u);
}

} // namespace
