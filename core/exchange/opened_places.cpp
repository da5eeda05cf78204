#include "opened_places.h"

#include <string_view>
#include <vector>

#include "directory_handles.h"
#include "kept_json_builder.h"
#include "path_text.h"

namespace murako {

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

bool Separates(char c, char separator)
{
    return c == separator || (kWindows && c == '/');
}

// The names path holds below top, in order; false when it does not lie within top.
bool NamesBelow(std::string_view top, std::string_view path, char separator, std::vector<std::string_view>& names)
{
    while (top.size() > PathRoot(top).size() && Separates(top.back(), separator))
        top.remove_suffix(1);
    if (path.substr(0, top.size()) != top)
        return false;
    std::string_view rest = path.substr(top.size());
    if (!rest.empty() && !Separates(rest.front(), separator) && !Separates(top.back(), separator))
        return false;  // a sibling whose name begins with the top's
    while (!rest.empty()) {
        size_t end = 0;
        while (end < rest.size() && !Separates(rest[end], separator))
            ++end;
        const std::string_view name = rest.substr(0, end);
        if (name == "." || name == "..")
            return false;
        if (!name.empty())
            names.push_back(name);
        rest.remove_prefix(end == rest.size() ? end : end + 1);
    }
    return true;
}

// Opens the top as the system names it, then each name below it from the one above, following no link.
bool OpensFromTheTopDown(const std::string& top, const std::vector<std::string_view>& names)
{
    int handle = OpenDirectoryHandle(kNoAnchor, top, ReachedBy::GivenPath);
    for (const std::string_view name : names) {
        if (handle < 0)
            return false;
        const int below = OpenDirectoryHandle(handle, name, ReachedBy::Listing);
        CloseDirectoryHandle(handle);
        handle = below;
    }
    if (handle < 0)
        return false;
    CloseDirectoryHandle(handle);
    return true;
}

}  // namespace

Failure TopActsHere(const KeptTree& tree)
{
    const std::string& top = tree.BasePath();
    if (kept_json::IsWindowsPath(top) != kWindows)
        return {Reason::TopOfOtherSystem, {}, {}};
    if (PathRoot(top).empty())
        return {Reason::TopRelative, {}, {}};
    return {};
}

bool HoldsEntriesNamedAlike(const KeptTree& tree)
{
    std::vector<const KeptDirectory*> left{tree.Base()};
    while (!left.empty()) {
        const KeptDirectory* dir = left.back();
        left.pop_back();
        if (!dir)
            continue;
        if (dir->flags & KeptDirectory::HoldsDuplicateNames)
            return true;
        left.insert(left.end(), dir->Children(), dir->Children() + dir->ChildCount());
    }
    return false;
}

Failure OpenedPlaceActsHere(const KeptTree& tree, const std::string& path, char separator)
{
    if (Failure failure = TopActsHere(tree))
        return failure;
    std::vector<std::string_view> names;
    if (!tree.Base() || !NamesBelow(tree.BasePath(), path, separator, names))
        return {Reason::OutsideTop, {}, {}};
    const KeptDirectory* dir = tree.Base();
    for (const std::string_view name : names) {
        dir = dir->Child(name);
        if (!dir)
            return {Reason::OutsideTop, {}, {}};
        if (dir->flags & KeptDirectory::DuplicateName)
            return {Reason::NamedAlike, {}, {}};
    }
    if (!OpensFromTheTopDown(tree.BasePath(), names))
        return {Reason::NotHereNow, {}, {}};
    return {};
}

}  // namespace murako
