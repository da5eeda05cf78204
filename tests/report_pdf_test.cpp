#include "qt_report_printer.h"

#include <QFontInfo>
#include <QImage>
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
#include "table_rows.h"

namespace murako {
namespace {

struct Word {
    int page;
    double xMin, yMin, xMax, yMax;
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
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    for (auto it = token.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(QStringLiteral("<page"))) {
            ++pages;
            continue;
        }
        words.push_back({pages, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                         m.captured(4).toDouble(), m.captured(5).replace(QStringLiteral("&amp;"), QStringLiteral("&"))});
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

// Prints the table to an A4 PDF with 10 mm margins, as the print button would with that page set.
void PrintToPdf(ResultsTable& table, const QString& pdf, SizeMeasure measure = SizeMeasure::Length)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter);
    QtReportPrinter reportPrinter(printer);
    PrintReport(table, reportPrinter, FormatReportDate({2026, 12, 7}), measure);
}

bool HavePopplerTools()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
}

TEST(QtReportPrinter, PrintsTheReportToAPdfWhereTheLayoutPutsIt)
{
    if (!HavePopplerTools())
        GTEST_SKIP() << "poppler-utils is not installed";

    ResultsTable table;
    InitGrid(table);
    SetCellText(table, 1, 0, "1");
    SetCellText(table, 1, 1, "[Root Files]");
    SetCellText(table, 1, 2, "12 kb");
    const int32_t subdirectories = 36;
    for (int32_t row = 2; row < 2 + subdirectories; ++row)
        fakes::AddRow(table, std::to_string(row), "フォルダ" + std::to_string(row), "1,234 kb");
    fakes::AddRow(table, "", "/home/user/写真合計", "44,436 kb");

    const QString pdf = QStringLiteral("murako_report_end_to_end.pdf");
    PrintToPdf(table, pdf);

    int pages = 0;
    const std::vector<Word> words = WordsOf(pdf, pages);
    // A4 less the margins holds 26 rows below the title and 27 on a later page, its header included: 39 rows
    // take two pages.
    EXPECT_EQ(pages, 2);

    constexpr double tolerance = 0.5 * kTwipsPerPt;  // half a point
    if (const Word* date = Find(words, QStringLiteral("26年12月07日"))) {
        EXPECT_NEAR(FromArea(date->xMin), 9000, tolerance);
        EXPECT_NEAR(FromArea(date->yMin), 1500, 2 * tolerance);
    }
    const Word* title = Find(words, QStringLiteral("ディレクトリ単位の合計サイズ"));
    if (title) {
        EXPECT_NEAR(FromArea(title->xMin), 3000, tolerance);
        EXPECT_NEAR(FromArea(title->yMin), 1600, 4 * tolerance);
    }
    // Every line is drawn on the layout face's baseline, which lies 0.021 em higher than the substitute's
    // own: the title's 20-point box then ends 8 twips above the table's top rule instead of on it, the
    // header's 10.5-point text 4 twips less than 100 below the rule, so the two are 104 twips apart.
    const Word* header = Find(words, QStringLiteral("ディレクトリ"));
    if (title && header) {
        const double gap = (header->yMin - title->yMax) * kTwipsPerPt;
        const double substituteAscent = 0.88, layoutAscent = 220.0 / 256;
        EXPECT_NEAR(gap, 100 + (substituteAscent - layoutAscent) * (20 - 10.5) * kTwipsPerPt, 1);
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

    // Page 2 carries on at Y 1500 with the header row and then row 26, each text 100 twips below its frame's top.
    if (const Word* header = Find(words, QStringLiteral("ディレクトリ"), 2)) {
        EXPECT_NEAR(FromArea(header->xMin), 1500 + 5 * 105, tolerance);
        EXPECT_NEAR(FromArea(header->yMin), 1600, 2 * tolerance);
    }
    Find(words, QStringLiteral("サイズ"), 2);
    if (const Word* next = Find(words, QStringLiteral("フォルダ26"), 2)) {
        EXPECT_NEAR(FromArea(next->xMin), 1500 + 5 * 105, tolerance);
        EXPECT_NEAR(FromArea(next->yMin), 1600 + 520, 2 * tolerance);
    }
    Find(words, QStringLiteral("/home/user/写真合計"), 2);
}

// Page 1 rendered in grey at twice the PDF's 72 points to the inch.
QImage RenderFirstPage(const QString& pdf)
{
    const QString base = pdf + QStringLiteral(".page");
    QProcess process;
    process.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("144"), QStringLiteral("-gray"),
                                               QStringLiteral("-singlefile"), pdf, base});
    EXPECT_TRUE(process.waitForFinished(30000));
    return QImage(base + QStringLiteral(".pgm"));
}

// Whether a vertical rule crosses the blank lower half of the header row at X twips from the printable area.
bool RuleAt(const QImage& page, double twips)
{
    const int x = qRound((kMarginPt + twips / kTwipsPerPt) * 2);
    const int y = qRound((kMarginPt + (2000 + 420) / kTwipsPerPt) * 2);
    for (int dx = -1; dx <= 1; ++dx)
        if (qGray(page.pixel(x + dx, y)) < 128)
            return true;
    return false;
}

TEST(QtReportPrinter, SizesEndAtTheSameXWhateverScriptTheNamesAreInAndALongSizeMovesTheRule)
{
    if (!HavePopplerTools())
        GTEST_SKIP() << "poppler-utils is not installed";

    const std::vector<std::string> names = {
        "한국어디렉토리한국어디렉토리한국어디렉토리",       // Hangul
        "😀😀😀😀😀😀😀😀😀😀",                        // emoji, above U+FFFF
        "cafe\xCC\x81 re\xCC\x81sume\xCC\x81",  // combining accents
        "bad\xFF\xFEname",                           // invalid UTF-8, shown as U+FFFD
        "two\nlines",
        "¥‾−¢ 日本語",                                // best-fit mappings
    };
    ResultsTable table;
    InitGrid(table);
    table.SetRows(static_cast<int32_t>(names.size()) + 1);
    for (size_t i = 0; i < names.size(); ++i) {
        const auto row = static_cast<int32_t>(i + 1);
        SetCellText(table, row, 0, std::to_string(row));
        SetCellText(table, row, 1, names[i]);
        SetCellText(table, row, 2, std::to_string(row) + " kb");
    }
    const QString pdf = QStringLiteral("murako_report_scripts.pdf");
    PrintToPdf(table, pdf);

    int pages = 0;
    std::vector<Word> words = WordsOf(pdf, pages);
    constexpr double tolerance = 0.5 * kTwipsPerPt;
    int units = 0;
    for (const Word& word : words) {
        if (word.text != QStringLiteral("kb"))
            continue;
        ++units;
        EXPECT_NEAR(FromArea(word.xMax), 10110, tolerance) << "row at y " << word.yMin;
    }
    EXPECT_EQ(units, static_cast<int>(names.size()));
    EXPECT_TRUE(RuleAt(RenderFirstPage(pdf), 8500));
    EXPECT_FALSE(RuleAt(RenderFirstPage(pdf), 8500 - 105));

    // 10 TB in kb takes 16 columns: the size field takes one from the directory field, and the rule follows.
    SetCellText(table, 2, 2, "9,765,625,000 kb");
    PrintToPdf(table, pdf);
    words = WordsOf(pdf, pages);
    if (const Word* wide = Find(words, QStringLiteral("9,765,625,000"))) {
        EXPECT_NEAR(FromArea(wide->xMin), 10110 - 16 * 105, tolerance);
    }
    if (const Word* header = Find(words, QStringLiteral("サイズ"))) {
        EXPECT_NEAR(FromArea(header->xMax), 10110, tolerance);
    }
    const QImage page = RenderFirstPage(pdf);
    EXPECT_TRUE(RuleAt(page, 8500 - 105));
    EXPECT_FALSE(RuleAt(page, 8500));
    EXPECT_TRUE(RuleAt(page, 1950));
}

TEST(QtReportPrinter, TheNoteOfSizesOnDiskFollowsTheTitleInsideTheFrameAndClearOfTheDate)
{
    if (!HavePopplerTools())
        GTEST_SKIP() << "poppler-utils is not installed";
    ResultsTable table;
    InitGrid(table);
    const QString pdf = QStringLiteral("murako_report_on_disk.pdf");
    PrintToPdf(table, pdf, SizeMeasure::OnDisk);

    int pages = 0;
    const std::vector<Word> words = WordsOf(pdf, pages);
    constexpr double tolerance = 0.5 * kTwipsPerPt;
    const Word* date = Find(words, QStringLiteral("26年12月07日"));
    const Word* title = Find(words, QStringLiteral("ディレクトリ単位の合計サイズ"));
    const Word* note = Find(words, QStringLiteral("（ディスク上のサイズ）"));
    if (!date || !title || !note)
        return;
    EXPECT_NEAR(FromArea(note->xMin), FromArea(title->xMax), tolerance);
    EXPECT_NEAR(FromArea(note->xMax), 10500, tolerance) << "the frame's right";
    EXPECT_NEAR(note->yMax, title->yMax, 1) << "one foot";
    EXPECT_GT(note->yMin, date->yMax) << "below the date";
}

}  // namespace
}  // namespace murako
