#include <windows.h>

#include "move_away.h"
#include "windows_file_system.h"

namespace murako {

std::optional<EntryIdentity> IdentifyEntry(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    const std::wstring name = Win32PathForOpen(path);
    // Backup semantics open a directory; a reparse point is opened itself, never what it leads to.
    const HANDLE entry = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr);
    if (entry == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information;
    const bool ok = GetFileInformationByHandle(entry, &information);
    CloseHandle(entry);
    if (!ok)
        return std::nullopt;
    EntryIdentity found;
    found.device = information.dwVolumeSerialNumber;
    found.inode = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    found.directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    found.length = (static_cast<int64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    wchar_t volume[MAX_PATH + 1];
    if (found.directory && GetVolumePathNameW(name.c_str(), volume, MAX_PATH + 1)) {
        std::wstring root = volume, given = name;
        for (std::wstring* text : {&root, &given})
            while (text->size() > 3 && text->back() == L'\\')
                text->pop_back();
        found.volumeRoot = _wcsicmp(root.c_str(), given.c_str()) == 0;
    }
    return found;
}

// A volume mounted in a folder is a reparse point there, which the walk counts as itself and never enters; not
// looked for here.
bool VolumeMountedBelow(const std::string&)
{
    return false;
}

}  // namespace murako
