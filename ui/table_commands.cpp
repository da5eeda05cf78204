#include "table_commands.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

#include "drive_list.h"
#include "path_text.h"
#include "platform.h"
#include "results_grid.h"
#include "rows_as_text.h"
#include "save_file.h"
#include "opened_places.h"
#include "saved_searches.h"
#include "search_run.h"

namespace murako {

TableCommands::TableCommands(ResultsGrid& grid, ResultsTable& table, SearchController& controller,
                             const DriveList& drives, WindowMoves moves)
    : QObject(&grid),
      grid_(grid),
      table_(table),
      controller_(controller),
      drives_(drives),
      moves_(std::move(moves)),
      actions_(*grid.window(), controller)
{
    AddSortCommands();
    goDown_ = Add(QStringLiteral("このディレクトリを検索"), {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)},
                  [this] { GoDown(table_.Row()); });
    goUp_ = Add(QStringLiteral("上のディレクトリを検索"), {QKeySequence(Qt::Key_Backspace)}, [this] { GoUp(); });
    searchAgain_ = Add(QStringLiteral("再検索"), {QKeySequence(Qt::Key_F5)}, [this] {
        if (!CanSearchShownAgain())
            return;
        // Results opened from a file are brought up to date by a search of this computer's directory.
        if (controller_.KeptImported())
            moves_.searchDirectory(controller_.ShownPath());
        else
            moves_.searchShownAgain();
    });
    // Whichever control has the focus, F5 brings the results shown up to date.
    searchAgain_->setShortcutContext(Qt::WindowShortcut);
    copy_ = Add(QStringLiteral("コピー"), QKeySequence::keyBindings(QKeySequence::Copy),
                [this] { Copy(RowsToCopy()); });
    copyAll_ = Add(QStringLiteral("すべてコピー"), {}, [this] { Copy(AllRows()); });
    // Only a shortcut: Ctrl+A and then Ctrl+C copies the whole table, as in every table people know.
    Add(QStringLiteral("すべて選択"), QKeySequence::keyBindings(QKeySequence::SelectAll),
        [this] { grid_.SelectAllRows(); });
    saveCsv_ = Add(QStringLiteral("CSV ファイルに保存..."), {}, [this] { SaveCsv(); });
    openFolder_ = Add(QStringLiteral("フォルダーを開く"), {}, [this] {
        if (const std::optional<std::string> path = RowPath(table_.Row()); path && actions_.CanOpenFolder(*path))
            actions_.OpenFolder(*path);
    });
    copyPath_ = Add(QStringLiteral("パスをコピー"), {}, [this] {
        if (const std::optional<std::string> path = RowPath(table_.Row()))
            actions_.CopyPath(*path);
    });
    moveToTrash_ = Add(QStringLiteral("ごみ箱に移動..."), {QKeySequence(Qt::Key_Delete)}, [this] {
        const int32_t row = table_.Row();
        const std::optional<std::string> path = RowPath(row);
        if (path && table_.Facts(row).kind == RowKind::Total)
            actions_.ExplainTotal(*path);
        else if (path && actions_.CanMove(RowPlace(row)))
            actions_.MoveToTrash(RowPlace(row), *path);
    });
    AddMeasureChoice();
}

// Ctrl+1 to Ctrl+3 for the table's columns, and on for the optional ones, which order the rows only while shown.
void TableCommands::AddSortCommands()
{
    auto addSort = [this](const QString& header, SortColumn column) {
        const auto key = static_cast<Qt::Key>(Qt::Key_1 + static_cast<int>(column));
        const QString text = header + QStringLiteral("の順に並べ替え");
        QAction* sort = Add(text, {QKeySequence(Qt::CTRL | key)}, [this, column] {
            if (grid_.ColumnOf(column) >= 0)
                SortBy(column);
        });
        sort->setCheckable(true);
        return sort;
    };
    sortByNumber_ = addSort(QStringLiteral("№ "), SortColumn::Number);
    sortByName_ = addSort(QStringLiteral("名前"), SortColumn::Name);
    sortBySize_ = addSort(QStringLiteral("サイズ"), SortColumn::Size);
    for (const OptionalColumn& optional : kOptionalColumns) {
        const SortColumn column = optional.column;
        OptionalColumnCommands commands{column, addSort(QString::fromUtf8(optional.header), column), nullptr};
        if (optional.shown == ColumnShown::WhenChosen) {
            commands.show = new QAction(QString::fromUtf8(optional.header) + QStringLiteral("の列を表示"), this);
            commands.show->setCheckable(true);
            connect(commands.show, &QAction::triggered, this,
                    [this, column](bool shown) { ShowColumn(column, shown); });
        }
        optionalColumns_.push_back(commands);
    }
}

void TableCommands::ShowColumn(SortColumn column, bool shown)
{
    grid_.ChooseColumn(column, shown);
    // Rows ordered by a column no longer shown would seem in no order at all: they go back to the listing's.
    if (!shown && controller_.Order().column == column)
        controller_.SetSortOrder(SortOrder{});
    grid_.ShowSortOrder(controller_.Order());
}

// Two exclusive entries, checked as the controller counts.
void TableCommands::AddMeasureChoice()
{
    auto* choice = new QActionGroup(this);
    auto add = [&](const QString& text, SizeMeasure measure) {
        auto* action = new QAction(text, choice);
        action->setCheckable(true);
        action->setChecked(controller_.Measure() == measure);
        connect(action, &QAction::triggered, this, [this, measure] { ChooseMeasure(measure); });
        return action;
    };
    measureLength_ = add(QStringLiteral("ファイルの長さ"), SizeMeasure::Length);
    measureOnDisk_ = add(QStringLiteral("ディスク上のサイズ"), SizeMeasure::OnDisk);
}

// A shortcut of the grid alone, and an entry of its context menu.
QAction* TableCommands::Add(const QString& text, const QList<QKeySequence>& keys, std::function<void()> run)
{
    auto* action = new QAction(text, &grid_);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    grid_.addAction(action);
    connect(action, &QAction::triggered, this, std::move(run));
    return action;
}

void TableCommands::ShowMenu(QPoint at)
{
    goDown_->setEnabled(CanGoDown(table_.Row()));
    goUp_->setEnabled(ParentToGoUpTo().has_value());
    searchAgain_->setEnabled(CanSearchShownAgain());
    measureLength_->setChecked(controller_.Measure() == SizeMeasure::Length);
    measureOnDisk_->setChecked(controller_.Measure() == SizeMeasure::OnDisk);
    QMenu menu(grid_.window());
    AddColumnEntries(menu);
    menu.addSeparator();
    menu.addActions({goDown_, goUp_, searchAgain_});
    menu.addSeparator();
    QMenu* measure = menu.addMenu(QStringLiteral("サイズの数え方"));
    measure->addActions({measureLength_, measureOnDisk_});
    // A search counts as it started; the choice waits until it ends.
    measure->setEnabled(!controller_.Searching());
    menu.addSeparator();
    menu.addActions({copy_, copyAll_, saveCsv_});
    menu.addSeparator();
    const int32_t row = table_.Row();
    const std::optional<std::string> rowPath = RowPath(row);
    openFolder_->setEnabled(rowPath && actions_.CanOpenFolder(*rowPath));
    copyPath_->setEnabled(rowPath.has_value());
    moveToTrash_->setEnabled(rowPath && actions_.CanMove(RowPlace(row)));
    menu.addActions({openFolder_, copyPath_, moveToTrash_});
    if (saved_) {
        saveSearch_->setEnabled(saved_->CanSave());
        openSearch_->setEnabled(!controller_.Searching() && !saved_->Reading());
        menu.addSeparator();
        menu.addActions({saveSearch_, openSearch_});
    }
    for (const auto& add : menuParts_) {
        menu.addSeparator();
        add(menu);
    }
    if (map_) {
        menu.addSeparator();
        menu.addAction(map_);
    }
    menu.exec(at);
    // Their shortcuts work whatever the menu showed; the handlers themselves do nothing out of place.
    for (QAction* action : {goDown_, goUp_, searchAgain_, openFolder_, copyPath_, moveToTrash_})
        action->setEnabled(true);
    if (saved_) {
        saveSearch_->setEnabled(true);
        openSearch_->setEnabled(true);
    }
}

// The orders, the optional columns' only while they are shown, the one the rows are in checked; then the
// columns the user may show or hide.
void TableCommands::AddColumnEntries(QMenu& menu)
{
    const SortColumn sorted = controller_.Order().column;
    sortByNumber_->setChecked(sorted == SortColumn::Number);
    sortByName_->setChecked(sorted == SortColumn::Name);
    sortBySize_->setChecked(sorted == SortColumn::Size);
    menu.addActions({sortByNumber_, sortByName_, sortBySize_});
    for (const OptionalColumnCommands& optional : optionalColumns_) {
        optional.sort->setChecked(sorted == optional.column);
        if (grid_.ColumnOf(optional.column) >= 0)
            menu.addAction(optional.sort);
    }
    menu.addSeparator();
    for (const OptionalColumnCommands& optional : optionalColumns_)
        if (optional.show) {
            optional.show->setChecked(grid_.ColumnChosen(optional.column));
            menu.addAction(optional.show);
        }
}

void TableCommands::AddMapCommand(std::function<void()> openMap)
{
    map_ = Add(QStringLiteral("マップ"), {QKeySequence(Qt::CTRL | Qt::Key_M)}, std::move(openMap));
}

void TableCommands::AddSavedSearchCommands(SavedSearches& saved)
{
    saved_ = &saved;
    saveSearch_ = Add(QStringLiteral("検索結果を保存..."), {QKeySequence(Qt::CTRL | Qt::Key_S)}, [this] { saved_->Save(); });
    openSearch_ = Add(QStringLiteral("検索結果を開く..."), {QKeySequence(Qt::CTRL | Qt::Key_O)}, [this] { saved_->Open(); });
    for (QAction* action : {saveSearch_, openSearch_})
        action->setShortcutContext(Qt::WindowShortcut);
}

void TableCommands::AddMenuPart(std::function<void(QMenu& menu)> add)
{
    menuParts_.push_back(std::move(add));
}

void TableCommands::SortBy(SortColumn column)
{
    controller_.SetSortOrder(NextOrder(controller_.Order(), column));
    grid_.ShowSortOrder(controller_.Order());
}

std::optional<std::string> TableCommands::RowPath(int32_t row) const
{
    if (controller_.Searching() || controller_.ShownPath().empty() || row < ResultsTable::FixedRows ||
        row >= table_.Rows())
        return std::nullopt;
    const RowFacts& facts = table_.Facts(row);
    if (facts.kind == RowKind::Subdirectory)
        return JoinPath(controller_.ShownPath(), facts.listedName);
    if (facts.kind == RowKind::RootFiles || facts.kind == RowKind::Total)
        return controller_.ShownPath();
    return std::nullopt;
}

KeptPlace TableCommands::RowPlace(int32_t row) const
{
    const KeptTree* kept = controller_.Kept();
    const std::optional<std::string> path = RowPath(row);
    if (!kept || !path || table_.Facts(row).kind != RowKind::Subdirectory || table_.Facts(row).moved)
        return {};
    return {kept->Find(*path, PathSeparator()), std::nullopt};
}

bool TableCommands::CanGoDown(int32_t row) const
{
    return !controller_.Searching() && !controller_.ShownPath().empty() && row >= ResultsTable::FixedRows &&
           row < table_.Rows() && table_.Facts(row).kind == RowKind::Subdirectory;
}

void TableCommands::GoDown(int32_t row)
{
    if (CanGoDown(row))
        GoTo(JoinPath(controller_.ShownPath(), table_.Facts(row).listedName));
}

bool TableCommands::GoTo(const std::string& path)
{
    if (!controller_.ShowKept(path)) {
        moves_.searchDirectory(path);
        return false;
    }
    moves_.followDirectory(path);
    return true;
}

std::string TableCommands::DirectoryToLeave() const
{
    const KeptTree* kept = controller_.Kept();
    const std::string& shown = controller_.ShownPath();
    return kept && !shown.empty() && kept->Find(shown, PathSeparator()) ? shown : controller_.SearchedPath();
}

std::optional<std::string> TableCommands::ParentToGoUpTo() const
{
    if (controller_.Searching())
        return std::nullopt;
    const std::string from = DirectoryToLeave();
    const std::optional<std::string> parent = ParentPath(from);
    if (!parent)
        return std::nullopt;
    if (const KeptTree* kept = controller_.Kept(); kept && kept->Find(*parent, PathSeparator()))
        return parent;
    // Above the top of results opened from a file lies another computer's disk.
    if (controller_.KeptImported())
        return std::nullopt;
    // A volume's root has its parent on another volume.
    if (drives_.IndexOfVolume(PathText(from)) != drives_.IndexOfVolume(PathText(*parent)))
        return std::nullopt;
    return parent;
}

void TableCommands::GoUp()
{
    const std::optional<std::string> parent = ParentToGoUpTo();
    if (!parent)
        return;
    const std::string left = LastPathName(DirectoryToLeave());
    // The row of the directory left becomes current, so that going down again is one key away.
    if (GoTo(*parent))
        MakeCurrent(RowKind::Subdirectory, left);
}

void TableCommands::MakeCurrent(RowKind kind, const std::string& listedName)
{
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        if (const RowFacts& facts = table_.Facts(row); facts.kind == kind && facts.listedName == listedName) {
            table_.SetRow(row);
            return;
        }
}

void TableCommands::ChooseMeasure(SizeMeasure measure)
{
    if (controller_.Searching())
        return;
    // The same rows come back counted another way: the user's place among them stays.
    const int32_t current = table_.Row();
    const bool onRow = current >= ResultsTable::FixedRows && current < table_.Rows();
    const RowFacts facts = onRow ? table_.Facts(current) : RowFacts{};
    controller_.SetMeasure(measure);
    if (onRow)
        MakeCurrent(facts.kind, facts.listedName);
    moves_.keptRecounted();
}

bool TableCommands::CanSearchShownAgain() const
{
    return !controller_.Searching() && !controller_.ShownPath().empty() &&
           (!controller_.KeptImported() ||
            !OpenedPlaceActsHere(*controller_.Kept(), controller_.ShownPath(), PathSeparator()));
}

std::vector<int32_t> TableCommands::AllRows() const
{
    std::vector<int32_t> rows;
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        if (table_.Facts(row).kind != RowKind::NotWritten)
            rows.push_back(row);
    return rows;
}

std::vector<int32_t> TableCommands::RowsToCopy() const
{
    std::vector<int32_t> rows = grid_.SelectedRows();
    if (rows.empty() && table_.Row() >= ResultsTable::FixedRows && table_.Row() < table_.Rows())
        rows.push_back(table_.Row());
    return rows;
}

void TableCommands::Copy(const std::vector<int32_t>& rows)
{
    QApplication::clipboard()->setText(
        QString::fromStdString(RowsAsText(table_, rows, TextFormat::Tsv, grid_.ShownColumns())));
}

void TableCommands::SaveCsv()
{
    std::vector<int32_t> rows = grid_.SelectedRows();
    if (rows.empty())
        rows = AllRows();
    const std::string shown = controller_.ShownPath();
    const QString name = LastPathName(shown).empty() ? QStringLiteral("Murako") : PathText(LastPathName(shown));
    // Beside the last save, else in the folder searched: where the user is working.
    const QString folder = !lastCsvFolder_.isEmpty() ? lastCsvFolder_
                           : !shown.empty()          ? PathText(shown)
                                                     : QDir::homePath();
    QWidget* window = grid_.window();
    const QString path = ChooseCsvPath(window, folder, name);
    if (path.isEmpty())
        return;
    QString reason;
    const std::string text = RowsAsText(table_, rows, TextFormat::Csv, grid_.ShownColumns());
    if (WriteWholeFile(path, QByteArray::fromStdString(text), reason))
        lastCsvFolder_ = QFileInfo(path).absolutePath();
    else
        QMessageBox::warning(window, QStringLiteral("Murako"),
                             QStringLiteral("%1 に保存できませんでした。\n%2").arg(path, reason));
}

}  // namespace murako
