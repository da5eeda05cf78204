#pragma once

#include <QProxyStyle>

class QColor;
class QPainter;

namespace murako {

// The arrow of the column that orders a table's rows: ▼ for an order that falls down the table (largest
// first), ▲ for one that rises, filling arrow.
void PaintSortArrow(QPainter& painter, const QRect& arrow, bool descending, const QColor& colour);

// A header drawing that arrow whatever the style, some of which point it the other way.
class SortArrowStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

}  // namespace murako
