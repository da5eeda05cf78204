#include "qt_report_printer.h"

#include <QFontMetricsF>
#include <QLineF>
#include <QPen>
#include <QPrinter>
#include <QRectF>
#include <QString>

#include <stdexcept>

namespace murako {

namespace {

// The layout's lines are those of ＭＳ 明朝, whose baseline lies 220/256 of an em below a line's top. Its
// substitutes reach higher (IPAMincho: 0.88 em) and would draw every line that much lower, the 20-point
// title's glyphs down onto the table's top rule.
constexpr double kLayoutAscentPerEm = 220.0 / 256.0;

QString ToQString(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace

void RegisterReportFontSubstitutes()
{
    // fontconfig would otherwise pick a proportional Latin face and the columns would not line up.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ 明朝"),
                               {QStringLiteral("IPAMincho"), QStringLiteral("Noto Serif CJK JP")});
}

QtReportPrinter::QtReportPrinter(QPrinter& printer) : printer_(printer)
{
    RegisterReportFontSubstitutes();
}

QPainter& QtReportPrinter::Painter()
{
    if (painter_.isActive())
        return painter_;
    // The resolution can only be set before the document begins, and the dialog may have replaced it.
    printer_.setResolution(TwipsPerInch);
    if (!painter_.begin(&printer_))
        throw std::runtime_error("the printer did not start the document");
    // Width 0 is the device's thinnest line, a hairline on paper and in a PDF.
    painter_.setPen(QPen(Qt::black, 0));
    painter_.setBrush(Qt::NoBrush);
    return painter_;
}

QFont QtReportPrinter::CurrentFont() const
{
    QFont font(ToQString(Font().name));
    font.setPointSizeF(Font().points);
    return font;
}

void QtReportPrinter::DrawText(double x, double top, std::u16string_view text)
{
    QPainter& painter = Painter();
    const QFont font = CurrentFont();
    painter.setFont(font);
    const double em = Font().points * TwipsPerPoint;
    painter.drawText(QPointF(x, top + kLayoutAscentPerEm * em), ToQString(text));
}

double QtReportPrinter::TextWidth(std::u16string_view text)
{
    return QFontMetricsF(CurrentFont(), Painter().device()).horizontalAdvance(ToQString(text));
}

void QtReportPrinter::Line(double x1, double y1, double x2, double y2)
{
    Painter().drawLine(QLineF(x1, y1, x2, y2));
}

void QtReportPrinter::Box(double x1, double y1, double x2, double y2)
{
    Painter().drawRect(QRectF(QPointF(x1, y1), QPointF(x2, y2)).normalized());
}

void QtReportPrinter::NewPage()
{
    Painter();
    if (!printer_.newPage())
        throw std::runtime_error("the printer did not start a new page");
}

void QtReportPrinter::EndDoc()
{
    if (!Painter().end())
        throw std::runtime_error("the printer did not finish the document");
}

double QtReportPrinter::PrintableHeight()
{
    return Painter().device()->height();
}

}  // namespace murako
