#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>

#include "field_fitting.h"
#include "row_texts.h"
#include "text.h"

namespace murako {

namespace {

constexpr char16_t kReportFontName[] = u"ＭＳ 明朝";
constexpr double kBodyPoints = 10.5;
constexpr double kTitlePoints = 20;
constexpr char16_t kTitle[] = u"ディレクトリ単位の合計サイズ";
constexpr char16_t kOnDiskNote[] = u"（ディスク上のサイズ）";
constexpr char16_t kFieldSeparator[] = u"　";

constexpr double kDateX = 9000;
constexpr double kDateY = 1500;
constexpr double kTitleX = 3000;
constexpr double kTitleY = 1600;
constexpr double kRowTextX = 1500;
constexpr double kRowTextInset = 100;
constexpr double kFrameLeft = 1400;
constexpr double kFrameRight = 10500;
constexpr double kFirstPageRulesTop = 2000;
constexpr double kLaterPageTableTop = 1500;
constexpr double kNumberRuleX = 1950;
constexpr double kSizeRuleX = 8500;
constexpr double kColumnTwips = 105;

constexpr int32_t kNumberColumns = 3;
constexpr int32_t kDirectoryColumns = 60;
constexpr int32_t kSizeColumns = 15;
constexpr int32_t kLeastDirectoryColumns = 12;  // "ディレクトリ"

// The fields of a table line. The size field widens to the longest size text, taking the columns from the
// directory field, so that no size is ever cut; the rule between the two moves left with it.
struct Layout {
    int32_t columns[ResultsTable::Cols];
    double ruleXs[2];
};
constexpr bool kRightJustified[ResultsTable::Cols] = {true, false, true};

Layout LayoutFor(const ResultsTable& table)
{
    int32_t widestSize = kSizeColumns;
    for (int32_t row = 0; row < table.Rows(); ++row)
        widestSize = std::max(widestSize, Columns(Utf16FromUtf8(table.TextAt(row, 2))));
    const int32_t taken = std::min(widestSize - kSizeColumns, kDirectoryColumns - kLeastDirectoryColumns);
    return {{kNumberColumns, kDirectoryColumns - taken, kSizeColumns + taken},
            {kNumberRuleX, kSizeRuleX - taken * kColumnTwips}};
}

// Whole twips, an exact half going to the even one (the default rounding mode).
double RoundToTwips(double twips)
{
    return std::nearbyint(twips);
}

std::u16string FittedCell(ResultsTable& table, const Layout& layout, int32_t row, int32_t col)
{
    table.SetRow(row);
    table.SetCol(col);
    const std::u16string printed = Cp932PrintForm(Utf16FromUtf8(table.Text()));
    return LeftAndSpace(printed, layout.columns[col], kRightJustified[col]) + kFieldSeparator;
}

void DrawColumnRules(ReportPrinter& printer, const Layout& layout, double top, double bottom)
{
    for (const double x : layout.ruleXs)
        printer.Line(x, top, x, bottom);
}

std::u16string TwoDigits(int value)
{
    const int v = value % 100;
    return {static_cast<char16_t>(u'0' + v / 10), static_cast<char16_t>(u'0' + v % 10)};
}

void PrintHeading(ReportPrinter& printer, const std::u16string& date, SizeMeasure measure)
{
    printer.SetCurrentY(kDateY);
    printer.SetCurrentX(kDateX);
    printer.Print(date);
    printer.SetCurrentY(kTitleY);
    printer.SetFontSize(kTitlePoints);
    if (measure == SizeMeasure::Length) {
        printer.SetCurrentX(kTitleX);
        printer.Print(kTitle);
    } else {
        // The note follows the title in body type on the same line, the two ending at the frame's right at most.
        const double titleBottom = kTitleY + printer.LineHeight();
        const double width = (Columns(kTitle) * kTitlePoints + Columns(kOnDiskNote) * kBodyPoints) *
                             ReportPrinter::TwipsPerPoint / 2;
        printer.SetCurrentX(std::min(kTitleX, kFrameRight - width));
        printer.PrintWithoutLineEnd(kTitle);
        printer.SetFontSize(kBodyPoints);
        printer.SetCurrentY(titleBottom - printer.LineHeight());
        printer.PrintWithoutLineEnd(kOnDiskNote);
        printer.SetCurrentY(titleBottom);
    }
    printer.SetFontSize(kBodyPoints);
}

// Below the table, so that a printed total says when it is short of what could not be read.
void PrintUnreadCount(ReportPrinter& printer, int64_t unreadDirectories, double top)
{
    if (top + printer.LineHeight() > printer.PrintableHeight()) {
        printer.NewPage();
        top = kLaterPageTableTop;
    }
    printer.SetCurrentY(top);
    printer.SetCurrentX(kRowTextX);
    printer.Print(Utf16FromUtf8(UnreadCountText(unreadDirectories, ",")));
}

}  // namespace

std::u16string FormatReportDate(const ReportDate& date)
{
    return TwoDigits(date.year) + u"年" + TwoDigits(date.month) + u"月" + TwoDigits(date.day) + u"日";
}

void PrintReport(ResultsTable& table, ReportPrinter& printer, const std::u16string& date, SizeMeasure measure)
{
    printer.SetFontName(kReportFontName);
    printer.SetFontSize(kBodyPoints);

    PrintHeading(printer, date, measure);

    const Layout layout = LayoutFor(table);
    const double rowHeight = kRowTextInset + 2 * printer.LineHeight();
    const double pageBottom = printer.PrintableHeight();
    double rulesTop = kFirstPageRulesTop;
    double rowBottom = 0;
    auto printRow = [&](int32_t row) {
        const double rowTop = RoundToTwips(printer.CurrentY());
        printer.SetCurrentX(kRowTextX);
        printer.SetCurrentY(printer.CurrentY() + kRowTextInset);
        printer.PrintWithoutLineEnd(FittedCell(table, layout, row, 0));
        printer.PrintWithoutLineEnd(FittedCell(table, layout, row, 1));
        printer.Print(FittedCell(table, layout, row, 2));
        printer.Print();
        rowBottom = RoundToTwips(printer.CurrentY());
        printer.Box(kFrameLeft, rowTop, kFrameRight, rowBottom);
    };
    const int32_t rows = table.Rows();
    const bool endsInTotal = table.Facts(rows - 1).kind == RowKind::Total;
    int32_t dataRowsOnPage = 0;
    for (int32_t row = 0; row < rows; ++row) {
        // The last data row goes over with the total, so that a total never stands alone on its page, unless
        // that would leave a page without data rows.
        const bool takesTotal = endsInTotal && row + 2 == rows && dataRowsOnPage > 0;
        // The header stays under the title; each later row moves at most once, so a page never stays empty.
        if (row > 0 && RoundToTwips(printer.CurrentY()) + (takesTotal ? 2 : 1) * rowHeight > pageBottom) {
            DrawColumnRules(printer, layout, rulesTop, rowBottom);
            printer.NewPage();
            printer.SetCurrentY(kLaterPageTableTop);
            rulesTop = kLaterPageTableTop;
            dataRowsOnPage = 0;
            // A continuation page's columns are named again above its first row.
            printRow(0);
        }
        printRow(row);
        dataRowsOnPage += row > 0 ? 1 : 0;
    }
    DrawColumnRules(printer, layout, rulesTop, rowBottom);
    if (const int64_t unreadDirectories = table.UnreadCount(); unreadDirectories > 0)
        PrintUnreadCount(printer, unreadDirectories, rowBottom + kRowTextInset);
    printer.EndDoc();
}

bool RunPrintCommand(ResultsTable& table, PrinterDialog& dialog, ReportPrinter& printer, MessageBox& messages,
                     DateSource& dates, SizeMeasure measure)
{
    try {
        if (dialog.ShowPrinter()) {
            PrintReport(table, printer, FormatReportDate(dates.Today()), measure);
            return true;
        }
    } catch (const std::exception&) {
        // Every failure ends like a cancel: with the one message below.
    }
    messages.ShowMessage(kPrintCancelledMessage, kApplicationTitle);
    return false;
}

}  // namespace murako
