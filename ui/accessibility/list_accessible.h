#pragma once

#include <QPointer>

#include "accessible_table.h"

class QAbstractItemView;

namespace murako {

// A one-column item view as assistive technology sees it: a list of items that read the model when asked.
// Unlike Qt's own items these say when they cannot be used: while their owner (the list itself, or the
// combo box whose drop-down list it is) is disabled, so is every item.
class ItemListAccessible : public ReadOnlyTableAccessible {
public:
    ItemListAccessible(QAbstractItemView* view, QWidget* owner);

    QAccessible::State state() const override;

    // Children are the items, child i being row i.
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int) const override { return {}; }
    int selectedRowCount() const override { return selectedCellCount(); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedRows() const override;
    bool isRowSelected(int row) const override;
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    QAbstractItemView* View() const;

    QPointer<QWidget> owner_;
};

// Gives view an ItemListAccessible whose items follow owner's enabled state. Call once view is fully built.
void MakeItemsFollowEnabledState(QAbstractItemView* view, QWidget* owner);

}  // namespace murako
