#include "row_texts.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "size_units.h"

namespace murako {
namespace {

// Header, root files, subdirectories of the given bytes and, when total is given, the total row.
ResultsTable Rows(std::vector<int64_t> subdirectories, std::optional<int64_t> total)
{
    ResultsTable table;
    InitGrid(table);
    table.SetRows(1);
    const SizeUnits units{1024, "kb", ","};
    auto write = [&](const std::string& name, int64_t bytes, RowKind kind) {
        const int32_t row = table.Rows();
        table.SetRows(row + 1);
        WriteResultRow(table, units, row, row, name, bytes);
        table.SetFacts(row, RowFacts{bytes, kind, {}, false, row, name});
    };
    write("[Root Files]", 0, RowKind::RootFiles);
    for (const int64_t bytes : subdirectories)
        write("dir", bytes, RowKind::Subdirectory);
    if (total)
        write("/base/合計", *total, RowKind::Total);
    return table;
}

// A row whose newest change is unknown says so under its size.
const std::string kUnknown = "\n最終更新: 不明";

TEST(CellNotes, ASizeGivesItsExactBytesAndItsShareOnlyOnceATotalIsWrittenInTheUsersSeparators)
{
    const NumberSeparators comma{",", "."};
    const NumberSeparators european{".", ","};
    EXPECT_EQ(CellNotes(Rows({1234567, 1}, std::nullopt), 2, 2, comma), "1,234,567 バイト" + kUnknown);
    const ResultsTable finished = Rows({2, 1, 3000, 0}, 3003);
    EXPECT_EQ(CellNotes(finished, 2, 2, european), "2 バイト（全体の 0,1 %）" + kUnknown) << "0.0666 rounds up";
    EXPECT_EQ(CellNotes(finished, 3, 2, comma), "1 バイト（全体の 0.0 %）" + kUnknown);
    EXPECT_EQ(CellNotes(finished, 4, 2, comma), "3,000 バイト（全体の 99.9 %）" + kUnknown);
    EXPECT_EQ(CellNotes(finished, 6, 2, european), "3.003 バイト" + kUnknown) << "the total is no share of itself";
    EXPECT_EQ(CellNotes(Rows({5}, 5), 2, 2, comma), "5 バイト（全体の 100.0 %）" + kUnknown);
    EXPECT_EQ(CellNotes(Rows({5}, 0), 2, 2, comma), "5 バイト" + kUnknown) << "nothing is a share of nothing";
    for (const int32_t col : {0, 1})
        EXPECT_EQ(CellNotes(finished, 4, col, comma), "");
}

TEST(CellNotes, ACutShortRowSaysSoInPlaceOfItsBytesAndUnreadPlacesFollowAnyNote)
{
    ResultsTable table = Rows({7}, std::nullopt);
    RowFacts facts = table.Facts(2);
    facts.interrupted = true;
    facts.unread.Add({"/x/b", ReadFailure::Permission});
    facts.unread.Add({"/x/a", ReadFailure::Other});
    facts.unread.count = 1001;  // more than the places kept
    table.SetFacts(2, facts);
    const std::string unread = "読み取れなかったディレクトリ: 1 001\n/x/a (読み取りエラー)\n/x/b (アクセス権がありません)\n…";
    const std::string cut = "中断したため、このディレクトリの合計は数えていません\n";
    EXPECT_EQ(CellNotes(table, 2, 0, {" ", "."}), cut + unread);
    EXPECT_EQ(CellNotes(table, 2, 1, {" ", "."}), unread);
    EXPECT_EQ(CellNotes(table, 2, 2, {" ", "."}), cut + unread);
    EXPECT_EQ(CellNotes(table, 2, static_cast<int32_t>(SortColumn::Entries), {" ", "."}), cut + unread)
        << "the count column's empty cell";
}

TEST(CellNotes, TheSizeTellsTheNamesARowHoldsAndEveryRowWhatTheSearchLeftOutOfIt)
{
    ResultsTable table = Rows({7}, 7);
    RowFacts facts = table.Facts(2);
    facts.count = EntryCount{12345, 3};
    facts.otherFileSystems.Add({"nfs4, /x/mnt", ReadFailure::None});
    table.SetFacts(2, facts);
    const std::string left = "別のファイルシステム: nfs4, /x/mnt\n除外: 3";
    EXPECT_EQ(CellNotes(table, 2, 2, {",", "."}), "7 バイト（全体の 100.0 %）\n12,345 項目" + kUnknown + "\n" + left);
    EXPECT_EQ(CellNotes(table, 2, 1, {",", "."}), left) << "the count belongs to the size";
    facts.otherFileSystems.Add({"tmpfs, /x/tmp", ReadFailure::None});
    table.SetFacts(2, facts);
    EXPECT_NE(CellNotes(table, 2, 1, {",", "."}).find("別のファイルシステム: 2\nnfs4, /x/mnt\ntmpfs, /x/tmp\n"),
              std::string::npos)
        << "several are counted, then named a line each";
    facts.interrupted = true;
    table.SetFacts(2, facts);
    EXPECT_EQ(CellNotes(table, 2, 2, {",", "."}).find("項目"), std::string::npos) << "a cut-short row counted nothing";
    RowFacts total = table.Facts(3);
    total.count = EntryCount{};
    total.baseExcluded = true;
    table.SetFacts(3, total);
    EXPECT_EQ(CellNotes(table, 3, 2, {",", "."}), "7 バイト\n0 項目" + kUnknown + "\n" + kBaseExcludedText);
}

TEST(CellNotes, TheSizeTellsTheNewestChangeInTheRowByTheClockOrThatItIsUnknown)
{
    EXPECT_EQ(NewestText(kTimeUnknown), "最終更新: 不明");
    for (const ModifiedTime time : {ModifiedTime{-1}, ModifiedTime{0}, ModifiedTime{4'102'444'800}}) {
        const std::string text = LocalTimeText(time);
        ASSERT_EQ(text.size(), 16u) << time;
        EXPECT_EQ(text[4], '/');
        EXPECT_EQ(text[13], ':');
    }
    EXPECT_TRUE(LocalTimeText(4'102'444'800).starts_with("2100/01/01") ||
                LocalTimeText(4'102'444'800).starts_with("2099/12/31"))
        << "2100 shown as it is, not wrapped";
    EXPECT_TRUE(LocalTimeText(-1).starts_with("1969/12/31") || LocalTimeText(-1).starts_with("1970/01/01"));
    ResultsTable table = Rows({7}, 7);
    RowFacts facts = table.Facts(2);
    facts.newest = 1'000'000'000;
    table.SetFacts(2, facts);
    EXPECT_EQ(CellNotes(table, 2, 2, {",", "."}),
              "7 バイト（全体の 100.0 %）\n最終更新: " + LocalTimeText(1'000'000'000));
    EXPECT_EQ(CellNotes(table, 2, 1, {",", "."}), "") << "the newest belongs to the size";
}

TEST(ScopeNote, NamesWhatTheSearchLeftOut)
{
    EXPECT_EQ(ScopeNote({true, true, {"a", "b"}}), "除外あり（パターン 2、CACHEDIR.TAG、他のファイルシステム）");
    EXPECT_EQ(ScopeNote({true, false, {}}), "除外あり（他のファイルシステム）");
}

TEST(SortNote, SaysWhichWayTheRowsRunAndWhetherTheyWaitForTheSearchsEnd)
{
    EXPECT_EQ(SortNote({}, false), "昇順に並べ替え");
    EXPECT_EQ(SortNote({SortColumn::Number, true}, false), "降順に並べ替え");
    EXPECT_EQ(SortNote({SortColumn::Size, false}, true), "降順に並べ替え（検索の終了後）");
    EXPECT_EQ(SortNote({SortColumn::Name, false}, false), "昇順に並べ替え");
}

}  // namespace
}  // namespace murako
