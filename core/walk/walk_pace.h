#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "thread_times.h"

namespace murako {

class WalkArenas;

// The most threads that walk at once. A walk that blocks keeps many calls in flight: a share that answers
// in a millisecond serves some 50 times more calls at once than one after another.
inline constexpr int kMostWalkThreads = 128;

// The thread counts a walk chose: at its start, the most at once, and at its end.
struct WalkThreadCounts {
    int first = 0;
    int most = 0;
    int last = 0;
};

// How many threads walk at once, and whether the file system's calls mostly wait. Now and then a walking
// thread measures one stretch of its work, the opening and listing of a directory or a run of length queries:
// how long it ran on a processor, how long it waited for one, and how long it was blocked. While the walk
// runs at processor speed (a warm disk), as many threads walk as there are cores, as more would only take
// turns; while it blocks, on a cold disk in its opens and listings or on a share in every call, at least as
// many walk as a cold disk needs, and more up to the cores divided by the share of the time not blocked, so
// that the processors stay busy, up to the most the file system allows. Safe from several threads at once.
class WalkPace {
public:
    // fixedThreads > 0: always that many, only measured; otherwise adapted between the cores and most, in
    // steps: the cores, doubled as often as needed, and most. The count is the walk's own: tasks go to an
    // arena of that many threads, one for each step taken, so that nothing of it outlives the walk or limits
    // another.
    WalkPace(int fixedThreads, int most);
    ~WalkPace();
    WalkPace(const WalkPace&) = delete;
    WalkPace& operator=(const WalkPace&) = delete;

    // The walk's calls block, as on a cold disk or a share: more threads walk than there are cores.
    bool CallsBlock() const { return callsBlock_.load(std::memory_order_relaxed); }
    // Nearly every call waits, as on a share, and not only those that read a disk's blocks: a directory's
    // lengths are then queried on several threads.
    bool LengthsAside() const { return lengthsAside_.load(std::memory_order_relaxed); }
    // Nothing has been decided yet: a directory listed now may judge its own lengths.
    bool Undecided() const { return !decided_.load(std::memory_order_relaxed); }
    WalkThreadCounts Counts() const;
    // The arena of the count, where the walk's tasks go now; one left behind by a change stays while the
    // pace lives, and serves again when the count comes back to it.
    const WalkArenas& Arenas() const { return *arenas_; }

    // One stretch of work while it lives, measured when the calling thread's turn has come; a stretch within
    // one being measured is part of it.
    class Stretch {
    public:
        explicit Stretch(WalkPace* pace);
        ~Stretch();
        // Ends the stretch being measured on the calling thread, if any, before a wait that is not the file
        // system's.
        static void End();
        Stretch(const Stretch&) = delete;
        Stretch& operator=(const Stretch&) = delete;

    private:
        WalkPace* measuredFor_ = nullptr;
    };

    using Spent = SpentTime;
    // Adds a measured stretch, and after a few decides the count anew.
    void Record(const Spent& spent);
    // The threads that keep the cores busy when a thread is blocked for that share of its time, and at least
    // the many a cold disk needs while calls block.
    static int ThreadsFor(double blockedShare, bool callsBlock, int cores, int most);

private:
    // The step at or above wanted that an adapting walk takes: a count a few threads from the last would
    // send the walk's tasks to a new arena at nearly every decision on a share, and its workers follow only
    // as they finish what they run (a 1 ms share walked with a third fewer calls in flight so).
    int Step(int wanted) const;
    // At most wanted workers, as many as the process grants: asked for the walk's first count, and once more,
    // for its most, when it first wants more.
    int Grant(int wanted);
    void SetThreads(int threads);

    const bool adapts_;
    const int cores_;
    const int most_;
    std::atomic<bool> callsBlock_{false};
    std::atomic<bool> lengthsAside_{false};
    std::atomic<int64_t> nextStretch_{0};  // when a stretch may be measured next, on the steady clock
    mutable std::mutex mutex_;
    std::vector<double> window_;  // blocked shares of the stretches measured since the last decision
    double previous_ = 0;         // the last decision's mean share
    int calm_ = 0;                // decisions in a row that found calls hardly blocking while they blocked
    std::atomic<bool> decided_{false};
    int threads_ = 0;
    int granted_ = 0;
    int requests_ = 0;  // of workers from the process
    WalkThreadCounts counts_;
    std::unique_ptr<WalkArenas> arenas_;
};

// Settings of the whole process that the walk is tuned for, made once by each program at start-up before
// it starts threads of its own, and kept until the process ends: the scheduler may run more threads than
// there are cores, but never more than the process has shown it can make, and glibc keeps two heaps rather
// than one per thread.
class WalkProcessSettings {
public:
    WalkProcessSettings();
    WalkProcessSettings(const WalkProcessSettings&) = delete;
    WalkProcessSettings& operator=(const WalkProcessSettings&) = delete;

    // At most wanted workers, as many as the process can make: fewer under a limit on threads or on address
    // space, 0 when it can make none. Without settings, wanted.
    static int ReserveWorkers(int wanted);
    // How many times the process has tried how many threads it can make.
    static int Trials();
};

// Runs body with a pace of requested threads, or of a count the walk adapts as it goes when requested is 0,
// and never more than allowed, the most the file system can serve, nor than the process can make; with no
// pace (nullptr) when it can make no thread, and the walk runs on the calling thread. The counts it chose.
WalkThreadCounts RunOnWalkThreads(int requested, int allowed, const std::function<void(WalkPace*)>& body);

}  // namespace murako
