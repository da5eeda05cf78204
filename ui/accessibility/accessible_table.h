#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace murako {

// A cell or an item of a view as assistive technology sees it: no children and no object of its own, a
// place in its view's table, and a text read from the view's model whenever it is asked for.
class TableCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    explicit TableCellAccessible(QWidget* view) : view_(view) {}

    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}
    void* interface_cast(QAccessible::InterfaceType type) override;

    bool isSelected() const override { return state().selected; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    QWidget* View() const { return view_.data(); }

protected:
    QPointer<QWidget> view_;
};

// A read-only table over a widget: cells are made on first use and kept, so that a reader asking twice
// gets the same cell, until the rows they stand for go. Nothing can be selected from outside.
class ReadOnlyTableAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    ReadOnlyTableAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
    ~ReadOnlyTableAccessible() override;

    void* interface_cast(QAccessible::InterfaceType type) override;

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    QList<int> selectedColumns() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    // The cell kept under key, or null when none is.
    QAccessibleInterface* ExistingCell(int64_t key) const;
    // Drops every cell whose key is at least firstKey; a reader that asks again gets new ones.
    void ForgetCellsFrom(int64_t firstKey);

protected:
    QAccessibleInterface* CachedCell(int64_t key, const std::function<QAccessibleInterface*()>& make) const;

private:
    mutable QHash<int64_t, QAccessible::Id> cells_;
};

}  // namespace murako
