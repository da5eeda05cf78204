#include "windows_file_system.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cstddef>
#include <memory>
#include <string>

#include "directory_handles.h"
#include "text.h"

#ifndef MURAKO_WINTERNL_DECLARES_NT_QUERY_DIRECTORY_FILE
// Declared by the driver kit's headers only, in the mingw-w64 headers Debian has.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                                               PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass, BOOLEAN singleEntry,
                                               PUNICODE_STRING fileName, BOOLEAN restartScan);
#endif

namespace murako {

namespace {

constexpr size_t kListingBufferSize = 64 * 1024;
// A UNICODE_STRING holds at most 32767 units, and a path has at least as many bytes as units: a relative
// path of this many bytes or more is opened piece by piece.
constexpr size_t kMostBytesPerOpen = 32000;

constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);

HANDLE AsHandle(int handle)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// Kernel handles are multiples of 4 below 2^24 per process, so an int holds any of them.
int FromHandle(HANDLE handle)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_DELETE_PENDING:
        return ENOENT;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
        return EMFILE;
    default:
        return EIO;
    }
}

// Windows counts 100 ns since 1601; whole seconds since 1970, rounded down so that times before 1970 stay
// in the second they fall in. Nought is never set.
ModifiedTime FromWindowsTime(int64_t ticks)
{
    if (ticks == 0)
        return kTimeUnknown;  // a file system that keeps no times
    constexpr int64_t kTicksPerSecond = 10'000'000;
    constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const int64_t seconds = ticks / kTicksPerSecond - (ticks % kTicksPerSecond < 0 ? 1 : 0);
    return seconds - kSecondsFrom1601To1970;
}

int ErrnoFromStatus(NTSTATUS status)
{
    return ErrnoFromWin32(RtlNtStatusToDosError(status));
}

// A directory is walked into unless a reparse point there stands for another place (a symbolic link, a
// junction, a mount point), which counts as the entry it is; other reparse points, such as the placeholders
// of cloud files, hold their own contents.
bool IsWalkedDirectory(ULONG attributes, ULONG reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag));
}

// Opens path below from itself, never what a reparse point there leads to: with FILE_DIRECTORY_FILE in
// options only a directory. The handle, or -errno.
int OpenEntry(HANDLE from, std::u16string_view path, ACCESS_MASK access, ULONG options,
              ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
{
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(reinterpret_cast<const wchar_t*>(path.data()));
    name.Length = static_cast<USHORT>(path.size() * sizeof(char16_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, from, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE opened = nullptr;
    const NTSTATUS status = NtCreateFile(&opened, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io, nullptr,
                                         0, share, FILE_OPEN,
                                         options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT |
                                             FILE_OPEN_FOR_BACKUP_INTENT,
                                         nullptr, 0);
    return NT_SUCCESS(status) ? FromHandle(opened) : -ErrnoFromStatus(status);
}

// Opens one piece of a path below from, never through a reparse point; the handle, or -errno.
int OpenRelative(HANDLE from, std::u16string_view path)
{
    const int opened = OpenEntry(from, path, FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE);
    if (opened < 0)
        return opened;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (GetFileInformationByHandleEx(AsHandle(opened), FileAttributeTagInfo, &tag, sizeof tag) &&
        !IsWalkedDirectory(tag.FileAttributes, tag.ReparseTag)) {
        CloseHandle(AsHandle(opened));
        return -ELOOP;  // listed as a directory, a link or junction now: the walk never enters one
    }
    return opened;
}

int OpenGivenPath(const std::string& path)
{
    // Backup semantics open directories; a given path follows links as the system's own open does.
    const HANDLE opened = CreateFileW(Win32PathForOpen(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return -ErrnoFromWin32(GetLastError());
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(opened, &information) || !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(opened);
        return -ENOTDIR;
    }
    return FromHandle(opened);
}

class WindowsDirectory : public PlacedDirectoryOf<WindowsDirectory> {
public:
    using PlacedDirectoryOf::PlacedDirectoryOf;

    bool NextName(std::string_view& name) override
    {
        if (!reading_ || !reading_->next) {
            const int handle = ListingHandle();
            if (handle < 0 || !Fill(AsHandle(handle)))
                return false;
        }
        Reading& reading = *reading_;
        reading.current = reading.next;
        reading.next = reading.current->NextEntryOffset
                           ? reinterpret_cast<const FILE_FULL_DIR_INFORMATION*>(
                                 reinterpret_cast<const char*>(reading.current) + reading.current->NextEntryOffset)
                           : nullptr;
        reading.name = Wtf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(reading.current->FileName),
                                                         reading.current->FileNameLength / sizeof(char16_t)));
        name = reading.name;
        return true;
    }

    EntryKind Kind() override
    {
        // A reparse point's record holds its tag where others hold the size of their extended attributes.
        const FILE_FULL_DIR_INFORMATION& entry = *reading_->current;
        return IsWalkedDirectory(entry.FileAttributes, entry.EaSize) ? EntryKind::Directory : EntryKind::NotDirectory;
    }

    bool LengthsListed() const override { return true; }

    // The listing tells no file's links: on Windows a hard-linked file's space counts at every link.
    std::optional<FileFacts> Facts(ReadFailure&) override
    {
        const FILE_FULL_DIR_INFORMATION& entry = *reading_->current;
        return FileFacts{entry.EndOfFile.QuadPart, entry.AllocationSize.QuadPart, 0, 1,
                         !(entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT),
                         FromWindowsTime(entry.LastWriteTime.QuadPart)};
    }

private:
    // A plain file only, as on Linux: a reparse point is not followed, and nothing waits on a device.
    std::optional<std::string> ReadBelow(int handle, std::string_view name, size_t bytes) override
    {
        const int entry = OpenEntry(AsHandle(handle), Utf16FromWtf8(name), FILE_READ_DATA, FILE_NON_DIRECTORY_FILE);
        if (entry < 0)
            return std::nullopt;
        FILE_ATTRIBUTE_TAG_INFO tag;
        std::string start(bytes, '\0');
        DWORD read = 0;
        const bool ok =
            GetFileInformationByHandleEx(AsHandle(entry), FileAttributeTagInfo, &tag, sizeof tag) &&
            !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            ReadFile(AsHandle(entry), start.data(), static_cast<DWORD>(bytes), &read, nullptr);
        CloseHandle(AsHandle(entry));
        if (!ok)
            return std::nullopt;
        start.resize(read);
        return start;
    }

    // The volume's file system name ("NTFS", "FAT32", "ReFS").
    std::string TypeOf(int handle) const override
    {
        wchar_t name[MAX_PATH + 1] = {};
        if (!GetVolumeInformationByHandleW(AsHandle(handle), nullptr, 0, nullptr, nullptr, nullptr, name,
                                           MAX_PATH + 1))
            return {};
        const std::u16string_view units(reinterpret_cast<const char16_t*>(name), std::wcslen(name));
        return Wtf8FromUtf16(units);
    }

    std::optional<FileFacts> MeasureBelow(int handle, std::string_view name, ReadFailure& failure) override
    {
        const int entry = OpenEntry(AsHandle(handle), Utf16FromWtf8(name), 0, 0);
        if (entry < 0) {
            failure = ReadFailureFromErrno(-entry);
            return std::nullopt;
        }
        FILE_ATTRIBUTE_TAG_INFO tag;
        FILE_STANDARD_INFO standard;
        FILE_BASIC_INFO basic;
        const bool ok = GetFileInformationByHandleEx(AsHandle(entry), FileAttributeTagInfo, &tag, sizeof tag) &&
                        GetFileInformationByHandleEx(AsHandle(entry), FileStandardInfo, &standard, sizeof standard) &&
                        GetFileInformationByHandleEx(AsHandle(entry), FileBasicInfo, &basic, sizeof basic);
        const DWORD error = GetLastError();
        CloseHandle(AsHandle(entry));
        if (!ok) {
            failure = ReadFailureFromErrno(ErrnoFromWin32(error));
            return std::nullopt;
        }
        if (IsWalkedDirectory(tag.FileAttributes, tag.ReparseTag)) {
            failure = ReadFailure::Vanished;  // listed as something else, a directory now
            return std::nullopt;
        }
        return FileFacts{standard.EndOfFile.QuadPart, standard.AllocationSize.QuadPart, 0, 1,
                         !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT),
                         FromWindowsTime(basic.LastWriteTime.QuadPart)};
    }

    // The next records from where the handle's last query left off; false, and the listing over, at its end.
    bool Fill(HANDLE handle)
    {
        if (!reading_) {
            // The kernel fills the buffer: zeroing it for every directory was most of the walk's own instructions.
            reading_ = std::make_unique_for_overwrite<Reading>();
        }
        IO_STATUS_BLOCK io;
        const NTSTATUS status = NtQueryDirectoryFile(handle, nullptr, nullptr, nullptr, &io, reading_->buffer,
                                                     kListingBufferSize, FileFullDirectoryInformation, FALSE, nullptr, FALSE);
        if (!NT_SUCCESS(status) || io.Information == 0) {
            // The end, or a failure in the middle: either way this listing is over.
            reading_.reset();
            EndListing(status == kNoMoreFiles || NT_SUCCESS(status) ? ReadFailure::None
                                                                     : ReadFailureFromErrno(ErrnoFromStatus(status)));
            return false;
        }
        reading_->next = reinterpret_cast<const FILE_FULL_DIR_INFORMATION*>(reading_->buffer);
        return true;
    }

    struct Reading {
        const FILE_FULL_DIR_INFORMATION* current = nullptr;
        const FILE_FULL_DIR_INFORMATION* next = nullptr;
        std::string name;  // the current entry's, as WTF-8
        alignas(FILE_FULL_DIR_INFORMATION) char buffer[kListingBufferSize];
    };

    std::unique_ptr<Reading> reading_;  // from the first name to the end of the listing
};

// The path made absolute as Windows does, from the current directory of the process or of the drive it
// names; empty when it cannot be.
std::wstring FullPathName(const wchar_t* given)
{
    std::wstring full(GetFullPathNameW(given, 0, nullptr, nullptr), L'\0');
    if (!full.empty())
        full.resize(GetFullPathNameW(given, static_cast<DWORD>(full.size()), full.data(), nullptr));
    return full;
}

}  // namespace

std::wstring Win32PathForOpen(const std::string& path)
{
    std::u16string units = Utf16FromWtf8(path);
    std::replace(units.begin(), units.end(), u'/', u'\\');
    const auto* given = reinterpret_cast<const wchar_t*>(units.c_str());
    if (units.rfind(u"\\\\?\\", 0) == 0)
        return given;
    const std::wstring full = FullPathName(given);
    if (full.empty())
        return given;
    if (full.size() < MAX_PATH)
        return full;
    // Past MAX_PATH only the prefixed form opens where long paths are not enabled system-wide.
    return full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

int OpenDirectoryHandle(int from, std::string_view path, ReachedBy reached)
{
    if (from == kNoAnchor)
        return OpenGivenPath(std::string(path));
    if (path == "..")
        return -EINVAL;  // NT opens nothing relative by ".."; the parent is reached down from an anchor
    if (reached == ReachedBy::GivenPath)
        return -EINVAL;
    return OpenInPieces(from, path, kMostBytesPerOpen, '\\',
                        [](int at, const std::string& piece) { return OpenRelative(AsHandle(at), Utf16FromWtf8(piece)); });
}

int OpenHeldDirectory(int from, const std::string& name)
{
    // Without leave to delete, no one can rename or replace it while it is held.
    return OpenEntry(AsHandle(from), Utf16FromWtf8(name), FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE);
}

int OpenEntryItself(int from, const std::string& name)
{
    return OpenEntry(AsHandle(from), Utf16FromWtf8(name), 0, 0);
}

void CloseDirectoryHandle(int handle)
{
    CloseHandle(AsHandle(handle));
}

std::optional<IdentifiedDirectory> Identify(int handle, int& error)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(AsHandle(handle), &information)) {
        error = ErrnoFromWin32(GetLastError());
        return std::nullopt;
    }
    IdentifiedDirectory found;
    found.identity = {information.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    found.modified = FromWindowsTime(static_cast<int64_t>((static_cast<uint64_t>(information.ftLastWriteTime.dwHighDateTime)
                                                           << 32) |
                                                          information.ftLastWriteTime.dwLowDateTime));
    return found;
}

// Windows has no small per-process limit of handles: the budget only keeps a deep walk's use bounded.
WindowsFileSystem::WindowsFileSystem(size_t budget) : PlacedFileSystem(std::max(budget, kHandlesPerThread)) {}

std::unique_ptr<Directory> WindowsFileSystem::AdoptGiven(CountedHandle handle, const std::string& path,
                                                          ReadFailure& failure)
{
    return WindowsDirectory::Adopt(handles_, std::move(handle), nullptr, path, failure);
}

std::shared_ptr<FileSystem> MakeLocalFileSystem()
{
    return std::make_shared<WindowsFileSystem>();
}

std::string PathFromDriveCurrentDirectory(const std::string& path)
{
    const bool onDriveWithoutRoot = path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                                    path[1] == ':' && (path.size() == 2 || !IsPathSeparator(path[2]));
    if (!onDriveWithoutRoot)
        return path;
    const std::u16string units = Utf16FromWtf8(path);
    std::wstring full = FullPathName(reinterpret_cast<const wchar_t*>(units.c_str()));
    if (full.empty())
        return path;
    // Wine keeps a drive's current directory with a separator at its end, Windows without; a root keeps it.
    if (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    return Wtf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(full.data()), full.size()));
}

}  // namespace murako
