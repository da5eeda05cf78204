#include "form1.h"

#include "print_results_table.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>
#include <QStorageInfo>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStringList>
#include <QToolTip>
#include <QThreadPool>
#include <QTranslator>
#include <algorithm>
#include <atomic>
#include <numeric>
#include <cerrno>
#include <mutex>
#include <optional>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "dir_list.h"
#include "drive_list.h"
#include "path_text.h"
#include "platform.h"
#include "results_grid.h"
#include "rows_as_text.h"
#include "twips.h"

namespace murako {
namespace {

const QString GridFontFamily = QStringLiteral("ＭＳ Ｐゴシック");
constexpr int GridFontPoints = 9;
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

// The walk frees as much as it allocates, but glibc keeps what is freed, scattered over its heaps: a search
// of / held 20 to 50 MB of free pages in the second half of its run, and each search in a row grew on what
// the last one left. Handing them back takes a few milliseconds, more while walking threads hold the heaps'
// locks, so it runs on a pool thread, one at a time, and the event loop never waits for it.
void ReturnFreePages()
{
#if defined(__GLIBC__)
    static std::atomic<bool> underWay{false};
    if (underWay.exchange(true))
        return;
    QThreadPool::globalInstance()->start([] {
        malloc_trim(0);
        underWay.store(false);
    });
#endif
}

// "ＭＳ Ｐゴシック" does not exist on Linux; without substitutes fontconfig hands back a Latin font.
void RegisterFontSubstitutes()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        QFont::insertSubstitutions(GridFontFamily, {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    });
}

SearchController::Options WithCollation(SearchController::Options options)
{
    options.nameRanks = CollatedRanks;
    return options;
}

// Why a save failed, as the user can act on it; the system's own words where nothing more is known.
QString WhyNotWritten(const QString& path, const QSaveFile& file, qint64 size)
{
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    const QStorageInfo volume(folder.absoluteFilePath());
    if (!folder.isDir())
        return QStringLiteral("保存先のフォルダーがありません。");
    if (volume.isValid() && volume.isReadOnly())
        return QStringLiteral("保存先は読み取り専用です。");
    if (!folder.isWritable() || (target.exists() && !target.isWritable()))
        return QStringLiteral("保存先に書き込む権限がありません。");
    if (volume.isValid() && volume.bytesAvailable() < size)
        return QStringLiteral("ディスクの空きが足りません。");
    return file.errorString();
}

}  // namespace

std::vector<int32_t> CollatedRanks(const std::vector<std::string>& names)
{
    QCollator collator(QLocale(QLocale::Japanese, QLocale::Japan));
    collator.setNumericMode(true);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const std::string& name : names)
        keys.push_back(collator.sortKey(QString::fromStdString(name)));
    std::vector<int32_t> byName(names.size());
    std::iota(byName.begin(), byName.end(), 0);
    std::sort(byName.begin(), byName.end(), [&](int32_t a, int32_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<int32_t> ranks(names.size());
    for (size_t i = 0; i < byName.size(); ++i)
        ranks[byName[i]] = i > 0 && keys[byName[i]].compare(keys[byName[i - 1]]) == 0 ? ranks[byName[i - 1]]
                                                                                   : static_cast<int32_t>(i);
    return ranks;
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    reason = WhyNotWritten(path, file, bytes.size());
    file.cancelWriting();
    return false;
}

QTranslator* LoadQtJapaneseTranslations()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    // Installed last, so asked first; it holds only texts that Qt's own file lacks.
    auto* additions = new QTranslator(translator);
    if (additions->load(QStringLiteral(":/translations/qt_additions_ja.qm")))
        QCoreApplication::installTranslator(additions);
    return translator;
}

void UseJapaneseLocale()
{
    // Qt reads the system's locale from the environment once, at its first use: dates, numbers, and the
    // rest (a byte count's unit) from the messages' category, which LC_ALL would outrank. The C library
    // must not see them: where it has no Japanese locale it would fall back to ASCII for everything, and
    // the window's title would reach the X server garbled.
    const char* const variables[] = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_MESSAGES"};
    std::vector<std::optional<QByteArray>> saved;
    for (const char* variable : variables)
        saved.push_back(qEnvironmentVariableIsSet(variable) ? std::optional(qgetenv(variable)) : std::nullopt);
    qunsetenv("LC_ALL");
    for (const char* category : {"LC_TIME", "LC_NUMERIC", "LC_MESSAGES"})
        qputenv(category, "ja_JP.UTF-8");
    QLocale::system();
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i])
            qputenv(variables[i], *saved[i]);
        else
            qunsetenv(variables[i]);
    }
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
}

QString FitParts(const QString& text, const QString& separator, const QFontMetrics& metrics, int room)
{
    QStringList parts = text.split(separator);
    QString shown = text;
    while (parts.size() > 2 && metrics.horizontalAdvance(shown) > room) {
        parts.removeAt(parts.size() - 2);
        shown = parts.join(separator);
    }
    return shown;
}

Form1::Form1(std::shared_ptr<FileSystem> fileSystem, SearchController::Options options, QWidget* parent)
    : QWidget(parent),
      controller_(table_, *this, *this, std::move(fileSystem), *this, WithCollation(std::move(options)))
{
    RegisterFontSubstitutes();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Murako検索ツール"));
    setFixedSize(Px(ClientWidthTwips), Px(ClientHeightTwips));
    CreateControls();
    SetTabOrder();
    CreateGridActions();
    ShowStartDirectory();
    Connect();
    controller_.SetGroupSeparator(QLocale().groupSeparator().toStdString());
    Form_Load();
}

void Form1::CreateControls()
{
    const QFont gridFont(GridFontFamily, GridFontPoints);
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

    Drive1 = new DriveList(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setAccessibleName(QStringLiteral("ドライブ"));
    Place(Drive1, 60, 4620, 1275, 300);
    // On Linux a combo box is named by its current entry and labelled through a buddy label; the window
    // has no room for one on the screen, so this one only speaks.
    auto* driveLabel = new QLabel(QStringLiteral("ドライブ"), this);
    driveLabel->setObjectName(QStringLiteral("Drive1.Label"));
    driveLabel->setBuddy(Drive1);
    driveLabel->hide();

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
    progressTimer_.setInterval(ProgressInterval);
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        controller_.ShowProgress();
        ReturnFreePages();
        if (!controller_.Searching())
            progressTimer_.stop();
    });

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Drive1, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
    Grid1->headerClicked = [this](int col) { Grid1_HeaderClick(col); };
    Grid1->rowActivated = [this](int32_t row) { Grid1_DblClick(row); };
    Grid1->contextMenuRequested = [this](QPoint at) { Grid1_ContextMenu(at); };
}

void Form1::CreateGridActions()
{
    // Shortcuts of the grid alone, and the entries of its context menu.
    auto add = [this](const QString& text, const QList<QKeySequence>& keys, std::function<void()> run) {
        auto* action = new QAction(text, Grid1);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        Grid1->addAction(action);
        connect(action, &QAction::triggered, this, std::move(run));
        return action;
    };
    sortByNumber_ = add(QStringLiteral("№ の順に並べ替え"), {QKeySequence(Qt::CTRL | Qt::Key_1)},
                        [this] { SortBy(SortColumn::Number); });
    sortByName_ = add(QStringLiteral("名前の順に並べ替え"), {QKeySequence(Qt::CTRL | Qt::Key_2)},
                      [this] { SortBy(SortColumn::Name); });
    sortBySize_ = add(QStringLiteral("サイズの順に並べ替え"), {QKeySequence(Qt::CTRL | Qt::Key_3)},
                      [this] { SortBy(SortColumn::Size); });
    goDown_ = add(QStringLiteral("このディレクトリを検索"), {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)},
                  [this] { GoDown(table_.Row()); });
    goUp_ = add(QStringLiteral("上のディレクトリを検索"), {QKeySequence(Qt::Key_Backspace)}, [this] { GoUp(); });
    copy_ = add(QStringLiteral("コピー"), QKeySequence::keyBindings(QKeySequence::Copy), [this] { CopyRows(); });
    saveCsv_ = add(QStringLiteral("CSV ファイルに保存..."), {}, [this] { SaveCsv(); });
    for (QAction* sort : {sortByNumber_, sortByName_, sortBySize_})
        sort->setCheckable(true);
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
    if (controller_.Searching())
        progressTimer_.start();
}

void Form1::Command2_Click()
{
    close();
}

void Form1::Command3_Click()
{
    PrintResultsTable(this, table_);
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
    SortBy(static_cast<SortColumn>(col));
}

void Form1::Grid1_DblClick(int32_t row)
{
    GoDown(row);
}

void Form1::Grid1_ContextMenu(QPoint at)
{
    const SortColumn sorted = controller_.Order().column;
    sortByNumber_->setChecked(sorted == SortColumn::Number);
    sortByName_->setChecked(sorted == SortColumn::Name);
    sortBySize_->setChecked(sorted == SortColumn::Size);
    goDown_->setEnabled(CanGoDown(table_.Row()));
    goUp_->setEnabled(ParentToSearch().has_value());
    QMenu menu(this);
    menu.addActions({sortByNumber_, sortByName_, sortBySize_});
    menu.addSeparator();
    menu.addActions({goDown_, goUp_});
    menu.addSeparator();
    menu.addActions({copy_, saveCsv_});
    menu.exec(at);
    // Their shortcuts work whatever the menu showed; the handlers themselves do nothing out of place.
    goDown_->setEnabled(true);
    goUp_->setEnabled(true);
}

void Form1::SortBy(SortColumn column)
{
    controller_.SetSortOrder(NextOrder(controller_.Order(), column));
    Grid1->ShowSortOrder(controller_.Order());
}

bool Form1::CanGoDown(int32_t row) const
{
    return !controller_.Searching() && !controller_.ShownPath().empty() && row >= ResultsTable::FixedRows &&
           row < table_.Rows() && table_.Facts(row).kind == RowKind::Subdirectory;
}

void Form1::GoDown(int32_t row)
{
    if (CanGoDown(row))
        SearchDirectory(JoinPath(controller_.ShownPath(), table_.Facts(row).listedName));
}

std::optional<std::string> Form1::ParentToSearch() const
{
    if (controller_.Searching())
        return std::nullopt;
    const std::string searched = controller_.SearchedPath();
    const std::optional<std::string> parent = ParentPath(searched);
    // A volume's root has its parent on another volume.
    if (!parent || Drive1->IndexOfVolume(PathText(searched)) != Drive1->IndexOfVolume(PathText(*parent)))
        return std::nullopt;
    return parent;
}

void Form1::GoUp()
{
    if (const std::optional<std::string> parent = ParentToSearch())
        SearchDirectory(*parent);
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

std::vector<int32_t> Form1::RowsToCopy() const
{
    std::vector<int32_t> rows = Grid1->SelectedRows();
    if (!rows.empty())
        return rows;
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        if (table_.Facts(row).kind != RowKind::NotWritten)
            rows.push_back(row);
    return rows;
}

void Form1::CopyRows()
{
    QApplication::clipboard()->setText(QString::fromStdString(RowsAsText(table_, RowsToCopy(), TextFormat::Tsv)));
}

void Form1::SaveCsv()
{
    const std::vector<int32_t> rows = RowsToCopy();
    const std::string shown = LastPathName(controller_.ShownPath());
    const QString name = shown.empty() ? QStringLiteral("Murako") : PathText(shown);
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("CSV ファイルに保存"), QDir::home().filePath(name + QStringLiteral(".csv")),
        QStringLiteral("CSV ファイル (*.csv)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    QString reason;
    if (!WriteWholeFile(path, QByteArray::fromStdString(RowsAsText(table_, rows, TextFormat::Csv)), reason))
        QMessageBox::warning(this, QStringLiteral("Murako"),
                             QStringLiteral("%1 に保存できませんでした。\n%2").arg(path, reason));
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

void Form1::SetSearchCaption(const std::string& caption)
{
    Command1->setText(QString::fromStdString(caption));
}

void Form1::SetExitVisible(bool visible)
{
    Command2->setVisible(visible);
}

void Form1::SetStatusText(const std::string& text)
{
    statusPanel_->setText(QString::fromStdString(text));
}

void Form1::SetBusyPointer(bool busy)
{
    Grid1->SetSearching(busy);
    // Nested runs may ask twice; the application cursor stack must see one set and one restore.
    if (busy == busyPointer_)
        return;
    busyPointer_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void Form1::SetDivisorEnabled(bool enabled)
{
    Frame1->setEnabled(enabled);
}

void Form1::SetUnitEnabled(bool enabled)
{
    Frame2->setEnabled(enabled);
}

void Form1::SetDriveListEnabled(bool enabled)
{
    Drive1->setEnabled(enabled);
}

void Form1::SetDirListEnabled(bool enabled)
{
    Dir1->setEnabled(enabled);
}

void Form1::Refresh()
{
    repaint();
}

void Form1::SetProgressText(const std::string& text)
{
    // The fixed window leaves the panel room for a short summary only; the whole of it is in the tooltip.
    const QString full = QString::fromStdString(text);
    // A framed label indents its text by half an "x"; a whole one leaves a little slack.
    const QFontMetrics metrics = progressPanel_->fontMetrics();
    const int room = progressPanel_->contentsRect().width() - progressPanel_->margin() * 2 -
                     metrics.horizontalAdvance(QLatin1Char('x'));
    const QString shown = FitParts(full, QString::fromUtf8(ProgressSeparator), metrics, room);
    progressPanel_->setText(shown);
    progressPanel_->setToolTip(shown == full ? QString() : full);
}

std::string Form1::HighlightedPath()
{
    return Dir1->List(Dir1->ListIndex());
}

bool Form1::DivisorIs1024()
{
    return Option1[0]->isChecked();
}

bool Form1::UnitIsKb()
{
    return Option2[0]->isChecked();
}

void Form1::PostToUi(std::function<void()> apply)
{
    QMetaObject::invokeMethod(this, std::move(apply), Qt::QueuedConnection);
}

}  // namespace murako
