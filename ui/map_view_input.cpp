// The map's pointer and keys: hovering, clicks, the context menu, and the arrow keys through the children.
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "accessibility/map_accessible.h"
#include "map_view.h"

namespace murako {

void MapView::mouseMoveEvent(QMouseEvent* event)
{
    const int32_t item = ItemAt(event->position());
    if (item == hovered_)
        return;
    update(PixelRect(hovered_));
    hovered_ = item;
    update(PixelRect(hovered_));
    if (hovered)
        hovered(item);
}

void MapView::leaveEvent(QEvent*)
{
    update(PixelRect(hovered_));
    hovered_ = -1;
}

void MapView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int32_t item = ItemAt(event->position());
    Select(item);
    if (clicked && item >= 0)
        clicked(item);
}

void MapView::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Mouse)
        Select(ItemAt(event->pos()));
    // From the keyboard the menu is the selected item's, opening on it.
    const QRect at = PixelRect(selected_);
    if (menuAsked && selected_ >= 0)
        menuAsked(selected_, event->reason() == QContextMenuEvent::Mouse ? event->globalPos() : mapToGlobal(at.center()));
}

void MapView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int32_t item = ItemAt(event->position());
    if (doubleClicked && item >= 0 && event->button() == Qt::LeftButton)
        doubleClicked(item);
}

void MapView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    // A reader hears at once where the keys are.
    if (selected_ < 0)
        SelectLargest();
    else
        AnnounceSelected();
    update();
}

void MapView::SelectLargest()
{
    if (!Children().empty())
        Select(Children().front());
    AnnounceSelected();
}

void MapView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void MapView::keyPressEvent(QKeyEvent* event)
{
    const int children = static_cast<int>(Children().size());
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down: Step(1); break;
    case Qt::Key_Left:
    case Qt::Key_Up: Step(-1); break;
    case Qt::Key_Home: Step(-children); break;
    case Qt::Key_End: Step(children); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (doubleClicked && selected_ >= 0)
            doubleClicked(selected_);
        break;
    case Qt::Key_Backspace:
        if (goUp)
            goUp();
        break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void MapView::Step(int step)
{
    const std::vector<int32_t>& children = Children();
    if (children.empty())
        return;
    const auto at = std::find(children.begin(), children.end(), selected_);
    // An item deeper down, chosen by a click or in the largest files, steps on from the child holding it.
    auto holder = std::find_if(children.begin(), children.end(), [&](int32_t child) {
        return selected_ >= child && static_cast<uint32_t>(selected_) < std::max(items_[static_cast<size_t>(child)].end, static_cast<uint32_t>(child) + 1);
    });
    const int64_t from = at != children.end() ? at - children.begin()
                         : holder != children.end() ? holder - children.begin()
                                                    : (step > 0 ? -1 : 0);
    const int64_t to = std::clamp<int64_t>(from + step, 0, static_cast<int64_t>(children.size()) - 1);
    Select(children[static_cast<size_t>(to)]);
    if (clicked)
        clicked(selected_);
    AnnounceSelected();
}

void MapView::AnnounceSelected()
{
    if (hasFocus())
        AnnounceMapItem(*this, selected_);
}

}  // namespace murako
