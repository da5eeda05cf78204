#pragma once

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace murako {

// Why a directory or file could not be read.
enum class ReadFailure : uint8_t {
    None,
    Permission,        // EACCES, EPERM
    Vanished,          // removed or replaced while the walk went on: ENOENT, ENOTDIR
    TooManyOpenFiles,  // the process's or the system's table of open files is full
    Other,
    Loop,              // a directory that is one of its own ancestors, reached through a bind mount
};

// The failure an errno value stands for.
inline ReadFailure ReadFailureFromErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return ReadFailure::Permission;
    case ENOENT:
    case ENOTDIR:
        return ReadFailure::Vanished;
    case EMFILE:
    case ENFILE:
        return ReadFailure::TooManyOpenFiles;
    default:
        return ReadFailure::Other;
    }
}

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
    // The length of the name fetched last, as the entry itself holds it (a link's own length); nullopt when
    // the query fails, and then failure tells why.
    virtual std::optional<int64_t> Length(ReadFailure& failure) = 0;
    // The length of any name of this directory; safe to call from several threads at once.
    virtual std::optional<int64_t> LengthOf(std::string_view name, ReadFailure& failure) = 0;
    // Opens a subdirectory by name; nullptr when it cannot be listed, and then failure tells why. Once the
    // listing is done, safe to call from several threads at once.
    virtual std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) = 0;
    // Nothing more will be opened from it, though it is kept while what lies below is walked.
    virtual void SubdirectoriesOpened() {}
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens a directory by full path; nullptr when it cannot be listed, and then failure tells why.
    virtual std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) = 0;
    // How many threads may walk it at once: each holds a few handles of its own.
    virtual int MaxWalkThreads() const { return std::numeric_limits<int>::max(); }
};

}  // namespace murako
