#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

#include "dir_list.h"
#include "drive_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "reader_listening.h"
#include "results_grid.h"
#include "text.h"
#include "table_rows.h"
#include "temp_tree.h"
#include "window_test_support.h"

namespace murako {
namespace {

using fakes::GatedFileSystem;
using fakes::TempTree;
using fakes::WaitUntil;

// What assistive technology was told, taken down when it was told.
struct Heard {
    QAccessible::Event type;
    QAccessible::Role role;
    QString name;
    QString description;
    QObject* object;
    int row = -1;
    int col = -1;
    QAccessibleTableModelChangeEvent::ModelChangeType change = QAccessibleTableModelChangeEvent::DataChanged;
};

std::vector<Heard>* heard = nullptr;

void Collect(QAccessibleEvent* event)
{
    QAccessibleInterface* iface = event->accessibleInterface();
    if (!heard || !iface)
        return;
    Heard entry{event->type(), iface->role(), iface->text(QAccessible::Name), iface->text(QAccessible::Description),
                event->object()};
    if (QAccessibleTableCellInterface* cell = iface->tableCellInterface()) {
        entry.row = cell->rowIndex();
        entry.col = cell->columnIndex();
    }
    if (event->type() == QAccessible::TableModelChanged) {
        const auto* change = static_cast<QAccessibleTableModelChangeEvent*>(event);
        entry.change = change->modelChangeType();
        entry.row = change->firstRow();
        entry.col = change->lastRow();
    }
    heard->push_back(entry);
}

using fakes::SetReaderListening;

// A window built while a reader listens, as it is when the program starts under a screen reader.
class ReaderTest : public ::testing::Test {
protected:
    explicit ReaderTest(std::shared_ptr<FileSystem> fileSystem = std::make_shared<PosixFileSystem>(),
                        SearchController::Options options = {})
    {
        SetReaderListening(true);
        previousHandler_ = QAccessible::installUpdateHandler(Collect);
        heard = &events;
        form = std::make_unique<Form1>(std::move(fileSystem), options);
    }
    ~ReaderTest() override
    {
        form.reset();
        heard = nullptr;
        QAccessible::installUpdateHandler(previousHandler_);
        SetReaderListening(false);
    }

    template <typename T>
    T* Control(const char* name)
    {
        return fakes::FindControl<T>(*form, name);
    }
    QAccessibleInterface* Accessible(const char* name) { return QAccessible::queryAccessibleInterface(Control<QWidget>(name)); }
    ResultsGrid* Grid() { return Control<ResultsGrid>("Grid1"); }
    QAccessibleTableInterface* GridTable() { return Accessible("Grid1")->tableInterface(); }

    void Search(const std::string& path)
    {
        ASSERT_TRUE(Control<DirList>("Dir1")->SetPath(path));
        Control<QPushButton>("Command1")->click();
        ASSERT_TRUE(WaitUntil([&] { return !form->Controller().Searching(); }));
    }
    void ShowAndFocusGrid()
    {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        Grid()->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return Grid()->hasFocus(); }));
    }
    // The focus events told about cells since the last call, as (row, column, text).
    std::vector<std::tuple<int, int, QString>> CellFocusEvents()
    {
        std::vector<std::tuple<int, int, QString>> focused;
        for (const Heard& entry : events)
            if (entry.type == QAccessible::Focus && (entry.role == QAccessible::Cell || entry.role == QAccessible::ColumnHeader))
                focused.emplace_back(entry.row, entry.col, entry.name);
        events.clear();
        return focused;
    }

    std::vector<Heard> events;
    std::unique_ptr<Form1> form;

private:
    QAccessible::UpdateHandler previousHandler_;
};

TEST_F(ReaderTest, AFinishedSearchReadsAsATableCellByCellUnderItsColumnHeaders)
{
    TempTree tree;
    tree.File("root.bin", 3000);
    for (const char* name : {"alpha", "2004"})
        tree.File(std::string(name) + "/data", 5000);
    Search(tree.Root());
    const ResultsTable& table = form->Table();
    ASSERT_EQ(table.Rows(), 5);

    QAccessibleInterface* grid = Accessible("Grid1");
    ASSERT_NE(grid->tableInterface(), nullptr) << "the grid is not a table to assistive technology";
    EXPECT_EQ(grid->role(), QAccessible::Table);
    EXPECT_EQ(grid->text(QAccessible::Name), "検索結果");
    QAccessibleTableInterface* gridTable = grid->tableInterface();
    EXPECT_EQ(gridTable->rowCount(), 4);
    EXPECT_EQ(gridTable->columnCount(), 3);
    EXPECT_EQ(grid->childCount(), 15) << "the header cells and every data cell";

    const QStringList headers = {"№", "ディレクトリ", "サイズ"};
    for (int col = 0; col < 3; ++col) {
        EXPECT_EQ(gridTable->columnDescription(col), headers[col]);
        QAccessibleInterface* header = grid->child(col);
        EXPECT_EQ(header->role(), QAccessible::ColumnHeader);
        EXPECT_EQ(header->text(QAccessible::Name), headers[col]);
    }
    for (int row = 0; row < gridTable->rowCount(); ++row) {
        for (int col = 0; col < 3; ++col) {
            QAccessibleInterface* cell = gridTable->cellAt(row, col);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->role(), QAccessible::Cell);
            EXPECT_EQ(cell->text(QAccessible::Name).toStdString(), table.TextAt(row + 1, col)) << row << "," << col;
            QAccessibleTableCellInterface* place = cell->tableCellInterface();
            ASSERT_NE(place, nullptr);
            EXPECT_EQ(place->rowIndex(), row);
            EXPECT_EQ(place->columnIndex(), col);
            ASSERT_EQ(place->columnHeaderCells().size(), 1);
            EXPECT_EQ(place->columnHeaderCells()[0]->text(QAccessible::Name), headers[col]);
            EXPECT_EQ(place->rowHeaderCells().size(), col == 0 ? 0 : 1);
            EXPECT_EQ(place->table(), grid);
            EXPECT_EQ(cell->parent(), grid);
            EXPECT_EQ(grid->child(grid->indexOfChild(cell)), cell);
            EXPECT_EQ(gridTable->cellAt(row, col), cell) << "a reader holding a cell gets the same one again";
        }
    }
    EXPECT_EQ(gridTable->cellAt(1, 2)->tableCellInterface()->rowHeaderCells()[0]->text(QAccessible::Name), "2");
    // A size's exact byte count, its share of the total and the names it holds, a tooltip on the screen, is the
    // cell's description.
    const QString bytes = gridTable->cellAt(0, 2)->text(QAccessible::Description);
    EXPECT_TRUE(bytes.contains(" バイト（全体の 23.1 %）\n1 項目\n最終更新: 2")) << bytes.toStdString();
    EXPECT_EQ(bytes.section(QStringLiteral(" "), 0, 0).remove(QRegularExpression("[^0-9]")), "3000");
    EXPECT_EQ(gridTable->cellAt(3, 2)->text(QAccessible::Description).count(QStringLiteral("全体")), 0)
        << "the total is no share of itself";
    EXPECT_EQ(gridTable->cellAt(0, 1)->text(QAccessible::Description), "") << "a name that fits says nothing more";
    EXPECT_EQ(gridTable->cellAt(4, 0), nullptr);
    EXPECT_EQ(gridTable->cellAt(0, 3), nullptr);
    EXPECT_EQ(grid->child(15), nullptr);

    // The current cell, the total's size, is the one selected cell, focused only when the grid is; a point on
    // the screen finds its cell.
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    ASSERT_TRUE(Control<QPushButton>("Command3")->hasFocus());
    ASSERT_EQ(gridTable->selectedCells().size(), 1);
    EXPECT_EQ(gridTable->selectedCells()[0], gridTable->cellAt(3, 2));
    EXPECT_TRUE(gridTable->cellAt(3, 2)->state().selected);
    EXPECT_FALSE(gridTable->cellAt(3, 2)->state().focused);
    EXPECT_EQ(grid->focusChild(), nullptr);
    EXPECT_FALSE(gridTable->cellAt(2, 2)->state().selected);
    QAccessibleInterface* name = gridTable->cellAt(1, 1);
    EXPECT_EQ(grid->childAt(name->rect().center().x(), name->rect().center().y()), name);
    EXPECT_TRUE(grid->rect().contains(name->rect()));
}

TEST_F(ReaderTest, EveryMoveOfTheCurrentCellIsAFocusEventForThatCell)
{
    TempTree tree;
    for (const char* name : {"a", "b"})
        tree.Dir(name);
    Search(tree.Root());
    ShowAndFocusGrid();
    const ResultsTable& table = form->Table();
    auto text = [&](int row, int col) { return QString::fromStdString(table.TextAt(row + 1, col)); };
    using Focus = std::vector<std::tuple<int, int, QString>>;
    ASSERT_TRUE(WaitUntil([&] { return !CellFocusEvents().empty(); })) << "the grid names its current cell on focus";
    EXPECT_EQ(Accessible("Grid1")->focusChild(), GridTable()->cellAt(3, 2));
    EXPECT_TRUE(GridTable()->cellAt(3, 2)->state().focused);

    QTest::keyClick(Grid(), Qt::Key_Left);
    QTest::keyClick(Grid(), Qt::Key_Up);
    EXPECT_EQ(CellFocusEvents(), (Focus{{3, 1, text(3, 1)}, {2, 1, text(2, 1)}}));
    QTest::keyClick(Grid(), Qt::Key_Left);
    EXPECT_EQ(CellFocusEvents(), Focus{}) << "a key that moves nothing says nothing";
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->CellRect(2, 2).center());
    EXPECT_EQ(CellFocusEvents(), (Focus{{1, 2, text(1, 2)}}));
    EXPECT_FALSE(GridTable()->cellAt(3, 2)->state().focused);

    // A search run from the keyboard ends on the total's size, and a reader in the grid is told so.
    TempTree other;
    other.Dir("only");
    ASSERT_TRUE(Control<DirList>("Dir1")->SetPath(other.Root()));
    CellFocusEvents();
    Control<QPushButton>("Command1")->click();
    ASSERT_TRUE(WaitUntil([&] { return !form->Controller().Searching(); }));
    ASSERT_TRUE(Grid()->hasFocus());
    ASSERT_TRUE(WaitUntil([&] {
        for (const Heard& entry : events)
            if (entry.type == QAccessible::Focus && entry.row == 2 && entry.col == 2)
                return true;
        return false;
    }));
    const Focus focused = CellFocusEvents();
    EXPECT_EQ(focused.back(), std::make_tuple(2, 2, QStringLiteral("0 kb")));
}

TEST_F(ReaderTest, ANewSearchLeavesNothingStaleInTheCellsAReaderHolds)
{
    TempTree tree;
    tree.File("root.bin", 300 * 1024);
    for (const char* name : {"a", "b", "c"})
        tree.Dir(name);
    Search(tree.Root());
    QAccessibleTableInterface* gridTable = GridTable();
    QAccessibleInterface* rootSize = gridTable->cellAt(0, 2);
    ASSERT_EQ(rootSize->text(QAccessible::Name), "300 kb");
    const QAccessible::Id lastRowId = QAccessible::uniqueId(gridTable->cellAt(4, 1));
    events.clear();

    TempTree empty;
    Control<QRadioButton>("Option2(1)")->click();
    Search(empty.Root());
    EXPECT_EQ(gridTable->rowCount(), 2);
    EXPECT_EQ(rootSize->text(QAccessible::Name), "0 Mb");
    EXPECT_EQ(gridTable->cellAt(1, 1)->text(QAccessible::Name), QString::fromStdString(empty.Root() + "/合計"));
    // The grid tells of its rows once a frame.
    EXPECT_TRUE(WaitUntil([&] {
        return std::any_of(events.begin(), events.end(), [&](const Heard& entry) {
            return entry.type == QAccessible::TableModelChanged && entry.object == Grid() &&
                   entry.change != QAccessibleTableModelChangeEvent::RowsInserted;
        });
    })) << "a reader is told that rows went";
    EXPECT_EQ(QAccessible::accessibleInterface(lastRowId), nullptr) << "a cell whose row is gone is gone";
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Heard& entry) {
        return entry.type == QAccessible::NameChanged && entry.row == 0 && entry.col == 2 && entry.name == "0 Mb";
    })) << "a reader holding the old size is told of the new one";
    EXPECT_TRUE(Grid()->accessibleDescription().isEmpty()) << "no row text kept beside the cells";
}

TEST_F(ReaderTest, ANewOrderIsHeardFromTheSortedHeaderAndTheRowsAreReadAgain)
{
    TempTree tree;
    tree.File("small/x", 1024);
    tree.File("large/x", 4096);
    Search(tree.Root());
    ShowAndFocusGrid();
    QAccessibleInterface* sizeHeader = Accessible("Grid1")->child(2);
    EXPECT_EQ(sizeHeader->text(QAccessible::Description), "") << "the listing order is no sort";
    events.clear();

    QTest::keyClick(Grid(), Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(sizeHeader->text(QAccessible::Name), "サイズ") << "the header's text stays";
    EXPECT_EQ(sizeHeader->text(QAccessible::Description), "降順に並べ替え");
    EXPECT_EQ(GridTable()->cellAt(0, 1)->text(QAccessible::Name), "large");
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Heard& entry) {
        return entry.type == QAccessible::DescriptionChanged && entry.role == QAccessible::ColumnHeader &&
               entry.name == "サイズ" && entry.description == "降順に並べ替え";
    })) << "a reader is told of the header's new state";
    EXPECT_TRUE(WaitUntil([&] {
        return std::any_of(events.begin(), events.end(), [&](const Heard& entry) {
            return entry.type == QAccessible::TableModelChanged && entry.object == Grid() &&
                   entry.change == QAccessibleTableModelChangeEvent::ModelReset;
        });
    })) << "and that every row may have changed";
}

TEST_F(ReaderTest, RowsArrivingOverSeveralFramesAreAnnouncedAsInsertedEachOnceWithoutAGap)
{
    ASSERT_NE(GridTable(), nullptr);
    ResultsTable& table = form->Table();
    auto inserted = [&] {
        std::vector<std::pair<int, int>> ranges;
        for (const Heard& entry : events)
            if (entry.type == QAccessible::TableModelChanged && entry.object == Grid() &&
                entry.change == QAccessibleTableModelChangeEvent::RowsInserted)
                ranges.emplace_back(entry.row, entry.col);
        return ranges;
    };
    for (const int batch : {1, 3, 2}) {
        const size_t told = inserted().size();
        for (int i = 0; i < batch; ++i)
            fakes::AddRow(table, std::to_string(table.Rows()), "d", "1 kb");
        ASSERT_TRUE(WaitUntil([&] { return inserted().size() > told; }));
    }
    // Table rows from 0; the empty row 0 was there before.
    EXPECT_EQ(inserted(), (std::vector<std::pair<int, int>>{{1, 1}, {2, 4}, {5, 6}}));
    EXPECT_EQ(GridTable()->rowCount(), 7);
}

TEST_F(ReaderTest, ACutNamesDescriptionSaysOnlyWhatItsTooltipAddsToTheName)
{
    ResultsTable& table = form->Table();
    QAccessibleInterface* name = GridTable()->cellAt(0, 1);
    for (const std::string& longName : {"/data/" + std::string(120, 'n'), "/data/two\nlines/" + std::string(120, 'n')}) {
        SetCellText(table, 1, 1, longName);
        const QString text = QString::fromStdString(longName);
        ASSERT_EQ(Grid()->CellToolTip(1, 1), QString::fromStdString(OnOneLine(longName))) << "drawn cut";
        EXPECT_EQ(name->text(QAccessible::Name), text);
        EXPECT_EQ(name->text(QAccessible::Description).toStdString(), "");

        UnreadPlaces unread;
        unread.Add({"/data/locked", ReadFailure::Permission});
        fakes::SetUnread(table, 1, unread);
        EXPECT_EQ(name->text(QAccessible::Description).toStdString(),
                  "読み取れなかったディレクトリ: 1\n/data/locked (アクセス権がありません)");
        fakes::SetUnread(table, 1, {});
        // Pseudo file systems under the row, counted 0, are told the same way.
        RowFacts facts = table.Facts(1);
        facts.notEntered.Add({"/data/proc", ReadFailure::None});
        table.SetFacts(1, facts);
        EXPECT_EQ(name->text(QAccessible::Description).toStdString(), "数えていない擬似ファイルシステム: 1\n/data/proc");
        table.SetFacts(1, {});
    }
}

TEST_F(ReaderTest, StatusPanelsReadAsTheirTextAndTellWhenASearchStartsAndEnds)
{
    TempTree tree;
    tree.Dir("a");
    Search(tree.Root());
    QStatusBar* statusBar = Control<QStatusBar>("StatusBar1");
    const QList<QLabel*> panels = statusBar->findChildren<QLabel*>();
    ASSERT_FALSE(panels.isEmpty());
    for (QLabel* panel : panels) {
        std::vector<QString> told;
        for (const Heard& entry : events)
            if (entry.type == QAccessible::NameChanged && entry.object == panel)
                told.push_back(entry.name);
        const std::string which = panel->objectName().toStdString();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(panel)->text(QAccessible::Name), panel->text()) << which;
        if (panel->objectName() == "StatusBar1.Panels(1)") {
            EXPECT_EQ(told, (std::vector<QString>{"検索中...", ""})) << "a reader hears the search start and end";
        } else {
            ASSERT_FALSE(told.empty()) << which << " never told a reader what it shows";
            EXPECT_EQ(told.back(), panel->text()) << which;
        }
    }
}

TEST_F(ReaderTest, TheDriveListIsLabelledAndTheDirectoryListTellsEachEntrysPlace)
{
    const auto labels = Accessible("Drive1")->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0].first->text(QAccessible::Name), "ドライブ");

    TempTree tree;
    tree.Dir("open/inner/deeper");
    tree.Dir("open/other");
    DirList* list = Control<DirList>("Dir1");
    ASSERT_TRUE(list->SetPath(tree.Path("open")));
    QAccessibleTableInterface* entries = Accessible("Dir1")->tableInterface();
    ASSERT_NE(entries, nullptr);
    const int ancestors = static_cast<int>(std::count(tree.Root().begin(), tree.Root().end(), '/')) + 1;
    ASSERT_EQ(entries->rowCount(), ancestors + 3);
    auto entry = [&](int row) { return entries->cellAt(row, 0); };
    for (int row = 0; row < ancestors; ++row)
        EXPECT_EQ(entry(row)->text(QAccessible::Description), "上位ディレクトリ") << row;
    EXPECT_EQ(entry(ancestors)->text(QAccessible::Name), "open");
    EXPECT_EQ(entry(ancestors)->text(QAccessible::Description), "開いているディレクトリ");
    EXPECT_EQ(entry(ancestors + 1)->text(QAccessible::Name), "inner");
    EXPECT_EQ(entry(ancestors + 1)->text(QAccessible::Description), "サブディレクトリ");

    // Opened from the keyboard, the directory is the focused entry, and it says it is now the open one.
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    list->setFocus();
    list->SetListIndex(0);
    events.clear();
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(list->Path(), tree.Path("open/inner"));
    ASSERT_FALSE(events.empty());
    const Heard& last = events.back();
    EXPECT_EQ(last.type, QAccessible::Focus);
    EXPECT_EQ(last.name, "inner");
    EXPECT_EQ(last.description, "開いているディレクトリ");
}

// Runs on one walking thread behind gates, so that a test can hold a run in its busy state.
class GatedReaderTest : public ReaderTest {
protected:
    GatedReaderTest() : GatedReaderTest(std::make_shared<GatedFileSystem>(std::make_shared<PosixFileSystem>())) {}

    std::shared_ptr<GatedFileSystem> gated;

private:
    explicit GatedReaderTest(std::shared_ptr<GatedFileSystem> fileSystem)
        : ReaderTest(fileSystem, {.threads = 1, .rowWritten = {}}), gated(std::move(fileSystem))
    {
    }
};

// Every object under iface, iface included.
void Walk(QAccessibleInterface* iface, std::vector<QAccessibleInterface*>& found)
{
    found.push_back(iface);
    for (int i = 0; i < iface->childCount(); ++i)
        if (QAccessibleInterface* child = iface->child(i))
            Walk(child, found);
}

TEST_F(GatedReaderTest, ControlsDisabledDuringARunSayTheyAreDisabledItemsIncluded)
{
    TempTree tree;
    tree.Dir("a");
    tree.Dir("b");
    ASSERT_TRUE(Control<DirList>("Dir1")->SetPath(tree.Root()));
    gated->listing.Close();
    Control<QPushButton>("Command1")->click();
    ASSERT_TRUE(gated->listing.WaitForWaiter());

    auto states = [&](bool disabled) {
        for (const char* name : {"Drive1", "Dir1", "Frame1", "Frame2"}) {
            std::vector<QAccessibleInterface*> found;
            Walk(Accessible(name), found);
            EXPECT_GT(found.size(), 2u) << name;
            for (QAccessibleInterface* iface : found)
                EXPECT_EQ(iface->state().disabled, disabled)
                    << name << ": " << iface->text(QAccessible::Name).toStdString() << " role " << iface->role();
        }
    };
    states(true);
    gated->listing.Open();
    ASSERT_TRUE(WaitUntil([&] { return gated->Idle() && !form->Controller().Searching(); }));
    QCoreApplication::processEvents();
    states(false);
}

}  // namespace
}  // namespace murako
