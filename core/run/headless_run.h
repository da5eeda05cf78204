#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "run_host.h"
#include "search_run.h"

namespace murako {

// A run host for programs without a window: the thread that calls RunUntil plays the UI thread.
class QueueHost : public RunHost {
public:
    void PostToUi(std::function<void()> apply) override
    {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(apply));
        }
        ready_.notify_one();
    }

    // Applies what the walk posts until done() holds.
    void RunUntil(const std::function<bool()>& done)
    {
        while (!done()) {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return !queue_.empty(); });
            std::function<void()> apply = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            apply();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
};

class NoPresentation : public SearchPresentation {
public:
    void SetSearchCaption(const std::string&) override {}
    void SetExitVisible(bool) override {}
    void SetStatusText(const std::string&) override {}
    void SetBusyPointer(bool) override {}
    void SetDivisorEnabled(bool) override {}
    void SetUnitEnabled(bool) override {}
    void SetDriveListEnabled(bool) override {}
    void SetDirListEnabled(bool) override {}
    void Refresh() override {}
    void SetProgressText(const std::string&) override {}
};

// The choices of a program without a window: path, in 1024 and kb.
struct PathChoices : SearchChoices {
    std::string path;
    std::string HighlightedPath() override { return path; }
    bool DivisorIs1024() override { return true; }
    bool UnitIsKb() override { return true; }
};

// Runs one search over path, in 1024 and kb, to its end; the calling thread applies the results. The names
// listed below path.
inline int64_t SearchWithoutWindow(ResultsTable& table, std::shared_ptr<FileSystem> fileSystem, const std::string& path,
                                SearchController::Options options)
{
    PathChoices choices;
    choices.path = path;
    NoPresentation presentation;
    QueueHost host;
    SearchController run(table, presentation, choices, std::move(fileSystem), host, std::move(options));
    run.Command1_Click();
    host.RunUntil([&] { return !run.Searching(); });
    return run.EntriesCounted();
}

// Shows the base of tree, read from a file, in 1024 and kb, as a finished search of it. The names listed
// below the base.
inline int64_t ShowImportedWithoutWindow(ResultsTable& table, std::shared_ptr<FileSystem> fileSystem,
                                         std::unique_ptr<KeptTree> tree, SearchController::Options options)
{
    PathChoices choices;
    NoPresentation presentation;
    QueueHost host;
    const int64_t entries = tree->Entries() - 1;
    SearchController run(table, presentation, choices, std::move(fileSystem), host, std::move(options));
    run.ShowImported(std::move(tree), {});
    return entries;
}

}  // namespace murako
