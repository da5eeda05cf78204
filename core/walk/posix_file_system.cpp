#include "posix_file_system.h"

#include "directory_handles.h"

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
#include <cerrno>
#include <climits>
#include <memory>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace murako {

namespace {

constexpr size_t kListingBufferSize = 32 * 1024;
// The walk's handles: half of the descriptors free when the file system is made, at most this many.
constexpr size_t kMostHandles = 1024;
// How the walk opens a directory it met by name: never through a link.
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// How it opens a directory by a given path: as the system's own open does.
constexpr int kGivenDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

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
    for (const auto& [device, type] : MountedTypesFromTable(mountInfo))
        if (IsPseudoFileSystemType(type))
            devices.insert(static_cast<dev_t>(device));
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

// A directory on a pseudo file system: not entered, so it lists nothing.
class EmptyDirectory : public Directory {
public:
    bool NextName(std::string_view&) override { return false; }
    ReadFailure ListingFailure() const override { return ReadFailure::None; }
    EntryKind Kind() override { return EntryKind::Unknown; }
    bool IsPseudoFileSystem() const override { return true; }
    std::optional<FileFacts> Facts(ReadFailure& failure) override { return FactsOf({}, failure); }
    std::optional<FileFacts> FactsOf(std::string_view, ReadFailure& failure) override
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

class PosixDirectory : public PlacedDirectoryOf<PosixDirectory> {
public:
    using PlacedDirectoryOf::PlacedDirectoryOf;

    // Only a directory on another device than its parent can be the root of a pseudo file system, which is
    // not entered.
    static std::unique_ptr<Directory> Instead(const CountedHandle& handle, const IdentifiedDirectory& found,
                                              const DirectoryPlace* parent)
    {
        const DirectoryIdentity& identity = found.identity;
        if ((!parent || identity.device != parent->identity.device) && IsPseudoDirectory(handle.Fd(), identity.device))
            return std::make_unique<EmptyDirectory>();
        return nullptr;
    }

    bool NextName(std::string_view& name) override
    {
        if (!reading_ || reading_->position >= reading_->filled) {
            const int fd = ListingHandle();
            if (fd < 0)
                return false;
            if (!reading_) {
                // The kernel fills the buffer: zeroing it for every directory was most of the walk's own instructions.
                reading_ = std::make_unique_for_overwrite<Reading>();
            }
            reading_->fd = fd;
            const long read = syscall(SYS_getdents64, fd, reading_->buffer, kListingBufferSize);
            if (read <= 0) {
                // The end, or a failure in the middle: either way this listing is over.
                const ReadFailure failure = read < 0 ? ReadFailureFromErrno(errno) : ReadFailure::None;
                reading_.reset();
                EndListing(failure);
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

    std::optional<FileFacts> Facts(ReadFailure& failure) override
    {
        if (!StatCurrent()) {
            failure = reading_->statFailure;
            return std::nullopt;
        }
        return FactsOfNonDirectory(reading_->status, failure);
    }

private:
    std::optional<FileFacts> MeasureBelow(int handle, std::string_view name, ReadFailure& failure) override
    {
        const std::string terminated(name);
        struct stat status;
        if (fstatat(handle, terminated.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            failure = ReadFailureFromErrno(errno);
            return std::nullopt;
        }
        return FactsOfNonDirectory(status, failure);
    }

    // Never waits on a pipe or a device: only a plain file is read.
    std::optional<std::string> ReadBelow(int handle, std::string_view name, size_t bytes) override
    {
        const int fd = openat(handle, std::string(name).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return std::nullopt;
        struct stat status;
        std::string start(bytes, '\0');
        const ssize_t read = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? ::read(fd, start.data(), bytes) : -1;
        close(fd);
        if (read < 0)
            return std::nullopt;
        start.resize(static_cast<size_t>(read));
        return start;
    }

    // A name listed as something else that is a directory now was replaced since: its own size is no file's.
    static std::optional<FileFacts> FactsOfNonDirectory(const struct stat& status, ReadFailure& failure)
    {
        if (S_ISDIR(status.st_mode)) {
            failure = ReadFailure::Vanished;
            return std::nullopt;
        }
        FileFacts facts{static_cast<int64_t>(status.st_size), static_cast<int64_t>(status.st_blocks) * 512};
        facts.regular = S_ISREG(status.st_mode);
        facts.modified = status.st_mtim.tv_sec;
        if (status.st_nlink > 1) {
            facts.inode = status.st_ino;
            facts.links = static_cast<uint32_t>(status.st_nlink);
        }
        return facts;
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

    std::unique_ptr<Reading> reading_;  // from the first name to the end of the listing, which goes on from
                                        // the pinned handle's offset
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

// Opens one piece of a path: a piece met by name that is a link now fails as ELOOP, as the walk never
// follows one. The descriptor, or -errno.
int OpenPiece(int from, const std::string& piece, int flags)
{
    const int fd = openat(from, piece.c_str(), flags);
    if (fd >= 0)
        return fd;
    const int error = errno;
    struct stat status;
    if (error == ENOTDIR && (flags & O_NOFOLLOW) && fstatat(from, piece.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode))
        return -ELOOP;
    return -error;
}

}  // namespace

PosixFileSystem::PosixFileSystem() : PlacedFileSystem(HandleBudget()) {}

MountedTypes PosixFileSystem::ReadMountedTypes() const
{
    std::ifstream mountInfo("/proc/self/mountinfo");
    return MountedTypesFromTable(mountInfo);
}

MountedTypes MountedTypesFromTable(std::istream& table)
{
    MountedTypes types;
    std::string line;
    while (std::getline(table, line)) {
        // id parent major:minor root mountpoint options [optional fields] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, majorMinor, field;
        fields >> id >> parent >> majorMinor;
        while (fields >> field && field != "-") {
        }
        std::string type;
        unsigned major = 0, minor = 0;
        // A device mounted at several places holds one file system: the first line names it.
        if (fields >> type && std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) == 2)
            types.emplace(makedev(major, minor), std::move(type));
    }
    return types;
}

std::unique_ptr<Directory> PosixFileSystem::AdoptGiven(CountedHandle handle, const std::string& path,
                                                        ReadFailure& failure)
{
    return PosixDirectory::Adopt(handles_, std::move(handle), nullptr, path, failure);
}

std::optional<IdentifiedDirectory> Identify(int fd, int& error)
{
    struct statx status;
    // An open directory's device and inode never change: a share need not be asked again.
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO | STATX_BLOCKS | STATX_MTIME, &status) != 0) {
        error = errno;
        return std::nullopt;
    }
    IdentifiedDirectory found;
    found.identity = {makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino};
    if (status.stx_mask & STATX_BLOCKS)
        found.onDisk = static_cast<int64_t>(status.stx_blocks) * 512;
    if (status.stx_mask & STATX_MTIME)
        found.modified = status.stx_mtime.tv_sec;
    // A kernel that cannot tell leaves every directory suspect.
    found.mountRoot =
        !(status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) || (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return found;
}

static_assert(kNoAnchor == AT_FDCWD);

int OpenDirectoryHandle(int from, std::string_view path, ReachedBy reached)
{
    const int flags = reached == ReachedBy::Listing ? kDirectoryFlags : kGivenDirectoryFlags;
    return OpenInPieces(from, path, PATH_MAX, '/',
                        [flags](int at, const std::string& piece) { return OpenPiece(at, piece, flags); });
}

void CloseDirectoryHandle(int handle)
{
    close(handle);
}

std::shared_ptr<FileSystem> MakeLocalFileSystem()
{
    return std::make_shared<PosixFileSystem>();
}

std::string PathFromDriveCurrentDirectory(const std::string& path)
{
    return path;
}

int OpenDirectoryByPath(const std::string& path)
{
    return OpenDirectoryHandle(AT_FDCWD, path, ReachedBy::GivenPath);
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
