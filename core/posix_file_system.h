#pragma once

#include <string>
#include <string_view>

#include "file_system.h"

namespace murako {

// The local file systems, walked through open directory handles so that no path length or depth limit
// applies. Links are never followed, and kernel pseudo file systems are not entered.
class PosixFileSystem : public FileSystem {
public:
    std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) override;
};

// True for the file systems that describe the kernel rather than stored files (proc, sysfs, ...):
// by the magic number statfs reports, and by the type name the mount table gives.
bool IsPseudoFileSystem(long fileSystemMagic);
bool IsPseudoFileSystemType(std::string_view typeName);

// A file name's bytes as display text: valid UTF-8 kept, every invalid byte shown as U+FFFD.
std::string DisplayName(std::string_view bytes);

}  // namespace murako
