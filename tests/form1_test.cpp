#include "form1.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QTimer>
#include <QToolTip>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "dir_list.h"
#include "drive_list.h"
#include "japanese.h"
#include "posix_file_system.h"
#include "results_grid.h"
#include "temp_tree.h"
#include "window_test_support.h"

namespace murako {
namespace {

using fakes::Cells;
using fakes::GatedFileSystem;
using fakes::ListingOrder;
using fakes::ModalAnswerer;
using fakes::TempTree;
using fakes::WaitUntil;
using Rows = std::vector<std::vector<std::string>>;

// The window over a file system, and what every window test asks of it.
class WindowFixture : public ::testing::Test {
protected:
    explicit WindowFixture(std::shared_ptr<FileSystem> fileSystem, SearchController::Options options = {})
        : form(std::move(fileSystem), std::move(options))
    {
    }

    template <typename T>
    T* Control(const char* name)
    {
        return fakes::FindControl<T>(form, name);
    }
    void ClickSearch() { QTest::mouseClick(Control<QPushButton>("Command1"), Qt::LeftButton); }
    bool RunFinished() { return WaitUntil([&] { return !form.Controller().Searching(); }); }

    void ExpectBusy(bool busy)
    {
        EXPECT_EQ(Control<QPushButton>("Command1")->text(), busy ? "取消" : "検索");
        EXPECT_EQ(Control<QPushButton>("Command2")->isVisibleTo(&form), !busy);
        EXPECT_EQ(Control<QLabel>("StatusBar1.Panels(1)")->text(), busy ? "検索中..." : "");
        const QCursor* pointer = QApplication::overrideCursor();
        EXPECT_EQ(pointer != nullptr, busy);
        if (busy && pointer) {
            EXPECT_EQ(pointer->shape(), Qt::WaitCursor);
        }
        for (const char* name : {"Frame1", "Frame2", "Drive1", "Dir1"})
            EXPECT_EQ(Control<QWidget>(name)->isEnabled(), !busy) << name;
        EXPECT_FALSE(Control<QRadioButton>("Option1(1)")->isEnabled() && busy);
        EXPECT_TRUE(Control<QPushButton>("Command3")->isEnabled());
    }

    Form1 form;
};

class WindowTest : public WindowFixture {
protected:
    WindowTest() : WindowFixture(std::make_shared<PosixFileSystem>()) {}

    DirList* Dir1() { return Control<DirList>("Dir1"); }
    DriveList* Drive1() { return Control<DriveList>("Drive1"); }
};

TEST_F(WindowTest, StartsIdleWithTheHeaderOneEmptyRowAndThePrintButtonFocused)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(form.windowTitle(), "Murako検索ツール");
    EXPECT_EQ(Control<QPushButton>("Command3")->text(), "印刷");
    EXPECT_EQ(Control<QPushButton>("Command2")->text(), "終了");
    EXPECT_EQ(Control<QGroupBox>("Frame1")->title(), "キロ単位");
    EXPECT_EQ(Control<QGroupBox>("Frame2")->title(), "単位");
    EXPECT_TRUE(Control<QRadioButton>("Option1(0)")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>("Option1(1)")->isChecked());
    EXPECT_TRUE(Control<QRadioButton>("Option2(0)")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>("Option2(1)")->isChecked());
    EXPECT_EQ(Control<QRadioButton>("Option1(1)")->text(), "1000");
    EXPECT_EQ(Control<QRadioButton>("Option2(1)")->text(), "Mb");
    EXPECT_EQ(Cells(form.Table()), (Rows{{"№", "ディレクトリ", "サイズ"}, {"", "", ""}}));
    ExpectBusy(false);
    EXPECT_EQ(QApplication::focusWidget(), Control<QPushButton>("Command3"));

    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(Dir1()->Path(), cwd);
    EXPECT_EQ(Dir1()->ListIndex(), -1);
    EXPECT_TRUE(Drive1()->Drive().startsWith(Drive1()->RootPath()));
    EXPECT_EQ(Drive1()->IndexOfVolume(QString::fromStdString(cwd)), Drive1()->currentIndex());

    for (QWidget* control : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << control->objectName().toStdString();
    }
}

TEST(WindowStart, ACurrentDirectoryLongerThanPathMaxIsWhereTheListStartsAndWhatASearchMeasures)
{
    TempTree tree;
    const std::string deep = tree.Chain("long", 24, std::string(200, 'd'), 2048);
    ASSERT_GT(deep.size(), size_t{PATH_MAX});
    const int fd = OpenDirectoryByPath(deep);
    ASSERT_GE(fd, 0);
    const int saved = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(fchdir(fd), 0);
    close(fd);
    {
        Form1 form(std::make_shared<PosixFileSystem>());
        EXPECT_EQ(form.findChild<DirList*>("Dir1")->Path(), deep);
        QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !form.Controller().Searching(); }));
        EXPECT_EQ(Cells(form.Table()), (Rows{{"№", "ディレクトリ", "サイズ"},
                                             {"1", "[Root Files]", "2 kb"},
                                             {"2", deep + "/合計", "2 kb"}}));
    }
    EXPECT_EQ(fchdir(saved), 0);
    close(saved);
}

TEST_F(WindowTest, ControlsSitAtTheirTwipsPlacesAndTabInTheirOrder)
{
    ASSERT_EQ(form.logicalDpiX(), 96);
    EXPECT_EQ(form.size(), QSize(458, 512));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const std::vector<std::pair<const char*, QRect>> places = {
        {"Grid1", {8, 8, 441, 289}},          {"Command3", {368, 340, 85, 29}},
        {"Dir1", {96, 308, 265, 170}},         {"Frame2", {4, 336, 85, 69}},
        {"Frame1", {4, 412, 85, 69}},          {"Command2", {368, 448, 85, 29}},
        {"Command1", {368, 412, 85, 29}},      {"Drive1", {4, 308, 85, 20}},
        {"StatusBar1", {0, 488, 458, 24}},
    };
    for (const auto& [name, rect] : places)
        EXPECT_EQ(Control<QWidget>(name)->geometry(), rect) << name;
    // An option button is as wide as the layout says or as its caption needs, inside its frame.
    const std::vector<std::pair<const char*, QRect>> options = {
        {"Option2(0)", {8, 20, 41, 17}}, {"Option2(1)", {8, 40, 41, 17}},
        {"Option1(0)", {8, 20, 49, 17}}, {"Option1(1)", {8, 40, 49, 17}},
    };
    for (const auto& [name, rect] : options) {
        const QWidget* option = Control<QWidget>(name);
        EXPECT_EQ(option->pos(), rect.topLeft()) << name;
        EXPECT_EQ(option->height(), rect.height()) << name;
        EXPECT_EQ(option->width(), std::max(rect.width(), option->sizeHint().width())) << name;
        EXPECT_LE(option->geometry().right(), option->parentWidget()->contentsRect().right()) << name;
    }
    EXPECT_EQ(Control<QLabel>("StatusBar1.Panels(1)")->width(), 96);

    const std::vector<std::string> tabOrder = {"Command3",   "Drive1",     "Command1",   "Command2", "Option1(0)",
                                               "Option1(1)", "Option2(1)", "Option2(0)", "Dir1",     "Grid1"};
    std::vector<std::string> order;
    QWidget* widget = Control<QWidget>("Command3");
    do {
        if (std::count(tabOrder.begin(), tabOrder.end(), widget->objectName().toStdString()))
            order.push_back(widget->objectName().toStdString());
        widget = widget->nextInFocusChain();
    } while (widget != Control<QWidget>("Command3"));
    EXPECT_EQ(order, tabOrder);
}

TEST_F(WindowTest, TabEntersAnOptionGroupOnItsSelectedButtonEitherWay)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto tabFrom = [&](const char* from, Qt::Key key) {
        QWidget* start = Control<QWidget>(from);
        start->setFocus();
        QTest::keyClick(start, key);
        return QApplication::focusWidget()->objectName().toStdString();
    };
    EXPECT_EQ(tabFrom("Command2", Qt::Key_Tab), "Option1(0)");
    EXPECT_EQ(tabFrom("Option1(0)", Qt::Key_Tab), "Option2(0)") << "on kb, not on Mb that comes first";
    EXPECT_EQ(tabFrom("Option2(0)", Qt::Key_Tab), "Dir1");
    EXPECT_EQ(tabFrom("Dir1", Qt::Key_Backtab), "Option2(0)");
    EXPECT_EQ(tabFrom("Option2(0)", Qt::Key_Backtab), "Option1(0)");

    Control<QRadioButton>("Option1(1)")->click();
    Control<QRadioButton>("Option2(1)")->click();
    EXPECT_EQ(tabFrom("Command2", Qt::Key_Tab), "Option1(1)");
    EXPECT_EQ(tabFrom("Option1(1)", Qt::Key_Tab), "Option2(1)");
    EXPECT_EQ(tabFrom("Dir1", Qt::Key_Backtab), "Option2(1)");
}

TEST_F(WindowTest, GridAndStatusBarUseTheJapaneseSubstituteFont)
{
    const QString sample = QStringLiteral("ディレクトリ合計");
    const QFontMetrics substitute(QFont(QStringLiteral("IPAPGothic"), 9));
    for (const char* name : {"Grid1", "StatusBar1"}) {
        const QFontMetrics used(Control<QWidget>(name)->font());
        EXPECT_EQ(used.horizontalAdvance(sample), substitute.horizontalAdvance(sample)) << name;
        EXPECT_EQ(used.height(), substitute.height()) << name;
    }
}

// The text drawn black on white in font.
QImage Drawn(const QString& text, const QFont& font)
{
    QImage image(400, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}

TEST_F(WindowTest, HangulAndEmojiNamesDrawAsGlyphsInBothListsNotAsBoxes)
{
    // Private-use characters draw as the missing-glyph box in every font, three of them as three boxes.
    const QString boxes = QString::fromUcs4(U"\U000F0001\U000F0002\U000F0003");
    for (const char* name : {"Grid1", "Dir1"}) {
        const QFont font = Control<QWidget>(name)->font();
        for (const QString& text : {QStringLiteral("한국어"), QStringLiteral("😀😀😀")})
            EXPECT_NE(Drawn(text, font), Drawn(boxes, font)) << name << ": " << text.toStdString();
    }
}

TEST_F(WindowTest, TooltipsDrawAByteCountsCommasNarrowerThanItsDigits)
{
    // A monospaced fallback face for "バイト" would draw each comma as wide as a digit: "1, 188, 557".
    const QFontMetricsF tip(QToolTip::font());
    const QString plain = QStringLiteral("1188557 バイト");
    const double digit = tip.horizontalAdvance(QStringLiteral("11188557 バイト")) - tip.horizontalAdvance(plain);
    const double twoCommas = tip.horizontalAdvance(QStringLiteral("1,188,557 バイト")) - tip.horizontalAdvance(plain);
    EXPECT_LT(twoCommas, digit);
}

TEST_F(WindowTest, SearchFillsEveryCellInListingOrderThenTheTotal)
{
    TempTree tree;
    tree.File("a.bin", 1000);
    tree.File(".hidden-file", 3000);
    tree.File("sub/one", 5000);
    tree.File("sub/deeper/two", 2048);
    tree.File(".dotdir/x", 10240);
    tree.Dir("2004");
    ASSERT_TRUE(Dir1()->SetPath(tree.Root()));
    Control<QRadioButton>("Option1(1)")->click();

    ClickSearch();
    ASSERT_TRUE(RunFinished());
    // Sizes at 1000: root 4000 -> 4, sub 7048 -> 7, .dotdir 10240 -> 10, 2004 -> 0, total 21288 -> 21.
    const std::map<std::string, std::string> sizes = {{"sub", "7 kb"}, {".dotdir", "10 kb"}, {"2004", "0 kb"}};
    Rows expected = {{"№", "ディレクトリ", "サイズ"}, {"1", "[Root Files]", "4 kb"}};
    for (const std::string& name : ListingOrder(tree.Root()))
        if (sizes.count(name))
            expected.push_back({std::to_string(expected.size()), name, sizes.at(name)});
    expected.push_back({"5", tree.Root() + "/合計", "21 kb"});
    EXPECT_EQ(Cells(form.Table()), expected);
    EXPECT_EQ(form.Table().Row(), 5);
    EXPECT_EQ(form.Table().Col(), 2);
    ExpectBusy(false);
}

TEST_F(WindowTest, DriveChangeMovesTheDirectoryListAndAnUnreadableVolumeIsReported)
{
    TempTree volume;
    volume.Dir("inside");
    const std::string cwd = std::filesystem::current_path().string();
    Drive1()->SetVolumes({{"/", ""}, {QString::fromStdString(volume.Root()), "temp"}, {"/no-such-volume", ""}});
    Drive1()->ShowVolumeOf(QString::fromStdString(Dir1()->Path()));

    Drive1()->setCurrentIndex(1);
    EXPECT_EQ(Dir1()->Path(), volume.Root());
    EXPECT_EQ(Drive1()->Drive(), QString::fromStdString(volume.Root()) + " [temp]");

    Drive1()->setCurrentIndex(0);
    EXPECT_EQ(Dir1()->Path(), cwd) << "the current directory lies on /, so / opens it";

    // The arrow keys move past a volume that cannot be read: one message, and the next press moves on.
    ModalAnswerer answerer;
    Drive1()->SetVolumes({{"/", ""}, {"/no-such-volume", ""}, {QString::fromStdString(volume.Root()), "temp"}});
    Drive1()->ShowVolumeOf(QString::fromStdString(Dir1()->Path()));
    Drive1()->setFocus();
    QTest::keyClick(Drive1(), Qt::Key_Down);
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].title + ": " + answerer.messages[0].text, "Murako: /no-such-volume を読み取れません。");
    EXPECT_EQ(Dir1()->Path(), cwd);
    EXPECT_EQ(Drive1()->currentIndex(), 1);
    QTest::keyClick(Drive1(), Qt::Key_Down);
    EXPECT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(Drive1()->currentIndex(), 2);
    EXPECT_EQ(Dir1()->Path(), volume.Root());
}

// Pixels of after in a colour that before had nowhere at or next to them, by at least a third of the full
// scale in some channel: a mark a person sees at a glance, as a focused button's frame is. A line drawn where
// it merges with a neighbour of the same colour does not count.
int VisiblyNewPixels(const QImage& before, const QImage& after)
{
    if (before.size() != after.size())
        return after.width() * after.height();
    auto far = [](QRgb p, QRgb q) {
        return std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                         std::abs(qBlue(p) - qBlue(q))}) >= 85;
    };
    const QRect inside = after.rect();
    int count = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x) {
            bool seen = false;
            for (int dy = -1; dy <= 1 && !seen; ++dy)
                for (int dx = -1; dx <= 1 && !seen; ++dx)
                    seen = inside.contains(x + dx, y + dy) && !far(before.pixel(x + dx, y + dy), after.pixel(x, y));
            count += !seen;
        }
    return count;
}

TEST_F(WindowTest, VolumesUnderOneLongParentCanBeToldApartClosedOpenAndByTheirTooltips)
{
    const QString parent = QStringLiteral("/media/backup-drives-of-the-sales-department/archive");
    Drive1()->SetVolumes({{"/", "", "/dev/vda", "ext4"},
                          {parent + "/disk-a", "", "/dev/sdb1", "ext4"},
                          {parent + "/disk-b", "写真", "/dev/sdc1", "vfat"}});
    form.show();
    for (int i : {1, 2}) {
        const QSignalBlocker quiet(Drive1());
        Drive1()->setCurrentIndex(i);
        const QString shown = Drive1()->ShownDrive();
        EXPECT_TRUE(shown.contains("…")) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(i == 1 ? "/disk-a" : "b [写真]")) << shown.toStdString();
        EXPECT_LE(Drive1()->fontMetrics().horizontalAdvance(shown), Drive1()->width()) << shown.toStdString();
    }
    EXPECT_EQ(Drive1()->itemData(2, Qt::ToolTipRole).toString().toStdString(),
              (parent + "/disk-b\nデバイス: /dev/sdc1\nファイルシステム: vfat").toStdString());

    // Also in a style whose drop-down list is no wider than the closed one by itself.
    const std::unique_ptr<QStyle> plain(QStyleFactory::create(QStringLiteral("Windows")));
    for (QStyle* style : {Drive1()->style(), plain.get()}) {
        Drive1()->setStyle(style);
        Drive1()->showPopup();
        QAbstractItemView* list = Drive1()->view();
        ASSERT_TRUE(WaitUntil([&] { return list->isVisible(); }));
        for (int i = 0; i < Drive1()->count(); ++i) {
            const QString text = Drive1()->itemText(i);
            EXPECT_GE(list->viewport()->width(), list->fontMetrics().horizontalAdvance(text))
                << style->name().toStdString() << ": " << text.toStdString();
        }
        Drive1()->hidePopup();
    }
    Drive1()->setStyle(nullptr);
}

TEST_F(WindowTest, TheFocusShowsOnEveryControlFromTheStartTheGridsOnItsHeaderCell)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const char* controls[] = {"Command3", "Drive1",     "Command1",   "Command2", "Option1(0)",
                              "Option1(1)", "Option2(1)", "Option2(0)", "Dir1",     "Grid1"};
    QWidget* elsewhere = Control<QWidget>("Command2");
    for (const char* name : controls) {
        QWidget* control = Control<QWidget>(name);
        (control == elsewhere ? Control<QWidget>("Command1") : elsewhere)->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return !control->hasFocus(); }));
        const QImage without = control->grab().toImage();
        control->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return control->hasFocus(); }));
        // At least a short line's worth of pixels, as the dotted frame of a radio button's caption has.
        EXPECT_GE(VisiblyNewPixels(without, control->grab().toImage()), 12) << name;
    }
    EXPECT_EQ(form.Table().Row(), 0) << "before any search the grid's current cell is in the header";
}

TEST_F(WindowTest, QtsOwnDialogsAndStandardButtonsSpeakJapanese)
{
    QTranslator* translator = LoadQtJapaneseTranslations();
    ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
    QMessageBox box(QMessageBox::NoIcon, "Murako", "?", QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "キャンセル");
    QPrintDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "印刷");
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST_F(WindowTest, SingleClickPicksTheDirectoryToMeasureAndDoubleClickOpensIt)
{
    TempTree tree;
    tree.File("alpha/f", 2048);
    tree.File("beta/g", 4096);
    tree.Dir("beta/inner");
    tree.Dir("gone");
    ASSERT_TRUE(Dir1()->SetPath(tree.Root()));
    ASSERT_EQ(Dir1()->ListCount(), 3);
    EXPECT_EQ(Dir1()->List(0), tree.Path("alpha"));
    EXPECT_EQ(Dir1()->List(-2), std::filesystem::path(tree.Root()).parent_path().string());

    DirList* list = Dir1();
    auto rowOf = [&](int index) { return list->EntryRect(index).center(); };
    form.show();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowOf(0));
    EXPECT_EQ(Dir1()->ListIndex(), 0);
    EXPECT_EQ(Dir1()->Path(), tree.Root());
    ClickSearch();
    ASSERT_TRUE(RunFinished());
    EXPECT_EQ(form.Table().TextAt(form.Table().Rows() - 1, 1), tree.Path("alpha") + "/合計");
    EXPECT_EQ(form.Table().TextAt(1, 2), "2 kb");

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowOf(1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowOf(1));
    EXPECT_EQ(Dir1()->Path(), tree.Path("beta"));
    EXPECT_EQ(Dir1()->ListIndex(), -1);
    EXPECT_EQ(Dir1()->ListCount(), 1);
    ClickSearch();
    ASSERT_TRUE(RunFinished());
    EXPECT_EQ(Cells(form.Table()).back(), (std::vector<std::string>{"3", tree.Path("beta") + "/合計", "4 kb"}));

    // Keyboard: up to the parent, Enter opens it; a subdirectory gone since the listing cannot be opened.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(Dir1()->ListIndex(), -2);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(Dir1()->Path(), tree.Root());
    std::filesystem::remove(tree.Path("gone"));
    Dir1()->SetListIndex(2);
    ModalAnswerer answerer;
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].title, "Murako");
    EXPECT_EQ(Dir1()->Path(), tree.Root());
    EXPECT_EQ(Dir1()->ListIndex(), 2);
}

TEST_F(WindowTest, TypingANameFindsItsEntryWhoseTextIsTheBareNameIndentedByItsDepth)
{
    TempTree tree;
    for (const char* name : {"bin", "usr", "var", "ＡＢＣフォルダ", "한국어"})
        tree.Dir(name);
    ASSERT_TRUE(Dir1()->SetPath(tree.Root()));
    QAbstractItemModel* model = Dir1()->model();
    const int open = model->rowCount() - 1 - Dir1()->ListCount();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString text = model->index(row, 0).data().toString();
        EXPECT_FALSE(text.isEmpty() || text.front().isSpace() || text.back().isSpace()) << text.toStdString();
        EXPECT_EQ(model->index(row, 0).data(DirListModel::DepthRole).toInt(), std::min(row, open + 1)) << row;
    }
    EXPECT_EQ(model->index(open + 1 + 4, 0).data().toString(), "ＡＢＣフォルダ");

    form.show();
    Dir1()->setFocus();
    QTest::keyClicks(Dir1(), "usr");
    EXPECT_EQ(Dir1()->List(Dir1()->ListIndex()), tree.Path("usr"));
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    // Typed through an input method: key events that carry text but no key of their own.
    for (const QString& typed : {QStringLiteral("Ａ"), QStringLiteral("Ｂ")}) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
        QApplication::sendEvent(Dir1(), &key);
    }
    EXPECT_EQ(Dir1()->List(Dir1()->ListIndex()), tree.Path("ＡＢＣフォルダ"));
}

TEST_F(WindowTest, ADirectoryEntrysTooltipIsWrappedToTheScreen)
{
    TempTree tree;
    const std::string name(250, 'n');
    tree.Dir(name);
    ASSERT_TRUE(Dir1()->SetPath(tree.Root()));
    form.show();
    const QPoint entry = Dir1()->EntryRect(0).center();
    QHelpEvent help(QEvent::ToolTip, entry, Dir1()->viewport()->mapToGlobal(entry));
    QApplication::sendEvent(Dir1()->viewport(), &help);
    const QStringList lines = QToolTip::text().split('\n');
    EXPECT_GE(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_LT(QFontMetrics(QToolTip::font()).horizontalAdvance(line), form.screen()->availableGeometry().width());
    EXPECT_EQ(QToolTip::text().remove('\n').toStdString(), name);
}

// Runs on one walking thread so that the gates decide exactly where a run stands.
class GatedWindowTest : public WindowFixture {
protected:
    GatedWindowTest() : GatedWindowTest(std::make_shared<GatedFileSystem>(std::make_shared<PosixFileSystem>())) {}

    // Opens both gates and waits until the run has returned and what it posted has been applied.
    void FinishEverything()
    {
        gated->listing.Open();
        gated->walk.Open();
        ASSERT_TRUE(WaitUntil([&] { return gated->Idle() && !form.Controller().Searching(); }));
        QCoreApplication::processEvents();
    }
    void MakeTree()
    {
        tree.File("root.bin", 2048);
        for (const char* name : {"a", "b", "c"})
            tree.File(std::string(name) + "/data", 1024);
        ASSERT_TRUE(Control<DirList>("Dir1")->SetPath(tree.Root()));
    }
    // Starts a search that stops in the walk of the second subdirectory, with the rows before it written.
    void SearchUntilTheSecondSubdirectory()
    {
        MakeTree();
        gated->listing.Open();
        gated->blockedSubdirectory = SubdirectoryOrder()[1];
        ClickSearch();
        ASSERT_TRUE(gated->walk.WaitForWaiter());
        ASSERT_TRUE(WaitUntil([&] { return form.Table().Rows() == 3; }));
    }
    std::vector<std::string> SubdirectoryOrder()
    {
        std::vector<std::string> names = ListingOrder(tree.Root());
        std::erase(names, "root.bin");
        return names;
    }

    TempTree tree;
    std::shared_ptr<GatedFileSystem> gated;

private:
    explicit GatedWindowTest(std::shared_ptr<GatedFileSystem> fileSystem)
        : WindowFixture(fileSystem, {.threads = 1, .rowWritten = {}}), gated(std::move(fileSystem))
    {
    }
};

TEST_F(GatedWindowTest, BusyWhileTheListingWaitsAndCancelRestoresAtOnceKeepingThePreviousTable)
{
    MakeTree();
    form.show();
    FinishEverything();
    ClickSearch();
    FinishEverything();
    const Rows previous = Cells(form.Table());
    ASSERT_EQ(previous.size(), 6u);

    gated->listing.Close();
    ClickSearch();
    ASSERT_TRUE(gated->listing.WaitForWaiter());
    ExpectBusy(true);
    EXPECT_EQ(Cells(form.Table()), previous);

    ClickSearch();
    ExpectBusy(false);
    FinishEverything();
    EXPECT_EQ(Cells(form.Table()), previous);
    ExpectBusy(false);
}

TEST_F(GatedWindowTest, ADoubleClickAfterACancelledListingGoesDownFromTheTableShownNotTheDirectoryLastSearched)
{
    MakeTree();
    form.show();
    FinishEverything();
    ClickSearch();
    FinishEverything();
    ASSERT_EQ(Cells(form.Table()).size(), 6u);

    ASSERT_TRUE(Control<DirList>("Dir1")->SetPath(tree.Path("a")));
    gated->listing.Close();
    ClickSearch();
    ASSERT_TRUE(gated->listing.WaitForWaiter());
    ClickSearch();
    FinishEverything();
    ASSERT_EQ(form.Controller().SearchedPath(), tree.Path("a") + "/");
    ASSERT_EQ(form.Controller().ShownPath(), tree.Root() + "/");

    ModalAnswerer answerer;
    auto* grid = Control<ResultsGrid>("Grid1");
    int32_t row = 1;
    while (row < form.Table().Rows() && form.Table().TextAt(row, 1) != "b")
        ++row;
    ASSERT_LT(row, form.Table().Rows());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(row, 1).center());
    EXPECT_EQ(Control<DirList>("Dir1")->Path(), tree.Path("b"));
    EXPECT_TRUE(answerer.messages.empty());
    FinishEverything();
    EXPECT_EQ(form.Controller().ShownPath(), tree.Path("b") + "/");
}

TEST_F(GatedWindowTest, CancelDuringAWalkLeavesTheRowsSoFarAndTheInterruptedOneWithoutATotal)
{
    SearchUntilTheSecondSubdirectory();
    const std::vector<std::string> order = SubdirectoryOrder();
    ExpectBusy(true);

    ClickSearch();
    ExpectBusy(false);
    FinishEverything();
    // The interrupted row is posted once the walk has let go of its directories, so it may come a little later.
    EXPECT_TRUE(WaitUntil([&] { return form.Table().Rows() == 4; }, 2000));
    EXPECT_EQ(Cells(form.Table()), (Rows{{"№", "ディレクトリ", "サイズ"},
                                         {"1", "[Root Files]", "2 kb"},
                                         {"2", order[0], "1 kb"},
                                         {"3", order[1], "0 kb"}}));
    auto* grid = Control<ResultsGrid>("Grid1");
    EXPECT_TRUE(grid->IsMarked(3)) << "the cut-short row's 0 counts nothing, and it says so";
    EXPECT_FALSE(grid->IsMarked(2));
    EXPECT_EQ(grid->CellToolTip(3, 2).toStdString(), "中断したため、このディレクトリの合計は数えていません");
    EXPECT_TRUE(grid->CellToolTip(2, 2).startsWith("1,024 バイト\n1 項目\n最終更新: 2")) << "no total, no share of it";
    EXPECT_EQ(grid->BarWidth(3), 0) << "nor a bar";
    EXPECT_EQ(grid->BarWidth(1), grid->CellRect(1, 2).width() - 1) << "the largest row so far fills its cell";
    EXPECT_EQ(grid->BarWidth(2), (grid->CellRect(2, 2).width() - 1 + 1) / 2) << "half its bytes, half its width";
}

TEST_F(GatedWindowTest, SearchRightAfterACancelRunsToTheEndAndRestoresThePointerOnce)
{
    MakeTree();
    gated->listing.Close();
    ClickSearch();
    ASSERT_TRUE(gated->listing.WaitForWaiter());
    ClickSearch();
    ClickSearch();
    ExpectBusy(true);

    FinishEverything();
    const Rows cells = Cells(form.Table());
    ASSERT_EQ(cells.size(), 6u);
    EXPECT_EQ(cells.back(), (std::vector<std::string>{"5", tree.Root() + "/合計", "5 kb"}));
    ExpectBusy(false);
}

TEST_F(GatedWindowTest, ClosingDuringARunStopsItsThreadsBeforeTheWindowGoes)
{
    MakeTree();
    form.show();
    gated->listing.Close();
    ClickSearch();
    ASSERT_TRUE(gated->listing.WaitForWaiter());

    // The walk is stuck in the file system; let it go only once the close has cancelled the run.
    std::thread releaser([&] {
        while (form.Controller().Searching())
            std::this_thread::yield();
        gated->listing.Open();
    });
    EXPECT_TRUE(form.close());
    releaser.join();
    EXPECT_TRUE(WaitUntil([&] { return gated->Idle(); }));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(Cells(form.Table()), (Rows{{"№", "ディレクトリ", "サイズ"}, {"", "", ""}}));
}

TEST_F(GatedWindowTest, ClosingDoesNotWaitForAWalkStuckInTheFileSystem)
{
    MakeTree();
    form.show();
    gated->listing.Close();
    ClickSearch();
    ASSERT_TRUE(gated->listing.WaitForWaiter());

    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(gated->listing.HasWaiter()) << "the window closed while the walk was still stuck";

    gated->listing.Open();
    EXPECT_TRUE(WaitUntil([&] { return gated->Idle(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(Cells(form.Table()), (Rows{{"№", "ディレクトリ", "サイズ"}, {"", "", ""}}));
}

TEST_F(GatedWindowTest, PrintDuringARunCancelledInTheDialogSaysSoAndTheRunGoesOn)
{
    SearchUntilTheSecondSubdirectory();

    ModalAnswerer answerer(false);
    QTest::mouseClick(Control<QPushButton>("Command3"), Qt::LeftButton);

    EXPECT_EQ(answerer.printerDialogs, 1);
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].title + ": " + answerer.messages[0].text, "Murako: 印刷を取り消しました");
    ExpectBusy(true);
    FinishEverything();
    EXPECT_EQ(Cells(form.Table()).size(), 6u) << "the search finishes after the print";
}

TEST_F(GatedWindowTest, APrintCancelledAfterTheRunMovedOnLeavesTheCurrentCellWhereTheRunPutIt)
{
    SearchUntilTheSecondSubdirectory();

    ModalAnswerer answerer(false, [&] { FinishEverything(); });
    QTest::mouseClick(Control<QPushButton>("Command3"), Qt::LeftButton);

    ASSERT_EQ(answerer.printerDialogs, 1);
    ASSERT_EQ(Cells(form.Table()).size(), 6u);
    EXPECT_EQ(form.Table().Row(), 5) << "the total's size, as the run left it";
    EXPECT_EQ(form.Table().Col(), 2);
}

TEST_F(GatedWindowTest, PrintDuringARunHoldsTheRowsOfTheMomentOfThePressWhileTheRunGoesOn)
{
    if (QPrinter().outputFormat() != QPrinter::PdfFormat)
        GTEST_SKIP() << "a printer is configured here; this test must not print on it";
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    SearchUntilTheSecondSubdirectory();

    // The run finishes while the printer dialog is open; only then does the user press OK.
    {
        ModalAnswerer answerer(true, [&] { FinishEverything(); });
        QTest::mouseClick(Control<QPushButton>("Command3"), Qt::LeftButton);
        EXPECT_TRUE(answerer.messages.empty());
    }
    qputenv("HOME", savedHome);

    EXPECT_EQ(Cells(form.Table()).size(), 6u) << "the window shows every row";
    // Printing read the cells of the press one by one, ending on the size of their last row.
    EXPECT_EQ(form.Table().Row(), 2);
    EXPECT_EQ(form.Table().Col(), 2);
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {home.filePath(QStringLiteral("Murako.pdf")), QStringLiteral("-")});
    ASSERT_TRUE(pdftotext.waitForFinished(30000));
    const QString report = QString::fromUtf8(pdftotext.readAllStandardOutput());
    // The header, "[Root Files]" and the first subdirectory: two sizes and no total.
    EXPECT_TRUE(report.contains(QStringLiteral("[Root Files]"))) << report.toStdString();
    EXPECT_EQ(report.count(QStringLiteral(" kb")), 2) << report.toStdString();
    EXPECT_FALSE(report.contains(QStringLiteral("/合計")));
}

TEST_F(GatedWindowTest, ReturnOrEnterOnAFocusedButtonClicksItOnceHoweverLongTheKeyIsHeld)
{
    MakeTree();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    gated->listing.Close();
    QPushButton* search = Control<QPushButton>("Command1");
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Return);
    ASSERT_TRUE(gated->listing.WaitForWaiter());
    ExpectBusy(true);
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(search, &held);
    ExpectBusy(true);
    QTest::keyClick(search, Qt::Key_Enter, Qt::KeypadModifier);
    ExpectBusy(false);
    FinishEverything();
}

TEST(SecondPanel, ALongSummaryGivesWayFromTheMiddleAndNeverCutsANumber)
{
    const QFont font(QStringLiteral("ＭＳ Ｐゴシック"), 9);
    const QFontMetrics metrics(font);
    const QString separator = QString::fromUtf8(ProgressSeparator);
    const QString entries = QStringLiteral("1,716,798 個の項目");
    const QString unread = QStringLiteral("読み取れなかったディレクトリ: 277");
    const QString full = QStringList{entries, QStringLiteral("63.4 秒"), unread}.join(separator);
    EXPECT_EQ(FitParts(full, separator, metrics, metrics.horizontalAdvance(full)), full);
    const QString withoutTime = entries + separator + unread;
    EXPECT_EQ(FitParts(full, separator, metrics, metrics.horizontalAdvance(full) - 1), withoutTime);
    EXPECT_EQ(FitParts(full, separator, metrics, 10), withoutTime) << "the first and the last part stay";
    EXPECT_EQ(FitParts(entries, separator, metrics, 10), entries);
}

TEST_F(GatedWindowTest, TheSecondPanelCountsDuringARunAndUnreadRowsAreMarkedAsTheyAppear)
{
    MakeTree();
    form.show();  // the panel's room is laid out
    const std::vector<std::string> order = SubdirectoryOrder();
    gated->listing.Open();
    gated->refusedSubdirectory = order[0];
    gated->blockedSubdirectory = order[2];
    auto* progress = Control<QLabel>("StatusBar1.Panels(2)");
    auto* grid = Control<ResultsGrid>("Grid1");
    ClickSearch();
    ASSERT_TRUE(gated->walk.WaitForWaiter());
    // The base's four names and the data file of the second subdirectory; the refused one lists nothing.
    ASSERT_TRUE(WaitUntil([&] { return progress->text() == "5 個の項目"; })) << progress->text().toStdString();
    EXPECT_EQ(progress->toolTip().toStdString(), "") << "a summary that fits needs no tooltip";
    ASSERT_TRUE(WaitUntil([&] { return form.Table().Rows() == 4; }));
    EXPECT_EQ(Control<QLabel>("StatusBar1.Panels(1)")->text(), "検索中...");
    EXPECT_TRUE(grid->IsMarked(2)) << "marked while the run goes on";
    EXPECT_FALSE(grid->IsMarked(3));
    const std::string unread = "読み取れなかったディレクトリ: 1\n" + tree.Path(order[0]) + " (アクセス権がありません)";
    const QPoint markedRow = grid->CellRect(2, 0).center();
    QHelpEvent help(QEvent::ToolTip, markedRow, grid->viewport()->mapToGlobal(markedRow));
    QApplication::sendEvent(grid->viewport(), &help);
    EXPECT_EQ(QToolTip::text().toStdString(), unread);

    FinishEverything();
    ExpectBusy(false);
    EXPECT_TRUE(std::regex_match(progress->text().toStdString(),
                                 std::regex("6 個の項目　[0-9]+\\.[0-9] 秒　読み取れなかったディレクトリ: 1")))
        << progress->text().toStdString();
    EXPECT_EQ(progress->toolTip().toStdString(), "");
    EXPECT_EQ(Cells(form.Table())[2], (std::vector<std::string>{"2", order[0], "0 kb"})) << "counted 0, as ever";
    EXPECT_EQ(grid->CellToolTip(5, 0).toStdString(), unread) << "the total row sums them";
    if (QPrinter().outputFormat() == QPrinter::PdfFormat) {
        // The printed report says so too, once.
        QTemporaryDir home;
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        {
            ModalAnswerer answerer;
            QTest::mouseClick(Control<QPushButton>("Command3"), Qt::LeftButton);
        }
        qputenv("HOME", savedHome);
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {home.filePath(QStringLiteral("Murako.pdf")), QStringLiteral("-")});
        ASSERT_TRUE(pdftotext.waitForFinished(30000));
        const QString report = QString::fromUtf8(pdftotext.readAllStandardOutput());
        EXPECT_EQ(report.count(QStringLiteral("読み取れなかったディレクトリ: 1")), 1) << report.toStdString();
    }

    gated->refusedSubdirectory.clear();
    gated->blockedSubdirectory.clear();
    ClickSearch();
    FinishEverything();
    EXPECT_FALSE(grid->IsMarked(2) || grid->IsMarked(5)) << "a row written again without unread places loses its mark";
    EXPECT_TRUE(std::regex_match(progress->text().toStdString(), std::regex("7 個の項目　[0-9]+\\.[0-9] 秒")));
}

TEST_F(GatedWindowTest, ExitButtonClosesTheWindow)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(Control<QPushButton>("Command2"), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace murako

namespace murako {
namespace {

// While a search runs, its rows come in listing order and the order chosen waits, its arrow greyed; when the
// search ends the rows take it and the view shows their top.
TEST_F(GatedWindowTest, AnOrderChosenDuringASearchWaitsGreyedAndTheRowsTakeItWhenTheSearchEnds)
{
    auto* grid = Control<ResultsGrid>("Grid1");
    SearchUntilTheSecondSubdirectory();
    EXPECT_FALSE(grid->OrderWaits()) << "the listing order is the one the rows follow";
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, 2).center());
    EXPECT_TRUE(grid->OrderWaits());
    EXPECT_EQ(grid->CellNotes(0, 2), "降順に並べ替え（検索の終了後）");
    EXPECT_EQ(Cells(form.Table())[1][1], "[Root Files]") << "the rows so far stay in listing order";

    FinishEverything();
    EXPECT_FALSE(grid->OrderWaits());
    EXPECT_EQ(grid->CellNotes(0, 2), "降順に並べ替え");
    EXPECT_EQ(Cells(form.Table())[1][1], "[Root Files]") << "2 kb, the largest";
    EXPECT_EQ(form.Table().Row(), 1) << "the top of the table is current";
}

}  // namespace
}  // namespace murako
