#pragma once
// Everything a search counted, kept so that any directory below its base can be shown again without the disk:
// one record per directory, its files packed into bytes beside it. Built by every walking thread at once, each
// into arenas of its own, and freed arena by arena, so that neither a wide nor a deep tree costs a lock per entry
// or a frame per level.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "file_system.h"
#include "packed_time.h"
#include "search_scope.h"

namespace murako {

// Adds value to sum unless the result would leave the 64-bit range; then sum keeps its value.
inline void AddUnlessOverflow(int64_t& sum, int64_t value)
{
    int64_t result;
    if (!__builtin_add_overflow(sum, value, &result))
        sum = result;
}

// What a size counts: the design's file lengths, or the space allocated on disk.
enum class SizeMeasure : uint8_t { Length, OnDisk };

// One directory of a kept tree. Its name is held right behind it, or, for a directory that holds anything,
// behind its contents: an empty directory keeps only what a directory has of its own.
struct KeptDirectory {
    static constexpr uint8_t PseudoFileSystem = 1;  // shown, counted 0, never entered
    static constexpr uint8_t HasLinkedFiles = 2;    // some of its files have more than one link
    static constexpr uint8_t Moved = 4;             // moved away since the search: it counts nothing
    // Read from a file that named two entries of its directory alike: no path tells which, so it is never
    // acted on, nor compared.
    static constexpr uint8_t DuplicateName = 8;
    static constexpr uint8_t HoldsDuplicateNames = 16;  // read from a file that named two of its entries alike
    // Another device, in a search that stays on one: never entered. Its file system's type is held where
    // files would be, as it lists none.
    static constexpr uint8_t OtherFileSystem = 32;
    static constexpr uint8_t Excluded = 64;   // a cache left out: never entered
    static constexpr uint8_t CutShort = 128;  // a cancel cut its walk short: it, and so each above it, is partial

    // What a directory holding files or subdirectories keeps beyond the record every directory has.
    struct Contents {
        KeptDirectory** children = nullptr;  // its subdirectories, in listing order
        const uint8_t* files = nullptr;      // its files, packed; read them with ForEachFile
        int64_t ownLength = 0;               // its files' lengths
        int64_t ownOnDisk = 0;  // its own space and its files', a file of several links only where first met
        int64_t length = 0;     // the whole subtree, itself included
        int64_t onDisk = 0;
        int64_t entries = 0;  // names listed in its subtree
        uint32_t childCount = 0;
        uint32_t fileCount = 0;
        uint32_t unreadBelow = 0;  // places of its subtree that could not be read, itself included
        uint32_t markedBelow = 0;  // pseudo and other file systems in its subtree, itself included
        uint32_t linkedBelow = 0;  // directories of its subtree holding files of several links, itself included
        uint32_t movedFiles = 0;   // of its files, those moved away since the search
        uint32_t excludedNames = 0;  // names its listing left out by a pattern, held after its files' records
        uint32_t excludedBelow = 0;  // names left out in its subtree (by a pattern, or a cache), itself included
    };

    KeptDirectory* parent = nullptr;
    DirectoryIdentity identity;
    ReadFailure failure = ReadFailure::None;  // why it, or some of its files, could not be read
    uint8_t flags = 0;

    std::string_view Name() const { return {reinterpret_cast<const char*>(this) + RecordBytes(), nameBytes_}; }
    int64_t Own(SizeMeasure measure) const;
    int64_t Size(SizeMeasure measure) const;
    KeptDirectory* const* Children() const { return contents_ ? Held().children : nullptr; }
    uint32_t ChildCount() const { return contents_ ? Held().childCount : 0; }
    const uint8_t* Files() const { return contents_ ? Held().files : nullptr; }
    uint32_t FileCount() const { return contents_ ? Held().fileCount : 0; }
    uint32_t MovedFiles() const { return contents_ ? Held().movedFiles : 0; }
    int64_t Entries() const { return contents_ ? Held().entries : 0; }
    uint32_t UnreadBelow() const { return contents_ ? Held().unreadBelow : failure != ReadFailure::None; }
    uint32_t MarkedBelow() const
    {
        return contents_ ? Held().markedBelow : (flags & (PseudoFileSystem | OtherFileSystem)) != 0;
    }
    uint32_t ExcludedNames() const { return contents_ ? Held().excludedNames : 0; }
    uint32_t ExcludedBelow() const { return contents_ ? Held().excludedBelow : (flags & Excluded) != 0; }
    uint32_t LinkedBelow() const { return contents_ ? Held().linkedBelow : 0; }
    // When it itself last changed, and the newest change of itself and everything below it that counts.
    ModifiedTime Modified() const { return modified_.Get(); }
    ModifiedTime Newest() const { return contents_ ? ownOrNewest_.Get() : Modified(); }
    // The subdirectory of that name; nullptr when there is none.
    const KeptDirectory* Child(std::string_view name) const;
    // The type of the other file system it lies on; empty where unknown or when it is on the search's own.
    std::string_view OtherFileSystemType() const;

private:
    friend class KeptTree;
    size_t RecordBytes() const { return sizeof(KeptDirectory) + (contents_ ? sizeof(Contents) : 0); }
    const Contents& Held() const { return *reinterpret_cast<const Contents*>(this + 1); }
    Contents& Held() { return *reinterpret_cast<Contents*>(this + 1); }

    uint16_t nameBytes_ = 0;
    PackedTime modified_;
    bool contents_ : 1 = false;
    bool summed_ : 1 = false;
    bool finished_ : 1 = false;  // summed by a walk as it finished the directory's subtree
    // An empty directory's own space, in blocks of 512; of one holding anything, the newest time of itself and
    // everything below it that counts, or of itself and its own files until it is first summed.
    PackedTime ownOrNewest_;
};
static_assert(sizeof(KeptDirectory) == 40 && sizeof(KeptDirectory::Contents) % alignof(KeptDirectory) == 0);

// One file of a kept directory as its packed record reads.
struct KeptFile {
    std::string_view name;
    std::optional<FileFacts> facts;  // nullopt: it could not be measured
    bool countedElsewhere = false;   // a file of several links whose space was counted where first met
    bool moved = false;              // moved away since the search: it counts nothing
    uint32_t index = 0;              // its place in its directory's listing
    const uint8_t* record = nullptr;  // its packed record, which tells it from every other file of the tree
    ModifiedTime chainedTime = 0;     // the last time read in its directory, which the next is told against
};

// The newest change of dir's own files that count: moved ones are gone.
ModifiedTime NewestOwnFile(const KeptDirectory& dir);

// A file's size as the measure counts it: nothing once moved or when it could not be measured, and on disk
// nothing where a file of several links was counted at another link.
int64_t KeptFileSize(const KeptFile& file, SizeMeasure measure);

// What tells a file of several links from another: a directory's device and the file's inode.
struct LinkIdentity {
    uint64_t device;
    uint64_t inode;
    bool operator==(const LinkIdentity&) const = default;
};

struct LinkIdentityHash {
    size_t operator()(const LinkIdentity& link) const noexcept
    {
        return std::hash<uint64_t>()(link.inode * 0x9e3779b97f4a7c15ULL ^ link.device);
    }
};

// Calls see for each file of dir, moved ones included, in listing order.
template <typename See>
void ForEachFile(const KeptDirectory& dir, See&& see);

// Packs the files of one directory as it is listed, for a kept tree to take once the listing is done.
class KeptFilesWriter {
public:
    KeptFilesWriter() = default;
    KeptFilesWriter(const KeptFilesWriter& other);
    KeptFilesWriter(KeptFilesWriter&& other) noexcept;
    KeptFilesWriter& operator=(KeptFilesWriter other) noexcept;
    ~KeptFilesWriter();

    void Add(std::string_view name, const std::optional<FileFacts>& facts);
    // A name a pattern left out, kept after the files.
    void AddExcluded(std::string_view name);
    // Empty again, keeping the room it has grown to.
    void Clear();
    size_t Count() const { return count_; }
    size_t ExcludedCount() const { return excludedCount_; }
    std::string_view Excluded() const { return excluded_; }
    int64_t Length() const { return length_; }
    int64_t OnDisk() const { return onDisk_; }
    ModifiedTime Newest() const { return newest_; }
    bool HasLinkedFiles() const { return linked_; }
    std::string_view Bytes() const { return {bytes_, size_}; }

private:
    friend class KeptTree;  // takes the bytes of a large listing as they are, and lends and keeps rooms
    void Append(const char* bytes, size_t size);
    // Where size more bytes can be written, the room grown for them.
    char* Room(size_t size) { return size_ + size <= room_ ? bytes_ + size_ : Grow(size); }
    char* Grow(size_t size);

    // From malloc, so that a large listing grows by realloc, which moves pages rather than bytes.
    char* bytes_ = nullptr;
    size_t size_ = 0;
    size_t room_ = 0;
    size_t count_ = 0;
    int64_t length_ = 0;
    int64_t onDisk_ = 0;
    ModifiedTime chainedTime_ = 0;  // each file's time is kept as its difference from the one before
    ModifiedTime newest_ = kTimeUnknown;
    bool linked_ = false;
    std::string excluded_;  // each name after its length as a varint
    size_t excludedCount_ = 0;
};

class KeptTree {
public:
    // The base of the tree is the directory at basePath, as it was searched.
    explicit KeptTree(std::string basePath);
    ~KeptTree();
    KeptTree(const KeptTree&) = delete;
    KeptTree& operator=(const KeptTree&) = delete;

    // Building, from any walking thread. A directory is added below its parent's slot at index (parent
    // nullptr: the base), once; its subdirectories' slots are made with its listing.
    KeptDirectory* AddDirectory(KeptDirectory* parent, size_t index, std::string_view name,
                                const DirectoryIdentity& identity, ModifiedTime modified = kTimeUnknown);
    // dir was listed: its files, how many subdirectories it has, and its own space. Its record grows in place
    // when the thread that added it sets it with nothing added between; else it moves, and its new place is
    // returned.
    [[nodiscard]] KeptDirectory& SetListing(KeptDirectory& dir, const KeptFilesWriter& files, size_t subdirectories,
                              int64_t ownOnDisk);
    // The same, taking the bytes of a large listing as they were written, not copied, and keeping the room of
    // a small one for the thread's next listing: files keeps its counts.
    [[nodiscard]] KeptDirectory& SetListing(KeptDirectory& dir, KeptFilesWriter&& files, size_t subdirectories,
                              int64_t ownOnDisk);
    // Gives files, when it has no room yet, the room the calling thread's last listing was written in.
    void LendRoom(KeptFilesWriter& files);
    // dir, never entered, lies on another file system, of that type (empty: unknown). A known type is held
    // where its files would be, so its record moves as SetListing's may.
    [[nodiscard]] KeptDirectory& SetOtherFileSystem(KeptDirectory& dir, std::string_view type);
    // dir and every directory below it were walked to their end: dir is summed now, on the walking thread, so
    // that completing the walk sums again only where a cancel cut it short or files of several links lie.
    void Finished(KeptDirectory& dir);
    // The walk is over and every directory was added: the subtrees' sums, and each file of several links
    // counted on disk only where a walk in listing order meets it first.
    void CompleteWalk() { Complete(true); }
    // The same for a tree whose directories were not summed as a walk finished them, or changed since: after
    // Replace, a move, or reading.
    void Complete() { Complete(false); }
    // Building from one thread a tree whose subdirectories are known only once each is finished, as a file
    // read front to back gives them: dir is added listed, over its finished subdirectories, which it becomes
    // the parent of. The base is added last, then set.
    // Leaves files empty: its bytes taken as they are when they are many, else copied.
    KeptDirectory* AddListed(std::string_view name, const DirectoryIdentity& identity, ModifiedTime modified,
                             KeptFilesWriter&& files, const std::vector<KeptDirectory*>& subdirectories,
                             int64_t ownOnDisk);
    void SetBase(KeptDirectory& base) { base_ = &base; }

    // What the search left out, and whether a cancel cut it short, as it ran or as its file says.
    void SetScope(SearchScope scope) { scope_ = std::move(scope); }
    const SearchScope& Scope() const { return scope_; }
    void SetCutShort(bool cutShort) { cutShort_ = cutShort; }
    bool CutShort() const { return cutShort_; }

    const KeptDirectory* Base() const { return base_; }
    const std::string& BasePath() const { return basePath_; }
    // The directory at path, which lies at or below the base (separator between names); nullptr otherwise.
    const KeptDirectory* Find(const std::string& path, char separator) const;
    // Puts fresh, a search of the directory dir of this tree, in dir's place, and completes the tree again.
    // What dir's place held is freed where it came from an earlier Replace (or was the whole tree), once
    // those told by OnReplacing have let go of it.
    void Replace(const KeptDirectory& dir, std::unique_ptr<KeptTree> fresh);
    // told(replaced) before every Replace: whoever holds a directory of the tree drops what lies in replaced.
    void OnReplacing(std::function<void(const KeptDirectory& replaced)> told);
    // dir, or the file of dir at that place in its listing, was moved away: from now on it counts nothing, and
    // every directory above loses what it held. It stays in the tree, marked, until the next search.
    void MarkMoved(const KeptDirectory& dir);
    void MarkFileMoved(const KeptDirectory& dir, uint32_t file);

    // The memory the tree holds, names included, and the entries it keeps, directories and files.
    size_t Bytes() const;
    int64_t Entries() const { return base_ ? base_->Entries() + 1 : 0; }

private:
    struct Arena;
    Arena& ThisThreadsArena();
    Arena& NewThreadsArena();
    void* Allocate(size_t bytes);
    // A record with contents or without, its name behind, in room for one with contents.
    KeptDirectory* NewDirectory(std::string_view name, const DirectoryIdentity& identity, ModifiedTime modified,
                                bool contents);
    // dir's record with room for contents, grown in place where it can be.
    KeptDirectory& WithContents(KeptDirectory& dir);
    // dir and every directory above it summed again from their listings and their subdirectories' sums.
    void SumAbove(KeptDirectory& dir);
    // Sums every directory again, but, when walked, those a walk summed as it finished them and that hold no
    // file of several links below.
    void Complete(bool walked);
    // dir's subtree's sums and newest time from its own and its subdirectories'; the newest as it is where only
    // files of several links have changed since it was summed.
    static void SumSubtree(KeptDirectory& dir, bool newestKnown = false);
    // dir's files of several links counted on disk only where first met.
    static void CountLinksOnce(KeptDirectory& dir, std::unordered_set<LinkIdentity, LinkIdentityHash>& met);
    // Frees the memory of earlier Replaces that lay at or below replaced, which is no longer in the tree.
    void FreeGraftsAt(const KeptDirectory& replaced);
    // files' bytes and the names left out after them, kept as they were written.
    const uint8_t* Take(KeptFilesWriter& files);
    // dir's listing, its files packed at packed.
    void Listed(KeptDirectory& dir, const uint8_t* packed, const KeptFilesWriter& files, size_t subdirectories,
                int64_t ownOnDisk);
    // Whether a directory so listed needs contents: anything in it, or its own space too large for an empty
    // record.
    static bool NeedsContents(const KeptFilesWriter& files, size_t subdirectories, int64_t ownOnDisk);

    const std::string basePath_;
    SearchScope scope_;
    bool cutShort_ = false;
    const uint64_t id_;  // tells this tree's arenas from those of a tree that was at the same address
    KeptDirectory* base_ = nullptr;
    std::mutex arenasMutex_;
    std::vector<std::unique_ptr<Arena>> arenas_;
    // A subtree put in by Replace, with the memory it lies in, freed whole when it is replaced in turn.
    struct Graft {
        const KeptDirectory* root;
        std::vector<std::unique_ptr<Arena>> arenas;
    };
    std::vector<Graft> grafts_;
    std::vector<std::function<void(const KeptDirectory&)>> replacing_;
};

// The one way through a kept tree: the live entries of a directory's subtree, moved ones left out, in listing
// order (a directory, its files, then its subdirectories and theirs), without recursion. The directory it
// starts from comes first; it is met even when moved.
class KeptWalk {
public:
    enum class Scope : uint8_t {
        Subtree,      // everything below
        Listing,      // the directory, its files and its subdirectories, none of theirs
        Directories,  // the directories of the subtree, their files passed over without reading
    };
    explicit KeptWalk(const KeptDirectory& start, Scope scope = Scope::Subtree);

    // Moves to the next entry; false once there is none.
    bool Next();
    bool AtFile() const { return atFile_; }
    // The directory met, or the one holding the file met.
    const KeptDirectory& Directory() const { return *dir_; }
    const KeptFile& File() const { return file_; }
    // The directory's, or the holding directory's, levels below the start.
    uint32_t Depth() const { return depth_; }
    // Passes over what lies below the directory just met: its files and its subdirectories.
    void PassOver();

private:
    struct Open {
        const KeptDirectory* dir;
        uint32_t nextChild;
    };
    void Enter(const KeptDirectory& dir, uint32_t depth);
    bool NextFile();

    const KeptDirectory* start_;
    Scope scope_;
    std::vector<Open> open_;
    const KeptDirectory* dir_ = nullptr;
    KeptFile file_;
    const uint8_t* nextRecord_ = nullptr;
    uint32_t filesLeft_ = 0;
    uint32_t depth_ = 0;
    bool atFile_ = false;
    bool started_ = false;
};

// Packed file records: a flags byte, the name's length and the name, then the facts as varints.
namespace kept_files {
constexpr uint8_t Unmeasured = 1;
constexpr uint8_t Linked = 2;            // inode and links follow
constexpr uint8_t CountedElsewhere = 4;  // set as the tree completes
constexpr uint8_t OnDiskInBlocks = 8;    // the space is kept in blocks of 512 bytes
constexpr uint8_t NotRegular = 16;       // a link, a device, a pipe or a socket
constexpr uint8_t Moved = 32;            // moved away since the search
constexpr uint8_t SameTime = 64;         // changed in the same second as the file before (the first: at 0)
constexpr uint8_t TimeUnknown = 128;     // else the difference from the file before follows, zigzagged

inline uint64_t ReadVarint(const uint8_t*& at)
{
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const uint8_t byte = *at++;
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return value;
    }
}
}  // namespace kept_files

// The one decoder of the packed records: reads the record at at, the index-th of its directory, into file
// and returns where the next begins.
const uint8_t* ReadKeptFile(const uint8_t* at, uint32_t index, KeptFile& file);

template <typename See>
void ForEachFile(const KeptDirectory& dir, See&& see)
{
    const uint8_t* at = dir.Files();
    KeptFile file;
    for (uint32_t i = 0; i < dir.FileCount(); ++i) {
        at = ReadKeptFile(at, i, file);
        see(file);
    }
}

// Calls see with each name a pattern left out of dir's listing, in listing order.
template <typename See>
void ForEachExcludedName(const KeptDirectory& dir, See&& see)
{
    const uint8_t* at = dir.Files();
    KeptFile file;
    for (uint32_t i = 0; i < dir.FileCount(); ++i)
        at = ReadKeptFile(at, i, file);
    for (uint32_t i = 0; i < dir.ExcludedNames(); ++i) {
        const auto length = static_cast<size_t>(kept_files::ReadVarint(at));
        see(std::string_view(reinterpret_cast<const char*>(at), length));
        at += length;
    }
}

}  // namespace murako
