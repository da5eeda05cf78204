#include "walker.h"

#include "task_group.h"
#include "walk_places.h"

#include <utility>

namespace murako {

namespace {

// Subdirectories this deep below the base are walked by the thread that walks their first sibling: handing
// them over saves nothing on a tree deep enough, and retracing their way costs as much as the depth.
constexpr size_t kSharedDepth = 64;

// What a walk hands up as subtrees finish: each finished subtree is added to its parent, and a cancelled one
// given up, in listing order.
class WalkTally : public WalkPlaces {
public:
    explicit WalkTally(const WalkContext& context) : WalkPlaces(context) {}

    // The whole tree's size, once every job has run; 0 when the walk was cancelled.
    int64_t Total() const { return total_.size; }

protected:
    // A subtree is done: its parent adds it, yields and tests; the last one completes the parent.
    void Finish(WalkNode* parent, size_t index, SubtreeTally tally)
    {
        while (parent) {
            parent->children.Set(index, tally);
            if (!parent->parent && context_.rows) {
                context_.rows->RowCounted(index, tally.count);
                context_.rows->RowNewest(index, tally.newest);
                context_.rows->RowFinished(index, tally.size);
            }
            const bool goOn = context_.YieldAndTest();
            if (parent->pending.fetch_sub(1, std::memory_order_acq_rel) != 1)
                return;
            if (!goOn || Cancelled()) {
                WalkNode* up = parent->parent;
                const size_t upIndex = parent->index;
                Release(parent);
                Abandon(up, upIndex, true);
                return;
            }
            tally = parent->children.Sum(parent->own);
            if (parent->kept)
                context_.tree->Finished(*parent->kept);
            WalkNode* up = parent->parent;
            index = parent->index;
            Release(parent);
            parent = up;
        }
        total_ = tally;
    }

    // Cancelled subtrees, children of node from index on, return nothing; each enclosing directory that was
    // walked yields once more.
    void Abandon(WalkNode* node, size_t index, bool childWasWalked, size_t children = 1)
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
            WalkNode* up = node->parent;
            index = node->index;
            Release(node);
            node = up;
            childWasWalked = true;
            children = 1;
        }
    }

    void Release(WalkNode* node)
    {
        Forget(*node);
        delete node;
    }

private:
    SubtreeTally total_;
};

// A walk as jobs, so that depth costs heap rather than stack, and the same code runs serially (jobs on a
// stack) or on a task group. Sizes are handed up in listing order once a directory's subdirectories are all
// done, so the overflow rule gives the same result whatever the order of work. The base's subdirectories
// are the rows of a search.
class Walk : public WalkTally {
public:
    using Spawn = std::function<void(WalkJob)>;

    Walk(const WalkContext& context, Spawn spawn) : WalkTally(context), spawn_(std::move(spawn)) {}

    // Walks the base, then, on this thread, each first subdirectory below it in turn; later siblings are
    // handed to spawn.
    void Start(std::unique_ptr<Directory> base)
    {
        if (BaseExcluded()) {
            if (context_.rows)
                context_.rows->BaseExcluded();
            return;
        }
        NoteBase(base.get());
        std::optional<WalkJob> first;
        {
            // On a share the base's listing is the walk's first wait, and the first a decision may go by.
            const WalkPace::Stretch measured(context_.pace);
            first = Enter(nullptr, 0, std::move(base));
        }
        if (first)
            Run(*first);
    }

    // Walks job's subdirectory and each first subdirectory below it in turn: only later siblings are handed
    // over, so that a chain never wakes another thread. Those deep below the base wait for this thread.
    void Run(WalkJob job)
    {
        std::vector<WalkJob> later;
        for (std::optional<WalkJob> next = job; next;) {
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
    std::optional<WalkJob> Step(const WalkJob& job, std::vector<WalkJob>& later)
    {
        WalkNode* parent = job.parent;
        if (Cancelled()) {
            Abandon(parent, job.index, false, parent->names.Size() - job.index);
            return std::nullopt;
        }
        if (job.index + 1 < parent->names.Size()) {
            if (parent->way.depth >= kSharedDepth)
                later.push_back(WalkJob{parent, job.index + 1});
            else
                spawn_(WalkJob{parent, job.index + 1});
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
    std::optional<WalkJob> Enter(WalkNode* parent, size_t index, std::unique_ptr<Directory> dir,
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
            Finish(parent, index, SubtreeTally{0, {0, 1}, listing->modified});
            return std::nullopt;
        }
        if (listing->failure != ReadFailure::None)
            TellUnread(parent, index, listing->failure);
        if (!parent && context_.rows)
            context_.rows->BaseListed(*listing);
        const size_t count = listing->subdirectories.Size();
        if (kept) {
            kept = &context_.tree->SetListing(*kept, std::move(listing->files), count, dir->OwnOnDisk());
            MarkKept(kept, listing->failure);
        }
        const SubtreeTally own{listing->filesSize,
                        {listing->fileCount + static_cast<int64_t>(count), listing->excluded},
                        Newer(listing->modified, listing->newestFile)};
        if (count == 0) {
            if (kept)
                context_.tree->Finished(*kept);
            Finish(parent, index, own);
            return std::nullopt;
        }
        return WalkJob{new WalkNode{parent, index, std::move(dir), count, own, std::move(listing->subdirectories),
                            ChildTallies(count), count, way, kept, path},
                   0};
    }

    Spawn spawn_;
};

}  // namespace

int64_t SumDirectory(std::unique_ptr<Directory> PrmDir, const WalkContext& given)
{
    FirstLinks firstLinks;
    WalkContext context = given;
    if (context.measure == SizeMeasure::OnDisk && !context.firstLinks)
        context.firstLinks = &firstLinks;
    if (!context.parallel) {
        std::vector<WalkJob> stack;
        Walk walk(context, [&stack](WalkJob job) { stack.push_back(job); });
        walk.Start(std::move(PrmDir));
        while (!stack.empty()) {
            const WalkJob job = stack.back();
            stack.pop_back();
            walk.Run(job);
        }
        return walk.Total();
    }
    TaskGroup group(context.pace);
    Walk walk(context, [&group, &walk](WalkJob job) { group.Run([&walk, job] { walk.Run(job); }); });
    walk.Start(std::move(PrmDir));
    group.Wait();
    return walk.Total();
}

}  // namespace murako
