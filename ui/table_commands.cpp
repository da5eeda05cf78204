#include "table_commands.h"

#include <QAction>
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
#include "search_run.h"

namespace murako {

TableCommands::TableCommands(ResultsGrid& grid, ResultsTable& table, SearchController& controller,
                             const DriveList& drives, std::function<void(const std::string& path)> searchDirectory)
    : QObject(&grid),
      grid_(grid),
      table_(table),
      controller_(controller),
      drives_(drives),
      searchDirectory_(std::move(searchDirectory))
{
    sortByNumber_ = Add(QStringLiteral("№ の順に並べ替え"), {QKeySequence(Qt::CTRL | Qt::Key_1)},
                        [this] { SortBy(SortColumn::Number); });
    sortByName_ = Add(QStringLiteral("名前の順に並べ替え"), {QKeySequence(Qt::CTRL | Qt::Key_2)},
                      [this] { SortBy(SortColumn::Name); });
    sortBySize_ = Add(QStringLiteral("サイズの順に並べ替え"), {QKeySequence(Qt::CTRL | Qt::Key_3)},
                      [this] { SortBy(SortColumn::Size); });
    goDown_ = Add(QStringLiteral("このディレクトリを検索"), {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)},
                  [this] { GoDown(table_.Row()); });
    goUp_ = Add(QStringLiteral("上のディレクトリを検索"), {QKeySequence(Qt::Key_Backspace)}, [this] { GoUp(); });
    copy_ = Add(QStringLiteral("コピー"), QKeySequence::keyBindings(QKeySequence::Copy),
                [this] { Copy(RowsToCopy()); });
    copyAll_ = Add(QStringLiteral("すべてコピー"), {}, [this] { Copy(AllRows()); });
    // Only a shortcut: Ctrl+A and then Ctrl+C copies the whole table, as in every table people know.
    Add(QStringLiteral("すべて選択"), QKeySequence::keyBindings(QKeySequence::SelectAll),
        [this] { grid_.SelectAllRows(); });
    saveCsv_ = Add(QStringLiteral("CSV ファイルに保存..."), {}, [this] { SaveCsv(); });
    for (QAction* sort : {sortByNumber_, sortByName_, sortBySize_})
        sort->setCheckable(true);
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
    const SortColumn sorted = controller_.Order().column;
    sortByNumber_->setChecked(sorted == SortColumn::Number);
    sortByName_->setChecked(sorted == SortColumn::Name);
    sortBySize_->setChecked(sorted == SortColumn::Size);
    goDown_->setEnabled(CanGoDown(table_.Row()));
    goUp_->setEnabled(ParentToSearch().has_value());
    QMenu menu(grid_.window());
    menu.addActions({sortByNumber_, sortByName_, sortBySize_});
    menu.addSeparator();
    menu.addActions({goDown_, goUp_});
    menu.addSeparator();
    menu.addActions({copy_, copyAll_, saveCsv_});
    if (map_) {
        menu.addSeparator();
        menu.addAction(map_);
    }
    menu.exec(at);
    // Their shortcuts work whatever the menu showed; the handlers themselves do nothing out of place.
    goDown_->setEnabled(true);
    goUp_->setEnabled(true);
}

void TableCommands::AddMapCommand(std::function<void()> openMap)
{
    map_ = Add(QStringLiteral("マップ"), {QKeySequence(Qt::CTRL | Qt::Key_M)}, std::move(openMap));
}

void TableCommands::SortBy(SortColumn column)
{
    controller_.SetSortOrder(NextOrder(controller_.Order(), column));
    grid_.ShowSortOrder(controller_.Order());
}

bool TableCommands::CanGoDown(int32_t row) const
{
    return !controller_.Searching() && !controller_.ShownPath().empty() && row >= ResultsTable::FixedRows &&
           row < table_.Rows() && table_.Facts(row).kind == RowKind::Subdirectory;
}

void TableCommands::GoDown(int32_t row)
{
    if (CanGoDown(row))
        searchDirectory_(JoinPath(controller_.ShownPath(), table_.Facts(row).listedName));
}

std::optional<std::string> TableCommands::ParentToSearch() const
{
    if (controller_.Searching())
        return std::nullopt;
    const std::string searched = controller_.SearchedPath();
    const std::optional<std::string> parent = ParentPath(searched);
    // A volume's root has its parent on another volume.
    if (!parent || drives_.IndexOfVolume(PathText(searched)) != drives_.IndexOfVolume(PathText(*parent)))
        return std::nullopt;
    return parent;
}

void TableCommands::GoUp()
{
    if (const std::optional<std::string> parent = ParentToSearch())
        searchDirectory_(*parent);
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
    QApplication::clipboard()->setText(QString::fromStdString(RowsAsText(table_, rows, TextFormat::Tsv)));
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
    if (WriteWholeFile(path, QByteArray::fromStdString(RowsAsText(table_, rows, TextFormat::Csv)), reason))
        lastCsvFolder_ = QFileInfo(path).absolutePath();
    else
        QMessageBox::warning(window, QStringLiteral("Murako"),
                             QStringLiteral("%1 に保存できませんでした。\n%2").arg(path, reason));
}

}  // namespace murako
