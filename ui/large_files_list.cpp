#include "large_files_list.h"

#include <QContextMenuEvent>
#include <QHeaderView>

#include "one_line.h"
#include "row_texts.h"

namespace murako {

LargeFilesList::LargeFilesList(const QString& accessibleName, bool withTimes, QWidget* parent)
    : QTableWidget(0, withTimes ? 3 : 2, parent), withTimes_(withTimes)
{
    setAccessibleName(accessibleName);
    QStringList headers{QStringLiteral("サイズ")};
    if (withTimes)
        headers << QStringLiteral("更新日時");
    headers << QStringLiteral("パス");
    setHorizontalHeaderLabels(headers);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideMiddle);
    setWordWrap(false);
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    connect(this, &QTableWidget::cellActivated, this, [this](int row, int) {
        // A copy: what it opens refills the list.
        if (opened && row >= 0 && row < static_cast<int>(files_.size()))
            opened(LargeFile(files_[static_cast<size_t>(row)]));
    });
}

void LargeFilesList::Clear()
{
    setRowCount(0);
    files_.clear();
}

void LargeFilesList::Fill(std::vector<LargeFile> files, const std::function<QString(int64_t)>& sizeText,
                          const std::function<QString(int64_t)>& sizeTip)
{
    files_ = std::move(files);
    setRowCount(static_cast<int>(files_.size()));
    for (int row = 0; row < static_cast<int>(files_.size()); ++row) {
        const LargeFile& file = files_[static_cast<size_t>(row)];
        auto* size = new QTableWidgetItem(sizeText(file.bytes));
        size->setToolTip(sizeTip(file.bytes));
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setItem(row, 0, size);
        if (withTimes_)
            setItem(row, 1, new QTableWidgetItem(QString::fromStdString(LocalTimeText(file.modified))));
        // A name holding a line break would cut the path short; the tooltip gives all of it.
        auto* path = new QTableWidgetItem(OneLineText(file.path));
        path->setToolTip(path->text());
        setItem(row, columnCount() - 1, path);
    }
    for (int column = 0; column < columnCount() - 1; ++column)
        resizeColumnToContents(column);
}

void LargeFilesList::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu is the current row's; from the mouse the row under the pointer's.
    const int row = event->reason() == QContextMenuEvent::Mouse ? rowAt(event->pos().y()) : currentRow();
    if (!menuAsked || row < 0 || row >= static_cast<int>(files_.size()))
        return;
    selectRow(row);
    const QPoint at = event->reason() == QContextMenuEvent::Mouse
                          ? event->globalPos()
                          : viewport()->mapToGlobal(visualItemRect(item(row, 0)).center());
    menuAsked(LargeFile(files_[static_cast<size_t>(row)]), at);
}

}  // namespace murako
