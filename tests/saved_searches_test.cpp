// Saving a search's results to a file and opening such a file again, through the real window: the same rows
// from the file as from the search, at the top and below, nothing acted on that is not this computer's, and a
// file that cannot be read or written changing nothing.
#include "form1.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <optional>

#include "dir_list.h"
#include "file_dialog_answerer.h"
#include "map_window.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "saved_searches.h"
#include "small_volume.h"
#include "temp_tree.h"
#include "window_driving.h"

namespace murako {
namespace {

using fakes::Cells;
using fakes::FileDialogAnswerer;
using fakes::GatedFileSystem;
using fakes::TempTree;
using fakes::WaitUntil;
using Rows = std::vector<std::vector<std::string>>;

const QString kSave = QStringLiteral("検索結果を保存...");
const QString kOpen = QStringLiteral("検索結果を開く...");

// The real disk behind gates that stay open unless a test closes them; one walking thread.
class SavedSearchesTest : public ::testing::Test {
protected:
    SavedSearchesTest()
        : gated(std::make_shared<GatedFileSystem>(std::make_shared<PosixFileSystem>())),
          form(gated, {.threads = 1, .rowWritten = {}})
    {
        gated->listing.Open();
        gated->walk.Open();
        grid = fakes::FindControl<ResultsGrid>(form, "Grid1");
        dir = fakes::FindControl<DirList>(form, "Dir1");
        progress = fakes::FindControl<QLabel>(form, "StatusBar1.Panels(2)");
        tree.File("base/own", 2048);
        tree.File("base/big/inner/data", 300 << 10);
        tree.File("base/big/top", 1000);
        tree.File("base/small/x", 10);
        tree.Dir("base/empty");
        tree.Dir("elsewhere");
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    ~SavedSearchesTest() override
    {
        gated->listing.Open();
        gated->walk.Open();
        EXPECT_TRUE(WaitUntil([&] { return gated->Idle() && !form.Controller().Searching(); }));
    }

    void Search(const std::string& relative) { fakes::SearchFromTheList(form, tree.Path(relative)); }
    void Key(int key, Qt::KeyboardModifiers modifiers = {})
    {
        // Shortcuts work in the active window only, which a dialog just closed may not have given back yet.
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        grid->setFocus();
        QTest::keyClick(grid, static_cast<Qt::Key>(key), modifiers);
    }
    void GoDownInto(const std::string& name)
    {
        form.Table().SetRow(fakes::RowNamed(form.Table(), name));
        Key(Qt::Key_Return);
    }
    // Ctrl+S answered with path; the choosers that opened, each as the folder and name it offered.
    QStringList Save(const QString& path, QStringList* messages = nullptr)
    {
        FileDialogAnswerer answerer(path);
        Key(Qt::Key_S, Qt::ControlModifier);
        QTest::qWait(100);
        if (messages)
            *messages = answerer.messages;
        return answerer.offered;
    }
    // Ctrl+O answered with path, waiting until the reading is over, with the pointer busy until then; the
    // messages shown.
    QStringList Open(const QString& path)
    {
        FileDialogAnswerer answerer(path);
        Key(Qt::Key_O, Qt::ControlModifier);
        EXPECT_EQ(answerer.dialogTitles, QStringList{"検索結果を開く"});
        EXPECT_TRUE(WaitUntil([] { return !QApplication::overrideCursor(); }));
        return answerer.messages;
    }
    // The context menu's entries, each marked "(off) " when disabled; closed again.
    QStringList Menu()
    {
        QStringList entries;
        fakes::UseContextMenu(grid, [&](QMenu* menu) {
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    entries << (action->isEnabled() ? "" : "(off) ") + action->text();
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        return entries;
    }
    QString JsonPath(const std::string& name) { return QString::fromStdString(out.Path(name)); }

    TempTree tree;
    TempTree out;
    std::shared_ptr<GatedFileSystem> gated;
    Form1 form;
    ResultsGrid* grid;
    DirList* dir;
    QLabel* progress;
};

TEST_F(SavedSearchesTest, TheWholeSearchSavedAndOpenedShowsItsRowsAtTheTopAndBelowWithTheFilesDate)
{
    Search("base");
    const Rows base = Cells(form.Table());
    GoDownInto("big");
    const Rows big = Cells(form.Table());
    const QString path = JsonPath("saved.json");

    // Saved from below the top: the whole search all the same, offered beside the folder searched.
    EXPECT_EQ(Save(path), QStringList{QString::fromStdString(tree.Path("base")) + "/base-" +
                                      QDate::currentDate().toString("yyyy-MM-dd") + ".json"});
    ASSERT_TRUE(QFile::exists(path));
    // A copy's time is no search's: the file's own timestamp tells when it was written.
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadWrite));
    ASSERT_TRUE(saved.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5)), QFileDevice::FileModificationTime));
    saved.close();

    Search("elsewhere");
    const std::string listed = dir->Path();
    EXPECT_EQ(Open(path), QStringList{});
    EXPECT_TRUE(form.Controller().KeptImported());
    EXPECT_EQ(Cells(form.Table()), base);
    const QString note = progress->text();
    EXPECT_TRUE(note.startsWith("saved.json　" + QDate::currentDate().toString("yyyy/MM/dd") + " ")) << note.toStdString();
    EXPECT_TRUE(note.endsWith(" の検索結果")) << note.toStdString();

    GoDownInto("big");
    EXPECT_EQ(Cells(form.Table()), big);
    EXPECT_EQ(dir->Path(), listed) << "the directory list stays where the user left it";
    Key(Qt::Key_M, Qt::ControlModifier);
    ASSERT_TRUE(form.Map() && form.Map()->isVisible());
    form.Map()->close();
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Cells(form.Table()), base);
    EXPECT_EQ(progress->text(), note);

    // Saved again, the opened results make the same file once more.
    const QString again = JsonPath("again.json");
    Save(again);
    QFile first(path);
    QFile second(again);
    ASSERT_TRUE(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
    const auto pastTheMetadata = [](QFile& file) { return file.readAll().split('\n').mid(1); };
    EXPECT_EQ(pastTheMetadata(first), pastTheMetadata(second));
}

TEST_F(SavedSearchesTest, OpenedResultsActOnNothingOfThisComputerButWhatItHas)
{
    Search("base");
    const QString path = JsonPath("base.json");
    Save(path);
    Search("elsewhere");
    ASSERT_EQ(Open(path), QStringList{});
    const Rows base = Cells(form.Table());

    form.Table().SetRow(fakes::RowNamed(form.Table(), "big"));
    const QStringList menu = Menu();
    EXPECT_TRUE(menu.contains("(off) ごみ箱に移動...")) << menu.join('\n').toStdString();
    EXPECT_TRUE(menu.contains("フォルダーを開く")) << "the folder is on this computer";
    EXPECT_TRUE(menu.contains("再検索"));
    bool asked = false;
    QTimer::singleShot(100, [&] {
        if (QWidget* question = QApplication::activeModalWidget()) {
            asked = true;
            question->close();
        }
    });
    Key(Qt::Key_Delete);
    QTest::qWait(200);
    EXPECT_FALSE(asked) << "not even asked";
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(tree.Path("base/big/top"))));

    Key(Qt::Key_Backspace);
    EXPECT_FALSE(form.Controller().Searching()) << "above the file's top, nothing";
    EXPECT_EQ(Cells(form.Table()), base);

    // F5 searches this computer's directory, and what it finds is a search's again.
    tree.File("base/new/f", 5000);
    Key(Qt::Key_F5);
    ASSERT_TRUE(WaitUntil([&] { return !form.Controller().Searching(); }));
    EXPECT_FALSE(form.Controller().KeptImported());
    EXPECT_EQ(dir->Path(), tree.Path("base"));
    EXPECT_EQ(form.Table().TextAt(fakes::RowNamed(form.Table(), "new"), 2), "5 kb");
}

// Written by another computer, with no timestamp: the file's own time, and its places left alone.
TEST_F(SavedSearchesTest, ResultsOfAnotherComputerGoNowhereAboveAndSearchNothing)
{
    const QString path = JsonPath("peer.json");
    QFile peer(path);
    ASSERT_TRUE(peer.open(QIODevice::WriteOnly));
    peer.write(R"([1,2,{"progname":"peer"},[{"name":"/nowhere-murako/top"},{"name":"f","asize":3000},)"
               R"([{"name":"sub"},{"name":"g","asize":1024}]]])");
    peer.close();
    ASSERT_TRUE(peer.open(QIODevice::ReadWrite));
    ASSERT_TRUE(peer.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5)), QFileDevice::FileModificationTime));
    peer.close();

    const std::string listed = dir->Path();
    ASSERT_EQ(Open(path), QStringList{});
    EXPECT_EQ(progress->text(), "peer.json　2001/02/03 04:05 の検索結果");
    EXPECT_EQ(Cells(form.Table()), (Rows{{"№", "ディレクトリ", "サイズ"},
                                         {"1", "[Root Files]", "3 kb"},
                                         {"2", "sub", "1 kb"},
                                         {"3", "/nowhere-murako/top/合計", "4 kb"}}));
    form.Table().SetRow(2);
    const QStringList menu = Menu();
    for (const char* off : {"(off) 再検索", "(off) フォルダーを開く", "(off) ごみ箱に移動...", "(off) 上のディレクトリを検索"})
        EXPECT_TRUE(menu.contains(off)) << off << "\n" << menu.join('\n').toStdString();
    Key(Qt::Key_F5);
    Key(Qt::Key_Backspace);
    EXPECT_FALSE(form.Controller().Searching());
    GoDownInto("sub");
    EXPECT_EQ(form.Controller().ShownPath(), "/nowhere-murako/top/sub/");
    Key(Qt::Key_Backspace);
    EXPECT_EQ(form.Controller().ShownPath(), "/nowhere-murako/top/");
    EXPECT_EQ(dir->Path(), listed);
}

// A top named relative to some working directory, or as another system names it, is shown and acts on
// nothing, even where such a directory is at hand; the status bar says why.
TEST_F(SavedSearchesTest, ARelativeOrAnotherSystemsTopActsOnNothingAndSaysWhy)
{
    const std::pair<std::string, QString> tops[] = {
        {QDir::current().relativeFilePath(QString::fromStdString(tree.Path("base"))).toStdString(), "相対パス"},
        {R"(C:\base)", "別の OS"}};
    for (const auto& [top, why] : tops) {
        const QString path = JsonPath("elsewhere.json");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::fromStdString(R"([1,2,{"timestamp":1},[{"name":")" + top +
                                             R"("},{"name":"own","asize":2048},[{"name":"big"}]]])"));
        file.close();
        ASSERT_EQ(Open(path), QStringList{});
        EXPECT_TRUE(progress->text().contains(why)) << progress->text().toStdString();
        form.Table().SetRow(fakes::RowNamed(form.Table(), "big"));
        const QStringList menu = Menu();
        for (const char* off : {"(off) 再検索", "(off) フォルダーを開く"})
            EXPECT_TRUE(menu.contains(off)) << top << ": " << off << "\n" << menu.join('\n').toStdString();
        Key(Qt::Key_F5);
        EXPECT_FALSE(form.Controller().Searching());
    }
}

// Two entries of one name, as a writer that stood in U+FFFD for bytes no UTF-8 has may leave: both shown, the
// status bar saying so, and neither opened nor searched, though such a directory is at hand.
TEST_F(SavedSearchesTest, EntriesOfOneNameAreShownAndMarkedAndNeverActedOn)
{
    const QString path = JsonPath("alike.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(R"([1,2,{"timestamp":1},[{"name":")" + tree.Path("base") +
                                         R"("},[{"name":"big"},{"name":"a","asize":1024}],[{"name":"big"},{"name":"b","asize":2048}],)"
                                         R"([{"name":"small"}]]])"));
    file.close();
    ASSERT_EQ(Open(path), QStringList{});
    EXPECT_TRUE(progress->text().contains("同じ名前の項目")) << progress->text().toStdString();
    EXPECT_EQ(form.Table().TextAt(form.Table().Rows() - 1, 2), "3 kb");
    form.Table().SetRow(fakes::RowNamed(form.Table(), "small"));
    EXPECT_TRUE(Menu().contains("フォルダーを開く")) << "a directory of a name of its own";
    form.Table().SetRow(fakes::RowNamed(form.Table(), "big"));
    EXPECT_TRUE(Menu().contains("(off) フォルダーを開く"));
    GoDownInto("big");
    EXPECT_TRUE(Menu().contains("(off) 再検索"));
    Key(Qt::Key_F5);
    EXPECT_FALSE(form.Controller().Searching());
    EXPECT_TRUE(form.Controller().KeptImported());
}

// A file too large to wait for without a word: its progress is shown and the user may give it up.
TEST_F(SavedSearchesTest, ALargeFileShowsItsProgressAndGivenUpChangesNothing)
{
    Search("base");
    const Rows shown = Cells(form.Table());
    const QString path = JsonPath("large.json");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"([1,2,{"timestamp":1},[{"name":"/large"})");
        QByteArray entries;
        for (int i = 0; file.size() + entries.size() <= SavedSearches::ProgressFrom; ++i) {
            entries += ",\n{\"name\":\"a-file-of-a-large-directory-" + QByteArray::number(i) + "\",\"asize\":1000}";
            if (entries.size() > (1 << 20))
                file.write(std::exchange(entries, {}));
        }
        file.write(entries + "]]");
    }
    QString label;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            poll.stop();
            label = progress->labelText();
            QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        }
    });
    poll.start(5);
    EXPECT_EQ(Open(path), QStringList{}) << "not a word after a cancel";
    EXPECT_EQ(label, "large.json を読み込んでいます...");
    QTest::qWait(100);
    EXPECT_EQ(Cells(form.Table()), shown);
    EXPECT_FALSE(form.Controller().KeptImported());
}

struct BrokenFile {
    const char* name;
    const char* contents;
    const char* said;
};

void PrintTo(const BrokenFile& broken, std::ostream* out)
{
    *out << broken.name;
}

class BrokenFileTest : public SavedSearchesTest, public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(BrokenFileTest, SaysWhyAndLeavesTheTableAsItWas)
{
    Search("base");
    GoDownInto("big");
    const Rows shown = Cells(form.Table());
    const KeptTree* kept = form.Controller().Kept();
    const QString note = progress->text();
    const QString path = JsonPath("broken.json");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam().contents);
    }
    const QStringList messages = Open(path);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(path + " を開けませんでした。\n")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(GetParam().said)) << messages[0].toStdString();
    EXPECT_EQ(Cells(form.Table()), shown);
    EXPECT_EQ(form.Controller().Kept(), kept);
    EXPECT_FALSE(form.Controller().KeptImported());
    EXPECT_EQ(progress->text(), note);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("base") + "/") << "still the search's results";
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFileTest,
    ::testing::Values(
        BrokenFile{"CutShort", R"([1,2,{"timestamp":1},[{"name":"/x"},{"name":"f","asize":1},[{"name":"d"})",
                   "72 バイト目: ファイルが JSON の途中で終わっています。"},
        BrokenFile{"NegativeSize", R"([1,2,{},[{"name":"/x"},{"name":"f","asize":-1}]])",
                   "43 バイト目: 「asize」が負の数です。"},
        BrokenFile{"NotJson", "<html>", "0 バイト目: JSON として正しくありません。"},
        BrokenFile{"Empty", "", "0 バイト目: ファイルが JSON の途中で終わっています。"},
        BrokenFile{"NamedDotDot", R"([1,2,{},[{"name":"/x"},[{"name":".."}]]])", "名前が「.」か「..」の項目があります。"}),
    [](const auto& info) { return std::string(info.param.name); });

// Where the window stands when Ctrl+S and Ctrl+O are asked for.
enum class Moment { NothingSearched, Searched, DuringASearch, AfterACancelledSearch };

struct Offered {
    const char* name;
    Moment moment;
    bool canSave;
    bool canOpen;
};

void PrintTo(const Offered& offered, std::ostream* out)
{
    *out << offered.name;
}

class CommandsOfferedTest : public SavedSearchesTest, public ::testing::WithParamInterface<Offered> {
protected:
    // A search of big held before its subdirectory inner, its first rows written.
    void HoldSearchInTheWalk()
    {
        gated->walk.Close();
        gated->blockedSubdirectory = "inner";
        ASSERT_TRUE(dir->SetPath(tree.Path("base/big")));
        ClickSearch();
        ASSERT_TRUE(gated->walk.WaitForWaiter());
        ASSERT_TRUE(WaitUntil([&] { return form.Controller().ShownPath() == tree.Path("base/big") + "/"; }));
    }
    void ClickSearch() { QTest::mouseClick(fakes::FindControl<QPushButton>(form, "Command1"), Qt::LeftButton); }
};

TEST_P(CommandsOfferedTest, SaveAndOpenAreOfferedOnlyWhenTheyCanBeDone)
{
    if (GetParam().moment != Moment::NothingSearched)
        Search("base");
    if (GetParam().moment == Moment::DuringASearch || GetParam().moment == Moment::AfterACancelledSearch)
        HoldSearchInTheWalk();
    if (GetParam().moment == Moment::AfterACancelledSearch) {
        ClickSearch();
        gated->walk.Open();
        ASSERT_TRUE(WaitUntil([&] { return gated->Idle(); }));
        QTest::qWait(50);
    }
    const QStringList menu = Menu();
    EXPECT_TRUE(menu.contains((GetParam().canSave ? "" : "(off) ") + kSave)) << menu.join('\n').toStdString();
    EXPECT_TRUE(menu.contains((GetParam().canOpen ? "" : "(off) ") + kOpen)) << menu.join('\n').toStdString();
    if (GetParam().moment == Moment::Searched || GetParam().moment == Moment::DuringASearch) {
        EXPECT_TRUE(menu.contains((GetParam().canSave ? "" : "(off) ") + QString("前回と比較...")))
            << "compared alike: " << menu.join('\n').toStdString();
    }
    const QString path = JsonPath("now.json");
    EXPECT_EQ(Save(path).size(), GetParam().canSave ? 1 : 0) << "the key does what the menu offers";
    EXPECT_EQ(QFile::exists(path), GetParam().canSave);
    if (GetParam().moment == Moment::AfterACancelledSearch) {
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll().contains(R"("murako_incomplete":true)")) << "the file says it is incomplete";
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, CommandsOfferedTest,
                         ::testing::Values(Offered{"NothingSearched", Moment::NothingSearched, false, true},
                                           Offered{"Searched", Moment::Searched, true, true},
                                           Offered{"DuringASearch", Moment::DuringASearch, false, false},
                                           Offered{"AfterACancelledSearch", Moment::AfterACancelledSearch, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Unwritable {
    const char* name;
    bool readOnly;  // else full but for one page
    bool overTheOldFile;
    const char* said;
};

void PrintTo(const Unwritable& volume, std::ostream* out)
{
    *out << volume.name;
}

// A volume that takes no export file: the save fails with its reason, and leaves no file, or the old one whole.
class UnwritableVolumeTest : public SavedSearchesTest, public ::testing::WithParamInterface<Unwritable> {};

TEST_P(UnwritableVolumeTest, ASaveFailsWithItsReasonAndLeavesNoFileOrTheOldOneAsItWas)
{
    for (int i = 0; i < 100; ++i)
        tree.File("base/many/a-name-long-enough-to-fill-the-page-" + std::to_string(i), i);
    Search("base");
    out.Dir("volume");
    fakes::SmallVolume volume(out.Path("volume"), "size=64k");
    if (!volume.Mounted())
        GTEST_SKIP() << "a small tmpfs needs root and a mount namespace";
    const QString old = JsonPath("volume/old.json");
    {
        QFile file(old);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    ASSERT_TRUE(volume.FillLeaving("filler", 4096));
    if (GetParam().readOnly)
        volume.MakeReadOnly();
    const QString path = GetParam().overTheOldFile ? old : JsonPath("volume/new.json");
    QStringList messages;
    Save(path, &messages);
    // Over the old file, the chooser asks first.
    ASSERT_EQ(messages.size(), GetParam().overTheOldFile ? 2 : 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages.last().startsWith(path + " に保存できませんでした。\n")) << messages.last().toStdString();
    EXPECT_TRUE(messages.last().endsWith(GetParam().said)) << messages.last().toStdString();
    EXPECT_EQ(QDir(JsonPath("volume")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"filler", "old.json"}));
    QFile file(old);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, UnwritableVolumeTest,
    ::testing::Values(Unwritable{"FullNewFile", false, false, "ディスクの空きが足りません。"},
                      Unwritable{"FullOverTheOldFile", false, true, "ディスクの空きが足りません。"},
                      Unwritable{"ReadOnly", true, true, "保存先は読み取り専用です。"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace murako
