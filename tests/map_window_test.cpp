#include "map_window.h"

#include <QAccessible>
#include <QComboBox>
#include <QDate>
#include <QAccessibleInterface>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

#include "dir_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "reader_listening.h"
#include "row_texts.h"
#include "results_grid.h"
#include "sort_arrow.h"
#include "temp_tree.h"
#include "window_placement.h"
#include "window_test_support.h"

namespace murako {
namespace {

using fakes::TempTree;
using fakes::WaitUntil;

SearchController::Options Keeping()
{
    SearchController::Options options;
    options.keepTree = true;
    return options;
}

// The window after a search of a made tree, its map window open at the map's own size.
class MapWindowTest : public ::testing::Test {
protected:
    MapWindowTest() : form(std::make_shared<PosixFileSystem>(), Keeping())
    {
        // 60 % in big.mov, 40 % in sub, three quarters of which in inner.png.
        tree.File("big.mov", 600000);
        tree.File("sub/inner.png", 300000);
        tree.File("sub/deep/x.txt", 100000);
        form.show();
    }

    void Search(const std::string& path)
    {
        ASSERT_TRUE(form.findChild<DirList*>("Dir1")->SetPath(path));
        form.findChild<QPushButton*>("Command1")->click();
        ASSERT_TRUE(WaitUntil([&] { return !form.Controller().Searching() && form.Controller().Kept(); }));
    }

    MapWindow& OpenMap()
    {
        auto* grid = form.findChild<ResultsGrid*>("Grid1");
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_M, Qt::ControlModifier);
        if (!form.Map()) {
            ADD_FAILURE() << "Ctrl+M in the table opens the map";
            form.ShowMap();
        }
        MapWindow& map = *form.Map();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&map));
        return map;
    }

    QString StatusLine(MapWindow& map) { return map.findChildren<QLabel*>().back()->text(); }
    QString HoverAt(MapWindow& map, double fx, double fy)
    {
        MapView& view = map.View();
        const QPoint at(static_cast<int>(view.width() * fx), static_cast<int>(view.height() * fy));
        QTest::mouseMove(&view, at);
        QMouseEvent move(QEvent::MouseMove, QPointF(at), view.mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        return StatusLine(map);
    }
    int32_t TableRowOf(const std::string& listedName)
    {
        for (int32_t row = ResultsTable::FixedRows; row < form.Table().Rows(); ++row)
            if (form.Table().Facts(row).listedName == listedName)
                return row;
        return -1;
    }

    TempTree tree;
    Form1 form;
};

TEST_F(MapWindowTest, HoverNamesTheFileUnderAKnownPixelAndClicksAndKeysMoveBothWindows)
{
    Search(tree.Root());
    MapWindow& map = OpenMap();
    EXPECT_TRUE(map.windowTitle().contains(QStringLiteral("マップ")));
    MapView& view = map.View();
    ASSERT_GE(view.width(), view.height()) << "the layout below is that of a wide map";
    // big.mov takes the left 60 %; sub the rest, inner.png at its top.
    EXPECT_TRUE(HoverAt(map, 0.3, 0.5).startsWith(QString::fromStdString(tree.Path("big.mov")) + "  "))
        << HoverAt(map, 0.3, 0.5).toStdString();
    EXPECT_TRUE(HoverAt(map, 0.3, 0.5).endsWith(QStringLiteral("60.0 %")));
    EXPECT_TRUE(HoverAt(map, 0.85, 0.3).startsWith(QString::fromStdString(tree.Path("sub/inner.png"))));
    EXPECT_TRUE(HoverAt(map, 0.85, 0.3).endsWith(QStringLiteral("30.0 %")));

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(static_cast<int>(view.width() * 0.85), view.height() / 3));
    EXPECT_EQ(form.Table().Row(), TableRowOf("sub")) << "the row that holds the file clicked";
    QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(static_cast<int>(view.width() * 0.85), view.height() / 3));
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("sub/")) << "a double click goes down in the table too";
    EXPECT_EQ(form.findChild<DirList*>("Dir1")->Path(), tree.Path("sub")) << "and the directory list follows";
    EXPECT_TRUE(HoverAt(map, 0.3, 0.5).startsWith(QString::fromStdString(tree.Path("sub/inner.png"))));
    EXPECT_NE(TableRowOf("deep"), -1);
    QTest::keyClick(&view, Qt::Key_Backspace);
    EXPECT_EQ(form.Controller().ShownPath(), tree.Root() + "/");
    EXPECT_TRUE(HoverAt(map, 0.3, 0.5).startsWith(QString::fromStdString(tree.Path("big.mov"))));

    // A search from the table elsewhere: the map follows it.
    Search(tree.Path("sub"));
    ASSERT_TRUE(WaitUntil([&] { return HoverAt(map, 0.3, 0.5).startsWith(QString::fromStdString(tree.Path("sub/inner.png"))); }, 2000));
}

TEST_F(MapWindowTest, LargestFilesAreWhatFindSortedTellsAndOpenTheirDirectory)
{
    // Sizes all different, more files than the list holds, in directories of several depths.
    for (int i = 0; i < 130; ++i)
        tree.File("many/" + std::to_string(i % 7) + (i % 3 ? "/d" : "") + "/f" + std::to_string(i) + ".dat", 1000 + 37 * i);
    Search(tree.Root());
    MapWindow& map = OpenMap();

    QProcess find;
    find.start(QStringLiteral("find"), {QString::fromStdString(tree.Root()), QStringLiteral("-type"), QStringLiteral("f"),
                                        QStringLiteral("-printf"), QStringLiteral("%s %p\\n")});
    ASSERT_TRUE(find.waitForFinished());
    std::vector<std::pair<long long, QString>> found;
    for (const QString& line : QString::fromUtf8(find.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        found.emplace_back(line.section(' ', 0, 0).toLongLong(), line.section(' ', 1));
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    found.resize(100);

    QTableWidget& largest = map.LargestFilesTable();
    EXPECT_EQ(largest.accessibleName(), QStringLiteral("大きいファイル"));
    ASSERT_EQ(largest.rowCount(), 100);
    for (int row = 0; row < 100; ++row) {
        EXPECT_EQ(largest.item(row, 1)->text(), found[static_cast<size_t>(row)].second) << row;
        EXPECT_TRUE(largest.item(row, 0)->toolTip().remove(',').contains(QString::number(found[static_cast<size_t>(row)].first)))
            << largest.item(row, 0)->toolTip().toStdString();
    }
    // A screen reader reads it cell by cell.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&largest);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    EXPECT_EQ(table->tableInterface()->cellAt(2, 1)->text(QAccessible::Name), found[2].second);

    // Enter on a file deeper down shows its directory in the table and selects it in the map.
    const int row = static_cast<int>(std::find_if(found.begin(), found.end(), [](const auto& f) { return f.second.contains("/d/"); }) - found.begin());
    ASSERT_LT(row, 100);
    largest.setFocus();
    largest.setCurrentCell(row, 1);
    QTest::keyClick(&largest, Qt::Key_Return);
    const QString file = found[static_cast<size_t>(row)].second;
    EXPECT_EQ(QString::fromStdString(form.Controller().ShownPath()), file.left(file.lastIndexOf('/') + 1));
    ASSERT_GE(map.View().Selected(), 0);
    EXPECT_TRUE(map.Describe(map.View().Selected()).startsWith(file + "  "));
}

// Sized by count, sub's four names take four fifths of the map and big.mov's one the rest, and sub comes first
// to the keys; 種類 gives each type's share of the files beside its share of the bytes.
TEST_F(MapWindowTest, SizedByCountTheAreasAreTheNamesAndTypesGiveTheirShareOfTheFiles)
{
    Search(tree.Root());
    MapWindow& map = OpenMap();
    QRadioButton* byCount = nullptr;
    for (QRadioButton* button : map.findChildren<QRadioButton*>())
        byCount = button->text() == QStringLiteral("項目数") ? button : byCount;
    ASSERT_NE(byCount, nullptr);
    auto item = [&](std::string_view name) {
        const std::vector<MapItem>& items = map.View().Items();
        const auto found = std::find_if(items.begin(), items.end(), [&](const MapItem& it) { return it.name == name; });
        EXPECT_NE(found, items.end()) << name;
        return static_cast<int32_t>(found - items.begin());
    };
    auto shareOf = [&](std::string_view name) {
        return map.View().Items()[static_cast<size_t>(item(name))].rect.Area() / map.View().Items()[0].rect.Area();
    };
    EXPECT_NEAR(shareOf("big.mov"), 0.6, 0.01);
    byCount->click();
    EXPECT_EQ(map.View().Area(), MapArea::Entries);
    EXPECT_NEAR(shareOf("big.mov"), 0.2, 0.01);
    EXPECT_NEAR(shareOf("sub"), 0.8, 0.01);
    EXPECT_EQ(map.View().Children().front(), item("sub")) << "the most names first";
    EXPECT_TRUE(map.Describe(item("sub")).endsWith(QStringLiteral("4 項目  80.0 %"))) << map.Describe(item("sub")).toStdString();
    EXPECT_TRUE(map.View().accessibleDescription().contains(QStringLiteral("大きい順: sub 80.0 %、big.mov 20.0 %")))
        << "a reader hears the map as it is drawn now";

    QTreeWidget& types = map.TypesTree();
    ASSERT_EQ(types.headerItem()->text(4), QStringLiteral("ファイル数の割合"));
    for (int i = 0; i < types.topLevelItemCount(); ++i)
        if (types.topLevelItem(i)->text(0) == QStringLiteral("動画")) {
            EXPECT_EQ(types.topLevelItem(i)->text(3), QStringLiteral("60.0 %"));
            EXPECT_EQ(types.topLevelItem(i)->text(4), QStringLiteral("33.3 %")) << "one of three files";
        }
}

TEST_F(MapWindowTest, TypeTotalsAddUpToTheShownTotalInTheMapsColours)
{
    tree.File("song.mp3", 5000);
    tree.File("README", 7);
    tree.File("sub/b.png", 10);
    Search(tree.Root());
    MapWindow& map = OpenMap();
    QTreeWidget& types = map.TypesTree();
    qlonglong total = 0;
    std::map<QString, qlonglong> groups;
    for (int i = 0; i < types.topLevelItemCount(); ++i) {
        QTreeWidgetItem* group = types.topLevelItem(i);
        groups[group->text(0)] = group->data(2, Qt::UserRole).toLongLong();
        total += group->data(2, Qt::UserRole).toLongLong();
        qlonglong extensions = 0;
        for (int e = 0; e < group->childCount(); ++e)
            extensions += group->child(e)->data(2, Qt::UserRole).toLongLong();
        EXPECT_EQ(extensions, group->data(2, Qt::UserRole).toLongLong()) << group->text(0).toStdString();
    }
    EXPECT_EQ(total, 1005017);
    EXPECT_EQ(groups[QStringLiteral("動画")], 600000);
    EXPECT_EQ(groups[QStringLiteral("画像")], 300010);
    EXPECT_EQ(groups[QStringLiteral("文書")], 100000);
    EXPECT_EQ(groups[QStringLiteral("音声")], 5000);
    EXPECT_EQ(groups[QStringLiteral("その他")], 7);
    EXPECT_EQ(types.topLevelItem(0)->text(0), QStringLiteral("動画")) << "largest first";
    // The swatch in words, to a reader.
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&types);
    ASSERT_NE(reader->tableInterface(), nullptr);
    EXPECT_EQ(reader->tableInterface()->cellAt(0, 0)->text(QAccessible::Description), QStringLiteral("マップの色: 赤"));
    EXPECT_EQ(types.topLevelItem(0)->icon(0).pixmap(12).toImage().pixel(6, 6) & 0xffffff,
              TypeGroupColour(TypeGroup::Video));
    types.sortByColumn(1, Qt::DescendingOrder);
    EXPECT_EQ(types.topLevelItem(0)->text(0), QStringLiteral("画像")) << "sorted by the number of files";
}

// Each file is found as itself, not as its directory's largest, and a directory's rectangle names its path once.
TEST_F(MapWindowTest, EveryFileIsFoundAsItselfAndADirectoryRectangleNamesItsPathOnce)
{
    tree.File("sub/second.txt", 50000);
    Search(tree.Root());
    MapWindow& map = OpenMap();
    const KeptDirectory* sub = form.Controller().Kept()->Base()->Child("sub");
    ASSERT_NE(sub, nullptr);
    const std::vector<MapItem>& items = map.View().Items();
    ForEachFile(*sub, [&](const KeptFile& file) {
        const int32_t item = map.View().ItemOfFile(sub, file.index);
        ASSERT_GE(item, 0) << file.name;
        EXPECT_EQ(items[static_cast<size_t>(item)].name, file.name);
    });
    const auto subItem = std::find_if(items.begin(), items.end(), [&](const MapItem& item) {
        return item.kind == MapItemKind::Directory && item.dir == sub;
    });
    ASSERT_NE(subItem, items.end());
    const QString described = map.Describe(static_cast<int32_t>(subItem - items.begin()));
    EXPECT_TRUE(described.contains(QString::fromStdString(tree.Path("sub")))) << described.toStdString();
    EXPECT_FALSE(described.contains(QStringLiteral("sub/sub"))) << described.toStdString();
}

// The map offers what the table offers for a file: Delete asks, moves it to the trash, and the totals follow.
TEST_F(MapWindowTest, AFileChosenInTheMapMovesToTheTrashAndTheTotalsFollow)
{
    tree.Dir("data");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(tree.Path("data")));
    Search(tree.Root());
    MapWindow& map = OpenMap();
    const KeptDirectory* base = form.Controller().Kept()->Base();
    std::optional<uint32_t> big;
    uint32_t index = 0;
    ForEachFile(*base, [&](const KeptFile& file) {
        if (file.name == "big.mov")
            big = index;
        ++index;
    });
    ASSERT_TRUE(big);
    map.View().Select(map.View().ItemOfFile(base, *big));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answer.stop();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == QStringLiteral("ごみ箱に移動"))
                    button->click();
        }
    });
    answer.start(10);
    map.activateWindow();
    QTest::keyClick(&map.View(), Qt::Key_Delete);
    EXPECT_FALSE(std::filesystem::exists(tree.Path("big.mov")));
    EXPECT_TRUE(std::filesystem::exists(tree.Path("data/Trash/files/big.mov")));
    const ResultsTable& table = form.Table();
    EXPECT_EQ(table.Facts(table.Rows() - 1).bytes, 400000);
    qputenv("XDG_DATA_HOME", oldData);
}


// What a reader hears of the map as the keys move through it, the moves themselves, and the table following.
std::vector<QString> heardFocus;
void HearFocus(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::Focus && event->accessibleInterface())
        heardFocus.push_back(event->accessibleInterface()->text(QAccessible::Name));
}

TEST_F(MapWindowTest, TheKeysMoveThroughTheChildrenLargestFirstAndAReaderHearsEachMove)
{
    Search(tree.Root());
    MapWindow& map = OpenMap();
    MapView& view = map.View();
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->text(QAccessible::Name), QStringLiteral("マップ"));
    EXPECT_EQ(reader->role(), QAccessible::List);
    const QString summary = reader->text(QAccessible::Description);
    EXPECT_TRUE(summary.startsWith(QString::fromStdString(tree.Root()) + "/  ")) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith(QStringLiteral("大きい順: big.mov 60.0 %、sub 40.0 %"))) << summary.toStdString();
    ASSERT_EQ(reader->childCount(), 2);
    EXPECT_TRUE(reader->child(1)->text(QAccessible::Name).startsWith(QString::fromStdString(tree.Path("sub/")) + "  "));
    EXPECT_EQ(reader->indexOfChild(reader->child(1)), 1);

    heardFocus.clear();
    fakes::SetReaderListening(true);
    QAccessible::UpdateHandler before = QAccessible::installUpdateHandler(HearFocus);
    map.activateWindow();
    view.setFocus();
    ASSERT_TRUE(WaitUntil([&] { return view.hasFocus(); }));
    const int32_t big = view.Children()[0], sub = view.Children()[1];
    EXPECT_EQ(view.Selected(), big) << "the keys start on the largest";
    // Each key: where the selection went, the table's row, and what a reader heard last.
    int32_t rootFiles = -1;
    for (int32_t row = ResultsTable::FixedRows; row < form.Table().Rows(); ++row)
        rootFiles = form.Table().Facts(row).kind == RowKind::RootFiles ? row : rootFiles;
    const int32_t subRow = TableRowOf("sub");
    auto press = [&](Qt::Key key, int32_t selected, int32_t row) {
        heardFocus.clear();
        QTest::keyClick(&view, key);
        EXPECT_EQ(view.Selected(), selected) << key;
        EXPECT_EQ(form.Table().Row(), row) << key << ": as a click does";
        ASSERT_FALSE(heardFocus.empty()) << key;
        EXPECT_EQ(heardFocus.back(), map.Describe(selected)) << key;
    };
    press(Qt::Key_Right, sub, subRow);
    press(Qt::Key_Right, sub, subRow);  // the last stays the last
    press(Qt::Key_Up, big, rootFiles);
    press(Qt::Key_End, sub, subRow);
    press(Qt::Key_Home, big, rootFiles);
    press(Qt::Key_Down, sub, subRow);
    QAccessible::installUpdateHandler(before);
    fakes::SetReaderListening(false);
    EXPECT_EQ(reader->focusChild()->text(QAccessible::Name), map.Describe(sub));
    EXPECT_TRUE(map.Describe(sub).endsWith(QStringLiteral("40.0 %"))) << "as the tooltip: path, size and share";

    // Enter goes down; Backspace comes back with the directory left current in both windows.
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("sub/"));
    EXPECT_TRUE(view.accessibleDescription().contains(QStringLiteral("inner.png 75.0 %")));
    EXPECT_TRUE(map.Describe(view.Selected()).startsWith(QString::fromStdString(tree.Path("sub/inner.png"))))
        << "the keys go on from the largest part there";
    QTest::keyClick(&view, Qt::Key_Backspace);
    EXPECT_EQ(form.Controller().ShownPath(), tree.Root() + "/");
    EXPECT_EQ(form.Table().Row(), TableRowOf("sub")) << "as the table's own Backspace does";
    EXPECT_EQ(view.Selected(), view.Children()[1]);
}

TEST_F(MapWindowTest, LargestFilesListFilesOnlyEachOnOneLine)
{
    tree.File("two\nlines.dat", 200000);
    std::filesystem::create_symlink(std::string(4000, 'x'), tree.Path("long-link"));
    Search(tree.Root());
    MapWindow& map = OpenMap();
    QTableWidget& largest = map.LargestFilesTable();
    QStringList paths;
    for (int row = 0; row < largest.rowCount(); ++row)
        paths << largest.item(row, 1)->text();
    EXPECT_EQ(paths.size(), 4) << "no link among the files: " << paths.join(' ').toStdString();
    const QString shown = QString::fromStdString(tree.Path("two")) + QStringLiteral("\uFFFDlines.dat");
    ASSERT_TRUE(paths.contains(shown)) << paths.join(' ').toStdString();
    EXPECT_EQ(largest.item(static_cast<int>(paths.indexOf(shown)), 1)->toolTip(), shown) << "the whole path";
}

TEST_F(MapWindowTest, AnEmptyFolderSaysSoAndALargeRestSaysWhatItHolds)
{
    tree.Dir("empty");
    Search(tree.Path("empty"));
    MapWindow& map = OpenMap();
    EXPECT_TRUE(map.View().accessibleDescription().endsWith(QStringLiteral("空のフォルダー")));
    auto darkPixels = [&](QRect within) {
        const QImage drawn = map.View().grab().toImage();
        int dark = 0;
        for (int y = within.top(); y <= within.bottom(); ++y)
            for (int x = within.left(); x <= within.right(); ++x)
                dark += qGray(drawn.pixel(x, y)) < 80;
        return dark;
    };
    EXPECT_GT(darkPixels(map.View().rect()), 20) << "written on the map";

    // Too many files too small to show alone, in one grey rest: it says what it holds inside it.
    for (int i = 0; i < 20000; ++i)
        tree.File("many/f" + std::to_string(i), 1);
    tree.File("many/big.dat", 3000);
    map.resize(480, 360);  // where each small file has less than 3×3 pixels
    Search(tree.Path("many"));
    ASSERT_TRUE(WaitUntil([&] { return map.View().accessibleDescription().contains(QStringLiteral("小さな項目")); }, 2000))
        << map.View().accessibleDescription().toStdString();
    const int32_t rest = map.View().Children()[0];
    ASSERT_EQ(map.View().Items()[static_cast<size_t>(rest)].kind, MapItemKind::Rest);
    EXPECT_EQ(map.View().EntriesInRest(rest), 20000 + 1 - static_cast<int64_t>(map.View().Children().size() - 1));
    EXPECT_GT(darkPixels(map.View().PixelRect(rest).adjusted(3, 3, -3, -3)), 20) << "a label inside the rest";
}

// Where the map opens: beside the main window, on its screen.
struct Placing {
    const char* name;
    QRect main;
    QSize frame;
    QRect expected;  // empty: nowhere
};

void PrintTo(const Placing& placing, std::ostream* out)
{
    *out << placing.name;
}

class PlaceBesideTest : public ::testing::TestWithParam<Placing> {};

TEST_P(PlaceBesideTest, BesideTheMainWindowOnItsScreen)
{
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(PlaceBeside(GetParam().main, GetParam().frame, 400, screen), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Screens, PlaceBesideTest, ::testing::Values(
    Placing{"right", {0, 0, 700, 600}, {1100, 700}, {700, 0, 1100, 700}},
    Placing{"left", {900, 100, 700, 600}, {800, 700}, {100, 100, 800, 700}},
    Placing{"rightWhereBothFit", {700, 0, 500, 600}, {600, 700}, {1200, 0, 600, 700}},
    Placing{"narrowedOnTheWiderSide", {600, 0, 700, 600}, {1100, 700}, {1300, 0, 620, 700}},
    Placing{"raisedToStayOnTheScreen", {0, 700, 700, 300}, {1100, 700}, {700, 380, 1100, 700}},
    Placing{"noRoom", {300, 0, 1300, 600}, {1100, 700}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The order's arrow means what the results table's means: ▼ for largest first.
// Files of four ages: now, two years ago, before 1970 and in 2100. Coloured by age, the legend names each class
// to the eye and to a reader; 更新日時 gives every year, and its row of two years ago leaves only that file in
// colour; 古くて大きいファイル lists the old ones alone, with the largest files' menu.
TEST_F(MapWindowTest, ByAgeTheLegendTheYearsAndTheOldFilesTellEachFilesTime)
{
    const auto now = static_cast<ModifiedTime>(std::time(nullptr));
    const ModifiedTime twoYearsAgo = now - 2 * kYearSeconds;
    auto touch = [&](const std::string& file, ModifiedTime time) {
        const timespec times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, tree.Path(file).c_str(), times, 0), 0) << file;
    };
    touch("sub/inner.png", twoYearsAgo);
    touch("sub/deep/x.txt", 4'102'444'800);
    tree.File("early.txt", 50000);
    touch("early.txt", -1);
    Search(tree.Root());
    MapWindow& map = OpenMap();

    EXPECT_FALSE(map.Legend().isVisible()) << "by type, the 種類 tab is the legend";
    QRadioButton* byAge = nullptr;
    for (QRadioButton* button : map.Colouring().findChildren<QRadioButton*>()) {
        byAge = button->text() == QStringLiteral("更新日時") ? button : byAge;
        if (button->text() == QStringLiteral("増減")) {
            EXPECT_FALSE(button->isVisible()) << "no comparison, no growth to show";
        }
    }
    ASSERT_NE(byAge, nullptr);
    byAge->click();
    EXPECT_EQ(map.Colouring().Chosen(), MapColouring::Age);
    EXPECT_TRUE(map.Legend().isVisible());
    for (const char* name : {"1 週間以内", "1 か月以内", "1 年以内", "3 年以内", "それより前", "不明"}) {
        EXPECT_TRUE(map.Legend().text().contains(QString::fromUtf8(name))) << name;
        EXPECT_TRUE(map.Legend().accessibleDescription().contains(QString::fromUtf8(name))) << name;
    }
    EXPECT_TRUE(map.View().accessibleDescription().contains(QStringLiteral("黄色 = 1 週間以内"))) << "a reader hears the legend";

    const std::vector<MapItem>& items = map.View().Items();
    auto item = [&](std::string_view name) {
        const auto found = std::find_if(items.begin(), items.end(), [&](const MapItem& it) { return it.name == name; });
        EXPECT_NE(found, items.end()) << name;
        return static_cast<int32_t>(found - items.begin());
    };
    EXPECT_TRUE(map.Describe(item("inner.png"))
                    .contains(QStringLiteral("1 項目  更新日時: ") + QString::fromStdString(LocalTimeText(twoYearsAgo)) + "  "));
    EXPECT_TRUE(map.Describe(item("early.txt")).contains(QString::fromStdString(LocalTimeText(-1))));

    AgeTree& ages = map.AgesTree();
    EXPECT_EQ(ages.accessibleName(), QStringLiteral("更新日時"));
    ASSERT_EQ(ages.headerItem()->text(3), QStringLiteral("割合"));
    EXPECT_EQ(ages.topLevelItem(0)->text(0), QStringLiteral("すべて"));
    EXPECT_EQ(ages.topLevelItem(0)->text(1), QStringLiteral("4"));
    EXPECT_EQ(ages.topLevelItem(1)->text(0), QStringLiteral("直近 12 か月"));
    EXPECT_EQ(ages.topLevelItem(1)->childCount(), 12);
    QStringList years;
    for (int i = 2; i < ages.topLevelItemCount(); ++i)
        years << ages.topLevelItem(i)->text(0);
    const QString thisYear = QString::number(QDate::currentDate().year());
    const QString yearOf = QString::fromStdString(LocalTimeText(twoYearsAgo)).left(4);
    EXPECT_EQ(years, (QStringList{QStringLiteral("2100 年"), thisYear + QStringLiteral(" 年"), yearOf + QStringLiteral(" 年"),
                                  QString::fromStdString(LocalTimeText(-1)).left(4) + QStringLiteral(" 年")}));

    // The blue of the map's yellow, where the file lies, tells whether it is faded towards the light grey.
    auto blueAt = [&](std::string_view name) {
        return qBlue(map.View().grab().toImage().pixel(map.View().PixelRect(item(name)).center()));
    };
    EXPECT_LT(blueAt("big.mov"), 100) << "changed now: yellow";
    ages.setCurrentItem(ages.topLevelItem(static_cast<int>(years.indexOf(yearOf + QStringLiteral(" 年"))) + 2));
    EXPECT_GT(blueAt("big.mov"), 120) << "not of the year chosen: faded";
    EXPECT_LT(qGray(map.View().grab().toImage().pixel(map.View().PixelRect(item("inner.png")).center())), 150)
        << "of the year chosen: in its colour";
    ages.setCurrentItem(ages.topLevelItem(0));
    EXPECT_LT(blueAt("big.mov"), 100) << "すべて shows every file again";

    LargeFilesList& old = map.OldFilesList();
    EXPECT_EQ(old.accessibleName(), QStringLiteral("古くて大きいファイル"));
    ASSERT_EQ(old.rowCount(), 2) << "inner.png and early.txt, changed a year or more ago";
    EXPECT_EQ(old.item(0, 2)->text(), QString::fromStdString(tree.Path("sub/inner.png")));
    EXPECT_EQ(old.item(0, 1)->text(), QString::fromStdString(LocalTimeText(twoYearsAgo)));
    EXPECT_EQ(old.item(1, 2)->text(), QString::fromStdString(tree.Path("early.txt")));
    auto* limit = map.findChild<QComboBox*>();
    ASSERT_NE(limit, nullptr);
    limit->setCurrentIndex(limit->findText(QStringLiteral("3 年以上変更なし")));
    EXPECT_EQ(old.rowCount(), 1) << "only the file of 1969 is three years old";
}

TEST_F(MapWindowTest, TheTypesArrowPointsAsTheTablesDoes)
{
    Search(tree.Root());
    MapWindow& map = OpenMap();
    QHeaderView& header = *map.TypesTree().header();
    ASSERT_EQ(header.sortIndicatorOrder(), Qt::DescendingOrder);
    for (const bool descending : {true, false}) {
        QImage drawn(40, 40, QImage::Format_RGB32);
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        QStyleOptionHeader option;
        option.rect = drawn.rect();
        option.palette.setColor(QPalette::ButtonText, Qt::black);
        option.sortIndicator = descending ? QStyleOptionHeader::SortUp : QStyleOptionHeader::SortDown;
        header.style()->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &painter, &header);
        painter.end();
        auto widthAt = [&](int y) {
            int dark = 0;
            for (int x = 0; x < drawn.width(); ++x)
                dark += qGray(drawn.pixel(x, y)) < 128;
            return dark;
        };
        int top = 0, bottom = drawn.height() - 1;
        while (top < bottom && widthAt(top) == 0)
            ++top;
        while (bottom > top && widthAt(bottom) == 0)
            --bottom;
        ASSERT_LT(top, bottom);
        EXPECT_EQ(widthAt(top + 1) > widthAt(bottom - 1), descending) << (descending ? "▼" : "▲");
    }
}

}  // namespace
}  // namespace murako
