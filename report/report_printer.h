#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace murako {

struct ReportFont {
    std::u16string name;
    double points = 10.5;
};

// The printer as the report drives it, in twips from the printable area's top-left corner. This class keeps
// the current position and font; a backend only draws, measures and turns pages.
class ReportPrinter {
public:
    static constexpr double TwipsPerPoint = 20;

    virtual ~ReportPrinter() = default;

    const ReportFont& Font() const { return font_; }
    void SetFontName(std::u16string name) { font_.name = std::move(name); }
    void SetFontSize(double points) { font_.points = points; }
    // One em, whatever the face reports, so that a row keeps the height the layout counts on.
    double LineHeight() const { return font_.points * TwipsPerPoint; }

    void SetCurrentX(double twips) { currentX_ = twips; }
    double CurrentY() const { return currentY_; }
    void SetCurrentY(double twips) { currentY_ = twips; }

    // Draws the text with its top-left corner at the current position and moves CurrentX past it.
    void PrintWithoutLineEnd(std::u16string_view text);
    // As above, then CurrentX goes back to 0 and CurrentY down one line.
    void Print(std::u16string_view text = {});

    virtual void Line(double x1, double y1, double x2, double y2) = 0;
    virtual void Box(double x1, double y1, double x2, double y2) = 0;
    virtual void NewPage() = 0;
    virtual void EndDoc() = 0;
    virtual double PrintableHeight() = 0;

protected:
    virtual void DrawText(double x, double top, std::u16string_view text) = 0;
    virtual double TextWidth(std::u16string_view text) = 0;

private:
    ReportFont font_;
    double currentX_ = 0;
    double currentY_ = 0;
};

}  // namespace murako
