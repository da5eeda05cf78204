#include "kept_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "path_text.h"
#include "walker.h"

namespace murako {

namespace {

// An arena's chunks grow from small, for the many threads that add little, to this size: what the last
// chunk of each walking thread leaves unused is the tree's waste.
constexpr size_t kFirstChunk = 1024;
constexpr size_t kLargestChunk = 16 * 1024;

std::atomic<uint64_t> nextTreeId{1};

// Writes value at at, 7 bits a byte, low bits first; returns the end.
char* WriteVarint(char* at, uint64_t value)
{
    while (value >= 0x80) {
        *at++ = static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<char>(value);
    return at;
}

uint64_t Unsigned(int64_t value)
{
    return value < 0 ? 0 : static_cast<uint64_t>(value);
}

struct FileIdentity {
    uint64_t device;
    uint64_t inode;
    bool operator==(const FileIdentity&) const = default;
};

struct FileIdentityHash {
    size_t operator()(const FileIdentity& file) const noexcept
    {
        return std::hash<uint64_t>()(file.inode * 0x9e3779b97f4a7c15ULL ^ file.device);
    }
};

// The records of dir's files, to be marked where a file's space counts elsewhere.
uint8_t* MutableFiles(const KeptDirectory& dir)
{
    return const_cast<uint8_t*>(dir.files);
}

// Calls see(flags, facts) for each of dir's files in listing order, with its flags byte to change.
template <typename See>
void EachFileRecord(const KeptDirectory& dir, See&& see)
{
    using namespace kept_files;
    uint8_t* at = MutableFiles(dir);
    for (uint32_t i = 0; i < dir.fileCount; ++i) {
        uint8_t& flags = *at++;
        const uint8_t* read = at;
        read += ReadVarint(read);
        FileFacts facts;
        if (!(flags & Unmeasured)) {
            facts.length = static_cast<int64_t>(ReadVarint(read));
            facts.onDisk = static_cast<int64_t>(ReadVarint(read)) * ((flags & OnDiskInBlocks) ? 512 : 1);
            if (flags & Linked) {
                facts.inode = ReadVarint(read);
                facts.links = static_cast<uint32_t>(ReadVarint(read));
            }
        }
        see(flags, facts);
        at = const_cast<uint8_t*>(read);
    }
}

// Counts dir's files of several links on disk only where first met: what an earlier completion marked is
// counted again first, as a replaced subtree may have moved where a file is first met. A file moved away is
// met nowhere: its other links count where they are.
void CountLinksOnce(KeptDirectory& dir, std::unordered_set<FileIdentity, FileIdentityHash>& met)
{
    using namespace kept_files;
    EachFileRecord(dir, [&](uint8_t& flags, const FileFacts& facts) {
        if (!(flags & Linked) || (flags & Moved))
            return;
        if (flags & CountedElsewhere) {
            flags &= static_cast<uint8_t>(~CountedElsewhere);
            dir.ownOnDisk += facts.onDisk;
        }
        if (!met.insert({dir.identity.device, facts.inode}).second) {
            flags |= CountedElsewhere;
            dir.ownOnDisk -= facts.onDisk;
        }
    });
}

// Calls visit for dir and every directory below it, each before its subdirectories, in listing order; what
// was moved away is passed over.
template <typename Visit>
void EachBefore(KeptDirectory* dir, Visit&& visit)
{
    std::vector<KeptDirectory*> stack{dir};
    while (!stack.empty()) {
        KeptDirectory* next = stack.back();
        stack.pop_back();
        visit(*next);
        for (uint32_t i = next->childCount; i-- > 0;)
            if (next->children[i] && !(next->children[i]->flags & KeptDirectory::Moved))
                stack.push_back(next->children[i]);
    }
}

// Calls visit for every directory of dir's subtree after all of its subdirectories.
template <typename Visit>
void EachAfter(KeptDirectory* dir, Visit&& visit)
{
    std::vector<std::pair<KeptDirectory*, uint32_t>> stack{{dir, 0}};
    while (!stack.empty()) {
        auto& [next, child] = stack.back();
        if (child < next->childCount) {
            KeptDirectory* below = next->children[child++];
            if (below)
                stack.emplace_back(below, 0);
            continue;
        }
        KeptDirectory& done = *next;
        stack.pop_back();
        visit(done);
    }
}

void SumSubtree(KeptDirectory& dir)
{
    dir.length = dir.ownLength;
    dir.onDisk = dir.ownOnDisk;
    dir.entries = static_cast<int64_t>(dir.fileCount) - dir.movedFiles;
    dir.unreadBelow = dir.failure != ReadFailure::None;
    dir.pseudoBelow = (dir.flags & KeptDirectory::PseudoFileSystem) != 0;
    for (uint32_t i = 0; i < dir.childCount; ++i) {
        const KeptDirectory* child = dir.children[i];
        if (!child || (child->flags & KeptDirectory::Moved))
            continue;
        ++dir.entries;
        AddUnlessOverflow(dir.length, child->length);
        AddUnlessOverflow(dir.onDisk, child->onDisk);
        dir.entries += child->entries;
        dir.unreadBelow += child->unreadBelow;
        dir.pseudoBelow += child->pseudoBelow;
    }
}

}  // namespace

const KeptDirectory* KeptDirectory::Child(std::string_view name) const
{
    for (uint32_t i = 0; i < childCount; ++i)
        if (children[i] && children[i]->Name() == name)
            return children[i];
    return nullptr;
}

KeptFilesWriter::KeptFilesWriter(const KeptFilesWriter& other)
    : count_(other.count_), length_(other.length_), onDisk_(other.onDisk_), linked_(other.linked_)
{
    Append(other.bytes_, other.size_);
}

KeptFilesWriter::KeptFilesWriter(KeptFilesWriter&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      room_(std::exchange(other.room_, 0)), count_(std::exchange(other.count_, 0)),
      length_(std::exchange(other.length_, 0)), onDisk_(std::exchange(other.onDisk_, 0)),
      linked_(std::exchange(other.linked_, false))
{
}

KeptFilesWriter& KeptFilesWriter::operator=(KeptFilesWriter other) noexcept
{
    std::swap(bytes_, other.bytes_);
    std::swap(size_, other.size_);
    std::swap(room_, other.room_);
    std::swap(count_, other.count_);
    std::swap(length_, other.length_);
    std::swap(onDisk_, other.onDisk_);
    std::swap(linked_, other.linked_);
    return *this;
}

KeptFilesWriter::~KeptFilesWriter()
{
    std::free(bytes_);
}

void KeptFilesWriter::Append(const char* bytes, size_t size)
{
    if (size == 0)
        return;
    if (size_ + size > room_) {
        const size_t room = std::max({size_ + size, 2 * room_, size_t{256}});
        void* grown = std::realloc(bytes_, room);
        if (!grown)
            throw std::bad_alloc();
        bytes_ = static_cast<char*>(grown);
        room_ = room;
    }
    std::memcpy(bytes_ + size_, bytes, size);
    size_ += size;
}

void KeptFilesWriter::Add(std::string_view name, const std::optional<FileFacts>& facts)
{
    using namespace kept_files;
    uint8_t flags = facts ? 0 : Unmeasured;
    if (facts && facts->links > 1 && facts->inode != 0)
        flags |= Linked;
    if (facts && facts->onDisk % 512 == 0)
        flags |= OnDiskInBlocks;
    if (facts && !facts->regular)
        flags |= NotRegular;
    // The record in three appends: what comes before the name, the name, and the facts.
    char head[11];
    head[0] = static_cast<char>(flags);
    Append(head, static_cast<size_t>(WriteVarint(head + 1, name.size()) - head));
    Append(name.data(), name.size());
    ++count_;
    if (!facts)
        return;
    char tail[40];
    char* end = WriteVarint(tail, Unsigned(facts->length));
    end = WriteVarint(end, Unsigned(facts->onDisk) / ((flags & OnDiskInBlocks) ? 512 : 1));
    AddUnlessOverflow(length_, facts->length);
    AddUnlessOverflow(onDisk_, facts->onDisk);
    if (flags & Linked) {
        end = WriteVarint(end, facts->inode);
        end = WriteVarint(end, facts->links);
        linked_ = true;
    }
    Append(tail, static_cast<size_t>(end - tail));
}

void KeptFilesWriter::Clear()
{
    size_ = 0;
    count_ = 0;
    length_ = onDisk_ = 0;
    linked_ = false;
}

// Memory one thread adds to, chunk by chunk.
struct KeptTree::Arena {
    std::vector<std::unique_ptr<std::byte[]>> chunks;
    std::byte* next = nullptr;
    size_t left = 0;
    size_t chunkBytes = kFirstChunk;
    size_t held = 0;

    void* Allocate(size_t bytes)
    {
        bytes = (bytes + alignof(KeptDirectory) - 1) & ~(alignof(KeptDirectory) - 1);
        if (bytes > kLargestChunk / 4)
            return NewChunk(bytes);  // on its own, leaving the current chunk's room for what follows
        if (bytes > left) {
            while (chunkBytes < bytes)
                chunkBytes *= 2;
            next = static_cast<std::byte*>(NewChunk(chunkBytes));
            left = chunkBytes;
            chunkBytes = std::min(chunkBytes * 2, kLargestChunk);
        }
        void* at = next;
        next += bytes;
        left -= bytes;
        return at;
    }

    void* NewChunk(size_t bytes)
    {
        chunks.push_back(std::make_unique_for_overwrite<std::byte[]>(bytes));
        held += bytes;
        return chunks.back().get();
    }

    // Keeps a listing's bytes from malloc, cut to their size, as a chunk of their own.
    const uint8_t* Take(char* bytes, size_t size)
    {
        if (void* fitted = std::realloc(bytes, size))
            bytes = static_cast<char*>(fitted);
        taken.emplace_back(bytes);
        held += size;
        return reinterpret_cast<const uint8_t*>(bytes);
    }

    struct Free {
        void operator()(char* bytes) const { std::free(bytes); }
    };
    std::vector<std::unique_ptr<char, Free>> taken;
};

namespace {

// The arena the calling thread adds to, for the tree of that id.
struct ThreadsArena {
    uint64_t treeId = 0;
    void* arena = nullptr;
};
thread_local ThreadsArena threadsArena;

}  // namespace

KeptTree::KeptTree(std::string basePath) : basePath_(std::move(basePath)), id_(nextTreeId.fetch_add(1)) {}

KeptTree::~KeptTree() = default;

KeptTree::Arena& KeptTree::ThisThreadsArena()
{
    if (threadsArena.treeId == id_)
        return *static_cast<Arena*>(threadsArena.arena);
    std::lock_guard lock(arenasMutex_);
    arenas_.push_back(std::make_unique<Arena>());
    threadsArena = {id_, arenas_.back().get()};
    return *arenas_.back();
}

void* KeptTree::Allocate(size_t bytes)
{
    return ThisThreadsArena().Allocate(bytes);
}

KeptDirectory* KeptTree::NewDirectory(std::string_view name, const DirectoryIdentity& identity)
{
    auto* dir = new (Allocate(sizeof(KeptDirectory) + name.size())) KeptDirectory;
    std::memcpy(dir + 1, name.data(), name.size());
    dir->nameBytes = static_cast<uint32_t>(name.size());
    dir->identity = identity;
    return dir;
}

KeptDirectory* KeptTree::AddDirectory(KeptDirectory* parent, size_t index, std::string_view name,
                                      const DirectoryIdentity& identity)
{
    const std::string baseName = parent ? std::string() : LastPathName(basePath_);
    if (!parent)
        name = baseName;
    KeptDirectory* dir = NewDirectory(name, identity);
    dir->parent = parent;
    if (parent)
        parent->children[index] = dir;
    else
        base_ = dir;
    return dir;
}

void KeptTree::SetListing(KeptDirectory& dir, const KeptFilesWriter& files, size_t subdirectories, int64_t ownOnDisk)
{
    const std::string_view bytes = files.Bytes();
    uint8_t* packed = nullptr;
    if (!bytes.empty()) {
        packed = static_cast<uint8_t*>(Allocate(bytes.size()));
        std::memcpy(packed, bytes.data(), bytes.size());
    }
    Listed(dir, packed, files, subdirectories, ownOnDisk);
}

void KeptTree::Listed(KeptDirectory& dir, const uint8_t* packed, const KeptFilesWriter& files, size_t subdirectories,
                      int64_t ownOnDisk)
{
    dir.files = packed;
    dir.filesBytes = static_cast<uint32_t>(files.size_);
    dir.fileCount = static_cast<uint32_t>(files.Count());
    dir.ownLength = files.Length();
    dir.ownOnDisk = ownOnDisk;
    AddUnlessOverflow(dir.ownOnDisk, files.OnDisk());
    if (files.HasLinkedFiles())
        dir.flags |= KeptDirectory::HasLinkedFiles;
    if (subdirectories > 0) {
        dir.children = static_cast<KeptDirectory**>(Allocate(subdirectories * sizeof(KeptDirectory*)));
        std::fill_n(dir.children, subdirectories, nullptr);
    }
    dir.childCount = static_cast<uint32_t>(subdirectories);
}

KeptDirectory* KeptTree::AddListed(std::string_view name, const DirectoryIdentity& identity, KeptFilesWriter&& files,
                                   const std::vector<KeptDirectory*>& subdirectories, int64_t ownOnDisk)
{
    KeptDirectory* dir = NewDirectory(name, identity);
    // A listing the arena would put in a chunk of its own anyway is kept where it was written.
    if (files.size_ > kLargestChunk / 4) {
        const uint8_t* packed = ThisThreadsArena().Take(std::exchange(files.bytes_, nullptr), files.size_);
        Listed(*dir, packed, files, subdirectories.size(), ownOnDisk);
        files = {};
    } else {
        SetListing(*dir, files, subdirectories.size(), ownOnDisk);
        files.Clear();
    }
    for (size_t i = 0; i < subdirectories.size(); ++i) {
        dir->children[i] = subdirectories[i];
        subdirectories[i]->parent = dir;
    }
    return dir;
}

void KeptTree::Complete()
{
    if (!base_)
        return;
    std::unordered_set<FileIdentity, FileIdentityHash> met;
    EachBefore(base_, [&](KeptDirectory& dir) {
        if (dir.flags & KeptDirectory::HasLinkedFiles)
            CountLinksOnce(dir, met);
    });
    EachAfter(base_, SumSubtree);
}

const KeptDirectory* KeptTree::Find(const std::string& path, char separator) const
{
    std::string_view base = basePath_;
    while (base.size() > 1 && base.back() == separator)
        base.remove_suffix(1);
    std::string_view rest = path;
    if (!base_ || rest.substr(0, base.size()) != base)
        return nullptr;
    rest.remove_prefix(base.size());
    if (!rest.empty() && rest.front() != separator && base.back() != separator)
        return nullptr;  // a sibling whose name begins with the base's
    const KeptDirectory* dir = base_;
    while (dir && !rest.empty()) {
        const size_t start = rest.find_first_not_of(separator);
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const size_t end = rest.find(separator);
        dir = dir->Child(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    return dir;
}

void KeptTree::Replace(const KeptDirectory& dir, std::unique_ptr<KeptTree> fresh)
{
    if (!fresh->base_)
        return;
    const KeptDirectory& found = *fresh->base_;
    const std::string_view name = dir.Name();
    auto* copy = new (fresh->Allocate(sizeof(KeptDirectory) + name.size())) KeptDirectory(found);
    std::memcpy(copy + 1, name.data(), name.size());
    copy->nameBytes = static_cast<uint32_t>(name.size());
    copy->parent = dir.parent;
    for (uint32_t i = 0; i < copy->childCount; ++i)
        if (copy->children[i])
            copy->children[i]->parent = copy;
    if (KeptDirectory* parent = dir.parent) {
        std::replace(parent->children, parent->children + parent->childCount, const_cast<KeptDirectory*>(&dir),
                     copy);
    } else {
        base_ = copy;
    }
    {
        std::lock_guard lock(arenasMutex_);
        for (auto& arena : fresh->arenas_)
            arenas_.push_back(std::move(arena));
    }
    fresh->arenas_.clear();
    fresh->base_ = nullptr;
    Complete();
}

void KeptTree::MarkMoved(const KeptDirectory& dir)
{
    const_cast<KeptDirectory&>(dir).flags |= KeptDirectory::Moved;
    Complete();
}

void KeptTree::MarkFileMoved(const KeptDirectory& dir, uint32_t file)
{
    auto& changed = const_cast<KeptDirectory&>(dir);
    uint32_t index = 0;
    EachFileRecord(dir, [&](uint8_t& flags, const FileFacts& facts) {
        if (index++ != file || (flags & kept_files::Moved))
            return;
        if (!(flags & kept_files::Unmeasured)) {
            changed.ownLength -= facts.length;
            if (!(flags & kept_files::CountedElsewhere))
                changed.ownOnDisk -= facts.onDisk;
        }
        flags = static_cast<uint8_t>((flags | kept_files::Moved) & ~kept_files::CountedElsewhere);
        ++changed.movedFiles;
    });
    Complete();
}

size_t KeptTree::Bytes() const
{
    size_t bytes = sizeof(*this);
    for (const auto& arena : arenas_)
        bytes += sizeof(Arena) + arena->held;
    return bytes;
}

void TellKept(const KeptDirectory& dir, SizeMeasure measure, char separator, WalkRows& rows)
{
    if (dir.failure != ReadFailure::None)
        rows.Unread(std::nullopt, {}, dir.failure);
    if (dir.flags & KeptDirectory::PseudoFileSystem)
        rows.NotEntered(std::nullopt, {});
    Listing listing;
    listing.filesSize = dir.Own(measure);
    listing.failure = dir.failure;
    listing.fileCount = dir.fileCount;
    listing.subdirectories.reserve(dir.childCount);
    for (uint32_t i = 0; i < dir.childCount; ++i)
        listing.subdirectories.emplace_back(dir.children[i] ? dir.children[i]->Name() : std::string_view());
    rows.BaseListed(listing);
    for (uint32_t row = 0; row < dir.childCount; ++row) {
        const KeptDirectory* child = dir.children[row];
        if (!child)
            continue;
        if (child->flags & KeptDirectory::Moved) {
            rows.Moved(row);
            rows.RowFinished(row, 0);
            continue;
        }
        // Only the subtrees that hold an unread place or a pseudo file system are gone into.
        std::vector<std::pair<const KeptDirectory*, std::string>> marked{{child, {}}};
        while (!marked.empty()) {
            auto [next, path] = std::move(marked.back());
            marked.pop_back();
            if (next->failure != ReadFailure::None)
                rows.Unread(row, path, next->failure);
            if (next->flags & KeptDirectory::PseudoFileSystem)
                rows.NotEntered(row, path);
            for (uint32_t i = next->childCount; i-- > 0;) {
                const KeptDirectory* below = next->children[i];
                if (below && !(below->flags & KeptDirectory::Moved) && (below->unreadBelow > 0 || below->pseudoBelow > 0))
                    marked.emplace_back(below, path.empty() ? std::string(below->Name())
                                                            : path + separator + std::string(below->Name()));
            }
        }
        rows.RowCounted(row, {child->entries, 0});
        rows.RowFinished(row, child->Size(measure));
    }
}

}  // namespace murako
