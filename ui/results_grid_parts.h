#pragma once
// What the grid keeps beside the table: the columns shown, the rows selected, and the largest row the bars are
// shares of.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "optional_columns.h"
#include "results_table.h"

namespace murako {

// The columns shown and where each stands: the table's, then the optional ones shown (while the rows are compared,
// or as the user chose), each named by its position on the screen (col) or by what it shows, its SortColumn.
class ColumnChoice {
public:
    explicit ColumnChoice(const ResultsTable& table) : table_(table) {}
    int Count() const;
    // What the column at col shows; one beyond every column for a col beyond the last.
    SortColumn At(int col) const;
    // Where the column stands; -1 while it is not shown.
    int Position(SortColumn column) const;
    // In their order on the screen.
    std::vector<SortColumn> Shown() const;
    // Shows or hides an optional column the user may choose; false when it already was as asked.
    bool Choose(SortColumn column, bool shown);
    bool Chosen(SortColumn column) const;
    // The text of a cell of the column that shows id, wherever it stands: the table's, or an optional column's.
    std::string Text(int row, SortColumn id) const;

private:
    bool IsShown(const OptionalColumn& optional) const;

    const ResultsTable& table_;
    std::array<bool, kOptionalColumns.size()> chosen_{};  // the optional columns the user chose to see
};

// The rows selected with Shift: a run from the row where Shift was first held to where the last move with it went.
class RowSelection {
public:
    void Clear() { ends_.reset(); }
    // The run's far end moves to row; a new run begins at from.
    void Extend(int32_t from, int32_t row);
    bool Contains(int32_t row) const;
    // Top to bottom, none beyond lastRow; empty when none is selected.
    std::vector<int32_t> Rows(int32_t lastRow) const;

private:
    struct Ends {
        int32_t anchor;
        int32_t end;
    };
    std::optional<Ends> ends_;
};

// The bars' scale: the bytes of the largest data row, followed as rows are written, found again only when a row
// that may have been the largest shrinks or goes.
class BarScale {
public:
    explicit BarScale(const ResultsTable& table) : table_(table) {}
    // The row was written again.
    void RowChanged(int32_t row);
    // Rows went, one of them perhaps the largest.
    void RowsDropped() { stale_ = true; }
    // Finds the largest again if it may have gone.
    void CatchUp();
    // The width of the row's bar in a cell that wide, in pixels: its share of the largest; none on a total row or a
    // row without a counted size.
    int Width(int32_t row, int cellWidth) const;

private:
    void Note(int32_t row);

    const ResultsTable& table_;
    int64_t largest_ = 0;
    bool stale_ = true;
};

}  // namespace murako
