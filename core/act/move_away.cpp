#include "move_away.h"

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
    for (KeptWalk walk(dir, KeptWalk::Scope::Directories); walk.Next();) {
        const KeptDirectory& met = walk.Directory();
        held.files += met.FileCount() - met.MovedFiles();
        held.directories += &met != &dir;
    }
    return held;
}

MoveRefusal KeptRefusal(const KeptTree& tree, const KeptPlace& place, const std::string& path, char separator)
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
    if (!place.file)
        return MoveRefusal::None;
    const std::optional<KeptFile> file = FileOf(place);
    if (!file)
        return MoveRefusal::Gone;
    return file->moved ? MoveRefusal::AlreadyMoved : MoveRefusal::None;
}

std::string MoveRefusalText(MoveRefusal refusal)
{
    switch (refusal) {
    case MoveRefusal::None: break;
    case MoveRefusal::Base: return "検索したフォルダー自身はごみ箱に移動できません";
    case MoveRefusal::Shown:
        return "表示しているフォルダー自身はここからごみ箱に移動できません。一つ上のフォルダーで選んでください";
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
    case MoveRefusal::HoldsTrash: return "ごみ箱がこの中にあるため、ごみ箱に移動できません";
    case MoveRefusal::NoReplace:
        return "このボリュームは既存の項目を置き換えない名前の変更ができないため、ごみ箱に移動できません";
    }
    return {};
}

}  // namespace murako
