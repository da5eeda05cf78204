#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_run.h"
#include "kept_compare.h"
#include "kept_json.h"
#include "kept_rows.h"
#include "kept_shapes.h"
#include "kept_tree.h"
#include "row_texts.h"

namespace murako {
namespace {

using fakes::ExportText;
using fakes::FakeFileSystem;
using fakes::Gate;
using fakes::ImportedView;
using fakes::KeptSearch;
using fakes::ScopedTree;
using fakes::ScopedTreeScope;
using fakes::TableLines;
using fakes::WideAndDeepTree;

// The facts of the row of that name in the table shown.
RowFacts RowNamed(const ResultsTable& table, const std::string& listedName, RowKind kind = RowKind::Subdirectory)
{
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row)
        if (table.Facts(row).kind == kind && (kind != RowKind::Subdirectory || table.Facts(row).listedName == listedName))
            return table.Facts(row);
    throw std::runtime_error("no row " + listedName);
}

// The paths of the other file systems a row names, as its tooltip shows them.
std::vector<std::string> OtherFileSystems(const RowFacts& facts)
{
    std::vector<std::string> paths;
    for (const UnreadPlaces::Place& place : facts.otherFileSystems.first)
        paths.push_back(place.path);
    return paths;
}

// Held to the rows of the search ScopedTree's tests make: each row what its subtree left out, and why.
void ExpectScopedRows(const ResultsTable& table, const std::string& when)
{
    EXPECT_EQ(RowNamed(table, "", RowKind::RootFiles).count->excluded, 1) << when << ": r.o";
    const RowFacts& a = RowNamed(table, "a");
    EXPECT_EQ(a.count->excluded, 4) << when << ": x.o, node_modules, sub/y.o, sub/node_modules";
    EXPECT_EQ(OtherFileSystems(a), std::vector<std::string>{"/base/a/sub/nas"}) << when << ": a type no mount names";
    EXPECT_EQ(OtherFileSystems(RowNamed(table, "mnt")), std::vector<std::string>{"nfs4, /base/mnt"}) << when;
    EXPECT_EQ(RowNamed(table, "mnt").bytes, 0) << when;
    EXPECT_EQ(RowNamed(table, "cache").count->excluded, 1) << when;
    EXPECT_EQ(RowNamed(table, "b").count->excluded, 0) << when << ": a tag without the signature";
    const RowFacts& total = RowNamed(table, "", RowKind::Total);
    EXPECT_EQ(total.count->excluded, 6) << when;
    EXPECT_EQ(total.otherFileSystems.count, 2) << when;
}

class KeptScopeTest : public ::testing::TestWithParam<int> {};

TEST_P(KeptScopeTest, GoingDownAndUpFromMemoryKeepsWhatWasLeftOutAndWhy)
{
    auto fs = std::make_shared<FakeFileSystem>();
    ScopedTree(*fs);
    KeptSearch search(fs, GetParam(), SizeMeasure::Length, ScopedTreeScope());
    search.Search("/base");
    ExpectScopedRows(search.Table(), "searched");
    const std::vector<std::string> searched = TableLines(search.Table());
    ASSERT_FALSE(search.Kept("/base/a").empty());
    EXPECT_EQ(RowNamed(search.Table(), "sub").count->excluded, 2);
    EXPECT_EQ(RowNamed(search.Table(), "", RowKind::RootFiles).count->excluded, 2) << "x.o and node_modules";
    EXPECT_EQ(search.Kept("/base"), searched);
    ExpectScopedRows(search.Table(), "shown from memory");
    EXPECT_EQ(search.Controller().Kept()->Scope(), ScopedTreeScope());
}

// The names left out are written as ncdu writes them, and read back with their marks, by either reader.
TEST_P(KeptScopeTest, ASavedSearchCarriesWhatItLeftOutAndOpensWithTheSameRows)
{
    auto fs = std::make_shared<FakeFileSystem>();
    ScopedTree(*fs);
    // Records of many kilobytes, which the tree keeps where they were written, with the names left out after them.
    for (int file = 0; file < 1000; ++file)
        fs->File("/base/a/many" + std::to_string(file), 1);
    KeptSearch search(fs, GetParam(), SizeMeasure::Length, ScopedTreeScope());
    search.Search("/base");
    const std::string text = ExportText(*search.Controller().Kept());
    for (const char* written : {R"({"name":"x.o","excluded":"pattern"})", R"({"name":"node_modules","excluded":"pattern"})",
                                R"({"name":"mnt","excluded":"otherfs","murako_fs_type":"nfs4"})",
                                R"({"name":"nas","excluded":"otherfs"})",
                                R"({"name":"cache","excluded":"pattern","murako_cache":true})",
                                R"("murako_scope":"one-file-system\nexclude-caches\nexclude=*.o\nexclude=node_modules")"})
        EXPECT_NE(text.find(written), std::string::npos) << written << " in\n" << text;
    std::string outOfTheOrdinary = text;
    outOfTheOrdinary.insert(outOfTheOrdinary.find("\"progname\""), "\"version\":1.5,");
    for (const bool quickly : {true, false}) {
        KeptJsonRead read = ReadKeptJson(quickly ? text : outOfTheOrdinary);
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        EXPECT_EQ(read.readQuickly, quickly);
        EXPECT_EQ(read.tree->Scope(), ScopedTreeScope());
        EXPECT_FALSE(read.tree->CutShort());
        ImportedView view(fs, std::move(read.tree));
        for (const std::string path : {"/base", "/base/a", "/base/a/sub"})
            EXPECT_EQ(view.Rows(path), search.Kept(path)) << path << (read.readQuickly ? " quickly" : " thoroughly");
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, KeptScopeTest, ::testing::Values(1, 4));

TEST(KeptScopeFiles, ReadsTheEntriesNcduLeftOutWithTheirMarks)
{
    const std::string file = R"([1,2,{"progname":"ncdu","progver":"1.18","timestamp":1},
[{"name":"/t","asize":4096,"dsize":4096,"dev":65024},
[{"name":"cache","excluded":"pattern"}],
[{"name":"proc","dev":21,"excluded":"othfs"}],
{"name":"nas","excluded":"otherfs"},
{"name":"sys","excluded":"kernfs"},
[{"name":"a","asize":4096,"dsize":4096},
{"name":"x.o","dev":0,"excluded":"pattern"},
{"name":"y","asize":3,"dsize":4096}]]])";
    for (const bool thoroughly : {false, true}) {
        std::string text = file;
        if (thoroughly)
            text.insert(text.find("\"progname\""), "\"version\":1.5,");
        const KeptJsonRead read = ReadKeptJson(text);
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        const KeptDirectory& top = *read.tree->Base();
        EXPECT_EQ(top.ChildCount(), 4u) << "an excluded directory is a name left out, as a file is";
        EXPECT_EQ(top.ExcludedNames(), 1u);
        EXPECT_TRUE(top.Child("proc")->flags & KeptDirectory::OtherFileSystem) << "ncdu 1 words it othfs";
        EXPECT_TRUE(top.Child("nas")->flags & KeptDirectory::OtherFileSystem);
        EXPECT_TRUE(top.Child("sys")->flags & KeptDirectory::PseudoFileSystem);
        EXPECT_EQ(top.Child("a")->ExcludedNames(), 1u);
        EXPECT_EQ(top.Child("a")->FileCount(), 1u);
        EXPECT_EQ(top.ExcludedBelow(), 2u);
        EXPECT_EQ(top.Entries(), 5) << "proc, nas, sys, a and a's y; the names left out are not entries";
        EXPECT_EQ(read.tree->Scope(), SearchScope{}) << "another program's file says nothing of its options";
    }
}

// A cancel at the opening of one row: the walk of the rows before it is done, that row cut short.
class CutShortTest : public ::testing::TestWithParam<int> {};

TEST_P(CutShortTest, ACancelledSearchIsKeptAsTheCancelLeftItAndSavedAndOpenedSo)
{
    auto fs = std::make_shared<FakeFileSystem>();
    WideAndDeepTree(*fs);
    Gate gate;
    fs->At("/base/d5/s0").whenOpened = [&gate] { gate.Pass(); };
    KeptSearch search(fs, GetParam());
    search.SetPath("/base");
    search.Controller().Command1_Click();
    ASSERT_TRUE(gate.WaitForWaiter());
    // The window has shown the rows done before the cancel: the header, [Root Files] and d0 to d4.
    search.RunUntil([&] { return search.Table().Rows() == 7; });
    search.Controller().Command1_Click();
    gate.Open();
    search.RunUntil([&] { return search.Controller().Kept() != nullptr; });
    const KeptTree& kept = *search.Controller().Kept();
    ASSERT_TRUE(kept.CutShort());
    EXPECT_TRUE(search.Progress().ends_with(std::string(ProgressSeparator) + "中断"))
        << "the cancel's own words stay while the rows are the run's: " << search.Progress();
    const std::vector<std::string> atCancel = TableLines(search.Table());
    ASSERT_TRUE(search.Table().Facts(search.Table().Rows() - 1).interrupted) << "the rows end with the row cut short";
    EXPECT_EQ(search.Kept("/base"), atCancel) << "shown from memory as the cancel left it";
    EXPECT_EQ(search.Kept("/base/d2"), search.Fresh("/base/d2", 1)) << "a row walked before the cancel is whole";

    const std::string text = ExportText(kept);
    EXPECT_NE(text.find(R"("murako_incomplete":true)"), std::string::npos);
    EXPECT_NE(text.find(R"({"name":"d5","asize":0,"dsize":0,"read_error":true,"murako_cut_short":true})"),
              std::string::npos)
        << "each directory left unfinished reads as one not read to its end\n" << text;
    KeptJsonRead read = ReadKeptJson(text);
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    EXPECT_TRUE(read.tree->CutShort());
    EXPECT_EQ(read.tree->Base()->Child("d5")->failure, ReadFailure::None) << "cut short is no read failure";
    ImportedView view(fs, std::move(read.tree));
    EXPECT_EQ(view.Rows("/base"), atCancel);
}

INSTANTIATE_TEST_SUITE_P(Threads, CutShortTest, ::testing::Values(1, 4));

TEST(CutShortCompare, TheSecondPanelSaysWhenEitherSearchWasCutShortOrLeftOutOtherwise)
{
    EXPECT_EQ(ComparedSearchesNote({}, false, {}, false), "");
    EXPECT_EQ(ComparedSearchesNote({}, false, {}, true), "前回の検索は中断されています");
    EXPECT_EQ(ComparedSearchesNote({true, false, {}}, true, {}, false),
              "今回の検索は中断されています　前回と除外の設定が異なります（前回: 除外なし）");
    EXPECT_EQ(ComparedSearchesNote({}, false, {false, false, {"*.o"}}, false),
              "前回と除外の設定が異なります（前回: 除外あり（パターン 1））");
}

}  // namespace
}  // namespace murako
