#include "window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace murako {

QRect PlaceBeside(const QRect& main, QSize frame, int minimumWidth, const QRect& screen)
{
    const int rightRoom = screen.right() - main.right();
    const int leftRoom = main.left() - screen.left();
    const int width = std::min(frame.width(), std::max(rightRoom, leftRoom));
    if (width < minimumWidth)
        return {};
    const int height = std::min(frame.height(), screen.height());
    const int top = std::clamp(main.top(), screen.top(), screen.bottom() + 1 - height);
    const bool right = rightRoom >= frame.width() || (leftRoom < frame.width() && rightRoom >= leftRoom);
    const int left = right ? main.right() + 1 : main.left() - width;
    return {left, top, width, height};
}

void MoveBeside(QWidget& window, const QWidget& main)
{
    if (QGuiApplication::platformName().startsWith(QStringLiteral("wayland")) || !main.screen())
        return;
    // Before its first showing a window's frame is unknown: the main window's is the likeliest.
    const QMargins frame(main.geometry().left() - main.frameGeometry().left(),
                         main.geometry().top() - main.frameGeometry().top(),
                         main.frameGeometry().right() - main.geometry().right(),
                         main.frameGeometry().bottom() - main.geometry().bottom());
    const QSize outer = window.size().grownBy(frame);
    const int minimum = window.minimumSizeHint().width() + frame.left() + frame.right();
    const QRect placed = PlaceBeside(main.frameGeometry(), outer, minimum, main.screen()->availableGeometry());
    if (placed.isEmpty())
        return;
    window.resize(placed.size().shrunkBy(frame));
    window.move(placed.topLeft());
}

}  // namespace murako
