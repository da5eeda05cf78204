// Qt's own dialogs as the program shows them: set up as main() sets them up, before the application exists.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QKeySequence>
#include <QGroupBox>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include "form1.h"
#include "japanese.h"
#include "window_test_support.h"

namespace murako {
namespace {

// Every text a person can read in window and its children: captions, labels, group titles, tabs, list
// entries, tooltips, and the cells and headers of its tables.
QStringList VisibleTexts(const QWidget& window)
{
    QStringList texts{window.windowTitle()};
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        texts << widget->toolTip();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts << button->text();
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        if (const auto* group = qobject_cast<const QGroupBox*>(widget))
            texts << group->title();
        if (const auto* tabs = qobject_cast<const QTabWidget*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        if (const auto* combo = qobject_cast<const QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        if (const auto* tree = qobject_cast<const QTreeView*>(widget)) {
            const QAbstractItemModel* model = tree->model();
            for (int col = 0; col < model->columnCount(tree->rootIndex()); ++col) {
                texts << model->headerData(col, Qt::Horizontal).toString();
                for (int row = 0; row < model->rowCount(tree->rootIndex()); ++row)
                    texts << model->index(row, col, tree->rootIndex()).data().toString();
            }
        }
    }
    texts.removeAll(QString());
    return texts;
}

// The English that Qt's Japanese translation leaves in these dialogs, and English dates.
void ExpectJapanese(const QStringList& texts, const char* dialog)
{
    static const QRegularExpression english(QStringLiteral(
        R"(\b(Pages|Double Sided Printing|Off|Long side binding|Short side binding|Advanced|There are conflicts|)"
        R"(Folder|Drive|image|document|bytes|Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)\b)"));
    ASSERT_FALSE(texts.isEmpty()) << dialog;
    for (const QString& text : texts)
        EXPECT_FALSE(english.match(text).hasMatch()) << dialog << ": " << text.toStdString();
}

TEST(DialogTexts, ThePrinterDialogItsOptionsAndItsPropertiesSpeakJapanese)
{
    QPrinter printer;
    QPrintDialog dialog(&printer);
    dialog.show();
    ExpectJapanese(VisibleTexts(dialog), "printer dialog");

    QAbstractButton* properties = dialog.findChild<QAbstractButton*>(QStringLiteral("properties"));
    ASSERT_NE(properties, nullptr);
    QStringList propertyTexts;
    QTimer::singleShot(0, [&] {
        if (auto* shown = qobject_cast<QDialog*>(QApplication::activeModalWidget()); shown && shown != &dialog) {
            propertyTexts = VisibleTexts(*shown);
            shown->reject();
        }
    });
    properties->click();
    ExpectJapanese(propertyTexts, "printer properties");
}

TEST(DialogTexts, TheFileChooserShowsJapaneseTypesAndDates)
{
    QTemporaryDir folder;
    QFile(folder.filePath(QStringLiteral("report.pdf"))).open(QIODevice::WriteOnly);
    QFile(folder.filePath(QStringLiteral("picture.png"))).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    QFileDialog chooser(nullptr, QString(), folder.path());
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setViewMode(QFileDialog::Detail);
    chooser.show();
    QTreeView* files = chooser.findChild<QTreeView*>();
    ASSERT_NE(files, nullptr);
    // The model lists the folder in the background, as slowly as a busy machine lets it.
    fakes::WaitUntil([&] { return files->model()->rowCount(files->rootIndex()) >= 3; });
    ASSERT_EQ(files->model()->rowCount(files->rootIndex()), 3);
    const QStringList texts = VisibleTexts(chooser);
    ExpectJapanese(texts, "file chooser");
    const QString today = QLocale(QLocale::Japanese, QLocale::Japan).toString(QDate::currentDate(), QLocale::ShortFormat);
    EXPECT_FALSE(texts.filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(today))).isEmpty())
        << "no date in the Japanese form " << today.toStdString() << " in " << texts.join(" | ").toStdString();
}

// The locale variables as the program was started with them.
QByteArray startingLocale;

QByteArray LocaleVariables()
{
    QByteArray values;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_MESSAGES", "LANG"})
        values += variable + QByteArray(qEnvironmentVariableIsSet(variable) ? "=" + qgetenv(variable) : "") + ";";
    return values;
}

TEST(DialogTexts, TheGridsMenuNamesItsShortcutKeysRight)
{
    EXPECT_EQ(QKeySequence(Qt::Key_Backspace).toString(QKeySequence::NativeText), "Backspace");
    EXPECT_EQ(QKeySequence(Qt::CTRL | Qt::Key_C).toString(QKeySequence::NativeText), "Ctrl+C");
}

TEST(DialogTexts, TheCLibraryAndTheWindowSystemKeepTheUsersLocale)
{
    EXPECT_EQ(LocaleVariables().toStdString(), startingLocale.toStdString());
}

}  // namespace
}  // namespace murako

int main(int argc, char** argv)
{
    murako::startingLocale = murako::LocaleVariables();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    murako::UseJapaneseLocale();
    QApplication app(argc, argv);
    if (!murako::LoadQtJapaneseTranslations()) {
        fprintf(stderr, "qt6-translations-l10n is not installed\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
