#include "kept_view.h"

#include <algorithm>

#include "row_texts.h"

namespace murako {

std::string KeptView::AgeNote() const
{
    if (fileNote_)
        return *fileNote_;
    auto at = keptAt_;
    for (const auto& [path, when] : searchedAgain_)
        if (shownPath_.starts_with(path))
            at = std::max(at, when);
    return KeptAgeNote(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - at));
}

void KeptView::Keep(std::unique_ptr<KeptTree> tree, std::string shownPath, std::optional<std::string> fileNote)
{
    // Whoever shows a directory of the tree lets go of it before its memory goes.
    Tell(Replacing);
    tree_ = std::move(tree);
    keptAt_ = std::chrono::steady_clock::now();
    searchedAgain_.clear();
    fileNote_ = std::move(fileNote);
    shownPath_ = std::move(shownPath);
    Tell(NewSizes | NewDirectory);
}

void KeptView::Replace(const KeptDirectory& replaced, std::unique_ptr<KeptTree> fresh, std::string path)
{
    Tell(Replacing);
    tree_->Replace(replaced, std::move(fresh));
    searchedAgain_.emplace_back(std::move(path), std::chrono::steady_clock::now());
    Tell(NewSizes);
}

void KeptView::MoveAway(const KeptDirectory& dir, std::optional<uint32_t> file)
{
    if (file)
        tree_->MarkFileMoved(dir, *file);
    else
        tree_->MarkMoved(dir);
    Tell(NewSizes);
}

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
