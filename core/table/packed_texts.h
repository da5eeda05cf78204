#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace murako {

// The cell texts of every row, each row's three one after another in large blocks, so that a row's texts cost
// their bytes and one 8-byte place rather than three strings and their allocations.
class PackedTexts {
public:
    // The block in the high bits and the offset in it in the low 16: a place takes 48 bits.
    using Place = uint64_t;
    static constexpr int PlaceBits = 48;
    static constexpr int OffsetBits = 16;
    static constexpr Place Nowhere = (Place{1} << PlaceBits) - 1;  // a row with every cell empty
    static constexpr size_t Cells = 3;
    using Row = std::array<std::string_view, Cells>;

    // The views last until the texts change.
    Row Read(Place place) const;
    // Writes a row's cells anew and says where they now stand; the row's old place is given up.
    Place Write(Place old, const Row& cells);
    void Drop(Place place);

    // Bytes given up by rows written anew or dropped, which only a fresh copy gets back.
    size_t Garbage() const { return garbage_; }
    size_t Used() const { return used_; }

private:
    struct Block {
        std::vector<char> bytes;
        size_t end = 0;
    };
    static constexpr size_t BlockSize = size_t{1} << OffsetBits;  // a longer record has a block of its own

    size_t RecordSize(Place place) const;
    Place Append(const std::string& record);

    std::vector<Block> blocks_;
    size_t garbage_ = 0;
    size_t used_ = 0;
};

}  // namespace murako
