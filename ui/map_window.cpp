#include "map_window.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "kept_compare.h"
#include "kept_counts.h"
#include "one_line.h"
#include "path_text.h"
#include "platform.h"
#include "results_table.h"
#include "row_texts.h"
#include "search_run.h"
#include "size_units.h"
#include "window_placement.h"

namespace murako {

namespace {

constexpr size_t PartsSummed = 3;  // the largest parts a reader hears of with the map

}  // namespace

QString ShareText(double share) { return QString::number(share * 100, 'f', 1) + QStringLiteral(" %"); }

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
    BuildLists();
    tabs_ = new QTabWidget;
    tabs_->addTab(largest_, QStringLiteral("大きいファイル"));
    tabs_->addTab(types_, QStringLiteral("種類"));
    tabs_->addTab(BuildAgesTab(), QStringLiteral("更新日時"));
    auto* splitter = new QSplitter;
    splitter->addWidget(view_);
    splitter->addWidget(tabs_);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({760, 340});
    status_ = new QLabel;
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    legend_ = new QLabel;
    legend_->setAccessibleName(QStringLiteral("色の凡例"));
    legend_->setTextFormat(Qt::RichText);
    legend_->setWordWrap(true);
    legend_->hide();
    colouring_ = new MapColourChoice([this] { Follow(true); });
    auto* choices = new QHBoxLayout;
    choices->addWidget(new MapAreaChoice(*view_, [this] { Follow(true); }));
    choices->addWidget(colouring_);
    choices->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(choices);
    layout->addWidget(splitter, 1);
    layout->addWidget(legend_);
    layout->addWidget(status_);
    Connect();
}

void MapWindow::Connect()
{
    view_->valid = [this] { return Valid(); };
    view_->describe = [this](int32_t item) { return Describe(item); };
    view_->restLabel = [this](int32_t item) { return RestLabel(item); };
    view_->hovered = [this](int32_t item) {
        const QString text = Describe(item);
        status_->setText(text);
        if (item >= 0)
            QToolTip::showText(QCursor::pos(), text, view_);
        else
            QToolTip::hideText();
    };
    view_->clicked = [this](int32_t item) {
        status_->setText(Describe(item));
        SelectInTable(item);
    };
    view_->doubleClicked = [this](int32_t item) { GoDown(item); };
    view_->goUp = [this] { GoUp(); };
    view_->menuAsked = [this](int32_t item, QPoint at) { ShowMenu(item, at); };
    ages_->chosen = [this](std::optional<AgeSpan> span) {
        ageShown_ = span;
        Recolour();
    };
    // The rows' view says when what it shows changed; before a subtree goes, nothing paints until it is told
    // what took its place.
    controller_.View().Listen([self = QPointer<MapWindow>(this)](unsigned changes) {
        if (self && !(changes & KeptView::Replacing))
            self->Follow(true);
    });
}

void MapWindow::showEvent(QShowEvent* event)
{
    // Beside the main window, not over it, the first time; after that where the user left it.
    if (!placed_ && parentWidget())
        MoveBeside(*this, *parentWidget()->window());
    placed_ = true;
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
        colouring_->SetComparing(comparison_ != nullptr);
        Recolour();
    }
    tree_ = tree;
    dir_ = dir;
    shownPath_ = path;
    measure_ = controller_.Measure();
    shownSize_ = size;
    view_->Show(dir_, measure_);
    status_->setText(dir_ ? OneLineText(shownPath_) + QStringLiteral("  ") + SizeLabel(shownSize_) : QString());
    FillLists();
    const QString colours = ColouringWords();
    view_->setAccessibleDescription(colours.isEmpty() ? Summary() : Summary() + QStringLiteral("  ") + colours);
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
    QString text = OneLineText(PathOf(shown));
    if (shown.kind == MapItemKind::Rest)
        text += QStringLiteral(" の小さな項目");
    text += QStringLiteral("  ") + SizeLabel(shown.bytes) + QStringLiteral("  ") +
            QString::fromStdString(EntriesText(shown.entries, ","));
    if (shown.kind == MapItemKind::File)
        text += QStringLiteral("  更新日時: ") + QString::fromStdString(LocalTimeText(FileTime(*shown.dir, shown.file)));
    text += QStringLiteral("  ") + ShareText(view_->ShareOf(item));
    if (comparison_ && static_cast<size_t>(item) < before_.size()) {
        const int64_t delta = shown.bytes - before_[static_cast<size_t>(item)];
        text += QStringLiteral("  前回から ") + (delta > 0 ? QStringLiteral("+") : QString()) +
                QString::fromStdString(FormatGrouped(delta, ",")) + QStringLiteral(" バイト");
    }
    return text;
}

QString MapWindow::Summary() const
{
    if (!Valid() || !dir_)
        return {};
    QString text = OneLineText(shownPath_) + QStringLiteral("  ") + SizeLabel(shownSize_);
    const std::vector<int32_t>& children = view_->Children();
    if (children.empty())
        return text + QStringLiteral("  ") + NothingToShowText(*dir_);
    QStringList parts;
    for (size_t i = 0; i < std::min(PartsSummed, children.size()); ++i) {
        const MapItem& part = view_->Items()[static_cast<size_t>(children[i])];
        const QString name = part.kind == MapItemKind::Rest ? QStringLiteral("小さな項目") : OneLineText(std::string(part.name));
        parts << name + QStringLiteral(" ") + ShareText(view_->ShareOf(children[i]));
    }
    return text + QStringLiteral("  大きい順: ") + parts.join(QStringLiteral("、"));
}

QString MapWindow::RestLabel(int32_t item) const
{
    return QStringLiteral("小さな項目 %1 個 %2")
        .arg(QString::fromStdString(FormatGrouped(view_->EntriesInRest(item), ",")),
             ShortSizeLabel(view_->Items()[static_cast<size_t>(item)].bytes));
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
    MakeRowCurrent(top);
}

void MapWindow::MakeRowCurrent(const KeptDirectory* child)
{
    if (!child)
        return;
    for (int32_t row = ResultsTable::FixedRows; row < table_.Rows(); ++row)
        if (table_.Facts(row).kind == RowKind::Subdirectory && table_.Facts(row).listedName == child->Name())
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
    // Gone down from the keyboard, the keys go on from the largest part there.
    if (view_->hasFocus())
        view_->SelectLargest();
}

void MapWindow::GoUp()
{
    if (!Valid() || !dir_->parent)
        return;
    const KeptDirectory* left = dir_;
    showKept_(KeptPath(*dir_->parent, tree_->BasePath(), PathSeparator()));
    Follow();
    // As the table's own Backspace does: the directory left is current, in the table and in the map, so that
    // going down again is one key away.
    if (Valid() && left->parent == dir_) {
        MakeRowCurrent(left);
        view_->Select(view_->ItemOfChild(left));
    }
}

void MapWindow::OpenFile(const LargeFile& file)
{
    if (!Valid())
        return;
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
    ShowMenu(PathOf(shown), KeptPath(*shown.dir, tree_->BasePath(), PathSeparator()), PlaceOf(shown), at);
}

void MapWindow::ShowMenu(const std::string& path, const std::string& folder, const KeptPlace& place, QPoint at)
{
    if (!Valid())
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("フォルダーを開く"), this, [this, folder] { actions_.OpenFolder(folder); })
        ->setEnabled(actions_.CanOpenFolder(folder));
    menu.addAction(QStringLiteral("パスをコピー"), this, [this, path] { actions_.CopyPath(path); });
    QAction* trash = menu.addAction(QStringLiteral("ごみ箱に移動..."), this,
                                    [this, place, path] { actions_.MoveToTrash(place, path); });
    // A rest is no place of its own: nothing to move.
    trash->setEnabled(place.dir && actions_.CanMove(place));
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
