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

std::string ReadCell(ResultsTable& grid, int32_t row, int32_t col)
{
    grid.SetRow(row);
    grid.SetCol(col);
    return grid.Text();
}

TEST(ResultsTable, StartsInTheDesignShapeAndInitGridSetsColumnsAndHeader)
{
    ResultsTable grid;
    EXPECT_EQ(grid.Rows(), 2);
    EXPECT_EQ(ResultsTable::Cols, 3);
    EXPECT_EQ(ResultsTable::FixedRows, 1);
    EXPECT_EQ(ResultsTable::FixedCols, 1);

    InitGrid(grid);
    EXPECT_EQ(grid.ColWidth(0), 400);
    EXPECT_EQ(grid.ColWidth(1), 5000);
    EXPECT_EQ(grid.ColWidth(2), 900);
    EXPECT_EQ(grid.FixedAlignment(0), Alignment::LeftCenter);
    EXPECT_EQ(grid.ColAlignment(1), Alignment::General);
    EXPECT_EQ(grid.ColAlignment(2), Alignment::LeftCenter);
    EXPECT_EQ(grid.Row(), 0);
    EXPECT_EQ(grid.Col(), 2);
    EXPECT_EQ(grid.Rows(), 2);
    EXPECT_EQ(ReadCell(grid, 0, 0), "№");
    EXPECT_EQ(ReadCell(grid, 0, 1), "ディレクトリ");
    EXPECT_EQ(ReadCell(grid, 0, 2), "サイズ");
    for (int32_t col = 0; col < 3; ++col)
        EXPECT_EQ(ReadCell(grid, 1, col), "");
}

TEST(ResultsTable, GrowingKeepsTextsAndShrinkingDropsRowsBeyond)
{
    ResultsTable grid;
    InitGrid(grid);
    grid.SetRows(5);
    SetCellText(grid, 1, 1, "one");
    SetCellText(grid, 4, 2, "four");

    grid.SetRows(7);
    EXPECT_EQ(ReadCell(grid, 1, 1), "one");
    EXPECT_EQ(ReadCell(grid, 4, 2), "four");
    EXPECT_EQ(ReadCell(grid, 6, 0), "");

    grid.SetRows(2);
    EXPECT_EQ(grid.Rows(), 2);
    EXPECT_EQ(ReadCell(grid, 0, 1), "ディレクトリ");
    EXPECT_EQ(ReadCell(grid, 1, 1), "one") << "row 1 keeps its text until overwritten";

    grid.SetRows(5);
    EXPECT_EQ(ReadCell(grid, 4, 2), "") << "rows dropped by shrinking come back empty";
    EXPECT_THROW(grid.SetRows(0), GridIndexError);
    EXPECT_EQ(grid.Rows(), 5);
}

TEST(ResultsTable, ShrinkingBelowTheCurrentRowMovesItToTheLastRow)
{
    ResultsTable grid;
    grid.SetRows(10);
    SetCellText(grid, 9, 1, "x");
    grid.SetRows(3);
    EXPECT_EQ(grid.Row(), 2);
    EXPECT_EQ(grid.Col(), 1);
}

TEST(ResultsTable, OutOfRangeIndicesAreErrorsThatChangeNothing)
{
    ResultsTable grid;
    InitGrid(grid);
    SetCellText(grid, 1, 1, "kept");

    EXPECT_THROW(grid.SetRow(2), GridIndexError);
    EXPECT_THROW(grid.SetRow(-1), GridIndexError);
    EXPECT_THROW(grid.SetCol(3), GridIndexError);
    EXPECT_THROW(grid.SetCol(-1), GridIndexError);
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_EQ(grid.Col(), 1);

    EXPECT_THROW(SetCellText(grid, 2, 0, "beyond"), GridIndexError);
    EXPECT_EQ(grid.Rows(), 2) << "the table never grows by writing";
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_EQ(grid.Text(), "kept");
    EXPECT_THROW(grid.TextAt(2, 0), GridIndexError);
    EXPECT_THROW(grid.ColWidth(3), GridIndexError);
}

TEST(ResultsTable, WritesAndReadsLeaveTheCurrentCellWhereTheyWent)
{
    ResultsTable grid;
    SetCellText(grid, 1, 0, "a");
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_EQ(grid.Col(), 0);
    ReadCell(grid, 0, 2);
    EXPECT_EQ(grid.Row(), 0);
    EXPECT_EQ(grid.Col(), 2);
    EXPECT_EQ(grid.TextAt(1, 0), "a");
    EXPECT_EQ(grid.Row(), 0) << "a view's read does not move the current cell";
}

TEST(ResultsTable, KeepsUnicodeTextAsWritten)
{
    ResultsTable grid;
    const std::string text = "写真 📷 \xC3\xA9t\xC3\xA9";
    SetCellText(grid, 1, 1, text);
    EXPECT_EQ(grid.Text(), text);
}

TEST(ResultsTable, TellsItsObserverWhatChanged)
{
    ResultsTable grid;
    RecordingObserver observer;
    grid.SetObserver(&observer);

    SetCellText(grid, 0, 2, "サイズ");
    grid.SetRows(4);
    SetCellText(grid, 3, 2, "x");
    SetCellText(grid, 3, 2, "y");
    grid.SetRows(2);
    grid.SetRows(2);

    const std::vector<std::string> expected{
        "current 0,1", "current 0,2", "cell 0,2", "rows 4",  "current 3,2",
        "cell 3,2",    "cell 3,2",    "rows 2",   "current 1,2",
    };
    EXPECT_EQ(observer.events, expected);

    // A snapshot holds the cells and the current cell as they were, and nobody watches it.
    SetCellText(grid, 1, 1, "before");
    grid.SetRowBytes(1, 42);
    ResultsTable snapshot = grid.Snapshot();
    observer.events.clear();
    SetCellText(snapshot, 1, 2, "in the snapshot");
    snapshot.SetRows(5);
    EXPECT_TRUE(observer.events.empty());
    SetCellText(grid, 1, 1, "after");
    EXPECT_EQ(snapshot.TextAt(1, 1), "before");
    EXPECT_EQ(snapshot.Facts(1).bytes, 42);
    EXPECT_EQ(grid.TextAt(1, 2), "");
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
