#pragma once

#include <cstdint>
#include <string>

#include "kept_tree.h"
#include "report_printer.h"
#include "results_table.h"

namespace murako {

struct ReportDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// The printer-selection dialog; OK makes its choice the target of the ReportPrinter.
class PrinterDialog {
public:
    virtual ~PrinterDialog() = default;
    // False when the user cancels.
    virtual bool ShowPrinter() = 0;
};

class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void ShowMessage(const std::u16string& text, const std::u16string& caption) = 0;
};

class DateSource {
public:
    virtual ~DateSource() = default;
    virtual ReportDate Today() = 0;
};

inline constexpr char16_t kPrintCancelledMessage[] = u"印刷を取り消しました";
inline constexpr char16_t kApplicationTitle[] = u"Murako";

// "YY年MM月DD日", every part two digits.
std::u16string FormatReportDate(const ReportDate& date);

// Prints the date, the title and every row of the table, each row framed, with the two column rules, and
// ends the document. A row that would cross the bottom of the printable area starts a new page, which
// begins with the header row again. When a size text needs more than the size field's 15 columns, the field
// widens to it for the whole report. When directories under the rows could not be read, one line below the
// table says how many. Sizes counted on disk rather than as file lengths are named beside the title.
void PrintReport(ResultsTable& table, ReportPrinter& printer, const std::u16string& date,
                 SizeMeasure measure = SizeMeasure::Length);

// The print button: asks for a printer, then prints the report; a cancel or any failure shows one message.
// True when the report was printed.
bool RunPrintCommand(ResultsTable& table, PrinterDialog& dialog, ReportPrinter& printer, MessageBox& messages,
                     DateSource& dates, SizeMeasure measure = SizeMeasure::Length);

}  // namespace murako
