#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "results_table.h"

namespace murako {

// The column the data rows are ordered by: the listing (№), the name, the size, or while the rows are compared
// with an older search, the change.
enum class SortColumn : int32_t { Number = 0, Name = 1, Size = 2, Change = 3 };

// Each column's first order is the one a user looks for: the listing, names A to Z, the largest size first, the
// largest growth first; reversed is the other way round.
struct SortOrder {
    SortColumn column = SortColumn::Number;
    bool reversed = false;
    bool operator==(const SortOrder&) const = default;
};

// Whether the order runs from the largest value down, as its header arrow shows.
bool Descending(SortOrder order);

// A click on a column: the column already sorted by turns round, another starts in its first order.
SortOrder NextOrder(SortOrder current, SortColumn clicked);

// Each name's rank in the user's collation, equal names equal ranks.
using NameRanks = std::function<std::vector<int32_t>(const std::vector<std::string>& names)>;

// Ranks by the names' bytes, where no collation is given.
std::vector<int32_t> RanksInByteOrder(const std::vector<std::string>& names);

// Orders the table's data rows in place, by exact byte counts for sizes and by ranks for names, rows that tie
// in their listing order; a total row keeps its place. Rows keep their numbers, so № still tells the listing.
void SortRows(ResultsTable& table, SortOrder order, const NameRanks& ranks);

}  // namespace murako
