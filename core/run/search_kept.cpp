// The search controller's commands on the kept tree: showing any directory of it, searching one again,
// counting another way, moving a place away, opening a saved search and comparing with one.
#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "row_texts.h"
#include "rows_in_order.h"
#include "run_state.h"
#include "tell_kept.h"
#include "search_run.h"
#include "skip_on_failure.h"

namespace murako {

void SearchController::SearchShownAgain()
{
    if (!Searching() && !ShownPath().empty())
        StartRun(ShownPath(), true);
}

bool SearchController::ShowKept(const std::string& path)
{
    if (Searching() || !kept_)
        return false;
    const KeptDirectory* dir = kept_->Find(path, fileSystem_->Separator());
    if (!dir)
        return false;
    ReadUnits();
    std::string dirPath = path;
    if (dirPath.empty() || dirPath.back() != fileSystem_->Separator())
        dirPath += fileSystem_->Separator();
    std::vector<RunEvent> events;
    const std::function<void(RunEvent)> post = [&events](RunEvent event) { events.push_back(std::move(event)); };
    RowsInOrder rows(dirPath, fileSystem_->Separator(), post);
    rows.PostEnd(!TellKept(*dir, Measure(), fileSystem_->Separator(), rows));
    SkipOnFailure([&] { table_.SetRows(ResultsTable::FixedRows + 1); });
    for (const RunEvent& event : events) {
        if (event.kind != RunEvent::Kind::Listed)
            SkipOnFailure([&] { table_.SetRows(table_.Rows() + 1); });
        WriteRow(event);
    }
    if (const KeptComparison* comparison = Comparison())
        SkipOnFailure([&] { CompareRows(table_, *comparison, dirPath, Measure(), units_); });
    view_.SetShownPath(dirPath);
    showingKept_ = true;
    SkipOnFailure([&] { presentation_.SetProgressText(KeptAgeText()); });
    ApplySortOrderAtEnd();
    return true;
}

void SearchController::ShowImported(std::unique_ptr<KeptTree> tree, std::string sourceNote)
{
    if (Searching() || !tree || !tree->Base())
        return;
    EndComparison();
    view_.AboutToReplace();
    kept_ = std::move(tree);
    view_.SizesChanged();
    keptAt_ = std::chrono::steady_clock::now();
    searchedAgain_.clear();
    imported_ = true;
    importedNote_ = std::move(sourceNote);
    ShowKept(kept_->BasePath());
}

void SearchController::MovedAway(const KeptPlace& place)
{
    if (!kept_ || !place.dir || Searching())
        return;
    if (place.file)
        kept_->MarkFileMoved(*place.dir, *place.file);
    else
        kept_->MarkMoved(*place.dir);
    view_.SizesChanged();
    const int32_t row = table_.Row();
    ShowKept(ShownPath());
    SkipOnFailure([&] { table_.SetRow(std::min(row, table_.Rows() - 1)); });
}

bool SearchController::Compare(std::unique_ptr<KeptComparison> comparison)
{
    if (Searching() || !comparison || !kept_ || !kept_->Find(ShownPath(), fileSystem_->Separator()))
        return false;
    view_.SetComparison(std::move(comparison));
    const int32_t row = table_.Row();
    ShowKept(ShownPath());
    SkipOnFailure([&] { table_.SetRow(std::min(row, table_.Rows() - 1)); });
    return true;
}

void SearchController::EndComparison()
{
    if (!Comparison())
        return;
    view_.SetComparison(nullptr);
    SkipOnFailure([&] { DropComparison(table_); });
    if (Order().column != SortColumn::Change)
        return;
    view_.SetOrder(SortOrder{});
    if (!Searching())
        ApplySortOrder();
}

void SearchController::SetMeasure(SizeMeasure measure)
{
    view_.SetMeasure(measure);
    ShowKept(ShownPath());
}

void SearchController::KeepTree(RunState& run)
{
    // A directory searched again and cut short leaves its whole older search in place.
    if (!run.tree || (run.again && run.tree->CutShort()))
        return;
    const KeptDirectory* replaced = run.again && kept_ ? kept_->Find(run.basePath, fileSystem_->Separator()) : nullptr;
    // Whoever shows a directory of the tree lets go of it before its memory goes.
    view_.AboutToReplace();
    if (replaced) {
        kept_->Replace(*replaced, std::move(run.tree));
        searchedAgain_.emplace_back(run.basePath, std::chrono::steady_clock::now());
    } else {
        kept_ = std::move(run.tree);
        keptAt_ = std::chrono::steady_clock::now();
        searchedAgain_.clear();
        imported_ = false;
    }
    view_.SizesChanged();
    if (options_.treeKept)
        options_.treeKept(*kept_);
}

// What the second panel adds about the kept search: cut short, and how it differs from the one compared.
std::string SearchController::KeptNotes() const
{
    if (!kept_)
        return {};
    std::string note = kept_->CutShort() ? "中断した検索" : "";
    if (const KeptComparison* comparison = Comparison()) {
        const KeptTree& older = comparison->Older();
        note = ComparedSearchesNote(kept_->Scope(), kept_->CutShort(), older.Scope(), older.CutShort());
    }
    return note.empty() ? note : ProgressSeparator + note;
}

std::string SearchController::KeptAgeText() const
{
    if (imported_)
        return importedNote_ + KeptNotes();
    auto at = keptAt_;
    for (const auto& [path, when] : searchedAgain_)
        if (ShownPath().rfind(path, 0) == 0)
            at = std::max(at, when);
    return KeptAgeNote(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - at)) +
           KeptNotes();
}

}  // namespace murako
