#pragma once
// The map's files coloured by their growth since an older search of the same directory.

#include <cstdint>
#include <functional>
#include <vector>

#include "disk_map.h"

namespace murako {

// What each item of the map held in an older search: a directory or a file of the same name and place, a
// directory's rest what else its directory held; 0 where there was none. olderOf gives a directory's older
// self, or nullptr.
std::vector<int64_t> OlderSizes(const std::vector<MapItem>& items, SizeMeasure measure,
                                const std::function<const KeptDirectory*(const KeptDirectory&)>& olderOf);

// Each file's and each rest's colour on the map by its growth since it held before: red where it grew, blue
// where it shrank, grey where it stayed, the stronger the larger the change's share of its size. A
// directory's entry gets 0: its frame keeps its grey.
std::vector<uint32_t> GrowthColours(const std::vector<MapItem>& items, const std::vector<int64_t>& before);

inline constexpr uint32_t kUnchangedColour = 0x9e9e9e;

}  // namespace murako
