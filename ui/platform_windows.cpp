#include "platform.h"

#include <QFile>

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cerrno>

#include "text.h"
#include "windows_file_system.h"

namespace murako {
namespace {

QString FromWide(const wchar_t* text)
{
    return QString::fromWCharArray(text);
}

}  // namespace

std::vector<Volume> UserVolumes()
{
    std::vector<Volume> volumes;
    wchar_t drives[4 * 26 + 1] = {};
    const DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(std::size(drives) - 1), drives);
    for (const wchar_t* root = drives; length > 0 && *root; root += wcslen(root) + 1) {
        wchar_t label[MAX_PATH + 1] = {};
        wchar_t fileSystem[MAX_PATH + 1] = {};
        // An empty card reader has no label to give; it is listed all the same, and says so when chosen.
        GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1);
        QString device;
        switch (GetDriveTypeW(root)) {
        case DRIVE_REMOVABLE:
            device = QStringLiteral("リムーバブル ディスク");
            break;
        case DRIVE_REMOTE:
            device = QStringLiteral("ネットワーク ドライブ");
            break;
        case DRIVE_CDROM:
            device = QStringLiteral("CD/DVD ドライブ");
            break;
        default:
            device = QStringLiteral("ローカル ディスク");
        }
        volumes.push_back({FromWide(root), FromWide(label), device, FromWide(fileSystem)});
    }
    std::sort(volumes.begin(), volumes.end(), [](const Volume& a, const Volume& b) { return a.rootPath < b.rootPath; });
    return volumes;
}

QString VolumeText(const Volume& volume)
{
    const QString drive = volume.rootPath.left(2).toLower();
    return volume.label.isEmpty() ? drive : QStringLiteral("%1 [%2]").arg(drive, volume.label);
}

std::string CurrentDirectoryOn(const QString& rootPath)
{
    // "D:" names the drive's own current directory, which Windows keeps for each drive; none is the process's.
    const std::wstring drive = rootPath.isEmpty() ? std::wstring(L".") : rootPath.left(2).toStdWString();
    std::wstring full(GetFullPathNameW(drive.c_str(), 0, nullptr, nullptr), L'\0');
    if (full.empty())
        return rootPath.isEmpty() ? "C:\\" : PathBytes(rootPath);
    full.resize(GetFullPathNameW(drive.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    // The drive letter as the drive list writes it, so that the path is found under its root.
    if (full.size() >= 2 && full[1] == L':')
        full[0] = static_cast<wchar_t>(towupper(full[0]));
    return PathBytes(QString::fromStdWString(full));
}

QString ShownRoot(const std::string& root)
{
    return PathText(root).toLower();
}

bool ListSubdirectories(const std::string& path, std::vector<std::string>& names)
{
    const std::wstring pattern = Win32PathForOpen(path + (path.ends_with('\\') ? "*" : "\\*"));
    WIN32_FIND_DATAW found;
    const HANDLE listing = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                            FIND_FIRST_EX_LARGE_FETCH);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    std::vector<std::wstring> foundNames;
    do {
        const std::wstring_view name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
            foundNames.emplace_back(name);
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
    // In Explorer's order: letters without regard to case, and runs of digits by their value.
    std::sort(foundNames.begin(), foundNames.end(),
              [](const std::wstring& a, const std::wstring& b) { return StrCmpLogicalW(a.c_str(), b.c_str()) < 0; });
    names.clear();
    for (const std::wstring& name : foundNames)
        names.push_back(Wtf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size())));
    return true;
}

// glibc's habit of keeping freed pages is what this answers; the Windows build leaves its heap to itself.
void ReturnFreePages() {}

// The recycle bin says itself why it refuses; what the place's rules need is checked on held handles.
TrashOutcome CheckTrash(const TrashRequest& request)
{
    return CheckHeld(*LocalTrashSystem(), request);
}

// The shell moves by path: the directories above are held while it does, and the entry checked just before.
TrashOutcome MoveToSystemTrash(const TrashRequest& request)
{
    return MoveByPathHeld(*LocalTrashSystem(), request,
                          [&] { return QFile(PathText(request.path)).moveToTrash() ? 0 : ECANCELED; });
}

std::string PathBytes(const QString& path)
{
    return Wtf8FromUtf16(path.toStdU16String());
}

QString PathText(const std::string& path)
{
    const std::u16string units = Utf16FromWtf8(path);
    return QString(reinterpret_cast<const QChar*>(units.data()), static_cast<qsizetype>(units.size()));
}

}  // namespace murako
