// The grid following its table: rows, facts and the current cell as they change, selection, bars and notes.
#include "results_grid.h"

#include <QLocale>
#include <QScrollBar>
#include <algorithm>

#include "row_texts.h"

namespace murako {

ResultsGrid::ResultsGrid(ResultsTable& table, QWidget* parent)
    : QAbstractScrollArea(parent), table_(table), columns_(table), bars_(table), announcer_(*this)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setInterval(FrameInterval);
    connect(&repaintTimer_, &QTimer::timeout, this, [this] { CatchUp(); });
    table_.SetObserver(this);
    Relayout();
    InstallResultsGridAccessibility(this);
}

ResultsGrid::~ResultsGrid()
{
    table_.SetObserver(nullptr);
}

void ResultsGrid::RowsChanged(int32_t rows)
{
    announcer_.RowsChanged(rows);
    // Dropped rows may have held the widest texts or the largest size: measure again at the next frame.
    if (rows < measuredRows_) {
        measureStale_ = true;
        bars_.RowsDropped();
    }
    measuredRows_ = rows;
    selection_.Clear();
    ScheduleRepaint();
}

void ResultsGrid::RowsReordered()
{
    selection_.Clear();
    announcer_.RowsReordered();
    followCurrentCell_ = true;
    ScheduleRepaint();
}

void ResultsGrid::RowFactsChanged(int32_t row)
{
    bars_.RowChanged(row);
    if (!measureStale_)
        for (const OptionalColumn& optional : kOptionalColumns)
            MeasureText(row, optional.column);
    ScheduleRepaint();
}

void ResultsGrid::CellChanged(int32_t row, int32_t col)
{
    announcer_.CellChanged(row, col);
    if (!measureStale_)
        MeasureText(row, static_cast<SortColumn>(col));
    ScheduleRepaint();
}

void ResultsGrid::CurrentCellChanged(int32_t, int32_t)
{
    // As a list shows its current item: the cell a run writes last, its total, comes into view.
    followCurrentCell_ = true;
    ScheduleRepaint();
}

void ResultsGrid::ScheduleRepaint()
{
    if (!repaintTimer_.isActive())
        repaintTimer_.start();
}

void ResultsGrid::CatchUp()
{
    Relayout();
    if (followCurrentCell_) {
        followCurrentCell_ = false;
        ScrollIntoView(table_.Row(), table_.Col());
    }
    viewport()->update();
    announcer_.Flush();
}

void ResultsGrid::SelectAllRows()
{
    MoveCurrentCell(ResultsTable::FixedRows, table_.Col());
    MoveCurrentCell(table_.Rows() - 1, table_.Col(), true);
}

int ResultsGrid::BarWidth(int32_t row) const
{
    return bars_.Width(row, widths_[SizeColumn]);
}

void ResultsGrid::ShowSortOrder(SortOrder order)
{
    if (order == sortOrder_)
        return;
    sortOrder_ = order;
    announcer_.SortOrderChanged();
    viewport()->update();
}

void ResultsGrid::SetSearching(bool searching)
{
    if (searching == searching_)
        return;
    const bool waited = OrderWaits();
    searching_ = searching;
    if (OrderWaits() != waited)
        announcer_.SortOrderChanged();
    viewport()->update();
}

bool ResultsGrid::IsMarked(int32_t row) const
{
    const RowFacts& facts = table_.Facts(row);
    return facts.unread.count > 0 || facts.interrupted;
}

bool ResultsGrid::HasNotEnteredNote(int32_t row) const
{
    // Whatever the search did not enter is marked alike: pseudo and other file systems, and what it excluded.
    const RowFacts& facts = table_.Facts(row);
    return facts.notEntered.count > 0 || facts.otherFileSystems.count > 0 || facts.baseExcluded ||
           (facts.count && facts.count->excluded > 0);
}

void ResultsGrid::MoveCurrentCell(int row, int col, bool extend)
{
    const int lastRow = table_.Rows() - 1;
    if (lastRow < ResultsTable::FixedRows)
        return;
    row = std::clamp(row, ResultsTable::FixedRows, lastRow);
    col = std::clamp(col, ResultsTable::FixedCols, ResultsTable::Cols - 1);
    if (extend)
        selection_.Extend(std::max(table_.Row(), ResultsTable::FixedRows), row);
    else
        selection_.Clear();
    GoToCell(row, col);
}

void ResultsGrid::GoToCell(int row, int col)
{
    viewport()->update();
    table_.SetRow(row);
    table_.SetCol(col);

    Relayout();  // rows may have arrived since the last frame: scroll over all of them
    ScrollIntoView(row, col);
    // Told after scrolling, so that the cell a reader hears about is the one on the screen.
    announcer_.CurrentCellMoved();
}

void ResultsGrid::TakeRightClick(QPoint at)
{
    const int row = RowAt(at.y());
    const int col = ColAt(at.x());
    if (col < 0 || row < ResultsTable::FixedRows || row >= table_.Rows())
        return;
    if (IsSelected(row))
        GoToCell(row, std::max(col, ResultsTable::FixedCols));
    else
        MoveCurrentCell(row, col);
}

void ResultsGrid::ScrollIntoView(int row, int col)
{
    // The header row and the number column never scroll out of view in their own direction.
    if (row >= ResultsTable::FixedRows) {
        const int visibleRows = FullyVisibleScrollRows();
        if (row < TopRow())
            ScrollToRow(row);
        else if (row >= TopRow() + visibleRows)
            ScrollToRow(row - visibleRows + 1);
    }
    if (col < ResultsTable::FixedCols)
        return;
    const QRect cell = CellRect(row, col);
    const int fixedWidth = widths_[0];
    if (cell.left() < fixedWidth)
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (fixedWidth - cell.left()));
    else if (cell.right() >= viewport()->width())
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + cell.right() - viewport()->width() + 1);
}

int ResultsGrid::TopRow() const
{
    return ResultsTable::FixedRows + verticalScrollBar()->value();
}

void ResultsGrid::ScrollToRow(int row)
{
    verticalScrollBar()->setValue(row - ResultsTable::FixedRows);
}

QString ResultsGrid::CellToolTip(int row, int col) const
{
    const QString text = Text(row, col);
    const QString notes = CellNotes(row, col);
    if (ShownText(row, col) == text)
        return notes;
    return notes.isEmpty() ? text : text + QLatin1Char('\n') + notes;
}

QString ResultsGrid::CellNotes(int row, int col) const
{
    if (row < ResultsTable::FixedRows)
        return SortArrowRect(col).isEmpty() ? QString() : QString::fromStdString(SortNote(sortOrder_, OrderWaits()));
    const NumberSeparators separators{QLocale().groupSeparator().toStdString(), QLocale().decimalPoint().toStdString()};
    return QString::fromStdString(murako::CellNotes(table_, row, static_cast<int32_t>(ColumnId(col)), separators));
}

void ResultsGrid::ChooseColumn(SortColumn column, bool shown)
{
    // At once, so that the next cell asked for is where it is drawn; a reader is told with the next flush.
    if (columns_.Choose(column, shown))
        CatchUp();
}

void ResultsGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void ResultsGrid::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        measureStale_ = true;
        CatchUp();
    }
}

void ResultsGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    // The window names the grid as it takes the focus; the current cell follows on the next frame.
    announcer_.ForgetCurrentCell();
    ScheduleRepaint();
}

void ResultsGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ResultsGrid::scrollContentsBy(int, int)
{
    viewport()->update();
}

}  // namespace murako
