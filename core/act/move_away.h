#pragma once
// What must hold before a place found by a search is moved to the trash: it lies below the searched directory,
// it is no volume's root and not the user's home, and the path still names what the search found there.

#include <cstdint>
#include <optional>
#include <string>

#include "kept_tree.h"

namespace murako {

// What a path names now, a link at its end not followed.
struct EntryIdentity {
    uint64_t device = 0;  // on Windows the volume's serial number
    uint64_t inode = 0;   // on Windows the file's index on its volume
    bool directory = false;
    bool link = false;  // a symbolic link, or on Windows any reparse point
    int64_t length = 0;
    bool volumeRoot = false;  // a volume is mounted here
};

// nullopt when nothing is there or it cannot be read.
std::optional<EntryIdentity> IdentifyEntry(const std::string& path);

// Whether a volume is mounted anywhere below the directory path now.
bool VolumeMountedBelow(const std::string& path);

// A place of a kept tree: a directory, or one file of a directory.
struct KeptPlace {
    const KeptDirectory* dir = nullptr;
    std::optional<uint32_t> file;  // the file's place in dir's listing
};

enum class MoveRefusal {
    None,
    Base,        // the searched directory itself
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
    NameNotText,   // its path has bytes that are no UTF-8, which the system's trash cannot be given
};

// Whether place, at path, may be moved to the trash: every rule, the file system asked now.
MoveRefusal CheckMove(const KeptTree& tree, const KeptPlace& place, const std::string& path, const std::string& home,
                      char separator);

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
