#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <array>
#include <optional>
#include <map>

#include "results_grid_accessible.h"
#include "results_table.h"
#include "search_run.h"

namespace murako {

// A read-only view of the results table: row 0 and column 0 fixed, the model's current cell highlighted.
// Change notifications only mark the view stale; one repaint per frame catches up however many rows arrived.
// Each column is at least its ColWidth and widens to its widest text, the directory column giving way first;
// a directory text that still does not fit ends in "…". Dragging a header border sets a column's width.
class ResultsGrid : public QAbstractScrollArea, private TableObserver {
public:
    static constexpr int RowHeightTwips = 240;
    static constexpr int FrameInterval = 16;  // ms, about one screen refresh
    static constexpr int DirectoryMinimumTwips = 1440;
    static constexpr int TextPadding = 2;  // pixels on either side of a cell's text

    explicit ResultsGrid(ResultsTable& table, QWidget* parent = nullptr);
    ~ResultsGrid() override;

    // Where cell (row, col) is drawn in viewport coordinates, given the current scroll position.
    QRect CellRect(int row, int col) const;
    Qt::Alignment CellAlignment(int row, int col) const;
    // The cell's full text where it is shown cut short, then its notes.
    QString CellToolTip(int row, int col) const;
    // What the tooltip adds to the cell's text: the exact byte count behind a size, and on a marked row what
    // could not be read under it; one per line.
    QString CellNotes(int row, int col) const;
    int TopRow() const;   // first scrollable row shown under the header
    void ScrollToRow(int row);
    // The cell's text as drawn: a text too long for its column loses its middle to "…".
    QString ShownText(int row, int col) const;
    // The model row and column drawn at a viewport position; the column is -1 beyond the last one.
    int RowAt(int y) const;
    int ColAt(int x) const;
    const ResultsTable& Table() const { return table_; }
    GridAnnouncer& Announcer() { return announcer_; }

    // The places under row that could not be read, kept beside the table's texts: a row with any is marked
    // in its number cell and says which in its tooltip. Count 0 clears the row's mark.
    void SetUnread(int32_t row, const UnreadPlaces& unread);
    bool IsMarked(int32_t row) const { return unread_.count(row) != 0; }
    // How many places under the rows could not be read, each counted once: the total row's count is that of
    // every row above it.
    int64_t UnreadCount() const;
    // Where the mark is drawn in viewport coordinates.
    QRect MarkRect(int row) const;

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
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void RowsChanged(int32_t rows) override;
    void CellChanged(int32_t row, int32_t col) override;
    void CurrentCellChanged(int32_t row, int32_t col) override;

    void ScheduleRepaint();
    void CatchUp();
    void Relayout();
    void MeasureText(int row, int col);
    int NeededWidth(int col) const;
    int HeaderWidth(int col) const;
    int TextSpace(int col) const;
    int WholePixels(const QString& text) const;
    QString Text(int row, int col) const;
    int RowHeightPixels() const;
    int FullyVisibleScrollRows() const;
    void MoveCurrentCell(int row, int col);
    // Scrolls the least that shows cell (row, col) whole, as far as the viewport can.
    void ScrollIntoView(int row, int col);
    int BorderAt(QPoint at) const;  // the column whose right header border is under at, or -1

    ResultsTable& table_;
    QTimer repaintTimer_;
    std::array<int, ResultsTable::Cols> widths_{};      // as laid out, in pixels
    std::array<int, ResultsTable::Cols> widestText_{};  // advance of each column's widest text, in pixels
    std::array<double, 0x7F> asciiAdvances_{};          // of the grid's font, by character code
    std::array<std::optional<int>, ResultsTable::Cols> chosenWidths_;  // set by dragging, in pixels
    bool measureStale_ = true;
    bool followCurrentCell_ = false;
    int32_t measuredRows_ = 0;
    int draggedBorder_ = -1;
    GridAnnouncer announcer_;
    std::map<int32_t, UnreadPlaces> unread_;  // rows with unread places only
};

// The grid's "general" alignment: text that reads as a number goes right, anything else left.
bool ReadsAsNumber(const QString& text);

}  // namespace murako
