#include "walk_places.h"

namespace murako {

void ChildTallies::Set(size_t index, const SubtreeTally& tally)
{
    sizes_[index] = tally.size;
    entries_.fetch_add(tally.count.entries, std::memory_order_relaxed);
    excluded_.fetch_add(tally.count.excluded, std::memory_order_relaxed);
    ModifiedTime newest = newest_.load(std::memory_order_relaxed);
    while (Newer(newest, tally.newest) != newest &&
           !newest_.compare_exchange_weak(newest, tally.newest, std::memory_order_relaxed)) {
    }
}

SubtreeTally ChildTallies::Sum(SubtreeTally own) const
{
    for (const int64_t size : sizes_)
        AddUnlessOverflow(own.size, size);
    own.count.entries += entries_.load(std::memory_order_relaxed);
    own.count.excluded += excluded_.load(std::memory_order_relaxed);
    own.newest = Newer(own.newest, newest_.load(std::memory_order_relaxed));
    return own;
}

bool WalkPlaces::BaseExcluded() const
{
    const WalkScope* scope = context_.scope;
    if (!scope || scope->patterns.Empty())
        return false;
    std::string path = scope->basePath;
    while (path.size() > 1 && path.back() == context_.separator)
        path.pop_back();
    return scope->patterns.Excludes(path);
}

void WalkPlaces::NoteBase(const Directory* base)
{
    if (context_.scope && context_.scope->oneFileSystem)
        baseIdentity_ = base ? base->Identity() : std::nullopt;
}

std::string WalkPlaces::PatternPath(const WalkNode* parent, size_t index) const
{
    if (!context_.scope || context_.scope->patterns.Empty())
        return {};
    if (!parent)
        return context_.scope->basePath;
    std::string path = parent->path;
    if (path.empty() || path.back() != context_.separator)
        path += context_.separator;
    return path.append(parent->names[index]);
}

KeptDirectory* WalkPlaces::Keep(const WalkNode* parent, size_t index, const Directory* dir) const
{
    if (!context_.tree)
        return nullptr;
    const std::optional<DirectoryIdentity> identity = dir ? dir->Identity() : std::nullopt;
    return context_.tree->AddDirectory(parent ? parent->kept : nullptr, index,
                                       parent ? parent->names[index] : std::string_view(),
                                       identity.value_or(DirectoryIdentity{}), dir ? dir->Modified() : kTimeUnknown);
}

void WalkPlaces::TellUnread(const WalkNode* parent, size_t index, ReadFailure failure) const
{
    if (context_.rows)
        context_.rows->Unread(RowOf(parent, index), PathBelowRow(parent, index), failure);
}

bool WalkPlaces::MayEnter(const WalkNode* parent, size_t index, const Directory& dir, KeptDirectory*& kept,
                          WayStep& way)
{
    if (loops_.Closes(parent ? &parent->way : nullptr, dir, way)) {
        MarkKept(kept, ReadFailure::Loop);
        TellUnread(parent, index, ReadFailure::Loop);
        return false;
    }
    const std::optional<DirectoryIdentity> identity = dir.Identity();
    if (baseIdentity_ && identity && identity->device != baseIdentity_->device) {
        const std::string type = TypeOf(dir, identity->device);
        if (kept)
            kept = &context_.tree->SetOtherFileSystem(*kept, type);
        if (context_.rows)
            context_.rows->OtherFileSystem(RowOf(parent, index), PathBelowRow(parent, index), type);
        return false;
    }
    if (dir.IsPseudoFileSystem()) {
        if (kept)
            kept->flags |= KeptDirectory::PseudoFileSystem;
        if (context_.rows)
            context_.rows->NotEntered(RowOf(parent, index), PathBelowRow(parent, index));
    }
    return true;
}

std::optional<size_t> WalkPlaces::RowOf(const WalkNode* parent, size_t index)
{
    if (!parent)
        return std::nullopt;
    for (; parent->parent; parent = parent->parent)
        index = parent->index;
    return index;
}

std::string WalkPlaces::PathBelowRow(const WalkNode* parent, size_t index) const
{
    std::vector<std::string_view> below;
    for (; parent && parent->parent; parent = parent->parent) {
        below.push_back(parent->names[index]);
        index = parent->index;
    }
    std::string path;
    for (auto it = below.rbegin(); it != below.rend(); ++it)
        path.append(path.empty() ? "" : std::string(1, context_.separator)).append(*it);
    return path;
}

std::string WalkPlaces::TypeOf(const Directory& dir, uint64_t device) const
{
    std::string type = dir.FileSystemType();
    if (type.empty() && context_.mountedTypes)
        if (const auto found = context_.mountedTypes->find(device); found != context_.mountedTypes->end())
            type = found->second;
    return type;
}

}  // namespace murako
