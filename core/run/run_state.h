#pragma once
// What a search run shares with the threads that walk for it: its state and its link to the host.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kept_tree.h"
#include "rows_in_order.h"
#include "run_host.h"

namespace murako {

// The host as the run's threads see it: calls are passed on until the controller cuts the link, so that a
// walk outliving the window reaches nothing the window owns.
class HostLink : public RunHost {
public:
    explicit HostLink(RunHost& host)
        : host_(&host), yields_(host.Yields()), walksOnCallingThread_(host.WalksOnCallingThread())
    {
    }

    void PostToUi(std::function<void()> apply) override
    {
        Forward([&](RunHost& host) { host.PostToUi(std::move(apply)); });
    }
    bool Yields() const override { return yields_; }
    bool WalksOnCallingThread() const override { return walksOnCallingThread_; }

    // Free where the host does not yield: every listed name passes here, on every walking thread.
    void DoEvents() override
    {
        if (yields_)
            Forward([](RunHost& host) { host.DoEvents(); });
    }

    // Returns once no call is under way; none is passed on afterwards. Never call it from inside a call.
    void Cut()
    {
        host_.store(nullptr);
        while (calls_.load() != 0)
            std::this_thread::yield();  // a call under way is a queued post or a yield: it returns at once
    }

private:
    template <typename Call>
    void Forward(Call&& call)
    {
        // Counting first and reading the host second pairs with Cut's store-then-count (both sequentially
        // consistent): either Cut sees this call, or this call sees the link cut.
        calls_.fetch_add(1);
        if (RunHost* host = host_.load())
            call(*host);
        calls_.fetch_sub(1);
    }

    std::atomic<RunHost*> host_;
    const bool yields_;
    const bool walksOnCallingThread_;
    std::atomic<int> calls_{0};
};

struct RunState {
    std::atomic<bool> searching{true};  // this run's own busy flag, cleared by its end or a cancel press
    std::atomic<int64_t> entriesCounted{0};
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::string basePath;
    SizeMeasure measure = SizeMeasure::Length;
    SearchScope scope;
    std::unique_ptr<KeptTree> tree;  // complete once the total is posted
    bool again = false;              // a directory of the kept tree searched again, to take its place

    // Touched on the UI thread only.
    bool superseded = false;  // a newer run has started: this one writes nothing more
    bool listingShown = false;
    bool rowAfterCancelShown = false;
    bool totalShown = false;

    std::mutex mailboxMutex;
    std::vector<RunEvent> mailbox;

    // Set by the worker as its last step.
    void MarkWalkDone()
    {
        std::lock_guard lock(walkDoneMutex);
        walkDone = true;
        walkDoneSignal.notify_all();
    }
    bool WaitWalkDone(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(walkDoneMutex);
        return walkDoneSignal.wait_until(lock, deadline, [this] { return walkDone; });
    }

private:
    std::mutex walkDoneMutex;
    std::condition_variable walkDoneSignal;
    bool walkDone = false;
};

}  // namespace murako
