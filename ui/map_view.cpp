#include "map_view.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <algorithm>

#include "accessibility/map_accessible.h"
#include "one_line.h"

namespace murako {

QString NothingToShowText(const KeptDirectory& dir)
{
    if (dir.ChildCount() == 0 && dir.FileCount() == dir.MovedFiles())
        return QStringLiteral("空のフォルダー");
    return QStringLiteral("サイズが 0 の項目だけのフォルダー");
}

MapView::MapView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);
    setAccessibleName(QStringLiteral("マップ"));
    InstallMapAccessibility(this);
}

void MapView::Show(const KeptDirectory* dir, SizeMeasure measure)
{
    dir_ = dir;
    measure_ = measure;
    laidOut_ = false;
    hovered_ = selected_ = -1;
    update();
}

void MapView::SetArea(MapArea area)
{
    if (area == area_)
        return;
    area_ = area;
    laidOut_ = false;
    hovered_ = selected_ = -1;
    update();
}

MapAreaChoice::MapAreaChoice(MapView& view, std::function<void()> changed, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("大きさ:"));
    layout->addWidget(label);
    auto* choices = new QButtonGroup(this);
    for (const auto& [text, area] : {std::pair{QStringLiteral("サイズ"), MapArea::Size},
                                     std::pair{QStringLiteral("項目数"), MapArea::Entries}}) {
        auto* button = new QRadioButton(text);
        button->setChecked(view.Area() == area);
        choices->addButton(button);
        layout->addWidget(button);
        connect(button, &QRadioButton::toggled, &view, [&view, area = area, changed](bool on) {
            if (!on)
                return;
            view.SetArea(area);
            if (changed)
                changed();
        });
    }
    layout->addStretch(1);
    setAccessibleName(QStringLiteral("大きさ"));
}

const std::vector<MapItem>& MapView::Items()
{
    if (valid && !valid())
        Show(nullptr, measure_);
    if (!laidOut_)
        LayOut();
    return items_;
}

void MapView::SetColours(std::function<std::vector<uint32_t>(const std::vector<MapItem>& items)> colours)
{
    colours_ = std::move(colours);
    laidOut_ = false;
    update();
}

void MapView::LayOut()
{
    laidOut_ = true;
    items_.clear();
    children_.clear();
    picture_ = QImage(size(), QImage::Format_RGB32);
    picture_.fill(palette().color(QPalette::Window));
    if (!dir_ || width() <= 0 || height() <= 0)
        return;
    const MapStyle style;
    items_ = LayOutMap(*dir_, measure_, {0, 0, static_cast<double>(width()), static_cast<double>(height())}, style,
                       area_);
    const std::vector<uint32_t> colours = colours_ ? colours_(items_) : std::vector<uint32_t>();
    ShadeMap(items_, picture_.width(), picture_.height(), reinterpret_cast<uint32_t*>(picture_.bits()),
             static_cast<int>(picture_.bytesPerLine() / 4), colours);
    FindChildren();
    PaintLabels(style);
}

void MapView::PaintLabels(const MapStyle& style)
{
    QPainter painter(&picture_);
    if (children_.empty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(picture_.rect(), Qt::AlignCenter, NothingToShowText(*dir_));
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(static_cast<int>(style.strip) - 3);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    for (size_t i = 0; i < items_.size(); ++i) {
        const MapItem& item = items_[i];
        if (item.kind == MapItemKind::Rest && restLabel) {
            // A rest holding a good part of the map says what it is without the pointer on it.
            const QRectF inside(item.rect.x + 3, item.rect.y + 3, item.rect.w - 6, item.rect.h - 6);
            const QString label = restLabel(static_cast<int32_t>(i));
            if (inside.height() >= 2 * metrics.height() && inside.width() >= metrics.horizontalAdvance(label)) {
                painter.setPen(Qt::black);
                painter.drawText(inside, Qt::AlignCenter, label);
            }
            continue;
        }
        if (item.kind != MapItemKind::Directory || item.depth == 0 || item.content.y - item.rect.y < style.strip ||
            item.rect.w < 3 * style.strip)
            continue;
        // The names of the directories whose frames have a strip.
        const QRectF strip(item.rect.x + 3, item.rect.y + style.border, item.rect.w - 6, style.strip);
        painter.setPen(item.depth < 6 ? Qt::black : Qt::white);
        painter.drawText(strip, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(OneLineText(std::string(item.name)), Qt::ElideMiddle,
                                            static_cast<int>(strip.width())));
    }
}

QRect MapView::PixelRect(int32_t item) const
{
    if (item < 0 || item >= static_cast<int32_t>(items_.size()))
        return {};
    const MapRect& r = items_[static_cast<size_t>(item)].rect;
    return QRectF(r.x, r.y, r.w, r.h).toAlignedRect();
}

void MapView::paintEvent(QPaintEvent*)
{
    Items();
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
    if (selected_ >= 0) {
        painter.setPen(QPen(hasFocus() ? palette().color(QPalette::Highlight) : QColor(Qt::white), 2));
        painter.drawRect(PixelRect(selected_).adjusted(1, 1, -1, -1));
    }
    if (hovered_ >= 0) {
        painter.setPen(QPen(Qt::yellow, 1));
        painter.drawRect(PixelRect(hovered_).adjusted(0, 0, -1, -1));
    }
}

void MapView::resizeEvent(QResizeEvent*)
{
    laidOut_ = false;
    hovered_ = selected_ = -1;
}

int32_t MapView::ItemAt(QPointF at)
{
    return MapItemAt(Items(), at.x(), at.y());
}

void MapView::Select(int32_t item)
{
    update(PixelRect(selected_).adjusted(-2, -2, 2, 2));
    selected_ = item;
    update(PixelRect(selected_).adjusted(-2, -2, 2, 2));
}

int32_t MapView::ItemOfFile(const KeptDirectory* dir, uint32_t file)
{
    int32_t rest = -1;
    const std::vector<MapItem>& items = Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].dir != dir)
            continue;
        if (items[i].kind == MapItemKind::File && items[i].file == file)
            return static_cast<int32_t>(i);
        if (items[i].kind == MapItemKind::Rest)
            rest = static_cast<int32_t>(i);
    }
    return rest;
}

int32_t MapView::ItemOfChild(const KeptDirectory* child)
{
    for (const int32_t item : Children())
        if (items_[static_cast<size_t>(item)].kind == MapItemKind::Directory && items_[static_cast<size_t>(item)].dir == child)
            return item;
    return -1;
}

const std::vector<int32_t>& MapView::Children()
{
    Items();
    return children_;
}

void MapView::FindChildren()
{
    children_.clear();
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].depth == 1)
            children_.push_back(static_cast<int32_t>(i));
    std::stable_sort(children_.begin(), children_.end(), [&](int32_t a, int32_t b) { return Weight(a) > Weight(b); });
}

int64_t MapView::Weight(int32_t item) const
{
    const MapItem& shown = items_[static_cast<size_t>(item)];
    return area_ == MapArea::Size ? shown.bytes : shown.entries;
}

double MapView::ShareOf(int32_t item)
{
    const std::vector<MapItem>& items = Items();
    if (item < 0 || static_cast<size_t>(item) >= items.size() || Weight(0) <= 0)
        return 0;
    return static_cast<double>(Weight(item)) / static_cast<double>(Weight(0));
}

int64_t MapView::EntriesInRest(int32_t item)
{
    const std::vector<MapItem>& items = Items();
    const KeptDirectory* dir = items[static_cast<size_t>(item)].dir;
    int64_t shown = 0;
    for (const MapItem& other : items)
        shown += (other.kind == MapItemKind::File && other.dir == dir) ||
                 (other.kind == MapItemKind::Directory && other.dir->parent == dir);
    return std::max<int64_t>(0, int64_t{dir->ChildCount()} + dir->FileCount() - dir->MovedFiles() - shown);
}

}  // namespace murako
