#include "search_run.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <span>
#include <system_error>
#include <utility>

#include "row_texts.h"
#include "rows_in_order.h"
#include "run_state.h"
#include "skip_on_failure.h"
#include "text.h"
#include "walker.h"

namespace murako {

namespace {

const char* const kEntriesSuffix = " 個の項目";
const char* const kCannotGoOn = "メモリまたはスレッドが足りないため、検索を続けられません";

// A cancelled walk normally returns within microseconds; one stuck in a system call is not waited for.
constexpr std::chrono::milliseconds kShutdownGrace{250};

enum class PresentationStep { Caption, Exit, Status, Pointer, Divisor, Unit, DriveList, DirList, Refresh };
using enum PresentationStep;
constexpr std::array kBusySteps{Caption, Exit, Status, Pointer, Divisor, Unit, DriveList, DirList, Refresh};
constexpr std::array kIdleSteps{Caption, Exit, Pointer, Status, Divisor, Unit, DriveList, DirList};

// Sets every control of the presentation for a busy or an idle window, step by step in the given order.
void Present(SearchPresentation& presentation, bool busy, std::span<const PresentationStep> order)
{
    for (PresentationStep step : order) {
        SkipOnFailure([&] {
            switch (step) {
            case Caption: presentation.SetSearchCaption(busy ? "取消" : "検索"); break;
            case Exit: presentation.SetExitVisible(!busy); break;
            case Status: presentation.SetStatusText(busy ? "検索中..." : ""); break;
            case Pointer: presentation.SetBusyPointer(busy); break;
            case Divisor: presentation.SetDivisorEnabled(!busy); break;
            case Unit: presentation.SetUnitEnabled(!busy); break;
            case DriveList: presentation.SetDriveListEnabled(!busy); break;
            case DirList: presentation.SetDirListEnabled(!busy); break;
            case Refresh: presentation.Refresh(); break;
            }
        });
    }
}

}  // namespace

namespace {

// The run's file-system work: the base directory and everything below it in one walk, posting the results in
// listing order.
void WalkRun(RunState& run, FileSystem& fileSystem, RunHost& host, WalkPace* pace,
             const std::function<void(RunEvent)>& post)
{
    RowsInOrder rows(run.basePath, fileSystem.Separator(), post);
    ReadFailure baseFailure = ReadFailure::None;
    std::unique_ptr<Directory> base = fileSystem.Open(run.basePath, baseFailure);
    if (!base) {
        rows.PostUnopened(baseFailure);
        return;
    }
    std::string problem;
    const std::optional<WalkScope> scope = WalkScope::Make(run.scope, run.basePath, fileSystem.Separator(), problem);
    if (!scope) {
        rows.PostUnopened(ReadFailure::Other);
        return;
    }
    WalkContext context{host, run.searching, pace != nullptr, &run.entriesCounted, &rows,
                        fileSystem.Separator(), pace, run.measure, run.tree.get()};
    if (scope->oneFileSystem || scope->excludeCaches || !scope->patterns.Empty())
        context.scope = &*scope;
    // Read once per search: mounts come and go between searches.
    const MountedTypes mountedTypes = scope->oneFileSystem ? fileSystem.ReadMountedTypes() : MountedTypes{};
    context.mountedTypes = &mountedTypes;
    SumDirectory(std::move(base), context);
    const bool cancelled = !run.searching.load();
    if (run.tree) {
        // A cancelled search's tree is kept too, marked, so that what it counted can be saved.
        run.tree->SetScope(run.scope);
        run.tree->SetCutShort(cancelled);
        run.tree->CompleteWalk();
    }
    rows.PostEnd(cancelled);
}

}  // namespace

SearchController::SearchController(ResultsTable& table, SearchPresentation& presentation, SearchChoices& choices,
                                   std::shared_ptr<FileSystem> fileSystem, RunHost& host, Options options)
    : table_(table),
      presentation_(presentation),
      choices_(choices),
      fileSystem_(std::move(fileSystem)),
      options_(std::move(options)),
      view_(options_.measure),
      shown_(view_, table_, presentation_, units_, fileSystem_->Separator(), options_.nameRanks,
             [this] { return Searching() || keepingTree_; }, options_.rowWritten),
      host_(std::make_shared<HostLink>(host)),
      alive_(std::make_shared<std::atomic<bool>>(true))
{
}

SearchController::SearchController(ResultsTable& table, SearchPresentation& presentation, SearchChoices& choices,
                                   std::shared_ptr<FileSystem> fileSystem, RunHost& host)
    : SearchController(table, presentation, choices, std::move(fileSystem), host, Options{})
{
}

SearchController::~SearchController()
{
    Shutdown();
}

void SearchController::SetSortOrder(SortOrder order)
{
    view_.SetOrder(order);
}

std::string SearchController::SearchedPath() const
{
    return current_ ? current_->basePath : std::string();
}

bool SearchController::Searching() const
{
    return current_ && current_->searching.load();
}

int64_t SearchController::EntriesCounted() const
{
    return current_ ? current_->entriesCounted.load(std::memory_order_relaxed) : 0;
}

void SearchController::Command1_Click()
{
    if (Searching()) {
        current_->searching.store(false);
        Present(presentation_, false, kIdleSteps);
        SkipOnFailure([&] {
            presentation_.SetProgressText(FormatGrouped(current_->entriesCounted.load(std::memory_order_relaxed),
                                                        units_.GroupSeparator) +
                                          kEntriesSuffix + ProgressSeparator + "中断");
        });
        return;
    }
    StartRun();
}

void SearchController::ShowProgress()
{
    if (!Searching()) {
        if (shown_.FromMemory())
            shown_.TellAge();
        return;
    }
    SkipOnFailure([&] {
        presentation_.SetProgressText(
            FormatGrouped(current_->entriesCounted.load(std::memory_order_relaxed), units_.GroupSeparator) +
            kEntriesSuffix);
    });
}

void SearchController::ReadUnits()
{
    units_.KiloUnit = 1024;
    SkipOnFailure([&] { units_.KiloUnit = choices_.DivisorIs1024() ? 1024 : 1000; });
    units_.SizeUnit = "kb";
    SkipOnFailure([&] { units_.SizeUnit = choices_.UnitIsKb() ? "kb" : "Mb"; });
}

void SearchController::StartRun(std::optional<std::string> path, bool again)
{
    ReapFinishedWorkers();
    EndComparison();
    if (current_)
        current_->superseded = true;
    auto run = std::make_shared<RunState>();
    current_ = run;
    shown_.LeaveToRun();

    SkipOnFailure([&] { presentation_.SetProgressText(""); });
    Present(presentation_, true, kBusySteps);

    ReadUnits();
    if (path)
        run->basePath = *path;
    else
        SkipOnFailure([&] { run->basePath = choices_.HighlightedPath(); });
    if (run->basePath.empty() || run->basePath.back() != fileSystem_->Separator())
        run->basePath += fileSystem_->Separator();
    run->measure = Measure();
    run->scope = options_.scope;
    run->again = again;
    if (options_.keepTree)
        run->tree = std::make_unique<KeptTree>(run->basePath);

    std::function<void()> work = WorkOf(run);
    if (!host_->WalksOnCallingThread()) {
        try {
            workers_.emplace_back(run, std::thread(work));
            return;
        } catch (const std::system_error&) {
            // No thread can be made for the walk: it runs here, and the window waits for it.
        }
    }
    work();
}

std::function<void()> SearchController::WorkOf(const std::shared_ptr<RunState>& run)
{
    // The worker holds only what it shares: the run, the link to the host and the file system.
    auto post = [this, run, host = host_, alive = alive_](RunEvent event) {
        bool wasEmpty;
        {
            std::lock_guard lock(run->mailboxMutex);
            wasEmpty = run->mailbox.empty();
            run->mailbox.push_back(std::move(event));
        }
        // One call drains everything queued meanwhile, so a fast walk does not flood the UI thread.
        if (wasEmpty)
            host->PostToUi([this, run, alive] {
                if (*alive)
                    Drain(*run);
            });
    };
    return [run, post, host = host_, fileSystem = fileSystem_, threads = options_.threads,
            walkThreads = options_.walkThreads] {
        WalkThreadCounts counts{1, 1, 1};
        bool cannotGoOn = false;
        try {
            if (threads != 1) {
                counts = RunOnWalkThreads(threads, fileSystem->MaxWalkThreads(),
                                          [&](WalkPace* pace) { WalkRun(*run, *fileSystem, *host, pace, post); });
            } else {
                WalkRun(*run, *fileSystem, *host, nullptr, post);
            }
        } catch (const std::exception&) {
            cannotGoOn = true;
        }
        if (walkThreads)
            walkThreads(counts);
        post({.kind = RunEvent::Kind::End, .cannotGoOn = cannotGoOn});
        run->MarkWalkDone();
    };
}

void SearchController::Drain(RunState& run)
{
    std::vector<RunEvent> events;
    {
        std::lock_guard lock(run.mailboxMutex);
        events.swap(run.mailbox);
    }
    for (RunEvent& event : events) {
        if (run.superseded)
            return;
        switch (event.kind) {
        case RunEvent::Kind::Listed:
            if (!run.searching.load())
                break;  // cancelled during the listing: the previous table stays
            SkipOnFailure([&] { table_.SetRows(2); });
            WriteRow(event);
            run.listingShown = true;
            view_.SetShownPath(run.basePath);
            break;
        case RunEvent::Kind::Row:
            if (!run.listingShown)
                break;
            if (!run.searching.load()) {
                if (run.rowAfterCancelShown)
                    break;  // a cancel leaves at most the interrupted subdirectory's row
                run.rowAfterCancelShown = true;
            }
            SkipOnFailure([&] { table_.SetRows(table_.Rows() + 1); });
            WriteRow(event);
            break;
        case RunEvent::Kind::Total:
            if (run.searching.load())
                Finish(run, event);  // a cancelled run never writes its total
            break;
        case RunEvent::Kind::End: WalkEnded(run, event); break;
        }
    }
}

void SearchController::WalkEnded(RunState& run, const RunEvent& event)
{
    if (event.cannotGoOn && run.searching.load()) {
        run.searching.store(false);
        Present(presentation_, false, kIdleSteps);
        SkipOnFailure([&] { presentation_.SetProgressText(kCannotGoOn); });
    }
    // A cancelled run's last row, the one it cut short, is in: the rows take the order chosen, and the tree what
    // it counted. Cancelled during its listing, the run leaves the table it found, current cell and all.
    if (!run.totalShown && run.listingShown)
        KeepTree(run);
    if (!run.totalShown)
        shown_.Sort(run.listingShown);
}

void SearchController::Finish(RunState& run, const RunEvent& event)
{
    SkipOnFailure([&] { table_.SetRows(table_.Rows() + 1); });
    WriteRow(event);
    // Kept while the run still writes the rows: they are its own, and the view's listeners only look.
    KeepTree(run);
    run.searching.store(false);
    Present(presentation_, false, kIdleSteps);
    SkipOnFailure([&] { presentation_.SetProgressText(Summary(run, event.unread)); });
    run.totalShown = true;
    // On disk, where a file of several links counts is settled in listing order once the walk is over.
    if (run.measure != SizeMeasure::OnDisk || !shown_.Draw(false))
        shown_.Sort(true);
}

void SearchController::WriteRow(const RunEvent& event)
{
    WriteEventRow(table_, units_, event, options_.rowWritten);
}

std::string SearchController::Summary(const RunState& run, const UnreadPlaces& unread) const
{
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - run.started;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f 秒", elapsed.count());
    std::string text = FormatGrouped(run.entriesCounted.load(std::memory_order_relaxed), units_.GroupSeparator) +
                       kEntriesSuffix + ProgressSeparator + seconds;
    if (unread.count > 0)
        text += ProgressSeparator + UnreadCountText(unread.count, units_.GroupSeparator);
    if (run.scope.LeavesOut())
        text += ProgressSeparator + ScopeNote(run.scope);
    return text;
}

void SearchController::ReapFinishedWorkers()
{
    std::erase_if(workers_, [](auto& worker) {
        if (!worker.first->WaitWalkDone(std::chrono::steady_clock::time_point{}))
            return false;
        worker.second.join();
        return true;
    });
}

void SearchController::Shutdown()
{
    *alive_ = false;
    if (current_)
        current_->searching.store(false);
    host_->Cut();
    const auto deadline = std::chrono::steady_clock::now() + kShutdownGrace;
    for (auto& [run, thread] : workers_) {
        if (run->WaitWalkDone(deadline))
            thread.join();
        else
            thread.detach();  // it holds its own share of everything it can still touch
    }
    workers_.clear();
}

}  // namespace murako
