#pragma once
// A performance counter that the test winds by hand, in whole worker turns.
//
// The worker reads the counter twice per turn (one read in each of the two Ticks of its interval
// timer) and adds the lap between the two reads to SilenceTimer. Once the budget of reads the test
// granted is spent, the next read blocks: the worker is parked at the start of a turn, where the
// test may read and set stack members (the clock's lock orders those accesses against the worker)
// and then grant the next turns. Each read advances the counter by the step of the grant, so a
// turn adds exactly that step to SilenceTimer; the interval timer is built on a still clock, so its
// calibration is 0.
//
// The test thread's own reads neither block nor advance the counter.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/clock.h"

namespace mstptx {

class SteppedClock {
public:
    // Counter reads of a worker before its first turn: the interval timer's construction (four)
    // and its Reset (three).
    static constexpr int64_t kStartupReads = 7;
    static constexpr int64_t kReadsPerTurn = 2;

    static void Install()
    {
        State& s = Get();
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.controller = std::this_thread::get_id();
            s.granted = 0;
            s.step = 0;
            s.parked = false;
            s.freeRun = false;
        }
        SetPerformanceCounterHook(&Hook);
    }

    // After the worker is gone.
    static void Uninstall() { SetPerformanceCounterHook(nullptr); }

    // Lets a worker that was just started build its timer and park before its first turn.
    static bool Startup() { return Grant(kStartupReads, 0); }

    // Runs n whole worker turns, each adding msPerTurn to SilenceTimer; returns once the worker is
    // parked again, false when it did not get there in time.
    static bool Turns(int n, double msPerTurn = 0.0)
    {
        return Grant(kReadsPerTurn * n, static_cast<int64_t>(msPerTurn * 1e6 + 0.5));
    }

    // The worker runs on without parking, each turn adding msPerTurn. Needed before the stack
    // joins its worker, and for tests that let the worker run at its own pace.
    static void RunFree(double msPerTurn = 0.0)
    {
        State& s = Get();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.freeRun = true;
        s.step = static_cast<int64_t>(msPerTurn * 1e6 + 0.5);
        s.cv.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        std::thread::id controller;
        int64_t now = 1000000000;
        int64_t granted = 0;
        int64_t step = 0;
        bool parked = false;
        bool freeRun = false;
    };

    static State& Get()
    {
        static State s;
        return s;
    }

    static bool Grant(int64_t reads, int64_t stepNs)
    {
        State& s = Get();
        std::unique_lock<std::mutex> lock(s.mutex);
        s.step = stepNs;
        s.granted += reads;
        s.cv.notify_all();
        // Generous: the worker needs microseconds per turn; this only ends a hung test.
        return s.cv.wait_for(lock, std::chrono::seconds(60), [&] { return s.granted == 0 && s.parked; });
    }

    static int64_t Hook()
    {
        State& s = Get();
        std::unique_lock<std::mutex> lock(s.mutex);
        if (std::this_thread::get_id() == s.controller)
            return s.now;
        while (!s.freeRun && s.granted == 0) {
            s.parked = true;
            s.cv.notify_all();
            s.cv.wait(lock);
        }
        s.parked = false;
        if (!s.freeRun)
            --s.granted;
        s.now += s.step;
        return s.now;
    }
};

} // namespace mstptx
