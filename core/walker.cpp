#include "walker.h"

#include "thread_times.h"

#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace murako {

namespace {

constexpr int kWalkHeaps = 2;

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

// Lengths of a large directory are queried on several threads past this many files.
constexpr size_t kInlineLengths = 512;
constexpr size_t kLengthGrain = 256;
// Where nearly every call waits, every length is queried on other threads, a few at a time, so that a
// directory of a few hundred files does not wait for one round trip after another.
constexpr size_t kBlockingLengthGrain = 8;
// Until the walk has measured enough to tell, a directory's first lengths are timed: when each took a round
// trip, the rest are queried aside, as for the base's own files on a share. Only until then, as a cold disk's
// first two lengths may each read a block too, and querying the rest aside made cold /usr 29 % slower.
constexpr size_t kTimedLengths = 2;
constexpr std::chrono::microseconds kRoundTrip{100};
// At this many chunks unfinished the listing waits for them, so that a listing faster than its length queries
// does not hold the whole directory's names.
constexpr size_t kMostWaitingChunks = 32;
// Listed names are added to the run's counter this many at a time, so that walking threads rarely meet on it.
constexpr int64_t kEntryBatch = 1024;

bool IsDotOrDotDot(std::string_view name)
{
    return name == "." || name == "..";
}

bool LengthsAside(const WalkContext& context)
{
    return context.pace && context.pace->LengthsAside();
}

bool Undecided(const WalkContext& context)
{
    return context.pace && context.pace->Undecided();
}

// Counts listed names into the run's progress counter a batch at a time, and the rest when it goes.
class EntryCounter {
public:
    explicit EntryCounter(std::atomic<int64_t>* total) : total_(total) {}
    ~EntryCounter() { Flush(); }
    EntryCounter(const EntryCounter&) = delete;
    EntryCounter& operator=(const EntryCounter&) = delete;

    void Add()
    {
        if (++pending_ == kEntryBatch)
            Flush();
    }

private:
    void Flush()
    {
        if (total_ && pending_ > 0)
            total_->fetch_add(pending_, std::memory_order_relaxed);
        pending_ = 0;
    }

    std::atomic<int64_t>* total_;
    int64_t pending_ = 0;
};

// The calling thread's measuring: the stretch being measured, and when and how it began.
struct MeasureTurn {
    WalkPace::Stretch* measuring = nullptr;
    std::chrono::steady_clock::time_point start{};
    WalkPace::Spent atStart;
};

thread_local MeasureTurn t_turn;

}  // namespace

// Every arena a walk's counts made, and the one of the count now.
class WalkArenas {
public:
    void Add(int threads)
    {
        // Workers only: the calling thread lists the base and its first chain, then waits.
        all_.push_back(std::make_unique<tbb::task_arena>(threads, 0));
        now_.store(all_.back().get(), std::memory_order_release);
    }
    tbb::task_arena* Now() const { return now_.load(std::memory_order_acquire); }

private:
    std::vector<std::unique_ptr<tbb::task_arena>> all_;  // changed under the pace's mutex
    std::atomic<tbb::task_arena*> now_{nullptr};
};

namespace {

// The arena whose task the calling thread runs; nullptr outside the walk's arenas.
thread_local const tbb::task_arena* t_arena = nullptr;

// A task group of a walk's tasks, each run on the pace's arena of the moment: spawned where the spawning
// thread runs in that arena already, else enqueued to it, as from the calling thread or from an arena the
// pace has left. ThreadSanitizer is told of its hand-overs: the scheduler passes tasks between threads in
// code it cannot see, so spawning publishes what a task holds, a task's end publishes what it did to the
// waiter, and a destroyed task's memory may be reused.
class TaskGroup {
public:
    explicit TaskGroup(const WalkPace* pace) : pace_(pace) {}

    template <typename Body>
    void Run(Body body)
    {
        tbb::task_arena* arena = pace_->Arenas().Now();
        FencedTask<Body> task(std::move(body), this, arena);
        if (t_arena == arena)
            group_.run(std::move(task));
        else
            arena->enqueue(group_.defer(std::move(task)));
    }

    void Wait()
    {
        group_.wait();
        Acquire(this);
    }

private:
#if defined(__SANITIZE_THREAD__)
    static void Acquire(const void* address) { __tsan_acquire(const_cast<void*>(address)); }
    static void Release(const void* address) { __tsan_release(const_cast<void*>(address)); }
#else
    static void Acquire(const void*) {}
    static void Release(const void*) {}
#endif

    struct Fence {
        Fence() { Acquire(this); }
        Fence(const Fence&) : Fence() {}
        ~Fence() { Release(this); }
    };

    template <typename Body>
    struct FencedTask : Fence {
        FencedTask(Body taskBody, const TaskGroup* owner, const tbb::task_arena* runsOn)
            : body(std::move(taskBody)), group(owner), arena(runsOn)
        {
            Release(this);
        }
        FencedTask(const FencedTask& other) : Fence(other), body(other.body), group(other.group), arena(other.arena)
        {
            Release(this);
        }
        void operator()() const
        {
            Acquire(this);
            const tbb::task_arena* outer = std::exchange(t_arena, arena);
            body();
            t_arena = outer;
            Release(group);
        }
        Body body;
        const TaskGroup* group;
        const tbb::task_arena* arena;
    };

    const WalkPace* pace_;
    tbb::task_group group_;
};

// Length queries of a large directory, run on other threads in chunks while the listing goes on. Finished
// chunks are added to the sum in listing order as soon as every chunk before them is, so what is held
// stays small however large the directory.
class LengthQueries {
public:
    LengthQueries(Directory& dir, const WalkContext& context, Listing& listing, size_t grain)
        : dir_(dir), context_(context), listing_(listing), grain_(grain), group_(context.pace)
    {
    }
    ~LengthQueries() { WaitForChunks(); }
    LengthQueries(const LengthQueries&) = delete;
    LengthQueries& operator=(const LengthQueries&) = delete;

    void Add(std::string_view name)
    {
        if (chunks_.empty() || chunks_.back().count == grain_) {
            SpawnLast();
            if (chunks_.size() >= kMostWaitingChunks)
                WaitForChunks();
            AddFinished();
            chunks_.emplace_back();
        }
        Chunk& chunk = chunks_.back();
        chunk.names.append(name);
        chunk.names.push_back('\0');
        ++chunk.count;
    }

    // Adds the remaining lengths; false when the run was cancelled meanwhile.
    bool AddRest()
    {
        SpawnLast();
        WaitForChunks();
        if (!context_.searching.load(std::memory_order_relaxed))
            return false;
        AddFinished();
        return true;
    }

private:
    struct Chunk {
        std::string names;  // each followed by a null byte
        size_t count = 0;
        std::vector<std::optional<int64_t>> lengths;
        ReadFailure failure = ReadFailure::None;  // the first failed query's
        std::atomic<bool> done{false};
    };

    // The last chunk is full, or the listing is over: its lengths can be queried.
    void SpawnLast()
    {
        if (chunks_.empty())
            return;
        Chunk& chunk = chunks_.back();
        group_.Run([this, &chunk] { Query(chunk); });
    }

    void Query(Chunk& chunk)
    {
        const WalkPace::Stretch measured(context_.pace);
        chunk.lengths.reserve(chunk.count);
        for (const char* name = chunk.names.data(); chunk.lengths.size() < chunk.count;
             name += std::strlen(name) + 1) {
            if (!context_.searching.load(std::memory_order_relaxed))
                return;
            ReadFailure failure = ReadFailure::None;
            chunk.lengths.push_back(dir_.LengthOf(name, failure));
            if (!chunk.lengths.back() && chunk.failure == ReadFailure::None)
                chunk.failure = failure;
        }
        chunk.done.store(true, std::memory_order_release);
    }

    void AddFinished()
    {
        while (!chunks_.empty() && chunks_.front().done.load(std::memory_order_acquire)) {
            for (const std::optional<int64_t>& length : chunks_.front().lengths)
                if (length)
                    AddUnlessOverflow(listing_.filesSize, *length);
            listing_.NoteFailure(chunks_.front().failure);
            chunks_.pop_front();
        }
    }

    // A wait for other threads is no call of the file system's: what this thread measures ends before it.
    void WaitForChunks()
    {
        WalkPace::Stretch::End();
        group_.Wait();
    }

    Directory& dir_;
    const WalkContext& context_;
    Listing& listing_;
    const size_t grain_;
    std::deque<Chunk> chunks_;  // a deque keeps the chunks in place while tasks fill them
    TaskGroup group_;
};

// A directory whose subdirectories are still being walked.
struct Node {
    Node* parent;  // nullptr for the base
    size_t index;  // position among the parent's subdirectories
    // Kept while anything below is walked: a thread taking a sibling far from where the others walk reopens
    // its way from the nearest directory still held rather than from the top.
    std::unique_ptr<Directory> dir;
    std::atomic<size_t> unopened;  // subdirectories not yet opened from dir
    int64_t filesSize;
    std::vector<std::string> names;  // of the subdirectories, kept for the paths of unreadable places below
    std::vector<int64_t> childSizes;
    std::atomic<size_t> pending;  // subdirectories not yet finished
    WayStep way;
};

// The subdirectory at index of parent, and with it every later one: a job offers its next sibling before it
// walks its own, so what waits is one job per directory being walked rather than one per subdirectory found.
struct Job {
    Node* parent;
    size_t index;
};

// A walk as jobs, so that depth costs heap rather than stack, and the same code runs serially (jobs on a
// stack) or on a task group. Sizes are handed up in listing order once a directory's subdirectories are all
// done, so the overflow rule gives the same result whatever the order of work. The base's subdirectories
// are the rows of a search.
class Walk {
public:
    using Spawn = std::function<void(Job)>;

    Walk(const WalkContext& context, Spawn spawn) : context_(context), spawn_(std::move(spawn)) {}

    // Walks the base, then, on this thread, each first subdirectory below it in turn; later siblings are
    // handed to spawn.
    void Start(std::unique_ptr<Directory> base)
    {
        if (std::optional<Job> first = Enter(nullptr, 0, std::move(base)))
            Run(*first);
    }

    // Walks job's subdirectory and each first subdirectory below it in turn: only later siblings are handed
    // over, so that a chain never wakes another thread.
    void Run(Job job)
    {
        for (std::optional<Job> next = job; next;)
            next = Step(*next);
    }

    // The whole tree's size, once every job has run; 0 when the walk was cancelled.
    int64_t Total() const { return total_; }

private:
    // Opens and lists one subdirectory; what comes next on this thread is its first subdirectory.
    std::optional<Job> Step(const Job& job)
    {
        Node* parent = job.parent;
        if (Cancelled()) {
            Abandon(parent, job.index, false, parent->names.size() - job.index);
            return std::nullopt;
        }
        if (job.index + 1 < parent->names.size())
            spawn_(Job{parent, job.index + 1});
        // Opening and listing are where a cold disk blocks; its files' lengths mostly come from blocks read
        // with the listing.
        const WalkPace::Stretch measured(context_.pace);
        ReadFailure failure = ReadFailure::None;
        std::unique_ptr<Directory> dir = parent->dir->OpenSubdirectory(parent->names[job.index], failure);
        if (parent->unopened.fetch_sub(1, std::memory_order_acq_rel) == 1)
            parent->dir->SubdirectoriesOpened();
        if (Cancelled()) {
            // A row's walk begins with the opening of its subdirectory: the cancel cut it short.
            Abandon(parent, job.index, !parent->parent);
            return std::nullopt;
        }
        if (!dir)
            TellUnread(parent, job.index, failure);
        return Enter(parent, job.index, std::move(dir));
    }

    // Lists dir, the subdirectory at index of parent or the base; its first subdirectory is the next job.
    std::optional<Job> Enter(Node* parent, size_t index, std::unique_ptr<Directory> dir)
    {
        if (!dir) {
            Finish(parent, index, 0);
            return std::nullopt;
        }
        WayStep way;
        if (loops_.Closes(parent ? &parent->way : nullptr, *dir, way)) {
            dir.reset();
            TellUnread(parent, index, ReadFailure::Loop);
            Finish(parent, index, 0);
            return std::nullopt;
        }
        std::optional<Listing> listing = ListDirectory(*dir, context_);
        WalkPace::Stretch::End();
        if (!listing) {
            Abandon(parent, index, true);
            return std::nullopt;
        }
        if (listing->failure != ReadFailure::None)
            TellUnread(parent, index, listing->failure);
        if (!parent && context_.rows)
            context_.rows->BaseListed(*listing);
        const size_t count = listing->subdirectories.size();
        if (count == 0) {
            Finish(parent, index, listing->filesSize);
            return std::nullopt;
        }
        return Job{new Node{parent, index, std::move(dir), count, listing->filesSize,
                            std::move(listing->subdirectories), std::vector<int64_t>(count), count, way},
                   0};
    }

    bool Cancelled() const { return !context_.searching.load(std::memory_order_relaxed); }

    // Tells the run of an unreadable place: the subdirectory at index of parent, or the base when parent is
    // nullptr.
    void TellUnread(const Node* parent, size_t index, ReadFailure failure) const
    {
        if (!context_.rows)
            return;
        if (!parent) {
            context_.rows->Unread(std::nullopt, {}, failure);
            return;
        }
        // Up to the base, whose subdirectory on the way is the row.
        std::vector<const std::string*> below;
        for (; parent->parent; parent = parent->parent) {
            below.push_back(&parent->names[index]);
            index = parent->index;
        }
        std::string path;
        for (auto it = below.rbegin(); it != below.rend(); ++it)
            path.append(path.empty() ? "" : std::string(1, context_.separator)).append(**it);
        context_.rows->Unread(index, path, failure);
    }

    // A subtree is done: its parent adds it, yields and tests; the last one completes the parent.
    void Finish(Node* parent, size_t index, int64_t size)
    {
        while (parent) {
            parent->childSizes[index] = size;
            if (!parent->parent && context_.rows)
                context_.rows->RowFinished(index, size);
            const bool goOn = context_.YieldAndTest();
            if (parent->pending.fetch_sub(1, std::memory_order_acq_rel) != 1)
                return;
            if (!goOn || Cancelled()) {
                Node* up = parent->parent;
                const size_t upIndex = parent->index;
                Release(parent);
                Abandon(up, upIndex, true);
                return;
            }
            size = parent->filesSize;
            for (int64_t childSize : parent->childSizes)
                AddUnlessOverflow(size, childSize);
            Node* up = parent->parent;
            index = parent->index;
            Release(parent);
            parent = up;
        }
        total_ = size;
    }

    // Cancelled subtrees, children of node from index on, return nothing; each enclosing directory that was
    // walked yields once more.
    void Abandon(Node* node, size_t index, bool childWasWalked, size_t children = 1)
    {
        while (node) {
            if (childWasWalked) {
                if (!node->parent && context_.rows)
                    context_.rows->RowInterrupted(index);
                context_.host.DoEvents();
            }
            if (node->pending.fetch_sub(children, std::memory_order_acq_rel) != children)
                return;
            Node* up = node->parent;
            index = node->index;
            Release(node);
            node = up;
            childWasWalked = true;
            children = 1;
        }
    }

    void Release(Node* node)
    {
        loops_.Forget(node->way);
        delete node;
    }

    const WalkContext& context_;
    Spawn spawn_;
    LoopGuard loops_;
    int64_t total_ = 0;
};

// Whether step lies on the way down to from, from included.
bool OnTheWay(const WayStep* step, const WayStep& from)
{
    for (const WayStep* way = &from; way; way = way->up)
        if (way == step)
            return true;
    return false;
}

}  // namespace

bool LoopGuard::Closes(const WayStep* parent, const Directory& dir, WayStep& step)
{
    step = {parent, dir.Identity(), parent && parent->pastMount, false};
    if (!step.identity || !parent)
        return false;
    if (!step.pastMount) {
        step.pastMount = dir.IsMountRoot() || (parent->identity && parent->identity->device != step.identity->device);
        if (!step.pastMount)
            return false;
    }
    std::lock_guard lock(mutex_);
    // Each step is kept once, from the first way down past a mount that reaches it; above a kept step every
    // step is kept already.
    for (const WayStep* way = parent; way && !way->kept; way = way->up) {
        if (way->identity)
            kept_.emplace(*way->identity, way);
        way->kept = true;
    }
    const auto [first, last] = kept_.equal_range(*step.identity);
    return std::any_of(first, last, [&](const auto& met) { return OnTheWay(met.second, *parent); });
}

void LoopGuard::Forget(const WayStep& step)
{
    if (!step.kept)
        return;
    std::lock_guard lock(mutex_);
    if (!step.identity)
        return;
    const auto [first, last] = kept_.equal_range(*step.identity);
    for (auto it = first; it != last; ++it)
        if (it->second == &step) {
            kept_.erase(it);
            return;
        }
}

std::optional<Listing> ListDirectory(Directory& dir, const WalkContext& context)
{
    Listing listing;
    std::optional<LengthQueries> deferred;
    size_t files = 0;
    size_t roundTrips = 0;  // of the directory's first lengths
    EntryCounter counted(context.entriesCounted);
    std::string_view name;
    while (dir.NextName(name)) {
        if (!IsDotOrDotDot(name)) {
            counted.Add();
            if (dir.Kind() != EntryKind::NotDirectory) {
                listing.subdirectories.emplace_back(name);
            } else if (!dir.LengthsListed() &&
                       (deferred || (context.parallel && (++files > kInlineLengths || LengthsAside(context) ||
                                                          roundTrips == kTimedLengths)))) {
                if (!deferred) {
                    const bool aside = LengthsAside(context) || roundTrips == kTimedLengths;
                    deferred.emplace(dir, context, listing, aside ? kBlockingLengthGrain : kLengthGrain);
                }
                deferred->Add(name);
            } else {
                const bool timed = context.parallel && files <= kTimedLengths && Undecided(context);
                const auto start = timed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
                ReadFailure failure = ReadFailure::None;
                if (std::optional<int64_t> length = dir.Length(failure))
                    AddUnlessOverflow(listing.filesSize, *length);
                else
                    listing.NoteFailure(failure);
                if (timed && std::chrono::steady_clock::now() - start > kRoundTrip)
                    ++roundTrips;
            }
        }
        if (!context.YieldAndTest())
            return std::nullopt;
    }
    if (deferred && !deferred->AddRest())
        return std::nullopt;
    listing.NoteFailure(dir.ListingFailure());
    return listing;
}

int64_t SumDirectory(std::unique_ptr<Directory> PrmDir, const WalkContext& context)
{
    if (!context.parallel) {
        std::vector<Job> stack;
        Walk walk(context, [&stack](Job job) { stack.push_back(job); });
        walk.Start(std::move(PrmDir));
        while (!stack.empty()) {
            const Job job = stack.back();
            stack.pop_back();
            walk.Run(job);
        }
        return walk.Total();
    }
    TaskGroup group(context.pace);
    Walk walk(context, [&group, &walk](Job job) { group.Run([&walk, job] { walk.Run(job); }); });
    walk.Start(std::move(PrmDir));
    group.Wait();
    return walk.Total();
}

// The scheduler keeps to one worker per core unless told otherwise; told once for the process, as its pool
// of workers would be rebuilt each time the setting changed.
WalkProcessSettings::WalkProcessSettings() : workers_(tbb::global_control::max_allowed_parallelism, kMostWalkThreads)
{
#if defined(__GLIBC__)
    // A directory's records are often freed by another thread than the one that made them, and each of
    // glibc's per-thread heaps keeps what is freed into it: / with the deep benchmark combs peaked at 67 MB
    // with its default heaps, 51 MB with two, at the same speed.
    mallopt(M_ARENA_MAX, kWalkHeaps);
#endif
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

void WalkPace::SetThreads(int threads)
{
    if (threads == threads_)
        return;
    arenas_->Add(threads);
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
    if (nowNs < next || !pace->nextStretch_.compare_exchange_strong(next, nowNs + kMeasureEvery.count()))
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

WalkThreadCounts RunOnWalkThreads(int requested, int allowed, const std::function<void(WalkPace&)>& body)
{
    const int most = std::clamp(allowed, 1, kMostWalkThreads);
    WalkPace pace(requested > 0 ? std::min(requested, most) : 0, most);
    body(pace);
    return pace.Counts();
}

}  // namespace murako
