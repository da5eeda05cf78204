#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

#include "directory_handles.h"
#include "trash_move.h"

namespace murako {

namespace {

// The mount table writes a space, a tab, a newline and a backslash in a name as \ooo.
std::string Unescaped(const std::string& field)
{
    std::string name;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            name += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            name += field[i];
        }
    }
    return name;
}

class PosixTrash : public TrashFolders {
public:
    int OpenBase(const std::string& path) override
    {
        return OpenDirectoryHandle(kNoAnchor, path, ReachedBy::GivenPath);
    }
    int OpenBelow(int at, const std::string& name) override
    {
        // One name, never a path: a name holding "/" would lead past the directories checked.
        if (name.empty() || name.find('/') != std::string::npos)
            return -EINVAL;
        return OpenDirectoryHandle(at, name, ReachedBy::Listing);
    }
    void Close(int handle) override { close(handle); }
    std::optional<EntryIdentity> Identify(int at, const std::string& name) override;
    bool MountedBelow(const std::string& path) override;

    bool ReadOnly(int handle) override
    {
        struct statvfs volume {};
        return fstatvfs(handle, &volume) == 0 && (volume.f_flag & ST_RDONLY);
    }
    bool MayWrite(int at, const std::string& name) override
    {
        return faccessat(at, name.empty() ? "." : name.c_str(), W_OK | X_OK, 0) == 0;
    }
    uint32_t User() override { return getuid(); }
    int MakeDirectory(int at, const std::string& name) override
    {
        return mkdirat(at, name.c_str(), 0700) == 0 ? 0 : errno;
    }
    int WriteNote(int at, const std::string& name, const std::string& text) override;
    void Remove(int at, const std::string& name) override { unlinkat(at, name.c_str(), 0); }
    int Rename(int from, const std::string& name, int to, const std::string& newName) override
    {
        return renameat2(from, name.c_str(), to, newName.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    }
    std::string Now() override
    {
        const std::time_t now = std::time(nullptr);
        std::tm local {};
        char text[32];
        localtime_r(&now, &local);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
        return text;
    }
};

std::optional<EntryIdentity> PosixTrash::Identify(int at, const std::string& name)
{
    struct statx status;
    const unsigned mask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_UID | STATX_MNT_ID;
    if ((at == kNoAnchor && name.empty()) ||
        statx(at, name.c_str(), AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0), mask, &status) != 0)
        return std::nullopt;
    EntryIdentity found;
    found.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    found.inode = status.stx_ino;
    found.directory = S_ISDIR(status.stx_mode);
    found.link = S_ISLNK(status.stx_mode);
    found.length = static_cast<int64_t>(status.stx_size);
    // A kernel that cannot tell a mount leaves every directory suspect.
    found.volumeRoot = found.directory && (!(status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) ||
                                           (status.stx_attributes & STATX_ATTR_MOUNT_ROOT));
    found.mount = (status.stx_mask & STATX_MNT_ID) ? status.stx_mnt_id : 0;
    found.owner = status.stx_uid;
    found.sticky = (status.stx_mode & S_ISVTX) != 0;
    return found;
}

bool PosixTrash::MountedBelow(const std::string& path)
{
    const std::string below = path.back() == '/' ? path : path + "/";
    std::ifstream mountInfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountInfo, line);) {
        // id parent major:minor root mountpoint ...
        std::istringstream fields(line);
        std::string id, parent, majorMinor, root, mountPoint;
        fields >> id >> parent >> majorMinor >> root >> mountPoint;
        if (Unescaped(mountPoint).starts_with(below))
            return true;
    }
    return false;
}

int PosixTrash::WriteNote(int at, const std::string& name, const std::string& text)
{
    const int fd = openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : (errno ? errno : ENOSPC);
    if (close(fd) != 0 && error == 0)
        error = errno;
    // A note cut short would name a place the trash cannot restore to.
    if (error != 0)
        unlinkat(at, name.c_str(), 0);
    return error;
}

}  // namespace

std::unique_ptr<TrashFolders> LocalTrashSystem()
{
    return std::make_unique<PosixTrash>();
}

}  // namespace murako
