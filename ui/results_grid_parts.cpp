#include "results_grid_parts.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "kept_compare.h"
#include "row_texts.h"

namespace murako {

bool ColumnChoice::IsShown(const OptionalColumn& optional) const
{
    if (optional.shown == ColumnShown::WhileCompared)
        return RowsCompared(table_);
    return chosen_[static_cast<size_t>(&optional - kOptionalColumns.data())];
}

std::vector<SortColumn> ColumnChoice::Shown() const
{
    std::vector<SortColumn> shown;
    for (int32_t col = 0; col < ResultsTable::Cols; ++col)
        shown.push_back(static_cast<SortColumn>(col));
    for (const OptionalColumn& optional : kOptionalColumns)
        if (IsShown(optional))
            shown.push_back(optional.column);
    return shown;
}

int ColumnChoice::Count() const
{
    int shown = ResultsTable::Cols;
    for (const OptionalColumn& optional : kOptionalColumns)
        shown += IsShown(optional) ? 1 : 0;
    return shown;
}

SortColumn ColumnChoice::At(int col) const
{
    if (col < ResultsTable::Cols)
        return static_cast<SortColumn>(col);
    int at = ResultsTable::Cols;
    for (const OptionalColumn& optional : kOptionalColumns)
        if (IsShown(optional) && at++ == col)
            return optional.column;
    return static_cast<SortColumn>(AllColumns);
}

int ColumnChoice::Position(SortColumn column) const
{
    for (int col = 0; col < Count(); ++col)
        if (At(col) == column)
            return col;
    return -1;
}

bool ColumnChoice::Choose(SortColumn column, bool shown)
{
    const OptionalColumn* optional = FindOptionalColumn(column);
    if (!optional || optional->shown != ColumnShown::WhenChosen || Chosen(column) == shown)
        return false;
    chosen_[static_cast<size_t>(optional - kOptionalColumns.data())] = shown;
    return true;
}

bool ColumnChoice::Chosen(SortColumn column) const
{
    const OptionalColumn* optional = FindOptionalColumn(column);
    return optional && optional->shown == ColumnShown::WhenChosen && IsShown(*optional);
}

std::string ColumnChoice::Text(int row, SortColumn id) const
{
    if (static_cast<int32_t>(id) < ResultsTable::Cols)
        return table_.TextAt(row, static_cast<int32_t>(id));
    const OptionalColumn* optional = FindOptionalColumn(id);
    if (!optional)
        return {};
    if (row < ResultsTable::FixedRows)
        return optional->header;
    return optional->text(table_.Facts(row), QLocale().groupSeparator().toStdString());
}

void RowSelection::Extend(int32_t from, int32_t row)
{
    if (ends_)
        ends_->end = row;
    else
        ends_ = Ends{from, row};
}

bool RowSelection::Contains(int32_t row) const
{
    return ends_ && row >= std::min(ends_->anchor, ends_->end) && row <= std::max(ends_->anchor, ends_->end);
}

std::vector<int32_t> RowSelection::Rows(int32_t lastRow) const
{
    std::vector<int32_t> rows;
    if (!ends_)
        return rows;
    const int32_t last = std::min(lastRow, std::max(ends_->anchor, ends_->end));
    for (int32_t row = std::min(ends_->anchor, ends_->end); row <= last; ++row)
        rows.push_back(row);
    return rows;
}

void BarScale::RowChanged(int32_t row)
{
    // A row written again may have been the largest: only a new maximum is safe to take as it comes.
    const RowFacts& facts = table_.Facts(row);
    if (!stale_ && HasShare(facts) && *facts.bytes < largest_)
        stale_ = true;
    if (!stale_)
        Note(row);
}

void BarScale::CatchUp()
{
    if (!stale_)
        return;
    largest_ = 0;
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        Note(row);
    stale_ = false;
}

void BarScale::Note(int32_t row)
{
    if (const RowFacts& facts = table_.Facts(row); HasShare(facts))
        largest_ = std::max(largest_, *facts.bytes);
}

int BarScale::Width(int32_t row, int cellWidth) const
{
    const RowFacts& facts = table_.Facts(row);
    if (!HasShare(facts) || largest_ <= 0 || *facts.bytes <= 0)
        return 0;
    const double share = std::min(1.0, static_cast<double>(*facts.bytes) / static_cast<double>(largest_));
    // Any byte at all shows as at least one pixel, so that an almost empty row can be told from an empty one.
    return std::max(1, static_cast<int>(std::lround(share * (cellWidth - 1))));
}

}  // namespace murako
