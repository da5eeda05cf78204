// Comparing the rows shown with a saved search through the real window over a scripted file system: the
// change column, its order, the printed report and the menu's entries.
#include "form1.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "compare_command.h"
#include "kept_compare.h"
#include "kept_json.h"
#include "map_window.h"
#include "reader_listening.h"
#include "results_grid.h"
#include "temp_tree.h"
#include "window_driving.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;
using fakes::TempTree;
using fakes::WaitUntil;

class CompareWindowTest : public ::testing::Test {
protected:
    CompareWindowTest() : fake(std::make_shared<FakeFileSystem>()), form(fake, {.threads = 1, .rowWritten = {}})
    {
        grid = fakes::FindControl<ResultsGrid>(form, "Grid1");
        for (const char* dir : {"big/inner", "small", "stays"})
            Directory(dir);
        File("own", 2048);
        File("big/inner/data", 3 << 20);
        File("small/x", 10 << 10);
        File("stays/y", 5 << 10);
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    void Directory(const std::string& relative)
    {
        tree.Dir(relative);
        fake->Dir(tree.Path(relative));
    }
    void File(const std::string& relative, int64_t length) { fake->File(tree.Path(relative), length); }

    // Searches the tree, saves what it found, and searches it again once big has grown, small has gone and
    // added has come; the saved search's file.
    QString SearchSaveAndChange()
    {
        fakes::SearchFromTheList(form, tree.Root());
        const QString saved = files.filePath(QStringLiteral("older.json"));
        EXPECT_EQ(SaveKeptJson(*form.Controller().Kept(), saved.toStdString(), "test").reason, Reason::None);
        fake->At(tree.Path("big/inner/data")).length = 5 << 20;
        std::vector<std::string>& top = fake->At(tree.Root()).children;
        top.erase(std::find(top.begin(), top.end(), "small"));
        Directory("added");
        File("added/z", 7 << 10);
        fakes::SearchFromTheList(form, tree.Root());
        return saved;
    }
    bool Compare(const QString& path)
    {
        form.Comparing().CompareWith(path);
        return WaitUntil([&] { return !form.Comparing().Reading() && !grid->CatchingUp(); });
    }
    int32_t RowNamed(const std::string& name) { return fakes::RowNamed(form.Table(), name); }
    std::string ChangeOf(const std::string& name) { return grid->ShownText(RowNamed(name), 3).toStdString(); }
    // The context menu's entries, "(off) " before those disabled; chooses the entry named choice if any.
    QStringList Menu(const QString& choice = {})
    {
        QStringList entries;
        fakes::UseContextMenu(grid, [&](QMenu* menu) {
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                if (action->isSeparator())
                    continue;
                entries << QString(action->isEnabled() ? "" : "(off) ") + action->text();
                chosen = action->text() == choice ? action : chosen;
            }
            if (chosen) {
                menu->setActiveAction(chosen);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                QTest::keyClick(menu, Qt::Key_Escape);
            }
        });
        form.activateWindow();
        return entries;
    }
    TempTree tree;
    QTemporaryDir files;
    std::shared_ptr<FakeFileSystem> fake;
    Form1 form;
    ResultsGrid* grid;
};

TEST_F(CompareWindowTest, TheChangeColumnShowsOnlyWhileComparingOrdersTheRowsAndLeavesTheReportAsItWas)
{
    EXPECT_TRUE(Menu().contains("(off) 前回と比較...")) << "nothing searched yet";
    const QString saved = SearchSaveAndChange();
    EXPECT_EQ(grid->Columns(), 3);
    ASSERT_TRUE(Menu().contains("前回と比較..."));
    // Ordered by size, where the gone row falls among the others.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, 2).center());
    const QString report = fakes::PrintedReport(form);

    ASSERT_TRUE(Compare(saved));
    ASSERT_EQ(grid->Columns(), 4);
    EXPECT_EQ(grid->ShownText(0, 3), QStringLiteral("増減"));
    EXPECT_EQ(ChangeOf("big"), "+2,048");
    EXPECT_EQ(ChangeOf("stays"), "0");
    EXPECT_EQ(ChangeOf("added"), "新 +7");
    EXPECT_EQ(ChangeOf("small"), "消 -10");
    EXPECT_TRUE(grid->CellToolTip(RowNamed("added"), 3).contains(QStringLiteral("前回はありませんでした")));
    EXPECT_TRUE(grid->CellToolTip(RowNamed("small"), 3).contains(QStringLiteral("今回はありません")));
    EXPECT_TRUE(grid->CellToolTip(RowNamed("big"), 2).contains(QStringLiteral("前回: 3,145,728 バイト")));
    EXPECT_FALSE(grid->CellRect(0, 3).isEmpty());
    EXPECT_EQ(fakes::PrintedReport(form), report) << "the report has the search's rows only";

    // A reader goes over every cell of the table it is told of, and hears the change on the size.
    QAccessibleTableInterface* readable = QAccessible::queryAccessibleInterface(grid)->tableInterface();
    ASSERT_NE(readable, nullptr);
    QStringList descriptions;
    for (int row = 0; row < readable->rowCount(); ++row)
        for (int col = 0; col < readable->columnCount(); ++col)
            if (QAccessibleInterface* cell = readable->cellAt(row, col))
                descriptions << cell->text(QAccessible::Name) + cell->text(QAccessible::Description);
    EXPECT_TRUE(descriptions.join('\n').contains(QStringLiteral("前回: 3,145,728 バイト（+2,097,152 バイト）")));


    // A click on the change's header orders by it, the largest growth first; Ctrl+4 turns it round.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, 3).center());
    EXPECT_EQ(form.Controller().Order(), (SortOrder{SortColumn::Change, false}));
    EXPECT_EQ(RowNamed("big"), 1);
    EXPECT_EQ(RowNamed("small"), form.Table().Rows() - 2);
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_4, Qt::ControlModifier);
    EXPECT_EQ(form.Controller().Order(), (SortOrder{SortColumn::Change, true}));
    EXPECT_EQ(RowNamed("small"), 1);
    EXPECT_EQ(form.Table().Facts(form.Table().Rows() - 1).kind, RowKind::Total);

    // The map colours by growth, says so, and tells each item's change.
    form.ShowMap();
    MapWindow* map = form.Map();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(map));
    map->Follow();
    QLabel* legend = nullptr;
    for (QLabel* label : map->findChildren<QLabel*>())
        legend = label->text().startsWith(QStringLiteral("前回からの増減で色分け")) ? label : legend;
    ASSERT_NE(legend, nullptr);
    EXPECT_TRUE(legend->isVisible());
    const std::vector<MapItem>& items = map->View().Items();
    const auto data = std::find_if(items.begin(), items.end(), [](const MapItem& item) { return item.name == "data"; });
    ASSERT_NE(data, items.end());
    EXPECT_TRUE(map->Describe(static_cast<int32_t>(data - items.begin())).contains(QStringLiteral("前回から +2,097,152 バイト")));
    const QImage drawn = map->View().grab().toImage();
    const QColor middle = drawn.pixelColor(static_cast<int>(data->rect.x + data->rect.w / 2),
                                           static_cast<int>(data->rect.y + data->rect.h / 2));
    EXPECT_GT(middle.red(), middle.blue() + 40) << "grown: red";
    EXPECT_EQ(map->Colouring().Chosen(), MapColouring::Growth) << "a comparison chooses its growth";
    map->hide();
    form.activateWindow();

    const QStringList entries = Menu("比較をやめる");
    EXPECT_TRUE(entries.contains("増減の順に並べ替え")) << entries.join('\n').toStdString();
    EXPECT_TRUE(entries.contains("比較をやめる"));
    EXPECT_EQ(grid->Columns(), 3);
    EXPECT_FALSE(grid->ColAt(grid->CellRect(0, 2).right() + 5) == 3);
    EXPECT_EQ(form.Controller().Order(), SortOrder{});
    EXPECT_EQ(map->Colouring().Chosen(), MapColouring::Type) << "the growth goes with the comparison";
    EXPECT_TRUE(legend->isHidden());
    EXPECT_EQ(grid->ShownSortOrder(), SortOrder{});
    EXPECT_FALSE(Menu().contains("比較をやめる"));
    EXPECT_FALSE(Menu().contains("増減の順に並べ替え"));
    map->Follow();
    EXPECT_FALSE(legend->isVisible());

    // A new search ends the comparison too.
    ASSERT_TRUE(Compare(saved));
    ASSERT_EQ(grid->Columns(), 4);
    fakes::SearchFromTheList(form, tree.Root());
    EXPECT_EQ(grid->Columns(), 3);
    EXPECT_EQ(form.Controller().Comparison(), nullptr);
}


std::vector<QAccessibleTableModelChangeEvent::ModelChangeType> heardTableChanges;
void HearTableChanges(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::TableModelChanged)
        heardTableChanges.push_back(static_cast<QAccessibleTableModelChangeEvent*>(event)->modelChangeType());
}

// Whether a reader holding the grid's table is told to read it all again after act.
bool ResetHeardAfter(ResultsGrid* grid, const std::function<void()>& act)
{
    heardTableChanges.clear();
    act();
    WaitUntil([&] { return !grid->CatchingUp(); });
    return std::find(heardTableChanges.begin(), heardTableChanges.end(), QAccessibleTableModelChangeEvent::ModelReset) !=
           heardTableChanges.end();
}

// The change column is a column to a reader as well: its header, its cells' texts and its order, and it goes
// when the comparison ends.
TEST_F(CompareWindowTest, AReaderReadsTheChangeColumnUnderItsHeaderAndHearsItsOrder)
{
    const QString saved = SearchSaveAndChange();
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(grid);
    QAccessibleTableInterface* table = reader->tableInterface();
    ASSERT_EQ(table->columnCount(), 3);
    ASSERT_TRUE(Compare(saved));
    ASSERT_EQ(table->columnCount(), 4);
    EXPECT_EQ(reader->childCount(), form.Table().Rows() * 4);
    EXPECT_EQ(reader->child(3)->text(QAccessible::Name), QStringLiteral("増減"));
    EXPECT_EQ(reader->child(3)->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(table->columnDescription(3), QStringLiteral("増減"));
    auto changeOf = [&](const std::string& name) { return table->cellAt(RowNamed(name) - 1, 3); };
    EXPECT_EQ(changeOf("big")->text(QAccessible::Name), QStringLiteral("+2,048"));
    EXPECT_EQ(changeOf("added")->text(QAccessible::Name), QStringLiteral("新 +7"));
    EXPECT_TRUE(changeOf("added")->text(QAccessible::Description).contains(QStringLiteral("前回はありませんでした")));
    EXPECT_EQ(changeOf("small")->text(QAccessible::Name), QStringLiteral("消 -10"));
    QAccessibleTableCellInterface* place = changeOf("big")->tableCellInterface();
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(place->columnIndex(), 3);
    EXPECT_EQ(place->columnHeaderCells().value(0)->text(QAccessible::Name), QStringLiteral("増減"));
    EXPECT_EQ(reader->indexOfChild(changeOf("big")), RowNamed("big") * 4 + 3);

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, 3).center());
    ASSERT_EQ(form.Controller().Order(), (SortOrder{SortColumn::Change, false}));
    ASSERT_TRUE(WaitUntil([&] { return !grid->CatchingUp(); }));
    EXPECT_EQ(reader->child(3)->text(QAccessible::Description), QStringLiteral("降順に並べ替え"));
    EXPECT_EQ(table->cellAt(0, 1)->text(QAccessible::Name), QStringLiteral("big")) << "the largest growth first";

    Menu("比較をやめる");
    ASSERT_TRUE(WaitUntil([&] { return !grid->CatchingUp(); }));
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_EQ(reader->childCount(), form.Table().Rows() * 3);
    EXPECT_EQ(table->cellAt(0, 3), nullptr);
}

// A column come or gone is news to a reader holding the table, even where no row came or went.
TEST_F(CompareWindowTest, AReaderHoldingTheTableIsToldOfTheChangeColumnComingAndGoing)
{
    fakes::SearchFromTheList(form, tree.Root());
    const QString saved = files.filePath(QStringLiteral("same.json"));
    ASSERT_EQ(SaveKeptJson(*form.Controller().Kept(), saved.toStdString(), "test").reason, Reason::None);
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(grid)->tableInterface();
    ASSERT_EQ(table->columnCount(), 3);
    fakes::SetReaderListening(true);
    QAccessible::UpdateHandler before = QAccessible::installUpdateHandler(HearTableChanges);
    auto resetHeard = [&](const std::function<void()>& act) { return ResetHeardAfter(grid, act); };
    EXPECT_TRUE(resetHeard([&] { Compare(saved); }));
    EXPECT_EQ(table->columnCount(), 4);
    EXPECT_TRUE(resetHeard([&] { Menu("比較をやめる"); }));
    EXPECT_EQ(table->columnCount(), 3);
    QAccessible::installUpdateHandler(before);
    fakes::SetReaderListening(false);
}

// The count column to a reader: a column with its header and cells, told as it comes and goes, and standing
// after the change while the rows are compared, its header still its own.
TEST_F(CompareWindowTest, AReaderReadsTheCountColumnBesideTheChangeAndIsToldOfItComingAndGoing)
{
    const QString saved = SearchSaveAndChange();
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(grid);
    QAccessibleTableInterface* table = reader->tableInterface();
    fakes::SetReaderListening(true);
    QAccessible::UpdateHandler before = QAccessible::installUpdateHandler(HearTableChanges);
    auto resetHeard = [&](const std::function<void()>& act) { return ResetHeardAfter(grid, act); };
    EXPECT_TRUE(resetHeard([&] { Menu("項目数の列を表示"); }));
    ASSERT_EQ(table->columnCount(), 4);
    EXPECT_EQ(table->columnDescription(3), QStringLiteral("項目数"));
    QAccessibleInterface* header = reader->child(3);
    EXPECT_EQ(header->text(QAccessible::Name), QStringLiteral("項目数"));
    QAccessibleInterface* big = table->cellAt(RowNamed("big") - 1, 3);
    EXPECT_EQ(big->text(QAccessible::Name), QStringLiteral("2"));
    EXPECT_EQ(big->tableCellInterface()->columnHeaderCells().value(0), header);

    ASSERT_TRUE(Compare(saved));
    ASSERT_EQ(table->columnCount(), 5);
    EXPECT_EQ(table->columnDescription(3), QStringLiteral("増減"));
    EXPECT_EQ(header->text(QAccessible::Name), QStringLiteral("項目数")) << "the header held is still the count's";
    EXPECT_EQ(header->tableCellInterface(), nullptr);
    EXPECT_EQ(reader->indexOfChild(header), 4);
    EXPECT_EQ(table->cellAt(RowNamed("big") - 1, 4)->text(QAccessible::Name), QStringLiteral("2"));
    EXPECT_EQ(table->cellAt(RowNamed("small") - 1, 4)->text(QAccessible::Name), QString()) << "gone: no count";

    EXPECT_TRUE(resetHeard([&] { Menu("項目数の列を表示"); }));
    EXPECT_EQ(table->columnCount(), 4);
    EXPECT_FALSE(header->isValid());
    QAccessible::installUpdateHandler(before);
    fakes::SetReaderListening(false);
}

struct Unfit {
    const char* name;
    const char* text;  // of the file; empty: a saved search of another directory
    const char* told;  // in the message
};

void PrintTo(const Unfit& unfit, std::ostream* out)
{
    *out << unfit.name;
}

class CompareWindowUnfitTest : public CompareWindowTest, public ::testing::WithParamInterface<Unfit> {};

TEST_P(CompareWindowUnfitTest, AFileThatCannotBeComparedIsToldAndChangesNothing)
{
    fakes::SearchFromTheList(form, tree.Root());
    const QString path = files.filePath(QStringLiteral("unfit.json"));
    if (*GetParam().text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam().text);
    } else {
        KeptTree other("/elsewhere");
        (void)other.SetListing(*other.AddDirectory(nullptr, 0, {}, {}), {}, 0, 0);
        other.Complete();
        ASSERT_EQ(SaveKeptJson(other, path.toStdString(), "test").reason, Reason::None);
    }
    const std::vector<std::vector<std::string>> before = fakes::Cells(form.Table());
    fakes::ModalAnswerer answerer;
    ASSERT_TRUE(Compare(path));
    ASSERT_TRUE(WaitUntil([&] { return !answerer.messages.empty(); }));
    EXPECT_TRUE(answerer.messages.front().text.contains(QString::fromUtf8(GetParam().told)))
        << answerer.messages.front().text.toStdString();
    EXPECT_EQ(fakes::Cells(form.Table()), before);
    EXPECT_EQ(grid->Columns(), 3);
    EXPECT_EQ(form.Controller().Comparison(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Files, CompareWindowUnfitTest,
                         ::testing::Values(Unfit{"Malformed", "[1,2,{\"progname\":", "を読み込めませんでした"},
                                           Unfit{"NotJson", "hello", "を読み込めませんでした"},
                                           Unfit{"OtherDirectory", "", "/elsewhere"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace murako
