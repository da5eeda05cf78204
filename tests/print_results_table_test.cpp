#include "print_results_table.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

#include "results_table.h"

namespace murako {
namespace {

struct ShownMessage {
    QString text;
    QString title;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

// Runs the print command and answers its modal windows as a user would: OK or Cancel in the printer dialog,
// OK in any message box.
struct PrintSession {
    bool acceptPrinterDialog = true;
    int printerDialogs = 0;
    std::vector<ShownMessage> messages;

    void Run(ResultsTable& table)
    {
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QPrintDialog*>(modal)) {
                ++printerDialogs;
                acceptPrinterDialog ? dialog->accept() : dialog->reject();
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages.push_back({box->text(), box->windowTitle(), box->icon(), box->standardButtons()});
                box->button(QMessageBox::Ok)->click();
            }
        });
        answerer.start(20);
        PrintResultsTable(nullptr, table);
    }
};

class PrintResultsTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QPrinter().outputFormat() != QPrinter::PdfFormat)
            GTEST_SKIP() << "a printer is configured here; this test must not print on it";
        ASSERT_TRUE(home_.isValid());
        savedHome_ = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home_.path()));
        InitGrid(table_);
    }
    void TearDown() override
    {
        if (!savedHome_.isNull())
            qputenv("HOME", savedHome_);
    }

    QTemporaryDir home_;
    QByteArray savedHome_;
    ResultsTable table_;
};

TEST_F(PrintResultsTableTest, WithoutAPrinterOkWritesThePdfTheDialogProposesAndShowsNoMessage)
{
    PrintSession session;
    session.Run(table_);
    EXPECT_EQ(session.printerDialogs, 1);
    EXPECT_TRUE(session.messages.empty());
    QFile pdf(home_.filePath(QStringLiteral("Murako.pdf")));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
}

TEST_F(PrintResultsTableTest, CancelShowsOnlyTheMessageCaptionedWithTheTitleAndWritesNothing)
{
    PrintSession session;
    session.acceptPrinterDialog = false;
    session.Run(table_);
    EXPECT_EQ(session.printerDialogs, 1);
    ASSERT_EQ(session.messages.size(), 1u);
    EXPECT_EQ(session.messages[0].text, QStringLiteral("印刷を取り消しました"));
    EXPECT_EQ(session.messages[0].title, QStringLiteral("Murako"));
    EXPECT_EQ(session.messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(session.messages[0].buttons, QMessageBox::Ok);
    EXPECT_FALSE(QFile::exists(home_.filePath(QStringLiteral("Murako.pdf"))));
}

TEST_F(PrintResultsTableTest, APdfThatCannotBeWrittenEndsInTheSameMessage)
{
    qputenv("HOME", QFile::encodeName(home_.filePath(QStringLiteral("no/such/folder"))));
    PrintSession session;
    session.Run(table_);
    ASSERT_EQ(session.messages.size(), 1u);
    EXPECT_EQ(session.messages[0].text, QStringLiteral("印刷を取り消しました"));
}

}  // namespace
}  // namespace murako
