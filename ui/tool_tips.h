#pragma once

#include <QFontMetrics>
#include <QObject>
#include <QString>

class QAbstractItemView;
class QWidget;

namespace murako {

// The text with line breaks put in so that no line is wider than room pixels: after a path separator ("/",
// on Windows "\" too) where a line allows it, inside a name only where the name alone is too wide, never
// inside a character. Breaks already in the text stay.
QString WrapLines(const QString& text, const QFontMetrics& metrics, int room);

// The text wrapped to the width of the screen that widget is on, as a tooltip there draws it.
QString WrapToScreen(const QString& text, const QWidget* widget);

// Shows the tooltips of view's items wrapped to the screen, so that a long path is never cut at its edge.
void WrapItemToolTips(QAbstractItemView* view);

}  // namespace murako
