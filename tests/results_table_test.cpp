#include "results_table.h"
#include "table_rows.h"

#include <gtest/gtest.h>

#include <optional>
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

// Every fact a row can hold, with the listed name either the shown one or a name of its own.
RowFacts EveryFact(int32_t number, const std::string& listedName)
{
    RowFacts facts;
    facts.bytes = 1000 + number;
    facts.kind = RowKind::Subdirectory;
    facts.unread.Add({"/base/unread" + std::to_string(number), ReadFailure::Permission});
    facts.interrupted = true;
    facts.number = number;
    facts.listedName = listedName;
    facts.notEntered.Add({"/base/proc" + std::to_string(number), ReadFailure::None});
    facts.moved = true;
    facts.change = RowChange{7, -3 - number, ChangeMark::New, "-3 kb"};
    facts.count = EntryCount{(int64_t{1} << 40) + number, 2};  // more names than a row holds inline
    facts.otherFileSystems.Add({"/base/mnt" + std::to_string(number), ReadFailure::None});
    facts.baseExcluded = true;
    return facts;
}

// Most rows: a size, a count and a listed name that is the shown one, and nothing else.
RowFacts CommonFacts(int32_t number, const std::string& listedName)
{
    RowFacts facts;
    facts.bytes = number * 10;
    facts.kind = RowKind::Subdirectory;
    facts.number = number;
    facts.listedName = listedName;
    facts.count = EntryCount{number, 0};
    return facts;
}

void ExpectSameFacts(const RowFacts& got, const RowFacts& wanted)
{
    EXPECT_EQ(got.bytes, wanted.bytes);
    EXPECT_EQ(got.kind, wanted.kind);
    EXPECT_EQ(got.unread.count, wanted.unread.count);
    EXPECT_EQ(got.unread.first, wanted.unread.first);
    EXPECT_EQ(got.interrupted, wanted.interrupted);
    EXPECT_EQ(got.number, wanted.number);
    EXPECT_EQ(got.listedName, wanted.listedName);
    EXPECT_EQ(got.notEntered.count, wanted.notEntered.count);
    EXPECT_EQ(got.notEntered.first, wanted.notEntered.first);
    EXPECT_EQ(got.moved, wanted.moved);
    ASSERT_EQ(got.change.has_value(), wanted.change.has_value());
    if (wanted.change) {
        EXPECT_EQ(got.change->before, wanted.change->before);
        EXPECT_EQ(got.change->delta, wanted.change->delta);
        EXPECT_EQ(got.change->mark, wanted.change->mark);
        EXPECT_EQ(got.change->text, wanted.change->text);
    }
    EXPECT_EQ(got.count, wanted.count);
    EXPECT_EQ(got.otherFileSystems.count, wanted.otherFileSystems.count);
    EXPECT_EQ(got.otherFileSystems.first, wanted.otherFileSystems.first);
    EXPECT_EQ(got.baseExcluded, wanted.baseExcluded);
}

struct FactsCase {
    const char* what;
    RowFacts (*make)(int32_t number, const std::string& listedName);
    bool listedIsShown;
};

class RowFactsKept : public ::testing::TestWithParam<FactsCase> {};

TEST_P(RowFactsKept, EveryFactReadsBackAndGoesWithItsRowWhenRowsMove)
{
    const FactsCase& param = GetParam();
    ResultsTable table;
    InitGrid(table);
    table.SetRows(ResultsTable::FixedRows);
    std::vector<RowFacts> written(5);
    for (int32_t row = 1; row <= 4; ++row) {
        const std::string shown = "name" + std::to_string(row);
        fakes::AddRow(table, std::to_string(row), shown, std::to_string(row) + " kb");
        written[row] = param.make(row, param.listedIsShown ? shown : "listed\xff" + std::to_string(row));
        table.SetFacts(row, written[row]);
    }
    for (int32_t row = 1; row <= 4; ++row)
        ExpectSameFacts(table.Facts(row), written[row]);

    table.SetRow(2);
    table.ReorderRows({0, 3, 4, 2, 1});
    EXPECT_EQ(table.Row(), 3) << "the current cell stays on its row";
    for (const auto& [row, from] : {std::pair{1, 3}, {2, 4}, {3, 2}, {4, 1}}) {
        ExpectSameFacts(table.Facts(row), written[from]);
        EXPECT_EQ(table.TextAt(row, 1), "name" + std::to_string(from));
        EXPECT_EQ(table.TextAt(row, 2), std::to_string(from) + " kb");
    }

    // A row shown under another name afterwards still tells the name it was listed under.
    SetCellText(table, 4, 1, "renamed");
    ExpectSameFacts(table.Facts(4), written[1]);
    const ResultsTable snapshot = table.Snapshot();
    SetCellText(table, 1, 1, "changed after the snapshot");
    ExpectSameFacts(snapshot.Facts(1), written[3]);
    EXPECT_EQ(snapshot.TextAt(4, 1), "renamed");
}

INSTANTIATE_TEST_SUITE_P(Rows, RowFactsKept,
                         ::testing::Values(FactsCase{"every fact, listed as shown", EveryFact, true},
                                           FactsCase{"every fact, listed otherwise", EveryFact, false},
                                           FactsCase{"common facts, listed as shown", CommonFacts, true},
                                           FactsCase{"common facts, listed otherwise", CommonFacts, false}),
                         [](const auto& info) { return std::string(info.param.make == EveryFact ? "Every" : "Common") +
                                                       (info.param.listedIsShown ? "ListedAsShown" : "ListedOtherwise"); });

TEST(ResultsTableTexts, TextsOfEveryLengthSurviveRewritingInAnyOrder)
{
    ResultsTable table;
    InitGrid(table);
    constexpr int32_t Rows = 3000;
    table.SetRows(Rows + 1);
    // Lengths on both sides of one length byte, and at one cell a text longer than a block of texts.
    const std::vector<std::string> texts{"", "a", std::string(127, 'b'), std::string(128, 'c'), "名前"};
    auto textOf = [&](int32_t row, int32_t col, int round) {
        return row == 7 && col == 1 ? std::string(70000 + round, 'd') : texts[(row * 3 + col + round) % texts.size()];
    };
    // Rewritten far from the last row written, so that the space given up builds and the texts are packed anew.
    for (int round = 0; round < 4; ++round)
        for (int32_t col = 0; col < ResultsTable::Cols; ++col)
            for (int32_t row = 1; row <= Rows; ++row)
                SetCellText(table, row, col, textOf(row, col, round));
    for (int32_t row = 1; row <= Rows; ++row)
        for (int32_t col = 0; col < ResultsTable::Cols; ++col)
            ASSERT_EQ(table.TextAt(row, col), textOf(row, col, 3)) << row << "," << col;
    EXPECT_EQ(table.TextAt(0, 1), "ディレクトリ") << "the header row is a row like the others";

    table.SetRows(2);
    table.SetRows(4);
    EXPECT_EQ(table.TextAt(1, 2), textOf(1, 2, 3));
    EXPECT_EQ(table.TextAt(3, 1), "") << "a row added again starts empty";
}

}  // namespace
}  // namespace murako
