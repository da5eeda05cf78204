#include "list_accessible.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

#include "early_interface.h"

namespace murako {
namespace {

constexpr char OwnerProperty[] = "murakoAccessibleOwner";

// One item of the list.
class ItemAccessible : public TableCellAccessible {
public:
    ItemAccessible(QAbstractItemView* view, QWidget* owner, int row) : TableCellAccessible(view), owner_(owner), row_(row) {}

    bool isValid() const override { return view_ && List()->model() && row_ < List()->model()->rowCount(); }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        switch (t) {
        case QAccessible::Name: {
            const QString text = Index().data(Qt::AccessibleTextRole).toString();
            return text.isEmpty() ? Index().data(Qt::DisplayRole).toString() : text;
        }
        case QAccessible::Description:
            return Index().data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect item = List()->visualRect(Index());
        return QRect(List()->viewport()->mapToGlobal(item.topLeft()), item.size());
    }

    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QModelIndex index = Index();
        const Qt::ItemFlags flags = index.flags();
        state.disabled = !(flags & Qt::ItemIsEnabled) || !List()->isEnabled() || (owner_ && !owner_->isEnabled());
        state.selectable = state.focusable = (flags & Qt::ItemIsSelectable) != 0;
        state.selected = List()->selectionModel() && List()->selectionModel()->isSelected(index);
        state.focused = List()->currentIndex() == index && List()->hasFocus();
        state.invisible = !List()->isVisible();
        state.offscreen = !List()->viewport()->rect().intersects(List()->visualRect(index));
        return state;
    }

    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return row_; }

    int Row() const { return row_; }

private:
    QAbstractItemView* List() const { return static_cast<QAbstractItemView*>(View()); }
    QModelIndex Index() const { return List()->model()->index(row_, 0, List()->rootIndex()); }

    QPointer<QWidget> owner_;
    int row_;
};

QAccessibleInterface* ItemListFactory(const QString&, QObject* object)
{
    auto* view = qobject_cast<QAbstractItemView*>(object);
    auto* owner = view ? qvariant_cast<QWidget*>(view->property(OwnerProperty)) : nullptr;
    return owner ? new ItemListAccessible(view, owner) : nullptr;
}

}  // namespace

void MakeItemsFollowEnabledState(QAbstractItemView* view, QWidget* owner)
{
    static const bool installed = [] {
        QAccessible::installFactory(ItemListFactory);
        return true;
    }();
    (void)installed;
    view->setProperty(OwnerProperty, QVariant::fromValue(owner));
    DropEarlyInterface<ItemListAccessible>(view);
}

ItemListAccessible::ItemListAccessible(QAbstractItemView* view, QWidget* owner)
    : ReadOnlyTableAccessible(view, QAccessible::List), owner_(owner)
{
}

QAbstractItemView* ItemListAccessible::View() const
{
    return static_cast<QAbstractItemView*>(widget());
}

QAccessible::State ItemListAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (owner_ && !owner_->isEnabled())
        state.disabled = true;
    return state;
}

int ItemListAccessible::childCount() const
{
    return View()->model() ? View()->model()->rowCount(View()->rootIndex()) : 0;
}

QAccessibleInterface* ItemListAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    return CachedCell(index, [&] { return new ItemAccessible(View(), owner_, index); });
}

int ItemListAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    const auto* item = dynamic_cast<const ItemAccessible*>(child);
    return item && item->View() == View() && item->isValid() ? item->Row() : -1;
}

QAccessibleInterface* ItemListAccessible::childAt(int x, int y) const
{
    const QModelIndex index = View()->indexAt(View()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface* ItemListAccessible::focusChild() const
{
    const QModelIndex current = View()->currentIndex();
    return View()->hasFocus() && current.isValid() ? child(current.row()) : nullptr;
}

QAccessibleInterface* ItemListAccessible::cellAt(int row, int column) const
{
    return column == 0 ? child(row) : nullptr;
}

int ItemListAccessible::selectedCellCount() const
{
    return static_cast<int>(selectedRows().size());
}

QList<QAccessibleInterface*> ItemListAccessible::selectedCells() const
{
    QList<QAccessibleInterface*> cells;
    for (int row : selectedRows())
        cells.append(child(row));
    return cells;
}

QList<int> ItemListAccessible::selectedRows() const
{
    QList<int> rows;
    if (QItemSelectionModel* selection = View()->selectionModel())
        for (const QModelIndex& index : selection->selectedRows())
            rows.append(index.row());
    return rows;
}

bool ItemListAccessible::isRowSelected(int row) const
{
    return selectedRows().contains(row);
}

void ItemListAccessible::modelChange(QAccessibleTableModelChangeEvent*)
{
    // Rows moved or went: a reader asks again and gets items for the rows as they are now.
    ForgetCellsFrom(0);
}

}  // namespace murako
