#include "drive_list.h"

#include <QAbstractItemView>
#include <QFile>
#include <QHelpEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStringList>
#include <QStylePainter>
#include <QToolTip>
#include <algorithm>

#include "list_accessible.h"
#include "posix_file_system.h"
#include "tool_tips.h"

namespace murako {
namespace {

bool IsUnder(const QString& path, const QString& root)
{
    return root == QLatin1String("/") || path == root || path.startsWith(root + QLatin1Char('/'));
}

bool IsUserVolume(const QString& rootPath, const QString& fileSystemType)
{
    // Besides the kernel's own, file systems that hold the system's files rather than a person's.
    static const QStringList systemTypes = {"ramfs", "squashfs", "fuse.portal", "fuse.gvfsd-fuse", "tmpfs"};
    static const QStringList systemTrees = {"/proc", "/sys", "/dev", "/run", "/snap", "/var/lib", "/boot/efi"};
    if (rootPath == QLatin1String("/"))
        return true;
    // A tmpfs at /tmp or a removable mount is where a person keeps files; the rest are the system's.
    const bool userTmp = fileSystemType == QLatin1String("tmpfs") &&
                         (rootPath == QLatin1String("/tmp") || IsUnder(rootPath, "/media"));
    const bool systemType =
        IsPseudoFileSystemType(fileSystemType.toStdString()) || systemTypes.contains(fileSystemType);
    if (systemType && !userTmp)
        return false;
    return std::none_of(systemTrees.begin(), systemTrees.end(),
                        [&](const QString& tree) { return IsUnder(rootPath, tree); });
}

}  // namespace

std::vector<Volume> UserVolumes()
{
    std::vector<Volume> volumes;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        if (storage.isValid() && storage.isReady() &&
            IsUserVolume(storage.rootPath(), QString::fromUtf8(storage.fileSystemType())))
            volumes.push_back({storage.rootPath(), storage.name(), QFile::decodeName(storage.device()),
                               QString::fromUtf8(storage.fileSystemType())});
    }
    const bool hasRoot = std::any_of(volumes.begin(), volumes.end(),
                                     [](const Volume& volume) { return volume.rootPath == QLatin1String("/"); });
    if (!hasRoot)
        volumes.push_back({QStringLiteral("/"), QString()});
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume& a, const Volume& b) { return a.rootPath < b.rootPath; });
    volumes.erase(std::unique(volumes.begin(), volumes.end(),
                              [](const Volume& a, const Volume& b) { return a.rootPath == b.rootPath; }),
                  volumes.end());
    return volumes;
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
        const QString text =
            volume.label.isEmpty() ? volume.rootPath : QStringLiteral("%1 [%2]").arg(volume.rootPath, volume.label);
        addItem(text, volume.rootPath);
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
    const qsizetype tailStart = root.lastIndexOf(QLatin1Char('/'));
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
