#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fake_run.h"
#include "headless_run.h"
#include "row_texts.h"
#include "search_run.h"
#include "walker.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;
using fakes::FixedChoices;
using fakes::Gate;
using fakes::RecordingPresentation;
using fakes::ScriptedHost;
using Row = std::array<std::string, 3>;
using Rows = std::vector<Row>;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

const std::vector<std::string> kBusy{"A 取消", "B hidden", "C 検索中...", "D hourglass", "E off",
                                     "F off",  "G off",    "H off",       "I"};
const std::vector<std::string> kIdle{"A 検索", "B shown", "D default", "C ", "E on", "F on", "G on", "H on"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "row count: path why, ..." for a row with unread places.
std::string Describe(int32_t row, const UnreadPlaces& unread)
{
    std::string text = std::to_string(row) + " " + std::to_string(unread.count) + ":";
    for (const UnreadPlaces::Place& place : unread.first)
        text += " " + place.path + " " + FailureText(place.failure) + ",";
    return text;
}

// Each row of a search as "number name bytes", each followed by its count of unread places and the first.
std::vector<std::string> RowsAndUnreadPlaces(std::shared_ptr<FileSystem> fs, const std::string& path, int threads)
{
    ResultsTable table;
    std::vector<std::string> rows;
    SearchController::Options options;
    options.threads = threads;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        rows.push_back(std::to_string(row) + " " + name + " " + std::to_string(bytes));
        rows.push_back(Describe(row, table.Facts(row).unread));
    };
    SearchWithoutWindow(table, std::move(fs), path, options);
    return rows;
}

// Serial (1 thread) unless a derived fixture says otherwise.
class SearchRunTest : public ::testing::Test {
protected:
    explicit SearchRunTest(int threads = 1) : threads(threads)
    {
        InitGrid(table);
        // a.txt and .hidden: 2,560 bytes of the base's own; sub1 75 kb over two levels; .dotdir 2 kb; sub2 empty.
        fs.File("/base/a.txt", 1536).File("/base/.hidden", 1024);
        fs.File("/base/sub1/x", 51200).File("/base/sub1/deep/y", 25600);
        fs.File("/base/.dotdir/z", 1536).Dir("/base/sub2");
    }

    bool Serial() const { return threads == 1; }

    SearchController& Controller()
    {
        SearchController::Options options;
        options.threads = threads;
        options.rowWritten = [this](int32_t row, const std::string& name, int64_t bytes) {
            written.push_back(std::to_string(row) + " " + name + " " + std::to_string(bytes));
            if (const UnreadPlaces& places = table.Facts(row).unread; places.count > 0)
                unread.push_back(Describe(row, places));
            if (afterRowWritten)
                afterRowWritten(row);
        };
        controller = std::make_unique<SearchController>(table, presentation, choices, sharedFs, host, options);
        return *controller;
    }

    Rows DataRows() const
    {
        Rows rows;
        for (int32_t r = 1; r < table.Rows(); ++r)
            rows.push_back({table.TextAt(r, 0), table.TextAt(r, 1), table.TextAt(r, 2)});
        return rows;
    }

    const Rows kFullTable{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "75 kb"},      {"3", ".dotdir", "2 kb"},
                          {"4", "sub2", "0 kb"},          {"5", "/base/合計", "79 kb"}};

    const int threads;
    ResultsTable table;
    std::shared_ptr<FakeFileSystem> sharedFs = std::make_shared<FakeFileSystem>();
    FakeFileSystem& fs = *sharedFs;
    ScriptedHost host;
    RecordingPresentation presentation;
    FixedChoices choices;
    std::vector<std::string> written;
    std::vector<std::string> unread;
    std::function<void(int32_t row)> afterRowWritten;
    std::unique_ptr<SearchController> controller;
};

// Every case below runs with a serial walk and with the default threaded one.
class SearchRunModes : public SearchRunTest, public ::testing::WithParamInterface<int> {
protected:
    SearchRunModes() : SearchRunTest(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Walks, SearchRunModes, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? "Serial" : "Threaded";
                         });

TEST_P(SearchRunModes, FullRunWritesRootFilesEachSubdirectoryAndTheTotalInListingOrder)
{
    SearchController& run = Controller();
    run.Command1_Click();

    EXPECT_EQ(DataRows(), kFullTable);
    EXPECT_EQ(written, (std::vector<std::string>{"1 [Root Files] 2560", "2 sub1 76800", "3 .dotdir 1536",
                                                 "4 sub2 0", "5 /base/合計 80896"}));
    EXPECT_FALSE(run.Searching());
    EXPECT_EQ(presentation.log, Concat(kBusy, kIdle));
    EXPECT_EQ(table.Row(), 5);
    EXPECT_EQ(table.Col(), 2);
    // One yield per listed name, "." and ".." included, and one after every subdirectory's walk.
    EXPECT_EQ(host.yields, 7 + (4 + 3 + 1) + 1 + 3 + 1 + 2 + 1);
}

TEST_P(SearchRunModes, UnitsAreReadAtEachRunStart)
{
    SearchController& run = Controller();
    choices.divisor1024 = false;
    choices.unitKb = false;
    fs.File("/base/big", 1499500 - 2560);
    run.Command1_Click();
    EXPECT_EQ(run.Units().KiloUnit, 1000);
    EXPECT_EQ(run.Units().SizeUnit, "Mb");
    EXPECT_EQ(DataRows()[0], (Row{"1", "[Root Files]", "2 Mb"})) << "1,499,500 bytes round twice";

    choices.divisor1024 = true;
    choices.unitKb = true;
    run.Command1_Click();
    EXPECT_EQ(DataRows()[0][2], "1,464 kb");
}

TEST_P(SearchRunModes, EmptyUnlistableAndRootDirectoriesGiveThreeRows)
{
    fs.Dir("/empty");
    fs.At("/empty").withDots = false;
    choices.path = "/empty/";
    Controller().Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "0 kb"}, {"2", "/empty/合計", "0 kb"}}));
    EXPECT_EQ(host.yields, 0) << "an empty listing yields not at all";

    fs.Dir("/locked/inner");
    fs.At("/locked").unlistable = true;
    choices.path = "/locked";
    controller->Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "0 kb"}, {"2", "/locked/合計", "0 kb"}}));

    auto onlyDots = std::make_shared<FakeFileSystem>();
    onlyDots->Dir("/d");
    ScriptedHost dotsHost;
    SearchController dots(table, presentation, choices, onlyDots, dotsHost, {threads, {}});
    choices.path = "/d";
    dots.Command1_Click();
    EXPECT_EQ(dotsHost.yields, 2) << "a listing of only \".\" and \"..\" yields twice";
    EXPECT_EQ(DataRows().size(), 2u);
}

TEST_P(SearchRunModes, FailingStepsAreSkippedAndTheRunGoesOn)
{
    fs.File("/base/noattr", 999).File("/base/nolength", 4096).File("/base/tail", 1024);
    fs.At("/base/noattr").kindFails = true;
    fs.At("/base/nolength").lengthFails = true;
    choices.optionsFail = true;
    choices.divisor1024 = false;
    presentation.failing = {"C 検索中...", "I"};
    SearchController& run = Controller();
    run.Command1_Click();

    EXPECT_EQ(run.Units().KiloUnit, 1024);
    EXPECT_EQ(run.Units().SizeUnit, "kb");
    const Rows rows = DataRows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], (Row{"1", "[Root Files]", "4 kb"})) << "2,560 + tail; no length for nolength";
    EXPECT_EQ(rows[4], (Row{"5", "noattr", "0 kb"})) << "an entry whose kind is unknown is walked as a directory";
    EXPECT_EQ(rows[5], (Row{"6", "/base/合計", "80 kb"}));
    EXPECT_EQ(presentation.log, Concat(kBusy, kIdle));
}

TEST_P(SearchRunModes, AListingThatBreaksOffEndsThere)
{
    fs.At("/base").listingFailsAfter = 5;  // ".", "..", a.txt, .hidden, sub1
    Controller().Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "75 kb"}, {"3", "/base/合計", "78 kb"}})) << "79,360 bytes: 77.5 goes to the even 78";
}

TEST_P(SearchRunModes, WithoutAHighlightedPathTheRootIsSearched)
{
    choices.pathFails = true;
    Controller().Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "0 kb"}, {"2", "base", "79 kb"}, {"3", "/合計", "79 kb"}}));
}

TEST_P(SearchRunModes, AdditionsThatWouldOverflowAreSkippedInListingOrder)
{
    fs.File("/huge/f1", kMax - 200).File("/huge/f2", 300).File("/huge/f3", 100);
    fs.File("/huge/s1/g", kMax - 1000).File("/huge/s2/g", 2000).File("/huge/s3/g", 500);
    fs.File("/huge/s4/g", kMax - 10).File("/huge/s4/e1/g", 20).File("/huge/s4/e2/g", 5);
    // Below a row too the first subdirectory is added first: the other way round s5 would be kMax - 15.
    fs.File("/huge/s5/g", kMax - 30).File("/huge/s5/e1/g", 20).File("/huge/s5/e2/g", 15);
    choices.path = "/huge";
    Controller().Command1_Click();
    EXPECT_EQ(written, (std::vector<std::string>{
                           "1 [Root Files] " + std::to_string(kMax - 100), "2 s1 " + std::to_string(kMax - 1000),
                           "3 s2 2000", "4 s3 500", "5 s4 " + std::to_string(kMax - 5),
                           "6 s5 " + std::to_string(kMax - 10), "7 /huge/合計 " + std::to_string(kMax - 100)}));
}

TEST_P(SearchRunModes, CancelDuringTheListingLeavesThePreviousTable)
{
    SearchController& run = Controller();
    run.Command1_Click();
    presentation.log.clear();
    host.yields = 0;
    host.atYield[3] = [&] { run.Command1_Click(); };
    run.Command1_Click();

    EXPECT_EQ(DataRows(), kFullTable);
    EXPECT_FALSE(run.Searching());
    EXPECT_EQ(presentation.log, Concat(kBusy, kIdle)) << "the cancel restores the controls, nothing after it does";
    EXPECT_EQ(host.yields, 3);
}

// A walk that cannot go on, as when memory runs out, ends the search with a message, never with a total.
TEST_P(SearchRunModes, AWalkThatRunsOutOfMemoryEndsTheSearchWithAMessage)
{
    fs.At("/base").whenListed = [] { throw std::bad_alloc(); };
    SearchController& run = Controller();
    run.Command1_Click();
    EXPECT_FALSE(run.Searching());
    EXPECT_EQ(presentation.log, Concat(kBusy, kIdle));
    EXPECT_EQ(presentation.progress.back(), "メモリまたはスレッドが足りないため、検索を続けられません");
    EXPECT_EQ(DataRows(), (Rows{{"", "", ""}}));
}

TEST_P(SearchRunModes, CancelDuringAWalkKeepsTheInterruptedRowWithZeroAndNoTotal)
{
    SearchController& run = Controller();
    fs.At("/base/sub1").whenListed = [&] { run.Command1_Click(); };
    run.Command1_Click();

    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "0 kb"}}));
    EXPECT_TRUE(table.Facts(2).interrupted) << "its 0 counts nothing";
    EXPECT_EQ(table.Facts(2).kind, RowKind::Subdirectory);
    EXPECT_FALSE(table.Facts(1).interrupted);
    EXPECT_EQ(table.Facts(1).kind, RowKind::RootFiles);
    EXPECT_FALSE(run.Searching());
    EXPECT_EQ(presentation.log, Concat(kBusy, kIdle));
    if (Serial()) {
        EXPECT_EQ(host.yields, 9) << "the run yields once more after writing the interrupted row, then stops";
    }
}

TEST_P(SearchRunModes, ACancelWhileARowsSubdirectoryIsOpenedKeepsThatRowWithZero)
{
    SearchController& run = Controller();
    fs.At("/base/sub1").whenOpened = [&] { run.Command1_Click(); };
    run.Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "0 kb"}}));
    if (Serial()) {
        EXPECT_EQ(host.yields, 8) << "the base's 7 names, and once more after the interrupted row";
    }
}

TEST_F(SearchRunTest, ACancelAtTheYieldAfterARowEndsTheTableWithThatRow)
{
    SearchController& run = Controller();
    // sub1 is written, then the run yields: base 7 names, sub1 4, deep 3, deep's end and sub1's row.
    host.atYield[16] = [&] { run.Command1_Click(); };
    run.Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "75 kb"}}))
        << "no row was being walked when the cancel came";
    EXPECT_FALSE(table.Facts(2).interrupted);
    EXPECT_EQ(host.yields, 16);

    run.Command1_Click();
    ASSERT_EQ(DataRows(), kFullTable);
    EXPECT_EQ(table.Facts(4).kind, RowKind::Subdirectory);
    EXPECT_EQ(table.Facts(5).kind, RowKind::Total);
    EXPECT_EQ(table.Facts(5).bytes, 2560 + 76800 + 1536);
}

TEST_P(SearchRunModes, CancelDeepInsideAWalkUnwindsEveryLevel)
{
    SearchController& run = Controller();
    fs.At("/base/sub1/deep").whenListed = [&] { run.Command1_Click(); };
    run.Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "0 kb"}}));
    if (Serial()) {
        EXPECT_EQ(host.yields, 14) << "sub1 gives up deep and yields, then the run yields";
    }
}

TEST_P(SearchRunModes, CancelAmongManySubdirectoriesGivesUpTheOnesNotYetOpened)
{
    for (int i = 0; i < 200; ++i)
        fs.File("/base/sub1/wide/w" + std::to_string(i) + "/f", 1);
    SearchController& run = Controller();
    fs.At("/base/sub1/wide/w37").whenListed = [&] { run.Command1_Click(); };
    run.Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "0 kb"}}));
    EXPECT_FALSE(run.Searching());
}

TEST_P(SearchRunModes, ACancelReachingTheWindowAfterTheEndWasPostedWritesNoTotal)
{
    host.queuePosts = true;
    SearchController& run = Controller();
    run.Command1_Click();  // the whole walk runs here; what it posted waits in the queue
    ASSERT_FALSE(host.queued.empty());
    ASSERT_TRUE(run.Searching());
    run.Command1_Click();
    host.ApplyQueued();

    EXPECT_EQ(DataRows(), (Rows{{"", "", ""}})) << "the previous table stays";
    EXPECT_FALSE(run.Searching());
    EXPECT_EQ(presentation.log, Concat(kBusy, kIdle)) << "the idle controls are applied once";
}

// A file system whose first call blocks until the test lets it go, as a hung network mount would.
class StuckFileSystem : public FileSystem {
public:
    std::unique_ptr<Directory> Open(const std::string&, ReadFailure&) override
    {
        stuck.Pass();
        return nullptr;
    }
    Gate stuck;
};

TEST_P(SearchRunModes, ShutdownDoesNotWaitForAWalkStuckInTheFileSystem)
{
    auto stuckFs = std::make_shared<StuckFileSystem>();
    const std::weak_ptr<FileSystem> watch = stuckFs;
    {
        ScriptedHost stuckHost;
        stuckHost.walksInline = false;
        SearchController run(table, presentation, choices, stuckFs, stuckHost, {threads, {}});
        run.Command1_Click();
        ASSERT_TRUE(stuckFs->stuck.WaitForWaiter());
        run.Shutdown();
        EXPECT_TRUE(stuckFs->stuck.HasWaiter()) << "the walk is still inside the file system";
    }  // the controller and its host are gone while the walk is stuck
    stuckFs->stuck.Open();
    stuckFs.reset();
    // The walk ends on its own and lets go of the file system: then no thread of this test is left.
    for (int waited = 0; !watch.expired() && waited < 20000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(DataRows(), (Rows{{"", "", ""}})) << "nothing is written after the shutdown";
}

TEST_F(SearchRunTest, ANewRunStartedInTheCancellingYieldOwnsTheTable)
{
    SearchController& run = Controller();
    host.atYield[9] = [&] {
        run.Command1_Click();  // cancel
        run.Command1_Click();  // and search again at once
    };
    run.Command1_Click();

    EXPECT_EQ(DataRows(), kFullTable) << "the overtaken run writes nothing into the new run's table";
    EXPECT_FALSE(run.Searching());
    EXPECT_EQ(presentation.log, Concat(Concat(Concat(kBusy, kIdle), kBusy), kIdle));
}

TEST_P(SearchRunModes, AnotherSearchReplacesEveryRowOfTheLastOne)
{
    SearchController& run = Controller();
    run.Command1_Click();
    choices.path = "/base/sub1";
    run.Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"1", "[Root Files]", "50 kb"}, {"2", "deep", "25 kb"}, {"3", "/base/sub1/合計", "75 kb"}}));
}

TEST_P(SearchRunModes, UnreadPlacesAreToldPerRowWithTheirReasonsBesideUnchangedSums)
{
    fs.Dir("/base/sub1/locked/inner");
    fs.At("/base/sub1/locked").unlistable = true;
    fs.File("/base/sub1/deep/broken/kept", 7).File("/base/sub1/deep/broken/lost", 9);
    fs.At("/base/sub1/deep/broken").listingFailsAfter = 3;  // ".", "..", kept
    fs.At("/base/sub1/deep/broken").failure = ReadFailure::Other;
    fs.File("/base/.dotdir/gone", 100).File("/base/.dotdir/gone2", 100);
    fs.At("/base/.dotdir/gone").lengthFails = true;
    fs.At("/base/.dotdir/gone").failure = ReadFailure::Vanished;
    fs.At("/base/.dotdir/gone2").lengthFails = true;
    fs.Dir("/base/sub2/loop");
    fs.At("/base/sub2/loop").unlistable = true;
    fs.At("/base/sub2/loop").failure = ReadFailure::Loop;
    Controller().Command1_Click();
    EXPECT_EQ(written, (std::vector<std::string>{"1 [Root Files] 2560", "2 sub1 76807", "3 .dotdir 1536",
                                                 "4 sub2 0", "5 /base/合計 80903"}))
        << "what cannot be read counts 0, as before";
    EXPECT_EQ(unread, (std::vector<std::string>{
                          "2 2: /base/sub1/deep/broken 読み取りエラー, /base/sub1/locked アクセス権がありません,",
                          "3 1: /base/.dotdir 検索中に削除または置き換えられました,",
                          "4 1: /base/sub2/loop 自身の上位ディレクトリです (ループ),",
                          "5 4: /base/.dotdir 検索中に削除または置き換えられました, /base/sub1/deep/broken 読み取りエラー, "
                          "/base/sub1/locked アクセス権がありません, /base/sub2/loop 自身の上位ディレクトリです (ループ),"}))
        << "a directory whose files cannot be measured is told once";
    EXPECT_TRUE(std::regex_match(presentation.progress.back(),
                                 std::regex("15 個の項目　[0-9]+\\.[0-9] 秒　読み取れなかったディレクトリ: 4")))
        << presentation.progress.back();
}

TEST_P(SearchRunModes, ABaseThatCannotBeListedMarksRootFilesAndTheTotal)
{
    fs.Dir("/locked/inner");
    fs.At("/locked").unlistable = true;
    choices.path = "/locked";
    Controller().Command1_Click();
    EXPECT_EQ(unread, (std::vector<std::string>{"1 1: /locked/ アクセス権がありません,",
                                                "2 1: /locked/ アクセス権がありません,"}));

    fs.At("/base").listingFailsAfter = 4;  // ".", "..", a.txt, .hidden
    choices.path = "/base";
    unread.clear();
    Controller().Command1_Click();
    EXPECT_EQ(unread, (std::vector<std::string>{"1 1: /base/ アクセス権がありません,",
                                                "2 1: /base/ アクセス権がありません,"}));

    // A path given to be searched was never seen in a listing: it was not removed during the search.
    for (const auto& [path, why] : {std::pair{"/nowhere", "見つかりません"}, {"/base/a.txt", "ディレクトリではありません"}}) {
        choices.path = path;
        unread.clear();
        Controller().Command1_Click();
        const std::string place = std::string(path) + "/ " + why + ",";
        EXPECT_EQ(unread, (std::vector<std::string>{"1 1: " + place, "2 1: " + place}));
    }
}

// Identities as a bind mount of an ancestor shows them: /base/a/b is /base again, and below it /base/a.
TEST_P(SearchRunModes, ADirectoryMetAgainOnItsOwnWayDownIsALoopThatCountsNothing)
{
    auto identify = [&](const std::string& path, uint64_t device, uint64_t inode, bool mountRoot = false) {
        fs.At(path).identity = DirectoryIdentity{device, inode};
        fs.At(path).mountRoot = mountRoot;
    };
    fs.File("/base/a/b/a.txt", 1536).File("/base/a/b/a/x", 51200).File("/base/a/b/sub2/s/t", 3);
    identify("/base", 1, 1);
    identify("/base/sub1", 1, 2);
    identify("/base/sub1/deep", 1, 3);
    identify("/base/sub2", 1, 5);
    identify("/base/a", 1, 6);
    identify("/base/a/b", 1, 1, true);
    identify("/base/a/b/a", 1, 6);
    identify("/base/a/b/sub2", 1, 5);
    identify("/base/a/b/sub2/s", 1, 7);
    const std::string loop = " 自身の上位ディレクトリです (ループ),";

    Controller().Command1_Click();
    EXPECT_EQ(written, (std::vector<std::string>{"1 [Root Files] 2560", "2 sub1 76800", "3 .dotdir 1536",
                                                 "4 sub2 0", "5 a 0", "6 /base/合計 80896"}));
    EXPECT_EQ(unread, (std::vector<std::string>{"5 1: /base/a/b" + loop, "6 1: /base/a/b" + loop}));

    // Searched from /base/a, the mount is /base, not on the way; the loop closes at an ordinary directory.
    choices.path = "/base/a";
    written.clear();
    unread.clear();
    Controller().Command1_Click();
    EXPECT_EQ(written, (std::vector<std::string>{"1 [Root Files] 0", "2 b 1539", "3 /base/a/合計 1539"}));
    EXPECT_EQ(unread, (std::vector<std::string>{"2 1: /base/a/b/a" + loop, "3 1: /base/a/b/a" + loop}));

    // A change of device is a mount too; a directory met twice side by side, not on one way down, is no loop.
    fs.File("/base/m/n/f", 4).File("/base/m/n/up/g", 8).File("/base/m/twin/s/t", 16);
    identify("/base/m", 2, 1);
    identify("/base/m/n", 2, 2);
    identify("/base/m/n/up", 2, 1);
    identify("/base/m/twin", 1, 5, true);
    identify("/base/m/twin/s", 1, 7);
    choices.path = "/base";
    written.clear();
    unread.clear();
    Controller().Command1_Click();
    EXPECT_EQ(written[5], "6 m 20");
    EXPECT_EQ(unread, (std::vector<std::string>{"5 1: /base/a/b" + loop, "6 1: /base/m/n/up" + loop,
                                                "7 2: /base/a/b" + loop + " /base/m/n/up" + loop}));
}

TEST_P(SearchRunModes, OnlyTheFirstFewPlacesInPathOrderAreKeptButAllAreCounted)
{
    for (const char* name : {"g", "c", "a", "f", "b", "e", "d"}) {
        fs.Dir(std::string("/base/sub2/") + name);
        fs.At(std::string("/base/sub2/") + name).unlistable = true;
    }
    Controller().Command1_Click();
    const std::string firstFive = "/base/sub2/a アクセス権がありません, /base/sub2/b アクセス権がありません, "
                                  "/base/sub2/c アクセス権がありません, /base/sub2/d アクセス権がありません, "
                                  "/base/sub2/e アクセス権がありません,";
    EXPECT_EQ(unread, (std::vector<std::string>{"4 7: " + firstFive, "5 7: " + firstFive}));
}

TEST_F(SearchRunTest, TheSecondPanelCountsEntriesWhileBusyAndSummarisesTheEnd)
{
    SearchController& run = Controller();
    host.atYield[8] = [&] { run.ShowProgress(); };   // base listed, sub1's listing begun
    host.atYield[16] = [&] { run.ShowProgress(); };  // sub1 and its deep listed
    run.Command1_Click();
    ASSERT_EQ(presentation.progress.size(), 4u);
    EXPECT_EQ(presentation.progress[0], "") << "a run starts by clearing the last summary";
    EXPECT_EQ(presentation.progress[1], "5 個の項目");
    EXPECT_EQ(presentation.progress[2], "8 個の項目");
    EXPECT_TRUE(std::regex_match(presentation.progress[3], std::regex("9 個の項目　[0-9]+\\.[0-9] 秒")))
        << presentation.progress[3];
    run.ShowProgress();
    EXPECT_EQ(presentation.progress.size(), 4u) << "an idle window keeps the summary";

    fs.File("/many/s/f", 1);
    for (int i = 0; i < 3000; ++i)
        fs.File("/many/g" + std::to_string(i), 1);
    choices.path = "/many";
    host.yields = 0;
    host.atYield = {{3004, [&] { run.Command1_Click(); }}};  // in s's listing, after the 3,003 names of many's
    presentation.progress.clear();
    run.SetGroupSeparator(".");
    run.Command1_Click();
    EXPECT_EQ(presentation.progress, (std::vector<std::string>{"", "3.001 個の項目　中断"}));
}

// A seeded tree with big directories, deep chains and lengths near the limit, walked serially and in parallel.
TEST(SearchRunThreads, ParallelWalksGiveTheSerialResult)
{
    auto sharedFs = std::make_shared<FakeFileSystem>();
    FakeFileSystem& fs = *sharedFs;
    std::mt19937_64 random(7);
    std::vector<std::string> dirs{"/base"};
    fs.Dir("/base");
    for (int i = 0; i < 1500; ++i) {
        const std::string parent = dirs[random() % dirs.size()];
        dirs.push_back(parent + "/d" + std::to_string(i));
        fs.Dir(dirs.back());
    }
    for (int i = 0; i < 20000; ++i) {
        const std::string& parent = i < 3000 ? dirs[1] : dirs[random() % dirs.size()];
        const bool huge = random() % 5000 == 0;
        fs.File(parent + "/f" + std::to_string(i), huge ? kMax - static_cast<int64_t>(random() % 1000)
                                                        : static_cast<int64_t>(random() % 100000));
        if (random() % 500 == 0)
            fs.At(parent + "/f" + std::to_string(i)).lengthFails = true;
    }
    for (size_t i = 1; i < dirs.size(); i += 97)
        fs.At(dirs[i]).unlistable = true;

    const std::vector<std::string> serial = RowsAndUnreadPlaces(sharedFs, "/base", 1);
    EXPECT_GT(serial.size(), 6u);
    EXPECT_TRUE(std::regex_match(serial.back(), std::regex("[0-9]+ [1-9][0-9]*:.*"))) << "the total has unread places";
    for (int threads : {2, 4})
        EXPECT_EQ(RowsAndUnreadPlaces(sharedFs, "/base", threads), serial) << threads << " threads";
}

TEST(SearchRunThreads, LengthsQueriedAsideCountLikeAnyOther)
{
    // Past a few hundred files the threaded walk queries lengths on other threads; a negative length is a
    // length all the same.
    auto fs = std::make_shared<FakeFileSystem>();
    // Enough files that the listing must wait for the queries to catch up.
    for (int i = 0; i < 9000; ++i)
        fs->File("/many/f" + std::to_string(i), i == 1000 ? -500 : 1);
    fs->At("/many/f700").lengthFails = true;
    for (int threads : {1, 2}) {
        const std::string place = "1: /many/ アクセス権がありません,";
        EXPECT_EQ(RowsAndUnreadPlaces(fs, "/many", threads),
                  (std::vector<std::string>{"1 [Root Files] 8498", "1 " + place, "2 /many/合計 8498", "2 " + place}))
            << threads << " threads";
    }
}

// Walks on several threads keep the directories of several ways down at once: only the way a directory is
// met on decides whether it closes a loop.
TEST(LoopGuard, ADirectoryMetOnAnotherWayDownIsNoLoop)
{
    FakeFileSystem fs;
    fs.Dir("/base/x/y").Dir("/base/twin").Dir("/base/x/back");
    fs.At("/base").identity = DirectoryIdentity{1, 1};
    fs.At("/base/x").identity = DirectoryIdentity{1, 2};
    fs.At("/base/x").mountRoot = true;
    fs.At("/base/x/y").identity = DirectoryIdentity{1, 3};
    fs.At("/base/twin").identity = DirectoryIdentity{1, 2};
    fs.At("/base/twin").mountRoot = true;
    fs.At("/base/x/back").identity = DirectoryIdentity{1, 1};
    ReadFailure failure = ReadFailure::None;
    auto open = [&](const char* path) { return fs.Open(path, failure); };

    LoopGuard guard;
    WayStep base, x, y, twin, back;
    EXPECT_FALSE(guard.Closes(nullptr, *open("/base"), base));
    EXPECT_FALSE(guard.Closes(&base, *open("/base/x"), x));
    EXPECT_TRUE(x.pastMount);
    EXPECT_FALSE(guard.Closes(&x, *open("/base/x/y"), y)) << "keeps x and the base as y's way down";
    EXPECT_FALSE(guard.Closes(&base, *open("/base/twin"), twin)) << "x, kept, is twin's sibling";
    EXPECT_TRUE(guard.Closes(&x, *open("/base/x/back"), back));
}

// A listing faster than the length queries of its files waits for them rather than holding every name.
TEST(SearchRunThreads, AListingWaitsForItsLengthQueriesToCatchUp)
{
    constexpr int kFiles = 40000;
    auto fs = std::make_shared<FakeFileSystem>();
    for (int i = 0; i < kFiles; ++i)
        fs->File("/many/f" + std::to_string(i), 1);
    Gate lengths;
    // The first few hundred lengths are queried on the listing's own thread, the rest aside.
    fs->beforeEachLength = [&](std::string_view name) {
        if (name.size() > 4)
            lengths.Pass();
    };
    std::vector<std::string> rows;
    std::thread search([&] {
        ResultsTable table;
        rows = fakes::SearchRows(table, fs, "/many", 2);
    });
    ASSERT_TRUE(lengths.WaitForWaiter());
    // Given time, an unbounded listing would reach the end while every length query waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t listedBeforeTheGate = fs->namesListed.load();
    lengths.Open();
    search.join();
    EXPECT_LT(listedBeforeTheGate, 12000) << "the listing held names of chunks no query had reached";
    EXPECT_EQ(rows, (std::vector<std::string>{"1 [Root Files] 40000", "2 /many/合計 40000"}));
}

}  // namespace
}  // namespace murako

namespace murako {
namespace {

TEST_P(SearchRunModes, RowsArriveInListingOrderAndTheChosenOrderComesWhenTheRunEnds)
{
    SearchController& run = Controller();
    run.SetSortOrder({SortColumn::Size, false});
    Rows midRun;
    // Threaded, the listing runs on a walking thread, where the table is not to be read.
    fs.At("/base/sub2").whenListed = [&] {
        if (Serial())
            midRun = DataRows();
    };
    run.Command1_Click();
    if (Serial()) {
        EXPECT_EQ(midRun, (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "75 kb"}, {"3", ".dotdir", "2 kb"}}));
    }
    const Rows bySize{{"2", "sub1", "75 kb"}, {"1", "[Root Files]", "2 kb"}, {"3", ".dotdir", "2 kb"},
                      {"4", "sub2", "0 kb"},  {"5", "/base/合計", "79 kb"}};
    EXPECT_EQ(DataRows(), bySize);
    EXPECT_EQ(table.Row(), 1) << "the top row, the largest, is current, so that the view shows the top";

    // The next search keeps the order; a change during it waits for its end.
    midRun.clear();
    fs.At("/base/sub2").whenListed = [&] {
        if (!Serial())
            return;
        midRun = DataRows();
        run.SetSortOrder({SortColumn::Size, true});
    };
    if (!Serial())
        run.SetSortOrder({SortColumn::Size, true});
    run.Command1_Click();
    if (Serial()) {
        EXPECT_EQ(midRun, (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "75 kb"}, {"3", ".dotdir", "2 kb"}}));
    }
    EXPECT_EQ(DataRows(), (Rows{{"4", "sub2", "0 kb"}, {"3", ".dotdir", "2 kb"}, {"1", "[Root Files]", "2 kb"},
                                {"2", "sub1", "75 kb"}, {"5", "/base/合計", "79 kb"}}));
    run.SetSortOrder({SortColumn::Number, false});
    EXPECT_EQ(DataRows(), kFullTable) << "an idle window orders at once";
    fs.At("/base/sub2").whenListed = {};
    run.Command1_Click();
    EXPECT_EQ(table.Row(), 5) << "in listing order the total, written last, stays current";
}

TEST_P(SearchRunModes, RowsStayInListingOrderUntilTheEndWhateverOrderIsChosenMeanwhile)
{
    SearchController& run = Controller();
    std::vector<std::vector<int32_t>> numbersAsWritten;
    afterRowWritten = [&](int32_t row) {
        std::vector<int32_t>& numbers = numbersAsWritten.emplace_back();
        for (int32_t r = 1; r < table.Rows(); ++r)
            numbers.push_back(table.Facts(r).number);
        if (row == 2)
            run.SetSortOrder({SortColumn::Size, false});
    };
    run.Command1_Click();
    EXPECT_EQ(numbersAsWritten, (std::vector<std::vector<int32_t>>{{1}, {1, 2}, {1, 2, 3}, {1, 2, 3, 4}, {1, 2, 3, 4, 5}}));
    EXPECT_EQ(DataRows().front(), (Row{"2", "sub1", "75 kb"})) << "and take it when it ends";
}

TEST_P(SearchRunModes, ACancelOrdersTheRowsSoFarAndTheInterruptedRowThatFollowsIt)
{
    SearchController& run = Controller();
    run.SetSortOrder({SortColumn::Size, true});
    fs.At("/base/sub1").whenListed = [&] { run.Command1_Click(); };
    run.Command1_Click();
    EXPECT_EQ(DataRows(), (Rows{{"2", "sub1", "0 kb"}, {"1", "[Root Files]", "2 kb"}}));
    EXPECT_TRUE(table.Facts(1).interrupted);
    EXPECT_EQ(table.Row(), 1);
}

TEST_F(SearchRunTest, ACancelAfterSomeRowsOrdersThemOnceTheWalkHasLetGo)
{
    SearchController& run = Controller();
    run.SetSortOrder({SortColumn::Size, false});
    Rows atCancel;
    host.atYield[16] = [&] {
        run.Command1_Click();
        atCancel = DataRows();
    };
    run.Command1_Click();
    EXPECT_EQ(atCancel, (Rows{{"1", "[Root Files]", "2 kb"}, {"2", "sub1", "75 kb"}})) << "the walk still held on";
    EXPECT_EQ(DataRows(), (Rows{{"2", "sub1", "75 kb"}, {"1", "[Root Files]", "2 kb"}}));
}

TEST_F(SearchRunTest, AnOrderChosenDuringACancelledListingOrdersThePreviousTable)
{
    SearchController& run = Controller();
    run.Command1_Click();
    host.yields = 0;
    host.atYield[2] = [&] {
        run.SetSortOrder({SortColumn::Size, false});
        run.Command1_Click();
    };
    run.Command1_Click();
    EXPECT_EQ(DataRows().front(), (Row{"2", "sub1", "75 kb"}));
    EXPECT_EQ(table.Row(), 5) << "the current cell stays on the total it was on";
}

TEST_P(SearchRunModes, TheShownPathIsTheDirectoryOfTheRowsInTheTable)
{
    SearchController& run = Controller();
    EXPECT_EQ(run.ShownPath(), "");
    run.Command1_Click();
    EXPECT_EQ(run.ShownPath(), "/base/");
    EXPECT_EQ(table.Facts(3).listedName, ".dotdir");
    EXPECT_EQ(table.Facts(3).number, 3);
    choices.path = "/base/sub1";
    host.yields = 0;
    host.atYield[1] = [&] { run.Command1_Click(); };
    run.Command1_Click();
    EXPECT_EQ(run.ShownPath(), "/base/") << "a cancel during the listing leaves the last table";
    EXPECT_EQ(run.SearchedPath(), "/base/sub1/");
}

}  // namespace
}  // namespace murako
