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
    finished_.resize(names_.size());
    total_ = listing.filesSize;
    listed_ = true;
    post_({.kind = RunEvent::Kind::Listed, .row = 1, .name = kRootFilesName, .size = listing.filesSize,
           .unread = totalUnread_});
}

void RowsInOrder::RowFinished(size_t row, int64_t size)
{
    std::lock_guard lock(mutex_);
    sizes_[row] = size;
    finished_[row] = 1;
    for (; next_ < names_.size() && finished_[next_]; ++next_) {
        PostRow(next_, sizes_[next_]);
        AddUnlessOverflow(total_, sizes_[next_]);
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
    if (!row) {
        totalNotEntered_.Add({DisplayName(basePath_), ReadFailure::None});
        return;
    }
    notEnteredByRow_[*row].Add({DisplayName(PathOf(*row, path)), ReadFailure::None});
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
               .notEntered = totalNotEntered_});
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
    UnreadPlaces notEntered;
    if (auto found = notEnteredByRow_.find(row); found != notEnteredByRow_.end()) {
        notEntered = std::move(found->second);
        notEnteredByRow_.erase(found);
    }
    totalNotEntered_.Merge(notEntered);
    post_({RunEvent::Kind::Row, static_cast<int32_t>(row + 2), DisplayName(names_[row]), size, std::move(unread),
           interrupted, names_[row], false, std::move(notEntered), moved_.count(row) != 0});
}

}  // namespace murako
