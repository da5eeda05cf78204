#pragma once
// Kept trees of random shape and sizes, built as a walk builds them.

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kept_tree.h"

namespace murako::fakes {

inline const std::vector<std::string>& RandomFileNames()
{
    static const std::vector<std::string> names{"a.jpg", "b.MP4", "c.flac", "d.pdf", "e.tar.gz", "f.so", "g.log",
                                                "h",     ".rc",   "i.txt",  "j.PNG", "k.iso",   "l.py", "m.dat"};
    return names;
}

// A tree of up to maxDepth levels, each directory with up to maxChildren subdirectories and maxFiles files,
// lengths spread over nine orders of magnitude, some files empty or unmeasured. withTimes: every directory and
// most files changed at a time of their own, some before 1970, the rest unknown.
inline std::unique_ptr<KeptTree> RandomKeptTree(uint32_t seed, int maxDepth = 5, int maxChildren = 5, int maxFiles = 30,
                                                bool withTimes = false)
{
    // From what is drawn anyway, so that a tree has the same shape with times as without.
    auto timeOf = [&](int64_t drawn, int index) {
        if (!withTimes || index % 7 == 3)
            return kTimeUnknown;
        return static_cast<ModifiedTime>((drawn * 7919 + index * 104729) % 2'000'000'000) - 100'000'000;
    };
    std::mt19937 random(seed);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n + 1)); };
    auto tree = std::make_unique<KeptTree>("/random");
    struct Open {
        KeptDirectory* dir;
        int depth;
    };
    std::vector<Open> open{{tree->AddDirectory(nullptr, 0, {}, {}), 0}};
    while (!open.empty()) {
        const Open at = open.back();
        open.pop_back();
        KeptFilesWriter files;
        const int fileCount = below(maxFiles);
        for (int i = 0; i < fileCount; ++i) {
            const std::string name = std::to_string(i) + RandomFileNames()[random() % RandomFileNames().size()];
            if (random() % 40 == 0) {
                files.Add(name, std::nullopt);
                continue;
            }
            const int64_t length = random() % 10 == 0 ? 0 : static_cast<int64_t>(std::pow(10.0, below(90) / 10.0));
            files.Add(name, FileFacts{length, (length + 4095) / 4096 * 4096, 0, 1, true, timeOf(length, i)});
        }
        // The top levels full, so that every tree is large.
        const int children = at.depth < 2 ? maxChildren : at.depth < maxDepth ? below(maxChildren) : 0;
        KeptDirectory& listed = tree->SetListing(*at.dir, files, static_cast<size_t>(children), 4096);
        for (int i = 0; i < children; ++i)
            open.push_back({tree->AddDirectory(&listed, static_cast<size_t>(i), "d" + std::to_string(i), {},
                                               timeOf(fileCount * 31 + at.depth, i + 1)),
                            at.depth + 1});
    }
    tree->Complete();
    return tree;
}

}  // namespace murako::fakes
