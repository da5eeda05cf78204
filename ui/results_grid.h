#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "accessibility/results_grid_accessible.h"
#include "optional_columns.h"
#include "results_grid_parts.h"
#include "results_table.h"
#include "row_order.h"

namespace murako {

// A read-only view of the results table: row 0 and column 0 fixed, the model's current cell highlighted.
// Change notifications only mark the view stale; one repaint per frame catches up however many rows arrived.
// Each column is at least its ColWidth and widens to its widest text, the directory column giving way first;
// a directory text that still does not fit ends in "…". Dragging a header border sets a column's width; a click on
// a header cell asks for the rows in that column's order, and the sorted column's header shows an arrow. Each
// data row's size cell has a bar behind its text: the row's share of the largest row. Shift with the arrow keys
// or a click selects a run of rows. After the size stand the optional columns (optional_columns.h) that are shown:
// while the rows are compared with an older search each row's change, and those the user chose; each orders the
// rows as the others do. The grid names a column by its position on the screen (col) or by what it shows, its
// SortColumn, which stays the same wherever it stands.
class ResultsGrid : public QAbstractScrollArea, private TableObserver {
public:
    static constexpr int RowHeightTwips = 240;
    static constexpr int FrameInterval = 16;  // ms, about one screen refresh
    static constexpr int DirectoryMinimumTwips = 1440;
    static constexpr int TextPadding = 2;  // pixels on either side of a cell's text
    static constexpr int SizeColumn = 2;

    explicit ResultsGrid(ResultsTable& table, QWidget* parent = nullptr);
    ~ResultsGrid() override;

    // Where cell (row, col) is drawn in viewport coordinates, given the current scroll position.
    QRect CellRect(int row, int col) const;
    // The columns shown, as ColumnChoice tells them; one chosen stays for as long as the grid lives.
    int Columns() const { return columns_.Count(); }
    SortColumn ColumnId(int col) const { return columns_.At(col); }
    int ColumnOf(SortColumn column) const { return columns_.Position(column); }
    std::vector<SortColumn> ShownColumns() const { return columns_.Shown(); }
    void ChooseColumn(SortColumn column, bool shown);
    bool ColumnChosen(SortColumn column) const { return columns_.Chosen(column); }
    // The table's text of a cell, or an optional column's.
    std::string CellText(int row, int col) const;
    Qt::Alignment CellAlignment(int row, int col) const;
    // The cell's full text where it is shown cut short, then its notes.
    QString CellToolTip(int row, int col) const;
    // What the tooltip adds to the cell's text: the exact byte count behind a size, and on a marked row what
    // could not be read under it; one per line.
    QString CellNotes(int row, int col) const;
    int TopRow() const;   // first scrollable row shown under the header
    // Whether changes of the table wait for the next frame to be laid out and painted.
    bool CatchingUp() const { return repaintTimer_.isActive(); }
    void ScrollToRow(int row);
    // The cell's text as drawn: a text too long for its column loses its middle to "…".
    QString ShownText(int row, int col) const;
    // The model row and column drawn at a viewport position; the column is -1 beyond the last one.
    int RowAt(int y) const;
    int ColAt(int x) const;
    const ResultsTable& Table() const { return table_; }
    GridAnnouncer& Announcer() { return announcer_; }

    // The order whose arrow the header of its column shows, the listing order's on №.
    void ShowSortOrder(SortOrder order);
    SortOrder ShownSortOrder() const { return sortOrder_; }
    // While a search runs its rows come in listing order: the arrow of any other order is greyed until it ends.
    void SetSearching(bool searching);
    bool OrderWaits() const { return searching_ && sortOrder_ != SortOrder{}; }
    // Where the arrow is drawn in viewport coordinates; empty when the column shows none.
    QRect SortArrowRect(int col) const;

    // The width of the bar behind a row's size cell in pixels: its share of the largest row shown; none on a
    // total row or a row without a counted size.
    int BarWidth(int32_t row) const;

    // The rows selected with Shift, top to bottom; empty when only the current cell is.
    std::vector<int32_t> SelectedRows() const { return selection_.Rows(table_.Rows() - 1); }
    bool IsSelected(int32_t row) const { return selection_.Contains(row); }
    // Selects every data row, the total's too, and leaves the current cell on the last.
    void SelectAllRows();

    // Told of a click on a header cell (by what its column shows, a SortColumn's value), of a double click on a
    // data row (by its row), and of a request for the context menu (where it should open, in global coordinates).
    std::function<void(int col)> headerClicked;
    std::function<void(int32_t row)> rowActivated;
    std::function<void(QPoint at)> contextMenuRequested;

    // A row with places under it that could not be read, or whose walk a cancel cut short, is marked in its
    // number cell, and its tooltip says why.
    bool IsMarked(int32_t row) const;
    // Where the mark is drawn in viewport coordinates.
    QRect MarkRect(int row) const;
    // A row with pseudo file systems under it, never entered and so counted 0, has a grey note in the lower
    // corner of its number cell, and its tooltip names them.
    bool HasNotEnteredNote(int32_t row) const;
    QRect NoteMarkRect(int row) const;

    static bool IsFixed(int row, int col);
    QRect TextRect(int row, int col) const;  // where a cell's text goes, in viewport coordinates
    int RowHeightPixels() const;
    int FullyVisibleScrollRows() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void RowsChanged(int32_t rows) override;
    void CellChanged(int32_t row, int32_t col) override;
    void CurrentCellChanged(int32_t row, int32_t col) override;
    void RowFactsChanged(int32_t row) override;
    void RowsReordered() override;

    static constexpr int ArrowGap = 3;  // pixels between a header's text and its arrow

    void ScheduleRepaint();
    void CatchUp();
    void Relayout();
    void MeasureAll();
    void LayOutColumns();
    void SetScrollRanges();
    void MeasureText(int row, SortColumn id);
    int NeededWidth(int col) const;
    int HeaderWidth(int col) const;
    int TextSpace(int col) const;
    int MarkSize() const;
    int MarkRoom(int col) const;
    int WholePixels(const QString& text) const;
    QString Text(int row, int col) const;
    // Moves the current cell; with extend, the selection runs from where it began to the new row, else it goes.
    void MoveCurrentCell(int row, int col, bool extend = false);
    // Moves the current cell and scrolls it into view, leaving the selection as it is.
    void GoToCell(int row, int col);
    // A right click acts on the row clicked, as in any table: it becomes current, and unless it is one of the
    // rows selected, the only one selected.
    void TakeRightClick(QPoint at);
    int ArrowSize() const;
    // Scrolls the least that shows cell (row, col) whole, as far as the viewport can.
    void ScrollIntoView(int row, int col);
    int BorderAt(QPoint at) const;  // the column whose right header border is under at, or -1

    ResultsTable& table_;
    QTimer repaintTimer_;
    std::array<int, AllColumns> widths_{};      // as laid out, in pixels, by position
    std::array<int, AllColumns> widestText_{};  // advance of each column's widest text, in pixels, by SortColumn
    std::array<double, 0x7F> asciiAdvances_{};  // of the grid's font, by character code
    std::array<std::optional<int>, AllColumns> chosenWidths_;  // set by dragging, in pixels, by SortColumn
    bool measureStale_ = true;
    bool followCurrentCell_ = false;
    int32_t measuredRows_ = 0;
    int draggedBorder_ = -1;
    int pressedHeader_ = -1;
    SortOrder sortOrder_;
    bool searching_ = false;
    ColumnChoice columns_;
    BarScale bars_;
    RowSelection selection_;
    GridAnnouncer announcer_;
};

// The grid's "general" alignment: text that reads as a number goes right, anything else left.
bool ReadsAsNumber(const QString& text);

}  // namespace murako
