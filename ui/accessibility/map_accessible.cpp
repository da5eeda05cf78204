#include "map_accessible.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <algorithm>

#include "early_interface.h"
#include "map_view.h"

namespace murako {
namespace {

// One of the map's children, by its place in size order; it reads the map afresh whenever asked.
class MapChildAccessible final : public QAccessibleInterface {
public:
    MapChildAccessible(MapView* view, int position) : view_(view), position_(position) {}

    bool isValid() const override { return view_ && position_ < static_cast<int>(view_->Children().size()); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid() || !view_->describe)
            return {};
        return view_->describe(Item());
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect shown = view_->PixelRect(Item());
        return QRect(view_->mapToGlobal(shown.topLeft()), shown.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = state.selectable = true;
        state.selected = Item() == view_->Selected();
        state.focused = state.selected && view_->hasFocus();
        state.invisible = !view_->isVisible();
        return state;
    }

    int Position() const { return position_; }
    const MapView* View() const { return view_.data(); }

private:
    int32_t Item() const { return view_->Children()[static_cast<size_t>(position_)]; }

    QPointer<MapView> view_;
    int position_;
};

class MapAccessible final : public QAccessibleWidget {
public:
    explicit MapAccessible(MapView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~MapAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(children_))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return static_cast<int>(View()->Children().size()); }

    QAccessibleInterface* child(int position) const override
    {
        if (position < 0 || position >= childCount())
            return nullptr;
        if (const auto kept = children_.constFind(position); kept != children_.cend())
            return QAccessible::accessibleInterface(*kept);
        auto* made = new MapChildAccessible(View(), position);
        children_.insert(position, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* ours = dynamic_cast<const MapChildAccessible*>(child);
        return ours && ours->View() == View() && ours->isValid() ? ours->Position() : -1;
    }

    QAccessibleInterface* focusChild() const override
    {
        return View()->hasFocus() ? child(PositionOf(View()->Selected())) : nullptr;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int position = 0; position < childCount(); ++position)
            if (child(position)->rect().contains(x, y))
                return child(position);
        return nullptr;
    }

    int PositionOf(int32_t item) const
    {
        const std::vector<int32_t>& children = View()->Children();
        const auto at = std::find(children.begin(), children.end(), item);
        return at == children.end() ? -1 : static_cast<int>(at - children.begin());
    }

private:
    MapView* View() const { return static_cast<MapView*>(widget()); }

    mutable QHash<int, QAccessible::Id> children_;
};

QAccessibleInterface* MapFactory(const QString&, QObject* object)
{
    auto* view = dynamic_cast<MapView*>(object);
    return view ? new MapAccessible(view) : nullptr;
}

}  // namespace

void InstallMapAccessibility(MapView* view)
{
    static const bool installed = [] {
        QAccessible::installFactory(MapFactory);
        return true;
    }();
    (void)installed;
    DropEarlyInterface<MapAccessible>(view);
}

void AnnounceMapItem(MapView& view, int32_t item)
{
    if (!QAccessible::isActive())
        return;
    auto* map = dynamic_cast<MapAccessible*>(QAccessible::queryAccessibleInterface(&view));
    QAccessibleInterface* child = map ? map->child(map->PositionOf(item)) : nullptr;
    if (!child)
        return;
    QAccessibleEvent event(child, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

}  // namespace murako
