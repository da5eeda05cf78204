#include "drive_list.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStylePainter>
#include <QToolTip>
#include <algorithm>

#include "accessibility/list_accessible.h"
#include "file_system.h"
#include "tool_tips.h"

namespace murako {

bool IsUnder(const QString& path, const QString& root)
{
    return root.endsWith(QChar::fromLatin1(PathSeparator())) || path == root
               ? path.startsWith(root)
               : path.startsWith(root + QChar::fromLatin1(PathSeparator()));
}

DriveList::DriveList(QWidget* parent) : QComboBox(parent)
{
    // The drop-down list is a window of its own, which disabling the combo box does not reach.
    MakeItemsFollowEnabledState(view(), this);
    view()->setTextElideMode(Qt::ElideMiddle);
    WrapItemToolTips(view());
}

void DriveList::SetVolumes(const std::vector<Volume>& volumes)
{
    const QSignalBlocker quiet(this);
    clear();
    for (const Volume& volume : volumes) {
        addItem(VolumeText(volume), volume.rootPath);
        QStringList tip{volume.rootPath};
        if (!volume.device.isEmpty())
            tip << QStringLiteral("デバイス: %1").arg(volume.device);
        if (!volume.fileSystemType.isEmpty())
            tip << QStringLiteral("ファイルシステム: %1").arg(volume.fileSystemType);
        setItemData(count() - 1, tip.join(QLatin1Char('\n')), Qt::ToolTipRole);
    }
}

QString DriveList::ShownDrive() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    // The style draws the label one pixel in from either side of the edit field.
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const int room = field.width() - 2;
    const QFontMetrics metrics = fontMetrics();
    const QString text = currentText();
    if (metrics.horizontalAdvance(text) <= room)
        return text;
    // The middle gives way, the last component of the root path and the label staying whole where they fit:
    // they are what tells volumes mounted under one parent apart, and the end goes last.
    const QString root = RootPath();
    const QChar separator = QChar::fromLatin1(PathSeparator());
    // A Windows drive ("C:\") is told apart by its letter, at the start: its label gives way at the end.
    if (root.size() > 1 && root.endsWith(separator))
        return metrics.elidedText(text, Qt::ElideRight, room);
    const qsizetype tailStart = root.lastIndexOf(separator);
    if (tailStart > 0) {
        const QString tail = QChar(u'…') + text.mid(tailStart);
        for (qsizetype keep = tailStart; keep >= 0; --keep) {
            if (keep > 0 && text.at(keep - 1).isHighSurrogate())
                continue;
            const QString shown = text.left(keep) + tail;
            if (metrics.horizontalAdvance(shown) <= room)
                return shown;
        }
    }
    return metrics.elidedText(text, Qt::ElideLeft, room);
}

void DriveList::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = ShownDrive();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void DriveList::showPopup()
{
    QAbstractItemView* list = view();
    const bool scrolls = count() > maxVisibleItems();
    const int widest = list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                       (scrolls ? list->verticalScrollBar()->sizeHint().width() : 0);
    list->setMinimumWidth(std::min(widest, screen()->availableGeometry().width()));
    QComboBox::showPopup();
}

bool DriveList::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QComboBox::event(event);
    // The closed list tells the whole of its chosen entry.
    const QString tip = currentData(Qt::ToolTipRole).toString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), WrapToScreen(tip, this), this);
    return true;
}

QString DriveList::RootPath() const
{
    return currentData().toString();
}

int DriveList::IndexOfVolume(const QString& path) const
{
    int best = -1;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i).toString();
        if (IsUnder(path, root) && (best < 0 || root.size() > itemData(best).toString().size()))
            best = i;
    }
    return best;
}

void DriveList::ShowVolumeOf(const QString& path)
{
    const QSignalBlocker quiet(this);
    setCurrentIndex(IndexOfVolume(path));
}

}  // namespace murako
