#pragma once

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "walk_pace.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace murako {

// An arena for each count a walk has taken, the one of the count now among them. A count taken again uses
// its arena again: the workers of an arena the walk left go over to another only as they finish what they
// run, so that every new arena costs the walk threads for a while.
class WalkArenas {
public:
    void Use(int threads)
    {
        auto same =
            std::find_if(all_.begin(), all_.end(), [threads](const Made& made) { return made.threads == threads; });
        if (same == all_.end()) {
            // Workers only: the calling thread lists the base and its first chain, then waits.
            all_.push_back({threads, std::make_unique<tbb::task_arena>(threads, 0)});
            // Now, under the pace's mutex, rather than by whichever threads first send it tasks at once.
            all_.back().arena->initialize();
            same = std::prev(all_.end());
        }
        now_.store(same->arena.get(), std::memory_order_release);
    }
    tbb::task_arena* Now() const { return now_.load(std::memory_order_acquire); }
    // How many the walk has made.
    size_t Count() const { return all_.size(); }

private:
    struct Made {
        int threads;
        std::unique_ptr<tbb::task_arena> arena;
    };
    std::vector<Made> all_;  // changed under the pace's mutex
    std::atomic<tbb::task_arena*> now_{nullptr};
};

// A task group of a walk's tasks, each run on the pace's arena of the moment: spawned where the spawning
// thread runs in that arena already, else enqueued to it, as from the calling thread or from an arena the
// pace has left. ThreadSanitizer is told of its hand-overs: the scheduler passes tasks between threads in
// code it cannot see, so spawning publishes what a task holds, a task's end publishes what it did to the
// waiter, and a destroyed task's memory may be reused.
class TaskGroup {
public:
    explicit TaskGroup(const WalkPace* pace) : pace_(pace) {}

    template <typename Body>
    void Run(Body body)
    {
        tbb::task_arena* arena = pace_->Arenas().Now();
        FencedTask<Body> task(std::move(body), this, arena);
        if (t_arena == arena)
            group_.run(std::move(task));
        else
            arena->enqueue(group_.defer(std::move(task)));
    }

    // The same, but on the arena the calling thread runs in when it runs in one of the walk's, for tasks it
    // waits for itself: a thread can run only its own arena's tasks as it waits, so a wait for another's can
    // last for ever once the pace has moved on and every worker waits so.
    template <typename Body>
    void RunBesideCaller(Body body)
    {
        if (t_arena)
            group_.run(FencedTask<Body>(std::move(body), this, t_arena));
        else
            Run(std::move(body));
    }

    void Wait()
    {
        group_.wait();
        Acquire(this);
    }

private:
#if defined(__SANITIZE_THREAD__)
    static void Acquire(const void* address) { __tsan_acquire(const_cast<void*>(address)); }
    static void Release(const void* address) { __tsan_release(const_cast<void*>(address)); }
#else
    static void Acquire(const void*) {}
    static void Release(const void*) {}
#endif

    struct Fence {
        Fence() { Acquire(this); }
        Fence(const Fence&) : Fence() {}
        ~Fence() { Release(this); }
    };

    template <typename Body>
    struct FencedTask : Fence {
        FencedTask(Body taskBody, const TaskGroup* owner, const tbb::task_arena* runsOn)
            : body(std::move(taskBody)), group(owner), arena(runsOn)
        {
            Release(this);
        }
        FencedTask(const FencedTask& other) : Fence(other), body(other.body), group(other.group), arena(other.arena)
        {
            Release(this);
        }
        void operator()() const
        {
            Acquire(this);
            const tbb::task_arena* outer = std::exchange(t_arena, arena);
            body();
            t_arena = outer;
            Release(group);
        }
        Body body;
        const TaskGroup* group;
        const tbb::task_arena* arena;
    };

    const WalkPace* pace_;
    tbb::task_group group_;

    // The arena whose task the calling thread runs; nullptr outside the walk's arenas.
    static inline thread_local const tbb::task_arena* t_arena = nullptr;
};

}  // namespace murako
