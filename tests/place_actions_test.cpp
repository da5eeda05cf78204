// Moving what a search found to the trash through the real window, in a temporary tree with a trash of its own:
// asked first with キャンセル the default, checked again before the move, links moved and never followed, and
// the totals following without the disk.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "child_process.h"
#include "form1.h"
#include "headless_run.h"
#include "kept_json.h"
#include "kept_rows.h"
#include "place_actions.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "size_units.h"
#include "small_volume.h"
#include "temp_tree.h"
#include "window_driving.h"

namespace murako {
namespace {

using fakes::SmallVolume;
using fakes::TempTree;

// Answers every message box with the button of that text, or with Enter (its default button) where it has
// none, and keeps the boxes' texts.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QString button) : button_(std::move(button))
    {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // Until the box is the active window the key goes to the window's own shortcuts, where Enter
            // searches the current row.
            if (!box || QApplication::activeWindow() != box)
                return;
            if (box != answered_) {
                answered_ = box;
                texts_.push_back(box->text().toStdString());
            }
            for (QAbstractButton* button : box->buttons())
                if (!button_.isEmpty() && button->text() == button_) {
                    button->click();
                    return;
                }
            QTest::keyClick(box, Qt::Key_Return);
        });
        poll_.start(10);
    }
    // The first box's text.
    std::string Text() const { return texts_.empty() ? std::string() : texts_.front(); }
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    QString button_;
    QTimer poll_;
    QPointer<QMessageBox> answered_;
    std::vector<std::string> texts_;
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
        EXPECT_EQ(move.Texts().size(), 1u) << move.Texts().back();
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

    // The directory searched itself is never offered, and Delete on its total row says why.
    EXPECT_FALSE(actions.CanMove({kept.Base()}));
    table.SetRow(table.Rows() - 1);
    {
        BoxAnswerer told({});
        pressDelete();
        EXPECT_EQ(told.Texts(), std::vector<std::string>{"検索したフォルダー自身はごみ箱に移動できません"});
    }
    qputenv("XDG_DATA_HOME", oldData);
}

// What a file holds may be long gone from the disk, or another disk's, and what a search runs on changes under
// it: only a finished search's own results are offered.
TEST(PlaceActions, ResultsOpenedFromAFileOrOfASearchUnderWayAreNeverOfferedForTheTrash)
{
    TempTree tree;
    tree.File("base/a/f", 10);
    fakes::KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(tree.Path("base"));
    QWidget window;
    const auto offered = [&] {
        const KeptTree& kept = *search.Controller().Kept();
        return PlaceActions(window, search.Controller()).CanMove({kept.Find(tree.Path("base/a"), '/'), {}});
    };
    EXPECT_TRUE(offered());
    ASSERT_TRUE(search.Controller().ShowKept(tree.Path("base")));
    search.Controller().SearchShownAgain();
    ASSERT_TRUE(search.Controller().Searching());
    EXPECT_FALSE(offered());
    search.Finish();
    EXPECT_TRUE(offered());

    ASSERT_EQ(SaveKeptJson(*search.Controller().Kept(), tree.Path("saved.json"), "test").reason, Reason::None);
    KeptJsonRead read = OpenKeptJson(tree.Path("saved.json"));
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    search.Controller().ShowImported(std::move(read.tree), "saved.json");
    ASSERT_NE(search.Controller().Kept()->Find(tree.Path("base/a"), '/'), nullptr);
    EXPECT_FALSE(offered());
}

// A name that is no UTF-8 is moved by its bytes: its text, "a" followed by U+FFFD, is also the name of another
// directory beside it, which stays.
TEST(PlaceActions, ANameThatIsNoTextIsMovedItselfNotAnotherOfTheSameText)
{
    TempTree tree;
    const std::string base = tree.Path("base");
    tree.File("base/a\xff/f", 10);
    tree.File("base/a\uFFFD/g", 20);
    tree.Dir("data");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(tree.Path("data")));
    Form1 form(std::make_shared<PosixFileSystem>(), {.threads = 1, .rowWritten = {}});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    fakes::SearchFromTheList(form, base);
    const KeptTree& kept = *form.Controller().Kept();
    PlaceActions actions(form, const_cast<SearchController&>(form.Controller()));
    {
        BoxAnswerer move(QStringLiteral("ごみ箱に移動"));
        actions.MoveToTrash({kept.Find(base + "/a\xff", '/'), {}}, base + "/a\xff");
        EXPECT_EQ(move.Texts().size(), 1u) << move.Texts().back();
    }
    EXPECT_EQ(Listing(base), (std::vector<std::string>{base + "/a\uFFFD/", base + "/a\uFFFD/g"}));
    EXPECT_TRUE(std::filesystem::exists(tree.Path("data/Trash/files/a\xff/f")));
    qputenv("XDG_DATA_HOME", oldData);
}

// The question gives the size the table counts, a file's length or its space on disk; Delete on the total row
// says why nothing is offered there.
TEST(PlaceActions, TheQuestionGivesTheMeasureChosenAndTheTotalRowSaysWhyItStays)
{
    TempTree tree;
    tree.File("base/a/f", 1000);
    tree.File("base/a/g", 10);
    fakes::KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(tree.Path("base"));
    QWidget window;
    PlaceActions actions(window, search.Controller());
    std::vector<std::string> sizes;
    for (const SizeMeasure measure : {SizeMeasure::Length, SizeMeasure::OnDisk}) {
        search.Controller().SetMeasure(measure);
        const KeptTree& kept = *search.Controller().Kept();
        const KeptDirectory* a = kept.Find(tree.Path("base/a"), '/');
        const KeptPlace f = fakes::FilePlace(kept, tree.Path("base/a"), "f");
        const std::string dirSize = SizeText(a->Size(measure), search.Controller().Units());
        const std::string fileSize = SizeText(measure == SizeMeasure::Length ? FileOf(f)->facts->length
                                                                             : FileOf(f)->facts->onDisk,
                                              search.Controller().Units());
        BoxAnswerer cancel(QStringLiteral("キャンセル"));
        actions.MoveToTrash({a, {}}, tree.Path("base/a"));
        actions.MoveToTrash(f, tree.Path("base/a/f"));
        ASSERT_EQ(cancel.Texts().size(), 2u);
        EXPECT_NE(cancel.Texts()[0].find("サイズ: " + dirSize + "\n"), std::string::npos) << cancel.Texts()[0];
        EXPECT_NE(cancel.Texts()[1].find("サイズ: " + fileSize), std::string::npos) << cancel.Texts()[1];
        sizes.push_back(dirSize + " " + fileSize);
    }
    EXPECT_NE(sizes[0], sizes[1]) << "the measures differ here";
    BoxAnswerer told({});
    actions.ExplainTotal(tree.Path("base/a"));
    EXPECT_EQ(told.Texts(), std::vector{MoveRefusalText(MoveRefusal::Shown)});
    EXPECT_TRUE(std::filesystem::exists(tree.Path("base/a/f")));
}

// A move that fails for a reason nothing could check before, here a volume full after the question, says why
// in Japanese and changes nothing.
TEST(PlaceActions, AFailureNothingCheckedSaysWhyInJapaneseAndChangesNothing)
{
    TempTree tree;
    tree.File("volume-base/a/f", 10);
    tree.Dir("data");
    tree.Dir("volume");
    SmallVolume volume(tree.Path("volume"), "size=64k");
    if (!volume.Mounted())
        GTEST_SKIP() << "a small tmpfs needs root and a mount namespace";
    std::filesystem::copy(tree.Path("volume-base"), tree.Path("volume/base"), std::filesystem::copy_options::recursive);
    fakes::KeptSearch search(std::make_shared<PosixFileSystem>(), 1);
    search.Search(tree.Path("volume/base"));
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(tree.Path("data")));
    ASSERT_TRUE(volume.FillLeaving("filler", 0));
    QWidget window;
    PlaceActions actions(window, search.Controller());
    const std::string a = tree.Path("volume/base/a");
    {
        BoxAnswerer move(QStringLiteral("ごみ箱に移動"));
        actions.MoveToTrash({search.Controller().Kept()->Find(a, '/'), {}}, a);
        ASSERT_EQ(move.Texts().size(), 2u) << "asked, then told";
        EXPECT_EQ(move.Texts()[1], a + " をごみ箱に移動できませんでした。ディスクに空きがありません。");
    }
    qputenv("XDG_DATA_HOME", oldData);
    EXPECT_TRUE(std::filesystem::exists(a + "/f"));
    EXPECT_EQ(Listing(tree.Path("volume/.Trash-0")), (std::vector<std::string>{tree.Path("volume/.Trash-0/files/"),
                                                                               tree.Path("volume/.Trash-0/info/")}));
    EXPECT_FALSE(search.Controller().Kept()->Find(a, '/')->flags & KeptDirectory::Moved);
}

// A volume of the test's own where the trash cannot take a directory, and one where it can. The volume holds
// out's "volume"; "data" beside it, on another volume, holds the home trash.
struct TrashCase {
    const char* name;
    const char* volumeOptions;
    bool asNobody;           // permission bits do not stop root
    void (*arrange)(const TempTree& out);
    bool readOnly;
    MoveRefusal expected;  // None: moved into the volume's own trash
};

void PrintTo(const TrashCase& trashCase, std::ostream* out)
{
    *out << trashCase.name;
}

uid_t Nobody()
{
    const passwd* nobody = getpwnam("nobody");
    return nobody ? nobody->pw_uid : 0;
}

void Own(const TempTree& out, const std::string& relative)
{
    ASSERT_EQ(chown(out.Path(relative).c_str(), Nobody(), static_cast<gid_t>(-1)), 0) << relative;
}

// "volume/base" with a directory "a" of one file, as root made it.
void BaseOfRoot(const TempTree& out)
{
    out.File("volume/base/a/f", 1000);
    out.File("volume/base/b/g", 10);
}

void BaseOfNobody(const TempTree& out)
{
    BaseOfRoot(out);
    for (const char* dir : {"volume/base", "volume/base/a", "volume/base/b"})
        Own(out, dir);
}

// A directory moved to another parent writes its own ".." entry.
void OnlyBaseOfNobody(const TempTree& out)
{
    BaseOfRoot(out);
    Own(out, "volume/base");
}

void WithItsOwnTrash(const TempTree& out)
{
    BaseOfRoot(out);
    out.Dir("volume/.Trash-0/files");
    out.Dir("volume/.Trash-0/info");
}

void WithATrashOfRoot(const TempTree& out)
{
    BaseOfNobody(out);
    out.Dir("volume/.Trash-" + std::to_string(Nobody()) + "/files");
    out.Dir("volume/.Trash-" + std::to_string(Nobody()) + "/info");
}

void WithALongName(const TempTree& out)
{
    BaseOfRoot(out);
    ASSERT_EQ(rename(out.Path("volume/base/a").c_str(), out.Path("volume/base/" + std::string(241, 'a')).c_str()), 0);
}

// The tree of the volume with every entry's owner, so that anything made or changed there shows.
std::vector<std::string> Owned(const std::string& root)
{
    std::vector<std::string> names = Listing(root);
    for (std::string& name : names) {
        struct stat status;
        lstat(name.substr(0, name.find_last_not_of("/@") + 1).c_str(), &status);
        name += " " + std::to_string(status.st_uid);
    }
    return names;
}

class TrashFailures : public ::testing::TestWithParam<TrashCase> {};

// In the child: a search of base in the window, then Delete on "a" or its long-named stand-in, answered with
// ごみ箱に移動.
void MoveInTheWindow(const std::string& root, const TrashCase& trashCase)
{
    alarm(60);  // a move that never returns ends the child rather than the suite
    const std::string base = root + "/volume/base";
    const std::string moved = trashCase.arrange == WithALongName ? std::string(241, 'a') : "a";
    Form1 form(std::make_shared<PosixFileSystem>(), {.threads = 1, .rowWritten = {}});
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    fakes::SearchFromTheList(form, base);
    ResultsTable& table = form.Table();
    ASSERT_EQ(table.Rows(), ResultsTable::FixedRows + 4) << "the files of base, a, b and the total";
    const int32_t row = fakes::RowNamed(table, moved);
    const std::optional<int64_t> total = table.Facts(table.Rows() - 1).bytes, bytes = table.Facts(row).bytes;
    ASSERT_TRUE(total && bytes && *bytes > 0);
    table.SetRow(row);
    auto* grid = fakes::FindControl<ResultsGrid>(form, "Grid1");
    grid->setFocus();
    BoxAnswerer answer(QStringLiteral("ごみ箱に移動"));
    QTest::keyClick(grid, Qt::Key_Delete);
    if (trashCase.expected == MoveRefusal::None) {
        ASSERT_EQ(answer.Texts().size(), 1u) << answer.Texts().back();
        EXPECT_NE(answer.Text().find("をごみ箱に移動しますか？"), std::string::npos) << answer.Text();
        EXPECT_TRUE(table.Facts(row).moved);
        EXPECT_EQ(table.Facts(table.Rows() - 1).bytes, *total - *bytes);
        return;
    }
    EXPECT_EQ(answer.Texts(), std::vector{MoveRefusalText(trashCase.expected)}) << "refused before it is asked";
    EXPECT_FALSE(table.Facts(row).moved);
    EXPECT_EQ(table.Facts(row).bytes, bytes);
    EXPECT_EQ(table.Facts(table.Rows() - 1).bytes, total);
}

TEST_P(TrashFailures, ADirectoryTheTrashCannotTakeIsRefusedWithTheReasonAndNothingChanges)
{
    const TrashCase& trashCase = GetParam();
    if (const char* root = fakes::ChildTree()) {
        MoveInTheWindow(root, trashCase);
        return;
    }
    if (geteuid() != 0)
        GTEST_SKIP() << "a volume of the test's own needs root, and its owners and permissions need the user nobody";
    TempTree out;
    ASSERT_EQ(chmod(out.Root().c_str(), 0755), 0);
    for (const char* shared : {"volume", "data", "home"}) {
        out.Dir(shared);
        ASSERT_EQ(chmod(out.Path(shared).c_str(), 0777), 0);
    }
    SmallVolume volume(out.Path("volume"), trashCase.volumeOptions);
    if (!volume.Mounted())
        GTEST_SKIP() << "a small tmpfs needs a mount namespace";
    trashCase.arrange(out);
    if (trashCase.readOnly)
        volume.MakeReadOnly();
    const std::vector<std::string> before = Owned(out.Path("volume"));
    const QByteArray oldData = qgetenv("XDG_DATA_HOME"), oldHome = qgetenv("HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(out.Path("data")));
    qputenv("HOME", QByteArray::fromStdString(out.Path("home")));
    const bool ran = fakes::PassesInChild({.tree = out.Root(), .asNobody = trashCase.asNobody});
    qputenv("XDG_DATA_HOME", oldData);
    qputenv("HOME", oldHome);
    if (!ran)
        GTEST_SKIP() << "the user nobody cannot run this test here";
    const std::string trash = "/.Trash-" + std::to_string(trashCase.asNobody ? Nobody() : 0);
    if (trashCase.expected == MoveRefusal::None) {
        EXPECT_FALSE(std::filesystem::exists(out.Path("volume/base/a")));
        EXPECT_TRUE(std::filesystem::exists(out.Path("volume" + trash + "/files/a/f")));
    } else {
        EXPECT_EQ(Owned(out.Path("volume")), before) << "nothing made, moved or left behind on the volume";
    }
    EXPECT_EQ(Listing(out.Path("data")), std::vector<std::string>{}) << "the home trash, on another volume, unused";
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, TrashFailures,
    ::testing::Values(
        TrashCase{"ReadOnlyWithItsOwnTrash", "size=1m", false, WithItsOwnTrash, true, MoveRefusal::ReadOnly},
        TrashCase{"ParentNotWritable", "size=1m", true, BaseOfRoot, false, MoveRefusal::NoPermission},
        TrashCase{"ItselfNotWritable", "size=1m", true, OnlyBaseOfNobody, false, MoveRefusal::NoPermission},
        TrashCase{"NoTrashCanBeMade", "size=1m,mode=0755", true, BaseOfNobody, false, MoveRefusal::NoTrash},
        TrashCase{"TrashOfAnotherUser", "size=1m", true, WithATrashOfRoot, false, MoveRefusal::NoTrash},
        TrashCase{"NameTooLongForItsNote", "size=1m", false, WithALongName, false, MoveRefusal::NameTooLong},
        TrashCase{"ItsOwnTrashMadeByNobody", "size=1m", true, BaseOfNobody, false, MoveRefusal::None}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace murako
