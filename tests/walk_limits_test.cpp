// A walk under a limit on threads or on address space goes on with the threads the process can make.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
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

class WalkUnderLimits : public ::testing::TestWithParam<Limit> {};

TEST_P(WalkUnderLimits, TheWalkGoesOnWithTheThreadsItCanMakeAndCountsEverything)
{
    const Limit& limit = GetParam();
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
    ResultsTable table;
    const std::vector<std::string> rows = fakes::SearchRows(table, MakeLocalFileSystem(), tree.Root(), 0);
    setrlimit(limit.resource, &old);
    ASSERT_EQ(rows.size(), 22u);
    EXPECT_EQ(rows.back(), "22 " + tree.Root() + "/合計 6007");
}

constexpr rlim_t kMegabyte = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Limits, WalkUnderLimits,
    ::testing::Values(Limit{"NoThreadAtAll", RLIMIT_NPROC, 0, true}, Limit{"OneThread", RLIMIT_NPROC, 1, true},
                      // Room for the run's own thread, not for a worker's stack beside it.
                      Limit{"SixMegabytes", RLIMIT_AS, 6 * kMegabyte, false},
                      Limit{"TwelveMegabytes", RLIMIT_AS, 12 * kMegabyte, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace murako
