#pragma once

#include <string>
#include <utility>

#include "results_table.h"

namespace murako::fakes {

// Appends one row to the table with the given cell texts.
inline void AddRow(ResultsTable& table, const std::string& number, const std::string& name, const std::string& size)
{
    const int32_t row = table.Rows();
    table.SetRows(row + 1);
    SetCellText(table, row, 0, number);
    SetCellText(table, row, 1, name);
    SetCellText(table, row, 2, size);
}

// Gives a row its unread places, as a run does when it writes the row.
inline void SetUnread(ResultsTable& table, int32_t row, UnreadPlaces unread, RowKind kind = RowKind::Subdirectory)
{
    RowFacts facts = table.Facts(row);
    facts.unread = std::move(unread);
    facts.kind = kind;
    table.SetFacts(row, std::move(facts));
}

}  // namespace murako::fakes
