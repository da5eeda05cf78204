#include "growth_colours.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <optional>
#include <unordered_map>

#include "kept_counts.h"

namespace murako {

namespace {

constexpr uint32_t kGrowthColour = 0xd03020;
constexpr uint32_t kShrinkColour = 0x2060d0;

uint32_t Blend(uint32_t from, uint32_t to, double share)
{
    uint32_t colour = 0;
    for (int shift : {16, 8, 0}) {
        const double a = (from >> shift) & 0xff, b = (to >> shift) & 0xff;
        colour |= static_cast<uint32_t>(std::lround(a + (b - a) * share)) << shift;
    }
    return colour;
}

uint32_t GrowthColour(int64_t now, int64_t before)
{
    if (now == before)
        return kUnchangedColour;
    const double share = static_cast<double>(now - before) / static_cast<double>(std::max(now, before));
    // A change of a tenth shows plainly; a whole new file in full colour.
    return Blend(kUnchangedColour, share > 0 ? kGrowthColour : kShrinkColour, std::sqrt(std::abs(share)));
}

}  // namespace

std::vector<int64_t> OlderSizes(const std::vector<MapItem>& items, SizeMeasure measure,
                                const std::function<const KeptDirectory*(const KeptDirectory&)>& olderOf)
{
    std::unordered_map<const KeptDirectory*, const KeptDirectory*> olderDirs;
    auto older = [&](const KeptDirectory* dir) {
        auto [at, added] = olderDirs.try_emplace(dir, nullptr);
        if (added)
            at->second = olderOf(*dir);
        return at->second;
    };
    // The older sizes as a search then of the directory the map shows counted them.
    const KeptDirectory* olderShown = items.empty() ? nullptr : older(items[0].dir);
    std::optional<KeptCounts> counts;
    if (olderShown)
        counts.emplace(*olderShown, measure);
    // Where the older search did not hold the directory shown, as the tree's own count has it.
    auto sizeThen = [&](const KeptDirectory& dir) { return counts ? counts->Size(dir) : dir.Size(measure); };
    std::unordered_map<const KeptDirectory*, std::unordered_map<std::string_view, int64_t>> olderFiles;
    auto olderFile = [&](const KeptDirectory* dirThen, std::string_view name) -> int64_t {
        if (!dirThen)
            return 0;
        auto [at, added] = olderFiles.try_emplace(dirThen);
        if (added)
            ForEachFile(*dirThen, [&](const KeptFile& file) { at->second.emplace(file.name, counts ? counts->FileSize(file) : KeptFileSize(file, measure)); });
        const auto found = at->second.find(name);
        return found == at->second.end() ? 0 : found->second;
    };
    // What the items shown of each directory held then, so that its rest is what else it held.
    std::unordered_map<const KeptDirectory*, int64_t> shownBefore;
    std::vector<int64_t> before(items.size(), 0);
    for (size_t i = 0; i < items.size(); ++i) {
        const MapItem& item = items[i];
        if (item.kind == MapItemKind::Directory) {
            const KeptDirectory* then = older(item.dir);
            before[i] = then ? sizeThen(*then) : 0;
            if (item.depth > 0 && item.dir->parent)
                shownBefore[item.dir->parent] += before[i];
        } else if (item.kind == MapItemKind::File) {
            before[i] = olderFile(older(item.dir), item.name);
            shownBefore[item.dir] += before[i];
        }
    }
    for (size_t i = 0; i < items.size(); ++i) {
        const MapItem& item = items[i];
        if (const KeptDirectory* then = item.kind == MapItemKind::Rest ? older(item.dir) : nullptr)
            before[i] = std::max<int64_t>(0, sizeThen(*then) - shownBefore[item.dir]);
    }
    return before;
}

std::vector<uint32_t> GrowthColours(const std::vector<MapItem>& items, const std::vector<int64_t>& before)
{
    std::vector<uint32_t> colours(items.size(), 0);
    for (size_t i = 0; i < items.size() && i < before.size(); ++i)
        if (items[i].kind != MapItemKind::Directory)
            colours[i] = GrowthColour(items[i].bytes, before[i]);
    return colours;
}

}  // namespace murako
