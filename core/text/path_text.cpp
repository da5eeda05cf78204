#include "path_text.h"

namespace murako {
namespace {

// Where the path's names end once the separators after the last one are left out; never inside its root.
size_t EndOfNames(std::string_view path, size_t rootSize)
{
    size_t end = path.size();
    while (end > rootSize && IsPathSeparator(path[end - 1]))
        --end;
    return end;
}

// Where the last name of path begins, or npos when path is a root.
size_t StartOfLastName(std::string_view path, size_t rootSize, size_t end)
{
    if (end <= rootSize)
        return std::string_view::npos;
    size_t start = end;
    while (start > rootSize && !IsPathSeparator(path[start - 1]))
        --start;
    return start;
}

}  // namespace

std::optional<std::string> ParentPath(std::string_view path)
{
    const std::string root = PathRoot(path);
    const size_t start = StartOfLastName(path, root.size(), EndOfNames(path, root.size()));
    if (start == std::string_view::npos || start == 0)
        return std::nullopt;
    const size_t end = EndOfNames(path.substr(0, start), root.size());
    return end <= root.size() ? root : std::string(path.substr(0, end));
}

std::string LastPathName(std::string_view path)
{
    const size_t rootSize = PathRoot(path).size();
    const size_t end = EndOfNames(path, rootSize);
    const size_t start = StartOfLastName(path, rootSize, end);
    return start == std::string_view::npos ? std::string() : std::string(path.substr(start, end - start));
}

std::string JoinPath(std::string_view directory, std::string_view name)
{
    std::string joined(directory);
    if (!joined.empty() && !IsPathSeparator(joined.back()))
        joined += PathSeparator();
    return joined.append(name);
}

}  // namespace murako
