#include "row_order.h"
#include "rows_as_text.h"
#include "size_units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace murako {
namespace {

// A finished table: [Root Files], the given subdirectories with their byte counts in listing order, a total.
class SortedTable : public ::testing::Test {
protected:
    void Fill(const std::vector<std::pair<std::string, int64_t>>& rows)
    {
        InitGrid(table);
        const SizeUnits units{1024, "kb", ","};
        int32_t row = 1;
        int64_t total = 0;
        auto write = [&](const std::string& name, int64_t bytes, RowKind kind) {
            table.SetRows(row + 1);
            WriteResultRow(table, units, row, row, name, bytes);
            table.SetFacts(row, RowFacts{bytes, kind, {}, false, row, name});
            total += bytes;
            ++row;
        };
        write("[Root Files]", 100, RowKind::RootFiles);
        for (const auto& [name, bytes] : rows)
            write(name, bytes, RowKind::Subdirectory);
        write("/base/合計", total, RowKind::Total);
    }

    // "№ name" of every data row, top to bottom.
    std::vector<std::string> Shown() const
    {
        std::vector<std::string> shown;
        for (int32_t row = 1; row < table.Rows(); ++row)
            shown.push_back(table.TextAt(row, 0) + " " + table.TextAt(row, 1));
        return shown;
    }

    ResultsTable table;
};

TEST_F(SortedTable, SizesSortByExactBytesLargestFirstThenSmallestAndTiesKeepTheListingOrder)
{
    // "9 kb" reads larger than "10 kb" as text; 1,000 bytes and 1,500 bytes both show "1 kb".
    Fill({{"nine", 9 * 1024}, {"ten", 10 * 1024}, {"a", 1500}, {"b", 1000}, {"c", 1500}, {"mega", 1048576}});
    SortRows(table, {SortColumn::Name, true}, RanksInByteOrder);  // c before a: the ties must not stay so
    SortRows(table, {SortColumn::Size, false}, RanksInByteOrder);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"7 mega", "3 ten", "2 nine", "4 a", "6 c", "5 b", "1 [Root Files]",
                                                 "8 /base/合計"}));
    SortRows(table, {SortColumn::Size, true}, RanksInByteOrder);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"1 [Root Files]", "5 b", "4 a", "6 c", "2 nine", "3 ten", "7 mega",
                                                 "8 /base/合計"}))
        << "ties stay in listing order both ways";
    SortRows(table, {SortColumn::Number, false}, RanksInByteOrder);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"1 [Root Files]", "2 nine", "3 ten", "4 a", "5 b", "6 c", "7 mega",
                                                 "8 /base/合計"}));
    SortRows(table, {SortColumn::Number, true}, RanksInByteOrder);
    EXPECT_EQ(Shown().front(), "7 mega");
    EXPECT_EQ(Shown().back(), "8 /base/合計");
}

TEST_F(SortedTable, NamesSortByTheirRanksAndTheFactsTravelWithTheirRows)
{
    Fill({{"b", 1}, {"a2", 2}, {"a10", 3}, {"b", 4}});
    // A collation that puts numbers in order of their value: a2 before a10.
    const NameRanks natural = [](const std::vector<std::string>& names) {
        std::vector<int32_t> ranks;
        for (const std::string& name : names)
            ranks.push_back(name == "[Root Files]" ? 0 : name == "a2" ? 1 : name == "a10" ? 2 : 3);
        return ranks;
    };
    SortRows(table, {SortColumn::Name, false}, natural);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"1 [Root Files]", "3 a2", "4 a10", "2 b", "5 b", "6 /base/合計"}));
    EXPECT_EQ(table.Facts(3).bytes, 3);
    EXPECT_EQ(table.Facts(3).listedName, "a10");
    EXPECT_EQ(table.Facts(3).number, 4);
    SortRows(table, {SortColumn::Name, true}, natural);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"2 b", "5 b", "4 a10", "3 a2", "1 [Root Files]", "6 /base/合計"}));
    SortRows(table, {SortColumn::Name, false}, RanksInByteOrder);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"1 [Root Files]", "4 a10", "3 a2", "2 b", "5 b", "6 /base/合計"}));
}

TEST_F(SortedTable, TheCurrentCellStaysOnItsRowAndTheObserverHearsOfTheMove)
{
    Fill({{"small", 1}, {"big", 1 << 20}});
    struct Observer : TableObserver {
        int reorders = 0;
        void RowsChanged(int32_t) override {}
        void CellChanged(int32_t, int32_t) override {}
        void CurrentCellChanged(int32_t, int32_t) override {}
        void RowsReordered() override { ++reorders; }
    } observer;
    table.SetObserver(&observer);
    SetCellText(table, 2, 1, "small");  // current: the "small" row
    SortRows(table, {SortColumn::Size, false}, RanksInByteOrder);
    EXPECT_EQ(table.Row(), 3);
    EXPECT_EQ(table.TextAt(table.Row(), 1), "small");
    EXPECT_EQ(observer.reorders, 1);
    SortRows(table, {SortColumn::Size, false}, RanksInByteOrder);
    EXPECT_EQ(observer.reorders, 1) << "an order already in place moves nothing";
    table.SetObserver(nullptr);
}

TEST(ResultsTable, AReorderMustKeepTheHeaderFirstAndEveryRowOnce)
{
    ResultsTable table;
    table.SetRows(4);
    SetCellText(table, 1, 1, "one");
    EXPECT_THROW(table.ReorderRows({0, 1, 1, 3}), TableIndexError);
    EXPECT_THROW(table.ReorderRows({1, 0, 2, 3}), TableIndexError);
    EXPECT_THROW(table.ReorderRows({0, 1, 2}), TableIndexError);
    EXPECT_THROW(table.ReorderRows({0, 1, 2, 4}), TableIndexError);
    EXPECT_EQ(table.TextAt(1, 1), "one");
    table.ReorderRows({0, 3, 2, 1});
    EXPECT_EQ(table.TextAt(3, 1), "one");
}

TEST(SortOrder, ASecondClickTurnsTheColumnRoundAndSizesStartLargestFirst)
{
    const SortOrder size = NextOrder({}, SortColumn::Size);
    EXPECT_EQ(size, (SortOrder{SortColumn::Size, false}));
    EXPECT_TRUE(Descending(size));
    EXPECT_FALSE(Descending(NextOrder(size, SortColumn::Size)));
    EXPECT_EQ(NextOrder(size, SortColumn::Name), (SortOrder{SortColumn::Name, false}));
    EXPECT_FALSE(Descending(NextOrder(size, SortColumn::Name)));
    EXPECT_EQ(NextOrder({SortColumn::Number, false}, SortColumn::Number), (SortOrder{SortColumn::Number, true}));
}

TEST_F(SortedTable, CopiedAndSavedTextKeepsHostileNamesWhole)
{
    Fill({{"a,b", 2048}, {"say \"hi\"", 1}, {"tab\there", 5}, {"two\nlines", 7}, {"bad\xEF\xBF\xBD", 0}});
    RowFacts cut = table.Facts(6);
    cut.interrupted = true;
    table.SetFacts(6, cut);
    const std::vector<int32_t> rows{1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(RowsAsText(table, rows, TextFormat::Csv),
              "\xEF\xBB\xBF№,ディレクトリ,サイズ,バイト\r\n"
              "1,[Root Files],0 kb,100\r\n"
              "2,\"a,b\",2 kb,2048\r\n"
              "3,\"say \"\"hi\"\"\",0 kb,1\r\n"
              "4,tab\there,0 kb,5\r\n"
              "5,\"two\nlines\",0 kb,7\r\n"
              "6,bad\xEF\xBF\xBD,0 kb,\r\n"
              "7,/base/合計,2 kb,2161\r\n");
    EXPECT_EQ(RowsAsText(table, {4, 2}, TextFormat::Tsv),
              "№\tディレクトリ\tサイズ\tバイト\n"
              "4\t\"tab\there\"\t0 kb\t5\n"
              "2\ta,b\t2 kb\t2048\n");
}

TEST_F(SortedTable, NamesASpreadsheetWouldRunAsFormulasAreSavedAndCopiedAsTextWithPlainByteCounts)
{
    Fill({{"=1+1", 1}, {"+1", 2}, {"-1", 3}, {"@SUM(A1)", 4}, {"=HYPERLINK(\"http:x\",\"y\")", 5}, {"\tcmd", 6},
          {"\rcmd", 7}, {"a=b-1@c", 8}, {"'", 9}});
    EXPECT_EQ(RowsAsText(table, {2, 3, 4, 5, 6, 7, 8, 9, 10}, TextFormat::Csv),
              "\xEF\xBB\xBF№,ディレクトリ,サイズ,バイト\r\n"
              "2,'=1+1,0 kb,1\r\n"
              "3,'+1,0 kb,2\r\n"
              "4,'-1,0 kb,3\r\n"
              "5,'@SUM(A1),0 kb,4\r\n"
              "6,\"'=HYPERLINK(\"\"http:x\"\",\"\"y\"\")\",0 kb,5\r\n"
              "7,'\tcmd,0 kb,6\r\n"
              "8,\"'\rcmd\",0 kb,7\r\n"
              "9,a=b-1@c,0 kb,8\r\n"
              "10,',0 kb,9\r\n");
    EXPECT_EQ(RowsAsText(table, {2, 7}, TextFormat::Tsv),
              "№\tディレクトリ\tサイズ\tバイト\n"
              "2\t'=1+1\t0 kb\t1\n"
              "7\t\"'\tcmd\"\t0 kb\t6\n");
}

}  // namespace
}  // namespace murako
