#pragma once

#include <string>

#include "file_system.h"

namespace murako {

// The local file systems, walked through open directory handles so that no path length or depth limit
// applies. Links are never followed, and kernel pseudo file systems are not entered.
class PosixFileSystem : public FileSystem {
public:
    std::unique_ptr<Directory> Open(const std::string& path) override;
};

// True for the file-system types that describe the kernel rather than stored files (proc, sysfs, ...).
bool IsPseudoFileSystem(long fileSystemType);

// A file name's bytes as display text: valid UTF-8 kept, every invalid byte shown as U+FFFD.
std::string DisplayName(std::string_view bytes);

}  // namespace murako
