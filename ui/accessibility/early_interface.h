#pragma once

#include <QAccessible>

namespace murako {

// A query made while a widget was still being built caches an interface for its base class; dropping it
// lets the next query reach the factory that knows the finished widget.
template <typename Ours>
void DropEarlyInterface(QObject* object)
{
    QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(object);
    if (cached && !dynamic_cast<Ours*>(cached))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
}

}  // namespace murako
