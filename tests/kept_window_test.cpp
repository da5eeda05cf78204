// Going down and up through the results of the last search without the disk, searching the directory shown
// again, and counting sizes on disk instead of as lengths, through the real window over a scripted file system.
#include "form1.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "dir_list.h"
#include "results_grid.h"
#include "temp_tree.h"
#include "window_driving.h"

namespace murako {
namespace {

using fakes::Cells;
using fakes::FakeFileSystem;
using fakes::TempTree;
using fakes::WaitUntil;
using Rows = std::vector<std::vector<std::string>>;

// What a row shows and what it knows, compared between a kept view and a search.
struct RowSeen {
    std::vector<std::string> cells;
    std::optional<int64_t> bytes;
    RowKind kind;
    int64_t unread;
    bool operator==(const RowSeen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RowSeen& row)
{
    out << "{";
    for (const std::string& cell : row.cells)
        out << cell << "|";
    return out << (row.bytes ? *row.bytes : -1) << " unread " << row.unread << "}";
}

// The directories live on the disk too, so that the directory list can open them; the files and their sizes
// only in the scripted file system, which counts every name it lists.
class KeptWindowTest : public ::testing::Test {
protected:
    KeptWindowTest() : fake(std::make_shared<FakeFileSystem>()), form(fake, {.threads = 1, .rowWritten = {}})
    {
        grid = fakes::FindControl<ResultsGrid>(form, "Grid1");
        dir = fakes::FindControl<DirList>(form, "Dir1");
        progress = fakes::FindControl<QLabel>(form, "StatusBar1.Panels(2)");
        // big: 3 MiB below inner, 1,000 bytes of its own and a directory that cannot be read; small: 10 bytes.
        Directory("big/inner");
        Directory("big/locked");
        Directory("small");
        Directory("empty");
        File("own", 2048, 4096);
        File("big/top", 1000, 4096);
        File("big/inner/data", 3 << 20, (3 << 20) + 4096);
        File("small/x", 10, 4096);
        fake->At(tree.Path("big/locked")).unlistable = true;
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    void Directory(const std::string& relative)
    {
        tree.Dir(relative);
        fake->Dir(tree.Path(relative));
    }
    void File(const std::string& relative, int64_t length, int64_t onDisk)
    {
        fake->File(tree.Path(relative), length);
        fake->At(tree.Path(relative)).onDisk = onDisk;
    }
    void Search(const std::string& path) { fakes::SearchFromTheList(form, path); }
    bool Finished()
    {
        return WaitUntil([&] { return !form.Controller().Searching(); });
    }
    void Key(int key, QWidget* to = nullptr)
    {
        // Shortcuts work in the active window only, which a menu just closed may not have given back yet.
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        to = to ? to : grid;
        to->setFocus();
        QTest::keyClick(to, static_cast<Qt::Key>(key));
    }
    void DoubleClick(const std::string& name)
    {
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(RowNamed(name), 1).center());
    }
    int32_t RowNamed(const std::string& name) { return fakes::RowNamed(form.Table(), name); }
    std::vector<RowSeen> Seen()
    {
        std::vector<RowSeen> rows;
        const ResultsTable& table = form.Table();
        for (int32_t row = 0; row < table.Rows(); ++row) {
            const RowFacts& facts = table.Facts(row);
            rows.push_back({{table.TextAt(row, 0), table.TextAt(row, 1), table.TextAt(row, 2)},
                            facts.bytes,
                            facts.kind,
                            facts.unread.count});
        }
        return rows;
    }
    std::string SizeOf(const std::string& name) { return form.Table().TextAt(RowNamed(name), 2); }
    // Opens the context menu and reads its entries, those of the submenu named submenu indented below it,
    // each marked "(off) " when disabled and "[x] " when checked; then chooses the entry named choice, in the
    // menu or the submenu, or closes the menu when there is none.
    QStringList Menu(const QString& choice = {}, const QString& submenu = {})
    {
        QStringList entries;
        QAction* chosenInSubmenu = nullptr;
        auto describe = [](QAction* action, const QString& indent) {
            const QString state = QString(action->isEnabled() ? "" : "(off) ") + (action->isChecked() ? "[x] " : "");
            return indent + state + action->text();
        };
        fakes::UseContextMenu(grid, [&](QMenu* menu) {
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                if (action->isSeparator())
                    continue;
                entries << describe(action, "");
                chosen = action->text() == choice ? action : chosen;
                if (!action->menu() || action->text() != submenu)
                    continue;
                for (QAction* inner : action->menu()->actions()) {
                    entries << describe(inner, "  ");
                    chosenInSubmenu = inner->text() == choice ? inner : chosenInSubmenu;
                }
            }
            if (chosen) {
                menu->setActiveAction(chosen);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                QTest::keyClick(menu, Qt::Key_Escape);
            }
        });
        // As a click in the submenu does once the menu has closed.
        if (chosenInSubmenu)
            chosenInSubmenu->trigger();
        // The offscreen platform gives the window no activation back when a menu closes, as a desktop does.
        form.activateWindow();
        return entries;
    }

    TempTree tree;
    std::shared_ptr<FakeFileSystem> fake;
    Form1 form;
    ResultsGrid* grid;
    DirList* dir;
    QLabel* progress;
};

TEST_F(KeptWindowTest, GoingDownAndUpShowsWhatASearchWouldWithoutListingAnythingAndComesBackToTheRowLeft)
{
    Search(tree.Root());
    const std::vector<RowSeen> base = Seen();
    const int64_t listed = fake->namesListed.load();
    ASSERT_TRUE(form.Controller().Kept());

    DoubleClick("big");
    EXPECT_EQ(fake->namesListed.load(), listed) << "going down reads no directory";
    EXPECT_FALSE(form.Controller().Searching());
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("big") + "/");
    EXPECT_EQ(dir->Path(), tree.Path("big")) << "the directory list follows";
    EXPECT_EQ(dir->ListIndex(), -1);
    EXPECT_EQ(progress->text(), "1 分以内の検索結果");
    const std::vector<RowSeen> big = Seen();
    EXPECT_TRUE(grid->IsMarked(RowNamed("locked"))) << "the unread mark comes from memory too";

    DoubleClick("inner");
    EXPECT_EQ(form.Table().TextAt(form.Table().Rows() - 1, 1), tree.Path("big/inner") + "/合計");
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Seen(), big);
    EXPECT_EQ(form.Table().Row(), RowNamed("inner")) << "the row left is current";
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Seen(), base);
    EXPECT_EQ(form.Table().Row(), RowNamed("big"));
    EXPECT_EQ(dir->Path(), tree.Root());
    EXPECT_EQ(fake->namesListed.load(), listed) << "down two levels and up again, all from memory";

    Key(Qt::Key_Return);
    EXPECT_EQ(Seen(), big) << "Enter goes down into the current row";
    EXPECT_EQ(fake->namesListed.load(), listed);

    // A search of the same directory shows the very same rows.
    Search(tree.Path("big"));
    EXPECT_GT(fake->namesListed.load(), listed);
    EXPECT_EQ(Seen(), big);
    EXPECT_FALSE(progress->text().contains("検索結果")) << "a search's own summary, not an age";
}

TEST_F(KeptWindowTest, AnOrderChosenHoldsGoingDownAndUp)
{
    Search(tree.Root());
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_3, Qt::ControlModifier);
    ASSERT_EQ(form.Table().TextAt(1, 1), "big") << "the largest first";
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(1, 1).center());
    Key(Qt::Key_Return);
    EXPECT_EQ(form.Table().TextAt(1, 1), "inner");
    EXPECT_EQ(form.Table().Row(), 1) << "the top of the table, as after a search in this order";
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(3, 1).center());
    Key(Qt::Key_Backspace);
    EXPECT_EQ(form.Table().TextAt(1, 1), "big");
    EXPECT_EQ(form.Table().Row(), 1);
}

TEST_F(KeptWindowTest, BackspaceAboveTheSearchedDirectorySearchesItsParentAndThenGoesDownFromMemory)
{
    Search(tree.Path("big"));
    const int64_t listed = fake->namesListed.load();
    Key(Qt::Key_Backspace);
    ASSERT_TRUE(Finished());
    EXPECT_GT(fake->namesListed.load(), listed) << "above what was kept, a search";
    EXPECT_EQ(form.Controller().SearchedPath(), tree.Root() + "/");
    EXPECT_EQ(dir->Path(), tree.Root());
    EXPECT_EQ(SizeOf("big"), "3,073 kb");

    const int64_t afterParent = fake->namesListed.load();
    DoubleClick("small");
    Key(Qt::Key_Backspace);
    DoubleClick("big");
    EXPECT_EQ(fake->namesListed.load(), afterParent) << "the parent's search is kept in turn";
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("big") + "/");
}

TEST_F(KeptWindowTest, F5SearchesTheShownDirectoryAgainAndTheTotalsAboveFollowItsNewSize)
{
    Key(Qt::Key_F5);
    EXPECT_FALSE(form.Controller().Searching()) << "nothing shown yet, nothing to search again";
    EXPECT_TRUE(Menu().contains("(off) 再検索"));

    Search(tree.Root());
    const std::string total = form.Table().TextAt(form.Table().Rows() - 1, 2);
    DoubleClick("big");
    ASSERT_EQ(SizeOf("[Root Files]"), "1 kb");
    fake->At(tree.Path("big/top")).length = 50 << 10;
    const int64_t listed = fake->namesListed.load();

    Key(Qt::Key_F5, dir);  // from any control of the window
    EXPECT_TRUE(form.Controller().Searching() || fake->namesListed.load() > listed);
    ASSERT_TRUE(Finished());
    EXPECT_GT(fake->namesListed.load(), listed);
    EXPECT_EQ(SizeOf("[Root Files]"), "50 kb");
    EXPECT_EQ(dir->Path(), tree.Path("big"));
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("big") + "/");

    const int64_t searchedAgain = fake->namesListed.load();
    Key(Qt::Key_Backspace);
    EXPECT_EQ(fake->namesListed.load(), searchedAgain) << "up again from memory";
    EXPECT_EQ(SizeOf("big"), "3,122 kb");
    EXPECT_NE(form.Table().TextAt(form.Table().Rows() - 1, 2), total);
    EXPECT_EQ(form.Table().TextAt(form.Table().Rows() - 1, 2), "3,124 kb") << "the total follows";

    Menu("再検索");
    EXPECT_TRUE(form.Controller().Searching() || fake->namesListed.load() > searchedAgain);
    ASSERT_TRUE(Finished());
    EXPECT_EQ(form.Controller().SearchedPath(), tree.Root() + "/");
}

TEST_F(KeptWindowTest, TheMeasureChosenRecountsTheRowsShownWithoutListingAndThePrintedReportSaysSo)
{
    const QStringList before = Menu({}, "サイズの数え方");
    const qsizetype at = before.indexOf("サイズの数え方");
    ASSERT_GE(at, 0) << before.join('\n').toStdString();
    EXPECT_EQ(before.mid(at, 3), (QStringList{"サイズの数え方", "  [x] ファイルの長さ", "  ディスク上のサイズ"}));

    Search(tree.Root());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(RowNamed("small"), 1).center());
    const int64_t listed = fake->namesListed.load();
    ASSERT_EQ(SizeOf("[Root Files]"), "2 kb");
    ASSERT_EQ(SizeOf("small"), "0 kb");

    Menu("ディスク上のサイズ", "サイズの数え方");
    EXPECT_EQ(fake->namesListed.load(), listed) << "recounted from memory";
    EXPECT_EQ(form.Controller().Measure(), SizeMeasure::OnDisk);
    EXPECT_EQ(SizeOf("[Root Files]"), "4 kb");
    EXPECT_EQ(SizeOf("small"), "4 kb");
    EXPECT_EQ(SizeOf("big"), "3,080 kb");
    EXPECT_EQ(form.Table().Row(), RowNamed("small")) << "the place among the rows stays";
    EXPECT_TRUE(grid->CellNotes(RowNamed("small"), 2).startsWith("4,096 バイト"));
    EXPECT_TRUE(Menu({}, "サイズの数え方").contains("  [x] ディスク上のサイズ"));

    DoubleClick("big");
    EXPECT_EQ(SizeOf("[Root Files]"), "4 kb") << "going down counts on disk too";
    EXPECT_EQ(fake->namesListed.load(), listed);

    if (const QString report = fakes::PrintedReport(form); !report.isEmpty()) {
        EXPECT_TRUE(report.contains(QStringLiteral("（ディスク上のサイズ）"))) << report.toStdString();
        EXPECT_TRUE(report.contains(QStringLiteral("3,076 kb"))) << report.toStdString();
    }

    Menu("ファイルの長さ", "サイズの数え方");
    EXPECT_EQ(SizeOf("[Root Files]"), "1 kb");
    EXPECT_EQ(fake->namesListed.load(), listed);
}

// The two ways to kept results after a search: going down into a row, and counting the rows another way.
class KeptAgeTest : public KeptWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(KeptAgeTest, TheAgeOfKeptResultsStaysInTheSecondPanelWhileTheyAreShown)
{
    Search(tree.Root());
    EXPECT_TRUE(progress->text().contains("秒")) << "a search's summary";
    QTest::qWait(2 * Form1::ProgressInterval);  // the search's own ticks are over
    if (GetParam())
        DoubleClick("big");
    else
        Menu("ディスク上のサイズ", "サイズの数え方");
    ASSERT_EQ(progress->text(), "1 分以内の検索結果");
    // Whatever wrote over it, the note is told again within a few seconds, however long the window stays idle.
    progress->setText(QStringLiteral("-"));
    EXPECT_TRUE(WaitUntil([&] { return progress->text() == "1 分以内の検索結果"; }, 3 * Form1::AgeNoteInterval));
}

INSTANTIATE_TEST_SUITE_P(GoingDownOrRecounting, KeptAgeTest, ::testing::Bool());

}  // namespace
}  // namespace murako
