#include "tell_kept.h"

#include <string>
#include <vector>

#include "kept_counts.h"
#include "walker.h"

namespace murako {

namespace {

// The unread places and pseudo file systems of row's subtree, only those subtrees that hold one gone into.
void TellMarked(const KeptDirectory& child, uint32_t row, char separator, WalkRows& rows)
{
    std::vector<std::string> paths;  // by depth below child, the path of the directory met there
    for (KeptWalk walk(child, KeptWalk::Scope::Directories); walk.Next();) {
        const KeptDirectory& dir = walk.Directory();
        if (dir.UnreadBelow() == 0 && dir.MarkedBelow() == 0) {
            walk.PassOver();
            continue;
        }
        paths.resize(walk.Depth() + 1);
        if (walk.Depth() > 0)
            paths.back() = walk.Depth() == 1 ? std::string(dir.Name())
                                             : paths[walk.Depth() - 1] + separator + std::string(dir.Name());
        if (dir.failure != ReadFailure::None)
            rows.Unread(row, paths.back(), dir.failure);
        if (dir.flags & KeptDirectory::PseudoFileSystem)
            rows.NotEntered(row, paths.back());
        if (dir.flags & KeptDirectory::OtherFileSystem)
            rows.OtherFileSystem(row, paths.back(), std::string(dir.OtherFileSystemType()));
    }
}

}  // namespace

bool TellKept(const KeptDirectory& dir, SizeMeasure measure, char separator, WalkRows& rows)
{
    const KeptCounts counts(dir, measure);
    if (dir.failure != ReadFailure::None)
        rows.Unread(std::nullopt, {}, dir.failure);
    if (dir.flags & KeptDirectory::PseudoFileSystem)
        rows.NotEntered(std::nullopt, {});
    Listing listing;
    listing.filesSize = counts.Own(dir);
    listing.failure = dir.failure;
    listing.fileCount = static_cast<int64_t>(dir.FileCount()) - dir.MovedFiles();
    listing.excluded = dir.ExcludedNames();
    listing.modified = dir.Modified();
    listing.newestFile = NewestOwnFile(dir);
    for (uint32_t i = 0; i < dir.ChildCount(); ++i)
        listing.subdirectories.Add(dir.Children()[i] ? dir.Children()[i]->Name() : std::string_view());
    rows.BaseListed(listing);
    for (uint32_t row = 0; row < dir.ChildCount(); ++row) {
        const KeptDirectory* child = dir.Children()[row];
        // As the cancel left the rows: those before the row it cut short, then that row, and nothing after.
        if (!child || (child->flags & KeptDirectory::CutShort)) {
            rows.RowInterrupted(row);
            return false;
        }
        if (child->flags & KeptDirectory::Moved) {
            rows.Moved(row);
            rows.RowFinished(row, 0);
            continue;
        }
        TellMarked(*child, row, separator, rows);
        rows.RowCounted(row, {child->Entries(), child->ExcludedBelow()});
        rows.RowNewest(row, child->Newest());
        rows.RowFinished(row, counts.Size(*child));
    }
    return !(dir.flags & KeptDirectory::CutShort);
}

}  // namespace murako
