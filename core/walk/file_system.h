#pragma once

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "path_text.h"

namespace murako {

// Why a directory or file could not be read.
enum class ReadFailure : uint8_t {
    None,
    Permission,        // EACCES, EPERM
    Vanished,          // seen in a listing, then removed or replaced by something else: ENOENT, ENOTDIR
    TooManyOpenFiles,  // the process's or the system's table of open files is full
    Other,
    Loop,              // a directory that is one of its own ancestors, reached through a bind mount
    NotFound,          // a path given to be searched that does not exist
    NotDirectory,      // a path given to be searched that names something other than a directory
    ReplacedByLink,    // seen in a listing as a directory, then replaced by a symbolic link: ELOOP
    LinkLoop,          // a path given to be searched whose links lead round in a loop: ELOOP
    NameTooLong,       // a name or path longer than the file system takes: ENAMETOOLONG
};

// How the place that failed was reached: by a name some listing returned, or by a path given from outside.
enum class ReachedBy : uint8_t { Listing, GivenPath };

// The failure an errno value stands for. Only a place seen in a listing can have been removed or replaced.
inline ReadFailure ReadFailureFromErrno(int error, ReachedBy reached = ReachedBy::Listing)
{
    const bool given = reached == ReachedBy::GivenPath;
    switch (error) {
    case EACCES:
    case EPERM:
        return ReadFailure::Permission;
    case ENOENT:
        return given ? ReadFailure::NotFound : ReadFailure::Vanished;
    case ENOTDIR:
        return given ? ReadFailure::NotDirectory : ReadFailure::Vanished;
    case ELOOP:
        return given ? ReadFailure::LinkLoop : ReadFailure::ReplacedByLink;
    case ENAMETOOLONG:
        return ReadFailure::NameTooLong;
    case EMFILE:
    case ENFILE:
        return ReadFailure::TooManyOpenFiles;
    default:
        return ReadFailure::Other;
    }
}

// Which directory a handle stands for: the same identity met twice on one way down is a loop.
struct DirectoryIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const DirectoryIdentity&) const = default;
};

// A modification time: whole seconds since 1970 began (UTC), negative before it.
using ModifiedTime = int64_t;
// The time of an entry the file system, or the file it was read from, did not tell.
constexpr ModifiedTime kTimeUnknown = std::numeric_limits<int64_t>::min();

// The later of two times, an unknown one giving way to any known one.
inline ModifiedTime Newer(ModifiedTime a, ModifiedTime b)
{
    return a > b ? a : b;  // kTimeUnknown is the least of all
}

// What a listing or a query tells of a file (anything but a directory).
struct FileFacts {
    int64_t length = 0;  // the entry's own length: a link's, not its target's
    int64_t onDisk = 0;  // the space allocated to it
    uint64_t inode = 0;  // told only of a file with more than one link, whose space is counted once
    uint32_t links = 1;
    bool regular = true;  // a plain file, not a link, a device, a pipe or a socket
    ModifiedTime modified = kTimeUnknown;
};

enum class EntryKind : uint8_t {
    Directory,
    NotDirectory,
    Unknown,  // the attribute query failed
};

// One open directory: listed once, entry by entry, and the handle its subdirectories are opened from.
// Names are bytes, as the file system holds them.
class Directory {
public:
    virtual ~Directory() = default;
    // Fetches the next name; false when the listing is exhausted or fails.
    virtual bool NextName(std::string_view& name) = 0;
    // Why the listing broke off; None while it goes on or when it ended normally.
    virtual ReadFailure ListingFailure() const = 0;
    // The kind of the name fetched last.
    virtual EntryKind Kind() = 0;
    // Whether the listing brings each name's facts along, so that Facts costs no query of its own.
    virtual bool LengthsListed() const { return false; }
    // The facts of the name fetched last, as the entry itself holds them; nullopt when the query fails, and
    // then failure tells why. Asked only of names listed as other than directories: one that is a directory by
    // the time of the query was replaced meanwhile, and fails as Vanished.
    virtual std::optional<FileFacts> Facts(ReadFailure& failure) = 0;
    // The facts of any name of this directory; safe to call from several threads at once.
    virtual std::optional<FileFacts> FactsOf(std::string_view name, ReadFailure& failure) = 0;
    // Opens a subdirectory by name; nullptr when it cannot be listed, and then failure tells why. Once the
    // listing is done, safe to call from several threads at once.
    virtual std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) = 0;
    // Nothing more will be opened from it, though it is kept while what lies below is walked.
    virtual void SubdirectoriesOpened() {}
    // Which directory this is; nullopt where the file system cannot tell, and then no loop is looked for.
    virtual std::optional<DirectoryIdentity> Identity() const { return std::nullopt; }
    // A mount is attached here: only past one can a directory be met again below itself.
    virtual bool IsMountRoot() const { return false; }
    // The space allocated to the directory itself, which size on disk counts with its files.
    virtual int64_t OwnOnDisk() const { return 0; }
    // When the directory itself last changed (a name added or taken away).
    virtual ModifiedTime Modified() const { return kTimeUnknown; }
    // The root of a pseudo file system (the kernel's, as /proc): shown, counted 0 and never entered.
    virtual bool IsPseudoFileSystem() const { return false; }
    // Whether the file of that name in this directory, a link followed, begins with start; false where it
    // cannot be read or the file system cannot tell.
    virtual bool FileBegins(std::string_view /*name*/, std::string_view /*start*/) { return false; }
    // The type of the file system it lies on where the directory itself can tell (Windows: its volume's
    // "NTFS"); empty elsewhere, where the mounts read once per search tell it.
    virtual std::string FileSystemType() const { return {}; }
};

// The type of the file system on each device ("nfs4", "ext4"), as the system's mounts stood when read.
using MountedTypes = std::unordered_map<uint64_t, std::string>;

// A directory given from outside as this platform reads it. On Windows a drive without its root ("Z:",
// "Z:data") starts at that drive's own current directory, so it comes back made absolute from there; any
// other path comes back as it was given.
std::string PathFromDriveCurrentDirectory(const std::string& path);

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens a directory by full path; nullptr when it cannot be listed, and then failure tells why (read as
    // reached by a given path).
    virtual std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) = 0;
    // How many threads may walk it at once: each holds a few handles of its own.
    virtual int MaxWalkThreads() const { return std::numeric_limits<int>::max(); }
    // What separates the names of its paths.
    virtual char Separator() const { return PathSeparator(); }
    // The types of the file systems mounted now; empty where the system keeps no table of them.
    virtual MountedTypes ReadMountedTypes() const { return {}; }
};

// The computer's own file systems, walked by the backend built for this platform.
std::shared_ptr<FileSystem> MakeLocalFileSystem();

}  // namespace murako
