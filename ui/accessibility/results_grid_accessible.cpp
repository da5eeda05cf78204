#include "results_grid_accessible.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>

#include "early_interface.h"
#include "results_grid.h"

namespace murako {
namespace {

// A cell's key is its column's identity, not its place, so that it stays the same as optional columns come and
// go before it.
int64_t CellKey(int32_t modelRow, SortColumn column)
{
    return static_cast<int64_t>(modelRow) * AllColumns + static_cast<int32_t>(column);
}

bool IsHeaderRow(int32_t modelRow)
{
    return modelRow < ResultsTable::FixedRows;
}

// One cell of the grid, of the column that shows column wherever it stands.
class GridCellAccessible : public TableCellAccessible {
public:
    GridCellAccessible(ResultsGrid* grid, int32_t modelRow, SortColumn column)
        : TableCellAccessible(grid), row_(modelRow), column_(column)
    {
    }

    bool isValid() const override { return view_ && row_ < Grid()->Table().Rows() && Col() >= 0; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        const QString name = QString::fromStdString(Grid()->CellText(row_, Col()));
        if (t == QAccessible::Name)
            return name;
        if (t != QAccessible::Description)
            return {};
        // The name is read in full, so only what the tooltip adds to it, such as a size's exact byte count.
        return Grid()->CellNotes(row_, Col());
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect cell = Grid()->CellRect(row_, Col());
        return QRect(Grid()->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    QAccessible::Role role() const override
    {
        return IsHeaderRow(row_) ? QAccessible::ColumnHeader : QAccessible::Cell;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const ResultsTable& table = Grid()->Table();
        const bool fixed = row_ < ResultsTable::FixedRows || Col() < ResultsTable::FixedCols;
        const bool current = row_ == table.Row() && Col() == table.Col();
        state.disabled = !Grid()->isEnabled();
        state.focusable = true;
        state.selectable = !fixed;
        state.selected = current && !fixed;
        state.focused = current && Grid()->hasFocus();
        state.readOnly = true;
        state.invisible = !Grid()->isVisible();
        state.offscreen = !Grid()->viewport()->rect().intersects(Grid()->CellRect(row_, Col()));
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        // Header cells are headers, not cells of the table's rows, as in Qt's own tables.
        return IsHeaderRow(row_) ? nullptr : TableCellAccessible::interface_cast(type);
    }

    QList<QAccessibleInterface*> columnHeaderCells() const override { return {Table()->CellOf(0, column_)}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override
    {
        if (Col() < ResultsTable::FixedCols)
            return {};
        return {Table()->Cell(row_, 0)};
    }
    int columnIndex() const override { return Col(); }
    int rowIndex() const override { return row_ - ResultsTable::FixedRows; }

    ResultsGrid* Grid() const { return static_cast<ResultsGrid*>(View()); }
    int32_t Row() const { return row_; }
    // Where its column stands now; -1 while it is hidden.
    int32_t Col() const { return view_ ? Grid()->ColumnOf(column_) : -1; }

private:
    ResultsGridAccessible* Table() const { return static_cast<ResultsGridAccessible*>(parent()); }

    int32_t row_;
    SortColumn column_;
};

QAccessibleInterface* ResultsGridFactory(const QString&, QObject* object)
{
    auto* grid = dynamic_cast<ResultsGrid*>(object);
    if (!grid)
        return nullptr;
    auto* accessible = new ResultsGridAccessible(grid);
    grid->Announcer().Attach();
    return accessible;
}

}  // namespace

void InstallResultsGridAccessibility(ResultsGrid* grid)
{
    static const bool installed = [] {
        QAccessible::installFactory(ResultsGridFactory);
        return true;
    }();
    (void)installed;
    DropEarlyInterface<ResultsGridAccessible>(grid);
}

ResultsGridAccessible::ResultsGridAccessible(ResultsGrid* grid) : ReadOnlyTableAccessible(grid, QAccessible::Table) {}

ResultsGrid* ResultsGridAccessible::Grid() const
{
    return static_cast<ResultsGrid*>(widget());
}

int ResultsGridAccessible::childCount() const
{
    return Grid()->Table().Rows() * Grid()->Columns();
}

QAccessibleInterface* ResultsGridAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    return Cell(index / Grid()->Columns(), index % Grid()->Columns());
}

int ResultsGridAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    const auto* cell = dynamic_cast<const GridCellAccessible*>(child);
    if (!cell || cell->Grid() != Grid() || !cell->isValid())
        return -1;
    return cell->Row() * Grid()->Columns() + cell->Col();
}

QAccessibleInterface* ResultsGridAccessible::childAt(int x, int y) const
{
    const QPoint at = Grid()->viewport()->mapFromGlobal(QPoint(x, y));
    if (!Grid()->viewport()->rect().contains(at))
        return nullptr;
    const int row = Grid()->RowAt(at.y());
    const int col = Grid()->ColAt(at.x());
    if (col < 0 || row >= Grid()->Table().Rows())
        return nullptr;
    return Cell(row, col);
}

QAccessibleInterface* ResultsGridAccessible::focusChild() const
{
    if (!Grid()->hasFocus())
        return nullptr;
    return Cell(Grid()->Table().Row(), Grid()->Table().Col());
}

QAccessibleInterface* ResultsGridAccessible::Cell(int32_t modelRow, int32_t col) const
{
    return CellOf(modelRow, Grid()->ColumnId(col));
}

QAccessibleInterface* ResultsGridAccessible::CellOf(int32_t modelRow, SortColumn column) const
{
    return CachedCell(CellKey(modelRow, column), [&] { return new GridCellAccessible(Grid(), modelRow, column); });
}

QAccessibleInterface* ResultsGridAccessible::ExistingCell(int32_t modelRow, SortColumn column) const
{
    return ReadOnlyTableAccessible::ExistingCell(CellKey(modelRow, column));
}

void ResultsGridAccessible::ForgetRowsFrom(int32_t modelRow)
{
    ForgetCellsFrom(CellKey(modelRow, SortColumn::Number));
}

QAccessibleInterface* ResultsGridAccessible::cellAt(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return nullptr;
    return Cell(row + ResultsTable::FixedRows, column);
}

int ResultsGridAccessible::selectedCellCount() const
{
    return static_cast<int>(selectedCells().size());
}

QList<QAccessibleInterface*> ResultsGridAccessible::selectedCells() const
{
    const ResultsTable& table = Grid()->Table();
    if (table.Row() < ResultsTable::FixedRows || table.Col() < ResultsTable::FixedCols)
        return {};
    return {Cell(table.Row(), table.Col())};
}

QString ResultsGridAccessible::columnDescription(int column) const
{
    if (column < 0 || column >= columnCount())
        return {};
    return QString::fromStdString(Grid()->CellText(0, column));
}

int ResultsGridAccessible::columnCount() const
{
    return Grid()->Columns();
}

int ResultsGridAccessible::rowCount() const
{
    return Grid()->Table().Rows() - ResultsTable::FixedRows;
}

void ResultsGridAccessible::modelChange(QAccessibleTableModelChangeEvent*)
{
    // Nothing to do: the announcer has forgotten the cells of removed rows before it tells of them.
}

QStringList ResultsGridAccessible::actionNames() const
{
    return ReadOnlyTableAccessible::actionNames() << showMenuAction();
}

void ResultsGridAccessible::doAction(const QString& actionName)
{
    if (actionName != showMenuAction())
        return ReadOnlyTableAccessible::doAction(actionName);
    // Posted: the menu runs a loop of its own, which the reader's call must not wait for.
    QCoreApplication::postEvent(Grid(), new QContextMenuEvent(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos()));
}

GridAnnouncer::GridAnnouncer(ResultsGrid& grid)
    : grid_(grid),
      announcedRows_(grid.Table().Rows()),
      observedRows_(announcedRows_),
      announcedColumns_(grid.ShownColumns())
{
}

void GridAnnouncer::Attach()
{
    attached_ = true;
}

ResultsGridAccessible* GridAnnouncer::Accessible() const
{
    if (!attached_)
        return nullptr;
    return dynamic_cast<ResultsGridAccessible*>(QAccessible::queryAccessibleInterface(&grid_));
}

void GridAnnouncer::RowsChanged(int32_t rows)
{
    // Rows that went may have been read between two frames, even if they were never announced.
    if (rows < observedRows_)
        lowestAfterShrink_ = std::min(lowestAfterShrink_.value_or(rows), rows);
    observedRows_ = rows;
}

void GridAnnouncer::CellChanged(int32_t row, int32_t col)
{
    ResultsGridAccessible* accessible = Accessible();
    const auto column = static_cast<SortColumn>(col);  // one of the table's own, where both name it alike
    if (QAccessibleInterface* cell = accessible ? accessible->ExistingCell(row, column) : nullptr) {
        QAccessibleEvent event(cell, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void GridAnnouncer::Flush()
{
    const int32_t rows = grid_.Table().Rows();
    // Reordered rows are rows whose every cell changed: a reset from the first data row, as for a shrink, or
    // for a column come or gone.
    std::vector<SortColumn> columns = grid_.ShownColumns();
    const bool columnsChanged = columns != announcedColumns_;
    const std::optional<int32_t> lowest =
        reordered_ || columnsChanged ? std::optional<int32_t>(ResultsTable::FixedRows) : lowestAfterShrink_;
    announcedColumns_ = std::move(columns);
    const int32_t announced = announcedRows_;
    lowestAfterShrink_.reset();
    reordered_ = false;
    announcedRows_ = rows;
    ResultsGridAccessible* accessible = Accessible();
    if (!accessible)
        return;
    // Table rows are the model's rows after the header row.
    auto announce = [&](QAccessibleTableModelChangeEvent::ModelChangeType type, int32_t first, int32_t last) {
        QAccessibleTableModelChangeEvent event(accessible, type);
        event.setFirstRow(first - ResultsTable::FixedRows);
        event.setLastRow(last - ResultsTable::FixedRows);
        QAccessible::updateAccessibility(&event);
    };
    if (lowest)
        accessible->ForgetRowsFrom(*lowest);
    if (lowest && (rows > *lowest || rows >= announced))
        announce(QAccessibleTableModelChangeEvent::ModelReset, ResultsTable::FixedRows, rows - 1);
    else if (lowest)
        announce(QAccessibleTableModelChangeEvent::RowsRemoved, rows, announced - 1);
    else if (rows > announced)
        announce(QAccessibleTableModelChangeEvent::RowsInserted, announced, rows - 1);

    CurrentCellMoved();
}

void GridAnnouncer::CurrentCellMoved()
{
    if (grid_.Table().Row() != announcedRow_ || grid_.Table().Col() != announcedCol_)
        AnnounceCurrentCell();
}

void GridAnnouncer::RowsReordered()
{
    reordered_ = true;
}

void GridAnnouncer::SortOrderChanged()
{
    ResultsGridAccessible* accessible = Accessible();
    if (!accessible)
        return;
    for (int32_t col = 0; col < grid_.Columns(); ++col) {
        QAccessibleEvent event(accessible->Cell(0, col), QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void GridAnnouncer::ForgetCurrentCell()
{
    announcedRow_ = announcedCol_ = -1;
}

void GridAnnouncer::AnnounceCurrentCell()
{
    if (!grid_.hasFocus())
        return;
    ResultsGridAccessible* accessible = Accessible();
    if (!accessible)
        return;
    announcedRow_ = grid_.Table().Row();
    announcedCol_ = grid_.Table().Col();
    QAccessibleEvent event(accessible->Cell(announcedRow_, announcedCol_), QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

}  // namespace murako
