// The optional columns 項目数 and 最終更新 over trees of random shape: shown from the kept tree, their cells, their
// order and their CSV fields hold what a fresh search of the same tree counts for each row, or the newest
// change each row's entries tell.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_run.h"
#include "kept_rows.h"
#include "optional_columns.h"
#include "random_kept_tree.h"
#include "row_order.h"
#include "row_texts.h"
#include "rows_as_text.h"
#include "size_units.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;

// The kept tree's directories and files made on the file system at the tree's base path; every directory's path.
std::vector<std::string> MakeOn(FakeFileSystem& fs, const KeptTree& tree)
{
    std::vector<std::string> paths;
    std::vector<std::pair<const KeptDirectory*, std::string>> open{{tree.Base(), tree.BasePath()}};
    while (!open.empty()) {
        const auto [dir, path] = open.back();
        open.pop_back();
        fs.Dir(path);
        paths.push_back(path);
        ForEachFile(*dir, [&](const KeptFile& file) {
            const std::string at = path + "/" + std::string(file.name);
            fs.File(at, file.facts ? file.facts->length : 0);
            fs.At(at).lengthFails = !file.facts;
        });
        for (uint32_t i = 0; i < dir->ChildCount(); ++i)
            open.emplace_back(dir->Children()[i], path + "/" + std::string(dir->Children()[i]->Name()));
    }
    return paths;
}

// What a row stands for, whatever its place: its kind and its directory's name.
std::string RowKey(const RowFacts& facts)
{
    return std::to_string(static_cast<int>(facts.kind)) + "/" + facts.listedName;
}

// Each row's count as a fresh search of path counts it.
std::map<std::string, int64_t> FreshCounts(std::shared_ptr<FakeFileSystem> fs, const std::string& path)
{
    ResultsTable fresh;
    InitGrid(fresh);
    SearchController::Options options;
    options.threads = 1;
    SearchWithoutWindow(fresh, std::move(fs), path, options);
    std::map<std::string, int64_t> counts;
    for (int32_t row = ResultsTable::FixedRows; row < fresh.Rows(); ++row) {
        const RowFacts& facts = fresh.Facts(row);
        EXPECT_TRUE(facts.count.has_value()) << path << " row " << row;
        counts[RowKey(facts)] = facts.count ? facts.count->entries : -1;
    }
    return counts;
}

// The last field of each line of comma-separated text, the header's first.
std::vector<std::string> LastFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        fields.push_back(line.substr(line.rfind(',') + 1));
    }
    return fields;
}

class EntryColumnOfRandomTree : public testing::TestWithParam<uint32_t> {};

TEST_P(EntryColumnOfRandomTree, CellsOrderAndCsvHoldAFreshSearchsCounts)
{
    const uint32_t seed = GetParam();
    auto fs = std::make_shared<FakeFileSystem>();
    const std::vector<std::string> paths = MakeOn(*fs, *fakes::RandomKeptTree(seed, 4, 4, 12));
    fakes::ImportedView view(fs, fakes::RandomKeptTree(seed, 4, 4, 12));
    const OptionalColumn& column = *FindOptionalColumn(SortColumn::Entries);
    const std::vector<SortColumn> shown{SortColumn::Number, SortColumn::Name, SortColumn::Size, SortColumn::Entries};
    for (size_t i = 0; i < paths.size(); i += 3) {
        const std::string& path = paths[i];
        SCOPED_TRACE(path);
        const std::map<std::string, int64_t> fresh = FreshCounts(fs, path);
        ASSERT_TRUE(view.Controller().ShowKept(path));
        ResultsTable table = view.Table().Snapshot();
        SortRows(table, {SortColumn::Entries, false}, RanksInByteOrder);
        std::vector<int32_t> rows;
        int64_t above = INT64_MAX;
        for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
            const RowFacts& facts = table.Facts(row);
            const int64_t expected = fresh.at(RowKey(facts));
            EXPECT_EQ(column.text(facts, ","), FormatGrouped(expected, ",")) << RowKey(facts);
            if (facts.kind != RowKind::Total) {
                EXPECT_LE(expected, above) << "the most names first";
                above = expected;
            }
            rows.push_back(row);
        }
        EXPECT_EQ(table.Facts(table.Rows() - 1).kind, RowKind::Total) << "the total keeps its place";
        const std::vector<std::string> written = LastFields(RowsAsText(table, rows, TextFormat::Csv, shown));
        ASSERT_EQ(written.size(), rows.size() + 1);
        EXPECT_EQ(written[0], "項目数");
        for (size_t at = 0; at < rows.size(); ++at)
            EXPECT_EQ(written[at + 1], std::to_string(fresh.at(RowKey(table.Facts(rows[at])))));
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, EntryColumnOfRandomTree, testing::Values(1u, 2u, 5u, 11u, 42u));

// The newest change of each row of dir, counted entry by entry: a subdirectory's subtree, directories included,
// "[Root Files]"'s files alone, and the total all of them with dir itself.
std::map<std::string, ModifiedTime> NewestByRow(const KeptDirectory& dir)
{
    std::map<std::string, ModifiedTime> newest;
    ModifiedTime all = dir.Modified();
    for (KeptWalk walk(dir); walk.Next();) {
        if (walk.Depth() == 0 && !walk.AtFile())
            continue;
        const KeptDirectory* row = &walk.Directory();
        while (row->parent != &dir && row != &dir)
            row = row->parent;
        const ModifiedTime time = walk.AtFile() ? (walk.File().facts ? walk.File().facts->modified : kTimeUnknown)
                                                : walk.Directory().Modified();
        const std::string key = row == &dir ? "1/" : "2/" + std::string(row->Name());
        newest.try_emplace(key, kTimeUnknown);
        newest[key] = Newer(newest[key], time);
        all = Newer(all, time);
    }
    newest["3/"] = all;
    return newest;
}

// The row's key with a total's listed name left out, as NewestByRow names rows.
std::string NewestRowKey(const RowFacts& facts)
{
    return facts.kind == RowKind::Total ? "3/" : RowKey(facts);
}

class NewestColumnOfRandomTree : public testing::TestWithParam<uint32_t> {};

TEST_P(NewestColumnOfRandomTree, CellsOrderAndCsvHoldTheNewestChangeBelowEachRow)
{
    const uint32_t seed = GetParam();
    fakes::ImportedView view(std::make_shared<FakeFileSystem>(), fakes::RandomKeptTree(seed, 4, 4, 12, true));
    const KeptTree& tree = *view.Controller().Kept();
    const OptionalColumn& column = *FindOptionalColumn(SortColumn::Newest);
    const std::vector<SortColumn> shown{SortColumn::Number, SortColumn::Name, SortColumn::Size, SortColumn::Newest};
    for (const std::string path : {"/random", "/random/d0", "/random/d1/d2", "/random/d3/d0"}) {
        SCOPED_TRACE(path);
        const KeptDirectory* dir = tree.Find(path, '/');
        if (!dir || !view.Controller().ShowKept(path))
            continue;
        const std::map<std::string, ModifiedTime> expected = NewestByRow(*dir);
        ResultsTable table = view.Table().Snapshot();
        SortRows(table, {SortColumn::Newest, false}, RanksInByteOrder);
        std::vector<int32_t> rows;
        std::optional<int64_t> above = INT64_MAX;
        for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
            const RowFacts& facts = table.Facts(row);
            const auto found = expected.find(NewestRowKey(facts));
            const ModifiedTime newest = found == expected.end() ? kTimeUnknown : found->second;
            EXPECT_EQ(column.text(facts, ","), LocalTimeText(newest)) << NewestRowKey(facts);
            if (facts.kind != RowKind::Total) {
                const std::optional<int64_t> key = column.key(facts);
                EXPECT_TRUE(!key || (above && *key <= *above)) << "the newest first, the unknown last";
                above = key;
            }
            rows.push_back(row);
        }
        EXPECT_EQ(table.Facts(table.Rows() - 1).kind, RowKind::Total) << "the total keeps its place";
        const std::vector<std::string> written = LastFields(RowsAsText(table, rows, TextFormat::Csv, shown));
        ASSERT_EQ(written.size(), rows.size() + 1);
        EXPECT_EQ(written[0], "最終更新");
        for (size_t at = 0; at < rows.size(); ++at)
            EXPECT_EQ(written[at + 1], column.text(table.Facts(rows[at]), ","));
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, NewestColumnOfRandomTree, testing::Values(1u, 3u, 8u, 42u));

// A row with no time to tell shows nothing, one whose time is unknown "不明", which orders below every known time.
TEST(NewestColumn, TellsUnknownTimesAndNothingForRowsWithoutOne)
{
    const OptionalColumn& column = *FindOptionalColumn(SortColumn::Newest);
    const RowFacts counted{.bytes = 10, .kind = RowKind::Subdirectory, .newest = 1'700'000'000};
    EXPECT_EQ(column.text(counted, ","), LocalTimeText(1'700'000'000));
    EXPECT_EQ(column.key(counted), 1'700'000'000);
    RowFacts unknown = counted;
    unknown.newest = kTimeUnknown;
    EXPECT_EQ(column.text(unknown, ","), "不明");
    EXPECT_EQ(column.key(unknown), std::nullopt);
    RowFacts early = counted;
    early.newest = -86'400;
    EXPECT_EQ(column.key(early), -86'400) << "before 1970 is a time like any other";
    for (RowFacts without : {RowFacts{.bytes = 10, .kind = RowKind::Subdirectory, .interrupted = true},
                             RowFacts{.bytes = 10, .kind = RowKind::Subdirectory, .moved = true},
                             RowFacts{.bytes = 0, .kind = RowKind::Gone}, RowFacts{.kind = RowKind::Subdirectory}}) {
        without.newest = 1'700'000'000;
        EXPECT_EQ(column.text(without, ","), "");
        EXPECT_EQ(column.key(without), std::nullopt);
    }
}

// The copied and saved text has the design's four fields unless the column is shown; a column that comes only
// with a comparison is never written; a row a cancel cut short has no count to write.
TEST(EntryColumn, IsWrittenOnlyWhileShown)
{
    ResultsTable table;
    InitGrid(table);
    table.SetRows(3);
    for (int32_t row : {1, 2}) {
        SetCellText(table, row, 1, "d" + std::to_string(row));
        table.SetFacts(row, {.bytes = 10, .kind = RowKind::Subdirectory, .interrupted = row == 2, .number = row,
                             .change = RowChange{0, 5, ChangeMark::Compared, "+5"}, .count = EntryCount{1234, 0}});
    }
    const std::string header = LastFields(RowsAsText(table, {}, TextFormat::Csv)).front();
    EXPECT_EQ(header, "バイト");
    EXPECT_EQ(LastFields(RowsAsText(table, {1}, TextFormat::Csv, std::vector{SortColumn::Change})),
              LastFields(RowsAsText(table, {1}, TextFormat::Csv)));
    const std::vector<SortColumn> shown{SortColumn::Change, SortColumn::Entries};
    EXPECT_EQ(LastFields(RowsAsText(table, {1, 2}, TextFormat::Csv, shown)),
              (std::vector<std::string>{"項目数", "1234", ""}));
    EXPECT_EQ(RowsAsText(table, {1}, TextFormat::Tsv, shown), "№\tディレクトリ\tサイズ\tバイト\t項目数\n\td1\t\t10\t1234\n");
}

}  // namespace
}  // namespace murako
