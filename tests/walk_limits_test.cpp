// A walk under a limit on threads or on address space goes on with the threads the process can make.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "fake_run.h"
#include "file_system.h"
#include "temp_tree.h"

namespace murako {
namespace {

using fakes::ChildTree;
using fakes::PassesInChild;
using fakes::TempTree;

// A number from the calling process's /proc status, such as "VmSize:" in kB or "Threads:".
long long StatusField(const std::string& status, const std::string& field)
{
    std::ifstream in(status);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(field.size()));
    return -1;
}

// Threads of every process whose real user is the calling thread's: what a limit on processes counts.
rlim_t ThreadsOfThisUser()
{
    rlim_t threads = 0;
    DIR* proc = opendir("/proc");
    while (const dirent* entry = readdir(proc)) {
        const std::string status = std::string("/proc/") + entry->d_name + "/status";
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || StatusField(status, "Uid:") != getuid())
            continue;
        threads += static_cast<rlim_t>(std::max(0LL, StatusField(status, "Threads:")));
    }
    closedir(proc);
    return threads;
}

struct Limit {
    const char* name;
    int resource;
    rlim_t beyondNow;  // threads, or bytes of address space, beyond what the process holds as it is set
    bool asNobody;     // a limit on processes does not bind root
};

void PrintTo(const Limit& limit, std::ostream* out)
{
    *out << limit.name;
}

// On a share every length query waits, and the walk asks for its cap of threads once its calls are seen
// to block, which a limit that let it make its first few may not allow.
class WalkUnderLimits : public ::testing::TestWithParam<std::tuple<Limit, bool>> {};

// The tree the test walks: on the disk, or as a share answering each length query after a millisecond.
std::shared_ptr<FileSystem> Shaped(bool share, const TempTree& tree, std::string& root)
{
    if (!share) {
        root = tree.Root();
        return MakeLocalFileSystem();
    }
    root = "/share";
    auto fs = std::make_shared<fakes::FakeFileSystem>();
    for (int d = 0; d < 20; ++d)
        for (int s = 0; s < 3; ++s)
            fs->File(root + "/d" + std::to_string(d) + "/s" + std::to_string(s) + "/f", 100);
    fs->File(root + "/top", 7);
    fs->beforeEachLength = [](std::string_view) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    return fs;
}

TEST_P(WalkUnderLimits, TheWalkGoesOnWithTheThreadsItCanMakeAndCountsEverything)
{
    const auto& [limit, share] = GetParam();
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer ends the process when its own allocator finds no room for a thread's records, where
    // the walk would go on with fewer threads: the other builds test limits on address space.
    if (limit.resource == RLIMIT_AS)
        GTEST_SKIP() << "the thread sanitizer's own memory is not the walk's";
#endif
    if (!ChildTree()) {
        if (!PassesInChild({.tree = "-", .asNobody = limit.asNobody}))
            GTEST_SKIP() << "the user nobody cannot run this test here";
        return;
    }
    alarm(20);  // a walk waiting for workers that were never made ends the child rather than the suite
    TempTree tree;  // the child's own, so that nobody may read it
    for (int d = 0; d < 20; ++d)
        for (int s = 0; s < 3; ++s)
            tree.File("d" + std::to_string(d) + "/s" + std::to_string(s) + "/f", 100);
    tree.File("top", 7);

    const rlim_t now = limit.resource == RLIMIT_AS
                           ? static_cast<rlim_t>(StatusField("/proc/self/status", "VmSize:")) * 1024
                           : ThreadsOfThisUser();
    rlimit old{};
    ASSERT_EQ(getrlimit(limit.resource, &old), 0);
    const rlimit tight{now + limit.beyondNow, old.rlim_max};
    ASSERT_EQ(setrlimit(limit.resource, &tight), 0);
    std::string root;
    std::shared_ptr<FileSystem> fs = Shaped(share, tree, root);
    ResultsTable table;
    const std::vector<std::string> rows = fakes::SearchRows(table, std::move(fs), root, 0);
    setrlimit(limit.resource, &old);
    ASSERT_EQ(rows.size(), 22u);
    EXPECT_EQ(rows.back(), "22 " + root + "/合計 6007");
}

constexpr rlim_t kMegabyte = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Limits, WalkUnderLimits,
    ::testing::Combine(
        ::testing::Values(Limit{"NoThreadAtAll", RLIMIT_NPROC, 0, true}, Limit{"OneThread", RLIMIT_NPROC, 1, true},
                          // Room for the cores' workers, not for a share's many.
                          Limit{"FourteenThreads", RLIMIT_NPROC, 14, true},
                          // Room for the run's own thread, not for a worker's stack beside it.
                          Limit{"SixMegabytes", RLIMIT_AS, 6 * kMegabyte, false},
                          Limit{"TwelveMegabytes", RLIMIT_AS, 12 * kMegabyte, false},
                          Limit{"HundredMegabytes", RLIMIT_AS, 100 * kMegabyte, false}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "OnAShare" : "OnTheDisk");
    });

}  // namespace
}  // namespace murako
