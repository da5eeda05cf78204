#pragma once

#include <QFont>
#include <QPainter>

#include "report_printer.h"

class QPrinter;

namespace murako {

// Draws the report on a QPrinter whose device units are twips. The document begins with the first output.
class QtReportPrinter final : public ReportPrinter {
public:
    static constexpr int TwipsPerInch = 1440;

    explicit QtReportPrinter(QPrinter& printer);

    void Line(double x1, double y1, double x2, double y2) override;
    void Box(double x1, double y1, double x2, double y2) override;
    void NewPage() override;
    void EndDoc() override;
    double PrintableHeight() override;

protected:
    void DrawText(double x, double top, std::u16string_view text) override;
    double TextWidth(std::u16string_view text) override;

private:
    QPainter& Painter();
    QFont CurrentFont() const;

    QPrinter& printer_;
    QPainter painter_;
};

// Lets the report's face name reach a fixed-pitch Japanese font where that face is not installed.
void RegisterReportFontSubstitutes();

}  // namespace murako
