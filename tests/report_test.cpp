#include "report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "field_fitting.h"
#include "row_order.h"
#include "size_units.h"
#include "table_rows.h"

namespace murako {
namespace {

using fakes::AddRow;

struct Event {
    enum Kind { Text, Line, Box, NewPage, EndDoc } kind;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::u16string text{};
    double points = 0;

    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e)
{
    return out << "{kind " << e.kind << " (" << e.x1 << "," << e.y1 << ")-(" << e.x2 << "," << e.y2 << ") "
               << e.points << "pt, " << e.text.size() << " units}";
}

Event TextAt(double x, double top, std::u16string text, double points = 10.5)
{
    return {Event::Text, x, top, 0, 0, std::move(text), points};
}
Event LineAt(double x1, double y1, double x2, double y2) { return {Event::Line, x1, y1, x2, y2, {}, 0}; }
Event BoxAt(double x1, double y1, double x2, double y2) { return {Event::Box, x1, y1, x2, y2, {}, 0}; }

// Records every drawing call; text is as wide as a fixed-pitch face draws it, half an em per column.
class RecordingPrinter final : public ReportPrinter {
public:
    std::vector<Event> events;
    double printableHeight = 16000;
    int failAtText = -1;

    void Line(double x1, double y1, double x2, double y2) override { events.push_back(LineAt(x1, y1, x2, y2)); }
    void Box(double x1, double y1, double x2, double y2) override { events.push_back(BoxAt(x1, y1, x2, y2)); }
    void NewPage() override { events.push_back({Event::NewPage}); }
    void EndDoc() override { events.push_back({Event::EndDoc}); }
    double PrintableHeight() override { return printableHeight; }

    std::vector<Event> Of(Event::Kind kind) const
    {
        std::vector<Event> found;
        for (const Event& e : events)
            if (e.kind == kind)
                found.push_back(e);
        return found;
    }

protected:
    void DrawText(double x, double top, std::u16string_view text) override
    {
        if (failAtText-- == 0)
            throw std::runtime_error("printer failure");
        EXPECT_EQ(Font().name, u"ＭＳ 明朝");
        events.push_back(TextAt(x, top, std::u16string(text), Font().points));
    }
    double TextWidth(std::u16string_view text) override { return Columns(text) * Font().points * TwipsPerPoint / 2; }
};

std::u16string Spaces(int count)
{
    return std::u16string(static_cast<size_t>(count), u' ');
}

// A table as a finished search leaves it: header, root files, `subdirectories` rows and the total.
ResultsTable FinishedTable(int subdirectories)
{
    ResultsTable table;
    InitGrid(table);
    SetCellText(table, 1, 0, "1");
    SetCellText(table, 1, 1, "[Root Files]");
    SetCellText(table, 1, 2, "12 kb");
    for (int i = 0; i < subdirectories; ++i)
        AddRow(table, std::to_string(i + 2), "dir" + std::to_string(i), "1,234 kb");
    AddRow(table, "", "C:\\data\\合計", "99,999 kb");
    table.SetFacts(table.Rows() - 1, {.kind = RowKind::Total});
    return table;
}

const std::u16string kDate = u"26年12月06日";
constexpr double kColumn = 105;

TEST(FormatReportDate, TwoDigitsForYearMonthAndDay)
{
    EXPECT_EQ(FormatReportDate({2026, 12, 6}), u"26年12月06日");
    EXPECT_EQ(FormatReportDate({2026, 12, 7}), u"26年12月07日");
    EXPECT_EQ(FormatReportDate({2000, 1, 1}), u"00年01月01日");
}

TEST(PrintReport, TheTableBeforeAnySearchPrintsEveryElementWhereTheLayoutPutsIt)
{
    ResultsTable table;
    InitGrid(table);
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);

    const std::u16string sep = u"　";
    const std::vector<Event> expected = {
        TextAt(9000, 1500, kDate),
        TextAt(3000, 1600, u"ディレクトリ単位の合計サイズ", 20),
        TextAt(1500, 2100, u" №" + sep),
        TextAt(1500 + 5 * kColumn, 2100, u"ディレクトリ" + Spaces(48) + sep),
        TextAt(1500 + 67 * kColumn, 2100, Spaces(9) + u"サイズ" + sep),
        BoxAt(1400, 2000, 10500, 2520),
        TextAt(1500, 2620, Spaces(3) + sep),
        TextAt(1500 + 5 * kColumn, 2620, Spaces(60) + sep),
        TextAt(1500 + 67 * kColumn, 2620, Spaces(15) + sep),
        BoxAt(1400, 2520, 10500, 3040),
        LineAt(1950, 2000, 1950, 3040),
        LineAt(8500, 2000, 8500, 3040),
        {Event::EndDoc},
    };
    EXPECT_EQ(printer.events, expected);
    // Reading walks the cells, so the size cell of the last row stays current.
    EXPECT_EQ(table.Row(), 1);
    EXPECT_EQ(table.Col(), 2);
}

TEST(PrintReport, SizesOnDiskAreNamedAfterTheTitleInBodyTypeTheLineMovingLeftToEndAtTheFrame)
{
    ResultsTable table = FinishedTable(2);
    RecordingPrinter byLength;
    PrintReport(table, byLength, kDate, SizeMeasure::Length);
    RecordingPrinter onDisk;
    PrintReport(table, onDisk, kDate, SizeMeasure::OnDisk);

    std::vector<Event> expected = byLength.events;
    ASSERT_EQ(expected[1], TextAt(3000, 1600, u"ディレクトリ単位の合計サイズ", 20));
    // 28 columns of 20 points and 22 of 10.5 end at the frame's right, 10500; the note's foot on the title's.
    const double titleX = 10500 - 28 * 200 - 22 * kColumn;
    expected[1] = TextAt(titleX, 1600, u"ディレクトリ単位の合計サイズ", 20);
    expected.insert(expected.begin() + 2, TextAt(titleX + 28 * 200, 1600 + 400 - 210, u"（ディスク上のサイズ）"));
    EXPECT_EQ(onDisk.events, expected) << "the table below stays where it was";
}

TEST(PrintReport, CutsLongNumbersAndNamesAtTheEndOfTheirFields)
{
    ResultsTable table;
    InitGrid(table);
    SetCellText(table, 1, 0, "1000");
    SetCellText(table, 1, 1, "C:\\" + std::string(56, 'x') + "\\合計");
    SetCellText(table, 1, 2, "2,097,152 kb");
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);

    const std::vector<Event> texts = printer.Of(Event::Text);
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts[5].text, u"100　");
    // 60 columns hold the path and its "\" but not "合計"; the next field starts at its usual place.
    EXPECT_EQ(texts[6].text, u"C:\\" + std::u16string(56, u'x') + u"\\" + u"　");
    EXPECT_EQ(texts[7].text, Spaces(3) + u"2,097,152 kb　");
    EXPECT_EQ(texts[7].x1, 1500 + 67 * kColumn);
}

TEST(PrintReport, RowsPrintInTheOrderShownEachWithItsOwnNumber)
{
    ResultsTable table;
    InitGrid(table);
    const SizeUnits units{1024, "kb", ","};
    const std::vector<std::pair<std::string, int64_t>> rows{{"[Root Files]", 10}, {"small", 2048}, {"large", 9216}};
    for (int32_t row = 1; row <= 3; ++row) {
        table.SetRows(row + 1);
        WriteResultRow(table, units, row, row, rows[row - 1].first, rows[row - 1].second);
        table.SetFacts(row, {.bytes = rows[row - 1].second, .kind = row == 1 ? RowKind::RootFiles : RowKind::Subdirectory});
    }
    SortRows(table, {SortColumn::Size, false}, RanksInByteOrder);
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);

    const std::vector<Event> texts = printer.Of(Event::Text);
    ASSERT_EQ(texts.size(), 2 + 4 * 3u);
    EXPECT_EQ(texts[5].text, u"  3　");
    EXPECT_EQ(texts[6].text.substr(0, 5), u"large");
    EXPECT_EQ(texts[8].text, u"  2　");
    EXPECT_EQ(texts[11].text, u"  1　");
}

TEST(PrintReport, ASizeLongerThanItsFieldWidensTheFieldOnEveryRowAndMovesTheRuleLeft)
{
    ResultsTable table = FinishedTable(1);
    SetCellText(table, 2, 2, "9,765,625,000 kb");  // 10 TB in kb: 16 columns
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);

    const std::vector<Event> texts = printer.Of(Event::Text);
    ASSERT_EQ(texts.size(), 2 + 4 * 3u);
    for (size_t row = 0; row < 4; ++row) {
        EXPECT_EQ(Columns(texts[2 + 3 * row + 1].text), 59 + 2) << "row " << row;
        EXPECT_EQ(texts[2 + 3 * row + 2].x1, 1500 + 66 * kColumn) << "row " << row;
    }
    EXPECT_EQ(texts[2 + 3 * 2 + 2].text, u"9,765,625,000 kb　");
    EXPECT_EQ(texts[2 + 3 * 3 + 2].text, Spaces(7) + u"99,999 kb　");
    const std::vector<Event> rules = printer.Of(Event::Line);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].x1, 1950);
    EXPECT_EQ(rules[1].x1, 8500 - kColumn);

    // However long the text, the directory field keeps room for its header.
    SetCellText(table, 2, 2, std::string(100, '9'));
    RecordingPrinter wide;
    PrintReport(table, wide, kDate);
    EXPECT_EQ(wide.Of(Event::Text)[3].text, u"ディレクトリ　");
    EXPECT_EQ(wide.Of(Event::Line)[1].x1, 8500 - 48 * kColumn);
}

TEST(PrintReport, ASizeOfFifteenColumnsKeepsTheFieldHoweverManyBytesItsUtf8FormTakes)
{
    ResultsTable table = FinishedTable(1);
    // "’" takes 2 columns and 3 UTF-8 bytes: 15 columns in 17 bytes.
    const std::string size = "99\u2019999\u2019999 kb";
    ASSERT_GT(size.size(), 15u);
    SetCellText(table, 2, 2, size);
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);

    const std::vector<Event> texts = printer.Of(Event::Text);
    ASSERT_EQ(texts.size(), 2 + 4 * 3u);
    EXPECT_EQ(texts[2 + 3 * 2 + 2].text, u"99\u2019999\u2019999 kb　");
    EXPECT_EQ(texts[2 + 3 * 2 + 2].x1, 1500 + 67 * kColumn);
    EXPECT_EQ(Columns(texts[2 + 3 * 2 + 1].text), 60 + 2);
    const std::vector<Event> rules = printer.Of(Event::Line);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[1].x1, 8500);
}

TEST(PrintReport, PrintsEveryCharacterOutsideCodePage932AndEveryControlCharacterAsOneQuestionMark)
{
    ResultsTable table;
    InitGrid(table);
    SetCellText(table, 1, 1, "한국어 \xF0\x9F\x98\x80 e\xCC\x81 a\nb \xFF ¥");
    SetCellText(table, 1, 2, "1 kb");
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);

    const std::vector<Event> texts = printer.Of(Event::Text);
    // The emoji is two UTF-16 units but one character, one "?"; "¥" prints as its code, "\".
    EXPECT_EQ(texts[6].text, u"??? ? e? a?b ? \\" + Spaces(44) + u"　");
    EXPECT_EQ(texts[7].x1, 1500 + 67 * kColumn);
}

TEST(PrintReport, ARowThatWouldCrossTheBottomStartsANewPageUnderTheHeaderRowWithItsOwnRules)
{
    ResultsTable table = FinishedTable(5);  // 8 rows
    RecordingPrinter printer;
    printer.printableHeight = 2000 + 3 * 520;  // three rows end exactly on the bottom of page 1
    PrintReport(table, printer, kDate);

    // Page 1 holds the header and rows 1 and 2; each later page the header and at most two rows, and row 6
    // goes over with the total, which would otherwise stand alone.
    const std::vector<Event> expectedFrames = {
        BoxAt(1400, 2000, 10500, 2520), BoxAt(1400, 2520, 10500, 3040), BoxAt(1400, 3040, 10500, 3560),
        LineAt(1950, 2000, 1950, 3560), LineAt(8500, 2000, 8500, 3560), {Event::NewPage},
        BoxAt(1400, 1500, 10500, 2020), BoxAt(1400, 2020, 10500, 2540), BoxAt(1400, 2540, 10500, 3060),
        LineAt(1950, 1500, 1950, 3060), LineAt(8500, 1500, 8500, 3060), {Event::NewPage},
        BoxAt(1400, 1500, 10500, 2020), BoxAt(1400, 2020, 10500, 2540),
        LineAt(1950, 1500, 1950, 2540), LineAt(8500, 1500, 8500, 2540), {Event::NewPage},
        BoxAt(1400, 1500, 10500, 2020), BoxAt(1400, 2020, 10500, 2540), BoxAt(1400, 2540, 10500, 3060),
        LineAt(1950, 1500, 1950, 3060), LineAt(8500, 1500, 8500, 3060), {Event::EndDoc},
    };
    std::vector<Event> frames;
    for (const Event& e : printer.events)
        if (e.kind != Event::Text)
            frames.push_back(e);
    EXPECT_EQ(frames, expectedFrames);

    // A later page starts with the header's texts, as page 1 has them, 100 twips below its table top.
    const std::vector<Event> texts = printer.Of(Event::Text);
    for (size_t page : {3u, 6u, 8u}) {
        for (size_t field = 0; field < 3; ++field) {
            const Event header = texts[2 + field];
            EXPECT_EQ(texts[2 + 3 * page + field], TextAt(header.x1, 1600, header.text)) << page << " " << field;
        }
    }
    EXPECT_EQ(texts[2 + 3 * 4], TextAt(1500, 2120, u"  3　"));
    EXPECT_EQ(texts.back().text, Spaces(6) + u"99,999 kb　") << "every row printed once";
    EXPECT_EQ(texts.size(), 2 + 3 * (8 + 3u));
}

TEST(PrintReport, ARowTallerThanThePagePrintsAloneOnItsPageRatherThanLooping)
{
    ResultsTable table = FinishedTable(1);  // 4 rows
    RecordingPrinter printer;
    printer.printableHeight = 1000;
    PrintReport(table, printer, kDate);
    EXPECT_EQ(printer.Of(Event::Box).size(), 4u + 3);
    EXPECT_EQ(printer.Of(Event::NewPage).size(), 3u);
}

TEST(PrintReport, DirectoriesThatCouldNotBeReadAreCountedOnOneLineBelowTheTableAndNotAtAllWhenNone)
{
    ResultsTable table = FinishedTable(2);  // 5 rows, the last ending at 2000 + 5 * 520
    RecordingPrinter clean;
    PrintReport(table, clean, kDate);
    EXPECT_EQ(clean.Of(Event::Text).size(), 2 + 5 * 3u);

    UnreadPlaces many;
    many.count = 1234;
    fakes::SetUnread(table, 4, many, RowKind::Total);
    fakes::SetUnread(table, 2, {1, {}});
    RecordingPrinter printer;
    PrintReport(table, printer, kDate);
    ASSERT_EQ(printer.events.size(), clean.events.size() + 1);
    EXPECT_TRUE(std::equal(clean.events.begin(), clean.events.end() - 1, printer.events.begin()));
    EXPECT_EQ(printer.events[printer.events.size() - 2], TextAt(1500, 4600 + 100, u"読み取れなかったディレクトリ: 1,234"));
    EXPECT_EQ(printer.events.back().kind, Event::EndDoc);

    // No room left under the last row: the line goes to a page of its own.
    RecordingPrinter full;
    full.printableHeight = 4600 + 200;
    fakes::SetUnread(table, 4, {2, {}}, RowKind::Total);
    PrintReport(table, full, kDate);
    ASSERT_GE(full.events.size(), 3u);
    EXPECT_EQ(full.events[full.events.size() - 3].kind, Event::NewPage);
    EXPECT_EQ(full.events[full.events.size() - 2], TextAt(1500, 1500, u"読み取れなかったディレクトリ: 2"));
}

TEST(PrintReport, PrintsTablesOfMoreThan32767Rows)
{
    ResultsTable table;
    InitGrid(table);
    table.SetRows(40000);
    SetCellText(table, 39999, 1, "last");
    RecordingPrinter printer;
    printer.printableHeight = 1e9;
    PrintReport(table, printer, kDate);

    EXPECT_EQ(printer.Of(Event::Box).size(), 40000u);
    const std::vector<Event> texts = printer.Of(Event::Text);
    EXPECT_EQ(texts[texts.size() - 2].text, u"last" + Spaces(56) + u"　");
    EXPECT_EQ(texts.back().y1, 2000 + 520.0 * 39999 + 100);
    EXPECT_EQ(printer.events.back().kind, Event::EndDoc);
}

struct ScriptedDialog final : PrinterDialog {
    bool accept = true;
    int shown = 0;
    bool ShowPrinter() override
    {
        ++shown;
        return accept;
    }
};

struct RecordingMessages final : MessageBox {
    std::vector<std::pair<std::u16string, std::u16string>> shown;
    void ShowMessage(const std::u16string& text, const std::u16string& caption) override
    {
        shown.emplace_back(text, caption);
    }
};

struct FixedDate final : DateSource {
    ReportDate Today() override { return {2026, 12, 7}; }
};

struct PrintCommandTest : ::testing::Test {
    ResultsTable table = FinishedTable(2);
    ScriptedDialog dialog;
    RecordingPrinter printer;
    RecordingMessages messages;
    FixedDate dates;

    bool Run() { return RunPrintCommand(table, dialog, printer, messages, dates); }
};

TEST_F(PrintCommandTest, OkPrintsTheReportDatedTodayAndShowsNoMessage)
{
    EXPECT_TRUE(Run());
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_TRUE(messages.shown.empty());
    ASSERT_FALSE(printer.events.empty());
    EXPECT_EQ(printer.events.front(), TextAt(9000, 1500, u"26年12月07日"));
    EXPECT_EQ(printer.events.back().kind, Event::EndDoc);
}

TEST_F(PrintCommandTest, CancelShowsTheMessageAndPrintsNothing)
{
    dialog.accept = false;
    EXPECT_FALSE(Run());
    EXPECT_TRUE(printer.events.empty());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, u"印刷を取り消しました");
    EXPECT_EQ(messages.shown[0].second, u"Murako");
}

TEST_F(PrintCommandTest, AFailureWhilePrintingShowsTheSameMessageAndNeitherRulesNorEndsTheDocument)
{
    printer.failAtText = 4;
    EXPECT_FALSE(Run());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, u"印刷を取り消しました");
    EXPECT_EQ(printer.Of(Event::Text).size(), 4u);
    EXPECT_TRUE(printer.Of(Event::Line).empty());
    EXPECT_TRUE(printer.Of(Event::EndDoc).empty());
}

}  // namespace
}  // namespace murako
