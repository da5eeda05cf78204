#include "path_text.h"

#include <algorithm>

namespace murako {
namespace {

bool IsDriveAt(std::string_view path, size_t at)
{
    const char letter = at < path.size() ? static_cast<char>(path[at] | 0x20) : '\0';
    return at + 1 < path.size() && path[at + 1] == ':' && letter >= 'a' && letter <= 'z';
}

bool IsSeparatorAt(std::string_view path, size_t at)
{
    return at < path.size() && IsPathSeparator(path[at]);
}

bool IsUncAt(std::string_view path, size_t at)
{
    std::string word(path.substr(at, 3));
    std::transform(word.begin(), word.end(), word.begin(), [](char c) { return static_cast<char>(c & ~0x20); });
    return word == "UNC" && IsSeparatorAt(path, at + 3);
}

}  // namespace

char PathSeparator()
{
    return '\\';
}

bool IsPathSeparator(char c)
{
    return c == '\\' || c == '/';
}

std::string PathRoot(std::string_view path)
{
    if (IsDriveAt(path, 0))
        return std::string(path.substr(0, 2)) + '\\';
    if (!IsSeparatorAt(path, 0) || !IsSeparatorAt(path, 1))
        return "";
    std::string root = "\\\\";
    size_t at = 2;
    int names = 2;  // \\server\share\ .
    // "\\?\" and "\\.\" lead on to a drive, to UNC\server\share\ or to a volume's own name.
    if (path.size() > 3 && (path[2] == '?' || path[2] == '.') && IsSeparatorAt(path, 3)) {
        root.append(1, path[2]).append(1, '\\');
        at = 4;
        if (IsDriveAt(path, at))
            return root.append(path.substr(at, 2)).append(1, '\\');
        if (IsUncAt(path, at)) {
            root.append(path.substr(at, 3)).append(1, '\\');
            at += 4;
        } else {
            names = 1;
        }
    }
    for (int i = 0; i < names && at < path.size(); ++i) {
        const size_t end = std::min(path.find_first_of("\\/", at), path.size());
        root.append(path.substr(at, end - at)).append(1, '\\');
        at = end + 1;
    }
    return root;
}

}  // namespace murako
