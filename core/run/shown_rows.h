#pragma once
// The table and the status bar's note as the kept view has them: whenever what the view shows changes, the rows
// of the directory shown are drawn again from the kept tree, compared and sorted, and the note tells how old
// they are; while a run writes the rows, it leaves them to the run.

#include <functional>

#include "kept_view.h"
#include "results_table.h"
#include "row_order.h"
#include "rows_in_order.h"
#include "size_units.h"

namespace murako {

class SearchPresentation;

// Told of every row written with its size in bytes, once its facts are in place.
using RowWritten = std::function<void(int32_t row, const std::string& name, int64_t bytes)>;

// Writes event's row into table, its texts in units and its facts, and tells told of it; a row that cannot be
// written is passed over.
void WriteEventRow(ResultsTable& table, const SizeUnits& units, const RunEvent& event, const RowWritten& told);

class ShownRows {
public:
    // runWrites tells whether a run writes the rows now. units are read as each change is drawn.
    ShownRows(KeptView& view, ResultsTable& table, SearchPresentation& presentation, const SizeUnits& units,
              char separator, NameRanks nameRanks, std::function<bool()> runWrites, RowWritten rowWritten);
    ~ShownRows();
    ShownRows(const ShownRows&) = delete;
    ShownRows& operator=(const ShownRows&) = delete;

    // Whether the rows shown were drawn from the kept tree, so that the note tells their age.
    bool FromMemory() const { return fromMemory_; }
    // The directory shown drawn again from the tree, with the note of its age unless the rows are a run's own
    // recounted, whose note stays the run's. Nothing, and false, where the tree does not hold it.
    bool Draw(bool tellAge = true);
    // The rows in the view's order; fromTop, in any but the listing's, with the first data row current.
    void Sort(bool fromTop);
    // A run writes the rows from now on, and the note is its own.
    void LeaveToRun() { fromMemory_ = false; }
    // The note again, as ages are told in minutes.
    void TellAge();

private:
    void Changed(unsigned changes);

    KeptView& view_;
    ResultsTable& table_;
    SearchPresentation& presentation_;
    const SizeUnits& units_;
    const char separator_;
    const NameRanks nameRanks_;
    const std::function<bool()> runWrites_;
    const RowWritten rowWritten_;
    const int listener_;
    bool fromMemory_ = false;
};

}  // namespace murako
