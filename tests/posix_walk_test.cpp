#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "posix_file_system.h"
#include "fake_run.h"
#include "headless_run.h"
#include "search_run.h"
#include "walker.h"

namespace murako {
namespace {

std::vector<std::string> NamesIn(int fd)
{
    std::vector<std::string> names;
    DIR* listing = fdopendir(dup(fd));
    while (dirent* entry = readdir(listing))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            names.push_back(entry->d_name);
    closedir(listing);
    return names;
}

// Removes a tree of any depth with two handles at most: subdirectories are hoisted up before removal,
// because remove_all fails past PATH_MAX.
void RemoveTree(const std::string& path)
{
    const int top = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(top, 0);
    int hoisted = 0;
    bool again = true;
    while (again) {
        again = false;
        for (const std::string& name : NamesIn(top)) {
            struct stat status;
            fstatat(top, name.c_str(), &status, AT_SYMLINK_NOFOLLOW);
            if (!S_ISDIR(status.st_mode)) {
                unlinkat(top, name.c_str(), 0);
                continue;
            }
            fchmodat(top, name.c_str(), 0755, 0);
            const int dir = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY);
            for (const std::string& innerName : NamesIn(dir)) {
                if (unlinkat(dir, innerName.c_str(), 0) != 0) {
                    renameat(dir, innerName.c_str(), top, ("hoisted" + std::to_string(hoisted++)).c_str());
                    again = true;
                }
            }
            close(dir);
            unlinkat(top, name.c_str(), AT_REMOVEDIR);
        }
    }
    close(top);
    rmdir(path.c_str());
}

// Permission bits do not stop root, so as root the current test runs again in a child process that has
// become the user nobody, and the child's verdict is the test's.
void RerunAsNobody()
{
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "running as root, and there is no user nobody to check permissions as";
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    // Read before the child gives up root: its /proc entries then belong to root.
    std::string self(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    ASSERT_GT(length, 0);
    self.resize(static_cast<size_t>(length));
    constexpr int kCannotRun = 77;
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(kCannotRun);
        execl(self.c_str(), self.c_str(), filter.c_str(), static_cast<char*>(nullptr));
        _exit(kCannotRun);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotRun)
        GTEST_SKIP() << "running as root, and nobody cannot run " << self << " (a directory closed to others?)";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed as nobody: see the child's output above";
}

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

class PosixWalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/murako-walk-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { RemoveTree(root); }

    std::string Path(const std::string& relative) const { return root + "/" + relative; }
    void MakeDir(const std::string& relative) const { ASSERT_EQ(mkdir(Path(relative).c_str(), 0755), 0); }
    void MakeFile(const std::string& relative, off_t length) const
    {
        const int fd = open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, length), 0);
        close(fd);
    }

    int64_t Sum(const std::string& relative)
    {
        const WalkContext context{host, searching};
        ReadFailure failure = ReadFailure::None;
        return SumDirectory(fs->Open(Path(relative), failure), context);
    }

    // Every row of a search over relative, in bytes, walked with the given thread count.
    std::vector<std::string> Search(const std::string& relative, int threads)
    {
        return fakes::SearchRows(grid, fs, Path(relative), threads);
    }

    std::string root;
    std::shared_ptr<PosixFileSystem> fs = std::make_shared<PosixFileSystem>();
    QueueHost host;
    std::atomic<bool> searching{true};
    ResultsTable grid;
};

TEST_F(PosixWalkTest, SumsFilesOfEveryKindAtEveryDepth)
{
    MakeDir("empty");
    EXPECT_EQ(Sum("empty"), 0);
    EXPECT_EQ(Sum("missing"), 0);

    MakeDir("t");
    MakeFile("t/a", 100);
    MakeFile("t/.hidden", 7);
    ASSERT_EQ(chmod(Path("t/a").c_str(), 0444), 0);
    MakeDir("t/s");
    MakeFile("t/s/b", 50);
    MakeDir("t/s/.dot");
    MakeFile("t/s/.dot/c", 25);
    EXPECT_EQ(Sum("t"), 182);
}

TEST_F(PosixWalkTest, LinksCountTheirOwnLengthAndAreNeverFollowed)
{
    MakeDir("l");
    MakeFile("l/file", 10);
    ASSERT_EQ(symlink("..", Path("l/up").c_str()), 0);          // a loop if followed
    ASSERT_EQ(symlink("/usr", Path("l/usr").c_str()), 0);       // a large tree if followed
    ASSERT_EQ(symlink("nowhere", Path("l/dangling").c_str()), 0);
    EXPECT_EQ(Sum("l"), 10 + 2 + 4 + 7);
}

TEST_F(PosixWalkTest, SparseFilesCountTheirWholeLength)
{
    MakeDir("s");
    MakeFile("s/sparse", off_t{5} << 30);
    EXPECT_EQ(Sum("s"), int64_t{5} << 30);
}

TEST_F(PosixWalkTest, NamesThatAreNotUtf8AreCountedAndShownWithReplacements)
{
    MakeDir("n");
    MakeDir("n/caf\xE9");
    MakeFile("n/caf\xE9/f", 3);
    MakeFile("n/\xFF\xFE", 4);
    EXPECT_EQ(Search("n", 1), (std::vector<std::string>{"1 [Root Files] 4", "2 caf\uFFFD 3",
                                                         "3 " + Path("n/") + "合計 7"}));
    EXPECT_EQ(DisplayName("ok 日本 \xE6\x97"), "ok 日本 \uFFFD\uFFFD");
    EXPECT_EQ(DisplayName("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD") << "encoded surrogates are invalid";
}

TEST_F(PosixWalkTest, AsAnOrdinaryUserUnreadableAndVanishedDirectoriesCountZeroAndAreMarked)
{
    if (geteuid() == 0) {
        RerunAsNobody();
        return;
    }
    MakeDir("t");
    MakeFile("t/own", 1);
    MakeDir("t/open");
    MakeFile("t/open/f", 10);
    MakeDir("t/open/sealed");
    MakeFile("t/open/sealed/hidden", 5);
    ASSERT_EQ(chmod(Path("t/open/sealed").c_str(), 0), 0);
    MakeDir("t/noexec");
    MakeFile("t/noexec/nf", 7);
    MakeDir("t/noexec/ns");
    ASSERT_EQ(chmod(Path("t/noexec").c_str(), 0644), 0);  // listable, but nothing in it can be reached
    MakeDir("t/gone");
    MakeDir("t/fine");
    MakeFile("t/fine/g", 3);

    const std::string t = Path("t");
    const std::vector<std::string> kept{
        "fine 3",
        "noexec 0 unread 2: " + t + "/noexec アクセス権がありません, " + t + "/noexec/ns アクセス権がありません,",
        "open 10 unread 1: " + t + "/open/sealed アクセス権がありません,"};
    {
        // One thread, so that the removal falls between the base's listing and the walk of "gone".
        fakes::ScriptedHost host;
        host.atYield[1] = [&] { ASSERT_EQ(rmdir(Path("t/gone").c_str()), 0); };
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
    MakeDir("chain");
    int fd = open(Path("chain").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(mkdirat(fd, "level", 0755), 0);
        const int next = openat(fd, "level", O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        const int file = openat(fd, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(ftruncate(file, 2), 0);
        close(file);
    }
    close(fd);
    // Far fewer handles than levels must do.
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(Sum("chain"), 2 * kDepth);
    EXPECT_EQ(Search("chain", 2), (std::vector<std::string>{"1 [Root Files] 0", "2 level " + std::to_string(2 * kDepth),
                                                             "3 " + Path("chain/") + "合計 " + std::to_string(2 * kDepth)}));
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(PosixWalkTest, EveryOneOfFortyThousandSubdirectoriesGetsItsRow)
{
    constexpr int kCount = 40000;
    MakeDir("wide");
    const int fd = open(Path("wide").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kCount; ++i) {
        const std::string name = std::to_string(i);
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    }
    close(fd);
    MakeFile("wide/39999/f", 9);
    for (int threads : {1, 2}) {
        const std::vector<std::string> rows = Search("wide", threads);
        ASSERT_EQ(rows.size(), kCount + 2u);
        EXPECT_EQ(rows.back(), std::to_string(kCount + 2) + " " + Path("wide/") + "合計 9");
        EXPECT_EQ(grid.Rows(), kCount + 3);
    }
}

TEST_F(PosixWalkTest, ParallelAndSerialSearchesAgreeOnALargeDirectory)
{
    MakeDir("big");
    MakeDir("big/sub");
    int64_t expected = 0;
    for (int i = 0; i < 3000; ++i) {
        MakeFile("big/f" + std::to_string(i), i * 3);
        expected += i * 3;
    }
    const std::vector<std::string> serial = Search("big", 1);
    EXPECT_EQ(serial.front(), "1 [Root Files] " + std::to_string(expected));
    EXPECT_EQ(Search("big", 2), serial);
}

}  // namespace
}  // namespace murako
