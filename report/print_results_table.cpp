#include "print_results_table.h"

#include <QDate>
#include <QDir>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QString>

#include "qt_report_printer.h"
#include "report.h"

namespace murako {

namespace {

class QtPrinterDialog final : public PrinterDialog {
public:
    QtPrinterDialog(QWidget* parent, QPrinter& printer) : parent_(parent), printer_(printer) {}

    bool ShowPrinter() override
    {
        QPrintDialog dialog(&printer_, parent_);
        // The report always prints whole; a page range the user chose would be silently ignored.
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        return dialog.exec() == QDialog::Accepted;
    }

private:
    QWidget* parent_;
    QPrinter& printer_;
};

class QtMessageBox final : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}

    void ShowMessage(const std::u16string& text, const std::u16string& caption) override
    {
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdU16String(caption), QString::fromStdU16String(text),
                        QMessageBox::Ok, parent_);
        box.exec();
    }

private:
    QWidget* parent_;
};

class SystemDateSource final : public DateSource {
public:
    ReportDate Today() override
    {
        const QDate today = QDate::currentDate();
        return {today.year(), today.month(), today.day()};
    }
};

}  // namespace

void PrintResultsTable(QWidget* parent, ResultsTable& table, SizeMeasure measure)
{
    QPrinter printer(QPrinter::HighResolution);
    const QString title = QString::fromStdU16String(kApplicationTitle);
    printer.setDocName(title);
    // With no printer configured the dialog offers only a PDF file, and would propose a folder, not a file.
    if (printer.outputFormat() == QPrinter::PdfFormat)
        printer.setOutputFileName(QDir::home().filePath(title + QStringLiteral(".pdf")));
    QtReportPrinter reportPrinter(printer);
    QtPrinterDialog dialog(parent, printer);
    QtMessageBox messages(parent);
    SystemDateSource dates;
    // A search goes on while the dialog is open; the report holds the rows of the moment of the press.
    ResultsTable pressed = table.Snapshot();
    if (RunPrintCommand(pressed, dialog, reportPrinter, messages, dates, measure) &&
        pressed.Row() < table.Rows()) {
        // Printing reads every cell, which leaves the last one read current.
        table.SetRow(pressed.Row());
        table.SetCol(pressed.Col());
    }
}

}  // namespace murako
