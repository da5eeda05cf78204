#include "move_away.h"

#include <vector>

#include "path_text.h"

namespace murako {

std::optional<KeptFile> FileOf(const KeptPlace& place)
{
    if (!place.file || !place.dir)
        return std::nullopt;
    std::optional<KeptFile> found;
    uint32_t index = 0;
    ForEachFile(*place.dir, [&](const KeptFile& file) {
        if (index++ == *place.file)
            found = file;
    });
    return found;
}

HeldEntries EntriesHeld(const KeptDirectory& dir)
{
    HeldEntries held;
    std::vector<const KeptDirectory*> stack{&dir};
    while (!stack.empty()) {
        const KeptDirectory* next = stack.back();
        stack.pop_back();
        held.files += next->fileCount - next->movedFiles;
        for (uint32_t i = 0; i < next->childCount; ++i)
            if (const KeptDirectory* child = next->children[i]; child && !(child->flags & KeptDirectory::Moved)) {
                ++held.directories;
                stack.push_back(child);
            }
    }
    return held;
}

namespace {

bool SameDirectory(const EntryIdentity& now, const KeptDirectory& dir)
{
    return now.directory && !now.link && now.device == dir.identity.device && now.inode == dir.identity.inode;
}

// A file is known by its directory, which must still be the one searched, and its kind and length.
MoveRefusal CheckFile(const KeptPlace& place, const std::string& path, const std::string& parentPath)
{
    const std::optional<KeptFile> file = FileOf(place);
    if (!file)
        return MoveRefusal::Gone;
    if (file->moved)
        return MoveRefusal::AlreadyMoved;
    const std::optional<EntryIdentity> parent = IdentifyEntry(parentPath);
    const std::optional<EntryIdentity> now = IdentifyEntry(path);
    if (!now)
        return MoveRefusal::Gone;
    // On Windows a link to a directory or a junction is a directory too, and counted as the entry it is.
    if (!parent || !SameDirectory(*parent, *place.dir) || (now->directory && !now->link) || !file->facts ||
        now->length != file->facts->length || (file->facts->regular && now->link))
        return MoveRefusal::Changed;
    return MoveRefusal::None;
}

}  // namespace

MoveRefusal CheckMove(const KeptTree& tree, const KeptPlace& place, const std::string& path, const std::string& home,
                      char separator)
{
    if (!place.dir)
        return MoveRefusal::Gone;
    if (!place.file && place.dir == tree.Base())
        return MoveRefusal::Base;
    const std::optional<std::string> parentPath = ParentPath(path);
    const KeptDirectory* found = place.file ? (parentPath ? tree.Find(*parentPath, separator) : nullptr)
                                            : tree.Find(path, separator);
    if (found != place.dir)
        return MoveRefusal::Outside;
    for (const KeptDirectory* up = place.dir; up; up = up->parent)
        if (up->flags & KeptDirectory::Moved)
            return MoveRefusal::AlreadyMoved;
    if (place.file)
        return CheckFile(place, path, *parentPath);
    const std::optional<EntryIdentity> now = IdentifyEntry(path);
    if (!now)
        return MoveRefusal::Gone;
    if (now->volumeRoot)
        return MoveRefusal::VolumeRoot;
    if (!SameDirectory(*now, *place.dir))
        return MoveRefusal::Changed;
    if (VolumeMountedBelow(path))
        return MoveRefusal::HoldsVolume;
    if (const std::optional<EntryIdentity> homeNow = IdentifyEntry(home);
        homeNow && homeNow->device == now->device && homeNow->inode == now->inode)
        return MoveRefusal::Home;
    return MoveRefusal::None;
}

std::string MoveRefusalText(MoveRefusal refusal)
{
    switch (refusal) {
    case MoveRefusal::None: break;
    case MoveRefusal::Base: return "検索したディレクトリそのものはごみ箱に移動できません";
    case MoveRefusal::Outside: return "検索したディレクトリの外にあるため、ごみ箱に移動できません";
    case MoveRefusal::VolumeRoot: return "ボリュームのルートはごみ箱に移動できません";
    case MoveRefusal::Home: return "ホームディレクトリはごみ箱に移動できません";
    case MoveRefusal::Gone: return "検索の後に削除されたため、ごみ箱に移動できません";
    case MoveRefusal::Changed: return "検索の後に別のものに置き換えられたため、ごみ箱に移動しませんでした";
    case MoveRefusal::AlreadyMoved: return "すでにごみ箱に移動しました";
    case MoveRefusal::HoldsVolume: return "中に別のボリュームがマウントされているため、ごみ箱に移動できません";
    case MoveRefusal::ReadOnly: return "読み取り専用のボリュームにあるため、ごみ箱に移動できません";
    case MoveRefusal::NoPermission: return "フォルダーに書き込む権限がないため、ごみ箱に移動できません";
    case MoveRefusal::NoTrash: return "このボリュームに使えるごみ箱がなく、作ることもできないため、ごみ箱に移動できません";
    case MoveRefusal::NameTooLong: return "名前が長すぎてごみ箱に記録できないため、ごみ箱に移動できません";
    case MoveRefusal::NameNotText: return "名前に UTF-8 でないバイトがあるため、ごみ箱に移動できません";
    }
    return {};
}

}  // namespace murako
