#include "rows_in_order.h"

#include <stdexcept>
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
    total_ = listing.filesSize;
    totalCount_ = {listing.fileCount + static_cast<int64_t>(names_.Size()), listing.excluded};
    totalNewest_ = Newer(listing.modified, listing.newestFile);
    listed_ = true;
    post_({.kind = RunEvent::Kind::Listed, .row = 1, .name = kRootFilesName, .size = listing.filesSize,
           .unread = totalUnread_, .count = EntryCount{listing.fileCount, listing.excluded},
           .newest = listing.newestFile});
}

void RowsInOrder::RowNewest(size_t row, ModifiedTime newest)
{
    std::lock_guard lock(mutex_);
    done_[row].newest = newest;
}

void RowsInOrder::RowCounted(size_t row, const EntryCount& count)
{
    std::lock_guard lock(mutex_);
    done_[row].count = count;
}

void RowsInOrder::OtherFileSystem(std::optional<size_t> row, const std::string& path, const std::string& type)
{
    std::lock_guard lock(mutex_);
    const std::string place = DisplayName(row ? PathOf(*row, path) : basePath_);
    otherFileSystems_.Add(row, {type.empty() ? place : DisplayName(type) + ", " + place, ReadFailure::None});
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
    Done& done = done_[row];
    done.size = size;
    done.finished = true;
    for (auto next = done_.begin(); next != done_.end() && next->first == next_ && next->second.finished;
         next = done_.begin()) {
        const Done posted = next->second;
        done_.erase(next);
        PostRow(next_, posted.size, posted.count, posted.newest);
        AddUnlessOverflow(total_, posted.size);
        totalCount_.entries += posted.count.entries;
        totalCount_.excluded += posted.count.excluded;
        totalNewest_ = Newer(totalNewest_, posted.newest);
        ++next_;
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

std::string_view RowsInOrder::NameOf(size_t row) const
{
    if (row >= names_.Size())
        throw std::out_of_range("no row " + std::to_string(row));
    return names_[row];
}

std::string RowsInOrder::PathOf(size_t row, const std::string& path) const
{
    std::string fullPath = basePath_;
    fullPath += NameOf(row);
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
        post_({.kind = RunEvent::Kind::Total, .row = static_cast<int32_t>(names_.Size() + 2),
               .name = DisplayName(basePath_) + kTotalSuffix, .size = total_, .unread = totalUnread_,
               .notEntered = notEntered_.total, .count = totalCount_, .newest = totalNewest_,
               .otherFileSystems = otherFileSystems_.total, .baseExcluded = baseExcluded_});
    } else if (interrupted_ && next_ < names_.Size()) {
        PostRow(next_, 0, std::nullopt, kTimeUnknown, true);
    }
}

void RowsInOrder::PostRow(size_t row, int64_t size, std::optional<EntryCount> count, ModifiedTime newest,
                          bool interrupted)
{
    UnreadPlaces unread;
    if (auto found = unreadByRow_.find(row); found != unreadByRow_.end()) {
        unread = std::move(found->second);
        unreadByRow_.erase(found);
    }
    totalUnread_.Merge(unread);
    const std::string_view name = NameOf(row);
    post_({RunEvent::Kind::Row, static_cast<int32_t>(row + 2), DisplayName(name), size, std::move(unread),
           interrupted, std::string(name), false, notEntered_.Take(row), moved_.count(row) != 0, count, newest,
           otherFileSystems_.Take(row)});
}

}  // namespace murako
