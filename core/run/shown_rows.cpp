#include "shown_rows.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "kept_compare.h"
#include "row_texts.h"
#include "search_run.h"
#include "skip_on_failure.h"
#include "tell_kept.h"

namespace murako {

namespace {

RowKind RowKindOf(RunEvent::Kind kind)
{
    switch (kind) {
    case RunEvent::Kind::Listed: return RowKind::RootFiles;
    case RunEvent::Kind::Row: return RowKind::Subdirectory;
    case RunEvent::Kind::Total: return RowKind::Total;
    case RunEvent::Kind::End: break;
    }
    return RowKind::NotWritten;
}

// What the second panel adds about the kept search: cut short, and how it differs from the one compared.
std::string KeptNotes(const KeptView& view)
{
    const KeptTree* tree = view.Tree();
    if (!tree)
        return {};
    std::string note = tree->CutShort() ? "中断した検索" : "";
    if (const KeptComparison* comparison = view.Comparison()) {
        const KeptTree& older = comparison->Older();
        note = ComparedSearchesNote(tree->Scope(), tree->CutShort(), older.Scope(), older.CutShort());
    }
    return note.empty() ? note : ProgressSeparator + note;
}

}  // namespace

void WriteEventRow(ResultsTable& table, const SizeUnits& units, const RunEvent& event, const RowWritten& told)
{
    SkipOnFailure([&] {
        WriteResultRow(table, units, event.row, event.row, event.name, event.size);
        RowFacts facts{event.size,   RowKindOf(event.kind), event.unread,     event.interrupted,
                       event.row,    event.listedName,      event.notEntered, event.moved};
        facts.count = event.count;
        facts.otherFileSystems = event.otherFileSystems;
        facts.baseExcluded = event.baseExcluded;
        table.SetFacts(event.row, std::move(facts));
    });
    if (told)
        told(event.row, event.name, event.size);
}

ShownRows::ShownRows(KeptView& view, ResultsTable& table, SearchPresentation& presentation, const SizeUnits& units,
                     char separator, NameRanks nameRanks, std::function<bool()> runWrites, RowWritten rowWritten)
    : view_(view),
      table_(table),
      presentation_(presentation),
      units_(units),
      separator_(separator),
      nameRanks_(std::move(nameRanks)),
      runWrites_(std::move(runWrites)),
      rowWritten_(std::move(rowWritten)),
      listener_(view.Listen([this](unsigned changes) { Changed(changes); }))
{
}

ShownRows::~ShownRows()
{
    view_.Forget(listener_);
}

void ShownRows::Changed(unsigned changes)
{
    if ((changes & KeptView::Replacing) || runWrites_())
        return;
    if (changes & (KeptView::NewDirectory | KeptView::NewMeasure)) {
        Draw();
        return;
    }
    if ((changes & KeptView::NewComparison) && !view_.Comparison())
        SkipOnFailure([&] { DropComparison(table_); });
    else if (changes & (KeptView::NewSizes | KeptView::NewComparison)) {
        // The same directory's rows again: the user's place among them stays.
        const int32_t row = table_.Row();
        Draw();
        SkipOnFailure([&] { table_.SetRow(std::min(row, table_.Rows() - 1)); });
        return;
    }
    if (changes & KeptView::NewOrder)
        Sort(false);
}

bool ShownRows::Draw(bool tellAge)
{
    const KeptTree* tree = view_.Tree();
    const std::string& path = view_.ShownPath();
    const KeptDirectory* dir = tree && !path.empty() ? tree->Find(path, separator_) : nullptr;
    if (!dir)
        return false;
    std::vector<RunEvent> events;
    // The rows hold the poster by reference.
    const std::function<void(RunEvent)> post = [&events](RunEvent event) { events.push_back(std::move(event)); };
    RowsInOrder rows(path, separator_, post);
    // A search a cancel cut short ends with the row it cut short, as the cancel left the rows.
    rows.PostEnd(!TellKept(*dir, view_.Measure(), separator_, rows));
    SkipOnFailure([&] { table_.SetRows(ResultsTable::FixedRows + 1); });
    for (const RunEvent& event : events) {
        if (event.kind != RunEvent::Kind::Listed)
            SkipOnFailure([&] { table_.SetRows(table_.Rows() + 1); });
        WriteEventRow(table_, units_, event, rowWritten_);
    }
    if (const KeptComparison* comparison = view_.Comparison())
        SkipOnFailure([&] { CompareRows(table_, *comparison, path, view_.Measure(), units_); });
    fromMemory_ = tellAge;
    if (tellAge)
        TellAge();
    Sort(true);
    return true;
}

void ShownRows::Sort(bool fromTop)
{
    SkipOnFailure([&] { SortRows(table_, view_.Order(), nameRanks_); });
    // Rows in an order of the user's are read from the top, where the largest are when sorted by size; in
    // listing order the total, written last, stays the current cell.
    if (fromTop && view_.Order() != SortOrder{})
        SkipOnFailure([&] { table_.SetRow(ResultsTable::FixedRows); });
}

void ShownRows::TellAge()
{
    SkipOnFailure([&] { presentation_.SetProgressText(view_.AgeNote() + KeptNotes(view_)); });
}

}  // namespace murako
