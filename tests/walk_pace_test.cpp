// How many threads a walk runs, and when it queries a directory's lengths on several threads.
#include <gtest/gtest.h>
#include <tbb/info.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <latch>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_run.h"
#include "task_group.h"
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

WalkPace::Spent Blocked() { return {1'000'000, 1'000, 0}; }                   // a call to a share
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
    // The two clocks tick apart by a little, or by one of the clock's ticks (16 ms) where a thread's time comes
    // in them; a unit off by a thousand is far outside that.
    const int64_t tick = kThreadTimesFine ? 0 : 16'000'000;
    EXPECT_GE(wall * 11 / 10 + tick, running) << "one thread cannot spend more processor time than the clock shows";

    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_LT(ThreadTimes().running - computed.running, 40'000'000) << "sleeping counted as computing";

    const int64_t waitedBefore = KernelWaiting();
    const int64_t waiting = ThreadTimes().waiting;
    if (waitedBefore >= 0) {
        EXPECT_GE(waiting, waitedBefore) << "the time waiting for a processor is not the kernel's";
        EXPECT_LE(waiting, KernelWaiting()) << "the time waiting for a processor is not the kernel's";
    }
}

// The count for a blocked share, over a grid of shares, core counts and caps: what a walk can rely on
// whatever the machine and the file system.
void ExpectCountFor(int cores, int most)
{
    SCOPED_TRACE(testing::Message() << cores << " cores, at most " << most);
    const std::vector<double> shares{0.0, 0.01, 0.05, 0.1, 0.25, 0.3, 0.5, 0.6, 0.75, 0.9, 0.95, 0.99, 0.999, 1.0};
    for (const bool callsBlock : {false, true}) {
        int fewer = 0;
        for (const double share : shares) {
            SCOPED_TRACE(testing::Message() << "blocked " << share << (callsBlock ? " while calls block" : ""));
            const int threads = WalkPace::ThreadsFor(share, callsBlock, cores, most);
            EXPECT_GE(threads, 1);
            EXPECT_LE(threads, most) << "more than the file system allows";
            EXPECT_GE(threads, std::min(cores, most)) << "a core left idle";
            EXPECT_GE(threads, fewer) << "fewer threads for calls that block longer";
            fewer = threads;
            if (callsBlock) {
                EXPECT_GE(threads, std::min(16, most)) << "a cold disk serves 16 requests faster than fewer";
            }
            if (share == 0.0 && !callsBlock) {
                EXPECT_EQ(threads, std::min(cores, most)) << "more threads than cores only take turns";
            }
            // Each thread keeps a processor busy for the share of its time it is not blocked.
            const double busy = threads * (1.0 - share);
            if (threads < most) {
                EXPECT_GE(busy, cores - 0.5) << "too few threads to keep the cores busy";
            }
            if (threads > std::min(cores, most) && (!callsBlock || threads > 16)) {
                EXPECT_LE(busy, cores + 0.5) << "more threads than the cores can keep busy";
            }
        }
    }
}

// One test rather than one per pair, as each test is a process of its own under wine.
TEST(WalkPaceCount, KeepsTheCoresBusyAColdDiskBusyAndTheFileSystemWithinItsCap)
{
    for (const int cores : {1, 2, 3, 4, 8, 16, 64, 128})
        for (const int most : {1, 2, 4, 8, 16, 17, 64, 128})
            ExpectCountFor(cores, most);
}

// The controller's decisions on scripted stretches, for caps below the cores, below a cold disk's 16 and
// above it.
class WalkPaceDecisions : public testing::TestWithParam<int> {
protected:
    // Four decisions on calls that nearly all block, the first taken after fewer stretches.
    void Block()
    {
        Decide(pace_, Blocked(), 3);
        for (int decision = 0; decision < 3; ++decision)
            Decide(pace_, Blocked());
        ASSERT_TRUE(pace_.CallsBlock());
    }

    const int most_ = GetParam();
    const int cores_ = std::min(kCores, most_);
    WalkPace pace_{0, most_};
};

TEST_P(WalkPaceDecisions, AWalkWhoseCallsBlockGetsMoreThreadsAtOnceAndThenUpToItsCap)
{
    EXPECT_EQ(pace_.Counts().first, cores_);
    EXPECT_FALSE(pace_.CallsBlock());

    pace_.Record(Blocked());
    pace_.Record(Blocked());
    EXPECT_FALSE(pace_.CallsBlock()) << "two stretches may be odd ones";
    EXPECT_EQ(pace_.Counts().last, cores_);
    pace_.Record(Blocked());
    EXPECT_TRUE(pace_.CallsBlock()) << "the third decides";
    EXPECT_TRUE(pace_.LengthsAside());
    EXPECT_GE(pace_.Counts().last, std::min(16, most_)) << "a share needs at least what a cold disk needs";
    if (most_ > cores_) {
        EXPECT_GT(pace_.Counts().last, cores_);
    }
    for (int decision = 0; decision < 4; ++decision) {
        const int before = pace_.Counts().last;
        Decide(pace_, Blocked());
        EXPECT_GE(pace_.Counts().last, before) << "fewer threads while every call still blocks";
        EXPECT_LE(pace_.Counts().last, most_);
    }
    EXPECT_EQ(pace_.Counts().last, most_) << "calls that block nearly all the time keep as many threads as allowed";
    EXPECT_EQ(pace_.Counts().most, most_);
    EXPECT_EQ(pace_.Counts().first, cores_);
}

// A cold disk answers some listings from blocks read for others: a walk keeps its threads until its calls
// were calm for three decisions in a row, then halves them at most per decision, down to the cores. A
// decision judges its stretches together with the decision's before, so that the first calm one after
// blocked ones is not yet calm.
TEST_P(WalkPaceDecisions, AWalkWhoseCallsStopBlockingReturnsToTheCoresAfterThreeCalmDecisions)
{
    ASSERT_NO_FATAL_FAILURE(Block());
    int before = pace_.Counts().last;
    for (int calm = 0; calm <= 12; ++calm) {  // the 0th is judged with the blocked stretches
        Decide(pace_, OnAProcessor());
        SCOPED_TRACE(testing::Message() << calm << " calm decisions");
        const int threads = pace_.Counts().last;
        if (calm <= 3) {
            EXPECT_EQ(pace_.CallsBlock(), calm < 3) << "three calm decisions in a row end the blocking, fewer do not";
        }
        if (pace_.CallsBlock()) {
            EXPECT_GE(threads, std::min(16, most_)) << "a cold disk left with fewer threads while it blocks";
        }
        EXPECT_LE(threads, before) << "more threads for calm calls";
        EXPECT_GE(threads, before / 2) << "more than half dropped in one decision";
        before = threads;
    }
    EXPECT_FALSE(pace_.LengthsAside());
    EXPECT_EQ(before, cores_) << "not back at the cores within a dozen calm decisions";
    EXPECT_EQ(pace_.Counts().most, most_);
}

TEST_P(WalkPaceDecisions, CalmDecisionsEndTheBlockingOnlyWhenInARow)
{
    ASSERT_NO_FATAL_FAILURE(Block());
    for (int blip = 0; blip < 3; ++blip) {
        for (int calm = 0; calm < 3; ++calm) {  // the first is not yet calm: two calm decisions
            Decide(pace_, OnAProcessor());
            EXPECT_TRUE(pace_.CallsBlock()) << "calm decisions counted across blocked ones";
            EXPECT_GE(pace_.Counts().last, std::min(16, most_));
        }
        Decide(pace_, Blocked());
    }
}

// A share's blocked share wanders from one decision to the next: the count keeps to a few steps, the cores
// doubled and the cap, and a step taken again uses its arena again, since every new arena costs the walk
// threads until its workers come over; and the process is asked for workers once for the walk's cap rather
// than at every step, as each request makes and joins twice as many threads.
TEST_P(WalkPaceDecisions, AWanderingShareKeepsToAFewStepsAndAsksForWorkersOnce)
{
    const int trialsBefore = WalkProcessSettings::Trials();
    std::set<int> steps{most_};
    for (int step = cores_; step < most_; step *= 2)
        steps.insert(step);
    std::set<int> taken{pace_.Counts().first};
    for (int decision = 0; decision < 24; ++decision) {
        // Between nearly always blocked and blocked for a few tenths less: counts from 20 to 500 threads.
        const int64_t running = decision % 4 == 3 ? 90'000 : 2'000 + 1'000 * (decision % 3);
        Decide(pace_, {1'000'000, running, 0}, decision == 0 ? 3 : 12);
        const int threads = pace_.Counts().last;
        EXPECT_TRUE(steps.count(threads)) << threads << " threads is no step";
        taken.insert(threads);
    }
    EXPECT_EQ(pace_.Arenas().Count(), taken.size()) << "an arena made again for a count it had taken before";
    EXPECT_LE(pace_.Arenas().Count(), steps.size());
    EXPECT_EQ(pace_.Counts().most, most_);
    EXPECT_LE(WalkProcessSettings::Trials() - trialsBefore, 2) << "workers asked for at every step";
}

INSTANTIATE_TEST_SUITE_P(Caps, WalkPaceDecisions, testing::Values(1, 4, 16, 64, 128));

// A cold disk blocks in its opens and listings, less as more threads keep it busy; its files' lengths come
// with the blocks its listings read.
TEST(WalkPace, AColdDiskKeepsAtLeastSixteenThreadsWhileItBlocksAndItsLengthsInline)
{
    WalkPace pace(0, 128);
    Decide(pace, HalfBlocked(), 3);
    EXPECT_TRUE(pace.CallsBlock());
    EXPECT_FALSE(pace.LengthsAside());
    EXPECT_GE(pace.Counts().last, std::max(16, kCores + 1));
    for (int step = 0; step < 6; ++step)
        for (const WalkPace::Spent& spent : {WalkPace::Spent{1'000'000, 900'000, 0}, WalkPace::Spent{1'000'000, 800'000, 0}}) {
            Decide(pace, spent);  // a tenth or a fifth blocked on 16 threads
            EXPECT_TRUE(pace.CallsBlock());
            EXPECT_FALSE(pace.LengthsAside());
            EXPECT_GE(pace.Counts().last, 16);
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

// The first threads of a walk begin their directories together: each of their stretches counts towards
// the first decision, which waited a directory's time more when only one of them was measured.
TEST(WalkPace, StretchesBegunTogetherBeforeTheFirstDecisionAreAllMeasured)
{
    if (!kThreadTimesFine)
        GTEST_SKIP() << "threads' times come in clock ticks here: stretches are measured 2 ms apart";
    WalkPace pace(0, 128);
    std::latch begun(3);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 3; ++thread)
        threads.emplace_back([&] {
            const WalkPace::Stretch measured(&pace);
            begun.arrive_and_wait();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(pace.CallsBlock()) << "three blocked stretches begun together took no decision";
    EXPECT_GE(pace.Counts().last, 16);
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

// The walk's calling thread lists the first directory below the base outside the walk's arena, its lengths
// queried aside, while every worker waits in a sibling until those lengths are in: it queries them itself
// rather than wait for a worker.
TEST(WalkPace, TheLengthsNoOtherThreadTookAreQueriedByTheListingThread)
{
    auto fs = std::make_shared<FakeFileSystem>();
    constexpr int kFiles = 40;
    for (int f = 0; f < kFiles; ++f)
        fs->File("/share/a/af" + std::to_string(f), 1);
    fs->File("/share/b1/f", 1).File("/share/b2/f", 1);
    std::mutex mutex;
    std::condition_variable changed;
    int workersWaiting = 0;
    int lengthsQueried = 0;
    bool workerGaveUp = false;
    fs->beforeEachLength = [&](std::string_view name) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));  // a round trip, so that they go aside
        std::lock_guard lock(mutex);
        lengthsQueried += name.starts_with("af");
        changed.notify_all();
    };
    fs->At("/share/a").whenListed = [&] {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return workersWaiting == 2; });
    };
    for (const char* sibling : {"/share/b1", "/share/b2"})
        fs->At(sibling).whenOpened = [&] {
            std::unique_lock lock(mutex);
            ++workersWaiting;
            changed.notify_all();
            if (!changed.wait_for(lock, std::chrono::seconds(3), [&] { return lengthsQueried == kFiles; }))
                workerGaveUp = true;
        };
    const Walked walked = Search(fs, 2);
    EXPECT_EQ(walked.rows.back(), "5 /share/合計 42");
    EXPECT_FALSE(workerGaveUp) << "the lengths waited for a worker while the listing thread waited for them";
}

// On a share the base's listing is the walk's first wait: it counts towards the first decision, here the
// third stretch beside its two subdirectories' openings.
TEST(WalkPace, TheBasesListingIsMeasuredLikeAnyDirectorys)
{
    if (!kThreadTimesFine)
        GTEST_SKIP() << "threads' times come in clock ticks here: the two subdirectories opened together are one stretch";
    auto fs = std::make_shared<FakeFileSystem>();
    fs->File("/share/a/f", 1).File("/share/b/f", 1);
    const auto roundTrips = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
    fs->At("/share").whenListed = roundTrips;
    fs->At("/share/a").whenOpened = roundTrips;
    fs->At("/share/b").whenOpened = roundTrips;
    const Walked walked = Search(fs, 0);
    EXPECT_EQ(walked.rows.back(), "4 /share/合計 2");
    EXPECT_GE(walked.counts.most, 16) << "no decision taken on the base's listing and its two subdirectories";
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
#ifdef _WIN32
    // Windows counts no time a thread waits for a processor, so on a loaded machine a walk at processor
    // speed can look blocked: one of three searches must keep to the cores.
    constexpr int kTries = 3;
#else
    constexpr int kTries = 1;
#endif
    int most = 0;
    for (int attempt = 0; attempt < kTries && most != kCores; ++attempt) {
        const Walked walked = Search(ShareTree(), 0);
        EXPECT_EQ(walked.rows, ShareRows());
        most = walked.counts.most;
    }
    EXPECT_EQ(most, kCores);
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

// A walk left behind may still ask for workers as its program ends, after the program let go of its settings.
TEST(WalkPace, TheWorkersRoomOutlivesTheSettingsThatMadeIt)
{
    WalkProcessSettings::ReserveWorkers(1);
    const int trials = WalkProcessSettings::Trials();
    ASSERT_GT(trials, 0);
    { const WalkProcessSettings madeAndLetGo; }
    EXPECT_EQ(WalkProcessSettings::Trials(), trials) << "the room went with the settings, or was made again";
    EXPECT_EQ(WalkProcessSettings::ReserveWorkers(1), 1);
}

// A search cancelled while its walk hangs in a frozen share leaves that walk behind, holding what it holds;
// the next search walks on the threads it chose all the same.
TEST(WalkPace, AWalkLeftHangingInAFrozenShareDoesNotLimitTheNextSearchsThreads)
{
    auto frozen = std::make_shared<FakeFileSystem>();
    frozen->File("/frozen/a/f", 1).File("/frozen/b/f", 1);
    // Shared with the walk, which the test may leave behind when it fails.
    auto hang = std::make_shared<Gate>();
    frozen->At("/frozen/a").whenOpened = [hang] { hang->Pass(); };
    ResultsTable frozenTable;
    RecordingPresentation presentation;
    FixedChoices choices;
    choices.path = "/frozen";
    ScriptedHost host;
    host.walksInline = false;
    std::optional<SearchController> frozenSearch;
    frozenSearch.emplace(frozenTable, presentation, choices, frozen, host, SearchController::Options{});
    frozenSearch->Command1_Click();
    ASSERT_TRUE(hang->WaitForWaiter());
    frozenSearch->Command1_Click();

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

    // Its controller gone, the walk left behind holds the last share of its file system until it ends: the
    // program must not end under it, nor under the workers it may still ask for on the way.
    hang->Open();
    frozenSearch.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (frozen.use_count() > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(frozen.use_count(), 1) << "the walk left behind never ended once its share thawed";
}

}  // namespace
}  // namespace murako
