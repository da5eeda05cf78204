#include "directory_handles.h"

#include <atomic>
#include <cerrno>

namespace murako {

CountedHandle::CountedHandle(DirectoryHandles& handles) : handles_(&handles)
{
    handles.Count();
}

CountedHandle::~CountedHandle()
{
    if (fd_ >= 0)
        CloseDirectoryHandle(fd_);
    if (handles_)
        handles_->Uncount();
}

int CountedHandle::Open(int from, std::string_view path, ReachedBy reached)
{
    const int fd = OpenDirectoryHandle(from, path, reached);
    if (fd < 0)
        return -fd;
    if (fd_ >= 0)
        CloseDirectoryHandle(fd_);
    fd_ = fd;
    return 0;
}

DirectoryPlace::~DirectoryPlace()
{
    for (std::shared_ptr<DirectoryPlace> up = std::move(parent); up && up.use_count() == 1;) {
        // The count is read relaxed: what the other owners did before letting go must be seen before this one
        // takes the place apart.
        std::atomic_thread_fence(std::memory_order_acquire);
        std::shared_ptr<DirectoryPlace> next = std::move(up->parent);
        up = std::move(next);
    }
}

size_t DirectoryHandles::Counted()
{
    std::lock_guard lock(mutex_);
    return counted_;
}

void DirectoryHandles::Count()
{
    Closing closing;
    {
        std::lock_guard lock(mutex_);
        ++counted_;
        while (counted_ > budget_ && !idle_.empty())
            CloseLocked(*idle_.front(), closing);
    }
    Complete(closing);
}

void DirectoryHandles::Uncount()
{
    std::lock_guard lock(mutex_);
    --counted_;
}

void DirectoryHandles::Adopt(DirectoryPlace& place, CountedHandle handle)
{
    Closing closing;
    {
        std::lock_guard lock(mutex_);
        place.fd = handle.Release();
        Rest(place, closing);
    }
    Complete(closing);
}

int DirectoryHandles::Pin(DirectoryPlace& place)
{
    // A handle in use stays open: further users join without the lock, as the length queries of a large
    // directory do many times over.
    for (int pins = place.pins.load(std::memory_order_acquire); pins > 0;)
        if (place.pins.compare_exchange_weak(pins, pins + 1, std::memory_order_acq_rel))
            return place.fd;
    std::vector<DirectoryPlace*> way;
    DirectoryPlace* anchor = PinNearestOpen(place, way);
    if (anchor == &place)
        return place.fd;
    if (!anchor) {
        // Every enclosing place has let go of its handle: start again from the path the walk began at.
        anchor = way.back();
        way.pop_back();
        const int fd = Reopen(*anchor);
        if (fd < 0 || way.empty())
            return fd;
    }
    const int fd = Descend(*anchor, way);
    Unpin(*anchor);
    return fd;
}

DirectoryPlace* DirectoryHandles::PinNearestOpen(DirectoryPlace& place, std::vector<DirectoryPlace*>& way)
{
    std::lock_guard lock(mutex_);
    DirectoryPlace* anchor = &place;
    for (; anchor && anchor->fd < 0; anchor = anchor->parent.get())
        way.push_back(anchor);
    if (anchor)
        PinLocked(*anchor);
    return anchor;
}

int DirectoryHandles::Reopen(DirectoryPlace& root)
{
    retraced_.fetch_add(1, std::memory_order_relaxed);
    CountedHandle handle = Reserve();
    if (const int error = handle.Open(kNoAnchor, root.name, ReachedBy::GivenPath))
        return -error;
    return Settle(root, std::move(handle));
}

int DirectoryHandles::Descend(DirectoryPlace& anchor, const std::vector<DirectoryPlace*>& way)
{
    // One relative path, never through a link at the end of a piece: whatever the way passes through, only
    // the directory met before is accepted, so a directory renamed or swapped meanwhile is not reached.
    std::string path;
    for (auto it = way.rbegin(); it != way.rend(); ++it)
        path.append(path.empty() ? "" : std::string(1, PathSeparator())).append((*it)->name);
    retraced_.fetch_add(way.size(), std::memory_order_relaxed);
    CountedHandle handle = Reserve();
    if (const int error = handle.Open(anchor.fd, path, ReachedBy::Listing))
        return -error;
    return Settle(*way.front(), std::move(handle));
}

int DirectoryHandles::Settle(DirectoryPlace& place, CountedHandle handle)
{
    int error = 0;
    const std::optional<IdentifiedDirectory> found = Identify(handle.Fd(), error);
    if (!found)
        return -error;
    if (found->identity != place.identity)
        return -ENOENT;  // what is there now is another directory
    std::lock_guard lock(mutex_);
    if (place.fd < 0)
        place.fd = handle.Release();
    PinLocked(place);
    return place.fd;
}

void DirectoryHandles::Unpin(DirectoryPlace& place)
{
    for (int pins = place.pins.load(std::memory_order_acquire); pins > 1;)
        if (place.pins.compare_exchange_weak(pins, pins - 1, std::memory_order_acq_rel))
            return;
    Closing closing;
    {
        std::lock_guard lock(mutex_);
        if (place.pins.fetch_sub(1, std::memory_order_acq_rel) == 1)
            Rest(place, closing);
    }
    Complete(closing);
}

void DirectoryHandles::Retire(DirectoryPlace& place)
{
    std::lock_guard lock(mutex_);
    place.opensMore = false;
}

void DirectoryHandles::Forget(DirectoryPlace& place)
{
    Closing closing;
    {
        std::lock_guard lock(mutex_);
        place.wanted = false;
        place.opensMore = false;
        if (place.fd >= 0 && place.pins == 0)
            CloseLocked(place, closing);
    }
    Complete(closing);
}

void DirectoryHandles::PinLocked(DirectoryPlace& place)
{
    if (place.idle) {
        idle_.erase(place.idlePosition);
        place.idle = false;
    }
    place.pins.fetch_add(1, std::memory_order_acq_rel);
}

// An unpinned handle stays open while it may be used again; directories opened by path are never evicted,
// as they are the anchors of last resort.
void DirectoryHandles::Rest(DirectoryPlace& place, Closing& closing)
{
    if (!place.wanted) {
        CloseLocked(place, closing);
    } else if (place.parent) {
        place.idlePosition = idle_.insert(idle_.end(), &place);
        place.idle = true;
    }
}

void DirectoryHandles::CloseLocked(DirectoryPlace& place, Closing& closing)
{
    if (place.idle) {
        idle_.erase(place.idlePosition);
        place.idle = false;
    }
    const int fd = std::exchange(place.fd, -1);
    // Walking back up a deep tree, the parent is needed next: reach it through "..", one step, rather than
    // down again from the nearest anchor, which could be the whole depth away.
    const DirectoryPlace* parent = place.parent.get();
    if (parent && parent->opensMore && parent->fd < 0 && !place.wanted) {
        closing.climbs.emplace_back(CountedHandle(this, fd), place.parent);
        return;
    }
    closing.handles.push_back(fd);
    --counted_;
}

void DirectoryHandles::Complete(Closing& closing)
{
    for (const int fd : closing.handles)
        CloseDirectoryHandle(fd);
    for (auto& [handle, parent] : closing.climbs) {
        retraced_.fetch_add(1, std::memory_order_relaxed);
        // Where the platform cannot open "..", the parent is reached down from an anchor when it is needed.
        if (handle.Open(handle.Fd(), "..", ReachedBy::Listing) != 0)
            continue;
        int error = 0;
        const std::optional<IdentifiedDirectory> found = Identify(handle.Fd(), error);
        if (!found || found->identity != parent->identity)
            continue;  // the child was moved: ".." is not the parent met before
        std::lock_guard lock(mutex_);
        if (parent->opensMore && parent->fd < 0) {
            parent->fd = handle.Release();
            Closing none;  // a wanted place only rests
            Rest(*parent, none);
        }
    }
}

}  // namespace murako
