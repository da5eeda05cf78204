#pragma once
// What the window does differently on each platform, in one file per platform that CMake chooses.

#include <QString>
#include <string>
#include <vector>

#include "trash_move.h"
#include "path_text.h"

namespace murako {

struct Volume {
    QString rootPath;
    QString label;  // empty when the volume has none
    QString device{};          // what is mounted there, such as /dev/sda1; empty when unknown
    QString fileSystemType{};  // such as ext4; empty when unknown
};

// The volumes a person stores files on, sorted by root path: on Linux the mounted ones, kernel, device and
// sandbox mounts left out and "/" always in; on Windows the drives.
std::vector<Volume> UserVolumes();
// How the drive list names a volume: "/media/usb [ラベル]" on Linux, "c: [ラベル]" on Windows.
QString VolumeText(const Volume& volume);

// The directory a volume opens at when it is chosen: the process's current directory on Linux, which the
// window uses only on the volume holding it; on Windows the drive's own current directory.
std::string CurrentDirectoryOn(const QString& rootPath);

// How the directory list shows a root: "/", or "c:\".
QString ShownRoot(const std::string& root);
// The names of the subdirectories of path, links to directories included, sorted by bytes on Linux and in
// Explorer's order on Windows; false when it cannot be listed.
bool ListSubdirectories(const std::string& path, std::vector<std::string>& names);

// Hands what the heap keeps of freed memory back to the system, on a thread of its own: a search frees as
// much as it allocates. Called a few times a second during a search.
void ReturnFreePages();

// Every rule of a move to the system's trash, the disk asked now and nothing changed; then the move itself,
// on Linux into the freedesktop trash by handles, on Windows into the recycle bin, which moves by path.
TrashOutcome CheckTrash(const TrashRequest& request);
TrashOutcome MoveToSystemTrash(const TrashRequest& request);

// A path's bytes, as the core holds them, and its text, as the window shows and takes it.
std::string PathBytes(const QString& path);
QString PathText(const std::string& path);

}  // namespace murako
