#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "fake_run.h"
#include "kept_rows.h"
#include "kept_shapes.h"
#include "kept_tree.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;
using fakes::KeptSearch;
using fakes::LinkedTree;
using fakes::ScopedTree;
using fakes::ScopedTreeScope;
using fakes::UnreadPlacesTree;
using fakes::WideAndDeepTree;

struct TreeCase {
    const char* name;
    std::function<void(FakeFileSystem&)> make;
    int threads;
    const char* changing;  // a directory to change and search again, and one below it
    const char* changingBelow;
    SearchScope scope{};
};

void PrintTo(const TreeCase& tree, std::ostream* out)
{
    *out << tree.name;
}

// A directory met again below itself is a loop only to a search from above the directory it repeats: shown
// from the kept tree it keeps its mark, which a search of the directories between cannot find.
bool BelowTheLoop(const std::string& path)
{
    return path == "/base/c" || path.rfind("/base/c/", 0) == 0;
}

// A directory the search did not enter holds nothing in the tree, where a search of it would walk it.
bool NotEntered(KeptSearch& search, const std::string& path)
{
    const KeptDirectory* dir = search.Controller().Kept()->Find(path, '/');
    return dir && (dir->flags & (KeptDirectory::OtherFileSystem | KeptDirectory::Excluded));
}

class KeptRowsTest : public ::testing::TestWithParam<TreeCase> {};

TEST_P(KeptRowsTest, EveryDirectoryShownFromTheKeptTreeHasTheRowsOfAFreshSearch)
{
    auto fs = std::make_shared<FakeFileSystem>();
    GetParam().make(*fs);
    KeptSearch search(fs, GetParam().threads, SizeMeasure::Length, GetParam().scope);
    search.Search("/base");
    const int64_t listedBySearch = fs->namesListed.load();
    const std::vector<std::string> directories = search.Directories();
    ASSERT_GT(directories.size(), 5u);
    for (const std::string& path : directories) {
        if (NotEntered(search, path))
            continue;
        const int64_t listedBefore = fs->namesListed.load();
        const std::vector<std::string> kept = search.Kept(path);
        EXPECT_EQ(fs->namesListed.load(), listedBefore) << path << " was listed again";
        if (BelowTheLoop(path))
            EXPECT_EQ(search.Controller().Kept()->Find(path, '/')->UnreadBelow(), 1u) << path;
        else
            EXPECT_EQ(kept, search.Fresh(path, GetParam().threads)) << path;
    }
    EXPECT_GT(listedBySearch, 0);
}

TEST_P(KeptRowsTest, ADirectorySearchedAgainTakesItsPlaceAndTheTotalsAboveFollow)
{
    auto fs = std::make_shared<FakeFileSystem>();
    GetParam().make(*fs);
    KeptSearch search(fs, GetParam().threads, SizeMeasure::Length, GetParam().scope);
    search.Search("/base");
    // Changes below one directory, then it is searched again; its siblings stay as the first search found them.
    const std::string changing = GetParam().changing;
    const std::string below = GetParam().changingBelow;
    fs->File(below + "/new", 1000).File(changing + "/grown/h", 2000);
    search.SearchAgain(changing);
    for (const std::string& path : search.Directories())
        if (!BelowTheLoop(path) && !NotEntered(search, path)) {
            EXPECT_EQ(search.Kept(path), search.Fresh(path, GetParam().threads)) << path;
        }
    // Deeper, then the base itself.
    fs->File(below + "/newer", 30000);
    search.SearchAgain(below);
    EXPECT_EQ(search.Kept("/base"), search.Fresh("/base", 1));
    fs->File("/base/top", 5);
    search.SearchAgain("/base");
    EXPECT_EQ(search.Kept(below), search.Fresh(below, 1));
    EXPECT_EQ(search.Kept("/base"), search.Fresh("/base", 1));
}

INSTANTIATE_TEST_SUITE_P(Trees, KeptRowsTest,
                         ::testing::Values(TreeCase{"UnreadSerial", UnreadPlacesTree, 1, "/base/a", "/base/a/ok"},
                                           TreeCase{"UnreadThreaded", UnreadPlacesTree, 4, "/base/a", "/base/a/ok"},
                                           TreeCase{"WideAndDeepSerial", WideAndDeepTree, 1, "/base/d3", "/base/d3/s1"},
                                           TreeCase{"WideAndDeepThreaded", WideAndDeepTree, 0, "/base/chain/l",
                                                    "/base/chain/l/l/l/l"},
                                           TreeCase{"ScopedSerial", ScopedTree, 1, "/base/a", "/base/a/sub",
                                                    ScopedTreeScope()},
                                           TreeCase{"ScopedThreaded", ScopedTree, 4, "/base/a", "/base/a/sub",
                                                    ScopedTreeScope()}),
                         [](const auto& info) { return std::string(info.param.name); });

// What each directory of a kept tree sums: both sizes, the entries, the marks below it and the newest change.
std::vector<std::string> Sums(const KeptTree& tree)
{
    std::vector<std::string> sums;
    for (KeptWalk walk(*tree.Base(), KeptWalk::Scope::Directories); walk.Next();) {
        const KeptDirectory& dir = walk.Directory();
        sums.push_back(std::string(dir.Name()) + " " + std::to_string(dir.Size(SizeMeasure::Length)) + " " +
                       std::to_string(dir.Size(SizeMeasure::OnDisk)) + " " + std::to_string(dir.Entries()) + " " +
                       std::to_string(dir.UnreadBelow()) + " " + std::to_string(dir.MarkedBelow()) + " " +
                       std::to_string(dir.ExcludedBelow()) + " " + std::to_string(dir.LinkedBelow()) + " " +
                       std::to_string(dir.Newest()));
    }
    return sums;
}

// A walk sums each directory as it finishes it, and completing its tree sums again only what files of several
// links change: every directory as summing them all again leaves it, whatever the tree and the threads.
TEST(KeptWalkSums, TheSumsMadeAsTheWalkGoesAreThoseOfSummingEveryDirectoryAgain)
{
    const std::vector<std::pair<std::function<void(FakeFileSystem&)>, SearchScope>> trees{
        {UnreadPlacesTree, {}}, {WideAndDeepTree, {}}, {ScopedTree, ScopedTreeScope()}, {LinkedTree, {}}};
    for (size_t tree = 0; tree < trees.size(); ++tree) {
        for (const int threads : {1, 4}) {
            for (const SizeMeasure measure : {SizeMeasure::Length, SizeMeasure::OnDisk}) {
                auto fs = std::make_shared<FakeFileSystem>();
                trees[tree].first(*fs);
                KeptSearch search(fs, threads, measure, trees[tree].second);
                search.Search("/base");
                auto& kept = const_cast<KeptTree&>(*search.Controller().Kept());
                const std::vector<std::string> walked = Sums(kept);
                kept.Complete();
                EXPECT_EQ(walked, Sums(kept)) << "tree " << tree << ", threads " << threads;
            }
        }
    }
}

TEST(KeptMeasure, SpaceOnDiskCountsAFileOfSeveralLinksOnceWhereFirstMetAndSwitchingReadsNothing)
{
    for (const int threads : {1, 4}) {
        auto fs = std::make_shared<FakeFileSystem>();
        LinkedTree(*fs);
        KeptSearch onDisk(fs, threads, SizeMeasure::OnDisk);
        onDisk.Search("/base");
        // A serial walk meets the files in listing order: b's t before c's s.
        EXPECT_EQ(onDisk.Kept("/base"), onDisk.Fresh("/base", 1)) << threads;
        const KeptDirectory& base = *onDisk.Controller().Kept()->Base();
        EXPECT_EQ(base.Size(SizeMeasure::OnDisk), 4096 + 4096 + 4096 + (8192 + 4096) + 0);
        EXPECT_EQ(base.Size(SizeMeasure::Length), 10 + 4096 * 2 + (1 << 20) + 5 + 4096);
        EXPECT_EQ(base.Child("a")->Size(SizeMeasure::OnDisk), 4096) << "two links of one file in one directory";
        EXPECT_EQ(base.Child("c")->Size(SizeMeasure::OnDisk), 0) << "met first under b";

        KeptSearch lengths(fs, threads);
        lengths.Search("/base");
        const int64_t listed = fs->namesListed.load();
        lengths.Controller().SetMeasure(SizeMeasure::OnDisk);
        EXPECT_EQ(fs->namesListed.load(), listed);
        EXPECT_EQ(lengths.Kept("/base"), onDisk.Kept("/base"));
        lengths.Controller().SetMeasure(SizeMeasure::Length);
        EXPECT_EQ(lengths.Kept("/base"), lengths.Fresh("/base", threads));
    }
}

TEST(KeptMeasure, APseudoFileSystemIsShownAsNotEnteredOnItsRowAndTheTotal)
{
    auto fs = std::make_shared<FakeFileSystem>();
    UnreadPlacesTree(*fs);
    ResultsTable table;
    InitGrid(table);
    SearchWithoutWindow(table, fs, "/base", {});
    for (int32_t row = 1; row < table.Rows(); ++row) {
        const RowFacts& facts = table.Facts(row);
        const bool holdsProc = facts.listedName == "proc" || facts.kind == RowKind::Total;
        ASSERT_EQ(facts.notEntered.count, holdsProc ? 1 : 0) << table.TextAt(row, 1);
        if (holdsProc) {
            EXPECT_EQ(facts.notEntered.first.at(0).path, "/base/proc");
        }
        if (facts.listedName == "proc") {
            EXPECT_EQ(facts.bytes, 0) << "its files are never counted";
        }
    }
}

// A listing copied into the tree as a walk's is, or taken as it is as a file read gives it: a few files, or so
// many that their bytes are a chunk of their own.
struct Listing {
    int copies;
    bool taken;
};

class KeptTreeListing : public ::testing::TestWithParam<Listing> {};

TEST_P(KeptTreeListing, FilesKeepTheirNamesAndFactsWhateverTheirSizeAndNumber)
{
    // Times the same as the file before, or far from it either way, and unknown, are each read back as written.
    const std::vector<std::pair<std::string, std::optional<FileFacts>>> kinds{
        {"a", FileFacts{0, 0, 0, 1, true, 0}},
        {std::string(300, 'n'), FileFacts{std::numeric_limits<int64_t>::max(), 4096, 0, 1, true, 1'700'000'000}},
        {"odd space", FileFacts{100, 1000, 0, 1, true, 1'700'000'000}},  // space that is no whole number of blocks
        {"linked", FileFacts{5, 512, 1ULL << 40, 3, true, 4'102'444'800}},
        {"gone", std::nullopt},
        {"\xff\xfe", FileFacts{1, (1LL << 40) + 512, 0, 1, true, -1}},
        {"link", FileFacts{9, 0, 0, 1, false, kTimeUnknown}},
        {"far", FileFacts{9, 0, 0, 1, true, std::numeric_limits<int64_t>::max()}},
        {"farther back", FileFacts{9, 0, 0, 1, true, kTimeUnknown + 1}},
    };
    std::vector<std::pair<std::string, std::optional<FileFacts>>> files;
    KeptFilesWriter writer;
    for (int copy = 0; copy < GetParam().copies; ++copy)
        for (const auto& [name, facts] : kinds) {
            files.emplace_back(name + (copy ? std::to_string(copy) : ""), facts);
            writer.Add(files.back().first, facts);
        }
    const KeptFilesWriter copied = writer;
    KeptTree tree("/t/");
    KeptDirectory* dir = nullptr;
    if (GetParam().taken) {
        dir = tree.AddListed("t", {}, kTimeUnknown, std::move(writer), {}, 0);
        tree.SetBase(*dir);
        EXPECT_EQ(writer.Count(), 0u);
        EXPECT_TRUE(writer.Bytes().empty());
        writer.Add("after", FileFacts{1, 1});
        EXPECT_EQ(writer.Count(), 1u) << "a writer whose bytes were taken is written again";
    } else {
        dir = tree.AddDirectory(nullptr, 0, {}, {});
        dir = &tree.SetListing(*dir, writer, 0, 0);
    }
    EXPECT_GE(tree.Bytes(), copied.Bytes().size());
    std::vector<std::pair<std::string, std::optional<FileFacts>>> read;
    ForEachFile(*dir, [&](const KeptFile& file) { read.emplace_back(file.name, file.facts); });
    ASSERT_EQ(read.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(read[i].first, files[i].first);
        ASSERT_EQ(read[i].second.has_value(), files[i].second.has_value()) << files[i].first;
        if (!files[i].second)
            continue;
        EXPECT_EQ(read[i].second->length, files[i].second->length) << files[i].first;
        EXPECT_EQ(read[i].second->onDisk, files[i].second->onDisk) << files[i].first;
        EXPECT_EQ(read[i].second->inode, files[i].second->inode) << files[i].first;
        EXPECT_EQ(read[i].second->links, files[i].second->links) << files[i].first;
        EXPECT_EQ(read[i].second->regular, files[i].second->regular) << files[i].first;
        EXPECT_EQ(read[i].second->modified, files[i].second->modified) << files[i].first;
    }
    EXPECT_EQ(dir->Own(SizeMeasure::Length), std::numeric_limits<int64_t>::max()) << "an addition that would overflow is skipped";
}

INSTANTIATE_TEST_SUITE_P(Listings, KeptTreeListing,
                         ::testing::Values(Listing{1, false}, Listing{1, true}, Listing{500, false}, Listing{500, true}),
                         [](const auto& info) {
                             return std::to_string(info.param.copies) + (info.param.taken ? "Taken" : "Copied");
                         });

TEST(KeptTreeParts, FindTakesOnlyPathsAtOrBelowTheBase)
{
    auto fs = std::make_shared<FakeFileSystem>();
    // "/basement" names a directory beside the base, whatever the base holds as "ment".
    fs->Dir("/base/a/b").Dir("/base/ab").Dir("/basement").Dir("/base/ment");
    KeptSearch search(fs, 1);
    search.Search("/base");
    const KeptTree& tree = *search.Controller().Kept();
    const struct {
        const char* path;
        const char* found;  // the name of the directory found; nullptr: none
    } cases[] = {
        {"/base", "base"},      {"/base/", "base"},   {"/base//a", "a"},   {"/base/a/b/", "b"},
        {"/base/ab", "ab"},     {"/basement", nullptr}, {"/base/c", nullptr}, {"/", nullptr},
        {"/base/a/b/c", nullptr}, {"", nullptr}, {"/base/ment", "ment"},
    };
    for (const auto& c : cases) {
        const KeptDirectory* dir = tree.Find(c.path, '/');
        EXPECT_EQ(dir ? std::string(dir->Name()) : std::string("-"), c.found ? c.found : "-") << c.path;
    }
}

}  // namespace
}  // namespace murako
