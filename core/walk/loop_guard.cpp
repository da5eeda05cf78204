#include "walker.h"

#include <algorithm>

namespace murako {

namespace {

// Down to this depth below the base, a directory is compared with each of its ancestors, which costs a plain
// tree less than a set shared by the walking threads; below it, a chain of thousands would cost their square.
constexpr size_t kAncestorsCompared = 32;

// Whether step lies on the way down to from, from included.
bool OnTheWay(const WayStep* step, const WayStep& from)
{
    for (const WayStep* way = &from; way; way = way->up)
        if (way == step)
            return true;
    return false;
}

}  // namespace

bool LoopGuard::Closes(const WayStep* parent, const Directory& dir, WayStep& step)
{
    step = {parent, dir.Identity(), parent && parent->pastMount, false, parent ? parent->depth + 1 : 0};
    if (!step.identity || !parent)
        return false;
    if (!step.pastMount) {
        step.pastMount = dir.IsMountRoot() || (parent->identity && parent->identity->device != step.identity->device);
        if (!step.pastMount && step.depth <= kAncestorsCompared) {
            for (const WayStep* way = parent; way; way = way->up)
                if (way->identity == step.identity)
                    return true;
            return false;
        }
    }
    std::lock_guard lock(mutex_);
    // Each step is kept once, from the first way down past a mount that reaches it; above a kept step every
    // step is kept already.
    for (const WayStep* way = parent; way && !way->kept; way = way->up) {
        if (way->identity)
            kept_.emplace(*way->identity, way);
        way->kept = true;
    }
    const auto [first, last] = kept_.equal_range(*step.identity);
    return std::any_of(first, last, [&](const auto& met) { return OnTheWay(met.second, *parent); });
}

void LoopGuard::Forget(const WayStep& step)
{
    if (!step.kept)
        return;
    std::lock_guard lock(mutex_);
    if (!step.identity)
        return;
    const auto [first, last] = kept_.equal_range(*step.identity);
    for (auto it = first; it != last; ++it)
        if (it->second == &step) {
            kept_.erase(it);
            return;
        }
}

}  // namespace murako
