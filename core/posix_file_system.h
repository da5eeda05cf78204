#pragma once

#include <fcntl.h>

#include <memory>
#include <string>
#include <string_view>

#include "file_system.h"

namespace murako {

class DirectoryHandles;

// The local file systems, walked through open directory handles so that no path length or depth limit
// applies. Links are never followed, kernel pseudo file systems are not entered, and every directory tells
// its device and inode and whether a mount is attached there, so that the walk can tell a loop. However
// deep the tree, the walk holds at most half the descriptors free when the file system is made (and at most
// 1024), reopening a directory from one it still holds when it needs it again; with too few free for one
// walking thread, Open refuses every search as TooManyOpenFiles.
class PosixFileSystem : public FileSystem {
public:
    PosixFileSystem();
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) override;
    int MaxWalkThreads() const override;

private:
    std::shared_ptr<DirectoryHandles> handles_;  // shared with every directory opened
};

// How the walk opens a directory it met by name: never through a link.
inline constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens path relative to from (AT_FDCWD: the working directory, or path is absolute), in pieces shorter
// than PATH_MAX cut at separators, each piece opened with flags from the directory the last one reached.
// The descriptor, or -errno.
int OpenInPieces(int from, std::string_view path, int flags);

// Opens a directory by a path of any length, following links as open does: a path past PATH_MAX is opened
// piece by piece, each piece relative to the directory the last one opened. -errno when it cannot be opened.
int OpenDirectoryByPath(const std::string& path);

// True for the file systems that describe the kernel rather than stored files (proc, sysfs, ...):
// by the magic number statfs reports, and by the type name the mount table gives.
bool IsPseudoFileSystem(long fileSystemMagic);
bool IsPseudoFileSystemType(std::string_view typeName);

}  // namespace murako
