// The lists beside the map: the largest files below the directory shown, the space each type takes, in the
// map's colours, the files by age and the largest of the old ones; and the map's colours as chosen.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <ctime>

#include "growth_colours.h"
#include "kept_compare.h"
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
    largest_ = new LargeFilesList(QStringLiteral("大きいファイル"), false);
    types_ = new QTreeWidget;
    types_->setAccessibleName(QStringLiteral("種類"));
    types_->setHeaderLabels({QStringLiteral("種類"), QStringLiteral("ファイル数"), QStringLiteral("サイズ"),
                             QStringLiteral("割合"), QStringLiteral("ファイル数の割合")});
    types_->setSortingEnabled(true);
    // The results table's arrow: ▼ for largest first.
    auto* arrows = new SortArrowStyle;
    arrows->setParent(types_);
    types_->header()->setStyle(arrows);
    ages_ = new AgeTree;
    oldFiles_ = new LargeFilesList(QStringLiteral("古くて大きいファイル"), true);
    for (LargeFilesList* list : {largest_, oldFiles_}) {
        list->opened = [this](const LargeFile& file) { OpenFile(file); };
        list->menuAsked = [this](const LargeFile& file, QPoint at) {
            ShowMenu(file.path, KeptPath(*file.dir, tree_->BasePath(), PathSeparator()), {file.dir, file.index}, at);
        };
    }
}

QWidget* MapWindow::BuildAgesTab()
{
    auto* old = new QWidget;
    auto* layout = new QVBoxLayout(old);
    layout->setContentsMargins(0, 4, 0, 0);
    auto* choice = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("古くて大きいファイル:"));
    oldYears_ = new QComboBox;
    for (const int years : {1, 2, 3, 5})
        oldYears_->addItem(QStringLiteral("%1 年以上変更なし").arg(years), years);
    oldYears_->setAccessibleName(QStringLiteral("古くて大きいファイルの期間"));
    label->setBuddy(oldYears_);
    choice->addWidget(label);
    choice->addWidget(oldYears_);
    choice->addStretch(1);
    layout->addLayout(choice);
    layout->addWidget(oldFiles_, 1);
    connect(oldYears_, &QComboBox::currentIndexChanged, this, [this] { FillOldFiles(); });
    auto* tab = new QSplitter(Qt::Vertical);
    tab->addWidget(ages_);
    tab->addWidget(old);
    tab->setSizes({300, 300});
    return tab;
}

void MapWindow::FillLists()
{
    largest_->Clear();
    types_->clear();
    oldFiles_->Clear();
    if (!dir_)
        return ages_->clear();
    auto sizeText = [this](int64_t bytes) { return ShortSizeLabel(bytes); };
    auto sizeTip = [this](int64_t bytes) { return SizeLabel(bytes); };
    largest_->Fill(LargestFiles(*dir_, measure_, tree_->BasePath(), PathSeparator()), sizeText, sizeTip);
    FillTypes();
    FillAges();
    FillOldFiles();
}

void MapWindow::FillAges()
{
    const auto now = static_cast<ModifiedTime>(std::time(nullptr));
    const int64_t offset = LocalUtcOffset(now);
    ages_->Fill(SpreadByAge(*dir_, measure_, now, offset), view_->Area() == MapArea::Entries,
                [this](int64_t bytes) { return ShortSizeLabel(bytes); }, [this](int64_t bytes) { return SizeLabel(bytes); });
}

void MapWindow::FillOldFiles()
{
    if (!Valid() || !dir_)
        return oldFiles_->Clear();
    oldFiles_->Fill(OldLargeFiles(*dir_, measure_, tree_->BasePath(), PathSeparator(),
                                  static_cast<ModifiedTime>(std::time(nullptr)), oldYears_->currentData().toInt()),
                    [this](int64_t bytes) { return ShortSizeLabel(bytes); }, [this](int64_t bytes) { return SizeLabel(bytes); });
}

void MapWindow::Recolour()
{
    const MapColouring colouring = colouring_->Chosen();
    const bool growth = colouring == MapColouring::Growth && comparison_;
    legend_->setVisible(growth || colouring == MapColouring::Age);
    legend_->setText(growth ? QStringLiteral("前回からの増減で色分け: 赤 = 増えた　青 = 減った　灰色 = 変わらない（色が濃いほど大きく変化）")
                            : AgeLegendHtml());
    legend_->setAccessibleDescription(ColouringWords());
    before_.clear();
    if (!growth && colouring != MapColouring::Age && !ageShown_)
        return view_->SetColours({});
    view_->SetColours([this, growth, colouring, shown = ageShown_](const std::vector<MapItem>& items) {
        std::vector<uint32_t> colours;
        if (growth) {
            before_ = OlderSizes(items, measure_, [this](const KeptDirectory& dir) {
                return comparison_->OlderAt(KeptPath(dir, tree_->BasePath(), PathSeparator()));
            });
            colours = GrowthColours(items, before_);
        }
        const std::vector<ModifiedTime> times = colouring == MapColouring::Age || shown ? ItemTimes(items)
                                                                                        : std::vector<ModifiedTime>();
        // The classes are told from the moment the map is drawn.
        if (colouring == MapColouring::Age)
            colours = AgeColours(items, times, static_cast<ModifiedTime>(std::time(nullptr)));
        return shown ? FadeOutside(items, times, *shown, std::move(colours)) : colours;
    });
}

QString MapWindow::ColouringWords() const
{
    if (colouring_->Chosen() == MapColouring::Age)
        return AgeLegendWords();
    return colouring_->Chosen() == MapColouring::Growth && comparison_ ? legend_->text() : QString();
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
