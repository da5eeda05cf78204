#include "walker.h"

#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
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

// The most threads that walk at once. A walk that blocks keeps many calls in flight: a share that answers
// in a millisecond serves some 50 times more calls at once than one after another.
constexpr int kMostWalkThreads = 128;
constexpr int kWalkHeaps = 2;

// A thread measures one length query in this many, and no sooner than this after its last.
constexpr unsigned kQueriesPerLook = 4;
constexpr std::chrono::microseconds kMeasureEvery{1000};
// The count is decided anew after this many measured queries, the first time after fewer. The query blocked
// longest is left out, so that one odd query (a page fault, a lock in the kernel) does not swing the count.
constexpr int kQueriesPerDecision = 5;
constexpr int kQueriesForFirstDecision = 2;
// Calls block when a query is blocked for more than this share of its time.
constexpr double kBlockingShare = 0.5;

// Lengths of a large directory are queried on several threads past this many files.
constexpr size_t kInlineLengths = 512;
constexpr size_t kLengthGrain = 256;
// Where calls block, every length is queried on other threads, a few at a time, so that a directory of a few
// hundred files does not wait for one round trip after another.
constexpr size_t kBlockingLengthGrain = 8;
// At this many chunks unfinished the listing waits for them, so that a listing faster than its length queries
// does not hold the whole directory's names.
constexpr size_t kMostWaitingChunks = 32;
// Listed names are added to the run's counter this many at a time, so that walking threads rarely meet on it.
constexpr int64_t kEntryBatch = 1024;

bool IsDotOrDotDot(std::string_view name)
{
    return name == "." || name == "..";
}

bool CallsBlock(const WalkContext& context)
{
    return context.pace && context.pace->CallsBlock();
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

// The calling thread's time on a processor, and its time waiting for one as the kernel counts it (0 where it
// does not tell). The kernel's count of the processor time lags behind a running thread; its clock does not.
WalkPace::Spent ThreadTimes()
{
    WalkPace::Spent spent;
    timespec processor{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &processor);
    spent.running = processor.tv_sec * 1'000'000'000LL + processor.tv_nsec;
    const int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[96];
        const ssize_t read = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        int64_t counted = 0;  // the lagging processor time
        if (read > 0) {
            text[read] = '\0';
            if (std::sscanf(text, "%" SCNd64 " %" SCNd64, &counted, &spent.waiting) != 2)
                spent.waiting = 0;
        }
    }
    return spent;
}

// The calling thread's length queries: how many so far, and when and how the last one measured began.
struct QueryTurn {
    unsigned queries = 0;
    std::chrono::steady_clock::time_point last{};
    WalkPace::Spent atLast;
};

thread_local QueryTurn t_turn;

// A task group whose hand-overs ThreadSanitizer is told of: the scheduler passes tasks between threads in
// code it cannot see, so spawning publishes what a task holds, a task's end publishes what it did to the
// waiter, and a destroyed task's memory may be reused.
class TaskGroup {
public:
    template <typename Body>
    void Run(Body body)
    {
        group_.run(FencedTask<Body>(std::move(body), this));
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
        FencedTask(Body taskBody, const TaskGroup* owner) : body(std::move(taskBody)), group(owner) { Release(this); }
        FencedTask(const FencedTask& other) : Fence(other), body(other.body), group(other.group) { Release(this); }
        void operator()() const
        {
            Acquire(this);
            body();
            Release(group);
        }
        Body body;
        const TaskGroup* group;
    };

    tbb::task_group group_;
};

// Length queries of a large directory, run on other threads in chunks while the listing goes on. Finished
// chunks are added to the sum in listing order as soon as every chunk before them is, so what is held
// stays small however large the directory.
class LengthQueries {
public:
    LengthQueries(Directory& dir, const WalkContext& context, Listing& listing, size_t grain)
        : dir_(dir), context_(context), listing_(listing), grain_(grain)
    {
    }
    ~LengthQueries() { group_.Wait(); }
    LengthQueries(const LengthQueries&) = delete;
    LengthQueries& operator=(const LengthQueries&) = delete;

    void Add(std::string_view name)
    {
        if (chunks_.empty() || chunks_.back().count == grain_) {
            SpawnLast();
            if (chunks_.size() >= kMostWaitingChunks)
                group_.Wait();
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
        group_.Wait();
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
        chunk.lengths.reserve(chunk.count);
        for (const char* name = chunk.names.data(); chunk.lengths.size() < chunk.count;
             name += std::strlen(name) + 1) {
            if (!context_.searching.load(std::memory_order_relaxed))
                return;
            ReadFailure failure = ReadFailure::None;
            {
                const WalkPace::Query measured(context_.pace);
                chunk.lengths.push_back(dir_.LengthOf(name, failure));
            }
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
            path += (path.empty() ? "" : "/") + **it;
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
    EntryCounter counted(context.entriesCounted);
    std::string_view name;
    while (dir.NextName(name)) {
        if (!IsDotOrDotDot(name)) {
            counted.Add();
            if (dir.Kind() != EntryKind::NotDirectory) {
                listing.subdirectories.emplace_back(name);
            } else if (deferred || (context.parallel && (++files > kInlineLengths || CallsBlock(context)))) {
                if (!deferred)
                    deferred.emplace(dir, context, listing, CallsBlock(context) ? kBlockingLengthGrain : kLengthGrain);
                deferred->Add(name);
            } else {
                ReadFailure failure = ReadFailure::None;
                std::optional<int64_t> length;
                {
                    const WalkPace::Query measured(context.pace);
                    length = dir.Length(failure);
                }
                if (length)
                    AddUnlessOverflow(listing.filesSize, *length);
                else
                    listing.NoteFailure(failure);
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
    TaskGroup group;
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
      most_(most)
{
    SetThreads(adapts_ ? cores_ : fixedThreads);
    counts_.first = threads_;
}

WalkThreadCounts WalkPace::Counts() const
{
    std::lock_guard lock(mutex_);
    return counts_;
}

int WalkPace::ThreadsFor(double blockedShare, int cores, int most)
{
    // Each thread keeps a processor busy for the share of its time it is not blocked.
    const double notBlocked = std::max(1.0 - blockedShare, 1e-3);
    return std::clamp(static_cast<int>(std::min(std::lround(cores / notBlocked), 1'000'000L)), std::min(cores, most), most);
}

void WalkPace::Record(const Spent& spent)
{
    std::lock_guard lock(mutex_);
    auto blockedOf = [](const Spent& of) { return of.wall - of.running - of.waiting; };
    if (samples_ > 0 && blockedOf(spent) <= blockedOf(worst_)) {
        sum_.wall += spent.wall;
        sum_.running += spent.running;
        sum_.waiting += spent.waiting;
    } else {
        sum_.wall += worst_.wall;
        sum_.running += worst_.running;
        sum_.waiting += worst_.waiting;
        worst_ = spent;
    }
    if (++samples_ < (decided_ ? kQueriesPerDecision : kQueriesForFirstDecision) || sum_.wall <= 0)
        return;
    const double blocked = std::clamp(static_cast<double>(blockedOf(sum_)) / static_cast<double>(sum_.wall), 0.0, 1.0);
    callsBlock_.store(blocked > kBlockingShare, std::memory_order_relaxed);
    if (adapts_)
        // A quarter or four times at most at a time, so that the count follows a change within a few steps.
        SetThreads(std::clamp(ThreadsFor(blocked, cores_, most_), std::max(threads_ / 4, 1), threads_ * 4));
    sum_ = {};
    worst_ = {};
    samples_ = 0;
    decided_ = true;
}

void WalkPace::SetThreads(int threads)
{
    if (threads == threads_)
        return;
    if (adapts_) {
        // The new limit is in place before the old one goes.
        auto limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, threads);
        limit_.swap(limit);
    }
    threads_ = threads;
    counts_.most = std::max(counts_.most, threads);
    counts_.last = threads;
}

WalkPace::Query::Query(WalkPace* pace)
{
    if (!pace || t_turn.queries++ % kQueriesPerLook != 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - t_turn.last < kMeasureEvery)
        return;
    measuredFor_ = pace;
    t_turn.last = now;
    t_turn.atLast = ThreadTimes();
}

WalkPace::Query::~Query()
{
    if (!measuredFor_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const Spent times = ThreadTimes();
    measuredFor_->Record({std::chrono::duration_cast<std::chrono::nanoseconds>(now - t_turn.last).count(),
                          times.running - t_turn.atLast.running, times.waiting - t_turn.atLast.waiting});
}

WalkThreadCounts RunOnWalkThreads(int requested, int allowed, const std::function<void(WalkPace&)>& body)
{
    const int most = std::clamp(allowed, 1, kMostWalkThreads);
    tbb::task_arena arena(requested > 0 ? std::min(requested, most) : most);
    // Made before the pace limits the threads, so that the scheduler may later give this arena up to most.
    arena.initialize();
    WalkPace pace(requested > 0 ? std::min(requested, most) : 0, most);
    arena.execute([&] { body(pace); });
    return pace.Counts();
}

}  // namespace murako
