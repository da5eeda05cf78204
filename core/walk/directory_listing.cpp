#include "walker.h"

#include "task_group.h"

#include <chrono>
#include <cstring>
#include <deque>

namespace murako {

namespace {

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
    if (facts) {
        AddUnlessOverflow(listing.filesSize, CountedSize(*facts, dir, context));
        listing.newestFile = Newer(listing.newestFile, facts->modified);
    }
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
        std::atomic<bool> taken{false};
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
        if (chunk.taken.exchange(true, std::memory_order_acq_rel))
            return;
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

    // A wait for other threads is no call of the file system's: what this thread measures ends before it. The
    // listing thread first queries the chunks no other thread has taken, the newest first as the others take
    // the oldest: outside the walk's arenas, or in one the pace has left, no other thread may come to them
    // for a while (the base of a share waited so for its lengths on two threads after the pace chose 16).
    void WaitForChunks()
    {
        WalkPace::Stretch::End();
        for (auto chunk = chunks_.rbegin(); chunk != chunks_.rend(); ++chunk)
            Query(*chunk);
        group_.Wait();
    }

    Directory& dir_;
    const WalkContext& context_;
    Listing& listing_;
    const size_t grain_;
    std::deque<Chunk> chunks_;  // a deque keeps the chunks in place while tasks fill them
    TaskGroup group_;
};

// The lengths of one directory's files as it is listed: queried inline, or on other threads where the
// directory is large or each query waits.
class FileLengths {
public:
    FileLengths(Directory& dir, const WalkContext& context, Listing& listing)
        : dir_(dir), context_(context), listing_(listing)
    {
    }

    void Add(std::string_view name)
    {
        if (!dir_.LengthsListed() &&
            (deferred_ || (context_.parallel && (++files_ > kInlineLengths || LengthsAside(context_) ||
                                                 roundTrips_ == kTimedLengths)))) {
            if (!deferred_) {
                const bool aside = LengthsAside(context_) || roundTrips_ == kTimedLengths;
                deferred_.emplace(dir_, context_, listing_, aside ? kBlockingLengthGrain : kLengthGrain);
            }
            deferred_->Add(name);
            return;
        }
        const bool timed = context_.parallel && files_ <= kTimedLengths && Undecided(context_);
        const auto start = timed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
        ReadFailure failure = ReadFailure::None;
        const std::optional<FileFacts> facts = dir_.Facts(failure);
        AddFile(listing_, dir_, name, facts, context_);
        if (!facts)
            listing_.NoteFailure(failure);
        if (timed && std::chrono::steady_clock::now() - start > kRoundTrip)
            ++roundTrips_;
    }

    // Adds the lengths still queried aside; false when the run was cancelled meanwhile.
    bool AddRest() { return !deferred_ || deferred_->AddRest(); }

private:
    Directory& dir_;
    const WalkContext& context_;
    Listing& listing_;
    std::optional<LengthQueries> deferred_;
    size_t files_ = 0;
    size_t roundTrips_ = 0;  // of the directory's first lengths
};

}  // namespace

std::optional<Listing> ListDirectory(Directory& dir, const WalkContext& context, const std::string* path)
{
    Listing listing;
    if (context.tree)
        context.tree->LendRoom(listing.files);
    listing.modified = dir.Modified();
    if (context.measure == SizeMeasure::OnDisk)
        listing.filesSize = dir.OwnOnDisk();
    FileLengths lengths(dir, context, listing);
    const bool cachesLeftOut = context.scope && context.scope->excludeCaches;
    std::optional<ExcludePatterns::InDirectory> patterns;
    if (path && context.scope)
        patterns.emplace(context.scope->patterns.In(*path));
    EntryCounter counted(context.entriesCounted);
    std::string_view name;
    while (dir.NextName(name)) {
        const bool counts = !IsDotOrDotDot(name);
        if (counts && patterns && patterns->Excludes(name)) {
            ++listing.excluded;
            if (context.tree)
                listing.files.AddExcluded(name);
        } else if (counts) {
            counted.Add();
            if (dir.Kind() != EntryKind::NotDirectory) {
                listing.subdirectories.Add(name);
            } else {
                ++listing.fileCount;
                listing.cacheTag = listing.cacheTag || (cachesLeftOut && name == kCacheTagName);
                lengths.Add(name);
            }
        }
        if (!context.YieldAndTest())
            return std::nullopt;
    }
    if (!lengths.AddRest())
        return std::nullopt;
    listing.NoteFailure(dir.ListingFailure());
    listing.subdirectories.Fit();
    return listing;
}

}  // namespace murako
