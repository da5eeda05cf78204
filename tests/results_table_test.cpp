#include "results_table.h"
#include "table_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace murako {
namespace {

struct RecordingObserver : TableObserver {
    std::vector<std::string> events;
    void RowsChanged(int32_t rows) override { events.push_back("rows " + std::to_string(rows)); }
    void CellChanged(int32_t row, int32_t col) override
    {
        events.push_back("cell " + std::to_string(row) + "," + std::to_string(col));
    }
    void CurrentCellChanged(int32_t row, int32_t col) override
    {
        events.push_back("current " + std::to_string(row) + "," + std::to_string(col));
    }
};

std::string ReadCell(ResultsTable& table, int32_t row, int32_t col)
{
    table.SetRow(row);
    table.SetCol(col);
    return table.Text();
}

TEST(ResultsTable, StartsInTheDesignShapeAndInitGridSetsColumnsAndHeader)
{
    ResultsTable table;
    EXPECT_EQ(table.Rows(), 2);
    EXPECT_EQ(ResultsTable::Cols, 3);
    EXPECT_EQ(ResultsTable::FixedRows, 1);
    EXPECT_EQ(ResultsTable::FixedCols, 1);

    InitGrid(table);
    EXPECT_EQ(table.ColWidth(0), 400);
    EXPECT_EQ(table.ColWidth(1), 5000);
    EXPECT_EQ(table.ColWidth(2), 900);
    EXPECT_EQ(table.FixedAlignment(0), Alignment::LeftCenter);
    EXPECT_EQ(table.ColAlignment(1), Alignment::General);
    EXPECT_EQ(table.ColAlignment(2), Alignment::LeftCenter);
    EXPECT_EQ(table.Row(), 0);
    EXPECT_EQ(table.Col(), 2);
    EXPECT_EQ(table.Rows(), 2);
    EXPECT_EQ(ReadCell(table, 0, 0), "№");
    EXPECT_EQ(ReadCell(table, 0, 1), "ディレクトリ");
    EXPECT_EQ(ReadCell(table, 0, 2), "サイズ");
    for (int32_t col = 0; col < 3; ++col)
        EXPECT_EQ(ReadCell(table, 1, col), "");
}

TEST(ResultsTable, GrowingKeepsTextsAndShrinkingDropsRowsBeyond)
{
    ResultsTable table;
    InitGrid(table);
    table.SetRows(5);
    SetCellText(table, 1, 1, "one");
    SetCellText(table, 4, 2, "four");

    table.SetRows(7);
    EXPECT_EQ(ReadCell(table, 1, 1), "one");
    EXPECT_EQ(ReadCell(table, 4, 2), "four");
    EXPECT_EQ(ReadCell(table, 6, 0), "");

    table.SetRows(2);
    EXPECT_EQ(table.Rows(), 2);
    EXPECT_EQ(ReadCell(table, 0, 1), "ディレクトリ");
    EXPECT_EQ(ReadCell(table, 1, 1), "one") << "row 1 keeps its text until overwritten";

    table.SetRows(5);
    EXPECT_EQ(ReadCell(table, 4, 2), "") << "rows dropped by shrinking come back empty";
    EXPECT_THROW(table.SetRows(0), TableIndexError);
    EXPECT_EQ(table.Rows(), 5);
}

TEST(ResultsTable, ShrinkingBelowTheCurrentRowMovesItToTheLastRow)
{
    ResultsTable table;
    table.SetRows(10);
    SetCellText(table, 9, 1, "x");
    table.SetRows(3);
    EXPECT_EQ(table.Row(), 2);
    EXPECT_EQ(table.Col(), 1);
}

TEST(ResultsTable, OutOfRangeIndicesAreErrorsThatChangeNothing)
{
    ResultsTable table;
    InitGrid(table);
    SetCellText(table, 1, 1, "kept");

    EXPECT_THROW(table.SetRow(2), TableIndexError);
    EXPECT_THROW(table.SetRow(-1), TableIndexError);
    EXPECT_THROW(table.SetCol(3), TableIndexError);
    EXPECT_THROW(table.SetCol(-1), TableIndexError);
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(table.Col(), 1);

    EXPECT_THROW(SetCellText(table, 2, 0, "beyond"), TableIndexError);
    EXPECT_EQ(table.Rows(), 2) << "the table never grows by writing";
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(table.Text(), "kept");
    EXPECT_THROW(table.TextAt(2, 0), TableIndexError);
    EXPECT_THROW(table.ColWidth(3), TableIndexError);
}

TEST(ResultsTable, WritesAndReadsLeaveTheCurrentCellWhereTheyWent)
{
    ResultsTable table;
    SetCellText(table, 1, 0, "a");
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(table.Col(), 0);
    ReadCell(table, 0, 2);
    EXPECT_EQ(table.Row(), 0);
    EXPECT_EQ(table.Col(), 2);
    EXPECT_EQ(table.TextAt(1, 0), "a");
    EXPECT_EQ(table.Row(), 0) << "a view's read does not move the current cell";
}

TEST(ResultsTable, KeepsUnicodeTextAsWritten)
{
    ResultsTable table;
    const std::string text = "写真 📷 \xC3\xA9t\xC3\xA9";
    SetCellText(table, 1, 1, text);
    EXPECT_EQ(table.Text(), text);
}

TEST(ResultsTable, TellsItsObserverWhatChanged)
{
    ResultsTable table;
    RecordingObserver observer;
    table.SetObserver(&observer);

    SetCellText(table, 0, 2, "サイズ");
    table.SetRows(4);
    SetCellText(table, 3, 2, "x");
    SetCellText(table, 3, 2, "y");
    table.SetRows(2);
    table.SetRows(2);

    const std::vector<std::string> expected{
        "current 0,1", "current 0,2", "cell 0,2", "rows 4",  "current 3,2",
        "cell 3,2",    "cell 3,2",    "rows 2",   "current 1,2",
    };
    EXPECT_EQ(observer.events, expected);

    // A snapshot holds the cells and the current cell as they were, and nobody watches it.
    SetCellText(table, 1, 1, "before");
    table.SetRowBytes(1, 42);
    ResultsTable snapshot = table.Snapshot();
    observer.events.clear();
    SetCellText(snapshot, 1, 2, "in the snapshot");
    snapshot.SetRows(5);
    EXPECT_TRUE(observer.events.empty());
    SetCellText(table, 1, 1, "after");
    EXPECT_EQ(snapshot.TextAt(1, 1), "before");
    EXPECT_EQ(snapshot.Facts(1).bytes, 42);
    EXPECT_EQ(table.TextAt(1, 2), "");
}

TEST(ResultsTableFacts, UnreadPlacesAreCountedOnceAndGoWithTheirRows)
{
    ResultsTable table;
    InitGrid(table);
    UnreadPlaces two;
    two.Add({"/x/a", ReadFailure::Permission});
    two.Add({"/x/b", ReadFailure::Vanished});
    UnreadPlaces one;
    one.Add({"/x/c", ReadFailure::Loop});
    table.SetRows(4);
    fakes::SetUnread(table, 2, two);
    fakes::SetUnread(table, 3, one);
    EXPECT_EQ(table.UnreadCount(), 3) << "a cancelled run's rows, summed";

    UnreadPlaces all = two;
    all.Merge(one);
    table.SetRows(5);
    fakes::SetUnread(table, 4, all, RowKind::Total);
    EXPECT_EQ(table.UnreadCount(), 3) << "the total row holds its rows' places again";
    EXPECT_EQ(all.first.size(), 3u);
    EXPECT_EQ(all.first[2].path, "/x/c") << "kept in path order";

    table.SetRows(2);
    table.SetRows(5);
    EXPECT_EQ(table.UnreadCount(), 0) << "rows dropped from the table take their facts along";
    EXPECT_EQ(table.Facts(4).kind, RowKind::NotWritten);
}

}  // namespace
}  // namespace murako
