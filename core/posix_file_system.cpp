#include "posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <list>
#include <memory>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

namespace murako {

namespace {

constexpr size_t kListingBufferSize = 32 * 1024;
// The walk's handles: half of the descriptors free when the file system is made, at most this many.
constexpr size_t kMostHandles = 1024;
// Each walking thread may hold a few handles beyond the idle ones: the directory it lists, the one it
// opens, and one it reopens through. A walk needs at least one thread's.
constexpr size_t kHandlesPerThread = 4;

struct PseudoFileSystem {
    std::string_view type;  // as the mount table names it
    unsigned long magic;    // as statfs reports it; 0 for one that reports another's
};

// The file systems that describe the kernel rather than stored files.
constexpr std::array<PseudoFileSystem, 20> kPseudoFileSystems{{
    {"proc", 0x9fa0},
    {"sysfs", 0x62656572},
    {"devtmpfs", 0},  // reports tmpfs's magic
    {"devpts", 0x1cd1},
    {"cgroup", 0x27e0eb},
    {"cgroup2", 0x63677270},
    {"debugfs", 0x64626720},
    {"tracefs", 0x74726163},
    {"securityfs", 0x73636673},
    {"pstore", 0x6165676c},
    {"bpf", 0xcafe4a11},
    {"configfs", 0x62656570},
    {"fusectl", 0x65735543},
    {"mqueue", 0x19800202},
    {"hugetlbfs", 0x958458f6},
    {"binfmt_misc", 0x42494e4d},
    {"efivarfs", 0xde5e81e4},
    {"autofs", 0x0187},
    {"nsfs", 0x6e736673},
    {"rpc_pipefs", 0x67596969},
}};

// Devices whose mount-table type is a pseudo file system; devtmpfs, for one, reports tmpfs's magic.
std::set<dev_t> PseudoDevicesFromMountTable()
{
    std::set<dev_t> devices;
    std::ifstream mountInfo("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mountInfo, line)) {
        // id parent major:minor root mountpoint options [optional fields] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, majorMinor, field;
        fields >> id >> parent >> majorMinor;
        while (fields >> field && field != "-") {
        }
        std::string type;
        fields >> type;
        unsigned major = 0, minor = 0;
        if (IsPseudoFileSystemType(type) && std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) == 2)
            devices.insert(makedev(major, minor));
    }
    return devices;
}

const std::set<dev_t>& PseudoDevices()
{
    static const std::set<dev_t> devices = PseudoDevicesFromMountTable();
    return devices;
}

bool IsPseudoDirectory(int fd, dev_t device)
{
    struct statfs fileSystem;
    if (fstatfs(fd, &fileSystem) == 0 && IsPseudoFileSystem(static_cast<long>(fileSystem.f_type)))
        return true;
    return PseudoDevices().count(device) != 0;
}

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The identity of an open directory, and whether it is the root of a mount (where a loop can begin).
bool Identify(int fd, DirectoryIdentity& identity, bool& mountRoot)
{
    struct statx status;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_INO, &status) != 0)
        return false;
    identity = {makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino};
    // A kernel that cannot tell leaves every directory suspect.
    mountRoot = !(status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) || (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
}

bool HasIdentity(int fd, const DirectoryIdentity& expected)
{
    DirectoryIdentity identity;
    bool mountRoot;
    return Identify(fd, identity, mountRoot) && identity == expected;
}

}  // namespace

// A directory the walk has met: the way back to it, and its handle while it holds one.
struct DirectoryPlace {
    DirectoryPlace(std::shared_ptr<DirectoryPlace> parentPlace, std::string placeName, DirectoryIdentity placeIdentity)
        : parent(std::move(parentPlace)), name(std::move(placeName)), identity(placeIdentity)
    {
    }

    // A chain of places is freed one by one, not recursively: a deep one would overflow the stack.
    ~DirectoryPlace()
    {
        for (std::shared_ptr<DirectoryPlace> up = std::move(parent); up && up.use_count() == 1;) {
            std::shared_ptr<DirectoryPlace> next = std::move(up->parent);
            up = std::move(next);
        }
    }
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

// The walk's directory handles, at most a fixed budget of them open at once: the handle idle longest is
// closed to make room, and reopened from the nearest place that still holds one when it is needed again.
// No system call is made under the mutex, which every walking thread takes for each directory.
class DirectoryHandles {
public:
    explicit DirectoryHandles(size_t budget) : budget_(budget) {}

    size_t Budget() const { return budget_; }

    // An open handle of place, reopened if it was closed; -1 when the place cannot be reached again.
    int Pin(DirectoryPlace& place)
    {
        // A handle in use stays open: further users join without the lock, as the length queries of a
        // large directory do many times over.
        for (int pins = place.pins.load(std::memory_order_acquire); pins > 0;)
            if (place.pins.compare_exchange_weak(pins, pins + 1, std::memory_order_acq_rel))
                return place.fd;
        std::unique_lock lock(mutex_);
        if (place.fd >= 0) {
            PinLocked(place);
            return place.fd;
        }
        // The nearest enclosing place that still holds a handle anchors the way back down.
        std::vector<DirectoryPlace*> way{&place};
        DirectoryPlace* anchor = place.parent.get();
        while (anchor && anchor->fd < 0) {
            way.push_back(anchor);
            anchor = anchor->parent.get();
        }
        if (anchor)
            PinLocked(*anchor);
        lock.unlock();
        if (!anchor) {
            // Every enclosing place has let go of its handle: start again from the path the walk began at.
            anchor = way.back();
            way.pop_back();
            Reserve();
            const int fd = OpenDirectoryByPath(anchor->name);
            if (!Accept(fd, anchor->identity))
                return -1;
            const int settled = Settle(*anchor, fd);
            if (way.empty())
                return settled;
        }
        // Down by relative paths in pieces shorter than PATH_MAX, never through a link at the end: whatever
        // the way passes through, only the directory met before is accepted, so a directory renamed or
        // swapped meanwhile is not reached.
        int from = anchor->fd;
        int piece = -1;  // the handle the last piece reached, counted against the budget
        for (size_t next = way.size(); next > 0;) {
            std::string path = way[--next]->name;
            while (next > 0 && path.size() + 1 + way[next - 1]->name.size() < PATH_MAX)
                path.append("/").append(way[--next]->name);
            Reserve();
            const int fd = openat(from, path.c_str(), kDirectoryFlags);
            const int error = errno;
            if (piece >= 0) {
                close(piece);
                Unreserve();
            }
            piece = from = fd;
            if (fd < 0) {
                Unreserve();
                Unpin(*anchor);
                errno = error;
                return -1;
            }
        }
        Unpin(*anchor);
        if (!Accept(piece, place.identity))
            return -1;
        return Settle(place, piece);
    }

    void Unpin(DirectoryPlace& place)
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

    // Counts one more handle against the budget before it is opened, closing idle ones to make room.
    void Reserve()
    {
        Closing closing;
        {
            std::lock_guard lock(mutex_);
            ++open_;
            while (open_ > budget_ && !idle_.empty())
                CloseLocked(*idle_.front(), closing);
        }
        Complete(closing);
    }

    // A reserved handle that was not opened, or was closed again.
    void Unreserve()
    {
        std::lock_guard lock(mutex_);
        --open_;
    }

    // Hands a reserved, freshly opened handle to the place that has none yet.
    void Adopt(DirectoryPlace& place, int fd)
    {
        Closing closing;
        {
            std::lock_guard lock(mutex_);
            place.fd = fd;
            Rest(place, closing);
        }
        Complete(closing);
    }

    // Nothing more will be opened from place: a finished child no longer reaches it through "..".
    void Retire(DirectoryPlace& place)
    {
        std::lock_guard lock(mutex_);
        place.opensMore = false;
    }

    // Its Directory is gone: the handle closes, unless a use is under way.
    void Forget(DirectoryPlace& place)
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

private:
    // A reserved handle just opened for a directory with identity, or closed again with errno telling why.
    bool Accept(int fd, const DirectoryIdentity& identity)
    {
        if (fd >= 0 && HasIdentity(fd, identity))
            return true;
        const int error = fd < 0 ? errno : ENOENT;
        if (fd >= 0)
            close(fd);
        Unreserve();
        errno = error;
        return false;
    }

    // What a change under the mutex leaves to do once it is let go: handles to close, and parents to reach
    // through ".." from a finished child's handle, which counts against the budget until then.
    struct Closing {
        std::vector<int> handles;
        std::vector<std::pair<int, std::shared_ptr<DirectoryPlace>>> climbs;
    };

    void PinLocked(DirectoryPlace& place)
    {
        if (place.idle) {
            idle_.erase(place.idlePosition);
            place.idle = false;
        }
        place.pins.fetch_add(1, std::memory_order_acq_rel);
    }

    // Gives place the handle just opened for it, pinned, unless another thread reopened it meanwhile.
    int Settle(DirectoryPlace& place, int fd)
    {
        std::unique_lock lock(mutex_);
        if (place.fd >= 0) {
            --open_;
        } else {
            place.fd = fd;
            fd = -1;
        }
        PinLocked(place);
        const int settled = place.fd;
        lock.unlock();
        if (fd >= 0)
            close(fd);
        return settled;
    }

    // An unpinned handle stays open while it may be used again; directories opened by path are never
    // evicted, as they are the anchors of last resort.
    void Rest(DirectoryPlace& place, Closing& closing)
    {
        if (!place.wanted) {
            CloseLocked(place, closing);
        } else if (place.parent) {
            place.idlePosition = idle_.insert(idle_.end(), &place);
            place.idle = true;
        }
    }

    void CloseLocked(DirectoryPlace& place, Closing& closing)
    {
        if (place.idle) {
            idle_.erase(place.idlePosition);
            place.idle = false;
        }
        const int fd = place.fd;
        place.fd = -1;
        // Walking back up a deep tree, the parent is needed next: reach it through "..", one step, rather
        // than down again from the nearest anchor, which could be the whole depth away.
        const DirectoryPlace* parent = place.parent.get();
        if (parent && parent->opensMore && parent->fd < 0 && !place.wanted) {
            closing.climbs.emplace_back(fd, place.parent);
            return;
        }
        closing.handles.push_back(fd);
        --open_;
    }

    void Complete(Closing& closing)
    {
        for (const int fd : closing.handles)
            close(fd);
        for (auto& [fd, parent] : closing.climbs) {
            int up = openat(fd, "..", kDirectoryFlags);
            close(fd);
            if (up >= 0 && !HasIdentity(up, parent->identity)) {
                close(up);
                up = -1;
            }
            std::unique_lock lock(mutex_);
            if (up >= 0 && parent->opensMore && parent->fd < 0) {
                parent->fd = up;
                up = -1;
                Closing none;  // a wanted place only rests
                Rest(*parent, none);
            } else {
                --open_;
            }
            lock.unlock();
            if (up >= 0)
                close(up);
        }
    }

    std::mutex mutex_;
    std::list<DirectoryPlace*> idle_;  // longest idle first
    size_t open_ = 0;
    const size_t budget_;
};

namespace {

// A directory on a pseudo file system: not entered, so it lists nothing.
class EmptyDirectory : public Directory {
public:
    bool NextName(std::string_view&) override { return false; }
    ReadFailure ListingFailure() const override { return ReadFailure::None; }
    EntryKind Kind() override { return EntryKind::Unknown; }
    std::optional<int64_t> Length(ReadFailure& failure) override { return LengthOf({}, failure); }
    std::optional<int64_t> LengthOf(std::string_view, ReadFailure& failure) override
    {
        failure = ReadFailure::Other;
        return std::nullopt;
    }
    std::unique_ptr<Directory> OpenSubdirectory(std::string_view, ReadFailure& failure) override
    {
        failure = ReadFailure::Other;
        return nullptr;
    }
};

class PosixDirectory : public Directory {
public:
    PosixDirectory(std::shared_ptr<DirectoryHandles> handles, std::shared_ptr<DirectoryPlace> place, bool mountRoot)
        : handles_(std::move(handles)), place_(std::move(place)), mountRoot_(mountRoot)
    {
    }
    ~PosixDirectory() override
    {
        if (reading_)
            handles_->Unpin(*place_);
        handles_->Forget(*place_);
    }
    PosixDirectory(const PosixDirectory&) = delete;
    PosixDirectory& operator=(const PosixDirectory&) = delete;

    // Takes a reserved, freshly opened handle of a directory met under parent (nullptr: opened by path),
    // or closes it and gives what the walk should see instead.
    static std::unique_ptr<Directory> Adopt(const std::shared_ptr<DirectoryHandles>& handles, int fd,
                                            std::shared_ptr<DirectoryPlace> parent, std::string name,
                                            ReadFailure& failure)
    {
        DirectoryIdentity identity;
        bool mountRoot = false;
        std::unique_ptr<Directory> instead;
        if (!Identify(fd, identity, mountRoot)) {
            failure = ReadFailureFromErrno(errno);  // not even its identity: it cannot be walked safely
        } else if ((!parent || identity.device != parent->identity.device) && IsPseudoDirectory(fd, identity.device)) {
            // Only a directory on another device than its parent can be the root of a pseudo file system.
            instead = std::make_unique<EmptyDirectory>();
        } else {
            auto place = std::make_shared<DirectoryPlace>(std::move(parent), std::move(name), identity);
            handles->Adopt(*place, fd);
            return std::make_unique<PosixDirectory>(handles, std::move(place), mountRoot);
        }
        close(fd);
        handles->Unreserve();
        return instead;
    }

    bool NextName(std::string_view& name) override
    {
        if (!reading_ || reading_->position >= reading_->filled) {
            if (finished_ || !StartOrGoOn())
                return false;
            const long read = syscall(SYS_getdents64, reading_->fd, reading_->buffer, kListingBufferSize);
            if (read <= 0) {
                // The end, or a failure in the middle: either way this listing is over.
                if (read < 0)
                    listingFailure_ = ReadFailureFromErrno(errno);
                Finish();
                return false;
            }
            reading_->filled = static_cast<size_t>(read);
            reading_->position = 0;
        }
        Reading& reading = *reading_;
        reading.statDone = false;
        reading.current = reinterpret_cast<const dirent64*>(reading.buffer + reading.position);
        reading.position += reading.current->d_reclen;
        name = std::string_view(reading.current->d_name);
        return true;
    }

    ReadFailure ListingFailure() const override { return listingFailure_; }

    void SubdirectoriesOpened() override { handles_->Retire(*place_); }
    std::optional<DirectoryIdentity> Identity() const override { return place_->identity; }
    bool IsMountRoot() const override { return mountRoot_; }

    EntryKind Kind() override
    {
        switch (reading_->current->d_type) {
        case DT_DIR:
            return EntryKind::Directory;
        case DT_UNKNOWN:
            if (!StatCurrent())
                return EntryKind::Unknown;
            return S_ISDIR(reading_->status.st_mode) ? EntryKind::Directory : EntryKind::NotDirectory;
        default:
            return EntryKind::NotDirectory;
        }
    }

    std::optional<int64_t> Length(ReadFailure& failure) override
    {
        if (!StatCurrent()) {
            failure = reading_->statFailure;
            return std::nullopt;
        }
        return LengthOfNonDirectory(reading_->status, failure);
    }

    std::optional<int64_t> LengthOf(std::string_view name, ReadFailure& failure) override
    {
        const std::string terminated(name);
        const int fd = handles_->Pin(*place_);
        if (fd < 0) {
            failure = ReadFailureFromErrno(errno);
            return std::nullopt;
        }
        struct stat status;
        const bool ok = fstatat(fd, terminated.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        const int error = errno;
        handles_->Unpin(*place_);
        if (!ok) {
            failure = ReadFailureFromErrno(error);
            return std::nullopt;
        }
        return LengthOfNonDirectory(status, failure);
    }

    std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) override
    {
        std::string terminated(name);
        const int parentFd = handles_->Pin(*place_);
        if (parentFd < 0) {
            failure = ReadFailureFromErrno(errno);
            return nullptr;
        }
        handles_->Reserve();
        const int fd = openat(parentFd, terminated.c_str(), kDirectoryFlags);
        int error = errno;
        struct stat status;
        if (fd < 0 && error == ENOTDIR && fstatat(parentFd, terminated.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode))
            error = ELOOP;  // what was listed as a directory is a link now, as the walk never follows one
        handles_->Unpin(*place_);
        if (fd < 0) {
            handles_->Unreserve();
            failure = ReadFailureFromErrno(error);
            return nullptr;
        }
        return Adopt(handles_, fd, place_, std::move(terminated), failure);
    }

private:
    // A name listed as something else that is a directory now was replaced since: its own size is no file's.
    static std::optional<int64_t> LengthOfNonDirectory(const struct stat& status, ReadFailure& failure)
    {
        if (S_ISDIR(status.st_mode)) {
            failure = ReadFailure::Vanished;
            return std::nullopt;
        }
        return static_cast<int64_t>(status.st_size);
    }

    // The handle stays pinned from the first name to the end of the listing, which goes on from its offset.
    bool StartOrGoOn()
    {
        if (reading_)
            return true;
        const int fd = handles_->Pin(*place_);
        if (fd < 0) {
            listingFailure_ = ReadFailureFromErrno(errno);
            finished_ = true;
            return false;
        }
        reading_ = std::make_unique<Reading>();
        reading_->fd = fd;
        return true;
    }

    void Finish()
    {
        finished_ = true;
        reading_.reset();
        handles_->Unpin(*place_);
    }

    bool StatCurrent()
    {
        Reading& reading = *reading_;
        if (!reading.statDone) {
            reading.statDone = true;
            reading.statOk = fstatat(reading.fd, reading.current->d_name, &reading.status, AT_SYMLINK_NOFOLLOW) == 0;
            reading.statFailure = reading.statOk ? ReadFailure::None : ReadFailureFromErrno(errno);
        }
        return reading.statOk;
    }

    // What only a listing under way needs; a directory stays alive, and small, while its subtree is walked.
    struct Reading {
        int fd = -1;  // pinned
        size_t filled = 0;
        size_t position = 0;
        const dirent64* current = nullptr;
        struct stat status;
        bool statDone = false;
        bool statOk = false;
        ReadFailure statFailure = ReadFailure::None;
        alignas(dirent64) char buffer[kListingBufferSize];
    };

    std::shared_ptr<DirectoryHandles> handles_;
    std::shared_ptr<DirectoryPlace> place_;
    std::unique_ptr<Reading> reading_;  // from the first name to the end of the listing
    const bool mountRoot_;
    bool finished_ = false;
    ReadFailure listingFailure_ = ReadFailure::None;
};

// The descriptors open in this process right now; 0 when they cannot be counted.
size_t OpenDescriptors()
{
    DIR* listing = opendir("/proc/self/fd");
    if (!listing)
        return 0;
    size_t count = 0;
    while (const dirent* entry = readdir(listing))
        count += entry->d_name[0] != '.';
    closedir(listing);
    return count - (count > 0);  // the listing's own
}

// Half of the descriptors the soft limit leaves free, read once, leaves the rest of the program room.
size_t HandleBudget()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kMostHandles;
    const size_t open = OpenDescriptors();
    const size_t free = limit.rlim_cur > open ? limit.rlim_cur - open : 0;
    return std::min(free / 2, kMostHandles);
}

}  // namespace

PosixFileSystem::PosixFileSystem() : handles_(std::make_shared<DirectoryHandles>(HandleBudget())) {}

PosixFileSystem::~PosixFileSystem() = default;

int PosixFileSystem::MaxWalkThreads() const
{
    return static_cast<int>(std::max<size_t>(1, handles_->Budget() / kHandlesPerThread));
}

int OpenDirectoryByPath(const std::string& path)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (path.size() < PATH_MAX)
        return open(path.c_str(), kFlags);
    int fd = path.front() == '/' ? open("/", kFlags) : open(".", kFlags);
    for (size_t start = 0; fd >= 0 && start < path.size();) {
        size_t end = path.size();
        if (end - start >= PATH_MAX) {
            end = path.rfind('/', start + PATH_MAX - 1);
            if (end == std::string::npos || end < start) {
                close(fd);
                errno = ENAMETOOLONG;  // one name longer than any path
                return -1;
            }
        }
        const std::string piece = path.substr(start, end - start);
        const int next = piece.empty() ? dup(fd) : openat(fd, piece.c_str(), kFlags);
        const int openError = errno;
        close(fd);
        errno = openError;  // the caller tells why from it
        fd = next;
        start = end + 1;
    }
    return fd;
}

std::unique_ptr<Directory> PosixFileSystem::Open(const std::string& path, ReadFailure& failure)
{
    if (handles_->Budget() < kHandlesPerThread) {
        failure = ReadFailure::TooManyOpenFiles;  // refused whole rather than walked in part
        return nullptr;
    }
    handles_->Reserve();
    const int fd = OpenDirectoryByPath(path);
    if (fd < 0) {
        failure = ReadFailureFromErrno(errno, ReachedBy::GivenPath);
        handles_->Unreserve();
        return nullptr;
    }
    return PosixDirectory::Adopt(handles_, fd, nullptr, path, failure);
}

bool IsPseudoFileSystem(long fileSystemMagic)
{
    const auto magic = static_cast<unsigned long>(fileSystemMagic) & 0xffffffffUL;
    return std::any_of(kPseudoFileSystems.begin(), kPseudoFileSystems.end(),
                       [&](const PseudoFileSystem& pseudo) { return pseudo.magic != 0 && pseudo.magic == magic; });
}

bool IsPseudoFileSystemType(std::string_view typeName)
{
    return std::any_of(kPseudoFileSystems.begin(), kPseudoFileSystems.end(),
                       [&](const PseudoFileSystem& pseudo) { return pseudo.type == typeName; });
}

}  // namespace murako
