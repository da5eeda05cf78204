#pragma once
// Tests that change what the whole process sees (its open-file limit, its stack, its mounts, its user) run
// again in a child: the parent builds the tree and starts the same test in a new process, which finds
// MURAKO_CHILD_TREE set to the tree's root and does the walking.

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace murako::fakes {

inline constexpr const char* kChildTree = "MURAKO_CHILD_TREE";

struct ChildSetting {
    std::string tree;        // the tree's root; "" lets the child make its own
    rlim_t fileLimit = 0;    // the child's open-file limit; 0 keeps the parent's
    rlim_t stackLimit = 0;   // the child's stack, and with it every thread's it starts; 0 keeps the parent's
    bool ownMounts = false;  // the child's mounts vanish with it, whatever happens to the test
    bool asNobody = false;   // permission bits do not stop root
};

// Runs the current test in a child process and expects it to pass; false when the child could not be set
// up so (its own mounts need privileges; the user nobody may be missing or unable to run this program).
inline bool PassesInChild(const ChildSetting& setting)
{
    constexpr int kCannotSetUp = 77;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    const std::string variable = std::string(kChildTree) + "=" + setting.tree;
    std::vector<char*> environment;
    if (!setting.tree.empty())
        environment.push_back(const_cast<char*>(variable.c_str()));
    for (char** entry = environ; *entry; ++entry)
        environment.push_back(*entry);
    environment.push_back(nullptr);
    // Read before the child gives up root: its /proc entries then belong to root.
    std::string self(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    EXPECT_GT(length, 0);
    self.resize(static_cast<size_t>(std::max<ssize_t>(length, 0)));
    char* const arguments[] = {self.data(), const_cast<char*>(filter.c_str()), nullptr};
    const passwd* nobody = setting.asNobody ? getpwnam("nobody") : nullptr;
    if (setting.asNobody && !nobody)
        return false;

    const pid_t child = fork();
    if (child == 0) {
        // Only the standard streams, as a program started from a shell has: its file limit means the same.
        close_range(3, ~0U, 0);
        if (setting.ownMounts && (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0))
            _exit(kCannotSetUp);
        const struct rlimit limit{setting.fileLimit, setting.fileLimit};  // as "ulimit -n" sets it
        if (setting.fileLimit && setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(126);
        const struct rlimit stack{setting.stackLimit, setting.stackLimit};
        if (setting.stackLimit && setrlimit(RLIMIT_STACK, &stack) != 0)
            _exit(126);
        if (nobody && (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
            _exit(kCannotSetUp);
        execve(arguments[0], arguments, environment.data());
        _exit(nobody ? kCannotSetUp : 127);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotSetUp)
        return false;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed: its output is above";
    return true;
}

// Set in the child started by PassesInChild: the tree's root.
inline const char* ChildTree()
{
    return std::getenv(kChildTree);
}

// The descriptors this process holds open.
inline size_t OpenDescriptors()
{
    DIR* listing = opendir("/proc/self/fd");
    size_t count = 0;
    while (const dirent* entry = readdir(listing))
        count += entry->d_name[0] != '.';
    closedir(listing);
    return count - 1;  // the listing's own
}

}  // namespace murako::fakes
