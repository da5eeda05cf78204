#pragma once
// The columns the table shows beside its three only at times: each declared once, in the one list below, by
// what it shows and how it orders the rows. The grid, the order, the copied and saved text and the screen
// reader all read them from the list, so that a column is added by declaring it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "results_table.h"
#include "row_order.h"

namespace murako {

// While the rows are compared with an older search, or while the user chose to see it.
enum class ColumnShown : uint8_t { WhileCompared, WhenChosen };

struct OptionalColumn {
    SortColumn column;  // what tells it from the others: the order it gives the rows, Ctrl+(its number + 1)
    const char* header;
    ColumnShown shown;
    bool written;  // copied and saved as CSV while shown
    // A data row's cell, its digits grouped by groupSeparator; empty where the row has nothing to show.
    std::string (*text)(const RowFacts& facts, const std::string& groupSeparator);
    // What orders the rows by it, largest first; none where the row has nothing, which goes below the others.
    std::optional<int64_t> (*key)(const RowFacts& facts);
    Alignment alignment;  // of its data cells; its header is aligned as the others'
};

std::string ChangeCellText(const RowFacts& facts, const std::string& groupSeparator);
std::optional<int64_t> ChangeKey(const RowFacts& facts);
std::string EntriesCellText(const RowFacts& facts, const std::string& groupSeparator);
// The names a row holds, where the search counted them all (a row a cancel cut short has no count).
std::optional<int64_t> CountedEntries(const RowFacts& facts);
// Whether a row tells its newest change: not one a cancel cut short, one moved away or one gone.
bool ShowsNewest(const RowFacts& facts);
std::string NewestCellText(const RowFacts& facts, const std::string& groupSeparator);
// The newest change in a row, where it is known and the row counts what it holds.
std::optional<int64_t> NewestKey(const RowFacts& facts);

// In the order they stand after the size.
inline constexpr std::array kOptionalColumns{
    OptionalColumn{SortColumn::Change, "増減", ColumnShown::WhileCompared, false, ChangeCellText, ChangeKey,
                   Alignment::RightCenter},
    OptionalColumn{SortColumn::Entries, "項目数", ColumnShown::WhenChosen, true, EntriesCellText, CountedEntries,
                   Alignment::RightCenter},
    OptionalColumn{SortColumn::Newest, "最終更新", ColumnShown::WhenChosen, true, NewestCellText, NewestKey,
                   Alignment::RightCenter},
};

// Every column there can be: the table's and the optional ones.
inline constexpr int32_t AllColumns = ResultsTable::Cols + static_cast<int32_t>(kOptionalColumns.size());

// The optional column of that identity; nullptr for one of the table's own.
const OptionalColumn* FindOptionalColumn(SortColumn column);

}  // namespace murako
