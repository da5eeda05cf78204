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

namespace {

bool Writable(const QString& dir)
{
    return access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}

// The trash Qt's moveToTrash takes for an entry on volume: the home trash on the home's volume; elsewhere the
// volume's own, $top/.Trash/$uid below a sticky .Trash or else $top/.Trash-$uid, found or made; the home
// trash when neither can be had.
QString TrashFor(const QStorageInfo& volume)
{
    if (volume != QStorageInfo(QDir::home())) {
        const QString top = volume.rootPath();
        const QString user = QString::number(getuid());
        const QString shared = top + QStringLiteral("/.Trash");
        struct stat sharedStatus;
        QStringList places;
        if (lstat(QFile::encodeName(shared).constData(), &sharedStatus) == 0 && S_ISDIR(sharedStatus.st_mode) &&
            (sharedStatus.st_mode & S_ISVTX))
            places << shared + u'/' + user;
        places << top + QStringLiteral("/.Trash-") + user;
        for (const QString& place : places)
            if (QFileInfo(place).isDir() || Writable(QFileInfo(place).path()))
                return place;
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

}  // namespace

MoveRefusal TrashRefusal(const std::string& path)
{
    const QFileInfo entry(PathText(path));
    const QString folder = entry.absolutePath();
    const QStorageInfo volume(folder);
    if (volume.isValid() && volume.isReadOnly())
        return MoveRefusal::ReadOnly;
    struct stat folderStatus, entryStatus;
    if (stat(QFile::encodeName(folder).constData(), &folderStatus) != 0 || lstat(path.c_str(), &entryStatus) != 0)
        return MoveRefusal::Gone;
    // In a sticky directory, such as /tmp, only an entry's owner or the directory's moves it; a directory moved
    // to another parent writes its own ".." entry.
    const bool sticky = (folderStatus.st_mode & S_ISVTX) && geteuid() != 0 && folderStatus.st_uid != geteuid() &&
                        entryStatus.st_uid != geteuid();
    if (!Writable(folder) || sticky || (S_ISDIR(entryStatus.st_mode) && !Writable(entry.filePath())))
        return MoveRefusal::NoPermission;
    // The trash renames, so it must lie on the entry's volume, and its note must be made or the move waits forever.
    const QString trash = TrashFor(volume);
    const QString notes = trash + QStringLiteral("/info");
    QString existing = notes;
    while (!QFileInfo::exists(existing) && QFileInfo(existing).path() != existing)
        existing = QFileInfo(existing).path();
    struct stat trashStatus;
    if (stat(QFile::encodeName(existing).constData(), &trashStatus) != 0 ||
        trashStatus.st_dev != folderStatus.st_dev || !Writable(existing))
        return MoveRefusal::NoTrash;
    // The note is named after the entry with ".trashinfo", and "-0001" when that name is taken.
    if (QFile::encodeName(entry.fileName()).size() + qsizetype(sizeof(".trashinfo-0001")) > NAME_MAX + 1)
        return MoveRefusal::NameTooLong;
    return MoveRefusal::None;
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
