#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "directory_handles.h"
#include "text.h"
#include "trash_move.h"
#include "windows_file_system.h"

namespace murako {

namespace {

HANDLE AsHandle(int handle)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

std::optional<EntryIdentity> IdentityOf(HANDLE entry)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(entry, &information))
        return std::nullopt;
    EntryIdentity found;
    found.device = information.dwVolumeSerialNumber;
    found.inode = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    found.directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    found.length = (static_cast<int64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return found;
}

// The place an open handle has on its volume, "\\?\C:\a\b"; empty when it cannot be had.
std::wstring FinalPath(HANDLE handle)
{
    std::wstring path(GetFinalPathNameByHandleW(handle, nullptr, 0, VOLUME_NAME_DOS), L'\0');
    if (path.empty())
        return path;
    path.resize(GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), VOLUME_NAME_DOS));
    return path;
}

// Every directory from the volume's root down to the searched one is held without leave to delete, so that
// none of them can be renamed or replaced from the last check to the end of the move.
class WindowsTrash : public TrashSystem {
public:
    ~WindowsTrash() override
    {
        for (auto held = above_.rbegin(); held != above_.rend(); ++held)
            CloseHandle(AsHandle(*held));
    }
    int OpenBase(const std::string& path) override;
    int OpenBelow(int at, const std::string& name) override
    {
        if (name.empty() || name == ".." || name.find_first_of("\\/") != std::string::npos)
            return -EINVAL;
        return OpenHeldDirectory(at, name);
    }
    void Close(int handle) override { CloseHandle(AsHandle(handle)); }
    std::optional<EntryIdentity> Identify(int at, const std::string& name) override;
    // A volume mounted in a folder is a reparse point there, which the walk counts as itself and never enters.
    bool MountedBelow(const std::string&) override { return false; }

private:
    std::vector<int> above_;
};

int WindowsTrash::OpenBase(const std::string& path)
{
    // The searched path as the search opened it, links followed, to learn where it leads now.
    const HANDLE given = CreateFileW(Win32PathForOpen(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (given == INVALID_HANDLE_VALUE)
        return -ENOENT;
    const std::wstring final = FinalPath(given);
    const std::optional<EntryIdentity> searched = IdentityOf(given);
    CloseHandle(given);
    // "\\?\C:\" or "\\?\UNC\server\share\": the root is the first directory that can be held.
    const bool share = final.rfind(L"\\\\?\\UNC\\", 0) == 0;
    const size_t rootEnd = share ? final.find(L'\\', final.find(L'\\', 8) + 1) : final.find(L'\\', 4);
    if (final.empty() || !searched || rootEnd == std::wstring::npos)
        return -ENOENT;
    const HANDLE root = CreateFileW(final.substr(0, rootEnd + 1).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (root == INVALID_HANDLE_VALUE)
        return -EACCES;
    int at = static_cast<int>(reinterpret_cast<intptr_t>(root));
    for (size_t begin = rootEnd + 1; begin < final.size();) {
        const size_t end = std::min(final.find(L'\\', begin), final.size());
        const std::wstring piece = final.substr(begin, end - begin);
        above_.push_back(at);
        at = OpenBelow(
            at, Wtf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(piece.data()), piece.size())));
        if (at < 0)
            return at;
        begin = end + 1;
    }
    // Renamed between the two opens: the path no longer leads to what it led to.
    const std::optional<EntryIdentity> held = IdentityOf(AsHandle(at));
    if (!held || held->device != searched->device || held->inode != searched->inode) {
        CloseHandle(AsHandle(at));
        return -EAGAIN;
    }
    return at;
}

std::optional<EntryIdentity> WindowsTrash::Identify(int at, const std::string& name)
{
    if (at == kNoAnchor && name.empty())
        return std::nullopt;
    const std::wstring path = at == kNoAnchor ? Win32PathForOpen(name) : std::wstring();
    // Backup semantics open a directory; a reparse point is opened itself, never what it leads to.
    const HANDLE entry =
        at == kNoAnchor ? CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)
        : name.empty() ? AsHandle(at)
                       : AsHandle(std::max(OpenEntryItself(at, name), -1));
    if (entry == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<EntryIdentity> found = IdentityOf(entry);
    if (entry != AsHandle(at))
        CloseHandle(entry);
    wchar_t volume[MAX_PATH + 1];
    if (found && found->directory && at == kNoAnchor && GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1)) {
        std::wstring root = volume, given = path;
        for (std::wstring* text : {&root, &given})
            while (text->size() > 3 && text->back() == L'\\')
                text->pop_back();
        found->volumeRoot = _wcsicmp(root.c_str(), given.c_str()) == 0;
    }
    return found;
}

}  // namespace

std::unique_ptr<TrashSystem> LocalTrashSystem()
{
    return std::make_unique<WindowsTrash>();
}

}  // namespace murako
