#pragma once
// What kind of file a name tells, by its extension, and the space each kind takes in a kept tree.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kept_tree.h"

namespace murako {

enum class TypeGroup : uint8_t { Image, Video, Audio, Document, Archive, Program, System, Other };
inline constexpr size_t TypeGroupCount = 8;

// The group's name as the program shows it: "画像", "動画", ...
const char* TypeGroupName(TypeGroup group);
// The group's colour on the map and in its legend, as 0xRRGGBB.
uint32_t TypeGroupColour(TypeGroup group);

// The extension of a file's name in lower case, without its dot, versions after it passed over ("so" of
// "libc.so.6"); empty for a name without one, or a name that only begins with a dot.
std::string ExtensionOf(std::string_view fileName);
TypeGroup TypeGroupOf(std::string_view fileName);

struct TypeSpace {
    struct Extension {
        std::string extension;  // empty: files without one
        int64_t files = 0;
        int64_t bytes = 0;
    };
    struct Group {
        TypeGroup group = TypeGroup::Other;
        int64_t files = 0;
        int64_t bytes = 0;
        std::vector<Extension> extensions;  // largest first
    };
    std::array<Group, TypeGroupCount> groups;  // in the order of TypeGroup
    // The directory's size: its files' and, on disk, the space its directories take themselves, which is
    // counted with システム under the extension DirectoriesExtension.
    int64_t total = 0;
    // Every group's count summed: the files, and on disk the directories counted under DirectoriesExtension.
    int64_t files = 0;
    double Share(int64_t bytes) const { return total > 0 ? static_cast<double>(bytes) / total : 0; }
    double CountShare(int64_t count) const { return files > 0 ? static_cast<double>(count) / files : 0; }
};
inline constexpr std::string_view DirectoriesExtension = "(ディレクトリ)";

// The space each type group and extension takes under dir, its whole subtree, as a search of dir counts it.
TypeSpace SpaceByType(const KeptDirectory& dir, SizeMeasure measure);

}  // namespace murako
