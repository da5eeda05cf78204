#pragma once

#include <QAbstractScrollArea>
#include <QTimer>

#include "results_table.h"

namespace murako {

// A read-only view of the results table: row 0 and column 0 fixed, the model's current cell highlighted.
// Change notifications only mark the view stale; one repaint per frame catches up however many rows arrived.
class ResultsGrid : public QAbstractScrollArea, private TableObserver {
public:
    static constexpr int RowHeightTwips = 240;
    static constexpr int FrameInterval = 16;  // ms, about one screen refresh

    explicit ResultsGrid(ResultsTable& table, QWidget* parent = nullptr);
    ~ResultsGrid() override;

    // Where cell (row, col) is drawn in viewport coordinates, given the current scroll position.
    QRect CellRect(int row, int col) const;
    Qt::Alignment CellAlignment(int row, int col) const;
    int TopRow() const;   // first scrollable row shown under the header
    void ScrollToRow(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void RowsChanged(int32_t rows) override;
    void CellChanged(int32_t row, int32_t col) override;
    void CurrentCellChanged(int32_t row, int32_t col) override;

    void ScheduleRepaint();
    void CatchUp();
    void UpdateScrollBars();
    int ColWidthPixels(int col) const;
    int RowHeightPixels() const;
    int FullyVisibleScrollRows() const;
    void MoveCurrentCell(int row, int col);
    int RowAt(int y) const;
    int ColAt(int x) const;

    ResultsTable& table_;
    QTimer repaintTimer_;
};

// The grid's "general" alignment: text that reads as a number goes right, anything else left.
bool ReadsAsNumber(const QString& text);

}  // namespace murako
