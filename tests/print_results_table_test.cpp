#include "print_results_table.h"

#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "results_table.h"
#include "table_rows.h"
#include "window_test_support.h"

namespace murako {
namespace {

using fakes::ModalAnswerer;

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
    ModalAnswerer answerer;
    PrintResultsTable(nullptr, table_);
    EXPECT_EQ(answerer.printerDialogs, 1);
    EXPECT_TRUE(answerer.messages.empty());
    QFile pdf(home_.filePath(QStringLiteral("Murako.pdf")));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
}

TEST_F(PrintResultsTableTest, CancelShowsOnlyTheMessageCaptionedWithTheTitleAndWritesNothing)
{
    ModalAnswerer answerer(false);
    PrintResultsTable(nullptr, table_);
    EXPECT_EQ(answerer.printerDialogs, 1);
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].text, QStringLiteral("印刷を取り消しました"));
    EXPECT_EQ(answerer.messages[0].title, QStringLiteral("Murako"));
    EXPECT_EQ(answerer.messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answerer.messages[0].buttons, QMessageBox::Ok);
    EXPECT_FALSE(QFile::exists(home_.filePath(QStringLiteral("Murako.pdf"))));
}

TEST_F(PrintResultsTableTest, OkLeavesTheLastCellThePrintReadCurrentAndCancelLeavesTheCurrentCellAlone)
{
    fakes::AddRow(table_, "2", "a", "1 kb");
    fakes::AddRow(table_, "3", "b", "2 kb");
    table_.SetRow(1);
    table_.SetCol(1);
    {
        ModalAnswerer cancel(false);
        PrintResultsTable(nullptr, table_);
    }
    EXPECT_EQ(table_.Row(), 1);
    EXPECT_EQ(table_.Col(), 1);

    ModalAnswerer answerer;
    PrintResultsTable(nullptr, table_);
    ASSERT_TRUE(answerer.messages.empty());
    EXPECT_EQ(table_.Row(), 3);
    EXPECT_EQ(table_.Col(), 2);
}

TEST_F(PrintResultsTableTest, APdfThatCannotBeWrittenEndsInTheSameMessage)
{
    qputenv("HOME", QFile::encodeName(home_.filePath(QStringLiteral("no/such/folder"))));
    ModalAnswerer answerer;
    PrintResultsTable(nullptr, table_);
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].text, QStringLiteral("印刷を取り消しました"));
}

}  // namespace
}  // namespace murako
