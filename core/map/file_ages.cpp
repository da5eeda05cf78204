#include "file_ages.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <map>
#include <unordered_map>

#include "kept_counts.h"

namespace murako {

namespace {

struct AgeClassLook {
    const char* name;
    uint32_t colour;
    const char* colourName;
};

// From light to dark as files grow older, far from the types' and the unknown's grey.
constexpr std::array<AgeClassLook, AgeClassCount> kAgeClassLooks{{
    {"1 週間以内", 0xfde725, "黄色"},
    {"1 か月以内", 0x7ad151, "黄緑"},
    {"1 年以内", 0x22a884, "緑"},
    {"3 年以内", 0x2a788e, "青緑"},
    {"それより前", 0x414487, "紺"},
    {"不明", 0x9e9e9e, "灰色"},
}};

constexpr uint32_t kFadedTowards = 0xe6e6e6;

struct CivilDate {
    int64_t year;
    int month;
};

int64_t FloorDivide(int64_t value, int64_t by)
{
    return value / by - (value % by != 0 && (value < 0) != (by < 0));
}

// Days since 1970-01-01 of the first day of a month of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month)
{
    year -= month <= 2;
    const int64_t era = FloorDivide(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDays(int64_t days)
{
    days += 719468;
    const int64_t era = FloorDivide(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2), month};
}

// Beyond 35 million years either way a date is held at the nearest, so that no sum below wraps.
constexpr ModifiedTime kDatedLimit = ModifiedTime{1} << 50;

CivilDate DateOf(ModifiedTime time, int64_t utcOffset)
{
    return CivilFromDays(FloorDivide(std::clamp(time, -kDatedLimit, kDatedLimit) + utcOffset, kDaySeconds));
}

ModifiedTime MonthStart(int64_t year, int month, int64_t utcOffset)
{
    return DaysFromCivil(year, month) * kDaySeconds - utcOffset;
}

AgeRow YearRow(int64_t year, int64_t utcOffset)
{
    return {year, 0, 0, 0, {MonthStart(year, 1, utcOffset), MonthStart(year + 1, 1, utcOffset), false}};
}

AgeRow MonthRow(CivilDate date, int64_t utcOffset)
{
    const CivilDate next = date.month == 12 ? CivilDate{date.year + 1, 1} : CivilDate{date.year, date.month + 1};
    return {date.year, date.month, 0, 0,
            {MonthStart(date.year, date.month, utcOffset), MonthStart(next.year, next.month, utcOffset), false}};
}

void Count(AgeRow& row, int64_t bytes)
{
    ++row.files;
    AddUnlessOverflow(row.bytes, bytes);
}

}  // namespace

const char* AgeClassName(AgeClass age) { return kAgeClassLooks[static_cast<size_t>(age)].name; }
uint32_t AgeClassColour(AgeClass age) { return kAgeClassLooks[static_cast<size_t>(age)].colour; }
const char* AgeClassColourName(AgeClass age) { return kAgeClassLooks[static_cast<size_t>(age)].colourName; }

AgeClass AgeClassOf(ModifiedTime time, ModifiedTime now)
{
    if (time == kTimeUnknown)
        return AgeClass::Unknown;
    ModifiedTime age;
    // A difference beyond the 64-bit range can only be a time far before or after now.
    if (__builtin_sub_overflow(now, time, &age))
        return time > now ? AgeClass::Week : AgeClass::Older;
    if (age <= 7 * kDaySeconds)
        return AgeClass::Week;
    if (age <= 30 * kDaySeconds)
        return AgeClass::Month;
    if (age <= kYearSeconds)
        return AgeClass::Year;
    if (age <= 3 * kYearSeconds)
        return AgeClass::ThreeYears;
    return AgeClass::Older;
}

bool AgeSpan::Holds(ModifiedTime time) const
{
    if (unknown || time == kTimeUnknown)
        return unknown && time == kTimeUnknown;
    return time >= from && time < to;
}

AgeSpread SpreadByAge(const KeptDirectory& dir, SizeMeasure measure, ModifiedTime now, int64_t utcOffset)
{
    AgeSpread spread;
    spread.unknown.span.unknown = true;
    const CivilDate thisMonth = DateOf(now, utcOffset);
    CivilDate month = thisMonth;
    for (int i = 0; i < 12; ++i) {
        spread.months.push_back(MonthRow(month, utcOffset));
        month = month.month == 1 ? CivilDate{month.year - 1, 12} : CivilDate{month.year, month.month - 1};
    }
    const ModifiedTime monthsFrom = spread.months.back().span.from;
    const ModifiedTime monthsTo = spread.months.front().span.to;
    std::map<int64_t, AgeRow, std::greater<>> years;
    const KeptCounts counts(dir, measure);
    for (KeptWalk walk(dir); walk.Next();) {
        if (!walk.AtFile())
            continue;
        const int64_t bytes = counts.FileSize(walk.File());
        const ModifiedTime time = walk.File().facts ? walk.File().facts->modified : kTimeUnknown;
        ++spread.files;
        AddUnlessOverflow(spread.bytes, bytes);
        if (time == kTimeUnknown) {
            Count(spread.unknown, bytes);
            continue;
        }
        const CivilDate date = DateOf(time, utcOffset);
        auto year = years.try_emplace(date.year, YearRow(date.year, utcOffset)).first;
        Count(year->second, bytes);
        if (time >= monthsFrom && time < monthsTo) {
            const int64_t monthsBack = (thisMonth.year - date.year) * 12 + thisMonth.month - date.month;
            Count(spread.months[static_cast<size_t>(monthsBack)], bytes);
        }
    }
    for (auto& [year, row] : years)
        spread.years.push_back(row);
    return spread;
}

bool LocalCalendarTime(ModifiedTime time, std::tm& local)
{
    const auto seconds = static_cast<std::time_t>(time);
#ifdef _WIN32
    return localtime_s(&local, &seconds) == 0;
#else
    return localtime_r(&seconds, &local) != nullptr;
#endif
}

int64_t LocalUtcOffset(ModifiedTime time)
{
    std::tm local{};
    if (!LocalCalendarTime(time, local))
        return 0;
    const int64_t shown = (DaysFromCivil(int64_t{local.tm_year} + 1900, local.tm_mon + 1) + local.tm_mday - 1) *
                              kDaySeconds +
                          local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return shown - time;
}

ModifiedTime FileTime(const KeptDirectory& dir, uint32_t file)
{
    for (KeptWalk walk(dir, KeptWalk::Scope::Listing); walk.Next();)
        if (walk.AtFile() && walk.File().index == file)
            return walk.File().facts ? walk.File().facts->modified : kTimeUnknown;
    return kTimeUnknown;
}

std::vector<ModifiedTime> ItemTimes(const std::vector<MapItem>& items)
{
    // Each directory's files read once, however many of them the map shows.
    std::unordered_map<const KeptDirectory*, std::vector<ModifiedTime>> filesOf;
    std::vector<ModifiedTime> times;
    times.reserve(items.size());
    for (const MapItem& item : items) {
        if (item.kind != MapItemKind::File) {
            times.push_back(item.dir->Newest());
            continue;
        }
        auto [at, added] = filesOf.try_emplace(item.dir);
        if (added) {
            at->second.assign(item.dir->FileCount(), kTimeUnknown);
            for (KeptWalk walk(*item.dir, KeptWalk::Scope::Listing); walk.Next();)
                if (walk.AtFile() && walk.File().facts)
                    at->second[walk.File().index] = walk.File().facts->modified;
        }
        times.push_back(item.file < at->second.size() ? at->second[item.file] : kTimeUnknown);
    }
    return times;
}

std::vector<uint32_t> AgeColours(const std::vector<MapItem>& items, const std::vector<ModifiedTime>& times,
                                 ModifiedTime now)
{
    std::vector<uint32_t> colours(items.size(), 0);
    for (size_t i = 0; i < items.size() && i < times.size(); ++i)
        if (items[i].kind != MapItemKind::Directory)
            colours[i] = AgeClassColour(AgeClassOf(times[i], now));
    return colours;
}

std::vector<uint32_t> FadeOutside(const std::vector<MapItem>& items, const std::vector<ModifiedTime>& times,
                                  const AgeSpan& span, std::vector<uint32_t> colours)
{
    if (colours.size() != items.size()) {
        colours.assign(items.size(), 0);
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].kind != MapItemKind::Directory)
                colours[i] = items[i].kind == MapItemKind::Rest ? kRestColour : TypeGroupColour(items[i].group);
    }
    auto fade = [](uint32_t colour) {
        uint32_t faded = 0;
        for (int shift = 0; shift < 24; shift += 8)
            faded |= (((colour >> shift & 0xff) + 3 * (kFadedTowards >> shift & 0xff)) / 4) << shift;
        return faded;
    };
    for (size_t i = 0; i < items.size() && i < times.size(); ++i)
        if (items[i].kind != MapItemKind::Directory && !span.Holds(times[i]))
            colours[i] = fade(colours[i]);
    return colours;
}

std::vector<LargeFile> OldLargeFiles(const KeptDirectory& dir, SizeMeasure measure, const std::string& basePath,
                                     char separator, ModifiedTime now, int years, size_t count)
{
    const ModifiedTime limit = now - years * kYearSeconds;
    return LargestFiles(dir, measure, basePath, separator, count, [limit](const KeptFile& file) {
        return file.facts && file.facts->modified != kTimeUnknown && file.facts->modified <= limit;
    });
}

}  // namespace murako
