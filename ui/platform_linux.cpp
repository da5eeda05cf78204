#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringList>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "drive_list.h"
#include "posix_file_system.h"

namespace murako {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

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

QString VolumeText(const Volume& volume)
{
    return volume.label.isEmpty() ? volume.rootPath : QStringLiteral("%1 [%2]").arg(volume.rootPath, volume.label);
}

std::string CurrentDirectoryOn(const QString&)
{
    std::string buffer(4096, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return buffer;
}

QString ShownRoot(const std::string& root)
{
    return QString::fromStdString(root);
}

// Opened through a handle, so that a path longer than PATH_MAX lists like any other.
bool ListSubdirectories(const std::string& path, std::vector<std::string>& names)
{
    const int fd = OpenDirectoryByPath(path);
    if (fd < 0)
        return false;
    const std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return false;
    }
    names.clear();
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isDirectory = fstatat(dirfd(dir.get()), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
        }
        if (isDirectory)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return true;
}

// glibc keeps what is freed, scattered over its heaps: a search of / held 20 to 50 MB of free pages in the
// second half of its run, and each search in a row grew on what the last one left. Handing them back takes a
// few milliseconds, more while walking threads hold the heaps' locks, so it runs on a pool thread, one at a
// time, and the event loop never waits for it.
void ReturnFreePages()
{
#if defined(__GLIBC__)
    static std::atomic<bool> underWay{false};
    if (underWay.exchange(true))
        return;
    QThreadPool::globalInstance()->start([] {
        malloc_trim(0);
        underWay.store(false);
    });
#endif
}

TrashOutcome CheckTrash(const TrashRequest& request)
{
    return CheckForTrash(*LocalTrashSystem(), request);
}

TrashOutcome MoveToSystemTrash(const TrashRequest& request)
{
    return MoveToTrash(*LocalTrashSystem(), request);
}

std::string PathBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString PathText(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace murako
