#include "scope_commands.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "file_dialog_answerer.h"

namespace murako {
namespace {

using fakes::FileDialogAnswerer;

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

class PatternDialogTest : public ::testing::Test {
protected:
    void Type(const QString& text) { dialog_.findChild<QPlainTextEdit*>()->setPlainText(text); }
    void Press(const QString& caption)
    {
        for (QPushButton* button : dialog_.findChildren<QPushButton*>())
            if (button->text() == caption)
                return button->click();
        FAIL() << caption.toStdString();
    }

    QTemporaryDir folder_;
    PatternDialog dialog_{{"*.o"}, nullptr};
};

struct BadCase {
    const char* lines;
    const char* reason;  // the message names the pattern and why
};

class PatternDialogRefuses : public PatternDialogTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(PatternDialogRefuses, APatternThatCannotBeMatchedIsNeitherKeptNorSavedAndTheReasonIsGiven)
{
    Type(QString::fromUtf8(GetParam().lines));
    {
        FileDialogAnswerer answerer(folder_.filePath(QStringLiteral("never")));
        dialog_.accept();
        ASSERT_EQ(answerer.messages.size(), 1);
        EXPECT_TRUE(answerer.messages.front().contains(QString::fromUtf8(GetParam().reason)))
            << answerer.messages.front().toStdString();
    }
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
    EXPECT_EQ(dialog_.Patterns(), std::vector<std::string>{"*.o"}) << "what was kept stays";
    FileDialogAnswerer answerer(folder_.filePath(QStringLiteral("never")));
    Press(QStringLiteral("ファイルに保存..."));
    ASSERT_EQ(answerer.messages.size(), 1);
    EXPECT_TRUE(answerer.messages.front().contains(QStringLiteral("保存しません")));
    EXPECT_TRUE(answerer.dialogTitles.isEmpty()) << "refused before a file is asked for";
    EXPECT_FALSE(QFile::exists(folder_.filePath(QStringLiteral("never"))));
}

INSTANTIATE_TEST_SUITE_P(Patterns, PatternDialogRefuses,
                         ::testing::Values(BadCase{"ok\nsrc/[ab", "「src/[ab」: 「[」が「]」で閉じられていません"},
                                           BadCase{"[[:nothing:]]x", "知らない文字クラスです: [:nothing:]"}));

TEST_F(PatternDialogTest, APatternFileIsReadOneALineAndKeptOnOk)
{
    const QString path = folder_.filePath(QStringLiteral("ignore"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("node_modules  \n\n*.tmp\n\xe6\x97\xa5*\n");
    file.close();
    {
        FileDialogAnswerer answerer(path);
        Press(QStringLiteral("ファイルから読み込む..."));
        EXPECT_TRUE(answerer.messages.isEmpty()) << answerer.messages.join('\n').toStdString();
    }
    dialog_.accept();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(dialog_.Patterns(), (std::vector<std::string>{"node_modules", "*.tmp", "\xe6\x97\xa5*"}));
}

TEST_F(PatternDialogTest, ThePatternsAreWrittenOneALineAsDuReadsThem)
{
    Type(QStringLiteral("*.o \n\n  a b\n[0-9]*"));
    const QString path = folder_.filePath(QStringLiteral("saved"));
    FileDialogAnswerer answerer(path);
    Press(QStringLiteral("ファイルに保存..."));
    EXPECT_TRUE(answerer.messages.isEmpty()) << answerer.messages.join('\n').toStdString();
    EXPECT_EQ(Contents(path), QByteArray("*.o\n  a b\n[0-9]*\n"));
}

}  // namespace
}  // namespace murako
