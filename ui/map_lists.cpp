// The lists beside the map: the largest files below the directory shown, and the space each type takes, in the
// map's colours.
#include <QHeaderView>
#include <QTableWidget>
#include <QTreeWidget>

#include "map_window.h"
#include "one_line.h"
#include "platform.h"
#include "search_run.h"
#include "size_units.h"
#include "sort_arrow.h"

namespace murako {

namespace {

QIcon Swatch(TypeGroup group)
{
    QPixmap swatch(12, 12);
    swatch.fill(QColor::fromRgb(TypeGroupColour(group)));
    return QIcon(swatch);
}

// The swatch in words, for those who do not see it.
QString ColourWords(TypeGroup group)
{
    switch (group) {
    case TypeGroup::Image: return QStringLiteral("マップの色: 緑");
    case TypeGroup::Video: return QStringLiteral("マップの色: 赤");
    case TypeGroup::Audio: return QStringLiteral("マップの色: オレンジ");
    case TypeGroup::Document: return QStringLiteral("マップの色: 青");
    case TypeGroup::Archive: return QStringLiteral("マップの色: 紫");
    case TypeGroup::Program: return QStringLiteral("マップの色: 水色");
    case TypeGroup::System: return QStringLiteral("マップの色: 茶色");
    case TypeGroup::Other: break;
    }
    return QStringLiteral("マップの色: 灰色");
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

}  // namespace

void MapWindow::BuildLists()
{
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
                             QStringLiteral("割合"), QStringLiteral("ファイル数の割合")});
    types_->setSortingEnabled(true);
    // The results table's arrow: ▼ for largest first.
    auto* arrows = new SortArrowStyle;
    arrows->setParent(types_);
    types_->header()->setStyle(arrows);
}

void MapWindow::FillLists()
{
    largest_->setRowCount(0);
    types_->clear();
    largeFiles_.clear();
    if (!dir_)
        return;
    FillLargestFiles();
    FillTypes();
}

void MapWindow::FillLargestFiles()
{
    largeFiles_ = LargestFiles(*dir_, measure_, tree_->BasePath(), PathSeparator());
    largest_->setRowCount(static_cast<int>(largeFiles_.size()));
    for (int row = 0; row < static_cast<int>(largeFiles_.size()); ++row) {
        const LargeFile& file = largeFiles_[static_cast<size_t>(row)];
        auto* size = new QTableWidgetItem(ShortSizeLabel(file.bytes));
        size->setToolTip(SizeLabel(file.bytes));
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // A name holding a line break would cut the path short; the tooltip gives all of it.
        auto* path = new QTableWidgetItem(OneLineText(file.path));
        path->setToolTip(path->text());
        largest_->setItem(row, 0, size);
        largest_->setItem(row, 1, path);
    }
    largest_->resizeColumnToContents(0);
}

void MapWindow::FillTypes()
{
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
        item->setText(4, ShareText(space.CountShare(files)));
        item->setData(4, Qt::UserRole, static_cast<qlonglong>(files));
        for (int column = 1; column < 5; ++column)
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    };
    for (const TypeSpace::Group& group : space.groups) {
        if (group.files == 0)
            continue;
        auto* groupItem = new CountedItem(types_);
        fill(groupItem, QString::fromUtf8(TypeGroupName(group.group)), group.files, group.bytes);
        groupItem->setIcon(0, Swatch(group.group));
        groupItem->setData(0, Qt::AccessibleDescriptionRole, ColourWords(group.group));
        groupItem->setToolTip(0, ColourWords(group.group));
        for (const TypeSpace::Extension& extension : group.extensions) {
            const QString name = extension.extension.empty() ? QStringLiteral("(拡張子なし)")
                                 : extension.extension == DirectoriesExtension
                                     ? QString::fromStdString(extension.extension)
                                     : QStringLiteral(".") + QString::fromStdString(extension.extension);
            fill(new CountedItem(groupItem), name, extension.files, extension.bytes);
        }
    }
    // Largest first by what the map's areas tell.
    types_->sortByColumn(view_->Area() == MapArea::Entries ? 1 : 2, Qt::DescendingOrder);
    for (int column = 0; column < types_->columnCount(); ++column)
        types_->resizeColumnToContents(column);
}

}  // namespace murako
