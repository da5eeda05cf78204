#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

}  // namespace murako
