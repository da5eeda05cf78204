// Moving what a search found to the trash through the real window, in a temporary tree with a trash of its own:
// asked first with キャンセル the default, checked again before the move, links moved and never followed, and
// the totals following without the disk.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "form1.h"
#include "headless_run.h"
#include "place_actions.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "temp_tree.h"
#include "window_driving.h"

namespace murako {
namespace {

using fakes::TempTree;

// Answers the next message box with the button of that text, or with Enter (its default button) when empty,
// and keeps the box's text.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QString button) : button_(std::move(button))
    {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll_.stop();
            text_ = box->text().toStdString();
            for (QAbstractButton* button : box->buttons())
                if (!button_.isEmpty() && button->text() == button_) {
                    button->click();
                    return;
                }
            QTest::keyClick(box, Qt::Key_Return);
        });
        poll_.start(10);
    }
    const std::string& Text() const { return text_; }

private:
    QString button_;
    QTimer poll_;
    std::string text_;
};

// Every name below root, with its kind, so that anything touched outside the tree searched shows.
std::vector<std::string> Listing(const std::string& root)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        names.push_back(entry.path().string() + (entry.is_symlink() ? "@" : entry.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PlaceActions, AMoveIsAskedCheckedAndFollowedByEveryTotalAbove)
{
    TempTree tree;
    const std::string base = tree.Path("base");
    tree.File("base/a/f", 1000);
    tree.File("base/a/deeper/g", 500);
    tree.File("base/b/h", 2000);
    tree.File("decoy/x", 7);
    ASSERT_EQ(symlink(tree.Path("decoy").c_str(), tree.Path("base/b/to-decoy").c_str()), 0);
    tree.Dir("data");
    // The trash lives in the temporary tree, on the same file system as what is moved.
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(tree.Path("data")));
    const std::vector<std::string> decoy = Listing(tree.Path("decoy"));

    auto fileSystem = std::make_shared<PosixFileSystem>();
    Form1 form(fileSystem, {.threads = 1, .rowWritten = {}});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    fakes::SearchFromTheList(form, base);
    ResultsTable& table = form.Table();
    auto* grid = fakes::FindControl<ResultsGrid>(form, "Grid1");
    // A message box closed leaves the focus where it was before only once the window is active again.
    const auto pressDelete = [&] {
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Delete);
    };

    // The default button keeps everything.
    table.SetRow(fakes::RowNamed(table, "a"));
    {
        BoxAnswerer enter({});
        pressDelete();
        EXPECT_NE(enter.Text().find("/base/a をごみ箱に移動しますか？"), std::string::npos) << enter.Text();
        EXPECT_NE(enter.Text().find("ファイル: 2、ディレクトリ: 1"), std::string::npos) << enter.Text();
    }
    EXPECT_TRUE(std::filesystem::exists(tree.Path("base/a/f")));

    // Replaced after the search: refused, and said why.
    ASSERT_EQ(rename(tree.Path("base/a").c_str(), tree.Path("a-old").c_str()), 0);
    tree.File("base/a/f", 1);
    {
        BoxAnswerer refused({});
        pressDelete();
        EXPECT_EQ(refused.Text(), MoveRefusalText(MoveRefusal::Changed));
    }
    std::filesystem::remove_all(tree.Path("base/a"));
    ASSERT_EQ(rename(tree.Path("a-old").c_str(), tree.Path("base/a").c_str()), 0);

    // Moved: the row stays at 0, the total loses it, and a fresh search agrees.
    {
        BoxAnswerer move(QStringLiteral("ごみ箱に移動"));
        pressDelete();
    }
    EXPECT_FALSE(std::filesystem::exists(tree.Path("base/a")));
    EXPECT_TRUE(std::filesystem::exists(tree.Path("data/Trash/files/a/deeper/g")));
    const int32_t moved = fakes::RowNamed(table, "a");
    EXPECT_TRUE(table.Facts(moved).moved);
    EXPECT_EQ(table.Facts(moved).bytes, 0);
    EXPECT_NE(QString(grid->CellNotes(moved, 1)).indexOf(QStringLiteral("ごみ箱に移動しました")), -1);
    ResultsTable fresh;
    InitGrid(fresh);
    SearchWithoutWindow(fresh, fileSystem, base, {});
    EXPECT_EQ(table.Facts(table.Rows() - 1).bytes, fresh.Facts(fresh.Rows() - 1).bytes);

    // A link among b's files moves itself, never what it leads to.
    const KeptTree& kept = *form.Controller().Kept();
    KeptPlace link{kept.Find(tree.Path("base/b"), '/')};
    uint32_t index = 0;
    ForEachFile(*link.dir, [&](const KeptFile& file) {
        if (file.name == "to-decoy")
            link.file = index;
        ++index;
    });
    ASSERT_TRUE(link.file);
    PlaceActions actions(form, const_cast<SearchController&>(form.Controller()));
    {
        BoxAnswerer move(QStringLiteral("ごみ箱に移動"));
        actions.MoveToTrash(link, tree.Path("base/b/to-decoy"));
    }
    EXPECT_FALSE(std::filesystem::is_symlink(tree.Path("base/b/to-decoy")));
    EXPECT_TRUE(std::filesystem::is_symlink(tree.Path("data/Trash/files/to-decoy")));
    EXPECT_EQ(Listing(tree.Path("decoy")), decoy) << "nothing outside the search is touched";

    // The directory searched itself is never offered.
    EXPECT_FALSE(actions.CanMove({kept.Base()}));
    qputenv("XDG_DATA_HOME", oldData);
}

}  // namespace
}  // namespace murako
