#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "disk_map.h"
#include "growth_colours.h"
#include "kept_compare.h"
#include "kept_json.h"
#include "kept_rows.h"
#include "largest_files.h"
#include "kept_shapes.h"
#include "random_kept_tree.h"
#include "row_order.h"
#include "rows_as_text.h"

namespace murako {
namespace {

using fakes::ExportText;
using fakes::FakeFileSystem;
using fakes::FixedChoices;
using fakes::TableLines;

// A window's worth of table and controller, without the window: searches, shows kept trees and compares.
class ComparedView {
public:
    ComparedView(std::shared_ptr<FileSystem> fileSystem, SizeMeasure measure)
    {
        InitGrid(table_);
        SearchController::Options options;
        options.threads = 1;
        options.keepTree = true;
        options.measure = measure;
        controller_ = std::make_unique<SearchController>(table_, presentation_, choices_, std::move(fileSystem),
                                                         host_, options);
    }

    SearchController& Controller() { return *controller_; }
    ResultsTable& Table() { return table_; }

    void Search(const std::string& path)
    {
        choices_.path = path;
        controller_->Command1_Click();
        host_.RunUntil([&] { return !controller_->Searching(); });
    }

    // Compares from now on with older; the error when it cannot.
    std::string CompareWith(std::unique_ptr<KeptTree> older)
    {
        KeptComparisonMade made = KeptComparison::Make(std::move(older), controller_->Kept()->BasePath(), '/');
        if (made.failure)
            return ReasonText(made.failure);
        return controller_->Compare(std::move(made.comparison)) ? std::string() : "not compared";
    }

private:
    ResultsTable table_;
    NoPresentation presentation_;
    FixedChoices choices_;
    QueueHost host_;
    std::unique_ptr<SearchController> controller_;
};

std::unique_ptr<KeptTree> ReadBack(const KeptTree& tree)
{
    KeptJsonRead read = ReadKeptJson(ExportText(tree));
    EXPECT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    return std::move(read.tree);
}

// A row's name as the comparison matches it: a subdirectory's listed name, or what the row is.
std::string Key(const RowFacts& facts)
{
    switch (facts.kind) {
    case RowKind::RootFiles: return "[root]";
    case RowKind::Total: return "[total]";
    default: return facts.listedName;
    }
}

// Every directory of a kept tree, the base's first.
std::vector<std::string> Directories(const KeptTree& tree)
{
    std::vector<std::string> paths;
    std::vector<std::pair<const KeptDirectory*, std::string>> stack{{tree.Base(), tree.BasePath()}};
    while (!stack.empty()) {
        auto [dir, path] = stack.back();
        stack.pop_back();
        paths.push_back(path);
        const std::string prefix = path.back() == '/' ? path : path + "/";
        for (uint32_t child = 0; child < dir->ChildCount(); ++child)
            if (dir->Children()[child])
                stack.emplace_back(dir->Children()[child], prefix + std::string(dir->Children()[child]->Name()));
    }
    return paths;
}

// The comparison shown at path held to what the two trees show there on their own: each row's size then is
// the size its name had then, gone rows are the names of then that are not there now, in then's listing order,
// after the others and before the total, whose change is the sum of the others'; taken off, the comparison
// leaves the rows as they were.
void ExpectComparedAsTheTreesShow(ComparedView& compared, ResultsTable& older, bool olderHasPath,
                                  const std::vector<std::string>& uncompared, const std::string& path)
{
    SCOPED_TRACE(path);
    std::map<std::string, int64_t> then;
    std::vector<std::string> thenSubdirectories;
    for (int32_t row = ResultsTable::FixedRows; olderHasPath && row < older.Rows(); ++row) {
        then[Key(older.Facts(row))] = *older.Facts(row).bytes;
        if (older.Facts(row).kind == RowKind::Subdirectory)
            thenSubdirectories.push_back(older.Facts(row).listedName);
    }
    const ResultsTable& table = compared.Table();
    ASSERT_TRUE(RowsCompared(table));
    int64_t deltaSum = 0;
    std::vector<std::string> gone;
    std::vector<std::string> now;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
        const RowFacts& facts = table.Facts(row);
        ASSERT_TRUE(facts.change) << row;
        const RowChange& change = *facts.change;
        if (facts.kind == RowKind::Total) {
            EXPECT_EQ(row, table.Rows() - 1);
            EXPECT_EQ(change.delta, deltaSum);
            EXPECT_EQ(change.before + change.delta, *facts.bytes);
            if (olderHasPath) {
                EXPECT_EQ(change.before, then.at("[total]"));
            }
            continue;
        }
        deltaSum += change.delta;
        if (facts.kind == RowKind::Gone) {
            gone.push_back(facts.listedName);
            EXPECT_EQ(change.mark, ChangeMark::Gone);
            EXPECT_EQ(*facts.bytes, 0);
            EXPECT_EQ(change.delta, -then.at(facts.listedName));
            EXPECT_EQ(table.TextAt(row, 0), "");
            continue;
        }
        EXPECT_TRUE(gone.empty()) << "a row after the gone ones";
        now.push_back(Key(facts));
        const auto found = then.find(Key(facts));
        if (found == then.end()) {
            EXPECT_EQ(change.mark, ChangeMark::New) << Key(facts);
            EXPECT_EQ(change.before, 0);
        } else {
            EXPECT_EQ(change.mark, ChangeMark::Compared) << Key(facts);
            EXPECT_EQ(change.before, found->second) << Key(facts);
        }
        EXPECT_EQ(change.delta, *facts.bytes - change.before) << Key(facts);
    }
    std::vector<std::string> expectedGone;
    for (const std::string& name : thenSubdirectories)
        if (std::find(now.begin(), now.end(), name) == now.end())
            expectedGone.push_back(name);
    EXPECT_EQ(gone, expectedGone);

    ResultsTable dropped = table.Snapshot();
    DropComparison(dropped);
    EXPECT_FALSE(RowsCompared(dropped));
    EXPECT_EQ(TableLines(dropped), uncompared);
    // Copied or saved as CSV, the rows are those the search found, as printed.
    auto every = [](const ResultsTable& rows) {
        std::vector<int32_t> all;
        for (int32_t row = ResultsTable::FixedRows; row < rows.Rows(); ++row)
            all.push_back(row);
        return all;
    };
    EXPECT_EQ(RowsAsText(table, every(table), TextFormat::Csv), RowsAsText(dropped, every(dropped), TextFormat::Csv));
}

// Walks every directory of the current tree and of the older one while comparing, down and up.
void ExpectEveryDirectoryCompared(ComparedView& compared, std::unique_ptr<KeptTree> older,
                                  const std::shared_ptr<FileSystem>& fileSystem, SizeMeasure measure)
{
    const std::vector<std::string> paths = Directories(*compared.Controller().Kept());
    ComparedView plain(fileSystem, measure);
    plain.Controller().ShowImported(ReadBack(*compared.Controller().Kept()), "now");
    ComparedView then(fileSystem, measure);
    then.Controller().ShowImported(ReadBack(*older), "then");
    ASSERT_EQ(compared.CompareWith(std::move(older)), "");
    ASSERT_GT(paths.size(), 3u);
    // Down in the order of a depth-first walk, then back up from the deepest.
    std::vector<std::string> walk = paths;
    walk.insert(walk.end(), paths.rbegin(), paths.rend());
    for (const std::string& path : walk) {
        ASSERT_TRUE(compared.Controller().ShowKept(path)) << path;
        ASSERT_TRUE(plain.Controller().ShowKept(path)) << path;
        const bool olderHasPath = then.Controller().ShowKept(path);
        ExpectComparedAsTheTreesShow(compared, then.Table(), olderHasPath, TableLines(plain.Table()), path);
    }
}

struct Shape {
    const char* name;
    std::function<void(FakeFileSystem&)> make;
    SizeMeasure measure;
};

void PrintTo(const Shape& shape, std::ostream* out)
{
    *out << shape.name;
}

class KeptCompareShapes : public ::testing::TestWithParam<Shape> {};

TEST_P(KeptCompareShapes, ASearchComparedWithItselfChangesNothing)
{
    auto fs = std::make_shared<FakeFileSystem>();
    GetParam().make(*fs);
    ComparedView compared(fs, GetParam().measure);
    compared.Search("/base");
    std::unique_ptr<KeptTree> same = ReadBack(*compared.Controller().Kept());
    ExpectEveryDirectoryCompared(compared, std::move(same), fs, GetParam().measure);
    for (int32_t row = ResultsTable::FixedRows; row < compared.Table().Rows(); ++row) {
        EXPECT_EQ(compared.Table().Facts(row).change->delta, 0);
        EXPECT_EQ(compared.Table().Facts(row).change->mark, ChangeMark::Compared);
        EXPECT_EQ(compared.Table().Facts(row).change->text, "0");
    }
}

// Files grown and added here and there, a directory added and one removed at the top and deeper down.
void Change(FakeFileSystem& fs, const std::vector<std::string>& directories)
{
    for (size_t i = 0; i < directories.size(); i += 3)
        fs.File(FakeFileSystem::Normal(directories[i]) + "/grown", static_cast<int64_t>(1000 * (i + 1)));
    fs.File("/base/added/f", 4321).File("/base/added/below/g", 5);
    for (const std::string& path : {std::string("/base"), FakeFileSystem::Normal(directories.back())}) {
        std::vector<std::string>& children = fs.At(path).children;
        const auto removed = std::find_if(children.begin(), children.end(), [&](const std::string& name) {
            return fs.At(path + "/" + name).isDirectory && name != "added";
        });
        if (removed != children.end())
            children.erase(removed);
    }
}

TEST_P(KeptCompareShapes, ASearchComparedWithAnOlderOneTellsEachRowsChangeAndTheDirectoriesGone)
{
    auto fs = std::make_shared<FakeFileSystem>();
    GetParam().make(*fs);
    ComparedView compared(fs, GetParam().measure);
    compared.Search("/base");
    std::unique_ptr<KeptTree> older = ReadBack(*compared.Controller().Kept());
    Change(*fs, Directories(*older));
    compared.Search("/base");
    ExpectEveryDirectoryCompared(compared, std::move(older), fs, GetParam().measure);
    ASSERT_TRUE(compared.Controller().ShowKept("/base"));
    const ResultsTable& table = compared.Table();
    int32_t goneRows = 0;
    int32_t newRows = 0;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
        goneRows += table.Facts(row).kind == RowKind::Gone;
        newRows += table.Facts(row).change->mark == ChangeMark::New;
        if (table.Facts(row).listedName == "added" && GetParam().measure == SizeMeasure::Length) {
            EXPECT_EQ(table.Facts(row).change->text, "新 +4");  // 4,326 bytes
        }
    }
    EXPECT_EQ(goneRows, 1);
    EXPECT_EQ(newRows, 1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, KeptCompareShapes,
                         ::testing::Values(Shape{"Unread", fakes::UnreadPlacesTree, SizeMeasure::Length},
                                           Shape{"WideAndDeep", fakes::WideAndDeepTree, SizeMeasure::Length},
                                           Shape{"Linked", fakes::LinkedTree, SizeMeasure::Length},
                                           Shape{"LinkedOnDisk", fakes::LinkedTree, SizeMeasure::OnDisk}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two random trees of one base share the names of their top levels and little else below.
TEST(KeptCompareRandom, EveryDirectoryOfOneRandomTreeComparesWithAnotherAsTheTwoShowIt)
{
    auto fs = std::make_shared<FakeFileSystem>();
    for (const uint32_t seed : {1u, 2u, 3u}) {
        for (const SizeMeasure measure : {SizeMeasure::Length, SizeMeasure::OnDisk}) {
            ComparedView compared(fs, measure);
            compared.Controller().ShowImported(fakes::RandomKeptTree(seed), "now");
            ExpectEveryDirectoryCompared(compared, fakes::RandomKeptTree(seed + 10), fs, measure);
            ComparedView itself(fs, measure);
            itself.Controller().ShowImported(fakes::RandomKeptTree(seed), "now");
            ASSERT_EQ(itself.CompareWith(fakes::RandomKeptTree(seed)), "");
            for (const std::string& path : Directories(*itself.Controller().Kept())) {
                ASSERT_TRUE(itself.Controller().ShowKept(path));
                for (int32_t row = ResultsTable::FixedRows; row < itself.Table().Rows(); ++row)
                    ASSERT_EQ(itself.Table().Facts(row).change->delta, 0) << path << " " << row;
            }
        }
    }
}

struct BaseMatch {
    const char* name;
    const char* olderBase;
    const char* searched;
    bool compares;
    const char* shown;  // a directory searched
    const char* olderShown;  // its older self below the older base, "" the base; nullptr when not held
};

void PrintTo(const BaseMatch& match, std::ostream* out)
{
    *out << match.name;
}

class KeptCompareBases : public ::testing::TestWithParam<BaseMatch> {};

TEST_P(KeptCompareBases, AnOlderSearchComparesOnlyWhereItsBaseIsTheSearchedDirectoryOrAboveOrBelowIt)
{
    const BaseMatch& match = GetParam();
    auto older = std::make_unique<KeptTree>(match.olderBase);
    KeptDirectory* base = older->AddDirectory(nullptr, 0, {}, {});
    base = &older->SetListing(*base, {}, 1, 0);
    KeptDirectory* below = older->AddDirectory(base, 0, "a", {});
    below = &older->SetListing(*below, {}, 1, 0);
    (void)older->SetListing(*older->AddDirectory(below, 0, "b", {}), {}, 0, 0);
    older->Complete();
    KeptComparisonMade made = KeptComparison::Make(std::move(older), match.searched, '/');
    const std::unique_ptr<KeptComparison>& comparison = made.comparison;
    ASSERT_EQ(comparison != nullptr, match.compares) << ReasonText(made.failure);
    ASSERT_EQ(!made.failure, match.compares);
    if (!comparison) {
        EXPECT_EQ(made.failure.reason, Reason::SearchOfOtherDirectory);
        EXPECT_NE(ReasonText(made.failure).find(match.olderBase), std::string::npos) << ReasonText(made.failure);
        return;
    }
    const KeptDirectory* expected = nullptr;
    if (match.olderShown) {
        expected = comparison->Older().Base();
        for (const char name : std::string_view(match.olderShown))
            expected = expected->Child(std::string(1, name));
    }
    EXPECT_EQ(comparison->OlderAt(match.shown), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bases, KeptCompareBases,
    ::testing::Values(BaseMatch{"Same", "/base", "/base/", true, "/base/a/", "a"},
                      BaseMatch{"SameWithOtherSeparators", "C:\\base", "C:/base", true, "C:/base/a/b/", "ab"},
                      BaseMatch{"OlderAbove", "/base", "/base/a", true, "/base/a/b/", "ab"},
                      BaseMatch{"OlderBelow", "/base/a", "/base", true, "/base/", nullptr},
                      BaseMatch{"OlderBelowShownBelow", "/base/a", "/base", true, "/base/a/b", "b"},
                      BaseMatch{"NotHeldThen", "/base", "/base", true, "/base/c/", nullptr},
                      BaseMatch{"BackslashInAName", "/base", "/base", true, "/base/a\\b/", nullptr},
                      BaseMatch{"NameThatBeginsAlike", "/base", "/base2", false, "", nullptr},
                      BaseMatch{"Elsewhere", "/other", "/base", false, "", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeptCompareBases, NothingReadComparesWithNothingAndSaysSo)
{
    for (const bool treeWithoutBase : {false, true}) {
        auto older = treeWithoutBase ? std::make_unique<KeptTree>("/base") : nullptr;
        const KeptComparisonMade made = KeptComparison::Make(std::move(older), "/base", '/');
        EXPECT_EQ(made.comparison, nullptr);
        EXPECT_EQ(made.failure.reason, Reason::EmptySearch);
    }
}

struct ChangeCase {
    int64_t delta;
    const char* unit;
    const char* text;
};

class KeptCompareChangeText : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(KeptCompareChangeText, IsSignedInTheUnitChosenAndTellsASmallChangeFromNone)
{
    const SizeUnits units{1024, GetParam().unit, ","};
    EXPECT_EQ(ChangeText(GetParam().delta, units), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Texts, KeptCompareChangeText,
                         ::testing::Values(ChangeCase{0, "kb", "0"}, ChangeCase{1234 * 1024, "kb", "+1,234"},
                                           ChangeCase{-56 * 1024, "kb", "-56"}, ChangeCase{100, "kb", "+0"},
                                           ChangeCase{-100, "kb", "-0"}, ChangeCase{3 << 20, "Mb", "+3"},
                                           ChangeCase{-(5LL << 30), "Mb", "-5,120"}));

// The larger growth first, the gone rows among the shrunk, the total last; reversed, the other way round.
TEST(KeptCompareOrder, RowsOrderedByTheirChangeKeepTheTotalLastAndTheOrderEndsWithTheComparison)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fakes::WideAndDeepTree(*fs);
    ComparedView compared(fs, SizeMeasure::Length);
    compared.Search("/base");
    std::unique_ptr<KeptTree> older = ReadBack(*compared.Controller().Kept());
    Change(*fs, Directories(*older));
    compared.Search("/base");
    ASSERT_EQ(compared.CompareWith(std::move(older)), "");
    const ResultsTable& table = compared.Table();
    for (const bool reversed : {false, true}) {
        compared.Controller().SetSortOrder({SortColumn::Change, reversed});
        std::vector<int64_t> deltas;
        for (int32_t row = ResultsTable::FixedRows; row + 1 < table.Rows(); ++row)
            deltas.push_back(table.Facts(row).change->delta);
        EXPECT_EQ(table.Facts(table.Rows() - 1).kind, RowKind::Total);
        if (reversed)
            EXPECT_TRUE(std::is_sorted(deltas.begin(), deltas.end()));
        else
            EXPECT_TRUE(std::is_sorted(deltas.rbegin(), deltas.rend()));
        EXPECT_LT(deltas.back() * (reversed ? -1 : 1), 0);
    }
    compared.Controller().EndComparison();
    EXPECT_EQ(compared.Controller().Order(), SortOrder{});
    EXPECT_FALSE(RowsCompared(table));
    ComparedView plain(fs, SizeMeasure::Length);
    plain.Search("/base");
    EXPECT_EQ(TableLines(table), TableLines(plain.Table()));
}

TEST(KeptCompareEnd, ANewSearchOrAnotherTreeShownEndsTheComparisonAndItsRowsGo)
{
    for (const bool search : {true, false}) {
        auto fs = std::make_shared<FakeFileSystem>();
        fakes::UnreadPlacesTree(*fs);
        ComparedView compared(fs, SizeMeasure::Length);
        compared.Search("/base");
        std::unique_ptr<KeptTree> older = ReadBack(*compared.Controller().Kept());
        std::vector<std::string>& children = fs->At("/base").children;
        children.erase(std::find(children.begin(), children.end(), "b"));
        compared.Search("/base");
        ASSERT_EQ(compared.CompareWith(ReadBack(*older)), "");
        ASSERT_TRUE(RowsCompared(compared.Table()));
        if (search)
            compared.Search("/base/a");
        else
            compared.Controller().ShowImported(std::move(older), "older");
        EXPECT_EQ(compared.Controller().Comparison(), nullptr);
        EXPECT_FALSE(RowsCompared(compared.Table()));
        for (int32_t row = ResultsTable::FixedRows; row < compared.Table().Rows(); ++row)
            EXPECT_NE(compared.Table().Facts(row).kind, RowKind::Gone);
        ASSERT_TRUE(compared.Controller().ShowKept(compared.Controller().ShownPath()));
        EXPECT_FALSE(RowsCompared(compared.Table()));
    }
}

// Each data row's name and how it compares: its size then and its mark.
std::vector<std::string> ChangeLines(const ResultsTable& table)
{
    std::vector<std::string> lines;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
        const RowFacts& facts = table.Facts(row);
        const char* mark = facts.change->mark == ChangeMark::New ? " new" : facts.change->mark == ChangeMark::Gone ? " gone" : "";
        lines.push_back(Key(facts) + " " + std::to_string(facts.change->before) + mark);
    }
    return lines;
}

// A saved search of a subdirectory is that subdirectory then: its row compares with the file's top, and the
// rows the file knows nothing of are new.
TEST(KeptCompareBelow, ASavedSearchOfASubdirectoryComparesItsRowWithTheFilesTop)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fs->File("/base/a/f", 10).File("/base/b/g", 20).File("/base/h", 5);
    ComparedView compared(fs, SizeMeasure::Length);
    compared.Search("/base/b");
    std::unique_ptr<KeptTree> older = ReadBack(*compared.Controller().Kept());
    fs->File("/base/b/g2", 7);
    compared.Search("/base");
    ASSERT_EQ(compared.CompareWith(std::move(older)), "");
    EXPECT_EQ(ChangeLines(compared.Table()),
              (std::vector<std::string>{"[root] 0 new", "a 0 new", "b 20", "[total] 20"}));
    ASSERT_TRUE(compared.Controller().ShowKept("/base/b"));
    EXPECT_EQ(ChangeLines(compared.Table()), (std::vector<std::string>{"[root] 20", "[total] 20"}));
}

struct Alike {
    const char* name;
    const char* now;    // the tree shown, read from a file
    const char* then;   // the saved search compared with
    std::vector<std::string> rows;
};

void PrintTo(const Alike& given, std::ostream* out)
{
    *out << given.name;
}

class KeptCompareAlike : public ::testing::TestWithParam<Alike> {};

// No path tells entries of one name apart: each is left unmatched, none dropped.
TEST_P(KeptCompareAlike, EntriesOfOneNameAreLeftUnmatched)
{
    ComparedView compared(std::make_shared<FakeFileSystem>(), SizeMeasure::Length);
    compared.Controller().ShowImported(ReadKeptJson(GetParam().now).tree, "now");
    ASSERT_EQ(compared.CompareWith(ReadKeptJson(GetParam().then).tree), "");
    EXPECT_EQ(ChangeLines(compared.Table()), GetParam().rows);
    if (std::string_view(GetParam().name) == "Then") {
        EXPECT_FALSE(compared.Controller().Comparison()->OlderAt("/base/a/")) << "nor compared below";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sides, KeptCompareAlike,
    ::testing::Values(Alike{"Then", R"([1,2,{},[{"name":"/base"},[{"name":"a"},{"name":"f","asize":9}]]])",
                            R"([1,2,{},[{"name":"/base"},[{"name":"a"},{"name":"f","asize":3}],[{"name":"a"},{"name":"f","asize":4}]]])",
                            {"[root] 0", "a 0 new", "a 3 gone", "a 4 gone", "[total] 7"}},
                      Alike{"Now", R"([1,2,{},[{"name":"/base"},[{"name":"a"},{"name":"f","asize":3}],[{"name":"a"},{"name":"f","asize":4}]]])",
                            R"([1,2,{},[{"name":"/base"},[{"name":"a"},{"name":"f","asize":5}]]])",
                            {"[root] 0", "a 0 new", "a 0 new", "a 5 gone", "[total] 5"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A tree of one directory "d" and the files given, by name and length.
std::unique_ptr<KeptTree> FilesTree(const std::vector<std::pair<std::string, int64_t>>& files)
{
    auto tree = std::make_unique<KeptTree>("/base");
    KeptDirectory* base = tree->AddDirectory(nullptr, 0, {}, {});
    base = &tree->SetListing(*base, {}, 1, 0);
    KeptFilesWriter writer;
    for (const auto& [name, length] : files)
        writer.Add(name, FileFacts{length, length});
    (void)tree->SetListing(*tree->AddDirectory(base, 0, "d", {}), writer, 0, 0);
    tree->Complete();
    return tree;
}

TEST(KeptCompareMap, FilesAreGreyWhereNothingChangedRedWhereTheyGrewAndBlueWhereTheyShrank)
{
    const std::unique_ptr<KeptTree> now = FilesTree({{"same", 4000}, {"grown", 3000}, {"shrunk", 2000}, {"new", 1000}});
    auto colours = [&](const KeptTree& older) {
        const std::vector<MapItem> items = LayOutMap(*now->Base(), SizeMeasure::Length, {0, 0, 400, 300});
        const std::vector<int64_t> before = OlderSizes(items, SizeMeasure::Length, [&](const KeptDirectory& dir) {
            return older.Find(KeptPath(dir, now->BasePath(), '/'), '/');
        });
        const std::vector<uint32_t> shades = GrowthColours(items, before);
        std::map<std::string, uint32_t> byName;
        for (size_t i = 0; i < items.size(); ++i)
            byName[std::string(items[i].name)] = shades[i];
        return byName;
    };
    const std::map<std::string, uint32_t> itself = colours(*FilesTree({{"same", 4000}, {"grown", 3000}, {"shrunk", 2000}, {"new", 1000}}));
    for (const char* name : {"same", "grown", "shrunk", "new"})
        EXPECT_EQ(itself.at(name), kUnchangedColour) << name;
    const std::map<std::string, uint32_t> changed = colours(*FilesTree({{"same", 4000}, {"grown", 1500}, {"shrunk", 4000}}));
    EXPECT_EQ(changed.at("same"), kUnchangedColour);
    EXPECT_EQ(changed.at("new"), 0xd03020u);  // all of it new: the full colour
    const auto red = [](uint32_t colour) { return static_cast<int>(colour >> 16); };
    const auto blue = [](uint32_t colour) { return static_cast<int>(colour & 0xff); };
    EXPECT_GT(red(changed.at("grown")), red(kUnchangedColour));
    EXPECT_LT(blue(changed.at("grown")), blue(kUnchangedColour));
    EXPECT_GT(blue(changed.at("shrunk")), blue(kUnchangedColour));
    EXPECT_LT(red(changed.at("shrunk")), red(kUnchangedColour));
    EXPECT_EQ(changed.at("d"), 0u);  // a directory's frame keeps its grey
}

}  // namespace
}  // namespace murako
