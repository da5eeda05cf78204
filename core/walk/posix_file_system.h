#pragma once

#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "placed_file_system.h"

namespace murako {

// The local file systems, walked through open directory handles so that no path length or depth limit
// applies. Links are never followed, kernel pseudo file systems are not entered, and every directory tells
// its device and inode and whether a mount is attached there, so that the walk can tell a loop. However
// deep the tree, the walk holds at most half the descriptors free when the file system is made (and at most
// 1024), reopening a directory from one it still holds when it needs it again.
class PosixFileSystem : public PlacedFileSystem {
public:
    PosixFileSystem();
    MountedTypes ReadMountedTypes() const override;

protected:
    std::unique_ptr<Directory> AdoptGiven(CountedHandle handle, const std::string& path, ReadFailure& failure) override;
};

// Opens a directory by a path of any length, following links as open does: a path past PATH_MAX is opened
// piece by piece, each piece relative to the directory the last one opened. -errno when it cannot be opened.
int OpenDirectoryByPath(const std::string& path);

// The type of each device's file system in a table of mounts as /proc/self/mountinfo words it.
MountedTypes MountedTypesFromTable(std::istream& table);

// True for the file systems that describe the kernel rather than stored files (proc, sysfs, ...):
// by the magic number statfs reports, and by the type name the mount table gives.
bool IsPseudoFileSystem(long fileSystemMagic);
bool IsPseudoFileSystemType(std::string_view typeName);

}  // namespace murako
