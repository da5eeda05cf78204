#pragma once
// The places of a kept tree a move to the trash acts on, why a move is refused, and what the kept tree alone
// tells of it; the disk's part of the rules is in trash_move.h.

#include <cstdint>
#include <optional>
#include <string>

#include "kept_tree.h"

namespace murako {

// What an entry is now, a link at its end not followed.
struct EntryIdentity {
    uint64_t device = 0;  // on Windows the volume's serial number
    uint64_t inode = 0;   // on Windows the file's index on its volume
    bool directory = false;
    bool link = false;  // a symbolic link, or on Windows any reparse point
    int64_t length = 0;
    bool volumeRoot = false;  // a volume is mounted here
    uint64_t mount = 0;       // the mount it is reached through, where the system tells; else 0
    uint32_t owner = 0;
    bool sticky = false;  // a directory where only an entry's owner, or the directory's, may remove it
};

// A place of a kept tree: a directory, or one file of a directory.
struct KeptPlace {
    const KeptDirectory* dir = nullptr;
    std::optional<uint32_t> file{};  // the file's place in dir's listing
};

enum class MoveRefusal {
    None,
    Base,        // the searched directory itself
    Shown,       // the directory shown, from its own total row
    Outside,     // not in the searched directory
    VolumeRoot,  // a volume is mounted there
    Home,        // the user's home directory itself
    Gone,        // nothing is there any more
    Changed,     // something else is there now
    AlreadyMoved,
    HoldsVolume,   // a volume is mounted below it, which would go to the trash with it
    ReadOnly,      // on a read-only volume
    NoPermission,  // its directory may not be written
    NoTrash,       // no trash on its volume can be used or made
    NameTooLong,   // too long for the trash to keep a note of it beside it
    HoldsTrash,    // the trash it would go to lies inside it
    NoReplace,     // its volume cannot rename without replacing, so a move could take another's place
};

// What the kept tree alone refuses: the searched directory itself, a place that path does not name, and a
// place moved already or below one moved.
MoveRefusal KeptRefusal(const KeptTree& tree, const KeptPlace& place, const std::string& path, char separator);

// Why a move is refused, as the window says it.
std::string MoveRefusalText(MoveRefusal refusal);

// The file of place, read from the kept tree; nullopt for a directory.
std::optional<KeptFile> FileOf(const KeptPlace& place);

// What a directory holds, for the question before it is moved.
struct HeldEntries {
    int64_t files = 0;
    int64_t directories = 0;
};
HeldEntries EntriesHeld(const KeptDirectory& dir);

}  // namespace murako
