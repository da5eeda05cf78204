#include "map_window.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QProcess>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "dir_list.h"
#include "form1.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "temp_tree.h"
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

}  // namespace
}  // namespace murako
