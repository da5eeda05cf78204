#pragma once

#include <QString>
#include <string>

#include "text.h"

namespace murako {

// A name or a path as a row draws it: on one line, a line break or any other control character as "�", as a
// byte that is no UTF-8 shows, so that every row keeps its height.
inline QString OneLineText(const std::string& bytes)
{
    return QString::fromStdString(OnOneLine(DisplayName(bytes)));
}

}  // namespace murako
