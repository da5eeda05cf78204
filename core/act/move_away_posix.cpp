#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "move_away.h"

namespace murako {

std::optional<EntryIdentity> IdentifyEntry(const std::string& path)
{
    struct statx status;
    if (path.empty() || statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_SIZE,
                              &status) != 0)
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
    return found;
}

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

}  // namespace

bool VolumeMountedBelow(const std::string& path)
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

}  // namespace murako
