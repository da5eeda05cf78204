#include "packed_texts.h"

#include <algorithm>

namespace murako {

namespace {

size_t BlockOf(PackedTexts::Place place)
{
    return static_cast<size_t>(place >> PackedTexts::OffsetBits);
}

size_t OffsetOf(PackedTexts::Place place)
{
    return static_cast<size_t>(place & ((PackedTexts::Place{1} << PackedTexts::OffsetBits) - 1));
}

// Each cell is its length, seven bits a byte with the high bit saying more follow, then its bytes.
void PutCell(std::string& record, std::string_view cell)
{
    for (size_t length = cell.size();; length >>= 7) {
        const auto low = static_cast<unsigned char>(length & 0x7f);
        if (length < 0x80) {
            record += static_cast<char>(low);
            break;
        }
        record += static_cast<char>(low | 0x80);
    }
    record.append(cell);
}

std::string_view TakeCell(const char*& at)
{
    size_t length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        length |= static_cast<size_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            break;
    }
    const std::string_view cell(at, length);
    at += length;
    return cell;
}

}  // namespace

PackedTexts::Row PackedTexts::Read(Place place) const
{
    Row cells{};
    if (place == Nowhere)
        return cells;
    const char* at = blocks_[BlockOf(place)].bytes.data() + OffsetOf(place);
    for (std::string_view& cell : cells)
        cell = TakeCell(at);
    return cells;
}

size_t PackedTexts::RecordSize(Place place) const
{
    const char* const start = blocks_[BlockOf(place)].bytes.data() + OffsetOf(place);
    const char* at = start;
    for (size_t cell = 0; cell < Cells; ++cell)
        TakeCell(at);
    return static_cast<size_t>(at - start);
}

PackedTexts::Place PackedTexts::Write(Place old, const Row& cells)
{
    // Built apart first: the cells may be views into the very record they replace.
    std::string record;
    for (const std::string_view cell : cells)
        PutCell(record, cell);
    Drop(old);
    if (std::ranges::all_of(cells, [](std::string_view cell) { return cell.empty(); }))
        return Nowhere;
    return Append(record);
}

PackedTexts::Place PackedTexts::Append(const std::string& record)
{
    const size_t size = record.size();
    if (blocks_.empty() || blocks_.back().bytes.size() - blocks_.back().end < size)
        blocks_.push_back({std::vector<char>(std::max(BlockSize, size)), 0});
    Block& block = blocks_.back();
    const Place place = (static_cast<Place>(blocks_.size() - 1) << OffsetBits) | block.end;
    std::copy(record.begin(), record.end(), block.bytes.begin() + static_cast<std::ptrdiff_t>(block.end));
    block.end += size;
    used_ += size;
    return place;
}

void PackedTexts::Drop(Place place)
{
    if (place == Nowhere)
        return;
    const size_t size = RecordSize(place);
    used_ -= size;
    // A row written again straight after it was added, as rows are while a search fills the table, leaves
    // nothing behind.
    if (Block& block = blocks_[BlockOf(place)]; &block == &blocks_.back() && OffsetOf(place) + size == block.end)
        block.end -= size;
    else
        garbage_ += size;
}

}  // namespace murako
