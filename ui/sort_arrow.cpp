#include "sort_arrow.h"

#include <QPainter>
#include <QStyleOptionHeader>
#include <algorithm>

namespace murako {

void PaintSortArrow(QPainter& painter, const QRect& arrow, bool descending, const QColor& colour)
{
    const QPolygon triangle = descending
        ? QPolygon({arrow.topLeft(), arrow.topRight(), QPoint(arrow.center().x(), arrow.bottom())})
        : QPolygon({arrow.bottomLeft(), arrow.bottomRight(), QPoint(arrow.center().x(), arrow.top())});
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPolygon(triangle);
    painter.restore();
}

void SortArrowStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const
{
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (element != PE_IndicatorHeaderArrow || !header || header->sortIndicator == QStyleOptionHeader::None)
        return QProxyStyle::drawPrimitive(element, option, painter, widget);
    // A header view marks a descending order SortUp.
    const int side = std::min(option->rect.width(), option->rect.height()) * 2 / 3;
    QRect arrow(0, 0, side, side * 2 / 3);
    arrow.moveCenter(option->rect.center());
    PaintSortArrow(*painter, arrow, header->sortIndicator == QStyleOptionHeader::SortUp,
                   option->palette.color(QPalette::ButtonText));
}

}  // namespace murako
