#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "file_system.h"
#include "results_table.h"
#include "row_order.h"

namespace murako {

// The texts that say what a result row stands for beyond its cells, the same in the window's tooltips, for a
// screen reader, in the status bar and on the printed report.

// The user's separators for numbers: between groups of three digits, and before a fraction.
struct NumberSeparators {
    std::string group = ",";
    std::string decimal = ".";
};

// Why a place could not be read.
std::string FailureText(ReadFailure failure);

// "読み取れなかったディレクトリ: " and the count, digits grouped.
std::string UnreadCountText(int64_t count, const std::string& groupSeparator);

// How old the kept results shown are: "3 分前の検索結果", and in hours or days once that long.
std::string KeptAgeNote(std::chrono::seconds age);

// A time as the computer's clock shows it: "2026/11/30 14:02"; "不明" when unknown or past what the clock tells.
std::string LocalTimeText(ModifiedTime time);

// The newest change in a row: "最終更新: 2026/11/30 14:02", or "最終更新: 不明".
std::string NewestText(ModifiedTime newest);

// The names a row holds: "12,345 項目", digits grouped.
std::string EntriesText(int64_t entries, const std::string& groupSeparator);

// What the total of a search says when its patterns exclude the directory searched itself.
inline constexpr const char* kBaseExcludedText =
    "除外するパターンが検索したフォルダー自体に一致したため、何も数えていません";

// What a search left out, for the status bar: "除外あり（パターン 3、CACHEDIR.TAG、他のファイルシステム）".
std::string ScopeNote(const SearchScope& scope);

// What tells two searches compared apart beyond their sizes, for the status bar: a cancel that cut either
// short, and a different choice of what to leave out; empty when nothing does.
std::string ComparedSearchesNote(const SearchScope& now, bool nowCutShort, const SearchScope& then,
                                 bool thenCutShort);

// Whether a row's bytes are a share of the whole: a data row other than the total (a row a cancel cut short
// holds 0, so it has none).
bool HasShare(const RowFacts& facts);

// What a data cell's tooltip adds to its text, one line each: on the size, its exact byte count and, once a
// finished run has written its total, its share of that, and the names it holds; on a row a cancel cut
// short, in place of a byte count or a count of names, that its 0 counts nothing; on a row with places under
// it that could not be read, how many and the first of them with why; the pseudo and other file systems it
// holds, never entered, and how many names the search's patterns left out of it; on the size and the change
// while the rows are compared with an older search, the change. Empty when there is nothing to add. The
// column is named by its identity, as SortColumn names it, wherever the grid shows it.
std::string CellNotes(const ResultsTable& table, int32_t row, int32_t col, const NumberSeparators& separators);

// What a row's change since an older search says beyond its text: the size then and the change in bytes, or
// that the row was not there then, or is not there now.
std::string ChangeNote(const RowChange& change, const std::string& groupSeparator);

// What the header of the column that orders the rows adds: which way they run, and while a search runs in
// any order but the listing's, that they take it when it ends.
std::string SortNote(SortOrder order, bool waiting);

}  // namespace murako
