#pragma once

#include <QtMath>

namespace murako {

constexpr int TwipsPerInch = 1440;

// Layouts are written in twips; Qt's logical DPI keeps them the same physical size on any screen.
inline int TwipsToPixels(int twips, qreal logicalDpi)
{
    return qRound(twips * logicalDpi / TwipsPerInch);
}

}  // namespace murako
