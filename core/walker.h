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
    // Subdirectories are walked on the calling thread's task arena, several at once, and the lengths of a
    // large directory queried on several threads; otherwise everything runs on the calling thread.
    bool parallel = false;
    std::atomic<int64_t>* entriesCounted = nullptr;  // every listed name but "." and "..", added in batches
    WalkRows* rows = nullptr;
    char separator = '/';  // the file system's, between the names of a path told to rows

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

// Runs body on a task arena of requested threads, or of the walk's own count when requested is 0, and never
// more than allowed, the most the file system can serve.
void RunOnWalkThreads(int requested, int allowed, const std::function<void()>& body);

}  // namespace murako
