#pragma once
// The walk's open directory handles: a budget of them, the places they belong to, and the way back to a place
// whose handle was given up. A handle is a small non-negative int (a descriptor, or a Windows kernel handle,
// which always fits 32 bits); failures come back as negative errno values.

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_system.h"

namespace murako {

// Opens from no directory: path is absolute or relative to the working directory.
inline constexpr int kNoAnchor = -100;

// What the platform's backend does with handles. OpenDirectoryHandle opens path, whose pieces are joined by
// the platform's separator, relative to from: a path reached by a listing never leads through a link or any
// other redirection, a given path follows them as the system's own open does. The handle, or -errno.
int OpenDirectoryHandle(int from, std::string_view path, ReachedBy reached);
void CloseDirectoryHandle(int handle);

struct IdentifiedDirectory {
    DirectoryIdentity identity;
    bool mountRoot = false;  // a mount is attached here, or the kernel cannot tell
    int64_t onDisk = 0;      // the space allocated to the directory itself
    ModifiedTime modified = kTimeUnknown;
};

// The identity of an open directory; an errno value in error when it cannot be had.
std::optional<IdentifiedDirectory> Identify(int handle, int& error);

class DirectoryHandles;

// A descriptor counted against the budget from before it is opened until it goes: then it is closed and
// its count given back, unless a place took both over.
class CountedHandle {
public:
    explicit CountedHandle(DirectoryHandles& handles);
    ~CountedHandle();
    CountedHandle(CountedHandle&& other) noexcept
        : handles_(std::exchange(other.handles_, nullptr)), fd_(std::exchange(other.fd_, -1))
    {
    }
    CountedHandle& operator=(CountedHandle&&) = delete;
    CountedHandle(const CountedHandle&) = delete;
    CountedHandle& operator=(const CountedHandle&) = delete;

    int Fd() const { return fd_; }
    // Opens path from `from` into this handle, closing what it held; 0 or the errno.
    int Open(int from, std::string_view path, ReachedBy reached);
    // The descriptor and its count, for a place to hold.
    int Release()
    {
        handles_ = nullptr;
        return std::exchange(fd_, -1);
    }

private:
    friend class DirectoryHandles;
    // Takes over a descriptor already counted.
    CountedHandle(DirectoryHandles* handles, int fd) : handles_(handles), fd_(fd) {}

    DirectoryHandles* handles_;
    int fd_ = -1;
};

// A directory the walk has met: the way back to it, and its handle while it holds one.
struct DirectoryPlace {
    DirectoryPlace(std::shared_ptr<DirectoryPlace> parentPlace, std::string placeName, DirectoryIdentity placeIdentity)
        : parent(std::move(parentPlace)), name(std::move(placeName)), identity(placeIdentity)
    {
    }
    // A chain of places is freed one by one, not recursively: a deep one would overflow the stack.
    ~DirectoryPlace();
    DirectoryPlace(const DirectoryPlace&) = delete;
    DirectoryPlace& operator=(const DirectoryPlace&) = delete;

    std::shared_ptr<DirectoryPlace> parent;  // nullptr for a directory opened by path; cleared only when freed
    const std::string name;  // within parent, or the full path for a directory opened by path
    const DirectoryIdentity identity;

    // Changed under the handles' mutex; pins also without it while above 0, and fd only while pins is 0.
    int fd = -1;
    std::atomic<int> pins = 0;  // users of fd right now: a pinned handle is never closed
    bool wanted = true;         // its Directory still lives
    bool opensMore = true;      // subdirectories may still be opened from it
    bool idle = false;          // in the idle list: open, unpinned and wanted
    std::list<DirectoryPlace*>::iterator idlePosition;
};

// The walk's directory handles, at most a budget of them open at once: the handle idle longest is closed to
// make room, and reopened from the nearest place that still holds one when it is needed again. Handles in
// use (pinned) and those of places opened by path are never closed for room. No system call is made under
// the mutex, which every walking thread takes for each directory.
class DirectoryHandles {
public:
    explicit DirectoryHandles(size_t budget) : budget_(budget) {}

    size_t Budget() const { return budget_; }
    // Handles counted now: open, or about to be opened.
    size_t Counted();

    // One more handle counted against the budget, closing idle ones to make room.
    CountedHandle Reserve() { return CountedHandle(*this); }
    // Gives a place that has none the handle just opened for it.
    void Adopt(DirectoryPlace& place, CountedHandle handle);

    // An open handle of place, pinned, reopened if it was closed; -errno when the place cannot be reached
    // again as the directory met before.
    int Pin(DirectoryPlace& place);
    void Unpin(DirectoryPlace& place);

    // Nothing more will be opened from place: a finished child no longer reaches it through "..".
    void Retire(DirectoryPlace& place);
    // Its Directory is gone: the handle closes, unless a use is under way.
    void Forget(DirectoryPlace& place);

    // How many names were opened again to reach places whose handle had gone: the walk's cost beyond one open
    // per directory, which the way back up keeps to a few per directory however deep the tree.
    size_t NamesRetraced() const { return retraced_.load(std::memory_order_relaxed); }

private:
    friend class CountedHandle;

    // What a change under the mutex leaves to do once it is let go: handles to close, and parents to reach
    // through ".." from a finished child's handle, whose count passes to the parent.
    struct Closing {
        std::vector<int> handles;
        std::vector<std::pair<CountedHandle, std::shared_ptr<DirectoryPlace>>> climbs;
    };

    void Count();
    void Uncount();
    // The nearest place on the way up from place, itself included, that holds a handle, pinned; the places
    // below it on the way are left in way, place first. nullptr when none does.
    DirectoryPlace* PinNearestOpen(DirectoryPlace& place, std::vector<DirectoryPlace*>& way);
    // A place opened by path, opened by its path again.
    int Reopen(DirectoryPlace& root);
    // Down from anchor, pinned, to the last place of way, by one relative path.
    int Descend(DirectoryPlace& anchor, const std::vector<DirectoryPlace*>& way);
    // Gives place the handle just opened for it, if it is still the directory met before, and pins it; the
    // handle goes if another thread reopened the place meanwhile.
    int Settle(DirectoryPlace& place, CountedHandle handle);
    void PinLocked(DirectoryPlace& place);
    void Rest(DirectoryPlace& place, Closing& closing);
    void CloseLocked(DirectoryPlace& place, Closing& closing);
    void Complete(Closing& closing);

    std::mutex mutex_;
    std::list<DirectoryPlace*> idle_;  // longest idle first
    size_t counted_ = 0;
    const size_t budget_;
    std::atomic<size_t> retraced_ = 0;
};

}  // namespace murako
