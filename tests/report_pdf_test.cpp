#include "qt_report_printer.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report.h"

namespace murako {
namespace {

struct Word {
    int page;
    double xMin, yMin, xMax;
    QString text;
};

constexpr double kMarginMm = 10;
constexpr double kMarginPt = kMarginMm * 72 / 25.4;
constexpr double kTwipsPerPt = 20;

// Page positions in points, as measured from the printable area's top-left corner.
double FromArea(double pagePt) { return (pagePt - kMarginPt) * kTwipsPerPt; }

std::vector<Word> WordsOf(const QString& pdf, int& pages)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    EXPECT_TRUE(process.waitForFinished(30000));
    const QString html = QString::fromUtf8(process.readAllStandardOutput());
    std::vector<Word> words;
    pages = 0;
    static const QRegularExpression token(QString::fromUtf8(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re"));
    for (auto it = token.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(QStringLiteral("<page"))) {
            ++pages;
            continue;
        }
        words.push_back({pages, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                         m.captured(4).replace(QStringLiteral("&amp;"), QStringLiteral("&"))});
    }
    return words;
}

const Word* Find(const std::vector<Word>& words, const QString& text, int page = 1)
{
    for (const Word& w : words)
        if (w.page == page && w.text == text)
            return &w;
    ADD_FAILURE() << "no word " << text.toStdString() << " on page " << page;
    return nullptr;
}

TEST(QtReportPrinter, TheReportFaceResolvesToAFixedPitchJapaneseFontOfHalfAnEmPerColumn)
{
    RegisterReportFontSubstitutes();
    QFont font(QStringLiteral("ＭＳ 明朝"));
    font.setPointSizeF(10.5);
    EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAMincho"));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(QtReportPrinter::TwipsPerInch);
    const QFontMetricsF metrics(font, &printer);
    EXPECT_DOUBLE_EQ(metrics.horizontalAdvance(QStringLiteral("a")), 105);
    EXPECT_DOUBLE_EQ(metrics.horizontalAdvance(QStringLiteral("1,234 kb")), 8 * 105);
    EXPECT_DOUBLE_EQ(metrics.horizontalAdvance(QStringLiteral("№　ディレクトリ")), 16 * 105);
}

TEST(QtReportPrinter, PrintsTheReportToAPdfWhereTheLayoutPutsIt)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext is not installed";

    ResultsTable table;
    InitGrid(table);
    SetCellText(table, 1, 0, "1");
    SetCellText(table, 1, 1, "[Root Files]");
    SetCellText(table, 1, 2, "12 kb");
    const int32_t subdirectories = 36;
    table.SetRows(2 + subdirectories + 1);
    for (int32_t i = 0; i < subdirectories; ++i) {
        const int32_t row = 2 + i;
        SetCellText(table, row, 0, std::to_string(row));
        SetCellText(table, row, 1, "フォルダ" + std::to_string(row));
        SetCellText(table, row, 2, "1,234 kb");
    }
    SetCellText(table, table.Rows() - 1, 1, "/home/user/写真合計");
    SetCellText(table, table.Rows() - 1, 2, "44,436 kb");

    const QString pdf = QStringLiteral("murako_report_end_to_end.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter);
    QtReportPrinter reportPrinter(printer);
    PrintReport(table, reportPrinter, FormatReportDate({2026, 12, 7}));

    int pages = 0;
    const std::vector<Word> words = WordsOf(pdf, pages);
    // A4 less the margins holds 26 rows below the title and 27 on a later page: 39 rows take two pages.
    EXPECT_EQ(pages, 2);

    constexpr double tolerance = 0.5 * kTwipsPerPt;  // half a point
    if (const Word* date = Find(words, QStringLiteral("26年12月07日"))) {
        EXPECT_NEAR(FromArea(date->xMin), 9000, tolerance);
        EXPECT_NEAR(FromArea(date->yMin), 1500, 2 * tolerance);
    }
    if (const Word* title = Find(words, QStringLiteral("ディレクトリ単位の合計サイズ"))) {
        EXPECT_NEAR(FromArea(title->xMin), 3000, tolerance);
        EXPECT_NEAR(FromArea(title->yMin), 1600, 4 * tolerance);
    }
    // Each field starts where the columns before it end: the report relies on a fixed pitch.
    if (const Word* rootNumber = Find(words, QStringLiteral("1"))) {
        EXPECT_NEAR(FromArea(rootNumber->xMin), 1500 + 2 * 105, tolerance);
    }
    if (const Word* root = Find(words, QStringLiteral("[Root"))) {
        EXPECT_NEAR(FromArea(root->xMin), 1500 + 5 * 105, tolerance);
    }
    if (const Word* unit = Find(words, QStringLiteral("kb"))) {
        EXPECT_NEAR(FromArea(unit->xMax), 1500 + 82 * 105, tolerance);
    }
    if (const Word* sizeHeader = Find(words, QStringLiteral("サイズ"))) {
        EXPECT_NEAR(FromArea(sizeHeader->xMax), 1500 + 82 * 105, tolerance);
    }

    // Page 2 carries on at Y 1500 with row 26, whose text is 100 twips below its frame's top.
    if (const Word* next = Find(words, QStringLiteral("フォルダ26"), 2)) {
        EXPECT_NEAR(FromArea(next->xMin), 1500 + 5 * 105, tolerance);
        EXPECT_NEAR(FromArea(next->yMin), 1600, 2 * tolerance);
    }
    Find(words, QStringLiteral("/home/user/写真合計"), 2);
}

}  // namespace
}  // namespace murako
