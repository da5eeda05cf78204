#include "row_texts.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "file_ages.h"
#include "optional_columns.h"
#include "size_units.h"

namespace murako {

namespace {

// A part of a whole in percent to one decimal, worked out in whole tenths so that no C locale gets a say.
std::string Percent(int64_t part, int64_t whole, const std::string& decimal)
{
    const auto tenths = std::llround(1000.0 * static_cast<double>(part) / static_cast<double>(whole));
    return std::to_string(tenths / 10) + decimal + std::to_string(tenths % 10);
}

std::string SizeNote(const ResultsTable& table, const RowFacts& facts, const NumberSeparators& separators)
{
    std::string line = FormatGrouped(*facts.bytes, separators.group) + " バイト";
    const RowFacts& last = table.Facts(table.Rows() - 1);
    if (HasShare(facts) && last.kind == RowKind::Total && last.bytes && *last.bytes > 0)
        line += "（全体の " + Percent(*facts.bytes, *last.bytes, separators.decimal) + " %）";
    return line;
}

void AddLine(std::string& lines, const std::string& line)
{
    if (!lines.empty())
        lines += '\n';
    lines += line;
}

// A count of places under a heading, then the first of them by path.
void AddPlaces(std::string& lines, const std::string& heading, const UnreadPlaces& places,
               const std::string& groupSeparator)
{
    if (places.count == 0)
        return;
    AddLine(lines, heading + FormatGrouped(places.count, groupSeparator));
    for (const UnreadPlaces::Place& place : places.first)
        AddLine(lines, place.path);
    if (places.count > static_cast<int64_t>(places.first.size()))
        AddLine(lines, "…");
}

}  // namespace

std::string FailureText(ReadFailure failure)
{
    switch (failure) {
    case ReadFailure::None: break;
    case ReadFailure::Permission: return "アクセス権がありません";
    case ReadFailure::Vanished: return "検索中に削除または置き換えられました";
    case ReadFailure::TooManyOpenFiles: return "開いているファイルが多すぎます";
    case ReadFailure::Loop: return "自身の上位ディレクトリです (ループ)";
    case ReadFailure::NotFound: return "見つかりません";
    case ReadFailure::NotDirectory: return "ディレクトリではありません";
    case ReadFailure::ReplacedByLink: return "検索中にリンクに置き換えられました";
    case ReadFailure::LinkLoop: return "リンクが循環しています";
    case ReadFailure::NameTooLong: return "名前が長すぎます";
    case ReadFailure::Other: break;
    }
    return "読み取りエラー";
}

std::string UnreadCountText(int64_t count, const std::string& groupSeparator)
{
    return "読み取れなかったディレクトリ: " + FormatGrouped(count, groupSeparator);
}

std::string KeptAgeNote(std::chrono::seconds age)
{
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(age).count();
    if (minutes < 1)
        return "1 分以内の検索結果";
    if (minutes < 60)
        return std::to_string(minutes) + " 分前の検索結果";
    if (minutes < 24 * 60)
        return std::to_string(minutes / 60) + " 時間前の検索結果";
    return std::to_string(minutes / (24 * 60)) + " 日前の検索結果";
}

std::string LocalTimeText(ModifiedTime time)
{
    if (time == kTimeUnknown)
        return "不明";
    std::tm local{};
    char text[64];
    if (LocalCalendarTime(time, local) && std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", &local) != 0)
        return text;
    // Windows' clock tells no time before 1970 or after 3000: the calendar does, at today's offset from UTC.
    using namespace std::chrono;
    const int64_t shown = time + LocalUtcOffset(std::time(nullptr));
    const sys_seconds at{std::chrono::seconds{shown}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const int64_t second = (at - day).count();
    if (!date.ok())
        return "不明";
    std::snprintf(text, sizeof text, "%04d/%02u/%02u %02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60));
    return text;
}

std::string NewestText(ModifiedTime newest)
{
    return "最終更新: " + LocalTimeText(newest);
}

std::string EntriesText(int64_t entries, const std::string& groupSeparator)
{
    return FormatGrouped(entries, groupSeparator) + " 項目";
}

std::string ScopeNote(const SearchScope& scope)
{
    std::string parts;
    const auto add = [&parts](const std::string& part) { parts += (parts.empty() ? "" : "、") + part; };
    if (!scope.patterns.empty())
        add("パターン " + std::to_string(scope.patterns.size()));
    if (scope.excludeCaches)
        add("CACHEDIR.TAG");
    if (scope.oneFileSystem)
        add("他のファイルシステム");
    return "除外あり（" + parts + "）";
}

std::string ComparedSearchesNote(const SearchScope& now, bool nowCutShort, const SearchScope& then,
                                 bool thenCutShort)
{
    std::string notes;
    const auto add = [&notes](const std::string& note) { notes += (notes.empty() ? "" : "　") + note; };
    if (thenCutShort)
        add("前回の検索は中断されています");
    if (nowCutShort)
        add("今回の検索は中断されています");
    if (now != then)
        add("前回と除外の設定が異なります（前回: " + (then.LeavesOut() ? ScopeNote(then) : "除外なし") + "）");
    return notes;
}

bool HasShare(const RowFacts& facts)
{
    return facts.bytes && (facts.kind == RowKind::RootFiles || facts.kind == RowKind::Subdirectory);
}

std::string CellNotes(const ResultsTable& table, int32_t row, int32_t col, const NumberSeparators& separators)
{
    constexpr auto number = static_cast<int32_t>(SortColumn::Number);
    constexpr auto size = static_cast<int32_t>(SortColumn::Size);
    constexpr auto change = static_cast<int32_t>(SortColumn::Change);
    constexpr auto entries = static_cast<int32_t>(SortColumn::Entries);
    const RowFacts& facts = table.Facts(row);
    std::string lines;
    if (facts.moved)
        AddLine(lines, "ごみ箱に移動しました");
    // A cut-short row's 0 is no byte count, and its empty count no count: it says so in their place.
    if (facts.interrupted && (col == number || col == size || col == entries))
        AddLine(lines, "中断したため、このディレクトリの合計は数えていません");
    else if (col == size && facts.bytes)
        AddLine(lines, SizeNote(table, facts, separators));
    if (const std::optional<int64_t> names = CountedEntries(facts); col == size && names)
        AddLine(lines, EntriesText(*names, separators.group));
    if (col == size && ShowsNewest(facts))
        AddLine(lines, NewestText(facts.newest));
    if (facts.change && (col == size || col == change))
        AddLine(lines, ChangeNote(*facts.change, separators.group));
    if (const UnreadPlaces& unread = facts.unread; unread.count > 0) {
        AddLine(lines, UnreadCountText(unread.count, separators.group));
        for (const UnreadPlaces::Place& place : unread.first)
            AddLine(lines, place.path + " (" + FailureText(place.failure) + ")");
        if (unread.count > static_cast<int64_t>(unread.first.size()))
            AddLine(lines, "…");
    }
    // A pseudo file system's 0 is not the disk's: it was never entered.
    AddPlaces(lines, "数えていない擬似ファイルシステム: ", facts.notEntered, separators.group);
    // One other file system is named on the heading's line: "別のファイルシステム: nfs4, /mnt/nas".
    if (facts.otherFileSystems.count == 1 && facts.otherFileSystems.first.size() == 1)
        AddLine(lines, "別のファイルシステム: " + facts.otherFileSystems.first.front().path);
    else
        AddPlaces(lines, "別のファイルシステム: ", facts.otherFileSystems, separators.group);
    if (facts.count && facts.count->excluded > 0)
        AddLine(lines, "除外: " + FormatGrouped(facts.count->excluded, separators.group));
    if (facts.baseExcluded)
        AddLine(lines, kBaseExcludedText);
    return lines;
}

std::string ChangeNote(const RowChange& change, const std::string& groupSeparator)
{
    const std::string before = "前回: " + FormatGrouped(change.before, groupSeparator) + " バイト";
    switch (change.mark) {
    case ChangeMark::New: return "前回はありませんでした";
    case ChangeMark::Gone: return "今回はありません（" + before + "）";
    case ChangeMark::Compared: break;
    }
    const std::string sign = change.delta > 0 ? "+" : "";
    return before + "（" + sign + FormatGrouped(change.delta, groupSeparator) + " バイト）";
}

std::string SortNote(SortOrder order, bool waiting)
{
    const std::string way = Descending(order) ? "降順に並べ替え" : "昇順に並べ替え";
    return waiting ? way + "（検索の終了後）" : way;
}

}  // namespace murako
