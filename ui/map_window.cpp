#include "map_window.h"

#include <QHeaderView>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPainter>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "growth_colours.h"
#include "kept_counts.h"
#include "kept_compare.h"
#include "path_text.h"
#include "platform.h"
#include "results_table.h"
#include "search_run.h"
#include "size_units.h"

namespace murako {

namespace {

QColor GroupColour(TypeGroup group) { return QColor::fromRgb(TypeGroupColour(group)); }

QIcon Swatch(TypeGroup group)
{
    QPixmap swatch(12, 12);
    swatch.fill(GroupColour(group));
    return QIcon(swatch);
}

// Rows of the types list ordered by the number behind a column's text.
class CountedItem final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == 0)
            return text(0) < other.text(0);
        return data(column, Qt::UserRole).toLongLong() < other.data(column, Qt::UserRole).toLongLong();
    }
};

QString ShareText(double share) { return QString::number(share * 100, 'f', 1) + QStringLiteral(" %"); }

}  // namespace

MapView::MapView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);
    setAccessibleName(QStringLiteral("マップ"));
}

void MapView::Show(const KeptDirectory* dir, SizeMeasure measure)
{
    dir_ = dir;
    measure_ = measure;
    laidOut_ = false;
    hovered_ = selected_ = -1;
    update();
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
    picture_ = QImage(size(), QImage::Format_RGB32);
    picture_.fill(palette().color(QPalette::Window));
    if (!dir_ || width() <= 0 || height() <= 0)
        return;
    const MapStyle style;
    items_ = LayOutMap(*dir_, measure_, {0, 0, static_cast<double>(width()), static_cast<double>(height())}, style);
    const std::vector<uint32_t> colours = colours_ ? colours_(items_) : std::vector<uint32_t>();
    ShadeMap(items_, picture_.width(), picture_.height(), reinterpret_cast<uint32_t*>(picture_.bits()),
             static_cast<int>(picture_.bytesPerLine() / 4), colours);
    // The names of the directories whose frames have a strip.
    QPainter painter(&picture_);
    QFont font = painter.font();
    font.setPixelSize(static_cast<int>(style.strip) - 3);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    for (const MapItem& item : items_) {
        if (item.kind != MapItemKind::Directory || item.depth == 0 || item.content.y - item.rect.y < style.strip ||
            item.rect.w < 3 * style.strip)
            continue;
        const QRectF strip(item.rect.x + 3, item.rect.y + style.border, item.rect.w - 6, style.strip);
        painter.setPen(item.depth < 6 ? Qt::black : Qt::white);
        painter.drawText(strip, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(PathText(std::string(item.name)), Qt::ElideMiddle,
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
        painter.setPen(QPen(Qt::white, 2));
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

void MapView::mouseMoveEvent(QMouseEvent* event)
{
    const int32_t item = ItemAt(event->position());
    if (item == hovered_)
        return;
    update(PixelRect(hovered_));
    hovered_ = item;
    update(PixelRect(hovered_));
    if (hovered)
        hovered(item);
}

void MapView::leaveEvent(QEvent*)
{
    update(PixelRect(hovered_));
    hovered_ = -1;
}

void MapView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int32_t item = ItemAt(event->position());
    Select(item);
    if (clicked && item >= 0)
        clicked(item);
}

void MapView::contextMenuEvent(QContextMenuEvent* event)
{
    const int32_t item = ItemAt(event->pos());
    Select(item);
    if (menuAsked && item >= 0)
        menuAsked(item, event->globalPos());
}

void MapView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int32_t item = ItemAt(event->position());
    if (doubleClicked && item >= 0 && event->button() == Qt::LeftButton)
        doubleClicked(item);
}

void MapView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Backspace && goUp)
        goUp();
    else
        QWidget::keyPressEvent(event);
}

MapWindow::MapWindow(SearchController& controller, ResultsTable& table,
                     std::function<void(const std::string& path)> showKept, QWidget* parent)
    : QWidget(parent, Qt::Window),
      controller_(controller),
      table_(table),
      showKept_(std::move(showKept)),
      actions_(*this, controller)
{
    setWindowTitle(QStringLiteral("マップ - Murako"));
    resize(1100, 700);
    view_ = new MapView;
    largest_ = new QTableWidget(0, 2);
    largest_->setAccessibleName(QStringLiteral("大きいファイル"));
    largest_->setHorizontalHeaderLabels({QStringLiteral("サイズ"), QStringLiteral("パス")});
    largest_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    largest_->setSelectionBehavior(QAbstractItemView::SelectRows);
    largest_->setSelectionMode(QAbstractItemView::SingleSelection);
    largest_->setTextElideMode(Qt::ElideMiddle);
    largest_->setWordWrap(false);
    largest_->horizontalHeader()->setStretchLastSection(true);
    largest_->verticalHeader()->setDefaultSectionSize(largest_->fontMetrics().height() + 4);
    types_ = new QTreeWidget;
    types_->setAccessibleName(QStringLiteral("種類"));
    types_->setHeaderLabels({QStringLiteral("種類"), QStringLiteral("ファイル数"), QStringLiteral("サイズ"),
                             QStringLiteral("割合")});
    types_->setSortingEnabled(true);
    tabs_ = new QTabWidget;
    tabs_->addTab(largest_, QStringLiteral("大きいファイル"));
    tabs_->addTab(types_, QStringLiteral("種類"));
    auto* splitter = new QSplitter;
    splitter->addWidget(view_);
    splitter->addWidget(tabs_);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({760, 340});
    status_ = new QLabel;
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    legend_ = new QLabel(QStringLiteral("前回からの増減で色分け: 赤 = 増えた　青 = 減った　灰色 = 変わらない（色が濃いほど大きく変化）"));
    legend_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter, 1);
    layout->addWidget(legend_);
    layout->addWidget(status_);

    view_->valid = [this] { return Valid(); };
    view_->hovered = [this](int32_t item) {
        const QString text = Describe(item);
        status_->setText(text);
        if (item >= 0)
            QToolTip::showText(QCursor::pos(), text, view_);
        else
            QToolTip::hideText();
    };
    view_->clicked = [this](int32_t item) { SelectInTable(item); };
    view_->doubleClicked = [this](int32_t item) { GoDown(item); };
    view_->goUp = [this] { GoUp(); };
    view_->menuAsked = [this](int32_t item, QPoint at) { ShowMenu(item, at); };
    connect(largest_, &QTableWidget::cellActivated, this, [this](int row, int) { OpenLargeFile(row); });
    // The rows' view says when what it shows changed; before a subtree goes, nothing paints until it is told
    // what took its place.
    controller_.View().Listen([self = QPointer<MapWindow>(this)](unsigned changes) {
        if (self && !(changes & KeptView::Replacing))
            self->Follow(true);
    });
}

void MapWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Follow();
}

bool MapWindow::Valid() const
{
    return tree_ && controller_.Kept() == tree_ && tree_->Find(shownPath_, PathSeparator()) == dir_;
}

void MapWindow::Follow(bool again)
{
    const KeptTree* tree = controller_.Kept();
    const std::string& path = controller_.ShownPath();
    const KeptDirectory* dir = tree && !path.empty() ? tree->Find(path, PathSeparator()) : nullptr;
    const int64_t size = dir ? KeptCounts(*dir, controller_.Measure()).Size(*dir) : -1;
    const KeptComparison* comparison = controller_.Comparison();
    if (!again && tree == tree_ && dir == dir_ && path == shownPath_ && controller_.Measure() == measure_ &&
        size == shownSize_ && comparison == comparison_)
        return;
    if (again || comparison != comparison_) {
        comparison_ = comparison;
        before_.clear();
        legend_->setVisible(comparison_ != nullptr);
        view_->SetColours(comparison_ ? [this](const std::vector<MapItem>& items) {
            before_ = OlderSizes(items, measure_, [this](const KeptDirectory& dir) {
                return comparison_->OlderAt(KeptPath(dir, tree_->BasePath(), PathSeparator()));
            });
            return GrowthColours(items, before_);
        } : std::function<std::vector<uint32_t>(const std::vector<MapItem>&)>());
    }
    tree_ = tree;
    dir_ = dir;
    shownPath_ = path;
    measure_ = controller_.Measure();
    shownSize_ = size;
    view_->Show(dir_, measure_);
    status_->setText(dir_ ? PathText(shownPath_) + QStringLiteral("  ") + SizeLabel(shownSize_) : QString());
    FillLists();
}

QString MapWindow::SizeLabel(int64_t bytes) const
{
    const QString exact = QString::fromStdString(FormatGrouped(bytes, ",")) + QStringLiteral(" バイト");
    if (controller_.Units().KiloUnit == 0)
        return exact;
    return QString::fromStdString(SizeText(bytes, controller_.Units())) + QStringLiteral(" (") + exact +
           QStringLiteral(")");
}

QString MapWindow::ShortSizeLabel(int64_t bytes) const
{
    if (controller_.Units().KiloUnit == 0)
        return QString::fromStdString(FormatGrouped(bytes, ",")) + QStringLiteral(" バイト");
    return QString::fromStdString(SizeText(bytes, controller_.Units()));
}

std::string MapWindow::PathOf(const MapItem& item) const
{
    std::string path = KeptPath(*item.dir, tree_->BasePath(), PathSeparator());
    if (item.kind == MapItemKind::File)
        path += item.name;
    return path;
}

QString MapWindow::Describe(int32_t item) const
{
    if (item < 0 || !Valid() || item >= static_cast<int32_t>(view_->Items().size()))
        return {};
    const MapItem& shown = view_->Items()[static_cast<size_t>(item)];
    QString text = PathText(PathOf(shown));
    if (shown.kind == MapItemKind::Rest)
        text += QStringLiteral(" の小さな項目");
    const double share = shownSize_ > 0 ? static_cast<double>(shown.bytes) / shownSize_ : 0;
    text += QStringLiteral("  ") + SizeLabel(shown.bytes) + QStringLiteral("  ") + ShareText(share);
    if (comparison_ && static_cast<size_t>(item) < before_.size()) {
        const int64_t delta = shown.bytes - before_[static_cast<size_t>(item)];
        text += QStringLiteral("  前回から ") + (delta > 0 ? QStringLiteral("+") : QString()) +
                QString::fromStdString(FormatGrouped(delta, ",")) + QStringLiteral(" バイト");
    }
    return text;
}

void MapWindow::FillLists()
{
    largest_->setRowCount(0);
    types_->clear();
    largeFiles_.clear();
    if (!dir_)
        return;
    largeFiles_ = LargestFiles(*dir_, measure_, tree_->BasePath(), PathSeparator());
    largest_->setRowCount(static_cast<int>(largeFiles_.size()));
    for (int row = 0; row < static_cast<int>(largeFiles_.size()); ++row) {
        const LargeFile& file = largeFiles_[static_cast<size_t>(row)];
        auto* size = new QTableWidgetItem(ShortSizeLabel(file.bytes));
        size->setToolTip(SizeLabel(file.bytes));
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* path = new QTableWidgetItem(PathText(file.path));
        path->setToolTip(path->text());
        largest_->setItem(row, 0, size);
        largest_->setItem(row, 1, path);
    }
    largest_->resizeColumnToContents(0);

    const TypeSpace space = SpaceByType(*dir_, measure_);
    auto fill = [&](QTreeWidgetItem* item, const QString& name, int64_t files, int64_t bytes) {
        item->setText(0, name);
        item->setText(1, QString::fromStdString(FormatGrouped(files, ",")));
        item->setData(1, Qt::UserRole, static_cast<qlonglong>(files));
        item->setText(2, ShortSizeLabel(bytes));
        item->setToolTip(2, SizeLabel(bytes));
        item->setData(2, Qt::UserRole, static_cast<qlonglong>(bytes));
        item->setText(3, ShareText(space.Share(bytes)));
        item->setData(3, Qt::UserRole, static_cast<qlonglong>(bytes));
        for (int column = 1; column < 4; ++column)
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    };
    for (const TypeSpace::Group& group : space.groups) {
        if (group.files == 0)
            continue;
        auto* groupItem = new CountedItem(types_);
        fill(groupItem, QString::fromUtf8(TypeGroupName(group.group)), group.files, group.bytes);
        groupItem->setIcon(0, Swatch(group.group));
        for (const TypeSpace::Extension& extension : group.extensions) {
            const QString name = extension.extension.empty() ? QStringLiteral("(拡張子なし)")
                                 : extension.extension == DirectoriesExtension
                                     ? QString::fromStdString(extension.extension)
                                     : QStringLiteral(".") + QString::fromStdString(extension.extension);
            fill(new CountedItem(groupItem), name, extension.files, extension.bytes);
        }
    }
    types_->sortByColumn(2, Qt::DescendingOrder);
    for (int column = 0; column < 4; ++column)
        types_->resizeColumnToContents(column);
}

void MapWindow::SelectInTable(int32_t item)
{
    if (!Valid())
        return;
    const MapItem& picked = view_->Items()[static_cast<size_t>(item)];
    const KeptDirectory* top = picked.dir;
    if (top == dir_ && picked.kind != MapItemKind::Directory) {
        for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
            if (table_.Facts(row).kind == RowKind::RootFiles)
                return table_.SetRow(row);
        return;
    }
    while (top && top->parent != dir_)
        top = top->parent;
    if (!top)
        return;
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        if (table_.Facts(row).kind == RowKind::Subdirectory && table_.Facts(row).listedName == top->Name())
            return table_.SetRow(row);
}

void MapWindow::GoDown(int32_t item)
{
    if (!Valid())
        return;
    // A file's or a rest's item stands for the directory that holds it.
    const MapItem& picked = view_->Items()[static_cast<size_t>(item)];
    if (picked.dir == dir_)
        return;
    showKept_(KeptPath(*picked.dir, tree_->BasePath(), PathSeparator()));
    Follow();
}

void MapWindow::GoUp()
{
    if (!Valid() || !dir_->parent)
        return;
    showKept_(KeptPath(*dir_->parent, tree_->BasePath(), PathSeparator()));
    Follow();
}

void MapWindow::OpenLargeFile(int row)
{
    if (!Valid() || row < 0 || row >= static_cast<int>(largeFiles_.size()))
        return;
    const LargeFile file = largeFiles_[static_cast<size_t>(row)];
    if (file.dir != dir_) {
        showKept_(KeptPath(*file.dir, tree_->BasePath(), PathSeparator()));
        Follow();
    }
    view_->Select(view_->ItemOfFile(file.dir, file.index));
}

KeptPlace MapWindow::PlaceOf(const MapItem& item) const
{
    if (item.kind == MapItemKind::Rest)
        return {};
    if (item.kind == MapItemKind::File)
        return {item.dir, item.file};
    return {item.dir, std::nullopt};
}

void MapWindow::ShowMenu(int32_t item, QPoint at)
{
    if (item < 0 || !Valid() || item >= static_cast<int32_t>(view_->Items().size()))
        return;
    const MapItem& shown = view_->Items()[static_cast<size_t>(item)];
    const std::string path = PathOf(shown);
    const std::string folder = KeptPath(*shown.dir, tree_->BasePath(), PathSeparator());
    const KeptPlace place = PlaceOf(shown);
    QMenu menu(this);
    menu.addAction(QStringLiteral("フォルダーを開く"), this, [this, folder] { actions_.OpenFolder(folder); })
        ->setEnabled(actions_.CanOpenFolder(folder));
    menu.addAction(QStringLiteral("パスをコピー"), this, [this, path] { actions_.CopyPath(path); });
    QAction* trash = menu.addAction(QStringLiteral("ごみ箱に移動..."), this,
                                    [this, place, path] { actions_.MoveToTrash(place, path); });
    trash->setEnabled(shown.kind != MapItemKind::Rest && actions_.CanMove(place));
    menu.exec(at);
}

void MapWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && view_->Selected() >= 0 && Valid() &&
        view_->Selected() < static_cast<int32_t>(view_->Items().size())) {
        const MapItem& selected = view_->Items()[static_cast<size_t>(view_->Selected())];
        if (selected.kind != MapItemKind::Rest)
            actions_.MoveToTrash(PlaceOf(selected), PathOf(selected));
    } else if (event->key() == Qt::Key_Backspace)
        GoUp();
    else
        QWidget::keyPressEvent(event);
}

}  // namespace murako
