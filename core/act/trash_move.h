#pragma once
// Moving a place of a kept tree to the trash, acting on the very entry checked: its parent is opened by
// handles from the searched directory down, no link followed, every directory's identity is checked on those
// handles, and the move is made relative to the parent's handle, so that a directory above it renamed or
// replaced by a link meanwhile cannot redirect it. The system's calls sit behind TrashSystem.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "move_away.h"

namespace murako {

// The calls a move makes on handles. A handle is a small non-negative int; failures are negative errno values.
class TrashSystem {
public:
    virtual ~TrashSystem() = default;
    // The searched directory by its path, links followed as the search's own open did; on Windows every
    // directory above it is held too, for as long as this system lives.
    virtual int OpenBase(const std::string& path) = 0;
    // The directory name below at, never through a link; on Windows held so that it cannot be renamed.
    virtual int OpenBelow(int at, const std::string& name) = 0;
    virtual void Close(int handle) = 0;
    // The entry name below at, a link itself; at itself when name is empty; at kNoAnchor, name is a path.
    virtual std::optional<EntryIdentity> Identify(int at, const std::string& name) = 0;
    // Whether a volume is mounted anywhere below the directory path now.
    virtual bool MountedBelow(const std::string& path) = 0;
};

// What the trash of the freedesktop layout needs besides: a "files" and an "info" directory, the home trash
// on the home's volume and elsewhere the volume's own ".Trash/UID" or ".Trash-UID".
class TrashFolders : public TrashSystem {
public:
    virtual bool ReadOnly(int handle) = 0;
    // Whether the user may add and remove entries in the directory name below at, or in at when name is empty.
    virtual bool MayWrite(int at, const std::string& name) = 0;
    virtual uint32_t User() = 0;
    // 0 or the errno: a directory only its owner may enter.
    virtual int MakeDirectory(int at, const std::string& name) = 0;
    // 0 or the errno: a new file of text, never over one.
    virtual int WriteNote(int at, const std::string& name, const std::string& text) = 0;
    virtual void Remove(int at, const std::string& name) = 0;
    // 0 or the errno: never over an entry of that name.
    virtual int Rename(int from, const std::string& name, int to, const std::string& newName) = 0;
    // The local time as a note writes it, "2026-12-09T05:30:00".
    virtual std::string Now() = 0;
};

struct TrashRequest {
    const KeptTree& tree;
    KeptPlace place;
    std::string path;       // the place's path, as the window names it
    std::string home;       // the user's home directory
    std::string homeTrash;  // the home trash, "~/.local/share/Trash", made when first used
    char separator = '/';
};

struct TrashOutcome {
    MoveRefusal refusal = MoveRefusal::None;
    int error = 0;  // the errno of a failure nothing checked before
    bool Moved() const { return refusal == MoveRefusal::None && error == 0; }
};

// Every rule, the disk asked now, nothing changed: what the window asks before its question.
TrashOutcome CheckForTrash(TrashFolders& system, const TrashRequest& request);
// Every rule again, then the move into the freedesktop trash: a note in its info directory, then a rename
// that never replaces, then the arrival's identity. A refused or failed move leaves nothing behind.
TrashOutcome MoveToTrash(TrashFolders& system, const TrashRequest& request);
// The rules of the place alone, on held handles: what the system's own trash, which moves by path, needs.
TrashOutcome CheckHeld(TrashSystem& system, const TrashRequest& request);
// The rules on held handles, then moveByPath (0 or an errno), the system's own trash that moves by path: the
// directories from the base down stay held until it returns, the entry's identity checked just before.
TrashOutcome MoveByPathHeld(TrashSystem& system, const TrashRequest& request, const std::function<int()>& moveByPath);

// Why a move failed, in the window's language: "権限がありません。"
std::string TrashFailureText(int error);

#ifdef _WIN32
// The directories held without leave to delete or rename them; the recycle bin moves by path.
std::unique_ptr<TrashSystem> LocalTrashSystem();
#else
std::unique_ptr<TrashFolders> LocalTrashSystem();
#endif

}  // namespace murako
