#pragma once
// The map window: the kept tree of the directory the table shows as a treemap, its largest files, the space
// each type of file takes, and how old the files are.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "large_files_list.h"
#include "map_ages.h"
#include "map_view.h"
#include "place_actions.h"

class QComboBox;
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
    AgeTree& AgesTree() { return *ages_; }
    LargeFilesList& OldFilesList() { return *oldFiles_; }
    MapColourChoice& Colouring() { return *colouring_; }
    QLabel& Legend() { return *legend_; }
    // What the status line shows for an item: its path, size and share of the shown directory, and while the
    // table compares with an older search, its change since.
    QString Describe(int32_t item) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLists();
    // The ages' tab: the files by year and month above the old large files and their choice of age.
    QWidget* BuildAgesTab();
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
    void FillTypes();
    void FillAges();
    void FillOldFiles();
    // The map's colours as chosen: by type, age or growth, what lies outside the age row chosen faded; the legend
    // and a reader's description of the map follow.
    void Recolour();
    QString ColouringWords() const;
    void SelectInTable(int32_t item);
    // Makes current the table's row of child, a subdirectory of the directory shown.
    void MakeRowCurrent(const KeptDirectory* child);
    // Shows the directory of the item, or the directory that holds it, in both windows.
    void GoDown(int32_t item);
    void GoUp();
    // Shows the file's directory and picks the file out in the map.
    void OpenFile(const LargeFile& file);
    // The place of the kept tree an item stands for: a directory or a file; none for a directory's rest.
    KeptPlace PlaceOf(const MapItem& item) const;
    // Opening the folder, copying the path and moving to the trash, for the item or for a listed file.
    void ShowMenu(int32_t item, QPoint at);
    void ShowMenu(const std::string& path, const std::string& folder, const KeptPlace& place, QPoint at);

    SearchController& controller_;
    ResultsTable& table_;
    std::function<void(const std::string& path)> showKept_;
    MapView* view_;
    QTabWidget* tabs_;
    LargeFilesList* largest_;
    QTreeWidget* types_;
    AgeTree* ages_;
    LargeFilesList* oldFiles_;
    QComboBox* oldYears_;
    MapColourChoice* colouring_;
    QLabel* status_;
    QLabel* legend_;  // what the colours say while they show growth or age
    bool placed_ = false;
    const KeptTree* tree_ = nullptr;
    const KeptDirectory* dir_ = nullptr;
    std::string shownPath_;
    SizeMeasure measure_ = SizeMeasure::Length;
    int64_t shownSize_ = -1;
    const KeptComparison* comparison_ = nullptr;
    std::vector<int64_t> before_;  // each item's size in the older search, while compared
    std::optional<AgeSpan> ageShown_;  // the age row chosen: what lies outside it fades
    PlaceActions actions_;
};

// A share of the shown directory as the map and its lists give it: "37.2 %".
QString ShareText(double share);

}  // namespace murako
