#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "results_table.h"
#include "walker.h"

namespace murako {

// What a run's walk posts to the thread that writes the table, in the order the table takes it.
struct RunEvent {
    enum class Kind { Listed, Row, Total, End } kind;  // End: the walk has let go, nothing follows
    int32_t row = 0;
    std::string name{};
    int64_t size = 0;
    UnreadPlaces unread{};
    bool interrupted = false;  // a cancel cut the row's walk short: its 0 counts nothing
    std::string listedName{};  // a subdirectory's name as listed
    bool cannotGoOn = false;   // End: the walk stopped for want of memory or threads
    UnreadPlaces notEntered{};  // pseudo file systems under the row, counted 0 (their failure None)
    bool moved = false;         // the row's directory was moved away since the search
    std::optional<EntryCount> count{};  // the names the row holds
    ModifiedTime newest = kTimeUnknown;  // the newest change in the row
    UnreadPlaces otherFileSystems{};     // never entered, in a search that stays on one file system
    bool baseExcluded = false;           // Total: the patterns exclude the directory searched
};

// Places of one kind under each row, and under the base itself: each row takes its own, the total all of them.
struct PlacesByRow {
    UnreadPlaces total;  // the base's own until the rows are added in
    std::map<size_t, UnreadPlaces> byRow;  // few rows have any

    void Add(std::optional<size_t> row, UnreadPlaces::Place place);
    // Row's places, now added to the total.
    UnreadPlaces Take(size_t row);
};

// Posts the row of each subdirectory once every row listed before it is posted, and adds up the total in
// listing order, so that the table and the total come out the same whatever order the walks finish in.
// Each row carries the places under it that could not be read, and the total all of them.
class RowsInOrder : public WalkRows {
public:
    RowsInOrder(const std::string& basePath, char separator, const std::function<void(RunEvent)>& post)
        : basePath_(basePath), separator_(separator), post_(post)
    {
    }

    void BaseListed(const Listing& listing) override;
    void RowFinished(size_t row, int64_t size) override;
    void RowInterrupted(size_t) override;
    void Unread(std::optional<size_t> row, const std::string& path, ReadFailure failure) override;
    void NotEntered(std::optional<size_t> row, const std::string& path) override;
    void Moved(size_t row) override;
    void RowCounted(size_t row, const EntryCount& count) override;
    void RowNewest(size_t row, ModifiedTime newest) override;
    void OtherFileSystem(std::optional<size_t> row, const std::string& path, const std::string& type) override;
    void BaseExcluded() override;

    // The base could not be opened: its own row and the total say why.
    void PostUnopened(ReadFailure failure);
    // What the walk ended with: the total, or after a cancel the row whose walk it cut short, with 0. Nothing
    // when the cancel came during the base's own listing.
    void PostEnd(bool cancelled);

private:
    void PostRow(size_t row, int64_t size, std::optional<EntryCount> count, ModifiedTime newest,
                 bool interrupted = false);
    std::string_view NameOf(size_t row) const;
    // The full path of a place at path below row's directory.
    std::string PathOf(size_t row, const std::string& path) const;

    const std::string& basePath_;
    const char separator_;
    const std::function<void(RunEvent)>& post_;
    std::mutex mutex_;  // rows finish on any walking thread
    bool listed_ = false;
    PackedNames names_;  // the walk's own: the rows hold no copy of a wide directory's names
    // Rows counted or finished and not yet posted: the few whose walks run ahead of the next one.
    struct Done {
        int64_t size = 0;
        EntryCount count;
        ModifiedTime newest = kTimeUnknown;
        bool finished = false;
    };
    std::map<size_t, Done> done_;
    EntryCount totalCount_;
    ModifiedTime totalNewest_ = kTimeUnknown;
    bool baseExcluded_ = false;
    PlacesByRow otherFileSystems_;
    size_t next_ = 0;
    int64_t total_ = 0;
    bool interrupted_ = false;
    UnreadPlaces totalUnread_;  // the base's own until the rows are added in
    std::map<size_t, UnreadPlaces> unreadByRow_;  // few rows have any
    PlacesByRow notEntered_;  // pseudo file systems
    std::set<size_t> moved_;
};

}  // namespace murako
