#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "accessible_table.h"
#include "row_order.h"

namespace murako {

class ResultsGrid;

// The results grid as assistive technology sees it: a table whose rows are the model's data rows, with the
// header row as its column headers and each row's number as that row's header. Every text is read from the
// model when asked for, so nothing a reader is told can be older than the screen.
class ResultsGridAccessible : public ReadOnlyTableAccessible {
public:
    explicit ResultsGridAccessible(ResultsGrid* grid);

    // Children are every cell of the model, header row included, at index row * Cols + col.
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // The cell of model row modelRow in the column at col, created on first use and kept until its row goes.
    QAccessibleInterface* Cell(int32_t modelRow, int32_t col) const;
    // The same, of the column that shows column, wherever it stands.
    QAccessibleInterface* CellOf(int32_t modelRow, SortColumn column) const;
    // The cell's interface if a reader has been given it, else null.
    QAccessibleInterface* ExistingCell(int32_t modelRow, SortColumn column) const;
    void ForgetRowsFrom(int32_t modelRow);

    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    int selectedRowCount() const override { return 0; }
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedRows() const override { return {}; }
    bool isRowSelected(int) const override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

    // A reader may open the context menu, as Shift+F10 does, on the current cell.
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    ResultsGrid* Grid() const;
};

// Gives every results grid the table interface; the grid calls it once it is fully built.
void InstallResultsGridAccessibility(ResultsGrid* grid);

// Tells assistive technology what the grid changed: row counts and the current cell once a frame, however
// many rows a search wrote in it, and a new text at once for a cell a reader already holds.
class GridAnnouncer {
public:
    explicit GridAnnouncer(ResultsGrid& grid);

    // Until assistive technology has asked for the grid there is no one to tell anything.
    void Attach();

    void RowsChanged(int32_t rows);
    void CellChanged(int32_t row, int32_t col);
    // The catch-up once a frame: rows inserted or removed, then the current cell if it moved.
    void Flush();
    // The user moved the current cell: say so at once.
    void CurrentCellMoved();
    // The grid took the focus: the next flush names the current cell again.
    void ForgetCurrentCell();
    // The rows changed places: the next flush tells a reader to read them again.
    void RowsReordered();
    // The header's arrow moved or turned: the header cells' descriptions say so at once.
    void SortOrderChanged();

private:
    ResultsGridAccessible* Accessible() const;
    void AnnounceCurrentCell();

    ResultsGrid& grid_;
    bool attached_ = false;
    int32_t announcedRows_;
    int32_t observedRows_;
    std::vector<SortColumn> announcedColumns_;  // the optional columns' too while shown
    std::optional<int32_t> lowestAfterShrink_;  // since the last flush
    bool reordered_ = false;                    // since the last flush
    int32_t announcedRow_ = -1;
    int32_t announcedCol_ = -1;
};

}  // namespace murako
