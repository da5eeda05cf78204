#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "run_host.h"

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

}  // namespace murako
