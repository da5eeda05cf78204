#pragma once
// The map window: the kept tree of the directory the table shows as a treemap, its largest files and the
// space each type of file takes.

#include <QImage>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "disk_map.h"
#include "largest_files.h"
#include "place_actions.h"

class QLabel;
class QTableWidget;
class QTabWidget;
class QTreeWidget;

namespace murako {

class KeptComparison;
class ResultsTable;
class SearchController;

// The treemap itself: lays the directory out for its size, paints it shaded and tells what lies under the
// pointer.
class MapView final : public QWidget {
public:
    explicit MapView(QWidget* parent = nullptr);

    // Shows dir's map; nullptr shows nothing.
    void Show(const KeptDirectory* dir, SizeMeasure measure);
    const std::vector<MapItem>& Items();
    // The item the pointer is on, and the one clicked; -1 for none.
    int32_t Hovered() const { return hovered_; }
    int32_t Selected() const { return selected_; }
    void Select(int32_t item);
    // Colours the files and rests by colours' answer for the items laid out (0xRRGGBB each) rather than by
    // their types; nullptr: by their types again.
    void SetColours(std::function<std::vector<uint32_t>(const std::vector<MapItem>& items)> colours);
    // The item of a file of dir, the one holding it when it is too small to show alone; -1 when not shown.
    int32_t ItemOfFile(const KeptDirectory* dir, uint32_t file);

    std::function<void(int32_t item)> hovered;
    std::function<void(int32_t item)> clicked;
    std::function<void(int32_t item)> doubleClicked;
    std::function<void()> goUp;
    std::function<void(int32_t item, QPoint at)> menuAsked;  // at: in global coordinates
    std::function<bool()> valid;  // whether the tree shown is still there

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void LayOut();
    int32_t ItemAt(QPointF at);
    QRect PixelRect(int32_t item) const;

    const KeptDirectory* dir_ = nullptr;
    SizeMeasure measure_ = SizeMeasure::Length;
    std::function<std::vector<uint32_t>(const std::vector<MapItem>& items)> colours_;
    std::vector<MapItem> items_;
    QImage picture_;
    bool laidOut_ = false;
    int32_t hovered_ = -1;
    int32_t selected_ = -1;
};

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
    // What the status line shows for an item: its path, size and share of the shown directory, and while the
    // table compares with an older search, its change since.
    QString Describe(int32_t item) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool Valid() const;
    std::string PathOf(const MapItem& item) const;
    // The size in the table's unit and in bytes; the short one in the table's unit only.
    QString SizeLabel(int64_t bytes) const;
    QString ShortSizeLabel(int64_t bytes) const;
    void FillLists();
    void SelectInTable(int32_t item);
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

}  // namespace murako
