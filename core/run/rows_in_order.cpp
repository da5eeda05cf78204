#include "rows_in_order.h"

#include <utility>

#include "text.h"

namespace murako {

namespace {

const char* const kRootFilesName = "[Root Files]";
const char* const kTotalSuffix = "合計";

}  // namespace

void RowsInOrder::BaseListed(const Listing& listing)
{
    std::lock_guard lock(mutex_);
    names_ = listing.subdirectories;
    sizes_.resize(names_.size());
    counts_.resize(names_.size());
    newest_.assign(names_.size(), kTimeUnknown);
    finished_.resize(names_.size());
    total_ = listing.filesSize;
    totalCount_ = {listing.fileCount + static_cast<int64_t>(names_.size()), listing.excluded};
    totalNewest_ = Newer(listing.modified, listing.newestFile);
    listed_ = true;
    post_({.kind = RunEvent::Kind::Listed, .row = 1, .name = kRootFilesName, .size = listing.filesSize,
           .unread = totalUnread_, .count = EntryCount{listing.fileCount, listing.excluded},
           .newest = listing.newestFile});
}

void RowsInOrder::RowNewest(size_t row, ModifiedTime newest)
{
    std::lock_guard lock(mutex_);
    newest_[row] = newest;
}

void RowsInOrder::RowCounted(size_t row, const EntryCount& count)
{
    std::lock_guard lock(mutex_);
    counts_[row] = count;
}

void RowsInOrder::OtherFileSystem(std::optional<size_t> row, const std::string& path)
{
    std::lock_guard lock(mutex_);
    otherFileSystems_.Add(row, {DisplayName(row ? PathOf(*row, path) : basePath_), ReadFailure::None});
}

void RowsInOrder::BaseExcluded()
{
    BaseListed(Listing{});
    std::lock_guard lock(mutex_);
    baseExcluded_ = true;
}

void PlacesByRow::Add(std::optional<size_t> row, UnreadPlaces::Place place)
{
    (row ? byRow[*row] : total).Add(std::move(place));
}

UnreadPlaces PlacesByRow::Take(size_t row)
{
    UnreadPlaces places;
    if (auto found = byRow.find(row); found != byRow.end()) {
        places = std::move(found->second);
        byRow.erase(found);
    }
    total.Merge(places);
    return places;
}

void RowsInOrder::RowFinished(size_t row, int64_t size)
{
    std::lock_guard lock(mutex_);
    sizes_[row] = size;
    finished_[row] = 1;
    for (; next_ < names_.size() && finished_[next_]; ++next_) {
        PostRow(next_, sizes_[next_]);
        AddUnlessOverflow(total_, sizes_[next_]);
        totalCount_.entries += counts_[next_].entries;
        totalCount_.excluded += counts_[next_].excluded;
        totalNewest_ = Newer(totalNewest_, newest_[next_]);
    }
}

void RowsInOrder::RowInterrupted(size_t)
{
    std::lock_guard lock(mutex_);
    interrupted_ = true;
}

void RowsInOrder::Unread(std::optional<size_t> row, const std::string& path, ReadFailure failure)
{
    std::lock_guard lock(mutex_);
    if (!row) {
        totalUnread_.Add({DisplayName(basePath_), failure});
        return;
    }
    unreadByRow_[*row].Add({DisplayName(PathOf(*row, path)), failure});
}

void RowsInOrder::NotEntered(std::optional<size_t> row, const std::string& path)
{
    std::lock_guard lock(mutex_);
    notEntered_.Add(row, {DisplayName(row ? PathOf(*row, path) : basePath_), ReadFailure::None});
}

void RowsInOrder::Moved(size_t row)
{
    std::lock_guard lock(mutex_);
    moved_.insert(row);
}

std::string RowsInOrder::PathOf(size_t row, const std::string& path) const
{
    std::string fullPath = basePath_ + names_[row];
    if (!path.empty())
        fullPath += separator_ + path;
    return fullPath;
}

void RowsInOrder::PostUnopened(ReadFailure failure)
{
    Unread(std::nullopt, {}, failure);
    BaseListed(Listing{});
    PostEnd(false);
}

void RowsInOrder::PostEnd(bool cancelled)
{
    std::lock_guard lock(mutex_);
    if (!listed_)
        return;
    if (!cancelled) {
        post_({.kind = RunEvent::Kind::Total, .row = static_cast<int32_t>(names_.size() + 2),
               .name = DisplayName(basePath_) + kTotalSuffix, .size = total_, .unread = totalUnread_,
               .notEntered = notEntered_.total, .count = totalCount_, .newest = totalNewest_,
               .otherFileSystems = otherFileSystems_.total, .baseExcluded = baseExcluded_});
    } else if (interrupted_ && next_ < names_.size()) {
        PostRow(next_, 0, true);
    }
}

void RowsInOrder::PostRow(size_t row, int64_t size, bool interrupted)
{
    UnreadPlaces unread;
    if (auto found = unreadByRow_.find(row); found != unreadByRow_.end()) {
        unread = std::move(found->second);
        unreadByRow_.erase(found);
    }
    totalUnread_.Merge(unread);
    post_({RunEvent::Kind::Row, static_cast<int32_t>(row + 2), DisplayName(names_[row]), size, std::move(unread),
           interrupted, names_[row], false, notEntered_.Take(row), moved_.count(row) != 0,
           interrupted ? std::nullopt : std::optional<EntryCount>(counts_[row]),
           interrupted ? kTimeUnknown : newest_[row], otherFileSystems_.Take(row)});
}

}  // namespace murako
