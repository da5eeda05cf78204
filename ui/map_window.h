#pragma once
// The map window: the kept tree of the directory the table shows as a treemap, its largest files and the
// space each type of file takes.

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "largest_files.h"
#include "map_view.h"
#include "place_actions.h"

class QLabel;
class QTableWidget;
class QTabWidget;
class QTreeWidget;

namespace murako {

class KeptComparison;
class ResultsTable;
class SearchController;

class MapWindow final : public QWidget {
public:
    // showKept shows a directory of the kept tree in the table, the window around it following.
    MapWindow(SearchController& controller, ResultsTable& table, std::function<void(const std::string& path)> showKept,
              QWidget* parent = nullptr);

    // Shows the directory the table shows when that changed, or its tree did, or the comparison; with again,
    // whatever changed, as a new comparison may stand where the last one stood.
    void Follow(bool again = false);
    MapView& View() { return *view_; }
    QTableWidget& LargestFilesTable() { return *largest_; }
    QTreeWidget& TypesTree() { return *types_; }
    QLabel& Legend() { return *legend_; }
    // What the status line shows for an item: its path, size and share of the shown directory, and while the
    // table compares with an older search, its change since.
    QString Describe(int32_t item) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLists();
    void Connect();
    bool Valid() const;
    std::string PathOf(const MapItem& item) const;
    // The size in the table's unit and in bytes; the short one in the table's unit only.
    QString SizeLabel(int64_t bytes) const;
    QString ShortSizeLabel(int64_t bytes) const;
    // What a reader hears of the map: the directory shown, its size and its largest parts.
    QString Summary() const;
    QString RestLabel(int32_t item) const;
    void FillLists();
    void FillLargestFiles();
    void FillTypes();
    void SelectInTable(int32_t item);
    // Makes current the table's row of child, a subdirectory of the directory shown.
    void MakeRowCurrent(const KeptDirectory* child);
    // Shows the directory of the item, or the directory that holds it, in both windows.
    void GoDown(int32_t item);
    void GoUp();
    void OpenLargeFile(int row);
    // The place of the kept tree an item stands for: a directory or a file; none for a directory's rest.
    KeptPlace PlaceOf(const MapItem& item) const;
    // Opening the folder, copying the path and moving to the trash, for the item.
    void ShowMenu(int32_t item, QPoint at);

    SearchController& controller_;
    ResultsTable& table_;
    std::function<void(const std::string& path)> showKept_;
    MapView* view_;
    QTabWidget* tabs_;
    QTableWidget* largest_;
    QTreeWidget* types_;
    QLabel* status_;
    QLabel* legend_;  // what the colours say while they show growth
    bool placed_ = false;
    const KeptTree* tree_ = nullptr;
    const KeptDirectory* dir_ = nullptr;
    std::string shownPath_;
    SizeMeasure measure_ = SizeMeasure::Length;
    int64_t shownSize_ = -1;
    const KeptComparison* comparison_ = nullptr;
    std::vector<int64_t> before_;  // each item's size in the older search, while compared
    std::vector<LargeFile> largeFiles_;
    PlaceActions actions_;
};

// A share of the shown directory as the map and its lists give it: "37.2 %".
QString ShareText(double share);

}  // namespace murako
