#pragma once

// The walk and what it tells its search (WalkRows), in order:
// - Unread(nullopt) when the base's listing broke off or a file of it could not be measured, then BaseListed,
//   both on the calling thread, before anything below the base is walked. A base that cannot be opened
//   (nullptr), or a cancel during the base's listing, tells nothing at all.
// - Per row (a subdirectory of the base): any number of Unread(row, path) while its subtree is walked, then
//   exactly one of RowFinished(row, size) or RowInterrupted(row), after every Unread of that row. These come
//   from the calling thread when the walk is serial; when threaded, from the calling thread (it walks the
//   first row's first chain) and the pace's workers, several at once and rows in any order.
// - The walk yields (RunHost::DoEvents) after every listed name, after each finished subdirectory (so after
//   each RowFinished), and once more for each directory a cancel cuts short.
// A cancel (the busy flag cleared) leaves: rows finished before it keep their RowFinished; a row whose walk
// had begun (the opening of its subdirectory was tried) and not finished gets RowInterrupted and no size,
// what it had counted being dropped; rows not yet begun are told nothing. SumDirectory then returns 0, once
// every call above has returned.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "file_system.h"
#include "kept_tree.h"
#include "packed_names.h"
#include "run_host.h"
#include "search_scope.h"
#include "walk_pace.h"

namespace murako {

// One directory on the way down from a walk's base to the directory being walked.
struct WayStep {
    const WayStep* up = nullptr;  // nullptr above the base
    std::optional<DirectoryIdentity> identity;
    bool pastMount = false;  // a mount lies between the base and here, so a directory may be met again below
    mutable bool kept = false;  // in its guard's set; changed under the guard's mutex
    size_t depth = 0;  // below the base
};

// Finds a directory met again below itself, as through a bind mount of one of its ancestors or a mirror of
// one that shows no mount: it is not entered. Near the base a directory is compared with its few ancestors;
// once a way down passes a mount, or goes deeper than that, every directory is looked up in a set of the
// directories on the ways being walked. Safe from several threads at once.
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
    // What row's subtree holds, told just before its RowFinished.
    virtual void RowCounted(size_t /*row*/, const EntryCount& /*count*/) {}
    // The newest change of row's directory and everything below it that was read, told just before its
    // RowFinished.
    virtual void RowNewest(size_t /*row*/, ModifiedTime /*newest*/) {}
    // Row's walk was cut short by a cancel.
    virtual void RowInterrupted(size_t row) = 0;
    // A place that could not be read, by its path below the base, under row (nullopt: the base itself). A
    // directory whose listing broke off or some of whose files could not be measured is told once; a
    // subdirectory that could not be opened, or that is one of its own ancestors, by its own path.
    virtual void Unread(std::optional<size_t> row, const std::string& path, ReadFailure failure) = 0;
    // The root of a pseudo file system, by its path below the base under row (nullopt: the base itself): it
    // counts 0, as it is never entered.
    virtual void NotEntered(std::optional<size_t> /*row*/, const std::string& /*path*/) {}
    // A directory on another file system than the base's, by its path below the base under row, and that file
    // system's type (empty where unknown), in a walk that stays on one: it counts 0, as it is never entered.
    virtual void OtherFileSystem(std::optional<size_t> /*row*/, const std::string& /*path*/,
                                 const std::string& /*type*/)
    {
    }
    // A pattern excludes the base itself: nothing is walked, and nothing else is told.
    virtual void BaseExcluded() {}
    // Row's directory was moved away since it was searched; it is told before the row's size, 0.
    virtual void Moved(size_t /*row*/) {}
};

// The files of several links met by one walk that counts space on disk: each counts where first met.
class FirstLinks {
public:
    // Whether this is the first time the walk meets the file.
    bool FirstMet(uint64_t device, uint64_t inode)
    {
        std::lock_guard lock(mutex_);
        return met_.insert({device, inode}).second;
    }

private:
    struct Hash {
        size_t operator()(const std::pair<uint64_t, uint64_t>& file) const noexcept
        {
            return std::hash<uint64_t>()(file.second * 0x9e3779b97f4a7c15ULL ^ file.first);
        }
    };
    std::mutex mutex_;
    std::unordered_set<std::pair<uint64_t, uint64_t>, Hash> met_;
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
    SizeMeasure measure = SizeMeasure::Length;  // what the sizes told to rows count
    KeptTree* tree = nullptr;  // keeps every entry counted, when given
    FirstLinks* firstLinks = nullptr;  // of a walk that counts space on disk; SumDirectory makes one if none
    const WalkScope* scope = nullptr;  // what the walk leaves out; nothing when not given
    const MountedTypes* mountedTypes = nullptr;  // of a walk that stays on one file system, to name the others

    // Yields, then tells whether the walk may go on.
    bool YieldAndTest() const
    {
        host.DoEvents();
        return searching.load(std::memory_order_relaxed);
    }
};

// One directory listed: the sum of its own files in listing order (by the walk's measure, with the directory's
// own space when that is space on disk), and its subdirectories' names.
struct Listing {
    int64_t filesSize = 0;
    KeptFilesWriter files;  // when the walk keeps its tree
    PackedNames subdirectories;
    int64_t fileCount = 0;  // names counted that are not subdirectories
    int64_t excluded = 0;  // names a pattern matched
    ModifiedTime modified = kTimeUnknown;    // the directory's own
    ModifiedTime newestFile = kTimeUnknown;  // of its files
    bool cacheTag = false;  // a file named CACHEDIR.TAG is among them, in a walk that leaves caches out
    // The first thing in the directory that could not be read: the listing itself or a file's length.
    ReadFailure failure = ReadFailure::None;

    void NoteFailure(ReadFailure found)
    {
        if (failure == ReadFailure::None)
            failure = found;
    }
};

// Lists dir once, "." and ".." skipped; an entry whose kind cannot be queried counts as a subdirectory.
// nullopt when the run was cancelled during the listing. Where the walk's scope has patterns, path is dir's
// own path as the search names it, which the names are tried with.
std::optional<Listing> ListDirectory(Directory& dir, const WalkContext& context, const std::string* path = nullptr);

// The size of a directory's whole subtree: its own files first, then its subdirectories in listing order,
// each addition skipped when it would overflow. 0 for a directory that cannot be listed (nullptr) and 0
// when the run is cancelled during the walk. A directory met again below itself counts 0. What was found
// on the way is told to context.rows.
int64_t SumDirectory(std::unique_ptr<Directory> PrmDir, const WalkContext& context);

}  // namespace murako
