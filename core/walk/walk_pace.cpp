#include "walk_pace.h"

#include "task_group.h"
#include "thread_times.h"

#include <tbb/global_control.h>
#include <tbb/info.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <type_traits>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/resource.h>
#endif

#if defined(_WIN32)
#include <system_error>
#include <thread>
#else
#include <pthread.h>
#endif

namespace murako {

namespace {

constexpr int kWalkHeaps = 2;
// Workers are made only where a stack more for each and this many more could be made too, so that the walk
// keeps room for its memory under a limit on address space: without it, 30 MB let two workers start and the
// walk of the benchmark tree fail, and with room for these stacks alone, 120 MB let twelve.
constexpr int kHeadroomStacks = 8;

// A stretch is measured no sooner than this after the last began, on whichever thread: reading a thread's
// times costs some 9 µs, a fifth of a percent of one core's time at this pace however many threads walk.
constexpr std::chrono::nanoseconds kMeasureEvery{2'000'000};
// The count is decided anew after this many measured stretches, the first time after fewer: a cold disk
// answers some listings at once and keeps others waiting, so that a few stretches alone may tell either way.
// The stretches blocked longest are left out (one of the first few), so that an odd one (a page the kernel
// dropped from a warm cache, a lock in the kernel) does not swing the count.
constexpr size_t kStretchesPerDecision = 12;
constexpr size_t kStretchesForFirstDecision = 3;
constexpr size_t kStretchesLeftOut = 2;
// Calls block when the stretches are blocked for more than this share of the time they did not wait for a
// processor, and go on blocking until it stays below the second for a few decisions: a warm walk is blocked
// for a hundredth of it, a share's for nearly all, a cold disk's for two fifths on few threads and less on
// more, as its requests no longer queue, though it is still faster on 16 threads than on 8.
constexpr double kBlockingShare = 0.3;
constexpr double kCalmShare = 0.05;
constexpr int kCalmDecisionsToLeave = 3;
// Beyond this share nearly every call waits, so that a directory's lengths are queried on other threads; a
// cold local disk reads its files' lengths with the listing, and querying them aside only costs there.
constexpr double kLengthsAsideShare = 0.75;
// While calls block, at least this many threads walk: a cold local disk serves many requests at once far
// faster than one after another. Measured on 2 cores and a virtio disk, /usr (160,000 entries) with the page
// cache dropped: 2 threads 1.38 s, 4 threads 1.12 s, 8 threads 1.02 s, 16 threads 0.94 s, 32 threads 0.93 s.
constexpr int kBlockingThreads = 16;

// The calling thread's measuring: the stretch being measured, and when and how it began.
struct MeasureTurn {
    WalkPace::Stretch* measuring = nullptr;
    std::chrono::steady_clock::time_point start{};
    WalkPace::Spent atStart;
};

// Windows' runtime frees a thread's own objects before it destroys them as the thread ends.
static_assert(std::is_trivially_destructible_v<MeasureTurn>);
thread_local MeasureTurn t_turn;

// Threads that wait together until all are made or one cannot be, then end: how many of count could be made
// at once, each with a worker's stack.
class TrialThreads {
public:
    int Make(int count, size_t stackSize)
    {
        int made = 0;
        for (; made < count && Start(stackSize); ++made) {
        }
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        releasedSignal_.notify_all();
        JoinAll();
        return made;
    }

private:
    void Wait()
    {
        // A thread's first allocation may give it a heap of its own, which a worker's would too.
        void* volatile allocated = std::malloc(1);
        std::free(allocated);
        std::unique_lock lock(mutex_);
        releasedSignal_.wait(lock, [this] { return released_; });
    }

#if defined(_WIN32)
    bool Start(size_t)
    {
        try {
            threads_.emplace_back([this] { Wait(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }
    void JoinAll()
    {
        for (std::thread& thread : threads_)
            thread.join();
    }
    std::vector<std::thread> threads_;
#else
    bool Start(size_t stackSize)
    {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0)
            return false;
        pthread_t thread;
        const bool started = (stackSize == 0 || pthread_attr_setstacksize(&attributes, stackSize) == 0) &&
                             pthread_create(&thread, &attributes, &Run, this) == 0;
        pthread_attr_destroy(&attributes);
        if (started)
            threads_.push_back(thread);
        return started;
    }
    static void* Run(void* self)
    {
        static_cast<TrialThreads*>(self)->Wait();
        return nullptr;
    }
    void JoinAll()
    {
        for (pthread_t thread : threads_)
            pthread_join(thread, nullptr);
    }
    std::vector<pthread_t> threads_;
#endif

    std::mutex mutex_;
    std::condition_variable releasedSignal_;
    bool released_ = false;
};

// The workers the process has shown it can make, and the scheduler's limit to them: a worker the scheduler
// fails to make ends the process, on whichever thread asked for it. The room only grows, as the scheduler
// keeps the workers it made.
class WorkerRoom {
public:
    int Reserve(int wanted)
    {
        std::lock_guard lock(mutex_);
        if (wanted > room_) {
            // As many made at once as wanted, beside the workers the scheduler may hold already, and room
            // left for the walk's own memory: a stack's worth for each and a few more.
            const size_t stack = tbb::global_control::active_value(tbb::global_control::thread_stack_size);
            const int made = (TrialThreads().Make(2 * wanted + kHeadroomStacks, stack) - kHeadroomStacks) / 2;
            ++trials_;
            if (made > room_) {
                room_ = made;
                // The scheduler counts the calling thread too.
                limit_ = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, room_ + 1);
            }
        }
        return std::min(wanted, room_);
    }
    int Trials()
    {
        std::lock_guard lock(mutex_);
        return trials_;
    }

private:
    std::mutex mutex_;
    int room_ = 0;
    int trials_ = 0;
    std::unique_ptr<tbb::global_control> limit_;
};

// Never freed: a walk left hanging in a frozen share may still ask for workers while the process ends.
std::atomic<WorkerRoom*> g_room{nullptr};

}  // namespace

WalkProcessSettings::WalkProcessSettings()
{
#if defined(__GLIBC__)
    // A directory's records are often freed by another thread than the one that made them, and each of
    // glibc's per-thread heaps keeps what is freed into it: / with the deep benchmark combs peaked at 67 MB
    // with its default heaps, 51 MB with two, at the same speed. Under a limit on address space, one: a heap
    // beside the first takes 64 MB of it at once, and the first then has none left to grow into.
    rlimit addressSpace{};
    const bool limited = getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY;
    mallopt(M_ARENA_MAX, limited ? 1 : kWalkHeaps);
#endif
    if (g_room.load() == nullptr)
        g_room = new WorkerRoom;
}

int WalkProcessSettings::ReserveWorkers(int wanted)
{
    WorkerRoom* room = g_room.load();
    return room ? room->Reserve(wanted) : wanted;
}

int WalkProcessSettings::Trials()
{
    WorkerRoom* room = g_room.load();
    return room ? room->Trials() : 0;
}

WalkPace::WalkPace(int fixedThreads, int most)
    : adapts_(fixedThreads <= 0),
      cores_(std::clamp(tbb::info::default_concurrency(), 1, most)),
      most_(most),
      arenas_(std::make_unique<WalkArenas>())
{
    SetThreads(adapts_ ? cores_ : fixedThreads);
    counts_.first = threads_;
}

WalkPace::~WalkPace() = default;

WalkThreadCounts WalkPace::Counts() const
{
    std::lock_guard lock(mutex_);
    return counts_;
}

int WalkPace::ThreadsFor(double blockedShare, bool callsBlock, int cores, int most)
{
    // Each thread keeps a processor busy for the share of its time it is not blocked.
    const double notBlocked = std::max(1.0 - blockedShare, 1e-3);
    const long threads = std::max(std::lround(cores / notBlocked), callsBlock ? long{kBlockingThreads} : 0L);
    return std::clamp(static_cast<int>(std::min(threads, 1'000'000L)), std::min(cores, most), most);
}

void WalkPace::Record(const Spent& spent)
{
    // Waiting for a processor is left out: more threads would only wait longer.
    const int64_t notWaiting = spent.wall - spent.waiting;
    const double share =
        notWaiting > 0 ? std::clamp(static_cast<double>(notWaiting - spent.running) / static_cast<double>(notWaiting), 0.0, 1.0)
                       : 0.0;
    std::lock_guard lock(mutex_);
    window_.push_back(share);
    const bool decided = decided_.load(std::memory_order_relaxed);
    if (window_.size() < (decided ? kStretchesPerDecision : kStretchesForFirstDecision))
        return;
    // Each stretch counts alike, so that the listing of one large directory held in memory does not outweigh
    // a dozen that waited for the disk.
    const size_t leftOut = decided ? kStretchesLeftOut : 1;
    std::nth_element(window_.begin(), window_.begin() + leftOut, window_.end(), std::greater<>());
    double sum = 0;
    for (auto it = window_.begin() + leftOut; it != window_.end(); ++it)
        sum += *it;
    const double mean = sum / static_cast<double>(window_.size() - leftOut);
    // Judged with the decision before, so that one window spent in directories read already does not undo
    // what the disk's waits called for.
    const double blocked = decided ? (mean + previous_) / 2 : mean;
    window_.clear();
    previous_ = mean;
    decided_.store(true, std::memory_order_relaxed);
    bool callsBlock = callsBlock_.load(std::memory_order_relaxed);
    if (!callsBlock) {
        callsBlock = blocked > kBlockingShare;
        calm_ = 0;
    } else {
        calm_ = blocked < kCalmShare ? calm_ + 1 : 0;
        callsBlock = calm_ < kCalmDecisionsToLeave;
    }
    callsBlock_.store(callsBlock, std::memory_order_relaxed);
    lengthsAside_.store(blocked > kLengthsAsideShare, std::memory_order_relaxed);
    if (adapts_)
        // Half or four times at most at a time, so that the count follows a change within a few steps, but
        // straight to what a cold disk needs once calls block.
        SetThreads(std::clamp(ThreadsFor(blocked, callsBlock, cores_, most_), std::max(threads_ / 2, 1),
                              std::max(threads_ * 4, callsBlock ? kBlockingThreads : 0)));
}

int WalkPace::Step(int wanted) const
{
    if (!adapts_)
        return wanted;
    int step = cores_;
    while (step < wanted && step < most_)
        step *= 2;
    return std::min(step, most_);
}

int WalkPace::Grant(int wanted)
{
    // A request beyond the room the process has shown makes twice as many trial threads and joins them (13 to
    // 32 ms for 128 at a load of 22, under the mutex that measuring threads wait for): one at every step cost
    // a share's walk its calls in flight.
    if (wanted > granted_ && requests_ < 2)
        granted_ = std::max(granted_, WalkProcessSettings::ReserveWorkers(requests_++ == 0 ? wanted : most_));
    return std::min(wanted, granted_);
}

void WalkPace::SetThreads(int wanted)
{
    const int threads = Grant(Step(wanted));
    if (threads == threads_ || threads == 0)
        return;
    arenas_->Use(threads);
    threads_ = threads;
    counts_.most = std::max(counts_.most, threads);
    counts_.last = threads;
}

WalkPace::Stretch::Stretch(WalkPace* pace)
{
    if (!pace || t_turn.measuring)
        return;
    const auto now = std::chrono::steady_clock::now();
    const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    int64_t next = pace->nextStretch_.load(std::memory_order_relaxed);
    // Until the first decision every stretch is measured: the first threads begin their directories together,
    // and one measured at a time put the decision off by a directory's time (some 20 ms on a 1 ms share).
    // Where threads' times come in ticks, stretches begun together would all read as waiting.
    if (!(kThreadTimesFine && pace->Undecided()) &&
        (nowNs < next || !pace->nextStretch_.compare_exchange_strong(next, nowNs + kMeasureEvery.count())))
        return;
    measuredFor_ = pace;
    t_turn.measuring = this;
    t_turn.start = now;
    t_turn.atStart = ThreadTimes();
}

WalkPace::Stretch::~Stretch()
{
    if (t_turn.measuring == this)
        End();
}

void WalkPace::Stretch::End()
{
    Stretch* const stretch = std::exchange(t_turn.measuring, nullptr);
    if (!stretch)
        return;
    const auto now = std::chrono::steady_clock::now();
    const Spent times = ThreadTimes();
    const int64_t wall = std::chrono::duration_cast<std::chrono::nanoseconds>(now - t_turn.start).count();
    const int64_t running = times.running - t_turn.atStart.running;
    // The kernel counts the wait for a processor when the thread gets one, a little apart from the clocks.
    const int64_t waiting = std::clamp<int64_t>(times.waiting - t_turn.atStart.waiting, 0, std::max<int64_t>(wall - running, 0));
    std::exchange(stretch->measuredFor_, nullptr)->Record({wall, running, waiting});
}

WalkThreadCounts RunOnWalkThreads(int requested, int allowed, const std::function<void(WalkPace*)>& body)
{
    const int most = std::clamp(allowed, 1, kMostWalkThreads);
    WalkPace pace(requested > 0 ? std::min(requested, most) : 0, most);
    if (pace.Counts().first == 0) {
        body(nullptr);
        return {1, 1, 1};
    }
    body(&pace);
    return pace.Counts();
}
}  // namespace murako
