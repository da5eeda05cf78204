#pragma once
// The treemap of the map window: lays the directory out for its size, paints it shaded, tells what lies under
// the pointer, and moves from the keyboard among the shown directory's children.

#include <QImage>
#include <QWidget>
#include <functional>
#include <vector>

#include "disk_map.h"

namespace murako {

class MapView final : public QWidget {
public:
    explicit MapView(QWidget* parent = nullptr);

    // Shows dir's map; nullptr shows nothing.
    void Show(const KeptDirectory* dir, SizeMeasure measure);
    // What the rectangles' areas tell, the size by default; the map is laid out again when it changes.
    void SetArea(MapArea area);
    MapArea Area() const { return area_; }
    const std::vector<MapItem>& Items();
    // The item the pointer is on, and the one clicked or reached from the keyboard; -1 for none.
    int32_t Hovered() const { return hovered_; }
    int32_t Selected() const { return selected_; }
    void Select(int32_t item);
    // Selects the largest child, where the keys start, and tells a reader so.
    void SelectLargest();
    // Colours the files and rests by colours' answer for the items laid out (0xRRGGBB each) rather than by
    // their types; nullptr: by their types again.
    void SetColours(std::function<std::vector<uint32_t>(const std::vector<MapItem>& items)> colours);
    // The item of a file of dir, the one holding it when it is too small to show alone; -1 when not shown.
    int32_t ItemOfFile(const KeptDirectory* dir, uint32_t file);
    // The item of a directory at the top level of the map; -1 when it is not shown alone.
    int32_t ItemOfChild(const KeptDirectory* child);
    // The items the arrow keys move through: the shown directory's own files, subdirectories and rest,
    // largest first, as their areas tell.
    const std::vector<int32_t>& Children();
    // The item's share of the map: of the shown directory's size, or of its names where the map is sized so.
    double ShareOf(int32_t item);
    // The files and directories a rest stands for.
    int64_t EntriesInRest(int32_t item);
    // Where an item is drawn, in the map's coordinates.
    QRect PixelRect(int32_t item) const;

    std::function<void(int32_t item)> hovered;
    std::function<void(int32_t item)> clicked;  // also an item reached with the arrow keys
    std::function<void(int32_t item)> doubleClicked;  // also Enter on the item selected
    std::function<void()> goUp;
    std::function<void(int32_t item, QPoint at)> menuAsked;  // at: in global coordinates
    std::function<bool()> valid;  // whether the tree shown is still there
    // What an item says: the tooltip's path, size and share; and the label inside a rest large enough.
    std::function<QString(int32_t item)> describe;
    std::function<QString(int32_t item)> restLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void LayOut();
    void FindChildren();
    // What the item's area tells: its bytes or its names.
    int64_t Weight(int32_t item) const;
    void PaintLabels(const MapStyle& style);
    int32_t ItemAt(QPointF at);
    // Moves the selection step places through the children, or to the first or last with a step of
    // ±children; says where it went.
    void Step(int step);
    void AnnounceSelected();

    const KeptDirectory* dir_ = nullptr;
    SizeMeasure measure_ = SizeMeasure::Length;
    MapArea area_ = MapArea::Size;
    std::function<std::vector<uint32_t>(const std::vector<MapItem>& items)> colours_;
    std::vector<MapItem> items_;
    std::vector<int32_t> children_;  // the items of the top level, largest first
    QImage picture_;
    bool laidOut_ = false;
    int32_t hovered_ = -1;
    int32_t selected_ = -1;
};

// The choice beside the map of what its areas tell: "大きさ: サイズ / 項目数".
class MapAreaChoice final : public QWidget {
public:
    // changed: told once the view has taken the choice, so that what reads the map follows it.
    MapAreaChoice(MapView& view, std::function<void()> changed, QWidget* parent = nullptr);
};

// What the map shows where it has nothing to draw: "空のフォルダー" for a directory with nothing in it.
QString NothingToShowText(const KeptDirectory& dir);

}  // namespace murako
