// How many threads a walk runs, and when it queries a directory's lengths on several threads.
#include <gtest/gtest.h>
#include <tbb/info.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_run.h"
#include "walker.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;

const int kCores = tbb::info::default_concurrency();

WalkPace::Spent Blocked() { return {1'000'000, 10'000, 0}; }
WalkPace::Spent OnAProcessor() { return {1'000'000, 1'000'000, 0}; }
WalkPace::Spent WaitingForAProcessor() { return {1'000'000, 100'000, 900'000}; }

// Records measured queries until a decision has been taken; the first needs fewer.
void Decide(WalkPace& pace, WalkPace::Spent spent, int queries = 5)
{
    for (int i = 0; i < queries; ++i)
        pace.Record(spent);
}

TEST(WalkPace, ThreadsKeepTheCoresBusyForTheShareOfTimeNotBlocked)
{
    EXPECT_EQ(WalkPace::ThreadsFor(0.0, 2, 128), 2);
    EXPECT_EQ(WalkPace::ThreadsFor(0.5, 2, 128), 4);
    EXPECT_EQ(WalkPace::ThreadsFor(0.9, 2, 128), 20);
    EXPECT_EQ(WalkPace::ThreadsFor(0.999, 2, 128), 128);
    EXPECT_EQ(WalkPace::ThreadsFor(0.9, 4, 8), 8) << "never more than the file system allows";
    EXPECT_EQ(WalkPace::ThreadsFor(0.0, 4, 2), 2) << "fewer than the cores where it allows fewer";
}

TEST(WalkPace, BlockedQueriesRaiseTheCountInStepsAndQueriesAtProcessorSpeedBringItBack)
{
    WalkPace pace(0, 128);
    EXPECT_EQ(pace.Counts().first, kCores);
    EXPECT_FALSE(pace.CallsBlock());

    pace.Record(Blocked());
    EXPECT_FALSE(pace.CallsBlock()) << "one query alone may be an odd one";
    pace.Record(Blocked());
    EXPECT_TRUE(pace.CallsBlock()) << "the second measured query decides";
    EXPECT_EQ(pace.Counts().last, std::min(kCores * 4, 128)) << "four times at most in one step";
    for (int step = 0; step < 4; ++step)
        Decide(pace, Blocked());
    EXPECT_EQ(pace.Counts().last, 128);

    Decide(pace, OnAProcessor());
    EXPECT_FALSE(pace.CallsBlock());
    EXPECT_EQ(pace.Counts().last, 32) << "a quarter at most in one step";
    for (int step = 0; step < 4; ++step)
        Decide(pace, OnAProcessor());
    EXPECT_EQ(pace.Counts().last, kCores);
    EXPECT_EQ(pace.Counts().most, 128);
    EXPECT_EQ(pace.Counts().first, kCores);
}

TEST(WalkPace, TheQueryBlockedLongestIsLeftOut)
{
    WalkPace pace(0, 128);
    pace.Record(OnAProcessor());
    pace.Record({50'000'000, 10'000, 0});
    EXPECT_FALSE(pace.CallsBlock());
    Decide(pace, Blocked(), 4);
    pace.Record({1'000'000, 1'000'000, 0});
    EXPECT_TRUE(pace.CallsBlock()) << "the query on a processor is not the one left out";
    EXPECT_GT(pace.Counts().last, kCores);
}

TEST(WalkPace, WaitingForAProcessorIsNotBlocking)
{
    WalkPace pace(0, 128);
    for (int step = 0; step < 4; ++step)
        Decide(pace, WaitingForAProcessor());
    EXPECT_FALSE(pace.CallsBlock());
    EXPECT_EQ(pace.Counts().most, kCores) << "more threads would only wait longer";
}

TEST(WalkPace, AFixedCountIsKeptWhileCallsAreStillMeasured)
{
    WalkPace pace(6, 128);
    Decide(pace, Blocked(), 2);
    EXPECT_TRUE(pace.CallsBlock());
    const WalkThreadCounts counts = pace.Counts();
    EXPECT_EQ(counts.first, 6);
    EXPECT_EQ(counts.most, 6);
    EXPECT_EQ(counts.last, 6);
}

// A base of files and subdirectories of files, each named after its directory ("d3f12" in d3).
std::shared_ptr<FakeFileSystem> ShareTree()
{
    auto fs = std::make_shared<FakeFileSystem>();
    for (int f = 0; f < 40; ++f)
        fs->File("/share/f" + std::to_string(f), 1);
    for (int d = 0; d < 12; ++d)
        for (int f = 0; f < 30; ++f)
            fs->File("/share/d" + std::to_string(d) + "/d" + std::to_string(d) + "f" + std::to_string(f), 2);
    return fs;
}

struct Walked {
    std::vector<std::string> rows;
    WalkThreadCounts counts;
};

Walked Search(std::shared_ptr<FakeFileSystem> fs, int threads)
{
    Walked walked;
    ResultsTable grid;
    SearchController::Options options;
    options.threads = threads;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        walked.rows.push_back(std::to_string(row) + " " + name + " " + std::to_string(bytes));
    };
    options.walkThreads = [&](const WalkThreadCounts& counts) { walked.counts = counts; };
    SearchWithoutWindow(grid, std::move(fs), "/share", options);
    return walked;
}

std::vector<std::string> ShareRows()
{
    std::vector<std::string> rows{"1 [Root Files] 40"};
    for (int d = 0; d < 12; ++d)
        rows.push_back(std::to_string(d + 2) + " d" + std::to_string(d) + " 60");
    rows.push_back("14 /share/合計 760");
    return rows;
}

// As on a share, every length query waits a round trip: the walk adds threads, and even a directory of a few
// dozen files has its lengths queried on several of them.
TEST(WalkPace, AWalkWhoseQueriesBlockAddsThreadsAndQueriesASmallDirectorysLengthsAside)
{
    auto fs = ShareTree();
    std::mutex mutex;
    std::set<std::thread::id> queriedD5;
    fs->beforeEachLength = [&](std::string_view name) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (name.starts_with("d5f")) {
            std::lock_guard lock(mutex);
            queriedD5.insert(std::this_thread::get_id());
        }
    };
    const Walked walked = Search(fs, 0);
    EXPECT_EQ(walked.rows, ShareRows());
    EXPECT_EQ(walked.counts.first, kCores);
    EXPECT_GT(walked.counts.most, kCores * 2);
    EXPECT_GT(queriedD5.size(), 1u) << "30 files, each a round trip, on one thread";
}

TEST(WalkPace, AWalkWhoseQueriesReturnAtProcessorSpeedKeepsToTheCores)
{
    const Walked walked = Search(ShareTree(), 0);
    EXPECT_EQ(walked.rows, ShareRows());
    EXPECT_EQ(walked.counts.most, kCores);
}

}  // namespace
}  // namespace murako
