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
    const Span scrolledRows{TopRow(), std::min(table_.Rows() - 1, TopRow() + FullyVisibleScrollRows())};
    const Span fixedRows{0, ResultsTable::FixedRows - 1};
    const Span scrolledCols{ResultsTable::FixedCols, Columns() - 1};
    const Span fixedCols{0, ResultsTable::FixedCols - 1};

    // Scrolled cells first, then the fixed column, the header and the corner over them.
    painter.save();
    PaintCells(painter, QRect(fixedWidth, fixedHeight, width, height), scrolledRows, scrolledCols);
    PaintCells(painter, QRect(0, fixedHeight, fixedWidth, height), scrolledRows, fixedCols);
    PaintCells(painter, QRect(fixedWidth, 0, width, fixedHeight), fixedRows, scrolledCols);
    painter.restore();
    PaintCells(painter, QRect(0, 0, fixedWidth, fixedHeight), fixedRows, fixedCols);
}

void ResultsGrid::PaintCells(QPainter& painter, const QRect& clip, Span rows, Span cols) const
{
    painter.setClipRect(clip);
    for (int row = rows.first; row <= rows.last; ++row)
        for (int col = cols.first; col <= cols.last; ++col)
            PaintCell(painter, row, col);
}

void ResultsGrid::PaintCell(QPainter& painter, int row, int col) const
{
    const QRect rect = CellRect(row, col);
    const bool fixed = IsFixed(row, col);
    const bool isCurrentCell = row == table_.Row() && col == table_.Col();
    const bool current = !fixed && (isCurrentCell || IsSelected(row));
    const QPalette::ColorRole background =
        fixed ? QPalette::Button : current ? QPalette::Highlight : QPalette::Base;
    const QPalette::ColorRole foreground =
        fixed ? QPalette::ButtonText : current ? QPalette::HighlightedText : QPalette::Text;
    painter.fillRect(rect, palette().color(background));
    if (col == SizeColumn && !fixed) {
        if (const int bar = BarWidth(row); bar > 0) {
            QColor colour = palette().color(current ? QPalette::HighlightedText : QPalette::Highlight);
            colour.setAlpha(BarAlpha);
            painter.fillRect(QRect(rect.left(), rect.top() + 2, bar, rect.height() - 4), colour);
        }
    }
    // A row moved to the trash since the search stays, greyed, until the next search.
    const bool moved = !fixed && table_.Facts(row).moved;
    painter.setPen(palette().color(moved ? QPalette::Disabled : QPalette::Active, foreground));
    // A change reads at a glance: growth red, shrinking blue.
    if (const std::optional<RowChange>& change = table_.Facts(row).change;
        ColumnId(col) == SortColumn::Change && !fixed && !current && change && change->delta != 0)
        painter.setPen(change->delta > 0 ? Grown : Shrunk);
    const QRect textRect = TextRect(row, col);
    painter.drawText(textRect, CellAlignment(row, col), ShownText(row, col));
    if (row < ResultsTable::FixedRows)
        PaintSortArrow(painter, col, palette().color(OrderWaits() ? QPalette::Disabled : QPalette::Active, foreground));
    if (col == 0 && IsMarked(row))
        PaintMark(painter, row);
    if (col == 0 && HasNotEnteredNote(row))
        PaintNoteMark(painter, row);
    painter.setPen(fixed ? FixedGridLine : OrdinaryGridLine);
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    // The focus shows on the current cell even when that is a header cell, as before any search.
    if (isCurrentCell && hasFocus()) {
        painter.setPen(QPen(palette().color(foreground), 1, Qt::DotLine));
        painter.drawRect(rect.adjusted(1, 1, -2, -2));
    }
}

void ResultsGrid::PaintSortArrow(QPainter& painter, int col, const QColor& colour) const
{
    const QRect arrow = SortArrowRect(col);
    if (arrow.isEmpty())
        return;
    murako::PaintSortArrow(painter, arrow, Descending(sortOrder_), colour);
}

// A corner triangle: the row's subtree had places that could not be read, or was not walked to the end.
void ResultsGrid::PaintMark(QPainter& painter, int row) const
{
    const QRect mark = MarkRect(row);
    const QPolygon corner({mark.topLeft(), mark.topRight(), mark.bottomRight()});
    painter.setPen(Qt::NoPen);
    painter.setBrush(table_.Facts(row).unread.count > 0 ? UnreadMark : InterruptedMark);
    painter.drawPolygon(corner);
    painter.setBrush(Qt::NoBrush);
}

// The mark's sibling in the lower corner: the row holds pseudo file systems, whose 0 is not the disk's.
void ResultsGrid::PaintNoteMark(QPainter& painter, int row) const
{
    const QRect mark = NoteMarkRect(row);
    const QPolygon corner({mark.bottomLeft(), mark.topRight(), mark.bottomRight()});
    painter.setPen(Qt::NoPen);
    painter.setBrush(NotEnteredMark);
    painter.drawPolygon(corner);
    painter.setBrush(Qt::NoBrush);
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
