#include "form1.h"

#include "print_results_table.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStringList>
#include <QToolTip>
#include <algorithm>
#include <optional>
#include <vector>

#include "compare_command.h"
#include "dir_list.h"
#include "drive_list.h"
#include "japanese.h"
#include "kept_compare.h"
#include "map_window.h"
#include "platform.h"
#include "results_grid.h"
#include "saved_searches.h"
#include "scope_commands.h"
#include "table_commands.h"
#include "twips.h"

namespace murako {
namespace {

constexpr int StatusPanelWidthTwips = 1440;

// Return or Enter on a focused button clicks it, as Space does; a key held down clicks only once.
class ClickOnReturn final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        if (!key->isAutoRepeat())
            static_cast<QPushButton*>(watched)->click();
        return true;
    }
};

// The window orders names as the user's language does, and keeps every search's entries, so that going down
// and up again needs no disk.
SearchController::Options ForTheWindow(SearchController::Options options)
{
    options.nameRanks = CollatedRanks;
    options.keepTree = true;
    return options;
}

// The drive list, and the label a screen reader names it by.
DriveList* NewDriveList(QWidget& window)
{
    auto* drives = new DriveList(&window);
    drives->setObjectName(QStringLiteral("Drive1"));
    drives->setAccessibleName(QStringLiteral("ドライブ"));
    // On Linux a combo box is named by its current entry and labelled through a buddy label; the window
    // has no room for one on the screen, so this one only speaks.
    auto* label = new QLabel(QStringLiteral("ドライブ"), &window);
    label->setObjectName(QStringLiteral("Drive1.Label"));
    label->setBuddy(drives);
    label->hide();
    return drives;
}

}  // namespace

Form1::Form1(std::shared_ptr<FileSystem> fileSystem, SearchController::Options options, QWidget* parent)
    : QWidget(parent),
      controller_(table_, *this, *this, std::move(fileSystem), *this, ForTheWindow(std::move(options)))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Murako検索ツール"));
    setFixedSize(Px(ClientWidthTwips), Px(ClientHeightTwips));
    CreateControls();
    SetTabOrder();
    commands_ = new TableCommands(*Grid1, table_, controller_, *Drive1,
                                  {.searchDirectory = [this](const std::string& path) { SearchDirectory(path); },
                                   .followDirectory = [this](const std::string& path) { FollowDirectory(path); },
                                   .searchShownAgain = [this] { SearchShownAgain(); },
                                   .keptRecounted = [this] { KeepAgeNoteCurrent(); }});
    auto* savedSearches = new SavedSearches(*this, controller_, table_, [this] { KeepAgeNoteCurrent(); });
    compare_ = new CompareCommand(*Grid1, controller_, *savedSearches);
    commands_->AddMenuPart([this](QMenu& menu) { compare_->AddEntries(menu); });
    auto* scope = new ScopeCommands(*Grid1, table_, controller_);
    commands_->AddMenuPart([scope](QMenu& menu) { scope->AddEntries(menu); });
    commands_->AddMapCommand([this] { ShowMap(); });
    commands_->AddSavedSearchCommands(*savedSearches);
    ShowStartDirectory();
    Connect();
    controller_.SetGroupSeparator(QLocale().groupSeparator().toStdString());
    Form_Load();
}

void Form1::CreateControls()
{
    const QFont gridFont = GridFont();
    // Tooltips show the grid's names and numbers; a fallback face for their Japanese words would draw
    // every comma of a byte count a full column wide.
    QToolTip::setFont(gridFont);

    Grid1 = new ResultsGrid(table_, this);
    Grid1->setObjectName(QStringLiteral("Grid1"));
    Grid1->setAccessibleName(QStringLiteral("検索結果"));
    Grid1->setFont(gridFont);
    Place(Grid1, 120, 120, 6615, 4335);

    Command3 = new QPushButton(QStringLiteral("印刷"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Place(Command3, 5520, 5100, 1275, 435);

    Dir1 = new DirList(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setAccessibleName(QStringLiteral("ディレクトリ一覧"));
    Place(Dir1, 1440, 4620, 3975, 2550);

    CreateOptionFrame(Frame2, Option2, QStringLiteral("Frame2"), QStringLiteral("単位"),
                      {QStringLiteral("kb"), QStringLiteral("Mb")}, 5040, 615);
    CreateOptionFrame(Frame1, Option1, QStringLiteral("Frame1"), QStringLiteral("キロ単位"),
                      {QStringLiteral("1024"), QStringLiteral("1000")}, 6180, 735);

    Command2 = new QPushButton(QStringLiteral("終了"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Place(Command2, 5520, 6720, 1275, 435);

    Command1 = new QPushButton(QStringLiteral("検索"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Place(Command1, 5520, 6180, 1275, 435);

    Drive1 = NewDriveList(*this);
    Place(Drive1, 60, 4620, 1275, 300);

    CreateStatusBar(gridFont);

    // Buttons on a plain window are neither default nor cancel buttons unless asked to be.
    for (QPushButton* button : {Command1, Command2, Command3}) {
        button->setAutoDefault(false);
        button->installEventFilter(new ClickOnReturn(button));
    }
}

// The upper button of each group is index 0 and is selected at start.
void Form1::CreateOptionFrame(QGroupBox*& frame, std::array<QRadioButton*, 2>& options, const QString& name,
                              const QString& title, const std::array<QString, 2>& captions, int top, int optionWidth)
{
    frame = new QGroupBox(title, this);
    frame->setObjectName(name);
    Place(frame, 60, top, 1275, 1035);
    for (size_t i = 0; i < options.size(); ++i) {
        options[i] = new QRadioButton(captions[i], frame);
        options[i]->setObjectName(QStringLiteral("Option%1(%2)").arg(name.right(1)).arg(i));
        options[i]->setAccessibleDescription(title);
        Place(options[i], 120, 300 + 300 * static_cast<int>(i), optionWidth, 255);
        // This font's caption may need a little more than the layout's width; the frame has the room.
        options[i]->resize(std::max(options[i]->width(), options[i]->sizeHint().width()), options[i]->height());
    }
    // Only the selected button is a tab stop, so Tab enters the group on it, as on every desktop.
    auto tabStopOnSelected = [options] {
        for (QRadioButton* option : options)
            option->setFocusPolicy(Qt::FocusPolicy(option->isChecked() ? option->focusPolicy() | Qt::TabFocus
                                                                     : option->focusPolicy() & ~Qt::TabFocus));
    };
    for (QRadioButton* option : options)
        connect(option, &QRadioButton::toggled, frame, tabStopOnSelected);
    options[0]->setChecked(true);
}

void Form1::CreateStatusBar(const QFont& font)
{
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setAccessibleName(QStringLiteral("ステータスバー"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFont(font);
    statusPanel_ = new QLabel(StatusBar1);
    statusPanel_->setObjectName(QStringLiteral("StatusBar1.Panels(1)"));
    // Without an accessible name of its own a panel reads as its text and tells a reader when it changes.
    statusPanel_->setAccessibleDescription(QStringLiteral("状態"));
    statusPanel_->setFixedWidth(Px(StatusPanelWidthTwips));
    statusPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar1->addWidget(statusPanel_);
    progressPanel_ = new QLabel(StatusBar1);
    progressPanel_->setObjectName(QStringLiteral("StatusBar1.Panels(2)"));
    progressPanel_->setAccessibleDescription(QStringLiteral("進行状況"));
    progressPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar1->addWidget(progressPanel_, 1);
    Place(StatusBar1, 0, ClientHeightTwips - 360, ClientWidthTwips, 360);
}

void Form1::SetTabOrder()
{
    const std::array<QWidget*, 10> order{Command3,   Drive1,     Command1,   Command2, Option1[0],
                                         Option1[1], Option2[1], Option2[0], Dir1,     Grid1};
    for (size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    Command3->setFocus();
}

void Form1::ShowStartDirectory()
{
    if (!Dir1->SetPath(CurrentDirectoryOn({})))
        Dir1->SetPath(std::string(1, PathSeparator()));
    Drive1->SetVolumes(UserVolumes());
    Drive1->ShowVolumeOf(PathText(Dir1->Path()));
}

void Form1::Connect()
{
    // The status bar tells the age of rows shown from memory for as long as the view shows them.
    controller_.View().Listen([this](unsigned) { KeepAgeNoteCurrent(); });
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        controller_.ShowProgress();
        if (controller_.Searching())
            ReturnFreePages();
        else
            KeepAgeNoteCurrent();
    });

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Drive1, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
    Grid1->headerClicked = [this](int col) { Grid1_HeaderClick(col); };
    Grid1->rowActivated = [this](int32_t row) { Grid1_DblClick(row); };
    Grid1->contextMenuRequested = [this](QPoint at) { Grid1_ContextMenu(at); };
}

Form1::~Form1()
{
    controller_.Shutdown();
    SetBusyPointer(false);
    // The grid watches table_, which is destroyed before QWidget deletes the children.
    delete Grid1;
}

int Form1::Px(int twips) const
{
    return TwipsToPixels(twips, logicalDpiX());
}

void Form1::Place(QWidget* control, int left, int top, int width, int height) const
{
    control->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

void Form1::Form_Load()
{
    InitGrid(table_);
}

void Form1::Command1_Click()
{
    controller_.Command1_Click();
    FollowSearch();
}

void Form1::SearchShownAgain()
{
    controller_.SearchShownAgain();
    if (!controller_.Searching())
        return;
    FollowDirectory(controller_.SearchedPath());
    FollowSearch();
}

void Form1::FollowSearch()
{
    if (controller_.Searching())
        progressTimer_.start(ProgressInterval);
}

void Form1::KeepAgeNoteCurrent()
{
    if (controller_.Searching())
        return;  // the timer tells the entries counted
    if (!controller_.ShowingKept())
        progressTimer_.stop();
    else if (progressTimer_.interval() != AgeNoteInterval || !progressTimer_.isActive())
        progressTimer_.start(AgeNoteInterval);
}

void Form1::Command2_Click()
{
    close();
}

void Form1::Command3_Click()
{
    if (!RowsCompared(table_))
        return PrintResultsTable(this, table_, controller_.Measure());
    // The report is the rows as the search found them, whatever they are compared with on the screen.
    ResultsTable printed = table_.Snapshot();
    DropComparison(printed);
    PrintResultsTable(this, printed, controller_.Measure());
}

void Form1::Drive1_Change()
{
    const QString cwd = PathText(CurrentDirectoryOn(Drive1->RootPath()));
    const QString target = Drive1->IndexOfVolume(cwd) == Drive1->currentIndex() ? cwd : Drive1->RootPath();
    if (Dir1->SetPath(PathBytes(target)))
        return;
    // The drive list stays on the volume, so that the next arrow key moves on past it; the directory list
    // keeps the directory it showed.
    QMessageBox::warning(this, QStringLiteral("Murako"),
                         QStringLiteral("%1 を読み取れません。").arg(Drive1->Drive()));
}

void Form1::Grid1_HeaderClick(int col)
{
    commands_->SortBy(static_cast<SortColumn>(col));
}

void Form1::Grid1_DblClick(int32_t row)
{
    commands_->GoDown(row);
}

void Form1::Grid1_ContextMenu(QPoint at)
{
    commands_->ShowMenu(at);
}

void Form1::ShowMap()
{
    if (!map_)
        map_ = new MapWindow(controller_, table_, [this](const std::string& path) {
            if (controller_.ShowKept(path))
                FollowDirectory(path);
        }, this);
    map_->show();
    map_->raise();
    map_->activateWindow();
}

void Form1::FollowDirectory(const std::string& path)
{
    // A directory gone since the search leaves the list where it was; its results are still shown. Results
    // opened from a file leave it alone: their directories are another computer's, or another time's.
    if (!controller_.KeptImported() && Dir1->SetPath(path))
        Drive1->ShowVolumeOf(PathText(Dir1->Path()));
    KeepAgeNoteCurrent();
}

void Form1::SearchDirectory(const std::string& path)
{
    if (!Dir1->SetPath(path)) {
        QMessageBox::warning(this, QStringLiteral("Murako"), QStringLiteral("%1 を開けません。").arg(PathText(path)));
        return;
    }
    Drive1->ShowVolumeOf(PathText(Dir1->Path()));
    Command1_Click();
}

bool Form1::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // Qt draws the focus of buttons and lists only after a Tab; here it shows from the start.
    if (event->type() == QEvent::WindowActivate)
        setAttribute(Qt::WA_KeyboardFocusChange);
    return handled;
}

void Form1::closeEvent(QCloseEvent* event)
{
    // A run still going would write into a window that is gone: cut it off before the window goes.
    controller_.Shutdown();
    SetBusyPointer(false);
    event->accept();
}

}  // namespace murako
