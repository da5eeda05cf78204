#include "dir_list.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "accessibility/list_accessible.h"
#include "file_system.h"
#include "one_line.h"
#include "platform.h"
#include "text.h"
#include "tool_tips.h"
#include "twips.h"

namespace murako {
namespace {

constexpr int IndentTwipsPerLevel = 120;

// An absolute path without "." or ".." components, doubled or trailing separators; a relative one is taken
// from the root. On Windows "/" separates too.
std::string NormalizedPath(const std::string& path)
{
    std::string root = PathRoot(path);
    std::vector<std::string> parts;
    for (size_t start = root.size(); start <= path.size();) {
        const size_t end = std::min(path.find_first_of(std::string{'/', PathSeparator()}, start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string normalized = root.empty() ? std::string(1, PathSeparator()) : root;
    for (const std::string& part : parts)
        normalized = JoinPath(normalized, part);
    return normalized;
}

// Draws each entry indented by its depth, so that its text stays the bare name that type-ahead finds, and
// the focus as a frame in the row's text colour: a style's own focus mark can hardly be told from the
// selection.
class IndentingDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem row = option;
        initStyleOption(&row, index);
        row.text.clear();
        row.icon = QIcon();
        row.state &= ~QStyle::State_HasFocus;
        // The selection spans the whole row, the indentation included.
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &row, painter, option.widget);

        QStyleOptionViewItem indented = option;
        indented.state &= ~QStyle::State_HasFocus;
        indented.rect.setLeft(option.rect.left() + Indent(option, index));
        QStyledItemDelegate::paint(painter, indented, index);

        if (option.state & QStyle::State_HasFocus) {
            const bool selected = option.state & QStyle::State_Selected;
            painter->save();
            painter->setPen(QPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text), 1));
            // Inside the row, where the row's own background surrounds it.
            painter->drawRect(option.rect.adjusted(1, 1, -2, -2));
            painter->restore();
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(Indent(option, index), 0);
    }

private:
    static int Indent(const QStyleOptionViewItem& option, const QModelIndex& index)
    {
        const qreal dpi = option.widget ? option.widget->logicalDpiX() : 96;
        return index.data(DirListModel::DepthRole).toInt() * TwipsToPixels(IndentTwipsPerLevel, dpi);
    }
};

}  // namespace

void DirListModel::SetEntries(std::vector<QString> open, PackedNames subdirectories)
{
    beginResetModel();
    open_ = std::move(open);
    subdirectories_ = std::move(subdirectories);
    endResetModel();
}

int DirListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(open_.size() + subdirectories_.Size());
}

QVariant DirListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const size_t row = static_cast<size_t>(index.row());
    const bool open = row < open_.size();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return open ? open_[row] : OneLineText(std::string(subdirectories_[row - open_.size()]));
    case Qt::AccessibleDescriptionRole:
        // The open directory is the last of the open entries; a reader cannot see the indentation.
        if (!open)
            return QStringLiteral("サブディレクトリ");
        return row + 1 == open_.size() ? QStringLiteral("開いているディレクトリ") : QStringLiteral("上位ディレクトリ");
    case Qt::DecorationRole:
        return QApplication::style()->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirClosedIcon);
    case DepthRole:
        return static_cast<int>(std::min(row, open_.size()));
    default:
        return {};
    }
}

DirList::DirList(QWidget* parent) : QListView(parent), model_(this)
{
    setModel(&model_);
    setItemDelegate(new IndentingDelegate(this));
    WrapItemToolTips(this);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) { OpenEntry(IndexOf(index.row())); });
    MakeItemsFollowEnabledState(this, this);
}

bool DirList::SetPath(const std::string& path)
{
    const std::string normalized = NormalizedPath(path);
    std::vector<std::string> names;
    if (!ListSubdirectories(normalized, names))
        return false;

    path_ = normalized;
    subdirectories_ = {};
    for (const std::string& name : names)
        subdirectories_.Add(name);
    subdirectories_.Fit();
    ancestors_.clear();
    const std::string root = PathRoot(path_);
    if (path_ != root)
        ancestors_.push_back(root);
    for (size_t separator = path_.find(PathSeparator(), root.size()); separator < path_.size();
         separator = path_.find(PathSeparator(), separator + 1))
        ancestors_.push_back(path_.substr(0, separator));

    auto lastComponent = [&root](const std::string& full) {
        return full == root ? ShownRoot(root) : OneLineText(full.substr(full.rfind(PathSeparator()) + 1));
    };
    std::vector<QString> open;
    for (const std::string& ancestor : ancestors_)
        open.push_back(lastComponent(ancestor));
    open.push_back(lastComponent(path_));
    model_.SetEntries(std::move(open), subdirectories_);
    SetListIndex(-1);
    return true;
}

std::string DirList::List(int index) const
{
    if (index == -1)
        return path_;
    if (index >= 0 && index < ListCount())
        return JoinPath(path_, subdirectories_[static_cast<size_t>(index)]);
    const int ancestor = static_cast<int>(ancestors_.size()) + index + 1;
    if (index < -1 && ancestor >= 0)
        return ancestors_[static_cast<size_t>(ancestor)];
    throw std::out_of_range("directory list index " + std::to_string(index) + " is outside the list");
}

int DirList::ListIndex() const
{
    return currentIndex().isValid() ? IndexOf(currentIndex().row()) : -1;
}

void DirList::SetListIndex(int index)
{
    setCurrentIndex(model_.index(RowOf(index)));
}

QRect DirList::EntryRect(int index) const
{
    return visualRect(model_.index(RowOf(index)));
}

void DirList::OpenEntry(int index)
{
    const std::string target = List(index);
    if (target == path_) {
        SetListIndex(-1);
        return;
    }
    if (!SetPath(target))
        QMessageBox::warning(this, QStringLiteral("Murako"),
                             QStringLiteral("%1 を開けません。").arg(OneLineText(target)));
}

void DirList::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        OpenEntry(ListIndex());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

}  // namespace murako
