#include "drive_list.h"

#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStringList>
#include <algorithm>

#include "list_accessible.h"
#include "posix_file_system.h"

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
            volumes.push_back({storage.rootPath(), storage.name()});
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
}

void DriveList::SetVolumes(const std::vector<Volume>& volumes)
{
    const QSignalBlocker quiet(this);
    clear();
    for (const Volume& volume : volumes) {
        const QString text =
            volume.label.isEmpty() ? volume.rootPath : QStringLiteral("%1 [%2]").arg(volume.rootPath, volume.label);
        addItem(text, volume.rootPath);
    }
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
