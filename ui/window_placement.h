#pragma once

#include <QRect>

class QWidget;

namespace murako {

// Where a window of frame size goes beside a main window's frame on the screen's free area: right of it, else
// left of it, else on the wider side narrowed to the room there; top-aligned with the main window as far as
// the screen lets it. Empty when neither side has room for the window at its minimum width.
QRect PlaceBeside(const QRect& main, QSize frame, int minimumWidth, const QRect& screen);

// Moves window beside main on main's screen, where the platform lets a program place its windows (Wayland
// places them itself).
void MoveBeside(QWidget& window, const QWidget& main);

}  // namespace murako
