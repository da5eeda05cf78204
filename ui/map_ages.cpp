#include "map_ages.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>

#include "map_window.h"
#include "size_units.h"

namespace murako {

namespace {

constexpr int kShareColumn = 3;
constexpr int kSpanRole = Qt::UserRole + 1;
constexpr int kShareRole = Qt::UserRole + 2;

// The share column: a bar as long as the share behind its text.
class ShareBar final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const double share = index.data(kShareRole).toDouble();
        QRect bar = option.rect.adjusted(2, 3, -2, -3);
        bar.setWidth(static_cast<int>(bar.width() * std::clamp(share, 0.0, 1.0)));
        painter->fillRect(bar, QColor(0x8c, 0xb4, 0xe6));
        QStyledItemDelegate::paint(painter, option, index);
    }
};

}  // namespace

MapColourChoice::MapColourChoice(std::function<void()> changed, QWidget* parent)
    : QWidget(parent), changed_(std::move(changed))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("色分け:")));
    auto* group = new QButtonGroup(this);
    for (const auto& [text, colouring] : {std::pair{QStringLiteral("種類"), MapColouring::Type},
                                          std::pair{QStringLiteral("更新日時"), MapColouring::Age},
                                          std::pair{QStringLiteral("増減"), MapColouring::Growth}}) {
        auto* button = new QRadioButton(text);
        button->setChecked(colouring == chosen_);
        group->addButton(button);
        layout->addWidget(button);
        buttons_.emplace_back(button, colouring);
        connect(button, &QRadioButton::toggled, this, [this, colouring = colouring](bool on) {
            if (!on || chosen_ == colouring)
                return;
            chosen_ = colouring;
            if (changed_)
                changed_();
        });
    }
    buttons_.back().first->hide();
    layout->addStretch(1);
    setAccessibleName(QStringLiteral("色分け"));
}

void MapColourChoice::Choose(MapColouring colouring)
{
    for (const auto& [button, shown] : buttons_)
        if (shown == colouring)
            button->setChecked(true);
}

void MapColourChoice::SetComparing(bool comparing)
{
    QRadioButton* growth = buttons_.back().first;
    if (comparing == growth->isVisibleTo(this))
        return;
    growth->setVisible(comparing);
    chosen_ = comparing ? MapColouring::Growth : chosen_ == MapColouring::Growth ? MapColouring::Type : chosen_;
    // Quietly: the window that tells of the comparison recolours the map itself.
    for (const auto& [button, shown] : buttons_) {
        const QSignalBlocker quiet(button);
        button->setChecked(shown == chosen_);
    }
}

QString AgeLegendHtml()
{
    QString html = QStringLiteral("色分け: ");
    for (size_t i = 0; i < AgeClassCount; ++i) {
        const auto age = static_cast<AgeClass>(i);
        html += QStringLiteral("<span style=\"background-color:#%1\">&nbsp;&nbsp;&nbsp;&nbsp;</span> %2&nbsp;&nbsp; ")
                    .arg(AgeClassColour(age), 6, 16, QLatin1Char('0'))
                    .arg(QString::fromUtf8(AgeClassName(age)));
    }
    return html;
}

QString AgeLegendWords()
{
    QStringList classes;
    for (size_t i = 0; i < AgeClassCount; ++i) {
        const auto age = static_cast<AgeClass>(i);
        classes << QString::fromUtf8(AgeClassColourName(age)) + QStringLiteral(" = ") +
                       QString::fromUtf8(AgeClassName(age));
    }
    return QStringLiteral("色分け: ") + classes.join(QStringLiteral("、"));
}

AgeTree::AgeTree(QWidget* parent) : QTreeWidget(parent)
{
    setAccessibleName(QStringLiteral("更新日時"));
    setHeaderLabels({QStringLiteral("期間"), QStringLiteral("ファイル数"), QStringLiteral("サイズ"),
                     QStringLiteral("割合")});
    setItemDelegateForColumn(kShareColumn, new ShareBar(this));
    setIndentation(12);
    header()->setStretchLastSection(true);
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
        if (!filling_ && chosen)
            chosen(current ? spans_[current->data(0, kSpanRole).toUInt()] : std::nullopt);
    });
}

std::optional<AgeSpan> AgeTree::Chosen() const
{
    return currentItem() ? spans_[currentItem()->data(0, kSpanRole).toUInt()] : std::nullopt;
}

QTreeWidgetItem* AgeTree::AddRow(QTreeWidgetItem* parent, const QString& name, int64_t files, int64_t bytes,
                                 std::optional<AgeSpan> span)
{
    auto* row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    const double share = byCount_ ? (byCountTotal_ > 0 ? files / byCountTotal_ : 0)
                                  : (bySizeTotal_ > 0 ? bytes / bySizeTotal_ : 0);
    row->setText(0, name);
    row->setData(0, kSpanRole, static_cast<uint>(spans_.size()));
    spans_.push_back(span);
    row->setText(1, QString::fromStdString(FormatGrouped(files, ",")));
    row->setText(2, sizeText_(bytes));
    row->setToolTip(2, sizeTip_(bytes));
    row->setText(kShareColumn, ShareText(share));
    row->setData(kShareColumn, kShareRole, share);
    for (int column = 1; column < 4; ++column)
        row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    return row;
}

void AgeTree::Fill(const AgeSpread& spread, bool byCount, const std::function<QString(int64_t)>& sizeText,
                   const std::function<QString(int64_t)>& sizeTip)
{
    const std::optional<AgeSpan> kept = Chosen();
    filling_ = true;
    clear();
    spans_.clear();
    byCount_ = byCount;
    byCountTotal_ = static_cast<double>(spread.files);
    bySizeTotal_ = static_cast<double>(spread.bytes);
    sizeText_ = sizeText;
    sizeTip_ = sizeTip;
    QTreeWidgetItem* current = AddRow(nullptr, QStringLiteral("すべて"), spread.files, spread.bytes, std::nullopt);
    AgeRow recent{0, 0, 0, 0, {spread.months.back().span.from, spread.months.front().span.to, false}};
    for (const AgeRow& month : spread.months) {
        recent.files += month.files;
        recent.bytes += month.bytes;
    }
    QTreeWidgetItem* months = AddRow(nullptr, QStringLiteral("直近 12 か月"), recent.files, recent.bytes, recent.span);
    std::vector<std::pair<const AgeRow*, QTreeWidgetItem*>> rows;
    for (const AgeRow& month : spread.months)
        rows.emplace_back(&month, AddRow(months, QStringLiteral("%1/%2").arg(month.year).arg(month.month, 2, 10, QLatin1Char('0')),
                                         month.files, month.bytes, month.span));
    for (const AgeRow& year : spread.years)
        rows.emplace_back(&year, AddRow(nullptr, QStringLiteral("%1 年").arg(year.year), year.files, year.bytes, year.span));
    if (spread.unknown.files > 0)
        rows.emplace_back(&spread.unknown, AddRow(nullptr, QStringLiteral("不明"), spread.unknown.files,
                                                  spread.unknown.bytes, spread.unknown.span));
    // The row chosen before stays chosen, so that what the map picks out follows a move or a search again.
    for (const auto& [row, item] : rows)
        if (kept && row->span == *kept)
            current = item;
    if (kept && recent.span == *kept)
        current = months;
    months->setExpanded(true);
    setCurrentItem(current);
    filling_ = false;
    if (Chosen() != kept && chosen)
        chosen(Chosen());
    for (int column = 0; column < columnCount(); ++column)
        resizeColumnToContents(column);
}

}  // namespace murako
