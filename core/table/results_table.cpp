#include "results_table.h"

#include <algorithm>
#include <utility>

namespace murako {

void UnreadPlaces::Add(Place place)
{
    ++count;
    auto byPath = [](const Place& a, const Place& b) { return a.path < b.path; };
    const auto at = std::upper_bound(first.begin(), first.end(), place, byPath);
    if (static_cast<size_t>(at - first.begin()) >= Kept)
        return;
    first.insert(at, std::move(place));
    if (first.size() > Kept)
        first.pop_back();
}

void UnreadPlaces::Merge(const UnreadPlaces& other)
{
    const int64_t sum = count + other.count;
    for (const Place& place : other.first)
        Add(place);
    count = sum;
}

ResultsTable::ResultsTable() : cells_(DesignRows), facts_(DesignRows) {}

void ResultsTable::SetRows(int32_t rows)
{
    if (rows < FixedRows)
        throw TableIndexError("Rows cannot drop below the header row");
    if (rows == Rows())
        return;
    cells_.resize(static_cast<size_t>(rows));
    facts_.resize(static_cast<size_t>(rows));
    const bool currentMoved = row_ >= rows;
    if (currentMoved)
        row_ = rows - 1;
    if (observer_) {
        observer_->RowsChanged(rows);
        if (currentMoved)
            observer_->CurrentCellChanged(row_, col_);
    }
}

void ResultsTable::SetRow(int32_t row)
{
    if (CheckedRow(row) == row_)
        return;
    row_ = row;
    if (observer_)
        observer_->CurrentCellChanged(row_, col_);
}

void ResultsTable::SetCol(int32_t col)
{
    CheckedCol(col);
    if (col == col_)
        return;
    col_ = col;
    if (observer_)
        observer_->CurrentCellChanged(row_, col_);
}

void ResultsTable::SetText(std::string text)
{
    cells_[row_][col_] = std::move(text);
    if (observer_)
        observer_->CellChanged(row_, col_);
}

void ResultsTable::SetColWidth(int32_t col, int32_t twips)
{
    colWidth_[CheckedCol(col)] = twips;
}

void ResultsTable::SetColAlignment(int32_t col, Alignment alignment)
{
    colAlignment_[CheckedCol(col)] = alignment;
}

void ResultsTable::SetFixedAlignment(int32_t col, Alignment alignment)
{
    fixedAlignment_[CheckedCol(col)] = alignment;
}

const std::string& ResultsTable::TextAt(int32_t row, int32_t col) const
{
    return cells_[CheckedRow(row)][CheckedCol(col)];
}

const RowFacts& ResultsTable::Facts(int32_t row) const
{
    return facts_[CheckedRow(row)];
}

void ResultsTable::SetRowBytes(int32_t row, int64_t bytes)
{
    facts_[CheckedRow(row)].bytes = bytes;
    if (observer_)
        observer_->RowFactsChanged(row);
}

void ResultsTable::SetFacts(int32_t row, RowFacts facts)
{
    facts_[CheckedRow(row)] = std::move(facts);
    if (observer_)
        observer_->RowFactsChanged(row);
}

void ResultsTable::ReorderRows(const std::vector<int32_t>& order)
{
    if (order.size() != cells_.size() || (!order.empty() && order[0] != 0))
        throw TableIndexError("a reorder must keep every row and the header first");
    std::vector<char> seen(order.size());
    for (const int32_t from : order) {
        if (seen.at(static_cast<size_t>(CheckedRow(from))))
            throw TableIndexError("row " + std::to_string(from) + " is placed twice");
        seen[static_cast<size_t>(from)] = 1;
    }
    // Moved in place, cycle by cycle: a copy of a million rows' texts and facts would double the table's memory.
    std::vector<char> placed(order.size());
    int32_t current = row_;
    for (size_t start = 0; start < order.size(); ++start) {
        if (placed[start])
            continue;
        std::array<std::string, Cols> startCells = std::move(cells_[start]);
        RowFacts startFacts = std::move(facts_[start]);
        size_t to = start;
        for (; static_cast<size_t>(order[to]) != start; to = static_cast<size_t>(order[to])) {
            cells_[to] = std::move(cells_[order[to]]);
            facts_[to] = std::move(facts_[order[to]]);
            placed[to] = 1;
        }
        cells_[to] = std::move(startCells);
        facts_[to] = std::move(startFacts);
        placed[to] = 1;
    }
    for (size_t to = 0; to < order.size(); ++to)
        if (order[to] == row_)
            current = static_cast<int32_t>(to);
    row_ = current;
    if (observer_)
        observer_->RowsReordered();
}

int64_t ResultsTable::UnreadCount() const
{
    int64_t count = 0;
    for (int32_t row = FixedRows; row < Rows(); ++row) {
        if (facts_[row].kind == RowKind::Total)
            return facts_[row].unread.count;
        count += facts_[row].unread.count;
    }
    return count;
}

ResultsTable ResultsTable::Snapshot() const
{
    ResultsTable copy(*this);
    copy.observer_ = nullptr;
    return copy;
}

int32_t ResultsTable::CheckedRow(int32_t row) const
{
    if (row < 0 || row >= Rows())
        throw TableIndexError("row " + std::to_string(row) + " is outside the table");
    return row;
}

int32_t ResultsTable::CheckedCol(int32_t col)
{
    if (col < 0 || col >= Cols)
        throw TableIndexError("column " + std::to_string(col) + " is outside the table");
    return col;
}

void InitGrid(ResultsTable& table)
{
    table.SetColWidth(0, 400);
    table.SetColWidth(1, 5000);
    table.SetColWidth(2, 900);
    table.SetFixedAlignment(0, Alignment::LeftCenter);
    table.SetColAlignment(2, Alignment::LeftCenter);
    SetCellText(table, 0, 0, "№");
    SetCellText(table, 0, 1, "ディレクトリ");
    SetCellText(table, 0, 2, "サイズ");
}

void SetCellText(ResultsTable& TgtGrid, int32_t PrmRow, int32_t PrmCol, const std::string& PrmText)
{
    TgtGrid.SetRow(PrmRow);
    TgtGrid.SetCol(PrmCol);
    TgtGrid.SetText(PrmText);
}

}  // namespace murako
