#pragma once

#include <memory>
#include <string>

#include "placed_file_system.h"

namespace murako {

// The local file systems of Windows, walked through NT directory handles: each subdirectory is opened
// relative to its parent's handle, so neither MAX_PATH nor depth limits the walk, and each listing record
// brings the entry's length, so no file is queried on its own. Reparse points that stand for another place
// (symbolic links, junctions, mount points) are never entered, while cloud files' placeholder directories
// are; a directory tells its volume serial number and file ID, so that the walk can tell a loop. At most
// budget handles are held at once (1024, as on Linux), reopened from one still held.
class WindowsFileSystem : public PlacedFileSystem {
public:
    explicit WindowsFileSystem(size_t budget = 1024);

protected:
    std::unique_ptr<Directory> AdoptGiven(CountedHandle handle, const std::string& path, ReadFailure& failure) override;
};

// The directory name below from, never through a reparse point, held so that it cannot be renamed or deleted
// until closed; the handle, or -errno.
int OpenHeldDirectory(int from, const std::string& name);
// The entry name below from itself, a reparse point not followed, to read its attributes; the handle, or -errno.
int OpenEntryItself(int from, const std::string& name);

// A path as CreateFileW takes it: absolute, with "\" separators, and the "\\?\" prefix past MAX_PATH.
std::wstring Win32PathForOpen(const std::string& path);

}  // namespace murako
