// A directory of a kept tree found by its path, and what was moved away marked in it.
#include <string>
#include <string_view>

#include "kept_tree.h"

namespace murako {

const KeptDirectory* KeptDirectory::Child(std::string_view name) const
{
    for (uint32_t i = 0; i < ChildCount(); ++i)
        if (Children()[i] && Children()[i]->Name() == name)
            return Children()[i];
    return nullptr;
}

const KeptDirectory* KeptTree::Find(const std::string& path, char separator) const
{
    std::string_view base = basePath_;
    while (base.size() > 1 && base.back() == separator)
        base.remove_suffix(1);
    std::string_view rest = path;
    if (!base_ || rest.substr(0, base.size()) != base)
        return nullptr;
    rest.remove_prefix(base.size());
    if (!rest.empty() && rest.front() != separator && base.back() != separator)
        return nullptr;  // a sibling whose name begins with the base's
    const KeptDirectory* dir = base_;
    while (dir && !rest.empty()) {
        const size_t start = rest.find_first_not_of(separator);
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const size_t end = rest.find(separator);
        dir = dir->Child(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    return dir;
}

void KeptTree::MarkMoved(const KeptDirectory& dir)
{
    auto& moved = const_cast<KeptDirectory&>(dir);
    if (moved.flags & KeptDirectory::Moved)
        return;
    moved.flags |= KeptDirectory::Moved;
    // Another link of a file it held may be met first now, anywhere in the tree.
    if (moved.LinkedBelow() > 0)
        Complete();
    else if (moved.parent)
        SumAbove(*moved.parent);
}

void KeptTree::MarkFileMoved(const KeptDirectory& dir, uint32_t file)
{
    auto& changed = const_cast<KeptDirectory&>(dir);
    bool counted = false;
    ForEachFile(dir, [&](const KeptFile& kept) {
        uint8_t& flags = *const_cast<uint8_t*>(kept.record);
        if (kept.index != file || kept.moved)
            return;
        KeptDirectory::Contents& held = changed.Held();
        if (kept.facts) {
            held.ownLength -= kept.facts->length;
            counted = !kept.countedElsewhere;
            if (counted)
                held.ownOnDisk -= kept.facts->onDisk;
        }
        flags = static_cast<uint8_t>((flags | kept_files::Moved) & ~kept_files::CountedElsewhere);
        ++held.movedFiles;
        // A link of several counted here leaves its space to the link met next.
        counted = counted && (flags & kept_files::Linked);
    });
    if (counted)
        Complete();
    else
        SumAbove(changed);
}

}  // namespace murako
