#pragma once

// The walk's records of the directories it is in, and what it knows of the places it meets. Only the walk
// itself (walker.cpp) uses these.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "walker.h"

namespace murako {

// What a subtree adds up to: its size by the walk's measure and the names it holds.
struct SubtreeTally {
    int64_t size = 0;
    EntryCount count;
    ModifiedTime newest = kTimeUnknown;

    void Add(const SubtreeTally& other)
    {
        AddUnlessOverflow(size, other.size);
        count.entries += other.count.entries;
        count.excluded += other.count.excluded;
        newest = Newer(newest, other.newest);
    }
};

// What a directory's finished subdirectories add up to: the sizes one by one, as the overflow rule adds
// them in listing order, and their names and newest change as they come, which no order changes. A wide
// directory's subdirectories cost 8 bytes each here.
class ChildTallies {
public:
    explicit ChildTallies(size_t count) : sizes_(count) {}

    // The subdirectory at index is done; safe from several threads at once, each with its own index.
    void Set(size_t index, const SubtreeTally& tally);
    // own and every subdirectory's tally; once every one is set.
    SubtreeTally Sum(SubtreeTally own) const;

private:
    std::vector<int64_t> sizes_;
    std::atomic<int64_t> entries_{0};
    std::atomic<int64_t> excluded_{0};
    std::atomic<ModifiedTime> newest_{kTimeUnknown};
};

// A directory whose subdirectories are still being walked.
struct WalkNode {
    WalkNode* parent;  // nullptr for the base
    size_t index;  // position among the parent's subdirectories
    // Kept while anything below is walked: a thread taking a sibling far from where the others walk reopens
    // its way from the nearest directory still held rather than from the top.
    std::unique_ptr<Directory> dir;
    std::atomic<size_t> unopened;  // subdirectories not yet opened from dir
    SubtreeTally own;  // its files, and the names it lists
    PackedNames names;  // of the subdirectories, kept for the paths of unreadable places below
    ChildTallies children;
    std::atomic<size_t> pending;  // subdirectories not yet finished
    WayStep way;
    KeptDirectory* kept;  // when the walk keeps its tree
    std::string path;  // as the search names it, where the walk's patterns are tried with it
};

// The subdirectory at index of parent, and with it every later one: a job offers its next sibling before it
// walks its own, so what waits is one job per directory being walked rather than one per subdirectory found.
struct WalkJob {
    WalkNode* parent;
    size_t index;
};

// The places a walk meets, each the subdirectory at an index of its parent's record (or the base, where the
// parent is nullptr): the paths that name them, what is told and kept of them, and which are entered.
class WalkPlaces {
public:
    explicit WalkPlaces(const WalkContext& context) : context_(context) {}

protected:
    // Whether the walk's patterns exclude the base itself, which is then told and not walked.
    bool BaseExcluded() const;
    // Stays on the base's file system from here on, where the walk's scope asks it to.
    void NoteBase(const Directory* base);

    // The path the walk's patterns are tried with; empty when the walk has none.
    std::string PatternPath(const WalkNode* parent, size_t index) const;
    // The kept tree's record of the place, when the walk keeps one.
    KeptDirectory* Keep(const WalkNode* parent, size_t index, const Directory* dir) const;
    static void MarkKept(KeptDirectory* kept, ReadFailure failure)
    {
        if (kept && failure != ReadFailure::None)
            kept->failure = failure;
    }
    bool Cancelled() const { return !context_.searching.load(std::memory_order_relaxed); }
    // Tells the run of an unreadable place.
    void TellUnread(const WalkNode* parent, size_t index, ReadFailure failure) const;
    // Whether dir, at the place, is walked: not when it is one of its own ancestors, nor on another file system
    // in a walk that stays on one. A pseudo file system is entered, though it lists nothing. Fills way.
    bool MayEnter(const WalkNode* parent, size_t index, const Directory& dir, KeptDirectory*& kept, WayStep& way);
    // Every directory below the node's has been walked.
    void Forget(const WalkNode& node) { loops_.Forget(node.way); }

    const WalkContext& context_;

private:
    // The row the place lies in; nullopt for the base.
    static std::optional<size_t> RowOf(const WalkNode* parent, size_t index);
    // The place's path below its row's directory; empty for a row or the base.
    std::string PathBelowRow(const WalkNode* parent, size_t index) const;
    // The type of the file system dir lies on, as it tells itself or the mounts read for the walk tell.
    std::string TypeOf(const Directory& dir, uint64_t device) const;

    LoopGuard loops_;
    std::optional<DirectoryIdentity> baseIdentity_;  // of a walk that stays on the base's file system
};

}  // namespace murako
