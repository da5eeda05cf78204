// Every view of the kept tree held to a fresh search of the tree as it is now, after moves, searches again
// and changes of measure; and the one walk through the tree, held to a walk by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "disk_map.h"
#include "fake_run.h"
#include "kept_shapes.h"
#include "growth_colours.h"
#include "file_types.h"
#include "kept_rows.h"
#include "largest_files.h"
#include "move_away.h"
#include "random_kept_tree.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;
using fakes::KeptSearch;

// A file system of random shape under /base whose files of several links lie in different directories.
struct RandomFiles {
    std::vector<std::string> directories;  // below /base
    std::vector<std::string> files;
};

RandomFiles MakeRandomFiles(FakeFileSystem& fs, std::mt19937& random)
{
    RandomFiles made;
    std::vector<std::pair<std::string, int>> open{{"/base", 0}};
    fs.Dir("/base").At("/base").onDisk = 4096;
    while (!open.empty()) {
        const auto [dir, depth] = open.back();
        open.pop_back();
        for (uint32_t i = 0, count = random() % 6; i < count; ++i) {
            const std::string path = dir + "/f" + std::to_string(i) + fakes::RandomFileNames()[random() % 14];
            const uint64_t inode = random() % 4 == 0 ? 100 + random() % 5 : 0;
            const int64_t length = inode ? static_cast<int64_t>(inode) * 3000 : random() % 200000;
            fs.File(path, length).At(path).onDisk = (length + 4095) / 4096 * 4096;
            fs.At(path).inode = inode;
            made.files.push_back(path);
        }
        for (uint32_t i = 0, count = depth < 3 ? 1 + random() % 3 : 0; i < count; ++i) {
            const std::string path = dir + "/d" + std::to_string(i);
            fs.Dir(path).At(path).onDisk = 4096;
            made.directories.push_back(path);
            open.emplace_back(path, depth + 1);
        }
    }
    return made;
}

std::string Parent(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

std::string Name(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// What a view shows, as text to compare: the map's items, the types' sums and the largest files.
std::vector<std::string> Views(const KeptDirectory& dir, const std::string& basePath, SizeMeasure measure)
{
    std::vector<std::string> lines;
    for (const MapItem& item : LayOutMap(dir, measure, {0, 0, 640, 480}))
        lines.push_back("map " + std::string(item.name) + " " + std::to_string(static_cast<int>(item.kind)) + " " +
                        std::to_string(item.bytes) + " " + std::to_string(item.rect.x) + "," +
                        std::to_string(item.rect.y) + " " + std::to_string(item.rect.w) + "x" +
                        std::to_string(item.rect.h));
    const TypeSpace types = SpaceByType(dir, measure);
    lines.push_back("types total " + std::to_string(types.total));
    int64_t typed = 0;
    for (const TypeSpace::Group& group : types.groups)
        typed += group.bytes;
    EXPECT_EQ(typed, types.total) << "every byte counted once, at the link that counts it";
    for (const TypeSpace::Group& group : types.groups)
        for (const TypeSpace::Extension& extension : group.extensions)
            EXPECT_GE(extension.bytes, 0) << extension.extension;
    for (const TypeSpace::Group& group : types.groups)
        for (const TypeSpace::Extension& extension : group.extensions)
            lines.push_back("type " + extension.extension + " " + std::to_string(extension.files) + " " +
                            std::to_string(extension.bytes));
    for (const LargeFile& file : LargestFiles(dir, measure, basePath, '/', 30))
        lines.push_back("large " + file.path + " " + std::to_string(file.bytes));
    return lines;
}

std::string WithoutTimestamp(const std::string& exported)
{
    return std::regex_replace(exported, std::regex("\"timestamp\":[0-9]+"), "");
}

// Every directory's subdirectories name it their parent, up to the base.
void ExpectParentsLeadToTheBase(const KeptTree& tree)
{
    for (KeptWalk walk(*tree.Base(), KeptWalk::Scope::Directories); walk.Next();) {
        const KeptDirectory& dir = walk.Directory();
        for (uint32_t i = 0; i < dir.ChildCount(); ++i)
            ASSERT_EQ(dir.Children()[i]->parent, &dir) << dir.Name() << "/" << dir.Children()[i]->Name();
        const KeptDirectory* top = &dir;
        uint32_t steps = 0;
        for (; top->parent; top = top->parent)
            ++steps;
        EXPECT_EQ(top, tree.Base());
        EXPECT_EQ(steps, walk.Depth());
    }
}

// The walk by hand: a directory, its live files, then its live subdirectories and theirs.
void ByHand(const KeptDirectory& dir, uint32_t depth, bool files, std::vector<std::string>& met)
{
    met.push_back(std::to_string(depth) + " " + std::string(dir.Name()) + "/");
    if (files)
        ForEachFile(dir, [&](const KeptFile& file) {
            if (!file.moved)
                met.push_back(std::to_string(depth) + " " + std::string(file.name) + " " + std::to_string(file.index));
        });
    for (uint32_t i = 0; i < dir.ChildCount(); ++i)
        if (!(dir.Children()[i]->flags & KeptDirectory::Moved))
            ByHand(*dir.Children()[i], depth + 1, files, met);
}

std::vector<std::string> Walked(const KeptDirectory& dir, KeptWalk::Scope scope)
{
    std::vector<std::string> met;
    for (KeptWalk walk(dir, scope); walk.Next();)
        met.push_back(std::to_string(walk.Depth()) + " " +
                      (walk.AtFile() ? std::string(walk.File().name) + " " + std::to_string(walk.File().index)
                                     : std::string(walk.Directory().Name()) + "/"));
    return met;
}

// Moves random directories and files of tree away, each fifth of them, through the tree alone.
void MoveSomeAway(KeptTree& tree, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<const KeptDirectory*> dirs;
    for (KeptWalk walk(*tree.Base(), KeptWalk::Scope::Directories); walk.Next();)
        dirs.push_back(&walk.Directory());
    for (const KeptDirectory* dir : dirs) {
        if (dir->parent && random() % 5 == 0)
            tree.MarkMoved(*dir);
        for (uint32_t i = 0; i < dir->FileCount(); ++i)
            if (random() % 5 == 0)
                tree.MarkFileMoved(*dir, i);
    }
}

class KeptWalkOfRandomTree : public testing::TestWithParam<uint32_t> {};

TEST_P(KeptWalkOfRandomTree, MeetsTheLiveEntriesInListingOrderAsAWalkByHand)
{
    const std::unique_ptr<KeptTree> tree = fakes::RandomKeptTree(GetParam());
    MoveSomeAway(*tree, GetParam());
    const KeptDirectory& base = *tree->Base();
    std::vector<std::string> expected;
    ByHand(base, 0, true, expected);
    EXPECT_EQ(Walked(base, KeptWalk::Scope::Subtree), expected);
    expected.clear();
    ByHand(base, 0, false, expected);
    EXPECT_EQ(Walked(base, KeptWalk::Scope::Directories), expected);
    std::vector<std::string> listing;
    for (const std::string& entry : Walked(base, KeptWalk::Scope::Subtree))
        if (entry[0] == '0' || (entry[0] == '1' && entry.back() == '/'))
            listing.push_back(entry);
    EXPECT_EQ(Walked(base, KeptWalk::Scope::Listing), listing);
    // Passing over every directory but the start leaves the start's files and its subdirectories.
    std::vector<std::string> passed;
    for (KeptWalk walk(base); walk.Next();) {
        passed.push_back(std::to_string(walk.Depth()));
        if (!walk.AtFile() && walk.Depth() > 0)
            walk.PassOver();
    }
    EXPECT_EQ(passed.size(), listing.size());
}

TEST_P(KeptWalkOfRandomTree, ADirectoryHoldsTheLiveEntriesAWalkByHandMeetsBelowIt)
{
    const std::unique_ptr<KeptTree> tree = fakes::RandomKeptTree(GetParam());
    MoveSomeAway(*tree, GetParam() + 2000);
    for (KeptWalk walk(*tree->Base(), KeptWalk::Scope::Directories); walk.Next();) {
        std::vector<std::string> met;
        ByHand(walk.Directory(), 0, true, met);
        const auto directories = std::count_if(met.begin(), met.end(), [](const std::string& entry) {
            return entry.back() == '/';
        });
        const HeldEntries held = EntriesHeld(walk.Directory());
        EXPECT_EQ(held.directories, directories - 1) << walk.Directory().Name();
        EXPECT_EQ(held.files, static_cast<int64_t>(met.size()) - directories) << walk.Directory().Name();
    }
}

TEST_P(KeptWalkOfRandomTree, AMoveLeavesEverySumAsCountingTheWholeTreeAgainWould)
{
    const std::unique_ptr<KeptTree> tree = fakes::RandomKeptTree(GetParam());
    MoveSomeAway(*tree, GetParam() + 1000);
    std::vector<std::tuple<int64_t, int64_t, int64_t, int64_t, int64_t>> moved;
    for (KeptWalk walk(*tree->Base(), KeptWalk::Scope::Directories); walk.Next();) {
        const KeptDirectory& dir = walk.Directory();
        moved.emplace_back(dir.Size(SizeMeasure::Length), dir.Size(SizeMeasure::OnDisk), dir.Entries(), dir.Own(SizeMeasure::Length), dir.Own(SizeMeasure::OnDisk));
    }
    tree->Complete();
    size_t i = 0;
    for (KeptWalk walk(*tree->Base(), KeptWalk::Scope::Directories); walk.Next(); ++i) {
        const KeptDirectory& dir = walk.Directory();
        EXPECT_EQ(moved.at(i), std::tuple(dir.Size(SizeMeasure::Length), dir.Size(SizeMeasure::OnDisk), dir.Entries(), dir.Own(SizeMeasure::Length), dir.Own(SizeMeasure::OnDisk)))
            << dir.Name();
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, KeptWalkOfRandomTree, testing::Range(1u, 9u));

TEST(KeptTreeReplace, SearchingTheSameDirectoryAgainAndAgainHoldsNoMoreMemory)
{
    for (const bool base : {false, true}) {
        const std::unique_ptr<KeptTree> tree = fakes::RandomKeptTree(7);
        size_t afterFirst = 0;
        std::vector<const KeptDirectory*> told;
        tree->OnReplacing([&](const KeptDirectory& replaced) { told.push_back(&replaced); });
        for (int again = 0; again < 20; ++again) {
            const KeptDirectory& replaced = base ? *tree->Base() : *tree->Base()->Children()[1];
            tree->Replace(replaced, fakes::RandomKeptTree(100));
            ASSERT_EQ(told.back(), &replaced) << "told before";
            if (again == 0)
                afterFirst = tree->Bytes();
            else
                EXPECT_LE(tree->Bytes(), afterFirst + afterFirst / 20) << again << (base ? " base" : " below");
        }
        ExpectParentsLeadToTheBase(*tree);
    }
}

TEST(KeptGrowth, AMapComparedWithItselfIsGreyEverywhereItsRestIncluded)
{
    const std::unique_ptr<KeptTree> now = fakes::RandomKeptTree(3, 3, 4, 60);
    const std::unique_ptr<KeptTree> same = fakes::RandomKeptTree(3, 3, 4, 60);
    const std::vector<MapItem> items = LayOutMap(*now->Base(), SizeMeasure::Length, {0, 0, 300, 200});
    const std::vector<int64_t> before = OlderSizes(items, SizeMeasure::Length, [&](const KeptDirectory& dir) {
        return same->Find(KeptPath(dir, now->BasePath(), '/'), '/');
    });
    const std::vector<uint32_t> colours = GrowthColours(items, before);
    size_t rests = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == MapItemKind::Directory)
            continue;
        rests += items[i].kind == MapItemKind::Rest;
        EXPECT_EQ(before[i], items[i].bytes) << i << " " << items[i].name;
        EXPECT_EQ(colours[i], kUnchangedColour) << i << " " << items[i].name;
    }
    EXPECT_GT(rests, 3u);
}

// The facts of the row listing name, if there is one.
std::optional<RowFacts> RowOf(const ResultsTable& table, const std::string& name)
{
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row)
        if (RowFacts facts = table.Facts(row); facts.listedName == name)
            return facts;
    return std::nullopt;
}

class KeptMovedRow : public testing::TestWithParam<SizeMeasure> {};

TEST_P(KeptMovedRow, StaysGreyAfterAnotherDirectoryIsSearchedAgainUntilOneAboveIs)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fs->File("/base/a/x", 10).File("/base/b/y", 20).File("/base/c/z", 5);
    KeptSearch search(fs, 1, GetParam());
    search.Search("/base");
    search.Controller().MovedAway({search.Controller().Kept()->Find("/base/a", '/'), std::nullopt});
    fs->Remove("/base/a");
    for (const char* again : {"/base/b", "/base/c"}) {
        search.SearchAgain(again);
        ASSERT_TRUE(search.Controller().ShowKept("/base"));
        const std::optional<RowFacts> moved = RowOf(search.Table(), "a");
        ASSERT_TRUE(moved) << again;
        EXPECT_TRUE(moved->moved) << again;
        EXPECT_EQ(moved->bytes, 0) << again;
    }
    search.SearchAgain("/base");
    EXPECT_FALSE(RowOf(search.Table(), "a")) << "a search above it no longer finds it";
}

INSTANTIATE_TEST_SUITE_P(Measures, KeptMovedRow, testing::Values(SizeMeasure::Length, SizeMeasure::OnDisk));

TEST(KeptViewChanges, EachChangeOfWhatTheRowsShowIsToldAndAReplaceBeforeItHappens)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fs->File("/base/a/x", 10).File("/base/b/y", 20).File("/base/z", 5);
    KeptSearch search(fs, 1);
    SearchController& controller = search.Controller();
    std::vector<unsigned> told;
    std::vector<const KeptDirectory*> heldWhenTold;
    const int listener = controller.View().Listen([&](unsigned changes) {
        told.push_back(changes);
        // Told before the replace, the old subtree is still whole.
        if (changes & KeptView::Replacing)
            heldWhenTold.push_back(controller.Kept() ? controller.Kept()->Find("/base/b", '/') : nullptr);
    });
    auto toldSince = [&](auto&& change) {
        told.clear();
        change();
        unsigned all = 0;
        for (unsigned changes : told)
            all |= changes;
        return all;
    };
    EXPECT_EQ(toldSince([&] { search.Search("/base"); }) & (KeptView::NewDirectory | KeptView::NewSizes),
              KeptView::NewDirectory | KeptView::NewSizes);
    EXPECT_EQ(toldSince([&] { controller.ShowKept("/base/a"); }), KeptView::NewDirectory);
    EXPECT_EQ(toldSince([&] { controller.SetMeasure(SizeMeasure::OnDisk); }) & KeptView::NewMeasure, KeptView::NewMeasure);
    EXPECT_EQ(toldSince([&] { controller.SetSortOrder({SortColumn::Size, false}); }), KeptView::NewOrder);
    EXPECT_EQ(toldSince([&] { controller.MovedAway({controller.Kept()->Find("/base/a", '/'), 0u}); }) & KeptView::NewSizes,
              KeptView::NewSizes);
    heldWhenTold.clear();
    const KeptDirectory* before = controller.Kept()->Find("/base/b", '/');
    told.clear();
    search.SearchAgain("/base/b");
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(heldWhenTold, std::vector<const KeptDirectory*>{before});
    const auto replacing = std::find(told.begin(), told.end(), KeptView::Replacing);
    ASSERT_NE(replacing, told.end());
    EXPECT_NE(std::find(replacing, told.end(), KeptView::NewSizes), told.end()) << "told again once replaced";
    controller.View().Forget(listener);
    told.clear();
    controller.ShowKept("/base");
    EXPECT_TRUE(told.empty());
}

enum class ViewChange { Measure, FileMoved, DirectoryMoved, Order, Comparison };
constexpr std::array ChangeNames{"Measure", "FileMoved", "DirectoryMoved", "Order", "Comparison"};

class KeptViewDrivesTheTable : public testing::TestWithParam<ViewChange> {};

// Each change made to the view alone, with no word to the controller: the table shows what a fresh search of the
// disk as it is now shows, in the view's measure and order.
TEST_P(KeptViewDrivesTheTable, AsAFreshSearchShowsTheDirectoryAfterAChangeMadeThroughTheViewAlone)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fs->File("/base/a/x", 10000).File("/base/a/y", 300).File("/base/b/y", 20000).File("/base/c/w", 1).File("/base/z", 5000);
    for (const char* path : {"/base/a/x", "/base/a/y", "/base/b/y", "/base/c/w", "/base/z"})
        fs->At(path).onDisk = 40960;
    KeptSearch kept(fs, 1);
    kept.Search("/base");
    KeptView& view = kept.Controller().View();
    const KeptTree& tree = *view.Tree();
    SizeMeasure measure = SizeMeasure::Length;
    SortOrder order{};
    switch (GetParam()) {
    case ViewChange::Measure: view.SetMeasure(measure = SizeMeasure::OnDisk); break;
    case ViewChange::FileMoved:
        view.MoveAway(*tree.Find("/base/a", '/'), fakes::FilePlace(tree, "/base/a", "x").file);
        fs->Remove("/base/a/x");
        break;
    case ViewChange::DirectoryMoved:
        view.MoveAway(*tree.Find("/base/c", '/'), std::nullopt);
        fs->Remove("/base/c");
        break;
    case ViewChange::Order: view.SetOrder(order = {SortColumn::Size, false}); break;
    case ViewChange::Comparison:
        view.SetComparison(
            KeptComparison::Make(ReadKeptJson(fakes::ExportText(tree)).tree, "/base", '/').comparison);
        EXPECT_TRUE(RowsCompared(kept.Table()));
        view.SetComparison(nullptr);
        break;
    }
    KeptSearch fresh(fs, 1, measure);
    fresh.Controller().SetSortOrder(order);
    fresh.Search("/base");
    if (GetParam() != ViewChange::DirectoryMoved) {
        EXPECT_EQ(fakes::TableLines(kept.Table()), fakes::TableLines(fresh.Table()));
        return;
    }
    // The row of what was moved stays, greyed and counting nothing, where a fresh search no longer lists it.
    const std::optional<RowFacts> moved = RowOf(kept.Table(), "c");
    ASSERT_TRUE(moved);
    EXPECT_TRUE(moved->moved);
    EXPECT_EQ(moved->bytes, 0);
    EXPECT_EQ(kept.Table().Facts(kept.Table().Rows() - 1).bytes, fresh.Table().Facts(fresh.Table().Rows() - 1).bytes);
}

INSTANTIATE_TEST_SUITE_P(Changes, KeptViewDrivesTheTable,
                         testing::Values(ViewChange::Measure, ViewChange::FileMoved, ViewChange::DirectoryMoved,
                                         ViewChange::Order, ViewChange::Comparison),
                         [](const auto& info) { return std::string(ChangeNames[static_cast<size_t>(info.param)]); });

TEST(KeptLinks, AFileOfSeveralLinksCountsInTheViewsWhereASearchOfTheDirectoryShownMeetsItFirst)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fakes::LinkedTree(*fs);
    KeptSearch search(fs, 1, SizeMeasure::OnDisk);
    search.Search("/base");
    const KeptTree& tree = *search.Controller().Kept();
    auto largest = [&](const char* path) {
        std::map<std::string, int64_t> bytes;
        for (const LargeFile& file : LargestFiles(*tree.Find(path, '/'), SizeMeasure::OnDisk, tree.BasePath(), '/'))
            bytes[file.path] = file.bytes;
        return bytes;
    };
    // b's t is met before c's s from the base; a search of c meets s alone.
    EXPECT_EQ(largest("/base").at("/base/b/t"), 4096);
    EXPECT_EQ(largest("/base").at("/base/c/s"), 0);
    EXPECT_EQ(largest("/base/c").at("/base/c/s"), 4096);
    EXPECT_EQ(SpaceByType(*tree.Find("/base", '/'), SizeMeasure::OnDisk).total, tree.Base()->Size(SizeMeasure::OnDisk));
    EXPECT_EQ(SpaceByType(*tree.Find("/base/c", '/'), SizeMeasure::OnDisk).total, 4096 + 0);
    const std::vector<MapItem> map = LayOutMap(*tree.Find("/base/c", '/'), SizeMeasure::OnDisk, {0, 0, 100, 100});
    ASSERT_GE(map.size(), 2u);
    EXPECT_EQ(map[0].bytes, 4096);
    EXPECT_EQ(map[1].name, "s");
    EXPECT_EQ(map[1].bytes, 4096);
}

// Whether a row of dir's stands for a subdirectory moved away, which a fresh search no longer lists.
bool HoldsMovedRow(const KeptDirectory& dir)
{
    for (uint32_t i = 0; i < dir.ChildCount(); ++i)
        if (dir.Children()[i]->flags & KeptDirectory::Moved)
            return true;
    return false;
}

class KeptViewsOfRandomChanges : public testing::TestWithParam<uint32_t> {};

TEST_P(KeptViewsOfRandomChanges, AgreeWithAFreshSearchOfTheTreeAsItIsNow)
{
    std::mt19937 random(GetParam());
    auto fs = std::make_shared<FakeFileSystem>();
    RandomFiles live = MakeRandomFiles(*fs, random);
    KeptSearch kept(fs, 2);
    kept.Search("/base");
    SizeMeasure measure = SizeMeasure::OnDisk;
    kept.Controller().SetMeasure(measure);
    auto pick = [&](std::vector<std::string>& paths) {
        const size_t at = random() % paths.size();
        std::string path = paths[at];
        paths.erase(paths.begin() + static_cast<ptrdiff_t>(at));
        return path;
    };
    for (int step = 0; step < 12; ++step) {
        const KeptTree& tree = *kept.Controller().Kept();
        const uint32_t change = random() % 4;
        std::string what;
        if (change == 0 && !live.files.empty()) {
            const std::string file = pick(live.files);
            const KeptDirectory* dir = tree.Find(Parent(file), '/');
            ASSERT_NE(dir, nullptr) << file;
            std::optional<uint32_t> index;
            ForEachFile(*dir, [&](const KeptFile& met) { index = met.name == Name(file) && !met.moved ? met.index : index; });
            fs->Remove(file);
            ASSERT_TRUE(kept.Controller().ShowKept(Parent(file)));
            ASSERT_TRUE(index.has_value()) << file;
            kept.Controller().View().MoveAway(*dir, index);
            what = "moved " + file;
        } else if (change == 1 && !live.directories.empty()) {
            const std::string gone = pick(live.directories);
            std::erase_if(live.files, [&](const std::string& path) { return path.rfind(gone + "/", 0) == 0; });
            std::erase_if(live.directories, [&](const std::string& path) { return path.rfind(gone + "/", 0) == 0; });
            fs->Remove(gone);
            ASSERT_TRUE(kept.Controller().ShowKept(Parent(gone)));
            kept.Controller().View().MoveAway(*tree.Find(gone, '/'), std::nullopt);
            what = "moved " + gone;
        } else if (change == 2) {
            const std::string again = live.directories.empty() ? "/base" : live.directories[random() % live.directories.size()];
            const std::string added = again + "/new" + std::to_string(step) + ".mp4";
            fs->File(added, 5000 * step).At(added).onDisk = 8192;
            live.files.push_back(added);
            kept.SearchAgain(again);
            what = "searched again " + again;
        } else {
            measure = measure == SizeMeasure::OnDisk ? SizeMeasure::Length : SizeMeasure::OnDisk;
            kept.Controller().View().SetMeasure(measure);
            what = "measure changed";
        }
        SCOPED_TRACE(what);
        const KeptTree& now = *kept.Controller().Kept();
        ExpectParentsLeadToTheBase(now);
        // The rows the change left in the table, told by the view alone.
        if (!HoldsMovedRow(*now.Find(kept.Controller().ShownPath(), '/'))) {
            KeptSearch fresh(fs, 1, measure);
            fresh.Search(kept.Controller().ShownPath());
            EXPECT_EQ(fakes::TableLines(kept.Table()), fakes::TableLines(fresh.Table())) << "as the change left it";
        }
        std::vector<std::string> shown{"/base"};
        for (int i = 0; i < 3 && !live.directories.empty(); ++i)
            shown.push_back(live.directories[random() % live.directories.size()]);
        for (const std::string& path : shown) {
            KeptSearch fresh(fs, 1, measure);
            fresh.Search(path);
            const KeptDirectory* dir = now.Find(path, '/');
            ASSERT_NE(dir, nullptr) << path;
            EXPECT_EQ(Views(*dir, now.BasePath(), measure), Views(*fresh.Controller().Kept()->Base(), path, measure))
                << path;
            if (!HoldsMovedRow(*dir)) {
                EXPECT_EQ(kept.Kept(path), fresh.Kept(path)) << "the rows of a fresh search of " << path;
            }
            if (path == "/base") {
                EXPECT_EQ(WithoutTimestamp(fakes::ExportText(now)),
                          WithoutTimestamp(fakes::ExportText(*fresh.Controller().Kept())));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, KeptViewsOfRandomChanges, testing::Range(1u, 13u));

}  // namespace
}  // namespace murako
