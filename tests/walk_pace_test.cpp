// How many threads a walk runs, and when it queries a directory's lengths on several threads.
#include <gtest/gtest.h>
#include <tbb/info.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_run.h"
#include "thread_times.h"
#include "walker.h"

namespace murako {
namespace {

using fakes::FakeFileSystem;
using fakes::FixedChoices;
using fakes::Gate;
using fakes::RecordingPresentation;
using fakes::ScriptedHost;

const int kCores = tbb::info::default_concurrency();

WalkPace::Spent Blocked() { return {1'000'000, 10'000, 0}; }                  // a call to a share
WalkPace::Spent HalfBlocked() { return {1'000'000, 500'000, 0}; }             // a listing from a cold disk
WalkPace::Spent OnAProcessor() { return {1'000'000, 990'000, 0}; }            // a warm listing
WalkPace::Spent WaitingForAProcessor() { return {1'000'000, 100'000, 890'000}; }

// Records measured stretches until a decision has been taken; the first needs fewer.
void Decide(WalkPace& pace, WalkPace::Spent spent, int stretches = 12)
{
    for (int i = 0; i < stretches; ++i)
        pace.Record(spent);
}

// The kernel's own count of the calling thread's time waiting for a processor, in nanoseconds; -1 where it
// keeps none, or where the times are not read from it (Windows, whose threads under wine still have one).
int64_t KernelWaiting()
{
#if defined(__linux__)
    std::ifstream schedstat("/proc/thread-self/schedstat");
    int64_t running = 0, waiting = -1;
    schedstat >> running >> waiting;
    return schedstat ? waiting : -1;
#else
    return -1;
#endif
}

// The walk tells blocking from computing by a thread's own processor time: it must grow while the thread
// computes, in nanoseconds (never faster than the clock), and stand still while it sleeps; its time waiting
// for a processor is the kernel's count of that, read between two reads of it.
TEST(WalkPace, AThreadsProcessorTimeGrowsWhileItComputesAndNotWhileItSleeps)
{
    using namespace std::chrono;
    constexpr int64_t kComputed = 50'000'000;
    const auto start = steady_clock::now();
    const WalkPace::Spent before = ThreadTimes();
    volatile uint64_t work = 0;
    while (ThreadTimes().running - before.running < kComputed && steady_clock::now() - start < seconds(20))
        for (int i = 0; i < 10'000; ++i)
            work = work + i;
    const WalkPace::Spent computed = ThreadTimes();
    const int64_t wall = duration_cast<nanoseconds>(steady_clock::now() - start).count();
    const int64_t running = computed.running - before.running;
    ASSERT_GE(running, kComputed) << "no processor time counted in 20 s";
    // The two clocks tick apart by a little; a unit off by a thousand is far outside that.
    EXPECT_GE(wall * 11 / 10, running) << "one thread cannot spend more processor time than the clock shows";

    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_LT(ThreadTimes().running - computed.running, 40'000'000) << "sleeping counted as computing";

    const int64_t waitedBefore = KernelWaiting();
    const int64_t waiting = ThreadTimes().waiting;
    if (waitedBefore >= 0) {
        EXPECT_GE(waiting, waitedBefore) << "the time waiting for a processor is not the kernel's";
        EXPECT_LE(waiting, KernelWaiting()) << "the time waiting for a processor is not the kernel's";
    }
}

TEST(WalkPace, ThreadsKeepTheCoresBusyAndTheDiskAtLeastAsBusyAsACold)
{
    EXPECT_EQ(WalkPace::ThreadsFor(0.0, false, 2, 128), 2);
    EXPECT_EQ(WalkPace::ThreadsFor(0.5, false, 2, 128), 4);
    EXPECT_EQ(WalkPace::ThreadsFor(0.5, true, 2, 128), 16) << "a cold disk serves 16 requests faster than 4";
    EXPECT_EQ(WalkPace::ThreadsFor(0.9, true, 2, 128), 20);
    EXPECT_EQ(WalkPace::ThreadsFor(0.999, true, 2, 128), 128);
    EXPECT_EQ(WalkPace::ThreadsFor(0.9, true, 4, 8), 8) << "never more than the file system allows";
    EXPECT_EQ(WalkPace::ThreadsFor(0.0, false, 4, 2), 2) << "fewer than the cores where it allows fewer";
}

TEST(WalkPace, AShareRaisesTheCountAtOnceAndAWarmDiskBringsItBackInSteps)
{
    WalkPace pace(0, 128);
    EXPECT_EQ(pace.Counts().first, kCores);
    EXPECT_FALSE(pace.CallsBlock());

    pace.Record(Blocked());
    pace.Record(Blocked());
    EXPECT_FALSE(pace.CallsBlock()) << "two stretches may be odd ones";
    pace.Record(Blocked());
    EXPECT_TRUE(pace.CallsBlock()) << "the third decides";
    EXPECT_TRUE(pace.LengthsAside());
    EXPECT_EQ(pace.Counts().last, std::max(kCores * 4, 16));
    for (int step = 0; step < 3; ++step)
        Decide(pace, Blocked());
    EXPECT_EQ(pace.Counts().last, 128);

    Decide(pace, OnAProcessor());
    Decide(pace, OnAProcessor());
    EXPECT_TRUE(pace.CallsBlock()) << "a cold disk answers some listings from blocks read for others";
    EXPECT_GE(pace.Counts().last, 16);
    for (int step = 0; step < 8; ++step)
        Decide(pace, OnAProcessor());
    EXPECT_FALSE(pace.CallsBlock());
    EXPECT_FALSE(pace.LengthsAside());
    EXPECT_EQ(pace.Counts().last, kCores) << "half at most in one step, down to the cores";
    EXPECT_EQ(pace.Counts().most, 128);
    EXPECT_EQ(pace.Counts().first, kCores);
}

// A cold disk blocks in its opens and listings, less as more threads keep it busy; its files' lengths come
// with the blocks its listings read.
TEST(WalkPace, AColdDiskKeepsAtLeastSixteenThreadsWhileItBlocksAndItsLengthsInline)
{
    WalkPace pace(0, 128);
    Decide(pace, HalfBlocked(), 3);
    EXPECT_TRUE(pace.CallsBlock());
    EXPECT_FALSE(pace.LengthsAside());
    EXPECT_EQ(pace.Counts().last, std::max(16, kCores * 2));
    for (int step = 0; step < 6; ++step) {
        Decide(pace, {1'000'000, 900'000, 0});  // a tenth blocked on 16 threads
        EXPECT_EQ(pace.Counts().last, std::max(16, kCores * 2));
        Decide(pace, {1'000'000, 800'000, 0});
        EXPECT_EQ(pace.Counts().last, std::max(16, kCores * 2));
    }
}

TEST(WalkPace, TheStretchesBlockedLongestAreLeftOut)
{
    WalkPace pace(0, 128);
    Decide(pace, OnAProcessor(), 3);
    for (int step = 0; step < 4; ++step) {
        for (int odd = 0; odd < 3; ++odd)
            pace.Record({20'000'000, 10'000, 0});  // pages the kernel had dropped, read again
        Decide(pace, OnAProcessor(), 9);
    }
    EXPECT_FALSE(pace.CallsBlock());
    EXPECT_EQ(pace.Counts().most, kCores);

    for (int step = 0; step < 2; ++step)
        for (int i = 0; i < 6; ++i) {
            pace.Record(Blocked());
            pace.Record(OnAProcessor());
        }
    EXPECT_TRUE(pace.CallsBlock()) << "half of them blocked is no odd one";
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
    Decide(pace, Blocked(), 3);
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

Walked Search(std::shared_ptr<FakeFileSystem> fs, int threads, const std::string& path = "/share")
{
    Walked walked;
    ResultsTable table;
    SearchController::Options options;
    options.threads = threads;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        walked.rows.push_back(std::to_string(row) + " " + name + " " + std::to_string(bytes));
    };
    options.walkThreads = [&](const WalkThreadCounts& counts) { walked.counts = counts; };
    SearchWithoutWindow(table, std::move(fs), path, options);
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
// dozen files has its lengths queried on several of them, the base's own before anything was measured.
TEST(WalkPace, AWalkWhoseQueriesBlockAddsThreadsAndQueriesASmallDirectorysLengthsAside)
{
    auto fs = ShareTree();
    std::mutex mutex;
    std::map<char, std::set<std::thread::id>> queriedBy;  // 'f': the base's files, 'd': the subdirectories'
    fs->beforeEachLength = [&](std::string_view name) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard lock(mutex);
        queriedBy[name.front()].insert(std::this_thread::get_id());
    };
    const Walked walked = Search(fs, 0);
    EXPECT_EQ(walked.rows, ShareRows());
    EXPECT_EQ(walked.counts.first, kCores);
    EXPECT_GT(walked.counts.most, kCores * 2);
    EXPECT_GT(queriedBy['f'].size(), 1u) << "the base's 40 files, each a round trip, on one thread";
    EXPECT_GT(queriedBy['d'].size(), 2u);
}

// As on a cold disk, opening and listing a directory waits for its blocks, while its files' lengths come
// with them: the walk adds threads all the same.
TEST(WalkPace, AWalkWhoseListingsBlockAddsThreadsThoughItsLengthsReturnAtOnce)
{
    auto fs = ShareTree();
    for (int d = 0; d < 12; ++d)
        for (int sub = 0; sub < 4; ++sub) {
            const std::string dir = "/share/d" + std::to_string(d) + "/s" + std::to_string(sub);
            fs->File(dir + "/f", 0);
            fs->At(dir).whenListed = [] { std::this_thread::sleep_for(std::chrono::milliseconds(3)); };
        }
    const Walked walked = Search(fs, 0);
    EXPECT_EQ(walked.rows, ShareRows());
    EXPECT_GE(walked.counts.most, 16);
}

TEST(WalkPace, AWalkWhoseQueriesReturnAtProcessorSpeedKeepsToTheCores)
{
    const Walked walked = Search(ShareTree(), 0);
    EXPECT_EQ(walked.rows, ShareRows());
    EXPECT_EQ(walked.counts.most, kCores);
}

// How many threads are inside the file system's opens at once: each open waits, up to a time limit, until
// wanted threads are inside together.
class Rendezvous {
public:
    explicit Rendezvous(int wanted) : wanted_(wanted) {}

    void Arrive()
    {
        std::unique_lock lock(mutex_);
        peak_ = std::max(peak_, ++inside_);
        met_.notify_all();
        met_.wait_for(lock, std::chrono::seconds(2), [this] { return peak_ >= wanted_; });
        --inside_;
    }
    int Peak()
    {
        std::lock_guard lock(mutex_);
        return peak_;
    }

private:
    const int wanted_;
    std::mutex mutex_;
    std::condition_variable met_;
    int inside_ = 0;
    int peak_ = 0;
};

// A search cancelled while its walk hangs in a frozen share leaves that walk behind, holding what it holds;
// the next search walks on the threads it chose all the same.
TEST(WalkPace, AWalkLeftHangingInAFrozenShareDoesNotLimitTheNextSearchsThreads)
{
    auto frozen = std::make_shared<FakeFileSystem>();
    frozen->File("/frozen/a/f", 1).File("/frozen/b/f", 1);
    Gate hang;
    frozen->At("/frozen/a").whenOpened = [&] { hang.Pass(); };
    ResultsTable frozenTable;
    RecordingPresentation presentation;
    FixedChoices choices;
    choices.path = "/frozen";
    ScriptedHost host;
    host.walksInline = false;
    SearchController frozenSearch(frozenTable, presentation, choices, frozen, host, {});
    frozenSearch.Command1_Click();
    ASSERT_TRUE(hang.WaitForWaiter());
    frozenSearch.Command1_Click();

    const int wanted = std::max(4, kCores + 2);
    auto healthy = std::make_shared<FakeFileSystem>();
    Rendezvous opens(wanted);
    for (int d = 0; d < wanted; ++d) {
        const std::string dir = "/healthy/d" + std::to_string(d);
        healthy->File(dir + "/f", 1);
        healthy->At(dir).whenOpened = [&] { opens.Arrive(); };
    }
    const Walked walked = Search(healthy, wanted, "/healthy");
    EXPECT_EQ(walked.rows.back(), std::to_string(wanted + 2) + " /healthy/合計 " + std::to_string(wanted));
    EXPECT_GE(opens.Peak(), wanted) << "the walk left hanging still holds the process to its own count";
    hang.Open();
}

}  // namespace
}  // namespace murako
