#include "row_order.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "optional_columns.h"

namespace murako {

bool Descending(SortOrder order)
{
    return (order.column == SortColumn::Size || FindOptionalColumn(order.column)) != order.reversed;
}

SortOrder NextOrder(SortOrder current, SortColumn clicked)
{
    if (current.column == clicked)
        return {clicked, !current.reversed};
    return {clicked, false};
}

std::vector<int32_t> RanksInByteOrder(const std::vector<std::string>& names)
{
    std::vector<int32_t> byName(names.size());
    std::iota(byName.begin(), byName.end(), 0);
    std::sort(byName.begin(), byName.end(), [&](int32_t a, int32_t b) { return names[a] < names[b]; });
    std::vector<int32_t> ranks(names.size());
    for (size_t i = 0; i < byName.size(); ++i)
        ranks[byName[i]] = i > 0 && names[byName[i]] == names[byName[i - 1]] ? ranks[byName[i - 1]]
                                                                                : static_cast<int32_t>(i);
    return ranks;
}

void SortRows(ResultsTable& table, SortOrder order, const NameRanks& ranks)
{
    // The rows that move, and the places they fill: every data row but a total.
    std::vector<int32_t> moving;
    for (int32_t row = ResultsTable::FixedRows; row < table.Rows(); ++row)
        if (table.Kind(row) != RowKind::Total)
            moving.push_back(row);

    std::vector<int64_t> keys(static_cast<size_t>(table.Rows()));
    if (order.column == SortColumn::Name) {
        std::vector<std::string> names;
        names.reserve(moving.size());
        for (const int32_t row : moving)
            names.push_back(table.TextAt(row, 1));
        const std::vector<int32_t> nameRanks = ranks(names);
        for (size_t i = 0; i < moving.size(); ++i)
            keys[moving[i]] = nameRanks.at(i);
    } else {
        const OptionalColumn* optional = FindOptionalColumn(order.column);
        for (const int32_t row : moving) {
            const RowFacts& facts = table.Facts(row);
            // A row never written has no size: it goes below every written one; a row without a value in an
            // optional column, below every value.
            keys[row] = order.column == SortColumn::Number ? facts.number
                        : order.column == SortColumn::Size ? facts.bytes.value_or(-1)
                        : optional ? optional->key(facts).value_or(std::numeric_limits<int64_t>::min())
                                   : 0;
        }
    }
    const bool descending = Descending(order);
    std::vector<int32_t> sorted = moving;
    std::stable_sort(sorted.begin(), sorted.end(), [&](int32_t a, int32_t b) {
        if (keys[a] != keys[b])
            return descending ? keys[a] > keys[b] : keys[a] < keys[b];
        return table.Number(a) < table.Number(b);
    });

    std::vector<int32_t> placement(static_cast<size_t>(table.Rows()));
    std::iota(placement.begin(), placement.end(), 0);
    for (size_t i = 0; i < moving.size(); ++i)
        placement[moving[i]] = sorted[i];
    if (sorted != moving)
        table.ReorderRows(placement);
}

}  // namespace murako
