#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "results_table.h"

namespace murako {

// The column the data rows are ordered by: the listing (№), the name, the size, or one of the optional columns
// (optional_columns.h): while the rows are compared with an older search the change, the names each row holds,
// and the newest change in each row.
enum class SortColumn : int32_t { Number = 0, Name = 1, Size = 2, Change = 3, Entries = 4, Newest = 5 };

// Each column's first order is the one a user looks for: the listing, names A to Z, the largest size first, and
// in an optional column the largest first (the largest growth, the most names, the newest change); reversed is the
// other way round.
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

// Orders the table's data rows in place, by exact byte counts for sizes, by ranks for names and by an optional
// column's key (rows without one below the others), rows that tie
// in their listing order; a total row keeps its place. Rows keep their numbers, so № still tells the listing.
void SortRows(ResultsTable& table, SortOrder order, const NameRanks& ranks);

}  // namespace murako
