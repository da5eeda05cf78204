#include "results_grid.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <cmath>
#include <gtest/gtest.h>

#include "size_units.h"
#include "text.h"
#include "table_rows.h"
#include "twips.h"
#include "window_test_support.h"

namespace murako {
namespace {

class GridTest : public ::testing::Test {
protected:
    GridTest() : grid(table)
    {
        InitGrid(table);
        grid.resize(441, 289);
        grid.show();
    }
    void AddRow(const std::string& name, const std::string& size)
    {
        fakes::AddRow(table, std::to_string(table.Rows()), name, size);
    }
    // Lets the view catch up with the model: its repaint waits for the next frame, however late that comes.
    void Settle() { ASSERT_TRUE(fakes::WaitUntil([&] { return !grid.CatchingUp(); })); }
    QImage Shown()
    {
        Settle();
        return grid.viewport()->grab().toImage();
    }
    QColor Role(QPalette::ColorRole role) { return grid.palette().color(role); }
    int Px(int twips) { return TwipsToPixels(twips, grid.logicalDpiX()); }
    // Whether the cell shows its whole text: the text's exact advance fits between the cell's paddings.
    bool Whole(int row, int col)
    {
        const QString text = QString::fromStdString(table.TextAt(row, col));
        return QFontMetricsF(grid.font()).horizontalAdvance(text) <=
               grid.CellRect(row, col).width() - 2 * ResultsGrid::TextPadding;
    }
    void DragHeaderBorder(int col, int dx)
    {
        const QPoint from(grid.CellRect(0, col).right() + 1, grid.CellRect(0, col).center().y());
        QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(grid.viewport(), from + QPoint(dx / 2, 0));
        QTest::mouseMove(grid.viewport(), from + QPoint(dx, 0));
        QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, from + QPoint(dx, 0));
    }

    ResultsTable table;
    ResultsGrid grid;
};

TEST(GeneralAlignment, TextThatReadsAsANumberGoesRight)
{
    for (const char* number : {"2004", "-1.5", "1,234", " 12 ", "+7", ".5", "1e3"})
        EXPECT_TRUE(ReadsAsNumber(QString::fromUtf8(number))) << number;
    for (const char* text : {"", "kb", "12a", "1 kb", ".", "-", "[Root Files]", "1.2.3"})
        EXPECT_FALSE(ReadsAsNumber(QString::fromUtf8(text))) << text;
}

TEST_F(GridTest, AlignsFixedCellsLeftNamesByTheGeneralRuleAndSizesLeft)
{
    AddRow("2004", "1,234 kb");
    AddRow("photos", "12 kb");
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    EXPECT_EQ(grid.CellAlignment(0, 0), left);
    EXPECT_EQ(grid.CellAlignment(2, 0), left) << "row numbers are fixed cells";
    EXPECT_EQ(grid.CellAlignment(0, 1), left);
    EXPECT_EQ(grid.CellAlignment(2, 1), right);
    EXPECT_EQ(grid.CellAlignment(3, 1), left);
    EXPECT_EQ(grid.CellAlignment(2, 2), left);

    // Drawn where the alignment says: the ink of "2004" ends near the cell's right edge.
    const QImage image = Shown();
    const QRect cell = grid.CellRect(2, 1);
    const QColor base = Role(QPalette::Base);
    int inkLeft = cell.right(), inkRight = cell.left();
    for (int x = cell.left() + 1; x < cell.right(); ++x)
        for (int y = cell.top() + 1; y < cell.bottom(); ++y)
            if (image.pixelColor(x, y) != base) {
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
            }
    EXPECT_GT(inkLeft, cell.center().x());
    EXPECT_GT(inkRight, cell.right() - 8);
}

TEST_F(GridTest, PaintsFixedCellsGridLinesTheCurrentCellAndGreyBeyondTheLastRow)
{
    AddRow("a", "1 kb");
    AddRow("b", "2 kb");
    SetCellText(table, 1, 1, "a");
    const QImage image = Shown();
    auto at = [&](QPoint point) { return image.pixelColor(point); };
    const QRect header = grid.CellRect(0, 2);
    const QRect number = grid.CellRect(2, 0);
    const QRect current = grid.CellRect(1, 1);
    const QRect ordinary = grid.CellRect(table.Rows() - 1, 2);

    EXPECT_EQ(at(header.topLeft() + QPoint(header.width() - 4, 2)), Role(QPalette::Button));
    EXPECT_EQ(at(number.topLeft() + QPoint(number.width() - 3, 2)), Role(QPalette::Button));
    EXPECT_EQ(at(current.topLeft() + QPoint(current.width() - 4, 3)), Role(QPalette::Highlight));
    EXPECT_EQ(at(ordinary.topLeft() + QPoint(ordinary.width() - 4, 3)), Role(QPalette::Base));
    EXPECT_EQ(at(ordinary.bottomRight() + QPoint(0, -3)), QColor(192, 192, 192));
    EXPECT_EQ(at(ordinary.bottomLeft() + QPoint(3, 0)), QColor(192, 192, 192));
    EXPECT_EQ(at(number.bottomLeft() + QPoint(3, 0)), QColor(Qt::black));
    EXPECT_EQ(at(header.bottomRight() + QPoint(0, -3)), QColor(Qt::black));
    EXPECT_EQ(at(ordinary.bottomLeft() + QPoint(3, 8)), QColor(128, 128, 128)) << "beyond the last row";
    EXPECT_EQ(at(QPoint(grid.viewport()->width() - 2, 3)), QColor(128, 128, 128)) << "beyond the last column";
}

TEST_F(GridTest, HeaderStaysWhileScrollingAndTheKeyboardMovesTheCurrentCellIntoView)
{
    Shown();
    // No frame passes between the rows' arrival and the key: the move must not wait for the repaint.
    for (int i = 0; i < 100; ++i)
        AddRow("dir" + std::to_string(i), "1 kb");
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(table.Row(), 101);
    EXPECT_GT(grid.TopRow(), 1);
    EXPECT_EQ(grid.CellRect(0, 1).top(), 0);
    EXPECT_TRUE(grid.viewport()->rect().contains(grid.CellRect(101, 2)));
    QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(grid.TopRow(), 1);
    QTest::keyClick(&grid, Qt::Key_Left);
    EXPECT_EQ(table.Col(), 1) << "the fixed column is never current through the keyboard";
}

TEST_F(GridTest, TheViewFollowsTheCellTheRunMakesCurrentAsAListFollowsItsCurrentItem)
{
    Shown();
    for (int i = 0; i < 100; ++i)
        AddRow("dir" + std::to_string(i), "1 kb");
    AddRow("/srv/data/合計", "100 kb");
    Settle();
    EXPECT_EQ(table.Row(), 102);
    EXPECT_TRUE(grid.viewport()->rect().contains(grid.CellRect(102, 2))) << "the total row, written last";

    // Writing row 1 again, as the next search does first, brings it back into view.
    SetCellText(table, 1, 2, "5 kb");
    Settle();
    EXPECT_EQ(grid.TopRow(), 1);
}

TEST_F(GridTest, NumbersAndSizesAreNeverCutAndTheDirectoryColumnGivesWayFirst)
{
    AddRow("photos", "1 kb");
    Settle();
    EXPECT_EQ(grid.CellRect(0, 0).width(), Px(400)) << "a small table keeps the design's widths";
    EXPECT_EQ(grid.CellRect(0, 1).width(), Px(5000));
    EXPECT_EQ(grid.CellRect(0, 2).width(), Px(900));

    while (table.Rows() <= 1000)
        AddRow("dir", "1 kb");
    SetCellText(table, 1000, 2, "123,456,789,012 kb");
    SetCellText(table, 999, 2, "953,674 Mb");
    Settle();
    for (const auto& [row, col] : {std::pair{1000, 0}, {1000, 2}, {999, 2}, {0, 1}})
        EXPECT_TRUE(Whole(row, col)) << table.TextAt(row, col);
    EXPECT_LT(grid.CellRect(0, 1).width(), Px(5000)) << "the directory column gave the width";
    EXPECT_EQ(grid.horizontalScrollBar()->maximum(), 0) << "and everything still fits without scrolling";
    grid.ScrollToRow(990);
    Settle();
    EXPECT_TRUE(grid.viewport()->rect().contains(grid.CellRect(1000, 2)));

    // A new search with small sizes gets the design's widths back.
    table.SetRows(2);
    SetCellText(table, 1, 0, "1");
    SetCellText(table, 1, 2, "5 kb");
    Settle();
    EXPECT_EQ(grid.CellRect(0, 0).width(), Px(400));
    EXPECT_EQ(grid.CellRect(0, 2).width(), Px(900));

    // Group separators outside ASCII are measured to the part of a pixel too; each size is wider than the last.
    for (const char* size : {"953’674 Mb", "1 234 567 kb", "1’234’567 kb"}) {
        SetCellText(table, 1, 2, size);
        Settle();
        EXPECT_TRUE(Whole(1, 2)) << size;
    }

    // Wider than the window: the grid scrolls, the number column stays where it is.
    SetCellText(table, 1, 2, std::string(200, '9'));
    Settle();
    EXPECT_TRUE(Whole(1, 2));
    EXPECT_EQ(grid.CellRect(0, 1).width(), Px(ResultsGrid::DirectoryMinimumTwips));
    ASSERT_GT(grid.horizontalScrollBar()->maximum(), 0);
    grid.horizontalScrollBar()->setValue(grid.horizontalScrollBar()->maximum());
    EXPECT_EQ(grid.CellRect(1, 0).left(), 0);
    EXPECT_LE(grid.CellRect(1, 2).right(), grid.viewport()->width());
}

TEST_F(GridTest, ALongNameLosesItsMiddleAndTooltipsGiveTheFullNameAndTheExactBytes)
{
    const std::string longName = "/home/user/" + std::string(120, 'n') + "/end";
    const SizeUnits units{1024, "kb"};
    WriteResultRow(table, units, 1, 1, "[Root Files]", 1234567890);
    table.SetRows(3);
    WriteResultRow(table, units, 2, 2, longName, -1536);
    Settle();

    EXPECT_FALSE(Whole(2, 1));
    const QString shown = grid.ShownText(2, 1);
    EXPECT_TRUE(shown.startsWith("/home/user/nnn") && shown.endsWith("nnn/end") && shown.contains("…"))
        << shown.toStdString();
    // A total row under a long base path still says that it is the total, and of which directory.
    const std::string total = "/srv/" + std::string(60, 'p') + "_プロジェクト資料_最終版/最終/合計";
    WriteResultRow(table, units, 2, 2, total, 0);
    Settle();
    EXPECT_TRUE(grid.ShownText(2, 1).endsWith("/最終/合計")) << grid.ShownText(2, 1).toStdString();
    WriteResultRow(table, units, 2, 2, longName, -1536);
    EXPECT_EQ(grid.CellToolTip(2, 1), QString::fromStdString(longName));
    EXPECT_EQ(grid.CellToolTip(1, 1), "") << "a name shown whole needs no tooltip";
    EXPECT_EQ(grid.CellToolTip(1, 2), "1,234,567,890 バイト\n最終更新: 不明");
    EXPECT_EQ(grid.CellToolTip(2, 2), "-1,536 バイト\n最終更新: 不明");
    EXPECT_EQ(grid.CellToolTip(0, 2), "");
    EXPECT_EQ(table.TextAt(2, 1), longName) << "the model keeps the full text";

    // Hovering shows them.
    const QPoint over = grid.CellRect(1, 2).center();
    QHelpEvent help(QEvent::ToolTip, over, grid.viewport()->mapToGlobal(over));
    QApplication::sendEvent(grid.viewport(), &help);
    EXPECT_EQ(QToolTip::text(), "1,234,567,890 バイト\n最終更新: 不明");

    // A name longer than the screen is wide comes in lines that each fit on it.
    const std::string huge = "/srv/" + std::string(600, 'x') + "/合計";
    SetCellText(table, 2, 1, huge);
    Settle();
    const QPoint name = grid.CellRect(2, 1).center();
    QHelpEvent overName(QEvent::ToolTip, name, grid.viewport()->mapToGlobal(name));
    QApplication::sendEvent(grid.viewport(), &overName);
    const QStringList lines = QToolTip::text().split('\n');
    EXPECT_GE(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_LT(QFontMetrics(QToolTip::font()).horizontalAdvance(line), grid.screen()->availableGeometry().width());
    EXPECT_EQ(QToolTip::text().remove('\n').toStdString(), huge);

}

TEST_F(GridTest, ANameHasATooltipExactlyWhenItIsDrawnCut)
{
    const QFontMetrics metrics = grid.fontMetrics();
    // Advances of a whole pixel and of a part of one, the part above and below a half.
    for (const char* name : {"写真とビデオのバックアップ", "/home/user/photos-2024", "Mix 混在 iiiil.txt"}) {
        SetCellText(table, 1, 1, name);
        const QString text = QString::fromUtf8(name);
        const int advance = static_cast<int>(std::ceil(QFontMetricsF(grid.font()).horizontalAdvance(text)));
        for (int slack = -2; slack <= 1; ++slack) {
            const int width = advance + 2 * ResultsGrid::TextPadding + slack;
            DragHeaderBorder(1, width - grid.CellRect(0, 1).width());
            ASSERT_EQ(grid.CellRect(1, 1).width(), width);
            const bool drawnWhole = metrics.elidedText(text, Qt::ElideRight, width - 2 * ResultsGrid::TextPadding) == text;
            EXPECT_EQ(drawnWhole, slack >= 0) << name << " in " << width << " pixels";
            EXPECT_EQ(grid.CellToolTip(1, 1).toStdString(), drawnWhole ? "" : name) << "in " << width << " pixels";
        }
    }
}

TEST_F(GridTest, DraggingAHeaderBorderSetsAWidthThatANewSearchKeepsButNeverCutsASize)
{
    AddRow("photos", "1 kb");
    Settle();
    const int directory = grid.CellRect(0, 1).width();
    DragHeaderBorder(1, -100);
    EXPECT_EQ(grid.CellRect(0, 1).width(), directory - 100);
    DragHeaderBorder(2, 40);
    EXPECT_EQ(grid.CellRect(0, 2).width(), Px(900) + 40);
    EXPECT_EQ(table.TextAt(0, 1), "ディレクトリ") << "dragging edits nothing";

    table.SetRows(2);
    SetCellText(table, 1, 2, "2 kb");
    Settle();
    EXPECT_EQ(grid.CellRect(0, 1).width(), directory - 100);
    EXPECT_EQ(grid.CellRect(0, 2).width(), Px(900) + 40);

    DragHeaderBorder(2, -200);
    EXPECT_TRUE(Whole(0, 2)) << "a column never gets narrower than its header";
    SetCellText(table, 1, 2, "123,456,789,012 kb");
    Settle();
    EXPECT_TRUE(Whole(1, 2)) << "nor than its widest size";
}

TEST_F(GridTest, ManyRowsWrittenInOneGoArePaintedOnce)
{
    Shown();
    int paints = 0;
    struct PaintCounter : QObject {
        int& count;
        explicit PaintCounter(int& c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            count += event->type() == QEvent::Paint;
            return false;
        }
    } counter(paints);
    grid.viewport()->installEventFilter(&counter);
    // Whatever showing the grid asked for is painted first.
    grid.viewport()->update();
    ASSERT_TRUE(fakes::WaitUntil([&] { return paints > 0; }));
    paints = 0;
    for (int i = 0; i < 100000; ++i)
        AddRow("dir" + std::to_string(i), "1 kb");
    Settle();
    EXPECT_TRUE(fakes::WaitUntil([&] { return paints > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(grid.verticalScrollBar()->maximum() + grid.verticalScrollBar()->pageStep(), 100001);
    grid.viewport()->removeEventFilter(&counter);
}

TEST_F(GridTest, UnreadRowsAreMarkedInTheNumberCellAndSayWhereInTheirTooltip)
{
    AddRow("a", "1 kb");
    AddRow("b", "2 kb");
    AddRow("c", "3 kb");
    UnreadPlaces many;
    for (const char* path : {"/x/g", "/x/c", "/x/a", "/x/f", "/x/b", "/x/e", "/x/d"})
        many.Add({path, ReadFailure::Permission});
    UnreadPlaces one;
    one.Add({"/x/gone", ReadFailure::Vanished});
    fakes::SetUnread(table, 2, many);
    fakes::SetUnread(table, 3, one);
    const std::vector<std::vector<std::string>> texts = fakes::Cells(table);

    const QImage image = Shown();
    const QColor mark(208, 64, 0);
    const QPoint corner = grid.MarkRect(2).topRight() + QPoint(-1, 1);
    EXPECT_EQ(image.pixelColor(corner), mark);
    EXPECT_EQ(image.pixelColor(grid.MarkRect(3).topRight() + QPoint(-1, 1)), mark);
    EXPECT_EQ(image.pixelColor(grid.MarkRect(1).topRight() + QPoint(-1, 1)), Role(QPalette::Button));
    EXPECT_EQ(fakes::Cells(table), texts) << "marks live beside the table's texts";

    const QPoint sizeCell = grid.CellRect(2, 2).center();
    QHelpEvent help(QEvent::ToolTip, sizeCell, grid.viewport()->mapToGlobal(sizeCell));
    QApplication::sendEvent(grid.viewport(), &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("読み取れなかったディレクトリ: 7\n/x/a (アクセス権がありません)\n"
                                               "/x/b (アクセス権がありません)\n/x/c (アクセス権がありません)\n"
                                               "/x/d (アクセス権がありません)\n/x/e (アクセス権がありません)\n…"));
    EXPECT_EQ(grid.CellToolTip(3, 0),
              QStringLiteral("読み取れなかったディレクトリ: 1\n/x/gone (検索中に削除または置き換えられました)"));
    EXPECT_TRUE(grid.CellToolTip(1, 1).isEmpty());
    fakes::SetUnread(table, 3, {});
    EXPECT_FALSE(grid.IsMarked(3)) << "a row written again without unread places";

    // A row a cancel cut short: a grey mark, and no byte count where its 0 counts nothing.
    RowFacts cutShort = table.Facts(3);
    cutShort.bytes = 0;
    cutShort.interrupted = true;
    table.SetFacts(3, cutShort);
    const QImage afterCancel = Shown();
    EXPECT_EQ(afterCancel.pixelColor(grid.MarkRect(3).topRight() + QPoint(-1, 1)), QColor(128, 128, 128));
    EXPECT_EQ(afterCancel.pixelColor(grid.MarkRect(2).topRight() + QPoint(-1, 1)), mark);
    EXPECT_EQ(grid.CellToolTip(3, 2), QStringLiteral("中断したため、このディレクトリの合計は数えていません"));
    EXPECT_EQ(grid.CellToolTip(3, 0), grid.CellToolTip(3, 2));
    table.SetRows(2);
    AddRow("d", "4 kb");
    EXPECT_FALSE(grid.IsMarked(2)) << "rows dropped from the table take their marks along";
}

}  // namespace
}  // namespace murako

namespace murako {
namespace {

// A row as a run writes it: texts, bytes and kind.
void WriteRow(ResultsTable& table, const std::string& name, int64_t bytes, RowKind kind = RowKind::Subdirectory)
{
    const int32_t row = table.Rows();
    table.SetRows(row + 1);
    WriteResultRow(table, SizeUnits{1024, "kb", ","}, row, row, name, bytes);
    table.SetFacts(row, RowFacts{bytes, kind, {}, false, row, name});
}

TEST_F(GridTest, BarsShowEachRowsShareOfTheLargestSoFarAndTheTooltipItsShareOfAFinishedTotal)
{
    table.SetRows(1);
    WriteRow(table, "[Root Files]", 1000, RowKind::RootFiles);
    WriteRow(table, "a", 4000);
    Shown();
    const int full = grid.CellRect(1, 2).width() - 1;
    EXPECT_EQ(grid.BarWidth(2), full);
    EXPECT_EQ(grid.BarWidth(1), (full + 2) / 4);
    WriteRow(table, "b", 8000);
    Shown();
    EXPECT_EQ(grid.BarWidth(3), full) << "the bars follow the largest row so far";
    EXPECT_EQ(grid.BarWidth(2), (full + 1) / 2);
    EXPECT_EQ(grid.CellToolTip(3, 2), "8,000 バイト\n最終更新: 不明") << "no share before the total";
    WriteRow(table, "empty", 0);
    WriteRow(table, "/base/合計", 13000, RowKind::Total);
    const QImage image = Shown();
    EXPECT_EQ(grid.BarWidth(4), 0);
    EXPECT_EQ(grid.BarWidth(5), 0) << "the total gets none";
    EXPECT_EQ(grid.CellToolTip(3, 2), "8,000 バイト（全体の 61.5 %）\n最終更新: 不明");
    EXPECT_EQ(grid.CellToolTip(5, 2), "13,000 バイト\n最終更新: 不明");

    // Drawn behind the text in the highlight colour, lightly; the cell beyond the bar stays plain.
    const QRect half = grid.CellRect(2, 2);
    const QColor bar = image.pixelColor(half.left() + 1, half.bottom() - 3);
    const QColor plain = image.pixelColor(half.right() - 2, half.bottom() - 3);
    EXPECT_EQ(plain, Role(QPalette::Base));
    EXPECT_NE(bar, plain);
    const QColor highlight = Role(QPalette::Highlight);
    EXPECT_LT(std::abs(bar.blue() - (plain.blue() * 191 + highlight.blue() * 64) / 255), 3);

    // A new search starts the bars again from its own rows.
    table.SetRows(2);
    WriteResultRow(table, SizeUnits{1024, "kb", ","}, 1, 1, "[Root Files]", 5);
    table.SetFacts(1, RowFacts{5, RowKind::RootFiles, {}, false, 1, {}});
    WriteRow(table, "small", 10);
    Shown();
    EXPECT_EQ(grid.BarWidth(2), full);
    EXPECT_EQ(grid.BarWidth(1), (full + 1) / 2);
}

TEST_F(GridTest, ARowThatWasTheLargestAndIsWrittenAgainSmallerGivesUpTheBarsScale)
{
    table.SetRows(1);
    WriteRow(table, "a", 4000);
    WriteRow(table, "b", 8000);
    Shown();
    const int full = grid.CellRect(1, 2).width() - 1;
    EXPECT_EQ(grid.BarWidth(2), full);
    // As when most of it went to the trash: the row is written again.
    table.SetFacts(2, RowFacts{2000, RowKind::Subdirectory, {}, false, 2, "b"});
    Shown();
    EXPECT_EQ(grid.BarWidth(1), full) << "the largest row now";
    EXPECT_EQ(grid.BarWidth(2), (full + 1) / 2);
}

TEST_F(GridTest, ARowOfAFewBytesBesideAHugeOneStillShowsABarOfOnePixel)
{
    table.SetRows(1);
    WriteRow(table, "huge", int64_t{1} << 40);
    WriteRow(table, "few", 3);
    WriteRow(table, "none", 0);
    table.SetRow(1);  // the current row is highlighted: away from the rows looked at
    const QImage image = Shown();
    EXPECT_EQ(grid.BarWidth(2), 1);
    EXPECT_EQ(grid.BarWidth(3), 0);
    const QRect few = grid.CellRect(2, 2);
    const QRect none = grid.CellRect(3, 2);
    EXPECT_NE(image.pixelColor(few.left(), few.bottom() - 3), Role(QPalette::Base)) << "drawn";
    EXPECT_EQ(image.pixelColor(few.left() + 1, few.bottom() - 3), Role(QPalette::Base));
    EXPECT_EQ(image.pixelColor(none.left(), none.bottom() - 3), Role(QPalette::Base));
}

TEST_F(GridTest, TheContextMenuOpensFromShiftF10OrTheMenuKeyOnTheCurrentCell)
{
    AddRow("a", "1 kb");
    AddRow("b", "2 kb");
    SetCellText(table, 2, 1, "b");
    Shown();
    std::vector<QPoint> asked;
    grid.contextMenuRequested = [&](QPoint at) { asked.push_back(at); };
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(&grid, Qt::Key_F10);
    QTest::keyClick(&grid, Qt::Key_Menu);
    ASSERT_GE(asked.size(), 1u);
    EXPECT_EQ(asked[0], grid.viewport()->mapToGlobal(grid.CellRect(2, 1).center()));
    EXPECT_LE(asked.size(), 2u) << "F10 alone is no menu";
}

TEST_F(GridTest, AHeaderClickAsksForItsColumnsOrderAndTheSortedHeaderShowsItsArrow)
{
    std::vector<int> clicked;
    grid.headerClicked = [&](int col) { clicked.push_back(col); };
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(0, 2).center());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(0, 0).center());
    const QPoint border(grid.CellRect(0, 1).right() + 1, grid.CellRect(0, 1).center().y());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, border);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(1, 1).center());
    EXPECT_EQ(clicked, (std::vector<int>{2, 0})) << "neither a border nor a data row sorts";

    const QImage listing = Shown();
    grid.ShowSortOrder({SortColumn::Size, false});
    const QRect arrow = grid.SortArrowRect(2);
    ASSERT_FALSE(arrow.isEmpty());
    EXPECT_TRUE(grid.CellRect(0, 2).contains(arrow)) << "inside its header cell";
    const QImage down = Shown();
    EXPECT_NE(down.copy(arrow), listing.copy(arrow));
    EXPECT_EQ(down.pixelColor(arrow.center().x(), arrow.top() + 1), Role(QPalette::ButtonText)) << "▼: wide at the top";
    grid.ShowSortOrder({SortColumn::Size, true});
    EXPECT_EQ(Shown().pixelColor(arrow.center().x(), arrow.bottom() - 1), Role(QPalette::ButtonText)) << "▲";
    EXPECT_EQ(grid.CellNotes(0, 2), "昇順に並べ替え");
    EXPECT_EQ(grid.CellNotes(0, 1), "");
    EXPECT_TRUE(grid.SortArrowRect(0).isEmpty());
}

// A search's rows come in listing order, which № says; the order chosen for its end waits, greyed.
TEST_F(GridTest, TheColumnThatOrdersTheRowsShowsItsArrowInEveryOrderGreyedWhileASearchKeepsItWaiting)
{
    const QColor active = Role(QPalette::ButtonText);
    const QColor waiting = grid.palette().color(QPalette::Disabled, QPalette::ButtonText);
    ASSERT_NE(active, waiting);
    auto arrowColour = [&](int col, bool descending) {
        const QRect arrow = grid.SortArrowRect(col);
        EXPECT_TRUE(grid.CellRect(0, col).contains(arrow)) << col;
        return Shown().pixelColor(arrow.center().x(), descending ? arrow.top() + 1 : arrow.bottom() - 1);
    };
    for (const bool searching : {false, true}) {
        grid.SetSearching(searching);
        EXPECT_EQ(arrowColour(0, false), active) << "the listing order, searching " << searching;
        EXPECT_EQ(grid.CellNotes(0, 0), "昇順に並べ替え");
    }
    grid.ShowSortOrder({SortColumn::Size, false});
    EXPECT_TRUE(grid.SortArrowRect(0).isEmpty());
    EXPECT_EQ(arrowColour(2, true), waiting);
    EXPECT_EQ(grid.CellNotes(0, 2), "降順に並べ替え（検索の終了後）");
    grid.ShowSortOrder({SortColumn::Number, true});
    EXPECT_EQ(arrowColour(0, true), waiting) << "№ turned round waits too";
    grid.SetSearching(false);
    EXPECT_EQ(arrowColour(0, true), active);
    EXPECT_EQ(grid.CellNotes(0, 0), "降順に並べ替え");
}

}  // namespace
}  // namespace murako

namespace murako {
namespace {

// A name may hold a line break: it draws as its visible form on one line, and a total under such a path
// still ends in "合計".
TEST_F(GridTest, ANameHoldingALineBreakDrawsOnOneLineAsItsVisibleForm)
{
    AddRow("two\nlines\t", "1 kb");
    AddRow("two\uFFFDlines\uFFFD", "1 kb");
    const std::string total = "/srv/" + std::string(150, 'p') + "/base\nline/合計";
    AddRow(total, "2 kb");
    const QImage image = Shown();
    EXPECT_EQ(image.copy(grid.CellRect(2, 1)), image.copy(grid.CellRect(3, 1)));
    EXPECT_TRUE(grid.ShownText(4, 1).endsWith("/base\uFFFDline/合計")) << grid.ShownText(4, 1).toStdString();
    EXPECT_EQ(grid.CellToolTip(4, 1).split('\n').front().toStdString(), OnOneLine(total));
}

TEST_F(GridTest, ARowOverPseudoFileSystemsHasAGreyNoteInTheLowerCornerBesideAnyMarkAndItsTooltipNamesThem)
{
    AddRow("proc", "0 kb");
    AddRow("both", "1 kb");
    AddRow("plain", "1 kb");
    UnreadPlaces pseudo;
    pseudo.Add({"/srv/proc", ReadFailure::None});
    UnreadPlaces unread;
    unread.Add({"/srv/locked", ReadFailure::Permission});
    for (const int32_t row : {1, 2}) {
        RowFacts facts = table.Facts(row);
        facts.kind = RowKind::Subdirectory;
        facts.notEntered = pseudo;
        facts.unread = row == 2 ? unread : UnreadPlaces{};
        table.SetFacts(row, facts);
    }

    const QImage image = Shown();
    const QColor note(160, 160, 160);
    const QColor mark(208, 64, 0);
    auto lowerCorner = [&](int32_t row) {
        return image.pixelColor(grid.NoteMarkRect(row).bottomRight() - QPoint(1, 1));
    };
    auto upperCorner = [&](int32_t row) { return image.pixelColor(grid.MarkRect(row).topRight() + QPoint(-1, 1)); };
    EXPECT_EQ(lowerCorner(1), note);
    EXPECT_EQ(upperCorner(1), Role(QPalette::Button)) << "counted 0 on purpose: nothing is missing";
    EXPECT_FALSE(grid.IsMarked(1));
    EXPECT_EQ(lowerCorner(2), note);
    EXPECT_EQ(upperCorner(2), mark);
    EXPECT_EQ(lowerCorner(3), Role(QPalette::Button));
    EXPECT_FALSE(grid.HasNotEnteredNote(3));
    EXPECT_FALSE(grid.NoteMarkRect(1).intersects(grid.MarkRect(1)));

    EXPECT_EQ(grid.CellToolTip(1, 0).toStdString(), "数えていない擬似ファイルシステム: 1\n/srv/proc");
    EXPECT_EQ(grid.CellToolTip(2, 2).toStdString(),
              "読み取れなかったディレクトリ: 1\n/srv/locked (アクセス権がありません)\n"
              "数えていない擬似ファイルシステム: 1\n/srv/proc");
}

TEST_F(GridTest, TheMarkOfARowStaysClearOfItsNumber)
{
    UnreadPlaces unread;
    unread.Add({"/x/locked", ReadFailure::Permission});
    for (const char* number : {"153", "88888"}) {
        table.SetRows(1);
        fakes::AddRow(table, number, "a", "1 kb");
        fakes::SetUnread(table, 1, unread);
        const QImage image = Shown();
        const QRect cell = grid.CellRect(1, 0);
        const QRect mark = grid.MarkRect(1);
        ASSERT_TRUE(cell.contains(mark));
        // Beside and below the mark the cell is plain: no stroke of a digit reaches it.
        for (int x = mark.left() - 1; x < cell.right(); ++x)
            for (int y = cell.top() + 1; y < cell.bottom(); ++y)
                if (!mark.contains(x, y)) {
                    ASSERT_EQ(image.pixelColor(x, y), Role(QPalette::Button)) << number << " at " << x << "," << y;
                }
    }
}

TEST_F(GridTest, ARightClickMakesTheClickedRowCurrentAndOutsideTheSelectionTheOneSelected)
{
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        AddRow(name, "1 kb");
    Shown();
    // What the menu would act on, as it opens.
    std::vector<std::pair<int32_t, std::vector<int32_t>>> asked;
    grid.contextMenuRequested = [&](QPoint) { asked.emplace_back(table.Row(), grid.SelectedRows()); };
    // As the window system tells a right click: a press, the request for the menu, the release.
    auto rightClick = [&](int row, int col) {
        const QPoint at = grid.CellRect(row, col).center();
        QTest::mousePress(grid.viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, at, grid.viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid.viewport(), &menu);
        QTest::mouseRelease(grid.viewport(), Qt::RightButton, {}, at);
    };
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(2, 1).center());
    rightClick(5, 1);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ShiftModifier, grid.CellRect(3, 2).center());
    rightClick(4, 0);  // on the number of a row inside the selection
    rightClick(6, 2);
    rightClick(0, 1);  // a header: nothing to act on, the current cell stays
    using Rows = std::vector<int32_t>;
    EXPECT_EQ(asked, (std::vector<std::pair<int32_t, Rows>>{{5, {}}, {4, {3, 4, 5}}, {6, {}}, {6, {}}}));
    EXPECT_EQ(table.Col(), 2);

    // Shift with an arrow after a right click inside a selection runs from where the selection began.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(2, 1).center());
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
    rightClick(3, 1);
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(grid.SelectedRows(), (Rows{2, 3, 4}));
}

}  // namespace
}  // namespace murako
