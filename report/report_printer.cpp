#include "report_printer.h"

namespace murako {

void ReportPrinter::PrintWithoutLineEnd(std::u16string_view text)
{
    if (text.empty())
        return;
    DrawText(currentX_, currentY_, text);
    currentX_ += TextWidth(text);
}

void ReportPrinter::Print(std::u16string_view text)
{
    PrintWithoutLineEnd(text);
    currentX_ = 0;
    currentY_ += LineHeight();
}

}  // namespace murako
