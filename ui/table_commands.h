#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "results_table.h"
#include "row_order.h"

class QAction;

namespace murako {

class DriveList;
class ResultsGrid;
class SearchController;

// What the results table offers to find what fills a disk: ordering its rows, going down into a row's
// directory and up again, copying rows and saving them as CSV; each a shortcut of the grid and an entry of
// its context menu.
class TableCommands final : public QObject {
public:
    // searchDirectory opens a directory in the directory list and searches it, as a user would by hand.
    TableCommands(ResultsGrid& grid, ResultsTable& table, SearchController& controller, const DriveList& drives,
                  std::function<void(const std::string& path)> searchDirectory);

    // Orders the rows by column, or turns the order round when they are ordered by it already.
    void SortBy(SortColumn column);
    // Searches the row's subdirectory of the directory the table shows.
    void GoDown(int32_t row);
    // Opens the context menu at a point in global coordinates.
    void ShowMenu(QPoint at);
    // Ctrl+M and the menu's last entry open the map.
    void AddMapCommand(std::function<void()> openMap);

private:
    QAction* Add(const QString& text, const QList<QKeySequence>& keys, std::function<void()> run);
    bool CanGoDown(int32_t row) const;
    // The parent of the directory last searched, unless that is a volume's root or a search runs.
    std::optional<std::string> ParentToSearch() const;
    void GoUp();
    // Every written data row: the whole table, the total's row included.
    std::vector<int32_t> AllRows() const;
    // The rows selected with Shift, or else the current row; none while the current cell is in the header.
    std::vector<int32_t> RowsToCopy() const;
    // The header and the rows as tab-separated text on the clipboard.
    void Copy(const std::vector<int32_t>& rows);
    // The rows selected with Shift, or else the whole table, as a CSV file where the user chooses.
    void SaveCsv();

    ResultsGrid& grid_;
    ResultsTable& table_;
    SearchController& controller_;
    const DriveList& drives_;
    std::function<void(const std::string& path)> searchDirectory_;
    QAction* sortByNumber_;
    QAction* sortByName_;
    QAction* sortBySize_;
    QAction* goDown_;
    QAction* goUp_;
    QAction* copy_;
    QAction* copyAll_;
    QAction* saveCsv_;
    QAction* map_ = nullptr;
    QString lastCsvFolder_;  // of the last CSV file saved
};

}  // namespace murako
