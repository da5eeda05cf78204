#pragma once
// What grew since an older search of the same directory: each row shown beside its size then and the
// subdirectories gone since.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kept_tree.h"
#include "reason_texts.h"
#include "results_table.h"
#include "size_units.h"

namespace murako {

class KeptComparison;

// A comparison made, or why none could be.
struct KeptComparisonMade {
    std::unique_ptr<KeptComparison> comparison;  // nullptr when the failure tells why not
    Failure failure;
};

// An older search held beside the current one, of the directory searched or of one above or below it.
class KeptComparison {
public:
    // Holds older to compare the directories of a search of searchedPath, whose names part at separator, with;
    // none, and why, when older is empty or its base is neither searchedPath nor above nor below it. The bases
    // compare with either separator alike, as a file saved on another system names its base its own way.
    static KeptComparisonMade Make(std::unique_ptr<KeptTree> older, const std::string& searchedPath, char separator);

    // The older tree's directory at path, a directory of the search; nullptr when it did not hold it, or only
    // among entries of one name.
    const KeptDirectory* OlderAt(const std::string& path) const;
    // The older tree's base when it is a subdirectory of the directory at path; else nullptr.
    const KeptDirectory* OlderBaseBelow(const std::string& path) const;
    const KeptTree& Older() const { return *older_; }

private:
    KeptComparison(std::unique_ptr<KeptTree> older, std::string olderBase, char separator);

    std::unique_ptr<KeptTree> older_;
    std::string olderBase_;  // "/" between names and after the last
    char separator_;
};

// Compares the rows a directory shows, written in listing order, with older, the same directory then
// (nullptr: it was not there, and every row is new): each data row's change, and a gone row for each
// subdirectory of older the rows lack, after the others and before the total, in older's listing order.
// The total's change is the sum of the others'.
// A subdirectory's row whose name the rows or older hold more than once is left unmatched: new, and each of
// older's a gone row.
void CompareRows(ResultsTable& table, const KeptDirectory* older, SizeMeasure measure, const SizeUnits& units);
// The rows of the directory at path compared with what comparison held of it: the older tree's directory
// there, or where the older search was of one of its subdirectories, that subdirectory's row with it and every
// other row new.
void CompareRows(ResultsTable& table, const KeptComparison& comparison, const std::string& path, SizeMeasure measure,
                 const SizeUnits& units);

// Whether the table's rows are compared with an older search.
bool RowsCompared(const ResultsTable& table);

// Takes the comparison off the table: the gone rows go, and every other row's change; the rest stay in
// their order, the current cell on its row.
void DropComparison(ResultsTable& table);

// A change in the unit chosen, signed: "+1,234", "-56", "0"; a change too small for the unit "+0" or "-0".
std::string ChangeText(int64_t delta, const SizeUnits& units);

}  // namespace murako
