#pragma once
// What the tests of the real window do as a user would: search a directory, find a row by its name.

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "dir_list.h"
#include "form1.h"
#include "window_test_support.h"

namespace murako::fakes {

// Opens path in the window's directory list, presses 検索 and waits until the search has ended.
inline void SearchFromTheList(Form1& form, const std::string& path)
{
    ASSERT_TRUE(FindControl<DirList>(form, "Dir1")->SetPath(path));
    QTest::mouseClick(FindControl<QPushButton>(form, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !form.Controller().Searching(); }));
}

// The report the print button makes as text, printed to the PDF file the printer dialog offers where no
// printer is set up; empty where one is.
inline QString PrintedReport(Form1& form)
{
    if (QPrinter().outputFormat() != QPrinter::PdfFormat)
        return {};
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    {
        ModalAnswerer answerer;
        QTest::mouseClick(FindControl<QPushButton>(form, "Command3"), Qt::LeftButton);
    }
    qputenv("HOME", savedHome);
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {home.filePath(QStringLiteral("Murako.pdf")), QStringLiteral("-")});
    EXPECT_TRUE(pdftotext.waitForFinished(30000));
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

// The row whose directory cell says name; a test failure and row 1 when there is none.
inline int32_t RowNamed(const ResultsTable& table, const std::string& name)
{
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row)
        if (table.TextAt(row, 1) == name)
            return row;
    ADD_FAILURE() << name << " is not in the table";
    return ResultsTable::FixedRows;
}

// Opens the context menu of widget from the keyboard and hands it to use, which closes it or chooses an entry.
inline void UseContextMenu(QWidget* widget, const std::function<void(QMenu* menu)>& use)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        use(menu);
    });
    poll.start(10);
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key_F10, Qt::ShiftModifier);
}

}  // namespace murako::fakes
