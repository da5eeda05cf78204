// The search controller's commands on the kept tree: showing any directory of it, searching one again,
// counting another way, moving a place away, opening a saved search and comparing with one. Each changes the
// kept view, which the table and the status bar follow.
#include <utility>

#include "run_state.h"
#include "search_run.h"

namespace murako {

namespace {

std::string EndingIn(std::string path, char separator)
{
    if (path.empty() || path.back() != separator)
        path += separator;
    return path;
}

}  // namespace

void SearchController::SearchShownAgain()
{
    if (!Searching() && !ShownPath().empty())
        StartRun(ShownPath(), true);
}

bool SearchController::ShowKept(const std::string& path)
{
    if (Searching() || !Kept() || !Kept()->Find(path, fileSystem_->Separator()))
        return false;
    ReadUnits();
    view_.SetShownPath(EndingIn(path, fileSystem_->Separator()));
    return true;
}

void SearchController::ShowImported(std::unique_ptr<KeptTree> tree, std::string sourceNote)
{
    if (Searching() || !tree || !tree->Base())
        return;
    EndComparison();
    ReadUnits();
    std::string basePath = EndingIn(tree->BasePath(), fileSystem_->Separator());
    view_.Keep(std::move(tree), std::move(basePath), std::move(sourceNote));
}

void SearchController::MovedAway(const KeptPlace& place)
{
    if (Kept() && place.dir && !Searching())
        view_.MoveAway(*place.dir, place.file);
}

bool SearchController::Compare(std::unique_ptr<KeptComparison> comparison)
{
    if (Searching() || !comparison || !Kept() || !Kept()->Find(ShownPath(), fileSystem_->Separator()))
        return false;
    view_.SetComparison(std::move(comparison));
    return true;
}

void SearchController::EndComparison()
{
    if (!Comparison())
        return;
    view_.SetComparison(nullptr);
    if (Order().column == SortColumn::Change)
        view_.SetOrder(SortOrder{});
}

void SearchController::SetMeasure(SizeMeasure measure)
{
    if (!Searching())
        ReadUnits();
    view_.SetMeasure(measure);
}

void SearchController::KeepTree(RunState& run)
{
    // A directory searched again and cut short leaves its whole older search in place.
    if (!run.tree || (run.again && run.tree->CutShort()))
        return;
    const KeptDirectory* replaced = run.again && Kept() ? Kept()->Find(run.basePath, fileSystem_->Separator()) : nullptr;
    // The rows are still the run's own, a cancelled run's too: the view's listeners only look.
    keepingTree_ = true;
    if (replaced)
        view_.Replace(*replaced, std::move(run.tree), run.basePath);
    else
        view_.Keep(std::move(run.tree), run.basePath, std::nullopt);
    keepingTree_ = false;
    if (options_.treeKept)
        options_.treeKept(*Kept());
}

}  // namespace murako
