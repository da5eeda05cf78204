#include "search_run.h"

#include <tbb/task_arena.h>

#include <mutex>
#include <utility>

#include "posix_file_system.h"
#include "walker.h"

namespace murako {

namespace {

const char* const kRootFilesName = "[Root Files]";
const char* const kTotalSuffix = "合計";

template <typename Step>
void SkipOnFailure(Step&& step)
{
    try {
        step();
    } catch (const std::exception&) {
        // A failing step is abandoned and the run goes on with the next one.
    }
}

}  // namespace

struct RunEvent {
    enum class Kind { Listed, Row, Finished } kind;
    int32_t row = 0;
    std::string name;
    int64_t size = 0;
};

struct RunState {
    std::atomic<bool> searching{true};  // this run's own busy flag, cleared by its end or a cancel press
    std::atomic<bool> walkDone{false};
    std::string basePath;

    // Touched on the UI thread only.
    bool superseded = false;  // a newer run has started: this one writes nothing more
    bool listingShown = false;
    bool rowAfterCancelShown = false;

    std::mutex mailboxMutex;
    std::vector<RunEvent> mailbox;
};

namespace {

// The run's file-system work: the listing of the base directory, then every subdirectory's walk, posting
// the results in listing order.
void WalkRun(RunState& run, FileSystem& fileSystem, RunHost& host, bool parallel,
             const std::function<void(RunEvent)>& post)
{
    const WalkContext context{host, run.searching, parallel};
    std::unique_ptr<Directory> base = fileSystem.Open(run.basePath);
    Listing listing;
    if (base) {
        std::optional<Listing> listed = ListDirectory(*base, context);
        if (!listed)
            return;
        listing = std::move(*listed);
    }
    post({RunEvent::Kind::Listed, 1, kRootFilesName, listing.filesSize});

    int64_t total = listing.filesSize;
    const std::vector<std::string>& names = listing.subdirectories;
    auto postRow = [&](size_t i, int64_t size) {
        post({RunEvent::Kind::Row, static_cast<int32_t>(i + 2), DisplayName(names[i]), size});
    };
    if (!parallel) {
        for (size_t i = 0; i < names.size(); ++i) {
            const int64_t size = SumDirectory(base->OpenSubdirectory(names[i]), context);
            postRow(i, size);
            AddUnlessOverflow(total, size);
            if (!context.YieldAndTest())
                return;
        }
    } else {
        std::mutex inOrder;
        std::vector<int64_t> sizes(names.size());
        std::vector<char> done(names.size(), 0);
        size_t next = 0;
        SumSubdirectoriesInParallel(*base, names, context, [&](size_t index, int64_t size) {
            std::lock_guard lock(inOrder);
            sizes[index] = size;
            done[index] = 1;
            for (; next < names.size() && done[next]; ++next) {
                postRow(next, sizes[next]);
                AddUnlessOverflow(total, sizes[next]);
                host.DoEvents();
            }
        });
        if (!run.searching.load()) {
            if (next < names.size())
                postRow(next, 0);  // the subdirectory whose walk the cancel interrupted
            return;
        }
    }
    post({RunEvent::Kind::Finished, static_cast<int32_t>(names.size() + 2), DisplayName(run.basePath) + kTotalSuffix,
          total});
}

}  // namespace

SearchController::SearchController(ResultsTable& grid, SearchPresentation& presentation, SearchChoices& choices,
                                   FileSystem& fileSystem, RunHost& host, Options options)
    : grid_(grid),
      presentation_(presentation),
      choices_(choices),
      fileSystem_(fileSystem),
      host_(host),
      options_(options),
      alive_(std::make_shared<bool>(true))
{
}

SearchController::SearchController(ResultsTable& grid, SearchPresentation& presentation, SearchChoices& choices,
                                   FileSystem& fileSystem, RunHost& host)
    : SearchController(grid, presentation, choices, fileSystem, host, Options{})
{
}

SearchController::~SearchController()
{
    Shutdown();
}

bool SearchController::Searching() const
{
    return current_ && current_->searching.load();
}

void SearchController::Command1_Click()
{
    if (Searching()) {
        current_->searching.store(false);
        ApplyIdle();
        return;
    }
    StartRun();
}

void SearchController::StartRun()
{
    ReapFinishedWorkers();
    if (current_)
        current_->superseded = true;
    auto run = std::make_shared<RunState>();
    current_ = run;

    SkipOnFailure([&] { presentation_.SetSearchCaption("取消"); });
    SkipOnFailure([&] { presentation_.SetExitVisible(false); });
    SkipOnFailure([&] { presentation_.SetStatusText("検索中..."); });
    SkipOnFailure([&] { presentation_.SetBusyPointer(true); });
    SkipOnFailure([&] { presentation_.SetDivisorEnabled(false); });
    SkipOnFailure([&] { presentation_.SetUnitEnabled(false); });
    SkipOnFailure([&] { presentation_.SetDriveListEnabled(false); });
    SkipOnFailure([&] { presentation_.SetDirListEnabled(false); });
    SkipOnFailure([&] { presentation_.Refresh(); });

    units_.KiloUnit = 1024;
    SkipOnFailure([&] { units_.KiloUnit = choices_.DivisorIs1024() ? 1024 : 1000; });
    units_.SizeUnit = "kb";
    SkipOnFailure([&] { units_.SizeUnit = choices_.UnitIsKb() ? "kb" : "Mb"; });
    SkipOnFailure([&] { run->basePath = choices_.HighlightedPath(); });
    if (run->basePath.empty() || run->basePath.back() != '/')
        run->basePath += '/';

    auto post = [this, run, alive = alive_](RunEvent event) {
        bool wasEmpty;
        {
            std::lock_guard lock(run->mailboxMutex);
            wasEmpty = run->mailbox.empty();
            run->mailbox.push_back(std::move(event));
        }
        // One call drains everything queued meanwhile, so a fast walk does not flood the UI thread.
        if (wasEmpty)
            host_.PostToUi([this, run, alive] {
                if (*alive)
                    Drain(*run);
            });
    };
    const bool parallel = options_.threads != 1;
    auto work = [this, run, post, parallel, threads = options_.threads] {
        if (parallel) {
            tbb::task_arena arena(threads > 0 ? threads : tbb::task_arena::automatic);
            arena.execute([&] { WalkRun(*run, fileSystem_, host_, true, post); });
        } else {
            WalkRun(*run, fileSystem_, host_, false, post);
        }
        run->walkDone.store(true);
    };
    if (options_.inlineWorker)
        work();
    else
        workers_.emplace_back(run, std::thread(std::move(work)));
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
            SkipOnFailure([&] { grid_.SetRows(2); });
            WriteRow(event);
            run.listingShown = true;
            break;
        case RunEvent::Kind::Row:
            if (!run.listingShown)
                break;
            if (!run.searching.load()) {
                if (run.rowAfterCancelShown)
                    break;  // a cancel leaves at most the interrupted subdirectory's row
                run.rowAfterCancelShown = true;
            }
            SkipOnFailure([&] { grid_.SetRows(grid_.Rows() + 1); });
            WriteRow(event);
            break;
        case RunEvent::Kind::Finished:
            if (!run.searching.load())
                break;
            SkipOnFailure([&] { grid_.SetRows(grid_.Rows() + 1); });
            WriteRow(event);
            run.searching.store(false);
            ApplyIdle();
            break;
        }
    }
}

void SearchController::WriteRow(const RunEvent& event)
{
    SkipOnFailure([&] { WriteResultRow(grid_, units_, event.row, event.row, event.name, event.size); });
    if (options_.rowWritten)
        options_.rowWritten(event.row, event.name, event.size);
}

void SearchController::ApplyIdle()
{
    SkipOnFailure([&] { presentation_.SetSearchCaption("検索"); });
    SkipOnFailure([&] { presentation_.SetExitVisible(true); });
    SkipOnFailure([&] { presentation_.SetBusyPointer(false); });
    SkipOnFailure([&] { presentation_.SetStatusText(""); });
    SkipOnFailure([&] { presentation_.SetDivisorEnabled(true); });
    SkipOnFailure([&] { presentation_.SetUnitEnabled(true); });
    SkipOnFailure([&] { presentation_.SetDriveListEnabled(true); });
    SkipOnFailure([&] { presentation_.SetDirListEnabled(true); });
}

void SearchController::ReapFinishedWorkers()
{
    std::erase_if(workers_, [](auto& worker) {
        if (!worker.first->walkDone.load())
            return false;
        worker.second.join();
        return true;
    });
}

void SearchController::Shutdown()
{
    *alive_ = false;
    for (auto& [run, thread] : workers_) {
        run->searching.store(false);
        thread.join();
    }
    workers_.clear();
}

}  // namespace murako
