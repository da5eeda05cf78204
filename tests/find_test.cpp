// Finding what fills a disk through the real window: ordering the rows, going down into a row and back up,
// copying the table and saving it as CSV.
#include "form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QStyle>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "dir_list.h"
#include "drive_list.h"
#include "file_dialog_answerer.h"
#include "path_text.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "save_file.h"
#include "small_volume.h"
#include "rows_as_text.h"
#include "temp_tree.h"
#include "window_driving.h"

namespace murako {
namespace {

using fakes::Cells;
using fakes::FileDialogAnswerer;
using fakes::SmallVolume;
using fakes::TempTree;
using fakes::WaitUntil;

class FindTest : public ::testing::Test {
protected:
    FindTest() : form(std::make_shared<PosixFileSystem>())
    {
        grid = fakes::FindControl<ResultsGrid>(form, "Grid1");
        dir = fakes::FindControl<DirList>(form, "Dir1");
        // The grid's shortcuts work in an active window only.
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    // big (3 MB over two levels), a10 (1,000 bytes), a2 (2,000), かな and 漢字 (empty), 2 kb of the base's own.
    void MakeTree()
    {
        tree.File("own", 2048);
        tree.File("big/inner/data", 3 << 20);
        tree.File("big/top", 1000);
        tree.File("a10/x", 1000);
        tree.File("a2/x", 2000);
        tree.Dir("かな");
        tree.Dir("漢字");
    }
    void Search(const std::string& path) { fakes::SearchFromTheList(form, path); }
    bool Finished()
    {
        return WaitUntil([&] { return !form.Controller().Searching(); });
    }
    void SaveCsv()
    {
        for (QAction* action : grid->actions())
            if (action->text() == "CSV ファイルに保存...")
                action->trigger();
    }
    // Opens the context menu from the keyboard and chooses the entry named so; the menu's entries, in order.
    QStringList ChooseFromMenu(const QString& entry)
    {
        QStringList entries;
        fakes::UseContextMenu(grid, [&](QMenu* menu) {
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    entries << action->text();
            for (QAction* action : menu->actions())
                if (action->text() == entry)
                    menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        return entries;
    }
    void ClickHeader(int col)
    {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, col).center());
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = {})
    {
        grid->setFocus();
        QTest::keyClick(grid, static_cast<Qt::Key>(key), modifiers);
    }
    // The names of the data rows, top to bottom, the total's left out.
    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (int32_t row = 1; row + 1 < form.Table().Rows(); ++row)
            names.push_back(form.Table().TextAt(row, 1));
        return names;
    }
    int32_t RowNamed(const std::string& name) { return fakes::RowNamed(form.Table(), name); }

    TempTree tree;
    Form1 form;
    ResultsGrid* grid;
    DirList* dir;
};

TEST_F(FindTest, HeaderClicksAndShortcutsOrderTheRowsKeepingNumbersAndTheTotalAndTheNextSearchKeepsTheOrder)
{
    MakeTree();
    Search(tree.Root());
    EXPECT_TRUE(grid->SortArrowRect(2).isEmpty());
    EXPECT_FALSE(grid->SortArrowRect(0).isEmpty()) << "the listing order's arrow is on №";

    ClickHeader(2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"big", "[Root Files]", "a2", "a10", "かな", "漢字"}))
        << "by bytes, the empty rows in listing order only if they come so";
    EXPECT_FALSE(grid->SortArrowRect(2).isEmpty());
    EXPECT_EQ(grid->CellNotes(0, 2), "降順に並べ替え");
    const int32_t total = form.Table().Rows() - 1;
    EXPECT_EQ(form.Table().Facts(total).kind, RowKind::Total);
    EXPECT_EQ(form.Table().Row(), total) << "the current cell stays on the total";
    EXPECT_EQ(form.Table().TextAt(1, 0), std::to_string(form.Table().Facts(1).number)) << "a row keeps its №";

    ClickHeader(2);
    EXPECT_EQ(Names().back(), "big");
    EXPECT_EQ(grid->CellNotes(0, 2), "昇順に並べ替え");

    ClickHeader(1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"[Root Files]", "a2", "a10", "big", "かな", "漢字"}))
        << "numbers by value, kana before kanji";
    EXPECT_TRUE(grid->SortArrowRect(2).isEmpty());
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Names().front(), "漢字") << "the same column again turns round";
    Key(Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(Names().front(), "big");
    Key(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(form.Table().TextAt(2, 0), "2");
    Key(Qt::Key_3, Qt::ControlModifier);

    tree.File("a10/more", 5 << 20);
    Search(tree.Root());
    EXPECT_EQ(Names().front(), "a10") << "the next search is ordered when it ends";
    EXPECT_EQ(grid->ShownSortOrder(), (SortOrder{SortColumn::Size, false}));
}

TEST_F(FindTest, ASearchEndingInAnOrderOfTheUsersShowsTheTopOfTheTableAndInListingOrderTheTotal)
{
    for (int i = 0; i < 60; ++i)
        tree.File("d" + std::to_string(i) + "/f", (i % 7 + 1) * 1000);
    Key(Qt::Key_3, Qt::ControlModifier);
    Search(tree.Root());
    ASSERT_TRUE(WaitUntil([&] { return !grid->CatchingUp(); }));
    EXPECT_EQ(grid->TopRow(), 1);
    EXPECT_EQ(form.Table().Row(), 1);
    EXPECT_EQ(form.Table().Facts(1).bytes, 7000) << "the largest first";
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(grid->viewport()->rect().contains(grid->CellRect(form.Table().Rows() - 1, 1))) << "the total";

    Key(Qt::Key_1, Qt::ControlModifier);
    Search(tree.Root());
    ASSERT_TRUE(WaitUntil([&] { return !grid->CatchingUp(); }));
    EXPECT_GT(grid->TopRow(), 1);
    EXPECT_TRUE(grid->viewport()->rect().contains(grid->CellRect(form.Table().Rows() - 1, 1))) << "the total";
}

TEST_F(FindTest, DoubleClickOrEnterSearchesARowsSubdirectoryAndBackspaceItsParentWithTheDirectoryListFollowing)
{
    fakes::ModalAnswerer answerer;  // a directory that cannot be opened would say so
    MakeTree();
    tree.Dir("bad\xFFname/deep");
    Search(tree.Root());
    Key(Qt::Key_3, Qt::ControlModifier);
    ASSERT_EQ(Names().front(), "big");

    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(1, 1).center());
    EXPECT_EQ(dir->Path(), tree.Path("big"));
    EXPECT_EQ(dir->ListIndex(), -1) << "the opened directory is the highlighted one";
    ASSERT_TRUE(Finished());
    EXPECT_EQ(form.Table().TextAt(form.Table().Rows() - 1, 1), tree.Path("big") + "/合計");
    EXPECT_EQ(Names().front(), "inner") << "the order holds down there too";

    Key(Qt::Key_Backspace);
    ASSERT_TRUE(Finished());
    EXPECT_EQ(dir->Path(), tree.Root());
    EXPECT_EQ(form.Table().TextAt(form.Table().Rows() - 1, 1), tree.Root() + "/合計");

    // A name that is not UTF-8 is shown with U+FFFD but opened by its own bytes.
    SetCellText(form.Table(), RowNamed("bad\xEF\xBF\xBDname"), 1, "bad\xEF\xBF\xBDname");
    Key(Qt::Key_Return);
    ASSERT_TRUE(Finished());
    EXPECT_EQ(dir->Path(), tree.Path("bad\xFFname"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"[Root Files]", "deep"})) << "both empty: in listing order";
    EXPECT_TRUE(answerer.messages.empty());
    Key(Qt::Key_Backspace);
    ASSERT_TRUE(Finished());

    // [Root Files] and the total open nothing.
    for (const int32_t row : {RowNamed("[Root Files]"), form.Table().Rows() - 1}) {
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(row, 1).center());
        EXPECT_FALSE(form.Controller().Searching());
        EXPECT_EQ(dir->Path(), tree.Root());
    }
}

TEST_F(FindTest, NothingGoesDownOrUpDuringASearchNorUpFromAVolumesRoot)
{
    // A search of / is cancelled once it has shown a subdirectory: it was still the last directory searched.
    ASSERT_TRUE(dir->SetPath("/"));
    auto* search = fakes::FindControl<QPushButton>(form, "Command1");
    QTest::mouseClick(search, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return form.Table().Rows() > 2 || !form.Controller().Searching(); }));
    ASSERT_TRUE(form.Controller().Searching()) << "/ was walked to its end before the test could press a key";
    SetCellText(form.Table(), 2, 1, form.Table().TextAt(2, 1));
    ASSERT_EQ(form.Table().Facts(2).kind, RowKind::Subdirectory);
    Key(Qt::Key_Return);
    Key(Qt::Key_Backspace);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(2, 1).center());
    EXPECT_EQ(dir->Path(), "/");
    EXPECT_EQ(form.Controller().SearchedPath(), "/");
    QTest::mouseClick(search, Qt::LeftButton);
    ASSERT_TRUE(Finished());
    Key(Qt::Key_Backspace);
    EXPECT_FALSE(form.Controller().Searching());
    EXPECT_EQ(dir->Path(), "/");
}

TEST_F(FindTest, BackspaceGoesUpToTheRootOfAMountedVolumeAndNoHigher)
{
    TempTree out;
    out.Dir("volume");
    SmallVolume volume(out.Path("volume"), "size=64k");
    if (!volume.Mounted())
        GTEST_SKIP() << "a small tmpfs needs root and a mount namespace";
    ASSERT_EQ(mkdir(out.Path("volume/inner").c_str(), 0755), 0);
    fakes::FindControl<DriveList>(form, "Drive1")->SetVolumes({{"/", ""}, {QString::fromStdString(out.Path("volume")), ""}});
    Search(out.Path("volume/inner"));
    Key(Qt::Key_Backspace);
    ASSERT_TRUE(Finished());
    EXPECT_EQ(dir->Path(), out.Path("volume"));
    Key(Qt::Key_Backspace);
    EXPECT_FALSE(form.Controller().Searching());
    EXPECT_EQ(dir->Path(), out.Path("volume")) << "the volume's parent is on another volume";
    EXPECT_EQ(form.Controller().SearchedPath(), out.Path("volume") + "/");
}

TEST_F(FindTest, CopyGivesTheShiftSelectionOrTheCurrentRowAndCopyAllOrCtrlAThenCTheWholeTable)
{
    MakeTree();
    Search(tree.Root());
    auto copied = [] { return QApplication::clipboard()->text().toStdString(); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(2, 1).center());
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(copied(), RowsAsText(form.Table(), {2}, TextFormat::Tsv)) << "the row clicked, not the whole table";

    Key(Qt::Key_Down, Qt::ShiftModifier);
    Key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(grid->SelectedRows(), (std::vector<int32_t>{2, 3, 4}));
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(copied(), RowsAsText(form.Table(), {2, 3, 4}, TextFormat::Tsv));
    Key(Qt::Key_Up);
    EXPECT_TRUE(grid->SelectedRows().empty()) << "a plain move ends the selection";
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(copied(), RowsAsText(form.Table(), {3}, TextFormat::Tsv));

    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(grid->SelectedRows().size(), static_cast<size_t>(form.Table().Rows() - 1));
    Key(Qt::Key_C, Qt::ControlModifier);
    const std::string whole = copied();
    const QStringList lines = QString::fromStdString(whole).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), form.Table().Rows());
    EXPECT_EQ(lines[0], "№\tディレクトリ\tサイズ\tバイト");
    EXPECT_EQ(lines[1], "1\t[Root Files]\t2 kb\t2048");
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("合計\t3,078 kb\t3151776")));

    Key(Qt::Key_Up);
    QApplication::clipboard()->clear();
    EXPECT_EQ(ChooseFromMenu("すべてコピー"),
              (QStringList{"№ の順に並べ替え", "名前の順に並べ替え", "サイズの順に並べ替え", "項目数の列を表示",
                           "最終更新の列を表示",
                           "このディレクトリを検索",
                           "上のディレクトリを検索", "再検索", "サイズの数え方", "コピー", "すべてコピー",
                           "CSV ファイルに保存...", "フォルダーを開く", "パスをコピー", "ごみ箱に移動...", "検索結果を保存...",
                           "検索結果を開く...", "前回と比較...", "検索の範囲", "マップ"}));
    EXPECT_EQ(copied(), whole) << "with one row current";
}

// The column of the names each row holds: hidden until chosen, then ordered, copied and saved like the others,
// and the design's columns, their widths and the report as they were.
TEST_F(FindTest, TheCountColumnComesFromTheMenuOrdersCopiesAndSavesAndLeavesTheDesignsColumnsAndReport)
{
    MakeTree();
    Search(tree.Root());
    std::vector<QRect> designs;
    for (int col = 0; col < 3; ++col)
        designs.push_back(grid->CellRect(0, col));
    const QString report = fakes::PrintedReport(form);
    Key(Qt::Key_5, Qt::ControlModifier);
    EXPECT_EQ(form.Controller().Order(), SortOrder{}) << "no order by a column not shown";

    ChooseFromMenu("項目数の列を表示");
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_EQ(grid->Columns(), 4);
    EXPECT_EQ(grid->ShownText(0, 3), QStringLiteral("項目数"));
    auto count = [&](int32_t row) { return grid->ShownText(row, 3).toStdString(); };
    EXPECT_EQ(count(RowNamed("big")), "3");
    EXPECT_EQ(count(RowNamed("a2")), "1");
    EXPECT_EQ(count(RowNamed("かな")), "0");
    EXPECT_EQ(count(RowNamed("[Root Files]")), "1");
    EXPECT_EQ(count(form.Table().Rows() - 1), "11");
    EXPECT_EQ(grid->CellAlignment(1, 3) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(fakes::PrintedReport(form), report);
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form)) << "the shortcuts work in an active window only";

    ClickHeader(3);
    EXPECT_EQ(form.Controller().Order(), (SortOrder{SortColumn::Entries, false}));
    EXPECT_FALSE(grid->SortArrowRect(3).isEmpty());
    EXPECT_EQ(Names().front(), "big");
    for (int32_t row = 2; row + 1 < form.Table().Rows(); ++row)
        EXPECT_LE(std::stoi(count(row)), std::stoi(count(row - 1))) << "the most names first";
    Key(Qt::Key_5, Qt::ControlModifier);
    EXPECT_EQ(form.Controller().Order(), (SortOrder{SortColumn::Entries, true}));
    EXPECT_EQ(count(1), "0");
    EXPECT_EQ(Names().back(), "big");

    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), form.Table().Rows());
    EXPECT_EQ(lines.front(), "№\tディレクトリ\tサイズ\tバイト\t項目数");
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("\t3151776\t11"))) << lines.back().toStdString();
    TempTree out;
    const QString path = QString::fromStdString(out.Path("rows.csv"));
    {
        FileDialogAnswerer answerer(path);
        SaveCsv();
    }
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const std::string csv = saved.readAll().toStdString();
    EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBF№,ディレクトリ,サイズ,バイト,項目数\r\n")) << csv;
    EXPECT_TRUE(csv.ends_with(",3151776,11\r\n")) << csv;
    Search(tree.Root());
    EXPECT_EQ(grid->Columns(), 4) << "the choice lasts for the session";
    EXPECT_EQ(form.Controller().Order(), (SortOrder{SortColumn::Entries, true})) << "as the others, for the next search";

    ChooseFromMenu("項目数の列を表示");
    EXPECT_EQ(grid->Columns(), 3);
    EXPECT_EQ(form.Controller().Order(), SortOrder{}) << "the order by a column hidden goes with it";
    EXPECT_EQ(grid->ShownSortOrder(), SortOrder{});
    for (int col = 0; col < 3; ++col)
        EXPECT_EQ(grid->CellRect(0, col), designs[static_cast<size_t>(col)]) << col;
}

TEST_F(FindTest, CsvIsSavedWhereTheChooserSaysAndAFileThatExistsOnlyAfterItsQuestion)
{
    MakeTree();
    tree.Dir("a,\"b\"\tc");
    Search(tree.Root());
    TempTree out;
    const QString path = QString::fromStdString(out.Path("rows.csv"));
    {
        FileDialogAnswerer answerer(path);
        SaveCsv();
        EXPECT_EQ(answerer.dialogTitles, QStringList{"CSV ファイルに保存"});
        EXPECT_TRUE(answerer.messages.isEmpty());
    }
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    std::vector<int32_t> all;
    for (int32_t row = 1; row < form.Table().Rows(); ++row)
        all.push_back(row);
    EXPECT_EQ(saved.readAll().toStdString(), RowsAsText(form.Table(), all, TextFormat::Csv));
    saved.close();

    QFile::resize(path, 3);
    {
        FileDialogAnswerer refuse(path, QMessageBox::No);
        SaveCsv();
        ASSERT_EQ(refuse.messages.size(), 1) << "the chooser asks before it overwrites";
    }
    EXPECT_EQ(QFileInfo(path).size(), 3) << "a No keeps the file";
}

// The entries of the chooser's sidebar that are drawn narrower than their icon and text.
QStringList CutSidebarEntries(QFileDialog* dialog)
{
    auto* sidebar = dialog->findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
    if (!sidebar)
        return {"no sidebar"};
    const int icon = sidebar->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, sidebar);
    QStringList cut;
    for (int row = 0; row < sidebar->model()->rowCount(); ++row) {
        const QModelIndex entry = sidebar->model()->index(row, 0);
        const QString text = entry.data().toString();
        if (sidebar->visualRect(entry).width() < icon + sidebar->fontMetrics().horizontalAdvance(text))
            cut << text;
    }
    return cut;
}

TEST_F(FindTest, TheCsvChooserOpensInTheFolderSearchedThenBesideTheLastSaveAndAddsTheSuffixWhenNoneIsTyped)
{
    MakeTree();
    Search(tree.Root());
    TempTree out;
    const QString folder = QString::fromStdString(out.Root());
    {
        FileDialogAnswerer answerer(folder + "/noext");
        // However narrow the sidebar was left last time, it shows each entry whole.
        answerer.inspect = [](QFileDialog* dialog) {
            auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter"));
            ASSERT_NE(splitter, nullptr);
            splitter->setSizes({40, splitter->width() - 40});
            EXPECT_EQ(CutSidebarEntries(dialog), QStringList{});
        };
        SaveCsv();
        EXPECT_EQ(answerer.offered, QStringList{QString::fromStdString(tree.Path(LastPathName(tree.Root()) + ".csv"))});
    }
    EXPECT_TRUE(QFileInfo::exists(folder + "/noext.csv"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/noext"));
    {
        FileDialogAnswerer answerer(folder + "/rows.tsv");
        SaveCsv();
        EXPECT_EQ(answerer.offered, QStringList{folder + "/" + QString::fromStdString(LastPathName(tree.Root())) + ".csv"})
            << "beside the last save";
    }
    EXPECT_TRUE(QFileInfo::exists(folder + "/rows.tsv")) << "a suffix typed is kept";
}

TEST_F(FindTest, ASaveThatFailsSaysWhyAndLeavesNoFileOrTheOldOneWhole)
{
    TempTree out;
    out.Dir("full");
    SmallVolume volume(out.Path("full"), "size=64k");
    if (!volume.Mounted())
        GTEST_SKIP() << "a small tmpfs needs root and a mount namespace";
    ASSERT_TRUE(volume.FillLeaving("filler", 0));
    MakeTree();
    Search(tree.Root());
    const QString fresh = QString::fromStdString(out.Path("full/rows.csv"));
    {
        FileDialogAnswerer answerer(fresh);
        SaveCsv();
        ASSERT_EQ(answerer.messages.size(), 1);
        EXPECT_EQ(answerer.messages[0], fresh + " に保存できませんでした。\nディスクの空きが足りません。");
    }
    EXPECT_EQ(QDir(QString::fromStdString(out.Path("full"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"filler"})
        << "no part of it, nor a temporary file";
    ASSERT_EQ(unlink(out.Path("full/filler").c_str()), 0);

    const QString old = QString::fromStdString(out.Path("full/old.csv"));
    QString reason;
    ASSERT_TRUE(WriteWholeFile(old, "old", reason));
    EXPECT_FALSE(WriteWholeFile(old, QByteArray(100 << 10, 'x'), reason));
    QFile kept(old);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");
    kept.close();

    volume.MakeReadOnly();
    ASSERT_TRUE(volume.Mounted());
    EXPECT_FALSE(WriteWholeFile(old, "new", reason));
    EXPECT_EQ(reason, "保存先は読み取り専用です。");
    EXPECT_FALSE(WriteWholeFile(QString::fromStdString(out.Path("none/x.csv")), "new", reason));
    EXPECT_EQ(reason, "保存先のフォルダーがありません。");
}

}  // namespace
}  // namespace murako
