#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <tuple>

#include "disk_map.h"
#include "file_types.h"
#include "largest_files.h"
#include "random_kept_tree.h"

namespace murako {
namespace {

using fakes::RandomKeptTree;

// The indices of an item's children: each next one past the subtree of the one before.
std::vector<uint32_t> ChildrenOf(const std::vector<MapItem>& items, uint32_t parent)
{
    std::vector<uint32_t> children;
    for (uint32_t i = parent + 1; i < items[parent].end; i = items[i].end)
        children.push_back(i);
    return children;
}

bool Overlap(const MapRect& a, const MapRect& b, double slack)
{
    return a.x + slack < b.x + b.w && b.x + slack < a.x + a.w && a.y + slack < b.y + b.h && b.y + slack < a.y + a.h;
}

class MapOfRandomTree : public testing::TestWithParam<std::tuple<uint32_t, SizeMeasure, MapRect, MapArea>> {};

// Sized by count, a file's area is one name's, a directory's the names below it and its own.
TEST_P(MapOfRandomTree, RectanglesTileEachFrameWithAreasInProportionToSizesOrCounts)
{
    const auto [seed, measure, bounds, sizing] = GetParam();
    const std::unique_ptr<KeptTree> tree = RandomKeptTree(seed);
    const MapStyle style;
    const std::vector<MapItem> items = LayOutMap(*tree->Base(), measure, bounds, style, sizing);
    const auto weight = [sizing = sizing](const MapItem& item) {
        return static_cast<double>(sizing == MapArea::Size ? item.bytes : item.entries);
    };
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items[0].end, items.size());
    size_t framesChecked = 0;
    for (uint32_t i = 0; i < items.size(); ++i) {
        const MapItem& frame = items[i];
        const std::vector<uint32_t> children = ChildrenOf(items, i);
        if (frame.kind != MapItemKind::Directory || children.empty())
            continue;
        ++framesChecked;
        const MapRect& content = frame.content;
        // The name strip and the border come out of the frame: its content lies inside it.
        EXPECT_GE(content.x, frame.rect.x - 1e-6);
        EXPECT_GE(content.y, frame.rect.y - 1e-6);
        EXPECT_LE(content.x + content.w, frame.rect.x + frame.rect.w + 1e-6) << frame.name;
        EXPECT_LE(content.y + content.h, frame.rect.y + frame.rect.h + 1e-6) << frame.name;
        double area = 0;
        int64_t bytes = 0;
        int64_t entries = 0;
        const double total = static_cast<double>(sizing == MapArea::Size ? frame.dir->Size(measure) : frame.dir->Entries());
        std::map<std::pair<MapItemKind, std::string_view>, int> seen;
        for (const uint32_t c : children) {
            const MapItem& child = items[c];
            SCOPED_TRACE(std::string(frame.name) + "/" + std::string(child.name));
            EXPECT_EQ(child.depth, frame.depth + 1);
            EXPECT_EQ(++seen[std::pair(child.kind, child.name)], 1) << "each child once";
            EXPECT_GE(child.rect.x, content.x - 1e-6);
            EXPECT_GE(child.rect.y, content.y - 1e-6);
            EXPECT_LE(child.rect.x + child.rect.w, content.x + content.w + 1e-6);
            EXPECT_LE(child.rect.y + child.rect.h, content.y + content.h + 1e-6);
            area += child.rect.Area();
            bytes += child.bytes;
            entries += child.entries;
            EXPECT_EQ(child.entries, child.kind == MapItemKind::File        ? 1
                                     : child.kind == MapItemKind::Directory ? child.dir->Entries() + 1
                                                                            : child.entries);
            const double expected = content.Area() * weight(child) / total;
            if (child.kind != MapItemKind::Rest) {
                EXPECT_GE(expected, style.minSide * style.minSide) << "too small to show alone";
            }
            EXPECT_NEAR(child.rect.Area(), expected, expected * 0.01);
        }
        EXPECT_NEAR(area, content.Area(), content.Area() * 1e-9) << frame.name;
        // What the areas tell adds up; the other, where it has no area (an empty file, a directory's own
        // space sized by count), is not shown.
        EXPECT_EQ(sizing == MapArea::Size ? bytes : entries, static_cast<int64_t>(total)) << frame.name;
        EXPECT_LE(bytes, frame.dir->Size(measure)) << frame.name;
        EXPECT_LE(entries, frame.dir->Entries()) << frame.name;
        for (size_t a = 0; a < children.size(); ++a)
            for (size_t b = a + 1; b < children.size(); ++b)
                EXPECT_FALSE(Overlap(items[children[a]].rect, items[children[b]].rect, 1e-6))
                    << items[children[a]].name << " and " << items[children[b]].name;
    }
    EXPECT_GT(framesChecked, 0u);
}

TEST_P(MapOfRandomTree, ThePointFindsTheDeepestItemHoldingIt)
{
    const auto [seed, measure, bounds, sizing] = GetParam();
    const std::unique_ptr<KeptTree> tree = RandomKeptTree(seed);
    const std::vector<MapItem> items = LayOutMap(*tree->Base(), measure, bounds, {}, sizing);
    std::mt19937 random(seed);
    for (int i = 0; i < 300; ++i) {
        const double x = bounds.x + bounds.w * (random() % 10000) / 10000.0;
        const double y = bounds.y + bounds.h * (random() % 10000) / 10000.0;
        int32_t last = -1;
        for (size_t at = 0; at < items.size(); ++at)
            if (items[at].rect.Contains(x, y))
                last = static_cast<int32_t>(at);
        ASSERT_EQ(MapItemAt(items, x, y), last) << x << "," << y;
        const MapItem& hit = items[last];
        if (hit.kind == MapItemKind::Directory && hit.end > last + 1u) {
            EXPECT_FALSE(hit.content.Contains(x, y)) << "a point in a frame's content lies in one of its children";
        }
    }
    EXPECT_EQ(MapItemAt(items, bounds.x - 1, bounds.y), -1);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MapOfRandomTree,
                         testing::Combine(testing::Values(1u, 2u, 3u, 7u, 42u, 1234u),
                                          testing::Values(SizeMeasure::Length, SizeMeasure::OnDisk),
                                          testing::Values(MapRect{0, 0, 1920, 1080}, MapRect{10, 20, 300, 900},
                                                          MapRect{0, 0, 64, 48}),
                                          testing::Values(MapArea::Size, MapArea::Entries)));

// Files whose sizes are known: a 3:1 split of a wide map puts the larger file at the left.
TEST(DiskMap, AKnownPixelNamesItsFile)
{
    KeptTree tree("/known");
    KeptDirectory* base = tree.AddDirectory(nullptr, 0, {}, {});
    KeptFilesWriter files;
    files.Add("small.txt", FileFacts{1000, 4096});
    files.Add("large.mov", FileFacts{3000, 4096});
    base = &tree.SetListing(*base, files, 1, 0);
    KeptDirectory* sub = tree.AddDirectory(base, 0, "sub", {});
    KeptFilesWriter subFiles;
    subFiles.Add("inner.png", FileFacts{4000, 4096});
    sub = &tree.SetListing(*sub, subFiles, 0, 0);
    tree.Complete();
    const std::vector<MapItem> items = LayOutMap(*tree.Base(), SizeMeasure::Length, {0, 0, 800, 100});
    auto nameAt = [&](double x, double y) {
        const int32_t at = MapItemAt(items, x, y);
        return at < 0 ? std::string("-") : std::string(items[at].name);
    };
    // sub (half) at the left, large.mov (three eighths), then small.txt; sub's strip at its top.
    EXPECT_EQ(nameAt(5, 50), "inner.png");
    EXPECT_EQ(nameAt(200, 5), "sub");
    EXPECT_EQ(nameAt(401, 50), "large.mov");
    EXPECT_EQ(nameAt(699, 50), "large.mov");
    EXPECT_EQ(nameAt(701, 50), "small.txt");
    EXPECT_EQ(items[MapItemAt(items, 701, 50)].group, TypeGroup::Document);
}

TEST(DiskMap, ADeepChainIsLaidOutWithoutRecursionAndTinyFilesJoinTheRest)
{
    KeptTree tree("/deep");
    KeptDirectory* at = tree.AddDirectory(nullptr, 0, {}, {});
    for (int level = 0; level < 200000; ++level) {
        KeptFilesWriter files;
        files.Add("f", FileFacts{1, 1});
        at = &tree.SetListing(*at, files, 1, 0);
        at = tree.AddDirectory(at, 0, "d", {});
    }
    KeptFilesWriter many;
    for (int i = 0; i < 100000; ++i)
        many.Add("tiny" + std::to_string(i), FileFacts{1000, 4096});
    at = &tree.SetListing(*at, many, 0, 0);
    tree.Complete();
    const std::vector<MapItem> items = LayOutMap(*tree.Base(), SizeMeasure::Length, {0, 0, 1920, 1080});
    EXPECT_LT(items.size(), 2000u) << "levels and files below 3×3 pixels join their directory's rest";
    EXPECT_GE(MapItemAt(items, 960, 540), 0);
    std::vector<uint32_t> pixels(1920 * 1080);
    ShadeMap(items, 1920, 1080, pixels.data(), 1920);
}

TEST(DiskMap, ShadingPaintsEveryPixelOfTheMap)
{
    const std::unique_ptr<KeptTree> tree = RandomKeptTree(5);
    std::vector<uint32_t> pixels(640 * 480, 0);
    ShadeMap(LayOutMap(*tree->Base(), SizeMeasure::Length, {0, 0, 640, 480}), 640, 480, pixels.data(), 640);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0u), 0);
}

class Extension : public testing::TestWithParam<std::tuple<const char*, TypeGroup>> {};

TEST_P(Extension, TellsTheGroup)
{
    const auto [name, group] = GetParam();
    EXPECT_EQ(TypeGroupOf(name), group) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, Extension,
    testing::Values(std::tuple("photo.JPG", TypeGroup::Image), std::tuple("a.b.png", TypeGroup::Image),
                    std::tuple("film.mkv", TypeGroup::Video), std::tuple("song.Flac", TypeGroup::Audio),
                    std::tuple("report.pdf", TypeGroup::Document), std::tuple("notes.txt", TypeGroup::Document),
                    std::tuple("backup.tar.gz", TypeGroup::Archive), std::tuple("disk.iso", TypeGroup::Archive),
                    std::tuple("libc.so", TypeGroup::Program), std::tuple("main.cpp", TypeGroup::Program),
                    std::tuple("syslog.log", TypeGroup::System), std::tuple(".bashrc", TypeGroup::Other),
                    std::tuple(".sh", TypeGroup::Other), std::tuple(".config.json", TypeGroup::Document),
                    std::tuple("Makefile", TypeGroup::Other), std::tuple("trailing.", TypeGroup::Other),
                    std::tuple("odd.xyz", TypeGroup::Other), std::tuple("libc.so.6", TypeGroup::Program),
                    std::tuple("libLLVM-15.so.1.2", TypeGroup::Program), std::tuple("syslog.log.1", TypeGroup::System),
                    std::tuple("kubectl.1.33", TypeGroup::Other), std::tuple("python3.11", TypeGroup::Other)));

TEST(Extension, OfANameThatOnlyBeginsWithADotIsNone)
{
    EXPECT_EQ(ExtensionOf(".bashrc"), "");
    EXPECT_EQ(ExtensionOf(".bashrc.BAK"), "bak");
    EXPECT_EQ(ExtensionOf("..."), "");
}

class KeptReports : public testing::TestWithParam<std::tuple<uint32_t, SizeMeasure>> {};

TEST_P(KeptReports, TypeTotalsAndCountSharesAddUpToTheShownTotal)
{
    const auto [seed, measure] = GetParam();
    const std::unique_ptr<KeptTree> tree = RandomKeptTree(seed);
    for (const KeptDirectory* dir : {tree->Base(), tree->Base()->ChildCount() ? tree->Base()->Children()[0] : tree->Base()}) {
        const TypeSpace space = SpaceByType(*dir, measure);
        EXPECT_EQ(space.total, dir->Size(measure));
        int64_t bytes = 0, files = 0;
        int64_t keptFiles = 0;
        for (KeptWalk walk(*dir); walk.Next();)
            keptFiles += walk.AtFile();
        for (const TypeSpace::Group& group : space.groups) {
            int64_t groupBytes = 0, groupFiles = 0;
            for (const TypeSpace::Extension& extension : group.extensions) {
                groupBytes += extension.bytes;
                if (extension.extension != DirectoriesExtension)
                    groupFiles += extension.files;
                EXPECT_EQ(TypeGroupOf("x." + extension.extension) == group.group ||
                              extension.extension.empty() || extension.extension == DirectoriesExtension,
                          true)
                    << extension.extension;
            }
            EXPECT_EQ(group.bytes, groupBytes) << TypeGroupName(group.group);
            bytes += group.bytes;
            files += groupFiles;
        }
        EXPECT_EQ(bytes, space.total);
        EXPECT_EQ(files, keptFiles);
        // The count's shares are of every count the list shows, the directories' on disk too.
        int64_t counted = 0;
        double shares = 0;
        for (const TypeSpace::Group& group : space.groups) {
            counted += group.files;
            shares += space.CountShare(group.files);
        }
        EXPECT_EQ(space.files, counted);
        EXPECT_NEAR(shares, 1.0, 1e-9);
        if (measure == SizeMeasure::Length) {
            EXPECT_EQ(space.files, keptFiles);
        }
    }
}

TEST_P(KeptReports, TheLargestFilesAreTheFirstOfAllFilesSorted)
{
    const auto [seed, measure] = GetParam();
    const std::unique_ptr<KeptTree> tree = RandomKeptTree(seed, 6, 4, 60);
    std::vector<std::pair<int64_t, std::string>> all;
    for (KeptWalk walk(*tree->Base()); walk.Next();)
        if (walk.AtFile())
            all.emplace_back(KeptFileSize(walk.File(), measure),
                             KeptPath(walk.Directory(), "/random", '/') + std::string(walk.File().name));
    ASSERT_GT(all.size(), 100u);
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
    const std::vector<LargeFile> largest = LargestFiles(*tree->Base(), measure, "/random", '/', 100);
    ASSERT_EQ(largest.size(), 100u);
    for (size_t i = 0; i < largest.size(); ++i) {
        EXPECT_EQ(largest[i].bytes, all[i].first) << i;
        // Paths may differ only among files of the size at the cut.
        if (all[i].first != all[99].first) {
            EXPECT_EQ(largest[i].path, all[i].second) << i;
        }
    }
    EXPECT_EQ(LargestFiles(*tree->Base(), measure, "/random", '/', all.size() + 5).size(), all.size()) << "all when fewer";
}

INSTANTIATE_TEST_SUITE_P(Seeds, KeptReports,
                         testing::Combine(testing::Values(1u, 9u, 77u, 2024u),
                                          testing::Values(SizeMeasure::Length, SizeMeasure::OnDisk)));

}  // namespace
}  // namespace murako
