#pragma once
// Paths as text, by this platform's rules, in one file per platform that CMake chooses: their root, the
// directory above, the last name, and joins. Paths are the bytes the core holds (WTF-8 on Windows).

#include <optional>
#include <string>
#include <string_view>

namespace murako {

// What separates the names of a path when this program joins them.
char PathSeparator();
// Whether c separates the names of a path: "/"; on Windows "\" as well.
bool IsPathSeparator(char c);

// The root a path begins with, ending in a separator: "/"; on Windows "C:\", "\\server\share\", "\\?\C:\" or
// "\\?\UNC\server\share\", written with "\". Empty for a relative path.
std::string PathRoot(std::string_view path);
// The directory holding path, with no separator at its end unless it is a root; nullopt for a root and for a
// relative path of one name.
std::optional<std::string> ParentPath(std::string_view path);
// The last name of a path, separators after it left out; empty for a root.
std::string LastPathName(std::string_view path);
// directory and name with one separator between them.
std::string JoinPath(std::string_view directory, std::string_view name);

}  // namespace murako
