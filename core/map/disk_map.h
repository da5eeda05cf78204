#pragma once
// The map of a kept directory: a squarified treemap, each file a rectangle whose area is its size (or, sized
// by count, every file alike), each directory a frame around its children, drawn as a flat list for painting
// and hit testing.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "file_types.h"
#include "kept_tree.h"

namespace murako {

struct MapRect {
    double x = 0, y = 0, w = 0, h = 0;
    double Area() const { return w * h; }
    bool Contains(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// What a rectangle's area tells: its size as the measure counts it, or the names it stands for (a file 1, a
// directory the names listed below it and itself, as the table's count and one).
enum class MapArea : uint8_t { Size, Entries };

enum class MapItemKind : uint8_t {
    Directory,  // its frame and name strip; its children follow it
    File,
    Rest,  // the files and directories too small to show alone, and the directory's own space
};

struct MapItem {
    MapRect rect;
    MapRect content;                     // a directory's: where its children lie
    const KeptDirectory* dir = nullptr;  // the directory itself, or the one that holds the file or the rest
    int64_t bytes = 0;
    int64_t entries = 0;  // the names it stands for: a file 1, a directory its own and those below it
    uint32_t file = 0;  // a file's place in dir's files
    uint32_t end = 0;   // one past the last item of its subtree
    uint32_t depth = 0;
    MapItemKind kind = MapItemKind::File;
    TypeGroup group = TypeGroup::Other;
    std::string_view name;  // a file's or a directory's; empty for the rest
    // The cushion's surface: height = ax x² + bx x + ay y² + by y, summed over its ancestors' ridges.
    float ax = 0, bx = 0, ay = 0, by = 0;
};

struct MapStyle {
    double minSide = 3;     // a rectangle smaller than minSide² alone joins its directory's rest
    double border = 1;      // each side of a directory's frame
    double strip = 14;      // the name strip's height, where the frame has room for it
    double ridge = 0.5;     // the cushions' first height; each level's is ridgeFall times its parent's
    double ridgeFall = 0.75;
};

// The flat grey of a directory's rest, where no colours are given.
inline constexpr uint32_t kRestColour = 0x9e9e9e;

// Lays out dir in bounds, counting sizes by measure, each area as area tells. Items follow in depth-first
// order, a directory before its children, so that the last item holding a point is the deepest.
std::vector<MapItem> LayOutMap(const KeptDirectory& dir, SizeMeasure measure, MapRect bounds,
                               const MapStyle& style = {}, MapArea area = MapArea::Size);

// The deepest item at a point; -1 when none.
int32_t MapItemAt(const std::vector<MapItem>& items, double x, double y);

// Shades the map into pixels (0xAARRGGBB rows of stride pixels), each file's rectangle in its group's colour,
// lit as a cushion; frames and name strips in a grey that darkens with the depth. Given colours (0xRRGGBB by
// item), the files and rests take theirs instead.
void ShadeMap(const std::vector<MapItem>& items, int width, int height, uint32_t* pixels, int stride,
              std::span<const uint32_t> colours = {});

}  // namespace murako
