#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <tbb/global_control.h>

#include "file_system.h"
#include "run_host.h"

namespace murako {

// Adds value to sum unless the result would leave the 64-bit range; then sum keeps its value.
inline void AddUnlessOverflow(int64_t& sum, int64_t value)
{
    int64_t result;
    if (!__builtin_add_overflow(sum, value, &result))
        sum = result;
}

// One directory on the way down from a walk's base to the directory being walked.
struct WayStep {
    const WayStep* up = nullptr;  // nullptr above the base
    std::optional<DirectoryIdentity> identity;
    bool pastMount = false;  // a mount lies between the base and here, so a directory may be met again below
    mutable bool kept = false;  // in its guard's set; changed under the guard's mutex
};

// Finds a directory met again below itself, as through a bind mount of one of its ancestors: it is not
// entered. A plain tree cannot loop, so nothing is kept or looked up until a way down passes a mount below
// the base; from there on every directory is looked up in a set of the directories on the ways being
// walked. Safe from several threads at once.
class LoopGuard {
public:
    LoopGuard() = default;
    LoopGuard(const LoopGuard&) = delete;
    LoopGuard& operator=(const LoopGuard&) = delete;

    // Fills step for dir, entered below parent (nullptr: dir is the base); true when dir is one of the
    // directories on its own way down.
    bool Closes(const WayStep* parent, const Directory& dir, WayStep& step);
    // The step's directory has been walked, and with it every directory below.
    void Forget(const WayStep& step);

private:
    struct Hash {
        size_t operator()(const DirectoryIdentity& identity) const noexcept
        {
            return std::hash<uint64_t>()(identity.inode * 0x9e3779b97f4a7c15ULL ^ identity.device);
        }
    };

    std::mutex mutex_;
    std::unordered_multimap<DirectoryIdentity, const WayStep*, Hash> kept_;
};

struct Listing;
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
    // fixedThreads > 0: always that many, only measured; otherwise adapted between the cores and most. The
    // count is the walk's own: tasks go to an arena of that many threads, made anew when the count changes,
    // so that nothing of it outlives the walk or limits another.
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
    // pace lives.
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

    // Time spent on a measured stretch, in nanoseconds.
    struct Spent {
        int64_t wall = 0;
        int64_t running = 0;  // on a processor
        int64_t waiting = 0;  // runnable, waiting for a processor
    };
    // Adds a measured stretch, and after a few decides the count anew.
    void Record(const Spent& spent);
    // The threads that keep the cores busy when a thread is blocked for that share of its time, and at least
    // the many a cold disk needs while calls block.
    static int ThreadsFor(double blockedShare, bool callsBlock, int cores, int most);

private:
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
    WalkThreadCounts counts_;
    std::unique_ptr<WalkArenas> arenas_;
};

// What a search wants told of a walk as it goes: the base directory's listing, and each of the base's
// subdirectories (its rows, numbered in listing order) as its whole subtree is done. Calls may come from
// several threads at once when the walk is threaded.
class WalkRows {
public:
    virtual ~WalkRows() = default;
    // The base is listed; nothing below it is walked yet.
    virtual void BaseListed(const Listing& listing) = 0;
    // Row's subtree is done; the walk yields right after.
    virtual void RowFinished(size_t row, int64_t size) = 0;
    // Row's walk was cut short by a cancel.
    virtual void RowInterrupted(size_t row) = 0;
    // A place that could not be read, by its path below the base, under row (nullopt: the base itself). A
    // directory whose listing broke off or some of whose files could not be measured is told once; a
    // subdirectory that could not be opened, or that is one of its own ancestors, by its own path.
    virtual void Unread(std::optional<size_t> row, const std::string& path, ReadFailure failure) = 0;
};

// What a walk needs of its run: the yield after every entry and subdirectory, and the busy flag tested
// right after it.
struct WalkContext {
    RunHost& host;
    const std::atomic<bool>& searching;
    // Subdirectories are walked on the pace's task arena, several at once, and the lengths of a large
    // directory queried on several threads; otherwise everything runs on the calling thread.
    bool parallel = false;
    std::atomic<int64_t>* entriesCounted = nullptr;  // every listed name but "." and "..", added in batches
    WalkRows* rows = nullptr;
    char separator = '/';  // the file system's, between the names of a path told to rows
    WalkPace* pace = nullptr;  // of a parallel walk

    // Yields, then tells whether the walk may go on.
    bool YieldAndTest() const
    {
        host.DoEvents();
        return searching.load(std::memory_order_relaxed);
    }
};

// One directory listed: the sum of its own files in listing order, and its subdirectories' names.
struct Listing {
    int64_t filesSize = 0;
    std::vector<std::string> subdirectories;
    // The first thing in the directory that could not be read: the listing itself or a file's length.
    ReadFailure failure = ReadFailure::None;

    void NoteFailure(ReadFailure found)
    {
        if (failure == ReadFailure::None)
            failure = found;
    }
};

// Lists dir once, "." and ".." skipped; an entry whose kind cannot be queried counts as a subdirectory.
// nullopt when the run was cancelled during the listing.
std::optional<Listing> ListDirectory(Directory& dir, const WalkContext& context);

// The size of a directory's whole subtree: its own files first, then its subdirectories in listing order,
// each addition skipped when it would overflow. 0 for a directory that cannot be listed (nullptr) and 0
// when the run is cancelled during the walk. A directory met again below itself counts 0. What was found
// on the way is told to context.rows.
int64_t SumDirectory(std::unique_ptr<Directory> PrmDir, const WalkContext& context);

// Settings of the whole process that the walk is tuned for, made once by each program at start-up before
// it starts threads of its own, and kept while it runs: the scheduler may run more threads than there are
// cores, and glibc keeps two heaps rather than one per thread.
class WalkProcessSettings {
public:
    WalkProcessSettings();

private:
    tbb::global_control workers_;
};

// Runs body on a task arena of requested threads, or of a count the walk adapts as it goes when requested is
// 0, and never more than allowed, the most the file system can serve. The counts it chose.
WalkThreadCounts RunOnWalkThreads(int requested, int allowed, const std::function<void(WalkPace&)>& body);

}  // namespace murako
