#pragma once
// Sizes as a fresh search of one directory of a kept tree counts them: what was moved away counts nothing,
// and on disk a file of several links counts once within that directory, where a walk of it in listing order
// meets it first, wherever the whole search met it first.

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "kept_tree.h"

namespace murako {

class KeptCounts {
public:
    KeptCounts(const KeptDirectory& shown, SizeMeasure measure);

    SizeMeasure Measure() const { return measure_; }
    // The subtree of dir, which lies at or below the directory shown.
    int64_t Size(const KeptDirectory& dir) const;
    // dir's files and, on disk, its own space.
    int64_t Own(const KeptDirectory& dir) const;
    // A file of a directory at or below the directory shown.
    int64_t FileSize(const KeptFile& file) const;

private:
    struct Change {
        int64_t own = 0;
        int64_t subtree = 0;
    };
    void CountLinks(const KeptDirectory& shown);

    SizeMeasure measure_;
    // Only where counting from the directory shown differs from counting from the whole tree's base.
    std::unordered_map<const KeptDirectory*, Change> changes_;
    std::unordered_set<const uint8_t*> countedOtherwise_;  // records of links counted here but not there, or back
};

}  // namespace murako
