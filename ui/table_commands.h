#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "results_table.h"
#include "kept_tree.h"
#include "place_actions.h"
#include "row_order.h"

class QAction;
class QMenu;

namespace murako {

class DriveList;
class ResultsGrid;
class SavedSearches;
class SearchController;

// What moving to another directory asks of the window around the table.
struct WindowMoves {
    // Opens a directory in the directory list and searches it, as a user would by hand.
    std::function<void(const std::string& path)> searchDirectory;
    // Opens a directory in the directory list without searching it, as its kept results are shown.
    std::function<void(const std::string& path)> followDirectory;
    // Searches the directory shown again, the window following the search as it runs.
    std::function<void()> searchShownAgain;
    // Told when the rows shown were counted again from the kept results, whose age the window then tells.
    std::function<void()> keptRecounted;
};

// What the results table offers to find what fills a disk: ordering its rows, going down into a row's
// directory and up again (from the last search's results while they reach, else by searching), searching
// the directory shown again, choosing what a size counts, copying rows and saving them as CSV; each a
// shortcut of the grid and an entry of its context menu.
class TableCommands final : public QObject {
public:
    TableCommands(ResultsGrid& grid, ResultsTable& table, SearchController& controller, const DriveList& drives,
                  WindowMoves moves);

    // Orders the rows by column, or turns the order round when they are ordered by it already.
    void SortBy(SortColumn column);
    // Shows the row's subdirectory of the directory the table shows.
    void GoDown(int32_t row);
    // Opens the context menu at a point in global coordinates.
    void ShowMenu(QPoint at);
    // Ctrl+M and the menu's last entry open the map.
    void AddMapCommand(std::function<void()> openMap);
    // Ctrl+S saves the search's results to a file, Ctrl+O opens such a file; from anywhere in the window.
    void AddSavedSearchCommands(SavedSearches& saved);
    // A part of the menu of its own before the map's, its entries added by add as the menu opens.
    void AddMenuPart(std::function<void(QMenu& menu)> add);

private:
    QAction* Add(const QString& text, const QList<QKeySequence>& keys, std::function<void()> run);
    void AddSortCommands();
    void AddMeasureChoice();
    // Shows or hides an optional column the user may choose.
    void ShowColumn(SortColumn column, bool shown);
    void AddColumnEntries(QMenu& menu);
    bool CanGoDown(int32_t row) const;
    // The directory above the one shown, unless a search runs or it lies above a volume's root outside the
    // last search's results; before any search is shown, the one above the directory last searched.
    std::optional<std::string> ParentToGoUpTo() const;
    // The directory going up leaves: the one shown while the last search's results hold it, else the one last
    // searched.
    std::string DirectoryToLeave() const;
    void GoUp();
    // Shows path from the last search's results where they reach it, else searches it; true when shown so.
    bool GoTo(const std::string& path);
    // Makes the row of that kind and name current, if there is one.
    void MakeCurrent(RowKind kind, const std::string& listedName);
    void ChooseMeasure(SizeMeasure measure);
    // The directory a data row stands for: a subdirectory's, or the one shown for [Root Files] and the total;
    // nothing while a search runs or before any directory is shown.
    std::optional<std::string> RowPath(int32_t row) const;
    // A subdirectory row's directory in the kept tree, when it is kept.
    KeptPlace RowPlace(int32_t row) const;
    bool CanSearchShownAgain() const;
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
    WindowMoves moves_;
    PlaceActions actions_;
    QAction* openFolder_;
    QAction* copyPath_;
    QAction* moveToTrash_;
    QAction* sortByNumber_;
    QAction* sortByName_;
    QAction* sortBySize_;
    // Each optional column's order, in the menu only while it is shown, and its entry that shows or hides it
    // where the user may choose it (null where it comes and goes by itself).
    struct OptionalColumnCommands {
        SortColumn column;
        QAction* sort;
        QAction* show;
    };
    std::vector<OptionalColumnCommands> optionalColumns_;
    QAction* goDown_;
    QAction* goUp_;
    QAction* searchAgain_;
    QAction* measureLength_;
    QAction* measureOnDisk_;
    QAction* copy_;
    QAction* copyAll_;
    QAction* saveCsv_;
    QAction* map_ = nullptr;
    SavedSearches* saved_ = nullptr;
    QAction* saveSearch_ = nullptr;
    QAction* openSearch_ = nullptr;
    std::vector<std::function<void(QMenu& menu)>> menuParts_;
    QString lastCsvFolder_;  // of the last CSV file saved
};

}  // namespace murako
