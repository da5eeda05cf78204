// The grid's painting: cells, bars, the sort arrow and the marks of rows.
#include "results_grid.h"

#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "sort_arrow.h"
#include "twips.h"

namespace murako {
namespace {

const QColor BeyondLastRow(128, 128, 128);
const QColor OrdinaryGridLine(192, 192, 192);
const QColor FixedGridLine(0, 0, 0);
const QColor UnreadMark(208, 64, 0);
const QColor InterruptedMark(128, 128, 128);
const QColor NotEnteredMark(160, 160, 160);
const QColor Grown(176, 32, 16);
const QColor Shrunk(16, 64, 176);
constexpr int UnreadMarkTwips = 90;
constexpr int BarAlpha = 64;  // of 255: the text over a bar reads as on a plain cell
constexpr int ArrowTwips = 90;

// Paints the grid's cells as the grid lays them out and tells what each shows.
class CellPainter {
public:
    CellPainter(const ResultsGrid& grid, QPainter& painter) : grid_(grid), table_(grid.Table()), painter_(painter) {}

    struct Span {
        int first;
        int last;
    };
    void PaintCells(const QRect& clip, Span rows, Span cols)
    {
        painter_.setClipRect(clip);
        for (int row = rows.first; row <= rows.last; ++row)
            for (int col = cols.first; col <= cols.last; ++col)
                PaintCell(row, col);
    }

private:
    void PaintCell(int row, int col);
    void PaintBar(const QRect& cell, int row, bool current);
    void PaintSortArrow(int col, const QColor& colour);
    void PaintMark(int row);
    void PaintNoteMark(int row);

    const ResultsGrid& grid_;
    const ResultsTable& table_;
    QPainter& painter_;
};

void CellPainter::PaintCell(int row, int col)
{
    const QRect rect = grid_.CellRect(row, col);
    const bool fixed = ResultsGrid::IsFixed(row, col);
    const bool isCurrentCell = row == table_.Row() && col == table_.Col();
    const bool current = !fixed && (isCurrentCell || grid_.IsSelected(row));
    const QPalette::ColorRole background =
        fixed ? QPalette::Button : current ? QPalette::Highlight : QPalette::Base;
    const QPalette::ColorRole foreground =
        fixed ? QPalette::ButtonText : current ? QPalette::HighlightedText : QPalette::Text;
    const QPalette& palette = grid_.palette();
    painter_.fillRect(rect, palette.color(background));
    if (col == ResultsGrid::SizeColumn && !fixed)
        PaintBar(rect, row, current);
    // A row moved to the trash since the search stays, greyed, until the next search.
    const bool moved = !fixed && table_.Facts(row).moved;
    painter_.setPen(palette.color(moved ? QPalette::Disabled : QPalette::Active, foreground));
    // A change reads at a glance: growth red, shrinking blue.
    if (const std::optional<RowChange>& change = table_.Facts(row).change;
        grid_.ColumnId(col) == SortColumn::Change && !fixed && !current && change && change->delta != 0)
        painter_.setPen(change->delta > 0 ? Grown : Shrunk);
    painter_.drawText(grid_.TextRect(row, col), grid_.CellAlignment(row, col), grid_.ShownText(row, col));
    if (row < ResultsTable::FixedRows)
        PaintSortArrow(col, palette.color(grid_.OrderWaits() ? QPalette::Disabled : QPalette::Active, foreground));
    if (col == 0 && grid_.IsMarked(row))
        PaintMark(row);
    if (col == 0 && grid_.HasNotEnteredNote(row))
        PaintNoteMark(row);
    painter_.setPen(fixed ? FixedGridLine : OrdinaryGridLine);
    painter_.drawLine(rect.topRight(), rect.bottomRight());
    painter_.drawLine(rect.bottomLeft(), rect.bottomRight());
    // The focus shows on the current cell even when that is a header cell, as before any search.
    if (isCurrentCell && grid_.hasFocus()) {
        painter_.setPen(QPen(palette.color(foreground), 1, Qt::DotLine));
        painter_.drawRect(rect.adjusted(1, 1, -2, -2));
    }
}

void CellPainter::PaintBar(const QRect& cell, int row, bool current)
{
    if (const int bar = grid_.BarWidth(row); bar > 0) {
        QColor colour = grid_.palette().color(current ? QPalette::HighlightedText : QPalette::Highlight);
        colour.setAlpha(BarAlpha);
        painter_.fillRect(QRect(cell.left(), cell.top() + 2, bar, cell.height() - 4), colour);
    }
}

void CellPainter::PaintSortArrow(int col, const QColor& colour)
{
    const QRect arrow = grid_.SortArrowRect(col);
    if (arrow.isEmpty())
        return;
    murako::PaintSortArrow(painter_, arrow, Descending(grid_.ShownSortOrder()), colour);
}

// A corner triangle: the row's subtree had places that could not be read, or was not walked to the end.
void CellPainter::PaintMark(int row)
{
    const QRect mark = grid_.MarkRect(row);
    const QPolygon corner({mark.topLeft(), mark.topRight(), mark.bottomRight()});
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(table_.Facts(row).unread.count > 0 ? UnreadMark : InterruptedMark);
    painter_.drawPolygon(corner);
    painter_.setBrush(Qt::NoBrush);
}

// The mark's sibling in the lower corner: the row holds pseudo file systems, whose 0 is not the disk's.
void CellPainter::PaintNoteMark(int row)
{
    const QRect mark = grid_.NoteMarkRect(row);
    const QPolygon corner({mark.bottomLeft(), mark.topRight(), mark.bottomRight()});
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(NotEnteredMark);
    painter_.drawPolygon(corner);
    painter_.setBrush(Qt::NoBrush);
}

}  // namespace

void ResultsGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), BeyondLastRow);
    painter.setFont(font());

    const int fixedWidth = CellRect(0, ResultsTable::FixedCols).left() + horizontalScrollBar()->value();
    const int fixedHeight = RowHeightPixels() * ResultsTable::FixedRows;
    const int width = viewport()->width();
    const int height = viewport()->height();
    using Span = CellPainter::Span;
    const Span scrolledRows{TopRow(), std::min(table_.Rows() - 1, TopRow() + FullyVisibleScrollRows())};
    const Span fixedRows{0, ResultsTable::FixedRows - 1};
    const Span scrolledCols{ResultsTable::FixedCols, Columns() - 1};
    const Span fixedCols{0, ResultsTable::FixedCols - 1};

    // Scrolled cells first, then the fixed column, the header and the corner over them.
    CellPainter cells(*this, painter);
    painter.save();
    cells.PaintCells(QRect(fixedWidth, fixedHeight, width, height), scrolledRows, scrolledCols);
    cells.PaintCells(QRect(0, fixedHeight, fixedWidth, height), scrolledRows, fixedCols);
    cells.PaintCells(QRect(fixedWidth, 0, width, fixedHeight), fixedRows, scrolledCols);
    painter.restore();
    cells.PaintCells(QRect(0, 0, fixedWidth, fixedHeight), fixedRows, fixedCols);
}

int ResultsGrid::ArrowSize() const
{
    return TwipsToPixels(ArrowTwips, logicalDpiX());
}

QRect ResultsGrid::SortArrowRect(int col) const
{
    if (sortOrder_.column != ColumnId(col))
        return {};
    const QRect cell = CellRect(0, col);
    const QRect text = fontMetrics().boundingRect(TextRect(0, col), static_cast<int>(CellAlignment(0, col)),
                                                  ShownText(0, col));
    const int size = ArrowSize();
    return QRect(text.right() + 1 + ArrowGap, cell.center().y() - size / 2, size, size);
}

int ResultsGrid::MarkSize() const
{
    return TwipsToPixels(UnreadMarkTwips, logicalDpiX());
}

QRect ResultsGrid::MarkRect(int row) const
{
    const QRect cell = CellRect(row, 0);
    return QRect(cell.right() - MarkSize(), cell.top() + 1, MarkSize(), MarkSize());
}

QRect ResultsGrid::NoteMarkRect(int row) const
{
    const QRect cell = CellRect(row, 0);
    // Clear of the grid line on the cell's last pixel row.
    return QRect(cell.right() - MarkSize(), cell.bottom() - MarkSize(), MarkSize(), MarkSize());
}

}  // namespace murako
