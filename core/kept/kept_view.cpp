#include "kept_view.h"

namespace murako {

void KeptView::SetShownPath(std::string path)
{
    shownPath_ = std::move(path);
    // The same directory shown again may show other rows (a move, another measure): listeners look again.
    Tell(NewDirectory);
}

void KeptView::SetMeasure(SizeMeasure measure)
{
    if (measure == measure_)
        return;
    measure_ = measure;
    Tell(NewMeasure);
}

void KeptView::SetOrder(SortOrder order)
{
    if (order == order_)
        return;
    order_ = order;
    Tell(NewOrder);
}

void KeptView::SetComparison(std::unique_ptr<KeptComparison> comparison)
{
    if (!comparison && !comparison_)
        return;
    comparison_ = std::move(comparison);
    Tell(NewComparison);
}

int KeptView::Listen(Listener listener)
{
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void KeptView::Forget(int listener)
{
    std::erase_if(listeners_, [&](const auto& listening) { return listening.first == listener; });
}

void KeptView::Tell(unsigned changes)
{
    // A listener may listen or forget as it is told: the list told is the one before.
    const std::vector<std::pair<int, Listener>> told = listeners_;
    for (const auto& [id, listener] : told)
        listener(changes);
}

}  // namespace murako
