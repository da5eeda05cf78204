#pragma once
// Times and counts held in five bytes, as the kept tree holds one or two in every directory's record.

#include <algorithm>
#include <cstdint>

#include "file_system.h"

namespace murako {

// A number in five bytes: a time, whole seconds either side of 1970 for more than 17,000 years (a time beyond
// that is held at the nearest it can, never wrapped), or a count below 2^39.
class PackedTime {
public:
    // Inline: every directory sets and reads several as the tree is built.
    void Set(ModifiedTime time)
    {
        const auto held =
            static_cast<uint64_t>(time == kTimeUnknown ? -kLimit - 1 : std::clamp(time, -kLimit, kLimit));
        for (int i = 0; i < 5; ++i)
            bytes_[i] = static_cast<uint8_t>(held >> (8 * i));
    }

    ModifiedTime Get() const
    {
        uint64_t held = 0;
        for (int i = 0; i < 5; ++i)
            held |= static_cast<uint64_t>(bytes_[i]) << (8 * i);
        // The fortieth bit is the sign.
        const int64_t time = static_cast<int64_t>(held << 24) >> 24;
        return time == -kLimit - 1 ? kTimeUnknown : time;
    }

private:
    static constexpr int64_t kLimit = (int64_t{1} << 39) - 1;
    uint8_t bytes_[5] = {0, 0, 0, 0, 0x80};  // unknown
};

}  // namespace murako
