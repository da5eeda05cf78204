#pragma once
// Everything a search counted, kept so that any directory below its base can be shown again without the disk:
// one record per directory, its files packed into bytes beside it. Built by every walking thread at once, each
// into arenas of its own, and freed arena by arena, so that neither a wide nor a deep tree costs a lock per entry
// or a frame per level.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace murako {

class WalkRows;

// What a size counts: the design's file lengths, or the space allocated on disk.
enum class SizeMeasure : uint8_t { Length, OnDisk };

// One directory of a kept tree. Its name is held right behind it.
struct KeptDirectory {
    static constexpr uint8_t PseudoFileSystem = 1;  // shown, counted 0, never entered
    static constexpr uint8_t HasLinkedFiles = 2;    // some of its files have more than one link
    static constexpr uint8_t Moved = 4;             // moved away since the search: it counts nothing
    static constexpr uint8_t OtherFileSystem = 8;   // another device, in a search that stays on one: never entered
    static constexpr uint8_t Excluded = 16;         // a cache left out: never entered

    KeptDirectory* parent = nullptr;
    KeptDirectory** children = nullptr;  // its subdirectories, in listing order
    const uint8_t* files = nullptr;      // its files, packed; read them with ForEachFile
    int64_t ownLength = 0;               // its files' lengths
    int64_t ownOnDisk = 0;  // its own space and its files', a file of several links only where first met
    int64_t length = 0;     // the whole subtree, itself included
    int64_t onDisk = 0;
    int64_t entries = 0;  // names listed in its subtree
    DirectoryIdentity identity;
    uint32_t childCount = 0;
    uint32_t fileCount = 0;
    uint32_t filesBytes = 0;
    uint32_t unreadBelow = 0;      // places of its subtree that could not be read, itself included
    uint32_t pseudoBelow = 0;      // pseudo file systems in its subtree, itself included
    uint32_t nameBytes = 0;
    uint32_t movedFiles = 0;  // of its files, those moved away since the search
    ReadFailure failure = ReadFailure::None;  // why it, or some of its files, could not be read
    uint8_t flags = 0;

    std::string_view Name() const { return {reinterpret_cast<const char*>(this + 1), nameBytes}; }
    int64_t Own(SizeMeasure measure) const { return measure == SizeMeasure::Length ? ownLength : ownOnDisk; }
    int64_t Size(SizeMeasure measure) const { return measure == SizeMeasure::Length ? length : onDisk; }
    // The subdirectory of that name; nullptr when there is none.
    const KeptDirectory* Child(std::string_view name) const;
};

// One file of a kept directory as ForEachFile reads it.
struct KeptFile {
    std::string_view name;
    std::optional<FileFacts> facts;  // nullopt: it could not be measured
    bool countedElsewhere = false;   // a file of several links whose space was counted where first met
    bool moved = false;              // moved away since the search: it counts nothing
};

// Calls see for each file of dir, in listing order.
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
    // Empty again, keeping the room it has grown to.
    void Clear();
    size_t Count() const { return count_; }
    int64_t Length() const { return length_; }
    int64_t OnDisk() const { return onDisk_; }
    bool HasLinkedFiles() const { return linked_; }
    std::string_view Bytes() const { return {bytes_, size_}; }

private:
    friend class KeptTree;  // takes the bytes of a large listing as they are
    void Append(const char* bytes, size_t size);

    // From malloc, so that a large listing grows by realloc, which moves pages rather than bytes.
    char* bytes_ = nullptr;
    size_t size_ = 0;
    size_t room_ = 0;
    size_t count_ = 0;
    int64_t length_ = 0;
    int64_t onDisk_ = 0;
    bool linked_ = false;
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
                                const DirectoryIdentity& identity);
    // dir was listed: its files, how many subdirectories it has, and its own space.
    void SetListing(KeptDirectory& dir, const KeptFilesWriter& files, size_t subdirectories, int64_t ownOnDisk);
    // The walk is over and every directory was added: the subtrees' sums, and each file of several links
    // counted on disk only where a walk in listing order meets it first. Also after Replace.
    void Complete();
    // Building from one thread a tree whose subdirectories are known only once each is finished, as a file
    // read front to back gives them: dir is added listed, over its finished subdirectories, which it becomes
    // the parent of. The base is added last, then set.
    // Leaves files empty: its bytes taken as they are when they are many, else copied.
    KeptDirectory* AddListed(std::string_view name, const DirectoryIdentity& identity, KeptFilesWriter&& files,
                             const std::vector<KeptDirectory*>& subdirectories, int64_t ownOnDisk);
    void SetBase(KeptDirectory& base) { base_ = &base; }

    const KeptDirectory* Base() const { return base_; }
    const std::string& BasePath() const { return basePath_; }
    // The directory at path, which lies at or below the base (separator between names); nullptr otherwise.
    const KeptDirectory* Find(const std::string& path, char separator) const;
    // Puts fresh, a search of the directory dir of this tree, in dir's place, and completes the tree again.
    void Replace(const KeptDirectory& dir, std::unique_ptr<KeptTree> fresh);
    // dir, or the file of dir at that place in its listing, was moved away: from now on it counts nothing, and
    // every directory above loses what it held. It stays in the tree, marked, until the next search.
    void MarkMoved(const KeptDirectory& dir);
    void MarkFileMoved(const KeptDirectory& dir, uint32_t file);

    // The memory the tree holds, names included, and the entries it keeps, directories and files.
    size_t Bytes() const;
    int64_t Entries() const { return base_ ? base_->entries + 1 : 0; }

private:
    struct Arena;
    Arena& ThisThreadsArena();
    void* Allocate(size_t bytes);
    KeptDirectory* NewDirectory(std::string_view name, const DirectoryIdentity& identity);
    // dir's listing, its files packed at packed.
    void Listed(KeptDirectory& dir, const uint8_t* packed, const KeptFilesWriter& files, size_t subdirectories,
                int64_t ownOnDisk);

    const std::string basePath_;
    const uint64_t id_;  // tells this tree's arenas from those of a tree that was at the same address
    KeptDirectory* base_ = nullptr;
    std::mutex arenasMutex_;
    std::vector<std::unique_ptr<Arena>> arenas_;
};

// Tells rows what a walk of dir would tell them (its listing, the unread places below each subdirectory,
// each subdirectory's size) counting sizes by measure; dir's path ends in separator.
void TellKept(const KeptDirectory& dir, SizeMeasure measure, char separator, WalkRows& rows);

// Packed file records: a flags byte, the name's length and the name, then the facts as varints.
namespace kept_files {
constexpr uint8_t Unmeasured = 1;
constexpr uint8_t Linked = 2;            // inode and links follow
constexpr uint8_t CountedElsewhere = 4;  // set as the tree completes
constexpr uint8_t OnDiskInBlocks = 8;    // the space is kept in blocks of 512 bytes
constexpr uint8_t NotRegular = 16;       // a link, a device, a pipe or a socket
constexpr uint8_t Moved = 32;            // moved away since the search

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

template <typename See>
void ForEachFile(const KeptDirectory& dir, See&& see)
{
    using namespace kept_files;
    const uint8_t* at = dir.files;
    for (uint32_t i = 0; i < dir.fileCount; ++i) {
        const uint8_t flags = *at++;
        const size_t nameBytes = ReadVarint(at);
        KeptFile file{{reinterpret_cast<const char*>(at), nameBytes}, std::nullopt, (flags & CountedElsewhere) != 0,
                      (flags & Moved) != 0};
        at += nameBytes;
        if (!(flags & Unmeasured)) {
            FileFacts facts;
            facts.regular = !(flags & NotRegular);
            facts.length = static_cast<int64_t>(ReadVarint(at));
            facts.onDisk = static_cast<int64_t>(ReadVarint(at)) * ((flags & OnDiskInBlocks) ? 512 : 1);
            if (flags & Linked) {
                facts.inode = ReadVarint(at);
                facts.links = static_cast<uint32_t>(ReadVarint(at));
            }
            file.facts = facts;
        }
        see(file);
    }
}

}  // namespace murako
