#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_system.h"
#include "kept_compare.h"
#include "kept_tree.h"
#include "kept_view.h"
#include "move_away.h"
#include "run_host.h"
#include "results_table.h"
#include "row_order.h"
#include "shown_rows.h"
#include "size_units.h"

namespace murako {

// The controls a run changes when it starts and ends, member by member.
class SearchPresentation {
public:
    virtual ~SearchPresentation() = default;
    virtual void SetSearchCaption(const std::string& caption) = 0;  // the search button's caption
    virtual void SetExitVisible(bool visible) = 0;                  // the exit button
    virtual void SetStatusText(const std::string& text) = 0;        // the status bar's first panel
    virtual void SetBusyPointer(bool busy) = 0;                     // hourglass or default pointer
    virtual void SetDivisorEnabled(bool enabled) = 0;               // the "キロ単位" frame
    virtual void SetUnitEnabled(bool enabled) = 0;                  // the "単位" frame
    virtual void SetDriveListEnabled(bool enabled) = 0;
    virtual void SetDirListEnabled(bool enabled) = 0;
    virtual void Refresh() = 0;  // repaint the window now
    // The status bar's second panel: the entries counted while a run is busy, the run's summary after it.
    virtual void SetProgressText(const std::string& text) = 0;
};

// Between the parts of the second panel's summary: entries, seconds or "中断", unread directories.
inline constexpr const char* ProgressSeparator = "　";

// What the user chose; read once at the start of each run. Any of these may throw.
class SearchChoices {
public:
    virtual ~SearchChoices() = default;
    virtual std::string HighlightedPath() = 0;  // full path of the highlighted directory entry
    virtual bool DivisorIs1024() = 0;           // "1024" selected rather than "1000"
    virtual bool UnitIsKb() = 0;                // "kb" selected rather than "Mb"
};

struct RunState;
struct RunEvent;
struct WalkThreadCounts;
class HostLink;

// The search button's logic: starts a run, or cancels the run in progress.
class SearchController {
public:
    struct Options {
        // 0: a count the walk adapts, up to 128; else that many (1: a serial walk); never more than the file
        // system serves.
        int threads = 0;
        // Told of every row written with its size in bytes, for callers that want more than the text; the
        // table's facts of the row are in place by then.
        std::function<void(int32_t row, const std::string& name, int64_t bytes)> rowWritten;
        // Told on the walking thread, as the walk ends, of the thread counts it chose.
        std::function<void(const WalkThreadCounts& counts)> walkThreads{};
        NameRanks nameRanks = RanksInByteOrder;  // the user's collation, for ordering rows by name
        // Whether a run keeps every entry it counts, so that the directories below can be shown without the
        // disk, and told of the tree once it is complete.
        bool keepTree = false;
        std::function<void(const KeptTree& tree)> treeKept{};
        SizeMeasure measure = SizeMeasure::Length;
        SearchScope scope{};  // what the runs leave out; patterns refused by ExcludePatterns::Make are not given
    };

    // The file system is shared with the run's threads, which may outlive the controller.
    SearchController(ResultsTable& table, SearchPresentation& presentation, SearchChoices& choices,
                     std::shared_ptr<FileSystem> fileSystem, RunHost& host, Options options);
    SearchController(ResultsTable& table, SearchPresentation& presentation, SearchChoices& choices,
                     std::shared_ptr<FileSystem> fileSystem, RunHost& host);
    ~SearchController();

    SearchController(const SearchController&) = delete;
    SearchController& operator=(const SearchController&) = delete;

    void Command1_Click();
    // Searches the shown directory again; once done, its subtree takes its old place in the kept tree and the
    // totals above it follow. Nothing while a run is busy or before any directory is shown.
    void SearchShownAgain();
    // Shows path's rows from the kept tree, as a search of it would; false when no run is busy, the tree is
    // kept and path lies in it; otherwise nothing changes.
    bool ShowKept(const std::string& path);
    // Takes tree, read from a file, for the kept tree and shows its base as a finished search would, with
    // sourceNote (the file and its date) in the second panel while rows of it are shown. Nothing while a run
    // is busy.
    void ShowImported(std::unique_ptr<KeptTree> tree, std::string sourceNote);
    // Whether the kept tree was read from a file: its places are not this computer's to act on.
    bool KeptImported() const { return view_.Imported(); }
    // A place of the kept tree was moved away: the tree and the rows shown lose it, the current row staying.
    void MovedAway(const KeptPlace& place);
    // Compares the rows shown with comparison's older search from now on, going down and up with them, until
    // EndComparison, another tree is shown or a search starts; shows the rows shown again, compared. False,
    // with nothing changed, while a run is busy or the directory shown is not in the kept tree.
    bool Compare(std::unique_ptr<KeptComparison> comparison);
    // The rows shown lose their comparison, and an order by the change gives way to the listing's.
    void EndComparison();
    const KeptComparison* Comparison() const { return view_.Comparison(); }
    // Counts sizes by measure from now on; the rows shown are counted again from the kept tree.
    void SetMeasure(SizeMeasure measure);
    SizeMeasure Measure() const { return view_.Measure(); }
    // What later runs leave out; a run under way keeps what it began with.
    void SetScope(SearchScope scope) { options_.scope = std::move(scope); }
    const SearchScope& Scope() const { return options_.scope; }
    // The tree of the last run that completed; nullptr when none is kept.
    const KeptTree* Kept() const { return view_.Tree(); }
    // Whether the rows shown come from the kept tree rather than a search just made.
    bool ShowingKept() const { return shown_.FromMemory(); }

    // Shows the entries counted so far in the second panel while a run is busy; the window calls it a few
    // times a second, since the walk itself never posts its progress.
    void ShowProgress();

    // The order of the table's data rows: applied now when no run is busy, else as the run ends (with its total,
    // or once a cancelled walk has let go, after the row it cut short), and kept for later runs, whose rows
    // arrive in listing order. A run that ends in any other order than the listing's makes its first data row
    // current, so that the view shows the top of the table.
    void SetSortOrder(SortOrder order);
    SortOrder Order() const { return view_.Order(); }

    // The directory whose rows the table shows, ending in "/"; empty before any run has shown its listing.
    const std::string& ShownPath() const { return view_.ShownPath(); }
    // What the rows show of the kept tree, which says when it changes; the table and the status bar follow it
    // while no run is busy.
    KeptView& View() { return view_; }
    // The directory of the last run started, ending in "/"; empty before the first.
    std::string SearchedPath() const;

    // The current run's busy flag.
    bool Searching() const;
    // The names the last run has listed below its directory, "." and ".." left out.
    int64_t EntriesCounted() const;
    const SizeUnits& Units() const { return units_; }
    void SetGroupSeparator(std::string separator) { units_.GroupSeparator = std::move(separator); }

    // Cancels every run and lets go of the host: nothing is written or posted afterwards. Waits a moment
    // for the walks to stop; a walk stuck in a system call is left to end on its own.
    void Shutdown();

private:
    void StartRun(std::optional<std::string> path = std::nullopt, bool again = false);
    void ReadUnits();
    void KeepTree(RunState& run);
    // The walk of run as its worker does it, posting what it finds to the UI thread.
    std::function<void()> WorkOf(const std::shared_ptr<RunState>& run);
    void Drain(RunState& run);
    // run's total is in: the table, the controls and the kept tree take the finished search.
    void Finish(RunState& run, const RunEvent& event);
    // run's walk is over, its total written or not: a cancelled run keeps what it counted, a failed one says why.
    void WalkEnded(RunState& run, const RunEvent& event);
    void WriteRow(const RunEvent& event);
    std::string Summary(const RunState& run, const UnreadPlaces& unread) const;
    void ReapFinishedWorkers();

    ResultsTable& table_;
    SearchPresentation& presentation_;
    SearchChoices& choices_;
    std::shared_ptr<FileSystem> fileSystem_;
    Options options_;
    SizeUnits units_;
    KeptView view_;
    bool keepingTree_ = false;  // a run's tree being kept: the rows shown stay the run's
    ShownRows shown_;
    std::shared_ptr<HostLink> host_;
    // Queued UI calls of runs check it, since they may outlive the controller; a host that applies them at once
    // does so on the walking thread.
    std::shared_ptr<std::atomic<bool>> alive_;
    std::shared_ptr<RunState> current_;
    std::vector<std::pair<std::shared_ptr<RunState>, std::thread>> workers_;
};

}  // namespace murako
