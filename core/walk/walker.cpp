#include "walker.h"

#include "task_group.h"

#include <utility>

namespace murako {

namespace {

// Subdirectories this deep below the base are walked by the thread that walks their first sibling: handing
// them over saves nothing on a tree deep enough, and retracing their way costs as much as the depth.
constexpr size_t kSharedDepth = 64;

// What a subtree adds up to: its size by the walk's measure and the names it holds.
struct Tally {
    int64_t size = 0;
    EntryCount count;
    ModifiedTime newest = kTimeUnknown;

    void Add(const Tally& other)
    {
        AddUnlessOverflow(size, other.size);
        count.entries += other.count.entries;
        count.excluded += other.count.excluded;
        newest = Newer(newest, other.newest);
    }
};

// A directory whose subdirectories are still being walked.
struct Node {
    Node* parent;  // nullptr for the base
    size_t index;  // position among the parent's subdirectories
    // Kept while anything below is walked: a thread taking a sibling far from where the others walk reopens
    // its way from the nearest directory still held rather than from the top.
    std::unique_ptr<Directory> dir;
    std::atomic<size_t> unopened;  // subdirectories not yet opened from dir
    Tally own;  // its files, and the names it lists
    std::vector<std::string> names;  // of the subdirectories, kept for the paths of unreadable places below
    std::vector<Tally> children;
    std::atomic<size_t> pending;  // subdirectories not yet finished
    WayStep way;
    KeptDirectory* kept;  // when the walk keeps its tree
    std::string path;  // as the search names it, where the walk's patterns are tried with it
};

// The subdirectory at index of parent, and with it every later one: a job offers its next sibling before it
// walks its own, so what waits is one job per directory being walked rather than one per subdirectory found.
struct Job {
    Node* parent;
    size_t index;
};

// What a walk tells of the places it meets and how it hands sizes up: each finished subtree is added to its
// parent, and a cancelled one given up, in listing order.
class WalkTally {
public:
    explicit WalkTally(const WalkContext& context) : context_(context) {}

    // The whole tree's size, once every job has run; 0 when the walk was cancelled.
    int64_t Total() const { return total_.size; }

protected:
    // The path the walk's patterns are tried with for the subdirectory at index of parent or the base; empty
    // when the walk has none.
    std::string PatternPath(const Node* parent, size_t index) const
    {
        if (!context_.scope || context_.scope->patterns.Empty())
            return {};
        if (!parent)
            return context_.scope->basePath;
        std::string path = parent->path;
        if (path.empty() || path.back() != context_.separator)
            path += context_.separator;
        return path.append(parent->names[index]);
    }

    std::string WithoutEndSeparators(std::string path) const
    {
        while (path.size() > 1 && path.back() == context_.separator)
            path.pop_back();
        return path;
    }

    // The kept tree's record of the directory at index of parent (or the base), when the walk keeps one.
    KeptDirectory* Keep(const Node* parent, size_t index, const Directory* dir) const
    {
        if (!context_.tree)
            return nullptr;
        const std::optional<DirectoryIdentity> identity = dir ? dir->Identity() : std::nullopt;
        return context_.tree->AddDirectory(parent ? parent->kept : nullptr, index,
                                           parent ? std::string_view(parent->names[index]) : std::string_view(),
                                           identity.value_or(DirectoryIdentity{}),
                                           dir ? dir->Modified() : kTimeUnknown);
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
    void Finish(Node* parent, size_t index, Tally tally)
    {
        while (parent) {
            parent->children[index] = tally;
            if (!parent->parent && context_.rows) {
                context_.rows->RowCounted(index, tally.count);
                context_.rows->RowNewest(index, tally.newest);
                context_.rows->RowFinished(index, tally.size);
            }
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
            tally = parent->own;
            for (const Tally& child : parent->children)
                tally.Add(child);
            Node* up = parent->parent;
            index = parent->index;
            Release(parent);
            parent = up;
        }
        total_ = tally;
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
            // The last of its subdirectories to come back: no other thread touches its record now.
            if (node->kept)
                node->kept->flags |= KeptDirectory::CutShort;
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
    LoopGuard loops_;

private:
    Tally total_;
};

// A walk as jobs, so that depth costs heap rather than stack, and the same code runs serially (jobs on a
// stack) or on a task group. Sizes are handed up in listing order once a directory's subdirectories are all
// done, so the overflow rule gives the same result whatever the order of work. The base's subdirectories
// are the rows of a search.
class Walk : public WalkTally {
public:
    using Spawn = std::function<void(Job)>;

    Walk(const WalkContext& context, Spawn spawn) : WalkTally(context), spawn_(std::move(spawn)) {}

    // Walks the base, then, on this thread, each first subdirectory below it in turn; later siblings are
    // handed to spawn.
    void Start(std::unique_ptr<Directory> base)
    {
        const WalkScope* scope = context_.scope;
        if (scope && !scope->patterns.Empty() && scope->patterns.Excludes(WithoutEndSeparators(scope->basePath))) {
            if (context_.rows)
                context_.rows->BaseExcluded();
            return;
        }
        if (scope && scope->oneFileSystem)
            baseIdentity_ = base ? base->Identity() : std::nullopt;
        if (std::optional<Job> first = Enter(nullptr, 0, std::move(base)))
            Run(*first);
    }

    // Walks job's subdirectory and each first subdirectory below it in turn: only later siblings are handed
    // over, so that a chain never wakes another thread. Those deep below the base wait for this thread.
    void Run(Job job)
    {
        std::vector<Job> later;
        for (std::optional<Job> next = job; next;) {
            next = Step(*next, later);
            if (!next && !later.empty()) {
                next = later.back();
                later.pop_back();
            }
        }
    }

private:
    // Opens and lists one subdirectory; what comes next on this thread is its first subdirectory. Its next
    // sibling goes to later when deep below the base: this thread reaches it again through "..", coming back up
    // as a serial walk does, where another thread would retrace the way down from the nearest handle kept,
    // which in a tree deeper than the handles allow lies far above.
    std::optional<Job> Step(const Job& job, std::vector<Job>& later)
    {
        Node* parent = job.parent;
        if (Cancelled()) {
            Abandon(parent, job.index, false, parent->names.size() - job.index);
            return std::nullopt;
        }
        if (job.index + 1 < parent->names.size()) {
            if (parent->way.depth >= kSharedDepth)
                later.push_back(Job{parent, job.index + 1});
            else
                spawn_(Job{parent, job.index + 1});
        }
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
            Finish(parent, index, {});
            return std::nullopt;
        }
        WayStep way;
        if (!MayEnter(parent, index, *dir, kept, way)) {
            Finish(parent, index, {});
            return std::nullopt;
        }
        const std::string path = PatternPath(parent, index);
        std::optional<Listing> listing = ListDirectory(*dir, context_, path.empty() ? nullptr : &path);
        WalkPace::Stretch::End();
        if (!listing) {
            if (kept)
                kept->flags |= KeptDirectory::CutShort;
            Abandon(parent, index, true);
            return std::nullopt;
        }
        if (parent && listing->cacheTag && dir->FileBegins(kCacheTagName, kCacheTagSignature)) {
            if (kept)
                kept->flags |= KeptDirectory::Excluded;
            Finish(parent, index, Tally{0, {0, 1}, listing->modified});
            return std::nullopt;
        }
        if (listing->failure != ReadFailure::None)
            TellUnread(parent, index, listing->failure);
        if (!parent && context_.rows)
            context_.rows->BaseListed(*listing);
        const size_t count = listing->subdirectories.size();
        if (kept) {
            kept = &context_.tree->SetListing(*kept, listing->files, count, dir->OwnOnDisk());
            MarkKept(kept, listing->failure);
        }
        const Tally own{listing->filesSize,
                        {listing->fileCount + static_cast<int64_t>(count), listing->excluded},
                        Newer(listing->modified, listing->newestFile)};
        if (count == 0) {
            Finish(parent, index, own);
            return std::nullopt;
        }
        return Job{new Node{parent, index, std::move(dir), count, own, std::move(listing->subdirectories),
                            std::vector<Tally>(count), count, way, kept, path},
                   0};
    }

    // Whether dir, the subdirectory at index of parent or the base, is walked: not when it is one of its own
    // ancestors, nor on another file system in a walk that stays on one. A pseudo file system is entered,
    // though it lists nothing.
    bool MayEnter(const Node* parent, size_t index, const Directory& dir, KeptDirectory*& kept, WayStep& way)
    {
        if (loops_.Closes(parent ? &parent->way : nullptr, dir, way)) {
            MarkKept(kept, ReadFailure::Loop);
            TellUnread(parent, index, ReadFailure::Loop);
            return false;
        }
        const std::optional<DirectoryIdentity> identity = dir.Identity();
        if (baseIdentity_ && identity && identity->device != baseIdentity_->device) {
            const std::string type = TypeOf(dir, identity->device);
            if (kept)
                kept = &context_.tree->SetOtherFileSystem(*kept, type);
            if (context_.rows)
                context_.rows->OtherFileSystem(RowOf(parent, index), PathBelowRow(parent, index), type);
            return false;
        }
        if (dir.IsPseudoFileSystem()) {
            if (kept)
                kept->flags |= KeptDirectory::PseudoFileSystem;
            if (context_.rows)
                context_.rows->NotEntered(RowOf(parent, index), PathBelowRow(parent, index));
        }
        return true;
    }

    // The type of the file system dir lies on, as it tells itself or the mounts read for the walk tell.
    std::string TypeOf(const Directory& dir, uint64_t device) const
    {
        std::string type = dir.FileSystemType();
        if (type.empty() && context_.mountedTypes)
            if (const auto found = context_.mountedTypes->find(device); found != context_.mountedTypes->end())
                type = found->second;
        return type;
    }

    Spawn spawn_;
    std::optional<DirectoryIdentity> baseIdentity_;  // of a walk that stays on the base's file system
};

}  // namespace

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
