#include "kept_counts.h"

namespace murako {

namespace {

bool Linked(const KeptFile& file)
{
    return file.facts && file.facts->links > 1 && file.facts->inode != 0;
}

}  // namespace

KeptCounts::KeptCounts(const KeptDirectory& shown, SizeMeasure measure) : measure_(measure)
{
    // From the base, the tree's own count is that of a fresh search; lengths count every link anyway.
    if (measure == SizeMeasure::OnDisk && shown.parent && shown.LinkedBelow() > 0)
        CountLinks(shown);
}

void KeptCounts::CountLinks(const KeptDirectory& shown)
{
    std::unordered_set<LinkIdentity, LinkIdentityHash> met;
    for (KeptWalk walk(shown, KeptWalk::Scope::Directories); walk.Next();) {
        const KeptDirectory& dir = walk.Directory();
        if (dir.LinkedBelow() == 0) {
            walk.PassOver();
            continue;
        }
        if (!(dir.flags & KeptDirectory::HasLinkedFiles))
            continue;
        ForEachFile(dir, [&](const KeptFile& file) {
            if (file.moved || !Linked(file))
                return;
            const bool countsHere = met.insert({dir.identity.device, file.facts->inode}).second;
            if (countsHere == !file.countedElsewhere)
                return;
            countedOtherwise_.insert(file.record);
            const int64_t change = countsHere ? file.facts->onDisk : -file.facts->onDisk;
            changes_[&dir].own += change;
            for (const KeptDirectory* above = &dir; above; above = above->parent) {
                changes_[above].subtree += change;
                if (above == &shown)
                    break;
            }
        });
    }
}

int64_t KeptCounts::Size(const KeptDirectory& dir) const
{
    const auto changed = changes_.find(&dir);
    return dir.Size(measure_) + (changed == changes_.end() ? 0 : changed->second.subtree);
}

int64_t KeptCounts::Own(const KeptDirectory& dir) const
{
    const auto changed = changes_.find(&dir);
    return dir.Own(measure_) + (changed == changes_.end() ? 0 : changed->second.own);
}

int64_t KeptCounts::FileSize(const KeptFile& file) const
{
    if (measure_ == SizeMeasure::Length || !countedOtherwise_.contains(file.record))
        return KeptFileSize(file, measure_);
    return file.countedElsewhere && file.facts && !file.moved ? file.facts->onDisk : 0;
}

}  // namespace murako
