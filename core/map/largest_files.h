#pragma once
// The largest files under a directory of a kept tree.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kept_tree.h"

namespace murako {

struct LargeFile {
    int64_t bytes = 0;
    const KeptDirectory* dir = nullptr;  // the directory that holds it
    uint32_t index = 0;                  // its place in dir's files, in listing order
    ModifiedTime modified = kTimeUnknown;
    std::string path;                    // whole, below basePath
};

// Path of dir, basePath being that of the tree's base; ends in separator.
std::string KeptPath(const KeptDirectory& dir, const std::string& basePath, char separator);

// The count largest files under dir, largest first (equal sizes by path); basePath is the path of the base
// of dir's tree. Only the winners' paths are built. Given wanted, only the files it wants take part.
std::vector<LargeFile> LargestFiles(const KeptDirectory& dir, SizeMeasure measure, const std::string& basePath,
                                    char separator, size_t count = 100,
                                    const std::function<bool(const KeptFile&)>& wanted = {});

}  // namespace murako
