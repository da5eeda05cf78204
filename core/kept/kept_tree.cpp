#include "kept_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>
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
// A room grown for a large listing is not kept for the next: a share's walk keeps a hundred threads or more.
constexpr size_t kLargestSpareRoom = 16 * 1024;

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

}  // namespace

// Memory one thread adds to, chunk by chunk.
struct KeptTree::Arena {
    std::vector<std::unique_ptr<std::byte[]>> chunks;
    std::byte* next = nullptr;
    size_t left = 0;
    size_t chunkBytes = kFirstChunk;
    size_t held = 0;

    static size_t Aligned(size_t bytes) { return (bytes + alignof(KeptDirectory) - 1) & ~(alignof(KeptDirectory) - 1); }

    // bytes, from a chunk that has room left to grow them to room.
    void* Allocate(size_t bytes, size_t room = 0)
    {
        bytes = Aligned(bytes);
        room = std::max(Aligned(room), bytes);
        if (room > kLargestChunk / 4)
            return NewChunk(room);  // on its own, leaving the current chunk's room for what follows
        if (room > left) {
            while (chunkBytes < room)
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

    // Grows what was allocated last, at at, from bytes to more; false where something came after it or the
    // chunk has no room.
    bool Grow(const void* at, size_t bytes, size_t more)
    {
        bytes = Aligned(bytes);
        more = Aligned(more);
        if (static_cast<const std::byte*>(at) + bytes != next || more - bytes > left)
            return false;
        next += more - bytes;
        left -= more - bytes;
        return true;
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
    // The room the thread's last listing was written in, lent to its next: else nearly every directory would
    // allocate, grow and free its own. Held here, not by the thread: on Windows a thread's own objects are
    // freed before they are destroyed as it ends.
    std::unique_ptr<char, Free> spareRoom;
    size_t spareRoomBytes = 0;
};

namespace {

// The arena the calling thread adds to, for the tree of that id.
struct ThreadsArena {
    uint64_t treeId = 0;
    void* arena = nullptr;
};
// Windows' runtime frees a thread's own objects before it destroys them as the thread ends.
static_assert(std::is_trivially_destructible_v<ThreadsArena>);
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
    if (threadsArena.treeId == id_) [[likely]]
        return *static_cast<Arena*>(threadsArena.arena);
    return NewThreadsArena();
}

// Apart from the lookup above, which every record makes, so that the lookup needs no frame of its own.
KeptTree::Arena& KeptTree::NewThreadsArena()
{
    std::lock_guard lock(arenasMutex_);
    arenas_.push_back(std::make_unique<Arena>());
    threadsArena = {id_, arenas_.back().get()};
    return *arenas_.back();
}

void* KeptTree::Allocate(size_t bytes)
{
    return ThisThreadsArena().Allocate(bytes);
}

KeptDirectory* KeptTree::NewDirectory(std::string_view name, const DirectoryIdentity& identity,
                                       ModifiedTime modified, bool contents)
{
    constexpr size_t kWithContents = sizeof(KeptDirectory) + sizeof(KeptDirectory::Contents);
    const size_t bytes = (contents ? kWithContents : sizeof(KeptDirectory)) + name.size();
    auto* dir = new (ThisThreadsArena().Allocate(bytes, kWithContents + name.size())) KeptDirectory;
    dir->contents_ = contents;
    if (contents)
        new (&dir->Held()) KeptDirectory::Contents;
    // Names come from file systems, which hold at most 255 characters, or from files, which refuse longer ones.
    dir->nameBytes_ = static_cast<uint16_t>(std::min<size_t>(name.size(), UINT16_MAX));
    std::memcpy(const_cast<char*>(dir->Name().data()), name.data(), dir->nameBytes_);
    dir->identity = identity;
    dir->modified_.Set(modified);
    dir->ownOrNewest_.Set(contents ? modified : 0);
    return dir;
}

KeptDirectory& KeptTree::WithContents(KeptDirectory& dir)
{
    if (dir.contents_)
        return dir;
    const size_t bytes = sizeof(KeptDirectory) + dir.nameBytes_;
    if (ThisThreadsArena().Grow(&dir, bytes, bytes + sizeof(KeptDirectory::Contents))) {
        char* name = reinterpret_cast<char*>(&dir + 1);
        std::memmove(name + sizeof(KeptDirectory::Contents), name, dir.nameBytes_);
        dir.contents_ = true;
        dir.ownOrNewest_ = dir.modified_;
        new (&dir.Held()) KeptDirectory::Contents;
        return dir;
    }
    // Added by another thread, or with something added since: moved, and its parent's slot with it.
    KeptDirectory* moved = NewDirectory(dir.Name(), dir.identity, dir.Modified(), true);
    moved->parent = dir.parent;
    moved->failure = dir.failure;
    moved->flags = dir.flags;
    if (dir.parent)
        std::replace(dir.parent->Held().children, dir.parent->Held().children + dir.parent->ChildCount(), &dir, moved);
    else if (base_ == &dir)
        base_ = moved;
    return *moved;
}

KeptDirectory* KeptTree::AddDirectory(KeptDirectory* parent, size_t index, std::string_view name,
                                      const DirectoryIdentity& identity, ModifiedTime modified)
{
    const std::string baseName = parent ? std::string() : LastPathName(basePath_);
    if (!parent)
        name = baseName;
    KeptDirectory* dir = NewDirectory(name, identity, modified, false);
    dir->parent = parent;
    if (parent)
        parent->Held().children[index] = dir;
    else
        base_ = dir;
    return dir;
}

KeptDirectory& KeptTree::SetListing(KeptDirectory& listed, const KeptFilesWriter& files, size_t subdirectories,
                                    int64_t ownOnDisk)
{
    if (!NeedsContents(files, subdirectories, ownOnDisk)) {
        listed.ownOrNewest_.Set(ownOnDisk / 512);
        return listed;
    }
    KeptDirectory& dir = WithContents(listed);
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
    return dir;
}

KeptDirectory& KeptTree::SetListing(KeptDirectory& listed, KeptFilesWriter&& files, size_t subdirectories,
                                    int64_t ownOnDisk)
{
    // A listing the arena would put in a chunk of its own anyway.
    if (files.size_ > kLargestChunk / 4) {
        KeptDirectory& dir = WithContents(listed);
        Listed(dir, Take(files), files, subdirectories, ownOnDisk);
        return dir;
    }
    KeptDirectory& dir = SetListing(listed, std::as_const(files), subdirectories, ownOnDisk);
    Arena& arena = ThisThreadsArena();
    if (files.bytes_ && !arena.spareRoom && files.room_ <= kLargestSpareRoom) {
        files.size_ = 0;
        arena.spareRoomBytes = std::exchange(files.room_, 0);
        arena.spareRoom.reset(std::exchange(files.bytes_, nullptr));
    }
    return dir;
}

void KeptTree::LendRoom(KeptFilesWriter& files)
{
    Arena& arena = ThisThreadsArena();
    if (files.bytes_ || !arena.spareRoom)
        return;
    files.room_ = std::exchange(arena.spareRoomBytes, 0);
    files.bytes_ = arena.spareRoom.release();
}

const uint8_t* KeptTree::Take(KeptFilesWriter& files)
{
    files.Append(files.excluded_.data(), files.excluded_.size());
    const size_t size = std::exchange(files.size_, 0);
    files.room_ = 0;
    return ThisThreadsArena().Take(std::exchange(files.bytes_, nullptr), size);
}

void KeptTree::Listed(KeptDirectory& dir, const uint8_t* packed, const KeptFilesWriter& files, size_t subdirectories,
                      int64_t ownOnDisk)
{
    KeptDirectory::Contents& held = dir.Held();
    held.files = packed;
    held.fileCount = static_cast<uint32_t>(files.Count());
    held.excludedNames = static_cast<uint32_t>(files.ExcludedCount());
    held.ownLength = files.Length();
    held.ownOnDisk = ownOnDisk;
    AddUnlessOverflow(held.ownOnDisk, files.OnDisk());
    if (files.HasLinkedFiles())
        dir.flags |= KeptDirectory::HasLinkedFiles;
    if (subdirectories > 0) {
        held.children = static_cast<KeptDirectory**>(Allocate(subdirectories * sizeof(KeptDirectory*)));
        std::fill_n(held.children, subdirectories, nullptr);
    }
    held.childCount = static_cast<uint32_t>(subdirectories);
    dir.ownOrNewest_.Set(Newer(dir.Modified(), files.Newest()));
}

KeptDirectory* KeptTree::AddListed(std::string_view name, const DirectoryIdentity& identity, ModifiedTime modified,
                                   KeptFilesWriter&& files, const std::vector<KeptDirectory*>& subdirectories,
                                   int64_t ownOnDisk)
{
    const bool contents = NeedsContents(files, subdirectories.size(), ownOnDisk);
    KeptDirectory* dir = NewDirectory(name, identity, modified, contents);
    if (!contents) {
        dir->ownOrNewest_.Set(ownOnDisk / 512);
        files.Clear();
        return dir;
    }
    dir = &SetListing(*dir, std::move(files), subdirectories.size(), ownOnDisk);
    LendRoom(files);  // the reader writes its next directory at this level in the same room
    files.Clear();
    for (size_t i = 0; i < subdirectories.size(); ++i) {
        dir->Held().children[i] = subdirectories[i];
        subdirectories[i]->parent = dir;
    }
    return dir;
}

void KeptTree::Finished(KeptDirectory& dir)
{
    SumSubtree(dir);
    dir.finished_ = true;
}

void KeptTree::Complete(bool walked)
{
    if (!base_)
        return;
    std::unordered_set<LinkIdentity, LinkIdentityHash> met;
    std::vector<KeptDirectory*> parentsFirst;
    for (KeptWalk walk(*base_, KeptWalk::Scope::Directories); walk.Next();) {
        auto& dir = const_cast<KeptDirectory&>(walk.Directory());
        if (walked && dir.finished_ && dir.LinkedBelow() == 0) {
            walk.PassOver();
            continue;
        }
        if (dir.flags & KeptDirectory::HasLinkedFiles)
            CountLinksOnce(dir, met);
        parentsFirst.push_back(&dir);
    }
    for (auto dir = parentsFirst.rbegin(); dir != parentsFirst.rend(); ++dir)
        SumSubtree(**dir, walked && (*dir)->finished_);
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
    KeptDirectory* copy = fresh->NewDirectory(dir.Name(), found.identity, found.Modified(), found.contents_);
    copy->failure = found.failure;
    copy->flags = found.flags;
    copy->ownOrNewest_ = found.ownOrNewest_;
    copy->summed_ = found.summed_;
    copy->finished_ = found.finished_;
    if (found.contents_)
        copy->Held() = found.Held();
    copy->parent = dir.parent;
    for (uint32_t i = 0; i < copy->ChildCount(); ++i)
        if (copy->Children()[i])
            copy->Children()[i]->parent = copy;
    if (KeptDirectory* parent = dir.parent) {
        std::replace(parent->Held().children, parent->Held().children + parent->ChildCount(),
                     const_cast<KeptDirectory*>(&dir), copy);
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
