#include "accessible_table.h"

namespace murako {

void* TableCellAccessible::interface_cast(QAccessible::InterfaceType type)
{
    return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this) : nullptr;
}

ReadOnlyTableAccessible::~ReadOnlyTableAccessible()
{
    ForgetCellsFrom(0);
}

void* ReadOnlyTableAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* ReadOnlyTableAccessible::ExistingCell(int64_t key) const
{
    const auto found = cells_.constFind(key);
    return found == cells_.cend() ? nullptr : QAccessible::accessibleInterface(*found);
}

QAccessibleInterface* ReadOnlyTableAccessible::CachedCell(int64_t key,
                                                          const std::function<QAccessibleInterface*()>& make) const
{
    if (QAccessibleInterface* existing = ExistingCell(key))
        return existing;
    QAccessibleInterface* cell = make();
    cells_.insert(key, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

void ReadOnlyTableAccessible::ForgetCellsFrom(int64_t firstKey)
{
    for (auto it = cells_.begin(); it != cells_.end();) {
        if (it.key() >= firstKey) {
            QAccessible::deleteAccessibleInterface(it.value());
            it = cells_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace murako
