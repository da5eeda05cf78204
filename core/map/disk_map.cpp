#include "disk_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kept_counts.h"

namespace murako {

namespace {

struct Piece {
    int64_t weight;  // what its area is a share of: its bytes or its entries
    int64_t bytes;
    int64_t entries;
    MapItemKind kind;
    const KeptDirectory* child;  // a directory's
    uint32_t file;
    std::string_view name;
};

// One item still to be emitted, with the surface of its parent's cushion.
struct Pending {
    MapRect rect;
    Piece piece;
    const KeptDirectory* holder;
    uint32_t depth;
    double ax, bx, ay, by, ridge;
};

// The worst aspect ratio of a row of areas from largest to smallest summing to rowArea along side.
double WorstRatio(double largest, double smallest, double rowArea, double side)
{
    const double side2 = side * side;
    const double row2 = rowArea * rowArea;
    return std::max(side2 * largest / row2, row2 / (side2 * smallest));
}

// A directory as a piece of its parent's map: its names count with itself.
Piece DirectoryPiece(const KeptDirectory& dir, const KeptCounts& counts, MapArea area, int64_t ownName)
{
    const int64_t bytes = counts.Size(dir);
    const int64_t entries = dir.Entries() + ownName;
    return {area == MapArea::Size ? bytes : entries, bytes, entries, MapItemKind::Directory, &dir, 0, dir.Name()};
}

// The pieces of dir large enough for content, largest first, and one rest for the others and the
// directory's own space; only the pieces kept are sorted, as a small directory may hold many files.
std::vector<Piece> PiecesOf(const KeptDirectory& dir, const KeptCounts& counts, MapArea area, double contentArea,
                            double minArea)
{
    const Piece whole = DirectoryPiece(dir, counts, area, 0);
    if (whole.weight <= 0)
        return {};
    const double scale = contentArea / static_cast<double>(whole.weight);
    std::vector<Piece> pieces;
    Piece rest{whole.weight, whole.bytes, whole.entries, MapItemKind::Rest, nullptr, 0, {}};
    auto add = [&](const Piece& piece) {
        if (piece.weight <= 0 || static_cast<double>(piece.weight) * scale < minArea)
            return;
        pieces.push_back(piece);
        rest.weight -= piece.weight;
        rest.bytes -= piece.bytes;
        rest.entries -= piece.entries;
    };
    for (KeptWalk walk(dir, KeptWalk::Scope::Listing); walk.Next();) {
        if (walk.AtFile()) {
            const int64_t bytes = counts.FileSize(walk.File());
            add({area == MapArea::Size ? bytes : 1, bytes, 1, MapItemKind::File, nullptr, walk.File().index,
                 walk.File().name});
        } else if (walk.Depth() > 0) {
            add(DirectoryPiece(walk.Directory(), counts, area, 1));
        }
    }
    if (rest.weight > 0)
        pieces.push_back(rest);
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.weight > b.weight; });
    return pieces;
}

// Squarified rows over content, the last piece of each row and the last row taking what is left, so that
// the rectangles tile content whatever the rounding. Calls place(piece, rect) for each piece.
template <typename Place>
void Squarify(const std::vector<Piece>& pieces, MapRect content, Place&& place)
{
    double remaining = 0;
    for (const Piece& piece : pieces)
        remaining += static_cast<double>(piece.weight);
    MapRect free = content;
    size_t first = 0;
    while (first < pieces.size()) {
        const double scale = free.Area() / remaining;
        const double side = std::min(free.w, free.h);
        double rowWeight = 0;
        double worst = std::numeric_limits<double>::infinity();
        size_t end = first;
        while (end < pieces.size()) {
            const double withNext = rowWeight + static_cast<double>(pieces[end].weight);
            const double ratio = WorstRatio(static_cast<double>(pieces[first].weight) * scale,
                                            static_cast<double>(pieces[end].weight) * scale, withNext * scale, side);
            if (end > first && ratio > worst)
                break;
            rowWeight = withNext;
            worst = ratio;
            ++end;
        }
        const bool lastRow = end == pieces.size();
        const bool column = free.w >= free.h;  // the row lies along the shorter side
        const double thickness = lastRow ? (column ? free.w : free.h) : (column ? free.w : free.h) * rowWeight / remaining;
        double along = column ? free.y : free.x;
        const double length = column ? free.h : free.w;
        const double stop = along + length;
        for (size_t i = first; i < end; ++i) {
            const double span = i + 1 == end ? stop - along : length * static_cast<double>(pieces[i].weight) / rowWeight;
            place(pieces[i], column ? MapRect{free.x, along, thickness, span} : MapRect{along, free.y, span, thickness});
            along += span;
        }
        if (column) {
            free.x += thickness;
            free.w -= thickness;
        } else {
            free.y += thickness;
            free.h -= thickness;
        }
        remaining -= rowWeight;
        first = end;
    }
}

// A directory's frame and name strip, where there is room for them.
MapRect ContentOf(const MapRect& rect, const MapStyle& style)
{
    MapRect content = rect;
    if (rect.w < 2 * style.border + style.minSide || rect.h < 2 * style.border + style.minSide)
        return content;
    content = {rect.x + style.border, rect.y + style.border, rect.w - 2 * style.border, rect.h - 2 * style.border};
    if (content.h >= 3 * style.strip && content.w >= 3 * style.strip) {
        content.y += style.strip;
        content.h -= style.strip;
    }
    return content;
}

void AddRidges(MapItem& item, const Pending& pending)
{
    const MapRect& r = item.rect;
    item.ax = pending.ax;
    item.bx = pending.bx;
    item.ay = pending.ay;
    item.by = pending.by;
    if (r.w > 0) {
        item.ax -= 4 * pending.ridge / r.w;
        item.bx += 4 * pending.ridge * (2 * r.x + r.w) / r.w;
    }
    if (r.h > 0) {
        item.ay -= 4 * pending.ridge / r.h;
        item.by += 4 * pending.ridge * (2 * r.y + r.h) / r.h;
    }
}

// Each item's subtree ends where the next item no deeper than it begins.
void EndSubtrees(std::vector<MapItem>& items)
{
    std::vector<uint32_t> open;
    for (uint32_t i = 0; i < items.size(); ++i) {
        while (!open.empty() && items[open.back()].depth >= items[i].depth) {
            items[open.back()].end = i;
            open.pop_back();
        }
        open.push_back(i);
    }
    for (uint32_t i : open)
        items[i].end = static_cast<uint32_t>(items.size());
}

}  // namespace

std::vector<MapItem> LayOutMap(const KeptDirectory& dir, SizeMeasure measure, MapRect bounds, const MapStyle& style,
                               MapArea area)
{
    std::vector<MapItem> items;
    if (bounds.w <= 0 || bounds.h <= 0)
        return items;
    const double minArea = style.minSide * style.minSide;
    const KeptCounts counts(dir, measure);
    std::vector<Pending> pending{{bounds,
                                  DirectoryPiece(dir, counts, area, 0),
                                  dir.parent,
                                  0,
                                  0, 0, 0, 0, style.ridge}};
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        MapItem item;
        item.rect = next.rect;
        item.content = next.rect;
        item.bytes = next.piece.bytes;
        item.entries = next.piece.entries;
        item.depth = next.depth;
        item.kind = next.piece.kind;
        item.name = next.piece.name;
        item.file = next.piece.file;
        item.dir = next.piece.kind == MapItemKind::Directory ? next.piece.child : next.holder;
        if (item.kind == MapItemKind::File)
            item.group = TypeGroupOf(item.name);
        AddRidges(item, next);
        if (item.kind == MapItemKind::Directory) {
            // The base fills the whole map; the directories below it have frames.
            if (next.depth > 0)
                item.content = ContentOf(next.rect, style);
            const size_t firstChild = pending.size();
            if (item.content.Area() >= minArea && (next.depth == 0 || item.content.Area() < item.rect.Area()))
                Squarify(PiecesOf(*item.dir, counts, area, item.content.Area(), minArea), item.content,
                         [&](const Piece& piece, const MapRect& rect) {
                             pending.push_back({rect, piece, item.dir, next.depth + 1, item.ax, item.bx, item.ay,
                                                item.by, next.ridge * style.ridgeFall});
                         });
            std::reverse(pending.begin() + static_cast<ptrdiff_t>(firstChild), pending.end());
        }
        items.push_back(item);
    }
    EndSubtrees(items);
    return items;
}

int32_t MapItemAt(const std::vector<MapItem>& items, double x, double y)
{
    if (items.empty() || !items[0].rect.Contains(x, y))
        return -1;
    uint32_t at = 0;
    for (uint32_t i = 1; i < items[at].end;) {
        if (items[i].rect.Contains(x, y)) {
            at = i++;
        } else {
            i = items[i].end;
        }
    }
    return static_cast<int32_t>(at);
}

namespace {

struct PixelSpan {
    int x0, y0, x1, y1;
};

PixelSpan PixelsOf(const MapRect& rect, int width, int height)
{
    auto clampTo = [](double value, int limit) { return std::clamp(static_cast<int>(std::lround(value)), 0, limit); };
    return {clampTo(rect.x, width), clampTo(rect.y, height), clampTo(rect.x + rect.w, width),
            clampTo(rect.y + rect.h, height)};
}

void Fill(uint32_t* pixels, int stride, int x0, int y0, int x1, int y1, uint32_t colour)
{
    for (int y = y0; y < y1; ++y)
        std::fill(pixels + static_cast<ptrdiff_t>(y) * stride + x0, pixels + static_cast<ptrdiff_t>(y) * stride + x1,
                  colour);
}

}  // namespace

void ShadeMap(const std::vector<MapItem>& items, int width, int height, uint32_t* pixels, int stride,
              std::span<const uint32_t> colours)
{
    // Light from the upper left, mostly from the front.
    const double lx = 0.09759, ly = 0.19518, lz = 0.97590;
    const double ambient = 0.4, spot = 0.6;
    for (const MapItem& item : items) {
        const PixelSpan span = PixelsOf(item.rect, width, height);
        if (item.kind == MapItemKind::Directory) {
            const int shade = std::max(80, 200 - 12 * static_cast<int>(item.depth));
            const uint32_t grey = 0xff000000u | static_cast<uint32_t>(shade) * 0x010101u;
            const PixelSpan inner = PixelsOf(item.content, width, height);
            const bool laidOut = item.end > 0 && &item - items.data() + 1 < static_cast<ptrdiff_t>(item.end);
            if (!laidOut || item.depth == 0) {
                if (!laidOut)
                    Fill(pixels, stride, span.x0, span.y0, span.x1, span.y1, grey);
                continue;
            }
            Fill(pixels, stride, span.x0, span.y0, span.x1, inner.y0, grey);
            Fill(pixels, stride, span.x0, inner.y0, inner.x0, inner.y1, grey);
            Fill(pixels, stride, inner.x1, inner.y0, span.x1, inner.y1, grey);
            Fill(pixels, stride, span.x0, inner.y1, span.x1, span.y1, grey);
            continue;
        }
        // The rest is flat, so that it does not read as a file.
        const bool rest = item.kind == MapItemKind::Rest;
        const uint32_t colour = !colours.empty() ? colours[static_cast<size_t>(&item - items.data())]
                                : rest           ? kRestColour
                                                 : TypeGroupColour(item.group);
        const double red = (colour >> 16) & 0xff, green = (colour >> 8) & 0xff, blue = colour & 0xff;
        for (int y = span.y0; y < span.y1; ++y) {
            const double ny = -(2 * item.ay * (y + 0.5) + item.by);
            uint32_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
            for (int x = span.x0; x < span.x1; ++x) {
                const double nx = -(2 * item.ax * (x + 0.5) + item.bx);
                const double cosine = rest ? lz : (nx * lx + ny * ly + lz) / std::sqrt(nx * nx + ny * ny + 1);
                const double light = ambient + spot * std::max(0.0, cosine);
                row[x] = 0xff000000u | static_cast<uint32_t>(std::min(255.0, red * light)) << 16 |
                         static_cast<uint32_t>(std::min(255.0, green * light)) << 8 |
                         static_cast<uint32_t>(std::min(255.0, blue * light));
            }
        }
    }
}

}  // namespace murako
