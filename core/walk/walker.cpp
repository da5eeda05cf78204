#include "walker.h"

#include "task_group.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>

namespace murako {

namespace {

// Down to this depth below the base, a directory is compared with each of its ancestors, which costs a plain
// tree less than a set shared by the walking threads; below it, a chain of thousands would cost their square.
constexpr size_t kAncestorsCompared = 32;

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

// A file's size by the walk's measure: on disk, a file of several links counts where the walk meets it first.
int64_t CountedSize(const FileFacts& facts, const Directory& dir, const WalkContext& context)
{
    if (context.measure == SizeMeasure::Length)
        return facts.length;
    if (facts.links > 1 && facts.inode != 0 && context.firstLinks) {
        const std::optional<DirectoryIdentity> identity = dir.Identity();
        if (!context.firstLinks->FirstMet(identity ? identity->device : 0, facts.inode))
            return 0;
    }
    return facts.onDisk;
}

// Adds a file listed in dir to its listing's sum, and keeps it when the walk keeps its tree.
void AddFile(Listing& listing, const Directory& dir, std::string_view name, const std::optional<FileFacts>& facts,
             const WalkContext& context)
{
    if (context.tree)
        listing.files.Add(name, facts);
    if (facts)
        AddUnlessOverflow(listing.filesSize, CountedSize(*facts, dir, context));
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
        std::vector<std::optional<FileFacts>> facts;
        ReadFailure failure = ReadFailure::None;  // the first failed query's
        std::atomic<bool> done{false};
    };

    // The last chunk is full, or the listing is over: its lengths can be queried.
    void SpawnLast()
    {
        if (chunks_.empty())
            return;
        Chunk& chunk = chunks_.back();
        group_.RunBesideCaller([this, &chunk] { Query(chunk); });
    }

    void Query(Chunk& chunk)
    {
        const WalkPace::Stretch measured(context_.pace);
        chunk.facts.reserve(chunk.count);
        for (const char* name = chunk.names.data(); chunk.facts.size() < chunk.count;
             name += std::strlen(name) + 1) {
            if (!context_.searching.load(std::memory_order_relaxed))
                return;
            ReadFailure failure = ReadFailure::None;
            chunk.facts.push_back(dir_.FactsOf(name, failure));
            if (!chunk.facts.back() && chunk.failure == ReadFailure::None)
                chunk.failure = failure;
        }
        chunk.done.store(true, std::memory_order_release);
    }

    void AddFinished()
    {
        while (!chunks_.empty() && chunks_.front().done.load(std::memory_order_acquire)) {
            const char* name = chunks_.front().names.data();
            for (const std::optional<FileFacts>& facts : chunks_.front().facts) {
                const std::string_view named(name);
                AddFile(listing_, dir_, named, facts, context_);
                name += named.size() + 1;
            }
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
    KeptDirectory* kept;  // when the walk keeps its tree
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
        return Enter(parent, job.index, std::move(dir), failure);
    }

    // Lists dir, the subdirectory at index of parent or the base; its first subdirectory is the next job.
    std::optional<Job> Enter(Node* parent, size_t index, std::unique_ptr<Directory> dir,
                             ReadFailure failure = ReadFailure::None)
    {
        KeptDirectory* kept = Keep(parent, index, dir.get());
        if (!dir) {
            MarkKept(kept, failure);
            Finish(parent, index, 0);
            return std::nullopt;
        }
        WayStep way;
        if (loops_.Closes(parent ? &parent->way : nullptr, *dir, way)) {
            dir.reset();
            MarkKept(kept, ReadFailure::Loop);
            TellUnread(parent, index, ReadFailure::Loop);
            Finish(parent, index, 0);
            return std::nullopt;
        }
        if (dir->IsPseudoFileSystem()) {
            if (kept)
                kept->flags |= KeptDirectory::PseudoFileSystem;
            if (context_.rows)
                context_.rows->NotEntered(RowOf(parent, index), PathBelowRow(parent, index));
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
        if (kept) {
            context_.tree->SetListing(*kept, listing->files, count, dir->OwnOnDisk());
            MarkKept(kept, listing->failure);
        }
        if (count == 0) {
            Finish(parent, index, listing->filesSize);
            return std::nullopt;
        }
        return Job{new Node{parent, index, std::move(dir), count, listing->filesSize,
                            std::move(listing->subdirectories), std::vector<int64_t>(count), count, way, kept},
                   0};
    }

    // The kept tree's record of the directory at index of parent (or the base), when the walk keeps one.
    KeptDirectory* Keep(const Node* parent, size_t index, const Directory* dir) const
    {
        if (!context_.tree)
            return nullptr;
        const std::optional<DirectoryIdentity> identity = dir ? dir->Identity() : std::nullopt;
        return context_.tree->AddDirectory(parent ? parent->kept : nullptr, index,
                                           parent ? std::string_view(parent->names[index]) : std::string_view(),
                                           identity.value_or(DirectoryIdentity{}));
    }

    static void MarkKept(KeptDirectory* kept, ReadFailure failure)
    {
        if (kept && failure != ReadFailure::None)
            kept->failure = failure;
    }

    bool Cancelled() const { return !context_.searching.load(std::memory_order_relaxed); }

    // Tells the run of an unreadable place: the subdirectory at index of parent, or the base when parent is
    // nullptr.
    void TellUnread(const Node* parent, size_t index, ReadFailure failure) const
    {
        if (context_.rows)
            context_.rows->Unread(RowOf(parent, index), PathBelowRow(parent, index), failure);
    }

    // The row the subdirectory at index of parent lies in; nullopt for the base.
    static std::optional<size_t> RowOf(const Node* parent, size_t index)
    {
        if (!parent)
            return std::nullopt;
        for (; parent->parent; parent = parent->parent)
            index = parent->index;
        return index;
    }

    // The path of the subdirectory at index of parent below its row's directory; empty for a row or the base.
    std::string PathBelowRow(const Node* parent, size_t index) const
    {
        std::vector<const std::string*> below;
        for (; parent && parent->parent; parent = parent->parent) {
            below.push_back(&parent->names[index]);
            index = parent->index;
        }
        std::string path;
        for (auto it = below.rbegin(); it != below.rend(); ++it)
            path.append(path.empty() ? "" : std::string(1, context_.separator)).append(**it);
        return path;
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
    step = {parent, dir.Identity(), parent && parent->pastMount, false, parent ? parent->depth + 1 : 0};
    if (!step.identity || !parent)
        return false;
    if (!step.pastMount) {
        step.pastMount = dir.IsMountRoot() || (parent->identity && parent->identity->device != step.identity->device);
        if (!step.pastMount && step.depth <= kAncestorsCompared) {
            for (const WayStep* way = parent; way; way = way->up)
                if (way->identity == step.identity)
                    return true;
            return false;
        }
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
    if (context.measure == SizeMeasure::OnDisk)
        listing.filesSize = dir.OwnOnDisk();
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
                const std::optional<FileFacts> facts = dir.Facts(failure);
                AddFile(listing, dir, name, facts, context);
                if (!facts)
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

int64_t SumDirectory(std::unique_ptr<Directory> PrmDir, const WalkContext& given)
{
    FirstLinks firstLinks;
    WalkContext context = given;
    if (context.measure == SizeMeasure::OnDisk && !context.firstLinks)
        context.firstLinks = &firstLinks;
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

}  // namespace murako
