#pragma once

#include <string>

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

}  // namespace murako::fakes
