#include "trash_move.h"

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include "directory_handles.h"
#include "path_text.h"

namespace murako {

namespace {

// Handles closed, last first, when the move is over.
class Held {
public:
    explicit Held(TrashSystem& system) : system_(system) {}
    ~Held()
    {
        for (auto handle = handles_.rbegin(); handle != handles_.rend(); ++handle)
            system_.Close(*handle);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    int Keep(int handle)
    {
        if (handle >= 0)
            handles_.push_back(handle);
        return handle;
    }

private:
    TrashSystem& system_;
    std::vector<int> handles_;
};

// What a move acts on: the parent held, and the entry as it was checked there.
struct Checked {
    int parent = -1;
    EntryIdentity parentIdentity;
    std::string name;
    EntryIdentity entry;
};

bool SameEntry(const EntryIdentity& a, const EntryIdentity& b)
{
    return a.device == b.device && a.inode == b.inode;
}

bool SameMount(const EntryIdentity& a, const EntryIdentity& b)
{
    return a.device == b.device && (a.mount == 0 || b.mount == 0 || a.mount == b.mount);
}

bool IsKeptDirectory(const std::optional<EntryIdentity>& now, const DirectoryIdentity& kept)
{
    return now && now->directory && !now->link && now->device == kept.device && now->inode == kept.inode;
}

// Opens every directory from the base down to the place's parent, each checked to be the one the search found.
MoveRefusal HoldParent(TrashSystem& system, const TrashRequest& request, Held& held, Checked& checked)
{
    std::vector<const KeptDirectory*> up;
    for (const KeptDirectory* dir = request.place.file ? request.place.dir : request.place.dir->parent; dir;
         dir = dir->parent)
        up.push_back(dir);
    checked.parent = held.Keep(system.OpenBase(request.tree.BasePath()));
    for (auto dir = up.rbegin();;) {
        if (checked.parent < 0)
            return checked.parent == -ENOENT ? MoveRefusal::Gone : MoveRefusal::Changed;
        const std::optional<EntryIdentity> now = system.Identify(checked.parent, {});
        if (!IsKeptDirectory(now, (*dir)->identity))
            return MoveRefusal::Changed;
        checked.parentIdentity = *now;
        if (++dir == up.rend())
            return MoveRefusal::None;
        checked.parent = held.Keep(system.OpenBelow(checked.parent, std::string((*dir)->Name())));
    }
}

// The entry, seen on its parent's handle, is the one the search found there.
MoveRefusal CheckEntry(TrashSystem& system, const TrashRequest& request, Checked& checked)
{
    const std::optional<KeptFile> file = FileOf(request.place);
    checked.name = file ? std::string(file->name) : std::string(request.place.dir->Name());
    const std::optional<EntryIdentity> now = system.Identify(checked.parent, checked.name);
    if (!now)
        return MoveRefusal::Gone;
    checked.entry = *now;
    // A file is known by its kind and length. On Windows a link to a directory or a junction is a directory
    // too, and counted as the entry it is.
    if (file)
        return (now->directory && !now->link) || !file->facts || now->length != file->facts->length ||
                       (file->facts->regular && now->link)
                   ? MoveRefusal::Changed
                   : MoveRefusal::None;
    if (now->volumeRoot)
        return MoveRefusal::VolumeRoot;
    if (!IsKeptDirectory(now, request.place.dir->identity))
        return MoveRefusal::Changed;
    if (system.MountedBelow(request.path))
        return MoveRefusal::HoldsVolume;
    if (const std::optional<EntryIdentity> home = system.Identify(kNoAnchor, request.home);
        home && SameEntry(*home, *now))
        return MoveRefusal::Home;
    return MoveRefusal::None;
}

MoveRefusal CheckPlace(TrashSystem& system, const TrashRequest& request, Held& held, Checked& checked)
{
    if (const MoveRefusal kept = KeptRefusal(request.tree, request.place, request.path, request.separator);
        kept != MoveRefusal::None)
        return kept;
    if (const MoveRefusal parent = HoldParent(system, request, held, checked); parent != MoveRefusal::None)
        return parent;
    return CheckEntry(system, request, checked);
}

// The directory name below at as a part of the trash: the user's own, or made where the user may write.
// opened stays -1 when it is yet to be made.
MoveRefusal UseTrashPart(TrashFolders& system, int at, const std::string& name, bool make, Held& held, int& opened)
{
    opened = -1;
    if (const std::optional<EntryIdentity> there = system.Identify(at, name)) {
        if (!there->directory || there->link || there->owner != system.User() || !system.MayWrite(at, name))
            return MoveRefusal::NoTrash;
    } else if (!system.MayWrite(at, {}) || (make && system.MakeDirectory(at, name) != 0)) {
        return MoveRefusal::NoTrash;
    } else if (!make) {
        return MoveRefusal::None;
    }
    opened = held.Keep(system.OpenBelow(at, name));
    return opened < 0 ? MoveRefusal::NoTrash : MoveRefusal::None;
}

// The highest directory of from's mount, climbing by "..", each directory passed given to visit first.
int MountTop(TrashFolders& system, int from, Held& held, const std::function<void(const EntryIdentity&)>& visit)
{
    std::optional<EntryIdentity> here = system.Identify(from, {});
    for (int at = from; here;) {
        visit(*here);
        const int up = held.Keep(system.OpenBelow(at, ".."));
        const std::optional<EntryIdentity> above = up < 0 ? std::nullopt : system.Identify(up, {});
        if (!above || !SameMount(*above, *here) || SameEntry(*above, *here))
            return at;
        at = up;
        here = above;
    }
    return -1;
}

// The home trash when it lies on the parent's mount, made as far as it is missing when make; trash stays -1
// when it is to be used but yet to be made, and is -2 when it lies elsewhere.
MoveRefusal HomeTrash(TrashFolders& system, const TrashRequest& request, const Checked& checked, bool make,
                      Held& held, int& trash)
{
    std::string existing = request.homeTrash;
    std::vector<std::string> missing;
    while ((trash = system.OpenBase(existing)) == -ENOENT) {
        const std::optional<std::string> up = ParentPath(existing);
        if (!up)
            return MoveRefusal::NoTrash;
        missing.push_back(LastPathName(existing));
        existing = *up;
    }
    const std::optional<EntryIdentity> there = held.Keep(trash) < 0 ? std::nullopt : system.Identify(trash, {});
    if (!there || !SameMount(*there, checked.parentIdentity)) {
        trash = -2;
        return MoveRefusal::None;
    }
    // A trash inside the entry would be moved into itself; the volume's own, at its top, never is.
    bool inside = false;
    MountTop(system, trash, held,
             [&](const EntryIdentity& passed) { inside = inside || SameEntry(passed, checked.entry); });
    if (inside)
        return MoveRefusal::HoldsTrash;
    for (auto name = missing.rbegin(); name != missing.rend() && trash >= 0; ++name)
        if (const MoveRefusal refusal = UseTrashPart(system, trash, *name, make, held, trash);
            refusal != MoveRefusal::None)
            return refusal;
    return MoveRefusal::None;
}

// The volume's own trash at its top: ".Trash/UID" below a sticky ".Trash", else ".Trash-UID".
MoveRefusal VolumeTrash(TrashFolders& system, const Checked& checked, bool make, Held& held, int& trash)
{
    const int top = MountTop(system, checked.parent, held, [](const EntryIdentity&) {});
    if (top < 0)
        return MoveRefusal::NoTrash;
    const std::string user = std::to_string(system.User());
    if (const std::optional<EntryIdentity> shared = system.Identify(top, ".Trash");
        shared && shared->directory && !shared->link && shared->sticky) {
        const int sharedTrash = held.Keep(system.OpenBelow(top, ".Trash"));
        if (sharedTrash >= 0 && UseTrashPart(system, sharedTrash, user, make, held, trash) == MoveRefusal::None)
            return MoveRefusal::None;
    }
    return UseTrashPart(system, top, ".Trash-" + user, make, held, trash);
}

// What the rename needs besides the entry: the user may take it from its parent, and a trash on its mount.
MoveRefusal CheckTaking(TrashFolders& system, const Checked& checked)
{
    if (system.ReadOnly(checked.parent))
        return MoveRefusal::ReadOnly;
    // In a sticky directory, such as /tmp, only an entry's owner or the directory's moves it; a directory
    // moved to another parent writes its own "..".
    const uint32_t user = system.User();
    const bool sticky = checked.parentIdentity.sticky && user != 0 && checked.parentIdentity.owner != user &&
                        checked.entry.owner != user;
    const bool directory = checked.entry.directory && !checked.entry.link;
    if (!system.MayWrite(checked.parent, {}) || sticky || (directory && !system.MayWrite(checked.parent, checked.name)))
        return MoveRefusal::NoPermission;
    // The note is named after the entry with ".trashinfo", and "-0001" when that name is taken.
    if (checked.name.size() + sizeof("-0001.trashinfo") > 256)
        return MoveRefusal::NameTooLong;
    return MoveRefusal::None;
}

struct TrashPlace {
    int files = -1;
    int info = -1;
};

MoveRefusal FindTrash(TrashFolders& system, const TrashRequest& request, const Checked& checked, bool make,
                      Held& held, TrashPlace& found)
{
    int trash = -1;
    MoveRefusal refusal = HomeTrash(system, request, checked, make, held, trash);
    if (refusal == MoveRefusal::None && trash == -2)
        refusal = VolumeTrash(system, checked, make, held, trash);
    if (refusal != MoveRefusal::None || trash < 0)
        return refusal;
    if ((refusal = UseTrashPart(system, trash, "files", make, held, found.files)) != MoveRefusal::None)
        return refusal;
    return UseTrashPart(system, trash, "info", make, held, found.info);
}

MoveRefusal CheckAll(TrashFolders& system, const TrashRequest& request, bool make, Held& held, Checked& checked,
                     TrashPlace& trash)
{
    MoveRefusal refusal = CheckPlace(system, request, held, checked);
    if (refusal == MoveRefusal::None)
        refusal = CheckTaking(system, checked);
    if (refusal == MoveRefusal::None)
        refusal = FindTrash(system, request, checked, make, held, trash);
    return refusal;
}

// A path as the note writes it: every byte but letters, digits, "-._~" and "/" as %XX.
std::string PercentEncoded(const std::string& path)
{
    std::string encoded;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            std::string_view("-._~/").find(c) != std::string_view::npos) {
            encoded += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            encoded += escape;
        }
    }
    return encoded;
}

// The note first, so that the trash never holds an entry it cannot restore; then the rename, never over an
// entry, under the first name free in both of the trash's directories.
TrashOutcome RenameIntoTrash(TrashFolders& system, const TrashRequest& request, const Checked& checked,
                             const TrashPlace& trash, std::string& trashedName)
{
    const std::string note =
        "[Trash Info]\nPath=" + PercentEncoded(request.path) + "\nDeletionDate=" + system.Now() + "\n";
    for (int taken = 0; taken < 10000; ++taken) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "-%04d", taken);
        trashedName = taken == 0 ? checked.name : checked.name + suffix;
        const std::string noteName = trashedName + ".trashinfo";
        if (const int error = system.WriteNote(trash.info, noteName, note); error != 0) {
            if (error == EEXIST)
                continue;
            return {MoveRefusal::None, error};
        }
        const int error = system.Rename(checked.parent, checked.name, trash.files, trashedName);
        if (error == 0)
            return {};
        system.Remove(trash.info, noteName);
        if (error == EINVAL)
            return {MoveRefusal::NoReplace};
        if (error == ENOENT)
            return {MoveRefusal::Gone};
        if (error != EEXIST)
            return {MoveRefusal::None, error};
    }
    return {MoveRefusal::None, EEXIST};
}

}  // namespace

TrashOutcome CheckForTrash(TrashFolders& system, const TrashRequest& request)
{
    Held held(system);
    Checked checked;
    TrashPlace trash;
    return {CheckAll(system, request, false, held, checked, trash)};
}

TrashOutcome MoveToTrash(TrashFolders& system, const TrashRequest& request)
{
    Held held(system);
    Checked checked;
    TrashPlace trash;
    if (const MoveRefusal refusal = CheckAll(system, request, true, held, checked, trash); refusal != MoveRefusal::None)
        return {refusal};
    std::string trashedName;
    if (const TrashOutcome renamed = RenameIntoTrash(system, request, checked, trash, trashedName); !renamed.Moved())
        return renamed;
    if (const std::optional<EntryIdentity> arrived = system.Identify(trash.files, trashedName);
        arrived && SameEntry(*arrived, checked.entry))
        return {};
    // Another entry took the checked one's name between the check and the rename: it goes back as it was.
    if (system.Rename(trash.files, trashedName, checked.parent, checked.name) == 0)
        system.Remove(trash.info, trashedName + ".trashinfo");
    return {MoveRefusal::Changed};
}

TrashOutcome CheckHeld(TrashSystem& system, const TrashRequest& request)
{
    Held held(system);
    Checked checked;
    return {CheckPlace(system, request, held, checked)};
}

TrashOutcome MoveByPathHeld(TrashSystem& system, const TrashRequest& request, const std::function<int()>& moveByPath)
{
    Held held(system);
    Checked checked;
    if (const MoveRefusal refusal = CheckPlace(system, request, held, checked); refusal != MoveRefusal::None)
        return {refusal};
    // The entry cannot be held while the system's trash moves it: checked once more, as late as can be.
    if (const std::optional<EntryIdentity> now = system.Identify(checked.parent, checked.name);
        !now || !SameEntry(*now, checked.entry))
        return {MoveRefusal::Changed};
    if (const int error = moveByPath(); error != 0)
        return {MoveRefusal::None, error};
    return {};
}

std::string TrashFailureText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return "権限がありません。";
    case ENOSPC: return "ディスクに空きがありません。";
    case EROFS: return "読み取り専用のボリュームです。";
    case EXDEV: return "ごみ箱が別のボリュームにあります。";
    case EBUSY: return "使用中です。";
    case ENAMETOOLONG: return "名前が長すぎます。";
    case EEXIST: return "ごみ箱に同じ名前の項目が多すぎます。";
    case EIO: return "ディスクの読み書きに失敗しました。";
    case ECANCELED: return "ごみ箱が受け取りませんでした。";
    default: return "エラー番号 " + std::to_string(error) + " で失敗しました。";
    }
}

}  // namespace murako
