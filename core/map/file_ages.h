#pragma once
// How old the files of a kept tree are: each time's class and colour on the map, the space and files per year
// and per month, and the largest files not changed for years.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "disk_map.h"
#include "largest_files.h"

namespace murako {

// From the newest to the oldest; Unknown for a time that could not be read.
enum class AgeClass : uint8_t { Week, Month, Year, ThreeYears, Older, Unknown };
inline constexpr size_t AgeClassCount = 6;

inline constexpr ModifiedTime kDaySeconds = 24 * 60 * 60;
inline constexpr ModifiedTime kYearSeconds = 365 * kDaySeconds;

// "1 週間以内", "1 か月以内", "1 年以内", "3 年以内", "それより前", "不明".
const char* AgeClassName(AgeClass age);
// The class's colour on the map and in its legend, as 0xRRGGBB, and in words: "黄色".
uint32_t AgeClassColour(AgeClass age);
const char* AgeClassColourName(AgeClass age);

// The class of a time seen at now: a week is 7 days, a month 30, a year 365, each bound itself inside. A time
// after now is the newest class, one too far before it to count the oldest.
AgeClass AgeClassOf(ModifiedTime time, ModifiedTime now);

// The times from from up to before to, or the unknown ones.
struct AgeSpan {
    ModifiedTime from = kTimeUnknown;
    ModifiedTime to = kTimeUnknown;
    bool unknown = false;
    bool Holds(ModifiedTime time) const;
    bool operator==(const AgeSpan&) const = default;
};

struct AgeRow {
    int64_t year = 0;
    int month = 0;  // 1 to 12; 0 for the whole year, or the unknown times
    int64_t files = 0;
    int64_t bytes = 0;
    AgeSpan span;
};

struct AgeSpread {
    std::vector<AgeRow> years;   // the years holding files, the newest first
    std::vector<AgeRow> months;  // the 12 months up to now's, the newest first, empty ones too
    AgeRow unknown;              // the files whose time is unknown
    int64_t files = 0;
    int64_t bytes = 0;
};

// The files below dir by the calendar year and month of their change, counted as a search of dir counts
// them; the calendar is that of a clock utcOffset seconds ahead of UTC.
AgeSpread SpreadByAge(const KeptDirectory& dir, SizeMeasure measure, ModifiedTime now, int64_t utcOffset);
// How far the computer's clock is ahead of UTC at time; 0 where it cannot tell.
int64_t LocalUtcOffset(ModifiedTime time);
// time as the computer's clock shows it; false where the clock cannot tell (Windows' before 1970).
bool LocalCalendarTime(ModifiedTime time, std::tm& local);

// When the file at that place in dir's listing last changed; kTimeUnknown when not told or moved away.
ModifiedTime FileTime(const KeptDirectory& dir, uint32_t file);

// Each map item's time: a file's own; a directory's and a rest's the newest change in its directory.
std::vector<ModifiedTime> ItemTimes(const std::vector<MapItem>& items);

// Each file's and rest's colour by its age class at now; a directory's entry gets 0, its frame keeps its grey.
std::vector<uint32_t> AgeColours(const std::vector<MapItem>& items, const std::vector<ModifiedTime>& times,
                                 ModifiedTime now);

// The colours (by type where none are given) with every file and rest whose time lies outside span faded
// towards the background, so that those in it stand out.
std::vector<uint32_t> FadeOutside(const std::vector<MapItem>& items, const std::vector<ModifiedTime>& times,
                                  const AgeSpan& span, std::vector<uint32_t> colours);

// The count largest files below dir not changed for years or more at now, largest first, as LargestFiles
// gives them; a file whose time is unknown is none of them.
std::vector<LargeFile> OldLargeFiles(const KeptDirectory& dir, SizeMeasure measure, const std::string& basePath,
                                     char separator, ModifiedTime now, int years, size_t count = 100);

}  // namespace murako
