// Saving the export file: through a file beside the target that takes its place once whole, keeping what the
// file replaced had of its own.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "kept_json.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include "text.h"
#else
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace murako {

namespace {

// What of a file replaced stays: its mode and owner.
struct FileKept {
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
};

#ifdef _WIN32
bool MoveOver(const std::string& from, const std::string& to)
{
    return MoveFileExW(reinterpret_cast<const wchar_t*>(Utf16FromWtf8(from).c_str()),
                       reinterpret_cast<const wchar_t*>(Utf16FromWtf8(to).c_str()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// On Windows the file's place is taken as it is.
Failure SaveTarget(const std::string& path, std::string& target, std::optional<FileKept>&)
{
    target = path;
    return {};
}

std::FILE* CreateNew(const std::string& path, const std::optional<FileKept>&)
{
    const int fd = _wopen(reinterpret_cast<const wchar_t*>(Utf16FromWtf8(path).c_str()),
                          _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file)
        _close(fd);
    return file;
}

void RemoveFile(const std::string& path)
{
    DeleteFileW(reinterpret_cast<const wchar_t*>(Utf16FromWtf8(path).c_str()));
}

int ProcessId()
{
    return _getpid();
}
#else
// Where saving at path writes: the file a symbolic link leads to, and what of the file it replaces stays.
Failure SaveTarget(const std::string& path, std::string& target, std::optional<FileKept>& kept)
{
    target = path;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return {};
    if (S_ISLNK(status.st_mode)) {
        char* resolved = realpath(path.c_str(), nullptr);
        if (!resolved)
            return errno == ENOENT ? Failure{Reason::LinkLeadsNowhere, {}, {}} : FailureFromErrno(errno, Reason::CannotSave);
        target = resolved;
        std::free(resolved);
        if (stat(target.c_str(), &status) != 0)
            return FailureFromErrno(errno, Reason::CannotSave);
    }
    if (!S_ISREG(status.st_mode))
        return {Reason::NotAPlainFile, {}, {}};
    kept = FileKept{status.st_mode & 07777, status.st_uid, status.st_gid};
    return {};
}

std::FILE* CreateNew(const std::string& path, const std::optional<FileKept>& kept)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    // The owner where the user may give it (the group at least), then the mode, which a change of owner may
    // have cleared bits of; a new file has the umask's.
    if (kept) {
        if (fchown(fd, kept->owner, kept->group) != 0 && fchown(fd, static_cast<uid_t>(-1), kept->group) != 0)
            errno = 0;  // another's file becomes the user's, as any file the user writes does
        if (fchmod(fd, kept->mode) != 0) {
            close(fd);
            unlink(path.c_str());
            return nullptr;
        }
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file)
        close(fd);
    return file;
}

bool MoveOver(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}


void RemoveFile(const std::string& path)
{
    unlink(path.c_str());
}

int ProcessId()
{
    return static_cast<int>(getpid());
}
#endif

std::atomic<unsigned> nextSaveNumber{0};

Failure SaveFailure(int error)
{
    return error == ENOENT ? Failure{Reason::NoFolder, {}, {}} : FailureFromErrno(error, Reason::CannotSave);
}


}  // namespace

Failure SaveKeptJson(const KeptTree& tree, const std::string& path, std::string_view progver)
{
    if (path == "-")
        return WriteKeptJson(tree, stdout, progver) ? Failure{} : FailureFromErrno(errno, Reason::CannotSave);
    std::string target;
    std::optional<FileKept> kept;
    if (Failure refused = SaveTarget(path, target, kept))
        return refused;
    const std::string temporary =
        target + ".murako-" + std::to_string(ProcessId()) + "-" + std::to_string(nextSaveNumber.fetch_add(1));
    std::FILE* file = CreateNew(temporary, kept);
    if (!file)
        return SaveFailure(errno);
    const bool written = WriteKeptJson(tree, file, progver);
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        const int error = written ? errno : writeError;
        RemoveFile(temporary);
        return SaveFailure(error);
    }
    if (!MoveOver(temporary, target)) {
        const int error = errno;
        RemoveFile(temporary);
        return SaveFailure(error);
    }
    return {};
}


}  // namespace murako
