#include "path_text.h"

namespace murako {

char PathSeparator()
{
    return '/';
}

bool IsPathSeparator(char c)
{
    return c == '/';
}

std::string PathRoot(std::string_view path)
{
    return path.starts_with('/') ? "/" : "";
}

}  // namespace murako
