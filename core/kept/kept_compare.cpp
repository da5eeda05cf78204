#include "kept_compare.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "kept_counts.h"
#include "text.h"

namespace murako {

namespace {

const char* const kNewMark = "新 ";
const char* const kGoneMark = "消 ";

// A path as compared: either separator as "/", and one after the last name.
std::string LoosePath(std::string_view path)
{
    std::string loose(path);
    std::replace(loose.begin(), loose.end(), '\\', '/');
    if (loose.empty() || loose.back() != '/')
        loose += '/';
    return loose;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

RowChange ChangeOf(int64_t before, int64_t delta, ChangeMark mark, const SizeUnits& units)
{
    const char* prefix = mark == ChangeMark::New ? kNewMark : mark == ChangeMark::Gone ? kGoneMark : "";
    return {before, delta, mark, prefix + ChangeText(delta, units)};
}

// The rows the table keeps in place first, then the others after them; row 0 stays first.
std::vector<int32_t> PlacementAfter(const ResultsTable& table, RowKind last)
{
    std::vector<int32_t> placement;
    std::vector<int32_t> after;
    for (int32_t row = 0; row < table.Rows(); ++row)
        (row >= ResultsTable::FixedRows && table.Facts(row).kind == last ? after : placement).push_back(row);
    placement.insert(placement.end(), after.begin(), after.end());
    return placement;
}

}  // namespace

KeptComparison::KeptComparison(std::unique_ptr<KeptTree> older, std::string olderBase, char separator)
    : older_(std::move(older)), olderBase_(std::move(olderBase)), separator_(separator)
{
}

KeptComparisonMade KeptComparison::Make(std::unique_ptr<KeptTree> older, const std::string& searchedPath,
                                        char separator)
{
    if (!older || !older->Base())
        return {nullptr, {Reason::EmptySearch, {}, {}}};
    std::string olderBase = LoosePath(older->BasePath());
    const std::string searched = LoosePath(searchedPath);
    if (!StartsWith(searched, olderBase) && !StartsWith(olderBase, searched))
        return {nullptr, {Reason::SearchOfOtherDirectory, DisplayName(older->BasePath()), {}}};
    return {std::unique_ptr<KeptComparison>(new KeptComparison(std::move(older), std::move(olderBase), separator)), {}};
}

const KeptDirectory* KeptComparison::OlderAt(const std::string& path) const
{
    if (!StartsWith(LoosePath(path), olderBase_))
        return nullptr;
    // Below the base, the names are the search's own: a POSIX name may hold a backslash.
    const KeptDirectory* dir = older_->Base();
    std::string_view rest = std::string_view(path).substr(std::min(path.size(), olderBase_.size()));
    while (dir && !rest.empty()) {
        const size_t end = rest.find(separator_);
        if (end > 0)
            dir = dir->Child(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    return dir && !(dir->flags & KeptDirectory::DuplicateName) ? dir : nullptr;
}

const KeptDirectory* KeptComparison::OlderBaseBelow(const std::string& path) const
{
    const std::string above = LoosePath(path);
    const bool child = olderBase_.size() > above.size() && StartsWith(olderBase_, above) &&
                       olderBase_.find('/', above.size()) == olderBase_.size() - 1;
    return child ? older_->Base() : nullptr;
}

std::string ChangeText(int64_t delta, const SizeUnits& units)
{
    if (delta == 0)
        return "0";
    const int64_t magnitude = ScaledSize(delta < 0 ? -delta : delta, units);
    std::string text = delta < 0 ? "-" : "+";
    return text += FormatGrouped(magnitude, units.GroupSeparator);
}

namespace {

// What each subdirectory's name stood for then: one directory, or none where the name was not there or was
// more than one entry's.
std::unordered_map<std::string_view, const KeptDirectory*> SubdirectoriesThen(const KeptDirectory* older,
                                                                              const KeptDirectory* olderChild)
{
    std::unordered_map<std::string_view, const KeptDirectory*> then;
    if (olderChild)
        then.emplace(olderChild->Name(), olderChild);
    for (uint32_t i = 0; older && i < older->ChildCount(); ++i)
        if (const KeptDirectory* child = older->Children()[i]; child && !(child->flags & KeptDirectory::DuplicateName))
            then.emplace(child->Name(), child);
    return then;
}

// The subdirectories' names the rows hold more than once: copies, as the table puts each row's facts together
// only when asked.
std::unordered_set<std::string> NamesListedTwice(const ResultsTable& table)
{
    std::unordered_set<std::string> seen;
    std::unordered_set<std::string> twice;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row)
        if (RowFacts facts = table.Facts(row); facts.kind == RowKind::Subdirectory && !seen.insert(facts.listedName).second)
            twice.insert(std::move(facts.listedName));
    return twice;
}

// A row after the others for a subdirectory that is gone; its facts follow.
int32_t AddGoneRow(ResultsTable& table, const KeptDirectory& gone, const SizeUnits& units)
{
    const int32_t row = table.Rows();
    table.SetRows(row + 1);
    SetCellText(table, row, 0, "");
    SetCellText(table, row, 1, DisplayName(gone.Name()));
    SetCellText(table, row, 2, SizeText(0, units));
    return row;
}

// The changes of the rows compared, summed for the total as they are set.
struct ChangeSums {
    int64_t before = 0;
    int64_t delta = 0;

    // then: nullopt where the row's directory was not there.
    void Set(ResultsTable& table, int32_t row, RowFacts facts, std::optional<int64_t> then, ChangeMark mark,
             const SizeUnits& units)
    {
        const int64_t was = then.value_or(0);
        facts.change = ChangeOf(was, facts.bytes.value_or(0) - was, then ? mark : ChangeMark::New, units);
        before += facts.change->before;
        delta += facts.change->delta;
        table.SetFacts(row, std::move(facts));
    }
};

// A gone row for each subdirectory of older that no row listed, numbered after lastNumber; the current cell
// stays where it was.
void AddGoneRows(ResultsTable& table, const KeptDirectory& older, const KeptCounts& counts,
                 const std::unordered_set<std::string_view>& listed, int32_t lastNumber, ChangeSums& sums,
                 const SizeUnits& units)
{
    const int32_t current = table.Row();
    const int32_t currentCol = table.Col();
    for (uint32_t i = 0; i < older.ChildCount(); ++i)
        if (const KeptDirectory* child = older.Children()[i]; child && !listed.count(child->Name()))
            sums.Set(table, AddGoneRow(table, *child, units),
                     {.bytes = 0, .kind = RowKind::Gone, .number = ++lastNumber, .listedName = std::string(child->Name())},
                     counts.Size(*child), ChangeMark::Gone, units);
    table.SetRow(current);
    table.SetCol(currentCol);
}

void CompareRowsWith(ResultsTable& table, const KeptDirectory* older, const KeptDirectory* olderChild,
                     SizeMeasure measure, const SizeUnits& units)
{
    const std::unordered_map<std::string_view, const KeptDirectory*> then = SubdirectoriesThen(older, olderChild);
    const std::unordered_set<std::string> twice = NamesListedTwice(table);
    std::unordered_set<std::string_view> listed;
    // The older rows as a search of that directory then counted them.
    std::optional<KeptCounts> counts;
    if (older)
        counts.emplace(*older, measure);
    // A saved search of the row's own directory is counted as a search of that directory.
    auto SizeThen = [&](const KeptDirectory& dir) {
        return counts ? counts->Size(dir) : KeptCounts(dir, measure).Size(dir);
    };
    ChangeSums sums;
    int32_t lastNumber = 0;
    std::vector<int32_t> totals;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
        const RowFacts& facts = table.Facts(row);
        lastNumber = std::max(lastNumber, facts.number);
        if (facts.kind == RowKind::RootFiles) {
            sums.Set(table, row, facts, older ? std::optional(counts->Own(*older)) : std::nullopt,
                     ChangeMark::Compared, units);
        } else if (facts.kind == RowKind::Subdirectory) {
            const auto found = twice.count(facts.listedName) ? then.end() : then.find(facts.listedName);
            if (found != then.end())
                listed.insert(found->first);
            sums.Set(table, row, facts, found == then.end() ? std::nullopt : std::optional(SizeThen(*found->second)),
                     ChangeMark::Compared, units);
        } else if (facts.kind == RowKind::Total) {
            totals.push_back(row);
        }
    }
    if (older)
        AddGoneRows(table, *older, *counts, listed, lastNumber, sums, units);
    for (const int32_t row : totals) {
        RowFacts facts = table.Facts(row);
        facts.change = ChangeOf(sums.before, sums.delta, older || olderChild ? ChangeMark::Compared : ChangeMark::New, units);
        table.SetFacts(row, std::move(facts));
    }
    if (const std::vector<int32_t> placement = PlacementAfter(table, RowKind::Total);
        !std::is_sorted(placement.begin(), placement.end()))
        table.ReorderRows(placement);
}

}  // namespace

void CompareRows(ResultsTable& table, const KeptDirectory* older, SizeMeasure measure, const SizeUnits& units)
{
    CompareRowsWith(table, older, nullptr, measure, units);
}

void CompareRows(ResultsTable& table, const KeptComparison& comparison, const std::string& path, SizeMeasure measure,
                 const SizeUnits& units)
{
    CompareRowsWith(table, comparison.OlderAt(path), comparison.OlderBaseBelow(path), measure, units);
}

bool RowsCompared(const ResultsTable& table)
{
    return table.Rows() > ResultsTable::FixedRows && table.Facts(ResultsTable::FixedRows).change.has_value();
}

void DropComparison(ResultsTable& table)
{
    int32_t gone = 0;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row) {
        if (table.Facts(row).kind == RowKind::Gone) {
            ++gone;
        } else if (table.Facts(row).change) {
            RowFacts facts = table.Facts(row);
            facts.change.reset();
            table.SetFacts(row, std::move(facts));
        }
    }
    if (gone == 0)
        return;
    if (const std::vector<int32_t> placement = PlacementAfter(table, RowKind::Gone);
        !std::is_sorted(placement.begin(), placement.end()))
        table.ReorderRows(placement);
    table.SetRows(table.Rows() - gone);
}

}  // namespace murako
