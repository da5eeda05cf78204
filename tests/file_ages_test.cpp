// How old the files of a kept tree are: the age classes at their bounds, the years and months against a count
// by hand, each map item's time, and the old large files against a sort of every file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>
#include <ostream>

#include "file_ages.h"
#include "random_kept_tree.h"

namespace murako {
namespace {

constexpr ModifiedTime kNow = 1'700'000'000;  // 2023-11-14 22:13:20 UTC
constexpr ModifiedTime kDay = kDaySeconds;

struct ClassAt {
    ModifiedTime time;
    AgeClass age;
};

void PrintTo(const ClassAt& at, std::ostream* out) { *out << at.time << " → " << AgeClassName(at.age); }

class AgeClassBounds : public testing::TestWithParam<ClassAt> {};

TEST_P(AgeClassBounds, EachBoundLiesInsideItsClassAndOneSecondMoreInTheNext)
{
    EXPECT_EQ(static_cast<int>(AgeClassOf(GetParam().time, kNow)), static_cast<int>(GetParam().age))
        << GetParam().time;
}

INSTANTIATE_TEST_SUITE_P(
    Times, AgeClassBounds,
    testing::Values(ClassAt{kNow, AgeClass::Week}, ClassAt{kNow - 7 * kDay + 1, AgeClass::Week},
                    ClassAt{kNow - 7 * kDay, AgeClass::Week}, ClassAt{kNow - 7 * kDay - 1, AgeClass::Month},
                    ClassAt{kNow - 30 * kDay, AgeClass::Month}, ClassAt{kNow - 30 * kDay - 1, AgeClass::Year},
                    ClassAt{kNow - 365 * kDay, AgeClass::Year}, ClassAt{kNow - 365 * kDay - 1, AgeClass::ThreeYears},
                    ClassAt{kNow - 3 * 365 * kDay, AgeClass::ThreeYears},
                    ClassAt{kNow - 3 * 365 * kDay - 1, AgeClass::Older},
                    // Before 1970, far before, in the future and as far as a time goes: never wrapped.
                    ClassAt{-1, AgeClass::Older}, ClassAt{0, AgeClass::Older},
                    ClassAt{kTimeUnknown + 1, AgeClass::Older}, ClassAt{kNow + 1, AgeClass::Week},
                    ClassAt{4'102'444'800, AgeClass::Week},
                    ClassAt{std::numeric_limits<ModifiedTime>::max(), AgeClass::Week},
                    ClassAt{kTimeUnknown, AgeClass::Unknown}));

TEST(AgeClassBounds, FromAnyNowTheFarthestTimesStayInTheEndClasses)
{
    for (const ModifiedTime now : {ModifiedTime{-4'000'000'000}, ModifiedTime{0}, kNow})
        for (const ModifiedTime time : {kTimeUnknown + 1, ModifiedTime{-(ModifiedTime{1} << 39)}}) {
            EXPECT_EQ(AgeClassOf(time, now), AgeClass::Older) << now;
            EXPECT_EQ(AgeClassOf(-time, now), AgeClass::Week) << now;
        }
}

// Every live file below dir with its directory, by recursion and the raw listing rather than the tree's walk.
template <typename See>
void EveryFile(const KeptDirectory& dir, See&& see)
{
    ForEachFile(dir, [&](const KeptFile& file) {
        if (!file.moved)
            see(dir, file);
    });
    for (uint32_t i = 0; i < dir.ChildCount(); ++i)
        if (!(dir.Children()[i]->flags & KeptDirectory::Moved))
            EveryFile(*dir.Children()[i], see);
}

ModifiedTime TimeOf(const KeptFile& file) { return file.facts ? file.facts->modified : kTimeUnknown; }

// Some files and a directory moved away first: what is moved counts nowhere.
std::unique_ptr<KeptTree> MovedSome(uint32_t seed)
{
    auto tree = fakes::RandomKeptTree(seed, 4, 4, 25, true);
    const KeptDirectory& base = *tree->Base();
    tree->MarkMoved(*base.Children()[seed % base.ChildCount()]);
    for (uint32_t i = 0; i < base.FileCount(); i += 3)
        tree->MarkFileMoved(base, i);
    return tree;
}

class RandomAges : public testing::TestWithParam<uint32_t> {};

TEST_P(RandomAges, YearsAndMonthsAddUpAsCountedByHand)
{
    using namespace std::chrono;
    const auto tree = MovedSome(GetParam());
    constexpr int64_t kTokyo = 9 * 3600;
    struct Tally {
        int64_t files = 0, bytes = 0;
    };
    std::map<int64_t, Tally> years, months;  // months by year * 12 + month - 1
    Tally unknown, all;
    EveryFile(*tree->Base(), [&](const KeptDirectory&, const KeptFile& file) {
        const int64_t bytes = KeptFileSize(file, SizeMeasure::Length);
        Tally* into = &unknown;
        if (TimeOf(file) != kTimeUnknown) {
            const year_month_day date{floor<days>(sys_seconds(seconds(TimeOf(file) + kTokyo)))};
            into = &years[int{date.year()}];
            Tally& month = months[int64_t{int{date.year()}} * 12 + unsigned{date.month()} - 1];
            ++month.files;
            month.bytes += bytes;
        }
        ++into->files;
        into->bytes += bytes;
        ++all.files;
        all.bytes += bytes;
    });
    const AgeSpread spread = SpreadByAge(*tree->Base(), SizeMeasure::Length, kNow, kTokyo);
    EXPECT_EQ(spread.files, all.files);
    EXPECT_EQ(spread.bytes, all.bytes);
    EXPECT_EQ(spread.bytes, tree->Base()->Size(SizeMeasure::Length));
    EXPECT_EQ(spread.unknown.files, unknown.files);
    EXPECT_EQ(spread.unknown.bytes, unknown.bytes);
    ASSERT_EQ(spread.years.size(), years.size());
    auto year = years.rbegin();
    for (const AgeRow& row : spread.years) {
        EXPECT_EQ(row.year, year->first);
        EXPECT_EQ(row.files, year->second.files) << row.year;
        EXPECT_EQ(row.bytes, year->second.bytes) << row.year;
        ++year;
    }
    // November 2023 in Tokyo and the eleven months before it, the newest first.
    ASSERT_EQ(spread.months.size(), 12u);
    for (size_t i = 0; i < spread.months.size(); ++i) {
        const AgeRow& row = spread.months[i];
        const int64_t key = 2023 * 12 + 10 - static_cast<int64_t>(i);
        EXPECT_EQ(row.year * 12 + row.month - 1, key) << i;
        EXPECT_EQ(row.files, months[key].files) << row.year << "/" << row.month;
        EXPECT_EQ(row.bytes, months[key].bytes) << row.year << "/" << row.month;
    }
}

TEST_P(RandomAges, EachMapItemHasItsFilesTimeOrTheNewestBelowItsDirectory)
{
    const auto tree = MovedSome(GetParam());
    std::map<std::pair<const KeptDirectory*, uint32_t>, ModifiedTime> fileTimes;
    EveryFile(*tree->Base(), [&](const KeptDirectory& dir, const KeptFile& file) {
        fileTimes[{&dir, file.index}] = TimeOf(file);
    });
    auto newestBelow = [&](const KeptDirectory& dir) {
        ModifiedTime newest = kTimeUnknown;
        EveryFile(dir, [&](const KeptDirectory&, const KeptFile& file) { newest = Newer(newest, TimeOf(file)); });
        for (KeptWalk walk(dir, KeptWalk::Scope::Directories); walk.Next();)
            newest = Newer(newest, walk.Directory().Modified());
        return newest;
    };
    const std::vector<MapItem> items = LayOutMap(*tree->Base(), SizeMeasure::Length, {0, 0, 800, 600});
    const std::vector<ModifiedTime> times = ItemTimes(items);
    const std::vector<uint32_t> colours = AgeColours(items, times, kNow);
    ASSERT_EQ(times.size(), items.size());
    int files = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const MapItem& item = items[i];
        const ModifiedTime expected =
            item.kind == MapItemKind::File ? fileTimes.at({item.dir, item.file}) : newestBelow(*item.dir);
        files += item.kind == MapItemKind::File;
        EXPECT_EQ(times[i], expected) << i;
        if (item.kind == MapItemKind::File) {
            EXPECT_EQ(FileTime(*item.dir, item.file), expected) << i;
        }
        EXPECT_EQ(colours[i], item.kind == MapItemKind::Directory ? 0u : AgeClassColour(AgeClassOf(expected, kNow)));
    }
    EXPECT_GT(files, 50) << "the map shows files enough to tell";
}

TEST_P(RandomAges, OldLargeFilesAreTheLargestOfThoseOldEnoughAsASortOfAllTells)
{
    const auto tree = MovedSome(GetParam());
    for (const int years : {1, 2, 5}) {
        std::vector<int64_t> old;
        EveryFile(*tree->Base(), [&](const KeptDirectory&, const KeptFile& file) {
            if (file.facts && file.facts->regular && TimeOf(file) != kTimeUnknown &&
                TimeOf(file) <= kNow - years * kYearSeconds)
                old.push_back(KeptFileSize(file, SizeMeasure::OnDisk));
        });
        std::sort(old.rbegin(), old.rend());
        old.resize(std::min<size_t>(old.size(), 100));
        const std::vector<LargeFile> found =
            OldLargeFiles(*tree->Base(), SizeMeasure::OnDisk, "/random", '/', kNow, years);
        std::vector<int64_t> sizes;
        for (const LargeFile& file : found) {
            sizes.push_back(file.bytes);
            EXPECT_EQ(file.modified, FileTime(*file.dir, file.index)) << file.path;
            EXPECT_LE(file.modified, kNow - years * kYearSeconds) << file.path;
        }
        EXPECT_EQ(sizes, old) << years << " years";
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomAges, testing::Values(1u, 7u, 42u, 2026u));

// A file changed at 00:30 on New Year's Day in Tokyo is of the new year there and of the old one in UTC.
TEST(AgeSpreadCalendar, TheYearAndMonthAreThoseOfTheClockGiven)
{
    KeptTree tree("/t");
    KeptFilesWriter files;
    const ModifiedTime newYearTokyo = 1'704'036'600;  // 2023-12-31 15:30 UTC
    files.Add("f", FileFacts{10, 4096, 0, 1, true, newYearTokyo});
    (void)tree.SetListing(*tree.AddDirectory(nullptr, 0, {}, {}), files, 0, 4096);
    tree.Complete();
    const ModifiedTime now = newYearTokyo + kDay;
    const AgeSpread tokyo = SpreadByAge(*tree.Base(), SizeMeasure::Length, now, 9 * 3600);
    const AgeSpread utc = SpreadByAge(*tree.Base(), SizeMeasure::Length, now, 0);
    ASSERT_EQ(tokyo.years.size(), 1u);
    ASSERT_EQ(utc.years.size(), 1u);
    EXPECT_EQ(tokyo.years[0].year, 2024);
    EXPECT_EQ(utc.years[0].year, 2023);
    const ModifiedTime midnightTokyo = newYearTokyo - 30 * 60;
    EXPECT_TRUE(tokyo.years[0].span.Holds(midnightTokyo));
    EXPECT_FALSE(tokyo.years[0].span.Holds(midnightTokyo - 1));
    EXPECT_EQ(tokyo.months[0].month, 1);
    EXPECT_EQ(tokyo.months[0].files, 1);
    EXPECT_EQ(tokyo.months[1].year * 100 + tokyo.months[1].month, 202312);
    EXPECT_EQ(utc.months[0].files, 0) << "January in UTC holds nothing";
    EXPECT_EQ(utc.months[1].files, 1);
}

TEST(AgeFading, OnlyWhatLiesOutsideTheSpanFadesAndTheUnknownSpanHoldsOnlyTheUnknown)
{
    const auto tree = fakes::RandomKeptTree(3, 3, 4, 20, true);
    const std::vector<MapItem> items = LayOutMap(*tree->Base(), SizeMeasure::Length, {0, 0, 640, 480});
    const std::vector<ModifiedTime> times = ItemTimes(items);
    for (const AgeSpan span : {AgeSpan{0, 1'000'000'000, false}, AgeSpan{kTimeUnknown, kTimeUnknown, true}}) {
        const std::vector<uint32_t> byType = FadeOutside(items, times, span, {});
        const std::vector<uint32_t> byAge = FadeOutside(items, times, span, AgeColours(items, times, kNow));
        for (size_t i = 1; i < items.size(); ++i) {
            if (items[i].kind != MapItemKind::File)
                continue;
            const bool in = span.unknown ? times[i] == kTimeUnknown : times[i] >= 0 && times[i] < 1'000'000'000;
            EXPECT_EQ(byType[i] == TypeGroupColour(items[i].group), in) << i;
            EXPECT_EQ(byAge[i] == AgeClassColour(AgeClassOf(times[i], kNow)), in) << i;
        }
    }
}

}  // namespace
}  // namespace murako
