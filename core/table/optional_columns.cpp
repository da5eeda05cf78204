#include "optional_columns.h"

#include "row_texts.h"
#include "size_units.h"

namespace murako {

std::string ChangeCellText(const RowFacts& facts, const std::string&)
{
    return facts.change ? facts.change->text : std::string();
}

std::optional<int64_t> ChangeKey(const RowFacts& facts)
{
    return facts.change ? std::optional<int64_t>(facts.change->delta) : std::nullopt;
}

std::optional<int64_t> CountedEntries(const RowFacts& facts)
{
    return facts.count && !facts.interrupted ? std::optional<int64_t>(facts.count->entries) : std::nullopt;
}

std::string EntriesCellText(const RowFacts& facts, const std::string& groupSeparator)
{
    const std::optional<int64_t> entries = CountedEntries(facts);
    return entries ? FormatGrouped(*entries, groupSeparator) : std::string();
}

bool ShowsNewest(const RowFacts& facts)
{
    return facts.bytes && !facts.interrupted && !facts.moved && facts.kind != RowKind::Gone;
}

std::string NewestCellText(const RowFacts& facts, const std::string&)
{
    return ShowsNewest(facts) ? LocalTimeText(facts.newest) : std::string();
}

std::optional<int64_t> NewestKey(const RowFacts& facts)
{
    return ShowsNewest(facts) && facts.newest != kTimeUnknown ? std::optional<int64_t>(facts.newest) : std::nullopt;
}

const OptionalColumn* FindOptionalColumn(SortColumn column)
{
    for (const OptionalColumn& optional : kOptionalColumns)
        if (optional.column == column)
            return &optional;
    return nullptr;
}

}  // namespace murako
