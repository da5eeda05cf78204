#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "posix_file_system.h"
#include "fake_run.h"
#include "temp_tree.h"
#include "headless_run.h"
#include "search_run.h"
#include "walker.h"

namespace murako {
namespace {

using fakes::TempTree;

// "name bytes" for every row, and " unread N: path why, ..." after those with places that could not be read.
class MarkedRows {
public:
    void Watch(SearchController::Options& options)
    {
        options.rowWritten = [this](int32_t row, const std::string& name, int64_t bytes) {
            rows_[row] = name + " " + std::to_string(bytes);
        };
        options.rowUnread = [this](int32_t row, const UnreadPlaces& unread) {
            if (unread.count == 0)
                return;
            std::string& text = rows_[row];
            text += " unread " + std::to_string(unread.count) + ":";
            for (const UnreadPlaces::Place& place : unread.first)
                text += " " + place.path + " " + FailureText(place.failure) + ",";
        };
    }
    // Sorted, since subdirectories come in the file system's order.
    std::vector<std::string> Sorted() const
    {
        std::vector<std::string> texts;
        for (const auto& [row, text] : rows_)
            texts.push_back(text);
        std::sort(texts.begin(), texts.end());
        return texts;
    }

private:
    std::map<int32_t, std::string> rows_;
};


// A directory chain below parentFd, each level holding a file of fileLength bytes.
void MakeChain(int parentFd, int depth, off_t fileLength)
{
    int level = dup(parentFd);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(level, "level", 0755), 0);
        const int next = openat(level, "level", O_RDONLY | O_DIRECTORY);
        close(level);
        level = next;
        const int file = openat(level, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(ftruncate(file, fileLength), 0);
        close(file);
    }
    close(level);
}

// Tests that change what the whole process sees (its open-file limit, its mounts, its user) run again in a
// child: the parent builds the tree and starts the same test in a new process, which finds this variable
// set to the tree's root and does the walking.
constexpr const char* kChildTree = "MURAKO_CHILD_TREE";

struct ChildSetting {
    std::string tree;        // the tree's root; "" lets the child make its own
    rlim_t fileLimit = 0;    // the child's open-file limit; 0 keeps the parent's
    bool ownMounts = false;  // the child's mounts vanish with it, whatever happens to the test
    bool asNobody = false;   // permission bits do not stop root
};

// Runs the current test in a child process and expects it to pass; false when the child could not be set
// up so (its own mounts need privileges; the user nobody may be missing or unable to run this program).
bool PassesInChild(const ChildSetting& setting)
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
        if (setting.ownMounts && (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0))
            _exit(kCannotSetUp);
        const struct rlimit limit{setting.fileLimit, setting.fileLimit};  // as "ulimit -n" sets it
        if (setting.fileLimit && setrlimit(RLIMIT_NOFILE, &limit) != 0)
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
const char* ChildTree()
{
    return std::getenv(kChildTree);
}

class PosixWalkTest : public ::testing::Test {
protected:
    int64_t Sum(const std::string& relative)
    {
        const WalkContext context{host, searching};
        ReadFailure failure = ReadFailure::None;
        return SumDirectory(fs->Open(tree.Path(relative), failure), context);
    }

    // Every row of a search over relative, in bytes, walked with the given thread count.
    std::vector<std::string> Search(const std::string& relative, int threads)
    {
        return fakes::SearchRows(grid, fs, tree.Path(relative), threads);
    }

    TempTree tree{ChildTree()};
    std::shared_ptr<PosixFileSystem> fs = std::make_shared<PosixFileSystem>();
    QueueHost host;
    std::atomic<bool> searching{true};
    ResultsTable grid;
};

TEST_F(PosixWalkTest, SumsFilesOfEveryKindAtEveryDepth)
{
    tree.Dir("empty");
    EXPECT_EQ(Sum("empty"), 0);
    EXPECT_EQ(Sum("missing"), 0);

    tree.Dir("t");
    tree.File("t/a", 100);
    tree.File("t/.hidden", 7);
    ASSERT_EQ(chmod(tree.Path("t/a").c_str(), 0444), 0);
    tree.Dir("t/s");
    tree.File("t/s/b", 50);
    tree.Dir("t/s/.dot");
    tree.File("t/s/.dot/c", 25);
    EXPECT_EQ(Sum("t"), 182);
}

TEST_F(PosixWalkTest, LinksCountTheirOwnLengthAndAreNeverFollowed)
{
    tree.Dir("l");
    tree.File("l/file", 10);
    ASSERT_EQ(symlink("..", tree.Path("l/up").c_str()), 0);          // a loop if followed
    ASSERT_EQ(symlink("/usr", tree.Path("l/usr").c_str()), 0);       // a large tree if followed
    ASSERT_EQ(symlink("nowhere", tree.Path("l/dangling").c_str()), 0);
    EXPECT_EQ(Sum("l"), 10 + 2 + 4 + 7);
}

TEST_F(PosixWalkTest, SparseFilesCountTheirWholeLength)
{
    tree.Dir("s");
    tree.File("s/sparse", off_t{5} << 30);
    EXPECT_EQ(Sum("s"), int64_t{5} << 30);
}

TEST_F(PosixWalkTest, NamesThatAreNotUtf8AreCountedAndShownWithReplacements)
{
    tree.Dir("n");
    tree.Dir("n/caf\xE9");
    tree.File("n/caf\xE9/f", 3);
    tree.File("n/\xFF\xFE", 4);
    EXPECT_EQ(Search("n", 1), (std::vector<std::string>{"1 [Root Files] 4", "2 caf\uFFFD 3",
                                                         "3 " + tree.Path("n/") + "合計 7"}));
}

TEST_F(PosixWalkTest, AsAnOrdinaryUserUnreadableAndVanishedDirectoriesCountZeroAndAreMarked)
{
    if (geteuid() == 0) {
        if (!PassesInChild({.tree = {}, .asNobody = true}))
            GTEST_SKIP() << "running as root, and the user nobody is missing or cannot run this program";
        return;
    }
    tree.Dir("t");
    tree.File("t/own", 1);
    tree.Dir("t/open");
    tree.File("t/open/f", 10);
    tree.Dir("t/open/sealed");
    tree.File("t/open/sealed/hidden", 5);
    ASSERT_EQ(chmod(tree.Path("t/open/sealed").c_str(), 0), 0);
    tree.Dir("t/noexec");
    tree.File("t/noexec/nf", 7);
    tree.Dir("t/noexec/ns");
    ASSERT_EQ(chmod(tree.Path("t/noexec").c_str(), 0644), 0);  // listable, but nothing in it can be reached
    tree.Dir("t/gone");
    tree.Dir("t/fine");
    tree.File("t/fine/g", 3);

    const std::string t = tree.Path("t");
    const std::vector<std::string> kept{
        "fine 3",
        "noexec 0 unread 2: " + t + "/noexec アクセス権がありません, " + t + "/noexec/ns アクセス権がありません,",
        "open 10 unread 1: " + t + "/open/sealed アクセス権がありません,"};
    {
        // One thread, so that the removal falls between the base's listing and the walk of "gone".
        fakes::ScriptedHost host;
        host.atYield[1] = [&] { ASSERT_EQ(rmdir(tree.Path("t/gone").c_str()), 0); };
        fakes::RecordingPresentation presentation;
        fakes::FixedChoices choices;
        choices.path = t;
        MarkedRows rows;
        SearchController::Options options;
        options.threads = 1;
        options.inlineWorker = true;
        rows.Watch(options);
        SearchController run(grid, presentation, choices, fs, host, options);
        run.Command1_Click();
        std::vector<std::string> expected = kept;
        expected.push_back("[Root Files] 1");
        expected.push_back("gone 0 unread 1: " + t + "/gone 検索中に削除されました,");
        expected.push_back(t + "/合計 14 unread 4: " + t + "/gone 検索中に削除されました, " + t +
                           "/noexec アクセス権がありません, " + t + "/noexec/ns アクセス権がありません, " + t +
                           "/open/sealed アクセス権がありません,");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rows.Sorted(), expected);
        EXPECT_NE(presentation.progress.back().find("　読み取れなかったディレクトリ: 4"), std::string::npos);
    }
    {
        MarkedRows rows;
        SearchController::Options options;
        options.threads = 2;
        rows.Watch(options);
        SearchWithoutWindow(grid, fs, t, options);
        std::vector<std::string> expected = kept;
        expected.push_back("[Root Files] 1");
        expected.push_back(t + "/合計 14 unread 3: " + t + "/noexec アクセス権がありません, " + t +
                           "/noexec/ns アクセス権がありません, " + t + "/open/sealed アクセス権がありません,");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rows.Sorted(), expected) << "threaded";
    }
}

TEST_F(PosixWalkTest, PseudoFileSystemsAreNotEntered)
{
    EXPECT_TRUE(IsPseudoFileSystem(0x9fa0));
    EXPECT_FALSE(IsPseudoFileSystem(0xef53)) << "ext4";
    EXPECT_FALSE(IsPseudoFileSystem(0)) << "an entry without a magic of its own matches none";
    EXPECT_TRUE(IsPseudoFileSystemType("nsfs"));
    EXPECT_TRUE(IsPseudoFileSystemType("devtmpfs"));
    EXPECT_FALSE(IsPseudoFileSystemType("tmpfs"));
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> top = fs->Open("/", failure);
    ASSERT_NE(top, nullptr);
    std::unique_ptr<Directory> proc = top->OpenSubdirectory("proc", failure);
    if (!proc)
        GTEST_SKIP() << "no /proc here";
    std::string_view name;
    EXPECT_FALSE(proc->NextName(name));
}

TEST_F(PosixWalkTest, AChainFarPastPathMaxIsMeasuredExactly)
{
    constexpr int kDepth = 20000;
    tree.Dir("chain");
    const int fd = open(tree.Path("chain").c_str(), O_RDONLY | O_DIRECTORY);
    MakeChain(fd, kDepth, 2);
    close(fd);
    // Far fewer handles than levels must do; the file system takes its share of the limit when it is made.
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &limit);
    fs = std::make_shared<PosixFileSystem>();
    EXPECT_EQ(Sum("chain"), 2 * kDepth);
    EXPECT_EQ(Search("chain", 2), (std::vector<std::string>{"1 [Root Files] 0", "2 level " + std::to_string(2 * kDepth),
                                                             "3 " + tree.Path("chain/") + "合計 " + std::to_string(2 * kDepth)}));
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(PosixWalkTest, ADirectoryWhosePathIsLongerThanPathMaxIsOpenedAndSearched)
{
    const std::string deep = tree.Chain("long", 24, std::string(200, 'd'), 3);
    ASSERT_GT(deep.size(), size_t{PATH_MAX});
    const int fd = OpenDirectoryByPath(deep);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(mkdirat(fd, "sub", 0755), 0);
    close(fd);

    EXPECT_LT(OpenDirectoryByPath(deep + "/missing"), 0);
    EXPECT_LT(OpenDirectoryByPath(deep + "/" + std::string(300, 'x')), 0) << "a name longer than NAME_MAX";
    for (int threads : {1, 0})
        EXPECT_EQ(Search(deep.substr(tree.Root().size() + 1), threads),
                  (std::vector<std::string>{"1 [Root Files] 3", "2 sub 0", "3 " + deep + "/合計 3"}))
            << threads << " threads";
}

TEST_F(PosixWalkTest, EveryOneOfFortyThousandSubdirectoriesGetsItsRow)
{
    constexpr int kCount = 40000;
    tree.Dir("wide");
    const int fd = open(tree.Path("wide").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kCount; ++i) {
        const std::string name = std::to_string(i);
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    }
    close(fd);
    tree.File("wide/39999/f", 9);
    for (int threads : {1, 2}) {
        const std::vector<std::string> rows = Search("wide", threads);
        ASSERT_EQ(rows.size(), kCount + 2u);
        EXPECT_EQ(rows.back(), std::to_string(kCount + 2) + " " + tree.Path("wide/") + "合計 9");
        EXPECT_EQ(grid.Rows(), kCount + 3);
    }
}

TEST_F(PosixWalkTest, ParallelAndSerialSearchesAgreeOnALargeDirectory)
{
    tree.Dir("big");
    tree.Dir("big/sub");
    int64_t expected = 0;
    for (int i = 0; i < 3000; ++i) {
        tree.File("big/f" + std::to_string(i), i * 3);
        expected += i * 3;
    }
    const std::vector<std::string> serial = Search("big", 1);
    EXPECT_EQ(serial.front(), "1 [Root Files] " + std::to_string(expected));
    EXPECT_EQ(Search("big", 2), serial);
}


// Each level holds two directories: the one the file system lists first goes on to the next level, the
// other holds a 1-byte file. A walk that keeps a level open until all its subdirectories are opened holds
// one handle per level.
void MakeComb(int parentFd, int depth)
{
    int level = dup(parentFd);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(level, "a", 0755), 0);
        ASSERT_EQ(mkdirat(level, "b", 0755), 0);
        const std::vector<std::string> names = fakes::NamesIn(level);
        ASSERT_EQ(names.size(), 2u);
        const int side = openat(level, names[1].c_str(), O_RDONLY | O_DIRECTORY);
        const int file = openat(side, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(ftruncate(file, 1), 0);
        close(file);
        close(side);
        const int next = openat(level, names[0].c_str(), O_RDONLY | O_DIRECTORY);
        close(level);
        level = next;
    }
    close(level);
}

// Combs and a chain far deeper than the handles allowed: a handle lost to the limit would leave a subtree
// out, differently from run to run.
TEST_F(PosixWalkTest, ShapesDeeperThanTheOpenFileLimitAreMeasuredExactlyInEveryMode)
{
    const std::vector<std::pair<std::string, int>> combs{{"comb300", 300}, {"comb1000", 1000}};
    if (!ChildTree()) {
        const int top = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
        for (const auto& [name, depth] : combs) {
            ASSERT_EQ(mkdirat(top, name.c_str(), 0755), 0);
            const int comb = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY);
            MakeComb(comb, depth);
            close(comb);
        }
        ASSERT_EQ(mkdirat(top, "chain", 0755), 0);
        const int chain = openat(top, "chain", O_RDONLY | O_DIRECTORY);
        MakeChain(chain, 5000, 1);
        close(chain);
        close(top);
        PassesInChild({.tree = tree.Root(), .fileLimit = 64});
        return;
    }
    auto expectExactEverywhere = [&](const std::string& name, int bytes) {
        const std::vector<std::string> first = Search(name, 1);
        ASSERT_EQ(first.size(), 3u + (name == "chain" ? 0 : 1)) << name;
        EXPECT_EQ(first.back(), std::to_string(first.size()) + " " + tree.Path(name + "/") + "合計 " + std::to_string(bytes));
        for (int threads : {1, 0})
            for (int repeat = 0; repeat < 2; ++repeat)
                EXPECT_EQ(Search(name, threads), first) << name << ", " << threads << " threads";
    };
    for (const auto& [name, depth] : combs)
        expectExactEverywhere(name, depth);
    expectExactEverywhere("chain", 5000);
    EXPECT_EQ(Sum("comb1000"), 1000);
}

// A directory whose handle was given up is reopened by its way from the nearest handle still held, and only
// if what is found there is the directory met before.
TEST_F(PosixWalkTest, AReopenedDirectoryMustBeTheOneMetBefore)
{
    if (!ChildTree()) {
        tree.File("a/b1/c/f", 1);
        tree.File("a/b2/c/f", 1);
        tree.File("x/b2/impostor", 1);
        for (int i = 0; i < 40; ++i)
            tree.Dir("others/" + std::to_string(i));
        PassesInChild({.tree = tree.Root(), .fileLimit = 64});
        return;
    }
    auto names = [](Directory& dir) {
        std::vector<std::string> listed;
        for (std::string_view name; dir.NextName(name);)
            if (name != "." && name != "..")
                listed.emplace_back(name);
        return listed;
    };
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> root = fs->Open(tree.Root(), failure);
    std::unique_ptr<Directory> a = root->OpenSubdirectory("a", failure);
    std::unique_ptr<Directory> b1 = a->OpenSubdirectory("b1", failure);
    std::unique_ptr<Directory> b2 = a->OpenSubdirectory("b2", failure);
    a.reset();
    // More directories than the handles allowed at a limit of 64 push out those of b1 and b2.
    std::unique_ptr<Directory> others = root->OpenSubdirectory("others", failure);
    std::vector<std::unique_ptr<Directory>> opened;
    for (int i = 0; i < 40; ++i)
        opened.push_back(others->OpenSubdirectory(std::to_string(i), failure));
    EXPECT_EQ(names(*b1), std::vector<std::string>{"c"});
    ASSERT_EQ(rename(tree.Path("a").c_str(), tree.Path("gone").c_str()), 0);
    ASSERT_EQ(rename(tree.Path("x").c_str(), tree.Path("a").c_str()), 0);
    EXPECT_EQ(names(*b2), std::vector<std::string>{});
    EXPECT_EQ(b2->ListingFailure(), ReadFailure::Vanished);
}

// A directory mounted inside its own tree would be walked again and again: it is a loop, not entered.
TEST_F(PosixWalkTest, ADirectoryMountedInsideItsOwnTreeIsALoopAndCountsNothing)
{
    if (!ChildTree()) {
        tree.Dir("loop");
        tree.File("loop/one", 1);
        tree.Dir("loop/a");
        tree.File("loop/a/ten", 10);
        tree.Dir("loop/a/b");
        tree.Dir("nested");
        tree.File("nested/one", 1);
        for (int i = 1; i <= 4; ++i)
            tree.Dir("nested/m" + std::to_string(i));
        if (!PassesInChild({.tree = tree.Root(), .ownMounts = true}))
            GTEST_SKIP() << "bind mounts need privileges this test does not have";
        return;
    }
    ASSERT_EQ(mount(tree.Path("loop").c_str(), tree.Path("loop/a/b").c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
    // Each nested recursive bind copies every mount before it: unchecked, the file would count 2^4 times.
    for (int i = 1; i <= 4; ++i)
        ASSERT_EQ(mount(tree.Path("nested").c_str(), tree.Path("nested/m" + std::to_string(i)).c_str(), nullptr, MS_BIND | MS_REC,
                        nullptr),
                  0);
    for (int threads : {1, 2}) {
        EXPECT_EQ(Search("loop", threads), (std::vector<std::string>{"1 [Root Files] 1", "2 a 10",
                                                                      "3 " + tree.Path("loop/") + "合計 11"}));
        const std::vector<std::string> nested = Search("nested", threads);
        EXPECT_EQ(nested.back(), "6 " + tree.Path("nested/") + "合計 1");
    }
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> loop = fs->Open(tree.Path("loop"), failure);
    EXPECT_EQ(loop->OpenSubdirectory("a", failure)->OpenSubdirectory("b", failure), nullptr);
    EXPECT_EQ(failure, ReadFailure::Loop);
    failure = ReadFailure::None;
    EXPECT_NE(fs->Open(tree.Path("loop/a"), failure)->OpenSubdirectory("b", failure), nullptr)
        << "opened below a, b is not inside itself";
}

}  // namespace
}  // namespace murako
