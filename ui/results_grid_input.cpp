// The grid's keys, mouse, context menu and tooltips.
#include "results_grid.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "tool_tips.h"

namespace murako {
namespace {

constexpr int BorderGrip = 3;  // pixels either side of a header border that start a drag

}  // namespace

void ResultsGrid::keyPressEvent(QKeyEvent* event)
{
    const int row = std::max(table_.Row(), ResultsTable::FixedRows - 1);
    const int col = table_.Col();
    const int page = FullyVisibleScrollRows();
    const bool control = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Up: MoveCurrentCell(row - 1, col, shift); break;
    case Qt::Key_Down: MoveCurrentCell(row + 1, col, shift); break;
    case Qt::Key_Left: MoveCurrentCell(row, col - 1, shift); break;
    case Qt::Key_Right: MoveCurrentCell(row, col + 1, shift); break;
    case Qt::Key_PageUp: MoveCurrentCell(row - page, col, shift); break;
    case Qt::Key_PageDown: MoveCurrentCell(row + page, col, shift); break;
    case Qt::Key_Home: control ? MoveCurrentCell(0, col, shift) : MoveCurrentCell(row, 0, shift); break;
    case Qt::Key_End:
        control ? MoveCurrentCell(table_.Rows(), col, shift) : MoveCurrentCell(row, ResultsTable::Cols, shift);
        break;
    case Qt::Key_F10: {
        if (!shift)
            return QAbstractScrollArea::keyPressEvent(event);
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos(), Qt::ShiftModifier);
        contextMenuEvent(&menu);
        break;
    }
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

void ResultsGrid::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        draggedBorder_ = BorderAt(at);
        if (draggedBorder_ >= 0) {
            event->accept();
            return;
        }
    }
    const int row = RowAt(at.y());
    const int col = ColAt(at.x());
    pressedHeader_ = event->button() == Qt::LeftButton && row < ResultsTable::FixedRows ? col : -1;
    if (event->button() == Qt::LeftButton && col >= 0 && row < table_.Rows() && !IsFixed(row, col))
        MoveCurrentCell(row, col, event->modifiers() & Qt::ShiftModifier);
    QAbstractScrollArea::mousePressEvent(event);
}

void ResultsGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int row = RowAt(at.y());
    if (event->button() == Qt::LeftButton && BorderAt(at) < 0 && ColAt(at.x()) >= 0 &&
        row >= ResultsTable::FixedRows && row < table_.Rows() && rowActivated) {
        rowActivated(row);
        event->accept();
        return;
    }
    // A quick second click on a header is a second click, which turns the order round.
    mousePressEvent(event);
}

void ResultsGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (draggedBorder_ < 0) {
        if (BorderAt(at) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Never narrower than the header's text, so that every column can still be found and dragged back.
    const int col = draggedBorder_;
    chosenWidths_[static_cast<size_t>(ColumnId(col))] = std::max(HeaderWidth(col), at.x() - CellRect(0, col).left());
    CatchUp();
    event->accept();
}

void ResultsGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && draggedBorder_ >= 0) {
        draggedBorder_ = -1;
        event->accept();
        return;
    }
    const QPoint at = event->position().toPoint();
    const int clicked = std::exchange(pressedHeader_, -1);
    if (event->button() == Qt::LeftButton && clicked >= 0 && RowAt(at.y()) < ResultsTable::FixedRows &&
        ColAt(at.x()) == clicked && headerClicked) {
        headerClicked(static_cast<int>(ColumnId(clicked)));
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void ResultsGrid::contextMenuEvent(QContextMenuEvent* event)
{
    QPoint at = viewport()->mapToGlobal(event->pos());
    if (event->reason() == QContextMenuEvent::Mouse) {
        TakeRightClick(event->pos());
    } else {
        // From the keyboard the menu opens on the current cell, as a reader expects.
        const QRect cell = CellRect(table_.Row(), table_.Col());
        at = viewport()->mapToGlobal(viewport()->rect().contains(cell.center()) ? cell.center() : QPoint(0, 0));
    }
    if (contextMenuRequested)
        contextMenuRequested(at);
    event->accept();
}

int ResultsGrid::BorderAt(QPoint at) const
{
    if (at.y() < 0 || at.y() >= RowHeightPixels() * ResultsTable::FixedRows)
        return -1;
    for (int col = Columns() - 1; col >= 0; --col) {
        const int border = CellRect(0, col).right() + 1;
        const bool hidden = col >= ResultsTable::FixedCols && border <= widths_[0];
        if (!hidden && std::abs(at.x() - border) <= BorderGrip)
            return col;
    }
    return -1;
}

bool ResultsGrid::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const int row = RowAt(help->pos().y());
    const int col = ColAt(help->pos().x());
    const QString tip = col >= 0 && row < table_.Rows() ? CellToolTip(row, col) : QString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), WrapToScreen(tip, this), viewport(), CellRect(row, col));
    return true;
}

}  // namespace murako
