#include "kept_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "path_text.h"

namespace murako {

namespace {

// An arena's chunks grow from small, for the many threads that add little, to this size: what the last
// chunk of each walking thread leaves unused is the tree's waste.
constexpr size_t kFirstChunk = 1024;
constexpr size_t kLargestChunk = 16 * 1024;

std::atomic<uint64_t> nextTreeId{1};

// glibc keeps freed memory in its heaps: once a subtree of megabytes was freed, it raises its thresholds to that
// size, and every later F5's subtree, made while the one it replaces still lives, then grows the heap, which
// kept each freed one (a directory of 100,000 files searched again 50 times: +65 % resident). Handing the free
// pages back takes a few milliseconds, once per search again or tree let go.
void ReturnFreedPages()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Counts dir's files of several links on disk only where first met: what an earlier completion marked is
// counted again first, as a replaced subtree may have moved where a file is first met. A file moved away is
// met nowhere: its other links count where they are.
void CountLinksOnce(KeptDirectory& dir, std::unordered_set<LinkIdentity, LinkIdentityHash>& met)
{
    using namespace kept_files;
    ForEachFile(dir, [&](const KeptFile& file) {
        // The flags byte heads the record: the one place a completion writes to.
        uint8_t& flags = *const_cast<uint8_t*>(file.record);
        if (!(flags & Linked) || (flags & Moved))
            return;
        if (flags & CountedElsewhere) {
            flags &= static_cast<uint8_t>(~CountedElsewhere);
            dir.ownOnDisk += file.facts->onDisk;
        }
        if (!met.insert({dir.identity.device, file.facts->inode}).second) {
            flags |= CountedElsewhere;
            dir.ownOnDisk -= file.facts->onDisk;
        }
    });
}

void SumSubtree(KeptDirectory& dir)
{
    dir.length = dir.ownLength;
    dir.onDisk = dir.ownOnDisk;
    dir.entries = static_cast<int64_t>(dir.fileCount) - dir.movedFiles;
    dir.unreadBelow = dir.failure != ReadFailure::None;
    dir.markedBelow = (dir.flags & (KeptDirectory::PseudoFileSystem | KeptDirectory::OtherFileSystem)) != 0;
    dir.excludedBelow = dir.excludedNames + ((dir.flags & KeptDirectory::Excluded) != 0);
    dir.linkedBelow = (dir.flags & KeptDirectory::HasLinkedFiles) != 0;
    for (uint32_t i = 0; i < dir.childCount; ++i) {
        const KeptDirectory* child = dir.children[i];
        if (!child || (child->flags & KeptDirectory::Moved))
            continue;
        ++dir.entries;
        AddUnlessOverflow(dir.length, child->length);
        AddUnlessOverflow(dir.onDisk, child->onDisk);
        dir.entries += child->entries;
        dir.unreadBelow += child->unreadBelow;
        dir.markedBelow += child->markedBelow;
        dir.excludedBelow += child->excludedBelow;
        dir.linkedBelow += child->linkedBelow;
    }
}

}  // namespace

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

KeptTree::~KeptTree()
{
    const bool held = !arenas_.empty() || !grafts_.empty();
    arenas_.clear();
    grafts_.clear();
    if (held)
        ReturnFreedPages();
}

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
    const std::string_view excluded = files.Excluded();
    uint8_t* packed = nullptr;
    if (!bytes.empty() || !excluded.empty()) {
        packed = static_cast<uint8_t*>(Allocate(bytes.size() + excluded.size()));
        // Either may be empty, with no bytes to point at.
        if (!bytes.empty())
            std::memcpy(packed, bytes.data(), bytes.size());
        if (!excluded.empty())
            std::memcpy(packed + bytes.size(), excluded.data(), excluded.size());
    }
    Listed(dir, packed, files, subdirectories, ownOnDisk);
}

void KeptTree::Listed(KeptDirectory& dir, const uint8_t* packed, const KeptFilesWriter& files, size_t subdirectories,
                      int64_t ownOnDisk)
{
    dir.files = packed;
    dir.filesBytes = static_cast<uint32_t>(files.size_ + files.excluded_.size());
    dir.fileCount = static_cast<uint32_t>(files.Count());
    dir.excludedNames = static_cast<uint32_t>(files.ExcludedCount());
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
        const size_t fileBytes = files.size_;
        files.Append(files.excluded_.data(), files.excluded_.size());
        const uint8_t* packed = ThisThreadsArena().Take(std::exchange(files.bytes_, nullptr), files.size_);
        files.size_ = fileBytes;  // Listed counts the excluded names beside the files' own bytes
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
    std::unordered_set<LinkIdentity, LinkIdentityHash> met;
    std::vector<KeptDirectory*> parentsFirst;
    for (KeptWalk walk(*base_, KeptWalk::Scope::Directories); walk.Next();) {
        auto& dir = const_cast<KeptDirectory&>(walk.Directory());
        if (dir.flags & KeptDirectory::HasLinkedFiles)
            CountLinksOnce(dir, met);
        parentsFirst.push_back(&dir);
    }
    for (auto dir = parentsFirst.rbegin(); dir != parentsFirst.rend(); ++dir)
        SumSubtree(**dir);
}

void KeptTree::SumAbove(KeptDirectory& dir)
{
    for (KeptDirectory* above = &dir; above; above = above->parent)
        SumSubtree(*above);
}

void KeptTree::Replace(const KeptDirectory& dir, std::unique_ptr<KeptTree> fresh)
{
    if (!fresh->base_)
        return;
    for (const auto& told : replacing_)
        told(dir);
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
    FreeGraftsAt(dir);
    {
        std::lock_guard lock(arenasMutex_);
        if (!copy->parent)
            arenas_.clear();  // the whole tree searched again: nothing of the old one is reachable
        grafts_.push_back({copy, std::move(fresh->arenas_)});
    }
    fresh->arenas_.clear();
    fresh->base_ = nullptr;
    if (!copy->parent) {
        scope_ = fresh->scope_;
        cutShort_ = fresh->cutShort_;
    }
    Complete();
    ReturnFreedPages();
}

void KeptTree::FreeGraftsAt(const KeptDirectory& replaced)
{
    auto below = [&](const KeptDirectory* root) {
        for (const KeptDirectory* at = root; at; at = at->parent)
            if (at == &replaced)
                return true;
        return false;
    };
    // Which grafts lie below is read through parents that freeing would take away, so first of all.
    std::vector<bool> unreachable;
    for (const Graft& graft : grafts_)
        unreachable.push_back(below(graft.root));
    std::lock_guard lock(arenasMutex_);
    size_t next = 0;
    std::erase_if(grafts_, [&](const Graft&) { return unreachable[next++]; });
}

void KeptTree::OnReplacing(std::function<void(const KeptDirectory& replaced)> told)
{
    replacing_.push_back(std::move(told));
}

void KeptTree::MarkMoved(const KeptDirectory& dir)
{
    auto& moved = const_cast<KeptDirectory&>(dir);
    if (moved.flags & KeptDirectory::Moved)
        return;
    moved.flags |= KeptDirectory::Moved;
    // Another link of a file it held may be met first now, anywhere in the tree.
    if (moved.linkedBelow > 0)
        Complete();
    else if (moved.parent)
        SumAbove(*moved.parent);
}

void KeptTree::MarkFileMoved(const KeptDirectory& dir, uint32_t file)
{
    auto& changed = const_cast<KeptDirectory&>(dir);
    bool counted = false;
    ForEachFile(dir, [&](const KeptFile& kept) {
        uint8_t& flags = *const_cast<uint8_t*>(kept.record);
        if (kept.index != file || kept.moved)
            return;
        if (kept.facts) {
            changed.ownLength -= kept.facts->length;
            counted = !kept.countedElsewhere;
            if (counted)
                changed.ownOnDisk -= kept.facts->onDisk;
        }
        flags = static_cast<uint8_t>((flags | kept_files::Moved) & ~kept_files::CountedElsewhere);
        ++changed.movedFiles;
        // A link of several counted here leaves its space to the link met next.
        counted = counted && (flags & kept_files::Linked);
    });
    if (counted)
        Complete();
    else
        SumAbove(changed);
}

size_t KeptTree::Bytes() const
{
    size_t bytes = sizeof(*this);
    for (const auto& arena : arenas_)
        bytes += sizeof(Arena) + arena->held;
    for (const Graft& graft : grafts_)
        for (const auto& arena : graft.arenas)
            bytes += sizeof(Arena) + arena->held;
    return bytes;
}

}  // namespace murako
